#include "tests/host/DemoScript.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "plugin/panel_ids.h"

namespace hpxhost
{
namespace
{

std::wstring Text(HWND hWnd)
{
    wchar_t buf[256] = {};
    SendMessageTimeoutW(hWnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 5000, nullptr);
    return buf;
}

BOOL CALLBACK FindDenoiseButton(HWND child, LPARAM lParam)
{
    if (GetDlgCtrlID(child) != IDC_PANEL_DENOISE) return TRUE;
    *reinterpret_cast<HWND*>(lParam) = GetParent(child);
    return FALSE;
}

HWND FindPanel(HWND main)
{
    HWND found = nullptr;
    EnumChildWindows(main, FindDenoiseButton, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Drags the thumb with the mouse towards position `target`, as the system delivers the messages
// to the control under the pointer; the release re-runs the preview on the host's thread. Only
// posts: the user's settle after the step waits until the host's thread has handled them all.
void PostThumbDrag(HWND bar, int target)
{
    RECT thumb{}, channel{};
    SendMessageW(bar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageW(bar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    const int lo = int(SendMessageW(bar, TBM_GETRANGEMIN, 0, 0));
    const int hi = int(SendMessageW(bar, TBM_GETRANGEMAX, 0, 0));
    const int pos = int(SendMessageW(bar, TBM_GETPOS, 0, 0));
    if (pos == target || hi <= lo) return;
    const int half = (thumb.right - thumb.left) / 2;
    const int x0 = (thumb.left + thumb.right) / 2, y = (thumb.top + thumb.bottom) / 2;
    const int span = (channel.right - channel.left) - 2 * half;
    const int x1 = x0 + (target - pos) * span / (hi - lo);
    PostMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y));
    for (int i = 1; i <= 8; ++i)
    {
        Sleep(20);  // a hand's pace between the moves
        PostMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x0 + (x1 - x0) * i / 8, y));
    }
    Sleep(20);
    PostMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(x1, y));
}

}  // namespace

void AddDemoSteps(ScriptedUser& user, int strengthPos, int chromaPos)
{
    user.Add("the panel's first preview",
             [](UserView& v)
             {
                 // The first preview has run when the panel enables its Denoise button.
                 return WaitFor(120000,
                                [&]
                                {
                                    HWND panel = FindPanel(v.main);
                                    return panel && IsWindowEnabled(GetDlgItem(panel, IDC_PANEL_DENOISE));
                                });
             });
    // A drag lands where the pixel grid lets it; up to three drags bring each thumb closer.
    for (int attempt = 0; attempt < 3; ++attempt)
        user.Add("drag the strength thumbs",
                 [strengthPos, chromaPos](UserView& v)
                 {
                     HWND panel = FindPanel(v.main);
                     PostThumbDrag(GetDlgItem(panel, IDC_PANEL_STRENGTH), strengthPos);
                     PostThumbDrag(GetDlgItem(panel, IDC_PANEL_CHROMA), chromaPos);
                     return true;
                 });
    user.Add("the strengths",
             [strengthPos, chromaPos](UserView& v)
             {
                 HWND panel = FindPanel(v.main);
                 const int luma = int(SendMessageW(GetDlgItem(panel, IDC_PANEL_STRENGTH), TBM_GETPOS, 0, 0));
                 const int chroma = int(SendMessageW(GetDlgItem(panel, IDC_PANEL_CHROMA), TBM_GETPOS, 0, 0));
                 std::printf("user: strength trackbars at %d and %d (asked %d and %d)\n", luma, chroma, strengthPos,
                             chromaPos);
                 // A drag lands within a pixel's worth of positions of where it was aimed.
                 return std::abs(luma - strengthPos) <= 10 && std::abs(chroma - chromaPos) <= 10;
             });
    user.Add("Denoise until \"Redefine\"",
             [](UserView& v)
             {
                 HWND panel = FindPanel(v.main);
                 PostMessageW(GetDlgItem(panel, IDC_PANEL_DENOISE), BM_CLICK, 0, 0);
                 const DWORD t0 = GetTickCount();
                 const bool done =
                     WaitFor(600000, [&] { return Text(GetDlgItem(panel, IDC_PANEL_DENOISE)) == L"Redefine"; });
                 std::printf("user: Denoise pressed, %s after %.1f s\n", done ? "\"Redefine\" shown" : "no end seen",
                             (GetTickCount() - t0) / 1000.0);
                 return done;
             });
    user.Pause(500);
}

}  // namespace hpxhost
