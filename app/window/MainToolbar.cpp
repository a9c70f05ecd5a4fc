// The main window's toolbar (batch, zoom and menu buttons with their greyed images, the spacer
// that keeps "Menu" at the right end) and the zoom box that sits on it.
#include "app/window/MainToolbar.h"

#include <commctrl.h>

#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"
#include "plugin/skin_ids.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ControlSkin.h"
#include "ui/ScopedWin32.h"

namespace
{

// What the bars made and must free after they are gone (the toolbar keeps using the bitmaps
// and the grey list, the zoom box its font, until they are destroyed).
struct ToolbarResources
{
    ScopedGdiObject<HBITMAP> bitmaps[6];
    HIMAGELIST greyList;
    ScopedGdiObject<HFONT> zoomFont;
} g_Res = {};

constexpr int kImageNone = 88;  // no such image: the button shows nothing

void SetButtonWidth(int command, int width)
{
    TBBUTTONINFOW bi = {};
    bi.cbSize = sizeof bi;
    bi.dwMask = TBIF_SIZE;
    bi.cx = WORD(width);
    SendMessageW(g_hToolbar, TB_SETBUTTONINFOW, command, LPARAM(&bi));
}

}  // namespace

void FreeToolbarResources()
{
    for (ScopedGdiObject<HBITMAP>& b : g_Res.bitmaps) b.reset();
    if (g_Res.greyList) ImageList_Destroy(g_Res.greyList);
    g_Res.greyList = nullptr;
    g_Res.zoomFont.reset();
}

// The spacer takes what is left, so the "Menu" button sits at the right end; 1 pixel at least.
void LayoutSpacer(HWND hWnd)
{
    TBBUTTONINFOW bi = {};
    bi.cbSize = sizeof bi;
    bi.dwMask = TBIF_SIZE;
    SendMessageW(g_hToolbar, TB_GETBUTTONINFOW, ID_TOOLBAR_SPACER, LPARAM(&bi));
    RECT menu = {0, 0, 0, 0};
    SendMessageW(g_hToolbar, TB_GETITEMRECT, 7, LPARAM(&menu));
    RECT c;
    GetClientRect(hWnd, &c);
    int width = int(bi.cx) + c.right - menu.right - c.left;
    if (width < 1) width = 1;
    if (width > 0xFFFF) width = 0xFFFF;
    SetButtonWidth(ID_TOOLBAR_SPACER, width);
}

void CreateToolbar(HWND hWnd)
{
    g_hToolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                 WS_CHILD | WS_VISIBLE | WS_BORDER | TBSTYLE_LIST | TBSTYLE_TOOLTIPS, 0, 0, 0, 0, hWnd,
                                 HMENU(INT_PTR(IDC_MAIN_TOOLBAR)), g_hInstance, nullptr);
    if (!g_hToolbar) return;
    SendMessageW(g_hToolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(g_hToolbar, TB_SETINDENT, 7, 0);

    int w = 32, h = 32;
    const ScopedGdiObject<HBITMAP> folder(LoadPngBitmap(g_hInstance, HPX_PNG_IDP_FOLDER));  // only its size is used
    BITMAP bm = {};
    if (folder && GetObjectW(folder.get(), sizeof bm, &bm))
    {
        w = bm.bmWidth;
        h = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    }
    SendMessageW(g_hToolbar, TB_SETBITMAPSIZE, 0, MAKELONG(w, h));
    SendMessageW(g_hToolbar, TB_SETBUTTONSIZE, 0, MAKELONG(w + 9, h + 9));
    g_Res.greyList = ImageList_Create(w, h, ILC_COLOR32, 0, 1);

    static const wchar_t* const kImages[6] = {HPX_PNG_IDP_DENOISEBATCH, HPX_PNG_IDP_ZOOMIN,  HPX_PNG_IDP_ZOOMOUT,
                                              HPX_PNG_IDP_ZOOM100,      HPX_PNG_IDP_ZOOMFIT, HPX_PNG_IDP_PICKER};
    int index[6];
    for (int i = 0; i < 6; ++i)
    {
        index[i] = kImageNone;
        g_Res.bitmaps[i].reset(LoadPngBitmap(g_hInstance, kImages[i]));
        if (!g_Res.bitmaps[i]) continue;
        TBADDBITMAP ab = {nullptr, UINT_PTR(g_Res.bitmaps[i].get())};
        const LRESULT at = SendMessageW(g_hToolbar, TB_ADDBITMAP, 1, LPARAM(&ab));
        if (at < 0) continue;  // no image on the button, so no grey one either
        index[i] = int(at);
        // A disabled button shows the grey image at its own image index: its copy goes exactly
        // there, and a copy that cannot be made leaves that place empty, never a neighbour's.
        if (g_Res.greyList)
        {
            ImageList_SetImageCount(g_Res.greyList, UINT(at));
            if (AddGreyedBitmap(g_Res.greyList, g_Res.bitmaps[i].get()) != int(at))
                ImageList_SetImageCount(g_Res.greyList, UINT(at) + 1);
        }
    }

    TBBUTTON b[8] = {};
    const struct
    {
        int image, command;
        BYTE state;
    } kButtons[8] = {{index[0], ID_BATCH_DENOISE, TBSTATE_ENABLED},
                     {kImageNone, ID_TOOLBAR_SPACER, 0},
                     {index[1], ID_ZOOM_IN, TBSTATE_ENABLED},
                     {index[2], ID_ZOOM_OUT, TBSTATE_ENABLED},
                     {index[3], ID_ZOOM_100, TBSTATE_ENABLED},
                     {index[4], ID_ZOOM_FIT, TBSTATE_ENABLED},
                     {kImageNone, ID_ZOOM_BOX, 0},
                     {index[5], ID_MENU_BUTTON, TBSTATE_ENABLED}};
    for (int i = 0; i < 8; ++i)
    {
        b[i].iBitmap = kButtons[i].image;
        b[i].idCommand = kButtons[i].command;
        b[i].fsState = kButtons[i].state;
        b[i].fsStyle = BTNS_BUTTON;
        b[i].iString = -1;
    }
    SendMessageW(g_hToolbar, TB_ADDBUTTONSW, 8, LPARAM(b));
    SetButtonWidth(ID_ZOOM_BOX, 95);
    TBBUTTONINFOW mi = {};
    mi.cbSize = sizeof mi;
    mi.dwMask = TBIF_TEXT | TBIF_STYLE;
    mi.fsStyle = BTNS_AUTOSIZE;
    mi.pszText = const_cast<wchar_t*>(L"Menu");
    SendMessageW(g_hToolbar, TB_SETBUTTONINFOW, ID_MENU_BUTTON, LPARAM(&mi));
    SendMessageW(g_hToolbar, TB_AUTOSIZE, 0, 0);
    if (g_Res.greyList) SendMessageW(g_hToolbar, TB_SETDISABLEDIMAGELIST, 0, LPARAM(g_Res.greyList));
    LayoutSpacer(hWnd);
}

void PlaceZoomBox()
{
    RECT r = {0, 0, 0, 0};
    SendMessageW(g_hToolbar, TB_GETITEMRECT, 6, LPARAM(&r));
    SetWindowPos(g_hZoomBox, nullptr, r.left + 5, r.top + 8, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

void CreateZoomBox()
{
    if (!g_hToolbar) return;
    RECT r = {0, 0, 0, 0};
    SendMessageW(g_hToolbar, TB_GETITEMRECT, 6, LPARAM(&r));
    g_hZoomBox = CreateWindowExW(0, L"ComboBox", nullptr,
                                 WS_CHILD | WS_VISIBLE | CBS_DROPDOWN | CBS_AUTOHSCROLL | CBS_HASSTRINGS, r.left + 5,
                                 r.top + 8, r.right - r.left - 10, r.bottom - r.top + 192, g_hToolbar,
                                 HMENU(INT_PTR(ID_ZOOM_BOX)), g_hInstance, nullptr);
    if (!g_hZoomBox) return;
    g_Res.zoomFont.reset(CreateFontW(16, 0, 0, 0, 600, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, FF_SWISS, L"Tahoma"));
    if (g_Res.zoomFont) SendMessageW(g_hZoomBox, WM_SETFONT, WPARAM(g_Res.zoomFont.get()), TRUE);
    ShowWindow(g_hZoomBox, SW_SHOW);
    SendMessageW(g_hZoomBox, CB_RESETCONTENT, 0, 0);
    static const wchar_t* const kPresets[8] = {L"10.0 %",  L"25.0 %",  L"50.0 %",  L"100.0 %",
                                               L"150.0 %", L"200.0 %", L"400.0 %", L"800.0 %"};
    for (const wchar_t* p : kPresets) SendMessageW(g_hZoomBox, CB_ADDSTRING, 0, LPARAM(p));
    SendMessageW(g_hZoomBox, CB_SETCURSEL, 3, 0);
    EnableWindow(g_hZoomBox, FALSE);
}

LRESULT CALLBACK ZoomBoxSubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try
    {
        if (msg == CB_GETDROPPEDSTATE)
        {
            // The box's edit field asks this when Enter is pressed in it.
            if (g_hMainWnd) SendMessageW(g_hMainWnd, WM_HPX_ZOOM_TYPED, 0, 0);
        }
        else if (msg == WM_MOUSEWHEEL)
        {
            // The wheel never changes the box.
            if (g_hMainWnd) SetFocus(g_hMainWnd);
            return 1;
        }
    }
    catch (...)
    {
        TraceCaughtException("ZoomBoxSubclassProc");
        return 0;
    }
    return g_pfnZoomBoxProc ? CallWindowProcW(g_pfnZoomBoxProc, hWnd, msg, wParam, lParam)
                            : DefWindowProcW(hWnd, msg, wParam, lParam);
}
