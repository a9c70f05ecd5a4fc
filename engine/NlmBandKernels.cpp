#include "engine/NlmPass.h"

#include "engine/KernelsAvx2.h"
#include "engine/NlmKernels.h"
#include "engine/SimdPath.h"

#include <cassert>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define HPX_NLM_SSE2 1
#endif

namespace nlm
{

namespace
{

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
        if (xs > 0) std::memcpy(pB, pRow, static_cast<size_t>(xs));
        AbsDiffRow(pB + xs, pShifted + xs, pRow + xs, xe - xs);
        if (xe < wp) std::memcpy(pB + xe, pRow + xe, static_cast<size_t>(wp - xe));
        apRows[i] = pB;
    }
    Sum2x2Row(pOut, apRows[0], apRows[1], s.iHalfW);
}

}  // namespace

// Fills the band buffer with the distance rows iFirst..iLast (half resolution) of offset (dy, dx):
// 3x3 box sums of the 2x2 sums in the interior, the 2x2 sums themselves on the border cells.
void ComputeDistanceRows(PassWorker* pWorker, int iFirst, int iLast, int dy, int dx)
{
    const PassShared& s = *pWorker->pShared;
    const int hh = s.iHalfH;
    const int wh = s.iHalfW;
    assert(iFirst >= 0 && iLast < hh && iLast - iFirst < pWorker->iBandCapacity && "distance rows fit the band");
    int iComputed = (iFirst > 0 ? iFirst - 1 : 0) - 1;  // last sum row computed
    auto computeUpTo = [&](int iRow)
    {
        if (iRow > hh - 1) iRow = hh - 1;
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
    assert(y0 >= 0 && y0 < y1 && y1 <= s.iH && y1 - y0 <= s.iBandRows && ((y1 - y0) & 1) == 0);
    for (int y = y0; y < y1; y += 2)
    {
        const int rowP = c + y;
        // The two distance rows read lie among those computed for the band, and the guide rows
        // of both neighbours of the block inside the padded guide.
        assert((rowP >> 1) - iFirst >= 0 && ((rowP - dy) >> 1) - iFirst >= 0);
        assert((rowP >> 1) - iFirst < pWorker->iBandCapacity && ((rowP - dy) >> 1) - iFirst < pWorker->iBandCapacity);
        assert(rowP - dy >= 0 && rowP + 1 + dy < s.iPaddedH && rowP + dy >= 0 && rowP + 1 - dy < s.iPaddedH);
        const uint16_t* pDp = pWorker->pBand + static_cast<ptrdiff_t>((rowP >> 1) - iFirst) * wh + (c >> 1);
        const uint16_t* pDm =
            pWorker->pBand + static_cast<ptrdiff_t>(((rowP - dy) >> 1) - iFirst) * wh + ((c - dx) >> 1);
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
        int x = bAvx2
            ? AccumulatePixels16Avx2(pWeights, pBase, pLimit, pDp, pDm, c, dx, bCentre, pPlus, pMinus, pW, pV, w)
            : 0;
#ifdef HPX_NLM_SSE2
        const __m128i zero = _mm_setzero_si128();
        const bool bOddP = ((c)&1) != 0;
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

#ifdef HPX_NLM_SSE2
// The four unsigned 32-bit lanes of u as doubles (lanes 0, 1 in *pLo, 2, 3 in *pHi), exactly as the
// scalar conversion: SSE2 converts signed lanes only, so the lanes are shifted by 2^31 and back.
inline void U32ToDoubles(__m128i u, __m128d* pLo, __m128d* pHi)
{
    const __m128i flipped = _mm_xor_si128(u, _mm_set1_epi32(static_cast<int>(0x80000000u)));
    const __m128d bias = _mm_set1_pd(2147483648.0);
    *pLo = _mm_add_pd(_mm_cvtepi32_pd(flipped), bias);
    *pHi = _mm_add_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(flipped, _MM_SHUFFLE(1, 0, 3, 2))), bias);
}

// Two unsigned 64-bit lanes as doubles, rounded once as the scalar conversion rounds: the high
// halves times 2^32 are exact, so the one addition rounds the whole value.
inline __m128d U64ToDoubles(__m128i u)
{
    __m128d lo, hi, unused;
    U32ToDoubles(_mm_shuffle_epi32(u, _MM_SHUFFLE(2, 0, 2, 0)), &lo, &unused);
    U32ToDoubles(_mm_shuffle_epi32(u, _MM_SHUFFLE(3, 1, 3, 1)), &hi, &unused);
    return _mm_add_pd(_mm_mul_pd(hi, _mm_set1_pd(4294967296.0)), lo);
}

// trunc(min(0.5 + v / w, dMax)) of two lanes, as the scalar loop computes it: the maximum first in
// min_pd so that a not-a-number (0 / 0) stays one and truncates to 0x80000000 like cvttsd2si.
inline __m128i NormalizeTwo(__m128d v, __m128d w, __m128d max)
{
    return _mm_cvttpd_epi32(_mm_min_pd(max, _mm_add_pd(_mm_set1_pd(0.5), _mm_div_pd(v, w))));
}
#endif

// Normalises the band's sums into output rows y0..y1-1: trunc(0.5 + value sum / weight sum),
// clamped to the depth's maximum, stored as the low bits of that integer. The SSE2 loops divide
// two doubles at a time, the same divisions as the scalar ones.
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
            int x = 0;
#ifdef HPX_NLM_SSE2
            const __m128d max = _mm_set1_pd(dMax);
            for (; x + 4 <= w; x += 4)
            {
                __m128d w01, w23;
                U32ToDoubles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pW + x)), &w01, &w23);
                const __m128d v01 = U64ToDoubles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pV + x)));
                const __m128d v23 = U64ToDoubles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pV + x + 2)));
                __m128i q = _mm_unpacklo_epi64(NormalizeTwo(v01, w01, max), NormalizeTwo(v23, w23, max));
                q = _mm_srai_epi32(_mm_slli_epi32(q, 16), 16);  // the low 16 bits, sign-extended for packs
                _mm_storel_epi64(reinterpret_cast<__m128i*>(pRow + x), _mm_packs_epi32(q, q));
            }
#endif
            for (; x < w; ++x)
            {
                double v = 0.5 + static_cast<double>(pV[x]) / static_cast<double>(pW[x]);
                if (v > dMax) v = dMax;
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
        int x = 0;
#ifdef HPX_NLM_SSE2
        const __m128d max = _mm_set1_pd(255.0);
        for (; x + 8 <= w; x += 8)
        {
            // Eight pixels, four blocks: each block's weight divides its two pixels.
            __m128d v01, v23, v45, v67, w01, w23;
            U32ToDoubles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pV + x)), &v01, &v23);
            U32ToDoubles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pV + x + 4)), &v45, &v67);
            U32ToDoubles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pW + x / 2)), &w01, &w23);
            const __m128i q0 = NormalizeTwo(v01, _mm_unpacklo_pd(w01, w01), max);
            const __m128i q1 = NormalizeTwo(v23, _mm_unpackhi_pd(w01, w01), max);
            const __m128i q2 = NormalizeTwo(v45, _mm_unpacklo_pd(w23, w23), max);
            const __m128i q3 = NormalizeTwo(v67, _mm_unpackhi_pd(w23, w23), max);
            const __m128i lowByte = _mm_set1_epi32(0xFF);
            const __m128i q03 = _mm_and_si128(_mm_unpacklo_epi64(q0, q1), lowByte);
            const __m128i q47 = _mm_and_si128(_mm_unpacklo_epi64(q2, q3), lowByte);
            const __m128i q16 = _mm_packs_epi32(q03, q47);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(pRow + x), _mm_packus_epi16(q16, q16));
        }
#endif
        for (; x < w; ++x)
        {
            double v = 0.5 + static_cast<double>(pV[x]) / static_cast<double>(pW[x >> 1]);
            if (v > 255.0) v = 255.0;
            pRow[x] = static_cast<uint8_t>(static_cast<int>(v));
        }
    }
}

}  // namespace nlm
