// Texts of the user interface and the list of languages.
//
// The localisation file "Hushpix_loc.ini" beside the plug-in holds, in section "General", the
// number of languages ("Languages No") and, in sections "0", "1", ..., each language's name
// ("Language"), a short code ("Acronym") and its texts "string1" .. "string155". Every text that
// is missing (no file, no section, no key, or an empty value) is the built-in English one.
// A two-character "\n" in a text of the file stands for a line break.
#pragma once

#include <windows.h>

constexpr int HPX_LOC_STRING_COUNT = 155;
constexpr int HPX_LOC_STRING_CHARS = 1024;
constexpr int HPX_MAX_LANGUAGES = 100;

// The 155 texts; entry N (1 .. 155) is "localised string N". Entry 0 is unused.
struct LocalizedStrings
{
    wchar_t m_wcsText[HPX_LOC_STRING_COUNT + 1][HPX_LOC_STRING_CHARS];

    // Text N, or an empty text for a number outside 1 .. 155.
    const wchar_t* operator[](int n) const { return (n >= 1 && n <= HPX_LOC_STRING_COUNT) ? m_wcsText[n] : L""; }
};

struct LanguageEntry
{
    wchar_t m_wcsLanguage[1024];  // "Language": the name shown in the Options dialog
    wchar_t m_wcsAcronym[16];     // "Acronym": at most 15 characters
};

extern LocalizedStrings g_LocStrings;
extern LanguageEntry g_Languages[HPX_MAX_LANGUAGES];
extern int g_iLanguageCount;

// The built-in English text N (1 .. 155); empty outside that range.
const wchar_t* GetDefaultLocString(int n);

// Fills g_LocStrings from the section of g_iLanguageCurrent (and re-reads "HW Accel" and
// "GPUCPUFusion" from the settings). Called once when the main window is created, after
// LoadSettings.
void LoadLocalizedStrings();

// Reads text N of the language section into out (HPX_LOC_STRING_CHARS characters), English when
// the file, section, key or value is missing.
void ReadLocalizedString(int language, int n, wchar_t* out);

// Fills every entry with its English text (used before any file is read).
void ResetLocalizedStrings();
