// Median pre-filter.
//
// Radius 1 uses fixed exchange networks (5-sample plus for 8 bits, full 3x3 for 16 bits) on the
// interior pixels. Any other radius takes the 7x7 window clipped to the image: the 8-bit plane
// keeps a running histogram per row, the 16-bit plane a two-level (high byte / full value)
// histogram, so each pixel costs one window column of updates plus a short rank search instead
// of a selection over 49 values. Every path writes the element of rank n/2 of the n gathered
// samples, exactly as a partial selection over the window would.
#include "engine/Median.h"

#include "engine/ImageConvert.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

template <typename T> inline void Sort2(T& a, T& b)
{
    const T lo = a < b ? a : b;
    const T hi = a < b ? b : a;
    a = lo;
    b = hi;
}

// Median of five values.
inline uint8_t Median5(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t e)
{
    Sort2(a, b);
    Sort2(c, d);
    // Drop the smaller of the two pair minima: it has three values above it.
    if (a < c) { a = e; Sort2(a, b); } else { c = e; Sort2(c, d); }
    // Four left, one of the two below the median again discarded.
    if (a < c) { a = b; } else { c = d; }
    return a < c ? a : c;
}

// Median of nine values by the classic 19-exchange network.
inline int32_t Median9(int32_t* p)
{
    Sort2(p[1], p[2]); Sort2(p[4], p[5]); Sort2(p[7], p[8]);
    Sort2(p[0], p[1]); Sort2(p[3], p[4]); Sort2(p[6], p[7]);
    Sort2(p[1], p[2]); Sort2(p[4], p[5]); Sort2(p[7], p[8]);
    Sort2(p[0], p[3]); Sort2(p[5], p[8]); Sort2(p[4], p[7]);
    Sort2(p[3], p[6]); Sort2(p[1], p[4]); Sort2(p[2], p[5]);
    Sort2(p[4], p[7]); Sort2(p[4], p[2]); Sort2(p[6], p[4]);
    Sort2(p[4], p[2]);
    return p[4];
}

void Plus5Median8(uint8_t* dst, const uint8_t* src, int32_t w, int32_t h)
{
    for (int32_t y = 1; y < h - 1; ++y) {
        const uint8_t* up = src + static_cast<ptrdiff_t>(y - 1) * w;
        const uint8_t* mid = up + w;
        const uint8_t* down = mid + w;
        uint8_t* out = dst + static_cast<ptrdiff_t>(y) * w;
        for (int32_t x = 1; x < w - 1; ++x)
            out[x] = Median5(mid[x], mid[x - 1], mid[x + 1], up[x], down[x]);
    }
}

void Square9Median16(uint16_t* dst, const uint16_t* src, int32_t w, int32_t h)
{
    int32_t v[9];
    for (int32_t y = 1; y < h - 1; ++y) {
        const uint16_t* up = src + static_cast<ptrdiff_t>(y - 1) * w;
        const uint16_t* mid = up + w;
        const uint16_t* down = mid + w;
        uint16_t* out = dst + static_cast<ptrdiff_t>(y) * w;
        for (int32_t x = 1; x < w - 1; ++x) {
            v[0] = up[x - 1];   v[1] = up[x];   v[2] = up[x + 1];
            v[3] = mid[x - 1];  v[4] = mid[x];  v[5] = mid[x + 1];
            v[6] = down[x - 1]; v[7] = down[x]; v[8] = down[x + 1];
            out[x] = static_cast<uint16_t>(Median9(v));
        }
    }
}

const int32_t kHalf = 3; // 7x7 window

// Running 8-bit histogram with 16 coarse bins of 16 values each.
struct Histogram8
{
    uint16_t fine[256];
    uint16_t coarse[16];
    int32_t count;

    Histogram8() { Clear(); }
    void Clear()
    {
        std::memset(fine, 0, sizeof(fine));
        std::memset(coarse, 0, sizeof(coarse));
        count = 0;
    }
    void Add(uint8_t v) { ++fine[v]; ++coarse[v >> 4]; ++count; }
    void Remove(uint8_t v) { --fine[v]; --coarse[v >> 4]; --count; }
    // Value of rank r (0-based) in ascending order.
    uint8_t Rank(int32_t r) const
    {
        int32_t c = 0;
        while (r >= coarse[c]) { r -= coarse[c]; ++c; }
        int32_t v = c << 4;
        while (r >= fine[v]) { r -= fine[v]; ++v; }
        return static_cast<uint8_t>(v);
    }
};

// Running 16-bit histogram: 256 coarse bins by high byte, 65536 fine bins.
struct Histogram16
{
    std::vector<uint16_t> fine;
    uint16_t coarse[256];
    int32_t count;

    Histogram16() : fine(65536, 0) { Clear(); }
    void Clear()
    {
        std::fill(fine.begin(), fine.end(), 0);
        std::memset(coarse, 0, sizeof(coarse));
        count = 0;
    }
    void Add(uint16_t v) { ++fine[v]; ++coarse[v >> 8]; ++count; }
    void Remove(uint16_t v) { --fine[v]; --coarse[v >> 8]; --count; }
    uint16_t Rank(int32_t r) const
    {
        int32_t c = 0;
        while (r >= coarse[c]) { r -= coarse[c]; ++c; }
        int32_t v = c << 8;
        const uint16_t* f = fine.data();
        while (r >= f[v]) { r -= f[v]; ++v; }
        return static_cast<uint16_t>(v);
    }
};

// 7x7 window clipped to the image, every pixel written. One histogram slides along each row.
template <typename T, typename Hist>
void Window7Median(T* dst, const T* src, int32_t w, int32_t h, Hist& hist)
{
    for (int32_t y = 0; y < h; ++y) {
        const int32_t y0 = y - kHalf < 0 ? 0 : y - kHalf;
        const int32_t y1 = y + kHalf > h - 1 ? h - 1 : y + kHalf;
        const T* top = src + static_cast<ptrdiff_t>(y0) * w;
        const int32_t rows = y1 - y0 + 1;
        // Columns 0 .. min(2, w-1) form the window of pixel 0 (minus nothing on the left).
        const int32_t firstCols = kHalf < w ? kHalf : w;
        for (int32_t x = 0; x < firstCols; ++x)
            for (int32_t r = 0; r < rows; ++r)
                hist.Add(top[static_cast<ptrdiff_t>(r) * w + x]);
        T* out = dst + static_cast<ptrdiff_t>(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            const int32_t addCol = x + kHalf;
            if (addCol < w)
                for (int32_t r = 0; r < rows; ++r)
                    hist.Add(top[static_cast<ptrdiff_t>(r) * w + addCol]);
            const int32_t dropCol = x - kHalf - 1;
            if (dropCol >= 0)
                for (int32_t r = 0; r < rows; ++r)
                    hist.Remove(top[static_cast<ptrdiff_t>(r) * w + dropCol]);
            out[x] = static_cast<T>(hist.Rank(hist.count / 2));
        }
        // Empty the histogram by taking out what is left of the window (cheaper than clearing
        // the 16-bit one).
        for (int32_t x = w - 1 - kHalf < 0 ? 0 : w - 1 - kHalf; x < w; ++x)
            for (int32_t r = 0; r < rows; ++r)
                hist.Remove(top[static_cast<ptrdiff_t>(r) * w + x]);
    }
}

} // namespace

void MedianFilter(ImageBuffer* dst, const ImageBuffer* src, int32_t radius)
{
    CopyImagePixels(dst, src);
    if (!dst->m_pData || !src->m_pData || src->m_iChannels != 1 || dst->m_iChannels != 1)
        return;
    const int32_t w = src->m_iWidth;
    const int32_t h = src->m_iHeight;
    // Both planes are walked with the source's width as pitch; stay inside both blocks.
    const long long need = static_cast<long long>(w) * h * ImageBytesPerSample(src->m_iBits);
    if (w <= 0 || h <= 0 || need > dst->m_iSize || need > src->m_iSize)
        return;
    const bool eightBit = src->m_iBits == 8;
    if (!eightBit && ImageBytesPerSample(src->m_iBits) != 2)
        return;

    if (radius == 1) {
        if (eightBit)
            Plus5Median8(static_cast<uint8_t*>(dst->m_pData),
                         static_cast<const uint8_t*>(src->m_pData), w, h);
        else
            Square9Median16(static_cast<uint16_t*>(dst->m_pData),
                            static_cast<const uint16_t*>(src->m_pData), w, h);
        return;
    }
    if (eightBit) {
        Histogram8 hist;
        Window7Median(static_cast<uint8_t*>(dst->m_pData), static_cast<const uint8_t*>(src->m_pData),
                      w, h, hist);
    } else {
        Histogram16 hist;
        Window7Median(static_cast<uint16_t*>(dst->m_pData),
                      static_cast<const uint16_t*>(src->m_pData), w, h, hist);
    }
}

void MedianFilterImage(ImageBuffer* dst, const ImageBuffer* src, int32_t radius)
{
    if (dst->m_iChannels == 1) {
        MedianFilter(dst, src, radius);
        return;
    }
    ImageBuffer in, out;
    InitImage(&in);
    InitImage(&out);
    if (CreateImage(&in, src->m_iWidth, src->m_iHeight, 1, src->m_iBits) == kImageOk &&
        CreateImage(&out, src->m_iWidth, src->m_iHeight, 1, src->m_iBits) == kImageOk) {
        for (int32_t c = 0; c < src->m_iChannels; ++c) {
            if (ExtractChannel(&in, c, src) != kImageOk)
                continue;
            MedianFilter(&out, &in, radius);
            InsertChannel(dst, c, &out);
        }
    }
    ReleaseImage(&in);
    ReleaseImage(&out);
}
