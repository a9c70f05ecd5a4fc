// The engine's GPU hook: the passes that the whole-image job and the plane dispatcher run on the
// GPU when a job's GPU flag is set, and the two questions the job asks the GPU object.
//
// The engine never links OpenGL. HPXProcessGPU implements the GPU passes (NlmPlaneDenoiseGpu,
// NlmJointColorDenoise, NlmColorDenoiseGpu and the CGPGPU queries) in its own code and installs
// them here with InstallGpuHook once its GPU object exists; in the plug-in the hook stays empty and
// is never called, since the plug-in never sets the GPU flag. The engine reaches the passes only
// through the GpuHook* call-throughs below, which behave safely when an entry is missing.
#pragma once

#include "engine/ImageBuffer.h"
#include "engine/Platform.h"

// One plane pass: dst (result) and src (one channel, 8 or 16 bits, even width and height), the
// 8-bit guide (the callee may release it), quality, progress target, strength, dynamics already
// doubled by the caller. Expected: dst filled with the denoised source (same shape), src unchanged,
// one progress step per search offset, early return when g_bAbort is set. Returns 0.
using PfnNlmPlaneDenoiseGpu = unsigned char (*)(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                                HpxProgressTarget hProgress, double dStrength, double dDynamics);

// A padded YCbCr image (3 channels, even size) with separate luma and chroma strengths; the guide's
// samples drive the distances. Returns 0.
using PfnNlmColorDenoiseGpu = unsigned char (*)(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                                HpxProgressTarget hProgress, double dStrengthLuma,
                                                double dStrengthChroma, double dDynamics);

// One joint pass over a YCbCr tile of any size: dst gets the tile with luma denoised at
// dStrengthLuma and both chroma planes at dStrengthChroma (same layout as src). dDynamics is the
// undoubled value. Returns 0.
using PfnNlmJointColorDenoise = unsigned char (*)(ImageBuffer* dst, ImageBuffer* src, int iQuality,
                                                  HpxProgressTarget hProgress, double dStrengthLuma,
                                                  double dStrengthChroma, double dDynamics);

using PfnGpuIsReady = bool (*)();
using PfnGpuGetMaxTileSize = int (*)();

struct GpuHook
{
    PfnNlmPlaneDenoiseGpu pfnNlmPlaneDenoiseGpu;
    PfnNlmJointColorDenoise pfnNlmJointColorDenoise;
    PfnNlmColorDenoiseGpu pfnNlmColorDenoiseGpu;
    PfnGpuIsReady pfnIsReady;                // CGPGPU::IsReady of the program's GPU object
    PfnGpuGetMaxTileSize pfnGetMaxTileSize;  // CGPGPU::GetMaxTileSize
};

// Installs the entries (copied); null empties the hook again. Call it before a job starts, never
// while one runs.
void InstallGpuHook(const GpuHook* hook);

// The entries currently installed (all null in the plug-in).
const GpuHook& GetGpuHook();

// True when the hook has an IsReady entry and it answers true.
bool GpuHookIsReady();

// The GPU object's largest tile edge, or 0 when the hook has no such entry.
int GpuHookMaxTileSize();

bool GpuHookHasPlaneDenoise();
bool GpuHookHasJointColor();

// Call-throughs used by the engine. With the entry missing they copy src into dst (when both have
// blocks) and return 1, so a caller that asked for the GPU regardless gets its input back.
unsigned char GpuHookNlmPlaneDenoise(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                     HpxProgressTarget hProgress, double dStrength, double dDynamics);
unsigned char GpuHookNlmJointColorDenoise(ImageBuffer* dst, ImageBuffer* src, int iQuality, HpxProgressTarget hProgress,
                                          double dStrengthLuma, double dStrengthChroma, double dDynamics);
unsigned char GpuHookNlmColorDenoise(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                     HpxProgressTarget hProgress, double dStrengthLuma, double dStrengthChroma,
                                     double dDynamics);
