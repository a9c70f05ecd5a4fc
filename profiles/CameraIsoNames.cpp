// Camera names: trimming, comparison and the short forms of the makers' long names.
#include "profiles/CameraIsoTable.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/CameraIsoTableInternal.h"

#include <cwchar>

using namespace camera_iso_detail;

namespace
{

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0x00A0 || c == 0x3000; }

}  // namespace

namespace camera_iso_detail
{

void TrimBlanks(wchar_t* text)
{
    size_t n = wcslen(text);
    while (n && IsBlank(text[n - 1])) text[--n] = 0;
    size_t start = 0;
    while (start < n && IsBlank(text[start])) ++start;
    if (start) wmemmove(text, text + start, n - start + 1);
}

int CompareNoCase(const wchar_t* a, const wchar_t* b)
{
    int r = CompareStringOrdinal(a, -1, b, -1, TRUE);
    return r - CSTR_EQUAL;  // <0, 0, >0
}

void RemoveSpaces(wchar_t* out, size_t cch, const wchar_t* in)
{
    size_t n = 0;
    for (; *in && n + 1 < cch; ++in)
        if (*in != L' ') out[n++] = *in;
    out[n] = 0;
}

}  // namespace camera_iso_detail

void ReplaceSubstring(wchar_t* text, size_t capacity, const wchar_t* search, const wchar_t* replacement)
{
    if (!text || !capacity || !search || !*search || !replacement) return;
    if (capacity > kTextChars) capacity = kTextChars;
    const size_t searchLen = wcslen(search);
    const size_t replLen = wcslen(replacement);
    // A replacement that holds the search text would be found again: then the search goes on
    // after each replacement instead of from the start.
    const bool resumeAfter = wcsstr(replacement, search) != nullptr;
    wchar_t work[kTextChars];
    CopyText(work, capacity, text);
    size_t from = 0;
    for (;;)
    {
        wchar_t* hit = wcsstr(work + from, search);
        if (!hit) break;
        const size_t at = static_cast<size_t>(hit - work);
        const size_t tail = wcslen(hit + searchLen);
        wchar_t next[kTextChars];
        wmemcpy(next, work, at);
        size_t pos = at;
        for (size_t i = 0; i < replLen && pos < capacity - 1; ++i) next[pos++] = replacement[i];
        for (size_t i = 0; i < tail && pos < capacity - 1; ++i) next[pos++] = hit[searchLen + i];
        next[pos] = 0;
        wmemcpy(work, next, pos + 1);
        from = resumeAfter ? (at + replLen < pos ? at + replLen : pos) : 0;
    }
    CopyText(text, capacity, work);
}

void ReplaceSubstring(wchar_t* text, const wchar_t* search, const wchar_t* replacement)
{
    ReplaceSubstring(text, kTextChars, search, replacement);
}

void NormalizeCameraName(wchar_t out[HPX_CAMERA_NAME_CHARS], const wchar_t* text)
{
    static const wchar_t* const kPairs[][2] = {
        {L"CASIO COMPUTER CO.,LTD. /", L"CASIO /"},
        {L"Canon / Canon", L"Canon /"},
        {L"OLYMPUS IMAGING CORP.   /", L"OLYMPUS /"},
        {L"EASTMAN KODAK COMPANY / KODAK EASYSHARE", L"KODAK EASYSHARE /"},
        {L"EASTMAN KODAK COMPANY / KODAK", L"KODAK /"},
        {L"NIKON CORPORATION / NIKON", L"NIKON /"},
        {L"PENTAX              / PENTAX", L"PENTAX /"},
        {L"PENTAX Corporation  / PENTAX", L"PENTAX /"},
        {L"PENTAX Corporation / PENTAX", L"PENTAX /"},
        {L"PENTAX / PENTAX", L"PENTAX /"},
        {L"RICOH       /", L"RICOH /"},
        {L"SAMSUNG         /", L"Samsung /"},
        {L"Samsung Techwin /", L"Samsung /"},
        {L"SAMSUNG TECHWIN /", L"Samsung /"},
        {L"SAMSUNG / SAMSUNG", L"Samsung /"},
        {L"SANYO Electric Co.,Ltd. /", L"Sanyo /"},
    };
    if (!out) return;
    CopyText(out, HPX_CAMERA_NAME_CHARS, text);
    // EXIF text fields are often padded with blanks; the profile file cannot keep blanks at the
    // ends of a name (they are trimmed when it is read back), so the name never has them.
    TrimBlanks(out);
    for (const auto& pair : kPairs) ReplaceSubstring(out, HPX_CAMERA_NAME_CHARS, pair[0], pair[1]);
}
