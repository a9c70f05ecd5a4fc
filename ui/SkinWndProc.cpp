// Control skin: SkinWndProc, the window procedure that InstallSkin puts on every window of a
// skinned tree, and SkinPaintFilter, which decides for each message whether the skin takes it.
#include "ui/ControlSkin.h"
#include "ui/SkinPaintInternal.h"
#include "ui/CaughtExceptionTrace.h"

namespace
{

const wchar_t kPropWindowProc[] = L"WindowProc";

WNDPROC PrevProc(HWND hWnd) { return reinterpret_cast<WNDPROC>(GetPropW(hWnd, kPropWindowProc)); }

bool IsRepaintTrigger(UINT msg)
{
    switch (msg)
    {
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_WINDOWPOSCHANGED:
    case SBM_SETPOS:
    case SBM_SETSCROLLINFO:
    case BM_SETSTATE:
    case WM_UPDATEUISTATE:
        return true;
    default:
        return false;
    }
}

bool IsCtlColor(UINT msg)
{
    return msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX || msg == WM_CTLCOLORBTN || msg == WM_CTLCOLORDLG ||
        msg == WM_CTLCOLORSCROLLBAR || msg == WM_CTLCOLORSTATIC;
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

LRESULT HandleSetCheck(HWND hWnd, WNDPROC prev, WPARAM wParam, LPARAM lParam, const SkinWindowInfo& wi)
{
    if (!wi.skinnedPushLike)
    {
        // A plain check box or radio button: the system keeps the state, the skin repaints.
        LRESULT r = SkinPassOn(prev, hWnd, BM_SETCHECK, wParam, lParam);
        Repaint(hWnd);
        return r;
    }
    const LONG_PTR ud = GetWindowLongPtrW(hWnd, GWLP_USERDATA);
    const LONG_PTR t = ud & ~static_cast<LONG_PTR>(0xF);
    const LONG_PTR s = static_cast<LONG_PTR>(wParam) & 0xF;
    const LONG_PTR formerType = (ud >> 4) & 0xF;
    if (s != 0 && (formerType == BS_RADIOBUTTON || formerType == BS_AUTORADIOBUTTON))
    {
        // Backwards through the group (this button first) up to the window with WS_GROUP ...
        for (HWND h = hWnd; h; h = GetWindow(h, GW_HWNDPREV))
        {
            if (IsSkinnedPushLike(h))
            {
                const LONG_PTR own = GetWindowLongPtrW(h, GWLP_USERDATA) & ~static_cast<LONG_PTR>(0xF);
                SetWindowLongPtrW(h, GWLP_USERDATA, h == hWnd ? t + 1 : own);
                Repaint(h);
            }
            if (GetWindowLongW(h, GWL_STYLE) & WS_GROUP) break;
        }
        // ... then forwards to the next group.
        for (HWND h = GetWindow(hWnd, GW_HWNDNEXT); h; h = GetWindow(h, GW_HWNDNEXT))
        {
            if (GetWindowLongW(h, GWL_STYLE) & WS_GROUP) break;
            if (!IsSkinnedPushLike(h)) continue;
            const LONG_PTR own = GetWindowLongPtrW(h, GWLP_USERDATA) & ~static_cast<LONG_PTR>(0xF);
            SetWindowLongPtrW(h, GWLP_USERDATA, own);
            Repaint(h);
        }
    }
    else if (ud != t + s)
    {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, t + s);
        Repaint(hWnd);
    }
    return SkinPassOn(prev, hWnd, BM_SETCHECK, wParam, lParam);
}

// A button the skin made owner-drawn answers the dialog manager as the button class answers for
// the type it had, so Enter, Escape, Tab and the arrow keys work on it as on a system button, and
// the focused push button becomes the one that Enter presses.
LRESULT OwnerDrawnButtonDlgCode(HWND hWnd, const SkinWindowInfo& wi)
{
    if (wi.style & BS_PUSHLIKE)
    {
        const LONG_PTR ud = GetWindowLongPtrW(hWnd, GWLP_USERDATA);
        const LONG_PTR formerType = ud < 255 ? (ud >> 4) & 0xF : -1;
        if (formerType == BS_RADIOBUTTON || formerType == BS_AUTORADIOBUTTON) return DLGC_BUTTON | DLGC_RADIOBUTTON;
        if (formerType != BS_PUSHBUTTON && formerType != BS_DEFPUSHBUTTON) return DLGC_BUTTON;
    }
    return DLGC_BUTTON | (GetPropW(hWnd, kSkinPropDefaultButton) ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
}

LRESULT HandleCtlColor(HWND hWnd, WNDPROC prev, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (prev)
    {
        LRESULT def = DefWindowProcW(hWnd, msg, wParam, lParam);
        LRESULT own = CallWindowProcW(prev, hWnd, msg, wParam, lParam);
        if (own != 0 && own != def) return own;
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    if (msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX || msg == WM_CTLCOLORSCROLLBAR)
    {
        SetTextColor(dc, GetSkinColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSkinColor(COLOR_WINDOW));
        if (msg == WM_CTLCOLORLISTBOX) SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSkinBrush(COLOR_WINDOW));
    }
    SetTextColor(dc, GetSkinColor(COLOR_BTNTEXT));
    SetBkColor(dc, GetSkinColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSkinBrush(COLOR_BTNFACE));
}

LRESULT HandleEraseBkgnd(HWND hWnd, WPARAM wParam, const SkinWindowInfo& wi)
{
    if (wi.groupBox || wi.Is(L"ToolbarWindow32") || wi.Is(L"msctls_statusbar32")) return 1;
    if (wi.isStatic && ((wi.style & SS_SUNKEN) || wi.staticKind == SS_GRAYFRAME || wi.StaticEtched()))
    {
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

LRESULT HandleNcPaint(HWND hWnd, WNDPROC prev, WPARAM wParam, LPARAM lParam, const SkinWindowInfo& wi)
{
    const bool edged = (wi.exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0;
    const bool take = wi.Is(L"ListBox") || wi.Is(L"ComboBox") || wi.Is(L"SysListView32") ||
        wi.Is(L"msctls_progress32") || (wi.isStatic && ((wi.style & SS_SUNKEN) || edged)) ||
        ((wi.Is(L"Edit") || wi.Is(L"ComboLBox") || wi.Is(L"SysTreeView32")) && edged);
    const bool bars = (wi.style & (WS_VSCROLL | WS_HSCROLL)) != 0;
    if (!take)
    {
        LRESULT r = SkinPassOn(prev, hWnd, WM_NCPAINT, wParam, lParam);
        if (bars) SkinPaintFrameScrollBars(hWnd);
        return r;
    }
    // Scroll bars live in the non-client area: the system lays them out and draws them first,
    // then the skin draws the edge and paints over the bars.
    if (bars) SkinPassOn(prev, hWnd, WM_NCPAINT, wParam, lParam);
    if (const ScopedWindowDC dc(hWnd, ScopedWindowDC::WholeWindow); dc.get())
    {
        RECT rw;
        GetWindowRect(hWnd, &rw);
        RECT r = {0, 0, rw.right - rw.left, rw.bottom - rw.top};
        SkinDrawEdge(dc.get(), r, (wi.exStyle & WS_EX_STATICEDGE) ? BDR_SUNKENOUTER : EDGE_SUNKEN, BF_RECT);
    }
    if (bars) SkinPaintFrameScrollBars(hWnd);
    return 1;
}

LRESULT HandlePaint(HWND hWnd, WNDPROC prev, UINT msg, WPARAM wParam, LPARAM lParam, const SkinWindowInfo& wi)
{
    // Classes the skin does not paint itself go to their own procedure untouched.
    const bool own = wi.plainButton || wi.groupBox || wi.isStatic || wi.Is(L"msctls_trackbar32") ||
        wi.Is(L"ComboBox") || wi.Is(L"ToolbarWindow32") || wi.Is(L"msctls_statusbar32") || wi.Is(L"SysListView32") ||
        wi.Is(L"SysTabControl32") || wi.Is(L"SysHeader32") || wi.Is(L"ScrollBar");
    if (!own) return SkinPassOn(prev, hWnd, msg, wParam, lParam);
    // Decided before BeginPaint: a static left to the system paints with its own BeginPaint.
    if (wi.isStatic && !SkinPaintsStatic(hWnd, prev, wi)) return SkinPassOn(prev, hWnd, msg, wParam, lParam);

    PAINTSTRUCT ps = {};
    HDC target;
    RECT update;
    if (msg == WM_PAINT)
    {
        target = BeginPaint(hWnd, &ps);
        update = ps.rcPaint;
    }
    else
    {
        target = reinterpret_cast<HDC>(wParam);
        GetClientRect(hWnd, &update);
    }
    if (target)
    {
        const int saved = SaveDC(target);
        if (wi.plainButton)
        {
            if (wi.btnType == BS_RADIOBUTTON || wi.btnType == BS_AUTORADIOBUTTON)
                SkinPaintRadio(hWnd, target, prev, wi);
            else
                SkinPaintCheckBox(hWnd, target, prev, wi);
        }
        else if (wi.groupBox)
        {
            SkinDrawGroupBox(target, hWnd, 0);
        }
        else if (wi.isStatic)
        {
            SkinPaintStatic(hWnd, target, prev, wi);
        }
        else if (wi.Is(L"msctls_trackbar32"))
        {
            SkinPaintTrackbar(hWnd, target, prev, wi);
        }
        else if (wi.Is(L"ComboBox"))
        {
            SkinPaintCombo(hWnd, target, prev, wi);
        }
        else
        {
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
        (GetWindowLongW(hWnd, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL)) && !IsSkinExcludedDialog(hWnd))
    {
        const bool hover = msg == WM_NCMOUSEMOVE || msg == WM_NCMOUSELEAVE || msg == WM_MOUSELEAVE;
        if (hover || SkinFrameScrollBarsChanged(hWnd)) SkinPaintFrameScrollBars(hWnd);
    }
    return r;
}

LRESULT SkinWndProcBody(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WNDPROC prev = PrevProc(hWnd);
    if (msg == WM_NCDESTROY && prev)
    {
        // Someone subclassed the window after the skin, so WM_DESTROY could not unhook it.
        RemovePropW(hWnd, kPropWindowProc);
        return CallWindowProcW(prev, hWnd, msg, wParam, lParam);
    }
    if (!SkinPaintFilter(hWnd, msg, lParam)) return SkinPassOn(prev, hWnd, msg, wParam, lParam);

    if (msg == WM_DESTROY)
    {
        RemovePropW(hWnd, kSkinPropDefaultButton);
        if (prev && GetWindowLongPtrW(hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&SkinWndProc))
        {
            SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prev));
            RemovePropW(hWnd, kPropWindowProc);
        }
        return SkinPassOn(prev, hWnd, msg, wParam, lParam);
    }
    if (IsCtlColor(msg)) return HandleCtlColor(hWnd, prev, msg, wParam, lParam);

    const SkinWindowInfo wi(hWnd);
    if (IsRepaintTrigger(msg))
    {
        LRESULT r = SkinPassOn(prev, hWnd, msg, wParam, lParam);
        const bool sizeBox = wi.Is(L"ScrollBar") && (wi.style & (SBS_SIZEBOX | SBS_SIZEGRIP));
        if (!(sizeBox && msg == WM_WINDOWPOSCHANGED) && IsWindow(hWnd))
        {
            UINT flags = RDW_INVALIDATE | RDW_NOERASE | RDW_FRAME;
            if (wi.isStatic || wi.isButton || wi.Is(L"ScrollBar")) flags |= RDW_UPDATENOW;
            RedrawWindow(hWnd, nullptr, nullptr, flags);
        }
        return r;
    }
    switch (msg)
    {
    case WM_PAINT:
    case WM_PRINTCLIENT:
        return HandlePaint(hWnd, prev, msg, wParam, lParam, wi);
    case WM_ERASEBKGND:
        return HandleEraseBkgnd(hWnd, wParam, wi);
    case WM_NCPAINT:
        return HandleNcPaint(hWnd, prev, wParam, lParam, wi);
    case WM_DRAWITEM:
    {
        DRAWITEMSTRUCT* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (dis && dis->CtlType == ODT_BUTTON && dis->hwndItem)
        {
            const LONG bs = GetWindowLongW(dis->hwndItem, GWL_STYLE);
            if ((bs & BS_TYPEMASK) == BS_OWNERDRAW && (bs & SKIN_OWNERDRAW_MARK))
            {
                SkinDrawOwnerButton(dis);
                return 1;
            }
        }
        else if (dis && dis->CtlType == ODT_TAB)
        {
            bool handled = false;
            LRESULT r = SkinDrawTabItem(hWnd, prev, wParam, dis, handled);
            if (handled) return r;
        }
        return SkinPassOn(prev, hWnd, msg, wParam, lParam);
    }
    case WM_GETDLGCODE:
        return OwnerDrawnButtonDlgCode(hWnd, wi);
    case BM_GETCHECK:
    {
        const LONG_PTR ud = GetWindowLongPtrW(hWnd, GWLP_USERDATA);
        if (ud >= 255) return SkinPassOn(prev, hWnd, msg, wParam, lParam);
        return ud & 1;
    }
    case BM_SETCHECK:
        return HandleSetCheck(hWnd, prev, wParam, lParam, wi);
    case BM_SETSTYLE:
        if ((wi.style & BS_TYPEMASK) == BS_OWNERDRAW && (wi.style & SKIN_OWNERDRAW_MARK) &&
            (wParam & BS_TYPEMASK) != BS_OWNERDRAW)
        {
            // The dialog manager moves the default from button to button this way.
            if ((wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                SetPropW(hWnd, kSkinPropDefaultButton, reinterpret_cast<HANDLE>(1));
            else if ((wParam & BS_TYPEMASK) == BS_PUSHBUTTON)
                RemovePropW(hWnd, kSkinPropDefaultButton);
            wParam = (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW;
        }
        return SkinPassOn(prev, hWnd, msg, wParam, lParam);
    default:
        return SkinPassOn(prev, hWnd, msg, wParam, lParam);
    }
}
}  // namespace

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
    const SkinWindowInfo wi(hWnd);
    switch (msg)
    {
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
    if (IsRepaintTrigger(msg))
    {
        if (dark)
        {
            if (!(wi.plainButton || wi.groupBox || wi.Is(L"ComboBox") || wi.Is(L"SysListView32") || wi.isStatic ||
                  wi.Is(L"ScrollBar") || wi.Is(L"Edit")))
                return false;
            return !IsSkinExcludedDialog(hWnd);
        }
        if (mode == SKIN_MODE_LIGHT) return disabled && (wi.isStatic || wi.plainButton) && !IsSkinExcludedDialog(hWnd);
        return false;
    }
    if (msg == WM_PAINT || msg == WM_PRINTCLIENT)
    {
        if (dark)
        {
            const bool staticTaken = wi.isStatic &&
                ((wi.style & SS_SUNKEN) || wi.StaticGrayOrEtched() || (wi.exStyle & WS_EX_STATICEDGE) || disabled);
            if (!(wi.plainButton || wi.groupBox || staticTaken || wi.Is(L"ComboBox") || wi.Is(L"ScrollBar") ||
                  wi.Is(L"SysHeader32") || wi.Is(L"SysListView32") || wi.Is(L"SysTabControl32") ||
                  wi.Is(L"msctls_trackbar32") || wi.Is(L"msctls_statusbar32") || wi.Is(L"ToolbarWindow32")))
                return false;
            return !IsSkinExcludedDialog(hWnd);
        }
        if (mode == SKIN_MODE_LIGHT)
        {
            if (!(wi.Is(L"msctls_trackbar32") || (wi.isStatic && disabled) || (wi.plainButton && disabled)))
                return false;
            return !IsSkinExcludedDialog(hWnd);
        }
        return false;
    }
    if (msg == WM_ERASEBKGND)
    {
        if (dark)
        {
            const bool staticTaken = wi.isStatic && ((wi.style & SS_SUNKEN) || wi.StaticEtched() || disabled);
            if (!(wi.groupBox || staticTaken || wi.Is(L"msctls_statusbar32") || wi.Is(L"ToolbarWindow32")))
                return false;
            return !IsSkinExcludedDialog(hWnd);
        }
        return wi.Is(L"SysTabControl32") && !IsSkinExcludedDialog(hWnd);
    }
    if (msg == WM_NCPAINT)
    {
        if (!dark) return false;
        const bool edged = (wi.exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0;
        // Scroll bars in the frame of any window, too.
        if (!((wi.style & (WS_VSCROLL | WS_HSCROLL)) || (wi.Is(L"Edit") && edged) || wi.Is(L"ListBox") ||
              wi.Is(L"ComboBox") || wi.Is(L"ComboLBox") || wi.Is(L"SysTreeView32") || wi.Is(L"SysListView32") ||
              wi.Is(L"msctls_progress32") ||
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
    try
    {
        return SkinWndProcImpl(hWnd, msg, wParam, lParam);
    }
    catch (...)
    {
        TraceCaughtException("SkinWndProc");
        if (msg == WM_PAINT) ValidateRect(hWnd, nullptr);
        return 0;
    }
}
