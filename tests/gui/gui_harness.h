// A small harness for the window tests: checks with a plain summary line,
// a driver for the modal dialogs and message boxes that open while a test
// step runs, timer-driven steps inside a message loop, the settings and
// language files of the test, pictures and screenshots.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "picbuf/image_file.h"  // WriteTestPicture's SaveFormatIndex

std::string Utf8(const WCHAR* text);
std::wstring Widen(const std::string& utf8);
// A window's title or a control's text.
std::string WindowText(HWND window);

// --- checks --------------------------------------------------------------

// Counts a check; prints the failed ones with their description.
bool Check(bool ok, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Prints a heading for the checks that follow.
void Section(const char* name);
// Prints "gui: N passed, M failed"; returns the process exit code.
int Summary();
// Starts a test program: no settings and no language file (English texts),
// and a failure when it has not finished after `seconds`.
void StartTest(int seconds);

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

// Runs body; every dialog that becomes visible meanwhile is answered with
// `answer` (a button id).
std::vector<SeenDialog> WithDialogs(const std::function<void()>& body, int answer);

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
std::wstring TestSettingsFolder();
std::wstring TestSettingsFile();
void RemoveSettingsFolder();
// A key of section "General" of the settings file; `missing` when absent.
std::string ReadSettingsKey(const char* key, const char* missing = "<missing>");
void WriteSettingsKey(const char* key, const char* value);

// The language file beside this program (folder of the module + name).
std::wstring TestLanguageFile();
// Writes the UTF-8 text as the language file (UTF-16 with byte order mark).
void WriteLanguageFile(const std::string& utf8);
void RemoveLanguageFile();
// Copies a file from this program's folder over the language file.
bool CopyBesideToLanguageFile(const WCHAR* name);

// A key press, with Ctrl held or not, through the accelerator table as the
// editor's message loop does for the main window.
void PressKey(HWND window, UINT message, WPARAM key, bool control = false);

// Keys on the (virtual) keyboard, as the user types them, into the
// foreground window: all down in order, then up in reverse. SendKeys leaves
// them to whatever message loop runs (a modal dialog's own); TypeKeys
// pumps messages for a moment after them.
void SendKeys(std::initializer_list<WORD> keys);
void TypeKeys(std::initializer_list<WORD> keys);
// The mouse moved to a point of the screen, with the left button pressed or
// released when `button` says so (MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
// a left click at a point of a window's client area (pumped like TypeKeys
// unless `pump` is false).
void MoveMouse(POINT screen, DWORD button = 0);
void ClickAt(HWND window, POINT point, bool pump = true);

// What the popup menu showed while `open` ran (it is closed as soon as it is
// seen): its items' texts and the commands it grayed, and whether the
// window's tooltip `tip` was visible meanwhile.
struct MenuSeen {
    bool shown = false;
    std::vector<std::string> texts;
    std::vector<UINT> grayed;
    bool tipShown = false;
};
MenuSeen ReadPopupMenu(const std::function<void()>& open, HWND tip = nullptr, const WCHAR* shot = nullptr);

// Processes messages until `done` holds or `ms` milliseconds have passed;
// returns whether it holds.
bool PumpUntil(const std::function<bool()>& done, DWORD ms);

// --- the open and save dialogs -------------------------------------------

// The text in the file name box of an open or save dialog.
std::string FileName(HWND dialog);
// Selects a file type entry of the save dialog as the user would.
void SelectType(HWND dialog, int index);
int SelectedType(HWND dialog);
// The JPEG quality panel hooked into a save dialog, or null.
HWND QualityPanel(HWND dialog);

// What a command showed: its open or save dialogs (handled by the given
// function, which fills one and presses a button) and its message boxes
// (recorded and answered with `answer`).
struct FileCommandRun {
    std::vector<SeenDialog> fileDialogs;
    std::vector<SeenDialog> messages;
};
FileCommandRun RunFileCommand(HWND window, int command, const std::function<void(HWND)>& fileDialog,
                              int answer = IDOK);
// A file dialog handler: the type entry (unless -1), the name, then OK.
std::function<void(HWND)> ChooseFile(const std::wstring& name, int type = -1);

// --- the editor's main window --------------------------------------------

// Creates the main window as start-up does (after PrepareMainWindow); any
// dialog during creation is answered with OK and recorded in `dialogs`.
HWND OpenMainWindow(std::vector<SeenDialog>* dialogs = nullptr);
// Closes it as the close box does and handles what that leaves.
void CloseMainWindow(HWND window);
// Start-up as the editor does it, then the main window resized to the given
// client size and shown (any dialog during creation is answered with OK).
// Null when it cannot be created.
HWND OpenEditorWindow(HINSTANCE instance, int clientWidth, int clientHeight);
// Gives the main window a client area of this size, at the screen's corner.
void SetClientSize(HWND window, int clientWidth, int clientHeight);
// Rectangle of a child window in its parent's client coordinates.
RECT ChildRect(HWND child);

// --- pictures and files made by the test --------------------------------

// The Windows path of a Unix path; empty when there is none.
std::wstring WindowsPath(const std::string& unixPath);
// A folder for the test's own files in the prefix's temporary folder,
// created when missing; ends with a backslash.
std::wstring TestFilesFolder();
// Writes a width x height 8-bit colour picture through the core's
// SavePicture (format: a SaveFormatIndex); colour(x, y) gives each pixel,
// a grey ramp without it.
bool WriteTestPicture(const std::wstring& path, int width, int height, int format,
                      const std::function<COLORREF(int x, int y)>& colour = {});
bool WriteTextFile(const std::wstring& path, const std::string& text);
bool FileExists(const std::wstring& path);
// The first `count` bytes of a file (fewer when it is shorter).
std::string FileStart(const std::wstring& path, size_t count);
// Hands the window a WM_DROPFILES with one file, as the shell does.
void DropFile(HWND window, const std::wstring& path);

// For a look by eye: when OSTRIVEL_SHOTS names a folder (a Unix path), writes
// what the screen shows of `area` as it stands, or of the window with its
// frame once it has painted, there as <name>.png. False only when a shot was
// asked for and not written.
bool Shot(HWND window, const WCHAR* name, const RECT* area = nullptr);
// The colour of a client pixel as the screen shows it; whether a colour is
// within 3 of the expected one in each channel (bilinear edges blend).
COLORREF ClientPixel(HWND window, int x, int y);
bool Looks(COLORREF seen, COLORREF expected);
