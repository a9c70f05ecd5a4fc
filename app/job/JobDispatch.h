// The main window's side of a whole-image denoise run: the panel asks for it with
// WM_HPX_START_JOB; the run goes to HPXProcessGPU ("HW Accel" on) through the copy-data protocol of
// gpu/GpuProtocol.h, or to an in-process thread; either way it ends with one WM_HPX_JOB_FINISHED
// that rebuilds the view's display copies and posts WM_HPX_JOB_DONE or WM_HPX_JOB_FAILED to the
// panel. Everything here runs on the host's thread except DenoiseJobThreadProc.
//
// Wiring into MainWndProc (every function works without a panel):
//   the run's messages:          if (JobDispatchMessage(hWnd, msg, wParam, lParam, &r)) return r;
//   WM_CLOSE and the Exit command, before DestroyWindow:   JobAbortAndWait(hWnd);
//   commands that replace, free or write the document (open, folder stepping, save, close,
//   batch, Options) and the mouse wheel / mouse re-routing:  if (JobIsRunning()) refuse.
// The window must handle WM_HPX_FREE_VIEW_COPIES and WM_HPX_MAKE_VIEW_COPIES, which are sent to
// it at the start and at the end of a run.
#pragma once

#include <windows.h>

#include "gpu/GpuProtocol.h"

// The block of the next run: the panel writes iUseMedian before it posts the request, the rest
// is written at WM_HPX_START_JOB.
extern DenoiseJobParams g_DenoiseJobParams;

// Answers a message of the run and stores the answer; false for any other message:
//   WM_HPX_START_JOB: wParam = MAKELONG(strength position, chroma position), lParam =
//     MAKELONG(large-chroma position, dynamics position); refused while a run is going, and
//     failed at once (the panel told) without a document;
//   WM_COPYDATA: the program's announcement, result or cancel, accepted (TRUE) only while that run
//     waits for it, from the started program's window and, for the result, of exactly its size;
//     a cancel that the panel did not ask for (the program gave up on the job) hands the run to
//     the in-process thread;
//   WM_HPX_GPU_READY (sent on the announcement): the image, pixels and parameters handed over;
//   WM_HPX_PROGRESS_RANGE / WM_HPX_PROGRESS_STEP from the program: the panel's progress bar;
//   WM_HPX_JOB_FINISHED: ends the run and tells the panel.
bool JobDispatchMessage(HWND hMainWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

// True from the start request until the run's end has been handled.
bool JobIsRunning();
// Aborts a run and waits for its end (thread or program) while dispatching messages, so that the
// window can be destroyed and the document freed afterwards. Nothing happens without a run.
void JobAbortAndWait(HWND hMainWnd);

// The in-process run (thread routine, 100 MiB stack): the block's images and positions; sends
// WM_HPX_JOB_FINISHED to g_hMainWnd and returns 1.
DWORD WINAPI DenoiseJobThreadProc(LPVOID params);

// How long a started program may take to announce itself before the run goes to the CPU (ms).
extern DWORD g_dwGpuAnnounceTimeoutMs;
