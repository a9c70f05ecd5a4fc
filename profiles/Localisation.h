// Texts of the user interface and the list of languages.
//
// The localisation file "Hushpix_loc.ini" beside the plug-in holds, in section "General", the
// number of languages ("Languages No") and, in sections "0", "1", ..., each language's name
// ("Language"), a short code ("Acronym") and its texts "string1" .. "string156". Every text that
// is missing (no file, no section, no key, or an empty value) is the built-in English one.
// A two-character "\n" in a text of the file stands for a line break.
#pragma once

#include <windows.h>

constexpr int HPX_LOC_STRING_COUNT = 156;
constexpr int HPX_LOC_STRING_CHARS = 1024;
constexpr int HPX_MAX_LANGUAGES = 100;

// The texts the code picks, named after their English wording. The numbers are the file's keys
// ("string1" .. "string156") and never change; a text the code starts to use gets its name here.
enum : int
{
    kLocOpenImageHint = 1,              // "Press Ctrl+O to open an image"
    kLocMenuFile = 2,                   // "File"
    kLocMenuDenoise = 3,                // "Denoise"
    kLocMenuHelp = 4,                   // "Help"
    kLocMenuOptions = 8,                // "Options..."
    kLocMenuExit = 9,                   // "Exit"
    kLocBatchDenoisingMenu = 11,        // "Batch Denoising..."
    kLocHelpContents = 12,              // "Help Contents F1"
    kLocVisitWebSite = 13,              // "Visit Web Site"
    kLocMenuAbout = 16,                 // "About..."
    kLocViewDragHint = 18,              // "Click and drag to move image, ..."
    kLocTipOpenImage = 19,              // "Open Image (Ctrl+O)"
    kLocTipSaveImageAs = 20,            // "Save Image As (Ctrl+S)"
    kLocTipDenoiseImage = 21,           // "Denoise Current Image"
    kLocTipZoomIn = 22,                 // "Zoom In (+)"
    kLocTipZoomOut = 23,                // "Zoom Out (-)"
    kLocTipZoomFit = 24,                // "Zoom Image to Fit the Window"
    kLocReport = 27,                    // "Report"
    kLocFormatNotSupported = 30,        // "Image format not supported!"
    kLocAbout = 31,                     // "About"
    kLocPreviewDragHint = 34,           // "Click and drag to move image or preview rectangle, ..."
    kLocDenoiseButton = 38,             // "Denoise >>"
    kLocAbort = 43,                     // "Abort"
    kLocResultDragHint = 44,            // "Click and drag to move image, ... original and modified image"
    kLocJpegQuality = 50,               // "Jpeg Quality:"
    kLocOpenTitle = 55,                 // "Open..."
    kLocSaveAsTitle = 56,               // "Save As..."
    kLocOptions = 57,                   // "Options"
    kLocSelectLanguage = 58,            // "Select language:"
    kLocOk = 59,                        // "OK"
    kLocCancel = 60,                    // "Cancel"
    kLocUseHardwareAcceleration = 61,   // "Use hardware acceleration"
    kLocInformation = 63,               // "Information"
    kLocRestartForLanguage = 64,        // "You have to restart application to affect the language change!"
    kLocSetDefault = 66,                // "Set Default"
    kLocSelectFolderToDenoise = 71,     // "Select folder to denoise"
    kLocBatchOptions = 72,              // "Batch denoising options"
    kLocBatchDenoising = 73,            // "Batch Denoising"
    kLocEstimatedTime = 74,             // "Estimated time"
    kLocElapsedTime = 75,               // "Elapsed time"
    kLocWarning = 81,                   // "Warning"
    kLocTipZoom100 = 83,                // "Set Zoom 100%"
    kLocTipSetZoom = 84,                // "Set Zoom"
    kLocCrashedLastTime = 85,           // "The application crashed last time. ..."
    kLocBatchSucceeded = 88,            // "Batch denoising was successfully finished! ..."
    kLocCannotSaveImage = 92,           // "Cannot save the image file."
    kLocNotEnoughMemory = 93,           // "Not enough memory to process the image."
    kLocFolderHasNoImages = 98,         // "The folder contains no images that can be denoised."
    kLocTipDenoiseImageFast = 110,      // "Denoise Current Image Fast"
    kLocCpuGpuFusion = 111,             // "CPU+GPU Fusion"
    kLocPureGpu = 112,                  // "Pure GPU"
    kLocStrengthIntensity = 116,        // "Strength - Intensity:"
    kLocStrengthChroma = 117,           // "Strength - Chromacity:"
    kLocStrengthChromaLarge = 118,      // "Strength - Chromacity Large:"
    kLocNoiseDomination = 119,          // "Noise domination (dark - light):"
    kLocParametersSetting = 120,        // "Parameters Setting"
    kLocBasicParameters = 122,          // "Basic parameters"
    kLocSaveAsButton = 123,             // "Save As..."
    kLocRemove = 124,                   // "Remove"
    kLocAdvancedParameters = 125,       // "Advanced parameters(optional)"
    kLocSharpeningParameters = 126,     // "Sharpening parameters"
    kLocTinyDetails = 127,              // "Tiny Details"
    kLocMediumDetails = 128,            // "Medium Details"
    kLocRoughDetails = 129,             // "Rough Details"
    kLocCamera = 130,                   // "Camera:"
    kLocMaker = 132,                    // "Maker:"
    kLocType = 133,                     // "Type:"
    kLocFNumber = 134,                  // "FNumber:"
    kLocExposure = 135,                 // "Exposure:"
    kLocCaptured = 136,                 // "Captured:"
    kLocDeleteCameraQuestion = 137,     // "Do you want to delete all settings for current camera?"
    kLocDeleteCameraYes = 138,          // "Yes - delete all setting for current camera"
    kLocDeleteCameraNo = 139,           // "No - delete only setting for current camera and current ISO"
    kLocDeleteCameraCancel = 140,       // "Cancel - cancel operation"
    kLocCannotDeleteSetting = 141,      // "Cannot delete selected setting"
    kLocAddingConfiguration = 142,      // "Adding Configuration"
    kLocBatchProfilesInfo = 143,        // "The application will use existing profiles for denoising. ..."
    kLocRedefine = 144,                 // "Redefine"
    kLocTipSaveManualSetting = 145,     // "Save Manual Setting..."
    kLocTipDeleteSetting = 146,         // "Delete Current Setting..."
    kLocManualTuning = 147,             // "Manual tunning"
    kLocResolution = 148,               // "Resolution:"
    kLocShowHide = 149,                 // "Show / Hide"
    kLocPointArtefactsReduction = 150,  // "Use heavy point based artefacts reduction"
    kLocMedianNone = 151,               // "None (Recommended)"
    kLocMedianCommon = 152,             // "Common"
    kLocMedianStrong = 153,             // "Strong"
    kLocViewOutOfMemory = 154,          // "The image cannot be shown: there is not enough memory for the view."
    kLocBatchSomeFailed = 155,          // "Batch denoising has finished, but some images could not be denoised ..."
    kLocReplaceFile = 156,              // "This file exists already. Do you want to replace it?"
};

// The 156 texts; entry N (1 .. 156) is "localised string N". Entry 0 is unused.
struct LocalizedStrings
{
    wchar_t m_wcsText[HPX_LOC_STRING_COUNT + 1][HPX_LOC_STRING_CHARS];

    // Text N, or an empty text for a number outside 1 .. 156.
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

// The built-in English text N (1 .. 156); empty outside that range.
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
