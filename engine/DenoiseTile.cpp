#include "engine/DenoiseTile.h"

#include "engine/GaussianBlur.h"
#include "engine/GpuHook.h"
#include "engine/ImageConvert.h"
#include "engine/ImagePyramid.h"
#include "engine/Median.h"
#include "engine/ParallelPixelSteps.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/TileAlloc.h"
#include "engine/WorkerPool.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <memory>

namespace
{

constexpr int kChromaSpotHalvings = 3;

bool SameShape(const ImageBuffer* a, const ImageBuffer* b)
{
    return a->m_iWidth == b->m_iWidth && a->m_iHeight == b->m_iHeight && a->m_iChannels == b->m_iChannels &&
        a->m_iBits == b->m_iBits && a->m_iSize == b->m_iSize;
}

// Temporaries of one tile, released together whatever path the tile took.
struct TileTemps
{
    ImageBuffer median, blurred, ycc, joint, planeA, planeB;
    TileTemps()
    {
        InitImage(&median);
        InitImage(&blurred);
        InitImage(&ycc);
        InitImage(&joint);
        InitImage(&planeA);
        InitImage(&planeB);
    }
    ~TileTemps()
    {
        ReleaseImage(&median);
        ReleaseImage(&blurred);
        ReleaseImage(&ycc);
        ReleaseImage(&joint);
        ReleaseImage(&planeA);
        ReleaseImage(&planeB);
    }
};

// A full copy of src into dst; false when no block could be had.
bool CopyImage(ImageBuffer* dst, const ImageBuffer* src)
{
    if (src->m_pData == nullptr || TileCopyImageLayout(dst, src) != kImageOk || dst->m_pData == nullptr) return false;
    CopyImagePixels(dst, src);
    return true;
}

// The pre-blur of a YCbCr tile: luma with the luma strength, chroma with the chroma strength.
bool PreBlurYCbCr(ImageBuffer* ycc, double dStrength, double dStrengthChroma, WorkerPool* pool)
{
    if (!(dStrength > 25.0) && !(dStrengthChroma > 25.0)) return true;
    return GaussianBlurYCbCr(ycc, PreBlurSigma(dStrength), PreBlurSigma(dStrengthChroma), pool) == kImageOk;
}

// The chroma-spot pass of one plane into dst (which may be src). True when done: the steps of a
// tile answer true on success, where the pyramid's own call answers true on failure.
bool ChromaSpotPlane(ImageBuffer* dst, ImageBuffer* src, double dStrengthChromaLarge, int iQuality, double dDynamics,
                     HpxProgressTarget hProgressDlg, bool bGpu, int iThreads, WorkerPool* pool)
{
    return !PyramidDenoise(dst, src, static_cast<int>(dStrengthChromaLarge), iQuality, dDynamics, hProgressDlg,
                           kChromaSpotHalvings, bGpu, iThreads, pool);
}

// Runs the chroma-spot pass on one channel of a YCbCr image, in place.
bool ChromaSpotChannel(ImageBuffer* ycc, int channel, ImageBuffer* planeA, ImageBuffer* planeB,
                       double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                       bool bGpu, int iThreads, WorkerPool* pool)
{
    if (ParallelPixelStep(pool, iThreads, kStepExtract, planeA, ycc, channel) != kImageOk) return false;
    if (!ChromaSpotPlane(planeB, planeA, dStrengthChromaLarge, iQuality, dDynamics, hProgressDlg, bGpu, iThreads, pool))
        return false;
    return ParallelPixelStep(pool, iThreads, kStepInsert, ycc, planeB, channel) == kImageOk;
}

bool ColourTileCpu(ImageBuffer* ycc, TileTemps& t, double dStrength, double dStrengthChroma,
                   double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                   int iThreads, WorkerPool* pool)
{
    if (TileCreateImage(&t.planeA, ycc->m_iWidth, ycc->m_iHeight, 1, ycc->m_iBits) != kImageOk ||
        TileCreateImage(&t.planeB, ycc->m_iWidth, ycc->m_iHeight, 1, ycc->m_iBits) != kImageOk)
        return false;
    for (int c = 0; c < 3; ++c)
    {
        if (ParallelPixelStep(pool, iThreads, kStepExtract, &t.planeA, ycc, c) != kImageOk) return false;
        if (NlmPlaneDenoise(&t.planeB, &t.planeA, c == 0 ? dStrength : dStrengthChroma, iQuality, dDynamics,
                            hProgressDlg, false, iThreads, pool) != kImageOk)
            return false;
        if (c > 0 && dStrengthChromaLarge > 1.0 &&
            !ChromaSpotPlane(&t.planeB, &t.planeB, dStrengthChromaLarge, iQuality, dDynamics, hProgressDlg, false,
                             iThreads, pool))
            return false;
        if (ParallelPixelStep(pool, iThreads, kStepInsert, ycc, &t.planeB, c) != kImageOk) return false;
    }
    return true;
}

bool ColourTileGpu(ImageBuffer* ycc, TileTemps& t, double dStrength, double dStrengthChroma,
                   double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                   int iThreads, WorkerPool* pool)
{
    if (TileCopyImageLayout(&t.joint, ycc) != kImageOk || t.joint.m_pData == nullptr) return false;
    if (GpuHookNlmJointColorDenoise(&t.joint, ycc, iQuality, hProgressDlg, dStrength, dStrengthChroma, dDynamics) !=
            kImageOk ||
        t.joint.m_pData == nullptr || ycc->m_pData == nullptr)
        return false;
    if (dStrengthChromaLarge > 1.0)
    {
        if (TileCreateImage(&t.planeA, ycc->m_iWidth, ycc->m_iHeight, 1, ycc->m_iBits) != kImageOk ||
            TileCreateImage(&t.planeB, ycc->m_iWidth, ycc->m_iHeight, 1, ycc->m_iBits) != kImageOk)
            return false;
        for (int c = 1; c <= 2; ++c)
            if (!ChromaSpotChannel(&t.joint, c, &t.planeA, &t.planeB, dStrengthChromaLarge, iQuality, dDynamics,
                                   hProgressDlg, true, iThreads, pool))
                return false;
    }
    // The result is read from ycc by the caller.
    CopyImagePixels(ycc, &t.joint);
    return true;
}

// The steps of a supported tile; false when some temporary could not be had.
bool RunTileSteps(ImageBuffer* dst, ImageBuffer* src, double dStrength, double dStrengthChroma,
                  double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                  bool bColor, bool bGpu, int iThreads, int iMedian, WorkerPool* pPool)
{
    TileTemps t;
    bool ok = true;

    // 1. Median pre-filter into a temporary; W is the working image from here on.
    ImageBuffer* W = src;
    if (iMedian == 1 || iMedian == 2)
    {
        ok = TileCopyImageLayout(&t.median, src) == kImageOk && t.median.m_pData != nullptr &&
            MedianFilterImage(&t.median, src, iMedian == 1 ? 1 : 3, pPool) == kImageOk;
        W = &t.median;
    }

    if (ok && src->m_iChannels == 1)
    {
        // 2. Grey path.
        if (dStrength > 25.0)
        {
            if (W == src)
            {
                ok = CopyImage(&t.blurred, src);
                W = &t.blurred;
            }
            ok = ok && GaussianBlurPlane(W, static_cast<float>(PreBlurSigma(dStrength)), pPool) == kImageOk;
        }
        if (ok)
        {
            ok = NlmPlaneDenoise(dst, W, dStrength, iQuality, dDynamics, hProgressDlg, bGpu, iThreads, pPool) ==
                kImageOk;
        }
    }
    else if (ok)
    {
        // 3./4. Colour path on YCbCr planes.
        ok = TileCopyImageLayout(&t.ycc, W) == kImageOk && t.ycc.m_pData != nullptr &&
            ParallelPixelStep(pPool, iThreads, kStepToYCbCr, &t.ycc, W) == kImageOk;
        ok = ok && PreBlurYCbCr(&t.ycc, dStrength, dStrengthChroma, pPool);
        if (ok)
        {
            if (bGpu && GpuHookHasJointColor())
                ok = ColourTileGpu(&t.ycc, t, dStrength, dStrengthChroma, dStrengthChromaLarge, iQuality, dDynamics,
                                   hProgressDlg, iThreads, pPool);
            else
                ok = ColourTileCpu(&t.ycc, t, dStrength, dStrengthChroma, dStrengthChromaLarge, iQuality, dDynamics,
                                   hProgressDlg, iThreads, pPool);
        }
        ok = ok && ParallelPixelStep(pPool, iThreads, kStepToRgb, dst, &t.ycc) == kImageOk;
    }
    return ok;
}

}  // namespace

double PreBlurSigma(double strength) { return strength > 25.0 ? std::log(strength - 24.0) * 0.5 + 0.2 : -1.0; }

unsigned char DenoiseTile(ImageBuffer* dst, ImageBuffer* src, double dStrength, double dStrengthChroma,
                          double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                          bool bColor, bool bGpu, int iThreads, int iMedian, WorkerPool* pPool)
{
    if (dst == nullptr || src == nullptr || src->m_pData == nullptr) return kImageBadArgs;
    if (dst->m_pData == nullptr || !SameShape(dst, src))
        if (TileCopyImageLayout(dst, src) != kImageOk || dst->m_pData == nullptr) return kImageNoMemory;

    const bool supported =
        (src->m_iChannels == 1 || (src->m_iChannels == 3 && bColor)) && (src->m_iBits == 8 || src->m_iBits == 16);
    if (!supported)
    {
        CopyImagePixels(dst, src);
        return kImageBadArgs;
    }
    if (iThreads < 1) iThreads = 1;

    // A tile run on its own keeps its threads for all of its steps.
    std::unique_ptr<WorkerPool> ownPool;
    if (pPool == nullptr && !bGpu)
    {
        ownPool = MakeWorkerPool(iThreads);
        pPool = ownPool.get();
    }

    // A step whose memory ran out reports it, or (the few parts that allocate through the
    // standard library) throws; a part on the pool that threw marks the pool. Either way the
    // tile's result is not what was asked for and must not be taken as done.
    if (pPool != nullptr) pPool->TakeFailure();
    bool ok = false;
    try
    {
        ok = RunTileSteps(dst, src, dStrength, dStrengthChroma, dStrengthChromaLarge, iQuality, dDynamics, hProgressDlg,
                          bColor, bGpu, iThreads, iMedian, pPool);
    }
    catch (...)
    {
        ok = false;
    }
    if (pPool != nullptr && pPool->TakeFailure()) ok = false;
    if (ok) return kImageOk;

    // Out of memory somewhere: the tile becomes a plain copy of its source.
    if (dst->m_pData == nullptr || !SameShape(dst, src))
        if (TileCopyImageLayout(dst, src) != kImageOk || dst->m_pData == nullptr) return kImageNoMemory;
    if (src->m_pData != nullptr) CopyImagePixels(dst, src);
    return kImageNoMemory;
}
