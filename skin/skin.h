// The program's dark look. A colour table stands in for the system colours
// (with a brush for each); four hooks of the user-interface thread put the
// skin's window procedure on a control for exactly the messages the skin
// draws, and take it off again when the message returns. No window procedure
// of the program knows about it. While no skin is installed every colour is
// the system's own and the hooks do nothing.
#pragma once

#include <windows.h>

// Colour of a system colour index (COLOR_BTNFACE, ...); 0 above 29.
COLORREF SkinColor(int index);
// Brush of a system colour index; null for a negative index. Not to be deleted.
HBRUSH SkinBrush(int index);

// The steel blue of the skin's filled slider channels, progress bars and
// selected items.
const COLORREF kSkinAccent = RGB(101, 135, 168);

// Fills the colour table and makes its brushes; the skin becomes active.
// The program uses mode 2 (the dark table).
void SkinInstall(int mode);
// Installs the four hooks for the calling thread (each only once).
void SkinInstallHooks();
// Deletes the brushes, resets the table to the system colours and removes
// the hooks that are installed.
void SkinShutdown();
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

// Whether the skin leaves the window alone (inside a dialog whose style has
// bit 0x100 or 0x200).
bool IsSkinExempt(HWND window);
// Whether the skin handles this message for this window.
bool WantsSkin(HWND window, UINT message);

// Converted push buttons: type BS_OWNERDRAW with style bit 0x10.
bool HasSkinMarker(HWND window);
// A click on a converted push-like radio button: it becomes the checked one
// of its group (back to the WS_GROUP control, forwards to the next one).
void SkinRadioClick(HWND clicked, int type);
// The first visible button among the children of parent whose text holds
// "&" before this letter (A .. Z, any case in the text); null for none.
HWND SkinMnemonicButton(HWND parent, WCHAR letter);

LRESULT CALLBACK SkinWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The repaint dialogs' own look, for their dialog procedure: the background
// painted around the children, the sliders' custom-drawn channel and thumb,
// and the colours of the dialog's texts and buttons. True when the message
// is one of these; `answer` is then what the dialog procedure returns.
bool SkinDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& answer);

// A PNG resource of type "PNG" as a 32-bit section (transparent parts black);
// without a module, name is a file name. Null on failure.
HBITMAP LoadPngResource(HMODULE module, const WCHAR* name);
// A grey copy of a 32-bit bitmap for disabled buttons.
HBITMAP MakeDisabledBitmap(HBITMAP bitmap);
