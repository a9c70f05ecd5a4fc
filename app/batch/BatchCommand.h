// The main window's side of a batch run: the batch command (folder, count, options, progress
// dialog, thread), the end of the run, and cancelling it when the window closes.
// Host's thread only; called by MainWndProc.
#pragma once

#include <windows.h>

// Starts a batch on ID_BATCH_DENOISE: asks for the folder and the options, then runs the walk on
// the batch thread.
void OnBatchDenoiseCommand(HWND hWnd);
// Gives the window back to the user on WM_HPX_BATCH_DONE (sent by the batch thread when the walk
// is over): the progress dialog goes and the host image returns to the view.
void OnBatchDone(HWND hWnd);
// Closes the batch thread's handle on WM_HPX_BATCH_THREAD_ENDED, posted by the thread as it ends.
void OnBatchThreadEnded();
// A batch run is under way (from the command until its thread has ended): the document
// commands, Denoise, Options and another batch are refused meanwhile.
bool IsBatchActive();
// Cancels a running batch and waits for its thread while dispatching the thread's messages;
// called when the main window goes, before anything is freed. Does nothing without a batch.
void CancelBatchAndWait();

// The folder dialog of the batch, for file-system folders only, preselecting `initial`; false
// when cancelled or when the choice has no path (folder then empty).
bool BrowseForBatchFolder(HWND owner, const wchar_t* initial, wchar_t folder[1024]);
