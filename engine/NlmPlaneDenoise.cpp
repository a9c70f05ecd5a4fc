#include "engine/NlmPlaneDenoise.h"

#include "engine/GpuHook.h"
#include "engine/ImageConvert.h"
#include "engine/NlmKernels.h"
#include "engine/KernelsAvx2.h"
#include "engine/SimdPath.h"
#include "engine/WeightTableCache.h"
#include "engine/WorkerPool.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define HPX_NLM_SSE2 1
#endif

std::atomic<unsigned char> g_bAbort{0};

// How one pass runs
// -----------------
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

namespace {

inline bool AbortRequested()
{
    return g_bAbort.load(std::memory_order_relaxed) != 0;
}

enum : int
{
    kMinPlaneEdge = 16,          // planes this narrow or low pass through unchanged
    kMinWorkPerThread = 2000000,  // pixel-offsets worth a thread of its own (about 1.5 ms)
    kMinWorkPerPoolThread = 200000  // the same for a pool's running thread, which costs only a wake-up
};

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

bool BuildCompactTables(CompactTables* pOut, int* const* ppTables, int iLength)
{
    size_t total = 0;
    for (int l = 0; l < kWeightLevels; ++l)
    {
        const int* t = ppTables[l];
        int lo = 0, hi = iLength - 1;  // find the first zero by bisection
        if (t[hi] != 0)
            lo = hi;
        while (lo < hi)
        {
            const int mid = (lo + hi) / 2;
            if (t[mid] == 0)
                hi = mid;
            else
                lo = mid + 1;
        }
        pOut->aLevels[l].uLimit = static_cast<uint32_t>(lo);
        total += static_cast<size_t>(lo) + 1;
    }
    pOut->pData = static_cast<uint16_t*>(std::malloc(total * sizeof(uint16_t)));
    if (pOut->pData == nullptr)
        return false;
    uint16_t* p = pOut->pData;
    for (int l = 0; l < kWeightLevels; ++l)
    {
        const int* t = ppTables[l];
        const uint32_t n = pOut->aLevels[l].uLimit + 1;
        // Levels with equal tables (all of them without dynamics) share one copy.
        if (l > 0 && pOut->aLevels[l - 1].uLimit + 1 == n &&
            std::memcmp(ppTables[l - 1], t, n * sizeof(int)) == 0)
        {
            pOut->aLevels[l].pWeights = pOut->aLevels[l - 1].pWeights;
            pOut->aLevels[l].uBase = pOut->aLevels[l - 1].uBase;
            continue;
        }
        for (uint32_t d = 0; d < n; ++d)
            p[d] = static_cast<uint16_t>(t[d]);
        pOut->aLevels[l].pWeights = p;
        pOut->aLevels[l].uBase = static_cast<uint32_t>(p - pOut->pData);
        p += n;
    }
    return true;
}

// What every thread of a pass reads.
struct PassShared
{
    const uint8_t* pGuide;     // padded guide, iPaddedW x iPaddedH, stride iPaddedW
    const uint16_t* pValues;   // padded 16-bit values (16-bit passes), same size
    int iPaddedW, iPaddedH;
    int iHalfW, iHalfH;        // half-resolution size
    int iW, iH;                // output size (even)
    int iC;                    // pad + margin: output (y, x) sits at padded (iC + y, iC + x)
    int iWindow;               // search window edge
    int iBandRows;             // output rows per band (even)
    bool b16;
    const LevelTable* pLevels; // the 256 weight tables, compacted
    const uint16_t* pWeights;  // their storage (LevelTable::uBase counts from here)
    int iOffsets;              // search offsets of the window's first half, (0, 0) included
    int iBands;
    ImageBuffer* pDst;         // the even-sized output plane
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
    uint8_t* apRowB[2];       // difference rows (padded width)
    uint16_t* apRingS[3];     // 2x2 sum rows (half width)
    uint16_t* apRingT[3];     // horizontal 3-sums of them
    uint16_t* pBand;          // the band's distance rows
    int iBandCapacity;        // rows of pBand
    uint32_t* pBandBase;      // per 2x2 block (8 bits) or pixel (16 bits) of the band: its table
    uint16_t* pBandLimit;     //   (offset in the compact storage) and the table's cut
    PlatformThread* pThread;
    bool bPoolMemory;         // pMemory belongs to the job's pool (kept for the next pass)
};

inline size_t AlignUp(size_t n)
{
    return (n + 63) & ~static_cast<size_t>(63);
}

// Allocates one block for all of a worker's planes (or takes the pool's block of part iPart).
// False when out of memory.
bool AllocateWorker(PassWorker* pWorker, const PassShared& shared, WorkerPool* pPool = nullptr, int iPart = 0)
{
    const size_t pixels = static_cast<size_t>(shared.iW) * shared.iBandRows;
    const size_t halfRow = static_cast<size_t>(shared.iHalfW) * sizeof(uint16_t);
    pWorker->iBandCapacity = shared.iBandRows / 2 + shared.iWindow / 2 + 4;
    size_t accum = 0;
    if (shared.b16)
        accum = AlignUp(pixels * sizeof(uint32_t)) + AlignUp(pixels * sizeof(uint64_t));
    else
        accum = AlignUp(pixels / 4 * sizeof(uint32_t)) + AlignUp(pixels * sizeof(uint32_t));
    const size_t bandCells = shared.b16 ? static_cast<size_t>(shared.iBandRows) * shared.iW
                                        : static_cast<size_t>(shared.iBandRows / 2) * (shared.iW / 2);
    const size_t rows = 2 * AlignUp(static_cast<size_t>(shared.iPaddedW)) + 6 * AlignUp(halfRow) +
                        AlignUp(halfRow * pWorker->iBandCapacity + 32) + AlignUp(bandCells * sizeof(uint32_t)) +
                        AlignUp(bandCells * sizeof(uint16_t) + 16);
    void* pMemory = pPool != nullptr ? pPool->PartScratch(iPart, accum + rows + 64) : std::malloc(accum + rows + 64);
    if (pMemory == nullptr)
        return false;
    pWorker->pMemory = pMemory;
    pWorker->bPoolMemory = pPool != nullptr;
    uint8_t* p = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(pMemory) + 63) & ~static_cast<uintptr_t>(63));
    pWorker->uAccumulatorBytes = accum;
    if (shared.b16)
    {
        pWorker->pWeights32 = reinterpret_cast<uint32_t*>(p);
        p += AlignUp(pixels * sizeof(uint32_t));
        pWorker->pValues64 = reinterpret_cast<uint64_t*>(p);
        p += AlignUp(pixels * sizeof(uint64_t));
    }
    else
    {
        pWorker->pBlockWeights = reinterpret_cast<uint32_t*>(p);
        p += AlignUp(pixels / 4 * sizeof(uint32_t));
        pWorker->pValues32 = reinterpret_cast<uint32_t*>(p);
        p += AlignUp(pixels * sizeof(uint32_t));
    }
    for (int i = 0; i < 2; ++i)
    {
        pWorker->apRowB[i] = p;
        p += AlignUp(static_cast<size_t>(shared.iPaddedW));
    }
    for (int i = 0; i < 3; ++i)
    {
        pWorker->apRingS[i] = reinterpret_cast<uint16_t*>(p);
        p += AlignUp(halfRow);
        pWorker->apRingT[i] = reinterpret_cast<uint16_t*>(p);
        p += AlignUp(halfRow);
    }
    pWorker->pBand = reinterpret_cast<uint16_t*>(p);
    p += AlignUp(halfRow * pWorker->iBandCapacity + 32);  // 16-bit passes read a few cells ahead
    pWorker->pBandBase = reinterpret_cast<uint32_t*>(p);
    p += AlignUp(bandCells * sizeof(uint32_t));
    pWorker->pBandLimit = reinterpret_cast<uint16_t*>(p);
    return true;
}

void FreeWorker(PassWorker* pWorker)
{
    if (!pWorker->bPoolMemory)
        std::free(pWorker->pMemory);
    pWorker->pMemory = nullptr;
}

// One half-resolution row of 2x2 sums of the difference plane of offset (dy, dx): the difference
// of a padded pixel q is |A(q + d) - A(q)| where q + d lies inside the padded guide, and A(q)
// itself elsewhere (the cells the shifted difference leaves untouched).
void ComputeSumRow(PassWorker* pWorker, int iHalfRow, int dy, int dx, uint16_t* pOut)
{
    const PassShared& s = *pWorker->pShared;
    const int wp = s.iPaddedW;
    const int xs = dx < 0 ? -dx : 0;
    const int xe = dx > 0 ? wp - dx : wp;
    const uint8_t* apRows[2];
    for (int i = 0; i < 2; ++i)
    {
        const int qy = 2 * iHalfRow + i;
        const uint8_t* pRow = s.pGuide + static_cast<ptrdiff_t>(qy) * wp;
        if (qy + dy < 0 || qy + dy >= s.iPaddedH)
        {
            apRows[i] = pRow;
            continue;
        }
        uint8_t* pB = pWorker->apRowB[i];
        const uint8_t* pShifted = pRow + static_cast<ptrdiff_t>(dy) * wp + dx;
        if (xs > 0)
            std::memcpy(pB, pRow, static_cast<size_t>(xs));
        AbsDiffRow(pB + xs, pShifted + xs, pRow + xs, xe - xs);
        if (xe < wp)
            std::memcpy(pB + xe, pRow + xe, static_cast<size_t>(wp - xe));
        apRows[i] = pB;
    }
    Sum2x2Row(pOut, apRows[0], apRows[1], s.iHalfW);
}

// Fills the band buffer with the distance rows iFirst..iLast (half resolution) of offset (dy, dx):
// 3x3 box sums of the 2x2 sums in the interior, the 2x2 sums themselves on the border cells.
void ComputeDistanceRows(PassWorker* pWorker, int iFirst, int iLast, int dy, int dx)
{
    const PassShared& s = *pWorker->pShared;
    const int hh = s.iHalfH;
    const int wh = s.iHalfW;
    int iComputed = (iFirst > 0 ? iFirst - 1 : 0) - 1;  // last sum row computed
    auto computeUpTo = [&](int iRow) {
        if (iRow > hh - 1)
            iRow = hh - 1;
        while (iComputed < iRow)
        {
            ++iComputed;
            uint16_t* pS = pWorker->apRingS[iComputed % 3];
            ComputeSumRow(pWorker, iComputed, dy, dx, pS);
            BoxRow3(pWorker->apRingT[iComputed % 3], pS, wh);
        }
    };
    for (int y = iFirst; y <= iLast; ++y)
    {
        computeUpTo(y + 1);
        uint16_t* pOut = pWorker->pBand + static_cast<ptrdiff_t>(y - iFirst) * wh;
        const uint16_t* pS = pWorker->apRingS[y % 3];
        if (y == 0 || y == hh - 1)
        {
            std::memcpy(pOut, pS, static_cast<size_t>(wh) * sizeof(uint16_t));
            continue;
        }
        pOut[0] = pS[0];
        pOut[wh - 1] = pS[wh - 1];
        AddRows3(pOut, pWorker->apRingT[(y - 1) % 3], pWorker->apRingT[y % 3], pWorker->apRingT[(y + 1) % 3], 1,
                 wh - 1);
    }
}

// Looks up, for each cell of the band, the table of its guide level once for all offsets.
void PrepareBandTables(PassWorker* pWorker, int y0, int y1)
{
    const PassShared& s = *pWorker->pShared;
    const int step = s.b16 ? 1 : 2;
    const int cols = s.iW / step;
    uint32_t* pBase = pWorker->pBandBase;
    uint16_t* pLimit = pWorker->pBandLimit;
    for (int y = y0; y < y1; y += step)
    {
        const uint8_t* pLevel = s.pGuide + static_cast<ptrdiff_t>(s.iC + y) * s.iPaddedW + s.iC;
        for (int b = 0; b < cols; ++b, ++pBase, ++pLimit)
        {
            const LevelTable& t = s.pLevels[pLevel[step * b]];
            *pBase = t.uBase;
            *pLimit = static_cast<uint16_t>(t.uLimit);
        }
    }
}

#ifdef HPX_NLM_SSE2
// Weights of eight pixels: entry base + distance (already cut to the table's length) in the
// compact table. SSE2 has no gather, so the eight look-ups are scalar loads.
inline __m128i LookUpWeights8(const uint16_t* pWeights, __m128i base0, __m128i base1, __m128i d)
{
    const __m128i zero = _mm_setzero_si128();
    alignas(16) uint32_t aIdx[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(aIdx), _mm_add_epi32(base0, _mm_unpacklo_epi16(d, zero)));
    _mm_store_si128(reinterpret_cast<__m128i*>(aIdx + 4), _mm_add_epi32(base1, _mm_unpackhi_epi16(d, zero)));
    __m128i g = _mm_cvtsi32_si128(pWeights[aIdx[0]]);
    g = _mm_insert_epi16(g, pWeights[aIdx[1]], 1);
    g = _mm_insert_epi16(g, pWeights[aIdx[2]], 2);
    g = _mm_insert_epi16(g, pWeights[aIdx[3]], 3);
    g = _mm_insert_epi16(g, pWeights[aIdx[4]], 4);
    g = _mm_insert_epi16(g, pWeights[aIdx[5]], 5);
    g = _mm_insert_epi16(g, pWeights[aIdx[6]], 6);
    g = _mm_insert_epi16(g, pWeights[aIdx[7]], 7);
    return g;
}
#endif

// Accumulates offset (dy, dx) over output rows y0..y1-1 of an 8-bit pass, per 2x2 block.
void AccumulateBand8(PassWorker* pWorker, int y0, int y1, int iFirst, int dy, int dx)
{
    const PassShared& s = *pWorker->pShared;
    const int wp = s.iPaddedW;
    const int wh = s.iHalfW;
    const int c = s.iC;
    const int blocks = s.iW / 2;
    const bool bCentre = dy == 0 && dx == 0;
    const uint16_t* pWeights = s.pWeights;
    const bool bAvx2 = UseAvx2();
    for (int y = y0; y < y1; y += 2)
    {
        const int rowP = c + y;
        const uint16_t* pDp = pWorker->pBand + static_cast<ptrdiff_t>((rowP >> 1) - iFirst) * wh + (c >> 1);
        const uint16_t* pDm = pWorker->pBand + static_cast<ptrdiff_t>(((rowP - dy) >> 1) - iFirst) * wh + ((c - dx) >> 1);
        const uint32_t* pBase = pWorker->pBandBase + static_cast<ptrdiff_t>((y - y0) / 2) * blocks;
        const uint16_t* pLimit = pWorker->pBandLimit + static_cast<ptrdiff_t>((y - y0) / 2) * blocks;
        const uint8_t* apPlus[2];
        const uint8_t* apMinus[2];
        uint32_t* apSums[2];
        for (int i = 0; i < 2; ++i)
        {
            apPlus[i] = s.pGuide + static_cast<ptrdiff_t>(rowP + i + dy) * wp + c + dx;
            apMinus[i] = s.pGuide + static_cast<ptrdiff_t>(rowP + i - dy) * wp + c - dx;
            apSums[i] = pWorker->pValues32 + static_cast<ptrdiff_t>(y - y0 + i) * s.iW;
        }
        uint32_t* pBlockWeights = pWorker->pBlockWeights + static_cast<ptrdiff_t>((y - y0) / 2) * blocks;
        int b = bAvx2 ? AccumulateBlocks8Avx2(pWeights, pBase, pLimit, pDp, pDm, bCentre, apPlus, apMinus, apSums,
                                              pBlockWeights, blocks)
                      : 0;
#ifdef HPX_NLM_SSE2
        const __m128i zero = _mm_setzero_si128();
        for (; b + 8 <= blocks; b += 8)
        {
            // Table indices: base of the block's table + min(distance, the table's cut).
            const __m128i lim = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pLimit + b));
            const __m128i base0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBase + b));
            const __m128i base1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBase + b + 4));
            const __m128i dp = _mm_min_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pDp + b)), lim);
            __m128i g = LookUpWeights8(pWeights, base0, base1, dp);
            __m128i h = zero;
            if (!bCentre)
            {
                const __m128i dm = _mm_min_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pDm + b)), lim);
                h = LookUpWeights8(pWeights, base0, base1, dm);
            }
            const __m128i gh = _mm_add_epi16(g, h);
            __m128i* pW = reinterpret_cast<__m128i*>(pBlockWeights + b);
            _mm_storeu_si128(pW, _mm_add_epi32(_mm_loadu_si128(pW), _mm_unpacklo_epi16(gh, zero)));
            _mm_storeu_si128(pW + 1, _mm_add_epi32(_mm_loadu_si128(pW + 1), _mm_unpackhi_epi16(gh, zero)));
            // Per pixel g x value(P + d) + h x value(P - d): the two weights of a block interleaved
            // with the two values of each of its pixels, multiplied and paired by pmaddwd.
            const __m128i ghLo = _mm_unpacklo_epi16(g, h);
            const __m128i ghHi = _mm_unpackhi_epi16(g, h);
            const __m128i w0 = _mm_unpacklo_epi32(ghLo, ghLo);
            const __m128i w1 = _mm_unpackhi_epi32(ghLo, ghLo);
            const __m128i w2 = _mm_unpacklo_epi32(ghHi, ghHi);
            const __m128i w3 = _mm_unpackhi_epi32(ghHi, ghHi);
            for (int i = 0; i < 2; ++i)
            {
                const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(apPlus[i] + 2 * b));
                const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(apMinus[i] + 2 * b));
                const __m128i v1Lo = _mm_unpacklo_epi8(v1, zero);
                const __m128i v1Hi = _mm_unpackhi_epi8(v1, zero);
                const __m128i v2Lo = _mm_unpacklo_epi8(v2, zero);
                const __m128i v2Hi = _mm_unpackhi_epi8(v2, zero);
                __m128i* pS = reinterpret_cast<__m128i*>(apSums[i] + 2 * b);
                const __m128i p0 = _mm_madd_epi16(_mm_unpacklo_epi16(v1Lo, v2Lo), w0);
                const __m128i p1 = _mm_madd_epi16(_mm_unpackhi_epi16(v1Lo, v2Lo), w1);
                const __m128i p2 = _mm_madd_epi16(_mm_unpacklo_epi16(v1Hi, v2Hi), w2);
                const __m128i p3 = _mm_madd_epi16(_mm_unpackhi_epi16(v1Hi, v2Hi), w3);
                _mm_storeu_si128(pS, _mm_add_epi32(_mm_loadu_si128(pS), p0));
                _mm_storeu_si128(pS + 1, _mm_add_epi32(_mm_loadu_si128(pS + 1), p1));
                _mm_storeu_si128(pS + 2, _mm_add_epi32(_mm_loadu_si128(pS + 2), p2));
                _mm_storeu_si128(pS + 3, _mm_add_epi32(_mm_loadu_si128(pS + 3), p3));
            }
        }
#endif
        for (; b < blocks; ++b)
        {
            const uint32_t lim = pLimit[b];
            const uint16_t* t = pWeights + pBase[b];
            const uint32_t g = t[pDp[b] < lim ? pDp[b] : lim];
            const uint32_t h = bCentre ? 0u : t[pDm[b] < lim ? pDm[b] : lim];
            pBlockWeights[b] += g + h;
            for (int i = 0; i < 2; ++i)
            {
                apSums[i][2 * b] += g * apPlus[i][2 * b] + h * apMinus[i][2 * b];
                apSums[i][2 * b + 1] += g * apPlus[i][2 * b + 1] + h * apMinus[i][2 * b + 1];
            }
        }
    }
}

#ifdef HPX_NLM_SSE2
// The distances of 8 consecutive pixels from the half-resolution row: pixel x reads cell
// (c + x) >> 1, so each cell serves two pixels; bOdd when the first pixel is the second of its pair.
inline __m128i LoadPixelDistances(const uint16_t* pCells, bool bOdd)
{
    if (!bOdd)
    {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pCells));
        return _mm_unpacklo_epi16(v, v);
    }
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pCells));
    return _mm_or_si128(_mm_srli_si128(_mm_unpacklo_epi16(v, v), 2), _mm_slli_si128(_mm_unpackhi_epi16(v, v), 14));
}
#endif

// Accumulates offset (dy, dx) over output rows y0..y1-1 of a 16-bit pass, per pixel.
void AccumulateBand16(PassWorker* pWorker, int y0, int y1, int iFirst, int dy, int dx)
{
    const PassShared& s = *pWorker->pShared;
    const int wp = s.iPaddedW;
    const int wh = s.iHalfW;
    const int c = s.iC;
    const int w = s.iW;
    const bool bCentre = dy == 0 && dx == 0;
    const uint16_t* pWeights = s.pWeights;
    const bool bAvx2 = UseAvx2();
    for (int y = y0; y < y1; ++y)
    {
        const int rowP = c + y;
        const uint16_t* pDp = pWorker->pBand + static_cast<ptrdiff_t>((rowP >> 1) - iFirst) * wh;
        const uint16_t* pDm = pWorker->pBand + static_cast<ptrdiff_t>(((rowP - dy) >> 1) - iFirst) * wh;
        const uint32_t* pBase = pWorker->pBandBase + static_cast<ptrdiff_t>(y - y0) * w;
        const uint16_t* pLimit = pWorker->pBandLimit + static_cast<ptrdiff_t>(y - y0) * w;
        const uint16_t* pPlus = s.pValues + static_cast<ptrdiff_t>(rowP + dy) * wp + c + dx;
        const uint16_t* pMinus = s.pValues + static_cast<ptrdiff_t>(rowP - dy) * wp + c - dx;
        uint32_t* pW = pWorker->pWeights32 + static_cast<ptrdiff_t>(y - y0) * w;
        uint64_t* pV = pWorker->pValues64 + static_cast<ptrdiff_t>(y - y0) * w;
        int x = bAvx2 ? AccumulatePixels16Avx2(pWeights, pBase, pLimit, pDp, pDm, c, dx, bCentre, pPlus, pMinus, pW,
                                               pV, w)
                      : 0;
#ifdef HPX_NLM_SSE2
        const __m128i zero = _mm_setzero_si128();
        const bool bOddP = ((c) & 1) != 0;
        const bool bOddM = ((c - dx) & 1) != 0;
        for (; x + 8 <= w; x += 8)
        {
            // Distances of the 8 pixels: each half-resolution cell serves two neighbours.
            const __m128i dp = LoadPixelDistances(pDp + ((c + x) >> 1), bOddP);
            const __m128i lim = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pLimit + x));
            const __m128i base0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBase + x));
            const __m128i base1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBase + x + 4));
            const __m128i ip = _mm_min_epi16(dp, lim);
            __m128i g = LookUpWeights8(pWeights, base0, base1, ip);
            const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pPlus + x));
            __m128i s0 = _mm_unpacklo_epi16(_mm_mullo_epi16(g, v1), _mm_mulhi_epu16(g, v1));
            __m128i s1 = _mm_unpackhi_epi16(_mm_mullo_epi16(g, v1), _mm_mulhi_epu16(g, v1));
            __m128i gh = g;
            if (!bCentre)
            {
                const __m128i dm = _mm_min_epi16(LoadPixelDistances(pDm + ((c + x - dx) >> 1), bOddM), lim);
                __m128i h = LookUpWeights8(pWeights, base0, base1, dm);
                const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pMinus + x));
                // g v1 + h v2 < 2 x 10000 x 65535 fits 32 bits unsigned.
                s0 = _mm_add_epi32(s0, _mm_unpacklo_epi16(_mm_mullo_epi16(h, v2), _mm_mulhi_epu16(h, v2)));
                s1 = _mm_add_epi32(s1, _mm_unpackhi_epi16(_mm_mullo_epi16(h, v2), _mm_mulhi_epu16(h, v2)));
                gh = _mm_add_epi16(g, h);
            }
            __m128i* pWv = reinterpret_cast<__m128i*>(pW + x);
            _mm_storeu_si128(pWv, _mm_add_epi32(_mm_loadu_si128(pWv), _mm_unpacklo_epi16(gh, zero)));
            _mm_storeu_si128(pWv + 1, _mm_add_epi32(_mm_loadu_si128(pWv + 1), _mm_unpackhi_epi16(gh, zero)));
            __m128i* pVv = reinterpret_cast<__m128i*>(pV + x);
            _mm_storeu_si128(pVv, _mm_add_epi64(_mm_loadu_si128(pVv), _mm_unpacklo_epi32(s0, zero)));
            _mm_storeu_si128(pVv + 1, _mm_add_epi64(_mm_loadu_si128(pVv + 1), _mm_unpackhi_epi32(s0, zero)));
            _mm_storeu_si128(pVv + 2, _mm_add_epi64(_mm_loadu_si128(pVv + 2), _mm_unpacklo_epi32(s1, zero)));
            _mm_storeu_si128(pVv + 3, _mm_add_epi64(_mm_loadu_si128(pVv + 3), _mm_unpackhi_epi32(s1, zero)));
        }
#endif
        for (; x < w; ++x)
        {
            const uint32_t lim = pLimit[x];
            const uint16_t* t = pWeights + pBase[x];
            const uint32_t dp = pDp[(c + x) >> 1];
            const uint32_t g = t[dp < lim ? dp : lim];
            uint32_t h = 0;
            uint32_t vm = 0;
            if (!bCentre)
            {
                const uint32_t dm = pDm[(c + x - dx) >> 1];
                h = t[dm < lim ? dm : lim];
                vm = pMinus[x];
            }
            pW[x] += g + h;
            pV[x] += static_cast<uint64_t>(g * pPlus[x] + h * vm);
        }
    }
}

// Normalises the band's sums into output rows y0..y1-1: trunc(0.5 + value sum / weight sum),
// clamped to the depth's maximum.
void NormalizeBand(PassWorker* pWorker, int y0, int y1)
{
    const PassShared& s = *pWorker->pShared;
    const ImageBuffer* pDst = s.pDst;
    const int w = s.iW;
    if (s.b16)
    {
        const int bits = pDst->m_iBits > 16 ? 16 : pDst->m_iBits;
        const double dMax = static_cast<double>((1 << bits) - 1);
        for (int y = y0; y < y1; ++y)
        {
            uint16_t* pRow = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(pDst->m_pData) +
                                                         static_cast<ptrdiff_t>(y) * pDst->m_iStride);
            const uint32_t* pW = pWorker->pWeights32 + static_cast<ptrdiff_t>(y - y0) * w;
            const uint64_t* pV = pWorker->pValues64 + static_cast<ptrdiff_t>(y - y0) * w;
            for (int x = 0; x < w; ++x)
            {
                double v = 0.5 + static_cast<double>(pV[x]) / static_cast<double>(pW[x]);
                if (v > dMax)
                    v = dMax;
                pRow[x] = static_cast<uint16_t>(static_cast<int>(v));
            }
        }
        return;
    }
    const int blocks = w / 2;
    for (int y = y0; y < y1; ++y)
    {
        uint8_t* pRow = static_cast<uint8_t*>(pDst->m_pData) + static_cast<ptrdiff_t>(y) * pDst->m_iStride;
        const uint32_t* pW = pWorker->pBlockWeights + static_cast<ptrdiff_t>((y - y0) / 2) * blocks;
        const uint32_t* pV = pWorker->pValues32 + static_cast<ptrdiff_t>(y - y0) * w;
        for (int x = 0; x < w; ++x)
        {
            double v = 0.5 + static_cast<double>(pV[x]) / static_cast<double>(pW[x >> 1]);
            if (v > 255.0)
                v = 255.0;
            pRow[x] = static_cast<uint8_t>(static_cast<int>(v));
        }
    }
}

// Progress of the calling thread: its share of steps in proportion to the offsets run so far over
// all bands (whole bands done by any thread, plus the offsets of its own current band). Stops as
// soon as the pass is cancelled.
struct ProgressState
{
    HpxProgressTarget hTarget;
    int iSteps;      // steps of the whole pass
    int iStepsDone;
};

void AdvanceProgress(ProgressState* pProgress, const PassShared& s, long long llUnitsDone)
{
    if (pProgress == nullptr || pProgress->hTarget == nullptr)
        return;
    const long long llUnits = static_cast<long long>(s.iBands) * s.iOffsets;
    const int iTarget = static_cast<int>(pProgress->iSteps * llUnitsDone / llUnits);
    for (; pProgress->iStepsDone < iTarget && !AbortRequested(); ++pProgress->iStepsDone)
        ProgressStep(pProgress->hTarget);
}

// Takes bands until none is left (or the pass is aborted): every search offset on the band, then
// the normalisation. pProgress is given by the calling thread only.
void RunBands(PassWorker* pWorker, ProgressState* pProgress)
{
    PassShared& s = *pWorker->pShared;
    const int w = s.iWindow;
    for (;;)
    {
        if (AbortRequested())
            return;
        const int band = s.iNextBand.fetch_add(1, std::memory_order_relaxed);
        if (band >= s.iBands)
            return;
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
            if (AbortRequested())
                return;
            if (pProgress != nullptr)
                AdvanceProgress(pProgress, s,
                                static_cast<long long>(s.iBandsDone.load(std::memory_order_relaxed)) * s.iOffsets + k + 1);
        }
        NormalizeBand(pWorker, y0, y1);
        const int done = s.iBandsDone.fetch_add(1, std::memory_order_relaxed) + 1;
        if (pProgress != nullptr)
            AdvanceProgress(pProgress, s, static_cast<long long>(done) * s.iOffsets);
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

// The four drivers share this body: the thread count and the depth select the variant.
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

unsigned char RunPass(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                      int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg, int iThreads, bool b16,
                      WorkerPool* pPool = nullptr)
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
            return 1;
        if (!BuildCompactTables(&compact, ppTables, kWeightPatchKey * kWeightPatchKey * 256))
            return kImageNoMemory;
    }

    const int pad = r + 3;
    ImageBuffer paddedGuide;
    ImageBuffer paddedValues;
    InitImage(&paddedValues);
    if (!MakePaddedPlane(&paddedGuide, guide, pad, pPool) ||
        (b16 && !MakePaddedPlane(&paddedValues, src, pad, pPool)))
    {
        ReleaseImage(&paddedGuide);
        ReleaseImage(&paddedValues);
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
    const int n = iThreads < 1 ? 1 : (iThreads > kNlmMaxThreads ? kNlmMaxThreads : iThreads);
    int iBand = (160 * 1024 / (w * 4)) & ~1;
    const int iForThreads = ((h + 3 * n - 1) / (3 * n) + 1) & ~1;
    if (n > 1 && iForThreads < iBand)
        iBand = iForThreads;
    shared.iBandRows = iBand < 8 ? 8 : (iBand > 256 ? 256 : iBand);
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
    for (int t = 0; t < n; ++t)
        aWorkers[t].pShared = &shared;
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
        if (llWorkers > shared.iBands)
            llWorkers = shared.iBands;
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

    for (int t = 0; t < n; ++t)
        FreeWorker(&aWorkers[t]);
    std::free(compact.pData);
    ReleaseImage(&paddedGuide);
    ReleaseImage(&paddedValues);
    return result;
}

inline int ClampThreads(int iThreads)
{
    return iThreads < 1 ? 1 : (iThreads > kNlmMaxThreads ? kNlmMaxThreads : iThreads);
}

} // namespace

unsigned char NlmPlaneDenoiseCpu(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide,
                                 double dStrength, int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg)
{
    return RunPass(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, 1, false);
}

unsigned char NlmPlaneDenoiseCpuMt(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide,
                                   double dStrength, int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg,
                                   int iThreads)
{
    return RunPass(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, ClampThreads(iThreads), false);
}

unsigned char NlmPlaneDenoiseCpu16(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide,
                                   double dStrength, int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg)
{
    return RunPass(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, 1, true);
}

unsigned char NlmPlaneDenoiseCpuMt16(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide,
                                     double dStrength, int iQuality, double dDynamics2,
                                     HpxProgressTarget hProgressDlg, int iThreads)
{
    return RunPass(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, ClampThreads(iThreads), true);
}

namespace {

// The 8-bit guide of a plane: a copy converted to 8 bits (16 bits: the high byte; depths between
// 9 and 15: their top eight bits). False when out of memory.
bool MakeGuide(ImageBuffer* pGuide, const ImageBuffer* pPlane)
{
    if (CopyImageLayout(pGuide, pPlane) != kImageOk)
        return false;
    CopyImagePixels(pGuide, pPlane);
    if (pPlane->m_iBits == 8)
        return true;
    const unsigned char conv = ConvertImage(pGuide, 8, 1);
    if (conv == kImageBadArgs && pGuide->m_pData != nullptr && pGuide->m_iBits != 8)
    {
        ImageBuffer narrow;
        InitImage(&narrow);
        const bool bOk = CreateImage(&narrow, pPlane->m_iWidth, pPlane->m_iHeight, 1, 8) == kImageOk;
        if (bOk)
        {
            const uint16_t* pIn = static_cast<const uint16_t*>(pGuide->m_pData);
            uint8_t* pOut = static_cast<uint8_t*>(narrow.m_pData);
            const int shift = pGuide->m_iBits - 8;
            const size_t n = static_cast<size_t>(pPlane->m_iWidth) * pPlane->m_iHeight;
            for (size_t i = 0; i < n; ++i)
            {
                const int v = pIn[i] >> shift;
                pOut[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
            }
        }
        ReleaseImage(pGuide);
        *pGuide = narrow;
        return bOk;
    }
    return conv == kImageOk && pGuide->m_pData != nullptr && pGuide->m_iBits == 8;
}

// Picks the driver by depth and thread count; the 16-bit drivers take the integer strength.
unsigned char RunCpuDriver(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                           int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg, int iThreads,
                           WorkerPool* pPool)
{
    const int n = ClampThreads(iThreads);
    if (pPool != nullptr && n > 1)
    {
        const bool b16 = src->m_iBits != 8;
        return RunPass(dst, src, guide, b16 ? std::trunc(dStrength) : dStrength, iQuality, dDynamics2,
                       hProgressDlg, n, b16, pPool);
    }
    if (src->m_iBits == 8)
        return n == 1 ? NlmPlaneDenoiseCpu(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg)
                      : NlmPlaneDenoiseCpuMt(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, n);
    const double dStrength16 = std::trunc(dStrength);
    return n == 1 ? NlmPlaneDenoiseCpu16(dst, src, guide, dStrength16, iQuality, dDynamics2, hProgressDlg)
                  : NlmPlaneDenoiseCpuMt16(dst, src, guide, dStrength16, iQuality, dDynamics2, hProgressDlg, n);
}

} // namespace

unsigned char NlmPlaneDenoise(ImageBuffer* dst, ImageBuffer* src, double dStrength, int iQuality, double dDynamics,
                              HpxProgressTarget hProgressDlg, bool bGpu, int iThreads, WorkerPool* pPool)
{
    if (dst == nullptr || src == nullptr || src->m_pData == nullptr)
        return kImageBadArgs;
    if (dst == src)
    {
        // In place: denoise into a temporary and copy the result over the plane.
        ImageBuffer result;
        InitImage(&result);
        if (CopyImageLayout(&result, src) != kImageOk)
            return kImageNoMemory;
        const unsigned char r =
            NlmPlaneDenoise(&result, src, dStrength, iQuality, dDynamics, hProgressDlg, bGpu, iThreads, pPool);
        if (r == kImageOk)
            CopyImagePixels(src, &result);
        ReleaseImage(&result);
        return r;
    }
    const int w = src->m_iWidth;
    const int h = src->m_iHeight;
    const int bits = src->m_iBits;
    if (src->m_iChannels != 1 || bits < 8 || bits > 16 || w <= 0 || h <= 0)
    {
        // Not a plane this pass handles: hand the input back.
        if (dst->m_pData != nullptr)
            CopyImagePixels(dst, src);
        return kImageBadArgs;
    }

    // The destination's shape comes back unchanged (the source's, when it had none).
    ImageBuffer kept = *dst;
    if (kept.m_iWidth <= 0 || kept.m_iHeight <= 0 || kept.m_iChannels <= 0 || kept.m_iBits <= 0)
    {
        kept.m_iWidth = w;
        kept.m_iHeight = h;
        kept.m_iChannels = 1;
        kept.m_iBits = bits;
    }

    const double dDynamics2 = 2.0 * dDynamics;

    // An even-sized plane on the CPU needs no even-sized copy: the drivers read the source (its
    // own guide at 8 bits) and write the destination directly, which saves three plane copies
    // and leaves fewer planes alive during the pass.
    if (!bGpu && (w & 1) == 0 && (h & 1) == 0 && dst->m_pData != nullptr && dst->m_iWidth == w &&
        dst->m_iHeight == h && dst->m_iChannels == 1 && dst->m_iBits == bits && dst->m_iStride == src->m_iStride)
    {
        ImageBuffer guide;
        InitImage(&guide);
        unsigned char result = kImageNoMemory;
        if (bits == 8 || MakeGuide(&guide, src))
            result = RunCpuDriver(dst, src, bits == 8 ? src : &guide, dStrength, iQuality, dDynamics2, hProgressDlg,
                                  iThreads, pPool);
        if (AbortRequested() || result != kImageOk)
            CopyImagePixels(dst, src);
        ReleaseImage(&guide);
        return AbortRequested() || result == kImageOk ? kImageOk : kImageNoMemory;
    }

    // Even-sized zero-padded copy, output plane and 8-bit guide.
    const int we = w + (w & 1);
    const int he = h + (h & 1);
    ImageBuffer padded, output, guide;
    InitImage(&padded);
    InitImage(&output);
    InitImage(&guide);
    bool bOk = CreateImage(&padded, we, he, 1, bits) == kImageOk && CreateImage(&output, we, he, 1, bits) == kImageOk;
    if (bOk)
    {
        FillImageBytes(&padded, 0);
        CopyImageRect(&padded, src, 0, 0, 0, 0, w, h);
        bOk = MakeGuide(&guide, &padded);
    }
    if (!bOk)
    {
        // Out of memory before the pass: the input is handed back untouched.
        ReleaseImage(&padded);
        ReleaseImage(&output);
        ReleaseImage(&guide);
        if (dst->m_pData != nullptr)
            CopyImagePixels(dst, src);
        return kImageNoMemory;
    }

    // The caller's planes keep their blocks: a block given back after the pass could fail to
    // come back, and the source must survive any pass unchanged.
    const unsigned char result =
        bGpu ? GpuHookNlmPlaneDenoise(&output, &padded, &guide, iQuality, hProgressDlg, dStrength, dDynamics2)
             : RunCpuDriver(&output, &padded, &guide, dStrength, iQuality, dDynamics2, hProgressDlg, iThreads, pPool);

    // dst receives the result, or the input when the pass was cancelled or could not run.
    const bool bFailed = AbortRequested() || result != kImageOk || output.m_pData == nullptr;
    const bool bHaveDst = dst->m_pData != nullptr ||
                          CreateImage(dst, kept.m_iWidth, kept.m_iHeight, kept.m_iChannels, kept.m_iBits) == kImageOk;
    if (bHaveDst)
    {
        const int cw = kept.m_iWidth < w ? kept.m_iWidth : w;
        const int ch = kept.m_iHeight < h ? kept.m_iHeight : h;
        if (kept.m_iChannels == 1 && ImageBytesPerSample(kept.m_iBits) == ImageBytesPerSample(bits))
            CopyImageRect(dst, bFailed ? src : &output, 0, 0, 0, 0, cw, ch);
        else
            CopyImagePixels(dst, src);
    }

    ReleaseImage(&padded);
    ReleaseImage(&output);
    ReleaseImage(&guide);
    return bHaveDst && (AbortRequested() || !bFailed) ? kImageOk : kImageNoMemory;
}
