// AVX2 bodies of the hot kernels: the non-local-means rows (NlmKernels.cpp), the band passes of
// NlmPlaneDenoise.cpp, the blur rows of GaussianBlur.cpp and the 3x3 medians of Median.cpp, called
// when ActiveSimdPath() is kAvx2.
//
// Each body computes exactly what the SSE2 and scalar code computes, on as many elements as fit
// its vector width, and leaves the rest to the caller's narrower loops: the row kernels return
// the first index they did not handle. Only call them when the processor runs AVX2.
#pragma once

#include <cstdint>

// out[i] = |a[i] - b[i]| for i < returned count (a multiple of 32 not above n).
int AbsDiffRowAvx2(uint8_t* out, const uint8_t* a, const uint8_t* b, int n);

// out[x] = r0[2x] + r0[2x+1] + r1[2x] + r1[2x+1] for x < returned count.
int Sum2x2RowAvx2(uint16_t* out, const uint8_t* r0, const uint8_t* r1, int nOut);

// out[x] = in[x-1] + in[x] + in[x+1] for x = 1 .. returned count - 1.
int BoxRow3Avx2(uint16_t* out, const uint16_t* in, int n);

// out[x] = a[x] + b[x] + c[x] for x = from .. returned count - 1.
int AddRows3Avx2(uint16_t* out, const uint16_t* a, const uint16_t* b, const uint16_t* c, int from, int to);

// One row pair of an 8-bit band, blocks 0 .. returned count - 1 (a multiple of 8): block b's
// weights g = W[base[b] + min(dPlus[b], limit[b])] and h (the same with dMinus, 0 for the centre
// offset) are added to blockWeights[b], and g x plus[i][p] + h x minus[i][p] to sums[i][p] for
// its pixels p = 2b, 2b + 1 of rows i = 0, 1.
int AccumulateBlocks8Avx2(const uint16_t* pWeights, const uint32_t* pBase, const uint16_t* pLimit,
                          const uint16_t* pDistPlus, const uint16_t* pDistMinus, bool bCentre,
                          const uint8_t* const* apPlus, const uint8_t* const* apMinus, uint32_t* const* apSums,
                          uint32_t* pBlockWeights, int blocks);

// One row of a 16-bit band, pixels 0 .. returned count - 1 (a multiple of 8): pixel x reads its
// distances from the half-resolution cells (c + x) >> 1 of pDistPlus and (c - dx + x) >> 1 of
// pDistMinus, adds g + h to weights[x] and g x plus[x] + h x minus[x] to values[x].
int AccumulatePixels16Avx2(const uint16_t* pWeights, const uint32_t* pBase, const uint16_t* pLimit,
                           const uint16_t* pDistPlus, const uint16_t* pDistMinus, int c, int dx, bool bCentre,
                           const uint16_t* pPlus, const uint16_t* pMinus, uint32_t* pWeightSums, uint64_t* pValueSums,
                           int w);

// Interior of one blur row: acc[x] = (sum over k = -reach .. reach of taps[k + 5] x row[x + k]) /
// fullTotal for x = x0 .. returned count - 1, the products added in the order of k, lane by lane,
// so the floats are the bits of the scalar loop.
int BlurRowInteriorAvx2(float* acc, const float* row, int x0, int x1, const float* taps, int reach, float fullTotal);

// The 3x3 medians of one interior row, x .. returned count - 1 with returned count <= end: the
// five-sample plus of 8-bit rows and the full 3x3 of 16-bit rows, by the same exchange networks
// as the SSE2 and scalar code.
int Plus5MedianRowAvx2(uint8_t* out, const uint8_t* up, const uint8_t* mid, const uint8_t* down, int x, int end);
int Square9MedianRowAvx2(uint16_t* out, const uint16_t* up, const uint16_t* mid, const uint16_t* down, int x, int end);
