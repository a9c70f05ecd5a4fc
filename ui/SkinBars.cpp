// Control skin: painting of the common-control containers - toolbars, status bars, list views,
// tab controls (with their owner-drawn tab items), headers and scroll-bar controls.
#include "ui/ControlSkin.h"
#include "ui/SkinPaintInternal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <new>
#include <vector>

namespace
{

// While a tab control paints into the skin's memory DC, the items it hands to its parent for
// drawing are noted: everything else it drew (frames in system colours) is painted over.
HDC g_tabPaintDC = nullptr;
std::vector<RECT>* g_tabItemRects = nullptr;

COLORREF Face() { return GetSkinColor(COLOR_BTNFACE); }
COLORREF Shadow() { return GetSkinColor(COLOR_BTNSHADOW); }
COLORREF Highlight() { return GetSkinColor(COLOR_BTNHIGHLIGHT); }

void PaintToolbar(HWND hWnd, HDC target, const RECT& update)
{
    SkinClipChildren(target, hWnd);
    SkinMemDC mem(target, update.right, update.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    SkinFillSolid(dc, update.left, update.top, update.right - update.left, update.bottom - update.top, Face());

    HIMAGELIST normal = reinterpret_cast<HIMAGELIST>(SendMessageW(hWnd, TB_GETIMAGELIST, 0, 0));
    HIMAGELIST disabledList = reinterpret_cast<HIMAGELIST>(SendMessageW(hWnd, TB_GETDISABLEDIMAGELIST, 0, 0));
    int iw = 0, ih = 0;
    if (normal) ImageList_GetIconSize(normal, &iw, &ih);
    const int hot = static_cast<int>(SendMessageW(hWnd, TB_GETHOTITEM, 0, 0));
    const int count = static_cast<int>(SendMessageW(hWnd, TB_BUTTONCOUNT, 0, 0));
    const ScopedSelectObject font(dc, SkinWindowFont(hWnd));
    SetBkMode(dc, TRANSPARENT);

    for (int i = 0; i < count; ++i)
    {
        TBBUTTON tb = {};
        RECT r = {};
        if (!SendMessageW(hWnd, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&tb))) continue;
        if (!SendMessageW(hWnd, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r))) continue;
        const int w = r.right - r.left, h = r.bottom - r.top;
        if (tb.fsStyle == BTNS_SEP)
        {
            SkinDraw3dRect(dc, r.left + w / 2 - 1, r.top, 2, h, Shadow(), Highlight());
            continue;
        }
        const bool pressed = (tb.fsState & TBSTATE_PRESSED) != 0;
        const bool checked = (tb.fsState & TBSTATE_CHECKED) != 0;
        const bool enabled = (tb.fsState & TBSTATE_ENABLED) != 0;
        if (i == hot) SkinDrawGloss(dc, r, Face(), true, pressed);
        if (checked || pressed)
            SkinDraw3dRect(dc, r.left, r.top, w, h, Shadow(), Highlight());
        else if (i == hot)
            SkinDraw3dRect(dc, r.left, r.top, w, h, Highlight(), Shadow());

        // A text is drawn only when iString holds a pointer (not a string-pool index).
        // The toolbar copies the whole text without a size: the buffer is made to its length.
        // Out of memory the button is drawn without its text: no exception leaves the paint.
        std::vector<wchar_t> text;
        int textWidth = 0;
        if (tb.iString != 0 && tb.iString != -1 && !IS_INTRESOURCE(tb.iString))
        {
            const LRESULT length = SendMessageW(hWnd, TB_GETBUTTONTEXTW, tb.idCommand, 0);
            try
            {
                if (length > 0) text.assign(static_cast<size_t>(length) + 1, 0);
            }
            catch (const std::bad_alloc&)
            {
                text.clear();
            }
            if (!text.empty())
            {
                SendMessageW(hWnd, TB_GETBUTTONTEXTW, tb.idCommand, reinterpret_cast<LPARAM>(text.data()));
                text.back() = 0;
                SIZE sz = {};
                GetTextExtentPoint32W(dc, text.data(), static_cast<int>(wcslen(text.data())), &sz);
                textWidth = sz.cx;
            }
        }
        int x = r.left + (w - textWidth - iw) / 2;
        int y = r.top + (h - ih) / 2;
        if (checked || pressed)
        {
            ++x;
            ++y;
        }
        if (textWidth > 0)
        {
            SetTextColor(dc, GetSkinColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
            RECT tr = {x, y, x + textWidth, y + ih};
            DrawTextW(dc, text.data(), -1, &tr, DT_SINGLELINE | DT_VCENTER);
            x += textWidth;
        }
        HIMAGELIST list = enabled ? normal : disabledList;
        if (list && tb.iBitmap >= 0 && tb.iBitmap < ImageList_GetImageCount(list))
            ImageList_Draw(list, tb.iBitmap, dc, x, y, ILD_TRANSPARENT);
    }
    BitBlt(target, update.left, update.top, update.right - update.left, update.bottom - update.top, dc, update.left,
           update.top, SRCCOPY);
}

void PaintStatusBar(HWND hWnd, HDC target)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinFillSolid(target, 0, 0, rc.right, rc.bottom, Face());
    SkinFillSolid(target, 0, 0, rc.right, 1, Highlight());
    wchar_t text[1024] = {};
    GetWindowTextW(hWnd, text, 1024);
    const ScopedSelectObject font(target, SkinWindowFont(hWnd));
    SetBkMode(target, TRANSPARENT);
    SetTextColor(target, GetSkinColor(COLOR_BTNTEXT));
    RECT tr = {rc.left + 2, rc.top + 1, rc.right - 2, rc.bottom - 1};
    DrawTextW(target, text, -1, &tr, 0);
}

void PaintListView(HWND hWnd, HDC target, WNDPROC prev)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    const bool enabled = IsWindowEnabled(hWnd) != FALSE;
    SkinFillSolid(dc, 0, 0, rc.right, rc.bottom, GetSkinColor(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
    const LONG style = GetWindowLongW(hWnd, GWL_STYLE);
    if (enabled)
    {
        SkinPassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    }
    else
    {
        SendMessageW(hWnd, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(Face()));
        SendMessageW(hWnd, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(Face()));
        SendMessageW(hWnd, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_GRAYTEXT)));
        SetWindowLongW(hWnd, GWL_STYLE, style & ~WS_DISABLED);
        SkinPassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
        SetWindowLongW(hWnd, GWL_STYLE, style);
        SendMessageW(hWnd, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOW)));
        SendMessageW(hWnd, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOW)));
        SendMessageW(hWnd, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(GetSkinColor(COLOR_WINDOWTEXT)));
    }

    HWND header = reinterpret_cast<HWND>(SendMessageW(hWnd, LVM_GETHEADER, 0, 0));
    const LONG view = style & LVS_TYPEMASK;
    const DWORD ex = static_cast<DWORD>(SendMessageW(hWnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    if ((view == LVS_REPORT || view == LVS_LIST) && (ex & LVS_EX_GRIDLINES))
    {
        SIZE sz = {};
        {
            const ScopedSelectObject font(dc, SkinWindowFont(hWnd));
            GetTextExtentPoint32W(dc, L"Wjg", 3, &sz);
        }
        int rowH = sz.cy + 1;
        const int lists[] = {LVSIL_NORMAL, LVSIL_SMALL, LVSIL_STATE};
        for (int l : lists)
        {
            HIMAGELIST il = reinterpret_cast<HIMAGELIST>(SendMessageW(hWnd, LVM_GETIMAGELIST, l, 0));
            int cx = 0, cy = 0;
            if (il && ImageList_GetIconSize(il, &cx, &cy)) rowH = std::max(rowH, cy + 1);
        }
        if (style & LVS_OWNERDRAWFIXED) rowH = std::max(rowH, 16);
        int top = 0;
        if (header && IsWindowVisible(header))
        {
            RECT hr;
            GetWindowRect(header, &hr);
            top = hr.bottom - hr.top;
        }
        const ScopedGdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, enabled ? Shadow() : Face()));
        const ScopedSelectObject selectPen(dc, pen.get());
        for (int y = top + 1; y < rc.bottom; y += rowH)
        {
            MoveToEx(dc, 0, y, nullptr);
            LineTo(dc, rc.right, y);
        }
        if (header)
        {
            const int scroll = GetScrollPos(hWnd, SB_HORZ);
            const int n = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
            for (int i = 0; i < n; ++i)
            {
                RECT ir = {};
                if (!SendMessageW(header, HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&ir))) continue;
                MoveToEx(dc, ir.right - scroll, top, nullptr);
                LineTo(dc, ir.right - scroll, rc.bottom);
            }
        }
    }
    if (header && IsWindowVisible(header))
    {
        RECT hr;
        GetWindowRect(header, &hr);
        MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&hr), 2);
        ExcludeClipRect(target, hr.left, hr.top, hr.right, hr.bottom);
    }
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

void PaintTab(HWND hWnd, HDC target, WNDPROC prev)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    SkinFillSolid(dc, 0, 0, rc.right, rc.bottom, Face());
    std::vector<RECT> items;
    g_tabPaintDC = dc;
    g_tabItemRects = &items;
    SkinPassOn(prev, hWnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    g_tabPaintDC = nullptr;
    g_tabItemRects = nullptr;
    if (const ScopedGdiObject<HRGN> rest{CreateRectRgn(0, 0, rc.right, rc.bottom)})
    {
        for (const RECT& r : items)
        {
            const ScopedGdiObject<HRGN> item(CreateRectRgn(r.left, r.top, r.right, r.bottom));
            CombineRgn(rest.get(), rest.get(), item.get(), RGN_DIFF);
        }
        FillRgn(dc, rest.get(), GetSkinBrush(COLOR_BTNFACE));
    }

    const LONG style = GetWindowLongW(hWnd, GWL_STYLE);
    const bool buttons = (style & TCS_BUTTONS) != 0;
    const int sides = buttons ? BF_RECT : (BF_LEFT | BF_TOP | BF_RIGHT);
    const int cur = static_cast<int>(SendMessageW(hWnd, TCM_GETCURSEL, 0, 0));
    const int n = static_cast<int>(SendMessageW(hWnd, TCM_GETITEMCOUNT, 0, 0));
    int rowBottom = 0;
    for (int i = 0; i < n; ++i)
    {
        RECT r = {};
        if (!SendMessageW(hWnd, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r))) continue;
        rowBottom = std::max(rowBottom, static_cast<int>(r.bottom));
        if (i == cur) continue;
        if (!buttons) r.bottom += 2;
        SkinDrawEdge(dc, r, EDGE_RAISED, sides);
    }
    if (!buttons)
    {
        RECT page = {0, rowBottom, rc.right, rc.bottom};
        SkinDrawEdge(dc, page, EDGE_RAISED, BF_RECT);
    }
    RECT r = {};
    if (cur >= 0 && SendMessageW(hWnd, TCM_GETITEMRECT, cur, reinterpret_cast<LPARAM>(&r)))
    {
        if (buttons)
        {
            SkinDrawEdge(dc, r, EDGE_SUNKEN, BF_RECT);
        }
        else
        {
            RECT g = {r.left - 2, r.top - 2, r.right + 2, r.bottom + 3};
            SkinDrawEdge(dc, g, EDGE_RAISED, sides);
            // The current tab opens into the page: no line below it.
            SkinFillSolid(dc, g.left + 2, rowBottom, (g.right - g.left) - 4, 2, Face());
        }
    }
    if (style & WS_CLIPCHILDREN) SkinClipChildren(target, hWnd);
    if (style & WS_CLIPSIBLINGS) SkinClipSiblingsInside(target, hWnd, false);
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

void PaintHeader(HWND hWnd, HDC target)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    SkinFillSolid(dc, 0, 0, rc.right, rc.bottom, Face());
    const LONG style = GetWindowLongW(hWnd, GWL_STYLE);
    const bool enabled = IsWindowEnabled(hWnd) != FALSE;
    HWND parent = GetParent(hWnd);
    const bool buttonLike = (style & HDS_BUTTONS) && parent && SkinClassIs(parent, L"SysListView32") &&
        !(GetWindowLongW(parent, GWL_STYLE) & LVS_NOSORTHEADER);
    if (buttonLike && enabled) SkinDrawGloss(dc, rc, Face(), false, false);
    SkinFillSolid(dc, 0, rc.bottom - 1, rc.right, 1, Highlight());
    SkinFillSolid(dc, 0, rc.bottom - 2, rc.right, 1, Shadow());

    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(hWnd, HDM_GETIMAGELIST, 0, 0));
    const ScopedSelectObject font(dc, SkinWindowFont(hWnd));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSkinColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    const int n = static_cast<int>(SendMessageW(hWnd, HDM_GETITEMCOUNT, 0, 0));
    int lastRight = 0;
    for (int i = 0; i < n; ++i)
    {
        wchar_t text[1025] = {};
        HDITEMW item = {};
        item.mask = HDI_WIDTH | HDI_TEXT | HDI_FORMAT | HDI_IMAGE;
        item.pszText = text;
        item.cchTextMax = 1024;
        if (!SendMessageW(hWnd, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&item))) continue;
        RECT r = {};
        if (!SendMessageW(hWnd, HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r))) continue;
        lastRight = std::max(lastRight, static_cast<int>(r.right));
        if (buttonLike)
        {
            SkinDrawEdge(dc, r, EDGE_RAISED, BF_RECT);
        }
        else
        {
            SkinFillSolid(dc, r.right - 1, r.top, 1, r.bottom - r.top, Highlight());
            SkinFillSolid(dc, r.right - 2, r.top, 1, r.bottom - r.top, Shadow());
        }
        RECT content = {r.left + 6, r.top, r.right - 6, r.bottom - 2};
        const bool onRight = (item.fmt & HDF_BITMAP_ON_RIGHT) != 0;
        if ((item.fmt & (HDF_BITMAP | HDF_BITMAP_ON_RIGHT | HDF_IMAGE)) && images && item.iImage >= 0)
        {
            int cx = 0, cy = 0;
            ImageList_GetIconSize(images, &cx, &cy);
            const int y = content.top + (content.bottom - content.top - cy) / 2;
            if (onRight)
            {
                ImageList_Draw(images, item.iImage, dc, content.right - cx, y, ILD_TRANSPARENT);
                content.right -= cx + 3;
            }
            else
            {
                ImageList_Draw(images, item.iImage, dc, content.left, y, ILD_TRANSPARENT);
                content.left += cx + 3;
            }
        }
        UINT fmt = DT_SINGLELINE | DT_BOTTOM | DT_END_ELLIPSIS;
        if (!onRight)
        {
            if ((item.fmt & HDF_JUSTIFYMASK) == HDF_CENTER)
                fmt |= DT_CENTER;
            else if ((item.fmt & HDF_JUSTIFYMASK) == HDF_RIGHT)
                fmt |= DT_RIGHT;
        }
        DrawTextW(dc, text, -1, &content, fmt);
    }
    if (buttonLike && lastRight < rc.right)
    {
        RECT rest = {lastRight, 0, rc.right, rc.bottom};
        SkinDrawEdge(dc, rest, EDGE_RAISED, BF_RECT);
    }
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

// The arrow buttons at both ends of a bar whose background is drawn, and the thumb from start to
// end along it (none when end <= start); a bar too short for both buttons keeps its background.
void DrawBarParts(HDC dc, bool vertical, int length, int across, int arrow, bool enabled, int start, int end)
{
    if (2 * arrow > length) return;
    auto span = [&](int a, int b) {  // a rectangle from a to b along the bar
        return vertical ? RECT{0, a, across, b} : RECT{a, 0, b, across};
    };
    const RECT first = span(0, arrow), second = span(length - arrow, length);
    for (const RECT& b : {first, second})
    {
        SkinFillSolid(dc, b.left, b.top, b.right - b.left, b.bottom - b.top, Face());
        SkinDrawEdge(dc, b, EDGE_RAISED, BF_RECT);
    }
    // An arrow pointing up (left) grows from its base row (column) toward its tip, so its
    // base is placed where a downward arrow's tip would be.
    if (vertical)
    {
        SkinDrawArrowVert(dc, across / 2 - 3, arrow / 2 - 2 + 3, 7, -4, !enabled);
        SkinDrawArrowVert(dc, across / 2 - 3, length - arrow + arrow / 2 - 2, 7, 4, !enabled);
    }
    else
    {
        SkinDrawArrowHorz(dc, arrow / 2 - 2 + 3, across / 2 - 3, -4, 7, !enabled);
        SkinDrawArrowHorz(dc, length - arrow + arrow / 2 - 2, across / 2 - 3, 4, 7, !enabled);
    }
    if (end > start)
    {
        const RECT th = span(start, end);
        SkinFillSolid(dc, th.left, th.top, th.right - th.left, th.bottom - th.top, Face());
        if (!vertical) SkinDrawGloss(dc, th, Face(), true, false);
        SkinDrawEdge(dc, th, EDGE_RAISED, BF_RECT);
    }
}

void PaintScrollBar(HWND hWnd, HDC target)
{
    RECT rc;
    GetClientRect(hWnd, &rc);
    SkinMemDC mem(target, rc.right, rc.bottom);
    if (!mem.ok()) return;
    HDC dc = mem.dc();
    FillRect(dc, &rc, SkinParentBrush(hWnd, dc, WM_CTLCOLORSCROLLBAR));
    SkinDraw3dRect(dc, 0, 0, rc.right, rc.bottom, Shadow(), Shadow());
    SkinDraw3dRect(dc, 1, 1, rc.right - 2, rc.bottom - 2, Face(), Face());

    const LONG style = GetWindowLongW(hWnd, GWL_STYLE);
    const bool enabled = IsWindowEnabled(hWnd) != FALSE;
    SCROLLBARINFO sbi = {};
    sbi.cbSize = sizeof(sbi);
    GetScrollBarInfo(hWnd, OBJID_CLIENT, &sbi);
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
    GetScrollInfo(hWnd, SB_CTL, &si);

    if (style & (SBS_SIZEBOX | SBS_SIZEGRIP))
    {
        SkinFillSolid(dc, 0, 0, rc.right, rc.bottom, Face());
        const bool topLeft = (style & SBS_SIZEBOXTOPLEFTALIGN) != 0;
        const int n = std::min(rc.right, rc.bottom);
        const COLORREF pattern[4] = {Highlight(), Shadow(), Shadow(), Face()};
        for (int d = 0; d < n; ++d)
        {
            const COLORREF c = pattern[d % 4];
            if (d % 4 == 3) continue;
            const ScopedGdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, c));
            const ScopedSelectObject selectPen(dc, pen.get());
            if (topLeft)
            {
                MoveToEx(dc, n - 1 - d, 0, nullptr);
                LineTo(dc, -1, n - d);
            }
            else
            {
                MoveToEx(dc, rc.right - 1, rc.bottom - n + d, nullptr);
                LineTo(dc, rc.right - n + d - 1, rc.bottom);
            }
        }
        BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
        return;
    }

    const bool vertical = (style & SBS_VERT) != 0;
    const int length = vertical ? rc.bottom : rc.right;
    const int arrow = GetSystemMetrics(vertical ? SM_CYVTHUMB : SM_CXHTHUMB);
    int start = 0, end = 0;
    if (2 * arrow <= length && enabled && si.nMax > si.nMin)
    {
        // The system's thumb, unless the bar is being dragged and the cursor is on the thumb.
        start = sbi.xyThumbTop;
        end = sbi.xyThumbBottom;
        if (GetCapture() == hWnd)
        {
            const double range = static_cast<double>(si.nMax - si.nMin);
            const int track = length - 2 * arrow;
            double scale = track / range;
            int len = static_cast<int>(std::ceil(scale * si.nPage));
            const int minLen = si.nPage ? 10 : arrow;
            if (len < minLen)
            {
                len = minLen;
                scale = (track - minLen) / range;
            }
            int s = arrow + static_cast<int>(scale * (si.nTrackPos - si.nMin));
            if (len < 10)
            {
                s -= (10 - len) / 2;
                len = 10;
            }
            s = std::max(arrow, std::min(s, length - arrow - len));
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(hWnd, &pt);
            const int at = vertical ? pt.y : pt.x;
            if (at >= s && at < s + len)
            {
                start = s;
                end = s + len;
            }
        }
    }
    DrawBarParts(dc, vertical, length, vertical ? rc.right : rc.bottom, arrow, enabled, start, end);
    BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
}

}  // namespace

bool SkinPaintBars(HWND hWnd, HDC target, const RECT* update, WNDPROC prev)
{
    wchar_t cls[20] = {};
    GetClassNameW(hWnd, cls, 20);
    RECT client;
    GetClientRect(hWnd, &client);
    if (_wcsicmp(cls, L"ToolbarWindow32") == 0)
        PaintToolbar(hWnd, target, update ? *update : client);
    else if (_wcsicmp(cls, L"msctls_statusbar32") == 0)
        PaintStatusBar(hWnd, target);
    else if (_wcsicmp(cls, L"SysListView32") == 0)
        PaintListView(hWnd, target, prev);
    else if (_wcsicmp(cls, L"SysTabControl32") == 0)
        PaintTab(hWnd, target, prev);
    else if (_wcsicmp(cls, L"SysHeader32") == 0)
        PaintHeader(hWnd, target);
    else if (_wcsicmp(cls, L"ScrollBar") == 0)
        PaintScrollBar(hWnd, target);
    else
        return false;
    return true;
}

LRESULT SkinDrawTabItem(HWND hParent, WNDPROC prev, WPARAM wParam, DRAWITEMSTRUCT* dis, bool& handled)
{
    handled = true;
    if (g_tabItemRects && dis->hDC == g_tabPaintDC)
    {
        try
        {
            g_tabItemRects->push_back(dis->rcItem);
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    if (dis->itemData != 0 && prev)
    {
        LRESULT r = CallWindowProcW(prev, hParent, WM_DRAWITEM, wParam, reinterpret_cast<LPARAM>(dis));
        if (r != 0) return r;
    }
    wchar_t text[510] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 509;
    SendMessageW(dis->hwndItem, TCM_GETITEMW, dis->itemID, reinterpret_cast<LPARAM>(&item));
    HDC dc = dis->hDC;
    const RECT& r = dis->rcItem;
    SkinFillSolid(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, Face());
    const ScopedSelectObject font(dc, SkinWindowFont(dis->hwndItem));
    RECT m = {0, 0, 0, 0};
    DrawTextW(dc, text, -1, &m, DT_CALCRECT | DT_SINGLELINE);
    const int iw = r.right - r.left, ih = r.bottom - r.top;
    const int tw = std::min(static_cast<int>(m.right - m.left), iw);
    const int th = std::min(static_cast<int>(m.bottom - m.top), ih);
    int x = r.left + std::max(0, (iw - tw) / 2);
    int y = r.top + std::max(0, (ih - th) / 2);
    const bool buttons = (GetWindowLongW(dis->hwndItem, GWL_STYLE) & TCS_BUTTONS) != 0;
    if (!(dis->itemState & ODS_SELECTED) && !buttons) y += 2;
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSkinColor(COLOR_BTNTEXT));
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(text), static_cast<WPARAM>(wcslen(text)), x, y, tw, th,
               DST_TEXT);
    SetBkMode(dc, oldMode);
    return 1;
}

// ---- scroll bars in the frame of a window ----------------------------------------------------

namespace
{

// The window's scroll bars as GetScrollBarInfo reports them (screen coordinates); a bar that is
// hidden, or that the window does not keep in its frame although it has the style (a combo box),
// is not shown.
struct FrameBars
{
    SCROLLBARINFO bar[2] = {};
    bool shown[2] = {false, false};
    explicit FrameBars(HWND hWnd)
    {
        RECT client;
        GetClientRect(hWnd, &client);
        MapWindowPoints(hWnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
        const LONG ids[2] = {OBJID_VSCROLL, OBJID_HSCROLL};
        for (int i = 0; i < 2; ++i)
        {
            bar[i].cbSize = sizeof(SCROLLBARINFO);
            RECT overlap;
            shown[i] = GetScrollBarInfo(hWnd, ids[i], &bar[i]) &&
                !(bar[i].rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)) &&
                !IsRectEmpty(&bar[i].rcScrollBar) && !IntersectRect(&overlap, &bar[i].rcScrollBar, &client);
        }
    }
    // A digest of everything the painting depends on.
    uintptr_t Digest() const
    {
        uint32_t h = 2166136261u;
        auto mix = [&h](int v) { h = (h ^ static_cast<uint32_t>(v)) * 16777619u; };
        for (int i = 0; i < 2; ++i)
        {
            mix(shown[i]);
            if (!shown[i]) continue;
            const SCROLLBARINFO& b = bar[i];
            for (int v : {int(b.rcScrollBar.left), int(b.rcScrollBar.top), int(b.rcScrollBar.right),
                          int(b.rcScrollBar.bottom), b.xyThumbTop, b.xyThumbBottom, b.dxyLineButton})
                mix(v);
            for (DWORD state : b.rgstate) mix(static_cast<int>(state));
        }
        return h | 1;  // never 0, which is "no property"
    }
};

const wchar_t kPropBarsDigest[] = L"HpxSkinFrameBars";

}  // namespace

void SkinPaintFrameScrollBars(HWND hWnd)
{
    const FrameBars bars(hWnd);
    SetPropW(hWnd, kPropBarsDigest, reinterpret_cast<HANDLE>(bars.Digest()));
    if (!bars.shown[0] && !bars.shown[1]) return;
    const ScopedWindowDC windowDC(hWnd, ScopedWindowDC::WholeWindow);
    HDC wdc = windowDC.get();
    if (!wdc) return;
    RECT rw;
    GetWindowRect(hWnd, &rw);
    for (int i = 0; i < 2; ++i)
    {
        if (!bars.shown[i]) continue;
        const SCROLLBARINFO& b = bars.bar[i];
        const int w = b.rcScrollBar.right - b.rcScrollBar.left, h = b.rcScrollBar.bottom - b.rcScrollBar.top;
        SkinMemDC mem(wdc, w, h);
        if (!mem.ok()) continue;
        HDC dc = mem.dc();
        RECT all = {0, 0, w, h};
        FillRect(dc, &all, SkinParentBrush(hWnd, dc, WM_CTLCOLORSCROLLBAR));
        const bool vertical = i == 0;
        const bool enabled = IsWindowEnabled(hWnd) && !(b.rgstate[0] & STATE_SYSTEM_UNAVAILABLE);
        const int length = vertical ? h : w;
        const int arrow =
            b.dxyLineButton > 0 ? b.dxyLineButton : GetSystemMetrics(vertical ? SM_CYVSCROLL : SM_CXHSCROLL);
        const bool thumb = enabled && b.xyThumbTop >= arrow && b.xyThumbBottom <= length - arrow;
        DrawBarParts(dc, vertical, length, vertical ? w : h, arrow, enabled, thumb ? b.xyThumbTop : 0,
                     thumb ? b.xyThumbBottom : 0);
        BitBlt(wdc, b.rcScrollBar.left - rw.left, b.rcScrollBar.top - rw.top, w, h, dc, 0, 0, SRCCOPY);
    }
    if (bars.shown[0] && bars.shown[1])
    {
        // The corner between the two bars.
        const RECT& v = bars.bar[0].rcScrollBar;
        const RECT& hz = bars.bar[1].rcScrollBar;
        SkinFillSolid(wdc, v.left - rw.left, hz.top - rw.top, v.right - v.left, hz.bottom - hz.top, Face());
    }
}

bool SkinFrameScrollBarsChanged(HWND hWnd)
{
    return reinterpret_cast<uintptr_t>(GetPropW(hWnd, kPropBarsDigest)) != FrameBars(hWnd).Digest();
}

void SkinForgetFrameScrollBars(HWND hWnd) { RemovePropW(hWnd, kPropBarsDigest); }
