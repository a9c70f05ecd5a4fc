// The GPU side of the non-local-means filter: a hidden OpenGL window with its contexts, one
// framebuffer object, twelve float textures and sixteen GLSL fragment programs, and the passes
// that run one search offset at a time on them.
//
// Everything here runs on the thread that owns the GL context (the program's window thread).
#pragma once

#include <windows.h>
#include <GL/glew.h>

// Fragment programs by index.
enum GpuProgramIndex
{
    GP_NORMALIZE = 0,
    GP_ABSDIFF_MONO = 1,
    GP_SUM2X2_MONO = 2,
    GP_BOX3X3_MONO = 3,
    GP_COPY_MONO = 4,
    GP_WEIGHT_MONO_DARK = 5,
    GP_ADD = 6,
    GP_ACCUMULATE = 7,
    GP_ACCUMULATE_PAIR = 8,
    GP_ABSDIFF_COLOR = 9,
    GP_SUM2X2_COLOR = 10,
    GP_BOX3X3_COLOR = 11,
    GP_COPY_COLOR = 12,
    GP_WEIGHT_COLOR_DARK = 13,
    GP_WEIGHT_MONO_LIGHT = 14,
    GP_WEIGHT_COLOR_LIGHT = 15,
    GP_PROGRAM_COUNT = 16,  // programs in use
    GP_PROGRAM_SLOTS = 18   // handle slots kept
};

// Uniform slots of every program.
enum GpuUniformSlot
{
    GU_TEXTURE0 = 0,
    GU_TEXTURE0X = 1,
    GU_DELTAX = 2,
    GU_DELTAY = 3,
    GU_TEXDBL1 = 4,
    GU_TEXDBL1X = 5,
    GU_TEXDBL2 = 6,
    GU_TEXDBL2X = 7,
    GU_TEXSRC = 8,
    GU_TEXSUM = 9,
    GU_VARIANCE = 10,
    GU_VARIANCEY = 11,
    GU_VARIANCEUV = 12,
    GU_SUPERDYNAMICITY = 13,
    GU_NAMED = 14,  // slots with a name
    GU_SLOTS = 17   // slots kept per program
};

// Texture roles.
enum GpuTextureIndex
{
    GT_NOISY = 0,   // noisy image, padded (colour)
    GT_GUIDE = 1,   // guide, padded
    GT_DIFF = 2,    // absolute differences, padded
    GT_SUM2X2 = 3,  // 2x2 sums, half of the padded size
    GT_BOX3X3 = 4,  // 3x3 box sums of those
    GT_UNUSED = 5,
    GT_WEIGHTS_A = 6,  // accumulator pair A: weight sums, value sums
    GT_VALUES_A = 7,
    GT_WEIGHTS_B = 8,  // accumulator pair B
    GT_VALUES_B = 9,
    GT_WEIGHT = 10,  // weights of the current offset, padded
    GT_RESULT = 11,  // normalised result
    GT_COUNT = 12
};

// Source text of a fragment program, by index (null for the unused slots).
const char* GpuProgramSource(int index);
// Name of a uniform slot (null for the unnamed ones).
const char* GpuUniformName(int slot);

// True when a renderer string names one of the chips whose drivers cannot run the passes.
bool IsBlacklistedRenderer(const char* renderer);

class CGPGPU
{
public:
    virtual ~CGPGPU();

    // Creates the GL window and context, checks the driver, builds the programs. Leaves the
    // context current. Returns m_bReady.
    bool Initialize();
    bool CreateGLWindow();
    void DestroyGLWindow();
    // Compiles and links one program; false (and a message on the debugger stream) on failure.
    bool BuildProgram(int index, const char* source);
    void BuildPrograms();
    void DeleteGLObjects();

    bool IsReady() const { return m_bReady; }
    int GetMaxTileSize() const { return m_iMaxTileSize; }

    // Makes the context current on the calling thread; false when that fails (or there is none).
    bool MakeCurrent();

    // Uploads a padded noisy image (channels 1 or 3) and a padded one-channel guide of
    // (width + 2 pad) x (height + 2 pad), pad = c + 3, and clears the accumulators. False when
    // the textures could not be made or cannot be rendered into: nothing may be drawn then.
    bool UploadMono(int width, int bits, const void* noisy, const void* guide, int height, int channels, int c);
    // The same for two padded 3-channel images (Y, Cr, Cb).
    bool UploadColor(int height, int width, const void* noisy, const void* guide, int c, int bits);
    void CreateFloatTexture(int index, int channels, int width, int height, const float* data);

    // One search offset (dy, dx) and its mirror of the one-plane or the colour filter, with the
    // strength's variance(s) and the dynamics. The passes take their geometry from the upload
    // (its size and pad): rowA, colA, rowB, colB and c are the callers' view of the same
    // (the offset's overlap and margin) and are not read.
    void AccumulateOffsetMono(int dy, int dx, int rowA, int colA, int rowB, int colB, int c, float variance,
                              float dynamics);
    void AccumulateOffsetColor(int dy, int dx, int rowA, int colA, int rowB, int colB, int c, float varianceY,
                               float varianceUV, float dynamics);
    // Normalises the sums and writes W x H pixels of the uploaded depth into the block (one
    // sample per pixel for a one-channel upload, else three). False when the GPU reported an
    // error during the passes: the block's content is then not to be used.
    bool ReadBackResult(void* pixels);

    // Fields (set by Initialize and the uploads).
    HWND m_hWnd = nullptr;
    HDC m_hDC = nullptr;
    HGLRC m_hRC = nullptr;
    bool m_bReady = false;
    GLuint m_uFbo = 0;
    GLuint m_uTextures[GT_COUNT] = {};
    bool m_bPingPong = true;
    GLhandleARB m_hShaders[GP_PROGRAM_SLOTS] = {};
    GLhandleARB m_hPrograms[GP_PROGRAM_SLOTS] = {};
    int m_iUniform[GP_PROGRAM_SLOTS][GU_SLOTS] = {};
    int m_iWidth = 0;
    int m_iHeight = 0;
    int m_iChannels = 0;
    int m_bSingleChannel = 0;
    int m_iBits = 0;
    int m_iMaxTileSize = 0;

private:
    bool Upload(const float* noisy, const float* guide, int guideChannels, int c);
    void AccumulateOffset(bool color, int dy, int dx, int c, float varianceY, float varianceUV, float dynamics);
    void Attach(int attachment, int texture);
    void BindUnit(int unit, int texture);
    void BeginPass(int outTexture, int width, int height, int program);
    void ReleaseUnits(int units);
    bool CheckFramebuffer();
    bool ProbeRenderTargets();
    void DeleteGLObjectsNow();

    bool m_bClassRegistered = false;
    bool m_bPassError = false;  // a GL error was seen since the last upload
    int m_iPad = 0;             // padding of the current upload
};

// The program's one GPU object (null outside HPXProcessGPU's window life).
extern CGPGPU* g_pGpgpu;
