// The plane pass NlmPlaneDenoise: its result against a plain step-by-step model built from the
// plane kernels, thread-count independence, pass-through cases, cancel and progress; and the
// platform seam's threads and named mutex.
#include "engine/ImageConvert.h"
#include "engine/NlmKernels.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/Platform.h"
#include "engine/ScopedImage.h"
#include "engine/WeightTableCache.h"
#include "tests/engine/Digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

namespace
{

using Img = ScopedImage;

bool SamePixels(const ImageBuffer* a, const ImageBuffer* b)
{
    return a->m_iSize == b->m_iSize && a->m_iWidth == b->m_iWidth && a->m_iHeight == b->m_iHeight &&
        a->m_iBits == b->m_iBits && a->m_pData != nullptr && b->m_pData != nullptr &&
        std::memcmp(a->m_pData, b->m_pData, static_cast<size_t>(a->m_iSize)) == 0;
}

void Copy(ImageBuffer* dst, const ImageBuffer* src)
{
    ASSERT_EQ(CopyImageLayout(dst, src), kImageOk);
    CopyImagePixels(dst, src);
}

// The pass as a sequence of whole-plane steps, written for clarity: even-size padding, guide,
// mirror-padded planes, and for every offset the difference plane, 2x2 sums, box sums, enlarged
// distances and the accumulation; then the normalisation. Own weight-table cache.
void ModelPass(ImageBuffer* out, const ImageBuffer* in, double strength, int quality, double dynamics)
{
    const int w = in->m_iWidth, h = in->m_iHeight, bits = in->m_iBits;
    const bool b16 = bits != 8;
    const int we = w + (w & 1), he = h + (h & 1);
    Img P, G;
    ASSERT_EQ(CreateImage(&P.img, we, he, 1, bits), kImageOk);
    FillImageBytes(&P.img, 0);
    CopyImageRect(&P.img, in, 0, 0, 0, 0, w, h);
    ASSERT_EQ(CreateImage(out, w, h, 1, bits), kImageOk);
    if (we <= 16 || he <= 16)
    {
        CopyImageRect(out, &P.img, 0, 0, 0, 0, w, h);
        return;
    }
    Copy(&G.img, &P.img);
    if (bits == 16)
        ASSERT_EQ(ConvertImage(&G.img, 8, 1), kImageOk);
    else if (bits != 8)
    {
        // Depths between 9 and 15 keep their top eight bits.
        Img g8;
        ASSERT_EQ(CreateImage(&g8.img, we, he, 1, 8), kImageOk);
        for (int i = 0; i < we * he; ++i)
            static_cast<uint8_t*>(g8.img.m_pData)[i] =
                static_cast<uint8_t>(static_cast<uint16_t*>(G.img.m_pData)[i] >> (bits - 8));
        ReleaseImage(&G.img);
        G.img = g8.img;
        InitImage(&g8.img);
    }
    const double s = b16 ? std::trunc(strength) : strength;
    static CWeightTableCache cache;
    int** tables = nullptr;
    if (cache.Find(&tables, 2 * dynamics, std::pow(s, 3.5), 6))
    {
        ASSERT_EQ(cache.Build(2 * dynamics, std::pow(s, 3.5), 6), 0);
        ASSERT_FALSE(cache.Find(&tables, 2 * dynamics, std::pow(s, 3.5), 6));
    }
    const int r = std::min(std::min(we, he) - 1, 71) / 2, pad = r + 3;
    const int wp = we + 2 * pad, hp = he + 2 * pad;
    Img A, V, B, S, T, D, ws, vs;
    ASSERT_EQ(CreateImage(&A.img, wp, hp, 1, 8), kImageOk);
    CopyImageRect(&A.img, &G.img, pad, pad, 0, 0, we, he);
    MirrorPadPlane8(&A.img, pad);
    if (b16)
    {
        ASSERT_EQ(CreateImage(&V.img, wp, hp, 1, bits), kImageOk);
        CopyImageRect(&V.img, &P.img, pad, pad, 0, 0, we, he);
        MirrorPadPlane16(&V.img, pad);
    }
    ASSERT_EQ(CreateImage(&B.img, wp, hp, 1, 8), kImageOk);
    ASSERT_EQ(CreateImage(&S.img, wp / 2, hp / 2, 1, 16), kImageOk);
    ASSERT_EQ(CreateImage(&T.img, wp / 2, hp / 2, 1, 16), kImageOk);
    ASSERT_EQ(CreateImage(&D.img, wp, hp, 1, 16), kImageOk);
    ASSERT_EQ(CreateImage(&ws.img, we, he, 1, b16 ? 64 : 32), kImageOk);
    ASSERT_EQ(CreateImage(&vs.img, we, he, 1, b16 ? 64 : 32), kImageOk);
    FillImageBytes(&ws.img, 0);
    FillImageBytes(&vs.img, 0);
    const int win = NlmSearchWindow(quality);
    for (int k = 0; k <= win * win / 2; ++k)
    {
        const int dy = k / win - win / 2, dx = k % win - win / 2;
        CopyImagePixels(&B.img, &A.img);
        AbsDiffShifted(&A.img, &B.img, std::max(dy, 0), std::max(dx, 0), std::max(-dy, 0), std::max(-dx, 0));
        Sum2x2(&S.img, &B.img);
        BoxSum3x3(&T.img, &S.img);
        Upsample2x(&D.img, &S.img);
        if (b16)
            NlmAccumulate16(&V.img, &A.img, &D.img, &ws.img, &vs.img, we, he, 3, r, dy, dx, tables);
        else
            NlmAccumulate8(&A.img, &D.img, &ws.img, &vs.img, we, he, 3, r, dy, dx, tables);
    }
    const double maxv = b16 ? std::pow(2.0, bits) - 1 : 255.0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const size_t i = static_cast<size_t>(y) * we + x;
            double v;
            if (b16)
                v = 0.5 + static_cast<double*>(vs.img.m_pData)[i] / static_cast<double*>(ws.img.m_pData)[i];
            else
                v = 0.5 +
                    static_cast<double>(static_cast<uint32_t*>(vs.img.m_pData)[i]) /
                        static_cast<uint32_t*>(ws.img.m_pData)[i];
            v = std::min(v, maxv);
            if (b16)
                static_cast<uint16_t*>(out->m_pData)[y * w + x] = static_cast<uint16_t>(static_cast<int>(v));
            else
                static_cast<uint8_t*>(out->m_pData)[y * w + x] = static_cast<uint8_t>(static_cast<int>(v));
        }
}

void RunPass(Img* dst, Img* src, double strength, int quality, double dynamics, int threads,
             HpxProgressTarget progress = nullptr)
{
    ASSERT_EQ(CopyImageLayout(&dst->img, &src->img), kImageOk);
    NlmPlaneDenoise(&dst->img, &src->img, strength, quality, dynamics, progress, false, threads);
}

// ------------------------------------------------------------------------------------------

struct ModelCase
{
    int w, h, bits, quality;
    double strength, dynamics;
};

TEST(NlmPlanePass, MatchesTheStepByStepModel)
{
    const ModelCase cases[] = {
        {64, 48, 8, 1, 8.0, 0.0},  {41, 23, 8, 3, 12.5, 0.7},  {18, 18, 8, 3, 9.0, -1.0},   {90, 77, 8, 2, 15.0, -0.4},
        {19, 40, 8, 3, 20.0, 2.0}, {47, 33, 16, 2, 10.7, 0.3}, {18, 21, 16, 3, 14.0, -2.0}, {80, 36, 15, 1, 7.0, 0.0},
        {86, 74, 16, 1, 9.0, 0.5}, {20, 90, 16, 2, 12.0, 0.0},
    };
    for (const ModelCase& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " bits " << c.bits << " q " << c.quality);
        Img src, expect, dst;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, c.w, c.h, 1, c.bits, 7, 8));
        ModelPass(&expect.img, &src.img, c.strength, c.quality, c.dynamics);
        EXPECT_FALSE(SamePixels(&expect.img, &src.img)) << "the case denoises nothing";
        for (int threads : {1, 3})
        {
            RunPass(&dst, &src, c.strength, c.quality, c.dynamics, threads);
            EXPECT_TRUE(SamePixels(&dst.img, &expect.img)) << "threads " << threads;
        }
    }
}

TEST(NlmPlanePass, EightBitResultIsTheSameForAnyThreadCount)
{
    Img src, first, dst, srcCopy;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 400, 400, 1, 8, 11, 8));
    Copy(&srcCopy.img, &src.img);
    RunPass(&first, &src, 11.0, 3, 0.5, 1);
    EXPECT_FALSE(SamePixels(&first.img, &src.img));  // it did denoise
    for (int threads : {2, 3, 8, 24})
    {
        RunPass(&dst, &src, 11.0, 3, 0.5, threads);
        EXPECT_TRUE(SamePixels(&dst.img, &first.img)) << "threads " << threads;
        EXPECT_TRUE(SamePixels(&src.img, &srcCopy.img)) << "source changed, threads " << threads;
    }
    // 16 bits as well (the sums are exact).
    Img src16, first16, dst16;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src16.img, 300, 200, 1, 16, 12, 8));
    RunPass(&first16, &src16, 9.0, 2, -0.5, 1);
    RunPass(&dst16, &src16, 9.0, 2, -0.5, 5);
    EXPECT_TRUE(SamePixels(&dst16.img, &first16.img));
}

// Workers that cannot be started leave their part to the threads that run: same result, same
// progress.
TEST(NlmPlanePass, WorkersThatFailToStartChangeNothing)
{
    struct Counter
    {
        int steps = 0;
    } counter;
    ProgressSink sink = {nullptr, [](void* ctx, HpxProgressTarget) { ++static_cast<Counter*>(ctx)->steps; }, &counter};
    Img src, expect, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 400, 500, 1, 8, 14, 8));  // work for 8 threads
    RunPass(&expect, &src, 10.0, 2, 0.0, 1);
    SetProgressSink(&sink);
    for (int failures : {1, 3, 7})
    {
        counter.steps = 0;
        PlatformFailNextThreadStarts(failures);
        RunPass(&dst, &src, 10.0, 2, 0.0, 8, reinterpret_cast<HpxProgressTarget>(1));
        PlatformFailNextThreadStarts(0);
        EXPECT_TRUE(SamePixels(&dst.img, &expect.img)) << failures;
        EXPECT_EQ(counter.steps, 11) << failures;  // ceil(85 / 8)
    }
    SetProgressSink(nullptr);
}

// Passes on two threads at once, each with its own strengths (so the shared weight-table cache
// is rebuilt while the other pass runs), give what they give one after the other.
TEST(NlmPlanePass, ConcurrentPassesShareTheTableCache)
{
    struct Job
    {
        Img src, dst, expect;
        double base;
    } jobs[2];
    for (int j = 0; j < 2; ++j)
    {
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&jobs[j].src.img, 60, 50, 1, 8, 20 + j, 8));
        jobs[j].base = 7.0 + 0.37 * j;
        for (int i = 0; i < 9; ++i) RunPass(&jobs[j].expect, &jobs[j].src, jobs[j].base + i, 1, 0.1 * i, 2);
    }
    PlatformThread* threads[2];
    for (int j = 0; j < 2; ++j)
    {
        threads[j] = PlatformStartThread(
            [](void* p) -> unsigned
            {
                Job* job = static_cast<Job*>(p);
                // Nine parameter sets each: more than the cache keeps, so slots are replaced.
                for (int i = 0; i < 9; ++i)
                {
                    CopyImageLayout(&job->dst.img, &job->src.img);
                    NlmPlaneDenoise(&job->dst.img, &job->src.img, job->base + i, 1, 0.1 * i, nullptr, false, 2);
                }
                return 0;
            },
            &jobs[j]);
        ASSERT_NE(threads[j], nullptr);
    }
    for (int j = 0; j < 2; ++j)
    {
        EXPECT_TRUE(PlatformJoinThread(threads[j], kPlatformWaitForever));
        PlatformCloseThread(threads[j]);
        EXPECT_TRUE(SamePixels(&jobs[j].dst.img, &jobs[j].expect.img)) << j;
    }
}

TEST(NlmPlanePass, OddSizeComesBackWithItsShape)
{
    Img src, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 101, 61, 1, 8, 13));
    // The caller's source is only read: the pass neither frees nor replaces its block.
    const void* block = src.img.m_pData;
    RunPass(&dst, &src, 10.0, 1, 0.0, 2);
    EXPECT_EQ(src.img.m_pData, block);
    EXPECT_EQ(dst.img.m_iWidth, 101);
    EXPECT_EQ(dst.img.m_iHeight, 61);
    EXPECT_EQ(dst.img.m_iStride, 101);
    EXPECT_EQ(src.img.m_iWidth, 101);
    EXPECT_EQ(src.img.m_iSize, 101 * 61);
}

TEST(NlmPlanePass, SmallPlanesPassThroughWithoutProgress)
{
    struct Counter
    {
        std::atomic<int> steps{0};
    } counter;
    ProgressSink sink = {nullptr, [](void* ctx, HpxProgressTarget) { ++static_cast<Counter*>(ctx)->steps; }, &counter};
    SetProgressSink(&sink);
    const int sizes[][2] = {{16, 200}, {200, 16}, {15, 15}, {200, 15}};
    for (const auto& s : sizes)
    {
        Img src, dst;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, s[0], s[1], 1, 8, 3));
        RunPass(&dst, &src, 20.0, 3, 0.0, 4, reinterpret_cast<HpxProgressTarget>(1));
        EXPECT_TRUE(SamePixels(&dst.img, &src.img)) << s[0] << "x" << s[1];
    }
    SetProgressSink(nullptr);
    EXPECT_EQ(counter.steps.load(), 0);
}

TEST(NlmPlanePass, StrengthZeroIsTheIdentityOnEightBits)
{
    Img src, dst;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&src.img, 64, 52, 1, 8, 21));
    RunPass(&dst, &src, 0.0, 3, 0.0, 3);
    EXPECT_TRUE(SamePixels(&dst.img, &src.img));
    RunPass(&dst, &src, 0.0, 1, 1.5, 1);
    EXPECT_TRUE(SamePixels(&dst.img, &src.img));
}

TEST(NlmPlanePass, SixteenBitsUseTheTruncatedStrength)
{
    Img src, a, b, c;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 50, 40, 1, 16, 4, 8));
    RunPass(&a, &src, 10.7, 2, 0.0, 2);
    RunPass(&b, &src, 10.0, 2, 0.0, 2);
    RunPass(&c, &src, 11.0, 2, 0.0, 2);
    EXPECT_TRUE(SamePixels(&a.img, &b.img));
    EXPECT_FALSE(SamePixels(&a.img, &c.img));
    // 8 bits take the strength as given.
    Img src8, a8, b8;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src8.img, 50, 40, 1, 8, 4, 8));
    RunPass(&a8, &src8, 10.7, 2, 0.0, 2);
    RunPass(&b8, &src8, 10.0, 2, 0.0, 2);
    EXPECT_FALSE(SamePixels(&a8.img, &b8.img));
}

// Progress counts the calling thread's offsets: ceil(offsets / threads).
TEST(NlmPlanePass, ProgressStepsOfTheCallingThread)
{
    struct Recorder
    {
        int steps = 0;
        HpxProgressTarget last = nullptr;
    } rec;
    ProgressSink sink = {nullptr,
                         [](void* ctx, HpxProgressTarget t)
                         {
                             auto* r = static_cast<Recorder*>(ctx);
                             ++r->steps;
                             r->last = t;
                         },
                         &rec};
    SetProgressSink(&sink);
    const HpxProgressTarget target = reinterpret_cast<HpxProgressTarget>(0x1234);
    struct Case
    {
        int quality, threads, steps;
    } cases[] = {{1, 1, 25}, {1, 3, 9}, {2, 1, 85}, {3, 4, 56}, {3, 24, 14}, {2, 0, 85}};
    for (const Case& c : cases)
    {
        Img src, dst;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 300, 40, 1, 8, 5));  // several bands... or one
        rec.steps = 0;
        RunPass(&dst, &src, 5.0, c.quality, 0.0, c.threads, target);
        EXPECT_EQ(rec.steps, c.steps) << "quality " << c.quality << " threads " << c.threads;
        EXPECT_EQ(rec.last, target);
    }
    // Many bands: the steps are spread but add up the same.
    Img tall, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&tall.img, 40, 600, 1, 16, 6));
    rec.steps = 0;
    RunPass(&dst, &tall, 5.0, 1, 0.0, 3, target);
    EXPECT_EQ(rec.steps, 9);
    // No target, no steps.
    rec.steps = 0;
    RunPass(&dst, &tall, 5.0, 1, 0.0, 1, nullptr);
    EXPECT_EQ(rec.steps, 0);
    SetProgressSink(nullptr);
}

// Cancelling from another thread while the pass runs leaves dst = src and src unchanged.
TEST(NlmPlanePass, CancelFromAnotherThread)
{
    for (int bits : {8, 16})
    {
        Img src, dst, srcCopy;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 700, 700, 1, bits, 8, 40));
        Copy(&srcCopy.img, &src.img);
        struct Trigger
        {
            std::atomic<int> steps{0};
            PlatformThread* thread = nullptr;
        } trig;
        // The first progress step starts a thread that raises the abort flag.
        ProgressSink sink = {nullptr,
                             [](void* ctx, HpxProgressTarget)
                             {
                                 auto* t = static_cast<Trigger*>(ctx);
                                 if (t->steps++ == 0)
                                     t->thread = PlatformStartThread(
                                         [](void*) -> unsigned
                                         {
                                             g_bAbort = 1;
                                             return 0;
                                         },
                                         nullptr);
                             },
                             &trig};
        SetProgressSink(&sink);
        g_bAbort = 0;
        RunPass(&dst, &src, 12.0, 3, 0.0, 4, reinterpret_cast<HpxProgressTarget>(1));
        SetProgressSink(nullptr);
        ASSERT_NE(trig.thread, nullptr);
        EXPECT_TRUE(PlatformJoinThread(trig.thread, kPlatformWaitForever));
        PlatformCloseThread(trig.thread);
        EXPECT_EQ(g_bAbort.load(), 1);
        g_bAbort = 0;
        EXPECT_LT(trig.steps.load(), NlmOffsetCount(3) / 4 + 1) << "the pass ran to its end";
        EXPECT_TRUE(SamePixels(&dst.img, &srcCopy.img)) << bits;
        EXPECT_TRUE(SamePixels(&src.img, &srcCopy.img)) << bits;
    }
}

TEST(NlmPlanePass, InPlaceAndBadInput)
{
    Img src, expect;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 40, 30, 1, 8, 9));
    Img copy;
    Copy(&copy.img, &src.img);
    RunPass(&expect, &copy, 10.0, 1, 0.0, 1);
    NlmPlaneDenoise(&src.img, &src.img, 10.0, 1, 0.0, nullptr, false, 2);
    EXPECT_TRUE(SamePixels(&src.img, &expect.img));
    // An empty destination record gets the source's shape.
    Img empty;
    NlmPlaneDenoise(&empty.img, &copy.img, 10.0, 1, 0.0, nullptr, false, 2);
    EXPECT_TRUE(SamePixels(&empty.img, &expect.img));
    // A three-channel image is not a plane: dst receives the input.
    Img rgb, out;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&rgb.img, 30, 30, 3, 8, 9));
    RunPass(&out, &rgb, 10.0, 1, 0.0, 1);
    EXPECT_TRUE(SamePixels(&out.img, &rgb.img));
    // A destination of another shape (even one of the same byte count) is refused unwritten.
    const int32_t shapes[][3] = {{30, 40, 8}, {40, 30, 16}, {41, 30, 8}, {40, 31, 8}};
    for (const auto& shape : shapes)
    {
        Img other;
        ASSERT_EQ(CreateImage(&other.img, shape[0], shape[1], 1, shape[2]), kImageOk);
        FillImageBytes(&other.img, 0xAB);
        EXPECT_EQ(NlmPlaneDenoise(&other.img, &copy.img, 10.0, 1, 0.0, nullptr, false, 2), kImageBadArgs)
            << shape[0] << "x" << shape[1] << "x" << shape[2];
        EXPECT_TRUE(std::all_of(static_cast<const uint8_t*>(other.img.m_pData),
                                static_cast<const uint8_t*>(other.img.m_pData) + other.img.m_iSize,
                                [](uint8_t b) { return b == 0xAB; }));
    }
}

// The GPU flag without a GPU hook installed hands the input back.
TEST(NlmPlanePass, GpuWithoutHookReturnsTheInput)
{
    Img src, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 40, 30, 1, 8, 9));
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    NlmPlaneDenoise(&dst.img, &src.img, 10.0, 1, 0.0, nullptr, true, 2);
    EXPECT_TRUE(SamePixels(&dst.img, &src.img));
}

}  // namespace
