// Non-local-means denoising of one image plane on the CPU (or through the GPU hook).
//
// NlmPlaneDenoise pads the plane to an even size, makes its 8-bit guide and runs one of four CPU
// drivers by sample depth (8 bits, or 9..16 bits) and thread count (one, or up to 16 threads).
// Patch distances come from the guide; the 8-bit drivers take their values from the guide too,
// the 16-bit drivers from the 16-bit plane. The result does not depend on the thread count.
#pragma once

#include "engine/ImageBuffer.h"
#include "engine/Platform.h"

#include <atomic>

class WorkerPool;

// The abort flag of the current job: one byte, set by whoever cancels (the panel, the main
// window, HPXProcessGPU's cancel message), cleared by whoever starts a job. The engine only reads
// it: every pass polls it as it goes and stops, leaving its output equal to its input. It is
// atomic only so the unlocked cross-thread reads and writes are well defined; use it like a byte.
extern std::atomic<unsigned char> g_bAbort;

// The largest number of threads (the caller plus workers) one pass runs.
enum : int
{
    kNlmMaxThreads = 16
};

// Search window edge for a quality: 7 (1), 13 (2), 21 (anything else).
inline int NlmSearchWindow(int iQuality) { return iQuality == 1 ? 7 : (iQuality == 2 ? 13 : 21); }

// Number of search offsets a pass visits: (w x w) div 2 + 1 (25, 85 or 221).
inline int NlmOffsetCount(int iQuality)
{
    const int w = NlmSearchWindow(iQuality);
    return w * w / 2 + 1;
}

// Pad radius of an even-sized plane: min(min(W, H) - 1, 71) div 2 (35 for 72 pixels and more).
inline int NlmPadRadius(int iWidth, int iHeight)
{
    int m = (iWidth < iHeight ? iWidth : iHeight) - 1;
    if (m > 71) m = 71;
    return m / 2;
}

// Denoises src into dst. dst and src are one-channel planes of equal width, height and depth
// (8 bits, or 9..16 bits in 16-bit words); dst must have been created by the caller.
//   dStrength 0..50 (the 16-bit drivers use its integer part), iQuality 1..3, dDynamics -2..2.
//   hProgressDlg: progress target, or null. A pass advances it by the calling thread's share of
//   the search offsets, ceil(offsets / threads) steps (none for planes that pass through).
//   bGpu: run the pass through the GPU hook instead of the CPU.
//   iThreads: threads for the pass (clamped to 1..16).
//   pPool: the job's worker threads to run the pass on (null: the pass starts its own).
// src is only read: its block and contents are never freed, replaced or changed. dst keeps its
// block too (one of src's shape is created only when it has none). When the pass is cancelled
// (g_bAbort) or cannot run (out of memory), dst receives src's contents.
// Returns kImageOk (a cancelled pass included: callers see the cancel in g_bAbort), kImageBadArgs
// for a plane it does not handle and for a dst block of another shape (dst is then not written),
// and kImageNoMemory when the pass could not run for want of
// memory (or the GPU pass failed): dst then holds the input, not a denoised plane.
unsigned char NlmPlaneDenoise(ImageBuffer* dst, ImageBuffer* src, double dStrength, int iQuality, double dDynamics,
                              HpxProgressTarget hProgressDlg, bool bGpu, int iThreads, WorkerPool* pPool = nullptr);

// The four CPU drivers, called by NlmPlaneDenoise with the even-sized output plane, the
// even-sized source plane and its 8-bit guide, the strength (already truncated for 16 bits),
// the quality, the doubled dynamics and the progress target. They return 0, 1 when the weight
// tables could not be built, or 6 when their working memory could not be allocated; on any
// non-zero result dst has not been written.
unsigned char NlmPlaneDenoiseCpu(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                                 int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg);
unsigned char NlmPlaneDenoiseCpuMt(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                                   int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg, int iThreads);
unsigned char NlmPlaneDenoiseCpu16(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide, double dStrength,
                                   int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg);
unsigned char NlmPlaneDenoiseCpuMt16(ImageBuffer* dst, const ImageBuffer* src, const ImageBuffer* guide,
                                     double dStrength, int iQuality, double dDynamics2, HpxProgressTarget hProgressDlg,
                                     int iThreads);
