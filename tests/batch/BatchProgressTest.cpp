// The progress dialog's figures, and a whole run on the batch thread cancelled by a user during
// its third file, with the closing message box answered.
#include "BatchTestSupport.h"

#include <commctrl.h>

#include <atomic>
#include <thread>

#include "app/batch/BatchProgressDialog.h"
#include "app/batch/BatchThread.h"
#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "plugin/batch_ids.h"
#include "profiles/Localisation.h"
#include "ui/ControlSkin.h"

using namespace batchtest;
using proftest::ItemText;
using proftest::WindowText;

namespace
{

HWND g_progress = nullptr;

// Plays the main window's part at the end of a run.
LRESULT CALLBACK OwnerProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_HPX_BATCH_DONE)
    {
        DestroyWindow(g_progress);
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
    HWND m_owner = nullptr;
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
        ASSERT_TRUE(WriteTestImage(Path((L"f" + std::to_wstring(i) + L".png").c_str()), 480, 360));
    int total = 10;
    g_progress = CreateBatchProgressDialog(m_owner, &total);
    ASSERT_NE(g_progress, nullptr);
    static CBackBuffer doc{};
    BatchJob job{};
    wcscpy(job.wszInputDir, Tree().c_str());
    wcscpy(job.wszOutputDir, (Tree() + L"\\denoised").c_str());
    job.hFind = FindFirstFileW((Tree() + L"/*.*").c_str(), &job.fd);
    job.pDocument = &doc;
    job.hMainWnd = m_owner;
    job.hProgressDlg = g_progress;
    g_bBatchAbort = 0;

    // The user: Cancel while the bar shows two files done, then OK on the closing message.
    struct
    {
        LRESULT barAtCancel = -1;
        bool hiddenAfterCancel = false, ownerDisabledMeanwhile = false;
        std::wstring boxText;
    } seen;
    HANDLE thread = CreateThread(nullptr, 0x6400000, BatchThreadProc, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    const DWORD batchThreadId = GetThreadId(thread);
    std::thread user(
        [&]
        {
            HWND dlg = g_progress;
            for (int i = 0; i < 6000 && BarPos(dlg) < 2; ++i) Sleep(5);
            seen.ownerDisabledMeanwhile = !IsWindowEnabled(m_owner);
            seen.barAtCancel = BarPos(dlg);
            PostMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
            Sleep(100);
            seen.hiddenAfterCancel = !IsWindowVisible(dlg);
            HWND box = proftest::WaitForDialog(batchThreadId, nullptr, 60000);
            if (box)
            {
                wchar_t text[512] = L"";
                GetDlgItemTextW(box, 0xFFFF, text, 512);
                seen.boxText = text;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        });
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 120000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    user.join();
    CloseHandle(thread);
    ReleaseImage(&doc.m_Source);
    ReleaseImage(&doc.m_Result);
    ReleaseImage(&doc.m_Alpha);

    EXPECT_EQ(seen.barAtCancel, 2);
    EXPECT_TRUE(seen.ownerDisabledMeanwhile);
    EXPECT_TRUE(seen.hiddenAfterCancel);
    EXPECT_NE(seen.boxText.find(L"successfully finished"), std::wstring::npos);
    EXPECT_TRUE(IsWindowEnabled(m_owner));
    EXPECT_FALSE(IsWindow(g_progress));
    int written = 0;
    for (int i = 0; i < 10; ++i)
        written += proftest::Exists(Path((L"denoised\\f" + std::to_wstring(i) + L".png").c_str()));
    EXPECT_EQ(written, 3);
    EXPECT_EQ(g_bBatchAbort, 0);
}
