// The scripted user of the plug-in's main window.
#include "tests/host/ScriptedUser.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>

namespace hpxhost
{

namespace
{

HWND FocusOf(HWND main)
{
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof gi;
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    if (GetGUIThreadInfo(thread, &gi) && gi.hwndFocus) return gi.hwndFocus;
    return main;
}

HWND ZoomEdit(HWND zoomBox)
{
    HWND e = FindWindowExW(zoomBox, nullptr, L"Edit", nullptr);
    return e ? e : zoomBox;
}

// The plug-in's window in this process (other test programs may show theirs on the same
// display at the same time).
BOOL CALLBACK FindOwnMainWindow(HWND h, LPARAM out)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != GetCurrentProcessId()) return TRUE;
    wchar_t cls[32] = {}, title[64] = {};
    GetClassNameW(h, cls, 32);
    // The title is asked only of the plug-in's window: asking another window of this process
    // would wait for a thread that may not be pumping messages.
    if (std::wcscmp(cls, L"Hushpix")) return TRUE;
    GetWindowTextW(h, title, 64);
    if (std::wcscmp(title, L"ORV Tools - Hushpix plug-in")) return TRUE;
    *reinterpret_cast<HWND*>(out) = h;
    return FALSE;
}

// A message box of the plug-in's window still being created (the crash notice that another
// plug-in run, in another test program, causes while it runs) is answered with OK.
BOOL CALLBACK DismissStartNotice(HWND h, LPARAM)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    wchar_t cls[32] = {}, ownerCls[32] = {};
    GetClassNameW(h, cls, 32);
    HWND owner = GetWindow(h, GW_OWNER);
    if (owner) GetClassNameW(owner, ownerCls, 32);
    if (pid == GetCurrentProcessId() && !std::wcscmp(cls, L"#32770") && !std::wcscmp(ownerCls, L"Hushpix") &&
        IsWindowVisible(h))
        PostMessageW(h, WM_COMMAND, IDOK, 0);
    return TRUE;
}

HWND FindMainWindow()
{
    EnumWindows(DismissStartNotice, 0);
    HWND h = nullptr;
    EnumWindows(FindOwnMainWindow, LPARAM(&h));
    return h;
}

std::wstring TextOf(HWND h)
{
    if (!h) return std::wstring();
    wchar_t buf[1024] = {};
    SendMessageW(h, WM_GETTEXT, 1023, LPARAM(buf));
    return buf;
}

}  // namespace

// ---- the view --------------------------------------------------------------------------------

std::wstring UserView::Title() const { return TextOf(main); }
std::wstring UserView::ZoomText() const { return TextOf(zoomBox); }
int UserView::ZoomSelection() const { return zoomBox ? int(SendMessageW(zoomBox, CB_GETCURSEL, 0, 0)) : -1; }

std::wstring UserView::StatusText() const
{
    if (!statusBar) return std::wstring();
    wchar_t buf[1024] = {};
    // The text of a status bar part is read with SB_GETTEXT across threads only within the
    // process; the plug-in runs in this process.
    SendMessageW(statusBar, SB_GETTEXTW, 0, LPARAM(buf));
    return buf;
}

RECT UserView::Client() const
{
    RECT r = {0, 0, 0, 0};
    if (main) GetClientRect(main, &r);
    return r;
}

RECT UserView::ToolbarButton(int index) const
{
    RECT r = {0, 0, 0, 0};
    if (!toolbar) return r;
    SendMessageW(toolbar, TB_GETITEMRECT, index, LPARAM(&r));
    MapWindowPoints(toolbar, main, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT UserView::Docker() const
{
    RECT r = {0, 0, 0, 0};
    HWND d = main ? FindWindowExW(main, nullptr, L"DockerWindow1", nullptr) : nullptr;
    if (!d) return r;
    GetWindowRect(d, &r);
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool UserView::Capture(Screenshot* shot) const
{
    const RECT c = Client();
    const int w = c.right, h = c.bottom;
    if (w <= 0 || h <= 0) return false;
    HDC win = GetDC(main);
    if (!win) return false;
    HDC mem = CreateCompatibleDC(win);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(win, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (mem && bmp)
    {
        HGDIOBJ old = SelectObject(mem, bmp);
        ok = BitBlt(mem, 0, 0, w, h, win, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(mem, old);
        if (ok)
        {
            *shot = MakeDocument(w, h, 3, 8);
            const uint8_t* p = static_cast<const uint8_t*>(bits);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x, p += 4)
                {
                    shot->Set(x, y, 0, p[2]);
                    shot->Set(x, y, 1, p[1]);
                    shot->Set(x, y, 2, p[0]);
                }
        }
    }
    if (bmp) DeleteObject(bmp);
    if (mem) DeleteDC(mem);
    ReleaseDC(main, win);
    return ok;
}

// ---- building a script -------------------------------------------------------------------------

ScriptedUser& ScriptedUser::Add(const std::string& what, std::function<bool(UserView&)> act)
{
    steps.push_back(Step{what, std::move(act)});
    return *this;
}

ScriptedUser& ScriptedUser::Command(int id)
{
    return Add("command " + std::to_string(id),
               [id](UserView& v)
               {
                   SendMessageW(v.main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
                   return true;
               });
}

ScriptedUser& ScriptedUser::Key(UINT vk, bool alt)
{
    return Add("key " + std::to_string(vk),
               [vk, alt](UserView& v)
               {
                   HWND f = FocusOf(v.main);
                   const UINT scan = MapVirtualKeyW(vk, 0);
                   LPARAM down = 1 | (LPARAM(scan) << 16), up = down | (LPARAM(3) << 30);
                   if (alt)
                   {
                       down |= LPARAM(1) << 29;
                       up |= LPARAM(1) << 29;
                   }
                   PostMessageW(f, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, down);
                   PostMessageW(f, alt ? WM_SYSKEYUP : WM_KEYUP, vk, up);
                   return true;
               });
}

ScriptedUser& ScriptedUser::Chars(const std::wstring& text)
{
    return Add("characters",
               [text](UserView& v)
               {
                   HWND f = FocusOf(v.main);
                   for (wchar_t c : text) PostMessageW(f, WM_CHAR, c, 1);
                   return true;
               });
}

ScriptedUser& ScriptedUser::Mouse(UINT msg, int x, int y, WPARAM keys)
{
    return Add("mouse " + std::to_string(msg),
               [msg, x, y, keys](UserView& v)
               {
                   PostMessageW(v.main, msg, keys, MAKELPARAM(x, y));
                   return true;
               });
}

ScriptedUser& ScriptedUser::Drag(int x0, int y0, int x1, int y1)
{
    Mouse(WM_LBUTTONDOWN, x0, y0, MK_LBUTTON);
    for (int i = 1; i <= 4; ++i) Mouse(WM_MOUSEMOVE, x0 + (x1 - x0) * i / 4, y0 + (y1 - y0) * i / 4, MK_LBUTTON);
    return Mouse(WM_LBUTTONUP, x1, y1, 0);
}

ScriptedUser& ScriptedUser::Wheel(int x, int y, int delta)
{
    return Add("wheel",
               [x, y, delta](UserView& v)
               {
                   POINT p = {x, y};
                   ClientToScreen(v.main, &p);
                   PostMessageW(v.main, WM_MOUSEWHEEL, MAKEWPARAM(0, short(delta)), MAKELPARAM(p.x, p.y));
                   return true;
               });
}

ScriptedUser& ScriptedUser::WheelOverZoomBox(int delta)
{
    return Add("wheel over the zoom box",
               [delta](UserView& v)
               {
                   RECT r;
                   GetWindowRect(v.zoomBox, &r);
                   PostMessageW(v.zoomBox, WM_MOUSEWHEEL, MAKEWPARAM(0, short(delta)),
                                MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
                   return true;
               });
}

ScriptedUser& ScriptedUser::TypeZoom(const std::wstring& text)
{
    return Add("type into the zoom box",
               [text](UserView& v)
               {
                   if (!v.zoomBox || !IsWindowEnabled(v.zoomBox)) return false;
                   HWND edit = ZoomEdit(v.zoomBox);
                   // Click into the field, select what is there (the text is replaced), type, Enter.
                   PostMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
                   PostMessageW(edit, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
                   PostMessageW(edit, EM_SETSEL, 0, -1);
                   PostMessageW(edit, WM_KEYDOWN, VK_DELETE, 1);
                   PostMessageW(edit, WM_KEYUP, VK_DELETE, 1 | (LPARAM(3) << 30));
                   for (wchar_t c : text) PostMessageW(edit, WM_CHAR, c, 1);
                   PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
                   PostMessageW(edit, WM_CHAR, L'\r', 1);
                   PostMessageW(edit, WM_KEYUP, VK_RETURN, 1 | (LPARAM(3) << 30));
                   return true;
               });
}

ScriptedUser& ScriptedUser::Resize(int width, int height)
{
    return Add("resize",
               [width, height](UserView& v)
               {
                   if (IsZoomed(v.main)) SendMessageW(v.main, WM_SYSCOMMAND, SC_RESTORE, 0);
                   SetWindowPos(v.main, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE);
                   return true;
               });
}

ScriptedUser& ScriptedUser::Shot(Screenshot* out, const std::string& pngPath)
{
    return Add("screenshot",
               [out, pngPath](UserView& v)
               {
                   // Paints still pending (a changed zoom text) are done first, as a person would see them.
                   RedrawWindow(v.main, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
                   Screenshot s;
                   if (!v.Capture(&s)) return false;
                   if (!pngPath.empty())
                   {
                       std::string error;
                       if (!SaveDocumentToFile(HostPath(pngPath), s, &error)) return false;
                   }
                   if (out) *out = std::move(s);
                   return true;
               });
}

ScriptedUser& ScriptedUser::Read(std::function<void(UserView&)> read)
{
    return Add("read",
               [read](UserView& v)
               {
                   read(v);
                   return true;
               });
}

ScriptedUser& ScriptedUser::Pause(DWORD ms)
{
    return Add("pause",
               [ms](UserView&)
               {
                   Sleep(ms);
                   return true;
               });
}

ScriptedUser& ScriptedUser::Close()
{
    return Add("close box",
               [](UserView& v)
               {
                   PostMessageW(v.main, WM_SYSCOMMAND, SC_CLOSE, 0);
                   return true;
               });
}

// ---- running -------------------------------------------------------------------------------------

ScriptedUser::~ScriptedUser() { Finish(); }

void ScriptedUser::Start(HWND hostWindow)
{
    Finish();
    m_hHostWnd = hostWindow;
    m_bStop = false;
    sawWindow = false;
    closed = false;
    m_hSettled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (!m_hThread) errors.push_back("the user's thread could not be started");
}

void ScriptedUser::Finish()
{
    m_bStop = true;
    if (m_hThread)
    {
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    if (m_hSettled)
    {
        CloseHandle(m_hSettled);
        m_hSettled = nullptr;
    }
}

DWORD WINAPI ScriptedUser::ThreadProc(void* self)
{
    try
    {
        static_cast<ScriptedUser*>(self)->Run();
    }
    catch (...)
    {
        static_cast<ScriptedUser*>(self)->errors.push_back("a step threw");
    }
    return 0;
}

bool ScriptedUser::Settle()
{
    // Posted messages are handled in order: when the host window has answered this one,
    // everything the steps posted before it has been handled too.
    if (!m_hHostWnd || !m_hSettled)
    {
        Sleep(200);
        return true;
    }
    for (int round = 0; round < 2; ++round)
    {  // twice: handlers may post follow-ups
        ResetEvent(m_hSettled);
        if (!PostMessageW(m_hHostWnd, kHostSettleMessage, 0, LPARAM(m_hSettled))) return false;
        while (WaitForSingleObject(m_hSettled, 100) == WAIT_TIMEOUT)
        {
            if (m_bStop) return false;
        }
    }
    return true;
}

void ScriptedUser::Run()
{
    const DWORD start = GetTickCount();
    HWND main = nullptr;
    while (!m_bStop && !(main = FindMainWindow()))
    {
        if (GetTickCount() - start > windowTimeoutMs)
        {
            errors.push_back("the main window did not appear");
            return;
        }
        Sleep(20);
    }
    if (!main) return;
    sawWindow = true;
    m_view.main = main;
    m_view.toolbar = FindWindowExW(main, nullptr, TOOLBARCLASSNAMEW, nullptr);
    m_view.statusBar = FindWindowExW(main, nullptr, STATUSCLASSNAMEW, nullptr);
    m_view.zoomBox = m_view.toolbar ? FindWindowExW(m_view.toolbar, nullptr, L"ComboBox", nullptr) : nullptr;
    Settle();  // the image has arrived and the loop runs

    const bool trace = GetEnvironmentVariableA("HPX_USER_TRACE", nullptr, 0) > 0;
    for (Step& s : steps)
    {
        if (trace) std::fprintf(stderr, "[user] %s\n", s.what.c_str());
        if (m_bStop || !IsWindow(main))
        {
            errors.push_back("the window was gone before step \"" + s.what + "\"");
            break;
        }
        if (!s.act(m_view)) errors.push_back("step \"" + s.what + "\" failed");
        Settle();
    }
    // Whatever the script did, the window goes at its end. The bound only ends a hang: on a loaded
    // machine closing (which may wait for a run to end) takes its time.
    for (int i = 0; i < 15000 && !m_bStop && IsWindow(main); ++i)
    {
        if (i % 50 == 0) PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        Sleep(20);
    }
    closed = !IsWindow(main);
}

void ClearPluginCrashFlag()
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder))) return;
    std::wstring path = std::wstring(folder) + L"\\HPXPhotoshopPlugIn\\HPXPhotoshopPlugIn.txt";
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        WritePrivateProfileStringW(L"General", L"Crashed Last Time", L"0", path.c_str());
}

}  // namespace hpxhost
