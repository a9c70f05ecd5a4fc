// Immerkaer noise figures.
#include "engine/NoiseEstimate.h"
#include "engine/ScopedImage.h"

#include "tests/engine/Digest.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

using Owned = ScopedImage;

uint8_t* Bytes(ImageBuffer& img) { return static_cast<uint8_t*>(img.m_pData); }

}  // namespace

TEST(ImageNoise, PlanesAndRampsGiveZero)
{
    Owned flat, ramp;
    ASSERT_EQ(CreateImage(&flat.img, 17, 11, 1, 8), kImageOk);
    FillImageBytes(&flat.img, 93);
    EXPECT_EQ(EstimateNoiseImmerkaerPlane(&flat.img), 0.0);

    ASSERT_EQ(CreateImage(&ramp.img, 40, 30, 1, 8), kImageOk);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) Bytes(ramp.img)[y * 40 + x] = static_cast<uint8_t>(3 * x + 2 * y + 10);
    EXPECT_EQ(EstimateNoiseImmerkaerPlane(&ramp.img), 0.0);

    Owned ycc;
    ASSERT_EQ(CreateImage(&ycc.img, 40, 30, 3, 8), kImageOk);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
        {
            uint8_t* p = Bytes(ycc.img) + (y * 40 + x) * 3;
            p[0] = static_cast<uint8_t>(x + 4 * y);
            p[1] = static_cast<uint8_t>(200 - 2 * x);
            p[2] = 128;
        }
    NoiseSigma s = {-1, -1};
    const NoiseSigma r = EstimateNoiseImmerkaer(&s, &ycc.img);
    EXPECT_EQ(s.m_dLuma, 0.0);
    EXPECT_EQ(s.m_dChroma, 0.0);
    EXPECT_EQ(r.m_dLuma, s.m_dLuma);
}

TEST(ImageNoise, FigureOfAKnownResponse)
{
    // One lit pixel in a 5 x 5 plane: responses 4v at it, -2v at its four sides, v at the
    // diagonals; all nine lie in the interior, so S = 16 v and N = 3 x 3 x 12.
    Owned img;
    ASSERT_EQ(CreateImage(&img.img, 5, 5, 1, 8), kImageOk);
    FillImageBytes(&img.img, 0);
    Bytes(img.img)[2 * 5 + 2] = 10;
    EXPECT_DOUBLE_EQ(EstimateNoiseImmerkaerPlane(&img.img), std::sqrt(160.0 / 108.0 * 3.14159265359));
}

TEST(ImageNoise, OpposedChromaCancelsAndDeviationScalesWithSquareRoot)
{
    Owned ycc;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&ycc.img, 64, 48, 3, 8, 77));
    for (int i = 0; i < 64 * 48; ++i)
    {
        uint8_t* p = Bytes(ycc.img) + i * 3;
        if (p[1] == 0) p[1] = 1;
        p[2] = static_cast<uint8_t>(256 - p[1]);  // Cb = 256 - Cr
    }
    NoiseSigma s;
    EstimateNoiseImmerkaer(&s, &ycc.img);
    EXPECT_GT(s.m_dLuma, 1.0);
    EXPECT_EQ(s.m_dChroma, 0.0);

    // Deviations of +-d from a flat 128 background; doubling d multiplies the figure by sqrt 2.
    Owned a, b;
    ASSERT_EQ(CreateImage(&a.img, 50, 40, 1, 8), kImageOk);
    ASSERT_EQ(CreateImage(&b.img, 50, 40, 1, 8), kImageOk);
    hpxtest::TestRng rng(5);
    for (int i = 0; i < 2000; ++i)
    {
        const int dev = static_cast<int>(rng.Below(21)) - 10;
        Bytes(a.img)[i] = static_cast<uint8_t>(128 + dev);
        Bytes(b.img)[i] = static_cast<uint8_t>(128 + 2 * dev);
    }
    const double fa = EstimateNoiseImmerkaerPlane(&a.img), fb = EstimateNoiseImmerkaerPlane(&b.img);
    EXPECT_GT(fa, 0.0);
    EXPECT_NEAR(fb / fa, std::sqrt(2.0), 1e-12);

    // The plane figure of the luma channel alone equals the pair's luma figure.
    Owned y;
    ASSERT_EQ(CreateImage(&y.img, 64, 48, 1, 8), kImageOk);
    for (int i = 0; i < 64 * 48; ++i) Bytes(y.img)[i] = Bytes(ycc.img)[i * 3];
    EXPECT_DOUBLE_EQ(EstimateNoiseImmerkaerPlane(&y.img), s.m_dLuma);
}

TEST(ImageNoise, ImagesWithoutInteriorAndWrongLayoutsGiveZero)
{
    Owned thin, rgb16;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&thin.img, 2, 50, 1, 8, 1));
    EXPECT_EQ(EstimateNoiseImmerkaerPlane(&thin.img), 0.0);
    ASSERT_TRUE(hpxtest::MakeRandomImage(&rgb16.img, 9, 9, 3, 16, 2));
    NoiseSigma s;
    EstimateNoiseImmerkaer(&s, &rgb16.img);
    EXPECT_EQ(s.m_dLuma, 0.0);
    EXPECT_EQ(s.m_dChroma, 0.0);
}
