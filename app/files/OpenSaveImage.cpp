#include "app/files/OpenSaveImage.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cwchar>
#include <exception>
#include <string>

#include "app/dialogs/JpegQuality.h"
#include "app/files/ImageFileNames.h"
#include "app/view/BackBuffer.h"
#include "app/window/MainWindow.h"
#include "imagefiles/ImageFile.h"
#include "plugin/files_ids.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"
#include "ui/CaughtExceptionTrace.h"

wchar_t g_wcsCurrentFile[1024] = L"";

namespace
{

const int kPathChars = 1024;

// Takes over the pixels of a record made by ReadImageFile (no copy of a 12 MP image) and frees
// the record itself.
void TakeImage(ImageBuffer* target, ImageBuffer* loaded)
{
    ReleaseImage(target);
    if (loaded)
    {
        *target = *loaded;
        delete loaded;
    }
}

bool ShowOpenDialog(HWND owner, wchar_t* path)
{
    wchar_t file[kPathChars] = L"";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"*.bmp;*.jpg;*.tif;*.png\0*.bmp;*.jpg;*.tif;*.png\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = kPathChars;
    ofn.lpstrTitle = g_LocStrings[kLocOpenTitle];
    ofn.Flags = OFN_EXPLORER | OFN_NOREADONLYRETURN | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!GetOpenFileNameW(&ofn)) return false;
    CopyText(path, kPathChars, file);
    return true;
}

// The dialog's own quality part: the trackbar and its number, enabled only for the JPEG type.
void ShowQuality(HWND hDlg, int quality)
{
    SendDlgItemMessageW(hDlg, IDC_SAVE_QUALITY, TBM_SETPOS, TRUE, quality);
    SetDlgItemInt(hDlg, IDC_SAVE_QUALITY_VALUE, UINT(quality), FALSE);
}

void EnableQualityPart(HWND hDlg)
{
    const LRESULT selection = SendDlgItemMessageW(GetParent(hDlg), IDC_FILEDLG_TYPE_COMBO, CB_GETCURSEL, 0, 0);
    const BOOL enable = selection == 3;
    for (int id : {IDC_SAVE_QUALITY, IDC_SAVE_QUALITY_LABEL, IDC_SAVE_QUALITY_PERCENT, IDC_SAVE_QUALITY_VALUE})
        EnableWindow(GetDlgItem(hDlg, id), enable);
}

// The type of an entry of the dialog's list (1-based): 8-bit results list BMP, TIFF, PNG, JPEG,
// 16-bit ones TIFF, PNG.
SaveType SaveTypeOfListIndex(DWORD index, int bits)
{
    if (bits <= 8) return index >= 1 && index <= 4 ? SaveType(index) : kSaveBmp;
    return index == 2 ? kSavePng : kSaveTiff;
}

// What the save dialog's hook works with: the quality part's value and the depth of the result,
// which decides the types a name can have.
struct SaveDialogData
{
    int quality;
    int bits;
};

// The default name of a save, "<current name>-denoised", and the type of the current name's
// extension (kSaveNone when it has none of the types the result can be saved as).
SaveType ProposeSaveName(const ImageBuffer& result, wchar_t* file)
{
    const wchar_t* slash = std::wcsrchr(g_wcsCurrentFile, L'\\');
    if (file[0] || !slash || !std::wcschr(slash + 1, L'.')) return kSaveNone;
    wchar_t name[kPathChars];
    CopyText(name, kPathChars, slash + 1);
    wchar_t* dot = std::wcsrchr(name, L'.');
    SaveType type = SaveTypeOfName(dot, result.m_iBits, false);
    if (type != kSaveNone && _wcsicmp(dot, SaveTypeExtension(type)) != 0) type = kSaveNone;
    *dot = 0;
    if (_snwprintf(file, kPathChars - 1, L"%ls-denoised", name) < 0) file[0] = 0;
    file[kPathChars - 1] = 0;
    return type;
}

// The name a save writes: the chosen one when it ends in one of the save types (*type becomes
// that type), else the chosen one with the extension of the type picked in the list (*type).
// False when the completed name does not fit.
bool NameToWrite(wchar_t* file, int bits, SaveType* type)
{
    const SaveType ofName = SaveTypeOfName(file, bits, false);
    if (ofName != kSaveNone)
    {
        *type = ofName;
        return true;
    }
    if (std::wcslen(file) + 4 >= size_t(kPathChars)) return false;
    std::wcscat(file, SaveTypeExtension(*type));
    return true;
}

// The dialog asked about the name as it was typed; when the save adds an extension to it, a
// file of the completed name is replaced only when the user says so. True: keep the dialog open.
bool RefuseCompletedName(HWND hDlg, const OPENFILENAMEW& ofn, int bits)
{
    if (!ofn.lpstrFile || SaveTypeOfName(ofn.lpstrFile, bits, false) != kSaveNone) return false;
    wchar_t file[kPathChars];
    CopyText(file, kPathChars, ofn.lpstrFile);
    SaveType type = SaveTypeOfListIndex(ofn.nFilterIndex, bits);
    if (!NameToWrite(file, bits, &type) || GetFileAttributesW(file) == INVALID_FILE_ATTRIBUTES) return false;
    const std::wstring question = std::wstring(file) + L"\n" + g_LocStrings[kLocReplaceFile];
    return MessageBoxW(GetParent(hDlg), question.c_str(), g_LocStrings[kLocSaveAsTitle], MB_YESNO | MB_ICONWARNING) !=
        IDYES;
}

// The save dialog; false when cancelled. On return file holds the chosen name and *type the
// type chosen in the list.
bool ShowSaveDialog(HWND owner, const ImageBuffer& result, wchar_t* file, SaveType* type, int* quality)
{
    const bool eightBit = result.m_iBits <= 8;
    SaveType proposed = ProposeSaveName(result, file);
    if (proposed == kSaveNone) proposed = eightBit ? kSaveBmp : kSaveTiff;
    SaveDialogData data{*quality, result.m_iBits};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.hInstance = GetPluginModule();
    ofn.lpstrFilter =
        eightBit ? L"*.bmp\0*.bmp\0*.tif\0*.tif\0*.png\0*.png\0*.jpg\0*.jpg\0" : L"*.tif\0*.tif\0*.png\0*.png\0";
    ofn.nFilterIndex = eightBit ? DWORD(proposed) : DWORD(proposed) - 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = kPathChars;
    ofn.lpstrTitle = g_LocStrings[kLocSaveAsTitle];
    // Always a default extension: a name typed without one then gets the chosen type's from the
    // dialog, which asks before replacing a file of that name (without one it checks the bare
    // name, and the extension added after the dialog would replace a file unasked).
    ofn.lpstrDefExt = SaveTypeExtension(proposed) + 1;
    ofn.Flags = OFN_ENABLESIZING | OFN_EXPLORER | OFN_NOREADONLYRETURN | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK |
        OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    ofn.lpTemplateName = MAKEINTRESOURCEW(IDD_SAVE_QUALITY);
    ofn.lpfnHook = SaveDialogHookProc;
    ofn.lCustData = reinterpret_cast<LPARAM>(&data);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    if (!GetSaveFileNameW(&ofn)) return false;
    *quality = data.quality;
    *type = SaveTypeOfListIndex(ofn.nFilterIndex, result.m_iBits);
    return true;
}

}  // namespace

bool CBackBuffer::OpenImageFile(wchar_t path[1024], bool quiet)
{
    if (!path) return true;
    if (!path[0] && !ShowOpenDialog(m_hWnd, path)) return true;
    ImageInfoStrings info;
    info.Clear();
    ImageBuffer* image = nullptr;
    ImageBuffer* alpha = nullptr;
    const bool failed = ReadImageFile(&info, &image, &alpha, path);
    const bool accepted = !failed && image && image->m_pData && (image->m_iChannels == 1 || image->m_iChannels == 3) &&
        (image->m_iBits == 8 || image->m_iBits == 16);
    if (!accepted)
    {
        DeleteImageRecord(image);
        DeleteImageRecord(alpha);
        if (!quiet) MessageBoxW(g_hMainWnd, g_LocStrings[kLocFormatNotSupported], nullptr, MB_OK);
        return true;
    }
    // Only an accepted file changes the document, its strings included.
    TakeImage(&m_Source, image);
    TakeImage(&m_Alpha, alpha);
    m_Info = info;
    CopyText(g_wcsCurrentFile, kPathChars, path);
    return false;
}

bool CBackBuffer::SaveImageFile(wchar_t outPath[1024], const wchar_t* metadataSource)
{
    if (!m_Result.m_pData) return true;
    // A given path is written as it is (the batch); only an empty one asks the user.
    const bool quiet = outPath && outPath[0];
    wchar_t file[kPathChars] = L"";
    int quality = ReadSettingInt(L"jpeg", 85);
    // Without a type in the name: the type picked in the dialog's list, the first one for a path given.
    SaveType type = m_Result.m_iBits <= 8 ? kSaveBmp : kSaveTiff;
    bool failed;
    if (quiet)
    {
        CopyText(file, kPathChars, outPath);
        // The batch keeps its source's name: "a.jpeg" stays a JPEG file of that name.
        const SaveType ofName = SaveTypeOfName(file, m_Result.m_iBits, true);
        if (ofName != kSaveNone) type = ofName;
        failed = ofName == kSaveNone && !NameToWrite(file, m_Result.m_iBits, &type);
    }
    else
    {
        if (!ShowSaveDialog(m_hWnd, m_Result, file, &type, &quality)) return true;
        failed = !NameToWrite(file, m_Result.m_iBits, &type);
    }
    if (!failed)
    {
        try
        {
            // JPEG holds no transparency (and FreeImage's writer refuses a 32-bit bitmap).
            const ImageBuffer* alpha = type == kSaveJpeg ? nullptr : &m_Alpha;
            failed = WriteImageFile(&m_Result, alpha, file, quality, metadataSource ? metadataSource : L"",
                                    SaveTypeFormat(type));
        }
        catch (...)
        {
            // An unusable metadata source (a GIF, a file removed since) or a format that cannot
            // be written: nothing was written.
            TraceCaughtException("CBackBuffer::SaveImageFile");
            failed = true;
        }
    }
    if (failed)
    {
        if (!quiet)
            MessageBoxW(g_hMainWnd, g_LocStrings[kLocCannotSaveImage], g_LocStrings[kLocWarning],
                        MB_OK | MB_ICONWARNING);
        return true;
    }
    if (outPath) CopyText(outPath, kPathChars, file);
    if (!quiet)
    {
        wchar_t text[16];
        _snwprintf(text, 15, L"%u", unsigned(quality));
        text[15] = 0;
        WriteSettingString(L"jpeg", text);
    }
    return false;
}

UINT_PTR CALLBACK SaveDialogHookProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try
    {
        switch (msg)
        {
        case WM_INITDIALOG:
        {
            const OPENFILENAMEW* ofn = reinterpret_cast<const OPENFILENAMEW*>(lParam);
            SaveDialogData* data = ofn ? reinterpret_cast<SaveDialogData*>(ofn->lCustData) : nullptr;
            SetWindowLongPtrW(hDlg, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
            if (data) data->quality = ClampJpegQuality(data->quality);
            SendDlgItemMessageW(hDlg, IDC_SAVE_QUALITY, TBM_SETRANGE, TRUE,
                                MAKELPARAM(kMinJpegQuality, kMaxJpegQuality));
            SendDlgItemMessageW(hDlg, IDC_SAVE_QUALITY, TBM_SETPAGESIZE, 0, 0);
            ShowQuality(hDlg, data ? data->quality : 85);
            SetDlgItemTextW(hDlg, IDC_SAVE_QUALITY_LABEL, g_LocStrings[kLocJpegQuality]);
            break;
        }
        case WM_NOTIFY:
        {
            EnableQualityPart(hDlg);
            const OFNOTIFYW* note = reinterpret_cast<const OFNOTIFYW*>(lParam);
            const SaveDialogData* data = reinterpret_cast<SaveDialogData*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA));
            if (note && note->hdr.code == CDN_FILEOK && note->lpOFN && data &&
                RefuseCompletedName(hDlg, *note->lpOFN, data->bits))
            {
                SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, 1);
                return 1;
            }
            break;
        }
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == GetDlgItem(hDlg, IDC_SAVE_QUALITY))
            {
                const int pos = JpegQualityAfterScroll(GetDlgItem(hDlg, IDC_SAVE_QUALITY), wParam);
                ShowQuality(hDlg, pos);
                if (auto* data = reinterpret_cast<SaveDialogData*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA)))
                    data->quality = pos;
            }
            break;
        }
    }
    catch (...)
    {
        // Nothing may unwind through the common dialog.
        TraceCaughtException("SaveDialogHookProc");
    }
    return 0;
}
