#include "engine/WorkerPool.h"

#include "engine/Platform.h"

#include <atomic>
#include <cstdlib>

WorkerPool::WorkerPool(int iWorkers)
{
    if (iWorkers > kMaxWorkers)
        iWorkers = kMaxWorkers;
    for (int i = 0; i < iWorkers; ++i)
    {
        // Slots are numbered by the threads actually running, so a refused start leaves no gap.
        Slot& slot = m_aSlots[m_iWorkers];
        slot.pPool = this;
        slot.iIndex = m_iWorkers + 1;
        PlatformThread* pThread = PlatformStartThread(&WorkerPool::WorkerMain, &slot);
        if (pThread == nullptr)
            continue;
        m_apThreads[m_iWorkers++] = pThread;
    }
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bStop = true;
    }
    m_wake.notify_all();
    for (int i = 0; i < m_iWorkers; ++i)
    {
        PlatformJoinThread(m_apThreads[i], kPlatformWaitForever);
        PlatformCloseThread(m_apThreads[i]);
        m_apThreads[i] = nullptr;
    }
    for (int i = 0; i < kScratchSlots; ++i)
        std::free(m_apScratch[i]);
}

void* WorkerPool::Scratch(int iSlot, size_t uBytes)
{
    if (iSlot < 0 || iSlot >= kScratchSlots)
        return nullptr;
    if (m_auScratchBytes[iSlot] < uBytes || m_apScratch[iSlot] == nullptr)
    {
        std::free(m_apScratch[iSlot]);
        m_apScratch[iSlot] = std::malloc(uBytes > 0 ? uBytes : 1);
        m_auScratchBytes[iSlot] = m_apScratch[iSlot] != nullptr ? uBytes : 0;
    }
    return m_apScratch[iSlot];
}

unsigned int WorkerPool::WorkerMain(void* pArg)
{
    Slot* pSlot = static_cast<Slot*>(pArg);
    pSlot->pPool->WorkerLoop(pSlot->iIndex);
    return 0;
}

void WorkerPool::WorkerLoop(int)
{
    uint32_t uSeen = 0;
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;)
    {
        m_wake.wait(guard, [&] { return m_bStop || m_uGeneration != uSeen; });
        if (m_bStop)
            return;
        uSeen = m_uGeneration;
        // Take indices of the job while any is left; a worker that wakes after the caller has
        // taken the rest finds none and goes back to sleep.
        while (m_iNextIndex < m_iParticipants)
        {
            const int iIndex = m_iNextIndex++;
            ++m_iRunning;
            void (*pfn)(void*, int) = m_pfn;
            void* pContext = m_pContext;
            guard.unlock();
            pfn(pContext, iIndex);
            guard.lock();
            if (--m_iRunning == 0)
                m_done.notify_one();
        }
    }
}

void WorkerPool::Run(void (*pfn)(void* pContext, int iIndex), void* pContext, int iParticipants)
{
    if (iParticipants > m_iWorkers + 1)
        iParticipants = m_iWorkers + 1;
    if (iParticipants <= 1 || m_bBusy.exchange(true))
    {
        for (int i = 0; i < (iParticipants < 1 ? 1 : iParticipants); ++i)
            pfn(pContext, i);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pfn = pfn;
        m_pContext = pContext;
        m_iParticipants = iParticipants;
        m_iNextIndex = 1;
        m_iRunning = 0;
        ++m_uGeneration;
    }
    m_wake.notify_all();
    pfn(pContext, 0);
    {
        // The calling thread never waits for a worker that has not woken up yet (on a loaded
        // machine that can take a whole time slice): it runs the indices nobody has taken itself,
        // and waits only for those already running.
        std::unique_lock<std::mutex> guard(m_lock);
        while (m_iNextIndex < m_iParticipants)
        {
            const int iIndex = m_iNextIndex++;
            guard.unlock();
            pfn(pContext, iIndex);
            guard.lock();
        }
        m_done.wait(guard, [&] { return m_iRunning == 0; });
        m_pfn = nullptr;
        m_pContext = nullptr;
        m_iParticipants = 0;
        m_iNextIndex = 0;
    }
    m_bBusy = false;
}

namespace {

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
        if (i >= s->iChunks)
            return;
        const int b = static_cast<int>(static_cast<long long>(s->iUnits) * i / s->iChunks) * s->iGrain;
        int e = static_cast<int>(static_cast<long long>(s->iUnits) * (i + 1) / s->iChunks) * s->iGrain;
        if (e > s->iCount)
            e = s->iCount;
        if (b < e)
            s->pfn(s->pContext, b, e);
    }
}

} // namespace

void ParallelRows(WorkerPool* pPool, int iCount, int iThreads, int iGrain,
                  void (*pfn)(void* pContext, int iBegin, int iEnd), void* pContext)
{
    if (iCount <= 0)
        return;
    if (iGrain < 1)
        iGrain = 1;
    const int iUnits = (iCount + iGrain - 1) / iGrain;
    int iSlices = iThreads < PoolThreads(pPool) ? iThreads : PoolThreads(pPool);
    if (iSlices > iUnits)
        iSlices = iUnits;
    if (iSlices <= 1)
    {
        pfn(pContext, 0, iCount);
        return;
    }
    const int iChunks = iUnits < 4 * iSlices ? iUnits : 4 * iSlices;
    RowSlices slices{pfn, pContext, iCount, iUnits, iGrain, iChunks, {0}};
    pPool->Run(&RunRowSlice, &slices, iSlices);
}
