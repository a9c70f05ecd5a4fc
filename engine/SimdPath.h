// Instruction-set paths of the hot kernels.
//
// The kernels exist as SSE2 bodies (the baseline of both builds) and as AVX2 bodies, and every
// path gives the same bytes. The path in force is the widest the processor and the operating
// system run, unless the environment variable HPX_SIMD names a narrower one ("sse2") or a test
// forced one. The choice is made once and read with a relaxed load per kernel call.
#pragma once

enum class SimdPath : int
{
    kSse2 = 0,
    kAvx2 = 1
};

// The path the kernels take now.
SimdPath ActiveSimdPath();

// True when this processor (and its operating system) can run the path.
bool SimdPathSupported(SimdPath path);

// Test hook: makes the kernels take the path from now on. False, and nothing changed, when the
// processor cannot run it. Not meant to be called while a job runs.
bool ForceSimdPath(SimdPath path);

// "SSE2" or "AVX2".
const char* SimdPathName(SimdPath path);

inline bool UseAvx2() { return ActiveSimdPath() == SimdPath::kAvx2; }
