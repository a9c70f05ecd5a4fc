// The camera/ISO table on the INI file: sections and keys read into the table (with the repairs
// of damaged files) and the table written into them.
#include "profiles/CameraIsoTable.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/CameraIsoTableInternal.h"
#include "profiles/Settings.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace camera_iso_detail;

namespace
{

double ParseDouble(const wchar_t* text)
{
    if (!text) return 0.0;
    wchar_t* end = nullptr;
    double v = wcstod(text, &end);
    if (end == text || std::isnan(v)) return 0.0;
    return v;
}

// A value not greater than the lower bound becomes it, one not less than the upper bound too.
double ClampDouble(double v, double lo, double hi)
{
    if (v <= lo) return lo;
    if (v >= hi) return hi;
    return v;
}

int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Section of an entry: "Camera %s ISO%i". A ']' would end the section name early and a line
// break would split it, so that entries under such a name could never be read back: they are
// written as ')' and a blank.
void EntrySectionName(wchar_t out[256], const wchar_t* camera, int iso)
{
    _snwprintf(out, 255, L"Camera %ls ISO%i", camera, iso);
    out[255] = 0;
    for (wchar_t* p = out; *p; ++p)
    {
        if (*p == L']')
            *p = L')';
        else if (*p == L'\r' || *p == L'\n')
            *p = L' ';
    }
}

// Names of the entry sections of a whole table, handed out in the order the file is written (row
// by row, entry by entry). Two cameras can come to one section name ("Cam [a]" and "Cam [a)", or
// names that differ only in case): the later one then gets " (2)", " (3)" ... after it, so that
// neither overwrites the other. Reading walks the table in the same order and so finds them again.
class EntrySectionNamer
{
public:
    // The section of the next entry; *plain receives the name without a suffix.
    std::wstring Next(const wchar_t* camera, int iso, std::wstring* plain)
    {
        wchar_t base[256];
        EntrySectionName(base, camera, iso);
        std::wstring name = base;
        for (int k = 2; !m_used.insert(Folded(name)).second; ++k)
            name = std::wstring(base) + L" (" + std::to_wstring(k) + L")";
        if (plain) *plain = base;
        return name;
    }

private:
    static std::wstring Folded(std::wstring s)
    {
        for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
        return s;
    }
    std::set<std::wstring> m_used;
};

void CameraSectionName(wchar_t out[32], uint32_t row)
{
    _snwprintf(out, 31, L"Camera_%u", row);
    out[31] = 0;
}

bool SectionExists(const CSimpleIniW& ini, const wchar_t* section) { return ini.GetSectionSize(section) >= 0; }

// Lookup of entry sections by the camera name with its blanks at both ends dropped: files written
// before names were trimmed keep those blanks inside their section names.
class UntrimmedSections
{
public:
    explicit UntrimmedSections(const CSimpleIniW& ini) : m_ini(ini) {}

    const wchar_t* Find(const wchar_t* camera, int iso)
    {
        if (!m_built) Build();
        auto it = m_map.find(Key(camera, iso));
        return it == m_map.end() ? nullptr : it->second;
    }

private:
    static std::wstring Key(const wchar_t* camera, int iso)
    {
        std::wstring k(camera);
        for (auto& c : k) c = static_cast<wchar_t>(towlower(c));
        k += L'\x1';
        k += std::to_wstring(iso);
        return k;
    }

    void Build()
    {
        m_built = true;
        CSimpleIniW::TNamesDepend sections;
        m_ini.GetAllSections(sections);
        for (const auto& s : sections)
        {
            const wchar_t* name = s.pItem;
            if (wcsncmp(name, L"Camera ", 7) != 0) continue;
            const wchar_t* isoPos = nullptr;
            for (const wchar_t* p = wcsstr(name, L" ISO"); p; p = wcsstr(p + 1, L" ISO")) isoPos = p;
            if (!isoPos) continue;
            std::wstring camera(name + 7, isoPos);
            std::vector<wchar_t> buf(camera.begin(), camera.end());
            buf.push_back(0);
            TrimBlanks(buf.data());
            m_map.emplace(Key(buf.data(), ParseIntText(isoPos + 4)), name);
        }
    }

    const CSimpleIniW& m_ini;
    bool m_built = false;
    std::map<std::wstring, const wchar_t*> m_map;
};

}  // namespace

int camera_iso_detail::ReadVersion(const CSimpleIniW& ini)
{
    return ParseIntText(ini.GetValue(kGeneral, L"version", L"1"));
}

bool CameraIsoTable::ReadFrom(CSimpleIniW& ini, bool* repaired)
{
    Free();
    m_iActualCamera = ParseIntText(ini.GetValue(kGeneral, L"Actual Camera", L"0"));
    m_iActualIso = ParseIntText(ini.GetValue(kGeneral, L"Actual ISO", L"0"));

    int declared = ParseIntText(ini.GetValue(kGeneral, L"No Of Cameras", L"1"));
    uint32_t count;
    if (declared >= 1 && static_cast<uint32_t>(declared) <= HPX_MAX_CAMERAS)
    {
        count = static_cast<uint32_t>(declared);
    }
    else
    {
        // A damaged count: take the camera sections that are there.
        *repaired = true;
        wchar_t section[32];
        count = 0;
        while (count < HPX_MAX_CAMERAS && (CameraSectionName(section, count), SectionExists(ini, section))) ++count;
        if (count == 0) return SetDefaultProfile();
    }

    m_pCameras = static_cast<CameraProfile*>(calloc(count, sizeof(CameraProfile)));
    if (!m_pCameras) return SetDefaultProfile() || true;

    UntrimmedSections untrimmed(ini);
    EntrySectionNamer namer;
    uint32_t rows = 0;
    for (uint32_t r = 0; r < count; ++r)
    {
        wchar_t section[32];
        CameraSectionName(section, r);
        if (r > 0 && !SectionExists(ini, section))
        {
            // A camera that the file does not hold (a truncated file): no nameless ghost row.
            *repaired = true;
            continue;
        }
        CameraProfile& cam = m_pCameras[rows];
        memset(&cam, 0, sizeof cam);
        cam.m_iIndex = static_cast<int32_t>(rows);
        CopyText(cam.m_wcsCameraName, HPX_CAMERA_NAME_CHARS,
                 ini.GetValue(section, L"m_wcsCameraName", HPX_UNKNOWN_CAMERA));
        TrimBlanks(cam.m_wcsCameraName);  // a name stored in multi-line form (see SaveCamera)
        int n = ClampInt(ParseIntText(ini.GetValue(section, L"m_uiISOCount", L"0")), 0,
                         static_cast<int>(HPX_MAX_ISO_ENTRIES));
        // Every entry has its "ISO<i>" key in the section: a count beyond the keys there is
        // damage, and reading it would cost time and memory out of all proportion to the file.
        const int keys = ini.GetSectionSize(section);
        if (n > keys)
        {
            n = keys > 0 ? keys : 0;
            *repaired = true;
        }
        if (n > 0)
        {
            cam.m_pSettings = static_cast<IsoSettings*>(calloc(static_cast<size_t>(n), sizeof(IsoSettings)));
            cam.m_piISO = static_cast<int32_t*>(calloc(static_cast<size_t>(n), sizeof(int32_t)));
            if (!cam.m_pSettings || !cam.m_piISO)
            {
                FreeCamera(cam);
                m_uiCameraCount = rows;
                return SetDefaultProfile() || true;
            }
            cam.m_uiISOCount = static_cast<uint32_t>(n);
        }
        ++rows;
        m_uiCameraCount = rows;
        for (int i = 0; i < n; ++i)
        {
            wchar_t key[24];
            _snwprintf(key, 23, L"ISO%i", i);
            key[23] = 0;
            cam.m_piISO[i] = ClampInt(ParseIntText(ini.GetValue(section, key, L"0")), 0, 1000000);
        }
        for (int i = 0; i < n; ++i)
        {
            std::wstring plain;
            const std::wstring entry = namer.Next(cam.m_wcsCameraName, cam.m_piISO[i], &plain);
            const wchar_t* sec = entry.c_str();
            // A file written before colliding names were told apart has only the plain name.
            if (!SectionExists(ini, sec)) sec = plain.c_str();
            if (!SectionExists(ini, sec))
            {
                const wchar_t* old = untrimmed.Find(cam.m_wcsCameraName, cam.m_piISO[i]);
                if (old) sec = old;
            }
            IsoSettings& s = cam.m_pSettings[i];
            s.m_iISO = cam.m_piISO[i];
            s.m_dStrength = ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dStrength", L"10")), 0, 50);
            s.m_dStrengthChroma = ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dStrengthChroma", L"10")), 0, 50);
            s.m_dStrengthChromaLarge =
                ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dStrengthChromaLarge", L"0")), 0, 50);
            s.m_dDynamics = ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dDynamics", L"0")), -2, 2);
            s.m_dSharp1 = ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dSharp1", L"1")), 0, 4);
            s.m_dSharp2 = ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dSharp2", L"1")), 0, 4);
            s.m_dSharp3 = ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dSharp3", L"1")), 0, 4);
            s.m_dImmerkaerY = ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dImmerkaerY", L"5")), 0, 10000);
            s.m_dImmerkaerUV = ClampDouble(ParseDouble(ini.GetValue(sec, L"m_dImmerkaerUV", L"5")), 0, 10000);
            const int median = ParseIntText(ini.GetValue(sec, L"m_iUseMedian", L"0"));
            s.m_iUseMedian = median <= 0 ? 0 : (median == 1 ? 1 : 2);
        }
    }

    // Everything relies on entry 0 of row 0 (the batch's fallback, the panel's first choice).
    CameraProfile& first = m_pCameras[0];
    if (first.m_uiISOCount == 0)
    {
        *repaired = true;
        auto* settings = static_cast<IsoSettings*>(malloc(sizeof(IsoSettings)));
        auto* isos = static_cast<int32_t*>(malloc(sizeof(int32_t)));
        if (!settings || !isos)
        {
            free(settings);
            free(isos);
            return SetDefaultProfile() || true;
        }
        settings[0] = DefaultIsoSettings();
        isos[0] = settings[0].m_iISO;
        first.m_pSettings = settings;
        first.m_piISO = isos;
        first.m_uiISOCount = 1;
    }
    return false;
}

void CameraIsoTable::SaveCamera(CSimpleIniW& ini, uint32_t row) const
{
    if (row >= m_uiCameraCount) return;
    const CameraProfile& cam = m_pCameras[row];
    wchar_t section[32], value[32];
    CameraSectionName(section, row);
    // SimpleIni reads a value that begins with "<<<" as the opening of a multi-line value ending
    // at a line that holds the rest of it, which would swallow the rest of the file. Such a name
    // goes into SimpleIni's own multi-line form instead, which it gives a value with a blank at
    // its end (names have none: the blank is dropped again when the name is read).
    wchar_t name[HPX_CAMERA_NAME_CHARS + 1];
    CopyText(name, HPX_CAMERA_NAME_CHARS, cam.m_wcsCameraName);
    if (wcsncmp(name, L"<<<", 3) == 0) wcscat(name, L" ");
    ini.SetValue(section, L"m_wcsCameraName", name, nullptr, true);
    _snwprintf(value, 31, L"%i", static_cast<int>(cam.m_uiISOCount));
    value[31] = 0;
    ini.SetValue(section, L"m_uiISOCount", value, nullptr, true);
    for (uint32_t i = 0; i < cam.m_uiISOCount; ++i)
    {
        wchar_t key[24];
        _snwprintf(key, 23, L"ISO%u", i);
        key[23] = 0;
        _snwprintf(value, 31, L"%i", cam.m_piISO[i]);
        ini.SetValue(section, key, value, nullptr, true);
    }
}

void CameraIsoTable::SaveIsoSettings(CSimpleIniW& ini, uint32_t row, uint32_t index) const
{
    if (row >= m_uiCameraCount || index >= m_pCameras[row].m_uiISOCount) return;
    // The entry's section depends on the entries written before it (see EntrySectionNamer).
    EntrySectionNamer namer;
    for (uint32_t r = 0; r < row; ++r)
        for (uint32_t i = 0; i < m_pCameras[r].m_uiISOCount; ++i)
            namer.Next(m_pCameras[r].m_wcsCameraName, m_pCameras[r].m_piISO[i], nullptr);
    for (uint32_t i = 0; i < index; ++i)
        namer.Next(m_pCameras[row].m_wcsCameraName, m_pCameras[row].m_piISO[i], nullptr);
    const std::wstring section = namer.Next(m_pCameras[row].m_wcsCameraName, m_pCameras[row].m_piISO[index], nullptr);
    WriteEntry(ini, section.c_str(), m_pCameras[row].m_pSettings[index]);
}

void CameraIsoTable::WriteEntry(CSimpleIniW& ini, const wchar_t* section, const IsoSettings& s)
{
    const struct
    {
        const wchar_t* key;
        double value;
    } doubles[] = {
        {L"m_dStrength", s.m_dStrength},
        {L"m_dStrengthChroma", s.m_dStrengthChroma},
        {L"m_dStrengthChromaLarge", s.m_dStrengthChromaLarge},
        {L"m_dDynamics", s.m_dDynamics},
        {L"m_dSharp1", s.m_dSharp1},
        {L"m_dSharp2", s.m_dSharp2},
        {L"m_dSharp3", s.m_dSharp3},
        {L"m_dImmerkaerY", s.m_dImmerkaerY},
        {L"m_dImmerkaerUV", s.m_dImmerkaerUV},
    };
    wchar_t value[64];
    for (const auto& d : doubles)
    {
        _snwprintf(value, 63, L"%.2f", d.value);
        value[63] = 0;
        ini.SetValue(section, d.key, value, nullptr, true);
    }
    _snwprintf(value, 63, L"%i", s.m_iUseMedian);
    ini.SetValue(section, L"m_iUseMedian", value, nullptr, true);
}

void CameraIsoTable::WriteTo(CSimpleIniW& ini) const
{
    wchar_t value[32];
    _snwprintf(value, 31, L"%u", m_uiCameraCount);
    value[31] = 0;
    ini.SetValue(kGeneral, L"No Of Cameras", value, nullptr, true);
    _snwprintf(value, 31, L"%i", m_iActualCamera);
    ini.SetValue(kGeneral, L"Actual Camera", value, nullptr, true);
    _snwprintf(value, 31, L"%i", m_iActualIso);
    ini.SetValue(kGeneral, L"Actual ISO", value, nullptr, true);
    ini.SetValue(kGeneral, L"version", L"2", nullptr, true);
    EntrySectionNamer namer;
    for (uint32_t r = 0; r < m_uiCameraCount; ++r)
    {
        const CameraProfile& cam = m_pCameras[r];
        SaveCamera(ini, r);
        for (uint32_t i = 0; i < cam.m_uiISOCount; ++i)
            WriteEntry(ini, namer.Next(cam.m_wcsCameraName, cam.m_piISO[i], nullptr).c_str(), cam.m_pSettings[i]);
    }
}
