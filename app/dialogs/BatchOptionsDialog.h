// The batch-options dialog (resource 152): JPEG quality of the batch and how it picks profiles.
#pragma once

#include <windows.h>

// JPEG quality of the batch (10..100), read from and written to "jpeg" of the settings.
extern int g_iBatchJpegQuality;

// DialogBoxParam with template 152 owned by the main window; IDOK (1) starts the batch,
// IDCANCEL (2) does not. Only OK stores the quality in the settings.
INT_PTR CALLBACK BatchOptionsDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR ShowBatchOptionsDialog(HWND owner, LPARAM param);
