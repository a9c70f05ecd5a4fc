#include "app/batch/BatchProgressDialog.h"

#include <commctrl.h>
#include <cwchar>

#include "app/batch/BatchJob.h"
#include "app/dialogs/OptionsDialog.h"
#include "plugin/batch_ids.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ControlSkin.h"

namespace
{

const UINT_PTR kSecondTimer = 1;

// Only one progress dialog exists at a time, so its figures can be plain file-scope variables.
int g_iBatchTotal = 0;
uint32_t g_uiElapsedSeconds = 0;
uint32_t g_uiFilesDone = 0;

void ShowTime(HWND hDlg, int id, uint32_t seconds)
{
    wchar_t text[16];
    FormatBatchTime(text, seconds);
    SetDlgItemTextW(hDlg, id, text);
}

void InitProgress(HWND hDlg, LPARAM lParam)
{
    const int* total = reinterpret_cast<const int*>(lParam);
    g_iBatchTotal = total && *total > 0 ? *total : 0;
    HWND bar = GetDlgItem(hDlg, IDC_BATCH_PROGRESS);
    SendMessageW(bar, PBM_SETSTEP, 1, 0);
    // PBM_SETRANGE takes 16-bit limits; the 32-bit range holds any count of files.
    SendMessageW(bar, PBM_SETRANGE32, 0, g_iBatchTotal);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    SetDlgItemTextW(hDlg, IDC_BATCH_ESTIMATE, L"00:00");
    SetDlgItemTextW(hDlg, IDC_BATCH_ELAPSED, L"00:00");
    g_uiElapsedSeconds = 0;
    g_uiFilesDone = 0;
    SetWindowTextW(hDlg, g_LocStrings[kLocBatchDenoising]);
    SetDlgItemTextW(hDlg, IDC_BATCH_ESTIMATE_LABEL, g_LocStrings[kLocEstimatedTime]);
    SetDlgItemTextW(hDlg, IDC_BATCH_ELAPSED_LABEL, g_LocStrings[kLocElapsedTime]);
    SetDlgItemTextW(hDlg, IDCANCEL, g_LocStrings[kLocCancel]);
    CenterDialogOverOwner(hDlg);
    SetTimer(hDlg, kSecondTimer, 1000, nullptr);
    InstallSkin(hDlg);
}

void OnFileDone(HWND hDlg)
{
    ++g_uiFilesDone;
    ShowTime(hDlg, IDC_BATCH_ESTIMATE,
             EstimateBatchSeconds(g_uiElapsedSeconds, uint32_t(g_iBatchTotal), g_uiFilesDone));
    SendDlgItemMessageW(hDlg, IDC_BATCH_PROGRESS, PBM_SETPOS, WPARAM(g_uiFilesDone), 0);
}

}  // namespace

uint32_t EstimateBatchSeconds(uint32_t elapsedSeconds, uint32_t total, uint32_t done)
{
    if (done == 0) return 0;
    const uint64_t estimate = uint64_t(elapsedSeconds) * total / done;
    return estimate > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(estimate);
}

void FormatBatchTime(wchar_t out[16], uint32_t seconds)
{
    if (swprintf(out, 16, L"%.2u:%.2u", unsigned(seconds / 60), unsigned(seconds % 60)) < 0) out[0] = 0;
    out[15] = 0;
}

INT_PTR CALLBACK BatchProgressDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try
    {
        switch (msg)
        {
        case WM_INITDIALOG:
            InitProgress(hDlg, lParam);
            return TRUE;
        case WM_TIMER:
            if (wParam == kSecondTimer)
            {
                ++g_uiElapsedSeconds;
                ShowTime(hDlg, IDC_BATCH_ELAPSED, g_uiElapsedSeconds);
                return TRUE;
            }
            break;
        case WM_HPX_BATCH_FILE_DONE:
        {
            // The answer decides where a cancel takes effect: nonzero when Cancel was pressed
            // before this report, so the walker writes nothing after the file reported here.
            const bool cancelledBefore = g_bBatchAbort != 0;
            OnFileDone(hDlg);
            SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, cancelledBefore ? 1 : 0);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            {
                KillTimer(hDlg, kSecondTimer);
                g_bBatchAbort = 1;
                // A modeless dialog is only hidden here; the main window destroys it when the
                // batch thread reports the end of the run.
                ShowWindow(hDlg, SW_HIDE);
                return TRUE;
            }
            break;
        case WM_DESTROY:
            KillTimer(hDlg, kSecondTimer);
            break;
        }
    }
    catch (...)
    {
        // Nothing may unwind through the dialog manager.
        TraceCaughtException("BatchProgressDlgProc");
    }
    return FALSE;
}

HWND CreateBatchProgressDialog(HWND owner, const int* total)
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    HWND dlg = CreateDialogParamW(GetPluginModule(), MAKEINTRESOURCEW(IDD_BATCH_PROGRESS), owner, BatchProgressDlgProc,
                                  reinterpret_cast<LPARAM>(total));
    if (dlg) ShowWindow(dlg, SW_SHOW);
    return dlg;
}
