// HPXProcessGPU: a hidden window that takes one denoise job from the plug-in, runs it through the
// engine with the GPU passes, reports progress, sends the result back and ends.
#include <windows.h>
#include <objbase.h>

#include "engine/CaughtExceptionTrace.h"
#include "engine/DenoiseImage.h"
#include "engine/ImageBuffer.h"
#include "engine/NlmPlaneDenoise.h"
#include "engine/Platform.h"
#include "gpu/Gpgpu.h"
#include "gpu/GpuJob.h"
#include "gpu/GpuProtocol.h"
#include "gpu/GpuResource.h"
#include "gpu/NlmGpu.h"

#include <cstring>

HWND g_hPluginWnd = nullptr;
DenoiseJobParams g_JobParams;
ImageBuffer g_InputImage;

namespace
{

wchar_t g_wszTitle[100];
wchar_t g_wszWindowClass[100];

// What has arrived for the job, and whether it runs.
bool g_bImageReceived = false;
bool g_bPixelsReceived = false;
bool g_bParamsReceived = false;
bool g_bJobRunning = false;
bool g_bSettingUp = false;  // inside WM_CREATE, whose set-up may pump messages
bool g_bExitAfterJob = false;
bool g_bCancelRequested = false;
bool g_bComStarted = false;

// Progress goes to the plug-in's main window as the protocol's two messages.
void RelaySetup(void*, HpxProgressTarget target, uint32_t total)
{
    HWND hwnd = reinterpret_cast<HWND>(target);
    SendMessageW(hwnd, WM_HPX_PROGRESS_RANGE, static_cast<WPARAM>(total), 0);
    SendMessageW(hwnd, WM_HPX_PROGRESS_STEP, 0, 0);
}

void RelayStep(void*, HpxProgressTarget target)
{
    SendMessageW(reinterpret_cast<HWND>(target), WM_HPX_PROGRESS_STEP, 0, 0);
}

const ProgressSink g_RelaySink = {&RelaySetup, &RelayStep, nullptr};

// Before each tile the job hands the thread's pending messages out, so that a cancel arrives.
void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {  // keep it for the main loop
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void ReplyToPlugin(HWND self, ULONG_PTR code, const void* data, DWORD size)
{
    COPYDATASTRUCT cds;
    cds.dwData = code;
    cds.cbData = size;
    cds.lpData = const_cast<void*>(data);
    SendMessageW(g_hPluginWnd, WM_COPYDATA, reinterpret_cast<WPARAM>(self), reinterpret_cast<LPARAM>(&cds));
}

void ForgetJob()
{
    ReleaseImage(&g_InputImage);
    InitImage(&g_InputImage);
    g_bImageReceived = g_bPixelsReceived = g_bParamsReceived = false;
}

LRESULT OnCreate(HWND hwnd)
{
    InitImage(&g_InputImage);
    g_bComStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    // The set-up's error boxes and the announcement let messages in: an exit command that comes
    // then must not destroy the window (and the GPU object) under this handler.
    g_bSettingUp = true;
    if (!g_pGpgpu) g_pGpgpu = new CGPGPU;
    g_pGpgpu->Initialize();
    InstallGpuDrivers(g_pGpgpu->IsReady());
    SetProgressSink(&g_RelaySink);
    SetTilePumpHook(&PumpMessages);

    g_hPluginWnd = g_bExitAfterJob ? nullptr : FindWindowW(HPX_PLUGIN_WINDOW_CLASS, HPX_PLUGIN_WINDOW_TITLE);
    if (g_hPluginWnd)
    {
        HWND self = hwnd;
        ReplyToPlugin(hwnd, HPX_DATA_READY, &self, sizeof(uint32_t));
    }
    g_bSettingUp = false;
    // Asked to end during the set-up: the window is not made (WM_DESTROY tidies up).
    return g_bExitAfterJob ? -1 : 1;
}

// The exit command (and a close): at once when idle, else once the set-up or the job returns.
void RequestExit(HWND hwnd)
{
    if (g_bJobRunning || g_bSettingUp)
    {
        // The passes may run below this call: stop them.
        g_bExitAfterJob = true;
        g_bAbort = 1;
    }
    else
    {
        DestroyWindow(hwnd);
    }
}

LRESULT OnCopyData(const COPYDATASTRUCT* cds)
{
    // A job that runs owns the input: nothing replaces it under the passes.
    if (!cds || g_bJobRunning) return 0;
    switch (cds->dwData)
    {
    case HPX_DATA_IMAGE:
    {
        // A new record makes any pixels received so far meaningless; the parameters stay.
        ReleaseImage(&g_InputImage);
        InitImage(&g_InputImage);
        g_bImageReceived = g_bPixelsReceived = false;
        GpuImageShape shape;
        if (!ParseImageRecord(cds->lpData, cds->cbData, &shape)) break;
        if (CreateImage(&g_InputImage, shape.width, shape.height, shape.channels, shape.bits) != kImageOk)
        {
            InitImage(&g_InputImage);
            break;
        }
        g_bImageReceived = true;
        break;
    }
    case HPX_DATA_PIXELS:
        g_bPixelsReceived = false;
        if (g_bImageReceived && g_InputImage.m_pData && cds->lpData &&
            cds->cbData == static_cast<DWORD>(g_InputImage.m_iSize))
        {
            std::memcpy(g_InputImage.m_pData, cds->lpData, cds->cbData);
            g_bPixelsReceived = true;
        }
        break;
    case HPX_DATA_PARAMS:
        g_bParamsReceived = false;
        if (cds->lpData && cds->cbData == sizeof(DenoiseJobParams))
        {
            std::memcpy(&g_JobParams, cds->lpData, sizeof g_JobParams);
            g_bParamsReceived = true;
        }
        break;
    default:
        break;
    }
    return 0;
}

void OnRun(HWND hwnd)
{
    if (g_bJobRunning) return;  // a second run posted during the job is not a new job
    // From here on the job owns the input, also while a message box pumps messages.
    g_bJobRunning = true;
    g_bAbort = 0;
    g_bCancelRequested = false;

    bool replied = false;
    if (g_bImageReceived && g_bPixelsReceived && g_bParamsReceived)
    {
        ImageBuffer result;
        InitImage(&result);
        if (CopyImageLayout(&result, &g_InputImage) == kImageOk)
        {
            GpuJobSettings job = JobSettingsFromParams(g_JobParams);
            bool useGpu = g_pGpgpu && g_pGpgpu->IsReady();
            if (useGpu && !wglMakeCurrent(g_pGpgpu->m_hDC, g_pGpgpu->m_hRC))
            {
                MessageBoxW(nullptr, L"Can't Activate The GL Rendering Context.", L"ERROR", MB_ICONEXCLAMATION);
                useGpu = false;  // no GPU pass without the context: the job runs on the CPU
            }
            unsigned char status = RunGpuJob(&result, &g_InputImage, job, g_hPluginWnd, useGpu,
                                             [] { return g_bCancelRequested || g_bExitAfterJob; });
            if (useGpu && !wglMakeCurrent(nullptr, nullptr))
                MessageBoxW(nullptr, L"Can't Activate The GL Rendering Context.", L"ERROR", MB_ICONEXCLAMATION);

            if (!g_bAbort && status == kImageOk)
            {
                ReplyToPlugin(hwnd, HPX_DATA_RESULT, result.m_pData, static_cast<DWORD>(result.m_iSize));
                replied = true;
            }
        }
        ReleaseImage(&result);
    }
    // A run without a complete job, a cancelled one, or one that failed, ends as cancelled.
    if (!replied) ReplyToPlugin(hwnd, HPX_DATA_CANCELLED, nullptr, 0);
    g_bJobRunning = false;
    ForgetJob();
    DestroyWindow(hwnd);
}

void OnDestroy()
{
    InstallGpuDrivers(false);
    SetTilePumpHook(nullptr);
    SetProgressSink(nullptr);
    delete g_pGpgpu;  // its destructor makes the context current for the deletions
    g_pGpgpu = nullptr;
    ForgetJob();
    PostQuitMessage(0);
    if (g_bComStarted) CoUninitialize();
    g_bComStarted = false;
}

LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:
        return OnCreate(hwnd);
    case WM_COPYDATA:
        return OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_HPX_RUN:
        OnRun(hwnd);
        return 0;
    case WM_HPX_CANCEL:
        g_bCancelRequested = true;
        g_bAbort = 1;
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_EXIT)
        {
            RequestExit(hwnd);
            return 0;
        }
        break;
    case WM_CLOSE:  // from outside (the window is never shown): the default would destroy it now
        RequestExit(hwnd);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK GpuProcessWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    try
    {
        return HandleMessage(hwnd, message, wParam, lParam);
    }
    catch (...)
    {
        TraceCaughtException("GpuProcessWndProc");
        // Nothing may unwind into the system's frames: a job that threw ends as cancelled, a
        // set-up that threw makes no window.
        if (message == WM_CREATE)
        {
            g_bSettingUp = false;
            return -1;
        }
        if (message == WM_HPX_RUN)
        {
            g_bJobRunning = false;
            ReplyToPlugin(hwnd, HPX_DATA_CANCELLED, nullptr, 0);
            ForgetJob();
            DestroyWindow(hwnd);
        }
        return 0;
    }
}

ATOM RegisterGpuWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW wcex = {};
    wcex.cbSize = sizeof wcex;
    wcex.style = CS_HREDRAW | CS_VREDRAW;
    wcex.lpfnWndProc = GpuProcessWndProc;
    wcex.hInstance = instance;
    wcex.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_GPU_LARGE));
    wcex.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wcex.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wcex.lpszMenuName = MAKEINTRESOURCEW(IDC_HPXPROCESSGPU);
    wcex.lpszClassName = g_wszWindowClass;
    wcex.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_GPU_SMALL));
    return RegisterClassExW(&wcex);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    if (!LoadStringW(instance, IDS_APP_TITLE_GPU, g_wszTitle, 100)) wcscpy(g_wszTitle, HPX_GPU_WINDOW_TITLE);
    if (!LoadStringW(instance, IDC_HPXPROCESSGPU, g_wszWindowClass, 100))
        wcscpy(g_wszWindowClass, HPX_GPU_WINDOW_CLASS);
    RegisterGpuWindowClass(instance);

    HWND hwnd = CreateWindowExW(0, g_wszWindowClass, g_wszTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                                0, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 0;
    // The window is never shown.
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_HPXPROCESSGPU));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
