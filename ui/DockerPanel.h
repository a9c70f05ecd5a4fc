// Docker panel: a plain child window at the left or right edge of its parent's client area that
// stacks child windows (the parameter panel) from its top edge downwards.
#pragma once

#include <windows.h>
#include <list>

class CDockerPanel
{
public:
    CDockerPanel();
    ~CDockerPanel();
    CDockerPanel(const CDockerPanel&) = delete;
    CDockerPanel& operator=(const CDockerPanel&) = delete;

    // Registers "DockerWindow1" (an existing registration is fine) and creates the hidden docker
    // window (300 x 1000 at 0,0) as a child of the parent; the caller shows it. A second call
    // replaces m_hWnd and keeps the list.
    HWND Create(HWND hParent, bool bDockLeft);
    // Inserts the child before list index `position` (0 = on top); past the end appends.
    void Insert(size_t position, HWND hChild);
    // Removes the first entry equal to the child; nothing when absent.
    void Remove(HWND hChild);
    // Stacks the children from the top, then sets the docker's width (widest child + 1 pixel for
    // the edge line) and its horizontal place at its edge; top and height stay.
    void Layout();

    HWND GetHwnd() const { return m_hWnd; }
    bool IsDockedLeft() const { return m_bDockLeft; }
    const std::list<HWND>& Children() const { return m_Children; }

    HWND m_hWnd;
    bool m_bDockLeft;
    std::list<HWND> m_Children;
};

// Built at plug-in load, destroyed at unload; its window is created with every main window.
extern CDockerPanel g_Docker;

// Window class name of the docker window.
extern const wchar_t DOCKER_WINDOW_CLASS[];  // L"DockerWindow1"

LRESULT CALLBACK DockerWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Unregisters "DockerWindow1"; called by the filter's finish step.
void UnregisterDockerWindowClass();
