// CGPGPU: the hidden GL window, its contexts, the capability check, the programs and teardown.
#include "gpu/Gpgpu.h"

#include <cstdio>

CGPGPU* g_pGpgpu = nullptr;

namespace
{

const wchar_t kGLClass[] = L"VorlinForPresident";

LRESULT CALLBACK GLWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The order in which the programs are built.
const int kBuildOrder[GP_PROGRAM_COUNT] = {1, 9, 2, 10, 4, 12, 3, 11, 6, 7, 8, 5, 13, 14, 15, 0};

void DebugLine(const char* text, const char* detail)
{
    char line[1024];
    std::snprintf(line, sizeof line, "HPXProcessGPU: %s%s\n", text, detail ? detail : "");
    OutputDebugStringA(line);
}

}  // namespace

bool CGPGPU::Initialize()
{
    m_uFbo = 0;
    for (GLuint& t : m_uTextures) t = 0;
    for (int i = 0; i < GP_PROGRAM_SLOTS; ++i)
    {
        m_hShaders[i] = 0;
        m_hPrograms[i] = 0;
        for (int s = 0; s < GU_SLOTS; ++s) m_iUniform[i][s] = -1;
    }
    m_bReady = false;
    m_iMaxTileSize = 0;
    m_bPingPong = true;
    m_bPassError = false;

    if (!CreateGLWindow()) return false;

    GLenum err = glewInit();
    if (err != GLEW_OK) std::fprintf(stderr, "Error: %s\n", glewGetErrorString(err));
    std::fprintf(stdout, "Status: Using GLEW %s\n", glewGetString(GLEW_VERSION));

    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    (void)glGetString(GL_VENDOR);
    bool usable = err == GLEW_OK && renderer && !IsBlacklistedRenderer(renderer) &&
        glewIsSupported("GL_EXT_framebuffer_object") && glewIsSupported("GL_ARB_shading_language_100") &&
        glewIsSupported("GL_ARB_texture_non_power_of_two");
    // The passes also need the entry points of these; a driver lacking them cannot run a pass.
    usable = usable && GLEW_ARB_shader_objects && GLEW_ARB_multitexture && GLEW_ARB_draw_buffers && glDrawBuffersARB &&
        glCreateShaderObjectARB && glGenFramebuffersEXT && glActiveTextureARB;
    if (usable)
    {
        m_iMaxTileSize = 1000;
        m_bReady = true;
    }
    BuildPrograms();
    return m_bReady;
}

bool CGPGPU::CreateGLWindow()
{
    m_hWnd = nullptr;
    m_hDC = nullptr;
    m_hRC = nullptr;
    HINSTANCE instance = GetModuleHandleW(nullptr);

    WNDCLASSW wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    wc.lpfnWndProc = GLWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kGLClass;
    // A class still registered by another object of this process is used, not owned.
    if (RegisterClassW(&wc)) m_bClassRegistered = true;

    const wchar_t* failure = nullptr;
    m_hWnd = CreateWindowExW(0, kGLClass, L"", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 50, 50, nullptr,
                             nullptr, instance, nullptr);
    if (m_hWnd) m_hDC = GetDC(m_hWnd);
    if (!m_hDC) failure = L"Can't Create A GL Device Context.";

    int format = 0;
    PIXELFORMATDESCRIPTOR pfd = {};
    if (!failure)
    {
        pfd.nSize = sizeof pfd;
        pfd.nVersion = 1;
        pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
        pfd.iPixelType = PFD_TYPE_RGBA;
        pfd.cColorBits = 8;
        pfd.cDepthBits = 8;
        pfd.iLayerType = PFD_MAIN_PLANE;
        format = ChoosePixelFormat(m_hDC, &pfd);
        if (!format) failure = L"Can't Find A Suitable PixelFormat.";
    }
    if (!failure && !SetPixelFormat(m_hDC, format, &pfd)) failure = L"Can't Set The PixelFormat.";
    if (!failure)
    {
        m_hRC = wglCreateContext(m_hDC);
        if (!m_hRC) failure = L"Can't Create A GL Rendering Context.";
    }
    if (!failure && !wglMakeCurrent(m_hDC, m_hRC)) failure = L"Can't Activate The GL Rendering Context.";

    if (failure)
    {
        DestroyGLWindow();
        MessageBoxW(nullptr, failure, L"ERROR", MB_ICONEXCLAMATION);
        return false;
    }
    return true;
}

void CGPGPU::DestroyGLWindow()
{
    if (m_hRC)
    {
        if (wglGetCurrentContext() == m_hRC) wglMakeCurrent(nullptr, nullptr);
        if (!wglDeleteContext(m_hRC))
            MessageBoxW(nullptr, L"Release Rendering Context Failed.", L"SHUTDOWN ERROR", MB_ICONINFORMATION);
        m_hRC = nullptr;
    }
    if (m_hDC)
    {
        if (!m_hWnd || !ReleaseDC(m_hWnd, m_hDC))
            MessageBoxW(nullptr, L"Release Device Context Failed.", L"SHUTDOWN ERROR", MB_ICONINFORMATION);
        m_hDC = nullptr;
    }
    if (m_hWnd)
    {
        if (!DestroyWindow(m_hWnd))
            MessageBoxW(nullptr, L"Could Not Release hWnd.", L"SHUTDOWN ERROR", MB_ICONINFORMATION);
        m_hWnd = nullptr;
    }
    // Only a class this object registered is unregistered, and only once: a second teardown
    // after a failed set-up has nothing left to release and reports nothing.
    if (m_bClassRegistered)
    {
        if (!UnregisterClassW(kGLClass, GetModuleHandleW(nullptr)))
            MessageBoxW(nullptr, L"Could Not Unregister Class.", L"SHUTDOWN ERROR", MB_ICONINFORMATION);
        m_bClassRegistered = false;
    }
}

bool CGPGPU::MakeCurrent()
{
    if (!m_hDC || !m_hRC) return false;
    if (wglGetCurrentContext() == m_hRC) return true;
    return wglMakeCurrent(m_hDC, m_hRC) != FALSE;
}

bool CGPGPU::BuildProgram(int index, const char* source)
{
    m_hShaders[index] = glCreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
    glShaderSourceARB(m_hShaders[index], 1, &source, nullptr);
    glCompileShaderARB(m_hShaders[index]);
    m_hPrograms[index] = glCreateProgramObjectARB();
    glAttachObjectARB(m_hPrograms[index], m_hShaders[index]);
    glLinkProgramARB(m_hPrograms[index]);

    // A program that did not compile or link would draw garbage: report it so the caller can
    // keep the GPU path off.
    GLint compiled = 0, linked = 0;
    glGetObjectParameterivARB(m_hShaders[index], GL_OBJECT_COMPILE_STATUS_ARB, &compiled);
    glGetObjectParameterivARB(m_hPrograms[index], GL_OBJECT_LINK_STATUS_ARB, &linked);
    if (m_hShaders[index] && m_hPrograms[index] && compiled && linked) return true;

    char log[1024] = "";
    GLsizei length = 0;
    if (m_hPrograms[index])
        glGetInfoLogARB(compiled ? m_hPrograms[index] : m_hShaders[index], sizeof log - 1, &length, log);
    char what[64];
    std::snprintf(what, sizeof what, "program %d failed to build: ", index);
    DebugLine(what, log);
    return false;
}

void CGPGPU::BuildPrograms()
{
    if (!m_bReady) return;
    glGenFramebuffersEXT(1, &m_uFbo);
    glGenTextures(GT_COUNT, m_uTextures);

    bool built = true;
    for (int index : kBuildOrder) built = BuildProgram(index, GpuProgramSource(index)) && built;

    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_uFbo);

    for (int index = 0; index < GP_PROGRAM_SLOTS; ++index)
    {
        for (int slot = 0; slot < GU_SLOTS; ++slot)
        {
            const char* name = GpuUniformName(slot);
            m_iUniform[index][slot] =
                (name && m_hPrograms[index]) ? glGetUniformLocationARB(m_hPrograms[index], name) : -1;
        }
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    m_bPingPong = true;

    // Float textures of both kinds must be renderable, alone and as a pair of targets.
    if (!built || !ProbeRenderTargets() || glGetError() != GL_NO_ERROR)
    {
        DebugLine("the GPU path is off: programs or render targets unusable", nullptr);
        DeleteGLObjectsNow();
        m_bReady = false;
        m_iMaxTileSize = 0;
    }
}

bool CGPGPU::ProbeRenderTargets()
{
    while (glGetError() != GL_NO_ERROR)
    {
    }
    CreateFloatTexture(GT_DIFF, 1, 8, 8, nullptr);
    CreateFloatTexture(GT_WEIGHTS_A, 3, 8, 8, nullptr);
    CreateFloatTexture(GT_VALUES_A, 3, 8, 8, nullptr);
    Attach(0, GT_DIFF);
    bool ok = CheckFramebuffer();
    Attach(0, GT_WEIGHTS_A);
    Attach(1, GT_VALUES_A);
    ok = ok && CheckFramebuffer();
    Attach(1, -1);
    Attach(0, -1);
    return ok && glGetError() == GL_NO_ERROR;
}

void CGPGPU::DeleteGLObjectsNow()
{
    for (int i = 0; i < GP_PROGRAM_SLOTS; ++i)
    {
        if (m_hPrograms[i] && m_hShaders[i]) glDetachObjectARB(m_hPrograms[i], m_hShaders[i]);
        if (m_hShaders[i]) glDeleteObjectARB(m_hShaders[i]);
        if (m_hPrograms[i]) glDeleteObjectARB(m_hPrograms[i]);
        m_hShaders[i] = 0;
        m_hPrograms[i] = 0;
    }
    if (m_uFbo)
    {
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glDeleteFramebuffersEXT(1, &m_uFbo);
    }
    m_uFbo = 0;
    glDeleteTextures(GT_COUNT, m_uTextures);
    for (GLuint& t : m_uTextures) t = 0;
}

void CGPGPU::DeleteGLObjects()
{
    if (!m_bReady) return;
    // GL objects belong to the context: delete them only while it is current on this thread,
    // otherwise the calls would go nowhere (the context's deletion frees them in that case).
    if (!MakeCurrent()) return;
    DeleteGLObjectsNow();
}

CGPGPU::~CGPGPU()
{
    if (m_bReady) DeleteGLObjects();
    DestroyGLWindow();
    if (g_pGpgpu == this) g_pGpgpu = nullptr;
}
