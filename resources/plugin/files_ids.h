// Resource ids of the save dialog's JPEG quality part (a child template inside the system's save
// dialog, so the ids only have to be unique within it).
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_SAVE_QUALITY 156
#define IDC_SAVE_QUALITY_LABEL 1075
#define IDC_SAVE_QUALITY 1082
#define IDC_SAVE_QUALITY_VALUE 1083
#define IDC_SAVE_QUALITY_PERCENT 1078

// The file-type combo box of the system's Explorer-style file dialogs (cmb1).
#define IDC_FILEDLG_TYPE_COMBO 1136
