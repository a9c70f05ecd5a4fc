#include "engine/ImagePyramid.h"

#include "engine/ImageConvert.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/ParallelPixelSteps.h"
#include "engine/PyramidRows.h"
#include "engine/ScopedImage.h"
#include "engine/TileAlloc.h"
#include "engine/WorkerPool.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

const float kPyramidTaps[5] = {0.05f, 0.25f, 0.4f, 0.25f, 0.05f};

size_t PlaneSamples(int width, int height)
{
    return static_cast<size_t>(width > 0 ? width : 0) * static_cast<size_t>(height > 0 ? height : 0);
}

// A zeroed float plane; at least one element so that an empty level still counts as allocated.
float* AllocPlane(int width, int height) { return TileAllocFloats(PlaneSamples(width, height)); }

uint32_t MaxSample(int bits) { return bits == 8 ? 255u : (bits >= 16 ? 65535u : (1u << bits) - 1u); }

// Reads channel c of an 8- or 16-bit image into a float plane.
void ChannelToFloat(float* out, const ImageBuffer* image, int channel)
{
    const int w = image->m_iWidth;
    const int h = image->m_iHeight;
    const int ch = image->m_iChannels;
    for (int y = 0; y < h; ++y)
    {
        const unsigned char* row =
            static_cast<const unsigned char*>(image->m_pData) + static_cast<size_t>(y) * image->m_iStride;
        float* o = out + static_cast<size_t>(y) * w;
        if (image->m_iBits == 8)
            for (int x = 0; x < w; ++x) o[x] = static_cast<float>(row[x * ch + channel]);
        else
        {
            const uint16_t* r16 = reinterpret_cast<const uint16_t*>(row);
            for (int x = 0; x < w; ++x) o[x] = static_cast<float>(r16[x * ch + channel]);
        }
    }
}

// Writes a float plane into a one-channel 8- or 16-bit image, clamped to the depth's range;
// `round` adds 0.5 before truncating.
void FloatToPlane(ImageBuffer* image, const float* in, bool round)
{
    const int w = image->m_iWidth;
    const int h = image->m_iHeight;
    const float maxValue = static_cast<float>(MaxSample(image->m_iBits));
    const float bias = round ? 0.5f : 0.0f;
    for (int y = 0; y < h; ++y)
    {
        unsigned char* row = static_cast<unsigned char*>(image->m_pData) + static_cast<size_t>(y) * image->m_iStride;
        const float* s = in + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x)
        {
            float v = s[x] + bias;
            if (!(v > 0.0f)) v = 0.0f;
            if (v > maxValue) v = maxValue;
            if (image->m_iBits == 8)
                row[x] = static_cast<unsigned char>(v);
            else
                reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>(v);
        }
    }
}

bool IsPyramidSource(const ImageBuffer* image)
{
    return image != nullptr && image->m_pData != nullptr && image->m_iWidth > 0 && image->m_iHeight > 0 &&
        (image->m_iChannels == 1 || image->m_iChannels == 3) &&
        (image->m_iBits == 8 || (image->m_iBits > 8 && image->m_iBits <= 16));
}

}  // namespace

void MakePyramidKernel(float kernel[5][5])
{
    for (int u = 0; u < 5; ++u)
        for (int v = 0; v < 5; ++v) kernel[u][v] = kPyramidTaps[u] * kPyramidTaps[v];
}

namespace
{

// EXPAND straight from the 5 x 5 kernel, without work memory.
void ExpandDirect(float* out, int outW, int outH, const float* in, int inW, int inH, const float kernel[5][5])
{
    for (int r = 0; r < outH; ++r)
    {
        const ExpandAxisTaps rt = MakeExpandTaps(r, outH, inH);
        float* o = out + static_cast<size_t>(r) * outW;
        for (int c = 0; c < outW; ++c)
        {
            const ExpandAxisTaps ct = MakeExpandTaps(c, outW, inW);
            float sum = 0.0f;
            for (int i = 0; i < rt.count; ++i)
            {
                const float* row = in + static_cast<size_t>(rt.index[i]) * inW;
                for (int j = 0; j < ct.count; ++j) sum += kernel[rt.k[i]][ct.k[j]] * row[ct.index[j]];
            }
            o[c] = 4.0f * sum;
        }
    }
}

void ReduceDirect(float* out, int outW, int outH, const float* in, int inW, int inH, const float kernel[5][5])
{
    for (int r = 0; r < outH; ++r)
    {
        const int r0 = ReduceWindowStart(r, inH);
        float* o = out + static_cast<size_t>(r) * outW;
        for (int c = 0; c < outW; ++c)
        {
            const int c0 = ReduceWindowStart(c, inW);
            float sum = 0.0f;
            for (int u = 0; u < 5; ++u)
            {
                const float* row = in + static_cast<size_t>(r0 + u) * inW + c0;
                for (int v = 0; v < 5; ++v) sum += kernel[u][v] * row[v];
            }
            o[c] = sum;
        }
    }
}

}  // namespace

namespace
{

// Rows of the per-sample steps are shared among the pool's threads in slices of this many; planes
// below kPyramidParallelSamples samples run on the calling thread alone.
constexpr int kRowGrain = 8;

// The pool's work block that holds the level planes of a chroma-spot pass.
constexpr int kPyramidScratchSlot = 2;
// The pool's work block of a REDUCE or EXPAND.
constexpr int kRowsScratchSlot = 3;
int ThreadsFor(int outW, int outH, WorkerPool* pool) { return PyramidThreadsFor(outW, outH, pool); }

// a[k] = a[k] - b[k] (subtract) or a[k] = a[k] + b[k], row by row of a plane of width w.
struct CombinePass
{
    float* a;
    const float* b;
    int w;
    bool subtract;  // true: a = b - a, the Laplacian level from the level and its expansion
};

void CombineRows(void* context, int begin, int end)
{
    const CombinePass* p = static_cast<const CombinePass*>(context);
    const size_t k0 = static_cast<size_t>(begin) * p->w;
    const size_t k1 = static_cast<size_t>(end) * p->w;
    if (p->subtract)
        for (size_t k = k0; k < k1; ++k) p->a[k] = p->b[k] - p->a[k];
    else
        for (size_t k = k0; k < k1; ++k) p->a[k] += p->b[k];
}

struct PlaneRowsPass
{
    float* plane;
    ImageBuffer* image;
    bool toFloat;  // image -> plane, else plane -> image (one channel)
    int channel;   // the image's channel read into the plane
    bool round;    // plane -> image: add 0.5 before truncating
};

void PlaneRows(void* context, int begin, int end)
{
    const PlaneRowsPass* p = static_cast<const PlaneRowsPass*>(context);
    ImageBuffer rows = *p->image;
    rows.m_pData = static_cast<unsigned char*>(p->image->m_pData) + static_cast<size_t>(begin) * p->image->m_iStride;
    rows.m_iHeight = end - begin;
    float* plane = p->plane + static_cast<size_t>(begin) * p->image->m_iWidth;
    if (p->toFloat)
        ChannelToFloat(plane, &rows, p->channel);
    else
        FloatToPlane(&rows, plane, p->round);
}

// ChannelToFloat of one channel and FloatToPlane (rounded or truncated) of a whole plane, by rows
// on the pool.
void PlaneToFloatRows(float* out, const ImageBuffer* image, WorkerPool* pool, int channel = 0)
{
    PlaneRowsPass pass{out, const_cast<ImageBuffer*>(image), true, channel, false};
    ParallelRows(pool, image->m_iHeight, ThreadsFor(image->m_iWidth, image->m_iHeight, pool), kRowGrain, &PlaneRows,
                 &pass);
}

void FloatToPlaneRows(ImageBuffer* image, float* in, WorkerPool* pool, bool round = true)
{
    PlaneRowsPass pass{in, image, false, 0, round};
    ParallelRows(pool, image->m_iHeight, ThreadsFor(image->m_iWidth, image->m_iHeight, pool), kRowGrain, &PlaneRows,
                 &pass);
}

// The per-sample steps of one level, row by row of planes of width w.
struct LevelPass
{
    float* g;
    float* l;
    float* wk;
    int w;
    float gain;
};

// Building: the Laplacian level from the level and its expansion in the work plane, which is
// cleared again.
void LaplaceRows(void* context, int begin, int end)
{
    const LevelPass* p = static_cast<const LevelPass*>(context);
    const size_t k1 = static_cast<size_t>(end) * p->w;
    for (size_t k = static_cast<size_t>(begin) * p->w; k < k1; ++k)
    {
        p->l[k] = p->g[k] - p->wk[k];
        p->wk[k] = 0.0f;
    }
}

// Collapsing: the gained Laplacian level, kept in the work plane, added to the expanded coarser
// level.
void CollapseRows(void* context, int begin, int end)
{
    const LevelPass* p = static_cast<const LevelPass*>(context);
    const size_t k1 = static_cast<size_t>(end) * p->w;
    for (size_t k = static_cast<size_t>(begin) * p->w; k < k1; ++k)
    {
        p->wk[k] = p->gain * p->l[k];
        p->g[k] += p->wk[k];
    }
}

void LevelSteps(void (*rows)(void*, int, int), float* g, float* l, float* wk, int w, int h, float gain,
                WorkerPool* pool)
{
    LevelPass pass{g, l, wk, w, gain};
    ParallelRows(pool, h, ThreadsFor(w, h, pool), kRowGrain, rows, &pass);
}

}  // namespace

void PyramidReduce(float* out, int outW, int outH, const float* in, int inW, int inH, const float kernel[5][5],
                   WorkerPool* pool)
{
    if (outW < 5 || outH < 5 || inW < 5 || inH < 5) return;
    // The work plane is the pool's (kept from call to call) when there is one.
    const size_t rowBytes = sizeof(float) * PlaneSamples(outW, inH);
    float* rows =
        static_cast<float*>(pool != nullptr ? pool->Scratch(kRowsScratchSlot, rowBytes) : std::malloc(rowBytes));
    if (rows == nullptr)
    {
        ReduceDirect(out, outW, outH, in, inW, inH, kernel);
        return;
    }
    float k1[5];
    KernelTaps(kernel, k1);
    ReduceLevel(out, outW, outH, in, inW, inH, k1, rows, pool);
    if (pool == nullptr) std::free(rows);
}

void PyramidExpand(float* out, int outW, int outH, const float* in, int inW, int inH, const float kernel[5][5],
                   WorkerPool* pool)
{
    if (outW <= 4 || outH <= 4)
    {
        std::memset(out, 0, PlaneSamples(outW, outH) * sizeof(float));
        return;
    }
    const size_t rowBytes = sizeof(float) * PlaneSamples(outW, inH);
    float* rows =
        static_cast<float*>(pool != nullptr ? pool->Scratch(kRowsScratchSlot, rowBytes) : std::malloc(rowBytes));
    if (rows == nullptr)
    {
        ExpandDirect(out, outW, outH, in, inW, inH, kernel);
        return;
    }
    float k1[5];
    KernelTaps(kernel, k1);
    ExpandLevel(out, outW, outH, in, inW, inH, k1, rows, ExpandInto::kStore, 0.0f, pool);
    if (pool == nullptr) std::free(rows);
}

int PyramidLevelCount(int width, int height, int maxLevels, int levelCap)
{
    int n = 0;
    for (int s = width < height ? width : height; s > 4; s /= 2)
    {
        if (n >= maxLevels) break;
        ++n;
    }
    if (n > levelCap) n = levelCap;
    if (n > kPyramidMaxLevels - 1) n = kPyramidMaxLevels - 1;
    return n < 0 ? 0 : n;
}

bool BuildImagePyramid(ImagePyramid* pyramid, const ImageBuffer* source, int maxLevels, int levelCap, WorkerPool* pool)
{
    if (pyramid == nullptr) return true;
    ReleaseImagePyramid(pyramid);
    if (!IsPyramidSource(source)) return true;

    const int n = PyramidLevelCount(source->m_iWidth, source->m_iHeight, maxLevels, levelCap);
    pyramid->m_uiChannels = static_cast<uint32_t>(source->m_iChannels);
    pyramid->m_uiBits = static_cast<uint32_t>(source->m_iBits);
    pyramid->m_uiWidth = static_cast<uint32_t>(source->m_iWidth);
    pyramid->m_uiHeight = static_cast<uint32_t>(source->m_iHeight);
    pyramid->m_uiLevels = static_cast<uint32_t>(n);
    for (int i = 0; i <= n; ++i)
    {
        pyramid->m_uiLevelWidth[i] = static_cast<uint32_t>(source->m_iWidth >> i);
        pyramid->m_uiLevelHeight[i] = static_cast<uint32_t>(source->m_iHeight >> i);
        for (int set = 0; set < kPyramidPlaneSets; ++set)
        {
            pyramid->m_pPlanes[set][i] = AllocPlane(source->m_iWidth >> i, source->m_iHeight >> i);
            if (pyramid->m_pPlanes[set][i] == nullptr) return true;
        }
    }
    MakePyramidKernel(pyramid->m_fKernel);

    for (int c = 0; c < source->m_iChannels; ++c)
    {
        float** G = pyramid->m_pPlanes[kPyramidSetGauss + c];
        float** L = pyramid->m_pPlanes[kPyramidSetLaplace + c];
        float** Wk = pyramid->m_pPlanes[kPyramidSetWork + c];
        PlaneToFloatRows(G[0], source, pool, c);
        for (int i = 0; i < n; ++i)
        {
            const int w = static_cast<int>(pyramid->m_uiLevelWidth[i]);
            const int h = static_cast<int>(pyramid->m_uiLevelHeight[i]);
            const int w1 = static_cast<int>(pyramid->m_uiLevelWidth[i + 1]);
            const int h1 = static_cast<int>(pyramid->m_uiLevelHeight[i + 1]);
            PyramidReduce(G[i + 1], w1, h1, G[i], w, h, pyramid->m_fKernel, pool);
            // The work plane serves as scratch for the expanded level; it is cleared again.
            PyramidExpand(Wk[i], w, h, G[i + 1], w1, h1, pyramid->m_fKernel, pool);
            LevelSteps(&LaplaceRows, G[i], L[i], Wk[i], w, h, 0.0f, pool);
        }
    }
    return false;
}

void CollapseWithGains(ImageBuffer* dst, ImagePyramid* pyramid, double gain1, double gain2, double gain3, int channel,
                       WorkerPool* pool)
{
    if (dst == nullptr || dst->m_pData == nullptr || pyramid == nullptr || channel < 0 || channel > 2 ||
        static_cast<uint32_t>(channel) >= pyramid->m_uiChannels)
        return;
    const int n = static_cast<int>(pyramid->m_uiLevels);
    float** G = pyramid->m_pPlanes[kPyramidSetGauss + channel];
    float** L = pyramid->m_pPlanes[kPyramidSetLaplace + channel];
    float** Wk = pyramid->m_pPlanes[kPyramidSetWork + channel];
    for (int i = 0; i <= n; ++i)
        if (G[i] == nullptr || L[i] == nullptr || Wk[i] == nullptr) return;
    const float gains[3] = {static_cast<float>(gain1), static_cast<float>(gain2), static_cast<float>(gain3)};
    for (int i = n - 1; i >= 0; --i)
    {
        const int w = static_cast<int>(pyramid->m_uiLevelWidth[i]);
        const int h = static_cast<int>(pyramid->m_uiLevelHeight[i]);
        const float g = i < 3 ? gains[i] : 0.0f;
        PyramidExpand(G[i], w, h, G[i + 1], static_cast<int>(pyramid->m_uiLevelWidth[i + 1]),
                      static_cast<int>(pyramid->m_uiLevelHeight[i + 1]), pyramid->m_fKernel, pool);
        LevelSteps(&CollapseRows, G[i], L[i], Wk[i], w, h, g, pool);
    }
    FloatToPlaneRows(dst, G[0], pool, false);
}

unsigned char ApplyDetailGains(ImageBuffer* dst, ImagePyramid* pyramid, double gain1, double gain2, double gain3,
                               WorkerPool* pool)
{
    if (dst == nullptr || pyramid == nullptr) return kImageBadArgs;
    if (static_cast<uint32_t>(dst->m_iChannels) != pyramid->m_uiChannels ||
        static_cast<uint32_t>(dst->m_iBits) != pyramid->m_uiBits ||
        static_cast<uint32_t>(dst->m_iWidth) != pyramid->m_uiWidth ||
        static_cast<uint32_t>(dst->m_iHeight) != pyramid->m_uiHeight)
        return kImageBadArgs;
    if (DetailGainsAreNeutral(gain1, gain2, gain3)) return kImageOk;
    if (dst->m_pData == nullptr || pyramid->m_pPlanes[kPyramidSetGauss][0] == nullptr) return kImageBadArgs;

    if (dst->m_iChannels == 1)
    {
        CollapseWithGains(dst, pyramid, gain1, gain2, gain3, 0, pool);
        return kImageOk;
    }
    ScopedImage holder;
    ImageBuffer& plane = holder.img;
    if (TileCreateImage(&plane, dst->m_iWidth, dst->m_iHeight, 1, dst->m_iBits) != kImageOk) return kImageNoMemory;
    for (int c = 0; c < dst->m_iChannels; ++c)
    {
        CollapseWithGains(&plane, pyramid, gain1, gain2, gain3, c, pool);
        ParallelPixelStep(pool, PoolThreads(pool), kStepInsert, dst, &plane, c);
    }
    return kImageOk;
}

void ReleaseImagePyramid(ImagePyramid* pyramid)
{
    if (pyramid == nullptr) return;
    for (int set = 0; set < kPyramidPlaneSets; ++set)
        for (int i = 0; i < kPyramidMaxLevels; ++i)
        {
            std::free(pyramid->m_pPlanes[set][i]);
            pyramid->m_pPlanes[set][i] = nullptr;
        }
    *pyramid = ImagePyramid();
}

bool PyramidDenoise(ImageBuffer* dst, ImageBuffer* src, int strength, int iQuality, double dDynamics,
                    HpxProgressTarget hProgressDlg, int halvings, bool bGpu, int iThreads, WorkerPool* pool)
{
    if (dst == nullptr || src == nullptr || src->m_pData == nullptr || src->m_iChannels != 1 || !IsPyramidSource(src))
        return true;
    // dst must hold src's shape before anything is written into it.
    if (dst != src &&
        (dst->m_pData == nullptr || dst->m_iSize != src->m_iSize || dst->m_iWidth != src->m_iWidth ||
         dst->m_iHeight != src->m_iHeight || dst->m_iBits != src->m_iBits || dst->m_iChannels != 1))
    {
        if (TileCopyImageLayout(dst, src) != kImageOk) return true;
    }
    const int width = src->m_iWidth;
    const int height = src->m_iHeight;
    int n = halvings;
    if (n > kPyramidMaxLevels - 1) n = kPyramidMaxLevels - 1;
    if (n < 0) n = 0;

    float kernel[5][5];
    MakePyramidKernel(kernel);
    float* G[kPyramidMaxLevels] = {};
    float* L[kPyramidMaxLevels] = {};
    int lw[kPyramidMaxLevels] = {};
    int lh[kPyramidMaxLevels] = {};
    ScopedImage quarterHolder, denoisedHolder;
    ImageBuffer& quarter = quarterHolder.img;
    ImageBuffer& denoised = denoisedHolder.img;
    bool failed = false;

    // With a pool the level planes live in one block the pool keeps from call to call (two per
    // colour tile), so they are not allocated, faulted in and freed each time.
    const bool scratch = pool != nullptr;
    auto freeAll = [&]()
    {
        if (!scratch)
            for (int i = 0; i < kPyramidMaxLevels; ++i)
            {
                std::free(G[i]);
                std::free(L[i]);
            }
    };

    for (int i = 0; i <= n; ++i)
    {
        lw[i] = width >> i;
        lh[i] = height >> i;
    }
    if (scratch)
    {
        // Every plane at a multiple of 16 floats, at least one float each (as AllocPlane).
        auto rounded = [](size_t count) { return ((count > 0 ? count : 1) + 15) & ~static_cast<size_t>(15); };
        size_t total = 0;
        for (int i = 0; i <= n; ++i) total += rounded(PlaneSamples(lw[i], lh[i])) * (i < n ? 2 : 1);
        float* block = static_cast<float*>(pool->Scratch(kPyramidScratchSlot, total * sizeof(float) + 64));
        failed = block == nullptr;
        if (!failed)
        {
            // 64-byte alignment of the first plane, as the allocator would give.
            float* at =
                reinterpret_cast<float*>((reinterpret_cast<uintptr_t>(block) + 63) & ~static_cast<uintptr_t>(63));
            for (int i = 0; i <= n; ++i)
            {
                const size_t count = rounded(PlaneSamples(lw[i], lh[i]));
                G[i] = at;
                at += count;
                if (i < n)
                {
                    L[i] = at;
                    at += count;
                }
                // Level 0 and the Laplacian planes are written whole before they are read; a
                // reduced level is not written when it is too small to reduce into (it is then
                // read as zeros, as a fresh plane would be).
                if (i > 0) std::memset(G[i], 0, count * sizeof(float));
            }
        }
    }
    else
        for (int i = 0; i <= n && !failed; ++i)
        {
            G[i] = AllocPlane(lw[i], lh[i]);
            L[i] = i < n ? AllocPlane(lw[i], lh[i]) : nullptr;
            failed = G[i] == nullptr || (i < n && L[i] == nullptr);
        }
    if (failed)
    {
        freeAll();
        if (dst != src) CopyImagePixels(dst, src);
        return true;
    }

    PlaneToFloatRows(G[0], src, pool);
    for (int i = 0; i < n; ++i)
    {
        PyramidReduce(G[i + 1], lw[i + 1], lh[i + 1], G[i], lw[i], lh[i], kernel, pool);
        PyramidExpand(L[i], lw[i], lh[i], G[i + 1], lw[i + 1], lh[i + 1], kernel, pool);
        CombinePass diff{L[i], G[i], lw[i], true};
        ParallelRows(pool, lh[i], ThreadsFor(lw[i], lh[i], pool), kRowGrain, &CombineRows, &diff);
    }

    for (int j = n - 1; j >= 0 && !failed; --j)
    {
        if (j == 1 && lw[2] > 0 && lh[2] > 0)
        {
            // The quarter-size level goes through non-local means at the plane's own depth.
            if (TileCreateImage(&quarter, lw[2], lh[2], 1, src->m_iBits) != kImageOk ||
                TileCreateImage(&denoised, lw[2], lh[2], 1, src->m_iBits) != kImageOk)
            {
                failed = true;
                break;
            }
            FloatToPlane(&quarter, G[2], true);
            if (NlmPlaneDenoise(&denoised, &quarter, static_cast<double>(strength), iQuality, dDynamics, hProgressDlg,
                                bGpu, iThreads, pool) != kImageOk)
            {
                failed = true;
                break;
            }
            ChannelToFloat(G[2], &denoised, 0);
            // Given back at once: the larger levels still to come need the memory more.
            ReleaseImage(&quarter);
            ReleaseImage(&denoised);
        }
        PyramidExpand(G[j], lw[j], lh[j], G[j + 1], lw[j + 1], lh[j + 1], kernel, pool);
        CombinePass sum{G[j], L[j], lw[j], false};
        ParallelRows(pool, lh[j], ThreadsFor(lw[j], lh[j], pool), kRowGrain, &CombineRows, &sum);
    }

    if (failed)
    {
        freeAll();
        if (dst != src) CopyImagePixels(dst, src);
        return true;
    }
    FloatToPlaneRows(dst, G[0], pool);
    freeAll();
    return false;
}
