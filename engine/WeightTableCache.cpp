#include "engine/WeightTableCache.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

CWeightTableCache g_WeightTableCache;

void FillWeightTable(int* table, int length, double dHi)
{
    if (length <= 0) return;
    table[0] = kWeightOne;
    // h_i = 0 (strength 0) gives exp(-inf) = 0 for every d > 0: only identical patches weigh.
    const bool bZero = !(dHi > 0.0);
    int d = 1;
    if (!bZero)
    {
        // The weights fall with d: once one is 0, so is every later one.
        for (; d < length; ++d)
        {
            const double dd = static_cast<double>(d);
            table[d] = static_cast<int>(std::exp(dd * dd * dd / (-300.0) / dHi) * 10000.0 + 0.5);
            if (table[d] == 0) break;
        }
    }
    for (; d < length; ++d) table[d] = 0;
}

WeightTableSlot::WeightTableSlot()
{
    for (int i = 0; i < kWeightLevels; ++i) m_apTables[i] = nullptr;
}

WeightTableSlot::~WeightTableSlot() { FreeWeightTables(); }

void WeightTableSlot::FreeWeightTables()
{
    for (int i = 0; i < kWeightLevels; ++i)
    {
        std::free(m_apTables[i]);
        m_apTables[i] = nullptr;
    }
}

CWeightTableCache::CWeightTableCache() : m_iNext(0), m_pSlots(nullptr)
{
    for (int s = 0; s < kWeightSlots; ++s)
    {
        m_adDynamics[s] = 0.0;
        m_adH[s] = 0.0;
        m_aiKey[s] = 0;
        m_aiLength[s] = 0;
        m_aiValid[s] = 0;
    }
    m_pSlots = new (std::nothrow) WeightTableSlot[kWeightSlots];
}

CWeightTableCache::~CWeightTableCache()
{
    delete[] m_pSlots;  // each slot frees its tables
    m_pSlots = nullptr;
}

bool CWeightTableCache::Find(int*** pppTables, double dDynamics, double dH, int iKey)
{
    if (m_pSlots == nullptr) return true;
    for (int s = 0; s < kWeightSlots; ++s)
    {
        if (m_aiValid[s] != 0 && std::fabs(m_adDynamics[s] - dDynamics) < 0.001 && std::fabs(m_adH[s] - dH) < 0.001 &&
            m_aiKey[s] == iKey)
        {
            if (pppTables != nullptr) *pppTables = m_pSlots[s].m_apTables;
            return false;
        }
    }
    return true;
}

unsigned char CWeightTableCache::Build(double dDynamics, double dH, int iKey)
{
    if (m_pSlots == nullptr)
    {
        m_pSlots = new (std::nothrow) WeightTableSlot[kWeightSlots];
        if (m_pSlots == nullptr) return kNotBuilt;
    }
    const int s = m_iNext;
    // The slot may hold a valid parameter set: invalidate it first so a build that fails part-way
    // never leaves a "valid" slot mixing old and new tables.
    m_aiValid[s] = 0;
    if (iKey <= 0 || iKey > 64) return kNotBuilt;  // no table of such a patch can be made
    m_aiKey[s] = iKey;
    m_aiLength[s] = iKey * iKey * 256;
    m_adH[s] = dH;
    m_adDynamics[s] = dDynamics;
    const double a = dDynamics;
    double dPreviousHi = 0.0;
    for (int i = 0; i < kWeightLevels; ++i)
    {
        void* pNew = std::realloc(m_pSlots[s].m_apTables[i], static_cast<size_t>(m_aiLength[s]) * sizeof(int));
        if (pNew == nullptr) return kNotBuilt;  // the old table (if any) is kept for the next build of this slot
        m_pSlots[s].m_apTables[i] = static_cast<int*>(pNew);
        double dHi = dH;
        if (a > 0.0)
            dHi = dH * (1.0 + a * i / 256.0);
        else if (a < 0.0)
            dHi = dH * (1.0 + (255 - i) * (-a) / 256.0);
        if (i > 0 && dHi == dPreviousHi)  // no dynamics: every level has the same table
            std::memcpy(m_pSlots[s].m_apTables[i], m_pSlots[s].m_apTables[i - 1],
                        static_cast<size_t>(m_aiLength[s]) * sizeof(int));
        else
            FillWeightTable(m_pSlots[s].m_apTables[i], m_aiLength[s], dHi);
        dPreviousHi = dHi;
    }
    m_aiValid[s] = 1;
    m_iNext = (s + 1) % kWeightSlots;
    return kBuilt;
}

bool CWeightTableCache::IsSlotValid(int iSlot) const
{
    return iSlot >= 0 && iSlot < kWeightSlots && m_aiValid[iSlot] != 0;
}

int** CWeightTableCache::SlotTables(int iSlot) const
{
    if (m_pSlots == nullptr || iSlot < 0 || iSlot >= kWeightSlots) return nullptr;
    return m_pSlots[iSlot].m_apTables;
}

int** AcquireWeightTables(double dDynamics2, double dH)
{
    int** ppTables = nullptr;
    if (!g_WeightTableCache.Find(&ppTables, dDynamics2, dH, kWeightPatchKey)) return ppTables;
    if (g_WeightTableCache.Build(dDynamics2, dH, kWeightPatchKey) != CWeightTableCache::kBuilt) return nullptr;
    if (g_WeightTableCache.Find(&ppTables, dDynamics2, dH, kWeightPatchKey)) return nullptr;
    return ppTables;
}
