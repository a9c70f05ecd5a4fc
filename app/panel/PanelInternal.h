// State and routines shared by the panel's two halves: the dialog and profile editing
// (ParameterPanel.cpp) and the live preview with the job states (LivePreview.cpp).
#pragma once

#include <windows.h>

#include "app/panel/ParameterPanel.h"
#include "app/view/BackBuffer.h"
#include "engine/ImageBuffer.h"
#include "profiles/SliderValueMap.h"

extern CBackBuffer* g_pPanelDoc;  // the document given at creation
extern SliderValueMap g_PanelMaps[HPX_PANEL_SLIDER_COUNT];

// Sets the wait, arrow or size-all cursor as the panel's class cursor and the current one, and
// sends the matching message so that the main window shows the same.
void SetPanelCursor(HWND hDlg, LPCWSTR cursor, UINT mainWindowMessage);

// Enables or disables the input controls a run disables; enabling also restores the delete
// button by the selected rows and Set Default by the manual-tuning toggle.
void EnablePanelInputs(HWND hDlg, bool enable);
// The panels other than this one wait (disabled) while this one's run goes or is shown.
void EnableOtherPanels(HWND hDlg, bool enable);
// Whether the selected entry may be deleted: not the first entry of the unknown camera.
bool PanelDeleteAllowed();

// Live preview (LivePreview.cpp).
bool EstimatePanelNoise(HWND hDlg, bool atImageLoad);
void RunPreview(HWND hDlg, WPARAM wParam);
void OnPanelImageLoaded(HWND hDlg, WPARAM wParam, LPARAM lParam);
void OnPanelMouseMove(HWND hDlg, WPARAM wParam, LPARAM lParam);
void OnPanelLButtonDown(HWND hDlg, WPARAM wParam, LPARAM lParam);
void OnPreviewRectMoved(HWND hDlg);
void OnDenoiseButton(HWND hDlg);
void OnJobDone(HWND hDlg);
void OnJobFailed(HWND hDlg);
// Clears the preview state (rectangles, drag and hover) and releases the working images.
void ResetPreviewState();
void ReleasePanelImages();
// Shows a message box owned by the panel; text and caption are localised text ids (kLoc...).
void PanelMessage(HWND hDlg, int textId, int captionId, UINT type);
