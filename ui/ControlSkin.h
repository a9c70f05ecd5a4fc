// Control skin: the dark grey look of every window of the plug-in.
//
// The skin keeps a table of up to 30 colours that replace the system colours (indexed by the
// system colour index, COLOR_SCROLLBAR = 0 .. COLOR_MENUHILIGHT = 29), one solid brush per
// colour, and a window procedure (SkinWndProc) that it installs on a window and its whole tree
// of controls to paint them in those colours. Every own window asks for colours and brushes
// through GetSkinColor / GetSkinBrush and never deletes the brushes it gets.
//
// Everything here runs on the thread that owns the plug-in's windows; there are no locks.
#pragma once

#include <windows.h>
#include <commctrl.h>

// Number of colour slots (COLOR_SCROLLBAR .. COLOR_MENUHILIGHT).
constexpr unsigned SKIN_COLOR_COUNT = 30;

// Button style bit (no system meaning for buttons) set on every push button that InstallSkin
// turned into BS_OWNERDRAW, so the painting code recognises the buttons it draws.
constexpr LONG SKIN_OWNERDRAW_MARK = 0x10;

// Value of a colour slot that stands for "use the system colour".
constexpr COLORREF SKIN_NO_COLOR = 0xFFFFFFFFu;

// The schemes (skin modes). Any other mode fills no colour slot; the skin then still draws its
// owner-drawn buttons, but leaves trackbars and disabled controls to the system.
enum : int
{
    SKIN_MODE_NONE = 0,       // no scheme set yet: the skin stays out of every message
    SKIN_MODE_LIGHT = 1,      // light colours near the system's: the skin paints only trackbars
                              // and disabled statics and check boxes
    SKIN_MODE_DARK_GREY = 2,  // the plug-in's own look, applied by the filter's start step
    SKIN_MODE_BLACK = 3,      // a black face, otherwise painted like the dark grey scheme
};

// Current scheme: SKIN_MODE_NONE before any scheme is set, otherwise the value last given to
// SetSkinScheme.
extern int g_iSkinMode;
// The colour slots (SKIN_NO_COLOR = system colour) and their brushes (null where no colour).
extern COLORREF g_SkinColors[SKIN_COLOR_COUNT];
extern HBRUSH g_SkinBrushes[SKIN_COLOR_COUNT];

// ---- schemes, colours and brushes -------------------------------------------------------------

// Frees the brushes, fills the slots of the light, dark grey or black scheme - any other mode
// fills none - makes one brush per filled slot and stores the mode.
void SetSkinScheme(int mode);
// The module whose resources (PNG images, the docker's class) the skin uses; the plug-in hands
// its own in before the first window. Without it the skin uses the module that holds its code.
void SetSkinResourceModule(HMODULE hModule);
// The dark grey scheme; called by the filter's start step before the main window exists.
void ApplyDefaultSkin();
// Deletes the brushes and sets every slot back to the system colour; the mode stays.
// Called by the filter's finish step.
void FreeSkinBrushes();

// Index >= 30: black. Slot without colour: GetSysColor(index). Else the slot's colour.
COLORREF GetSkinColor(unsigned index);
// Index >= 30: null. Slot without brush: GetSysColorBrush(index). Else the slot's brush.
// The skin owns the brush: never delete it.
HBRUSH GetSkinBrush(unsigned index);

void SetSkinMode(int mode);
int GetSkinMode();
// True in the dark schemes (dark grey and black).
bool IsDarkSkin();

// ---- installation -----------------------------------------------------------------------------

// Puts SkinWndProc on the window and on its whole tree of children (a child that already has the
// property "WindowProc" is skipped with its subtree). Push buttons become owner-drawn with
// SKIN_OWNERDRAW_MARK; list views, tree views, tab controls and progress bars get skin colours.
// The skin stays until the window is destroyed.
void InstallSkin(HWND hWnd);
// True when the window belongs to a system dialog (class "#32770" with DS_NOIDLEMSG or
// DS_SETFOREGROUND) that keeps the system look on Windows 6.0 and later in a dark scheme.
bool IsSkinExcludedDialog(HWND hWnd);

// ---- labels and group boxes -------------------------------------------------------------------

// Record kept in GWL_USERDATA of a control subclassed with SubclassLabel.
struct LabelRecord
{
    HWND hWnd;
    WNDPROC pfnPrevProc;
    LONG_PTR prevUserData;
    int flags;  // 2 = caption in a bold copy of the control's font
};

// Installs LabelWndProc on a static or group box: flicker-free, double-buffered painting that
// keeps the pixels of the siblings placed inside it. Returns false on success, true when the
// record cannot be allocated. A second call on a subclassed label only changes its flags; undone
// when the control is destroyed.
bool SubclassLabel(HWND hCtrl, int flags);
void UnsubclassLabel(HWND hCtrl);
LRESULT CALLBACK LabelWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
void LabelPaint(HDC hdcTarget, HWND hCtrl, int flags, WNDPROC pfnPrevProc);

// ---- bitmaps ----------------------------------------------------------------------------------

// Loads a resource of type "PNG" into a 32-bit bitmap with alpha (GDI+ must have been started by
// the host process). On a screen of fewer than 32 bits per pixel the bitmap becomes a 24-bit one
// with the transparent pixels in RGB(192, 192, 192) and *converted is set. Falls back to an
// ordinary bitmap resource of the same name when the PNG cannot be read. The caller owns the
// bitmap (null when there is none).
HBITMAP LoadPngBitmap(HMODULE hModule, LPCWSTR name, bool* converted);
HBITMAP LoadPngBitmap(HMODULE hModule, LPCWSTR name);
// The screen-depth step of LoadPngBitmap: returns the bitmap itself or its 24-bit replacement
// (the 32-bit one is then deleted).
HBITMAP AdaptBitmapToScreenDepth(HBITMAP hBitmap, bool* converted);

// Adds a greyed copy of a 32-bit DIB section to the image list (the toolbar's disabled images);
// returns the index from ImageList_Add, or -1 when no copy can be made. The bitmap stays the
// caller's.
int AddGreyedBitmap(HIMAGELIST hImageList, HBITMAP hBitmap);
// Greyed 32-bit copy of a button bitmap for the disabled state; pixels of the face colour stay.
// The caller deletes it.
HBITMAP MakeGreyedBitmap(HBITMAP hBitmap);

// ---- the skin's window procedure and its painting ---------------------------------------------

LRESULT CALLBACK SkinWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Whether the skin takes this message for this window's class, style and state.
bool SkinPaintFilter(HWND hWnd, UINT msg, LPARAM lParam);

// Button face state bits.
enum : int
{
    SKIN_STATE_CHECKED = 0x1,
    SKIN_STATE_PRESSED = 0x2,
    SKIN_STATE_FLAT = 0x4,
    SKIN_STATE_DISABLED = 0x10,
    SKIN_STATE_COLORREF = 0x1000,  // the colour argument is a COLORREF, not a slot index
};
void SkinDrawButtonFace(HDC hdc, const RECT& rc, int state, COLORREF colour);
void SkinDrawGroupBox(HDC hdcTarget, HWND hCtrl, int flags);
void SkinDrawGloss(HDC hdc, const RECT& rc, COLORREF base, bool rows, bool pressed);
void SkinDrawArrowVert(HDC hdc, int x, int y, int width, int height, bool disabled);
void SkinDrawArrowHorz(HDC hdc, int x, int y, int width, int height, bool disabled);

// Hue, saturation and intensity, each 0..255.
void RgbToHsi(COLORREF rgb, BYTE& hue, BYTE& saturation, BYTE& intensity);
COLORREF HsiToRgb(BYTE hue, BYTE saturation, BYTE intensity);

// ---- drawing primitives (skin colours), also used by the panel and the docker -----------------

// The skin's DrawEdge: BDR_* rings on the rectangle (outer) and on it shrunk by one (inner), on
// the BF_LEFT/TOP/RIGHT/BOTTOM sides; other bits (BF_ADJUST ...) are ignored and the rectangle
// is not changed.
void SkinDrawEdge(HDC hdc, const RECT& rc, int edge, int sides);
void SkinDrawEdge(HDC hdc, const RECT* rc, int edge, int sides);
void SkinDrawEdge(HDC hdc, int left, int top, int right, int bottom, int edge, int sides);
// One-pixel 3-D rectangle: top and left in the first colour, right and bottom in the second.
void SkinDraw3dRect(HDC hdc, int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight);
void SkinDrawSides(HDC hdc, int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight, int sides);
// Fills with SetBkColor + ExtTextOutW(ETO_OPAQUE); the DC's background colour stays that colour.
void SkinFillSolid(HDC hdc, int x, int y, int cx, int cy, COLORREF colour);
