// The main window's off-screen surface and the document it shows.
//
// CBackBuffer owns a memory DC with a 3000 x 2000 24-bit top-down DIB section (m_Surface
// describes its pixels as an 8-bit 3-channel image, blue-green-red) and the document: the source
// image as it was loaded, the denoised result of the same shape (a copy of the source until a run
// finishes), the optional 1-channel transparency image and the image information strings.
// The main window, open/save, the parameter panel, the job dispatch and the batch all work on
// the one instance g_BackBuffer; everything runs on the host's thread.
//
// Owners: the surface and the document's life (Create, Destroy, image arrival) belong to the
// window (app/view, app/window); OpenImageFile and SaveImageFile are the open/save code's
// (app/files, defined there).
#pragma once

#include <windows.h>

#include "engine/ImageBuffer.h"
#include "imagefiles/ImageInfo.h"

// Results of CBackBuffer::Blit.
enum : int
{
    kBlitOk = 0,
    kBlitOutside = 1,    // the paint rectangle reaches beyond the surface: nothing copied
    kBlitNoSurface = 3,  // there is no DC
    kBlitFailed = 4      // BitBlt failed
};

class CBackBuffer
{
public:
    // Sizes of the surface.
    static constexpr int kSurfaceWidth = 3000;
    static constexpr int kSurfaceHeight = 2000;
    // Grey of the background behind the image.
    static constexpr unsigned char kBackground = 48;

    HDC m_hDC;              // memory DC, null when there is no surface
    HWND m_hWnd;            // the owner window
    HBITMAP m_hBitmap;      // the DIB section selected into m_hDC
    HBITMAP m_hOldBitmap;   // what the DC held before
    int m_iWidth;           // 3000
    int m_iHeight;          // 2000
    ImageBuffer m_Surface;  // the DIB's pixels (empty when there is no surface)
    ImageBuffer m_Source;   // the image as loaded: 8 or 16 bits, 1 or 3 channels
    ImageBuffer m_Result;   // the denoised result, same shape as m_Source
    ImageBuffer m_Alpha;    // transparency, 1 channel; may be empty
    ImageInfoStrings m_Info;

    // Sets the owner and sizes, creates the surface (filled with kBackground when it exists)
    // and empties the three images (releasing whatever a previous run left in them); the
    // information strings are the window's to clear and fill. Returns false when the surface could not be made; the document
    // still works, nothing is drawn.
    bool Create(HWND hOwner);
    bool CreateSurface();
    void ReleaseSurface();
    // Releases the three images and the surface.
    void Destroy();
    // Copies the paint rectangle from the surface to the paint DC (kBlit* results).
    int Blit(const PAINTSTRUCT& ps) const;

    bool HasSurface() const { return m_hDC != nullptr && m_Surface.m_pData != nullptr; }
    // m_Source and m_Result both hold pixels.
    bool HasDocument() const { return m_Source.m_pData != nullptr && m_Result.m_pData != nullptr; }

    // Open/save (app/files). Both return true on failure.
    bool OpenImageFile(wchar_t path[1024], bool quiet);
    bool SaveImageFile(wchar_t outPath[1024], const wchar_t* metadataSource);
};

extern CBackBuffer g_BackBuffer;
