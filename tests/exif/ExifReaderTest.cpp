// The EXIF reader on real blocks made by exiftool (tests/exif/corpus), on patched copies of them
// and on hand-made blocks for the structural faults. Runs natively, under AddressSanitizer and
// under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "ExifTestSupport.h"

using namespace exiftest;

namespace
{

std::wstring Slot(const ImageInfoStrings& s, int slot) { return s[slot]; }

ImageInfoStrings Format(const ExifInfo& info)
{
    ImageInfoStrings s;
    std::memset(&s, 0x55, sizeof s);  // every slot must be written or cleared
    FormatExifInfoStrings(&s, info);
    return s;
}

void Patch16(Bytes& b, size_t at, uint32_t v)
{
    if (b[0] == 'M')
    {
        b[at] = uint8_t(v >> 8);
        b[at + 1] = uint8_t(v);
    }
    else
    {
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
    }
}

void Patch32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (b[0] == 'M' ? 24 - 8 * i : 8 * i));
}

}  // namespace

TEST(ExifRealBlocks, CanonWithMakerNoteThumbnailAndGps)
{
    Bytes block = CorpusBlock("canon-eos5d2-ii");
    ASSERT_GT(block.size(), 100u);
    WarningLog log;
    ExifInfo info = Parse(block);
    EXPECT_TRUE(log.All().empty()) << log.All().front();
    EXPECT_STREQ(info.make, "Canon");
    EXPECT_STREQ(info.model, "Canon EOS 5D Mark II");
    // The maker note's ISO code 20 replaces ISOSpeedRatings 400.
    EXPECT_EQ(info.isoEquivalent, 800);
    EXPECT_FLOAT_EQ(info.exposureTime, 1.0f / 125);
    EXPECT_FLOAT_EQ(info.fNumber, 5.6f);
    // DateTime of IFD0 is met first; DateTimeOriginal of the Exif directory wins.
    EXPECT_STREQ(info.dateTime, "2019:07:14 10:22:33");
    // The thumbnail directory's 72 dpi do not count.
    EXPECT_EQ(info.xResolution, 300.0f);
    EXPECT_EQ(info.yResolution, 300.0f);

    ImageInfoStrings s = Format(info);
    EXPECT_EQ(Slot(s, ImageInfoStrings::kAperture), L"5.60");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kExposure), L"0.008 s");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kResolution), L"300x300");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kIso), L"800");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kMake), L"Canon");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kModel), L"Canon EOS 5D Mark II");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kDate), L"2019:07:14 10:22:33");
}

TEST(ExifRealBlocks, MotorolaAndIntelOrderGiveTheSameRecord)
{
    ExifInfo intel = Parse(CorpusBlock("nikon-d700-ii"));
    ExifInfo motorola = Parse(CorpusBlock("nikon-d700-mm"));
    EXPECT_EQ(std::memcmp(&intel, &motorola, sizeof intel), 0);
    EXPECT_STREQ(intel.make, "NIKON CORPORATION");
    EXPECT_STREQ(intel.model, "NIKON D700");
    EXPECT_EQ(intel.isoEquivalent, 1600);
    EXPECT_FLOAT_EQ(intel.exposureTime, 1.0f / 60);
    EXPECT_FLOAT_EQ(intel.fNumber, 2.8f);
    EXPECT_EQ(intel.xResolution, 240.0f);

    ExifInfo fuji = Parse(CorpusBlock("fujifilm-xt3-mm"));
    ImageInfoStrings s = Format(fuji);
    EXPECT_EQ(Slot(s, ImageInfoStrings::kExposure), L"2.000 s");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kAperture), L"8.00");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kIso), L"160");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kResolution), L"72x72");
}

TEST(ExifRealBlocks, OtherMakersNotesAreIgnored)
{
    WarningLog log;
    ExifInfo sony = Parse(CorpusBlock("sony-ilce7m3-ii"));
    EXPECT_TRUE(log.All().empty());
    EXPECT_STREQ(sony.make, "SONY");
    EXPECT_EQ(sony.isoEquivalent, 6400);
    EXPECT_FLOAT_EQ(sony.exposureTime, 1.0f / 2000);

    // The same Canon maker note under another make is not read.
    Bytes canon = CorpusBlock("canon-eos5d2-ii");
    size_t make = FindEntry(canon, 0x010F);
    ASSERT_NE(make, 0u);
    size_t text = canon[make + 8] | (canon[make + 9] << 8);  // Intel order
    canon[text] = 'X';                                       // "Xanon"
    EXPECT_EQ(Parse(canon).isoEquivalent, 400);
}

TEST(ExifRealBlocks, IsoSpeedBelow50IsScaledBy200)
{
    EXPECT_EQ(Parse(CorpusBlock("olympus-c2000-mm")).isoEquivalent, 200);    // 1
    EXPECT_EQ(Parse(CorpusBlock("panasonic-long-ii")).isoEquivalent, 9800);  // 49
    EXPECT_EQ(Parse(CorpusBlock("pentax-dates-mm")).isoEquivalent, 50);      // 50

    // ExposureIndex stands in only while no ISO speed was found.
    Bytes sony = CorpusBlock("sony-ilce7m3-ii");
    size_t iso = FindEntry(sony, 0x8827);
    size_t index = FindEntry(sony, 0xA215);
    ASSERT_TRUE(iso && index);
    Patch16(sony, iso, 0x8828);  // no longer ISOSpeedRatings
    EXPECT_EQ(Parse(sony).isoEquivalent, 6400);
    Patch16(sony, iso, 0x8827);
    Patch32(sony, iso + 8, 0);  // ISOSpeedRatings 0 lets ExposureIndex in
    EXPECT_EQ(Parse(sony).isoEquivalent, 6400);
}

TEST(ExifRealBlocks, ApexValuesStandInForExposureAndAperture)
{
    ExifInfo info = Parse(CorpusBlock("kodak-apex-ii"));
    EXPECT_FLOAT_EQ(info.exposureTime, 1.0f / 256);
    EXPECT_NEAR(info.fNumber, 5.656854, 1e-5);  // 2^2.5; MaxApertureValue comes later and is ignored
    ImageInfoStrings s = Format(info);
    EXPECT_EQ(Slot(s, ImageInfoStrings::kExposure), L"0.004 s");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kAperture), L"5.66");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kResolution), L"0x0");  // no resolution tags
    EXPECT_EQ(Slot(s, ImageInfoStrings::kIso), L"0");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kDate), L"");
}

TEST(ExifRealBlocks, DateTimeOriginalWinsAndDigitizedNeverReplacesADate)
{
    // Pentax: DateTime (IFD0) first, then DateTimeOriginal, then DateTimeDigitized.
    Bytes pentax = CorpusBlock("pentax-dates-mm");
    EXPECT_STREQ(Parse(pentax).dateTime, "2012:01:01 01:01:01");

    // Without DateTimeOriginal the first date met (DateTime of IFD0) stays.
    size_t original = FindEntry(pentax, 0x9003);
    ASSERT_NE(original, 0u);
    Patch16(pentax, original, 0x9010);
    EXPECT_STREQ(Parse(pentax).dateTime, "2012:02:02 02:02:02");

    // More than ten date fields: a warning, the date stays.
    TiffBuilder b(false);
    std::vector<TiffBuilder::Entry> entries(12, TiffBuilder::Entry{0x0132, kExifAscii, 20, 200});
    b.Directory(8, entries);
    b.PutBytes(200, "2001:02:03 04:05:06", 20);
    WarningLog log;
    EXPECT_STREQ(Parse(b.bytes()).dateTime, "2001:02:03 04:05:06");
    EXPECT_TRUE(log.Has("More than 10 date fields"));
}

TEST(ExifRealBlocks, LongMakeIsCutAndLoneXResolutionServesBoth)
{
    ExifInfo info = Parse(CorpusBlock("panasonic-long-ii"));
    EXPECT_STREQ(info.make, "Panasonic Corporation of North ");
    EXPECT_EQ(std::strlen(info.make), 31u);
    ImageInfoStrings s = Format(info);
    EXPECT_EQ(Slot(s, ImageInfoStrings::kResolution), L"350x350");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kMake), L"Panasonic Corporation of North ");
}

TEST(ExifCanonMakerNote, IsoCodeRangeFormatAndSize)
{
    Bytes canon = CorpusBlock("canon-eos5d2-ii");
    size_t note = FindEntry(canon, 0x927C);
    size_t settings = FindEntry(canon, 0x0001);
    ASSERT_TRUE(note && settings);
    size_t values = canon[settings + 8] | (canon[settings + 9] << 8);
    size_t code = values + 16 * 2;
    ASSERT_EQ(canon[code], 20);

    for (int c = 16; c <= 24; ++c)
    {
        canon[code] = uint8_t(c);
        EXPECT_EQ(Parse(canon).isoEquivalent, 50 << (c - 16)) << c;
    }
    canon[code] = 15;  // "auto": ISOSpeedRatings stays
    EXPECT_EQ(Parse(canon).isoEquivalent, 400);
    canon[code] = 25;
    EXPECT_EQ(Parse(canon).isoEquivalent, 400);
    canon[code] = 20;

    {  // camera settings that are not 16-bit values are not read
        Bytes b = canon;
        b[settings + 2] = kExifLong;
        b[settings + 4] = 10;  // 10 longs: the same 40 bytes
        EXPECT_EQ(Parse(b).isoEquivalent, 400);
    }
    {  // the note must be opaque bytes
        Bytes b = canon;
        b[note + 2] = kExifAscii;
        WarningLog log;
        EXPECT_EQ(Parse(b).isoEquivalent, 400);
        EXPECT_TRUE(log.Has("makernote"));
    }
    {  // a note whose directory is longer than the note
        Bytes b = canon;
        size_t start = b[note + 8] | (b[note + 9] << 8);
        b[start] = 200;
        WarningLog log;
        EXPECT_EQ(Parse(b).isoEquivalent, 400);
        EXPECT_TRUE(log.Has("Illegally sized Exif makernote subdir (200 entries)"));
    }
    {  // a note of one byte cannot hold its entry count
        Bytes b = canon;
        Patch32(b, note + 4, 1);
        b[note + 8] = b[note + 9] = b[note + 10] = b[note + 11] = 0;
        EXPECT_EQ(Parse(b).isoEquivalent, 400);
    }
}

TEST(ExifStructure, FirstDirectoryOffsetAndHeaderChecks)
{
    {  // offset 20 in a long block: a warning, then parsed
        TiffBuilder b(false, 20);
        b.Directory(20, {{0x8827, kExifShort, 1, 640}});
        b.Put32(60, 0);
        WarningLog log;
        EXPECT_EQ(Parse(b.bytes()).isoEquivalent, 640);
        EXPECT_TRUE(log.Has("Suspicious offset of first Exif IFD value"));
    }
    {  // offset 4 points into the header: nothing parsed
        TiffBuilder b(false, 4);
        b.Directory(8, {{0x8827, kExifShort, 1, 640}});
        WarningLog log;
        EXPECT_EQ(Parse(b.bytes()).isoEquivalent, 0);
        EXPECT_TRUE(log.Has("invalid offset for first Exif IFD value"));
    }
    {  // an offset beyond the block
        TiffBuilder b(true, 0xFFFFFFF0u);
        b.Directory(8, {{0x8827, kExifShort, 1, 640}});
        WarningLog log;
        EXPECT_EQ(Parse(b.bytes()).isoEquivalent, 0);
        EXPECT_TRUE(log.Has("invalid offset"));
    }
    WarningLog log;
    Bytes nikon = CorpusBlock("nikon-d700-ii");
    Bytes bad = nikon;
    bad[0] = 'X';
    EXPECT_EQ(Parse(bad).isoEquivalent, 0);
    EXPECT_TRUE(log.Has("Invalid Exif alignment marker."));
    bad = nikon;
    bad[2] = 43;
    EXPECT_EQ(Parse(bad).isoEquivalent, 0);
    EXPECT_TRUE(log.Has("Invalid Exif start (1)"));

    // Blocks shorter than the header, and no block at all.
    for (size_t n = 0; n < 8; ++n) EXPECT_EQ(Parse(Bytes(nikon.begin(), nikon.begin() + n)).make[0], 0) << n;
    ExifInfo info = {};
    ReadExifBlock(&info, nullptr, 100);
    ReadExifBlock(nullptr, nikon.data(), int32_t(nikon.size()));
    ReadExifBlock(&info, nikon.data(), -5);
    EXPECT_EQ(info.make[0], 0);
}

TEST(ExifStructure, EntryCountsValuePointersAndFormatsAreChecked)
{
    Bytes nikon = CorpusBlock("nikon-d700-ii");
    size_t ifd0 = 8;
    {  // an entry count reaching past the block: the directory is dropped
        Bytes b = nikon;
        Patch16(b, ifd0, 0xFFFF);
        WarningLog log;
        ExifInfo info = Parse(b);
        EXPECT_EQ(info.make[0], 0);
        EXPECT_TRUE(log.Has("Illegally sized Exif subdirectory (65535 entries)"));
    }
    {  // a directory whose count lies past the block's end
        TiffBuilder b(false);
        b.Directory(8, {{0x8769, kExifLong, 1, 27}});  // 27: one byte before the end
        ASSERT_EQ(b.bytes().size(), 26u);
        b.bytes().resize(28);
        WarningLog log;
        Parse(b.bytes());
        EXPECT_FALSE(log.All().empty());
    }
    {  // a value pointer that would wrap in 32 bits
        Bytes b = nikon;
        size_t model = FindEntry(b, 0x0110);
        Patch32(b, model + 8, 0xFFFFFFFFu - 5);
        WarningLog log;
        ExifInfo info = Parse(b);
        EXPECT_EQ(info.model[0], 0);
        EXPECT_STREQ(info.make, "NIKON CORPORATION");
        EXPECT_TRUE(log.Has("Illegal value pointer for tag 0110 in Exif"));
    }
    {  // bad format and too many components: the entry is skipped, the rest is read
        Bytes b = nikon;
        size_t make = FindEntry(b, 0x010F);
        size_t model = FindEntry(b, 0x0110);
        Patch16(b, make + 2, 13);
        Patch32(b, model + 4, 65537);
        WarningLog log;
        ExifInfo info = Parse(b);
        EXPECT_EQ(info.make[0], 0);
        EXPECT_EQ(info.model[0], 0);
        EXPECT_EQ(info.isoEquivalent, 1600);
        EXPECT_TRUE(log.Has("Illegal number format 13 for tag 010f in Exif"));
        EXPECT_TRUE(log.Has("Too many components 65537 for tag 0110 in Exif"));
    }
    {  // numeric tags with no component, or of a text format
        TiffBuilder b(true);
        b.Directory(8, {{0x8827, kExifShort, 0, 0}, {0x829A, kExifAscii, 4, 0x31323334}});
        WarningLog log;
        ExifInfo info = Parse(b.bytes());
        EXPECT_EQ(info.isoEquivalent, 0);
        EXPECT_EQ(info.exposureTime, 0.0f);
        EXPECT_TRUE(log.Has("Illegal format code 2 in Exif header"));
    }
}

TEST(ExifStructure, ShortDatesAndTextAtTheBlockEnd)
{
    // A 4-byte date stored inline in the last entry of the block: only those 4 bytes are copied.
    TiffBuilder b(false);
    size_t end = b.Directory(8, {{0x9003, kExifAscii, 4, 0}});
    b.PutBytes(8 + 2 + 8, "1999", 4);
    b.bytes().resize(end - 4);  // the block ends right behind the entry (no next link)
    ExifInfo info = Parse(b.bytes());
    EXPECT_STREQ(info.dateTime, "1999");

    // A date without terminating NUL longer than 19 characters is cut to 19.
    TiffBuilder c(false);
    c.Directory(8, {{0x9003, kExifAscii, 24, 100}});
    c.PutBytes(100, "2019:07:14 10:22:33XYZW", 24);
    EXPECT_STREQ(Parse(c.bytes()).dateTime, "2019:07:14 10:22:33");
}

TEST(ExifStructure, LinkedDirectoriesAreBoundedInDepthAndWork)
{
    // The next link of IFD0 pointing back at IFD0: walked as further levels, to level 4.
    Bytes nikon = CorpusBlock("nikon-d700-ii");
    size_t count = nikon[8] | (nikon[9] << 8);
    size_t link = 8 + 2 + 12 * count;
    Patch32(nikon, link, 8);
    {
        WarningLog log;
        ExifInfo info = Parse(nikon);
        EXPECT_TRUE(log.Has("Maximum Exif directory nesting exceeded"));
        EXPECT_EQ(info.isoEquivalent, 1600);
        EXPECT_STREQ(info.model, "NIKON D700");
    }
    // A link a few bytes past the end is passed over silently, further out with a warning.
    Patch32(nikon, link, uint32_t(nikon.size() + 5));
    {
        WarningLog log;
        Parse(nikon);
        EXPECT_TRUE(log.All().empty());
    }
    Patch32(nikon, link, uint32_t(nikon.size() + 500));
    {
        WarningLog log;
        Parse(nikon);
        EXPECT_TRUE(log.Has("Illegal subdirectory link in Exif header"));
    }

    // A directory of 3000 entries that all link back to it: the walk stops at its budget instead
    // of taking 3000^4 steps.
    {
        TiffBuilder b(false);
        std::vector<TiffBuilder::Entry> self(3000, TiffBuilder::Entry{0x8769, kExifLong, 1, 8});
        self.front() = {0x010F, kExifAscii, 6, 40000};
        b.Directory(8, self, 8);
        b.PutBytes(40000, "Canon", 6);
        WarningLog log;
        ExifInfo info = Parse(b.bytes());
        EXPECT_STREQ(info.make, "Canon");
        EXPECT_TRUE(log.Has("Too many Exif directories"));
        EXPECT_LT(log.All().size(), 1000u);
    }
    // A Canon maker note of 3000 entries named by 3000 entries: 9 million entry reads, unless the
    // entry budget stops them.
    {
        TiffBuilder b(false);
        const uint32_t note = 40000, noteEntries = 3000, noteBytes = 2 + 12 * noteEntries + 4;
        std::vector<TiffBuilder::Entry> notes(3000, TiffBuilder::Entry{0x927C, kExifUndefined, noteBytes, note});
        notes.front() = {0x010F, kExifAscii, 6, 39000};
        b.Directory(8, notes);
        b.PutBytes(39000, "Canon", 6);
        std::vector<TiffBuilder::Entry> settings(noteEntries, TiffBuilder::Entry{0x0002, kExifShort, 1, 0});
        b.Directory(note, settings);
        WarningLog log;
        ExifInfo info = Parse(b.bytes());
        EXPECT_STREQ(info.make, "Canon");
        EXPECT_TRUE(log.Has("Too many Exif directory entries"));
    }

    // Sub-directory links outside the block.
    TiffBuilder c(true);
    c.Directory(8, {{0x8769, kExifLong, 1, 5000}, {0xA005, kExifLong, 1, 5000}, {0x8825, kExifLong, 1, 5000}});
    WarningLog log;
    Parse(c.bytes());
    EXPECT_TRUE(log.Has("Illegal Exif or interop ofset directory link"));
    EXPECT_TRUE(log.Has("Illegal GPS directory link in Exif"));
}

TEST(ExifStructure, EveryTruncationAndByteFlipOfRealBlocksIsSafe)
{
    // Under AddressSanitizer any read past the buffer fails the test; natively and under Wine
    // the parse must at least come back.
    WarningLog quiet;
    for (const char* name : {"canon-eos5d2-ii", "nikon-d700-mm", "pentax-dates-mm"})
    {
        Bytes block = CorpusBlock(name);
        ASSERT_FALSE(block.empty()) << name;
        for (size_t n = 0; n <= block.size(); ++n) Parse(Bytes(block.begin(), block.begin() + n));
        for (size_t i = 0; i < block.size(); ++i)
        {
            for (unsigned char v : {0x00, 0xFF, 0x80, 0x01})
            {
                Bytes b = block;
                b[i] = v;
                ExifInfo info = Parse(b);
                EXPECT_EQ(info.make[31], 0);
                EXPECT_EQ(info.model[39], 0);
                EXPECT_EQ(info.dateTime[19], 0);
            }
        }
    }
}

TEST(ExifValues, EveryFormatInBothByteOrders)
{
    const unsigned char be[8] = {0xFF, 0xFE, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04};
    const unsigned char le[8] = {0x10, 0x00, 0xFE, 0xFF, 0x04, 0x00, 0x00, 0x00};
    EXPECT_EQ(ExifValueAsDouble(be, kExifByte, true), 255);
    EXPECT_EQ(ExifValueAsDouble(be, kExifSByte, true), -1);
    EXPECT_EQ(ExifValueAsDouble(be, kExifShort, true), 65534);
    EXPECT_EQ(ExifValueAsDouble(be, kExifSShort, true), -2);
    EXPECT_EQ(ExifValueAsDouble(be, kExifLong, true), 4294836240.0);
    EXPECT_EQ(ExifValueAsDouble(le, kExifLong, false), 4294836240.0);
    EXPECT_EQ(ExifValueAsDouble(le, kExifSLong, false), -131056);
    // Rationals (both kinds) as signed / signed.
    EXPECT_EQ(ExifValueAsDouble(be, kExifRational, true), -131056 / 4.0);
    EXPECT_EQ(ExifValueAsDouble(le, kExifSRational, false), -131056 / 4.0);
    const unsigned char zero[8] = {0, 0, 0, 7, 0, 0, 0, 0};
    EXPECT_EQ(ExifValueAsDouble(zero, kExifRational, true), 0);
    // Float and double in the block's byte order.
    const unsigned char f[4] = {0x40, 0x20, 0x00, 0x00};  // 2.5f
    EXPECT_EQ(ExifValueAsDouble(f, kExifFloat, true), 2.5);
    const unsigned char d[8] = {0, 0, 0, 0, 0, 0, 0x04, 0x40};  // 2.5
    EXPECT_EQ(ExifValueAsDouble(d, kExifDouble, false), 2.5);
    WarningLog log;
    EXPECT_EQ(ExifValueAsDouble(be, kExifUndefined, true), 0);
    EXPECT_TRUE(log.Has("Illegal format code 7 in Exif header"));
    EXPECT_EQ(ExifBytesPerFormat(kExifRational), 8);
    EXPECT_EQ(ExifBytesPerFormat(0), 0);
    EXPECT_EQ(ExifBytesPerFormat(13), 0);
}

TEST(ExifValues, ExtremeNumbersSaturateInsteadOfOverflowing)
{
    TiffBuilder b(false);
    b.Directory(8, {{0x8827, kExifSLong, 1, 0x80000000u}, {0x829D, kExifDouble, 1, 100}});
    const double huge = 1e300;
    unsigned char raw[8];
    std::memcpy(raw, &huge, 8);  // the test machines are little-endian, like the block
    b.PutBytes(100, raw, 8);
    ExifInfo info = Parse(b.bytes());
    EXPECT_EQ(info.isoEquivalent, INT32_MIN);  // -2^31 x 200 saturates
    EXPECT_TRUE(info.fNumber > 3e38f);
    ImageInfoStrings s = Format(info);
    EXPECT_LT(std::wcslen(s[ImageInfoStrings::kAperture]), size_t(ImageInfoStrings::kLength));
}

TEST(ExifFormatting, ZeroRecordAndWideningOfNarrowText)
{
    ExifInfo info = {};
    ImageInfoStrings s = Format(info);
    EXPECT_EQ(Slot(s, ImageInfoStrings::kAperture), L"0.00");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kExposure), L"0.000 s");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kResolution), L"0x0");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kIso), L"0");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kMake), L"");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kModel), L"");
    EXPECT_EQ(Slot(s, ImageInfoStrings::kDate), L"");
    EXPECT_FALSE(s.IsEmpty());

    // Fields filled to the last byte without a NUL stay inside their field.
    std::memset(info.make, 'M', sizeof info.make);
    std::memset(info.model, 0xE9, sizeof info.model);  // Latin-1 e acute
    s = Format(info);
    EXPECT_EQ(std::wcslen(s[ImageInfoStrings::kMake]), sizeof info.make);
    EXPECT_EQ(s[ImageInfoStrings::kModel][0], wchar_t(0xE9));
    EXPECT_EQ(std::wcslen(s[ImageInfoStrings::kModel]), sizeof info.model);

    s.Clear();
    EXPECT_TRUE(s.IsEmpty());
    FormatExifInfoStrings(nullptr, info);  // no strings: nothing happens
}
