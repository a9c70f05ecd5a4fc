// The platform seam on POSIX systems (the native unit tests and the benchmark): pthreads, a
// process-wide registry of named recursive mutexes, the monotonic clock and sched_getaffinity.
#ifndef _WIN32

#include "engine/Platform.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <memory>
#include <new>
#include <string>

unsigned char g_byCpuCount = 1;

const ProgressSink* PlatformDefaultProgressSink()
{
    return nullptr;  // there is no progress bar to drive natively
}

// ---------------------------------------------------------------------------------------------
// Threads

struct PlatformThread
{
    pthread_t thread{};
    PlatformThreadProc pfnProc = nullptr;
    void* pArg = nullptr;
    std::mutex lock;
    std::condition_variable ended;
    bool bEnded = false;        // set by the thread as its very last use of the record's fields
    bool bJoined = false;       // pthread_join done (owner only)
    std::atomic<int> iRefs{2};  // the owner and the thread
};

namespace
{

void ReleaseThreadRef(PlatformThread* pThread)
{
    if (pThread->iRefs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete pThread;
}

void* ThreadTrampoline(void* pv)
{
    PlatformThread* pThread = static_cast<PlatformThread*>(pv);
    try
    {
        pThread->pfnProc(pThread->pArg);
    }
    catch (...)
    {
        // a thread procedure must never let an exception escape
    }
    {
        std::lock_guard<std::mutex> guard(pThread->lock);
        pThread->bEnded = true;
        pThread->ended.notify_all();
    }
    ReleaseThreadRef(pThread);
    return nullptr;
}

}  // namespace

bool PlatformConsumeThreadStartFailure();  // Platform.cpp

PlatformThread* PlatformStartThread(PlatformThreadProc pfnProc, void* pArg, uint32_t uStackBytes)
{
    if (pfnProc == nullptr || PlatformConsumeThreadStartFailure()) return nullptr;
    PlatformThread* pThread = new (std::nothrow) PlatformThread;
    if (pThread == nullptr) return nullptr;
    pThread->pfnProc = pfnProc;
    pThread->pArg = pArg;

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
    {
        delete pThread;
        return nullptr;
    }
    if (uStackBytes != 0) pthread_attr_setstacksize(&attr, uStackBytes);
    const int iErr = pthread_create(&pThread->thread, &attr, ThreadTrampoline, pThread);
    pthread_attr_destroy(&attr);
    if (iErr != 0)
    {
        delete pThread;
        return nullptr;
    }
    return pThread;
}

bool PlatformJoinThread(PlatformThread* pThread, uint32_t uTimeoutMs)
{
    if (pThread == nullptr || pThread->bJoined) return true;
    {
        std::unique_lock<std::mutex> guard(pThread->lock);
        if (uTimeoutMs == kPlatformWaitForever)
            pThread->ended.wait(guard, [pThread] { return pThread->bEnded; });
        else if (!pThread->ended.wait_for(guard, std::chrono::milliseconds(uTimeoutMs),
                                          [pThread] { return pThread->bEnded; }))
            return false;
    }
    pthread_join(pThread->thread, nullptr);  // returns at once: the thread is past its last step
    pThread->bJoined = true;
    return true;
}

void PlatformCloseThread(PlatformThread* pThread)
{
    if (pThread == nullptr) return;
    if (!pThread->bJoined) pthread_detach(pThread->thread);
    ReleaseThreadRef(pThread);
}

// ---------------------------------------------------------------------------------------------
// Blocking idle threads

namespace
{

struct WaitPair
{
    std::mutex lock;
    std::condition_variable wake;
};

WaitPair* Pair(void* const* ppSlots) { return static_cast<WaitPair*>(ppSlots[0]); }

}  // namespace

PlatformWaitLock::PlatformWaitLock() : m_apSlots{new (std::nothrow) WaitPair, nullptr} {}

PlatformWaitLock::~PlatformWaitLock() { delete Pair(m_apSlots); }

bool PlatformWaitLock::Usable() const { return m_apSlots[0] != nullptr; }

void PlatformWaitLock::Lock() { Pair(m_apSlots)->lock.lock(); }

void PlatformWaitLock::Unlock() { Pair(m_apSlots)->lock.unlock(); }

void PlatformWaitLock::Wait()
{
    WaitPair* pPair = Pair(m_apSlots);
    std::unique_lock<std::mutex> held(pPair->lock, std::adopt_lock);
    pPair->wake.wait(held);
    held.release();  // still locked, as the caller holds it
}

void PlatformWaitLock::WakeAll() { Pair(m_apSlots)->wake.notify_all(); }

// ---------------------------------------------------------------------------------------------
// Named mutexes: one recursive mutex per name for the whole process, counted by its handles.

struct PlatformMutex
{
    std::wstring strName;
    std::recursive_mutex mutex;
    int iHandles = 0;
};

namespace
{

std::mutex& RegistryLock()
{
    static std::mutex s_lock;
    return s_lock;
}

std::map<std::wstring, PlatformMutex*>& Registry()
{
    static std::map<std::wstring, PlatformMutex*> s_map;
    return s_map;
}

}  // namespace

PlatformMutex* PlatformCreateNamedMutex(const wchar_t* pwszName)
{
    try
    {
        std::lock_guard<std::mutex> guard(RegistryLock());
        const std::wstring strName = pwszName != nullptr ? pwszName : L"";
        auto& map = Registry();
        auto it = map.find(strName);
        PlatformMutex* pMutex = nullptr;
        if (it != map.end() && !strName.empty())
            pMutex = it->second;
        else
        {
            // Owned until it is registered: copying the name or growing the map may throw.
            std::unique_ptr<PlatformMutex> pNew(new PlatformMutex);
            pNew->strName = strName;
            if (!strName.empty()) map[strName] = pNew.get();
            pMutex = pNew.release();
        }
        ++pMutex->iHandles;
        return pMutex;
    }
    catch (...)
    {
        return nullptr;
    }
}

void PlatformWaitMutex(PlatformMutex* pMutex)
{
    if (pMutex != nullptr) pMutex->mutex.lock();
}

void PlatformReleaseMutex(PlatformMutex* pMutex)
{
    if (pMutex != nullptr) pMutex->mutex.unlock();
}

void PlatformCloseMutex(PlatformMutex* pMutex)
{
    if (pMutex == nullptr) return;
    std::lock_guard<std::mutex> guard(RegistryLock());
    if (--pMutex->iHandles > 0) return;
    if (!pMutex->strName.empty()) Registry().erase(pMutex->strName);
    delete pMutex;
}

// ---------------------------------------------------------------------------------------------
// Time and processors

uint32_t PlatformTickMs()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void PlatformDebugOutput(const char* pszText) { std::fputs(pszText, stderr); }

unsigned char CountProcessors()
{
    unsigned uCount = 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
    {
        // The bit length of the mask, as on Windows: the highest usable processor plus one.
        for (int i = CPU_SETSIZE - 1; i >= 0; --i)
        {
            if (CPU_ISSET(i, &set))
            {
                uCount = static_cast<unsigned>(i) + 1;
                break;
            }
        }
    }
    if (uCount == 0) uCount = 1;
    if (uCount > 255) uCount = 255;
    g_byCpuCount = static_cast<unsigned char>(uCount);
    return g_byCpuCount;
}

#endif  // !_WIN32
