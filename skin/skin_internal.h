// The skin's insides, shared by its colour table, hooks, registry and
// drawing: the rest of the program uses skin.h alone (the skin's window
// test reads this one too).
#pragma once

#include <windows.h>

#include "skin/skin.h"

bool SkinActive();

LRESULT CALLBACK SkinCallWndProcHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SkinCallWndProcRetHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SkinGetMessageHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SkinMsgFilterHook(int code, WPARAM wParam, LPARAM lParam);

// The subclass registry: SkinSubclass puts SkinWndProc on the window (or
// counts one more nesting level), SkinUnsubclass counts one down and puts the
// previous procedure back at 0. A window unknown to the registry is left alone.
void SkinSubclass(HWND window);
void SkinUnsubclass(HWND window);
// Nesting count of a window in the registry; 0 when it is not there.
int SkinNesting(HWND window);
// The procedure the skin found on the window; null when it is not in the registry.
WNDPROC SkinPreviousProc(HWND window);
// A window being destroyed leaves the registry, and shut-down gives every
// window its own procedure back.
void SkinForget(HWND window);
void SkinReleaseAll();

// Whether the skin leaves the window alone (inside a dialog whose style has
// bit 0x100 or 0x200).
bool IsSkinExempt(HWND window);
// Whether the skin handles this message for this window.
bool WantsSkin(HWND window, UINT message);

// Converted push buttons: type BS_OWNERDRAW with the style bit kSkinMarkerStyle.
const LONG kSkinMarkerStyle = 0x10;
bool HasSkinMarker(HWND window);
// A click on a converted push-like radio button: it becomes the checked one
// of its group (back to the WS_GROUP control, forwards to the next one).
void SkinRadioClick(HWND clicked, int type);
// The first visible button among the children of parent whose text holds
// "&" before this letter (A .. Z, any case in the text); null for none.
HWND SkinMnemonicButton(HWND parent, WCHAR letter);

LRESULT CALLBACK SkinWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A grey copy of a 32-bit bitmap for disabled buttons.
HBITMAP MakeDisabledBitmap(HBITMAP bitmap);

namespace skin {

// Whether the window's class name is exactly this.
bool IsClass(HWND window, const WCHAR* name);
LONG Style(HWND window);
LONG ExStyle(HWND window);
// Low four bits of a button's style.
inline int ButtonType(LONG style) { return static_cast<int>(style & BS_TYPEMASK); }
inline bool IsPushLike(LONG style) { return (style & BS_PUSHLIKE) != 0; }
// A Button that is not push-like, of check or radio type.
bool IsPlainCheckOrRadio(HWND window);
bool IsGroupBox(HWND window);
// A converted push-like check box or radio button keeps its old type x
// kTypeStep and its checked state (bit 0, in the low kStateBits) in the
// user data; from kForeignData up the user data is not such a record.
const int kTypeStep = 16;
const LONG kStateBits = 0xF;
const int kForeignData = 255;
inline LONG_PTR UserData(HWND window) { return GetWindowLongPtrW(window, GWLP_USERDATA); }
inline bool HoldsConvertedState(LONG_PTR data) { return data < kForeignData; }
inline int ConvertedType(LONG_PTR data) { return static_cast<int>(data / kTypeStep); }

// One-pixel drawing primitives.
void FillSolid(HDC dc, int x, int y, int width, int height, COLORREF colour);
void Frame3D(HDC dc, int x, int y, int width, int height, COLORREF topLeft, COLORREF bottomRight);
// Edge mask of FrameEdges: left and top in the first colour, right and
// bottom in the second.
enum FrameEdge { EdgeLeft = 1, EdgeTop = 2, EdgeRight = 4, EdgeBottom = 8, EdgeAll = 15 };
void FrameEdges(HDC dc, int x, int y, int width, int height, COLORREF first, COLORREF second, int edges);

// An off-screen bitmap of a size, selected into a memory DC compatible with
// the target; Copy puts it on the target in one BitBlt.
struct OffScreen {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;  // a 32-bit top-down section
    HGDIOBJ old = nullptr;
    DWORD* bits = nullptr;
    int width = 0, height = 0;
    OffScreen(HDC target, int w, int h);
    ~OffScreen();
    void Copy(HDC target, int x = 0, int y = 0) const;
    // Turns the system's window and 3D colours that a control's own
    // painting left in the bitmap into the skin's. The system's grey text
    // often equals its button shadow: for a disabled control it is taken
    // as text, so the text stays readable.
    void Recolour(bool disabled = false) const;
    // Turns the system's highlight and highlighted text into the skin's
    // steel blue and light text; before Recolour, which takes white for the
    // field. Only for windows whose field is not the system's white.
    void RecolourSelection() const;
    OffScreen(const OffScreen&) = delete;
    OffScreen& operator=(const OffScreen&) = delete;
};

// What the skin does with each message it may take over: the one list of
// them, which WantsSkin reads to choose and SkinWndProc to draw.
enum class Role {
    None,
    Colour,       // WM_CTLCOLOR*: the skin's colours
    DrawItem,     // owner-drawn buttons, tabs and list items
    Paint,        // WM_PAINT, WM_PRINTCLIENT
    Erase,        // WM_ERASEBKGND
    NonClient,    // WM_NCPAINT: the border in the skin's colours
    DialogCode,   // WM_GETDLGCODE of a converted push button
    GetCheck,     // BM_GETCHECK of a converted push-like button
    SetCheck,     // BM_SETCHECK
    SetStyle,     // BM_SETSTYLE: a converted button stays owner-drawn
    RedrawAfter,  // state changes after which the control is drawn again at once
};
Role RoleOf(UINT message);

}  // namespace skin
