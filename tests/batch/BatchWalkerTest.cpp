// The batch walker on real folder trees: what is written where and with which profile entry,
// what is passed over, what is counted and what fails, and the HPXCmd road through a stand-in
// program.
#include "BatchTestSupport.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "app/batch/BatchDenoiseFolder.h"
#include "app/dialogs/BatchOptionsDialog.h"
#include "app/window/MainWindow.h"
#include "engine/DenoiseImage.h"
#include "engine/DetailGainsInStrips.h"
#include "imagefiles/ImageFile.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/Settings.h"

using namespace batchtest;
using proftest::Exists;
using proftest::ReadBytes;
using proftest::WriteBytes;

namespace
{

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

IsoSettings Entry(double strength, double chroma, double fine, double medium, double rough)
{
    IsoSettings s = Entry(strength);
    s.m_dStrengthChroma = chroma;
    s.m_dSharp1 = fine;
    s.m_dSharp2 = medium;
    s.m_dSharp3 = rough;
    return s;
}

// Files of the image-file tests that carry a camera's EXIF: a Canon EOS 7D at ISO 400 and a
// Nikon D3 at ISO 12800.
std::wstring ExifDonor(const wchar_t* name)
{
    std::wstring path = proftest::Widen(HPX_TEST_IMAGES) + L"/" + name;
    return path[0] == L'/' ? L"Z:" + path : path;
}

struct Decoded
{
    ImageBuffer* image = nullptr;
    ImageBuffer* alpha = nullptr;
    ImageInfoStrings info;
    explicit Decoded(const std::wstring& path) { ReadImageFile(&info, &image, &alpha, path.c_str()); }
    ~Decoded()
    {
        DeleteImageRecord(image);
        DeleteImageRecord(alpha);
    }
};

bool SamePixels(const ImageBuffer* a, const ImageBuffer* b)
{
    if (!a || !b) return a == b;
    return a->m_iWidth == b->m_iWidth && a->m_iHeight == b->m_iHeight && a->m_iChannels == b->m_iChannels &&
        a->m_iBits == b->m_iBits && a->m_iSize == b->m_iSize && std::memcmp(a->m_pData, b->m_pData, a->m_iSize) == 0;
}

}  // namespace

class BatchWalker : public BatchFolders
{
protected:
    void SetUp() override
    {
        BatchFolders::SetUp();
        WriteSettingString(L"jpeg", L"90");
    }
    // The photo (a path under the tree) was written into its "denoised" folder as the engine's
    // result on it with the entry's values and detail gains, in the batch's way (a JPEG at the
    // quality of the settings, which the tests set to 90), with its own alpha.
    void ExpectDenoisedWith(const wchar_t* name, const IsoSettings& v)
    {
        const Decoded source(Path(name));
        ASSERT_NE(source.image, nullptr) << name;
        ImageBuffer result;
        InitImage(&result);
        ASSERT_EQ(CopyImageLayout(&result, source.image), kImageOk);
        ASSERT_EQ(DenoiseImage(&result, source.image, v.m_dStrength, v.m_dStrengthChroma, v.m_dStrengthChromaLarge,
                               g_iQualityMode, v.m_dDynamics, nullptr, true, false, false, v.m_iUseMedian),
                  kImageOk);
        ASSERT_EQ(ApplyDetailGainsInStrips(&result, v.m_dSharp1, v.m_dSharp2, v.m_dSharp3, 3, 8), kImageOk);
        const std::wstring expectedPath = m_root + L"\\expected" + std::wcsrchr(name, L'.');
        const bool unwritten =
            WriteImageFile(&result, source.alpha, expectedPath.c_str(), 90, L"", kImageFormatUnknown);
        ReleaseImage(&result);
        ASSERT_FALSE(unwritten);
        std::wstring output = Path(name);
        output.insert(output.rfind(L'\\') + 1, L"denoised\\");
        const Decoded written(output), expected(expectedPath);
        EXPECT_TRUE(SamePixels(written.image, expected.image)) << name;
        EXPECT_TRUE(SamePixels(written.alpha, source.alpha)) << name;
    }
};

TEST_F(BatchWalker, TreeGoesIntoDenoisedFoldersEachPhotoWithItsOwnEntryAndAlpha)
{
    // Two cameras with entries of their own; photos without EXIF get the first entry of
    // "<<Unknown Camera>>", the built-in one.
    const IsoSettings canon = Entry(30, 20, 1.6, 0.5, 1.2), nikon = Entry(4, 40, 0.6, 1.5, 1.0);
    {
        CameraIsoTable table;
        table.Load();
        wchar_t name[HPX_CAMERA_NAME_CHARS];
        NormalizeCameraName(name, L"Canon / Canon EOS 7D");
        ASSERT_FALSE(table.AddOrUpdate(name, L"400", &canon));
        NormalizeCameraName(name, L"NIKON / NIKON D3");
        ASSERT_FALSE(table.AddOrUpdate(name, L"12800", &nikon));
        ASSERT_FALSE(table.Save());
    }
    ASSERT_TRUE(WriteTestImage(Path(L"a.jpg"), 64, 48, 3, 8, false, ExifDonor(L"exif-icc.jpg")));
    MakeFolder(L"x");
    ASSERT_TRUE(WriteTestImage(Path(L"x\\n.jpg"), 48, 40, 3, 8, false, ExifDonor(L"grey-exif.jpg")));
    ASSERT_TRUE(WriteTestImage(Path(L"x\\b.png"), 40, 40, 1));
    ASSERT_TRUE(WriteTestImage(Path(L"x\\c.png"), 40, 32, 3, 8, true));
    ASSERT_TRUE(WriteTestImage(Path(L"t.png"), 15, 200));  // too narrow: counted, not written
    WriteBytes(Path(L"notes.txt"), "not an image");
    MakeFolder(L"Denoised");  // an output folder in another case: never walked
    ASSERT_TRUE(WriteTestImage(Path(L"Denoised\\c.jpg"), 32, 32));

    EXPECT_EQ(CountImageFiles(Tree().c_str()), 5);
    EXPECT_EQ(RunWalker(), 5);
    EXPECT_EQ(m_failed, 0);
    ExpectDenoisedWith(L"a.jpg", canon);
    ExpectDenoisedWith(L"x\\n.jpg", nikon);
    ExpectDenoisedWith(L"x\\b.png", DefaultIsoSettings());
    ExpectDenoisedWith(L"x\\c.png", DefaultIsoSettings());
    EXPECT_FALSE(Exists(Path(L"denoised\\t.png")));
    EXPECT_FALSE(Exists(Path(L"denoised\\notes.txt")));
    EXPECT_FALSE(Exists(Path(L"Denoised\\denoised")));

    // The outputs of the first run are neither counted nor walked again.
    EXPECT_EQ(CountImageFiles(Tree().c_str()), 5);
    EXPECT_EQ(RunWalker(), 5);
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

TEST_F(BatchWalker, NamesAndDepthsAreKeptAndEveryCountedFileIsReportedOnce)
{
    ASSERT_TRUE(WriteTestImage(Path(L"p.jpeg"), 32, 32));
    ASSERT_TRUE(WriteTestImage(Path(L"q.tiff"), 32, 24, 3, 16));
    WriteBytes(Path(L"broken.jpg"), std::string("\xFF\xD8\xFF\xE0 truncated", 15));
    MakeFolder(L"\x0424\x043E\x0442\x043E");  // "Фото"
    ASSERT_TRUE(WriteTestImage(Path(L"\x0424\x043E\x0442\x043E\\\x0141\x00F3\x0064\x017A.jpg"), 32, 32));
    // A folder in the way of an output: its save fails, and the folder stays as it was.
    ASSERT_TRUE(WriteTestImage(Path(L"s.png"), 32, 32));
    MakeFolder(L"denoised");
    MakeFolder(L"denoised\\s.png");
    WriteBytes(Path(L"denoised\\s.png\\kept.txt"), "kept");

    // The broken file is counted by its name and reported when it cannot be read, so the bar
    // ends full; it is passed over, not failed.
    EXPECT_EQ(CountImageFiles(Tree().c_str()), 5);
    EXPECT_EQ(RunWalker(), 5);
    EXPECT_EQ(m_failed, 1);
    EXPECT_EQ(ReadBytes(Path(L"denoised\\s.png\\kept.txt")), "kept");
    EXPECT_EQ(ReadBytes(Path(L"denoised\\p.jpeg")).substr(0, 2), "\xFF\xD8");
    EXPECT_FALSE(Exists(Path(L"denoised\\p.jpeg.bmp")));
    ExpectDenoisedWith(L"q.tiff", DefaultIsoSettings());  // 16 bits kept
    EXPECT_TRUE(Exists(Path(L"\x0424\x043E\x0442\x043E\\denoised\\\x0141\x00F3\x0064\x017A.jpg")));
    EXPECT_FALSE(Exists(Path(L"denoised\\broken.jpg")));
}

TEST_F(BatchWalker, FilesItCannotWriteBackArePassedOverUnreadAndUncounted)
{
    // A card's mixed folder: every one of these can be read, only three written back under
    // their names. A raw file (a TIFF inside) read would fail; none is read, counted or failed.
    for (const wchar_t* name : {L"a.jpg", L"b.png", L"f.jpeg", L"c.tga", L"d.ppm", L"e.webp"})
        ASSERT_TRUE(WriteTestImage(Path(name), 32, 32)) << name;
    ASSERT_TRUE(WriteTestImage(Path(L"raw.tif"), 32, 32));
    ASSERT_TRUE(MoveFileW(Path(L"raw.tif").c_str(), Path(L"raw.nef").c_str()));
    EXPECT_EQ(CountImageFiles(Tree().c_str()), 3);
    EXPECT_EQ(RunWalker(), 3);
    EXPECT_EQ(m_failed, 0);
    std::vector<std::wstring> written;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(Path(L"denoised\\*").c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        if (fd.cFileName[0] != L'.') written.push_back(fd.cFileName);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::wstring>{L"a.jpg", L"b.png", L"f.jpeg"}));
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

TEST_F(BatchWalker, HpxCmdGetsPathsAsTheyAreAndTheFusionSwitchAndWhatItDidNotWriteFailed)
{
    InstallHpxCmd(HPX_HPXCMD_STANDIN);
    MakeFolder(L"R&D %windir%");  // nothing in a path is expanded or taken as a command
    ASSERT_TRUE(WriteTestImage(Path(L"R&D %windir%\\a.jpg"), 32, 32));
    ASSERT_TRUE(WriteTestImage(Path(L"R&D %windir%\\fail.jpg"), 32, 32));  // HPXCmd writes nothing
    ASSERT_TRUE(WriteTestImage(Path(L"R&D %windir%\\c.tga"), 32, 32));     // cannot be written back
    g_iHwAccel = 1;
    g_iGpuCpuFusion = 1;
    g_iBatchJpegQuality = 77;
    EXPECT_EQ(CountImageFiles(Tree().c_str()), 2);
    EXPECT_EQ(RunWalker(), 2);
    EXPECT_EQ(m_failed, 1);
    EXPECT_FALSE(Exists(Path(L"R&D %windir%\\denoised\\fail.jpg")));
    // Outputs of an earlier run: one rewritten counts as denoised; one HPXCmd does not write
    // fails and is kept as it was.
    g_iGpuCpuFusion = 0;
    WriteBytes(Path(L"R&D %windir%\\denoised\\fail.jpg"), "earlier");
    EXPECT_EQ(RunWalker(), 2);
    EXPECT_EQ(m_failed, 1);
    EXPECT_EQ(ReadBytes(Path(L"R&D %windir%\\denoised\\a.jpg")), ReadBytes(Path(L"R&D %windir%\\a.jpg")));
    EXPECT_EQ(ReadBytes(Path(L"R&D %windir%\\denoised\\fail.jpg")), "earlier");

    // Its command line, one per photo and run.
    std::istringstream calls(ReadBytes(m_plugin + L"\\hpxcmd-calls.txt"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(calls, line);)
    {
        EXPECT_EQ(line.find("c.tga"), std::string::npos) << line;
        if (line.find("a.jpg") != std::string::npos) lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2u);
    const std::string input = proftest::Narrow(Tree()) + "/R&D %windir%\\a.jpg";
    EXPECT_EQ(lines[0].find("HPXCmd.exe -gpu -fusion -i \"" + input + "\" -o \""), 0u) << lines[0];
    EXPECT_NE(lines[0].find("-si 10.00 -sc 10.00 -scs 0.00 -dyn 0.00 -c 77 -sl1 1.00 -sl2 1.00 -sl3 1.00 -pa 0"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(lines[1].find("HPXCmd.exe -gpu -i \"" + input), 0u) << lines[1];

    wchar_t out[1024];
    EXPECT_TRUE(FormatHpxCmdCommandLine(out, L"C:\\in.jpg", L"C:\\denoised\\in.jpg", L"C:\\s.txt", Entry(12.5)));
    EXPECT_STREQ(out,
                 L"HPXCmd.exe -gpu -i \"C:\\in.jpg\" -o \"C:\\denoised\\in.jpg\" -l \"C:\\s.txt\" -si 12.50 "
                 L"-sc 10.00 -scs 0.00 -dyn 0.00 -c 77 -sl1 1.00 -sl2 1.00 -sl3 1.00 -pa 0");
    const std::wstring longPath(1000, L'a');
    EXPECT_FALSE(FormatHpxCmdCommandLine(out, longPath.c_str(), L"o", L"s", Entry(1)));
}

TEST_F(BatchWalker, WithoutHpxCmdTheHardwareRoadDenoisesOnTheCpu)
{
    ASSERT_TRUE(WriteTestImage(Path(L"a.png"), 32, 32));
    g_iHwAccel = 1;
    EXPECT_EQ(RunWalker(), 1);
    ExpectDenoisedWith(L"a.png", DefaultIsoSettings());
}

TEST_F(BatchWalker, CancelIsSeenWhileHpxCmdHangs)
{
    InstallHpxCmd(HPX_HPXCMD_STANDIN);
    ASSERT_TRUE(WriteTestImage(Path(L"hang.jpg"), 32, 32));
    g_iHwAccel = 1;
    SetHpxCmdCancelGrace(500);
    // The user cancels once HPXCmd and the child it started are both running.
    std::thread user(
        [this]
        {
            WaitUntil([this] { return ReadStandInProcesses(m_plugin).listed == 2; });
            g_bBatchAbort = 1;
        });
    EXPECT_EQ(RunWalker(), 1);
    user.join();
    SetHpxCmdCancelGrace(30000);
    // Left to itself HPXCmd would have written the photo; nothing of the run outlives the walk.
    EXPECT_EQ(m_failed, 0);
    EXPECT_FALSE(Exists(Path(L"denoised")));
    const StandInProcesses processes = ReadStandInProcesses(m_plugin);
    EXPECT_EQ(processes.listed, 2);
    EXPECT_EQ(processes.ended, processes.listed);
}

TEST_F(BatchWalker, CancelLeavesNoEmptyFolderForThePhotoReadAhead)
{
    // The photo of the second folder is read, and its folder made, while the first one is
    // denoised; Cancel comes as the first is reported done.
    MakeFolder(L"p");
    MakeFolder(L"q");
    ASSERT_TRUE(WriteTestImage(Path(L"p\\a.png"), 200, 150));
    ASSERT_TRUE(WriteTestImage(Path(L"q\\b.png"), 200, 150));
    EXPECT_EQ(RunWalker(Tree(), 1), 1);
    EXPECT_EQ(Exists(Path(L"p\\denoised\\a.png")) + Exists(Path(L"q\\denoised\\b.png")), 1);
    EXPECT_EQ(Exists(Path(L"p\\denoised")) + Exists(Path(L"q\\denoised")), 1);
}
