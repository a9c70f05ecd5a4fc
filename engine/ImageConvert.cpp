// Depth, channel and colour conversions.
#include "engine/ImageConvert.h"

#include "engine/ScopedImage.h"

#include <cstdlib>
#include <cstring>

namespace
{

inline int32_t ClampInt(int32_t v, int32_t hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

// Depth pairs ConvertImage knows.
enum class DepthStep
{
    Copy,
    Narrow16To8,
    Widen8To16,
    ShiftUp,
    ShiftDown,
    IntToFloat,
    FloatTo8,
    FloatTo16,
    None
};

DepthStep ChooseDepthStep(int32_t from, int32_t to)
{
    if (from == to) return DepthStep::Copy;
    if (from == 16 && to == 8) return DepthStep::Narrow16To8;
    if (from == 8 && to == 16) return DepthStep::Widen8To16;
    if (from >= 9 && from <= 16 && to >= 9 && to <= 16) return to > from ? DepthStep::ShiftUp : DepthStep::ShiftDown;
    if ((from == 8 || from == 16) && to == 32) return DepthStep::IntToFloat;
    if (from == 32 && to == 8) return DepthStep::FloatTo8;
    if (from == 32 && to == 16) return DepthStep::FloatTo16;
    return DepthStep::None;
}

// Float to integer sample: negatives and not-a-number become 0, values from hi up become hi.
inline int32_t FloatToSample(float v, int32_t hi)
{
    const float x = v > 0.0f ? v : 0.0f;
    if (!(x < static_cast<float>(hi))) return hi;
    return static_cast<int32_t>(x);
}

template <typename T> void ChannelsToMeanInt(T* out, const T* in, size_t pixels, int32_t channels)
{
    const uint32_t n = static_cast<uint32_t>(channels);
    if (channels == 3)
    {
        for (size_t i = 0; i < pixels; ++i, in += 3)
            out[i] = static_cast<T>((static_cast<uint32_t>(in[0]) + in[1] + in[2]) / 3u);
        return;
    }
    for (size_t i = 0; i < pixels; ++i, in += channels)
    {
        uint32_t sum = 0;
        for (int32_t c = 0; c < channels; ++c) sum += in[c];
        out[i] = static_cast<T>(sum / n);
    }
}

void ChannelsToMeanFloat(float* out, const float* in, size_t pixels, int32_t channels)
{
    const float n = static_cast<float>(channels);
    for (size_t i = 0; i < pixels; ++i, in += channels)
    {
        float sum = 0.0f;
        for (int32_t c = 0; c < channels; ++c) sum += in[c];
        out[i] = sum / n;
    }
}

template <typename T> void ReplicateChannel(T* out, const T* in, size_t pixels, int32_t channels)
{
    for (size_t i = 0; i < pixels; ++i, out += channels)
    {
        const T v = in[i];
        for (int32_t c = 0; c < channels; ++c) out[c] = v;
    }
}

// Channel step: src (oldChannels) into dst (newChannels), both of sample width `bytes`.
void ConvertChannels(void* dst, const void* src, size_t pixels, int32_t oldChannels, int32_t newChannels, int32_t bytes,
                     int32_t bits)
{
    if (oldChannels == newChannels)
    {
        std::memcpy(dst, src, pixels * static_cast<size_t>(oldChannels) * bytes);
    }
    else if (newChannels == 1)
    {
        if (bytes == 1)
            ChannelsToMeanInt(static_cast<uint8_t*>(dst), static_cast<const uint8_t*>(src), pixels, oldChannels);
        else if (bytes == 2)
            ChannelsToMeanInt(static_cast<uint16_t*>(dst), static_cast<const uint16_t*>(src), pixels, oldChannels);
        else if (bits == 32)
            ChannelsToMeanFloat(static_cast<float*>(dst), static_cast<const float*>(src), pixels, oldChannels);
    }
    else
    {
        if (bytes == 1)
            ReplicateChannel(static_cast<uint8_t*>(dst), static_cast<const uint8_t*>(src), pixels, newChannels);
        else if (bytes == 2)
            ReplicateChannel(static_cast<uint16_t*>(dst), static_cast<const uint16_t*>(src), pixels, newChannels);
        else
            ReplicateChannel(static_cast<uint32_t*>(dst), static_cast<const uint32_t*>(src), pixels, newChannels);
    }
}

void ConvertDepth(void* dst, const void* src, size_t samples, DepthStep step, int32_t from, int32_t to)
{
    switch (step)
    {
    case DepthStep::Copy:
        std::memcpy(dst, src, samples * static_cast<size_t>(ImageBytesPerSample(from)));
        break;
    case DepthStep::Narrow16To8:
    {
        const uint16_t* s = static_cast<const uint16_t*>(src);
        uint8_t* d = static_cast<uint8_t*>(dst);
        for (size_t i = 0; i < samples; ++i) d[i] = static_cast<uint8_t>(s[i] >> 8);
        break;
    }
    case DepthStep::Widen8To16:
    {
        const uint8_t* s = static_cast<const uint8_t*>(src);
        uint16_t* d = static_cast<uint16_t*>(dst);
        for (size_t i = 0; i < samples; ++i) d[i] = static_cast<uint16_t>(s[i] << 8);
        break;
    }
    case DepthStep::ShiftUp:
    {
        const uint16_t* s = static_cast<const uint16_t*>(src);
        uint16_t* d = static_cast<uint16_t*>(dst);
        const int shift = to - from;
        const uint32_t hi = (1u << to) - 1u;
        for (size_t i = 0; i < samples; ++i)
        {
            const uint32_t v = static_cast<uint32_t>(s[i]) << shift;
            d[i] = static_cast<uint16_t>(v > hi ? hi : v);
        }
        break;
    }
    case DepthStep::ShiftDown:
    {
        const uint16_t* s = static_cast<const uint16_t*>(src);
        uint16_t* d = static_cast<uint16_t*>(dst);
        const int shift = from - to;
        for (size_t i = 0; i < samples; ++i) d[i] = static_cast<uint16_t>(s[i] >> shift);
        break;
    }
    case DepthStep::IntToFloat:
    {
        float* d = static_cast<float*>(dst);
        if (from == 8)
        {
            const uint8_t* s = static_cast<const uint8_t*>(src);
            for (size_t i = 0; i < samples; ++i) d[i] = static_cast<float>(s[i]);
        }
        else
        {
            const uint16_t* s = static_cast<const uint16_t*>(src);
            for (size_t i = 0; i < samples; ++i) d[i] = static_cast<float>(s[i]);
        }
        break;
    }
    case DepthStep::FloatTo8:
    {
        const float* s = static_cast<const float*>(src);
        uint8_t* d = static_cast<uint8_t*>(dst);
        for (size_t i = 0; i < samples; ++i) d[i] = static_cast<uint8_t>(FloatToSample(s[i], 255));
        break;
    }
    case DepthStep::FloatTo16:
    {
        const float* s = static_cast<const float*>(src);
        uint16_t* d = static_cast<uint16_t*>(dst);
        for (size_t i = 0; i < samples; ++i) d[i] = static_cast<uint16_t>(FloatToSample(s[i], 65535));
        break;
    }
    case DepthStep::None:
        break;
    }
}

inline bool SameShape(const ImageBuffer* a, const ImageBuffer* b)
{
    return a->m_iWidth == b->m_iWidth && a->m_iHeight == b->m_iHeight;
}

// The BT.601 factors of the way back (the inverses of the forward ones).
constexpr double kR = 1.402524544179523, kB = 1.773049645390071, kG = 1.7035775127768313;

// The 8-bit colour conversions take their products from tables: the same doubles the formulas
// of the 16-bit loops compute per pixel (each table entry is that formula's product), added in the
// same order, so the bytes are those of the formulas, without the integer-to-double conversions
// and multiplications per pixel that a 32-bit processor does slowly.
constexpr int32_t kRgbLow = 256;  // red and blue before clamping lie in -256 .. 511
struct ColourTables8
{
    double toY[3][256];  // 0.114 B, 0.587 G, 0.299 R
    uint8_t cr[511];     // Cr of R - Y + 255
    uint8_t cb[511];     // Cb of B - Y + 255
    double value[256];   // Y as a double
    double fromCr[256];  // (Cr - 128) kR
    double fromCb[256];  // (Cb - 128) kB
    double byB[768];     // 0.114 B of B + kRgbLow
    double byR[768];     // 0.299 R of R + kRgbLow
};

ColourTables8 MakeTables8()
{
    ColourTables8 t;
    for (int32_t v = 0; v < 256; ++v)
    {
        t.toY[0][v] = 0.114 * v;
        t.toY[1][v] = 0.587 * v;
        t.toY[2][v] = 0.299 * v;
        t.value[v] = v;
        t.fromCr[v] = (v - 128) * kR;
        t.fromCb[v] = (v - 128) * kB;
    }
    for (int32_t d = -255; d <= 255; ++d)
    {
        t.cr[d + 255] = static_cast<uint8_t>(ClampInt(static_cast<int32_t>(0.713 * d + 128.0), 255));
        t.cb[d + 255] = static_cast<uint8_t>(ClampInt(static_cast<int32_t>(0.564 * d + 128.0), 255));
    }
    for (int32_t v = -kRgbLow; v < 768 - kRgbLow; ++v)
    {
        t.byB[v + kRgbLow] = 0.114 * v;
        t.byR[v + kRgbLow] = 0.299 * v;
    }
    return t;
}

const ColourTables8& Tables8()
{
    static const ColourTables8 s_tables = MakeTables8();
    return s_tables;
}

}  // namespace

unsigned char ConvertImage(ImageBuffer* image, int32_t bits, int32_t channels)
{
    const int32_t oldChannels = image->m_iChannels;
    const int32_t oldBits = image->m_iBits;
    if (!(oldChannels == 1 || channels == oldChannels || channels == 1) || channels <= 0) return kImageBadArgs;
    const DepthStep step = ChooseDepthStep(oldBits, bits);
    if (step == DepthStep::None) return kImageBadArgs;
    // Mixing channels needs a known sample type: 8, 9..16 bit integers or 32-bit floats.
    const int32_t oldBytes = ImageBytesPerSample(oldBits);
    if (channels != oldChannels && !(oldBytes == 1 || oldBytes == 2 || oldBits == 32)) return kImageBadArgs;
    if (!image->m_pData) return kImageBadArgs;

    const size_t pixels = static_cast<size_t>(image->m_iWidth) * static_cast<size_t>(image->m_iHeight);

    // Channel step into a temporary of the old depth (skipped when the channels stay).
    ScopedImage tempHolder;
    ImageBuffer& temp = tempHolder.img;
    const ImageBuffer* stage = image;
    if (channels != oldChannels)
    {
        const unsigned char r = CreateImage(&temp, image->m_iWidth, image->m_iHeight, channels, oldBits);
        if (r != kImageOk) return r;
        ConvertChannels(temp.m_pData, image->m_pData, pixels, oldChannels, channels, oldBytes, oldBits);
        stage = &temp;
    }

    // Depth step into the final block. The old block is kept until the new one exists, unless
    // memory is too short for both, so a failure leaves the image as it was when possible.
    ScopedImage resultHolder;
    ImageBuffer& result = resultHolder.img;
    unsigned char r = CreateImage(&result, image->m_iWidth, image->m_iHeight, channels, bits);
    if (r != kImageOk && stage == &temp)
    {
        ReleaseImage(image);
        r = CreateImage(&result, temp.m_iWidth, temp.m_iHeight, channels, bits);
    }
    if (r != kImageOk) return r;
    ConvertDepth(result.m_pData, stage->m_pData, pixels * static_cast<size_t>(channels), step, oldBits, bits);
    ReleaseImage(image);
    *image = resultHolder.Take();
    return kImageOk;
}

unsigned char RgbToYCbCr(ImageBuffer* dst, const ImageBuffer* src)
{
    if (!dst->m_pData || !src->m_pData || dst->m_iChannels != 3 || src->m_iChannels != 3 ||
        dst->m_iBits != src->m_iBits)
        return kImageBadArgs;
    const int32_t bits = dst->m_iBits;
    if (!(bits >= 8 && bits <= 16)) return kImageBadArgs;
    // Walk the destination's size, never past the source's.
    const int32_t width = dst->m_iWidth < src->m_iWidth ? dst->m_iWidth : src->m_iWidth;
    const int32_t height = dst->m_iHeight < src->m_iHeight ? dst->m_iHeight : src->m_iHeight;

    if (bits == 8)
    {
        const ColourTables8& t = Tables8();
        for (int32_t y = 0; y < height; ++y)
        {
            const uint8_t* s = static_cast<const uint8_t*>(src->m_pData) + static_cast<ptrdiff_t>(y) * src->m_iStride;
            uint8_t* d = static_cast<uint8_t*>(dst->m_pData) + static_cast<ptrdiff_t>(y) * dst->m_iStride;
            for (int32_t x = 0; x < width; ++x, s += 3, d += 3)
            {
                const int32_t B = s[0], G = s[1], R = s[2];
                const double yy = t.toY[2][R] + t.toY[1][G] + t.toY[0][B];
                const int32_t Y = ClampInt(static_cast<int32_t>(yy + 0.5), 255);
                d[0] = static_cast<uint8_t>(Y);
                d[1] = t.cr[R - Y + 255];
                d[2] = t.cb[B - Y + 255];
            }
        }
    }
    else
    {
        const int32_t max = static_cast<int32_t>((1u << bits) - 1u);
        const double half = static_cast<double>(1u << (bits - 1));
        for (int32_t y = 0; y < height; ++y)
        {
            const uint16_t* s = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(src->m_pData) +
                                                                  static_cast<ptrdiff_t>(y) * src->m_iStride);
            uint16_t* d = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(dst->m_pData) +
                                                      static_cast<ptrdiff_t>(y) * dst->m_iStride);
            for (int32_t x = 0; x < width; ++x, s += 3, d += 3)
            {
                const int32_t B = s[0], G = s[1], R = s[2];
                const double yy = 0.299 * R + 0.587 * G + 0.114 * B;
                const int32_t Y = ClampInt(static_cast<int32_t>(yy + 0.5), max);
                const int32_t Cr = ClampInt(static_cast<int32_t>(0.713 * (R - Y) + half + 0.5), max);
                const int32_t Cb = ClampInt(static_cast<int32_t>(0.564 * (B - Y) + half + 0.5), max);
                d[0] = static_cast<uint16_t>(Y);
                d[1] = static_cast<uint16_t>(Cr);
                d[2] = static_cast<uint16_t>(Cb);
            }
        }
    }
    return kImageOk;
}

unsigned char YCbCrToRgb(ImageBuffer* dst, const ImageBuffer* src)
{
    if (!dst->m_pData || !src->m_pData || dst->m_iChannels != 3 || src->m_iChannels != 3 ||
        dst->m_iBits != src->m_iBits)
        return kImageBadArgs;
    const int32_t bits = src->m_iBits;
    if (!(bits >= 8 && bits <= 16)) return kImageBadArgs;
    // Walk the source's size, never past the destination's.
    const int32_t width = dst->m_iWidth < src->m_iWidth ? dst->m_iWidth : src->m_iWidth;
    const int32_t height = dst->m_iHeight < src->m_iHeight ? dst->m_iHeight : src->m_iHeight;
    const int32_t max = bits == 8 ? 255 : static_cast<int32_t>((1u << bits) - 1u);
    const int32_t off = bits == 8 ? 128 : static_cast<int32_t>(1u << (bits - 1));

    const int32_t sampleBytes = bits == 8 ? 1 : 2;
    for (int32_t y = 0; y < height; ++y)
    {
        const uint8_t* srow = static_cast<const uint8_t*>(src->m_pData) + static_cast<ptrdiff_t>(y) * src->m_iStride;
        uint8_t* drow = static_cast<uint8_t*>(dst->m_pData) + static_cast<ptrdiff_t>(y) * dst->m_iStride;
        if (sampleBytes == 1)
        {
            const ColourTables8& t = Tables8();
            for (int32_t x = 0; x < width; ++x, srow += 3, drow += 3)
            {
                const double Y = t.value[srow[0]];
                const int32_t R = static_cast<int32_t>(Y + t.fromCr[srow[1]] + 0.5);
                const int32_t B = static_cast<int32_t>(Y + t.fromCb[srow[2]] + 0.5);
                const int32_t G = static_cast<int32_t>((Y - t.byB[B + kRgbLow] - t.byR[R + kRgbLow]) * kG + 0.5);
                drow[2] = static_cast<uint8_t>(ClampInt(R, 255));
                drow[1] = static_cast<uint8_t>(ClampInt(G, 255));
                drow[0] = static_cast<uint8_t>(ClampInt(B, 255));
            }
        }
        else
        {
            const uint16_t* s = reinterpret_cast<const uint16_t*>(srow);
            uint16_t* d = reinterpret_cast<uint16_t*>(drow);
            for (int32_t x = 0; x < width; ++x, s += 3, d += 3)
            {
                const int32_t Y = s[0], Cr = s[1], Cb = s[2];
                const int32_t R = static_cast<int32_t>(Y + (Cr - off) * kR + 0.5);
                const int32_t B = static_cast<int32_t>(Y + (Cb - off) * kB + 0.5);
                const int32_t G = static_cast<int32_t>((Y - 0.114 * B - 0.299 * R) * kG + 0.5);
                d[2] = static_cast<uint16_t>(ClampInt(R, max));
                d[1] = static_cast<uint16_t>(ClampInt(G, max));
                d[0] = static_cast<uint16_t>(ClampInt(B, max));
            }
        }
    }
    return kImageOk;
}

namespace
{

template <typename T> void ExtractRows(ImageBuffer* dst, int32_t index, const ImageBuffer* src)
{
    const int32_t channels = src->m_iChannels;
    for (int32_t y = 0; y < dst->m_iHeight; ++y)
    {
        const T* s = reinterpret_cast<const T*>(static_cast<const uint8_t*>(src->m_pData) +
                                                static_cast<ptrdiff_t>(y) * src->m_iStride) +
            index;
        T* d = reinterpret_cast<T*>(static_cast<uint8_t*>(dst->m_pData) + static_cast<ptrdiff_t>(y) * dst->m_iStride);
        for (int32_t x = 0; x < dst->m_iWidth; ++x, s += channels) d[x] = *s;
    }
}

template <typename T> void InsertRows(ImageBuffer* dst, int32_t index, const ImageBuffer* src)
{
    const int32_t channels = dst->m_iChannels;
    for (int32_t y = 0; y < src->m_iHeight; ++y)
    {
        const T* s = reinterpret_cast<const T*>(static_cast<const uint8_t*>(src->m_pData) +
                                                static_cast<ptrdiff_t>(y) * src->m_iStride);
        T* d = reinterpret_cast<T*>(static_cast<uint8_t*>(dst->m_pData) + static_cast<ptrdiff_t>(y) * dst->m_iStride) +
            index;
        for (int32_t x = 0; x < src->m_iWidth; ++x, d += channels) *d = s[x];
    }
}

}  // namespace

unsigned char ExtractChannel(ImageBuffer* dst, int32_t index, const ImageBuffer* src)
{
    if (!dst->m_pData || !src->m_pData || dst->m_iChannels != 1 || index < 0 || index >= src->m_iChannels ||
        !SameShape(dst, src) || dst->m_iBits != src->m_iBits)
        return kImageBadArgs;
    const int32_t bits = src->m_iBits;
    if (bits == 8)
        ExtractRows<uint8_t>(dst, index, src);
    else if (bits >= 9 && bits <= 16)
        ExtractRows<uint16_t>(dst, index, src);
    else if (bits == 32)
        ExtractRows<uint32_t>(dst, index, src);
    else
        return kImageBadArgs;
    return kImageOk;
}

unsigned char InsertChannel(ImageBuffer* dst, int32_t index, const ImageBuffer* src)
{
    if (!dst->m_pData || !src->m_pData || src->m_iChannels != 1 || index < 0 || index >= dst->m_iChannels ||
        !SameShape(dst, src) || dst->m_iBits != src->m_iBits)
        return kImageBadArgs;
    const int32_t bits = src->m_iBits;
    if (bits == 8)
        InsertRows<uint8_t>(dst, index, src);
    else if (bits == 16)
        InsertRows<uint16_t>(dst, index, src);
    else if (bits == 32)
        InsertRows<uint32_t>(dst, index, src);
    else
        return kImageBadArgs;
    return kImageOk;
}
