// The selectors in a host's order, the result word of every failure, rectangles and memory.
#include "tests/host/HostTestSupport.h"

namespace hpxhost
{
namespace
{

using Selectors = PluginTest;

TEST_F(Selectors, HostOrderRunSucceedsAndRepeatRunLeavesDocument)
{
    ASSERT_EQ(host.About(), noErr);
    EXPECT_TRUE(host.aboutSeen);

    const HostDocument input = host.Document();
    RunReport run = host.RunFilter(true);
    ASSERT_TRUE(run.ok) << run.Describe();
    ASSERT_EQ(run.calls.size(), 5u) << run.Describe();  // parameters, prepare, start, one continue, finish
    EXPECT_EQ(run.calls[3].first, filterSelectorContinue);
    EXPECT_TRUE(host.Output() == input);
    EXPECT_EQ(ShowFlag(host), 0);  // cleared by the start selector

    // The host repeats the filter: no parameters selector, the recorded descriptor, no dialog.
    host.AcceptOutput();
    host.options.playInfo = plugInDialogDontDisplay;
    RunReport again = host.RunFilter(false);
    ASSERT_TRUE(again.ok) << again.Describe();
    EXPECT_TRUE(host.Output() == input);
    EXPECT_EQ(host.liveActionDescriptors, 0);
    EXPECT_EQ(host.openReadTokens + host.openWriteTokens, 0);
    for (const auto& s : host.suitesHeld) EXPECT_EQ(s.second, 0) << s.first;
}

TEST_F(Selectors, ShowFlagDecidesBetweenFetchAndWriteBackOnly)
{
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    EXPECT_EQ(ShowFlag(host), 1);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    EXPECT_EQ(host.advanceRequests.size(), 2u);  // fetch and write-back

    // A start without the flag fetches nothing; its write-back finds nothing to write.
    host.options.playInfo = plugInDialogDontDisplay;
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    EXPECT_EQ(host.advanceRequests.size(), 1u);
    EXPECT_TRUE(host.Output() == host.Document());
}

TEST_F(Selectors, FailureResultWords)
{
    // A handle that cannot be made: memory full, at parameters and at prepare.
    host.options.failNewHandle = true;
    EXPECT_EQ(host.Call(filterSelectorParameters), memFullErr);
    EXPECT_EQ(host.Call(filterSelectorPrepare), memFullErr);
    host.options.failNewHandle = false;

    // A lock that fails: memory full.
    host.options.failLock = true;
    EXPECT_EQ(host.Call(filterSelectorParameters), memFullErr);
    host.options.failLock = false;
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);

    // The start reports a failed lock instead of reading through a missing record, and moves
    // no pixel.
    host.options.failLock = true;
    EXPECT_EQ(host.Call(filterSelectorStart), memFullErr);
    EXPECT_TRUE(host.advanceRequests.empty());
    host.options.failLock = false;

    // Unknown selectors do nothing.
    EXPECT_EQ(host.Call(6), noErr);
    EXPECT_EQ(host.Call(-1), noErr);

    // A script write without a token is not reported: the finish succeeds.
    host.options.refuseWriteToken = true;
    EXPECT_EQ(host.Call(filterSelectorFinish), noErr);
}

TEST_F(Selectors, StartWithoutHandlesReportsBadParameters)
{
    // A host that skips parameters and prepare: the handles are missing.
    EXPECT_EQ(host.Call(filterSelectorStart), filterBadParameters);
    EXPECT_TRUE(host.advanceRequests.empty());
    EXPECT_TRUE(host.Output() == host.Document());
}

TEST_F(Selectors, RegistryAndSuitesAreOptionalForTheHost)
{
    // Without a basic suite, or with the suites refused, the registry is skipped silently.
    host.options.basicSuite = false;
    RunReport run = host.RunFilter(true);
    EXPECT_TRUE(run.ok) << run.Describe();
    EXPECT_TRUE(host.registry.empty());

    host.options.basicSuite = true;
    host.options.serveSuites = false;
    run = host.RunFilter(true);
    EXPECT_TRUE(run.ok) << run.Describe();
    EXPECT_TRUE(host.registry.empty());
    EXPECT_GT(host.acquireRefusals, 0);
    for (const auto& s : host.suitesHeld) EXPECT_EQ(s.second, 0) << s.first;
}

TEST_F(Selectors, RectanglesFollowTheHostsCoordinates)
{
    // With bigDocumentData the plug-in says it uses 32-bit coordinates and uses them.
    host.SetDocument(MakeGeneratedDocument(41, 29, 3, 8, 2));
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    EXPECT_EQ(host.BigDocument().PluginUsing32BitCoordinates, 1);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    ASSERT_EQ(host.advanceRequests.size(), 2u);
    for (const AdvanceRequest& q : host.advanceRequests)
    {
        EXPECT_TRUE(q.used32);
        EXPECT_EQ(q.inRect.bottom, 29);
        EXPECT_EQ(q.inRect.right, 41);
    }
    EXPECT_EQ(host.Record().inRect.bottom, 0);  // the 16-bit fields stay untouched
    ASSERT_EQ(host.Call(filterSelectorContinue), noErr);
    EXPECT_EQ(host.BigDocument().inRect32.bottom, 0);
    EXPECT_EQ(host.BigDocument().outRect32.right, 0);
    EXPECT_EQ(host.BigDocument().maskRect32.right, 0);

    // Without it the 16-bit rectangles are used.
    host.options.bigDocument = false;
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    ASSERT_EQ(host.advanceRequests.size(), 1u);
    EXPECT_FALSE(host.advanceRequests[0].used32);
    EXPECT_EQ(host.advanceRequests[0].outRect.bottom, 29);
    ASSERT_EQ(host.Call(filterSelectorContinue), noErr);
    EXPECT_EQ(host.Record().inRect.bottom, 0);
    EXPECT_EQ(host.Record().outRect.right, 0);
    EXPECT_EQ(host.Record().maskRect.right, 0);
}

TEST_F(Selectors, PrepareOnlyLowersMaxSpace)
{
    host.SetDocument(MakeGeneratedDocument(50, 40, 3, 8, 3));
    host.options.maxSpace = 100000000;
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Record().maxSpace, 2 * 50 * 40 * 3);
    EXPECT_EQ(host.Record().bufferSpace, 0);

    // A mask counts one more plane; the selection, not the image, is measured.
    host.options.mask = true;
    host.options.selection = VRect{5, 10, 25, 30};
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Record().maxSpace, 2 * 20 * 20 * 4);

    // Already small enough: left as the host gave it.
    host.options.maxSpace = 1000;
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Record().maxSpace, 1000);

    // The 16-bit filter rectangle without bigDocumentData.
    host.options.bigDocument = false;
    host.options.mask = false;
    host.options.maxSpace = 100000000;
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.Record().maxSpace, 2 * 20 * 20 * 3);
}

TEST_F(Selectors, AboutBoxShowsTextAndBrowsesThroughTheHost)
{
    host.options.aboutPressWebButton = true;
    ASSERT_EQ(host.About(), noErr);
    ASSERT_TRUE(host.aboutSeen);
    EXPECT_NE(host.aboutText.find("Hushpix"), std::string::npos);
    ASSERT_EQ(host.browsedUrls.size(), 1u);
    EXPECT_EQ(host.browsedUrls[0].rfind("http://", 0), 0u);
    EXPECT_EQ(host.suitesHeld[kPSGetFileListSuite], 1);  // held until the module unloads
    host.Unload();
    EXPECT_EQ(host.suitesHeld[kPSGetFileListSuite], 0);
}

TEST_F(Selectors, AboutBoxSurvivesAHostWithoutTheSuite)
{
    // The acquisition fails inside the dialog procedure: the button does nothing.
    host.options.aboutPressWebButton = true;
    host.options.serveFileList = false;
    ASSERT_EQ(host.About(), noErr);
    EXPECT_TRUE(host.aboutSeen);
    EXPECT_TRUE(host.browsedUrls.empty());
    host.options.basicSuite = false;
    ASSERT_EQ(host.About(), noErr);
    EXPECT_TRUE(host.aboutSeen);
}

}  // namespace
}  // namespace hpxhost
