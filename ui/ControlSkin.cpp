// Control skin: colour schemes and brushes, installation on a window tree, the label
// subclass, PNG resources through GDI+ and greyed bitmaps for disabled buttons.
#include "ui/ControlSkin.h"
#include "ui/SkinPaintInternal.h"
#include "ui/CaughtExceptionTrace.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

using namespace Gdiplus::DllExports;

int g_iSkinMode = SKIN_MODE_NONE;

#define HPX_NC4 SKIN_NO_COLOR, SKIN_NO_COLOR, SKIN_NO_COLOR, SKIN_NO_COLOR
COLORREF g_SkinColors[SKIN_COLOR_COUNT] = {HPX_NC4, HPX_NC4, HPX_NC4,       HPX_NC4,      HPX_NC4,
                                           HPX_NC4, HPX_NC4, SKIN_NO_COLOR, SKIN_NO_COLOR};
#undef HPX_NC4
HBRUSH g_SkinBrushes[SKIN_COLOR_COUNT] = {};

namespace
{

constexpr COLORREF Hex(unsigned rrggbb) { return RGB((rrggbb >> 16) & 0xFF, (rrggbb >> 8) & 0xFF, rrggbb & 0xFF); }

struct SchemeEntry
{
    int index;
    COLORREF mode[3];  // light, dark grey, black
};

// The slots that the schemes replace; every other slot keeps the system colour.
const SchemeEntry kSchemeTable[] = {
    {COLOR_ACTIVECAPTION, {Hex(0xC9D9EA), Hex(0x6E6E6E), Hex(0x555555)}},
    {COLOR_INACTIVECAPTION, {Hex(0xD9D9DB), Hex(0x5A5A5A), Hex(0x232323)}},
    {COLOR_MENU, {Hex(0xF0F0F0), Hex(0x505050), Hex(0x0A0A0A)}},
    {COLOR_WINDOW, {Hex(0xFCFCFC), Hex(0x414141), Hex(0x0F0F0F)}},
    {COLOR_WINDOWTEXT, {Hex(0x000000), Hex(0xBEBEBE), Hex(0xBEBEBE)}},
    {COLOR_CAPTIONTEXT, {Hex(0x000000), Hex(0xBEBEBE), Hex(0xBEBEBE)}},
    {COLOR_ACTIVEBORDER, {Hex(0xEFEFEF), Hex(0xEFEFEF), Hex(0xEFEFEF)}},
    {COLOR_INACTIVEBORDER, {Hex(0xD2D2D2), Hex(0xD2D2D2), Hex(0xD2D2D2)}},
    {COLOR_APPWORKSPACE, {Hex(0xABABAB), Hex(0x232323), Hex(0x141414)}},
    {COLOR_BTNFACE, {Hex(0xD2D2D2), Hex(0x464646), Hex(0x000000)}},
    {COLOR_BTNSHADOW, {Hex(0x808080), Hex(0x373737), Hex(0x343434)}},
    {COLOR_GRAYTEXT, {Hex(0x6E6E6E), Hex(0xB4B4B4), Hex(0x464646)}},
    {COLOR_BTNTEXT, {Hex(0x000000), Hex(0xE6E6E6), Hex(0x969696)}},
    {COLOR_INACTIVECAPTIONTEXT, {Hex(0x9B9B9B), Hex(0x9B9B9B), Hex(0x9B9B9B)}},
    {COLOR_BTNHIGHLIGHT, {Hex(0xE2E2E2), Hex(0x646464), Hex(0x555555)}},
    {COLOR_3DDKSHADOW, {Hex(0x404040), Hex(0x323232), Hex(0x0A0A0A)}},
    {COLOR_3DLIGHT, {Hex(0xFFFFFF), Hex(0x000000), Hex(0x353535)}},
    {COLOR_GRADIENTACTIVECAPTION, {Hex(0x272727), Hex(0x3C3C3C), Hex(0x505050)}},
    {COLOR_GRADIENTINACTIVECAPTION, {Hex(0xBEBEBE), Hex(0x5F5F5F), Hex(0x000000)}},
};

const wchar_t kPropWindowProc[] = L"WindowProc";

}  // namespace

// ---- schemes ----------------------------------------------------------------------------------

void SetSkinScheme(int mode)
{
    FreeSkinBrushes();
    if (mode >= SKIN_MODE_LIGHT && mode <= SKIN_MODE_BLACK)
    {
        for (const SchemeEntry& e : kSchemeTable) g_SkinColors[e.index] = e.mode[mode - SKIN_MODE_LIGHT];
    }
    for (unsigned i = 0; i < SKIN_COLOR_COUNT; ++i)
    {
        if (g_SkinColors[i] != SKIN_NO_COLOR) g_SkinBrushes[i] = CreateSolidBrush(g_SkinColors[i]);
    }
    SetSkinMode(mode);
}

void ApplyDefaultSkin() { SetSkinScheme(SKIN_MODE_DARK_GREY); }

void FreeSkinBrushes()
{
    for (unsigned i = 0; i < SKIN_COLOR_COUNT; ++i)
    {
        if (g_SkinBrushes[i]) DeleteObject(g_SkinBrushes[i]);
        g_SkinBrushes[i] = nullptr;
        g_SkinColors[i] = SKIN_NO_COLOR;
    }
}

COLORREF GetSkinColor(unsigned index)
{
    if (index >= SKIN_COLOR_COUNT) return RGB(0, 0, 0);
    if (g_SkinColors[index] == SKIN_NO_COLOR) return GetSysColor(static_cast<int>(index));
    return g_SkinColors[index];
}

HBRUSH GetSkinBrush(unsigned index)
{
    if (index >= SKIN_COLOR_COUNT) return nullptr;
    if (!g_SkinBrushes[index]) return GetSysColorBrush(static_cast<int>(index));
    return g_SkinBrushes[index];
}

void SetSkinMode(int mode) { g_iSkinMode = mode; }
int GetSkinMode() { return g_iSkinMode; }
bool IsDarkSkin() { return g_iSkinMode == SKIN_MODE_DARK_GREY || g_iSkinMode == SKIN_MODE_BLACK; }

// ---- installation -----------------------------------------------------------------------------

bool SkinClassIs(HWND hWnd, const wchar_t* name)
{
    wchar_t cls[20] = {};
    if (!GetClassNameW(hWnd, cls, 20)) return false;
    return _wcsicmp(cls, name) == 0;
}

bool IsSkinExcludedDialog(HWND hWnd)
{
    static int s_majorVersion = -1;
    if (s_majorVersion < 0)
    {
        OSVERSIONINFOW vi = {};
        vi.dwOSVersionInfoSize = sizeof(vi);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
        s_majorVersion = GetVersionExW(&vi) ? static_cast<int>(vi.dwMajorVersion) : 0;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    }
    if (s_majorVersion < 6) return false;
    if (!hWnd || !IsDarkSkin()) return false;
    for (HWND h = hWnd; h; h = GetParent(h))
    {
        wchar_t cls[20] = {};
        GetClassNameW(h, cls, 20);
        if (std::wcscmp(cls, L"#32770") == 0)
            return (GetWindowLongW(h, GWL_STYLE) & (DS_NOIDLEMSG | DS_SETFOREGROUND)) != 0;
    }
    return false;
}

// Visual styles draw progress bars and tab pages in their own light colours whatever colours the
// control is given; in the dark schemes those controls are drawn without them.
// Only uxtheme's documented exports are used, and only while it says that visual styles are in
// use for this program (IsAppThemed); without them the controls already draw in skin colours.
static void DropVisualStyle(HWND hWnd)
{
    typedef HRESULT(WINAPI * SetWindowThemeFn)(HWND, LPCWSTR, LPCWSTR);
    typedef BOOL(WINAPI * IsAppThemedFn)();
    static SetWindowThemeFn s_set = nullptr;
    static IsAppThemedFn s_themed = nullptr;
    static bool s_looked = false;
    if (!s_looked)
    {
        s_looked = true;
        if (HMODULE ux = LoadLibraryW(L"uxtheme.dll"))
        {
            s_set = reinterpret_cast<SetWindowThemeFn>(reinterpret_cast<void*>(GetProcAddress(ux, "SetWindowTheme")));
            s_themed = reinterpret_cast<IsAppThemedFn>(reinterpret_cast<void*>(GetProcAddress(ux, "IsAppThemed")));
        }
    }
    // A class list of one blank names no theme part, which keeps visual styles off the window.
    if (s_set && s_themed && s_themed()) s_set(hWnd, L" ", L" ");
}

static void SkinControlByClass(HWND child)
{
    wchar_t cls[20] = {};
    GetClassNameW(child, cls, 20);
    const LONG style = GetWindowLongW(child, GWL_STYLE);

    if (_wcsicmp(cls, L"SysListView32") == 0)
    {
        SendMessageW(child, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOW)));
        SendMessageW(child, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOW)));
        SendMessageW(child, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOWTEXT)));
    }
    else if (_wcsicmp(cls, L"SysTreeView32") == 0)
    {
        if (style & TVS_HASLINES)
        {
            SendMessageW(child, TVM_SETBKCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOW)));
            SendMessageW(child, TVM_SETLINECOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOWTEXT)));
            SendMessageW(child, TVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOWTEXT)));
        }
    }
    else if (_wcsicmp(cls, L"SysTabControl32") == 0)
    {
        SetWindowLongW(child, GWL_STYLE, style | TCS_OWNERDRAWFIXED);
        if (IsDarkSkin()) DropVisualStyle(child);
    }
    else if (_wcsicmp(cls, L"msctls_progress32") == 0)
    {
        if (IsDarkSkin()) DropVisualStyle(child);
        SendMessageW(child, PBM_SETBKCOLOR, 0,
                     static_cast<LPARAM>(IsDarkSkin() ? GetSkinColor(COLOR_WINDOW) : CLR_DEFAULT));
    }
    else if (_wcsicmp(cls, L"Button") == 0)
    {
        const LONG type = style & BS_TYPEMASK;
        if (type == BS_OWNERDRAW) return;
        const bool pushLike = (style & BS_PUSHLIKE) != 0;
        if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON && !pushLike) return;
        if (IsSkinExcludedDialog(child)) return;
        wchar_t parentCls[20] = {};
        GetClassNameW(GetParent(child), parentCls, 20);
        if (std::wcscmp(parentCls, L"CtrlNotifySink") == 0) return;
        // The skin keeps a push-like button's check state from here on; it starts from the
        // state the button already has (a panel sets its toggles before it is skinned).
        if (pushLike && GetWindowLongPtrW(child, GWLP_USERDATA) == 0)
        {
            const LONG_PTR checked = SendMessageW(child, BM_GETCHECK, 0, 0) & 0xF;
            SetWindowLongPtrW(child, GWLP_USERDATA, (static_cast<LONG_PTR>(type) << 4) | checked);
        }
        if (type == BS_DEFPUSHBUTTON) SetPropW(child, kSkinPropDefaultButton, reinterpret_cast<HANDLE>(1));
        SetWindowLongW(child, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW | SKIN_OWNERDRAW_MARK);
    }
}

void InstallSkin(HWND hWnd)
{
    if (!hWnd || !IsWindow(hWnd)) return;
    if (!GetPropW(hWnd, kPropWindowProc))
    {
        // The property goes on first so that SkinWndProc always finds its predecessor.
        LONG_PTR prev = GetWindowLongPtrW(hWnd, GWLP_WNDPROC);
        SetPropW(hWnd, kPropWindowProc, reinterpret_cast<HANDLE>(prev));
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SkinWndProc));
    }
    for (HWND child = GetWindow(hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        if (GetPropW(child, kPropWindowProc)) continue;
        InstallSkin(child);
        SkinControlByClass(child);
    }
}

// ---- label subclass ---------------------------------------------------------------------------

bool SubclassLabel(HWND hCtrl, int flags)
{
    // A second subclass would make the label procedure its own predecessor and recurse until the
    // stack runs out: the label keeps its one record and takes the new flags.
    if (GetWindowLongPtrW(hCtrl, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&LabelWndProc))
    {
        LabelRecord* existing = reinterpret_cast<LabelRecord*>(GetWindowLongPtrW(hCtrl, GWLP_USERDATA));
        if (existing && existing->hWnd == hCtrl)
        {
            existing->flags = flags;
            InvalidateRect(hCtrl, nullptr, TRUE);
            return false;
        }
    }
    LabelRecord* rec = new (std::nothrow) LabelRecord;
    if (!rec) return true;
    rec->hWnd = hCtrl;
    rec->flags = flags;
    rec->pfnPrevProc = nullptr;
    rec->prevUserData = GetWindowLongPtrW(hCtrl, GWLP_USERDATA);
    // Record first, procedure second: LabelWndProc never sees a half-made record.
    SetWindowLongPtrW(hCtrl, GWLP_USERDATA, 0);
    rec->pfnPrevProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hCtrl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LabelWndProc)));
    SetWindowLongPtrW(hCtrl, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(rec));
    return false;
}

void UnsubclassLabel(HWND hCtrl)
{
    LabelRecord* rec = reinterpret_cast<LabelRecord*>(GetWindowLongPtrW(hCtrl, GWLP_USERDATA));
    if (!rec) return;
    SetWindowLongPtrW(hCtrl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(rec->pfnPrevProc));
    SetWindowLongPtrW(hCtrl, GWLP_USERDATA, rec->prevUserData);
    delete rec;
}

static LRESULT LabelWndProcImpl(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

LRESULT CALLBACK LabelWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // No exception may unwind into the system's frames.
    try
    {
        return LabelWndProcImpl(hWnd, msg, wParam, lParam);
    }
    catch (...)
    {
        TraceCaughtException("LabelWndProc");
        if (msg == WM_PAINT) ValidateRect(hWnd, nullptr);
        return 0;
    }
}

static LRESULT LabelWndProcImpl(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    LabelRecord* rec = reinterpret_cast<LabelRecord*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (!rec || rec->hWnd != hWnd) return DefWindowProcW(hWnd, msg, wParam, lParam);
    switch (msg)
    {
    case WM_DESTROY:
        UnsubclassLabel(hWnd);
        return 0;
    case WM_SETTEXT:
        SendMessageW(hWnd, WM_SETREDRAW, FALSE, 0);
        CallWindowProcW(rec->pfnPrevProc, hWnd, msg, wParam, lParam);
        SendMessageW(hWnd, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(hWnd, nullptr, TRUE);
        UpdateWindow(hWnd);
        return TRUE;
    case WM_ERASEBKGND:
        return TRUE;
    case WM_PAINT:
    {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hWnd, &ps);
        if (hdc) LabelPaint(hdc, hWnd, rec->flags, rec->pfnPrevProc);
        EndPaint(hWnd, &ps);
        return TRUE;
    }
    default:
        return CallWindowProcW(rec->pfnPrevProc, hWnd, msg, wParam, lParam);
    }
}

// Excludes from the target DC (in hCtrl's client coordinates) every sibling of hCtrl whose window
// rectangle intersects hCtrl's without strictly enclosing it. Siblings with id `alwaysId` count
// even when hidden.
void SkinClipOverlappingSiblings(HDC hdcTarget, HWND hCtrl, int alwaysId)
{
    HWND parent = GetParent(hCtrl);
    if (!parent) return;
    RECT rcCtrl;
    GetWindowRect(hCtrl, &rcCtrl);
    for (HWND sib = GetWindow(parent, GW_CHILD); sib; sib = GetWindow(sib, GW_HWNDNEXT))
    {
        if (sib == hCtrl) continue;
        if (!IsWindowVisible(sib) && (alwaysId < 0 || GetDlgCtrlID(sib) != alwaysId)) continue;
        RECT rc, tmp;
        GetWindowRect(sib, &rc);
        if (!IntersectRect(&tmp, &rc, &rcCtrl)) continue;
        if (rc.left < rcCtrl.left && rc.right > rcCtrl.right && rc.top < rcCtrl.top && rc.bottom > rcCtrl.bottom)
            continue;
        MapWindowPoints(nullptr, hCtrl, reinterpret_cast<POINT*>(&rc), 2);
        ExcludeClipRect(hdcTarget, rc.left, rc.top, rc.right, rc.bottom);
    }
}

HFONT SkinBoldCopy(HFONT font)
{
    LOGFONTW lf = {};
    if (!GetObjectW(font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)), sizeof(lf), &lf))
        return nullptr;
    lf.lfWeight = FW_BOLD;
    return CreateFontIndirectW(&lf);
}

void LabelPaint(HDC hdcTarget, HWND hCtrl, int flags, WNDPROC pfnPrevProc)
{
    RECT rc;
    GetClientRect(hCtrl, &rc);
    SkinMemDC mem(hdcTarget, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HBRUSH br = SkinParentBrush(hCtrl, mem.dc(), WM_CTLCOLORBTN);
    FillRect(mem.dc(), &rc, br ? br : GetSkinBrush(COLOR_BTNFACE));

    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hCtrl, WM_GETFONT, 0, 0));
    const ScopedGdiObject<HFONT> bold((flags == 2) ? SkinBoldCopy(font) : nullptr);
    const ScopedSelectObject selectFont(mem.dc(), bold ? bold.get() : (font ? font : GetStockObject(DEFAULT_GUI_FONT)));
    SetTextColor(mem.dc(), GetSkinColor(COLOR_GRAYTEXT));
    SetBkColor(mem.dc(), GetSkinColor(COLOR_BTNFACE));
    SetBkMode(mem.dc(), OPAQUE);

    if (pfnPrevProc) CallWindowProcW(pfnPrevProc, hCtrl, WM_PAINT, reinterpret_cast<WPARAM>(mem.dc()), 0);

    // Control 1092 (the panel's "Medium Details" label) is kept even while hidden.
    SkinClipOverlappingSiblings(hdcTarget, hCtrl, 1092);
    BitBlt(hdcTarget, 0, 0, rc.right, rc.bottom, mem.dc(), 0, 0, SRCCOPY);
}

// ---- PNG resources ----------------------------------------------------------------------------

static bool ScreenHas32Bits()
{
    static int s_flag = -1;
    if (s_flag < 0)
    {
        const ScopedWindowDC screen(nullptr);
        s_flag = (screen.get() && GetDeviceCaps(screen.get(), BITSPIXEL) >= 32) ? 1 : 0;
    }
    return s_flag == 1;
}

// 32-bit top-down copy of any bitmap's pixels (B, G, R, A per pixel); false when unreadable.
bool SkinReadBitmap32(HBITMAP hBitmap, std::vector<BYTE>& pixels, int& width, int& height, int& bpp)
{
    BITMAP bm = {};
    if (!hBitmap || !GetObjectW(hBitmap, sizeof(bm), &bm) || bm.bmWidth <= 0 || bm.bmHeight == 0) return false;
    width = bm.bmWidth;
    height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    bpp = bm.bmBitsPixel;
    try
    {
        pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    const int lines = GetDIBits(ScopedWindowDC(nullptr).get(), hBitmap, 0, static_cast<UINT>(height), pixels.data(),
                                &bi, DIB_RGB_COLORS);
    if (lines != height) return false;
    // Bitmaps without an alpha channel are opaque.
    if (bpp < 32)
        for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
    return true;
}

// A 32-bit top-down DIB section; *bits receives its pixel memory.
HBITMAP SkinCreateDib(int width, int height, int bpp, void** bits)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = static_cast<WORD>(bpp);
    bi.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    if (!bmp) p = nullptr;
    if (bits) *bits = p;
    return bmp;
}

HBITMAP AdaptBitmapToScreenDepth(HBITMAP hBitmap, bool* converted)
{
    if (converted) *converted = false;
    if (!hBitmap) return hBitmap;
    BITMAP bm = {};
    if (!GetObjectW(hBitmap, sizeof(bm), &bm)) return hBitmap;
    if (ScreenHas32Bits() || bm.bmBitsPixel <= 24) return hBitmap;

    std::vector<BYTE> src;
    int w = 0, h = 0, bpp = 0;
    if (!SkinReadBitmap32(hBitmap, src, w, h, bpp)) return hBitmap;
    void* bits = nullptr;
    HBITMAP dib = SkinCreateDib(w, h, 24, &bits);
    if (!dib) return hBitmap;
    const int stride = (w * 3 + 3) & ~3;
    BYTE* dst = static_cast<BYTE*>(bits);
    for (int y = 0; y < h; ++y)
    {
        BYTE* row = dst + static_cast<size_t>(y) * stride;
        const BYTE* s = src.data() + static_cast<size_t>(y) * w * 4;
        for (int x = 0; x < w; ++x, s += 4)
        {
            if (s[3] > 126)
            {
                row[x * 3 + 0] = s[0];
                row[x * 3 + 1] = s[1];
                row[x * 3 + 2] = s[2];
            }
            else
            {
                row[x * 3 + 0] = row[x * 3 + 1] = row[x * 3 + 2] = 192;
            }
        }
    }
    GdiFlush();
    DeleteObject(hBitmap);
    if (converted) *converted = true;
    return dib;
}

HBITMAP LoadPngBitmap(HMODULE hModule, LPCWSTR name, bool* converted)
{
    if (converted) *converted = false;
    auto fallback = [&]() -> HBITMAP
    { return static_cast<HBITMAP>(LoadImageW(hModule, name, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)); };
    HRSRC res = FindResourceW(hModule, name, L"PNG");
    if (!res) return fallback();
    DWORD size = SizeofResource(hModule, res);
    HGLOBAL loaded = size ? LoadResource(hModule, res) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return fallback();

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return fallback();
    void* dst = GlobalLock(block);
    if (!dst)
    {
        GlobalFree(block);
        return fallback();
    }
    std::memcpy(dst, data, size);
    GlobalUnlock(block);

    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, FALSE, &stream)) || !stream)
    {
        GlobalFree(block);
        return fallback();
    }
    // GDI+ may read the stream lazily until the bitmap is converted, so the stream and its block
    // stay alive until the HBITMAP exists.
    Gdiplus::GpBitmap* gpBitmap = nullptr;
    HBITMAP result = nullptr;
    if (GdipCreateBitmapFromStream(stream, &gpBitmap) == Gdiplus::Ok && gpBitmap)
    {
        if (GdipCreateHBITMAPFromBitmap(gpBitmap, &result, 0xFF000000) != Gdiplus::Ok) result = nullptr;
        GdipDisposeImage(gpBitmap);
    }
    stream->Release();
    GlobalFree(block);
    if (!result) return fallback();
    return AdaptBitmapToScreenDepth(result, converted);
}

HBITMAP LoadPngBitmap(HMODULE hModule, LPCWSTR name) { return LoadPngBitmap(hModule, name, nullptr); }

// ---- greyed copies ----------------------------------------------------------------------------

static inline BYTE GreyOf(BYTE b, BYTE g, BYTE r)
{
    return static_cast<BYTE>(static_cast<int>(120.0 + 0.43 * (0.3 * r + 0.5 * g + 0.2 * b)) - 70);
}

static HBITMAP GreyedCopy(HBITMAP hBitmap, bool keepFace)
{
    std::vector<BYTE> px;
    int w = 0, h = 0, bpp = 0;
    if (!SkinReadBitmap32(hBitmap, px, w, h, bpp)) return nullptr;
    void* bits = nullptr;
    HBITMAP dib = SkinCreateDib(w, h, 32, &bits);
    if (!dib) return nullptr;
    const COLORREF face = GetSkinColor(COLOR_BTNFACE);
    BYTE* d = static_cast<BYTE*>(bits);
    for (size_t i = 0; i < px.size(); i += 4)
    {
        const BYTE b = px[i], g = px[i + 1], r = px[i + 2], a = px[i + 3];
        if (keepFace && r == GetRValue(face) && g == GetGValue(face) && b == GetBValue(face))
        {
            d[i] = b;
            d[i + 1] = g;
            d[i + 2] = r;
        }
        else
        {
            d[i] = d[i + 1] = d[i + 2] = GreyOf(b, g, r);
        }
        d[i + 3] = a >= 100 ? a : static_cast<BYTE>(a / 2);
    }
    GdiFlush();
    return dib;
}

int AddGreyedBitmap(HIMAGELIST hImageList, HBITMAP hBitmap)
{
    const ScopedGdiObject<HBITMAP> grey(GreyedCopy(hBitmap, false));
    if (!grey) return -1;
    return ImageList_Add(hImageList, grey.get(), nullptr);
}

HBITMAP MakeGreyedBitmap(HBITMAP hBitmap) { return GreyedCopy(hBitmap, true); }
