// Byte identity of the engine kernels across builds: each test digests a kernel's output on
// fixed synthetic inputs and compares it with the value the native build produced. The same
// constants must hold in the 32-bit Windows build.
#include "engine/ImageConvert.h"
#include "engine/Median.h"
#include "engine/NoiseEstimate.h"
#include "engine/ScopedImage.h"
#include "engine/SimilarityTransform.h"
#include "engine/WorkerPool.h"
#include "tests/engine/Digest.h"
#include "tests/engine/SimdPaths.h"

#include <gtest/gtest.h>

using hpxtest::DigestImage;
using hpxtest::PrintDigest;

namespace
{

using Owned = ScopedImage;

uint64_t ConvertDigest(int32_t bits, int32_t channels, int32_t toBits, int32_t toChannels, uint32_t seed)
{
    Owned a;
    if (!hpxtest::MakeNoisyImage(&a.img, 67, 45, channels, bits, seed)) return 0;
    if (ConvertImage(&a.img, toBits, toChannels) != kImageOk) return 0;
    return DigestImage(&a.img);
}

uint64_t YccDigest(int32_t bits, bool back)
{
    Owned src, ycc;
    if (!hpxtest::MakeRandomImage(&src.img, 83, 59, 3, bits, 31) || CopyImageLayout(&ycc.img, &src.img) != kImageOk ||
        RgbToYCbCr(&ycc.img, &src.img) != kImageOk)
        return 0;
    if (back && YCbCrToRgb(&src.img, &ycc.img) != kImageOk) return 0;
    return DigestImage(back ? &src.img : &ycc.img);
}

uint64_t MedianDigest(int32_t channels, int32_t bits, int32_t radius, WorkerPool* pool = nullptr)
{
    Owned src, dst;
    if (!hpxtest::MakeNoisyImage(&src.img, 71, 53, channels, bits, 17, 90) ||
        CopyImageLayout(&dst.img, &src.img) != kImageOk)
        return 0;
    MedianFilterImage(&dst.img, &src.img, radius, pool);
    return DigestImage(&dst.img);
}

uint64_t ResampleDigest(void (*fn)(ImageBuffer*, const ImageBuffer*, const SimilarityTransform*), int32_t channels,
                        double angle, double scale)
{
    Owned src, dst;
    if (!hpxtest::MakeNoisyImage(&src.img, 97, 61, channels, 8, 23) ||
        CreateImage(&dst.img, 331, 197, channels, 8) != kImageOk)
        return 0;
    FillImageBytes(&dst.img, 48);
    SimilarityTransform t;
    t.Set(150.5, 90.25, 48.3, 30.7, angle, scale);
    fn(&dst.img, &src.img, &t);
    return DigestImage(&dst.img);
}

#define EXPECT_DIGEST(expr, expected)                            \
    do {                                                         \
        const uint64_t d_ = (expr);                              \
        PrintDigest(#expr, d_);                                  \
        EXPECT_EQ(d_, static_cast<uint64_t>(expected)) << #expr; \
    } while (0)

}  // namespace

TEST(EngineDigest, ConvertImage)
{
    EXPECT_DIGEST(ConvertDigest(8, 3, 8, 1, 1), 0x654071d12a22c541ULL);
    EXPECT_DIGEST(ConvertDigest(16, 3, 16, 1, 2), 0x2d06e98466db17c4ULL);
    EXPECT_DIGEST(ConvertDigest(32, 3, 32, 1, 3), 0xb83c7678ed5fe1b6ULL);
    EXPECT_DIGEST(ConvertDigest(16, 1, 8, 3, 4), 0x5a2aff31644b90bcULL);
    EXPECT_DIGEST(ConvertDigest(15, 3, 16, 3, 5), 0x3ba0d606ea3e74f6ULL);
    EXPECT_DIGEST(ConvertDigest(16, 3, 15, 3, 6), 0xdedd4c642797b2f4ULL);
    EXPECT_DIGEST(ConvertDigest(8, 3, 32, 3, 7), 0x6fd77b5916c54338ULL);
    EXPECT_DIGEST(ConvertDigest(32, 1, 8, 1, 8), 0x71ed5d86a8a3e05eULL);
    EXPECT_DIGEST(ConvertDigest(32, 1, 16, 1, 9), 0x21c5c385f198447dULL);
}

TEST(EngineDigest, YCbCr)
{
    EXPECT_DIGEST(YccDigest(8, false), 0xd311ef64eb6fc841ULL);
    EXPECT_DIGEST(YccDigest(8, true), 0xf37e661b0213e607ULL);
    EXPECT_DIGEST(YccDigest(16, false), 0x3beec53d93c65e74ULL);
    EXPECT_DIGEST(YccDigest(16, true), 0x4d94af1e63a4abbcULL);
}

TEST(EngineDigest, Median)
{
    hpxtest::ForEachSimdPath(
        []
        {
            EXPECT_DIGEST(MedianDigest(1, 8, 1), 0x7d577b938e06040eULL);
            EXPECT_DIGEST(MedianDigest(1, 16, 1), 0x006b1f5dd09e276cULL);
            EXPECT_DIGEST(MedianDigest(3, 8, 3), 0x2e941b177decdf64ULL);
            EXPECT_DIGEST(MedianDigest(3, 16, 3), 0xb2ed8722584717daULL);
            // Rows and channel copies shared among threads give the same bytes.
            WorkerPool pool(3);
            EXPECT_DIGEST(MedianDigest(3, 8, 3, &pool), 0x2e941b177decdf64ULL);
            EXPECT_DIGEST(MedianDigest(3, 16, 1, &pool), MedianDigest(3, 16, 1));
        });
}

TEST(EngineDigest, Resample)
{
    EXPECT_DIGEST(ResampleDigest(ResampleNearest, 3, 0.0, 3.7), 0xfc513d296982fdc2ULL);
    EXPECT_DIGEST(ResampleDigest(ResampleBilinear, 3, 0.0, 3.7), 0x6676bda1406ea7a3ULL);
    EXPECT_DIGEST(ResampleDigest(ResampleBicubic, 3, 0.0, 3.7), 0x641fc9d0adb1d599ULL);
    EXPECT_DIGEST(ResampleDigest(ResampleNearest, 1, 21.0, 0.61), 0x9f3e471902770382ULL);
    EXPECT_DIGEST(ResampleDigest(ResampleBilinear, 1, 21.0, 2.2), 0x53739aa6b0c55b84ULL);
    EXPECT_DIGEST(ResampleDigest(ResampleBicubic, 3, 201.0, 5.3), 0xc565f8c631ecd51eULL);
}

TEST(EngineDigest, NoiseEstimate)
{
    Owned grey, ycc;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&grey.img, 120, 80, 1, 8, 41, 25));
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&ycc.img, 120, 80, 3, 8, 42, 25));
    const double plane = EstimateNoiseImmerkaerPlane(&grey.img);
    NoiseSigma pair;
    EstimateNoiseImmerkaer(&pair, &ycc.img);
    const double figures[3] = {plane, pair.m_dLuma, pair.m_dChroma};
    EXPECT_DIGEST(hpxtest::Fnv1a64(figures, sizeof(figures)), 0x63adc764123b99e6ULL);
}
