// Allocation of the temporaries of the blur, the pyramid passes, the tile pipeline and the job.
//
// Every such temporary is allocated through these functions so that running out of memory can be
// simulated: the tests let a chosen number of allocations succeed and fail the rest, and check
// that no step then writes through a missing block and that a tile falls back to its source.
#pragma once

#include "engine/ImageBuffer.h"

#include <cstddef>

// After `allowed` further successful allocations every one fails; a negative value turns the
// simulation off (the default).
void SimulateTileAllocationFailures(int allowed);

// CreateImage / CopyImageLayout, or kImageNoMemory with the record left empty when a simulated
// failure is due.
unsigned char TileCreateImage(ImageBuffer* image, int32_t width, int32_t height, int32_t channels, int32_t bits);
unsigned char TileCopyImageLayout(ImageBuffer* dst, const ImageBuffer* src);

// A zeroed float plane of `count` samples (at least one element), or null.
float* TileAllocFloats(size_t count);
