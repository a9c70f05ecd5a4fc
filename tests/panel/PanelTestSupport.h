// The parameter panel inside a stand-in for the main window: a top-level window that holds the
// panel (dialog 102) as a child, owns a document, maps window to image pixels one to one around
// a chosen anchor and records the messages the panel sends it.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "ProfTestSupport.h"
#include "app/view/BackBuffer.h"

namespace paneltest
{

// What the stand-in main window received from the panel.
struct MainWindowLog
{
    int refreshes = 0;  // WM_HPX_REFRESH_RESULT
    int shows = 0;      // WM_HPX_SHOW_RESULT
    int startJobs = 0;  // WM_HPX_START_JOB
    WPARAM jobWParam = 0;
    LPARAM jobLParam = 0;
};
extern MainWindowLog g_Log;

// From now on every allocation of at least this many bytes on the calling thread fails, as when
// a 32-bit process runs out of address space; 0 ends it. (The test program's malloc is wrapped.)
void FailAllocationsFrom(size_t bytes);

// Runs act() on this thread while a second thread answers every message box that act() shows
// (OK). Returns the boxes' caption and texts, one string per box.
std::vector<std::wstring> AnswerMessageBoxes(const std::function<void()>& act);

// The colour at a client point of a window as it is on the screen (BitBlt from its DC).
COLORREF ScreenPixel(HWND hWnd, int x, int y);

// A noisy 3-channel 8-bit (or 1-channel) picture: a ramp with uniform noise of the given spread.
void MakeNoisyImage(ImageBuffer* img, int w, int h, int channels, int spread, unsigned seed);

class PanelTest : public proftest::TempFolders
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the main window, a document of the given image and information strings, and the
    // panel, then announces the image as the main window does (wParam = the docker's left edge).
    void OpenPanel(int w = 320, int h = 240, int channels = 3, const wchar_t* make = L"", const wchar_t* model = L"",
                   const wchar_t* iso = L"");
    // Closes the panel as the main window does when it goes (IDOK) and destroys it.
    void ClosePanel();

    // A left-button drag in main-window client coordinates, forwarded as the main window does.
    void Drag(POINT from, POINT to);
    // Presses a button of the panel as a click would (BM_CLICK).
    void Click(int id);
    std::wstring Text(int id) const { return proftest::ItemText(m_panel, id); }
    // Image point (x, y) as a main-window client point.
    POINT WindowPoint(double x, double y) const;
    // Stores entries in the user's profile file (the default profile first): camera, ISO text,
    // luma strength and the stored luma noise estimate.
    struct Entry
    {
        const wchar_t* camera;
        const wchar_t* iso;
        double strength;
        double noise;
    };
    void StoreProfiles(std::initializer_list<Entry> entries);

    HWND m_main = nullptr;
    HWND m_panel = nullptr;
    CBackBuffer m_doc{};
};

}  // namespace paneltest
