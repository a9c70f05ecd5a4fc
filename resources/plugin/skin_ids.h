// Names of the control skin's PNG resources (resource type "PNG", named resources).
// The resource script uses the same names as plain identifiers; C++ code uses these strings.
#pragma once

#ifndef RC_INVOKED
#define HPX_PNG_TYPE L"PNG"

// Check-box glyphs, 13 x 13: light ("CHECK_") and dark ("CHECKD_") look, checked ("SEL"),
// indeterminate ("SEMI") or unchecked ("DES"), enabled ("ON") or disabled ("OFF").
#define HPX_PNG_CHECKD_SELON L"CHECKD_SELON"
#define HPX_PNG_CHECKD_SELOFF L"CHECKD_SELOFF"
#define HPX_PNG_CHECKD_SEMION L"CHECKD_SEMION"
#define HPX_PNG_CHECKD_SEMIOFF L"CHECKD_SEMIOFF"
#define HPX_PNG_CHECKD_DESON L"CHECKD_DESON"
#define HPX_PNG_CHECKD_DESOFF L"CHECKD_DESOFF"
#define HPX_PNG_CHECK_SELON L"CHECK_SELON"
#define HPX_PNG_CHECK_SELOFF L"CHECK_SELOFF"
#define HPX_PNG_CHECK_SEMION L"CHECK_SEMION"
#define HPX_PNG_CHECK_SEMIOFF L"CHECK_SEMIOFF"
#define HPX_PNG_CHECK_DESON L"CHECK_DESON"
#define HPX_PNG_CHECK_DESOFF L"CHECK_DESOFF"

// Parameter panel, 32 x 32.
#define HPX_PNG_SETTINGS_SAVE L"SETTINGS_SAVE"
#define HPX_PNG_SETTINGS_DELETE L"SETTINGS_DELETE"
#define HPX_PNG_SETTINGS_SHOW L"SETTINGS_SHOW"
#define HPX_PNG_SETTINGS_HIDE L"SETTINGS_HIDE"

// Main window toolbar, 32 x 32.
#define HPX_PNG_IDP_FOLDER L"IDP_FOLDER"
#define HPX_PNG_IDP_DENOISEBATCH L"IDP_DENOISEBATCH"
#define HPX_PNG_IDP_ZOOMIN L"IDP_ZOOMIN"
#define HPX_PNG_IDP_ZOOMOUT L"IDP_ZOOMOUT"
#define HPX_PNG_IDP_ZOOM100 L"IDP_ZOOM100"
#define HPX_PNG_IDP_ZOOMFIT L"IDP_ZOOMFIT"
#define HPX_PNG_IDP_PICKER L"IDP_PICKER"
#endif
