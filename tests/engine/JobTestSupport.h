// Shared helpers of the blur, pyramid, tile and job tests: owned images, a progress sink that
// counts, stand-in GPU hook entries that run the CPU passes, and processor-count limits.
#pragma once

#include "engine/DenoiseImage.h"
#include "engine/DenoiseTile.h"
#include "engine/GpuHook.h"
#include "engine/ImageBuffer.h"
#include "engine/ImageConvert.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/Platform.h"
#include "engine/ScopedImage.h"
#include "engine/TileAlloc.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#endif

namespace jobtest
{

using Owned = ScopedImage;

inline bool CopyOf(ImageBuffer* dst, const ImageBuffer* src)
{
    if (CopyImageLayout(dst, src) != kImageOk) return false;
    CopyImagePixels(dst, src);
    return true;
}

inline bool SameBytes(const ImageBuffer* a, const ImageBuffer* b)
{
    return a->m_iSize == b->m_iSize && a->m_iWidth == b->m_iWidth && a->m_iHeight == b->m_iHeight &&
        a->m_iChannels == b->m_iChannels && a->m_iBits == b->m_iBits && a->m_pData != nullptr &&
        b->m_pData != nullptr && std::memcmp(a->m_pData, b->m_pData, static_cast<size_t>(a->m_iSize)) == 0;
}

// True when the rectangle [x0, x1) x [y0, y1) of a and b holds the same bytes.
inline bool SameRect(const ImageBuffer* a, const ImageBuffer* b, int x0, int y0, int x1, int y1)
{
    const int bpp = ImageBytesPerSample(a->m_iBits) * a->m_iChannels;
    for (int y = y0; y < y1; ++y)
    {
        const unsigned char* ra = static_cast<const unsigned char*>(a->m_pData) + static_cast<size_t>(y) * a->m_iStride;
        const unsigned char* rb = static_cast<const unsigned char*>(b->m_pData) + static_cast<size_t>(y) * b->m_iStride;
        if (std::memcmp(ra + x0 * bpp, rb + x0 * bpp, static_cast<size_t>((x1 - x0) * bpp)) != 0) return false;
    }
    return true;
}

// True when every byte of the rectangle equals value.
inline bool RectIsByte(const ImageBuffer* a, int x0, int y0, int x1, int y1, unsigned char value)
{
    const int bpp = ImageBytesPerSample(a->m_iBits) * a->m_iChannels;
    for (int y = y0; y < y1; ++y)
    {
        const unsigned char* r = static_cast<const unsigned char*>(a->m_pData) + static_cast<size_t>(y) * a->m_iStride;
        for (int i = x0 * bpp; i < x1 * bpp; ++i)
            if (r[i] != value) return false;
    }
    return true;
}

inline HpxProgressTarget FakeProgressWindow()
{
    static int tag;
    return reinterpret_cast<HpxProgressTarget>(&tag);
}

// Counts progress set-ups and steps; can run a callback on a step (on the job's thread).
struct RecordingSink
{
    std::atomic<int> setups{0};
    std::atomic<uint32_t> total{0};
    std::atomic<int> steps{0};
    bool abortOnSetup = false;
    std::mutex mutex;
    std::vector<std::thread::id> stepThreads;  // thread of each step, in order
    void (*onStep)(RecordingSink*, int stepIndex) = nullptr;
    void* user = nullptr;
    ProgressSink sink{};

    RecordingSink()
    {
        sink.pfnSetup = [](void* ctx, HpxProgressTarget, uint32_t uTotal)
        {
            RecordingSink* self = static_cast<RecordingSink*>(ctx);
            self->setups++;
            self->total = uTotal;
            if (self->abortOnSetup) g_bAbort = 1;
        };
        sink.pfnStep = [](void* ctx, HpxProgressTarget)
        {
            RecordingSink* self = static_cast<RecordingSink*>(ctx);
            int index;
            {
                std::lock_guard<std::mutex> lock(self->mutex);
                self->stepThreads.push_back(std::this_thread::get_id());
                index = self->steps++;
            }
            if (self->onStep) self->onStep(self, index);
        };
        sink.pContext = this;
        SetProgressSink(&sink);
    }
    ~RecordingSink() { SetProgressSink(nullptr); }
};

// Stand-in GPU entries: the same passes on the CPU, so a "GPU" tile equals a CPU tile.
struct FakeGpuState
{
    std::atomic<int> planeCalls{0};
    std::atomic<int> jointCalls{0};
    int maxTileSize = 64;
    bool markJoint = false;           // joint pass writes black tiles instead
    void (*beforeJoint)() = nullptr;  // runs at the start of every joint pass
};

inline FakeGpuState& FakeGpu()
{
    static FakeGpuState state;
    return state;
}

inline unsigned char FakePlaneGpu(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                  HpxProgressTarget hProgress, double dStrength, double dDynamics2)
{
    FakeGpu().planeCalls++;
    ReleaseImage(guide);
    return NlmPlaneDenoise(dst, src, dStrength, iQuality, dDynamics2 / 2.0, hProgress, false, 1);
}

inline unsigned char FakeJointGpu(ImageBuffer* dst, ImageBuffer* src, int iQuality, HpxProgressTarget hProgress,
                                  double dLuma, double dChroma, double dDynamics)
{
    FakeGpu().jointCalls++;
    if (FakeGpu().beforeJoint) FakeGpu().beforeJoint();
    if (FakeGpu().markJoint)
    {
        // Y 0, Cr and Cb at their offset: black once converted back.
        const int32_t n = src->m_iWidth * src->m_iHeight;
        for (int32_t i = 0; i < n; ++i)
        {
            if (src->m_iBits == 8)
            {
                unsigned char* p = static_cast<unsigned char*>(dst->m_pData) + 3 * i;
                p[0] = 0;
                p[1] = 128;
                p[2] = 128;
            }
            else
            {
                uint16_t* p = static_cast<uint16_t*>(dst->m_pData) + 3 * i;
                p[0] = 0;
                p[1] = 32768;
                p[2] = 32768;
            }
        }
        return 0;
    }
    ImageBuffer a, b;
    InitImage(&a);
    InitImage(&b);
    // Like the GPU's, a pass that runs out of memory fails the call.
    unsigned char result = CreateImage(&a, src->m_iWidth, src->m_iHeight, 1, src->m_iBits) == kImageOk &&
            CreateImage(&b, src->m_iWidth, src->m_iHeight, 1, src->m_iBits) == kImageOk
        ? kImageOk
        : kImageNoMemory;
    for (int c = 0; c < 3 && result == kImageOk; ++c)
    {
        ExtractChannel(&a, c, src);
        result = NlmPlaneDenoise(&b, &a, c == 0 ? dLuma : dChroma, iQuality, dDynamics, hProgress, false, 1);
        InsertChannel(dst, c, &b);
    }
    ReleaseImage(&a);
    ReleaseImage(&b);
    return result;
}

// Fills the weight-table cache for a tile's strengths before a fusion job with the stand-in GPU.
// The real GPU side never touches the cache; the stand-in runs CPU passes on it, so it must only
// find tables there, never build them while the CPU side reads.
inline void WarmWeightTables(double luma, double chroma, double large, int quality, double dynamics)
{
    ImageBuffer src, dst;
    InitImage(&src);
    InitImage(&dst);
    CreateImage(&src, 96, 96, 3, 8);
    for (int32_t i = 0; i < src.m_iSize; ++i)
        static_cast<unsigned char*>(src.m_pData)[i] = static_cast<unsigned char>((i * 37) % 251);
    CopyImageLayout(&dst, &src);
    DenoiseTile(&dst, &src, luma, chroma, large, quality, dynamics, nullptr, true, false, 1, 0);
    ReleaseImage(&src);
    ReleaseImage(&dst);
}

// Installs the stand-in GPU for the life of the object.
struct FakeGpuInstalled
{
    explicit FakeGpuInstalled(int maxTile = 64, bool markJoint = false)
    {
        FakeGpu().planeCalls = 0;
        FakeGpu().jointCalls = 0;
        FakeGpu().maxTileSize = maxTile;
        FakeGpu().markJoint = markJoint;
        FakeGpu().beforeJoint = nullptr;
        GpuHook hook{};
        hook.pfnNlmPlaneDenoiseGpu = &FakePlaneGpu;
        hook.pfnNlmJointColorDenoise = &FakeJointGpu;
        hook.pfnIsReady = [] { return true; };
        hook.pfnGetMaxTileSize = [] { return FakeGpu().maxTileSize; };
        InstallGpuHook(&hook);
    }
    ~FakeGpuInstalled()
    {
        InstallGpuHook(nullptr);
        FakeGpu().beforeJoint = nullptr;
    }
};

// Limits the processors the engine counts (affinity) for the life of the object.
// ok() is false when the machine has fewer processors than asked.
class CpuLimit
{
public:
    explicit CpuLimit(unsigned count)
    {
#ifdef _WIN32
        DWORD_PTR process = 0, system = 0;
        if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return;
        const DWORD_PTR want = (static_cast<DWORD_PTR>(1) << count) - 1;
        if ((process & want) != want) return;
        m_saved = process;
        m_ok = SetProcessAffinityMask(GetCurrentProcess(), want) != 0;
#else
        if (sched_getaffinity(0, sizeof(m_saved), &m_saved) != 0) return;
        cpu_set_t want;
        CPU_ZERO(&want);
        for (unsigned i = 0; i < count; ++i)
        {
            if (!CPU_ISSET(i, &m_saved)) return;
            CPU_SET(i, &want);
        }
        m_ok = sched_setaffinity(0, sizeof(want), &want) == 0;
#endif
    }
    ~CpuLimit()
    {
        if (!m_ok) return;
#ifdef _WIN32
        SetProcessAffinityMask(GetCurrentProcess(), m_saved);
#else
        sched_setaffinity(0, sizeof(m_saved), &m_saved);
#endif
        CountProcessors();
    }
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
#ifdef _WIN32
    DWORD_PTR m_saved = 0;
#else
    cpu_set_t m_saved;
#endif
};

// Clears the abort flag and the simulated allocation failures around a test.
struct CleanJobState
{
    CleanJobState()
    {
        g_bAbort = 0;
        SimulateTileAllocationFailures(-1);
    }
    ~CleanJobState()
    {
        g_bAbort = 0;
        SimulateTileAllocationFailures(-1);
    }
};

}  // namespace jobtest
