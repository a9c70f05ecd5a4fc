#include "engine/PyramidRows.h"

#include "engine/WorkerPool.h"

#include <cstring>

namespace
{

// Rows of a step are shared among the pool's threads in slices of this many.
constexpr int kRowGrain = 8;

inline size_t At(int row, int width) { return static_cast<size_t>(row) * static_cast<size_t>(width); }

}  // namespace

ExpandAxisTaps MakeExpandTaps(int position, int size, int inSize)
{
    ExpandAxisTaps t{};
    const int start = ExpandWindowStart(position, size);
    int end = start + 5;
    if (end > 2 * inSize) end = 2 * inSize;
    for (int m = start; m < end; ++m)
        if ((m & 1) == 0 && t.count < 3)
        {
            t.index[t.count] = m / 2;
            t.k[t.count] = m - start;
            ++t.count;
        }
    return t;
}

void KernelTaps(const float kernel[5][5], float k1[5])
{
    for (int u = 0; u < 5; ++u) k1[u] = kernel[u][0] + kernel[u][1] + kernel[u][2] + kernel[u][3] + kernel[u][4];
}

int PyramidThreadsFor(int outW, int outH, WorkerPool* pool)
{
    return static_cast<long long>(outW) * outH < kPyramidParallelSamples ? 1 : PoolThreads(pool);
}

void ReduceRowSpan(int inW, int c0, int c1, int* first, int* count)
{
    *first = ReduceWindowStart(c0, inW);
    *count = ReduceWindowStart(c1 - 1, inW) + 5 - *first;
}

void ReduceRowH(float* out, const float* span, int spanStart, int inW, int c0, int c1, const float k1[5])
{
    int c = c0;
#ifdef HPX_PYRAMID_SSE2
    const __m128 t0 = _mm_set1_ps(k1[0]), t1 = _mm_set1_ps(k1[1]), t2 = _mm_set1_ps(k1[2]);
    const __m128 t3 = _mm_set1_ps(k1[3]), t4 = _mm_set1_ps(k1[4]);
#endif
    while (c < c1)
    {
#ifdef HPX_PYRAMID_SSE2
        // Four outputs whose windows start at 2c - 2 and end inside the row: the even and odd
        // inputs of the windows, gathered by shuffles.
        if (c >= 1 && 2 * c + 9 <= inW && c + 4 <= c1)
        {
            const float* q = span + (2 * c - 2 - spanStart);
            const __m128 a = _mm_loadu_ps(q), b = _mm_loadu_ps(q + 4);
            const __m128 a2 = _mm_loadu_ps(q + 2), b2 = _mm_loadu_ps(q + 6), d = _mm_loadu_ps(q + 7);
            const __m128 em1 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 om1 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 e0 = _mm_shuffle_ps(a2, b2, _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 o0 = _mm_shuffle_ps(a2, b2, _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 e1 = _mm_shuffle_ps(b, d, _MM_SHUFFLE(3, 1, 2, 0));
            __m128 s = _mm_add_ps(_mm_mul_ps(t0, em1), _mm_mul_ps(t1, om1));
            s = _mm_add_ps(s, _mm_mul_ps(t2, e0));
            s = _mm_add_ps(s, _mm_mul_ps(t3, o0));
            s = _mm_add_ps(s, _mm_mul_ps(t4, e1));
            _mm_storeu_ps(out + c, s);
            c += 4;
            continue;
        }
#endif
        const float* q = span + (ReduceWindowStart(c, inW) - spanStart);
        out[c] = k1[0] * q[0] + k1[1] * q[1] + k1[2] * q[2] + k1[3] * q[3] + k1[4] * q[4];
        ++c;
    }
}

void ExpandRegularColumns(int outW, int inW, int* lo, int* hi)
{
    // Columns away from the borders follow one pattern (even: three samples with taps 0, 2, 4;
    // odd: two samples with taps 1, 3).
    auto regular = [&](int c)
    {
        const ExpandAxisTaps t = MakeExpandTaps(c, outW, inW);
        if ((c & 1) == 0) return t.count == 3 && t.k[0] == 0 && t.k[1] == 2 && t.k[2] == 4 && t.index[0] == c / 2 - 1;
        return t.count == 2 && t.k[0] == 1 && t.k[1] == 3 && t.index[0] == (c - 1) / 2;
    };
    int cLo = 0;
    while (cLo < outW && !regular(cLo)) ++cLo;
    int cHi = cLo;
    while (cHi < outW && regular(cHi)) ++cHi;
    *lo = cLo;
    *hi = cHi;
}

void ExpandRowH(float* out, int outW, const float* in, int inW, int lo, int hi, const float k1[5])
{
    // Outside the regular columns the taps are looked up and added to a zero start, as the plain
    // loop of the tap lists does.
    auto irregular = [&](int c)
    {
        const ExpandAxisTaps t = MakeExpandTaps(c, outW, inW);
        float sum = 0.0f;
        for (int j = 0; j < t.count; ++j) sum += k1[t.k[j]] * in[t.index[j]];
        out[c] = sum;
    };
    auto regular = [&](int c)
    {
        const float* q = in + c / 2;
        out[c] = (c & 1) == 0 ? k1[0] * q[-1] + k1[2] * q[0] + k1[4] * q[1] : k1[1] * q[0] + k1[3] * q[1];
    };
    for (int c = 0; c < lo; ++c) irregular(c);
    int c = lo;
    if (c < hi && (c & 1) != 0) regular(c++);
#ifdef HPX_PYRAMID_SSE2
    const __m128 t0 = _mm_set1_ps(k1[0]), t1 = _mm_set1_ps(k1[1]), t2 = _mm_set1_ps(k1[2]);
    const __m128 t3 = _mm_set1_ps(k1[3]), t4 = _mm_set1_ps(k1[4]);
    for (; c + 8 <= hi; c += 8)
    {
        // Outputs 2m .. 2m + 7: even ones from inputs m - 1, m, m + 1, odd ones from m, m + 1.
        const float* q = in + c / 2;
        const __m128 sm1 = _mm_loadu_ps(q - 1), s0 = _mm_loadu_ps(q), s1 = _mm_loadu_ps(q + 1);
        __m128 even = _mm_add_ps(_mm_mul_ps(t0, sm1), _mm_mul_ps(t2, s0));
        even = _mm_add_ps(even, _mm_mul_ps(t4, s1));
        const __m128 odd = _mm_add_ps(_mm_mul_ps(t1, s0), _mm_mul_ps(t3, s1));
        _mm_storeu_ps(out + c, _mm_unpacklo_ps(even, odd));
        _mm_storeu_ps(out + c + 4, _mm_unpackhi_ps(even, odd));
    }
#endif
    for (; c < hi; ++c) regular(c);
    for (c = hi; c < outW; ++c) irregular(c);
}

ExpandRowTaps MakeExpandRowTaps(int row, int outH, int inH, const float* rows, int outW, const float k1[5])
{
    const ExpandAxisTaps a = MakeExpandTaps(row, outH, inH);
    ExpandRowTaps t{};
    t.count = a.count;
    for (int i = 0; i < 3; ++i)
    {
        const int j = i < a.count ? i : 0;
        t.p[i] = rows + At(a.index[j], outW);
        t.w[i] = 4.0f * k1[a.k[j]];
    }
    return t;
}

void ExpandRowSpan(int r0, int r1, int outH, int inH, int* first, int* end)
{
    int lo = inH, hi = 0;
    for (int r = r0; r < r1; ++r)
    {
        const ExpandAxisTaps t = MakeExpandTaps(r, outH, inH);
        for (int i = 0; i < t.count; ++i)
        {
            if (t.index[i] < lo) lo = t.index[i];
            if (t.index[i] + 1 > hi) hi = t.index[i] + 1;
        }
    }
    *first = lo < hi ? lo : 0;
    *end = lo < hi ? hi : 0;
}

namespace
{

struct ReducePass
{
    float* out;
    int outW;
    const float* in;
    int inW;
    int inH;
    float* rows;
    const float* k1;
};

void ReduceRowsHPart(void* context, int begin, int end)
{
    const ReducePass* p = static_cast<const ReducePass*>(context);
    for (int i = begin; i < end; ++i)
        ReduceRowH(p->rows + At(i, p->outW), p->in + At(i, p->inW), 0, p->inW, 0, p->outW, p->k1);
}

void ReduceRowsVPart(void* context, int begin, int end)
{
    const ReducePass* p = static_cast<const ReducePass*>(context);
    const float* k1 = p->k1;
    const int w = p->outW;
    for (int r = begin; r < end; ++r)
    {
        const float* p0 = p->rows + At(ReduceWindowStart(r, p->inH), w);
        const float* p1 = p0 + w;
        const float* p2 = p1 + w;
        const float* p3 = p2 + w;
        const float* p4 = p3 + w;
        float* o = p->out + At(r, w);
        int c = 0;
#ifdef HPX_PYRAMID_SSE2
        const __m128 t0 = _mm_set1_ps(k1[0]), t1 = _mm_set1_ps(k1[1]), t2 = _mm_set1_ps(k1[2]);
        const __m128 t3 = _mm_set1_ps(k1[3]), t4 = _mm_set1_ps(k1[4]);
        for (; c + 4 <= w; c += 4)
        {
            __m128 s = _mm_add_ps(_mm_mul_ps(t0, _mm_loadu_ps(p0 + c)), _mm_mul_ps(t1, _mm_loadu_ps(p1 + c)));
            s = _mm_add_ps(s, _mm_mul_ps(t2, _mm_loadu_ps(p2 + c)));
            s = _mm_add_ps(s, _mm_mul_ps(t3, _mm_loadu_ps(p3 + c)));
            s = _mm_add_ps(s, _mm_mul_ps(t4, _mm_loadu_ps(p4 + c)));
            _mm_storeu_ps(o + c, s);
        }
#endif
        for (; c < w; ++c) o[c] = k1[0] * p0[c] + k1[1] * p1[c] + k1[2] * p2[c] + k1[3] * p3[c] + k1[4] * p4[c];
    }
}

struct ExpandHPass
{
    float* rows;
    int outW;
    const float* in;
    int inW;
    int rowBegin;
    int lo;
    int hi;
    const float* k1;
};

void ExpandRowsHPart(void* context, int begin, int end)
{
    const ExpandHPass* p = static_cast<const ExpandHPass*>(context);
    for (int i = p->rowBegin + begin; i < p->rowBegin + end; ++i)
        ExpandRowH(p->rows + At(i, p->outW), p->outW, p->in + At(i, p->inW), p->inW, p->lo, p->hi, p->k1);
}

struct ExpandVPass
{
    float* out;
    int outW;
    int outH;
    int inH;
    const float* rows;
    const float* k1;
    float gain;
};

template <ExpandInto kInto> void ExpandRowsVPart(void* context, int begin, int end)
{
    const ExpandVPass* p = static_cast<const ExpandVPass*>(context);
    const int w = p->outW;
    const float gain = p->gain;
    for (int r = begin; r < end; ++r)
    {
        const ExpandRowTaps t = MakeExpandRowTaps(r, p->outH, p->inH, p->rows, w, p->k1);
        float* o = p->out + At(r, w);
        size_t c = 0;
#ifdef HPX_PYRAMID_SSE2
        const __m128 g = _mm_set1_ps(gain);
        for (; c + 4 <= static_cast<size_t>(w); c += 4)
        {
            const __m128 e = ExpandAt4(t, c);
            if (kInto == ExpandInto::kStore)
                _mm_storeu_ps(o + c, e);
            else if (kInto == ExpandInto::kSubtract)
                _mm_storeu_ps(o + c, _mm_sub_ps(_mm_loadu_ps(o + c), e));
            else
                _mm_storeu_ps(o + c, _mm_add_ps(e, _mm_mul_ps(g, _mm_loadu_ps(o + c))));
        }
#endif
        for (; c < static_cast<size_t>(w); ++c)
        {
            const float e = ExpandAt(t, c);
            if (kInto == ExpandInto::kStore)
                o[c] = e;
            else if (kInto == ExpandInto::kSubtract)
                o[c] = o[c] - e;
            else
                o[c] = e + gain * o[c];
        }
    }
}

}  // namespace

void ReduceLevel(float* out, int outW, int outH, const float* in, int inW, int inH, const float k1[5], float* rows,
                 WorkerPool* pool)
{
    if (outW < 5 || outH < 5 || inW < 5 || inH < 5) return;
    // Separable: filter the input rows at the output columns, then combine five rows per output row.
    ReducePass pass{out, outW, in, inW, inH, rows, k1};
    const int threads = PyramidThreadsFor(outW, outH, pool);
    ParallelRows(pool, inH, threads, kRowGrain, &ReduceRowsHPart, &pass);
    ParallelRows(pool, outH, threads, kRowGrain, &ReduceRowsVPart, &pass);
}

void ReduceRowsV(float* out, int outW, int outH, const float* rows, int inH, const float k1[5], WorkerPool* pool)
{
    ReducePass pass{out, outW, nullptr, 0, inH, const_cast<float*>(rows), k1};
    ParallelRows(pool, outH, PyramidThreadsFor(outW, outH, pool), kRowGrain, &ReduceRowsVPart, &pass);
}

void ExpandRowsH(float* rows, int outW, const float* in, int inW, int rowBegin, int rowEnd, const float k1[5],
                 WorkerPool* pool)
{
    if (rowEnd <= rowBegin) return;
    ExpandHPass pass{rows, outW, in, inW, rowBegin, 0, 0, k1};
    ExpandRegularColumns(outW, inW, &pass.lo, &pass.hi);
    ParallelRows(pool, rowEnd - rowBegin, PyramidThreadsFor(outW, 2 * (rowEnd - rowBegin), pool), kRowGrain,
                 &ExpandRowsHPart, &pass);
}

void ExpandLevel(float* out, int outW, int outH, const float* in, int inW, int inH, const float k1[5], float* rows,
                 ExpandInto into, float gain, WorkerPool* pool)
{
    const size_t samples = outW > 0 && outH > 0 ? At(outH, outW) : 0;
    if (outW <= 4 || outH <= 4)
    {
        // Nothing to interpolate from: the expanded value is zero.
        if (into == ExpandInto::kStore)
            std::memset(out, 0, samples * sizeof(float));
        else if (into == ExpandInto::kAddGained)
            for (size_t k = 0; k < samples; ++k) out[k] = 0.0f + gain * out[k];
        else
            for (size_t k = 0; k < samples; ++k) out[k] = out[k] - 0.0f;
        return;
    }
    // Only the even rows and columns of each window fall on samples of the smaller level; their
    // positions depend on the row alone and on the column alone, and the kernel is separable:
    // interpolate every input row at the output columns, then combine up to three such rows.
    ExpandRowsH(rows, outW, in, inW, 0, inH, k1, pool);
    ExpandVPass pass{out, outW, outH, inH, rows, k1, gain};
    void (*part)(void*, int, int) = into == ExpandInto::kStore ? &ExpandRowsVPart<ExpandInto::kStore>
        : into == ExpandInto::kSubtract                        ? &ExpandRowsVPart<ExpandInto::kSubtract>
                                                               : &ExpandRowsVPart<ExpandInto::kAddGained>;
    ParallelRows(pool, outH, PyramidThreadsFor(outW, outH, pool), kRowGrain, part, &pass);
}
