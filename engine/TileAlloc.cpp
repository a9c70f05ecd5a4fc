#include "engine/TileAlloc.h"

#include <atomic>
#include <cstdlib>

namespace
{

std::atomic<int> g_iAllocationsAllowed{-1};

// False when the simulation says this allocation must fail.
bool TakeAllocation()
{
    int allowed = g_iAllocationsAllowed.load(std::memory_order_relaxed);
    while (allowed >= 0)
    {
        if (allowed == 0) return false;
        if (g_iAllocationsAllowed.compare_exchange_weak(allowed, allowed - 1, std::memory_order_relaxed)) return true;
    }
    return true;
}

}  // namespace

void SimulateTileAllocationFailures(int allowed)
{
    g_iAllocationsAllowed.store(allowed < 0 ? -1 : allowed, std::memory_order_relaxed);
}

unsigned char TileCreateImage(ImageBuffer* image, int32_t width, int32_t height, int32_t channels, int32_t bits)
{
    if (!TakeAllocation())
    {
        ReleaseImage(image);
        InitImage(image);
        return kImageNoMemory;
    }
    const unsigned char result = CreateImage(image, width, height, channels, bits);
    return result == kImageOk && image->m_pData != nullptr ? static_cast<unsigned char>(kImageOk)
                                                           : static_cast<unsigned char>(kImageNoMemory);
}

unsigned char TileCopyImageLayout(ImageBuffer* dst, const ImageBuffer* src)
{
    if (dst == src)
        return src->m_pData != nullptr ? static_cast<unsigned char>(kImageOk)
                                       : static_cast<unsigned char>(kImageNoMemory);
    if (!TakeAllocation())
    {
        ReleaseImage(dst);
        InitImage(dst);
        return kImageNoMemory;
    }
    const unsigned char result = CopyImageLayout(dst, src);
    return result == kImageOk && dst->m_pData != nullptr ? static_cast<unsigned char>(kImageOk)
                                                         : static_cast<unsigned char>(kImageNoMemory);
}

float* TileAllocFloats(size_t count)
{
    if (!TakeAllocation()) return nullptr;
    return static_cast<float*>(std::calloc(count > 0 ? count : 1, sizeof(float)));
}
