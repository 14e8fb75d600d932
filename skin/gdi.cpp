// Small GDI helpers: child rectangles and clipping round child windows.
#include "skin/gdi.h"

RECT WindowRectIn(HWND window, HWND client) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, client, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ExcludeChild(HDC dc, HWND parent, HWND child) {
    if (!child || !IsWindowVisible(child)) return;
    const RECT rect = WindowRectIn(child, parent);
    ExcludeClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
}

void ExcludeChildren(HDC dc, HWND parent, const std::function<bool(HWND child)>& take) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && (!take || take(child))) ExcludeChild(dc, parent, child);
}
