// View benchmark: one redraw of a 1600 x 1000 view from a 24-megapixel display copy (nearest
// neighbour, as the window draws while it pans) and the arrival of a 24-megapixel 8-bit RGB host
// image (document source and result copies, the two display copies). Figures are printed, never
// judged. Natively the engine's steps of the redraw are timed; the 32-bit Windows build times the
// window's own CPreviewView::Draw into a real back buffer (run it under Wine).
//   hpx_view_bench [--frames N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BenchSystem.h"
#include "engine/ImageBuffer.h"
#include "engine/ImageConvert.h"
#include "engine/SimilarityTransform.h"

#ifdef _WIN32
#include <windows.h>

#include "app/view/BackBuffer.h"
#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"
#endif

namespace
{

constexpr int kImageW = 6000, kImageH = 4000;  // 24 megapixels
constexpr int kViewW = 1600, kViewH = 1000;

void Fill(ImageBuffer* image)
{
    unsigned char* p = static_cast<unsigned char*>(image->m_pData);
    uint32_t s = 12345;
    for (int32_t i = 0; i < image->m_iSize; ++i)
    {
        s = s * 1664525u + 1013904223u;
        p[i] = static_cast<unsigned char>(s >> 24);
    }
}

// The arrival's copies: source and result of the document, then the display copies.
double Arrival(const ImageBuffer& host, ImageBuffer* source, ImageBuffer* result, ImageBuffer* shownOriginal,
               ImageBuffer* shownDenoised)
{
    const double t0 = BenchSeconds();
    CopyImageLayout(source, &host);
    CopyImagePixels(source, &host);
    CopyImageLayout(result, &host);
    CopyImagePixels(result, &host);
    for (ImageBuffer* copy : {shownDenoised, shownOriginal})
    {
        CopyImageLayout(copy, result);
        CopyImagePixels(copy, result);
        ConvertImage(copy, 8, 3);
    }
    return BenchSeconds() - t0;
}

void Report(const char* what, std::vector<double> ms)
{
    double sum = 0, best = 1e30, worst = 0;
    for (double v : ms)
    {
        sum += v;
        if (v < best) best = v;
        if (v > worst) worst = v;
    }
    std::printf("%-44s mean %8.2f ms  best %8.2f ms  worst %8.2f ms  (%zu runs)\n", what, sum / ms.size(), best, worst,
                ms.size());
}

}  // namespace

int main(int argc, char** argv)
{
    int frames = 40;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--frames")) frames = std::atoi(argv[++i]);
    if (frames < 1) frames = 1;

    ImageBuffer host{}, source{}, result{}, original{}, denoised{};
    if (CreateImage(&host, kImageW, kImageH, 3, 8) != kImageOk)
    {
        std::printf("cannot allocate the %d x %d host image\n", kImageW, kImageH);
        return 1;
    }
    Fill(&host);
    std::printf("view benchmark: %d x %d 8-bit RGB image, %d x %d view, nearest neighbour\n", kImageW, kImageH, kViewW,
                kViewH);

    std::vector<double> arrival;
    for (int i = 0; i < 5; ++i) arrival.push_back(Arrival(host, &source, &result, &original, &denoised) * 1000.0);
    Report("image arrival (copies and display copies)", arrival);

    // Redraws as a drag produces them: the anchor moves a few pixels per frame, zoom 50 %.
    std::vector<double> draw;
#ifdef _WIN32
    HWND wnd =
        CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP, 0, 0, kViewW, kViewH, nullptr, nullptr, nullptr, nullptr);
    CBackBuffer& bb = g_BackBuffer;
    if (!wnd || !bb.Create(wnd))
    {
        std::printf("no window or surface for the view\n");
        return 1;
    }
    RECT c;
    GetClientRect(wnd, &c);
    g_bUiNotReady = 0;
    g_PreviewView.Init(wnd, &bb.m_Surface);
    g_PreviewView.SetQuality(0);
    g_PreviewView.RefreshCopy(kViewDenoised, &result);
    for (int f = 0; f < frames; ++f)
    {
        const double t0 = BenchSeconds();
        g_PreviewView.Draw(800, 500, 3000 + f * 7, 2000 + f * 3, 0.5, true, &result, kViewDenoised, true, nullptr);
        draw.push_back((BenchSeconds() - t0) * 1000.0);
    }
    char what[96];
    std::snprintf(what, sizeof what, "CPreviewView::Draw, client %ld x %ld", c.right, c.bottom);
    Report(what, draw);
    g_PreviewView.ReleaseCopies();
    bb.Destroy();
    DestroyWindow(wnd);
#else
    ImageBuffer target{};
    CreateImage(&target, kViewW, kViewH, 3, 8);
    for (int f = 0; f < frames; ++f)
    {
        const double t0 = BenchSeconds();
        FillImageRect(&target, 0, 0, kViewW, kViewH, 48);
        SimilarityTransform xf;
        xf.Assign(800, 500, 3000 + f * 7, 2000 + f * 3, 0.0, 0.5);
        ResampleNearest(&target, &denoised, &xf);
        draw.push_back((BenchSeconds() - t0) * 1000.0);
    }
    Report("redraw (background fill + nearest resample)", draw);
    ReleaseImage(&target);
#endif
    std::printf("goals: redraw under 5 ms natively, arrival under 1 s\n");
    for (ImageBuffer* b : {&host, &source, &result, &original, &denoised}) ReleaseImage(b);
    return 0;
}
