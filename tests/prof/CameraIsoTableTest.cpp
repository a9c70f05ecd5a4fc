// The camera/ISO profile store: file round trips, lookups, editing, the name normalisation and
// damaged files.
#include "ProfTestSupport.h"

#include "profiles/CameraIsoTable.h"

#include <cmath>
#include <vector>

using namespace proftest;

namespace
{

const char kBom[] = "\xEF\xBB\xBF";

IsoSettings Settings(double strength, double noiseY, double noiseUV, int median = 0)
{
    IsoSettings s = DefaultIsoSettings();
    s.m_dStrength = strength;
    s.m_dStrengthChroma = strength / 2;
    s.m_dStrengthChromaLarge = 3.25;
    s.m_dDynamics = -1.5;
    s.m_dSharp1 = 0.5;
    s.m_dSharp2 = 2.0;
    s.m_dSharp3 = 3.75;
    s.m_dImmerkaerY = noiseY;
    s.m_dImmerkaerUV = noiseUV;
    s.m_iUseMedian = median;
    return s;
}

bool Add(CameraIsoTable& t, const wchar_t* camera, const wchar_t* iso, IsoSettings s)
{
    return t.AddOrUpdate(camera, iso, &s);
}

// A profile file as the plug-in writes it, one camera section per name with the given ISOs.
struct FileCamera
{
    std::string name;
    std::vector<int> isos;
};
std::string ProfileFile(const std::vector<FileCamera>& cams, const std::string& count, int version = 2)
{
    std::string s = kBom;
    s += "[General]\r\nNo Of Cameras = " + count +
        "\r\nActual Camera = 0\r\nActual ISO = 0\r\nversion = " + std::to_string(version) + "\r\n";
    for (size_t r = 0; r < cams.size(); ++r)
    {
        s += "\r\n[Camera_" + std::to_string(r) + "]\r\nm_wcsCameraName = " + cams[r].name +
            "\r\nm_uiISOCount = " + std::to_string(cams[r].isos.size()) + "\r\n";
        for (size_t i = 0; i < cams[r].isos.size(); ++i)
            s += "ISO" + std::to_string(i) + " = " + std::to_string(cams[r].isos[i]) + "\r\n";
        for (size_t i = 0; i < cams[r].isos.size(); ++i)
            s += "\r\n[Camera " + cams[r].name + " ISO" + std::to_string(cams[r].isos[i]) +
                "]\r\nm_dStrength = " + std::to_string(r * 10 + i + 1) + ".50\r\nm_dImmerkaerY = 7.25\r\n";
    }
    return s;
}

// Compares two loaded tables row by row and entry by entry.
void ExpectSameTables(const CameraIsoTable& a, const CameraIsoTable& b)
{
    ASSERT_EQ(a.m_uiCameraCount, b.m_uiCameraCount);
    for (uint32_t r = 0; r < a.m_uiCameraCount; ++r)
    {
        const CameraProfile& ca = a.m_pCameras[r];
        const CameraProfile& cb = b.m_pCameras[r];
        EXPECT_STREQ(ca.m_wcsCameraName, cb.m_wcsCameraName) << "row " << r;
        EXPECT_EQ(cb.m_iIndex, static_cast<int>(r));
        ASSERT_EQ(ca.m_uiISOCount, cb.m_uiISOCount) << "row " << r;
        for (uint32_t i = 0; i < ca.m_uiISOCount; ++i)
        {
            const IsoSettings& x = ca.m_pSettings[i];
            const IsoSettings& y = cb.m_pSettings[i];
            EXPECT_EQ(ca.m_piISO[i], cb.m_piISO[i]);
            EXPECT_EQ(cb.m_piISO[i], y.m_iISO);
            EXPECT_NEAR(x.m_dStrength, y.m_dStrength, 0.005);
            EXPECT_NEAR(x.m_dStrengthChroma, y.m_dStrengthChroma, 0.005);
            EXPECT_NEAR(x.m_dStrengthChromaLarge, y.m_dStrengthChromaLarge, 0.005);
            EXPECT_NEAR(x.m_dDynamics, y.m_dDynamics, 0.005);
            EXPECT_NEAR(x.m_dSharp1, y.m_dSharp1, 0.005);
            EXPECT_NEAR(x.m_dSharp2, y.m_dSharp2, 0.005);
            EXPECT_NEAR(x.m_dSharp3, y.m_dSharp3, 0.005);
            EXPECT_NEAR(x.m_dImmerkaerY, y.m_dImmerkaerY, 0.005);
            EXPECT_NEAR(x.m_dImmerkaerUV, y.m_dImmerkaerUV, 0.005);
            EXPECT_EQ(x.m_iUseMedian, y.m_iUseMedian);
        }
    }
}

std::vector<std::wstring> Names(const CameraIsoTable& t)
{
    std::vector<std::wstring> v;
    for (uint32_t r = 0; r < t.m_uiCameraCount; ++r) v.push_back(t.m_pCameras[r].m_wcsCameraName);
    return v;
}

}  // namespace

class ProfileStore : public TempFolders
{
};

TEST_F(ProfileStore, FirstStartGivesTheDefaultProfileAndWritesTheUserCopy)
{
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_EQ(t.m_uiCameraCount, 1u);
    EXPECT_STREQ(t.m_pCameras[0].m_wcsCameraName, HPX_UNKNOWN_CAMERA);
    ASSERT_EQ(t.m_pCameras[0].m_uiISOCount, 1u);
    IsoSettings s{};
    ASSERT_FALSE(t.GetIsoSettings(&s, 0, 0));
    EXPECT_EQ(s.m_iISO, 100);
    EXPECT_EQ(s.m_dStrength, 10.0);
    EXPECT_EQ(s.m_dStrengthChroma, 10.0);
    EXPECT_EQ(s.m_dStrengthChromaLarge, 0.0);
    EXPECT_EQ(s.m_dSharp2, 1.0);
    EXPECT_EQ(s.m_dImmerkaerY, 10.0);
    EXPECT_EQ(s.m_iUseMedian, 0);

    const std::string file = ReadBytes(UserProfile());
    ASSERT_GE(file.size(), 3u);
    EXPECT_EQ(file.substr(0, 3), kBom);
    EXPECT_NE(file.find("version = 2"), std::string::npos);
    EXPECT_NE(file.find("[Camera <<Unknown Camera>> ISO100]"), std::string::npos);
}

TEST_F(ProfileStore, EditsSurviveSaveAndReloadIncludingNonAsciiNames)
{
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    const std::wstring cafe = L"Caf\u00e9 \u00dcber / \u03a9mega \u6f22\u5b57 1";
    ASSERT_FALSE(Add(t, L"Canon / EOS 5D", L"1600", Settings(20, 4.5, 2.25)));
    ASSERT_FALSE(Add(t, L"Canon / EOS 5D", L"100", Settings(5, 1.5, 0.75, 1)));
    ASSERT_FALSE(Add(t, cafe.c_str(), L"400", Settings(12.34, 3, 1, 2)));
    ASSERT_FALSE(Add(t, L"Bbb", L"200", Settings(8, 2, 1)));
    ASSERT_FALSE(Add(t, HPX_UNKNOWN_CAMERA, L"3200", Settings(30, 9, 5)));
    ASSERT_FALSE(t.Save());

    CameraIsoTable back;
    ASSERT_FALSE(back.Load());
    ExpectSameTables(t, back);
    // Name order compares code points without regard to case: "Caf\u00e9" before "Canon".
    ASSERT_EQ(Names(back), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, L"Bbb", cafe, L"Canon / EOS 5D"}));
    EXPECT_EQ(back.m_pCameras[3].m_piISO[0], 100);
    EXPECT_EQ(back.m_pCameras[3].m_piISO[1], 1600);

    // Edit the reloaded table: overwrite, insert, delete an entry and a camera; round trip again.
    ASSERT_FALSE(Add(back, L"canon / eos 5d", L"1600", Settings(44, 6, 3)));
    ASSERT_FALSE(Add(back, cafe.c_str(), L"800", Settings(15, 4, 2)));
    ASSERT_FALSE(back.DeleteIso(0, 0));  // unknown camera: ISO 100 goes, 3200 stays
    ASSERT_FALSE(back.DeleteCamera(1));  // Bbb
    ASSERT_FALSE(back.Save());
    CameraIsoTable again;
    ASSERT_FALSE(again.Load());
    ExpectSameTables(back, again);
    ASSERT_EQ(Names(again), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, cafe, L"Canon / EOS 5D"}));
    EXPECT_EQ(again.m_pCameras[0].m_piISO[0], 3200);
    EXPECT_NEAR(again.m_pCameras[2].m_pSettings[1].m_dStrength, 44.0, 1e-9);
    EXPECT_EQ(again.m_pCameras[1].m_uiISOCount, 2u);

    // The file is UTF-8: the name is stored as its UTF-8 bytes.
    EXPECT_NE(ReadBytes(UserProfile()).find(Narrow(cafe)), std::string::npos);
}

TEST_F(ProfileStore, NamesWithBlanksOrBracketsComeBackWithTheirEntries)
{
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    // EXIF text fields are often padded with blanks.
    ASSERT_FALSE(Add(t, L"  Padded / Cam   ", L"400", Settings(21, 3, 2)));
    ASSERT_FALSE(Add(t, L"Odd [name] / x", L"200", Settings(33, 3, 2)));
    ASSERT_FALSE(Add(t, L"Two\nlines / y", L"100", Settings(44, 3, 2)));  // a multi-line value
    // Names that look like the opening of a multi-line value (the name dialog takes any text).
    ASSERT_FALSE(Add(t, L"<<<", L"800", Settings(13, 3, 2)));
    ASSERT_FALSE(Add(t, L"<<<Night shots", L"1600", Settings(14, 3, 2)));
    ASSERT_FALSE(t.Save());
    CameraIsoTable back;
    ASSERT_FALSE(back.Load());
    uint32_t row = 0;
    back.FindCamera(&row, L"Padded / Cam");
    ASSERT_NE(row, 0u);
    EXPECT_STREQ(back.m_pCameras[row].m_wcsCameraName, L"Padded / Cam");
    EXPECT_NEAR(back.m_pCameras[row].m_pSettings[0].m_dStrength, 21.0, 1e-9);
    back.FindCamera(&row, L"Odd [name] / x");
    ASSERT_NE(row, 0u);
    EXPECT_NEAR(back.m_pCameras[row].m_pSettings[0].m_dStrength, 33.0, 1e-9);
    back.FindCamera(&row, L"Two\nlines / y");
    ASSERT_NE(row, 0u);
    EXPECT_STREQ(back.m_pCameras[row].m_wcsCameraName, L"Two\nlines / y");
    EXPECT_NEAR(back.m_pCameras[row].m_pSettings[0].m_dStrength, 44.0, 1e-9);
    ExpectSameTables(t, back);

    // A file written before such names were stored apart keeps them, and what follows them.
    WriteBytes(UserProfile(),
               ProfileFile({{"<<Unknown Camera>>", {100}}, {"<<<Old word", {200}}, {"Zed", {400}}}, "3"));
    CameraIsoTable before;
    ASSERT_FALSE(before.Load());
    ASSERT_EQ(Names(before), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, L"<<<Old word", L"Zed"}));
    EXPECT_NEAR(before.m_pCameras[1].m_pSettings[0].m_dStrength, 11.5, 1e-9);
    EXPECT_NEAR(before.m_pCameras[2].m_pSettings[0].m_dStrength, 21.5, 1e-9);

    // A file written by an older build kept the blanks inside its entry section names.
    WriteBytes(UserProfile(),
               std::string(kBom) +
                   "[General]\r\nNo Of Cameras = 2\r\nversion = 2\r\n"
                   "[Camera_0]\r\nm_wcsCameraName = <<Unknown Camera>>\r\nm_uiISOCount = 1\r\nISO0 = 100\r\n"
                   "[Camera_1]\r\nm_wcsCameraName = Old / Cam   \r\nm_uiISOCount = 1\r\nISO0 = 800\r\n"
                   "[Camera Old / Cam    ISO800]\r\nm_dStrength = 27.00\r\n");
    CameraIsoTable old;
    ASSERT_FALSE(old.Load());
    ASSERT_EQ(old.m_uiCameraCount, 2u);
    EXPECT_STREQ(old.m_pCameras[1].m_wcsCameraName, L"Old / Cam");
    EXPECT_NEAR(old.m_pCameras[1].m_pSettings[0].m_dStrength, 27.0, 1e-9);
}

TEST_F(ProfileStore, TheNewerShippedCopyWinsOtherwiseTheUserCopy)
{
    WriteBytes(ShippedProfile(), ProfileFile({{"<<Unknown Camera>>", {100}}, {"Shipped / Cam", {200}}}, "2", 3));
    WriteBytes(UserProfile(), ProfileFile({{"<<Unknown Camera>>", {100}}, {"User / Cam", {200}}}, "2", 2));
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_EQ(t.m_uiCameraCount, 2u);
    EXPECT_STREQ(t.m_pCameras[1].m_wcsCameraName, L"Shipped / Cam");

    WriteBytes(ShippedProfile(), ProfileFile({{"<<Unknown Camera>>", {100}}, {"Shipped / Cam", {200}}}, "2", 2));
    ASSERT_FALSE(t.Load());
    EXPECT_STREQ(t.m_pCameras[1].m_wcsCameraName, L"User / Cam");

    // A user copy without "version" counts as version 1 and is replaced once by a shipped 2.
    std::string noVersion = ProfileFile({{"<<Unknown Camera>>", {100}}, {"User / Cam", {200}}}, "2", 2);
    noVersion.erase(noVersion.find("version = 2\r\n"), 13);
    WriteBytes(UserProfile(), noVersion);
    ASSERT_FALSE(t.Load());
    EXPECT_STREQ(t.m_pCameras[1].m_wcsCameraName, L"Shipped / Cam");
    ASSERT_FALSE(t.Save());
    ASSERT_FALSE(t.Load());  // both are version 2 now: the user copy is read
    EXPECT_NE(ReadBytes(UserProfile()).find("version = 2"), std::string::npos);

    // Only the shipped copy: it is read and the user copy is not written by loading.
    DeleteFileW(UserProfile().c_str());
    ASSERT_FALSE(t.Load());
    EXPECT_STREQ(t.m_pCameras[1].m_wcsCameraName, L"Shipped / Cam");
    EXPECT_FALSE(Exists(UserProfile()));
}

TEST_F(ProfileStore, AUserCopyReplacedByANewerShippedOneIsKeptAsBak)
{
    const std::string user = ProfileFile({{"<<Unknown Camera>>", {100}}, {"User / Cam", {200}}}, "2", 2);
    WriteBytes(ShippedProfile(), ProfileFile({{"<<Unknown Camera>>", {100}}, {"Shipped / Cam", {200}}}, "2", 3));
    WriteBytes(UserProfile(), user);
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_FALSE(t.Save());
    EXPECT_EQ(ReadBytes(UserProfile() + L".bak"), user);
    // The shipped copy wins again, but the user copy already says the same: no second backup.
    ASSERT_FALSE(t.Load());
    ASSERT_FALSE(t.Save());
    EXPECT_FALSE(Exists(UserProfile() + L".bak1"));
}

TEST_F(ProfileStore, CamerasWhoseSectionNamesCollideKeepTheirOwnEntries)
{
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    // A ']' is written as ')', so both names come to the section "Camera Cam [a) ISO100".
    ASSERT_FALSE(Add(t, L"Cam [a]", L"100", Settings(5, 3, 2)));
    ASSERT_FALSE(Add(t, L"Cam [a)", L"100", Settings(20, 4, 1)));
    ASSERT_FALSE(Add(t, L"Cam [a)", L"200", Settings(30, 6, 1)));
    ASSERT_FALSE(t.Save());
    CameraIsoTable back;
    ASSERT_FALSE(back.Load());
    ExpectSameTables(t, back);
}

TEST_F(ProfileStore, RunningOutOfMemoryLeavesTheTableAndTheFileAsTheyWere)
{
    WriteBytes(UserProfile(),
               ProfileFile({{"<<Unknown Camera>>", {100}}, {"A / 1", {200, 400}}, {"B / 2", {800}}}, "3"));
    const std::string stored = ReadBytes(UserProfile());
    CameraIsoTable fromFile;
    ASSERT_FALSE(fromFile.Load());
    // An edited table, unlike the file.
    auto makeEdited = [](CameraIsoTable& t)
    {
        ASSERT_FALSE(t.Load());
        IsoSettings s = Settings(17, 2, 1);
        s.m_iISO = 1600;
        ASSERT_FALSE(t.AddOrUpdate(L"Edited / Cam", L"1600", &s));
    };
    CameraIsoTable edited;
    makeEdited(edited);
    bool loadDone = false, saveDone = false;
    for (long n = 1; n < 20000 && !(loadDone && saveDone); ++n)
    {
        if (!loadDone)
        {
            CameraIsoTable t;
            makeEdited(t);
            FailAllocation(n);
            const bool failed = t.Load();
            loadDone = !StopFailingAllocation();
            ExpectSameTables(failed ? edited : fromFile, t);
            ASSERT_FALSE(failed && loadDone) << "allocation " << n;
        }
        if (!saveDone)
        {
            FailAllocation(n);
            const bool failed = edited.Save();
            saveDone = !StopFailingAllocation();
            if (failed) ASSERT_EQ(ReadBytes(UserProfile()), stored) << "allocation " << n;
            ASSERT_FALSE(failed && saveDone) << "allocation " << n;
            WriteBytes(UserProfile(), stored);
        }
        if (HasFatalFailure() || HasFailure()) FAIL() << "allocation " << n;
    }
    EXPECT_TRUE(loadDone && saveDone);
}

TEST_F(ProfileStore, ValuesReadFromTheFileAreClamped)
{
    WriteBytes(UserProfile(),
               std::string(kBom) +
                   "[General]\r\nNo Of Cameras = 1\r\nversion = 2\r\n"
                   "[Camera_0]\r\nm_wcsCameraName = <<Unknown Camera>>\r\nm_uiISOCount = 3\r\n"
                   "ISO0 = 2000000\r\nISO1 = -5\r\nISO2 = abc\r\n"
                   "[Camera <<Unknown Camera>> ISO1000000]\r\nm_iUseMedian = 7\r\nm_dDynamics = 5\r\n"
                   "m_dStrength = 99\r\nm_dSharp1 = -1\r\nm_dImmerkaerY = 20000\r\n"
                   "[Camera <<Unknown Camera>> ISO0]\r\nm_iUseMedian = -1\r\nm_dDynamics = -2.5\r\n"
                   "m_dStrength = nonsense\r\n");
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_EQ(t.m_pCameras[0].m_uiISOCount, 3u);
    const IsoSettings& a = t.m_pCameras[0].m_pSettings[0];
    EXPECT_EQ(t.m_pCameras[0].m_piISO[0], 1000000);
    EXPECT_EQ(a.m_iUseMedian, 2);
    EXPECT_EQ(a.m_dDynamics, 2.0);
    EXPECT_EQ(a.m_dStrength, 50.0);
    EXPECT_EQ(a.m_dSharp1, 0.0);
    EXPECT_EQ(a.m_dImmerkaerY, 10000.0);
    EXPECT_EQ(a.m_dStrengthChroma, 10.0);  // missing key: its default
    EXPECT_EQ(a.m_dImmerkaerUV, 5.0);
    const IsoSettings& b = t.m_pCameras[0].m_pSettings[1];
    EXPECT_EQ(t.m_pCameras[0].m_piISO[1], 0);
    EXPECT_EQ(t.m_pCameras[0].m_piISO[2], 0);
    EXPECT_EQ(b.m_iUseMedian, 0);
    EXPECT_EQ(b.m_dDynamics, -2.0);
    EXPECT_EQ(b.m_dStrength, 0.0);  // text that does not parse reads as 0
}

TEST_F(ProfileStore, AddOrUpdateClampsTheIsoAndKeepsNameAndIsoOrder)
{
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_FALSE(Add(t, L"Ccc", L"100", Settings(1, 1, 1)));
    ASSERT_FALSE(Add(t, L"Bbb", L"100", Settings(1, 1, 1)));
    ASSERT_FALSE(Add(t, L"aaa", L"12", Settings(1, 1, 1)));
    EXPECT_EQ(Names(t), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, L"aaa", L"Bbb", L"Ccc"}));
    for (uint32_t r = 0; r < t.m_uiCameraCount; ++r) EXPECT_EQ(t.m_pCameras[r].m_iIndex, static_cast<int>(r));
    EXPECT_EQ(t.m_pCameras[1].m_piISO[0], 16);

    ASSERT_FALSE(Add(t, L"Ccc", L"1600", Settings(2, 1, 1)));
    ASSERT_FALSE(Add(t, L"Ccc", L"800", Settings(3, 1, 1)));
    ASSERT_FALSE(Add(t, L"Ccc", L"99999999", Settings(4, 1, 1)));
    const CameraProfile& c = t.m_pCameras[3];
    ASSERT_EQ(c.m_uiISOCount, 4u);
    EXPECT_EQ(c.m_piISO[0], 100);
    EXPECT_EQ(c.m_piISO[1], 800);
    EXPECT_EQ(c.m_pSettings[1].m_dStrength, 3.0);
    EXPECT_EQ(c.m_piISO[2], 1600);
    EXPECT_EQ(c.m_piISO[3], 409600);

    // Same name in another case and same ISO: the entry is overwritten, nothing is added.
    ASSERT_FALSE(Add(t, L"CCC", L"800", Settings(9, 1, 1)));
    EXPECT_EQ(t.m_pCameras[3].m_uiISOCount, 4u);
    EXPECT_EQ(t.m_pCameras[3].m_pSettings[1].m_dStrength, 9.0);
    EXPECT_TRUE(t.AddOrUpdate(L"x", L"100", nullptr));
}

TEST_F(ProfileStore, LookupsIgnoreSpacesAndCaseAndNeverMatchRowZero)
{
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_FALSE(Add(t, L"canon/eos5d", L"200", Settings(1, 1, 1)));
    ASSERT_FALSE(Add(t, L"canon/eos5d", L"400", Settings(1, 1, 1)));
    uint32_t row = 99, index = 99;
    EXPECT_FALSE(t.FindCamera(&row, L"Canon / EOS 5D"));
    EXPECT_EQ(row, 1u);
    t.FindCamera(&row, L"\tCANON / EOS 5D\t");
    EXPECT_EQ(row, 1u);
    t.FindCamera(&row, L"<< Unknown Camera >>");
    EXPECT_EQ(row, 0u);
    t.FindCamera(&row, L"Nikon / D90");
    EXPECT_EQ(row, 0u);
    EXPECT_FALSE(t.FindIsoIndex(&index, L"400", 1));
    EXPECT_EQ(index, 1u);
    t.FindIsoIndex(&index, L"300", 1);
    EXPECT_EQ(index, 0u);
    t.FindIsoIndex(&index, L"400", 77);  // a row outside the table
    EXPECT_EQ(index, 0u);

    IsoSettings s = Settings(42, 1, 1);
    const IsoSettings before = s;
    EXPECT_TRUE(t.GetIsoSettings(&s, 1, 2));
    EXPECT_TRUE(t.GetIsoSettings(&s, 2, 0));
    EXPECT_TRUE(t.GetIsoSettings(nullptr, 0, 0));
    EXPECT_EQ(s.m_dStrength, before.m_dStrength);

    // An entry saved under another spelling of a camera goes where the lookup finds it.
    ASSERT_FALSE(Add(t, L"Maker / X 1", L"100", Settings(5, 1, 1)));
    const uint32_t cameras = t.m_uiCameraCount;
    ASSERT_FALSE(Add(t, L"Maker/X 1", L"200", Settings(7, 1, 1)));
    EXPECT_EQ(t.m_uiCameraCount, cameras);
    t.FindCamera(&row, L"Maker/X 1");
    t.FindIsoIndex(&index, L"200", row);
    IsoSettings saved{};
    ASSERT_FALSE(t.GetIsoSettings(&saved, row, index));
    EXPECT_EQ(saved.m_dStrength, 7.0);
}

TEST_F(ProfileStore, NearestEntryByNoiseEstimate)
{
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_FALSE(Add(t, L"Cam", L"100", Settings(1, 2.0, 9.0)));
    ASSERT_FALSE(Add(t, L"Cam", L"400", Settings(2, 4.0, 1.0)));
    ASSERT_FALSE(Add(t, L"Cam", L"1600", Settings(3, 8.0, 4.0)));
    ASSERT_FALSE(Add(t, L"Cam", L"3200", Settings(4, 8.0, 6.0)));
    uint32_t index = 99;
    // Colour image: the distance over both estimates.
    EXPECT_FALSE(t.FindNearestIso(&index, L"Cam", 2.5, 8.0));
    EXPECT_EQ(index, 0u);
    t.FindNearestIso(&index, L"Cam", 7.0, 5.5);
    EXPECT_EQ(index, 3u);
    // Grey image (no chroma figure): luma only; 1600 and 3200 are equally near, the first wins.
    t.FindNearestIso(&index, L"Cam", 7.9, 0.0);
    EXPECT_EQ(index, 2u);
    t.FindNearestIso(&index, L"Cam", 3.9, 0.0);
    EXPECT_EQ(index, 1u);
    // Equal distances with chroma: the first of them.
    t.FindNearestIso(&index, L"Cam", 6.0, 5.0);
    EXPECT_EQ(index, 2u);
    // An unknown camera falls to row 0 and its single entry.
    t.FindNearestIso(&index, L"Other", 100.0, 100.0);
    EXPECT_EQ(index, 0u);
}

TEST_F(ProfileStore, DeletionsKeepTheUnknownCameraAndTheRowIndexes)
{
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    EXPECT_TRUE(t.DeleteIso(0, 0));  // the last entry of row 0 stays
    EXPECT_EQ(t.m_pCameras[0].m_uiISOCount, 1u);
    EXPECT_TRUE(t.DeleteCamera(0));
    EXPECT_TRUE(t.DeleteCamera(1));
    EXPECT_TRUE(t.DeleteIso(0, 1));
    EXPECT_TRUE(t.DeleteIso(5, 0));

    ASSERT_FALSE(Add(t, L"A", L"100", Settings(1, 1, 1)));
    ASSERT_FALSE(Add(t, L"B", L"100", Settings(2, 1, 1)));
    ASSERT_FALSE(Add(t, L"B", L"200", Settings(3, 1, 1)));
    ASSERT_FALSE(Add(t, L"C", L"100", Settings(4, 1, 1)));
    ASSERT_FALSE(t.DeleteIso(2, 0));  // B keeps 200
    ASSERT_EQ(t.m_pCameras[2].m_uiISOCount, 1u);
    EXPECT_EQ(t.m_pCameras[2].m_piISO[0], 200);
    EXPECT_EQ(t.m_pCameras[2].m_pSettings[0].m_dStrength, 3.0);
    ASSERT_FALSE(t.DeleteIso(1, 0));  // A's only entry: A goes
    EXPECT_EQ(Names(t), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, L"B", L"C"}));
    for (uint32_t r = 0; r < t.m_uiCameraCount; ++r) EXPECT_EQ(t.m_pCameras[r].m_iIndex, static_cast<int>(r));
}

TEST(CameraNames, NormalisationPairsAndBlanks)
{
    const struct
    {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"CASIO COMPUTER CO.,LTD. / EX-Z750", L"CASIO / EX-Z750"},
        {L"Canon / Canon EOS 40D", L"Canon / EOS 40D"},
        {L"OLYMPUS IMAGING CORP.   / E-3", L"OLYMPUS / E-3"},
        {L"EASTMAN KODAK COMPANY / KODAK EASYSHARE C875", L"KODAK EASYSHARE / C875"},
        {L"EASTMAN KODAK COMPANY / KODAK DX7590", L"KODAK / DX7590"},
        {L"NIKON CORPORATION / NIKON D90", L"NIKON / D90"},
        {L"PENTAX              / PENTAX K10D", L"PENTAX / K10D"},
        {L"PENTAX Corporation  / PENTAX K-7", L"PENTAX / K-7"},
        {L"PENTAX Corporation / PENTAX K-x", L"PENTAX / K-x"},
        {L"PENTAX / PENTAX K-5", L"PENTAX / K-5"},
        {L"RICOH       / GR", L"RICOH / GR"},
        {L"SAMSUNG         / NX10", L"Samsung / NX10"},
        {L"Samsung Techwin / VLUU", L"Samsung / VLUU"},
        {L"SAMSUNG TECHWIN / PRO815", L"Samsung / PRO815"},
        {L"SAMSUNG / SAMSUNG WB500", L"Samsung / WB500"},
        {L"SANYO Electric Co.,Ltd. / VPC", L"Sanyo / VPC"},
        // Blank-padded EXIF fields: the ends are trimmed before the pairs are applied.
        {L"  NIKON CORPORATION / NIKON D90    ", L"NIKON / D90"},
        {L"\tFUJIFILM / X100 \r\n", L"FUJIFILM / X100"},
        {L"Leica / M9", L"Leica / M9"},
    };
    for (const auto& c : cases)
    {
        wchar_t out[128];
        NormalizeCameraName(out, c.in);
        EXPECT_STREQ(out, c.out) << Narrow(c.in);
        // In place gives the same.
        wchar_t same[128];
        wcscpy(same, c.in);
        NormalizeCameraName(same, same);
        EXPECT_STREQ(same, c.out);
    }
    std::wstring longName(300, L'x');
    wchar_t out[128];
    NormalizeCameraName(out, longName.c_str());
    EXPECT_EQ(wcslen(out), 127u);
}

TEST(CameraNames, ReplaceSubstringReplacesEveryOccurrenceAndStopsWithinItsBuffer)
{
    wchar_t text[64] = L"a--b--c----d";
    ReplaceSubstring(text, 64, L"--", L"-");
    EXPECT_STREQ(text, L"a-b-c-d");  // searched from the start again: "----" ends as "-"
    wchar_t grow[64] = L"ab";
    ReplaceSubstring(grow, 64, L"b", L"bb");  // a replacement that holds its search text ends
    EXPECT_STREQ(grow, L"abb");
    wchar_t small[8] = L"xyxy";
    ReplaceSubstring(small, 8, L"y", L"long");
    EXPECT_EQ(wcslen(small), 7u);
    EXPECT_EQ(std::wstring(small).substr(0, 5), L"xlong");
}

// ---- damaged files ---------------------------------------------------------------------------

class DamagedProfile : public TempFolders
{
protected:
    // Loads, checks the table is usable, saves, and returns the reloaded table's names.
    std::vector<std::wstring> LoadSaveReload(CameraIsoTable& t)
    {
        t.Load();
        EXPECT_GE(t.m_uiCameraCount, 1u);
        EXPECT_GE(t.m_pCameras[0].m_uiISOCount, 1u);  // row 0 always has an entry to work on
        IsoSettings s{};
        EXPECT_FALSE(t.GetIsoSettings(&s, 0, 0));
        t.Save();
        CameraIsoTable back;
        back.Load();
        return Names(back);
    }
    std::wstring Backup() const { return UserProfile() + L".bak"; }
};

TEST_F(DamagedProfile, AnOutOfRangeCameraCountKeepsTheCamerasThatAreThere)
{
    const std::vector<FileCamera> cams = {{"<<Unknown Camera>>", {100}}, {"A / 1", {200, 400}}, {"B / 2", {800}}};
    for (const char* count : {"1000000000", "0", "-3", "4294967297"})
    {
        const std::string original = ProfileFile(cams, count);
        WriteBytes(UserProfile(), original);
        DeleteFileW(Backup().c_str());
        CameraIsoTable t;
        ASSERT_EQ(LoadSaveReload(t), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, L"A / 1", L"B / 2"})) << count;
        ASSERT_EQ(t.m_pCameras[1].m_uiISOCount, 2u);
        EXPECT_NEAR(t.m_pCameras[1].m_pSettings[1].m_dStrength, 12.5, 1e-9);
        EXPECT_EQ(ReadBytes(Backup()), original) << count;  // the file as it was is kept
    }
}

TEST_F(DamagedProfile, AHugeCountWithoutCameraSectionsFallsBackToTheDefaultProfile)
{
    const std::string original = std::string(kBom) + "[General]\r\nNo Of Cameras = 2147483647\r\nversion = 2\r\n";
    WriteBytes(UserProfile(), original);
    CameraIsoTable t;
    EXPECT_EQ(LoadSaveReload(t), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA}));
    EXPECT_EQ(t.m_pCameras[0].m_piISO[0], 100);
    EXPECT_EQ(ReadBytes(Backup()), original);
}

TEST_F(DamagedProfile, ATruncatedFileKeepsWhatItHoldsAndTheOriginalIsKept)
{
    const std::string full = ProfileFile({{"<<Unknown Camera>>", {100}}, {"A / 1", {200}}, {"B / 2", {400, 800}}}, "3");
    for (size_t cut : {full.size() / 2, full.size() - 40, size_t{10}, size_t{2}})
    {
        const std::string truncated = full.substr(0, cut);
        WriteBytes(UserProfile(), truncated);
        DeleteFileW(Backup().c_str());
        CameraIsoTable t;
        std::vector<std::wstring> names = LoadSaveReload(t);
        ASSERT_FALSE(names.empty());
        for (const auto& n : names) EXPECT_FALSE(n.empty());
        // No camera appears twice (no nameless rows standing in for missing sections).
        for (size_t i = 1; i < names.size(); ++i) EXPECT_NE(names[i], HPX_UNKNOWN_CAMERA);
        if (cut == full.size() - 40)
        {
            ASSERT_EQ(names, (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, L"A / 1", L"B / 2"}));
            EXPECT_NEAR(t.m_pCameras[1].m_pSettings[0].m_dStrength, 11.5, 1e-9);
        }
        if (t.RepairedOnLoad() || Exists(Backup())) EXPECT_EQ(ReadBytes(Backup()), truncated);
    }
}

TEST_F(DamagedProfile, GarbageAndUnreadableFilesAreNeverWrittenOverUnkept)
{
    std::string garbage;
    for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 256);
    WriteBytes(UserProfile(), garbage);
    CameraIsoTable t;
    EXPECT_EQ(LoadSaveReload(t), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA}));
    EXPECT_EQ(ReadBytes(Backup()), garbage);

    // A user copy that another program holds open without sharing: it is not read, and the
    // save that follows cannot replace it, so it stays whole.
    const std::string good = ProfileFile({{"<<Unknown Camera>>", {100}}, {"Kept / Cam", {200}}}, "2");
    WriteBytes(UserProfile(), good);
    HANDLE lock = CreateFileW(UserProfile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    CameraIsoTable locked;
    locked.Load();
    ASSERT_GE(locked.m_uiCameraCount, 1u);
    EXPECT_GE(locked.m_pCameras[0].m_uiISOCount, 1u);
    locked.Save();
    CloseHandle(lock);
    EXPECT_EQ(ReadBytes(UserProfile()), good);
    CameraIsoTable back;
    back.Load();
    EXPECT_EQ(Names(back), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, L"Kept / Cam"}));
}

TEST_F(DamagedProfile, AnEntryCountBeyondTheKeysOfItsSectionReadsOnlyWhatTheFileHolds)
{
    // A small file whose every camera claims the largest entry count but names one ISO: reading
    // must stay in proportion to the file (not millions of entries and their memory).
    const int cameras = 400;
    std::string original =
        std::string(kBom) + "[General]\r\nNo Of Cameras = " + std::to_string(cameras) + "\r\nversion = 2\r\n";
    for (int r = 0; r < cameras; ++r)
        original += "[Camera_" + std::to_string(r) + "]\r\nm_wcsCameraName = Cam " + std::to_string(r) +
            "\r\nm_uiISOCount = 10000\r\nISO0 = 200\r\n";
    WriteBytes(UserProfile(), original);
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_EQ(t.m_uiCameraCount, static_cast<uint32_t>(cameras));
    for (int r = 0; r < cameras; ++r)
    {
        const CameraProfile& cam = t.m_pCameras[r];
        ASSERT_GE(cam.m_uiISOCount, 1u) << r;
        ASSERT_LE(cam.m_uiISOCount, 3u) << r;  // no more than the keys its section holds
        EXPECT_EQ(cam.m_piISO[0], 200) << r;
    }
    EXPECT_TRUE(t.RepairedOnLoad());
}

TEST_F(DamagedProfile, ARowZeroWithoutEntriesGetsTheDefaultEntryAndOtherEmptyCamerasAreNeverRead)
{
    WriteBytes(UserProfile(),
               ProfileFile({{"<<Unknown Camera>>", {}}, {"Empty / Cam", {}}, {"Full / Cam", {400}}}, "3"));
    CameraIsoTable t;
    ASSERT_FALSE(t.Load());
    ASSERT_EQ(t.m_uiCameraCount, 3u);
    ASSERT_EQ(t.m_pCameras[0].m_uiISOCount, 1u);
    EXPECT_EQ(t.m_pCameras[0].m_piISO[0], 100);
    EXPECT_EQ(t.m_pCameras[1].m_uiISOCount, 0u);
    IsoSettings s = Settings(42, 1, 1);
    EXPECT_TRUE(t.GetIsoSettings(&s, 1, 0));
    EXPECT_EQ(s.m_dStrength, 42.0);
    uint32_t index = 7;
    EXPECT_TRUE(t.FindNearestIso(&index, L"Empty / Cam", 1.0, 1.0));
    EXPECT_EQ(index, 0u);
    EXPECT_TRUE(t.RepairedOnLoad());
}

TEST_F(DamagedProfile, AMissingOrUncreatableUserFolder)
{
    // Missing: created on load, the default profile written into it; the same when even the
    // application-data folder is gone.
    for (const std::wstring& gone : {UserFolder(), m_appData})
    {
        RemoveTree(gone);
        CameraIsoTable t;
        ASSERT_FALSE(t.Load());
        EXPECT_TRUE(Exists(UserProfile()));
    }

    // The folder cannot be made (a file stands in its place): nothing is written, nothing breaks,
    // and the shipped copy is still read.
    RemoveTree(m_appData);
    WriteBytes(m_appData, "not a folder");
    WriteBytes(ShippedProfile(), ProfileFile({{"<<Unknown Camera>>", {100}}, {"Shipped / Cam", {200}}}, "2"));
    CameraIsoTable u;
    u.Load();
    EXPECT_EQ(Names(u), (std::vector<std::wstring>{HPX_UNKNOWN_CAMERA, L"Shipped / Cam"}));
    EXPECT_TRUE(u.Save());
    EXPECT_EQ(ReadBytes(m_appData), "not a folder");
}
