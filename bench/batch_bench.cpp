// Batch throughput: a folder of JPEG photos with a camera's EXIF (8 of about 12 MP unless told
// otherwise) is denoised by the batch walker on the CPU, file to file, and set against the engine's
// own jobs on the same decoded photos with the profile entry the batch picks. The goal is a batch
// at 90 % or more of the engine's throughput: reading, EXIF, profile lookup, detail gains and
// saving together under a tenth of the engine's time. The engine's time comes from passes that run
// the batch's steps one by one on the same files, each step timed, which also gives the breakdown.
// Prints figures only; nothing is asserted. The i686 build runs under Wine (slow under an
// emulator: pick a small size there).
//
//   hpx_batch_bench [--count N] [--mp MEGAPIXELS] [--rounds N] [--threads N] [--keep]
// --rounds: batch runs (2), each between passes of the steps; --threads: the processors the
// process may use (all), for steadier figures on a busy machine; --keep: the folder stays in %TEMP%.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchImage.h"
#include "BenchSystem.h"
#include "app/batch/BatchDenoiseFolder.h"
#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "engine/DenoiseImage.h"
#include "engine/DetailGainsInStrips.h"
#include "imagefiles/ImageFile.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Settings.h"

namespace
{

const wchar_t kMake[] = L"Canon";
const wchar_t kModel[] = L"Canon EOS 5D Mark II";
const uint16_t kIso = 3200;

// A photo-like picture with Gaussian noise of sigma 10 (a high-ISO photo; the noise also makes
// its JPEG file as large as such a photo's).
bool MakePhoto(ImageBuffer* photo, int w, int h, int seed)
{
    ImageBuffer clean;
    InitImage(&clean);
    const bool ok = MakeBarsPicture(&clean, w, h, 8) && CopyImageLayout(photo, &clean) == kImageOk &&
        AddGaussianNoise(photo, &clean, 10.0, seed);
    ReleaseImage(&clean);
    return ok;
}

// A little-endian TIFF block with IFD0 (Make, Model, the Exif directory) and an Exif directory
// holding ISOSpeedRatings: what the batch reads to pick its profile entry.
std::vector<uint8_t> ExifBlock()
{
    std::vector<uint8_t> b;
    auto u16 = [&](uint32_t v)
    {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    };
    auto u32 = [&](uint32_t v)
    {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    auto ascii = [](const wchar_t* text)
    {
        std::vector<uint8_t> s;
        for (; *text; ++text) s.push_back(uint8_t(*text));
        s.push_back(0);
        if (s.size() % 2) s.push_back(0);
        return s;
    };
    const std::vector<uint8_t> make = ascii(kMake), model = ascii(kModel);
    const uint32_t ifd0 = 8, ifd0Size = 2 + 3 * 12 + 4;
    const uint32_t makeAt = ifd0 + ifd0Size, modelAt = makeAt + uint32_t(make.size());
    const uint32_t exifAt = modelAt + uint32_t(model.size());
    b.insert(b.end(), {'I', 'I', 42, 0});
    u32(ifd0);
    // tag, type (2 text, 3 short, 4 long), count, value or offset
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t n, uint32_t value)
    {
        u16(tag);
        u16(type);
        u32(n);
        u32(value);
    };
    u16(3);
    entry(0x010F, 2, uint32_t(std::wcslen(kMake) + 1), makeAt);
    entry(0x0110, 2, uint32_t(std::wcslen(kModel) + 1), modelAt);
    entry(0x8769, 4, 1, exifAt);
    u32(0);
    b.insert(b.end(), make.begin(), make.end());
    b.insert(b.end(), model.begin(), model.end());
    u16(1);
    entry(0x8827, 3, 1, kIso);  // a short sits in the low bytes of the value field
    u32(0);
    return b;
}

// Puts the EXIF block into the JPEG file as its APP1 segment, after the JFIF header.
bool AddExif(const std::wstring& path)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    std::vector<uint8_t> jpeg;
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) jpeg.insert(jpeg.end(), chunk, chunk + n);
    std::fclose(f);
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    size_t at = 2;
    if (jpeg[2] == 0xFF && jpeg[3] == 0xE0) at += 2 + ((jpeg[4] << 8) | jpeg[5]);
    const std::vector<uint8_t> tiff = ExifBlock();
    const size_t length = 2 + 6 + tiff.size();
    std::vector<uint8_t> app1 = {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length), 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    jpeg.insert(jpeg.begin() + at, app1.begin(), app1.end());
    f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool ok = std::fwrite(jpeg.data(), 1, jpeg.size(), f) == jpeg.size();
    return std::fclose(f) == 0 && ok;
}

// Seconds of each step of the batch's work on one file, as the walker runs them (there the reading
// and saving overlap the next and previous photos' jobs).
struct Steps
{
    double read = 0, copy = 0, profile = 0, engine = 0, gains = 0, save = 0;
    int files = 0;
    double Total() const { return read + copy + profile + engine + gains + save; }
};

// The batch's steps on every photo, each timed: the engine's job among them, without the rest.
Steps RunSteps(CBackBuffer* doc, const CameraIsoTable& profiles, const std::vector<std::wstring>& photos,
               const std::wstring& outFolder)
{
    Steps s;
    for (const std::wstring& photo : photos)
    {
        wchar_t input[1024], output[1024];
        wcscpy(input, photo.c_str());
        wcscpy(output, (outFolder + photo.substr(photo.rfind(L'\\'))).c_str());
        double t = BenchSeconds();
        if (doc->OpenImageFile(input, true)) continue;
        double now = BenchSeconds();
        s.read += now - t;
        t = now;
        CopyImageLayout(&doc->m_Result, &doc->m_Source);
        CopyImagePixels(&doc->m_Result, &doc->m_Source);
        now = BenchSeconds();
        s.copy += now - t;
        t = now;
        const IsoSettings v = ChooseBatchProfile(profiles, doc->m_Info);
        now = BenchSeconds();
        s.profile += now - t;
        t = now;
        DenoiseImage(&doc->m_Result, &doc->m_Source, v.m_dStrength, v.m_dStrengthChroma, v.m_dStrengthChromaLarge,
                     g_iQualityMode, v.m_dDynamics, nullptr, true, false, g_iGpuCpuFusion != 0, v.m_iUseMedian);
        now = BenchSeconds();
        s.engine += now - t;
        t = now;
        ApplyDetailGainsInStrips(&doc->m_Result, v.m_dSharp1, v.m_dSharp2, v.m_dSharp3, 3, 8);
        now = BenchSeconds();
        s.gains += now - t;
        t = now;
        doc->SaveImageFile(output, input);
        s.save += BenchSeconds() - t;
        ++s.files;
    }
    return s;
}

int CountFiles(const std::wstring& folder)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*.jpg").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE)
    {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + L"\\" + name);
            else
                DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
}

void PrintStep(const char* what, double seconds, int files, double engine)
{
    std::printf("  %-28s %8.3f s per photo  %6.1f %% of the engine's time\n", what, seconds / files,
                100.0 * seconds / engine);
}

}  // namespace

int main(int argc, char** argv)
{
    int count = 8;
    double megapixels = 12.0;
    int rounds = 2;
    unsigned threads = 0;
    bool keep = false;
    for (int i = 1; i < argc; ++i)
    {
        if (!std::strcmp(argv[i], "--count") && i + 1 < argc) count = std::atoi(argv[++i]);
        if (!std::strcmp(argv[i], "--mp") && i + 1 < argc) megapixels = std::atof(argv[++i]);
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
        if (!std::strcmp(argv[i], "--threads") && i + 1 < argc) threads = unsigned(std::atoi(argv[++i]));
        if (!std::strcmp(argv[i], "--keep")) keep = true;
    }
    if (count < 1) count = 1;
    if (rounds < 1) rounds = 1;
    if (threads > 0 && !BenchLimitProcessors(threads)) std::printf("could not limit the processors to %u\n", threads);
    if (megapixels < 0.01) megapixels = 0.01;
    const int width = int(std::sqrt(megapixels * 1e6 * 4 / 3) + 0.5), height = width * 3 / 4;

    // A private settings folder and plug-in folder: no HPXCmd.exe beside the plug-in, the user's
    // profiles and JPEG quality untouched.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root = std::wstring(temp) + L"hpx_batch_bench_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring tree = root + L"\\photos", stepsOut = root + L"\\steps";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW(tree.c_str(), nullptr);
    CreateDirectoryW(stepsOut.c_str(), nullptr);
    SetAppDataFolderOverride(root.c_str());
    SetPluginFolderOverride(root.c_str());
    // The batch command's settings: full quality, on the CPU.
    g_iQualityMode = 3;
    g_iHwAccel = 0;
    g_iGpuCpuFusion = 0;

    std::printf("pointer size %u bits, %u processors%s\n", unsigned(sizeof(void*) * 8),
                threads ? threads : BenchAllProcessors(), threads ? " (limited)" : "");
    std::printf("batch of %d JPEG photos, %d x %d (%.1f MP) 8-bit RGB, EXIF \"%ls / %ls\" ISO %u\n", count, width,
                height, width * height / 1e6, kMake, kModel, unsigned(kIso));
    std::vector<std::wstring> photos;
    const double tw = BenchSeconds();
    long long bytes = 0;
    for (int i = 0; i < count; ++i)
    {
        ImageBuffer photo;
        InitImage(&photo);
        wchar_t name[32];
        swprintf(name, 32, L"\\photo%02d.jpg", i);
        const std::wstring path = tree + name;
        if (!MakePhoto(&photo, width, height, i + 1) ||
            WriteImageFile(&photo, nullptr, path.c_str(), 92, L"", kImageFormatJpeg) || !AddExif(path))
        {
            std::printf("could not write %ls\n", path.c_str());
            return 1;
        }
        ReleaseImage(&photo);
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a)) bytes += a.nFileSizeLow;
        photos.push_back(path);
    }
    std::printf("  written in %.1f s, %.1f MB per file\n", BenchSeconds() - tw, bytes / 1e6 / count);

    // The profile table as the batch thread loads it, with an entry for the photos' camera and
    // ISO whose detail gains do something (neutral gains would skip their pyramid).
    CameraIsoTable profiles;
    profiles.Load();
    static CBackBuffer doc{};
    wchar_t first[1024];
    wcscpy(first, photos[0].c_str());
    if (doc.OpenImageFile(first, true))
    {
        std::printf("could not read %ls\n", first);
        return 1;
    }
    wchar_t camera[HPX_CAMERA_NAME_CHARS];
    swprintf(camera, HPX_CAMERA_NAME_CHARS, L"%ls / %ls", doc.m_Info[ImageInfoStrings::kMake],
             doc.m_Info[ImageInfoStrings::kModel]);
    NormalizeCameraName(camera, camera);
    IsoSettings entry = DefaultIsoSettings();
    entry.m_iISO = kIso;
    entry.m_dStrength = entry.m_dStrengthChroma = 15.0;
    entry.m_dSharp1 = 1.3;
    entry.m_dSharp2 = 1.2;
    entry.m_dSharp3 = 1.1;
    profiles.AddOrUpdate(camera, doc.m_Info[ImageInfoStrings::kIso], &entry);
    const IsoSettings chosen = ChooseBatchProfile(profiles, doc.m_Info);
    std::printf("profile entry \"%ls\" ISO %ls: %s (strengths %.0f/%.0f/%.0f, gains %.1f/%.1f/%.1f), quality %d\n",
                camera, doc.m_Info[ImageInfoStrings::kIso],
                chosen.m_dSharp1 == entry.m_dSharp1 ? "found" : "NOT FOUND, default entry", chosen.m_dStrength,
                chosen.m_dStrengthChroma, chosen.m_dStrengthChromaLarge, chosen.m_dSharp1, chosen.m_dSharp2,
                chosen.m_dSharp3, g_iQualityMode);

    // The weight tables and the pool are made by the first job: not in either figure.
    {
        ImageBuffer small, out;
        InitImage(&small);
        InitImage(&out);
        MakePhoto(&small, 256, 256, 99);
        CopyImageLayout(&out, &small);
        DenoiseImage(&out, &small, 15, 15, 0, g_iQualityMode, 0, nullptr, true, false, false, 0);
        ReleaseImage(&small);
        ReleaseImage(&out);
    }

    // Rounds of the batch, each between two passes of its steps (the engine's job among them):
    // the machine's load changes meanwhile, so each round is set against its neighbours, and the
    // summary takes each figure's fastest pass, the least disturbed one.
    std::vector<Steps> passes{RunSteps(&doc, profiles, photos, stepsOut)};
    std::vector<double> batches;
    int written = 0;
    for (int r = 0; r < rounds; ++r)
    {
        RemoveTree(tree + L"\\denoised");
        BatchJob job{};
        wcscpy(job.wszInputDir, tree.c_str());
        wcscpy(job.wszOutputDir, (tree + L"\\denoised").c_str());
        job.hFind = FindFirstFileW((tree + L"/*.*").c_str(), &job.fd);
        job.pDocument = &doc;
        job.pProfiles = &profiles;
        const double t0 = BenchSeconds();
        BatchDenoiseFolder(&job);
        batches.push_back(BenchSeconds() - t0);
        written = CountFiles(tree + L"\\denoised");
        passes.push_back(RunSteps(&doc, profiles, photos, stepsOut));
        const double engine = (passes[r].engine + passes[r + 1].engine) / 2;
        std::printf("round %d: engine %.2f s, batch %.2f s (%d of %d written), engine %.2f s: %.1f %%\n", r + 1,
                    passes[r].engine, batches[r], written, count, passes[r + 1].engine, 100.0 * engine / batches[r]);
    }

    Steps s = passes[0];
    for (const Steps& p : passes)
    {
        s.read = std::min(s.read, p.read);
        s.copy = std::min(s.copy, p.copy);
        s.profile = std::min(s.profile, p.profile);
        s.engine = std::min(s.engine, p.engine);
        s.gains = std::min(s.gains, p.gains);
        s.save = std::min(s.save, p.save);
    }
    const double batch = *std::min_element(batches.begin(), batches.end());
    const int n = s.files > 0 ? s.files : 1;
    std::printf("engine jobs alone:  %8.2f s (%.2f s per photo, fastest of %zu passes)\n", s.engine, s.engine / n,
                passes.size());
    std::printf("batch walker:       %8.2f s (%.2f s per photo, fastest of %d rounds)\n", batch, batch / count, rounds);
    std::printf("batch throughput:   %8.1f %% of the engine's (goal: at least 90 %%)\n", 100.0 * s.engine / batch);
    std::printf("the batch's steps one by one (each the fastest of its passes):\n");
    PrintStep("reading, decoding, EXIF", s.read, n, s.engine);
    PrintStep("copy of the source", s.copy, n, s.engine);
    PrintStep("profile lookup", s.profile, n, s.engine);
    PrintStep("denoise (the engine's job)", s.engine, n, s.engine);
    PrintStep("detail gains in strips", s.gains, n, s.engine);
    PrintStep("saving, JPEG and metadata", s.save, n, s.engine);
    PrintStep("all steps", s.Total(), n, s.engine);
    PrintStep("the batch beyond its steps", batch - s.Total(), n, s.engine);

    ReleaseImage(&doc.m_Source);
    ReleaseImage(&doc.m_Result);
    ReleaseImage(&doc.m_Alpha);
    if (keep)
        std::printf("files kept in %ls\n", root.c_str());
    else
        RemoveTree(root);
    return 0;
}
