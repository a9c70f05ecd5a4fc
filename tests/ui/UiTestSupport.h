// Helpers of the user-interface tests: GDI+ started as a host would, message pumping, DIB
// sections to draw on, window captures and PNG artefacts.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace uitest
{

// The plug-in relies on the host process having started GDI+; the tests do it the same way.
class GdiplusEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc),
                                    ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                                        ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        Gdiplus::GdiplusStartupInput in;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&m_token, &in, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }

private:
    ULONG_PTR m_token = 0;
};

inline void Pump(int rounds = 5)
{
    for (int i = 0; i < rounds; ++i)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// A 32-bit top-down DIB section selected into a memory DC.
class Dib
{
public:
    Dib(int w, int h) : m_w(w), m_h(h)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        m_dc = CreateCompatibleDC(nullptr);
        m_bmp = CreateDIBSection(m_dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
        m_old = SelectObject(m_dc, m_bmp);
    }
    ~Dib()
    {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bmp);
        DeleteDC(m_dc);
    }
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;

    HDC dc() const { return m_dc; }
    HBITMAP bitmap() const { return m_bmp; }
    int width() const { return m_w; }
    int height() const { return m_h; }
    void Fill(COLORREF c)
    {
        GdiFlush();
        for (int i = 0; i < m_w * m_h; ++i)
            m_bits[i] = (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
    }
    // The pixel as a COLORREF (alpha dropped).
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        const uint32_t p = m_bits[y * m_w + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    uint32_t Raw(int x, int y) const
    {
        GdiFlush();
        return m_bits[y * m_w + x];
    }
    uint32_t* bits() { return m_bits; }

private:
    int m_w, m_h;
    HDC m_dc = nullptr;
    HBITMAP m_bmp = nullptr;
    HGDIOBJ m_old = nullptr;
    uint32_t* m_bits = nullptr;
};

// Copies the client area of a window (BitBlt from its DC; PrintWindow captures black under Wine).
inline void CaptureClient(HWND hWnd, Dib& out)
{
    HDC wdc = GetDC(hWnd);
    BitBlt(out.dc(), 0, 0, out.width(), out.height(), wdc, 0, 0, SRCCOPY);
    ReleaseDC(hWnd, wdc);
    GdiFlush();
}

// Writes the DIB as a PNG file through GDI+.
inline bool SavePng(const Dib& dib, const std::wstring& path)
{
    // Image encoder for PNG: {557CF406-1A04-11D3-9A73-0000F81EF32E}
    static const CLSID kPng = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    Gdiplus::GpBitmap* bmp = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(dib.bitmap(), nullptr, &bmp) != Gdiplus::Ok) return false;
    const bool ok = Gdiplus::DllExports::GdipSaveImageToFile(bmp, path.c_str(), &kPng, nullptr) == Gdiplus::Ok;
    Gdiplus::DllExports::GdipDisposeImage(bmp);
    return ok;
}

inline std::string Hex(COLORREF c)
{
    char buf[16];
    snprintf(buf, sizeof buf, "#%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

inline COLORREF HexColor(unsigned rrggbb) { return RGB((rrggbb >> 16) & 0xFF, (rrggbb >> 8) & 0xFF, rrggbb & 0xFF); }

}  // namespace uitest
