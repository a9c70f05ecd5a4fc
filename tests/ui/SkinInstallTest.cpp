// Installing the skin on a window tree, its removal at destruction, the label subclass, and the
// emulated check states of skinned push-like buttons.
#include "UiTestSupport.h"
#include "skin_test_ids.h"
#include "ui/ControlSkin.h"

namespace
{

INT_PTR CALLBACK PlainDlgProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

HWND MakeDialog(int id)
{
    HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr, PlainDlgProc, 0);
    return dlg;
}

WNDPROC ProcOf(HWND h) { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_WNDPROC)); }
HANDLE PropOf(HWND h) { return GetPropW(h, L"WindowProc"); }

// A control class that records, at its own WM_DESTROY, what procedure and property it still has.
struct DestroyRecord
{
    bool seen = false;
    WNDPROC procAtDestroy = nullptr;
    HANDLE propAtDestroy = nullptr;
    LONG_PTR userDataAtDestroy = 0;
};
DestroyRecord g_destroyed;

LRESULT CALLBACK RecorderProc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    if (msg == WM_DESTROY)
    {
        g_destroyed.seen = true;
        g_destroyed.procAtDestroy = ProcOf(h);
        g_destroyed.propAtDestroy = PropOf(h);
        g_destroyed.userDataAtDestroy = GetWindowLongPtrW(h, GWLP_USERDATA);
    }
    return DefWindowProcW(h, msg, w, l);
}

void RegisterClassOnce(const wchar_t* name, WNDPROC proc)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&wc);
}

class SkinInstall : public ::testing::Test
{
protected:
    void SetUp() override { SetSkinScheme(2); }
    void TearDown() override
    {
        for (HWND h : m_windows)
            if (IsWindow(h)) DestroyWindow(h);
        uitest::Pump(1);
        FreeSkinBrushes();
        SetSkinMode(0);
    }
    HWND Keep(HWND h)
    {
        m_windows.push_back(h);
        return h;
    }
    std::vector<HWND> m_windows;
};

TEST_F(SkinInstall, WholeTreeGetsTheProcedureAndTheClassTreatment)
{
    HWND dlg = Keep(MakeDialog(IDD_SKIN_PLAIN));
    ASSERT_NE(dlg, nullptr);
    HWND ok = GetDlgItem(dlg, IDOK), cancel = GetDlgItem(dlg, IDCANCEL), toggle = GetDlgItem(dlg, IDC_TOGGLE);
    HWND check = GetDlgItem(dlg, IDC_CHECK_ON), tab = GetDlgItem(dlg, IDC_TAB), list = GetDlgItem(dlg, IDC_LISTVIEW);
    const WNDPROC dlgProcBefore = ProcOf(dlg), okBefore = ProcOf(ok), checkBefore = ProcOf(check);
    const LONG checkStyle = GetWindowLongW(check, GWL_STYLE);

    InstallSkin(dlg);

    // Every window of the tree: SkinWndProc in place, the former procedure in "WindowProc".
    EXPECT_EQ(ProcOf(dlg), &SkinWndProc);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(PropOf(dlg)), dlgProcBefore);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(PropOf(ok)), okBefore);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(PropOf(check)), checkBefore);
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    {
        EXPECT_EQ(ProcOf(c), &SkinWndProc) << GetDlgCtrlID(c);
        EXPECT_NE(PropOf(c), nullptr) << GetDlgCtrlID(c);
    }
    // The list view's header is a grandchild: reached too.
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(ProcOf(header), &SkinWndProc);

    // Push buttons become owner-drawn with the mark; the default one too.
    EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE) & (BS_TYPEMASK | SKIN_OWNERDRAW_MARK), BS_OWNERDRAW | SKIN_OWNERDRAW_MARK);
    EXPECT_EQ(GetWindowLongW(cancel, GWL_STYLE) & (BS_TYPEMASK | SKIN_OWNERDRAW_MARK),
              BS_OWNERDRAW | SKIN_OWNERDRAW_MARK);
    EXPECT_TRUE(GetWindowLongW(ok, GWL_STYLE) & WS_TABSTOP);  // other bits kept
    // A push-like auto check box keeps its type in bits 4-7.
    EXPECT_EQ(GetWindowLongPtrW(toggle, GWLP_USERDATA), 0x30);
    EXPECT_EQ(GetWindowLongW(toggle, GWL_STYLE) & (BS_TYPEMASK | SKIN_OWNERDRAW_MARK | BS_PUSHLIKE),
              BS_OWNERDRAW | SKIN_OWNERDRAW_MARK | BS_PUSHLIKE);
    EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(dlg, IDC_PRADIO2), GWLP_USERDATA), BS_AUTORADIOBUTTON << 4);
    // Check boxes keep their style: the skin paints them directly.
    EXPECT_EQ(GetWindowLongW(check, GWL_STYLE), checkStyle);
    // Tab controls draw their items through the skin; list views take the skin colours.
    EXPECT_TRUE(GetWindowLongW(tab, GWL_STYLE) & TCS_OWNERDRAWFIXED);
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(list, LVM_GETBKCOLOR, 0, 0)), uitest::HexColor(0x414141));
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(list, LVM_GETTEXTCOLOR, 0, 0)), uitest::HexColor(0xBEBEBE));
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(list, LVM_GETTEXTBKCOLOR, 0, 0)), uitest::HexColor(0x414141));

    // The default-button handling cannot undo the owner drawing.
    SendMessageW(ok, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    SendMessageW(cancel, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_EQ(GetWindowLongW(cancel, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_TRUE(GetWindowLongW(ok, GWL_STYLE) & SKIN_OWNERDRAW_MARK);

    // A second installation changes nothing.
    const LONG okStyle = GetWindowLongW(ok, GWL_STYLE);
    const HANDLE okProp = PropOf(ok);
    InstallSkin(dlg);
    EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE), okStyle);
    EXPECT_EQ(PropOf(ok), okProp);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(PropOf(dlg)), dlgProcBefore);
    EXPECT_EQ(GetWindowLongPtrW(toggle, GWLP_USERDATA), 0x30);
}

TEST_F(SkinInstall, SkippedSubtreesExcludedDialogsAndNotifySinks)
{
    RegisterClassOnce(L"HpxSkinTestHost", DefWindowProcW);
    RegisterClassOnce(L"CtrlNotifySink", DefWindowProcW);
    HWND top = Keep(CreateWindowExW(0, L"HpxSkinTestHost", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr));
    ASSERT_NE(top, nullptr);
    // A child that already carries the property keeps its whole subtree untouched.
    HWND marked = CreateWindowExW(0, L"HpxSkinTestHost", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, top, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    SetPropW(marked, L"WindowProc", reinterpret_cast<HANDLE>(DefWindowProcW));
    HWND inner = CreateWindowExW(0, L"Button", L"inner", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 50, 20, marked,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    // Buttons of a "CtrlNotifySink" stay system buttons.
    HWND sink = CreateWindowExW(0, L"CtrlNotifySink", nullptr, WS_CHILD | WS_VISIBLE, 100, 0, 100, 100, top, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    HWND sinkButton = CreateWindowExW(0, L"Button", L"sink", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 50, 20, sink,
                                      nullptr, GetModuleHandleW(nullptr), nullptr);
    const WNDPROC markedProc = ProcOf(marked);
    const LONG innerStyle = GetWindowLongW(inner, GWL_STYLE);

    InstallSkin(top);
    EXPECT_EQ(ProcOf(marked), markedProc);
    EXPECT_EQ(PropOf(inner), nullptr);
    EXPECT_EQ(GetWindowLongW(inner, GWL_STYLE), innerStyle);
    EXPECT_EQ(ProcOf(sinkButton), &SkinWndProc);
    EXPECT_EQ(GetWindowLongW(sinkButton, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    RemovePropW(marked, L"WindowProc");

    // A dialog with DS_SETFOREGROUND keeps the system look in the dark scheme (Windows 6 and later).
    OSVERSIONINFOW vi = {};
    vi.dwOSVersionInfoSize = sizeof(vi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&vi);
#pragma GCC diagnostic pop
    HWND fg = Keep(MakeDialog(IDD_SKIN_FOREGROUND));
    ASSERT_NE(fg, nullptr);
    HWND fgOk = GetDlgItem(fg, IDOK), fgCheck = GetDlgItem(fg, IDC_CHECK_ON);
    InstallSkin(fg);
    if (vi.dwMajorVersion >= 6)
    {
        EXPECT_TRUE(IsSkinExcludedDialog(fgOk));
        EXPECT_EQ(GetWindowLongW(fgOk, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
        EXPECT_FALSE(SkinPaintFilter(fgCheck, WM_PAINT, 0));
        EXPECT_FALSE(SkinPaintFilter(fg, WM_CTLCOLORSTATIC, 0));
    }
    EXPECT_TRUE(SkinPaintFilter(fgCheck, WM_DESTROY, 0));
    EXPECT_FALSE(IsSkinExcludedDialog(nullptr));
    EXPECT_FALSE(IsSkinExcludedDialog(top));
    SetSkinScheme(1);
    EXPECT_FALSE(IsSkinExcludedDialog(fgOk));  // only the dark schemes exclude
}

TEST_F(SkinInstall, FilterFollowsTheScheme)
{
    HWND dlg = Keep(MakeDialog(IDD_SKIN_PLAIN));
    InstallSkin(dlg);
    HWND check = GetDlgItem(dlg, IDC_CHECK_ON), tab = GetDlgItem(dlg, IDC_TAB);
    HWND three = GetDlgItem(dlg, IDC_CHECK_3STATE);
    EXPECT_TRUE(SkinPaintFilter(check, WM_PAINT, 0));
    EXPECT_TRUE(SkinPaintFilter(three, WM_PAINT, 0));
    EXPECT_FALSE(SkinPaintFilter(tab, WM_ERASEBKGND, 0));
    EXPECT_TRUE(SkinPaintFilter(GetDlgItem(dlg, IDC_PROGRESS), WM_NCPAINT, 0));
    // Light scheme: only disabled plain buttons are painted by the skin.
    SetSkinScheme(1);
    EXPECT_FALSE(SkinPaintFilter(check, WM_PAINT, 0));
    EnableWindow(check, FALSE);
    EXPECT_TRUE(SkinPaintFilter(check, WM_PAINT, 0));
    EXPECT_TRUE(SkinPaintFilter(tab, WM_ERASEBKGND, 0));
    EXPECT_FALSE(SkinPaintFilter(GetDlgItem(dlg, IDC_PROGRESS), WM_NCPAINT, 0));
    // No scheme: nothing but the unhooking.
    SetSkinMode(0);
    EXPECT_FALSE(SkinPaintFilter(check, WM_PAINT, 0));
    EXPECT_FALSE(SkinPaintFilter(dlg, WM_CTLCOLORBTN, 0));
    EXPECT_FALSE(SkinPaintFilter(dlg, WM_DRAWITEM, 0));
    EXPECT_TRUE(SkinPaintFilter(check, WM_DESTROY, 0));
}

TEST_F(SkinInstall, DestroyingPutsTheFormerProcedureBackAndDropsTheProperty)
{
    RegisterClassOnce(L"HpxSkinRecorder", RecorderProc);
    HWND dlg = Keep(MakeDialog(IDD_SKIN_PLAIN));
    HWND rec = CreateWindowExW(0, L"HpxSkinRecorder", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, dlg, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(rec, nullptr);
    InstallSkin(dlg);
    ASSERT_EQ(ProcOf(rec), &SkinWndProc);
    g_destroyed = DestroyRecord();
    DestroyWindow(dlg);
    ASSERT_TRUE(g_destroyed.seen);
    EXPECT_EQ(g_destroyed.procAtDestroy, &RecorderProc);
    EXPECT_EQ(g_destroyed.propAtDestroy, nullptr);

    // The same after a later subclass that unhooks itself first.
    HWND dlg2 = Keep(MakeDialog(IDD_SKIN_PLAIN));
    HWND rec2 = CreateWindowExW(0, L"HpxSkinRecorder", nullptr, WS_CHILD, 0, 0, 20, 20, dlg2, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SetSkinMode(0);  // unhooking does not depend on the scheme
    InstallSkin(dlg2);
    g_destroyed = DestroyRecord();
    DestroyWindow(rec2);
    EXPECT_EQ(g_destroyed.procAtDestroy, &RecorderProc);
    EXPECT_EQ(g_destroyed.propAtDestroy, nullptr);
}

TEST_F(SkinInstall, LabelSubclassRecordLivesUntilDestroy)
{
    RegisterClassOnce(L"HpxSkinRecorder", RecorderProc);
    HWND dlg = Keep(MakeDialog(IDD_SKIN_PLAIN));
    HWND rec = CreateWindowExW(0, L"HpxSkinRecorder", L"Group", WS_CHILD | WS_VISIBLE, 0, 0, 80, 40, dlg, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(rec, GWLP_USERDATA, 0x1234);
    ASSERT_FALSE(SubclassLabel(rec, 0));
    auto* first = reinterpret_cast<LabelRecord*>(GetWindowLongPtrW(rec, GWLP_USERDATA));
    // A second subclass keeps the one record (its predecessor is never the label procedure).
    ASSERT_FALSE(SubclassLabel(rec, 2));
    auto* record = reinterpret_cast<LabelRecord*>(GetWindowLongPtrW(rec, GWLP_USERDATA));
    EXPECT_EQ(record, first);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->hWnd, rec);
    EXPECT_EQ(record->pfnPrevProc, &RecorderProc);
    EXPECT_EQ(record->prevUserData, 0x1234);
    EXPECT_EQ(record->flags, 2);
    EXPECT_EQ(ProcOf(rec), &LabelWndProc);
    // Erasing is left to the paint; the text change repaints and answers TRUE.
    HDC dc = GetDC(rec);
    EXPECT_EQ(SendMessageW(rec, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), TRUE);
    ReleaseDC(rec, dc);
    EXPECT_EQ(SendMessageW(rec, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"New caption")), TRUE);
    wchar_t text[32] = {};
    GetWindowTextW(rec, text, 32);
    EXPECT_STREQ(text, L"New caption");
    // WM_DESTROY takes the subclass off (procedure and user data back, record freed); the label
    // procedure answers it itself, so the control's own procedure does not see it.
    g_destroyed = DestroyRecord();
    InvalidateRect(rec, nullptr, TRUE);
    UpdateWindow(rec);
    SendMessageW(rec, WM_DESTROY, 0, 0);
    EXPECT_FALSE(g_destroyed.seen);
    EXPECT_EQ(ProcOf(rec), &RecorderProc);
    EXPECT_EQ(GetWindowLongPtrW(rec, GWLP_USERDATA), 0x1234);
}

TEST_F(SkinInstall, PushLikeButtonsKeepTheirEmulatedCheckState)
{
    HWND dlg = Keep(MakeDialog(IDD_SKIN_PLAIN));
    InstallSkin(dlg);
    ShowWindow(dlg, SW_SHOWNA);
    uitest::Pump(2);
    HWND toggle = GetDlgItem(dlg, IDC_TOGGLE);
    HWND r1 = GetDlgItem(dlg, IDC_PRADIO1), r2 = GetDlgItem(dlg, IDC_PRADIO2), r3 = GetDlgItem(dlg, IDC_PRADIO3);
    HWND after = GetDlgItem(dlg, IDC_PUSH);

    EXPECT_EQ(SendMessageW(toggle, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageW(toggle, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageW(toggle, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(GetWindowLongPtrW(toggle, GWLP_USERDATA), 0x31);
    // A click does not change it; only BM_SETCHECK does.
    SendMessageW(toggle, BM_CLICK, 0, 0);
    uitest::Pump(1);
    EXPECT_EQ(SendMessageW(toggle, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendMessageW(toggle, BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_EQ(SendMessageW(toggle, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(GetWindowLongPtrW(toggle, GWLP_USERDATA), 0x30);

    // Push-like radio group: exactly one checked, and the group's others keep their type.
    SendMessageW(r2, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageW(r1, BM_GETCHECK, 0, 0), 0);
    EXPECT_EQ(SendMessageW(r2, BM_GETCHECK, 0, 0), 1);
    EXPECT_EQ(SendMessageW(r3, BM_GETCHECK, 0, 0), 0);
    SendMessageW(r1, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageW(r1, BM_GETCHECK, 0, 0), 1);
    EXPECT_EQ(SendMessageW(r2, BM_GETCHECK, 0, 0), 0);
    EXPECT_EQ(SendMessageW(r3, BM_GETCHECK, 0, 0), 0);
    SendMessageW(r3, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageW(r1, BM_GETCHECK, 0, 0), 0);
    EXPECT_EQ(SendMessageW(r3, BM_GETCHECK, 0, 0), 1);
    for (HWND r : {r1, r2, r3}) EXPECT_EQ(GetWindowLongPtrW(r, GWLP_USERDATA) & 0xF0, BS_AUTORADIOBUTTON << 4);
    // The group ends at the next WS_GROUP: the push button after it is not touched.
    EXPECT_EQ(GetWindowLongPtrW(after, GWLP_USERDATA), 0);
    // An emulated state 2 reads back as unchecked.
    SendMessageW(toggle, BM_SETCHECK, BST_INDETERMINATE, 0);
    EXPECT_EQ(GetWindowLongPtrW(toggle, GWLP_USERDATA), 0x32);
    EXPECT_EQ(SendMessageW(toggle, BM_GETCHECK, 0, 0), 0);

    // Plain check boxes keep their system state through the skin's repaint.
    HWND check = GetDlgItem(dlg, IDC_CHECK_ON), three = GetDlgItem(dlg, IDC_CHECK_3STATE);
    SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendMessageW(check, BM_CLICK, 0, 0);
    uitest::Pump(1);
    EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageW(three, BM_SETCHECK, BST_INDETERMINATE, 0);
    EXPECT_EQ(SendMessageW(three, BM_GETCHECK, 0, 0), BST_INDETERMINATE);
}

int g_lastCommand = 0;
INT_PTR CALLBACK CommandRecorderDlgProc(HWND, UINT msg, WPARAM w, LPARAM)
{
    if (msg == WM_COMMAND) g_lastCommand = LOWORD(w);
    return msg == WM_INITDIALOG;
}

// Skinned buttons answer the dialog manager as system buttons do: Enter presses the focused or
// the default button, Escape is Cancel, Tab and the arrows move the focus.
TEST_F(SkinInstall, DialogKeysWorkOnSkinnedButtons)
{
    HWND dlg = Keep(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SKIN_PLAIN), nullptr,
                                       CommandRecorderDlgProc, 0));
    ASSERT_NE(dlg, nullptr);
    InstallSkin(dlg);
    ShowWindow(dlg, SW_SHOW);
    SetForegroundWindow(dlg);
    uitest::Pump(2);
    auto press = [dlg](UINT key)
    {
        g_lastCommand = 0;
        MSG m = {GetFocus(), WM_KEYDOWN, key, 0, 0, {0, 0}};
        IsDialogMessageW(dlg, &m);
        return g_lastCommand;
    };
    HWND ok = GetDlgItem(dlg, IDOK), cancel = GetDlgItem(dlg, IDCANCEL);
    SetFocus(ok);
    EXPECT_EQ(press(VK_RETURN), IDOK);
    EXPECT_EQ(press(VK_ESCAPE), IDCANCEL);
    press(VK_TAB);
    ASSERT_EQ(GetFocus(), cancel);
    EXPECT_EQ(press(VK_ESCAPE), IDCANCEL);
    EXPECT_EQ(press(VK_RETURN), IDCANCEL);
    press(VK_TAB);  // on to the push-like toggle: Enter presses the default button, OK again
    EXPECT_EQ(press(VK_RETURN), IDOK);

    HWND r1 = GetDlgItem(dlg, IDC_PRADIO1), r2 = GetDlgItem(dlg, IDC_PRADIO2);
    SetFocus(r1);
    press(VK_RIGHT);
    EXPECT_EQ(GetFocus(), r2);
    press(VK_LEFT);
    EXPECT_EQ(GetFocus(), r1);
}

}  // namespace

namespace
{

TEST_F(SkinInstall, ShortScrollBarShowsOnlyItsBackgroundAndThreeStateBoxesStaySystem)
{
    HWND dlg = Keep(MakeDialog(IDD_SKIN_PLAIN));
    const int arrow = GetSystemMetrics(SM_CYVTHUMB);
    HWND bar = CreateWindowExW(0, L"ScrollBar", nullptr, WS_CHILD | WS_VISIBLE | SBS_VERT, 0, 0, 14, arrow * 2 - 4, dlg,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND tall = CreateWindowExW(0, L"ScrollBar", nullptr, WS_CHILD | WS_VISIBLE | SBS_VERT, 20, 0, 14, arrow * 4, dlg,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND three = CreateWindowExW(0, L"Button", L"3", WS_CHILD | WS_VISIBLE | BS_3STATE, 40, 0, 40, 14, dlg, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    InstallSkin(dlg);
    EXPECT_FALSE(SkinPaintFilter(three, WM_PAINT, 0));
    EXPECT_FALSE(SkinPaintFilter(three, BM_SETCHECK, 0));

    for (HWND h : {bar, tall})
    {
        RECT rc;
        GetClientRect(h, &rc);
        uitest::Dib dib(rc.right, rc.bottom);
        dib.Fill(RGB(255, 0, 255));
        SendMessageW(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dib.dc()), PRF_CLIENT);
        // The shadow outline, a face one inside; on the tall bar the arrow buttons' raised edges.
        EXPECT_EQ(uitest::Hex(dib.At(0, 0)), h == tall ? "#000000" : "#373737");
        EXPECT_EQ(uitest::Hex(dib.At(0, rc.bottom / 2)), "#373737");
        EXPECT_EQ(uitest::Hex(dib.At(1, rc.bottom / 2)), "#464646");
        bool arrowSeen = false;
        for (int y = 0; y < rc.bottom; ++y)
            for (int x = 0; x < rc.right; ++x) arrowSeen = arrowSeen || dib.At(x, y) == uitest::HexColor(0xE6E6E6);
        EXPECT_EQ(arrowSeen, h == tall) << (h == tall ? "tall bar without arrows" : "short bar with arrows");
    }
}

}  // namespace
