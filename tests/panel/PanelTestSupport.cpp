#include "PanelTestSupport.h"

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "app/panel/ParameterPanel.h"
#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"
#include "app/window/ViewNavigation.h"
#include "app/window/WindowMessages.h"
#include "engine/ImageBuffer.h"
#include "plugin/panel_ids.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Localisation.h"
#include "ui/ControlSkin.h"

namespace paneltest
{

MainWindowLog g_Log;

namespace
{

std::atomic<DWORD> g_failThread{0};
std::atomic<size_t> g_failFrom{0};

class GdiplusEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc),
                                    ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        Gdiplus::GdiplusStartupInput in;
        Gdiplus::GdiplusStartup(&m_token, &in, nullptr);
        ResetLocalizedStrings();
        SetSkinScheme(2);    // the dark scheme the filter applies before its window opens
        g_iQualityMode = 1;  // the fastest previews: the tests look at where and when they run
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }

private:
    ULONG_PTR m_token = 0;
};
const auto* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

LRESULT CALLBACK StandInProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_HPX_REFRESH_RESULT:
        ++g_Log.refreshes;
        return 0;
    case WM_HPX_SHOW_RESULT:
        ++g_Log.shows;
        return 0;
    case WM_HPX_START_JOB:
        ++g_Log.startJobs;
        g_Log.jobWParam = wParam;
        g_Log.jobLParam = lParam;
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

}  // namespace

void FailAllocationsFrom(size_t bytes)
{
    g_failFrom = bytes;
    g_failThread = bytes ? GetCurrentThreadId() : 0;
}

std::vector<std::wstring> AnswerMessageBoxes(const std::function<void()>& act)
{
    const DWORD tid = GetCurrentThreadId();
    std::atomic<bool> done{false};
    std::vector<std::wstring> boxes;
    std::thread helper(
        [&]
        {
            while (!done)
            {
                HWND box = proftest::WaitForDialog(tid, nullptr, 50);
                if (!box) continue;
                std::wstring text = proftest::WindowText(box);
                for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                    text += L"\n" + proftest::WindowText(c);
                boxes.push_back(text);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                while (!done && IsWindow(box)) Sleep(10);
            }
        });
    act();
    done = true;
    helper.join();
    return boxes;
}

COLORREF ScreenPixel(HWND hWnd, int x, int y)
{
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC src = GetDC(hWnd);
    HDC mem = CreateCompatibleDC(src);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 1;
    bi.bmiHeader.biHeight = 1;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, 1, 1, src, x, y, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const BYTE*>(bits);
    const COLORREF c = RGB(p[2], p[1], p[0]);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(hWnd, src);
    return c;
}

void MakeNoisyImage(ImageBuffer* img, int w, int h, int channels, int spread, unsigned seed)
{
    InitImage(img);
    ASSERT_EQ(CreateImage(img, w, h, channels, 8), kImageOk);
    std::srand(seed);
    auto* p = static_cast<uint8_t*>(img->m_pData);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
            {
                int v = 40 + x * 160 / w + c * 20 + std::rand() % (spread + 1) - spread / 2;
                p[(y * w + x) * channels + c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
}

void PanelTest::SetUp()
{
    TempFolders::SetUp();
    g_Log = MainWindowLog{};
    WNDCLASSW wc{};
    wc.lpfnWndProc = StandInProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HpxPanelTestMain";
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&wc);
    m_main = CreateWindowExW(0, wc.lpszClassName, L"panel test", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                             0, 1000, 760, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(m_main, nullptr);
    g_hMainWnd = m_main;
    g_iQualityMode = 1;
    // The pointer stays away from the panel, over the image.
    SetCursorPos(5, 5);
}

void PanelTest::TearDown()
{
    ClosePanel();
    if (m_main) DestroyWindow(m_main);
    g_hMainWnd = nullptr;
    ReleaseImage(&m_doc.m_Source);
    ReleaseImage(&m_doc.m_Result);
    TempFolders::TearDown();
}

void PanelTest::OpenPanel(int w, int h, int channels, const wchar_t* make, const wchar_t* model, const wchar_t* iso)
{
    ReleaseImage(&m_doc.m_Source);
    ReleaseImage(&m_doc.m_Result);
    MakeNoisyImage(&m_doc.m_Source, w, h, channels, 40, 11);
    InitImage(&m_doc.m_Result);
    ASSERT_EQ(CopyImageLayout(&m_doc.m_Result, &m_doc.m_Source), kImageOk);
    CopyImagePixels(&m_doc.m_Result, &m_doc.m_Source);
    m_doc.m_Info.Clear();
    lstrcpynW(m_doc.m_Info[ImageInfoStrings::kMake], make, 128);
    lstrcpynW(m_doc.m_Info[ImageInfoStrings::kModel], model, 128);
    lstrcpynW(m_doc.m_Info[ImageInfoStrings::kIso], iso, 128);
    m_panel = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PARAMETER_PANEL), m_main,
                                 ParameterPanelDlgProc, reinterpret_cast<LPARAM>(&m_doc));
    ASSERT_NE(m_panel, nullptr);
    SetWindowPos(m_panel, nullptr, 560, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    // The view of the image arrival: the window point at the middle of the free area shows the
    // middle of the image, one window pixel per image pixel.
    RECT r;
    GetWindowRect(m_main, &r);
    const int dockerLeft = r.left + 560;
    g_dViewX = (dockerLeft - r.left) / 2;
    g_dViewY = (r.bottom - r.top) / 2;
    g_dImageX = w / 2.0;
    g_dImageY = h / 2.0;
    g_dZoom = 1.0;
    SendMessageW(m_panel, WM_HPX_IMAGE_LOADED, static_cast<WPARAM>(dockerLeft), 0);
}

void PanelTest::ClosePanel()
{
    if (!m_panel) return;
    SendMessageW(m_panel, WM_COMMAND, IDOK, 0);
    DestroyWindow(m_panel);
    m_panel = nullptr;
}

POINT PanelTest::WindowPoint(double x, double y) const
{
    return POINT{static_cast<LONG>(g_dViewX + (x - g_dImageX) * g_dZoom),
                 static_cast<LONG>(g_dViewY + (y - g_dImageY) * g_dZoom)};
}

void PanelTest::Drag(POINT from, POINT to)
{
    SendMessageW(m_panel, WM_MOUSEMOVE, 0, MAKELPARAM(from.x, from.y));
    SendMessageW(m_panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
    const POINT mid{(from.x + to.x) / 2, (from.y + to.y) / 2};
    SendMessageW(m_panel, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(mid.x, mid.y));
    SendMessageW(m_panel, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
    SendMessageW(m_panel, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
}

void PanelTest::Click(int id) { SendDlgItemMessageW(m_panel, id, BM_CLICK, 0, 0); }

void PanelTest::StoreProfiles(std::initializer_list<Entry> entries)
{
    CameraIsoTable table;
    table.Load();
    for (const Entry& e : entries)
    {
        IsoSettings s = DefaultIsoSettings();
        s.m_dStrength = e.strength;
        s.m_dImmerkaerY = e.noise;
        s.m_dImmerkaerUV = 0;
        ASSERT_FALSE(table.AddOrUpdate(e.camera, e.iso, &s));
    }
    ASSERT_FALSE(table.Save());
}

}  // namespace paneltest

// Every malloc of the program comes here (linked with --wrap=malloc), so that a test can make the
// large ones of its own thread fail.
extern "C"
{
    void* __real_malloc(size_t n);
    void* __wrap_malloc(size_t n)
    {
        const size_t from = paneltest::g_failFrom.load(std::memory_order_relaxed);
        if (from && n >= from && paneltest::g_failThread.load(std::memory_order_relaxed) == GetCurrentThreadId())
            return nullptr;
        return __real_malloc(n);
    }
}
