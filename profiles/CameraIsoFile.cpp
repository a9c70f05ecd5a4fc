// The camera/ISO profile file: which copy is read, and writing that never leaves a half file.
#include "profiles/CameraIsoTable.h"
#include "profiles/CameraIsoTableInternal.h"
#include "profiles/Settings.h"

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

using namespace camera_iso_detail;

namespace
{

const wchar_t kFileName[] = L"CameraISOSettingX.ini";
// Larger files are not profile files; they are left alone rather than read into memory.
const LONGLONG kMaxFileBytes = 64LL * 1024 * 1024;
// A path and the suffix of a file kept beside it (".tmp", ".bak", ".bak99").
constexpr size_t kSidePathChars = HPX_PATH_CHARS + 76;

// The path with the suffix appended, cut to fit. _snwprintf leaves a text that it cuts
// unterminated, so the last character is set to 0 by hand.
void SidePath(wchar_t (&out)[kSidePathChars], const wchar_t* path, const wchar_t* suffix)
{
    _snwprintf(out, kSidePathChars - 1, L"%ls%ls", path, suffix);
    out[kSidePathChars - 1] = 0;
}

bool FileExists(const wchar_t* path)
{
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// Files written before names beginning with "<<<" were stored in multi-line form hold such a name
// as a plain value, which SimpleIni would take as the opening of a multi-line value and so lose
// the rest of the file. Those name lines are put into the multi-line form that the writer uses
// now before the text is read: the name and everything after it read back as written.
void QuoteNamesThatOpenMultiLineValues(std::string& data)
{
    static const char kKey[] = "m_wcsCameraName";
    static const char kOpener[] = "<<<END_OF_TEXT";  // SimpleIni's own multi-line form
    if (data.find("<<<") == std::string::npos) return;
    auto skipBlanks = [&](size_t p, size_t end)
    {
        while (p < end && (data[p] == ' ' || data[p] == '\t')) ++p;
        return p;
    };
    std::string out;
    size_t copied = 0;
    for (size_t at = 0; at < data.size();)
    {
        const size_t eol = data.find('\n', at);
        const size_t next = eol == std::string::npos ? data.size() : eol + 1;
        size_t end = eol == std::string::npos ? data.size() : eol;
        if (end > at && data[end - 1] == '\r') --end;
        size_t p = skipBlanks(at, end);
        if (data.compare(p, sizeof kKey - 1, kKey) == 0)
        {
            p = skipBlanks(p + sizeof kKey - 1, end);
            if (p < end && data[p] == '=')
            {
                p = skipBlanks(p + 1, end);
                size_t valueEnd = end;
                while (valueEnd > p && (data[valueEnd - 1] == ' ' || data[valueEnd - 1] == '\t')) --valueEnd;
                const std::string value = data.substr(p, valueEnd - p);
                if (value.compare(0, 3, "<<<") == 0 && value != kOpener)
                {
                    out.append(data, copied, p - copied);
                    out += std::string(kOpener) + "\r\n" + value + "\r\nEND_OF_TEXT";
                    copied = end;
                }
            }
        }
        at = next;
    }
    if (copied == 0) return;
    out.append(data, copied, std::string::npos);
    data.swap(out);
}

// Reads a whole file into a SimpleIni object. False when it cannot be opened or read, is too
// large to be a profile file, or is not text that SimpleIni takes; throws when memory runs out.
bool ReadIniFile(CSimpleIniW& ini, const wchar_t* path)
{
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart >= 0 && size.QuadPart <= kMaxFileBytes;
    std::string data;
    try
    {
        if (ok) data.resize(static_cast<size_t>(size.QuadPart));
    }
    catch (...)
    {
        CloseHandle(h);
        throw;  // out of memory is no verdict on the file
    }
    DWORD got = 0;
    if (ok && !data.empty())
        ok = ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &got, nullptr) && got == data.size();
    CloseHandle(h);
    if (!ok) return false;
    QuoteNamesThatOpenMultiLineValues(data);
    ini.Reset();
    const SI_Error rc = ini.LoadData(data.data(), data.size());
    if (rc == SI_NOMEM) throw std::bad_alloc();
    return rc >= 0;
}

// Whether the file's bytes are exactly the data.
bool FileHolds(const wchar_t* path, const std::string& data)
{
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool same = GetFileSizeEx(h, &size) && size.QuadPart == static_cast<LONGLONG>(data.size());
    std::string bytes;
    if (same && !data.empty())
    {
        bytes.resize(data.size());
        DWORD got = 0;
        same = ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size() &&
            bytes == data;
    }
    CloseHandle(h);
    return same;
}

// Writes the data to a temporary file beside the target and moves it over the target, so that a
// failed write leaves the previous file whole.
bool WriteFileReplacing(const wchar_t* path, const std::string& data)
{
    wchar_t temp[kSidePathChars];
    SidePath(temp, path, L".tmp");
    HANDLE h = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = data.empty() ||
        (WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size());
    ok = FlushFileBuffers(h) && ok;
    CloseHandle(h);
    if (ok) ok = MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) DeleteFileW(temp);
    return ok;
}

// Keeps a copy of a user file that had to be repaired, under a name not yet taken.
void KeepCopy(const wchar_t* path)
{
    for (int i = 0; i < 100; ++i)
    {
        wchar_t suffix[16] = L".bak";
        if (i > 0) swprintf(suffix, 16, L".bak%i", i);
        wchar_t backup[kSidePathChars];
        SidePath(backup, path, suffix);
        if (CopyFileW(path, backup, TRUE)) return;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return;
    }
}

}  // namespace

void GetProfileFilePath(wchar_t path[HPX_PATH_CHARS], bool shipped)
{
    wchar_t folder[HPX_PATH_CHARS];
    if (shipped)
    {
        GetPluginFolder(folder);
    }
    else if (!GetUserFolder(folder))
    {
        path[0] = 0;
        return;
    }
    _snwprintf(path, HPX_PATH_CHARS - 1, L"%ls\\%ls", folder, kFileName);
    path[HPX_PATH_CHARS - 1] = 0;
}

bool CameraIsoTable::Load()
{
    // Read into a table of its own: when memory runs out midway this one stays as it was.
    CameraIsoTable fresh;
    bool failed;
    try
    {
        failed = fresh.LoadFiles();
    }
    catch (...)
    {
        failed = true;
    }
    if (failed) return true;
    Free();
    m_uiCameraCount = fresh.m_uiCameraCount;
    m_pCameras = fresh.m_pCameras;
    m_iActualCamera = fresh.m_iActualCamera;
    m_iActualIso = fresh.m_iActualIso;
    m_bKeepUserCopy = fresh.m_bKeepUserCopy;
    fresh.m_pCameras = nullptr;
    fresh.m_uiCameraCount = 0;
    return false;
}

bool CameraIsoTable::LoadFiles()
{
    Free();
    m_bKeepUserCopy = false;
    wchar_t userPath[HPX_PATH_CHARS], shippedPath[HPX_PATH_CHARS];
    GetProfileFilePath(userPath, false);
    GetProfileFilePath(shippedPath, true);
    const bool haveUser = userPath[0] && FileExists(userPath);
    const bool haveShipped = shippedPath[0] && FileExists(shippedPath);

    if (!haveUser && !haveShipped)
    {
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
    // Replaced by a newer shipped copy: the user's own entries are kept beside it on the next save.
    if (haveUser && userOk && useShipped) m_bKeepUserCopy = true;

    bool repaired = false;
    bool failed;
    if (useShipped && shippedOk)
    {
        failed = ReadFrom(shippedIni, &repaired);
    }
    else if (!useShipped && userOk)
    {
        failed = ReadFrom(userIni, &repaired);
        if (repaired || failed) m_bKeepUserCopy = true;
    }
    else
    {
        failed = SetDefaultProfile();
    }
    return failed;
}

bool CameraIsoTable::Save()
{
    if (!m_pCameras || m_uiCameraCount == 0) return true;  // nothing loaded: keep the file
    try
    {
        return SaveFile();
    }
    catch (...)
    {
        // Out of memory while the text was made: nothing has been written yet.
        return true;
    }
}

bool CameraIsoTable::SaveFile()
{
    CSimpleIniW ini(true, true, true);
    WriteTo(ini);
    std::string data;
    if (ini.Save(data, true) < 0) return true;
    wchar_t path[HPX_PATH_CHARS];
    GetProfileFilePath(path, false);
    if (!path[0]) return true;
    // A copy that says the same as the new text loses nothing when it is replaced.
    if (m_bKeepUserCopy && FileExists(path) && !FileHolds(path, data)) KeepCopy(path);
    if (!WriteFileReplacing(path, data)) return true;
    m_bKeepUserCopy = false;
    return false;
}
