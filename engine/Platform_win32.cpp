// The platform seam on Windows: Win32 threads, the kernel's named mutexes, GetTickCount, the
// affinity masks and the progress-bar control of the target window.
#ifdef _WIN32

#include <windows.h>
#include <commctrl.h>

#include "engine/Platform.h"

#include <new>

unsigned char g_byCpuCount = 1;

// ---------------------------------------------------------------------------------------------
// Progress: the progress bar IDC_PROGRESS of the target window.

namespace
{

void ControlSetup(void*, HpxProgressTarget hTarget, uint32_t uTotal)
{
    HWND hWnd = hTarget;
    SendDlgItemMessageW(hWnd, kIdcProgress, PBM_SETSTEP, 1, 0);
    if (uTotal <= 0xFFFFu)
        SendDlgItemMessageW(hWnd, kIdcProgress, PBM_SETRANGE, 0, MAKELPARAM(0, uTotal));
    else  // a 16-bit range would wrap
        SendDlgItemMessageW(hWnd, kIdcProgress, PBM_SETRANGE32, 0, static_cast<LPARAM>(uTotal));
    SendDlgItemMessageW(hWnd, kIdcProgress, PBM_SETPOS, 1, 0);
}

void ControlStep(void*, HpxProgressTarget hTarget) { SendDlgItemMessageW(hTarget, kIdcProgress, PBM_DELTAPOS, 1, 0); }

const ProgressSink s_ControlSink = {ControlSetup, ControlStep, nullptr};

}  // namespace

const ProgressSink* PlatformDefaultProgressSink() { return &s_ControlSink; }

// ---------------------------------------------------------------------------------------------
// Threads

struct PlatformThread
{
    HANDLE hThread;
    PlatformThreadProc pfnProc;
    void* pArg;
    volatile LONG lRefs;  // the owner and the thread
};

namespace
{

void ReleaseThreadRef(PlatformThread* pThread)
{
    if (InterlockedDecrement(&pThread->lRefs) == 0) delete pThread;
}

DWORD WINAPI ThreadTrampoline(LPVOID pv)
{
    PlatformThread* pThread = static_cast<PlatformThread*>(pv);
    DWORD dwResult = 0;
    try
    {
        dwResult = pThread->pfnProc(pThread->pArg);
    }
    catch (...)
    {
        // no exception may leave a thread procedure
    }
    ReleaseThreadRef(pThread);
    return dwResult;
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
    pThread->lRefs = 2;
    pThread->hThread = CreateThread(nullptr, uStackBytes, ThreadTrampoline, pThread,
                                    uStackBytes != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    if (pThread->hThread == nullptr)
    {
        delete pThread;
        return nullptr;
    }
    return pThread;
}

bool PlatformJoinThread(PlatformThread* pThread, uint32_t uTimeoutMs)
{
    if (pThread == nullptr) return true;
    return WaitForSingleObject(pThread->hThread, uTimeoutMs == kPlatformWaitForever ? INFINITE : uTimeoutMs) ==
        WAIT_OBJECT_0;
}

void PlatformCloseThread(PlatformThread* pThread)
{
    if (pThread == nullptr) return;
    CloseHandle(pThread->hThread);
    ReleaseThreadRef(pThread);
}

// ---------------------------------------------------------------------------------------------
// Blocking idle threads

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "the slim lock and the condition fit the slots");

PlatformWaitLock::PlatformWaitLock()
{
    InitializeSRWLock(reinterpret_cast<PSRWLOCK>(&m_apSlots[0]));
    InitializeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&m_apSlots[1]));
}

PlatformWaitLock::~PlatformWaitLock() = default;  // neither holds a system resource

bool PlatformWaitLock::Usable() const { return true; }

void PlatformWaitLock::Lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_apSlots[0])); }

void PlatformWaitLock::Unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_apSlots[0])); }

void PlatformWaitLock::Wait()
{
    SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&m_apSlots[1]),
                              reinterpret_cast<PSRWLOCK>(&m_apSlots[0]), INFINITE, 0);
}

void PlatformWaitLock::WakeAll() { WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&m_apSlots[1])); }

// ---------------------------------------------------------------------------------------------
// Named mutex

struct PlatformMutex
{
    HANDLE hMutex;
};

PlatformMutex* PlatformCreateNamedMutex(const wchar_t* pwszName)
{
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, pwszName);
    if (hMutex == nullptr) return nullptr;
    PlatformMutex* pMutex = new (std::nothrow) PlatformMutex;
    if (pMutex == nullptr)
    {
        CloseHandle(hMutex);
        return nullptr;
    }
    pMutex->hMutex = hMutex;
    return pMutex;
}

void PlatformWaitMutex(PlatformMutex* pMutex)
{
    // An abandoned mutex (its owner ended without releasing it) is owned by us all the same.
    if (pMutex != nullptr) WaitForSingleObject(pMutex->hMutex, INFINITE);
}

void PlatformReleaseMutex(PlatformMutex* pMutex)
{
    if (pMutex != nullptr) ReleaseMutex(pMutex->hMutex);
}

void PlatformCloseMutex(PlatformMutex* pMutex)
{
    if (pMutex == nullptr) return;
    CloseHandle(pMutex->hMutex);
    delete pMutex;
}

// ---------------------------------------------------------------------------------------------
// Time and processors

uint32_t PlatformTickMs() { return GetTickCount(); }

void PlatformDebugOutput(const char* pszText) { OutputDebugStringA(pszText); }

unsigned char CountProcessors()
{
    DWORD_PTR uProcessMask = 0;
    DWORD_PTR uSystemMask = 0;
    unsigned uCount = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &uProcessMask, &uSystemMask))
        uCount = AffinityBitLength(static_cast<uint64_t>(uProcessMask & uSystemMask));
    if (uCount == 0) uCount = 1;  // an empty or unreadable mask must not stop every pass
    if (uCount > 255) uCount = 255;
    g_byCpuCount = static_cast<unsigned char>(uCount);
    return g_byCpuCount;
}

#endif  // _WIN32
