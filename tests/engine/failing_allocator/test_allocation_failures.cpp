// Whole denoise jobs whose n-th allocation fails, n swept over every allocation of a small job:
// on any thread, on the job's thread only, or on the other threads only (the pool's workers and
// the hybrid's CPU tile thread). Every run must end with success and the full result, or with
// the engine's failure result and the failed cell holding the source; never a hang, a crash, an
// exception out of DenoiseImage or a leak (the sanitizer build checks), and the source is never
// touched. This program replaces operator new, and the linker routes malloc, calloc and realloc
// of the engine (and, in the Windows build, of the statically linked runtime) through the counter.
#include "engine/DenoiseImage.h"
#include "engine/ImageBuffer.h"
#include "engine/WorkerPool.h"

#include "../Digest.h"
#include "../JobTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <chrono>
#include <mutex>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace
{

enum class Where
{
    Any,
    JobThread,
    OtherThreads
};

std::atomic<bool> g_armed{false};
std::atomic<int> g_where{0};
std::atomic<long> g_seen{0};    // allocations counted since the run was armed
std::atomic<long> g_failAt{0};  // the one that fails (1-based; 0: none)
std::atomic<uint64_t> g_jobThread{0};
// Threads other than the job's that allocated in this run. No thread_local: on Windows that
// storage is itself allocated on first use, from inside these functions.
constexpr int kThreadSlots = 64;
std::atomic<uint64_t> g_otherThreadIds[kThreadSlots];

uint64_t CurrentThread()
{
#ifdef _WIN32
    return GetCurrentThreadId();
#else
    return static_cast<uint64_t>(pthread_self());
#endif
}

void NoteOtherThread(uint64_t id)
{
    for (std::atomic<uint64_t>& slot : g_otherThreadIds)
    {
        uint64_t seen = slot.load();
        if (seen == id) return;
        if (seen == 0 && slot.compare_exchange_strong(seen, id)) return;
        if (seen == id) return;
    }
}

int OtherThreads()
{
    int n = 0;
    for (const std::atomic<uint64_t>& slot : g_otherThreadIds) n += slot.load() != 0;
    return n;
}

bool FailThisAllocation()
{
    if (!g_armed.load(std::memory_order_acquire)) return false;
    const uint64_t self = CurrentThread();
    const bool jobThread = self == g_jobThread.load(std::memory_order_relaxed);
    if (!jobThread) NoteOtherThread(self);
    const Where where = static_cast<Where>(g_where.load(std::memory_order_relaxed));
    if ((where == Where::JobThread && !jobThread) || (where == Where::OtherThreads && jobThread)) return false;
    return g_seen.fetch_add(1) + 1 == g_failAt.load(std::memory_order_relaxed);
}

}  // namespace

extern "C"
{
    void* __real_malloc(size_t);
    void* __real_calloc(size_t, size_t);
    void* __real_realloc(void*, size_t);
    void* __wrap_malloc(size_t n) { return FailThisAllocation() ? nullptr : __real_malloc(n); }
    void* __wrap_calloc(size_t n, size_t size) { return FailThisAllocation() ? nullptr : __real_calloc(n, size); }
    void* __wrap_realloc(void* p, size_t n) { return FailThisAllocation() ? nullptr : __real_realloc(p, n); }
}

void* operator new(size_t n)
{
    void* p = FailThisAllocation() ? nullptr : __real_malloc(n != 0 ? n : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n) { return ::operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    try
    {
        return ::operator new(n);
    }
    catch (...)
    {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept
{
    try
    {
        return ::operator new(n);
    }
    catch (...)
    {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace
{

using jobtest::Owned;

struct Job
{
    int width, height, channels, bits;
    double luma, chroma, large;
    int quality, median;
    int gpuTile;  // 0: CPU job; else the stand-in GPU's largest tile (a CPU+GPU job)
};

// Runs the job with allocation failAt failing (0: none); false when an exception left it.
bool RunJob(const Job& job, ImageBuffer* dst, ImageBuffer* src, Where where, long failAt, unsigned char* result,
            bool hybrid = true, HpxProgressTarget progress = nullptr)
{
    g_where = static_cast<int>(where);
    g_seen = 0;
    g_failAt = failAt;
    for (std::atomic<uint64_t>& slot : g_otherThreadIds) slot = 0;
    g_jobThread = CurrentThread();
    g_armed.store(true, std::memory_order_release);
    bool ok = true;
    try
    {
        *result = DenoiseImage(dst, src, job.luma, job.chroma, job.large, job.quality, 0.25, progress,
                               job.channels == 3, job.gpuTile != 0, hybrid && job.gpuTile != 0, job.median);
    }
    catch (...)
    {
        ok = false;
    }
    g_armed = false;
    return ok;
}

// The cells of the job, as it pastes them.
std::vector<TileRect> Cells(const Job& job)
{
    std::vector<TileRect> cells;
    const int edge = job.gpuTile != 0 ? job.gpuTile : kTileEdge;
    const int across = (job.width + edge - 1) / edge;
    const int down = (job.height + edge - 1) / edge;
    if (across == 1 && down == 1) return {TileRect{0, 0, job.width, job.height}};
    for (int k = 0; k < across * down; ++k)
    {
        TileRect cell;
        if (job.gpuTile != 0)
            HybridTileRects(job.width, job.height, across, down, k, &cell, nullptr);
        else
            SequentialTileRects(job.width, job.height, edge, k % across, k / across, &cell, nullptr);
        cells.push_back(cell);
    }
    return cells;
}

// Fails each allocation of the job in turn (every `stride`-th where runs are slow).
void Sweep(const Job& job, Where where, long stride = 1)
{
    jobtest::CleanJobState clean;
    Owned src, kept, want, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, job.width, job.height, job.channels, job.bits, 7, 30));
    ASSERT_TRUE(jobtest::CopyOf(&kept.img, &src.img));
    ASSERT_EQ(CopyImageLayout(&want.img, &src.img), kImageOk);
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    unsigned char result = 0;
    ASSERT_TRUE(RunJob(job, &want.img, &src.img, where, 0, &result));
    ASSERT_EQ(result, kImageOk);
    // (The pool's workers may leave every part of a small job to the job's thread.)
    const long count = g_seen.load();
    // A CPU+GPU job that cannot have its schedule's mutex runs its tiles one after the other,
    // cut as the sequential loop cuts them: also a whole result.
    Owned sequential;
    ASSERT_TRUE(jobtest::CopyOf(&sequential.img, &want.img));
    if (job.gpuTile != 0) ASSERT_TRUE(RunJob(job, &sequential.img, &src.img, where, 0, &result, false));
    const std::vector<TileRect> cells = Cells(job);
    int failedRuns = 0;
    // Worker threads make a few more or fewer allocations from run to run.
    for (long n = 1; n <= count + count / 4 + 4; n += stride)
    {
        FillImageBytes(&dst.img, 0xAB);
        ASSERT_TRUE(RunJob(job, &dst.img, &src.img, where, n, &result)) << "exception, allocation " << n;
        ASSERT_TRUE(jobtest::SameBytes(&src.img, &kept.img)) << "source changed, allocation " << n;
        if (result == kImageOk)
        {
            ASSERT_TRUE(jobtest::SameBytes(&dst.img, &want.img) || jobtest::SameBytes(&dst.img, &sequential.img))
                << "done but not denoised, allocation " << n;
            continue;
        }
        ASSERT_EQ(result, kImageNoMemory) << n;
        ++failedRuns;
        // One failed allocation costs one cell at most; the job's threads go on with the others.
        int sourceCells = 0;
        for (const TileRect& c : cells)
        {
            if (jobtest::SameRect(&dst.img, &src.img, c.m_iLeft, c.m_iTop, c.m_iRight, c.m_iBottom))
                ++sourceCells;
            else
                ASSERT_TRUE(jobtest::SameRect(&dst.img, &want.img, c.m_iLeft, c.m_iTop, c.m_iRight, c.m_iBottom))
                    << "cell neither denoised nor the source, allocation " << n;
        }
        ASSERT_EQ(sourceCells, 1) << "allocation " << n;
    }
    if (count > 0) EXPECT_GT(failedRuns, 0) << "no failure reached the job";
}

}  // namespace

TEST(AllocationFailures, SmallColourJobWithTheLargeMedian)
{
    const Job job{97, 83, 3, 8, 30, 35, 3, 1, 2, 0};
    Sweep(job, Where::Any);
    Sweep(job, Where::JobThread);
    Sweep(job, Where::OtherThreads);
}

TEST(AllocationFailures, OddGreyPlaneOfSixteenBitsPassedStraightToThePass)
{
    // No median, no pre-blur: the job's own source is the pass's source plane.
    Sweep(Job{61, 47, 1, 16, 20, 0, 0, 3, 0, 0}, Where::JobThread);
}

TEST(AllocationFailures, SequentialTilesShareThePoolAfterAFailure)
{
    Sweep(Job{1010, 30, 1, 8, 30, 0, 0, 1, 2, 0}, Where::Any);
}

TEST(AllocationFailures, CpuAndGpuTilesAfterAFailure)
{
    jobtest::CleanJobState clean;
    CountProcessors();
    if (g_byCpuCount < 2) GTEST_SKIP() << "a CPU+GPU job needs 2 processors";
    jobtest::WarmWeightTables(10, 14, 3, 1, 0.25);
    jobtest::FakeGpuInstalled gpu(64);
    const Job job{150, 100, 3, 8, 10, 14, 3, 1, 2, 64};
    Sweep(job, Where::OtherThreads);
    Sweep(job, Where::Any, 4);
}

TEST(AllocationFailures, PoolWorkersFirstBlockingWhileAllocationsFail)
{
    // Where the runtime makes a mutex's or a condition's system object at its first use, a
    // worker blocking for the first time needs memory: the pool must have made them already.
    for (long failAt = 1; failAt <= 3; ++failAt)
    {
        std::atomic<int> parts{0};
        {
            WorkerPool pool(3);
            g_where = static_cast<int>(Where::OtherThreads);
            g_seen = 0;
            g_failAt = failAt;
            g_jobThread = CurrentThread();
            g_armed.store(true, std::memory_order_release);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the workers block
            pool.Run([](void* p, int) { static_cast<std::atomic<int>*>(p)->fetch_add(1); }, &parts, 4);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        g_armed = false;
        EXPECT_EQ(parts.load(), 4) << failAt;
    }
}

TEST(AllocationFailures, CpuTileThreadBesideTheGpuUsesOneProcessorFewer)
{
#ifdef _WIN32
    GTEST_SKIP() << "the Windows runtime allocates on every thread it starts or blocks";
#endif
    jobtest::CleanJobState clean;
    jobtest::CpuLimit two(2);
    if (!two.ok()) GTEST_SKIP() << "needs 2 processors";
    // The stand-in GPU is fast (black tiles), so it stays in the schedule until the tiles run out
    // and the CPU side always has one thread: its own. The 7x7 median takes its working memory
    // on every thread that runs rows.
    // The GPU side's first tile waits until the CPU side has taken one (a tile handed out is a
    // progress step).
    jobtest::FakeGpuInstalled gpu(64, /*markJoint=*/true);
    static jobtest::RecordingSink* s_sink;
    static std::thread::id s_jobThread;
    jobtest::RecordingSink sink;
    s_sink = &sink;
    s_jobThread = std::this_thread::get_id();
    jobtest::FakeGpu().beforeJoint = []
    {
        for (int i = 0; i < 2000; ++i)
        {
            {
                std::lock_guard<std::mutex> lock(s_sink->mutex);
                for (const std::thread::id& id : s_sink->stepThreads)
                    if (id != s_jobThread) return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    const Job job{200, 150, 3, 8, 10, 14, 0, 1, 2, 64};
    Owned src, dst;
    ASSERT_TRUE(hpxtest::MakeNoisyImage(&src.img, job.width, job.height, 3, 8, 9));
    ASSERT_EQ(CopyImageLayout(&dst.img, &src.img), kImageOk);
    int runsBesideTheGpu = 0;
    for (int run = 0; run < 5; ++run)
    {
        unsigned char result = 0;
        {
            std::lock_guard<std::mutex> lock(sink.mutex);
            sink.stepThreads.clear();
        }
        ASSERT_TRUE(RunJob(job, &dst.img, &src.img, Where::Any, 0, &result, true, jobtest::FakeProgressWindow()));
        ASSERT_EQ(result, kImageOk);
        // Never more threads than processors. On a loaded machine the schedule may send the GPU
        // side away before the tiles run out (its first tile waits for the CPU side, which makes it
        // look slow); the CPU side then rightly takes both processors for the tiles that are left.
        EXPECT_LE(OtherThreads(), 2) << "threads of the CPU side that allocated, run " << run;
        runsBesideTheGpu += OtherThreads() == 1;
    }
    EXPECT_GE(runsBesideTheGpu, 1) << "the CPU side never kept to one processor while the GPU side was there";
}
