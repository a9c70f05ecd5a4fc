// Resource ids of the Options, batch-options and camera/ISO name dialogs.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Options: language, hardware acceleration and GPU mode.
#define IDD_OPTIONS 157
#define IDC_OPT_LANGUAGE_LABEL 1077
#define IDC_OPT_LANGUAGE 1074
#define IDC_OPT_HWACCEL 1076
#define IDC_OPT_FUSION 1098
#define IDC_OPT_PUREGPU 1099

// Batch denoising options: JPEG quality and how profiles are picked.
#define IDD_BATCH_OPTIONS 152
#define IDC_BATCHOPT_JPEG_LABEL 1075
#define IDC_BATCHOPT_JPEG 1082
#define IDC_BATCHOPT_JPEG_VALUE 1083
#define IDC_BATCHOPT_INFO 1111

// Adding Configuration: camera name and ISO of a new profile entry.
#define IDD_ADD_CONFIGURATION 179
#define IDC_ADDCFG_CAMERA_LABEL 1112
#define IDC_ADDCFG_CAMERA 1014
#define IDC_ADDCFG_ISO 1015
#define IDC_ADDCFG_EXIF 1111
