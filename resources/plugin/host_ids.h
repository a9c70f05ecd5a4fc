// Resource ids of the filter's host-facing resources: the property list and the About box.
#pragma once

#define IDR_HUSHPIX_PIPL 16000   // "PIPL" resource: how the host finds the filter
#define IDD_HUSHPIX_ABOUT 16000  // About dialog template
#define IDS_HUSHPIX_ABOUT 16000  // About text (product, version, notice)

// Controls of the About dialog.
#define IDC_ABOUT_TEXT 3  // the About text
#define IDC_ABOUT_WEB1 4  // buttons whose captions are web addresses without the scheme
#define IDC_ABOUT_WEB2 5
