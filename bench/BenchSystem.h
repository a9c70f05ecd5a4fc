// Processor limits, memory probes and clocks of the benchmark.
#pragma once

#include <cstdint>

// Processors available when the bench started.
unsigned BenchAllProcessors();

// Lets the process run on the first n of its processors (0: all of them again). The engine counts
// its threads from this affinity, so a job then runs n threads.
bool BenchLimitProcessors(unsigned n);

// Peak memory held during a measured stretch, beyond what was resident when it started.
class MemoryProbe
{
public:
    MemoryProbe();
    ~MemoryProbe();
    void Start();
    // Megabytes above the resident size at Start(), at the highest point since.
    double StopPeakExtraMB();

private:
    struct Impl;
    Impl* m_pImpl;
};

double BenchSeconds();  // monotonic clock
