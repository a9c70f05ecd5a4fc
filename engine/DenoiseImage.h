// The whole-image denoise job: cuts the image into tiles with overlapping margins, runs the tile
// pipeline on each, pastes the tile centres into the destination, drives the progress bar and
// stops early when g_bAbort is set. With the GPU and fusion flags set, the tiles are shared
// between the calling thread (GPU side) and one CPU tile thread under a schedule that lets the
// slower side drop out when the faster one could finish the rest alone.
#pragma once

#include "engine/ImageBuffer.h"
#include "engine/NlmPlaneDenoise.h"  // g_bAbort
#include "engine/Platform.h"

#include <cstdint>

enum : int
{
    kTileEdge = 1000,         // tile edge of CPU jobs (and of GPU jobs unless the GPU wants less)
    kTileMargin = 50,         // margin around each cell of the sequential loop
    kHybridTileMargin = 100,  // margin around each cell of the hybrid schedule
    kHybridProgressExtra = 3  // the hybrid's progress total is tiles + 3
};

// State shared by the two sides of a hybrid job; lives on the caller's stack for the job.
// Every field but the mutex, the images and the parameters is read and written only while the
// mutex is held.
struct TileSchedule
{
    uint32_t m_uiTotalTiles;
    uint32_t m_uiNextTile;    // next tile to hand out; tile k is column k mod across, row k div across
    int32_t m_iRemaining;     // tiles not yet handed out
    uint32_t m_uiCpuThreads;  // workers the CPU side passes to the tile pipeline
    int32_t m_iCpuEntries;    // visits of the CPU side (the current one included)
    int32_t m_iGpuEntries;
    uint32_t m_uiMedian;
    double m_dCpuBusyMs;  // sum of the CPU side's measured tile times
    double m_dGpuBusyMs;
    double m_dCpuStartTick;  // tick (ms) of the CPU side's latest visit
    double m_dGpuStartTick;
    unsigned char m_bCpuActive;  // 1 until the side leaves the schedule
    unsigned char m_bGpuActive;
    PlatformMutex* m_hMutex;  // "ProtectQueueSync"
    ImageBuffer* m_pSource;
    ImageBuffer* m_pDestination;
    uint32_t m_uiTilesAcross;
    int32_t m_iTilesDown;
    double m_dStrength;
    double m_dStrengthChroma;
    double m_dStrengthChromaLarge;
    uint32_t m_uiQuality;
    double m_dDynamics;
    HpxProgressTarget m_hProgressDlg;
    unsigned char m_bColor;
    // Not shared with the other side: set by a side whose tile could not be done (its memory ran
    // out, or the tile refused its images).
    unsigned char m_bCpuOutOfMemory;
    unsigned char m_bGpuOutOfMemory;
    // Set (under the mutex) when a side ended by an exception outside its tiles, so that a tile
    // it took may be missing from the destination.
    unsigned char m_bTileLost;
};

// A rectangle of pixels, right and bottom exclusive.
struct TileRect
{
    int32_t m_iLeft;
    int32_t m_iTop;
    int32_t m_iRight;
    int32_t m_iBottom;
};

// Progress steps of one tile: the window area (49, 169, 441), divided by the CPU count on the CPU
// (only the calling thread's share of the offsets moves the bar), times the pass count (colour on
// the CPU: 5 with the chroma-spot pass, else 3; colour on the GPU: 3, else 1; grey: 1), halved.
uint32_t TileProgressSteps(int iQuality, bool bGpu, unsigned cpuCount, bool bColourTile, double dStrengthChromaLarge);

// The tile edge of a job: 1000, or the GPU's largest tile when the GPU is used, ready and smaller.
int ChooseTileEdge(bool bGpu);

// Cell (i, j) of the sequential loop with edge T and its margin rectangle (the cell grown by
// kTileMargin on every side, clipped to the image).
void SequentialTileRects(int32_t width, int32_t height, int32_t tileEdge, int32_t column, int32_t row, TileRect* cell,
                         TileRect* margin);

// Cell of tile k of a hybrid job with `across` x `down` tiles (cells of ceil(width / across) by
// ceil(height / down)) and its margin rectangle (grown by kHybridTileMargin, clipped).
void HybridTileRects(int32_t width, int32_t height, uint32_t across, int32_t down, uint32_t tile, TileRect* cell,
                     TileRect* margin);

// True when the side should leave the schedule; called with the mutex held, right after the side
// recorded its visit. nowMs is the current tick count (ms).
bool ShouldStopTileSideAt(const TileSchedule* schedule, bool bCpuSide, double nowMs);
bool ShouldStopTileSide(TileSchedule* schedule, bool bCpuSide);

// Thread routine of the CPU side of a hybrid job; returns 1.
unsigned int TileWorkerThread(void* schedule);

// Denoises src into dst (created by the caller with src's shape; every pixel is written unless the
// job is cancelled). 1 or 3 channels, 8 or 16 bits; bColor denoises a 3-channel source as YCbCr.
// bGpu runs the passes through the GPU hook (ignored when the hook is not ready); bHybrid shares
// the tiles between the GPU and one CPU tile thread. iMedian: 0 none, 1 3x3, 2 7x7.
// A cancel is seen only through g_bAbort. Returns kImageOk; kImageBadArgs for unusable images
// (a 3-channel source without bColor included; nothing written) and for a tile that refused its
// images; kImageNoMemory when some tile could not get its memory, on any thread (those tiles hold
// the source's pixels). Nothing is thrown.
unsigned char DenoiseImage(ImageBuffer* dst, ImageBuffer* src, double dStrength, double dStrengthChroma,
                           double dStrengthChromaLarge, int iQuality, double dDynamics, HpxProgressTarget hProgressDlg,
                           bool bColor, bool bGpu, bool bHybrid, int iMedian);
