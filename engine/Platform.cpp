// The parts of the platform seam that are the same on every system: the replaceable progress
// sink and the message-pump hook. The system-specific parts live in Platform_win32.cpp and
// Platform_posix.cpp.
#include "engine/Platform.h"

#include <atomic>

// The default sink of this system (drives the progress-bar control on Windows, nothing natively).
const ProgressSink* PlatformDefaultProgressSink();

namespace
{

std::atomic<const ProgressSink*> s_pProgressSink{nullptr};
std::atomic<TilePumpHook> s_pfnPumpHook{nullptr};
std::atomic<int> s_iFailThreadStarts{0};

const ProgressSink* CurrentSink()
{
    const ProgressSink* pSink = s_pProgressSink.load(std::memory_order_acquire);
    return pSink != nullptr ? pSink : PlatformDefaultProgressSink();
}

}  // namespace

void SetProgressSink(const ProgressSink* pSink) { s_pProgressSink.store(pSink, std::memory_order_release); }

void ProgressSetup(HpxProgressTarget hTarget, uint32_t uTotal)
{
    if (hTarget == nullptr) return;
    const ProgressSink* pSink = CurrentSink();
    if (pSink != nullptr && pSink->pfnSetup != nullptr) pSink->pfnSetup(pSink->pContext, hTarget, uTotal);
}

void ProgressStep(HpxProgressTarget hTarget)
{
    if (hTarget == nullptr) return;
    const ProgressSink* pSink = CurrentSink();
    if (pSink != nullptr && pSink->pfnStep != nullptr) pSink->pfnStep(pSink->pContext, hTarget);
}

void SetTilePumpHook(TilePumpHook pfnHook) { s_pfnPumpHook.store(pfnHook, std::memory_order_release); }

void PumpBeforeTile()
{
    TilePumpHook pfn = s_pfnPumpHook.load(std::memory_order_acquire);
    if (pfn != nullptr) pfn();
}

void PlatformFailNextThreadStarts(int iCount) { s_iFailThreadStarts.store(iCount > 0 ? iCount : 0); }

// Called by PlatformStartThread: true when this start is to fail.
bool PlatformConsumeThreadStartFailure()
{
    int iLeft = s_iFailThreadStarts.load();
    while (iLeft > 0)
    {
        if (s_iFailThreadStarts.compare_exchange_weak(iLeft, iLeft - 1)) return true;
    }
    return false;
}
