// The plug-in's own top-level window: toolbar, zoom box, status bar, the docker with the
// parameter panel, and the image view. It owns the document (g_BackBuffer), runs a modal
// message loop on the host's thread until it is destroyed, dispatches every command and hands
// a finished result back to the host image when it goes.
//
// The host adapter (host/) calls RunMainWindow with what it fetched; nothing here includes
// host/. Everything runs on the host's thread; worker threads reach the window only through
// SendMessageW.
//
// Who owns what (the other parts read and write these globals, all defined in MainWindow.cpp):
//   window (app/window):  g_hMainWnd, g_hToolbar, g_hStatusBar, g_hZoomBox, g_pfnZoomBoxProc,
//                         g_hDockerWnd, g_bUiNotReady, g_WindowHost, g_bDocumentIsHostImage
//   panel (app/panel):    g_hPanelDlg (null while there is none; every handler here works
//                         without it), g_iPanelState, g_bOverPreviewRect
//   job (app/job):        g_hJobThread, g_iQualityMode (set here by the denoise commands)
//   open/save (app/files):g_wszImagePath (cleared here at creation)
//   batch (app/batch):    g_hBatchThread, g_hBatchProgressDlg, g_bBatchRunning
#pragma once

#include <windows.h>
#include <cstdint>

#include "engine/ImageBuffer.h"

class CBackBuffer;

// What the host adapter hands the window.
struct MainWindowHost
{
    HINSTANCE hModule;     // the plug-in's module: resources, window class, its folder
    HWND hHostWindow;      // the host's window from the filter record; may be null
    ImageBuffer* pImage;   // the host image buffer: enters the document; a finished result
                           // goes back into it
    ImageBuffer* pAlpha;   // the host's transparency (may hold no pixels)
    const uint8_t* pExif;  // the document's EXIF property as the host gave it (null when none)
    uint32_t cbExif;
};

// Creates the window, runs its message loop and returns true when the loop has ended; false
// only when the window could not be created (the run then counts as cancelled). The host
// window is enabled again on both paths.
bool RunMainWindow(const MainWindowHost& host);
// Registers the window class "Hushpix" (an existing registration is fine).
void RegisterMainWindowClass(HINSTANCE hModule, const wchar_t* className);
LRESULT CALLBACK MainWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ZoomBoxSubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Counts the files of a folder tree that the batch takes (IsBatchPhotoName), walking plain
// sub-folders except those named "denoised", as the walker does.
int CountImageFiles(const wchar_t* folder);

// Window class and the title by which HPXProcessGPU finds the window.
#define HPX_MAIN_WINDOW_CLASS L"Hushpix"
#define HPX_MAIN_WINDOW_NAME L"HushpixPSPlugIn"
#define HPX_MAIN_WINDOW_TITLE L"ORV Tools - Hushpix plug-in"

// ---- window-wide state (re-initialised by WM_CREATE) -------------------------------------------
extern MainWindowHost g_WindowHost;  // copy of what the host handed in (valid during the run)
extern HINSTANCE g_hInstance;        // the plug-in's module
extern HWND g_hMainWnd;
extern HWND g_hToolbar;
extern HWND g_hStatusBar;
extern HWND g_hZoomBox;
extern WNDPROC g_pfnZoomBoxProc;
extern HWND g_hDockerWnd;
extern HWND g_hPanelDlg;       // parameter panel; null when none
extern HANDLE g_hBatchThread;  // null when none
extern HWND g_hBatchProgressDlg;
extern HANDLE g_hJobThread;               // in-process job thread; null when none
extern uint8_t g_bUiNotReady;             // set until the first image has arrived
extern volatile uint8_t g_bBatchRunning;  // set by the batch thread while it runs
extern int g_iQualityMode;                // 3 full quality, 2 fast
extern wchar_t g_wszImagePath[1024];
extern int g_iPanelState;           // panel's state; 20 = a whole-image run has finished
extern uint8_t g_bOverPreviewRect;  // the mouse is over the panel's preview rectangle
// True while the document holds the host's own image (set at image arrival; open, stepping and
// batch runs clear it). Only then does a finished result go back to the host.
extern bool g_bDocumentIsHostImage;

// ---- helpers shared with the panel, job, open/save and batch code ------------------------------

// Redraws the view (which: 1 source, 2 denoised) through the current view state; with
// useCachedCopy the display copy is resampled as it is, else it is rebuilt from the document
// first. Then sends WM_PAINT to the window.
void RedrawView(int which, bool useCachedCopy);
// Sets the status bar's text.
void SetStatusText(const wchar_t* text);
// Shows a message box owned by the main window; text and caption are localised text ids
// (kLoc..., caption 0: none).
int ShowLocalizedMessage(int textId, int captionId, UINT type);
// Opens the parameter panel of the denoise commands as a child of the window, working on the
// document (shown and started over when it exists already); it takes charge from the docked one.
void OpenParameterPanel(CBackBuffer* document);
// Closes that panel (it saves the profile table); nothing when there is none.
void CloseOpenedPanel();
// Blocks until the window's worker threads (job, batch) have ended and closes their handles.
// Called when the window goes; the threads' owners make them end (abort flags) first.
void WaitForWorkerThreads();
