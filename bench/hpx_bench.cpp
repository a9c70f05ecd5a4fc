// Denoising benchmark.
//
//   hpx_bench --clean8 clean8.ppm [--clean16 clean16.ppm] [--quick] [--sigmas 10,20,30]
//             [--one-thread-mp 1.5] [--scaling-only] [--out results.txt]
//
// For each noise level (Gaussian, fixed seed, sigma in 8-bit units), the best strengths are
// found by a small sweep on a centre crop; then the whole image is denoised at 8 and 16 bits,
// qualities 1, 2 and 3, on all processors, and a centre crop of about --one-thread-mp megapixels
// on one processor (a job's cost per pixel does not depend on the image size, and this keeps the
// run bounded). The native build runs OpenCV's fastNlMeansDenoisingColored the same way (8 bits,
// template 7, search 7, 13 and 21). Printed: megapixels per second, PSNR and SSIM against the
// clean photograph, the peak memory beyond what was resident before the run, then the speed
// ratios per window, the thread scaling of whole jobs on the full photograph (qualities 1 and 3,
// with and without the 7x7 median; --quick measures 1 and all processors only, --scaling-only
// skips everything else) and the goals (measured, never asserted). The instruction-set path the
// kernels took is printed first (HPX_SIMD=sse2 forces the SSE2 one).
#include "BenchImage.h"
#include "BenchMetrics.h"
#include "BenchSystem.h"

#include "engine/DenoiseImage.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/Platform.h"
#include "engine/SimdPath.h"

#ifdef HPX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/photo.hpp>
#endif

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace
{

struct Owned
{
    ImageBuffer img;
    Owned() { InitImage(&img); }
    ~Owned() { ReleaseImage(&img); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

struct Options
{
    std::string clean8, clean16, out;
    bool quick = false;
    std::vector<int> sigmas{10, 20, 30};
    double oneThreadMp = 1.5;
    bool opencv = true;
    bool scalingOnly = false;
};

struct HpxParams
{
    double luma = 20, chroma = 20, large = 0;
};

struct Row
{
    std::string lib;
    int bits, sigma, window, threads;
    double mp, mps, psnrNoisy, psnr, ssim, memMB;
    std::string params;
};

FILE* g_out = nullptr;

void Say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* fmt, ...)
{
    va_list a;
    va_start(a, fmt);
    std::vprintf(fmt, a);
    va_end(a);
    std::fflush(stdout);
    if (g_out)
    {
        va_start(a, fmt);
        std::vfprintf(g_out, fmt, a);
        va_end(a);
        std::fflush(g_out);
    }
}

int WindowOfQuality(int q) { return q == 1 ? 7 : (q == 2 ? 13 : 21); }

// A centre crop of about `mp` megapixels with the image's aspect ratio (or the image itself).
void CentreCrop(ImageBuffer* dst, const ImageBuffer* src, double mp)
{
    const double full = double(src->m_iWidth) * src->m_iHeight / 1e6;
    const double f = mp >= full ? 1.0 : std::sqrt(mp / full);
    const int w = std::max(16, int(src->m_iWidth * f)), h = std::max(16, int(src->m_iHeight * f));
    CropImage(dst, src, (src->m_iWidth - w) / 2, (src->m_iHeight - h) / 2, w, h);
}

// The sweep image: four crops of edge x edge from the centres of the image's quadrants, side by
// side in a 2 x 2 mosaic, so that the strengths suit the whole photograph and not one spot of it.
void SweepMosaic(ImageBuffer* dst, const ImageBuffer* src, int edge)
{
    edge = std::min(edge, std::min(src->m_iWidth, src->m_iHeight) / 2);
    CreateImage(dst, 2 * edge, 2 * edge, src->m_iChannels, src->m_iBits);
    for (int qy = 0; qy < 2; ++qy)
        for (int qx = 0; qx < 2; ++qx)
        {
            const int cx = src->m_iWidth * (1 + 2 * qx) / 4, cy = src->m_iHeight * (1 + 2 * qy) / 4;
            CopyImageRect(dst, src, qx * edge, qy * edge, cx - edge / 2, cy - edge / 2, edge, edge);
        }
}

// The load of the machine (other programs compete for the processors), or -1 when unknown.
double LoadAverage()
{
#ifdef _WIN32
    return -1;
#else
    double l = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r"))
    {
        if (std::fscanf(f, "%lf", &l) != 1) l = -1;
        std::fclose(f);
    }
    return l;
#endif
}

// One Hushpix job; returns seconds, fills dst.
double RunHushpix(ImageBuffer* dst, ImageBuffer* noisy, const HpxParams& p, int quality, double* memMB, int median = 0)
{
    CopyImageLayout(dst, noisy);
    FillImageBytes(dst, 0);  // resident before the probe starts, like the source
    g_bAbort = 0;
    MemoryProbe probe;
    probe.Start();
    const double t0 = BenchSeconds();
    DenoiseImage(dst, noisy, p.luma, p.chroma, p.large, quality, 0.0, nullptr, true, false, false, median);
    const double t = BenchSeconds() - t0;
    const double mem = probe.StopPeakExtraMB();
    if (memMB) *memMB = mem;
    return t;
}

HpxParams SweepHushpix(ImageBuffer* noisy, const ImageBuffer* clean, int quality, bool quick)
{
    const std::vector<double> strengths =
        quick ? std::vector<double>{10, 20, 30, 40, 50} : std::vector<double>{8, 12, 16, 20, 25, 30, 35, 40, 45, 50};
    const std::vector<double> larges = quick ? std::vector<double>{0, 6} : std::vector<double>{0, 3, 6, 10, 16};
    Owned out;
    HpxParams best;
    double bestPsnr = -1;
    auto tryParams = [&](const HpxParams& p)
    {
        RunHushpix(&out.img, noisy, p, quality, nullptr);
        const double q = Psnr(&out.img, clean);
        if (q > bestPsnr)
        {
            bestPsnr = q;
            best = p;
        }
    };
    for (double s : strengths) tryParams(HpxParams{s, s, 0});
    const double luma = best.luma;
    for (double s : strengths) tryParams(HpxParams{luma, s, 0});
    const double chroma = best.chroma;
    for (double l : larges)
        if (l > 0) tryParams(HpxParams{luma, chroma, l});
    return best;
}

#ifdef HPX_BENCH_OPENCV
struct CvParams
{
    float h = 10, hColor = 10;
};

double RunOpenCv(ImageBuffer* dst, const ImageBuffer* noisy, const CvParams& p, int window, int threads, double* memMB)
{
    CopyImageLayout(dst, noisy);
    FillImageBytes(dst, 0);
    cv::setNumThreads(threads);
    cv::Mat src(noisy->m_iHeight, noisy->m_iWidth, CV_8UC3, noisy->m_pData);
    cv::Mat out(dst->m_iHeight, dst->m_iWidth, CV_8UC3, dst->m_pData);
    MemoryProbe probe;
    probe.Start();
    const double t0 = BenchSeconds();
    cv::fastNlMeansDenoisingColored(src, out, p.h, p.hColor, 7, window);
    const double t = BenchSeconds() - t0;
    const double mem = probe.StopPeakExtraMB();
    if (memMB) *memMB = mem;
    return t;
}

CvParams SweepOpenCv(const ImageBuffer* noisy, const ImageBuffer* clean, int window, int sigma, int threads, bool quick)
{
    const std::vector<double> hs =
        quick ? std::vector<double>{0.35, 0.5, 0.7} : std::vector<double>{0.3, 0.4, 0.5, 0.6, 0.75, 0.9, 1.1};
    const std::vector<double> hcs =
        quick ? std::vector<double>{0.5, 0.8} : std::vector<double>{0.3, 0.45, 0.6, 0.8, 1.0, 1.3};
    Owned out;
    CvParams best;
    double bestPsnr = -1;
    auto tryParams = [&](const CvParams& p)
    {
        RunOpenCv(&out.img, noisy, p, window, threads, nullptr);
        const double q = Psnr(&out.img, clean);
        if (q > bestPsnr)
        {
            bestPsnr = q;
            best = p;
        }
    };
    for (double f : hs) tryParams(CvParams{float(f * sigma), float(f * sigma)});
    const float h = best.h;
    for (double f : hcs) tryParams(CvParams{h, float(f * sigma)});
    return best;
}
#endif

void PrintRow(const Row& r)
{
    Say("%-8s %4d %5d %6d %7d %6.2f %8.3f %7.2f %7.2f %7.4f %8.1f  %s\n", r.lib.c_str(), r.bits, r.sigma, r.window,
        r.threads, r.mp, r.mps, r.psnrNoisy, r.psnr, r.ssim, r.memMB, r.params.c_str());
}

// Thread scaling of whole jobs on the full photograph (8-bit colour): qualities 1 and 3, without
// and with the 7x7 median, on 1, 2, 4 ... and all processors (quick: 1 and all).
void PrintScaling(const ImageBuffer* clean, int sigma, bool quick)
{
    const unsigned all = BenchAllProcessors();
    Owned noisy, out;
    AddGaussianNoise(&noisy.img, clean, sigma, 3000u + sigma);
    const double mp = double(clean->m_iWidth) * clean->m_iHeight / 1e6;
    std::vector<unsigned> counts{1};
    if (!quick)
        for (unsigned n = 2; n < all; n *= 2) counts.push_back(n);
    if (all > 1) counts.push_back(all);
    Say("\nthread scaling of whole jobs (8-bit colour, %.2f MP, sigma %d, strength 20 chroma 20):\n", mp, sigma);
    for (int quality : {1, 3})
        for (int median : {0, 2})
        {
            Say("scaling quality %d median %-4s", quality, median ? "7x7" : "off");
            double base = 0, last = 0;
            for (unsigned n : counts)
            {
                BenchLimitProcessors(n == all ? 0 : n);
                last = RunHushpix(&out.img, &noisy.img, HpxParams{20, 20, 0}, quality, nullptr, median);
                if (n == 1) base = last;
                Say("  %u: %.3f MP/s", n, mp / last);
            }
            BenchLimitProcessors(0);
            Say("  -> x%.2f on %u processors\n", last > 0 ? base / last : 0.0, counts.back());
        }
}

bool ParseArgs(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        auto next = [&](std::string* v)
        {
            if (i + 1 >= argc) return false;
            *v = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--clean8" && next(&v))
            o->clean8 = v;
        else if (a == "--clean16" && next(&v))
            o->clean16 = v;
        else if (a == "--out" && next(&v))
            o->out = v;
        else if (a == "--quick")
            o->quick = true;
        else if (a == "--no-opencv")
            o->opencv = false;
        else if (a == "--scaling-only")
            o->scalingOnly = true;
        else if (a == "--one-thread-mp" && next(&v))
            o->oneThreadMp = std::atof(v.c_str());
        else if (a == "--sigmas" && next(&v))
        {
            o->sigmas.clear();
            for (const char* p = v.c_str(); *p;)
            {
                o->sigmas.push_back(std::atoi(p));
                const char* c = std::strchr(p, ',');
                if (!c) break;
                p = c + 1;
            }
        }
        else
        {
            std::fprintf(stderr, "unknown or incomplete argument: %s\n", a.c_str());
            return false;
        }
    }
    if (o->clean8.empty())
    {
        std::fprintf(stderr,
                     "usage: hpx_bench --clean8 FILE.ppm [--clean16 FILE.ppm] [--quick] [--sigmas 10,20,30] "
                     "[--one-thread-mp MP] [--no-opencv] [--scaling-only] [--out FILE]\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (!ParseArgs(argc, argv, &opt)) return 2;
    if (!opt.out.empty()) g_out = std::fopen(opt.out.c_str(), "w");
    if (opt.quick)
    {
        if (opt.sigmas.size() == 3) opt.sigmas = {20};
        opt.oneThreadMp = std::min(opt.oneThreadMp, 0.5);
    }

    Owned clean8, clean16;
    if (!ReadPpm(opt.clean8, &clean8.img)) return 1;
    if (!opt.clean16.empty())
    {
        if (!ReadPpm(opt.clean16, &clean16.img) || clean16.img.m_iWidth != clean8.img.m_iWidth ||
            clean16.img.m_iHeight != clean8.img.m_iHeight)
            return 1;
    }
    else if (!WidenTo16(&clean16.img, &clean8.img))
        return 1;
    Say("kernels: %s path\n", SimdPathName(ActiveSimdPath()));
    if (opt.scalingOnly)
    {
        PrintScaling(&clean8.img, opt.sigmas[opt.sigmas.size() / 2], opt.quick);
        if (g_out) std::fclose(g_out);
        return 0;
    }
    // The scaling lines use the whole photograph, in quick mode too.
    Owned full8;
    CentreCrop(&full8.img, &clean8.img, 1e9);
    if (opt.quick)
    {
        // Quick mode: a 2-megapixel centre of the photograph.
        Owned c8, c16;
        CentreCrop(&c8.img, &clean8.img, 2.0);
        CentreCrop(&c16.img, &clean16.img, 2.0);
        std::swap(clean8.img, c8.img);
        std::swap(clean16.img, c16.img);
    }

    const unsigned all = BenchAllProcessors();
    const double fullMp = double(clean8.img.m_iWidth) * clean8.img.m_iHeight / 1e6;
#ifdef HPX_BENCH_OPENCV
    const bool withCv = opt.opencv;
#else
    const bool withCv = false;
#endif
    Say("image %dx%d (%.2f MP), processors %u, %s%s\n", clean8.img.m_iWidth, clean8.img.m_iHeight, fullMp, all,
        opt.quick ? "quick mode" : "full mode", withCv ? ", OpenCV reference" : ", no OpenCV");
    Say("one-thread rows: speed on a centre crop of %.2f MP (their PSNR/SSIM are of that crop); strengths and h\n"
        "from a sweep on a mosaic of four %d x %d crops; load average at start %.2f\n\n",
        std::min(opt.oneThreadMp, fullMp), opt.quick ? 192 : 256, opt.quick ? 192 : 256, LoadAverage());
    Say("%-8s %4s %5s %6s %7s %6s %8s %7s %7s %7s %8s  %s\n", "lib", "bits", "sigma", "window", "threads", "MP", "MP/s",
        "PSNRin", "PSNR", "SSIM", "memMB", "parameters");

    std::vector<Row> rows;
    for (int sigma : opt.sigmas)
    {
        Owned noisy8, noisy16;
        AddGaussianNoise(&noisy8.img, &clean8.img, sigma, 1000u + sigma);
        AddGaussianNoise(&noisy16.img, &clean16.img, sigma, 2000u + sigma);
        Owned sweepNoisy, sweepClean;
        SweepMosaic(&sweepNoisy.img, &noisy8.img, opt.quick ? 192 : 256);
        SweepMosaic(&sweepClean.img, &clean8.img, opt.quick ? 192 : 256);
        BenchLimitProcessors(0);

        for (int quality = 1; quality <= 3; ++quality)
        {
            const HpxParams p = SweepHushpix(&sweepNoisy.img, &sweepClean.img, quality, opt.quick);
            char params[96];
            std::snprintf(params, sizeof(params), "strength %.0f chroma %.0f large %.0f", p.luma, p.chroma, p.large);
            for (int bits : {8, 16})
                for (unsigned threads : {all, 1u})
                {
                    ImageBuffer* noisyFull = bits == 8 ? &noisy8.img : &noisy16.img;
                    ImageBuffer* cleanFull = bits == 8 ? &clean8.img : &clean16.img;
                    Owned cn, cc, out;
                    ImageBuffer* n = noisyFull;
                    ImageBuffer* c = cleanFull;
                    if (threads == 1 && opt.oneThreadMp < fullMp)
                    {
                        CentreCrop(&cn.img, noisyFull, opt.oneThreadMp);
                        CentreCrop(&cc.img, cleanFull, opt.oneThreadMp);
                        n = &cn.img;
                        c = &cc.img;
                    }
                    BenchLimitProcessors(threads == all ? 0 : threads);
                    Row r;
                    r.lib = "Hushpix";
                    r.bits = bits;
                    r.sigma = sigma;
                    r.window = WindowOfQuality(quality);
                    r.threads = int(threads);
                    r.mp = double(n->m_iWidth) * n->m_iHeight / 1e6;
                    r.psnrNoisy = Psnr(n, c);
                    const double t = RunHushpix(&out.img, n, p, quality, &r.memMB);
                    r.mps = r.mp / t;
                    r.psnr = Psnr(&out.img, c);
                    r.ssim = SsimLuma(&out.img, c);
                    r.params = params;
                    PrintRow(r);
                    rows.push_back(r);
                }
            BenchLimitProcessors(0);
        }
#ifdef HPX_BENCH_OPENCV
        if (withCv)
            for (int window : {7, 13, 21})
            {
                const CvParams p = SweepOpenCv(&sweepNoisy.img, &sweepClean.img, window, sigma, int(all), opt.quick);
                char params[96];
                std::snprintf(params, sizeof(params), "h %.1f hColor %.1f", p.h, p.hColor);
                for (unsigned threads : {all, 1u})
                {
                    Owned cn, cc, out;
                    ImageBuffer* n = &noisy8.img;
                    ImageBuffer* c = &clean8.img;
                    if (threads == 1 && opt.oneThreadMp < fullMp)
                    {
                        CentreCrop(&cn.img, &noisy8.img, opt.oneThreadMp);
                        CentreCrop(&cc.img, &clean8.img, opt.oneThreadMp);
                        n = &cn.img;
                        c = &cc.img;
                    }
                    BenchLimitProcessors(threads == all ? 0 : threads);
                    Row r;
                    r.lib = "OpenCV";
                    r.bits = 8;
                    r.sigma = sigma;
                    r.window = window;
                    r.threads = int(threads);
                    r.mp = double(n->m_iWidth) * n->m_iHeight / 1e6;
                    r.psnrNoisy = Psnr(n, c);
                    const double t = RunOpenCv(&out.img, n, p, window, int(threads), &r.memMB);
                    r.mps = r.mp / t;
                    r.psnr = Psnr(&out.img, c);
                    r.ssim = SsimLuma(&out.img, c);
                    r.params = params;
                    PrintRow(r);
                    rows.push_back(r);
                }
                BenchLimitProcessors(0);
            }
#endif
        Say("\n");
    }

    // Speed ratios at equal window and threads (8 bits), quality against OpenCV's best.
    auto find = [&](const char* lib, int bits, int sigma, int window, int threads) -> const Row*
    {
        for (const Row& r : rows)
            if (r.lib == lib && r.bits == bits && r.sigma == sigma && r.window == window && r.threads == threads)
                return &r;
        return nullptr;
    };
    if (withCv)
        for (int window : {7, 13, 21})
        {
            Say("window %2d:", window);
            for (unsigned threads : {all, 1u})
            {
                double logSum = 0;
                int n = 0;
                for (int sigma : opt.sigmas)
                {
                    const Row* h = find("Hushpix", 8, sigma, window, int(threads));
                    const Row* c = find("OpenCV", 8, sigma, window, int(threads));
                    if (h && c)
                    {
                        logSum += std::log(h->mps / c->mps);
                        ++n;
                    }
                }
                if (n)
                    Say("  speed Hushpix/OpenCV x%.2f on %u thread%s;", std::exp(logSum / n), threads,
                        threads == 1 ? "" : "s");
            }
            Say("  PSNR Hushpix - OpenCV best:");
            for (int sigma : opt.sigmas)
            {
                const Row* h = find("Hushpix", 8, sigma, window, int(all));
                double bestCv = -1;
                for (int w : {7, 13, 21})
                    if (const Row* c = find("OpenCV", 8, sigma, w, int(all))) bestCv = std::max(bestCv, c->psnr);
                if (h && bestCv > 0) Say(" sigma %d %+.2f dB;", sigma, h->psnr - bestCv);
            }
            Say("\n");
        }

    PrintScaling(&full8.img, opt.sigmas[opt.sigmas.size() / 2], opt.quick);

    // Memory of a job beyond its source and destination.
    double worstMem = 0;
    for (const Row& r : rows)
        if (r.lib == "Hushpix") worstMem = std::max(worstMem, r.memMB);
    Say("largest memory held by a Hushpix job beyond source and destination: %.1f MB (goal: below 300 MB)\n", worstMem);
    Say("load average at the end %.2f\n", LoadAverage());
    if (g_out) std::fclose(g_out);
    return 0;
}
