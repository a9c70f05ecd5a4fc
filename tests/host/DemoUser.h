// The scripted user of the demo: on a thread of its own it waits for the plug-in's window and
// its first preview, drags the luma and chroma strength trackbars to the given positions, presses
// Denoise, waits for "Redefine", saves a screenshot of the window with the panel (a BMP file) and
// closes the window, so the host receives the denoised image.
#pragma once

#include <string>
#include <thread>

namespace hpxhost {

struct DemoUserPlan {
    int strengthPos = 400;       // trackbar position: strength x 20
    int chromaPos = 400;
    std::wstring screenshot;     // BMP path; empty: none
    unsigned timeoutMs = 600000; // for the run as a whole
};

// Starts the user; join the thread after the filter call has returned. *done is set when every
// step happened, *report describes the steps.
std::thread StartDemoUser(const DemoUserPlan& plan, bool* done, std::string* report);

}  // namespace hpxhost
