#include "engine/NlmPass.h"

#include <cstdlib>
#include <cstring>

namespace nlm
{

bool BuildCompactTables(CompactTables* pOut, int* const* ppTables, int iLength)
{
    size_t total = 0;
    for (int l = 0; l < kWeightLevels; ++l)
    {
        const int* t = ppTables[l];
        int lo = 0, hi = iLength - 1;  // find the first zero by bisection
        if (t[hi] != 0) lo = hi;
        while (lo < hi)
        {
            const int mid = (lo + hi) / 2;
            if (t[mid] == 0)
                hi = mid;
            else
                lo = mid + 1;
        }
        pOut->aLevels[l].uLimit = static_cast<uint32_t>(lo);
        total += static_cast<size_t>(lo) + 1;
    }
    pOut->pData = static_cast<uint16_t*>(std::malloc(total * sizeof(uint16_t)));
    if (pOut->pData == nullptr) return false;
    uint16_t* p = pOut->pData;
    for (int l = 0; l < kWeightLevels; ++l)
    {
        const int* t = ppTables[l];
        const uint32_t n = pOut->aLevels[l].uLimit + 1;
        // Levels with equal tables (all of them without dynamics) share one copy.
        if (l > 0 && pOut->aLevels[l - 1].uLimit + 1 == n && std::memcmp(ppTables[l - 1], t, n * sizeof(int)) == 0)
        {
            pOut->aLevels[l].pWeights = pOut->aLevels[l - 1].pWeights;
            pOut->aLevels[l].uBase = pOut->aLevels[l - 1].uBase;
            continue;
        }
        for (uint32_t d = 0; d < n; ++d) p[d] = static_cast<uint16_t>(t[d]);
        pOut->aLevels[l].pWeights = p;
        pOut->aLevels[l].uBase = static_cast<uint32_t>(p - pOut->pData);
        p += n;
    }
    return true;
}

}  // namespace nlm
