// Batch throughput against the engine's own job time on the same photos: a folder of JPEG
// photos (8 of about 12 MP unless told otherwise) is denoised once by the engine alone, in
// memory, and once by the batch walker (reading, EXIF, profile, denoising, detail gains, saving).
// Prints the figures; asserts nothing. Built with the tests, run by hand:
//   wine batch_bench.exe [--count N] [--mp MEGAPIXELS]
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/batch/BatchDenoiseFolder.h"
#include "app/view/BackBuffer.h"
#include "engine/DenoiseImage.h"
#include "imagefiles/ImageFile.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Settings.h"

namespace
{

double Seconds()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

// A photo-like test image: smooth colour gradients with blobs, plus noise.
void MakePhoto(ImageBuffer* image, int width, int height, unsigned seed)
{
    CreateImage(image, width, height, 3, 8);
    unsigned char* p = static_cast<unsigned char*>(image->m_pData);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, p += 3)
        {
            const double base = 120 + 60 * std::sin(x * 0.004 + seed) * std::cos(y * 0.003);
            for (int c = 0; c < 3; ++c)
            {
                seed = seed * 1103515245u + 12345u;
                const int v = int(base + 20 * c + int((seed >> 16) % 41) - 20);
                p[c] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
}

LRESULT CALLBACK Ignore(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

}  // namespace

int main(int argc, char** argv)
{
    int count = 8;
    double megapixels = 12.0;
    for (int i = 1; i + 1 < argc; ++i)
    {
        if (!std::strcmp(argv[i], "--count")) count = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--mp")) megapixels = std::atof(argv[i + 1]);
    }
    const int width = int(std::sqrt(megapixels * 1e6 * 4 / 3) + 0.5), height = width * 3 / 4;

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root = std::wstring(temp) + L"hpx_batch_bench_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring tree = root + L"\\photos";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW(tree.c_str(), nullptr);
    SetAppDataFolderOverride(root.c_str());
    SetPluginFolderOverride(root.c_str());
    std::printf("batch bench: %d JPEG photos of %dx%d (%.1f MP)\n", count, width, height, width * height / 1e6);

    CameraIsoTable profiles;
    profiles.Load();
    // Detail gains that do something, so that their cost is part of the batch's.
    IsoSettings& entry = profiles.m_pCameras[0].m_pSettings[0];
    entry.m_dSharp1 = 1.3;
    entry.m_dSharp2 = 1.2;
    entry.m_dSharp3 = 1.1;
    const IsoSettings values = entry;

    // The engine alone, on the decoded pixels; once before and once after the batch, since the
    // machine's load changes meanwhile.
    auto engineJobs = [&](bool writeFiles)
    {
        double seconds = 0;
        for (int i = 0; i < count; ++i)
        {
            ImageBuffer src, dst;
            InitImage(&src);
            InitImage(&dst);
            MakePhoto(&src, width, height, unsigned(i + 1));
            if (writeFiles)
                WriteImageFile(&src, nullptr, (tree + L"\\photo" + std::to_wstring(i) + L".jpg").c_str(), 90, L"",
                               kImageFormatJpeg);
            CopyImageLayout(&dst, &src);
            const double t0 = Seconds();
            DenoiseImage(&dst, &src, values.m_dStrength, values.m_dStrengthChroma, values.m_dStrengthChromaLarge, 3,
                         values.m_dDynamics, nullptr, true, false, false, values.m_iUseMedian);
            seconds += Seconds() - t0;
            ReleaseImage(&src);
            ReleaseImage(&dst);
        }
        return seconds;
    };
    const double engineBefore = engineJobs(true);

    // The batch: the same files from disk to disk.
    WNDCLASSW wc{};
    wc.lpfnWndProc = Ignore;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HpxBatchBench";
    RegisterClassW(&wc);
    static CBackBuffer doc{};
    BatchJob job{};
    wcscpy(job.wszInputDir, tree.c_str());
    wcscpy(job.wszOutputDir, (tree + L"\\denoised").c_str());
    job.hFind = FindFirstFileW((tree + L"/*.*").c_str(), &job.fd);
    job.pDocument = &doc;
    job.pProfiles = &profiles;
    job.hProgressDlg =
        CreateWindowW(L"HpxBatchBench", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    const double t0 = Seconds();
    BatchDenoiseFolder(&job);
    const double batch = Seconds() - t0;
    const double engineAfter = engineJobs(false);
    const double engine = (engineBefore + engineAfter) / 2;
    std::printf("engine passes:     %8.2f s before, %.2f s after the batch\n", engineBefore, engineAfter);

    std::printf("engine jobs alone: %8.2f s (%.2f s per photo)\n", engine, engine / count);
    std::printf("batch walker:      %8.2f s (%.2f s per photo)\n", batch, batch / count);
    std::printf("batch throughput:  %8.1f %% of the engine's (goal: at least 90 %%)\n", 100.0 * engine / batch);
    std::printf("batch overhead:    %8.2f s per photo (reading, EXIF, profile, detail gains, saving)\n",
                (batch - engine) / count);

    ReleaseImage(&doc.m_Source);
    ReleaseImage(&doc.m_Result);
    ReleaseImage(&doc.m_Alpha);
    for (int i = 0; i < count; ++i)
    {
        DeleteFileW((tree + L"\\photo" + std::to_wstring(i) + L".jpg").c_str());
        DeleteFileW((tree + L"\\denoised\\photo" + std::to_wstring(i) + L".jpg").c_str());
    }
    RemoveDirectoryW((tree + L"\\denoised").c_str());
    RemoveDirectoryW(tree.c_str());
    DeleteFileW((root + L"\\HPXPhotoshopPlugIn\\CameraISOSettingX.ini").c_str());
    DeleteFileW((root + L"\\HPXPhotoshopPlugIn\\HPXPhotoshopPlugIn.txt").c_str());
    RemoveDirectoryW((root + L"\\HPXPhotoshopPlugIn").c_str());
    RemoveDirectoryW(root.c_str());
    return 0;
}
