// Prints how long the GPU drivers take for full-size tiles (1000 x 1000, the GPU's tile edge) at
// each quality, beside the CPU engine's plane pass on the same plane. Not a test: run it by hand
//   scripts/wine-run.sh build/win32-<x>/tests/gpu/gpu_bench.exe [edge]
#include "GpuTestSupport.h"

#include "engine/ImageBuffer.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/Platform.h"
#include "gpu/NlmGpu.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace
{

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

void Fill(ImageBuffer* image)
{
    TestRandom r(1);
    uint8_t* p = static_cast<uint8_t*>(image->m_pData);
    for (int32_t i = 0; i < image->m_iSize; ++i) p[i] = static_cast<uint8_t>(100 + (i / 7) % 50 + r.Next() % 12);
}

}  // namespace

int main(int argc, char** argv)
{
    const int edge = argc > 1 ? std::atoi(argv[1]) : 1000;
    CGPGPU* gpu = TestGpu();
    if (!gpu->IsReady())
    {
        std::printf("GPU not ready\n");
        return 1;
    }
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("CPU count: %u\n", static_cast<unsigned>(CountProcessors()));
    for (int q = 1; q <= 3; ++q)
    {
        ImageBuffer src, dst;
        InitImage(&src);
        InitImage(&dst);
        CreateImage(&src, edge, edge, 1, 8);
        CreateImage(&dst, edge, edge, 1, 8);
        Fill(&src);
        double t0 = Now();
        NlmPlaneDenoiseGpu(&dst, &src, nullptr, q, nullptr, 10.0, 0.0);
        double gpuPlane = Now() - t0;

        t0 = Now();
        NlmPlaneDenoise(&dst, &src, 10.0, q, 0.0, nullptr, false, g_byCpuCount);
        double cpuPlane = Now() - t0;

        ImageBuffer color, out;
        InitImage(&color);
        InitImage(&out);
        CreateImage(&color, edge, edge, 3, 8);
        CreateImage(&out, edge, edge, 3, 8);
        Fill(&color);
        t0 = Now();
        NlmJointColorDenoise(&out, &color, q, nullptr, 10.0, 12.0, 0.0);
        double gpuColor = Now() - t0;
        std::printf("%d x %d quality %d (%3d offsets): GPU grey plane %7.2f s, GPU joint colour %7.2f s, "
                    "CPU grey plane (%u threads) %7.2f s\n",
                    edge, edge, q, NlmOffsetCount(q), gpuPlane, gpuColor, static_cast<unsigned>(g_byCpuCount),
                    cpuPlane);
        ReleaseImage(&src);
        ReleaseImage(&dst);
        ReleaseImage(&color);
        ReleaseImage(&out);
    }
    return 0;
}
