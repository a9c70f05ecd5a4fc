// The per-tile pipeline: median pre-filter, Gaussian pre-blur for strong settings, non-local means
// on one plane or on the YCbCr planes of a colour tile, the large chroma-spot pass on the two
// chroma planes, and the conversion back.
#pragma once

#include "engine/ImageBuffer.h"
#include "engine/Platform.h"

class WorkerPool;

// Pre-blur sigma for a strength s: ln(s - 24) x 0.5 + 0.2 when s > 25, otherwise -1 (no blur).
double PreBlurSigma(double strength);

// Denoises one tile (or a whole small image). dst must have src's width, height, channels and
// depth (it is created when it has no block); src (1 or 3 channels, 8 or 16 bits) is only read (its block
// and contents are never changed by the passes).
//   dStrength drives the luma (or grey) pass and pre-blur, dStrengthChroma both chroma passes and
//   the chroma pre-blur, trunc(dStrengthChromaLarge) the chroma-spot pass when above 1.
//   iMedian: 1 = 3x3 median first, 2 = 7x7 median first, anything else none.
// Returns kImageOk; kImageBadArgs for an unsupported image (a 3-channel source without bColor
// included) and kImageNoMemory when a temporary could not be allocated: dst then holds a copy of
// src, so a job can paste it and go on.
//   pPool: the job's worker threads, shared by every step of the tile (at most iThreads threads
//   work on a step). Without one the tile keeps a pool of iThreads - 1 workers for its own steps.
//   The result is the same for any thread count.
unsigned char DenoiseTile(ImageBuffer* dst, ImageBuffer* src, double dStrength, double dStrengthChroma,
                          double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                          bool bColor, bool bGpu, int iThreads, int iMedian, WorkerPool* pPool = nullptr);
