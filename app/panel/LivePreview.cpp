// The live side of the parameter panel: the image's noise estimate, the preview rectangle that
// the user drags over the image, the denoising of that rectangle (with a margin) pasted into the
// document's result, and the job states editing -> running -> finished with the Denoise button.
#include "app/panel/PanelInternal.h"

#include <commctrl.h>
#include <cmath>

#include "app/job/JobDispatch.h"
#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"
#include "app/window/ViewNavigation.h"
#include "app/window/WindowMessages.h"
#include "engine/DenoiseImage.h"
#include "engine/DetailGainsInStrips.h"
#include "engine/ImageConvert.h"
#include "engine/ImagePyramid.h"
#include "engine/NoiseEstimate.h"
#include "gpu/GpuProtocol.h"
#include "plugin/panel_ids.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Localisation.h"
#include "ui/DockerPanel.h"

NoiseSigma g_NoiseSigma = {0.0, 0.0};
double g_dGreyNoiseSigma = 0.0;
double g_PreviewRect[4] = {0, 0, 0, 0};
int32_t g_rcPreviewPixels[4] = {0, 0, 0, 0};
int32_t g_rcLastPadded[4] = {0, 0, 0, 0};
int g_iPreviewRuns = 0;

namespace
{

constexpr int kPreviewMargin = 41;  // context around the visible rectangle for the filter
constexpr int kPreviewHalf = 100;   // half the edge of the preview rectangle

ImageBuffer g_PreviewCrop;      // the denoised, sharpened crop pasted into the result
ImageBuffer g_PreviewDenoised;  // the denoised padded crop of the last run
ImageBuffer g_NoiseWork;        // 8-bit copy of the source for the noise estimate
uint8_t g_bDraggingRect = 0;
bool g_bPreviewFailed = false;  // the last preview could not be made (the user has been told)
POINT g_ptLast = {0, 0};        // last pointer position (main window client coordinates)
POINT g_ptAnchor = {0, 0};      // drag anchor

const ImageBuffer* Source() { return g_pPanelDoc ? &g_pPanelDoc->m_Source : nullptr; }
ImageBuffer* Result() { return g_pPanelDoc ? &g_pPanelDoc->m_Result : nullptr; }

bool SourceUsable()
{
    const ImageBuffer* s = Source();
    return s && s->m_pData && s->m_iWidth > 0 && s->m_iHeight > 0 && s->m_iChannels > 0 && s->m_iBits > 0;
}

void SendMain(UINT msg)
{
    if (g_hMainWnd) SendMessageW(g_hMainWnd, msg, 0, 0);
}

// Rounds x to the nearest integer and caps it at limit; a result below 1 gives 0.
int32_t RoundClamp(double x, int32_t limit)
{
    const int32_t v = static_cast<int32_t>(x + 0.5);
    const int32_t m = v < limit ? v : limit;
    if (m < 1) return 0;
    return v < limit ? v : limit;
}

void RectToPixels(int32_t out[4], const double in[4], int32_t width, int32_t height)
{
    out[0] = RoundClamp(in[0], width);
    out[1] = RoundClamp(in[1], height);
    out[2] = RoundClamp(in[2], width);
    out[3] = RoundClamp(in[3], height);
}

SimilarityTransform View()
{
    SimilarityTransform xf{};
    xf.Set(g_dViewX, g_dViewY, g_dImageX, g_dImageY, 0.0, g_dZoom);
    return xf;
}

// The preview rectangle in main-window client coordinates.
RECT PreviewRectOnWindow()
{
    const SimilarityTransform xf = View();
    int32_t l, t, r, b;
    xf.MapInverse(&l, &t, g_PreviewRect[0], g_PreviewRect[1]);
    xf.MapInverse(&r, &b, g_PreviewRect[2], g_PreviewRect[3]);
    return RECT{l, t, r, b};
}

// Copies an image into a fresh record; false when memory ran short (dst then empty).
bool CopyOf(ImageBuffer* dst, const ImageBuffer* src)
{
    ReleaseImage(dst);
    if (CopyImageLayout(dst, src) != kImageOk) return false;
    CopyImagePixels(dst, src);
    return true;
}

// The denoised padded crop with the detail gains, at the result's depth and channels; without
// memory for the pyramid the crop stays as the denoiser left it.
void SharpenedCrop(ImageBuffer* out, const ImageBuffer* denoised, const ImageBuffer* result)
{
    ImageBuffer c;
    InitImage(&c);
    if (CopyOf(&c, denoised) && ConvertImage(&c, c.m_iBits, 3) == kImageOk)
    {
        ImagePyramid pyramid{};
        if (!BuildImagePyramid(&pyramid, &c, 3, 8) && CopyOf(out, &c))
        {
            if (ApplyDetailGains(out, &pyramid, g_CurrentIsoSettings.m_dSharp1, g_CurrentIsoSettings.m_dSharp2,
                                 g_CurrentIsoSettings.m_dSharp3) != kImageOk)
                CopyImagePixels(out, &c);
            if (ConvertImage(out, result->m_iBits, result->m_iChannels) != kImageOk) ReleaseImage(out);
        }
        ReleaseImagePyramid(&pyramid);
    }
    ReleaseImage(&c);
    if (!out->m_pData) CopyOf(out, denoised);
}

// The detail gains on the whole result of a run, all or nothing. They go on strip by strip (a
// pyramid of the whole picture does not fit a 32-bit process at today's camera sizes) into a copy,
// which replaces the result only when every strip got them: memory running out part-way would
// otherwise leave a seam between sharpened and unsharpened rows. Otherwise the run's result stays.
unsigned char ApplyGainsToRun(ImageBuffer* result)
{
    if (!result || !result->m_pData) return kImageBadArgs;
    const double g1 = g_CurrentIsoSettings.m_dSharp1, g2 = g_CurrentIsoSettings.m_dSharp2;
    const double g3 = g_CurrentIsoSettings.m_dSharp3;
    if (DetailGainsAreNeutral(g1, g2, g3)) return kImageOk;
    ImageBuffer gained;
    InitImage(&gained);
    unsigned char rc = CopyOf(&gained, result) ? ApplyDetailGainsInStrips(&gained, g1, g2, g3, 3, 8) : kImageNoMemory;
    if (rc == kImageOk) CopyImagePixels(result, &gained);
    ReleaseImage(&gained);
    return rc;
}

void SetDenoiseText(HWND hDlg, int text) { SetDlgItemTextW(hDlg, IDC_PANEL_DENOISE, g_LocStrings[text]); }

// The image summary of the information strings, hidden when all are empty.
void ShowImageSummary(HWND hDlg)
{
    HWND summary = GetDlgItem(hDlg, IDC_PANEL_SUMMARY);
    const ImageInfoStrings* info = g_pPanelDoc ? &g_pPanelDoc->m_Info : nullptr;
    if (!info || info->IsEmpty())
    {
        ShowWindow(summary, SW_HIDE);
        return;
    }
    struct Group
    {
        const wchar_t* label;
        const wchar_t* value;
        const wchar_t* sep;
    };
    const ImageInfoStrings& s = *info;
    const Group groups[] = {
        {g_LocStrings[kLocMaker], s[ImageInfoStrings::kMake], L"\n"},
        {g_LocStrings[kLocType], s[ImageInfoStrings::kModel], L"\n"},
        {g_LocStrings[kLocResolution], s[ImageInfoStrings::kResolution], L"\n"},
        {L"ISO:", s[ImageInfoStrings::kIso], L", "},
        {g_LocStrings[kLocFNumber], s[ImageInfoStrings::kAperture], L"\n"},
        {g_LocStrings[kLocExposure], s[ImageInfoStrings::kExposure], L"\n"},
    };
    const wchar_t* a[20];
    for (int i = 0; i < 6; ++i)
    {
        const bool present = groups[i].value[0] != 0;
        a[3 * i] = present ? groups[i].label : L"";
        a[3 * i + 1] = present ? groups[i].value : L"";
        a[3 * i + 2] = present ? groups[i].sep : L"";
    }
    const bool date = s[ImageInfoStrings::kDate][0] != 0;
    a[18] = date ? g_LocStrings[kLocCaptured] : L"";
    a[19] = date ? s[ImageInfoStrings::kDate] : L"";
    wchar_t text[1024];
    FormatText(text, L"%s  %s%s%s  %s%s%s  %s%s%s  %s%s%s  %s%s%s  %s%s%s  %s", a[0], a[1], a[2], a[3], a[4], a[5],
               a[6], a[7], a[8], a[9], a[10], a[11], a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19]);
    SetWindowTextW(summary, text);
    ShowWindow(summary, SW_SHOW);
}

void BackToEditing(HWND hDlg)
{
    g_iPanelState = kPanelEditing;
    RECT docker{};
    if (g_hDockerWnd) GetWindowRect(g_hDockerWnd, &docker);
    SendMessageW(hDlg, WM_HPX_IMAGE_LOADED, static_cast<WPARAM>(docker.left), 1);
}

void StartRun(HWND hDlg)
{
    g_hPanelDlg = hDlg;
    EnablePanelInputs(hDlg, false);
    UpdateWindow(hDlg);
    SendDlgItemMessageW(hDlg, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    ShowWindow(GetDlgItem(hDlg, IDC_PROGRESS), SW_SHOW);
    SetDenoiseText(hDlg, kLocAbort);
    g_PreviewView.m_pPreviewRect = nullptr;
    g_bAbort = 0;
    auto pos = [hDlg](int id) { return static_cast<WORD>(SendDlgItemMessageW(hDlg, id, TBM_GETPOS, 0, 0)); };
    const WORD strength = pos(IDC_PANEL_STRENGTH), large = pos(IDC_PANEL_LARGE);
    const WORD chroma = pos(IDC_PANEL_CHROMA), dynamics = pos(IDC_PANEL_DYNAMICS);
    g_DenoiseJobParams.iUseMedian = g_CurrentIsoSettings.m_iUseMedian;
    g_iPanelState = kPanelRunning;
    EnableOtherPanels(hDlg, false);
    if (!g_hMainWnd ||
        !PostMessageW(g_hMainWnd, WM_HPX_START_JOB, MAKELONG(strength, chroma), MAKELONG(large, dynamics)))
        OnJobFailed(hDlg);
}

void AbortRun()
{
    g_bAbort = 1;
    if (HWND gpu = FindWindowW(HPX_GPU_WINDOW_CLASS, HPX_GPU_WINDOW_TITLE)) PostMessageW(gpu, WM_HPX_CANCEL, 0, 0);
}

}  // namespace

void ResetPreviewState()
{
    for (int i = 0; i < 4; ++i)
    {
        g_rcLastPadded[i] = 0;
        g_rcPreviewPixels[i] = 0;
        g_PreviewRect[i] = 0;
    }
    g_bDraggingRect = 0;
    g_bOverPreviewRect = 0;
    g_iPreviewRuns = 0;
    g_bPreviewFailed = false;
}

void ReleasePanelImages()
{
    ReleaseImage(&g_PreviewCrop);
    ReleaseImage(&g_PreviewDenoised);
    ReleaseImage(&g_NoiseWork);
}

bool EstimatePanelNoise(HWND hDlg, bool atImageLoad)
{
    const ImageBuffer* src = Source();
    if (!SourceUsable()) return true;
    // Each step checks its memory: a large 16-bit image in a 32-bit host may not get a copy.
    bool ok = CopyOf(&g_NoiseWork, src) && ConvertImage(&g_NoiseWork, 8, 1) == kImageOk;
    if (ok) g_dGreyNoiseSigma = EstimateNoiseImmerkaerPlane(&g_NoiseWork);
    if (ok && src->m_iChannels == 3)
    {
        ImageBuffer ycc;
        InitImage(&ycc);
        ok = CopyOf(&g_NoiseWork, src) && ConvertImage(&g_NoiseWork, 8, 3) == kImageOk &&
            CopyImageLayout(&ycc, &g_NoiseWork) == kImageOk && RgbToYCbCr(&ycc, &g_NoiseWork) == kImageOk;
        if (ok) EstimateNoiseImmerkaer(&g_NoiseSigma, &ycc);
        ReleaseImage(&ycc);
    }
    else if (ok)
    {
        g_NoiseSigma.m_dLuma = g_dGreyNoiseSigma;
        if (atImageLoad) g_NoiseSigma.m_dChroma = 0.0;
    }
    // The work copy is needed only for the estimate.
    ReleaseImage(&g_NoiseWork);
    if (!ok)
    {
        SetPanelCursor(hDlg, IDC_ARROW, WM_HPX_CURSOR_ARROW);
        PanelMessage(hDlg, kLocNotEnoughMemory, kLocWarning, MB_OK | MB_ICONWARNING);
    }
    return !ok;
}

void RunPreview(HWND hDlg, WPARAM wParam)
{
    if (!SourceUsable() || g_iPanelState != kPanelEditing || !Result() || !Result()->m_pData) return;
    const ImageBuffer* src = Source();
    ImageBuffer* result = Result();
    SetPanelCursor(hDlg, IDC_WAIT, WM_HPX_CURSOR_WAIT);
    const int32_t W = src->m_iWidth, H = src->m_iHeight;
    RectToPixels(g_rcPreviewPixels, g_PreviewRect, W, H);
    const int32_t left = g_rcPreviewPixels[0], top = g_rcPreviewPixels[1];
    const int32_t right = g_rcPreviewPixels[2], bottom = g_rcPreviewPixels[3];
    ReleaseImage(&g_PreviewCrop);
    if (right > left && bottom > top)
        CreateImage(&g_PreviewCrop, right - left, bottom - top, src->m_iChannels, src->m_iBits);

    const double grown[4] = {double(left - kPreviewMargin), double(top - kPreviewMargin),
                             double(right + kPreviewMargin), double(bottom + kPreviewMargin)};
    int32_t P[4];
    RectToPixels(P, grown, W, H);
    for (int i = 0; i < 4; ++i) P[i] = RoundClamp(P[i], i % 2 ? H : W);
    const bool same = P[0] == g_rcLastPadded[0] && P[1] == g_rcLastPadded[1] && P[2] == g_rcLastPadded[2] &&
        P[3] == g_rcLastPadded[3];
    if (same && wParam != 1)
    {
        SetPanelCursor(hDlg, IDC_ARROW, WM_HPX_CURSOR_ARROW);
        g_bDraggingRect = 0;
        return;
    }

    ImageBuffer a, b, d;
    InitImage(&a);
    InitImage(&b);
    InitImage(&d);
    const bool paddedHasArea = P[2] > P[0] && P[3] > P[1];
    bool ok = paddedHasArea && CreateImage(&a, P[2] - P[0], P[3] - P[1], src->m_iChannels, src->m_iBits) == kImageOk &&
        CopyImageLayout(&b, &a) == kImageOk;
    if (ok)
    {
        CopyImageRect(&a, src, 0, 0, P[0], P[1], a.m_iWidth, a.m_iHeight);
        ++g_iPreviewRuns;
        ok = DenoiseImage(&b, &a, g_CurrentIsoSettings.m_dStrength, g_CurrentIsoSettings.m_dStrengthChroma,
                          g_CurrentIsoSettings.m_dStrengthChromaLarge, g_iQualityMode, g_CurrentIsoSettings.m_dDynamics,
                          nullptr, true, false, false, g_CurrentIsoSettings.m_iUseMedian) == kImageOk;
    }
    ReleaseImage(&a);
    ReleaseImage(&g_PreviewDenoised);
    if (ok)
    {
        g_PreviewDenoised = b;  // the record takes over B's block
        InitImage(&b);
        SharpenedCrop(&d, &g_PreviewDenoised, result);
        if (g_PreviewCrop.m_pData && d.m_pData)
            CopyImageRect(&g_PreviewCrop, &d, 0, 0, left - P[0], top - P[1], g_PreviewCrop.m_iWidth,
                          g_PreviewCrop.m_iHeight);
        else
            ReleaseImage(&g_PreviewCrop);
    }
    else
    {
        ReleaseImage(&g_PreviewCrop);
    }
    ReleaseImage(&b);
    ReleaseImage(&d);
    SetPanelCursor(hDlg, IDC_ARROW, WM_HPX_CURSOR_ARROW);

    CopyImagePixels(result, src);
    g_bDraggingRect = 0;
    if (g_PreviewCrop.m_pData)
        CopyImageRect(result, &g_PreviewCrop, left, top, 0, 0, g_PreviewCrop.m_iWidth, g_PreviewCrop.m_iHeight);
    SendMain(WM_HPX_REFRESH_RESULT);
    // A preview that could not be made (memory ran short) leaves the source showing, is told once
    // until a preview succeeds again, and is not recorded as done: the next release of the
    // rectangle tries the same place again.
    const bool failed = (paddedHasArea && !ok) || (right > left && bottom > top && !g_PreviewCrop.m_pData);
    for (int i = 0; i < 4; ++i) g_rcLastPadded[i] = failed ? 0 : P[i];
    if (failed && !g_bPreviewFailed) PanelMessage(hDlg, kLocNotEnoughMemory, kLocWarning, MB_OK | MB_ICONWARNING);
    g_bPreviewFailed = failed;
}

void OnPanelImageLoaded(HWND hDlg, WPARAM wParam, LPARAM lParam)
{
    ShowWindow(GetDlgItem(hDlg, IDC_PROGRESS), SW_HIDE);
    SendDlgItemMessageW(hDlg, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    EnablePanelInputs(hDlg, true);
    SetDenoiseText(hDlg, kLocDenoiseButton);
    g_bAbort = 0;
    SetPanelCursor(hDlg, IDC_WAIT, WM_HPX_CURSOR_WAIT);
    RECT r{};
    if (g_hMainWnd) GetWindowRect(g_hMainWnd, &r);
    for (int i = 0; i < 4; ++i) g_rcLastPadded[i] = 0;
    g_PreviewView.m_pPreviewRect = g_rcPreviewPixels;
    g_iPanelState = kPanelEditing;
    EnableOtherPanels(hDlg, true);
    g_bDraggingRect = 0;
    g_bOverPreviewRect = 0;
    if (g_hMainWnd)
        SetClassLongPtrW(g_hMainWnd, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_WAIT)));
    SetPanelCursor(hDlg, IDC_WAIT, 0);

    EstimatePanelNoise(hDlg, true);

    const int32_t cx = (static_cast<int32_t>(static_cast<int>(wParam)) - r.left) / 2;
    const int32_t cy = (r.bottom - r.top) / 2;
    double X = 0, Y = 0;
    View().MapForward(&X, &Y, cx, cy);
    const double ix = std::floor(X + 0.5), iy = std::floor(Y + 0.5);
    const ImageBuffer* result = Result();
    const double W = result ? result->m_iWidth : 0, H = result ? result->m_iHeight : 0;
    g_PreviewRect[0] = ix - kPreviewHalf > 0 ? ix - kPreviewHalf : 0;
    g_PreviewRect[1] = iy - kPreviewHalf > 0 ? iy - kPreviewHalf : 0;
    g_PreviewRect[2] = ix + kPreviewHalf < W ? ix + kPreviewHalf : W;
    g_PreviewRect[3] = iy + kPreviewHalf < H ? iy + kPreviewHalf : H;

    ShowImageSummary(hDlg);
    if (lParam <= 0) SelectProfileForImage(hDlg);
    SendMessageW(hDlg, WM_LBUTTONUP, 1, 0);
    UpdateWindow(hDlg);
    if (g_hMainWnd) SetFocus(g_hMainWnd);
    SetPanelCursor(hDlg, IDC_ARROW, WM_HPX_CURSOR_ARROW);
    EnableWindow(GetDlgItem(hDlg, IDC_PANEL_DENOISE), SourceUsable());
}

void OnPanelMouseMove(HWND hDlg, WPARAM wParam, LPARAM lParam)
{
    g_ptLast = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (g_iPanelState != kPanelEditing) return;
    const RECT rc = PreviewRectOnWindow();
    POINT cursor{};
    GetCursorPos(&cursor);
    RECT panel{};
    GetWindowRect(hDlg, &panel);
    if (PtInRect(&panel, cursor))
    {
        g_bOverPreviewRect = 0;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return;
    }
    g_bOverPreviewRect = (PointInRect(g_ptLast, rc) || g_bDraggingRect) ? 1 : 0;
    SetCursor(LoadCursorW(nullptr, g_bOverPreviewRect ? IDC_SIZEALL : IDC_ARROW));
    if (wParam == MK_LBUTTON && g_bOverPreviewRect && g_bDraggingRect && g_dZoom > 0)
    {
        const double dx = g_ptLast.x - g_ptAnchor.x, dy = g_ptLast.y - g_ptAnchor.y;
        g_ptAnchor = g_ptLast;
        g_PreviewRect[0] += dx / g_dZoom;
        g_PreviewRect[2] += dx / g_dZoom;
        g_PreviewRect[1] += dy / g_dZoom;
        g_PreviewRect[3] += dy / g_dZoom;
        SendMessageW(hDlg, WM_HPX_PREVIEW_RECT_MOVED, 0, 0);
    }
}

void OnPanelLButtonDown(HWND hDlg, WPARAM, LPARAM lParam)
{
    const RECT rc = PreviewRectOnWindow();
    if (g_iPanelState != kPanelEditing || !PointInRect(g_ptLast, rc)) return;
    SetPanelCursor(hDlg, IDC_SIZEALL, WM_HPX_CURSOR_MOVE);
    g_ptAnchor = g_ptLast = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    g_bDraggingRect = 1;
}

void OnPreviewRectMoved(HWND)
{
    if (g_iPanelState != kPanelEditing) return;
    const ImageBuffer* src = Source();
    if (src) RectToPixels(g_rcPreviewPixels, g_PreviewRect, src->m_iWidth, src->m_iHeight);
    SendMain(WM_HPX_SHOW_RESULT);
}

void OnDenoiseButton(HWND hDlg)
{
    if (g_iPanelState == kPanelEditing)
        StartRun(hDlg);
    else if (g_iPanelState == kPanelRunning)
        AbortRun();
    else if (g_iPanelState == kPanelDone)
        BackToEditing(hDlg);
}

void OnJobDone(HWND hDlg)
{
    if (g_iPanelState != kPanelRunning) return;
    SetPanelCursor(hDlg, IDC_WAIT, WM_HPX_CURSOR_WAIT);
    const unsigned char rc = ApplyGainsToRun(Result());
    SendMain(WM_HPX_REFRESH_RESULT);
    SetPanelCursor(hDlg, IDC_ARROW, WM_HPX_CURSOR_ARROW);
    ShowWindow(GetDlgItem(hDlg, IDC_PROGRESS), SW_HIDE);
    ShowWindow(GetDlgItem(hDlg, IDC_PANEL_SET_DEFAULT), SW_HIDE);
    SetDenoiseText(hDlg, kLocRedefine);
    g_iPanelState = kPanelDone;
    // The run's result stands; the user learns that its detail gains are missing.
    if (rc == kImageNoMemory) PanelMessage(hDlg, kLocNotEnoughMemory, kLocWarning, MB_OK | MB_ICONWARNING);
}

void OnJobFailed(HWND hDlg)
{
    ShowWindow(GetDlgItem(hDlg, IDC_PROGRESS), SW_HIDE);
    SendDlgItemMessageW(hDlg, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    EnablePanelInputs(hDlg, true);
    SetDenoiseText(hDlg, kLocDenoiseButton);
    g_bAbort = 0;
    SendMessageW(hDlg, WM_HPX_SET_STATE, 0, kPanelEditing);
    EnableOtherPanels(hDlg, true);
    UpdateWindow(hDlg);
    if (SourceUsable() && Result() && Result()->m_pData) CopyImagePixels(Result(), Source());
    g_PreviewView.m_pPreviewRect = g_rcPreviewPixels;
    SendMain(WM_HPX_REFRESH_RESULT);
    SendMessageW(hDlg, WM_LBUTTONUP, 1, 0);
}
