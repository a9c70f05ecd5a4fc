// Resource ids of the parameter panel (dialog 102).
#pragma once

#define IDD_PARAMETER_PANEL         102

#define IDC_PANEL_DENOISE           1021   // Denoise / Abort / Redefine
#define IDC_PROGRESS                1037   // progress of the whole-image run (the engine drives it)
#define IDC_PANEL_CAMERA_LABEL      1101
#define IDC_PANEL_CAMERA            1074
#define IDC_PANEL_ISO_LABEL         1102
#define IDC_PANEL_ISO               1075
#define IDC_PANEL_SAVE              1086
#define IDC_PANEL_DELETE            1081
#define IDC_PANEL_TUNING            1087   // manual-tuning toggle
#define IDC_PANEL_TUNING_LABEL      1107
#define IDC_PANEL_BASIC_GROUP       1104
#define IDC_PANEL_STRENGTH          1025
#define IDC_PANEL_STRENGTH_LABEL    1026
#define IDC_PANEL_STRENGTH_VALUE    1028
#define IDC_PANEL_CHROMA            1039
#define IDC_PANEL_CHROMA_LABEL      1040
#define IDC_PANEL_CHROMA_VALUE      1041
#define IDC_PANEL_ADVANCED_GROUP    1105
#define IDC_PANEL_LARGE             1043
#define IDC_PANEL_LARGE_LABEL       1046
#define IDC_PANEL_LARGE_VALUE       1045
#define IDC_PANEL_DYNAMICS          1042
#define IDC_PANEL_DYNAMICS_LABEL    1088
#define IDC_PANEL_DYNAMICS_VALUE    1089
#define IDC_PANEL_SEPARATOR         1117
#define IDC_PANEL_MEDIAN_LABEL      1113
#define IDC_PANEL_MEDIAN_NONE       1114
#define IDC_PANEL_MEDIAN_COMMON     1115
#define IDC_PANEL_MEDIAN_STRONG     1116
#define IDC_PANEL_SHARP_GROUP       1106
#define IDC_PANEL_SHARP1_LABEL      1091
#define IDC_PANEL_SHARP1            1047
#define IDC_PANEL_SHARP1_VALUE      1094
#define IDC_PANEL_SHARP2_LABEL      1092
#define IDC_PANEL_SHARP2            1050
#define IDC_PANEL_SHARP2_VALUE      1095
#define IDC_PANEL_SHARP3_LABEL      1093
#define IDC_PANEL_SHARP3            1051
#define IDC_PANEL_SHARP3_VALUE      1096
#define IDC_PANEL_SET_DEFAULT       1036
#define IDC_PANEL_SUMMARY           1109
