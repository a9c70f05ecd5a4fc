// The batch thread: runs the folder walker with a profile table of its own, keeps the main
// window disabled meanwhile and tells the user when the run is over.
#pragma once

#include <windows.h>

// The thread sends WM_HPX_BATCH_DONE when the walk is over and posts WM_HPX_BATCH_THREAD_ENDED as
// its last act (both in app/window/WindowMessages.h).
#include "app/window/WindowMessages.h"

// Runs the batch as the thread's routine; the parameter is the BatchJob of the first folder
// level. Returns 1.
DWORD WINAPI BatchThreadProc(LPVOID param);
