// Settings file, crash flag, language list and localised texts; the slider maps and the transfer
// of a profile entry onto the panel's controls.
#include "ProfTestSupport.h"

#include <commctrl.h>

#include <cmath>
#include <cstring>

#include "profiles/CameraIsoHelpers.h"
#include "profiles/CameraIsoTable.h"
#include "profiles/IsoSettings.h"
#include "profiles/Localisation.h"
#include "profiles/Settings.h"
#include "profiles/SliderValueMap.h"

using namespace proftest;

namespace
{

std::wstring Key(const std::wstring& file, const wchar_t* section, const wchar_t* key)
{
    wchar_t buf[1024];
    GetPrivateProfileStringW(section, key, L"<missing>", buf, 1024, file.c_str());
    return buf;
}

}  // namespace

class SettingsStore : public TempFolders
{
protected:
    void SetUp() override
    {
        TempFolders::SetUp();
        g_iHwAccel = g_iGpuCpuFusion = g_iAdvancedDenoise = g_iLanguageCurrent = 77;
        g_bCrashedLastTime = 77;
        g_iLanguageCount = 77;
        ResetLocalizedStrings();
    }
    void TearDown() override
    {
        ResetLocalizedStrings();
        g_iLanguageCurrent = 0;
        g_iLanguageCount = 0;
        TempFolders::TearDown();
    }
};

TEST_F(SettingsStore, FirstStartReadsDefaultsEnglishAndSetsTheCrashFlag)
{
    ASSERT_FALSE(Exists(UserFolder()));
    LoadSettings();
    LoadLocalizedStrings();
    EXPECT_EQ(g_iHwAccel, 0);
    EXPECT_EQ(g_iGpuCpuFusion, 0);
    EXPECT_EQ(g_iAdvancedDenoise, 0);
    EXPECT_EQ(g_iLanguageCurrent, 0);
    EXPECT_EQ(g_bCrashedLastTime, 0);
    EXPECT_EQ(g_iLanguageCount, 0);
    EXPECT_EQ(Key(SettingsFile(), L"General", L"Crashed Last Time"), L"1");
    for (int n = 1; n <= HPX_LOC_STRING_COUNT; ++n) EXPECT_STREQ(g_LocStrings[n], GetDefaultLocString(n)) << n;
    EXPECT_STREQ(g_LocStrings[85],
                 L"The application crashed last time. It's probably caused by low memory or by big "
                 L"size of photo you tried to denoise. Please crop the image and denoise the image again.");
    EXPECT_STREQ(g_LocStrings[0], L"");
    EXPECT_STREQ(g_LocStrings[HPX_LOC_STRING_COUNT + 1], L"");
    EXPECT_EQ(ReadSettingInt(L"jpeg", 85), 85);
    EXPECT_EQ(ReadSettingInt(L"ShowManualTunning", 1), 1);
}

TEST_F(SettingsStore, TheCrashFlagTellsTheNextStartUntilTheWindowClearsIt)
{
    LoadSettings();
    EXPECT_EQ(g_bCrashedLastTime, 0);
    LoadSettings();  // the previous run never cleared it
    EXPECT_EQ(g_bCrashedLastTime, 1);
    ClearCrashFlag();
    LoadSettings();
    EXPECT_EQ(g_bCrashedLastTime, 0);
    // Only the low byte of the stored number counts.
    WriteSettingInt(L"Crashed Last Time", 0x102);
    LoadSettings();
    EXPECT_EQ(g_bCrashedLastTime, 2);
}

TEST_F(SettingsStore, ValuesReadBackAsWrittenAndTextIsTakenAsAnInteger)
{
    ASSERT_TRUE(WriteSettingInt(L"HW Accel", 1));
    ASSERT_TRUE(WriteSettingInt(L"GPUCPUFusion", 1));
    ASSERT_TRUE(WriteSettingInt(L"Language Current", 3));
    ASSERT_TRUE(WriteSettingString(L"AdvancedDenoise", L"abc"));
    ASSERT_TRUE(WriteSettingString(L"jpeg", L"  42xyz"));
    const std::wstring folder = L"C:\\Fotos\\Gr\u00fc\u00dfe \u65e5\u672c";
    ASSERT_TRUE(WriteSettingString(L"Latest Folder", folder.c_str()));
    LoadSettings();
    EXPECT_EQ(g_iHwAccel, 1);
    EXPECT_EQ(g_iGpuCpuFusion, 1);
    EXPECT_EQ(g_iLanguageCurrent, 3);
    EXPECT_EQ(g_iAdvancedDenoise, 0);
    EXPECT_EQ(ReadSettingInt(L"jpeg", 85), 42);
    wchar_t back[1024];
    ReadSettingString(L"Latest Folder", L"", back, 1024);
    EXPECT_EQ(std::wstring(back), folder);  // the file is Unicode: nothing is narrowed
    EXPECT_EQ(ReadSettingInt(L"Missing Key", -7), -7);
    EXPECT_EQ(Key(SettingsFile(), L"General", L"HW Accel"), L"1");
}

TEST_F(SettingsStore, LanguageListIsCappedAndAcronymsCut)
{
    std::string loc = "[General]\r\nLanguages No=150\r\n";
    for (int i = 0; i < 120; ++i)
        loc += "[" + std::to_string(i) + "]\r\nLanguage=Lang " + std::to_string(i) +
            "\r\nAcronym=ABCDEFGHIJKLMNOPQRST\r\n";
    WriteBytes(LocFile(), loc);
    LoadSettings();
    EXPECT_EQ(g_iLanguageCount, 100);
    EXPECT_STREQ(g_Languages[0].m_wcsLanguage, L"Lang 0");
    EXPECT_STREQ(g_Languages[99].m_wcsLanguage, L"Lang 99");
    EXPECT_STREQ(g_Languages[5].m_wcsAcronym, L"ABCDEFGHIJKLMNO");

    WriteBytes(LocFile(), "[General]\r\nLanguages No=-4\r\n");
    LoadSettings();
    EXPECT_EQ(g_iLanguageCount, 0);
}

TEST_F(SettingsStore, MissingTextsEmptySectionsAndUnknownLanguagesFallBackToEnglish)
{
    WriteBytes(LocFile(),
               "[General]\r\nLanguages No=3\r\n"
               "[0]\r\nLanguage=Test\r\nAcronym=TS\r\nstring1=First text\r\nstring7=\r\n"
               "string143=Line one\\nLine two\r\nstring153=Last\r\n"
               "[1]\r\n"
               "[2]\r\nLanguage=Other\r\nstring1=Other first\r\n");
    const struct
    {
        int language;
        const wchar_t* text1;
    } cases[] = {{0, L"First text"}, {1, nullptr}, {2, L"Other first"}, {7, nullptr}, {-1, nullptr}};
    for (const auto& c : cases)
    {
        ResetLocalizedStrings();
        g_iLanguageCurrent = c.language;
        LoadLocalizedStrings();
        EXPECT_STREQ(g_LocStrings[1], c.text1 ? c.text1 : GetDefaultLocString(1)) << c.language;
        EXPECT_STREQ(g_LocStrings[2], GetDefaultLocString(2)) << c.language;  // missing key
        EXPECT_STREQ(g_LocStrings[7], GetDefaultLocString(7)) << c.language;  // empty value
        EXPECT_STREQ(g_LocStrings[64], GetDefaultLocString(64)) << c.language;
        if (c.language == 0)
        {
            EXPECT_STREQ(g_LocStrings[143], L"Line one\nLine two");
            EXPECT_STREQ(g_LocStrings[153], L"Last");
        }
        else
        {
            EXPECT_STREQ(g_LocStrings[143], GetDefaultLocString(143));
        }
    }
    // No file at all.
    DeleteFileW(LocFile().c_str());
    g_iLanguageCurrent = 0;
    LoadLocalizedStrings();
    EXPECT_STREQ(g_LocStrings[1], GetDefaultLocString(1));
}

TEST(ShippedFiles, TheLocalisationFileHoldsTheBuiltInEnglishTextsAndTheProfileTheDefault)
{
    // The files beside the plug-in, read as the plug-in reads them.
    const std::wstring dist = Widen(HPX_SOURCE_DIR) + L"/resources/dist";
    SetPluginFolderOverride(dist.c_str());
    // A private, empty user folder.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring appData = std::wstring(temp) + L"hpxprof_shipped_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(appData.c_str(), nullptr);
    SetAppDataFolderOverride(appData.c_str());
    wchar_t text[HPX_LOC_STRING_CHARS];
    for (int n = 1; n <= HPX_LOC_STRING_COUNT; ++n)
    {
        // Read straight from the file (no English default behind it) and through the loader.
        wchar_t key[16], raw[HPX_LOC_STRING_CHARS];
        swprintf(key, 16, L"string%d", n);
        wchar_t path[1024];
        GetLocalisationFilePath(path);
        GetPrivateProfileStringW(L"0", key, L"", raw, HPX_LOC_STRING_CHARS, path);
        EXPECT_NE(raw[0], 0) << "string" << n << " is missing from the shipped file";
        ReadLocalizedString(0, n, text);
        EXPECT_STREQ(text, GetDefaultLocString(n)) << n;
    }
    wchar_t path[1024];
    GetLocalisationFilePath(path);
    EXPECT_GE(GetPrivateProfileIntW(L"General", L"Languages No", 0, path), 1u);
    wchar_t name[64];
    GetPrivateProfileStringW(L"0", L"Language", L"", name, 64, path);
    EXPECT_STREQ(name, L"English");

    // Every other language is complete, and its letters beyond ASCII survive (a UTF-16 file).
    LoadSettings();
    ASSERT_GE(g_iLanguageCount, 2);
    EXPECT_STREQ(g_Languages[1].m_wcsLanguage, L"Deutsch");
    for (int language = 1; language < g_iLanguageCount; ++language)
    {
        wchar_t section[10];
        swprintf(section, 10, L"%d", language);
        for (int n = 1; n <= HPX_LOC_STRING_COUNT; ++n)
        {
            wchar_t key[16], raw[HPX_LOC_STRING_CHARS];
            swprintf(key, 16, L"string%d", n);
            GetPrivateProfileStringW(section, key, L"", raw, HPX_LOC_STRING_CHARS, path);
            EXPECT_NE(raw[0], 0) << "string" << n << " is missing from language " << language;
        }
    }
    ReadLocalizedString(1, 7, text);
    EXPECT_STREQ(text, L"Schlie\u00dfen");
    ReadLocalizedString(1, 143, text);
    EXPECT_NE(wcsstr(text, L"\n\n <<Unknown Camera>>"), nullptr);
    g_iLanguageCount = 0;

    // The shipped profile alone (no user copy) loads as the default profile, version 2.
    CameraIsoTable t;
    EXPECT_FALSE(t.Load());
    ASSERT_EQ(t.m_uiCameraCount, 1u);
    ASSERT_EQ(t.m_pCameras[0].m_uiISOCount, 1u);
    IsoSettings s{};
    ASSERT_FALSE(t.GetIsoSettings(&s, 0, 0));
    const IsoSettings d = DefaultIsoSettings();
    EXPECT_EQ(0, memcmp(&s, &d, sizeof s));
    EXPECT_FALSE(Exists(appData + L"\\HPXPhotoshopPlugIn\\CameraISOSettingX.ini"));
    RestoreDefaultFolders();
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, nullptr);
    RemoveTree(appData);
}

TEST(SliderMaps, EndsClampingAndRounding)
{
    const SliderValueMap strength{20, 1000, 1.0, 50.0};
    EXPECT_EQ(strength.ToPosition(10.0), 200);
    EXPECT_EQ(strength.ToValue(19), 1.0);
    EXPECT_EQ(strength.ToValue(20), 1.0);
    EXPECT_EQ(strength.ToValue(1000), 50.0);
    EXPECT_EQ(strength.ToValue(5000), 50.0);
    EXPECT_DOUBLE_EQ(strength.ToValue(200), 10.0);
    EXPECT_EQ(strength.ToPosition(-3.0), 20);
    EXPECT_EQ(strength.ToPosition(1.0), 20);
    EXPECT_EQ(strength.ToPosition(50.0), 1000);
    EXPECT_EQ(strength.ToPosition(80.0), 1000);

    const SliderValueMap dynamics{0, 200, -2.0, 2.0};
    EXPECT_EQ(dynamics.ToPosition(0.0), 100);
    EXPECT_DOUBLE_EQ(dynamics.ToValue(150), 1.0);
    // One step below the left end (a line-up step on a trackbar at 0) is the minimum.
    EXPECT_EQ(dynamics.ToValue(-1), -2.0);
    EXPECT_EQ(dynamics.ToPosition(std::nan("")), 0);

    const SliderValueMap detail{0, 20, 0.0, 4.0};
    EXPECT_EQ(detail.ToPosition(1.0), 5);
    const SliderValueMap halves{0, 8, 0.0, 4.0};
    EXPECT_EQ(halves.ToPosition(0.25), 1);  // 0.5 of a step rounds up
    EXPECT_EQ(halves.ToPosition(0.24), 0);
    for (int p = 0; p <= 20; ++p) EXPECT_EQ(detail.ToPosition(detail.ToValue(p)), p);
}

TEST(PanelHelpers, RectanglesAndBoundedFormatting)
{
    const RECT r{10, 20, 30, 40};
    EXPECT_TRUE(PointInRect(POINT{10, 20}, r));
    EXPECT_FALSE(PointInRect(POINT{30, 25}, r));
    EXPECT_FALSE(PointInRect(POINT{15, 40}, r));
    EXPECT_TRUE(RectEquals(r, RECT{10, 20, 30, 40}));
    EXPECT_TRUE(RectDiffers(r, RECT{10, 20, 30, 41}));
    wchar_t small[128];
    std::wstring longText(500, L'y');
    FormatText(small, L"%ls/%i", longText.c_str(), 5);
    EXPECT_EQ(wcslen(small), 127u);
    wchar_t big[1024];
    EXPECT_STREQ(FormatText(big, L"%.1f|%ls", 2.26, L"ok"), L"2.3|ok");
}

// ---- the transfer of a profile entry onto the panel's controls ----------------------------------

namespace
{

int g_iButtonUps = 0;
WPARAM g_lastButtonUpFlags = 0;

LRESULT CALLBACK FakePanelProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_LBUTTONUP)
    {
        ++g_iButtonUps;
        g_lastButtonUpFlags = wParam;
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

// A window that holds the panel's trackbars, value labels and median buttons under their ids.
HWND CreateFakePanel()
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSW wc{};
    wc.lpfnWndProc = FakePanelProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HpxProfFakePanel";
    RegisterClassW(&wc);
    HWND panel = CreateWindowExW(0, L"HpxProfFakePanel", L"panel", WS_OVERLAPPEDWINDOW, 0, 0, 400, 600, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    const int bars[7] = {1025, 1039, 1043, 1042, 1047, 1050, 1051};
    const int labels[7] = {1028, 1041, 1045, 1089, 1094, 1095, 1096};
    const SliderValueMap maps[7] = {{20, 1000, 1, 50}, {20, 1000, 1, 50}, {0, 1000, 0, 50}, {0, 200, -2, 2},
                                    {0, 20, 0, 4},     {0, 20, 0, 4},     {0, 20, 0, 4}};
    for (int i = 0; i < 7; ++i)
    {
        HWND bar = CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE | TBS_NOTICKS, 10, 10 + 40 * i, 200,
                                   20, panel, reinterpret_cast<HMENU>(static_cast<INT_PTR>(bars[i])), nullptr, nullptr);
        SendMessageW(bar, TBM_SETRANGE, TRUE, MAKELPARAM(maps[i].m_uiPosMin, maps[i].m_uiPosMax));
        CreateWindowExW(0, L"STATIC", L"?", WS_CHILD | WS_VISIBLE, 220, 10 + 40 * i, 60, 20, panel,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(labels[i])), nullptr, nullptr);
    }
    for (int i = 0; i < 3; ++i)
        CreateWindowExW(0, L"BUTTON", L"m", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0),
                        10 + 80 * i, 300, 70, 20, panel, reinterpret_cast<HMENU>(static_cast<INT_PTR>(1114 + i)),
                        nullptr, nullptr);
    return panel;
}

}  // namespace

TEST(PanelTransfer, AnEntrySetsTrackbarsLabelsAndMedianButtonsThenAsksForAPreview)
{
    HWND panel = CreateFakePanel();
    ASSERT_NE(panel, nullptr);
    const SliderValueMap maps[7] = {{20, 1000, 1, 50}, {20, 1000, 1, 50}, {0, 1000, 0, 50}, {0, 200, -2, 2},
                                    {0, 20, 0, 4},     {0, 20, 0, 4},     {0, 20, 0, 4}};
    IsoSettings s = DefaultIsoSettings();
    s.m_dStrength = 12.5;
    s.m_dStrengthChroma = 70;  // beyond the map: the trackbar's end
    s.m_dStrengthChromaLarge = 0;
    s.m_dDynamics = -0.75;
    s.m_dSharp1 = 0;
    s.m_dSharp2 = 2.2;
    s.m_dSharp3 = 4;
    s.m_iUseMedian = 2;
    g_iButtonUps = 0;
    CheckDlgButton(panel, 1114, BST_CHECKED);
    ApplyIsoSettingsToPanel(panel, &s, maps);
    const int expected[7] = {250, 1000, 0, 63, 0, 11, 20};
    const wchar_t* texts[7] = {L"12.5", L"70.0", L"0.0", L"-0.75", L"0.0", L"2.2", L"4.0"};
    const int bars[7] = {1025, 1039, 1043, 1042, 1047, 1050, 1051};
    const int labels[7] = {1028, 1041, 1045, 1089, 1094, 1095, 1096};
    for (int i = 0; i < 7; ++i)
    {
        EXPECT_EQ(SendDlgItemMessageW(panel, bars[i], TBM_GETPOS, 0, 0), expected[i]) << bars[i];
        EXPECT_EQ(ItemText(panel, labels[i]), texts[i]) << labels[i];
    }
    EXPECT_EQ(IsDlgButtonChecked(panel, 1114), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(panel, 1116), BST_CHECKED);
    EXPECT_EQ(g_iButtonUps, 1);
    EXPECT_EQ(g_lastButtonUpFlags, 1u);

    // A median mode outside 0..2 leaves all three buttons clear.
    s.m_iUseMedian = 5;
    ApplyIsoSettingsToPanel(panel, &s, maps);
    for (int id = 1114; id <= 1116; ++id) EXPECT_EQ(IsDlgButtonChecked(panel, id), BST_UNCHECKED);
    s.m_iUseMedian = 1;
    ApplyIsoSettingsToPanel(panel, &s, maps);
    EXPECT_EQ(IsDlgButtonChecked(panel, 1115), BST_CHECKED);
    EXPECT_EQ(g_iButtonUps, 3);
    ApplyIsoSettingsToPanel(panel, nullptr, maps);  // nothing to apply: nothing happens
    EXPECT_EQ(g_iButtonUps, 3);
    DestroyWindow(panel);
}
