// Commands of the main window, one function each.
#include "app.h"

#include <shellapi.h>

#include "dialogs/dialogs.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "settings/settings.h"

namespace {

const WCHAR kWebSite[] = L"https://ostrivel.example/";

// Save As, the repaint commands and the zoom box need a picture.
const int kPictureCommands[] = {IDM_SAVE_AS, IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW};

void EnablePictureCommands(bool enable) {
    for (int command : kPictureCommands) EnableToolbarButton(command, enable);
    if (app.zoomBox) EnableWindow(app.zoomBox, enable);
}

bool CopyPicture(SBxPicBuf& target, const SBxPicBuf& source) {
    return CBxPicBufAPI::ReinitHeap(target, source) && CBxPicBufAPI::Copy(target, source);
}

void ClosePictures() {
    document.metadata.reset();
    CBxPicBufAPI::DoneHeap(document.original);
    CBxPicBufAPI::DoneHeap(document.result);
    CBxPicBufAPI::Init(document.original);
    CBxPicBufAPI::Init(document.result);
    FreeViewCaches();
    view.interpolation = ViewBilinear;
}

// The state without a picture: Close, and an opening that ran out of memory.
void ShowNoPicture() {
    SetStatusText(Lang(kOpenHintEntry));
    EnableToolbarButton(IDM_OPEN, true);
    EnablePictureCommands(false);
    ClosePictures();
    RenderNoPicture();
    PaintView();
    app.unsavedResult = false;
}

void SetMenuText(HMENU menu, UINT item, BOOL byPosition, const WCHAR* text) {
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<LPWSTR>(text);
    SetMenuItemInfoW(menu, item, byPosition, &info);
}

// "<entry>\t<Ctrl>+<key>" for the items with a shortcut, the key's name in
// the current language.
void SetMenuTextWithKey(HMENU menu, UINT command, int entry, WCHAR key) {
    WCHAR shortcut[32], text[LANGUAGE_TEXT_SIZE + 40];
    ControlKeyText(key, shortcut);
    wsprintfW(text, L"%s\t%s", Lang(entry), shortcut);
    SetMenuText(menu, command, FALSE, text);
}

RepaintMethod MethodOfCommand(int command) {
    return command == IDM_REPAINT_ORIGINAL ? RepaintOriginal
           : command == IDM_REPAINT_SMUDGE ? RepaintSmudge
                                           : RepaintRedraw;
}

}  // namespace

void ShowOpenedPicture(HWND window, const WCHAR* path) {
    lstrcpynW(document.metadataSource, path, PATH_CHARS);
    SetTitleWithPath(path);
    SetStatusText(Lang(kViewHintEntry));
    if (!CopyPicture(document.result, document.original)) {
        MessageBoxW(window, Lang(kFormatNotSupportedEntry), L"", MB_OK);  // memory ran short
        ShowNoPicture();
        return;
    }
    ClearDragState();
    ZoomToFit(false);
    RenderAfresh();
    CacheOriginal();  // for comparing
    PaintView();
    EnablePictureCommands(true);
    app.unsavedResult = false;
}

void CmdOpen(HWND window) {
    if (!ConfirmDropResult(window)) return;
    if (OpenPicture(window, L"")) ShowOpenedPicture(window, document.currentPath);
}

void CmdDropFiles(HWND window, HDROP drop) {
    if (DocumentLocked() || !ConfirmDropResult(window)) {
        DragFinish(drop);
        return;
    }
    WCHAR path[PATH_CHARS];
    path[0] = 0;
    DragQueryFileW(drop, 0, path, PATH_CHARS);
    DragFinish(drop);
    if (path[0] && OpenPicture(window, path)) ShowOpenedPicture(window, path);
}

void CmdSaveAs(HWND window) {
    WCHAR saved[PATH_CHARS + 8];
    if (SavePictureAs(window, saved)) {
        SetTitleWithPath(saved);
        app.unsavedResult = false;
    }
    PaintView();
}

void CmdClose(HWND window) {
    if (!ConfirmDropResult(window)) return;
    ShowNoPicture();
}

void CmdRepaint(HWND window, int command) {
    // One repaint dialog at a time, also when Ctrl+1 to Ctrl+3 are pressed in the view.
    if (!document.original.pixels || activeRepaintDialog) return;
    if (!ConfirmDropResult(window)) return;
    // Original works on 8-bit pictures only; Smudge and Redraw also on 16-bit ones.
    const int depth = document.original.bitsPerComponent;
    bool suitable = command == IDM_REPAINT_ORIGINAL ? depth == 8 : depth == 8 || depth == 16;
    if (!suitable) {
        MessageBoxW(window, Lang(kFormatNotSupportedEntry), L"", MB_OK);
        return;
    }
    // The dialog shows the opened picture: a result the user agreed to drop is gone.
    if (OpenRepaintDialog(MethodOfCommand(command), document)) app.unsavedResult = false;
}

void CmdStartRun(UINT startMessage) {
    const RepaintMethod method = startMessage == UM_START_ORIGINAL ? RepaintOriginal
                                 : startMessage == UM_START_SMUDGE ? RepaintSmudge
                                                                   : RepaintRedraw;
    // Every run starts from the opened picture, never from an earlier result.
    if (!CopyPicture(document.workCopy, document.original)) {
        MessageBoxW(app.mainWindow, Lang(kNotEnoughMemoryEntry), L"", MB_OK | MB_ICONWARNING);
        PostMessageW(activeRepaintDialog, UM_RUN_ABORTED, 0, 0);
        return;
    }
    StartRepaintWorker(method, document.workCopy, document.result);
}

void CmdMenu(HWND window) {
    HMENU loaded = LoadMenuW(app.instance, MAKEINTRESOURCEW(IDR_POPUP_MENU));
    if (!loaded) return;
    HMENU menu = GetSubMenu(loaded, 0);
    SetMenuText(menu, 0, TRUE, Lang(kFileMenuEntry));
    SetMenuText(menu, 1, TRUE, Lang(kRepaintMenuEntry));
    SetMenuText(menu, 2, TRUE, Lang(kHelpMenuEntry));
    SetMenuTextWithKey(menu, IDM_OPEN, kOpenItemEntry, L'O');
    SetMenuTextWithKey(menu, IDM_SAVE_AS, kSaveAsItemEntry, L'S');
    SetMenuText(menu, IDM_CLOSE, FALSE, Lang(kCloseItemEntry));
    SetMenuText(menu, IDM_OPTIONS, FALSE, Lang(kOptionsItemEntry));
    SetMenuText(menu, IDM_EXIT, FALSE, Lang(kExitItemEntry));
    SetMenuTextWithKey(menu, IDM_REPAINT_ORIGINAL, kRepaintOriginalEntry, RepaintShortcut(IDM_REPAINT_ORIGINAL));
    SetMenuTextWithKey(menu, IDM_REPAINT_SMUDGE, kRepaintSmudgeEntry, RepaintShortcut(IDM_REPAINT_SMUDGE));
    SetMenuTextWithKey(menu, IDM_REPAINT_REDRAW, kRepaintRedrawEntry, RepaintShortcut(IDM_REPAINT_REDRAW));
    SetMenuText(menu, IDM_VISIT_WEB_SITE, FALSE, Lang(kVisitWebSiteEntry));
    SetMenuText(menu, IDM_ABOUT, FALSE, Lang(kAboutItemEntry));
    for (int command : {IDM_OPEN, IDM_SAVE_AS, IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW, IDM_CLOSE}) {
        const bool needsPicture = command != IDM_OPEN;
        if (!CommandAllowedNow(command) || (needsPicture && !ToolbarButtonEnabled(IDM_SAVE_AS)))
            EnableMenuItem(menu, command, MF_BYCOMMAND | MF_GRAYED);
    }

    RECT button = {};
    SendMessageW(app.toolbar, TB_GETRECT, IDM_MENU, reinterpret_cast<LPARAM>(&button));
    POINT corner = {button.left, button.bottom};
    ClientToScreen(app.toolbar, &corner);
    TrackPopupMenu(menu, TPM_LEFTALIGN, corner.x, corner.y, 0, window, nullptr);
    DestroyMenu(loaded);
}

void CmdAbout(HWND window) {
    WCHAR text[2 * LANGUAGE_TEXT_SIZE + 40];
    wsprintfW(text, L"Ostrivel " OSTRIVEL_VERSION_WIDE L"\n\n%s\n%s", Lang(kAboutPurposeEntry), Lang(kAboutHowToEntry));
    MessageBoxW(window, text, Lang(kAboutTitleEntry), MB_ICONINFORMATION);
}

void CmdOptions(HWND window) { ShowOptionsDialog(window); }

void CmdVisitWebSite(HWND window) { ShellExecuteW(window, L"open", kWebSite, nullptr, L".", SW_SHOWNORMAL); }

// Exit ends the program at once, without the unsaved-result question.
void CmdExit(HWND window) { DestroyWindow(window); }

bool DocumentLocked() { return activeRepaintDialog != nullptr || repaintDialogOpen || RepaintWorkerRunning(); }

bool CommandAllowedNow(int command) {
    switch (command) {
    case IDM_OPEN:
    case IDM_SAVE_AS:
    case IDM_CLOSE:
    case IDM_REPAINT_ORIGINAL:
    case IDM_REPAINT_SMUDGE:
    case IDM_REPAINT_REDRAW: return !DocumentLocked();
    }
    return true;
}

bool ConfirmDropResult(HWND window) {
    if (!app.unsavedResult) return true;
    return MessageBoxW(window, Lang(kDropUnsavedResultEntry), Lang(kWarningEntry), MB_YESNO | MB_ICONINFORMATION) ==
           IDYES;
}
