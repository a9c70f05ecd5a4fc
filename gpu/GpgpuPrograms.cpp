// Source texts of the sixteen fragment programs.
//
// They keep to the old shading-language level (no #version, gl_TexCoord, texture2D,
// gl_FragColor / gl_FragData) so that any driver with the shader-object extension takes them.
// tcN is the texture coordinate of unit N; all samplers read with GL_NEAREST.
#include "gpu/Gpgpu.h"

#include <cstring>

namespace
{

const char kNormalize[] = "uniform sampler2D texDbl1;\n"
                          "uniform sampler2D texDbl2;\n"
                          "void main()\n"
                          "{\n"
                          "    vec3 w = texture2D(texDbl1, gl_TexCoord[0].xy).xyz;\n"
                          "    vec3 v = texture2D(texDbl2, gl_TexCoord[0].xy).xyz;\n"
                          "    gl_FragColor = vec4(v / w, 1.0);\n"
                          "}\n";

const char kAbsDiffMono[] = "uniform sampler2D texture0;\n"
                            "void main()\n"
                            "{\n"
                            "    float a = texture2D(texture0, gl_TexCoord[0].xy).x;\n"
                            "    float b = texture2D(texture0, gl_TexCoord[1].xy).x;\n"
                            "    gl_FragColor = vec4(abs(a - b), 0.0, 0.0, 1.0);\n"
                            "}\n";

const char kSum2x2Mono[] = "uniform sampler2D texture0;\n"
                           "void main()\n"
                           "{\n"
                           "    float s = texture2D(texture0, gl_TexCoord[0].xy).x;\n"
                           "    s += texture2D(texture0, gl_TexCoord[1].xy).x;\n"
                           "    s += texture2D(texture0, gl_TexCoord[2].xy).x;\n"
                           "    s += texture2D(texture0, gl_TexCoord[3].xy).x;\n"
                           "    gl_FragColor = vec4(s, 0.0, 0.0, 1.0);\n"
                           "}\n";

// Down the first column, up the second, down the third.
const char kBox3x3Mono[] = "uniform sampler2D texture0;\n"
                           "uniform float deltaX;\n"
                           "uniform float deltaY;\n"
                           "void main()\n"
                           "{\n"
                           "    vec2 c = gl_TexCoord[0].xy;\n"
                           "    float s = texture2D(texture0, c).x;\n"
                           "    s += texture2D(texture0, c + vec2(0.0, deltaY)).x;\n"
                           "    s += texture2D(texture0, c + vec2(0.0, 2.0 * deltaY)).x;\n"
                           "    s += texture2D(texture0, c + vec2(deltaX, 2.0 * deltaY)).x;\n"
                           "    s += texture2D(texture0, c + vec2(deltaX, deltaY)).x;\n"
                           "    s += texture2D(texture0, c + vec2(deltaX, 0.0)).x;\n"
                           "    s += texture2D(texture0, c + vec2(2.0 * deltaX, 0.0)).x;\n"
                           "    s += texture2D(texture0, c + vec2(2.0 * deltaX, deltaY)).x;\n"
                           "    s += texture2D(texture0, c + vec2(2.0 * deltaX, 2.0 * deltaY)).x;\n"
                           "    gl_FragColor = vec4(s, 0.0, 0.0, 1.0);\n"
                           "}\n";

const char kCopyMono[] = "uniform sampler2D texture0;\n"
                         "void main()\n"
                         "{\n"
                         "    gl_FragColor = vec4(texture2D(texture0, gl_TexCoord[0].xy).x, 0.0, 0.0, 1.0);\n"
                         "}\n";

// The weight of a zero distance is exactly 1, whatever the variance.
const char kWeightMonoDark[] =
    "uniform sampler2D texSum;\n"
    "uniform sampler2D texSrc;\n"
    "uniform float variance;\n"
    "uniform float superDynamicity;\n"
    "void main()\n"
    "{\n"
    "    float S = texture2D(texSum, gl_TexCoord[0].xy).x;\n"
    "    float v = ((256.0 - texture2D(texSrc, gl_TexCoord[0].xy).x) * superDynamicity + 1.0) * variance;\n"
    "    float w = S > 0.0 ? pow(2.718281828, -(S * S * S) / v) : 1.0;\n"
    "    gl_FragData[0] = vec4(w, w, w, 1.0);\n"
    "}\n";

const char kWeightMonoLight[] =
    "uniform sampler2D texSum;\n"
    "uniform sampler2D texSrc;\n"
    "uniform float variance;\n"
    "uniform float superDynamicity;\n"
    "void main()\n"
    "{\n"
    "    float S = texture2D(texSum, gl_TexCoord[0].xy).x;\n"
    "    float v = (texture2D(texSrc, gl_TexCoord[0].xy).x * superDynamicity + 1.0) * variance;\n"
    "    float w = S > 0.0 ? pow(2.718281828, -(S * S * S) / v) : 1.0;\n"
    "    gl_FragData[0] = vec4(w, w, w, 1.0);\n"
    "}\n";

const char kAdd[] = "uniform sampler2D texDbl1;\n"
                    "uniform sampler2D texDbl2;\n"
                    "void main()\n"
                    "{\n"
                    "    vec3 a = texture2D(texDbl1, gl_TexCoord[0].xy).xyz;\n"
                    "    vec3 b = texture2D(texDbl2, gl_TexCoord[1].xy).xyz;\n"
                    "    gl_FragData[0] = vec4(a + b, 1.0);\n"
                    "}\n";

const char kAccumulate[] = "uniform sampler2D texDbl1;\n"
                           "uniform sampler2D texDbl2;\n"
                           "uniform sampler2D texture0;\n"
                           "void main()\n"
                           "{\n"
                           "    vec3 a = texture2D(texDbl1, gl_TexCoord[0].xy).xyz;\n"
                           "    vec3 w = texture2D(texDbl2, gl_TexCoord[1].xy).xyz;\n"
                           "    vec3 v = texture2D(texture0, gl_TexCoord[2].xy).xyz;\n"
                           "    gl_FragData[0] = vec4(a + w * v, 1.0);\n"
                           "}\n";

// Weight sums and value sums of one offset and its mirror in one draw (two render targets).
const char kAccumulatePair[] = "uniform sampler2D texDbl1;\n"
                               "uniform sampler2D texDbl2;\n"
                               "uniform sampler2D texDbl1X;\n"
                               "uniform sampler2D texDbl2X;\n"
                               "uniform sampler2D texture0;\n"
                               "uniform sampler2D texture0X;\n"
                               "void main()\n"
                               "{\n"
                               "    vec3 wSum = texture2D(texDbl1, gl_TexCoord[0].xy).xyz;\n"
                               "    vec3 vSum = texture2D(texDbl2, gl_TexCoord[1].xy).xyz;\n"
                               "    vec3 wBack = texture2D(texDbl1X, gl_TexCoord[2].xy).xyz;\n"
                               "    vec3 wHere = texture2D(texDbl2X, gl_TexCoord[3].xy).xyz;\n"
                               "    vec3 vBack = texture2D(texture0, gl_TexCoord[4].xy).xyz;\n"
                               "    vec3 vFore = texture2D(texture0X, gl_TexCoord[5].xy).xyz;\n"
                               "    gl_FragData[0] = vec4(wSum + wBack + wHere, 1.0);\n"
                               "    gl_FragData[1] = vec4(vSum + vBack * wBack + vFore * wHere, 1.0);\n"
                               "}\n";

const char kAbsDiffColor[] = "uniform sampler2D texture0;\n"
                             "void main()\n"
                             "{\n"
                             "    vec3 a = texture2D(texture0, gl_TexCoord[0].xy).xyz;\n"
                             "    vec3 b = texture2D(texture0, gl_TexCoord[1].xy).xyz;\n"
                             "    gl_FragColor = vec4(abs(a - b), 1.0);\n"
                             "}\n";

const char kSum2x2Color[] = "uniform sampler2D texture0;\n"
                            "void main()\n"
                            "{\n"
                            "    vec3 s = texture2D(texture0, gl_TexCoord[0].xy).xyz;\n"
                            "    s += texture2D(texture0, gl_TexCoord[1].xy).xyz;\n"
                            "    s += texture2D(texture0, gl_TexCoord[2].xy).xyz;\n"
                            "    s += texture2D(texture0, gl_TexCoord[3].xy).xyz;\n"
                            "    gl_FragColor = vec4(s, 1.0);\n"
                            "}\n";

const char kBox3x3Color[] = "uniform sampler2D texture0;\n"
                            "uniform float deltaX;\n"
                            "uniform float deltaY;\n"
                            "void main()\n"
                            "{\n"
                            "    vec2 c = gl_TexCoord[0].xy;\n"
                            "    vec3 s = texture2D(texture0, c).xyz;\n"
                            "    s += texture2D(texture0, c + vec2(0.0, deltaY)).xyz;\n"
                            "    s += texture2D(texture0, c + vec2(0.0, 2.0 * deltaY)).xyz;\n"
                            "    s += texture2D(texture0, c + vec2(deltaX, 2.0 * deltaY)).xyz;\n"
                            "    s += texture2D(texture0, c + vec2(deltaX, deltaY)).xyz;\n"
                            "    s += texture2D(texture0, c + vec2(deltaX, 0.0)).xyz;\n"
                            "    s += texture2D(texture0, c + vec2(2.0 * deltaX, 0.0)).xyz;\n"
                            "    s += texture2D(texture0, c + vec2(2.0 * deltaX, deltaY)).xyz;\n"
                            "    s += texture2D(texture0, c + vec2(2.0 * deltaX, 2.0 * deltaY)).xyz;\n"
                            "    gl_FragColor = vec4(s, 1.0);\n"
                            "}\n";

const char kCopyColor[] = "uniform sampler2D texture0;\n"
                          "void main()\n"
                          "{\n"
                          "    gl_FragColor = vec4(texture2D(texture0, gl_TexCoord[0].xy).xyz, 1.0);\n"
                          "}\n";

// Components: z holds Y, y Cr and x Cb (the textures are filled in blue-green-red order from
// samples stored Y, Cr, Cb), so the luma variance goes to z.
const char kWeightColorDark[] =
    "uniform sampler2D texSum;\n"
    "uniform sampler2D texSrc;\n"
    "uniform float varianceY;\n"
    "uniform float varianceUV;\n"
    "uniform float superDynamicity;\n"
    "void main()\n"
    "{\n"
    "    vec3 S = texture2D(texSum, gl_TexCoord[0].xy).xyz;\n"
    "    vec3 g = texture2D(texSrc, gl_TexCoord[0].xy).xyz;\n"
    "    vec3 v = ((vec3(255.0) - g) * superDynamicity + vec3(1.0)) * vec3(varianceUV, varianceUV, varianceY);\n"
    "    vec3 w;\n"
    "    w.x = S.x > 0.0 ? pow(2.718281828, -(S.x * S.x * S.x) / v.x) : 1.0;\n"
    "    w.y = S.y > 0.0 ? pow(2.718281828, -(S.y * S.y * S.y) / v.y) : 1.0;\n"
    "    w.z = S.z > 0.0 ? pow(2.718281828, -(S.z * S.z * S.z) / v.z) : 1.0;\n"
    "    gl_FragData[0] = vec4(w, 1.0);\n"
    "}\n";

const char kWeightColorLight[] =
    "uniform sampler2D texSum;\n"
    "uniform sampler2D texSrc;\n"
    "uniform float varianceY;\n"
    "uniform float varianceUV;\n"
    "uniform float superDynamicity;\n"
    "void main()\n"
    "{\n"
    "    vec3 S = texture2D(texSum, gl_TexCoord[0].xy).xyz;\n"
    "    vec3 g = texture2D(texSrc, gl_TexCoord[0].xy).xyz;\n"
    "    vec3 v = (g * superDynamicity + vec3(1.0)) * vec3(varianceUV, varianceUV, varianceY);\n"
    "    vec3 w;\n"
    "    w.x = S.x > 0.0 ? pow(2.718281828, -(S.x * S.x * S.x) / v.x) : 1.0;\n"
    "    w.y = S.y > 0.0 ? pow(2.718281828, -(S.y * S.y * S.y) / v.y) : 1.0;\n"
    "    w.z = S.z > 0.0 ? pow(2.718281828, -(S.z * S.z * S.z) / v.z) : 1.0;\n"
    "    gl_FragData[0] = vec4(w, 1.0);\n"
    "}\n";

const char* const kSources[GP_PROGRAM_SLOTS] = {
    kNormalize, kAbsDiffMono,     kSum2x2Mono,      kBox3x3Mono,       kCopyMono,    kWeightMonoDark,
    kAdd,       kAccumulate,      kAccumulatePair,  kAbsDiffColor,     kSum2x2Color, kBox3x3Color,
    kCopyColor, kWeightColorDark, kWeightMonoLight, kWeightColorLight, nullptr,      nullptr};

const char* const kUniformNames[GU_SLOTS] = {
    "texture0", "texture0X", "deltaX",    "deltaY",     "texDbl1",         "texDbl1X", "texDbl2", "texDbl2X", "texSrc",
    "texSum",   "variance",  "varianceY", "varianceUV", "superDynamicity", nullptr,    nullptr,   nullptr};

}  // namespace

const char* GpuProgramSource(int index) { return (index >= 0 && index < GP_PROGRAM_SLOTS) ? kSources[index] : nullptr; }

const char* GpuUniformName(int slot) { return (slot >= 0 && slot < GU_SLOTS) ? kUniformNames[slot] : nullptr; }

bool IsBlacklistedRenderer(const char* renderer)
{
    if (!renderer || !std::strstr(renderer, "Radeon")) return false;
    return std::strstr(renderer, "1050") != nullptr || std::strstr(renderer, "1300") != nullptr;
}
