// Control skin: the drawing primitives in skin colours (solid fills, sides, 3-D rectangles,
// edges, button faces, gloss, arrows), also used by the panel and the docker, and the helpers
// that the skin's painters share (parent brushes, clipping, the resource module).
#include "ui/ControlSkin.h"
#include "ui/SkinPaintInternal.h"

#include <algorithm>

// ---- shared helpers ---------------------------------------------------------------------------

HBRUSH SkinParentBrush(HWND hCtrl, HDC hdc, UINT ctlColorMsg)
{
    HWND parent = GetParent(hCtrl);
    HBRUSH br = parent ? reinterpret_cast<HBRUSH>(SendMessageW(parent, ctlColorMsg, reinterpret_cast<WPARAM>(hdc),
                                                               reinterpret_cast<LPARAM>(hCtrl)))
                       : nullptr;
    return br ? br : GetSkinBrush(COLOR_BTNFACE);
}

void SkinClipChildren(HDC hdc, HWND hWnd)
{
    for (HWND c = GetWindow(hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    {
        if (!IsWindowVisible(c)) continue;
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&r), 2);
        ExcludeClipRect(hdc, r.left, r.top, r.right, r.bottom);
    }
}

void SkinClipSiblingsInside(HDC hdc, HWND hWnd, bool strictly)
{
    HWND parent = GetParent(hWnd);
    if (!parent) return;
    RECT me;
    GetWindowRect(hWnd, &me);
    for (HWND s = GetWindow(parent, GW_CHILD); s; s = GetWindow(s, GW_HWNDNEXT))
    {
        if (s == hWnd || !IsWindowVisible(s)) continue;
        RECT r;
        GetWindowRect(s, &r);
        const bool inside = strictly
            ? (r.left > me.left && r.right < me.right && r.top > me.top && r.bottom < me.bottom)
            : (r.left >= me.left && r.right <= me.right && r.top >= me.top && r.bottom <= me.bottom);
        if (!inside) continue;
        MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&r), 2);
        ExcludeClipRect(hdc, r.left, r.top, r.right, r.bottom);
    }
}

namespace
{
HMODULE g_hSkinModule = nullptr;
}

void SetSkinResourceModule(HMODULE hModule) { g_hSkinModule = hModule; }

HMODULE SkinResourceModule()
{
    if (g_hSkinModule) return g_hSkinModule;
    // Nobody handed a module in (the skin's own tests): the module that holds this code.
    HMODULE mod = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&SkinResourceModule), &mod);
    return mod;
}

HFONT SkinWindowFont(HWND hWnd)
{
    HFONT f = reinterpret_cast<HFONT>(SendMessageW(hWnd, WM_GETFONT, 0, 0));
    return f ? f : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

LRESULT SkinPassOn(WNDPROC prev, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return prev ? CallWindowProcW(prev, hWnd, msg, wParam, lParam) : 0;
}

// ---- drawing primitives -----------------------------------------------------------------------

void SkinFillSolid(HDC hdc, int x, int y, int cx, int cy, COLORREF colour)
{
    SetBkColor(hdc, colour);
    RECT r = {x, y, x + cx, y + cy};
    ExtTextOutW(hdc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void SkinDrawSides(HDC hdc, int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight, int sides)
{
    if (sides & BF_TOP) SkinFillSolid(hdc, x, y, cx - 1, 1, topLeft);
    if (sides & BF_LEFT) SkinFillSolid(hdc, x, y, 1, cy - 1, topLeft);
    if (sides & BF_RIGHT) SkinFillSolid(hdc, x + cx - 1, y, 1, cy, bottomRight);
    if (sides & BF_BOTTOM) SkinFillSolid(hdc, x, y + cy - 1, cx, 1, bottomRight);
}

void SkinDraw3dRect(HDC hdc, int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight)
{
    SkinDrawSides(hdc, x, y, cx, cy, topLeft, bottomRight, BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM);
}

void SkinDrawEdge(HDC hdc, const RECT& rc, int edge, int sides)
{
    const int x = rc.left, y = rc.top, cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    const int s = sides & (BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM);
    if (edge & BDR_RAISEDOUTER)
        SkinDrawSides(hdc, x, y, cx, cy, GetSkinColor(COLOR_3DLIGHT), GetSkinColor(COLOR_3DDKSHADOW), s);
    else if (edge & BDR_SUNKENOUTER)
        SkinDrawSides(hdc, x, y, cx, cy, GetSkinColor(COLOR_BTNSHADOW), GetSkinColor(COLOR_BTNHIGHLIGHT), s);
    if (edge & BDR_RAISEDINNER)
        SkinDrawSides(hdc, x + 1, y + 1, cx - 2, cy - 2, GetSkinColor(COLOR_BTNHIGHLIGHT),
                      GetSkinColor(COLOR_BTNSHADOW), s);
    else if (edge & BDR_SUNKENINNER)
        SkinDrawSides(hdc, x + 1, y + 1, cx - 2, cy - 2, GetSkinColor(COLOR_3DDKSHADOW), GetSkinColor(COLOR_3DLIGHT),
                      s);
}

void SkinDrawEdge(HDC hdc, const RECT* rc, int edge, int sides)
{
    if (rc) SkinDrawEdge(hdc, *rc, edge, sides);
}

void SkinDrawEdge(HDC hdc, int left, int top, int right, int bottom, int edge, int sides)
{
    RECT r = {left, top, right, bottom};
    SkinDrawEdge(hdc, r, edge, sides);
}

void SkinDrawButtonFace(HDC hdc, const RECT& rc, int state, COLORREF colour)
{
    const int x = rc.left, y = rc.top, cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    if (state & SKIN_STATE_COLORREF)
    {
        const ScopedGdiObject<HBRUSH> br(CreateSolidBrush(colour));
        FillRect(hdc, &rc, br.get());
    }
    else
    {
        FillRect(hdc, &rc, GetSkinBrush(colour));
    }
    const bool checked = (state & SKIN_STATE_CHECKED) != 0, pressed = (state & SKIN_STATE_PRESSED) != 0;
    if (checked && !pressed)
    {
        SkinDraw3dRect(hdc, x, y, cx, cy, GetSkinColor(COLOR_3DDKSHADOW), GetSkinColor(COLOR_3DLIGHT));
    }
    else if (state & SKIN_STATE_FLAT)
    {
        if (pressed)
            SkinDraw3dRect(hdc, x, y, cx, cy, GetSkinColor(COLOR_BTNSHADOW), GetSkinColor(COLOR_BTNHIGHLIGHT));
        else
            SkinDraw3dRect(hdc, x, y, cx, cy, GetSkinColor(COLOR_BTNHIGHLIGHT), GetSkinColor(COLOR_BTNSHADOW));
    }
    else
    {
        SkinDrawEdge(hdc, rc, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    }
}

void SkinDrawGloss(HDC hdc, const RECT& rc, COLORREF base, bool rows, bool pressed)
{
    BYTE hue, sat, I;
    RgbToHsi(base, hue, sat, I);
    const int lo = rows ? rc.top : rc.left;
    const int hi = rows ? rc.bottom : rc.right;
    if (hi <= lo) return;
    const int mid = (lo + hi) / 2;
    const int d = std::min(14, mid);
    auto clamp = [](int v) { return std::max(0, std::min(255, v)); };
    const int light = clamp(I + d), middle = clamp(I + d / 2), dark = clamp(I - d / 2);
    const int q1 = (3 * lo + hi) / 4, q3 = (lo + 3 * hi) / 4;

    auto line = [&](int pos, int intensity)
    {
        const COLORREF c = HsiToRgb(hue, sat, static_cast<BYTE>(clamp(intensity)));
        if (rows)
            SkinFillSolid(hdc, rc.left, pos, rc.right - rc.left, 1, c);
        else
            SkinFillSolid(hdc, pos, rc.top, 1, rc.bottom - rc.top, c);
    };
    for (int p = lo; p < hi; ++p)
    {
        int v;
        if (p < mid)
        {
            if (rows && pressed && p < q1)
                v = dark + (q1 > lo ? (p - lo) * (light - dark) / (q1 - lo) : 0);
            else if (p >= q1)
                v = light + (mid > q1 ? (p - q1) * (middle - light) / (mid - q1) : 0);
            else
                v = light;
        }
        else
        {
            if (p < q3)
                v = I + (q3 > mid ? (p - mid) * (dark - I) / (q3 - mid) : 0);
            else
                v = dark;
        }
        line(p, v);
    }
}

void SkinDrawArrowVert(HDC hdc, int x, int y, int width, int height, bool disabled)
{
    const ScopedGdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, GetSkinColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT)));
    const ScopedSelectObject selectPen(hdc, pen.get());
    const int ah = height < 0 ? -height : height;
    y += (ah - width / 2) / 2;
    int n = width;
    if (n % 2 == 0) --n;
    const int step = height > 0 ? 1 : -1;
    for (; n >= 1; n -= 2)
    {
        MoveToEx(hdc, x, y, nullptr);
        LineTo(hdc, x + n, y);
        y += step;
        ++x;
    }
}

void SkinDrawArrowHorz(HDC hdc, int x, int y, int width, int height, bool disabled)
{
    const ScopedGdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, GetSkinColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT)));
    const ScopedSelectObject selectPen(hdc, pen.get());
    const int aw = width < 0 ? -width : width;
    x += (aw - height / 2) / 2;
    int n = height;
    if (n % 2 == 0) --n;
    const int step = width > 0 ? 1 : -1;
    for (; n >= 1; n -= 2)
    {
        MoveToEx(hdc, x, y, nullptr);
        LineTo(hdc, x, y + n);
        x += step;
        ++y;
    }
}
