// Similarity transform and the preview resamplers.
#include "engine/ScopedImage.h"
#include "engine/SimilarityTransform.h"

#include "tests/engine/Digest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace
{

using Owned = ScopedImage;

uint8_t* Bytes(ImageBuffer& img) { return static_cast<uint8_t*>(img.m_pData); }

typedef void (*Resampler)(ImageBuffer*, const ImageBuffer*, const SimilarityTransform*);

SimilarityTransform Make(double x, double y, double X, double Y, double angle, double scale)
{
    SimilarityTransform t;
    t.Set(x, y, X, Y, angle, scale);
    return t;
}

// Source whose channels encode the pixel's own coordinates: x, y, and a constant.
void MakeCoordinateImage(ImageBuffer* img, int32_t w, int32_t h)
{
    ASSERT_LE(w, 256);
    ASSERT_LE(h, 256);
    ASSERT_EQ(CreateImage(img, w, h, 3, 8), kImageOk);
    uint8_t* p = static_cast<uint8_t*>(img->m_pData);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x, p += 3)
        {
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = 77;
        }
}

struct KernelInfo
{
    Resampler fn;
    double margin, shift, tolerance;
    const char* name;
};
const KernelInfo kKernels[] = {
    {ResampleNearest, 0.01, 0.0, 1.0, "nearest"},
    {ResampleBilinear, 0.51, 0.5, 1.25, "bilinear"},
    {ResampleBicubic, 1.51, 1.5, 1.6, "bicubic"},
};

// Resamples the coordinate image through t and checks every destination pixel: it is written
// exactly when its sample point lies in the safe rectangle, and then shows the coordinates of
// that point (nearest: the pixel containing it; the others: the point less half a pixel).
void CheckAgainstSamplePoints(const KernelInfo& k, const ImageBuffer& src, const SimilarityTransform& t, int32_t w,
                              int32_t h)
{
    Owned a, b;
    ASSERT_EQ(CreateImage(&a.img, w, h, 3, 8), kImageOk);
    ASSERT_EQ(CreateImage(&b.img, w, h, 3, 8), kImageOk);
    FillImageBytes(&a.img, 0);
    FillImageBytes(&b.img, 255);
    k.fn(&a.img, &src, &t);
    k.fn(&b.img, &src, &t);
    const double W = src.m_iWidth, H = src.m_iHeight;
    double rowX = t.m_dOffsetX, rowY = t.m_dOffsetY;
    int bad = 0;
    for (int32_t j = 0; j < h && bad < 5; ++j, rowX -= t.m_dSinScale, rowY += t.m_dCosScale)
    {
        for (int32_t x = 0; x < w && bad < 5; ++x)
        {
            const double px = rowX + x * t.m_dCosScale, py = rowY + x * t.m_dSinScale;
            const bool inside = px >= k.margin && px < W - k.margin && py >= k.margin && py < H - k.margin;
            const uint8_t* pa = Bytes(a.img) + (static_cast<size_t>(j) * w + x) * 3;
            const uint8_t* pb = Bytes(b.img) + (static_cast<size_t>(j) * w + x) * 3;
            const bool written = std::memcmp(pa, pb, 3) == 0;
            if (written != inside)
            {
                ADD_FAILURE() << k.name << " pixel " << x << "," << j << " written " << written << " but sample point ("
                              << px << ", " << py << ")";
                ++bad;
                continue;
            }
            if (!inside) continue;
            // Pixel centres sit at i + 0.5, so the interpolating kernels show px - 0.5.
            const double ex = k.shift == 0.0 ? std::floor(px) : px - 0.5;
            const double ey = k.shift == 0.0 ? std::floor(py) : py - 0.5;
            if (std::fabs(pa[0] - ex) > k.tolerance || std::fabs(pa[1] - ey) > k.tolerance || pa[2] != 77)
            {
                ADD_FAILURE() << k.name << " pixel " << x << "," << j << " shows (" << int(pa[0]) << ", " << int(pa[1])
                              << ", " << int(pa[2]) << ") for sample point (" << px << ", " << py << ")";
                ++bad;
            }
        }
    }
}

}  // namespace

TEST(ImageTransform, SetMapsTheAnchorAndInverseRounds)
{
    SimilarityTransform t = Make(10, 20, 100, 200, 0, 2);
    double X = 0, Y = 0;
    t.MapForward(&X, &Y, 10, 20);
    EXPECT_DOUBLE_EQ(X, 100);
    EXPECT_DOUBLE_EQ(Y, 200);
    t.MapForward(&X, &Y, 12, 20);
    EXPECT_DOUBLE_EQ(X, 101);
    EXPECT_DOUBLE_EQ(Y, 200);
    int32_t x = 0, y = 0;
    t.MapInverse(&x, &y, 101, 200);
    EXPECT_EQ(x, 12);
    EXPECT_EQ(y, 20);
    t.MapForward(nullptr, &Y, 0, 0);  // null outputs are skipped
    t.MapInverse(&x, nullptr, 0, 0);

    SimilarityTransform r;
    EXPECT_EQ(&r.Assign(0, 0, 0, 0, 90, 1), &r);
    EXPECT_NEAR(r.m_dCosScale, 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(r.m_dSinScale, 1.0);
    r.MapForward(&X, &Y, 1, 0);
    EXPECT_NEAR(X, 0.0, 1e-15);
    EXPECT_NEAR(Y, 1.0, 1e-15);

    // Inverse adds 0.5 and truncates toward zero: -1.2 -> -1, -0.2 -> 0.
    SimilarityTransform id = Make(0, 0, 0, 0, 0, 1);
    id.MapInverse(&x, &y, -1.7, -0.7);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(y, 0);
    // Far-away points saturate instead of overflowing.
    id.MapInverse(&x, &y, 1e300, -1e300);
    EXPECT_EQ(x, INT32_MAX);
    EXPECT_EQ(y, INT32_MIN);
}

TEST(ImageTransform, NearestAtIdentitySkipsTopRowAndLeftColumn)
{
    Owned src, dst;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&src.img, 6, 5, 3, 8, 1));
    ASSERT_EQ(CreateImage(&dst.img, 8, 7, 3, 8), kImageOk);
    FillImageBytes(&dst.img, 1);
    const SimilarityTransform t = Make(0, 0, 0, 0, 0, 1);
    ResampleNearest(&dst.img, &src.img, &t);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8; ++x)
            for (int c = 0; c < 3; ++c)
            {
                const bool copied = x >= 1 && x < 6 && y >= 1 && y < 5;
                const int expect = copied ? Bytes(src.img)[(y * 6 + x) * 3 + c] : 1;
                EXPECT_EQ(Bytes(dst.img)[(y * 8 + x) * 3 + c], expect) << x << "," << y;
            }
}

TEST(ImageTransform, BilinearAtIdentityAveragesFourCentres)
{
    Owned src, dst;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&src.img, 5, 5, 1, 8, 2));
    ASSERT_EQ(CreateImage(&dst.img, 5, 5, 1, 8), kImageOk);
    FillImageBytes(&dst.img, 3);
    const SimilarityTransform t = Make(0, 0, 0, 0, 0, 1);
    ResampleBilinear(&dst.img, &src.img, &t);
    const uint8_t* s = Bytes(src.img);
    for (int y = 1; y < 5; ++y)
        for (int x = 1; x < 5; ++x)
        {
            const int top = (s[(y - 1) * 5 + x - 1] + s[(y - 1) * 5 + x] + 1) / 2;
            const int bottom = (s[y * 5 + x - 1] + s[y * 5 + x] + 1) / 2;
            EXPECT_EQ(Bytes(dst.img)[y * 5 + x], (top + bottom + 1) / 2) << x << "," << y;
        }
    EXPECT_EQ(Bytes(dst.img)[0], 3);
}

TEST(ImageTransform, BicubicReproducesPixelsAtZeroFractionAndFlatAreas)
{
    Owned src, dst;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&src.img, 9, 8, 3, 8, 3));
    ASSERT_EQ(CreateImage(&dst.img, 9, 8, 3, 8), kImageOk);
    FillImageBytes(&dst.img, 0);
    // Destination pixel k samples image point k + 0.5: its centre, fraction 0.
    const SimilarityTransform t = Make(0, 0, 0.5, 0.5, 0, 1);
    ResampleBicubic(&dst.img, &src.img, &t);
    for (int y = 2; y <= 8 - 3; ++y)
        for (int x = 2; x <= 9 - 3; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(Bytes(dst.img)[(y * 9 + x) * 3 + c], Bytes(src.img)[(y * 9 + x) * 3 + c]);

    Owned flat, out;
    ASSERT_EQ(CreateImage(&flat.img, 12, 12, 1, 8), kImageOk);
    FillImageBytes(&flat.img, 201);
    ASSERT_EQ(CreateImage(&out.img, 40, 40, 1, 8), kImageOk);
    FillImageBytes(&out.img, 0);
    const SimilarityTransform r = Make(20, 20, 6, 6, 33, 3.3);
    ResampleBicubic(&out.img, &flat.img, &r);
    int written = 0;
    for (int i = 0; i < 1600; ++i)
    {
        const uint8_t v = Bytes(out.img)[i];
        EXPECT_TRUE(v == 0 || v == 201) << i;
        written += v == 201;
    }
    EXPECT_GT(written, 100);
}

TEST(ImageTransform, SmallSourcesFallBackToSimplerKernels)
{
    const SimilarityTransform t = Make(0, 0, 0.3, 0.2, 10, 4.5);
    Owned s33, a, b;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&s33.img, 3, 3, 3, 8, 4));
    ASSERT_EQ(CreateImage(&a.img, 16, 16, 3, 8), kImageOk);
    ASSERT_EQ(CreateImage(&b.img, 16, 16, 3, 8), kImageOk);
    FillImageBytes(&a.img, 9);
    FillImageBytes(&b.img, 9);
    ResampleBicubic(&a.img, &s33.img, &t);
    ResampleBilinear(&b.img, &s33.img, &t);
    EXPECT_EQ(hpxtest::DigestImage(&a.img), hpxtest::DigestImage(&b.img));

    Owned s15, c, d;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&s15.img, 1, 5, 1, 8, 5));
    ASSERT_EQ(CreateImage(&c.img, 8, 24, 1, 8), kImageOk);
    ASSERT_EQ(CreateImage(&d.img, 8, 24, 1, 8), kImageOk);
    FillImageBytes(&c.img, 9);
    FillImageBytes(&d.img, 9);
    const SimilarityTransform z = Make(0, 0, 0, 0, 0, 4);
    ResampleBilinear(&c.img, &s15.img, &z);
    ResampleNearest(&d.img, &s15.img, &z);
    EXPECT_EQ(hpxtest::DigestImage(&c.img), hpxtest::DigestImage(&d.img));
    EXPECT_NE(Bytes(c.img)[4 * 8 + 1], 9);  // something was drawn
}

TEST(ImageTransform, OtherDestinationsAndRowsOutsideAreLeftUntouched)
{
    const SimilarityTransform t = Make(0, 0, 0, 0, 0, 1);
    Owned src16, dst16, src2, dst2;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&src16.img, 8, 8, 1, 16, 6));
    ASSERT_EQ(CreateImage(&dst16.img, 8, 8, 1, 16), kImageOk);
    ASSERT_TRUE(hpxtest::MakeRandomImage(&src2.img, 8, 8, 2, 8, 7));
    ASSERT_EQ(CreateImage(&dst2.img, 8, 8, 2, 8), kImageOk);
    for (const KernelInfo& k : kKernels)
    {
        FillImageBytes(&dst16.img, 5);
        FillImageBytes(&dst2.img, 5);
        k.fn(&dst16.img, &src16.img, &t);
        k.fn(&dst2.img, &src2.img, &t);
        for (int i = 0; i < dst16.img.m_iSize; ++i) ASSERT_EQ(Bytes(dst16.img)[i], 5) << k.name;
        for (int i = 0; i < dst2.img.m_iSize; ++i) ASSERT_EQ(Bytes(dst2.img)[i], 5) << k.name;
    }

    // Rows 0..9 sample image rows -20..-11: nothing is drawn there.
    Owned src, dst;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&src.img, 10, 10, 1, 8, 8));
    ASSERT_EQ(CreateImage(&dst.img, 10, 30, 1, 8), kImageOk);
    const SimilarityTransform down = Make(0, 20, 0, 0, 0, 1);
    for (const KernelInfo& k : kKernels)
    {
        FillImageBytes(&dst.img, 5);
        k.fn(&dst.img, &src.img, &down);
        for (int i = 0; i < 10 * 10; ++i) ASSERT_EQ(Bytes(dst.img)[i], 5) << k.name;
    }
}

// Long rows whose rounded fixed-point step runs ahead of the exact positions: the last sample
// points of each row lie just inside the safe rectangle, in the source's bottom rows, so a read
// past the last column would leave the pixel block (caught by the sanitizer build) or show the
// next row's first pixel (caught by the coordinate check).
TEST(ImageTransform, LongRowsNeverReadPastTheSource)
{
    Owned src;
    MakeCoordinateImage(&src.img, 200, 60);
    const int32_t w = 2500, h = 24;
    for (const KernelInfo& k : kKernels)
    {
        // Step 5242.5001/65536 rounds up by almost half a unit: drift ~0.019 pixels over the row.
        const double cs = 5242.5001 / 65536.0;
        const double lastX = 200.0 - k.margin - 1e-4;
        const double firstRowY = 60.0 - k.margin - 1e-4 - (h - 1) * cs;
        SimilarityTransform t;
        t.m_dCosScale = cs;
        t.m_dSinScale = 0.0;
        t.m_dOffsetX = lastX - (w - 1) * cs;
        t.m_dOffsetY = firstRowY;
        CheckAgainstSamplePoints(k, src.img, t, w, h);

        // The same with a slight rotation, so both coordinates drift.
        SimilarityTransform r;
        r.m_dCosScale = cs;
        r.m_dSinScale = 13.5001 / 65536.0;
        r.m_dOffsetX = lastX - (w - 1) * cs;
        r.m_dOffsetY = 60.0 - k.margin - 1e-4 - (w - 1) * r.m_dSinScale;
        CheckAgainstSamplePoints(k, src.img, r, w, h);
    }
}

// Random zooms, pans and angles, from strong reduction to 64x enlargement, with destination
// rows over 2000 pixels.
TEST(ImageTransform, RandomTransformsSampleTheRightPointsInsideTheSource)
{
    Owned src;
    MakeCoordinateImage(&src.img, 173, 91);
    hpxtest::TestRng rng(2024);
    for (int trial = 0; trial < 24; ++trial)
    {
        const int32_t w = 2049 + static_cast<int32_t>(rng.Below(200));
        const int32_t h = 6 + static_cast<int32_t>(rng.Below(10));
        const double scales[] = {0.37, 1.0, 2.5, 7.77, 12.3, 64.0};
        const double scale = scales[rng.Below(6)] * (1.0 + rng.Below(1000) / 10000.0);
        const double angle = trial % 3 == 0 ? 0.0 : rng.Below(3600) / 10.0;
        const double X = rng.Below(1730) / 10.0, Y = rng.Below(910) / 10.0;
        const SimilarityTransform t = Make(rng.Below(w), rng.Below(h), X, Y, angle, scale);
        for (const KernelInfo& k : kKernels) CheckAgainstSamplePoints(k, src.img, t, w, h);
    }
}
