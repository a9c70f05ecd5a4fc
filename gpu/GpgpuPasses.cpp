// CGPGPU passes: uploads, one search offset at a time into ping-pong accumulators, read-back.
//
// Geometry of an upload: the image is W x H (even), padded by pad = c + 3 on every side to
// Wp x Hp. Texture row 0 is the image's top row in every texture, and output texel (i, j) is
// drawn at window position (i + 0.5, j + 0.5) of an orthographic projection of the output's size,
// so texel rows never flip.
#include "gpu/Gpgpu.h"

#include "engine/CaughtExceptionTrace.h"

#include <GL/glu.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace
{

// The guide's levels run 0..255: the dynamics is spread over them as dynamics / 256 a level.
constexpr float kDynamicsPerLevel = 0.00390625f;
// The CPU's weight tables divide the cubed distance by 300 times the strength; the weight
// programs divide by the variance uniform, so it carries the same factor.
constexpr float kVarianceScale = 300.0f;
// From which dynamics on a pass takes the program that smooths bright pixels more. At zero the two
// programs compute the same weights (the dynamics per level is then 0), so the thresholds differ
// only in where a dynamics below 0.00001 goes: the one-plane pass sends zero to the bright
// program, the colour pass sends zero and such tiny values to the dark one. Either way the
// variance of those tiny values changes by a few millionths at most.
constexpr float kMonoLightFrom = 0.0f;
constexpr float kColorLightFrom = 0.00001f;

// Texture coordinates of one unit at the four corners of a quad.
struct UnitCoords
{
    float s0, t0, s1, t1;
};

// Coordinates that make output texel (i, j) of a quad from (x0, y0) to (x1, y1) read input
// texel (scale * i + offX, scale * j + offY) of an iw x ih texture, at its centre.
UnitCoords MapTexels(float x0, float y0, float x1, float y1, float scale, float offX, float offY, int iw, int ih)
{
    const float bx = offX + 0.5f - 0.5f * scale;
    const float by = offY + 0.5f - 0.5f * scale;
    UnitCoords u;
    u.s0 = (scale * x0 + bx) / static_cast<float>(iw);
    u.s1 = (scale * x1 + bx) / static_cast<float>(iw);
    u.t0 = (scale * y0 + by) / static_cast<float>(ih);
    u.t1 = (scale * y1 + by) / static_cast<float>(ih);
    return u;
}

void DrawQuad(float x0, float y0, float x1, float y1, const UnitCoords* units, int count)
{
    glBegin(GL_QUADS);
    for (int u = 0; u < count; ++u) glMultiTexCoord2fARB(GL_TEXTURE0_ARB + u, units[u].s0, units[u].t0);
    glVertex2f(x0, y0);
    for (int u = 0; u < count; ++u) glMultiTexCoord2fARB(GL_TEXTURE0_ARB + u, units[u].s1, units[u].t0);
    glVertex2f(x1, y0);
    for (int u = 0; u < count; ++u) glMultiTexCoord2fARB(GL_TEXTURE0_ARB + u, units[u].s1, units[u].t1);
    glVertex2f(x1, y1);
    for (int u = 0; u < count; ++u) glMultiTexCoord2fARB(GL_TEXTURE0_ARB + u, units[u].s0, units[u].t1);
    glVertex2f(x0, y1);
    glEnd();
}

// Samples of any supported depth as floats on the 0..256 scale of the weight programs:
// 8 bits as they are, 9 to 16 bits masked and divided by 2^(bits - 8), 17 to 32 bits masked.
void ToFloats(std::vector<float>& out, const void* pixels, size_t pixelCount, int channels, int bits)
{
    out.resize(pixelCount * 3);
    const size_t samples = pixelCount * static_cast<size_t>(channels);
    auto put = [&](size_t i, float v)
    {
        if (channels == 1)
        {
            out[i * 3] = out[i * 3 + 1] = out[i * 3 + 2] = v;
        }
        else
        {
            out[i] = v;
        }
    };
    if (bits <= 8)
    {
        const uint8_t* p = static_cast<const uint8_t*>(pixels);
        for (size_t i = 0; i < samples; ++i) put(i, static_cast<float>(p[i]));
    }
    else if (bits <= 16)
    {
        const uint16_t* p = static_cast<const uint16_t*>(pixels);
        const uint32_t mask = (1u << bits) - 1u;
        const float scale = 1.0f / static_cast<float>(1u << (bits - 8));
        for (size_t i = 0; i < samples; ++i) put(i, static_cast<float>(p[i] & mask) * scale);
    }
    else
    {
        const uint32_t* p = static_cast<const uint32_t*>(pixels);
        const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u);
        for (size_t i = 0; i < samples; ++i) put(i, static_cast<float>(p[i] & mask));
    }
}

}  // namespace

void CGPGPU::CreateFloatTexture(int index, int channels, int width, int height, const float* data)
{
    glBindTexture(GL_TEXTURE_2D, m_uTextures[index]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    if (channels == 3)
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB32F_ARB, width, height, 0, GL_BGR, GL_FLOAT, data);
    else
        glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE32F_ARB, width, height, 0, GL_LUMINANCE, GL_FLOAT, data);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void CGPGPU::Attach(int attachment, int texture)
{
    glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT + attachment, GL_TEXTURE_2D,
                              texture >= 0 ? m_uTextures[texture] : 0, 0);
}

bool CGPGPU::CheckFramebuffer()
{
    return glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
}

void CGPGPU::BindUnit(int unit, int texture)
{
    glActiveTextureARB(GL_TEXTURE0_ARB + unit);
    glBindTexture(GL_TEXTURE_2D, m_uTextures[texture]);
    glEnable(GL_TEXTURE_2D);
}

void CGPGPU::ReleaseUnits(int units)
{
    for (int u = units - 1; u >= 0; --u)
    {
        glActiveTextureARB(GL_TEXTURE0_ARB + u);
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisable(GL_TEXTURE_2D);
    }
    // Unit 0 is left active.
}

void CGPGPU::BeginPass(int outTexture, int width, int height, int program)
{
    Attach(0, outTexture);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0.0, width, 0.0, height);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glViewport(0, 0, width, height);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glUseProgramObjectARB(m_hPrograms[program]);
}

bool CGPGPU::UploadMono(int width, int bits, const void* noisy, const void* guide, int height, int channels, int c)
{
    m_iWidth = width;
    m_iHeight = height;
    m_iBits = bits;
    m_iChannels = 3;
    m_bSingleChannel = channels == 1;
    const int pad = c + 3;
    const size_t padded = static_cast<size_t>(width + 2 * pad) * (height + 2 * pad);
    try
    {
        std::vector<float> noisyF, guideF;
        ToFloats(noisyF, noisy, padded, channels, bits);
        ToFloats(guideF, guide, padded, 1, bits);
        // The guide texture has one component: keep every third float.
        for (size_t i = 0; i < padded; ++i) guideF[i] = guideF[i * 3];
        return Upload(noisyF.data(), guideF.data(), 1, c);
    }
    catch (...)
    {  // no memory for the float copies
        TraceCaughtException("CGPGPU::UploadMono");
        m_bPassError = true;
        return false;
    }
}

bool CGPGPU::UploadColor(int height, int width, const void* noisy, const void* guide, int c, int bits)
{
    m_iWidth = width;
    m_iHeight = height;
    m_iBits = bits;
    m_iChannels = 3;
    m_bSingleChannel = 0;
    const int pad = c + 3;
    const size_t padded = static_cast<size_t>(width + 2 * pad) * (height + 2 * pad);
    try
    {
        std::vector<float> noisyF, guideF;
        ToFloats(noisyF, noisy, padded, 3, bits);
        ToFloats(guideF, guide, padded, 3, bits);
        return Upload(noisyF.data(), guideF.data(), 3, c);
    }
    catch (...)
    {
        TraceCaughtException("CGPGPU::UploadColor");
        m_bPassError = true;
        return false;
    }
}

bool CGPGPU::Upload(const float* noisy, const float* guide, int guideChannels, int c)
{
    if (!m_bReady) return false;
    while (glGetError() != GL_NO_ERROR)
    {
    }
    m_bPassError = false;
    m_iPad = c + 3;
    const int wp = m_iWidth + 2 * m_iPad, hp = m_iHeight + 2 * m_iPad;
    const int work = guideChannels;  // components of the distance and weight textures
    CreateFloatTexture(GT_NOISY, 3, wp, hp, noisy);
    CreateFloatTexture(GT_GUIDE, guideChannels, wp, hp, guide);
    CreateFloatTexture(GT_DIFF, work, wp, hp, nullptr);
    CreateFloatTexture(GT_SUM2X2, work, wp / 2, hp / 2, nullptr);
    CreateFloatTexture(GT_BOX3X3, work, wp / 2, hp / 2, nullptr);
    CreateFloatTexture(GT_WEIGHT, work, wp, hp, nullptr);
    CreateFloatTexture(GT_RESULT, 3, m_iWidth, m_iHeight, nullptr);

    // Accumulators start at zero; clearing them through the framebuffer also proves that each
    // kind of target can be rendered into at this size.
    bool ok = true;
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    for (int t = GT_WEIGHTS_A; t <= GT_VALUES_B; ++t)
    {
        CreateFloatTexture(t, 3, m_iWidth, m_iHeight, nullptr);
        Attach(0, t);
        ok = ok && CheckFramebuffer();
        if (ok)
        {
            glViewport(0, 0, m_iWidth, m_iHeight);
            glClear(GL_COLOR_BUFFER_BIT);
        }
    }
    Attach(0, GT_DIFF);
    ok = ok && CheckFramebuffer();
    Attach(0, GT_SUM2X2);
    ok = ok && CheckFramebuffer();
    Attach(0, -1);
    m_bPingPong = true;
    ok = ok && glGetError() == GL_NO_ERROR;
    m_bPassError = !ok;
    return ok;
}

void CGPGPU::AccumulateOffsetMono(int dy, int dx, int, int, int, int, int, float variance, float dynamics)
{
    AccumulateOffset(false, dy, dx, m_iPad - 3, variance, variance, dynamics);
}

void CGPGPU::AccumulateOffsetColor(int dy, int dx, int, int, int, int, int, float varianceY, float varianceUV,
                                   float dynamics)
{
    AccumulateOffset(true, dy, dx, m_iPad - 3, varianceY, varianceUV, dynamics);
}

void CGPGPU::AccumulateOffset(bool color, int dy, int dx, int, float varianceY, float varianceUV, float dynamics)
{
    if (!m_bReady || m_bPassError) return;
    const int pad = m_iPad;
    const int w = m_iWidth, h = m_iHeight;
    const int wp = w + 2 * pad, hp = h + 2 * pad;
    const int wh = wp / 2, hh = hp / 2;
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);

    // 1. |guide(Q + d) - guide(Q)| wherever both lie inside; 0 elsewhere.
    {
        BeginPass(GT_DIFF, wp, hp, color ? GP_ABSDIFF_COLOR : GP_ABSDIFF_MONO);
        glUniform1iARB(m_iUniform[color ? GP_ABSDIFF_COLOR : GP_ABSDIFF_MONO][GU_TEXTURE0], 0);
        BindUnit(0, GT_GUIDE);
        const float x0 = static_cast<float>(std::max(-dx, 0)), y0 = static_cast<float>(std::max(-dy, 0));
        const float x1 = x0 + static_cast<float>(wp - std::abs(dx));
        const float y1 = y0 + static_cast<float>(hp - std::abs(dy));
        UnitCoords u[2] = {MapTexels(x0, y0, x1, y1, 1.0f, static_cast<float>(dx), static_cast<float>(dy), wp, hp),
                           MapTexels(x0, y0, x1, y1, 1.0f, 0.0f, 0.0f, wp, hp)};
        DrawQuad(x0, y0, x1, y1, u, 2);
        ReleaseUnits(1);
    }
    // 2. 2x2 sums at half resolution.
    {
        const int program = color ? GP_SUM2X2_COLOR : GP_SUM2X2_MONO;
        BeginPass(GT_SUM2X2, wh, hh, program);
        glUniform1iARB(m_iUniform[program][GU_TEXTURE0], 0);
        BindUnit(0, GT_DIFF);
        const float x1 = static_cast<float>(wh), y1 = static_cast<float>(hh);
        UnitCoords u[4] = {
            MapTexels(0, 0, x1, y1, 2.0f, 0.0f, 0.0f, wp, hp), MapTexels(0, 0, x1, y1, 2.0f, 1.0f, 0.0f, wp, hp),
            MapTexels(0, 0, x1, y1, 2.0f, 1.0f, 1.0f, wp, hp), MapTexels(0, 0, x1, y1, 2.0f, 0.0f, 1.0f, wp, hp)};
        DrawQuad(0, 0, x1, y1, u, 4);
        ReleaseUnits(1);
    }
    // 3. 3x3 box sums of the half-resolution cells (reads past the edge repeat the edge).
    {
        const int program = color ? GP_BOX3X3_COLOR : GP_BOX3X3_MONO;
        BeginPass(GT_BOX3X3, wh, hh, program);
        glUniform1iARB(m_iUniform[program][GU_TEXTURE0], 0);
        glUniform1fARB(m_iUniform[program][GU_DELTAX], 1.0f / static_cast<float>(wh));
        glUniform1fARB(m_iUniform[program][GU_DELTAY], 1.0f / static_cast<float>(hh));
        BindUnit(0, GT_SUM2X2);
        const float x1 = static_cast<float>(wh), y1 = static_cast<float>(hh);
        UnitCoords u[1] = {MapTexels(0, 0, x1, y1, 1.0f, -1.0f, -1.0f, wh, hh)};
        DrawQuad(0, 0, x1, y1, u, 1);
        ReleaseUnits(1);
    }
    // 4. Weights over the whole padded area from the box sum of the cell holding each pixel.
    {
        int program;
        float super;
        if (color)
        {
            program = dynamics >= kColorLightFrom ? GP_WEIGHT_COLOR_LIGHT : GP_WEIGHT_COLOR_DARK;
            super = (dynamics >= kColorLightFrom ? dynamics : -dynamics) * kDynamicsPerLevel;
        }
        else
        {
            program = dynamics >= kMonoLightFrom ? GP_WEIGHT_MONO_LIGHT : GP_WEIGHT_MONO_DARK;
            super = (dynamics >= kMonoLightFrom ? dynamics : -dynamics) * kDynamicsPerLevel;
        }
        BeginPass(GT_WEIGHT, wp, hp, program);
        glUniform1iARB(m_iUniform[program][GU_TEXSUM], 0);
        glUniform1iARB(m_iUniform[program][GU_TEXSRC], 1);
        glUniform1fARB(m_iUniform[program][GU_SUPERDYNAMICITY], super);
        if (color)
        {
            glUniform1fARB(m_iUniform[program][GU_VARIANCEY], varianceY * kVarianceScale);
            glUniform1fARB(m_iUniform[program][GU_VARIANCEUV], varianceUV * kVarianceScale);
        }
        else
        {
            glUniform1fARB(m_iUniform[program][GU_VARIANCE], varianceY * kVarianceScale);
        }
        BindUnit(0, GT_BOX3X3);
        BindUnit(1, GT_NOISY);
        const float x1 = static_cast<float>(wp), y1 = static_cast<float>(hp);
        UnitCoords u[2] = {{0.0f, 0.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 1.0f, 1.0f}};
        DrawQuad(0, 0, x1, y1, u, 2);
        ReleaseUnits(2);
    }
    // 5. Accumulation into the other pair.
    const int curW = m_bPingPong ? GT_WEIGHTS_B : GT_WEIGHTS_A;
    const int curV = curW + 1;
    const int nextW = m_bPingPong ? GT_WEIGHTS_A : GT_WEIGHTS_B;
    const int nextV = nextW + 1;
    const float p = static_cast<float>(pad);
    const UnitCoords sums = MapTexels(0, 0, fw, fh, 1.0f, 0.0f, 0.0f, w, h);
    const UnitCoords here = MapTexels(0, 0, fw, fh, 1.0f, p, p, wp, hp);
    if (dx == 0 && dy == 0)
    {
        BeginPass(nextW, w, h, GP_ADD);
        glUniform1iARB(m_iUniform[GP_ADD][GU_TEXDBL1], 0);
        glUniform1iARB(m_iUniform[GP_ADD][GU_TEXDBL2], 1);
        BindUnit(0, curW);
        BindUnit(1, GT_WEIGHT);
        UnitCoords u1[2] = {sums, here};
        DrawQuad(0, 0, fw, fh, u1, 2);
        ReleaseUnits(2);

        BeginPass(nextV, w, h, GP_ACCUMULATE);
        glUniform1iARB(m_iUniform[GP_ACCUMULATE][GU_TEXDBL1], 0);
        glUniform1iARB(m_iUniform[GP_ACCUMULATE][GU_TEXDBL2], 1);
        glUniform1iARB(m_iUniform[GP_ACCUMULATE][GU_TEXTURE0], 2);
        BindUnit(0, curV);
        BindUnit(1, GT_WEIGHT);
        BindUnit(2, GT_NOISY);
        UnitCoords u2[3] = {sums, here, here};
        DrawQuad(0, 0, fw, fh, u2, 3);
        ReleaseUnits(3);
    }
    else
    {
        Attach(1, nextV);
        const GLenum buffers[2] = {GL_COLOR_ATTACHMENT0_EXT, GL_COLOR_ATTACHMENT1_EXT};
        glDrawBuffersARB(2, buffers);
        BeginPass(nextW, w, h, GP_ACCUMULATE_PAIR);
        const int* loc = m_iUniform[GP_ACCUMULATE_PAIR];
        glUniform1iARB(loc[GU_TEXDBL1], 0);
        glUniform1iARB(loc[GU_TEXDBL2], 1);
        glUniform1iARB(loc[GU_TEXDBL1X], 2);
        glUniform1iARB(loc[GU_TEXDBL2X], 3);
        glUniform1iARB(loc[GU_TEXTURE0], 4);
        glUniform1iARB(loc[GU_TEXTURE0X], 5);
        BindUnit(0, curW);
        BindUnit(1, curV);
        BindUnit(2, GT_WEIGHT);
        BindUnit(3, GT_WEIGHT);
        BindUnit(4, GT_NOISY);
        BindUnit(5, GT_NOISY);
        const UnitCoords back = MapTexels(0, 0, fw, fh, 1.0f, p - dx, p - dy, wp, hp);
        const UnitCoords fore = MapTexels(0, 0, fw, fh, 1.0f, p + dx, p + dy, wp, hp);
        UnitCoords u[6] = {sums, sums, back, here, back, fore};
        DrawQuad(0, 0, fw, fh, u, 6);
        ReleaseUnits(6);
    }
    // 6. Flip the pairs and wait, so that progress follows finished work.
    m_bPingPong = !m_bPingPong;
    glFinish();
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    Attach(1, -1);
    glActiveTextureARB(GL_TEXTURE0_ARB);
    glUseProgramObjectARB(0);
    if (glGetError() != GL_NO_ERROR) m_bPassError = true;
}

bool CGPGPU::ReadBackResult(void* pixels)
{
    if (!m_bReady || m_bPassError) return false;
    const int w = m_iWidth, h = m_iHeight;
    const int curW = m_bPingPong ? GT_WEIGHTS_B : GT_WEIGHTS_A;
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);

    BeginPass(GT_RESULT, w, h, GP_NORMALIZE);
    glUniform1iARB(m_iUniform[GP_NORMALIZE][GU_TEXDBL1], 0);
    glUniform1iARB(m_iUniform[GP_NORMALIZE][GU_TEXDBL2], 1);
    BindUnit(0, curW);
    BindUnit(1, curW + 1);
    UnitCoords u[2] = {{0.0f, 0.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 1.0f, 1.0f}};
    DrawQuad(0, 0, fw, fh, u, 2);

    std::vector<float> out;
    try
    {
        out.resize(static_cast<size_t>(w) * h * 3);
    }
    catch (...)
    {
        TraceCaughtException("CGPGPU::ReadBackResult");
        ReleaseUnits(2);
        glUseProgramObjectARB(0);
        Attach(0, -1);
        m_bPassError = true;
        return false;
    }
    glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glReadPixels(0, 0, w, h, GL_BGR, GL_FLOAT, out.data());
    ReleaseUnits(2);
    glUseProgramObjectARB(0);
    Attach(0, -1);
    if (glGetError() != GL_NO_ERROR)
    {
        m_bPassError = true;
        return false;
    }

    const int bits = m_iBits;
    const size_t count = static_cast<size_t>(w) * h;
    const int per = m_bSingleChannel ? 1 : 3;
    auto sample = [&](size_t i, int k)
    {
        float v = out[i * 3 + k];
        return v >= 0.0f ? v : 0.0f;  // also turns a NaN into 0
    };
    if (bits <= 8)
    {
        const float m = 255.0f;
        uint8_t* p = static_cast<uint8_t*>(pixels);
        for (size_t i = 0; i < count; ++i)
            for (int k = 0; k < per; ++k) p[i * per + k] = static_cast<uint8_t>(std::min(sample(i, k) + 0.5f, m));
    }
    else if (bits <= 16)
    {
        const float m = static_cast<float>((1u << bits) - 1u);
        const float scale = static_cast<float>(1u << (bits - 8));
        uint16_t* p = static_cast<uint16_t*>(pixels);
        for (size_t i = 0; i < count; ++i)
            for (int k = 0; k < per; ++k)
                p[i * per + k] = static_cast<uint16_t>(std::min(sample(i, k) * scale + 0.5f, m));
    }
    else
    {
        const double m = bits >= 32 ? 4294967295.0 : static_cast<double>((1u << bits) - 1u);
        uint32_t* p = static_cast<uint32_t*>(pixels);
        for (size_t i = 0; i < count; ++i)
            for (int k = 0; k < per; ++k)
                p[i * per + k] = static_cast<uint32_t>(std::min(static_cast<double>(sample(i, k)) + 0.5, m));
    }
    return true;
}
