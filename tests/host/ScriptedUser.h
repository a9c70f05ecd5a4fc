// A scripted user of the plug-in's main window: a second thread that waits for the window (class
// "Hushpix", title "ORV Tools - Hushpix plug-in"), acts on it only as a person could (commands as
// toolbar buttons and menus send them, keys and characters to the focused control, mouse
// messages at client points, typing into the zoom box), reads what a person sees (window texts,
// the zoom box, screenshots taken with BitBlt) and closes it.
//
// A script is a plain list of steps, built with the methods below and run while the host's
// start selector runs the window's modal loop (TestHost::user). After every step the user waits
// until the window's thread has handled everything posted so far. A script that does not close
// the window closes it at its end; what went wrong is collected in errors (never asserted on the
// user's thread).
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "tests/host/TestHost.h"

namespace hpxhost
{

// A screenshot of the main window's client area (RGB, 8 bits, rows top first).
using Screenshot = HostDocument;

// What a step that reads sees.
class UserView
{
public:
    HWND main = nullptr;
    HWND zoomBox = nullptr;
    HWND toolbar = nullptr;
    HWND statusBar = nullptr;
    std::wstring Title() const;
    std::wstring ZoomText() const;
    int ZoomSelection() const;
    std::wstring StatusText() const;
    RECT Client() const;
    // The rectangle of toolbar button `index` in the main window's client coordinates.
    RECT ToolbarButton(int index) const;
    RECT Docker() const;  // the docker window in client coordinates (empty when none)
    bool Exists() const { return main && IsWindow(main); }
    bool Capture(Screenshot* shot) const;
};

class ScriptedUser
{
public:
    struct Step
    {
        std::string what;                    // for error messages
        std::function<bool(UserView&)> act;  // false: the step failed
    };

    // Builders; each appends one step.
    ScriptedUser& Command(int id);                                 // WM_COMMAND as a button sends it
    ScriptedUser& Key(UINT vk, bool alt = false);                  // key down and up to the focus
    ScriptedUser& Chars(const std::wstring& text);                 // WM_CHAR to the focus
    ScriptedUser& Mouse(UINT msg, int x, int y, WPARAM keys = 0);  // at a client point
    ScriptedUser& Drag(int x0, int y0, int x1, int y1);            // left button down, moves, up
    ScriptedUser& Wheel(int x, int y, int delta);                  // over a client point
    ScriptedUser& WheelOverZoomBox(int delta);
    ScriptedUser& TypeZoom(const std::wstring& text);  // click the box, replace, Enter
    ScriptedUser& Resize(int width, int height);       // restored window of this outer size
    ScriptedUser& Shot(Screenshot* out, const std::string& pngPath = std::string());
    ScriptedUser& Read(std::function<void(UserView&)> read);
    ScriptedUser& Pause(DWORD ms);
    ScriptedUser& Close();  // the close box (SC_CLOSE)
    ScriptedUser& Add(const std::string& what, std::function<bool(UserView&)> act);

    // Run by TestHost around the start selector.
    void Start(HWND hostWindow);
    void Finish();  // the start selector has returned: ends the thread

    std::vector<Step> steps;
    std::vector<std::string> errors;
    bool sawWindow = false;
    bool closed = false;  // the window was gone when the script ended
    DWORD windowTimeoutMs = 60000;

    ScriptedUser() = default;
    ~ScriptedUser();
    ScriptedUser(const ScriptedUser&) = delete;
    ScriptedUser& operator=(const ScriptedUser&) = delete;

private:
    static DWORD WINAPI ThreadProc(void* self);
    void Run();
    bool Settle();  // waits until the host thread has handled what was posted

    HANDLE m_hThread = nullptr;
    HWND m_hHostWnd = nullptr;
    HANDLE m_hSettled = nullptr;
    std::atomic<bool> m_bStop{false};
    UserView m_view;
};

// Message the test host's window answers by setting the event in lParam (the scripted user's
// way to know that everything posted before it has been handled).
constexpr UINT kHostSettleMessage = WM_APP + 0x48;

// Sets "Crashed Last Time" to 0 in the plug-in's per-user settings, as after a normal run, so a
// killed earlier test does not open the crash notice.
void ClearPluginCrashFlag();

// What a person does while waiting for the window to get somewhere: looks again every 50 ms until
// `ready` holds (true) or the time is up (false).
template <typename Ready> bool WaitFor(DWORD timeoutMs, const Ready& ready)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50)
    {
        if (ready()) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace hpxhost
