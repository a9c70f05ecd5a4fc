// The progress dialog's figures, and whole runs on the batch thread with the closing message box
// answered: cancelled by a user during the third file, with photos whose jobs fail, and cut short
// by the main window closing during a job and during HPXCmd.
#include "BatchTestSupport.h"

#include <commctrl.h>

#include <functional>
#include <thread>

#include "app/batch/BatchCommand.h"
#include "app/batch/BatchProgressDialog.h"
#include "app/batch/BatchThread.h"
#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "engine/TileAlloc.h"
#include "plugin/batch_ids.h"
#include "profiles/Localisation.h"
#include "ui/ControlSkin.h"

using namespace batchtest;
using proftest::ItemText;
using proftest::WindowText;

namespace
{

HWND g_progress = nullptr;

// Plays the main window's part at the end of a run, and its closing: the batch is cancelled and
// waited for as the window's destruction does it.
LRESULT CALLBACK OwnerProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_HPX_BATCH_DONE)
    {
        DestroyWindow(g_progress);
        return 0;
    }
    if (msg == WM_CLOSE)
    {
        CancelBatchAndWait();
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

LRESULT BarPos(HWND dlg) { return SendDlgItemMessageW(dlg, IDC_BATCH_PROGRESS, PBM_GETPOS, 0, 0); }

}  // namespace

class BatchProgress : public BatchFolders
{
protected:
    void SetUp() override
    {
        BatchFolders::SetUp();
        ResetLocalizedStrings();
        SetSkinScheme(2);  // as the filter's start applies it
        m_owner = CreateTestWindow(L"HpxBatchTestOwner", OwnerProc, nullptr, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        ASSERT_NE(m_owner, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(m_owner);
        FreeSkinBrushes();
        BatchFolders::TearDown();
    }
    // Runs the batch thread over the tree with a progress dialog of `total`, serving this
    // thread's messages until it has ended; `user` plays the person meanwhile, on a thread of
    // its own, and says whether a closing message box is to be waited for. Returns its text
    // (answered with OK), empty when none came.
    std::wstring RunBatchThread(int total, const std::function<bool(HWND dlg)>& user)
    {
        g_progress = CreateBatchProgressDialog(m_owner, &total);
        static CBackBuffer doc{};
        BatchJob job{};
        wcscpy(job.wszInputDir, Tree().c_str());
        wcscpy(job.wszOutputDir, (Tree() + L"\\denoised").c_str());
        job.hFind = FindFirstFileW((Tree() + L"/*.*").c_str(), &job.fd);
        job.pDocument = &doc;
        job.hMainWnd = m_owner;
        job.hProgressDlg = g_progress;
        g_bBatchAbort = 0;
        HANDLE thread =
            CreateThread(nullptr, 0x6400000, BatchThreadProc, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread) return L"no thread";
        // The window's own handle, which its closing waits for and closes.
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &g_hBatchThread, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        const DWORD batchThreadId = GetThreadId(thread);
        std::wstring boxText;
        std::thread person(
            [&]
            {
                HWND box = user(g_progress) ? proftest::WaitForDialog(batchThreadId, nullptr, 300000) : nullptr;
                if (!box) return;
                wchar_t text[512] = L"";
                GetDlgItemTextW(box, 0xFFFF, text, 512);
                boxText = text;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            });
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
        {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            {
                // The files done when the person's click takes effect.
                if (msg.message == BM_CLICK) m_barAtClick = BarPos(g_progress);
                DispatchMessageW(&msg);
            }
        }
        person.join();
        CloseHandle(thread);
        if (g_hBatchThread) CloseHandle(g_hBatchThread);
        g_hBatchThread = nullptr;
        ReleaseImage(&doc.m_Source);
        ReleaseImage(&doc.m_Result);
        ReleaseImage(&doc.m_Alpha);
        return boxText;
    }
    int Written(int count)
    {
        int written = 0;
        for (int i = 0; i < count; ++i)
            written += proftest::Exists(Path((L"denoised\\f" + std::to_wstring(i) + L".jpg").c_str()));
        return written;
    }
    HWND m_owner = nullptr;
    LRESULT m_barAtClick = -1;
};

TEST_F(BatchProgress, ShowsElapsedAndEstimatedTimesAndHoldsLargeTotals)
{
    int total = 4;
    HWND dlg = CreateBatchProgressDialog(m_owner, &total);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(WindowText(dlg), L"Batch Denoising");
    EXPECT_EQ(ItemText(dlg, IDC_BATCH_ESTIMATE_LABEL), L"Estimated time");
    EXPECT_EQ(ItemText(dlg, IDCANCEL), L"Cancel");
    for (int i = 0; i < 61; ++i) SendMessageW(dlg, WM_TIMER, 1, 0);
    SendMessageW(dlg, WM_HPX_BATCH_FILE_DONE, 0, 0);
    EXPECT_EQ(ItemText(dlg, IDC_BATCH_ESTIMATE), L"04:04");
    EXPECT_EQ(ItemText(dlg, IDC_BATCH_ELAPSED), L"01:01");
    EXPECT_EQ(BarPos(dlg), 1);
    EXPECT_FALSE(proftest::SaveScreenshot(dlg, L"batch_progress_140").empty());
    DestroyWindow(dlg);

    total = 70000;  // beyond the 16-bit range of PBM_SETRANGE
    dlg = CreateBatchProgressDialog(m_owner, &total);
    for (int i = 0; i < 3; ++i) SendMessageW(dlg, WM_HPX_BATCH_FILE_DONE, 0, 0);
    EXPECT_EQ(SendDlgItemMessageW(dlg, IDC_BATCH_PROGRESS, PBM_GETRANGE, FALSE, 0), 70000);
    EXPECT_EQ(BarPos(dlg), 3);
    DestroyWindow(dlg);
    // Twelve hours over 100,000 files: elapsed x total needs more than 32 bits.
    EXPECT_EQ(EstimateBatchSeconds(43200, 100000, 50000), 86400u);
    EXPECT_EQ(EstimateBatchSeconds(61, 0, 1), 0u);
}

TEST_F(BatchProgress, CancelDuringTheThirdOfTenFilesFinishesItAndStopsThere)
{
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(WriteTestImage(Path((L"f" + std::to_wstring(i) + L".jpg").c_str()), 480, 360));
    // The user: Cancel once the bar shows two files done, then OK on the closing message.
    struct
    {
        bool hiddenAfterCancel = false, ownerDisabledMeanwhile = false;
    } seen;
    const std::wstring boxText = RunBatchThread(10,
                                                [&](HWND dlg)
                                                {
                                                    WaitUntil([&] { return BarPos(dlg) >= 2; });
                                                    seen.ownerDisabledMeanwhile = !IsWindowEnabled(m_owner);
                                                    PostMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
                                                    seen.hiddenAfterCancel =
                                                        WaitUntil([&] { return !IsWindowVisible(dlg); });
                                                    return true;
                                                });
    // The file in progress at the click still finishes, and no other (a busy machine may have
    // finished the third before the click took effect).
    ASSERT_GE(m_barAtClick, 2);
    ASSERT_LT(m_barAtClick, 10);
    EXPECT_TRUE(seen.ownerDisabledMeanwhile);
    EXPECT_TRUE(seen.hiddenAfterCancel);
    EXPECT_NE(boxText.find(L"successfully finished"), std::wstring::npos);
    EXPECT_TRUE(IsWindowEnabled(m_owner));
    EXPECT_FALSE(IsWindow(g_progress));
    EXPECT_EQ(Written(10), m_barAtClick + 1);
    EXPECT_EQ(g_bBatchAbort, 0);
}

TEST_F(BatchProgress, PhotosWhoseJobFailsAreNotWrittenAndTheEndSaysSo)
{
    // Out of memory in every job: the photos would come out as their sources.
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(WriteTestImage(Path((L"f" + std::to_wstring(i) + L".jpg").c_str()), 64, 48));
    SimulateTileAllocationFailures(0);
    const std::wstring boxText = RunBatchThread(2, [](HWND) { return true; });
    SimulateTileAllocationFailures(-1);
    EXPECT_EQ(Written(2), 0);
    EXPECT_EQ(boxText.find(L"successfully"), std::wstring::npos) << boxText;
    EXPECT_NE(boxText.find(L"could not be denoised"), std::wstring::npos) << boxText;
}

TEST_F(BatchProgress, ClosingTheWindowDuringAJobOrHpxCmdEndsItAtOnceAndWritesNothing)
{
    // A photo whose job takes a while; the window is closed once its output folder is made (the
    // job starts right after).
    ASSERT_TRUE(WriteTestImage(Path(L"f0.jpg"), 4000, 3000));
    const int quality = g_iQualityMode;
    g_iQualityMode = 3;
    const auto closeWhen = [&](const std::function<bool()>& condition)
    {
        return RunBatchThread(1,
                              [&](HWND)
                              {
                                  WaitUntil(condition);
                                  PostMessageW(m_owner, WM_CLOSE, 0, 0);
                                  return false;
                              });
    };
    std::wstring boxText = closeWhen([&] { return proftest::Exists(Path(L"denoised")); });
    g_iQualityMode = quality;
    EXPECT_TRUE(boxText.empty()) << boxText;
    EXPECT_EQ(Written(1), 0);
    EXPECT_FALSE(proftest::Exists(Path(L"denoised")));
    EXPECT_EQ(g_hBatchThread, nullptr);

    // HPXCmd is ended without the grace a cancel gives it, which would have let it write the
    // photo; nothing of it outlives the window.
    ASSERT_TRUE(DeleteFileW(Path(L"f0.jpg").c_str()));
    InstallHpxCmd(HPX_HPXCMD_STANDIN);
    ASSERT_TRUE(WriteTestImage(Path(L"hang.jpg"), 32, 32));
    g_iHwAccel = 1;
    boxText = closeWhen([&] { return ReadStandInProcesses(m_plugin).listed == 2; });
    EXPECT_TRUE(boxText.empty()) << boxText;
    EXPECT_FALSE(proftest::Exists(Path(L"denoised")));
    const StandInProcesses processes = ReadStandInProcesses(m_plugin);
    EXPECT_EQ(processes.listed, 2);
    EXPECT_EQ(processes.ended, 2);
    EXPECT_EQ(g_hBatchThread, nullptr);
}
