// Median pre-filter.
//
// Radius 1 uses fixed min/max exchange networks (5-sample plus for 8 bits, full 3x3 for 16 bits)
// on the interior pixels, 16 or 8 pixels at a time with SSE2. Any other radius takes the 7x7
// window clipped to the image with a running multi-level histogram along each row, so each pixel
// costs one window column of updates plus a short rank search instead of a selection over 49
// values. Every path writes the element of rank n/2 of the n gathered samples, exactly as a
// partial selection over the window would.
#include "engine/Median.h"

#include "engine/ImageConvert.h"
#include "engine/KernelsAvx2.h"
#include "engine/ParallelPixelSteps.h"
#include "engine/ScopedImage.h"
#include "engine/SimdPath.h"
#include "engine/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{

// Median of five by min/max exchanges (a sorting network pruned to the middle output).
template <typename T> inline T Median5(T a, T b, T c, T d, T e)
{
    const T a1 = std::min(a, b), b1 = std::max(a, b);
    const T d1 = std::min(d, e), e1 = std::max(d, e);
    const T d2 = std::max(a1, d1);
    const T b2 = std::min(b1, e1);
    const T b3 = std::min(b2, c), c3 = std::max(b2, c);
    const T c4 = std::min(c3, d2);
    return std::max(b3, c4);
}

// Median of nine by the classic 19-exchange network; for eight 16-bit lanes at once through the
// lanes' own Sort2 below (found when the network is instantiated for them).
template <typename T> inline void Sort2(T& a, T& b)
{
    const T lo = std::min(a, b);
    b = std::max(a, b);
    a = lo;
}
template <typename T> inline T Median9(T p0, T p1, T p2, T p3, T p4, T p5, T p6, T p7, T p8)
{
    Sort2(p1, p2);
    Sort2(p4, p5);
    Sort2(p7, p8);
    Sort2(p0, p1);
    Sort2(p3, p4);
    Sort2(p6, p7);
    Sort2(p1, p2);
    Sort2(p4, p5);
    Sort2(p7, p8);
    Sort2(p0, p3);
    Sort2(p5, p8);
    Sort2(p4, p7);
    Sort2(p3, p6);
    Sort2(p1, p4);
    Sort2(p2, p5);
    Sort2(p4, p7);
    Sort2(p4, p2);
    Sort2(p6, p4);
    Sort2(p4, p2);
    return p4;
}

#if defined(__SSE2__)
// 16-bit lanes compared as unsigned through the sign flip (SSE2 has signed 16-bit min/max only).
struct U16x8
{
    __m128i v;
};
inline U16x8 LoadFlip(const uint16_t* p)
{
    return {_mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi16(-32768))};
}
inline void StoreFlip(uint16_t* p, U16x8 a)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_xor_si128(a.v, _mm_set1_epi16(-32768)));
}
inline U16x8 VMin(U16x8 a, U16x8 b) { return {_mm_min_epi16(a.v, b.v)}; }
inline U16x8 VMax(U16x8 a, U16x8 b) { return {_mm_max_epi16(a.v, b.v)}; }
inline void Sort2(U16x8& a, U16x8& b)
{
    const U16x8 lo = VMin(a, b);
    b = VMax(a, b);
    a = lo;
}
inline __m128i Median5x16(__m128i a, __m128i b, __m128i c, __m128i d, __m128i e)
{
    const __m128i a1 = _mm_min_epu8(a, b), b1 = _mm_max_epu8(a, b);
    const __m128i d1 = _mm_min_epu8(d, e), e1 = _mm_max_epu8(d, e);
    const __m128i d2 = _mm_max_epu8(a1, d1);
    const __m128i b2 = _mm_min_epu8(b1, e1);
    const __m128i b3 = _mm_min_epu8(b2, c), c3 = _mm_max_epu8(b2, c);
    const __m128i c4 = _mm_min_epu8(c3, d2);
    return _mm_max_epu8(b3, c4);
}
inline __m128i LoadU(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
#endif

// Rows yBegin .. yEnd - 1 of the interior (rows 1 .. h - 2); each reads only the source.
void Plus5Median8(uint8_t* dst, const uint8_t* src, int32_t w, int32_t h, int32_t yBegin, int32_t yEnd)
{
    for (int32_t y = yBegin < 1 ? 1 : yBegin; y < h - 1 && y < yEnd; ++y)
    {
        const uint8_t* up = src + static_cast<ptrdiff_t>(y - 1) * w;
        const uint8_t* mid = up + w;
        const uint8_t* down = mid + w;
        uint8_t* out = dst + static_cast<ptrdiff_t>(y) * w;
        int32_t x = UseAvx2() ? Plus5MedianRowAvx2(out, up, mid, down, 1, w - 1) : 1;
#if defined(__SSE2__)
        for (; x + 16 <= w - 1; x += 16)
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(out + x),
                Median5x16(LoadU(mid + x), LoadU(mid + x - 1), LoadU(mid + x + 1), LoadU(up + x), LoadU(down + x)));
#endif
        for (; x < w - 1; ++x) out[x] = Median5(mid[x], mid[x - 1], mid[x + 1], up[x], down[x]);
    }
}

void Square9Median16(uint16_t* dst, const uint16_t* src, int32_t w, int32_t h, int32_t yBegin, int32_t yEnd)
{
    for (int32_t y = yBegin < 1 ? 1 : yBegin; y < h - 1 && y < yEnd; ++y)
    {
        const uint16_t* up = src + static_cast<ptrdiff_t>(y - 1) * w;
        const uint16_t* mid = up + w;
        const uint16_t* down = mid + w;
        uint16_t* out = dst + static_cast<ptrdiff_t>(y) * w;
        int32_t x = UseAvx2() ? Square9MedianRowAvx2(out, up, mid, down, 1, w - 1) : 1;
#if defined(__SSE2__)
        for (; x + 8 <= w - 1; x += 8)
            StoreFlip(out + x,
                      Median9(LoadFlip(up + x - 1), LoadFlip(up + x), LoadFlip(up + x + 1), LoadFlip(mid + x - 1),
                              LoadFlip(mid + x), LoadFlip(mid + x + 1), LoadFlip(down + x - 1), LoadFlip(down + x),
                              LoadFlip(down + x + 1)));
#endif
        for (; x < w - 1; ++x)
            out[x] =
                Median9(up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x], mid[x + 1], down[x - 1], down[x], down[x + 1]);
    }
}

const int32_t kHalf = 3;  // 7x7 window

// Running histogram of the window. The top level (high 8 bits of the sample) tracks the bin
// that holds the wanted rank from pixel to pixel, which moves little along a row; below it, each
// further level splits a bin by 16 (16-bit samples: two more levels), so the rest of the search
// scans at most 16 bins per level.
template <int SubLevels> struct Histogram
{
    static constexpr int kBits = 8 + 4 * SubLevels;
    uint16_t* storage = nullptr;  // null when its memory could not be had
    uint16_t* top = nullptr;      // 256 bins
    uint16_t* sub[SubLevels > 0 ? SubLevels : 1] = {};
    int32_t count = 0;
    int32_t bin = 0;    // top-level bin tracked
    int32_t below = 0;  // samples in top-level bins below `bin`

    // The bins are taken on the thread that runs the rows; a histogram without them has
    // storage null, and its rows are not filtered (the step reports the failure).
    Histogram()
    {
        size_t total = 256;
        for (int l = 0; l < SubLevels; ++l) total += size_t(256) << (4 * (l + 1));
        storage = static_cast<uint16_t*>(std::calloc(total, sizeof(uint16_t)));
        if (storage == nullptr) return;
        top = storage;
        size_t at = 256;
        for (int l = 0; l < SubLevels; ++l)
        {
            sub[l] = storage + at;
            at += size_t(256) << (4 * (l + 1));
        }
    }
    ~Histogram() { std::free(storage); }
    Histogram(const Histogram&) = delete;
    Histogram& operator=(const Histogram&) = delete;
    void Add(uint32_t v)
    {
        const int32_t t = static_cast<int32_t>(v >> (kBits - 8));
        ++top[t];
        below += t < bin;
        for (int l = 0; l < SubLevels; ++l) ++sub[l][v >> (kBits - 8 - 4 * (l + 1))];
        ++count;
    }
    void Remove(uint32_t v)
    {
        const int32_t t = static_cast<int32_t>(v >> (kBits - 8));
        --top[t];
        below -= t < bin;
        for (int l = 0; l < SubLevels; ++l) --sub[l][v >> (kBits - 8 - 4 * (l + 1))];
        --count;
    }
    // Value of rank r (0-based, r < count) in ascending order.
    uint32_t Rank(int32_t r)
    {
        while (below > r) below -= top[--bin];
        while (below + top[bin] <= r) below += top[bin++];
        r -= below;
        uint32_t b = static_cast<uint32_t>(bin);
        for (int l = 0; l < SubLevels; ++l)
        {
            const uint16_t* c = sub[l] + (b << 4);
            uint32_t i = 0;
            while (r >= c[i])
            {
                r -= c[i];
                ++i;
            }
            b = (b << 4) + i;
        }
        return b;
    }
};

// 7x7 window clipped to the image, every pixel of rows yBegin .. yEnd - 1 written. One histogram
// slides along each row and is empty again at its end, so rows need no state of the rows before.
template <typename T, typename Hist>
void Window7Median(T* dst, const T* src, int32_t w, int32_t h, Hist& hist, int32_t yBegin, int32_t yEnd)
{
    for (int32_t y = yBegin; y < yEnd; ++y)
    {
        const int32_t y0 = y - kHalf < 0 ? 0 : y - kHalf;
        const int32_t y1 = y + kHalf > h - 1 ? h - 1 : y + kHalf;
        const T* top = src + static_cast<ptrdiff_t>(y0) * w;
        const int32_t rows = y1 - y0 + 1;
        // Columns 0 .. min(2, w-1) form the window of pixel 0 (minus nothing on the left).
        const int32_t firstCols = kHalf < w ? kHalf : w;
        for (int32_t x = 0; x < firstCols; ++x)
            for (int32_t r = 0; r < rows; ++r) hist.Add(top[static_cast<ptrdiff_t>(r) * w + x]);
        T* out = dst + static_cast<ptrdiff_t>(y) * w;
        for (int32_t x = 0; x < w; ++x)
        {
            const int32_t addCol = x + kHalf;
            if (addCol < w)
                for (int32_t r = 0; r < rows; ++r) hist.Add(top[static_cast<ptrdiff_t>(r) * w + addCol]);
            const int32_t dropCol = x - kHalf - 1;
            if (dropCol >= 0)
                for (int32_t r = 0; r < rows; ++r) hist.Remove(top[static_cast<ptrdiff_t>(r) * w + dropCol]);
            out[x] = static_cast<T>(hist.Rank(hist.count / 2));
        }
        // Empty the histogram by taking out what is left of the window (cheaper than clearing
        // the 16-bit one).
        for (int32_t x = w - 1 - kHalf < 0 ? 0 : w - 1 - kHalf; x < w; ++x)
            for (int32_t r = 0; r < rows; ++r) hist.Remove(top[static_cast<ptrdiff_t>(r) * w + x]);
    }
}

struct MedianRows
{
    ImageBuffer* dst;
    const ImageBuffer* src;
    int32_t radius;
    std::atomic<bool> bOutOfMemory;  // some rows could not get their histogram
};

void RunMedianRows(void* context, int yBegin, int yEnd)
{
    MedianRows* m = static_cast<MedianRows*>(context);
    const int32_t w = m->src->m_iWidth;
    const int32_t h = m->src->m_iHeight;
    const bool eightBit = m->src->m_iBits == 8;
    if (m->radius == 1)
    {
        if (eightBit)
            Plus5Median8(static_cast<uint8_t*>(m->dst->m_pData), static_cast<const uint8_t*>(m->src->m_pData), w, h,
                         yBegin, yEnd);
        else
            Square9Median16(static_cast<uint16_t*>(m->dst->m_pData), static_cast<const uint16_t*>(m->src->m_pData), w,
                            h, yBegin, yEnd);
        return;
    }
    if (eightBit)
    {
        Histogram<0> hist;
        if (hist.storage == nullptr)
        {
            m->bOutOfMemory.store(true);
            return;
        }
        Window7Median(static_cast<uint8_t*>(m->dst->m_pData), static_cast<const uint8_t*>(m->src->m_pData), w, h, hist,
                      yBegin, yEnd);
    }
    else
    {
        Histogram<2> hist;
        if (hist.storage == nullptr)
        {
            m->bOutOfMemory.store(true);
            return;
        }
        Window7Median(static_cast<uint16_t*>(m->dst->m_pData), static_cast<const uint16_t*>(m->src->m_pData), w, h,
                      hist, yBegin, yEnd);
    }
}

// CopyImagePixels in byte ranges over the pool's threads.
struct BlockCopy
{
    uint8_t* dst;
    const uint8_t* src;
    size_t bytes;
};

void RunBlockCopy(void* context, int begin, int end)
{
    const BlockCopy* c = static_cast<const BlockCopy*>(context);
    // In 64 bits: bytes x 256 passes 32 bits for planes of 16 MiB, and size_t has 32 on i686.
    const size_t from = static_cast<size_t>(static_cast<uint64_t>(c->bytes) * static_cast<uint64_t>(begin) / 256u);
    const size_t to = static_cast<size_t>(static_cast<uint64_t>(c->bytes) * static_cast<uint64_t>(end) / 256u);
    std::memcpy(c->dst + from, c->src + from, to - from);
}

void CopyPixels(WorkerPool* pool, ImageBuffer* dst, const ImageBuffer* src)
{
    const int32_t n = dst->m_iSize < src->m_iSize ? dst->m_iSize : src->m_iSize;
    if (pool == nullptr || n < (1 << 18) || !dst->m_pData || !src->m_pData || dst->m_pData == src->m_pData)
    {
        CopyImagePixels(dst, src);
        return;
    }
    BlockCopy copy{static_cast<uint8_t*>(dst->m_pData), static_cast<const uint8_t*>(src->m_pData),
                   static_cast<size_t>(n)};
    ParallelRows(pool, 256, PoolThreads(pool), 8, &RunBlockCopy, &copy);
}

}  // namespace

unsigned char MedianFilter(ImageBuffer* dst, const ImageBuffer* src, int32_t radius, WorkerPool* pool)
{
    CopyPixels(pool, dst, src);
    if (!dst->m_pData || !src->m_pData || src->m_iChannels != 1 || dst->m_iChannels != 1) return kImageOk;
    const int32_t w = src->m_iWidth;
    const int32_t h = src->m_iHeight;
    // Both planes are walked with the source's width as pitch; stay inside both blocks.
    const long long need = static_cast<long long>(w) * h * ImageBytesPerSample(src->m_iBits);
    if (w <= 0 || h <= 0 || need > dst->m_iSize || need > src->m_iSize) return kImageOk;
    const bool eightBit = src->m_iBits == 8;
    if (!eightBit && ImageBytesPerSample(src->m_iBits) != 2) return kImageOk;

    // Rows read only the source, so they are shared among the pool's threads.
    MedianRows rows{dst, src, radius, {false}};
    ParallelRows(pool, h, PoolThreads(pool), 16, &RunMedianRows, &rows);
    return rows.bOutOfMemory.load() ? kImageNoMemory : kImageOk;
}

unsigned char MedianFilterImage(ImageBuffer* dst, const ImageBuffer* src, int32_t radius, WorkerPool* pool)
{
    if (dst->m_iChannels == 1) return MedianFilter(dst, src, radius, pool);
    ScopedImage inHolder, outHolder;
    ImageBuffer& in = inHolder.img;
    ImageBuffer& out = outHolder.img;
    unsigned char result = kImageNoMemory;
    if (CreateImage(&in, src->m_iWidth, src->m_iHeight, 1, src->m_iBits) == kImageOk &&
        CreateImage(&out, src->m_iWidth, src->m_iHeight, 1, src->m_iBits) == kImageOk)
    {
        result = kImageOk;
        for (int32_t c = 0; c < src->m_iChannels && result == kImageOk; ++c)
        {
            // A channel that cannot be taken out or put back (a destination of another shape or
            // depth) leaves dst unfiltered: that is no success.
            if (ParallelPixelStep(pool, PoolThreads(pool), kStepExtract, &in, src, c) != kImageOk) return kImageBadArgs;
            result = MedianFilter(&out, &in, radius, pool);
            if (result == kImageOk && ParallelPixelStep(pool, PoolThreads(pool), kStepInsert, dst, &out, c) != kImageOk)
                return kImageBadArgs;
        }
    }
    return result;
}
