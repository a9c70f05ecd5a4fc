// Control skin: the HSI colour model (hue, saturation and intensity, each 0..255) behind the
// skin's gloss.
#include "ui/ControlSkin.h"

#include <algorithm>
#include <cmath>

void RgbToHsi(COLORREF rgb, BYTE& hue, BYTE& saturation, BYTE& intensity)
{
    const int r = GetRValue(rgb), g = GetGValue(rgb), b = GetBValue(rgb);
    if (r == g && g == b)
    {
        hue = 0;
        saturation = 0;
        intensity = static_cast<BYTE>(r);
        return;
    }
    const double sum = r + g + b;
    intensity = static_cast<BYTE>(std::lround(sum / 3.0));
    const int mn = std::min(r, std::min(g, b));
    saturation = static_cast<BYTE>(std::lround(255.0 * (1.0 - 3.0 * mn / sum)));
    const double num = ((r - g) + (r - b)) / 2.0;
    const double den = std::sqrt(static_cast<double>(r - g) * (r - g) + static_cast<double>(r - b) * (g - b));
    double c = den > 0 ? num / den : 1.0;
    c = std::max(-1.0, std::min(1.0, c));
    const double theta = std::acos(c);
    const double twoPi = 2.0 * 3.14159265358979323846;
    long hv = b > g ? std::lround(255.0 * (1.0 - theta / twoPi)) : std::lround(255.0 * theta / twoPi);
    hue = static_cast<BYTE>(std::max(0L, std::min(255L, hv)));
}

COLORREF HsiToRgb(BYTE hue, BYTE saturation, BYTE intensity)
{
    if (intensity == 0) return RGB(0, 0, 0);
    if (saturation == 0) return RGB(intensity, intensity, intensity);
    const double pi = 3.14159265358979323846;
    const double h = hue * 2.0 * pi / 255.0, s = saturation / 255.0;
    auto k = [s, pi](double x) { return (1.0 + s * std::cos(x) / std::cos(pi / 3.0 - x)) / 3.0; };
    const double m = (1.0 - s) / 3.0;
    double r, g, b;
    if (h <= 2.0 * pi / 3.0)
    {
        r = k(h);
        b = m;
        g = 1.0 - r - b;
    }
    else if (h <= 4.0 * pi / 3.0)
    {
        const double x = h - 2.0 * pi / 3.0;
        g = k(x);
        r = m;
        b = 1.0 - r - g;
    }
    else
    {
        const double x = h - 4.0 * pi / 3.0;
        b = k(x);
        g = m;
        r = 1.0 - g - b;
    }
    auto chan = [intensity](double f)
    {
        double v = f * 3.0 * intensity;
        if (v < 0) v = 0;
        return static_cast<BYTE>(std::min(255, static_cast<int>(v)));
    };
    return RGB(chan(r), chan(g), chan(b));
}
