#include "app/dialogs/BatchOptionsDialog.h"
#include "profiles/Localisation.h"
#include "app/dialogs/JpegQuality.h"
#include "app/dialogs/OptionsDialog.h"
#include "profiles/Settings.h"
#include "plugin/prof_ids.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ControlSkin.h"

#include <commctrl.h>

int g_iBatchJpegQuality = 85;

namespace
{

void ShowQuality(HWND hDlg, int quality)
{
    HWND bar = GetDlgItem(hDlg, IDC_BATCHOPT_JPEG);
    SendMessageW(bar, TBM_SETPOS, TRUE, quality);
    RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    SetDlgItemInt(hDlg, IDC_BATCHOPT_JPEG_VALUE, static_cast<UINT>(quality), FALSE);
}

void InitBatchOptions(HWND hDlg)
{
    SetDlgItemTextW(hDlg, IDC_BATCHOPT_INFO, g_LocStrings[kLocBatchProfilesInfo]);
    // A damaged file may hold more than the trackbar shows; what it shows is what is used.
    g_iBatchJpegQuality = ClampJpegQuality(ReadSettingInt(L"jpeg", 85));
    HWND bar = GetDlgItem(hDlg, IDC_BATCHOPT_JPEG);
    SendMessageW(bar, TBM_SETRANGE, TRUE, MAKELPARAM(kMinJpegQuality, kMaxJpegQuality));
    SendMessageW(bar, TBM_SETPAGESIZE, 0, 0);
    ShowQuality(hDlg, g_iBatchJpegQuality);

    SetWindowTextW(hDlg, g_LocStrings[kLocBatchOptions]);
    SetDlgItemTextW(hDlg, IDOK, g_LocStrings[kLocOk]);
    SetDlgItemTextW(hDlg, IDCANCEL, g_LocStrings[kLocCancel]);
    CenterDialogOverOwner(hDlg);
    SetFocus(GetDlgItem(hDlg, IDOK));
    InstallSkin(hDlg);
}

void OnScroll(HWND hDlg, WPARAM wParam)
{
    const int pos = JpegQualityAfterScroll(GetDlgItem(hDlg, IDC_BATCHOPT_JPEG), wParam);
    ShowQuality(hDlg, pos);
    g_iBatchJpegQuality = pos;
}

}  // namespace

INT_PTR CALLBACK BatchOptionsDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try
    {
        switch (msg)
        {
        case WM_INITDIALOG:
            InitBatchOptions(hDlg);
            return FALSE;  // the focus is set on OK
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == GetDlgItem(hDlg, IDC_BATCHOPT_JPEG))
            {
                OnScroll(hDlg, wParam);
                return TRUE;
            }
            break;
        case WM_COMMAND:
            switch (LOWORD(wParam))
            {
            case IDOK:
                WriteSettingInt(L"jpeg", g_iBatchJpegQuality);
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
        TraceCaughtException("BatchOptionsDlgProc");
    }
    return FALSE;
}

INT_PTR ShowBatchOptionsDialog(HWND owner, LPARAM param)
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    return DialogBoxParamW(GetPluginModule(), MAKEINTRESOURCEW(IDD_BATCH_OPTIONS), owner, BatchOptionsDlgProc, param);
}
