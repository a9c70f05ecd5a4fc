// Image record: allocation, layout copies, pixel and rectangle copies, fills.
#include "engine/ImageBuffer.h"
#include "engine/ScopedImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{

uint8_t* Bytes(ImageBuffer& img) { return static_cast<uint8_t*>(img.m_pData); }

using Owned = ScopedImage;

void ExpectEmpty(const ImageBuffer& img)
{
    EXPECT_EQ(img.m_pData, nullptr);
    EXPECT_EQ(img.m_iSize, 0);
    EXPECT_EQ(img.m_iStride, 0);
    EXPECT_EQ(img.m_iWidth, 0);
    EXPECT_EQ(img.m_iHeight, 0);
    EXPECT_EQ(img.m_iChannels, 0);
    EXPECT_EQ(img.m_iBits, 0);
}

}  // namespace

TEST(ImageBuffer, InitAndReleaseOfEmptyRecord)
{
    ImageBuffer img;
    std::memset(&img, 0x5A, sizeof(img));
    EXPECT_EQ(InitImage(&img), &img);
    ExpectEmpty(img);
    ReleaseImage(&img);
    ExpectEmpty(img);

    // A record without a block keeps its other fields on release.
    img.m_iWidth = 7;
    ReleaseImage(&img);
    EXPECT_EQ(img.m_iWidth, 7);
}

TEST(ImageBuffer, CreateComputesStrideAndSize)
{
    Owned a;
    ASSERT_EQ(CreateImage(&a.img, 5, 3, 3, 8), kImageOk);
    EXPECT_NE(a.img.m_pData, nullptr);
    EXPECT_EQ(a.img.m_iStride, 15);
    EXPECT_EQ(a.img.m_iSize, 45);
    EXPECT_EQ(a.img.m_iWidth, 5);
    EXPECT_EQ(a.img.m_iHeight, 3);
    EXPECT_EQ(a.img.m_iChannels, 3);
    EXPECT_EQ(a.img.m_iBits, 8);

    // Re-creating frees the old block first (the leak checker of the sanitizer build sees it).
    ASSERT_EQ(CreateImage(&a.img, 5, 3, 1, 15), kImageOk);
    EXPECT_EQ(a.img.m_iStride, 10);
    EXPECT_EQ(a.img.m_iSize, 30);
    ASSERT_EQ(CreateImage(&a.img, 5, 3, 1, 64), kImageOk);
    EXPECT_EQ(a.img.m_iStride, 40);
    EXPECT_EQ(a.img.m_iSize, 120);
    ASSERT_EQ(CreateImage(&a.img, 5, 3, 1, 32), kImageOk);
    EXPECT_EQ(a.img.m_iStride, 20);
}

TEST(ImageBuffer, CreateNeverHandsOutAnEmptyOrOverflowingBlock)
{
    Owned a;
    ASSERT_EQ(CreateImage(&a.img, 4, 4, 1, 8), kImageOk);
    EXPECT_EQ(CreateImage(&a.img, 0, 0, 3, 8), kImageNoMemory);
    ExpectEmpty(a.img);
    EXPECT_NE(CreateImage(&a.img, 10, 0, 1, 8), kImageOk);
    ExpectEmpty(a.img);
    // 40000 x 40000 x 3 x 2 bytes does not fit the 32-bit size field.
    EXPECT_EQ(CreateImage(&a.img, 40000, 40000, 3, 16), kImageNoMemory);
    ExpectEmpty(a.img);
    EXPECT_NE(CreateImage(&a.img, -5, 3, 1, 8), kImageOk);
    ExpectEmpty(a.img);
}

TEST(ImageBuffer, CopyLayoutAllocatesWhenBlockIsMissingEvenIfSizesMatch)
{
    // The state a failed allocation used to leave behind: a size but no block.
    Owned src, dst;
    ASSERT_EQ(CreateImage(&src.img, 5, 3, 3, 8), kImageOk);
    dst.img.m_iSize = 45;
    dst.img.m_iWidth = 5;
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    ASSERT_NE(dst.img.m_pData, nullptr);
    std::memset(dst.img.m_pData, 1, 45);  // the whole block must be writable
    EXPECT_EQ(dst.img.m_iStride, 15);
}

TEST(ImageBuffer, CopyLayoutOfEqualSizeKeepsBlockAndContent)
{
    Owned src, dst;
    ASSERT_EQ(CreateImage(&src.img, 6, 1, 1, 8), kImageOk);
    ASSERT_EQ(CreateImage(&dst.img, 2, 1, 3, 8), kImageOk);
    for (int i = 0; i < 6; ++i)
    {
        Bytes(dst.img)[i] = static_cast<uint8_t>(100 + i);
        Bytes(src.img)[i] = 0;
    }
    void* block = dst.img.m_pData;
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    EXPECT_EQ(dst.img.m_pData, block);
    EXPECT_EQ(dst.img.m_iWidth, 6);
    EXPECT_EQ(dst.img.m_iChannels, 1);
    EXPECT_EQ(dst.img.m_iStride, 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Bytes(dst.img)[i], 100 + i);
}

TEST(ImageBuffer, CopyLayoutOfOtherSizeReallocatesAndCopyPixelsMakesFullCopy)
{
    Owned src, dst;
    ASSERT_EQ(CreateImage(&src.img, 7, 5, 3, 16), kImageOk);
    ASSERT_EQ(CreateImage(&dst.img, 2, 2, 1, 8), kImageOk);
    for (int i = 0; i < src.img.m_iSize; ++i) Bytes(src.img)[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    EXPECT_EQ(dst.img.m_iSize, src.img.m_iSize);
    EXPECT_EQ(dst.img.m_iBits, 16);
    CopyImagePixels(&dst.img, &src.img);
    EXPECT_EQ(std::memcmp(dst.img.m_pData, src.img.m_pData, static_cast<size_t>(src.img.m_iSize)), 0);

    // An empty source gives an empty destination and a failure, never a zero-byte image.
    Owned empty;
    EXPECT_NE(CopyImageLayout(&dst.img, &empty.img), kImageOk);
    ExpectEmpty(dst.img);
}

TEST(ImageBuffer, CopyPixelsStopsAtTheSmallerBlock)
{
    Owned big, small;
    ASSERT_EQ(CreateImage(&big.img, 10, 10, 1, 8), kImageOk);
    ASSERT_EQ(CreateImage(&small.img, 3, 2, 1, 8), kImageOk);
    FillImageBytes(&big.img, 9);
    FillImageBytes(&small.img, 0);
    CopyImagePixels(&small.img, &big.img);  // ASan catches a write past the 6 bytes
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Bytes(small.img)[i], 9);
    FillImageBytes(&big.img, 1);
    CopyImagePixels(&big.img, &small.img);
    EXPECT_EQ(Bytes(big.img)[5], 9);
    EXPECT_EQ(Bytes(big.img)[6], 1);
}

TEST(ImageBuffer, CopyRectByLayout)
{
    // 16-bit, 3 channels: 6 bytes per pixel, rows stepped by each image's own stride.
    Owned src, dst;
    ASSERT_EQ(CreateImage(&src.img, 4, 3, 3, 16), kImageOk);
    ASSERT_EQ(CreateImage(&dst.img, 5, 4, 3, 16), kImageOk);
    uint16_t* s = static_cast<uint16_t*>(src.img.m_pData);
    for (int i = 0; i < 4 * 3 * 3; ++i) s[i] = static_cast<uint16_t>(1000 + i);
    FillImageBytes(&dst.img, 0);
    CopyImageRect(&dst.img, &src.img, 2, 1, 1, 1, 2, 2);
    const uint16_t* d = static_cast<const uint16_t*>(dst.img.m_pData);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
            {
                const bool inside = x >= 2 && x < 4 && y >= 1 && y < 3;
                const int expect = inside ? s[((y - 1 + 1) * 4 + (x - 2 + 1)) * 3 + c] : 0;
                EXPECT_EQ(d[(y * 5 + x) * 3 + c], expect) << x << "," << y << "," << c;
            }

    // 32-bit, 3 channels: not a layout of the copier, nothing is written.
    Owned f3, g3;
    ASSERT_EQ(CreateImage(&f3.img, 3, 3, 3, 32), kImageOk);
    ASSERT_EQ(CreateImage(&g3.img, 3, 3, 3, 32), kImageOk);
    FillImageBytes(&f3.img, 7);
    FillImageBytes(&g3.img, 0);
    CopyImageRect(&g3.img, &f3.img, 0, 0, 0, 0, 3, 3);
    for (int i = 0; i < g3.img.m_iSize; ++i) ASSERT_EQ(Bytes(g3.img)[i], 0);

    // 64-bit planes copy whole doubles; 8-bit planes single bytes.
    Owned a64, b64;
    ASSERT_EQ(CreateImage(&a64.img, 3, 2, 1, 64), kImageOk);
    ASSERT_EQ(CreateImage(&b64.img, 2, 2, 1, 64), kImageOk);
    double* ad = static_cast<double*>(a64.img.m_pData);
    for (int i = 0; i < 6; ++i) ad[i] = i + 0.25;
    FillImageBytes(&b64.img, 0);
    CopyImageRect(&b64.img, &a64.img, 1, 0, 2, 0, 1, 2);
    const double* bd = static_cast<const double*>(b64.img.m_pData);
    EXPECT_EQ(bd[0], 0.0);
    EXPECT_EQ(bd[1], 2.25);
    EXPECT_EQ(bd[3], 5.25);

    Owned a8, b8;
    ASSERT_EQ(CreateImage(&a8.img, 4, 4, 1, 8), kImageOk);
    ASSERT_EQ(CreateImage(&b8.img, 4, 4, 1, 8), kImageOk);
    for (int i = 0; i < 16; ++i) Bytes(a8.img)[i] = static_cast<uint8_t>(i);
    FillImageBytes(&b8.img, 0xEE);
    CopyImageRect(&b8.img, &a8.img, 0, 0, 3, 3, 1, 1);
    CopyImageRect(&b8.img, &a8.img, 1, 1, 0, 0, 0, 3);  // zero width copies nothing
    EXPECT_EQ(Bytes(b8.img)[0], 15);
    EXPECT_EQ(Bytes(b8.img)[5], 0xEE);
}

TEST(ImageBuffer, FillRectByLayout)
{
    Owned rgb;
    ASSERT_EQ(CreateImage(&rgb.img, 4, 3, 3, 8), kImageOk);
    FillImageBytes(&rgb.img, 0);
    FillImageRect(&rgb.img, 1, 1, 3, 3, 200);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(Bytes(rgb.img)[y * 12 + x * 3 + c], (x >= 1 && x < 3 && y >= 1) ? 200 : 0);

    FillImageBytes(&rgb.img, 0);
    FillImageRect(&rgb.img, 2, 0, 2, 3, 255);  // left == right
    FillImageRect(&rgb.img, 0, 2, 4, 1, 255);  // top > bottom
    for (int i = 0; i < rgb.img.m_iSize; ++i) ASSERT_EQ(Bytes(rgb.img)[i], 0);

    Owned w16;
    ASSERT_EQ(CreateImage(&w16.img, 4, 3, 1, 16), kImageOk);
    FillImageBytes(&w16.img, 0);
    FillImageRect(&w16.img, 0, 0, 4, 3, 255);
    for (int i = 0; i < w16.img.m_iSize; ++i) ASSERT_EQ(Bytes(w16.img)[i], 0);

    Owned d64;
    ASSERT_EQ(CreateImage(&d64.img, 3, 2, 1, 64), kImageOk);
    FillImageBytes(&d64.img, 0);
    FillImageRect(&d64.img, 1, 1, 3, 2, 0);
    FillImageRect(&d64.img, 2, 0, 3, 1, 0xFF);
    const uint64_t* q = static_cast<const uint64_t*>(d64.img.m_pData);
    EXPECT_EQ(q[2], ~0ULL);
    EXPECT_EQ(q[1], 0ULL);
    EXPECT_EQ(q[5], 0ULL);
}
