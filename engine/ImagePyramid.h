// Gaussian/Laplacian pyramids of float planes: the three detail gains of a profile entry
// (finest, medium and coarse detail) applied to a denoised result, and the large chroma-spot pass
// that denoises a chroma plane at a quarter of its resolution.
#pragma once

#include "engine/ImageBuffer.h"
#include "engine/Platform.h"

#include <cstdint>

class WorkerPool;

constexpr int kPyramidMaxLevels = 4;  // levels 0..3, so at most 3 halvings
constexpr int kPyramidPlaneSets = 9;

// Plane sets of an ImagePyramid: the Gaussian levels (also the targets of a rebuild), the
// gain-scaled Laplacian work planes and the Laplacian levels, each for channels 0, 1, 2.
enum : int
{
    kPyramidSetGauss = 0,
    kPyramidSetWork = 3,
    kPyramidSetLaplace = 6
};

// A record starts empty (every plane null), so building on it again releases what it holds.
struct ImagePyramid
{
    uint32_t m_uiChannels = 0;
    uint32_t m_uiBits = 0;
    uint32_t m_uiWidth = 0;  // of level 0
    uint32_t m_uiHeight = 0;
    uint32_t m_uiLevels = 0;  // halvings n: the record holds levels 0..n
    uint32_t m_uiLevelWidth[kPyramidMaxLevels] = {};
    uint32_t m_uiLevelHeight[kPyramidMaxLevels] = {};
    float m_fKernel[5][5] = {};
    float* m_pPlanes[kPyramidPlaneSets][kPyramidMaxLevels] = {};  // row-major, level-sized, no padding
};

// The 5x5 pyramid kernel: the outer product of (0.05, 0.25, 0.4, 0.25, 0.05) with itself.
void MakePyramidKernel(float kernel[5][5]);

// REDUCE: out (outW x outH) from in (inW x inH) with the 5x5 window centred on (2r, 2c) and slid
// inward at the borders. Does nothing when outW or outH is below 5.
// pool: threads that share the rows (null: the calling thread alone); the result is the same.
void PyramidReduce(float* out, int outW, int outH, const float* in, int inW, int inH, const float kernel[5][5],
                   WorkerPool* pool = nullptr);

// EXPAND: out (outW x outH) from in (inW x inH, the next smaller level). When outW or outH is 4
// or less there is nothing to interpolate from and out is set to zero.
void PyramidExpand(float* out, int outW, int outH, const float* in, int inW, int inH, const float kernel[5][5],
                   WorkerPool* pool = nullptr);

// Number of halvings for an image: halve min(width, height) while it is above 4, at most
// maxLevels times, then at most levelCap (and never more than the record holds).
int PyramidLevelCount(int width, int height, int maxLevels, int levelCap);

// Builds the pyramid of a 1- or 3-channel 8- or 16-bit image. Returns false on success, true when
// the source is missing or unsupported or a plane could not be allocated; the planes allocated so
// far are recorded, so ReleaseImagePyramid frees them in every case. A record that already holds
// a pyramid is released first. With a pool the rows of each step are shared among its threads
// (the same planes as without).
bool BuildImagePyramid(ImagePyramid* pyramid, const ImageBuffer* source, int maxLevels, int levelCap,
                       WorkerPool* pool = nullptr);

// Rebuilds channel c into a one-channel plane of the pyramid's size and depth, with the finest
// Laplacian level scaled by gain1, the next by gain2 and the coarsest by gain3. Samples are
// clamped to the depth's range and truncated. Repeated calls with the same gains agree.
void CollapseWithGains(ImageBuffer* dst, ImagePyramid* pyramid, double gain1, double gain2, double gain3, int channel,
                       WorkerPool* pool = nullptr);

// Gains all within 0.00001 of 1 change nothing: the pyramid collapses to the picture it was made
// from, so callers skip building it.
inline bool DetailGainsAreNeutral(double gain1, double gain2, double gain3)
{
    auto nearOne = [](double g) { return g > 1.0 - 0.00001 && g < 1.0 + 0.00001; };
    return nearOne(gain1) && nearOne(gain2) && nearOne(gain3);
}

// Applies the three detail gains to dst, which must have the pyramid's channels, bits, width and
// height (otherwise 1, dst untouched). Gains all within 0.00001 of 1 leave dst untouched.
// Returns 0 on success, 6 when a work plane could not be allocated (dst untouched). A pool shares
// the rows of each step among its threads (the same bytes as without).
unsigned char ApplyDetailGains(ImageBuffer* dst, ImagePyramid* pyramid, double gain1, double gain2, double gain3,
                               WorkerPool* pool = nullptr);

// Frees every plane of the pyramid and leaves the record empty.
void ReleaseImagePyramid(ImagePyramid* pyramid);

// The large chroma-spot pass on one 8- or 16-bit plane (dst may be src): the plane's Gaussian
// level `halvings` deep is built, level 2 (a quarter of the size each way) is denoised with
// non-local means at the given strength, and the plane is rebuilt with all finer detail added
// back unchanged; pool (or, without one, threads the pass starts) runs the passes. Returns false
// on success; true when memory ran out, dst then holds src's pixels.
bool PyramidDenoise(ImageBuffer* dst, ImageBuffer* src, int strength, int iQuality, double dDynamics,
                    HpxProgressTarget hProgressDlg, int halvings, bool bGpu, int iThreads, WorkerPool* pool = nullptr);
