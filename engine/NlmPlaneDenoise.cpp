#include "engine/NlmPlaneDenoise.h"

#include "engine/GpuHook.h"
#include "engine/ImageConvert.h"
#include "engine/NlmPass.h"
#include "engine/ScopedImage.h"

#include <cmath>

// The odd-size, in-place and GPU entry of a plane pass: the guide, the even-sized copy and the
// choice of driver; the pass itself is in NlmPassThreads.cpp.

std::atomic<unsigned char> g_bAbort{0};

using nlm::AbortRequested;
using nlm::ClampThreads;
using nlm::RunPass;

namespace
{

// The 8-bit guide of a plane: a copy converted to 8 bits (16 bits: the high byte; depths between
// 9 and 15: their top eight bits). False when out of memory.
bool MakeGuide(ImageBuffer* pGuide, const ImageBuffer* pPlane)
{
    if (CopyImageLayout(pGuide, pPlane) != kImageOk) return false;
    CopyImagePixels(pGuide, pPlane);
    if (pPlane->m_iBits == 8) return true;
    const unsigned char conv = ConvertImage(pGuide, 8, 1);
    if (conv == kImageBadArgs && pGuide->m_pData != nullptr && pGuide->m_iBits != 8)
    {
        ScopedImage narrow;
        const bool bOk = CreateImage(&narrow.img, pPlane->m_iWidth, pPlane->m_iHeight, 1, 8) == kImageOk;
        if (bOk)
        {
            const uint16_t* pIn = static_cast<const uint16_t*>(pGuide->m_pData);
            uint8_t* pOut = static_cast<uint8_t*>(narrow.img.m_pData);
            const int shift = pGuide->m_iBits - 8;
            const size_t n = static_cast<size_t>(pPlane->m_iWidth) * pPlane->m_iHeight;
            for (size_t i = 0; i < n; ++i)
            {
                const int v = pIn[i] >> shift;
                pOut[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
            }
        }
        ReleaseImage(pGuide);
        *pGuide = narrow.Take();
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
        return RunPass(dst, src, guide, b16 ? std::trunc(dStrength) : dStrength, iQuality, dDynamics2, hProgressDlg, n,
                       b16, pPool);
    }
    if (src->m_iBits == 8)
        return n == 1 ? NlmPlaneDenoiseCpu(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg)
                      : NlmPlaneDenoiseCpuMt(dst, src, guide, dStrength, iQuality, dDynamics2, hProgressDlg, n);
    const double dStrength16 = std::trunc(dStrength);
    return n == 1 ? NlmPlaneDenoiseCpu16(dst, src, guide, dStrength16, iQuality, dDynamics2, hProgressDlg)
                  : NlmPlaneDenoiseCpuMt16(dst, src, guide, dStrength16, iQuality, dDynamics2, hProgressDlg, n);
}

}  // namespace

unsigned char NlmPlaneDenoise(ImageBuffer* dst, ImageBuffer* src, double dStrength, int iQuality, double dDynamics,
                              HpxProgressTarget hProgressDlg, bool bGpu, int iThreads, WorkerPool* pPool)
{
    if (dst == nullptr || src == nullptr || src->m_pData == nullptr) return kImageBadArgs;
    if (dst == src)
    {
        // In place: denoise into a temporary and copy the result over the plane.
        ScopedImage result;
        if (CopyImageLayout(&result.img, src) != kImageOk) return kImageNoMemory;
        const unsigned char r =
            NlmPlaneDenoise(&result.img, src, dStrength, iQuality, dDynamics, hProgressDlg, bGpu, iThreads, pPool);
        if (r == kImageOk) CopyImagePixels(src, &result.img);
        return r;
    }
    const int w = src->m_iWidth;
    const int h = src->m_iHeight;
    const int bits = src->m_iBits;
    if (src->m_iChannels != 1 || bits < 8 || bits > 16 || w <= 0 || h <= 0)
    {
        // Not a plane this pass handles: hand the input back.
        if (dst->m_pData != nullptr) CopyImagePixels(dst, src);
        return kImageBadArgs;
    }

    // A destination of another shape cannot take the plane: refused before anything is written.
    // One without a block gets the source's shape.
    if (dst->m_pData != nullptr &&
        (dst->m_iWidth != w || dst->m_iHeight != h || dst->m_iChannels != 1 || dst->m_iBits != bits ||
         dst->m_iStride != src->m_iStride || dst->m_iSize < src->m_iSize))
        return kImageBadArgs;

    const double dDynamics2 = 2.0 * dDynamics;

    // An even-sized plane on the CPU needs no even-sized copy: the drivers read the source (its
    // own guide at 8 bits) and write the destination directly, which saves three plane copies
    // and leaves fewer planes alive during the pass.
    if (!bGpu && (w & 1) == 0 && (h & 1) == 0 && dst->m_pData != nullptr)
    {
        ScopedImage guide;
        unsigned char result = kImageNoMemory;
        if (bits == 8 || MakeGuide(&guide.img, src))
            result = RunCpuDriver(dst, src, bits == 8 ? src : &guide.img, dStrength, iQuality, dDynamics2, hProgressDlg,
                                  iThreads, pPool);
        if (AbortRequested() || result != kImageOk) CopyImagePixels(dst, src);
        return AbortRequested() || result == kImageOk ? kImageOk : kImageNoMemory;
    }

    // Even-sized zero-padded copy, output plane and 8-bit guide.
    const int we = w + (w & 1);
    const int he = h + (h & 1);
    ScopedImage paddedHolder, outputHolder, guideHolder;
    ImageBuffer& padded = paddedHolder.img;
    ImageBuffer& output = outputHolder.img;
    ImageBuffer& guide = guideHolder.img;
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
        if (dst->m_pData != nullptr) CopyImagePixels(dst, src);
        return kImageNoMemory;
    }

    // The caller's planes keep their blocks: a block given back after the pass could fail to
    // come back, and the source must survive any pass unchanged.
    const unsigned char result = bGpu
        ? GpuHookNlmPlaneDenoise(&output, &padded, &guide, iQuality, hProgressDlg, dStrength, dDynamics2)
        : RunCpuDriver(&output, &padded, &guide, dStrength, iQuality, dDynamics2, hProgressDlg, iThreads, pPool);

    // dst receives the result, or the input when the pass was cancelled or could not run.
    const bool bFailed = AbortRequested() || result != kImageOk || output.m_pData == nullptr;
    const bool bHaveDst = dst->m_pData != nullptr || CreateImage(dst, w, h, 1, bits) == kImageOk;
    if (bHaveDst) CopyImageRect(dst, bFailed ? src : &output, 0, 0, 0, 0, w, h);

    return bHaveDst && (AbortRequested() || !bFailed) ? kImageOk : kImageNoMemory;
}
