// The off-screen surface of the main window and the document it holds.
#include "app/view/BackBuffer.h"

#include "ui/ScopedWin32.h"

#include <utility>

CBackBuffer g_BackBuffer;

bool CBackBuffer::Create(HWND hOwner)
{
    m_hWnd = hOwner;
    m_iWidth = kSurfaceWidth;
    m_iHeight = kSurfaceHeight;
    // The record lives across runs: whatever an earlier window left behind is freed, not
    // forgotten.
    ReleaseImage(&m_Source);
    ReleaseImage(&m_Result);
    ReleaseImage(&m_Alpha);
    if (!CreateSurface()) return false;
    FillImageBytes(&m_Surface, kBackground);
    return true;
}

bool CBackBuffer::CreateSurface()
{
    ReleaseSurface();
    InitImage(&m_Surface);
    ScopedMemoryDC dc;
    {
        const ScopedWindowDC screen(nullptr);
        dc.reset(CreateCompatibleDC(screen.get()));
    }
    if (!dc) return false;

    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = m_iWidth;
    bmi.bmiHeader.biHeight = -m_iHeight;  // rows top first
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ScopedGdiObject<HBITMAP> bitmap(CreateDIBSection(dc.get(), &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return false;
    // The surface keeps both for its life; ReleaseSurface gives them back.
    m_hDC = dc.release();
    m_hBitmap = bitmap.release();
    m_hOldBitmap = static_cast<HBITMAP>(SelectObject(m_hDC, m_hBitmap));
    const ScopedGdiObject<HRGN> clip(CreateRectRgn(0, 0, m_iWidth, m_iHeight));
    if (clip) SelectClipRgn(m_hDC, clip.get());  // the DC takes a copy
    // 3000 x 3 bytes per row is a multiple of 4: the DIB's rows are packed like an image's.
    m_Surface.m_pData = bits;
    m_Surface.m_iWidth = m_iWidth;
    m_Surface.m_iHeight = m_iHeight;
    m_Surface.m_iChannels = 3;
    m_Surface.m_iBits = 8;
    m_Surface.m_iStride = m_iWidth * 3;
    m_Surface.m_iSize = m_Surface.m_iStride * m_iHeight;
    return true;
}

void CBackBuffer::ReleaseSurface()
{
    // Handed to holders, which free the bitmap and then the DC once the bitmap is selected out.
    const ScopedMemoryDC dc(std::exchange(m_hDC, nullptr));
    const ScopedGdiObject<HBITMAP> bitmap(std::exchange(m_hBitmap, nullptr));
    const HBITMAP oldBitmap = std::exchange(m_hOldBitmap, nullptr);
    if (dc) SelectObject(dc.get(), oldBitmap);
    // The pixels belonged to the DIB section: forget them, never free them.
    InitImage(&m_Surface);
}

void CBackBuffer::Destroy()
{
    ReleaseImage(&m_Source);
    ReleaseImage(&m_Result);
    ReleaseImage(&m_Alpha);
    ReleaseSurface();
}

int CBackBuffer::Blit(const PAINTSTRUCT& ps) const
{
    if (!m_hDC) return kBlitNoSurface;
    const RECT& r = ps.rcPaint;
    if (r.right > m_Surface.m_iWidth || r.bottom > m_Surface.m_iHeight) return kBlitOutside;
    if (!BitBlt(ps.hdc, r.left, r.top, r.right - r.left, r.bottom - r.top, m_hDC, r.left, r.top, SRCCOPY))
        return kBlitFailed;
    return kBlitOk;
}
