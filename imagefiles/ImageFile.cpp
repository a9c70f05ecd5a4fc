// Image files through FreeImage (reading with wide paths, writing, metadata and ICC copying).
#include <windows.h>

#include <FreeImage.h>

#include "imagefiles/ImageFile.h"

#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

// The one library object of the module: FreeImage lives from load to unload.
static FreeImageLibrary g_FreeImageLibrary;

FreeImageLibrary::FreeImageLibrary() { FreeImage_Initialise(FALSE); }

FreeImageLibrary::~FreeImageLibrary() { FreeImage_DeInitialise(); }

namespace
{

// Unloads a bitmap when it goes out of scope (also when an exception passes).
class BitmapHolder
{
public:
    explicit BitmapHolder(FIBITMAP* bitmap = nullptr) : m_bitmap(bitmap) {}
    ~BitmapHolder() { Reset(nullptr); }
    BitmapHolder(const BitmapHolder&) = delete;
    BitmapHolder& operator=(const BitmapHolder&) = delete;
    void Reset(FIBITMAP* bitmap)
    {
        if (m_bitmap) FreeImage_Unload(m_bitmap);
        m_bitmap = bitmap;
    }
    FIBITMAP* Get() const { return m_bitmap; }

private:
    FIBITMAP* m_bitmap;
};

void FormatSlot(wchar_t* dst, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vswprintf(dst, ImageInfoStrings::kLength, format, args);
    va_end(args);
    if (n < 0) dst[0] = 0;
    dst[ImageInfoStrings::kLength - 1] = 0;
}

bool EqualsNoCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
    {
        char x = (*a >= 'A' && *a <= 'Z') ? char(*a + 32) : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? char(*b + 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

// The tag's value when it has the type and at least `bytes` bytes; else null.
const void* TagValue(FITAG* tag, FREE_IMAGE_MDTYPE type, DWORD bytes)
{
    if (!tag || FreeImage_GetTagType(tag) != type || FreeImage_GetTagCount(tag) < 1) return nullptr;
    if (FreeImage_GetTagLength(tag) < bytes) return nullptr;
    return FreeImage_GetTagValue(tag);
}

// A 16- or 32-bit unsigned tag value (dimensions are either); false when it is neither.
bool TagUnsigned(FITAG* tag, uint32_t* out)
{
    if (const void* v = TagValue(tag, FIDT_SHORT, 2))
    {
        *out = *static_cast<const WORD*>(v);
        return true;
    }
    if (const void* v = TagValue(tag, FIDT_LONG, 4))
    {
        *out = *static_cast<const DWORD*>(v);
        return true;
    }
    return false;
}

// An ASCII tag widened byte by byte into a slot, bounded by the tag's length and the slot.
void TagText(wchar_t* dst, FITAG* tag)
{
    dst[0] = 0;
    const char* text = static_cast<const char*>(TagValue(tag, FIDT_ASCII, 1));
    if (!text) return;
    DWORD length = FreeImage_GetTagLength(tag);
    DWORD i = 0;
    for (; i < length && i < DWORD(ImageInfoStrings::kLength - 1) && text[i] != 0; ++i)
        dst[i] = wchar_t(static_cast<unsigned char>(text[i]));
    dst[i] = 0;
}

// The information strings from the bitmap's EXIF metadata.
void ReadInfoStrings(ImageInfoStrings* info, FIBITMAP* bitmap)
{
    info->Clear();
    uint32_t width = 0, height = 0;
    FITAG* tag = nullptr;
    FIMETADATA* search = FreeImage_FindFirstMetadata(FIMD_EXIF_EXIF, bitmap, &tag);
    if (search)
    {
        do {
            const char* key = FreeImage_GetTagKey(tag);
            if (!key) continue;
            if (EqualsNoCase(key, "FNumber"))
            {
                if (const DWORD* r = static_cast<const DWORD*>(TagValue(tag, FIDT_RATIONAL, 8)))
                {
                    if (r[1] != 0) FormatSlot((*info)[ImageInfoStrings::kAperture], L"%.2f", double(r[0]) / r[1]);
                }
            }
            else if (EqualsNoCase(key, "ExposureTime"))
            {
                if (const DWORD* r = static_cast<const DWORD*>(TagValue(tag, FIDT_RATIONAL, 8)))
                    FormatExposureTime((*info)[ImageInfoStrings::kExposure], r[0], r[1]);
            }
            else if (EqualsNoCase(key, "ISOSpeedRatings"))
            {
                if (const WORD* iso = static_cast<const WORD*>(TagValue(tag, FIDT_SHORT, 2)))
                    FormatSlot((*info)[ImageInfoStrings::kIso], L"%i", int(*iso));
            }
            else if (EqualsNoCase(key, "PixelXDimension"))
            {
                TagUnsigned(tag, &width);
            }
            else if (EqualsNoCase(key, "PixelYDimension"))
            {
                TagUnsigned(tag, &height);
            }
            else if (EqualsNoCase(key, "DateTimeOriginal"))
            {
                TagText((*info)[ImageInfoStrings::kDate], tag);
            }
        } while (FreeImage_FindNextMetadata(search, &tag));
        FreeImage_FindCloseMetadata(search);
    }
    if (width != 0 && height != 0)
        FormatSlot((*info)[ImageInfoStrings::kResolution], L"%ix%i", int(width), int(height));

    tag = nullptr;
    if (FreeImage_GetMetadata(FIMD_EXIF_MAIN, bitmap, "Make", &tag) && tag)
        TagText((*info)[ImageInfoStrings::kMake], tag);
    tag = nullptr;
    if (FreeImage_GetMetadata(FIMD_EXIF_MAIN, bitmap, "Model", &tag) && tag)
        TagText((*info)[ImageInfoStrings::kModel], tag);
}

ImageBuffer* NewRecord()
{
    ImageBuffer* record = new (std::nothrow) ImageBuffer;
    if (record) InitImage(record);
    return record;
}

// The pixels of the bitmap into new records; false when refused or out of memory.
bool ConvertPixels(FIBITMAP* bitmap, ImageBuffer** outImage, ImageBuffer** outAlpha)
{
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
    // Other types (float, complex, 32-bit integer planes...) have no sample layout that this
    // conversion understands: reading them as bytes would give garbage.
    if (type != FIT_BITMAP && type != FIT_UINT16 && type != FIT_RGB16 && type != FIT_RGBA16) return false;
    const FREE_IMAGE_COLOR_TYPE colour = FreeImage_GetColorType(bitmap);
    if (colour == FIC_PALETTE || colour == FIC_CMYK) return false;
    if (!FreeImage_HasPixels(bitmap)) return false;

    BitmapHolder widened;
    unsigned bpp = FreeImage_GetBPP(bitmap);
    if (type == FIT_BITMAP && bpp == 8 && colour == FIC_MINISWHITE)
    {
        // Grey whose palette runs from white to black (such as a min-is-white TIFF): its raw
        // indices are the negative of the picture. Taken through the palette as grey.
        widened.Reset(FreeImage_ConvertToGreyscale(bitmap));
        if (!widened.Get()) return false;
        bitmap = widened.Get();
    }
    if (type == FIT_BITMAP && bpp == 16)
    {
        // 5-5-5 / 5-6-5 packed colour: no alpha to split off; take it as 8-bit colour.
        widened.Reset(FreeImage_ConvertTo24Bits(bitmap));
        if (!widened.Get()) return false;
        bitmap = widened.Get();
        bpp = 24;
    }
    const bool wideSamples = type != FIT_BITMAP;
    const unsigned samples = wideSamples ? bpp / 16 : bpp / 8;
    if (samples < 1 || samples > 4) return false;
    const unsigned bits = bpp / samples;
    if (bits != 8 && bits != 16) return false;
    if (samples == 2) return false;  // no such layout among the accepted types

    const unsigned width = FreeImage_GetWidth(bitmap);
    const unsigned height = FreeImage_GetHeight(bitmap);
    const unsigned channels = samples < 3 ? samples : 3;
    // The record's size is a 32-bit count: refuse what would not fit instead of wrapping.
    const unsigned long long bytes = 1ull * width * height * channels * (bits / 8);
    if (width == 0 || height == 0 || bytes > 0x7FFFFFFFull) return false;

    ImageBuffer* image = NewRecord();
    if (!image) return false;
    if (CreateImage(image, int32_t(width), int32_t(height), int32_t(channels), int32_t(bits)) != kImageOk ||
        !image->m_pData)
    {
        DeleteImageRecord(image);
        return false;
    }
    ImageBuffer* alpha = nullptr;
    if (samples == 4)
    {
        alpha = NewRecord();
        if (!alpha || CreateImage(alpha, int32_t(width), int32_t(height), 1, int32_t(bits)) != kImageOk ||
            !alpha->m_pData)
        {
            DeleteImageRecord(alpha);
            DeleteImageRecord(image);
            return false;
        }
    }

    BYTE* dst = static_cast<BYTE*>(image->m_pData);
    if (samples == 1 || samples == 3)
    {
        FreeImage_ConvertToRawBits(dst, bitmap, image->m_iStride, bpp, FreeImage_GetRedMask(bitmap),
                                   FreeImage_GetGreenMask(bitmap), FreeImage_GetBlueMask(bitmap), TRUE);
        if (bits == 16 && samples == 3)
        {
            // 48-bit bitmaps hold red, green, blue: the record wants blue, green, red.
            WORD* p = reinterpret_cast<WORD*>(dst);
            for (size_t i = 0, n = size_t(width) * height; i < n; ++i, p += 3)
            {
                WORD r = p[0];
                p[0] = p[2];
                p[2] = r;
            }
        }
    }
    else if (bits == 8)
    {
        // 32-bit bitmaps: colour samples through FreeImage (blue, green, red), alpha by hand.
        FreeImage_ConvertToRawBits(dst, bitmap, image->m_iStride, 24, FreeImage_GetRedMask(bitmap),
                                   FreeImage_GetGreenMask(bitmap), FreeImage_GetBlueMask(bitmap), TRUE);
        for (unsigned y = 0; y < height; ++y)
        {
            const BYTE* line = FreeImage_GetScanLine(bitmap, int(height - 1 - y));
            BYTE* a = static_cast<BYTE*>(alpha->m_pData) + size_t(y) * alpha->m_iStride;
            for (unsigned x = 0; x < width; ++x) a[x] = line[4 * x + FI_RGBA_ALPHA];
        }
    }
    else
    {
        for (unsigned y = 0; y < height; ++y)
        {
            const FIRGBA16* line =
                reinterpret_cast<const FIRGBA16*>(FreeImage_GetScanLine(bitmap, int(height - 1 - y)));
            WORD* d = reinterpret_cast<WORD*>(dst + size_t(y) * image->m_iStride);
            WORD* a = reinterpret_cast<WORD*>(static_cast<BYTE*>(alpha->m_pData) + size_t(y) * alpha->m_iStride);
            for (unsigned x = 0; x < width; ++x)
            {
                d[3 * x + 0] = line[x].blue;
                d[3 * x + 1] = line[x].green;
                d[3 * x + 2] = line[x].red;
                a[x] = line[x].alpha;
            }
        }
    }
    *outImage = image;
    *outAlpha = alpha;
    return true;
}

// The format a file name's extension names, as FreeImage_GetFIFFromFilenameU finds it, but safe
// with plug-ins that declare no extension list: FreeImage's own lookup reads such a list through
// a null pointer as soon as an extension matches no earlier plug-in ("photo.xyz", "notes.txt").
FREE_IMAGE_FORMAT FormatFromName(const wchar_t* path)
{
    if (!path) return FIF_UNKNOWN;
    const wchar_t* dot = std::wcsrchr(path, L'.');
    if (!dot || !dot[1]) return FIF_UNKNOWN;
    std::string extension;
    for (const wchar_t* p = dot + 1; *p; ++p)
    {
        if (*p > 0x7F) return FIF_UNKNOWN;  // extensions of image formats are plain ASCII
        extension += char(*p);
    }
    const int count = FreeImage_GetFIFCount();
    for (int i = 0; i < count; ++i)
    {
        const FREE_IMAGE_FORMAT fif = static_cast<FREE_IMAGE_FORMAT>(i);
        if (FreeImage_IsPluginEnabled(fif) != TRUE) continue;
        const char* format = FreeImage_GetFormatFromFIF(fif);
        if (format && EqualsNoCase(format, extension.c_str())) return fif;
        const char* list = FreeImage_GetFIFExtensionList(fif);
        if (!list) continue;
        std::string token;
        for (const char* p = list;; ++p)
        {
            if (*p == ',' || *p == 0)
            {
                if (EqualsNoCase(token.c_str(), extension.c_str())) return fif;
                token.clear();
                if (*p == 0) break;
            }
            else
            {
                token += *p;
            }
        }
    }
    return FIF_UNKNOWN;
}

// The formats whose loaders may see a file. A loader that a damaged file can make crash, hang,
// corrupt the heap or leak would take the host down (or with it) sooner or later.
// scripts/sweep-loaders.sh runs every reading loader of the build over 1000 truncated and 1000
// altered copies of valid files of its format; these passed it. Refused, under any name, with what
// the sweep found:
//   PSD   crashes (writes out of bounds): 5 of the first 1105 files
//   ICO   crashes: 4 of 2000 files (another sweep: 3 crashes and a corrupted heap)
//   PICT  hangs, on an empty file already
//   IFF   (LBM) hangs on truncated files: 5 of the first 31
//   XBM   hangs on truncated files: 5 of the first 84
//   EXR   hangs on truncated files: 5 of the first 24 (and gives only float pixels)
//   J2K   (JPEG 2000 code streams) hangs: 3 of 2004 files; JP2 files, the same codes in their
//         box format, passed
//   DDS   hangs: 2 of 2000 files
//   RAS   hangs: 1 of 2000 files
//   JNG   leaks: 7 of 2000 files
//   XPM   leaks: 9 of 2004 files
//   MNG   leaked on 1 of 2000 files in one of two sweeps
//   RAW   (camera raw) loads far past the sweep's 10 s limit of processor time: one altered
//         12 KB RW2 took 56 s; an undamaged CR3 takes 12 s. Seeds: real NEF (Nikon), CR3 (Canon),
//         RW2 (Panasonic), two sample DNGs, a Kodak C330 raw and a hand-made DNG, 400 truncated and
//         400 altered copies of each; no crash, heap corruption or leak among them. The CR2, CRW,
//         RAF, MRW, IIQ and X3F samples of Debian's sources hold no picture the loader reads, so
//         those makers' decoders were never swept at all.
// Not readable in this build, so never swept: G3, JPEG-XR.
bool AcceptedFormat(FREE_IMAGE_FORMAT fif)
{
    switch (fif)
    {
    case FIF_BMP:
    case FIF_JPEG:
    case FIF_PNG:
    case FIF_TIFF:
    case FIF_TARGA:
    case FIF_PBM:
    case FIF_PBMRAW:
    case FIF_PGM:
    case FIF_PGMRAW:
    case FIF_PPM:
    case FIF_PPMRAW:
    case FIF_JP2:
    case FIF_WEBP:
    case FIF_GIF:
    case FIF_PCX:
    case FIF_PCD:
    case FIF_SGI:
    case FIF_CUT:
    case FIF_KOALA:
    case FIF_WBMP:
    case FIF_HDR:
    case FIF_PFM:
        return FreeImage_FIFSupportsReading(fif);
    default:
        return false;
    }
}

// The format of a file to be read: by content, else by name; FIF_UNKNOWN when not accepted.
FREE_IMAGE_FORMAT ReadableFormat(const wchar_t* path)
{
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeU(path, 0);
    if (fif == FIF_UNKNOWN) fif = FormatFromName(path);
    return AcceptedFormat(fif) ? fif : FIF_UNKNOWN;
}

// Most writers leave the fourth byte of a 32-bit BMP pixel as padding, all 0 (or all 255): that is
// no alpha, and read as one it would make the whole picture transparent.
bool UniformAlpha(const ImageBuffer* alpha)
{
    const size_t count = size_t(alpha->m_iWidth) * size_t(alpha->m_iHeight);
    if (alpha->m_iBits != 8 || count == 0) return false;
    const BYTE* a = static_cast<const BYTE*>(alpha->m_pData);
    if (a[0] != 0 && a[0] != 255) return false;
    for (size_t i = 1; i < count; ++i)
        if (a[i] != a[0]) return false;
    return true;
}

// A profile describes pixels of one colour space: an RGB profile cannot go with grey data or the
// other way round (PNG refuses to write such a file at all). Other spaces never fit.
bool ProfileFitsImage(const FIICCPROFILE* icc, int channels)
{
    if (icc->size < 20) return false;
    const char* space = static_cast<const char*>(icc->data) + 16;
    return (channels == 3 && std::memcmp(space, "RGB ", 4) == 0) ||
        (channels == 1 && std::memcmp(space, "GRAY", 4) == 0);
}

std::wstring Widen(const char* path)
{
    if (!path || !*path) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::vector<wchar_t> buffer(size_t(n), 0);
    MultiByteToWideChar(CP_ACP, 0, path, -1, buffer.data(), n);
    return std::wstring(buffer.data());
}

}  // namespace

bool IsReadableImageFormat(int format) { return AcceptedFormat(static_cast<FREE_IMAGE_FORMAT>(format)); }

int LoadFlagsForFormat(int format) { return format == FIF_JPEG ? JPEG_ACCURATE : 0; }

int SaveFlagsForFormat(int format) { return format == FIF_JPEG ? 95 : 0; }

void DeleteImageRecord(ImageBuffer* image)
{
    if (!image) return;
    ReleaseImage(image);
    delete image;
}

void FormatExposureTime(wchar_t* dst, uint32_t n, uint32_t d)
{
    dst[0] = 0;
    // 0/0 (or any zero denominator) is no exposure time; reducing it would never end, since 0 is
    // divisible by everything.
    if (d == 0) return;
    bool changed = true;
    while (changed)
    {
        changed = false;
        for (uint32_t f : {2u, 3u, 5u})
        {
            if (n % f == 0 && d % f == 0)
            {
                n /= f;
                d /= f;
                changed = true;
            }
        }
    }
    while (n % 7 == 0 && d % 7 == 0)
    {
        n /= 7;
        d /= 7;
    }
    // 13/1000 stays as it is; 11/1001 (= 1/91) is shown as a fraction of one second. Times of
    // 10 s and more (ratio below 1) keep their numerator.
    if (n > 10)
    {
        const double ratio = double(d) / double(n);
        const double k = double(uint32_t(ratio + 0.5));
        if (k >= 1 && ratio - k < 0.01 && k - ratio < 0.01)
        {
            n = 1;
            d = uint32_t(k);
        }
    }
    if (d == 1)
        FormatSlot(dst, L"%u sec.", unsigned(n));
    else
        FormatSlot(dst, L"%u/%u sec.", unsigned(n), unsigned(d));
}

bool FreeImageToImageBuffer(ImageInfoStrings* info, ImageBuffer** image, ImageBuffer** alpha, FIBITMAP* bitmap)
{
    if (image) *image = nullptr;
    if (alpha) *alpha = nullptr;
    if (!image || !alpha || !bitmap) return true;
    try
    {
        // The strings reach the caller only with the image, so a refused file leaves the
        // document's strings as they were.
        ImageInfoStrings strings;
        ReadInfoStrings(&strings, bitmap);
        if (!ConvertPixels(bitmap, image, alpha)) return true;
        if (info) *info = strings;
        return false;
    }
    catch (...)
    {
        DeleteImageRecord(*image);
        DeleteImageRecord(*alpha);
        *image = *alpha = nullptr;
        return true;
    }
}

bool ReadImageFile(ImageInfoStrings* info, ImageBuffer** image, ImageBuffer** alpha, const wchar_t* path)
{
    if (image) *image = nullptr;
    if (alpha) *alpha = nullptr;
    if (!path || !*path || !image || !alpha) return true;
    try
    {
        FREE_IMAGE_FORMAT fif = ReadableFormat(path);
        if (fif == FIF_UNKNOWN) return true;
        BitmapHolder bitmap(FreeImage_LoadU(fif, path, LoadFlagsForFormat(fif)));
        if (!bitmap.Get()) return true;
        FreeImageToImageBuffer(info, image, alpha, bitmap.Get());
        if (fif == FIF_BMP && *alpha && UniformAlpha(*alpha))
        {
            DeleteImageRecord(*alpha);
            *alpha = nullptr;
        }
        return *image == nullptr;
    }
    catch (...)
    {
        // A codec that gives up by throwing: a failed read, like any other.
        DeleteImageRecord(*image);
        DeleteImageRecord(*alpha);
        *image = *alpha = nullptr;
        return true;
    }
}

FIBITMAP* ImageBufferToFreeImage(const ImageBuffer* image, const ImageBuffer* alpha)
{
    if (!image || !image->m_pData) return nullptr;
    const int width = image->m_iWidth, height = image->m_iHeight, channels = image->m_iChannels;
    const int bits = image->m_iBits;
    if ((channels != 1 && channels != 3) || (bits != 8 && bits != 16) || width <= 0 || height <= 0) return nullptr;
    if (image->m_iStride != width * (bits / 8) * channels || image->m_iSize < image->m_iStride * height) return nullptr;
    // An alpha record of another shape would be read out of bounds: it is left out.
    const bool withAlpha = alpha && alpha->m_pData && channels == 3 && alpha->m_iChannels == 1 &&
        alpha->m_iWidth == width && alpha->m_iHeight == height && alpha->m_iBits == bits &&
        alpha->m_iSize >= alpha->m_iStride * height;

    FREE_IMAGE_TYPE type = FIT_BITMAP;
    int bpp;
    if (channels == 1)
    {
        type = bits == 8 ? FIT_BITMAP : FIT_UINT16;
        bpp = bits;
    }
    else if (!withAlpha)
    {
        type = bits == 8 ? FIT_BITMAP : FIT_RGB16;
        bpp = 3 * bits;
    }
    else
    {
        type = bits == 8 ? FIT_BITMAP : FIT_RGBA16;
        bpp = 4 * bits;
    }
    FIBITMAP* bitmap = FreeImage_AllocateT(type, width, height, bpp, 0, 0, 0);
    if (!bitmap) return nullptr;

    const BYTE* src = static_cast<const BYTE*>(image->m_pData);
    const BYTE* srcAlpha = withAlpha ? static_cast<const BYTE*>(alpha->m_pData) : nullptr;
    for (int y = 0; y < height; ++y)
    {
        BYTE* line = FreeImage_GetScanLine(bitmap, height - 1 - y);
        const BYTE* row = src + size_t(y) * image->m_iStride;
        const BYTE* rowAlpha = withAlpha ? srcAlpha + size_t(y) * alpha->m_iStride : nullptr;
        if (bits == 8 && !withAlpha)
        {
            std::memcpy(line, row, size_t(image->m_iStride));  // grey, or blue-green-red as stored
        }
        else if (bits == 8)
        {
            for (int x = 0; x < width; ++x)
            {
                line[4 * x + 0] = row[3 * x + 0];
                line[4 * x + 1] = row[3 * x + 1];
                line[4 * x + 2] = row[3 * x + 2];
                line[4 * x + 3] = rowAlpha[x];
            }
        }
        else if (channels == 1)
        {
            std::memcpy(line, row, size_t(image->m_iStride));
        }
        else
        {
            // 16-bit colour bitmaps hold red, green, blue [, alpha].
            const WORD* s = reinterpret_cast<const WORD*>(row);
            const WORD* a = reinterpret_cast<const WORD*>(rowAlpha);
            WORD* d = reinterpret_cast<WORD*>(line);
            const int step = withAlpha ? 4 : 3;
            for (int x = 0; x < width; ++x, d += step, s += 3)
            {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                if (withAlpha) d[3] = a[x];
            }
        }
    }
    return bitmap;
}

bool WriteImageFile(const ImageBuffer* image, const ImageBuffer* alpha, const wchar_t* path, int jpegQuality,
                    const wchar_t* metadataSource, int format)
{
    if (!path || !*path) return true;
    BitmapHolder bitmap;
    try
    {
        bitmap.Reset(ImageBufferToFreeImage(image, alpha));
    }
    catch (...)
    {
        return true;
    }
    // Nothing to write is a failure, not a success.
    if (!bitmap.Get()) return true;

    FREE_IMAGE_FORMAT fif =
        format == kImageFormatUnknown ? FormatFromName(path) : static_cast<FREE_IMAGE_FORMAT>(format);
    if (fif < 0 || fif >= FreeImage_GetFIFCount() || !FreeImage_FIFSupportsWriting(fif) || fif == FIF_GIF)
        throw UnsupportedImageFormat(path);

    int flags = SaveFlagsForFormat(fif);
    if (fif == FIF_JPEG && jpegQuality >= 1) flags = jpegQuality > 100 ? 100 : jpegQuality;

    if (metadataSource && *metadataSource)
    {
        const FREE_IMAGE_FORMAT sourceFif = ReadableFormat(metadataSource);
        if (sourceFif == FIF_UNKNOWN || sourceFif == FIF_GIF) throw UnsupportedImageFormat(metadataSource);
        BitmapHolder source;
        try
        {
            // Only its metadata and profile are used: the header is enough where the codec can
            // stop there (a batch saves every photo with its own source as this file).
            source.Reset(FreeImage_LoadU(sourceFif, metadataSource, LoadFlagsForFormat(sourceFif) | FIF_LOAD_NOPIXELS));
        }
        catch (...)
        {
        }
        if (!source.Get()) throw ImageReadError(metadataSource);
        try
        {
            FreeImage_CloneMetadata(bitmap.Get(), source.Get());
            FIICCPROFILE* icc = FreeImage_GetICCProfile(source.Get());
            if (icc && icc->data && icc->size > 0 && ProfileFitsImage(icc, image->m_iChannels))
                FreeImage_CreateICCProfile(bitmap.Get(), icc->data, icc->size);
        }
        catch (...)
        {
            return true;
        }
    }

    // Write beside the target and put the new file in its place only once it is complete:
    // FreeImage empties the target when it opens it, so a codec that gives up midway would
    // otherwise destroy the file the user already had under that name.
    const std::wstring partial = std::wstring(path) + L".hpx-partial";
    BOOL saved = FALSE;
    try
    {
        saved = FreeImage_SaveU(fif, bitmap.Get(), partial.c_str(), flags);
    }
    catch (...)
    {
        saved = FALSE;
    }
    if (saved && !MoveFileExW(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) saved = FALSE;
    if (!saved) DeleteFileW(partial.c_str());
    return !saved;
}

bool WriteImageFile(const ImageBuffer* image, const ImageBuffer* alpha, const char* path, int jpegQuality,
                    const char* metadataSource, int format)
{
    if (!path || !*path) return true;
    const std::wstring widePath = Widen(path);
    if (widePath.empty()) return true;
    const std::wstring wideSource = Widen(metadataSource);
    return WriteImageFile(image, alpha, widePath.c_str(), jpegQuality, wideSource.c_str(), format);
}
