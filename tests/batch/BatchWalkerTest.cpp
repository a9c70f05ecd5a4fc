// The batch walker on real folder trees: what is written where, what is passed over, what is
// counted, which profile entry an image gets, and the HPXCmd road through a stand-in program.
#include "BatchTestSupport.h"

#include <sstream>
#include <thread>

#include "app/batch/BatchDenoiseFolder.h"
#include "app/dialogs/BatchOptionsDialog.h"
#include "app/window/MainWindow.h"
#include "imagefiles/ImageFile.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Settings.h"

using namespace batchtest;
using proftest::Exists;
using proftest::ReadBytes;
using proftest::WriteBytes;

namespace
{

std::wstring StandInPath()
{
    std::wstring path = proftest::Widen(HPX_HPXCMD_STANDIN);
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;  // a Unix path seen through Wine
    return path;
}

ImageInfoStrings Info(const wchar_t* make, const wchar_t* model, const wchar_t* iso)
{
    ImageInfoStrings info;
    info.Clear();
    wcscpy(info[ImageInfoStrings::kMake], make);
    wcscpy(info[ImageInfoStrings::kModel], model);
    wcscpy(info[ImageInfoStrings::kIso], iso);
    return info;
}

IsoSettings Entry(double strength)
{
    IsoSettings s = DefaultIsoSettings();
    s.m_dStrength = strength;
    return s;
}

}  // namespace

class BatchWalker : public BatchFolders
{
};

TEST_F(BatchWalker, TreeGoesIntoDenoisedFoldersAndASecondRunSkipsThem)
{
    ASSERT_TRUE(WriteTestImage(Path(L"a.jpg"), 64, 48));
    MakeFolder(L"x");
    ASSERT_TRUE(WriteTestImage(Path(L"x\\b.png"), 40, 40, 1));
    ASSERT_TRUE(WriteTestImage(Path(L"t.png"), 15, 200));  // too narrow: counted, not written
    WriteBytes(Path(L"notes.txt"), "not an image");
    MakeFolder(L"Denoised");  // an output folder in another case: never walked
    ASSERT_TRUE(WriteTestImage(Path(L"Denoised\\c.jpg"), 32, 32));

    EXPECT_EQ(CountImageFiles(Tree().c_str()), 3);
    EXPECT_EQ(RunWalker(), 3);
    EXPECT_EQ(ImageSize(Path(L"denoised\\a.jpg")), std::make_pair(64, 48));
    EXPECT_EQ(ImageSize(Path(L"x\\denoised\\b.png")), std::make_pair(40, 40));
    EXPECT_FALSE(Exists(Path(L"denoised\\t.png")));
    EXPECT_FALSE(Exists(Path(L"denoised\\notes.txt")));
    EXPECT_FALSE(Exists(Path(L"Denoised\\denoised")));

    // The outputs of the first run are neither counted nor walked again.
    EXPECT_EQ(CountImageFiles(Tree().c_str()), 3);
    EXPECT_EQ(RunWalker(), 3);
    EXPECT_FALSE(Exists(Path(L"denoised\\denoised")));
    EXPECT_FALSE(Exists(Path(L"x\\denoised\\denoised")));
}

TEST_F(BatchWalker, ReadOnlySubFolderIsNotDescended)
{
    // top.png and ro\d.png are both 13 x 13: each one walked would count, none is written.
    std::wstring tree = proftest::Widen(HPX_READONLY_TREE);
    if (!tree.empty() && tree[0] == L'/') tree = L"Z:" + tree;
    const DWORD attributes = GetFileAttributesW((tree + L"\\ro").c_str());
    ASSERT_EQ(attributes, DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(CountImageFiles(tree.c_str()), 1);
    EXPECT_EQ(RunWalker(tree), 1);
    EXPECT_FALSE(Exists(tree + L"\\denoised"));
}

TEST_F(BatchWalker, NamesAndDepthsAreKeptAndUnreadableFilesPassedOver)
{
    ASSERT_TRUE(WriteTestImage(Path(L"p.jpeg"), 32, 32));
    ASSERT_TRUE(WriteTestImage(Path(L"q.tiff"), 32, 24, 3, 16));
    WriteBytes(Path(L"broken.jpg"), std::string("\xFF\xD8\xFF\xE0 truncated", 15));
    MakeFolder(L"\x0424\x043E\x0442\x043E");  // "Фото"
    ASSERT_TRUE(WriteTestImage(Path(L"\x0424\x043E\x0442\x043E\\\x0141\x00F3\x0064\x017A.jpg"), 32, 32));

    EXPECT_EQ(RunWalker(), 3);  // the broken file is not counted
    EXPECT_EQ(ReadBytes(Path(L"denoised\\p.jpeg")).substr(0, 2), "\xFF\xD8");
    EXPECT_FALSE(Exists(Path(L"denoised\\p.jpeg.bmp")));
    EXPECT_EQ(ReadFacts(Path(L"denoised\\q.tiff")).bits, 16);
    EXPECT_TRUE(Exists(Path(L"\x0424\x043E\x0442\x043E\\denoised\\\x0141\x00F3\x0064\x017A.jpg")));
    EXPECT_FALSE(Exists(Path(L"denoised\\broken.jpg")));
}

TEST_F(BatchWalker, ProfileIsTheCamerasEntryOfTheIsoElseUnknownCamerasElseTheDefault)
{
    CameraIsoTable table;
    table.Load();  // nothing on disk: the default profile, "<<Unknown Camera>>" at ISO 100
    IsoSettings e200 = Entry(2), e400 = Entry(4), e800 = Entry(8), eEmpty = Entry(9);
    ASSERT_FALSE(table.AddOrUpdate(HPX_UNKNOWN_CAMERA, L"200", &e200));
    ASSERT_FALSE(table.AddOrUpdate(HPX_UNKNOWN_CAMERA, L"400", &e400));
    ASSERT_FALSE(table.AddOrUpdate(L"NIKON / D90", L"800", &e800));
    ASSERT_FALSE(table.AddOrUpdate(L"Canon / Empty", L"800", &eEmpty));

    EXPECT_EQ(ChooseBatchProfile(table, Info(L"NIKON CORPORATION", L"NIKON D90", L"800")).m_dStrength, 8);
    // Known camera, ISO without an entry: the first entry of row 0, not row 0's ISO 400.
    EXPECT_EQ(ChooseBatchProfile(table, Info(L"NIKON CORPORATION", L"NIKON D90", L"400")).m_dStrength, 10);
    // Unknown camera at ISO 400: row 0's entry of that ISO.
    EXPECT_EQ(ChooseBatchProfile(table, Info(L"Acme", L"Z1", L"400")).m_dStrength, 4);
    EXPECT_EQ(ChooseBatchProfile(table, Info(L"", L"", L"400")).m_dStrength, 10);

    uint32_t row = 0;
    table.FindCamera(&row, L"Canon / Empty");
    ASSERT_NE(row, 0u);
    // Damaged rows: a camera without entries is unknown; a row 0 without entries gives the
    // built-in entry, never zeros.
    const uint32_t kept = table.m_pCameras[row].m_uiISOCount;
    table.m_pCameras[row].m_uiISOCount = 0;
    EXPECT_EQ(ChooseBatchProfile(table, Info(L"Canon", L"Empty", L"400")).m_dStrength, 4);
    const uint32_t kept0 = table.m_pCameras[0].m_uiISOCount;
    table.m_pCameras[0].m_uiISOCount = 0;
    const IsoSettings fallback = ChooseBatchProfile(table, Info(L"Canon", L"Empty", L"800"));
    EXPECT_EQ(fallback.m_dStrength, DefaultIsoSettings().m_dStrength);
    EXPECT_EQ(fallback.m_dSharp1, 1.0);
    table.m_pCameras[0].m_uiISOCount = kept0;
    table.m_pCameras[row].m_uiISOCount = kept;
}

TEST_F(BatchWalker, HpxCmdGetsQuotedPathsAndTheFusionSwitchAndWritesTheOutput)
{
    ASSERT_TRUE(CopyFileW(StandInPath().c_str(), (m_plugin + L"\\HPXCmd.exe").c_str(), FALSE));
    MakeFolder(L"R&D");
    ASSERT_TRUE(WriteTestImage(Path(L"R&D\\a.jpg"), 32, 32));
    g_iHwAccel = 1;
    g_iGpuCpuFusion = 1;
    g_iBatchJpegQuality = 77;
    EXPECT_EQ(RunWalker(), 1);
    g_iGpuCpuFusion = 0;
    EXPECT_TRUE(DeleteFileW(Path(L"R&D\\denoised\\a.jpg").c_str()));
    EXPECT_EQ(RunWalker(), 1);
    EXPECT_TRUE(Exists(Path(L"R&D\\denoised\\a.jpg")));

    const std::string calls = ReadBytes(m_plugin + L"\\hpxcmd-calls.txt");
    const size_t br = calls.find('\n');
    ASSERT_NE(br, std::string::npos);
    const std::string first = calls.substr(0, br), second = calls.substr(br + 1);
    const std::string input = proftest::Narrow(Tree()) + "/R&D\\a.jpg";
    EXPECT_NE(first.find("HPXCmd.exe -gpu -fusion -i \"" + input + "\" -o \""), std::string::npos) << first;
    EXPECT_NE(first.find("-si 10.00 -sc 10.00 -scs 0.00 -dyn 0.00 -c 77 -sl1 1.00 -sl2 1.00 -sl3 1.00 -pa 0"),
              std::string::npos)
        << first;
    EXPECT_NE(second.find("HPXCmd.exe -gpu -i \"" + input), std::string::npos) << second;
    EXPECT_EQ(second.find("-fusion"), std::string::npos);

    wchar_t out[1024];
    EXPECT_TRUE(FormatHpxCmdParameters(out, L"C:\\in.jpg", L"C:\\denoised\\in.jpg", L"C:\\s.txt", Entry(12.5)));
    EXPECT_STREQ(out,
                 L" /C HPXCmd.exe -gpu -i \"C:\\in.jpg\" -o \"C:\\denoised\\in.jpg\" -l \"C:\\s.txt\" -si 12.50 "
                 L"-sc 10.00 -scs 0.00 -dyn 0.00 -c 77 -sl1 1.00 -sl2 1.00 -sl3 1.00 -pa 0");
    const std::wstring longPath(1000, L'a');
    EXPECT_FALSE(FormatHpxCmdParameters(out, longPath.c_str(), L"o", L"s", Entry(1)));
}

TEST_F(BatchWalker, WithoutHpxCmdTheHardwareRoadDenoisesOnTheCpu)
{
    ASSERT_TRUE(WriteTestImage(Path(L"a.jpg"), 32, 32));
    g_iHwAccel = 1;
    EXPECT_EQ(RunWalker(), 1);
    EXPECT_EQ(ImageSize(Path(L"denoised\\a.jpg")), std::make_pair(32, 32));
}

TEST_F(BatchWalker, CancelIsSeenWhileHpxCmdHangs)
{
    ASSERT_TRUE(CopyFileW(StandInPath().c_str(), (m_plugin + L"\\HPXCmd.exe").c_str(), FALSE));
    ASSERT_TRUE(WriteTestImage(Path(L"hang.jpg"), 32, 32));
    g_iHwAccel = 1;
    SetHpxCmdCancelGrace(500);
    std::thread user(
        []
        {
            Sleep(1500);
            g_bBatchAbort = 1;
        });
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunWalker(), 1);
    const DWORD took = GetTickCount() - start;
    user.join();
    SetHpxCmdCancelGrace(30000);
    EXPECT_LT(took, 8000u);
    EXPECT_FALSE(Exists(Path(L"denoised\\hang.jpg")));
    // Nothing of the run outlives the walk: HPXCmd under "cmd" and the child it started.
    std::istringstream pids(ReadBytes(m_plugin + L"\\hpxcmd-pids.txt"));
    int ended = 0, listed = 0;
    for (unsigned long pid; pids >> pid; ++listed)
    {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
        ended += !process || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        if (process) CloseHandle(process);
    }
    EXPECT_EQ(listed, 2);
    EXPECT_EQ(ended, listed);
}
