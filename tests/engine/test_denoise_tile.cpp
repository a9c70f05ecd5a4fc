// The per-tile pipeline: which strength goes to which plane, pre-blur, median, chroma-spot pass,
// and what a tile does when its memory runs out.
#include "engine/DenoiseTile.h"
#include "engine/GaussianBlur.h"
#include "engine/ImageConvert.h"
#include "engine/ImagePyramid.h"
#include "engine/Median.h"

#include "Digest.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

using jobtest::CleanJobState;
using jobtest::Owned;

namespace
{

struct TileSettings
{
    double luma = 10.0, chroma = 12.0, large = 0.0;
    int quality = 1;
    double dynamics = 0.3;
    int median = 0;
    int threads = 2;
};

// The colour pipeline written out step by step with the library's own passes.
void ReferenceColourTile(ImageBuffer* dst, const ImageBuffer* src, const TileSettings& s, bool preBlur)
{
    Owned work, ycc, a, b;
    jobtest::CopyOf(&work.img, src);
    if (s.median == 1 || s.median == 2) MedianFilterImage(&work.img, src, s.median == 1 ? 1 : 3);
    jobtest::CopyOf(&ycc.img, &work.img);
    RgbToYCbCr(&ycc.img, &work.img);
    if (preBlur) GaussianBlurYCbCr(&ycc.img, PreBlurSigma(s.luma), PreBlurSigma(s.chroma));
    CreateImage(&a.img, src->m_iWidth, src->m_iHeight, 1, src->m_iBits);
    CreateImage(&b.img, src->m_iWidth, src->m_iHeight, 1, src->m_iBits);
    for (int c = 0; c < 3; ++c)
    {
        ExtractChannel(&a.img, c, &ycc.img);
        NlmPlaneDenoise(&b.img, &a.img, c == 0 ? s.luma : s.chroma, s.quality, s.dynamics, nullptr, false, 1);
        if (c > 0 && s.large > 1.0)
            PyramidDenoise(&b.img, &b.img, static_cast<int>(s.large), s.quality, s.dynamics, nullptr, 3, false, 1);
        InsertChannel(&ycc.img, c, &b.img);
    }
    CopyImageLayout(dst, src);
    YCbCrToRgb(dst, &ycc.img);
}

unsigned char RunTile(ImageBuffer* dst, ImageBuffer* src, const TileSettings& s, bool colour = true, bool gpu = false)
{
    CopyImageLayout(dst, src);
    return DenoiseTile(dst, src, s.luma, s.chroma, s.large, s.quality, s.dynamics, nullptr, colour, gpu, s.threads,
                       s.median);
}

}  // namespace

TEST(DenoiseTile, ColourTileFollowsTheStepsOnYCbCrPlanes)
{
    CleanJobState clean;
    Owned src, before;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 90, 70, 3, 8, 31));
    ASSERT_TRUE(jobtest::CopyOf(&before.img, &src.img));

    struct Case
    {
        const char* what;
        TileSettings s;
        bool preBlur;
    };
    TileSettings plain;       // no blur, no chroma-spot pass
    TileSettings chromaBlur;  // luma 10, chroma 30: only chroma is pre-blurred
    chromaBlur.chroma = 30.0;
    TileSettings largeOne;  // 1 runs no chroma-spot pass
    largeOne.large = 1.0;
    TileSettings largeTrunc;  // 6.5 runs it with strength 6
    largeTrunc.large = 6.5;
    TileSettings strong;  // both pre-blurs, median 3x3, quality 2
    strong.luma = 26.0;
    strong.chroma = 50.0;
    strong.median = 1;
    strong.quality = 2;
    strong.threads = 3;
    const Case cases[] = {{"plain", plain, false},
                          {"chroma blur", chromaBlur, true},
                          {"large 1", largeOne, false},
                          {"large 6.5", largeTrunc, false},
                          {"strong", strong, true}};
    for (const Case& c : cases)
    {
        Owned got, want;
        ASSERT_EQ(RunTile(&got.img, &src.img, c.s), kImageOk) << c.what;
        ReferenceColourTile(&want.img, &before.img, c.s, c.preBlur);
        EXPECT_TRUE(jobtest::SameBytes(&got.img, &want.img)) << c.what;
        EXPECT_TRUE(jobtest::SameBytes(&src.img, &before.img)) << c.what << ": the source must come back unchanged";
    }

    // 6.9 truncates to the same strength-6 pass as 6.1 does.
    TileSettings a = plain, b = plain;
    a.large = 6.9;
    b.large = 6.1;
    Owned ra, rb, r0;
    RunTile(&ra.img, &src.img, a);
    RunTile(&rb.img, &src.img, b);
    RunTile(&r0.img, &src.img, plain);
    EXPECT_TRUE(jobtest::SameBytes(&ra.img, &rb.img));
    EXPECT_FALSE(jobtest::SameBytes(&ra.img, &r0.img)) << "6.9 must run the chroma-spot pass";
}

TEST(DenoiseTile, GreyPathAndMedianModes)
{
    CleanJobState clean;
    // A one-channel source takes the grey path even with bColor set: one plane pass at dStrength.
    Owned grey, got, want;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&grey.img, 64, 50, 1, 16, 8));
    TileSettings s;
    s.luma = 12.0;
    s.chroma = 40.0;
    s.large = 5.0;  // never used on grey planes
    s.threads = 1;  // 16-bit sums: keep the order of additions of the reference
    ASSERT_EQ(RunTile(&got.img, &grey.img, s, true), kImageOk);
    Owned in;
    ASSERT_TRUE(jobtest::CopyOf(&in.img, &grey.img));
    CopyImageLayout(&want.img, &grey.img);
    NlmPlaneDenoise(&want.img, &in.img, 12.0, 1, s.dynamics, nullptr, false, 1);
    EXPECT_TRUE(jobtest::SameBytes(&got.img, &want.img));

    // Grey pre-blur above 25.
    s.luma = 26.0;
    Owned blurredGot, blurredWant;
    ASSERT_EQ(RunTile(&blurredGot.img, &grey.img, s, false), kImageOk);
    ASSERT_TRUE(jobtest::CopyOf(&in.img, &grey.img));
    GaussianBlurPlane(&in.img, static_cast<float>(PreBlurSigma(26.0)));
    CopyImageLayout(&blurredWant.img, &grey.img);
    NlmPlaneDenoise(&blurredWant.img, &in.img, 26.0, 1, s.dynamics, nullptr, false, 1);
    EXPECT_TRUE(jobtest::SameBytes(&blurredGot.img, &blurredWant.img));

    // Median modes other than 1 and 2 run no median; 2 runs the 7x7 one.
    Owned impulses;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&impulses.img, 40, 40, 1, 8, 9));
    for (int i = 0; i < 40 * 40; i += 37) static_cast<uint8_t*>(impulses.img.m_pData)[i] = 255;
    TileSettings m;
    Owned none, three, minus, seven;
    m.median = 0;
    RunTile(&none.img, &impulses.img, m);
    m.median = 3;
    RunTile(&three.img, &impulses.img, m);
    m.median = -1;
    RunTile(&minus.img, &impulses.img, m);
    m.median = 2;
    RunTile(&seven.img, &impulses.img, m);
    EXPECT_TRUE(jobtest::SameBytes(&none.img, &three.img));
    EXPECT_TRUE(jobtest::SameBytes(&none.img, &minus.img));
    Owned filtered, sevenWant;
    ASSERT_TRUE(jobtest::CopyOf(&filtered.img, &impulses.img));
    MedianFilterImage(&filtered.img, &impulses.img, 3);
    CopyImageLayout(&sevenWant.img, &filtered.img);
    NlmPlaneDenoise(&sevenWant.img, &filtered.img, m.luma, 1, m.dynamics, nullptr, false, 1);
    EXPECT_TRUE(jobtest::SameBytes(&seven.img, &sevenWant.img));

    // A 3-channel source without bColor is not a supported tile: dst is the source.
    Owned colour, out;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&colour.img, 20, 20, 3, 8, 1));
    EXPECT_EQ(RunTile(&out.img, &colour.img, TileSettings(), false), kImageBadArgs);
    EXPECT_TRUE(jobtest::SameBytes(&out.img, &colour.img));
}

TEST(DenoiseTile, GpuColourPathUsesTheJointPassAndChromaSpotPassesOnTheHook)
{
    CleanJobState clean;
    jobtest::FakeGpuInstalled gpu;
    Owned src;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 80, 60, 3, 8, 17));
    TileSettings s;
    s.large = 2.0;
    s.chroma = 28.0;
    Owned viaGpu, viaCpu;
    ASSERT_EQ(RunTile(&viaGpu.img, &src.img, s, true, true), kImageOk);
    EXPECT_EQ(jobtest::FakeGpu().jointCalls.load(), 1);
    EXPECT_EQ(jobtest::FakeGpu().planeCalls.load(), 2) << "one chroma-spot pass per chroma plane";
    ASSERT_EQ(RunTile(&viaCpu.img, &src.img, s, true, false), kImageOk);
    EXPECT_EQ(jobtest::FakeGpu().jointCalls.load(), 1) << "the CPU path never calls the hook";
    // The stand-in GPU runs the CPU passes, so both paths agree.
    EXPECT_TRUE(jobtest::SameBytes(&viaGpu.img, &viaCpu.img));
}

TEST(DenoiseTile, RunningOutOfMemoryLeavesACopyOfTheSource)
{
    CleanJobState clean;
    Owned src, before, full;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 72, 56, 3, 16, 23));
    ASSERT_TRUE(jobtest::CopyOf(&before.img, &src.img));
    TileSettings s;
    s.luma = 30.0;
    s.chroma = 30.0;
    s.large = 2.0;
    s.median = 1;
    ASSERT_EQ(RunTile(&full.img, &src.img, s), kImageOk);

    // Fail the n-th temporary for every n until the tile gets all it needs.
    int failures = 0;
    for (int allowed = 0; allowed < 60; ++allowed)
    {
        Owned dst;
        ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
        FillImageBytes(&dst.img, 0xEE);
        SimulateTileAllocationFailures(allowed);
        const unsigned char r = DenoiseTile(&dst.img, &src.img, s.luma, s.chroma, s.large, s.quality, s.dynamics,
                                            nullptr, true, false, s.threads, s.median);
        SimulateTileAllocationFailures(-1);
        ASSERT_TRUE(jobtest::SameBytes(&src.img, &before.img)) << "allowed " << allowed;
        if (r == kImageOk)
        {
            EXPECT_TRUE(jobtest::SameBytes(&dst.img, &full.img));
            break;
        }
        ++failures;
        EXPECT_EQ(r, kImageNoMemory);
        EXPECT_TRUE(jobtest::SameBytes(&dst.img, &src.img)) << "allowed " << allowed;
    }
    EXPECT_GT(failures, 8) << "every temporary of the tile goes through the failure points";
}
