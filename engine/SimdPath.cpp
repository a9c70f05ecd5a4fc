#include "engine/SimdPath.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace
{

// -1 until the first call decides.
std::atomic<int> s_path{-1};

bool CpuHasAvx2()
{
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__i386__) || defined(__x86_64__))
    // libgcc's probe also checks that the operating system saves the YMM registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

int ChoosePath()
{
    int path = CpuHasAvx2() ? static_cast<int>(SimdPath::kAvx2) : static_cast<int>(SimdPath::kSse2);
    const char* pWanted = std::getenv("HPX_SIMD");
    if (pWanted != nullptr && (std::strcmp(pWanted, "sse2") == 0 || std::strcmp(pWanted, "SSE2") == 0))
        path = static_cast<int>(SimdPath::kSse2);
    return path;
}

}  // namespace

SimdPath ActiveSimdPath()
{
    int path = s_path.load(std::memory_order_relaxed);
    if (path < 0)
    {
        // Two threads may both decide; they decide alike.
        path = ChoosePath();
        s_path.store(path, std::memory_order_relaxed);
    }
    return static_cast<SimdPath>(path);
}

bool SimdPathSupported(SimdPath path) { return path == SimdPath::kSse2 || (path == SimdPath::kAvx2 && CpuHasAvx2()); }

bool ForceSimdPath(SimdPath path)
{
    if (!SimdPathSupported(path)) return false;
    s_path.store(static_cast<int>(path), std::memory_order_relaxed);
    return true;
}

const char* SimdPathName(SimdPath path) { return path == SimdPath::kAvx2 ? "AVX2" : "SSE2"; }
