#include "BenchMetrics.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace
{

double Sample(const ImageBuffer* img, size_t index)
{
    return img->m_iBits == 8 ? static_cast<const unsigned char*>(img->m_pData)[index]
                             : static_cast<const uint16_t*>(img->m_pData)[index];
}

std::vector<float> Luma(const ImageBuffer* img)
{
    const size_t n = static_cast<size_t>(img->m_iWidth) * img->m_iHeight;
    const double scale = img->m_iBits == 8 ? 1.0 : 1.0 / 257.0;
    std::vector<float> y(n);
    for (size_t i = 0; i < n; ++i)
        y[i] = static_cast<float>(
            scale * (0.114 * Sample(img, 3 * i) + 0.587 * Sample(img, 3 * i + 1) + 0.299 * Sample(img, 3 * i + 2)));
    return y;
}

// Separable Gaussian filter (11 taps, sigma 1.5) with clamped borders.
void Blur(std::vector<float>& out, const std::vector<float>& in, int w, int h)
{
    float taps[11];
    float sum = 0;
    for (int i = 0; i < 11; ++i) sum += taps[i] = static_cast<float>(std::exp(-(i - 5) * (i - 5) / (2.0 * 1.5 * 1.5)));
    for (float& t : taps) t /= sum;
    std::vector<float> tmp(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            float s = 0;
            for (int k = -5; k <= 5; ++k)
            {
                const int xx = x + k < 0 ? 0 : (x + k >= w ? w - 1 : x + k);
                s += taps[k + 5] * in[static_cast<size_t>(y) * w + xx];
            }
            tmp[static_cast<size_t>(y) * w + x] = s;
        }
    out.resize(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            float s = 0;
            for (int k = -5; k <= 5; ++k)
            {
                const int yy = y + k < 0 ? 0 : (y + k >= h ? h - 1 : y + k);
                s += taps[k + 5] * tmp[static_cast<size_t>(yy) * w + x];
            }
            out[static_cast<size_t>(y) * w + x] = s;
        }
}

}  // namespace

double Psnr(const ImageBuffer* a, const ImageBuffer* b)
{
    const size_t n = static_cast<size_t>(a->m_iWidth) * a->m_iHeight * a->m_iChannels;
    double se = 0;
    for (size_t i = 0; i < n; ++i)
    {
        const double d = Sample(a, i) - Sample(b, i);
        se += d * d;
    }
    const double peak = a->m_iBits == 8 ? 255.0 : 65535.0;
    const double mse = se / static_cast<double>(n);
    return mse > 0 ? 10.0 * std::log10(peak * peak / mse) : 99.0;
}

double SsimLuma(const ImageBuffer* a, const ImageBuffer* b)
{
    const int w = a->m_iWidth, h = a->m_iHeight;
    const std::vector<float> x = Luma(a), y = Luma(b);
    std::vector<float> xx(x.size()), yy(x.size()), xy(x.size());
    for (size_t i = 0; i < x.size(); ++i)
    {
        xx[i] = x[i] * x[i];
        yy[i] = y[i] * y[i];
        xy[i] = x[i] * y[i];
    }
    std::vector<float> mx, my, sxx, syy, sxy;
    Blur(mx, x, w, h);
    Blur(my, y, w, h);
    Blur(sxx, xx, w, h);
    Blur(syy, yy, w, h);
    Blur(sxy, xy, w, h);
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    for (size_t i = 0; i < x.size(); ++i)
    {
        const double ux = mx[i], uy = my[i];
        const double vx = sxx[i] - ux * ux, vy = syy[i] - uy * uy, cxy = sxy[i] - ux * uy;
        total += ((2 * ux * uy + c1) * (2 * cxy + c2)) / ((ux * ux + uy * uy + c1) * (vx + vy + c2));
    }
    return total / static_cast<double>(x.size());
}
