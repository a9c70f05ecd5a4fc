#include "engine/DenoiseImage.h"

#include "engine/DenoiseTile.h"
#include "engine/GpuHook.h"
#include "engine/TileAlloc.h"
#include "engine/WorkerPool.h"

#include <memory>

namespace
{

int32_t Clip(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

TileRect GrowClipped(const TileRect& cell, int32_t margin, int32_t width, int32_t height)
{
    return TileRect{Clip(cell.m_iLeft - margin, 0, width), Clip(cell.m_iTop - margin, 0, height),
                    Clip(cell.m_iRight + margin, 0, width), Clip(cell.m_iBottom + margin, 0, height)};
}

// Shape check of a job's images: equal layouts, 1 or 3 channels (3 only as colour), 8 or 16
// bits, with blocks.
bool UsableJobImages(const ImageBuffer* dst, const ImageBuffer* src, bool bColor)
{
    if (dst == nullptr || src == nullptr || dst->m_pData == nullptr || src->m_pData == nullptr) return false;
    if (src->m_iChannels != 1 && !(src->m_iChannels == 3 && bColor)) return false;
    if (src->m_iBits != 8 && src->m_iBits != 16) return false;
    if (src->m_iWidth <= 0 || src->m_iHeight <= 0) return false;
    return dst->m_iWidth == src->m_iWidth && dst->m_iHeight == src->m_iHeight && dst->m_iChannels == src->m_iChannels &&
        dst->m_iBits == src->m_iBits && dst->m_iSize == src->m_iSize;
}

// CopyImageRect split by rows over the pool's threads (the same bytes as one call).
struct RectCopy
{
    ImageBuffer* dst;
    const ImageBuffer* src;
    int32_t dx, dy, sx, sy, w;
};

void CopyRectRows(void* context, int begin, int end)
{
    const RectCopy* c = static_cast<const RectCopy*>(context);
    CopyImageRect(c->dst, c->src, c->dx, c->dy + begin, c->sx, c->sy + begin, c->w, end - begin);
}

void CopyRect(WorkerPool* pool, ImageBuffer* dst, const ImageBuffer* src, int32_t dx, int32_t dy, int32_t sx,
              int32_t sy, int32_t w, int32_t h)
{
    RectCopy copy{dst, src, dx, dy, sx, sy, w};
    ParallelRows(pool, h, PoolThreads(pool), 16, &CopyRectRows, &copy);
}

// The two images of one tile, released whatever way the tile ends.
struct TileImages
{
    ImageBuffer src;
    ImageBuffer dst;
    TileImages()
    {
        InitImage(&src);
        InitImage(&dst);
    }
    ~TileImages()
    {
        ReleaseImage(&src);
        ReleaseImage(&dst);
    }
    TileImages(const TileImages&) = delete;
    TileImages& operator=(const TileImages&) = delete;
};

// Denoises the margin rectangle of one cell and pastes the cell into dst. When the tile cannot
// be done (its memory ran out anywhere, on this thread or on the pool's, or the tile refused its
// images) the cell receives the source's pixels and the result is kImageNoMemory (kImageBadArgs
// for a refusal); nothing is thrown.
// `paste` is asked after the tile ran (a cancelled hybrid tile is not pasted).
template <typename PasteTest>
unsigned char RunTile(ImageBuffer* dst, const ImageBuffer* src, const TileRect& cell, const TileRect& margin,
                      double dStrength, double dStrengthChroma, double dStrengthChromaLarge, int iQuality,
                      double dDynamics, HpxProgressTarget hProgress, bool bColor, bool bGpu, int iThreads, int iMedian,
                      WorkerPool* pool, PasteTest paste)
{
    const int32_t cw = cell.m_iRight - cell.m_iLeft;
    const int32_t ch = cell.m_iBottom - cell.m_iTop;
    if (cw <= 0 || ch <= 0) return kImageOk;
    const int32_t mw = margin.m_iRight - margin.m_iLeft;
    const int32_t mh = margin.m_iBottom - margin.m_iTop;
    bool done = false;
    unsigned char failure = kImageNoMemory;
    try
    {
        TileImages t;
        if (pool != nullptr) pool->TakeFailure();
        if (TileCreateImage(&t.src, mw, mh, src->m_iChannels, src->m_iBits) == kImageOk &&
            TileCreateImage(&t.dst, mw, mh, src->m_iChannels, src->m_iBits) == kImageOk)
        {
            CopyRect(pool, &t.src, src, 0, 0, margin.m_iLeft, margin.m_iTop, mw, mh);
            if (pool == nullptr || !pool->TakeFailure())
            {
                const unsigned char r =
                    DenoiseTile(&t.dst, &t.src, dStrength, dStrengthChroma, dStrengthChromaLarge, iQuality, dDynamics,
                                hProgress, bColor, bGpu, iThreads, iMedian, pool);
                done = r == kImageOk && t.dst.m_pData != nullptr;
                if (r == kImageBadArgs) failure = kImageBadArgs;
            }
            if (done && paste())
            {
                CopyRect(pool, dst, &t.dst, cell.m_iLeft, cell.m_iTop, cell.m_iLeft - margin.m_iLeft,
                         cell.m_iTop - margin.m_iTop, cw, ch);
                done = pool == nullptr || !pool->TakeFailure();
            }
        }
    }
    catch (...)
    {
        done = false;
    }
    if (done) return kImageOk;
    if (paste()) CopyImageRect(dst, src, cell.m_iLeft, cell.m_iTop, cell.m_iLeft, cell.m_iTop, cw, ch);
    return failure;
}

// One side of the hybrid schedule: takes tiles until the schedule sends it away, the tiles run out
// or the job is cancelled.
void RunHybridSide(TileSchedule* s, bool bCpuSide)
{
    // The CPU side keeps its threads for all of its tiles (it may take every processor once the
    // GPU side has left, and until then its steps use one fewer); the GPU side runs its passes on
    // the GPU and needs none.
    const std::unique_ptr<WorkerPool> pool = bCpuSide ? MakeWorkerPool(g_byCpuCount) : nullptr;
    const int32_t width = s->m_pSource->m_iWidth;
    const int32_t height = s->m_pSource->m_iHeight;
    for (;;)
    {
        if (!bCpuSide) PumpBeforeTile();
        if (g_bAbort) break;  // neither side takes a new tile once the job is cancelled

        PlatformWaitMutex(s->m_hMutex);
        const double now = static_cast<double>(PlatformTickMs());
        int32_t& entries = bCpuSide ? s->m_iCpuEntries : s->m_iGpuEntries;
        double& busy = bCpuSide ? s->m_dCpuBusyMs : s->m_dGpuBusyMs;
        double& start = bCpuSide ? s->m_dCpuStartTick : s->m_dGpuStartTick;
        if (entries != 0) busy += now - start;
        start = now;
        entries += 1;
        if (ShouldStopTileSide(s, bCpuSide))
        {
            (bCpuSide ? s->m_bCpuActive : s->m_bGpuActive) = 0;
            PlatformReleaseMutex(s->m_hMutex);
            break;
        }
        if (bCpuSide && !s->m_bGpuActive) s->m_uiCpuThreads = g_byCpuCount;
        const uint32_t tile = s->m_uiNextTile;
        s->m_uiNextTile += 1;
        s->m_iRemaining -= 1;
        if (s->m_hProgressDlg != nullptr) ProgressStep(s->m_hProgressDlg);
        const int threads = static_cast<int>(s->m_uiCpuThreads);
        PlatformReleaseMutex(s->m_hMutex);

        if (pool) pool->LimitThreads(threads > 0 ? threads : 1);
        TileRect cell;
        TileRect margin;
        HybridTileRects(width, height, s->m_uiTilesAcross, s->m_iTilesDown, tile, &cell, &margin);
        const unsigned char result =
            RunTile(s->m_pDestination, s->m_pSource, cell, margin, s->m_dStrength, s->m_dStrengthChroma,
                    s->m_dStrengthChromaLarge, static_cast<int>(s->m_uiQuality), s->m_dDynamics, nullptr,
                    s->m_bColor != 0, !bCpuSide, threads > 0 ? threads : 1, static_cast<int>(s->m_uiMedian), pool.get(),
                    [] { return !g_bAbort; });
        if (result != kImageOk) (bCpuSide ? s->m_bCpuOutOfMemory : s->m_bGpuOutOfMemory) = 1;
        if (g_bAbort) break;
    }
}

}  // namespace

uint32_t TileProgressSteps(int iQuality, bool bGpu, unsigned cpuCount, bool bColourTile, double dStrengthChromaLarge)
{
    uint32_t base = iQuality == 1 ? 49u : (iQuality == 2 ? 169u : 441u);
    if (!bGpu) base /= cpuCount != 0 ? cpuCount : 1u;
    uint32_t factor = 1;
    if (bColourTile)
    {
        if (bGpu)
            factor = dStrengthChromaLarge > 1.0 ? 3u : 1u;
        else
            factor = dStrengthChromaLarge > 1.0 ? 5u : 3u;
    }
    return base * factor / 2u;
}

int ChooseTileEdge(bool bGpu)
{
    if (bGpu && GpuHookIsReady())
    {
        const int maxTile = GpuHookMaxTileSize();
        if (maxTile > 0 && maxTile < kTileEdge) return maxTile;
    }
    return kTileEdge;
}

void SequentialTileRects(int32_t width, int32_t height, int32_t tileEdge, int32_t column, int32_t row, TileRect* cell,
                         TileRect* margin)
{
    TileRect c;
    c.m_iLeft = Clip(column * tileEdge, 0, width);
    c.m_iTop = Clip(row * tileEdge, 0, height);
    c.m_iRight = Clip((column + 1) * tileEdge, 0, width);
    c.m_iBottom = Clip((row + 1) * tileEdge, 0, height);
    if (cell != nullptr) *cell = c;
    if (margin != nullptr) *margin = GrowClipped(c, kTileMargin, width, height);
}

void HybridTileRects(int32_t width, int32_t height, uint32_t across, int32_t down, uint32_t tile, TileRect* cell,
                     TileRect* margin)
{
    if (across == 0) across = 1;
    if (down <= 0) down = 1;
    const int32_t cw = static_cast<int32_t>((static_cast<uint32_t>(width) + across - 1) / across);
    const int32_t ch = (height + down - 1) / down;
    const int32_t column = static_cast<int32_t>(tile % across);
    const int32_t row = static_cast<int32_t>(tile / across);
    TileRect c;
    c.m_iLeft = Clip(column * cw, 0, width);
    c.m_iTop = Clip(row * ch, 0, height);
    c.m_iRight = Clip((column + 1) * cw, 0, width);
    c.m_iBottom = Clip((row + 1) * ch, 0, height);
    if (cell != nullptr) *cell = c;
    if (margin != nullptr) *margin = GrowClipped(c, kHybridTileMargin, width, height);
}

bool ShouldStopTileSideAt(const TileSchedule* s, bool bCpuSide, double nowMs)
{
    if (s->m_uiNextTile >= s->m_uiTotalTiles) return true;
    const bool otherActive = bCpuSide ? s->m_bGpuActive != 0 : s->m_bCpuActive != 0;
    if (!otherActive) return false;
    if (s->m_iCpuEntries < 2 || s->m_iGpuEntries < 2) return false;
    const double ownBusy = bCpuSide ? s->m_dCpuBusyMs : s->m_dGpuBusyMs;
    const double otherBusy = bCpuSide ? s->m_dGpuBusyMs : s->m_dCpuBusyMs;
    const int32_t ownEntries = bCpuSide ? s->m_iCpuEntries : s->m_iGpuEntries;
    const int32_t otherEntries = bCpuSide ? s->m_iGpuEntries : s->m_iCpuEntries;
    const double otherStart = bCpuSide ? s->m_dGpuStartTick : s->m_dCpuStartTick;
    const double ownAvg = ownBusy / (ownEntries - 1);
    const double otherAvg = otherBusy / (otherEntries - 1);
    const double deadline = otherStart + (s->m_iRemaining + 1) * otherAvg;
    return nowMs + ownAvg > deadline;
}

bool ShouldStopTileSide(TileSchedule* schedule, bool bCpuSide)
{
    return ShouldStopTileSideAt(schedule, bCpuSide, static_cast<double>(PlatformTickMs()));
}

unsigned int TileWorkerThread(void* schedule)
{
    try
    {
        RunHybridSide(static_cast<TileSchedule*>(schedule), true);
    }
    catch (...)
    {
        // Nothing may leave a thread procedure. The side stops taking tiles, and since a tile it
        // took may not have been pasted, the job reports the failure.
        TileSchedule* s = static_cast<TileSchedule*>(schedule);
        PlatformWaitMutex(s->m_hMutex);
        s->m_bCpuActive = 0;
        s->m_bCpuOutOfMemory = 1;
        s->m_bTileLost = 1;
        PlatformReleaseMutex(s->m_hMutex);
    }
    return 1;
}

namespace
{

unsigned char RunJob(ImageBuffer* dst, ImageBuffer* src, double dStrength, double dStrengthChroma,
                     double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                     bool bColor, bool bGpu, bool bHybrid, int iMedian)
{
    // 1. Processor count and steps per tile. The GPU flag only counts while a GPU is there to use.
    const unsigned cpuCount = CountProcessors() != 0 ? g_byCpuCount : 1u;
    if (bGpu && !GpuHookIsReady()) bGpu = false;
    const bool colourTile = dst->m_iChannels == 3 && bColor;
    const uint32_t stepsPerTile = TileProgressSteps(iQuality, bGpu, cpuCount, colourTile, dStrengthChromaLarge);

    // 2. Tile edge.
    const int32_t tileEdge = ChooseTileEdge(bGpu);
    const int32_t width = src->m_iWidth;
    const int32_t height = src->m_iHeight;

    // 3. A small image is one tile: no margins, no copies.
    if (width < tileEdge && height < tileEdge)
    {
        if (hProgressDlg != nullptr) ProgressSetup(hProgressDlg, stepsPerTile);
        return DenoiseTile(dst, src, dStrength, dStrengthChroma, dStrengthChromaLarge, iQuality, dDynamics,
                           hProgressDlg, bColor, bGpu, static_cast<int>(cpuCount), iMedian);
    }

    const uint32_t across = static_cast<uint32_t>((width + tileEdge - 1) / tileEdge);
    const int32_t down = (height + tileEdge - 1) / tileEdge;

    // 4. Hybrid: the GPU side on this thread, the CPU side on one tile thread.
    if (bGpu && bHybrid && cpuCount != 1)
    {
        TileSchedule s = {};
        s.m_hMutex = PlatformCreateNamedMutex(L"ProtectQueueSync");
        if (s.m_hMutex != nullptr)
        {
            if (hProgressDlg != nullptr)
                ProgressSetup(hProgressDlg, across * static_cast<uint32_t>(down) + kHybridProgressExtra);
            s.m_uiTotalTiles = across * static_cast<uint32_t>(down);
            s.m_uiNextTile = 0;
            s.m_iRemaining = static_cast<int32_t>(s.m_uiTotalTiles);
            s.m_uiCpuThreads = cpuCount - 1;
            s.m_bCpuActive = 1;
            s.m_bGpuActive = 1;
            s.m_uiMedian = static_cast<uint32_t>(iMedian);
            s.m_pSource = src;
            s.m_pDestination = dst;
            s.m_uiTilesAcross = across;
            s.m_iTilesDown = down;
            s.m_dStrength = dStrength;
            s.m_dStrengthChroma = dStrengthChroma;
            s.m_dStrengthChromaLarge = dStrengthChromaLarge;
            s.m_uiQuality = static_cast<uint32_t>(iQuality);
            s.m_dDynamics = dDynamics;
            s.m_hProgressDlg = hProgressDlg;
            s.m_bColor = bColor ? 1 : 0;

            PlatformThread* worker = PlatformStartThread(&TileWorkerThread, &s, 0);
            if (worker == nullptr) s.m_bCpuActive = 0;  // no CPU side: the GPU side takes every tile
            try
            {
                RunHybridSide(&s, false);
            }
            catch (...)
            {
                // The CPU side must still be joined; a tile of this side may be missing.
                PlatformWaitMutex(s.m_hMutex);
                s.m_bGpuActive = 0;
                s.m_bGpuOutOfMemory = 1;
                s.m_bTileLost = 1;
                PlatformReleaseMutex(s.m_hMutex);
            }
            PlatformJoinThread(worker, kPlatformWaitForever);
            PlatformCloseThread(worker);
            PlatformCloseMutex(s.m_hMutex);
            // A cell that may hold nothing written: the whole result falls back to the source.
            if (s.m_bTileLost) CopyImagePixels(dst, src);
            return s.m_bCpuOutOfMemory || s.m_bGpuOutOfMemory ? kImageNoMemory : kImageOk;
        }
        // Without the mutex there is no schedule: run the tiles one after the other.
    }

    // 5. Sequential tiles.
    if (hProgressDlg != nullptr) ProgressSetup(hProgressDlg, across * static_cast<uint32_t>(down) * stepsPerTile);
    unsigned char result = kImageOk;
    if (g_bAbort) return result;
    // One set of threads for every tile of the job, ended before the job returns. GPU tiles run
    // their passes on the GPU and need none.
    const std::unique_ptr<WorkerPool> pool = bGpu ? nullptr : MakeWorkerPool(static_cast<int>(cpuCount));
    for (int32_t j = 0; j < down; ++j)
        for (uint32_t i = 0; i < across; ++i)
        {
            PumpBeforeTile();
            TileRect cell;
            TileRect margin;
            SequentialTileRects(width, height, tileEdge, static_cast<int32_t>(i), j, &cell, &margin);
            const unsigned char r = RunTile(dst, src, cell, margin, dStrength, dStrengthChroma, dStrengthChromaLarge,
                                            iQuality, dDynamics, hProgressDlg, bColor, bGpu, static_cast<int>(cpuCount),
                                            iMedian, pool.get(), [] { return true; });
            if (r != kImageOk && result != kImageBadArgs) result = r;
            if (g_bAbort) return result;
        }
    return result;
}

}  // namespace

unsigned char DenoiseImage(ImageBuffer* dst, ImageBuffer* src, double dStrength, double dStrengthChroma,
                           double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                           bool bColor, bool bGpu, bool bHybrid, int iMedian)
{
    if (!UsableJobImages(dst, src, bColor)) return kImageBadArgs;
    // The tiles catch what their steps throw; this is the last guard of the callers' threads
    // (a job thread, the host's thread for a preview): nothing thrown leaves the job.
    try
    {
        return RunJob(dst, src, dStrength, dStrengthChroma, dStrengthChromaLarge, iQuality, dDynamics, hProgressDlg,
                      bColor, bGpu, bHybrid, iMedian);
    }
    catch (...)
    {
        CopyImagePixels(dst, src);
        return kImageNoMemory;
    }
}
