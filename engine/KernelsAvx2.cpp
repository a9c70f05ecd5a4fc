#include "engine/KernelsAvx2.h"

#include <immintrin.h>

// Everything below is compiled for AVX2 and only reached after the processor was found to run
// it. The 32-bit Windows stack is only 4-byte aligned at a call, so every entry realigns its
// frame before the compiler spills a 32-byte register there.
#pragma GCC push_options
#pragma GCC target("avx2")

#if defined(__i386__)
#define HPX_AVX2_ENTRY __attribute__((force_align_arg_pointer))
#else
#define HPX_AVX2_ENTRY
#endif

namespace
{

inline __m256i Load256(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }

inline void Store256(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

inline __m128i Load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// Weights of eight cells: W[base + min(d, limit)], widened to 32 bits. Eight scalar loads into
// one register beat the gather instruction on the processors measured (the table is in L1).
inline __m256i GatherWeights8(const uint16_t* pWeights, __m256i base, __m256i limit, __m256i d)
{
    const __m256i idx = _mm256_add_epi32(base, _mm256_min_epu32(d, limit));
    alignas(32) uint32_t a[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(a), idx);
    __m128i g = _mm_cvtsi32_si128(pWeights[a[0]]);
    g = _mm_insert_epi16(g, pWeights[a[1]], 1);
    g = _mm_insert_epi16(g, pWeights[a[2]], 2);
    g = _mm_insert_epi16(g, pWeights[a[3]], 3);
    g = _mm_insert_epi16(g, pWeights[a[4]], 4);
    g = _mm_insert_epi16(g, pWeights[a[5]], 5);
    g = _mm_insert_epi16(g, pWeights[a[6]], 6);
    g = _mm_insert_epi16(g, pWeights[a[7]], 7);
    return _mm256_cvtepu16_epi32(g);
}

// The distances of 8 consecutive pixels from the half-resolution row (each cell serves two
// pixels; bOdd when the first pixel is the second of its pair), widened to 32 bits.
inline __m256i PixelDistances8(const uint16_t* pCells, bool bOdd)
{
    __m128i d;
    if (!bOdd)
    {
        const __m128i v = _mm_loadl_epi64(static_cast<const __m128i*>(static_cast<const void*>(pCells)));
        d = _mm_unpacklo_epi16(v, v);
    }
    else
    {
        const __m128i v = Load128(pCells);
        d = _mm_or_si128(_mm_srli_si128(_mm_unpacklo_epi16(v, v), 2), _mm_slli_si128(_mm_unpackhi_epi16(v, v), 14));
    }
    return _mm256_cvtepu16_epi32(d);
}

}  // namespace

HPX_AVX2_ENTRY int AbsDiffRowAvx2(uint8_t* out, const uint8_t* a, const uint8_t* b, int n)
{
    int i = 0;
    for (; i + 32 <= n; i += 32)
    {
        const __m256i va = Load256(a + i);
        const __m256i vb = Load256(b + i);
        Store256(out + i, _mm256_max_epu8(_mm256_subs_epu8(va, vb), _mm256_subs_epu8(vb, va)));
    }
    return i;
}

HPX_AVX2_ENTRY int Sum2x2RowAvx2(uint16_t* out, const uint8_t* r0, const uint8_t* r1, int nOut)
{
    int x = 0;
    const __m256i ones = _mm256_set1_epi8(1);
    for (; x + 16 <= nOut; x += 16)
    {
        // maddubs adds each pair of unsigned bytes into a 16-bit lane (at most 510, no saturation).
        const __m256i s0 = _mm256_maddubs_epi16(Load256(r0 + 2 * x), ones);
        const __m256i s1 = _mm256_maddubs_epi16(Load256(r1 + 2 * x), ones);
        Store256(out + x, _mm256_add_epi16(s0, s1));
    }
    return x;
}

HPX_AVX2_ENTRY int BoxRow3Avx2(uint16_t* out, const uint16_t* in, int n)
{
    int x = 1;
    for (; x + 16 <= n - 1; x += 16)
        Store256(out + x,
                 _mm256_add_epi16(_mm256_add_epi16(Load256(in + x - 1), Load256(in + x)), Load256(in + x + 1)));
    return x;
}

HPX_AVX2_ENTRY int AddRows3Avx2(uint16_t* out, const uint16_t* a, const uint16_t* b, const uint16_t* c, int from,
                                int to)
{
    int x = from;
    for (; x + 16 <= to; x += 16)
        Store256(out + x, _mm256_add_epi16(_mm256_add_epi16(Load256(a + x), Load256(b + x)), Load256(c + x)));
    return x;
}

HPX_AVX2_ENTRY int AccumulateBlocks8Avx2(const uint16_t* pWeights, const uint32_t* pBase, const uint16_t* pLimit,
                                         const uint16_t* pDistPlus, const uint16_t* pDistMinus, bool bCentre,
                                         const uint8_t* const* apPlus, const uint8_t* const* apMinus,
                                         uint32_t* const* apSums, uint32_t* pBlockWeights, int blocks)
{
    // Each block's (g, h) word pair goes to the 32-bit lanes of its two pixels.
    const __m256i firstFour = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
    const __m256i lastFour = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
    int b = 0;
    for (; b + 8 <= blocks; b += 8)
    {
        const __m256i limit = _mm256_cvtepu16_epi32(Load128(pLimit + b));
        const __m256i base = Load256(pBase + b);
        const __m256i g = GatherWeights8(pWeights, base, limit, _mm256_cvtepu16_epi32(Load128(pDistPlus + b)));
        __m256i h = _mm256_setzero_si256();
        if (!bCentre) h = GatherWeights8(pWeights, base, limit, _mm256_cvtepu16_epi32(Load128(pDistMinus + b)));
        Store256(pBlockWeights + b, _mm256_add_epi32(Load256(pBlockWeights + b), _mm256_add_epi32(g, h)));
        // Per pixel g x value(P + d) + h x value(P - d) by pmaddwd on (value+, value-) and (g, h).
        const __m256i gh = _mm256_or_si256(g, _mm256_slli_epi32(h, 16));
        const __m256i w0 = _mm256_permutevar8x32_epi32(gh, firstFour);
        const __m256i w1 = _mm256_permutevar8x32_epi32(gh, lastFour);
        for (int i = 0; i < 2; ++i)
        {
            const __m128i v1 = Load128(apPlus[i] + 2 * b);
            const __m128i v2 = Load128(apMinus[i] + 2 * b);
            const __m256i lo = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v1, v2));
            const __m256i hi = _mm256_cvtepu8_epi16(_mm_unpackhi_epi8(v1, v2));
            uint32_t* pS = apSums[i] + 2 * b;
            Store256(pS, _mm256_add_epi32(Load256(pS), _mm256_madd_epi16(lo, w0)));
            Store256(pS + 8, _mm256_add_epi32(Load256(pS + 8), _mm256_madd_epi16(hi, w1)));
        }
    }
    return b;
}

HPX_AVX2_ENTRY int AccumulatePixels16Avx2(const uint16_t* pWeights, const uint32_t* pBase, const uint16_t* pLimit,
                                          const uint16_t* pDistPlus, const uint16_t* pDistMinus, int c, int dx,
                                          bool bCentre, const uint16_t* pPlus, const uint16_t* pMinus,
                                          uint32_t* pWeightSums, uint64_t* pValueSums, int w)
{
    const bool bOddP = (c & 1) != 0;
    const bool bOddM = ((c - dx) & 1) != 0;
    int x = 0;
    for (; x + 8 <= w; x += 8)
    {
        const __m256i limit = _mm256_cvtepu16_epi32(Load128(pLimit + x));
        const __m256i base = Load256(pBase + x);
        const __m256i g = GatherWeights8(pWeights, base, limit, PixelDistances8(pDistPlus + ((c + x) >> 1), bOddP));
        // g v1 + h v2 < 2 x 10000 x 65535 fits 32 bits unsigned.
        __m256i s = _mm256_mullo_epi32(g, _mm256_cvtepu16_epi32(Load128(pPlus + x)));
        __m256i gh = g;
        if (!bCentre)
        {
            const __m256i h =
                GatherWeights8(pWeights, base, limit, PixelDistances8(pDistMinus + ((c + x - dx) >> 1), bOddM));
            s = _mm256_add_epi32(s, _mm256_mullo_epi32(h, _mm256_cvtepu16_epi32(Load128(pMinus + x))));
            gh = _mm256_add_epi32(g, h);
        }
        Store256(pWeightSums + x, _mm256_add_epi32(Load256(pWeightSums + x), gh));
        uint64_t* pV = pValueSums + x;
        Store256(pV, _mm256_add_epi64(Load256(pV), _mm256_cvtepu32_epi64(_mm256_castsi256_si128(s))));
        Store256(pV + 4, _mm256_add_epi64(Load256(pV + 4), _mm256_cvtepu32_epi64(_mm256_extracti128_si256(s, 1))));
    }
    return x;
}

HPX_AVX2_ENTRY int BlurRowInteriorAvx2(float* acc, const float* row, int x0, int x1, const float* taps, int reach,
                                       float fullTotal)
{
    // No fused multiply-add: the target names AVX2 alone, so products are rounded before the sum.
    const __m256 total = _mm256_set1_ps(fullTotal);
    int x = x0;
    for (; x + 8 <= x1; x += 8)
    {
        __m256 sum = _mm256_setzero_ps();
        for (int k = -reach; k <= reach; ++k)
            sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_set1_ps(taps[k + 5]), _mm256_loadu_ps(row + x + k)));
        _mm256_storeu_ps(acc + x, _mm256_div_ps(sum, total));
    }
    return x;
}

namespace
{

inline __m256i Median5x32(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e)
{
    const __m256i a1 = _mm256_min_epu8(a, b), b1 = _mm256_max_epu8(a, b);
    const __m256i d1 = _mm256_min_epu8(d, e), e1 = _mm256_max_epu8(d, e);
    const __m256i d2 = _mm256_max_epu8(a1, d1);
    const __m256i b2 = _mm256_min_epu8(b1, e1);
    const __m256i b3 = _mm256_min_epu8(b2, c), c3 = _mm256_max_epu8(b2, c);
    const __m256i c4 = _mm256_min_epu8(c3, d2);
    return _mm256_max_epu8(b3, c4);
}

inline void Sort2x16(__m256i& a, __m256i& b)
{
    const __m256i lo = _mm256_min_epu16(a, b);
    b = _mm256_max_epu16(a, b);
    a = lo;
}

}  // namespace

HPX_AVX2_ENTRY int Plus5MedianRowAvx2(uint8_t* out, const uint8_t* up, const uint8_t* mid, const uint8_t* down, int x,
                                      int end)
{
    for (; x + 32 <= end; x += 32)
        Store256(out + x,
                 Median5x32(Load256(mid + x), Load256(mid + x - 1), Load256(mid + x + 1), Load256(up + x),
                            Load256(down + x)));
    return x;
}

HPX_AVX2_ENTRY int Square9MedianRowAvx2(uint16_t* out, const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                                        int x, int end)
{
    for (; x + 16 <= end; x += 16)
    {
        __m256i p0 = Load256(up + x - 1), p1 = Load256(up + x), p2 = Load256(up + x + 1);
        __m256i p3 = Load256(mid + x - 1), p4 = Load256(mid + x), p5 = Load256(mid + x + 1);
        __m256i p6 = Load256(down + x - 1), p7 = Load256(down + x), p8 = Load256(down + x + 1);
        Sort2x16(p1, p2);
        Sort2x16(p4, p5);
        Sort2x16(p7, p8);
        Sort2x16(p0, p1);
        Sort2x16(p3, p4);
        Sort2x16(p6, p7);
        Sort2x16(p1, p2);
        Sort2x16(p4, p5);
        Sort2x16(p7, p8);
        Sort2x16(p0, p3);
        Sort2x16(p5, p8);
        Sort2x16(p4, p7);
        Sort2x16(p3, p6);
        Sort2x16(p1, p4);
        Sort2x16(p2, p5);
        Sort2x16(p4, p7);
        Sort2x16(p4, p2);
        Sort2x16(p6, p4);
        Sort2x16(p4, p2);
        Store256(out + x, p4);
    }
    return x;
}

#pragma GCC pop_options
