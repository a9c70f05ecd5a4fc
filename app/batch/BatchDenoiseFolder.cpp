#include "app/batch/BatchDenoiseFolder.h"

#include <cstdarg>
#include <cwchar>
#include <string>
#include <vector>

#include "app/batch/BatchFileWorker.h"
#include "app/batch/BatchProgressDialog.h"
#include "app/dialogs/BatchOptionsDialog.h"
#include "app/files/ImageFileNames.h"
#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "engine/DenoiseImage.h"
#include "engine/DetailGainsInStrips.h"
#include "imagefiles/ImageInfo.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Settings.h"
#include "ui/CaughtExceptionTrace.h"
#include "ui/ScopedWin32.h"

std::atomic<unsigned char> g_bBatchAbort{0};
std::atomic<unsigned char> g_bBatchClosing{0};

namespace
{

const size_t kPathChars = 1024;
// How long a cancelled batch still waits for a running HPXCmd before it leaves it alone.
DWORD g_dwHpxCmdGraceAfterCancelMs = 30000;
const DWORD kWaitSliceMs = 100;
const DWORD kTreePollMs = 10;
const int kTreeEndPolls = 500;  // 5 s for an ended tree to be gone

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

void CloseSearch(BatchJob* job)
{
    if (job->hFind != INVALID_HANDLE_VALUE && job->hFind != nullptr) FindClose(job->hFind);
    job->hFind = INVALID_HANDLE_VALUE;
}

// The detail gains on the denoised result, through the pyramid of its 3-channel form (at most 3
// levels, cap 8), strip by strip: a whole 24 MP pyramid does not fit a 32-bit process, and the
// photo would silently lose its gains.
unsigned char ApplyBatchDetailGains(ImageBuffer* result, const IsoSettings& values)
{
    return ApplyDetailGainsInStrips(result, values.m_dSharp1, values.m_dSharp2, values.m_dSharp3, 3, 8);
}

// The state of one run shared by its folder levels. The walk runs one photo behind its reading:
// while the photo read last ("pending", in the document) is denoised on this thread, the file
// worker reads the next one and saves the one before.
struct BatchRun
{
    explicit BatchRun(const BatchJob* job) : doc(job->pDocument), worker(job->hProgressDlg) {}
    CBackBuffer* doc;
    BatchFileWorker worker;
    bool pending = false;
    wchar_t input[kPathChars] = L"", output[kPathChars] = L"";
    IsoSettings values{};
    bool readAgain = false;  // the photo read ahead was let go to give a failed job its memory
    int failed = 0;
    // The file in hand has not been reported yet (it is neither pending nor reported done).
    bool unreported = false;
    // The output folders this run created: one that ends up empty (its photos cancelled, failed
    // or cut short) is removed at the end.
    std::vector<std::wstring> madeFolders;
};

// The job and the gains of the pending photo: false when either failed (out of memory, most
// likely, for a large photo in a 32-bit host: the result would hold the source's pixels).
bool DenoisePending(BatchRun* run)
{
    CBackBuffer* doc = run->doc;
    const IsoSettings& v = run->values;
    if (DenoiseImage(&doc->m_Result, &doc->m_Source, v.m_dStrength, v.m_dStrengthChroma, v.m_dStrengthChromaLarge,
                     g_iQualityMode, v.m_dDynamics, nullptr, true, false, g_iGpuCpuFusion != 0,
                     v.m_iUseMedian) != kImageOk)
        return false;
    return g_bAbort || ApplyBatchDetailGains(&doc->m_Result, v) == kImageOk;
}

// Denoises the pending photo and hands it to the worker for saving. Not written: a photo whose
// job or gains failed (counted, and reported done), one whose job the engine's abort cut short
// (the window closing), and one after a cancel.
void RunPending(BatchRun* run)
{
    if (!run->pending) return;
    run->pending = false;
    CBackBuffer* doc = run->doc;
    BatchFileWorker& worker = run->worker;
    if (!worker.Busy() && worker.CancelledAtLastDone()) return;
    // Whether another photo's reading or saving ran beside the job, holding memory of its own.
    const bool shared = worker.Busy() || worker.Next().m_Source.m_pData != nullptr;
    bool ok = DenoisePending(run);
    worker.Wait();
    if (worker.CancelledAtLastDone() || g_bAbort) return;
    if (!ok && shared)
    {
        // Once more with nothing else held: the photo read ahead is read again later.
        ReleaseImage(&worker.Next().m_Source);
        ReleaseImage(&worker.Next().m_Alpha);
        run->readAgain = true;
        CopyImagePixels(&doc->m_Result, &doc->m_Source);
        ok = DenoisePending(run);
        if (g_bAbort) return;
    }
    if (!ok)
    {
        ++run->failed;
        worker.ReportDone();
        return;
    }
    worker.Save(&doc->m_Result, &doc->m_Alpha, run->output, run->input);
}

// Finishes every photo before the next report, so that the report counts them all: the pending
// one is denoised, and the file thread saves and reports it.
void Flush(BatchRun* run)
{
    RunPending(run);
    run->worker.Wait();
}

// The file in hand is done without being written: reported (after the photos before it), and
// counted as failed when it was a photo that could not be denoised or written.
void ReportFile(BatchRun* run, bool failed)
{
    run->unreported = false;
    if (failed) ++run->failed;
    run->worker.ReportDone();
}

// No photo after the file whose report the progress dialog answered "cancelled" is begun; a
// closing window stops at once.
bool Stopping(BatchRun* run) { return g_bBatchClosing || run->worker.CancelledAtLastDone(); }

bool IsPlainFolder(const WIN32_FIND_DATAW& fd) { return fd.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY; }

// The walk's one rule, which the total follows too: it goes into plain folders but its own output
// folders, and takes the files it can write back under their names; everything else is passed
// over unread.
bool TakesEntry(const WIN32_FIND_DATAW& fd)
{
    if (IsDotEntry(fd.cFileName) || IsDenoisedFolderName(fd.cFileName)) return false;
    return IsPlainFolder(fd) || IsBatchPhotoName(fd.cFileName);
}

// How many files of the batch's total one folder entry stands for: a photo 1, a plain folder its
// photos, anything else none.
int CountEntry(const wchar_t* folder, const WIN32_FIND_DATAW& fd)
{
    if (!TakesEntry(fd)) return 0;
    if (!IsPlainFolder(fd)) return 1;
    wchar_t sub[kPathChars];
    return FormatFits(sub, L"%ls/%ls", folder, fd.cFileName) ? CountImageFiles(sub) : 0;
}

// Nowhere to write this level's photos: the rest of the level is left, and the photo in hand and
// every one the total counted after it (its sub-folders' too) fail and are reported, so that the
// bar still ends full and the end of the run does not claim success.
void GiveUpLevel(BatchJob* job, BatchRun* run)
{
    ReportFile(run, true);
    while (!Stopping(run) && FindNextFileW(job->hFind, &job->fd))
        for (int n = CountEntry(job->wszInputDir, job->fd); n > 0 && !Stopping(run); --n) ReportFile(run, true);
    CloseSearch(job);
}

// Whether every process of the tree has ended: the job object's count, else (no count to be had)
// the process started first.
bool TreeEnded(HANDLE tree, HANDLE first)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    if (QueryInformationJobObject(tree, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr))
        return info.ActiveProcesses == 0;
    return WaitForSingleObject(first, 0) == WAIT_OBJECT_0;
}

// What became of a photo given to HPXCmd.
enum class HpxCmdOutcome
{
    kNotRun,        // HPXCmd could not be started: the photo is denoised on the CPU instead
    kWritten,       // it ended and wrote the output file
    kWroteNothing,  // it ended without writing the output file: the photo failed
    kEnded          // the batch was cancelled or the window closed, and the run was ended
};

// The output file's state before HPXCmd runs, to tell afterwards whether it was written.
struct OutputState
{
    bool exists = false;
    WIN32_FILE_ATTRIBUTE_DATA data{};
};

OutputState ReadOutputState(const wchar_t* path)
{
    OutputState state;
    state.exists = GetFileAttributesExW(path, GetFileExInfoStandard, &state.data) &&
        !(state.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    return state;
}

// A file that is there and is not the one left by an earlier run.
bool OutputWritten(const wchar_t* path, const OutputState& before)
{
    const OutputState after = ReadOutputState(path);
    if (!after.exists) return false;
    if (!before.exists) return true;
    return CompareFileTime(&after.data.ftLastWriteTime, &before.data.ftLastWriteTime) != 0 ||
        after.data.nFileSizeLow != before.data.nFileSizeLow || after.data.nFileSizeHigh != before.data.nFileSizeHigh;
}

// Runs HPXCmd on one file and waits for it. kNotRun when it could not be started (no program in
// the plug-in's folder, a command that would not fit, a failed start).
HpxCmdOutcome DenoiseWithHpxCmd(const wchar_t* input, const wchar_t* output, const IsoSettings& values)
{
    wchar_t folder[kPathChars];
    GetPluginFolder(folder);
    if (!folder[0] || !std::wcschr(folder, L'\\')) return HpxCmdOutcome::kNotRun;
    wchar_t program[kPathChars], directory[kPathChars];
    if (!FormatFits(program, L"%ls\\HPXCmd.exe", folder) || !FormatFits(directory, L"%ls\\", folder))
        return HpxCmdOutcome::kNotRun;
    const DWORD attributes = GetFileAttributesW(program);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return HpxCmdOutcome::kNotRun;

    wchar_t settingsPath[kPathChars], commandLine[kPathChars];
    GetSettingsFilePath(settingsPath);
    if (!FormatHpxCmdCommandLine(commandLine, input, output, settingsPath, values)) return HpxCmdOutcome::kNotRun;
    const OutputState before = ReadOutputState(output);

    // HPXCmd is started itself, not through "cmd": the command processor would expand a
    // "%NAME%" in a photo's path and hand HPXCmd another path. It gets the command line it got
    // from "cmd". It may start children of its own: the whole tree goes into a job object, so
    // that a run given up after a cancel can be ended whole (ending HPXCmd alone could leave a
    // child writing into "denoised", perhaps under the next batch). Started suspended, so that
    // nothing runs outside the job.
    const ScopedHandle tree(CreateJobObjectW(nullptr, nullptr));
    if (!tree) return HpxCmdOutcome::kNotRun;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(tree.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr,
                        directory, &si, &pi))
        return HpxCmdOutcome::kNotRun;
    // Closed before the job object, whose closing ends whatever of the tree still runs.
    const ScopedHandle hpxCmd(pi.hProcess);
    ScopedHandle hpxCmdThread(pi.hThread);
    if (!AssignProcessToJobObject(tree.get(), hpxCmd.get()))
    {
        // A tree that could not be ended is not started (the host's own job may forbid it).
        TerminateProcess(hpxCmd.get(), 1);
        return HpxCmdOutcome::kNotRun;
    }
    ResumeThread(hpxCmdThread.get());
    hpxCmdThread.reset();

    // In slices, so that a cancel (or the main window closing) is seen. A cancelled run still
    // lets the file finish for a while; a closing window does not wait (the host would look
    // frozen). Then the tree is ended and waited for: nothing of it outlives the batch.
    DWORD waitedAfterCancel = 0;
    while (!TreeEnded(tree.get(), hpxCmd.get()))
    {
        if (WaitForSingleObject(hpxCmd.get(), kWaitSliceMs) == WAIT_OBJECT_0) Sleep(kTreePollMs);
        if (!g_bBatchAbort) continue;
        waitedAfterCancel += kWaitSliceMs;
        if (!g_bBatchClosing && waitedAfterCancel < g_dwHpxCmdGraceAfterCancelMs) continue;
        TerminateJobObject(tree.get(), 1);
        for (int i = 0; i < kTreeEndPolls && !TreeEnded(tree.get(), hpxCmd.get()); ++i) Sleep(kTreePollMs);
        // What an ended run wrote is not a denoised photo (an earlier run's photo it did not
        // touch stays).
        if (OutputWritten(output, before)) DeleteFileW(output);
        return HpxCmdOutcome::kEnded;
    }
    // Its exit code says nothing reliable; the file it was to write does.
    return OutputWritten(output, before) ? HpxCmdOutcome::kWritten : HpxCmdOutcome::kWroteNothing;
}

void ProcessFile(BatchJob* job, BatchRun* run)
{
    CBackBuffer* doc = run->doc;
    BatchFileWorker& worker = run->worker;
    run->unreported = true;
    wchar_t input[kPathChars], output[kPathChars];
    if (!FormatFits(input, L"%ls\\%ls", job->wszInputDir, job->fd.cFileName) ||
        !FormatFits(output, L"%ls\\%ls", job->wszOutputDir, job->fd.cFileName))
    {
        Flush(run);
        ReportFile(run, true);
        return;
    }
    // This file is read while the one before is denoised.
    const bool readBesideAJob = run->pending;
    worker.Read(input);
    RunPending(run);
    // After a pending job the read has ended already (the job waits for it), and the save just
    // handed over runs on beside this photo's job; without one the read is waited for here.
    if (!readBesideAJob) worker.Wait();
    if (run->readAgain || (!worker.ReadSucceeded() && readBesideAJob))
    {
        // A read that may have failed for want of memory, or was let go: once more on its own.
        run->readAgain = false;
        ReleaseImage(&doc->m_Source);
        ReleaseImage(&doc->m_Result);
        worker.Read(input);
        worker.Wait();
    }
    // Cancelled (the report of the photo before said so): not begun, and not reported.
    if (Stopping(run))
    {
        run->unreported = false;
        return;
    }
    // Not an image after all: passed over, but reported, since the total counted it.
    if (!worker.ReadSucceeded())
    {
        ReportFile(run, false);
        return;
    }

    CBackBuffer& next = worker.Next();
    ReleaseImage(&doc->m_Source);
    ReleaseImage(&doc->m_Alpha);
    ReleaseImage(&doc->m_Result);
    doc->m_Source = next.m_Source;
    doc->m_Alpha = next.m_Alpha;
    doc->m_Info = next.m_Info;
    InitImage(&next.m_Source);
    InitImage(&next.m_Alpha);

    bool usable = CopyImageLayout(&doc->m_Result, &doc->m_Source) == kImageOk;
    if (usable) CopyImagePixels(&doc->m_Result, &doc->m_Source);
    const ImageBuffer& src = doc->m_Source;
    usable = usable && src.m_pData && doc->m_Result.m_pData && src.m_iWidth >= 16 && src.m_iHeight >= 16 &&
        src.m_iBits >= 8 && src.m_iBits <= 16;
    if (!usable)
    {
        ReportFile(run, false);
        return;
    }
    if (GetFileAttributesW(job->wszOutputDir) == INVALID_FILE_ATTRIBUTES)
    {
        if (!CreateDirectoryW(job->wszOutputDir, nullptr))
        {
            GiveUpLevel(job, run);
            return;
        }
        run->madeFolders.emplace_back(job->wszOutputDir);
    }
    const IsoSettings values = ChooseBatchProfile(*job->pProfiles, doc->m_Info);
    if (g_iHwAccel)
    {
        worker.Wait();
        const HpxCmdOutcome outcome = DenoiseWithHpxCmd(input, output, values);
        if (outcome != HpxCmdOutcome::kNotRun)
        {
            ReportFile(run, outcome == HpxCmdOutcome::kWroteNothing);
            return;
        }
    }
    // A photo whose name gives no type its depth can be written as (16 bits in a ".jpg") cannot
    // be saved under its own name: it fails, rather than be written under another name.
    if (SaveTypeOfName(output, src.m_iBits, true) == kSaveNone)
    {
        ReportFile(run, true);
        return;
    }
    run->unreported = false;
    run->pending = true;
    run->values = values;
    CopyText(run->input, kPathChars, input);
    CopyText(run->output, kPathChars, output);
}

int WalkLevel(BatchJob* job, BatchRun* run);

void WalkSubFolder(const BatchJob* parent, BatchRun* run)
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
    WalkLevel(&child, run);
}

int WalkLevel(BatchJob* job, BatchRun* run)
{
    if (job->hFind == INVALID_HANDLE_VALUE || job->hFind == nullptr) return 0;
    for (;;)
    {
        if (Stopping(run)) break;
        if (TakesEntry(job->fd))
        {
            try
            {
                if (IsPlainFolder(job->fd))
                    WalkSubFolder(job, run);
                else
                    ProcessFile(job, run);
            }
            catch (...)
            {
                // A file whose reading, denoising or saving throws fails like any other; the walk
                // goes on.
                TraceCaughtException("WalkLevel");
                // Every file in hand fails and is reported: the one begun, and a pending one.
                const bool begun = run->unreported;
                if (run->pending)
                {
                    run->pending = false;
                    ReportFile(run, true);
                }
                if (begun) ReportFile(run, true);
            }
            if (job->hFind == INVALID_HANDLE_VALUE) return 0;  // the level was given up
        }
        if (!FindNextFileW(job->hFind, &job->fd)) break;
    }
    CloseSearch(job);
    return 0;
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

bool FormatHpxCmdCommandLine(wchar_t out[1024], const wchar_t* input, const wchar_t* output,
                             const wchar_t* settingsPath, const IsoSettings& v)
{
    const wchar_t* format = g_iGpuCpuFusion ? L"HPXCmd.exe -gpu -fusion -i \"%ls\" -o \"%ls\" -l \"%ls\" -si %.2f "
                                              L"-sc %.2f -scs %.2f -dyn %.2f -c %i -sl1 %.2f -sl2 %.2f -sl3 %.2f -pa %i"
                                            : L"HPXCmd.exe -gpu -i \"%ls\" -o \"%ls\" -l \"%ls\" -si %.2f -sc %.2f "
                                              L"-scs %.2f -dyn %.2f -c %i -sl1 %.2f -sl2 %.2f -sl3 %.2f -pa %i";
    return FormatFits(out, format, input, output, settingsPath, v.m_dStrength, v.m_dStrengthChroma,
                      v.m_dStrengthChromaLarge, v.m_dDynamics, g_iBatchJpegQuality, v.m_dSharp1, v.m_dSharp2,
                      v.m_dSharp3, int(v.m_iUseMedian));
}

int BatchDenoiseFolder(BatchJob* job)
{
    if (!job || !job->pDocument) return 0;
    int failed = 0;
    bool abortedJobs = false;
    try
    {
        BatchRun run(job);
        WalkLevel(job, &run);
        Flush(&run);
        failed = run.failed + run.worker.TakeSaveFailures();
        abortedJobs = run.worker.AbortedJobs();
        // Only an empty folder goes: whatever else is in it stays.
        for (const std::wstring& folder : run.madeFolders) RemoveDirectoryW(folder.c_str());
    }
    catch (...)
    {
        // Nothing leaves the walk.
        TraceCaughtException("BatchDenoiseFolder");
    }
    // A cancel cut the job running beside the last report short; the engine's abort is the
    // window's again (unless the window is closing, which set it too).
    if (abortedJobs && !g_bBatchClosing) g_bAbort = 0;
    return failed;
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
        count += CountEntry(folder, fd);
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return count;
}
