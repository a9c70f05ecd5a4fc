// Byte identity of the non-local-means kernels, weight tables and plane pass across builds: the
// digests below were computed by the native build and must hold in the 32-bit Windows build.
#include "engine/NlmKernels.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/ScopedImage.h"
#include "engine/WeightTableCache.h"
#include "tests/engine/Digest.h"
#include "tests/engine/SimdPaths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using hpxtest::DigestImage;
using hpxtest::Fnv1a64;
using hpxtest::PrintDigest;

namespace
{

using Owned = ScopedImage;

uint64_t TableDigest(double h)
{
    std::vector<int> t(9216);
    FillWeightTable(t.data(), 9216, h);
    return Fnv1a64(t.data(), t.size() * sizeof(int));
}

uint64_t SlotDigest(double dynamics2, double strength)
{
    CWeightTableCache cache;
    const double h = std::pow(strength, 3.5);
    int** tables = nullptr;
    if (cache.Build(dynamics2, h, 6) != 0 || cache.Find(&tables, dynamics2, h, 6)) return 0;
    uint64_t d = 0xcbf29ce484222325ULL;
    for (int l = 0; l < 256; ++l) d = Fnv1a64(tables[l], 9216 * sizeof(int), d);
    return d;
}

// The distance planes of one offset on a mirror-padded random guide.
uint64_t DistanceDigest(int dy, int dx)
{
    Owned a, b, s, t, d;
    if (!hpxtest::MakeNoisyImage(&a.img, 94, 70, 1, 8, 41, 60) || CopyImageLayout(&b.img, &a.img) != kImageOk ||
        CreateImage(&s.img, 47, 35, 1, 16) != kImageOk || CreateImage(&t.img, 47, 35, 1, 16) != kImageOk ||
        CreateImage(&d.img, 94, 70, 1, 16) != kImageOk)
        return 0;
    MirrorPadPlane8(&a.img, 13);
    CopyImagePixels(&b.img, &a.img);
    AbsDiffShifted(&a.img, &b.img, dy > 0 ? dy : 0, dx > 0 ? dx : 0, dy < 0 ? -dy : 0, dx < 0 ? -dx : 0);
    Sum2x2(&s.img, &b.img);
    BoxSum3x3(&t.img, &s.img);
    Upsample2x(&d.img, &s.img);
    return DigestImage(&a.img) ^ (DigestImage(&b.img) * 3) ^ (DigestImage(&d.img) * 7);
}

uint64_t PassDigest(int w, int h, int bits, double strength, int quality, double dynamics, int threads)
{
    Owned src, dst;
    if (!hpxtest::MakeNoisyImage(&src.img, w, h, 1, bits, 77, 10) || CopyImageLayout(&dst.img, &src.img) != kImageOk)
        return 0;
    NlmPlaneDenoise(&dst.img, &src.img, strength, quality, dynamics, nullptr, false, threads);
    return DigestImage(&dst.img);
}

TEST(NlmDigests, WeightTables)
{
    const uint64_t t1 = TableDigest(1.0);
    const uint64_t t2 = TableDigest(std::pow(10.0, 3.5));
    const uint64_t t3 = TableDigest(std::pow(37.5, 3.5) * 2.3);
    const uint64_t s1 = SlotDigest(0.0, 9.0);
    const uint64_t s2 = SlotDigest(3.1, 14.25);
    const uint64_t s3 = SlotDigest(-4.0, 50.0);
    PrintDigest("table h=1", t1);
    PrintDigest("table s=10", t2);
    PrintDigest("table s=37.5", t3);
    PrintDigest("slot 0/9", s1);
    PrintDigest("slot 3.1/14.25", s2);
    PrintDigest("slot -4/50", s3);
    EXPECT_EQ(t1, 0x56a5c00069df6bd5ULL);
    EXPECT_EQ(t2, 0xe3d134cf61a2da21ULL);
    EXPECT_EQ(t3, 0x6ab24876a3918233ULL);
    EXPECT_EQ(s1, 0xc025aa4352c0f325ULL);
    EXPECT_EQ(s2, 0xe1409a7a556f4b7fULL);
    EXPECT_EQ(s3, 0xfeabdd4e1a84b041ULL);
}

TEST(NlmDigests, DistanceKernels)
{
    hpxtest::ForEachSimdPath(
        []
        {
            const uint64_t a = DistanceDigest(-3, 2);
            const uint64_t b = DistanceDigest(0, -5);
            const uint64_t c = DistanceDigest(-10, -10);
            PrintDigest("distance -3,2", a);
            PrintDigest("distance 0,-5", b);
            PrintDigest("distance -10,-10", c);
            EXPECT_EQ(a, 0x35a1237118b33beeULL);
            EXPECT_EQ(b, 0x582f3863b1f7fee9ULL);
            EXPECT_EQ(c, 0x366965e26364a872ULL);
        });
}

TEST(NlmDigests, PlanePass)
{
    hpxtest::ForEachSimdPath(
        []
        {
            const uint64_t a = PassDigest(123, 87, 8, 9.5, 1, 0.0, 1);
            const uint64_t b = PassDigest(123, 87, 8, 13.0, 3, 1.25, 3);
            const uint64_t c = PassDigest(64, 201, 8, 20.0, 2, -0.6, 4);
            const uint64_t d = PassDigest(77, 58, 16, 11.9, 2, 0.4, 2);
            const uint64_t e = PassDigest(40, 40, 16, 25.0, 3, -1.5, 1);
            PrintDigest("pass 8-bit q1", a);
            PrintDigest("pass 8-bit q3", b);
            PrintDigest("pass 8-bit q2", c);
            PrintDigest("pass 16-bit q2", d);
            PrintDigest("pass 16-bit q3", e);
            EXPECT_EQ(a, 0x8cd7daea24bf4e35ULL);
            EXPECT_EQ(b, 0x03c0a3736e17cda6ULL);
            EXPECT_EQ(c, 0x04824a5a6aca258fULL);
            EXPECT_EQ(d, 0x5e0f2ece5fa70cf0ULL);
            EXPECT_EQ(e, 0xddb185f325b494ccULL);
        });
}

}  // namespace
