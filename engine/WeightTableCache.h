// Cached weight look-up tables of the non-local-means passes.
//
// A weight table maps a patch distance d (0 .. key x key x 255) to the weight of that distance in
// units of 1/10000: trunc(exp(d^3 / (-300) / h_i) x 10000 + 0.5), entry 0 exactly 10000. A slot
// holds 256 tables, one per guide level i, whose h_i follows the dynamics a: h (1 + a i / 256) for
// a > 0 (bright pixels smoothed more), h (1 + (255 - i)(-a) / 256) for a < 0 (dark pixels), h for
// a = 0. The cache keeps seven slots and replaces them round-robin.
//
// The cache itself takes no lock, and a Build overwrites the tables of the slot it reuses. Several
// passes may run at once in one process (a preview beside a job), so every CPU pass looks the
// tables up (and builds them) under one lock of the passes and, still holding it, copies what it
// needs into tables of its own; no pass or worker reads the cache's tables after that lock.
#pragma once

#include <cstdint>

enum : int
{
    kWeightLevels = 256,  // one table per guide level
    kWeightSlots = 7,     // parameter sets kept
    kWeightPatchKey = 6,  // patch edge of the passes (tables of 6 x 6 x 256 = 9216 entries)
    kWeightOne = 10000    // weight of distance 0
};

// Fills table[0 .. length-1] for the level's h_i (see above).
void FillWeightTable(int* table, int length, double dHi);

// 256 table pointers, one per guide level; all null when constructed.
struct WeightTableSlot
{
    int* m_apTables[kWeightLevels];

    WeightTableSlot();
    ~WeightTableSlot();
    WeightTableSlot(const WeightTableSlot&) = delete;
    WeightTableSlot& operator=(const WeightTableSlot&) = delete;

    void FreeWeightTables();
};

class CWeightTableCache
{
public:
    CWeightTableCache();   // allocates the slot array, every slot invalid
    ~CWeightTableCache();  // frees every table of every slot, then the slot array
    CWeightTableCache(const CWeightTableCache&) = delete;
    CWeightTableCache& operator=(const CWeightTableCache&) = delete;

    // Looks for a valid slot whose dynamics and h are both within 0.001 of the given ones and
    // whose key is equal (the first such slot in slot order). Returns false and sets *pppTables
    // to its 256 table pointers when found; true when there is none.
    bool Find(int*** pppTables, double dDynamics, double dH, int iKey);

    // Fills the next slot (round-robin) with the tables of (dDynamics, dH, iKey). Returns 0
    // (kBuilt), or 1 (kNotBuilt) when memory ran out (the slot then stays invalid).
    enum : unsigned char
    {
        kBuilt = 0,
        kNotBuilt = 1
    };
    unsigned char Build(double dDynamics, double dH, int iKey);

    // Inspection (tests, diagnostics).
    int NextSlot() const { return m_iNext; }
    bool IsSlotValid(int iSlot) const;
    int** SlotTables(int iSlot) const;  // null when the slot array is missing

private:
    double m_adDynamics[kWeightSlots];
    double m_adH[kWeightSlots];
    int m_aiKey[kWeightSlots];
    int m_aiLength[kWeightSlots];
    int m_aiValid[kWeightSlots];
    int m_iNext;
    WeightTableSlot* m_pSlots;
};

// The one cache of the process, used by the CPU passes.
extern CWeightTableCache g_WeightTableCache;

// Looks the tables of (dDynamics2, dH, 6) up in g_WeightTableCache, building them when missing.
// Returns the 256 table pointers, or null when they could not be built (out of memory).
int** AcquireWeightTables(double dDynamics2, double dH);
