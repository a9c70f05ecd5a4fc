// Resource numbers of HPXProcessGPU.exe.
#pragma once

#define IDS_APP_TITLE_GPU 103  // "HPXProcessGPU", the window title
#define IDM_GPU_ABOUT 104
#define IDM_GPU_EXIT 105
#define IDI_GPU_LARGE 107
#define IDI_GPU_SMALL 108
#define IDC_HPXPROCESSGPU 109  // window class string, menu and accelerator table
