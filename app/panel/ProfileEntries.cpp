// The profile rows of the panel: the camera and ISO lists of the shared table, the choice of an
// entry for the image, the user's choices in the lists, and saving and deleting entries.
#include "app/panel/PanelInternal.h"

#include "app/dialogs/CameraIsoNameDialog.h"
#include "plugin/panel_ids.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"

CameraIsoTable g_PanelProfiles;
uint32_t g_iCameraRow = 0;
uint32_t g_iIsoRow = 0;

namespace
{

// Whether the user's profile file was read; a table that could not be read is never written
// over the user's file.
bool g_bProfilesReadable = true;

uint32_t EntryCount(uint32_t row)
{
    return row < g_PanelProfiles.m_uiCameraCount ? g_PanelProfiles.m_pCameras[row].m_uiISOCount : 0;
}

// Shows the selected entry on the controls (which re-runs the preview).
void ShowSelectedEntry(HWND hDlg)
{
    FillIsoList(hDlg);
    g_CurrentIsoSettings = EntryOrDefault(g_iCameraRow, g_iIsoRow);
    ApplyIsoSettingsToPanel(hDlg, &g_CurrentIsoSettings, g_PanelMaps);
}

// Writes the table at once after an edit, so that nothing reloads it over unsaved changes (the
// panel made again after a batch run reads the file). A table whose file could not be read is
// kept in memory only: writing it would replace the user's profiles.
void StoreProfiles()
{
    ++g_uTableEdits;
    SavePanelProfiles();
}

}  // namespace

// The entry (row, index) of the table, or the default entry when the row has none (a profile file
// that could not be read leaves the unknown camera without entries).
IsoSettings EntryOrDefault(uint32_t row, uint32_t index)
{
    IsoSettings s;
    if (g_PanelProfiles.GetIsoSettings(&s, row, index)) s = DefaultIsoSettings();
    return s;
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

void UpdateDeleteButton(HWND hDlg) { EnableWindow(Item(hDlg, IDC_PANEL_DELETE), PanelDeleteAllowed()); }

void SavePanelProfiles()
{
    if (g_bProfilesReadable) g_PanelProfiles.Save();
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

bool PanelDeleteAllowed() { return !(g_iCameraRow == 0 && g_iIsoRow == 0) && EntryCount(g_iCameraRow) > 0; }

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
