// The window's run on the host's thread: its class, its creation over the disabled host window,
// the modal message loop with the keyboard accelerators, and the host window given back.
#include <windows.h>

#include <commctrl.h>

#include <cwchar>

#include "app/window/MainToolbar.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"

void RegisterMainWindowClass(HINSTANCE hModule, const wchar_t* className)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = hModule;
    wc.hIcon = LoadIconW(hModule, MAKEINTRESOURCEW(IDI_HUSHPIX));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = HBRUSH(COLOR_WINDOW + 1);
    wc.lpszClassName = className;
    RegisterClassExW(&wc);  // an earlier run's registration stays valid
}

bool RunMainWindow(const MainWindowHost& host)
{
    g_WindowHost = host;
    g_hInstance = host.hModule;
    HWND hostWnd = host.hHostWindow;

    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);

    wchar_t windowName[100], className[100];
    std::swprintf(windowName, 100, L"%ls", HPX_MAIN_WINDOW_NAME);
    std::swprintf(className, 100, L"%ls", HPX_MAIN_WINDOW_CLASS);
    RegisterMainWindowClass(g_hInstance, className);

    if (hostWnd) EnableWindow(hostWnd, FALSE);
    HWND hWnd = CreateWindowExW(WS_EX_OVERLAPPEDWINDOW, className, windowName, WS_OVERLAPPEDWINDOW | WS_MAXIMIZE,
                                CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, hostWnd, nullptr, g_hInstance, nullptr);
    if (!hWnd)
    {
        FreeToolbarResources();
        if (hostWnd) EnableWindow(hostWnd, TRUE);
        g_WindowHost = MainWindowHost{};
        return false;
    }
    SetWindowTextW(hWnd, HPX_MAIN_WINDOW_TITLE);
    ShowWindow(hWnd, SW_SHOW);
    UpdateWindow(hWnd);
    SendMessageW(hWnd, WM_HPX_IMAGE_ARRIVED, 0, 0);

    HACCEL accel = LoadAcceleratorsW(g_hInstance, MAKEINTRESOURCEW(IDR_MAIN_ACCELERATORS));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        if (accel && TranslateAcceleratorW(msg.hwnd, accel, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The table came from the module's resources: nothing to destroy.
    FreeToolbarResources();
    g_WindowHost = MainWindowHost{};
    if (hostWnd)
    {
        EnableWindow(hostWnd, TRUE);
        SetForegroundWindow(hostWnd);
        SetFocus(hostWnd);
    }
    return true;
}
