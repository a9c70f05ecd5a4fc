// The GPU drivers in the engine's hook: their edge cases, and whole jobs on the GPU against the
// same jobs on the CPU engine.
//
// Tolerances of the comparisons. The two paths compute the same filter but not the same numbers:
// - the CPU weighs with integer tables (1/10000 units, rounded), sums integers for 8-bit planes
//   and evaluates one weight per 2x2 block (its top-left pixel's distance and grey level, applied
//   to all four pixels); the GPU weighs every pixel in single-precision floats;
// - the mirrored neighbour's weight takes its dynamics term from the CPU pixel's own level but
//   from the neighbour's level on the GPU;
// - 16-bit planes: the CPU measures distances on an 8-bit guide (top byte), the GPU on the full
//   depth scaled to 0..256, so distances differ by up to one level per sample.
// All of this moves single weights, not the structure: on smooth noisy test images the mean
// difference stays below half a level and single samples differ by a few levels (llvmpipe: 8-bit
// mean 0.23..0.46, max 3..6; 16-bit mean 15..18, max 97..152 sixteen-bit levels, that is below
// 0.6 of an 8-bit level). The limits are about three times that: 8-bit mean 1.5 and max 16,
// 16-bit mean 64 and max 512 (a quarter and two 8-bit levels). Every comparison prints its figures.
#include "GpuTestSupport.h"

#include "engine/DenoiseImage.h"
#include "engine/GpuHook.h"
#include "engine/ImageBuffer.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/Platform.h"
#include "gpu/GpuJob.h"
#include "gpu/NlmGpu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace
{

// Counts progress; optionally raises the abort flag at a given step.
struct Counter
{
    int setups = 0;
    uint32_t total = 0;
    int steps = 0;
    int abortAt = -1;
};
Counter g_counter;
void CountSetup(void*, HpxProgressTarget, uint32_t total)
{
    ++g_counter.setups;
    g_counter.total = total;
}
void CountStep(void*, HpxProgressTarget)
{
    ++g_counter.steps;
    if (g_counter.steps == g_counter.abortAt) g_bAbort = 1;
}
const ProgressSink kCounterSink = {&CountSetup, &CountStep, nullptr};
HpxProgressTarget Tag() { return reinterpret_cast<HpxProgressTarget>(static_cast<uintptr_t>(0x1234)); }

class GpuEngine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gpu = TestGpu();
        ASSERT_TRUE(gpu->IsReady());
        InstallGpuDrivers(true);
        g_counter = Counter();
        SetProgressSink(&kCounterSink);
        g_bAbort = 0;
        g_bGpuPassFailed = false;
    }
    void TearDown() override
    {
        SetProgressSink(nullptr);
        InstallGpuDrivers(false);
        g_bAbort = 0;
    }
    CGPGPU* gpu = nullptr;
};

struct Image
{
    ImageBuffer b;
    Image() { InitImage(&b); }
    Image(int w, int h, int ch, int bits) : Image() { CreateImage(&b, w, h, ch, bits); }
    ~Image() { ReleaseImage(&b); }
    Image(const Image&) = delete;
    std::vector<uint8_t> Bytes() const
    {
        const uint8_t* p = static_cast<const uint8_t*>(b.m_pData);
        return p ? std::vector<uint8_t>(p, p + b.m_iSize) : std::vector<uint8_t>();
    }
    int Sample(size_t i) const
    {
        if (b.m_iBits == 8) return static_cast<const uint8_t*>(b.m_pData)[i];
        return static_cast<const uint16_t*>(b.m_pData)[i];
    }
    size_t Samples() const { return static_cast<size_t>(b.m_iWidth) * b.m_iHeight * b.m_iChannels; }
};

// Smooth shapes with noise, in every channel.
void FillNoisy(Image& image, uint32_t seed, double noise)
{
    TestRandom r(seed);
    const double maxv = image.b.m_iBits == 8 ? 255.0 : 65535.0;
    for (int y = 0; y < image.b.m_iHeight; ++y)
        for (int x = 0; x < image.b.m_iWidth; ++x)
            for (int c = 0; c < image.b.m_iChannels; ++c)
            {
                double v = 0.45 + 0.3 * std::sin(x * 0.11 + c * 0.7) * std::cos(y * 0.09) + (y > 30 ? 0.1 : 0.0);
                v += ((r.Next() % 10001) / 10000.0 - 0.5) * noise;
                v = std::clamp(v, 0.0, 1.0) * maxv;
                size_t i = (static_cast<size_t>(y) * image.b.m_iWidth + x) * image.b.m_iChannels + c;
                if (image.b.m_iBits == 8)
                    static_cast<uint8_t*>(image.b.m_pData)[i] = static_cast<uint8_t>(v);
                else
                    static_cast<uint16_t*>(image.b.m_pData)[i] = static_cast<uint16_t>(v);
            }
}

struct Difference
{
    double mean = 0;
    int max = 0;
    size_t changed = 0;
};

Difference Compare(const Image& a, const Image& b, const Image& input)
{
    Difference d;
    double sum = 0;
    for (size_t i = 0; i < a.Samples(); ++i)
    {
        int diff = std::abs(a.Sample(i) - b.Sample(i));
        sum += diff;
        d.max = std::max(d.max, diff);
        if (a.Sample(i) != input.Sample(i)) ++d.changed;
    }
    d.mean = sum / static_cast<double>(a.Samples());
    return d;
}

// The same job on the GPU and on the CPU.
Difference GpuAgainstCpu(int channels, int bits, int quality, double strength, double chroma, double dynamics)
{
    Image src(64, 56, channels, bits);
    FillNoisy(src, static_cast<uint32_t>(channels * 100 + bits + quality), 0.05);
    Image gpuOut(64, 56, channels, bits), cpuOut(64, 56, channels, bits);
    g_bAbort = 0;
    EXPECT_EQ(DenoiseImage(&gpuOut.b, &src.b, strength, chroma, 0.0, quality, dynamics, nullptr, true, true, false, 0),
              kImageOk);
    EXPECT_FALSE(g_bGpuPassFailed);
    EXPECT_EQ(DenoiseImage(&cpuOut.b, &src.b, strength, chroma, 0.0, quality, dynamics, nullptr, true, false, false, 0),
              kImageOk);
    Difference d = Compare(gpuOut, cpuOut, src);
    std::printf("%s %2d-bit quality %d: GPU against CPU mean %.4f max %d (%zu of %zu samples denoised)\n",
                channels == 1 ? "grey  " : "colour", bits, quality, d.mean, d.max, d.changed, src.Samples());
    EXPECT_GT(d.changed, src.Samples() / 3) << "the job should denoise";
    return d;
}

}  // namespace

TEST_F(GpuEngine, GreyEightBitJobsMatchTheCpuAtEveryQuality)
{
    for (int q = 1; q <= 3; ++q)
    {
        Difference d = GpuAgainstCpu(1, 8, q, 12.0, 12.0, 0.5);
        EXPECT_LE(d.mean, 1.5) << q;
        EXPECT_LE(d.max, 16) << q;
    }
}

TEST_F(GpuEngine, GreySixteenBitJobsMatchTheCpuAtEveryQuality)
{
    for (int q = 1; q <= 3; ++q)
    {
        Difference d = GpuAgainstCpu(1, 16, q, 12.0, 12.0, -0.5);
        EXPECT_LE(d.mean, 64) << q;
        EXPECT_LE(d.max, 512) << q;
    }
}

TEST_F(GpuEngine, ColourJobsMatchTheCpuAtEveryQuality)
{
    for (int q = 1; q <= 3; ++q)
    {
        Difference d = GpuAgainstCpu(3, 8, q, 10.0, 14.0, 0.8);
        EXPECT_LE(d.mean, 1.5) << q;
        EXPECT_LE(d.max, 16) << q;
    }
    Difference d16 = GpuAgainstCpu(3, 16, 2, 10.0, 14.0, -0.8);
    EXPECT_LE(d16.mean, 64);
    EXPECT_LE(d16.max, 512);
}

TEST_F(GpuEngine, ColourJobWithTheChromaSpotPassRunsItsPlanePassesOnTheGpu)
{
    // The chroma-spot pass denoises quarter-size chroma planes through the plane driver.
    Image src(64, 56, 3, 8);
    FillNoisy(src, 12, 0.08);
    Image out(64, 56, 3, 8);
    g_counter = Counter();
    EXPECT_EQ(DenoiseImage(&out.b, &src.b, 10.0, 14.0, 3.0, 1, 0.0, Tag(), true, true, false, 0), kImageOk);
    EXPECT_FALSE(g_bGpuPassFailed);
    EXPECT_EQ(g_counter.setups, 1);
    EXPECT_EQ(g_counter.total, 49u * 3u / 2u);  // one joint pass plus the two chroma-spot passes
    EXPECT_GT(g_counter.steps, 1 + 25);         // their plane passes stepped too
    Image cpu(64, 56, 3, 8);
    EXPECT_EQ(DenoiseImage(&cpu.b, &src.b, 10.0, 14.0, 3.0, 1, 0.0, nullptr, true, false, false, 0), kImageOk);
    Difference d = Compare(out, cpu, src);
    std::printf("colour with chroma-spot pass: GPU against CPU mean %.4f max %d\n", d.mean, d.max);
    EXPECT_LE(d.mean, 1.5);
    EXPECT_LE(d.max, 16);
}

TEST_F(GpuEngine, WithTheGpuNotReadyAJobRunsOnTheCpuAlone)
{
    Image src(48, 40, 3, 8);
    FillNoisy(src, 3, 0.05);
    Image viaHook(48, 40, 3, 8), cpu(48, 40, 3, 8);
    gpu->m_bReady = false;
    DenoiseImage(&viaHook.b, &src.b, 12.0, 12.0, 0.0, 1, 0.0, nullptr, true, true, false, 0);
    gpu->m_bReady = true;
    DenoiseImage(&cpu.b, &src.b, 12.0, 12.0, 0.0, 1, 0.0, nullptr, true, false, false, 0);
    EXPECT_EQ(viaHook.Bytes(), cpu.Bytes());
}

TEST_F(GpuEngine, PlanePassStepsOncePerOffsetAndGivesTheSourceBackBitExact)
{
    for (int q : {2, 3})
    {
        Image src(40, 40, 1, 16), dst(40, 40, 1, 16), guide(40, 40, 1, 8);
        FillNoisy(src, 9, 0.05);
        const std::vector<uint8_t> before = src.Bytes();
        g_counter = Counter();
        EXPECT_EQ(NlmPlaneDenoiseGpu(&dst.b, &src.b, &guide.b, q, Tag(), 10.0, 1.0), kImageOk);
        EXPECT_EQ(g_counter.steps, q == 2 ? 85 : 221);
        EXPECT_EQ(src.Bytes(), before);
        EXPECT_EQ(guide.b.m_pData, nullptr);  // released, not used
        ASSERT_NE(dst.b.m_pData, nullptr);
        EXPECT_EQ(dst.b.m_iWidth, 40);
        EXPECT_EQ(dst.b.m_iBits, 16);
        EXPECT_NE(dst.Bytes(), before);
    }
}

TEST_F(GpuEngine, PaddingFollowsTheShortSide)
{
    EXPECT_EQ(GpuPadHalfSize(1000, 1000), 35);
    EXPECT_EQ(GpuPadHalfSize(20, 30), 9);
    EXPECT_EQ(GpuPadHalfSize(72, 500), 35);
    EXPECT_EQ(GpuPadHalfSize(40, 40), 19);
    // A 20 x 30 plane is padded by 12: 44 x 54 textures, 22 x 27 half-size sums.
    Image src(20, 30, 1, 8), dst(20, 30, 1, 8);
    FillNoisy(src, 4, 0.05);
    NlmPlaneDenoiseGpu(&dst.b, &src.b, nullptr, 1, nullptr, 10.0, 0.0);
    GLint w = 0, h = 0, hw = 0;
    glBindTexture(GL_TEXTURE_2D, gpu->m_uTextures[GT_NOISY]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    glBindTexture(GL_TEXTURE_2D, gpu->m_uTextures[GT_SUM2X2]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &hw);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(w, 44);
    EXPECT_EQ(h, 54);
    EXPECT_EQ(hw, 22);
}

TEST_F(GpuEngine, OddColourTileIsDenoisedAtEvenSizeAndCutBack)
{
    Image src(7, 5, 3, 8), dst(7, 5, 3, 8);
    FillNoisy(src, 5, 0.1);
    const std::vector<uint8_t> before = src.Bytes();
    EXPECT_EQ(NlmJointColorDenoise(&dst.b, &src.b, 1, nullptr, 20.0, 20.0, 0.0), kImageOk);
    EXPECT_EQ(gpu->m_iWidth, 8);
    EXPECT_EQ(gpu->m_iHeight, 6);
    EXPECT_EQ(src.Bytes(), before);
    EXPECT_EQ(dst.b.m_iWidth, 7);
    EXPECT_EQ(dst.b.m_iHeight, 5);
    EXPECT_EQ(dst.b.m_iSize, 105);
    EXPECT_EQ(g_counter.steps, 0);  // no progress window, no steps
}

TEST_F(GpuEngine, AbortDuringTheFirstOffsetLeavesTheJointResultEqualToItsSource)
{
    Image src(30, 26, 3, 16), dst(30, 26, 3, 16);
    FillNoisy(src, 6, 0.1);
    const std::vector<uint8_t> before = src.Bytes();
    g_counter.abortAt = 1;
    EXPECT_EQ(NlmJointColorDenoise(&dst.b, &src.b, 3, Tag(), 20.0, 20.0, 0.0), kImageOk);
    EXPECT_EQ(g_counter.steps, 1);
    EXPECT_EQ(dst.Bytes(), before);
    EXPECT_EQ(src.Bytes(), before);
    EXPECT_FALSE(g_bGpuPassFailed);  // a cancel is no GPU failure
}

TEST_F(GpuEngine, PlaneTheGpuCannotTakeIsReportedAndLeftAsItWas)
{
    // Wider than any texture the driver can make.
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const int w = (maxSize + 2) & ~1;
    Image src(w, 20, 1, 8), dst(w, 20, 1, 8);
    FillNoisy(src, 7, 0.1);
    const std::vector<uint8_t> before = src.Bytes();
    NlmPlaneDenoiseGpu(&dst.b, &src.b, nullptr, 1, Tag(), 10.0, 0.0);
    EXPECT_TRUE(g_bGpuPassFailed);
    EXPECT_TRUE(g_bAbort);
    EXPECT_EQ(g_counter.steps, 0);  // nothing was drawn
    EXPECT_EQ(src.Bytes(), before);
    EXPECT_EQ(dst.Bytes(), before);
}

namespace
{
unsigned char FailingPlane(ImageBuffer* dst, ImageBuffer* src, ImageBuffer*, int, HpxProgressTarget, double, double)
{
    g_bGpuPassFailed = true;
    g_bAbort = 1;
    CopyImagePixels(dst, src);
    return 0;
}
bool Ready() { return true; }
int Tile() { return 1000; }
bool NotStopped() { return false; }
bool Stopped() { return true; }
}  // namespace

TEST_F(GpuEngine, JobWhoseGpuPassFailsIsRunAgainOnTheCpuUnlessItWasCancelled)
{
    Image src(48, 40, 1, 8);
    FillNoisy(src, 8, 0.05);
    Image cpu(48, 40, 1, 8);
    DenoiseImage(&cpu.b, &src.b, 12.0, 12.0, 0.0, 1, 0.0, nullptr, true, false, false, 0);

    GpuHook failing = {&FailingPlane, nullptr, nullptr, &Ready, &Tile};
    InstallGpuHook(&failing);
    GpuJobSettings job = {12.0, 12.0, 0.0, 1, 0.0, false, 0};
    Image again(48, 40, 1, 8);
    EXPECT_EQ(RunGpuJob(&again.b, &src.b, job, nullptr, true, &NotStopped), kImageOk);
    EXPECT_FALSE(g_bAbort);
    EXPECT_EQ(again.Bytes(), cpu.Bytes());

    Image cancelled(48, 40, 1, 8);
    RunGpuJob(&cancelled.b, &src.b, job, nullptr, true, &Stopped);
    EXPECT_TRUE(g_bAbort);  // left for the reply: cancelled
}

TEST(GpuJobInput, ImageRecordAcceptsOnlyOneOrThreeChannelsOfEightOrSixteenBitsThatFit)
{
    auto record = [](int32_t w, int32_t h, int32_t ch, int32_t bits)
    {
        std::vector<int32_t> r = {0x1000, w * h * ch * (bits / 8), w * ch * (bits / 8), w, h, ch, bits};
        return r;
    };
    GpuImageShape shape = {};
    auto r = record(3000, 2000, 1, 16);
    ASSERT_TRUE(ParseImageRecord(r.data(), 28, &shape));
    EXPECT_EQ(shape.width, 3000);
    EXPECT_EQ(shape.height, 2000);
    EXPECT_EQ(shape.channels, 1);
    EXPECT_EQ(shape.bits, 16);
    EXPECT_TRUE(ParseImageRecord(record(5, 3, 3, 8).data(), 28, &shape));
    EXPECT_FALSE(ParseImageRecord(record(5, 3, 3, 8).data(), 27, &shape));  // short payload
    EXPECT_FALSE(ParseImageRecord(record(5, 3, 4, 8).data(), 28, &shape));
    EXPECT_FALSE(ParseImageRecord(record(5, 3, 2, 8).data(), 28, &shape));
    EXPECT_FALSE(ParseImageRecord(record(5, 3, 3, 15).data(), 28, &shape));
    EXPECT_FALSE(ParseImageRecord(record(5, 3, 1, 32).data(), 28, &shape));
    EXPECT_FALSE(ParseImageRecord(record(0, 3, 1, 8).data(), 28, &shape));
    EXPECT_FALSE(ParseImageRecord(record(5, -3, 1, 8).data(), 28, &shape));
    EXPECT_FALSE(ParseImageRecord(record(60000, 60000, 3, 16).data(), 28, &shape));  // over 2 GB
    EXPECT_FALSE(ParseImageRecord(nullptr, 28, &shape));
}

TEST(GpuJobInput, ParametersBecomeStrengthsOverTwentyWithinTheirRanges)
{
    DenoiseJobParams p;
    std::memset(&p, 0, sizeof p);
    p.iStrength = 200;
    p.iStrengthChroma = 1000;
    p.iStrengthChromaLarge = 0;
    p.iQualityMode = 2;
    p.dDynamics = -1.25;
    p.bGpuCpuFusion = 1;
    p.iUseMedian = 2;
    GpuJobSettings j = JobSettingsFromParams(p);
    EXPECT_DOUBLE_EQ(j.dStrength, 10.0);
    EXPECT_DOUBLE_EQ(j.dStrengthChroma, 50.0);
    EXPECT_DOUBLE_EQ(j.dStrengthChromaLarge, 0.0);
    EXPECT_EQ(j.iQuality, 2);
    EXPECT_DOUBLE_EQ(j.dDynamics, -1.25);
    EXPECT_TRUE(j.bFusion);
    EXPECT_EQ(j.iMedian, 2);
    p.iStrength = -40;
    p.iStrengthChroma = 5000;
    p.dDynamics = std::nan("");
    j = JobSettingsFromParams(p);
    EXPECT_DOUBLE_EQ(j.dStrength, 0.0);
    EXPECT_DOUBLE_EQ(j.dStrengthChroma, 50.0);
    EXPECT_DOUBLE_EQ(j.dDynamics, 0.0);
}

TEST_F(GpuEngine, JobsOnImagesOfOneOrTwoPixelsAcrossRunWithoutFault)
{
    // A record from the plug-in may name any positive size; the smallest must not reach past a
    // block or make a texture of no size.
    const int shapes[][2] = {{1, 1}, {2, 1}, {1, 3}, {3, 2}};
    for (const auto& shape : shapes)
        for (int channels : {1, 3})
            for (int bits : {8, 16})
            {
                Image src(shape[0], shape[1], channels, bits), dst(shape[0], shape[1], channels, bits);
                FillNoisy(src, 9, 0.1);
                const std::vector<uint8_t> before = src.Bytes();
                g_bAbort = 0;
                GpuJobSettings job = {12.0, 12.0, 0.0, 1, 0.0, false, 0};
                EXPECT_EQ(RunGpuJob(&dst.b, &src.b, job, nullptr, true, nullptr), kImageOk)
                    << shape[0] << "x" << shape[1] << " " << channels << "x" << bits;
                EXPECT_EQ(dst.b.m_iSize, src.b.m_iSize);
                EXPECT_EQ(src.Bytes(), before);
            }
}
