// Stands in for HPXProcessGPU.exe where the real one cannot misbehave on demand. What it does is
// read from "standin-mode.txt" beside it: "silent" never announces itself, "short" announces,
// takes the job and replies with a result of 10 bytes, "die" announces and exits at the run,
// "rerun" reports a whole run's progress, then the start of a second run (as after a failed GPU
// pass) and 10 of its 40 steps, and replies the pixels it was sent.
#include <windows.h>

#include <cstring>
#include <vector>

#include "gpu/GpuProtocol.h"

namespace
{

char g_Mode[16] = {};
std::vector<char> g_Pixels;

// The progress of a run of 40 steps, as the program relays it: the range and the first step,
// then the rest.
void SendRun(HWND plugin, int steps)
{
    SendMessageW(plugin, WM_HPX_PROGRESS_RANGE, 40, 0);
    for (int i = 0; i < steps; ++i) SendMessageW(plugin, WM_HPX_PROGRESS_STEP, 0, 0);
}

LRESULT CALLBACK Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_COPYDATA:
    {
        const auto* c = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (c->dwData == HPX_DATA_PIXELS && c->lpData)
            g_Pixels.assign(static_cast<const char*>(c->lpData), static_cast<const char*>(c->lpData) + c->cbData);
        return TRUE;
    }
    case WM_HPX_RUN:
        if (std::strncmp(g_Mode, "die", 3) == 0) ExitProcess(3);
        if (HWND plugin = FindWindowW(HPX_PLUGIN_WINDOW_CLASS, HPX_PLUGIN_WINDOW_TITLE))
        {
            char bytes[10] = {};
            COPYDATASTRUCT c{HPX_DATA_RESULT, sizeof bytes, bytes};
            if (std::strncmp(g_Mode, "rerun", 5) == 0)
            {
                SendRun(plugin, 40);
                SendRun(plugin, 10);
                c.cbData = static_cast<DWORD>(g_Pixels.size());
                c.lpData = g_Pixels.data();
            }
            SendMessageW(plugin, WM_COPYDATA, reinterpret_cast<WPARAM>(hWnd), reinterpret_cast<LPARAM>(&c));
        }
        DestroyWindow(hWnd);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_EXIT) DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    *(wcsrchr(path, L'\\') + 1) = 0;
    wcscat(path, L"standin-mode.txt");
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    if (f != INVALID_HANDLE_VALUE)
    {
        ReadFile(f, g_Mode, sizeof g_Mode - 1, &got, nullptr);
        CloseHandle(f);
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.lpszClassName = HPX_GPU_WINDOW_CLASS;
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowW(HPX_GPU_WINDOW_CLASS, HPX_GPU_WINDOW_TITLE, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                              nullptr, instance, nullptr);
    if (!hWnd) return 1;
    if (std::strncmp(g_Mode, "silent", 6) != 0)
    {
        if (HWND plugin = FindWindowW(HPX_PLUGIN_WINDOW_CLASS, HPX_PLUGIN_WINDOW_TITLE))
        {
            COPYDATASTRUCT c{HPX_DATA_READY, sizeof hWnd, &hWnd};
            SendMessageW(plugin, WM_COPYDATA, reinterpret_cast<WPARAM>(hWnd), reinterpret_cast<LPARAM>(&c));
        }
    }
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    return 0;
}
