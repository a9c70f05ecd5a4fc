// Whole-image runs as the panel asks for them: a stand-in main window (class "Hushpix", the
// protocol title) whose procedure calls the job dispatch, and a stand-in panel with the progress
// bar that records the replies. The CPU thread, the real HPXProcessGPU.exe, a missing program and
// a stand-in program that stays silent, replies short, dies or runs the job twice.
//
// Every wait is for the condition it needs; the bound only ends a hang (a program's first start
// in a fresh Wine prefix can take minutes).
#include "app/job/JobDispatch.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"
#include "engine/NlmPlaneDenoise.h"
#include "plugin/panel_ids.h"
#include "profiles/Settings.h"

// The main window's globals that the dispatch uses.
HWND g_hMainWnd = nullptr;
HWND g_hPanelDlg = nullptr;
HWND g_hToolbar = nullptr;
HANDLE g_hJobThread = nullptr;
int g_iQualityMode = 3;
CBackBuffer g_BackBuffer;

namespace
{

struct Record
{
    int done = 0, failed = 0, freeCopies = 0, makeCopies = 0, gpuReady = 0;
} g_Rec;

LRESULT CALLBACK MainProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_HPX_GPU_READY) ++g_Rec.gpuReady;
    LRESULT r = 0;
    if (JobDispatchMessage(hWnd, msg, wParam, lParam, &r)) return r;
    switch (msg)
    {
    case WM_HPX_FREE_VIEW_COPIES:
        ++g_Rec.freeCopies;
        return 0;
    case WM_HPX_MAKE_VIEW_COPIES:
        ++g_Rec.makeCopies;
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK PanelProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_HPX_JOB_DONE) ++g_Rec.done;
    if (msg == WM_HPX_JOB_FAILED) ++g_Rec.failed;
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

std::wstring WinPath(const std::string& unixPath)
{
    std::wstring w = L"Z:";
    for (char c : unixPath) w += (c == '/') ? L'\\' : static_cast<wchar_t>(c);
    return w;
}

constexpr DWORD kHangMs = 300000;

bool Pump(const std::function<bool()>& until, DWORD ms = kHangMs)
{
    const DWORD start = GetTickCount();
    while (!until())
    {
        if (GetTickCount() - start > ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    return true;
}

bool GpuWindowGone()
{
    return Pump([] { return FindWindowW(HPX_GPU_WINDOW_CLASS, HPX_GPU_WINDOW_TITLE) == nullptr; });
}

class JobDispatch : public ::testing::Test
{
protected:
    std::wstring m_Temp;
    std::vector<uint8_t> m_SourceCopy;
    const DWORD m_AnnounceTimeoutMs = g_dwGpuAnnounceTimeoutMs;

    void SetUp() override
    {
        g_Rec = Record{};
        g_bAbort = 0;
        InitCommonControls();
        HINSTANCE inst = GetModuleHandleW(nullptr);
        WNDCLASSW wc{};
        wc.lpfnWndProc = MainProc;
        wc.hInstance = inst;
        wc.lpszClassName = HPX_MAIN_WINDOW_CLASS;
        RegisterClassW(&wc);
        wc.lpfnWndProc = PanelProc;
        wc.lpszClassName = L"HpxTestPanel";
        RegisterClassW(&wc);
        g_hMainWnd = CreateWindowW(HPX_MAIN_WINDOW_CLASS, HPX_MAIN_WINDOW_TITLE, WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                                   nullptr, nullptr, inst, nullptr);
        g_hPanelDlg = CreateWindowW(L"HpxTestPanel", L"", WS_CHILD | WS_VISIBLE, 0, 0, 200, 100, g_hMainWnd, nullptr,
                                    inst, nullptr);
        CreateWindowW(PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 180, 20, g_hPanelDlg,
                      reinterpret_cast<HMENU>(IDC_PROGRESS), inst, nullptr);
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        m_Temp = std::wstring(tmp) + L"hpx-job-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_Temp.c_str(), nullptr);
        SetAppDataFolderOverride(m_Temp.c_str());
        SetPluginFolderOverride(m_Temp.c_str());  // no program there
        g_iHwAccel = 0;
        g_iGpuCpuFusion = 0;
        g_dwGpuAnnounceTimeoutMs = kHangMs;  // a slow start is still a start
        g_DenoiseJobParams.iUseMedian = 0;
        MakeDocument(256, 192);
    }

    void TearDown() override
    {
        JobAbortAndWait(g_hMainWnd);
        g_dwGpuAnnounceTimeoutMs = m_AnnounceTimeoutMs;
        DestroyWindow(g_hMainWnd);
        ReleaseImage(&g_BackBuffer.m_Source);
        ReleaseImage(&g_BackBuffer.m_Result);
        SetPluginFolderOverride(nullptr);
        SetAppDataFolderOverride(nullptr);
    }

    // A smooth colour pattern with noise; the result starts as a copy and the bar at 0, as the
    // panel leaves them when an image arrives.
    void MakeDocument(int w, int h)
    {
        ClearBar();
        ImageBuffer& s = g_BackBuffer.m_Source;
        ReleaseImage(&s);
        ReleaseImage(&g_BackBuffer.m_Result);
        ASSERT_EQ(CreateImage(&s, w, h, 3, 8), kImageOk);
        auto* p = static_cast<uint8_t*>(s.m_pData);
        uint32_t r = 12345;
        for (int i = 0; i < s.m_iSize; ++i)
        {
            r = r * 1664525u + 1013904223u;
            const int x = (i / 3) % w, y = (i / 3) / w;
            const double v = 128 + 60 * std::sin(x * 0.05 + i % 3) * std::cos(y * 0.07) + ((r >> 24) % 41) - 20;
            p[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
        ASSERT_EQ(CopyImageLayout(&g_BackBuffer.m_Result, &s), kImageOk);
        CopyImagePixels(&g_BackBuffer.m_Result, &s);
        m_SourceCopy.assign(p, p + s.m_iSize);
    }

    std::vector<uint8_t> Result() const
    {
        auto* p = static_cast<const uint8_t*>(g_BackBuffer.m_Result.m_pData);
        return std::vector<uint8_t>(p, p + g_BackBuffer.m_Result.m_iSize);
    }
    bool SourceIntact() const
    {
        return std::memcmp(g_BackBuffer.m_Source.m_pData, m_SourceCopy.data(), m_SourceCopy.size()) == 0;
    }

    // The panel's Denoise: strength 15, chroma 15, no large-chroma, dynamics 0.
    void Denoise()
    {
        g_bAbort = 0;
        PostMessageW(g_hMainWnd, WM_HPX_START_JOB, MAKELONG(300, 300), MAKELONG(0, 100));
    }
    // The panel's Abort.
    static void Abort()
    {
        g_bAbort = 1;
        if (HWND gpu = FindWindowW(HPX_GPU_WINDOW_CLASS, HPX_GPU_WINDOW_TITLE)) PostMessageW(gpu, WM_HPX_CANCEL, 0, 0);
    }
    bool WaitEnd()
    {
        return Pump([] { return g_Rec.done + g_Rec.failed > 0; }) && !JobIsRunning();
    }
    static void ClearBar() { SendDlgItemMessageW(g_hPanelDlg, IDC_PROGRESS, PBM_SETPOS, 0, 0); }
    static int ProgressPos()
    {
        return static_cast<int>(SendDlgItemMessageW(g_hPanelDlg, IDC_PROGRESS, PBM_GETPOS, 0, 0));
    }

    void UseStandIn(const char* mode)
    {
        const std::wstring folder = m_Temp + L"\\standin";
        CreateDirectoryW(folder.c_str(), nullptr);
        // The program of the previous run may still be ending after its window went, and a
        // running program's file cannot be replaced: wait until it can.
        const std::wstring target = folder + L"\\" HPX_GPU_EXECUTABLE;
        bool copied = false;
        for (const DWORD t0 = GetTickCount(); !copied && GetTickCount() - t0 < kHangMs; Sleep(20))
            copied = CopyFileW(WinPath(HPX_GPU_STANDIN).c_str(), target.c_str(), FALSE) != 0;
        ASSERT_TRUE(copied);
        HANDLE f =
            CreateFileW((folder + L"\\standin-mode.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD put = 0;
        WriteFile(f, mode, static_cast<DWORD>(strlen(mode)), &put, nullptr);
        CloseHandle(f);
        SetPluginFolderOverride(folder.c_str());
        g_iHwAccel = 1;
    }
};

TEST_F(JobDispatch, InProcessRunFinishesAndAnAbortEndsItAsFailed)
{
    Denoise();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.done, 1);
    EXPECT_EQ(g_Rec.failed, 0);
    EXPECT_NE(Result(), m_SourceCopy);
    EXPECT_GT(ProgressPos(), 0);
    EXPECT_EQ(g_Rec.freeCopies, 1);
    EXPECT_EQ(g_Rec.makeCopies, 1);
    EXPECT_EQ(g_hJobThread, nullptr);

    MakeDocument(1024, 768);
    g_Rec = Record{};
    Denoise();
    ASSERT_TRUE(Pump([] { return ProgressPos() > 0; }));
    Abort();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.failed, 1);
    EXPECT_EQ(g_Rec.done, 0);
    EXPECT_TRUE(SourceIntact());
}

TEST_F(JobDispatch, ClosingDuringARunWaitsForItAndLosesNothing)
{
    MakeDocument(1024, 768);
    Denoise();
    ASSERT_TRUE(Pump([] { return ProgressPos() > 0; }));
    JobAbortAndWait(g_hMainWnd);
    EXPECT_FALSE(JobIsRunning());
    EXPECT_EQ(g_hJobThread, nullptr);
    EXPECT_TRUE(Pump([] { return g_Rec.failed == 1; }));
    EXPECT_TRUE(SourceIntact());
    EXPECT_EQ(g_Rec.makeCopies, 1);
}

TEST_F(JobDispatch, GpuRunThroughTheRealProgramMatchesTheCpuRunWhateverTheTitle)
{
    Denoise();
    ASSERT_TRUE(WaitEnd());
    const std::vector<uint8_t> cpu = Result();
    CopyImagePixels(&g_BackBuffer.m_Result, &g_BackBuffer.m_Source);
    ClearBar();
    g_Rec = Record{};

    SetPluginFolderOverride(WinPath(HPX_DIST_DIR).c_str());
    g_iHwAccel = 1;
    // As open and save leave it, with a long path.
    const std::wstring shown = L"Hushpix - C:\\" + std::wstring(700, L'p') + L"\\photo.png";
    SetWindowTextW(g_hMainWnd, shown.c_str());
    Denoise();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.done, 1);
    EXPECT_EQ(g_Rec.gpuReady, 1);
    const std::vector<uint8_t> gpu = Result();
    ASSERT_EQ(gpu.size(), cpu.size());
    double sum = 0;
    int worst = 0;
    for (size_t i = 0; i < gpu.size(); ++i)
    {
        const int d = std::abs(gpu[i] - cpu[i]);
        sum += d;
        worst = std::max(worst, d);
    }
    std::printf("GPU run against CPU run: mean %.4f, max %d\n", sum / gpu.size(), worst);
    EXPECT_LE(sum / gpu.size(), 1.5);
    EXPECT_LE(worst, 16);
    EXPECT_NE(gpu, m_SourceCopy);
    EXPECT_GT(ProgressPos(), 0);
    wchar_t title[1024];
    GetWindowTextW(g_hMainWnd, title, 1024);
    EXPECT_EQ(title, shown);
    EXPECT_EQ(g_iHwAccel, 1);
    EXPECT_TRUE(GpuWindowGone());
}

TEST_F(JobDispatch, GpuRunThatTheProgramGivesUpOnEndsDenoisedOnTheCpu)
{
    // More than Wine carries in one copy-data message: the program never gets the pixels and
    // answers with a cancel that nobody asked for (as the 32-bit program out of memory does).
    MakeDocument(1200, 900);
    SetPluginFolderOverride(WinPath(HPX_DIST_DIR).c_str());
    g_iHwAccel = 1;
    Denoise();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.gpuReady, 1);
    EXPECT_EQ(g_Rec.done, 1);
    EXPECT_NE(Result(), m_SourceCopy);
    EXPECT_EQ(g_iHwAccel, 1);
    EXPECT_TRUE(GpuWindowGone());
}

TEST_F(JobDispatch, BarStartsAgainWhenTheProgramRunsTheJobASecondTime)
{
    UseStandIn("rerun");
    Denoise();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.done, 1);
    EXPECT_EQ(ProgressPos(), 10);  // 10 steps into the second run, not the first run's full bar
}

TEST_F(JobDispatch, MissingProgramRunsOnTheCpuAndKeepsTheSetting)
{
    g_iHwAccel = 1;
    Denoise();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.done, 1);
    EXPECT_NE(Result(), m_SourceCopy);
    EXPECT_EQ(g_iHwAccel, 1);
    EXPECT_EQ(ReadSettingInt(L"HW Accel", 1), 1);
}

TEST_F(JobDispatch, SilentProgramIsEndedAfterABoundedWaitAndForeignCopyDataIsRefused)
{
    UseStandIn("silent");
    Denoise();
    ASSERT_TRUE(Pump([] { return FindWindowW(HPX_GPU_WINDOW_CLASS, HPX_GPU_WINDOW_TITLE) != nullptr; }));
    // Another window announcing itself or replying is not the started program.
    HWND other = CreateWindowW(L"HpxTestPanel", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    COPYDATASTRUCT ready{HPX_DATA_READY, sizeof other, &other};
    EXPECT_EQ(SendMessageW(g_hMainWnd, WM_COPYDATA, reinterpret_cast<WPARAM>(other), reinterpret_cast<LPARAM>(&ready)),
              FALSE);
    const std::vector<uint8_t> junk(g_BackBuffer.m_Result.m_iSize, 7);
    COPYDATASTRUCT result{HPX_DATA_RESULT, static_cast<DWORD>(junk.size()), const_cast<uint8_t*>(junk.data())};
    EXPECT_EQ(SendMessageW(g_hMainWnd, WM_COPYDATA, reinterpret_cast<WPARAM>(other), reinterpret_cast<LPARAM>(&result)),
              FALSE);
    DestroyWindow(other);
    EXPECT_TRUE(JobIsRunning());
    g_dwGpuAnnounceTimeoutMs = 0;  // the wait for the announcement runs out now
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.done, 1);
    EXPECT_NE(Result(), junk);
    EXPECT_NE(Result(), m_SourceCopy);  // the CPU did the run
    EXPECT_TRUE(GpuWindowGone());
    EXPECT_EQ(g_iHwAccel, 1);
}

TEST_F(JobDispatch, AbortBeforeTheAnnouncementEndsTheProgramAndTheRun)
{
    UseStandIn("silent");
    Denoise();
    ASSERT_TRUE(Pump([] { return FindWindowW(HPX_GPU_WINDOW_CLASS, HPX_GPU_WINDOW_TITLE) != nullptr; }));
    Abort();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.failed, 1);
    EXPECT_EQ(Result(), m_SourceCopy);
    EXPECT_TRUE(GpuWindowGone());
}

TEST_F(JobDispatch, ShortReplyFailsTheRunAndADeadProgramLeavesItToTheCpu)
{
    UseStandIn("short");
    Denoise();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.failed, 1);
    EXPECT_EQ(Result(), m_SourceCopy);
    EXPECT_TRUE(GpuWindowGone());

    g_Rec = Record{};
    UseStandIn("die");
    Denoise();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(g_Rec.gpuReady, 1);
    EXPECT_EQ(g_Rec.done, 1);
    EXPECT_NE(Result(), m_SourceCopy);
}

}  // namespace
