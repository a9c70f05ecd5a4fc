// Camera/ISO denoise profiles: an in-memory table of cameras, each with entries of one denoise
// parameter record per ISO value, loaded from and saved to "CameraISOSettingX.ini".
//
// Row 0 is the camera "<<Unknown Camera>>"; rows 1 and up are kept in name order by AddOrUpdate.
// The table owns its arrays (C heap). Two copies of the file exist: the one shipped beside the
// plug-in and the user's one in the per-user folder; Load picks one by their "version" keys and
// Save always writes the user's one.
//
// The operations that return bool return false on success and true on failure, and leave the
// table unchanged when they fail; FindCamera and FindIsoIndex cannot fail and always return false. A table is used by one thread (the panel's on the host's
// thread, the batch's on the batch thread) and is not locked.
#pragma once

#include <windows.h>
#include <SimpleIni.h>
#include <cstdint>

#include "profiles/IsoSettings.h"
#include "profiles/Settings.h"

// Name of row 0.
#define HPX_UNKNOWN_CAMERA L"<<Unknown Camera>>"

constexpr uint32_t HPX_MAX_CAMERAS = 10000;      // cameras accepted from a file
constexpr uint32_t HPX_MAX_ISO_ENTRIES = 10000;  // entries of one camera read from a file
constexpr int HPX_CAMERA_NAME_CHARS = 128;

struct CameraProfile
{
    int32_t m_iIndex;                                // the camera's row
    wchar_t m_wcsCameraName[HPX_CAMERA_NAME_CHARS];  // normally "make / model", normalised
    uint32_t m_uiISOCount;                           // number of entries
    IsoSettings* m_pSettings;                        // m_uiISOCount records
    int32_t* m_piISO;                                // m_uiISOCount ISO values, parallel
};

class CameraIsoTable
{
public:
    uint32_t m_uiCameraCount = 0;  // "No Of Cameras"
    CameraProfile* m_pCameras = nullptr;
    int32_t m_iActualCamera = 0;  // "Actual Camera", carried from load to save
    int32_t m_iActualIso = 0;     // "Actual ISO", carried from load to save

    CameraIsoTable() = default;
    ~CameraIsoTable() { Free(); }
    CameraIsoTable(const CameraIsoTable&) = delete;
    CameraIsoTable& operator=(const CameraIsoTable&) = delete;

    // Fills the table from the chosen copy of the file (the default profile, saved at once, when
    // neither exists). True when memory ran out while reading; the table is then as it was.
    bool Load();
    // Writes the whole table to the user copy. A copy that cannot be written (or a text that
    // cannot be made for want of memory) leaves the stored file as it was and gives true.
    bool Save();

    // *row = the first of rows 1 and up whose camera name equals the text, case-insensitively, once
    // blanks at the text's ends and every space in both are dropped; 0 (the unknown camera) when
    // none matches or the text is null. Always returns false, also for a null row (then nothing
    // is written): a camera that is not in the table is no failure but row 0.
    bool FindCamera(uint32_t* row, const wchar_t* text) const;
    // *index = the first entry of the row whose ISO equals the integer value of the text; 0 (the
    // row's first entry) when none does or the row is outside the table. Always returns false,
    // also for a null index (then nothing is written).
    bool FindIsoIndex(uint32_t* index, const wchar_t* isoText, uint32_t row) const;
    // Copies entry `index` of `row`; fails (destination unchanged) for a null destination, a row or
    // index outside the table.
    bool GetIsoSettings(IsoSettings* destination, uint32_t row, uint32_t index) const;
    // The entry of the camera (FindCamera of the text) whose stored noise estimates lie nearest to
    // the given ones (luma only when noiseUV is about 0); the first of equal ones. Index 0 and
    // true when the camera has no entry.
    bool FindNearestIso(uint32_t* index, const wchar_t* cameraText, double noiseY, double noiseUV) const;
    // The same over the entries of one row.
    bool FindNearestIsoInRow(uint32_t* index, uint32_t row, double noiseY, double noiseUV) const;
    // The ISO value that AddOrUpdate stores for a text: its integer value clamped to 16..409600.
    static int StoredIsoValue(const wchar_t* isoText);
    // Stores the record under the camera name (blanks at either end dropped) and the ISO text
    // (clamped to 16..409600): into the row that FindCamera gives for the name (row 0 for the
    // unknown camera's name, spaces and case aside too), else a new camera in name order; a new
    // ISO goes into ISO order, an existing entry is overwritten.
    bool AddOrUpdate(const wchar_t* cameraName, const wchar_t* isoText, const IsoSettings* settings);
    // Removes a camera (never row 0).
    bool DeleteCamera(uint32_t row);
    // Removes one entry; the last entry of a camera removes the camera (row 0 keeps its last).
    bool DeleteIso(uint32_t row, uint32_t index);

    // Frees every array; the table is then empty.
    void Free();
    void Release() { Free(); }

    // Writers of one camera's section and of one entry's section.
    void SaveCamera(CSimpleIniW& ini, uint32_t row) const;
    void SaveIsoSettings(CSimpleIniW& ini, uint32_t row, uint32_t index) const;

    // Whether the last Load had to repair or replace a damaged user copy, or read a newer shipped
    // copy in its place; the next Save then first keeps that file as "CameraISOSettingX.ini.bak"
    // (or ".bak1" ... when taken), unless it already says what is written.
    bool RepairedOnLoad() const { return m_bKeepUserCopy; }

private:
    bool m_bKeepUserCopy = false;

    // The first row from firstRow on that is the same camera as the text; the camera count when none.
    uint32_t MatchCamera(const wchar_t* text, uint32_t firstRow) const;

    bool SetDefaultProfile();
    // The table from an INI object (damage repaired, *repaired then set) and into an empty one.
    bool ReadFrom(CSimpleIniW& ini, bool* repaired);
    void WriteTo(CSimpleIniW& ini) const;
    bool LoadFiles();
    bool SaveFile();
    static void WriteEntry(CSimpleIniW& ini, const wchar_t* section, const IsoSettings& settings);
};

// Copies the text (at most 127 characters) into out, drops blanks at either end, then replaces
// the known long maker names by short ones ("NIKON CORPORATION / NIKON" -> "NIKON /", ...).
// out may be the text itself.
void NormalizeCameraName(wchar_t out[HPX_CAMERA_NAME_CHARS], const wchar_t* text);
// Replaces every occurrence of search in text (a buffer of `capacity` characters) by the
// replacement; the result is cut to fit.
void ReplaceSubstring(wchar_t* text, size_t capacity, const wchar_t* search, const wchar_t* replacement);
// The same on a buffer of 1024 characters.
void ReplaceSubstring(wchar_t* text, const wchar_t* search, const wchar_t* replacement);
// The user copy ("<user folder>\CameraISOSettingX.ini", folder created) or the shipped copy
// ("<plug-in folder>\CameraISOSettingX.ini").
void GetProfileFilePath(wchar_t path[HPX_PATH_CHARS], bool shipped);
