// The program's dark look. A colour table stands in for the system colours
// (with a brush for each); four hooks of the user-interface thread put the
// skin's window procedure on a control for exactly the messages the skin
// draws, and take it off again when the message returns. No window procedure
// of the program knows about it. While no skin is installed every colour is
// the system's own and the hooks do nothing. This is what the rest of the
// program uses; the hooks, the registry and the drawing are the skin's own
// (skin_internal.h).
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

// The repaint dialogs' own look, for their dialog procedure: the background
// painted around the children, the sliders' custom-drawn channel and thumb,
// and the colours of the dialog's texts and buttons. True when the message
// is one of these; `answer` is then what the dialog procedure returns.
bool SkinDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& answer);

// A PNG resource of type "PNG" as a 32-bit section (transparent parts black);
// without a module, name is a file name. Null on failure.
HBITMAP LoadPngResource(HMODULE module, const WCHAR* name);
