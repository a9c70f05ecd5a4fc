#include "profiles/Settings.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Localisation.h"

#include <shlobj.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

int g_iHwAccel = 0;
int g_iGpuCpuFusion = 0;
int g_iAdvancedDenoise = 0;
int g_iLanguageCurrent = 0;
BYTE g_bCrashedLastTime = 0;

namespace
{

const wchar_t kFolderName[] = L"HPXPhotoshopPlugIn";
const wchar_t kSection[] = L"General";

wchar_t g_wcsAppDataOverride[HPX_PATH_CHARS];
wchar_t g_wcsPluginFolderOverride[HPX_PATH_CHARS];

bool FileExists(const wchar_t* path)
{
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// A new settings file starts with a UTF-16 byte-order mark, so that the private-profile functions
// keep non-ASCII text (such as a folder path in "Latest Folder") instead of narrowing it to the
// ANSI code page.
void EnsureUnicodeSettingsFile(const wchar_t* path)
{
    if (FileExists(path)) return;
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    static const BYTE bom[2] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(h, bom, sizeof bom, &written, nullptr);
    CloseHandle(h);
}

}  // namespace

HMODULE GetPluginModule()
{
    // The module that holds this code: the plug-in itself, or the program that links the
    // plug-in's libraries (the tests).
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&GetPluginModule), &module))
        module = nullptr;
    return module;
}

void SetAppDataFolderOverride(const wchar_t* folder) { CopyText(g_wcsAppDataOverride, HPX_PATH_CHARS, folder); }

void SetPluginFolderOverride(const wchar_t* folder) { CopyText(g_wcsPluginFolderOverride, HPX_PATH_CHARS, folder); }

bool GetUserFolder(wchar_t path[HPX_PATH_CHARS])
{
    path[0] = 0;
    wchar_t appData[MAX_PATH + 1] = L"";
    const wchar_t* base = g_wcsAppDataOverride;
    if (!base[0])
    {
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) return false;
        base = appData;
    }
    _snwprintf(path, HPX_PATH_CHARS - 1, L"%ls\\%ls", base, kFolderName);
    path[HPX_PATH_CHARS - 1] = 0;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) SHCreateDirectoryExW(nullptr, path, nullptr);
    return true;
}

void GetSettingsFilePath(wchar_t path[HPX_PATH_CHARS])
{
    wchar_t folder[HPX_PATH_CHARS];
    if (!GetUserFolder(folder))
    {
        path[0] = 0;
        return;
    }
    _snwprintf(path, HPX_PATH_CHARS - 1, L"%ls\\%ls.txt", folder, kFolderName);
    path[HPX_PATH_CHARS - 1] = 0;
}

void GetPluginFolder(wchar_t path[HPX_PATH_CHARS])
{
    if (g_wcsPluginFolderOverride[0])
    {
        CopyText(path, HPX_PATH_CHARS, g_wcsPluginFolderOverride);
        return;
    }
    DWORD n = GetModuleFileNameW(GetPluginModule(), path, HPX_PATH_CHARS);
    if (n == 0 || n >= HPX_PATH_CHARS)
    {
        path[0] = 0;
        return;
    }
    path[n] = 0;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash) *slash = 0;
}

void GetLocalisationFilePath(wchar_t path[HPX_PATH_CHARS])
{
    wchar_t folder[HPX_PATH_CHARS];
    GetPluginFolder(folder);
    _snwprintf(path, HPX_PATH_CHARS - 1, L"%ls/Hushpix_loc.ini", folder);
    path[HPX_PATH_CHARS - 1] = 0;
}

int ParseIntText(const wchar_t* text)
{
    if (!text) return 0;
    wchar_t* end = nullptr;
    errno = 0;
    long long v = wcstoll(text, &end, 10);
    if (end == text) return 0;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

int ReadSettingInt(const wchar_t* key, int defaultValue)
{
    wchar_t path[HPX_PATH_CHARS];
    GetSettingsFilePath(path);
    wchar_t def[16];
    _snwprintf(def, 15, L"%i", defaultValue);
    def[15] = 0;
    wchar_t buf[1024];
    GetPrivateProfileStringW(kSection, key, def, buf, 1024, path);
    return ParseIntText(buf);
}

void ReadSettingString(const wchar_t* key, const wchar_t* defaultValue, wchar_t* out, DWORD cch)
{
    if (!out || !cch) return;
    wchar_t path[HPX_PATH_CHARS];
    GetSettingsFilePath(path);
    wchar_t buf[1024];
    GetPrivateProfileStringW(kSection, key, defaultValue ? defaultValue : L"", buf, 1024, path);
    CopyText(out, cch, buf);
}

bool WriteSettingString(const wchar_t* key, const wchar_t* value)
{
    wchar_t path[HPX_PATH_CHARS];
    GetSettingsFilePath(path);
    if (!path[0]) return false;
    EnsureUnicodeSettingsFile(path);
    return WritePrivateProfileStringW(kSection, key, value, path) != FALSE;
}

bool WriteSettingInt(const wchar_t* key, int value)
{
    wchar_t text[16];
    _snwprintf(text, 15, L"%i", value);
    text[15] = 0;
    return WriteSettingString(key, text);
}

void LoadSettings()
{
    wchar_t locPath[HPX_PATH_CHARS];
    GetLocalisationFilePath(locPath);
    wchar_t buf[1024];
    GetPrivateProfileStringW(L"General", L"Languages No", L"0", buf, 1024, locPath);
    int languages = ParseIntText(buf);

    g_bCrashedLastTime = static_cast<BYTE>(ReadSettingInt(L"Crashed Last Time", 0) & 0xFF);
    WriteSettingInt(L"Crashed Last Time", 1);

    g_iLanguageCurrent = ReadSettingInt(L"Language Current", 0);
    g_iHwAccel = ReadSettingInt(L"HW Accel", 0);
    g_iGpuCpuFusion = ReadSettingInt(L"GPUCPUFusion", 0);
    g_iAdvancedDenoise = ReadSettingInt(L"AdvancedDenoise", 0);

    if (languages < 0) languages = 0;
    if (languages > HPX_MAX_LANGUAGES) languages = HPX_MAX_LANGUAGES;
    g_iLanguageCount = languages;
    for (int i = 0; i < languages; ++i)
    {
        wchar_t section[10];
        _snwprintf(section, 9, L"%i", i);
        section[9] = 0;
        LanguageEntry& e = g_Languages[i];
        GetPrivateProfileStringW(section, L"Language", L"", e.m_wcsLanguage, 1024, locPath);
        GetPrivateProfileStringW(section, L"Acronym", L"", buf, 1024, locPath);
        CopyText(e.m_wcsAcronym, 16, buf);
    }
}

void ClearCrashFlag() { WriteSettingInt(L"Crashed Last Time", 0); }
