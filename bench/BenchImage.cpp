#include "BenchImage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

bool ReadToken(FILE* f, std::string* token)
{
    token->clear();
    int c;
    for (;;)
    {
        c = std::fgetc(f);
        if (c == EOF) return false;
        if (c == '#')
        {
            while (c != '\n' && c != EOF) c = std::fgetc(f);
            continue;
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
    }
    while (c != EOF && c != ' ' && c != '\t' && c != '\r' && c != '\n')
    {
        token->push_back(static_cast<char>(c));
        c = std::fgetc(f);
    }
    return !token->empty();
}

// xorshift64* with a Box-Muller transform: the same sequence on every platform.
struct NoiseRng
{
    uint64_t s;
    explicit NoiseRng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ULL + 1) {}
    uint64_t Next()
    {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 2685821657736338717ULL;
    }
    double Uniform() { return (static_cast<double>(Next() >> 11) + 0.5) / 9007199254740992.0; }
    bool haveSpare = false;
    double spare = 0;
    double Gauss()
    {
        if (haveSpare)
        {
            haveSpare = false;
            return spare;
        }
        const double u = Uniform(), v = Uniform();
        const double r = std::sqrt(-2.0 * std::log(u));
        spare = r * std::sin(6.283185307179586 * v);
        haveSpare = true;
        return r * std::cos(6.283185307179586 * v);
    }
};

}  // namespace

bool ReadPpm(const std::string& path, ImageBuffer* image)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
    {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return false;
    }
    std::string magic, w, h, maxval;
    bool ok = ReadToken(f, &magic) && magic == "P6" && ReadToken(f, &w) && ReadToken(f, &h) && ReadToken(f, &maxval);
    const int width = ok ? std::atoi(w.c_str()) : 0;
    const int height = ok ? std::atoi(h.c_str()) : 0;
    const int maxv = ok ? std::atoi(maxval.c_str()) : 0;
    ok = ok && width > 0 && height > 0 && (maxv == 255 || maxv == 65535);
    const int bits = maxv == 255 ? 8 : 16;
    if (!ok || CreateImage(image, width, height, 3, bits) != kImageOk)
    {
        std::fprintf(stderr, "%s: not a P6 PPM of 8 or 16 bits\n", path.c_str());
        std::fclose(f);
        return false;
    }
    const size_t bytes = static_cast<size_t>(image->m_iSize);
    std::vector<unsigned char> raw(bytes);
    ok = std::fread(raw.data(), 1, bytes, f) == bytes;
    std::fclose(f);
    if (!ok)
    {
        std::fprintf(stderr, "%s: truncated\n", path.c_str());
        ReleaseImage(image);
        return false;
    }
    const size_t pixels = static_cast<size_t>(width) * height;
    if (bits == 8)
    {
        unsigned char* d = static_cast<unsigned char*>(image->m_pData);
        for (size_t i = 0; i < pixels; ++i)
        {
            d[3 * i + 0] = raw[3 * i + 2];
            d[3 * i + 1] = raw[3 * i + 1];
            d[3 * i + 2] = raw[3 * i + 0];
        }
    }
    else
    {
        uint16_t* d = static_cast<uint16_t*>(image->m_pData);
        for (size_t i = 0; i < pixels; ++i)
            for (int c = 0; c < 3; ++c)
            {
                const unsigned char* p = &raw[(3 * i + (2 - c)) * 2];
                d[3 * i + c] = static_cast<uint16_t>((p[0] << 8) | p[1]);
            }
    }
    return true;
}

bool CropImage(ImageBuffer* dst, const ImageBuffer* src, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (CreateImage(dst, width, height, src->m_iChannels, src->m_iBits) != kImageOk) return false;
    CopyImageRect(dst, src, 0, 0, x, y, width, height);
    return true;
}

bool AddGaussianNoise(ImageBuffer* dst, const ImageBuffer* src, double sigma8, uint64_t seed)
{
    if (CopyImageLayout(dst, src) != kImageOk) return false;
    NoiseRng rng(seed);
    const size_t n = static_cast<size_t>(src->m_iWidth) * src->m_iHeight * src->m_iChannels;
    if (src->m_iBits == 8)
    {
        const unsigned char* s = static_cast<const unsigned char*>(src->m_pData);
        unsigned char* d = static_cast<unsigned char*>(dst->m_pData);
        for (size_t i = 0; i < n; ++i)
        {
            const double v = std::floor(s[i] + sigma8 * rng.Gauss() + 0.5);
            d[i] = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
    else
    {
        const double sigma = sigma8 * 65535.0 / 255.0;
        const uint16_t* s = static_cast<const uint16_t*>(src->m_pData);
        uint16_t* d = static_cast<uint16_t*>(dst->m_pData);
        for (size_t i = 0; i < n; ++i)
        {
            const double v = std::floor(s[i] + sigma * rng.Gauss() + 0.5);
            d[i] = static_cast<uint16_t>(v < 0 ? 0 : (v > 65535 ? 65535 : v));
        }
    }
    return true;
}

bool WidenTo16(ImageBuffer* dst, const ImageBuffer* src)
{
    if (CreateImage(dst, src->m_iWidth, src->m_iHeight, src->m_iChannels, 16) != kImageOk) return false;
    const size_t n = static_cast<size_t>(src->m_iWidth) * src->m_iHeight * src->m_iChannels;
    const unsigned char* s = static_cast<const unsigned char*>(src->m_pData);
    uint16_t* d = static_cast<uint16_t*>(dst->m_pData);
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(s[i] * 257);
    return true;
}

bool MakeBarsPicture(ImageBuffer* img, int w, int h, int bits)
{
    if (CreateImage(img, w, h, 3, bits) != kImageOk) return false;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
            {
                int v = 30 + (x * 150) / w + c * 25 + (((x / 23) + (y / 31)) % 2) * 40;
                v = v > 255 ? 255 : v;
                const size_t i = (static_cast<size_t>(y) * w + x) * 3 + c;
                if (bits == 8)
                    static_cast<uint8_t*>(img->m_pData)[i] = static_cast<uint8_t>(v);
                else
                    static_cast<uint16_t*>(img->m_pData)[i] = static_cast<uint16_t>(v * 257);
            }
    return true;
}
