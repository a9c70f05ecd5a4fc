// The camera/ISO table in memory: its rows, lookups and editing.
#include "profiles/CameraIsoTable.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/CameraIsoTableInternal.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>

using namespace camera_iso_detail;

void camera_iso_detail::FreeCamera(CameraProfile& c)
{
    free(c.m_pSettings);
    free(c.m_piISO);
    c.m_pSettings = nullptr;
    c.m_piISO = nullptr;
    c.m_uiISOCount = 0;
}

// ---- the table ------------------------------------------------------------------------------------

void CameraIsoTable::Free()
{
    if (m_pCameras)
    {
        for (uint32_t r = 0; r < m_uiCameraCount; ++r) FreeCamera(m_pCameras[r]);
        free(m_pCameras);
    }
    m_pCameras = nullptr;
    m_uiCameraCount = 0;
}

bool CameraIsoTable::SetDefaultProfile()
{
    Free();
    m_iActualCamera = 0;
    m_iActualIso = 0;
    auto* cameras = static_cast<CameraProfile*>(calloc(1, sizeof(CameraProfile)));
    auto* settings = static_cast<IsoSettings*>(malloc(sizeof(IsoSettings)));
    auto* isos = static_cast<int32_t*>(malloc(sizeof(int32_t)));
    if (!cameras || !settings || !isos)
    {
        free(cameras);
        free(settings);
        free(isos);
        return true;
    }
    CopyText(cameras[0].m_wcsCameraName, HPX_CAMERA_NAME_CHARS, HPX_UNKNOWN_CAMERA);
    cameras[0].m_iIndex = 0;
    cameras[0].m_uiISOCount = 1;
    settings[0] = DefaultIsoSettings();
    isos[0] = settings[0].m_iISO;
    cameras[0].m_pSettings = settings;
    cameras[0].m_piISO = isos;
    m_pCameras = cameras;
    m_uiCameraCount = 1;
    return false;
}

// ---- lookups ----------------------------------------------------------------------------------

// One notion of "the same camera" for the lookups and for storing: names equal without regard to
// case once blanks at their ends and every space are dropped ("Maker / X 1" is "maker/x1"). The
// first such row from firstRow on, or the camera count when none.
uint32_t CameraIsoTable::MatchCamera(const wchar_t* text, uint32_t firstRow) const
{
    wchar_t trimmed[kTextChars], wanted[kTextChars], name[HPX_CAMERA_NAME_CHARS];
    CopyText(trimmed, kTextChars, text);
    TrimBlanks(trimmed);
    RemoveSpaces(wanted, kTextChars, trimmed);
    for (uint32_t r = firstRow; r < m_uiCameraCount; ++r)
    {
        CopyText(trimmed, kTextChars, m_pCameras[r].m_wcsCameraName);
        TrimBlanks(trimmed);
        RemoveSpaces(name, HPX_CAMERA_NAME_CHARS, trimmed);
        if (CompareNoCase(wanted, name) == 0) return r;
    }
    return m_uiCameraCount;
}

bool CameraIsoTable::FindCamera(uint32_t* row, const wchar_t* text) const
{
    if (!row) return false;
    *row = 0;
    if (!text) return false;
    const uint32_t found = MatchCamera(text, 1);
    if (found < m_uiCameraCount) *row = found;
    return false;
}

bool CameraIsoTable::FindIsoIndex(uint32_t* index, const wchar_t* isoText, uint32_t row) const
{
    if (!index) return false;
    *index = 0;
    if (row >= m_uiCameraCount) return false;
    const int iso = ParseIntText(isoText);
    const CameraProfile& cam = m_pCameras[row];
    for (uint32_t i = 0; i < cam.m_uiISOCount; ++i)
    {
        if (cam.m_piISO[i] == iso)
        {
            *index = i;
            break;
        }
    }
    return false;
}

bool CameraIsoTable::GetIsoSettings(IsoSettings* destination, uint32_t row, uint32_t index) const
{
    if (!destination || row >= m_uiCameraCount || index >= m_pCameras[row].m_uiISOCount || !m_pCameras[row].m_pSettings)
        return true;
    *destination = m_pCameras[row].m_pSettings[index];
    return false;
}

bool CameraIsoTable::FindNearestIso(uint32_t* index, const wchar_t* cameraText, double noiseY, double noiseUV) const
{
    uint32_t row = 0;
    FindCamera(&row, cameraText);
    return FindNearestIsoInRow(index, row, noiseY, noiseUV);
}

bool CameraIsoTable::FindNearestIsoInRow(uint32_t* index, uint32_t row, double noiseY, double noiseUV) const
{
    if (!index) return true;
    *index = 0;
    if (row >= m_uiCameraCount || m_pCameras[row].m_uiISOCount == 0) return true;
    const CameraProfile& cam = m_pCameras[row];
    double best = 1e300;
    for (uint32_t i = 0; i < cam.m_uiISOCount; ++i)
    {
        const IsoSettings& s = cam.m_pSettings[i];
        double d;
        if (noiseUV < 0.00001)
            d = std::fabs(s.m_dImmerkaerY - noiseY);
        else
            d = std::sqrt((s.m_dImmerkaerUV - noiseUV) * (s.m_dImmerkaerUV - noiseUV) +
                          (s.m_dImmerkaerY - noiseY) * (s.m_dImmerkaerY - noiseY));
        if (d < best)
        {
            best = d;
            *index = i;
        }
    }
    return false;
}

int CameraIsoTable::StoredIsoValue(const wchar_t* isoText)
{
    int iso = ParseIntText(isoText);
    if (iso <= 16) iso = 16;
    if (iso >= 409600) iso = 409600;
    return iso;
}

// ---- editing ----------------------------------------------------------------------------------

bool CameraIsoTable::AddOrUpdate(const wchar_t* cameraName, const wchar_t* isoText, const IsoSettings* settings)
{
    if (!settings || !cameraName) return true;
    const int iso = StoredIsoValue(isoText);

    wchar_t name[HPX_CAMERA_NAME_CHARS];
    CopyText(name, HPX_CAMERA_NAME_CHARS, cameraName);
    TrimBlanks(name);

    // The row the lookups find for this name (row 0 when the name is the unknown camera's), so
    // that what is stored under any spelling of a camera is what the panel and the batch use.
    const uint32_t row = MatchCamera(name, 0);

    if (row == m_uiCameraCount)
    {
        // A new camera: its arrays first, so a failure leaves the table as it was.
        auto* s = static_cast<IsoSettings*>(malloc(sizeof(IsoSettings)));
        auto* isos = static_cast<int32_t*>(malloc(sizeof(int32_t)));
        auto* grown = s && isos
            ? static_cast<CameraProfile*>(realloc(m_pCameras, (m_uiCameraCount + 1) * sizeof(CameraProfile)))
            : nullptr;
        if (!grown)
        {
            free(s);
            free(isos);
            return true;
        }
        m_pCameras = grown;
        uint32_t j = 1;
        while (j < m_uiCameraCount && CompareNoCase(m_pCameras[j].m_wcsCameraName, name) <= 0) ++j;
        if (m_uiCameraCount == 0) j = 0;
        memmove(&m_pCameras[j + 1], &m_pCameras[j], (m_uiCameraCount - j) * sizeof(CameraProfile));
        ++m_uiCameraCount;
        for (uint32_t r = 0; r < m_uiCameraCount; ++r) m_pCameras[r].m_iIndex = static_cast<int32_t>(r);
        CameraProfile& cam = m_pCameras[j];
        memset(cam.m_wcsCameraName, 0, sizeof cam.m_wcsCameraName);
        CopyText(cam.m_wcsCameraName, HPX_CAMERA_NAME_CHARS, name);
        *s = *settings;
        isos[0] = iso;
        cam.m_pSettings = s;
        cam.m_piISO = isos;
        cam.m_uiISOCount = 1;
        return false;
    }

    CameraProfile& cam = m_pCameras[row];
    for (uint32_t i = 0; i < cam.m_uiISOCount; ++i)
    {
        if (cam.m_piISO[i] == iso)
        {
            cam.m_pSettings[i] = *settings;
            return false;
        }
    }
    uint32_t at = 0;
    while (at < cam.m_uiISOCount && cam.m_piISO[at] <= iso) ++at;
    const size_t n = cam.m_uiISOCount + 1;
    auto* s = static_cast<IsoSettings*>(malloc(n * sizeof(IsoSettings)));
    auto* isos = static_cast<int32_t*>(malloc(n * sizeof(int32_t)));
    if (!s || !isos)
    {
        free(s);
        free(isos);
        return true;
    }
    if (at)
    {
        memcpy(s, cam.m_pSettings, at * sizeof(IsoSettings));
        memcpy(isos, cam.m_piISO, at * sizeof(int32_t));
    }
    s[at] = *settings;
    isos[at] = iso;
    if (cam.m_uiISOCount > at)
    {
        memcpy(s + at + 1, cam.m_pSettings + at, (cam.m_uiISOCount - at) * sizeof(IsoSettings));
        memcpy(isos + at + 1, cam.m_piISO + at, (cam.m_uiISOCount - at) * sizeof(int32_t));
    }
    free(cam.m_pSettings);
    free(cam.m_piISO);
    cam.m_pSettings = s;
    cam.m_piISO = isos;
    cam.m_uiISOCount = static_cast<uint32_t>(n);
    return false;
}

bool CameraIsoTable::DeleteCamera(uint32_t row)
{
    if (row == 0 || row >= m_uiCameraCount) return true;
    FreeCamera(m_pCameras[row]);
    memmove(&m_pCameras[row], &m_pCameras[row + 1], (m_uiCameraCount - row - 1) * sizeof(CameraProfile));
    --m_uiCameraCount;
    for (uint32_t r = row; r < m_uiCameraCount; ++r) m_pCameras[r].m_iIndex = static_cast<int32_t>(r);
    memset(&m_pCameras[m_uiCameraCount], 0, sizeof(CameraProfile));
    if (m_iActualCamera == static_cast<int32_t>(row))
    {
        m_iActualCamera = 0;
        m_iActualIso = 0;
    }
    else if (m_iActualCamera > static_cast<int32_t>(row))
    {
        --m_iActualCamera;
    }
    return false;
}

bool CameraIsoTable::DeleteIso(uint32_t row, uint32_t index)
{
    if (row >= m_uiCameraCount || index >= m_pCameras[row].m_uiISOCount) return true;
    CameraProfile& cam = m_pCameras[row];
    if (cam.m_uiISOCount == 1) return DeleteCamera(row);
    const uint32_t later = cam.m_uiISOCount - index - 1;
    memmove(cam.m_pSettings + index, cam.m_pSettings + index + 1, later * sizeof(IsoSettings));
    memmove(cam.m_piISO + index, cam.m_piISO + index + 1, later * sizeof(int32_t));
    --cam.m_uiISOCount;
    if (m_iActualCamera == static_cast<int32_t>(row) && m_iActualIso > static_cast<int32_t>(index)) --m_iActualIso;
    return false;
}
