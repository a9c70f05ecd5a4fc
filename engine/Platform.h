// The engine's platform seam: everything of the operating system the denoise engine needs.
//
// On Windows these are thin wrappers over the Win32 calls (threads, the named mutex, the tick
// counter, the affinity masks and the progress-bar control); natively (the unit tests and the
// benchmark) the same functions run on the standard library and POSIX, so the whole job, the
// CPU+GPU hybrid schedule included, runs outside Wine as well.
//
// Nothing here throws. Thread procedures started through PlatformStartThread are run inside a
// catch-all, so no exception ever leaves a thread.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Progress target
//
// Stands for the HWND of the window whose progress bar (control IDC_PROGRESS, 1037) a job
// advances. On Windows it IS an HWND (struct HWND__* under STRICT), so callers pass their window
// handles unchanged; natively it is just an opaque non-null tag that a test's sink can record.
// A null target means "no progress".
struct HWND__;
typedef struct HWND__* HpxProgressTarget;

enum : int
{
    kIdcProgress = 1037  // the progress-bar control of the window given as progress target
};

// Where progress goes. Both functions are called only with a non-null target and never from two
// threads at once: from the thread that runs the job (a pass steps only from its calling thread),
// and in a CPU+GPU job also from the CPU tile thread, which steps once per tile it takes while it
// holds the schedule's mutex. A pass's worker threads never call them.
//   pfnSetup: once per job before the first tile: step 1, range 0..uTotal, position 1.
//   pfnStep:  one step forward.
struct ProgressSink
{
    void (*pfnSetup)(void* pContext, HpxProgressTarget hTarget, uint32_t uTotal);
    void (*pfnStep)(void* pContext, HpxProgressTarget hTarget);
    void* pContext;
};

// Replaces the process-wide sink (null restores the default). The sink record must outlive its
// use. The default sink on Windows drives the progress bar IDC_PROGRESS of the target window with
// SendDlgItemMessageW (PBM_SETSTEP / PBM_SETRANGE, or PBM_SETRANGE32 for totals above 65535 /
// PBM_SETPOS / PBM_DELTAPOS); natively it does nothing. HPXProcessGPU installs a sink that relays
// progress as its own messages to the plug-in; tests install one that counts.
void SetProgressSink(const ProgressSink* pSink);

// Job set-up of the progress bar: range 0..uTotal, step 1, position 1. No-op for a null target.
void ProgressSetup(HpxProgressTarget hTarget, uint32_t uTotal);

// One step forward. No-op for a null target.
void ProgressStep(HpxProgressTarget hTarget);

// ---------------------------------------------------------------------------------------------
// Message pump before each tile
//
// The whole-image job calls PumpBeforeTile before each tile of the sequential loop and before
// each visit of the GPU side of the hybrid. The default does nothing; HPXProcessGPU installs a
// hook that dispatches its thread's pending messages (that is how a cancel reaches the job).
typedef void (*TilePumpHook)();
void SetTilePumpHook(TilePumpHook pfnHook);  // null restores the no-op
void PumpBeforeTile();

// ---------------------------------------------------------------------------------------------
// Worker threads

struct PlatformThread;  // opaque
typedef unsigned int (*PlatformThreadProc)(void* pArg);

enum : uint32_t
{
    kPlatformWaitForever = 0xFFFFFFFFu
};

// Starts pfnProc(pArg) on a new thread. uStackBytes 0 = the system's default stack size.
// Returns null when the thread could not be started (nothing then runs).
PlatformThread* PlatformStartThread(PlatformThreadProc pfnProc, void* pArg, uint32_t uStackBytes = 0);

// Waits until the thread has ended, at most uTimeoutMs milliseconds (kPlatformWaitForever: no
// bound). True when the thread has ended; false on time-out (the thread may still be running, so
// whatever it writes must stay alive). A null thread counts as ended.
bool PlatformJoinThread(PlatformThread* pThread, uint32_t uTimeoutMs = kPlatformWaitForever);

// Releases the handle. Call it only after PlatformJoinThread has returned true; closing a thread
// that may still run detaches it (its resources are freed when it ends). Null is ignored.
void PlatformCloseThread(PlatformThread* pThread);

// Test support: the next iCount calls of PlatformStartThread fail as if the system had refused
// the thread (0 restores normal starts), so tests can check that every caller copes.
void PlatformFailNextThreadStarts(int iCount);

// ---------------------------------------------------------------------------------------------
// Blocking idle threads
//
// A lock with one condition, for threads that sleep until there is work. On Windows the system's
// slim reader/writer lock and condition variable: made without allocating, and Wine runs them
// inside the process, where a winpthreads condition wakes its sleepers through semaphores, one
// round trip to Wine's server each. Natively a std::mutex and a std::condition_variable.
class PlatformWaitLock
{
public:
    PlatformWaitLock();
    ~PlatformWaitLock();
    PlatformWaitLock(const PlatformWaitLock&) = delete;
    PlatformWaitLock& operator=(const PlatformWaitLock&) = delete;

    bool Usable() const;  // false when it could not be made (natively: memory ran out)
    void Lock();
    void Unlock();
    // With the lock held: unlocks, sleeps until woken (or for no reason) and locks again.
    void Wait();
    void WakeAll();

private:
    void* m_apSlots[2];  // Windows: the lock and the condition themselves; natively the pair
};

// ---------------------------------------------------------------------------------------------
// Named mutex (the hybrid schedule's "ProtectQueueSync")
//
// On Windows a kernel mutex of that name (not initially owned, default security), shared by every
// process of the session and recursive for its owning thread. Natively a process-wide recursive
// mutex looked up by name.

struct PlatformMutex;                                              // opaque
PlatformMutex* PlatformCreateNamedMutex(const wchar_t* pwszName);  // null on failure
void PlatformWaitMutex(PlatformMutex* pMutex);                     // no time-out
void PlatformReleaseMutex(PlatformMutex* pMutex);
void PlatformCloseMutex(PlatformMutex* pMutex);  // null is ignored

// ---------------------------------------------------------------------------------------------
// Debugger output

// Hands one line of text to whoever debugs the process: OutputDebugStringA on Windows (under
// Wine: WINEDEBUG=+debugstr), standard error natively.
void PlatformDebugOutput(const char* pszText);

// ---------------------------------------------------------------------------------------------
// Time and processors

// The system's millisecond tick counter (32-bit, wraps after about 49.7 days).
uint32_t PlatformTickMs();

// The number of usable processors found by the last CountProcessors call (1..255).
extern unsigned char g_byCpuCount;

// Bit length of an affinity mask: the index of its highest set bit plus one (not the number of
// set bits), 0 for an empty mask. 0b1011 gives 4.
inline unsigned AffinityBitLength(uint64_t uMask)
{
    unsigned uCount = 0;
    while (uMask != 0)
    {
        uMask >>= 1;
        ++uCount;
    }
    return uCount;
}

// Refreshes g_byCpuCount from the process and system affinity masks (their AND, then its bit
// length; sched_getaffinity natively) and returns it. Never yields 0: a pass divides its offsets
// and the job its progress by this count, so an empty or unreadable mask counts as 1.
unsigned char CountProcessors();
