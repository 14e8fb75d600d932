// The main window: its procedure and the command dispatcher. Each command is
// one call of a function in commands.cpp.
#include "app.h"

#include "resources/resource.h"
#include "settings/settings.h"

namespace {

void OnCreate(HWND window) {
    app.unsavedResult = 0;
    LoadSettings();
    LoadLanguageTable();  // now with the translation chosen in Options
    if (crashedLastTime) MessageBoxW(window, Lang(2), Lang(3), MB_ICONINFORMATION);
}

void OnPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    HBRUSH background = CreateSolidBrush(RGB(kViewBackground, kViewBackground, kViewBackground));
    FillRect(dc, &ps.rcPaint, background);
    DeleteObject(background);
    EndPaint(window, &ps);
}

void OnCommand(HWND window, int command) {
    SetForegroundWindow(window);
    switch (command) {
    case IDM_ABOUT: CmdAbout(window); break;
    case IDM_OPTIONS: CmdOptions(window); break;
    case IDM_VISIT_WEB_SITE: CmdVisitWebSite(window); break;
    case IDM_EXIT: CmdExit(window); break;
    case IDM_HELP_KEY: break;  // F1: no help
    }
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_ERASEBKGND:
        return 0;  // painting covers the whole client area
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        if (ConfirmDropResult(window)) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        SaveSettings();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
