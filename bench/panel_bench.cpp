// Figures of the parameter panel: the latency of one live preview (a 200 x 200 rectangle with
// its 41-pixel margin, denoised and sharpened) by quality and depth, and the largest RGB 16-bit
// image whose finished run gets its detail gains (strip by strip) in this process. Prints
// figures only; nothing is asserted. Run natively and as the i686 build under Wine.
//
//   hpx_panel_bench [--largest]   (--largest also grows an image until its gains fail)
#include "BenchImage.h"
#include "BenchSystem.h"

#include "engine/DenoiseImage.h"
#include "engine/DetailGainsInStrips.h"
#include "engine/ImageConvert.h"
#include "engine/ImagePyramid.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace
{

constexpr int kCrop = 200 + 2 * 41;

// A whole-image run as the window makes it, against the engine's own job: after DenoiseImage the
// panel applies the detail gains to the whole result, strip by strip, before it shows "Redefine".
// (The window's message hops and the view's display copies are not in this figure; the view
// benchmark times the copies, about 0.15 s at 24 megapixels.)
void WholeRunOverhead()
{
    const int w = 4000, h = 3000;
    ImageBuffer clean, noisy, result;
    InitImage(&clean);
    InitImage(&noisy);
    InitImage(&result);
    MakeBarsPicture(&clean, w, h, 8);
    CopyImageLayout(&noisy, &clean);
    AddGaussianNoise(&noisy, &clean, 10.0, 7);
    CopyImageLayout(&result, &noisy);
    MemoryProbe probe;
    probe.Start();
    const double t0 = BenchSeconds();
    DenoiseImage(&result, &noisy, 15.0, 15.0, 0.0, 3, 0.0, nullptr, true, false, false, 0);
    const double t1 = BenchSeconds();
    const double jobMB = probe.StopPeakExtraMB();
    probe.Start();
    ApplyDetailGainsInStrips(&result, 1.5, 1.2, 1.0, 3, 8);
    const double t2 = BenchSeconds();
    const double gainsMB = probe.StopPeakExtraMB();
    std::printf("whole-image run, %d x %d 8-bit RGB, quality 3 (goal: the run through the window adds under 10 %%):\n"
                "  engine job %.2f s, detail gains of the done step %.2f s: %.1f %% over the job\n",
                w, h, t1 - t0, t2 - t1, 100.0 * (t2 - t1) / (t1 - t0));
    std::printf("  peak memory beyond the images (goal: the whole job under 300 MB): job %.0f MB, gains %.0f MB\n",
                jobMB, gainsMB);
    ReleaseImage(&clean);
    ReleaseImage(&noisy);
    ReleaseImage(&result);
}

// One preview as the panel runs it: denoise the padded crop, then its detail gains.
void PreviewOnce(const ImageBuffer* crop, int quality)
{
    ImageBuffer out, sharp;
    InitImage(&out);
    InitImage(&sharp);
    CopyImageLayout(&out, crop);
    DenoiseImage(&out, const_cast<ImageBuffer*>(crop), 15.0, 15.0, 0.0, quality, 0.0, nullptr, true, false, false, 0);
    ImagePyramid pyramid{};
    if (!BuildImagePyramid(&pyramid, &out, 3, 8) && CopyImageLayout(&sharp, &out) == kImageOk)
        ApplyDetailGains(&sharp, &pyramid, 1.5, 1.2, 1.0);
    ReleaseImagePyramid(&pyramid);
    ReleaseImage(&out);
    ReleaseImage(&sharp);
}

void PreviewLatency()
{
    std::printf("preview run (%d x %d padded crop, RGB, strengths 15):\n", kCrop, kCrop);
    for (int bits : {8, 16})
    {
        ImageBuffer clean, noisy;
        InitImage(&clean);
        InitImage(&noisy);
        MakeBarsPicture(&clean, kCrop, kCrop, bits);
        CopyImageLayout(&noisy, &clean);
        AddGaussianNoise(&noisy, &clean, 10.0, 7);
        for (int quality = 1; quality <= 3; ++quality)
        {
            PreviewOnce(&noisy, quality);  // warm the weight tables and the pool
            const int runs = 5;
            const double t0 = BenchSeconds();
            for (int i = 0; i < runs; ++i) PreviewOnce(&noisy, quality);
            std::printf("  %2d bits quality %d: %7.1f ms%s\n", bits, quality, (BenchSeconds() - t0) * 1000.0 / runs,
                        quality == 3 ? "   (goal under 50 ms natively)" : "");
        }
        ReleaseImage(&clean);
        ReleaseImage(&noisy);
    }
}

// The document of a finished run: source, result and the host's own copy, as the plug-in holds
// them when the gains are applied; then the gains on the result.
bool GainsFit(int megapixels)
{
    const int w = 6000, h = megapixels * 1000000 / w;
    ImageBuffer source, result, host;
    InitImage(&source);
    InitImage(&result);
    InitImage(&host);
    bool ok = CreateImage(&host, w, h, 3, 16) == kImageOk && CreateImage(&source, w, h, 3, 16) == kImageOk &&
        CreateImage(&result, w, h, 3, 16) == kImageOk;
    double seconds = 0;
    int left = 0;
    if (ok)
    {
        std::memset(result.m_pData, 0x40, static_cast<size_t>(result.m_iSize));
        const double t0 = BenchSeconds();
        ok = ApplyDetailGainsInStrips(&result, 1.5, 1.2, 0.8, 3, 8, 0, &left) == kImageOk;
        seconds = BenchSeconds() - t0;
    }
    std::printf("  %3d MP (%d x %d) 16-bit RGB: %s", megapixels, w, h, ok ? "gains applied" : "failed");
    if (ok) std::printf(" in %.1f s", seconds);
    std::printf("\n");
    ReleaseImage(&source);
    ReleaseImage(&result);
    ReleaseImage(&host);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool largest = argc > 1 && std::strcmp(argv[1], "--largest") == 0;
    std::printf("pointer size %u bits\n", static_cast<unsigned>(sizeof(void*) * 8));
    PreviewLatency();
    WholeRunOverhead();
    std::printf("detail gains of a finished run, with source, result and host copy in memory:\n");
    GainsFit(24);
    if (largest)
        for (int mp = 32; mp <= 128 && GainsFit(mp); mp += 8)
        {
        }
    return 0;
}
