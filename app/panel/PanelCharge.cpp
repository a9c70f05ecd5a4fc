// The panels' shared charge: the docked panel and the one the denoise commands open share one
// profile table and one document, and one of them at a time is in charge (g_hPanelDlg). A panel
// the user turns to takes charge, a panel that goes hands it over, and while one panel's run goes
// or is shown the others wait disabled.
#include "app/panel/PanelInternal.h"

#include <commctrl.h>
#include <vector>

#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"
#include "plugin/panel_ids.h"
#include "profiles/Localisation.h"

unsigned g_uTableEdits = 0;

namespace
{

// The panels that exist: the docked one and the one the denoise commands open. They share one
// profile table and one document; the rows and the record being edited (g_iCameraRow, g_iIsoRow,
// g_CurrentIsoSettings) are those of the panel in charge (g_hPanelDlg), and every other panel keeps its own here until the user turns to
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

}  // namespace

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

bool IsRegisteredPanel(HWND hDlg) { return FindPanel(hDlg) != nullptr; }

bool AnyPanelRegistered() { return !g_Panels.empty(); }

bool RegisterPanel(HWND hDlg)
{
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
    return firstPanel;
}

void EnableOtherPanels(HWND hDlg, bool enable)
{
    for (const PanelContext& c : g_Panels)
        if (c.hDlg != hDlg) EnableWindow(c.hDlg, enable);
}
