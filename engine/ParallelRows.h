// Splits a loop over rows among a few threads for the engine's plane filters (blur, pyramid).
// Every slice runs the same function on its own rows, so the results do not depend on the
// thread count.
#pragma once

// Runs fn(context, begin, end) over [0, count) cut into at most `threads` slices whose bounds are
// multiples of `grain` (except the last). The calling thread runs the first slice; a slice whose
// thread cannot be started runs on the calling thread as well. Returns when every slice is done.
void ParallelRows(int count, int threads, int grain, void (*fn)(void* context, int begin, int end), void* context);
