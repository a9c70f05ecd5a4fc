#include "profiles/IsoSettings.h"

#include <commctrl.h>
#include <cstdio>

IsoSettings DefaultIsoSettings()
{
    IsoSettings s{};
    s.m_iISO = 100;
    s.m_dStrength = 10.0;
    s.m_dStrengthChroma = 10.0;
    s.m_dStrengthChromaLarge = 0.0;
    s.m_dDynamics = 0.0;
    s.m_dSharp1 = 1.0;
    s.m_dSharp2 = 1.0;
    s.m_dSharp3 = 1.0;
    s.m_dImmerkaerY = 10.0;
    s.m_dImmerkaerUV = 10.0;
    s.m_iUseMedian = 0;
    return s;
}

namespace
{

// The panel's controls: trackbar and value label of each slider, and the median choice.
struct SliderControls
{
    int trackbar;
    int label;
    const wchar_t* format;
};
const SliderControls kSliders[HPX_PANEL_SLIDER_COUNT] = {
    {1025, 1028, L"%.1f"}, {1039, 1041, L"%.1f"}, {1043, 1045, L"%.1f"}, {1042, 1089, L"%.2f"},
    {1047, 1094, L"%.1f"}, {1050, 1095, L"%.1f"}, {1051, 1096, L"%.1f"},
};
const int kMedianRadios[3] = {1114, 1115, 1116};

}  // namespace

void ApplyIsoSettingsToPanel(HWND panel, const IsoSettings* settings, const SliderValueMap* maps)
{
    if (!panel || !settings || !maps) return;
    const double values[HPX_PANEL_SLIDER_COUNT] = {
        settings->m_dStrength, settings->m_dStrengthChroma, settings->m_dStrengthChromaLarge,
        settings->m_dDynamics, settings->m_dSharp1,         settings->m_dSharp2,
        settings->m_dSharp3,
    };
    for (int i = 0; i < HPX_PANEL_SLIDER_COUNT; ++i)
    {
        SendDlgItemMessageW(panel, kSliders[i].trackbar, TBM_SETPOS, TRUE, maps[i].ToPosition(values[i]));
        wchar_t text[128];
        _snwprintf(text, 127, kSliders[i].format, values[i]);
        text[127] = 0;
        SetDlgItemTextW(panel, kSliders[i].label, text);
    }
    for (int id : kMedianRadios) CheckDlgButton(panel, id, BST_UNCHECKED);
    if (settings->m_iUseMedian >= 0 && settings->m_iUseMedian <= 2)
        CheckDlgButton(panel, kMedianRadios[settings->m_iUseMedian], BST_CHECKED);
    SendMessageW(panel, WM_LBUTTONUP, 1, 0);
}
