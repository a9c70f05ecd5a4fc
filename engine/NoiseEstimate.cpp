// Noise figures by Immerkaer's method.
//
// The mask responses are integers, so their absolute sums are accumulated exactly in 64-bit
// integers; the figure is the same in every build.
#include "engine/NoiseEstimate.h"

#include <cmath>
#include <cstdlib>

namespace
{

const double kPiAsStored = 3.14159265359;

// Response of the mask 1 -2 1 / -2 4 -2 / 1 -2 1 at sample s (step: next pixel, row: next row).
inline int32_t Laplace(const uint8_t* s, ptrdiff_t step, ptrdiff_t row)
{
    const uint8_t* u = s - row;
    const uint8_t* d = s + row;
    return (u[-step] + u[step] + d[-step] + d[step]) - 2 * (u[0] + d[0] + s[-step] + s[step]) + 4 * s[0];
}

// Pixel count of the interior times 12, in double so no image size overflows it.
inline double Denominator(const ImageBuffer* image)
{
    return static_cast<double>(image->m_iWidth - 2) * static_cast<double>(image->m_iHeight - 2) * 12.0;
}

inline bool HasInterior(const ImageBuffer* image)
{
    return image->m_pData && image->m_iWidth >= 3 && image->m_iHeight >= 3;
}

}  // namespace

double EstimateNoiseImmerkaerPlane(const ImageBuffer* image)
{
    if (!HasInterior(image) || image->m_iBits != 8 || image->m_iChannels != 1) return 0.0;
    const int32_t w = image->m_iWidth, h = image->m_iHeight;
    const uint8_t* base = static_cast<const uint8_t*>(image->m_pData);
    uint64_t sum = 0;
    for (int32_t y = 1; y < h - 1; ++y)
    {
        const uint8_t* s = base + static_cast<ptrdiff_t>(y) * w;
        uint32_t rowSum = 0;  // at most 16 x 255 x 32767 per row segment below
        for (int32_t x = 1; x < w - 1; ++x)
        {
            rowSum += static_cast<uint32_t>(std::abs(Laplace(s + x, 1, w)));
            if ((x & 0x7FFF) == 0)
            {
                sum += rowSum;
                rowSum = 0;
            }
        }
        sum += rowSum;
    }
    return std::sqrt(static_cast<double>(sum) / Denominator(image) * kPiAsStored);
}

NoiseSigma EstimateNoiseImmerkaer(NoiseSigma* out, const ImageBuffer* image)
{
    out->m_dLuma = 0.0;
    out->m_dChroma = 0.0;
    if (!HasInterior(image) || image->m_iBits != 8 || image->m_iChannels != 3) return *out;
    const int32_t w = image->m_iWidth, h = image->m_iHeight;
    const ptrdiff_t row = static_cast<ptrdiff_t>(w) * 3;
    const uint8_t* base = static_cast<const uint8_t*>(image->m_pData);
    uint64_t sumY = 0, sumC = 0;
    for (int32_t y = 1; y < h - 1; ++y)
    {
        const uint8_t* s = base + static_cast<ptrdiff_t>(y) * row + 3;
        uint32_t rowY = 0, rowC = 0;
        for (int32_t x = 1; x < w - 1; ++x, s += 3)
        {
            rowY += static_cast<uint32_t>(std::abs(Laplace(s, 3, row)));
            rowC += static_cast<uint32_t>(std::abs(Laplace(s + 1, 3, row) + Laplace(s + 2, 3, row)));
            if ((x & 0x3FFF) == 0)
            {
                sumY += rowY;
                sumC += rowC;
                rowY = 0;
                rowC = 0;
            }
        }
        sumY += rowY;
        sumC += rowC;
    }
    const double n = Denominator(image);
    out->m_dLuma = std::sqrt(static_cast<double>(sumY) / n * kPiAsStored);
    out->m_dChroma = std::sqrt(static_cast<double>(sumC) * 0.5 / n * kPiAsStored);
    return *out;
}
