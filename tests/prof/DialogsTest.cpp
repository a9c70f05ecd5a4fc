// The Options, camera/ISO name and batch-options dialogs, opened on this thread and answered by
// a second one, skinned, with their localised texts; screenshots go to artefacts/.
#include "ProfTestSupport.h"

#include <commctrl.h>

#include "app/dialogs/BatchOptionsDialog.h"
#include "app/dialogs/CameraIsoNameDialog.h"
#include "profiles/Localisation.h"
#include "app/dialogs/OptionsDialog.h"
#include "profiles/Settings.h"
#include "plugin/prof_ids.h"
#include "ui/ControlSkin.h"

using namespace proftest;

namespace
{

std::wstring Key(const std::wstring& file, const wchar_t* key)
{
    wchar_t buf[1024];
    GetPrivateProfileStringW(L"General", key, L"<missing>", buf, 1024, file.c_str());
    return buf;
}

bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }
bool Checked(HWND dlg, int id) { return SendDlgItemMessageW(dlg, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Click(HWND dlg, int id) { SendDlgItemMessageW(dlg, id, BM_CLICK, 0, 0); }

// What shows that the control skin is on: the procedure kept under "WindowProc", owner-drawn OK
// button, and the dark face colour on the dialog's background.
struct SkinSeen
{
    bool dialogSkinned = false;
    bool okOwnerDrawn = false;
    COLORREF background = CLR_INVALID;
};
SkinSeen LookAtSkin(HWND dlg)
{
    SkinSeen s;
    s.dialogSkinned = GetPropW(dlg, L"WindowProc") != nullptr;
    s.okOwnerDrawn = (GetWindowLongW(GetDlgItem(dlg, IDOK), GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
    HDC dc = GetDC(dlg);
    s.background = GetPixel(dc, 2, 2);
    ReleaseDC(dlg, dc);
    return s;
}
void ExpectSkinned(const SkinSeen& s)
{
    EXPECT_TRUE(s.dialogSkinned);
    EXPECT_TRUE(s.okOwnerDrawn);
    EXPECT_EQ(s.background, RGB(0x46, 0x46, 0x46));
}

BOOL CALLBACK CollectStatic(HWND hWnd, LPARAM lParam)
{
    wchar_t cls[16];
    GetClassNameW(hWnd, cls, 16);
    if (_wcsicmp(cls, L"Static") == 0) *reinterpret_cast<std::wstring*>(lParam) += WindowText(hWnd);
    return TRUE;
}

// Centre of a window's rectangle.
POINT Centre(HWND hWnd)
{
    RECT r;
    GetWindowRect(hWnd, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

class Dialogs : public TempFolders
{
protected:
    void SetUp() override
    {
        TempFolders::SetUp();
        SetSkinScheme(2);
        ResetLocalizedStrings();
        g_iLanguageCurrent = 0;
        g_iLanguageCount = 0;
        m_owner = CreateOwnerWindow();
        ASSERT_NE(m_owner, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(m_owner);
        FreeSkinBrushes();
        ResetLocalizedStrings();
        g_iLanguageCurrent = 0;
        g_iLanguageCount = 0;
        TempFolders::TearDown();
    }
    HWND m_owner = nullptr;
};

TEST_F(Dialogs, OptionsChangesLanguageAndGpuModeAndAnnouncesTheRestartInTheNewLanguage)
{
    WriteBytes(LocFile(),
               "[General]\r\nLanguages No=2\r\n"
               "[0]\r\nLanguage=English\r\nAcronym=EN\r\nstring57=Options\r\nstring61=Use the GPU\r\n"
               "[1]\r\nLanguage=Deutsch\r\nAcronym=DE\r\nstring57=Optionen\r\nstring63=Hinweis\r\n"
               "string64=Starten Sie neu, damit die Sprache wechselt!\r\n");
    WriteSettingInt(L"HW Accel", 0);
    WriteSettingInt(L"GPUCPUFusion", 1);
    WriteSettingInt(L"Language Current", 0);
    LoadSettings();
    LoadLocalizedStrings();

    struct
    {
        std::wstring title, label, check, fusion, pure, ok, cancel;
        LRESULT languages = 0, selected = -2;
        bool hw = true, fusionChecked = false, fusionEnabled = true, pureEnabled = true;
        bool enabledAfterClick = false, pureAfterClick = false;
        SkinSeen skin;
        POINT centre{}, ownerCentre{};
        std::wstring shot, boxCaption, boxText, boxShot;
    } seen;
    bool timedOut = false;
    const INT_PTR result =
        DriveDialog([&] { return ShowOptionsDialog(m_owner); },
                    [&](HWND dlg)
                    {
                        seen.title = WindowText(dlg);
                        seen.label = ItemText(dlg, IDC_OPT_LANGUAGE_LABEL);
                        seen.check = ItemText(dlg, IDC_OPT_HWACCEL);
                        seen.fusion = ItemText(dlg, IDC_OPT_FUSION);
                        seen.pure = ItemText(dlg, IDC_OPT_PUREGPU);
                        seen.ok = ItemText(dlg, IDOK);
                        seen.cancel = ItemText(dlg, IDCANCEL);
                        seen.languages = SendDlgItemMessageW(dlg, IDC_OPT_LANGUAGE, CB_GETCOUNT, 0, 0);
                        seen.selected = SendDlgItemMessageW(dlg, IDC_OPT_LANGUAGE, CB_GETCURSEL, 0, 0);
                        seen.hw = Checked(dlg, IDC_OPT_HWACCEL);
                        seen.fusionChecked = Checked(dlg, IDC_OPT_FUSION);
                        seen.fusionEnabled = Enabled(dlg, IDC_OPT_FUSION);
                        seen.pureEnabled = Enabled(dlg, IDC_OPT_PUREGPU);
                        seen.skin = LookAtSkin(dlg);
                        seen.centre = Centre(dlg);
                        seen.ownerCentre = Centre(m_owner);
                        Click(dlg, IDC_OPT_HWACCEL);
                        seen.enabledAfterClick = Enabled(dlg, IDC_OPT_FUSION) && Enabled(dlg, IDC_OPT_PUREGPU);
                        Click(dlg, IDC_OPT_PUREGPU);
                        seen.pureAfterClick = Checked(dlg, IDC_OPT_PUREGPU) && !Checked(dlg, IDC_OPT_FUSION);
                        SendDlgItemMessageW(dlg, IDC_OPT_LANGUAGE, CB_SETCURSEL, 1, 0);
                        seen.shot = SaveScreenshot(dlg, L"options_157");
                        PostMessageW(dlg, WM_COMMAND, IDOK, 0);
                        HWND box = WaitForDialog(GetWindowThreadProcessId(dlg, nullptr), dlg, 5000);
                        if (box)
                        {
                            seen.boxCaption = WindowText(box);
                            EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&seen.boxText));
                            seen.boxShot = SaveScreenshot(box, L"options_157_restart_notice");
                            PostMessageW(box, WM_COMMAND, IDOK, 0);
                        }
                    },
                    &timedOut);

    EXPECT_FALSE(timedOut);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seen.title, L"Options");
    EXPECT_EQ(seen.label, L"Select language:");
    EXPECT_EQ(seen.check, L"Use the GPU");  // from the language file
    EXPECT_EQ(seen.fusion, L"CPU+GPU Fusion");
    EXPECT_EQ(seen.pure, L"Pure GPU");
    EXPECT_EQ(seen.ok, L"OK");
    EXPECT_EQ(seen.cancel, L"Cancel");
    EXPECT_EQ(seen.languages, 2);
    EXPECT_EQ(seen.selected, 0);
    EXPECT_FALSE(seen.hw);
    EXPECT_TRUE(seen.fusionChecked);
    EXPECT_FALSE(seen.fusionEnabled);
    EXPECT_FALSE(seen.pureEnabled);
    EXPECT_TRUE(seen.enabledAfterClick);
    EXPECT_TRUE(seen.pureAfterClick);
    ExpectSkinned(seen.skin);
    EXPECT_NEAR(seen.centre.x, seen.ownerCentre.x, 2);
    EXPECT_NEAR(seen.centre.y, seen.ownerCentre.y, 2);
    EXPECT_FALSE(seen.shot.empty());
    EXPECT_FALSE(seen.boxShot.empty());
    EXPECT_EQ(seen.boxCaption, L"Hinweis");
    EXPECT_NE(seen.boxText.find(L"Starten Sie neu"), std::wstring::npos);

    EXPECT_EQ(Key(SettingsFile(), L"Language Current"), L"1");
    EXPECT_EQ(Key(SettingsFile(), L"HW Accel"), L"1");
    EXPECT_EQ(Key(SettingsFile(), L"AdvancedDenoise"), L"0");
    EXPECT_EQ(Key(SettingsFile(), L"GPUCPUFusion"), L"0");
    EXPECT_EQ(g_iLanguageCurrent, 1);
    EXPECT_EQ(g_iHwAccel, 1);
    EXPECT_EQ(g_iGpuCpuFusion, 0);
    // Only the notice changed language; everything else waits for the next start.
    EXPECT_STREQ(g_LocStrings[63], L"Hinweis");
    EXPECT_STREQ(g_LocStrings[57], L"Options");
    EXPECT_STREQ(g_LocStrings[61], L"Use the GPU");
}

TEST_F(Dialogs, OptionsCancelStoresNothingAndUncheckingTheGpuGreysItsModes)
{
    WriteSettingInt(L"HW Accel", 1);
    WriteSettingInt(L"GPUCPUFusion", 0);
    WriteSettingInt(L"Language Current", 0);

    bool modesEnabled = false, modesGreyed = false, pureChecked = false;
    bool timedOut = false;
    INT_PTR result = DriveDialog([&] { return ShowOptionsDialog(m_owner); },
                                 [&](HWND dlg)
                                 {
                                     modesEnabled = Enabled(dlg, IDC_OPT_FUSION) && Enabled(dlg, IDC_OPT_PUREGPU);
                                     pureChecked = Checked(dlg, IDC_OPT_PUREGPU);
                                     Click(dlg, IDC_OPT_HWACCEL);
                                     modesGreyed = !Enabled(dlg, IDC_OPT_FUSION) && !Enabled(dlg, IDC_OPT_PUREGPU);
                                     PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                                 },
                                 &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(modesEnabled);
    EXPECT_TRUE(pureChecked);
    EXPECT_TRUE(modesGreyed);
    // ShowOptionsDialog re-reads the settings (which sets the crash flag again); the choices stay.
    EXPECT_EQ(Key(SettingsFile(), L"HW Accel"), L"1");
    EXPECT_EQ(Key(SettingsFile(), L"GPUCPUFusion"), L"0");

    // No language file: an empty list; OK with the GPU unticked keeps the mode choice and shows
    // no notice, since the language was not changed.
    HWND notice = reinterpret_cast<HWND>(1);
    result = DriveDialog([&] { return ShowOptionsDialog(m_owner); },
                         [&](HWND dlg)
                         {
                             Click(dlg, IDC_OPT_HWACCEL);
                             PostMessageW(dlg, WM_COMMAND, IDOK, 0);
                             notice = WaitForDialog(GetWindowThreadProcessId(dlg, nullptr), dlg, 700);
                             if (notice) PostMessageW(notice, WM_COMMAND, IDOK, 0);
                         },
                         &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(notice, nullptr);
    EXPECT_EQ(Key(SettingsFile(), L"HW Accel"), L"0");
    EXPECT_EQ(Key(SettingsFile(), L"AdvancedDenoise"), L"0");
    EXPECT_EQ(Key(SettingsFile(), L"GPUCPUFusion"), L"0");
    EXPECT_EQ(Key(SettingsFile(), L"Language Current"), L"-1");
    LoadSettings();
    LoadLocalizedStrings();
    EXPECT_STREQ(g_LocStrings[57], GetDefaultLocString(57));
}

TEST_F(Dialogs, CameraIsoNameTakesMakeModelAndIsoFromExif)
{
    // Texts come from the localised table.
    wcscpy(g_LocStrings.m_wcsText[142], L"Neue Konfiguration");
    wcscpy(g_LocStrings.m_wcsText[130], L"Kamera:");
    wcscpy(g_LocStrings.m_wcsText[60], L"Abbrechen");
    ImageInfoStrings info;
    info.Clear();
    wcscpy(info[ImageInfoStrings::kMake], L"NIKON CORPORATION");
    wcscpy(info[ImageInfoStrings::kModel], L"NIKON D90");
    wcscpy(info[ImageInfoStrings::kIso], L"800");
    AddConfigurationData data{};
    wcscpy(data.m_wszCamera, L"Old Cam");
    wcscpy(data.m_wszIso, L"200");
    data.m_pInfo = &info;

    struct
    {
        std::wstring title, label, cancel, camera, iso, cameraAfter, isoAfter, shot;
        bool exifEnabled = false;
        SkinSeen skin;
    } seen;
    bool timedOut = false;
    INT_PTR result = DriveDialog([&] { return ShowAddConfigurationDialog(m_owner, &data); },
                                 [&](HWND dlg)
                                 {
                                     seen.title = WindowText(dlg);
                                     seen.label = ItemText(dlg, IDC_ADDCFG_CAMERA_LABEL);
                                     seen.cancel = ItemText(dlg, IDCANCEL);
                                     seen.camera = ItemText(dlg, IDC_ADDCFG_CAMERA);
                                     seen.iso = ItemText(dlg, IDC_ADDCFG_ISO);
                                     seen.exifEnabled = Enabled(dlg, IDC_ADDCFG_EXIF);
                                     seen.skin = LookAtSkin(dlg);
                                     Click(dlg, IDC_ADDCFG_EXIF);
                                     seen.cameraAfter = ItemText(dlg, IDC_ADDCFG_CAMERA);
                                     seen.isoAfter = ItemText(dlg, IDC_ADDCFG_ISO);
                                     seen.shot = SaveScreenshot(dlg, L"camera_iso_name_179");
                                     PostMessageW(dlg, WM_COMMAND, IDOK, 0);
                                 },
                                 &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seen.title, L"Neue Konfiguration");
    EXPECT_EQ(seen.label, L"Kamera:");
    EXPECT_EQ(seen.cancel, L"Abbrechen");
    EXPECT_EQ(seen.camera, L"Old Cam");
    EXPECT_EQ(seen.iso, L"200");
    EXPECT_TRUE(seen.exifEnabled);
    EXPECT_EQ(seen.cameraAfter, L"NIKON / D90");
    EXPECT_EQ(seen.isoAfter, L"800");
    ExpectSkinned(seen.skin);
    EXPECT_FALSE(seen.shot.empty());
    EXPECT_STREQ(data.m_wszCamera, L"NIKON / D90");
    EXPECT_STREQ(data.m_wszIso, L"800");

    // Only an ISO: the button fills the ISO and leaves the camera; Cancel still hands back the
    // texts of the fields.
    info.Clear();
    wcscpy(info[ImageInfoStrings::kIso], L"1600");
    wcscpy(data.m_wszCamera, L"Keep / Me");
    wcscpy(data.m_wszIso, L"100");
    bool enabled = false;
    result = DriveDialog([&] { return ShowAddConfigurationDialog(m_owner, &data); },
                         [&](HWND dlg)
                         {
                             enabled = Enabled(dlg, IDC_ADDCFG_EXIF);
                             Click(dlg, IDC_ADDCFG_EXIF);
                             PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                         },
                         &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(enabled);
    EXPECT_STREQ(data.m_wszCamera, L"Keep / Me");
    EXPECT_STREQ(data.m_wszIso, L"1600");

    // No image information, or a make without model and no ISO: the button is disabled.
    for (bool makeOnly : {false, true})
    {
        info.Clear();
        if (makeOnly) wcscpy(info[ImageInfoStrings::kMake], L"Canon");
        data.m_pInfo = makeOnly ? &info : nullptr;
        enabled = true;
        result = DriveDialog([&] { return ShowAddConfigurationDialog(m_owner, &data); },
                             [&](HWND dlg)
                             {
                                 enabled = Enabled(dlg, IDC_ADDCFG_EXIF);
                                 // Typed text longer than a name can hold is cut to 127 characters.
                                 SetWindowTextW(GetDlgItem(dlg, IDC_ADDCFG_CAMERA), std::wstring(300, L'n').c_str());
                                 PostMessageW(dlg, WM_COMMAND, IDOK, 0);
                             },
                             &timedOut);
        EXPECT_FALSE(timedOut);
        EXPECT_FALSE(enabled) << makeOnly;
        EXPECT_EQ(wcslen(data.m_wszCamera), 127u);
    }
}

TEST_F(Dialogs, BatchOptionsShowsAndStoresTheJpegQualityWithinItsRange)
{
    WriteSettingInt(L"jpeg", 5);
    wcscpy(g_LocStrings.m_wcsText[72], L"Stapel-Optionen");
    struct
    {
        std::wstring title, value, info, shot;
        LRESULT pos = 0;
        bool focusOnOk = false, inFront = false;
        SkinSeen skin;
    } seen;
    bool timedOut = false;
    INT_PTR result = DriveDialog([&] { return ShowBatchOptionsDialog(m_owner, 0); },
                                 [&](HWND dlg)
                                 {
                                     seen.title = WindowText(dlg);
                                     seen.value = ItemText(dlg, IDC_BATCHOPT_JPEG_VALUE);
                                     seen.info = ItemText(dlg, IDC_BATCHOPT_INFO);
                                     seen.pos = SendDlgItemMessageW(dlg, IDC_BATCHOPT_JPEG, TBM_GETPOS, 0, 0);
                                     // A person sees the dialog in front; tests running in parallel may hold the
                                     // foreground, so it is brought to the front first (a window that is not in front
                                     // has no focus to look at). The focus must then be on OK.
                                     GUITHREADINFO gti{};
                                     gti.cbSize = sizeof gti;
                                     for (int attempt = 0; attempt < 100 && gti.hwndActive != dlg; ++attempt)
                                     {
                                         SetForegroundWindow(dlg);
                                         Sleep(20);
                                         GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gti);
                                     }
                                     seen.inFront = gti.hwndActive == dlg;
                                     seen.focusOnOk = gti.hwndFocus == GetDlgItem(dlg, IDOK);
                                     seen.skin = LookAtSkin(dlg);
                                     seen.shot = SaveScreenshot(dlg, L"batch_options_152");
                                     PostMessageW(dlg, WM_COMMAND, IDOK, 0);
                                 },
                                 &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seen.title, L"Stapel-Optionen");
    EXPECT_EQ(seen.value, L"10");
    EXPECT_EQ(seen.pos, 10);
    EXPECT_EQ(seen.info, GetDefaultLocString(143));
    ASSERT_TRUE(seen.inFront) << "the dialog never came to the front";
    EXPECT_TRUE(seen.focusOnOk);
    ExpectSkinned(seen.skin);
    EXPECT_FALSE(seen.shot.empty());
    EXPECT_EQ(Key(SettingsFile(), L"jpeg"), L"10");
    EXPECT_EQ(g_iBatchJpegQuality, 10);

    // To the right end and one step further: 100, stored by OK.
    std::wstring atEnd, afterStep;
    result =
        DriveDialog([&] { return ShowBatchOptionsDialog(m_owner, 0); },
                    [&](HWND dlg)
                    {
                        HWND bar = GetDlgItem(dlg, IDC_BATCHOPT_JPEG);
                        SendMessageW(dlg, WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 100), reinterpret_cast<LPARAM>(bar));
                        atEnd = ItemText(dlg, IDC_BATCHOPT_JPEG_VALUE);
                        SendMessageW(dlg, WM_HSCROLL, MAKEWPARAM(SB_LINERIGHT, 0), reinterpret_cast<LPARAM>(bar));
                        afterStep = ItemText(dlg, IDC_BATCHOPT_JPEG_VALUE);
                        PostMessageW(dlg, WM_COMMAND, IDOK, 0);
                    },
                    &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(atEnd, L"100");
    EXPECT_EQ(afterStep, L"100");
    EXPECT_EQ(Key(SettingsFile(), L"jpeg"), L"100");

    // Cancel writes nothing but the slider's value stays in the global; a stored value beyond 100
    // shows and is used as 100.
    WriteSettingInt(L"jpeg", 150);
    std::wstring shown;
    result = DriveDialog([&] { return ShowBatchOptionsDialog(m_owner, 0); },
                         [&](HWND dlg)
                         {
                             HWND bar = GetDlgItem(dlg, IDC_BATCHOPT_JPEG);
                             shown = ItemText(dlg, IDC_BATCHOPT_JPEG_VALUE);
                             SendMessageW(bar, TBM_SETPOS, TRUE, 50);
                             SendMessageW(dlg, WM_HSCROLL, MAKEWPARAM(SB_LINELEFT, 0), reinterpret_cast<LPARAM>(bar));
                             PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                         },
                         &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(shown, L"100");
    EXPECT_EQ(g_iBatchJpegQuality, 49);
    EXPECT_EQ(Key(SettingsFile(), L"jpeg"), L"150");
}
