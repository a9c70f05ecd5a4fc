// State and routines shared by the panel's parts: the dialog (ParameterPanel.cpp), the profile
// rows (ProfileEntries.cpp), the shared charge of the panels (PanelCharge.cpp) and the live
// preview with the job states (LivePreview.cpp).
#pragma once

#include <windows.h>

#include "app/panel/ParameterPanel.h"
#include "app/view/BackBuffer.h"
#include "engine/ImageBuffer.h"
#include "profiles/SliderValueMap.h"

extern CBackBuffer* g_pPanelDoc;  // the document given at creation
extern SliderValueMap g_PanelMaps[HPX_PANEL_SLIDER_COUNT];
extern unsigned g_uTableEdits;  // edits of the shared table (only the panel in charge edits)

inline HWND Item(HWND hDlg, int id) { return GetDlgItem(hDlg, id); }

// Sets the wait, arrow or size-all cursor as the panel's class cursor and the current one, and
// sends the matching message so that the main window shows the same.
void SetPanelCursor(HWND hDlg, LPCWSTR cursor, UINT mainWindowMessage);

// Enables or disables the input controls a run disables; enabling also restores the delete
// button by the selected rows and Set Default by the manual-tuning toggle.
void EnablePanelInputs(HWND hDlg, bool enable);
// Shared charge (PanelCharge.cpp). A new panel registers and takes charge (true when it is the
// first); the user turning to a registered panel makes it take charge; a panel that goes
// unregisters and, when it was in charge, hands the charge to the one that stays.
bool RegisterPanel(HWND hDlg);
void UnregisterPanel(HWND hDlg);
bool IsRegisteredPanel(HWND hDlg);
bool AnyPanelRegistered();
void TakeCharge(HWND hDlg);
void HandOverCharge();
// A panel that showed a finished run looks as in editing again (the run is dropped).
void ShowEditingLook(HWND hDlg);
// The panels other than this one wait (disabled) while this one's run goes or is shown.
void EnableOtherPanels(HWND hDlg, bool enable);

// Profile rows (ProfileEntries.cpp).
void LoadProfiles();
// Writes the table unless its file could not be read (then it is kept in memory only).
void SavePanelProfiles();
// The entry (row, index) of the table, or the default entry when the row has none.
IsoSettings EntryOrDefault(uint32_t row, uint32_t index);
void FillCameraList(HWND hDlg);
void FillIsoList(HWND hDlg);
void UpdateDeleteButton(HWND hDlg);
// Whether the selected entry may be deleted: not the first entry of the unknown camera.
bool PanelDeleteAllowed();
void OnCameraChoice(HWND hDlg);
void OnIsoChoice(HWND hDlg);
void OnSave(HWND hDlg);
void OnDelete(HWND hDlg);

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
