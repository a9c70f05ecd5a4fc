// The demo's user: waits for the panel's first preview, drags the luma and chroma strength
// trackbars to the given positions (strength x 20), presses Denoise and waits for "Redefine".
#pragma once

#include "tests/host/ScriptedUser.h"

namespace hpxhost
{

void AddDemoSteps(ScriptedUser& user, int strengthPos, int chromaPos);

}  // namespace hpxhost
