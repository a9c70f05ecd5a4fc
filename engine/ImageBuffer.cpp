// Elementary operations of the image record: allocation, copies, fills.
#include "engine/ImageBuffer.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace
{

// Stride and size of a shape, or false when the shape is meaningless or its block would not be
// addressable by the 32-bit size field.
bool ComputeLayout(int32_t width, int32_t height, int32_t channels, int32_t bits, int32_t* stride, int32_t* size)
{
    if (width < 0 || height < 0 || channels <= 0 || bits <= 0 || bits > 64) return false;
    const long long s = static_cast<long long>(width) * ImageBytesPerSample(bits) * channels;
    const long long n = s * height;
    if (s > INT_MAX || n > INT_MAX) return false;
    *stride = static_cast<int32_t>(s);
    *size = static_cast<int32_t>(n);
    return true;
}

inline unsigned char* Bytes(ImageBuffer* image) { return static_cast<unsigned char*>(image->m_pData); }
inline const unsigned char* Bytes(const ImageBuffer* image)
{
    return static_cast<const unsigned char*>(image->m_pData);
}

}  // namespace

ImageBuffer* InitImage(ImageBuffer* image)
{
    image->m_pData = nullptr;
    image->m_iSize = 0;
    image->m_iStride = 0;
    image->m_iWidth = 0;
    image->m_iHeight = 0;
    image->m_iChannels = 0;
    image->m_iBits = 0;
    return image;
}

unsigned char CreateImage(ImageBuffer* image, int32_t width, int32_t height, int32_t channels, int32_t bits)
{
    if (image->m_pData) std::free(image->m_pData);
    InitImage(image);

    // A shape without a block (zero or negative sizes) or too large for the 32-bit size field
    // cannot be allocated; a zero-byte block is never handed out as an image.
    int32_t stride = 0, size = 0;
    if (!ComputeLayout(width, height, channels, bits, &stride, &size) || size == 0) return kImageNoMemory;
    void* block = std::malloc(static_cast<size_t>(size));
    if (!block) return kImageNoMemory;

    image->m_pData = block;
    image->m_iSize = size;
    image->m_iStride = stride;
    image->m_iWidth = width;
    image->m_iHeight = height;
    image->m_iChannels = channels;
    image->m_iBits = bits;
    return kImageOk;
}

unsigned char CopyImageLayout(ImageBuffer* dst, const ImageBuffer* src)
{
    if (dst == src) return src->m_pData ? kImageOk : kImageNoMemory;

    // A block that exists and already has the right size is kept (its content too); a missing
    // block is always allocated, so a failed earlier allocation cannot pass for a valid image.
    if (!dst->m_pData || dst->m_iSize != src->m_iSize)
    {
        if (dst->m_pData) std::free(dst->m_pData);
        InitImage(dst);
        if (src->m_iSize <= 0) return kImageNoMemory;
        void* block = std::malloc(static_cast<size_t>(src->m_iSize));
        if (!block) return kImageNoMemory;
        dst->m_pData = block;
    }
    dst->m_iSize = src->m_iSize;
    dst->m_iStride = src->m_iStride;
    dst->m_iWidth = src->m_iWidth;
    dst->m_iHeight = src->m_iHeight;
    dst->m_iChannels = src->m_iChannels;
    dst->m_iBits = src->m_iBits;
    return kImageOk;
}

void CopyImagePixels(ImageBuffer* dst, const ImageBuffer* src)
{
    if (!dst->m_pData || !src->m_pData || dst->m_pData == src->m_pData) return;
    const int32_t n = dst->m_iSize < src->m_iSize ? dst->m_iSize : src->m_iSize;
    if (n > 0) std::memcpy(dst->m_pData, src->m_pData, static_cast<size_t>(n));
}

void ReleaseImage(ImageBuffer* image)
{
    if (!image->m_pData) return;
    std::free(image->m_pData);
    InitImage(image);
}

void FillImageBytes(ImageBuffer* image, unsigned char value)
{
    if (image->m_pData && image->m_iSize > 0) std::memset(image->m_pData, value, static_cast<size_t>(image->m_iSize));
}

void CopyImageRect(ImageBuffer* dst, const ImageBuffer* src, int32_t dstX, int32_t dstY, int32_t srcX, int32_t srcY,
                   int32_t width, int32_t height)
{
    const int32_t bits = dst->m_iBits;
    const int32_t channels = dst->m_iChannels;
    size_t sampleBytes = 0;
    int32_t samplesPerPixel = 0;
    if (bits >= 9 && bits <= 16 && (channels == 1 || channels == 3))
    {
        sampleBytes = 2;
        samplesPerPixel = channels;
    }
    else if (bits == 8 && (channels == 1 || channels == 3))
    {
        sampleBytes = 1;
        samplesPerPixel = channels;
    }
    else if (bits == 32 && channels == 1)
    {
        sampleBytes = 4;
        samplesPerPixel = 1;
    }
    else if (bits == 64 && channels == 1)
    {
        sampleBytes = 8;
        samplesPerPixel = 1;
    }
    else
    {
        return;
    }
    if (width <= 0 || height <= 0 || !dst->m_pData || !src->m_pData) return;

    const ptrdiff_t dstStride = dst->m_iStride;
    const ptrdiff_t srcStride = src->m_iStride;
    unsigned char* d = Bytes(dst) + static_cast<ptrdiff_t>(dstY) * dstStride +
        static_cast<ptrdiff_t>(dstX) * channels * static_cast<ptrdiff_t>(sampleBytes);
    const unsigned char* s = Bytes(src) + static_cast<ptrdiff_t>(srcY) * srcStride +
        static_cast<ptrdiff_t>(srcX) * src->m_iChannels * static_cast<ptrdiff_t>(sampleBytes);
    const size_t rowBytes = static_cast<size_t>(width) * samplesPerPixel * sampleBytes;
    for (int32_t y = 0; y < height; ++y)
    {
        std::memmove(d, s, rowBytes);
        d += dstStride;
        s += srcStride;
    }
}

void FillImageRect(ImageBuffer* image, int32_t left, int32_t top, int32_t right, int32_t bottom, unsigned char value)
{
    ptrdiff_t pixelBytes = 0;
    if (image->m_iBits == 8 && image->m_iChannels == 1)
        pixelBytes = 1;
    else if (image->m_iBits == 8 && image->m_iChannels == 3)
        pixelBytes = 3;
    else if (image->m_iBits == 64 && image->m_iChannels == 1)
        pixelBytes = 8;
    else
        return;
    if (left >= right || top >= bottom || !image->m_pData) return;

    const ptrdiff_t stride = image->m_iStride;
    const size_t rowBytes = static_cast<size_t>(right - left) * static_cast<size_t>(pixelBytes);
    unsigned char* row = Bytes(image) + static_cast<ptrdiff_t>(top) * stride + left * pixelBytes;
    for (int32_t y = top; y < bottom; ++y, row += stride) std::memset(row, value, rowBytes);
}
