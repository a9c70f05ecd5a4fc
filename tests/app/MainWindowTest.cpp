// The main window as a person uses it: the real plug-in in the test host, a scripted user on a
// second thread acting through messages and reading texts and screenshots.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <commctrl.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "tests/host/HostTestSupport.h"
#include "tests/host/ScriptedUser.h"

namespace hpxhost
{
namespace
{

// Command ids of the window (as its toolbar and keys send them).
constexpr int kZoomIn = 32793, kZoomOut = 32794, kZoomFit = 32795, kZoom100 = 32806;

class MainWindowTest : public PluginTest
{
protected:
    void Run(ScriptedUser& user)
    {
        host.user = &user;
        const RunReport r = host.RunFilter(true);
        host.user = nullptr;
        EXPECT_TRUE(r.ok) << r.Describe();
        EXPECT_TRUE(user.sawWindow);
        EXPECT_TRUE(user.closed);
        for (const std::string& e : user.errors) ADD_FAILURE() << e;
    }
    // Appends a step that records the zoom box's text.
    static void Zoom(ScriptedUser& user, std::vector<std::wstring>* texts)
    {
        user.Read([texts](UserView& v) { texts->push_back(v.ZoomText()); });
    }
};

TEST_F(MainWindowTest, TypedZoomIsReadLikeThePersonMeantIt)
{
    host.SetDocument(MakeGeneratedDocument(400, 300, 3, 8, 2));
    ScriptedUser user;
    std::vector<std::wstring> z;
    Zoom(user, &z);
    for (const wchar_t* t : {L"abc", L"12,5", L"1.2.3", L"5", L"250", L"1000", L"", L"33x"})
    {
        user.TypeZoom(t);
        Zoom(user, &z);
    }
    Run(user);
    ASSERT_EQ(z.size(), 9u);
    EXPECT_NE(z[0], L"100.0 %");  // the arrival fit
    EXPECT_EQ(z[1], z[0]);        // letters restore the previous text
    EXPECT_EQ(z[2], L"12.5 %");
    EXPECT_EQ(z[3], L"10.0 %");  // 1.2.3 is 1.23 %, raised to 10 %
    EXPECT_EQ(z[4], L"10.0 %");
    EXPECT_EQ(z[5], L"250.0 %");
    EXPECT_EQ(z[6], L"800.0 %");
    EXPECT_EQ(z[7], L"10.0 %");                 // empty
    EXPECT_EQ(z[8], L"10.0 %");                 // invalid: the previous zoom again
    EXPECT_EQ(host.Output(), host.Document());  // closed before any run: pixels unchanged
}

TEST_F(MainWindowTest, WheelAndButtonsStayWithinTheirLimits)
{
    host.SetDocument(MakeGeneratedDocument(400, 300, 3, 8, 3));
    ScriptedUser user;
    std::vector<std::wstring> z;
    int selection = -2;
    for (int i = 0; i < 20; ++i) user.Wheel(300, 300, 120);
    Zoom(user, &z);
    for (int i = 0; i < 30; ++i) user.Wheel(5, 5, -120);  // outside the image: about its edge
    Zoom(user, &z);
    user.Read([&selection](UserView& v) { selection = v.ZoomSelection(); });
    user.WheelOverZoomBox(120).WheelOverZoomBox(-120);
    Zoom(user, &z);
    user.Read([&selection](UserView& v) { selection -= v.ZoomSelection(); });
    for (int i = 0; i < 30; ++i) user.Command(kZoomIn);
    Zoom(user, &z);
    for (int i = 0; i < 60; ++i) user.Command(kZoomOut);
    Zoom(user, &z);
    user.Command(kZoom100);
    Zoom(user, &z);
    user.Chars(L"+");
    Zoom(user, &z);
    Run(user);
    ASSERT_EQ(z.size(), 7u);
    EXPECT_EQ(z[0], L"800.0 %");
    EXPECT_EQ(z[1], L"25.0 %");  // 100 / max(400, 300)
    EXPECT_EQ(z[2], L"25.0 %");  // the wheel over the zoom box changes nothing
    EXPECT_EQ(selection, 0);
    EXPECT_EQ(z[3], L"800.0 %");
    EXPECT_EQ(z[4], L"10.0 %");
    EXPECT_EQ(z[5], L"100.0 %");
    EXPECT_EQ(z[6], L"120.0 %");  // the "+" key
}

TEST_F(MainWindowTest, DoubleClickFitsATinyImageAbove800Percent)
{
    host.SetDocument(MakeGeneratedDocument(40, 30, 1, 8, 4));
    ScriptedUser user;
    std::vector<std::wstring> z;
    Zoom(user, &z);
    user.Mouse(WM_LBUTTONDBLCLK, 400, 400);
    Zoom(user, &z);
    user.Command(kZoomFit);
    Zoom(user, &z);
    Run(user);
    ASSERT_EQ(z.size(), 3u);
    EXPECT_EQ(z[0], L"800.0 %");
    EXPECT_GT(_wtof(z[1].c_str()), 800.0) << z[1].c_str();
    EXPECT_EQ(z[2], L"800.0 %");
    EXPECT_EQ(host.Output(), host.Document());
}

TEST_F(MainWindowTest, MenuButtonKeepsToTheRightEnd)
{
    ScriptedUser user;
    std::vector<int> gaps, spacers;
    auto measure = [&](UserView& v)
    {
        RECT c = v.Client(), menu = v.ToolbarButton(7), spacer = v.ToolbarButton(1);
        gaps.push_back(int(c.right - menu.right));
        spacers.push_back(int(spacer.right - spacer.left));
    };
    user.Read(measure);
    user.Resize(900, 600).Read(measure);
    user.Resize(1200, 700).Read(measure);
    user.Resize(250, 400).Read(measure);  // too narrow for the buttons
    Run(user);
    ASSERT_EQ(gaps.size(), 4u);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_GE(gaps[i], 0) << i;
        EXPECT_LE(gaps[i], 4) << i;
    }
    EXPECT_EQ(spacers[3], 1);
}

TEST_F(MainWindowTest, AltF4IsIgnoredTheCloseBoxClosesAndTheHostComesBack)
{
    ScriptedUser user;
    bool aliveAfterAltF4 = false;
    std::wstring title;
    bool hostDisabled = false;
    HWND hostWnd = host.Window();
    user.Key(VK_F4, true)
        .Read(
            [&](UserView& v)
            {
                aliveAfterAltF4 = v.Exists();
                title = v.Title();
                hostDisabled = !IsWindowEnabled(hostWnd);
            });
    user.Close();
    Run(user);
    EXPECT_TRUE(aliveAfterAltF4);
    EXPECT_EQ(title, L"ORV Tools - Hushpix plug-in");
    EXPECT_TRUE(hostDisabled);
    EXPECT_TRUE(IsWindowEnabled(hostWnd));
    EXPECT_EQ(host.Output(), host.Document());
}

// Colour blocks of 25 x 25 pixels: a sample inside a block is unambiguous on the screen.
HostDocument BlockDocument(int w, int h)
{
    HostDocument d = MakeDocument(w, h, 3, 8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const int bx = x / 25, by = y / 25;
            d.Set(x, y, 0, uint32_t((bx * 53 + by * 11) & 255));
            d.Set(x, y, 1, uint32_t((by * 71 + 30) & 255));
            d.Set(x, y, 2, uint32_t((bx * 29 + by * 97 + 60) & 255));
        }
    return d;
}

TEST_F(MainWindowTest, ScreenshotShowsTheHostImageThroughTheFit)
{
    // Wider than the free area's shape: background above and below the image.
    const HostDocument doc = BlockDocument(1000, 300);
    host.SetDocument(doc);
    ScriptedUser user;
    Screenshot shot;
    RECT dock = {};
    user.Command(kZoomFit).Read([&dock](UserView& v) { dock = v.Docker(); });
    user.Shot(&shot, std::string(HPX_ARTIFACT_DIR) + "/main-window-fit.png");
    Run(user);
    ASSERT_GT(shot.width, 0);
    // The image's bounding box on the screen: everything that is not the grey-48 background
    // inside the view area (below the toolbar, above the status bar, left of the docker).
    auto isBackground = [&](int x, int y)
    { return shot.Get(x, y, 0) == 48 && shot.Get(x, y, 1) == 48 && shot.Get(x, y, 2) == 48; };
    const int midY = shot.height / 2;
    int left = -1, right = -1;
    for (int x = 0; x < dock.left; ++x)
        if (!isBackground(x, midY))
        {
            if (left < 0) left = x;
            right = x;
        }
    ASSERT_GE(left, 0);
    const double zoom = (right - left + 1) / 1000.0;
    const double centreX = (left + right + 1) / 2.0;
    EXPECT_NEAR(centreX, dock.left / 2.0, 2.0);  // centred in the free area
    // Every block centre maps to its block's colour. The panel's first preview has denoised a
    // rectangle of the result, which moves a flat block by a level or two at most.
    int top = midY;
    const int midX = (left + right) / 2;
    while (top > 0 && !isBackground(midX, top - 1)) --top;
    ASSERT_GT(top, 0);
    int mismatches = 0;
    for (int by = 0; by < 12; ++by)
        for (int bx = 0; bx < 40; ++bx)
        {
            const int ix = bx * 25 + 12, iy = by * 25 + 12;
            const int sx = int(left + (ix + 0.5) * zoom), sy = int(top + (iy + 0.5) * zoom);
            for (int c = 0; c < 3; ++c)
                if (std::abs(int(shot.Get(sx, sy, c)) - int(doc.Get(ix, iy, c))) > 2)
                {
                    if (mismatches++ < 3)
                        ADD_FAILURE() << "block " << bx << "," << by << " plane " << c << ": " << shot.Get(sx, sy, c)
                                      << " instead of " << doc.Get(ix, iy, c);
                }
        }
    EXPECT_EQ(mismatches, 0) << "zoom " << zoom << " left " << left << " top " << top;
}

size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX pm = {};
    pm.cb = sizeof pm;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pm), sizeof pm);
    return pm.PrivateUsage;
}

TEST_F(MainWindowTest, RepeatedRunsGiveTheirMemoryBack)
{
    // 12 megapixels: document, result and display copies are about 144 MB per run.
    host.SetDocument(MakeDocument(4000, 3000, 3, 8));
    size_t afterFirst = 0;
    for (int run = 0; run < 3; ++run)
    {
        ScriptedUser user;
        Run(user);
        if (run == 0) afterFirst = PrivateBytes();
    }
    EXPECT_LT(PrivateBytes(), afterFirst + 40u * 1024 * 1024);
}

}  // namespace
}  // namespace hpxhost
