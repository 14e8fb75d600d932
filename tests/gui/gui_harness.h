// A small harness for the window tests: checks with a plain summary line,
// a driver for the modal dialogs and message boxes that open while a test
// step runs, timer-driven steps inside a message loop, the settings and
// language files of the test, child processes and screenshots.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Wide strings: std::wstring assumes 32-bit characters from the C library,
// which Winelib's 16-bit wchar_t does not match; the generic traits work.
using WideString = std::basic_string<WCHAR, __gnu_cxx::char_traits<WCHAR>>;

std::string Utf8(const WCHAR* text);
WideString Widen(const std::string& utf8);

// --- checks --------------------------------------------------------------

// Counts a check; prints the failed ones with their description.
bool Check(bool ok, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Prints a heading for the checks that follow.
void Section(const char* name);
// Prints "gui: N passed, M failed"; returns the process exit code.
int Summary();
// Ends the process with a failure when it has not finished after `seconds`.
void StartWatchdog(int seconds);

// --- dialogs -------------------------------------------------------------

struct SeenDialog {
    HWND window;
    HWND owner;
    bool ownerVisible;   // whether the owner was visible when the dialog appeared
    std::string title;
    std::string text;    // a message box's text (its static 0xFFFF)
};

// Handles one visible dialog of this thread; called on every timer tick
// until it returns true (done with it).
using DialogHandler = std::function<bool(HWND dialog, const SeenDialog& seen)>;

// Runs body; every top-level dialog (#32770) of this thread that becomes
// visible meanwhile is recorded and handed to handler (without one, it is
// answered with OK). Returns the dialogs seen, in order.
std::vector<SeenDialog> WithDialogs(const std::function<void()>& body, const DialogHandler& handler = {});

// Posts a button click (WM_COMMAND with the id) to a dialog.
void PressButton(HWND dialog, int id);

// Runs the steps one per timer tick (`intervalMs` apart) inside whatever
// message loop is running, then nothing more. Call before entering the loop.
void ScheduleSteps(std::vector<std::function<void()>> steps, UINT intervalMs = 100);
// Processes pending messages for about `ms` milliseconds.
void PumpMessages(DWORD ms);

// --- files of the test ---------------------------------------------------

// %APPDATA%\Ostrivel and the settings file in it, found independently of
// the editor's own code.
WideString TestSettingsFolder();
WideString TestSettingsFile();
void RemoveSettingsFolder();
// A key of section "General" of the settings file; `missing` when absent.
std::string ReadSettingsKey(const char* key, const char* missing = "<missing>");
void WriteSettingsKey(const char* key, const char* value);

// The language file beside this program (folder of the module + name).
WideString TestLanguageFile();
// Writes the UTF-8 text as the language file (UTF-16 with byte order mark).
void WriteLanguageFile(const std::string& utf8);
void RemoveLanguageFile();
// Copies a file from this program's folder over the language file.
bool CopyBesideToLanguageFile(const WCHAR* name);

// --- processes and pictures ----------------------------------------------

// Starts this program again with the arguments; returns its exit code, or
// -1 when it could not start or did not end within timeoutMs.
long RunSelf(const WCHAR* arguments, DWORD timeoutMs);
// True when the program was started with this exact argument.
bool HasArgument(const WCHAR* argument);

// Writes what the screen shows of the window (frame included) as PNG.
bool SaveWindowPng(HWND window, const WCHAR* path);
// The colour of a client pixel as the screen shows it.
COLORREF ClientPixel(HWND window, int x, int y);
