#include "app/files/FileCommands.h"

#include <cwchar>

#include "app/batch/BatchCommand.h"
#include "app/files/ImageFileNames.h"
#include "app/files/OpenSaveImage.h"
#include "app/view/BackBuffer.h"
#include "app/view/PreviewView.h"
#include "app/window/MainWindow.h"
#include "app/window/ViewNavigation.h"
#include "app/window/WindowMessages.h"
#include "plugin/panel_ids.h"
#include "profiles/CameraIsoHelpers.h"
#include "profiles/Localisation.h"

namespace
{

const int kPathChars = 1024;

LPARAM DockerLeftEdge()
{
    RECT r{};
    if (g_hDockerWnd) GetWindowRect(g_hDockerWnd, &r);
    return r.left;
}

// How an open into the document ended.
enum class Opened
{
    kYes,
    kUnreadable,  // not an image the document takes (the message, unless quiet, is shown)
    kNoMemory     // no room for the result beside it: the user has been told
};

// Opens the file into the document only when the document can take all of it (source, alpha and
// a result to work on): otherwise the document stays as it was, its finished result included.
Opened OpenIntoDocument(wchar_t* path, bool quiet)
{
    CBackBuffer incoming{};
    incoming.m_hWnd = g_BackBuffer.m_hWnd;  // the owner of the open dialog
    wchar_t current[kPathChars];
    CopyText(current, kPathChars, g_wcsCurrentFile);
    if (incoming.OpenImageFile(path, quiet)) return Opened::kUnreadable;
    CBackBuffer& doc = g_BackBuffer;
    if (CopyImageLayout(&incoming.m_Result, &incoming.m_Source) != kImageOk)
    {
        ReleaseImage(&incoming.m_Source);
        ReleaseImage(&incoming.m_Alpha);
        CopyText(g_wcsCurrentFile, kPathChars, current);
        ShowLocalizedMessage(kLocNotEnoughMemory, kLocWarning, MB_OK | MB_ICONWARNING);
        return Opened::kNoMemory;
    }
    CopyImagePixels(&incoming.m_Result, &incoming.m_Source);
    for (ImageBuffer CBackBuffer::*image : {&CBackBuffer::m_Source, &CBackBuffer::m_Result, &CBackBuffer::m_Alpha})
    {
        ReleaseImage(&(doc.*image));
        doc.*image = incoming.*image;
    }
    doc.m_Info = incoming.m_Info;
    g_bDocumentIsHostImage = false;
    return Opened::kYes;
}

// What Ctrl+O and stepping show once a file is the document: its path, the view fitted to it.
void ShowOpenedFile(HWND hWnd, const wchar_t* path)
{
    CopyText(g_wszImagePath, kPathChars, path);
    SetDocumentTitle(hWnd, path);
    SetStatusText(g_LocStrings[kLocViewDragHint]);
    ClearMouseState();
    FitView(true);
    SetZoomBoxText();
    SetFocus(hWnd);
    RedrawView(kViewDenoised, false);
    g_PreviewView.RefreshCopy(kViewOriginal, &g_BackBuffer.m_Source);
    SendMessageW(hWnd, WM_PAINT, 0, 0);
}

}  // namespace

void SetDocumentTitle(HWND hWnd, const wchar_t* path)
{
    wchar_t title[kPathChars + 16];
    _snwprintf(title, kPathChars + 15, L"Hushpix - %ls", path);
    title[kPathChars + 15] = 0;
    SetWindowTextW(hWnd, title);
}

int ListFolderImages(const wchar_t* folder, const wchar_t* currentName, std::vector<std::wstring>* names, int* current)
{
    if (current) *current = 0;
    wchar_t pattern[kPathChars];
    if (_snwprintf(pattern, kPathChars, L"%ls*.*", folder) < 0) return 0;
    pattern[kPathChars - 1] = 0;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(pattern, &fd);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        if (std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0) continue;
        if (!HasImageFileExtension(fd.cFileName)) continue;
        if (current && currentName && _wcsicmp(fd.cFileName, currentName) == 0) *current = count;
        if (names) names->push_back(fd.cFileName);
        ++count;
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return count;
}

void OnFileOpenCommand(HWND hWnd)
{
    if (IsBatchActive()) return;
    wchar_t path[kPathChars] = L"";
    if (OpenIntoDocument(path, false) != Opened::kYes) return;
    ShowOpenedFile(hWnd, path);
    EnableWindow(g_hZoomBox, TRUE);
    // The panel starts over on the new image (noise estimate, profile, preview; editing state).
    if (g_hPanelDlg) SendMessageW(g_hPanelDlg, WM_HPX_IMAGE_LOADED, WPARAM(DockerLeftEdge()), 0);
}

void OnStepImageCommand(HWND hWnd, bool forward)
{
    if (IsBatchActive()) return;
    const wchar_t* slash = std::wcsrchr(g_wcsCurrentFile, L'\\');
    if (!g_wcsCurrentFile[0] || !slash) return;
    wchar_t folder[kPathChars];
    CopyText(folder, kPathChars, g_wcsCurrentFile);
    folder[slash - g_wcsCurrentFile + 1] = 0;
    std::vector<std::wstring> names;
    int k = 0;
    const int n = ListFolderImages(folder, slash + 1, &names, &k);
    if (n == 0) return;
    // Cyclic; an entry that does not open (a colour GIF between two photos) is passed over, so
    // stepping never sticks at it. The current file itself is opened again only when it is the
    // folder's one image: reopening it would drop the result the window holds.
    const bool currentListed = _wcsicmp(names[size_t(k)].c_str(), slash + 1) == 0;
    const int tries = currentListed && n > 1 ? n - 1 : n;
    for (int i = 1; i <= tries; ++i)
    {
        const int t = forward ? (k + i) % n : ((k - i) % n + n) % n;
        wchar_t path[kPathChars];
        if (_snwprintf(path, kPathChars, L"%ls%ls", folder, names[size_t(t)].c_str()) < 0) continue;
        path[kPathChars - 1] = 0;
        const Opened opened = OpenIntoDocument(path, true);
        if (opened == Opened::kUnreadable) continue;
        if (opened == Opened::kNoMemory) return;
        ShowOpenedFile(hWnd, path);
        // A finished run's state belonged to the previous photo: back to editing, keeping the
        // profile (the panel otherwise keeps its state and rectangle when stepping).
        if (g_iPanelState == kPanelStateFinished)
        {
            if (g_hPanelDlg)
                SendMessageW(g_hPanelDlg, WM_HPX_IMAGE_LOADED, WPARAM(DockerLeftEdge()), 1);
            else
                g_iPanelState = 0;
        }
        return;
    }
    MessageBoxW(g_hMainWnd, g_LocStrings[kLocFormatNotSupported], nullptr, MB_OK);
}

void OnFileSaveCommand(HWND hWnd)
{
    if (IsBatchActive()) return;
    wchar_t path[kPathChars] = L"";
    if (!g_BackBuffer.SaveImageFile(path, g_wszImagePath)) SetDocumentTitle(hWnd, path);
    SendMessageW(hWnd, WM_PAINT, 0, 0);
}

void OnFileCloseCommand(HWND hWnd)
{
    SetStatusText(g_LocStrings[kLocOpenImageHint]);
    SetWindowTextW(hWnd, L"Hushpix");
    g_PreviewView.SetQuality(0);
    ReleaseImage(&g_BackBuffer.m_Source);
    ReleaseImage(&g_BackBuffer.m_Result);
    ReleaseImage(&g_BackBuffer.m_Alpha);
    g_PreviewView.ReleaseCopies();
    RedrawView(0, false);  // background only
    SendMessageW(hWnd, WM_PAINT, 0, 0);
    SetClassLongPtrW(hWnd, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)));
    EnableWindow(g_hZoomBox, FALSE);
    if (g_hPanelDlg) EnableWindow(GetDlgItem(g_hPanelDlg, IDC_PANEL_DENOISE), FALSE);
}
