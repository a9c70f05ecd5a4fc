// Shared set-up of the tests that drive the built plug-in through the test host.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/host/TestHost.h"

namespace hpxhost
{

// The key of the plug-in's descriptor registry entry (its property list's unique string).
constexpr char kHushpixKey[] = "67debd70-8f84-11df-a4ee-0800200c9a66";

// The plug-in's parameter record as the host keeps it: amount, disposition, ignoreSelection.
struct ParameterView
{
    int16_t amount;
    int16_t disposition;
    uint8_t ignoreSelection;
};

inline ParameterView ReadParameters(const TestHost& host)
{
    ParameterView v = {};
    const std::vector<uint8_t> b = host.ParameterBytes();
    if (b.size() >= 5)
    {
        std::memcpy(&v.amount, &b[0], 2);
        std::memcpy(&v.disposition, &b[2], 2);
        v.ignoreSelection = b[4];
    }
    return v;
}

inline void WriteParameters(TestHost& host, int16_t amount, int16_t disposition, uint8_t ignoreSelection)
{
    std::vector<uint8_t> b = host.ParameterBytes();
    ASSERT_GE(b.size(), 5u);
    std::memcpy(&b[0], &amount, 2);
    std::memcpy(&b[2], &disposition, 2);
    b[4] = ignoreSelection;
    host.SetParameterBytes(b);
}

// The data block's show flag (first byte of the handle in the data slot).
inline int ShowFlag(const TestHost& host)
{
    const std::vector<uint8_t> b = host.DataBytes();
    return b.empty() ? -1 : b[0];
}

class PluginTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(host.Load(DistPlugin(), &error)) << error;
        host.SetDocument(MakeGeneratedDocument(37, 23, 3, 8, 5));
    }
    void TearDown() override
    {
        host.Unload();
        EXPECT_TRUE(host.protocolErrors.empty()) << host.protocolErrors.front();
        EXPECT_EQ(host.LockedHandles(), 0);
    }

    TestHost host;
};

}  // namespace hpxhost
