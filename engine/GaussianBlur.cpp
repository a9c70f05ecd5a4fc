#include "engine/GaussianBlur.h"

#include "engine/ImageConvert.h"
#include "engine/TileAlloc.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr int kBlurTaps = 11;
constexpr int kBlurRadius = kBlurTaps / 2;

// One pass of the separable blur: every input row is filtered and written as a column of the
// output, so the second pass again reads rows. in is width x height, out is height x width.
void BlurRowsTransposed(float* out, const float* in, int width, int height, const float* taps)
{
    for (int y = 0; y < height; ++y)
    {
        const float* row = in + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x)
        {
            const int m0 = x - kBlurRadius > 0 ? x - kBlurRadius : 0;
            const int m1 = x + kBlurRadius < width - 1 ? x + kBlurRadius : width - 1;
            float sum = 0.0f;
            float total = 0.0f;
            for (int m = m0; m <= m1; ++m)
            {
                const float t = taps[m - x + kBlurRadius];
                sum += t * row[m];
                total += t;
            }
            out[static_cast<size_t>(x) * height + y] = total > 0.0f ? sum / total : row[x];
        }
    }
}

} // namespace

void MakeGaussianKernel(float* taps, int count, float sigma)
{
    if (taps == nullptr || count <= 0)
        return;
    const int half = count / 2;
    const double twoSigma2 = 2.0 * static_cast<double>(sigma) * static_cast<double>(sigma);
    float sum = 0.0f;
    for (int i = 0; i < count; ++i)
    {
        const int j = i - half;
        const double e = twoSigma2 > 0.0 ? (static_cast<double>(j) * j) / twoSigma2 : (j == 0 ? 0.0 : 1e30);
        taps[i] = e <= 20.0 ? static_cast<float>(std::exp(-e)) : 0.0f;
        sum += taps[i];
    }
    if (sum > 0.0f)
        for (int i = 0; i < count; ++i)
            taps[i] /= sum;
}

unsigned char GaussianBlurPlane(ImageBuffer* plane, float sigma)
{
    if (plane == nullptr || plane->m_pData == nullptr || plane->m_iChannels != 1 ||
        (plane->m_iBits != 8 && plane->m_iBits != 16 && plane->m_iBits != 32))
        return kImageBadArgs;
    const int width = plane->m_iWidth;
    const int height = plane->m_iHeight;
    if (width <= 0 || height <= 0)
        return kImageOk;

    // Work on a float copy so the plane itself is only written once everything succeeded.
    ImageBuffer copy;
    InitImage(&copy);
    if (TileCopyImageLayout(&copy, plane) != kImageOk)
        return kImageNoMemory;
    CopyImagePixels(&copy, plane);
    if (ConvertImage(&copy, 32, 1) != kImageOk || copy.m_pData == nullptr)
    {
        ReleaseImage(&copy);
        return kImageNoMemory;
    }
    float* temp = TileAllocFloats(static_cast<size_t>(width) * height);
    if (temp == nullptr)
    {
        ReleaseImage(&copy);
        return kImageNoMemory;
    }

    float taps[kBlurTaps];
    MakeGaussianKernel(taps, kBlurTaps, sigma);
    float* data = static_cast<float*>(copy.m_pData);
    BlurRowsTransposed(temp, data, width, height, taps);   // rows, now H x W
    BlurRowsTransposed(data, temp, height, width, taps);   // columns, back to W x H
    std::free(temp);

    unsigned char result = ConvertImage(&copy, plane->m_iBits, 1);
    if (result == kImageOk && copy.m_pData != nullptr)
        CopyImagePixels(plane, &copy);
    else
        result = kImageNoMemory;
    ReleaseImage(&copy);
    return result;
}

unsigned char GaussianBlurYCbCr(ImageBuffer* image, double sigmaLuma, double sigmaChroma)
{
    if (image == nullptr || image->m_pData == nullptr || image->m_iChannels != 3)
        return kImageBadArgs;
    if (!(sigmaLuma > 0.0) && !(sigmaChroma > 0.0))
        return kImageOk;

    ImageBuffer plane;
    InitImage(&plane);
    if (TileCreateImage(&plane, image->m_iWidth, image->m_iHeight, 1, image->m_iBits) != kImageOk)
        return kImageNoMemory;
    unsigned char result = kImageOk;
    for (int c = 0; c < 3 && result == kImageOk; ++c)
    {
        const double sigma = c == 0 ? sigmaLuma : sigmaChroma;
        if (!(sigma > 0.0))
            continue;
        result = ExtractChannel(&plane, c, image);
        if (result == kImageOk)
            result = GaussianBlurPlane(&plane, static_cast<float>(sigma));
        if (result == kImageOk)
            result = InsertChannel(image, c, &plane);
    }
    ReleaseImage(&plane);
    return result;
}
