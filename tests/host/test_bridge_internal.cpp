// The image bridge linked in: what the plug-in's host image buffers hold between the fetch and
// the write-back, and what the write-back makes of changed buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "engine/ImageBuffer.h"
#include "host/HostBridge.h"
#include "host/PluginMain.h"
#include "tests/host/TestHost.h"

namespace hpxhost
{
namespace
{

class BridgeInternal : public ::testing::Test
{
protected:
    void SetUp() override { host.UseEntry(PluginMain); }
    void TearDown() override
    {
        ReleaseImage(&g_HostImage);
        ReleaseImage(&g_HostAlpha);
    }

    // Prepares the host's record for the document and makes it the current call.
    void Begin(const HostDocument& doc)
    {
        host.SetDocument(doc);
        ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
        ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
        result = 0;
        g_pFilterRecord = &host.Record();
        g_pResult = &result;
    }

    template <typename T> static T Sample(const ImageBuffer& image, int x, int y, int c)
    {
        const auto* row = static_cast<const uint8_t*>(image.m_pData) + size_t(y) * image.m_iStride;
        return reinterpret_cast<const T*>(row)[x * image.m_iChannels + c];
    }

    TestHost host;
    int16_t result = 0;
};

TEST_F(BridgeInternal, ColourArrivesBlueGreenRed)
{
    const HostDocument doc = MakeGeneratedDocument(9, 5, 3, 8, 1);
    Begin(doc);
    FetchHostImage();
    ASSERT_EQ(result, noErr);
    ASSERT_EQ(g_HostImage.m_iChannels, 3);
    ASSERT_EQ(g_HostImage.m_iBits, 8);
    ASSERT_EQ(g_HostImage.m_iWidth, 9);
    ASSERT_EQ(g_HostImage.m_iHeight, 5);
    EXPECT_EQ(g_HostAlpha.m_pData, nullptr);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(Sample<uint8_t>(g_HostImage, x, y, c), doc.Get(x, y, 2 - c));

    // Changed buffers go back red, green, blue.
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) static_cast<uint8_t*>(g_HostImage.m_pData)[y * g_HostImage.m_iStride + x * 3] = 200;
    WriteHostImage();
    host.CommitOutput();
    ASSERT_EQ(result, noErr);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
        {
            ASSERT_EQ(host.Output().Get(x, y, 2), 200u);
            ASSERT_EQ(host.Output().Get(x, y, 0), doc.Get(x, y, 0));
        }
}

TEST_F(BridgeInternal, SixteenBitDataIsWidenedAndEveryValueComesBackExact)
{
    // Every host value 0..32768, one per pixel (the last row padded with white).
    HostDocument doc = MakeDocument(257, 128, 1, 16);
    for (uint32_t i = 0; i < 257u * 128u; ++i) doc.Set(int(i % 257), int(i / 257), 0, std::min(i, 32768u));
    Begin(doc);
    FetchHostImage();
    ASSERT_EQ(result, noErr);
    ASSERT_EQ(g_HostImage.m_iBits, 16);
    ASSERT_EQ(g_HostImage.m_iChannels, 1);
    for (uint32_t v = 0; v <= 32768; ++v)
        ASSERT_EQ(Sample<uint16_t>(g_HostImage, int(v % 257), int(v / 257), 0), std::min(2 * v, 65535u)) << v;

    // Written back untouched, the document is what it was: white stays white.
    WriteHostImage();
    host.CommitOutput();
    ASSERT_EQ(result, noErr);
    EXPECT_TRUE(host.Output() == doc);

    // Full-range values written by the window are rounded to the host's depth; white reaches it.
    Begin(doc);
    FetchHostImage();
    ASSERT_EQ(result, noErr);
    const uint16_t full[] = {0, 1, 2, 3, 32767, 65533, 65534, 65535};
    const uint32_t host15[] = {0, 1, 1, 2, 16384, 32767, 32767, 32768};
    for (int x = 0; x < 8; ++x) static_cast<uint16_t*>(g_HostImage.m_pData)[x] = full[x];
    WriteHostImage();
    host.CommitOutput();
    ASSERT_EQ(result, noErr);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(host.Output().Get(x, 0, 0), host15[x]) << full[x];
}

TEST_F(BridgeInternal, FourthPlaneIsSplitOffAndNotWrittenBack)
{
    for (int depth : {8, 16})
    {
        const HostDocument doc = MakeGeneratedDocument(7, 6, 4, depth, 3);
        Begin(doc);
        FetchHostImage();
        ASSERT_EQ(result, noErr);
        ASSERT_EQ(g_HostImage.m_iChannels, 3);
        ASSERT_EQ(g_HostAlpha.m_iChannels, 1);
        ASSERT_EQ(g_HostAlpha.m_iBits, g_HostImage.m_iBits);
        ASSERT_EQ(g_HostAlpha.m_iWidth, 7);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 7; ++x)
            {
                if (depth == 8)
                {
                    ASSERT_EQ(Sample<uint8_t>(g_HostAlpha, x, y, 0), doc.Get(x, y, 3));
                    ASSERT_EQ(Sample<uint8_t>(g_HostImage, x, y, 0), doc.Get(x, y, 2));
                }
                else
                {
                    ASSERT_EQ(Sample<uint16_t>(g_HostAlpha, x, y, 0), std::min(65535u, 2 * doc.Get(x, y, 3)));
                    ASSERT_EQ(Sample<uint16_t>(g_HostImage, x, y, 0), std::min(65535u, 2 * doc.Get(x, y, 2)));
                }
            }
        // Whatever the buffers hold now, the host's fourth plane keeps its values.
        FillImageBytes(&g_HostImage, 0);
        FillImageBytes(&g_HostAlpha, 0);
        WriteHostImage();
        host.CommitOutput();
        ASSERT_EQ(result, noErr);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 7; ++x)
            {
                ASSERT_EQ(host.Output().Get(x, y, 0), 0u);
                ASSERT_EQ(host.Output().Get(x, y, 3), doc.Get(x, y, 3));
            }
        ReleaseImage(&g_HostImage);
        ReleaseImage(&g_HostAlpha);
    }
}

TEST_F(BridgeInternal, EmptyBuffersWriteNothing)
{
    const HostDocument doc = MakeGeneratedDocument(5, 5, 3, 8, 2);
    Begin(doc);
    ReleaseImage(&g_HostImage);
    WriteHostImage();
    host.CommitOutput();
    EXPECT_EQ(result, noErr);
    EXPECT_TRUE(host.Output() == doc);
}

TEST_F(BridgeInternal, FailedFetchLeavesTheBuffersEmpty)
{
    const HostDocument doc = MakeGeneratedDocument(5, 5, 3, 8, 2);
    Begin(doc);
    host.options.failAdvanceStateCall = 0;
    host.options.advanceStateError = -37;
    FetchHostImage();
    EXPECT_EQ(result, -37);
    EXPECT_EQ(g_HostImage.m_pData, nullptr);
    EXPECT_EQ(g_HostAlpha.m_pData, nullptr);
}

// The host's procedure gives up by throwing on its second call (the write-back's request).
int g_advanceCalls = 0;
AdvanceStateProc g_hostAdvance = nullptr;
OSErr ThrowOnSecondAdvance()
{
    if (++g_advanceCalls == 2) throw std::runtime_error("host gave up");
    return g_hostAdvance();
}

TEST_F(BridgeInternal, AStartEndedByAnExceptionKeepsNoImage)
{
    Begin(MakeGeneratedDocument(7, 4, 4, 8, 3));
    g_hostAdvance = host.Record().advanceState;
    g_advanceCalls = 0;
    host.Record().advanceState = ThrowOnSecondAdvance;
    EXPECT_NE(host.Call(filterSelectorStart), noErr);
    EXPECT_EQ(g_advanceCalls, 2);
    EXPECT_EQ(g_HostImage.m_pData, nullptr);
    EXPECT_EQ(g_HostAlpha.m_pData, nullptr);
}

TEST_F(BridgeInternal, CopyFamilySkipsUnknownChannelCounts)
{
    ImageBuffer image;
    InitImage(&image);
    ASSERT_EQ(CreateImage(&image, 2, 2, 5, 8), kImageOk);
    FillImageBytes(&image, 9);
    std::vector<uint8_t> host(2 * 2 * 5, 1);
    CopyToHostBuffer(host.data(), 10, &image);
    CopyFromHostBuffer(&image, host.data(), 10);
    EXPECT_EQ(host, std::vector<uint8_t>(20, 1));
    EXPECT_EQ(static_cast<uint8_t*>(image.m_pData)[0], 9);
    ReleaseImage(&image);
}

}  // namespace
}  // namespace hpxhost
