// The plug-in property list, byte for byte, and the entry point the host looks up by name.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/host/TestHost.h"

namespace {

using hpxhost::Pipl;

class Bytes {
public:
    void U16(uint16_t v) { Raw(&v, 2); }
    void U32(uint32_t v) { Raw(&v, 4); }
    void Code(const char (&s)[5]) { U32(HPX_FOURCC(s)); }
    void Text(const std::string& s) { Raw(s.data(), s.size()); }
    void Zeros(size_t n) { out.insert(out.end(), n, 0); }
    void Pad() { while (out.size() % 4 != 2) out.push_back(0); }  // the header is 10 bytes
    void Property(const char (&key)[5], uint32_t length)
    {
        Code("8BIM");
        Code(key);
        U32(0);
        U32(length);
    }
    std::vector<uint8_t> out;

private:
    void Raw(const void* p, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
};

std::vector<uint8_t> ExpectedPipl()
{
    const std::string enable =
        "in (PSHOP_ImageMode, RGBMode, GrayScaleMode, Gray16Mode, RGB48Mode) &&(PSHOP_ImageDepth == 8 || "
        "PSHOP_ImageDepth == 16) &&(PSHOP_NumTrueChannels == 3 || PSHOP_NumTrueChannels == 1)";
    Bytes b;
    b.U16(1);
    b.U32(0);
    b.U32(11);
    b.Property("kind", 4);
    b.Code("8BFM");
    b.Property("name", 12);
    b.Zeros(0);
    b.out.push_back(10);
    b.Text("Hushpix...");
    b.Pad();
    b.Property("catg", 12);
    b.out.push_back(8);
    b.Text("ORVTools");
    b.Pad();
    b.Property("vers", 4);
    b.U32(4u << 16);
    b.Property("wx86", 12);
    b.Text("PluginMain");
    b.Pad();
    b.Property("mode", 4);
    b.out.insert(b.out.end(), {0x10, 0, 0, 0});
    b.Property("hstm", 56);
    b.U32(0);
    b.Code("HPXx");
    b.Code("HPXx");
    b.U16(16000);
    b.U16(0);
    b.Text("67debd70-8f84-11df-a4ee-0800200c9a66");
    b.Zeros(1);
    b.Pad();
    b.Property("enbl", 184);
    b.Text(enable);
    b.Zeros(1);
    b.Pad();
    b.Property("ms32", 8);
    b.U32(10000);
    b.U32(10000);
    b.Property("mn32", 8);
    b.U32(256);
    b.U32(256);
    b.Property("fici", 28);
    for (int i = 0; i < 7; ++i) b.out.insert(b.out.end(), {1, 1, 0x08, 0});
    return b.out;
}

class PiplTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryW(hpxhost::DistPlugin().c_str());
        ASSERT_NE(module, nullptr) << "cannot load the built plug-in";
    }
    void TearDown() override
    {
        if (module) FreeLibrary(module);
    }
    HMODULE module = nullptr;
};

TEST_F(PiplTest, ResourceIsExactlyTheFilterTable)
{
    Pipl pipl;
    std::string error;
    ASSERT_TRUE(hpxhost::ReadPipl(module, &pipl, &error)) << error;
    const std::vector<uint8_t> expected = ExpectedPipl();
    ASSERT_EQ(pipl.bytes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(pipl.bytes[i], expected[i]) << "at byte " << i;

    // What a host reads from it: eleven properties of vendor 8BIM, the filter kind, the menu
    // name and the entry point.
    ASSERT_EQ(pipl.properties.size(), 11u);
    for (const auto& p : pipl.properties) {
        EXPECT_EQ(p.vendor, HPX_FOURCC("8BIM"));
        EXPECT_EQ(p.id, 0);
    }
    const auto* name = pipl.Find(HPX_FOURCC("name"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&name->data[1]), name->data[0]), "Hushpix...");
    const auto* entry = pipl.Find(HPX_FOURCC("wx86"));
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(entry->data.data()), "PluginMain");
}

TEST_F(PiplTest, EntryPointIsExportedUndecorated)
{
    EXPECT_NE(GetProcAddress(module, "PluginMain"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "_PluginMain"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "PluginMain@16"), nullptr);
    // The About box's resources are the module's own.
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(16000), MAKEINTRESOURCEW(5)), nullptr);  // RT_DIALOG
    char text[256] = {};
    EXPECT_GT(LoadStringA(module, 16000, text, 254), 0);
}

}  // namespace
