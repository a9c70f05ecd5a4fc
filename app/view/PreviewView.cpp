// Drawing the document into the back buffer's surface.
#include "app/view/PreviewView.h"

#include <new>

#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "engine/ImageConvert.h"

CPreviewView g_PreviewView;

namespace
{

constexpr unsigned char kBackground = CBackBuffer::kBackground;

// A copy of an image converted to 8 bits and the given channel count; on failure the copy is
// left empty (never half made).
unsigned char MakeDisplayCopy(ImageBuffer* copy, const ImageBuffer* image, int32_t channels)
{
    if (!image || !image->m_pData)
    {
        ReleaseImage(copy);
        return kImageBadArgs;
    }
    unsigned char rc = CopyImageLayout(copy, image);
    if (rc == kImageOk)
    {
        CopyImagePixels(copy, image);
        rc = ConvertImage(copy, 8, channels);
    }
    if (rc != kImageOk) ReleaseImage(copy);
    return rc;
}

void FillTarget(ImageBuffer* target) { FillImageRect(target, 0, 0, target->m_iWidth, target->m_iHeight, kBackground); }

}  // namespace

void CPreviewView::Init(HWND hWnd, ImageBuffer* pSurface)
{
    m_hWnd = hWnd;
    m_pSurface = pSurface;
    // The view lives across runs: copies left by an earlier window are freed here.
    ReleaseCopies();
}

void CPreviewView::ReleaseCopies()
{
    ReleaseImage(&m_Original);
    ReleaseImage(&m_Denoised);
    ReleaseImage(&m_Mask);
}

unsigned char CPreviewView::RefreshCopy(int which, const ImageBuffer* image)
{
    ImageBuffer* copy = which == kViewOriginal ? &m_Original : &m_Denoised;
    return MakeDisplayCopy(copy, image, 3);
}

bool CPreviewView::DrawTarget(ImageBuffer* target) const
{
    InitImage(target);
    if (!m_pSurface || !m_pSurface->m_pData) return false;
    RECT rc = {0, 0, 0, 0};
    if (m_hWnd) GetClientRect(m_hWnd, &rc);
    // Never beyond the surface, whatever the size of the client area.
    int32_t w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w > m_pSurface->m_iWidth) w = m_pSurface->m_iWidth;
    if (h > m_pSurface->m_iHeight) h = m_pSurface->m_iHeight;
    if (w <= 0 || h <= 0) return false;
    *target = *m_pSurface;
    target->m_iWidth = w;
    target->m_iHeight = h;
    return true;
}

bool CPreviewView::Draw(double viewX, double viewY, double imageX, double imageY, double zoom, bool useCachedCopy,
                        const ImageBuffer* image, int which, bool drawImage, const ImageBuffer* mask)
{
    m_bCopyFailed = false;
    if (g_bBatchRunning || g_bUiNotReady) return false;
    ImageBuffer target;
    if (!DrawTarget(&target)) return false;
    if (!(zoom > 0.0)) return false;  // no transform to draw through

    SimilarityTransform xf;
    xf.Assign(viewX, viewY, imageX, imageY, 0.0, zoom);

    bool backgroundOnly = false;
    const ImageBuffer* copy = nullptr;
    if (which != kViewOriginal && which != kViewDenoised)
    {
        FillTarget(&target);
        backgroundOnly = true;
    }
    else
    {
        ImageBuffer* own = which == kViewOriginal ? &m_Original : &m_Denoised;
        const bool imageHasPixels = image && image->m_pData;
        if (!own->m_pData && !imageHasPixels)
        {
            FillTarget(&target);
            return true;
        }
        if (useCachedCopy)
        {
            if (!own->m_pData)
            {
                FillTarget(&target);
                return true;
            }
        }
        else
        {
            if (!imageHasPixels)
            {
                FillTarget(&target);
                return true;
            }
            if (RefreshCopy(which, image) != kImageOk)
            {
                m_bCopyFailed = true;
                FillTarget(&target);
                return true;
            }
        }
        copy = own;
    }

    if (copy && drawImage)
    {
        FillTarget(&target);
        Resample(&target, copy, xf);
    }

    // Transparency over a checkerboard.
    if (drawImage && mask && mask->m_pData)
    {
        bool haveMask = m_Mask.m_pData != nullptr;
        if (!useCachedCopy)
        {
            haveMask = MakeDisplayCopy(&m_Mask, mask, 1) == kImageOk;
            if (!haveMask) m_bCopyFailed = true;
        }
        ImageBuffer m;
        InitImage(&m);
        if (haveMask && CreateImage(&m, target.m_iWidth, target.m_iHeight, 1, 8) == kImageOk)
        {
            FillImageBytes(&m, 255);
            Resample(&m, &m_Mask, xf);
            BlendCheckerboard(&target, &m, 190, 220);
        }
        ReleaseImage(&m);
    }
    if (backgroundOnly) return true;

    if (!m_pPreviewRect) return false;
    InvertOutline(&target, xf, m_pPreviewRect);
    return false;
}

void CPreviewView::Resample(ImageBuffer* target, const ImageBuffer* source, const SimilarityTransform& xf) const
{
    switch (m_iQuality)
    {
    case 1:
        ResampleBilinear(target, source, &xf);
        break;
    case 2:
        ResampleBicubic(target, source, &xf);
        break;
    default:
        ResampleNearest(target, source, &xf);
        break;
    }
}

void BlendCheckerboard(ImageBuffer* target, const ImageBuffer* mask, int colourA, int colourB)
{
    if (!target || !mask || !target->m_pData || !mask->m_pData) return;
    if (target->m_iBits != 8 || target->m_iChannels != 3 || mask->m_iBits != 8 || mask->m_iChannels != 1) return;
    // Only the pixels both images have.
    const int32_t w = target->m_iWidth < mask->m_iWidth ? target->m_iWidth : mask->m_iWidth;
    const int32_t h = target->m_iHeight < mask->m_iHeight ? target->m_iHeight : mask->m_iHeight;
    for (int32_t i = 0; i < h; ++i)
    {
        uint8_t* t = static_cast<uint8_t*>(target->m_pData) + ptrdiff_t(i) * target->m_iStride;
        const uint8_t* m = static_cast<const uint8_t*>(mask->m_pData) + ptrdiff_t(i) * mask->m_iStride;
        for (int32_t j = 0; j < w; ++j, t += 3)
        {
            const int a = m[j];
            if (a == 255) continue;
            const int c = ((i / 15) & 1) != ((j / 15) & 1) ? colourB : colourA;
            for (int s = 0; s < 3; ++s) t[s] = uint8_t((t[s] * a + (255 - a) * c) / 255);
        }
    }
}

void InvertOutline(ImageBuffer* target, const SimilarityTransform& xf, const int32_t rect[4])
{
    if (!target || !target->m_pData || target->m_iBits != 8 || target->m_iChannels != 3) return;
    int32_t l = 0, t = 0, r = 0, b = 0;
    xf.MapInverse(&l, &t, rect[0], rect[1]);
    xf.MapInverse(&r, &b, rect[2], rect[3]);
    const int32_t w = target->m_iWidth, h = target->m_iHeight;
    auto invert = [&](int32_t x, int32_t y)
    {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        uint8_t* p = static_cast<uint8_t*>(target->m_pData) + ptrdiff_t(y) * target->m_iStride + ptrdiff_t(x) * 3;
        p[0] = uint8_t(~p[0]);
        p[1] = uint8_t(~p[1]);
        p[2] = uint8_t(~p[2]);
    };
    // Loops run in 64 bits and are clipped to the target first: a rectangle mapped far outside
    // (a deep zoom) costs nothing.
    auto hline = [&](int64_t y)
    {
        if (y < 0 || y >= h) return;
        int64_t x0 = int64_t(l) + 2, x1 = int64_t(r) - 2;
        if (x0 < 0) x0 = 0;
        if (x1 > w - 1) x1 = w - 1;
        for (int64_t x = x0; x <= x1; ++x) invert(int32_t(x), int32_t(y));
    };
    auto vline = [&](int64_t x)
    {
        if (x < 0 || x >= w) return;
        int64_t y0 = t, y1 = b;
        if (y0 < 0) y0 = 0;
        if (y1 > h - 1) y1 = h - 1;
        for (int64_t y = y0; y <= y1; ++y) invert(int32_t(x), int32_t(y));
    };
    hline(t);
    hline(b);
    hline(int64_t(t) + 1);
    hline(int64_t(b) - 1);
    vline(l);
    vline(r);
    vline(int64_t(l) + 1);
    vline(int64_t(r) - 1);
}
