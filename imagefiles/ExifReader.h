// Reader for the EXIF block the host keeps with the document, and the formatting of what it finds
// into the image information strings.
//
// The host hands the block as a handle; the main window copies it behind 8 bytes of room (the
// place of a JPEG APP1 segment's length and "Exif\0\0" identifier, never examined) and calls
//     ExifInfo info = {};                     // the caller zero-fills the record
//     ReadExifBlock(&info, buffer, size + 8);
//     FormatExifInfoStrings(&strings, info);
// The reader never fails as a whole: a malformed block ends the parse early or skips entries,
// each with a warning on standard output ("\nNonfatal Error : ..."), and keeps what it has
// filled. Every read is bounded by the block, and the walk of linked directories is bounded, so
// no block can crash or hang the host. Portable code (no Windows headers).
#pragma once

#include <cstdint>

#include "imagefiles/ImageInfo.h"

struct ExifInfo
{
    char make[32];          // tag 0x010F, at most 31 characters, NUL-terminated
    char model[40];         // tag 0x0110, at most 39 characters
    char dateTime[20];      // tags 0x9003, then 0x9004 / 0x0132, "YYYY:MM:DD HH:MM:SS"
    float exposureTime;     // seconds: tag 0x829A, else from 0x9201 ShutterSpeedValue
    float fNumber;          // tag 0x829D, else from 0x9202 / 0x9205 (APEX)
    int32_t isoEquivalent;  // tag 0x8827, else 0xA215, or the Canon maker note
    float xResolution;      // tag 0x011A of the top directory
    float yResolution;      // tag 0x011B of the top directory
};

// EXIF value formats (1..12) and their bytes per component.
enum ExifFormat
{
    kExifByte = 1,
    kExifAscii = 2,
    kExifShort = 3,
    kExifLong = 4,
    kExifRational = 5,
    kExifSByte = 6,
    kExifUndefined = 7,
    kExifSShort = 8,
    kExifSLong = 9,
    kExifSRational = 10,
    kExifFloat = 11,
    kExifDouble = 12
};
int ExifBytesPerFormat(int format);  // 0 for a code outside 1..12

// Parses the block: buffer[8 .. length) is TIFF-layout EXIF data (byte-order mark, 42, offset of
// the first directory, directories of 12-byte entries); length counts the 8 leading bytes.
// Offsets inside the block count from buffer + 8. Fills the members it finds; no result.
void ReadExifBlock(ExifInfo* info, const unsigned char* buffer, int32_t length);

// The first component of a value as a number, read in the given byte order: integers as their
// (un)signed value, rationals as signed numerator / signed denominator (0 when the denominator is
// 0), float and double as they are. ASCII and undefined values give 0 and a warning. The caller
// guarantees that ExifBytesPerFormat(format) bytes are readable at value.
double ExifValueAsDouble(const unsigned char* value, int format, bool motorolaOrder);

// Clears the strings, then: aperture "%.2f" of fNumber, exposure "%.3f s", resolution
// "%.0fx%.0f", ISO "%i", make, model and date as they are. Members left at 0 format as zeros.
void FormatExifInfoStrings(ImageInfoStrings* strings, ExifInfo info);

// Where the reader's warnings go. The default (a null sink) prints them to standard output; tests
// and the fuzzer install their own. Returns the previous sink. One parse runs at a time.
typedef void (*ExifWarningSink)(const char* message);
ExifWarningSink SetExifWarningSink(ExifWarningSink sink);
