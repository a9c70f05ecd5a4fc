#include "engine/NlmPass.h"

#include "engine/WorkerPool.h"

#include <cstdlib>

namespace nlm
{

namespace
{

inline size_t AlignUp(size_t n) { return (n + 63) & ~static_cast<size_t>(63); }

}  // namespace

bool AllocateWorker(PassWorker* pWorker, const PassShared& shared, WorkerPool* pPool, int iPart)
{
    const size_t pixels = static_cast<size_t>(shared.iW) * shared.iBandRows;
    const size_t halfRow = static_cast<size_t>(shared.iHalfW) * sizeof(uint16_t);
    pWorker->iBandCapacity = shared.iBandRows / 2 + shared.iWindow / 2 + 4;
    size_t accum = 0;
    if (shared.b16)
        accum = AlignUp(pixels * sizeof(uint32_t)) + AlignUp(pixels * sizeof(uint64_t));
    else
        accum = AlignUp(pixels / 4 * sizeof(uint32_t)) + AlignUp(pixels * sizeof(uint32_t));
    const size_t bandCells = shared.b16 ? static_cast<size_t>(shared.iBandRows) * shared.iW
                                        : static_cast<size_t>(shared.iBandRows / 2) * (shared.iW / 2);
    const size_t rows = 2 * AlignUp(static_cast<size_t>(shared.iPaddedW)) + 6 * AlignUp(halfRow) +
        AlignUp(halfRow * pWorker->iBandCapacity + 32) + AlignUp(bandCells * sizeof(uint32_t)) +
        AlignUp(bandCells * sizeof(uint16_t) + 16);
    void* pMemory = pPool != nullptr ? pPool->PartScratch(iPart, accum + rows + 64) : std::malloc(accum + rows + 64);
    if (pMemory == nullptr) return false;
    pWorker->pMemory = pMemory;
    pWorker->bPoolMemory = pPool != nullptr;
    uint8_t* p = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(pMemory) + 63) & ~static_cast<uintptr_t>(63));
    pWorker->uAccumulatorBytes = accum;
    if (shared.b16)
    {
        pWorker->pWeights32 = reinterpret_cast<uint32_t*>(p);
        p += AlignUp(pixels * sizeof(uint32_t));
        pWorker->pValues64 = reinterpret_cast<uint64_t*>(p);
        p += AlignUp(pixels * sizeof(uint64_t));
    }
    else
    {
        pWorker->pBlockWeights = reinterpret_cast<uint32_t*>(p);
        p += AlignUp(pixels / 4 * sizeof(uint32_t));
        pWorker->pValues32 = reinterpret_cast<uint32_t*>(p);
        p += AlignUp(pixels * sizeof(uint32_t));
    }
    for (int i = 0; i < 2; ++i)
    {
        pWorker->apRowB[i] = p;
        p += AlignUp(static_cast<size_t>(shared.iPaddedW));
    }
    for (int i = 0; i < 3; ++i)
    {
        pWorker->apRingS[i] = reinterpret_cast<uint16_t*>(p);
        p += AlignUp(halfRow);
        pWorker->apRingT[i] = reinterpret_cast<uint16_t*>(p);
        p += AlignUp(halfRow);
    }
    pWorker->pBand = reinterpret_cast<uint16_t*>(p);
    p += AlignUp(halfRow * pWorker->iBandCapacity + 32);  // 16-bit passes read a few cells ahead
    pWorker->pBandBase = reinterpret_cast<uint32_t*>(p);
    p += AlignUp(bandCells * sizeof(uint32_t));
    pWorker->pBandLimit = reinterpret_cast<uint16_t*>(p);
    return true;
}

void FreeWorker(PassWorker* pWorker)
{
    if (!pWorker->bPoolMemory) std::free(pWorker->pMemory);
    pWorker->pMemory = nullptr;
}

}  // namespace nlm
