// Image files through FreeImage: reading files made by ImageMagick and exiftool (see
// make-test-images.sh), writing and reading back BMP, JPEG, TIFF and PNG at 8 and 16 bits with
// metadata and ICC profile carried over, the other formats read, refusal of unsupported images and
// of unsafe loaders' files, and damaged files of every format the plug-in reads.
#include <windows.h>

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ImageBuffer.h"
#include "imagefiles/ImageFile.h"

namespace
{

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A file made by make-test-images.sh (Unix path under Wine's Z: drive).
std::wstring TestImage(const char* name) { return L"Z:" + Widen(HPX_TEST_IMAGES) + L"/" + Widen(name); }

std::vector<unsigned char> ReadBytes(const std::wstring& path)
{
    std::vector<unsigned char> data;
    if (FILE* f = _wfopen(path.c_str(), L"rb"))
    {
        unsigned char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
        fclose(f);
    }
    return data;
}

void WriteBytes(const std::wstring& path, const std::vector<unsigned char>& data)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

long long FileSize(const std::wstring& path) { return (long long)ReadBytes(path).size(); }

// A fresh folder per test, removed with what is in it.
class ImageFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_dir = std::wstring(temp) + L"hpx-imagefile-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            Widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
        CreateDirectoryW(m_dir.c_str(), nullptr);
    }
    void TearDown() override
    {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((m_dir + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE)
        {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW((m_dir + L"\\" + fd.cFileName).c_str());
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryW(m_dir.c_str());
    }
    std::wstring Out(const std::wstring& name) const { return m_dir + L"\\" + name; }
    std::wstring m_dir;
};

// The result of one ReadImageFile call, freed at the end of the scope.
struct Loaded
{
    explicit Loaded(const std::wstring& path)
    {
        std::memset(&info, 0, sizeof info);
        std::wcscpy(info[ImageInfoStrings::kMake], L"unchanged");
        failed = ReadImageFile(&info, &image, &alpha, path.c_str());
    }
    ~Loaded()
    {
        DeleteImageRecord(image);
        DeleteImageRecord(alpha);
    }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    std::wstring Info(int slot) const { return info[slot]; }
    ImageBuffer* image = reinterpret_cast<ImageBuffer*>(1);
    ImageBuffer* alpha = reinterpret_cast<ImageBuffer*>(1);
    ImageInfoStrings info;
    bool failed = false;
};

unsigned Sample(const ImageBuffer* img, int x, int y, int c)
{
    const unsigned char* row = static_cast<const unsigned char*>(img->m_pData) + size_t(y) * img->m_iStride;
    if (img->m_iBits == 8) return row[x * img->m_iChannels + c];
    return reinterpret_cast<const uint16_t*>(row)[x * img->m_iChannels + c];
}

// A record filled by f(x, y, c).
struct Record
{
    Record(int w, int h, int channels, int bits, const std::function<unsigned(int, int, int)>& f)
    {
        InitImage(&img);
        EXPECT_EQ(CreateImage(&img, w, h, channels, bits), kImageOk);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < channels; ++c)
                {
                    unsigned char* row = static_cast<unsigned char*>(img.m_pData) + size_t(y) * img.m_iStride;
                    if (bits == 8)
                        row[x * channels + c] = (unsigned char)f(x, y, c);
                    else
                        reinterpret_cast<uint16_t*>(row)[x * channels + c] = (uint16_t)f(x, y, c);
                }
    }
    ~Record() { ReleaseImage(&img); }
    ImageBuffer img;
};

bool SamePixels(const ImageBuffer* a, const ImageBuffer* b, unsigned tolerance = 0)
{
    if (!a || !b || a->m_iWidth != b->m_iWidth || a->m_iHeight != b->m_iHeight || a->m_iChannels != b->m_iChannels ||
        a->m_iBits != b->m_iBits)
        return false;
    for (int y = 0; y < a->m_iHeight; ++y)
        for (int x = 0; x < a->m_iWidth; ++x)
            for (int c = 0; c < a->m_iChannels; ++c)
            {
                unsigned p = Sample(a, x, y, c), q = Sample(b, x, y, c);
                if ((p > q ? p - q : q - p) > tolerance) return false;
            }
    return true;
}

// The profile of a PNG's iCCP chunk (FreeImage 3.18 writes it but does not read it back).
std::string PngIcc(const std::vector<unsigned char>& png)
{
    size_t at = 8;
    while (at + 12 <= png.size())
    {
        const size_t n = (size_t(png[at]) << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
        if (at + 12 + n > png.size()) break;
        if (std::memcmp(&png[at + 4], "iCCP", 4) == 0)
        {
            const unsigned char* data = &png[at + 8];
            size_t name = 0;
            while (name < n && data[name] != 0) ++name;
            if (name + 2 > n) return "bad iCCP";
            std::vector<unsigned char> profile(1 << 16);
            uLongf size = uLongf(profile.size());
            if (uncompress(profile.data(), &size, data + name + 2, uLong(n - name - 2)) != Z_OK) return "bad zlib";
            return std::string(profile.begin(), profile.begin() + size);
        }
        at += 12 + n;
    }
    return "";
}

// The ICC profile bytes of a written file.
std::string IccOf(const std::wstring& path)
{
    std::vector<unsigned char> bytes = ReadBytes(path);
    if (bytes.size() > 8 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G') return PngIcc(bytes);
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeU(path.c_str(), 0);
    FIBITMAP* dib = FreeImage_LoadU(fif, path.c_str(), 0);
    if (!dib) return "no bitmap";
    FIICCPROFILE* icc = FreeImage_GetICCProfile(dib);
    std::string profile = icc && icc->data ? std::string(static_cast<const char*>(icc->data), size_t(icc->size)) : "";
    FreeImage_Unload(dib);
    return profile;
}

std::string FileIcc(const char* name)
{
    std::vector<unsigned char> b = ReadBytes(TestImage(name));
    return std::string(b.begin(), b.end());
}

// The colour test pattern: distinct values per channel, row and column.
unsigned Pattern8(int x, int y, int c) { return (unsigned)(x * 37 + y * 11 + c * 80) & 0xFF; }
unsigned Pattern16(int x, int y, int c) { return (unsigned)(x * 4099 + y * 1031 + c * 20000) & 0xFFFF; }

}  // namespace

TEST_F(ImageFileTest, ReadsColourJpegWithExifStringsTopRowFirstInBlueGreenRed)
{
    Loaded f(TestImage("exif-icc.jpg"));
    ASSERT_FALSE(f.failed);
    ASSERT_NE(f.image, nullptr);
    EXPECT_EQ(f.alpha, nullptr);
    EXPECT_EQ(f.image->m_iWidth, 24);
    EXPECT_EQ(f.image->m_iHeight, 16);
    EXPECT_EQ(f.image->m_iChannels, 3);
    EXPECT_EQ(f.image->m_iBits, 8);
    EXPECT_EQ(f.image->m_iStride, 72);
    // Gradient from red (top) to blue (bottom); channel 2 is red.
    EXPECT_GT(Sample(f.image, 5, 0, 2), 200u);
    EXPECT_LT(Sample(f.image, 5, 0, 0), 50u);
    EXPECT_GT(Sample(f.image, 5, 15, 0), 200u);
    EXPECT_LT(Sample(f.image, 5, 15, 2), 50u);

    EXPECT_EQ(f.Info(ImageInfoStrings::kAperture), L"2.80");
    EXPECT_EQ(f.Info(ImageInfoStrings::kExposure), L"1/125 sec.");  // stored as 10/1250
    EXPECT_EQ(f.Info(ImageInfoStrings::kResolution), L"24x16");
    EXPECT_EQ(f.Info(ImageInfoStrings::kIso), L"400");
    EXPECT_EQ(f.Info(ImageInfoStrings::kMake), L"Canon");
    EXPECT_EQ(f.Info(ImageInfoStrings::kModel), L"Canon EOS 7D");
    EXPECT_EQ(f.Info(ImageInfoStrings::kDate), L"2021:05:06 07:08:09");
}

TEST_F(ImageFileTest, ReadsGreyJpegAndFilesWithoutExif)
{
    Loaded grey(TestImage("grey-exif.jpg"));
    ASSERT_FALSE(grey.failed);
    EXPECT_EQ(grey.image->m_iChannels, 1);
    EXPECT_EQ(grey.image->m_iBits, 8);
    EXPECT_GT(Sample(grey.image, 3, 0, 0), 240u);  // white at the top
    EXPECT_LT(Sample(grey.image, 3, 9, 0), 15u);
    EXPECT_EQ(grey.Info(ImageInfoStrings::kExposure), L"2 sec.");
    EXPECT_EQ(grey.Info(ImageInfoStrings::kAperture), L"11.00");
    EXPECT_EQ(grey.Info(ImageInfoStrings::kIso), L"12800");
    EXPECT_EQ(grey.Info(ImageInfoStrings::kResolution), L"");  // no pixel dimensions stored
    EXPECT_EQ(grey.Info(ImageInfoStrings::kMake), L"NIKON");

    // No EXIF at all: seven empty strings.
    Loaded png(TestImage("grey8.png"));
    ASSERT_FALSE(png.failed);
    EXPECT_TRUE(png.info.IsEmpty());
    EXPECT_EQ(Sample(png.image, 4, 2, 0), 0x56u);
}

TEST_F(ImageFileTest, BrokenExposureAndApertureRationalsGiveEmptyStrings)
{
    // ExposureTime 0/0 once made the reduction loop forever; FNumber 28/0 divided by zero.
    Loaded f(TestImage("exposure-zero.jpg"));
    ASSERT_FALSE(f.failed);
    EXPECT_EQ(f.Info(ImageInfoStrings::kExposure), L"");
    EXPECT_EQ(f.Info(ImageInfoStrings::kAperture), L"");
    EXPECT_EQ(f.Info(ImageInfoStrings::kIso), L"400");
}

TEST(ImageFileExposure, ReductionAndFormatting)
{
    struct Case
    {
        uint32_t n, d;
        const wchar_t* text;
    } cases[] = {
        {10, 1250, L"1/125 sec."},
        {2, 1, L"2 sec."},
        {13, 1000, L"13/1000 sec."},
        {11, 1001, L"1/91 sec."},
        {1, 8000, L"1/8000 sec."},
        {30, 1, L"30 sec."},
        {7, 49, L"1/7 sec."},
        {300, 1, L"300 sec."},
        {0, 0, L""},
        {5, 0, L""},
        {0, 7, L"0 sec."},
        {0, 11, L"0/11 sec."},
        {4294967295u, 4294967295u, L"1 sec."},
        {4294967291u, 3, L"4294967291/3 sec."},
    };
    for (const Case& c : cases)
    {
        wchar_t text[ImageInfoStrings::kLength];
        FormatExposureTime(text, c.n, c.d);
        EXPECT_EQ(std::wstring(text), c.text) << c.n << "/" << c.d;
    }
}

TEST_F(ImageFileTest, ReadsSixteenBitColourAsBlueGreenRedAndSplitsAlpha)
{
    for (const char* name : {"rgb16.png", "rgb16.tif"})
    {
        Loaded f(TestImage(name));
        ASSERT_FALSE(f.failed) << name;
        EXPECT_EQ(f.image->m_iBits, 16) << name;
        EXPECT_EQ(f.image->m_iChannels, 3) << name;
        EXPECT_EQ(f.alpha, nullptr) << name;
        EXPECT_EQ(Sample(f.image, 2, 1, 0), 0x8000u) << name;  // blue
        EXPECT_EQ(Sample(f.image, 2, 1, 1), 0u) << name;
        EXPECT_EQ(Sample(f.image, 2, 1, 2), 0xFFFFu) << name;  // red
    }
    Loaded rgba16(TestImage("rgba16.png"));
    ASSERT_FALSE(rgba16.failed);
    ASSERT_NE(rgba16.alpha, nullptr);
    EXPECT_EQ(rgba16.image->m_iChannels, 3);
    EXPECT_EQ(Sample(rgba16.image, 1, 1, 0), 0x8000u);
    EXPECT_EQ(Sample(rgba16.image, 1, 1, 2), 0xFFFFu);
    EXPECT_EQ(rgba16.alpha->m_iChannels, 1);
    EXPECT_EQ(rgba16.alpha->m_iBits, 16);
    EXPECT_EQ(Sample(rgba16.alpha, 1, 1, 0), 0x4000u);

    Loaded rgba8(TestImage("rgba8.png"));
    ASSERT_FALSE(rgba8.failed);
    ASSERT_NE(rgba8.alpha, nullptr);
    EXPECT_EQ(rgba8.image->m_iChannels, 3);
    EXPECT_EQ(rgba8.image->m_iBits, 8);
    EXPECT_EQ(Sample(rgba8.image, 2, 0, 0), 0x80u);
    EXPECT_EQ(Sample(rgba8.image, 2, 0, 1), 0x00u);
    EXPECT_EQ(Sample(rgba8.image, 2, 0, 2), 0xFFu);
    EXPECT_EQ(rgba8.alpha->m_iBits, 8);
    EXPECT_EQ(Sample(rgba8.alpha, 2, 1, 0), 0x40u);

    Loaded grey16(TestImage("grey16.png"));
    ASSERT_FALSE(grey16.failed);
    EXPECT_EQ(grey16.image->m_iChannels, 1);
    EXPECT_EQ(grey16.image->m_iBits, 16);
    EXPECT_EQ(Sample(grey16.image, 4, 2, 0), 0x1234u);

    Loaded bmp(TestImage("rgb24.bmp"));
    ASSERT_FALSE(bmp.failed);
    EXPECT_EQ(bmp.image->m_iChannels, 3);
    EXPECT_GT(Sample(bmp.image, 2, 0, 1), 200u);  // lime at the top
    EXPECT_GT(Sample(bmp.image, 2, 2, 0), 80u);   // navy at the bottom

    // 16-bit 5-6-5 colour (as BMP files hold it): 8-bit colour.
    FIBITMAP* packed = FreeImage_Allocate(4, 2, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK);
    ASSERT_NE(packed, nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) reinterpret_cast<WORD*>(FreeImage_GetScanLine(packed, y))[x] = 0xF800;  // red
    ImageBuffer* image = nullptr;
    ImageBuffer* alpha = nullptr;
    ImageInfoStrings info;
    ASSERT_FALSE(FreeImageToImageBuffer(&info, &image, &alpha, packed));
    FreeImage_Unload(packed);
    EXPECT_EQ(image->m_iChannels, 3);
    EXPECT_EQ(image->m_iBits, 8);
    EXPECT_EQ(alpha, nullptr);
    EXPECT_EQ(Sample(image, 3, 1, 2), 255u);
    EXPECT_EQ(Sample(image, 3, 1, 0), 0u);
    DeleteImageRecord(image);
}

TEST_F(ImageFileTest, RefusesPaletteOneBitFloatAndCmykImagesLeavingStringsAlone)
{
    for (const char* name : {"palette.png", "palette.gif", "mono.bmp", "float-rgb.pfm", "float-grey.pfm"})
    {
        Loaded f(TestImage(name));
        EXPECT_TRUE(f.failed) << name;
        EXPECT_EQ(f.image, nullptr) << name;
        EXPECT_EQ(f.alpha, nullptr) << name;
        EXPECT_EQ(f.Info(ImageInfoStrings::kMake), L"unchanged") << name;
    }

    // Bitmaps FreeImage can hold but the conversion cannot: CMYK and non-image types.
    FIBITMAP* cmyk = FreeImage_Allocate(4, 4, 32);
    ASSERT_NE(cmyk, nullptr);
    unsigned char profile[4] = {1, 2, 3, 4};
    FreeImage_CreateICCProfile(cmyk, profile, sizeof profile)->flags |= FIICC_COLOR_IS_CMYK;
    ASSERT_EQ(FreeImage_GetColorType(cmyk), FIC_CMYK);
    ImageBuffer* image = nullptr;
    ImageBuffer* alpha = nullptr;
    ImageInfoStrings info;
    EXPECT_TRUE(FreeImageToImageBuffer(&info, &image, &alpha, cmyk));
    EXPECT_EQ(image, nullptr);
    FreeImage_Unload(cmyk);
    for (FREE_IMAGE_TYPE type : {FIT_FLOAT, FIT_RGBF, FIT_RGBAF, FIT_UINT32, FIT_INT16, FIT_DOUBLE, FIT_COMPLEX})
    {
        FIBITMAP* dib = FreeImage_AllocateT(type, 4, 4);
        ASSERT_NE(dib, nullptr) << type;
        EXPECT_TRUE(FreeImageToImageBuffer(&info, &image, &alpha, dib)) << type;
        EXPECT_EQ(image, nullptr) << type;
        FreeImage_Unload(dib);
    }
    for (int bpp : {1, 4})
    {
        FIBITMAP* dib = FreeImage_Allocate(4, 4, bpp);
        EXPECT_TRUE(FreeImageToImageBuffer(&info, &image, &alpha, dib)) << bpp;
        FreeImage_Unload(dib);
    }
    EXPECT_TRUE(FreeImageToImageBuffer(&info, &image, &alpha, nullptr));
}

TEST_F(ImageFileTest, GreyWithAWhiteToBlackPaletteIsReadAsItLooks)
{
    // An 8-bit grey bitmap whose palette runs from white (index 0) to black (index 255).
    FIBITMAP* dib = FreeImage_Allocate(2, 1, 8);
    ASSERT_NE(dib, nullptr);
    RGBQUAD* palette = FreeImage_GetPalette(dib);
    for (int i = 0; i < 256; ++i)
        palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(255 - i);
    ASSERT_EQ(FreeImage_GetColorType(dib), FIC_MINISWHITE);
    BYTE* line = FreeImage_GetScanLine(dib, 0);
    line[0] = 0;    // white
    line[1] = 200;  // dark grey (55)
    ImageBuffer* image = nullptr;
    ImageBuffer* alpha = nullptr;
    ImageInfoStrings info;
    ASSERT_FALSE(FreeImageToImageBuffer(&info, &image, &alpha, dib));
    FreeImage_Unload(dib);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->m_iChannels, 1);
    EXPECT_EQ(image->m_iBits, 8);
    const BYTE* px = static_cast<const BYTE*>(image->m_pData);
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], 55);
    EXPECT_EQ(alpha, nullptr);
    DeleteImageRecord(image);
}

TEST_F(ImageFileTest, CorruptAndTruncatedFilesFailCleanly)
{
    // Files that cannot be images at all: a clear failure.
    std::vector<std::pair<std::wstring, std::vector<unsigned char>>> hopeless = {
        {L"empty.jpg", {}},
        {L"text.png", std::vector<unsigned char>(300, 'x')},
        {L"header-only.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}},
        {L"header-only.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F'}},
        {L"header-only.tif", {'I', 'I', 42, 0, 8, 0, 0, 0}},
        {L"header-only.bmp", {'B', 'M', 0x46, 0, 0, 0}},
        // Names whose extension no format claims (FreeImage's own name lookup crashes on them).
        {L"notes.txt", std::vector<unsigned char>(50, 'n')},
        {L"photo.xyz", std::vector<unsigned char>(50, 0)},
        {L"no-extension", std::vector<unsigned char>(50, 0)},
    };
    for (auto& file : hopeless)
    {
        WriteBytes(Out(file.first), file.second);
        Loaded f(Out(file.first));
        EXPECT_TRUE(f.failed) << file.first;
        EXPECT_EQ(f.image, nullptr);
    }
    Loaded missing(Out(L"not-there.jpg"));
    EXPECT_TRUE(missing.failed);
    ImageBuffer* image = nullptr;
    ImageBuffer* alpha = nullptr;
    EXPECT_TRUE(ReadImageFile(nullptr, &image, &alpha, nullptr));
    EXPECT_TRUE(ReadImageFile(nullptr, &image, &alpha, L""));

    // Real files cut short or damaged anywhere: each read either fails or gives a whole image of
    // the right shape, and never crashes.
    for (const char* name : {"exif-icc.jpg", "rgb16.png", "rgb16.tif", "rgb24.bmp", "rgba8.png", "grey16.png"})
    {
        std::vector<unsigned char> bytes = ReadBytes(TestImage(name));
        ASSERT_FALSE(bytes.empty()) << name;
        std::vector<std::vector<unsigned char>> variants;
        for (size_t cut : {size_t(1), size_t(12), bytes.size() / 3, bytes.size() / 2, bytes.size() - 1})
            variants.emplace_back(bytes.begin(), bytes.begin() + cut);
        for (size_t at = 8; at < bytes.size(); at += bytes.size() / 7 + 1)
        {
            std::vector<unsigned char> damaged = bytes;
            for (size_t i = at; i < at + 16 && i < damaged.size(); ++i) damaged[i] ^= 0xA5;
            variants.push_back(damaged);
        }
        std::string ext = std::strrchr(name, '.');
        for (size_t i = 0; i < variants.size(); ++i)
        {
            std::wstring path = Out(L"variant" + std::to_wstring(i) + Widen(ext));
            WriteBytes(path, variants[i]);
            Loaded f(path);
            if (!f.failed)
            {
                ASSERT_NE(f.image, nullptr);
                EXPECT_NE(f.image->m_pData, nullptr);
                EXPECT_EQ(f.image->m_iSize, f.image->m_iStride * f.image->m_iHeight);
            }
            else
            {
                EXPECT_EQ(f.image, nullptr);
            }
        }
    }
}

TEST_F(ImageFileTest, EightBitRoundTripsThroughEveryFormat)
{
    Record colour(7, 5, 3, 8, Pattern8);
    Record grey(6, 4, 1, 8, Pattern8);
    for (const wchar_t* ext : {L".bmp", L".png", L".tif"})
    {
        for (Record* r : {&colour, &grey})
        {
            std::wstring path = Out(std::wstring(L"out") + std::to_wstring(r->img.m_iChannels) + ext);
            ASSERT_FALSE(WriteImageFile(&r->img, nullptr, path.c_str(), 0, L"", kImageFormatUnknown)) << path;
            Loaded f(path);
            ASSERT_FALSE(f.failed) << path;
            EXPECT_TRUE(SamePixels(&r->img, f.image)) << path;
            EXPECT_EQ(f.alpha, nullptr);
        }
    }
    // JPEG is lossy: a smooth image comes back close at quality 100.
    Record smooth(16, 16, 3, 8, [](int x, int y, int c) { return unsigned(60 + 4 * x + 3 * y + 20 * c); });
    std::wstring jpg = Out(L"smooth.jpg");
    ASSERT_FALSE(WriteImageFile(&smooth.img, nullptr, jpg.c_str(), 100, L"", kImageFormatUnknown));
    Loaded f(jpg);
    ASSERT_FALSE(f.failed);
    EXPECT_TRUE(SamePixels(&smooth.img, f.image, 6));
    // The format code wins over the name.
    std::wstring named = Out(L"really-a-png.jpg");
    ASSERT_FALSE(WriteImageFile(&colour.img, nullptr, named.c_str(), 0, L"", kImageFormatPng));
    EXPECT_EQ(FreeImage_GetFileTypeU(named.c_str(), 0), FIF_PNG);
}

TEST_F(ImageFileTest, SixteenBitAndAlphaRoundTrips)
{
    Record colour(5, 3, 3, 16, Pattern16);
    Record grey(4, 6, 1, 16, Pattern16);
    for (const wchar_t* ext : {L".png", L".tif"})
    {
        for (Record* r : {&colour, &grey})
        {
            std::wstring path = Out(std::wstring(L"out16-") + std::to_wstring(r->img.m_iChannels) + ext);
            ASSERT_FALSE(WriteImageFile(&r->img, nullptr, path.c_str(), 0, L"", kImageFormatUnknown)) << path;
            Loaded f(path);
            ASSERT_FALSE(f.failed) << path;
            EXPECT_TRUE(SamePixels(&r->img, f.image)) << path;
        }
    }
    // A file from another writer comes back unchanged after our write: the channel order of
    // writing matches that of reading.
    Loaded original(TestImage("rgb16.png"));
    std::wstring again = Out(L"again.png");
    ASSERT_FALSE(WriteImageFile(original.image, nullptr, again.c_str(), 0, L"", kImageFormatUnknown));
    Loaded reread(again);
    EXPECT_TRUE(SamePixels(original.image, reread.image));

    // Colour plus alpha: a 32-bit or 64-bit bitmap, and the alpha comes back.
    Record alpha8(5, 3, 1, 8, [](int x, int y, int) { return unsigned(x * 50 + y); });
    Record colour8(5, 3, 3, 8, Pattern8);
    FIBITMAP* dib = ImageBufferToFreeImage(&colour8.img, &alpha8.img);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(FreeImage_GetBPP(dib), 32u);
    FreeImage_Unload(dib);
    Record alpha16(5, 3, 1, 16, [](int x, int y, int) { return unsigned(x * 5000 + y); });
    dib = ImageBufferToFreeImage(&colour.img, &alpha16.img);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(FreeImage_GetImageType(dib), FIT_RGBA16);
    FreeImage_Unload(dib);

    std::wstring png8 = Out(L"alpha8.png"), png16 = Out(L"alpha16.png");
    ASSERT_FALSE(WriteImageFile(&colour8.img, &alpha8.img, png8.c_str(), 0, L"", kImageFormatUnknown));
    ASSERT_FALSE(WriteImageFile(&colour.img, &alpha16.img, png16.c_str(), 0, L"", kImageFormatUnknown));
    Loaded a8(png8), a16(png16);
    ASSERT_FALSE(a8.failed);
    ASSERT_FALSE(a16.failed);
    EXPECT_TRUE(SamePixels(&colour8.img, a8.image));
    EXPECT_TRUE(SamePixels(&alpha8.img, a8.alpha));
    EXPECT_TRUE(SamePixels(&colour.img, a16.image));
    EXPECT_TRUE(SamePixels(&alpha16.img, a16.alpha));

    // An alpha record of another size is left out rather than read out of bounds.
    Record small(2, 2, 1, 8, [](int, int, int) { return 7u; });
    dib = ImageBufferToFreeImage(&colour8.img, &small.img);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(FreeImage_GetBPP(dib), 24u);
    FreeImage_Unload(dib);
}

TEST_F(ImageFileTest, MetadataAndIccProfileAreCarriedOver)
{
    const std::wstring source = TestImage("exif-icc.jpg");
    const std::string rgbIcc = FileIcc("rgb.icc");
    ASSERT_EQ(IccOf(source), rgbIcc);
    Loaded original(source);
    ASSERT_FALSE(original.failed);

    // JPEG keeps everything: the information strings read back as from the source.
    std::wstring jpg = Out(L"meta.jpg");
    ASSERT_FALSE(WriteImageFile(original.image, nullptr, jpg.c_str(), 90, source.c_str(), kImageFormatUnknown));
    Loaded j(jpg);
    ASSERT_FALSE(j.failed);
    for (int slot = 0; slot < ImageInfoStrings::kCount; ++slot) EXPECT_EQ(j.Info(slot), original.Info(slot)) << slot;
    EXPECT_EQ(IccOf(jpg), rgbIcc);

    // TIFF and PNG keep the profile, BMP nothing.
    std::wstring tif = Out(L"meta.tif"), png = Out(L"meta.png"), bmp = Out(L"meta.bmp");
    ASSERT_FALSE(WriteImageFile(original.image, nullptr, tif.c_str(), 0, source.c_str(), kImageFormatUnknown));
    ASSERT_FALSE(WriteImageFile(original.image, nullptr, png.c_str(), 0, source.c_str(), kImageFormatUnknown));
    ASSERT_FALSE(WriteImageFile(original.image, nullptr, bmp.c_str(), 0, source.c_str(), kImageFormatUnknown));
    Loaded t(tif);
    EXPECT_TRUE(SamePixels(original.image, t.image));
    EXPECT_EQ(IccOf(tif), rgbIcc);
    EXPECT_EQ(IccOf(png), rgbIcc);
    Loaded b(bmp);
    EXPECT_FALSE(b.failed);
    EXPECT_TRUE(SamePixels(original.image, b.image));

    // 16 bits: TIFF and PNG with the profile of the source.
    Loaded deep(TestImage("rgb16.tif"));
    ASSERT_FALSE(deep.failed);
    for (const wchar_t* name : {L"meta16.tif", L"meta16.png"})
    {
        std::wstring path = Out(name);
        ASSERT_FALSE(WriteImageFile(deep.image, nullptr, path.c_str(), 0, source.c_str(), kImageFormatUnknown));
        EXPECT_EQ(IccOf(path), rgbIcc);
        Loaded r(path);
        EXPECT_TRUE(SamePixels(deep.image, r.image));
    }

    // Grey data with the grey profile of a grey source.
    Loaded grey(TestImage("grey-exif.jpg"));
    std::wstring greyPng = Out(L"grey-meta.png");
    ASSERT_FALSE(WriteImageFile(grey.image, nullptr, greyPng.c_str(), 0, TestImage("grey-exif.jpg").c_str(),
                                kImageFormatUnknown));
    EXPECT_EQ(IccOf(greyPng), FileIcc("grey.icc"));

    // A profile of the other colour space does not describe the pixels: it is left out, and the
    // file is written (PNG would refuse the pair and leave an empty file).
    for (const wchar_t* name : {L"grey-rgbprofile.png", L"grey-rgbprofile.jpg"})
    {
        std::wstring path = Out(name);
        ASSERT_FALSE(WriteImageFile(grey.image, nullptr, path.c_str(), 0, source.c_str(), kImageFormatUnknown)) << name;
        EXPECT_EQ(IccOf(path), "") << name;
        Loaded r(path);
        EXPECT_FALSE(r.failed) << name;
    }
    std::wstring colourPng = Out(L"colour-greyprofile.png");
    ASSERT_FALSE(WriteImageFile(original.image, nullptr, colourPng.c_str(), 0, TestImage("grey-exif.jpg").c_str(),
                                kImageFormatUnknown));
    EXPECT_EQ(IccOf(colourPng), "");
}

TEST_F(ImageFileTest, JpegQualityDefaultsTo95)
{
    Record noisy(32, 32, 3, 8, [](int x, int y, int c) { return unsigned((x * 7919 + y * 104729 + c * 31) % 251); });
    auto size = [&](int quality)
    {
        std::wstring path = Out(L"q" + std::to_wstring(quality) + L".jpg");
        EXPECT_FALSE(WriteImageFile(&noisy.img, nullptr, path.c_str(), quality, L"", kImageFormatUnknown));
        return FileSize(path);
    };
    const long long q0 = size(0), q95 = size(95), q10 = size(10), q100 = size(100), q150 = size(150);
    EXPECT_EQ(q0, q95);
    EXPECT_LT(q10, q95);
    EXPECT_EQ(q150, q100);
    EXPECT_EQ(LoadFlagsForFormat(kImageFormatJpeg), JPEG_ACCURATE);
    EXPECT_EQ(LoadFlagsForFormat(kImageFormatPng), 0);
    EXPECT_EQ(SaveFlagsForFormat(kImageFormatJpeg), 95);
    EXPECT_EQ(SaveFlagsForFormat(kImageFormatTiff), 0);
}

TEST_F(ImageFileTest, UnwritableFormatsAndBadMetadataSourcesThrowBeforeWriting)
{
    Record colour(4, 4, 3, 8, Pattern8);
    const std::wstring gif = Out(L"out.gif");
    try
    {
        WriteImageFile(&colour.img, nullptr, gif.c_str(), 0, L"", kImageFormatUnknown);
        ADD_FAILURE() << "no exception for GIF";
    }
    catch (const UnsupportedImageFormat& e)
    {
        EXPECT_EQ(e.Path(), gif);
        EXPECT_STREQ(e.what(), "");
    }
    EXPECT_FALSE(Exists(gif));
    EXPECT_THROW(WriteImageFile(&colour.img, nullptr, Out(L"out.xyz").c_str(), 0, L"", kImageFormatUnknown),
                 UnsupportedImageFormat);
    EXPECT_THROW(WriteImageFile(&colour.img, nullptr, Out(L"out.png").c_str(), 0, L"", kImageFormatGif),
                 UnsupportedImageFormat);

    const std::wstring target = Out(L"target.jpg");
    EXPECT_THROW(
        WriteImageFile(&colour.img, nullptr, target.c_str(), 0, TestImage("palette.gif").c_str(), kImageFormatUnknown),
        UnsupportedImageFormat);
    const std::wstring gone = Out(L"removed-since.jpg");
    try
    {
        WriteImageFile(&colour.img, nullptr, target.c_str(), 0, gone.c_str(), kImageFormatUnknown);
        ADD_FAILURE() << "no exception for a missing metadata source";
    }
    catch (const ImageReadError& e)
    {
        EXPECT_EQ(e.Path(), gone);
    }
    const std::wstring junk = Out(L"junk.jpg");
    WriteBytes(junk, std::vector<unsigned char>(64, 0x33));
    EXPECT_THROW(WriteImageFile(&colour.img, nullptr, target.c_str(), 0, junk.c_str(), kImageFormatUnknown),
                 ImageReadError);
    EXPECT_FALSE(Exists(target));
}

TEST_F(ImageFileTest, FailedWritesAreReportedAsFailures)
{
    Record colour(4, 4, 3, 8, Pattern8);
    Record deep(4, 4, 3, 16, Pattern16);
    // A folder that does not exist.
    EXPECT_TRUE(
        WriteImageFile(&colour.img, nullptr, Out(L"no-such-folder\\x.png").c_str(), 0, L"", kImageFormatUnknown));
    // 16-bit data in a format that cannot hold it: a failure, and no truncated file left behind.
    EXPECT_TRUE(WriteImageFile(&deep.img, nullptr, Out(L"deep.jpg").c_str(), 0, L"", kImageFormatUnknown));
    EXPECT_FALSE(Exists(Out(L"deep.jpg")));
    // Nothing to write: no pixels, 2 channels, float planes.
    ImageBuffer empty;
    InitImage(&empty);
    EXPECT_TRUE(WriteImageFile(&empty, nullptr, Out(L"empty.png").c_str(), 0, L"", kImageFormatUnknown));
    Record two(4, 4, 2, 8, Pattern8);
    EXPECT_TRUE(WriteImageFile(&two.img, nullptr, Out(L"two.png").c_str(), 0, L"", kImageFormatUnknown));
    ImageBuffer plane;
    InitImage(&plane);
    ASSERT_EQ(CreateImage(&plane, 4, 4, 1, 32), kImageOk);
    EXPECT_EQ(ImageBufferToFreeImage(&plane, nullptr), nullptr);
    EXPECT_TRUE(WriteImageFile(&plane, nullptr, Out(L"plane.tif").c_str(), 0, L"", kImageFormatUnknown));
    ReleaseImage(&plane);
    EXPECT_TRUE(WriteImageFile(&colour.img, nullptr, static_cast<const wchar_t*>(nullptr), 0, L"", -1));
    EXPECT_FALSE(Exists(Out(L"empty.png")));
}

TEST_F(ImageFileTest, AFailedWriteKeepsTheFileAlreadyThere)
{
    Record colour(6, 5, 3, 8, Pattern8);
    Record deep(6, 5, 3, 16, Pattern16);
    const std::wstring target = Out(L"kept.jpg");
    ASSERT_FALSE(WriteImageFile(&colour.img, nullptr, target.c_str(), 90, L"", kImageFormatUnknown));
    const std::vector<unsigned char> before = ReadBytes(target);
    ASSERT_FALSE(before.empty());
    // JPEG cannot hold 16-bit samples: the save fails, and the earlier file is untouched.
    EXPECT_TRUE(WriteImageFile(&deep.img, nullptr, target.c_str(), 90, L"", kImageFormatUnknown));
    EXPECT_EQ(ReadBytes(target), before);
    EXPECT_FALSE(Exists(target + L".hpx-partial"));
    // A successful save replaces it.
    Record other(6, 5, 3, 8, Pattern8);
    static_cast<unsigned char*>(other.img.m_pData)[0] ^= 0xFF;
    EXPECT_FALSE(WriteImageFile(&other.img, nullptr, target.c_str(), 100, L"", kImageFormatUnknown));
    EXPECT_NE(ReadBytes(target), before);
    EXPECT_FALSE(Exists(target + L".hpx-partial"));
    Loaded back(target);
    ASSERT_FALSE(back.failed);
    EXPECT_EQ(back.image->m_iWidth, 6);
}

TEST_F(ImageFileTest, NamesOutsideTheCodePageWork)
{
    Record colour(6, 4, 3, 8, Pattern8);
    // Greek and Chinese letters: not in the Western code page.
    const std::wstring path = Out(L"\x03A9mega-\x4E2D\x6587.png");
    ASSERT_FALSE(WriteImageFile(&colour.img, nullptr, path.c_str(), 0, L"", kImageFormatUnknown));
    ASSERT_TRUE(Exists(path));
    Loaded f(path);
    ASSERT_FALSE(f.failed);
    EXPECT_TRUE(SamePixels(&colour.img, f.image));

    // A metadata source with such a name.
    const std::wstring source = Out(L"\x03B1\x03B2-source.jpg");
    WriteBytes(source, ReadBytes(TestImage("exif-icc.jpg")));
    const std::wstring target = Out(L"\x03B3-target.jpg");
    ASSERT_FALSE(WriteImageFile(&colour.img, nullptr, target.c_str(), 0, source.c_str(), kImageFormatUnknown));
    Loaded t(target);
    EXPECT_EQ(t.Info(ImageInfoStrings::kModel), L"Canon EOS 7D");

    // The narrow interface (paths in the current code page) reaches the same code.
    char narrow[MAX_PATH];
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, Out(L"narrow.tif").c_str(), -1, narrow, MAX_PATH, nullptr, nullptr), 0);
    ASSERT_FALSE(WriteImageFile(&colour.img, nullptr, narrow, 0, "", kImageFormatUnknown));
    Loaded n(Out(L"narrow.tif"));
    EXPECT_TRUE(SamePixels(&colour.img, n.image));
}

namespace
{

// A BMP file written byte by byte: `headerSize` 40 (BITMAPINFOHEADER), 108 (V4) or 124 (V5), 24
// or 32 bits, uncompressed, bottom row first, pixel (x, y) from f as blue, green, red[, fourth].
std::vector<unsigned char> MakeBmp(int headerSize, int bpp, int w, int h,
                                   const std::function<unsigned(int, int, int)>& f)
{
    const int stride = (w * bpp / 8 + 3) & ~3;
    std::vector<unsigned char> b(size_t(14 + headerSize + stride * h), 0);
    auto put32 = [&](size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i) b[at + i] = (unsigned char)(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, uint32_t(b.size()));
    put32(10, uint32_t(14 + headerSize));
    put32(14, uint32_t(headerSize));
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    b[26] = 1;
    b[28] = (unsigned char)bpp;
    put32(34, uint32_t(stride * h));
    if (headerSize >= 108)
    {
        // The colour masks, and the colour space "sRGB", as image editors write them.
        put32(54, 0x00FF0000);
        put32(58, 0x0000FF00);
        put32(62, 0x000000FF);
        put32(70, 0x73524742);
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < bpp / 8; ++c)
                b[size_t(14 + headerSize + (h - 1 - y) * stride + x * bpp / 8 + c)] = (unsigned char)f(x, y, c);
    return b;
}

// A small deterministic generator for the damaged files.
struct Lcg
{
    uint32_t state;
    uint32_t Next(uint32_t n)
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
};

}  // namespace

TEST_F(ImageFileTest, BmpWithV4OrV5HeaderLoads)
{
    Record expected(5, 3, 3, 8, Pattern8);
    for (int header : {40, 108, 124})
    {
        const std::wstring path = Out(L"header" + std::to_wstring(header) + L".bmp");
        WriteBytes(path, MakeBmp(header, 24, 5, 3, Pattern8));
        Loaded f(path);
        ASSERT_FALSE(f.failed) << header;
        EXPECT_TRUE(SamePixels(&expected.img, f.image)) << header;
        EXPECT_EQ(f.alpha, nullptr) << header;
    }
}

TEST_F(ImageFileTest, ThePaddingByteOfA32BitBmpIsNoAlphaButRealAlphaIsKept)
{
    Record colour(4, 3, 3, 8, Pattern8);
    for (unsigned padding : {0u, 255u})
    {
        const std::wstring path = Out(L"padded" + std::to_wstring(padding) + L".bmp");
        WriteBytes(path,
                   MakeBmp(40, 32, 4, 3, [&](int x, int y, int c) { return c == 3 ? padding : Pattern8(x, y, c); }));
        Loaded f(path);
        ASSERT_FALSE(f.failed) << padding;
        EXPECT_TRUE(SamePixels(&colour.img, f.image)) << padding;
        EXPECT_EQ(f.alpha, nullptr) << padding;
    }
    auto alphaOf = [](int x, int y, int) { return unsigned(x * 60 + y); };
    const std::wstring path = Out(L"alpha.bmp");
    WriteBytes(
        path,
        MakeBmp(40, 32, 4, 3, [&](int x, int y, int c) { return c == 3 ? alphaOf(x, y, c) : Pattern8(x, y, c); }));
    Loaded f(path);
    ASSERT_FALSE(f.failed);
    Record alpha(4, 3, 1, 8, alphaOf);
    EXPECT_TRUE(SamePixels(&alpha.img, f.alpha));
}

TEST_F(ImageFileTest, ReadsTheOtherFormatsFreeImageReads)
{
    // Files of another writer, each a column of two colours: top row and bottom row, as stored
    // (blue, green, red).
    struct Case
    {
        const char* name;
        int channels, bits;
        unsigned top[3], bottom[3];
    } cases[] = {{"two.tga", 3, 8, {0x80, 0, 0xFF}, {0x20, 0xE0, 0x10}},
                 {"two.ppm", 3, 8, {0x80, 0, 0xFF}, {0x20, 0xE0, 0x10}},
                 {"two.webp", 3, 8, {0x80, 0, 0xFF}, {0x20, 0xE0, 0x10}},
                 {"two.jp2", 3, 8, {0x80, 0, 0xFF}, {0x20, 0xE0, 0x10}},
                 {"two.pgm", 1, 8, {0x56}, {0x20}},
                 {"two16.ppm", 3, 16, {0x8000, 0, 0xFFFF}, {0x2000, 0xE000, 0x1000}},
                 {"two16.jp2", 3, 16, {0x8000, 0, 0xFFFF}, {0x2000, 0xE000, 0x1000}}};
    for (const Case& c : cases)
    {
        Loaded f(TestImage(c.name));
        ASSERT_FALSE(f.failed) << c.name;
        EXPECT_EQ(f.alpha, nullptr) << c.name;
        ASSERT_EQ(f.image->m_iWidth, 2) << c.name;
        ASSERT_EQ(f.image->m_iHeight, 4) << c.name;
        ASSERT_EQ(f.image->m_iChannels, c.channels) << c.name;
        ASSERT_EQ(f.image->m_iBits, c.bits) << c.name;
        for (int ch = 0; ch < c.channels; ++ch)
        {
            EXPECT_EQ(Sample(f.image, 1, 0, ch), c.top[ch]) << c.name << " channel " << ch;
            EXPECT_EQ(Sample(f.image, 0, 3, ch), c.bottom[ch]) << c.name << " channel " << ch;
        }
    }
}

TEST_F(ImageFileTest, FilesOfUnsafeLoadersAreRefusedWhateverTheirName)
{
    // The PSD loader writes out of bounds on damaged files: no PSD file reaches it, under any
    // name, not even as a save's metadata source.
    const std::wstring psd = TestImage("two.psd");
    for (const wchar_t* name : {L"copy.psd", L"copy.jpg", L"copy.tga", L"copy"})
    {
        WriteBytes(Out(name), ReadBytes(psd));
        Loaded f(Out(name));
        EXPECT_TRUE(f.failed) << name;
        EXPECT_EQ(f.image, nullptr) << name;
    }
    Record colour(4, 4, 3, 8, Pattern8);
    EXPECT_THROW(WriteImageFile(&colour.img, nullptr, Out(L"target.png").c_str(), 0, psd.c_str(), kImageFormatUnknown),
                 UnsupportedImageFormat);
    EXPECT_FALSE(Exists(Out(L"target.png")));
}

TEST_F(ImageFileTest, DamagedFilesOfEveryAcceptedTypeAreReadOrRefused)
{
    // Pictures for FreeImage's writers, in the kinds of bitmap each format holds.
    Record colour(13, 9, 3, 8, Pattern8);
    Record alpha(13, 9, 1, 8, [](int x, int y, int) { return unsigned(x * 19 + y * 5); });
    Record grey(48, 40, 1, 8, Pattern8);  // JPEG 2000's coder wants 32 pixels a side
    Record deep(11, 7, 3, 16, Pattern16);
    using Bitmap = std::unique_ptr<FIBITMAP, decltype(&FreeImage_Unload)>;
    const Bitmap rgb(ImageBufferToFreeImage(&colour.img, nullptr), FreeImage_Unload);
    const Bitmap rgba(ImageBufferToFreeImage(&colour.img, &alpha.img), FreeImage_Unload);
    const Bitmap grey8(ImageBufferToFreeImage(&grey.img, nullptr), FreeImage_Unload);
    const Bitmap rgb16(ImageBufferToFreeImage(&deep.img, nullptr), FreeImage_Unload);
    const Bitmap mono(FreeImage_Threshold(grey8.get(), 128), FreeImage_Unload);
    const Bitmap rgbf(FreeImage_ConvertToRGBF(rgb.get()), FreeImage_Unload);
    ASSERT_TRUE(rgb && rgba && grey8 && rgb16 && mono && rgbf);

    // Each format whose loader may see a user's file, with seeds written here by FreeImage (with a
    // bitmap) or made by make-test-images.sh (without). 1-bit, 4-bit palette and float pixels are
    // loaded but no record takes them (`taken` false).
    struct Seed
    {
        FREE_IMAGE_FORMAT fif;
        const char* name;
        FIBITMAP* bitmap;
        bool taken;
        int variants;
    } seeds[] = {{FIF_BMP, "seed.bmp", rgb.get(), true, 100},
                 {FIF_BMP, "seed32.bmp", rgba.get(), true, 100},
                 {FIF_BMP, "rgb24.bmp", nullptr, true, 100},
                 {FIF_JPEG, "seed.jpg", rgb.get(), true, 100},
                 {FIF_JPEG, "exif-icc.jpg", nullptr, true, 100},
                 {FIF_PNG, "seed.png", rgba.get(), true, 100},
                 {FIF_PNG, "seed16.png", rgb16.get(), true, 100},
                 {FIF_PNG, "grey16.png", nullptr, true, 100},
                 {FIF_TIFF, "seed.tif", rgb.get(), true, 100},
                 {FIF_TIFF, "seed16.tif", rgb16.get(), true, 100},
                 {FIF_TIFF, "rgb16.tif", nullptr, true, 100},
                 {FIF_TARGA, "seed.tga", rgba.get(), true, 8},
                 {FIF_TARGA, "two.tga", nullptr, true, 8},
                 {FIF_PBM, "seed.pbm", mono.get(), false, 16},
                 {FIF_PBMRAW, "seed-raw.pbm", mono.get(), false, 16},
                 {FIF_PGM, "seed.pgm", grey8.get(), true, 16},
                 {FIF_PGMRAW, "seed-raw.pgm", grey8.get(), true, 8},
                 {FIF_PGMRAW, "two.pgm", nullptr, true, 8},
                 {FIF_PPM, "seed.ppm", rgb.get(), true, 16},
                 {FIF_PPMRAW, "seed-raw.ppm", rgb.get(), true, 8},
                 {FIF_PPMRAW, "two16.ppm", nullptr, true, 8},
                 {FIF_JP2, "two.jp2", nullptr, true, 6},
                 {FIF_JP2, "two16.jp2", nullptr, true, 6},
                 {FIF_JP2, "seed.jp2", grey8.get(), true, 6},
                 {FIF_WEBP, "seed.webp", rgba.get(), true, 8},
                 {FIF_WEBP, "two.webp", nullptr, true, 8},
                 {FIF_RAW, "two.dng", nullptr, true, 16},
                 {FIF_GIF, "seed.gif", grey8.get(), true, 16},
                 {FIF_PCX, "two.pcx", nullptr, true, 16},
                 {FIF_PCD, "two.pcd", nullptr, true, 16},
                 {FIF_SGI, "two.sgi", nullptr, true, 16},
                 {FIF_CUT, "two.cut", nullptr, true, 16},
                 {FIF_KOALA, "two.koa", nullptr, false, 16},
                 {FIF_WBMP, "seed.wbmp", mono.get(), false, 8},
                 {FIF_WBMP, "two.wbmp", nullptr, false, 8},
                 {FIF_HDR, "seed.hdr", rgbf.get(), false, 8},
                 {FIF_HDR, "two.hdr", nullptr, false, 8},
                 {FIF_PFM, "seed.pfm", rgbf.get(), false, 8},
                 {FIF_PFM, "float-grey.pfm", nullptr, false, 8}};
    struct Tally
    {
        int read = 0, refused = 0;
    };
    std::map<FREE_IMAGE_FORMAT, Tally> tally;
    for (const Seed& seed : seeds) tally[seed.fif];
    for (int fif = 0; fif < FreeImage_GetFIFCount(); ++fif)
        EXPECT_TRUE(!IsReadableImageFormat(fif) || tally.count(FREE_IMAGE_FORMAT(fif)))
            << FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT(fif)) << " is read but has no seed here";

    // The six kinds of PNM file share one loader, which content detection names PBM.
    auto loaderOf = [](FREE_IMAGE_FORMAT fif)
    {
        const bool pnm =
            fif == FIF_PBMRAW || fif == FIF_PGM || fif == FIF_PGMRAW || fif == FIF_PPM || fif == FIF_PPMRAW;
        return pnm ? FIF_PBM : fif;
    };
    Lcg random{12345};
    for (const Seed& seed : seeds)
    {
        const std::wstring seedPath = seed.bitmap ? Out(Widen(seed.name)) : TestImage(seed.name);
        if (seed.bitmap) ASSERT_TRUE(FreeImage_SaveU(seed.fif, seed.bitmap, seedPath.c_str(), 0)) << seed.name;
        // The seed reaches its format's loader (by content, else by name), which reads it. The
        // plug-in takes it where it takes that format.
        const FREE_IMAGE_FORMAT byName = FreeImage_GetFIFFromFilenameU(seedPath.c_str());
        const FREE_IMAGE_FORMAT byContent = FreeImage_GetFileTypeU(seedPath.c_str(), 0);
        const FREE_IMAGE_FORMAT reached = byContent == FIF_UNKNOWN ? byName : byContent;
        EXPECT_EQ(loaderOf(reached), loaderOf(seed.fif)) << seed.name;
        const Bitmap valid(FreeImage_LoadU(seed.fif, seedPath.c_str(), 0), FreeImage_Unload);
        EXPECT_TRUE(valid) << seed.name;
        EXPECT_EQ(Loaded(seedPath).failed, !(seed.taken && IsReadableImageFormat(reached))) << seed.name;

        const std::vector<unsigned char> bytes = ReadBytes(seedPath);
        ASSERT_GT(bytes.size(), 8u) << seed.name;
        const std::wstring path = Out(L"damaged-" + Widen(seed.name));
        Tally& counts = tally[seed.fif];
        for (int variant = 0; variant < seed.variants; ++variant)
        {
            std::vector<unsigned char> damaged = bytes;
            // A few bytes changed, mostly in the headers; every fourth file is cut short too.
            for (uint32_t k = 0, n = 1 + random.Next(4); k < n; ++k)
            {
                const size_t at = random.Next(2) ? random.Next(uint32_t(std::min<size_t>(damaged.size(), 160)))
                                                 : random.Next(uint32_t(damaged.size()));
                damaged[at] = (unsigned char)random.Next(256);
            }
            if (variant % 4 == 3) damaged.resize(1 + random.Next(uint32_t(damaged.size())));
            WriteBytes(path, damaged);
            const FREE_IMAGE_FORMAT seen = FreeImage_GetFileTypeU(path.c_str(), 0);
            Loaded f(path);
            if (f.failed)
            {
                ++counts.refused;
                EXPECT_EQ(f.image, nullptr) << seed.name << " variant " << variant;
                EXPECT_EQ(f.alpha, nullptr) << seed.name << " variant " << variant;
                continue;
            }
            ++counts.read;
            // Only a format the plug-in takes is read (a damaged file may look like another one).
            EXPECT_TRUE(IsReadableImageFormat(seen == FIF_UNKNOWN ? byName : seen))
                << seed.name << " variant " << variant;
            ASSERT_NE(f.image, nullptr);
            ASSERT_NE(f.image->m_pData, nullptr);
            EXPECT_EQ(f.image->m_iSize, f.image->m_iStride * f.image->m_iHeight);
            if (f.alpha)
            {
                EXPECT_NE(f.alpha->m_pData, nullptr);
                EXPECT_EQ(f.alpha->m_iSize, f.alpha->m_iStride * f.alpha->m_iHeight);
                EXPECT_EQ(f.alpha->m_iWidth, f.image->m_iWidth);
                EXPECT_EQ(f.alpha->m_iHeight, f.image->m_iHeight);
            }
        }
    }
    for (const auto& [fif, counts] : tally)
    {
        printf("%-7s %3d damaged files: %3d read, %3d refused\n", FreeImage_GetFormatFromFIF(fif),
               counts.read + counts.refused, counts.read, counts.refused);
    }
}
