// Draws the document into the back buffer's surface: the original or the denoised image
// resampled through the view's similarity transform, the transparency over a checkerboard and
// the inverted outline of the parameter panel's preview rectangle.
//
// The view keeps 8-bit display copies of what it last drew, so navigation redraws only
// resample (the use-cached-copy flag). One instance, g_PreviewView, on the host's thread.
// Owner: app/view; the panel sets m_pPreviewRect.
#pragma once

#include <windows.h>
#include <cstdint>

#include "engine/ImageBuffer.h"
#include "engine/SimilarityTransform.h"

enum : int
{
    kViewOriginal = 1,  // which: m_Source through m_Original
    kViewDenoised = 2   // which: m_Result through m_Denoised
};

class CPreviewView
{
public:
    HWND m_hWnd;                    // the window whose client size bounds the drawing
    ImageBuffer* m_pSurface;        // the back buffer's m_Surface
    int m_iQuality;                 // 0 nearest, 1 bilinear, 2 bicubic
    ImageBuffer m_Original;         // 8-bit 3-channel display copy of the source
    ImageBuffer m_Denoised;         // 8-bit 3-channel display copy of the result
    ImageBuffer m_Mask;             // 8-bit 1-channel display copy of the transparency
    const int32_t* m_pPreviewRect;  // left, top, right, bottom in image pixels; null: no outline
    bool m_bCopyFailed;             // the last Draw could not make a display copy (memory ran short)

    // Stores both and empties the display copies (releasing what they held).
    void Init(HWND hWnd, ImageBuffer* pSurface);
    void SetQuality(int method) { m_iQuality = method; }
    // Releases the three display copies.
    void ReleaseCopies();
    // Rebuilds one display copy (which 1 or 2) from an image: 8 bits, 3 channels. Returns
    // kImageOk, kImageBadArgs for an image without pixels, kImageNoMemory (copy then empty).
    unsigned char RefreshCopy(int which, const ImageBuffer* image);

    // Draws a frame; true when only the background (and mask) was drawn. See the algorithm
    // in PreviewView.cpp. Nothing is drawn while a batch runs, before the first image has
    // arrived, or when there is no surface.
    bool Draw(double viewX, double viewY, double imageX, double imageY, double zoom, bool useCachedCopy,
              const ImageBuffer* image, int which, bool drawImage, const ImageBuffer* mask);

    // The part of the surface that Draw writes: the client area limited to the surface.
    // False when there is nothing to draw into.
    bool DrawTarget(ImageBuffer* target) const;

private:
    void Resample(ImageBuffer* target, const ImageBuffer* source, const SimilarityTransform& xf) const;
};

extern CPreviewView g_PreviewView;

// Blends a checkerboard of 15-pixel squares (colour A at the top-left) into an 8-bit 3-channel
// target where the 1-channel mask (target's width and height, rows packed) is below 255.
void BlendCheckerboard(ImageBuffer* target, const ImageBuffer* mask, int colourA, int colourB);

// Inverts the two-pixel outline of an image rectangle (mapped to the target through the
// transform) in an 8-bit 3-channel target, only where it lies inside the target. Drawing the
// same outline twice restores the pixels.
void InvertOutline(ImageBuffer* target, const SimilarityTransform& xf, const int32_t rect[4]);
