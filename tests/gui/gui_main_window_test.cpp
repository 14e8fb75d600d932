// Window tests of the main window and its commands: the toolbar, zoom box
// and container layout on resize, docking into the container, button and
// popup menu states with and without a picture, tooltips, the status bar and
// title, dropped files with the unsaved-result question, the repaint
// commands' depth check, the repaint protocol's messages, the cursor
// messages passed to a repaint dialog, Close and Exit.
#include <string.h>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

HWND window;
WideString firstPicture, secondPicture;

std::string StatusText() {
    WCHAR text[1024];
    text[0] = 0;
    SendMessageW(app.statusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    return Utf8(text);
}

std::string Title() {
    WCHAR text[1100];
    GetWindowTextW(window, text, 1100);
    return Utf8(text);
}

RECT ButtonRect(int command) {
    RECT rect = {};
    SendMessageW(app.toolbar, TB_GETRECT, command, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

INT_PTR CALLBACK PlainDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

void CheckLayout(const char* when, bool roomy) {
    RECT client, toolbarClient, status;
    GetClientRect(window, &client);
    GetClientRect(app.toolbar, &toolbarClient);
    GetWindowRect(app.statusBar, &status);
    RECT toolbar = ChildRect(app.toolbar), container = ChildRect(dockContainer.window);
    RECT menu = ButtonRect(IDM_MENU), place = ButtonRect(IDM_ZOOM_BOX), box = ChildRect(app.zoomBox);
    // The toolbar's border lies just outside the client area.
    Check(toolbar.left <= 0 && toolbar.top <= 0 && toolbar.right >= client.right, "%s: the toolbar spans the top", when);
    RECT spacer = ButtonRect(IDM_SPACER);
    if (roomy)
        Check(menu.right == toolbarClient.right, "%s: the spacer puts the Menu button at the right edge (%ld of %ld)",
              when, static_cast<long>(menu.right), static_cast<long>(toolbarClient.right));
    else
        Check(spacer.right - spacer.left == 1, "%s: the spacer shrinks to 1 pixel", when);
    Check(box.left == place.left + 5 && box.top == place.top + 8 && box.right == place.right - 5,
          "%s: the zoom box lies over its button", when);
    Check(container.right == client.right && container.top == toolbar.bottom &&
              container.bottom == client.bottom - (status.bottom - status.top),
          "%s: the container is flush right between toolbar and status bar", when);
    Check(IsWindowVisible(dockContainer.window), "%s: the container is shown, empty", when);
}

void Layout(HINSTANCE instance) {
    Section("layout");
    Check(SendMessageW(app.toolbar, TB_BUTTONCOUNT, 0, 0) == 15, "the toolbar has 15 buttons");
    WCHAR text[16] = L"";
    SendMessageW(app.toolbar, TB_GETBUTTONTEXTW, IDM_MENU, reinterpret_cast<LPARAM>(text));
    Check(Utf8(text) == "Menu", "the last one reads \"Menu\"");
    RECT place = ButtonRect(IDM_ZOOM_BOX), zoomIn = ButtonRect(IDM_ZOOM_IN);
    Check(place.right - place.left == 95, "the zoom box's place is 95 wide (got %ld)",
          static_cast<long>(place.right - place.left));
    Check(zoomIn.right - zoomIn.left == 24 + 9 && zoomIn.bottom - zoomIn.top == 24 + 9,
          "buttons are their 24-pixel image + 9 (got %ld x %ld)", static_cast<long>(zoomIn.right - zoomIn.left),
          static_cast<long>(zoomIn.bottom - zoomIn.top));
    // Dialog 163's width in pixels, as the container was sized by it.
    RECT units = {0, 0, 186, 10};
    HWND measure = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_ORIGINAL), window, PlainDialog, 0);
    MapDialogRect(measure, &units);
    DestroyWindow(measure);
    RECT container = ChildRect(dockContainer.window);
    Check(container.right - container.left == units.right, "the container is as wide as dialog 163 (%ld, %ld)",
          static_cast<long>(container.right - container.left), static_cast<long>(units.right));
    CheckLayout("at 900 x 600", true);
    SetClientSize(window, 1200, 700);
    CheckLayout("at 1200 x 700", true);
    SetClientSize(window, 500, 400);
    CheckLayout("at 500 x 400", false);
    SetClientSize(window, 900, 600);
}

void Docking(HINSTANCE instance) {
    Section("docking into the container");
    HWND container = dockContainer.window;
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_REDRAW), container, PlainDialog, 0);
    HWND strip = CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 120, 40, container, nullptr, instance, nullptr);
    RECT dialogRect;
    GetWindowRect(dialog, &dialogRect);
    const int width = dialogRect.right - dialogRect.left, height = dialogRect.bottom - dialogRect.top;
    RECT client;
    GetClientRect(window, &client);

    DockWindow(strip, 0);
    DockWindow(dialog, 0);
    LayoutDockContainer();
    RECT rect = ChildRect(container);
    Check(rect.right - rect.left == width && rect.right == client.right,
          "docking a dialog makes the container its width, flush right");
    RECT first = ChildRect(dialog), second = ChildRect(strip);
    Check(first.left == 1 && first.top == 0 && second.left == 1 && second.top == height,
          "docked windows stack from the top at x = 1 in list order");

    DockWindow(strip, 99);
    Check(dockContainer.docked.size() == 3 && dockContainer.docked[2] == strip,
          "a position past the end appends; the same window may be listed twice");
    UndockWindow(strip);
    Check(dockContainer.docked.size() == 2 && dockContainer.docked[0] == dialog && dockContainer.docked[1] == strip,
          "undocking removes its first entry only");
    UndockWindow(strip);
    UndockWindow(strip);
    Check(dockContainer.docked.size() == 1, "undocking a window not listed does nothing");
    UndockWindow(dialog);
    Check(dockContainer.docked.empty(), "undocking the last leaves the list empty");
    rect = ChildRect(container);
    Check(rect.right - rect.left == width, "and the container keeps its last width");
    DestroyWindow(dialog);
    DestroyWindow(strip);
}

const int kPictureButtons[] = {IDM_SAVE_AS, IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW};
const int kAlwaysButtons[] = {IDM_OPEN, IDM_ZOOM_IN, IDM_ZOOM_OUT, IDM_ZOOM_100, IDM_ZOOM_FIT, IDM_MENU};

void CheckButtons(bool picture, const char* when) {
    bool ok = true;
    for (int command : kAlwaysButtons) ok = ok && ToolbarButtonEnabled(command);
    Check(ok, "%s: Open, the zoom buttons and Menu are enabled", when);
    ok = true;
    for (int command : kPictureButtons) ok = ok && ToolbarButtonEnabled(command) == picture;
    Check(ok, "%s: Save As and the repaint buttons are %s", when, picture ? "enabled" : "disabled");
    Check(!ToolbarButtonEnabled(1) && !ToolbarButtonEnabled(IDM_SPACER) && !ToolbarButtonEnabled(IDM_ZOOM_BOX),
          "%s: the spacers and the zoom box's place never are", when);
    Check((IsWindowEnabled(app.zoomBox) != FALSE) == picture, "%s: the zoom box is %s", when,
          picture ? "enabled" : "disabled");
}

// What the popup menu showed: item texts and grayed states by command.
struct MenuSeen {
    bool shown = false;
    std::vector<std::string> submenus;
    std::vector<std::pair<UINT, std::string>> items;
    std::vector<UINT> grayed;
};
MenuSeen menuSeen;
bool menuBusy;

void CALLBACK ReadMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    if (menuBusy) return;
    HWND popup = FindWindowW(L"#32768", nullptr);
    HMENU menu = popup ? reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0)) : nullptr;
    if (!menu) return;
    menuBusy = true;
    KillTimer(nullptr, timer);
    menuSeen.shown = true;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        WCHAR text[256];
        GetMenuStringW(menu, i, text, 256, MF_BYPOSITION);
        menuSeen.submenus.push_back(Utf8(text));
        HMENU sub = GetSubMenu(menu, i);
        for (int j = 0; sub && j < GetMenuItemCount(sub); ++j) {
            UINT id = GetMenuItemID(sub, j);
            if (id == 0) continue;  // separator
            GetMenuStringW(sub, j, text, 256, MF_BYPOSITION);
            menuSeen.items.push_back({id, Utf8(text)});
            if (GetMenuState(sub, j, MF_BYPOSITION) & MF_GRAYED) menuSeen.grayed.push_back(id);
        }
    }
    EndMenu();
    menuBusy = false;
}

// A menu that closes before the timer saw it (the window lost the
// foreground to another test's leftovers) is shown again.
MenuSeen ShowMenu() {
    for (int attempt = 0; attempt < 3 && !menuSeen.shown; ++attempt) {
        menuSeen = MenuSeen();
        UINT_PTR timer = SetTimer(nullptr, 0, 50, ReadMenu);
        SendMessageW(window, WM_COMMAND, IDM_MENU, 0);
        KillTimer(nullptr, timer);
    }
    MenuSeen seen = menuSeen;
    menuSeen = MenuSeen();
    return seen;
}

std::string ItemText(const MenuSeen& menu, UINT id) {
    for (const auto& item : menu.items)
        if (item.first == id) return item.second;
    return "<missing>";
}

bool Grayed(const MenuSeen& menu, UINT id) {
    for (UINT g : menu.grayed)
        if (g == id) return true;
    return false;
}

void CheckMenu(bool picture, const char* when) {
    MenuSeen menu = ShowMenu();
    if (!Check(menu.shown, "%s: the Menu button shows the popup menu", when)) return;
    Check(menu.submenus == std::vector<std::string>{"File", "Repaint", "Help"}, "%s: File, Repaint, Help", when);
    Check(ItemText(menu, IDM_OPEN) == "Open...\tCtrl+O" && ItemText(menu, IDM_SAVE_AS) == "Save As...\tCtrl+S" &&
              ItemText(menu, IDM_CLOSE) == "Close" && ItemText(menu, IDM_OPTIONS) == "Options..." &&
              ItemText(menu, IDM_EXIT) == "Exit",
          "%s: the File items' texts", when);
    Check(ItemText(menu, IDM_REPAINT_ORIGINAL) == "Repaint Original..." &&
              ItemText(menu, IDM_REPAINT_SMUDGE) == "Repaint Smudge..." &&
              ItemText(menu, IDM_REPAINT_REDRAW) == "Repaint Redraw..." &&
              ItemText(menu, IDM_VISIT_WEB_SITE) == "Visit Web Site" && ItemText(menu, IDM_ABOUT) == "About...",
          "%s: the Repaint and Help items' texts", when);
    bool ok = true;
    for (UINT id : {IDM_SAVE_AS, IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW, IDM_CLOSE})
        ok = ok && Grayed(menu, id) == !picture;
    for (UINT id : {IDM_OPEN, IDM_OPTIONS, IDM_EXIT, IDM_VISIT_WEB_SITE, IDM_ABOUT}) ok = ok && !Grayed(menu, id);
    Check(ok, "%s: Save As, the repaint items and Close are %s", when, picture ? "enabled" : "grayed");
}

std::string Tooltip(int command) {
    NMTTDISPINFOW info = {};
    info.hdr.hwndFrom = nullptr;
    info.hdr.idFrom = command;
    info.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    return info.lpszText ? Utf8(info.lpszText) : "<none>";
}

void NoPicture() {
    Section("without a picture");
    CheckButtons(false, "at start");
    Check(StatusText() == "Press Ctrl+O to open an image", "the status bar says entry 1 (got \"%s\")",
          StatusText().c_str());
    Check(Title() == "Ostrivel", "the title is the product's name");
    CheckMenu(false, "at start");
    Check(Tooltip(IDM_OPEN) == "Open Image (Ctrl+O)" && Tooltip(IDM_SAVE_AS) == "Save Image As (Ctrl+S)" &&
              Tooltip(IDM_ZOOM_IN) == "Zoom In (+)" && Tooltip(IDM_ZOOM_OUT) == "Zoom Out (-)" &&
              Tooltip(IDM_ZOOM_FIT) == "Zoom Image to Fit the Window" && Tooltip(IDM_ZOOM_100) == "Set Zoom 100%" &&
              Tooltip(IDM_ZOOM_BOX) == "Set Zoom",
          "the buttons' tooltips are their language entries");
    Check(Tooltip(IDM_REPAINT_ORIGINAL) == "Repaint Original..." && Tooltip(IDM_REPAINT_SMUDGE) == "Repaint Smudge..." &&
              Tooltip(IDM_REPAINT_REDRAW) == "Repaint Redraw...",
          "the repaint buttons' too");
    Check(Tooltip(IDM_MENU) == "<none>" && Tooltip(1) == "<none>", "Menu and the spacers have none");
    SendMessageW(window, WM_COMMAND, IDM_ZOOM_IN, 0);
    SendMessageW(window, WM_COMMAND, IDM_ZOOM_FIT, 0);
    Check(view.scale == 1.0, "zoom commands do nothing without a picture");
}

void Dropping() {
    Section("a dropped file");
    DropFile(window, firstPicture);
    Check(document.original.width == 64 && document.result.width == 64, "the first picture is opened");
    Check(Title() == "Ostrivel - " + Utf8(firstPicture.c_str()), "the title shows its path (\"%s\")", Title().c_str());
    Check(lstrcmpW(document.metadataSource, firstPicture.c_str()) == 0 &&
              lstrcmpW(document.currentPath, firstPicture.c_str()) == 0,
          "it is the current file and the metadata source");
    Check(StatusText() == Utf8(DefaultLang(22)), "the status bar says entry 22");
    CheckButtons(true, "with a picture");
    CheckMenu(true, "with a picture");
    Check(app.unsavedResult == 0, "nothing is unsaved");

    Section("the unsaved-result question on a drop");
    SendMessageW(window, UM_RUN_DONE, 0, 0);
    Check(app.unsavedResult == 1, "UM_RUN_DONE marks the result unsaved");
    int answer = IDNO;
    auto answerWith = [&answer](HWND dialog, const SeenDialog&) {
        PressButton(dialog, answer);
        return true;
    };
    std::vector<SeenDialog> asked = WithDialogs([] { DropFile(window, secondPicture); }, answerWith);
    Check(asked.size() == 1 && asked[0].text == Utf8(DefaultLang(21)) && asked[0].title == "Warning",
          "dropping asks entry 21 with caption entry 3");
    Check(document.original.width == 64 && app.unsavedResult == 1, "No keeps the result and its mark");
    answer = IDYES;
    asked = WithDialogs([] { DropFile(window, secondPicture); }, answerWith);
    Check(asked.size() == 1 && document.original.width == 40 && app.unsavedResult == 0,
          "Yes opens the dropped picture and clears the mark");

    repaintDialogOpen = 1;
    app.unsavedResult = 1;
    asked = WithDialogs([] { DropFile(window, firstPicture); }, answerWith);
    Check(asked.empty() && document.original.width == 40, "a drop is ignored while a repaint dialog is open");
    repaintDialogOpen = 0;
    app.unsavedResult = 0;
}

void RepaintCommands() {
    Section("repaint commands");
    CBxPicBufAPI::ConvertBpcComp(document.original, 16, 3);
    std::vector<SeenDialog> seen = WithDialogs([] { SendMessageW(window, WM_COMMAND, IDM_REPAINT_ORIGINAL, 0); });
    Check(seen.size() == 1 && seen[0].text == "Image format not supported!" && seen[0].title.empty() &&
              activeRepaintDialog == nullptr,
          "Original refuses a 16-bit picture with entry 41 and no caption");
    for (int command : {IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW}) {
        SendMessageW(window, WM_COMMAND, command, 0);
        HWND dialog = activeRepaintDialog;
        Check(dialog != nullptr, "command %d takes it and opens its dialog", command);
        if (dialog) SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    CBxPicBufAPI::ConvertBpcComp(document.original, 8, 3);
}

// A stand-in repaint dialog that records the cursor messages it is sent.
std::vector<std::pair<WPARAM, LPARAM>> cursorMessages;
LRESULT CALLBACK RecordCursor(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR) {
        cursorMessages.push_back({wParam, lParam});
        return TRUE;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RepaintProtocol(HINSTANCE instance) {
    Section("messages of the repaint protocol");
    // An aborted run shows the opened picture again (the work copy).
    CBxPicBufAPI::ReinitHeap(document.workCopy, document.original);
    CBxPicBufAPI::Copy(document.workCopy, document.original);
    memset(document.result.pixels, 200, static_cast<size_t>(document.result.size));
    app.unsavedResult = 1;
    SendMessageW(window, UM_RUN_ABORTED, 0, 0);
    Check(memcmp(document.result.pixels, document.original.pixels, static_cast<size_t>(document.original.size)) == 0,
          "UM_RUN_ABORTED puts the work copy back into the result");
    Check(repaintDialogOpen == 1 && app.unsavedResult == 0, "and marks the dialog open and nothing unsaved");
    repaintDialogOpen = 0;

    WNDCLASSW wc = {};
    wc.lpfnWndProc = RecordCursor;
    wc.hInstance = instance;
    wc.lpszClassName = L"CursorRecorder";
    RegisterClassW(&wc);
    HWND dialog = CreateWindowExW(0, L"CursorRecorder", L"", WS_CHILD, 0, 0, 10, 10, dockContainer.window, nullptr,
                                  instance, nullptr);
    activeRepaintDialog = dialog;
    cursorMessages.clear();
    SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    Check(cursorMessages.size() == 1 && cursorMessages[0].second == MAKELPARAM(HTCLIENT, WM_MOUSEMOVE),
          "WM_SETCURSOR is passed to the repaint dialog unchanged");
    frameDragging = 1;
    cursorMessages.clear();
    double srcX = view.srcX;
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 300));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(320, 300));
    Check(cursorMessages.size() == 2 && cursorMessages[0].second == MAKELPARAM(HTNOWHERE, WM_LBUTTONDOWN) &&
              cursorMessages[1].second == MAKELPARAM(HTNOWHERE, WM_MOUSEMOVE),
          "while the frame is dragged, button and moves go to the dialog as WM_SETCURSOR");
    Check(!view.dragging && view.srcX == srcX, "and do not pan the view");
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(320, 300));
    frameDragging = 0;
    activeRepaintDialog = nullptr;
    DestroyWindow(dialog);
}

void Closing() {
    Section("Close");
    app.unsavedResult = 1;
    int answer = IDNO;
    auto answerWith = [&answer](HWND dialog, const SeenDialog&) {
        PressButton(dialog, answer);
        return true;
    };
    std::vector<SeenDialog> asked =
        WithDialogs([] { SendMessageW(window, WM_COMMAND, IDM_CLOSE, 0); }, answerWith);
    Check(asked.size() == 1 && document.result.pixels != nullptr, "Close asks first; No keeps the picture");
    answer = IDYES;
    std::string title = Title();
    asked = WithDialogs([] { SendMessageW(window, WM_COMMAND, IDM_CLOSE, 0); }, answerWith);
    Check(asked.size() == 1 && !document.original.pixels && !document.result.pixels, "Yes frees both pictures");
    Check(!view.cache[ViewSlotOriginal].pixels && !view.cache[ViewSlotResult].pixels, "and both display caches");
    Check(app.unsavedResult == 0, "nothing is unsaved any more");
    CheckButtons(false, "after Close");
    Check(StatusText() == Utf8(DefaultLang(1)), "the status bar says entry 1 again");
    Check(Title() == title, "the title keeps its last text");
    RECT rect = ViewRect(ViewRectPaint);
    Check(ClientPixel(window, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2) == RGB(48, 48, 48),
          "the view shows only its background");
    CheckMenu(false, "after Close");
}

void ExitWithUnsavedResult() {
    Section("Exit with an unsaved result");
    DropFile(window, firstPicture);
    SendMessageW(window, UM_RUN_DONE, 0, 0);
    std::vector<SeenDialog> asked = WithDialogs([] { SendMessageW(window, WM_COMMAND, IDM_EXIT, 0); });
    PumpMessages(20);
    Check(asked.empty(), "Exit asks nothing");
    Check(!IsWindow(window), "and ends the window at once");
    Check(ReadSettingsKey("Crashed Last Time") == "0", "having written the settings");
    Check(!document.original.pixels && !document.result.pixels && !document.backBuffer.pixels,
          "and freed the pictures and the back buffer");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(120);
    RemoveLanguageFile();
    RemoveSettingsFolder();
    firstPicture = TestFilesFolder() + L"first.png";
    secondPicture = TestFilesFolder() + L"second.bmp";
    if (!Check(WriteTestPicture(firstPicture, 64, 48, SaveFormatPng) &&
                   WriteTestPicture(secondPicture, 40, 30, SaveFormatBmp),
               "the test pictures are written"))
        return Summary();
    window = OpenEditorWindow(instance, 900, 600);
    if (!Check(window != nullptr, "the main window is created")) return Summary();

    Layout(instance);
    Docking(instance);
    NoPicture();
    Dropping();
    RepaintCommands();
    RepaintProtocol(instance);
    Closing();
    ExitWithUnsavedResult();
    return Summary();
}
