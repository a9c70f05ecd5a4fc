// The view's similarity transform and the preview resamplers.
//
// The resamplers clip each destination row to the run of pixels whose sample point lies in the
// source's safe rectangle (computed in doubles), then step 16.16 fixed-point positions along the
// run. Because the fixed-point step is rounded once per call, the stepped position can drift
// from the double one over long rows; the run is therefore split into the part whose stepped
// positions keep every kernel tap inside the source (the plain loop) and the few pixels at its
// ends whose positions are first clamped to the nearest position that does.
#include "engine/SimilarityTransform.h"

#include <cmath>
#include <cstdint>

namespace
{

const double kPi = 3.141592653589793;

// Double to int32 truncated toward zero, saturating instead of overflowing.
inline int32_t TruncSat32(double v)
{
    if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
    if (!(v < 2147483647.0)) return INT32_MAX;
    return static_cast<int32_t>(v);
}

// Double to int64 truncated toward zero, saturating (positions of absurd transforms).
inline int64_t TruncSat64(double v)
{
    const double lim = 9.0e18;
    if (v != v) return 0;
    if (v <= -lim) return -static_cast<int64_t>(lim);
    if (v >= lim) return static_cast<int64_t>(lim);
    return static_cast<int64_t>(v);
}

enum class Kernel
{
    Nearest,
    Bilinear,
    Bicubic
};

template <Kernel K> struct KernelTraits;
template <> struct KernelTraits<Kernel::Nearest>
{
    static constexpr double margin = 0.01, shift = 0.0;
    static constexpr int taps = 1;
};
template <> struct KernelTraits<Kernel::Bilinear>
{
    static constexpr double margin = 0.51, shift = 0.5;
    static constexpr int taps = 2;
};
template <> struct KernelTraits<Kernel::Bicubic>
{
    static constexpr double margin = 1.51, shift = 1.5;
    static constexpr int taps = 4;
};

// Cubic convolution weights (a = -0.5) in units of 1/65536 from the position's fraction.
inline void CubicWeights(int32_t t, int32_t w[4])
{
    const int32_t t2 = (t * t + 16384) >> 15;
    const int32_t t3 = (t2 * t + 16384) >> 15;
    w[0] = 2 * t2 - t3 - t;
    w[1] = 3 * t3 - 5 * t2 + 65536;
    w[2] = 4 * t2 - 3 * t3 + t;
    w[3] = t3 - t2;
}

// One destination pixel from the fixed-point position (X16, Y16); all taps must be inside.
template <Kernel K, int C, typename Pos>
inline void SamplePixel(uint8_t* out, const uint8_t* src, ptrdiff_t stride, Pos X16, Pos Y16)
{
    const ptrdiff_t ix = static_cast<ptrdiff_t>(X16 >> 16);
    const ptrdiff_t iy = static_cast<ptrdiff_t>(Y16 >> 16);
    const uint8_t* s = src + iy * stride + ix * C;
    if (K == Kernel::Nearest)
    {
        for (int c = 0; c < C; ++c) out[c] = s[c];
    }
    else if (K == Kernel::Bilinear)
    {
        const int32_t fx = static_cast<int32_t>(X16 & 0xFFFF);
        const int32_t fy = static_cast<int32_t>(Y16 & 0xFFFF);
        for (int c = 0; c < C; ++c)
        {
            const int32_t top = (s[c] * (65536 - fx) + s[c + C] * fx + 32768) >> 16;
            const int32_t bottom = (s[stride + c] * (65536 - fx) + s[stride + c + C] * fx + 32768) >> 16;
            out[c] = static_cast<uint8_t>((top * (65536 - fy) + bottom * fy + 32768) >> 16);
        }
    }
    else
    {
        int32_t wx[4], wy[4];
        CubicWeights(static_cast<int32_t>((X16 >> 1) & 0x7FFF), wx);
        CubicWeights(static_cast<int32_t>((Y16 >> 1) & 0x7FFF), wy);
        for (int c = 0; c < C; ++c)
        {
            int32_t acc = 0;
            const uint8_t* row = s + c;
            for (int r = 0; r < 4; ++r, row += stride)
            {
                const int32_t rr =
                    (row[0] * wx[0] + row[C] * wx[1] + row[2 * C] * wx[2] + row[3 * C] * wx[3] + 32768) >> 16;
                acc += rr * wy[r];
            }
            int32_t v = (acc + 32768) >> 16;
            out[c] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
}

// Horizontal pass of rows with a constant vertical position (angle 0): the row pointers and the
// vertical weights are fixed for the whole run.
template <Kernel K, int C, typename Pos>
void RunFlat(uint8_t* out, const uint8_t* src, ptrdiff_t stride, Pos X16, Pos Y16, Pos stepX, int32_t count)
{
    const ptrdiff_t iy = static_cast<ptrdiff_t>(Y16 >> 16);
    const uint8_t* r0 = src + iy * stride;
    if (K == Kernel::Nearest)
    {
        for (int32_t k = 0; k < count; ++k, X16 += stepX, out += C)
        {
            const uint8_t* s = r0 + static_cast<ptrdiff_t>(X16 >> 16) * C;
            for (int c = 0; c < C; ++c) out[c] = s[c];
        }
    }
    else if (K == Kernel::Bilinear)
    {
        const int32_t fy = static_cast<int32_t>(Y16 & 0xFFFF);
        const uint8_t* r1 = r0 + stride;
        for (int32_t k = 0; k < count; ++k, X16 += stepX, out += C)
        {
            const ptrdiff_t o = static_cast<ptrdiff_t>(X16 >> 16) * C;
            const int32_t fx = static_cast<int32_t>(X16 & 0xFFFF);
            const int32_t gx = 65536 - fx;
            for (int c = 0; c < C; ++c)
            {
                const int32_t top = (r0[o + c] * gx + r0[o + c + C] * fx + 32768) >> 16;
                const int32_t bottom = (r1[o + c] * gx + r1[o + c + C] * fx + 32768) >> 16;
                out[c] = static_cast<uint8_t>((top * (65536 - fy) + bottom * fy + 32768) >> 16);
            }
        }
    }
    else
    {
        int32_t wy[4];
        CubicWeights(static_cast<int32_t>((Y16 >> 1) & 0x7FFF), wy);
        const uint8_t* r1 = r0 + stride;
        const uint8_t* r2 = r1 + stride;
        const uint8_t* r3 = r2 + stride;
        for (int32_t k = 0; k < count; ++k, X16 += stepX, out += C)
        {
            const ptrdiff_t o = static_cast<ptrdiff_t>(X16 >> 16) * C;
            int32_t wx[4];
            CubicWeights(static_cast<int32_t>((X16 >> 1) & 0x7FFF), wx);
            for (int c = 0; c < C; ++c)
            {
                const ptrdiff_t p = o + c;
                const int32_t a0 =
                    (r0[p] * wx[0] + r0[p + C] * wx[1] + r0[p + 2 * C] * wx[2] + r0[p + 3 * C] * wx[3] + 32768) >> 16;
                const int32_t a1 =
                    (r1[p] * wx[0] + r1[p + C] * wx[1] + r1[p + 2 * C] * wx[2] + r1[p + 3 * C] * wx[3] + 32768) >> 16;
                const int32_t a2 =
                    (r2[p] * wx[0] + r2[p + C] * wx[1] + r2[p + 2 * C] * wx[2] + r2[p + 3 * C] * wx[3] + 32768) >> 16;
                const int32_t a3 =
                    (r3[p] * wx[0] + r3[p + C] * wx[1] + r3[p + 2 * C] * wx[2] + r3[p + 3 * C] * wx[3] + 32768) >> 16;
                const int32_t v = (a0 * wy[0] + a1 * wy[1] + a2 * wy[2] + a3 * wy[3] + 32768) >> 16;
                out[c] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
    }
}

template <Kernel K, int C, typename Pos>
void RunGeneral(uint8_t* out, const uint8_t* src, ptrdiff_t stride, Pos X16, Pos Y16, Pos stepX, Pos stepY,
                int32_t count)
{
    for (int32_t k = 0; k < count; ++k, X16 += stepX, Y16 += stepY, out += C)
        SamplePixel<K, C, Pos>(out, src, stride, X16, Y16);
}

template <Kernel K, int C, typename Pos>
void ResampleRows(ImageBuffer* dst, const ImageBuffer* src, const SimilarityTransform* xf)
{
    typedef KernelTraits<K> T;
    const int32_t W = src->m_iWidth, H = src->m_iHeight;
    const int32_t w = dst->m_iWidth, h = dst->m_iHeight;
    const double lowX = T::margin, highX = W - T::margin;
    const double lowY = T::margin, highY = H - T::margin;
    const double cs = xf->m_dCosScale, sn = xf->m_dSinScale;
    const int64_t stepX64 = TruncSat64(cs * 65536.0 + 0.5);
    const int64_t stepY64 = TruncSat64(sn * 65536.0 + 0.5);
    // Largest fixed-point positions whose taps stay inside the source.
    const int64_t maxX16 = (static_cast<int64_t>(W - T::taps + 1) << 16) - 1;
    const int64_t maxY16 = (static_cast<int64_t>(H - T::taps + 1) << 16) - 1;

    const uint8_t* sp = static_cast<const uint8_t*>(src->m_pData);
    const ptrdiff_t sstride = src->m_iStride;
    uint8_t* dp = static_cast<uint8_t*>(dst->m_pData);
    const ptrdiff_t dstride = dst->m_iStride;

    auto insideX = [&](double x) { return x >= lowX && x < highX; };
    auto insideY = [&](double y) { return y >= lowY && y < highY; };

    double rowX = xf->m_dOffsetX, rowY = xf->m_dOffsetY;
    for (int32_t j = 0; j < h; ++j, rowX -= sn, rowY += cs)
    {
        const double px = rowX, py = rowY;
        auto PX = [&](int32_t k) { return px + k * cs; };
        auto PY = [&](int32_t k) { return py + k * sn; };
        const bool firstIn = insideX(PX(0)) && insideY(PY(0));
        const bool lastIn = insideX(PX(w - 1)) && insideY(PY(w - 1));
        int32_t lo = 0, hi = w;
        if (!(firstIn && lastIn))
        {
            for (int bound = 0; bound < 4; ++bound)
            {
                const bool xAxis = bound < 2;
                const bool lowBound = (bound & 1) == 0;
                const double st = xAxis ? cs : sn;
                if (st == 0.0) continue;
                const double p = xAxis ? px : py;
                const double b = xAxis ? (lowBound ? lowX : highX) : (lowBound ? lowY : highY);
                double q = (b - p) / st;
                if (q != q) continue;
                // Only crossings inside (0, w) matter; keep the integer conversion defined.
                if (q < -2.0) q = -2.0;
                if (q > w + 2.0) q = w + 2.0;
                auto otherInside = [&](int32_t k) { return xAxis ? insideY(PY(k)) : insideX(PX(k)); };
                if (st > 0)
                {
                    const int32_t k = static_cast<int32_t>(std::ceil(q));
                    if (lo < k && k < hi)
                    {
                        if (lowBound)
                        {
                            if (otherInside(k)) lo = k;
                        }
                        else
                        {
                            if (otherInside(k - 1)) hi = k;
                        }
                    }
                }
                else
                {
                    const int32_t k = static_cast<int32_t>(std::floor(q)) + 1;
                    if (lo < k && k < hi)
                    {
                        if (lowBound)
                        {
                            if (otherInside(k - 1)) hi = k;
                        }
                        else
                        {
                            if (otherInside(k)) lo = k;
                        }
                    }
                }
            }
            if (!((lo > 0 || firstIn) && (hi < w || lastIn))) continue;
        }
        if (lo >= hi) continue;

        const int64_t x0 = TruncSat64((PX(lo) - T::shift) * 65536.0 + 0.5);
        const int64_t y0 = TruncSat64((PY(lo) - T::shift) * 65536.0 + 0.5);
        auto posX = [&](int32_t k) { return x0 + static_cast<int64_t>(k - lo) * stepX64; };
        auto posY = [&](int32_t k) { return y0 + static_cast<int64_t>(k - lo) * stepY64; };
        auto valid = [&](int32_t k)
        {
            const int64_t X = posX(k), Y = posY(k);
            return X >= 0 && X <= maxX16 && Y >= 0 && Y <= maxY16;
        };
        // Positions are linear in k, so the valid ones form one interval [a, b).
        int32_t a = lo, b = hi;
        while (a < b && !valid(a)) ++a;
        while (b > a && !valid(b - 1)) --b;

        uint8_t* drow = dp + static_cast<ptrdiff_t>(j) * dstride;
        auto clampedPixel = [&](int32_t k)
        {
            int64_t X = posX(k), Y = posY(k);
            X = X < 0 ? 0 : (X > maxX16 ? maxX16 : X);
            Y = Y < 0 ? 0 : (Y > maxY16 ? maxY16 : Y);
            SamplePixel<K, C, int64_t>(drow + static_cast<ptrdiff_t>(k) * C, sp, sstride, X, Y);
        };
        for (int32_t k = lo; k < a; ++k) clampedPixel(k);
        if (a < b)
        {
            const Pos X = static_cast<Pos>(posX(a)), Y = static_cast<Pos>(posY(a));
            const Pos sx = static_cast<Pos>(stepX64), sy = static_cast<Pos>(stepY64);
            uint8_t* out = drow + static_cast<ptrdiff_t>(a) * C;
            if (stepY64 == 0)
                RunFlat<K, C, Pos>(out, sp, sstride, X, Y, sx, b - a);
            else
                RunGeneral<K, C, Pos>(out, sp, sstride, X, Y, sx, sy, b - a);
        }
        for (int32_t k = (b > a ? b : a); k < hi; ++k) clampedPixel(k);
    }
}

template <Kernel K> void Resample(ImageBuffer* dst, const ImageBuffer* src, const SimilarityTransform* xf)
{
    const int32_t C = dst->m_iChannels;
    if (dst->m_iBits != 8 || (C != 1 && C != 3) || !dst->m_pData || dst->m_iWidth <= 0 || dst->m_iHeight <= 0) return;
    // The source is read with the destination's layout; anything else would read wrongly.
    if (src->m_iBits != 8 || src->m_iChannels != C || !src->m_pData) return;
    // 32-bit positions suffice while every valid position plus one step fits; huge sources or
    // extreme zoom-outs step in 64 bits instead.
    const bool wide = src->m_iWidth > 32000 || src->m_iHeight > 32000 || std::fabs(xf->m_dCosScale) > 16.0 ||
        std::fabs(xf->m_dSinScale) > 16.0;
    if (C == 1)
    {
        if (wide)
            ResampleRows<K, 1, int64_t>(dst, src, xf);
        else
            ResampleRows<K, 1, int32_t>(dst, src, xf);
    }
    else
    {
        if (wide)
            ResampleRows<K, 3, int64_t>(dst, src, xf);
        else
            ResampleRows<K, 3, int32_t>(dst, src, xf);
    }
}

}  // namespace

void SimilarityTransform::Set(double x, double y, double X, double Y, double angleDeg, double scale)
{
    const double a = angleDeg / 180.0 * kPi;
    m_dCosScale = std::cos(a) / scale;
    m_dSinScale = std::sin(a) / scale;
    m_dOffsetX = X - (m_dCosScale * x - m_dSinScale * y);
    m_dOffsetY = Y - (m_dSinScale * x + m_dCosScale * y);
}

SimilarityTransform& SimilarityTransform::Assign(double x, double y, double X, double Y, double angleDeg, double scale)
{
    Set(x, y, X, Y, angleDeg, scale);
    return *this;
}

void SimilarityTransform::MapForward(double* X, double* Y, int32_t x, int32_t y) const
{
    if (X) *X = x * m_dCosScale + m_dOffsetX - y * m_dSinScale;
    if (Y) *Y = y * m_dCosScale + m_dOffsetY + x * m_dSinScale;
}

void SimilarityTransform::MapInverse(int32_t* x, int32_t* y, double X, double Y) const
{
    const double d = m_dCosScale * m_dCosScale + m_dSinScale * m_dSinScale;
    const double dx = X - m_dOffsetX, dy = Y - m_dOffsetY;
    if (x) *x = TruncSat32((dx * m_dCosScale + dy * m_dSinScale) / d + 0.5);
    if (y) *y = TruncSat32((dy * m_dCosScale - dx * m_dSinScale) / d + 0.5);
}

void ResampleNearest(ImageBuffer* dst, const ImageBuffer* src, const SimilarityTransform* xf)
{
    if (src->m_iWidth < 1 || src->m_iHeight < 1) return;
    Resample<Kernel::Nearest>(dst, src, xf);
}

void ResampleBilinear(ImageBuffer* dst, const ImageBuffer* src, const SimilarityTransform* xf)
{
    if (src->m_iWidth < 2 || src->m_iHeight < 2)
    {
        ResampleNearest(dst, src, xf);
        return;
    }
    Resample<Kernel::Bilinear>(dst, src, xf);
}

void ResampleBicubic(ImageBuffer* dst, const ImageBuffer* src, const SimilarityTransform* xf)
{
    if (src->m_iWidth < 4 || src->m_iHeight < 4)
    {
        ResampleBilinear(dst, src, xf);
        return;
    }
    Resample<Kernel::Bicubic>(dst, src, xf);
}
