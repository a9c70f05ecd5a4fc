#include "engine/GaussianBlur.h"

#include "engine/ImageConvert.h"
#include "engine/KernelsAvx2.h"
#include "engine/ScopedImage.h"
#include "engine/SimdPath.h"
#include "engine/TileAlloc.h"
#include "engine/WorkerPool.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define HPX_BLUR_SSE2 1
#endif

namespace
{

constexpr int kBlurTaps = 11;
constexpr int kBlurRadius = kBlurTaps / 2;

// Filters one row into acc (width samples). The border samples use the taps that fall inside the
// row, renormalised by their total; the interior uses the nonzero taps, with the whole kernel's
// total summed in the same order, so both give the same values as the plain formula.
void BlurRow(float* acc, const float* row, int width, const float* taps, int reach, float fullTotal)
{
    const int x0 = kBlurRadius < width ? kBlurRadius : width;
    const int x1 = width - kBlurRadius > x0 ? width - kBlurRadius : x0;  // interior is [x0, x1)
    int x = UseAvx2() ? BlurRowInteriorAvx2(acc, row, x0, x1, taps, reach, fullTotal) : x0;
#ifdef HPX_BLUR_SSE2
    // Four samples at a time; each lane adds its products in the same order as the scalar loop,
    // so the results are the same bits.
    const __m128 total4 = _mm_set1_ps(fullTotal);
    for (; x + 4 <= x1; x += 4)
    {
        __m128 sum = _mm_setzero_ps();
        for (int k = -reach; k <= reach; ++k)
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(taps[k + kBlurRadius]), _mm_loadu_ps(row + x + k)));
        _mm_storeu_ps(acc + x, _mm_div_ps(sum, total4));
    }
#endif
    for (; x < x1; ++x)
    {
        float sum = 0.0f;
        for (int k = -reach; k <= reach; ++k) sum += taps[k + kBlurRadius] * row[x + k];
        acc[x] = sum / fullTotal;
    }
    for (x = 0; x < width; ++x)
    {
        if (x == x0) x = x1;
        if (x >= width) break;
        const int m0 = x - kBlurRadius > 0 ? x - kBlurRadius : 0;
        const int m1 = x + kBlurRadius < width - 1 ? x + kBlurRadius : width - 1;
        float sum = 0.0f;
        float total = 0.0f;
        for (int m = m0; m <= m1; ++m)
        {
            const float t = taps[m - x + kBlurRadius];
            sum += t * row[m];
            total += t;
        }
        acc[x] = total > 0.0f ? sum / total : row[x];
    }
}

// One pass of the separable blur: every input row is filtered and written as a column of the
// output, so the second pass again reads rows. in is width x height, out is height x width.
// Rows go in blocks of sixteen, so that the transposed writes fill whole 64-byte lines of the
// output, and the blocks are shared among the pool's threads. False when a row buffer could not
// be allocated.
// The input is either a float plane (in) or, when image is set, one channel of an 8- or 16-bit
// image, whose rows are read as floats on the way in (the same values a float copy would hold).
struct BlurPass
{
    float* out;
    const float* in;
    const ImageBuffer* image;
    int channel;
    int width;
    int height;
    const float* taps;
    int reach;
    float fullTotal;
    std::atomic<bool> failed;
};

// Row y of one channel of an 8- or 16-bit image as floats.
void GatherRow(float* out, const ImageBuffer* image, int channel, int y, int width)
{
    const int channels = image->m_iChannels;
    const uint8_t* row = static_cast<const uint8_t*>(image->m_pData) + static_cast<ptrdiff_t>(y) * image->m_iStride;
    if (image->m_iBits == 8)
        for (int x = 0; x < width; ++x) out[x] = static_cast<float>(row[x * channels + channel]);
    else
    {
        const uint16_t* r16 = reinterpret_cast<const uint16_t*>(row);
        for (int x = 0; x < width; ++x) out[x] = static_cast<float>(r16[x * channels + channel]);
    }
}

constexpr int kBlock = 16;

void BlurRowBlocks(void* context, int yBegin, int yEnd)
{
    BlurPass* pass = static_cast<BlurPass*>(context);
    const int width = pass->width;
    const int height = pass->height;
    float* out = pass->out;
    float* acc = TileAllocFloats(static_cast<size_t>(width) * (kBlock + (pass->image != nullptr ? 1 : 0)));
    if (acc == nullptr)
    {
        pass->failed = true;
        return;
    }
    float* gathered = acc + static_cast<size_t>(width) * kBlock;
    for (int y = yBegin; y < yEnd; y += kBlock)
    {
        const int rowsHere = yEnd - y < kBlock ? yEnd - y : kBlock;
        for (int b = 0; b < rowsHere; ++b)
        {
            const float* row = pass->in + static_cast<size_t>(y + b) * width;
            if (pass->image != nullptr)
            {
                GatherRow(gathered, pass->image, pass->channel, y + b, width);
                row = gathered;
            }
            BlurRow(acc + static_cast<size_t>(b) * width, row, width, pass->taps, pass->reach, pass->fullTotal);
        }
        int x = 0;
#ifdef HPX_BLUR_SSE2
        if (rowsHere == kBlock)
            for (; x + 4 <= width; x += 4)
                for (int b = 0; b < kBlock; b += 4)
                {
                    __m128 r0 = _mm_loadu_ps(acc + static_cast<size_t>(b) * width + x);
                    __m128 r1 = _mm_loadu_ps(acc + static_cast<size_t>(b + 1) * width + x);
                    __m128 r2 = _mm_loadu_ps(acc + static_cast<size_t>(b + 2) * width + x);
                    __m128 r3 = _mm_loadu_ps(acc + static_cast<size_t>(b + 3) * width + x);
                    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                    float* o = out + static_cast<size_t>(x) * height + y + b;
                    _mm_storeu_ps(o, r0);
                    _mm_storeu_ps(o + height, r1);
                    _mm_storeu_ps(o + 2 * static_cast<size_t>(height), r2);
                    _mm_storeu_ps(o + 3 * static_cast<size_t>(height), r3);
                }
#endif
        for (; x < width; ++x)
        {
            float* o = out + static_cast<size_t>(x) * height + y;
            for (int b = 0; b < rowsHere; ++b) o[b] = acc[static_cast<size_t>(b) * width + x];
        }
    }
    std::free(acc);
}

bool BlurRowsTransposed(float* out, const float* in, int width, int height, const float* taps, WorkerPool* pool,
                        const ImageBuffer* image = nullptr, int channel = 0)
{
    BlurPass pass;
    pass.out = out;
    pass.in = in;
    pass.image = image;
    pass.channel = channel;
    pass.width = width;
    pass.height = height;
    pass.taps = taps;
    int lo = 0;
    while (lo < kBlurRadius && taps[lo] == 0.0f) ++lo;
    pass.reach = kBlurRadius - lo;  // nonzero taps span -reach .. reach
    pass.fullTotal = 0.0f;
    for (int i = 0; i < kBlurTaps; ++i) pass.fullTotal += taps[i];
    pass.failed = false;
    // Small planes are not worth waking the threads.
    const int threads = static_cast<long long>(width) * height < 65536 ? 1 : PoolThreads(pool);
    ParallelRows(pool, height, threads, kBlock, &BlurRowBlocks, &pass);
    return !pass.failed;
}

// Float to integer sample: negatives and not-a-number become 0, values from hi up become hi
// (what the depth conversion of a float plane gives).
inline int32_t FloatToSample(float v, int32_t hi)
{
    const float x = v > 0.0f ? v : 0.0f;
    if (!(x < static_cast<float>(hi))) return hi;
    return static_cast<int32_t>(x);
}

struct ScatterPass
{
    ImageBuffer* image;
    int channel;
    const float* data;  // image-sized float plane
};

void ScatterRows(void* context, int yBegin, int yEnd)
{
    const ScatterPass* p = static_cast<const ScatterPass*>(context);
    const int width = p->image->m_iWidth;
    const int channels = p->image->m_iChannels;
    for (int y = yBegin; y < yEnd; ++y)
    {
        const float* in = p->data + static_cast<size_t>(y) * width;
        uint8_t* row = static_cast<uint8_t*>(p->image->m_pData) + static_cast<ptrdiff_t>(y) * p->image->m_iStride;
        if (p->image->m_iBits == 8)
            for (int x = 0; x < width; ++x)
                row[x * channels + p->channel] = static_cast<uint8_t>(FloatToSample(in[x], 255));
        else
        {
            uint16_t* r16 = reinterpret_cast<uint16_t*>(row);
            for (int x = 0; x < width; ++x)
                r16[x * channels + p->channel] = static_cast<uint16_t>(FloatToSample(in[x], 65535));
        }
    }
}

// Blurs one channel of an 8- or 16-bit image in place: its rows are read straight from the image
// and the blurred values written back only when both passes succeeded (the image is left
// untouched otherwise), so no plane copies or depth conversions are needed.
unsigned char BlurChannel(ImageBuffer* image, int channel, float sigma, WorkerPool* pool)
{
    const int width = image->m_iWidth;
    const int height = image->m_iHeight;
    // The two planes are the pool's (kept from channel to channel and tile to tile) when there is
    // one; both passes write every sample, so they need no clearing.
    const size_t samples = static_cast<size_t>(width) * height;
    const bool scratch = pool != nullptr;
    float* temp = scratch ? static_cast<float*>(pool->Scratch(0, samples * sizeof(float))) : TileAllocFloats(samples);
    float* data = temp == nullptr ? nullptr
        : scratch                 ? static_cast<float*>(pool->Scratch(1, samples * sizeof(float)))
                                  : TileAllocFloats(samples);
    if (data == nullptr)
    {
        if (!scratch) std::free(temp);
        return kImageNoMemory;
    }
    float taps[kBlurTaps];
    MakeGaussianKernel(taps, kBlurTaps, sigma);
    const bool blurred = BlurRowsTransposed(temp, nullptr, width, height, taps, pool, image, channel) &&
        BlurRowsTransposed(data, temp, height, width, taps, pool);
    if (blurred)
    {
        ScatterPass scatter{image, channel, data};
        const int threads = static_cast<long long>(width) * height < 65536 ? 1 : PoolThreads(pool);
        ParallelRows(pool, height, threads, kBlock, &ScatterRows, &scatter);
    }
    if (!scratch)
    {
        std::free(temp);
        std::free(data);
    }
    return blurred ? kImageOk : kImageNoMemory;
}

}  // namespace

void MakeGaussianKernel(float* taps, int count, float sigma)
{
    if (taps == nullptr || count <= 0) return;
    const int half = count / 2;
    const double twoSigma2 = 2.0 * static_cast<double>(sigma) * static_cast<double>(sigma);
    float sum = 0.0f;
    for (int i = 0; i < count; ++i)
    {
        const int j = i - half;
        const double e = twoSigma2 > 0.0 ? (static_cast<double>(j) * j) / twoSigma2 : (j == 0 ? 0.0 : 1e30);
        taps[i] = e <= 20.0 ? static_cast<float>(std::exp(-e)) : 0.0f;
        sum += taps[i];
    }
    if (sum > 0.0f)
        for (int i = 0; i < count; ++i) taps[i] /= sum;
}

unsigned char GaussianBlurPlane(ImageBuffer* plane, float sigma, WorkerPool* pool)
{
    if (plane == nullptr || plane->m_pData == nullptr || plane->m_iChannels != 1 ||
        (plane->m_iBits != 8 && plane->m_iBits != 16 && plane->m_iBits != 32))
        return kImageBadArgs;
    const int width = plane->m_iWidth;
    const int height = plane->m_iHeight;
    if (width <= 0 || height <= 0) return kImageOk;
    if (plane->m_iBits != 32) return BlurChannel(plane, 0, sigma, pool);

    // Work on a float copy so the plane itself is only written once everything succeeded.
    ScopedImage holder;
    ImageBuffer& copy = holder.img;
    if (TileCopyImageLayout(&copy, plane) != kImageOk) return kImageNoMemory;
    CopyImagePixels(&copy, plane);
    if (ConvertImage(&copy, 32, 1) != kImageOk || copy.m_pData == nullptr) return kImageNoMemory;
    float* temp = TileAllocFloats(static_cast<size_t>(width) * height);
    if (temp == nullptr) return kImageNoMemory;

    float taps[kBlurTaps];
    MakeGaussianKernel(taps, kBlurTaps, sigma);
    float* data = static_cast<float*>(copy.m_pData);
    // Rows into the temporary (now H x W), then its rows (the columns) back into the copy.
    const bool blurred = BlurRowsTransposed(temp, data, width, height, taps, pool) &&
        BlurRowsTransposed(data, temp, height, width, taps, pool);
    std::free(temp);
    if (!blurred) return kImageNoMemory;

    unsigned char result = ConvertImage(&copy, plane->m_iBits, 1);
    if (result == kImageOk && copy.m_pData != nullptr)
        CopyImagePixels(plane, &copy);
    else
        result = kImageNoMemory;
    return result;
}

unsigned char GaussianBlurYCbCr(ImageBuffer* image, double sigmaLuma, double sigmaChroma, WorkerPool* pool)
{
    if (image == nullptr || image->m_pData == nullptr || image->m_iChannels != 3) return kImageBadArgs;
    if (!(sigmaLuma > 0.0) && !(sigmaChroma > 0.0)) return kImageOk;

    if ((image->m_iBits == 8 || image->m_iBits == 16) && image->m_iWidth > 0 && image->m_iHeight > 0)
    {
        // Each channel straight from and back into the image.
        unsigned char result = kImageOk;
        for (int c = 0; c < 3 && result == kImageOk; ++c)
        {
            const double sigma = c == 0 ? sigmaLuma : sigmaChroma;
            if (sigma > 0.0) result = BlurChannel(image, c, static_cast<float>(sigma), pool);
        }
        return result;
    }

    ScopedImage holder;
    ImageBuffer& plane = holder.img;
    if (TileCreateImage(&plane, image->m_iWidth, image->m_iHeight, 1, image->m_iBits) != kImageOk)
        return kImageNoMemory;
    unsigned char result = kImageOk;
    for (int c = 0; c < 3 && result == kImageOk; ++c)
    {
        const double sigma = c == 0 ? sigmaLuma : sigmaChroma;
        if (!(sigma > 0.0)) continue;
        result = ExtractChannel(&plane, c, image);
        if (result == kImageOk) result = GaussianBlurPlane(&plane, static_cast<float>(sigma), pool);
        if (result == kImageOk) result = InsertChannel(image, c, &plane);
    }
    return result;
}
