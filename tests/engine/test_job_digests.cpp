// Byte identity of the blur, pyramid, tile and job outputs between the native build and the
// 32-bit Windows build: the same inputs must give the same bytes everywhere.
#include "engine/DenoiseImage.h"
#include "engine/DenoiseTile.h"
#include "engine/GaussianBlur.h"
#include "engine/ImageConvert.h"
#include "engine/ImagePyramid.h"

#include "Digest.h"
#include "JobTestSupport.h"
#include "SimdPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>

using hpxtest::DigestImage;
using hpxtest::PrintDigest;
using jobtest::CleanJobState;
using jobtest::Owned;

namespace
{

uint64_t Check(const char* what, const ImageBuffer& img, uint64_t expected)
{
    const uint64_t d = DigestImage(&img);
    if (d != expected) PrintDigest(what, d);
    return d;
}

}  // namespace

TEST(JobDigests, BlurAndPyramid)
{
    hpxtest::ForEachSimdPath(
        []
        {
            CleanJobState clean;
            Owned plane;
            ASSERT_TRUE(hpxtest::MakeNoisyImage(&plane.img, 97, 61, 1, 8, 1));
            ASSERT_EQ(GaussianBlurPlane(&plane.img, static_cast<float>(PreBlurSigma(40.0))), kImageOk);
            EXPECT_EQ(Check("blur8", plane.img, 0x3c158e1187db8345ULL), 0x3c158e1187db8345ULL);

            Owned ycc;
            ASSERT_TRUE(hpxtest::MakeNoisyImage(&ycc.img, 83, 71, 3, 16, 2));
            ASSERT_EQ(GaussianBlurYCbCr(&ycc.img, PreBlurSigma(30.0), PreBlurSigma(47.0)), kImageOk);
            EXPECT_EQ(Check("blurYCbCr16", ycc.img, 0x0adacd04b2490663ULL), 0x0adacd04b2490663ULL);

            for (int bits : {8, 16})
            {
                Owned src, dst;
                ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 90, 66, 3, bits, 3));
                ImagePyramid pyr;
                ASSERT_FALSE(BuildImagePyramid(&pyr, &src.img, 3, 8));
                ASSERT_TRUE(jobtest::CopyOf(&dst.img, &src.img));
                ASSERT_EQ(ApplyDetailGains(&dst.img, &pyr, 1.6, 0.7, 1.3), 0);
                ReleaseImagePyramid(&pyr);
                const uint64_t gains = bits == 8 ? 0xc572460c98b02766ULL : 0x468b19a8e1a080b0ULL;
                EXPECT_EQ(Check(bits == 8 ? "gains8" : "gains16", dst.img, gains), gains);

                Owned chroma, out;
                ASSERT_TRUE(hpxtest::MakeNoisyImage(&chroma.img, 120, 100, 1, bits, 4, 30));
                ASSERT_EQ(CopyImageLayout(&out.img, &chroma.img), kImageOk);
                ASSERT_FALSE(PyramidDenoise(&out.img, &chroma.img, 12, 2, 0.5, nullptr, 3, false, 3));
                const uint64_t spots = bits == 8 ? 0x5da9ac78bf2a45e2ULL : 0x3f205230d8b85ceeULL;
                EXPECT_EQ(Check(bits == 8 ? "spots8" : "spots16", out.img, spots), spots);
            }
        });
}

TEST(JobDigests, TileAndJob)
{
    hpxtest::ForEachSimdPath(
        []
        {
            CleanJobState clean;
            Owned src, dst;
            ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 101, 77, 3, 8, 5, 25));
            ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
            DenoiseTile(&dst.img, &src.img, 30.0, 35.0, 4.5, 1, 0.5, nullptr, true, false, 3, 1);
            EXPECT_EQ(Check("tile8", dst.img, 0x4dd2ef78aac2deecULL), 0x4dd2ef78aac2deecULL);

            Owned grey, greyOut;
            ASSERT_TRUE(hpxtest::MakeNoisyImage(&grey.img, 64, 80, 1, 16, 6, 25));
            ASSERT_EQ(CopyImageLayout(&greyOut.img, &grey.img), kImageOk);
            DenoiseTile(&greyOut.img, &grey.img, 27.0, 0.0, 9.0, 2, -0.5, nullptr, true, false, 2, 2);
            EXPECT_EQ(Check("tileGrey16", greyOut.img, 0x611d1dccfef1aeeaULL), 0x611d1dccfef1aeeaULL);

            // Two sequential CPU tiles of a 16-bit colour image.
            Owned wide, wideOut;
            ASSERT_TRUE(hpxtest::MakeNoisyImage(&wide.img, 1030, 40, 3, 16, 7, 25));
            ASSERT_EQ(CopyImageLayout(&wideOut.img, &wide.img), kImageOk);
            ASSERT_EQ(DenoiseImage(&wideOut.img, &wide.img, 14.0, 18.0, 3.0, 1, 0.0, nullptr, true, false, false, 0),
                      kImageOk);
            EXPECT_EQ(Check("job16", wideOut.img, 0x960e2a8097a5d435ULL), 0x960e2a8097a5d435ULL);

            // A fusion job with the stand-in GPU: whichever side takes a tile, the bytes are the same.
            jobtest::FakeGpuInstalled gpu(48);
            jobtest::WarmWeightTables(12.0, 26.0, 2.0, 1, 0.3);
            Owned photo, photoOut;
            ASSERT_TRUE(hpxtest::MakeNoisyImage(&photo.img, 150, 110, 3, 8, 8, 25));
            ASSERT_EQ(CopyImageLayout(&photoOut.img, &photo.img), kImageOk);
            ASSERT_EQ(DenoiseImage(&photoOut.img, &photo.img, 12.0, 26.0, 2.0, 1, 0.3, nullptr, true, true, true, 1),
                      kImageOk);
            EXPECT_EQ(Check("hybrid8", photoOut.img, 0x1ef289c92b8b17faULL), 0x1ef289c92b8b17faULL);
        });
}

namespace
{

// Mean absolute difference of two images of one shape, in 8-bit units.
double MeanError(const ImageBuffer& a, const ImageBuffer& b)
{
    const size_t n = static_cast<size_t>(a.m_iWidth) * a.m_iHeight * a.m_iChannels;
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        sum += a.m_iBits == 8
            ? std::abs(static_cast<const uint8_t*>(a.m_pData)[i] - static_cast<const uint8_t*>(b.m_pData)[i])
            : std::abs(static_cast<const uint16_t*>(a.m_pData)[i] - static_cast<const uint16_t*>(b.m_pData)[i]) / 256.0;
    return sum / static_cast<double>(n);
}

}  // namespace

// The main paths of a whole job against digests fixed once, when each result was checked to be
// the noisy picture brought back towards the clean one it was made from: these do not follow
// the code, so a fault that both builds share still fails here.
TEST(JobDigests, MainPathsKeepTheirReviewedResults)
{
    CleanJobState clean;
    struct Case
    {
        int bits, channels, quality, median;
        double large;
        uint64_t digest;
        double maxErrorShare;  // the result's error from the clean picture over the input's
    };
    // Measured error shares 0.33 .. 0.58; the bounds leave a little room.
    const Case cases[] = {
        {8, 1, 1, 0, 0.0, 0xb5de07faaa497869ULL, 0.40},  {8, 1, 3, 2, 0.0, 0xd8a0a9f35e411afcULL, 0.55},
        {8, 3, 1, 1, 0.0, 0x04ddf8fa2052946fULL, 0.48},  {8, 3, 3, 0, 3.0, 0x6b9261024a81b4e8ULL, 0.46},
        {16, 1, 1, 2, 0.0, 0x0983dd72e4b71164ULL, 0.50}, {16, 1, 3, 0, 0.0, 0xc12a89b7067a9b99ULL, 0.36},
        {16, 3, 1, 0, 0.0, 0x974959e918858665ULL, 0.40}, {16, 3, 3, 2, 3.0, 0xbf40a76c7704958aULL, 0.62},
    };
    for (const Case& c : cases)
    {
        Owned noisy, picture, out;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&noisy.img, 72, 56, c.channels, c.bits, 11, 12));
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&picture.img, 72, 56, c.channels, c.bits, 11, 0));
        ASSERT_EQ(CopyImageLayout(&out.img, &noisy.img), kImageOk);
        ASSERT_EQ(DenoiseImage(&out.img, &noisy.img, 22.0, 24.0, c.large, c.quality, 0.25, nullptr, true, false, false,
                               c.median),
                  kImageOk);
        const double share = MeanError(out.img, picture.img) / MeanError(noisy.img, picture.img);
        EXPECT_LT(share, c.maxErrorShare)
            << "bits " << c.bits << ", channels " << c.channels << ", quality " << c.quality << ", median " << c.median;
        EXPECT_EQ(Check("main path", out.img, c.digest), c.digest)
            << "bits " << c.bits << ", channels " << c.channels << ", quality " << c.quality << ", median " << c.median;
    }
}
