// A set of worker threads owned by one whole-image job (or one tile run on its own), kept for the
// job's life so that the passes of every tile share them instead of starting threads afresh: a
// thread start costs about a millisecond where threads are slow to start (Wine), and a tile runs
// a few dozen parallel steps.
//
// The pool belongs to the thread that created it: only that thread calls Run, and the job ends it
// before returning, so no thread outlives the call (the host may unload the module afterwards).
// Threads come from the platform seam; a pool whose threads could not all be started just has
// fewer of them, and with none at all Run does everything on the calling thread. Idle workers
// sleep on the platform's wait lock, made before the first thread starts (none starts when it
// cannot be), and a worker whose thread cannot have what the runtime needs ends before any work.
#pragma once

#include "engine/Platform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class WorkerPool
{
public:
    enum : int
    {
        kMaxWorkers = 15  // with the calling thread, 16 threads: what a plane pass uses at most
    };

    // Starts up to iWorkers threads (clamped to 0..kMaxWorkers).
    explicit WorkerPool(int iWorkers);
    ~WorkerPool();  // wakes the workers, makes them end and joins them
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int Workers() const { return m_iWorkers; }

    // The threads a step may use: the workers plus the calling thread, at most the limit set
    // here (a CPU tile side that shares the machine with the GPU side gives one processor up
    // until the GPU side has left). 0 or less lifts the limit.
    void LimitThreads(int iThreads) { m_iThreadLimit = iThreads; }
    int Threads() const
    {
        const int iAll = m_iWorkers + 1;
        return m_iThreadLimit > 0 && m_iThreadLimit < iAll ? m_iThreadLimit : iAll;
    }

    // True when a part of some Run since the last call ended by an exception (its share of the
    // step was then not done); clears the mark. A tile asks after its steps and, when set,
    // gives up its result: no exception ever leaves a part, on a worker or on the caller.
    bool TakeFailure() { return m_bPartFailed.exchange(false); }

    // A work block of at least uBytes (contents undefined) that the pool keeps for the next use
    // of the same slot, by this tile or the next: the large planes of a step are then not
    // allocated, faulted in and freed again for every channel of every tile. Null when memory ran
    // out. Calling thread only; the block lives until the slot is asked for more or the pool ends.
    enum : int
    {
        kScratchSlots = 4  // 0, 1: the blur's planes; 2: the pyramid's levels; 3: its filter rows
    };
    void* Scratch(int iSlot, size_t uBytes);

    // The same for the part iIndex of a Run (0 .. Workers()), asked for by whichever thread runs
    // that part: a plane pass keeps each thread's working memory here from pass to pass.
    void* PartScratch(int iIndex, size_t uBytes);

    // Runs pfn(pContext, i) once for every i = 0 .. iParticipants - 1 and returns when all have
    // returned: i = 0 on the calling thread, the others on the workers that wake up in time; the
    // calling thread runs, after its own, the indices no worker has taken. So tasks should share
    // their work dynamically (a task may find nothing left to do). iParticipants is clamped to
    // 1 .. Threads(). A part that throws is ended there and marks the pool (TakeFailure); the
    // other parts still run and Run returns as usual. A call made while the pool is already
    // running (from inside a task) runs every index on the calling thread, one after the other.
    void Run(void (*pfn)(void* pContext, int iIndex), void* pContext, int iParticipants);

private:
    static unsigned int WorkerMain(void* pArg);
    void WorkerLoop(int iIndex);
    void TakeIndices(uint32_t uGeneration, bool bCaller);
    void RunPart(void (*pfn)(void*, int), void* pContext, int iIndex);

    struct Slot
    {
        WorkerPool* pPool;
        int iIndex;  // 1 .. m_iWorkers
    };

    // The current job, changed as one: generation (bits 32..63), index count (16..31) and the
    // next index to take (0..15).
    std::atomic<uint64_t> m_uJob{0};
    std::atomic<void (*)(void*, int)> m_pfn{nullptr};
    std::atomic<void*> m_pContext{nullptr};
    std::atomic<int> m_iRunning{0};   // workers inside a claim or a task of the current job
    std::atomic<int> m_iSleepers{0};  // workers asleep on m_wait
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bBusy{false};  // a Run is in progress
    std::atomic<bool> m_bPartFailed{false};
    int m_iThreadLimit = 0;
    PlatformWaitLock m_wait;  // only for blocking and waking idle workers
    int m_iWorkers = 0;
    PlatformThread* m_apThreads[kMaxWorkers] = {};
    void* m_apScratch[kScratchSlots] = {};
    size_t m_auScratchBytes[kScratchSlots] = {};
    void* m_apPartScratch[kMaxWorkers + 1] = {};
    size_t m_auPartScratchBytes[kMaxWorkers + 1] = {};
    Slot m_aSlots[kMaxWorkers] = {};
};

// Splits rows 0 .. iCount - 1 into chunks (whole multiples of iGrain rows except the last) and
// runs pfn(pContext, begin, end) on each, on at most iThreads of the pool's threads, which take
// the chunks as they come free. Without a pool, or
// with one thread, pfn runs once over all rows on the calling thread. Row functions write disjoint
// rows, so the result is the same for any split.
void ParallelRows(WorkerPool* pPool, int iCount, int iThreads, int iGrain,
                  void (*pfn)(void* pContext, int iBegin, int iEnd), void* pContext);

// A pool whose workers with the calling thread make iThreads threads: null for one thread or
// fewer, and when the pool itself cannot be had (the steps then run on the calling thread alone).
std::unique_ptr<WorkerPool> MakeWorkerPool(int iThreads);

// The threads a pool can bring to a step: its workers plus the calling thread, within the
// pool's limit (1 without a pool).
inline int PoolThreads(const WorkerPool* pPool) { return pPool != nullptr ? pPool->Threads() : 1; }
