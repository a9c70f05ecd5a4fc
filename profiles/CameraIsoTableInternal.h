// Helpers shared by the camera/ISO table's source files (not for use outside them): the table
// itself (CameraIsoTable.cpp), the names (CameraIsoNames.cpp), the mapping onto the INI file
// (CameraIsoIni.cpp) and the file's reading and writing (CameraIsoFile.cpp).
#pragma once

#include <SimpleIni.h>
#include <cstddef>

#include "profiles/CameraIsoTable.h"

namespace camera_iso_detail
{

// Section of the file's general keys.
constexpr wchar_t kGeneral[] = L"General";
// The longest text the name routines work on, terminator included: the size of the plug-in's
// text and path buffers (longer texts are cut).
constexpr size_t kTextChars = 1024;

// Drops blanks (spaces, tabs, line breaks, no-break and ideographic spaces) at both ends, in place.
void TrimBlanks(wchar_t* text);
// Ordinal comparison without regard to case: <0, 0, >0.
int CompareNoCase(const wchar_t* a, const wchar_t* b);
// The text without its spaces (' ' only), cut to cch characters with the terminator.
void RemoveSpaces(wchar_t* out, size_t cch, const wchar_t* in);

// The file's "version" key (1 when missing).
int ReadVersion(const CSimpleIniW& ini);

// Frees one camera's arrays; its name and row stay.
void FreeCamera(CameraProfile& camera);

}  // namespace camera_iso_detail
