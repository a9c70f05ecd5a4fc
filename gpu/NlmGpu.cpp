#include "gpu/NlmGpu.h"

#include "engine/GpuHook.h"
#include "engine/NlmKernels.h"
#include "engine/NlmPlaneDenoise.h"
#include "gpu/Gpgpu.h"

#include <algorithm>
#include <cmath>

volatile bool g_bGpuPassFailed = false;

namespace
{

void MirrorPad(ImageBuffer* image, ImageBuffer* work, int pad)
{
    if (image->m_iBits == 8)
        MirrorPadImage8(image, work, pad);
    else
        MirrorPadImage16(image, work, pad);
}

// A zero-filled padded copy of src (src at (pad, pad)), mirror-padded per channel through the
// work plane (one channel, same padded size and depth). False when memory ran out.
bool MakePadded(ImageBuffer* padded, ImageBuffer* work, const ImageBuffer* src, int pad)
{
    const int wp = src->m_iWidth + 2 * pad, hp = src->m_iHeight + 2 * pad;
    if (CreateImage(padded, wp, hp, src->m_iChannels, src->m_iBits) != kImageOk) return false;
    if (CreateImage(work, wp, hp, 1, src->m_iBits) != kImageOk) return false;
    FillImageBytes(padded, 0);
    CopyImageRect(padded, src, pad, pad, 0, 0, src->m_iWidth, src->m_iHeight);
    MirrorPad(padded, work, pad);
    return true;
}

struct Shape
{
    int32_t width, height, channels, bits;
    explicit Shape(const ImageBuffer* image)
        : width(image->m_iWidth), height(image->m_iHeight), channels(image->m_iChannels), bits(image->m_iBits)
    {
    }
    bool Create(ImageBuffer* image) const { return CreateImage(image, width, height, channels, bits) == kImageOk; }
};

void GpuFailed()
{
    g_bGpuPassFailed = true;
    g_bAbort = 1;
}

bool GpuUsable() { return g_pGpgpu != nullptr && g_pGpgpu->IsReady(); }

// dst = src when both have blocks (the result of a pass that did not run).
void CopyBack(ImageBuffer* dst, const ImageBuffer* src)
{
    if (dst->m_pData && src->m_pData) CopyImagePixels(dst, src);
}

// The offset loop shared by both drivers: one accumulation, one progress step, then the abort
// check, for k = 0 .. w x w / 2.
template <typename Accumulate> void RunOffsets(int iQuality, HpxProgressTarget hProgress, Accumulate accumulate)
{
    const int w = NlmSearchWindow(iQuality);
    for (int k = 0; k <= w * w / 2; ++k)
    {
        const int dy = k / w - w / 2, dx = k % w - w / 2;
        accumulate(dy, dx);
        ProgressStep(hProgress);
        if (g_bAbort) break;
    }
}

// Common tail: src back from the padded noisy copy, dst re-created and read back unless the pass
// was cancelled or failed (then dst = src).
unsigned char Finish(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* noisy, const Shape& dstShape,
                     const Shape& srcShape, int pad, bool uploaded)
{
    unsigned char result = kImageOk;
    if (srcShape.Create(src))
        CopyImageRect(src, noisy, 0, 0, pad, pad, srcShape.width, srcShape.height);
    else
        result = kImageNoMemory;
    ReleaseImage(noisy);
    if (!dstShape.Create(dst))
    {
        GpuFailed();
        return kImageNoMemory;
    }
    bool read = false;
    if (uploaded && !g_bAbort)
    {
        read = g_pGpgpu->ReadBackResult(dst->m_pData);
        if (!read) GpuFailed();
    }
    if (!read) CopyBack(dst, src);
    if (result != kImageOk) GpuFailed();
    return result;
}

bool PlaneAccepted(const ImageBuffer* dst, const ImageBuffer* src, int channels)
{
    return dst && src && src->m_pData && src->m_iChannels == channels && (src->m_iBits == 8 || src->m_iBits == 16) &&
        dst->m_iWidth == src->m_iWidth && dst->m_iHeight == src->m_iHeight && dst->m_iChannels == channels &&
        dst->m_iBits == src->m_iBits && src->m_iWidth > 0 && src->m_iHeight > 0;
}

}  // namespace

int GpuPadHalfSize(int width, int height)
{
    const int m = (std::min(width, height) / 2) * 2 - 1;
    return std::max(std::min(m, 71) / 2, 0);
}

unsigned char NlmPlaneDenoiseGpu(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                 HpxProgressTarget hProgress, double dStrength, double dDynamics)
{
    if (guide) ReleaseImage(guide);
    if (!GpuUsable() || !PlaneAccepted(dst, src, 1))
    {
        GpuFailed();
        CopyBack(dst, src);
        return kImageBadArgs;
    }
    const float variance = static_cast<float>(std::pow(dStrength, 3.5));
    const int c = GpuPadHalfSize(dst->m_iWidth, dst->m_iHeight);
    const int pad = c + 3;
    const Shape srcShape(src), dstShape(dst);

    ImageBuffer noisy, plane;
    InitImage(&noisy);
    InitImage(&plane);
    if (!MakePadded(&noisy, &plane, src, pad))
    {
        ReleaseImage(&noisy);
        ReleaseImage(&plane);
        GpuFailed();
        CopyBack(dst, src);
        return kImageNoMemory;
    }
    // The one-channel work plane now holds the padded plane: it guides the distances.
    CopyImagePixels(&plane, &noisy);

    ReleaseImage(src);
    ReleaseImage(dst);

    const bool uploaded = g_pGpgpu->UploadMono(srcShape.width, srcShape.bits, noisy.m_pData, plane.m_pData,
                                               srcShape.height, srcShape.channels, c);
    if (!uploaded)
        GpuFailed();
    else
        RunOffsets(iQuality, hProgress,
                   [&](int dy, int dx)
                   {
                       g_pGpgpu->AccumulateOffsetMono(dy, dx, std::max(dy, 0), std::max(dx, 0), std::max(-dy, 0),
                                                      std::max(-dx, 0), c, variance, static_cast<float>(dDynamics));
                   });
    ReleaseImage(&plane);
    return Finish(dst, src, &noisy, dstShape, srcShape, pad, uploaded);
}

unsigned char NlmColorDenoiseGpu(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                 HpxProgressTarget hProgress, double dStrengthLuma, double dStrengthChroma,
                                 double dDynamics)
{
    if (!GpuUsable() || !PlaneAccepted(dst, src, 3) || !guide || !guide->m_pData || guide->m_iWidth != src->m_iWidth ||
        guide->m_iHeight != src->m_iHeight || guide->m_iChannels != 3 || guide->m_iBits != src->m_iBits)
    {
        if (guide) ReleaseImage(guide);
        GpuFailed();
        if (dst && src) CopyBack(dst, src);
        return kImageBadArgs;
    }
    const float varianceY = static_cast<float>(std::pow(dStrengthLuma, 3.5));
    const float varianceUV = static_cast<float>(std::pow(dStrengthChroma, 3.5));
    const int c = GpuPadHalfSize(dst->m_iWidth, dst->m_iHeight);
    const int pad = c + 3;
    const Shape srcShape(src), dstShape(dst);

    ImageBuffer noisy, paddedGuide, work;
    InitImage(&noisy);
    InitImage(&paddedGuide);
    InitImage(&work);
    bool made = MakePadded(&noisy, &work, src, pad);
    made = made && MakePadded(&paddedGuide, &work, guide, pad);
    ReleaseImage(&work);
    ReleaseImage(guide);
    if (!made)
    {
        ReleaseImage(&noisy);
        ReleaseImage(&paddedGuide);
        GpuFailed();
        CopyBack(dst, src);
        return kImageNoMemory;
    }
    ReleaseImage(src);
    ReleaseImage(dst);

    const bool uploaded =
        g_pGpgpu->UploadColor(srcShape.height, srcShape.width, noisy.m_pData, paddedGuide.m_pData, c, srcShape.bits);
    if (!uploaded)
        GpuFailed();
    else
        RunOffsets(iQuality, hProgress,
                   [&](int dy, int dx)
                   {
                       g_pGpgpu->AccumulateOffsetColor(dy, dx, std::max(dy, 0), std::max(dx, 0), std::max(-dy, 0),
                                                       std::max(-dx, 0), c, varianceY, varianceUV,
                                                       static_cast<float>(dDynamics));
                   });
    ReleaseImage(&paddedGuide);
    return Finish(dst, src, &noisy, dstShape, srcShape, pad, uploaded);
}

unsigned char NlmJointColorDenoise(ImageBuffer* dst, ImageBuffer* src, int iQuality, HpxProgressTarget hProgress,
                                   double dStrengthLuma, double dStrengthChroma, double dDynamics)
{
    if (!dst || !src || !src->m_pData || src->m_iChannels != 3 || src->m_iWidth <= 0 || src->m_iHeight <= 0)
    {
        GpuFailed();
        if (dst && src) CopyBack(dst, src);
        return kImageBadArgs;
    }
    const Shape srcShape(src), dstShape(dst);
    const int we = src->m_iWidth + (src->m_iWidth & 1), he = src->m_iHeight + (src->m_iHeight & 1);

    ImageBuffer even, guide, result;
    InitImage(&even);
    InitImage(&guide);
    InitImage(&result);
    bool made = CreateImage(&even, we, he, 3, src->m_iBits) == kImageOk &&
        CreateImage(&guide, we, he, 3, src->m_iBits) == kImageOk &&
        CreateImage(&result, we, he, 3, src->m_iBits) == kImageOk;
    if (!made)
    {
        ReleaseImage(&even);
        ReleaseImage(&guide);
        ReleaseImage(&result);
        GpuFailed();
        CopyBack(dst, src);
        return kImageNoMemory;
    }
    FillImageBytes(&even, 0);
    CopyImageRect(&even, src, 0, 0, 0, 0, src->m_iWidth, src->m_iHeight);
    CopyImagePixels(&guide, &even);

    ReleaseImage(dst);
    ReleaseImage(src);

    unsigned char r = NlmColorDenoiseGpu(&result, &even, &guide, iQuality, hProgress, dStrengthLuma, dStrengthChroma,
                                         dDynamics * 2.0);

    bool recreated = dstShape.Create(dst);
    recreated = srcShape.Create(src) && recreated;
    if (src->m_pData && even.m_pData) CopyImageRect(src, &even, 0, 0, 0, 0, srcShape.width, srcShape.height);
    if (dst->m_pData)
    {
        if (g_bAbort || r != kImageOk || !result.m_pData)
            CopyBack(dst, src);
        else
            CopyImageRect(dst, &result, 0, 0, 0, 0, dstShape.width, dstShape.height);
    }
    ReleaseImage(&result);
    ReleaseImage(&even);
    ReleaseImage(&guide);
    if (!recreated)
    {
        GpuFailed();
        return kImageNoMemory;
    }
    return r;
}

namespace
{
bool HookIsReady() { return GpuUsable(); }
int HookMaxTileSize() { return g_pGpgpu ? g_pGpgpu->GetMaxTileSize() : 0; }
}  // namespace

void InstallGpuDrivers(bool bInstall)
{
    if (!bInstall)
    {
        InstallGpuHook(nullptr);
        return;
    }
    GpuHook hook = {&NlmPlaneDenoiseGpu, &NlmJointColorDenoise, &NlmColorDenoiseGpu, &HookIsReady, &HookMaxTileSize};
    InstallGpuHook(&hook);
}
