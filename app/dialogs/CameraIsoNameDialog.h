// The "Adding Configuration" dialog (resource 179): the camera name and ISO under which the
// parameter panel stores its current values as a profile entry.
#pragma once

#include <windows.h>

#include "imagefiles/ImageInfo.h"

// The dialog's parameter, owned by the caller; the texts are edited in place.
struct AddConfigurationData
{
    wchar_t m_wszCamera[128];         // camera name, in and out
    wchar_t m_wszIso[128];            // ISO text, in and out
    const ImageInfoStrings* m_pInfo;  // the open image's information strings, or null
};

// DialogBoxParam with template 179; the result is IDOK or IDCANCEL and on both the record holds
// the texts of the two edit fields.
INT_PTR CALLBACK AddConfigurationDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR ShowAddConfigurationDialog(HWND owner, AddConfigurationData* data);
