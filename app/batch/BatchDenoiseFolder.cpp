#include "app/batch/BatchDenoiseFolder.h"

#include <shellapi.h>

#include <cstdarg>
#include <cwchar>

#include "app/batch/BatchProgressDialog.h"
#include "app/dialogs/BatchOptionsDialog.h"
#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "engine/DenoiseImage.h"
#include "engine/DetailGainsInStrips.h"
#include "imagefiles/ImageInfo.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Settings.h"

std::atomic<unsigned char> g_bBatchAbort{0};
std::atomic<unsigned char> g_bBatchClosing{0};

namespace
{

const size_t kPathChars = 1024;
// How long a cancelled batch still waits for a running HPXCmd before it leaves it alone.
DWORD g_dwHpxCmdGraceAfterCancelMs = 30000;
const DWORD kWaitSliceMs = 100;

// Formatting into a buffer of kPathChars characters: false (and an empty text) when the result
// would not fit.
bool FormatFits(wchar_t* out, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = vswprintf(out, kPathChars, format, args);
    va_end(args);
    if (n < 0 || size_t(n) >= kPathChars)
    {
        out[0] = 0;
        return false;
    }
    return true;
}

bool IsDotEntry(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

void ReportFileDone(const BatchJob* job)
{
    if (job->hProgressDlg) SendMessageW(job->hProgressDlg, WM_HPX_BATCH_FILE_DONE, 0, 0);
}

void CloseSearch(BatchJob* job)
{
    if (job->hFind != INVALID_HANDLE_VALUE && job->hFind != nullptr) FindClose(job->hFind);
    job->hFind = INVALID_HANDLE_VALUE;
}

// The detail gains on the denoised result, through the pyramid of its 3-channel form (at most 3
// levels, cap 8), strip by strip: a whole 24 MP pyramid does not fit a 32-bit process, and the
// photo would silently lose its gains.
void ApplyBatchDetailGains(ImageBuffer* result, const IsoSettings& values)
{
    ApplyDetailGainsInStrips(result, values.m_dSharp1, values.m_dSharp2, values.m_dSharp3, 3, 8);
}

bool DenoiseOnCpu(BatchJob* job, wchar_t* input, wchar_t* output, const IsoSettings& values)
{
    CBackBuffer* doc = job->pDocument;
    DenoiseImage(&doc->m_Result, &doc->m_Source, values.m_dStrength, values.m_dStrengthChroma,
                 values.m_dStrengthChromaLarge, g_iQualityMode, values.m_dDynamics, nullptr, true, false,
                 g_iGpuCpuFusion != 0, values.m_iUseMedian);
    ApplyBatchDetailGains(&doc->m_Result, values);
    // A failed save is passed over like an unreadable file: the batch has no one to tell.
    return !doc->SaveImageFile(output, input);
}

// Runs HPXCmd on one file and waits for it. False when it could not be started (no program in
// the plug-in's folder, a command that would not fit, a failed start): the caller then denoises
// the file on the CPU instead of leaving it unwritten.
bool DenoiseWithHpxCmd(const wchar_t* input, const wchar_t* output, const IsoSettings& values)
{
    wchar_t folder[kPathChars];
    GetPluginFolder(folder);
    if (!folder[0] || !std::wcschr(folder, L'\\')) return false;
    wchar_t program[kPathChars], directory[kPathChars];
    if (!FormatFits(program, L"%ls\\HPXCmd.exe", folder) || !FormatFits(directory, L"%ls\\", folder)) return false;
    const DWORD attributes = GetFileAttributesW(program);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;

    wchar_t settingsPath[kPathChars];
    GetSettingsFilePath(settingsPath);
    wchar_t parameters[kPathChars];
    if (!FormatHpxCmdParameters(parameters, input, output, settingsPath, values)) return false;

    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpVerb = L"open";
    sei.lpFile = L"cmd";
    sei.lpParameters = parameters;
    sei.lpDirectory = directory;
    sei.nShow = SW_HIDE;
    if (!ShellExecuteExW(&sei) || !sei.hProcess) return false;

    // In slices, so that a cancel (or the main window closing) is seen; a cancelled run still
    // lets the file finish for a while, then leaves a hung program alone.
    DWORD waitedAfterCancel = 0;
    while (WaitForSingleObject(sei.hProcess, kWaitSliceMs) == WAIT_TIMEOUT)
    {
        if (g_bBatchAbort)
        {
            waitedAfterCancel += kWaitSliceMs;
            if (waitedAfterCancel >= g_dwHpxCmdGraceAfterCancelMs) break;
        }
    }
    CloseHandle(sei.hProcess);
    return true;
}

void ProcessFile(BatchJob* job)
{
    CBackBuffer* doc = job->pDocument;
    wchar_t input[kPathChars], output[kPathChars];
    if (!FormatFits(input, L"%ls\\%ls", job->wszInputDir, job->fd.cFileName) ||
        !FormatFits(output, L"%ls\\%ls", job->wszOutputDir, job->fd.cFileName))
    {
        ReportFileDone(job);
        return;
    }
    if (doc->OpenImageFile(input, true)) return;  // not an image: passed over without a count

    bool usable = CopyImageLayout(&doc->m_Result, &doc->m_Source) == kImageOk;
    if (usable) CopyImagePixels(&doc->m_Result, &doc->m_Source);
    const ImageBuffer& src = doc->m_Source;
    usable = usable && src.m_pData && doc->m_Result.m_pData && src.m_iWidth >= 16 && src.m_iHeight >= 16 &&
        src.m_iBits >= 8 && src.m_iBits <= 16;
    if (usable)
    {
        if (GetFileAttributesW(job->wszOutputDir) == INVALID_FILE_ATTRIBUTES &&
            !CreateDirectoryW(job->wszOutputDir, nullptr))
        {
            // Nowhere to write this level's results: the rest of the level is left.
            CloseSearch(job);
            return;
        }
        const IsoSettings values = ChooseBatchProfile(*job->pProfiles, doc->m_Info);
        if (!(g_iHwAccel && DenoiseWithHpxCmd(input, output, values))) DenoiseOnCpu(job, input, output, values);
    }
    ReportFileDone(job);
}

void WalkSubFolder(const BatchJob* parent)
{
    BatchJob child = *parent;
    child.hFind = INVALID_HANDLE_VALUE;
    wchar_t pattern[kPathChars];
    if (!FormatFits(child.wszInputDir, L"%ls/%ls", parent->wszInputDir, parent->fd.cFileName) ||
        !FormatFits(child.wszOutputDir, L"%ls\\denoised", child.wszInputDir) ||
        !FormatFits(pattern, L"%ls/*.*", child.wszInputDir))
        return;
    child.hFind = FindFirstFileW(pattern, &child.fd);
    // A folder that cannot be listed is passed over.
    if (child.hFind == INVALID_HANDLE_VALUE) return;
    BatchDenoiseFolder(&child);
}

}  // namespace

void SetHpxCmdCancelGrace(DWORD ms) { g_dwHpxCmdGraceAfterCancelMs = ms; }

bool IsDenoisedFolderName(const wchar_t* name) { return _wcsicmp(name, L"denoised") == 0; }

IsoSettings ChooseBatchProfile(const CameraIsoTable& profiles, const ImageInfoStrings& info)
{
    uint32_t row = 0, index = 0;
    const wchar_t* make = info[ImageInfoStrings::kMake];
    const wchar_t* isoText = info[ImageInfoStrings::kIso];
    if (make[0])
    {
        wchar_t camera[HPX_CAMERA_NAME_CHARS];
        if (swprintf(camera, HPX_CAMERA_NAME_CHARS, L"%ls / %ls", make, info[ImageInfoStrings::kModel]) < 0)
            camera[HPX_CAMERA_NAME_CHARS - 1] = 0;
        NormalizeCameraName(camera, camera);
        profiles.FindCamera(&row, camera);
        // A camera without entries is as good as unknown.
        if (row < profiles.m_uiCameraCount && profiles.m_pCameras[row].m_uiISOCount == 0) row = 0;
        profiles.FindIsoIndex(&index, isoText, row);
        const bool found = row < profiles.m_uiCameraCount && index < profiles.m_pCameras[row].m_uiISOCount &&
            profiles.m_pCameras[row].m_piISO && profiles.m_pCameras[row].m_piISO[index] == ParseIntText(isoText);
        if (!found) row = index = 0;
    }
    IsoSettings values;
    // A damaged file may leave row 0 without entries: the built-in entry then, never zeros or
    // the previous file's values.
    if (profiles.GetIsoSettings(&values, row, index)) values = DefaultIsoSettings();
    return values;
}

bool FormatHpxCmdParameters(wchar_t out[1024], const wchar_t* input, const wchar_t* output, const wchar_t* settingsPath,
                            const IsoSettings& v)
{
    const wchar_t* format = g_iGpuCpuFusion ? L" /C HPXCmd.exe -gpu -fusion -i \"%ls\" -o \"%ls\" -l \"%ls\" -si %.2f "
                                              L"-sc %.2f -scs %.2f -dyn %.2f -c %i -sl1 %.2f -sl2 %.2f -sl3 %.2f -pa %i"
                                            : L" /C HPXCmd.exe -gpu -i \"%ls\" -o \"%ls\" -l \"%ls\" -si %.2f -sc %.2f "
                                              L"-scs %.2f -dyn %.2f -c %i -sl1 %.2f -sl2 %.2f -sl3 %.2f -pa %i";
    return FormatFits(out, format, input, output, settingsPath, v.m_dStrength, v.m_dStrengthChroma,
                      v.m_dStrengthChromaLarge, v.m_dDynamics, g_iBatchJpegQuality, v.m_dSharp1, v.m_dSharp2,
                      v.m_dSharp3, int(v.m_iUseMedian));
}

void BatchDenoiseFolder(BatchJob* job)
{
    if (!job) return;
    if (job->hFind == INVALID_HANDLE_VALUE || job->hFind == nullptr) return;
    for (;;)
    {
        if (g_bBatchAbort) break;
        const wchar_t* name = job->fd.cFileName;
        if (!IsDotEntry(name) && !IsDenoisedFolderName(name))
        {
            try
            {
                if (job->fd.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY)
                    WalkSubFolder(job);
                else
                    ProcessFile(job);
            }
            catch (...)
            {
                // A file whose reading, denoising or saving throws is passed over like any
                // other that fails; the walk goes on.
            }
            if (job->hFind == INVALID_HANDLE_VALUE) return;  // the level was given up
        }
        if (!FindNextFileW(job->hFind, &job->fd)) break;
    }
    CloseSearch(job);
}

int CountImageFiles(const wchar_t* folder)
{
    if (!folder) return 0;
    wchar_t pattern[kPathChars];
    if (!FormatFits(pattern, L"%ls/*.*", folder)) return 0;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(pattern, &fd);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        if (IsDotEntry(fd.cFileName) || IsDenoisedFolderName(fd.cFileName)) continue;
        if (fd.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY)
        {
            wchar_t sub[kPathChars];
            if (FormatFits(sub, L"%ls/%ls", folder, fd.cFileName)) count += CountImageFiles(sub);
        }
        if (const wchar_t* dot = std::wcsrchr(fd.cFileName, L'.'))
        {
            for (const wchar_t* ext : {L".bmp", L".gif", L".jpg", L".tif", L".png"})
                if (_wcsicmp(dot, ext) == 0) ++count;
        }
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return count;
}
