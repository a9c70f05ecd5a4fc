// Depth, channel and colour conversions.
#include "engine/ImageConvert.h"
#include "engine/ScopedImage.h"

#include "tests/engine/Digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace
{

using Owned = ScopedImage;

template <typename T> T* Px(ImageBuffer& img) { return static_cast<T*>(img.m_pData); }

// A w x 1 image of the given depth holding the values.
template <typename T> void MakeRow(ImageBuffer* img, int32_t channels, int32_t bits, const std::vector<T>& values)
{
    ASSERT_EQ(CreateImage(img, static_cast<int32_t>(values.size()) / channels, 1, channels, bits), kImageOk);
    std::memcpy(img->m_pData, values.data(), values.size() * sizeof(T));
}

}  // namespace

TEST(ImageConvert, ChannelMeansAndReplication)
{
    Owned a;
    MakeRow<uint8_t>(&a.img, 3, 8, {10, 20, 31, 255, 255, 254});
    ASSERT_EQ(ConvertImage(&a.img, 8, 1), kImageOk);
    EXPECT_EQ(a.img.m_iChannels, 1);
    EXPECT_EQ(a.img.m_iStride, 2);
    EXPECT_EQ(Px<uint8_t>(a.img)[0], 20);   // 61 / 3 truncated
    EXPECT_EQ(Px<uint8_t>(a.img)[1], 254);  // 764 / 3 truncated

    Owned g;
    MakeRow<uint16_t>(&g.img, 1, 16, {1, 65535, 300});
    ASSERT_EQ(ConvertImage(&g.img, 16, 3), kImageOk);
    ASSERT_EQ(g.img.m_iSize, 18);
    const uint16_t expect[] = {1, 1, 1, 65535, 65535, 65535, 300, 300, 300};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Px<uint16_t>(g.img)[i], expect[i]);

    Owned f;
    MakeRow<float>(&f.img, 3, 32, {1.0f, 2.0f, 4.5f});
    ASSERT_EQ(ConvertImage(&f.img, 32, 1), kImageOk);
    EXPECT_FLOAT_EQ(Px<float>(f.img)[0], 2.5f);

    // 16-bit grey to 8-bit colour: channels first, then depth.
    Owned d;
    MakeRow<uint16_t>(&d.img, 1, 16, {0x1234, 0xFF00});
    ASSERT_EQ(ConvertImage(&d.img, 8, 3), kImageOk);
    EXPECT_EQ(d.img.m_iBits, 8);
    EXPECT_EQ(Px<uint8_t>(d.img)[2], 0x12);
    EXPECT_EQ(Px<uint8_t>(d.img)[3], 0xFF);
}

TEST(ImageConvert, DepthTable)
{
    Owned a;
    MakeRow<uint8_t>(&a.img, 1, 8, {200, 255, 0});
    ASSERT_EQ(ConvertImage(&a.img, 16, 1), kImageOk);
    EXPECT_EQ(Px<uint16_t>(a.img)[0], 51200);
    EXPECT_EQ(Px<uint16_t>(a.img)[1], 65280);

    Owned b;
    MakeRow<uint16_t>(&b.img, 1, 16, {65535, 255, 256});
    ASSERT_EQ(ConvertImage(&b.img, 8, 1), kImageOk);
    EXPECT_EQ(Px<uint8_t>(b.img)[0], 255);
    EXPECT_EQ(Px<uint8_t>(b.img)[1], 0);
    EXPECT_EQ(Px<uint8_t>(b.img)[2], 1);

    // The host's 15-bit data: widening saturates, narrowing shifts.
    Owned c;
    MakeRow<uint16_t>(&c.img, 1, 15, {32768, 16383, 0});
    ASSERT_EQ(ConvertImage(&c.img, 16, 1), kImageOk);
    EXPECT_EQ(c.img.m_iBits, 16);
    EXPECT_EQ(Px<uint16_t>(c.img)[0], 65535);
    EXPECT_EQ(Px<uint16_t>(c.img)[1], 32766);
    Owned e;
    MakeRow<uint16_t>(&e.img, 1, 16, {65534, 65535, 1});
    ASSERT_EQ(ConvertImage(&e.img, 15, 1), kImageOk);
    EXPECT_EQ(Px<uint16_t>(e.img)[0], 32767);
    EXPECT_EQ(Px<uint16_t>(e.img)[1], 32767);
    EXPECT_EQ(Px<uint16_t>(e.img)[2], 0);

    // Floats are never rescaled; negatives and NaN become 0, large values saturate.
    Owned f;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    MakeRow<float>(&f.img, 1, 32, {-3.5f, 12.9f, 254.99f, 255.0f, 300.0f, nan});
    ASSERT_EQ(ConvertImage(&f.img, 8, 1), kImageOk);
    const uint8_t expect8[] = {0, 12, 254, 255, 255, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Px<uint8_t>(f.img)[i], expect8[i]) << i;

    Owned h;
    MakeRow<float>(&h.img, 1, 32, {65534.7f, 70000.0f, -1.0f, nan});
    ASSERT_EQ(ConvertImage(&h.img, 16, 1), kImageOk);
    const uint16_t expect16[] = {65534, 65535, 0, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Px<uint16_t>(h.img)[i], expect16[i]) << i;

    Owned k;
    MakeRow<uint16_t>(&k.img, 1, 16, {65535, 7});
    ASSERT_EQ(ConvertImage(&k.img, 32, 1), kImageOk);
    EXPECT_EQ(Px<float>(k.img)[0], 65535.0f);
    EXPECT_EQ(Px<float>(k.img)[1], 7.0f);
}

TEST(ImageConvert, SameShapeKeepsSamplesAndUnsupportedChangesTouchNothing)
{
    Owned a;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&a.img, 9, 7, 3, 16, 3));
    Owned ref;
    ASSERT_EQ(CopyImageLayout(&ref.img, &a.img), kImageOk);
    CopyImagePixels(&ref.img, &a.img);
    ASSERT_EQ(ConvertImage(&a.img, 16, 3), kImageOk);
    EXPECT_EQ(hpxtest::DigestImage(&a.img), hpxtest::DigestImage(&ref.img));

    const ImageBuffer before = a.img;
    EXPECT_EQ(ConvertImage(&a.img, 16, 4), kImageBadArgs);
    EXPECT_EQ(ConvertImage(&a.img, 64, 3), kImageBadArgs);  // depth pair not supported
    EXPECT_EQ(std::memcmp(&before, &a.img, sizeof(before)), 0);
    EXPECT_EQ(hpxtest::DigestImage(&a.img), hpxtest::DigestImage(&ref.img));
}

TEST(ImageConvert, YCbCrOfWhiteAndRed)
{
    Owned src, dst;
    MakeRow<uint8_t>(&src.img, 3, 8, {255, 255, 255, 0, 0, 255});
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    ASSERT_EQ(RgbToYCbCr(&dst.img, &src.img), kImageOk);
    const uint8_t* d = Px<uint8_t>(dst.img);
    EXPECT_EQ(d[0], 255);
    EXPECT_EQ(d[1], 128);
    EXPECT_EQ(d[2], 128);
    EXPECT_EQ(d[3], 76);   // Y' = 76.245
    EXPECT_EQ(d[4], 255);  // trunc(0.713 x 179 + 128)
    EXPECT_EQ(d[5], 85);   // trunc(0.564 x -76 + 128)

    Owned w16, y16;
    MakeRow<uint16_t>(&w16.img, 3, 16, {65535, 65535, 65535});
    ASSERT_EQ(CopyImageLayout(&y16.img, &w16.img), kImageOk);
    ASSERT_EQ(RgbToYCbCr(&y16.img, &w16.img), kImageOk);
    EXPECT_EQ(Px<uint16_t>(y16.img)[0], 65535);
    EXPECT_EQ(Px<uint16_t>(y16.img)[1], 32768);
    EXPECT_EQ(Px<uint16_t>(y16.img)[2], 32768);
}

TEST(ImageConvert, YCbCrRejectsMismatchedRecords)
{
    Owned grey, rgb8, rgb16, out;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&grey.img, 4, 4, 1, 8, 1));
    ASSERT_TRUE(hpxtest::MakeRandomImage(&rgb8.img, 4, 4, 3, 8, 2));
    ASSERT_TRUE(hpxtest::MakeRandomImage(&rgb16.img, 4, 4, 3, 16, 3));
    const uint64_t before = hpxtest::DigestImage(&rgb16.img);
    EXPECT_EQ(RgbToYCbCr(&rgb8.img, &grey.img), kImageBadArgs);
    EXPECT_EQ(RgbToYCbCr(&rgb16.img, &rgb8.img), kImageBadArgs);
    EXPECT_EQ(YCbCrToRgb(&rgb16.img, &rgb8.img), kImageBadArgs);
    EXPECT_EQ(RgbToYCbCr(&out.img, &rgb8.img), kImageBadArgs);  // no block
    EXPECT_EQ(hpxtest::DigestImage(&rgb16.img), before);
}

TEST(ImageConvert, GreyRoundTripsExactlyInPlace)
{
    for (int bits : {8, 16})
    {
        Owned img;
        const int32_t n = bits == 8 ? 256 : 4096;
        ASSERT_EQ(CreateImage(&img.img, n, 1, 3, bits), kImageOk);
        for (int32_t i = 0; i < n; ++i)
        {
            const uint32_t v = bits == 8 ? static_cast<uint32_t>(i) : static_cast<uint32_t>(i) * 16u + 5u;
            for (int c = 0; c < 3; ++c) hpxtest::StoreSample(&img.img, static_cast<size_t>(i) * 3 + c, v);
        }
        Owned ref;
        ASSERT_EQ(CopyImageLayout(&ref.img, &img.img), kImageOk);
        CopyImagePixels(&ref.img, &img.img);
        ASSERT_EQ(RgbToYCbCr(&img.img, &img.img), kImageOk);  // destination may be the source
        ASSERT_EQ(YCbCrToRgb(&img.img, &img.img), kImageOk);
        EXPECT_EQ(hpxtest::DigestImage(&img.img), hpxtest::DigestImage(&ref.img)) << bits;
    }
}

// Round trips of random colours stay close to the input. The 8-bit chroma is truncated without a
// rounding term, so blue can come back 2 below; at 16 bits only green can be off by 2.
TEST(ImageConvert, RandomColourRoundTripsStayClose)
{
    struct Case
    {
        int bits;
        int maxB, maxG, maxR;
        double maxMean;
    };
    const Case cases[] = {{8, 2, 2, 1, 0.75}, {16, 1, 2, 1, 0.45}};
    for (const Case& k : cases)
    {
        Owned src, ycc, back;
        ASSERT_TRUE(hpxtest::MakeRandomImage(&src.img, 211, 97, 3, k.bits, 42));
        ASSERT_EQ(CopyImageLayout(&ycc.img, &src.img), kImageOk);
        ASSERT_EQ(CopyImageLayout(&back.img, &src.img), kImageOk);
        ASSERT_EQ(RgbToYCbCr(&ycc.img, &src.img), kImageOk);
        ASSERT_EQ(YCbCrToRgb(&back.img, &ycc.img), kImageOk);
        int worst[3] = {0, 0, 0};
        double sum = 0;
        const size_t n = static_cast<size_t>(src.img.m_iWidth) * src.img.m_iHeight * 3;
        for (size_t i = 0; i < n; ++i)
        {
            const int a = k.bits == 8 ? Px<uint8_t>(src.img)[i] : Px<uint16_t>(src.img)[i];
            const int b = k.bits == 8 ? Px<uint8_t>(back.img)[i] : Px<uint16_t>(back.img)[i];
            const int dv = std::abs(a - b);
            worst[i % 3] = std::max(worst[i % 3], dv);
            sum += dv;
        }
        EXPECT_LE(worst[0], k.maxB) << k.bits;
        EXPECT_LE(worst[1], k.maxG) << k.bits;
        EXPECT_LE(worst[2], k.maxR) << k.bits;
        EXPECT_LT(sum / static_cast<double>(n), k.maxMean) << k.bits;
    }
}

TEST(ImageConvert, ExtractAndInsertChannels)
{
    Owned rgb, plane;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&rgb.img, 5, 4, 3, 16, 9));
    ASSERT_EQ(CreateImage(&plane.img, 5, 4, 1, 16), kImageOk);
    ASSERT_EQ(ExtractChannel(&plane.img, 2, &rgb.img), kImageOk);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Px<uint16_t>(plane.img)[i], Px<uint16_t>(rgb.img)[i * 3 + 2]);

    for (int i = 0; i < 20; ++i) Px<uint16_t>(plane.img)[i] = static_cast<uint16_t>(i);
    const std::vector<uint16_t> before(Px<uint16_t>(rgb.img), Px<uint16_t>(rgb.img) + 60);
    ASSERT_EQ(InsertChannel(&rgb.img, 1, &plane.img), kImageOk);
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_EQ(Px<uint16_t>(rgb.img)[i * 3 + 1], i);
        EXPECT_EQ(Px<uint16_t>(rgb.img)[i * 3], before[i * 3]);
        EXPECT_EQ(Px<uint16_t>(rgb.img)[i * 3 + 2], before[i * 3 + 2]);
    }

    EXPECT_EQ(ExtractChannel(&plane.img, 3, &rgb.img), kImageBadArgs);
    EXPECT_EQ(ExtractChannel(&plane.img, -1, &rgb.img), kImageBadArgs);
    Owned small;
    ASSERT_EQ(CreateImage(&small.img, 4, 4, 1, 16), kImageOk);
    EXPECT_EQ(ExtractChannel(&small.img, 0, &rgb.img), kImageBadArgs);

    // 15-bit images may be split but not assembled.
    Owned rgb15, plane15;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&rgb15.img, 3, 3, 3, 15, 4));
    ASSERT_EQ(CreateImage(&plane15.img, 3, 3, 1, 15), kImageOk);
    EXPECT_EQ(ExtractChannel(&plane15.img, 0, &rgb15.img), kImageOk);
    EXPECT_EQ(InsertChannel(&rgb15.img, 0, &plane15.img), kImageBadArgs);

    // Float planes move as 32-bit words.
    Owned f3, f1;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&f3.img, 3, 2, 3, 32, 5));
    ASSERT_EQ(CreateImage(&f1.img, 3, 2, 1, 32), kImageOk);
    ASSERT_EQ(ExtractChannel(&f1.img, 1, &f3.img), kImageOk);
    EXPECT_EQ(Px<float>(f1.img)[4], Px<float>(f3.img)[13]);
}
