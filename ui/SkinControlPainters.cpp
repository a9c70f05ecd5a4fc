// Control skin: the painters of the controls that the skin draws itself - check boxes, radio
// buttons, statics, trackbars, combo boxes, owner-drawn push buttons and group boxes.
#include "ui/ControlSkin.h"
#include "ui/SkinPaintInternal.h"

#include <algorithm>
#include <cwchar>

namespace
{

WNDPROC g_StaticClassProc = nullptr;
int g_iCheckGlyphSize = 0;

// Width in pixels of the text in the DC's current font.
int TextWidth(HDC hdc, const wchar_t* s)
{
    SIZE sz = {};
    GetTextExtentPoint32W(hdc, s, static_cast<int>(wcslen(s)), &sz);
    return sz.cx;
}

int CheckGlyphSize()
{
    if (g_iCheckGlyphSize <= 0)
    {
        const ScopedGdiObject<HBITMAP> bmp(LoadBitmapW(nullptr, MAKEINTRESOURCEW(32759)));  // OBM_CHECKBOXES
        BITMAP bm = {};
        if (bmp && GetObjectW(bmp.get(), sizeof(bm), &bm)) g_iCheckGlyphSize = bm.bmWidth / 4;
        // Without the system bitmap the glyph is the classic 13 pixels.
        if (g_iCheckGlyphSize <= 0) g_iCheckGlyphSize = 13;
    }
    return g_iCheckGlyphSize;
}

WNDPROC StaticClassProc()
{
    if (!g_StaticClassProc)
    {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        if (GetClassInfoExW(nullptr, L"Static", &wc)) g_StaticClassProc = wc.lpfnWndProc;
    }
    return g_StaticClassProc;
}

// Text of a button / static drawn after the system look was painted underneath.
void DrawButtonLabel(HDC dc, HWND hWnd, const RECT& rcClient, RECT textRect, UINT format, bool enabled, HBRUSH fill)
{
    wchar_t text[1025] = {};
    GetWindowTextW(hWnd, text, 1025);
    if (fill) FillRect(dc, &textRect, fill);
    RECT measure = textRect;
    DrawTextW(dc, text, -1, &measure, format | DT_CALCRECT);
    textRect.top = (measure.top + rcClient.bottom - measure.bottom - rcClient.top - 1) / 2;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSkinColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    DrawTextW(dc, text, -1, &textRect, format);
}

// The client area of a check box or radio button in the parent's button brush, with what the
// control's own procedure paints over it; the skin then draws its glyph and label on top.
// Returns the parent's brush.
HBRUSH PaintButtonUnderlay(HWND hWnd, HDC dc, const RECT& rc, WNDPROC prev)
{
    HBRUSH parentBrush = SkinParentBrush(hWnd, dc, WM_CTLCOLORBTN);
    FillRect(dc, &rc, parentBrush);
    SkinPassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    return parentBrush;
}

}  // namespace

void SkinPaintCheckBox(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    HBRUSH parentBrush = PaintButtonUnderlay(hWnd, dc, rc, prev);

    const int size = CheckGlyphSize();
    const bool leftText = (wi.style & BS_LEFTTEXT) != 0;
    RECT box = {0, 0, size, rc.bottom};
    if (leftText) box = {rc.right - size, 0, rc.right, rc.bottom};
    if (IsDarkSkin()) FillRect(dc, &box, parentBrush);
    box.top = (rc.bottom - size) / 2;
    box.bottom = box.top + size;

    const LRESULT state = SkinPassOn(prev, hWnd, BM_GETCHECK, 0, 0);
    const bool enabled = IsWindowEnabled(hWnd) != FALSE;
    wchar_t name[24];
    swprintf(name, 24, L"%ls%ls%ls", IsDarkSkin() ? L"CHECKD_" : L"CHECK_",
             state == BST_UNCHECKED ? L"DES" : (state == BST_INDETERMINATE ? L"SEMI" : L"SEL"),
             enabled ? L"ON" : L"OFF");
    if (const ScopedGdiObject<HBITMAP> img{LoadPngBitmap(SkinResourceModule(), name)})
    {
        BITMAP bm = {};
        GetObjectW(img.get(), sizeof(bm), &bm);
        const int bh = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
        const int x = box.left + (size - bm.bmWidth) / 2;
        const int y = box.top + (size - bh) / 2;
        DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(img.get()), 0, x, y, bm.bmWidth, bh, DST_BITMAP);
    }

    const ScopedSelectObject font(dc, SkinWindowFont(hWnd));
    UINT format = (wi.style & BS_MULTILINE) ? DT_WORDBREAK : (DT_SINGLELINE | DT_WORDBREAK);
    if (leftText) format |= DT_RIGHT;
    RECT textRect = {box.right + TextWidth(dc, L"t") - 1, 0, rc.right, rc.bottom};
    if (leftText) textRect = {0, 0, box.left, rc.bottom};
    DrawButtonLabel(dc, hWnd, rc, textRect, format, enabled, parentBrush);
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

void SkinPaintRadio(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    HBRUSH parentBrush = PaintButtonUnderlay(hWnd, dc, rc, prev);

    const int size = CheckGlyphSize();
    const int boxTop = (rc.bottom - size - 1) / 2;
    if (GetWindowTextLengthW(hWnd) > 0)
    {
        const ScopedSelectObject font(dc, SkinWindowFont(hWnd));
        const bool multi = (wi.style & BS_MULTILINE) != 0;
        RECT textRect = {size + TextWidth(dc, L"t") - 1, multi ? 0 : boxTop, rc.right, rc.bottom};
        DrawButtonLabel(dc, hWnd, rc, textRect, multi ? DT_WORDBREAK : (DT_SINGLELINE | DT_WORDBREAK),
                        IsWindowEnabled(hWnd) != FALSE, parentBrush);
    }
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

// Whether the skin paints this static's content, or leaves it to its own procedure: statics
// subclassed by someone else, enabled (or empty) sunken statics with a static edge, and enabled
// (or empty) plain statics without any edge are the system's.
bool SkinPaintsStatic(HWND hWnd, WNDPROC prev, const SkinWindowInfo& wi)
{
    if (!prev || prev != StaticClassProc()) return false;
    const bool enabled = IsWindowEnabled(hWnd) != FALSE;
    const bool hasText = GetWindowTextLengthW(hWnd) > 0;
    const bool sunken = (wi.style & SS_SUNKEN) != 0;
    const bool staticEdge = (wi.exStyle & WS_EX_STATICEDGE) != 0;
    const bool clientEdge = (wi.exStyle & WS_EX_CLIENTEDGE) != 0;
    if (staticEdge && sunken && (enabled || !hasText)) return false;
    if ((enabled || !hasText) && !sunken && !wi.StaticGrayOrEtched() && !staticEdge && !clientEdge) return false;
    return true;
}

void SkinPaintStatic(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi)
{
    const bool enabled = IsWindowEnabled(hWnd) != FALSE;
    const bool hasText = GetWindowTextLengthW(hWnd) > 0;
    const bool sunken = (wi.style & SS_SUNKEN) != 0;
    const bool staticEdge = (wi.exStyle & WS_EX_STATICEDGE) != 0;
    const bool clientEdge = (wi.exStyle & WS_EX_CLIENTEDGE) != 0;

    RECT rw;
    GetWindowRect(hWnd, &rw);
    const int ww = rw.right - rw.left, wh = rw.bottom - rw.top;
    const int off = clientEdge ? 2 : 1;
    SkinMemDC mem(target, ww + 2, wh + 2);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    RECT all = {0, 0, ww + 2, wh + 2};
    FillRect(dc, &all, SkinParentBrush(hWnd, dc, WM_CTLCOLORSTATIC));

    const LONG kind = wi.staticKind;
    if (kind == SS_OWNERDRAW || kind == SS_ICON || kind == SS_BITMAP || kind == SS_ENHMETAFILE)
    {
        POINT old;
        SetViewportOrgEx(dc, off, off, &old);
        SkinPassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
        SetViewportOrgEx(dc, old.x, old.y, nullptr);
    }

    RECT frame = {0, 0, ww, wh};
    int inset = 1;
    if (sunken || clientEdge)
    {
        if (wh < 3)
            SkinDrawEdge(dc, frame, EDGE_ETCHED, BF_BOTTOM);
        else
            SkinDrawEdge(dc, frame, staticEdge ? BDR_SUNKENOUTER : EDGE_SUNKEN, BF_RECT);
        inset = 2;
    }
    else if (wi.StaticGrayOrEtched())
    {
        SkinDrawEdge(dc, frame, EDGE_ETCHED, wh == 2 ? BF_BOTTOM : (ww == 2 ? BF_LEFT : BF_RECT));
    }
    else if (staticEdge)
    {
        SkinDrawEdge(dc, frame, BDR_SUNKENOUTER, BF_RECT);
    }

    const bool imageKind = kind == SS_OWNERDRAW || kind == SS_ICON || kind == SS_BITMAP || kind == SS_ENHMETAFILE;
    if (hasText && !imageKind && !wi.StaticGrayOrEtched())
    {
        wchar_t text[1025] = {};
        GetWindowTextW(hWnd, text, 1025);
        UINT format = DT_WORDBREAK;
        if (kind == SS_CENTER)
            format |= DT_CENTER;
        else if (kind == SS_RIGHT)
            format |= DT_RIGHT;
        if (wi.style & SS_CENTERIMAGE) format |= DT_SINGLELINE | DT_VCENTER;
        switch (wi.style & SS_ELLIPSISMASK)
        {
        case SS_ENDELLIPSIS:
            format |= DT_END_ELLIPSIS | DT_WORD_ELLIPSIS;
            break;
        case SS_PATHELLIPSIS:
            format |= DT_PATH_ELLIPSIS | DT_WORD_ELLIPSIS;
            break;
        case SS_WORDELLIPSIS:
            format |= DT_END_ELLIPSIS | DT_PATH_ELLIPSIS | DT_WORD_ELLIPSIS;
            break;
        default:
            break;
        }
        if (wi.style & SS_NOPREFIX) format |= DT_NOPREFIX;
        const ScopedSelectObject font(dc, SkinWindowFont(hWnd));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSkinColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        RECT tr = {inset, inset, ww - inset, wh - inset};
        DrawTextW(dc, text, -1, &tr, format);
    }
    SkinClipSiblingsInside(target, hWnd, true);
    BitBlt(target, -off, -off, ww + 2, wh + 2, dc, 0, 0, SRCCOPY);
}

void SkinPaintTrackbar(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    SkinFillSolid(dc, 0, 0, rc.right, rc.bottom, GetSkinColor(COLOR_BTNFACE));
    SkinPassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);

    RECT ch = {};
    SendMessageW(hWnd, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&ch));
    ch.bottom += 1;
    SkinDrawEdge(dc, ch, EDGE_SUNKEN, BF_RECT);

    if (!(wi.style & TBS_NOTHUMB))
    {
        RECT th = {};
        SendMessageW(hWnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&th));
        const COLORREF face = GetSkinColor(COLOR_BTNFACE);
        SkinFillSolid(dc, th.left, th.top, th.right - th.left, th.bottom - th.top, face);
        SkinDrawEdge(dc, th, EDGE_RAISED, BF_RECT);
        if (!(wi.style & TBS_VERT) && !(wi.style & TBS_NOTICKS))
        {
            // The end toward the ticks is cut to a point.
            const int w = th.right - th.left;
            const int h = (w + 1) / 2;
            const bool up = (wi.style & TBS_TOP) != 0;
            const int depth = h + 1;
            const int areaTop = up ? th.top : th.bottom - depth;
            SkinFillSolid(dc, th.left, areaTop, w, depth, face);
            const int dir = up ? -1 : 1;
            const int y0 = up ? th.top + depth - 1 : th.bottom - depth;
            const COLORREF cl = GetSkinColor(COLOR_3DLIGHT), chl = GetSkinColor(COLOR_BTNHIGHLIGHT);
            const COLORREF cs = GetSkinColor(COLOR_BTNSHADOW), cd = GetSkinColor(COLOR_3DDKSHADOW);
            for (int i = 0; i < h; ++i)
            {
                const int y = y0 + dir * i;
                SetPixelV(dc, th.left + i, y, cl);
                SetPixelV(dc, th.left + i + 1, y, chl);
                SetPixelV(dc, th.right - 1 - i - 1, y, cs);
                SetPixelV(dc, th.right - 1 - i, y, cd);
            }
            // The straight sides down to where the slant begins stay framed.
            SkinFillSolid(dc, th.left, up ? y0 + 1 : th.top, 1, up ? th.bottom - y0 - 1 : y0 - th.top, cl);
            SkinFillSolid(dc, th.right - 1, up ? y0 + 1 : th.top, 1, up ? th.bottom - y0 - 1 : y0 - th.top, cd);
        }
    }
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

void SkinPaintCombo(HWND hWnd, HDC target, WNDPROC prev, const SkinWindowInfo& wi)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinClipChildren(target, hWnd);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    const LONG kind = wi.style & 3;
    const bool dropDown = kind == CBS_DROPDOWN || kind == CBS_DROPDOWNLIST;
    const bool enabled = IsWindowEnabled(hWnd) != FALSE;
    SkinFillSolid(dc, 0, 0, rc.right, rc.bottom, GetSkinColor(dropDown && enabled ? COLOR_WINDOW : COLOR_BTNFACE));
    RECT btn = {rc.right - GetSystemMetrics(SM_CXHTHUMB) - 3, rc.top + 2, rc.right - 2, rc.bottom - 2};

    bool drawn = false;
    if (wi.style & CBS_OWNERDRAWFIXED)
    {
        const LRESULT sel = SendMessageW(hWnd, CB_GETCURSEL, 0, 0);
        if (sel != CB_ERR)
        {
            DRAWITEMSTRUCT dis = {};
            dis.CtlType = ODT_COMBOBOX;
            dis.CtlID = static_cast<UINT>(GetDlgCtrlID(hWnd));
            dis.itemID = static_cast<UINT>(sel);
            dis.itemAction = ODA_DRAWENTIRE;
            dis.hwndItem = hWnd;
            dis.hDC = dc;
            dis.rcItem = {rc.left + 3, rc.top + 3, btn.left, rc.bottom - 3};
            dis.itemData = static_cast<ULONG_PTR>(SendMessageW(hWnd, CB_GETITEMDATA, sel, 0));
            SendMessageW(hWnd, WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
            drawn = true;
        }
    }
    if (!drawn) SkinPassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);

    if (kind == CBS_DROPDOWN && enabled)
    {
        // The system frames the edit field in its own window colour; the edit child itself is
        // clipped out of the target, so the field is simply refilled in the skin's.
        SkinFillSolid(dc, rc.left + 2, rc.top + 2, btn.left - rc.left - 2, rc.bottom - rc.top - 4,
                      GetSkinColor(COLOR_WINDOW));
    }
    if (dropDown)
    {
        SkinDrawEdge(dc, rc, EDGE_SUNKEN, BF_RECT);
        bool pressed = false;
        if (GetKeyState(VK_LBUTTON) < 0)
        {
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(hWnd, &pt);
            pressed = PtInRect(&btn, pt) != FALSE;
        }
        const COLORREF face = GetSkinColor(COLOR_BTNFACE);
        const int bw = btn.right - btn.left, bh = btn.bottom - btn.top;
        SkinFillSolid(dc, btn.left, btn.top, bw, bh, face);
        SkinDrawGloss(dc, btn, face, true, pressed);
        SkinDraw3dRect(dc, btn.left, btn.top, bw, bh, GetSkinColor(COLOR_3DLIGHT), GetSkinColor(COLOR_3DDKSHADOW));
        if (!pressed)
            SkinDraw3dRect(dc, btn.left + 1, btn.top + 1, bw - 2, bh - 2, GetSkinColor(COLOR_BTNHIGHLIGHT),
                           GetSkinColor(COLOR_BTNSHADOW));
        const int shift = pressed ? 1 : 0;
        SkinDrawArrowVert(dc, (btn.left + btn.right) / 2 - 4 + shift, (btn.top + btn.bottom) / 2 - 2 + shift, 8, 4,
                          !enabled);
    }
    else if (kind == CBS_SIMPLE)
    {
        RECT upper = rc;
        for (HWND c = GetWindow(hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        {
            if (SkinClassIs(c, L"ComboLBox"))
            {
                RECT lb;
                GetWindowRect(c, &lb);
                MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&lb), 2);
                upper.bottom = lb.top;
                break;
            }
        }
        SkinDrawEdge(dc, upper, EDGE_SUNKEN, BF_RECT);
    }
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

void SkinDrawOwnerButton(DRAWITEMSTRUCT* dis)
{
    HWND btn = dis->hwndItem;
    const LONG style = GetWindowLongW(btn, GWL_STYLE);
    const bool pushLike = (style & BS_PUSHLIKE) != 0;
    UINT itemState = dis->itemState;
    int st = 0;
    if (itemState & ODS_SELECTED) st |= SKIN_STATE_PRESSED;
    if (itemState & ODS_DISABLED) st |= SKIN_STATE_DISABLED;
    if (itemState & ODS_CHECKED) st |= SKIN_STATE_CHECKED;
    if (pushLike)
    {
        st &= ~SKIN_STATE_PRESSED;
        itemState &= ~ODS_SELECTED;
        const LONG_PTR ud = GetWindowLongPtrW(btn, GWLP_USERDATA);
        if (ud < 255 && (ud & 1)) st |= SKIN_STATE_CHECKED;
    }
    if (style & BS_FLAT) st |= SKIN_STATE_FLAT;
    const bool disabled = (st & SKIN_STATE_DISABLED) != 0;
    const bool shifted = (st & (SKIN_STATE_PRESSED | SKIN_STATE_CHECKED)) != 0;

    const int w = dis->rcItem.right - dis->rcItem.left, h = dis->rcItem.bottom - dis->rcItem.top;
    SkinMemDC mem(dis->hDC, w, h);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    RECT rc = {0, 0, w, h};
    const ScopedSelectObject font(dc, SkinWindowFont(btn));
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    SkinDrawButtonFace(dc, rc, st, COLOR_BTNFACE);

    RECT inner = {1, 1, w - 1, h - 1};
    const int iw = inner.right - inner.left, ih = inner.bottom - inner.top;
    if (style & BS_BITMAP)
    {
        HBITMAP bmp = reinterpret_cast<HBITMAP>(SendMessageW(btn, BM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP bm = {};
        if (bmp && GetObjectW(bmp, sizeof(bm), &bm))
        {
            const int bw = bm.bmWidth, bh = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
            int x = bw > iw ? inner.left : inner.left + (iw - bw) / 2;
            int y = bh > ih ? inner.top : inner.top + (ih - bh) / 2;
            if (shifted)
            {
                ++x;
                ++y;
            }
            if (disabled)
            {
                if (const ScopedGdiObject<HBITMAP> grey{MakeGreyedBitmap(bmp)})
                    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(grey.get()), 0, x, y, std::min(bw, iw),
                               std::min(bh, ih), DST_BITMAP);
            }
            else if (HIMAGELIST il = ImageList_Create(bw, bh, ILC_COLOR32, 0, 1))
            {
                ImageList_Add(il, bmp, nullptr);
                ImageList_Draw(il, 0, dc, x, y, ILD_TRANSPARENT);
                ImageList_Destroy(il);
            }
        }
    }
    else if (style & BS_ICON)
    {
        HICON icon = reinterpret_cast<HICON>(SendMessageW(btn, BM_GETIMAGE, IMAGE_ICON, 0));
        ICONINFO ii = {};
        if (icon && GetIconInfo(icon, &ii))
        {
            // GetIconInfo hands over copies of the icon's bitmaps.
            const ScopedGdiObject<HBITMAP> colour(ii.hbmColor), mask(ii.hbmMask);
            BITMAP bm = {};
            int bw = 0, bh = 0;
            if (ii.hbmColor && GetObjectW(ii.hbmColor, sizeof(bm), &bm))
            {
                bw = bm.bmWidth;
                bh = bm.bmHeight;
            }
            else if (ii.hbmMask && GetObjectW(ii.hbmMask, sizeof(bm), &bm))
            {
                bw = bm.bmWidth;
                bh = bm.bmHeight / 2;
            }
            if (bw > 0 && bh > 0)
            {
                SkinMemDC iconDc(dc, bw, bh);
                if (iconDc.ok())
                {
                    const COLORREF face = GetSkinColor(COLOR_BTNFACE);
                    SkinFillSolid(iconDc.dc(), 0, 0, bw, bh, face);
                    DrawStateW(iconDc.dc(), nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, 0, 0, bw, bh,
                               DST_ICON | (disabled ? DSS_DISABLED : 0));
                    int x = (w - bw) / 2 + (shifted ? 1 : 0), y = (h - bh) / 2 + (shifted ? 1 : 0);
                    TransparentBlt(dc, x, y, bw, bh, iconDc.dc(), 0, 0, bw, bh, face);
                }
            }
        }
    }
    else
    {
        wchar_t text[257] = {};
        if (GetWindowTextW(btn, text, 257) > 0)
        {
            SetTextColor(dc, GetSkinColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
            const bool multi = (style & BS_MULTILINE) != 0;
            RECT area = multi ? RECT{4, 2, w - 4, h - 2} : RECT{2, 2, w - 2, h - 2};
            const UINT fmt = multi ? DT_WORDBREAK : DT_SINGLELINE;
            RECT m = area;
            DrawTextW(dc, text, -1, &m, fmt | DT_CALCRECT);
            const int tw = m.right - m.left, th = m.bottom - m.top;
            int x, y;
            switch (style & BS_CENTER)
            {
            case BS_LEFT:
                x = area.left;
                break;
            case BS_RIGHT:
                x = area.right - tw;
                break;
            default:
                x = area.left + (area.right - area.left - tw) / 2;
                break;
            }
            switch (style & BS_VCENTER)
            {
            case BS_TOP:
                y = area.top;
                break;
            case BS_BOTTOM:
                y = area.bottom - th;
                break;
            default:
                y = area.top + (area.bottom - area.top - th) / 2;
                break;
            }
            if (itemState & ODS_SELECTED)
            {
                ++x;
                ++y;
            }
            RECT tr = {x, y, x + tw, y + th};
            DrawTextW(dc, text, -1, &tr, fmt);
        }
    }
    if ((itemState & ODS_FOCUS) && !(itemState & ODS_DISABLED) && !pushLike)
    {
        RECT f = {4, 4, w - 4, h - 4};
        DrawFocusRect(dc, &f);
    }
    BitBlt(dis->hDC, dis->rcItem.left, dis->rcItem.top, w, h, dc, 0, 0, SRCCOPY);
    SetBkMode(dc, oldMode);
}

void SkinDrawGroupBox(HDC hdcTarget, HWND hCtrl, int flags)
{
    RECT rc;
    GetClientRect(hCtrl, &rc);
    SkinMemDC mem(hdcTarget, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    HBRUSH parentBrush = SkinParentBrush(hCtrl, dc, WM_CTLCOLORBTN);
    FillRect(dc, &rc, parentBrush);
    HFONT font = SkinWindowFont(hCtrl);
    const ScopedGdiObject<HFONT> bold(flags == 2 ? SkinBoldCopy(font) : nullptr);
    const ScopedSelectObject selectFont(dc, bold ? bold.get() : font);
    SetTextColor(dc, GetSkinColor(COLOR_GRAYTEXT));
    SetBkColor(dc, GetSkinColor(COLOR_BTNFACE));
    SetBkMode(dc, OPAQUE);

    wchar_t text[257] = {};
    const int len = GetWindowTextW(hCtrl, text, 257);
    SIZE sz = {};
    GetTextExtentPoint32W(dc, len > 0 ? text : L"W", len > 0 ? len : 1, &sz);
    RECT calc = {0, 0, sz.cx, sz.cy};
    DrawTextW(dc, len > 0 ? text : L"W", -1, &calc, DT_CALCRECT | DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    const int h = calc.bottom - calc.top;

    // Etched frame whose top runs through the caption's middle.
    {
        const ScopedGdiObject<HPEN> hiPen(CreatePen(PS_SOLID, 1, GetSkinColor(COLOR_BTNHIGHLIGHT)));
        const ScopedGdiObject<HPEN> shPen(CreatePen(PS_SOLID, 1, GetSkinColor(COLOR_BTNSHADOW)));
        const ScopedSelectObject noFill(dc, GetStockObject(NULL_BRUSH));
        {
            const ScopedSelectObject pen(dc, hiPen.get());
            Rectangle(dc, 1, h / 2 + 1, rc.right, rc.bottom);
        }
        const ScopedSelectObject pen(dc, shPen.get());
        Rectangle(dc, 0, h / 2, rc.right - 1, rc.bottom - 1);
    }

    RECT cap = {5, 0, std::min(static_cast<int>(rc.right) - 5, static_cast<int>(sz.cx) + 9), h};
    if (len > 0)
    {
        FillRect(dc, &cap, parentBrush);
        RECT tr = {cap.left + 2, cap.top, cap.right - 2, cap.bottom};
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, text, -1, &tr, DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    }

    SkinClipOverlappingSiblings(hdcTarget, hCtrl, -1);
    if (len > 0)
    {
        const ScopedGdiObject<HRGN> capRgn(CreateRectRgn(cap.left, cap.top, cap.right, cap.bottom));
        ExtSelectClipRgn(hdcTarget, capRgn.get(), RGN_OR);
    }
    BitBlt(hdcTarget, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}
