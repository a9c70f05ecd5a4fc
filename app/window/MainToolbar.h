// The main window's toolbar and zoom box: made at the window's creation, laid out at every size
// change, released after the window is gone. Host thread only.
#pragma once

#include <windows.h>

// The toolbar (g_hToolbar) with its eight buttons and greyed images for disabled ones.
void CreateToolbar(HWND hWnd);
// The zoom box (g_hZoomBox) on the toolbar's sixth button, with its presets; starts disabled.
void CreateZoomBox();
// The spacer button takes the width left, so that "Menu" sits at the toolbar's right end.
void LayoutSpacer(HWND hWnd);
// Moves the zoom box onto its button again after the toolbar was laid out.
void PlaceZoomBox();
// Frees the toolbar's bitmaps and grey image list and the zoom box's font; call once the
// window (and with it the bars that use them) has been destroyed.
void FreeToolbarResources();
