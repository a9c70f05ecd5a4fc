// The engine's image record and its elementary operations.
//
// One plain record describes every image of the system, from the host document down to the
// single-plane work planes of the denoiser. The record is carried whole between the plug-in and
// HPXProcessGPU, so its layout (seven 32-bit fields in the 32-bit build) must never change.
//
// Samples are interleaved per pixel, rows follow each other without padding
// (stride = width x bytes per sample x channels), multi-byte samples are little-endian.
// Colour images hold blue, green, red (or Y, Cr, Cb after RgbToYCbCr).
#pragma once

#include <cstddef>
#include <cstdint>

struct ImageBuffer
{
    void* m_pData;        // pixel block (malloc/free), null when the record is empty
    int32_t m_iSize;      // bytes in the block = m_iStride x m_iHeight
    int32_t m_iStride;    // bytes per row = m_iWidth x ((m_iBits + 7) / 8) x m_iChannels
    int32_t m_iWidth;     // pixels per row
    int32_t m_iHeight;    // rows
    int32_t m_iChannels;  // samples per pixel: 1 or 3 (4 only inside the host adapter)
    int32_t m_iBits;      // bits per sample: 8, 15 (in 16-bit words), 16, 32 (float/int32), 64 (double)
};

// The 32-bit layout is part of the message protocol with HPXProcessGPU.
static_assert(sizeof(void*) != 4 || offsetof(ImageBuffer, m_iSize) == 4, "ImageBuffer layout");
static_assert(sizeof(void*) != 4 || offsetof(ImageBuffer, m_iStride) == 8, "ImageBuffer layout");
static_assert(sizeof(void*) != 4 || offsetof(ImageBuffer, m_iWidth) == 12, "ImageBuffer layout");
static_assert(sizeof(void*) != 4 || offsetof(ImageBuffer, m_iHeight) == 16, "ImageBuffer layout");
static_assert(sizeof(void*) != 4 || offsetof(ImageBuffer, m_iChannels) == 20, "ImageBuffer layout");
static_assert(sizeof(void*) != 4 || offsetof(ImageBuffer, m_iBits) == 24, "ImageBuffer layout");
static_assert(sizeof(void*) != 4 || sizeof(ImageBuffer) == 28, "ImageBuffer must be 28 bytes");

// Result codes of the image library.
enum : unsigned char
{
    kImageOk = 0,       // success
    kImageBadArgs = 1,  // bad or unsupported arguments
    kImageNoMemory = 6  // the pixel block could not be allocated
};

// Bytes per sample for a bit depth: 1 for 8, 2 for 9..16, 4 for 32, 8 for 64.
inline int32_t ImageBytesPerSample(int32_t bits) { return (bits + 7) / 8; }

// Sets all seven fields to zero without freeing anything; returns the image.
ImageBuffer* InitImage(ImageBuffer* image);

// Frees the present block, sets the new shape and allocates an (uncleared) block.
// Returns kImageOk or kImageNoMemory (also for shapes without pixels or beyond the 32-bit size
// field); on failure the record is left empty (all fields zero).
unsigned char CreateImage(ImageBuffer* image, int32_t width, int32_t height, int32_t channels, int32_t bits);

// Gives the destination the source's shape. The block is kept (with its old content) when it
// exists and has the source's size, otherwise a new uncleared block is allocated.
// Returns kImageOk or kImageNoMemory; on failure the destination is left empty.
unsigned char CopyImageLayout(ImageBuffer* dst, const ImageBuffer* src);

// Copies min(dst size, src size) bytes of pixels; shapes are neither changed nor compared.
void CopyImagePixels(ImageBuffer* dst, const ImageBuffer* src);

// Frees the block and zeroes the record; does nothing when the record has no block.
void ReleaseImage(ImageBuffer* image);

// Sets every byte of the pixel block to value.
void FillImageBytes(ImageBuffer* image, unsigned char value);

// Copies a width x height rectangle of whole pixels from (srcX, srcY) in src to (dstX, dstY) in
// dst. Layouts: 8 or 9..16 bits with 1 or 3 channels, 32 or 64 bits with 1 channel; anything else
// copies nothing. Rectangles are not clipped: callers keep them inside both images.
void CopyImageRect(ImageBuffer* dst, const ImageBuffer* src, int32_t dstX, int32_t dstY, int32_t srcX, int32_t srcY,
                   int32_t width, int32_t height);

// Sets every byte of the pixels in [left, right) x [top, bottom) to value. Layouts: 8 bits with
// 1 or 3 channels, 64 bits with 1 channel; anything else is ignored. Not clipped.
void FillImageRect(ImageBuffer* image, int32_t left, int32_t top, int32_t right, int32_t bottom, unsigned char value);
