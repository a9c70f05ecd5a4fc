#include "profiles/CameraIsoTable.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Settings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

namespace {

const wchar_t kGeneral[] = L"General";
const wchar_t kFileName[] = L"CameraISOSettingX.ini";
// Larger files are not profile files; they are left alone rather than read into memory.
const LONGLONG kMaxFileBytes = 64LL * 1024 * 1024;

// ---- small text helpers ---------------------------------------------------------------------


bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0x00A0 || c == 0x3000;
}

// Drops blanks at both ends, in place.
void TrimBlanks(wchar_t* text)
{
    size_t n = wcslen(text);
    while (n && IsBlank(text[n - 1])) text[--n] = 0;
    size_t start = 0;
    while (start < n && IsBlank(text[start])) ++start;
    if (start) wmemmove(text, text + start, n - start + 1);
}

int CompareNoCase(const wchar_t* a, const wchar_t* b)
{
    int r = CompareStringOrdinal(a, -1, b, -1, TRUE);
    return r - CSTR_EQUAL;  // <0, 0, >0
}

bool FileExists(const wchar_t* path)
{
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

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

int ClampInt(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// Section of an entry: "Camera %s ISO%i". A ']' would end the section name early and a line
// break would split it, so that entries under such a name could never be read back: they are
// written as ')' and a blank.
void EntrySectionName(wchar_t out[256], const wchar_t* camera, int iso)
{
    _snwprintf(out, 255, L"Camera %ls ISO%i", camera, iso);
    out[255] = 0;
    for (wchar_t* p = out; *p; ++p) {
        if (*p == L']') *p = L')';
        else if (*p == L'\r' || *p == L'\n') *p = L' ';
    }
}

void CameraSectionName(wchar_t out[32], uint32_t row)
{
    _snwprintf(out, 31, L"Camera_%u", row);
    out[31] = 0;
}

bool SectionExists(const CSimpleIniW& ini, const wchar_t* section)
{
    return ini.GetSectionSize(section) >= 0;
}

// Reads a whole file into a SimpleIni object. False when it cannot be opened or read, is too
// large to be a profile file, or is not text that SimpleIni takes.
bool ReadIniFile(CSimpleIniW& ini, const wchar_t* path)
{
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart >= 0 && size.QuadPart <= kMaxFileBytes;
    std::string data;
    if (ok) {
        try {
            data.resize(static_cast<size_t>(size.QuadPart));
        } catch (...) {
            ok = false;
        }
    }
    DWORD got = 0;
    if (ok && !data.empty())
        ok = ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &got, nullptr) && got == data.size();
    CloseHandle(h);
    if (!ok) return false;
    ini.Reset();
    return ini.LoadData(data.data(), data.size()) >= 0;
}

int ReadVersion(const CSimpleIniW& ini)
{
    return ParseIntText(ini.GetValue(kGeneral, L"version", L"1"));
}

// Writes the data to a temporary file beside the target and moves it over the target, so that a
// failed write leaves the previous file whole.
bool WriteFileReplacing(const wchar_t* path, const std::string& data)
{
    wchar_t temp[1100];
    _snwprintf(temp, 1099, L"%ls.tmp", path);
    temp[1099] = 0;
    HANDLE h = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = data.empty() ||
              (WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
               written == data.size());
    ok = FlushFileBuffers(h) && ok;
    CloseHandle(h);
    if (ok) ok = MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) DeleteFileW(temp);
    return ok;
}

// Keeps a copy of a user file that had to be repaired, under a name not yet taken.
void KeepCopy(const wchar_t* path)
{
    for (int i = 0; i < 100; ++i) {
        wchar_t backup[1100];
        if (i == 0)
            _snwprintf(backup, 1099, L"%ls.bak", path);
        else
            _snwprintf(backup, 1099, L"%ls.bak%i", path, i);
        backup[1099] = 0;
        if (CopyFileW(path, backup, TRUE)) return;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return;
    }
}

void FreeCamera(CameraProfile& c)
{
    free(c.m_pSettings);
    free(c.m_piISO);
    c.m_pSettings = nullptr;
    c.m_piISO = nullptr;
    c.m_uiISOCount = 0;
}

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
        for (const auto& s : sections) {
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

// ---- names and paths ----------------------------------------------------------------------------

void ReplaceSubstring(wchar_t* text, size_t capacity, const wchar_t* search, const wchar_t* replacement)
{
    if (!text || !capacity || !search || !*search || !replacement) return;
    if (capacity > 1024) capacity = 1024;
    const size_t searchLen = wcslen(search);
    const size_t replLen = wcslen(replacement);
    // A replacement that holds the search text would be found again: then the search goes on
    // after each replacement instead of from the start.
    const bool resumeAfter = wcsstr(replacement, search) != nullptr;
    wchar_t work[1024];
    CopyText(work, capacity, text);
    size_t from = 0;
    for (;;) {
        wchar_t* hit = wcsstr(work + from, search);
        if (!hit) break;
        const size_t at = static_cast<size_t>(hit - work);
        const size_t tail = wcslen(hit + searchLen);
        wchar_t next[1024];
        wmemcpy(next, work, at);
        size_t pos = at;
        for (size_t i = 0; i < replLen && pos < capacity - 1; ++i) next[pos++] = replacement[i];
        for (size_t i = 0; i < tail && pos < capacity - 1; ++i) next[pos++] = hit[searchLen + i];
        next[pos] = 0;
        wmemcpy(work, next, pos + 1);
        from = resumeAfter ? (at + replLen < pos ? at + replLen : pos) : 0;
    }
    CopyText(text, capacity, work);
}

void ReplaceSubstring(wchar_t* text, const wchar_t* search, const wchar_t* replacement)
{
    ReplaceSubstring(text, 1024, search, replacement);
}

void NormalizeCameraName(wchar_t out[HPX_CAMERA_NAME_CHARS], const wchar_t* text)
{
    static const wchar_t* const kPairs[][2] = {
        {L"CASIO COMPUTER CO.,LTD. /", L"CASIO /"},
        {L"Canon / Canon", L"Canon /"},
        {L"OLYMPUS IMAGING CORP.   /", L"OLYMPUS /"},
        {L"EASTMAN KODAK COMPANY / KODAK EASYSHARE", L"KODAK EASYSHARE /"},
        {L"EASTMAN KODAK COMPANY / KODAK", L"KODAK /"},
        {L"NIKON CORPORATION / NIKON", L"NIKON /"},
        {L"PENTAX              / PENTAX", L"PENTAX /"},
        {L"PENTAX Corporation  / PENTAX", L"PENTAX /"},
        {L"PENTAX Corporation / PENTAX", L"PENTAX /"},
        {L"PENTAX / PENTAX", L"PENTAX /"},
        {L"RICOH       /", L"RICOH /"},
        {L"SAMSUNG         /", L"Samsung /"},
        {L"Samsung Techwin /", L"Samsung /"},
        {L"SAMSUNG TECHWIN /", L"Samsung /"},
        {L"SAMSUNG / SAMSUNG", L"Samsung /"},
        {L"SANYO Electric Co.,Ltd. /", L"Sanyo /"},
    };
    if (!out) return;
    CopyText(out, HPX_CAMERA_NAME_CHARS, text);
    // EXIF text fields are often padded with blanks; the profile file cannot keep blanks at the
    // ends of a name (they are trimmed when it is read back), so the name never has them.
    TrimBlanks(out);
    for (const auto& pair : kPairs) ReplaceSubstring(out, HPX_CAMERA_NAME_CHARS, pair[0], pair[1]);
}

void GetProfileFilePath(wchar_t path[1024], bool shipped)
{
    wchar_t folder[HPX_PATH_CHARS];
    if (shipped) {
        GetPluginFolder(folder);
    } else if (!GetUserFolder(folder)) {
        path[0] = 0;
        return;
    }
    _snwprintf(path, 1023, L"%ls\\%ls", folder, kFileName);
    path[1023] = 0;
}

// ---- the table ------------------------------------------------------------------------------------

void CameraIsoTable::Free()
{
    if (m_pCameras) {
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
    if (!cameras || !settings || !isos) {
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

bool CameraIsoTable::ReadFrom(CSimpleIniW& ini, bool* repaired)
{
    Free();
    m_iActualCamera = ParseIntText(ini.GetValue(kGeneral, L"Actual Camera", L"0"));
    m_iActualIso = ParseIntText(ini.GetValue(kGeneral, L"Actual ISO", L"0"));

    int declared = ParseIntText(ini.GetValue(kGeneral, L"No Of Cameras", L"1"));
    uint32_t count;
    if (declared >= 1 && static_cast<uint32_t>(declared) <= HPX_MAX_CAMERAS) {
        count = static_cast<uint32_t>(declared);
    } else {
        // A damaged count: take the camera sections that are there.
        *repaired = true;
        wchar_t section[32];
        count = 0;
        while (count < HPX_MAX_CAMERAS && (CameraSectionName(section, count), SectionExists(ini, section)))
            ++count;
        if (count == 0) return SetDefaultProfile();
    }

    m_pCameras = static_cast<CameraProfile*>(calloc(count, sizeof(CameraProfile)));
    if (!m_pCameras) return SetDefaultProfile() || true;

    UntrimmedSections untrimmed(ini);
    uint32_t rows = 0;
    for (uint32_t r = 0; r < count; ++r) {
        wchar_t section[32];
        CameraSectionName(section, r);
        if (r > 0 && !SectionExists(ini, section)) {
            // A camera that the file does not hold (a truncated file): no nameless ghost row.
            *repaired = true;
            continue;
        }
        CameraProfile& cam = m_pCameras[rows];
        memset(&cam, 0, sizeof cam);
        cam.m_iIndex = static_cast<int32_t>(rows);
        CopyText(cam.m_wcsCameraName, HPX_CAMERA_NAME_CHARS,
                 ini.GetValue(section, L"m_wcsCameraName", HPX_UNKNOWN_CAMERA));
        int n = ClampInt(ParseIntText(ini.GetValue(section, L"m_uiISOCount", L"0")), 0,
                         static_cast<int>(HPX_MAX_ISO_ENTRIES));
        // Every entry has its "ISO<i>" key in the section: a count beyond the keys there is
        // damage, and reading it would cost time and memory out of all proportion to the file.
        const int keys = ini.GetSectionSize(section);
        if (n > keys) {
            n = keys > 0 ? keys : 0;
            *repaired = true;
        }
        if (n > 0) {
            cam.m_pSettings = static_cast<IsoSettings*>(calloc(static_cast<size_t>(n), sizeof(IsoSettings)));
            cam.m_piISO = static_cast<int32_t*>(calloc(static_cast<size_t>(n), sizeof(int32_t)));
            if (!cam.m_pSettings || !cam.m_piISO) {
                FreeCamera(cam);
                m_uiCameraCount = rows;
                return SetDefaultProfile() || true;
            }
            cam.m_uiISOCount = static_cast<uint32_t>(n);
        }
        ++rows;
        m_uiCameraCount = rows;
        for (int i = 0; i < n; ++i) {
            wchar_t key[24];
            _snwprintf(key, 23, L"ISO%i", i);
            key[23] = 0;
            cam.m_piISO[i] = ClampInt(ParseIntText(ini.GetValue(section, key, L"0")), 0, 1000000);
        }
        for (int i = 0; i < n; ++i) {
            wchar_t entry[256];
            EntrySectionName(entry, cam.m_wcsCameraName, cam.m_piISO[i]);
            const wchar_t* sec = entry;
            if (!SectionExists(ini, sec)) {
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
    if (first.m_uiISOCount == 0) {
        *repaired = true;
        auto* settings = static_cast<IsoSettings*>(malloc(sizeof(IsoSettings)));
        auto* isos = static_cast<int32_t*>(malloc(sizeof(int32_t)));
        if (!settings || !isos) {
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

bool CameraIsoTable::Load()
{
    Free();
    m_bKeepUserCopy = false;
    wchar_t userPath[1024], shippedPath[1024];
    GetProfileFilePath(userPath, false);
    GetProfileFilePath(shippedPath, true);
    const bool haveUser = userPath[0] && FileExists(userPath);
    const bool haveShipped = shippedPath[0] && FileExists(shippedPath);

    if (!haveUser && !haveShipped) {
        bool failed = SetDefaultProfile();
        if (!failed) Save();
        return failed;
    }

    CSimpleIniW userIni(true, true, true), shippedIni(true, true, true);
    const bool userOk = haveUser && ReadIniFile(userIni, userPath);
    const bool shippedOk = haveShipped && ReadIniFile(shippedIni, shippedPath);

    // The shipped copy replaces the user's one when it is of a newer version.
    bool useShipped;
    if (haveUser && haveShipped)
        useShipped = userOk ? (shippedOk && ReadVersion(shippedIni) > ReadVersion(userIni)) : shippedOk;
    else
        useShipped = haveShipped;

    if (haveUser && !userOk) m_bKeepUserCopy = true;  // unreadable: never written over unkept

    bool repaired = false;
    bool failed;
    if (useShipped && shippedOk) {
        failed = ReadFrom(shippedIni, &repaired);
    } else if (!useShipped && userOk) {
        failed = ReadFrom(userIni, &repaired);
        if (repaired || failed) m_bKeepUserCopy = true;
    } else {
        failed = SetDefaultProfile();
    }
    return failed;
}

void CameraIsoTable::SaveCamera(CSimpleIniW& ini, uint32_t row) const
{
    if (row >= m_uiCameraCount) return;
    const CameraProfile& cam = m_pCameras[row];
    wchar_t section[32], value[32];
    CameraSectionName(section, row);
    ini.SetValue(section, L"m_wcsCameraName", cam.m_wcsCameraName, nullptr, true);
    _snwprintf(value, 31, L"%i", static_cast<int>(cam.m_uiISOCount));
    value[31] = 0;
    ini.SetValue(section, L"m_uiISOCount", value, nullptr, true);
    for (uint32_t i = 0; i < cam.m_uiISOCount; ++i) {
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
    const CameraProfile& cam = m_pCameras[row];
    const IsoSettings& s = cam.m_pSettings[index];
    wchar_t section[256];
    EntrySectionName(section, cam.m_wcsCameraName, cam.m_piISO[index]);
    const struct {
        const wchar_t* key;
        double value;
    } doubles[] = {
        {L"m_dStrength", s.m_dStrength},     {L"m_dStrengthChroma", s.m_dStrengthChroma},
        {L"m_dStrengthChromaLarge", s.m_dStrengthChromaLarge},
        {L"m_dDynamics", s.m_dDynamics},     {L"m_dSharp1", s.m_dSharp1},
        {L"m_dSharp2", s.m_dSharp2},         {L"m_dSharp3", s.m_dSharp3},
        {L"m_dImmerkaerY", s.m_dImmerkaerY}, {L"m_dImmerkaerUV", s.m_dImmerkaerUV},
    };
    wchar_t value[64];
    for (const auto& d : doubles) {
        _snwprintf(value, 63, L"%.2f", d.value);
        value[63] = 0;
        ini.SetValue(section, d.key, value, nullptr, true);
    }
    _snwprintf(value, 63, L"%i", s.m_iUseMedian);
    ini.SetValue(section, L"m_iUseMedian", value, nullptr, true);
}

bool CameraIsoTable::Save()
{
    if (!m_pCameras || m_uiCameraCount == 0) return true;  // nothing loaded: keep the file
    CSimpleIniW ini(true, true, true);
    wchar_t value[32];
    _snwprintf(value, 31, L"%u", m_uiCameraCount);
    value[31] = 0;
    ini.SetValue(kGeneral, L"No Of Cameras", value, nullptr, true);
    _snwprintf(value, 31, L"%i", m_iActualCamera);
    ini.SetValue(kGeneral, L"Actual Camera", value, nullptr, true);
    _snwprintf(value, 31, L"%i", m_iActualIso);
    ini.SetValue(kGeneral, L"Actual ISO", value, nullptr, true);
    ini.SetValue(kGeneral, L"version", L"2", nullptr, true);
    for (uint32_t r = 0; r < m_uiCameraCount; ++r) {
        SaveCamera(ini, r);
        for (uint32_t i = 0; i < m_pCameras[r].m_uiISOCount; ++i) SaveIsoSettings(ini, r, i);
    }
    std::string data;
    try {
        if (ini.Save(data, true) < 0) return true;
    } catch (...) {
        return true;
    }
    wchar_t path[1024];
    GetProfileFilePath(path, false);
    if (!path[0]) return true;
    if (m_bKeepUserCopy && FileExists(path)) KeepCopy(path);
    if (!WriteFileReplacing(path, data)) return true;
    m_bKeepUserCopy = false;
    return false;
}

// ---- lookups ----------------------------------------------------------------------------------

namespace {
void RemoveSpaces(wchar_t* out, size_t cch, const wchar_t* in)
{
    size_t n = 0;
    for (; *in && n + 1 < cch; ++in)
        if (*in != L' ') out[n++] = *in;
    out[n] = 0;
}
}  // namespace

bool CameraIsoTable::FindCamera(uint32_t* row, const wchar_t* text) const
{
    if (!row) return false;
    *row = 0;
    if (!text) return false;
    wchar_t trimmed[1024], wanted[1024], name[HPX_CAMERA_NAME_CHARS];
    CopyText(trimmed, 1024, text);
    TrimBlanks(trimmed);
    RemoveSpaces(wanted, 1024, trimmed);
    for (uint32_t r = 1; r < m_uiCameraCount; ++r) {
        RemoveSpaces(name, HPX_CAMERA_NAME_CHARS, m_pCameras[r].m_wcsCameraName);
        if (CompareNoCase(wanted, name) == 0) {
            *row = r;
            break;
        }
    }
    return false;
}

bool CameraIsoTable::FindIsoIndex(uint32_t* index, const wchar_t* isoText, uint32_t row) const
{
    if (!index) return false;
    *index = 0;
    if (row >= m_uiCameraCount) return false;
    const int iso = ParseIntText(isoText);
    const CameraProfile& cam = m_pCameras[row];
    for (uint32_t i = 0; i < cam.m_uiISOCount; ++i) {
        if (cam.m_piISO[i] == iso) {
            *index = i;
            break;
        }
    }
    return false;
}

bool CameraIsoTable::GetIsoSettings(IsoSettings* destination, uint32_t row, uint32_t index) const
{
    if (!destination || row >= m_uiCameraCount || index >= m_pCameras[row].m_uiISOCount ||
        !m_pCameras[row].m_pSettings)
        return true;
    *destination = m_pCameras[row].m_pSettings[index];
    return false;
}

bool CameraIsoTable::FindNearestIso(uint32_t* index, const wchar_t* cameraText, double noiseY,
                                    double noiseUV) const
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
    for (uint32_t i = 0; i < cam.m_uiISOCount; ++i) {
        const IsoSettings& s = cam.m_pSettings[i];
        double d;
        if (noiseUV < 0.00001)
            d = std::fabs(s.m_dImmerkaerY - noiseY);
        else
            d = std::sqrt((s.m_dImmerkaerUV - noiseUV) * (s.m_dImmerkaerUV - noiseUV) +
                          (s.m_dImmerkaerY - noiseY) * (s.m_dImmerkaerY - noiseY));
        if (d < best) {
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

    uint32_t row = m_uiCameraCount;
    for (uint32_t r = 0; r < m_uiCameraCount; ++r) {
        if (CompareNoCase(m_pCameras[r].m_wcsCameraName, name) == 0) {
            row = r;
            break;
        }
    }

    if (row == m_uiCameraCount) {
        // A new camera: its arrays first, so a failure leaves the table as it was.
        auto* s = static_cast<IsoSettings*>(malloc(sizeof(IsoSettings)));
        auto* isos = static_cast<int32_t*>(malloc(sizeof(int32_t)));
        auto* grown = s && isos ? static_cast<CameraProfile*>(
                                      realloc(m_pCameras, (m_uiCameraCount + 1) * sizeof(CameraProfile)))
                                : nullptr;
        if (!grown) {
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
    for (uint32_t i = 0; i < cam.m_uiISOCount; ++i) {
        if (cam.m_piISO[i] == iso) {
            cam.m_pSettings[i] = *settings;
            return false;
        }
    }
    uint32_t at = 0;
    while (at < cam.m_uiISOCount && cam.m_piISO[at] <= iso) ++at;
    const size_t n = cam.m_uiISOCount + 1;
    auto* s = static_cast<IsoSettings*>(malloc(n * sizeof(IsoSettings)));
    auto* isos = static_cast<int32_t*>(malloc(n * sizeof(int32_t)));
    if (!s || !isos) {
        free(s);
        free(isos);
        return true;
    }
    if (at) {
        memcpy(s, cam.m_pSettings, at * sizeof(IsoSettings));
        memcpy(isos, cam.m_piISO, at * sizeof(int32_t));
    }
    s[at] = *settings;
    isos[at] = iso;
    if (cam.m_uiISOCount > at) {
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
    if (m_iActualCamera == static_cast<int32_t>(row)) {
        m_iActualCamera = 0;
        m_iActualIso = 0;
    } else if (m_iActualCamera > static_cast<int32_t>(row)) {
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
    if (m_iActualCamera == static_cast<int32_t>(row) && m_iActualIso > static_cast<int32_t>(index))
        --m_iActualIso;
    return false;
}
