// Whole-image run dispatch: HPXProcessGPU or the in-process thread, and the end of the run.
#include "app/job/JobDispatch.h"

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"
#include "engine/DenoiseImage.h"
#include "engine/NlmPlaneDenoise.h"
#include "plugin/panel_ids.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ScopedWin32.h"

DenoiseJobParams g_DenoiseJobParams = {};
DWORD g_dwGpuAnnounceTimeoutMs = 30000;

namespace
{

enum class JobState
{
    Idle,
    GpuStarting,  // program started, announcement awaited
    GpuRunning,   // data handed over, reply awaited
    Cpu           // in-process thread running
};

constexpr UINT_PTR kGpuWatchTimer = 0x4A0B;  // watches the program while a GPU run is pending
constexpr UINT kGpuWatchMs = 100;
constexpr SIZE_T kJobStackBytes = 0x6400000;  // 100 MiB: the engine's recursion on large images
constexpr int kOldProgramRounds = 30;         // closing programs left from earlier runs

JobState s_State = JobState::Idle;
ScopedHandle s_hProcess;
DWORD s_dwProcessId = 0;
HWND s_hGpuWnd = nullptr;
DWORD s_dwStartTick = 0;
uint8_t s_ReadySlot[4] = {};
bool s_bFailed = false;       // the program's reply was unusable
bool s_bClosing = false;      // the window is going: no message boxes
ScopedHandle s_hEndedThread;  // a finished job thread, still returning from its last send
std::atomic<unsigned char> s_EngineResult{kImageOk};
std::wstring s_SavedTitle;   // as long as the window's title is ("Hushpix - " and a full path)
HWND s_hRunPanel = nullptr;  // the panel that asked for the run: its bar, its end
bool s_bTitleChanged = false;

// The run's panel while it exists; another panel may have taken charge meanwhile, and one that
// has gone is never written to (the panel in charge then hears of the end).
HWND RunPanel() { return s_hRunPanel && IsWindow(s_hRunPanel) ? s_hRunPanel : g_hPanelDlg; }

ImageBuffer* BlockImage(uint32_t address) { return reinterpret_cast<ImageBuffer*>(static_cast<uintptr_t>(address)); }

void ReapEndedThread()
{
    if (!s_hEndedThread) return;
    WaitForSingleObject(s_hEndedThread.get(), 10000);
    s_hEndedThread.reset();
}

// The program finds the window by its class and exact title; open and save retitle it, so the
// title is put back for as long as the announcement is awaited.
void UseProtocolTitle(HWND hWnd)
{
    s_bTitleChanged = false;
    try
    {
        s_SavedTitle.assign(size_t(GetWindowTextLengthW(hWnd)) + 1, L'\0');
    }
    catch (const std::bad_alloc&)
    {
        return;  // the title stays; without the announcement the run goes to the CPU
    }
    const int length = GetWindowTextW(hWnd, &s_SavedTitle[0], int(s_SavedTitle.size()));
    s_SavedTitle.resize(size_t(length > 0 ? length : 0));
    if (s_SavedTitle != HPX_PLUGIN_WINDOW_TITLE)
    {
        SetWindowTextW(hWnd, HPX_PLUGIN_WINDOW_TITLE);
        s_bTitleChanged = true;
    }
}

void RestoreTitle(HWND hWnd)
{
    if (s_bTitleChanged) SetWindowTextW(hWnd, s_SavedTitle.c_str());
    s_bTitleChanged = false;
}

void ReleaseProgram(HWND hWnd, bool kill)
{
    KillTimer(hWnd, kGpuWatchTimer);
    RestoreTitle(hWnd);
    if (kill && s_hProcess && WaitForSingleObject(s_hProcess.get(), 0) == WAIT_TIMEOUT)
    {
        TerminateProcess(s_hProcess.get(), 1);
        WaitForSingleObject(s_hProcess.get(), 2000);
    }
    s_hProcess.reset();
    s_dwProcessId = 0;
    s_hGpuWnd = nullptr;
}

bool FromOurProgram(HWND sender)
{
    DWORD pid = 0;
    return sender && s_dwProcessId && GetWindowThreadProcessId(sender, &pid) && pid == s_dwProcessId;
}

void TellMemoryShort(HWND hWnd)
{
    if (!s_bClosing)
        MessageBoxW(hWnd, g_LocStrings[kLocNotEnoughMemory], g_LocStrings[kLocWarning], MB_OK | MB_ICONWARNING);
}

// Brings the editing state back when the run could not be started.
void FailStart(HWND hWnd, bool tellUser)
{
    s_State = JobState::Idle;
    SendMessageW(hWnd, WM_HPX_MAKE_VIEW_COPIES, 0, 0);
    if (g_hToolbar) EnableWindow(g_hToolbar, TRUE);
    if (HWND panel = RunPanel()) PostMessageW(panel, WM_HPX_JOB_FAILED, 0, 0);
    s_hRunPanel = nullptr;
    if (tellUser) TellMemoryShort(hWnd);
}

void StartCpuRun(HWND hWnd)
{
    s_EngineResult = kImageOk;
    s_State = JobState::Cpu;
    g_hJobThread = CreateThread(nullptr, kJobStackBytes, DenoiseJobThreadProc, &g_DenoiseJobParams,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!g_hJobThread) FailStart(hWnd, true);
}

void CloseOldPrograms()
{
    for (int round = 0; round < kOldProgramRounds; ++round)
    {
        HWND old = FindWindowW(HPX_GPU_WINDOW_CLASS, HPX_GPU_WINDOW_TITLE);
        if (!old) return;
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(old, WM_COMMAND, IDM_EXIT, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
        Sleep(100);
    }
}

void WatchProgram(HWND hWnd);

// A timer procedure rather than WM_TIMER: it runs whatever loop dispatches (the host's, a message
// box's, the closing wait) and needs nothing from the window procedure.
void CALLBACK WatchTimerProc(HWND hWnd, UINT, UINT_PTR, DWORD)
{
    try
    {
        WatchProgram(hWnd);
    }
    catch (...)
    {
        TraceCaughtException("WatchTimerProc");
    }
}

bool StartProgram(HWND hWnd)
{
    wchar_t folder[HPX_PATH_CHARS];
    GetPluginFolder(folder);
    wchar_t path[HPX_PATH_CHARS + 32];
    _snwprintf(path, HPX_PATH_CHARS + 31, L"%s\\" HPX_GPU_EXECUTABLE, folder);
    path[HPX_PATH_CHARS + 31] = 0;
    wchar_t commandLine[2] = {0, 0};
    STARTUPINFOW si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    UseProtocolTitle(hWnd);
    if (!CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si, &pi))
    {
        RestoreTitle(hWnd);
        return false;
    }
    const ScopedHandle mainThread(pi.hThread);  // only the process is watched
    s_hProcess.reset(pi.hProcess);
    s_dwProcessId = pi.dwProcessId;
    s_hGpuWnd = nullptr;
    s_dwStartTick = GetTickCount();
    s_State = JobState::GpuStarting;
    SetTimer(hWnd, kGpuWatchTimer, kGpuWatchMs, WatchTimerProc);
    return true;
}

// Ends the run as failed from the host thread (abort before the announcement, closing).
void FinishFailed(HWND hWnd)
{
    g_bAbort = 1;
    SendMessageW(hWnd, WM_HPX_JOB_FINISHED, 0, 0);
}

void EndProgramAndFail(HWND hWnd)
{
    ReleaseProgram(hWnd, true);
    FinishFailed(hWnd);
}

// Runs on every tick while a GPU run is pending: abort before the announcement, a program that
// never announces itself, a program that ended without a reply.
void WatchProgram(HWND hWnd)
{
    const bool ended = !s_hProcess || WaitForSingleObject(s_hProcess.get(), 0) != WAIT_TIMEOUT;
    if (s_State == JobState::GpuStarting)
    {
        if (g_bAbort)
        {
            EndProgramAndFail(hWnd);
        }
        else if (ended || GetTickCount() - s_dwStartTick > g_dwGpuAnnounceTimeoutMs)
        {
            ReleaseProgram(hWnd, true);
            StartCpuRun(hWnd);
        }
    }
    else if (s_State == JobState::GpuRunning)
    {
        if (ended)
        {
            ReleaseProgram(hWnd, false);
            if (g_bAbort)
                FinishFailed(hWnd);
            else
                StartCpuRun(hWnd);
        }
        else if (g_bAbort && s_hGpuWnd)
        {
            // A cancel posted before the program took the run is cleared by the run's start.
            PostMessageW(s_hGpuWnd, WM_HPX_CANCEL, 0, 0);
        }
    }
}

}  // namespace

DWORD WINAPI DenoiseJobThreadProc(LPVOID params)
{
    try
    {
        auto* p = static_cast<DenoiseJobParams*>(params);
        ImageBuffer* src = BlockImage(p->pSource);
        s_EngineResult = DenoiseImage(BlockImage(p->pResult), src, p->iStrength / 20.0, p->iStrengthChroma / 20.0,
                                      p->iStrengthChromaLarge / 20.0, g_iQualityMode, p->dDynamics,
                                      reinterpret_cast<HpxProgressTarget>(static_cast<uintptr_t>(p->hProgressWnd)),
                                      src->m_iChannels == 3, false, p->bGpuCpuFusion != 0, p->iUseMedian);
    }
    catch (...)
    {
        TraceCaughtException("DenoiseJobThreadProc");
        s_EngineResult = kImageNoMemory;
    }
    SendMessageW(g_hMainWnd, WM_HPX_JOB_FINISHED, 0, 0);
    return 1;
}

namespace
{

// The run's messages, routed by JobDispatchMessage (their meaning is in JobDispatch.h).
bool JobOnStart(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    if (s_State != JobState::Idle) return false;
    ReapEndedThread();
    s_bFailed = false;
    DenoiseJobParams& p = g_DenoiseJobParams;
    p.pSource = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&g_BackBuffer.m_Source));
    p.pResult = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&g_BackBuffer.m_Result));
    p.iStrength = LOWORD(wParam);
    p.iStrengthChroma = HIWORD(wParam);
    p.iStrengthChromaLarge = LOWORD(lParam);
    p.iQualityMode = g_iQualityMode;
    p.dDynamics = HIWORD(lParam) / 50.0 - 2.0;
    p.bGpuCpuFusion = g_iGpuCpuFusion != 0;
    p.bHwAccel = g_iHwAccel != 0;
    p.hProgressWnd = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_hPanelDlg));
    s_hRunPanel = g_hPanelDlg;
    const ImageBuffer& src = g_BackBuffer.m_Source;
    if (!g_BackBuffer.HasDocument() || g_BackBuffer.m_Result.m_iSize != src.m_iSize)
    {
        FailStart(hWnd, false);
        return false;
    }
    SendMessageW(hWnd, WM_HPX_FREE_VIEW_COPIES, 0, 0);
    if (g_iHwAccel == 0)
    {
        StartCpuRun(hWnd);
        return true;
    }
    CloseOldPrograms();
    // Missing or not startable: this run goes to the CPU, the next one tries the program again.
    if (!StartProgram(hWnd)) StartCpuRun(hWnd);
    return true;
}

LRESULT JobOnCopyData(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const HWND sender = reinterpret_cast<HWND>(wParam);
    if (!cds) return FALSE;
    if (cds->dwData == HPX_DATA_READY)
    {
        if (s_State != JobState::GpuStarting || !FromOurProgram(sender)) return FALSE;
        std::memset(s_ReadySlot, 0, sizeof s_ReadySlot);
        if (cds->lpData) std::memcpy(s_ReadySlot, cds->lpData, cds->cbData < 4 ? cds->cbData : 4);
        s_hGpuWnd = sender;
        SendMessageW(hWnd, WM_HPX_GPU_READY, wParam, 0);
        return TRUE;
    }
    if (cds->dwData != HPX_DATA_RESULT && cds->dwData != HPX_DATA_CANCELLED) return FALSE;
    if (s_State != JobState::GpuRunning || sender != s_hGpuWnd) return FALSE;
    if (cds->dwData == HPX_DATA_CANCELLED && !g_bAbort)
    {
        // Nobody asked for this cancel: the program gave up on the job (pixels that did not come
        // across, memory it could not get). The run is not lost: the CPU does it. The program
        // ends by itself after this reply.
        ReleaseProgram(hWnd, false);
        StartCpuRun(hWnd);
        return TRUE;
    }
    if (cds->dwData == HPX_DATA_RESULT)
    {
        ImageBuffer& result = g_BackBuffer.m_Result;
        if (cds->lpData && result.m_pData && cds->cbData == static_cast<DWORD>(result.m_iSize))
            std::memcpy(result.m_pData, cds->lpData, cds->cbData);
        else
            s_bFailed = true;
    }
    SendMessageW(hWnd, WM_HPX_JOB_FINISHED, 0, 0);
    return TRUE;
}

LRESULT JobOnGpuReady(HWND hWnd, WPARAM, LPARAM)
{
    if (s_State != JobState::GpuStarting) return 0;
    RestoreTitle(hWnd);
    if (g_bAbort)
    {
        EndProgramAndFail(hWnd);
        return 0;
    }
    const HWND gpu = s_hGpuWnd;
    if (!IsWindow(gpu) || !FromOurProgram(gpu))
    {
        // The program's window is gone: the GPU is not usable here, and stays off.
        g_iHwAccel = 0;
        WriteSettingInt(L"HW Accel", 0);
        ReleaseProgram(hWnd, true);
        StartCpuRun(hWnd);
        return 0;
    }
    ImageBuffer& src = g_BackBuffer.m_Source;
    COPYDATASTRUCT image{HPX_DATA_IMAGE, kWireImageRecordSize, &src};
    COPYDATASTRUCT pixels{HPX_DATA_PIXELS, static_cast<DWORD>(src.m_iSize), src.m_pData};
    COPYDATASTRUCT params{HPX_DATA_PARAMS, sizeof(DenoiseJobParams), &g_DenoiseJobParams};
    SendMessageW(gpu, WM_COPYDATA, reinterpret_cast<WPARAM>(hWnd), reinterpret_cast<LPARAM>(&image));
    SendMessageW(gpu, WM_COPYDATA, reinterpret_cast<WPARAM>(hWnd), reinterpret_cast<LPARAM>(&pixels));
    SendMessageW(gpu, WM_COPYDATA, reinterpret_cast<WPARAM>(hWnd), reinterpret_cast<LPARAM>(&params));
    s_State = JobState::GpuRunning;
    PostMessageW(gpu, WM_HPX_RUN, 0, 0);
    return 0;
}

LRESULT JobOnProgressRange(HWND, WPARAM wParam, LPARAM)
{
    // A range comes at the start of every run of the job, also of the CPU's run after a failed
    // GPU pass: the bar starts again from its beginning.
    if (HWND panel = RunPanel())
    {
        SendDlgItemMessageW(panel, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, LOWORD(wParam)));
        SendDlgItemMessageW(panel, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    }
    return 0;
}

LRESULT JobOnProgressStep(HWND, WPARAM, LPARAM)
{
    if (HWND panel = RunPanel()) SendDlgItemMessageW(panel, IDC_PROGRESS, PBM_DELTAPOS, 1, 0);
    return 0;
}

LRESULT JobOnFinished(HWND hWnd, WPARAM, LPARAM)
{
    if (s_State == JobState::Idle) return 0;
    const bool cpu = s_State == JobState::Cpu;
    if (g_hJobThread)
    {
        // The thread is still inside its send; it is waited for at the next start or at closing.
        s_hEndedThread.reset(std::exchange(g_hJobThread, nullptr));
    }
    if (!cpu) ReleaseProgram(hWnd, false);
    const unsigned char engine = cpu ? s_EngineResult.load() : kImageOk;
    const bool failed = g_bAbort || s_bFailed || engine != kImageOk;
    s_State = JobState::Idle;
    SendMessageW(hWnd, WM_HPX_MAKE_VIEW_COPIES, 0, 0);
    if (g_hToolbar) EnableWindow(g_hToolbar, TRUE);
    if (HWND panel = RunPanel()) PostMessageW(panel, failed ? WM_HPX_JOB_FAILED : WM_HPX_JOB_DONE, 0, 0);
    s_hRunPanel = nullptr;
    // Tiles that ran short of memory hold the source's pixels: not a result to hand on.
    if (!g_bAbort && engine == kImageNoMemory) TellMemoryShort(hWnd);
    return 0;
}

}  // namespace

bool JobDispatchMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (msg)
    {
    case WM_HPX_START_JOB:
        JobOnStart(hWnd, wParam, lParam);
        *result = 0;
        return true;
    case WM_COPYDATA:
        *result = JobOnCopyData(hWnd, wParam, lParam);
        return true;
    case WM_HPX_GPU_READY:
        *result = JobOnGpuReady(hWnd, wParam, lParam);
        return true;
    case WM_HPX_PROGRESS_RANGE:
        *result = JobOnProgressRange(hWnd, wParam, lParam);
        return true;
    case WM_HPX_PROGRESS_STEP:
        *result = JobOnProgressStep(hWnd, wParam, lParam);
        return true;
    case WM_HPX_JOB_FINISHED:
        *result = JobOnFinished(hWnd, wParam, lParam);
        return true;
    default:
        return false;
    }
}

bool JobIsRunning() { return s_State != JobState::Idle; }

void JobAbortAndWait(HWND hWnd)
{
    if (s_State != JobState::Idle)
    {
        s_bClosing = true;
        g_bAbort = 1;
        if (s_State == JobState::GpuStarting)
        {
            EndProgramAndFail(hWnd);
        }
        else if (s_State == JobState::GpuRunning && s_hGpuWnd)
        {
            PostMessageW(s_hGpuWnd, WM_HPX_CANCEL, 0, 0);
        }
        // The thread and the program end by messages to this window, so the wait dispatches.
        const DWORD start = GetTickCount();
        bool quit = false;
        WPARAM quitCode = 0;
        while (s_State != JobState::Idle)
        {
            if (s_State != JobState::Cpu && GetTickCount() - start > g_dwGpuAnnounceTimeoutMs)
            {
                EndProgramAndFail(hWnd);
                break;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            {
                if (msg.message == WM_QUIT)
                {
                    quit = true;
                    quitCode = msg.wParam;
                    continue;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        if (quit) PostQuitMessage(static_cast<int>(quitCode));
        s_bClosing = false;
    }
    ReapEndedThread();
}
