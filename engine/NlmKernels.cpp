#include "engine/NlmKernels.h"

#include "engine/ImageConvert.h"
#include "engine/KernelsAvx2.h"
#include "engine/SimdPath.h"

#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define HPX_NLM_SSE2 1
#endif

// ---------------------------------------------------------------------------------------------
// Row kernels

void AbsDiffRow(uint8_t* out, const uint8_t* a, const uint8_t* b, int n)
{
    int i = UseAvx2() ? AbsDiffRowAvx2(out, a, b, n) : 0;
#ifdef HPX_NLM_SSE2
    for (; i + 16 <= n; i += 16)
    {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i d = _mm_max_epu8(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), d);
    }
#endif
    for (; i < n; ++i) out[i] = static_cast<uint8_t>(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
}

void Sum2x2Row(uint16_t* out, const uint8_t* r0, const uint8_t* r1, int nOut)
{
    int x = UseAvx2() ? Sum2x2RowAvx2(out, r0, r1, nOut) : 0;
#ifdef HPX_NLM_SSE2
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    for (; x + 8 <= nOut; x += 8)
    {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + 2 * x));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + 2 * x));
        const __m128i s0 = _mm_add_epi16(_mm_and_si128(v0, lowBytes), _mm_srli_epi16(v0, 8));
        const __m128i s1 = _mm_add_epi16(_mm_and_si128(v1, lowBytes), _mm_srli_epi16(v1, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_add_epi16(s0, s1));
    }
#endif
    for (; x < nOut; ++x) out[x] = static_cast<uint16_t>(r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1]);
}

void BoxRow3(uint16_t* out, const uint16_t* in, int n)
{
    int x = UseAvx2() ? BoxRow3Avx2(out, in, n) : 1;
#ifdef HPX_NLM_SSE2
    for (; x + 8 <= n - 1; x += 8)
    {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x - 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x + 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_add_epi16(_mm_add_epi16(l, c), r));
    }
#endif
    for (; x < n - 1; ++x) out[x] = static_cast<uint16_t>(in[x - 1] + in[x] + in[x + 1]);
}

void AddRows3(uint16_t* out, const uint16_t* a, const uint16_t* b, const uint16_t* c, int from, int to)
{
    int x = UseAvx2() ? AddRows3Avx2(out, a, b, c, from, to) : from;
#ifdef HPX_NLM_SSE2
    for (; x + 8 <= to; x += 8)
    {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_add_epi16(_mm_add_epi16(va, vb), vc));
    }
#endif
    for (; x < to; ++x) out[x] = static_cast<uint16_t>(a[x] + b[x] + c[x]);
}

// ---------------------------------------------------------------------------------------------
// Mirror padding

namespace
{

template <typename T> void MirrorPadPlaneT(ImageBuffer* image, int pad)
{
    if (image == nullptr || image->m_pData == nullptr || pad <= 0) return;
    const int w = image->m_iWidth;
    const int h = image->m_iHeight;
    const int rowStep = image->m_iStride / static_cast<int>(sizeof(T));
    T* p = static_cast<T*>(image->m_pData);
    auto fill = [&](int y0, int y1, int x0, int x1)
    {
        for (int y = y0; y < y1; ++y)
        {
            const T* srcRow = p + static_cast<ptrdiff_t>(MirrorPadIndex(y, h, pad)) * rowStep;
            T* dstRow = p + static_cast<ptrdiff_t>(y) * rowStep;
            for (int x = x0; x < x1; ++x) dstRow[x] = srcRow[MirrorPadIndex(x, w, pad)];
        }
    };
    const int padY = pad < h ? pad : h;
    const int padX = pad < w ? pad : w;
    fill(0, padY, 0, w);                         // top band
    fill(0, h, 0, padX);                         // left band
    fill(h - padY > 0 ? h - padY : 0, h, 0, w);  // bottom band
    fill(0, h, w - padX > 0 ? w - padX : 0, w);  // right band
}

template <void (*PadPlane)(ImageBuffer*, int)> void MirrorPadImageT(ImageBuffer* image, ImageBuffer* work, int pad)
{
    if (image == nullptr || work == nullptr) return;
    for (int c = 0; c < image->m_iChannels; ++c)
    {
        if (ExtractChannel(work, c, image) != kImageOk) return;
        PadPlane(work, pad);
        InsertChannel(image, c, work);
    }
}

}  // namespace

void MirrorPadPlane8(ImageBuffer* image, int pad) { MirrorPadPlaneT<uint8_t>(image, pad); }

void MirrorPadPlane16(ImageBuffer* image, int pad) { MirrorPadPlaneT<uint16_t>(image, pad); }

void MirrorPadImage8(ImageBuffer* image, ImageBuffer* work, int pad)
{
    MirrorPadImageT<MirrorPadPlane8>(image, work, pad);
}

void MirrorPadImage16(ImageBuffer* image, ImageBuffer* work, int pad)
{
    MirrorPadImageT<MirrorPadPlane16>(image, work, pad);
}

// ---------------------------------------------------------------------------------------------
// Distance planes

void AbsDiffShifted(const ImageBuffer* a, ImageBuffer* b, int rowA, int colA, int rowB, int colB)
{
    const int rows = a->m_iHeight - (rowA > rowB ? rowA : rowB);
    const int cols = a->m_iWidth - (colA > colB ? colA : colB);
    if (rows <= 0 || cols <= 0) return;
    const uint8_t* pa = static_cast<const uint8_t*>(a->m_pData) + static_cast<ptrdiff_t>(rowA) * a->m_iStride + colA;
    uint8_t* pb = static_cast<uint8_t*>(b->m_pData) + static_cast<ptrdiff_t>(rowB) * b->m_iStride + colB;
    for (int y = 0; y < rows; ++y, pa += a->m_iStride, pb += b->m_iStride) AbsDiffRow(pb, pa, pb, cols);
}

void Sum2x2(ImageBuffer* out, const ImageBuffer* in)
{
    const uint8_t* pin = static_cast<const uint8_t*>(in->m_pData);
    uint16_t* pout = static_cast<uint16_t*>(out->m_pData);
    const int outStep = out->m_iStride / 2;
    for (int y = 0; y < out->m_iHeight; ++y)
    {
        const uint8_t* r0 = pin + static_cast<ptrdiff_t>(2 * y) * in->m_iStride;
        Sum2x2Row(pout + static_cast<ptrdiff_t>(y) * outStep, r0, r0 + in->m_iStride, out->m_iWidth);
    }
}

void BoxSum3x3(ImageBuffer* temp, ImageBuffer* plane)
{
    const int w = plane->m_iWidth;
    const int h = plane->m_iHeight;
    if (w < 3 || h < 3) return;
    uint16_t* p = static_cast<uint16_t*>(plane->m_pData);
    uint16_t* t = static_cast<uint16_t*>(temp->m_pData);
    const int ps = plane->m_iStride / 2;
    const int ts = temp->m_iStride / 2;
    for (int y = 0; y < h; ++y) BoxRow3(t + static_cast<ptrdiff_t>(y) * ts, p + static_cast<ptrdiff_t>(y) * ps, w);
    for (int y = 1; y < h - 1; ++y)
    {
        const uint16_t* t1 = t + static_cast<ptrdiff_t>(y) * ts;
        AddRows3(p + static_cast<ptrdiff_t>(y) * ps, t1 - ts, t1, t1 + ts, 1, w - 1);
    }
}

void Upsample2x(ImageBuffer* out, const ImageBuffer* in)
{
    const uint16_t* pin = static_cast<const uint16_t*>(in->m_pData);
    uint16_t* pout = static_cast<uint16_t*>(out->m_pData);
    const int is = in->m_iStride / 2;
    const int os = out->m_iStride / 2;
    for (int y = 0; y < in->m_iHeight; ++y)
    {
        const uint16_t* src = pin + static_cast<ptrdiff_t>(y) * is;
        uint16_t* dst = pout + static_cast<ptrdiff_t>(2 * y) * os;
        for (int x = 0; x < in->m_iWidth; ++x) dst[2 * x] = dst[2 * x + 1] = src[x];
        std::memcpy(dst + os, dst, static_cast<size_t>(in->m_iWidth) * 4);
    }
}

// ---------------------------------------------------------------------------------------------
// Accumulation

void NlmAccumulate8(const ImageBuffer* guide, const ImageBuffer* dist, ImageBuffer* weightSums, ImageBuffer* valueSums,
                    int outWidth, int outHeight, int pad, int margin, int dy, int dx, const int* const* tables)
{
    const int c = pad + margin;
    const uint8_t* g = static_cast<const uint8_t*>(guide->m_pData);
    const uint16_t* d = static_cast<const uint16_t*>(dist->m_pData);
    const int gs = guide->m_iStride;
    const int ds = dist->m_iStride / 2;
    uint32_t* ws = static_cast<uint32_t*>(weightSums->m_pData);
    uint32_t* vs = static_cast<uint32_t*>(valueSums->m_pData);
    const int ss = weightSums->m_iStride / 4;
    const ptrdiff_t shiftG = static_cast<ptrdiff_t>(dy) * gs + dx;
    const ptrdiff_t shiftD = static_cast<ptrdiff_t>(dy) * ds + dx;
    const bool bCentre = dy == 0 && dx == 0;
    for (int y = 0; y + 1 < outHeight; y += 2)
    {
        for (int x = 0; x + 1 < outWidth; x += 2)
        {
            const uint8_t* pg = g + static_cast<ptrdiff_t>(c + y) * gs + (c + x);
            const uint16_t* pd = d + static_cast<ptrdiff_t>(c + y) * ds + (c + x);
            const int* t = tables[*pg];
            const uint32_t wg = static_cast<uint32_t>(t[pd[0]]);
            const uint32_t wh = bCentre ? 0u : static_cast<uint32_t>(t[pd[-shiftD]]);
            for (int i = 0; i < 2; ++i)
            {
                for (int j = 0; j < 2; ++j)
                {
                    const uint8_t* q = pg + static_cast<ptrdiff_t>(i) * gs + j;
                    const ptrdiff_t o = static_cast<ptrdiff_t>(y + i) * ss + (x + j);
                    ws[o] += wg + wh;
                    vs[o] += bCentre ? wg * q[0] : wg * q[shiftG] + wh * q[-shiftG];
                }
            }
        }
    }
}

void NlmAccumulate16(const ImageBuffer* values, const ImageBuffer* guide, const ImageBuffer* dist,
                     ImageBuffer* weightSums, ImageBuffer* valueSums, int outWidth, int outHeight, int pad, int margin,
                     int dy, int dx, const int* const* tables)
{
    const int c = pad + margin;
    const uint16_t* v = static_cast<const uint16_t*>(values->m_pData);
    const uint8_t* g = static_cast<const uint8_t*>(guide->m_pData);
    const uint16_t* d = static_cast<const uint16_t*>(dist->m_pData);
    const int vsStep = values->m_iStride / 2;
    const int gs = guide->m_iStride;
    const int ds = dist->m_iStride / 2;
    double* ws = static_cast<double*>(weightSums->m_pData);
    double* vsum = static_cast<double*>(valueSums->m_pData);
    const int ss = weightSums->m_iStride / 8;
    const ptrdiff_t shiftV = static_cast<ptrdiff_t>(dy) * vsStep + dx;
    const ptrdiff_t shiftD = static_cast<ptrdiff_t>(dy) * ds + dx;
    const bool bCentre = dy == 0 && dx == 0;
    for (int y = 0; y < outHeight; ++y)
    {
        for (int x = 0; x < outWidth; ++x)
        {
            const int* t = tables[g[static_cast<ptrdiff_t>(c + y) * gs + (c + x)]];
            const uint16_t* pd = d + static_cast<ptrdiff_t>(c + y) * ds + (c + x);
            const uint16_t* pv = v + static_cast<ptrdiff_t>(c + y) * vsStep + (c + x);
            const ptrdiff_t o = static_cast<ptrdiff_t>(y) * ss + x;
            const double wg = t[pd[0]];
            if (bCentre)
            {
                ws[o] += wg;
                vsum[o] += wg * pv[0];
            }
            else
            {
                const double wh = t[pd[-shiftD]];
                ws[o] += wg + wh;
                vsum[o] += wg * pv[shiftV] + wh * pv[-shiftV];
            }
        }
    }
}
