// Window tests of the editor from the keyboard: the shortcuts and F10, the
// repaint dialogs' Tab order, mnemonics, Enter and Escape, sliders moved by
// keys after a click, Save As typed and confirmed with Enter, and every
// German text fitting its control. Keys and clicks go in as the user makes
// them (SendInput into the foreground window) and pass the editor's own
// message handling.
#include <stdio.h>

#include <algorithm>

#include "app/app.h"
#include "dialogs/repaint_frame.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

HWND window;
std::wstring folder;

// A click on a slider's thumb: the focus goes there, the value stays.
void ClickThumb(HWND slider, bool pump = true) {
    RECT thumb;
    SendMessageW(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    ClickAt(slider, POINT{(thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2}, pump);
}

std::string ClassOf(HWND control) {
    WCHAR name[64] = L"";
    GetClassNameW(control, name, 64);
    return Utf8(name);
}

int ButtonType(HWND control) { return GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK; }

// Controls a keyboard user works: sliders, buttons, check boxes, the combo box.
bool Interactive(HWND control) {
    const std::string kind = ClassOf(control);
    return IsWindowVisible(control) && IsWindowEnabled(control) &&
           (kind == "msctls_trackbar32" || kind == "ComboBox" || (kind == "Button" && ButtonType(control) != BS_GROUPBOX));
}

std::string Name(HWND control) {
    return ClassOf(control) + " " + std::to_string(GetDlgCtrlID(control)) + " \"" + WindowText(control) + "\"";
}

// Whether the keys open the popup; its texts are in menuTexts.
std::vector<std::string> menuTexts;
bool KeysOpenMenu(std::initializer_list<WORD> keys) {
    menuTexts = ReadPopupMenu([keys] {
                    TypeKeys(keys);
                    PumpMessages(200);
                }).texts;
    return !menuTexts.empty();
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

const int kRepaintCommands[] = {IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW};

HWND OpenByKey(int command) {
    SetForegroundWindow(window);
    SetFocus(window);
    const int index = static_cast<int>(std::find(std::begin(kRepaintCommands), std::end(kRepaintCommands), command) -
                                       std::begin(kRepaintCommands));
    TypeKeys({VK_CONTROL, static_cast<WORD>('1' + index)});
    return activeRepaintDialog;
}

// Each repaint dialog opened by its key with every control enabled, handed
// to `body`, then closed with Escape.
void EachDialog(const std::function<void(HWND dialog, int command)>& body) {
    uiDoShock = uiDoLoG = uiFuseToImage = 1;
    for (int command : kRepaintCommands) {
        HWND dialog = OpenByKey(command);
        if (!Check(dialog != nullptr, "command %d opens its dialog", command)) continue;
        body(dialog, command);
        TypeKeys({VK_ESCAPE});
    }
}

void ShortcutsAndMenu() {
    Section("shortcuts: F10 and Alt open the menu, Ctrl+1 to Ctrl+3 the dialogs, Escape cancels");
    SetForegroundWindow(window);
    SetFocus(window);
    Check(KeysOpenMenu({VK_F10}) && Contains(menuTexts, "Open...\tCtrl+O") &&
              Contains(menuTexts, "Repaint Original...\tCtrl+1") && Contains(menuTexts, "Repaint Redraw...\tCtrl+3"),
          "F10 opens the popup, with the shortcuts in it (%d items)", static_cast<int>(menuTexts.size()));
    Check(KeysOpenMenu({VK_MENU}), "Alt pressed and released alone opens it");
    const int firstControl[] = {IDC_ORIG_SMOOTHNESS, IDC_SMUDGE_DETAILS, IDC_REDRAW_DETAILS};
    for (int i = 0; i < 3; ++i) {
        HWND dialog = OpenByKey(kRepaintCommands[i]);
        Check(dialog && GetFocus() == GetDlgItem(dialog, firstControl[i]),
              "Ctrl+%d opens its dialog with the focus on its first slider", i + 1);
        Check(!KeysOpenMenu({VK_F10}), "F10 opens no menu while the dialog has locked the Menu button");
        TypeKeys({VK_ESCAPE});
        Check(!IsWindow(dialog) && activeRepaintDialog == nullptr, "Escape cancels dialog %d", i + 1);
    }
}

// Tab visits every control once in reading order and comes round; Shift+Tab
// goes back the same way.
void TabOrder() {
    Section("Tab and Shift+Tab through the repaint dialogs");
    EachDialog([](HWND dialog, int command) {
        std::vector<HWND> forward = {GetFocus()}, backward = {GetFocus()};
        for (int i = 0; i < 30 && (forward.size() == 1 || forward.back() != forward.front()); ++i) {
            TypeKeys({VK_TAB});
            forward.push_back(GetFocus());
        }
        for (size_t i = 1; i < forward.size(); ++i) {
            TypeKeys({VK_SHIFT, VK_TAB});
            backward.push_back(GetFocus());
        }
        std::reverse(backward.begin(), backward.end());
        Check(forward.size() > 2 && backward == forward, "dialog %d: Shift+Tab retraces Tab's %d steps", command,
              static_cast<int>(forward.size() - 1));
        bool visited = true, readingOrder = true;
        for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (Interactive(c) && std::count(forward.begin(), forward.end() - 1, c) != 1)
                visited = Check(false, "dialog %d: Tab reaches %s once", command, Name(c).c_str());
        for (size_t i = 1; i + 1 < forward.size(); ++i) {
            const RECT a = ChildRect(forward[i - 1]), b = ChildRect(forward[i]);
            const bool sameRow = abs((a.top + a.bottom) - (b.top + b.bottom)) / 2 < 8;
            if (sameRow ? b.left < a.left : b.top < a.top)
                readingOrder = Check(false, "dialog %d: %s comes before %s", command, Name(forward[i]).c_str(),
                                     Name(forward[i - 1]).c_str());
        }
        Check(visited && readingOrder, "dialog %d: Tab goes through its controls in reading order", command);
    });
}

// Alt and a control's underlined letter: the focus goes to it (to the
// slider after a label) and a check box is toggled, in each dialog.
void Mnemonics(const char* language) {
    EachDialog([language](HWND dialog, int command) {
        int tried = 0;
        for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            WCHAR text[256] = L"";
            GetWindowTextW(c, text, 256);
            const WCHAR* amp = text;
            while (*amp && *amp != L'&') ++amp;
            const bool box = ClassOf(c) == "Button" && ButtonType(c) == BS_AUTOCHECKBOX;
            // Push buttons are pressed by their letter; their commands are tested elsewhere.
            if (!*amp || !IsWindowVisible(c) || (ClassOf(c) == "Button" && !box)) continue;
            const LRESULT before = SendMessageW(c, BM_GETCHECK, 0, 0);
            const HWND expected = box ? c : GetNextDlgTabItem(dialog, c, FALSE);
            TypeKeys({VK_MENU, static_cast<WORD>(VkKeyScanW(amp[1]) & 0xFF)});
            const bool toggled = !box || SendMessageW(c, BM_GETCHECK, 0, 0) != before;
            Check(GetFocus() == expected && toggled, "%s: Alt+%s reaches %s", language, Utf8(amp + 1).substr(0, 1).c_str(),
                  Name(c).c_str());
            if (box && toggled) TypeKeys({VK_SPACE});  // back as it was, with Space
            ++tried;
        }
        Check(tried >= 3, "%s: dialog %d has mnemonics (%d)", language, command, tried);
    });
}

// Each text, drawn with its control's font, within the control.
void CheckTextsFit(HWND dialog, const char* what) {
    int measured = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        const std::string kind = ClassOf(c);
        RECT client;
        GetClientRect(c, &client);
        std::vector<std::wstring> texts;
        if (kind == "ComboBox") {
            for (int i = 0; i < SendMessageW(c, CB_GETCOUNT, 0, 0); ++i) {
                WCHAR item[256] = L"";
                SendMessageW(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
                texts.push_back(item);
            }
            client.right -= GetSystemMetrics(SM_CXVSCROLL) + 4;
        } else if (kind == "Static" || kind == "Button") {
            WCHAR text[256] = L"";
            GetWindowTextW(c, text, 256);
            if (text[0]) texts.push_back(text);
        }
        HDC dc = GetDC(c);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)));
        SIZE t;
        GetTextExtentPoint32W(dc, L"t", 1, &t);
        const LONG style = GetWindowLongW(c, GWL_STYLE);
        UINT format = DT_CALCRECT | DT_SINGLELINE;
        if (kind == "Static" || (style & BS_MULTILINE)) format = DT_CALCRECT | DT_WORDBREAK;
        if (kind == "Button" && (ButtonType(c) == BS_AUTOCHECKBOX || ButtonType(c) == BS_CHECKBOX))
            client.left += 13 + t.cx + 1;  // glyph and gap, as the skin draws them
        else if (kind == "Button")
            InflateRect(&client, -8, ButtonType(c) == BS_GROUPBOX ? 0 : -2);
        for (const std::wstring& text : texts) {
            RECT r = {0, 0, client.right - client.left, 0};
            DrawTextW(dc, text.c_str(), -1, &r, format);
            if (ButtonType(c) == BS_GROUPBOX && kind == "Button") r.bottom = 0;
            Check(r.right <= client.right - client.left && r.bottom <= client.bottom - client.top,
                  "%s: \"%s\" fits %s (%d x %d in %d x %d)", what, Utf8(text.c_str()).c_str(), Name(c).c_str(),
                  static_cast<int>(r.right), static_cast<int>(r.bottom), static_cast<int>(client.right - client.left),
                  static_cast<int>(client.bottom - client.top));
            ++measured;
        }
        SelectObject(dc, old);
        ReleaseDC(c, dc);
    }
    Check(measured >= 3, "%s: %d texts measured", what, measured);
}

// Every repaint dialog's texts fit; a shot of the Original dialog with the
// focus moved there by Tab.
void TextsFit(const char* language) {
    EachDialog([language](HWND dialog, int command) {
        if (command == IDM_REPAINT_ORIGINAL) {
            SetFocus(GetDlgItem(dialog, IDC_ORIG_WEAK_EDGES));
            TypeKeys({VK_TAB});
            const std::string shot = std::string("keyboard_focus_") + language;
            Check(Shot(window, Widen(shot).c_str()), "%s.png is written", shot.c_str());
        }
        CheckTextsFit(dialog, (std::string(language) + " dialog " + std::to_string(command)).c_str());
    });
}

void SlidersByKey() {
    Section("a slider clicked, then moved by arrow keys; the view's keys");
    uiDetails = 50;
    HWND dialog = OpenByKey(IDM_REPAINT_SMUDGE);
    if (!dialog) return;
    HWND slider = GetDlgItem(dialog, IDC_SMUDGE_DETAILS), value = GetDlgItem(dialog, IDC_SMUDGE_DETAILS_VALUE);
    RECT channel;
    SendMessageW(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    for (bool preview : {false, true}) {
        if (preview) CheckDlgButton(dialog, IDC_PREVIEW, BST_CHECKED), SendMessageW(dialog, WM_COMMAND, IDC_PREVIEW, 0);
        const int start = uiDetails;
        ClickAt(slider, POINT{channel.right - 3, (channel.top + channel.bottom) / 2});  // right of the thumb: one page, one step
        Check(uiDetails == start + 1 && GetFocus() == slider, "preview %d: a click moves one step and keeps the focus",
              preview);
        TypeKeys({VK_RIGHT});
        TypeKeys({VK_RIGHT});
        TypeKeys({VK_LEFT});
        Check(uiDetails == start + 2 && WindowText(value) == std::to_string(start + 2) && GetFocus() == slider,
              "preview %d: right, right, left move it one step each, its value follows (%d)", preview,
              static_cast<int>(uiDetails));
    }
    const double dstX = view.dstX, scale = view.scale;
    const int details = uiDetails;
    ClickAt(window, POINT{40, 200});
    TypeKeys({VK_RIGHT});
    Check(GetFocus() == window && view.dstX == dstX + 50 && uiDetails == details,
          "with the view clicked the arrows pan it and leave the slider");
    ClickThumb(slider);
    TypeKeys({VK_ADD});
    Check(view.scale > scale && GetFocus() == slider, "+ zooms also from the dialog, and the slider keeps the focus");
    CheckDlgButton(dialog, IDC_PREVIEW, BST_UNCHECKED);
    SendMessageW(dialog, WM_COMMAND, IDC_PREVIEW, 0);

    Section("Enter is OK");
    ClickThumb(slider);
    TypeKeys({VK_RETURN});
    PumpUntil([&] { return !IsWindow(dialog); }, 60000);
    Check(!IsWindow(dialog) && app.unsavedResult == 1, "Enter on a slider runs the method to its end");
}

void SaveAsByKey() {
    Section("Save As from the keyboard");
    const int quality = ReadSettingsKey("jpeg", "85") == "85" ? 85 : atoi(ReadSettingsKey("jpeg").c_str());
    std::string shown;
    WithDialogs([&] { TypeKeys({VK_CONTROL, 'S'}); },
                [&](HWND dialog, const SeenDialog&) {
                    HWND panel = QualityPanel(dialog);
                    if (shown.empty()) {
                        SelectType(dialog, 3);
                        ClickThumb(GetDlgItem(panel, IDC_JPEG_SLIDER), false);
                        shown = "?";
                        return false;
                    }
                    if (shown == "?") {
                        SendKeys({VK_RIGHT});
                        SendKeys({VK_RIGHT});
                        shown = "??";
                        return false;
                    }
                    shown = WindowText(GetDlgItem(panel, IDC_JPEG_VALUE));
                    SendKeys({VK_ESCAPE});
                    return true;
                });
    Check(shown == std::to_string(quality + 2), "the quality slider moves one step per key (%s from %d)",
          shown.c_str(), quality);
    DeleteFileW((folder + L"keyboard.png").c_str());
    bool nameFocused = false;
    WithDialogs([&] { TypeKeys({VK_CONTROL, 'S'}); },
                [&](HWND, const SeenDialog&) {
                    DWORD from = 1, to = 0;
                    SendMessageW(GetFocus(), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
                    const int id = GetDlgCtrlID(GetFocus());
                    nameFocused = id == 1148 || id == 1152;  // cmb13 or edt1, whichever holds the name
                    nameFocused = nameFocused && from == 0 && to == static_cast<DWORD>(GetWindowTextLengthW(GetFocus())) && to > 0;
                    SendKeys({'K', 'E', 'Y', 'B', 'O', 'A', 'R', 'D'});
                    SendKeys({VK_RETURN});
                    return true;
                });
    Check(nameFocused, "the save dialog opens with the offered name selected in the focused name box");
    Check(FileExists(folder + L"keyboard.png") && app.unsavedResult == 0, "a typed name and Enter save under it");
}

void German(HINSTANCE instance, const std::wstring& picture) {
    Section("German: shortcuts named in German, mnemonics, every text fits");
    CloseMainWindow(window);
    if (!Check(CopyBesideToLanguageFile(L"shipped_loc.ini"), "the shipped language file is there")) return;
    WritePrivateProfileStringW(L"General", L"Language Current", L"1", TestLanguageFile().c_str());
    window = OpenEditorWindow(instance, 1000, 700);
    if (!window) return;
    DropFile(window, picture);
    SetForegroundWindow(window);
    SetFocus(window);
    Check(KeysOpenMenu({VK_F10}) && Contains(menuTexts, "Öffnen...\tStrg+O") &&
              Contains(menuTexts, "Übermalen: Verwischen...\tStrg+2"),
          "the menu names the keys as the German status bar does");
    Check(Utf8(ToolbarTooltipText(IDM_REPAINT_REDRAW)) == "Übermalen: Nachzeichnen (Strg+3)", "so do the tooltips");
    Mnemonics("German");
    TextsFit("German");
    WithDialogs([&] { PostMessageW(window, WM_COMMAND, IDM_OPTIONS, 0); PumpMessages(300); },
                [&](HWND dialog, const SeenDialog&) {
                    CheckTextsFit(dialog, "Options");
                    PressButton(dialog, IDCANCEL);
                    return true;
                });
    std::string offered;
    WithDialogs([&] { PostMessageW(window, WM_COMMAND, IDM_SAVE_AS, 0); PumpMessages(300); },
                [&](HWND dialog, const SeenDialog&) {
                    offered = FileName(dialog);
                    CheckTextsFit(QualityPanel(dialog), "Save As panel");
                    PressButton(dialog, IDCANCEL);
                    return true;
                });
    Check(offered == "input-entrauscht", "Save As offers the German suffix (\"%s\")", offered.c_str());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartTest(140);
    folder = TestFilesFolder();
    const std::wstring picture = folder + L"input.png";
    if (!Check(WriteTestPicture(picture, 400, 300, SaveFormatPng), "the test picture is written")) return Summary();
    window = OpenEditorWindow(instance, 1000, 700);
    if (!Check(window != nullptr, "the main window is created")) return Summary();
    DropFile(window, picture);
    ShortcutsAndMenu();
    TabOrder();
    Section("mnemonics");
    Mnemonics("English");
    TextsFit("English");
    SlidersByKey();
    SaveAsByKey();
    German(instance, picture);
    CloseMainWindow(window);
    RemoveLanguageFile();
    return Summary();
}
