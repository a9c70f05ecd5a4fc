#include "app/dialogs/OptionsDialog.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"
#include "plugin/prof_ids.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ControlSkin.h"

namespace
{

// The language selected when the dialog opened; a change shows the restart notice.
int g_iOptionsInitialLanguage = 0;

void EnableGpuModes(HWND hDlg, bool enable)
{
    EnableWindow(GetDlgItem(hDlg, IDC_OPT_FUSION), enable);
    EnableWindow(GetDlgItem(hDlg, IDC_OPT_PUREGPU), enable);
}

void InitOptions(HWND hDlg)
{
    const int hwAccel = ReadSettingInt(L"HW Accel", 0);
    const int fusion = ReadSettingInt(L"GPUCPUFusion", 0);
    g_iAdvancedDenoise = ReadSettingInt(L"AdvancedDenoise", 0);

    CheckDlgButton(hDlg, IDC_OPT_HWACCEL, hwAccel ? BST_CHECKED : BST_UNCHECKED);
    EnableGpuModes(hDlg, hwAccel != 0);
    CheckDlgButton(hDlg, IDC_OPT_FUSION, fusion ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hDlg, IDC_OPT_PUREGPU, fusion ? BST_UNCHECKED : BST_CHECKED);

    CenterDialogOverOwner(hDlg);

    HWND list = GetDlgItem(hDlg, IDC_OPT_LANGUAGE);
    for (int i = 0; i < g_iLanguageCount && i < HPX_MAX_LANGUAGES; ++i)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(g_Languages[i].m_wcsLanguage));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(g_iLanguageCurrent), 0);
    // What the list shows (-1 when the language is not in it) is what OK compares with, so that
    // an untouched list never announces a language change.
    g_iOptionsInitialLanguage = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));

    SetWindowTextW(hDlg, g_LocStrings[kLocOptions]);
    SetDlgItemTextW(hDlg, IDC_OPT_LANGUAGE_LABEL, g_LocStrings[kLocSelectLanguage]);
    SetDlgItemTextW(hDlg, IDC_OPT_HWACCEL, g_LocStrings[kLocUseHardwareAcceleration]);
    SetDlgItemTextW(hDlg, IDC_OPT_FUSION, g_LocStrings[kLocCpuGpuFusion]);
    SetDlgItemTextW(hDlg, IDC_OPT_PUREGPU, g_LocStrings[kLocPureGpu]);
    SetDlgItemTextW(hDlg, IDOK, g_LocStrings[kLocOk]);
    SetDlgItemTextW(hDlg, IDCANCEL, g_LocStrings[kLocCancel]);
    InstallSkin(hDlg);
}

void StoreOptions(HWND hDlg)
{
    const int hwAccel = IsDlgButtonChecked(hDlg, IDC_OPT_HWACCEL) == BST_CHECKED ? 1 : 0;
    const int fusion = IsDlgButtonChecked(hDlg, IDC_OPT_FUSION) == BST_CHECKED ? 1 : 0;
    const int language = static_cast<int>(SendDlgItemMessageW(hDlg, IDC_OPT_LANGUAGE, CB_GETCURSEL, 0, 0));

    WriteSettingInt(L"Language Current", language);
    WriteSettingInt(L"HW Accel", hwAccel);
    WriteSettingInt(L"AdvancedDenoise", 0);
    WriteSettingInt(L"GPUCPUFusion", fusion);
    g_iLanguageCurrent = language;
    g_iHwAccel = hwAccel;
    g_iGpuCpuFusion = fusion;
    g_iAdvancedDenoise = 0;

    if (language != g_iOptionsInitialLanguage)
    {
        // The other texts change at the next start; the notice is in the new language already.
        ReadLocalizedString(language, kLocInformation, g_LocStrings.m_wcsText[kLocInformation]);
        ReadLocalizedString(language, kLocRestartForLanguage, g_LocStrings.m_wcsText[kLocRestartForLanguage]);
        HWND owner = GetWindow(hDlg, GW_OWNER);
        MessageBoxW(owner ? owner : hDlg, g_LocStrings[kLocRestartForLanguage], g_LocStrings[kLocInformation],
                    MB_ICONINFORMATION);
    }
}

}  // namespace

void CenterDialogOverOwner(HWND hDlg)
{
    HWND owner = GetWindow(hDlg, GW_OWNER);
    if (!owner) owner = GetParent(hDlg);
    RECT rcOwner{}, rcDlg{};
    GetWindowRect(hDlg, &rcDlg);
    if (!owner || !IsWindowVisible(owner) || IsIconic(owner) || !GetWindowRect(owner, &rcOwner))
    {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcOwner, 0);
    }
    const int w = rcDlg.right - rcDlg.left, h = rcDlg.bottom - rcDlg.top;
    int x = rcOwner.left + ((rcOwner.right - rcOwner.left) - w) / 2;
    int y = rcOwner.top + ((rcOwner.bottom - rcOwner.top) - h) / 2;
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (GetMonitorInfoW(MonitorFromRect(&rcOwner, MONITOR_DEFAULTTONEAREST), &mi))
    {
        const RECT& wa = mi.rcWork;
        if (x + w > wa.right) x = wa.right - w;
        if (y + h > wa.bottom) y = wa.bottom - h;
        if (x < wa.left) x = wa.left;
        if (y < wa.top) y = wa.top;
    }
    SetWindowPos(hDlg, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK OptionsDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    try
    {
        switch (msg)
        {
        case WM_INITDIALOG:
            InitOptions(hDlg);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam))
            {
            case IDC_OPT_HWACCEL:
                if (HIWORD(wParam) == BN_CLICKED)
                    EnableGpuModes(hDlg, IsDlgButtonChecked(hDlg, IDC_OPT_HWACCEL) == BST_CHECKED);
                return TRUE;
            case IDOK:
                StoreOptions(hDlg);
                EndDialog(hDlg, IDOK);
                return TRUE;
            case IDCANCEL:
                EndDialog(hDlg, IDCANCEL);
                return TRUE;
            }
            break;
        }
    }
    catch (...)
    {
        // Nothing may unwind through the dialog manager.
        TraceCaughtException("OptionsDlgProc");
    }
    return FALSE;
}

INT_PTR ShowOptionsDialog(HWND owner)
{
    LoadSettings();
    return DialogBoxParamW(GetPluginModule(), MAKEINTRESOURCEW(IDD_OPTIONS), owner, OptionsDlgProc, 0);
}
