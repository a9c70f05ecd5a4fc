// One denoise parameter record of the camera/ISO profile table, and its transfer onto the
// parameter panel's controls.
#pragma once

#include <windows.h>
#include <cstdint>

#include "profiles/SliderValueMap.h"

struct IsoSettings
{
    int32_t m_iISO;                 // ISO value of the entry (the table's ISO list is what counts)
    double m_dStrength;             // luma strength, 0..50
    double m_dStrengthChroma;       // chroma strength, 0..50
    double m_dStrengthChromaLarge;  // strength of the large chroma-spot pass, 0..50
    double m_dDynamics;             // noise domination dark to light, -2..2
    double m_dSharp1;               // detail gain, tiny details, 0..4
    double m_dSharp2;               // detail gain, medium details, 0..4
    double m_dSharp3;               // detail gain, rough details, 0..4
    double m_dImmerkaerY;           // luma noise estimate of the image the entry was stored from
    double m_dImmerkaerUV;          // chroma noise estimate of that image
    int32_t m_iUseMedian;           // median pre-filter: 0 none, 1 common, 2 strong
};

// The entry of the default profile: ISO 100, strengths 10, 10, 0, dynamics 0, detail gains 1,
// noise estimates 10 and 10, no median.
IsoSettings DefaultIsoSettings();

// Number of slider maps that ApplyIsoSettingsToPanel takes, in this order: strength, chroma
// strength, large chroma spots, dynamics, detail gains 1, 2 and 3.
constexpr int HPX_PANEL_SLIDER_COUNT = 7;

// Copies one record onto the parameter panel's controls (trackbar positions through the maps,
// the value labels, the median radio buttons), then sends the panel WM_LBUTTONUP with wParam 1,
// which runs the preview.
void ApplyIsoSettingsToPanel(HWND panel, const IsoSettings* settings, const SliderValueMap* maps);
