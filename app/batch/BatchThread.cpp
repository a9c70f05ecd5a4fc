#include "app/batch/BatchThread.h"

#include "app/batch/BatchDenoiseFolder.h"
#include "engine/NlmPlaneDenoise.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Localisation.h"
#include "ui/CaughtExceptionTrace.h"

DWORD WINAPI BatchThreadProc(LPVOID param)
{
    BatchJob* job = static_cast<BatchJob*>(param);
    if (!job) return 1;
    HWND mainWnd = job->hMainWnd;
    bool reported = false;
    try
    {
        // The thread's own table: the panel's is never shared.
        CameraIsoTable profiles;
        profiles.Load();
        job->pProfiles = &profiles;
        EnableWindow(mainWnd, FALSE);
        g_bAbort = 0;
        const int failed = BatchDenoiseFolder(job);
        job->pProfiles = nullptr;
        EnableWindow(mainWnd, TRUE);
        g_bBatchAbort = 0;
        reported = true;
        SendMessageW(mainWnd, WM_HPX_BATCH_DONE, 0, 0);
        // Said after a cancel as well; not while the window is going away. Success is claimed only
        // when no photo failed.
        if (!g_bBatchClosing)
            MessageBoxW(mainWnd, g_LocStrings[failed ? kLocBatchSomeFailed : kLocBatchSucceeded],
                        g_LocStrings[kLocReport], failed ? MB_ICONWARNING : MB_ICONINFORMATION);
        profiles.Release();
    }
    catch (...)
    {
        // Nothing leaves the thread; the main window is given back whatever happened.
        TraceCaughtException("BatchThreadProc");
        job->pProfiles = nullptr;
        EnableWindow(mainWnd, TRUE);
        g_bBatchAbort = 0;
        if (!reported) SendMessageW(mainWnd, WM_HPX_BATCH_DONE, 0, 0);
    }
    PostMessageW(mainWnd, WM_HPX_BATCH_THREAD_ENDED, 0, 0);
    return 1;
}
