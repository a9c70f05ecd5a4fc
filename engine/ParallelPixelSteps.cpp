#include "engine/ParallelPixelSteps.h"

#include "engine/ImageConvert.h"
#include "engine/WorkerPool.h"

#include <atomic>
#include <cstddef>

namespace
{

// Rows y0 .. y1 - 1 of an image as an image of their own: the record points into the image's
// block and owns nothing, so it is never released.
ImageBuffer RowView(const ImageBuffer* image, int y0, int y1)
{
    ImageBuffer view = *image;
    view.m_pData = static_cast<uint8_t*>(image->m_pData) + static_cast<ptrdiff_t>(y0) * image->m_iStride;
    view.m_iHeight = y1 - y0;
    view.m_iSize = image->m_iStride * (y1 - y0);
    return view;
}

struct RowStep
{
    PixelStepKind kind;
    ImageBuffer* dst;
    const ImageBuffer* src;
    int channel;
    std::atomic<unsigned char> result;
};

void RunRowStep(void* context, int y0, int y1)
{
    RowStep* step = static_cast<RowStep*>(context);
    ImageBuffer d = RowView(step->dst, y0, y1);
    const ImageBuffer s = RowView(step->src, y0, y1);
    unsigned char r = kImageBadArgs;
    switch (step->kind)
    {
    case kStepToYCbCr:
        r = RgbToYCbCr(&d, &s);
        break;
    case kStepToRgb:
        r = YCbCrToRgb(&d, &s);
        break;
    case kStepExtract:
        r = ExtractChannel(&d, step->channel, &s);
        break;
    case kStepInsert:
        r = InsertChannel(&d, step->channel, &s);
        break;
    }
    if (r != kImageOk) step->result.store(r);
}

constexpr int kRowStepGrain = 16;

}  // namespace

unsigned char ParallelPixelStep(WorkerPool* pool, int threads, PixelStepKind kind, ImageBuffer* dst,
                                const ImageBuffer* src, int channel)
{
    // Shapes are checked by the step itself on the whole images first, so a mismatch is reported
    // exactly as before; the slices only ever see matching rows.
    if (dst == nullptr || src == nullptr || dst->m_pData == nullptr || src->m_pData == nullptr ||
        dst->m_iHeight != src->m_iHeight || pool == nullptr || threads <= 1)
    {
        switch (kind)
        {
        case kStepToYCbCr:
            return RgbToYCbCr(dst, src);
        case kStepToRgb:
            return YCbCrToRgb(dst, src);
        case kStepExtract:
            return ExtractChannel(dst, channel, src);
        case kStepInsert:
            return InsertChannel(dst, channel, src);
        }
        return kImageBadArgs;
    }
    RowStep step{kind, dst, src, channel, {kImageOk}};
    ParallelRows(pool, dst->m_iHeight, threads, kRowStepGrain, &RunRowStep, &step);
    return step.result.load();
}
