#include "app/batch/BatchCommand.h"

#include <commctrl.h>

#include <cwchar>
#include <utility>

#include "app/batch/BatchJob.h"
#include "app/batch/BatchProgressDialog.h"
#include "app/batch/BatchThread.h"
#include "app/dialogs/BatchOptionsDialog.h"
#include "app/files/FileCommands.h"
#include "app/files/OpenSaveImage.h"
#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"
#include "engine/NlmPlaneDenoise.h"  // g_bAbort
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"
#include "ui/ScopedWin32.h"

namespace
{

const int kPathChars = 1024;
const DWORD kBatchStackBytes = 0x6400000;  // 100 MiB: the engine's recursion on large images

// The run's first level and its total live until the run ends.
BatchJob g_BatchJob;
int g_iBatchTotal = 0;

// Toolbar buttons that act on the document (the view commands) are off during a run.
void EnableViewButtons(BOOL enable)
{
    for (int id : {ID_ZOOM_FIT, ID_ZOOM_100, ID_ZOOM_BOX, ID_ZOOM_IN, ID_ZOOM_OUT})
        SendMessageW(g_hToolbar, TB_ENABLEBUTTON, WPARAM(id), MAKELPARAM(enable, 0));
}

void SetClassCursor(HWND hWnd, const wchar_t* cursor)
{
    SetClassLongPtrW(hWnd, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, cursor)));
}

}  // namespace

bool IsBatchActive() { return g_bBatchRunning || g_hBatchThread != nullptr; }

void OnBatchDenoiseCommand(HWND hWnd)
{
    if (IsBatchActive()) return;
    g_iQualityMode = 3;
    wchar_t latest[kPathChars];
    ReadSettingString(L"Latest Folder", L"", latest, kPathChars);
    wchar_t folder[kPathChars];
    if (!BrowseForBatchFolder(hWnd, latest, folder)) return;
    g_iBatchTotal = CountImageFiles(folder);
    WriteSettingString(L"Latest Folder", folder);
    if (ShowBatchOptionsDialog(hWnd, reinterpret_cast<LPARAM>(&g_BatchJob)) == IDCANCEL) return;

    BatchJob& job = g_BatchJob;
    std::memset(&job, 0, sizeof job);
    wchar_t pattern[kPathChars];
    const bool fits = _snwprintf(pattern, kPathChars, L"%ls/*.*", folder) >= 0 &&
        _snwprintf(job.wszOutputDir, kPathChars, L"%ls\\denoised", folder) >= 0;
    pattern[kPathChars - 1] = job.wszOutputDir[kPathChars - 1] = 0;
    job.hFind = fits ? FindFirstFileW(pattern, &job.fd) : INVALID_HANDLE_VALUE;
    if (job.hFind == INVALID_HANDLE_VALUE)
    {
        // A folder that cannot be listed: nothing to walk, and the document stays.
        ShowLocalizedMessage(kLocFolderHasNoImages, kLocReport, MB_ICONINFORMATION);
        return;
    }
    CopyText(job.wszInputDir, kPathChars, folder);

    SendMessageW(hWnd, WM_COMMAND, ID_FILE_CLOSE, 0);
    g_hBatchProgressDlg = CreateBatchProgressDialog(hWnd, &g_iBatchTotal);
    job.pDocument = &g_BackBuffer;
    job.hMainWnd = hWnd;
    job.hProgressDlg = g_hBatchProgressDlg;
    g_bBatchAbort = 0;
    g_bBatchClosing = 0;
    g_bDocumentIsHostImage = false;
    EnableViewButtons(FALSE);
    // Marked before the thread exists, so that nothing can start a second run over this one.
    g_bBatchRunning = 1;
    g_hBatchThread =
        CreateThread(nullptr, kBatchStackBytes, BatchThreadProc, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!g_hBatchThread)
    {
        // Undo the start: the search, the dialog, the buttons; the host image comes back.
        FindClose(job.hFind);
        job.hFind = INVALID_HANDLE_VALUE;
        if (g_hBatchProgressDlg) DestroyWindow(g_hBatchProgressDlg);
        g_hBatchProgressDlg = nullptr;
        EnableViewButtons(TRUE);
        g_bBatchRunning = 0;
        SetClassCursor(hWnd, IDC_ARROW);
        PostMessageW(hWnd, WM_HPX_IMAGE_ARRIVED, 0, 0);
        ShowLocalizedMessage(kLocNotEnoughMemory, kLocWarning, MB_ICONWARNING);
        return;
    }
    SetClassCursor(hWnd, IDC_WAIT);
}

void OnBatchDone(HWND hWnd)
{
    EnableViewButtons(TRUE);
    if (g_hBatchProgressDlg) DestroyWindow(g_hBatchProgressDlg);
    g_hBatchProgressDlg = nullptr;
    UpdateWindow(hWnd);
    SetClassCursor(hWnd, IDC_ARROW);
    // The names of the last batch file must not become the host image's: no save proposes
    // it, and no save embeds its metadata.
    g_wcsCurrentFile[0] = 0;
    g_wszImagePath[0] = 0;
    g_bBatchRunning = 0;
    if (!g_bBatchClosing) PostMessageW(hWnd, WM_HPX_IMAGE_ARRIVED, 0, 0);
}

void OnBatchThreadEnded()
{
    // While the window closes, the waiter below owns the handle.
    if (!g_hBatchThread || g_bBatchClosing) return;
    const ScopedHandle thread(std::exchange(g_hBatchThread, nullptr));
    WaitForSingleObject(thread.get(), INFINITE);  // it is returning
}

void CancelBatchAndWait()
{
    if (!g_hBatchThread) return;
    g_bBatchClosing = 1;
    g_bBatchAbort = 1;
    // The current photo's job stops too (it is then not written): the host is not kept waiting
    // for a whole job of a large photo.
    g_bAbort = 1;
    HANDLE thread = g_hBatchThread;
    bool quit = false;
    int quitCode = 0;
    // The thread sends to this thread's windows (progress, the end of the run): keep them
    // answered until it has ended.
    for (;;)
    {
        const DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
        if (wait != WAIT_OBJECT_0 + 1) break;  // ended (or nothing left to wait for)
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            if (msg.message == WM_QUIT)
            {
                quit = true;
                quitCode = int(msg.wParam);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    const ScopedHandle ended(std::exchange(g_hBatchThread, nullptr));  // closed on the way out
    g_bBatchRunning = 0;
    g_bBatchClosing = 0;
    g_bAbort = 0;  // the batch's job has ended; no other job runs beside a batch
    if (quit) PostQuitMessage(quitCode);
}
