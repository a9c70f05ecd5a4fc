#include "profiles/Localisation.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Settings.h"

#include <cstdio>
#include <cwchar>

LocalizedStrings g_LocStrings;
LanguageEntry g_Languages[HPX_MAX_LANGUAGES];
int g_iLanguageCount = 0;

namespace
{

// The built-in English texts, by number. resources/dist/Hushpix_loc.ini holds the same texts in
// its English section (written with "\n" for the line breaks); a test keeps the two in step.
const wchar_t* const kEnglish[HPX_LOC_STRING_COUNT + 1] = {
    L"",
    /*   1 */ L"Press Ctrl+O to open an image",
    /*   2 */ L"File",
    /*   3 */ L"Denoise",
    /*   4 */ L"Help",
    /*   5 */ L"Open...Ctrl+O",
    /*   6 */ L"Save As...Ctrl+S",
    /*   7 */ L"Close",
    /*   8 */ L"Options...",
    /*   9 */ L"Exit",
    /*  10 */ L"Denoise Image...",
    /*  11 */ L"Batch Denoising...",
    /*  12 */ L"Help Contents F1",
    /*  13 */ L"Visit Web Site",
    /*  14 */ L"Check for Updates...",
    /*  15 */ L"Register...",
    /*  16 */ L"About...",
    /*  17 */ L"Please wait .",
    /*  18 */ L"Click and drag to move image, Double click to zoom to best fit, Use mouse wheel to zoom",
    /*  19 */ L"Open Image (Ctrl+O)",
    /*  20 */ L"Save Image As (Ctrl+S)",
    /*  21 */ L"Denoise Current Image",
    /*  22 */ L"Zoom In (+)",
    /*  23 */ L"Zoom Out (-)",
    /*  24 */ L"Zoom Image to Fit the Window",
    /*  25 */ L"Batch Denoise a Folder",
    /*  26 */ L"Show Original Image",
    /*  27 */ L"Report",
    /*  28 */ L"Question",
    /*  29 */ L"Error",
    /*  30 */ L"Image format not supported!",
    /*  31 */ L"About",
    /*  32 */ L"Medium;(normal)",
    /*  33 */ L"N/A",
    /*  34 */
    L"Click and drag to move image or preview rectangle, Right-click for comparison between original and denoised "
    L"image",
    /*  35 */ L"Low;(fastest)",
    /*  36 */ L"Superior;(slowest)",
    /*  37 */ L"Denoising wizard - Preview - Step 1",
    /*  38 */ L"Denoise >>",
    /*  39 */ L"Denoising wizard - Sharpening - Step 2",
    /*  40 */ L"Next >>",
    /*  41 */ L"Denoising wizard - Mixing Cans - Step 3",
    /*  42 */ L"Finish",
    /*  43 */ L"Abort",
    /*  44 */
    L"Click and drag to move image, Double click to zoom to best fit, Use mouse wheel to zoom, Right-click for "
    L"comparison between original and modified image",
    /*  45 */ L"Strength:",
    /*  46 */ L"Set sharpening strength for unsharp mask to improve the image impression",
    /*  47 */ L"Intensity:",
    /*  48 */ L"Radius:",
    /*  49 */ L"Threshold:",
    /*  50 */ L"Jpeg Quality:",
    /*  51 */ L"Highest",
    /*  52 */ L"High",
    /*  53 */ L"Medium",
    /*  54 */ L"Low",
    /*  55 */ L"Open...",
    /*  56 */ L"Save As...",
    /*  57 */ L"Options",
    /*  58 */ L"Select language:",
    /*  59 */ L"OK",
    /*  60 */ L"Cancel",
    /*  61 */ L"Use hardware acceleration",
    /*  62 */ L"Use advanced denosing",
    /*  63 */ L"Information",
    /*  64 */ L"You have to restart application to affect the language change!",
    /*  65 */ L"<< Previous",
    /*  66 */ L"Set Default",
    /*  67 */ L"Denoising strength:",
    /*  68 */ L"Quality:",
    /*  69 */ L"Process per component ;(slows down the processing)",
    /*  70 */ L"Use mixing cans for blending denoised and original image according to image intensity",
    /*  71 */ L"Select folder to denoise",
    /*  72 */ L"Batch denoising options",
    /*  73 */ L"Batch Denoising",
    /*  74 */ L"Estimated time",
    /*  75 */ L"Elapsed time",
    /*  76 */ L"Remaining time",
    /*  77 */ L"Processed files:",
    /*  78 */ L"Current file:",
    /*  79 */ L"Denoising wizard - Preview",
    /*  80 */ L"Denoising wizard - Finished",
    /*  81 */ L"Warning",
    /*  82 */ L"Denoising strength(chromacity):",
    /*  83 */ L"Set Zoom 100%",
    /*  84 */ L"Set Zoom",
    /*  85 */
    L"The application crashed last time. It's probably caused by low memory or by big size of photo you tried to "
    L"denoise. Please crop the image and denoise the image again.",
    /*  86 */ L"Mix only image intensity and let image chromacity unmixed",
    /*  87 */ L"All",
    /*  88 */
    L"Batch denoising was successfully finished! You can find denoised images in subfolder named denoised in chosen "
    L"folder.",
    /*  89 */ L"Windows GDI+ error appeared, image will be saved without EXIF metadata.",
    /*  90 */ L"Windows GDI+ error appeared, image cannot be saved.",
    /*  91 */ L"Cannot open the image file.",
    /*  92 */ L"Cannot save the image file.",
    /*  93 */ L"Not enough memory to process the image.",
    /*  94 */ L"The GPU program could not be started. The image will be denoised on the CPU.",
    /*  95 */ L"Denoising was aborted.",
    /*  96 */ L"Denoising failed.",
    /*  97 */ L"No image is open.",
    /*  98 */ L"The folder contains no images that can be denoised.",
    /*  99 */ L"Do you want to save the changes?",
    /* 100 */ L"Unsaved changes",
    /* 101 */ L"Noise ratio:",
    /* 102 */ L"Noise amplitude might be different in dark/light parts of the image.",
    /* 103 */ L"Correction of extra large chromatic spots.",
    /* 104 */ L"Strength:",
    /* 105 */ L"Sharpening Tool",
    /* 106 */ L"Level of Details 1",
    /* 107 */ L"Level of Details 2",
    /* 108 */ L"Level of Details 3",
    /* 109 */ L"Denoise Image Fast...",
    /* 110 */ L"Denoise Current Image Fast",
    /* 111 */ L"CPU+GPU Fusion",
    /* 112 */ L"Pure GPU",
    /* 113 */ L"GPU mode:",
    /* 114 */ L"CPU only",
    /* 115 */ L"Hardware acceleration is not available on this computer.",
    /* 116 */ L"Strength - Intensity:",
    /* 117 */ L"Strength - Chromacity:",
    /* 118 */ L"Strength - Chromacity Large:",
    /* 119 */ L"Noise domination (dark - light):",
    /* 120 */ L"Parameters Setting",
    /* 121 */ L"Profile:",
    /* 122 */ L"Basic parameters",
    /* 123 */ L"Save As...",
    /* 124 */ L"Remove",
    /* 125 */ L"Advanced parameters(optional)",
    /* 126 */ L"Sharpening parameters",
    /* 127 */ L"Tiny Details",
    /* 128 */ L"Medium Details",
    /* 129 */ L"Rough Details",
    /* 130 */ L"Camera:",
    /* 131 */ L"Image Info",
    /* 132 */ L"Maker:",
    /* 133 */ L"Type:",
    /* 134 */ L"FNumber:",
    /* 135 */ L"Exposure:",
    /* 136 */ L"Captured:",
    /* 137 */ L"Do you want to delete all settings for current camera?",
    /* 138 */ L"Yes - delete all setting for current camera",
    /* 139 */ L"No - delete only setting for current camera and current ISO",
    /* 140 */ L"Cancel - cancel operation",
    /* 141 */ L"Cannot delete selected setting",
    /* 142 */ L"Adding Configuration",
    /* 143 */
    L"The application will use existing profiles for denoising. If it does't find any setting corresponding to EXIF "
    L"metadata, if will use parameters from:\n\n <<Unknown Camera>>   Lowest ISO setting.",
    /* 144 */ L"Redefine",
    /* 145 */ L"Save Manual Setting...",
    /* 146 */ L"Delete Current Setting...",
    /* 147 */ L"Manual tunning",
    /* 148 */ L"Resolution:",
    /* 149 */ L"Show / Hide",
    /* 150 */ L"Use heavy point based artefacts reduction",
    /* 151 */ L"None (Recommended)",
    /* 152 */ L"Common",
    /* 153 */ L"Strong",
    /* 154 */ L"The image cannot be shown: there is not enough memory for the view.",
    /* 155 */
    L"Batch denoising has finished, but some images could not be denoised and were not written. The denoised images "
    L"are in subfolders named denoised in the chosen folder.",
    /* 156 */ L"This file exists already. Do you want to replace it?",
};

// The private-profile format has no line breaks: the file writes them as "\n".
void UnescapeLineBreaks(wchar_t* text)
{
    wchar_t* out = text;
    for (const wchar_t* in = text; *in; ++in)
    {
        if (in[0] == L'\\' && in[1] == L'n')
        {
            *out++ = L'\n';
            ++in;
        }
        else
        {
            *out++ = *in;
        }
    }
    *out = 0;
}

}  // namespace

const wchar_t* GetDefaultLocString(int n) { return (n >= 1 && n <= HPX_LOC_STRING_COUNT) ? kEnglish[n] : L""; }

void ResetLocalizedStrings()
{
    for (int n = 1; n <= HPX_LOC_STRING_COUNT; ++n)
        CopyText(g_LocStrings.m_wcsText[n], HPX_LOC_STRING_CHARS, kEnglish[n]);
}

void ReadLocalizedString(int language, int n, wchar_t* out)
{
    const wchar_t* english = GetDefaultLocString(n);
    wchar_t path[HPX_PATH_CHARS];
    GetLocalisationFilePath(path);
    wchar_t section[10];
    _snwprintf(section, 9, L"%i", language);
    section[9] = 0;
    wchar_t key[16];
    _snwprintf(key, 15, L"string%i", n);
    key[15] = 0;
    wchar_t buf[HPX_LOC_STRING_CHARS];
    buf[0] = 0;
    GetPrivateProfileStringW(section, key, L"", buf, HPX_LOC_STRING_CHARS, path);
    if (!buf[0])
    {
        CopyText(out, HPX_LOC_STRING_CHARS, english);
        return;
    }
    UnescapeLineBreaks(buf);
    CopyText(out, HPX_LOC_STRING_CHARS, buf);
}

void LoadLocalizedStrings()
{
    g_iHwAccel = ReadSettingInt(L"HW Accel", 0);
    g_iGpuCpuFusion = ReadSettingInt(L"GPUCPUFusion", 0);
    for (int n = 1; n <= HPX_LOC_STRING_COUNT; ++n)
        ReadLocalizedString(g_iLanguageCurrent, n, g_LocStrings.m_wcsText[n]);
}

// Texts are English until a language is loaded.
namespace
{
struct EnglishAtLoad
{
    EnglishAtLoad() { ResetLocalizedStrings(); }
} g_englishAtLoad;
}  // namespace
