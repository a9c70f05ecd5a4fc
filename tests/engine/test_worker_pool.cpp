// The job's worker pool: every index of a run is done once, the threads are kept from run to run,
// a pool copes with threads that could not be started, and steps run on a pool give the same
// bytes as on one thread.
#include "engine/GaussianBlur.h"
#include "engine/ImagePyramid.h"
#include "engine/Median.h"
#include "engine/WorkerPool.h"

#include "Digest.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <vector>

namespace
{

using jobtest::Owned;

struct RunRecord
{
    std::mutex lock;
    std::vector<int> hits;
    std::set<std::thread::id> threads;
};

void RecordIndex(void* context, int index)
{
    RunRecord* r = static_cast<RunRecord*>(context);
    std::lock_guard<std::mutex> guard(r->lock);
    r->hits[static_cast<size_t>(index)] += 1;
    r->threads.insert(std::this_thread::get_id());
}

}  // namespace

TEST(WorkerPool, RunsEveryIndexOnceAndKeepsItsThreads)
{
    WorkerPool pool(3);
    ASSERT_EQ(pool.Workers(), 3);
    RunRecord record;
    record.hits.assign(8, 0);
    for (int run = 0; run < 200; ++run) pool.Run(&RecordIndex, &record, 1 + run % 4);
    // 200 runs of 1..4 participants: 50 runs each, index i in the runs with more than i participants.
    EXPECT_EQ(record.hits[0], 200);
    EXPECT_EQ(record.hits[1], 150);
    EXPECT_EQ(record.hits[2], 100);
    EXPECT_EQ(record.hits[3], 50);
    // The caller and three workers, the same ones for every run.
    EXPECT_LE(record.threads.size(), 4u);
    EXPECT_TRUE(record.threads.count(std::this_thread::get_id()) == 1);

    // More participants than threads: clamped to the workers plus the caller.
    record.hits.assign(8, 0);
    pool.Run(&RecordIndex, &record, 8);
    EXPECT_EQ(record.hits, (std::vector<int>{1, 1, 1, 1, 0, 0, 0, 0}));
}

TEST(WorkerPool, APartThatThrowsEndsThereAndThePoolGoesOn)
{
    WorkerPool pool(3);
    std::atomic<int> ran{0};
    // The calling thread's part and a worker's part run out of memory.
    auto failing = [](void* context, int index)
    {
        static_cast<std::atomic<int>*>(context)->fetch_add(1);
        if (index <= 1) throw std::bad_alloc();
    };
    for (int run = 0; run < 20; ++run)
    {
        ran = 0;
        pool.Run(failing, &ran, 4);
        EXPECT_EQ(ran.load(), 4) << "the other parts still run";
        EXPECT_TRUE(pool.TakeFailure());
        EXPECT_FALSE(pool.TakeFailure());
    }
    RunRecord record;
    record.hits.assign(4, 0);
    pool.Run(&RecordIndex, &record, 4);
    EXPECT_EQ(record.hits, (std::vector<int>{1, 1, 1, 1}));
    EXPECT_FALSE(pool.TakeFailure());

    // A limit below the pool's threads is what a step gets.
    pool.LimitThreads(2);
    EXPECT_EQ(PoolThreads(&pool), 2);
    record.hits.assign(4, 0);
    pool.Run(&RecordIndex, &record, 4);
    EXPECT_EQ(record.hits, (std::vector<int>{1, 1, 0, 0}));
}

TEST(WorkerPool, ThreadsThatFailToStartLeaveASmallerPool)
{
    PlatformFailNextThreadStarts(2);
    WorkerPool pool(3);
    PlatformFailNextThreadStarts(0);
    EXPECT_EQ(pool.Workers(), 1);
    RunRecord record;
    record.hits.assign(4, 0);
    pool.Run(&RecordIndex, &record, 4);
    EXPECT_EQ(record.hits, (std::vector<int>{1, 1, 0, 0}));

    PlatformFailNextThreadStarts(5);
    WorkerPool none(5);
    PlatformFailNextThreadStarts(0);
    EXPECT_EQ(none.Workers(), 0);
    record.hits.assign(4, 0);
    none.Run(&RecordIndex, &record, 3);
    EXPECT_EQ(record.hits, (std::vector<int>{1, 0, 0, 0}));
}

TEST(WorkerPool, RunFromInsideATaskRunsOnTheCallingThread)
{
    struct Nest
    {
        WorkerPool* pool;
        std::atomic<int> inner{0};
    } nest;
    WorkerPool pool(2);
    nest.pool = &pool;
    pool.Run(
        [](void* c, int index)
        {
            Nest* n = static_cast<Nest*>(c);
            if (index == 0) n->pool->Run([](void* c2, int) { static_cast<Nest*>(c2)->inner += 1; }, n, 3);
        },
        &nest, 3);
    EXPECT_EQ(nest.inner.load(), 3);
}

TEST(WorkerPool, ParallelRowsCoversEveryRowOnce)
{
    WorkerPool pool(4);
    struct Rows
    {
        std::vector<std::atomic<int>> hits;
        explicit Rows(int n) : hits(static_cast<size_t>(n)) {}
    };
    for (WorkerPool* p : {static_cast<WorkerPool*>(nullptr), &pool})
        for (int count : {1, 7, 16, 17, 1000})
            for (int grain : {1, 8, 16})
            {
                Rows rows(count);
                ParallelRows(
                    p, count, 5, grain,
                    [](void* c, int b, int e)
                    {
                        for (int y = b; y < e; ++y) static_cast<Rows*>(c)->hits[static_cast<size_t>(y)] += 1;
                    },
                    &rows);
                for (int y = 0; y < count; ++y)
                    ASSERT_EQ(rows.hits[static_cast<size_t>(y)].load(), 1) << count << " " << grain << " " << y;
            }
    ParallelRows(
        &pool, 0, 5, 8, [](void*, int, int) { FAIL(); }, nullptr);
}

// The pre-blur and the chroma-spot pass on a pool give the bytes of the calling thread alone.
TEST(WorkerPool, BlurAndPyramidOnAPoolMatchOneThread)
{
    WorkerPool pool(3);
    for (int bits : {8, 16})
    {
        Owned src, a, b;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 301, 257, 3, bits, 31));
        ASSERT_TRUE(jobtest::CopyOf(&a.img, &src.img));
        ASSERT_TRUE(jobtest::CopyOf(&b.img, &src.img));
        ASSERT_EQ(GaussianBlurYCbCr(&a.img, 1.2, 0.8, nullptr), kImageOk);
        ASSERT_EQ(GaussianBlurYCbCr(&b.img, 1.2, 0.8, &pool), kImageOk);
        EXPECT_TRUE(jobtest::SameBytes(&a.img, &b.img)) << bits;

        Owned plane, p1, p2;
        ASSERT_TRUE(hpxtest::MakeNoisyImage(&plane.img, 403, 389, 1, bits, 32));
        ASSERT_TRUE(jobtest::CopyOf(&p1.img, &plane.img));
        ASSERT_TRUE(jobtest::CopyOf(&p2.img, &plane.img));
        ASSERT_EQ(GaussianBlurPlane(&p1.img, 1.5f, nullptr), kImageOk);
        ASSERT_EQ(GaussianBlurPlane(&p2.img, 1.5f, &pool), kImageOk);
        EXPECT_TRUE(jobtest::SameBytes(&p1.img, &p2.img)) << bits;

        EXPECT_FALSE(PyramidDenoise(&p1.img, &plane.img, 6, 1, 0.5, nullptr, 3, false, 1, nullptr));
        EXPECT_FALSE(PyramidDenoise(&p2.img, &plane.img, 6, 1, 0.5, nullptr, 3, false, 4, &pool));
        EXPECT_TRUE(jobtest::SameBytes(&p1.img, &p2.img)) << bits;
    }
}

// The median by rows on a pool: the bytes of one thread, borders included.
TEST(WorkerPool, MedianOnAPoolMatchesOneThread)
{
    WorkerPool pool(5);
    for (int bits : {8, 16})
        for (int radius : {1, 3})
        {
            Owned src, one, many;
            ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 157, 203, 3, bits, 34, 60));
            ASSERT_TRUE(jobtest::CopyOf(&one.img, &src.img));
            ASSERT_TRUE(jobtest::CopyOf(&many.img, &src.img));
            MedianFilterImage(&one.img, &src.img, radius, nullptr);
            MedianFilterImage(&many.img, &src.img, radius, &pool);
            EXPECT_TRUE(jobtest::SameBytes(&one.img, &many.img)) << bits << " " << radius;
        }
    // A plane of 16 MiB and more (a 16-bit 2900 x 2900 photograph's): its copy, too, is shared
    // among the threads, in byte ranges whose offsets pass 32 bits before they are divided.
    Owned big, one, many;
    ASSERT_TRUE(hpxtest::MakeRandomImage(&big.img, 4100, 4100, 1, 8, 35));
    ASSERT_TRUE(jobtest::CopyOf(&one.img, &big.img));
    ASSERT_TRUE(jobtest::CopyOf(&many.img, &big.img));
    FillImageBytes(&many.img, 0);  // borders come from the copy alone
    EXPECT_EQ(MedianFilter(&one.img, &big.img, 1, nullptr), kImageOk);
    EXPECT_EQ(MedianFilter(&many.img, &big.img, 1, &pool), kImageOk);
    EXPECT_TRUE(jobtest::SameBytes(&one.img, &many.img));
}

// A whole colour tile with every step (median, pre-blur, passes, chroma-spot) on a pool.
TEST(WorkerPool, TileOnAPoolMatchesOneThread)
{
    WorkerPool pool(4);
    for (int bits : {8, 16})
        for (int median : {1, 2})
        {
            Owned src, one, many;
            ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, 333, 211, 3, bits, 33));
            ASSERT_TRUE(jobtest::CopyOf(&one.img, &src.img));
            ASSERT_TRUE(jobtest::CopyOf(&many.img, &src.img));
            ASSERT_EQ(DenoiseTile(&one.img, &src.img, 30, 28, 4, 1, 0.5, nullptr, true, false, 1, median), kImageOk);
            ASSERT_EQ(DenoiseTile(&many.img, &src.img, 30, 28, 4, 1, 0.5, nullptr, true, false, 5, median, &pool),
                      kImageOk);
            EXPECT_TRUE(jobtest::SameBytes(&one.img, &many.img)) << bits << " " << median;
        }
}
