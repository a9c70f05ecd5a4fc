// Docker panel: the side panel of the main window that stacks the parameter panel.
#include "ui/DockerPanel.h"
#include "ui/ControlSkin.h"
#include "ui/SkinPaintInternal.h"

#include <iterator>
#include <new>

CDockerPanel g_Docker;

const wchar_t DOCKER_WINDOW_CLASS[] = L"DockerWindow1";

CDockerPanel::CDockerPanel() : m_hWnd(nullptr), m_bDockLeft(true) {}

CDockerPanel::~CDockerPanel() = default;

HWND CDockerPanel::Create(HWND hParent, bool bDockLeft)
{
    m_bDockLeft = bDockLeft;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = DockerWndProc;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSkinBrush(COLOR_BTNFACE);
    wc.lpszClassName = DOCKER_WINDOW_CLASS;
    // The class survives from one main window to the next while the host keeps the plug-in
    // loaded; a registration that fails because it exists is fine.
    // Registered under the plug-in's module, which the finish step names when it unregisters;
    // the window names the same module so the class is found wherever the host loaded us.
    wc.hInstance = SkinResourceModule();
    RegisterClassExW(&wc);
    m_hWnd = CreateWindowExW(0, DOCKER_WINDOW_CLASS, nullptr, WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 300,
                             1000, hParent, nullptr, wc.hInstance, nullptr);
    if (m_hWnd) SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return m_hWnd;
}

void CDockerPanel::Insert(size_t position, HWND hChild)
{
    auto it = m_Children.begin();
    if (position >= m_Children.size())
        it = m_Children.end();
    else
        std::advance(it, static_cast<std::ptrdiff_t>(position));
    try
    {
        m_Children.insert(it, hChild);
    }
    catch (const std::bad_alloc&)
    {
        // Out of memory: the child simply stays out of the stack; callers run in window procedures.
    }
}

void CDockerPanel::Remove(HWND hChild)
{
    for (auto it = m_Children.begin(); it != m_Children.end(); ++it)
    {
        if (*it == hChild)
        {
            m_Children.erase(it);
            return;
        }
    }
}

void CDockerPanel::Layout()
{
    int y = 0, widest = 0;
    for (HWND child : m_Children)
    {
        RECT r;
        if (!GetWindowRect(child, &r)) continue;
        const int w = r.right - r.left, h = r.bottom - r.top;
        MoveWindow(child, m_bDockLeft ? 0 : 1, y, w, h, FALSE);
        y += h;
        if (w > widest) widest = w;
    }
    if (!m_hWnd) return;
    HWND parent = GetParent(m_hWnd);
    RECT client = {};
    if (parent) GetClientRect(parent, &client);
    RECT me;
    GetWindowRect(m_hWnd, &me);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&me), 2);
    const int x = m_bDockLeft ? 0 : client.right - widest - 1;
    MoveWindow(m_hWnd, x, me.top, widest + 1, me.bottom - me.top, TRUE);
}

LRESULT CALLBACK DockerWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_PAINT:
    {
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
    {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const CDockerPanel* self = reinterpret_cast<const CDockerPanel*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        const bool left = self ? self->m_bDockLeft : true;
        for (HWND c = GetWindow(hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        {
            if (!IsWindowVisible(c)) continue;
            RECT r;
            GetWindowRect(c, &r);
            MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&r), 2);
            ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
        }
        RECT rw;
        GetWindowRect(hWnd, &rw);
        const int w = rw.right - rw.left, h = rw.bottom - rw.top;
        SkinFillSolid(dc, 0, 0, w, h, GetSkinColor(COLOR_BTNFACE));
        SkinFillSolid(dc, left ? w - 1 : 0, 0, 1, h, GetSkinColor(COLOR_BTNHIGHLIGHT));
        return 1;
    }
    default:
        return DefWindowProcW(hWnd, msg, wParam, lParam);
    }
}

void UnregisterDockerWindowClass() { UnregisterClassW(DOCKER_WINDOW_CLASS, SkinResourceModule()); }
