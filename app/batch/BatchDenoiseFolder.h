// The batch walker: denoises every readable image of a folder tree into "denoised" sub-folders,
// in-process on the CPU or through the sibling command-line denoiser HPXCmd.exe.
#pragma once

#include <windows.h>

#include "app/batch/BatchJob.h"
#include "profiles/IsoSettings.h"

class CameraIsoTable;
struct ImageInfoStrings;

// Walks one folder level of the job, depth first, and returns when its search is exhausted or
// the batch is cancelled; the job's search is closed either way. Takes only the files whose names
// it can write back (IsBatchPhotoName); others are passed over unread. Every file it takes gets
// exactly one WM_HPX_BATCH_FILE_DONE to the progress dialog, whatever becomes of it, so that the
// reports match CountImageFiles. A cancel takes effect at the report the dialog answers with
// "cancelled": that file is the last one written. Returns the number of photos that were not
// written because their denoising or saving failed, HPXCmd wrote nothing for them, their path
// would not fit, or their output folder could not be made (an unreadable or too small file is
// passed over, not failed; a photo cut short by a cancel or the window closing is neither
// written nor counted). An output folder the run made and wrote nothing into is removed. Throws
// nothing.
int BatchDenoiseFolder(BatchJob* job);

// The profile entry the batch uses for an image: its camera's entry of its ISO, else the
// "<<Unknown Camera>>" entry of its ISO when the make is known but the camera is not, else that
// row's first entry, else the built-in default entry.
IsoSettings ChooseBatchProfile(const CameraIsoTable& profiles, const ImageInfoStrings& info);

// The command line that runs HPXCmd on one file (fusion from g_iGpuCpuFusion, quality from
// g_iBatchJpegQuality); every path quoted. False when it would not fit in 1024 characters.
bool FormatHpxCmdCommandLine(wchar_t out[1024], const wchar_t* input, const wchar_t* output,
                             const wchar_t* settingsPath, const IsoSettings& values);

// How long a cancelled batch still waits for a running HPXCmd (30 s; tests shorten it). Closing
// the main window does not wait.
void SetHpxCmdCancelGrace(DWORD ms);

// Case-insensitive: whether a folder entry is one of the walk's output folders.
bool IsDenoisedFolderName(const wchar_t* name);
