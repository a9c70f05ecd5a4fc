// CGPGPU in this process: context and capability check, programs, and the passes against a
// double-precision model of the same filter.
#include "GpuTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace
{

// Padded test planes: values on the 0..256 scale for the model, raw samples for the upload.
struct Padded
{
    int width, height, pad, channels, bits;
    std::vector<uint16_t> raw;  // 8-bit samples are kept in 16-bit slots here
    std::vector<double> scaled;

    Padded(int w, int h, int c, int ch, int b) : width(w), height(h), pad(c + 3), channels(ch), bits(b)
    {
        size_t n = static_cast<size_t>(w + 2 * pad) * (h + 2 * pad) * ch;
        raw.resize(n);
        scaled.resize(n);
    }
    void Set(size_t i, uint32_t sample)
    {
        raw[i] = static_cast<uint16_t>(sample);
        scaled[i] = bits == 8 ? sample : sample / 256.0;
    }
    std::vector<uint8_t> Bytes() const
    {
        if (bits == 16)
        {
            std::vector<uint8_t> b(raw.size() * 2);
            std::memcpy(b.data(), raw.data(), b.size());
            return b;
        }
        return std::vector<uint8_t>(raw.begin(), raw.end());
    }
};

Padded RandomPadded(int w, int h, int c, int ch, int bits, uint32_t seed, int spread)
{
    Padded p(w, h, c, ch, bits);
    TestRandom r(seed);
    const int maxv = bits == 8 ? 255 : 65535;
    const int base = maxv / 2;
    for (size_t i = 0; i < p.raw.size(); ++i)
    {
        int v = base + static_cast<int>(r.Next() % (2 * spread + 1)) - spread;
        // A smooth ramp under the noise, so that the patches differ.
        v += static_cast<int>((i / ch) % (w + 2 * p.pad)) * (maxv / 600);
        p.Set(i, static_cast<uint32_t>(std::clamp(v, 0, maxv)));
    }
    return p;
}

// Runs the offsets on the GPU and reads back.
std::vector<uint16_t> RunGpu(CGPGPU* gpu, const Padded& noisy, const Padded& guide, bool color,
                             const std::vector<std::pair<int, int>>& offsets, float varY, float varUV, float dynamics)
{
    const int c = noisy.pad - 3;
    auto n = noisy.Bytes(), g = guide.Bytes();
    bool ok = color ? gpu->UploadColor(noisy.height, noisy.width, n.data(), g.data(), c, noisy.bits)
                    : gpu->UploadMono(noisy.width, noisy.bits, n.data(), g.data(), noisy.height, noisy.channels, c);
    EXPECT_TRUE(ok);
    for (auto [dy, dx] : offsets)
    {
        if (color)
            gpu->AccumulateOffsetColor(dy, dx, std::max(dy, 0), std::max(dx, 0), std::max(-dy, 0), std::max(-dx, 0), c,
                                       varY, varUV, dynamics);
        else
            gpu->AccumulateOffsetMono(dy, dx, std::max(dy, 0), std::max(dx, 0), std::max(-dy, 0), std::max(-dx, 0), c,
                                      varY, dynamics);
    }
    const int per = (color || noisy.channels == 3) ? 3 : 1;
    const size_t samples = static_cast<size_t>(noisy.width) * noisy.height * per;
    std::vector<uint16_t> out(samples);
    std::vector<uint8_t> bytes(samples * (noisy.bits == 8 ? 1 : 2));
    EXPECT_TRUE(gpu->ReadBackResult(bytes.data()));
    for (size_t i = 0; i < samples; ++i)
        out[i] = noisy.bits == 8 ? bytes[i] : static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

// Compares a GPU read-back with the model rounded like the read-back; floats may land on the
// other side of a .5 boundary, so one level of difference is allowed, at a few samples.
void ExpectMatchesModel(const std::vector<uint16_t>& gpu, const std::vector<double>& model, int per, int bits)
{
    const double scale = bits == 8 ? 1.0 : 256.0, maxv = bits == 8 ? 255.0 : 65535.0;
    size_t off = 0;
    int worst = 0;
    for (size_t i = 0; i < gpu.size(); ++i)
    {
        const size_t pixel = i / per;
        const int k = static_cast<int>(i % per);
        const double expect = std::min(std::floor(model[pixel * 3 + k] * scale + 0.5), maxv);
        const int d = std::abs(static_cast<int>(gpu[i]) - static_cast<int>(expect));
        worst = std::max(worst, d);
        if (d > 0) ++off;
    }
    // 16-bit samples carry 8 more bits than a float's mantissa keeps in the sums.
    EXPECT_LE(worst, bits == 8 ? 1 : 8);
    EXPECT_LE(off, gpu.size() / 50 + 1);
}

}  // namespace

TEST(GpgpuSetup, LlvmpipeContextIsReadyWithTileEdge1000AndEveryProgramBuilt)
{
    CGPGPU* gpu = TestGpu();
    ASSERT_TRUE(gpu->IsReady());
    EXPECT_EQ(gpu->GetMaxTileSize(), 1000);
    EXPECT_NE(gpu->m_uFbo, 0u);
    for (int t = 0; t < GT_COUNT; ++t) EXPECT_NE(gpu->m_uTextures[t], 0u) << t;
    for (int p = 0; p < GP_PROGRAM_COUNT; ++p)
    {
        EXPECT_NE(gpu->m_hPrograms[p], 0u) << p;
        EXPECT_NE(gpu->m_hShaders[p], 0u) << p;
    }
    EXPECT_EQ(gpu->m_hPrograms[16], 0u);
    // The samplers and parameters each pass sets are found in its program.
    EXPECT_GE(gpu->m_iUniform[GP_ACCUMULATE_PAIR][GU_TEXTURE0X], 0);
    EXPECT_GE(gpu->m_iUniform[GP_ACCUMULATE_PAIR][GU_TEXDBL2X], 0);
    EXPECT_GE(gpu->m_iUniform[GP_BOX3X3_COLOR][GU_DELTAY], 0);
    EXPECT_GE(gpu->m_iUniform[GP_WEIGHT_COLOR_DARK][GU_VARIANCEUV], 0);
    EXPECT_GE(gpu->m_iUniform[GP_WEIGHT_MONO_LIGHT][GU_SUPERDYNAMICITY], 0);
    EXPECT_EQ(gpu->m_iUniform[GP_ADD][GU_VARIANCE], -1);
}

TEST(GpgpuSetup, RendererBlacklistNeedsRadeonWithOneOfTheTwoNumbers)
{
    EXPECT_TRUE(IsBlacklistedRenderer("ATI Radeon X1300 Series"));
    EXPECT_TRUE(IsBlacklistedRenderer("Radeon X1050"));
    EXPECT_FALSE(IsBlacklistedRenderer("Radeon HD 5770"));
    EXPECT_FALSE(IsBlacklistedRenderer("GeForce 1050 Ti"));
    EXPECT_FALSE(IsBlacklistedRenderer("llvmpipe (LLVM 15.0.6, 256 bits)"));
    EXPECT_FALSE(IsBlacklistedRenderer(nullptr));
}

TEST(GpgpuSetup, DeletingWithoutTheContextCurrentStillFreesTheGLObjects)
{
    // An object of its own: the shared one stays usable for the tests that follow.
    CGPGPU* gpu = new CGPGPU;
    ASSERT_TRUE(gpu->Initialize());
    const GLuint fbo = gpu->m_uFbo, texture = gpu->m_uTextures[GT_DIFF];
    const GLhandleARB program = gpu->m_hPrograms[GP_NORMALIZE];
    ASSERT_TRUE(glIsTexture(texture));
    wglMakeCurrent(nullptr, nullptr);
    gpu->DeleteGLObjects();
    ASSERT_TRUE(gpu->MakeCurrent());
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_FALSE(glIsFramebufferEXT(fbo));
    while (glGetError() != GL_NO_ERROR)
    {
    }
    GLint deleted = 0;
    glGetObjectParameterivARB(program, GL_OBJECT_DELETE_STATUS_ARB, &deleted);
    EXPECT_NE(glGetError(), static_cast<GLenum>(GL_NO_ERROR));  // the handle is gone
    EXPECT_EQ(gpu->m_uFbo, 0u);
    delete gpu;
}

TEST(GpgpuSetup, ObjectsComeAndGoTwiceInOneProcess)
{
    for (int round = 0; round < 2; ++round)
    {
        CGPGPU* gpu = new CGPGPU;
        EXPECT_TRUE(gpu->Initialize()) << round;
        g_pGpgpu = gpu;
        delete gpu;
        EXPECT_EQ(g_pGpgpu, nullptr);
        EXPECT_EQ(wglGetCurrentContext(), nullptr);
    }
    // An object whose set-up never ran releases nothing and reports nothing.
    CGPGPU* idle = new CGPGPU;
    delete idle;
}

TEST(GpgpuPasses, MonoEightBitMatchesModelForLightAndDarkDynamics)
{
    CGPGPU* gpu = TestGpu();
    ASSERT_TRUE(gpu->IsReady());
    const int w = 40, h = 36, c = 17;
    Padded noisy = RandomPadded(w, h, c, 1, 8, 7, 12);
    const auto offsets = HalfWindow(7);
    const double var = std::pow(4.0, 3.5);
    for (double dyn : {1.2, -1.6})
    {
        auto got = RunGpu(gpu, noisy, noisy, false, offsets, static_cast<float>(var), 0.0f, static_cast<float>(dyn));
        ASSERT_EQ(got.size(), static_cast<size_t>(w * h));
        auto model = ReferenceNlm(noisy.scaled, 1, noisy.scaled, 1, w, h, noisy.pad, offsets, var, var, dyn);
        ExpectMatchesModel(got, model, 1, 8);
    }
}

TEST(GpgpuPasses, ColourSixteenBitMatchesModelWithSeparateLumaAndChromaVariances)
{
    CGPGPU* gpu = TestGpu();
    ASSERT_TRUE(gpu->IsReady());
    const int w = 30, h = 24, c = 11;
    Padded noisy = RandomPadded(w, h, c, 3, 16, 11, 3000);
    Padded guide = RandomPadded(w, h, c, 3, 16, 12, 2000);
    const auto offsets = HalfWindow(7);
    const double varY = std::pow(3.0, 3.5), varUV = std::pow(6.0, 3.5);
    for (double dyn : {0.8, -0.8})
    {
        auto got = RunGpu(gpu, noisy, guide, true, offsets, static_cast<float>(varY), static_cast<float>(varUV),
                          static_cast<float>(dyn));
        ASSERT_EQ(got.size(), static_cast<size_t>(w * h * 3));
        auto model = ReferenceNlm(noisy.scaled, 3, guide.scaled, 3, w, h, noisy.pad, offsets, varY, varUV, dyn);
        ExpectMatchesModel(got, model, 3, 16);
    }
}

TEST(GpgpuPasses, CentreOffsetAloneGivesTheImageBackIncludingTheTopSixteenBitSample)
{
    CGPGPU* gpu = TestGpu();
    const int w = 20, h = 30, c = 9;
    Padded noisy = RandomPadded(w, h, c, 1, 16, 3, 20000);
    const int pad = noisy.pad, wp = w + 2 * pad;
    noisy.Set(static_cast<size_t>(pad) * wp + pad, 65535);  // 255.996 on the float scale
    auto got = RunGpu(gpu, noisy, noisy, false, {{0, 0}}, 1000.0f, 0.0f, 0.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(got[y * w + x], noisy.raw[static_cast<size_t>(y + pad) * wp + x + pad]) << x << "," << y;
    EXPECT_EQ(got[0], 65535);
}

TEST(GpgpuPasses, HalfwayValueRoundsUpAndOneChannelWritesOneSamplePerPixel)
{
    CGPGPU* gpu = TestGpu();
    const int w = 24, h = 20, c = 9;
    Padded noisy(w, h, c, 1, 8), guide(w, h, c, 1, 8);
    const int wp = w + 2 * noisy.pad;
    for (size_t i = 0; i < noisy.raw.size(); ++i)
    {
        noisy.Set(i, ((i % wp) / 2) % 2 ? 255 : 254);
        guide.Set(i, 77);  // equal patches everywhere: every weight is 1
    }
    // The pair (0, +-1) alone: every pixel averages one 254 and one 255.
    const int pc = noisy.pad - 3;
    auto n = noisy.Bytes(), g = guide.Bytes();
    ASSERT_TRUE(gpu->UploadMono(w, 8, n.data(), g.data(), h, 1, pc));
    gpu->AccumulateOffsetMono(0, 1, 0, 1, 0, 0, pc, 10.0f, 0.0f);
    std::vector<uint8_t> out(w * h + 16, 0xAB);
    ASSERT_TRUE(gpu->ReadBackResult(out.data()));
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(out[i], 255) << i;
    for (int i = w * h; i < w * h + 16; ++i) EXPECT_EQ(out[i], 0xAB);
}

TEST(GpgpuPasses, ZeroDynamicsWeighsTheSameInLightAndDarkPrograms)
{
    CGPGPU* gpu = TestGpu();
    const int w = 22, h = 22, c = 10;
    Padded mono = RandomPadded(w, h, c, 1, 8, 5, 30);
    const auto offsets = HalfWindow(7);
    auto light = RunGpu(gpu, mono, mono, false, offsets, 200.0f, 0.0f, 0.0f);
    auto dark = RunGpu(gpu, mono, mono, false, offsets, 200.0f, 0.0f, -1e-12f);
    EXPECT_EQ(light, dark);
    Padded color = RandomPadded(w, h, c, 3, 8, 6, 30);
    auto cdark = RunGpu(gpu, color, color, true, offsets, 200.0f, 400.0f, 0.0f);
    auto clight = RunGpu(gpu, color, color, true, offsets, 200.0f, 400.0f, 0.00001f);
    EXPECT_EQ(cdark, clight);
}
