// Drawing primitives, greyed copies, HSI colours and the PNG loader, checked on DIB sections.
#include "UiTestSupport.h"
#include "ui/ControlSkin.h"

#include <vector>

using uitest::Dib;
using uitest::HexColor;

namespace
{

class SkinPrimitives : public ::testing::Test
{
protected:
    void SetUp() override { SetSkinScheme(2); }
    void TearDown() override
    {
        FreeSkinBrushes();
        SetSkinMode(0);
    }
};

const COLORREF kMarker = RGB(1, 2, 3);

TEST_F(SkinPrimitives, SunkenAndRaisedEdgesDrawBothRingsInSkinColours)
{
    Dib dib(12, 12);
    dib.Fill(kMarker);
    RECT rc = {0, 0, 10, 10};
    SkinDrawEdge(dib.dc(), rc, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.right, 10);  // BF_ADJUST is ignored: the rectangle stays
    const COLORREF shadow = HexColor(0x373737), highlight = HexColor(0x646464);
    const COLORREF dark = HexColor(0x323232), light = HexColor(0x000000);
    // Outer ring: top row and left column in shadow, right column x = 9 and bottom row y = 9 in highlight.
    for (int i = 0; i < 9; ++i)
    {
        EXPECT_EQ(dib.At(i, 0), shadow) << i;
        EXPECT_EQ(dib.At(0, i), shadow) << i;
    }
    for (int i = 0; i < 10; ++i)
    {
        EXPECT_EQ(dib.At(9, i), highlight) << i;
        EXPECT_EQ(dib.At(i, 9), highlight) << i;
    }
    // Inner ring on (1,1)-(8,8): dark shadow top-left, light bottom-right.
    for (int i = 1; i < 8; ++i)
    {
        EXPECT_EQ(dib.At(i, 1), dark) << i;
        EXPECT_EQ(dib.At(1, i), dark) << i;
    }
    for (int i = 1; i < 9; ++i)
    {
        EXPECT_EQ(dib.At(8, i), light) << i;
        EXPECT_EQ(dib.At(i, 8), light) << i;
    }
    // Inside and outside untouched.
    EXPECT_EQ(dib.At(4, 4), kMarker);
    EXPECT_EQ(dib.At(10, 10), kMarker);
    EXPECT_EQ(dib.At(10, 0), kMarker);

    dib.Fill(kMarker);
    SkinDrawEdge(dib.dc(), 0, 0, 10, 10, EDGE_RAISED, BF_RECT);
    EXPECT_EQ(dib.At(0, 0), light);      // outer top-left: 3-D light
    EXPECT_EQ(dib.At(9, 9), dark);       // outer bottom-right: dark shadow
    EXPECT_EQ(dib.At(1, 1), highlight);  // inner top-left: highlight
    EXPECT_EQ(dib.At(8, 8), shadow);     // inner bottom-right: shadow

    // Only the sides asked for.
    dib.Fill(kMarker);
    SkinDrawEdge(dib.dc(), &rc, EDGE_SUNKEN, BF_LEFT);
    EXPECT_EQ(dib.At(0, 5), shadow);
    EXPECT_EQ(dib.At(1, 5), dark);
    EXPECT_EQ(dib.At(5, 0), kMarker);
    EXPECT_EQ(dib.At(9, 5), kMarker);
}

TEST_F(SkinPrimitives, ThreeDRectAndSolidFill)
{
    Dib dib(8, 6);
    dib.Fill(kMarker);
    const COLORREF a = RGB(10, 20, 30), b = RGB(200, 100, 50);
    SkinDraw3dRect(dib.dc(), 1, 1, 5, 4, a, b);
    EXPECT_EQ(dib.At(1, 1), a);
    EXPECT_EQ(dib.At(4, 1), a);  // top row, cx - 1 long
    EXPECT_EQ(dib.At(5, 1), b);  // top-right corner belongs to the right side
    EXPECT_EQ(dib.At(1, 3), a);
    EXPECT_EQ(dib.At(1, 4), b);  // bottom-left corner belongs to the bottom side
    EXPECT_EQ(dib.At(5, 4), b);
    EXPECT_EQ(dib.At(3, 2), kMarker);
    EXPECT_EQ(dib.At(6, 1), kMarker);

    SkinDrawSides(dib.dc(), 0, 0, 8, 6, a, b, BF_BOTTOM);
    EXPECT_EQ(dib.At(0, 5), b);
    EXPECT_EQ(dib.At(7, 5), b);
    EXPECT_EQ(dib.At(0, 0), kMarker);

    const COLORREF fill = RGB(70, 80, 90);
    SkinFillSolid(dib.dc(), 2, 2, 3, 2, fill);
    EXPECT_EQ(dib.At(2, 2), fill);
    EXPECT_EQ(dib.At(4, 3), fill);
    EXPECT_EQ(dib.At(5, 3), b);
    EXPECT_NE(dib.At(5, 2), fill);
    EXPECT_EQ(GetBkColor(dib.dc()), fill);  // the background colour stays set
}

// A 32-bit bottom-up DIB section whose rows are given top to bottom (B, G, R, A per pixel).
HBITMAP MakeBottomUp(int w, int h, const std::vector<uint32_t>& topDown)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* p = static_cast<uint32_t*>(bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p[(h - 1 - y) * w + x] = topDown[y * w + x];
    GdiFlush();
    return bmp;
}

std::vector<uint32_t> ReadTopDown(HBITMAP bmp, int w, int h)
{
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return px;
}

uint32_t Bgra(int b, int g, int r, int a)
{
    return uint32_t(b) | (uint32_t(g) << 8) | (uint32_t(r) << 16) | (uint32_t(a) << 24);
}

TEST_F(SkinPrimitives, GreyedCopiesFollowTheBrightnessFormulaAndKeepOrientation)
{
    // Row 0: white opaque, black with alpha 60; row 1: the face colour opaque, a mid colour alpha 100.
    const std::vector<uint32_t> src = {Bgra(255, 255, 255, 255), Bgra(0, 0, 0, 60), Bgra(0x46, 0x46, 0x46, 255),
                                       Bgra(40, 200, 90, 100)};
    HBITMAP bmp = MakeBottomUp(2, 2, src);
    ASSERT_NE(bmp, nullptr);

    HBITMAP grey = MakeGreyedBitmap(bmp);
    ASSERT_NE(grey, nullptr);
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectW(grey, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 32);
    auto g = ReadTopDown(grey, 2, 2);
    EXPECT_EQ(g[0], Bgra(159, 159, 159, 255));     // white -> 159, opaque stays opaque
    EXPECT_EQ(g[1], Bgra(50, 50, 50, 30));         // black -> 50, alpha 60 -> 30
    EXPECT_EQ(g[2], Bgra(0x46, 0x46, 0x46, 255));  // the face colour is kept
    // 0.3*90 + 0.5*200 + 0.2*40 = 135 -> 120 + 58.05 -> 178 - 70 = 108; alpha 100 kept
    EXPECT_EQ(g[3], Bgra(108, 108, 108, 100));
    DeleteObject(grey);

    // The toolbar's disabled list gets the same greys, the face colour greyed too.
    HIMAGELIST il = ImageList_Create(2, 2, ILC_COLOR32, 0, 1);
    ASSERT_NE(il, nullptr);
    EXPECT_EQ(AddGreyedBitmap(il, bmp), 0);
    EXPECT_EQ(ImageList_GetImageCount(il), 1);
    IMAGEINFO info = {};
    ASSERT_TRUE(ImageList_GetImageInfo(il, 0, &info));
    auto all = ReadTopDown(info.hbmImage, info.rcImage.right, info.rcImage.bottom);
    const int stride = info.rcImage.right;
    auto at = [&](int x, int y) { return all[(info.rcImage.top + y) * stride + info.rcImage.left + x] & 0x00FFFFFF; };
    EXPECT_EQ(at(0, 0), Bgra(159, 159, 159, 0));
    EXPECT_EQ(at(0, 1), Bgra(80, 80, 80, 0));  // the face greyed as well: 120 + 0.43 * 70 -> 150 - 70
    ImageList_Destroy(il);
    // The source stays the caller's.
    EXPECT_NE(GetObjectType(bmp), 0u);
    DeleteObject(bmp);

    EXPECT_EQ(AddGreyedBitmap(nullptr, nullptr), -1);
    EXPECT_EQ(MakeGreyedBitmap(nullptr), nullptr);
}

TEST_F(SkinPrimitives, HsiRoundTripAndGloss)
{
    BYTE h, s, i;
    RgbToHsi(HexColor(0x464646), h, s, i);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(i, 0x46);
    EXPECT_EQ(HsiToRgb(0, 0, 0x46), HexColor(0x464646));
    EXPECT_EQ(HsiToRgb(100, 200, 0), RGB(0, 0, 0));
    for (COLORREF c : {RGB(101, 135, 168), RGB(200, 40, 40), RGB(30, 160, 60), RGB(250, 250, 10)})
    {
        RgbToHsi(c, h, s, i);
        const COLORREF back = HsiToRgb(h, s, i);
        EXPECT_NEAR(GetRValue(back), GetRValue(c), 4) << uitest::Hex(c);
        EXPECT_NEAR(GetGValue(back), GetGValue(c), 4) << uitest::Hex(c);
        EXPECT_NEAR(GetBValue(back), GetBValue(c), 4) << uitest::Hex(c);
    }

    // Rows: the top half lighter than the base, the bottom half darker; pressed starts dark.
    Dib dib(10, 20);
    RECT rc = {0, 0, 10, 20};
    const COLORREF face = HexColor(0x464646);
    SkinDrawGloss(dib.dc(), rc, face, true, false);
    // d = min(14, mid = 10): light = I + 10, dark = I - 5
    EXPECT_EQ(dib.At(5, 0), HexColor(0x505050));
    EXPECT_EQ(dib.At(5, 19), HexColor(0x414141));
    EXPECT_EQ(dib.At(0, 2), dib.At(9, 2));  // a row is one colour
    SkinDrawGloss(dib.dc(), rc, face, true, true);
    EXPECT_EQ(dib.At(5, 0), HexColor(0x414141));
    // Columns: left lighter, right darker.
    SkinDrawGloss(dib.dc(), rc, face, false, false);
    EXPECT_EQ(dib.At(0, 7), HexColor(0x4B4B4B));  // I + min(14, mid = 5)
    EXPECT_EQ(dib.At(9, 7), HexColor(0x444444));  // I - 5/2
}

TEST_F(SkinPrimitives, PngResourcesLoadAs32BitBitmapsWithAlpha)
{
    HMODULE self = GetModuleHandleW(nullptr);
    bool converted = true;
    HBITMAP bmp = LoadPngBitmap(self, L"CHECKD_SELON", &converted);
    ASSERT_NE(bmp, nullptr);
    EXPECT_FALSE(converted);  // the test screen has 24/32 bits
    BITMAP bm = {};
    ASSERT_TRUE(GetObjectW(bmp, sizeof(bm), &bm));
    EXPECT_EQ(bm.bmWidth, 13);
    EXPECT_EQ(std::abs(bm.bmHeight), 13);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    // Check boxes are stored opaque on the face colour (they are drawn without alpha).
    auto px = ReadTopDown(bmp, 13, 13);
    EXPECT_EQ(px[0] >> 24, 255u);                            // the rounded corner blended onto the face, opaque
    EXPECT_EQ(px[6 * 13 + 0], Bgra(0xB4, 0xB4, 0xB4, 255));  // the box's border
    DeleteObject(bmp);
    // Toolbar images keep their transparency.
    HBITMAP icon = LoadPngBitmap(self, L"IDP_ZOOMIN", &converted);
    ASSERT_NE(icon, nullptr);
    auto ipx = ReadTopDown(icon, 32, 32);
    EXPECT_EQ(ipx[0] >> 24, 0u);
    EXPECT_EQ(ipx[13 * 32 + 13] >> 24, 255u);  // the plus sign
    DeleteObject(icon);

    const wchar_t* names[] = {L"CHECK_SELON",      L"CHECK_SELOFF",  L"CHECK_SEMION",  L"CHECK_SEMIOFF",
                              L"CHECK_DESON",      L"CHECK_DESOFF",  L"CHECKD_SELOFF", L"CHECKD_SEMION",
                              L"CHECKD_SEMIOFF",   L"CHECKD_DESON",  L"CHECKD_DESOFF", L"SETTINGS_SAVE",
                              L"SETTINGS_DELETE",  L"SETTINGS_SHOW", L"SETTINGS_HIDE", L"IDP_FOLDER",
                              L"IDP_DENOISEBATCH", L"IDP_ZOOMIN",    L"IDP_ZOOMOUT",   L"IDP_ZOOM100",
                              L"IDP_ZOOMFIT",      L"IDP_PICKER"};
    for (const wchar_t* n : names)
    {
        HBITMAP b = LoadPngBitmap(self, n);
        ASSERT_NE(b, nullptr) << "resource missing";
        ASSERT_TRUE(GetObjectW(b, sizeof(bm), &bm));
        const int want = (n[0] == L'C') ? 13 : 32;
        EXPECT_EQ(bm.bmWidth, want);
        EXPECT_EQ(std::abs(bm.bmHeight), want);
        DeleteObject(b);
    }
    // No PNG and no bitmap of that name: null, no crash.
    EXPECT_EQ(LoadPngBitmap(self, L"NO_SUCH_IMAGE"), nullptr);
}

}  // namespace
