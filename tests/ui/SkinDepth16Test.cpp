// On a screen of 16 bits per pixel the PNG images become 24-bit bitmaps without alpha, their
// transparent pixels in RGB(192, 192, 192). Run by run-depth16.sh on its own Xvfb screen.
#include "UiTestSupport.h"
#include "ui/ControlSkin.h"

namespace
{

TEST(SkinDepth16, PngImagesAreAdaptedToTheScreenDepth)
{
    HDC screen = GetDC(nullptr);
    const int depth = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(depth, 16) << "this test must run on a 16-bit screen";

    HMODULE self = GetModuleHandleW(nullptr);
    bool converted = false;
    HBITMAP bmp = LoadPngBitmap(self, L"CHECKD_SELON", &converted);
    ASSERT_NE(bmp, nullptr);
    EXPECT_TRUE(converted);
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectW(bmp, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
    EXPECT_EQ(ds.dsBm.bmWidth, 13);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 40);  // 13 x 3 bytes padded to a multiple of 4
    const BYTE* bits = static_cast<const BYTE*>(ds.dsBm.bmBits);
    ASSERT_NE(bits, nullptr);
    // The check boxes are opaque: their rounded corners keep the colour blended onto the face,
    // none turns into the 192 grey of transparent pixels.
    for (int y : {0, 12})
        for (int x : {0, 12})
        {
            const BYTE* p = bits + y * 40 + x * 3;
            EXPECT_EQ(p[0], bits[0]);
            EXPECT_NE(p[0], 192);
            EXPECT_GE(p[0], 0x46);
        }
    // The opaque box keeps its colour: the border of the dark enabled box (#B4B4B4).
    const BYTE* border = bits + 6 * 40 + 0 * 3;
    EXPECT_EQ(border[0], 0xB4);
    EXPECT_EQ(border[2], 0xB4);
    // Its inside, #2B2B2B, at a pixel the tick does not cover.
    const BYTE* inside = bits + 2 * 40 + 2 * 3;
    EXPECT_EQ(inside[0], 0x2B);
    EXPECT_EQ(inside[1], 0x2B);
    EXPECT_EQ(inside[2], 0x2B);

    // A 24-bit bitmap greys to an opaque image.
    HBITMAP grey = MakeGreyedBitmap(bmp);
    ASSERT_NE(grey, nullptr);
    DIBSECTION gs = {};
    ASSERT_TRUE(GetObjectW(grey, sizeof(gs), &gs));
    EXPECT_EQ(gs.dsBm.bmBitsPixel, 32);
    const uint32_t* g = static_cast<const uint32_t*>(gs.dsBm.bmBits);
    // The border #B4B4B4: 120 + 0.43 * 180 = 197.4 -> 197 - 70 = 127, opaque
    EXPECT_EQ(g[6 * 13 + 0], 0xFF7F7F7Fu);
    DeleteObject(grey);
    DeleteObject(bmp);

    // Transparent pixels of the toolbar images become RGB(192, 192, 192); the flag is
    // discarded in the two-argument form.
    HBITMAP icon = LoadPngBitmap(self, L"IDP_ZOOMIN");
    ASSERT_NE(icon, nullptr);
    DIBSECTION is = {};
    ASSERT_EQ(GetObjectW(icon, sizeof(is), &is), static_cast<int>(sizeof(is)));
    EXPECT_EQ(is.dsBm.bmBitsPixel, 24);
    EXPECT_EQ(is.dsBm.bmWidthBytes, 96);
    const BYTE* ib = static_cast<const BYTE*>(is.dsBm.bmBits);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(ib[i], 192);                      // corner (0, 0)
        EXPECT_EQ(ib[31 * 96 + 0 * 3 + i], 192);    // corner (0, 31)
        EXPECT_EQ(ib[13 * 96 + 13 * 3 + i], 0xE6);  // the plus sign keeps its colour
    }
    DeleteObject(icon);
    // A greyed 24-bit image is opaque everywhere.
    HBITMAP plain = LoadPngBitmap(self, L"IDP_ZOOMIN");
    HBITMAP plainGrey = MakeGreyedBitmap(plain);
    ASSERT_NE(plainGrey, nullptr);
    ASSERT_TRUE(GetObjectW(plainGrey, sizeof(gs), &gs));
    // 120 + 0.43 * 192 = 202.56 -> 202 - 70 = 132
    EXPECT_EQ(static_cast<const uint32_t*>(gs.dsBm.bmBits)[0], 0xFF848484u);
    DeleteObject(plainGrey);
    DeleteObject(plain);
}

}  // namespace
