// EXIF reader: walks the TIFF-layout directories of the host's EXIF block and picks out the few
// values the plug-in shows and chooses profiles by.
#include "imagefiles/ExifReader.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>

namespace
{

// Tags the reader acts on.
enum : uint16_t
{
    kTagMake = 0x010F,
    kTagModel = 0x0110,
    kTagXResolution = 0x011A,
    kTagYResolution = 0x011B,
    kTagDateTime = 0x0132,
    kTagExposureTime = 0x829A,
    kTagFNumber = 0x829D,
    kTagExifIfd = 0x8769,
    kTagGpsIfd = 0x8825,
    kTagIsoSpeedRatings = 0x8827,
    kTagDateTimeOriginal = 0x9003,
    kTagDateTimeDigitized = 0x9004,
    kTagShutterSpeedValue = 0x9201,
    kTagApertureValue = 0x9202,
    kTagMaxApertureValue = 0x9205,
    kTagMakerNote = 0x927C,
    kTagInteropIfd = 0xA005,
    kTagExposureIndex = 0xA215,
    kCanonTagCameraSettings = 0x0001
};

const int kBytesPerFormat[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

const int kMaxNesting = 4;  // deepest directory level walked
const uint32_t kMaxComponents = 65536;
const int kMaxDateFields = 10;
// A block can link a directory to itself many times over (every entry a sub-directory link back
// to the same place). Real blocks hold a handful of directories and a few hundred entries; these
// budgets keep the work of any block linear in its size.
const int kMaxDirectories = 256;
const uint32_t kMaxEntries = 1u << 18;
// A next-directory link this little past the block's end is a known quirk of older writers
// (they cut the block short): it is passed over without a warning.
const uint64_t kNextLinkSlack = 20;

ExifWarningSink g_exifWarningSink = nullptr;

void ExifError(const char* format, ...)
{
    char message[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (g_exifWarningSink)
        g_exifWarningSink(message);
    else
        std::printf("\nNonfatal Error : %s\n", message);
}

uint16_t Read16(const unsigned char* p, bool motorola)
{
    return motorola ? uint16_t((p[0] << 8) | p[1]) : uint16_t(p[0] | (p[1] << 8));
}

uint32_t Read32(const unsigned char* p, bool motorola)
{
    return motorola ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                    : (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

uint64_t Read64(const unsigned char* p, bool motorola)
{
    uint64_t hi = Read32(motorola ? p : p + 4, motorola);
    uint64_t lo = Read32(motorola ? p + 4 : p, motorola);
    return (hi << 32) | lo;
}

// Double to int32, truncated toward zero, saturating instead of overflowing (NaN gives 0).
int32_t SaturateToInt(double v)
{
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

float ToFloat(double v)
{
    const double kMax = std::numeric_limits<float>::max();
    if (v > kMax) return std::numeric_limits<float>::infinity();
    if (v < -kMax) return -std::numeric_limits<float>::infinity();
    return float(v);
}

// Copies at most maxBytes bytes of text (stopping at a NUL) into a zero-filled field.
void CopyText(char* field, size_t fieldSize, const unsigned char* text, uint64_t maxBytes)
{
    std::memset(field, 0, fieldSize);
    size_t n = size_t(maxBytes < fieldSize - 1 ? maxBytes : fieldSize - 1);
    for (size_t i = 0; i < n && text[i] != 0; ++i) field[i] = char(text[i]);
}

bool StartsWithDigit(const char* s) { return s[0] >= '0' && s[0] <= '9'; }

// One parse of one block. All offsets are block offsets held in 64 bits, so that no
// offset + count sum can wrap.
class ExifParser
{
public:
    ExifParser(ExifInfo* info, const unsigned char* block, uint64_t blockLength, bool motorola)
        : m_pInfo(info), m_pBlock(block), m_uBlockLength(blockLength), m_bMotorola(motorola)
    {
    }

    void Parse(uint64_t firstDirectory) { ReadDirectory(firstDirectory, 0); }

private:
    struct Entry
    {
        uint16_t tag;
        uint16_t format;
        uint32_t components;
        uint64_t byteCount;
        uint64_t value;  // block offset of the value
    };

    uint16_t Get16(uint64_t offset) const { return Read16(m_pBlock + offset, m_bMotorola); }
    uint32_t Get32(uint64_t offset) const { return Read32(m_pBlock + offset, m_bMotorola); }

    // The entry's first component as a number; false when it has no component to read.
    bool Number(const Entry& e, double* out) const
    {
        if (e.components == 0) return false;
        *out = ExifValueAsDouble(m_pBlock + e.value, e.format, m_bMotorola);
        return true;
    }

    // Reads the 12-byte entry at offset; false (after a warning) when it is to be skipped.
    // The caller has checked that the entry lies inside the block.
    bool ReadEntry(uint64_t offset, Entry* e, bool makerNote) const
    {
        e->tag = Get16(offset);
        e->format = Get16(offset + 2);
        e->components = Get32(offset + 4);
        if (e->format < 1 || e->format > 12)
        {
            if (makerNote)
                ExifError("Illegal Exif number format %u for maker tag %04x", unsigned(e->format), unsigned(e->tag));
            else
                ExifError("Illegal number format %u for tag %04x in Exif", unsigned(e->format), unsigned(e->tag));
            return false;
        }
        if (e->components > kMaxComponents)
        {
            if (makerNote)
                ExifError("Too many components (%u) for Exif maker tag %04x", unsigned(e->components),
                          unsigned(e->tag));
            else
                ExifError("Too many components %u for tag %04x in Exif", unsigned(e->components), unsigned(e->tag));
            return false;
        }
        e->byteCount = uint64_t(e->components) * uint64_t(kBytesPerFormat[e->format]);
        if (e->byteCount > 4)
        {
            uint64_t valueOffset = Get32(offset + 8);
            if (valueOffset + e->byteCount > m_uBlockLength)
            {
                if (makerNote)
                    ExifError("Illegal value pointer for Exif maker tag %04x", unsigned(e->tag));
                else
                    ExifError("Illegal value pointer for tag %04x in Exif", unsigned(e->tag));
                return false;
            }
            e->value = valueOffset;
        }
        else
        {
            e->value = offset + 8;
        }
        return true;
    }

    bool TakeEntryBudget()
    {
        if (m_uEntriesLeft == 0)
        {
            if (!m_bBudgetWarned) ExifError("Too many Exif directory entries (corrupt Exif header)");
            m_bBudgetWarned = true;
            return false;
        }
        --m_uEntriesLeft;
        return true;
    }

    void ReadDirectory(uint64_t start, int level)
    {
        // Every link followed costs budget, also one that goes too deep.
        if (m_iDirectoriesLeft <= 0)
        {
            if (!m_bBudgetWarned) ExifError("Too many Exif directories (corrupt Exif header)");
            m_bBudgetWarned = true;
            return;
        }
        --m_iDirectoriesLeft;
        if (level > kMaxNesting)
        {
            ExifError("Maximum Exif directory nesting exceeded (corrupt Exif header)");
            return;
        }

        if (start + 2 > m_uBlockLength)
        {
            ExifError("Exif directory outside the block");
            return;
        }
        const uint32_t count = Get16(start);
        const uint64_t end = start + 2 + 12 * uint64_t(count);
        if (end + 4 > m_uBlockLength && end != m_uBlockLength && end + 2 != m_uBlockLength)
        {
            ExifError("Illegally sized Exif subdirectory (%u entries)", unsigned(count));
            return;
        }

        for (uint32_t i = 0; i < count; ++i)
        {
            if (!TakeEntryBudget()) return;
            Entry e;
            if (!ReadEntry(start + 2 + 12 * uint64_t(i), &e, false)) continue;
            ApplyEntry(e, level);
        }

        // The link to the next directory (in IFD0: the thumbnail's IFD1).
        if (end + 4 <= m_uBlockLength)
        {
            const uint64_t next = Get32(end);
            if (next != 0)
            {
                if (next <= m_uBlockLength)
                    ReadDirectory(next, level + 1);
                else if (next >= m_uBlockLength + kNextLinkSlack)
                    ExifError("Illegal subdirectory link in Exif header");
            }
        }
    }

    void ApplyEntry(const Entry& e, int level)
    {
        ExifInfo& info = *m_pInfo;
        const unsigned char* text = m_pBlock + e.value;
        double v = 0;
        switch (e.tag)
        {
        case kTagMake:
            CopyText(info.make, sizeof info.make, text, e.byteCount);
            break;
        case kTagModel:
            CopyText(info.model, sizeof info.model, text, e.byteCount);
            break;
        case kTagDateTimeOriginal:
        case kTagDateTimeDigitized:
        case kTagDateTime:
            // DateTimeOriginal wins; the other two fill in only while no date has been found.
            if (e.tag == kTagDateTimeOriginal || !StartsWithDigit(info.dateTime))
                CopyText(info.dateTime, sizeof info.dateTime, text, e.byteCount < 19 ? e.byteCount : 19);
            if (m_iDateFields >= kMaxDateFields)
                ExifError("More than %d date fields in Exif.  This is nuts", kMaxDateFields);
            else
                ++m_iDateFields;
            break;
        case kTagExposureTime:
            if (Number(e, &v)) info.exposureTime = ToFloat(v);
            break;
        case kTagShutterSpeedValue:
            // APEX time value: t = 2^-v seconds.
            if (info.exposureTime == 0 && Number(e, &v)) info.exposureTime = ToFloat(1.0 / std::exp2(v));
            break;
        case kTagFNumber:
            if (Number(e, &v)) info.fNumber = ToFloat(v);
            break;
        case kTagApertureValue:
        case kTagMaxApertureValue:
            // APEX aperture value: N = 2^(v/2).
            if (info.fNumber == 0 && Number(e, &v)) info.fNumber = ToFloat(std::exp2(v * 0.5));
            break;
        case kTagIsoSpeedRatings:
            if (Number(e, &v))
            {
                int32_t iso = SaturateToInt(v);
                // Some older cameras store the speed divided by 200.
                if (iso < 50) iso = SaturateToInt(double(iso) * 200.0);
                info.isoEquivalent = iso;
            }
            break;
        case kTagExposureIndex:
            if (info.isoEquivalent == 0 && Number(e, &v)) info.isoEquivalent = SaturateToInt(v);
            break;
        case kTagXResolution:
        case kTagYResolution:
            // The thumbnail's directory has resolutions of its own: only the top level counts.
            if (level == 0 && Number(e, &v))
            {
                float& self = e.tag == kTagXResolution ? info.xResolution : info.yResolution;
                float& other = e.tag == kTagXResolution ? info.yResolution : info.xResolution;
                self = ToFloat(v);
                if (other == 0) other = self;
            }
            break;
        case kTagMakerNote:
            if (std::strstr(info.make, "Canon")) ReadCanonMakerNote(e);
            break;
        case kTagExifIfd:
        case kTagInteropIfd:
        {
            // The value holds at least 4 readable bytes: inline in the entry, or a checked
            // out-of-line value of more than 4 bytes.
            const uint64_t link = Get32(e.value);
            if (link > m_uBlockLength)
                ExifError("Illegal Exif or interop ofset directory link");
            else
                ReadDirectory(link, level + 1);
            break;
        }
        case kTagGpsIfd:
            if (uint64_t(Get32(e.value)) > m_uBlockLength) ExifError("Illegal GPS directory link in Exif");
            break;
        default:
            break;
        }
    }

    // Canon's maker note is a bare directory in Intel order whose value offsets count from the
    // block start. Only the ISO code in the camera settings (tag 1) is used.
    void ReadCanonMakerNote(const Entry& note)
    {
        // The note must be opaque bytes holding at least its entry count.
        if ((note.format != kExifUndefined && note.format != kExifByte) || note.byteCount < 2)
        {
            ExifError("Illegal Exif makernote (format %u, %u bytes)", unsigned(note.format), unsigned(note.byteCount));
            return;
        }
        const bool savedOrder = m_bMotorola;
        m_bMotorola = false;
        const uint64_t start = note.value;
        const uint32_t count = Get16(start);
        const uint64_t end = start + 2 + 12 * uint64_t(count);
        if (end > m_uBlockLength || end > start + note.byteCount)
        {
            ExifError("Illegally sized Exif makernote subdir (%u entries)", unsigned(count));
            m_bMotorola = savedOrder;
            return;
        }
        for (uint32_t i = 0; i < count; ++i)
        {
            if (!TakeEntryBudget()) break;
            Entry e;
            if (!ReadEntry(start + 2 + 12 * uint64_t(i), &e, true)) continue;
            // Camera settings: an array of 16-bit values whose 17th is the ISO code.
            if (e.tag == kCanonTagCameraSettings && e.components > 16 &&
                (e.format == kExifShort || e.format == kExifSShort))
            {
                const uint32_t code = Get16(e.value + 16 * 2);
                if (code >= 16 && code <= 24) m_pInfo->isoEquivalent = 50 << (code - 16);
            }
        }
        m_bMotorola = savedOrder;
    }

    ExifInfo* m_pInfo;
    const unsigned char* m_pBlock;
    uint64_t m_uBlockLength;
    bool m_bMotorola;  // block byte order; Intel while a Canon maker note is read
    int m_iDateFields = 0;
    int m_iDirectoriesLeft = kMaxDirectories;
    uint32_t m_uEntriesLeft = kMaxEntries;
    bool m_bBudgetWarned = false;
};

// Widens narrow EXIF text byte by byte (each byte its own character, as the C locale does).
void WidenInto(wchar_t* dst, const char* src, size_t srcSize)
{
    size_t i = 0;
    for (; i < srcSize && i < size_t(ImageInfoStrings::kLength - 1) && src[i] != 0; ++i)
        dst[i] = wchar_t(static_cast<unsigned char>(src[i]));
    dst[i] = 0;
}

void FormatSlot(wchar_t* dst, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(dst, ImageInfoStrings::kLength, format, args);
    va_end(args);
    if (n < 0) dst[0] = 0;
    dst[ImageInfoStrings::kLength - 1] = 0;
}

}  // namespace

int ExifBytesPerFormat(int format) { return format >= 1 && format <= 12 ? kBytesPerFormat[format] : 0; }

ExifWarningSink SetExifWarningSink(ExifWarningSink sink)
{
    ExifWarningSink previous = g_exifWarningSink;
    g_exifWarningSink = sink;
    return previous;
}

double ExifValueAsDouble(const unsigned char* value, int format, bool motorola)
{
    switch (format)
    {
    case kExifByte:
        return value[0];
    case kExifSByte:
        return static_cast<signed char>(value[0]);
    case kExifShort:
        return Read16(value, motorola);
    case kExifSShort:
        return static_cast<int16_t>(Read16(value, motorola));
    case kExifLong:
        return Read32(value, motorola);
    case kExifSLong:
        return static_cast<int32_t>(Read32(value, motorola));
    case kExifRational:
    case kExifSRational:
    {
        const int32_t num = static_cast<int32_t>(Read32(value, motorola));
        const int32_t den = static_cast<int32_t>(Read32(value + 4, motorola));
        return den == 0 ? 0.0 : double(num) / double(den);
    }
    case kExifFloat:
    {
        const uint32_t bits = Read32(value, motorola);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    case kExifDouble:
    {
        const uint64_t bits = Read64(value, motorola);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    default:
        ExifError("Illegal format code %d in Exif header", format);
        return 0;
    }
}

void ReadExifBlock(ExifInfo* info, const unsigned char* buffer, int32_t length)
{
    if (!info || !buffer) return;
    // 8 bytes of room, then the TIFF header: byte order (2), 42 (2), first directory (4).
    if (length < 16)
    {
        ExifError("Exif block too short (%d bytes)", int(length));
        return;
    }
    const unsigned char* block = buffer + 8;
    const uint64_t blockLength = uint64_t(length) - 8;

    bool motorola;
    if (block[0] == 'I' && block[1] == 'I')
        motorola = false;
    else if (block[0] == 'M' && block[1] == 'M')
        motorola = true;
    else
    {
        ExifError("Invalid Exif alignment marker.");
        return;
    }
    if (Read16(block + 2, motorola) != 42)
    {
        ExifError("Invalid Exif start (1)");
        return;
    }
    const int64_t first = Read32(block + 4, motorola);
    if (first < 8 || first > 16)
    {
        if (first < 16 || first > int64_t(length) - 16)
        {
            ExifError("invalid offset for first Exif IFD value");
            return;
        }
        ExifError("Suspicious offset of first Exif IFD value");
    }

    ExifParser parser(info, block, blockLength, motorola);
    parser.Parse(uint64_t(first));
}

void FormatExifInfoStrings(ImageInfoStrings* strings, ExifInfo info)
{
    if (!strings) return;
    strings->Clear();
    WidenInto((*strings)[ImageInfoStrings::kMake], info.make, sizeof info.make);
    WidenInto((*strings)[ImageInfoStrings::kModel], info.model, sizeof info.model);
    WidenInto((*strings)[ImageInfoStrings::kDate], info.dateTime, sizeof info.dateTime);
    FormatSlot((*strings)[ImageInfoStrings::kIso], L"%i", int(info.isoEquivalent));
    FormatSlot((*strings)[ImageInfoStrings::kExposure], L"%.3f s", double(info.exposureTime));
    FormatSlot((*strings)[ImageInfoStrings::kAperture], L"%.2f", double(info.fNumber));
    FormatSlot((*strings)[ImageInfoStrings::kResolution], L"%.0fx%.0f", double(info.xResolution),
               double(info.yResolution));
}
