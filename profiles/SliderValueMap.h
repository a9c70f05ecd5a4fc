// Linear, clamped map between a trackbar's position range and a parameter's value range.
#pragma once

#include <cstdint>

struct SliderValueMap
{
    uint32_t m_uiPosMin;
    uint32_t m_uiPosMax;
    double m_dValueMin;
    double m_dValueMax;

    // Positions at or below the minimum give the minimum value, at or above the maximum the
    // maximum value; in between the value lies on the line.
    double ToValue(int position) const;
    // The nearest position of a value (halves round up), clamped to the position range.
    int ToPosition(double value) const;
};
