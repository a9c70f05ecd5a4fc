// Resource ids and command ids of the plug-in's main window: its icon, accelerator table and
// pop-up menu, and every command the toolbar, the keys, the menu and the other parts of the
// plug-in send to it (WM_COMMAND, LOWORD(wParam)). Read by the resource compiler and by C++.
//
// Owners: the window (app/window) handles the view and navigation commands; ID_FILE_OPEN,
// ID_FILE_SAVE, ID_FILE_CLOSE, ID_PREV_IMAGE, ID_NEXT_IMAGE belong to the open/save code
// (app/files), ID_BATCH_DENOISE to the batch code (app/batch), ID_DENOISE_IMAGE(_FAST) to the
// panel (app/panel). The handlers are called from MainWndProc.
#pragma once

#define IDI_HUSHPIX 164            // window class icon (large and small)
#define IDR_MAIN_ACCELERATORS 109  // accelerator table
#define IDR_MAIN_POPUP_MENU 110    // pop-up menu of the "Menu" button
#define IDC_MAIN_TOOLBAR 109       // toolbar control id
#define IDC_MAIN_STATUSBAR 0       // status bar control id

// Commands. IDM_ABOUT and IDM_EXIT have the same numbers as HPXProcessGPU's own commands.
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define ID_FILE_OPEN 32771
#define ID_FILE_SAVE 32773
#define ID_HELP_KEY 32788
#define ID_FILE_CLOSE 32790
#define ID_HELP_WEBSITE 32792
#define ID_ZOOM_IN 32793
#define ID_ZOOM_OUT 32794
#define ID_ZOOM_FIT 32795
#define ID_PAN_LEFT 32797
#define ID_PAN_RIGHT 32798
#define ID_DENOISE_IMAGE 32799
#define ID_BATCH_DENOISE 32800
#define ID_PAN_UP 32801
#define ID_PAN_DOWN 32802
#define ID_OPTIONS 32803
#define ID_PREV_IMAGE 32804
#define ID_NEXT_IMAGE 32805
#define ID_ZOOM_100 32806
#define ID_DENOISE_IMAGE_FAST 32807
#define ID_ZOOM_BOX 32809  // also the zoom box's control id
#define ID_MENU_BUTTON 32811
#define ID_TOOLBAR_SPACER 32812
