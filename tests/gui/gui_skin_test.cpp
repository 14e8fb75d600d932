// The skin's hooks and registry on real windows: nesting and destruction,
// which windows and messages it takes, exempt dialogs, the radio-group walk
// of converted push-like buttons and their keyboard.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include "gui_harness.h"
#include "skin/skin_internal.h"

namespace {

int lastCommand;          // id of the last WM_COMMAND the parent received
int nestingSeen = -1;     // the static's count while the skin paints it
WNDPROC procSeen;
HWND watched;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) lastCommand = LOWORD(wParam);
    if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == watched) {
        nestingSeen = SkinNesting(watched);
        procSeen = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(watched, GWLP_WNDPROC));
    }
    if (message == WM_APP) DestroyWindow(window);
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND parent;

HWND Child(const WCHAR* className, LONG style, LONG exStyle = 0, const WCHAR* text = L"x", int id = 0,
           HWND owner = nullptr) {
    return CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 10, 10, 120, 24,
                           owner ? owner : parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

HWND TopWindow(const WCHAR* className, LONG style) {
    return CreateWindowExW(0, className, L"", style, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
}

WNDPROC ProcOf(HWND window) { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)); }

void RegistryChecks() {
    Section("registry");
    HWND w = TopWindow(L"SkinTestParent", WS_POPUP);
    WNDPROC own = ProcOf(w);
    SkinSubclass(w);
    SkinSubclass(w);
    Check(SkinNesting(w) == 2 && ProcOf(w) == SkinWndProc, "two subclasses nest to 2");
    SkinUnsubclass(w);
    Check(SkinNesting(w) == 1 && ProcOf(w) == SkinWndProc, "one unsubclass keeps the skin on");
    SkinUnsubclass(w);
    Check(SkinNesting(w) == 0 && ProcOf(w) == own, "the last one puts the window's procedure back");
    SkinUnsubclass(w);
    Check(ProcOf(w) == own, "unsubclassing an unknown window leaves it alone");

    // Destroyed while the skin's procedure is on it, from inside a message.
    SkinSubclass(w);
    SendMessageW(w, WM_APP, 0, 0);
    Check(!IsWindow(w) && SkinNesting(w) == 0, "a destroyed window leaves no entry");
    HWND next = TopWindow(L"SkinTestParent", WS_POPUP);
    SkinUnsubclass(w);  // a count that was still running when it was destroyed
    Check(ProcOf(next) == own, "a later window (handle %s) keeps its own procedure",
          next == w ? "reused" : "new");
    DestroyWindow(next);

    // Through the hooks: a disabled static's text change redraws it at once,
    // so the paint runs inside the text message.
    watched = Child(L"Static", SS_LEFT | WS_DISABLED);
    WNDPROC staticProc = ProcOf(watched);
    SetWindowTextW(watched, L"changed");
    Check(nestingSeen == 2 && procSeen == SkinWndProc, "a paint inside a text change nests to 2 (saw %d)",
          nestingSeen);
    Check(SkinNesting(watched) == 0 && ProcOf(watched) == staticProc, "and both return to the static's own procedure");
}

void WantsSkinChecks() {
    Section("WantsSkin");
    struct Row {
        const WCHAR* className;
        LONG style, exStyle;
        UINT message;
        bool wanted;
    };
    const Row rows[] = {
        {L"Button", BS_AUTOCHECKBOX, 0, WM_PAINT, true},
        {L"Button", BS_AUTOCHECKBOX | BS_PUSHLIKE, 0, WM_PAINT, false},
        {L"Button", BS_AUTORADIOBUTTON, 0, WM_SETTEXT, true},
        {L"Button", BS_AUTOCHECKBOX, 0, WM_ERASEBKGND, false},
        {L"Button", BS_GROUPBOX, 0, WM_ERASEBKGND, true},
        {L"Button", BS_PUSHBUTTON, 0, WM_GETDLGCODE, true},
        {L"Button", BS_PUSHBUTTON, 0, BM_GETCHECK, false},
        {L"Button", BS_AUTOCHECKBOX | BS_PUSHLIKE, 0, BM_GETCHECK, true},
        {L"Button", BS_AUTOCHECKBOX, 0, BM_SETCHECK, true},
        {L"Button", BS_PUSHBUTTON, 0, BM_SETSTYLE, true},
        {L"Static", SS_LEFT, 0, WM_PAINT, false},
        {L"Static", SS_LEFT | WS_DISABLED, 0, WM_PAINT, true},
        {L"Static", SS_ETCHEDHORZ, 0, WM_PAINT, true},
        {L"Static", SS_GRAYRECT, 0, WM_ERASEBKGND, false},
        {L"Static", SS_SUNKEN, 0, WM_NCPAINT, true},
        {L"Edit", 0, WS_EX_CLIENTEDGE, WM_NCPAINT, true},
        {L"Edit", 0, 0, WM_NCPAINT, false},
        {L"Edit", 0, 0, WM_PAINT, false},
        {L"Edit", 0, 0, WM_ENABLE, true},
        {L"msctls_trackbar32", 0, 0, WM_PAINT, true},
        {L"msctls_progress32", 0, 0, WM_PAINT, true},
        {L"msctls_progress32", 0, 0, WM_NCPAINT, true},
        {L"msctls_statusbar32", 0, 0, WM_ERASEBKGND, true},
        {L"ListBox", 0, 0, WM_PAINT, true},
        {L"ListBox", 0, 0, WM_ERASEBKGND, false},
        {L"Static", SS_LEFT, 0, WM_DRAWITEM, true},
        {L"Static", SS_LEFT, 0, WM_MOUSEMOVE, false},
    };
    for (const Row& row : rows) {
        HWND w = Child(row.className, row.style, row.exStyle);
        Check(WantsSkin(w, row.message) == row.wanted, "%s style %#lx ex %#lx message %#x: %s",
              Utf8(row.className).c_str(), static_cast<unsigned long>(row.style),
              static_cast<unsigned long>(row.exStyle), row.message, row.wanted ? "yes" : "no");
        DestroyWindow(w);
    }
    Check(WantsSkin(parent, WM_CTLCOLORSTATIC), "a parent's colour question is the skin's");
    HWND push = Child(L"Button", BS_DEFPUSHBUTTON);
    LONG style = GetWindowLongW(push, GWL_STYLE);
    Check((style & 0x1F) == (BS_OWNERDRAW | 0x10), "a push button becomes owner-drawn with the marker");
    HWND progress = Child(L"msctls_progress32", 0);
    Check(SendMessageW(progress, PBM_GETBKCOLOR, 0, 0) == static_cast<LRESULT>(SkinColor(COLOR_WINDOW)),
          "a progress bar gets the window colour (%06lx)", static_cast<unsigned long>(SendMessageW(progress, PBM_GETBKCOLOR, 0, 0)));
    DestroyWindow(progress);
    SkinShutdown();
    Check(!WantsSkin(push, WM_DRAWITEM), "an inactive skin wants nothing");
    SkinInstall(2);
    SkinInstallHooks();
    DestroyWindow(push);
}

void ExemptChecks() {
    Section("IsSkinExempt");
    for (LONG bit : {0x0L, 0x100L}) {
        HWND dialog = TopWindow(L"#32770", WS_POPUP | bit);
        HWND inner = Child(L"Static", 0, 0, L"", 0, dialog);
        HWND box = Child(L"Button", BS_AUTOCHECKBOX, 0, L"x", 0, inner);
        const bool exempt = bit != 0;
        Check(IsSkinExempt(dialog) == exempt && IsSkinExempt(box) == exempt,
              "style bit %#lx: the dialog and a control two levels down are %sexempt",
              static_cast<unsigned long>(bit), exempt ? "" : "not ");
        Check(WantsSkin(box, WM_PAINT) == !exempt, "and the check box is %sdrawn by the skin", exempt ? "not " : "");
        DestroyWindow(dialog);
    }
    Check(!IsSkinExempt(parent), "a window outside any dialog is not exempt");
}

LONG_PTR Data(HWND w) { return GetWindowLongPtrW(w, GWLP_USERDATA); }

void RadioAndKeyChecks() {
    Section("converted push-like buttons");
    // Three groups: [0], [1 2 3], [4]; 0 and 4 start checked.
    HWND radios[5];
    for (int i = 0; i < 5; ++i)
        radios[i] = Child(L"Button", BS_AUTORADIOBUTTON | BS_PUSHLIKE | (i == 0 || i == 1 || i == 4 ? WS_GROUP : 0),
                          0, L"r", 100 + i);
    SendMessageW(radios[0], BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(radios[4], BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(102, BN_CLICKED), reinterpret_cast<LPARAM>(radios[2]));
    Check(Data(radios[1]) == 144 && Data(radios[2]) == 145 && Data(radios[3]) == 144,
          "a click checks only the clicked one of its group (%ld %ld %ld)", static_cast<long>(Data(radios[1])),
          static_cast<long>(Data(radios[2])), static_cast<long>(Data(radios[3])));
    Check(Data(radios[0]) == 145 && Data(radios[4]) == 145, "the walk stops at the WS_GROUP buttons either side");
    SendMessageW(radios[3], BM_SETCHECK, BST_CHECKED, 0);
    Check(SendMessageW(radios[2], BM_GETCHECK, 0, 0) == 0 && SendMessageW(radios[3], BM_GETCHECK, 0, 0) == 1,
          "BM_SETCHECK moves the check as a click does");
    HWND toggle = Child(L"Button", BS_AUTOCHECKBOX | BS_PUSHLIKE, 0, L"t", 110);
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(110, BN_CLICKED), reinterpret_cast<LPARAM>(toggle));
    Check(SendMessageW(toggle, BM_GETCHECK, 0, 0) == 1, "a click checks a push-like check box");

    // Keys reach the focused button through the dialog message filter.
    HWND hidden = Child(L"Button", BS_PUSHBUTTON, 0, L"&Vanish", 120);
    ShowWindow(hidden, SW_HIDE);
    HWND save = Child(L"Button", BS_PUSHBUTTON, 0, L"sa&ve", 121);
    HWND focus = Child(L"Button", BS_PUSHBUTTON, 0, L"&Open", 122);
    Check(SkinMnemonicButton(parent, L'v') == save && SkinMnemonicButton(parent, L'X') == nullptr,
          "the mnemonic search skips hidden buttons and ignores case");
    SetFocus(focus);
    const struct {
        UINT message;
        WPARAM key;
        int command;
    } keys[] = {{WM_KEYDOWN, 'V', 121}, {WM_KEYDOWN, VK_ESCAPE, IDCANCEL}, {WM_KEYDOWN, VK_RETURN, 0},
                {WM_KEYUP, VK_RETURN, 122}};
    for (const auto& key : keys) {
        lastCommand = 0;
        MSG msg = {focus, key.message, key.key, 0, 0, {0, 0}};
        CallMsgFilterW(&msg, MSGF_DIALOGBOX);
        Check(lastCommand == key.command, "key %#x (message %#x) gives command %d (got %d)",
              static_cast<unsigned>(key.key), key.message, key.command, lastCommand);
    }
}

std::string Hex(COLORREF c) {
    char text[16];
    snprintf(text, sizeof text, "%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

void Show(HWND w) {
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages(50);
}

// What the screen shows: message boxes, progress bars and the
// chosen item of a focused drop-down list in the skin's colours.
void LookChecks() {
    Section("the look on screen");
    const COLORREF face = SkinColor(COLOR_BTNFACE);
    COLORREF boxFace = 0, behindText = 0, buttonFace = 0;
    WithDialogs([] { MessageBoxW(parent, L"Image format not supported!", L"", MB_OK | MB_ICONINFORMATION); },
                [&](HWND box, const SeenDialog&) {
                    Show(box);
                    Check(Shot(box, L"message_box"), "message_box.png is written");
                    boxFace = ClientPixel(box, 2, 2);
                    behindText = ClientPixel(GetDlgItem(box, 0xFFFF), 0, 0);
                    RECT ok;
                    GetClientRect(GetDlgItem(box, IDOK), &ok);
                    buttonFace = ClientPixel(GetDlgItem(box, IDOK), 3, ok.bottom / 2);
                    PressButton(box, IDOK);
                    return true;
                });
    Check(Looks(boxFace, face) && Looks(behindText, face) && Looks(buttonFace, face),
          "a message box, its text and its button have the skin's face (%s, %s, %s)", Hex(boxFace).c_str(),
          Hex(behindText).c_str(), Hex(buttonFace).c_str());

    HWND bar = Child(PROGRESS_CLASSW, 0);
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(bar, PBM_SETPOS, 50, 0);
    Show(bar);
    const COLORREF done = ClientPixel(bar, 5, 10), left = ClientPixel(bar, 110, 10);
    Check(Looks(done, kSkinAccent) && Looks(left, SkinColor(COLOR_WINDOW)),
          "a progress bar is steel blue on the window colour (%s, %s)", Hex(done).c_str(), Hex(left).c_str());
    DestroyWindow(bar);

    HWND combo = CreateWindowExW(0, L"ComboBox", L"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_TABSTOP, 10, 50,
                                 160, 120, parent, nullptr, nullptr, nullptr);
    SendMessageW(combo, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Deutsch"));
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    SetForegroundWindow(parent);
    SetFocus(combo);
    Show(combo);
    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    GetComboBoxInfo(combo, &info);
    int highlight = 0, light = 0;
    for (int y = info.rcItem.top; y < info.rcItem.bottom; ++y)
        for (int x = info.rcItem.left; x < info.rcItem.right; ++x) {
            COLORREF c = ClientPixel(combo, x, y);
            highlight += c == GetSysColor(COLOR_HIGHLIGHT);
            light += GetGValue(c) > 200;
        }
    const COLORREF fill = ClientPixel(combo, info.rcItem.right - 2, info.rcItem.top + 1);
    Check(GetFocus() == combo && highlight == 0 && Looks(fill, kSkinAccent) && light > 10,
          "a focused drop-down list shows its item light on steel blue (%s, %d highlight and %d light pixels)",
          Hex(fill).c_str(), highlight, light);

    // Dropped with F4, the next item chosen with the down arrow.
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"English"));
    for (WPARAM key : {VK_F4, VK_DOWN}) {
        PostMessageW(combo, WM_KEYDOWN, key, 0);
        PostMessageW(combo, WM_KEYUP, key, 0);
        PumpMessages(100);
    }
    RECT list;
    GetClientRect(info.hwndList, &list);
    highlight = 0;
    int accent = 0;
    for (int y = 0; y < list.bottom; ++y)
        for (int x = 0; x < list.right; ++x) {
            COLORREF c = ClientPixel(info.hwndList, x, y);
            highlight += c == GetSysColor(COLOR_HIGHLIGHT);
            accent += Looks(c, kSkinAccent);
        }
    RECT area;
    GetWindowRect(parent, &area);
    Check(Shot(combo, L"dropped_list", &area), "dropped_list.png is written");
    Check(IsWindowVisible(info.hwndList) && highlight == 0 && accent > 20,
          "its dropped list shows the chosen item on steel blue (%d highlight and %d steel blue pixels)", highlight,
          accent);
    DestroyWindow(combo);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartTest(60);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = instance;
    wc.lpszClassName = L"SkinTestParent";
    RegisterClassW(&wc);
    InitCommonControls();
    SkinInstall(2);
    SkinInstallHooks();
    parent = TopWindow(L"SkinTestParent", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    RegistryChecks();
    WantsSkinChecks();
    ExemptChecks();
    RadioAndKeyChecks();
    LookChecks();
    DestroyWindow(parent);
    SkinShutdown();
    return Summary();
}
