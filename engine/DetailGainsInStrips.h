// The three detail gains applied to a whole image in horizontal strips, so that an image of
// today's camera sizes gets them inside a 32-bit process: a pyramid of the whole picture needs
// nine float planes per level, several gigabytes for 24 megapixels at 16 bits.
#pragma once

#include "engine/ImageBuffer.h"

// Rows of context above and below each strip: more than the reach of three pyramid levels, and a
// multiple of the coarsest level's step, so every strip's centre rows equal the whole-image result.
constexpr int kDetailStripMargin = 128;

// Applies the gains to the 1- or 3-channel 8- or 16-bit image in place, with the pyramid of
// BuildImagePyramid(levels maxLevels, cap levelCap) of the image converted to 3 channels, exactly
// as ApplyDetailGains on the whole image would. stripRows is the height of a strip's centre
// (rounded up to a multiple of 8; 0 picks one of about four megapixels); when a strip's memory
// cannot be had, the strip height is halved down to 64 rows before giving up.
// Returns kImageOk (also when the gains are all 1), kImageBadArgs for an unusable image (untouched)
// or kImageNoMemory when even the smallest strip could not get its memory; strips finished before
// that keep their gains, *rowsLeft (when given) then counts the rows left without them.
unsigned char ApplyDetailGainsInStrips(ImageBuffer* image, double gain1, double gain2, double gain3, int maxLevels,
                                       int levelCap, int stripRows = 0, int* rowsLeft = nullptr);
