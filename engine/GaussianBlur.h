// Separable Gaussian blur of image planes: the pre-blur that strong denoise settings run before
// non-local means, so that the patch distances see less of the noise.
#pragma once

#include "engine/ImageBuffer.h"

class WorkerPool;

// Taps t(j), j = -(count/2) .. count/2, of exp(-j^2 / (2 sigma^2)); a tap whose exponent
// j^2 / (2 sigma^2) exceeds 20 is 0. The taps are divided by their sum. The engine uses 11 taps.
void MakeGaussianKernel(float* taps, int count, float sigma);

// Blurs a one-channel image (8, 16 or 32 bits) in place with the 11-tap kernel, rows then columns.
// At the borders the kernel is cut and renormalised by the taps that fall inside.
// Returns kImageOk, kImageBadArgs for an unsupported image (left untouched) or kImageNoMemory
// when a work plane could not be allocated (the image is then left untouched as well).
// pool: threads that share the rows (null: the calling thread alone); the result is the same.
unsigned char GaussianBlurPlane(ImageBuffer* plane, float sigma, WorkerPool* pool = nullptr);

// Blurs a 3-channel YCbCr image in place: channel 0 with sigmaLuma when it is above 0, channels 1
// and 2 with sigmaChroma when it is above 0 (callers pass -1 to skip a part).
// Returns kImageOk, kImageBadArgs or kImageNoMemory (channels not yet blurred stay as they were).
unsigned char GaussianBlurYCbCr(ImageBuffer* image, double sigmaLuma, double sigmaChroma, WorkerPool* pool = nullptr);
