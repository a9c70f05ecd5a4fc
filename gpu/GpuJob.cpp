#include "gpu/GpuJob.h"

#include "engine/DenoiseImage.h"
#include "engine/NlmPlaneDenoise.h"
#include "gpu/NlmGpu.h"

#include <algorithm>
#include <cmath>
#include <cstring>

bool ParseImageRecord(const void* data, uint32_t size, GpuImageShape* shape)
{
    if (!data || size < static_cast<uint32_t>(kWireImageRecordSize) || !shape) return false;
    int32_t fields[7];
    std::memcpy(fields, data, sizeof fields);
    const int32_t width = fields[3], height = fields[4], channels = fields[5], bits = fields[6];
    if (width <= 0 || height <= 0) return false;
    if (channels != 1 && channels != 3) return false;
    if (bits != 8 && bits != 16) return false;
    const int64_t bytes = static_cast<int64_t>(width) * height * channels * (bits / 8);
    if (bytes > INT32_MAX) return false;
    *shape = GpuImageShape{width, height, channels, bits};
    return true;
}

GpuJobSettings JobSettingsFromParams(const DenoiseJobParams& params)
{
    auto strength = [](int32_t position) { return std::clamp(position, 0, 1000) / 20.0; };
    GpuJobSettings job;
    job.dStrength = strength(params.iStrength);
    job.dStrengthChroma = strength(params.iStrengthChroma);
    job.dStrengthChromaLarge = strength(params.iStrengthChromaLarge);
    job.iQuality = params.iQualityMode;
    job.dDynamics = std::isnan(params.dDynamics) ? 0.0 : std::clamp(params.dDynamics, -2.0, 2.0);
    job.bFusion = params.bGpuCpuFusion != 0;
    job.iMedian = params.iUseMedian;
    return job;
}

unsigned char RunGpuJob(ImageBuffer* result, ImageBuffer* input, const GpuJobSettings& job, HWND hProgress,
                        bool bUseGpu, bool (*pfnStopped)())
{
    g_bGpuPassFailed = false;
    const HpxProgressTarget target = reinterpret_cast<HpxProgressTarget>(hProgress);
    unsigned char status = DenoiseImage(result, input, job.dStrength, job.dStrengthChroma, job.dStrengthChromaLarge,
                                        job.iQuality, job.dDynamics, target, true, bUseGpu, job.bFusion, job.iMedian);
    if (bUseGpu && g_bGpuPassFailed && !(pfnStopped && pfnStopped()))
    {
        // The GPU stopped the job without a cancel: the CPU does it all again.
        g_bGpuPassFailed = false;
        g_bAbort = 0;
        status = DenoiseImage(result, input, job.dStrength, job.dStrengthChroma, job.dStrengthChromaLarge, job.iQuality,
                              job.dDynamics, target, true, false, false, job.iMedian);
    }
    return status;
}
