// Screenshots for a look by eye: the main window, the Options dialog over it
// listing the shipped translations, and the three repaint dialog templates
// side by side. Writes main_window.png, options_dialog.png and
// repaint_dialogs.png into the working folder.
#include <algorithm>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {
INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(90);
    RemoveSettingsFolder();
    Check(CopyBesideToLanguageFile(L"shipped_loc.ini"), "the shipped language file is there");
    if (!Check(PrepareMainWindow(instance), "start-up registers the main window class")) return Summary();

    HWND window = nullptr;
    WithDialogs([&] { window = CreateMainWindow(); });
    if (!Check(window != nullptr, "the main window is created")) return Summary();
    SetWindowPos(window, nullptr, 40, 30, 860, 560, SWP_NOZORDER);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    PumpMessages(800);
    Check(SaveWindowPng(window, L"main_window.png"), "main_window.png is written");

    // Options, with its list opened on the current translation; the
    // screenshot is taken once the dialog has been on screen for a moment.
    int ticks = 0;
    bool saved = false;
    WithDialogs([&] { SendMessageW(window, WM_COMMAND, IDM_OPTIONS, 0); },
                [&](HWND dialog, const SeenDialog&) {
                    if (GetDlgItem(dialog, IDC_LANGUAGE_LIST) == nullptr) {
                        PressButton(dialog, IDOK);
                        return true;
                    }
                    if (++ticks < 12) return false;
                    saved = SaveWindowPng(dialog, L"options_dialog.png");
                    PressButton(dialog, IDCANCEL);
                    return true;
                });
    Check(saved, "options_dialog.png is written");

    DestroyWindow(window);
    PumpMessages(20);

    // The repaint dialogs are children; a plain window holds them here.
    HWND host = CreateWindowExW(0, L"Static", L"", WS_POPUP | WS_BORDER | WS_CLIPCHILDREN, 40, 30, 100, 100, nullptr,
                                nullptr, instance, nullptr);
    int x = 0, height = 0;
    for (int resource : {IDD_ORIGINAL, IDD_SMUDGE, IDD_REDRAW}) {
        HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(resource), host, PlainDialogProc, 0);
        if (!Check(dialog != nullptr, "dialog %d is created", resource)) continue;
        RECT rect;
        GetWindowRect(dialog, &rect);
        SetWindowPos(dialog, nullptr, x, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ShowWindow(dialog, SW_SHOW);
        x += rect.right - rect.left + 1;
        height = std::max(height, static_cast<int>(rect.bottom - rect.top));
    }
    SetWindowPos(host, nullptr, 0, 0, x + 1, height + 2, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(host, SW_SHOWNORMAL);
    UpdateWindow(host);
    PumpMessages(800);
    Check(SaveWindowPng(host, L"repaint_dialogs.png"), "repaint_dialogs.png is written");
    DestroyWindow(host);
    RemoveLanguageFile();
    return Summary();
}
