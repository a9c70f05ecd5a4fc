// Per-pixel steps (colour conversions, channel copies) run on row slices of their images over a
// worker pool's threads. Every sample depends on its own pixel alone, so the slices give the same
// bytes as one call of the step on the whole images.
#pragma once

#include "engine/ImageBuffer.h"

class WorkerPool;

enum PixelStepKind
{
    kStepToYCbCr,  // RgbToYCbCr(dst, src)
    kStepToRgb,    // YCbCrToRgb(dst, src)
    kStepExtract,  // ExtractChannel(dst, channel, src)
    kStepInsert    // InsertChannel(dst, channel, src)
};

// Runs the step on up to `threads` threads of the pool (one call on this thread without a pool,
// with one thread, or for images of unequal heights). Returns what the step returns.
unsigned char ParallelPixelStep(WorkerPool* pool, int threads, PixelStepKind kind, ImageBuffer* dst,
                                const ImageBuffer* src, int channel = 0);
