// Plane kernels of the non-local-means passes.
//
// Patch distances are computed on a half-resolution grid: the absolute difference of the 8-bit
// guide and its shifted copy is summed over 2x2 blocks, the half-resolution plane is box-summed
// over 3x3 cells, and the result is enlarged back by 2. The distance of a pixel for one search
// offset is thus the sum of absolute differences over a 6x6 patch aligned to the even pixel grid
// (at most 36 x 255 = 9180), the index into the weight tables.
//
// All kernels work on ImageBuffer planes with unpadded rows; they never allocate and report no
// errors. The plane kernels are built from the row kernels below, which the drivers' offset loop
// also uses directly, row by row, so both compute exactly the same values.
#pragma once

#include "engine/ImageBuffer.h"

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Row kernels

// out[i] = |a[i] - b[i]| for i < n (16 bytes at a time with saturating subtractions).
void AbsDiffRow(uint8_t* out, const uint8_t* a, const uint8_t* b, int n);

// out[x] = r0[2x] + r0[2x+1] + r1[2x] + r1[2x+1] for x < nOut.
void Sum2x2Row(uint16_t* out, const uint8_t* r0, const uint8_t* r1, int nOut);

// out[x] = in[x-1] + in[x] + in[x+1] for x = 1 .. n-2 (out[0] and out[n-1] untouched).
void BoxRow3(uint16_t* out, const uint16_t* in, int n);

// out[x] = a[x] + b[x] + c[x] for x = from .. to-1.
void AddRows3(uint16_t* out, const uint16_t* a, const uint16_t* b, const uint16_t* c, int from, int to);

// ---------------------------------------------------------------------------------------------
// Mirror padding

// Mirror map of a padded dimension of size n with border pad (the edge sample is not repeated):
// in the first half i < pad maps to 2 pad - i; in the second half i >= n - pad maps to
// 2n - 2 pad - i - 2; every other coordinate maps to itself.
inline int MirrorPadIndex(int i, int n, int pad)
{
    if (i < n / 2) return i < pad ? 2 * pad - i : i;
    return i < n - pad ? i : 2 * n - 2 * pad - i - 2;
}

// Fills the border of width pad of a one-channel plane that holds its content in the inner
// rectangle, in place: top band, left band, bottom band, right band.
void MirrorPadPlane8(ImageBuffer* image, int pad);
void MirrorPadPlane16(ImageBuffer* image, int pad);

// The same for each channel of a 1- or 3-channel image, through a one-channel work plane of the
// image's width, height and depth (ExtractChannel, pad, InsertChannel).
void MirrorPadImage8(ImageBuffer* image, ImageBuffer* work, int pad);
void MirrorPadImage16(ImageBuffer* image, ImageBuffer* work, int pad);

// ---------------------------------------------------------------------------------------------
// Distance planes

// B(rowB + y, colB + x) = |A(rowA + y, colA + x) - B(rowB + y, colB + x)| in place in B, for
// y < A.height - max(rowA, rowB) and x < A.width - max(colA, colB). Both 8-bit planes of A's size.
void AbsDiffShifted(const ImageBuffer* a, ImageBuffer* b, int rowA, int colA, int rowB, int colB);

// out (16-bit, half width and height of in) = 2x2 sums of in (8-bit, stride = width).
void Sum2x2(ImageBuffer* out, const ImageBuffer* in);

// 3x3 box sums of a 16-bit plane in place, through temp (same size): every interior cell gets the
// sum of the 3x3 cells centred on it; the first and last row and column keep their values.
void BoxSum3x3(ImageBuffer* temp, ImageBuffer* plane);

// out (16-bit, twice the size) (2y + i, 2x + j) = in (y, x) for i, j in {0, 1}.
void Upsample2x(ImageBuffer* out, const ImageBuffer* in);

// ---------------------------------------------------------------------------------------------
// Accumulation of one search offset (dy, dx)
//
// Output pixel (y, x) reads the padded planes at P = (pad + margin + y, pad + margin + x). With
// T = tables[guide(P)] and D the distance plane: g = T[D(P)], h = T[D(P - (dy, dx))];
// weight sum += g + h; value sum += g x value(P + (dy, dx)) + h x value(P - (dy, dx)).
// Offset (0, 0) adds the weight T[D(P)] once with value(P).

// 8-bit: per 2x2 block (even output width and height): guide level, D(P) and D(P - d) are read at
// the block's top-left pixel and the two weights applied to its four pixels. Values are the
// guide's samples. Sums are 32-bit integer planes of the output size.
void NlmAccumulate8(const ImageBuffer* guide, const ImageBuffer* dist, ImageBuffer* weightSums, ImageBuffer* valueSums,
                    int outWidth, int outHeight, int pad, int margin, int dy, int dx, const int* const* tables);

// 16-bit: per pixel, values from the 16-bit plane, guide level from the 8-bit guide; sums are
// double planes of the output size.
void NlmAccumulate16(const ImageBuffer* values, const ImageBuffer* guide, const ImageBuffer* dist,
                     ImageBuffer* weightSums, ImageBuffer* valueSums, int outWidth, int outHeight, int pad, int margin,
                     int dy, int dx, const int* const* tables);
