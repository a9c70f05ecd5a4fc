// Image files through FreeImage: the plug-in's whole contact with that library.
//
// Reading turns a file of any format FreeImage reads (told by content, else by name), but for the
// few whose loaders fail on damaged files (see AcceptedFormat in ImageFile.cpp), with 1 or 3 colour
// samples of 8 or 16 bits (plus an optional alpha sample) into ImageBuffer records, colour samples
// blue, green, red, top row first, and fills the image information strings from the file's EXIF
// metadata. Writing turns a record (plus optional alpha) into BMP, JPEG, TIFF, PNG or any other
// format FreeImage can write, and carries the metadata and ICC profile of another file over.
//
// FreeImage is started once per load of the module by a static FreeImageLibrary object.
#pragma once

#include <stdexcept>
#include <string>

#include "engine/ImageBuffer.h"
#include "imagefiles/ImageInfo.h"

struct FIBITMAP;

// Starts FreeImage at module load (external plug-ins not excluded) and ends it at unload. The
// module holds exactly one, in ImageFile.cpp.
class FreeImageLibrary
{
public:
    FreeImageLibrary();
    ~FreeImageLibrary();
    FreeImageLibrary(const FreeImageLibrary&) = delete;
    FreeImageLibrary& operator=(const FreeImageLibrary&) = delete;
};

// Thrown by WriteImageFile only: the target format cannot be written (unknown, not writable, or
// GIF), or the metadata source is of no format that ReadImageFile takes, or GIF. what() is empty;
// Path() names the offending file. Callers inside window, dialog or thread procedures must catch it
// there.
class UnsupportedImageFormat : public std::runtime_error
{
public:
    explicit UnsupportedImageFormat(const std::wstring& path) : std::runtime_error(""), m_wcsPath(path) {}
    const std::wstring& Path() const { return m_wcsPath; }

private:
    std::wstring m_wcsPath;
};

// Thrown by WriteImageFile only: the metadata source could not be loaded.
class ImageReadError : public std::runtime_error
{
public:
    explicit ImageReadError(const std::wstring& path) : std::runtime_error(""), m_wcsPath(path) {}
    const std::wstring& Path() const { return m_wcsPath; }

private:
    std::wstring m_wcsPath;
};

// FreeImage format codes used by value.
enum : int
{
    kImageFormatUnknown = -1,  // take the format from the file name
    kImageFormatBmp = 0,
    kImageFormatJpeg = 2,
    kImageFormatPng = 13,
    kImageFormatTiff = 18,
    kImageFormatGif = 25
};

// Reads an image file (format by content, else by name). On success (false) *image is a new record
// owned by the caller, and *alpha a new 1-channel record of the same size and bits when the file
// has an alpha sample, else null. A 32-bit BMP whose fourth byte is 0 in every pixel, or 255 in
// every pixel, holds padding there, not alpha: *alpha is then null too. The strings are replaced
// by the file's EXIF data. On failure (true) both records are null and the strings are unchanged.
// Throws nothing. Free the records with DeleteImageRecord.
bool ReadImageFile(ImageInfoStrings* info, ImageBuffer** image, ImageBuffer** alpha, const wchar_t* path);

// True when ReadImageFile hands files of this FreeImage format to the format's loader (see
// AcceptedFormat in ImageFile.cpp); false for any other value.
bool IsReadableImageFormat(int format);

// Converts a loaded bitmap; the same contract as ReadImageFile, except that the fourth byte of a
// 32-bit bitmap is always taken as alpha. Taken: standard bitmaps of 8-bit grey, 24-bit colour
// and 32-bit colour, 16-bit grey, 48-bit RGB and 64-bit RGBA (alpha split off). A grey bitmap
// whose palette runs from white to black is read through its palette; 16-bit standard bitmaps
// (5-5-5 / 5-6-5) become 8-bit colour. Refused: other palette images, CMYK, every other image
// type (float, complex, 32-bit integer planes ...) and samples of other than 8 or 16 bits.
bool FreeImageToImageBuffer(ImageInfoStrings* info, ImageBuffer** image, ImageBuffer** alpha, FIBITMAP* bitmap);

// A new bitmap holding the record (1 or 3 channels of 8 or 16 bits) and, for 3 channels, the
// alpha record when it has pixels and the same size and bits; null when impossible.
FIBITMAP* ImageBufferToFreeImage(const ImageBuffer* image, const ImageBuffer* alpha);

// Writes the record (and alpha) to path in `format`, or, for -1, in the format the file name
// names. JPEG quality: 1..100 (values above 100 count as 100), below 1 the default 95. When
// metadataSource is not empty, that file's metadata and ICC profile are copied into the new file
// (as far as the target format keeps them: JPEG keeps all, TIFF the main EXIF tags, PNG the ICC
// profile, BMP nothing).
// Returns false when the file was written, true when nothing could be built or FreeImage failed
// to write it. Throws UnsupportedImageFormat / ImageReadError as described above; nothing else.
bool WriteImageFile(const ImageBuffer* image, const ImageBuffer* alpha, const wchar_t* path, int jpegQuality,
                    const wchar_t* metadataSource, int format);
// The same with paths in the current code page.
bool WriteImageFile(const ImageBuffer* image, const ImageBuffer* alpha, const char* path, int jpegQuality,
                    const char* metadataSource, int format);

// Load flags: JPEG_ACCURATE (2) for JPEG, else 0. Save flags: quality 95 for JPEG, else 0.
int LoadFlagsForFormat(int format);
int SaveFlagsForFormat(int format);

// Releases the pixels of a record made by ReadImageFile and frees the record; null is ignored.
void DeleteImageRecord(ImageBuffer* image);

// The exposure text of the file road from an ExposureTime rational: reduced by the common factors
// 2, 3, 5 and 7; a numerator above 10 whose denominator is within 0.01 of a whole multiple k of it
// becomes 1/k (13/1000 stays, 11/1001 gives 1/91); then "%u sec." for a denominator of 1, else
// "%u/%u sec." (10/1250 -> "1/125 sec."). A zero denominator gives the empty string. dst holds
// ImageInfoStrings::kLength characters.
void FormatExposureTime(wchar_t* dst, uint32_t numerator, uint32_t denominator);
