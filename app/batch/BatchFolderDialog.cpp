#include "app/batch/BatchCommand.h"

#include <shlobj.h>

#include "profiles/Localisation.h"

namespace
{

int CALLBACK BrowseCallback(HWND hWnd, UINT msg, LPARAM, LPARAM data)
{
    if (msg == BFFM_INITIALIZED && data && reinterpret_cast<const wchar_t*>(data)[0])
        SendMessageW(hWnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

}  // namespace

bool BrowseForBatchFolder(HWND owner, const wchar_t* initial, wchar_t folder[1024])
{
    folder[0] = 0;
    BROWSEINFOW bi{};
    bi.hwndOwner = owner;
    bi.lpszTitle = g_LocStrings[kLocSelectFolderToDenoise];
    // Only folders of the file system: "This PC" or "Libraries" have no path to walk.
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(initial);
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi);
    if (!pidl) return false;
    const BOOL got = SHGetPathFromIDListW(pidl, folder);
    CoTaskMemFree(pidl);
    if (!got) folder[0] = 0;
    return folder[0] != 0;
}
