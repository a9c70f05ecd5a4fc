// The parameter panel: the modeless child dialog 102 in the docker beside the image. It edits one
// camera/ISO profile entry on seven trackbars and three radio buttons, picks, saves and deletes
// entries of the profile table, runs the live preview of a 200 x 200 rectangle of the image and
// holds the Denoise / Abort / Redefine button with the progress bar of the whole-image run.
//
// Everything runs on the host's thread. The panel talks to the main window only through the
// private messages of app/window/WindowMessages.h; g_hPanelDlg, g_iPanelState and
// g_bOverPreviewRect are the window's globals that the panel writes.
#pragma once

#include <windows.h>
#include <cstdint>

#include "engine/NoiseEstimate.h"
#include "profiles/CameraIsoTable.h"

// Panel states (g_iPanelState).
enum : int
{
    kPanelEditing = 0,   // previews run
    kPanelRunning = 10,  // a whole-image run is in progress
    kPanelDone = 20      // the run has finished, the result is shown whole
};

// Dialog procedure of template 102; lParam of WM_INITDIALOG is the document (CBackBuffer*).
INT_PTR CALLBACK ParameterPanelDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

// Picks the camera row by the image's make and model, then the entry by its ISO (or the nearest
// stored noise estimate), fills the ISO list and puts the entry on the controls.
void SelectProfileForImage(HWND hDlg);
// The entry of the selected camera row for the image's ISO (nearest noise when there is none).
void SelectIsoForImage();

// The panel's state that the main window and the tests read.
extern CameraIsoTable g_PanelProfiles;
extern uint32_t g_iCameraRow;
extern uint32_t g_iIsoRow;
extern IsoSettings g_CurrentIsoSettings;
extern NoiseSigma g_NoiseSigma;
extern double g_dGreyNoiseSigma;
extern double g_PreviewRect[4];       // left, top, right, bottom in image pixels
extern int32_t g_rcPreviewPixels[4];  // the same rounded and clamped to the image
extern int32_t g_rcLastPadded[4];     // padded rectangle of the last preview run
extern int g_iPreviewRuns;            // preview denoise calls since the panel was made
