// The separable REDUCE and EXPAND of the 5-tap pyramid, row by row, in SSE2 where the window
// follows its regular pattern. Every value is the same float as the plain loops give: each output
// is the same products added in the same order (no fused multiply-add, one rounding per step).
#pragma once

#include <cstddef>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define HPX_PYRAMID_SSE2 1
#endif

class WorkerPool;

// First row (or column) of a 5-wide window around 2 x index at the given level size, slid inward
// so the window stays inside [0, size).
inline int ReduceWindowStart(int index, int size)
{
    int start = 2 * index - 2;
    if (start < 0) start = 0;
    if (start + 5 > size) start = size - 5;
    return start;
}

inline int ExpandWindowStart(int index, int size)
{
    int start = index - 2;
    if (start < 0) start = 0;
    if (start + 5 > size) start = size - 5;
    return start;
}

// The samples of the smaller level that an EXPAND output position reads along one axis: the even
// positions of its 5-wide window, halved, with their taps.
struct ExpandAxisTaps
{
    int count;
    int index[3];
    int k[3];
};

ExpandAxisTaps MakeExpandTaps(int position, int size, int inSize);

// One-dimensional taps of the separable 5 x 5 kernel (its row sums: the kernel is an outer product).
void KernelTaps(const float kernel[5][5], float k1[5]);

// Planes of below this many output samples are done on the calling thread alone.
constexpr long long kPyramidParallelSamples = 65536;
int PyramidThreadsFor(int outW, int outH, WorkerPool* pool);

// REDUCE along a row: out[c] for c in [c0, c1) from the input row of width inW, of which span
// holds columns spanStart .. (the span must cover the windows of those columns).
void ReduceRowH(float* out, const float* span, int spanStart, int inW, int c0, int c1, const float k1[5]);

// The columns [first, first + count) of an input row that the REDUCE windows of output columns
// [c0, c1) read.
void ReduceRowSpan(int inW, int c0, int c1, int* first, int* count);

// EXPAND along a row: out (outW) from in (inW); regular [lo, hi) from ExpandRegularColumns.
void ExpandRowH(float* out, int outW, const float* in, int inW, int lo, int hi, const float k1[5]);
void ExpandRegularColumns(int outW, int inW, int* lo, int* hi);

// The vertical step of EXPAND for one output row: up to three filtered input rows with weights.
struct ExpandRowTaps
{
    int count;
    const float* p[3];
    float w[3];
};

// rows: the filtered input rows (outW floats each, row i at rows + i * outW).
ExpandRowTaps MakeExpandRowTaps(int row, int outH, int inH, const float* rows, int outW, const float k1[5]);

// What the vertical step of EXPAND does with the expanded value e of an output sample o.
enum class ExpandInto
{
    kStore,     // o = e
    kSubtract,  // o = o - e: a level becomes its Laplacian level
    kAddGained  // o = e + gain x o: a Laplacian level scaled and added to the expanded coarser level
};

// REDUCE of a whole plane through the row scratch (outW x inH floats); does nothing when outW,
// outH, inW or inH is below 5.
void ReduceLevel(float* out, int outW, int outH, const float* in, int inW, int inH, const float k1[5], float* rows,
                 WorkerPool* pool);

// EXPAND of a whole plane through the row scratch (outW x inH floats), combined with out as
// `into` says. When outW or outH is 4 or less the expanded value is zero everywhere.
void ExpandLevel(float* out, int outW, int outH, const float* in, int inW, int inH, const float k1[5], float* rows,
                 ExpandInto into, float gain, WorkerPool* pool);

// The vertical step of REDUCE alone: out (outW x outH) from the input rows filtered at the output
// columns (`rows`, inH rows of outW floats).
void ReduceRowsV(float* out, int outW, int outH, const float* rows, int inH, const float k1[5], WorkerPool* pool);

// The horizontal step of EXPAND alone, for input rows [rowBegin, rowEnd) of in into the same rows
// of `rows` (outW floats each).
void ExpandRowsH(float* rows, int outW, const float* in, int inW, int rowBegin, int rowEnd, const float k1[5],
                 WorkerPool* pool);

// The input rows [first, end) that the vertical EXPAND of output rows [r0, r1) reads.
void ExpandRowSpan(int r0, int r1, int outH, int inH, int* first, int* end);

// The expanded value of column c (the plain sum of the taps' products, in their order).
inline float ExpandAt(const ExpandRowTaps& t, size_t c)
{
    if (t.count == 3) return t.w[0] * t.p[0][c] + t.w[1] * t.p[1][c] + t.w[2] * t.p[2][c];
    if (t.count == 2) return t.w[0] * t.p[0][c] + t.w[1] * t.p[1][c];
    return t.count == 1 ? t.w[0] * t.p[0][c] : 0.0f;
}

#ifdef HPX_PYRAMID_SSE2
// ExpandAt for columns c .. c + 3.
inline __m128 ExpandAt4(const ExpandRowTaps& t, size_t c)
{
    const __m128 s = _mm_mul_ps(_mm_set1_ps(t.w[0]), _mm_loadu_ps(t.p[0] + c));
    if (t.count == 3)
        return _mm_add_ps(_mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(t.w[1]), _mm_loadu_ps(t.p[1] + c))),
                          _mm_mul_ps(_mm_set1_ps(t.w[2]), _mm_loadu_ps(t.p[2] + c)));
    if (t.count == 2) return _mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(t.w[1]), _mm_loadu_ps(t.p[1] + c)));
    return t.count == 1 ? s : _mm_setzero_ps();
}
#endif
