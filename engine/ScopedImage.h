// A temporary image inside the engine that gives its block back however its scope is left, so
// an early return cannot leak it. The record is a plain ImageBuffer (img), passed to the image
// functions by address as any other; Take hands the block over to whoever keeps it.
#pragma once

#include "engine/ImageBuffer.h"

struct ScopedImage
{
    ImageBuffer img;

    ScopedImage() { InitImage(&img); }
    ~ScopedImage() { ReleaseImage(&img); }
    ScopedImage(const ScopedImage&) = delete;
    ScopedImage& operator=(const ScopedImage&) = delete;

    // The record with its block; this holder is left empty.
    ImageBuffer Take()
    {
        const ImageBuffer taken = img;
        InitImage(&img);
        return taken;
    }
};
