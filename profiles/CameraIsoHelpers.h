// Small routines of the parameter panel and the data files: rectangle tests and bounded
// wide-text copying and formatting.
#pragma once

#include <windows.h>

// Left and top edges inside, right and bottom edges outside.
bool PointInRect(POINT point, const RECT& rect);
// Whether all four edges of the two rectangles are equal (RectEquals) or any differs.
bool RectEquals(const RECT& a, const RECT& b);
bool RectDiffers(const RECT& a, const RECT& b);

// printf-style formatting into a caller's buffer of 1024, 256 or 128 characters; the text is
// cut to fit and always terminated. Returns the buffer.
wchar_t* FormatText(wchar_t (&out)[1024], const wchar_t* format, ...);
wchar_t* FormatText(wchar_t (&out)[256], const wchar_t* format, ...);
wchar_t* FormatText(wchar_t (&out)[128], const wchar_t* format, ...);

// Copies text into a buffer of cch characters, cut to fit and always terminated; a null
// source counts as empty, and the two may overlap.
void CopyText(wchar_t* dst, size_t cch, const wchar_t* src);
