// Noise figures by Immerkaer's method: the mean absolute response of a 3x3 Laplacian-difference
// mask that cancels image structure to second order.
#pragma once

#include "engine/ImageBuffer.h"

// Noise figures of one image: luma, chroma.
struct NoiseSigma
{
    double m_dLuma;
    double m_dChroma;
};

// Figure of an 8-bit one-channel plane.
double EstimateNoiseImmerkaerPlane(const ImageBuffer* image);

// Luma and joint chroma figures of an 8-bit 3-channel Y, Cr, Cb image; writes them into *out
// and returns *out.
NoiseSigma EstimateNoiseImmerkaer(NoiseSigma* out, const ImageBuffer* image);
