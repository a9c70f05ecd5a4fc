#include "engine/GpuHook.h"

namespace
{

GpuHook g_GpuHook = {nullptr, nullptr, nullptr, nullptr, nullptr};

unsigned char CopyInstead(ImageBuffer* dst, const ImageBuffer* src)
{
    if (dst != nullptr && src != nullptr && dst->m_pData != nullptr && src->m_pData != nullptr && dst != src)
        CopyImagePixels(dst, src);
    return kImageBadArgs;
}

}  // namespace

void InstallGpuHook(const GpuHook* hook)
{
    if (hook != nullptr)
        g_GpuHook = *hook;
    else
        g_GpuHook = GpuHook{nullptr, nullptr, nullptr, nullptr, nullptr};
}

const GpuHook& GetGpuHook() { return g_GpuHook; }

bool GpuHookIsReady() { return g_GpuHook.pfnIsReady != nullptr && g_GpuHook.pfnIsReady(); }

int GpuHookMaxTileSize() { return g_GpuHook.pfnGetMaxTileSize != nullptr ? g_GpuHook.pfnGetMaxTileSize() : 0; }

bool GpuHookHasPlaneDenoise() { return g_GpuHook.pfnNlmPlaneDenoiseGpu != nullptr; }

bool GpuHookHasJointColor() { return g_GpuHook.pfnNlmJointColorDenoise != nullptr; }

unsigned char GpuHookNlmPlaneDenoise(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                     HpxProgressTarget hProgress, double dStrength, double dDynamics)
{
    if (g_GpuHook.pfnNlmPlaneDenoiseGpu == nullptr) return CopyInstead(dst, src);
    return g_GpuHook.pfnNlmPlaneDenoiseGpu(dst, src, guide, iQuality, hProgress, dStrength, dDynamics);
}

unsigned char GpuHookNlmJointColorDenoise(ImageBuffer* dst, ImageBuffer* src, int iQuality, HpxProgressTarget hProgress,
                                          double dStrengthLuma, double dStrengthChroma, double dDynamics)
{
    if (g_GpuHook.pfnNlmJointColorDenoise == nullptr) return CopyInstead(dst, src);
    return g_GpuHook.pfnNlmJointColorDenoise(dst, src, iQuality, hProgress, dStrengthLuma, dStrengthChroma, dDynamics);
}

unsigned char GpuHookNlmColorDenoise(ImageBuffer* dst, ImageBuffer* src, ImageBuffer* guide, int iQuality,
                                     HpxProgressTarget hProgress, double dStrengthLuma, double dStrengthChroma,
                                     double dDynamics)
{
    if (g_GpuHook.pfnNlmColorDenoiseGpu == nullptr) return CopyInstead(dst, src);
    return g_GpuHook.pfnNlmColorDenoiseGpu(dst, src, guide, iQuality, hProgress, dStrengthLuma, dStrengthChroma,
                                           dDynamics);
}
