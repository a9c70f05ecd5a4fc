// Median pre-filter.
#include "engine/Median.h"

#include "engine/ImageConvert.h"
#include "engine/ScopedImage.h"
#include "tests/engine/Digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{

using Owned = ScopedImage;

uint32_t At(const ImageBuffer& img, int32_t x, int32_t y)
{
    const size_t i = static_cast<size_t>(y) * img.m_iWidth + x;
    return img.m_iBits == 8 ? static_cast<const uint8_t*>(img.m_pData)[i]
                            : static_cast<const uint16_t*>(img.m_pData)[i];
}

// Straightforward reference: gather the neighbourhood, select rank n/2.
uint32_t ReferenceMedian(const ImageBuffer& src, int32_t x, int32_t y, int32_t radius)
{
    const int32_t w = src.m_iWidth, h = src.m_iHeight;
    std::vector<uint32_t> v;
    if (radius == 1)
    {
        if (x < 1 || y < 1 || x > w - 2 || y > h - 2) return At(src, x, y);
        if (src.m_iBits == 8)
        {
            v = {At(src, x, y), At(src, x - 1, y), At(src, x + 1, y), At(src, x, y - 1), At(src, x, y + 1)};
        }
        else
        {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) v.push_back(At(src, x + dx, y + dy));
        }
    }
    else
    {
        for (int32_t yy = std::max(y - 3, 0); yy <= std::min(y + 3, h - 1); ++yy)
            for (int32_t xx = std::max(x - 3, 0); xx <= std::min(x + 3, w - 1); ++xx) v.push_back(At(src, xx, yy));
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void ExpectMatchesReference(int32_t w, int32_t h, int32_t bits, int32_t radius, uint32_t seed, bool noisy)
{
    Owned src, dst;
    if (noisy)
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, w, h, 1, bits, seed, 60));
    else
        ASSERT_TRUE(hpxtest::MakeRandomImage(&src.img, w, h, 1, bits, seed));
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    MedianFilter(&dst.img, &src.img, radius);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ASSERT_EQ(At(dst.img, x, y), ReferenceMedian(src.img, x, y, radius))
                << "w " << w << " h " << h << " bits " << bits << " radius " << radius << " at " << x << "," << y;
}

}  // namespace

TEST(ImageMedian, PlusShapeAt8BitsAndSquareAt16Bits)
{
    // 100 with 0 on its four sides and 200 on its diagonals.
    const uint32_t v[9] = {200, 0, 200, 0, 100, 0, 200, 0, 200};
    for (int bits : {8, 16})
    {
        Owned src, dst;
        ASSERT_EQ(CreateImage(&src.img, 3, 3, 1, bits), kImageOk);
        for (int i = 0; i < 9; ++i) hpxtest::StoreSample(&src.img, static_cast<size_t>(i), v[i]);
        ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
        MedianFilter(&dst.img, &src.img, 1);
        EXPECT_EQ(At(dst.img, 1, 1), bits == 8 ? 0u : 100u);
        EXPECT_EQ(At(dst.img, 0, 0), 200u);  // border copied
    }
}

TEST(ImageMedian, SingleBrightPixelDisappears)
{
    for (int bits : {8, 16})
        for (int radius : {1, 3})
        {
            Owned src, dst;
            ASSERT_EQ(CreateImage(&src.img, 9, 9, 1, bits), kImageOk);
            for (size_t i = 0; i < 81; ++i) hpxtest::StoreSample(&src.img, i, 50);
            hpxtest::StoreSample(&src.img, 4 * 9 + 4, bits == 8 ? 255 : 65535);
            ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
            MedianFilter(&dst.img, &src.img, radius);
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 9; ++x) ASSERT_EQ(At(dst.img, x, y), 50u) << bits << " " << radius;
        }
}

TEST(ImageMedian, SmallImagesAndCornerRanks)
{
    // Radius 1 on a 2-pixel-wide image: a plain copy.
    Owned narrow, out;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&narrow.img, 2, 6, 1, 8, 11));
    ASSERT_EQ(CopyImageLayout(&out.img, &narrow.img), kImageOk);
    MedianFilter(&out.img, &narrow.img, 1);
    EXPECT_EQ(hpxtest::DigestImage(&out.img), hpxtest::DigestImage(&narrow.img));

    // Radius 3 on 1 x 1 returns the pixel.
    Owned one, oneOut;
    ASSERT_EQ(CreateImage(&one.img, 1, 1, 1, 16), kImageOk);
    hpxtest::StoreSample(&one.img, 0, 12345);
    ASSERT_EQ(CopyImageLayout(&oneOut.img, &one.img), kImageOk);
    MedianFilter(&oneOut.img, &one.img, 3);
    EXPECT_EQ(At(oneOut.img, 0, 0), 12345u);

    // Top-left corner: a 4 x 4 window, rank 8 of 16 (the upper middle value).
    Owned grid, gridOut;
    ASSERT_EQ(CreateImage(&grid.img, 10, 10, 1, 8), kImageOk);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            hpxtest::StoreSample(&grid.img, static_cast<size_t>(y * 10 + x), (y < 4 && x < 4) ? 16u * y + x : 255u);
    ASSERT_EQ(CopyImageLayout(&gridOut.img, &grid.img), kImageOk);
    MedianFilter(&gridOut.img, &grid.img, 3);
    // Window values 0..3, 16..19, 32..35, 48..51: sorted rank 8 is 32.
    EXPECT_EQ(At(gridOut.img, 0, 0), 32u);
}

TEST(ImageMedian, EveryRadiusOtherThanOneIsTheSevenBySevenWindow)
{
    Owned src, a, b;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&src.img, 23, 17, 1, 8, 5));
    ASSERT_EQ(CopyImageLayout(&a.img, &src.img), kImageOk);
    ASSERT_EQ(CopyImageLayout(&b.img, &src.img), kImageOk);
    MedianFilter(&a.img, &src.img, 2);
    MedianFilter(&b.img, &src.img, 3);
    EXPECT_EQ(hpxtest::DigestImage(&a.img), hpxtest::DigestImage(&b.img));
}

// The fast paths (exchange networks, running histograms) against a plain sort of each window,
// on random and on photograph-like planes, including sizes smaller than the window.
TEST(ImageMedian, MatchesSortedWindowReference)
{
    const int32_t sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {3, 3}, {5, 4}, {7, 7}, {8, 13}, {41, 29}};
    uint32_t seed = 1;
    for (const auto& s : sizes)
        for (int bits : {8, 16})
            for (int radius : {1, 3})
            {
                ExpectMatchesReference(s[0], s[1], bits, radius, seed++, false);
                ExpectMatchesReference(s[0], s[1], bits, radius, seed++, true);
            }
}

TEST(ImageMedian, ColourImagesAreFilteredChannelByChannel)
{
    Owned rgb, out;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&rgb.img, 19, 14, 3, 16, 8, 80));
    ASSERT_EQ(CopyImageLayout(&out.img, &rgb.img), kImageOk);
    MedianFilterImage(&out.img, &rgb.img, 3);
    for (int c = 0; c < 3; ++c)
    {
        Owned plane, filtered, got;
        ASSERT_EQ(CreateImage(&plane.img, 19, 14, 1, 16), kImageOk);
        ASSERT_EQ(CreateImage(&got.img, 19, 14, 1, 16), kImageOk);
        ASSERT_EQ(ExtractChannel(&plane.img, c, &rgb.img), kImageOk);
        ASSERT_EQ(CopyImageLayout(&filtered.img, &plane.img), kImageOk);
        MedianFilter(&filtered.img, &plane.img, 3);
        ASSERT_EQ(ExtractChannel(&got.img, c, &out.img), kImageOk);
        EXPECT_EQ(hpxtest::DigestImage(&got.img), hpxtest::DigestImage(&filtered.img)) << c;
    }
    // Channels that cannot be put into the destination (another width; 15-bit samples, which
    // channels are not inserted at) are no success.
    Owned narrow, deep, deepOut;
    ASSERT_EQ(CreateImage(&narrow.img, 18, 14, 3, 16), kImageOk);
    EXPECT_EQ(MedianFilterImage(&narrow.img, &rgb.img, 3), kImageBadArgs);
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&deep.img, 19, 14, 3, 15, 8, 80));
    ASSERT_EQ(CopyImageLayout(&deepOut.img, &deep.img), kImageOk);
    EXPECT_EQ(MedianFilterImage(&deepOut.img, &deep.img, 1), kImageBadArgs);
}
