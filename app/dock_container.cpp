// The dialog container: a panel along the main window's right edge that
// holds the open repaint dialog. Docked windows are stacked from the top and
// the panel takes the width of the widest one; it stays as an empty panel
// while nothing is docked.
#include "app.h"

#include <algorithm>

#include "skin/gdi.h"
#include "skin/skin.h"

DockContainer dockContainer;

namespace {

const WCHAR kContainerClass[] = L"DockerWindow1";

// The skin's colours while it is installed, else the system's.
COLORREF PanelColour() { return SkinColor(COLOR_BTNFACE); }
COLORREF SeparatorColour() { return SkinColor(COLOR_BTNHIGHLIGHT); }

void EraseContainer(HWND window, HDC dc) {
    ExcludeChildren(dc, window);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH panel = CreateSolidBrush(PanelColour());
    FillRect(dc, &client, panel);
    DeleteObject(panel);
    // The separator faces the view.
    RECT line = client;
    if (!dockContainer.atLeftEdge)
        line.right = line.left + 1;
    else
        line.left = line.right - 1;
    HBRUSH separator = CreateSolidBrush(SeparatorColour());
    FillRect(dc, &line, separator);
    DeleteObject(separator);
}

LRESULT CALLBACK ContainerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        EraseContainer(window, reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_SETFOCUS:
        // The panel itself takes no keys: the focus goes on to the docked
        // dialog's first control, where Tab and the arrows work.
        if (!dockContainer.docked.empty()) FocusFirstControl(dockContainer.docked.front());
        return 0;
    case WM_NCDESTROY:
        if (window == dockContainer.window) {
            dockContainer.window = nullptr;
            dockContainer.docked.clear();
        }
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateDockContainer(HWND parent) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = ContainerProc;
    wc.hInstance = app.instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = SkinBrush(COLOR_BTNFACE);
    wc.lpszClassName = kContainerClass;
    RegisterClassExW(&wc);  // already registered by an earlier main window: fine

    dockContainer.atLeftEdge = false;
    dockContainer.docked.clear();
    dockContainer.window = CreateWindowExW(0, kContainerClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                                           300, 1000, parent, nullptr, app.instance, nullptr);
    if (dockContainer.window)
        SetWindowLongPtrW(dockContainer.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&dockContainer));
    return dockContainer.window;
}

void DockWindow(HWND window, size_t position) {
    std::vector<HWND>& docked = dockContainer.docked;
    docked.insert(docked.begin() + static_cast<ptrdiff_t>(std::min(position, docked.size())), window);
}

void UndockWindow(HWND window) {
    std::vector<HWND>& docked = dockContainer.docked;
    auto found = std::find(docked.begin(), docked.end(), window);
    if (found != docked.end()) docked.erase(found);
}

void LayoutDockContainer() {
    HWND container = dockContainer.window;
    if (!container) return;
    const bool left = dockContainer.atLeftEdge;
    int y = 0, widest = 0;
    for (HWND window : dockContainer.docked) {
        RECT rect;
        GetWindowRect(window, &rect);
        int width = rect.right - rect.left, height = rect.bottom - rect.top;
        MoveWindow(window, left ? 0 : 1, y, width, height, FALSE);
        y += height;
        widest = std::max(widest, width);
    }
    int width = widest + (left ? 1 : 0);
    HWND parent = GetParent(container);
    RECT parentClient;
    GetClientRect(parent, &parentClient);
    const RECT rect = WindowRectIn(container, parent);
    MoveWindow(container, left ? 0 : parentClient.right - width, rect.top, width, rect.bottom - rect.top, TRUE);
}

void FocusFirstControl(HWND dialog) {
    HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
    // WM_NEXTDLGCTL also makes a push button the default and selects an
    // edit's text, as Tab would.
    if (first) SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
}
