// The plug-in property list as a host reads it, and the entry point it looks up by name.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/host/TestHost.h"

namespace
{

using hpxhost::Pipl;
using hpxhost::PiplProperty;

// A Pascal string property as a host reads it: a length byte and that many characters, inside
// the property's data.
std::string PascalText(const PiplProperty* p)
{
    if (!p || p->data.empty() || size_t(p->data[0]) + 1 > p->data.size()) return "<malformed>";
    return std::string(reinterpret_cast<const char*>(&p->data[1]), p->data[0]);
}

class PiplTest : public ::testing::Test
{
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

TEST_F(PiplTest, AHostFindsAFilterWithItsMenuEntryAndEntryPoint)
{
    // The host walks the list (header, then properties of vendor 8BIM with their lengths) to its
    // end; a malformed list is never loaded.
    Pipl pipl;
    std::string error;
    ASSERT_TRUE(hpxhost::ReadPipl(module, &pipl, &error)) << error;
    for (const auto& p : pipl.properties) EXPECT_EQ(p.vendor, HPX_FOURCC("8BIM"));

    // A filter ...
    const PiplProperty* kind = pipl.Find(HPX_FOURCC("kind"));
    ASSERT_NE(kind, nullptr);
    uint32_t kindValue = 0;
    std::memcpy(&kindValue, kind->data.data(), 4);
    EXPECT_EQ(kindValue, HPX_FOURCC("8BFM"));
    // ... listed in the filter menu as ORVTools > Hushpix...
    EXPECT_EQ(PascalText(pipl.Find(HPX_FOURCC("catg"))), "ORVTools");
    EXPECT_EQ(PascalText(pipl.Find(HPX_FOURCC("name"))), "Hushpix...");
    // ... of interface version 4.0 ...
    const PiplProperty* version = pipl.Find(HPX_FOURCC("vers"));
    ASSERT_NE(version, nullptr);
    uint32_t versionValue = 0;
    std::memcpy(&versionValue, version->data.data(), 4);
    EXPECT_EQ(versionValue, 4u << 16);
    // ... with 32-bit x86 code whose entry point, named there, is the module's export.
    const PiplProperty* code = pipl.Find(HPX_FOURCC("wx86"));
    ASSERT_NE(code, nullptr);
    const std::string entry(reinterpret_cast<const char*>(code->data.data()),
                            strnlen(reinterpret_cast<const char*>(code->data.data()), code->data.size()));
    ASSERT_LT(entry.size(), code->data.size()) << "entry point name not terminated";
    const FARPROC proc = GetProcAddress(module, entry.c_str());
    EXPECT_NE(proc, nullptr) << entry;
    EXPECT_EQ(proc, GetProcAddress(module, "PluginMain"));
    // No code for another processor that a host might prefer.
    EXPECT_EQ(pipl.Find(HPX_FOURCC("8664")), nullptr);
}

// The properties by which a host decides whether the filter is offered at all (a typo there
// greys it out in every host) and how it hands the pixels over, byte for byte.
TEST_F(PiplTest, ModesCasesAndTerminologyAreThoseTheHostReads)
{
    Pipl pipl;
    std::string error;
    ASSERT_TRUE(hpxhost::ReadPipl(module, &pipl, &error)) << error;
    using Bytes = std::vector<uint8_t>;
    auto u32 = [](Bytes& b, uint32_t v)
    {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    auto text = [](Bytes& b, const char* t, size_t length)  // NUL-terminated, zeros to the length
    {
        b.insert(b.end(), t, t + std::strlen(t));
        b.resize(length, 0);
    };
    Bytes enbl;
    text(enbl,
         "in (PSHOP_ImageMode, RGBMode, GrayScaleMode, Gray16Mode, RGB48Mode) "
         "&&(PSHOP_ImageDepth == 8 || PSHOP_ImageDepth == 16) "
         "&&(PSHOP_NumTrueChannels == 3 || PSHOP_NumTrueChannels == 1)",
         184);
    Bytes hstm;
    u32(hstm, 0);
    u32(hstm, HPX_FOURCC("HPXx"));
    u32(hstm, HPX_FOURCC("HPXx"));
    u32(hstm, 16000);
    text(hstm, "67debd70-8f84-11df-a4ee-0800200c9a66", 56);
    Bytes fici;
    for (int i = 0; i < 7; ++i) fici.insert(fici.end(), {1, 1, 0x08, 0});
    const struct
    {
        char key[5];
        Bytes data;
    } expected[] = {{"mode", {0x10, 0, 0, 0}}, {"enbl", enbl}, {"hstm", hstm}, {"fici", fici}};
    for (const auto& e : expected)
    {
        const PiplProperty* p = pipl.Find(HPX_FOURCC(e.key));
        ASSERT_NE(p, nullptr) << e.key;
        EXPECT_EQ(p->id, 0) << e.key;
        EXPECT_EQ(p->data, e.data) << e.key;
    }
    EXPECT_EQ(pipl.properties.size(), 11u);
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
