// The non-local-means plane kernels, the weight tables and their cache, and the processor count.
#include "engine/NlmKernels.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/Platform.h"
#include "engine/WeightTableCache.h"
#include "tests/engine/Digest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace
{

struct Plane
{
    ImageBuffer img;
    Plane() { InitImage(&img); }
    Plane(int w, int h, int bits)
    {
        InitImage(&img);
        EXPECT_EQ(CreateImage(&img, w, h, 1, bits), kImageOk);
    }
    ~Plane() { ReleaseImage(&img); }
    uint8_t* P8() { return static_cast<uint8_t*>(img.m_pData); }
    uint16_t* P16() { return static_cast<uint16_t*>(img.m_pData); }
};

void FillRandom(uint8_t* p, size_t n, uint32_t seed)
{
    hpxtest::TestRng rng(seed);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng.Below(256));
}

// ------------------------------------------------------------------------------------------
// Mirror padding

TEST(NlmMirrorPad, RowOfTenWithPadThree)
{
    Plane p(10, 10, 8);
    FillImageBytes(&p.img, 0);
    for (int y = 3; y < 7; ++y)
        for (int x = 3; x < 7; ++x) p.P8()[y * 10 + x] = static_cast<uint8_t>(10 + (x - 3) + 20 * (y - 3));
    MirrorPadPlane8(&p.img, 3);
    const uint8_t expectRow[10] = {13, 12, 11, 10, 11, 12, 13, 12, 11, 10};
    for (int x = 0; x < 10; ++x) EXPECT_EQ(p.P8()[3 * 10 + x], expectRow[x]) << "x " << x;
    // Corners come from the mirrored inner corner: (0, 0) reads (6, 6), (9, 9) reads (3, 3).
    EXPECT_EQ(p.P8()[0], p.P8()[6 * 10 + 6]);
    EXPECT_EQ(p.P8()[99], p.P8()[3 * 10 + 3]);
    // Padded coordinate pad - 1 takes inner pad + 1, n - pad takes n - pad - 2.
    EXPECT_EQ(MirrorPadIndex(2, 10, 3), 4);
    EXPECT_EQ(MirrorPadIndex(7, 10, 3), 5);
}

TEST(NlmMirrorPad, SixteenBitMatchesEightBitAndKeepsInterior)
{
    const int w = 37, h = 29, pad = 9;
    Plane a(w, h, 8), b(w, h, 16);
    FillRandom(a.P8(), static_cast<size_t>(w) * h, 5);
    for (int i = 0; i < w * h; ++i) b.P16()[i] = static_cast<uint16_t>(a.P8()[i] * 257);
    std::vector<uint8_t> before(a.P8(), a.P8() + w * h);
    MirrorPadPlane8(&a.img, pad);
    MirrorPadPlane16(&b.img, pad);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const int i = y * w + x;
            const bool inner = y >= pad && y < h - pad && x >= pad && x < w - pad;
            if (inner)
                EXPECT_EQ(a.P8()[i], before[i]);
            else
                EXPECT_EQ(a.P8()[i], before[MirrorPadIndex(y, h, pad) * w + MirrorPadIndex(x, w, pad)]);
            EXPECT_EQ(b.P16()[i], a.P8()[i] * 257);
        }
}

TEST(NlmMirrorPad, ImageVersionPadsEveryChannel)
{
    const int w = 24, h = 20, pad = 5;
    ImageBuffer img, work;
    InitImage(&img);
    InitImage(&work);
    ASSERT_EQ(CreateImage(&img, w, h, 3, 8), kImageOk);
    ASSERT_EQ(CreateImage(&work, w, h, 1, 8), kImageOk);
    FillRandom(static_cast<uint8_t*>(img.m_pData), static_cast<size_t>(img.m_iSize), 9);
    std::vector<uint8_t> before(static_cast<uint8_t*>(img.m_pData), static_cast<uint8_t*>(img.m_pData) + img.m_iSize);
    MirrorPadImage8(&img, &work, pad);
    const uint8_t* p = static_cast<const uint8_t*>(img.m_pData);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(p[(y * w + x) * 3 + c],
                          before[(MirrorPadIndex(y, h, pad) * w + MirrorPadIndex(x, w, pad)) * 3 + c]);
    ReleaseImage(&img);
    ReleaseImage(&work);
}

TEST(NlmMirrorPad, PadRadiusAndWindows)
{
    EXPECT_EQ(NlmPadRadius(1002, 600), 35);
    EXPECT_EQ(NlmPadRadius(72, 72), 35);
    EXPECT_EQ(NlmPadRadius(40, 40), 19);
    EXPECT_EQ(NlmPadRadius(18, 200), 8);
    EXPECT_EQ(NlmOffsetCount(1), 25);
    EXPECT_EQ(NlmOffsetCount(2), 85);
    EXPECT_EQ(NlmOffsetCount(3), 221);
    EXPECT_EQ(NlmOffsetCount(0), 221);
}

// ------------------------------------------------------------------------------------------
// Distance kernels

TEST(NlmDistanceKernels, AbsDiffRowMatchesScalarOnOddWidths)
{
    std::vector<uint8_t> a(300), b(300), out(300 + 1, 0xEE);
    FillRandom(a.data(), a.size(), 1);
    FillRandom(b.data(), b.size(), 2);
    a[0] = 255;
    b[0] = 0;
    a[1] = 0;
    b[1] = 255;  // saturation both ways
    for (int n : {1, 7, 15, 16, 17, 31, 33, 255, 299})
    {
        // Unaligned pointers as well.
        for (int off : {0, 1})
        {
            std::fill(out.begin(), out.end(), 0xEE);
            AbsDiffRow(out.data() + off, a.data() + off, b.data(), n);
            for (int i = 0; i < n; ++i) ASSERT_EQ(out[off + i], std::abs(a[off + i] - b[i])) << "n " << n << " i " << i;
            EXPECT_EQ(out[off + n], 0xEE) << "wrote past the end, n " << n;
        }
    }
}

TEST(NlmDistanceKernels, AbsDiffShiftedWritesOnlyTheShiftedRectangle)
{
    const int w = 45, h = 21;
    Plane a(w, h, 8), b(w, h, 8);
    FillRandom(a.P8(), static_cast<size_t>(w) * h, 3);
    for (int dy : {-3, 0, 2})
        for (int dx : {-5, 0, 4})
        {
            std::memcpy(b.P8(), a.P8(), static_cast<size_t>(w) * h);
            AbsDiffShifted(&a.img, &b.img, std::max(dy, 0), std::max(dx, 0), std::max(-dy, 0), std::max(-dx, 0));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                {
                    const bool inside = y + dy >= 0 && y + dy < h && x + dx >= 0 && x + dx < w;
                    const int expect =
                        inside ? std::abs(a.P8()[(y + dy) * w + x + dx] - a.P8()[y * w + x]) : a.P8()[y * w + x];
                    ASSERT_EQ(b.P8()[y * w + x], expect) << dy << "," << dx << " at " << y << "," << x;
                }
        }
}

TEST(NlmDistanceKernels, SumBoxAndUpsample)
{
    const int w = 38, h = 26;  // half 19 x 13: odd half width exercises the tails
    Plane in(w, h, 8), half(w / 2, h / 2, 16), temp(w / 2, h / 2, 16), up(w, h, 16);
    FillRandom(in.P8(), static_cast<size_t>(w) * h, 4);
    in.P8()[0] = in.P8()[1] = in.P8()[w] = in.P8()[w + 1] = 255;
    Sum2x2(&half.img, &in.img);
    const int hw = w / 2, hh = h / 2;
    std::vector<int> s(static_cast<size_t>(hw) * hh);
    for (int y = 0; y < hh; ++y)
        for (int x = 0; x < hw; ++x)
        {
            s[y * hw + x] = in.P8()[2 * y * w + 2 * x] + in.P8()[2 * y * w + 2 * x + 1] +
                in.P8()[(2 * y + 1) * w + 2 * x] + in.P8()[(2 * y + 1) * w + 2 * x + 1];
            ASSERT_EQ(half.P16()[y * hw + x], s[y * hw + x]);
        }
    EXPECT_EQ(half.P16()[0], 1020);
    BoxSum3x3(&temp.img, &half.img);
    for (int y = 0; y < hh; ++y)
        for (int x = 0; x < hw; ++x)
        {
            int expect = s[y * hw + x];
            if (y > 0 && y < hh - 1 && x > 0 && x < hw - 1)
            {
                expect = 0;
                for (int j = -1; j <= 1; ++j)
                    for (int i = -1; i <= 1; ++i) expect += s[(y + j) * hw + x + i];
            }
            ASSERT_EQ(half.P16()[y * hw + x], expect) << y << "," << x;
        }
    Upsample2x(&up.img, &half.img);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(up.P16()[y * w + x], half.P16()[(y / 2) * hw + x / 2]);
}

// ------------------------------------------------------------------------------------------
// Weight tables and their cache

TEST(NlmWeightTables, TableValues)
{
    std::vector<int> t(9216);
    FillWeightTable(t.data(), 9216, 1.0);
    EXPECT_EQ(t[0], 10000);
    EXPECT_EQ(t[10], 357);  // trunc(exp(-1000/300) x 10000 + 0.5)
    EXPECT_EQ(t[9215], 0);
    for (int d = 1; d < 9216; ++d) ASSERT_LE(t[d], t[d - 1]);
    // Strength 0 (h = 0): only identical patches weigh.
    FillWeightTable(t.data(), 9216, 0.0);
    EXPECT_EQ(t[0], 10000);
    EXPECT_EQ(t[1], 0);
}

TEST(NlmWeightTables, DynamicsShapesLevels)
{
    CWeightTableCache cache;
    const double h = std::pow(8.0, 3.5);
    ASSERT_EQ(cache.Build(2.0, h, 6), 0);
    int** tables = nullptr;
    ASSERT_FALSE(cache.Find(&tables, 2.0, h, 6));
    std::vector<int> expect(9216);
    for (int level : {0, 100, 255})
    {
        FillWeightTable(expect.data(), 9216, h * (1.0 + 2.0 * level / 256.0));
        EXPECT_EQ(0, std::memcmp(tables[level], expect.data(), 9216 * sizeof(int))) << level;
    }
    EXPECT_GT(tables[255][60], tables[0][60]);  // positive dynamics smooths bright pixels more
    ASSERT_EQ(cache.Build(-2.0, h, 6), 0);
    ASSERT_FALSE(cache.Find(&tables, -2.0, h, 6));
    FillWeightTable(expect.data(), 9216, h * (1.0 + 255 * 2.0 / 256.0));
    EXPECT_EQ(0, std::memcmp(tables[0], expect.data(), 9216 * sizeof(int)));
    FillWeightTable(expect.data(), 9216, h);
    EXPECT_EQ(0, std::memcmp(tables[255], expect.data(), 9216 * sizeof(int)));
}

TEST(NlmWeightTables, CacheMatchesWithinOneThousandth)
{
    CWeightTableCache cache;
    int** tables = nullptr;
    EXPECT_TRUE(cache.Find(&tables, 0.5, 100.0, 6));
    ASSERT_EQ(cache.Build(0.5, 100.0, 6), 0);
    int** found = nullptr;
    EXPECT_FALSE(cache.Find(&found, 0.5005, 100.0, 6));
    EXPECT_EQ(found, cache.SlotTables(0));
    EXPECT_FALSE(cache.Find(&found, 0.5, 100.0009, 6));
    EXPECT_TRUE(cache.Find(&found, 0.502, 100.0, 6));
    EXPECT_TRUE(cache.Find(&found, 0.5, 100.002, 6));
    EXPECT_TRUE(cache.Find(&found, 0.5, 100.0, 5));  // another key
}

TEST(NlmWeightTables, CacheReplacesRoundRobin)
{
    CWeightTableCache cache;
    for (int i = 0; i < 9; ++i) ASSERT_EQ(cache.Build(0.1 * i, 10.0 + i, 6), 0);
    int** found = nullptr;
    EXPECT_TRUE(cache.Find(&found, 0.0, 10.0, 6));  // the first two were overwritten
    EXPECT_TRUE(cache.Find(&found, 0.1, 11.0, 6));
    for (int i = 2; i < 9; ++i) EXPECT_FALSE(cache.Find(&found, 0.1 * i, 10.0 + i, 6)) << i;
    EXPECT_EQ(cache.NextSlot(), 2);
    // Asking for the first again rebuilds it into the slot of the third.
    ASSERT_EQ(cache.Build(0.0, 10.0, 6), 0);
    ASSERT_FALSE(cache.Find(&found, 0.0, 10.0, 6));
    EXPECT_EQ(found, cache.SlotTables(2));
    EXPECT_TRUE(cache.Find(&found, 0.2, 12.0, 6));
    EXPECT_EQ(cache.NextSlot(), 3);
}

// A build that fails leaves no slot claiming the parameter set it was overwriting.
TEST(NlmWeightTables, FailedBuildLeavesTheOverwrittenSlotInvalid)
{
    CWeightTableCache cache;
    for (int i = 0; i < 7; ++i) ASSERT_EQ(cache.Build(0.0, 100.0 + i, 6), 0);
    ASSERT_EQ(cache.NextSlot(), 0);
    int** found = nullptr;
    ASSERT_FALSE(cache.Find(&found, 0.0, 100.0, 6));
    EXPECT_EQ(cache.Build(1.0, 5.0, 0), 1);  // fails after claiming slot 0
    EXPECT_FALSE(cache.IsSlotValid(0));
    EXPECT_TRUE(cache.Find(&found, 0.0, 100.0, 6));
    EXPECT_EQ(cache.NextSlot(), 0);  // the next build retries the same slot
    ASSERT_EQ(cache.Build(0.0, 100.0, 6), 0);
    EXPECT_FALSE(cache.Find(&found, 0.0, 100.0, 6));
    EXPECT_EQ(found, cache.SlotTables(0));
}

TEST(NlmWeightTables, AcquireUsesTheSharedCache)
{
    int** a = AcquireWeightTables(0.25, 1234.5);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(AcquireWeightTables(0.2504, 1234.5), a);
    EXPECT_EQ(a[17][0], 10000);
}

// ------------------------------------------------------------------------------------------
// Processor count

TEST(NlmProcessors, AffinityBitLength)
{
    EXPECT_EQ(AffinityBitLength(0), 0u);
    EXPECT_EQ(AffinityBitLength(0b1011), 4u);  // the highest bit, not the number of bits
    EXPECT_EQ(AffinityBitLength(0x80000000u), 32u);
    EXPECT_EQ(AffinityBitLength(1), 1u);
    const unsigned char n = CountProcessors();
    EXPECT_GE(n, 1);
    EXPECT_EQ(n, g_byCpuCount);
}

}  // namespace
