// Two-dimensional similarity transform (rotation, uniform scale, offset) between window or
// back-buffer coordinates and image coordinates, and the preview resamplers built on it.
#pragma once

#include "engine/ImageBuffer.h"

struct SimilarityTransform
{
    double m_dOffsetX;   // image x of destination point (0, 0)
    double m_dOffsetY;   // image y of destination point (0, 0)
    double m_dCosScale;  // cos(angle) / scale: image pixels per destination pixel
    double m_dSinScale;  // sin(angle) / scale

    // Makes destination point (x, y) show image point (X, Y) at the given angle (degrees) and
    // scale (destination pixels per image pixel).
    void Set(double x, double y, double X, double Y, double angleDeg, double scale);

    // Set, returning the transform itself.
    SimilarityTransform& Assign(double x, double y, double X, double Y, double angleDeg, double scale);

    // Destination (x, y) to image (X, Y); null outputs are skipped.
    void MapForward(double* X, double* Y, int32_t x, int32_t y) const;

    // Image (X, Y) to destination (x, y), each coordinate + 0.5 truncated toward zero; null
    // outputs are skipped.
    void MapInverse(int32_t* x, int32_t* y, double X, double Y) const;
};

// Resample src into an 8-bit 1- or 3-channel dst through the transform (destination to source).
// Destination pixels whose sample point lies outside the source are left as they are, so callers
// fill the background first. Other destination layouts are left untouched.
void ResampleNearest(ImageBuffer* dst, const ImageBuffer* src, const SimilarityTransform* xf);
void ResampleBilinear(ImageBuffer* dst, const ImageBuffer* src, const SimilarityTransform* xf);
void ResampleBicubic(ImageBuffer* dst, const ImageBuffer* src, const SimilarityTransform* xf);
