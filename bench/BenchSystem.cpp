#include "BenchSystem.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <malloc.h>
#include <sched.h>
#endif

namespace
{

#ifdef _WIN32
DWORD_PTR g_initialMask = 0;
size_t WorkingSet()
{
    PROCESS_MEMORY_COUNTERS pmc;
    std::memset(&pmc, 0, sizeof(pmc));
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.WorkingSetSize;
}
#else
bool g_haveInitial = false;
cpu_set_t g_initialSet;

// A "VmXXX:   123 kB" line of /proc/self/status, in kB.
long StatusKb(const char* key)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return 0;
    char line[256];
    long value = 0;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof(line), f))
        if (std::strncmp(line, key, n) == 0)
        {
            value = std::atol(line + n);
            break;
        }
    std::fclose(f);
    return value;
}
#endif

void RememberInitial()
{
#ifdef _WIN32
    if (g_initialMask == 0)
    {
        DWORD_PTR process = 0, system = 0;
        GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
        g_initialMask = process;
    }
#else
    if (!g_haveInitial)
    {
        sched_getaffinity(0, sizeof(g_initialSet), &g_initialSet);
        g_haveInitial = true;
    }
#endif
}

}  // namespace

unsigned BenchAllProcessors()
{
    RememberInitial();
#ifdef _WIN32
    unsigned n = 0;
    for (DWORD_PTR m = g_initialMask; m; m &= m - 1) ++n;
    return n;
#else
    return static_cast<unsigned>(CPU_COUNT(&g_initialSet));
#endif
}

bool BenchLimitProcessors(unsigned n)
{
    RememberInitial();
#ifdef _WIN32
    DWORD_PTR want = 0;
    unsigned taken = 0;
    for (unsigned bit = 0; bit < sizeof(DWORD_PTR) * 8; ++bit)
        if ((g_initialMask >> bit) & 1)
        {
            if (n != 0 && taken == n) break;
            want |= static_cast<DWORD_PTR>(1) << bit;
            ++taken;
        }
    return SetProcessAffinityMask(GetCurrentProcess(), want) != 0;
#else
    cpu_set_t want;
    CPU_ZERO(&want);
    unsigned taken = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &g_initialSet))
        {
            if (n != 0 && taken == n) break;
            CPU_SET(cpu, &want);
            ++taken;
        }
    return sched_setaffinity(0, sizeof(want), &want) == 0;
#endif
}

struct MemoryProbe::Impl
{
    double baseMB = 0;
#ifdef _WIN32
    std::atomic<bool> stop{false};
    std::atomic<size_t> peak{0};
    std::thread sampler;
#endif
};

MemoryProbe::MemoryProbe() : m_pImpl(new Impl) {}
MemoryProbe::~MemoryProbe()
{
#ifdef _WIN32
    if (m_pImpl->sampler.joinable())
    {
        m_pImpl->stop = true;
        m_pImpl->sampler.join();
    }
#endif
    delete m_pImpl;
}

void MemoryProbe::Start()
{
#ifdef _WIN32
    m_pImpl->baseMB = WorkingSet() / 1048576.0;
    m_pImpl->peak = WorkingSet();
    m_pImpl->stop = false;
    m_pImpl->sampler = std::thread(
        [this]
        {
            while (!m_pImpl->stop)
            {
                const size_t ws = WorkingSet();
                if (ws > m_pImpl->peak) m_pImpl->peak = ws;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
#else
    // Free heap memory kept by the allocator would be reused without showing as growth: give it
    // back first, so the peak counts every page the measured stretch touches.
    malloc_trim(0);
    m_pImpl->baseMB = StatusKb("VmRSS:") / 1024.0;
    // Resets the peak resident size (VmHWM) to the present one.
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w"))
    {
        std::fputs("5", f);
        std::fclose(f);
    }
#endif
}

double MemoryProbe::StopPeakExtraMB()
{
#ifdef _WIN32
    m_pImpl->stop = true;
    if (m_pImpl->sampler.joinable()) m_pImpl->sampler.join();
    return m_pImpl->peak / 1048576.0 - m_pImpl->baseMB;
#else
    return StatusKb("VmHWM:") / 1024.0 - m_pImpl->baseMB;
#endif
}

double BenchSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
