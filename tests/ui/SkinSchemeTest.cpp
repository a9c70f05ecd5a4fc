// Colour schemes, slot lookups and the life of the scheme brushes.
#include "UiTestSupport.h"
#include "ui/ControlSkin.h"

using uitest::HexColor;

namespace
{

COLORREF BrushColour(HBRUSH br)
{
    LOGBRUSH lb = {};
    if (!GetObjectW(br, sizeof(lb), &lb)) return 0xFFFFFFFFu;
    return lb.lbColor;
}

int FilledSlots()
{
    int n = 0;
    for (unsigned i = 0; i < SKIN_COLOR_COUNT; ++i) n += g_SkinColors[i] != SKIN_NO_COLOR;
    return n;
}

class SkinScheme : public ::testing::Test
{
protected:
    void TearDown() override
    {
        FreeSkinBrushes();
        SetSkinMode(0);
    }
};

TEST_F(SkinScheme, DarkSchemeColoursAndSystemFallbacks)
{
    SetSkinScheme(2);
    EXPECT_EQ(GetSkinMode(), 2);
    EXPECT_TRUE(IsDarkSkin());
    EXPECT_EQ(FilledSlots(), 19);
    // The colours the rest of the plug-in is drawn with.
    EXPECT_EQ(GetSkinColor(COLOR_BTNFACE), HexColor(0x464646));
    EXPECT_EQ(GetSkinColor(COLOR_WINDOW), HexColor(0x414141));
    EXPECT_EQ(GetSkinColor(COLOR_WINDOWTEXT), HexColor(0xBEBEBE));
    EXPECT_EQ(GetSkinColor(COLOR_BTNTEXT), HexColor(0xE6E6E6));
    EXPECT_EQ(GetSkinColor(COLOR_GRAYTEXT), HexColor(0xB4B4B4));
    EXPECT_EQ(GetSkinColor(COLOR_BTNSHADOW), HexColor(0x373737));
    EXPECT_EQ(GetSkinColor(COLOR_BTNHIGHLIGHT), HexColor(0x646464));
    EXPECT_EQ(GetSkinColor(COLOR_3DLIGHT), HexColor(0x000000));
    EXPECT_EQ(GetSkinColor(COLOR_3DDKSHADOW), HexColor(0x323232));
    EXPECT_EQ(GetSkinColor(COLOR_APPWORKSPACE), HexColor(0x232323));
    EXPECT_EQ(GetSkinColor(COLOR_GRADIENTINACTIVECAPTION), HexColor(0x5F5F5F));
    // Slots outside the scheme answer the system colour and brush.
    EXPECT_EQ(GetSkinColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(GetSkinColor(COLOR_SCROLLBAR), GetSysColor(COLOR_SCROLLBAR));
    EXPECT_EQ(GetSkinBrush(COLOR_HIGHLIGHT), GetSysColorBrush(COLOR_HIGHLIGHT));
    // Indexes past the table.
    EXPECT_EQ(GetSkinColor(30), RGB(0, 0, 0));
    EXPECT_EQ(GetSkinColor(0xFFFFFFFFu), RGB(0, 0, 0));
    EXPECT_EQ(GetSkinBrush(30), nullptr);
}

TEST_F(SkinScheme, LightAndBlackSchemesAndUnknownModes)
{
    SetSkinScheme(1);
    EXPECT_FALSE(IsDarkSkin());
    EXPECT_EQ(GetSkinColor(COLOR_BTNFACE), HexColor(0xD2D2D2));
    EXPECT_EQ(GetSkinColor(COLOR_3DLIGHT), HexColor(0xFFFFFF));
    EXPECT_EQ(GetSkinColor(COLOR_ACTIVECAPTION), HexColor(0xC9D9EA));

    SetSkinScheme(3);
    EXPECT_TRUE(IsDarkSkin());
    EXPECT_EQ(GetSkinColor(COLOR_BTNFACE), HexColor(0x000000));
    EXPECT_EQ(GetSkinColor(COLOR_BTNTEXT), HexColor(0x969696));
    EXPECT_EQ(GetSkinColor(COLOR_GRAYTEXT), HexColor(0x464646));
    EXPECT_EQ(FilledSlots(), 19);

    // Mode 4: no colours at all, neither light nor dark.
    SetSkinScheme(4);
    EXPECT_EQ(GetSkinMode(), 4);
    EXPECT_FALSE(IsDarkSkin());
    EXPECT_EQ(FilledSlots(), 0);
    for (unsigned i = 0; i < SKIN_COLOR_COUNT; ++i)
    {
        EXPECT_EQ(GetSkinColor(i), GetSysColor(static_cast<int>(i))) << "slot " << i;
        EXPECT_EQ(GetSkinBrush(i), GetSysColorBrush(static_cast<int>(i))) << "slot " << i;
    }
}

TEST_F(SkinScheme, BrushesAreMadeOncePerSchemeAndFreedAtFinish)
{
    ApplyDefaultSkin();
    EXPECT_EQ(GetSkinMode(), 2);
    HBRUSH face = GetSkinBrush(COLOR_BTNFACE);
    ASSERT_NE(face, nullptr);
    EXPECT_NE(face, GetSysColorBrush(COLOR_BTNFACE));
    EXPECT_EQ(BrushColour(face), HexColor(0x464646));
    // Every lookup hands out the same brush: none is made per call.
    for (int i = 0; i < 50; ++i) ASSERT_EQ(GetSkinBrush(COLOR_BTNFACE), face);
    int brushes = 0;
    for (unsigned i = 0; i < SKIN_COLOR_COUNT; ++i)
    {
        if (g_SkinColors[i] == SKIN_NO_COLOR)
        {
            EXPECT_EQ(g_SkinBrushes[i], nullptr);
        }
        else
        {
            ASSERT_NE(g_SkinBrushes[i], nullptr);
            EXPECT_EQ(BrushColour(g_SkinBrushes[i]), g_SkinColors[i]);
            ++brushes;
        }
    }
    EXPECT_EQ(brushes, 19);

    // A new scheme replaces the brushes (the old ones are deleted).
    SetSkinScheme(2);
    EXPECT_EQ(GetObjectType(face), 0u);
    face = GetSkinBrush(COLOR_BTNFACE);

    // The finish step: brushes deleted, slots back to system colours, mode kept.
    FreeSkinBrushes();
    EXPECT_EQ(GetObjectType(face), 0u);
    EXPECT_EQ(FilledSlots(), 0);
    EXPECT_EQ(GetSkinColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetSkinBrush(COLOR_BTNFACE), GetSysColorBrush(COLOR_BTNFACE));
    EXPECT_EQ(GetSkinColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_TRUE(IsDarkSkin());
    for (unsigned i = 0; i < SKIN_COLOR_COUNT; ++i) EXPECT_EQ(g_SkinBrushes[i], nullptr);

    // A later start makes them again.
    ApplyDefaultSkin();
    EXPECT_EQ(BrushColour(GetSkinBrush(COLOR_BTNFACE)), HexColor(0x464646));
}

}  // namespace
