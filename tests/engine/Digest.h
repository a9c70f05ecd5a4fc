// Helpers for byte-identity tests of engine kernels.
//
// The same kernel on the same input must give the same bytes in the native build and in the
// 32-bit Windows build. A test fills its inputs with the deterministic generators below, runs
// the kernel, and compares DigestImage() of the output with a constant committed in the test.
// The generators use only integer arithmetic, so they produce identical images everywhere.
//
//   ImageBuffer img; InitImage(&img);
//   MakeNoisyImage(&img, 97, 61, 3, 8, /*seed=*/1);   // smooth pattern plus noise
//   ... kernel ...
//   EXPECT_EQ(DigestImage(&out), 0x0123456789abcdefULL);
//
// To (re)compute a constant, run the test once and read the printed "digest 0x..." line.
#pragma once

#include "engine/ImageBuffer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace hpxtest
{

// FNV-1a 64 over a byte range.
inline uint64_t Fnv1a64(const void* data, size_t bytes, uint64_t h = 0xcbf29ce484222325ULL)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < bytes; ++i)
    {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

// Digest of an image: its seven-field shape (pointer excluded) followed by its pixel block.
inline uint64_t DigestImage(const ImageBuffer* image)
{
    const int32_t shape[6] = {image->m_iSize,   image->m_iStride,   image->m_iWidth,
                              image->m_iHeight, image->m_iChannels, image->m_iBits};
    uint64_t h = Fnv1a64(shape, sizeof(shape));
    if (image->m_pData && image->m_iSize > 0) h = Fnv1a64(image->m_pData, static_cast<size_t>(image->m_iSize), h);
    return h;
}

// Prints a digest in the form used to update the constants.
inline void PrintDigest(const char* what, uint64_t digest)
{
    std::printf("digest %s 0x%016llx\n", what, static_cast<unsigned long long>(digest));
}

// Small fixed-seed generator (xorshift32 on a splitmix-style seeded state).
struct TestRng
{
    uint32_t state;
    explicit TestRng(uint32_t seed) : state(seed * 2654435761u + 0x9E3779B9u)
    {
        if (!state) state = 1;
    }
    uint32_t Next()
    {
        uint32_t x = state;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return state = x;
    }
    // Uniform in [0, n).
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>((static_cast<uint64_t>(Next()) * n) >> 32); }
};

// Largest sample value of an integer depth (8 -> 255, 15 -> 32767, 16 -> 65535).
inline uint32_t MaxSample(int32_t bits) { return bits >= 32 ? 65535u : (1u << bits) - 1u; }

inline void StoreSample(ImageBuffer* image, size_t index, uint32_t v)
{
    switch (image->m_iBits)
    {
    case 8:
        static_cast<uint8_t*>(image->m_pData)[index] = static_cast<uint8_t>(v);
        break;
    case 32:
        static_cast<float*>(image->m_pData)[index] = static_cast<float>(v);
        break;
    case 64:
        static_cast<double*>(image->m_pData)[index] = static_cast<double>(v);
        break;
    default:
        static_cast<uint16_t*>(image->m_pData)[index] = static_cast<uint16_t>(v);
        break;
    }
}

// Uniform random samples over the depth's full range (32/64-bit planes: integers 0..65535).
inline bool MakeRandomImage(ImageBuffer* image, int32_t width, int32_t height, int32_t channels, int32_t bits,
                            uint32_t seed)
{
    if (CreateImage(image, width, height, channels, bits) != kImageOk) return false;
    TestRng rng(seed);
    const uint32_t range = MaxSample(bits) + 1u;
    const size_t n = static_cast<size_t>(width) * height * channels;
    for (size_t i = 0; i < n; ++i) StoreSample(image, i, rng.Below(range));
    return true;
}

// A photograph-like image: smooth gradients and a few edges (different per channel) plus
// uniform noise of +-amplitude (in 8-bit units; scaled to the depth), clamped to the range.
inline bool MakeNoisyImage(ImageBuffer* image, int32_t width, int32_t height, int32_t channels, int32_t bits,
                           uint32_t seed, int32_t amplitude = 20)
{
    if (CreateImage(image, width, height, channels, bits) != kImageOk) return false;
    TestRng rng(seed);
    const int64_t maxv = MaxSample(bits);
    const int64_t scale = (maxv + 1) / 256;  // 1 for 8 bits, 128 for 15, 256 for 16 and floats
    size_t i = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < channels; ++c, ++i)
            {
                int64_t base = 40 + (x * 150) / (width > 1 ? width : 1) + (y * 50) / (height > 1 ? height : 1) + c * 10;
                if (((x / 16) + (y / 16) + c) % 5 == 0) base += 40;  // blocks with sharp edges
                const int64_t noise = static_cast<int64_t>(rng.Below(2u * amplitude + 1u)) - amplitude;
                int64_t v = (base + noise) * scale;
                v = v < 0 ? 0 : (v > maxv ? maxv : v);
                StoreSample(image, i, static_cast<uint32_t>(v));
            }
    return true;
}

}  // namespace hpxtest
