#include "engine/NlmPass.h"

namespace nlm
{

void AdvanceProgress(ProgressState* pProgress, const PassShared& s, long long llUnitsDone)
{
    if (pProgress == nullptr || pProgress->hTarget == nullptr) return;
    const long long llUnits = static_cast<long long>(s.iBands) * s.iOffsets;
    const int iTarget = static_cast<int>(pProgress->iSteps * llUnitsDone / llUnits);
    for (; pProgress->iStepsDone < iTarget && !AbortRequested(); ++pProgress->iStepsDone)
        ProgressStep(pProgress->hTarget);
}

}  // namespace nlm
