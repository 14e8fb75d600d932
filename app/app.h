// Application shell: start-up, the main window and its commands, the
// message loop and the shut-down order.
#pragma once

#include <windows.h>
#include <stdint.h>

// Messages of the repaint protocol and of the zoom box; both parameters 0.
enum : UINT {
    UM_RESULT_CHANGED = 4247,
    UM_REDRAW = 4252,
    UM_REDRAW_FRAME = 4260,
    UM_RUN_DONE = 4266,
    UM_RUN_ABORTED = 4267,
    UM_START_ORIGINAL = 4270,
    UM_ZOOM_TEXT_ENTERED = 4271,
    UM_START_SMUDGE = 4272,
    UM_START_REDRAW = 4273,
    UM_PREVIEW = 4277,
};

// Process-wide state of the shell.
struct AppGlobals {
    HINSTANCE instance;
    HWND mainWindow;
    HACCEL accelerators;
    WCHAR title[100];       // string 103
    WCHAR className[100];   // string 109
    uint8_t unsavedResult;  // a finished run has not been saved yet
};
extern AppGlobals app;

// Grey value of the view's background.
const BYTE kViewBackground = 48;

// The whole program: start-up, main window, message loop, shut-down.
// Returns the exit code (0 also when the main window cannot be created).
int RunOstrivel(HINSTANCE instance, int showCommand);

// Start-up before the main window: language table, common controls, title
// and class name, the window class. False when the class cannot be registered.
bool PrepareMainWindow(HINSTANCE instance);
// Creates the main window (not yet shown); null on failure.
HWND CreateMainWindow();
// Runs the message loop with the accelerators until WM_QUIT; returns its code.
int RunMessageLoop();

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Commands of the main window (commands.cpp).
void CmdAbout(HWND window);
void CmdOptions(HWND window);
void CmdVisitWebSite(HWND window);
void CmdExit(HWND window);
// Asks whether an unsaved result may be dropped; true to go on.
bool ConfirmDropResult(HWND window);
