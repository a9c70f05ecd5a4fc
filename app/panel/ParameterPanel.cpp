// The parameter panel's dialog: creation, layout and the manual-tuning toggle, the trackbars and
// their value labels, Set Default, the median choice, picking, saving and deleting profile
// entries, the panel's own painting and its closing. The live preview and the job states are in
// LivePreview.cpp.
#include "app/panel/PanelInternal.h"

#include <commctrl.h>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "app/dialogs/CameraIsoNameDialog.h"
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

CameraIsoTable g_PanelProfiles;
uint32_t g_iCameraRow = 0;
uint32_t g_iIsoRow = 0;
IsoSettings g_CurrentIsoSettings = DefaultIsoSettings();
CBackBuffer* g_pPanelDoc = nullptr;
SliderValueMap g_PanelMaps[HPX_PANEL_SLIDER_COUNT];

namespace
{

// Whether the user's profile file was read; a table that could not be read is never written
// over the user's file.
bool g_bProfilesReadable = true;
// Images and the bold font, made by the first panel and shared by every panel that exists at
// the same time; the last panel to go frees them.
ScopedGdiObject<HBITMAP> g_hbmSave, g_hbmDelete, g_hbmHide, g_hbmShow;
ScopedGdiObject<HFONT> g_hBoldFont;
HWND g_hTooltip;

// The panels that exist: the docked one and the one the denoise commands open. They share one
// profile table and one document; the rows and the record being edited above are those of the
// panel in charge (g_hPanelDlg), and every other panel keeps its own here until the user turns to
// it again.
struct PanelContext
{
    HWND hDlg;
    uint32_t cameraRow;
    uint32_t isoRow;
    IsoSettings settings;
    unsigned tableEdits;  // the table's edit count when its lists were last filled
};
std::vector<PanelContext> g_Panels;
unsigned g_uTableEdits = 0;  // edits of the shared table (only the panel in charge edits)

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

HWND Item(HWND hDlg, int id) { return GetDlgItem(hDlg, id); }

void RedrawNow(HWND hWnd) { RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }

void FocusMainWindow()
{
    if (g_hMainWnd) SetFocus(g_hMainWnd);
}

// The entry (row, index) of the table, or the default entry when the row has none (a profile file
// that could not be read leaves the unknown camera without entries).
IsoSettings EntryOrDefault(uint32_t row, uint32_t index)
{
    IsoSettings s;
    if (g_PanelProfiles.GetIsoSettings(&s, row, index)) s = DefaultIsoSettings();
    return s;
}

uint32_t EntryCount(uint32_t row)
{
    return row < g_PanelProfiles.m_uiCameraCount ? g_PanelProfiles.m_pCameras[row].m_uiISOCount : 0;
}

void FillCameraList(HWND hDlg)
{
    HWND list = Item(hDlg, IDC_PANEL_CAMERA);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (uint32_t r = 0; r < g_PanelProfiles.m_uiCameraCount; ++r)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(g_PanelProfiles.m_pCameras[r].m_wcsCameraName));
}

// Fills the ISO list for the selected camera and selects the selected entry.
void FillIsoList(HWND hDlg)
{
    HWND list = Item(hDlg, IDC_PANEL_ISO);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    const uint32_t count = EntryCount(g_iCameraRow);
    for (uint32_t i = 0; i < count; ++i)
    {
        wchar_t text[128];
        FormatText(text, L"%i", g_PanelProfiles.m_pCameras[g_iCameraRow].m_piISO[i]);
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageW(list, CB_SETCURSEL, g_iIsoRow < count ? g_iIsoRow : static_cast<WPARAM>(-1), 0);
}

// Shows the selected entry on the controls (which re-runs the preview).
void ShowSelectedEntry(HWND hDlg)
{
    FillIsoList(hDlg);
    g_CurrentIsoSettings = EntryOrDefault(g_iCameraRow, g_iIsoRow);
    ApplyIsoSettingsToPanel(hDlg, &g_CurrentIsoSettings, g_PanelMaps);
}

void UpdateDeleteButton(HWND hDlg) { EnableWindow(Item(hDlg, IDC_PANEL_DELETE), PanelDeleteAllowed()); }

// Writes the table at once after an edit, so that nothing reloads it over unsaved changes (the
// panel made again after a batch run reads the file). A table whose file could not be read is
// kept in memory only: writing it would replace the user's profiles.
void StoreProfiles()
{
    ++g_uTableEdits;
    if (g_bProfilesReadable) g_PanelProfiles.Save();
}

PanelContext* FindPanel(HWND hDlg)
{
    for (PanelContext& c : g_Panels)
        if (c.hDlg == hDlg) return &c;
    return nullptr;
}

// The panel in charge leaves its rows and record in its own context.
void KeepContext()
{
    if (PanelContext* c = FindPanel(g_hPanelDlg))
    {
        c->cameraRow = g_iCameraRow;
        c->isoRow = g_iIsoRow;
        c->settings = g_CurrentIsoSettings;
        c->tableEdits = g_uTableEdits;
    }
}

// The panel the user turned to takes back its rows and record. When the other panel edited the
// table meanwhile, its lists are filled again and its camera and ISO found again by their texts;
// the trackbars keep what the user set on them.
void TakeCharge(HWND hDlg)
{
    if (hDlg == g_hPanelDlg) return;
    KeepContext();
    g_hPanelDlg = hDlg;
    PanelContext* c = FindPanel(hDlg);
    if (!c) return;
    g_iCameraRow = c->cameraRow;
    g_iIsoRow = c->isoRow;
    g_CurrentIsoSettings = c->settings;
    if (c->tableEdits != g_uTableEdits)
    {
        wchar_t camera[128] = L"", iso[128] = L"";
        GetDlgItemTextW(hDlg, IDC_PANEL_CAMERA, camera, 128);
        GetDlgItemTextW(hDlg, IDC_PANEL_ISO, iso, 128);
        FillCameraList(hDlg);
        g_iCameraRow = 0;
        g_PanelProfiles.FindCamera(&g_iCameraRow, camera);
        SendDlgItemMessageW(hDlg, IDC_PANEL_CAMERA, CB_SETCURSEL, g_iCameraRow, 0);
        g_iIsoRow = 0;
        g_PanelProfiles.FindIsoIndex(&g_iIsoRow, iso, g_iCameraRow);
        FillIsoList(hDlg);
        UpdateDeleteButton(hDlg);
        c->tableEdits = g_uTableEdits;
    }
    // The next preview denoises with this panel's values.
    for (int i = 0; i < 4; ++i) g_rcLastPadded[i] = 0;
}

// A panel that showed a finished run looks as in editing again (the run is dropped).
void ShowEditingLook(HWND hDlg)
{
    ShowWindow(Item(hDlg, IDC_PROGRESS), SW_HIDE);
    SendDlgItemMessageW(hDlg, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    EnablePanelInputs(hDlg, true);
    SetDlgItemTextW(hDlg, IDC_PANEL_DENOISE, g_LocStrings[kLocDenoiseButton]);
    EnableWindow(hDlg, TRUE);
}

// A panel left in charge by the one that closed, or nobody. A finished run belonged to the panel
// that went: the one that stays goes back to editing.
void HandOverCharge()
{
    g_hPanelDlg = nullptr;
    if (g_Panels.empty()) return;
    HWND next = g_Panels.back().hDlg;
    TakeCharge(next);
    EnableWindow(next, TRUE);
    g_PreviewView.m_pPreviewRect = g_rcPreviewPixels;
    if (g_iPanelState != kPanelEditing)
    {
        g_iPanelState = kPanelEditing;
        SendMessageW(next, WM_LBUTTONUP, 1, 0);
    }
}

void UnregisterPanel(HWND hDlg)
{
    for (size_t i = 0; i < g_Panels.size(); ++i)
        if (g_Panels[i].hDlg == hDlg)
        {
            g_Panels.erase(g_Panels.begin() + static_cast<ptrdiff_t>(i));
            break;
        }
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

void LoadProfiles()
{
    // Load reports only a shortage of memory; a user file that exists but cannot be read shows as
    // an unknown camera without entries.
    const bool failed = g_PanelProfiles.Load();
    g_bProfilesReadable = !failed && g_PanelProfiles.m_uiCameraCount > 0 && EntryCount(0) > 0;
    for (uint32_t r = 0; r < g_PanelProfiles.m_uiCameraCount; ++r)
        NormalizeCameraName(g_PanelProfiles.m_pCameras[r].m_wcsCameraName,
                            g_PanelProfiles.m_pCameras[r].m_wcsCameraName);
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
    // A panel made beside another takes charge; a finished run shown by the other one is dropped
    // (this panel's preview replaces it), so that one goes back to editing. The table that panel
    // loaded is shared, not read again over its edits.
    const bool firstPanel = g_Panels.empty();
    if (HWND other = g_hPanelDlg)
    {
        if (g_iPanelState != kPanelEditing) ShowEditingLook(other);
        KeepContext();
    }
    g_Panels.push_back(PanelContext{hDlg, 0, 0, DefaultIsoSettings(), g_uTableEdits});
    g_hPanelDlg = hDlg;
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

void OnCameraChoice(HWND hDlg)
{
    const LRESULT sel = SendDlgItemMessageW(hDlg, IDC_PANEL_CAMERA, CB_GETCURSEL, 0, 0);
    if (sel < 0 || static_cast<uint32_t>(sel) >= g_PanelProfiles.m_uiCameraCount) return;
    g_iCameraRow = static_cast<uint32_t>(sel);
    SelectIsoForImage();
    ShowSelectedEntry(hDlg);
    UpdateDeleteButton(hDlg);
    SetFocus(hDlg);
}

void OnIsoChoice(HWND hDlg)
{
    const LRESULT sel = SendDlgItemMessageW(hDlg, IDC_PANEL_ISO, CB_GETCURSEL, 0, 0);
    if (sel < 0 || static_cast<uint32_t>(sel) >= EntryCount(g_iCameraRow)) return;
    g_iIsoRow = static_cast<uint32_t>(sel);
    g_CurrentIsoSettings = EntryOrDefault(g_iCameraRow, g_iIsoRow);
    ApplyIsoSettingsToPanel(hDlg, &g_CurrentIsoSettings, g_PanelMaps);
    UpdateDeleteButton(hDlg);
    SetFocus(hDlg);
}

void OnSave(HWND hDlg)
{
    AddConfigurationData data{};
    GetDlgItemTextW(hDlg, IDC_PANEL_CAMERA, data.m_wszCamera, 128);
    GetDlgItemTextW(hDlg, IDC_PANEL_ISO, data.m_wszIso, 128);
    data.m_pInfo = g_pPanelDoc ? &g_pPanelDoc->m_Info : nullptr;
    if (ShowAddConfigurationDialog(hDlg, &data) == IDCANCEL) return;
    g_CurrentIsoSettings.m_dImmerkaerY = g_NoiseSigma.m_dLuma;
    g_CurrentIsoSettings.m_dImmerkaerUV = g_NoiseSigma.m_dChroma;
    if (g_PanelProfiles.AddOrUpdate(data.m_wszCamera, data.m_wszIso, &g_CurrentIsoSettings))
    {
        PanelMessage(hDlg, kLocNotEnoughMemory, kLocWarning, MB_OK | MB_ICONWARNING);
        return;
    }
    StoreProfiles();
    FillCameraList(hDlg);
    g_iCameraRow = 0;
    g_PanelProfiles.FindCamera(&g_iCameraRow, data.m_wszCamera);
    SendDlgItemMessageW(hDlg, IDC_PANEL_CAMERA, CB_SETCURSEL, g_iCameraRow, 0);
    // The entry is found again by the ISO as stored (the text was clamped to the stored range).
    wchar_t stored[128];
    FormatText(stored, L"%i", CameraIsoTable::StoredIsoValue(data.m_wszIso));
    g_iIsoRow = 0;
    g_PanelProfiles.FindIsoIndex(&g_iIsoRow, stored, g_iCameraRow);
    ShowSelectedEntry(hDlg);
    SetFocus(hDlg);
}

void OnDelete(HWND hDlg)
{
    if (!PanelDeleteAllowed()) return;
    wchar_t text[1024];
    FormatText(text, L"%s\n\n%s\n%s\n%s", g_LocStrings[kLocDeleteCameraQuestion], g_LocStrings[kLocDeleteCameraYes],
               g_LocStrings[kLocDeleteCameraNo], g_LocStrings[kLocDeleteCameraCancel]);
    const int answer = MessageBoxW(hDlg, text, g_LocStrings[kLocWarning], MB_YESNOCANCEL);
    if (answer == IDYES)
    {
        if (g_iCameraRow == 0)
        {
            PanelMessage(hDlg, kLocCannotDeleteSetting, kLocWarning, MB_OK);
            return;
        }
        if (g_PanelProfiles.DeleteCamera(g_iCameraRow)) return;
        StoreProfiles();
        FillCameraList(hDlg);
        SelectProfileForImage(hDlg);
    }
    else if (answer == IDNO)
    {
        const uint32_t cameras = g_PanelProfiles.m_uiCameraCount;
        if (g_PanelProfiles.DeleteIso(g_iCameraRow, g_iIsoRow)) return;
        StoreProfiles();
        if (g_PanelProfiles.m_uiCameraCount != cameras)
        {
            // The camera's last entry took the camera with it.
            FillCameraList(hDlg);
            SelectProfileForImage(hDlg);
        }
        else
        {
            SelectIsoForImage();
            ShowSelectedEntry(hDlg);
        }
    }
    SetFocus(hDlg);
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
    if (!FindPanel(hDlg))
    {
        EndDialog(hDlg, IDOK);
        return;
    }
    if (g_bProfilesReadable) g_PanelProfiles.Save();
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
    if (!g_Panels.empty()) return;
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
            if ((code != BN_CLICKED && code != CBN_SELCHANGE) || g_iPanelState != kPanelEditing || !FindPanel(hDlg))
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
            if (g_iPanelState != kPanelEditing || !FindPanel(hDlg)) return TRUE;
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
        if (FindPanel(hDlg)) TakeCharge(hDlg);
        if (msg == WM_HPX_JOB_DONE)
            OnJobDone(hDlg);
        else
            OnJobFailed(hDlg);
        return TRUE;
    case WM_HPX_IMAGE_LOADED:
        // A panel told of the image (the one the denoise commands open again) takes charge.
        if (hDlg != g_hPanelDlg && FindPanel(hDlg))
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

bool PanelDeleteAllowed() { return !(g_iCameraRow == 0 && g_iIsoRow == 0) && EntryCount(g_iCameraRow) > 0; }

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

void EnableOtherPanels(HWND hDlg, bool enable)
{
    for (const PanelContext& c : g_Panels)
        if (c.hDlg != hDlg) EnableWindow(c.hDlg, enable);
}

void PanelMessage(HWND hDlg, int textId, int captionId, UINT type)
{
    MessageBoxW(hDlg, g_LocStrings[textId], g_LocStrings[captionId], type);
}

void SelectIsoForImage()
{
    g_iIsoRow = 0;
    if (EntryCount(g_iCameraRow) == 0) return;
    const wchar_t* isoText = g_pPanelDoc ? g_pPanelDoc->m_Info[ImageInfoStrings::kIso] : L"";
    g_PanelProfiles.FindIsoIndex(&g_iIsoRow, isoText, g_iCameraRow);
    if (ParseIntText(isoText) != g_PanelProfiles.m_pCameras[g_iCameraRow].m_piISO[g_iIsoRow])
        g_PanelProfiles.FindNearestIsoInRow(&g_iIsoRow, g_iCameraRow, g_NoiseSigma.m_dLuma, g_NoiseSigma.m_dChroma);
}

void SelectProfileForImage(HWND hDlg)
{
    wchar_t camera[128] = L"";
    if (g_pPanelDoc)
        FormatText(camera, L"%s / %s", g_pPanelDoc->m_Info[ImageInfoStrings::kMake],
                   g_pPanelDoc->m_Info[ImageInfoStrings::kModel]);
    NormalizeCameraName(camera, camera);
    g_iCameraRow = 0;
    g_PanelProfiles.FindCamera(&g_iCameraRow, camera);
    SendDlgItemMessageW(hDlg, IDC_PANEL_CAMERA, CB_SETCURSEL, g_iCameraRow, 0);
    SelectIsoForImage();
    ShowSelectedEntry(hDlg);
    UpdateDeleteButton(hDlg);
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
