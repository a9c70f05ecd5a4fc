// The batch's folder dialog as a user answers it: OK on the folder chosen last time, and a
// virtual folder ("My Computer") that has no path to walk.
#include "BatchTestSupport.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/batch/BatchCommand.h"
#include "profiles/Localisation.h"

using namespace batchtest;
using proftest::DriveDialog;

namespace
{

HWND FindTree(HWND dlg) { return FindWindowExW(dlg, nullptr, WC_TREEVIEWW, nullptr); }

std::wstring ItemText(HWND tree, HTREEITEM item)
{
    wchar_t text[260] = L"";
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = 260;
    SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&tv));
    return text;
}

}  // namespace

class BatchFolderDialog : public BatchFolders
{
protected:
    void SetUp() override
    {
        BatchFolders::SetUp();
        ResetLocalizedStrings();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_owner = proftest::CreateOwnerWindow();
    }
    void TearDown() override
    {
        DestroyWindow(m_owner);
        CoUninitialize();
        BatchFolders::TearDown();
    }
    HWND m_owner = nullptr;
};

TEST_F(BatchFolderDialog, OkTakesTheLastFolderAndAFolderWithoutAPathGivesNone)
{
    // A folder near the top of the dialog's tree (Wine's dialog does not get down to the
    // temporary folder, nor deep into a folder tree, in the time a person waits).
    const std::wstring chosenBefore = L"C:\\browse-me";
    CreateDirectoryW(chosenBefore.c_str(), nullptr);
    wchar_t folder[1024] = L"x";
    std::wstring title, shot;
    bool timedOut = false;
    const INT_PTR chosen =
        DriveDialog([&] { return INT_PTR(BrowseForBatchFolder(m_owner, chosenBefore.c_str(), folder)); },
                    [&](HWND dlg)
                    {
                        title = proftest::WindowText(dlg);
                        // The person waits until the tree shows the folder.
                        HWND tree = FindTree(dlg);
                        WaitUntil(
                            [&]
                            {
                                HTREEITEM sel = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
                                return sel && ItemText(tree, sel) == L"browse-me";
                            });
                        shot = proftest::SaveScreenshot(dlg, L"batch_folder_dialog");
                        PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
                    },
                    &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(std::wstring(folder), chosenBefore);
    RemoveDirectoryW(chosenBefore.c_str());
    EXPECT_FALSE(shot.empty());

    // "My Computer" picked in the tree, then OK (or Cancel, when OK is not offered).
    std::wstring picked;
    const INT_PTR virtualChosen =
        DriveDialog([&] { return INT_PTR(BrowseForBatchFolder(m_owner, L"", folder)); },
                    [&](HWND dlg)
                    {
                        HWND tree = FindTree(dlg);
                        HTREEITEM root = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
                        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, LPARAM(root));
                        for (HTREEITEM item = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(root)));
                             item; item = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(item))))
                        {
                            const std::wstring text = ItemText(tree, item);
                            if (text == L"My Computer" || text == L"This PC")
                            {
                                picked = text;
                                SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(item));
                                break;
                            }
                        }
                        // The selection is made once the tree answers; OK is offered only for a
                        // folder with a path, else the person cancels.
                        if (IsWindowEnabled(GetDlgItem(dlg, IDOK)))
                            PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
                        else
                            PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                    },
                    &timedOut);
    EXPECT_FALSE(picked.empty());
    EXPECT_FALSE(virtualChosen);
    EXPECT_STREQ(folder, L"");
}
