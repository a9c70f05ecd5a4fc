#include "BatchTestSupport.h"

#include <cstdlib>
#include <sstream>

#include "app/batch/BatchDenoiseFolder.h"
#include "app/view/BackBuffer.h"
#include "app/window/WindowMessages.h"
#include "imagefiles/ImageFile.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Settings.h"

namespace batchtest
{

namespace
{

int g_filesDone = 0;
int g_cancelAtReport = 0;

LRESULT CALLBACK CountingProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_HPX_BATCH_FILE_DONE)
    {
        // Answers as the progress dialog does: whether the batch is cancelled at this report.
        if (++g_filesDone == g_cancelAtReport) g_bBatchAbort = 1;
        return g_bBatchAbort;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

}  // namespace

HWND CreateTestWindow(const wchar_t* className, WNDPROC proc, HWND parent, DWORD style)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    return CreateWindowW(className, L"Owner", style, 0, 0, 640, 480, parent, nullptr, wc.hInstance, nullptr);
}

bool WriteTestImage(const std::wstring& path, int width, int height, int channels, int bits, bool alpha,
                    const std::wstring& metadataFrom)
{
    ImageBuffer image, mask;
    InitImage(&image);
    InitImage(&mask);
    bool failed = CreateImage(&image, width, height, channels, bits) != kImageOk ||
        (alpha && CreateImage(&mask, width, height, 1, bits) != kImageOk);
    unsigned seed = 12345u + unsigned(width * 31 + height);
    unsigned char* p = static_cast<unsigned char*>(image.m_pData);
    for (int32_t i = 0; !failed && i < image.m_iSize; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        p[i] = static_cast<unsigned char>(96 + ((seed >> 16) & 63));
    }
    unsigned char* a = static_cast<unsigned char*>(mask.m_pData);
    for (int32_t i = 0; !failed && i < mask.m_iSize; ++i) a[i] = static_cast<unsigned char>(i * 7);
    try
    {
        failed = failed ||
            WriteImageFile(&image, alpha ? &mask : nullptr, path.c_str(), 90, metadataFrom.c_str(),
                           kImageFormatUnknown);
    }
    catch (...)
    {
        failed = true;
    }
    ReleaseImage(&image);
    ReleaseImage(&mask);
    return !failed;
}

bool WaitUntil(const std::function<bool()>& condition)
{
    for (int i = 0; i < 24000; ++i)
    {
        if (condition()) return true;
        Sleep(5);
    }
    return condition();
}

StandInProcesses ReadStandInProcesses(const std::wstring& folder)
{
    StandInProcesses seen;
    std::istringstream pids(proftest::ReadBytes(folder + L"\\hpxcmd-pids.txt"));
    for (unsigned long pid; pids >> pid; ++seen.listed)
    {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
        seen.ended += !process || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        if (process) CloseHandle(process);
    }
    return seen;
}

ImageFacts ReadFacts(const std::wstring& path)
{
    ImageInfoStrings info;
    ImageBuffer* image = nullptr;
    ImageBuffer* alpha = nullptr;
    ImageFacts facts;
    if (ReadImageFile(&info, &image, &alpha, path.c_str())) return facts;
    facts = ImageFacts{image->m_iWidth, image->m_iHeight, image->m_iBits, alpha != nullptr};
    DeleteImageRecord(image);
    DeleteImageRecord(alpha);
    return facts;
}

void BatchFolders::SetUp()
{
    TempFolders::SetUp();
    ASSERT_TRUE(CreateDirectoryW(Tree().c_str(), nullptr));
    g_iHwAccel = 0;
    g_iGpuCpuFusion = 0;
    g_bBatchAbort = 0;
}

void BatchFolders::TearDown()
{
    g_iHwAccel = 0;
    g_iGpuCpuFusion = 0;
    g_bBatchAbort = 0;
    TempFolders::TearDown();
}

void BatchFolders::MakeFolder(const wchar_t* relative) const { CreateDirectoryW(Path(relative).c_str(), nullptr); }

void BatchFolders::InstallHpxCmd(const char* standIn) const
{
    std::wstring path = proftest::Widen(standIn);
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;  // a Unix path seen through Wine
    ASSERT_TRUE(CopyFileW(path.c_str(), (m_plugin + L"\\HPXCmd.exe").c_str(), FALSE));
}

int BatchFolders::RunWalker(const std::wstring& folder, int cancelAtReport)
{
    const std::wstring tree = folder.empty() ? Tree() : folder;
    static CBackBuffer doc{};
    CameraIsoTable profiles;
    profiles.Load();
    BatchJob job{};
    std::wcsncpy(job.wszInputDir, tree.c_str(), 1023);
    _snwprintf(job.wszOutputDir, 1023, L"%ls\\denoised", job.wszInputDir);
    job.hFind = FindFirstFileW((tree + L"/*.*").c_str(), &job.fd);
    job.pDocument = &doc;
    job.pProfiles = &profiles;
    job.hProgressDlg = CreateTestWindow(L"HpxBatchTestCounter", CountingProc, HWND_MESSAGE, 0);
    g_filesDone = 0;
    g_cancelAtReport = cancelAtReport;
    m_failed = BatchDenoiseFolder(&job);
    DestroyWindow(job.hProgressDlg);
    ReleaseImage(&doc.m_Source);
    ReleaseImage(&doc.m_Result);
    ReleaseImage(&doc.m_Alpha);
    return g_filesDone;
}

}  // namespace batchtest
