// Opening an image file into the document and saving the document's result, with the JPEG
// quality control added to the system's save dialog. The document operations themselves
// (CBackBuffer::OpenImageFile, CBackBuffer::SaveImageFile) are declared with the document.
#pragma once

#include <windows.h>

// The image file last opened into the document (empty until the first open): the folder for
// stepping and the default name for saving.
extern wchar_t g_wcsCurrentFile[1024];

// Hook of the save dialog's quality part (template 156), set up by the save itself (its
// lCustData holds the quality the trackbar edits and the result's depth). Returns 0, except when
// it keeps the dialog open: the name would be completed with an extension into the name of a
// file that exists and the user does not want it replaced.
UINT_PTR CALLBACK SaveDialogHookProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
