#include "ProfTestSupport.h"

#include <windows.h>
#include <FreeImage.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace
{
// The failing allocator: counts down on one thread only, so gtest's and Wine's other threads
// allocate as usual.
std::atomic<DWORD> g_failThread{0};
long g_failCountdown = 0;
bool g_failReached = false;
}  // namespace

void* operator new(size_t size)
{
    if (g_failThread.load(std::memory_order_relaxed) == GetCurrentThreadId() && g_failCountdown > 0 &&
        --g_failCountdown == 0)
    {
        g_failReached = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace proftest
{

void FailAllocation(long n)
{
    g_failCountdown = n;
    g_failReached = false;
    g_failThread = GetCurrentThreadId();
}

bool StopFailingAllocation()
{
    g_failThread = 0;
    g_failCountdown = 0;
    return g_failReached;
}

std::wstring Widen(const std::string& s)
{
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::string Narrow(const std::wstring& w)
{
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    const size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos) CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(path);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) data.append(buf, got);
    CloseHandle(h);
    return data;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (f != INVALID_HANDLE_VALUE)
    {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            {
                RemoveTree(full);
            }
            else
            {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(f, &fd));
        FindClose(f);
    }
    RemoveDirectoryW(path.c_str());
}

namespace
{
// Until a test points them elsewhere, the per-user and plug-in folders of the whole program lie in
// a private temporary folder too, so that no test can reach the files of a real user.
std::wstring g_defaultRoot;

class PrivateFoldersEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        g_defaultRoot = std::wstring(temp) + L"hpxprof_default_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(g_defaultRoot.c_str(), nullptr);
        SetAppDataFolderOverride(g_defaultRoot.c_str());
        SetPluginFolderOverride(g_defaultRoot.c_str());
    }
    void TearDown() override
    {
        SetAppDataFolderOverride(nullptr);
        SetPluginFolderOverride(nullptr);
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, nullptr);
        RemoveTree(g_defaultRoot);
    }
};
const auto* const g_privateFolders = ::testing::AddGlobalTestEnvironment(new PrivateFoldersEnvironment);
}  // namespace

void RestoreDefaultFolders()
{
    SetAppDataFolderOverride(g_defaultRoot.c_str());
    SetPluginFolderOverride(g_defaultRoot.c_str());
}

void TempFolders::SetUp()
{
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t name[64];
    _snwprintf(name, 63, L"hpxprof_%lu_%i_%lu", GetCurrentProcessId(), ++counter, GetTickCount());
    name[63] = 0;
    m_root = std::wstring(temp) + name;
    m_appData = m_root + L"\\appdata";
    m_plugin = m_root + L"\\plugin";
    ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(m_appData.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(m_plugin.c_str(), nullptr));
    SetAppDataFolderOverride(m_appData.c_str());
    SetPluginFolderOverride(m_plugin.c_str());
}

void TempFolders::TearDown()
{
    RestoreDefaultFolders();
    // The private-profile functions may keep the last file cached: let them go first.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, nullptr);
    if (!m_root.empty()) RemoveTree(m_root);
}

namespace
{
struct FindCtx
{
    HWND except;
    HWND found;
};
BOOL CALLBACK FindDialogProc(HWND hWnd, LPARAM lParam)
{
    auto* ctx = reinterpret_cast<FindCtx*>(lParam);
    wchar_t cls[32];
    GetClassNameW(hWnd, cls, 32);
    if (hWnd != ctx->except && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hWnd))
    {
        ctx->found = hWnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND WaitForDialog(DWORD threadId, HWND except, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs)
    {
        FindCtx ctx{except, nullptr};
        EnumThreadWindows(threadId, FindDialogProc, reinterpret_cast<LPARAM>(&ctx));
        if (ctx.found)
        {
            Sleep(150);  // let it finish its first paint
            return ctx.found;
        }
        Sleep(20);
    }
    return nullptr;
}

INT_PTR DriveDialog(const std::function<INT_PTR()>& show, const std::function<void(HWND)>& answer, bool* timedOut)
{
    const DWORD tid = GetCurrentThreadId();
    std::atomic<bool> done{false};
    *timedOut = false;
    std::thread helper(
        [&]
        {
            HWND dlg = WaitForDialog(tid, nullptr, 20000);
            if (!dlg)
            {
                *timedOut = true;
                return;
            }
            answer(dlg);
            // Whatever the answer did, the dialog must end: close what is still open.
            for (int i = 0; i < 200 && !done; ++i) Sleep(25);
            if (!done)
            {
                *timedOut = true;
                HWND still;
                while (!done && (still = WaitForDialog(tid, nullptr, 100)) != nullptr)
                    PostMessageW(still, WM_COMMAND, IDCANCEL, 0);
            }
        });
    INT_PTR result = show();
    done = true;
    helper.join();
    return result;
}

std::wstring WindowText(HWND hWnd)
{
    wchar_t buf[2048];
    buf[0] = 0;
    // The window may belong to another thread: WM_GETTEXT goes through its message queue.
    SendMessageW(hWnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buf));
    return buf;
}

std::wstring ItemText(HWND hDlg, int id) { return WindowText(GetDlgItem(hDlg, id)); }

std::wstring SaveScreenshot(HWND hWnd, const wchar_t* name)
{
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(200);
    RECT rc;
    GetWindowRect(hWnd, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return {};
    HDC src = GetWindowDC(hWnd);
    HDC mem = CreateCompatibleDC(src);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as FreeImage keeps its rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, src, 0, 0, SRCCOPY);
    GdiFlush();
    SelectObject(mem, old);
    ReleaseDC(hWnd, src);
    DeleteDC(mem);

    CreateDirectoryW(L"artefacts", nullptr);
    std::wstring path = std::wstring(L"artefacts\\") + name + L".png";
    FreeImage_Initialise(FALSE);
    FIBITMAP* fib = FreeImage_Allocate(w, h, 24);
    bool ok = false;
    if (fib)
    {
        const auto* p = static_cast<const BYTE*>(bits);
        for (int y = 0; y < h; ++y)
        {
            BYTE* line = FreeImage_GetScanLine(fib, y);
            const BYTE* s = p + static_cast<size_t>(y) * w * 4;
            for (int x = 0; x < w; ++x)
            {
                line[x * 3 + FI_RGBA_BLUE] = s[x * 4 + 0];
                line[x * 3 + FI_RGBA_GREEN] = s[x * 4 + 1];
                line[x * 3 + FI_RGBA_RED] = s[x * 4 + 2];
            }
        }
        ok = FreeImage_SaveU(FIF_PNG, fib, path.c_str(), 0) != FALSE;
        FreeImage_Unload(fib);
    }
    FreeImage_DeInitialise();
    DeleteObject(bmp);
    return ok ? path : std::wstring();
}

HWND CreateOwnerWindow()
{
    static bool registered = false;
    if (!registered)
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        wc.lpszClassName = L"HpxProfTestOwner";
        RegisterClassW(&wc);
        registered = true;
    }
    HWND h = CreateWindowExW(0, L"HpxProfTestOwner", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 800, 600,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    UpdateWindow(h);
    return h;
}

}  // namespace proftest
