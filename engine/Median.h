// Median pre-filter against isolated point defects (hot pixels, impulse noise).
#pragma once

#include "engine/ImageBuffer.h"

class WorkerPool;

// One-channel 8- or 16-bit planes of equal shape; dst must have a block. Copies src into dst,
// then filters: radius 1 gives the 5-sample plus (8 bits) or the 3x3 square (16 bits) on the
// interior pixels only; any other radius gives the 7x7 square clipped to the image, on every pixel.
// The value written is the element of rank n/2 of the n samples gathered.
// Returns kImageOk, or kImageNoMemory when the working memory of some rows could not be had
// (dst is then not the filtered image; the caller drops it).
unsigned char MedianFilter(ImageBuffer* dst, const ImageBuffer* src, int32_t radius, WorkerPool* pool = nullptr);

// Filters an image of any channel count channel by channel (see MedianFilter), with the same
// result codes, and kImageBadArgs when a channel cannot be moved between the images (a
// destination of another shape or depth; dst is then not the filtered image). pool: threads that
// share the rows (null: the calling thread alone); the result is the same.
unsigned char MedianFilterImage(ImageBuffer* dst, const ImageBuffer* src, int32_t radius, WorkerPool* pool = nullptr);
