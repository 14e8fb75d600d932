// Screenshots for a look by eye, written as PNGs into the working folder:
//   main_window.png     the main window without a picture
//   photo_fit.png       a photograph opened and fitted
//   photo_400.png       the same at 400 %
//   popup_menu.png      the Menu button's popup menu over the window
//   save_dialog.png     the Save As dialog with its JPEG quality panel
//   options_dialog.png  the Options dialog listing the shipped translations
//   repaint_original.png, repaint_smudge.png, repaint_redraw.png
//                       each repaint dialog docked, with the preview of its
//                       frame in the middle of the photograph
//   crash_warning.png   the message after a run that ended abnormally
// With --no-skin the same shots without the dark look, named plain_*.png,
// to compare with; the skinned run also samples a few of its pixels.
// The photograph is the file named by OSTRIVEL_PHOTO (a Unix path), else
// Debian's python3-skimage astronaut when installed, else a made-up picture.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skin/skin.h"

namespace {

WideString Photograph() {
    WCHAR named[1024];
    DWORD length = GetEnvironmentVariableW(L"OSTRIVEL_PHOTO", named, 1024);
    if (length > 0 && length < 1024) {
        WideString path = WindowsPath(Utf8(named));
        if (!path.empty() && FileExists(path)) return path;
        printf("OSTRIVEL_PHOTO names no file: %s\n", Utf8(named).c_str());
    }
    WideString skimage = WindowsPath("/usr/lib/python3/dist-packages/skimage/data/astronaut.png");
    if (!skimage.empty() && FileExists(skimage)) return skimage;
    // Sky, a sun and hills: enough to judge the view by.
    WideString made = TestFilesFolder() + L"landscape.png";
    WriteTestPicture(made, 900, 600, SaveFormatPng, [](int x, int y) {
        int dx = x - 650, dy = y - 150;
        if (dx * dx + dy * dy < 60 * 60) return RGB(250, 220, 90);
        int hill = 380 + static_cast<int>(60 * ((x % 300) - 150) * ((x % 300) - 150) / 22500.0);
        if (y > hill) return RGB(40, 110 + (y - hill) / 4, 50);
        return RGB(90 + y / 6, 140 + y / 8, 230);
    });
    return made;
}

HWND window;
WideString outputFolder;  // the working folder at start; the file dialogs change it
bool plain;               // --no-skin: the system's look

// A screenshot file's full path.
WideString Output(const WCHAR* name) { return outputFolder + (plain ? L"plain_" : L"") + name; }

bool Near(COLORREF colour, int r, int g, int b) {
    return abs(GetRValue(colour) - r) <= 2 && abs(GetGValue(colour) - g) <= 2 && abs(GetBValue(colour) - b) <= 2;
}

int Lightness(COLORREF c) { return (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3; }

// The lightest and darkest grey of a control's client area, as shown.
void LightAndDark(HWND control, int& lightest, int& darkest) {
    RECT client;
    GetClientRect(control, &client);
    lightest = 0, darkest = 255;
    for (int y = 0; y < client.bottom; y += 1)
        for (int x = 0; x < client.right; x += 2) {
            int value = Lightness(ClientPixel(control, x, y));
            lightest = std::max(lightest, value);
            darkest = std::min(darkest, value);
        }
}

// A sum over the check box glyph at the left of a check box.
unsigned GlyphSum(HWND box) {
    RECT client;
    GetClientRect(box, &client);
    unsigned sum = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < 13; ++x) sum = sum * 31 + ClientPixel(box, x, y);
    return sum;
}

// Pixels of the skinned repaint dialog: button face, light text on the dark
// face, and a check box image that follows its state.
void SampleDialog(HWND dialog) {
    HWND ok = GetDlgItem(dialog, IDOK);
    Check(Near(ClientPixel(ok, 5, 4), 70, 70, 70), "the OK button's face is RGB(70, 70, 70)");
    int light, dark;
    LightAndDark(ok, light, dark);
    Check(light >= 200, "the OK button's caption is light (%d)", light);
    HWND preview = GetDlgItem(dialog, IDC_PREVIEW);
    LightAndDark(preview, light, dark);
    Check(light >= 200 && dark <= 75, "Preview reads light on dark (%d on %d)", light, dark);
    unsigned checked = GlyphSum(preview);
    CheckDlgButton(dialog, IDC_PREVIEW, BST_UNCHECKED);
    PumpMessages(50);
    Check(GlyphSum(preview) != checked, "the check box image changes with its state");
    CheckDlgButton(dialog, IDC_PREVIEW, BST_CHECKED);
    PumpMessages(50);
    Check(GlyphSum(preview) == checked, "and comes back with it");
}

BOOL CALLBACK AddMenuWindow(HWND candidate, LPARAM area) {
    WCHAR name[16];
    if (IsWindowVisible(candidate) && GetClassNameW(candidate, name, 16) && lstrcmpW(name, L"#32768") == 0) {
        RECT rect;
        GetWindowRect(candidate, &rect);
        UnionRect(reinterpret_cast<RECT*>(area), reinterpret_cast<RECT*>(area), &rect);
    }
    return TRUE;
}

// Opens the File submenu of the popup menu with the keyboard, captures both
// with the window under them, then closes the menu.
bool menuSaved;
void CALLBACK CaptureMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    static int ticks;
    HWND popup = FindWindowW(L"#32768", nullptr);
    if (!popup || !IsWindowVisible(popup)) return;
    ++ticks;
    if (ticks == 3) PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    if (ticks == 5) PostMessageW(popup, WM_KEYDOWN, VK_RIGHT, 0);
    if (ticks < 10) return;
    KillTimer(nullptr, timer);
    RECT area;
    GetWindowRect(window, &area);
    EnumWindows(AddMenuWindow, reinterpret_cast<LPARAM>(&area));
    menuSaved = SaveScreenPng(area, Output(L"popup_menu.png").c_str());
    EndMenu();
}

// Runs the command and shoots the dialog it opens once it has been on
// screen for a moment (after `prepare` on its second tick), then cancels it.
bool ShootDialog(int command, const WCHAR* name, const std::function<void(HWND)>& prepare = {}) {
    int ticks = 0;
    bool saved = false;
    WithDialogs([&] { SendMessageW(window, WM_COMMAND, command, 0); },
                [&](HWND dialog, const SeenDialog&) {
                    if (++ticks == 2 && prepare) prepare(dialog);
                    if (ticks < 12) return false;
                    saved = SaveWindowPng(dialog, Output(name).c_str());
                    PressButton(dialog, IDCANCEL);
                    return true;
                });
    return saved;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(90);
    WCHAR folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    outputFolder = WideString(folder) + L"\\";
    RemoveSettingsFolder();
    Check(CopyBesideToLanguageFile(L"shipped_loc.ini"), "the shipped language file is there");
    plain = HasArgument(L"--no-skin");
    if (!Check(PrepareMainWindow(instance), "start-up registers the main window class")) return Summary();
    if (plain) SkinShutdown();

    // The crash warning, shown while the main window is created.
    WriteSettingsKey("Crashed Last Time", "1");
    int warningTicks = 0;
    bool warningSaved = false;
    WithDialogs([&] { window = CreateMainWindow(); },
                [&](HWND dialog, const SeenDialog&) {
                    if (++warningTicks < 6) return false;
                    warningSaved = SaveWindowPng(dialog, Output(L"crash_warning.png").c_str());
                    PressButton(dialog, IDOK);
                    return true;
                });
    Check(warningSaved, "crash_warning.png is written");
    if (!Check(window != nullptr, "the main window is created")) return Summary();
    SetWindowPos(window, nullptr, 40, 30, 1100, 720, SWP_NOZORDER);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    PumpMessages(800);
    Check(SaveWindowPng(window, Output(L"main_window.png").c_str()), "main_window.png is written");
    if (!plain) {
        RECT bar = ChildRect(app.toolbar), status = ChildRect(app.statusBar);
        COLORREF face = ClientPixel(window, bar.left + 2, bar.bottom - 3);
        Check(Near(face, 70, 70, 70), "the toolbar is RGB(70, 70, 70) (%06lx at %ld, %ld)",
              static_cast<unsigned long>(face), static_cast<long>(bar.left + 2), static_cast<long>(bar.bottom - 3));
        Check(Near(ClientPixel(window, status.left + 1, status.bottom - 2), 70, 70, 70),
              "the status bar is RGB(70, 70, 70)");
        Check(Near(ClientPixel(window, 300, 300), kViewBackground, kViewBackground, kViewBackground),
              "the empty view shows its background");
    }

    WideString photo = Photograph();
    DropFile(window, photo);
    PumpMessages(300);
    if (Check(HasPicture(), "the photograph %s is opened", Utf8(photo.c_str()).c_str())) {
        Check(SaveWindowPng(window, Output(L"photo_fit.png").c_str()), "photo_fit.png is written");
        SendMessageW(app.zoomBox, CB_SETCURSEL, 6, 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_ZOOM_BOX, CBN_SELCHANGE), reinterpret_cast<LPARAM>(app.zoomBox));
        PumpMessages(300);
        Check(SaveWindowPng(window, Output(L"photo_400.png").c_str()), "photo_400.png is written");
        SendMessageW(window, WM_COMMAND, IDM_ZOOM_FIT, 0);
    }

    SetTimer(nullptr, 0, 50, CaptureMenu);
    SendMessageW(window, WM_COMMAND, IDM_MENU, 0);
    Check(menuSaved, "popup_menu.png is written");

    // The Save As dialog with the JPEG type chosen, and Options with the
    // shipped translations.
    Check(ShootDialog(IDM_SAVE_AS, L"save_dialog.png", [](HWND dialog) {
              HWND types = GetDlgItem(dialog, IDC_SAVE_FILE_TYPE);
              SendMessageW(types, CB_SETCURSEL, 3, 0);
              SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SAVE_FILE_TYPE, CBN_SELENDOK),
                           reinterpret_cast<LPARAM>(types));
          }),
          "save_dialog.png is written");
    Check(ShootDialog(IDM_OPTIONS, L"options_dialog.png"), "options_dialog.png is written");

    // Each repaint dialog with Preview on; Redraw burns its strokes into the
    // colours.
    uiFuseToImage = 1;
    const struct {
        int command;
        const WCHAR* name;
    } kDialogs[] = {{IDM_REPAINT_ORIGINAL, L"repaint_original.png"},
                    {IDM_REPAINT_SMUDGE, L"repaint_smudge.png"},
                    {IDM_REPAINT_REDRAW, L"repaint_redraw.png"}};
    for (const auto& shot : kDialogs) {
        SendMessageW(window, WM_COMMAND, shot.command, 0);
        HWND dialog = activeRepaintDialog;
        if (!Check(dialog != nullptr, "the dialog of command %d opens", shot.command)) continue;
        CheckDlgButton(dialog, IDC_PREVIEW, BST_CHECKED);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW, BN_CLICKED), 0);
        PumpMessages(500);
        Check(SaveWindowPng(window, Output(shot.name).c_str()), "%s is written", Utf8(shot.name).c_str());
        if (!plain && shot.command == IDM_REPAINT_ORIGINAL) SampleDialog(dialog);
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        PumpMessages(50);
    }
    DestroyWindow(window);
    PumpMessages(20);
    RemoveLanguageFile();
    return Summary();
}
