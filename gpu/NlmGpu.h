// The non-local-means drivers that run on the GPU object g_pGpgpu. HPXProcessGPU installs them in
// the engine's GPU hook (engine/GpuHook.h); they are called only on the thread that holds the GL
// context, and only while the GPU object is ready.
#pragma once

#include "engine/ImageBuffer.h"
#include "engine/Platform.h"

// One plane: src one channel, 8 or 16 bits, even width and height; dst of src's shape. The
// guide argument is released and not used (the plane guides itself at full depth). dDynamics is
// already doubled. One progress step per search offset; stops after the offset at which g_bAbort
// is seen (dst then holds src). Returns 0, or 6 when the padded copies could not be allocated
// (dst then holds src, src is untouched).
unsigned char NlmPlaneDenoiseGpu(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                 HpxProgressTarget hProgress, double dStrength, double dDynamics);

// A YCbCr image (3 channels, 8 or 16 bits, even size) with separate luma and chroma strengths;
// the guide's samples drive the distances and it is released. dDynamics is already doubled.
unsigned char NlmColorDenoiseGpu(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                 HpxProgressTarget hProgress, double dStrengthLuma, double dStrengthChroma,
                                 double dDynamics);

// A YCbCr tile of any size: padded to even size, denoised by NlmColorDenoiseGpu with the doubled
// dynamics, cut back. After a cancel dst holds src. Returns 0 (6 when out of memory: dst = src).
unsigned char NlmJointColorDenoise(ImageBuffer* dst, ImageBuffer* src, int iQuality, HpxProgressTarget hProgress,
                                   double dStrengthLuma, double dStrengthChroma, double dDynamics);

// Padding half-size of the passes for a W x H image: min((min(W, H) / 2) x 2 - 1, 71) / 2.
int GpuPadHalfSize(int width, int height);

// Set when a pass could not run on the GPU (textures refused, a GL error, memory for the padded
// copies): the driver then also sets g_bAbort so that the job ends soon, and the program runs
// the job again on the CPU. Cleared by whoever starts a job.
extern volatile bool g_bGpuPassFailed;

// Installs the drivers and the GPU object's queries in the engine's hook (or empties it).
void InstallGpuDrivers(bool bInstall);
