#include "GpuTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

CGPGPU* TestGpu()
{
    static CGPGPU* gpu = nullptr;
    if (!gpu)
    {
        gpu = new CGPGPU;
        gpu->Initialize();
    }
    // Tests that make objects of their own leave the global and the current context to them.
    g_pGpgpu = gpu;
    gpu->MakeCurrent();
    return gpu;
}

std::vector<std::pair<int, int>> HalfWindow(int w)
{
    std::vector<std::pair<int, int>> out;
    for (int k = 0; k <= w * w / 2; ++k) out.push_back({k / w - w / 2, k % w - w / 2});
    return out;
}

std::vector<double> ReferenceNlm(const std::vector<double>& noisy, int nc, const std::vector<double>& guide, int gc,
                                 int width, int height, int pad, const std::vector<std::pair<int, int>>& offsets,
                                 double varianceY, double varianceUV, double dynamics)
{
    const int wp = width + 2 * pad, hp = height + 2 * pad, wh = wp / 2, hh = hp / 2;
    const int comps = gc;  // components with their own distances
    auto g = [&](int x, int y, int k) { return guide[(static_cast<size_t>(y) * wp + x) * gc + k]; };
    auto v = [&](int x, int y, int k)
    {
        x = std::clamp(x, 0, wp - 1);
        y = std::clamp(y, 0, hp - 1);
        return noisy[(static_cast<size_t>(y) * wp + x) * nc + (nc == 1 ? 0 : k)];
    };
    std::vector<double> wsum(static_cast<size_t>(width) * height * 3, 0.0), vsum(wsum.size(), 0.0);
    std::vector<double> diff(static_cast<size_t>(wp) * hp * comps), sum(static_cast<size_t>(wh) * hh * comps),
        box(sum.size()), weight(static_cast<size_t>(wp) * hp * comps);
    const bool color = gc == 3;
    const bool light = color ? dynamics >= 0.00001 : dynamics >= 0.0;
    const double s = std::fabs(dynamics) / 256.0;
    for (auto [dy, dx] : offsets)
    {
        for (int y = 0; y < hp; ++y)
            for (int x = 0; x < wp; ++x)
                for (int k = 0; k < comps; ++k)
                {
                    const bool in = x + dx >= 0 && x + dx < wp && y + dy >= 0 && y + dy < hp;
                    diff[(static_cast<size_t>(y) * wp + x) * comps + k] =
                        in ? std::fabs(g(x + dx, y + dy, k) - g(x, y, k)) : 0.0;
                }
        auto d = [&](int x, int y, int k) { return diff[(static_cast<size_t>(y) * wp + x) * comps + k]; };
        for (int j = 0; j < hh; ++j)
            for (int i = 0; i < wh; ++i)
                for (int k = 0; k < comps; ++k)
                    sum[(static_cast<size_t>(j) * wh + i) * comps + k] = d(2 * i, 2 * j, k) + d(2 * i + 1, 2 * j, k) +
                        d(2 * i, 2 * j + 1, k) + d(2 * i + 1, 2 * j + 1, k);
        for (int j = 0; j < hh; ++j)
            for (int i = 0; i < wh; ++i)
                for (int k = 0; k < comps; ++k)
                {
                    double b = 0;
                    for (int a = -1; a <= 1; ++a)
                        for (int c = -1; c <= 1; ++c)
                        {
                            const int ii = std::clamp(i + a, 0, wh - 1), jj = std::clamp(j + c, 0, hh - 1);
                            b += sum[(static_cast<size_t>(jj) * wh + ii) * comps + k];
                        }
                    box[(static_cast<size_t>(j) * wh + i) * comps + k] = b;
                }
        for (int y = 0; y < hp; ++y)
            for (int x = 0; x < wp; ++x)
                for (int k = 0; k < comps; ++k)
                {
                    const double S = box[(static_cast<size_t>(y / 2) * wh + x / 2) * comps + k];
                    // Component k in sample order: 0 luma, 1 and 2 chroma.
                    const double var = (!color || k == 0) ? varianceY : varianceUV;
                    const double level = v(x, y, k);
                    const double gd = light ? level : (color ? 255.0 : 256.0) - level;
                    const double vv = (gd * s + 1.0) * var * 300.0;
                    weight[(static_cast<size_t>(y) * wp + x) * comps + k] = S > 0 ? std::exp(-(S * S * S) / vv) : 1.0;
                }
        auto wt = [&](int x, int y, int k)
        {
            x = std::clamp(x, 0, wp - 1);
            y = std::clamp(y, 0, hp - 1);
            return weight[(static_cast<size_t>(y) * wp + x) * comps + (comps == 1 ? 0 : k)];
        };
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < 3; ++k)
                {
                    const int px = x + pad, py = y + pad;
                    const size_t o = (static_cast<size_t>(y) * width + x) * 3 + k;
                    if (dx == 0 && dy == 0)
                    {
                        wsum[o] += wt(px, py, k);
                        vsum[o] += wt(px, py, k) * v(px, py, k);
                    }
                    else
                    {
                        const double wb = wt(px - dx, py - dy, k), wf = wt(px, py, k);
                        wsum[o] += wb + wf;
                        vsum[o] += wb * v(px - dx, py - dy, k) + wf * v(px + dx, py + dy, k);
                    }
                }
    }
    for (size_t i = 0; i < wsum.size(); ++i) vsum[i] /= wsum[i];
    return vsum;
}
