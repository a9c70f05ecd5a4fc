// Pixels through the built plug-in: fetch and write-back in every layout the filter accepts,
// the host's fourth plane, failing requests and a fetch without memory.
#include "tests/host/HostTestSupport.h"

#include <windows.h>

namespace hpxhost
{
namespace
{

using Bridge = PluginTest;

RunReport RunOnce(TestHost& host)
{
    host.options.playInfo = plugInDialogDisplay;
    return host.RunFilter(true);
}

TEST_F(Bridge, RoundTripsAreExactInEveryLayout)
{
    for (int depth : {8, 16})
        for (int planes : {1, 2, 3, 4})
            for (int padding : {0, 6})
            {
                SCOPED_TRACE(testing::Message() << depth << " bits, " << planes << " planes, padding " << padding);
                const HostDocument doc = MakeGeneratedDocument(53, 31, planes, depth, uint32_t(planes * depth));
                host.SetDocument(doc);
                host.options.rowPadding = padding;
                RunReport run = RunOnce(host);
                ASSERT_TRUE(run.ok) << run.Describe();
                EXPECT_TRUE(host.Output() == doc);
            }
}

TEST_F(Bridge, SixteenBitBlackGreyAndWhiteComeBackUnchanged)
{
    HostDocument doc = MakeDocument(96, 64, 3, 16);
    const uint32_t values[] = {0, 16384, 32768};
    for (int32_t y = 0; y < doc.height; ++y)
        for (int32_t x = 0; x < doc.width; ++x)
            for (int p = 0; p < 3; ++p) doc.Set(x, y, p, values[(x / 32 + p) % 3]);
    host.SetDocument(doc);
    ASSERT_TRUE(RunOnce(host).ok);
    EXPECT_TRUE(host.Output() == doc);
}

TEST_F(Bridge, HostsFourthPlaneIsNeverWritten)
{
    for (int depth : {8, 16})
    {
        HostDocument doc = MakeGeneratedDocument(29, 17, 4, depth, 9);
        host.SetDocument(doc);
        // The host's output buffer holds a transparency plane of its own.
        HostDocument& out = host.OutputForWriting();
        for (int32_t y = 0; y < out.height; ++y)
            for (int32_t x = 0; x < out.width; ++x) out.Set(x, y, 3, uint32_t((x * 7 + y * 3) % 200));
        const HostDocument before = out;
        ASSERT_TRUE(RunOnce(host).ok);
        for (int32_t y = 0; y < doc.height; ++y)
            for (int32_t x = 0; x < doc.width; ++x)
            {
                for (int p = 0; p < 3; ++p) ASSERT_EQ(host.Output().Get(x, y, p), doc.Get(x, y, p));
                ASSERT_EQ(host.Output().Get(x, y, 3), before.Get(x, y, 3)) << x << "," << y;
            }
    }
}

TEST_F(Bridge, WholeImageIsRequestedWhateverTheSelection)
{
    host.SetDocument(MakeGeneratedDocument(60, 44, 3, 8, 4));
    host.options.selection = VRect{10, 12, 20, 30};
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    ASSERT_EQ(host.advanceRequests.size(), 2u);
    for (const AdvanceRequest& q : host.advanceRequests)
    {
        EXPECT_EQ(q.inRect.top, 0);
        EXPECT_EQ(q.inRect.left, 0);
        EXPECT_EQ(q.inRect.bottom, 44);
        EXPECT_EQ(q.inRect.right, 60);
        EXPECT_EQ(q.outRect.bottom, 44);
        EXPECT_EQ(q.outRect.right, 60);
        EXPECT_EQ(q.inLoPlane, 0);
        EXPECT_EQ(q.inHiPlane, 2);
        EXPECT_EQ(q.outHiPlane, 2);
        EXPECT_EQ(q.inputRate, kFixedOne);
        EXPECT_EQ(q.maskRate, kFixedOne);
    }
}

TEST_F(Bridge, FailedRequestKeepsTheHostsErrorAndMovesNothing)
{
    // The fetch's request fails: that error, no second request, the document untouched, and
    // the show flag is left for the next start.
    const HostDocument doc = host.Document();
    host.options.failAdvanceStateCall = 0;
    host.options.advanceStateError = -25;
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Call(filterSelectorStart), -25);
    EXPECT_EQ(host.advanceRequests.size(), 1u);
    EXPECT_TRUE(host.Output() == doc);
    EXPECT_EQ(ShowFlag(host), 1);

    // The write-back's request fails: that error, nothing written.
    host.options.failAdvanceStateCall = 1;
    host.options.advanceStateError = filterBadParameters;
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Call(filterSelectorStart), filterBadParameters);
    EXPECT_EQ(host.advanceRequests.size(), 2u);
    EXPECT_TRUE(host.Output() == doc);
}

// Reserves all the address space that can still be had in blocks of 1 MiB or more, so that
// no larger block can be allocated until Release.
class AddressSpaceSqueeze
{
public:
    AddressSpaceSqueeze()
    {
        for (size_t chunk = size_t(64) << 20; chunk >= (size_t(1) << 20); chunk /= 2)
            while (void* p = VirtualAlloc(nullptr, chunk, MEM_RESERVE, PAGE_NOACCESS)) m_blocks.push_back(p);
    }
    ~AddressSpaceSqueeze() { Release(); }
    void Release()
    {
        for (void* p : m_blocks) VirtualFree(p, 0, MEM_RELEASE);
        m_blocks.clear();
    }

private:
    std::vector<void*> m_blocks;
};

TEST_F(Bridge, FetchWithoutMemoryReportsMemoryFullAndCopiesNothing)
{
    // 24 MiB of pixels: the host's buffers exist before the squeeze, the plug-in's cannot.
    const HostDocument doc = MakeGeneratedDocument(2048, 4096, 3, 8, 6);
    host.SetDocument(doc);
    ASSERT_TRUE(RunOnce(host).ok);  // sizes the host's own buffers
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);

    OSErr result;
    {
        AddressSpaceSqueeze squeeze;
        result = host.Call(filterSelectorStart);
    }
    EXPECT_EQ(result, memFullErr);
    EXPECT_EQ(host.advanceRequests.size(), 1u);  // no write-back
    EXPECT_TRUE(host.Output() == doc);

    // With memory again the same filter runs.
    RunReport run = RunOnce(host);
    EXPECT_TRUE(run.ok) << run.Describe();
}

}  // namespace
}  // namespace hpxhost
