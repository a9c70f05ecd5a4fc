// A skinned dialog holding every control class, captured from its window DC: the colours on
// screen are the dark scheme's. The screenshot is kept as an artefact of the run.
#include "UiTestSupport.h"
#include "skin_test_ids.h"
#include "ui/ControlSkin.h"

#include <algorithm>
#include <cmath>
#include <string>

using uitest::Dib;
using uitest::Hex;
using uitest::HexColor;

namespace
{

HBITMAP g_bitmaps[3];
HIMAGELIST g_toolbarImages, g_toolbarGrey;

void BuildToolbar(HWND dlg)
{
    HINSTANCE self = GetModuleHandleW(nullptr);
    HWND tb = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                              WS_CHILD | WS_VISIBLE | WS_BORDER | TBSTYLE_LIST | TBSTYLE_TOOLTIPS, 0, 0, 0, 0, dlg,
                              reinterpret_cast<HMENU>(IDC_TOOLBAR), self, nullptr);
    SendMessageW(tb, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(tb, TB_SETINDENT, 7, 0);
    HBITMAP folder = LoadPngBitmap(self, L"IDP_FOLDER");
    BITMAP bm = {};
    GetObjectW(folder, sizeof(bm), &bm);
    DeleteObject(folder);
    SendMessageW(tb, TB_SETBITMAPSIZE, 0, MAKELONG(bm.bmWidth, bm.bmWidth));
    SendMessageW(tb, TB_SETBUTTONSIZE, 0, MAKELONG(bm.bmWidth + 9, bm.bmWidth + 9));
    g_toolbarImages = ImageList_Create(bm.bmWidth, bm.bmWidth, ILC_COLOR32, 0, 1);
    g_toolbarGrey = ImageList_Create(bm.bmWidth, bm.bmWidth, ILC_COLOR32, 0, 1);
    for (const wchar_t* name :
         {L"IDP_DENOISEBATCH", L"IDP_ZOOMIN", L"IDP_ZOOMOUT", L"IDP_ZOOM100", L"IDP_ZOOMFIT", L"IDP_PICKER"})
    {
        HBITMAP b = LoadPngBitmap(self, name);
        ImageList_Add(g_toolbarImages, b, nullptr);
        AddGreyedBitmap(g_toolbarGrey, b);
        DeleteObject(b);
    }
    SendMessageW(tb, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(g_toolbarImages));
    SendMessageW(tb, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(g_toolbarGrey));
    static wchar_t menuText[] = L"Menu";
    TBBUTTON buttons[] = {
        {0, 32800, TBSTATE_ENABLED, BTNS_BUTTON, {0}, 0, 0},
        {0, 0, 0, BTNS_SEP, {0}, 0, 0},
        {1, 32793, TBSTATE_ENABLED, BTNS_BUTTON, {0}, 0, 0},
        {2, 32794, 0, BTNS_BUTTON, {0}, 0, 0},
        {3, 32806, TBSTATE_ENABLED | TBSTATE_CHECKED, BTNS_CHECK, {0}, 0, 0},
        {4, 32795, TBSTATE_ENABLED, BTNS_BUTTON, {0}, 0, 0},
        {5, 32811, TBSTATE_ENABLED, BTNS_AUTOSIZE, {0}, 0, reinterpret_cast<INT_PTR>(menuText)},
    };
    SendMessageW(tb, TB_ADDBUTTONSW, sizeof(buttons) / sizeof(buttons[0]), reinterpret_cast<LPARAM>(buttons));
    SendMessageW(tb, TB_AUTOSIZE, 0, 0);
}

void FillControls(HWND dlg)
{
    HINSTANCE self = GetModuleHandleW(nullptr);
    BuildToolbar(dlg);
    HWND sb = CreateWindowExW(0, STATUSCLASSNAMEW, L"Press Ctrl+O to open an image", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                              dlg, reinterpret_cast<HMENU>(IDC_STATUSBAR), self, nullptr);
    (void)sb;

    g_bitmaps[0] = LoadPngBitmap(self, L"SETTINGS_SAVE");
    g_bitmaps[1] = LoadPngBitmap(self, L"SETTINGS_DELETE");
    g_bitmaps[2] = LoadPngBitmap(self, L"SETTINGS_HIDE");
    SendDlgItemMessageW(dlg, IDC_BITMAP_BUTTON, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(g_bitmaps[0]));
    SendDlgItemMessageW(dlg, IDC_BITMAP_DISABLED, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(g_bitmaps[1]));
    SendDlgItemMessageW(dlg, IDC_TOGGLE, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(g_bitmaps[2]));

    CheckDlgButton(dlg, IDC_CHECK_ON, BST_CHECKED);
    CheckDlgButton(dlg, IDC_CHECK_DISABLED, BST_CHECKED);
    CheckDlgButton(dlg, IDC_CHECK_3STATE, BST_INDETERMINATE);
    CheckDlgButton(dlg, IDC_RADIO1, BST_CHECKED);

    for (int id : {IDC_TRACK, IDC_TRACK_TICKS, IDC_TRACK_DISABLED})
    {
        SendDlgItemMessageW(dlg, id, TBM_SETRANGE, TRUE, MAKELONG(0, 100));
        SendDlgItemMessageW(dlg, id, TBM_SETTICFREQ, 10, 0);
        SendDlgItemMessageW(dlg, id, TBM_SETPOS, TRUE, 70);
    }
    SendDlgItemMessageW(dlg, IDC_PROGRESS, PBM_SETRANGE32, 0, 100);
    SendDlgItemMessageW(dlg, IDC_PROGRESS, PBM_SETPOS, 40, 0);
    for (int id : {IDC_COMBO_LIST, IDC_COMBO_EDIT})
    {
        for (const wchar_t* s : {L"100.0 %", L"50.0 %", L"25.0 %"})
            SendDlgItemMessageW(dlg, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        SendDlgItemMessageW(dlg, id, CB_SETCURSEL, 0, 0);
    }
    SetDlgItemTextW(dlg, IDC_EDIT, L"Edit text");
    for (const wchar_t* s : {L"Canon EOS", L"Nikon D", L"Sony A", L"Pentax K", L"Fuji X"})
        SendDlgItemMessageW(dlg, IDC_LISTBOX, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));

    HWND lv = GetDlgItem(dlg, IDC_LISTVIEW);
    SendMessageW(lv, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, LVS_EX_GRIDLINES);
    const wchar_t* cols[] = {L"Camera", L"ISO"};
    for (int i = 0; i < 2; ++i)
    {
        LVCOLUMNW c = {};
        c.mask = LVCF_TEXT | LVCF_WIDTH;
        c.pszText = const_cast<wchar_t*>(cols[i]);
        c.cx = i ? 80 : 120;
        SendMessageW(lv, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&c));
    }
    const wchar_t* rows[][2] = {{L"Canon EOS 5D", L"800"}, {L"Nikon D850", L"1600"}, {L"Sony A7", L"3200"}};
    for (int r = 0; r < 3; ++r)
    {
        LVITEMW it = {};
        it.mask = LVIF_TEXT;
        it.iItem = r;
        it.pszText = const_cast<wchar_t*>(rows[r][0]);
        SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
        it.iSubItem = 1;
        it.pszText = const_cast<wchar_t*>(rows[r][1]);
        SendMessageW(lv, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&it));
    }
    HWND tab = GetDlgItem(dlg, IDC_TAB);
    for (const wchar_t* s : {L"Basic", L"Advanced"})
    {
        TCITEMW ti = {};
        ti.mask = TCIF_TEXT;
        ti.pszText = const_cast<wchar_t*>(s);
        SendMessageW(tab, TCM_INSERTITEMW, SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0), reinterpret_cast<LPARAM>(&ti));
    }
    for (int id : {IDC_HSCROLL, IDC_VSCROLL})
    {
        SCROLLINFO si = {sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 100, 20, 30, 0};
        SetScrollInfo(GetDlgItem(dlg, id), SB_CTL, &si, TRUE);
    }
    HWND tree = GetDlgItem(dlg, IDC_TREE);
    TVINSERTSTRUCTW ins = {};
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = const_cast<wchar_t*>(L"Folder");
    HTREEITEM root =
        reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    ins.hParent = root;
    ins.item.pszText = const_cast<wchar_t*>(L"Image");
    SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));

    SubclassLabel(GetDlgItem(dlg, IDC_GROUP1), 0);
    InstallSkin(dlg);
    SendDlgItemMessageW(dlg, IDC_PRADIO2, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageW(dlg, IDC_TOGGLE, BM_SETCHECK, BST_CHECKED, 0);
}

INT_PTR CALLBACK SkinTestDlgProc(HWND dlg, UINT msg, WPARAM, LPARAM lParam)
{
    switch (msg)
    {
    case WM_INITDIALOG:
        FillControls(dlg);
        return FALSE;
    case WM_SIZE:
        SendDlgItemMessageW(dlg, IDC_STATUSBAR, WM_SIZE, 0, 0);
        SendDlgItemMessageW(dlg, IDC_TOOLBAR, TB_AUTOSIZE, 0, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

// Rectangle of a control in the dialog's client coordinates.
RECT ClientRectOf(HWND dlg, HWND ctrl)
{
    RECT r;
    GetWindowRect(ctrl, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int Luma(COLORREF c) { return (299 * GetRValue(c) + 587 * GetGValue(c) + 114 * GetBValue(c)) / 1000; }

bool Contains(const Dib& shot, const RECT& r, COLORREF want, int tolerance = 0)
{
    for (int y = std::max(0L, r.top); y < std::min<long>(shot.height(), r.bottom); ++y)
        for (int x = std::max(0L, r.left); x < std::min<long>(shot.width(), r.right); ++x)
        {
            const COLORREF c = shot.At(x, y);
            if (std::abs(GetRValue(c) - GetRValue(want)) <= tolerance &&
                std::abs(GetGValue(c) - GetGValue(want)) <= tolerance &&
                std::abs(GetBValue(c) - GetBValue(want)) <= tolerance)
                return true;
        }
    return false;
}

COLORREF Brightest(const Dib& shot, const RECT& r)
{
    COLORREF best = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (Luma(shot.At(x, y)) > Luma(best)) best = shot.At(x, y);
    return best;
}

std::wstring ArtifactPath(const char* name)
{
    std::string p = std::string(HPX_ARTIFACT_DIR) + "/" + name;
    std::wstring w(p.begin(), p.end());
    if (!w.empty() && w[0] == L'/') w = L"Z:" + w;  // a Unix path seen through Wine's root drive
    for (wchar_t& ch : w)
        if (ch == L'/') ch = L'\\';
    return w;
}

class SkinDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ApplyDefaultSkin();
        Open();
    }
    void Open()
    {
        m_dlg =
            CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SKIN_ALL), nullptr, SkinTestDlgProc, 0);
        ASSERT_NE(m_dlg, nullptr);
        SetWindowPos(m_dlg, HWND_TOPMOST, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        SendMessageW(m_dlg, WM_SIZE, 0, 0);
        UpdateWindow(m_dlg);
        uitest::Pump(10);
        RedrawWindow(m_dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        uitest::Pump(10);
    }
    void Close()
    {
        if (m_dlg) DestroyWindow(m_dlg);
        m_dlg = nullptr;
        for (HBITMAP& b : g_bitmaps)
        {
            if (b) DeleteObject(b);
            b = nullptr;
        }
        if (g_toolbarImages) ImageList_Destroy(g_toolbarImages);
        if (g_toolbarGrey) ImageList_Destroy(g_toolbarGrey);
        g_toolbarImages = g_toolbarGrey = nullptr;
        uitest::Pump(1);
    }
    void TearDown() override
    {
        Close();
        FreeSkinBrushes();
        SetSkinMode(0);
    }
    HWND Item(int id) const { return GetDlgItem(m_dlg, id); }
    HWND m_dlg = nullptr;
};

TEST_F(SkinDialog, EveryControlIsDrawnInTheDarkScheme)
{
    RECT client;
    GetClientRect(m_dlg, &client);
    Dib shot(client.right, client.bottom);
    uitest::CaptureClient(m_dlg, shot);
    EXPECT_TRUE(uitest::SavePng(shot, ArtifactPath("skin-dialog.png")));

    const COLORREF face = HexColor(0x464646);
    // The dialog's own background, between the two group boxes.
    const RECT g2 = ClientRectOf(m_dlg, Item(IDC_GROUP2));
    const RECT label = ClientRectOf(m_dlg, Item(IDC_LABEL));
    EXPECT_EQ(Hex(shot.At((g2.right + label.left) / 2, (g2.top + g2.bottom) / 2)), Hex(face));

    // Trackbar thumbs: face inside a raised edge.
    for (int id : {IDC_TRACK, IDC_TRACK_TICKS, IDC_TRACK_DISABLED})
    {
        HWND tb = Item(id);
        RECT th = {};
        SendMessageW(tb, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&th));
        const RECT at = ClientRectOf(m_dlg, tb);
        EXPECT_EQ(Hex(shot.At(at.left + (th.left + th.right) / 2, at.top + th.top + 3)), Hex(face)) << id;
        EXPECT_EQ(Hex(shot.At(at.left + th.left, at.top + th.top + 2)), Hex(HexColor(0x000000))) << id;
    }

    // Status bar: a highlight line along its top, face below, text in button text.
    HWND sb = Item(IDC_STATUSBAR);
    const RECT sbr = ClientRectOf(m_dlg, sb);
    RECT sbc;
    GetClientRect(sb, &sbc);
    EXPECT_EQ(Hex(shot.At(sbr.left + 40, sbr.top)), Hex(HexColor(0x646464)));
    EXPECT_EQ(Hex(shot.At(sbr.right - 20, sbr.top + sbc.bottom / 2)), Hex(face));
    EXPECT_EQ(Hex(Brightest(shot, {sbr.left, sbr.top + 1, sbr.left + 200, sbr.bottom})), Hex(HexColor(0xE6E6E6)));

    // Toolbar: face behind the buttons, the checked button sunken.
    const RECT tbr = ClientRectOf(m_dlg, Item(IDC_TOOLBAR));
    EXPECT_EQ(Hex(shot.At(tbr.right - 30, (tbr.top + tbr.bottom) / 2)), Hex(face));

    // Owner-drawn push button: face inside a raised edge, text in button text.
    const RECT push = ClientRectOf(m_dlg, Item(IDC_PUSH));
    EXPECT_EQ(Hex(shot.At(push.left + 3, push.top + 3)), Hex(face));
    EXPECT_EQ(Hex(shot.At(push.left, push.top)), Hex(HexColor(0x000000)));              // 3-D light
    EXPECT_EQ(Hex(shot.At(push.right - 1, push.bottom - 1)), Hex(HexColor(0x323232)));  // dark shadow
    EXPECT_EQ(Hex(shot.At(push.left + 1, push.top + 1)), Hex(HexColor(0x646464)));      // highlight
    EXPECT_EQ(Hex(Brightest(shot, push)), Hex(HexColor(0xE6E6E6)));
    const RECT disabledPush = ClientRectOf(m_dlg, Item(IDC_PUSH_DISABLED));
    EXPECT_EQ(Hex(Brightest(shot, disabledPush)), Hex(HexColor(0xB4B4B4)));

    // Check boxes: the dark glyphs and the texts in button text / grey text.
    const RECT on = ClientRectOf(m_dlg, Item(IDC_CHECK_ON));
    const RECT glyphOn = {on.left, on.top, on.left + 14, on.bottom};
    EXPECT_TRUE(Contains(shot, glyphOn, HexColor(0x9CC3EA), 8)) << "CHECKD_SELON tick";
    EXPECT_TRUE(Contains(shot, glyphOn, HexColor(0x2B2B2B))) << "CHECKD_SELON box";
    EXPECT_EQ(Hex(Brightest(shot, {on.left + 16, on.top, on.right, on.bottom})), Hex(HexColor(0xE6E6E6)));
    const RECT off = ClientRectOf(m_dlg, Item(IDC_CHECK_OFF));
    EXPECT_FALSE(Contains(shot, {off.left, off.top, off.left + 14, off.bottom}, HexColor(0x9CC3EA), 8));
    EXPECT_TRUE(Contains(shot, {off.left, off.top, off.left + 14, off.bottom}, HexColor(0xB4B4B4)));
    const RECT dis = ClientRectOf(m_dlg, Item(IDC_CHECK_DISABLED));
    EXPECT_EQ(Hex(Brightest(shot, {dis.left + 16, dis.top, dis.right, dis.bottom})), Hex(HexColor(0xB4B4B4)));
    EXPECT_TRUE(Contains(shot, {dis.left, dis.top, dis.left + 14, dis.bottom}, HexColor(0x8A8A8A), 8))
        << "CHECKD_SELOFF tick";
    const RECT semi = ClientRectOf(m_dlg, Item(IDC_CHECK_3STATE));
    EXPECT_TRUE(Contains(shot, {semi.left, semi.top, semi.left + 14, semi.bottom}, HexColor(0x9CC3EA)))
        << "CHECKD_SEMION square";

    // Radio button texts.
    const RECT radio = ClientRectOf(m_dlg, Item(IDC_RADIO2));
    EXPECT_EQ(Hex(Brightest(shot, {radio.left + 16, radio.top, radio.right, radio.bottom})), Hex(HexColor(0xE6E6E6)));

    // Group box captions in grey text.
    const RECT g1 = ClientRectOf(m_dlg, Item(IDC_GROUP1));
    EXPECT_EQ(Hex(Brightest(shot, {g2.left, g2.top, g2.right, g2.top + 10})), Hex(HexColor(0xB4B4B4)));
    EXPECT_EQ(Hex(Brightest(shot, {g1.left, g1.top, g1.left + 60, g1.top + 10})), Hex(HexColor(0xB4B4B4)));

    // Edit field and list view: the window colour.
    const RECT edit = ClientRectOf(m_dlg, Item(IDC_EDIT));
    EXPECT_EQ(Hex(shot.At(edit.right - 6, (edit.top + edit.bottom) / 2)), Hex(HexColor(0x414141)));
    // The drop-down combo box's edit field has no light frame left around it.
    const RECT ce = ClientRectOf(m_dlg, Item(IDC_COMBO_EDIT));
    EXPECT_EQ(Hex(shot.At(ce.left + 2, (ce.top + ce.bottom) / 2)), Hex(HexColor(0x414141)));
    EXPECT_EQ(Hex(shot.At(ce.left + 20, ce.top + 2)), Hex(HexColor(0x414141)));
    const RECT lv = ClientRectOf(m_dlg, Item(IDC_LISTVIEW));
    EXPECT_EQ(Hex(shot.At(lv.right - 6, lv.bottom - 6)), Hex(HexColor(0x414141)));

    // Every control is dark: no control keeps a light system background.
    for (HWND c = GetWindow(m_dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    {
        if (!IsWindowVisible(c)) continue;
        RECT r = ClientRectOf(m_dlg, c);
        r.left = std::max(0L, r.left);
        r.top = std::max(0L, r.top);
        r.right = std::min<long>(shot.width(), r.right);
        r.bottom = std::min<long>(shot.height(), r.bottom);
        long sum = 0, n = 0, bright = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
            {
                const int l = Luma(shot.At(x, y));
                sum += l;
                bright += l > 200;
                ++n;
            }
        ASSERT_GT(n, 0);
        wchar_t cls[32] = {};
        GetClassNameW(c, cls, 32);
        EXPECT_LT(sum / n, 110) << "control " << GetDlgCtrlID(c) << " mean brightness";
        EXPECT_LT(static_cast<double>(bright) / n, 0.25) << "control " << GetDlgCtrlID(c) << " bright share";
        // Nothing is brighter than the skin's button text (no light system frames are left),
        // except where the system's own parts stay: radio glyphs, images, the list box's
        // the tree view's expand boxes, the trackbars' channels (which their owner fills, as the
        // parameter panel does) and the group boxes around some of them.
        const int id = GetDlgCtrlID(c);
        const bool systemParts = id == IDC_RADIO1 || id == IDC_RADIO2 || id == IDC_RADIO3 || id == IDC_BITMAP_BUTTON ||
            id == IDC_BITMAP_DISABLED || id == IDC_TOGGLE || id == IDC_TOOLBAR || id == IDC_TREE || id == IDC_GROUP1 ||
            id == IDC_GROUP2 || id == IDC_TRACK || id == IDC_TRACK_TICKS || id == IDC_TRACK_DISABLED;
        if (!systemParts)
        {
            EXPECT_LE(Luma(Brightest(shot, r)), Luma(HexColor(0xE6E6E6)))
                << "control " << id << " brightest " << Hex(Brightest(shot, r));
        }
    }
}

TEST_F(SkinDialog, AListBoxScrollBarFollowsTheDarkSchemeAlsoAfterScrolling)
{
    HWND list = Item(IDC_LISTBOX);
    auto look = [&](const char* when)
    {
        SCROLLBARINFO sbi = {};
        sbi.cbSize = sizeof sbi;
        ASSERT_TRUE(GetScrollBarInfo(list, OBJID_VSCROLL, &sbi));
        RECT bar = sbi.rcScrollBar;
        MapWindowPoints(nullptr, m_dlg, reinterpret_cast<POINT*>(&bar), 2);
        RECT client;
        GetClientRect(m_dlg, &client);
        Dib shot(client.right, client.bottom);
        uitest::CaptureClient(m_dlg, shot);
        EXPECT_TRUE(uitest::SavePng(shot, ArtifactPath((std::string("skin-listbox-") + when + ".png").c_str())));
        long sum = 0, n = 0;
        for (int y = bar.top; y < bar.bottom; ++y)
            for (int x = bar.left; x < bar.right; ++x, ++n) sum += Luma(shot.At(x, y));
        ASSERT_GT(n, 0) << when;
        EXPECT_LT(sum / n, 110) << when << ": mean brightness of the scroll bar";
        EXPECT_LE(Luma(Brightest(shot, bar)), Luma(HexColor(0xE6E6E6))) << when;
    };
    look("shown");
    // Scrolling makes the system draw the bar again, outside any frame painting.
    SendMessageW(list, WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0);
    SendMessageW(list, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
    uitest::Pump(5);
    ASSERT_EQ(SendMessageW(list, LB_GETTOPINDEX, 0, 0), 1);
    look("scrolled");
}

TEST_F(SkinDialog, ComboBoxArrowMovesWhilePressed)
{
    HWND combo = Item(IDC_COMBO_LIST);
    RECT rc;
    GetClientRect(combo, &rc);
    Dib released(rc.right, rc.bottom), pressed(rc.right, rc.bottom);
    HDC dc = GetDC(combo);
    SendMessageW(combo, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(released.dc()), PRF_CLIENT);
    ReleaseDC(combo, dc);
    // The button part: face colours with a down arrow in button text.
    const RECT btn = {rc.right - GetSystemMetrics(SM_CXHTHUMB) - 3, 2, rc.right - 2, rc.bottom - 2};
    EXPECT_TRUE(Contains(released, btn, HexColor(0xE6E6E6))) << "arrow";
    EXPECT_EQ(Hex(released.At(3, rc.bottom / 2)), Hex(HexColor(0x414141)));
    EXPECT_EQ(Hex(released.At(0, 0)), Hex(HexColor(0x373737)));  // sunken edge: shadow
    // With the mouse held over the button the arrow sits one pixel lower and further right.
    POINT pt = {(btn.left + btn.right) / 2, (btn.top + btn.bottom) / 2};
    ClientToScreen(combo, &pt);
    SetCursorPos(pt.x, pt.y);
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_LBUTTON] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(combo, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(pressed.dc()), PRF_CLIENT);
    keys[VK_LBUTTON] = 0;
    SetKeyboardState(keys);
    POINT cur;
    GetCursorPos(&cur);
    if (cur.x != pt.x || cur.y != pt.y) GTEST_SKIP() << "the cursor cannot be placed on this display";
    int firstReleased = -1, firstPressed = -1;
    for (int y = btn.top; y < btn.bottom && (firstReleased < 0 || firstPressed < 0); ++y)
        for (int x = btn.left; x < btn.right; ++x)
        {
            if (firstReleased < 0 && released.At(x, y) == HexColor(0xE6E6E6)) firstReleased = y * 1000 + x;
            if (firstPressed < 0 && pressed.At(x, y) == HexColor(0xE6E6E6)) firstPressed = y * 1000 + x;
        }
    ASSERT_GE(firstReleased, 0);
    ASSERT_GE(firstPressed, 0);
    EXPECT_EQ(firstPressed, firstReleased + 1001);
}

}  // namespace

namespace
{

bool Neutral(COLORREF c) { return GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c); }

TEST_F(SkinDialog, ToolbarTabsAndEtchedLinesFollowTheBarPainting)
{
    HWND tb = Item(IDC_TOOLBAR);
    // Make the zoom-in button hot to see the gloss.
    SendMessageW(tb, TB_SETHOTITEM, 2, 0);
    RedrawWindow(tb, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT client;
    GetClientRect(m_dlg, &client);
    Dib shot(client.right, client.bottom);
    uitest::CaptureClient(m_dlg, shot);
    const RECT at = ClientRectOf(m_dlg, tb);
    RECT tbClient;
    GetClientRect(tb, &tbClient);
    POINT origin = {0, 0};
    MapWindowPoints(tb, m_dlg, &origin, 1);
    auto item = [&](int i)
    {
        RECT r = {};
        SendMessageW(tb, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
        OffsetRect(&r, origin.x, origin.y);
        return r;
    };
    (void)at;
    // The separator: a two-pixel etched line at the item's centre.
    const RECT sep = item(1);
    const int sx = sep.left + (sep.right - sep.left) / 2 - 1, sy = (sep.top + sep.bottom) / 2;
    EXPECT_EQ(Hex(shot.At(sx, sy)), Hex(HexColor(0x373737)));
    EXPECT_EQ(Hex(shot.At(sx + 1, sy)), Hex(HexColor(0x646464)));
    EXPECT_EQ(Hex(shot.At(sx - 1, sy)), Hex(HexColor(0x464646)));
    // The checked button (1:1): sunken one-pixel frame, no gloss.
    const RECT checked = item(4);
    EXPECT_EQ(Hex(shot.At(checked.left, checked.top + 5)), Hex(HexColor(0x373737)));
    EXPECT_EQ(Hex(shot.At(checked.right - 1, checked.top + 5)), Hex(HexColor(0x646464)));
    EXPECT_EQ(Hex(shot.At(checked.left + 2, checked.top + 1)), Hex(HexColor(0x464646)));
    // The hot button: raised frame over a gloss lighter at the top than at the bottom.
    const RECT hot = item(2);
    EXPECT_EQ(Hex(shot.At(hot.left, hot.top + 5)), Hex(HexColor(0x646464)));
    EXPECT_EQ(Hex(shot.At(hot.right - 1, hot.top + 5)), Hex(HexColor(0x373737)));
    EXPECT_GT(Luma(shot.At(hot.left + 2, hot.top + 2)), Luma(HexColor(0x464646)));
    EXPECT_LT(Luma(shot.At(hot.left + 2, hot.bottom - 2)), Luma(HexColor(0x464646)));
    // The disabled button (zoom out) shows the greyed image: only neutral greys.
    const RECT off = item(3);
    bool allGrey = true, enabledHasColour = false;
    for (int y = off.top + 2; y < off.bottom - 2; ++y)
        for (int x = off.left + 2; x < off.right - 2; ++x) allGrey = allGrey && Neutral(shot.At(x, y));
    const RECT fit = item(5);
    for (int y = fit.top + 2; y < fit.bottom - 2; ++y)
        for (int x = fit.left + 2; x < fit.right - 2; ++x)
            enabledHasColour = enabledHasColour || !Neutral(shot.At(x, y));
    EXPECT_TRUE(allGrey);
    EXPECT_TRUE(enabledHasColour);
    // "Menu" text in button text on the last button.
    EXPECT_EQ(Hex(Brightest(shot, item(6))), Hex(HexColor(0xE6E6E6)));

    // Tab control without TCS_BUTTONS: the current tab has no line below it, the others do.
    HWND tab = Item(IDC_TAB);
    RECT r0 = {}, r1 = {};
    SendMessageW(tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r0));
    SendMessageW(tab, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r1));
    const RECT ta = ClientRectOf(m_dlg, tab);
    const int row = ta.top + r0.bottom;
    EXPECT_EQ(Hex(shot.At(ta.left + (r0.left + r0.right) / 2, row)), Hex(HexColor(0x464646)));
    EXPECT_EQ(Hex(shot.At(ta.left + (r0.left + r0.right) / 2, row + 1)), Hex(HexColor(0x464646)));
    EXPECT_EQ(Hex(shot.At(ta.left + (r1.left + r1.right) / 2, row)), Hex(HexColor(0x000000)));
    EXPECT_EQ(Hex(shot.At(ta.left + (r1.left + r1.right) / 2, row + 1)), Hex(HexColor(0x646464)));
    // The current tab stands 2 pixels higher than the others.
    EXPECT_EQ(Hex(shot.At(ta.left + (r0.left + r0.right) / 2, ta.top + r0.top - 2)), Hex(HexColor(0x000000)));
    EXPECT_EQ(Hex(shot.At(ta.left + (r1.left + r1.right) / 2, ta.top + r1.top - 2)), Hex(HexColor(0x464646)));

    // The etched line: shadow over highlight.
    RECT e;
    GetWindowRect(Item(IDC_ETCHED), &e);
    MapWindowPoints(nullptr, m_dlg, reinterpret_cast<POINT*>(&e), 2);
    const int ex = (e.left + e.right) / 2;
    EXPECT_EQ(Hex(shot.At(ex, e.top)), Hex(HexColor(0x373737)));
    EXPECT_EQ(Hex(shot.At(ex, e.bottom - 1)), Hex(HexColor(0x646464)));
}

TEST_F(SkinDialog, AToolbarButtonWithALongTextIsPaintedWhole)
{
    // The toolbar hands a button's text over whole, however long: painting it must not run past
    // a buffer of its own (a localised text can be long).
    HWND tb = Item(IDC_TOOLBAR);
    std::wstring longText(700, L'W');
    TBBUTTONINFOW info = {};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT;
    info.pszText = &longText[0];
    ASSERT_TRUE(SendMessageW(tb, TB_SETBUTTONINFOW, 32811, reinterpret_cast<LPARAM>(&info)));
    const int last = 6;  // the "Menu" button
    ASSERT_EQ(SendMessageW(tb, TB_GETBUTTONTEXTW, 32811, 0), 700);
    RedrawWindow(tb, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    uitest::Pump(5);
    ASSERT_TRUE(IsWindow(tb));

    RECT client;
    GetClientRect(m_dlg, &client);
    Dib shot(client.right, client.bottom);
    uitest::CaptureClient(m_dlg, shot);
    RECT r = {};
    ASSERT_TRUE(SendMessageW(tb, TB_GETITEMRECT, last, reinterpret_cast<LPARAM>(&r)));
    POINT origin = {0, 0};
    MapWindowPoints(tb, m_dlg, &origin, 1);
    OffsetRect(&r, origin.x, origin.y);
    const RECT bar = ClientRectOf(m_dlg, tb);
    RECT visible;
    ASSERT_TRUE(IntersectRect(&visible, &r, &bar));
    // Text in the button-text colour where the button is visible.
    EXPECT_EQ(Hex(Brightest(shot, visible)), Hex(HexColor(0xE6E6E6)));
}

TEST_F(SkinDialog, LightSchemePaintsOnlyDisabledBoxes)
{
    // The scheme is chosen before the windows exist, as the filter's start step does.
    Close();
    SetSkinScheme(1);
    Open();
    ASSERT_NE(m_dlg, nullptr);
    RECT client;
    GetClientRect(m_dlg, &client);
    Dib shot(client.right, client.bottom);
    uitest::CaptureClient(m_dlg, shot);
    EXPECT_TRUE(uitest::SavePng(shot, ArtifactPath("skin-dialog-light.png")));
    // Disabled and checked: "CHECK_SELOFF" (light box, grey tick), its text in the light grey text.
    const RECT dis = ClientRectOf(m_dlg, Item(IDC_CHECK_DISABLED));
    const RECT glyph = {dis.left, dis.top, dis.left + 14, dis.bottom};
    EXPECT_TRUE(Contains(shot, glyph, HexColor(0x9A9A9A), 8)) << "CHECK_SELOFF tick";
    EXPECT_TRUE(Contains(shot, glyph, HexColor(0xE6E6E6))) << "CHECK_SELOFF box";
    EXPECT_TRUE(Contains(shot, {dis.left + 16, dis.top, dis.right, dis.bottom}, HexColor(0x6E6E6E)));
    // Enabled boxes are the system's: none of the skin's glyph colours.
    const RECT on = ClientRectOf(m_dlg, Item(IDC_CHECK_ON));
    EXPECT_FALSE(Contains(shot, {on.left, on.top, on.left + 14, on.bottom}, HexColor(0x9CC3EA), 8));
    EXPECT_FALSE(Contains(shot, {on.left, on.top, on.left + 14, on.bottom}, HexColor(0x2B2B2B)));
}

}  // namespace
