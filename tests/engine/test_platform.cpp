// The platform seam as the engine uses it: threads, bounded joins, simulated start failures,
// the named mutex, ticks, the pump hook, the progress sink (natively and under Wine) and the
// trace of a swallowed exception.
#include "engine/Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/CaughtExceptionTrace.h"

namespace
{

TEST(PlatformSeam, ThreadsRunAndJoin)
{
    std::atomic<int> hits{0};
    PlatformThread* threads[6];
    for (auto& t : threads)
    {
        t = PlatformStartThread(
            [](void* p) -> unsigned
            {
                ++*static_cast<std::atomic<int>*>(p);
                return 7;
            },
            &hits);
        ASSERT_NE(t, nullptr);
    }
    for (auto* t : threads)
    {
        EXPECT_TRUE(PlatformJoinThread(t, kPlatformWaitForever));
        EXPECT_TRUE(PlatformJoinThread(t, 0));  // ended stays ended
        PlatformCloseThread(t);
    }
    EXPECT_EQ(hits.load(), 6);
    EXPECT_TRUE(PlatformJoinThread(nullptr, 0));
    EXPECT_EQ(PlatformStartThread(nullptr, nullptr), nullptr);
}

TEST(PlatformSeam, SimulatedStartFailures)
{
    PlatformFailNextThreadStarts(2);
    EXPECT_EQ(PlatformStartThread([](void*) -> unsigned { return 0; }, nullptr), nullptr);
    EXPECT_EQ(PlatformStartThread([](void*) -> unsigned { return 0; }, nullptr), nullptr);
    PlatformThread* t = PlatformStartThread([](void*) -> unsigned { return 0; }, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(PlatformJoinThread(t, kPlatformWaitForever));
    PlatformCloseThread(t);
}

TEST(PlatformSeam, BoundedJoinTimesOutWhileTheThreadRuns)
{
    std::atomic<int> release{0};
    PlatformThread* t = PlatformStartThread(
        [](void* p) -> unsigned
        {
            while (static_cast<std::atomic<int>*>(p)->load() == 0)
            {
            }
            return 0;
        },
        &release);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(PlatformJoinThread(t, 20));
    release = 1;
    EXPECT_TRUE(PlatformJoinThread(t, kPlatformWaitForever));
    PlatformCloseThread(t);
}

TEST(PlatformSeam, NamedMutexIsSharedByNameAndRecursive)
{
    PlatformMutex* a = PlatformCreateNamedMutex(L"ProtectQueueSync");
    PlatformMutex* b = PlatformCreateNamedMutex(L"ProtectQueueSync");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    struct Shared
    {
        PlatformMutex* m;
        int counter = 0;
    } shared{b};
    PlatformWaitMutex(a);
    PlatformWaitMutex(a);  // the owner may wait again
    PlatformThread* t = PlatformStartThread(
        [](void* p) -> unsigned
        {
            auto* s = static_cast<Shared*>(p);
            PlatformWaitMutex(s->m);
            s->counter += 1;
            PlatformReleaseMutex(s->m);
            return 0;
        },
        &shared);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(PlatformJoinThread(t, 50));  // blocked by our ownership through the other handle
    PlatformReleaseMutex(a);
    EXPECT_FALSE(PlatformJoinThread(t, 50));  // still owned once
    PlatformReleaseMutex(a);
    EXPECT_TRUE(PlatformJoinThread(t, kPlatformWaitForever));
    PlatformCloseThread(t);
    EXPECT_EQ(shared.counter, 1);
    PlatformCloseMutex(a);
    PlatformCloseMutex(b);
}

TEST(PlatformSeam, TicksAdvanceAndPumpHookIsCalled)
{
    const uint32_t t0 = PlatformTickMs();
    PlatformThread* t = PlatformStartThread([](void*) -> unsigned { return 0; }, nullptr);
    PlatformJoinThread(t, kPlatformWaitForever);
    PlatformCloseThread(t);
    EXPECT_LT(PlatformTickMs() - t0, 10000u);
    static int s_pumps = 0;
    PumpBeforeTile();  // the default does nothing
    SetTilePumpHook([] { ++s_pumps; });
    PumpBeforeTile();
    PumpBeforeTile();
    SetTilePumpHook(nullptr);
    PumpBeforeTile();
    EXPECT_EQ(s_pumps, 2);
}

TEST(PlatformSeam, ProgressSinkSeesSetupAndSteps)
{
    struct Rec
    {
        uint32_t total = 0;
        int setups = 0, steps = 0;
    } rec;
    ProgressSink sink = {[](void* c, HpxProgressTarget, uint32_t total)
                         {
                             auto* r = static_cast<Rec*>(c);
                             r->total = total;
                             ++r->setups;
                         },
                         [](void* c, HpxProgressTarget) { ++static_cast<Rec*>(c)->steps; }, &rec};
    SetProgressSink(&sink);
    ProgressSetup(reinterpret_cast<HpxProgressTarget>(1), 70000);
    ProgressStep(reinterpret_cast<HpxProgressTarget>(1));
    ProgressSetup(nullptr, 5);  // a null target reaches nobody
    ProgressStep(nullptr);
    SetProgressSink(nullptr);
    ProgressStep(reinterpret_cast<HpxProgressTarget>(1));  // default sink: nothing recorded
    EXPECT_EQ(rec.setups, 1);
    EXPECT_EQ(rec.total, 70000u);
    EXPECT_EQ(rec.steps, 1);
}

TEST(PlatformSeam, SwallowedExceptionIsToldToTheDebuggerInDebugBuildsOnly)
{
#ifdef _WIN32
    GTEST_SKIP() << "OutputDebugString is read by a debugger, not by the process";
#else
    testing::internal::CaptureStderr();
    try
    {
        throw std::runtime_error("no texture");
    }
    catch (...)
    {
        TraceCaughtException("GpuProcessWndProc");
    }
    const std::string told = testing::internal::GetCapturedStderr();
#ifdef NDEBUG
    EXPECT_EQ(told, "");
#else
    EXPECT_EQ(told, "Hushpix: GpuProcessWndProc caught no texture\n");
#endif
#endif
}

}  // namespace
