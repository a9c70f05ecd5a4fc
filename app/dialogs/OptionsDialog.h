// The Options dialog (resource 157): language, hardware acceleration and GPU mode.
#pragma once

#include <windows.h>

// LoadSettings, then the modal dialog owned by the given window (the main window). Returns IDOK
// when the choices were stored, IDCANCEL otherwise.
INT_PTR ShowOptionsDialog(HWND owner);
INT_PTR CALLBACK OptionsDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

// Moves a dialog so that it is centred over its owner (or its parent), kept on the work area.
void CenterDialogOverOwner(HWND hDlg);
