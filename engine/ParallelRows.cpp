#include "engine/ParallelRows.h"

#include "engine/Platform.h"

namespace {

constexpr int kMaxSlices = 16;

struct Slice
{
    void (*fn)(void*, int, int);
    void* context;
    int begin;
    int end;
};

unsigned int RunSlice(void* arg)
{
    const Slice* s = static_cast<const Slice*>(arg);
    s->fn(s->context, s->begin, s->end);
    return 0;
}

} // namespace

void ParallelRows(int count, int threads, int grain, void (*fn)(void* context, int begin, int end), void* context)
{
    if (count <= 0)
        return;
    if (grain < 1)
        grain = 1;
    if (threads > kMaxSlices)
        threads = kMaxSlices;
    const int units = (count + grain - 1) / grain;
    if (threads > units)
        threads = units;
    if (threads <= 1)
    {
        fn(context, 0, count);
        return;
    }
    Slice slices[kMaxSlices];
    PlatformThread* workers[kMaxSlices] = {};
    for (int i = 0; i < threads; ++i)
    {
        const int b = static_cast<int>(static_cast<long long>(units) * i / threads) * grain;
        const int e = static_cast<int>(static_cast<long long>(units) * (i + 1) / threads) * grain;
        slices[i] = Slice{fn, context, b, e < count ? e : count};
    }
    for (int i = 1; i < threads; ++i)
        workers[i] = PlatformStartThread(&RunSlice, &slices[i], 0);
    fn(context, slices[0].begin, slices[0].end);
    for (int i = 1; i < threads; ++i)
    {
        if (workers[i] == nullptr)
            fn(context, slices[i].begin, slices[i].end);
        else
        {
            PlatformJoinThread(workers[i], kPlatformWaitForever);
            PlatformCloseThread(workers[i]);
        }
    }
}
