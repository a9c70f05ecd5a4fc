// Control skin, second half: SkinWndProc with its message filter, the painting of buttons, check
// boxes, radio buttons, group boxes, statics, trackbars and combo boxes, and the drawing
// primitives (edges, 3-D rectangles, fills, gloss, arrows, HSI colours).
#include "ui/ControlSkin.h"
#include "ui/SkinPaintInternal.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace {

const wchar_t kPropWindowProc[] = L"WindowProc";

WNDPROC g_StaticClassProc = nullptr;
int g_iCheckGlyphSize = 0;

WNDPROC PrevProc(HWND hWnd) { return reinterpret_cast<WNDPROC>(GetPropW(hWnd, kPropWindowProc)); }

LRESULT PassOn(WNDPROC prev, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return prev ? CallWindowProcW(prev, hWnd, msg, wParam, lParam) : 0;
}

// What the filter needs to know about a window.
struct WinInfo {
    wchar_t cls[20] = {};
    LONG style = 0;
    LONG exStyle = 0;
    bool isButton = false;
    LONG btnType = -1;
    bool plainButton = false;
    bool groupBox = false;
    bool marked = false;          // BS_OWNERDRAW with SKIN_OWNERDRAW_MARK
    bool skinnedPushLike = false;  // marked, BS_PUSHLIKE, GWL_USERDATA < 255
    bool isStatic = false;
    LONG staticKind = -1;

    explicit WinInfo(HWND hWnd)
    {
        GetClassNameW(hWnd, cls, 20);
        style = GetWindowLongW(hWnd, GWL_STYLE);
        exStyle = GetWindowLongW(hWnd, GWL_EXSTYLE);
        isButton = Is(L"Button");
        if (isButton) {
            btnType = style & BS_TYPEMASK;
            const bool pushLike = (style & BS_PUSHLIKE) != 0;
            plainButton = !pushLike && (btnType == BS_CHECKBOX || btnType == BS_AUTOCHECKBOX ||
                                        btnType == BS_RADIOBUTTON || btnType == BS_AUTO3STATE ||
                                        btnType == BS_AUTORADIOBUTTON);
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

bool IsRepaintTrigger(UINT msg)
{
    switch (msg) {
    case WM_KILLFOCUS: case WM_ENABLE: case WM_SETTEXT: case WM_WINDOWPOSCHANGED:
    case SBM_SETPOS: case SBM_SETSCROLLINFO: case BM_SETSTATE: case WM_UPDATEUISTATE:
        return true;
    default:
        return false;
    }
}

bool IsCtlColor(UINT msg)
{
    return msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX || msg == WM_CTLCOLORBTN ||
           msg == WM_CTLCOLORDLG || msg == WM_CTLCOLORSCROLLBAR || msg == WM_CTLCOLORSTATIC;
}

// Width in pixels of the text in the DC's current font.
int TextWidth(HDC hdc, const wchar_t* s)
{
    SIZE sz = {};
    GetTextExtentPoint32W(hdc, s, static_cast<int>(wcslen(s)), &sz);
    return sz.cx;
}

HFONT WindowFont(HWND hWnd)
{
    HFONT f = reinterpret_cast<HFONT>(SendMessageW(hWnd, WM_GETFONT, 0, 0));
    return f ? f : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

int CheckGlyphSize()
{
    if (g_iCheckGlyphSize <= 0) {
        HBITMAP bmp = LoadBitmapW(nullptr, MAKEINTRESOURCEW(32759));  // OBM_CHECKBOXES
        BITMAP bm = {};
        if (bmp && GetObjectW(bmp, sizeof(bm), &bm)) g_iCheckGlyphSize = bm.bmWidth / 4;
        if (bmp) DeleteObject(bmp);
        // Without the system bitmap the glyph is the classic 13 pixels.
        if (g_iCheckGlyphSize <= 0) g_iCheckGlyphSize = 13;
    }
    return g_iCheckGlyphSize;
}

WNDPROC StaticClassProc()
{
    if (!g_StaticClassProc) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        if (GetClassInfoExW(nullptr, L"Static", &wc)) g_StaticClassProc = wc.lpfnWndProc;
    }
    return g_StaticClassProc;
}

// Text of a button / static drawn after the system look was painted underneath.
void DrawButtonLabel(HDC dc, HWND hWnd, const RECT& rcClient, RECT textRect, UINT format, bool enabled,
                     HBRUSH fill)
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

void PaintCheckBox(HWND hWnd, HDC target, WNDPROC prev, const WinInfo& wi)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    HBRUSH parentBrush = SkinParentBrush(hWnd, dc, WM_CTLCOLORBTN);
    FillRect(dc, &rc, parentBrush);
    PassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);

    const int size = CheckGlyphSize();
    const bool leftText = (wi.style & BS_LEFTTEXT) != 0;
    RECT box = {0, 0, size, rc.bottom};
    if (leftText) box = {rc.right - size, 0, rc.right, rc.bottom};
    if (IsDarkSkin()) FillRect(dc, &box, parentBrush);
    box.top = (rc.bottom - size) / 2;
    box.bottom = box.top + size;

    const LRESULT state = PassOn(prev, hWnd, BM_GETCHECK, 0, 0);
    const bool enabled = IsWindowEnabled(hWnd) != FALSE;
    wchar_t name[24];
    swprintf(name, 24, L"%ls%ls%ls", IsDarkSkin() ? L"CHECKD_" : L"CHECK_",
             state == BST_UNCHECKED ? L"DES" : (state == BST_INDETERMINATE ? L"SEMI" : L"SEL"),
             enabled ? L"ON" : L"OFF");
    if (HBITMAP img = LoadPngBitmap(SkinResourceModule(), name)) {
        BITMAP bm = {};
        GetObjectW(img, sizeof(bm), &bm);
        const int bh = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
        const int x = box.left + (size - bm.bmWidth) / 2;
        const int y = box.top + (size - bh) / 2;
        DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(img), 0, x, y, bm.bmWidth, bh, DST_BITMAP);
        DeleteObject(img);
    }

    HGDIOBJ oldFont = SelectObject(dc, WindowFont(hWnd));
    UINT format = (wi.style & BS_MULTILINE) ? DT_WORDBREAK : (DT_SINGLELINE | DT_WORDBREAK);
    if (leftText) format |= DT_RIGHT;
    RECT textRect = {box.right + TextWidth(dc, L"t") - 1, 0, rc.right, rc.bottom};
    if (leftText) textRect = {0, 0, box.left, rc.bottom};
    DrawButtonLabel(dc, hWnd, rc, textRect, format, enabled, parentBrush);
    SelectObject(dc, oldFont);
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

void PaintRadio(HWND hWnd, HDC target, WNDPROC prev, const WinInfo& wi)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    HBRUSH parentBrush = SkinParentBrush(hWnd, dc, WM_CTLCOLORBTN);
    FillRect(dc, &rc, parentBrush);
    PassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);

    const int size = CheckGlyphSize();
    const int boxTop = (rc.bottom - size - 1) / 2;
    if (GetWindowTextLengthW(hWnd) > 0) {
        HGDIOBJ oldFont = SelectObject(dc, WindowFont(hWnd));
        const bool multi = (wi.style & BS_MULTILINE) != 0;
        RECT textRect = {size + TextWidth(dc, L"t") - 1, multi ? 0 : boxTop, rc.right, rc.bottom};
        DrawButtonLabel(dc, hWnd, rc, textRect, multi ? DT_WORDBREAK : (DT_SINGLELINE | DT_WORDBREAK),
                        IsWindowEnabled(hWnd) != FALSE, parentBrush);
        SelectObject(dc, oldFont);
    }
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

// Whether the skin paints this static's content, or leaves it to its own procedure: statics
// subclassed by someone else, enabled (or empty) sunken statics with a static edge, and enabled
// (or empty) plain statics without any edge are the system's.
bool SkinPaintsStatic(HWND hWnd, WNDPROC prev, const WinInfo& wi)
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

void PaintStatic(HWND hWnd, HDC target, WNDPROC prev, const WinInfo& wi)
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
    if (kind == SS_OWNERDRAW || kind == SS_ICON || kind == SS_BITMAP || kind == SS_ENHMETAFILE) {
        POINT old;
        SetViewportOrgEx(dc, off, off, &old);
        PassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
        SetViewportOrgEx(dc, old.x, old.y, nullptr);
    }

    RECT frame = {0, 0, ww, wh};
    int inset = 1;
    if (sunken || clientEdge) {
        if (wh < 3) SkinDrawEdge(dc, frame, EDGE_ETCHED, BF_BOTTOM);
        else SkinDrawEdge(dc, frame, staticEdge ? BDR_SUNKENOUTER : EDGE_SUNKEN, BF_RECT);
        inset = 2;
    } else if (wi.StaticGrayOrEtched()) {
        SkinDrawEdge(dc, frame, EDGE_ETCHED, wh == 2 ? BF_BOTTOM : (ww == 2 ? BF_LEFT : BF_RECT));
    } else if (staticEdge) {
        SkinDrawEdge(dc, frame, BDR_SUNKENOUTER, BF_RECT);
    }

    const bool imageKind = kind == SS_OWNERDRAW || kind == SS_ICON || kind == SS_BITMAP || kind == SS_ENHMETAFILE;
    if (hasText && !imageKind && !wi.StaticGrayOrEtched()) {
        wchar_t text[1025] = {};
        GetWindowTextW(hWnd, text, 1025);
        UINT format = DT_WORDBREAK;
        if (kind == SS_CENTER) format |= DT_CENTER;
        else if (kind == SS_RIGHT) format |= DT_RIGHT;
        if (wi.style & SS_CENTERIMAGE) format |= DT_SINGLELINE | DT_VCENTER;
        switch (wi.style & SS_ELLIPSISMASK) {
        case SS_ENDELLIPSIS: format |= DT_END_ELLIPSIS | DT_WORD_ELLIPSIS; break;
        case SS_PATHELLIPSIS: format |= DT_PATH_ELLIPSIS | DT_WORD_ELLIPSIS; break;
        case SS_WORDELLIPSIS: format |= DT_END_ELLIPSIS | DT_PATH_ELLIPSIS | DT_WORD_ELLIPSIS; break;
        default: break;
        }
        if (wi.style & SS_NOPREFIX) format |= DT_NOPREFIX;
        HGDIOBJ oldFont = SelectObject(dc, WindowFont(hWnd));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSkinColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        RECT tr = {inset, inset, ww - inset, wh - inset};
        DrawTextW(dc, text, -1, &tr, format);
        SelectObject(dc, oldFont);
    }
    SkinClipSiblingsInside(target, hWnd, true);
    BitBlt(target, -off, -off, ww + 2, wh + 2, dc, 0, 0, SRCCOPY);
}

void PaintTrackbar(HWND hWnd, HDC target, WNDPROC prev, const WinInfo& wi)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    SkinFillSolid(dc, 0, 0, rc.right, rc.bottom, GetSkinColor(COLOR_BTNFACE));
    PassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);

    RECT ch = {};
    SendMessageW(hWnd, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&ch));
    ch.bottom += 1;
    SkinDrawEdge(dc, ch, EDGE_SUNKEN, BF_RECT);

    if (!(wi.style & TBS_NOTHUMB)) {
        RECT th = {};
        SendMessageW(hWnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&th));
        const COLORREF face = GetSkinColor(COLOR_BTNFACE);
        SkinFillSolid(dc, th.left, th.top, th.right - th.left, th.bottom - th.top, face);
        SkinDrawEdge(dc, th, EDGE_RAISED, BF_RECT);
        if (!(wi.style & TBS_VERT) && !(wi.style & TBS_NOTICKS)) {
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
            for (int i = 0; i < h; ++i) {
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

void PaintCombo(HWND hWnd, HDC target, WNDPROC prev, const WinInfo& wi)
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
    SkinFillSolid(dc, 0, 0, rc.right, rc.bottom,
                  GetSkinColor(dropDown && enabled ? COLOR_WINDOW : COLOR_BTNFACE));
    RECT btn = {rc.right - GetSystemMetrics(SM_CXHTHUMB) - 3, rc.top + 2, rc.right - 2, rc.bottom - 2};

    bool drawn = false;
    if (wi.style & CBS_OWNERDRAWFIXED) {
        const LRESULT sel = SendMessageW(hWnd, CB_GETCURSEL, 0, 0);
        if (sel != CB_ERR) {
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
    if (!drawn) PassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);

    if (kind == CBS_DROPDOWN && enabled) {
        // The system frames the edit field in its own window colour; the edit child itself is
        // clipped out of the target, so the field is simply refilled in the skin's.
        SkinFillSolid(dc, rc.left + 2, rc.top + 2, btn.left - rc.left - 2, rc.bottom - rc.top - 4,
                      GetSkinColor(COLOR_WINDOW));
    }
    if (dropDown) {
        SkinDrawEdge(dc, rc, EDGE_SUNKEN, BF_RECT);
        bool pressed = false;
        if (GetKeyState(VK_LBUTTON) < 0) {
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
    } else if (kind == CBS_SIMPLE) {
        RECT upper = rc;
        for (HWND c = GetWindow(hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (SkinClassIs(c, L"ComboLBox")) {
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

void DrawOwnerButton(DRAWITEMSTRUCT* dis)
{
    HWND btn = dis->hwndItem;
    const LONG style = GetWindowLongW(btn, GWL_STYLE);
    const bool pushLike = (style & BS_PUSHLIKE) != 0;
    UINT itemState = dis->itemState;
    int st = 0;
    if (itemState & ODS_SELECTED) st |= SKIN_STATE_PRESSED;
    if (itemState & ODS_DISABLED) st |= SKIN_STATE_DISABLED;
    if (itemState & ODS_CHECKED) st |= SKIN_STATE_CHECKED;
    if (pushLike) {
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
    HGDIOBJ oldFont = SelectObject(dc, WindowFont(btn));
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    SkinDrawButtonFace(dc, rc, st, COLOR_BTNFACE);

    RECT inner = {1, 1, w - 1, h - 1};
    const int iw = inner.right - inner.left, ih = inner.bottom - inner.top;
    if (style & BS_BITMAP) {
        HBITMAP bmp = reinterpret_cast<HBITMAP>(SendMessageW(btn, BM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP bm = {};
        if (bmp && GetObjectW(bmp, sizeof(bm), &bm)) {
            const int bw = bm.bmWidth, bh = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
            int x = bw > iw ? inner.left : inner.left + (iw - bw) / 2;
            int y = bh > ih ? inner.top : inner.top + (ih - bh) / 2;
            if (shifted) { ++x; ++y; }
            if (disabled) {
                if (HBITMAP grey = MakeGreyedBitmap(bmp)) {
                    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(grey), 0, x, y, std::min(bw, iw),
                               std::min(bh, ih), DST_BITMAP);
                    DeleteObject(grey);
                }
            } else if (HIMAGELIST il = ImageList_Create(bw, bh, ILC_COLOR32, 0, 1)) {
                ImageList_Add(il, bmp, nullptr);
                ImageList_Draw(il, 0, dc, x, y, ILD_TRANSPARENT);
                ImageList_Destroy(il);
            }
        }
    } else if (style & BS_ICON) {
        HICON icon = reinterpret_cast<HICON>(SendMessageW(btn, BM_GETIMAGE, IMAGE_ICON, 0));
        ICONINFO ii = {};
        if (icon && GetIconInfo(icon, &ii)) {
            BITMAP bm = {};
            int bw = 0, bh = 0;
            if (ii.hbmColor && GetObjectW(ii.hbmColor, sizeof(bm), &bm)) {
                bw = bm.bmWidth;
                bh = bm.bmHeight;
            } else if (ii.hbmMask && GetObjectW(ii.hbmMask, sizeof(bm), &bm)) {
                bw = bm.bmWidth;
                bh = bm.bmHeight / 2;
            }
            if (bw > 0 && bh > 0) {
                SkinMemDC iconDc(dc, bw, bh);
                if (iconDc.ok()) {
                    const COLORREF face = GetSkinColor(COLOR_BTNFACE);
                    SkinFillSolid(iconDc.dc(), 0, 0, bw, bh, face);
                    DrawStateW(iconDc.dc(), nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, 0, 0, bw, bh,
                               DST_ICON | (disabled ? DSS_DISABLED : 0));
                    int x = (w - bw) / 2 + (shifted ? 1 : 0), y = (h - bh) / 2 + (shifted ? 1 : 0);
                    TransparentBlt(dc, x, y, bw, bh, iconDc.dc(), 0, 0, bw, bh, face);
                }
            }
            if (ii.hbmColor) DeleteObject(ii.hbmColor);
            if (ii.hbmMask) DeleteObject(ii.hbmMask);
        }
    } else {
        wchar_t text[257] = {};
        if (GetWindowTextW(btn, text, 257) > 0) {
            SetTextColor(dc, GetSkinColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
            const bool multi = (style & BS_MULTILINE) != 0;
            RECT area = multi ? RECT{4, 2, w - 4, h - 2} : RECT{2, 2, w - 2, h - 2};
            const UINT fmt = multi ? DT_WORDBREAK : DT_SINGLELINE;
            RECT m = area;
            DrawTextW(dc, text, -1, &m, fmt | DT_CALCRECT);
            const int tw = m.right - m.left, th = m.bottom - m.top;
            int x, y;
            switch (style & BS_CENTER) {
            case BS_LEFT: x = area.left; break;
            case BS_RIGHT: x = area.right - tw; break;
            default: x = area.left + (area.right - area.left - tw) / 2; break;
            }
            switch (style & BS_VCENTER) {
            case BS_TOP: y = area.top; break;
            case BS_BOTTOM: y = area.bottom - th; break;
            default: y = area.top + (area.bottom - area.top - th) / 2; break;
            }
            if (itemState & ODS_SELECTED) { ++x; ++y; }
            RECT tr = {x, y, x + tw, y + th};
            DrawTextW(dc, text, -1, &tr, fmt);
        }
    }
    if ((itemState & ODS_FOCUS) && !(itemState & ODS_DISABLED) && !pushLike) {
        RECT f = {4, 4, w - 4, h - 4};
        DrawFocusRect(dc, &f);
    }
    BitBlt(dis->hDC, dis->rcItem.left, dis->rcItem.top, w, h, dc, 0, 0, SRCCOPY);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
}

void Repaint(HWND hWnd)
{
    InvalidateRect(hWnd, nullptr, TRUE);
    UpdateWindow(hWnd);
}

bool IsSkinnedPushLike(HWND h)
{
    if (!SkinClassIs(h, L"Button")) return false;
    const LONG style = GetWindowLongW(h, GWL_STYLE);
    return (style & BS_TYPEMASK) == BS_OWNERDRAW && (style & SKIN_OWNERDRAW_MARK) && (style & BS_PUSHLIKE) &&
           GetWindowLongPtrW(h, GWLP_USERDATA) < 255;
}

LRESULT HandleSetCheck(HWND hWnd, WNDPROC prev, WPARAM wParam, LPARAM lParam, const WinInfo& wi)
{
    if (!wi.skinnedPushLike) {
        // A plain check box or radio button: the system keeps the state, the skin repaints.
        LRESULT r = PassOn(prev, hWnd, BM_SETCHECK, wParam, lParam);
        Repaint(hWnd);
        return r;
    }
    const LONG_PTR ud = GetWindowLongPtrW(hWnd, GWLP_USERDATA);
    const LONG_PTR t = ud & ~static_cast<LONG_PTR>(0xF);
    const LONG_PTR s = static_cast<LONG_PTR>(wParam) & 0xF;
    const LONG_PTR formerType = (ud >> 4) & 0xF;
    if (s != 0 && (formerType == BS_RADIOBUTTON || formerType == BS_AUTORADIOBUTTON)) {
        // Backwards through the group (this button first) up to the window with WS_GROUP ...
        for (HWND h = hWnd; h; h = GetWindow(h, GW_HWNDPREV)) {
            if (IsSkinnedPushLike(h)) {
                const LONG_PTR own = GetWindowLongPtrW(h, GWLP_USERDATA) & ~static_cast<LONG_PTR>(0xF);
                SetWindowLongPtrW(h, GWLP_USERDATA, h == hWnd ? t + 1 : own);
                Repaint(h);
            }
            if (GetWindowLongW(h, GWL_STYLE) & WS_GROUP) break;
        }
        // ... then forwards to the next group.
        for (HWND h = GetWindow(hWnd, GW_HWNDNEXT); h; h = GetWindow(h, GW_HWNDNEXT)) {
            if (GetWindowLongW(h, GWL_STYLE) & WS_GROUP) break;
            if (!IsSkinnedPushLike(h)) continue;
            const LONG_PTR own = GetWindowLongPtrW(h, GWLP_USERDATA) & ~static_cast<LONG_PTR>(0xF);
            SetWindowLongPtrW(h, GWLP_USERDATA, own);
            Repaint(h);
        }
    } else if (ud != t + s) {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, t + s);
        Repaint(hWnd);
    }
    return PassOn(prev, hWnd, BM_SETCHECK, wParam, lParam);
}

LRESULT HandleCtlColor(HWND hWnd, WNDPROC prev, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (prev) {
        LRESULT def = DefWindowProcW(hWnd, msg, wParam, lParam);
        LRESULT own = CallWindowProcW(prev, hWnd, msg, wParam, lParam);
        if (own != 0 && own != def) return own;
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    if (msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX || msg == WM_CTLCOLORSCROLLBAR) {
        SetTextColor(dc, GetSkinColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSkinColor(COLOR_WINDOW));
        if (msg == WM_CTLCOLORLISTBOX) SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSkinBrush(COLOR_WINDOW));
    }
    SetTextColor(dc, GetSkinColor(COLOR_BTNTEXT));
    SetBkColor(dc, GetSkinColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSkinBrush(COLOR_BTNFACE));
}

LRESULT HandleEraseBkgnd(HWND hWnd, WPARAM wParam, const WinInfo& wi)
{
    if (wi.groupBox || wi.Is(L"ToolbarWindow32") || wi.Is(L"msctls_statusbar32")) return 1;
    if (wi.isStatic && ((wi.style & SS_SUNKEN) || wi.staticKind == SS_GRAYFRAME || wi.StaticEtched())) {
        InvalidateRect(hWnd, nullptr, FALSE);
        return 1;
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    RECT rw;
    GetWindowRect(hWnd, &rw);
    const int saved = SaveDC(dc);
    if (wi.style & WS_CLIPCHILDREN) SkinClipChildren(dc, hWnd);
    if (wi.style & WS_CLIPSIBLINGS) SkinClipSiblingsInside(dc, hWnd, false);
    SkinFillSolid(dc, 0, 0, rw.right - rw.left, rw.bottom - rw.top, GetSkinColor(COLOR_BTNFACE));
    RestoreDC(dc, saved);
    return 1;
}

LRESULT HandleNcPaint(HWND hWnd, WNDPROC prev, WPARAM wParam, LPARAM lParam, const WinInfo& wi)
{
    const bool edged = (wi.exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0;
    const bool take = wi.Is(L"ListBox") || wi.Is(L"ComboBox") || wi.Is(L"SysListView32") ||
                      wi.Is(L"msctls_progress32") ||
                      (wi.isStatic && ((wi.style & SS_SUNKEN) || edged)) ||
                      ((wi.Is(L"Edit") || wi.Is(L"ComboLBox") || wi.Is(L"SysTreeView32")) && edged);
    const bool bars = (wi.style & (WS_VSCROLL | WS_HSCROLL)) != 0;
    if (!take) {
        LRESULT r = PassOn(prev, hWnd, WM_NCPAINT, wParam, lParam);
        if (bars) SkinPaintFrameScrollBars(hWnd);
        return r;
    }
    // Scroll bars live in the non-client area: the system lays them out and draws them first,
    // then the skin draws the edge and paints over the bars.
    if (bars) PassOn(prev, hWnd, WM_NCPAINT, wParam, lParam);
    HDC dc = GetWindowDC(hWnd);
    if (dc) {
        RECT rw;
        GetWindowRect(hWnd, &rw);
        RECT r = {0, 0, rw.right - rw.left, rw.bottom - rw.top};
        SkinDrawEdge(dc, r, (wi.exStyle & WS_EX_STATICEDGE) ? BDR_SUNKENOUTER : EDGE_SUNKEN, BF_RECT);
        ReleaseDC(hWnd, dc);
    }
    if (bars) SkinPaintFrameScrollBars(hWnd);
    return 1;
}

LRESULT HandlePaint(HWND hWnd, WNDPROC prev, UINT msg, WPARAM wParam, LPARAM lParam, const WinInfo& wi)
{
    // Classes the skin does not paint itself go to their own procedure untouched.
    const bool own = wi.plainButton || wi.groupBox || wi.isStatic || wi.Is(L"msctls_trackbar32") ||
                     wi.Is(L"ComboBox") || wi.Is(L"ToolbarWindow32") || wi.Is(L"msctls_statusbar32") ||
                     wi.Is(L"SysListView32") || wi.Is(L"SysTabControl32") || wi.Is(L"SysHeader32") ||
                     wi.Is(L"ScrollBar");
    if (!own) return PassOn(prev, hWnd, msg, wParam, lParam);
    // Decided before BeginPaint: a static left to the system paints with its own BeginPaint.
    if (wi.isStatic && !SkinPaintsStatic(hWnd, prev, wi)) return PassOn(prev, hWnd, msg, wParam, lParam);

    PAINTSTRUCT ps = {};
    HDC target;
    RECT update;
    if (msg == WM_PAINT) {
        target = BeginPaint(hWnd, &ps);
        update = ps.rcPaint;
    } else {
        target = reinterpret_cast<HDC>(wParam);
        GetClientRect(hWnd, &update);
    }
    if (target) {
        const int saved = SaveDC(target);
        if (wi.plainButton) {
            if (wi.btnType == BS_RADIOBUTTON || wi.btnType == BS_AUTORADIOBUTTON) PaintRadio(hWnd, target, prev, wi);
            else PaintCheckBox(hWnd, target, prev, wi);
        } else if (wi.groupBox) {
            SkinDrawGroupBox(target, hWnd, 0);
        } else if (wi.isStatic) {
            PaintStatic(hWnd, target, prev, wi);
        } else if (wi.Is(L"msctls_trackbar32")) {
            PaintTrackbar(hWnd, target, prev, wi);
        } else if (wi.Is(L"ComboBox")) {
            PaintCombo(hWnd, target, prev, wi);
        } else {
            SkinPaintBars(hWnd, target, &update, prev);
        }
        RestoreDC(target, saved);
    }
    if (msg == WM_PAINT) EndPaint(hWnd, &ps);
    return 1;
}

LRESULT SkinWndProcBody(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The system draws a window's own scroll bars not only in WM_NCPAINT but whenever they change
// (scrolling, dragging the thumb, pressing an arrow, the mouse over them): in the dark scheme the
// skin paints over them again after any message that left them changed.
LRESULT SkinWndProcImpl(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCDESTROY) SkinForgetFrameScrollBars(hWnd);
    const LRESULT r = SkinWndProcBody(hWnd, msg, wParam, lParam);
    if (msg != WM_NCPAINT && msg != WM_NCDESTROY && msg != WM_DESTROY && IsDarkSkin() && IsWindow(hWnd) &&
        (GetWindowLongW(hWnd, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL)) && !IsSkinExcludedDialog(hWnd)) {
        const bool hover = msg == WM_NCMOUSEMOVE || msg == WM_NCMOUSELEAVE || msg == WM_MOUSELEAVE;
        if (hover || SkinFrameScrollBarsChanged(hWnd)) SkinPaintFrameScrollBars(hWnd);
    }
    return r;
}

LRESULT SkinWndProcBody(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WNDPROC prev = PrevProc(hWnd);
    if (msg == WM_NCDESTROY && prev) {
        // Someone subclassed the window after the skin, so WM_DESTROY could not unhook it.
        RemovePropW(hWnd, kPropWindowProc);
        return CallWindowProcW(prev, hWnd, msg, wParam, lParam);
    }
    if (!SkinPaintFilter(hWnd, msg, lParam)) return PassOn(prev, hWnd, msg, wParam, lParam);

    if (msg == WM_DESTROY) {
        if (prev && GetWindowLongPtrW(hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&SkinWndProc)) {
            SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prev));
            RemovePropW(hWnd, kPropWindowProc);
        }
        return PassOn(prev, hWnd, msg, wParam, lParam);
    }
    if (IsCtlColor(msg)) return HandleCtlColor(hWnd, prev, msg, wParam, lParam);

    const WinInfo wi(hWnd);
    if (IsRepaintTrigger(msg)) {
        LRESULT r = PassOn(prev, hWnd, msg, wParam, lParam);
        const bool sizeBox = wi.Is(L"ScrollBar") && (wi.style & (SBS_SIZEBOX | SBS_SIZEGRIP));
        if (!(sizeBox && msg == WM_WINDOWPOSCHANGED) && IsWindow(hWnd)) {
            UINT flags = RDW_INVALIDATE | RDW_NOERASE | RDW_FRAME;
            if (wi.isStatic || wi.isButton || wi.Is(L"ScrollBar")) flags |= RDW_UPDATENOW;
            RedrawWindow(hWnd, nullptr, nullptr, flags);
        }
        return r;
    }
    switch (msg) {
    case WM_PAINT:
    case WM_PRINTCLIENT:
        return HandlePaint(hWnd, prev, msg, wParam, lParam, wi);
    case WM_ERASEBKGND:
        return HandleEraseBkgnd(hWnd, wParam, wi);
    case WM_NCPAINT:
        return HandleNcPaint(hWnd, prev, wParam, lParam, wi);
    case WM_DRAWITEM: {
        DRAWITEMSTRUCT* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (dis && dis->CtlType == ODT_BUTTON && dis->hwndItem) {
            const LONG bs = GetWindowLongW(dis->hwndItem, GWL_STYLE);
            if ((bs & BS_TYPEMASK) == BS_OWNERDRAW && (bs & SKIN_OWNERDRAW_MARK)) {
                DrawOwnerButton(dis);
                return 1;
            }
        } else if (dis && dis->CtlType == ODT_TAB) {
            bool handled = false;
            LRESULT r = SkinDrawTabItem(hWnd, prev, wParam, dis, handled);
            if (handled) return r;
        }
        return PassOn(prev, hWnd, msg, wParam, lParam);
    }
    case WM_GETDLGCODE: {
        const MSG* m = reinterpret_cast<const MSG*>(lParam);
        if (m && m->message == WM_KEYDOWN && m->wParam == VK_TAB) return 0;
        return DLGC_WANTALLKEYS;
    }
    case BM_GETCHECK: {
        const LONG_PTR ud = GetWindowLongPtrW(hWnd, GWLP_USERDATA);
        if (ud >= 255) return PassOn(prev, hWnd, msg, wParam, lParam);
        return ud & 1;
    }
    case BM_SETCHECK:
        return HandleSetCheck(hWnd, prev, wParam, lParam, wi);
    case BM_SETSTYLE:
        if ((wi.style & BS_TYPEMASK) == BS_OWNERDRAW && (wi.style & SKIN_OWNERDRAW_MARK) &&
            (wParam & BS_TYPEMASK) != BS_OWNERDRAW)
            wParam = (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW;
        return PassOn(prev, hWnd, msg, wParam, lParam);
    default:
        return PassOn(prev, hWnd, msg, wParam, lParam);
    }
}

}  // namespace

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
    for (HWND c = GetWindow(hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
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
    for (HWND s = GetWindow(parent, GW_CHILD); s; s = GetWindow(s, GW_HWNDNEXT)) {
        if (s == hWnd || !IsWindowVisible(s)) continue;
        RECT r;
        GetWindowRect(s, &r);
        const bool inside = strictly ? (r.left > me.left && r.right < me.right && r.top > me.top && r.bottom < me.bottom)
                                     : (r.left >= me.left && r.right <= me.right && r.top >= me.top &&
                                        r.bottom <= me.bottom);
        if (!inside) continue;
        MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&r), 2);
        ExcludeClipRect(hdc, r.left, r.top, r.right, r.bottom);
    }
}

namespace {
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

// ---- the window procedure ---------------------------------------------------------------------

bool SkinPaintFilter(HWND hWnd, UINT msg, LPARAM lParam)
{
    (void)lParam;
    // The skin must always unhook itself, whatever the mode.
    if (msg == WM_DESTROY) return true;
    const int mode = g_iSkinMode;
    if (mode == SKIN_MODE_NONE) return false;
    const bool dark = mode == SKIN_MODE_DARK_GREY || mode == SKIN_MODE_BLACK;

    if (msg == WM_DRAWITEM) return true;
    const WinInfo wi(hWnd);
    switch (msg) {
    case WM_GETDLGCODE:
        return wi.marked;
    case BM_GETCHECK:
        return wi.skinnedPushLike && !IsSkinExcludedDialog(hWnd);
    case BM_SETCHECK:
        if (IsSkinExcludedDialog(hWnd)) return false;
        return wi.skinnedPushLike || (dark && wi.plainButton);
    case BM_SETSTYLE:
        return wi.isButton && (wi.style & SKIN_OWNERDRAW_MARK) && !IsSkinExcludedDialog(hWnd);
    default:
        break;
    }
    if (IsCtlColor(msg)) return !IsSkinExcludedDialog(hWnd);

    const bool disabled = !IsWindowEnabled(hWnd);
    if (IsRepaintTrigger(msg)) {
        if (dark) {
            if (!(wi.plainButton || wi.groupBox || wi.Is(L"ComboBox") || wi.Is(L"SysListView32") || wi.isStatic ||
                  wi.Is(L"ScrollBar") || wi.Is(L"Edit")))
                return false;
            return !IsSkinExcludedDialog(hWnd);
        }
        if (mode == SKIN_MODE_LIGHT) return disabled && (wi.isStatic || wi.plainButton) && !IsSkinExcludedDialog(hWnd);
        return false;
    }
    if (msg == WM_PAINT || msg == WM_PRINTCLIENT) {
        if (dark) {
            const bool staticTaken = wi.isStatic && ((wi.style & SS_SUNKEN) || wi.StaticGrayOrEtched() ||
                                                     (wi.exStyle & WS_EX_STATICEDGE) || disabled);
            if (!(wi.plainButton || wi.groupBox || staticTaken || wi.Is(L"ComboBox") || wi.Is(L"ScrollBar") ||
                  wi.Is(L"SysHeader32") || wi.Is(L"SysListView32") || wi.Is(L"SysTabControl32") ||
                  wi.Is(L"msctls_trackbar32") || wi.Is(L"msctls_statusbar32") || wi.Is(L"ToolbarWindow32")))
                return false;
            return !IsSkinExcludedDialog(hWnd);
        }
        if (mode == SKIN_MODE_LIGHT) {
            if (!(wi.Is(L"msctls_trackbar32") || (wi.isStatic && disabled) || (wi.plainButton && disabled)))
                return false;
            return !IsSkinExcludedDialog(hWnd);
        }
        return false;
    }
    if (msg == WM_ERASEBKGND) {
        if (dark) {
            const bool staticTaken =
                wi.isStatic && ((wi.style & SS_SUNKEN) || wi.StaticEtched() || disabled);
            if (!(wi.groupBox || staticTaken || wi.Is(L"msctls_statusbar32") || wi.Is(L"ToolbarWindow32")))
                return false;
            return !IsSkinExcludedDialog(hWnd);
        }
        return wi.Is(L"SysTabControl32") && !IsSkinExcludedDialog(hWnd);
    }
    if (msg == WM_NCPAINT) {
        if (!dark) return false;
        const bool edged = (wi.exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0;
        // Scroll bars in the frame of any window, too.
        if (!((wi.style & (WS_VSCROLL | WS_HSCROLL)) || (wi.Is(L"Edit") && edged) || wi.Is(L"ListBox") || wi.Is(L"ComboBox") || wi.Is(L"ComboLBox") ||
              wi.Is(L"SysTreeView32") || wi.Is(L"SysListView32") || wi.Is(L"msctls_progress32") ||
              // Statics with a static edge too (etched lines get one from the system): their
              // frame lies in the non-client area, which would keep the system's light colours.
              (wi.isStatic && ((wi.style & SS_SUNKEN) || edged))))
            return false;
        return !IsSkinExcludedDialog(hWnd);
    }
    return false;
}

LRESULT CALLBACK SkinWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // No exception may unwind into the system's frames.
    try {
        return SkinWndProcImpl(hWnd, msg, wParam, lParam);
    } catch (...) {
        if (msg == WM_PAINT) ValidateRect(hWnd, nullptr);
        return 0;
    }
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
    if (state & SKIN_STATE_COLORREF) {
        HBRUSH br = CreateSolidBrush(colour);
        FillRect(hdc, &rc, br);
        DeleteObject(br);
    } else {
        FillRect(hdc, &rc, GetSkinBrush(colour));
    }
    const bool checked = (state & SKIN_STATE_CHECKED) != 0, pressed = (state & SKIN_STATE_PRESSED) != 0;
    if (checked && !pressed) {
        SkinDraw3dRect(hdc, x, y, cx, cy, GetSkinColor(COLOR_3DDKSHADOW), GetSkinColor(COLOR_3DLIGHT));
    } else if (state & SKIN_STATE_FLAT) {
        if (pressed) SkinDraw3dRect(hdc, x, y, cx, cy, GetSkinColor(COLOR_BTNSHADOW), GetSkinColor(COLOR_BTNHIGHLIGHT));
        else SkinDraw3dRect(hdc, x, y, cx, cy, GetSkinColor(COLOR_BTNHIGHLIGHT), GetSkinColor(COLOR_BTNSHADOW));
    } else {
        SkinDrawEdge(hdc, rc, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    }
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
    HFONT font = WindowFont(hCtrl);
    HFONT bold = flags == 2 ? SkinBoldCopy(font) : nullptr;
    HGDIOBJ oldFont = SelectObject(dc, bold ? bold : font);
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
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    HPEN hiPen = CreatePen(PS_SOLID, 1, GetSkinColor(COLOR_BTNHIGHLIGHT));
    HPEN shPen = CreatePen(PS_SOLID, 1, GetSkinColor(COLOR_BTNSHADOW));
    HGDIOBJ oldPen = SelectObject(dc, hiPen);
    Rectangle(dc, 1, h / 2 + 1, rc.right, rc.bottom);
    SelectObject(dc, shPen);
    Rectangle(dc, 0, h / 2, rc.right - 1, rc.bottom - 1);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(hiPen);
    DeleteObject(shPen);

    RECT cap = {5, 0, std::min(static_cast<int>(rc.right) - 5, static_cast<int>(sz.cx) + 9), h};
    if (len > 0) {
        FillRect(dc, &cap, parentBrush);
        RECT tr = {cap.left + 2, cap.top, cap.right - 2, cap.bottom};
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, text, -1, &tr, DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    }
    SelectObject(dc, oldFont);
    if (bold) DeleteObject(bold);

    SkinClipOverlappingSiblings(hdcTarget, hCtrl, -1);
    if (len > 0) {
        HRGN capRgn = CreateRectRgn(cap.left, cap.top, cap.right, cap.bottom);
        ExtSelectClipRgn(hdcTarget, capRgn, RGN_OR);
        DeleteObject(capRgn);
    }
    BitBlt(hdcTarget, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

void RgbToHsi(COLORREF rgb, BYTE& hue, BYTE& saturation, BYTE& intensity)
{
    const int r = GetRValue(rgb), g = GetGValue(rgb), b = GetBValue(rgb);
    if (r == g && g == b) {
        hue = 0;
        saturation = 0;
        intensity = static_cast<BYTE>(r);
        return;
    }
    const double sum = r + g + b;
    intensity = static_cast<BYTE>(std::lround(sum / 3.0));
    const int mn = std::min(r, std::min(g, b));
    saturation = static_cast<BYTE>(std::lround(255.0 * (1.0 - 3.0 * mn / sum)));
    const double num = ((r - g) + (r - b)) / 2.0;
    const double den = std::sqrt(static_cast<double>(r - g) * (r - g) + static_cast<double>(r - b) * (g - b));
    double c = den > 0 ? num / den : 1.0;
    c = std::max(-1.0, std::min(1.0, c));
    const double theta = std::acos(c);
    const double twoPi = 2.0 * 3.14159265358979323846;
    long hv = b > g ? std::lround(255.0 * (1.0 - theta / twoPi)) : std::lround(255.0 * theta / twoPi);
    hue = static_cast<BYTE>(std::max(0L, std::min(255L, hv)));
}

COLORREF HsiToRgb(BYTE hue, BYTE saturation, BYTE intensity)
{
    if (intensity == 0) return RGB(0, 0, 0);
    if (saturation == 0) return RGB(intensity, intensity, intensity);
    const double pi = 3.14159265358979323846;
    const double h = hue * 2.0 * pi / 255.0, s = saturation / 255.0;
    auto k = [s, pi](double x) { return (1.0 + s * std::cos(x) / std::cos(pi / 3.0 - x)) / 3.0; };
    const double m = (1.0 - s) / 3.0;
    double r, g, b;
    if (h <= 2.0 * pi / 3.0) {
        r = k(h);
        b = m;
        g = 1.0 - r - b;
    } else if (h <= 4.0 * pi / 3.0) {
        const double x = h - 2.0 * pi / 3.0;
        g = k(x);
        r = m;
        b = 1.0 - r - g;
    } else {
        const double x = h - 4.0 * pi / 3.0;
        b = k(x);
        g = m;
        r = 1.0 - g - b;
    }
    auto chan = [intensity](double f) {
        double v = f * 3.0 * intensity;
        if (v < 0) v = 0;
        return static_cast<BYTE>(std::min(255, static_cast<int>(v)));
    };
    return RGB(chan(r), chan(g), chan(b));
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

    auto line = [&](int pos, int intensity) {
        const COLORREF c = HsiToRgb(hue, sat, static_cast<BYTE>(clamp(intensity)));
        if (rows) SkinFillSolid(hdc, rc.left, pos, rc.right - rc.left, 1, c);
        else SkinFillSolid(hdc, pos, rc.top, 1, rc.bottom - rc.top, c);
    };
    for (int p = lo; p < hi; ++p) {
        int v;
        if (p < mid) {
            if (rows && pressed && p < q1) v = dark + (q1 > lo ? (p - lo) * (light - dark) / (q1 - lo) : 0);
            else if (p >= q1) v = light + (mid > q1 ? (p - q1) * (middle - light) / (mid - q1) : 0);
            else v = light;
        } else {
            if (p < q3) v = I + (q3 > mid ? (p - mid) * (dark - I) / (q3 - mid) : 0);
            else v = dark;
        }
        line(p, v);
    }
}

void SkinDrawArrowVert(HDC hdc, int x, int y, int width, int height, bool disabled)
{
    HPEN pen = CreatePen(PS_SOLID, 1, GetSkinColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    HGDIOBJ old = SelectObject(hdc, pen);
    const int ah = height < 0 ? -height : height;
    y += (ah - width / 2) / 2;
    int n = width;
    if (n % 2 == 0) --n;
    const int step = height > 0 ? 1 : -1;
    for (; n >= 1; n -= 2) {
        MoveToEx(hdc, x, y, nullptr);
        LineTo(hdc, x + n, y);
        y += step;
        ++x;
    }
    SelectObject(hdc, old);
    DeleteObject(pen);
}

void SkinDrawArrowHorz(HDC hdc, int x, int y, int width, int height, bool disabled)
{
    HPEN pen = CreatePen(PS_SOLID, 1, GetSkinColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    HGDIOBJ old = SelectObject(hdc, pen);
    const int aw = width < 0 ? -width : width;
    x += (aw - height / 2) / 2;
    int n = height;
    if (n % 2 == 0) --n;
    const int step = width > 0 ? 1 : -1;
    for (; n >= 1; n -= 2) {
        MoveToEx(hdc, x, y, nullptr);
        LineTo(hdc, x, y + n);
        x += step;
        ++y;
    }
    SelectObject(hdc, old);
    DeleteObject(pen);
}
