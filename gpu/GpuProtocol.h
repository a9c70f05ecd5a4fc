// The message protocol between the plug-in's main window and HPXProcessGPU.
//
// The two processes share no memory: the plug-in starts the program, the program announces its
// window, the plug-in sends the image record, the pixels and the job parameters as WM_COPYDATA
// copies and posts the run; the program reports progress, then sends the result pixels (or a
// cancel) back and exits. Every payload is copied by its receiver.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "engine/ImageBuffer.h"

// Windows (FindWindowW needs both class and title to match).
#define HPX_PLUGIN_WINDOW_CLASS L"Hushpix"
#define HPX_PLUGIN_WINDOW_TITLE L"ORV Tools - Hushpix plug-in"
#define HPX_GPU_WINDOW_CLASS L"HPXPROCESSGPU"
#define HPX_GPU_WINDOW_TITLE L"HPXProcessGPU"
#define HPX_GPU_EXECUTABLE L"HPXProcessGPU.exe"

// WM_COPYDATA codes (dwData).
enum : ULONG_PTR
{
    HPX_DATA_CANCELLED = 0,  // program to plug-in: the job was cancelled (no payload)
    HPX_DATA_IMAGE = 1,      // plug-in to program: the source ImageBuffer record (28 bytes)
    HPX_DATA_RESULT = 1,     // program to plug-in: the result pixels
    HPX_DATA_PIXELS = 2,     // plug-in to program: the source pixels (the record's m_iSize)
    HPX_DATA_PARAMS = 3,     // plug-in to program: DenoiseJobParams (56 bytes)
    HPX_DATA_READY = 99      // program to plug-in: the program's HWND (4 bytes)
};

// Messages.
enum : UINT
{
    WM_HPX_RUN = 6009,             // plug-in to program, posted: run the job now
    WM_HPX_CANCEL = 6010,          // plug-in to program, posted: set the job's abort flag
    WM_HPX_PROGRESS_RANGE = 6011,  // program to plug-in, sent: wParam = total steps
    WM_HPX_PROGRESS_STEP = 6012    // program to plug-in, sent: one step
};

// Commands of the program's window (WM_COMMAND, LOWORD(wParam)). The plug-in's resource ids
// (resources/plugin/window_ids.h) define the same numbers as macros.
#ifndef IDM_ABOUT
enum : int
{
    IDM_ABOUT = 104,
    IDM_EXIT = 105  // destroy the window and end the program
};
#endif

// Size of the image record on the wire.
enum : int
{
    kWireImageRecordSize = 28
};

// Parameters of one whole-image run, 56 bytes, sent whole.
#pragma pack(push, 4)
struct DenoiseJobParams
{
    uint32_t pSource;              // plug-in's address of its source record (not used across)
    uint32_t pResult;              // plug-in's address of its result record (not used across)
    int32_t iStrength;             // luma strength slider position 20..1000 (strength x 20)
    int32_t iStrengthChroma;       // chroma strength position 20..1000
    int32_t iStrengthChromaLarge;  // large chroma-spot strength position 0..1000
    int32_t iQualityMode;          // 3 full, 2 fast, 1 smallest window
    uint8_t reserved1[8];
    double dDynamics;       // -2..2
    uint8_t bGpuCpuFusion;  // share the tiles between GPU and CPU
    uint8_t bHwAccel;       // the plug-in's hardware-acceleration setting
    uint8_t reserved2[2];
    int32_t iUseMedian;     // 0 none, 1 small, 2 large
    uint32_t hProgressWnd;  // the plug-in's parameter panel (not used across)
    uint8_t reserved3[4];
};
#pragma pack(pop)

static_assert(sizeof(DenoiseJobParams) == 56, "DenoiseJobParams is 56 bytes on the wire");
static_assert(offsetof(DenoiseJobParams, iStrength) == 8, "DenoiseJobParams layout");
static_assert(offsetof(DenoiseJobParams, iQualityMode) == 20, "DenoiseJobParams layout");
static_assert(offsetof(DenoiseJobParams, dDynamics) == 32, "DenoiseJobParams layout");
static_assert(offsetof(DenoiseJobParams, bGpuCpuFusion) == 40, "DenoiseJobParams layout");
static_assert(offsetof(DenoiseJobParams, bHwAccel) == 41, "DenoiseJobParams layout");
static_assert(offsetof(DenoiseJobParams, iUseMedian) == 44, "DenoiseJobParams layout");
static_assert(offsetof(DenoiseJobParams, hProgressWnd) == 48, "DenoiseJobParams layout");
