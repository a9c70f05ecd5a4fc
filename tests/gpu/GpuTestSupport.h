// Helpers shared by the in-process GPU tests: one GPU object per test program, a reference
// model of the GPU filter in double precision, and small image generators.
#pragma once

#include "gpu/Gpgpu.h"

#include <cstdint>
#include <vector>

// The test program's GPU object (made on first use; on every call it is made g_pGpgpu and its
// context current on the test thread).
CGPGPU* TestGpu();

// Deterministic pseudo-random samples.
struct TestRandom
{
    uint32_t state;
    explicit TestRandom(uint32_t seed) : state(seed * 2654435761u + 1u) {}
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

// Reference of one GPU run in double precision: padded noisy (nc = 1 or 3 samples per pixel)
// and padded guide (gc = 1 or 3) on the 0..256 float scale, W x H image, pad, the offsets to
// accumulate, variances (luma, chroma) and dynamics. Returns W x H x 3 normalised values
// (all three equal for a one-component run), in sample order.
std::vector<double> ReferenceNlm(const std::vector<double>& noisy, int nc, const std::vector<double>& guide, int gc,
                                 int width, int height, int pad, const std::vector<std::pair<int, int>>& offsets,
                                 double varianceY, double varianceUV, double dynamics);

// Search offsets (dy, dx) of a w x w window, the first half in raster order up to (0, 0).
std::vector<std::pair<int, int>> HalfWindow(int w);
