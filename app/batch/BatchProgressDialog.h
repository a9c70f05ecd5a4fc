// The batch progress dialog (resource 140): files done on a bar, elapsed time, an estimate of the
// whole run's time, and Cancel, which stops the batch between files.
//
// Modeless, owned by the main window, created with a pointer to the int total of files as its
// parameter. The walker reports each file of the total by sending it WM_HPX_BATCH_FILE_DONE,
// which it answers with nonzero when Cancel had been pressed before; the main window destroys it
// when the run has ended.
#pragma once

#include <windows.h>
#include <cstdint>

#include "app/window/WindowMessages.h"  // WM_HPX_BATCH_FILE_DONE

INT_PTR CALLBACK BatchProgressDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

// Creates and shows the progress dialog (template 140) owned by the main window; null when it
// cannot be made.
HWND CreateBatchProgressDialog(HWND owner, const int* total);

// The estimate of the whole run in seconds: elapsed x total / done, without 32-bit overflow; the
// elapsed time itself when no file is done yet would be meaningless, so 0 then.
uint32_t EstimateBatchSeconds(uint32_t elapsedSeconds, uint32_t total, uint32_t done);
// Writes the time as minutes and seconds ("%.2u:%.2u") into 16 characters; minutes are not
// limited.
void FormatBatchTime(wchar_t out[16], uint32_t seconds);
