#include "engine/WorkerPool.h"

#include "engine/Platform.h"

#include <atomic>
#include <cassert>
#include <cstdlib>
#include <new>
#include <thread>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_IX86)
#include <emmintrin.h>
#endif

#ifdef __MINGW32__
#include <pthread.h>
#endif

WorkerPool::WorkerPool(int iWorkers)
{
    if (iWorkers > kMaxWorkers) iWorkers = kMaxWorkers;
    if (iWorkers > 0 && !m_wait.Usable()) return;  // no thread: Run does every part on the calling thread
    for (int i = 0; i < iWorkers; ++i)
    {
        // Slots are numbered by the threads actually running, so a refused start leaves no gap.
        Slot& slot = m_aSlots[m_iWorkers];
        slot.pPool = this;
        slot.iIndex = m_iWorkers + 1;
        PlatformThread* pThread = PlatformStartThread(&WorkerPool::WorkerMain, &slot);
        if (pThread == nullptr) continue;
        m_apThreads[m_iWorkers++] = pThread;
    }
}

WorkerPool::~WorkerPool()
{
    if (m_iWorkers > 0)
    {
        m_wait.Lock();
        m_bStop.store(true, std::memory_order_seq_cst);
        m_wait.Unlock();
        m_wait.WakeAll();
    }
    for (int i = 0; i < m_iWorkers; ++i)
    {
        PlatformJoinThread(m_apThreads[i], kPlatformWaitForever);
        PlatformCloseThread(m_apThreads[i]);
        m_apThreads[i] = nullptr;
    }
    for (int i = 0; i < kScratchSlots; ++i) std::free(m_apScratch[i]);
    for (int i = 0; i <= kMaxWorkers; ++i) std::free(m_apPartScratch[i]);
}

void* WorkerPool::Scratch(int iSlot, size_t uBytes)
{
    if (iSlot < 0 || iSlot >= kScratchSlots) return nullptr;
    if (m_auScratchBytes[iSlot] < uBytes || m_apScratch[iSlot] == nullptr)
    {
        std::free(m_apScratch[iSlot]);
        m_apScratch[iSlot] = std::malloc(uBytes > 0 ? uBytes : 1);
        m_auScratchBytes[iSlot] = m_apScratch[iSlot] != nullptr ? uBytes : 0;
    }
    return m_apScratch[iSlot];
}

void* WorkerPool::PartScratch(int iIndex, size_t uBytes)
{
    assert(iIndex >= 0 && iIndex <= kMaxWorkers && "a part's index is 0 .. kMaxWorkers");
    if (iIndex < 0 || iIndex > kMaxWorkers) return nullptr;
    if (m_auPartScratchBytes[iIndex] < uBytes || m_apPartScratch[iIndex] == nullptr)
    {
        std::free(m_apPartScratch[iIndex]);
        m_apPartScratch[iIndex] = std::malloc(uBytes > 0 ? uBytes : 1);
        m_auPartScratchBytes[iIndex] = m_apPartScratch[iIndex] != nullptr ? uBytes : 0;
    }
    return m_apPartScratch[iIndex];
}

unsigned int WorkerPool::WorkerMain(void* pArg)
{
    Slot* pSlot = static_cast<Slot*>(pArg);
#ifdef __MINGW32__
    // winpthreads makes its record of a thread it did not start itself at the thread's first
    // wait on one of its objects (a task's lock, say), and that allocates (a wait without one
    // reads through a null pointer). Made here,
    // before any work: a worker that cannot have it ends at once and leaves its parts to the
    // calling thread.
    if (pthread_self() == 0) return 0;
#endif
    pSlot->pPool->WorkerLoop(pSlot->iIndex);
    return 0;
}

namespace
{

// Polls before a worker blocks (or the calling thread yields): the steps of a tile follow one
// another within a fraction of a millisecond, and a thread that is still polling picks the next
// step up without a system call (where the system's wake-ups are slow, Wine's in particular).
constexpr int kSpinPolls = 4000;

inline void SpinPause()
{
#if defined(__SSE2__) || defined(_M_X64) || defined(_M_IX86)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

inline uint32_t JobGeneration(uint64_t uJob) { return static_cast<uint32_t>(uJob >> 32); }

}  // namespace

// Takes index after index of the current job (generation uGeneration) and runs them; returns when
// none is left. The job's function and context are read before the claim, and the claim (a
// compare-and-swap of generation, index count and next index together) succeeds only while that
// job is still open, so what was read belongs to it: the next job's record is written only once
// every index of this one has been taken.
void WorkerPool::TakeIndices(uint32_t uGeneration, bool bCaller)
{
    for (;;)
    {
        uint64_t uJob = m_uJob.load(std::memory_order_acquire);
        if (JobGeneration(uJob) != uGeneration) return;
        const int iIndex = static_cast<int>(uJob & 0xFFFFu);
        const int iParticipants = static_cast<int>((uJob >> 16) & 0xFFFFu);
        if (iIndex >= iParticipants) return;
        void (*pfn)(void*, int) = m_pfn.load(std::memory_order_relaxed);
        void* pContext = m_pContext.load(std::memory_order_relaxed);
        if (!bCaller) m_iRunning.fetch_add(1, std::memory_order_seq_cst);
        if (m_uJob.compare_exchange_weak(uJob, uJob + 1, std::memory_order_acq_rel)) RunPart(pfn, pContext, iIndex);
        if (!bCaller) m_iRunning.fetch_sub(1, std::memory_order_release);
    }
}

// A part that throws (memory ran out inside a step) must neither end its thread nor leave the
// running count raised, or Run would wait for ever: the part ends and the pool is marked.
void WorkerPool::RunPart(void (*pfn)(void*, int), void* pContext, int iIndex)
{
    try
    {
        pfn(pContext, iIndex);
    }
    catch (...)
    {
        m_bPartFailed.store(true);
    }
}

void WorkerPool::WorkerLoop(int)
{
    uint32_t uSeen = JobGeneration(m_uJob.load(std::memory_order_acquire));
    for (;;)
    {
        uint32_t uGeneration = JobGeneration(m_uJob.load(std::memory_order_acquire));
        for (int i = 0; i < kSpinPolls && uGeneration == uSeen && !m_bStop.load(std::memory_order_relaxed); ++i)
        {
            SpinPause();
            uGeneration = JobGeneration(m_uJob.load(std::memory_order_acquire));
        }
        if (uGeneration == uSeen)
        {
            m_wait.Lock();
            m_iSleepers.fetch_add(1, std::memory_order_seq_cst);
            while (!m_bStop.load(std::memory_order_seq_cst) &&
                   JobGeneration(m_uJob.load(std::memory_order_seq_cst)) == uSeen)
                m_wait.Wait();
            m_iSleepers.fetch_sub(1, std::memory_order_seq_cst);
            m_wait.Unlock();
            uGeneration = JobGeneration(m_uJob.load(std::memory_order_acquire));
        }
        if (m_bStop.load(std::memory_order_acquire)) return;
        uSeen = uGeneration;
        TakeIndices(uGeneration, false);
    }
}

void WorkerPool::Run(void (*pfn)(void* pContext, int iIndex), void* pContext, int iParticipants)
{
    if (iParticipants > Threads()) iParticipants = Threads();
    if (iParticipants <= 1 || m_bBusy.exchange(true))
    {
        for (int i = 0; i < (iParticipants < 1 ? 1 : iParticipants); ++i) RunPart(pfn, pContext, i);
        return;
    }
    // Publish the job: its record first, then the new generation with index 0 already taken by
    // this thread.
    m_pfn.store(pfn, std::memory_order_relaxed);
    m_pContext.store(pContext, std::memory_order_relaxed);
    const uint32_t uGeneration = JobGeneration(m_uJob.load(std::memory_order_relaxed)) + 1;
    m_uJob.store((static_cast<uint64_t>(uGeneration) << 32) | (static_cast<uint64_t>(iParticipants) << 16) | 1u,
                 std::memory_order_seq_cst);
    if (m_iSleepers.load(std::memory_order_seq_cst) > 0)
    {
        // Taking the lock once orders the new job after a sleeper's last look at it.
        m_wait.Lock();
        m_wait.Unlock();
        m_wait.WakeAll();
    }
    RunPart(pfn, pContext, 0);
    // The calling thread never waits for a worker that has not picked the job up yet (on a
    // loaded machine that can take a whole time slice): it runs the indices nobody has taken
    // itself, and then waits only for those already running.
    TakeIndices(uGeneration, true);
    for (int i = 0; m_iRunning.load(std::memory_order_acquire) != 0; ++i)
    {
        if (i < kSpinPolls)
            SpinPause();
        else
            std::this_thread::yield();
    }
    m_bBusy = false;
}

namespace
{

struct RowSlices
{
    void (*pfn)(void*, int, int);
    void* pContext;
    int iCount;
    int iUnits;
    int iGrain;
    int iChunks;
    std::atomic<int> iNext;
};

// Each thread takes chunks of rows until none is left, so a thread that the system holds back
// (a loaded machine) delays the step by one chunk at most, not by a whole share.
void RunRowSlice(void* pArg, int)
{
    RowSlices* s = static_cast<RowSlices*>(pArg);
    for (;;)
    {
        const int i = s->iNext.fetch_add(1, std::memory_order_relaxed);
        if (i >= s->iChunks) return;
        const int b = static_cast<int>(static_cast<long long>(s->iUnits) * i / s->iChunks) * s->iGrain;
        int e = static_cast<int>(static_cast<long long>(s->iUnits) * (i + 1) / s->iChunks) * s->iGrain;
        if (e > s->iCount) e = s->iCount;
        if (b < e) s->pfn(s->pContext, b, e);
    }
}

}  // namespace

void ParallelRows(WorkerPool* pPool, int iCount, int iThreads, int iGrain,
                  void (*pfn)(void* pContext, int iBegin, int iEnd), void* pContext)
{
    if (iCount <= 0) return;
    if (iGrain < 1) iGrain = 1;
    const int iUnits = (iCount + iGrain - 1) / iGrain;
    int iSlices = iThreads < PoolThreads(pPool) ? iThreads : PoolThreads(pPool);
    if (iSlices > iUnits) iSlices = iUnits;
    if (iSlices <= 1)
    {
        pfn(pContext, 0, iCount);
        return;
    }
    const int iChunks = iUnits < 4 * iSlices ? iUnits : 4 * iSlices;
    RowSlices slices{pfn, pContext, iCount, iUnits, iGrain, iChunks, {0}};
    pPool->Run(&RunRowSlice, &slices, iSlices);
}

std::unique_ptr<WorkerPool> MakeWorkerPool(int iThreads)
{
    if (iThreads <= 1) return nullptr;
    return std::unique_ptr<WorkerPool>(new (std::nothrow) WorkerPool(iThreads - 1));
}
