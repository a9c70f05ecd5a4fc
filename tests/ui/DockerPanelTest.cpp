// The docker panel stacks its children from the top, sits at its edge and removes children.
#include "UiTestSupport.h"
#include "ui/ControlSkin.h"
#include "ui/DockerPanel.h"

#include <vector>

namespace
{

class DockerPanel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ApplyDefaultSkin();
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HpxDockerTestParent";
        RegisterClassW(&wc);
        m_parent = CreateWindowExW(0, L"HpxDockerTestParent", L"parent", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
                                   800, 600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_parent, nullptr);
        ShowWindow(m_parent, SW_SHOWNA);  // children count as visible only in a visible parent
    }
    void TearDown() override
    {
        DestroyWindow(m_parent);
        UnregisterDockerWindowClass();
        FreeSkinBrushes();
        SetSkinMode(0);
    }
    HWND Child(HWND docker, int w, int h)
    {
        return CreateWindowExW(0, L"Static", nullptr, WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 50, 50, w, h, docker,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    RECT InParent(HWND h) const
    {
        RECT r;
        GetWindowRect(h, &r);
        MapWindowPoints(nullptr, m_parent, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    HWND m_parent = nullptr;
};

TEST_F(DockerPanel, StacksChildrenAndDocksAtTheRightEdge)
{
    CDockerPanel docker;
    EXPECT_EQ(docker.GetHwnd(), nullptr);
    EXPECT_TRUE(docker.IsDockedLeft());
    HWND dw = docker.Create(m_parent, false);
    ASSERT_NE(dw, nullptr);
    EXPECT_FALSE(docker.IsDockedLeft());
    wchar_t cls[32] = {};
    GetClassNameW(dw, cls, 32);
    EXPECT_STREQ(cls, L"DockerWindow1");
    EXPECT_FALSE(IsWindowVisible(dw));
    EXPECT_EQ(GetWindowLongW(dw, GWL_STYLE) & (WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN),
              WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    EXPECT_EQ(reinterpret_cast<CDockerPanel*>(GetWindowLongPtrW(dw, GWLP_USERDATA)), &docker);
    RECT r0 = InParent(dw);
    EXPECT_EQ(r0.right - r0.left, 300);
    EXPECT_EQ(r0.bottom - r0.top, 1000);
    MoveWindow(dw, 0, 40, 300, 500, FALSE);

    HWND a = Child(dw, 200, 100), b = Child(dw, 250, 50), c = Child(dw, 120, 30);
    docker.Insert(0, a);
    docker.Insert(0, b);   // on top of a
    docker.Insert(99, c);  // past the end: appended
    EXPECT_EQ(docker.Children(), (std::list<HWND>{b, a, c}));
    docker.Layout();
    ShowWindow(dw, SW_SHOW);

    RECT rb = InParent(b), ra = InParent(a), rc = InParent(c), rd = InParent(dw);
    // Children from the docker's top, one pixel in (the edge line is on the left).
    EXPECT_EQ(rb.left - rd.left, 1);
    EXPECT_EQ(rb.top - rd.top, 0);
    EXPECT_EQ(ra.top - rd.top, 50);
    EXPECT_EQ(rc.top - rd.top, 150);
    EXPECT_EQ(ra.right - ra.left, 200);  // sizes kept
    // Width of the widest child plus the edge line; right edge on the parent's client edge; top and height kept.
    RECT client;
    GetClientRect(m_parent, &client);
    EXPECT_EQ(rd.right - rd.left, 251);
    EXPECT_EQ(rd.right, client.right);
    EXPECT_EQ(rd.top, 40);
    EXPECT_EQ(rd.bottom - rd.top, 500);

    // The background: face, with the highlight edge line at x = 0 when docked right.
    uitest::Dib dib(251, 500);
    dib.Fill(RGB(255, 0, 255));
    SendMessageW(dw, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dib.dc()), 0);
    EXPECT_EQ(uitest::Hex(dib.At(0, 300)), "#646464");
    EXPECT_EQ(uitest::Hex(dib.At(100, 300)), "#464646");
    EXPECT_EQ(uitest::Hex(dib.At(100, 20)), "#FF00FF");  // a visible child keeps its pixels

    // Removing: an absent window changes nothing, a present one goes.
    docker.Remove(reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(docker.Children().size(), 3u);
    docker.Remove(b);
    EXPECT_EQ(docker.Children(), (std::list<HWND>{a, c}));
    docker.Layout();
    EXPECT_EQ(InParent(a).top - InParent(dw).top, 0);
    EXPECT_EQ(InParent(dw).right - InParent(dw).left, 201);
    docker.Remove(a);
    docker.Remove(c);
    docker.Layout();
    // No children: one pixel, the edge line.
    EXPECT_EQ(InParent(dw).right - InParent(dw).left, 1);
    EXPECT_EQ(InParent(dw).right, client.right);
}

TEST_F(DockerPanel, DockedLeftAndCreatedAgain)
{
    CDockerPanel docker;
    HWND first = docker.Create(m_parent, true);
    ASSERT_NE(first, nullptr);
    HWND a = Child(first, 180, 60);
    docker.Insert(0, a);
    docker.Layout();
    EXPECT_EQ(InParent(a).left, 0);
    EXPECT_EQ(InParent(first).left, 0);
    EXPECT_EQ(InParent(first).right, 181);
    uitest::Dib dib(181, 100);
    SendMessageW(first, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dib.dc()), 0);
    EXPECT_EQ(uitest::Hex(dib.At(180, 80)), "#646464");  // edge line on the right when docked left
    EXPECT_EQ(uitest::Hex(dib.At(0, 80)), "#464646");

    // The main window is made again while the class is still registered: the docker comes back,
    // and the list is kept.
    DestroyWindow(first);
    HWND second = docker.Create(m_parent, false);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(docker.GetHwnd(), second);
    EXPECT_EQ(docker.Children().size(), 1u);
    // After the finish step unregistered the class it is registered anew.
    DestroyWindow(second);
    UnregisterDockerWindowClass();
    EXPECT_NE(docker.Create(m_parent, false), nullptr);
}

}  // namespace
