// The Windows side of the platform seam against real system objects (run under Wine): the
// default progress sink on a progress-bar control 1037, the processor count, the named mutex.
#ifdef _WIN32

#include <windows.h>
#include <commctrl.h>

#include "engine/Platform.h"

#include <gtest/gtest.h>

namespace
{

// A hidden parent window with a progress bar of id 1037 (IDC_PROGRESS).
struct ProgressWindow
{
    HWND hParent = nullptr;
    HWND hBar = nullptr;

    ProgressWindow()
    {
        HMODULE hComctl = LoadLibraryW(L"comctl32.dll");
        if (hComctl != nullptr)
        {
            typedef BOOL(WINAPI * InitFn)(const INITCOMMONCONTROLSEX*);
            InitFn pfnInit =
                reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(hComctl, "InitCommonControlsEx")));
            INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
            if (pfnInit != nullptr) pfnInit(&icc);
        }
        hParent = CreateWindowExW(0, L"STATIC", L"progress host", WS_POPUP, 0, 0, 300, 60, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        if (hParent != nullptr)
            hBar = CreateWindowExW(0, L"msctls_progress32", L"", WS_CHILD, 0, 0, 280, 20, hParent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdcProgress)),
                                   GetModuleHandleW(nullptr), nullptr);
    }
    ~ProgressWindow()
    {
        if (hParent != nullptr) DestroyWindow(hParent);
    }
    int Pos() const { return static_cast<int>(SendMessageW(hBar, PBM_GETPOS, 0, 0)); }
    int High() const { return static_cast<int>(SendMessageW(hBar, PBM_GETRANGE, FALSE, 0)); }
};

TEST(PlatformWin32, DefaultSinkDrivesTheProgressBar)
{
    SetProgressSink(nullptr);
    ProgressWindow w;
    ASSERT_NE(w.hBar, nullptr);
    ProgressSetup(w.hParent, 275);
    EXPECT_EQ(w.High(), 275);
    EXPECT_EQ(w.Pos(), 1);
    ProgressStep(w.hParent);
    ProgressStep(w.hParent);
    EXPECT_EQ(w.Pos(), 3);
    // A total above 65535 takes the 32-bit range instead of wrapping.
    ProgressSetup(w.hParent, 70000);
    EXPECT_EQ(w.High(), 70000);
    EXPECT_EQ(w.Pos(), 1);
    for (int i = 0; i < 100; ++i) ProgressStep(w.hParent);
    EXPECT_EQ(w.Pos(), 101);
}

TEST(PlatformWin32, ProcessorCountFollowsTheAffinityMasks)
{
    DWORD_PTR uProcess = 0, uSystem = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &uProcess, &uSystem));
    const unsigned expect = AffinityBitLength(uProcess & uSystem);
    EXPECT_EQ(CountProcessors(), expect == 0 ? 1u : expect);
}

TEST(PlatformWin32, NamedMutexIsTheKernelObject)
{
    PlatformMutex* pMutex = PlatformCreateNamedMutex(L"ProtectQueueSync");
    ASSERT_NE(pMutex, nullptr);
    HANDLE hOther = OpenMutexW(SYNCHRONIZE, FALSE, L"ProtectQueueSync");
    ASSERT_NE(hOther, nullptr);  // it exists under that name
    PlatformWaitMutex(pMutex);
    // Another thread cannot take it while we own it.
    struct Arg
    {
        HANDLE h;
        DWORD result;
    } arg = {hOther, 0};
    PlatformThread* pThread = PlatformStartThread(
        [](void* p) -> unsigned
        {
            Arg* a = static_cast<Arg*>(p);
            a->result = WaitForSingleObject(a->h, 50);
            if (a->result == WAIT_OBJECT_0) ReleaseMutex(a->h);
            return 0;
        },
        &arg);
    ASSERT_NE(pThread, nullptr);
    EXPECT_TRUE(PlatformJoinThread(pThread, kPlatformWaitForever));
    PlatformCloseThread(pThread);
    EXPECT_EQ(arg.result, static_cast<DWORD>(WAIT_TIMEOUT));
    PlatformReleaseMutex(pMutex);
    EXPECT_EQ(WaitForSingleObject(hOther, 1000), static_cast<DWORD>(WAIT_OBJECT_0));
    ReleaseMutex(hOther);
    CloseHandle(hOther);
    PlatformCloseMutex(pMutex);
}

}  // namespace

#endif  // _WIN32
