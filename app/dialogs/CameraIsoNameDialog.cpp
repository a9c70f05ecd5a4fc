#include "app/dialogs/CameraIsoNameDialog.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Localisation.h"
#include "app/dialogs/OptionsDialog.h"
#include "profiles/Settings.h"
#include "plugin/prof_ids.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ControlSkin.h"

#include <cstdio>

namespace
{

const wchar_t* InfoText(const AddConfigurationData* data, int slot)
{
    return data && data->m_pInfo ? (*data->m_pInfo)[slot] : L"";
}

void InitAddConfiguration(HWND hDlg, AddConfigurationData* data)
{
    SetWindowLongPtrW(hDlg, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
    SetWindowTextW(hDlg, g_LocStrings[kLocAddingConfiguration]);
    SetDlgItemTextW(hDlg, IDC_ADDCFG_CAMERA_LABEL, g_LocStrings[kLocCamera]);
    SetDlgItemTextW(hDlg, IDOK, g_LocStrings[kLocOk]);
    SetDlgItemTextW(hDlg, IDCANCEL, g_LocStrings[kLocCancel]);
    SendDlgItemMessageW(hDlg, IDC_ADDCFG_CAMERA, EM_LIMITTEXT, 127, 0);
    SendDlgItemMessageW(hDlg, IDC_ADDCFG_ISO, EM_LIMITTEXT, 127, 0);
    if (data)
    {
        data->m_wszCamera[127] = 0;
        data->m_wszIso[127] = 0;
        SetDlgItemTextW(hDlg, IDC_ADDCFG_CAMERA, data->m_wszCamera);
        SetDlgItemTextW(hDlg, IDC_ADDCFG_ISO, data->m_wszIso);
    }
    const bool haveCamera = InfoText(data, ImageInfoStrings::kMake)[0] && InfoText(data, ImageInfoStrings::kModel)[0];
    const bool haveIso = InfoText(data, ImageInfoStrings::kIso)[0] != 0;
    if (!haveCamera && !haveIso) EnableWindow(GetDlgItem(hDlg, IDC_ADDCFG_EXIF), FALSE);
    CenterDialogOverOwner(hDlg);
    InstallSkin(hDlg);
}

void TakeFromExif(HWND hDlg, const AddConfigurationData* data)
{
    const wchar_t* make = InfoText(data, ImageInfoStrings::kMake);
    const wchar_t* model = InfoText(data, ImageInfoStrings::kModel);
    const wchar_t* iso = InfoText(data, ImageInfoStrings::kIso);
    if (make[0] && model[0])
    {
        wchar_t camera[128];
        _snwprintf(camera, 127, L"%ls / %ls", make, model);
        camera[127] = 0;
        NormalizeCameraName(camera, camera);
        SetDlgItemTextW(hDlg, IDC_ADDCFG_CAMERA, camera);
    }
    if (iso[0]) SetDlgItemTextW(hDlg, IDC_ADDCFG_ISO, iso);
}

void Finish(HWND hDlg, int id)
{
    auto* data = reinterpret_cast<AddConfigurationData*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    if (data)
    {
        GetDlgItemTextW(hDlg, IDC_ADDCFG_CAMERA, data->m_wszCamera, 128);
        GetDlgItemTextW(hDlg, IDC_ADDCFG_ISO, data->m_wszIso, 128);
    }
    EndDialog(hDlg, id);
}

}  // namespace

INT_PTR CALLBACK AddConfigurationDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try
    {
        switch (msg)
        {
        case WM_INITDIALOG:
            InitAddConfiguration(hDlg, reinterpret_cast<AddConfigurationData*>(lParam));
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam))
            {
            case IDC_ADDCFG_EXIF:
                TakeFromExif(hDlg, reinterpret_cast<AddConfigurationData*>(GetWindowLongPtrW(hDlg, DWLP_USER)));
                return TRUE;
            case IDOK:
            case IDCANCEL:
                Finish(hDlg, LOWORD(wParam));
                return TRUE;
            }
            break;
        }
    }
    catch (...)
    {
        // Nothing may unwind through the dialog manager.
        TraceCaughtException("AddConfigurationDlgProc");
    }
    return FALSE;
}

INT_PTR ShowAddConfigurationDialog(HWND owner, AddConfigurationData* data)
{
    return DialogBoxParamW(GetPluginModule(), MAKEINTRESOURCEW(IDD_ADD_CONFIGURATION), owner, AddConfigurationDlgProc,
                           reinterpret_cast<LPARAM>(data));
}
