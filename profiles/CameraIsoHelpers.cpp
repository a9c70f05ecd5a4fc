#include "profiles/CameraIsoHelpers.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

bool PointInRect(POINT point, const RECT& rect)
{
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
}

bool RectEquals(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool RectDiffers(const RECT& a, const RECT& b) { return !RectEquals(a, b); }

namespace
{
wchar_t* FormatInto(wchar_t* out, size_t cch, const wchar_t* format, va_list args)
{
    if (!format) format = L"";
    _vsnwprintf(out, cch - 1, format, args);
    out[cch - 1] = 0;
    return out;
}
}  // namespace

wchar_t* FormatText(wchar_t (&out)[1024], const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatInto(out, 1024, format, args);
    va_end(args);
    return out;
}

wchar_t* FormatText(wchar_t (&out)[256], const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatInto(out, 256, format, args);
    va_end(args);
    return out;
}

wchar_t* FormatText(wchar_t (&out)[128], const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatInto(out, 128, format, args);
    va_end(args);
    return out;
}

void CopyText(wchar_t* dst, size_t cch, const wchar_t* src)
{
    if (!cch) return;
    if (!src) src = L"";
    size_t n = wcslen(src);
    if (n >= cch) n = cch - 1;
    wmemmove(dst, src, n);
    dst[n] = 0;
}
