// Moving the host's document into the plug-in's own image records and back.
//
// FetchHostImage asks the host for the whole image in one advanceState request and fills
// g_HostImage (1 or 3 channels, blue-green-red, 8 or 16 bits) and, for a document with a
// transparency plane, g_HostAlpha; the host's 16-bit data (0..32768) is widened to the full
// 16-bit range. WriteHostImage undoes order and widening and writes the colour samples back;
// the host's transparency plane keeps its own values. Both report through the result word of
// the current call (g_pResult).
#pragma once

#include <cstdint>

#include "engine/ImageBuffer.h"

// The host image buffers: valid from the fetch to the end of the same start selector.
extern ImageBuffer g_HostImage;
extern ImageBuffer g_HostAlpha;

void FetchHostImage();
void WriteHostImage();

// Host rows (R, G, B [, A] or grey [, A]) into an already created image (B, G, R [, A]).
// 8-bit images take byte samples, every other depth 16-bit samples; 1 to 4 channels.
void CopyFromHostBuffer(ImageBuffer* image, const void* data, int32_t rowBytes);
// The image's samples into host rows; of 2- and 4-channel images only the colour samples are
// written and the host's last sample of every pixel stays.
void CopyToHostBuffer(void* data, int32_t rowBytes, const ImageBuffer* image);
// Splits a packed 2- or 4-channel image into its colour channels and its last channel (both
// created by the caller with the source's size and bits).
void SplitAlpha(ImageBuffer* colour, ImageBuffer* alpha, const ImageBuffer* source);
// Copies the colour samples of every pixel into the first channels of a created 2- or
// 4-channel image; its last channel is left as it is.
void MergeAlpha(ImageBuffer* destination, const ImageBuffer* colour);
