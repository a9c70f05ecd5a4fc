// Moving the host's document into the host image buffers and back.
#include "host/HostBridge.h"

#include "engine/ImageConvert.h"
#include "host/PluginMain.h"

ImageBuffer g_HostImage = {};
ImageBuffer g_HostAlpha = {};

namespace
{

void SetResult(int16_t err)
{
    if (g_pResult) *g_pResult = err;
}

// Full-range 16-bit samples back to the host's 0..32768, in place: (v + 1) >> 1 undoes the
// widening exactly (2v for v below 32768, 65535 for 32768), so a fetched image goes back
// unchanged, and a result can still reach the host's white.
void NarrowToHostDepth(ImageBuffer* image)
{
    uint16_t* p = static_cast<uint16_t*>(image->m_pData);
    const size_t n = static_cast<size_t>(image->m_iSize) / sizeof(uint16_t);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint16_t>((p[i] + 1u) >> 1);
    image->m_iBits = 15;
}

// Asks the host for the whole image, all planes, at full resolution, in one request.
int16_t RequestWholeImage()
{
    FilterRecord* fr = g_pFilterRecord;
    if (!fr || !fr->advanceState) return errPlugInHostInsufficient;
    const int32_t rows = fr->imageSize.v;
    const int32_t columns = fr->imageSize.h;
    fr->inputRate = kFixedOne;
    fr->maskRate = kFixedOne;
    SetInRect(0, 0, rows, columns);
    SetOutRect(0, 0, rows, columns);
    fr->inLoPlane = fr->outLoPlane = 0;
    fr->inHiPlane = fr->outHiPlane = int16_t(fr->planes - 1);
    return fr->advanceState();
}

// Host pixel (R, G, B [, A]) to image pixel (B, G, R [, A]) and back: the exchange is its own
// inverse. Grey images and a grey image's transparency sample are copied.
template <typename T>
void CopyRows(T* dst, int32_t dstStep, const T* src, int32_t srcStep, int32_t width, int32_t height, int32_t channels,
              bool toHost)
{
    for (int32_t y = 0; y < height; ++y)
    {
        const T* s = src;
        T* d = dst;
        switch (channels)
        {
        case 1:
            for (int32_t x = 0; x < width; ++x) d[x] = s[x];
            break;
        case 2:  // grey and transparency: to the host only the grey sample
            for (int32_t x = 0; x < width; ++x, s += 2, d += 2)
            {
                d[0] = s[0];
                if (!toHost) d[1] = s[1];
            }
            break;
        case 3:
            for (int32_t x = 0; x < width; ++x, s += 3, d += 3)
            {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
            break;
        case 4:  // to the host the fourth sample stays as the host holds it
            for (int32_t x = 0; x < width; ++x, s += 4, d += 4)
            {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                if (!toHost) d[3] = s[3];
            }
            break;
        default:
            return;
        }
        dst += dstStep;
        src += srcStep;
    }
}

template <typename T> void SplitRows(T* colour, T* alpha, const T* src, int32_t pixels, int32_t colourChannels)
{
    for (int32_t i = 0; i < pixels; ++i)
    {
        for (int32_t c = 0; c < colourChannels; ++c) *colour++ = *src++;
        *alpha++ = *src++;
    }
}

template <typename T> void MergeRows(T* dst, const T* colour, int32_t pixels, int32_t colourChannels)
{
    for (int32_t i = 0; i < pixels; ++i)
    {
        for (int32_t c = 0; c < colourChannels; ++c) *dst++ = *colour++;
        ++dst;
    }
}

bool HasPixels(const ImageBuffer& image)
{
    return image.m_pData != nullptr && image.m_iWidth > 0 && image.m_iHeight > 0;
}

}  // namespace

void CopyFromHostBuffer(ImageBuffer* image, const void* data, int32_t rowBytes)
{
    if (!image || !image->m_pData || !data) return;
    if (image->m_iBits == 8)
    {
        CopyRows(static_cast<uint8_t*>(image->m_pData), image->m_iStride, static_cast<const uint8_t*>(data), rowBytes,
                 image->m_iWidth, image->m_iHeight, image->m_iChannels, false);
    }
    else
    {
        CopyRows(static_cast<uint16_t*>(image->m_pData), image->m_iStride / 2, static_cast<const uint16_t*>(data),
                 rowBytes / 2, image->m_iWidth, image->m_iHeight, image->m_iChannels, false);
    }
}

void CopyToHostBuffer(void* data, int32_t rowBytes, const ImageBuffer* image)
{
    if (!image || !image->m_pData || !data) return;
    if (image->m_iBits == 8)
    {
        CopyRows(static_cast<uint8_t*>(data), rowBytes, static_cast<const uint8_t*>(image->m_pData), image->m_iStride,
                 image->m_iWidth, image->m_iHeight, image->m_iChannels, true);
    }
    else
    {
        CopyRows(static_cast<uint16_t*>(data), rowBytes / 2, static_cast<const uint16_t*>(image->m_pData),
                 image->m_iStride / 2, image->m_iWidth, image->m_iHeight, image->m_iChannels, true);
    }
}

void SplitAlpha(ImageBuffer* colour, ImageBuffer* alpha, const ImageBuffer* source)
{
    if (!colour || !alpha || !source || !colour->m_pData || !alpha->m_pData || !source->m_pData) return;
    const int32_t colourChannels = source->m_iChannels - 1;
    if (colourChannels != 1 && colourChannels != 3) return;
    const int32_t pixels = source->m_iWidth * source->m_iHeight;
    if (source->m_iBits == 8)
        SplitRows(static_cast<uint8_t*>(colour->m_pData), static_cast<uint8_t*>(alpha->m_pData),
                  static_cast<const uint8_t*>(source->m_pData), pixels, colourChannels);
    else
        SplitRows(static_cast<uint16_t*>(colour->m_pData), static_cast<uint16_t*>(alpha->m_pData),
                  static_cast<const uint16_t*>(source->m_pData), pixels, colourChannels);
}

void MergeAlpha(ImageBuffer* destination, const ImageBuffer* colour)
{
    if (!destination || !colour || !destination->m_pData || !colour->m_pData) return;
    const int32_t colourChannels = destination->m_iChannels - 1;
    if (colourChannels != colour->m_iChannels || (colourChannels != 1 && colourChannels != 3)) return;
    const int32_t pixels = colour->m_iWidth * colour->m_iHeight;
    if (colour->m_iBits == 8)
        MergeRows(static_cast<uint8_t*>(destination->m_pData), static_cast<const uint8_t*>(colour->m_pData), pixels,
                  colourChannels);
    else
        MergeRows(static_cast<uint16_t*>(destination->m_pData), static_cast<const uint16_t*>(colour->m_pData), pixels,
                  colourChannels);
}

void FetchHostImage()
{
    FilterRecord* fr = g_pFilterRecord;
    if (!fr) return;
    const int32_t rows = fr->imageSize.v;
    const int32_t columns = fr->imageSize.h;
    const int32_t planes = fr->planes;
    // Grey or colour, with or without a transparency plane, at 8 or 16 bits: nothing else can
    // be copied, so nothing else is fetched.
    if (planes < 1 || planes > 4 || (fr->depth != 8 && fr->depth != 16) || rows <= 0 || columns <= 0)
    {
        SetResult(filterBadParameters);
        return;
    }

    const int16_t err = RequestWholeImage();
    SetResult(err);
    if (err != noErr) return;
    if (!fr->inData)
    {
        SetResult(filterBadParameters);
        return;
    }

    const int32_t bits = fr->depth == 8 ? 8 : fr->depth - 1;  // the host's 16-bit data holds 15 bits
    ImageBuffer whole;
    InitImage(&whole);
    if (CreateImage(&whole, columns, rows, planes, bits) != kImageOk)
    {
        ReleaseImage(&whole);
        SetResult(memFullErr);
        return;
    }
    CopyFromHostBuffer(&whole, fr->inData, fr->inRowBytes);

    ReleaseImage(&g_HostImage);
    ReleaseImage(&g_HostAlpha);
    if (planes == 2 || planes == 4)
    {
        // The last plane (transparency) is kept apart from the colour planes.
        ImageBuffer colour, alpha;
        InitImage(&colour);
        InitImage(&alpha);
        if (CreateImage(&colour, columns, rows, planes - 1, bits) != kImageOk ||
            CreateImage(&alpha, columns, rows, 1, bits) != kImageOk)
        {
            ReleaseImage(&colour);
            ReleaseImage(&alpha);
            ReleaseImage(&whole);
            SetResult(memFullErr);
            return;
        }
        SplitAlpha(&colour, &alpha, &whole);
        ReleaseImage(&whole);
        // The split images become the host image buffers (records are values).
        g_HostImage = colour;
        g_HostAlpha = alpha;
    }
    else
    {
        g_HostImage = whole;
    }

    if (bits == 15)
    {
        if (ConvertImage(&g_HostImage, 16, g_HostImage.m_iChannels) != kImageOk ||
            (HasPixels(g_HostAlpha) && ConvertImage(&g_HostAlpha, 16, 1) != kImageOk))
        {
            ReleaseImage(&g_HostImage);
            ReleaseImage(&g_HostAlpha);
            SetResult(memFullErr);
            return;
        }
    }
}

void WriteHostImage()
{
    FilterRecord* fr = g_pFilterRecord;
    if (!fr) return;
    const int16_t err = RequestWholeImage();
    SetResult(err);
    if (err != noErr) return;
    // A start without the main window fetched nothing: the host keeps its pixels.
    if (!HasPixels(g_HostImage) || !fr->outData) return;

    if (g_HostImage.m_iBits == 16) NarrowToHostDepth(&g_HostImage);
    const int32_t planes = fr->planes;
    if ((planes == 2 || planes == 4) && g_HostImage.m_iChannels == planes - 1)
    {
        // Host rows carry the transparency sample: write around it.
        ImageBuffer whole;
        InitImage(&whole);
        if (CreateImage(&whole, g_HostImage.m_iWidth, g_HostImage.m_iHeight, planes, g_HostImage.m_iBits) != kImageOk)
        {
            ReleaseImage(&whole);
            SetResult(memFullErr);
            return;
        }
        MergeAlpha(&whole, &g_HostImage);
        CopyToHostBuffer(fr->outData, fr->outRowBytes, &whole);
        ReleaseImage(&whole);
    }
    else if (g_HostImage.m_iChannels == planes)
    {
        CopyToHostBuffer(fr->outData, fr->outRowBytes, &g_HostImage);
    }
}
