// Helpers shared by the skin's source files (not for use outside the skin).
#pragma once

#include <windows.h>
#include <vector>

// A memory DC with a compatible bitmap selected; freed on scope exit.
class SkinMemDC {
public:
    SkinMemDC(HDC reference, int width, int height)
    {
        if (width < 1) width = 1;
        if (height < 1) height = 1;
        m_dc = CreateCompatibleDC(reference);
        m_bmp = m_dc ? CreateCompatibleBitmap(reference, width, height) : nullptr;
        m_old = m_bmp ? SelectObject(m_dc, m_bmp) : nullptr;
    }
    ~SkinMemDC()
    {
        if (m_old) SelectObject(m_dc, m_old);
        if (m_bmp) DeleteObject(m_bmp);
        if (m_dc) DeleteDC(m_dc);
    }
    SkinMemDC(const SkinMemDC&) = delete;
    SkinMemDC& operator=(const SkinMemDC&) = delete;
    bool ok() const { return m_dc && m_bmp; }
    HDC dc() const { return m_dc; }

private:
    HDC m_dc = nullptr;
    HBITMAP m_bmp = nullptr;
    HGDIOBJ m_old = nullptr;
};

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
