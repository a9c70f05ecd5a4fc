// The parts of HPXProcessGPU's job handling that do not need its window: checking what arrives,
// turning the parameters into the engine's arguments, and running the job (on the GPU when it
// can, on the CPU when the GPU cannot).
#pragma once

#include "engine/ImageBuffer.h"
#include "engine/Platform.h"
#include "gpu/GpuProtocol.h"

#include <cstdint>

struct GpuImageShape
{
    int32_t width, height, channels, bits;
};

// Reads width, height, channels and bits from a received image record (the first 28 bytes).
// Accepts only 1 or 3 channels of 8 or 16 bits and a positive size whose pixel block fits a
// 32-bit size; false for anything else (and for a payload shorter than the record).
bool ParseImageRecord(const void* data, uint32_t size, GpuImageShape* shape);

struct GpuJobSettings
{
    double dStrength, dStrengthChroma, dStrengthChromaLarge;  // slider positions / 20
    int iQuality;
    double dDynamics;
    bool bFusion;
    int iMedian;
};

// Slider positions / 20 (kept within 0..50), quality and median as sent, dynamics within -2..2
// (a value that is not a number counts as 0).
GpuJobSettings JobSettingsFromParams(const DenoiseJobParams& params);

// Runs the whole-image job into result (made with the input's layout): colour as YCbCr, the GPU
// passes when bUseGpu, hybrid tiles when the job asks for fusion. When a GPU pass could not run,
// the job is run again on the CPU unless pfnStopped says the job was cancelled or the program
// is to end. Returns the engine's status (kImageOk when every tile was done); a cancel shows in
// g_bAbort.
unsigned char RunGpuJob(ImageBuffer* result, ImageBuffer* input, const GpuJobSettings& job, HWND hProgress,
                        bool bUseGpu, bool (*pfnStopped)());
