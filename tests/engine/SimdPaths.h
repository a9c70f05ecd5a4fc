// Runs a test body once on each instruction-set path of the kernels. A path this processor
// cannot run is named in the output as not run, never passed over in silence.
#pragma once

#include "engine/SimdPath.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace hpxtest
{

template <typename Body> void ForEachSimdPath(Body body)
{
    const SimdPath kept = ActiveSimdPath();
    for (SimdPath path : {SimdPath::kSse2, SimdPath::kAvx2})
    {
        if (!ForceSimdPath(path))
        {
            std::printf("[ NOT RUN  ] %s path: this processor cannot run it\n", SimdPathName(path));
            continue;
        }
        std::printf("[ PATH     ] %s\n", SimdPathName(path));
        SCOPED_TRACE(SimdPathName(path));
        body();
    }
    ForceSimdPath(kept);
}

}  // namespace hpxtest
