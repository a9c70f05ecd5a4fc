#include "engine/NlmPass.h"

#include "engine/NlmKernels.h"
#include "engine/ScopedImage.h"
#include "engine/WorkerPool.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace
{

using namespace nlm;

enum : int
{
    kMinPlaneEdge = 16,              // planes this narrow or low pass through unchanged
    kMinWorkPerThread = 2000000,     // pixel-offsets worth a thread of its own (about 1.5 ms)
    kMinWorkPerPoolThread = 200000,  // the same for a pool's running thread, which costs only a wake-up
    // A band's value sums (four bytes a pixel) of about this size keep its working set in a
    // core's cache beside the distance rows and guide rows it reads.
    kBandSumBytes = 160 * 1024,
    kMinBandRows = 8,    // lower bands spend more on the distance rows above and below than on sums
    kMaxBandRows = 256,  // narrow planes: taller bands save little more, and each worker's block grows
    kBandsPerThread = 3  // low planes: bands made lower so that every thread gets about this many
};

// Takes bands until none is left (or the pass is aborted): every search offset on the band, then
// the normalisation. pProgress is given by the calling thread only.
void RunBands(PassWorker* pWorker, ProgressState* pProgress)
{
    PassShared& s = *pWorker->pShared;
    const int w = s.iWindow;
    for (;;)
    {
        if (AbortRequested()) return;
        const int band = s.iNextBand.fetch_add(1, std::memory_order_relaxed);
        if (band >= s.iBands) return;
        const int y0 = band * s.iBandRows;
        const int y1 = y0 + s.iBandRows < s.iH ? y0 + s.iBandRows : s.iH;
        const int yLast = s.b16 ? y1 - 1 : y1 - 2;  // last row whose distances are read
        std::memset(pWorker->pBlockWeights != nullptr ? static_cast<void*>(pWorker->pBlockWeights)
                                                      : static_cast<void*>(pWorker->pWeights32),
                    0, pWorker->uAccumulatorBytes);
        PrepareBandTables(pWorker, y0, y1);
        for (int k = 0; k < s.iOffsets; ++k)
        {
            const int dy = k / w - w / 2;
            const int dx = k % w - w / 2;
            const int a0 = (s.iC + y0) >> 1, a1 = (s.iC + y0 - dy) >> 1;
            const int b0 = (s.iC + yLast) >> 1, b1 = (s.iC + yLast - dy) >> 1;
            const int iFirst = a0 < a1 ? a0 : a1;
            const int iLast = b0 > b1 ? b0 : b1;
            ComputeDistanceRows(pWorker, iFirst, iLast, dy, dx);
            if (s.b16)
                AccumulateBand16(pWorker, y0, y1, iFirst, dy, dx);
            else
                AccumulateBand8(pWorker, y0, y1, iFirst, dy, dx);
            if (AbortRequested()) return;
            if (pProgress != nullptr)
                AdvanceProgress(pProgress, s,
                                static_cast<long long>(s.iBandsDone.load(std::memory_order_relaxed)) * s.iOffsets + k +
                                    1);
        }
        NormalizeBand(pWorker, y0, y1);
        const int done = s.iBandsDone.fetch_add(1, std::memory_order_relaxed) + 1;
        if (pProgress != nullptr) AdvanceProgress(pProgress, s, static_cast<long long>(done) * s.iOffsets);
    }
}

// Thread routines of the offset workers (8- and 16-bit passes alike).
unsigned int NlmOffsetWorker(void* pArg)
{
    RunBands(static_cast<PassWorker*>(pArg), nullptr);
    return 0;
}

struct PaddedCopy
{
    ImageBuffer* pOut;
    const ImageBuffer* pPlane;
    int pad;
};

void CopyPaddedRows(void* pArg, int iBegin, int iEnd)
{
    const PaddedCopy* c = static_cast<const PaddedCopy*>(pArg);
    CopyImageRect(c->pOut, c->pPlane, c->pad, c->pad + iBegin, 0, iBegin, c->pPlane->m_iWidth, iEnd - iBegin);
}

// Makes a padded copy of a one-channel plane: pad samples of mirror on every side. The inner
// rows are copied on the pool's threads when there is one.
bool MakePaddedPlane(ImageBuffer* pOut, const ImageBuffer* pPlane, int pad, WorkerPool* pPool)
{
    InitImage(pOut);
    if (CreateImage(pOut, pPlane->m_iWidth + 2 * pad, pPlane->m_iHeight + 2 * pad, 1, pPlane->m_iBits) != kImageOk)
        return false;
    PaddedCopy copy{pOut, pPlane, pad};
    ParallelRows(pPool, pPlane->m_iHeight, PoolThreads(pPool), 16, &CopyPaddedRows, &copy);
    if (pPlane->m_iBits == 8)
        MirrorPadPlane8(pOut, pad);
    else
        MirrorPadPlane16(pOut, pad);
    return true;
}

// One thread's part of a pass run on a worker pool: thread 0 is the calling thread and gives the
// progress steps; the others get their working memory on their own thread (a worker without
// memory just leaves its bands to the others).
struct PoolPass
{
    PassWorker* pWorkers;
    ProgressState* pProgress;
    PassShared* pShared;
    WorkerPool* pPool;
};

void RunPoolPart(void* pArg, int iIndex)
{
    PoolPass* p = static_cast<PoolPass*>(pArg);
    if (iIndex == 0)
        RunBands(&p->pWorkers[0], p->pProgress);
    else if (p->pShared->iNextBand.load(std::memory_order_relaxed) < p->pShared->iBands &&
             AllocateWorker(&p->pWorkers[iIndex], *p->pShared, p->pPool, iIndex))
        RunBands(&p->pWorkers[iIndex], nullptr);
}

}  // namespace

namespace nlm
{

// The four drivers share this body (so does a pass on a worker pool): the thread count and the
// depth select the variant.
unsigned char RunPass(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                      int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg, int iThreads, bool b16,
                      WorkerPool* pPool)
{
    const int w = src->m_iWidth;
    const int h = src->m_iHeight;
    if (w <= kMinPlaneEdge || h <= kMinPlaneEdge)
    {
        CopyImagePixels(dst, src);
        return kImageOk;
    }
    const int r = NlmPadRadius(w, h);
    // The pass reads the shared cache only here, copying the tables it needs; the lock keeps two
    // passes of different threads (a preview beside a job, say) from rebuilding a slot under each
    // other's feet.
    CompactTables compact;
    {
        static std::mutex s_tablesLock;
        std::lock_guard<std::mutex> guard(s_tablesLock);
        int** ppTables = AcquireWeightTables(dDynamics2, std::pow(dStrength, 3.5));
        if (ppTables == nullptr)
            return kImageBadArgs;  // what the drivers have always reported for tables they could not have
        if (!BuildCompactTables(&compact, ppTables, kWeightPatchKey * kWeightPatchKey * 256)) return kImageNoMemory;
    }

    const int pad = r + 3;
    ScopedImage guideHolder, valuesHolder;
    ImageBuffer& paddedGuide = guideHolder.img;
    ImageBuffer& paddedValues = valuesHolder.img;
    if (!MakePaddedPlane(&paddedGuide, guide, pad, pPool) || (b16 && !MakePaddedPlane(&paddedValues, src, pad, pPool)))
    {
        std::free(compact.pData);
        return kImageNoMemory;
    }

    PassShared shared;
    shared.pGuide = static_cast<const uint8_t*>(paddedGuide.m_pData);
    shared.pValues = b16 ? static_cast<const uint16_t*>(paddedValues.m_pData) : nullptr;
    shared.iPaddedW = paddedGuide.m_iWidth;
    shared.iPaddedH = paddedGuide.m_iHeight;
    shared.iHalfW = shared.iPaddedW / 2;
    shared.iHalfH = shared.iPaddedH / 2;
    shared.iW = w;
    shared.iH = h;
    shared.iC = pad;  // pad 3 plus margin r
    shared.iWindow = NlmSearchWindow(iQuality);
    // Bands of about 160 KiB of value sums keep a band's working set in the core's cache; on
    // low planes (the chroma-spot pass's quarter-size level) bands are made lower so that every
    // thread gets about three of them.
    const int n = ClampThreads(iThreads);
    int iBand = (kBandSumBytes / (w * static_cast<int>(sizeof(uint32_t)))) & ~1;
    const int iForThreads = ((h + kBandsPerThread * n - 1) / (kBandsPerThread * n) + 1) & ~1;
    if (n > 1 && iForThreads < iBand) iBand = iForThreads;
    shared.iBandRows = iBand < kMinBandRows ? kMinBandRows : (iBand > kMaxBandRows ? kMaxBandRows : iBand);
    shared.b16 = b16;
    shared.pLevels = compact.aLevels;
    shared.pWeights = compact.pData;

    shared.iOffsets = NlmOffsetCount(iQuality);
    shared.iBands = (h + shared.iBandRows - 1) / shared.iBandRows;
    shared.pDst = dst;
    shared.iNextBand.store(0);
    shared.iBandsDone.store(0);
    // The calling thread's share of the offsets, as if they were dealt round-robin.
    const int iProgressSteps = (shared.iOffsets + n - 1) / n;

    PassWorker aWorkers[kNlmMaxThreads];
    std::memset(static_cast<void*>(aWorkers), 0, sizeof(aWorkers));
    for (int t = 0; t < n; ++t) aWorkers[t].pShared = &shared;
    unsigned char result = kImageOk;
    if (!AllocateWorker(&aWorkers[0], shared, pPool, 0))
        result = kImageNoMemory;
    else
    {
        // Starting a thread costs about as much as a millisecond of work (more under Wine), so a
        // small pass starts fewer workers; and never more than there are bands. The progress
        // share stays that of the n threads asked for. A worker without memory or thread just
        // leaves its bands to the others.
        const long long llWork = static_cast<long long>(w) * h * shared.iOffsets;
        long long llWorkers = llWork / (pPool != nullptr ? kMinWorkPerPoolThread : kMinWorkPerThread);
        if (llWorkers > shared.iBands) llWorkers = shared.iBands;
        const int iStarted = llWorkers < n ? (llWorkers < 1 ? 1 : static_cast<int>(llWorkers)) : n;
        ProgressState progress = {hProgressDlg, iProgressSteps, 0};
        if (pPool != nullptr)
        {
            // The job's threads are already running: no thread is started or joined here.
            PoolPass poolPass{aWorkers, &progress, &shared, pPool};
            pPool->Run(&RunPoolPart, &poolPass, iStarted);
            AdvanceProgress(&progress, shared, static_cast<long long>(shared.iBands) * shared.iOffsets);
        }
        else
        {
            for (int t = 1; t < iStarted; ++t)
            {
                if (AllocateWorker(&aWorkers[t], shared))
                    aWorkers[t].pThread = PlatformStartThread(NlmOffsetWorker, &aWorkers[t]);
            }
            RunBands(&aWorkers[0], &progress);
            // Every worker must have ended before its planes are freed or the output read: no time-out.
            for (int t = 1; t < n; ++t)
            {
                if (aWorkers[t].pThread != nullptr)
                {
                    PlatformJoinThread(aWorkers[t].pThread, kPlatformWaitForever);
                    PlatformCloseThread(aWorkers[t].pThread);
                    aWorkers[t].pThread = nullptr;
                }
            }
            // The bands finished by workers after the caller ran out of bands.
            AdvanceProgress(&progress, shared, static_cast<long long>(shared.iBands) * shared.iOffsets);
        }
    }

    for (int t = 0; t < n; ++t) FreeWorker(&aWorkers[t]);
    std::free(compact.pData);
    return result;
}

}  // namespace nlm

using nlm::ClampThreads;
using nlm::RunPass;

unsigned char NlmPlaneDenoiseCpu(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                                 int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg)
{
    return RunPass(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, 1, false);
}

unsigned char NlmPlaneDenoiseCpuMt(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                                   int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg, int iThreads)
{
    return RunPass(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, ClampThreads(iThreads), false);
}

unsigned char NlmPlaneDenoiseCpu16(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                                   int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg)
{
    return RunPass(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, 1, true);
}

unsigned char NlmPlaneDenoiseCpuMt16(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide,
                                     double dStrength, int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg,
                                     int iThreads)
{
    return RunPass(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, ClampThreads(iThreads), true);
}
