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

// What Ctrl+O and stepping do once a file is in m_Source: the path is the document's, the result
// starts as a copy of the source, the view fits it.
bool ShowOpenedFile(HWND hWnd, const wchar_t* path)
{
    CBackBuffer& doc = g_BackBuffer;
    if (CopyImageLayout(&doc.m_Result, &doc.m_Source) != kImageOk) return false;
    CopyImagePixels(&doc.m_Result, &doc.m_Source);
    g_bDocumentIsHostImage = false;
    CopyText(g_wszImagePath, kPathChars, path);
    SetDocumentTitle(hWnd, path);
    SetStatusText(g_LocStrings[kLocViewDragHint]);
    ClearMouseState();
    FitView(true);
    SetZoomBoxText();
    SetFocus(hWnd);
    RedrawView(kViewDenoised, false);
    g_PreviewView.RefreshCopy(kViewOriginal, &doc.m_Source);
    SendMessageW(hWnd, WM_PAINT, 0, 0);
    return true;
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
    if (g_BackBuffer.OpenImageFile(path, false)) return;
    if (!ShowOpenedFile(hWnd, path)) return;
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
    // stepping never sticks at it. The last try is the current file itself.
    for (int i = 1; i <= n; ++i)
    {
        const int t = forward ? (k + i) % n : ((k - i) % n + n) % n;
        wchar_t path[kPathChars];
        if (_snwprintf(path, kPathChars, L"%ls%ls", folder, names[size_t(t)].c_str()) < 0) continue;
        path[kPathChars - 1] = 0;
        if (g_BackBuffer.OpenImageFile(path, true)) continue;
        if (!ShowOpenedFile(hWnd, path)) return;
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
