// The whole-image job: tiling geometry, progress totals, cancel, the hybrid schedule and its
// decision rule, and tiles that run out of memory.
#include "engine/DenoiseImage.h"
#include "engine/DenoiseTile.h"

#include "Digest.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <set>

using jobtest::CleanJobState;
using jobtest::Owned;
using jobtest::RecordingSink;

namespace
{

unsigned char RunJob(ImageBuffer* dst, ImageBuffer* src, double luma, double chroma, double large, int quality,
                     HpxProgressTarget progress, bool colour, bool gpu, bool hybrid, int median = 0)
{
    return DenoiseImage(dst, src, luma, chroma, large, quality, 0.25, progress, colour, gpu, hybrid, median);
}

}  // namespace

TEST(DenoiseJob, TileAndMarginGeometry)
{
    // 2500 x 1200 on the CPU: 3 x 2 tiles of 1000, margins of 50 clipped to the image.
    TileRect cell, margin;
    SequentialTileRects(2500, 1200, 1000, 1, 1, &cell, &margin);
    EXPECT_EQ(cell.m_iLeft, 1000);
    EXPECT_EQ(cell.m_iRight, 2000);
    EXPECT_EQ(cell.m_iTop, 1000);
    EXPECT_EQ(cell.m_iBottom, 1200);
    EXPECT_EQ(margin.m_iLeft, 950);
    EXPECT_EQ(margin.m_iRight, 2050);
    EXPECT_EQ(margin.m_iTop, 950);
    EXPECT_EQ(margin.m_iBottom, 1200);
    SequentialTileRects(2500, 1200, 1000, 2, 0, &cell, &margin);
    EXPECT_EQ(cell.m_iRight, 2500);
    EXPECT_EQ(margin.m_iLeft, 1950);
    EXPECT_EQ(margin.m_iRight, 2500);
    EXPECT_EQ(margin.m_iTop, 0);
    EXPECT_EQ(margin.m_iBottom, 1050);
    // 1000 x 1000: one tile of the whole image, margins clipped away.
    SequentialTileRects(1000, 1000, 1000, 0, 0, &cell, &margin);
    EXPECT_EQ(margin.m_iLeft, 0);
    EXPECT_EQ(margin.m_iTop, 0);
    EXPECT_EQ(margin.m_iRight, 1000);
    EXPECT_EQ(margin.m_iBottom, 1000);

    // Hybrid cells: ceil(w / across) x ceil(h / down), margins of 100; the cells tile the image.
    const int32_t w = 2500, h = 1201;
    const uint32_t across = 3;
    const int32_t down = 2;
    int64_t area = 0;
    for (uint32_t k = 0; k < across * down; ++k)
    {
        HybridTileRects(w, h, across, down, k, &cell, &margin);
        area += int64_t(cell.m_iRight - cell.m_iLeft) * (cell.m_iBottom - cell.m_iTop);
        EXPECT_EQ(margin.m_iLeft, std::max(0, cell.m_iLeft - 100));
        EXPECT_EQ(margin.m_iBottom, std::min(h, cell.m_iBottom + 100));
    }
    EXPECT_EQ(area, int64_t(w) * h);
    HybridTileRects(w, h, across, down, 4, &cell, &margin);
    EXPECT_EQ(cell.m_iLeft, 834);
    EXPECT_EQ(cell.m_iRight, 1668);
    EXPECT_EQ(cell.m_iTop, 601);
    EXPECT_EQ(cell.m_iBottom, 1201);

    // The tile edge: 1000 unless a ready GPU wants less.
    EXPECT_EQ(ChooseTileEdge(true), 1000) << "no GPU hook installed";
    jobtest::FakeGpuInstalled gpu(512);
    EXPECT_EQ(ChooseTileEdge(true), 512);
    EXPECT_EQ(ChooseTileEdge(false), 1000);
}

TEST(DenoiseJob, ProgressTotals)
{
    CleanJobState clean;
    EXPECT_EQ(TileProgressSteps(3, false, 4, true, 2.0), 275u);  // (441 div 4) x 5 div 2
    EXPECT_EQ(TileProgressSteps(3, false, 4, true, 1.0), 165u);
    EXPECT_EQ(TileProgressSteps(1, false, 8, false, 9.0), 3u);  // 49 div 8 = 6, x 1 div 2
    EXPECT_EQ(TileProgressSteps(2, true, 8, true, 2.0), 253u);  // 169 x 3 div 2
    EXPECT_EQ(TileProgressSteps(7, true, 8, true, 0.0), 220u);  // any other quality counts as 3

    // Through the job, on 4 processors: 2 x 1 colour tiles at quality 3, chroma-large 2.
    jobtest::CpuLimit four(4);
    if (!four.ok()) GTEST_SKIP() << "needs 4 processors";
    {
        RecordingSink sink;
        sink.abortOnSetup = true;  // only the set-up is wanted here
        Owned src, dst;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 1001, 40, 3, 8, 1));
        ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
        RunJob(&dst.img, &src.img, 10, 10, 2.0, 3, jobtest::FakeProgressWindow(), true, false, false);
        EXPECT_EQ(g_byCpuCount, 4);
        EXPECT_EQ(sink.setups.load(), 1);
        EXPECT_EQ(sink.total.load(), 2u * 275u);
        EXPECT_EQ(sink.steps.load(), 0) << "cancelled before the first tile";
    }
    g_bAbort = 0;
    {
        // More than 65535 steps: 100 x 2 GPU tiles of 661 steps reach the sink unwrapped.
        jobtest::FakeGpuInstalled gpu(20);
        RecordingSink sink;
        sink.abortOnSetup = true;
        Owned src, dst;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 2000, 40, 3, 8, 1));
        ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
        RunJob(&dst.img, &src.img, 10, 10, 2.0, 3, jobtest::FakeProgressWindow(), true, true, false);
        EXPECT_EQ(sink.total.load(), 100u * 2u * 661u);
        EXPECT_GT(sink.total.load(), 65535u);
    }
    g_bAbort = 0;
    {
        // A whole small job: one tile, set up once, and each of its five passes moves the bar once
        // per offset that the calling thread runs (25 offsets over 4 threads: 7).
        RecordingSink sink;
        Owned src, dst;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 120, 100, 3, 8, 1));
        ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
        ASSERT_EQ(RunJob(&dst.img, &src.img, 10, 10, 2.0, 1, jobtest::FakeProgressWindow(), true, false, false),
                  kImageOk);
        EXPECT_EQ(sink.setups.load(), 1);
        EXPECT_EQ(sink.total.load(), TileProgressSteps(1, false, 4, true, 2.0));
        EXPECT_EQ(sink.steps.load(), 5 * 7);
        // Without a progress window nothing is reported.
        RecordingSink quiet;
        RunJob(&dst.img, &src.img, 10, 10, 2.0, 1, nullptr, true, false, false);
        EXPECT_EQ(quiet.setups.load() + quiet.steps.load(), 0);
    }
    {
        // One processor: a fusion job runs sequentially on the GPU (tiles x steps, not tiles + 3).
        jobtest::CpuLimit one(1);
        ASSERT_TRUE(one.ok());
        jobtest::FakeGpuInstalled gpu(64);
        RecordingSink sink;
        sink.abortOnSetup = true;
        Owned src, dst;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 130, 70, 3, 8, 1));
        ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
        RunJob(&dst.img, &src.img, 10, 10, 0.0, 1, jobtest::FakeProgressWindow(), true, true, true);
        EXPECT_EQ(sink.total.load(), 3u * 2u * TileProgressSteps(1, true, 1, true, 0.0));
    }
}

// Cancels the job from another thread while the first tile's first pass runs, and holds the
// job's thread at that step until the flag is set.
struct CancelFromOtherThread
{
    std::mutex m;
    std::condition_variable cv;
    bool requested = false, done = false;
    int atStep;
    std::thread canceller;

    explicit CancelFromOtherThread(RecordingSink& sink, int step) : atStep(step)
    {
        sink.user = this;
        sink.onStep = [](RecordingSink* s, int index)
        {
            auto* self = static_cast<CancelFromOtherThread*>(s->user);
            if (index != self->atStep) return;
            std::unique_lock<std::mutex> lock(self->m);
            self->requested = true;
            self->cv.notify_all();
            self->cv.wait_for(lock, std::chrono::seconds(10), [self] { return self->done; });
        };
        canceller = std::thread(
            [this]
            {
                std::unique_lock<std::mutex> lock(m);
                cv.wait_for(lock, std::chrono::seconds(20), [this] { return requested; });
                g_bAbort = 1;
                done = true;
                cv.notify_all();
            });
    }
    ~CancelFromOtherThread()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            requested = true;
        }
        cv.notify_all();
        canceller.join();
    }
};

TEST(DenoiseJob, CancelStopsAfterTheCurrentTile)
{
    CleanJobState clean;
    // Sequential CPU job of 2 x 1 tiles; the cancel arrives during the first tile.
    Owned src, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 1100, 48, 1, 8, 3));
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    FillImageBytes(&dst.img, 0xAB);
    RecordingSink sink;
    {
        CancelFromOtherThread cancel(sink, 2);
        RunJob(&dst.img, &src.img, 10, 10, 0, 3, jobtest::FakeProgressWindow(), false, false, false);
    }
    EXPECT_EQ(g_bAbort.load(), 1);
    // The tile in work is pasted (its passes stopped, so it holds the source), the next one is not.
    EXPECT_TRUE(jobtest::SameRect(&dst.img, &src.img, 0, 0, 1000, 48));
    EXPECT_TRUE(jobtest::RectIsByte(&dst.img, 1000, 0, 1100, 48, 0xAB));
    EXPECT_LT(static_cast<uint32_t>(sink.steps.load()), sink.total.load() / 2);
}

TEST(DenoiseJob, CancelledHybridPastesNeitherSide)
{
    CleanJobState clean;
    jobtest::FakeGpuInstalled gpu(64);
    Owned src, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 200, 150, 3, 8, 5));
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    FillImageBytes(&dst.img, 0xAB);
    jobtest::WarmWeightTables(10, 10, 0, 1, 0.25);
    RecordingSink sink;
    {
        CancelFromOtherThread cancel(sink, 0);  // as the first tile is handed out
        RunJob(&dst.img, &src.img, 10, 10, 0, 1, jobtest::FakeProgressWindow(), true, true, true);
    }
    EXPECT_TRUE(jobtest::RectIsByte(&dst.img, 0, 0, 200, 150, 0xAB));
    EXPECT_LE(sink.steps.load(), 2) << "each side takes at most the tile it was given";
}

TEST(DenoiseJob, ScheduleDecisionWithInjectedTicks)
{
    TileSchedule s = {};
    s.m_uiTotalTiles = 20;
    s.m_uiNextTile = 20;
    s.m_bCpuActive = s.m_bGpuActive = 1;
    EXPECT_TRUE(ShouldStopTileSideAt(&s, true, 0.0)) << "no tile left";
    EXPECT_TRUE(ShouldStopTileSideAt(&s, false, 0.0));

    // GPU side four tiles of 100 ms, last started at 1000; the CPU side has finished one tile of
    // 1000 ms and comes for its second at 1050.
    s.m_uiNextTile = 6;
    s.m_iRemaining = 14;
    s.m_iGpuEntries = 5;
    s.m_dGpuBusyMs = 400.0;
    s.m_dGpuStartTick = 1000.0;
    s.m_iCpuEntries = 2;
    s.m_dCpuBusyMs = 1000.0;
    s.m_dCpuStartTick = 1050.0;
    // deadline = 1000 + (14 + 1) x 100 = 2500; 1050 + 1000 > 2500 is false: keep going.
    EXPECT_FALSE(ShouldStopTileSideAt(&s, true, 1050.0));
    // With 9 tiles left the GPU alone finishes at 2000, before the CPU's next tile would: stop.
    s.m_iRemaining = 9;
    EXPECT_TRUE(ShouldStopTileSideAt(&s, true, 1050.0));
    EXPECT_FALSE(ShouldStopTileSideAt(&s, true, 999.0));  // 999 + 1000 <= 2000
    // The fast side never stops for the slow one: its own 100 ms fit before the CPU's deadline.
    EXPECT_FALSE(ShouldStopTileSideAt(&s, false, 1100.0));
    // Either side before its first finished tile: no decision yet.
    s.m_iCpuEntries = 1;
    EXPECT_FALSE(ShouldStopTileSideAt(&s, true, 1e9));
    s.m_iCpuEntries = 2;
    // The other side gone: the one left takes every remaining tile.
    s.m_bGpuActive = 0;
    EXPECT_FALSE(ShouldStopTileSideAt(&s, true, 1e9));
}

namespace
{

// The hybrid result computed tile by tile on the CPU with the hybrid's own cells and margins.
void HybridReference(ImageBuffer* dst, ImageBuffer* src, double luma, double chroma, double large, int quality,
                     int tileEdge)
{
    const uint32_t across = static_cast<uint32_t>((src->m_iWidth + tileEdge - 1) / tileEdge);
    const int32_t down = (src->m_iHeight + tileEdge - 1) / tileEdge;
    CopyImageLayout(dst, src);
    for (uint32_t k = 0; k < across * static_cast<uint32_t>(down); ++k)
    {
        TileRect cell, margin;
        HybridTileRects(src->m_iWidth, src->m_iHeight, across, down, k, &cell, &margin);
        Owned ts, td;
        CreateImage(&ts.img, margin.m_iRight - margin.m_iLeft, margin.m_iBottom - margin.m_iTop, src->m_iChannels,
                    src->m_iBits);
        CopyImageRect(&ts.img, src, 0, 0, margin.m_iLeft, margin.m_iTop, ts.img.m_iWidth, ts.img.m_iHeight);
        CopyImageLayout(&td.img, &ts.img);
        DenoiseTile(&td.img, &ts.img, luma, chroma, large, quality, 0.25, nullptr, true, false, 1, 0);
        CopyImageRect(dst, &td.img, cell.m_iLeft, cell.m_iTop, cell.m_iLeft - margin.m_iLeft,
                      cell.m_iTop - margin.m_iTop, cell.m_iRight - cell.m_iLeft, cell.m_iBottom - cell.m_iTop);
    }
}

std::thread::id g_mainThread;
RecordingSink* g_pHybridSink = nullptr;

// Holds the GPU side's first tile until the CPU side has been handed one (at most 10 s), so that
// both sides take part whatever the machine's load.
void WaitForCpuSide()
{
    for (int i = 0; i < 1000; ++i)
    {
        {
            std::lock_guard<std::mutex> lock(g_pHybridSink->mutex);
            for (const auto& id : g_pHybridSink->stepThreads)
                if (id != g_mainThread) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

TEST(DenoiseJob, HybridSidesPasteDisjointCellsAndMatchTheCpuResult)
{
    CleanJobState clean;
    jobtest::CpuLimit few(3);
    if (!few.ok()) GTEST_SKIP() << "needs 3 processors";
    const int tileEdge = 64;
    Owned src;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 200, 150, 3, 8, 41));
    const uint32_t tiles = 4 * 3;
    g_mainThread = std::this_thread::get_id();

    // 1. The stand-in GPU writes black tiles: every cell shows which side took it.
    Owned reference;
    HybridReference(&reference.img, &src.img, 10, 14, 0.0, 1, tileEdge);
    {
        jobtest::FakeGpuInstalled gpu(tileEdge, /*markJoint=*/true);
        RecordingSink sink;
        g_pHybridSink = &sink;
        jobtest::FakeGpu().beforeJoint = &WaitForCpuSide;
        Owned dst;
        ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
        FillImageBytes(&dst.img, 0xAB);
        ASSERT_EQ(RunJob(&dst.img, &src.img, 10, 14, 0.0, 1, jobtest::FakeProgressWindow(), true, true, true),
                  kImageOk);
        EXPECT_EQ(sink.total.load(), tiles + 3);
        ASSERT_EQ(sink.steps.load(), static_cast<int>(tiles)) << "every tile handed out once";
        int gpuTiles = 0, cpuTiles = 0;
        for (uint32_t k = 0; k < tiles; ++k)
        {
            TileRect cell, margin;
            HybridTileRects(200, 150, 4, 3, k, &cell, &margin);
            // Step k is the hand-out of tile k (both happen under the schedule's mutex).
            const bool onGpu = sink.stepThreads[k] == g_mainThread;
            if (onGpu)
            {
                ++gpuTiles;
                EXPECT_TRUE(jobtest::RectIsByte(&dst.img, cell.m_iLeft, cell.m_iTop, cell.m_iRight, cell.m_iBottom, 0))
                    << "GPU tile " << k;
            }
            else
            {
                ++cpuTiles;
                EXPECT_TRUE(jobtest::SameRect(&dst.img, &reference.img, cell.m_iLeft, cell.m_iTop, cell.m_iRight,
                                              cell.m_iBottom))
                    << "CPU tile " << k;
            }
        }
        EXPECT_EQ(gpuTiles, jobtest::FakeGpu().jointCalls.load());
        EXPECT_GE(gpuTiles, 1);
        EXPECT_GE(cpuTiles, 1);
    }

    // 2. With a stand-in GPU that computes like the CPU, the hybrid equals the all-CPU result,
    //    chroma-spot passes (planes through the hook on the GPU side) included.
    Owned referenceLarge;
    HybridReference(&referenceLarge.img, &src.img, 10, 14, 3.0, 1, tileEdge);
    {
        jobtest::FakeGpuInstalled gpu(tileEdge);
        Owned dst;
        ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
        ASSERT_EQ(RunJob(&dst.img, &src.img, 10, 14, 3.0, 1, nullptr, true, true, true), kImageOk);
        EXPECT_TRUE(jobtest::SameBytes(&dst.img, &referenceLarge.img));
        EXPECT_EQ(jobtest::FakeGpu().planeCalls.load(), 2 * jobtest::FakeGpu().jointCalls.load());
    }
}

TEST(DenoiseJob, SequentialTilesMatchTileByTileAndSmallImagesAreOneTile)
{
    CleanJobState clean;
    // A small image is one tile without margins: the job equals DenoiseTile on the whole image.
    Owned small, a, b;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&small.img, 90, 60, 3, 16, 2));
    ASSERT_EQ(CopyImageLayout(&a.img, &small.img), kImageOk);
    ASSERT_EQ(CopyImageLayout(&b.img, &small.img), kImageOk);
    ASSERT_EQ(RunJob(&a.img, &small.img, 8, 12, 2.0, 1, nullptr, true, false, false, 1), kImageOk);
    CountProcessors();
    DenoiseTile(&b.img, &small.img, 8, 12, 2.0, 1, 0.25, nullptr, true, false, g_byCpuCount, 1);
    EXPECT_TRUE(jobtest::SameBytes(&a.img, &b.img));

    // GPU tiles of 64 (stand-in GPU), sequential: every cell is its own tile with 50-pixel margins.
    jobtest::FakeGpuInstalled gpu(64);
    Owned src, dst, want;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 150, 100, 3, 8, 6));
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    ASSERT_EQ(RunJob(&dst.img, &src.img, 9, 9, 0.0, 1, nullptr, true, true, false), kImageOk);
    EXPECT_EQ(jobtest::FakeGpu().jointCalls.load(), 3 * 2);
    ASSERT_EQ(CopyImageLayout(&want.img, &src.img), kImageOk);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i)
        {
            TileRect cell, margin;
            SequentialTileRects(150, 100, 64, i, j, &cell, &margin);
            Owned ts, td;
            CreateImage(&ts.img, margin.m_iRight - margin.m_iLeft, margin.m_iBottom - margin.m_iTop, 3, 8);
            CopyImageRect(&ts.img, &src.img, 0, 0, margin.m_iLeft, margin.m_iTop, ts.img.m_iWidth, ts.img.m_iHeight);
            CopyImageLayout(&td.img, &ts.img);
            DenoiseTile(&td.img, &ts.img, 9, 9, 0.0, 1, 0.25, nullptr, true, false, 1, 0);
            CopyImageRect(&want.img, &td.img, cell.m_iLeft, cell.m_iTop, cell.m_iLeft - margin.m_iLeft,
                          cell.m_iTop - margin.m_iTop, cell.m_iRight - cell.m_iLeft, cell.m_iBottom - cell.m_iTop);
        }
    EXPECT_TRUE(jobtest::SameBytes(&dst.img, &want.img));
}

TEST(DenoiseJob, TilesWithoutMemoryKeepTheSourceAndTheJobGoesOn)
{
    CleanJobState clean;
    Owned src, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 1100, 40, 1, 8, 8));
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    FillImageBytes(&dst.img, 0xAB);
    SimulateTileAllocationFailures(0);
    EXPECT_EQ(RunJob(&dst.img, &src.img, 10, 10, 0, 1, nullptr, false, false, false), kImageNoMemory);
    SimulateTileAllocationFailures(-1);
    EXPECT_TRUE(jobtest::SameBytes(&dst.img, &src.img)) << "every cell holds the source";

    // The same in a hybrid job: both sides go on and every cell is written.
    jobtest::FakeGpuInstalled gpu(64);
    Owned colour, out;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&colour.img, 150, 100, 3, 8, 8));
    ASSERT_EQ(CopyImageLayout(&out.img, &colour.img), kImageOk);
    FillImageBytes(&out.img, 0xAB);
    SimulateTileAllocationFailures(0);
    EXPECT_EQ(RunJob(&out.img, &colour.img, 10, 10, 0, 1, nullptr, true, true, true), kImageNoMemory);
    SimulateTileAllocationFailures(-1);
    EXPECT_TRUE(jobtest::SameBytes(&out.img, &colour.img));

    // Unusable images are refused without writing: a destination of another shape, and a colour
    // image that is not to be denoised as colour (one tile or several).
    Owned wrong;
    ASSERT_EQ(CreateImage(&wrong.img, 10, 10, 3, 8), kImageOk);
    EXPECT_EQ(RunJob(&wrong.img, &src.img, 10, 10, 0, 1, nullptr, true, false, false), kImageBadArgs);
    for (int32_t width : {150, 1100})
    {
        Owned rgb, rgbOut;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&rgb.img, width, 40, 3, 8, 8));
        ASSERT_EQ(CopyImageLayout(&rgbOut.img, &rgb.img), kImageOk);
        FillImageBytes(&rgbOut.img, 0xAB);
        EXPECT_EQ(RunJob(&rgbOut.img, &rgb.img, 10, 10, 0, 1, nullptr, false, false, false), kImageBadArgs) << width;
        EXPECT_TRUE(jobtest::RectIsByte(&rgbOut.img, 0, 0, width, 40, 0xAB)) << width;
    }
}
