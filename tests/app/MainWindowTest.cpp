// The main window as a person uses it: the real plug-in in the test host, a scripted user on a
// second thread acting through messages and reading texts and screenshots.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <commctrl.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "plugin/panel_ids.h"
#include "plugin/window_ids.h"
#include "profiles/Settings.h"
#include "tests/host/DemoScript.h"
#include "tests/host/HostTestSupport.h"
#include "tests/host/ScriptedUser.h"

namespace hpxhost
{
namespace
{

// A shown dialog of this process owned by the window (file and folder dialogs, option dialogs,
// message boxes, whichever thread shows them), with the caption given (any when empty).
struct DialogSearch
{
    HWND owner;
    std::wstring caption;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND h, LPARAM p)
{
    DialogSearch& s = *reinterpret_cast<DialogSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    wchar_t cls[16] = {}, text[256] = {};
    GetClassNameW(h, cls, 16);
    InternalGetWindowText(h, text, 256);  // sends nothing to a thread that may be busy
    if (pid != GetCurrentProcessId() || std::wstring(cls) != L"#32770" || GetWindow(h, GW_OWNER) != s.owner ||
        !IsWindowVisible(h) || (!s.caption.empty() && s.caption != text))
        return TRUE;
    s.found = h;
    return FALSE;
}

HWND WaitForDialog(HWND owner, const std::wstring& caption, DWORD timeoutMs = 120000)
{
    DialogSearch search{owner, caption, nullptr};
    if (!WaitFor(timeoutMs, [&] { return EnumWindows(MatchDialog, LPARAM(&search)), search.found != nullptr; }))
        return nullptr;
    // Ready for the person once its thread has come back to its message loop after showing it.
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &answer)) return nullptr;
    return search.found;
}

// Ctrl+O (the command its accelerator gives), the file's path typed into the open dialog, Open.
void OpenThroughTheDialog(ScriptedUser& user, const std::wstring& path)
{
    user.Add("Ctrl+O", [](UserView& v) { return PostMessageW(v.main, WM_COMMAND, ID_FILE_OPEN, 0) != 0; });
    user.Add("the open dialog",
             [path](UserView& v)
             {
                 HWND dlg = WaitForDialog(v.main, L"Open...");
                 if (!dlg) return false;
                 SetDlgItemTextW(dlg, 1148, path.c_str());  // the file-name box
                 PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
                 return WaitFor(60000, [&] { return !IsWindow(dlg); });
             });
}

std::wstring SelectedItem(HWND tree)
{
    wchar_t text[260] = L"";
    TVITEMW item{TVIF_TEXT};
    item.hItem = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = text;
    item.cchTextMax = 260;
    SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&item));
    return text;
}

// A private folder for a test's files, removed with what the test put there.
struct TempFolder
{
    std::wstring path;
    std::vector<std::wstring> made;  // files and folders, removed in reverse order
    wchar_t startDir[MAX_PATH] = L"";
    explicit TempFolder(const std::wstring& where) : path(where + std::to_wstring(GetCurrentProcessId()))
    {
        CreateDirectoryW(path.c_str(), nullptr);
        GetCurrentDirectoryW(MAX_PATH, startDir);
    }
    ~TempFolder()
    {
        SetCurrentDirectoryW(startDir);  // the open dialog moved into the folder
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            if (!DeleteFileW(it->c_str())) RemoveDirectoryW(it->c_str());
        RemoveDirectoryW(path.c_str());
    }
    std::wstring Add(const std::wstring& relative)
    {
        made.push_back(path + L"\\" + relative);
        return made.back();
    }
    bool Image(const std::wstring& relative, uint32_t seed)
    {
        std::string error;
        return SaveDocumentToFile(Add(relative), MakeGeneratedDocument(64, 48, 3, 8, seed), &error);
    }
};

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
    for (int i = 0; i < 30; ++i) user.Command(ID_ZOOM_IN);
    Zoom(user, &z);
    for (int i = 0; i < 60; ++i) user.Command(ID_ZOOM_OUT);
    Zoom(user, &z);
    user.Command(ID_ZOOM_100);
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
    user.Command(ID_ZOOM_FIT);
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
    RECT dock = {}, client = {};
    user.Command(ID_ZOOM_FIT)
        .Read(
            [&](UserView& v)
            {
                dock = v.Docker();
                client = v.Client();
            });
    user.Shot(&shot, std::string(HPX_ARTIFACT_DIR) + "/main-window-fit.png");
    Run(user);
    // Wine without a window manager may give the maximised window its default size back at any
    // moment (the test runs in a virtual desktop, where it does not): the fit is then stale.
    ASSERT_EQ(shot.width, client.right) << "the window's size changed between the fit and the screenshot";
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

double MeanDifference(const HostDocument& a, const HostDocument& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    return sum / double(a.pixels.size());
}

TEST_F(MainWindowTest, DenoiseDoneAndCloseHandsTheHostASmootherPicture)
{
    HostDocument clean = MakeDocument(240, 180, 3, 8);
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 240; ++x)
            for (int c = 0; c < 3; ++c)
                clean.Set(x, y, c, uint32_t(128 + 70 * std::sin(x / 17.0 + c) * std::cos(y / 23.0)));
    HostDocument noisy = clean;
    uint32_t seed = 7;
    for (uint8_t& p : noisy.pixels)
    {
        seed = seed * 1664525u + 1013904223u;
        p = uint8_t(std::min(255, std::max(0, int(p) + int(seed >> 24) % 41 - 20)));
    }
    host.SetDocument(noisy);
    ScriptedUser user;
    AddDemoSteps(user, 400, 400);
    user.Close();
    Run(user);
    EXPECT_NE(host.Output(), noisy);
    const double before = MeanDifference(noisy, clean), after = MeanDifference(host.Output(), clean);
    EXPECT_LT(after, before * 0.5) << "mean difference from the clean picture " << before << " -> " << after;
}

TEST_F(MainWindowTest, PageDownAndUpStepThroughTheFolderInCircles)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    TempFolder folder(std::wstring(temp) + L"hpx-steps-");
    for (const wchar_t* name : {L"a.png", L"b.bmp", L"c.tif", L"d.jpeg"})
        ASSERT_TRUE(folder.Image(name, uint32_t(name[0])));
    // The folder's images as it lists them (the four-letter ".jpeg" is none).
    std::vector<std::wstring> listing;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder.path + L"\\*.*").c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        if (fd.cFileName[0] != L'.' && std::wstring(fd.cFileName) != L"d.jpeg") listing.push_back(fd.cFileName);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    ASSERT_EQ(listing.size(), 3u);

    ScriptedUser user;
    std::vector<std::wstring> titles;
    auto title = [&titles](UserView& v) { titles.push_back(v.Title()); };
    OpenThroughTheDialog(user, folder.path + L"\\" + listing[2]);
    user.Read(title);
    for (int i = 0; i < 3; ++i) user.Key(VK_NEXT).Read(title);
    user.Key(VK_PRIOR).Read(title);
    OpenThroughTheDialog(user, folder.path + L"\\d.jpeg");
    user.Key(VK_NEXT).Read(title);
    OpenThroughTheDialog(user, folder.path + L"\\d.jpeg");
    user.Key(VK_PRIOR).Read(title);
    Run(user);
    auto shown = [&](const std::wstring& name) { return L"Hushpix - " + folder.path + L"\\" + name; };
    // Page Down on the last image opens the first; from the unknown extension Page Down opens
    // image 1 and Page Up the last.
    const std::vector<std::wstring> expected = {shown(listing[2]), shown(listing[0]), shown(listing[1]),
                                                shown(listing[2]), shown(listing[1]), shown(listing[1]),
                                                shown(listing[2])};
    EXPECT_EQ(titles, expected);
    EXPECT_EQ(host.Output(), host.Document());  // other files were shown: the host keeps its pixels
}

TEST_F(MainWindowTest, BatchFromTheToolbarDenoisesTheFolderAndBringsTheHostImageBack)
{
    HostDocument red = MakeDocument(120, 90, 3, 8);
    for (size_t i = 0; i < red.pixels.size(); i += 3) red.pixels[i] = 200;
    host.SetDocument(red);
    // Near the top of the folder tree, where Wine's folder dialog gets in the time a person waits.
    TempFolder folder(L"C:\\hpx-batch-");
    const std::wstring leaf = folder.path.substr(3);
    ASSERT_TRUE(folder.Image(L"one.png", 1));
    CreateDirectoryW(folder.Add(L"sub").c_str(), nullptr);
    ASSERT_TRUE(folder.Image(L"sub\\two.jpg", 2));
    folder.Add(L"denoised");
    const std::wstring out1 = folder.Add(L"denoised\\one.png");
    folder.Add(L"sub\\denoised");
    const std::wstring out2 = folder.Add(L"sub\\denoised\\two.jpg");
    ASSERT_TRUE(WriteSettingString(L"Latest Folder", folder.path.c_str()));

    ScriptedUser user;
    std::wstring folderShown, report, title, status;
    Screenshot shot;
    user.Add("the batch button",
             [](UserView& v)
             {
                 RECT r{};
                 SendMessageW(v.toolbar, TB_GETITEMRECT, 0, LPARAM(&r));
                 const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
                 PostMessageW(v.toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
                 return PostMessageW(v.toolbar, WM_LBUTTONUP, 0, at) != 0;
             });
    user.Add("the folder dialog",
             [&](UserView& v)
             {
                 HWND dlg = WaitForDialog(v.main, L"");
                 HWND tree = dlg ? FindWindowExW(dlg, nullptr, WC_TREEVIEWW, nullptr) : nullptr;
                 if (!tree) return false;
                 // The person waits until the tree shows the folder chosen last time (never OK
                 // on another folder: the batch would write into it).
                 const bool shown = WaitFor(20000, [&] { return (folderShown = SelectedItem(tree)) == leaf; });
                 PostMessageW(GetDlgItem(dlg, shown ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
                 return shown;
             });
    user.Add("OK in the batch options",
             [](UserView& v)
             {
                 HWND dlg = WaitForDialog(v.main, L"Batch denoising options");
                 return dlg && PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
             });
    user.Add("the closing message",
             [&](UserView& v)
             {
                 HWND box = WaitForDialog(v.main, L"Report", 600000);
                 if (!box) return false;
                 wchar_t text[512] = L"";
                 GetDlgItemTextW(box, 0xFFFF, text, 512);
                 report = text;
                 return PostMessageW(box, WM_COMMAND, IDOK, 0) != 0;
             });
    user.Read(
        [&](UserView& v)
        {
            title = v.Title();
            status = v.StatusText();
        });
    user.Shot(&shot, std::string(HPX_ARTIFACT_DIR) + "/main-window-after-batch.png");
    Run(user);
    EXPECT_EQ(folderShown, leaf);
    EXPECT_NE(report.find(L"successfully finished"), std::wstring::npos) << report.c_str();
    HostDocument written;
    std::string error;
    EXPECT_TRUE(LoadDocumentFromFile(out1, &written, &error)) << error;
    EXPECT_EQ(written.width, 64);
    EXPECT_TRUE(LoadDocumentFromFile(out2, &written, &error)) << error;
    EXPECT_EQ(written.width, 64);
    EXPECT_EQ(title, L"ORV Tools - Hushpix plug-in");
    EXPECT_EQ(status, L"Help Contents F1");
    // The host's red picture fills the middle of the view again.
    ASSERT_GT(shot.width, 0);
    const int x = shot.width / 3, y = shot.height / 2;
    EXPECT_NEAR(int(shot.Get(x, y, 0)), 200, 3);
    EXPECT_NEAR(int(shot.Get(x, y, 1)), 0, 3);
    EXPECT_EQ(host.Output(), host.Document());  // no run of its own: the host keeps its pixels
}

// The panels of the window as a person sees them: the one in the docker and the one the denoise
// commands open (a dialog of the main window's own).
struct Panels
{
    HWND docked = nullptr, opened = nullptr;
};

BOOL CALLBACK CollectPanel(HWND h, LPARAM p)
{
    auto& panels = *reinterpret_cast<std::pair<HWND, Panels>*>(p);
    wchar_t cls[16] = {};
    GetClassNameW(h, cls, 16);
    if (std::wstring(cls) != L"#32770" || !GetDlgItem(h, IDC_PANEL_DENOISE) || !IsWindowVisible(h)) return TRUE;
    (GetParent(h) == panels.first ? panels.second.opened : panels.second.docked) = h;
    return TRUE;
}

Panels FindPanels(HWND main)
{
    std::pair<HWND, Panels> found{main, Panels{}};
    EnumChildWindows(main, CollectPanel, LPARAM(&found));
    return found.second;
}

std::wstring DenoiseText(HWND panel)
{
    wchar_t text[64] = L"";
    SendMessageTimeoutW(GetDlgItem(panel, IDC_PANEL_DENOISE), WM_GETTEXT, 64, LPARAM(text), SMTO_NORMAL, 5000, nullptr);
    return text;
}

// Presses a panel's Denoise / Redefine button and waits until it reads `until`.
bool Press(HWND panel, const wchar_t* until)
{
    PostMessageW(GetDlgItem(panel, IDC_PANEL_DENOISE), BM_CLICK, 0, 0);
    return WaitFor(300000, [&] { return DenoiseText(panel) == until; });
}

TEST_F(MainWindowTest, FastCommandOpensASecondPanelAndEachRunEndsInThePanelThatStartedIt)
{
    host.options.passWindow = false;  // a host that gives the plug-in no window of its own
    host.SetDocument(MakeGeneratedDocument(160, 120, 3, 8, 9));
    ScriptedUser user;
    Panels p;
    std::wstring openedDuringDockedRun, dockedDuringOpenedRun;
    bool openedWaited = false, openedBack = false;
    user.Add("the docked panel's first preview",
             [&](UserView& v)
             {
                 return WaitFor(120000,
                                [&]
                                {
                                    p = FindPanels(v.main);
                                    return p.docked && IsWindowEnabled(GetDlgItem(p.docked, IDC_PANEL_DENOISE));
                                });
             });
    user.Command(ID_DENOISE_IMAGE_FAST);  // no key or button carries the fast command
    user.Add("the opened panel, working",
             [&](UserView& v)
             {
                 return WaitFor(30000,
                                [&]
                                {
                                    p = FindPanels(v.main);
                                    return p.opened && p.docked &&
                                        IsWindowEnabled(GetDlgItem(p.opened, IDC_PANEL_DENOISE));
                                });
             });
    user.Add("a run from the docked panel",
             [&](UserView&)
             {
                 if (!p.opened || !Press(p.docked, L"Redefine")) return false;
                 openedDuringDockedRun = DenoiseText(p.opened);
                 openedWaited = !IsWindowEnabled(p.opened);
                 if (!Press(p.docked, L"Denoise >>")) return false;
                 openedBack = IsWindowEnabled(p.opened) != FALSE;
                 return true;
             });
    user.Add("a run from the opened panel",
             [&](UserView&)
             {
                 if (!p.opened || !Press(p.opened, L"Redefine")) return false;
                 dockedDuringOpenedRun = DenoiseText(p.docked);
                 return true;
             });
    Screenshot shot;
    user.Shot(&shot, std::string(HPX_ARTIFACT_DIR) + "/main-window-two-panels.png");
    user.Close();
    Run(user);
    EXPECT_EQ(openedDuringDockedRun, L"Denoise >>");
    EXPECT_TRUE(openedWaited);  // the document was the docked panel's run's
    EXPECT_TRUE(openedBack);
    EXPECT_EQ(dockedDuringOpenedRun, L"Denoise >>");
    EXPECT_NE(host.Output(), host.Document());  // the opened panel's finished run reached the host
}

// A finished run belongs to the image it was made from, here a file of the host image's shape.
// Page Down, where no other image of the folder opens, says so and keeps that result; closing
// then hands the host nothing of it.
TEST_F(MainWindowTest, AFinishedRunOnAnOpenedFileOutlivesAFailedStepAndNeverReachesTheHost)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    TempFolder folder(std::wstring(temp) + L"hpx-other-");
    ASSERT_TRUE(folder.Image(L"other.png", 5));
    FILE* broken = _wfopen(folder.Add(L"broken.png").c_str(), L"wb");
    ASSERT_NE(broken, nullptr);
    std::fputs("not a picture", broken);
    std::fclose(broken);
    host.SetDocument(MakeGeneratedDocument(64, 48, 3, 8, 9));
    ScriptedUser user;
    OpenThroughTheDialog(user, folder.path + L"\\other.png");
    AddDemoSteps(user, 400, 400);            // Denoise, and the run ends in "Redefine"
    user.Command(ID_ZOOM_FIT).Key(VK_NEXT);  // the fit button gives the window the keys back
    std::wstring message, title, button;
    user.Add("the message of the failed step",
             [&](UserView& v)
             {
                 HWND box = WaitForDialog(v.main, L"");
                 wchar_t text[256] = L"";
                 if (!box || !GetDlgItemTextW(box, 0xFFFF, text, 256)) return false;
                 message = text;
                 return PostMessageW(box, WM_COMMAND, IDOK, 0) != 0;
             });
    user.Read(
        [&](UserView& v)
        {
            title = v.Title();
            button = DenoiseText(FindPanels(v.main).docked);
        });
    user.Close();
    Run(user);
    EXPECT_EQ(message, L"Image format not supported!");
    EXPECT_EQ(title, L"Hushpix - " + folder.path + L"\\other.png");
    EXPECT_EQ(button, L"Redefine");
    EXPECT_EQ(host.Output(), host.Document());
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
