// The private window messages of the plug-in, all in one place and grouped by the window that
// receives them: the main window (app/window, app/job), the batch progress dialog (app/batch) and
// the parameter panel (app/panel). A number means something only to its receiver, so two
// receivers may share one; within a receiver each must be unique, which the checks below enforce.
// The numbers are fixed. The messages exchanged with HPXProcessGPU (6009..6012, WM_COPYDATA
// codes) are in gpu/GpuProtocol.h; the command ids in resources/plugin/window_ids.h.
#pragma once

#include <windows.h>

#include <cstddef>

#include "gpu/GpuProtocol.h"  // the progress messages HPXProcessGPU sends to the main window
#include "plugin/window_ids.h"

enum : UINT
{
    // ---- received by the main window --------------------------------------------------------
    WM_HPX_REFRESH_RESULT = 0x1097,      // panel: redraw the denoised view, copy rebuilt from m_Result
    WM_HPX_BATCH_DONE = 0x1098,          // batch thread (sent): the batch run has ended
    WM_HPX_SHOW_RESULT = 0x109C,         // panel: redraw the denoised view from its cached copy
    WM_HPX_START_JOB = 0x109D,           // panel (posted): start a whole-image run (app/job)
    WM_HPX_CURSOR_WAIT = 0x10A1,         // panel: class and current cursor IDC_WAIT
    WM_HPX_CURSOR_ARROW = 0x10A2,        // panel: ... IDC_ARROW
    WM_HPX_CURSOR_MOVE = 0x10A3,         // panel: ... IDC_SIZEALL
    WM_HPX_JOB_FINISHED = 0x10A4,        // job thread or the window itself: the run is over (app/job)
    WM_HPX_ZOOM_TYPED = 0x10A6,          // zoom box: Enter pressed in its edit field
    WM_HPX_FREE_VIEW_COPIES = 0x10A7,    // release the preview view's display copies
    WM_HPX_MAKE_VIEW_COPIES = 0x10A8,    // rebuild them from m_Source and m_Result
    WM_HPX_GPU_READY = 0x10A9,           // HPXProcessGPU's announcement arrived (app/job)
    WM_HPX_BATCH_THREAD_ENDED = 0x10AB,  // batch thread (posted), its last act: its handle can be
                                         // waited for and closed
    WM_HPX_IMAGE_ARRIVED = 0x13A0,       // the host image enters the document

    // ---- received by the batch progress dialog -----------------------------------------------
    WM_HPX_BATCH_FILE_DONE = 0x1099,  // walker (sent): one counted file done; answers "cancelled before"

    // ---- received by the parameter panel ------------------------------------------------------
    WM_HPX_PREVIEW_RECT_MOVED = 0x109B,
    WM_HPX_SET_STATE = 0x109E,    // lParam = new g_iPanelState
    WM_HPX_JOB_DONE = 0x109F,     // main window (posted): the run finished without abort
    WM_HPX_JOB_FAILED = 0x10A0,   // main window (posted): the run was aborted or failed
    WM_HPX_IMAGE_LOADED = 0x10A9  // main window: an image is in the document; wParam = the
                                  // docker's left edge in screen coordinates
};

namespace hpx_messages
{
// True when no two of the values are equal.
template <std::size_t N> constexpr bool AllDistinct(const UINT (&values)[N])
{
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t j = i + 1; j < N; ++j)
            if (values[i] == values[j]) return false;
    return true;
}

// Every private message each window receives; a message added above is added here too.
constexpr UINT kMainWindow[] = {
    WM_HPX_REFRESH_RESULT,     WM_HPX_BATCH_DONE,       WM_HPX_SHOW_RESULT,      WM_HPX_START_JOB,
    WM_HPX_CURSOR_WAIT,        WM_HPX_CURSOR_ARROW,     WM_HPX_CURSOR_MOVE,      WM_HPX_JOB_FINISHED,
    WM_HPX_ZOOM_TYPED,         WM_HPX_FREE_VIEW_COPIES, WM_HPX_MAKE_VIEW_COPIES, WM_HPX_GPU_READY,
    WM_HPX_BATCH_THREAD_ENDED, WM_HPX_IMAGE_ARRIVED,    WM_HPX_PROGRESS_RANGE,   WM_HPX_PROGRESS_STEP};
constexpr UINT kBatchProgressDialog[] = {WM_HPX_BATCH_FILE_DONE};
constexpr UINT kParameterPanel[] = {WM_HPX_PREVIEW_RECT_MOVED, WM_HPX_SET_STATE, WM_HPX_JOB_DONE, WM_HPX_JOB_FAILED,
                                    WM_HPX_IMAGE_LOADED};

static_assert(AllDistinct(kMainWindow), "two messages of the main window share a value");
static_assert(AllDistinct(kBatchProgressDialog), "two messages of the batch progress dialog share a value");
static_assert(AllDistinct(kParameterPanel), "two messages of the parameter panel share a value");
}  // namespace hpx_messages

// Panel state in which a whole-image run has finished: the result goes back to the host when
// the window is destroyed in this state (g_iPanelState, written by the panel).
constexpr int kPanelStateFinished = 20;
