// The parameter panel that the denoise commands open beside the docked one: a modeless child of
// the main window over the image, left of the docker. At most one such panel exists; the
// commands show it again (and start it over on the document) while it does.
#include <windows.h>

#include "app/panel/ParameterPanel.h"
#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"
#include "plugin/panel_ids.h"

namespace
{

HWND g_hOpenedPanel = nullptr;

// Places the panel left of the docker, below the toolbar, so that it does not cover the docked
// one; at the left edge when the window is narrower.
void PlaceBesideDocker(HWND panel)
{
    RECT p{}, d{}, t{};
    GetWindowRect(panel, &p);
    int right = 0;
    if (g_hDockerWnd && GetWindowRect(g_hDockerWnd, &d))
    {
        MapWindowPoints(nullptr, g_hMainWnd, reinterpret_cast<POINT*>(&d), 2);
        right = d.left;
    }
    else
    {
        RECT c{};
        GetClientRect(g_hMainWnd, &c);
        right = c.right;
    }
    if (g_hToolbar) GetWindowRect(g_hToolbar, &t);
    int x = right - (p.right - p.left);
    if (x < 0) x = 0;
    SetWindowPos(panel, HWND_TOP, x, t.bottom - t.top, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

}  // namespace

void OpenParameterPanel(CBackBuffer* document)
{
    if (!g_hMainWnd) return;
    HWND panel = g_hOpenedPanel && IsWindow(g_hOpenedPanel) ? g_hOpenedPanel : nullptr;
    if (!panel)
    {
        // The panel takes charge (g_hPanelDlg) in its creation.
        panel = CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(IDD_PARAMETER_PANEL), g_hMainWnd,
                                   ParameterPanelDlgProc, reinterpret_cast<LPARAM>(document));
        if (!panel) return;
        g_hOpenedPanel = panel;
        // The window paints the view itself: the panel's place is left out of that painting.
        SetWindowLongPtrW(g_hMainWnd, GWL_STYLE, GetWindowLongPtrW(g_hMainWnd, GWL_STYLE) | WS_CLIPCHILDREN);
        PlaceBesideDocker(panel);
    }
    ShowWindow(panel, SW_SHOW);
    BringWindowToTop(panel);
    // As at an image's arrival: noise estimate, profile, preview; the Denoise button comes alive.
    RECT d{};
    if (g_hDockerWnd) GetWindowRect(g_hDockerWnd, &d);
    SendMessageW(panel, WM_HPX_IMAGE_LOADED, static_cast<WPARAM>(d.left), 0);
    SetFocus(g_hMainWnd);
}

void CloseOpenedPanel()
{
    HWND panel = g_hOpenedPanel;
    g_hOpenedPanel = nullptr;
    if (!panel || !IsWindow(panel)) return;
    SendMessageW(panel, WM_COMMAND, IDOK, 0);  // it saves the table and hands the charge on
    DestroyWindow(panel);
}
