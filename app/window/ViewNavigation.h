// How the main window places the document in its view area: fit rules, 100 %, zoom in/out,
// presets, typed zoom, the wheel about the cursor, drag and key panning, and the right button
// that shows the source while it is held. The panel reads the view state to place its preview
// rectangle; open/save calls FitView after opening a file.
//
// The window point of image point (x, y) is
//   (g_dViewX + (x - g_dImageX) * g_dZoom, g_dViewY + (y - g_dImageY) * g_dZoom).
// Host thread only.
#pragma once

#include <windows.h>
#include <cstdint>

#include "engine/SimilarityTransform.h"

extern double g_dViewX, g_dViewY;    // window point of the anchor
extern double g_dImageX, g_dImageY;  // image point drawn at the anchor
extern double g_dZoom;               // window pixels per image pixel
extern int g_iMouseX, g_iMouseY;     // last mouse position seen (client coordinates)
extern int g_iDragX, g_iDragY;       // position at the last pan step
extern uint8_t g_bPanning;

// Limits of the typed zoom (percent) and of the wheel.
constexpr double kZoomTypedMinPercent = 10.0;
constexpr double kZoomTypedMaxPercent = 800.0;
constexpr double kZoomMax = 8.0;
// Step of the zoom buttons, keys and wheel.
constexpr double kZoomStep = 1.2;

// The current view as a transform (window to image).
SimilarityTransform ViewTransform();
// Shows g_dZoom in the zoom box ("%.1f %%") and gives the focus back to the main window.
void SetZoomBoxText();
// Clears the mouse state and panning.
void ClearMouseState();

// Fit the source into the free area left of the docker (capped at 800 % unless uncapped, as
// the double-click does), then text and redraw. Nothing without a document.
void FitView(bool capAt800);
// The arrival variant (slightly different free area); no redraw.
void FitViewOnArrival();
void ZoomTo100();
void ZoomBy(double factor);        // buttons and keys
void ZoomPreset(int selection);    // zoom box selection 0..7, -1 none
void ZoomTyped();                  // Enter in the zoom box
void PanBy(double dx, double dy);  // arrow keys

// Mouse handlers; each returns the window procedure's result.
LRESULT OnMouseWheel(HWND hWnd, WPARAM wParam, LPARAM lParam);
LRESULT OnLButtonDown(HWND hWnd, WPARAM wParam, LPARAM lParam);
LRESULT OnMouseMove(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT OnLButtonUp(HWND hWnd, WPARAM wParam, LPARAM lParam);
LRESULT OnLButtonDblClk(HWND hWnd);
LRESULT OnRButton(HWND hWnd, bool down);

// The typed zoom's reading of a text (at most 9 characters): false for an invalid text, else
// the percentage limited to 10 .. 800.
bool ParseZoomText(const wchar_t* text, double* percent);
