#include "tests/host/DemoUser.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <vector>

namespace hpxhost {

namespace {

constexpr int kDenoise = 1021, kStrength = 1025, kChroma = 1039;

template <typename Ready>
bool WaitFor(unsigned timeoutMs, const Ready& ready)
{
    for (unsigned waited = 0; waited < timeoutMs; waited += 50) {
        if (ready()) return true;
        Sleep(50);
    }
    return false;
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) s += (c < 128) ? char(c) : '?';
    return s;
}

std::wstring Text(HWND hWnd)
{
    wchar_t buf[256] = {};
    SendMessageTimeoutW(hWnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 5000, nullptr);
    return buf;
}

BOOL CALLBACK FindDenoiseButton(HWND child, LPARAM lParam)
{
    if (GetDlgCtrlID(child) != kDenoise) return TRUE;
    *reinterpret_cast<HWND*>(lParam) = GetParent(child);
    return FALSE;
}

// The panel: the dialog among the main window's descendants that holds the Denoise button.
HWND FindPanel(HWND main)
{
    HWND found = nullptr;
    EnumChildWindows(main, FindDenoiseButton, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Drags the thumb with the mouse to the trackbar's position `target` (messages as the system
// delivers them to the control under the pointer).
int DragThumb(HWND bar, int target)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        RECT thumb{}, channel{};
        SendMessageW(bar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        SendMessageW(bar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
        const int lo = static_cast<int>(SendMessageW(bar, TBM_GETRANGEMIN, 0, 0));
        const int hi = static_cast<int>(SendMessageW(bar, TBM_GETRANGEMAX, 0, 0));
        const int pos = static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0));
        if (pos == target || hi <= lo) return pos;
        const int half = (thumb.right - thumb.left) / 2;
        const int x0 = (thumb.left + thumb.right) / 2, y = (thumb.top + thumb.bottom) / 2;
        const int span = (channel.right - channel.left) - 2 * half;
        const int x1 = x0 + (target - pos) * span / (hi - lo);
        PostMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y));
        for (int i = 1; i <= 8; ++i) {
            Sleep(20);
            PostMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x0 + (x1 - x0) * i / 8, y));
        }
        Sleep(20);
        PostMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(x1, y));
        // The release re-runs the preview on the host's thread; wait until it answers again.
        Sleep(200);
        SendMessageTimeoutW(bar, WM_NULL, 0, 0, SMTO_NORMAL, 60000, nullptr);
    }
    return static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0));
}

bool SaveScreenBmp(HWND hWnd, const std::wstring& path)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files hold it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bmp) {
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
        GdiFlush();
        SelectObject(mem, old);
        const DWORD stride = ((w * 3) + 3) & ~3u, size = stride * h;
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof(fh) + sizeof(BITMAPINFOHEADER);
        fh.bfSize = fh.bfOffBits + size;
        bi.bmiHeader.biSizeImage = size;
        if (FILE* f = _wfopen(path.c_str(), L"wb")) {
            ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 && std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
                 std::fwrite(bits, size, 1, f) == 1;
            std::fclose(f);
        }
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

void Act(DemoUserPlan plan, DemoUserResult* result)
{
    char line[256];
    auto note = [&](const char* text) { result->report += text; result->report += '\n'; };
    HWND main = nullptr, panel = nullptr;
    if (!WaitFor(120000, [&] {
            main = FindWindowW(L"Hushpix", nullptr);
            return (main && IsWindowVisible(main)) || (plan.filterReturned && *plan.filterReturned);
        }) || !main) {
        note("user: the plug-in opened no window");
        return;
    }
    result->windowSeen = true;
    // The first preview has run when the panel enables its Denoise button.
    if (!WaitFor(120000, [&] {
            panel = FindPanel(main);
            return panel && IsWindowEnabled(GetDlgItem(panel, kDenoise));
        })) {
        note("user: the panel did not become ready");
        PostMessageW(main, WM_CLOSE, 0, 0);
        return;
    }
    DragThumb(GetDlgItem(panel, kStrength), plan.strengthPos);
    DragThumb(GetDlgItem(panel, kChroma), plan.chromaPos);
    std::snprintf(line, sizeof line, "user: strength %s, chroma strength %s", Narrow(Text(GetDlgItem(panel, 1028))).c_str(),
                  Narrow(Text(GetDlgItem(panel, 1041))).c_str());
    note(line);
    PostMessageW(GetDlgItem(panel, kDenoise), BM_CLICK, 0, 0);
    const DWORD t0 = GetTickCount();
    const bool finished = WaitFor(plan.timeoutMs, [&] { return Text(GetDlgItem(panel, kDenoise)) == L"Redefine"; });
    std::snprintf(line, sizeof line, "user: Denoise pressed, %s after %.1f s", finished ? "\"Redefine\" shown" : "no end seen",
                  (GetTickCount() - t0) / 1000.0);
    note(line);
    Sleep(500);
    if (!plan.screenshot.empty()) note(SaveScreenBmp(main, plan.screenshot) ? "user: screenshot saved" : "user: no screenshot");
    PostMessageW(main, WM_CLOSE, 0, 0);
    result->done = finished;
}

}  // namespace

std::thread StartDemoUser(const DemoUserPlan& plan, DemoUserResult* result)
{
    *result = DemoUserResult{};
    return std::thread(Act, plan, result);
}

}  // namespace hpxhost
