// The batch run's parameter block and flags, shared by the main window's batch command, the
// batch thread, the folder walker and the progress dialog.
#pragma once

#include <windows.h>

#include <atomic>

class CBackBuffer;
class CameraIsoTable;

// One folder level of the walk. The main window fills the first; the walker makes one per
// sub-folder on its stack.
struct BatchJob
{
    wchar_t wszInputDir[1024];   // the folder of this level
    wchar_t wszOutputDir[1024];  // "<folder>\denoised"
    WIN32_FIND_DATAW fd;         // the current entry of the folder search
    HANDLE hFind;                // the folder search (INVALID_HANDLE_VALUE when none)
    CBackBuffer* pDocument;      // the main window's document: the walker's work area
    CameraIsoTable* pProfiles;   // the batch thread's own profile table
    HWND hMainWnd;               // the main window
    HWND hProgressDlg;           // the batch progress dialog
};

// Set by the progress dialog's Cancel (and by closing the main window), read before every entry.
extern std::atomic<unsigned char> g_bBatchAbort;
// Set while the main window is being closed during a run: the thread then ends without its
// closing message box.
extern std::atomic<unsigned char> g_bBatchClosing;
