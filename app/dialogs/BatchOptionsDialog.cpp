#include "app/dialogs/BatchOptionsDialog.h"
#include "profiles/Localisation.h"
#include "app/dialogs/OptionsDialog.h"
#include "profiles/Settings.h"
#include "plugin/prof_ids.h"
#include "ui/ControlSkin.h"

#include <commctrl.h>

int g_iBatchJpegQuality = 85;

namespace
{

const int kMinQuality = 10;
const int kMaxQuality = 100;

void ShowQuality(HWND hDlg, int quality)
{
    HWND bar = GetDlgItem(hDlg, IDC_BATCHOPT_JPEG);
    SendMessageW(bar, TBM_SETPOS, TRUE, quality);
    RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    SetDlgItemInt(hDlg, IDC_BATCHOPT_JPEG_VALUE, static_cast<UINT>(quality), FALSE);
}

void InitBatchOptions(HWND hDlg)
{
    SetDlgItemTextW(hDlg, IDC_BATCHOPT_INFO, g_LocStrings[143]);
    g_iBatchJpegQuality = ReadSettingInt(L"jpeg", 85);
    if (g_iBatchJpegQuality <= kMinQuality) g_iBatchJpegQuality = kMinQuality;
    // A damaged file may hold more than the trackbar shows; what it shows is what is used.
    if (g_iBatchJpegQuality > kMaxQuality) g_iBatchJpegQuality = kMaxQuality;
    HWND bar = GetDlgItem(hDlg, IDC_BATCHOPT_JPEG);
    SendMessageW(bar, TBM_SETRANGE, TRUE, MAKELPARAM(kMinQuality, kMaxQuality));
    SendMessageW(bar, TBM_SETPAGESIZE, 0, 0);
    ShowQuality(hDlg, g_iBatchJpegQuality);

    SetWindowTextW(hDlg, g_LocStrings[72]);
    SetDlgItemTextW(hDlg, IDOK, g_LocStrings[59]);
    SetDlgItemTextW(hDlg, IDCANCEL, g_LocStrings[60]);
    CenterDialogOverOwner(hDlg);
    SetFocus(GetDlgItem(hDlg, IDOK));
    InstallSkin(hDlg);
}

void OnScroll(HWND hDlg, WPARAM wParam)
{
    HWND bar = GetDlgItem(hDlg, IDC_BATCHOPT_JPEG);
    int pos = static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0));
    switch (LOWORD(wParam))
    {
    case SB_LINELEFT:
    case SB_PAGELEFT:
        pos -= 1;
        break;
    case SB_LINERIGHT:
    case SB_PAGERIGHT:
        pos += 1;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        pos = HIWORD(wParam);
        break;
    default:
        break;
    }
    if (pos < kMinQuality) pos = kMinQuality;
    if (pos > kMaxQuality) pos = kMaxQuality;
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
    }
    return FALSE;
}

INT_PTR ShowBatchOptionsDialog(HWND owner, LPARAM param)
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    return DialogBoxParamW(GetPluginModule(), MAKEINTRESOURCEW(IDD_BATCH_OPTIONS), owner, BatchOptionsDlgProc, param);
}
