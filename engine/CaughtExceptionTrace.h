// What a catch-all block at a window, dialog or thread boundary swallowed, told to the debugger.
// Portable, so that every layer above the engine (the plug-in's and HPXProcessGPU's) traces alike.
#pragma once

#include <cstdio>
#include <exception>

#include "engine/Platform.h"

// Call only inside a catch block. In debug builds it writes "Hushpix: <where> caught <what>" to
// the debugger (PlatformDebugOutput), so that a fault swallowed to keep the system's frames safe
// can be found again; in release builds it does nothing.
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
    PlatformDebugOutput(text);
#else
    (void)where;
#endif
}
