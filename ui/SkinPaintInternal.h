// Helpers shared by the skin's source files (not for use outside the skin).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <cwchar>
#include "ui/ControlSkin.h"
#include "ui/ScopedWin32.h"
#include <vector>

// A memory DC with a compatible bitmap selected; freed on scope exit.
class SkinMemDC
{
public:
    SkinMemDC(HDC reference, int width, int height)
        : m_dc(CreateCompatibleDC(reference)),
          m_bmp(m_dc ? CreateCompatibleBitmap(reference, width < 1 ? 1 : width, height < 1 ? 1 : height) : nullptr),
          m_select(m_dc.get(), m_bmp.get())
    {
    }
    bool ok() const { return m_dc && m_bmp; }
    HDC dc() const { return m_dc.get(); }

private:
    // Freed in reverse: the bitmap is selected out before it and the DC go.
    ScopedMemoryDC m_dc;
    ScopedGdiObject<HBITMAP> m_bmp;
    ScopedSelectObject m_select;
};

// Property on a skinned push button while it is its dialog's default one: owner-drawn, it no
// longer says so by its type, but the dialog manager still asks (WM_GETDLGCODE) and tells
// (BM_SETSTYLE) which button that is.
inline constexpr wchar_t kSkinPropDefaultButton[] = L"HpxSkinDefaultButton";

// Class name test (at most 19 characters read, case-insensitive).
bool SkinClassIs(HWND hWnd, const wchar_t* name);
// The brush the parent answers for a control-colour message about hCtrl (wParam = hdc).
HBRUSH SkinParentBrush(HWND hCtrl, HDC hdc, UINT ctlColorMsg);
// Excludes overlapping (not strictly enclosing) siblings from the target DC.
void SkinClipOverlappingSiblings(HDC hdcTarget, HWND hCtrl, int alwaysId);
// Excludes visible children of hWnd from the DC (client coordinates of hWnd).
void SkinClipChildren(HDC hdc, HWND hWnd);
// Excludes visible siblings lying strictly inside hWnd from the DC.
void SkinClipSiblingsInside(HDC hdc, HWND hWnd, bool strictly);
HFONT SkinBoldCopy(HFONT font);
HBITMAP SkinCreateDib(int width, int height, int bpp, void** bits);
bool SkinReadBitmap32(HBITMAP hBitmap, std::vector<BYTE>& pixels, int& width, int& height, int& bpp);
// The module whose resources hold the skin's images.
HMODULE SkinResourceModule();

// The previous window procedure's answer (0 without one).
LRESULT SkinPassOn(WNDPROC prev, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The window's font, DEFAULT_GUI_FONT when it has none.
HFONT SkinWindowFont(HWND hWnd);

// What the filter needs to know about a window.
struct SkinWindowInfo
{
    wchar_t cls[20] = {};
    LONG style = 0;
    LONG exStyle = 0;
    bool isButton = false;
    LONG btnType = -1;
    bool plainButton = false;
    bool groupBox = false;
    bool marked = false;           // BS_OWNERDRAW with SKIN_OWNERDRAW_MARK
    bool skinnedPushLike = false;  // marked, BS_PUSHLIKE, GWL_USERDATA < 255
    bool isStatic = false;
    LONG staticKind = -1;

    explicit SkinWindowInfo(HWND hWnd)
    {
        GetClassNameW(hWnd, cls, 20);
        style = GetWindowLongW(hWnd, GWL_STYLE);
        exStyle = GetWindowLongW(hWnd, GWL_EXSTYLE);
        isButton = Is(L"Button");
        if (isButton)
        {
            btnType = style & BS_TYPEMASK;
            const bool pushLike = (style & BS_PUSHLIKE) != 0;
            plainButton = !pushLike &&
                (btnType == BS_CHECKBOX || btnType == BS_AUTOCHECKBOX || btnType == BS_RADIOBUTTON ||
                 btnType == BS_AUTO3STATE || btnType == BS_AUTORADIOBUTTON);
            groupBox = !pushLike && btnType == BS_GROUPBOX;
            marked = btnType == BS_OWNERDRAW && (style & SKIN_OWNERDRAW_MARK);
            skinnedPushLike = marked && pushLike && GetWindowLongPtrW(hWnd, GWLP_USERDATA) < 255;
        }
        isStatic = Is(L"Static");
        if (isStatic) staticKind = style & SS_TYPEMASK;
    }
    bool Is(const wchar_t* name) const { return _wcsicmp(cls, name) == 0; }
    bool StaticEtched() const
    {
        return staticKind == SS_ETCHEDHORZ || staticKind == SS_ETCHEDVERT || staticKind == SS_ETCHEDFRAME;
    }
    bool StaticGrayOrEtched() const
    {
        return staticKind == SS_GRAYRECT || staticKind == SS_GRAYFRAME || StaticEtched();
    }
};

// The painters of the controls that the skin draws itself, each into the target DC through a
// memory DC, and whether a static's content is the skin's to paint at all.
void SkinPaintCheckBox(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi);
void SkinPaintRadio(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi);
bool SkinPaintsStatic(HWND hWnd, WNDPROC prev, const SkinWindowInfo& wi);
void SkinPaintStatic(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi);
void SkinPaintTrackbar(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi);
void SkinPaintCombo(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi);
void SkinDrawOwnerButton(DRAWITEMSTRUCT* dis);

// Painting of the common-control containers (toolbar, status bar, list view, tab control,
// header, scroll bar) and of owner-drawn tab items; each returns true when it painted.
bool SkinPaintBars(HWND hWnd, HDC target, const RECT* update, WNDPROC prev);
// The scroll bars in a window's frame (WS_VSCROLL, WS_HSCROLL) painted like scroll-bar controls,
// over what the system drew; whether they changed since they were last painted this way; and the
// removal of what is kept about them (when the window is destroyed).
void SkinPaintFrameScrollBars(HWND hWnd);
bool SkinFrameScrollBarsChanged(HWND hWnd);
void SkinForgetFrameScrollBars(HWND hWnd);
LRESULT SkinDrawTabItem(HWND hParent, WNDPROC prev, WPARAM wParam, DRAWITEMSTRUCT* dis, bool& handled);
