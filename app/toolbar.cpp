// The toolbar: PNG images decoded by the skin into one image list, the 15
// buttons with their spacers, the zoom box over its placeholder button, the
// tooltip texts and the layout when the window is resized.
#include "app.h"

#include <algorithm>

#include "resources/resource.h"
#include "settings/settings.h"
#include "skin/skin.h"

namespace {

const int kButtonPadding = 9;   // button = image + 9 in each direction
const int kToolbarIndent = 7;
const int kZoomBoxPlaceWidth = 95;
const int kBlankCommand = 1;    // the two blank spacers, never enabled

struct ToolbarEntry {
    const WCHAR* image;  // PNG resource, or null
    int command;
    BYTE style;
    BYTE state;
    int tooltip;  // language entry, 0 for none
};

const ToolbarEntry kButtons[] = {
    {L"IDP_FOLDER", IDM_OPEN, BTNS_BUTTON, TBSTATE_ENABLED, kOpenTipEntry},
    {L"IDP_SAVE", IDM_SAVE_AS, BTNS_BUTTON, 0, kSaveAsTipEntry},
    {nullptr, 0, BTNS_SEP, 0, 0},
    {L"IDP_PAINT", IDM_REPAINT_ORIGINAL, BTNS_BUTTON, 0, kRepaintOriginalEntry},
    {L"IDP_SMUDGE", IDM_REPAINT_SMUDGE, BTNS_BUTTON, 0, kRepaintSmudgeEntry},
    {L"IDP_DRAW", IDM_REPAINT_REDRAW, BTNS_BUTTON, 0, kRepaintRedrawEntry},
    {nullptr, kBlankCommand, BTNS_BUTTON, 0, 0},
    {nullptr, kBlankCommand, BTNS_BUTTON, 0, 0},
    {nullptr, IDM_SPACER, BTNS_BUTTON, 0, 0},
    {L"IDP_ZOOMIN", IDM_ZOOM_IN, BTNS_BUTTON, TBSTATE_ENABLED, kZoomInTipEntry},
    {L"IDP_ZOOMOUT", IDM_ZOOM_OUT, BTNS_BUTTON, TBSTATE_ENABLED, kZoomOutTipEntry},
    {L"IDP_ZOOM100", IDM_ZOOM_100, BTNS_BUTTON, TBSTATE_ENABLED, kZoom100TipEntry},
    {L"IDP_ZOOMFIT", IDM_ZOOM_FIT, BTNS_BUTTON, TBSTATE_ENABLED, kZoomFitTipEntry},
    {nullptr, IDM_ZOOM_BOX, BTNS_BUTTON, 0, kZoomBoxTipEntry},
    {L"IDP_PICKER", IDM_MENU, BTNS_BUTTON, TBSTATE_ENABLED, 0},
};
const int kButtonCount = sizeof(kButtons) / sizeof(kButtons[0]);

const WCHAR* const kZoomItems[kZoomTableSize] = {L"10.0 %",  L"25.0 %",  L"50.0 %",  L"100.0 %",
                                                 L"150.0 %", L"200.0 %", L"400.0 %", L"800.0 %"};

void SetButtonWidth(int command, int width) {
    TBBUTTONINFOW info = {};
    info.cbSize = sizeof(info);
    info.dwMask = TBIF_SIZE;
    info.cx = static_cast<WORD>(width);
    SendMessageW(app.toolbar, TB_SETBUTTONINFOW, command, reinterpret_cast<LPARAM>(&info));
}

void PlaceZoomBox() {
    if (!app.zoomBox) return;
    RECT place = ButtonRect(IDM_ZOOM_BOX);
    MoveWindow(app.zoomBox, place.left + 5, place.top + 8, place.right - place.left - 10,
               place.bottom + 200 - (place.top + 8), TRUE);
}

// Enter in the zoom box's edit field asks the main window to apply the typed
// zoom; the wheel over the box goes to the main window's focus instead.
LRESULT CALLBACK ZoomBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    switch (message) {
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            SendMessageW(app.mainWindow, UM_ZOOM_TEXT_ENTERED, 0, 0);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == L'\r') return 0;  // no beep for the Enter already handled
        break;
    case WM_MOUSEWHEEL:
        SetFocus(app.mainWindow);
        return 0;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, ZoomBoxProc, id);
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

HWND CreateZoomBox(HWND toolbar) {
    RECT place = ButtonRect(IDM_ZOOM_BOX);
    HWND box = CreateWindowExW(0, L"ComboBox", nullptr,
                               WS_CHILD | WS_VISIBLE | CBS_DROPDOWN | CBS_AUTOHSCROLL | CBS_HASSTRINGS,
                               place.left + 5, place.top + 8, place.right - place.left - 10,
                               place.bottom + 200 - (place.top + 8), toolbar,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDM_ZOOM_BOX)), app.instance, nullptr);
    if (!box) return nullptr;
    app.zoomBoxFont = CreateFontW(16, 0, 0, 0, 600, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(app.zoomBoxFont), TRUE);
    for (const WCHAR* item : kZoomItems) SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    SendMessageW(box, CB_SETCURSEL, 3, 0);
    return box;
}

}  // namespace

HWND CreateMainToolbar(HWND window) {
    HWND toolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                   WS_CHILD | WS_VISIBLE | WS_BORDER | TBSTYLE_LIST | TBSTYLE_TOOLTIPS, 0, 0, 0, 0,
                                   window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TOOLBAR)), app.instance,
                                   nullptr);
    if (!toolbar) return nullptr;
    app.toolbar = toolbar;
    SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(toolbar, TB_SETINDENT, kToolbarIndent, 0);

    TBBUTTON buttons[kButtonCount] = {};
    int images = 0;
    for (int i = 0; i < kButtonCount; ++i) {
        const ToolbarEntry& entry = kButtons[i];
        TBBUTTON& button = buttons[i];
        button.idCommand = entry.command;
        button.fsStyle = entry.style;
        button.fsState = entry.state;
        button.iString = -1;
        button.iBitmap = entry.style == BTNS_SEP ? 0 : I_IMAGENONE;
        if (!entry.image) continue;
        HBITMAP bitmap = LoadPngResource(app.instance, entry.image);
        if (!bitmap) continue;
        if (!app.toolbarImages) {
            // The first image sizes the list and the buttons.
            BITMAP info = {};
            GetObjectW(bitmap, sizeof(info), &info);
            app.toolbarImages = ImageList_Create(info.bmWidth, info.bmHeight, ILC_COLOR32, kButtonCount, 0);
            SendMessageW(toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(info.bmWidth, info.bmHeight));
            SendMessageW(toolbar, TB_SETBUTTONSIZE, 0,
                         MAKELPARAM(info.bmWidth + kButtonPadding, info.bmHeight + kButtonPadding));
        }
        if (ImageList_Add(app.toolbarImages, bitmap, nullptr) >= 0) button.iBitmap = images++;
        DeleteObject(bitmap);
    }
    SendMessageW(toolbar, TB_ADDBUTTONSW, kButtonCount, reinterpret_cast<LPARAM>(buttons));
    SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);

    SetButtonWidth(IDM_ZOOM_BOX, kZoomBoxPlaceWidth);
    TBBUTTONINFOW menu = {};
    menu.cbSize = sizeof(menu);
    menu.dwMask = TBIF_TEXT | TBIF_STYLE;
    menu.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
    menu.pszText = const_cast<LPWSTR>(Lang(kMenuButtonEntry));
    SendMessageW(toolbar, TB_SETBUTTONINFOW, IDM_MENU, reinterpret_cast<LPARAM>(&menu));

    app.zoomBox = CreateZoomBox(toolbar);
    SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(app.toolbarImages));
    if (app.zoomBox) {
        SetWindowSubclass(app.zoomBox, ZoomBoxProc, 1, 0);
        COMBOBOXINFO info = {};
        info.cbSize = sizeof(info);
        if (GetComboBoxInfo(app.zoomBox, &info) && info.hwndItem) SetWindowSubclass(info.hwndItem, ZoomBoxProc, 1, 0);
    }
    return toolbar;
}

void LayoutToolbar() {
    if (!app.toolbar) return;
    SendMessageW(app.toolbar, TB_AUTOSIZE, 0, 0);
    RECT client;
    GetClientRect(app.toolbar, &client);
    RECT spacer = ButtonRect(IDM_SPACER), menu = ButtonRect(IDM_MENU);
    int width = (spacer.right - spacer.left) + (client.right - menu.right);
    SetButtonWidth(IDM_SPACER, std::max(width, 1));
    SendMessageW(app.toolbar, TB_AUTOSIZE, 0, 0);
    PlaceZoomBox();
}

void EnableToolbarButton(int command, bool enable) {
    if (app.toolbar) SendMessageW(app.toolbar, TB_ENABLEBUTTON, command, MAKELPARAM(enable ? TRUE : FALSE, 0));
}

bool ToolbarButtonEnabled(int command) {
    return app.toolbar && SendMessageW(app.toolbar, TB_ISBUTTONENABLED, command, 0) != 0;
}

RECT ButtonRect(int command) {
    RECT rect = {};
    if (app.toolbar) SendMessageW(app.toolbar, TB_GETRECT, command, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

int ToolbarTooltipEntry(int command) {
    if (command == kBlankCommand || command == 0) return 0;
    for (const ToolbarEntry& entry : kButtons)
        if (entry.command == command) return entry.tooltip;
    return 0;
}

WCHAR RepaintShortcut(int command) {
    return command == IDM_REPAINT_ORIGINAL ? L'1' : command == IDM_REPAINT_SMUDGE ? L'2' : L'3';
}

void ControlKeyText(WCHAR key, WCHAR text[32]) {
    WCHAR name[24];
    lstrcpynW(name, Lang(kControlKeyEntry), 24);
    wsprintfW(text, L"%s+%c", name, key);
}

const WCHAR* ToolbarTooltipText(int command) {
    const int entry = ToolbarTooltipEntry(command);
    if (!entry) return nullptr;
    if (command != IDM_REPAINT_ORIGINAL && command != IDM_REPAINT_SMUDGE && command != IDM_REPAINT_REDRAW)
        return Lang(entry);
    // The menu item's text without its "...", which promises a dialog.
    static WCHAR tip[LANGUAGE_TEXT_SIZE + 40];
    lstrcpynW(tip, Lang(entry), LANGUAGE_TEXT_SIZE);
    int length = lstrlenW(tip);
    while (length > 0 && tip[length - 1] == L'.') tip[--length] = 0;
    WCHAR key[32];
    ControlKeyText(RepaintShortcut(command), key);
    wsprintfW(tip + length, L" (%s)", key);
    return tip;
}

void SetStatusText(const WCHAR* text) {
    if (app.statusBar) SendMessageW(app.statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text));
}

void SetTitleWithPath(const WCHAR* path) {
    WCHAR title[PATH_CHARS + 16];
    wsprintfW(title, L"Ostrivel - %s", path);  // wsprintfW writes at most 1024 characters
    SetWindowTextW(app.mainWindow, title);
}
