// The pieces of one plane pass that its files share: the compact weight tables, what every thread
// of a pass reads, one thread's working memory, and the steps the pass drivers put together.
// Internal to the engine; NlmPlaneDenoise.h is the interface.
//
// For each search offset the distance of every pixel is the 3x3 box sum of the 2x2 sums of
// |guide(p + d) - guide(p)| (see NlmKernels.h). Instead of building whole difference, sum and
// distance planes per offset, the pass walks the output in bands of rows: for each band and each
// offset it computes just the half-resolution distance rows the band reads, row by row through
// small ring buffers, and accumulates the band; after the last offset the band is normalised into
// the output. A band's accumulators, distance rows and guide rows stay in the core's cache, no
// thread needs whole-plane accumulators, and the values are exactly those of the plane kernels.
//
// The threads of a pass (the caller and up to 15 offset workers, each running every search offset
// on the bands it takes) take bands from a shared counter, so a thread that the system delays or
// that could not be started costs no more than its share of time. The sums are exact integers
// (32-bit for 8-bit planes, 64-bit, i.e. the values doubles would hold, for 16-bit planes), so the
// result does not depend on the number of threads. The calling thread advances the progress bar
// by its share of the offsets, ceil(offsets / threads), spread over the pass as bands complete.
#pragma once

#include "engine/ImageBuffer.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/WeightTableCache.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class WorkerPool;

namespace nlm
{

inline bool AbortRequested() { return g_bAbort.load(std::memory_order_relaxed) != 0; }

inline int ClampThreads(int iThreads)
{
    return iThreads < 1 ? 1 : (iThreads > kNlmMaxThreads ? kNlmMaxThreads : iThreads);
}

// The weight tables of a pass, compacted: every table of the slot is cut after its first zero
// weight (the weights fall with the distance, so all later ones are zero too) and stored as 16-bit
// words, and distances beyond the cut are clamped to it. The same weights, in a few hundred
// kilobytes the core's cache holds, instead of 256 x 36 KiB looked up at random. The passes look
// a weight up as pData[uBase + min(d, uLimit)].
struct LevelTable
{
    const uint16_t* pWeights;
    uint32_t uLimit;  // index of the first zero weight (or the last entry)
    uint32_t uBase;   // pWeights - CompactTables::pData
};

struct CompactTables
{
    LevelTable aLevels[kWeightLevels];
    uint16_t* pData;
};

// Compacts the kWeightLevels tables of iLength entries; pOut->pData is the caller's to free.
// False when out of memory.
bool BuildCompactTables(CompactTables* pOut, int* const* ppTables, int iLength);

// What every thread of a pass reads.
struct PassShared
{
    const uint8_t* pGuide;    // padded guide, iPaddedW x iPaddedH, stride iPaddedW
    const uint16_t* pValues;  // padded 16-bit values (16-bit passes), same size
    int iPaddedW, iPaddedH;
    int iHalfW, iHalfH;  // half-resolution size
    int iW, iH;          // output size (even)
    int iC;              // pad + margin: output (y, x) sits at padded (iC + y, iC + x)
    int iWindow;         // search window edge
    int iBandRows;       // output rows per band (even)
    bool b16;
    const LevelTable* pLevels;  // the 256 weight tables, compacted
    const uint16_t* pWeights;   // their storage (LevelTable::uBase counts from here)
    int iOffsets;               // search offsets of the window's first half, (0, 0) included
    int iBands;
    ImageBuffer* pDst;  // the even-sized output plane
    std::atomic<int> iNextBand;
    std::atomic<int> iBandsDone;
};

// One thread's working memory.
struct PassWorker
{
    PassShared* pShared;
    void* pMemory;
    uint32_t* pBlockWeights;  // 8-bit: one weight sum per 2x2 block of the band
    uint32_t* pValues32;      // 8-bit: value sums of the band
    uint32_t* pWeights32;     // 16-bit: weight sums of the band
    uint64_t* pValues64;      // 16-bit: value sums of the band
    size_t uAccumulatorBytes;
    uint8_t* apRowB[2];    // difference rows (padded width)
    uint16_t* apRingS[3];  // 2x2 sum rows (half width)
    uint16_t* apRingT[3];  // horizontal 3-sums of them
    uint16_t* pBand;       // the band's distance rows
    int iBandCapacity;     // rows of pBand
    uint32_t* pBandBase;   // per 2x2 block (8 bits) or pixel (16 bits) of the band: its table
    uint16_t* pBandLimit;  //   (offset in the compact storage) and the table's cut
    PlatformThread* pThread;
    bool bPoolMemory;  // pMemory belongs to the job's pool (kept for the next pass)
};

// Allocates one block for all of a worker's planes (or takes the pool's block of part iPart).
// False when out of memory.
bool AllocateWorker(PassWorker* pWorker, const PassShared& shared, WorkerPool* pPool = nullptr, int iPart = 0);
void FreeWorker(PassWorker* pWorker);

// Fills the band buffer with the distance rows iFirst..iLast (half resolution) of offset (dy, dx).
void ComputeDistanceRows(PassWorker* pWorker, int iFirst, int iLast, int dy, int dx);
// Looks up, for each cell of the band of output rows y0..y1-1, the table of its guide level.
void PrepareBandTables(PassWorker* pWorker, int y0, int y1);
// Accumulate offset (dy, dx) over output rows y0..y1-1 (iFirst: the band buffer's first row).
void AccumulateBand8(PassWorker* pWorker, int y0, int y1, int iFirst, int dy, int dx);
void AccumulateBand16(PassWorker* pWorker, int y0, int y1, int iFirst, int dy, int dx);
// Normalises the band's sums into output rows y0..y1-1.
void NormalizeBand(PassWorker* pWorker, int y0, int y1);

// Progress of the calling thread: its share of steps in proportion to the offsets run so far over
// all bands (whole bands done by any thread, plus the offsets of its own current band). Stops as
// soon as the pass is cancelled.
struct ProgressState
{
    HpxProgressTarget hTarget;
    int iSteps;  // steps of the whole pass
    int iStepsDone;
};

// Advances the progress to its share of llUnitsDone of the pass's band-offsets.
void AdvanceProgress(ProgressState* pProgress, const PassShared& s, long long llUnitsDone);

// One pass of iThreads threads (1..kNlmMaxThreads) over an even-sized plane, on the pool's
// threads when there is one. kImageOk, or the engine's failure code.
unsigned char RunPass(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                      int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg, int iThreads, bool b16,
                      WorkerPool* pPool = nullptr);

}  // namespace nlm
