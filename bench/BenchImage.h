// Images of the benchmark: PPM files in and out, crops, noise.
#pragma once

#include "engine/ImageBuffer.h"

#include <cstdint>
#include <string>

// Reads a binary PPM (P6, maxval 255 or 65535) into a 3-channel blue-green-red image of 8 or 16
// bits. False with a message on stderr for anything else.
bool ReadPpm(const std::string& path, ImageBuffer* image);

// Copies a rectangle of an image into a new image.
bool CropImage(ImageBuffer* dst, const ImageBuffer* src, int32_t x, int32_t y, int32_t width, int32_t height);

// dst = src + Gaussian noise of standard deviation sigma8 x (max / 255), rounded and clamped;
// the generator is seeded with `seed`, so every run gets the same noisy image.
bool AddGaussianNoise(ImageBuffer* dst, const ImageBuffer* src, double sigma8, uint64_t seed);

// A picture with smooth areas and edges, 3 channels of 8 or 16 bits: gradients crossed by bars.
bool MakeBarsPicture(ImageBuffer* img, int w, int h, int bits);

// A 16-bit image with the 8-bit image's content (v x 257).
bool WidenTo16(ImageBuffer* dst, const ImageBuffer* src);
