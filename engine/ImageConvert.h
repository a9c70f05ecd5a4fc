// Depth, channel and colour conversions of ImageBuffer records.
//
// Colour images are blue, green, red (channel 0 blue). A YCbCr image made by RgbToYCbCr has the
// source's shape and depth and holds Y, Cr, Cb in channels 0, 1, 2 (chroma offset 128 for 8 bits,
// 2^(bits-1) otherwise). Float planes are never rescaled: from 8-bit data they hold 0..255, from
// 16-bit data 0..65535.
#pragma once

#include "engine/ImageBuffer.h"

// Converts the image in place to the given bits and channel count. Channel changes allowed:
// equal counts, from 1 channel, or to 1 channel (mean of the samples). Returns kImageBadArgs for
// an unsupported change (image untouched), kImageNoMemory when a block could not be allocated,
// otherwise kImageOk.
unsigned char ConvertImage(ImageBuffer* image, int32_t bits, int32_t channels);

// Blue-green-red to Y, Cr, Cb (BT.601). Both records need a block, 3 channels and equal bits
// (8 or 16); dst must already have the source's shape and may be the source itself.
unsigned char RgbToYCbCr(ImageBuffer* dst, const ImageBuffer* src);

// Y, Cr, Cb back to blue-green-red; same requirements as RgbToYCbCr.
unsigned char YCbCrToRgb(ImageBuffer* dst, const ImageBuffer* src);

// Copies channel `index` of src into the one-channel dst (equal width, height and bits; bits 8,
// 9..16 or 32). Returns kImageBadArgs and writes nothing when the test fails.
unsigned char ExtractChannel(ImageBuffer* dst, int32_t index, const ImageBuffer* src);

// Writes the one-channel src into channel `index` of dst (equal width, height and bits; bits 8,
// 16 or 32). Returns kImageBadArgs and writes nothing when the test fails.
unsigned char InsertChannel(ImageBuffer* dst, int32_t index, const ImageBuffer* src);
