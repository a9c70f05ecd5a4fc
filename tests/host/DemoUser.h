// The scripted user of the demo: on a thread of its own it waits for the plug-in's window and
// its first preview, drags the luma and chroma strength trackbars to the given positions, presses
// Denoise, waits for "Redefine", saves a screenshot of the window with the panel (a BMP file) and
// closes the window, so the host receives the denoised image.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace hpxhost {

struct DemoUserPlan {
    int strengthPos = 400;       // trackbar position: strength x 20
    int chromaPos = 400;
    std::wstring screenshot;     // BMP path; empty: none
    unsigned timeoutMs = 600000; // for the run as a whole
    // Set by the host when the filter call has returned: the user stops waiting for a window.
    const std::atomic<bool>* filterReturned = nullptr;
};

// What the user saw and did.
struct DemoUserResult {
    bool windowSeen = false;  // the plug-in opened its window
    bool done = false;        // every step happened
    std::string report;
};

// Starts the user; join the thread after the filter call has returned.
std::thread StartDemoUser(const DemoUserPlan& plan, DemoUserResult* result);

}  // namespace hpxhost
