// Commands of the main window, one function each.
#include "app.h"

#include <shellapi.h>

#include "settings/settings.h"

namespace {
const WCHAR kWebSite[] = L"https://ostrivel.example/";
}

void CmdAbout(HWND window) {
    MessageBoxW(window,
                L"Ostrivel 1.0\n\n"
                L"Repaints photographs as paintings and drawings.\n"
                L"Open a picture, pick a repaint method, preview it on a part of the picture, then run it.",
                Lang(42), MB_ICONINFORMATION);
}

void CmdOptions(HWND window) { ShowOptionsDialog(window); }

void CmdVisitWebSite(HWND window) { ShellExecuteW(window, L"open", kWebSite, nullptr, L".", SW_SHOWNORMAL); }

// Exit ends the program at once, without the unsaved-result question.
void CmdExit(HWND window) { DestroyWindow(window); }

bool ConfirmDropResult(HWND window) {
    if (!app.unsavedResult) return true;
    return MessageBoxW(window, Lang(21), Lang(3), MB_YESNO | MB_ICONINFORMATION) == IDYES;
}
