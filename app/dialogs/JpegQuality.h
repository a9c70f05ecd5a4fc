// The JPEG quality that the save dialog's quality part and the batch options share: the "jpeg"
// setting, from 10 to 100, edited on a trackbar with its number beside it.
#pragma once

#include <windows.h>

constexpr int kMinJpegQuality = 10;
constexpr int kMaxJpegQuality = 100;

// The quality within 10..100 (the settings file may hold anything).
int ClampJpegQuality(int quality);
// The trackbar's position after WM_HSCROLL with this wParam: one step down or up for the line
// and page codes, the thumb's position while it is dragged or dropped, the position as it is
// for the other codes; within 10..100.
int JpegQualityAfterScroll(HWND bar, WPARAM wParam);
