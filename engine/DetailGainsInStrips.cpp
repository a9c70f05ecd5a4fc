#include "engine/DetailGainsInStrips.h"

#include "engine/ImagePyramid.h"
#include "engine/Platform.h"
#include "engine/PyramidRows.h"
#include "engine/WorkerPool.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

// A strip's pyramid is the whole-image pyramid of its rows, but it is never held as the record's
// nine planes per level: one channel at a time, each level's Laplacian is made in place of the
// level itself and the rebuild writes over it again, so only the coarser levels and two rows-wide
// work planes live at once. The finest level is not held at all: its Gaussian is the image's own
// samples, its Laplacian and the rebuilt values are made row by row in the last step, straight
// from the samples, and written back as samples. Every float is the same as the record's steps
// give (same products, same order, same roundings), so the bytes are too.

namespace
{

int RoundUp8(int v) { return (v + 7) & ~7; }

inline size_t At(int row, int width) { return static_cast<size_t>(row) * static_cast<size_t>(width); }

// Columns of the finest level done at a time by a row step, so its floats fit on the stack.
constexpr int kColumnBlock = 512;
constexpr int kRowGrain = 8;

// A band of rows of an 8- or 16-bit image, read through row pointers (the rows above a strip come
// from a saved copy of their original samples).
struct Band
{
    const unsigned char* const* src;  // height rows
    unsigned char* const* dst;        // rows outTop .. outBottom - 1
    int width;
    int height;
    int channels;
    int bits;
    int channel;
    int outTop;
    int outBottom;
};

// Samples [x0, x0 + count) of the band's channel in row y as floats.
void ReadSamples(float* out, const Band& b, int y, int x0, int count)
{
    const int ch = b.channels;
    if (b.bits == 8)
    {
        const unsigned char* s = b.src[y] + static_cast<size_t>(x0) * ch + b.channel;
        for (int i = 0; i < count; ++i) out[i] = static_cast<float>(s[static_cast<size_t>(i) * ch]);
    }
    else
    {
        const uint16_t* s = reinterpret_cast<const uint16_t*>(b.src[y]) + static_cast<size_t>(x0) * ch + b.channel;
        for (int i = 0; i < count; ++i) out[i] = static_cast<float>(s[static_cast<size_t>(i) * ch]);
    }
}

struct FinestPass
{
    Band band;
    int w1;
    float* rows;      // REDUCE: the band's rows filtered at level 1's columns
    const float* x0;  // EXPAND of level 1 as built, filtered along its rows (w floats each)
    const float* x1;  // the same of level 1 as rebuilt
    const float* k1;
    float gain;
    float maxValue;
};

// REDUCE of the finest level along its rows, straight from the samples.
void ReduceFinestRows(void* context, int begin, int end)
{
    const FinestPass* p = static_cast<const FinestPass*>(context);
    float span[2 * kColumnBlock + 8];
    for (int y = begin; y < end; ++y)
        for (int c0 = 0; c0 < p->w1; c0 += kColumnBlock)
        {
            const int c1 = c0 + kColumnBlock < p->w1 ? c0 + kColumnBlock : p->w1;
            int first = 0, count = 0;
            ReduceRowSpan(p->band.width, c0, c1, &first, &count);
            ReadSamples(span, p->band, y, first, count);
            ReduceRowH(p->rows + At(y, p->w1), span, first, p->band.width, c0, c1, p->k1);
        }
}

// The finest level rebuilt: the Laplacian (sample minus EXPAND of level 1 as built) times the
// gain, added to EXPAND of level 1 as rebuilt, clamped, truncated and written as a sample.
void RebuildFinestRows(void* context, int begin, int end)
{
    const FinestPass* p = static_cast<const FinestPass*>(context);
    const Band& b = p->band;
    const int w = b.width;
    const int h1 = b.height >> 1;
    float s[kColumnBlock];
    int32_t v[kColumnBlock];
    for (int r = b.outTop + begin; r < b.outTop + end; ++r)
    {
        const ExpandRowTaps t0 = MakeExpandRowTaps(r, b.height, h1, p->x0, w, p->k1);
        const ExpandRowTaps t1 = MakeExpandRowTaps(r, b.height, h1, p->x1, w, p->k1);
        unsigned char* out = b.dst[r - b.outTop];
        for (int x0 = 0; x0 < w; x0 += kColumnBlock)
        {
            const int count = x0 + kColumnBlock < w ? kColumnBlock : w - x0;
            ReadSamples(s, b, r, x0, count);
            int i = 0;
#ifdef HPX_PYRAMID_SSE2
            const __m128 g = _mm_set1_ps(p->gain), hi = _mm_set1_ps(p->maxValue), zero = _mm_setzero_ps();
            for (; i + 4 <= count; i += 4)
            {
                const size_t c = static_cast<size_t>(x0 + i);
                const __m128 e0 = ExpandAt4(t0, c), e1 = ExpandAt4(t1, c);
                const __m128 laplace = _mm_sub_ps(_mm_loadu_ps(s + i), e0);
                __m128 o = _mm_add_ps(e1, _mm_mul_ps(g, laplace));
                // max with zero second gives zero for NaN and negatives, as the plain clamp.
                o = _mm_min_ps(_mm_max_ps(o, zero), hi);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i), _mm_cvttps_epi32(o));
            }
#endif
            for (; i < count; ++i)
            {
                const size_t c = static_cast<size_t>(x0 + i);
                const float laplace = s[i] - ExpandAt(t0, c);
                float o = ExpandAt(t1, c) + p->gain * laplace;
                if (!(o > 0.0f)) o = 0.0f;
                if (o > p->maxValue) o = p->maxValue;
                v[i] = static_cast<int32_t>(o);
            }
            const int ch = b.channels;
            if (b.bits == 8)
            {
                unsigned char* d = out + static_cast<size_t>(x0) * ch + b.channel;
                for (i = 0; i < count; ++i) d[static_cast<size_t>(i) * ch] = static_cast<unsigned char>(v[i]);
            }
            else
            {
                uint16_t* d = reinterpret_cast<uint16_t*>(out) + static_cast<size_t>(x0) * ch + b.channel;
                for (i = 0; i < count; ++i) d[static_cast<size_t>(i) * ch] = static_cast<uint16_t>(v[i]);
            }
        }
    }
}

// The floats one band needs: levels 1..n, and two planes of the finest width by level 1's height.
struct BandLayout
{
    int n;
    int w[kPyramidMaxLevels];
    int h[kPyramidMaxLevels];
    size_t levelAt[kPyramidMaxLevels];
    size_t wideFloats;
    size_t totalFloats;
};

BandLayout LayBand(int width, int height, int n)
{
    BandLayout l{};
    l.n = n;
    size_t at = 0;
    for (int i = 0; i <= n; ++i)
    {
        l.w[i] = width >> i;
        l.h[i] = height >> i;
        if (i == 0) continue;
        l.levelAt[i] = at;
        at += (At(l.h[i], l.w[i]) + 15) & ~static_cast<size_t>(15);
    }
    // The first wide plane holds the finest level's REDUCE rows (w1 x h), then EXPAND rows of
    // level 1 (w x h1); the second holds the coarser levels' work rows, then EXPAND rows again.
    const size_t a = At(l.h[0], l.w[1]), b = At(l.h[1], l.w[0]);
    l.wideFloats = ((a > b ? a : b) + 15) & ~static_cast<size_t>(15);
    l.totalFloats = at + 2 * l.wideFloats + 16;
    return l;
}

// The gains of every channel of a band (rows outTop .. outBottom - 1 written). The floats come
// from the pool's work block (kept for the next band) or, without a pool, are allocated here.
// Returns kImageOk, or kImageNoMemory with nothing written.
unsigned char GainBand(Band band, const float gains[3], int maxLevels, int levelCap, WorkerPool* pool)
{
    const int n = PyramidLevelCount(band.width, band.height, maxLevels, levelCap);
    if (n == 0)
    {
        // No level to rebuild: every sample comes back as it was.
        const size_t bytes = static_cast<size_t>(band.width) * band.channels * (band.bits == 8 ? 1 : 2);
        for (int r = band.outTop; r < band.outBottom; ++r)
            if (band.dst[r - band.outTop] != band.src[r]) std::memcpy(band.dst[r - band.outTop], band.src[r], bytes);
        return kImageOk;
    }
    const BandLayout l = LayBand(band.width, band.height, n);
    const size_t bytes = l.totalFloats * sizeof(float);
    float* block = static_cast<float*>(pool != nullptr ? pool->Scratch(0, bytes) : std::malloc(bytes));
    if (block == nullptr) return kImageNoMemory;
    float* base = reinterpret_cast<float*>((reinterpret_cast<uintptr_t>(block) + 63) & ~static_cast<uintptr_t>(63));
    float* G[kPyramidMaxLevels] = {};
    for (int i = 1; i <= n; ++i) G[i] = base + l.levelAt[i];
    float* wide0 = base + (l.levelAt[n] + ((At(l.h[n], l.w[n]) + 15) & ~static_cast<size_t>(15)));
    float* wide1 = wide0 + l.wideFloats;

    float kernel[5][5];
    float k1[5];
    MakePyramidKernel(kernel);
    KernelTaps(kernel, k1);
    const int w = l.w[0], h = l.h[0], w1 = l.w[1], h1 = l.h[1];
    // Rows of level 1 that the finest rows to be written read through EXPAND.
    int first1 = 0, end1 = 0;
    ExpandRowSpan(band.outTop, band.outBottom, h, h1, &first1, &end1);

    for (int c = 0; c < band.channels; ++c)
    {
        band.channel = c;
        FinestPass finest{band,  w1, wide0,    wide0,
                          wide1, k1, gains[0], static_cast<float>(band.bits == 8 ? 255 : (1 << band.bits) - 1)};
        // Build: level 1 from the samples; each coarser level, then the finer one's Laplacian in
        // its place.
        for (int i = 1; i <= n; ++i) std::memset(G[i], 0, At(l.h[i], l.w[i]) * sizeof(float));
        if (w1 >= 5 && h1 >= 5)
        {
            ParallelRows(pool, h, PyramidThreadsFor(w1, h1, pool), kRowGrain, &ReduceFinestRows, &finest);
            ReduceRowsV(G[1], w1, h1, wide0, h, k1, pool);
        }
        ExpandRowsH(wide0, w, G[1], w1, first1, end1, k1, pool);
        for (int i = 1; i < n; ++i)
        {
            ReduceLevel(G[i + 1], l.w[i + 1], l.h[i + 1], G[i], l.w[i], l.h[i], k1, wide1, pool);
            ExpandLevel(G[i], l.w[i], l.h[i], G[i + 1], l.w[i + 1], l.h[i + 1], k1, wide1, ExpandInto::kSubtract, 0.0f,
                        pool);
        }
        // Rebuild the coarser levels, then the finest straight into the samples.
        for (int i = n - 1; i >= 1; --i)
            ExpandLevel(G[i], l.w[i], l.h[i], G[i + 1], l.w[i + 1], l.h[i + 1], k1, wide1, ExpandInto::kAddGained,
                        i < 3 ? gains[i] : 0.0f, pool);
        ExpandRowsH(wide1, w, G[1], w1, first1, end1, k1, pool);
        const int rows = band.outBottom - band.outTop;
        ParallelRows(pool, rows, PyramidThreadsFor(w, rows, pool), kRowGrain, &RebuildFinestRows, &finest);
    }
    if (pool == nullptr) std::free(block);
    return kImageOk;
}

}  // namespace

unsigned char ApplyDetailGainsInStrips(ImageBuffer* image, double gain1, double gain2, double gain3, int maxLevels,
                                       int levelCap, int stripRows, int* rowsLeft)
{
    if (rowsLeft) *rowsLeft = 0;
    if (!image || !image->m_pData || image->m_iWidth <= 0 || image->m_iHeight <= 0 ||
        (image->m_iChannels != 1 && image->m_iChannels != 3) || (image->m_iBits != 8 && image->m_iBits != 16))
        return kImageBadArgs;
    if (DetailGainsAreNeutral(gain1, gain2, gain3)) return kImageOk;
    const float gains[3] = {static_cast<float>(gain1), static_cast<float>(gain2), static_cast<float>(gain3)};

    int rows = stripRows > 0 ? RoundUp8(stripRows) : RoundUp8(4000000 / image->m_iWidth + 1);
    if (rows < 64) rows = 64;
    if (rows > image->m_iHeight) rows = RoundUp8(image->m_iHeight);
    // A strip must never be lower than the pyramid's levels need, or its level count would differ
    // from the whole image's; 64 rows (plus margins) always give the full three halvings.
    const int height = image->m_iHeight;
    const size_t stride = static_cast<size_t>(image->m_iStride);
    unsigned char* pixels = static_cast<unsigned char*>(image->m_pData);

    // Each strip is written back in place, so the original rows that the next strips still read
    // as their upper margin are saved first (two copies: the rows are taken from the last copy
    // and the image together).
    const int marginRows = kDetailStripMargin < height ? kDetailStripMargin : height;
    unsigned char* saved[2] = {static_cast<unsigned char*>(std::malloc(stride * marginRows)),
                               static_cast<unsigned char*>(std::malloc(stride * marginRows))};
    const unsigned char** srcRows =
        static_cast<const unsigned char**>(std::malloc(sizeof(unsigned char*) * (rows + 2 * kDetailStripMargin)));
    unsigned char** dstRows = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*) * rows));
    auto release = [&]()
    {
        std::free(saved[0]);
        std::free(saved[1]);
        std::free(srcRows);
        std::free(dstRows);
    };
    if (!saved[0] || !saved[1] || !srcRows || !dstRows)
    {
        release();
        if (rowsLeft) *rowsLeft = height;
        return kImageNoMemory;
    }

    // One set of threads for every strip: the strips run one after the other (a 32-bit process
    // has room for one strip's planes at a time), the rows of their steps in parallel. Without
    // the threads the strips run on this thread alone, with the same result.
    const std::unique_ptr<WorkerPool> pool = MakeWorkerPool(CountProcessors() != 0 ? g_byCpuCount : 1);

    int savedTop = 0;  // saved[0] holds the original rows savedTop .. top - 1
    int top = 0;
    while (top < height)
    {
        const int bottom = top + rows < height ? top + rows : height;
        const int readTop = top - kDetailStripMargin > 0 ? top - kDetailStripMargin : 0;
        const int readBottom = bottom + kDetailStripMargin < height ? bottom + kDetailStripMargin : height;
        auto original = [&](int y) -> const unsigned char*
        { return y < top ? saved[0] + stride * static_cast<size_t>(y - savedTop) : pixels + stride * y; };
        for (int y = readTop; y < readBottom; ++y) srcRows[y - readTop] = original(y);
        for (int y = top; y < bottom; ++y) dstRows[y - top] = pixels + stride * y;
        const int nextSavedTop = bottom - kDetailStripMargin > 0 ? bottom - kDetailStripMargin : 0;
        if (bottom < height)
            for (int y = nextSavedTop; y < bottom; ++y)
                std::memcpy(saved[1] + stride * static_cast<size_t>(y - nextSavedTop), original(y), stride);
        const Band band{srcRows,        dstRows, image->m_iWidth, readBottom - readTop, image->m_iChannels,
                        image->m_iBits, 0,       top - readTop,   bottom - readTop};
        if (GainBand(band, gains, maxLevels, levelCap, pool.get()) != kImageOk)
        {
            if (rows > 64)
            {
                rows = RoundUp8(rows / 2);
                continue;
            }
            release();
            if (rowsLeft) *rowsLeft = height - top;
            return kImageNoMemory;
        }
        std::swap(saved[0], saved[1]);
        savedTop = nextSavedTop;
        top = bottom;
    }
    release();
    return kImageOk;
}
