// The parameter panel's dialog: creation, layout and the manual-tuning toggle, the trackbars and
// their value labels, Set Default, the median choice, the panel's own painting and its closing.
// The profile rows are in ProfileEntries.cpp, the shared charge of the panels in PanelCharge.cpp,
// the live preview and the job states in LivePreview.cpp.
#include "app/panel/PanelInternal.h"

#include <commctrl.h>
#include <cstdio>
#include <cwchar>

#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"
#include "engine/NlmPlaneDenoise.h"
#include "plugin/panel_ids.h"
#include "plugin/skin_ids.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ControlSkin.h"
#include "ui/ScopedWin32.h"

IsoSettings g_CurrentIsoSettings = DefaultIsoSettings();
CBackBuffer* g_pPanelDoc = nullptr;
SliderValueMap g_PanelMaps[HPX_PANEL_SLIDER_COUNT];

namespace
{

// Images and the bold font, made by the first panel and shared by every panel that exists at
// the same time; the last panel to go frees them.
ScopedGdiObject<HBITMAP> g_hbmSave, g_hbmDelete, g_hbmHide, g_hbmShow;
ScopedGdiObject<HFONT> g_hBoldFont;
HWND g_hTooltip;

// The trackbars in the order of ApplyIsoSettingsToPanel's maps, with their value labels, formats
// and Set Default positions.
struct Slider
{
    int id;
    int label;
    const wchar_t* format;
    SliderValueMap map;
    int defaultPos;
};
const Slider kSliders[HPX_PANEL_SLIDER_COUNT] = {
    {IDC_PANEL_STRENGTH, IDC_PANEL_STRENGTH_VALUE, L"%.1f", {20, 1000, 1.0, 50.0}, 200},
    {IDC_PANEL_CHROMA, IDC_PANEL_CHROMA_VALUE, L"%.1f", {20, 1000, 1.0, 50.0}, 200},
    {IDC_PANEL_LARGE, IDC_PANEL_LARGE_VALUE, L"%.1f", {0, 1000, 0.0, 50.0}, 200},
    {IDC_PANEL_DYNAMICS, IDC_PANEL_DYNAMICS_VALUE, L"%.2f", {0, 200, -2.0, 2.0}, 100},
    {IDC_PANEL_SHARP1, IDC_PANEL_SHARP1_VALUE, L"%.1f", {0, 20, 0.0, 4.0}, 5},
    {IDC_PANEL_SHARP2, IDC_PANEL_SHARP2_VALUE, L"%.1f", {0, 20, 0.0, 4.0}, 5},
    {IDC_PANEL_SHARP3, IDC_PANEL_SHARP3_VALUE, L"%.1f", {0, 20, 0.0, 4.0}, 5},
};

double* SliderField(int i)
{
    double* fields[HPX_PANEL_SLIDER_COUNT] = {
        &g_CurrentIsoSettings.m_dStrength,
        &g_CurrentIsoSettings.m_dStrengthChroma,
        &g_CurrentIsoSettings.m_dStrengthChromaLarge,
        &g_CurrentIsoSettings.m_dDynamics,
        &g_CurrentIsoSettings.m_dSharp1,
        &g_CurrentIsoSettings.m_dSharp2,
        &g_CurrentIsoSettings.m_dSharp3,
    };
    return fields[i];
}

const int kManualTuningControls[] = {
    IDC_PANEL_BASIC_GROUP,    IDC_PANEL_STRENGTH,       IDC_PANEL_STRENGTH_LABEL, IDC_PANEL_STRENGTH_VALUE,
    IDC_PANEL_CHROMA,         IDC_PANEL_CHROMA_LABEL,   IDC_PANEL_CHROMA_VALUE,   IDC_PANEL_ADVANCED_GROUP,
    IDC_PANEL_DYNAMICS,       IDC_PANEL_LARGE_VALUE,    IDC_PANEL_LARGE_LABEL,    IDC_PANEL_LARGE,
    IDC_PANEL_DYNAMICS_LABEL, IDC_PANEL_DYNAMICS_VALUE, IDC_PANEL_SHARP_GROUP,    IDC_PANEL_SHARP1,
    IDC_PANEL_SHARP2,         IDC_PANEL_SHARP3,         IDC_PANEL_SHARP1_LABEL,   IDC_PANEL_SHARP2_LABEL,
    IDC_PANEL_SHARP3_LABEL,   IDC_PANEL_SHARP1_VALUE,   IDC_PANEL_SHARP2_VALUE,   IDC_PANEL_SHARP3_VALUE,
    IDC_PANEL_SET_DEFAULT,    IDC_PANEL_SEPARATOR,      IDC_PANEL_MEDIAN_LABEL,   IDC_PANEL_MEDIAN_NONE,
    IDC_PANEL_MEDIAN_COMMON,  IDC_PANEL_MEDIAN_STRONG,
};

const int kInputControls[] = {
    IDC_PANEL_STRENGTH,     IDC_PANEL_CHROMA,         IDC_PANEL_LARGE,
    IDC_PANEL_DYNAMICS,     IDC_PANEL_SHARP1,         IDC_PANEL_SHARP2,
    IDC_PANEL_SHARP3,       IDC_PANEL_STRENGTH_LABEL, IDC_PANEL_STRENGTH_VALUE,
    IDC_PANEL_CHROMA_LABEL, IDC_PANEL_CHROMA_VALUE,   IDC_PANEL_LARGE_VALUE,
    IDC_PANEL_LARGE_LABEL,  IDC_PANEL_DYNAMICS_LABEL, IDC_PANEL_DYNAMICS_VALUE,
    IDC_PANEL_SHARP1_LABEL, IDC_PANEL_SHARP2_LABEL,   IDC_PANEL_SHARP3_LABEL,
    IDC_PANEL_SHARP1_VALUE, IDC_PANEL_SHARP2_VALUE,   IDC_PANEL_SHARP3_VALUE,
    IDC_PANEL_TUNING_LABEL, IDC_PANEL_TUNING,         IDC_PANEL_CAMERA,
    IDC_PANEL_ISO,          IDC_PANEL_SAVE,           IDC_PANEL_DELETE,
    IDC_PANEL_SET_DEFAULT,  IDC_PANEL_SEPARATOR,      IDC_PANEL_MEDIAN_LABEL,
    IDC_PANEL_MEDIAN_NONE,  IDC_PANEL_MEDIAN_COMMON,  IDC_PANEL_MEDIAN_STRONG,
};

const int kGroupBoxes[] = {IDC_PANEL_BASIC_GROUP, IDC_PANEL_ADVANCED_GROUP, IDC_PANEL_SHARP_GROUP};

// Texts set at creation: control id and its localised text.
const struct
{
    int id;
    int text;
} kTexts[] = {
    {IDC_PANEL_DENOISE, kLocDenoiseButton},
    {IDC_PANEL_CAMERA_LABEL, kLocCamera},
    {IDC_PANEL_SAVE, kLocSaveAsButton},
    {IDC_PANEL_DELETE, kLocRemove},
    {IDC_PANEL_BASIC_GROUP, kLocBasicParameters},
    {IDC_PANEL_STRENGTH_LABEL, kLocStrengthIntensity},
    {IDC_PANEL_CHROMA_LABEL, kLocStrengthChroma},
    {IDC_PANEL_ADVANCED_GROUP, kLocAdvancedParameters},
    {IDC_PANEL_LARGE_LABEL, kLocStrengthChromaLarge},
    {IDC_PANEL_DYNAMICS_LABEL, kLocNoiseDomination},
    {IDC_PANEL_MEDIAN_LABEL, kLocPointArtefactsReduction},
    {IDC_PANEL_MEDIAN_NONE, kLocMedianNone},
    {IDC_PANEL_MEDIAN_COMMON, kLocMedianCommon},
    {IDC_PANEL_MEDIAN_STRONG, kLocMedianStrong},
    {IDC_PANEL_SHARP_GROUP, kLocSharpeningParameters},
    {IDC_PANEL_SHARP1_LABEL, kLocTinyDetails},
    {IDC_PANEL_SHARP2_LABEL, kLocMediumDetails},
    {IDC_PANEL_SHARP3_LABEL, kLocRoughDetails},
    {IDC_PANEL_SET_DEFAULT, kLocSetDefault},
};

void RedrawNow(HWND hWnd) { RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }

void FocusMainWindow()
{
    if (g_hMainWnd) SetFocus(g_hMainWnd);
}

bool ManualTuningShown(HWND hDlg) { return IsDlgButtonChecked(hDlg, IDC_PANEL_TUNING) == BST_CHECKED; }

RECT ChildRect(HWND hDlg, int id)
{
    RECT rc{};
    GetWindowRect(Item(hDlg, id), &rc);
    MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

void LayoutManualTuning(HWND hDlg, bool shown)
{
    for (int id : kManualTuningControls) ShowWindow(Item(hDlg, id), shown ? SW_SHOW : SW_HIDE);
    const int anchor = ChildRect(hDlg, shown ? IDC_PANEL_SHARP_GROUP : IDC_PANEL_SAVE).bottom;
    const RECT def = ChildRect(hDlg, IDC_PANEL_SET_DEFAULT);
    SetWindowPos(Item(hDlg, IDC_PANEL_SET_DEFAULT), nullptr, def.left, anchor + 10, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    CheckDlgButton(hDlg, IDC_PANEL_TUNING, shown ? BST_CHECKED : BST_UNCHECKED);
    SendDlgItemMessageW(hDlg, IDC_PANEL_TUNING, BM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>((shown ? g_hbmHide : g_hbmShow).get()));
    SetWindowPos(Item(hDlg, IDC_PANEL_SUMMARY), nullptr, 90, anchor + 50, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void OnToggleManualTuning(HWND hDlg)
{
    const bool shown = !ManualTuningShown(hDlg);
    WriteSettingInt(L"ShowManualTunning", shown ? 1 : 0);
    SendMessageW(hDlg, WM_SETREDRAW, FALSE, 0);
    LayoutManualTuning(hDlg, shown);
    SendMessageW(hDlg, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(hDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void CreateTooltips(HWND hDlg)
{
    g_hTooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 10,
                                 10, 10, 10, hDlg, nullptr, GetPluginModule(), nullptr);
    if (!g_hTooltip) return;
    SetWindowPos(g_hTooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const struct
    {
        int id;
        int text;
    } tools[] = {{IDC_PANEL_SAVE, kLocTipSaveManualSetting}, {IDC_PANEL_DELETE, kLocTipDeleteSetting}};
    for (const auto& t : tools)
    {
        TOOLINFOW ti{};
        ti.cbSize = sizeof(ti);
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hDlg;
        ti.uId = reinterpret_cast<UINT_PTR>(Item(hDlg, t.id));
        ti.lpszText = const_cast<wchar_t*>(g_LocStrings[t.text]);
        SendMessageW(g_hTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    SendMessageW(g_hTooltip, TTM_ACTIVATE, TRUE, 0);
}

void OnInitDialog(HWND hDlg, CBackBuffer* doc)
{
    HMODULE module = GetPluginModule();
    if (!g_hbmSave) g_hbmSave.reset(LoadPngBitmap(module, HPX_PNG_SETTINGS_SAVE));
    if (!g_hbmDelete) g_hbmDelete.reset(LoadPngBitmap(module, HPX_PNG_SETTINGS_DELETE));
    SendDlgItemMessageW(hDlg, IDC_PANEL_SAVE, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(g_hbmSave.get()));
    SendDlgItemMessageW(hDlg, IDC_PANEL_DELETE, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(g_hbmDelete.get()));

    g_bAbort = 0;
    SetPanelCursor(hDlg, IDC_WAIT, WM_HPX_CURSOR_WAIT);
    const bool firstPanel = RegisterPanel(hDlg);
    // A panel made again (after a batch run) starts from nothing the previous one held.
    ReleasePanelImages();
    ResetPreviewState();
    g_PreviewView.m_pPreviewRect = nullptr;
    g_iPanelState = kPanelEditing;
    g_pPanelDoc = doc;

    EstimatePanelNoise(hDlg, false);

    if (!g_hbmHide) g_hbmHide.reset(LoadPngBitmap(module, HPX_PNG_SETTINGS_HIDE));
    if (!g_hbmShow) g_hbmShow.reset(LoadPngBitmap(module, HPX_PNG_SETTINGS_SHOW));
    LayoutManualTuning(hDlg, ReadSettingInt(L"ShowManualTunning", 1) != 0);

    if (firstPanel) LoadProfiles();
    FillCameraList(hDlg);
    g_iCameraRow = g_iIsoRow = 0;
    SendDlgItemMessageW(hDlg, IDC_PANEL_CAMERA, CB_SETCURSEL, 0, 0);
    FillIsoList(hDlg);
    g_CurrentIsoSettings = EntryOrDefault(0, 0);

    for (int i = 0; i < HPX_PANEL_SLIDER_COUNT; ++i)
    {
        g_PanelMaps[i] = kSliders[i].map;
        SendDlgItemMessageW(hDlg, kSliders[i].id, TBM_SETRANGE, TRUE,
                            MAKELPARAM(kSliders[i].map.m_uiPosMin, kSliders[i].map.m_uiPosMax));
        SendDlgItemMessageW(hDlg, kSliders[i].id, TBM_SETPAGESIZE, 0, 0);
    }
    ApplyIsoSettingsToPanel(hDlg, &g_CurrentIsoSettings, g_PanelMaps);

    SetStatusText(g_LocStrings[kLocPreviewDragHint]);
    for (const auto& t : kTexts) SetDlgItemTextW(hDlg, t.id, g_LocStrings[t.text]);
    SetDlgItemTextW(hDlg, IDC_PANEL_ISO_LABEL, L"ISO:");
    wchar_t tuning[1024];
    FormatText(tuning, L"%s\n%s", g_LocStrings[kLocManualTuning], g_LocStrings[kLocShowHide]);
    SetDlgItemTextW(hDlg, IDC_PANEL_TUNING_LABEL, tuning);
    SetWindowTextW(hDlg, g_LocStrings[kLocParametersSetting]);

    g_iPanelState = kPanelEditing;
    UpdateDeleteButton(hDlg);
    SendMessageW(hDlg, WM_LBUTTONUP, 1, 0);
    UpdateWindow(hDlg);
    FocusMainWindow();
    SetPanelCursor(hDlg, IDC_ARROW, WM_HPX_CURSOR_ARROW);
    EnableWindow(Item(hDlg, IDC_PANEL_DENOISE), FALSE);

    CreateTooltips(hDlg);

    HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageW(hDlg, IDC_PANEL_DENOISE, WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    if (font && font != g_hBoldFont.get() && GetObjectW(font, sizeof(lf), &lf))
    {
        lf.lfWeight = FW_BOLD;
        if (!g_hBoldFont) g_hBoldFont.reset(CreateFontIndirectW(&lf));
        if (g_hBoldFont)
            SendDlgItemMessageW(hDlg, IDC_PANEL_DENOISE, WM_SETFONT, reinterpret_cast<WPARAM>(g_hBoldFont.get()), TRUE);
    }

    for (int id : kGroupBoxes) SubclassLabel(Item(hDlg, id), 0);
    FocusMainWindow();
    InstallSkin(hDlg);
}

void OnHScroll(HWND hDlg, WPARAM wParam, LPARAM lParam)
{
    if (g_iPanelState != kPanelEditing) return;
    int i = 0;
    while (i < HPX_PANEL_SLIDER_COUNT && Item(hDlg, kSliders[i].id) != reinterpret_cast<HWND>(lParam)) ++i;
    if (i == HPX_PANEL_SLIDER_COUNT) return;
    HWND bar = reinterpret_cast<HWND>(lParam);
    int pos = static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0));
    const int code = LOWORD(wParam);
    if (code == TB_LINEUP || code == TB_PAGEUP)
        --pos;
    else if (code == TB_LINEDOWN || code == TB_PAGEDOWN)
        ++pos;
    else if (code == TB_THUMBPOSITION || code == TB_THUMBTRACK)
        pos = static_cast<short>(HIWORD(wParam));
    SendMessageW(bar, TBM_SETPOS, TRUE, pos);
    RedrawNow(bar);
    const double value = kSliders[i].map.ToValue(pos);
    *SliderField(i) = value;
    wchar_t text[128];
    FormatText(text, kSliders[i].format, value);
    SetDlgItemTextW(hDlg, kSliders[i].label, text);
    if (code == TB_ENDTRACK) SendMessageW(hDlg, WM_LBUTTONUP, 1, 0);
    SetFocus(hDlg);
}

void OnSetDefault(HWND hDlg)
{
    if (g_iPanelState == kPanelEditing)
    {
        for (int i = 0; i < HPX_PANEL_SLIDER_COUNT; ++i)
        {
            HWND bar = Item(hDlg, kSliders[i].id);
            SendMessageW(bar, TBM_SETPOS, TRUE, kSliders[i].defaultPos);
            RedrawNow(bar);
        }
        const double values[HPX_PANEL_SLIDER_COUNT] = {10.0, 10.0, 10.0, 0.0, 1.0, 1.0, 1.0};
        for (int i = 0; i < HPX_PANEL_SLIDER_COUNT; ++i)
        {
            *SliderField(i) = values[i];
            wchar_t text[128];
            FormatText(text, kSliders[i].format, values[i]);
            SetDlgItemTextW(hDlg, kSliders[i].label, text);
        }
        SendMessageW(hDlg, WM_LBUTTONUP, 1, 0);
    }
    if (g_hMainWnd)
    {
        SetFocus(g_hMainWnd);
        UpdateWindow(g_hMainWnd);
        SetWindowPos(g_hMainWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
}

void OnMedian(HWND hDlg)
{
    g_CurrentIsoSettings.m_iUseMedian = IsDlgButtonChecked(hDlg, IDC_PANEL_MEDIAN_NONE) ? 0
        : IsDlgButtonChecked(hDlg, IDC_PANEL_MEDIAN_COMMON)                             ? 1
        : IsDlgButtonChecked(hDlg, IDC_PANEL_MEDIAN_STRONG)                             ? 2
                                                                                        : 0;
    ApplyIsoSettingsToPanel(hDlg, &g_CurrentIsoSettings, g_PanelMaps);
    FocusMainWindow();
}

void OnPaint(HWND hDlg, HDC given)
{
    PAINTSTRUCT ps{};
    HDC target = given ? given : BeginPaint(hDlg, &ps);
    RECT wr, cr;
    GetWindowRect(hDlg, &wr);
    GetClientRect(hDlg, &cr);
    const ScopedMemoryDC dc(CreateCompatibleDC(target));
    HDC mem = dc.get();
    const ScopedGdiObject<HBITMAP> bmp(mem ? CreateCompatibleBitmap(target, wr.right - wr.left, wr.bottom - wr.top)
                                           : nullptr);
    if (bmp)
    {
        const ScopedSelectObject selected(mem, bmp.get());
        FillRect(mem, &cr, GetSkinBrush(COLOR_BTNFACE));
        for (HWND child = GetWindow(hDlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        {
            if (!IsWindowVisible(child)) continue;
            RECT rc;
            GetWindowRect(child, &rc);
            if (rc.left <= wr.left || rc.top <= wr.top || rc.right >= wr.right || rc.bottom >= wr.bottom) continue;
            MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
            ExcludeClipRect(target, rc.left, rc.top, rc.right, rc.bottom);
            SendMessageW(child, WM_PAINT, 0, 0);
        }
        BitBlt(target, 0, 0, wr.right - wr.left, wr.bottom - wr.top, mem, 0, 0, SRCCOPY);
    }
    if (!given) EndPaint(hDlg, &ps);
}

LRESULT OnCustomDraw(NMCUSTOMDRAW* cd)
{
    if (cd->dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (cd->dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
    RECT rc = cd->rc;
    if (cd->dwItemSpec == TBCD_CHANNEL)
    {
        rc.bottom += 1;
        SkinDrawEdge(cd->hdc, &rc, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
        InflateRect(&rc, -1, -1);
        RECT thumb{};
        SendMessageW(cd->hdr.hwndFrom, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        rc.right = thumb.left;
        if (rc.right > rc.left)
        {
            if (IsWindowEnabled(cd->hdr.hwndFrom))
            {
                const ScopedGdiObject<HBRUSH> fill(CreateSolidBrush(RGB(101, 135, 168)));
                FillRect(cd->hdc, &rc, fill.get());
            }
            else
            {
                FillRect(cd->hdc, &rc, GetSkinBrush(COLOR_3DDKSHADOW));
            }
        }
        return CDRF_SKIPDEFAULT;
    }
    if (cd->dwItemSpec == TBCD_THUMB)
    {
        SkinDrawEdge(cd->hdc, &rc, EDGE_RAISED, BF_RECT | BF_ADJUST);
        InflateRect(&rc, -1, -1);
        FillRect(cd->hdc, &rc, GetSysColorBrush(COLOR_BTNFACE));
        return CDRF_SKIPDEFAULT;
    }
    return CDRF_DODEFAULT;
}

void OnClose(HWND hDlg)
{
    // Every panel saves the table once, when it closes; a panel closed already only ends.
    if (!IsRegisteredPanel(hDlg))
    {
        EndDialog(hDlg, IDOK);
        return;
    }
    SavePanelProfiles();
    UnregisterPanel(hDlg);
    if (hDlg != g_hPanelDlg)
    {
        // The shared state is the panel's in charge.
        EndDialog(hDlg, IDOK);
        return;
    }
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    if (g_hMainWnd) SendMessageW(g_hMainWnd, WM_HPX_CURSOR_ARROW, 0, 0);
    SetStatusText(g_LocStrings[kLocResultDragHint]);
    EndDialog(hDlg, IDOK);
    ReleasePanelImages();
    g_PreviewView.m_pPreviewRect = nullptr;
    HandOverCharge();
    if (g_hMainWnd)
    {
        SendMessageW(g_hMainWnd, WM_HPX_REFRESH_RESULT, 0, 0);
        SetFocus(g_hMainWnd);
    }
}

void OnDestroy(HWND hDlg)
{
    // A panel destroyed without closing (with its parent) is no longer forwarded to.
    UnregisterPanel(hDlg);
    if (hDlg == g_hPanelDlg) HandOverCharge();
    if (AnyPanelRegistered()) return;
    for (ScopedGdiObject<HBITMAP>* b : {&g_hbmSave, &g_hbmDelete, &g_hbmHide, &g_hbmShow}) b->reset();
    g_hBoldFont.reset();
    g_hTooltip = nullptr;  // destroyed with its owner
}

INT_PTR HandleMessage(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_INITDIALOG:
        OnInitDialog(hDlg, reinterpret_cast<CBackBuffer*>(lParam));
        return TRUE;
    case WM_COMMAND:
    {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        // The user turned to a panel not in charge (a click or a choice, not a focus change): it
        // takes charge, unless the other one's run is going or shown (the document is that
        // run's until it goes back to editing).
        if (id != IDOK && hDlg != g_hPanelDlg)
        {
            if ((code != BN_CLICKED && code != CBN_SELCHANGE) || g_iPanelState != kPanelEditing ||
                !IsRegisteredPanel(hDlg))
                return TRUE;
            TakeCharge(hDlg);
        }
        switch (id)
        {
        case IDC_PANEL_CAMERA:
            if (code == CBN_SELCHANGE) OnCameraChoice(hDlg);
            return TRUE;
        case IDC_PANEL_ISO:
            if (code == CBN_SELCHANGE) OnIsoChoice(hDlg);
            return TRUE;
        case IDC_PANEL_SAVE:
            if (code == BN_CLICKED) OnSave(hDlg);
            return TRUE;
        case IDC_PANEL_DELETE:
            if (code == BN_CLICKED) OnDelete(hDlg);
            return TRUE;
        case IDC_PANEL_TUNING:
            OnToggleManualTuning(hDlg);
            return TRUE;
        case IDC_PANEL_MEDIAN_NONE:
        case IDC_PANEL_MEDIAN_COMMON:
        case IDC_PANEL_MEDIAN_STRONG:
            OnMedian(hDlg);
            return TRUE;
        case IDC_PANEL_SET_DEFAULT:
            OnSetDefault(hDlg);
            return TRUE;
        case IDC_PANEL_DENOISE:
            OnDenoiseButton(hDlg);
            return TRUE;
        case IDOK:
            OnClose(hDlg);
            return TRUE;
        }
        return FALSE;
    }
    case WM_HSCROLL:
        if (hDlg != g_hPanelDlg)
        {
            if (g_iPanelState != kPanelEditing || !IsRegisteredPanel(hDlg)) return TRUE;
            TakeCharge(hDlg);
        }
        OnHScroll(hDlg, wParam, lParam);
        return TRUE;
    case WM_PAINT:
        OnPaint(hDlg, reinterpret_cast<HDC>(wParam));
        SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_ERASEBKGND:
        SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_NOTIFY:
    {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (hdr && hdr->code == NM_CUSTOMDRAW)
        {
            wchar_t cls[32] = {};
            GetClassNameW(hdr->hwndFrom, cls, 32);
            if (lstrcmpiW(cls, TRACKBAR_CLASSW) == 0) result = OnCustomDraw(reinterpret_cast<NMCUSTOMDRAW*>(lParam));
        }
        SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, result);
        return TRUE;
    }
    case WM_MOUSEWHEEL:
        if (g_hMainWnd) SendMessageW(g_hMainWnd, msg, wParam, lParam);
        return TRUE;
    case WM_MOUSEMOVE:
        OnPanelMouseMove(hDlg, wParam, lParam);
        return TRUE;
    case WM_LBUTTONDOWN:
        OnPanelLButtonDown(hDlg, wParam, lParam);
        return TRUE;
    case WM_LBUTTONUP:
    case WM_NCLBUTTONUP:
        RunPreview(hDlg, wParam);
        return TRUE;
    case WM_HPX_PREVIEW_RECT_MOVED:
        OnPreviewRectMoved(hDlg);
        return TRUE;
    case WM_HPX_SET_STATE:
        g_iPanelState = static_cast<int>(lParam);
        return TRUE;
    case WM_HPX_JOB_DONE:
    case WM_HPX_JOB_FAILED:
        // The end of a run goes to the panel that started it, which handles it in charge.
        if (IsRegisteredPanel(hDlg)) TakeCharge(hDlg);
        if (msg == WM_HPX_JOB_DONE)
            OnJobDone(hDlg);
        else
            OnJobFailed(hDlg);
        return TRUE;
    case WM_HPX_IMAGE_LOADED:
        // A panel told of the image (the one the denoise commands open again) takes charge.
        if (hDlg != g_hPanelDlg && IsRegisteredPanel(hDlg))
        {
            if (g_hPanelDlg && g_iPanelState != kPanelEditing) ShowEditingLook(g_hPanelDlg);
            TakeCharge(hDlg);
        }
        OnPanelImageLoaded(hDlg, wParam, lParam);
        return TRUE;
    case WM_DESTROY:
        OnDestroy(hDlg);
        return FALSE;
    }
    return FALSE;
}

}  // namespace

void SetPanelCursor(HWND hDlg, LPCWSTR cursor, UINT mainWindowMessage)
{
    HCURSOR c = LoadCursorW(nullptr, cursor);
    SetClassLongPtrW(hDlg, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(c));
    SetCursor(c);
    if (g_hMainWnd && mainWindowMessage) SendMessageW(g_hMainWnd, mainWindowMessage, 0, 0);
}

void EnablePanelInputs(HWND hDlg, bool enable)
{
    for (int id : kInputControls) EnableWindow(Item(hDlg, id), enable);
    for (int id : kGroupBoxes) EnableWindow(Item(hDlg, id), TRUE);
    if (enable)
    {
        UpdateDeleteButton(hDlg);
        ShowWindow(Item(hDlg, IDC_PANEL_SET_DEFAULT), ManualTuningShown(hDlg) ? SW_SHOW : SW_HIDE);
    }
}

void PanelMessage(HWND hDlg, int textId, int captionId, UINT type)
{
    MessageBoxW(hDlg, g_LocStrings[textId], g_LocStrings[captionId], type);
}

INT_PTR CALLBACK ParameterPanelDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // No exception may leave a dialog procedure into the system's dispatch.
    try
    {
        return HandleMessage(hDlg, msg, wParam, lParam);
    }
    catch (...)
    {
        TraceCaughtException("ParameterPanelDlgProc");
        return FALSE;
    }
}
