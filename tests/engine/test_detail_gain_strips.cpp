// Detail gains applied strip by strip equal the gains of one whole-image pyramid.
#include "engine/DetailGainsInStrips.h"
#include "engine/ImageConvert.h"
#include "engine/ImagePyramid.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace
{

void Noise(ImageBuffer* img, int w, int h, int channels, int bits, unsigned seed)
{
    InitImage(img);
    ASSERT_EQ(CreateImage(img, w, h, channels, bits), kImageOk);
    std::srand(seed);
    const int samples = w * h * channels;
    for (int i = 0; i < samples; ++i)
    {
        const int v = (i / channels % w) * 255 / w + std::rand() % 60;  // a ramp with noise
        if (bits == 8)
            static_cast<uint8_t*>(img->m_pData)[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
        else
            static_cast<uint16_t*>(img->m_pData)[i] = static_cast<uint16_t>((v > 255 ? 255 : v) * 257);
    }
}

// What the panel did on the whole image: a 3-channel copy, its pyramid, gains, back.
void WholeImageGains(ImageBuffer* img, double g1, double g2, double g3)
{
    const int channels = img->m_iChannels;
    ASSERT_EQ(ConvertImage(img, img->m_iBits, 3), kImageOk);
    ImagePyramid p{};
    ASSERT_FALSE(BuildImagePyramid(&p, img, 3, 8));
    ASSERT_EQ(ApplyDetailGains(img, &p, g1, g2, g3), kImageOk);
    ReleaseImagePyramid(&p);
    ASSERT_EQ(ConvertImage(img, img->m_iBits, channels), kImageOk);
}

}  // namespace

TEST(DetailGainStrips, StripsOfAnyHeightEqualTheWholeImage)
{
    struct Case
    {
        int w, h, channels, bits, strip;
    };
    // The last two are large enough for the strips' steps to share their rows among threads, and
    // still equal the whole image's gains made on one thread.
    const Case cases[] = {{97, 701, 3, 16, 64}, {131, 530, 1, 8, 72}, {64, 300, 3, 8, 200},
                          {50, 40, 3, 8, 64},   {700, 900, 3, 8, 0},  {601, 1500, 1, 16, 512}};
    for (const Case& c : cases)
    {
        ImageBuffer whole, strips;
        Noise(&whole, c.w, c.h, c.channels, c.bits, 7);
        Noise(&strips, c.w, c.h, c.channels, c.bits, 7);
        WholeImageGains(&whole, 1.6, 0.4, 2.5);
        int left = -1;
        EXPECT_EQ(ApplyDetailGainsInStrips(&strips, 1.6, 0.4, 2.5, 3, 8, c.strip, &left), kImageOk);
        EXPECT_EQ(left, 0);
        ASSERT_EQ(whole.m_iSize, strips.m_iSize);
        EXPECT_EQ(std::memcmp(whole.m_pData, strips.m_pData, whole.m_iSize), 0)
            << c.w << "x" << c.h << "x" << c.channels << " strip " << c.strip;
        ReleaseImage(&whole);
        ReleaseImage(&strips);
    }
}

TEST(DetailGainStrips, UnitGainsAndUnusableImagesChangeNothing)
{
    ImageBuffer img;
    Noise(&img, 80, 90, 3, 8, 3);
    ImageBuffer before;
    InitImage(&before);
    ASSERT_EQ(CopyImageLayout(&before, &img), kImageOk);
    CopyImagePixels(&before, &img);
    EXPECT_EQ(ApplyDetailGainsInStrips(&img, 1.0, 1.0, 1.0, 3, 8), kImageOk);
    EXPECT_EQ(std::memcmp(before.m_pData, img.m_pData, img.m_iSize), 0);
    ImageBuffer empty;
    InitImage(&empty);
    EXPECT_EQ(ApplyDetailGainsInStrips(&empty, 2, 2, 2, 3, 8), kImageBadArgs);
    ReleaseImage(&img);
    ReleaseImage(&before);
}
