#include "BatchTestSupport.h"

#include <cstdlib>

#include "app/batch/BatchDenoiseFolder.h"
#include "app/view/BackBuffer.h"
#include "app/window/WindowMessages.h"
#include "imagefiles/ImageFile.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Settings.h"

namespace batchtest {

namespace {

int g_filesDone = 0;

LRESULT CALLBACK CountingProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_HPX_BATCH_FILE_DONE) {
        ++g_filesDone;
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

HWND CreateCountingWindow()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HpxBatchTestCounter";
    RegisterClassW(&wc);
    return CreateWindowW(L"HpxBatchTestCounter", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

}  // namespace

bool WriteTestImage(const std::wstring& path, int width, int height, int channels, int bits)
{
    ImageBuffer image;
    InitImage(&image);
    if (CreateImage(&image, width, height, channels, bits) != kImageOk) return false;
    unsigned seed = 12345u + unsigned(width * 31 + height);
    unsigned char* p = static_cast<unsigned char*>(image.m_pData);
    for (int32_t i = 0; i < image.m_iSize; ++i) {
        seed = seed * 1103515245u + 12345u;
        p[i] = static_cast<unsigned char>(96 + ((seed >> 16) & 63));
    }
    bool failed = true;
    try {
        failed = WriteImageFile(&image, nullptr, path.c_str(), 90, L"", kImageFormatUnknown);
    } catch (...) {
    }
    ReleaseImage(&image);
    return !failed;
}

std::pair<int, int> ImageSize(const std::wstring& path)
{
    ImageInfoStrings info;
    ImageBuffer* image = nullptr;
    ImageBuffer* alpha = nullptr;
    if (ReadImageFile(&info, &image, &alpha, path.c_str())) return {0, 0};
    std::pair<int, int> size{image->m_iWidth, image->m_iHeight};
    DeleteImageRecord(image);
    DeleteImageRecord(alpha);
    return size;
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

int BatchFolders::RunWalker(const std::wstring& folder)
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
    job.hProgressDlg = CreateCountingWindow();
    g_filesDone = 0;
    BatchDenoiseFolder(&job);
    DestroyWindow(job.hProgressDlg);
    ReleaseImage(&doc.m_Source);
    ReleaseImage(&doc.m_Result);
    ReleaseImage(&doc.m_Alpha);
    return g_filesDone;
}

}  // namespace batchtest
