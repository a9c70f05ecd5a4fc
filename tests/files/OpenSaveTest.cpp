// Open and save of the document as a user does them: the real open and save dialogs, the name
// typed, the type chosen, the quality slider moved, Open or Save pressed.
#include "BatchTestSupport.h"

#include <commctrl.h>

#include "app/files/OpenSaveImage.h"
#include "app/view/BackBuffer.h"
#include "imagefiles/ImageFile.h"
#include "plugin/files_ids.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"

using namespace batchtest;
using proftest::DriveDialog;
using proftest::Exists;
using proftest::ReadBytes;
using proftest::WaitForDialog;
using proftest::WindowText;
using proftest::WriteBytes;

namespace
{

// The edit inside a control, however deep (the file-name box nests it in two combo boxes).
HWND InnerEdit(HWND control)
{
    wchar_t cls[32];
    GetClassNameW(control, cls, 32);
    if (_wcsicmp(cls, L"Edit") == 0) return control;
    for (HWND child = FindWindowExW(control, nullptr, nullptr, nullptr); child;
         child = FindWindowExW(control, child, nullptr, nullptr))
        if (HWND edit = InnerEdit(child)) return edit;
    return nullptr;
}

// The file-name field of an Explorer-style file dialog.
HWND FileNameEdit(HWND dlg)
{
    HWND field = GetDlgItem(dlg, 1148);
    return InnerEdit(field ? field : GetDlgItem(dlg, 1152));
}

// The quality part: the child dialog of our template inside the file dialog.
HWND QualityPart(HWND dlg)
{
    for (HWND child = FindWindowExW(dlg, nullptr, L"#32770", nullptr); child;
         child = FindWindowExW(dlg, child, L"#32770", nullptr))
        if (GetDlgItem(child, IDC_SAVE_QUALITY)) return child;
    return nullptr;
}

bool QualityEnabled(HWND dlg)
{
    HWND part = QualityPart(dlg);
    return part && IsWindowEnabled(GetDlgItem(part, IDC_SAVE_QUALITY)) &&
        IsWindowEnabled(GetDlgItem(part, IDC_SAVE_QUALITY_VALUE));
}

void ChooseType(HWND dlg, int index)
{
    HWND combo = GetDlgItem(dlg, IDC_FILEDLG_TYPE_COMBO);
    SendMessageW(combo, CB_SETCURSEL, WPARAM(index), 0);
    // As a pick from the drop-down list reports it.
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_FILEDLG_TYPE_COMBO, CBN_SELCHANGE), LPARAM(combo));
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_FILEDLG_TYPE_COMBO, CBN_SELENDOK), LPARAM(combo));
}

bool WaitForClosed(HWND box)
{
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < 10000; Sleep(20))
        if (!IsWindow(box) || !IsWindowVisible(box)) return true;
    return false;
}

// Types the name and presses the dialog's OK button (Open or Save).
void TypeNameAndPress(HWND dlg, const std::wstring& name)
{
    SendMessageW(FileNameEdit(dlg), WM_SETTEXT, 0, LPARAM(name.c_str()));
    PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
}

// Types the name, presses OK, and answers the message box that follows (OK, or Yes / No when it
// asks); returns its text, empty when none came.
std::wstring TypeNameAndReadMessage(HWND dlg, const std::wstring& name, int answer = IDOK)
{
    TypeNameAndPress(dlg, name);
    HWND box = WaitForDialog(GetWindowThreadProcessId(dlg, nullptr), dlg, 10000);
    if (!box) return L"";
    wchar_t text[512] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 512);
    PostMessageW(box, WM_COMMAND, WPARAM(answer), 0);
    WaitForClosed(box);
    return text;
}

}  // namespace

class OpenSave : public BatchFolders
{
protected:
    void SetUp() override
    {
        BatchFolders::SetUp();
        ResetLocalizedStrings();
        m_doc = CBackBuffer{};
        g_wcsCurrentFile[0] = 0;
    }
    void TearDown() override
    {
        ReleaseImage(&m_doc.m_Source);
        ReleaseImage(&m_doc.m_Result);
        ReleaseImage(&m_doc.m_Alpha);
        g_wcsCurrentFile[0] = 0;
        BatchFolders::TearDown();
    }
    // Opens a file quietly and makes the result a copy of the source, as the open command does.
    void OpenAsDocument(const std::wstring& path)
    {
        wchar_t buffer[1024];
        wcscpy(buffer, path.c_str());
        ASSERT_FALSE(m_doc.OpenImageFile(buffer, true));
        ASSERT_EQ(CopyImageLayout(&m_doc.m_Result, &m_doc.m_Source), kImageOk);
        CopyImagePixels(&m_doc.m_Result, &m_doc.m_Source);
    }
    CBackBuffer m_doc;
};

TEST_F(OpenSave, OpenThroughTheDialogAndAnUnsupportedFileLeavesTheDocument)
{
    ASSERT_TRUE(WriteTestImage(Path(L"photo.jpg"), 48, 32));
    WriteBytes(Path(L"fake.png"), "not a picture at all");
    wchar_t path[1024] = L"";
    std::wstring title;
    bool timedOut = false;
    DriveDialog([&] { return INT_PTR(m_doc.OpenImageFile(path, false)); },
                [&](HWND dlg)
                {
                    title = WindowText(dlg);
                    TypeNameAndPress(dlg, Path(L"photo.jpg"));
                },
                &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(title, L"Open...");
    EXPECT_EQ(std::wstring(path), Path(L"photo.jpg"));
    EXPECT_EQ(m_doc.m_Source.m_iWidth, 48);
    EXPECT_STREQ(g_wcsCurrentFile, Path(L"photo.jpg").c_str());
    wcscpy(m_doc.m_Info[ImageInfoStrings::kMake], L"Kept");

    // The refused file: the message, and nothing of the document changes.
    std::wstring box;
    path[0] = 0;
    const INT_PTR failed =
        DriveDialog([&] { return INT_PTR(m_doc.OpenImageFile(path, false)); },
                    [&](HWND dlg) { box = TypeNameAndReadMessage(dlg, Path(L"fake.png")); }, &timedOut);
    EXPECT_TRUE(failed);
    EXPECT_EQ(box, L"Image format not supported!");
    EXPECT_EQ(m_doc.m_Source.m_iWidth, 48);
    EXPECT_STREQ(m_doc.m_Info[ImageInfoStrings::kMake], L"Kept");
    EXPECT_STREQ(g_wcsCurrentFile, Path(L"photo.jpg").c_str());
}

TEST_F(OpenSave, SaveProposesTheDenoisedNameAndTypeAndStoresTheQualityChosen)
{
    ASSERT_TRUE(WriteTestImage(Path(L"photo.jpg"), 48, 32));
    OpenAsDocument(Path(L"photo.jpg"));
    WriteSettingInt(L"jpeg", 85);
    struct
    {
        std::wstring title, name, shot;
        LRESULT type = -1, types = 0;
        bool jpegEnabled = false, pngEnabled = true;
        std::wstring quality;
    } seen;
    wchar_t out[1024] = L"";
    bool timedOut = false;
    DriveDialog([&] { return INT_PTR(m_doc.SaveImageFile(out, L"")); },
                [&](HWND dlg)
                {
                    seen.title = WindowText(dlg);
                    seen.name = WindowText(FileNameEdit(dlg));
                    seen.type = SendDlgItemMessageW(dlg, IDC_FILEDLG_TYPE_COMBO, CB_GETCURSEL, 0, 0);
                    seen.types = SendDlgItemMessageW(dlg, IDC_FILEDLG_TYPE_COMBO, CB_GETCOUNT, 0, 0);
                    seen.jpegEnabled = QualityEnabled(dlg);
                    HWND part = QualityPart(dlg);
                    seen.quality = proftest::ItemText(part, IDC_SAVE_QUALITY_VALUE);
                    seen.shot = proftest::SaveScreenshot(dlg, L"save_dialog_156");
                    ChooseType(dlg, 2);
                    seen.pngEnabled = QualityEnabled(dlg);
                    ChooseType(dlg, 3);
                    // The slider dragged to 60.
                    HWND bar = GetDlgItem(part, IDC_SAVE_QUALITY);
                    SendMessageW(bar, TBM_SETPOS, TRUE, 60);
                    SendMessageW(part, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 60), LPARAM(bar));
                    TypeNameAndPress(dlg, Path(L"out.jpeg"));
                },
                &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(seen.title, L"Save As...");
    EXPECT_EQ(seen.name, L"photo-denoised");
    EXPECT_EQ(seen.types, 4);
    EXPECT_EQ(seen.type, 3);
    EXPECT_EQ(seen.quality, L"85");
    EXPECT_TRUE(seen.jpegEnabled);
    EXPECT_FALSE(seen.pngEnabled);
    EXPECT_FALSE(seen.shot.empty());
    // "out.jpeg" with the JPEG type: the type's extension is added.
    EXPECT_EQ(std::wstring(out), Path(L"out.jpeg.jpg"));
    EXPECT_EQ(ReadBytes(Path(L"out.jpeg.jpg")).substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(ReadSettingInt(L"jpeg", 0), 60);
}

TEST_F(OpenSave, SixteenBitResultSavedAsTiffGetsItsExtensionAndFailedSavesAreTold)
{
    ASSERT_TRUE(WriteTestImage(Path(L"deep.png"), 40, 30, 3, 16));
    OpenAsDocument(Path(L"deep.png"));
    LRESULT types = 0;
    bool qualityEnabled = true, timedOut = false;
    wchar_t out[1024] = L"";
    DriveDialog([&] { return INT_PTR(m_doc.SaveImageFile(out, L"")); },
                [&](HWND dlg)
                {
                    types = SendDlgItemMessageW(dlg, IDC_FILEDLG_TYPE_COMBO, CB_GETCOUNT, 0, 0);
                    ChooseType(dlg, 0);
                    qualityEnabled = QualityEnabled(dlg);
                    TypeNameAndPress(dlg, Path(L"deep16"));
                },
                &timedOut);
    EXPECT_EQ(types, 2);
    EXPECT_FALSE(qualityEnabled);
    EXPECT_EQ(std::wstring(out), Path(L"deep16.tif"));
    EXPECT_EQ(ReadFacts(out).bits, 16);

    // A GIF as the metadata source cannot be used: the user hears the file was not written.
    WriteBytes(Path(L"old.gif"), "GIF89a");
    std::wstring box;
    out[0] = 0;
    const INT_PTR failed =
        DriveDialog([&] { return INT_PTR(m_doc.SaveImageFile(out, Path(L"old.gif").c_str())); },
                    [&](HWND dlg) { box = TypeNameAndReadMessage(dlg, Path(L"new.png")); }, &timedOut);
    EXPECT_TRUE(failed);
    EXPECT_EQ(box, L"Cannot save the image file.");
    EXPECT_FALSE(Exists(Path(L"new.png")));
    EXPECT_FALSE(Exists(Path(L"new.png.hpx-partial")));
}

// A name typed without extension (the host image has no name to propose) or with one that is
// none of the types gets the chosen type's: a file of the completed name is never replaced
// unasked. No keeps the dialog open.
TEST_F(OpenSave, SaveAsksBeforeReplacingAFileWhoseNameTheTypeCompletes)
{
    ASSERT_TRUE(WriteTestImage(Path(L"a.png"), 32, 24));
    OpenAsDocument(Path(L"a.png"));
    g_wcsCurrentFile[0] = 0;  // as the host image
    WriteBytes(Path(L"IMG_0001.jpg"), "an earlier photo");
    WriteBytes(Path(L"old.jpeg.jpg"), "an earlier photo");
    std::wstring bare, other;
    bool stillOpen = false, timedOut = false;
    wchar_t out[1024] = L"";
    const INT_PTR cancelled = DriveDialog([&] { return INT_PTR(m_doc.SaveImageFile(out, L"")); },
                                          [&](HWND dlg)
                                          {
                                              ChooseType(dlg, 3);
                                              bare = TypeNameAndReadMessage(dlg, Path(L"IMG_0001"), IDNO);
                                              other = TypeNameAndReadMessage(dlg, Path(L"old.jpeg"), IDNO);
                                              stillOpen = IsWindowVisible(dlg) != FALSE;
                                              PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                                          },
                                          &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(cancelled);
    EXPECT_NE(bare, L"") << "IMG_0001.jpg was replaced unasked";
    EXPECT_NE(other.find(L"old.jpeg.jpg"), std::wstring::npos) << "old.jpeg.jpg was replaced unasked";
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(ReadBytes(Path(L"IMG_0001.jpg")), "an earlier photo");
    EXPECT_EQ(ReadBytes(Path(L"old.jpeg.jpg")), "an earlier photo");
}

TEST_F(OpenSave, QuietSaveWritesTheGivenPathAndJpegLeavesTheAlphaOut)
{
    ASSERT_TRUE(WriteTestImage(Path(L"a.png"), 32, 32));
    OpenAsDocument(Path(L"a.png"));
    ASSERT_EQ(CreateImage(&m_doc.m_Alpha, 32, 32, 1, 8), kImageOk);
    FillImageBytes(&m_doc.m_Alpha, 200);
    wchar_t out[1024];
    wcscpy(out, Path(L"with-alpha.jpg").c_str());
    EXPECT_FALSE(m_doc.SaveImageFile(out, L""));
    EXPECT_EQ(ReadBytes(Path(L"with-alpha.jpg")).substr(0, 2), "\xFF\xD8");
    wcscpy(out, Path(L"with-alpha.png").c_str());
    EXPECT_FALSE(m_doc.SaveImageFile(out, Path(L"a.png").c_str()));
    EXPECT_TRUE(ReadFacts(out).alpha);
}
