// Placing the document in the main window's view area: fit, 100 %, zoom steps, presets, the
// typed zoom, the wheel about the cursor, panning by drag and keys, and the comparison with the
// source while the right button is held.
#include "app/window/ViewNavigation.h"

#include <cstdio>
#include <cwchar>

#include "app/view/BackBuffer.h"
#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowMessages.h"

double g_dViewX = 0.0, g_dViewY = 0.0;
double g_dImageX = 0.0, g_dImageY = 0.0;
double g_dZoom = 1.0;
int g_iMouseX = 0, g_iMouseY = 0;
int g_iDragX = 0, g_iDragY = 0;
uint8_t g_bPanning = 0;

namespace
{

const ImageBuffer& Source() { return g_BackBuffer.m_Source; }

bool HaveSource()
{
    const ImageBuffer& s = Source();
    return s.m_iWidth > 0 && s.m_iHeight > 0 && s.m_pData != nullptr;
}

int ToolbarClientHeight()
{
    RECT r = {0, 0, 0, 0};
    if (g_hToolbar) GetClientRect(g_hToolbar, &r);
    return r.bottom - r.top;
}

int StatusClientHeight()
{
    RECT r = {0, 0, 0, 0};
    if (g_hStatusBar) GetClientRect(g_hStatusBar, &r);
    return r.bottom - r.top;
}

int DockerWidth()
{
    RECT r = {0, 0, 0, 0};
    if (g_hDockerWnd) GetWindowRect(g_hDockerWnd, &r);
    return r.right - r.left;
}

// The docker's rectangle in client coordinates (without a docker: a zero-width strip at the
// client's right edge).
RECT DockerClientRect(const RECT& client)
{
    RECT r = {client.right, client.top, client.right, client.bottom};
    if (!g_hDockerWnd) return r;
    GetWindowRect(g_hDockerWnd, &r);
    MapWindowPoints(nullptr, g_hMainWnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int DockerLeft(const RECT& client) { return DockerClientRect(client).left; }

// Free area of the commands, keys and double-click: left of the docker, under the toolbar, a
// fixed allowance above the bottom.
struct FreeArea
{
    double width, height, top;
};

FreeArea AreaA()
{
    RECT c = {0, 0, 0, 0};
    GetClientRect(g_hMainWnd, &c);
    const int t = ToolbarClientHeight();
    FreeArea a;
    a.width = DockerLeft(c) - c.left;
    a.height = c.bottom - 20 - (t + 2);
    a.top = t + 2;
    return a;
}

void Redraw() { RedrawView(kViewDenoised, true); }

// The mouse position of a message (signed client coordinates), kept as the last one seen.
POINT TakeMousePoint(LPARAM lParam)
{
    POINT p = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    g_iMouseX = p.x;
    g_iMouseY = p.y;
    return p;
}

}  // namespace

SimilarityTransform ViewTransform()
{
    SimilarityTransform xf;
    return xf.Assign(g_dViewX, g_dViewY, g_dImageX, g_dImageY, 0.0, g_dZoom);
}

void SetZoomBoxText()
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%.1f %ls", g_dZoom * 100.0, L"%");
    if (g_hZoomBox) SetWindowTextW(g_hZoomBox, text);
    if (g_hMainWnd) SetFocus(g_hMainWnd);
}

void ClearMouseState()
{
    g_iMouseX = g_iMouseY = 0;
    g_iDragX = g_iDragY = 0;
    g_bPanning = 0;
}

void FitView(bool capAt800)
{
    if (!HaveSource()) return;
    const FreeArea a = AreaA();
    // A window no wider than the docker, or minimised, has no free area: keep the view.
    if (a.width <= 0.0 || a.height <= 0.0) return;
    g_dImageX = Source().m_iWidth / 2.0;
    g_dImageY = Source().m_iHeight / 2.0;
    ClearMouseState();
    g_dViewX = a.width / 2.0;
    double z = a.width / 2.0 / g_dImageX;
    const double zy = a.height / 2.0 / g_dImageY;
    if (zy < z) z = zy;
    if (capAt800 && z >= kZoomMax) z = kZoomMax;
    if (z > 0.0) g_dZoom = z;
    g_dViewY = a.height / 2.0 + a.top;
    SetZoomBoxText();
    Redraw();
}

void FitViewOnArrival()
{
    if (Source().m_iWidth <= 0 || Source().m_iHeight <= 0) return;
    RECT c = {0, 0, 0, 0};
    GetClientRect(g_hMainWnd, &c);
    const int t = ToolbarClientHeight();
    const int s = StatusClientHeight();
    const double bw = double(c.right) - DockerWidth() - c.left;
    const double bh = double(c.bottom) + 2 - s - t;
    g_dImageX = Source().m_iWidth / 2.0;
    g_dImageY = Source().m_iHeight / 2.0;
    g_dViewX = bw / 2.0;
    double z = (bw / 2.0 - 2.0) / g_dImageX;
    const double zy = (bh / 2.0 - 2.0) / g_dImageY;
    if (zy < z) z = zy;
    if (z >= kZoomMax) z = kZoomMax;
    // No free area (a minimised window, or no wider than the docker): the previous zoom stays.
    if (z > 0.0) g_dZoom = z;
    SetZoomBoxText();
    g_dViewY = bh / 2.0 + t;
}

void ZoomTo100()
{
    if (!HaveSource()) return;
    const FreeArea a = AreaA();
    ClearMouseState();
    g_dViewX = a.width / 2.0;
    g_dViewY = a.height / 2.0 + a.top;
    g_dZoom = 1.0;
    SetZoomBoxText();
    Redraw();
}

void ZoomBy(double factor)
{
    if (!HaveSource()) return;
    // Steps stay within the typed zoom's range, so view coordinates never overflow; a zoom
    // already outside it (a double-click fit of a tiny image) is kept, never stepped further.
    double z = g_dZoom * factor;
    const double cap = g_dZoom > kZoomMax ? g_dZoom : kZoomMax;
    const double floor = g_dZoom < kZoomTypedMinPercent / 100.0 ? g_dZoom : kZoomTypedMinPercent / 100.0;
    if (z > cap) z = cap;
    if (z < floor) z = floor;
    g_dZoom = z;
    SetZoomBoxText();
    Redraw();
}

void ZoomPreset(int selection)
{
    static const double kPresets[8] = {0.1, 0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 8.0};
    g_dZoom = (selection >= 0 && selection < 8) ? kPresets[selection] : 1.0;
    SetZoomBoxText();
    g_iDragX = g_iDragY = 0;
    Redraw();
}

bool ParseZoomText(const wchar_t* text, double* percent)
{
    double v = 0.0;
    int decimals = 0;
    bool separator = false, valid = true;
    for (int i = 0; i < 9; ++i)
    {
        const wchar_t c = text[i];
        if (c == 0 || c == L' ' || c == L'%') break;
        if (c == L',' || c == L'.')
        {
            separator = true;
        }
        else if (c >= L'0' && c <= L'9')
        {
            v = v * 10.0 + (c - L'0');
            if (separator) ++decimals;
        }
        else
        {
            valid = false;
        }
    }
    if (!valid) return false;
    double p = v;
    for (int k = 0; k < decimals; ++k) p /= 10.0;
    if (p <= kZoomTypedMinPercent) p = kZoomTypedMinPercent;
    if (p >= kZoomTypedMaxPercent) p = kZoomTypedMaxPercent;
    *percent = p;
    return true;
}

void ZoomTyped()
{
    wchar_t text[10] = {};
    if (g_hZoomBox) GetWindowTextW(g_hZoomBox, text, 10);
    double p = 0.0;
    if (!ParseZoomText(text, &p))
    {
        SetZoomBoxText();  // the previous zoom shown again, the view unchanged
        return;
    }
    g_dZoom = p / 100.0;
    SetZoomBoxText();
    g_iDragX = g_iDragY = 0;
    Redraw();
}

void PanBy(double dx, double dy)
{
    g_dViewX += dx;
    g_dViewY += dy;
    Redraw();
}

LRESULT OnMouseWheel(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    if (g_bBatchRunning || !HaveSource() || g_bPanning || g_hJobThread) return 0;
    POINT p = {short(LOWORD(lParam)), short(HIWORD(lParam))};  // screen coordinates
    ScreenToClient(hWnd, &p);
    const SimilarityTransform xf = ViewTransform();
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    xf.MapInverse(&x0, &y0, 0.0, 0.0);
    xf.MapInverse(&x1, &y1, g_BackBuffer.m_Result.m_iWidth, g_BackBuffer.m_Result.m_iHeight);
    // The cursor outside the image zooms about the nearest point of its edge.
    int32_t x = p.x, y = p.y;
    if (x < x0) x = x0;
    if (x > x1) x = x1;
    if (y < y0) y = y0;
    if (y > y1) y = y1;
    g_iMouseX = x;
    g_iMouseY = y;
    const double factor = short(HIWORD(wParam)) > 0 ? kZoomStep : 1.0 / kZoomStep;
    xf.MapForward(&g_dImageX, &g_dImageY, x, y);
    g_dViewX = x;
    g_dViewY = y;
    double z = g_dZoom * factor;
    if (z >= kZoomMax) z = kZoomMax;
    const int32_t big = Source().m_iWidth > Source().m_iHeight ? Source().m_iWidth : Source().m_iHeight;
    const double floor = 100.0 / big;
    if (z <= floor) z = floor;
    g_dZoom = z;
    SetZoomBoxText();
    Redraw();
    return 0;
}

LRESULT OnLButtonDown(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    if (g_bBatchRunning) return 0;
    const POINT p = TakeMousePoint(lParam);
    RECT c;
    GetClientRect(hWnd, &c);
    const int t = ToolbarClientHeight();
    if (p.y >= t + 2 && p.y <= c.bottom - StatusClientHeight() && p.x >= c.left && p.x <= DockerLeft(c))
    {
        if (g_hPanelDlg && g_bOverPreviewRect)
        {
            SendMessageW(g_hPanelDlg, WM_LBUTTONDOWN, wParam, lParam);
        }
        else
        {
            SetCapture(hWnd);
            g_iDragX = p.x;
            g_iDragY = p.y;
            g_bPanning = 1;
        }
    }
    return 0;
}

LRESULT OnMouseMove(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (g_bBatchRunning) return 0;
    if (g_hPanelDlg)
    {
        SendMessageW(g_hPanelDlg, msg, wParam, lParam);
        if (g_bOverPreviewRect) return 0;
    }
    const POINT p = TakeMousePoint(lParam);
    RECT c;
    GetClientRect(hWnd, &c);
    const RECT dock = DockerClientRect(c);
    const int dockTop = g_hDockerWnd ? dock.top : c.top, dockBottom = dock.bottom;
    if (p.x >= 0 && p.y >= dockTop && p.y <= dockBottom && p.x <= dock.left && (wParam & MK_LBUTTON) && g_bPanning &&
        g_dZoom > 0.0)
    {
        g_dImageX += (g_iDragX - p.x) / g_dZoom;
        g_dImageY += (g_iDragY - p.y) / g_dZoom;
        Redraw();
        g_iDragX = p.x;
        g_iDragY = p.y;
    }
    return 0;
}

LRESULT OnLButtonUp(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    (void)hWnd;
    if (GetCapture()) ReleaseCapture();
    // The release runs the panel's preview, which never runs on the images a batch is using.
    if (g_hPanelDlg && !g_bBatchRunning) SendMessageW(g_hPanelDlg, WM_LBUTTONUP, wParam, lParam);
    g_bPanning = 0;
    return 0;
}

LRESULT OnLButtonDblClk(HWND hWnd)
{
    (void)hWnd;
    FitView(false);
    return 0;
}

LRESULT OnRButton(HWND hWnd, bool down)
{
    (void)hWnd;
    if (down)
    {
        if (g_BackBuffer.m_Source.m_pData) RedrawView(kViewOriginal, true);
    }
    else
    {
        if (g_BackBuffer.m_Result.m_pData) RedrawView(kViewDenoised, true);
    }
    return 0;
}
