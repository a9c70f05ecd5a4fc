// Scoped holders of Win32 resources. Each frees what it holds when it goes out of scope, so an
// early return (or an exception on its way to a boundary) cannot leak it; moving a holder hands
// the resource to its new owner, and release() gives it up to one that is not a holder.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

// Owns a value that Free() ends; the null value is held by none.
template <typename T, typename Free> class ScopedWin32
{
public:
    ScopedWin32() = default;
    explicit ScopedWin32(T value) : m_Value(value) {}
    ScopedWin32(ScopedWin32&& other) noexcept : m_Value(other.release()) {}
    ScopedWin32& operator=(ScopedWin32&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ScopedWin32(const ScopedWin32&) = delete;
    ScopedWin32& operator=(const ScopedWin32&) = delete;
    ~ScopedWin32() { reset(); }

    T get() const { return m_Value; }
    explicit operator bool() const { return m_Value != T(); }
    T release() { return std::exchange(m_Value, T()); }
    void reset(T value = T())
    {
        if (m_Value && m_Value != value) Free()(m_Value);
        m_Value = value;
    }

private:
    T m_Value = T();
};

struct CloseKernelHandle
{
    void operator()(HANDLE h) const { CloseHandle(h); }
};
struct DeleteGdiObject
{
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct DeleteMemoryDC
{
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct DestroyMenuHandle
{
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};

// A thread, process, event or job object (null when none; not for INVALID_HANDLE_VALUE).
using ScopedHandle = ScopedWin32<HANDLE, CloseKernelHandle>;
// A brush, pen, font, bitmap or region of one's own (never a stock object).
template <typename T> using ScopedGdiObject = ScopedWin32<T, DeleteGdiObject>;
// A DC from CreateCompatibleDC.
using ScopedMemoryDC = ScopedWin32<HDC, DeleteMemoryDC>;
// A menu from LoadMenu or CreateMenu that no window owns.
using ScopedMenu = ScopedWin32<HMENU, DestroyMenuHandle>;

// A window's DC (the screen's for a null window) from GetDC, or with WholeWindow the DC of the
// whole window, frame included, from GetWindowDC; given back with ReleaseDC.
class ScopedWindowDC
{
public:
    enum Area
    {
        ClientArea,
        WholeWindow
    };
    explicit ScopedWindowDC(HWND hWnd, Area area = ClientArea)
        : m_hWnd(hWnd), m_hDC(area == WholeWindow ? GetWindowDC(hWnd) : GetDC(hWnd))
    {
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
    ~ScopedWindowDC()
    {
        if (m_hDC) ReleaseDC(m_hWnd, m_hDC);
    }
    HDC get() const { return m_hDC; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// An object selected into a DC for as long as the holder lives; then what was there before is
// selected again, so the object can be deleted.
class ScopedSelectObject
{
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) : m_hDC(dc), m_hOld(SelectObject(dc, object)) {}
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
    ~ScopedSelectObject()
    {
        if (m_hOld) SelectObject(m_hDC, m_hOld);
    }

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

// COM on the calling thread: uninitialised once, and only when the initialisation succeeded
// (S_FALSE included). The holder must end on the thread that made it.
class ScopedComInit
{
public:
    ScopedComInit() = default;
    explicit ScopedComInit(DWORD model) : m_bInitialised(SUCCEEDED(CoInitializeEx(nullptr, model))) {}
    ScopedComInit(ScopedComInit&& other) noexcept : m_bInitialised(std::exchange(other.m_bInitialised, false)) {}
    ScopedComInit& operator=(ScopedComInit&& other) noexcept
    {
        if (this != &other)
        {
            Uninitialise();
            m_bInitialised = std::exchange(other.m_bInitialised, false);
        }
        return *this;
    }
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;
    ~ScopedComInit() { Uninitialise(); }

private:
    void Uninitialise()
    {
        if (m_bInitialised) CoUninitialize();
        m_bInitialised = false;
    }
    bool m_bInitialised = false;
};
