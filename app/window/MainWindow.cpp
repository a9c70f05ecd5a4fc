// The plug-in's main window: creation, layout, painting, commands, private messages and the
// hand-back of the document when it is destroyed. The toolbar and zoom box are in
// MainToolbar.cpp, view navigation in ViewNavigation.cpp.
#include "app/window/MainWindow.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <utility>

#include "app/batch/BatchCommand.h"
#include "app/batch/BatchThread.h"
#include "app/dialogs/OptionsDialog.h"
#include "app/files/FileCommands.h"
#include "app/job/JobDispatch.h"
#include "app/panel/ParameterPanel.h"
#include "plugin/panel_ids.h"
#include "app/view/BackBuffer.h"
#include "app/view/PreviewView.h"
#include "app/window/MainToolbar.h"
#include "app/window/ViewNavigation.h"
#include "app/window/WindowMessages.h"
#include "imagefiles/ExifReader.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"
#include "plugin/skin_ids.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ControlSkin.h"
#include "ui/DockerPanel.h"
#include "ui/ScopedWin32.h"

MainWindowHost g_WindowHost = {};
HINSTANCE g_hInstance = nullptr;
HWND g_hMainWnd = nullptr;
HWND g_hToolbar = nullptr;
HWND g_hStatusBar = nullptr;
HWND g_hZoomBox = nullptr;
WNDPROC g_pfnZoomBoxProc = nullptr;
HWND g_hDockerWnd = nullptr;
HWND g_hPanelDlg = nullptr;
HANDLE g_hBatchThread = nullptr;
HWND g_hBatchProgressDlg = nullptr;
HANDLE g_hJobThread = nullptr;
uint8_t g_bUiNotReady = 0;
volatile uint8_t g_bBatchRunning = 0;
int g_iQualityMode = 3;
wchar_t g_wszImagePath[1024] = {};
int g_iPanelState = 0;
uint8_t g_bOverPreviewRect = 0;
bool g_bDocumentIsHostImage = false;

namespace
{

const wchar_t kMakerWebAddress[] = L"http://www.orvtools.com/hushpix";

// What the window must release when it goes (the toolbar's images and the zoom box's font are
// the toolbar's own, see MainToolbar.cpp).
struct WindowResources
{
    ScopedComInit com;  // for the window's life
    bool memoryNoticeShown;
} g_Res = {};

// ---- layout and painting -------------------------------------------------------------------

int ClientHeightOf(HWND h)
{
    RECT r = {0, 0, 0, 0};
    if (h) GetClientRect(h, &r);
    return r.bottom - r.top;
}

void OnSize(HWND hWnd)
{
    if (g_hStatusBar) SendMessageW(g_hStatusBar, WM_SIZE, 0, 0);
    if (g_hToolbar)
    {
        LayoutSpacer(hWnd);
        SendMessageW(g_hToolbar, TB_AUTOSIZE, 0, 0);
        if (g_hZoomBox) PlaceZoomBox();
    }
    if (g_hDockerWnd)
    {
        RECT c, d, t = {0, 0, 0, 0};
        GetClientRect(hWnd, &c);
        GetWindowRect(g_hDockerWnd, &d);
        if (g_hToolbar) GetWindowRect(g_hToolbar, &t);
        const int dockWidth = d.right - d.left;
        const int toolbarHeight = t.bottom - t.top;
        SetWindowPos(g_hDockerWnd, nullptr, c.right - dockWidth, toolbarHeight - 1, dockWidth,
                     c.bottom - toolbarHeight - ClientHeightOf(g_hStatusBar) + 1, SWP_NOZORDER);
    }
    RedrawView(kViewDenoised, true);
}

// The image area: below the toolbar, above the status bar.
RECT ViewArea(HWND hWnd)
{
    RECT v;
    GetClientRect(hWnd, &v);
    v.top = ClientHeightOf(g_hToolbar) + 3;
    v.bottom -= ClientHeightOf(g_hStatusBar);
    return v;
}

void OnPaint(HWND hWnd)
{
    const RECT view = ViewArea(hWnd);
    InvalidateRect(hWnd, &view, FALSE);
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hWnd, &ps);
    if (!hdc) return;
    if (ps.rcPaint.bottom != 0)
    {
        ps.rcPaint.top = view.top;
        ps.rcPaint.bottom = view.bottom;
    }
    if (g_hDockerWnd && IsWindowVisible(g_hDockerWnd))
    {
        RECT d;
        GetWindowRect(g_hDockerWnd, &d);
        ps.rcPaint.right -= d.right - d.left;
    }
    if (!g_BackBuffer.HasSurface())
    {
        // Without a surface nothing is drawn into it; the window says why the image is missing.
        if (ps.rcPaint.right > ps.rcPaint.left && ps.rcPaint.bottom > ps.rcPaint.top)
        {
            FillRect(hdc, &ps.rcPaint, GetSkinBrush(COLOR_APPWORKSPACE));
            SetBkMode(hdc, TRANSPARENT);
            SetTextColor(hdc, GetSkinColor(COLOR_WINDOWTEXT));
            RECT r = ps.rcPaint;
            DrawTextW(hdc, g_LocStrings[kLocViewOutOfMemory], -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
        EndPaint(hWnd, &ps);
        return;
    }
    // A client area larger than the surface: the part beyond it is background, never read from
    // outside the surface.
    RECT inside = ps.rcPaint;
    if (inside.right > g_BackBuffer.m_Surface.m_iWidth) inside.right = g_BackBuffer.m_Surface.m_iWidth;
    if (inside.bottom > g_BackBuffer.m_Surface.m_iHeight) inside.bottom = g_BackBuffer.m_Surface.m_iHeight;
    ScopedGdiObject<HBRUSH> grey(
        CreateSolidBrush(RGB(CBackBuffer::kBackground, CBackBuffer::kBackground, CBackBuffer::kBackground)));
    if (grey)
    {
        RECT rest = ps.rcPaint;
        if (ps.rcPaint.right > inside.right)
        {
            rest.left = inside.right > rest.left ? inside.right : rest.left;
            FillRect(hdc, &rest, grey.get());
        }
        rest = ps.rcPaint;
        if (ps.rcPaint.bottom > inside.bottom)
        {
            rest.top = inside.bottom > rest.top ? inside.bottom : rest.top;
            FillRect(hdc, &rest, grey.get());
        }
    }
    if (inside.right > inside.left && inside.bottom > inside.top)
    {
        PAINTSTRUCT clipped = ps;
        clipped.rcPaint = inside;
        g_BackBuffer.Blit(clipped);
    }
    EndPaint(hWnd, &ps);
}

void SetCursorOfClass(HWND hWnd, LPCWSTR cursor)
{
    HCURSOR c = LoadCursorW(nullptr, cursor);
    SetClassLongPtrW(hWnd, GCLP_HCURSOR, LONG_PTR(c));
    SetCursor(c);
}

void TellMemoryRanShort()
{
    if (g_Res.memoryNoticeShown) return;
    g_Res.memoryNoticeShown = true;
    ShowLocalizedMessage(kLocNotEnoughMemory, kLocWarning, MB_OK | MB_ICONWARNING);
}

// ---- creation --------------------------------------------------------------------------------

LRESULT OnCreate(HWND hWnd)
{
    g_bUiNotReady = 1;
    g_bBatchRunning = 0;
    g_Res.memoryNoticeShown = false;
    LoadSettings();
    LoadLocalizedStrings();
    g_hMainWnd = hWnd;
    if (g_bCrashedLastTime)
        MessageBoxW(hWnd, g_LocStrings[kLocCrashedLastTime], g_LocStrings[kLocWarning], MB_ICONINFORMATION);

    g_hStatusBar = CreateWindowExW(0, STATUSCLASSNAMEW, g_LocStrings[kLocOpenImageHint], WS_CHILD | WS_VISIBLE, 0, 0, 0,
                                   0, hWnd, HMENU(INT_PTR(IDC_MAIN_STATUSBAR)), g_hInstance, nullptr);
    g_hJobThread = nullptr;
    g_wszImagePath[0] = 0;
    g_iPanelState = 0;
    g_bOverPreviewRect = 0;
    g_hPanelDlg = nullptr;
    g_bDocumentIsHostImage = false;

    g_Res.com = ScopedComInit(COINIT_APARTMENTTHREADED);

    g_BackBuffer.Create(hWnd);  // without a surface the window says so where the image would be
    g_PreviewView.Init(hWnd, &g_BackBuffer.m_Surface);

    CreateToolbar(hWnd);
    CreateZoomBox();
    g_PreviewView.SetQuality(0);
    g_dZoom = 1.0;
    ClearMouseState();
    g_hBatchProgressDlg = nullptr;
    g_hBatchThread = nullptr;

    g_hDockerWnd = g_Docker.Create(hWnd, false);
    if (g_hZoomBox)
    {
        g_pfnZoomBoxProc =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrW(g_hZoomBox, GWLP_WNDPROC, LONG_PTR(ZoomBoxSubclassProc)));
    }
    InstallSkin(hWnd);
    return 1;
}

// ---- the document's arrival and departure ------------------------------------------------------

void ReadDocumentExif()
{
    // The strings belong to this document: a host without EXIF leaves them empty, never those
    // of the previous run.
    g_BackBuffer.m_Info.Clear();
    if (!g_WindowHost.pExif || g_WindowHost.cbExif == 0 || g_WindowHost.cbExif > 0x7FFFFFF0u) return;
    const uint32_t length = g_WindowHost.cbExif + 8;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[length]);
    if (!buffer) return;
    std::memset(buffer.get(), 0, 8);
    std::memcpy(buffer.get() + 8, g_WindowHost.pExif, g_WindowHost.cbExif);
    ExifInfo info = {};
    ReadExifBlock(&info, buffer.get(), int32_t(length));
    FormatExifInfoStrings(&g_BackBuffer.m_Info, info);
}

// The host's image (and transparency) into the document. False when the host image has no
// pixels or memory ran short: the document is then empty and the host keeps its pixels.
bool CopyHostImageIn()
{
    CBackBuffer& doc = g_BackBuffer;
    const ImageBuffer* image = g_WindowHost.pImage;
    const ImageBuffer* alpha = g_WindowHost.pAlpha;
    bool ok = image && image->m_pData;
    if (ok)
    {
        ok = CopyImageLayout(&doc.m_Source, image) == kImageOk && CopyImageLayout(&doc.m_Result, image) == kImageOk;
        if (ok)
        {
            CopyImagePixels(&doc.m_Source, image);
            CopyImagePixels(&doc.m_Result, image);
        }
    }
    if (ok && alpha && alpha->m_pData)
    {
        ok = CopyImageLayout(&doc.m_Alpha, alpha) == kImageOk;
        if (ok) CopyImagePixels(&doc.m_Alpha, alpha);
    }
    else
    {
        ReleaseImage(&doc.m_Alpha);
    }
    if (!ok)
    {
        ReleaseImage(&doc.m_Source);
        ReleaseImage(&doc.m_Result);
        ReleaseImage(&doc.m_Alpha);
    }
    return ok;
}

// The docked panel; the panel of the denoise commands (OpenParameterPanel) may exist beside it.
HWND g_hDockedPanel = nullptr;

// The working panel lives in the docker. After a batch the image arrives again: the earlier
// panels save their profiles and go (the one the denoise commands opened was for the document
// the batch replaced), so that the new panel is forwarded to, removed and closed.
void OpenDockedPanel()
{
    if (!g_hDockerWnd) return;
    CloseOpenedPanel();
    if (HWND old = g_hDockedPanel)
    {
        g_hDockedPanel = nullptr;
        g_Docker.Remove(old);
        SendMessageW(old, WM_COMMAND, IDOK, 0);
        DestroyWindow(old);
    }
    HWND panel = CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(IDD_PARAMETER_PANEL), g_hDockerWnd,
                                    ParameterPanelDlgProc, LPARAM(&g_BackBuffer));
    if (!panel) return;  // the window still shows the image; nothing can be denoised
    g_hDockedPanel = panel;
    g_hPanelDlg = panel;
    g_Docker.Insert(0, panel);
    ShowWindow(panel, SW_SHOW);
}

LRESULT OnImageArrived(HWND hWnd)
{
    // The host image's information strings come with it: at its first arrival, and again after a
    // batch, whose last file's strings must not pick the host image's profile.
    ReadDocumentExif();
    const bool copied = CopyHostImageIn();
    g_bDocumentIsHostImage = copied;
    // After a batch the host image is shown again: the window drops the empty document's title
    // that the batch's close gave it.
    SetWindowTextW(hWnd, HPX_MAIN_WINDOW_TITLE);

    OpenDockedPanel();
    g_Docker.Layout();
    if (g_hDockerWnd) ShowWindow(g_hDockerWnd, SW_SHOW);
    OnSize(hWnd);
    InvalidateRect(hWnd, nullptr, FALSE);
    UpdateWindow(hWnd);

    SetStatusText(g_LocStrings[kLocHelpContents]);
    ClearMouseState();
    FitViewOnArrival();
    SetFocus(hWnd);

    g_bUiNotReady = 0;
    if (copied)
    {
        RedrawView(kViewDenoised, false);
        if (g_PreviewView.RefreshCopy(kViewOriginal, &g_BackBuffer.m_Source) != kImageOk) TellMemoryRanShort();
    }
    else
    {
        // An empty document: the window still opens ready for Ctrl+O, and the panel learns that
        // there is nothing to denoise. Memory is blamed only when there were pixels to copy.
        const ImageBuffer* host = g_WindowHost.pImage;
        if (host && host->m_pData) TellMemoryRanShort();
        RedrawView(0, false);
    }
    SendMessageW(hWnd, WM_PAINT, 0, 0);

    if (g_hZoomBox) EnableWindow(g_hZoomBox, TRUE);
    if (g_hPanelDlg)
    {
        RECT d = {0, 0, 0, 0};
        if (g_hDockerWnd) GetWindowRect(g_hDockerWnd, &d);
        SendMessageW(g_hPanelDlg, WM_HPX_IMAGE_LOADED, WPARAM(d.left), 0);
    }
    SetFocus(hWnd);
    return 1;
}

bool SameShape(const ImageBuffer& a, const ImageBuffer& b)
{
    return a.m_iWidth == b.m_iWidth && a.m_iHeight == b.m_iHeight && a.m_iChannels == b.m_iChannels &&
        a.m_iBits == b.m_iBits && a.m_iSize == b.m_iSize;
}

void OnDestroy()
{
    // A job or batch thread still running writes into the document: it ends first. The close box
    // and Exit have aborted a run already; a window destroyed otherwise (with its owner) has not.
    JobAbortAndWait(g_hMainWnd);
    CancelBatchAndWait();
    WaitForWorkerThreads();

    // A finished run goes back only into the image it was made from: a different file (opened,
    // stepped to, or left by a batch), or a different shape, leaves the host its own pixels.
    ImageBuffer* host = g_WindowHost.pImage;
    if (g_iPanelState == kPanelStateFinished && g_bDocumentIsHostImage && host && host->m_pData &&
        g_BackBuffer.m_Result.m_pData && SameShape(*host, g_BackBuffer.m_Result))
        CopyImagePixels(host, &g_BackBuffer.m_Result);

    ReleaseImage(&g_BackBuffer.m_Alpha);
    ReleaseImage(&g_BackBuffer.m_Source);
    ReleaseImage(&g_BackBuffer.m_Result);
    g_PreviewView.ReleaseCopies();
    g_PreviewView.m_pPreviewRect = nullptr;

    // Each panel saves its profiles and ends.
    CloseOpenedPanel();
    if (HWND docked = g_hDockedPanel)
    {
        g_hDockedPanel = nullptr;
        g_Docker.Remove(docked);
        SendMessageW(docked, WM_COMMAND, IDOK, 0);
    }
    g_hPanelDlg = nullptr;
    ClearCrashFlag();
    g_Res.com = ScopedComInit();
    g_BackBuffer.Destroy();
    g_PreviewView.m_pSurface = nullptr;
    PostQuitMessage(0);
}

// ---- commands ----------------------------------------------------------------------------------

void ShowAbout(HWND hWnd)
{
    wchar_t text[512];
    std::swprintf(text, 512, L"Hushpix v3.21 Fusion\n\nOrvanta\n%ls", kMakerWebAddress);
    MessageBoxW(hWnd, text, g_LocStrings[kLocAbout], MB_ICONINFORMATION);
}

void ShowPopupMenu(HWND hWnd)
{
    RECT r = {0, 0, 0, 0};
    SendMessageW(g_hToolbar, TB_GETITEMRECT, 7, LPARAM(&r));
    MapWindowPoints(g_hToolbar, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const ScopedMenu bar(LoadMenuW(g_hInstance, MAKEINTRESOURCEW(IDR_MAIN_POPUP_MENU)));
    if (!bar) return;
    HMENU menu = GetSubMenu(bar.get(), 0);
    if (menu)
    {
        const int titles[3] = {kLocMenuFile, kLocMenuDenoise, kLocMenuHelp};
        for (int i = 0; i < 3; ++i)
            ModifyMenuW(menu, i, MF_BYPOSITION | MF_STRING | MF_POPUP, UINT_PTR(GetSubMenu(menu, i)),
                        g_LocStrings[titles[i]]);
        const struct
        {
            UINT id;
            int text;
        } items[5] = {{ID_OPTIONS, kLocMenuOptions},
                      {IDM_EXIT, kLocMenuExit},
                      {ID_BATCH_DENOISE, kLocBatchDenoisingMenu},
                      {ID_HELP_WEBSITE, kLocVisitWebSite},
                      {IDM_ABOUT, kLocMenuAbout}};
        for (const auto& it : items) ModifyMenuW(menu, it.id, MF_BYCOMMAND | MF_STRING, it.id, g_LocStrings[it.text]);
        TrackPopupMenu(menu, TPM_LEFTBUTTON, r.left, r.bottom, 0, hWnd, nullptr);
    }
}

bool DenoisableImage(const ImageBuffer& image)
{
    return (image.m_iBits == 8 || image.m_iBits == 16) && (image.m_iChannels == 1 || image.m_iChannels == 3);
}

LRESULT OnCommand(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam))
    {
    case IDM_ABOUT:
        ShowAbout(hWnd);
        return 0;
    case IDM_EXIT:
        JobAbortAndWait(hWnd);  // a run in progress ends first: it writes into the document
        DestroyWindow(hWnd);
        return 0;
    case ID_HELP_WEBSITE:
        ShellExecuteW(hWnd, L"open", kMakerWebAddress, nullptr, L".", SW_SHOW);
        return 0;
    case ID_ZOOM_IN:
        ZoomBy(kZoomStep);
        return 0;
    case ID_ZOOM_OUT:
        ZoomBy(1.0 / kZoomStep);
        return 0;
    case ID_ZOOM_FIT:
        FitView(true);
        return 0;
    case ID_ZOOM_100:
        ZoomTo100();
        return 0;
    case ID_PAN_LEFT:
        PanBy(-50, 0);
        return 0;
    case ID_PAN_RIGHT:
        PanBy(50, 0);
        return 0;
    case ID_PAN_UP:
        PanBy(0, -50);
        return 0;
    case ID_PAN_DOWN:
        PanBy(0, 50);
        return 0;
    case ID_OPTIONS:
        if (IsBatchActive() || JobIsRunning()) return 0;
        ShowOptionsDialog(hWnd);
        RedrawView(kViewDenoised, false);
        return 0;
    case ID_DENOISE_IMAGE:
    case ID_DENOISE_IMAGE_FAST:
        // A run asked for and not yet started belongs to the panel in charge: none takes over.
        if (IsBatchActive() || JobIsRunning() || g_iPanelState == kPanelRunning) return 0;
        g_iQualityMode = LOWORD(wParam) == ID_DENOISE_IMAGE ? 3 : 2;
        if (!DenoisableImage(g_BackBuffer.m_Source))
        {
            MessageBoxW(hWnd, g_LocStrings[kLocFormatNotSupported], nullptr, MB_OK);
            return 0;
        }
        OpenParameterPanel(&g_BackBuffer);
        return 0;
    case ID_ZOOM_BOX:
        if (HIWORD(wParam) == CBN_SELCHANGE)
            ZoomPreset(int(SendMessageW(g_hZoomBox, CB_GETCURSEL, 0, 0)));
        else if (HIWORD(wParam) == CBN_KILLFOCUS)
            SetFocus(hWnd);
        return 0;
    case ID_MENU_BUTTON:
        ShowPopupMenu(hWnd);
        return 0;
    case ID_FILE_OPEN:
    case ID_FILE_SAVE:
    case ID_FILE_CLOSE:
    case ID_PREV_IMAGE:
    case ID_NEXT_IMAGE:
    case ID_BATCH_DENOISE:
        // While a whole-image run is in progress the document is the run's.
        if (JobIsRunning()) return 0;
        break;
    default:
        break;
    }
    switch (LOWORD(wParam))
    {
    case ID_FILE_OPEN:
        OnFileOpenCommand(hWnd);
        return 0;
    case ID_FILE_SAVE:
        OnFileSaveCommand(hWnd);
        return 0;
    case ID_FILE_CLOSE:
        OnFileCloseCommand(hWnd);
        return 0;
    case ID_PREV_IMAGE:
        OnStepImageCommand(hWnd, false);
        return 0;
    case ID_NEXT_IMAGE:
        OnStepImageCommand(hWnd, true);
        return 0;
    case ID_BATCH_DENOISE:
        OnBatchDenoiseCommand(hWnd);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hWnd, WM_COMMAND, wParam, lParam);
}

LRESULT OnToolTip(LPARAM lParam)
{
    NMHDR* h = reinterpret_cast<NMHDR*>(lParam);
    if (!h || h->code != TTN_GETDISPINFOW) return 0;
    NMTTDISPINFOW* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
    static const struct
    {
        UINT_PTR id;
        int text;
    } kTips[10] = {{ID_FILE_OPEN, kLocTipOpenImage},
                   {ID_FILE_SAVE, kLocTipSaveImageAs},
                   {ID_ZOOM_IN, kLocTipZoomIn},
                   {ID_ZOOM_OUT, kLocTipZoomOut},
                   {ID_ZOOM_FIT, kLocTipZoomFit},
                   {ID_DENOISE_IMAGE, kLocTipDenoiseImage},
                   {ID_BATCH_DENOISE, kLocBatchDenoisingMenu},
                   {ID_ZOOM_100, kLocTipZoom100},
                   {ID_DENOISE_IMAGE_FAST, kLocTipDenoiseImageFast},
                   {ID_ZOOM_BOX, kLocTipSetZoom}};
    info->hinst = g_hInstance;
    for (const auto& t : kTips)
        if (t.id == h->idFrom) info->lpszText = const_cast<wchar_t*>(g_LocStrings[t.text]);
    return 0;
}

// While a panel exists (and no in-process job runs) the mouse messages that reach the window
// through its cursor query are handled as the window's own.
LRESULT OnSetCursor(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    // During a batch the window is disabled and the batch thread owns the document: a click must
    // not reach the panel, whose preview would write into the images the batch is using.
    if (!g_hPanelDlg || g_hJobThread || g_bBatchRunning) return DefWindowProcW(hWnd, WM_SETCURSOR, wParam, lParam);
    POINT p;
    GetCursorPos(&p);
    ScreenToClient(hWnd, &p);
    const LPARAM at = MAKELPARAM(p.x, p.y);
    const UINT mouse = HIWORD(lParam);
    switch (mouse)
    {
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_MOUSEWHEEL:
        SendMessageW(hWnd, mouse, 0, at);
        return 0;
    case WM_LBUTTONDOWN:
        SendMessageW(hWnd, mouse, 0, at);
        SetFocus(g_hPanelDlg);
        return 0;
    case WM_MOUSEMOVE:
        if (SendMessageW(hWnd, mouse, MK_LBUTTON, at)) return 0;
        return DefWindowProcW(hWnd, WM_SETCURSOR, wParam, lParam);
    default:
        return 0;
    }
}

LRESULT HandleMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT handled = 0;
    if (JobDispatchMessage(hWnd, msg, wParam, lParam, &handled)) return handled;
    switch (msg)
    {
    case WM_CREATE:
        return OnCreate(hWnd);
    case WM_SIZE:
        OnSize(hWnd);
        return 0;
    case WM_PAINT:
        OnPaint(hWnd);
        return 0;
    case WM_ERASEBKGND:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:  // so Alt+F4 does not close the window
        return 0;
    case WM_COMMAND:
        return OnCommand(hWnd, wParam, lParam);
    case WM_NOTIFY:
        return OnToolTip(lParam);
    case WM_SETCURSOR:
        return OnSetCursor(hWnd, wParam, lParam);
    case WM_MOUSEWHEEL:
        return OnMouseWheel(hWnd, wParam, lParam);
    case WM_LBUTTONDOWN:
        return OnLButtonDown(hWnd, wParam, lParam);
    case WM_MOUSEMOVE:
    case WM_NCMOUSELEAVE:
        return OnMouseMove(hWnd, msg, wParam, lParam);
    case WM_LBUTTONUP:
        return OnLButtonUp(hWnd, wParam, lParam);
    case WM_MOUSELEAVE:
        g_bPanning = 0;
        return 0;
    case WM_LBUTTONDBLCLK:
        return OnLButtonDblClk(hWnd);
    case WM_RBUTTONDOWN:
        return OnRButton(hWnd, true);
    case WM_RBUTTONUP:
        return OnRButton(hWnd, false);
    case WM_HPX_IMAGE_ARRIVED:
        return OnImageArrived(hWnd);
    case WM_HPX_ZOOM_TYPED:
        ZoomTyped();
        return 0;
    case WM_HPX_REFRESH_RESULT:
        RedrawView(kViewDenoised, false);
        return 0;
    case WM_HPX_SHOW_RESULT:
        RedrawView(kViewDenoised, true);
        return 0;
    case WM_HPX_CURSOR_WAIT:
        SetCursorOfClass(hWnd, IDC_WAIT);
        return 0;
    case WM_HPX_CURSOR_ARROW:
        SetCursorOfClass(hWnd, IDC_ARROW);
        return 0;
    case WM_HPX_CURSOR_MOVE:
        SetCursorOfClass(hWnd, IDC_SIZEALL);
        return 0;
    case WM_HPX_FREE_VIEW_COPIES:
        ReleaseImage(&g_PreviewView.m_Original);
        ReleaseImage(&g_PreviewView.m_Denoised);
        return 0;
    case WM_HPX_MAKE_VIEW_COPIES:
    {
        // Each copy on its own: a source copy that cannot be made must not hide the result.
        const bool original = g_PreviewView.RefreshCopy(kViewOriginal, &g_BackBuffer.m_Source) == kImageOk;
        const bool denoised = g_PreviewView.RefreshCopy(kViewDenoised, &g_BackBuffer.m_Result) == kImageOk;
        if (!(original && denoised) && g_BackBuffer.HasDocument()) TellMemoryRanShort();
        return 0;
    }
    case WM_CLOSE:
        JobAbortAndWait(hWnd);
        break;
    case WM_HPX_BATCH_DONE:
        OnBatchDone(hWnd);
        return 0;
    case WM_HPX_BATCH_THREAD_ENDED:
        OnBatchThreadEnded();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY:
        g_hMainWnd = nullptr;
        g_hToolbar = g_hStatusBar = g_hZoomBox = g_hDockerWnd = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

}  // namespace

// ---- shared helpers ------------------------------------------------------------------------------

void RedrawView(int which, bool useCachedCopy)
{
    const ImageBuffer* image = which == kViewOriginal ? &g_BackBuffer.m_Source : &g_BackBuffer.m_Result;
    g_PreviewView.Draw(g_dViewX, g_dViewY, g_dImageX, g_dImageY, g_dZoom, useCachedCopy, image, which, true,
                       &g_BackBuffer.m_Alpha);
    if (g_PreviewView.m_bCopyFailed) TellMemoryRanShort();
    if (g_hMainWnd) SendMessageW(g_hMainWnd, WM_PAINT, 0, 0);
}

void SetStatusText(const wchar_t* text)
{
    if (g_hStatusBar) SendMessageW(g_hStatusBar, SB_SETTEXTW, 0, LPARAM(text));
}

int ShowLocalizedMessage(int textId, int captionId, UINT type)
{
    return MessageBoxW(g_hMainWnd, g_LocStrings[textId], captionId ? g_LocStrings[captionId] : nullptr, type);
}

void WaitForWorkerThreads()
{
    // The job thread (app/job) is told to stop through g_bAbort before this wait, the batch
    // thread (app/batch) through its own abort flag. Messages the threads send to this window
    // are served while waiting, so a thread blocked in SendMessageW can finish.
    HANDLE* threads[2] = {&g_hJobThread, &g_hBatchThread};
    for (HANDLE* h : threads)
    {
        if (!*h) continue;
        for (;;)
        {
            const DWORD r = MsgWaitForMultipleObjects(1, h, FALSE, INFINITE, QS_SENDMESSAGE);
            if (r != WAIT_OBJECT_0 + 1) break;
            MSG m;
            PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // serves the sent messages
        }
        const ScopedHandle ended(std::exchange(*h, nullptr));  // the global no longer holds it
    }
}

LRESULT CALLBACK MainWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // Nothing may unwind into user32 or the host.
    try
    {
        return HandleMessage(hWnd, msg, wParam, lParam);
    }
    catch (const std::bad_alloc&)
    {
        TellMemoryRanShort();
    }
    catch (...)
    {
        TraceCaughtException("MainWndProc");
    }
    return msg == WM_CREATE ? -1 : 0;
}

// CountImageFiles lives with the batch walker (app/batch), which skips the same folders.
