// The main window's failure paths, run in this process (the plug-in's resources are linked into
// the test program, whose module stands for the plug-in's): a host image without pixels, a
// display copy that cannot be made, a view without its surface, and a file opened without room
// for its result.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "app/files/OpenSaveImage.h"
#include "app/view/BackBuffer.h"
#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"
#include "imagefiles/ImageFile.h"
#include "plugin/panel_ids.h"
#include "plugin/window_ids.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"

// The program's import of the C runtime's malloc: every allocation of the code linked in goes
// through it.
extern "C" void* (*_imp__malloc)(size_t);

namespace
{

// While this lives, memory runs short once for the calling thread: at its nth allocation of
// exactly `bytes` bytes.
class ShortOfMemory
{
public:
    ShortOfMemory(size_t bytes, int nth)
    {
        s_bytes = bytes;
        s_left = nth;
        s_thread = GetCurrentThreadId();
        s_reached = false;
        Swap(Allocate);
    }
    ~ShortOfMemory() { Swap(s_malloc); }
    static bool Reached() { return s_reached; }

private:
    static void* Allocate(size_t n)
    {
        if (n == s_bytes && GetCurrentThreadId() == s_thread && s_left > 0 && --s_left == 0)
        {
            s_reached = true;
            return nullptr;
        }
        return s_malloc(n);
    }
    static void Swap(void* (*to)(size_t))
    {
        DWORD was = 0;
        VirtualProtect(&_imp__malloc, sizeof _imp__malloc, PAGE_READWRITE, &was);
        if (to == Allocate) s_malloc = _imp__malloc;
        _imp__malloc = to;
        VirtualProtect(&_imp__malloc, sizeof _imp__malloc, was, &was);
    }
    static inline void* (*s_malloc)(size_t) = nullptr;
    static inline size_t s_bytes = 0;
    static inline int s_left = 0;
    static inline DWORD s_thread = 0;
    static inline bool s_reached = false;
};

// Reads and closes the message boxes that the window shows while this lives, as a person would
// (a box left open would hold the test's thread).
class BoxCloser
{
public:
    explicit BoxCloser(HWND owner) : m_owner(owner), m_thread([this] { Watch(); }) {}
    ~BoxCloser() { Shown(); }
    std::vector<std::wstring> Shown()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        return m_texts;
    }

private:
    static BOOL CALLBACK Close(HWND h, LPARAM self)
    {
        BoxCloser& c = *reinterpret_cast<BoxCloser*>(self);
        wchar_t cls[16] = {}, text[512] = {};
        GetClassNameW(h, cls, 16);
        if (std::wstring(cls) == L"#32770" && GetWindow(h, GW_OWNER) == c.m_owner && IsWindowVisible(h))
        {
            GetDlgItemTextW(h, 0xFFFF, text, 512);
            c.m_texts.push_back(text);
            PostMessageW(h, WM_COMMAND, IDOK, 0);
        }
        return TRUE;
    }
    void Watch()
    {
        for (; !m_stop; Sleep(50)) EnumWindows(Close, reinterpret_cast<LPARAM>(this));
    }
    HWND m_owner;
    std::atomic<bool> m_stop{false};
    std::vector<std::wstring> m_texts;
    std::thread m_thread;
};

class MainWindowFailure : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"hpx-mainwnd-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_folder.c_str(), nullptr);
        SetAppDataFolderOverride(m_folder.c_str());  // no crash notice, no user profiles
        SetPluginFolderOverride(m_folder.c_str());   // no localisation file: English
        InitImage(&m_image);
        InitImage(&m_alpha);
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
    }
    void TearDown() override
    {
        if (m_wnd && IsWindow(m_wnd)) DestroyWindow(m_wnd);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        {
        }  // its quit message included
        g_WindowHost = MainWindowHost{};
        ReleaseImage(&m_image);
        SetAppDataFolderOverride(nullptr);
        SetPluginFolderOverride(nullptr);
        std::wstring from = m_folder + L'\0';
        SHFILEOPSTRUCTW op = {nullptr, FO_DELETE, from.c_str(), nullptr, FOF_NO_UI};
        SHFileOperationW(&op);
    }
    // The window as RunMainWindow creates it, handed the test's host image.
    void Open()
    {
        g_hInstance = GetModuleHandleW(nullptr);
        g_WindowHost = MainWindowHost{g_hInstance, nullptr, &m_image, &m_alpha, nullptr, 0};
        RegisterMainWindowClass(g_hInstance, HPX_MAIN_WINDOW_CLASS);
        m_wnd = CreateWindowExW(0, HPX_MAIN_WINDOW_CLASS, HPX_MAIN_WINDOW_TITLE, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                1000, 700, nullptr, nullptr, g_hInstance, nullptr);
        ASSERT_NE(m_wnd, nullptr);
    }

    std::wstring m_folder;
    ImageBuffer m_image, m_alpha;
    HWND m_wnd = nullptr;
};

TEST_F(MainWindowFailure, AHostImageWithoutPixelsStillReadiesTheWindowAndThePanelAndBlamesNoMemory)
{
    Open();
    BoxCloser boxes(m_wnd);
    SendMessageW(m_wnd, WM_HPX_IMAGE_ARRIVED, 0, 0);
    const std::vector<std::wstring> shown = boxes.Shown();
    EXPECT_TRUE(shown.empty()) << "a notice was shown";
    EXPECT_TRUE(IsWindowEnabled(g_hZoomBox));
    ASSERT_NE(g_hPanelDlg, nullptr);
    // The panel was told of the (empty) image: it has taken the view over, with nothing to denoise.
    EXPECT_NE(g_PreviewView.m_pPreviewRect, nullptr);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(g_hPanelDlg, IDC_PANEL_DENOISE)));
}

TEST_F(MainWindowFailure, AViewWithoutItsSurfaceSaysSoInTheLocalisedText)
{
    Open();
    g_BackBuffer.ReleaseSurface();
    // A blank text: the image area must then be one plain colour.
    wcscpy(g_LocStrings.m_wcsText[154], L" ");
    RedrawWindow(m_wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT c;
    GetClientRect(m_wnd, &c);
    const int w = c.right / 2, h = 24;  // the left half, where the text's middle would be
    HDC window = GetDC(m_wnd), mem = CreateCompatibleDC(window);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, window, 0, c.bottom / 2 - h / 2, SRCCOPY);
    GdiFlush();
    const uint32_t* px = static_cast<const uint32_t*>(bits);
    int differing = 0;
    for (int i = 0; i < w * h; ++i) differing += px[i] != px[0];
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(m_wnd, window);
    EXPECT_EQ(differing, 0);
    ResetLocalizedStrings();
}

// Page Down to a file whose result finds no room: the document (the host image) stays whole, the
// user hears why.
TEST_F(MainWindowFailure, AStepWithoutRoomForTheNewResultKeepsTheDocumentAndSaysWhy)
{
    ASSERT_EQ(CreateImage(&m_image, 64, 48, 3, 8), kImageOk);
    FillImageBytes(&m_image, 100);
    const std::wstring current = m_folder + L"\\a.png";
    ImageBuffer file;
    InitImage(&file);
    ASSERT_EQ(CreateImage(&file, 61, 47, 3, 8), kImageOk);  // a size no other block of the step has
    FillImageBytes(&file, 30);
    EXPECT_FALSE(WriteImageFile(&file, nullptr, current.c_str(), 0, L"", kImageFormatUnknown));
    EXPECT_FALSE(WriteImageFile(&file, nullptr, (m_folder + L"\\b.png").c_str(), 0, L"", kImageFormatUnknown));
    ReleaseImage(&file);
    Open();
    BoxCloser boxes(m_wnd);
    SendMessageW(m_wnd, WM_HPX_IMAGE_ARRIVED, 0, 0);
    wcscpy(g_wcsCurrentFile, current.c_str());
    {
        ShortOfMemory shortage(61 * 47 * 3, 2);  // the file's image as read, then its result
        SendMessageW(m_wnd, WM_COMMAND, ID_NEXT_IMAGE, 0);
        EXPECT_TRUE(ShortOfMemory::Reached());
    }
    const std::vector<std::wstring> shown = boxes.Shown();
    EXPECT_EQ(shown, std::vector<std::wstring>{L"Not enough memory to process the image."});
    const CBackBuffer& doc = g_BackBuffer;
    ASSERT_TRUE(doc.HasDocument());
    EXPECT_EQ(doc.m_Source.m_iWidth, 64);
    EXPECT_EQ(static_cast<const uint8_t*>(doc.m_Source.m_pData)[0], 100);
    EXPECT_EQ(doc.m_Result.m_iWidth, 64);
    EXPECT_STREQ(g_wcsCurrentFile, current.c_str());
    wchar_t title[128] = L"";
    GetWindowTextW(m_wnd, title, 128);
    EXPECT_STREQ(title, HPX_MAIN_WINDOW_TITLE);
    g_wcsCurrentFile[0] = 0;
}

TEST(MainWindowViewCopies, TheResultIsShownEvenWhenTheSourcesCopyCannotBeMade)
{
    // The source's copy fails (here: the source has no pixels); the result's is still made.
    ImageBuffer& result = g_BackBuffer.m_Result;
    ASSERT_EQ(CreateImage(&result, 64, 48, 3, 16), kImageOk);
    FillImageBytes(&result, 100);
    MainWndProc(nullptr, WM_HPX_MAKE_VIEW_COPIES, 0, 0);
    EXPECT_NE(g_PreviewView.m_Denoised.m_pData, nullptr);
    EXPECT_EQ(g_PreviewView.m_Denoised.m_iBits, 8);
    g_PreviewView.ReleaseCopies();
    ReleaseImage(&result);
}

}  // namespace
