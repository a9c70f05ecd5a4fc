// The batch thread: runs the folder walker with a profile table of its own, keeps the main
// window disabled meanwhile and tells the user when the run is over.
#pragma once

#include <windows.h>

#include "app/window/WindowMessages.h"  // WM_HPX_BATCH_DONE, sent when the walk is over

// Posted to the main window as the batch thread's last act: the thread is ending, its handle
// can be waited for and closed.
constexpr UINT WM_HPX_BATCH_THREAD_ENDED = 0x10AB;

// Thread routine; the parameter is the BatchJob of the first folder level. Returns 1.
DWORD WINAPI BatchThreadProc(LPVOID param);
