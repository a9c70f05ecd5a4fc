// Gaussian pre-blur, the 5-tap pyramid, detail gains and the large chroma-spot pass.
#include "engine/DenoiseTile.h"
#include "engine/GaussianBlur.h"
#include "engine/ImageConvert.h"
#include "engine/ImagePyramid.h"

#include "Digest.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

using jobtest::CleanJobState;
using jobtest::Owned;

namespace
{

uint8_t* Bytes(ImageBuffer& img) { return static_cast<uint8_t*>(img.m_pData); }

int MaxAbsDiff8(const ImageBuffer& a, const ImageBuffer& b)
{
    int worst = 0;
    for (int32_t i = 0; i < a.m_iSize; ++i)
        worst = std::max(worst,
                         std::abs(int(static_cast<uint8_t*>(a.m_pData)[i]) - int(static_cast<uint8_t*>(b.m_pData)[i])));
    return worst;
}

}  // namespace

TEST(GaussianBlur, KernelAndPreBlurSigmas)
{
    // Strengths up to 25 get no blur; above, ln(s - 24) / 2 + 0.2.
    EXPECT_LT(PreBlurSigma(25.0), 0.0);
    EXPECT_LT(PreBlurSigma(10.0), 0.0);
    EXPECT_NEAR(PreBlurSigma(26.0), 0.5466, 5e-5);
    EXPECT_NEAR(PreBlurSigma(30.0), 1.0959, 5e-5);
    EXPECT_NEAR(PreBlurSigma(50.0), 1.8290, 5e-5);

    float taps[11];
    MakeGaussianKernel(taps, 11, static_cast<float>(PreBlurSigma(26.0)));
    const float expected[11] = {0, 0, 0, 0.0009f, 0.1362f, 0.7259f, 0.1362f, 0.0009f, 0, 0, 0};
    float sum = 0.0f;
    for (int i = 0; i < 11; ++i)
    {
        EXPECT_NEAR(taps[i], expected[i], 1e-4) << "tap " << i - 5;
        sum += taps[i];
    }
    EXPECT_NEAR(sum, 1.0f, 1e-6);
    // Taps whose exponent exceeds 20 are exactly zero (j = 5 at sigma 0.5466).
    EXPECT_EQ(taps[0], 0.0f);
    EXPECT_EQ(taps[10], 0.0f);
}

TEST(GaussianBlur, ImpulseSpreadsAsKernelAndBordersRenormalise)
{
    Owned plane;
    ASSERT_EQ(CreateImage(&plane.img, 21, 17, 1, 32), kImageOk);
    float* f = static_cast<float*>(plane.img.m_pData);
    for (int i = 0; i < 21 * 17; ++i) f[i] = 10.0f;
    f[8 * 21 + 10] = 1010.0f;
    ASSERT_EQ(GaussianBlurPlane(&plane.img, 1.0f), kImageOk);
    float taps[11];
    MakeGaussianKernel(taps, 11, 1.0f);
    // Far from the borders: background 10 plus 1000 x t(dx) x t(dy); the border rows and columns
    // keep the constant background because the cut kernel is renormalised.
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 21; ++x)
        {
            const int dx = x - 10, dy = y - 8;
            const float want =
                (std::abs(dx) <= 5 && std::abs(dy) <= 5) ? 10.0f + 1000.0f * taps[dx + 5] * taps[dy + 5] : 10.0f;
            ASSERT_NEAR(f[y * 21 + x], want, 1e-3) << x << "," << y;
        }

    // 8-bit plane: a constant stays constant up to the truncation back to integers (the float
    // quotient may land just below the value), and unsupported layouts are refused untouched.
    Owned grey;
    ASSERT_EQ(CreateImage(&grey.img, 9, 30, 1, 8), kImageOk);
    FillImageBytes(&grey.img, 77);
    ASSERT_EQ(GaussianBlurPlane(&grey.img, 1.8f), kImageOk);
    for (int i = 0; i < grey.img.m_iSize; ++i) ASSERT_TRUE(Bytes(grey.img)[i] == 77 || Bytes(grey.img)[i] == 76) << i;
    Owned colour;
    ASSERT_EQ(CreateImage(&colour.img, 4, 4, 3, 8), kImageOk);
    EXPECT_EQ(GaussianBlurPlane(&colour.img, 1.0f), kImageBadArgs);
}

TEST(GaussianBlur, YCbCrBlursOnlyTheRequestedParts)
{
    Owned ycc, before;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&ycc.img, 40, 30, 3, 16, 7));
    ASSERT_TRUE(jobtest::CopyOf(&before.img, &ycc.img));
    ASSERT_EQ(GaussianBlurYCbCr(&ycc.img, -1.0, PreBlurSigma(30.0)), kImageOk);

    Owned c0, c0b, c1, c1b;
    for (Owned* o : {&c0, &c0b, &c1, &c1b}) ASSERT_EQ(CreateImage(&o->img, 40, 30, 1, 16), kImageOk);
    ExtractChannel(&c0.img, 0, &ycc.img);
    ExtractChannel(&c0b.img, 0, &before.img);
    EXPECT_TRUE(jobtest::SameBytes(&c0.img, &c0b.img)) << "luma must stay untouched";
    ExtractChannel(&c1.img, 1, &ycc.img);
    ExtractChannel(&c1b.img, 1, &before.img);
    ASSERT_EQ(GaussianBlurPlane(&c1b.img, static_cast<float>(PreBlurSigma(30.0))), kImageOk);
    EXPECT_TRUE(jobtest::SameBytes(&c1.img, &c1b.img)) << "chroma blurred like a plane of its own";

    // Both parts skipped: nothing changes.
    Owned copy;
    ASSERT_TRUE(jobtest::CopyOf(&copy.img, &before.img));
    ASSERT_EQ(GaussianBlurYCbCr(&copy.img, -1.0, 0.0), kImageOk);
    EXPECT_TRUE(jobtest::SameBytes(&copy.img, &before.img));
}

TEST(ImagePyramid, LevelCountsAndSizes)
{
    EXPECT_EQ(PyramidLevelCount(1000, 1000, 3, 8), 3);
    EXPECT_EQ(PyramidLevelCount(30, 20, 3, 8), 3);
    EXPECT_EQ(PyramidLevelCount(18, 18, 3, 8), 2);
    EXPECT_EQ(PyramidLevelCount(4, 400, 3, 8), 0);
    EXPECT_EQ(PyramidLevelCount(1000, 1000, 3, 1), 1);
    EXPECT_EQ(PyramidLevelCount(100000, 100000, 9, 9), 3) << "the record holds at most 4 levels";

    Owned img;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&img.img, 30, 20, 3, 8, 3));
    ImagePyramid pyr;
    ASSERT_FALSE(BuildImagePyramid(&pyr, &img.img, 3, 8));
    EXPECT_EQ(pyr.m_uiLevels, 3u);
    const uint32_t w[] = {30, 15, 7, 3}, h[] = {20, 10, 5, 2};
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(pyr.m_uiLevelWidth[i], w[i]);
        EXPECT_EQ(pyr.m_uiLevelHeight[i], h[i]);
        for (int set = 0; set < kPyramidPlaneSets; ++set) EXPECT_NE(pyr.m_pPlanes[set][i], nullptr);
    }
    EXPECT_FLOAT_EQ(pyr.m_fKernel[2][2], 0.16f);
    // Level 3 (3 x 2) is below the REDUCE limit and stays zero.
    for (int i = 0; i < 6; ++i) EXPECT_EQ(pyr.m_pPlanes[kPyramidSetGauss][3][i], 0.0f);
    // Building again on the same record releases the first pyramid (the leak sanitizer checks).
    ASSERT_FALSE(BuildImagePyramid(&pyr, &img.img, 2, 8));
    EXPECT_EQ(pyr.m_uiLevels, 2u);
    ReleaseImagePyramid(&pyr);
    EXPECT_EQ(pyr.m_pPlanes[0][0], nullptr);

    // A missing source fails and leaves nothing to free.
    EXPECT_TRUE(BuildImagePyramid(&pyr, nullptr, 3, 8));
    ReleaseImagePyramid(&pyr);
}

TEST(ImagePyramid, ReduceAndExpandKeepFlatPlanesFlat)
{
    float kernel[5][5];
    MakePyramidKernel(kernel);
    std::vector<float> big(40 * 24, 50.0f), small(20 * 12, -1.0f), back(40 * 24, -1.0f);
    PyramidReduce(small.data(), 20, 12, big.data(), 40, 24, kernel);
    for (float v : small) ASSERT_NEAR(v, 50.0f, 1e-4);
    PyramidExpand(back.data(), 40, 24, small.data(), 20, 12, kernel);
    // Interior samples get the full interpolation weight (4 x 1/4).
    for (int y = 2; y < 22; ++y)
        for (int x = 2; x < 38; ++x) ASSERT_NEAR(back[y * 40 + x], 50.0f, 1e-4) << x << "," << y;
    // Too small an output: REDUCE leaves it alone.
    std::vector<float> tiny(4 * 4, 7.0f);
    PyramidReduce(tiny.data(), 4, 4, big.data(), 8, 8, kernel);
    for (float v : tiny) EXPECT_EQ(v, 7.0f);
}

TEST(ImagePyramid, DetailGains)
{
    CleanJobState clean;
    Owned src;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 64, 48, 3, 8, 11));
    ImagePyramid pyr;
    ASSERT_FALSE(BuildImagePyramid(&pyr, &src.img, 3, 8));

    // Gains within 0.00001 of 1: dst untouched, even when it differs from the source.
    Owned dst;
    ASSERT_EQ(CreateImage(&dst.img, 64, 48, 3, 8), kImageOk);
    FillImageBytes(&dst.img, 9);
    EXPECT_EQ(ApplyDetailGains(&dst.img, &pyr, 1.0, 1.0, 1.000005), 0);
    EXPECT_TRUE(jobtest::RectIsByte(&dst.img, 0, 0, 64, 48, 9));

    // Another shape: 1, untouched.
    Owned other;
    ASSERT_EQ(CreateImage(&other.img, 63, 48, 3, 8), kImageOk);
    FillImageBytes(&other.img, 5);
    EXPECT_EQ(ApplyDetailGains(&other.img, &pyr, 1.5, 1.0, 1.0), 1);
    EXPECT_TRUE(jobtest::RectIsByte(&other.img, 0, 0, 63, 48, 5));
    Owned deeper;
    ASSERT_EQ(CreateImage(&deeper.img, 64, 48, 3, 16), kImageOk);
    EXPECT_EQ(ApplyDetailGains(&deeper.img, &pyr, 1.5, 1.0, 1.0), 1);

    // Unit gains through the rebuild reproduce the image (the truncation may lose one level).
    Owned plane;
    ASSERT_EQ(CreateImage(&plane.img, 64, 48, 1, 8), kImageOk);
    Owned chan;
    ASSERT_EQ(CreateImage(&chan.img, 64, 48, 1, 8), kImageOk);
    for (int c = 0; c < 3; ++c)
    {
        CollapseWithGains(&plane.img, &pyr, 1.0, 1.0, 1.0, c);
        ExtractChannel(&chan.img, c, &src.img);
        EXPECT_LE(MaxAbsDiff8(plane.img, chan.img), 1) << "channel " << c;
    }

    // gain1 = 1.5 adds half of the finest Laplacian level and nothing coarser.
    ASSERT_TRUE(jobtest::CopyOf(&dst.img, &src.img));
    ASSERT_EQ(ApplyDetailGains(&dst.img, &pyr, 1.5, 1.0, 1.0), 0);
    Owned again;
    ASSERT_TRUE(jobtest::CopyOf(&again.img, &src.img));
    ASSERT_EQ(ApplyDetailGains(&again.img, &pyr, 1.5, 1.0, 1.0), 0);
    EXPECT_TRUE(jobtest::SameBytes(&dst.img, &again.img)) << "repeated rebuilds agree";
    bool changed = false;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c)
            {
                const float g0 = static_cast<float>(Bytes(src.img)[(y * 64 + x) * 3 + c]);
                float want = g0 + 0.5f * pyr.m_pPlanes[kPyramidSetLaplace + c][0][y * 64 + x];
                want = want < 0 ? 0 : (want > 255 ? 255 : want);
                const int got = Bytes(dst.img)[(y * 64 + x) * 3 + c];
                ASSERT_NEAR(got, want, 1.01) << x << "," << y << "," << c;
                changed |= got != static_cast<int>(g0);
            }
    EXPECT_TRUE(changed);
    ReleaseImagePyramid(&pyr);

    // A grey image is rebuilt from channel 0 directly.
    Owned grey, greyDst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&grey.img, 50, 40, 1, 16, 12));
    ASSERT_FALSE(BuildImagePyramid(&pyr, &grey.img, 3, 8));
    ASSERT_TRUE(jobtest::CopyOf(&greyDst.img, &grey.img));
    EXPECT_EQ(ApplyDetailGains(&greyDst.img, &pyr, 0.0, 0.0, 0.0), 0);
    EXPECT_FALSE(jobtest::SameBytes(&greyDst.img, &grey.img)) << "zero gains drop the detail";
    ReleaseImagePyramid(&pyr);
}

TEST(ImagePyramid, ChromaSpotPass)
{
    CleanJobState clean;
    // Strength 0 returns the plane unchanged up to the rounding of the quarter-size level.
    Owned plane, out;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&plane.img, 96, 80, 1, 8, 21));
    ASSERT_EQ(CopyImageLayout(&out.img, &plane.img), kImageOk);
    ASSERT_FALSE(PyramidDenoise(&out.img, &plane.img, 0, 1, 0.0, nullptr, 3, false, 2));
    EXPECT_LE(MaxAbsDiff8(out.img, plane.img), 1);

    // Blotches 16 pixels wide around a flat chroma value shrink, far more than under a plain
    // pass of the same strength; the source stays as it was.
    Owned blotchy, before;
    ASSERT_EQ(CreateImage(&blotchy.img, 128, 128, 1, 8), kImageOk);
    hpxtest::TestRng rng(5);
    for (int by = 0; by < 8; ++by)
        for (int bx = 0; bx < 8; ++bx)
        {
            const int v = 128 + static_cast<int>(rng.Below(21)) - 10;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    Bytes(blotchy.img)[(by * 16 + y) * 128 + bx * 16 + x] = static_cast<uint8_t>(v);
        }
    ASSERT_TRUE(jobtest::CopyOf(&before.img, &blotchy.img));
    Owned cleaned;
    ASSERT_EQ(CopyImageLayout(&cleaned.img, &blotchy.img), kImageOk);
    ASSERT_FALSE(PyramidDenoise(&cleaned.img, &blotchy.img, 20, 2, 0.0, nullptr, 3, false, 3));
    EXPECT_TRUE(jobtest::SameBytes(&blotchy.img, &before.img));
    auto deviation = [](const ImageBuffer& img)
    {
        double s = 0;
        for (int32_t i = 0; i < img.m_iSize; ++i) s += std::abs(static_cast<uint8_t*>(img.m_pData)[i] - 128.0);
        return s / img.m_iSize;
    };
    EXPECT_LT(deviation(cleaned.img), 0.7 * deviation(blotchy.img));
    Owned plain;
    ASSERT_EQ(CopyImageLayout(&plain.img, &blotchy.img), kImageOk);
    NlmPlaneDenoise(&plain.img, &blotchy.img, 20, 2, 0.0, nullptr, false, 3);
    EXPECT_LT(deviation(cleaned.img), 0.8 * deviation(plain.img));

    // In place on a 16-bit plane works as well.
    Owned deep;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&deep.img, 70, 66, 1, 16, 2));
    ASSERT_FALSE(PyramidDenoise(&deep.img, &deep.img, 3, 1, 0.5, nullptr, 3, false, 1));
}

TEST(ImagePyramid, RunningOutOfMemoryLosesNothing)
{
    CleanJobState clean;
    Owned plane, out;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&plane.img, 96, 80, 1, 8, 4));
    ASSERT_EQ(CopyImageLayout(&out.img, &plane.img), kImageOk);
    // Every allocation point in turn: the pass reports the failure and dst is the source.
    bool succeeded = false;
    for (int allowed = 0; allowed < 30 && !succeeded; ++allowed)
    {
        FillImageBytes(&out.img, 1);
        SimulateTileAllocationFailures(allowed);
        const bool failed = PyramidDenoise(&out.img, &plane.img, 10, 1, 0.0, nullptr, 3, false, 1);
        SimulateTileAllocationFailures(-1);
        if (failed) EXPECT_TRUE(jobtest::SameBytes(&out.img, &plane.img)) << "allowed " << allowed;
        succeeded = !failed;
    }
    EXPECT_TRUE(succeeded);

    ImagePyramid pyr;
    Owned colour;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&colour.img, 40, 40, 3, 8, 4));
    SimulateTileAllocationFailures(13);
    EXPECT_TRUE(BuildImagePyramid(&pyr, &colour.img, 3, 8));
    SimulateTileAllocationFailures(-1);
    ReleaseImagePyramid(&pyr);  // frees what was allocated (checked by the leak sanitizer)

    Owned blurred, original;
    ASSERT_TRUE(jobtest::CopyOf(&blurred.img, &plane.img));
    ASSERT_TRUE(jobtest::CopyOf(&original.img, &plane.img));
    SimulateTileAllocationFailures(1);
    EXPECT_EQ(GaussianBlurPlane(&blurred.img, 1.2f), kImageNoMemory);
    SimulateTileAllocationFailures(-1);
    EXPECT_TRUE(jobtest::SameBytes(&blurred.img, &original.img));
}
