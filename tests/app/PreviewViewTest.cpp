// The view's drawing at the unit level: checkerboard blending, the inverted outline, the back
// buffer's blit results, what Draw writes (and never beyond), and the file count of a folder tree.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/view/BackBuffer.h"
#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"

namespace
{

struct Image
{
    ImageBuffer b{};
    Image(int w, int h, int c, unsigned char fill)
    {
        CreateImage(&b, w, h, c, 8);
        FillImageBytes(&b, fill);
    }
    ~Image() { ReleaseImage(&b); }
    unsigned char* At(int x, int y)
    {
        return static_cast<unsigned char*>(b.m_pData) + y * b.m_iStride + x * b.m_iChannels;
    }
};

TEST(BlendCheckerboard, MaskDecidesBetweenImageAndSquares)
{
    Image t(40, 40, 3, 100), m(40, 40, 1, 255);
    *m.At(0, 0) = 0;
    *m.At(15, 0) = 0;
    *m.At(15, 15) = 0;
    *m.At(1, 20) = 128;
    BlendCheckerboard(&t.b, &m.b, 190, 220);
    EXPECT_EQ(t.At(0, 0)[0], 190);  // colour A at the top-left square
    EXPECT_EQ(t.At(15, 0)[1], 220);
    EXPECT_EQ(t.At(15, 15)[2], 190);
    EXPECT_EQ(t.At(1, 20)[0], (100 * 128 + 127 * 220) / 255);
    EXPECT_EQ(t.At(5, 5)[0], 100);  // mask 255 keeps the pixel
}

class Outline : public ::testing::Test
{
protected:
    Outline() : t(60, 40, 3, 10) { xf.Assign(0, 0, 0, 0, 0, 1.0); }
    int Inverted() const
    {
        int n = 0;
        const unsigned char* p = static_cast<const unsigned char*>(t.b.m_pData);
        for (int i = 0; i < t.b.m_iSize; i += 3) n += p[i] == 245;
        return n;
    }
    Image t;
    SimilarityTransform xf;
};

TEST_F(Outline, TwoPixelsWideCornersOnceAndDrawnTwiceErased)
{
    const int32_t r[4] = {10, 10, 30, 20};
    InvertOutline(&t.b, xf, r);
    EXPECT_EQ(t.At(10, 10)[0], 245);  // a corner, inverted once
    EXPECT_EQ(t.At(11, 15)[0], 245);
    EXPECT_EQ(t.At(20, 19)[0], 245);
    EXPECT_EQ(t.At(15, 15)[0], 10);
    InvertOutline(&t.b, xf, r);
    EXPECT_EQ(Inverted(), 0);
}

TEST_F(Outline, OnlyInsideTheTargetAndNoTopBelowWidthFour)
{
    const int32_t outside[4] = {-5, -5, 100, 20};
    InvertOutline(&t.b, xf, outside);
    EXPECT_EQ(t.At(20, 20)[0], 245);  // bottom row inside
    EXPECT_EQ(t.At(20, 0)[0], 10);    // the top rows lie above the target
    InvertOutline(&t.b, xf, outside);
    const int32_t narrow[4] = {10, 10, 13, 30};
    InvertOutline(&t.b, xf, narrow);
    // Column r - 1 = 12 is inverted once: no horizontal segment inverts it again.
    EXPECT_EQ(t.At(12, 10)[0], 245);
    const int32_t distant[4] = {-2000000000, -2000000000, 2000000000, 2000000000};
    InvertOutline(&t.b, xf, distant);  // mapped far outside: nothing to draw, no overflow
    EXPECT_EQ(t.At(30, 30)[0], 10);
}

TEST(BackBuffer, BlitResults)
{
    CBackBuffer bb{};
    PAINTSTRUCT ps = {};
    ps.rcPaint = {0, 0, 10, 10};
    EXPECT_EQ(bb.Blit(ps), kBlitNoSurface);
    ASSERT_TRUE(bb.Create(nullptr));
    EXPECT_EQ(static_cast<unsigned char*>(bb.m_Surface.m_pData)[bb.m_Surface.m_iSize - 1], 48);
    HDC screen = GetDC(nullptr);
    ps.hdc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 50, 50);
    HGDIOBJ old = SelectObject(ps.hdc, bmp);
    EXPECT_EQ(bb.Blit(ps), kBlitOk);
    ps.rcPaint = {0, 0, 3001, 10};
    EXPECT_EQ(bb.Blit(ps), kBlitOutside);
    ps.rcPaint = {0, 1990, 10, 2001};
    EXPECT_EQ(bb.Blit(ps), kBlitOutside);
    SelectObject(ps.hdc, old);
    DeleteObject(bmp);
    DeleteDC(ps.hdc);
    ReleaseDC(nullptr, screen);
    ps.hdc = nullptr;
    ps.rcPaint = {0, 0, 10, 10};
    EXPECT_EQ(bb.Blit(ps), kBlitFailed);
    bb.Destroy();
    EXPECT_FALSE(bb.HasSurface());
}

// A window of a given client size for the view to draw for.
class ViewDraw : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bb.Create(nullptr));
        g_bUiNotReady = 0;
        g_bBatchRunning = 0;
    }
    void TearDown() override
    {
        view.ReleaseCopies();
        bb.Destroy();
        if (wnd) DestroyWindow(wnd);
    }
    void MakeWindow(int w, int h)
    {
        wnd = CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(wnd);
        view.Init(wnd, &bb.m_Surface);
        view.m_pPreviewRect = nullptr;
    }
    unsigned char* Surface(int x, int y)
    {
        return static_cast<unsigned char*>(bb.m_Surface.m_pData) + y * bb.m_Surface.m_iStride + x * 3;
    }
    CBackBuffer bb{};
    CPreviewView view{};
    HWND wnd = nullptr;
};

TEST_F(ViewDraw, EmptyImageFillsOnlyTheClientArea)
{
    MakeWindow(200, 100);
    FillImageBytes(&bb.m_Surface, 7);
    ImageBuffer empty{};
    EXPECT_TRUE(view.Draw(0, 0, 0, 0, 1.0, false, &empty, kViewOriginal, true, nullptr));
    EXPECT_EQ(*Surface(199, 99), 48);
    EXPECT_EQ(*Surface(200, 0), 7);
    EXPECT_EQ(*Surface(0, 100), 7);
    g_bUiNotReady = 1;  // before the first image nothing is drawn
    FillImageBytes(&bb.m_Surface, 7);
    EXPECT_FALSE(view.Draw(0, 0, 0, 0, 1.0, false, &empty, kViewOriginal, true, nullptr));
    EXPECT_EQ(*Surface(0, 0), 7);
}

TEST_F(ViewDraw, ImageDrawnAndOutlineErasedByAFrameWithoutTheImage)
{
    MakeWindow(120, 80);
    Image grey(100, 60, 1, 0);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x) *grey.At(x, y) = (unsigned char)(x + y);
    EXPECT_FALSE(view.Draw(0, 0, 0, 0, 1.0, false, &grey.b, kViewDenoised, true, nullptr));
    EXPECT_EQ(Surface(30, 20)[1], 50);
    EXPECT_EQ(*Surface(110, 20), 48);  // right of the image: background
    const int32_t rect[4] = {10, 10, 40, 30};
    view.m_pPreviewRect = rect;
    view.Draw(0, 0, 0, 0, 1.0, true, &grey.b, kViewDenoised, true, nullptr);
    EXPECT_EQ(Surface(10, 20)[0], 255 - 30);
    view.Draw(0, 0, 0, 0, 1.0, true, &grey.b, kViewDenoised, false, nullptr);
    EXPECT_EQ(Surface(10, 20)[0], 30);
}

TEST_F(ViewDraw, PanoramaWiderThan32768PixelsIsSampledRight)
{
    MakeWindow(400, 50);
    Image pano(40000, 4, 1, 0);
    for (int x = 0; x < 40000; ++x)
        for (int y = 0; y < 4; ++y) *pano.At(x, y) = (unsigned char)(x / 1000);
    // Zoom 0.01: the window's 400 pixels show all 40000.
    view.Draw(0, 0, 0, 1.0, 0.01, false, &pano.b, kViewOriginal, true, nullptr);
    EXPECT_EQ(Surface(395, 0)[0], 39);
    EXPECT_EQ(Surface(5, 0)[0], 0);
    // At 100 % about x = 39900 the last pixels of the panorama are drawn, not garbage.
    view.Draw(0, 0, 39700, 1.0, 1.0, true, &pano.b, kViewOriginal, true, nullptr);
    EXPECT_EQ(Surface(299, 0)[0], 39);
    EXPECT_EQ(Surface(300, 0)[0], 48);
}

TEST_F(ViewDraw, ClientLargerThanTheSurfaceIsDrawnInsideIt)
{
    MakeWindow(3400, 2300);
    RECT c;
    GetClientRect(wnd, &c);
    if (c.right <= 3000 && c.bottom <= 2000) GTEST_SKIP() << "the display keeps windows smaller";
    ImageBuffer target;
    ASSERT_TRUE(view.DrawTarget(&target));
    EXPECT_LE(target.m_iWidth, 3000);
    EXPECT_LE(target.m_iHeight, 2000);
    Image grey(5000, 3000, 1, 77);
    view.Draw(0, 0, 0, 0, 1.0, false, &grey.b, kViewOriginal, true, nullptr);
    EXPECT_EQ(Surface(2999, 1999)[0], 77);
}

TEST(CountImageFiles, CountsImagesOfPlainFoldersOnly)
{
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring root = std::wstring(tmp) + L"hpx-count-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(root.c_str(), nullptr);
    EXPECT_EQ(CountImageFiles(root.c_str()), 0);
    CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
    CreateDirectoryW((root + L"\\hidden").c_str(), nullptr);
    SetFileAttributesW((root + L"\\hidden").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    const wchar_t* files[] = {L"\\a.jpg",      L"\\b.PNG",          L"\\c.txt",        L"\\noext",
                              L"\\sub\\d.tif", L"\\sub\\e.gif.bak", L"\\hidden\\f.bmp"};
    for (const wchar_t* f : files)
    {
        HANDLE h = CreateFileW((root + f).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    EXPECT_EQ(CountImageFiles(root.c_str()), 3);
    for (const wchar_t* f : files) DeleteFileW((root + f).c_str());
    SetFileAttributesW((root + L"\\hidden").c_str(), FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW((root + L"\\hidden").c_str());
    RemoveDirectoryW((root + L"\\sub").c_str());
    RemoveDirectoryW(root.c_str());
}

}  // namespace
