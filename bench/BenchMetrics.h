// Quality figures of a denoised image against the clean one.
#pragma once

#include "engine/ImageBuffer.h"

// Peak signal-to-noise ratio over all samples, peak 255 or 65535 by depth (dB).
double Psnr(const ImageBuffer* a, const ImageBuffer* b);

// Mean structural similarity of the luma (BT.601) planes, Gaussian window 11 x 11, sigma 1.5,
// on the 8-bit scale (16-bit images are scaled by 1/257).
double SsimLuma(const ImageBuffer* a, const ImageBuffer* b);
