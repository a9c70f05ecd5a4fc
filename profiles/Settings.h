// Per-user settings of the plug-in and the paths of its files.
//
// The settings live in "HPXPhotoshopPlugIn.txt" in the folder "HPXPhotoshopPlugIn" of the user's
// application-data folder, section "General", read and written with the system's private-profile
// functions. Integers are stored as "%i" text; text that does not parse reads as 0.
//
// Keys: "HW Accel", "GPUCPUFusion", "AdvancedDenoise", "Language Current", "Crashed Last Time",
// "jpeg", "ShowManualTunning", "Latest Folder".
//
// Everything here runs on the host's thread (the batch thread only reads paths and "jpeg").
#pragma once

#include <windows.h>
#include <cstddef>

constexpr size_t HPX_PATH_CHARS = 1024;

// Filled by LoadSettings (and partly by LoadLocalizedStrings and the Options dialog).
extern int g_iHwAccel;           // 1 = whole-image jobs go to the GPU program
extern int g_iGpuCpuFusion;      // 1 = GPU and CPU share the tiles, 0 = GPU only
extern int g_iAdvancedDenoise;   // stored only; steers nothing
extern int g_iLanguageCurrent;   // index of the language section of the localisation file
extern BYTE g_bCrashedLastTime;  // set when the previous run did not end normally

// ---- folders and paths ------------------------------------------------------------------------

// The per-user folder "<application data>\HPXPhotoshopPlugIn", created when missing. Returns
// false when the application-data folder cannot be found (path then empty).
bool GetUserFolder(wchar_t path[HPX_PATH_CHARS]);
// "<user folder>\HPXPhotoshopPlugIn.txt"; the folder is created first.
void GetSettingsFilePath(wchar_t path[HPX_PATH_CHARS]);
// Folder of the plug-in's own module file, without a trailing backslash (the whole module path
// when it holds no backslash).
void GetPluginFolder(wchar_t path[HPX_PATH_CHARS]);
// "<plug-in folder>/Hushpix_loc.ini".
void GetLocalisationFilePath(wchar_t path[HPX_PATH_CHARS]);
// The module whose resources (dialog templates) and folder the plug-in uses.
HMODULE GetPluginModule();

// Test hooks: point the application-data folder or the plug-in folder elsewhere (null restores
// the system's). The per-user folder "HPXPhotoshopPlugIn" is still appended to the first.
void SetAppDataFolderOverride(const wchar_t* folder);
void SetPluginFolderOverride(const wchar_t* folder);

// ---- reading and writing section "General" of the settings file -------------------------------

// Integer value of a key ("%i" text; unparsable text gives 0, a missing key the default).
int ReadSettingInt(const wchar_t* key, int defaultValue);
// Text of a key into a caller's buffer (at most cch characters with the terminator).
void ReadSettingString(const wchar_t* key, const wchar_t* defaultValue, wchar_t* out, DWORD cch);
// Writes "%i" of the value; false when the file cannot be written.
bool WriteSettingInt(const wchar_t* key, int value);
bool WriteSettingString(const wchar_t* key, const wchar_t* value);

// Integer value of a text as the settings and profile files take it: optional blanks and sign,
// then decimal digits; no digits gives 0; values beyond the int range are limited to it.
int ParseIntText(const wchar_t* text);

// ---- start-up ---------------------------------------------------------------------------------

// Reads the language list of the localisation file and the settings; records the crash flag of
// the previous run and sets "Crashed Last Time" = 1 until the main window clears it.
void LoadSettings();
// Writes "Crashed Last Time" = 0 (the main window does this when it is destroyed).
void ClearCrashFlag();
