#include "engine/DetailGainsInStrips.h"

#include "engine/ImageConvert.h"
#include "engine/ImagePyramid.h"
#include "engine/Platform.h"
#include "engine/WorkerPool.h"

#include <memory>

namespace
{

int RoundUp8(int v) { return (v + 7) & ~7; }

// Gains of rows [top, bottom) of the image written into `out` (created here with that many rows,
// the image's channels and depth), computed from rows [top - margin, bottom + margin) clipped to
// the image. Returns kImageOk or kImageNoMemory (out then empty).
unsigned char GainStrip(ImageBuffer* out, const ImageBuffer* image, int top, int bottom, double g1, double g2,
                        double g3, int maxLevels, int levelCap, WorkerPool* pool)
{
    const int readTop = top - kDetailStripMargin > 0 ? top - kDetailStripMargin : 0;
    const int readBottom =
        bottom + kDetailStripMargin < image->m_iHeight ? bottom + kDetailStripMargin : image->m_iHeight;
    ImageBuffer strip;
    InitImage(&strip);
    ImagePyramid pyramid{};
    unsigned char rc = CreateImage(&strip, image->m_iWidth, readBottom - readTop, image->m_iChannels, image->m_iBits);
    if (rc == kImageOk)
    {
        CopyImageRect(&strip, image, 0, 0, 0, readTop, image->m_iWidth, readBottom - readTop);
        rc = ConvertImage(&strip, image->m_iBits, 3);
    }
    if (rc == kImageOk && BuildImagePyramid(&pyramid, &strip, maxLevels, levelCap, pool)) rc = kImageNoMemory;
    // The collapse writes every sample of the strip; its own pixels are not read again.
    if (rc == kImageOk) rc = ApplyDetailGains(&strip, &pyramid, g1, g2, g3, pool);
    ReleaseImagePyramid(&pyramid);
    if (rc == kImageOk) rc = ConvertImage(&strip, image->m_iBits, image->m_iChannels);
    if (rc == kImageOk) rc = CreateImage(out, image->m_iWidth, bottom - top, image->m_iChannels, image->m_iBits);
    if (rc == kImageOk)
        CopyImageRect(out, &strip, 0, 0, 0, top - readTop, image->m_iWidth, bottom - top);
    else
        ReleaseImage(out);
    ReleaseImage(&strip);
    return rc == kImageOk ? kImageOk : kImageNoMemory;
}

}  // namespace

unsigned char ApplyDetailGainsInStrips(ImageBuffer* image, double gain1, double gain2, double gain3, int maxLevels,
                                       int levelCap, int stripRows, int* rowsLeft)
{
    if (rowsLeft) *rowsLeft = 0;
    if (!image || !image->m_pData || image->m_iWidth <= 0 || image->m_iHeight <= 0 ||
        (image->m_iChannels != 1 && image->m_iChannels != 3) || (image->m_iBits != 8 && image->m_iBits != 16))
        return kImageBadArgs;
    if (DetailGainsAreNeutral(gain1, gain2, gain3)) return kImageOk;

    int rows = stripRows > 0 ? RoundUp8(stripRows) : RoundUp8(4000000 / image->m_iWidth + 1);
    if (rows < 64) rows = 64;
    // A strip must never be lower than the pyramid's levels need, or its level count would differ
    // from the whole image's; 64 rows (plus margins) always give the full three halvings.
    const int height = image->m_iHeight;

    // One set of threads for every strip: the strips run one after the other (each strip's planes
    // are large, a 32-bit process has room for one at a time), the rows of their steps in parallel.
    // Without the threads the strips run on this thread alone, with the same result.
    const std::unique_ptr<WorkerPool> pool = MakeWorkerPool(CountProcessors() != 0 ? g_byCpuCount : 1);

    // The finished centre of a strip is written back only after the next strip has read its
    // upper margin from the untouched rows.
    ImageBuffer pending;
    InitImage(&pending);
    int pendingTop = 0;
    int top = 0;
    while (top < height)
    {
        const int bottom = top + rows < height ? top + rows : height;
        ImageBuffer done;
        InitImage(&done);
        if (GainStrip(&done, image, top, bottom, gain1, gain2, gain3, maxLevels, levelCap, pool.get()) != kImageOk)
        {
            if (rows > 64)
            {
                rows = RoundUp8(rows / 2);
                continue;
            }
            if (pending.m_pData)
            {
                CopyImageRect(image, &pending, 0, pendingTop, 0, 0, pending.m_iWidth, pending.m_iHeight);
                ReleaseImage(&pending);
            }
            if (rowsLeft) *rowsLeft = height - top;
            return kImageNoMemory;
        }
        if (pending.m_pData) CopyImageRect(image, &pending, 0, pendingTop, 0, 0, pending.m_iWidth, pending.m_iHeight);
        ReleaseImage(&pending);
        pending = done;
        pendingTop = top;
        top = bottom;
    }
    if (pending.m_pData) CopyImageRect(image, &pending, 0, pendingTop, 0, 0, pending.m_iWidth, pending.m_iHeight);
    ReleaseImage(&pending);
    return kImageOk;
}
