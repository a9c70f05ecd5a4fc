// What a catch-all block at a window, dialog or thread boundary swallowed, told to the debugger.
#pragma once

#include <windows.h>

#include <cstdio>
#include <exception>

// Call only inside a catch block. In debug builds it writes "Hushpix: <where> caught <what>" with
// OutputDebugString (under Wine: WINEDEBUG=+debugstr), so that a fault swallowed to keep the
// system's frames safe can be found again; in release builds it does nothing.
inline void TraceCaughtException(const char* where) noexcept
{
#ifndef NDEBUG
    char text[512];
    try
    {
        throw;
    }
    catch (const std::exception& e)
    {
        std::snprintf(text, sizeof text, "Hushpix: %s caught %s\n", where, e.what());
    }
    catch (...)
    {
        std::snprintf(text, sizeof text, "Hushpix: %s caught an exception not derived from std::exception\n", where);
    }
    OutputDebugStringA(text);
#else
    (void)where;
#endif
}
