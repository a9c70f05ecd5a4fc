#include "app/files/ImageFileNames.h"

#include <windows.h>

#include <cwchar>

#include "imagefiles/ImageFile.h"

namespace
{

bool EndsWithNoCase(const wchar_t* name, const wchar_t* ending)
{
    const size_t n = std::wcslen(name), m = std::wcslen(ending);
    return n >= m && _wcsicmp(name + n - m, ending) == 0;
}

}  // namespace

bool HasImageFileExtension(const wchar_t* name)
{
    const wchar_t* dot = name ? std::wcsrchr(name, L'.') : nullptr;
    if (!dot) return false;
    for (const wchar_t* ext : {L".bmp", L".gif", L".jpg", L".tif", L".png"})
        if (_wcsicmp(dot, ext) == 0) return true;
    return false;
}

bool IsBatchPhotoName(const wchar_t* name) { return SaveTypeOfName(name, 8, true) != kSaveNone; }

SaveType SaveTypeOfName(const wchar_t* name, int bits, bool longFormsToo)
{
    if (!name) return kSaveNone;
    const bool eightBit = bits <= 8;
    if (eightBit && EndsWithNoCase(name, L".bmp")) return kSaveBmp;
    if (EndsWithNoCase(name, L".tif") || (longFormsToo && EndsWithNoCase(name, L".tiff"))) return kSaveTiff;
    if (EndsWithNoCase(name, L".png")) return kSavePng;
    if (eightBit && (EndsWithNoCase(name, L".jpg") || (longFormsToo && EndsWithNoCase(name, L".jpeg"))))
        return kSaveJpeg;
    return kSaveNone;
}

const wchar_t* SaveTypeExtension(SaveType type)
{
    switch (type)
    {
    case kSaveBmp:
        return L".bmp";
    case kSaveTiff:
        return L".tif";
    case kSavePng:
        return L".png";
    case kSaveJpeg:
        return L".jpg";
    default:
        return L"";
    }
}

int SaveTypeFormat(SaveType type)
{
    switch (type)
    {
    case kSaveTiff:
        return kImageFormatTiff;
    case kSavePng:
        return kImageFormatPng;
    case kSaveJpeg:
        return kImageFormatJpeg;
    default:
        return kImageFormatBmp;
    }
}
