// Window tests of the main window and its image view: its images and dark
// look, button and popup menu states, tooltips, the status bar and title,
// dropped files and every way to the unsaved-result question, the layout on
// resize with a docked dialog, the repaint commands, Close and Exit; then
// fit, typed zoom, the wheel and the zoom buttons, panning, comparing with
// the right button, the preview frame outline and a window larger than the
// back buffer. The window is driven with messages and what it shows is read
// back from the screen.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skin/skin.h"

namespace {

const COLORREF kRed = RGB(220, 30, 30);
const COLORREF kBlue = RGB(30, 30, 220);
const COLORREF kGreen = RGB(30, 200, 30);
const COLORREF kBackground = RGB(48, 48, 48);

HWND window;
std::wstring firstPicture, secondPicture, halvesPicture, tinyPicture, widePicture;

std::string StatusText() {
    WCHAR text[1024] = L"";
    SendMessageW(app.statusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    return Utf8(text);
}

void Command(int id) { SendMessageW(window, WM_COMMAND, id, 0); }

bool Near(double a, double b) { return fabs(a - b) < 1e-9; }

bool LooksAt(int x, int y, COLORREF expected) { return Looks(ClientPixel(window, x, y), expected); }

BOOL CALLBACK DecodeEach(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR counts) {
    int* decoded = reinterpret_cast<int*>(counts);
    HBITMAP image = LoadPngResource(module, name);
    BITMAP info = {};
    if (image && GetObjectW(image, sizeof(info), &info) && info.bmWidth > 0 && info.bmBitsPixel == 32) ++decoded[0];
    ++decoded[1];
    if (image) DeleteObject(image);
    return TRUE;
}

void CheckButtons(bool picture, const char* when) {
    bool ok = !ToolbarButtonEnabled(IDM_SPACER) && !ToolbarButtonEnabled(IDM_ZOOM_BOX);
    for (int command : {IDM_OPEN, IDM_ZOOM_IN, IDM_ZOOM_OUT, IDM_ZOOM_100, IDM_ZOOM_FIT, IDM_MENU})
        ok = ok && ToolbarButtonEnabled(command);
    for (int command : {IDM_SAVE_AS, IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW})
        ok = ok && ToolbarButtonEnabled(command) == picture;
    Check(ok && (IsWindowEnabled(app.zoomBox) != FALSE) == picture,
          "%s: Save As, the repaint buttons and the zoom box are %s, the others enabled", when,
          picture ? "enabled" : "disabled");
}

// A menu that closes before the timer saw it (the window lost the
// foreground to another test's leftovers) is shown again.
MenuSeen CheckMenu(bool picture, const char* when, HWND tip = nullptr) {
    MenuSeen seen;
    for (int attempt = 0; attempt < 3 && !seen.shown; ++attempt)
        seen = ReadPopupMenu([] { Command(IDM_MENU); }, tip, picture && !tip ? L"popup_menu" : nullptr);
    std::vector<UINT> expected;
    if (!picture) expected = {IDM_SAVE_AS, IDM_CLOSE, IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW};
    std::sort(expected.begin(), expected.end());
    Check(seen.shown && seen.grayed == expected, "%s: the popup menu grays %s", when,
          picture ? "nothing" : "Save As, Close and the repaint items");
    return seen;
}

std::string Tooltip(int command) {
    NMTTDISPINFOW info = {};
    info.hdr.idFrom = command;
    info.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    return info.lpszText ? Utf8(info.lpszText) : "<none>";
}

void NoPicture(HINSTANCE instance) {
    Section("without a picture; the dark look");
    Check(Shot(window, L"main_window"), "main_window.png is written");
    RECT bar = ChildRect(app.toolbar), status = ChildRect(app.statusBar);
    Check(Looks(ClientPixel(window, bar.left + 2, bar.bottom - 3), RGB(70, 70, 70)) &&
              Looks(ClientPixel(window, status.left + 1, status.bottom - 2), RGB(70, 70, 70)),
          "the toolbar and the status bar are RGB(70, 70, 70)");
    int decoded[2] = {0, 0};  // the images of the toolbar and the check boxes
    EnumResourceNamesW(instance, L"PNG", DecodeEach, reinterpret_cast<LONG_PTR>(decoded));
    Check(decoded[1] >= 20 && decoded[0] == decoded[1], "every PNG image decodes (%d of %d)", decoded[0], decoded[1]);
    CheckButtons(false, "at start");
    CheckMenu(false, "at start");
    Check(StatusText() == "Press Ctrl+O to open an image" && WindowText(window) == "Ostrivel",
          "the status bar says entry 1, the title is the product's name");
    Check(Tooltip(IDM_OPEN) == "Open Image (Ctrl+O)" && Tooltip(IDM_ZOOM_BOX) == "Set Zoom" &&
              Tooltip(IDM_REPAINT_REDRAW) == "Repaint Redraw (Ctrl+3)" && Tooltip(IDM_MENU) == "<none>" &&
              Tooltip(1) == "<none>",
          "the buttons' tooltips are their entries, a repaint command's with its shortcut; Menu and spacers have none");
    Command(IDM_ZOOM_IN);
    Command(IDM_ZOOM_FIT);
    Check(view.scale == 1.0, "zoom commands do nothing without a picture");
}

void Dropping() {
    Section("a dropped file and the unsaved-result question");
    DropFile(window, firstPicture);
    Check(document.original.width == 64 && document.result.width == 64 && app.unsavedResult == 0 &&
              lstrcmpW(document.metadataSource, firstPicture.c_str()) == 0 &&
              lstrcmpW(document.currentPath, firstPicture.c_str()) == 0,
          "the first picture is opened as the current file and metadata source, nothing unsaved");
    Check(WindowText(window) == "Ostrivel - " + Utf8(firstPicture.c_str()) &&
              StatusText() == Utf8(DefaultLang(kViewHintEntry)),
          "the title shows its path, the status bar entry 22");
    CheckButtons(true, "with a picture");
    CheckMenu(true, "with a picture");

    // Every way of dropping the shown result asks first; No keeps it.
    const struct {
        const char* what;
        void (*act)();
    } ways[] = {{"a drop", [] { DropFile(window, secondPicture); }},
                {"Open", [] { Command(IDM_OPEN); }},
                {"Close", [] { Command(IDM_CLOSE); }},
                {"the close box", [] { SendMessageW(window, WM_CLOSE, 0, 0); }}};
    for (const auto& way : ways) {
        SendMessageW(window, UM_RUN_DONE, 0, 0);
        std::vector<SeenDialog> asked = WithDialogs(way.act, [](HWND dialog, const SeenDialog&) {
            PressButton(dialog, GetDlgItem(dialog, IDNO) ? IDNO : IDCANCEL);  // an open dialog is cancelled
            return true;
        });
        Check(asked.size() == 1 && asked[0].text == Utf8(DefaultLang(kDropUnsavedResultEntry)) &&
                  asked[0].title == "Warning" && IsWindow(window) && document.original.width == 64 &&
                  app.unsavedResult == 1,
              "%s asks entry 21 with caption entry 3 (%d asked); No keeps the result and its mark", way.what,
              static_cast<int>(asked.size()));
    }
    std::vector<SeenDialog> asked = WithDialogs([] { DropFile(window, secondPicture); }, IDYES);
    Check(asked.size() == 1 && document.original.width == 40 && app.unsavedResult == 0,
          "Yes opens the dropped picture and clears the mark");
    repaintDialogOpen = 1;
    app.unsavedResult = 1;
    asked = WithDialogs([] { DropFile(window, firstPicture); }, IDYES);
    Check(asked.empty() && document.original.width == 40, "a drop is ignored while a repaint dialog is open");
    repaintDialogOpen = 0;
    app.unsavedResult = 0;
}

void TooltipAndMenu() {
    Section("a button's tooltip and the popup menu");
    HWND tip = reinterpret_cast<HWND>(SendMessageW(app.toolbar, TB_GETTOOLTIPS, 0, 0));
    SendMessageW(tip, TTM_SETDELAYTIME, TTDT_INITIAL, 10);
    RECT button = ButtonRect(IDM_SAVE_AS);
    POINT at = {(button.left + button.right) / 2, (button.top + button.bottom) / 2};
    ClientToScreen(app.toolbar, &at);
    MoveMouse(at);
    Check(PumpUntil([tip] { return IsWindowVisible(tip) != FALSE; }, 3000), "the mouse on Save As shows its tooltip");
    PumpMessages(100);
    RECT tipArea;
    GetWindowRect(tip, &tipArea);
    Check(Shot(tip, L"tooltip", &tipArea), "tooltip.png is written");
    Check(Looks(ClientPixel(tip, 3, 3), SkinColor(COLOR_MENU)), "it has the skin's menu colour");
    Check(!CheckMenu(true, "with the tooltip shown", tip).tipShown, "the popup menu takes the tooltip away");
    MoveMouse(POINT{1500, 1100});  // off the window
    SendMessageW(tip, TTM_SETDELAYTIME, TTDT_AUTOMATIC, -1);
}

// A child window's rectangle in the main window's client coordinates.
RECT RectInMain(HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The layout with the tallest repaint dialog docked, at a roomy size and
// at sizes below the least width, height or both.
void Layout() {
    Section("the layout on resize and the least window size");
    Command(IDM_REPAINT_ORIGINAL);
    HWND dialog = activeRepaintDialog;
    if (!Check(dialog != nullptr, "the Original dialog is open")) return;
    const struct {
        int width, height;  // asked for, of the window
        bool narrow, low;   // below the least width, height
    } sizes[] = {{1200, 800, false, false}, {40, 30, true, true}, {60, 900, true, false}, {1100, 60, false, true}};
    for (const auto& size : sizes) {
        SetWindowPos(window, nullptr, 0, 0, size.width, size.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        PumpMessages(20);
        RECT frame, client, toolbar, status = RectInMain(app.statusBar), shown = RectInMain(dialog);
        GetWindowRect(window, &frame);
        GetClientRect(window, &client);
        GetClientRect(app.toolbar, &toolbar);
        const RECT bar = ChildRect(app.toolbar), container = ChildRect(dockContainer.window), docked = ChildRect(dialog);
        const RECT menu = ButtonRect(IDM_MENU), spacer = ButtonRect(IDM_SPACER);
        const bool widthOk = size.narrow ? spacer.right - spacer.left == 1 : frame.right - frame.left == size.width;
        const bool heightOk = size.low ? shown.bottom == status.top : frame.bottom - frame.top == size.height;
        bool buttonsInside = true;
        for (int id : {IDOK, IDCANCEL}) {
            RECT button = RectInMain(GetDlgItem(dialog, id));
            buttonsInside = buttonsInside && button.left >= 0 && button.bottom <= status.top;
        }
        Check(widthOk && heightOk && buttonsInside && shown.top >= bar.bottom && menu.right == toolbar.right,
              "asked for %d x %d: Menu ends the toolbar, the dialog with OK and Cancel lies between the toolbar and "
              "the status bar, each side at its least only where asked below it (got %ld x %ld)",
              size.width, size.height, static_cast<long>(frame.right - frame.left),
              static_cast<long>(frame.bottom - frame.top));
        Check(bar.left <= 0 && bar.top <= 0 && bar.right >= client.right && container.right == client.right &&
                  container.top == bar.bottom && container.bottom == status.top &&
                  container.right - container.left == docked.right - docked.left && docked.left == 1 &&
                  docked.top == 0,
              "asked for %d x %d: the toolbar spans the top, the container holds the dialog flush right", size.width,
              size.height);
    }
    Check(Shot(window, L"least_size"), "least_size.png is written");
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    Check(dockContainer.docked.empty(), "the closed dialog is undocked, as are those measured at start-up");
    SetClientSize(window, 900, 600);
}

void RepaintCommands() {
    Section("repaint commands and 16-bit pictures");
    CBxPicBufAPI::ConvertBpcComp(document.original, 16, 3);
    std::vector<SeenDialog> seen = WithDialogs([] { Command(IDM_REPAINT_ORIGINAL); });
    Check(seen.size() == 1 && seen[0].text == "Image format not supported!" && seen[0].title.empty() &&
              activeRepaintDialog == nullptr,
          "Original refuses a 16-bit picture with entry 41 and no caption");
    for (int command : {IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW}) {
        Command(command);
        HWND dialog = activeRepaintDialog;
        Check(dialog != nullptr, "command %d takes it and opens its dialog", command);
        if (dialog) SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    CBxPicBufAPI::ConvertBpcComp(document.original, 8, 3);
}

void Closing() {
    Section("Close");
    DropFile(window, secondPicture);
    app.unsavedResult = 1;
    std::string title = WindowText(window);
    std::vector<SeenDialog> asked = WithDialogs([] { Command(IDM_CLOSE); }, IDYES);
    Check(asked.size() == 1 && !document.original.pixels && !document.result.pixels &&
              !view.cache[ViewSlotOriginal].pixels && !view.cache[ViewSlotResult].pixels && app.unsavedResult == 0,
          "Close asks; Yes frees both pictures and both display caches; nothing is unsaved");
    CheckButtons(false, "after Close");
    CheckMenu(false, "after Close");
    RECT rect = ViewRect(ViewRectPaint);
    Check(StatusText() == Utf8(DefaultLang(kOpenHintEntry)) && WindowText(window) == title &&
              LooksAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2, kBackground),
          "the status bar says entry 1 again, the title keeps its last text, the view shows its background");
}

// --- the view ------------------------------------------------------------

std::string ZoomBoxText() { return WindowText(app.zoomBox); }

// Types a zoom into the box and presses Enter in its edit field.
void TypeZoom(const WCHAR* text) {
    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    GetComboBoxInfo(app.zoomBox, &info);
    SetWindowTextW(app.zoomBox, text);
    SetFocus(info.hwndItem);
    PostMessageW(info.hwndItem, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(info.hwndItem, WM_KEYUP, VK_RETURN, 0);
    PumpMessages(10);
}

// A click on a toolbar button, posted as the mouse sends it.
void ClickButton(int command) {
    RECT r = ButtonRect(command);
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageW(app.toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(app.toolbar, WM_LBUTTONUP, 0, at);
    PumpMessages(10);
}

void Wheel(int clientX, int clientY, int delta) {
    POINT screen = {clientX, clientY};
    ClientToScreen(window, &screen);
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(screen.x, screen.y));
}

void Drag(POINT from, POINT to) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((from.x + to.x) / 2, from.y));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
}

POINT Centre() {
    RECT rect = ViewRect(ViewRectAnchor);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void FitAndZoom() {
    Section("fit of 200 x 100 into a 1000 x 800 view");
    // The anchor view is the client area less the container, the toolbar
    // (+2) and 20 pixels at the bottom.
    RECT toolbar, container = ChildRect(dockContainer.window);
    GetClientRect(app.toolbar, &toolbar);
    SetClientSize(window, 1000 + container.right - container.left, 800 + toolbar.bottom + 2 + 20);
    RECT anchor = ViewRect(ViewRectAnchor);
    Check(anchor.right - anchor.left == 1000 && anchor.bottom - anchor.top == 800, "the view is 1000 x 800");
    DropFile(window, halvesPicture);
    POINT centre = Centre();
    Check(Near(view.scale, 5.0) && Near(view.srcX, 100) && Near(view.srcY, 50) && Near(view.dstX, centre.x) &&
              Near(view.dstY, centre.y),
          "it fits with scale 5.0, its centre at the view's (scale %g)", view.scale);
    Check(ZoomBoxText() == "500.0 %" && GetFocus() == window, "the zoom box says 500.0 %%, the focus is back");
    Check(LooksAt(centre.x - 250, centre.y, kRed) && LooksAt(centre.x + 250, centre.y, kBlue) &&
              LooksAt(centre.x, centre.y - 300, kBackground),
          "the screen shows its red and blue halves on grey 48");
    Check(LooksAt(2, centre.y, kRed) && LooksAt(997, centre.y, kBlue), "the picture spans the view's whole width");
    Check(Shot(window, L"view_fit"), "view_fit.png is written");

    Section("typed zoom and the zoom box");
    const struct {
        const WCHAR* text;
        double scale;
        const char* shown;
    } typed[] = {{L"25", 0.25, "25.0 %"},     {L"12,5 %", 0.125, "12.5 %"}, {L"5", 0.10, "10.0 %"},
                 {L"2000", 8.0, "800.0 %"},   {L"33.3", 0.333, "33.3 %"},   {L"abc", 0.333, "33.3 %"},
                 {L"1a", 0.333, "33.3 %"}};
    for (const auto& t : typed) {
        TypeZoom(t.text);
        Check(Near(view.scale, t.scale) && ZoomBoxText() == t.shown,
              "\"%s\" gives scale %g, shown as \"%s\" (got %g, \"%s\")", Utf8(t.text).c_str(), t.scale, t.shown,
              view.scale, ZoomBoxText().c_str());
    }
    Check(GetFocus() == window, "Enter gives the focus back to the main window");
    SendMessageW(app.zoomBox, CB_SETCURSEL, 6, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_ZOOM_BOX, CBN_SELCHANGE), reinterpret_cast<LPARAM>(app.zoomBox));
    Check(Near(view.scale, 4.0) && ZoomBoxText() == "400.0 %", "choosing 400.0 %% in the box zooms to 4.0");

    Section("Zoom 100% and the wheel beside the picture");
    Command(IDM_ZOOM_FIT);
    Command(IDM_ZOOM_100);
    Check(Near(view.scale, 1.0) && ZoomBoxText() == "100.0 %" && Near(view.dstX, centre.x) && Near(view.srcX, 100),
          "Zoom 100%% moves the picture point at the anchor to the centre");
    // The picture spans centre.x - 100 to centre.x + 100; the mouse is left of it.
    Wheel(centre.x - 300, centre.y + 10, WHEEL_DELTA);
    Check(Near(view.dstX, centre.x - 100) && Near(view.srcX, 0.0) && Near(view.dstY, centre.y + 10) &&
              Near(view.srcY, 60.0),
          "the wheel beside the picture zooms about the nearest point of its edge at the mouse's height");
    Check(LooksAt(centre.x - 98, centre.y, kRed) && LooksAt(centre.x - 103, centre.y, kBackground),
          "the left edge stays where it was");
}

// Wheel steps at the view's centre, posted as the mouse sends them.
void PostWheel(int steps) {
    POINT at = Centre();
    ClientToScreen(window, &at);
    for (int i = 0; i < abs(steps); ++i)
        PostMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, steps > 0 ? WHEEL_DELTA : -WHEEL_DELTA),
                     MAKELPARAM(at.x, at.y));
    PumpMessages(10);
}

void ZoomOutTimes(int times) {
    for (int i = 0; i < times; ++i) ClickButton(IDM_ZOOM_OUT);
}

void ZoomRange() {
    Section("the zoom range: 800 % at most, 10 % or 100 pixels of the longer side at least");
    const struct {
        const std::wstring* picture;
        const char* what;
        void (*act)();
        double scale;
    } cases[] = {
        {&tinyPicture, "1 x 1 fits", [] { ClickButton(IDM_ZOOM_FIT); }, 8.0},
        {&tinyPicture, "1 x 1 at 800 %: the wheel out", [] { PostWheel(-1); }, 8.0},
        {&tinyPicture, "1 x 1 at 800 %: Zoom Out", [] { ClickButton(IDM_ZOOM_OUT); }, 8.0 * kZoomOutFactor},
        {&widePicture, "12000 x 10 fits below 10 %", [] { ClickButton(IDM_ZOOM_FIT); }, 1000.0 / 12000},
        {&widePicture, "12000 x 10: Zoom Out 20 times", [] { ZoomOutTimes(20); }, 100.0 / 12000},
        {&widePicture, "12000 x 10: fit, the wheel out 20 times", [] { ClickButton(IDM_ZOOM_FIT); PostWheel(-20); },
         100.0 / 12000},
        {&halvesPicture, "200 x 100: fit, the wheel out 30 times", [] { ClickButton(IDM_ZOOM_FIT); PostWheel(-30); },
         0.5},
        {&halvesPicture, "200 x 100 at 50 %: Zoom Out (-)", [] { PressKey(window, WM_CHAR, '-'); }, 0.5 * kZoomOutFactor},
        {&halvesPicture, "790 %, Zoom In", [] { TypeZoom(L"790"); ClickButton(IDM_ZOOM_IN); }, 8.0},
        {&halvesPicture, "790 %, the wheel in", [] { TypeZoom(L"790"); PostWheel(1); }, 8.0},
        {&halvesPicture, "790 %, Zoom Out", [] { TypeZoom(L"790"); ClickButton(IDM_ZOOM_OUT); }, 7.9 * kZoomOutFactor},
        {&halvesPicture, "11 %, Zoom Out", [] { TypeZoom(L"11"); ClickButton(IDM_ZOOM_OUT); }, 0.1},
        {&halvesPicture, "the box's 800 %, Zoom In", [] {
             SendMessageW(app.zoomBox, CB_SETCURSEL, 7, 0);
             SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_ZOOM_BOX, CBN_SELCHANGE),
                          reinterpret_cast<LPARAM>(app.zoomBox));
             ClickButton(IDM_ZOOM_IN);
         }, 8.0},
    };
    const std::wstring* shown = nullptr;
    for (const auto& c : cases) {
        if (c.picture != shown) DropFile(window, *c.picture);
        shown = c.picture;
        c.act();
        char text[32];
        snprintf(text, sizeof text, "%.1f %%", c.scale * 100);
        Check(Near(view.scale, c.scale) && ZoomBoxText() == text, "%s: scale %g, \"%s\" (got %g, \"%s\")", c.what,
              c.scale, text, view.scale, ZoomBoxText().c_str());
    }
}

void Panning() {
    Section("pan by drag and arrows");
    DropFile(window, halvesPicture);
    Command(IDM_ZOOM_FIT);
    Command(IDM_ZOOM_100);
    const POINT centre = Centre();
    double srcX = view.srcX, srcY = view.srcY;
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre.x, centre.y));
    Check(view.dragging && GetCapture() == window, "a click in the view starts a drag with the mouse captured");
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(centre.x, centre.y));
    Check(!view.dragging && GetCapture() == nullptr, "releasing the button ends it");
    Drag(centre, POINT{centre.x - 40, centre.y - 20});
    Check(Near(view.srcX, srcX + 40) && Near(view.srcY, srcY + 20),
          "dragging 40 left and 20 up moves the source anchor by that (%g, %g)", view.srcX - srcX, view.srcY - srcY);
    Check(LooksAt(centre.x - 138, centre.y, kRed) && LooksAt(centre.x - 143, centre.y, kBackground),
          "the screen shows the picture moved");
    Command(IDM_ZOOM_IN);  // 1.2
    srcX = view.srcX;
    Drag(centre, POINT{centre.x + 60, centre.y});
    Check(Near(view.srcX, srcX - 50), "at zoom 1.2 a drag of 60 pixels moves 50 picture pixels (%g)", view.srcX - srcX);

    RECT hit = ViewRect(ViewRectHitTest);
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre.x, hit.top - 1));
    Check(!view.dragging, "a click above the view starts no drag");
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.right, hit.top));
    Check(view.dragging, "a click on the view's corner does (bounds included)");
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(hit.right, hit.top));

    double dstX = view.dstX, dstY = view.dstY;
    PressKey(window, WM_KEYDOWN, VK_RIGHT);
    PressKey(window, WM_KEYDOWN, VK_UP);
    Check(Near(view.dstX, dstX + 50) && Near(view.dstY, dstY - 50), "the right and up arrows move the picture 50 pixels");
    PressKey(window, WM_KEYDOWN, VK_LEFT);
    PressKey(window, WM_KEYDOWN, VK_DOWN);
    Check(Near(view.dstX, dstX) && Near(view.dstY, dstY), "left and down move it back");
    int opened = 0, openedByS = -1;
    WithDialogs(
        [&] {
            PressKey(window, WM_KEYDOWN, 'S');
            openedByS = opened;
            PressKey(window, WM_KEYDOWN, 'S', true);
        },
        [&](HWND dialog, const SeenDialog& seen) {
            opened += seen.title == "Save As...";
            PressButton(dialog, IDCANCEL);
            return true;
        });
    Check(openedByS == 0 && opened == 1, "S alone opens nothing, Ctrl+S opens Save As");
    SendMessageW(window, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(centre.x, centre.y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(centre.x, centre.y));
    Check(Near(view.scale, 5.0), "a double click fits the picture (got %g)", view.scale);
}

void ComparingAndFrame() {
    Section("comparing with the right button");
    DropFile(window, halvesPicture);
    Command(IDM_ZOOM_FIT);
    const POINT centre = Centre();
    // A finished run: the result differs from the opened picture.
    for (int y = 0; y < document.result.height; ++y)
        for (int x = 0; x < document.result.width; ++x)
            memcpy(PicRow(document.result, y) + 3 * x, "\x1e\xc8\x1e", 3);  // kGreen as BGR
    SendMessageW(window, UM_REDRAW, 0, 0);
    Check(LooksAt(centre.x - 250, centre.y, kRed), "rendering from the cache does not read the changed result");
    SendMessageW(window, UM_RESULT_CHANGED, 0, 0);
    Check(LooksAt(centre.x - 250, centre.y, kGreen), "UM_RESULT_CHANGED shows the new result");
    SendMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(centre.x, centre.y));
    Check(LooksAt(centre.x - 250, centre.y, kRed), "holding the right button shows the opened picture");
    SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(centre.x, centre.y));
    Check(LooksAt(centre.x - 250, centre.y, kGreen) && GetCapture() == nullptr,
          "releasing it shows the result again and releases the mouse");

    Section("the preview frame outline");
    CBxRect frame = {20, 20, 60, 60};
    int x0, y0, x1, y1;
    ViewMap().MapPointSrcToDst(x0, y0, frame.left, frame.top);
    ViewMap().MapPointSrcToDst(x1, y1, frame.right, frame.bottom);
    const int midX = (x0 + x1) / 2, midY = (y0 + y1) / 2;
    const COLORREF inverted = RGB(255 - GetRValue(kGreen), 255 - GetGValue(kGreen), 255 - GetBValue(kGreen));
    previewFrame = &frame;
    SendMessageW(window, UM_REDRAW_FRAME, 0, 0);
    Check(LooksAt(x0, midY, inverted) && LooksAt(x0 + 1, midY, inverted) && LooksAt(x1, midY, inverted) &&
              LooksAt(x1 - 1, midY, inverted) && LooksAt(midX, y0, inverted) && LooksAt(midX, y1 - 1, inverted) &&
              LooksAt(x0, y0, inverted) && LooksAt(x0 + 2, midY, kGreen) && LooksAt(midX, midY, kGreen),
          "each side is two inverted lines, the corner inverted once, not twice; inside the picture is untouched");
    SendMessageW(window, UM_REDRAW, 0, 0);
    Check(LooksAt(x0, midY, inverted), "every render draws it while it is set");
    previewFrame = nullptr;
    SendMessageW(window, UM_REDRAW, 0, 0);
    Check(LooksAt(x0, midY, kGreen), "without it the outline is gone");
}

void LargerThanBackBuffer() {
    Section("a window larger than the back buffer");
    SetClientSize(window, 3400, 2300);
    RECT client;
    GetClientRect(window, &client);
    Check(client.right == 3400 && client.bottom == 2300, "the client area is 3400 x 2300");
    // A zoom that covers the whole window with the picture.
    view.scale = 40.0;
    view.srcX = view.srcY = 50;
    view.dstX = 1500;
    view.dstY = 1000;
    SBxPicBuf& back = backBuffer.pixels;
    memset(back.pixels, 7, static_cast<size_t>(back.size));
    SendMessageW(window, UM_REDRAW, 0, 0);
    const uint8_t* last = PicRow(back, back.height - 1) + 3 * (back.width - 1);
    Check(last[1] == GetGValue(kGreen) && IsWindow(window),
          "the render fills the back buffer up to its last pixel and nothing beyond (got %d)", last[1]);
    SetClientSize(window, 900, 600);
    Command(IDM_ZOOM_FIT);
    Check(LooksAt(Centre().x, Centre().y, kGreen), "back to a normal size, the picture shows again");
}

void ExitWithUnsavedResult() {
    Section("Exit with an unsaved result");
    DropFile(window, firstPicture);
    SendMessageW(window, UM_RUN_DONE, 0, 0);
    std::vector<SeenDialog> asked = WithDialogs([] { Command(IDM_EXIT); });
    PumpMessages(20);
    Check(asked.empty() && !IsWindow(window), "Exit asks nothing and ends the window at once");
    Check(ReadSettingsKey("Crashed Last Time") == "0" && !document.original.pixels && !document.result.pixels &&
              !backBuffer.pixels.pixels,
          "having written the settings and freed the pictures and the back buffer");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartTest(150);
    firstPicture = TestFilesFolder() + L"first.png";
    secondPicture = TestFilesFolder() + L"second.bmp";
    halvesPicture = TestFilesFolder() + L"halves.png";
    tinyPicture = TestFilesFolder() + L"tiny.png";
    widePicture = TestFilesFolder() + L"wide.png";
    if (!Check(WriteTestPicture(firstPicture, 64, 48, SaveFormatPng) &&
                   WriteTestPicture(tinyPicture, 1, 1, SaveFormatPng) &&
                   WriteTestPicture(widePicture, 12000, 10, SaveFormatPng) &&
                   WriteTestPicture(secondPicture, 40, 30, SaveFormatBmp) &&
                   WriteTestPicture(halvesPicture, 200, 100, SaveFormatPng,
                                    [](int x, int) { return x < 100 ? kRed : kBlue; }),
               "the test pictures are written"))
        return Summary();
    window = OpenEditorWindow(instance, 900, 600);
    if (!window) return Summary();

    NoPicture(instance);
    Dropping();
    TooltipAndMenu();
    Layout();
    RepaintCommands();
    Closing();
    FitAndZoom();
    ZoomRange();
    Panning();
    ComparingAndFrame();
    LargerThanBackBuffer();
    ExitWithUnsavedResult();
    return Summary();
}
