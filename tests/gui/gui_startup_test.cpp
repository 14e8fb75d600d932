// Window tests of start-up, the message loop with its accelerators and the
// shut-down order: the editor's own RunOstrivel runs here, driven by timer
// steps from inside its message loop.
#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

std::vector<SeenDialog> dialogs;  // every dialog seen while the editor ran

// Runs the editor with the steps; cancels the open dialog and answers every
// other dialog with OK.
int RunEditorWithSteps(HINSTANCE instance, std::vector<std::function<void()>> steps) {
    dialogs.clear();
    ScheduleSteps(std::move(steps), 150);
    int exitCode = -1;
    WithDialogs([&] { exitCode = RunOstrivel(instance, SW_SHOWNORMAL); },
                [](HWND dialog, const SeenDialog& seen) {
                    dialogs.push_back(seen);
                    PressButton(dialog, seen.title == "Open" ? IDCANCEL : IDOK);
                    return true;
                });
    return exitCode;
}

size_t AboutBoxes() {
    size_t count = 0;
    for (const SeenDialog& d : dialogs)
        if (d.title == "About") ++count;
    return count;
}

void CheckMainWindow() {
    HWND window = app.mainWindow;
    Check(IsWindow(window) && IsWindowVisible(window), "the main window is created and shown");
    WCHAR text[256];
    GetWindowTextW(window, text, 256);
    Check(Utf8(text) == "Ostrivel", "the title is string 103 (got \"%s\")", Utf8(text).c_str());
    GetClassNameW(window, text, 256);
    Check(Utf8(text) == "Ostrivel", "the class name is string 109 (got \"%s\")", Utf8(text).c_str());
    Check(GetClassLongPtrW(window, GCLP_HICON) != 0, "the class has the large icon 148");
    Check(GetClassLongPtrW(window, GCLP_HICONSM) != 0, "the class has the small icon 148");
    DWORD classStyle = static_cast<DWORD>(GetClassLongPtrW(window, GCL_STYLE));
    Check(classStyle == (CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS), "the class redraws on resize and takes double clicks");
    DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    Check((style & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW, "the window is an overlapped window");
    Check(GetMenu(window) == nullptr, "the window has no menu bar");
    Check(app.accelerators != nullptr && CopyAcceleratorTableW(app.accelerators, nullptr, 0) == 11,
          "accelerator table 109 is loaded with its 11 keys");

    RECT client;
    GetClientRect(window, &client);
    COLORREF centre = ClientPixel(window, client.right / 2, client.bottom / 2);
    Check(centre == RGB(48, 48, 48), "the client area is painted dark grey (got %06lx)",
          static_cast<unsigned long>(centre));
}

// Types the keys on the (virtual) keyboard into the main window: all down in
// order, then up in reverse. Character accelerators with Alt depend on the
// real key state, which posted messages do not set.
void TypeKeys(std::initializer_list<WORD> keys) {
    SetForegroundWindow(app.mainWindow);
    SetFocus(app.mainWindow);
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        inputs.push_back(input);
    }
    for (auto it = keys.end(); it != keys.begin();) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *--it;
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void StartUpAndAccelerators(HINSTANCE instance) {
    Section("start-up, accelerators and a normal exit");
    RemoveSettingsFolder();
    int exitCode = RunEditorWithSteps(instance, {
        [] { CheckMainWindow(); },
        [] { TypeKeys({VK_MENU, VK_OEM_2}); },  // Alt+/
        [] {
            Check(AboutBoxes() == 1, "Alt+/ shows the About box (%d seen)", static_cast<int>(AboutBoxes()));
            if (!dialogs.empty()) {
                const SeenDialog& box = dialogs.back();
                Check(box.text.compare(0, 12, "Ostrivel 1.0") == 0, "it names the product and version (got \"%s\")",
                      box.text.c_str());
                Check(box.owner == app.mainWindow, "the main window owns it");
            }
            TypeKeys({VK_MENU, VK_SHIFT, VK_OEM_2});  // Alt+?
        },
        [] {
            Check(AboutBoxes() == 2, "Alt+? shows the About box (%d seen)", static_cast<int>(AboutBoxes()));
            // Keys that open nothing (F1, an arrow, / without Alt), and Ctrl+O.
            TypeKeys({VK_F1});
            TypeKeys({VK_LEFT});
            TypeKeys({VK_OEM_2});
            TypeKeys({VK_CONTROL, 'O'});
        },
        [] {},
        [] {
            Check(dialogs.size() == 3, "F1, the arrows and / without Alt open nothing (%d dialogs)",
                  static_cast<int>(dialogs.size()));
            Check(dialogs.size() == 3 && dialogs[2].title == "Open" && dialogs[2].owner == app.mainWindow,
                  "Ctrl+O shows the open dialog titled \"Open\", owned by the main window");
            Check(IsWindow(app.mainWindow), "the main window is still there");
            Check(ReadSettingsKey("Crashed Last Time") == "1", "the crash marker is 1 while running");
            PostMessageW(app.mainWindow, WM_CLOSE, 0, 0);
        },
    });
    Check(exitCode == 0, "closing the window ends the program with exit code 0 (got %d)", exitCode);
    Check(app.mainWindow == nullptr, "the main window is gone");
    Check(ReadSettingsKey("Crashed Last Time") == "0", "the settings were written while the window was destroyed");
    Check(ReadSettingsKey("uiEdgeCut") == "50", "every parameter was written");
}

void ExitCommand(HINSTANCE instance) {
    Section("the Exit command");
    int exitCode = RunEditorWithSteps(instance, {
        [] { PostMessageW(app.mainWindow, WM_COMMAND, IDM_EXIT, 0); },
    });
    Check(exitCode == 0, "Exit ends the program with exit code 0 (got %d)", exitCode);
    Check(dialogs.empty(), "Exit asks nothing without an unsaved result");
    Check(ReadSettingsKey("Crashed Last Time") == "0", "Exit writes the settings");
}

void UnsavedResultQuestion(HINSTANCE instance) {
    Section("closing with an unsaved result");
    // The question's answer: No keeps the window, Yes closes it.
    int answer = IDNO;
    dialogs.clear();
    ScheduleSteps({
        [] { app.unsavedResult = 1; },
        [] { PostMessageW(app.mainWindow, WM_CLOSE, 0, 0); },
        [&answer] {
            Check(IsWindow(app.mainWindow), "answering No keeps the main window");
            answer = IDYES;
            PostMessageW(app.mainWindow, WM_CLOSE, 0, 0);
        },
    }, 150);
    int exitCode = -1;
    WithDialogs([&] { exitCode = RunOstrivel(instance, SW_SHOWNORMAL); },
                [&answer](HWND dialog, const SeenDialog& seen) {
                    dialogs.push_back(seen);
                    PressButton(dialog, answer);
                    return true;
                });
    Check(dialogs.size() == 2, "each close asks the question (%d asked)", static_cast<int>(dialogs.size()));
    if (!dialogs.empty()) {
        Check(dialogs[0].text == Utf8(DefaultLang(21)), "the question is entry 21 (got \"%s\")", dialogs[0].text.c_str());
        Check(dialogs[0].title == "Warning", "its caption is entry 3");
    }
    Check(exitCode == 0, "Yes ends the program with exit code 0 (got %d)", exitCode);
    app.unsavedResult = 0;
}

// Refuses the creation of the main window, as a failed CreateWindowExW would.
LRESULT CALLBACK RefuseMainWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        WCHAR className[64];
        GetClassNameW(reinterpret_cast<HWND>(wParam), className, 64);
        if (lstrcmpW(className, L"Ostrivel") == 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void FailedCreation(HINSTANCE instance) {
    Section("a main window that cannot be created");
    HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseMainWindow, nullptr, GetCurrentThreadId());
    int exitCode = RunOstrivel(instance, SW_SHOWNORMAL);
    UnhookWindowsHookEx(hook);
    Check(exitCode == 0, "the program ends with exit code 0 (got %d)", exitCode);
    Check(app.mainWindow == nullptr, "no main window is left");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(120);
    RemoveLanguageFile();
    StartUpAndAccelerators(instance);
    ExitCommand(instance);
    UnsavedResultQuestion(instance);
    FailedCreation(instance);
    return Summary();
}
