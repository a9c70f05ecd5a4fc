#include "profiles/SliderValueMap.h"

double SliderValueMap::ToValue(int position) const
{
    // Compared as signed numbers: a position one step below a range that starts at 0 (a line-up
    // step at the left end) is the minimum, not a huge unsigned position.
    const long long p = position;
    if (p <= static_cast<long long>(m_uiPosMin)) return m_dValueMin;
    if (p >= static_cast<long long>(m_uiPosMax)) return m_dValueMax;
    return m_dValueMin +
        static_cast<double>(p - m_uiPosMin) / static_cast<double>(m_uiPosMax - m_uiPosMin) *
        (m_dValueMax - m_dValueMin);
}

int SliderValueMap::ToPosition(double value) const
{
    if (!(value > m_dValueMin)) return static_cast<int>(m_uiPosMin);  // also NaN
    if (value >= m_dValueMax) return static_cast<int>(m_uiPosMax);
    const double span = static_cast<double>(m_uiPosMax) - static_cast<double>(m_uiPosMin);
    return static_cast<int>(m_uiPosMin) +
        static_cast<int>((value - m_dValueMin) / (m_dValueMax - m_dValueMin) * span + 0.5);
}
