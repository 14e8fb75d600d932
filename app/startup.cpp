// Start-up, the message loop and the shut-down order.
#include "app.h"

#include <commctrl.h>

#include "resources/resource.h"
#include "settings/settings.h"
#include "skin/skin.h"

AppGlobals app;

bool PrepareMainWindow(HINSTANCE instance) {
    app.instance = instance;
    // The current translation is not known yet (index 0); the main window
    // loads the table again once it has read the settings.
    LoadLanguageTable();

    InitCommonControls();
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);

    LoadStringW(instance, IDS_APP_TITLE, app.title, 100);
    LoadStringW(instance, IDS_CLASS_NAME, app.className, 100);

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_OSTRIVEL), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_OSTRIVEL), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // The skin's brushes do not exist yet; the view paints over this anyway.
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = app.className;
    // A second start-up in the same process (the window tests) finds it registered.
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    // The dark look, from here on for every control of this thread.
    SkinInstall(2);
    SkinInstallHooks();
    return true;
}

HWND CreateMainWindow() {
    app.mainWindow = CreateWindowExW(0, app.className, app.title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, app.instance, nullptr);
    return app.mainWindow;
}

namespace {

bool InWindow(HWND outer, HWND window) { return outer && (window == outer || IsChild(outer, window)); }

}  // namespace

bool TranslateEditorMessage(MSG& msg) {
    HWND dialog = activeRepaintDialog;
    if (InWindow(dialog, msg.hwnd)) {
        // The dialog's own keys come first: Tab, Enter, Escape, Alt+letter and
        // the arrows on its sliders. Of the main window's keys only the
        // characters reach it from here (+ and - zoom, Alt+/ About); the
        // commands the dialog has locked on the toolbar do not.
        const bool character = msg.message == WM_CHAR || msg.message == WM_SYSCHAR;
        if (character && app.accelerators && TranslateAcceleratorW(app.mainWindow, app.accelerators, &msg))
            return true;
        return IsDialogMessageW(dialog, &msg) != FALSE;
    }
    // Elsewhere an accelerator goes to the window with the focus: the main
    // window acts on it, a child such as the zoom box ignores it.
    return app.accelerators && TranslateAcceleratorW(msg.hwnd, app.accelerators, &msg);
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (TranslateEditorMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int RunOstrivel(HINSTANCE instance, int showCommand) {
    if (!PrepareMainWindow(instance)) return 0;
    HWND window = CreateMainWindow();
    if (!window) return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    app.accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    int exitCode = RunMessageLoop();
    // The main window is gone: it wrote the settings while being destroyed.
    app.mainWindow = nullptr;
    SkinShutdown();
    return exitCode;
}
