// Small GDI helpers shared by the skin, the main window, the dialog
// container and the repaint dialogs: where a child window lies, and keeping
// a drawing off the children that paint themselves.
#pragma once

#include <windows.h>

#include <functional>

// A window's rectangle in the client coordinates of another window
// (usually its parent).
RECT WindowRectIn(HWND window, HWND client);

// Keeps the drawing on dc, a device context of parent's client area, off a
// visible child window; a null or hidden child is left alone.
void ExcludeChild(HDC dc, HWND parent, HWND child);
// The same for every visible direct child of parent that `take` accepts
// (all of them without it).
void ExcludeChildren(HDC dc, HWND parent, const std::function<bool(HWND child)>& take = {});
