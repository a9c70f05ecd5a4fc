// The parameter panel as a person uses it: the profile picked for the image, the trackbars, the
// preview rectangle, saving and deleting entries, the manual-tuning toggle and the job states.
#include "PanelTestSupport.h"

#include <commctrl.h>
#include <cstring>

#include "app/panel/ParameterPanel.h"
#include "app/window/MainWindow.h"
#include "app/window/ViewNavigation.h"
#include "app/window/WindowMessages.h"
#include "engine/ImagePyramid.h"
#include "engine/NlmPlaneDenoise.h"
#include "gpu/GpuProtocol.h"
#include "plugin/panel_ids.h"
#include "plugin/prof_ids.h"
#include "profiles/Settings.h"

using namespace paneltest;
using proftest::DriveDialog;

extern DenoiseJobParams g_DenoiseJobParams;

namespace
{

int Pos(HWND panel, int id) { return static_cast<int>(SendDlgItemMessageW(panel, id, TBM_GETPOS, 0, 0)); }

// Whether the two images agree on the rectangle [l, r) x [t, b) of a 3-channel 8-bit picture.
bool SameRect(const ImageBuffer& a, const ImageBuffer& b, int l, int t, int r, int bt)
{
    for (int y = t; y < bt; ++y)
        if (std::memcmp(static_cast<uint8_t*>(a.m_pData) + y * a.m_iStride + l * 3,
                        static_cast<uint8_t*>(b.m_pData) + y * b.m_iStride + l * 3, (r - l) * 3) != 0)
            return false;
    return true;
}

// Where a trackbar shows its value, on the screen: the channel just inside its left end and the
// channel's middle right of the thumb, in the trackbar's client coordinates.
struct TrackbarLook
{
    COLORREF filled;  // left of the thumb
    COLORREF rest;    // right of the thumb
};
TrackbarLook LookAt(HWND bar)
{
    RECT ch{}, th{};
    SendMessageW(bar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&ch));
    SendMessageW(bar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&th));
    const int y = (ch.top + ch.bottom) / 2;
    return {ScreenPixel(bar, ch.left + 4, y), ScreenPixel(bar, (th.right + ch.right) / 2, y)};
}

RECT ChildRect(HWND panel, int id)
{
    RECT rc;
    GetWindowRect(GetDlgItem(panel, id), &rc);
    MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

}  // namespace

TEST_F(PanelTest, TheProfileFollowsTheImagesCameraAndIsoOrTheNearestNoiseOfTheSelectedCamera)
{
    // Canon's nearest entry by noise is its second; Nikon's its first.
    StoreProfiles({{L"Canon / EOS 5D", L"100", 5, 1000},
                   {L"Canon / EOS 5D", L"800", 20, 0.01},
                   {L"Nikon / D1", L"200", 7, 0.01},
                   {L"Nikon / D1", L"400", 9, 1000}});
    OpenPanel(320, 240, 3, L"Canon", L"EOS 5D", L"100");
    EXPECT_EQ(Text(IDC_PANEL_CAMERA), L"Canon / EOS 5D");
    EXPECT_EQ(Text(IDC_PANEL_ISO), L"100");
    EXPECT_EQ(Text(IDC_PANEL_STRENGTH_VALUE), L"5.0");
    EXPECT_EQ(Pos(m_panel, IDC_PANEL_STRENGTH), 100);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(m_panel, IDC_PANEL_DELETE)));

    OpenPanel(320, 240, 3, L"Canon", L"EOS 5D", L"");  // no ISO: nearest stored noise
    EXPECT_EQ(Text(IDC_PANEL_ISO), L"800");
    EXPECT_EQ(Text(IDC_PANEL_STRENGTH_VALUE), L"20.0");

    OpenPanel(320, 240, 3, L"Olympus", L"E-1", L"100");  // unknown camera: row 0
    EXPECT_EQ(Text(IDC_PANEL_CAMERA), L"<<Unknown Camera>>");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(m_panel, IDC_PANEL_DELETE)));

    // A Nikon picture without ISO; the user picks the Canon row: Canon's nearest entry is chosen.
    OpenPanel(320, 240, 3, L"Nikon", L"D1", L"");
    EXPECT_EQ(Text(IDC_PANEL_ISO), L"200");
    const LRESULT canon = SendDlgItemMessageW(m_panel, IDC_PANEL_CAMERA, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(L"Canon / EOS 5D"));
    ASSERT_GT(canon, 0);
    SendDlgItemMessageW(m_panel, IDC_PANEL_CAMERA, CB_SETCURSEL, canon, 0);
    SendMessageW(m_panel, WM_COMMAND, MAKEWPARAM(IDC_PANEL_CAMERA, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(m_panel, IDC_PANEL_CAMERA)));
    EXPECT_EQ(Text(IDC_PANEL_ISO), L"800");
    EXPECT_EQ(Text(IDC_PANEL_STRENGTH_VALUE), L"20.0");
}

TEST_F(PanelTest, ThumbTrackingUpdatesTheValueOnlyAndReleasingRunsThePreview)
{
    OpenPanel();
    HWND bar = GetDlgItem(m_panel, IDC_PANEL_STRENGTH);
    const int runs = g_iPreviewRuns;
    SendMessageW(m_panel, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 300), reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(Text(IDC_PANEL_STRENGTH_VALUE), L"15.0");
    EXPECT_DOUBLE_EQ(g_CurrentIsoSettings.m_dStrength, 15.0);
    EXPECT_EQ(g_iPreviewRuns, runs);
    SendMessageW(m_panel, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(g_iPreviewRuns, runs + 1);
    // On the screen the channel is filled up to the thumb and only framed beyond it; while a run
    // goes the disabled trackbar's fill turns dark.
    const TrackbarLook editing = LookAt(bar);
    EXPECT_EQ(editing.filled, RGB(101, 135, 168));
    EXPECT_EQ(editing.rest, RGB(0x46, 0x46, 0x46));
    Click(IDC_PANEL_DENOISE);
    const TrackbarLook running = LookAt(bar);
    EXPECT_EQ(running.filled, RGB(0x32, 0x32, 0x32));
    EXPECT_EQ(running.rest, RGB(0x46, 0x46, 0x46));
}

TEST_F(PanelTest, ThePreviewRectangleIsDenoisedAloneMovesWithADragAndIsClippedAtTheEdges)
{
    OpenPanel(320, 240);
    const ImageBuffer& src = m_doc.m_Source;
    const ImageBuffer& res = m_doc.m_Result;
    ASSERT_EQ(g_rcPreviewPixels[0], 60);
    ASSERT_EQ(g_rcPreviewPixels[1], 20);
    ASSERT_EQ(g_rcPreviewPixels[2], 260);
    ASSERT_EQ(g_rcPreviewPixels[3], 220);
    EXPECT_FALSE(SameRect(src, res, 60, 20, 260, 220));
    EXPECT_TRUE(SameRect(src, res, 0, 0, 60, 240));
    EXPECT_TRUE(SameRect(src, res, 260, 0, 320, 240));
    EXPECT_TRUE(SameRect(src, res, 60, 0, 260, 20));
    EXPECT_TRUE(SameRect(src, res, 60, 220, 260, 240));

    // A drag of a fraction of an image pixel leaves the rectangle where it is: nothing runs.
    int runs = g_iPreviewRuns;
    g_dZoom = 4.0;
    Drag(WindowPoint(160, 120), WindowPoint(160.25, 120.25));
    EXPECT_EQ(g_iPreviewRuns, runs);
    EXPECT_EQ(g_rcPreviewPixels[0], 60);

    // Dragged far right and down, the rectangle is clipped by the image and denoised there.
    g_dZoom = 1.0;
    Drag(WindowPoint(160, 120), WindowPoint(250, 170));
    EXPECT_EQ(g_iPreviewRuns, runs + 1);
    EXPECT_EQ(g_rcPreviewPixels[0], 150);
    EXPECT_EQ(g_rcPreviewPixels[1], 70);
    EXPECT_EQ(g_rcPreviewPixels[2], 320);
    EXPECT_EQ(g_rcPreviewPixels[3], 240);
    EXPECT_EQ(g_rcLastPadded[2], 320);
    EXPECT_EQ(g_rcLastPadded[0], 150 - 41);
    EXPECT_FALSE(SameRect(src, res, 150, 70, 320, 240));
    EXPECT_TRUE(SameRect(src, res, 0, 0, 150, 240));
    EXPECT_TRUE(SameRect(src, res, 150, 0, 320, 70));
    EXPECT_GT(g_Log.shows, 0);
}

TEST_F(PanelTest, SaveUnderANewCameraStoresItAtOnceAfterRowZeroAndDeleteKeepsRowZero)
{
    OpenPanel(320, 240, 3, L"", L"", L"");
    bool timedOut = false;
    DriveDialog(
        [&]
        {
            Click(IDC_PANEL_SAVE);
            return INT_PTR(0);
        },
        [](HWND dlg)
        {
            SetDlgItemTextW(dlg, IDC_ADDCFG_CAMERA, L"Zeta / Z1");
            SetDlgItemTextW(dlg, IDC_ADDCFG_ISO, L"12");
            PostMessageW(dlg, WM_COMMAND, IDOK, 0);
        },
        &timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(SendDlgItemMessageW(m_panel, IDC_PANEL_CAMERA, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(Text(IDC_PANEL_CAMERA), L"Zeta / Z1");
    EXPECT_EQ(Text(IDC_PANEL_ISO), L"16");  // the ISO as stored, found again
    EXPECT_EQ(g_iCameraRow, 1u);
    {
        // Written at once: a panel made again (after a batch run) reads the edit back.
        CameraIsoTable reread;
        reread.Load();
        ASSERT_EQ(reread.m_uiCameraCount, 2u);
        EXPECT_STREQ(reread.m_pCameras[1].m_wcsCameraName, L"Zeta / Z1");
        EXPECT_NEAR(reread.m_pCameras[1].m_pSettings[0].m_dImmerkaerY, g_NoiseSigma.m_dLuma, 0.01);
    }

    // "No": only this entry; it was the camera's last, so the camera goes and row 0 is chosen.
    DriveDialog(
        [&]
        {
            Click(IDC_PANEL_DELETE);
            return INT_PTR(0);
        },
        [](HWND dlg) { PostMessageW(dlg, WM_COMMAND, IDNO, 0); }, &timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(Text(IDC_PANEL_CAMERA), L"<<Unknown Camera>>");
    EXPECT_EQ(SendDlgItemMessageW(m_panel, IDC_PANEL_CAMERA, CB_GETCOUNT, 0, 0), 1);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(m_panel, IDC_PANEL_DELETE)));
    CameraIsoTable reread;
    reread.Load();
    EXPECT_EQ(reread.m_uiCameraCount, 1u);
    EXPECT_EQ(reread.m_pCameras[0].m_uiISOCount, 1u);
}

TEST_F(PanelTest, TogglingManualTuningTwiceRestoresTheLayoutAndTheStoredSetting)
{
    OpenPanel(320, 240, 3, L"Canon", L"EOS 5D", L"100");
    const RECT def = ChildRect(m_panel, IDC_PANEL_SET_DEFAULT), summary = ChildRect(m_panel, IDC_PANEL_SUMMARY);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(m_panel, IDC_PANEL_STRENGTH)));
    proftest::SaveScreenshot(m_main, L"panel-editing");
    Click(IDC_PANEL_TUNING);
    EXPECT_EQ(ReadSettingInt(L"ShowManualTunning", 7), 0);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(m_panel, IDC_PANEL_STRENGTH)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(m_panel, IDC_PANEL_SET_DEFAULT)));
    EXPECT_LT(ChildRect(m_panel, IDC_PANEL_SUMMARY).top, summary.top);
    proftest::SaveScreenshot(m_main, L"panel-tuning-hidden");
    Click(IDC_PANEL_TUNING);
    EXPECT_EQ(ReadSettingInt(L"ShowManualTunning", 7), 1);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(m_panel, IDC_PANEL_SET_DEFAULT)));
    const RECT defAgain = ChildRect(m_panel, IDC_PANEL_SET_DEFAULT);
    EXPECT_TRUE(EqualRect(&def, &defAgain));
    const RECT again = ChildRect(m_panel, IDC_PANEL_SUMMARY);
    EXPECT_TRUE(EqualRect(&summary, &again));
}

TEST_F(PanelTest, DenoiseAbortDoneAndRedefineMoveThroughTheJobStates)
{
    OpenPanel();
    HWND denoise = GetDlgItem(m_panel, IDC_PANEL_DENOISE);
    ASSERT_TRUE(IsWindowEnabled(denoise));
    CheckDlgButton(m_panel, IDC_PANEL_MEDIAN_NONE, BST_UNCHECKED);
    CheckDlgButton(m_panel, IDC_PANEL_MEDIAN_STRONG, BST_CHECKED);
    Click(IDC_PANEL_MEDIAN_STRONG);
    Click(IDC_PANEL_DENOISE);
    proftest::SaveScreenshot(m_main, L"panel-running");
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    EXPECT_EQ(g_iPanelState, kPanelRunning);
    EXPECT_EQ(g_Log.startJobs, 1);
    EXPECT_EQ(g_Log.jobWParam,
              static_cast<WPARAM>(MAKELONG(Pos(m_panel, IDC_PANEL_STRENGTH), Pos(m_panel, IDC_PANEL_CHROMA))));
    EXPECT_EQ(g_Log.jobLParam,
              static_cast<LPARAM>(MAKELONG(Pos(m_panel, IDC_PANEL_LARGE), Pos(m_panel, IDC_PANEL_DYNAMICS))));
    EXPECT_EQ(g_DenoiseJobParams.iUseMedian, 2);
    EXPECT_EQ(Text(IDC_PANEL_DENOISE), L"Abort");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(m_panel, IDC_PANEL_STRENGTH)));
    // A running job ignores the trackbars and drags.
    const int runs = g_iPreviewRuns;
    SendMessageW(m_panel, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 900),
                 reinterpret_cast<LPARAM>(GetDlgItem(m_panel, IDC_PANEL_STRENGTH)));
    EXPECT_NE(Text(IDC_PANEL_STRENGTH_VALUE), L"45.0");
    Drag(WindowPoint(160, 120), WindowPoint(200, 150));
    EXPECT_EQ(g_iPreviewRuns, runs);

    Click(IDC_PANEL_DENOISE);  // Abort
    EXPECT_EQ(g_bAbort, 1);
    SendMessageW(m_panel, WM_HPX_JOB_FAILED, 0, 0);
    EXPECT_EQ(g_iPanelState, kPanelEditing);
    EXPECT_EQ(g_bAbort, 0);
    EXPECT_EQ(Text(IDC_PANEL_DENOISE), L"Denoise >>");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(m_panel, IDC_PANEL_STRENGTH)));
    EXPECT_EQ(g_iPreviewRuns, runs + 1);

    // Tiny details doubled; the finished run (here: the source as its result) gets the gains
    // as one pyramid of the whole image would give them.
    HWND sharp = GetDlgItem(m_panel, IDC_PANEL_SHARP1);
    SendMessageW(m_panel, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 10), reinterpret_cast<LPARAM>(sharp));
    Click(IDC_PANEL_DENOISE);
    ASSERT_EQ(g_iPanelState, kPanelRunning);
    CopyImagePixels(&m_doc.m_Result, &m_doc.m_Source);
    ImageBuffer expected;
    InitImage(&expected);
    ASSERT_EQ(CopyImageLayout(&expected, &m_doc.m_Source), kImageOk);
    CopyImagePixels(&expected, &m_doc.m_Source);
    ImagePyramid pyramid{};
    ASSERT_FALSE(BuildImagePyramid(&pyramid, &expected, 3, 8));
    ASSERT_EQ(ApplyDetailGains(&expected, &pyramid, 2.0, 1.0, 1.0), kImageOk);
    ReleaseImagePyramid(&pyramid);
    SendMessageW(m_panel, WM_HPX_JOB_DONE, 0, 0);
    EXPECT_EQ(std::memcmp(expected.m_pData, m_doc.m_Result.m_pData, expected.m_iSize), 0);
    EXPECT_NE(std::memcmp(m_doc.m_Source.m_pData, m_doc.m_Result.m_pData, expected.m_iSize), 0);
    ReleaseImage(&expected);
    EXPECT_EQ(g_iPanelState, kPanelDone);
    EXPECT_EQ(Text(IDC_PANEL_DENOISE), L"Redefine");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(m_panel, IDC_PANEL_SET_DEFAULT)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(m_panel, IDC_PANEL_STRENGTH)));
    proftest::SaveScreenshot(m_main, L"panel-done");

    Click(IDC_PANEL_DENOISE);  // Redefine: editing again with the same entry and a fresh preview
    EXPECT_EQ(g_iPanelState, kPanelEditing);
    EXPECT_EQ(Text(IDC_PANEL_DENOISE), L"Denoise >>");
    EXPECT_EQ(g_iPreviewRuns, runs + 2);
    EXPECT_EQ(IsDlgButtonChecked(m_panel, IDC_PANEL_MEDIAN_STRONG), BST_CHECKED);
}

TEST_F(PanelTest, AProfileFileThatCannotBeReadIsNeitherReadPastNorLost)
{
    // Saved by hand in another encoding: UTF-16 with its byte-order mark.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("[General]\r\nNo Of Cameras = 1\r\n")) utf16 += std::string(1, c) + '\0';
    proftest::WriteBytes(UserProfile(), utf16);
    OpenPanel(320, 240, 3, L"Canon", L"EOS 5D", L"");
    EXPECT_EQ(Text(IDC_PANEL_CAMERA), L"<<Unknown Camera>>");
    EXPECT_FALSE(Text(IDC_PANEL_STRENGTH_VALUE).empty());
    EXPECT_GT(g_iPreviewRuns, 0);
    ClosePanel();
    // What the user had is still there, in the file or kept beside it.
    const bool kept =
        proftest::ReadBytes(UserProfile()) == utf16 || proftest::ReadBytes(UserProfile() + L".bak") == utf16;
    EXPECT_TRUE(kept);
}

TEST_F(PanelTest, APanelMadeAgainWhileTheFirstStillExistsKeepsWorkingWhenTheFirstGoes)
{
    OpenPanel();
    HWND first = m_panel;
    m_panel = nullptr;
    OpenPanel();  // as after a batch run
    SendMessageW(first, WM_COMMAND, IDOK, 0);
    DestroyWindow(first);
    EXPECT_EQ(g_hPanelDlg, m_panel);
    const auto image =
        reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(m_panel, IDC_PANEL_SAVE, BM_GETIMAGE, IMAGE_BITMAP, 0));
    EXPECT_EQ(GetObjectType(image), static_cast<DWORD>(OBJ_BITMAP));
    const int runs = g_iPreviewRuns;
    Drag(WindowPoint(160, 120), WindowPoint(170, 130));
    EXPECT_EQ(g_iPreviewRuns, runs + 1);
}

TEST_F(PanelTest, APreviewWithoutMemoryIsToldAndTriedAgainAtTheNextRelease)
{
    OpenPanel(320, 240);
    const ImageBuffer& src = m_doc.m_Source;
    const ImageBuffer& res = m_doc.m_Result;
    // Set Default re-runs the preview, whose crop (200 x 200 x 3 bytes and more) gets no memory.
    const std::vector<std::wstring> boxes = AnswerMessageBoxes(
        [&]
        {
            FailAllocationsFrom(100000);
            Click(IDC_PANEL_SET_DEFAULT);
            FailAllocationsFrom(0);
        });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find(L"Not enough memory"), std::wstring::npos);
    EXPECT_TRUE(SameRect(src, res, 0, 0, 320, 240));  // nothing passes for denoised
    // The next release over the image, with memory to spare, denoises the rectangle.
    const POINT at = WindowPoint(160, 120);
    SendMessageW(m_panel, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    EXPECT_FALSE(SameRect(src, res, 60, 20, 260, 220));
    EXPECT_TRUE(SameRect(src, res, 0, 0, 60, 240));
}

TEST_F(PanelTest, DetailGainsThatRunOutOfMemoryPartWayLeaveTheRunsResultWholeAndSaySo)
{
    // High enough for the gains to go in several strips when memory runs short.
    OpenPanel(320, 512);
    SendMessageW(m_panel, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 10),
                 reinterpret_cast<LPARAM>(GetDlgItem(m_panel, IDC_PANEL_SHARP1)));
    const ImageBuffer& src = m_doc.m_Source;
    ImageBuffer& res = m_doc.m_Result;
    // A run (its result: the source) ends while allocations from the given size on fail.
    auto finishRun = [&](size_t failFrom)
    {
        Click(IDC_PANEL_DENOISE);
        EXPECT_EQ(g_iPanelState, kPanelRunning);
        CopyImagePixels(&res, &src);
        const std::vector<std::wstring> boxes = AnswerMessageBoxes(
            [&]
            {
                FailAllocationsFrom(failFrom);
                SendMessageW(m_panel, WM_HPX_JOB_DONE, 0, 0);
                FailAllocationsFrom(0);
            });
        EXPECT_EQ(g_iPanelState, kPanelDone);
        return boxes.size();
    };
    ASSERT_EQ(finishRun(0), 0u);
    ImageBuffer gained;
    InitImage(&gained);
    ASSERT_EQ(CopyImageLayout(&gained, &res), kImageOk);
    CopyImagePixels(&gained, &res);
    ASSERT_NE(std::memcmp(gained.m_pData, src.m_pData, src.m_iSize), 0);
    // From plenty down to too little for a copy of the picture: every strip or none.
    for (size_t from = 1u << 20; from > 200000; from = from * 85 / 100)
    {
        Click(IDC_PANEL_DENOISE);  // Redefine
        const size_t notices = finishRun(from);
        const bool whole = std::memcmp(res.m_pData, gained.m_pData, res.m_iSize) == 0;
        const bool none = std::memcmp(res.m_pData, src.m_pData, res.m_iSize) == 0;
        EXPECT_TRUE(whole || none) << from << " bytes";
        EXPECT_EQ(notices, whole ? 0u : 1u) << from << " bytes";
    }
    ReleaseImage(&gained);
}
