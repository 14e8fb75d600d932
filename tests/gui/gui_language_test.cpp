// Window tests of the language table and the Options dialog: no language
// file, a translation that lacks keys, "Languages No" beyond 100, choosing
// the same or another language, and the translation shipped with the editor.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

HWND OpenMainWindow() {
    HWND window = nullptr;
    WithDialogs([&] { window = CreateMainWindow(); });
    Check(window != nullptr, "the main window is created");
    return window;
}

void CloseMainWindow(HWND window) {
    SendMessageW(window, WM_CLOSE, 0, 0);
    PumpMessages(20);
}

// What the Options dialog showed.
struct OptionsView {
    bool shown = false;
    std::string title, label, ok, cancel;
    std::vector<std::string> items;
    int selected = -2;
    bool centred = false;
    std::vector<SeenDialog> messages;  // message boxes after it closed
};

std::string ItemText(HWND list, int index) {
    WCHAR text[1024];
    LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, index, 0);
    if (length < 0 || length >= 1024) return "<too long>";
    SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return Utf8(text);
}

std::string ControlText(HWND dialog, int id) {
    WCHAR text[1024];
    GetDlgItemTextW(dialog, id, text, 1024);
    return Utf8(text);
}

// Runs the Options command; selects `choose` (or leaves the selection when it
// is -2) and presses `button`.
OptionsView RunOptions(HWND window, int choose, int button) {
    OptionsView view;
    std::vector<SeenDialog> seen = WithDialogs(
        [&] { SendMessageW(window, WM_COMMAND, IDM_OPTIONS, 0); },
        [&](HWND dialog, const SeenDialog&) {
            if (GetDlgItem(dialog, IDC_LANGUAGE_LIST) == nullptr) {  // a message box
                PressButton(dialog, IDOK);
                return true;
            }
            view.shown = true;
            WCHAR text[1024];
            GetWindowTextW(dialog, text, 1024);
            view.title = Utf8(text);
            view.label = ControlText(dialog, IDC_LANGUAGE_LABEL);
            view.ok = ControlText(dialog, IDOK);
            view.cancel = ControlText(dialog, IDCANCEL);
            HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
            int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) view.items.push_back(ItemText(list, i));
            view.selected = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
            RECT d, o;
            GetWindowRect(dialog, &d);
            GetWindowRect(window, &o);
            view.centred = abs((d.left + d.right) - (o.left + o.right)) <= 2 &&
                           abs((d.top + d.bottom) - (o.top + o.bottom)) <= 2;
            if (choose != -2) SendMessageW(list, CB_SETCURSEL, choose, 0);
            PressButton(dialog, button);
            return true;
        });
    for (const SeenDialog& s : seen)
        if (s.title != view.title) view.messages.push_back(s);
    return view;
}

std::string LanguageKey(const char* section, const char* key) {
    WCHAR text[1024];
    GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), L"<missing>", text, 1024,
                             TestLanguageFile().c_str());
    return Utf8(text);
}

bool LanguageFileExists() { return GetFileAttributesW(TestLanguageFile().c_str()) != INVALID_FILE_ATTRIBUTES; }

// Two translations with distinct texts for the entries the tests look at.
std::string TwoLanguages(int current) {
    return "[General]\r\nLanguages No=2\r\nLanguage Current=" + std::to_string(current) +
           "\r\n"
           "[0]\r\nLanguage=Alpha\r\nAcronym=AL\r\nstring1=alpha one\r\nstring38=alpha report\r\n"
           "string47=alpha restart\r\n"
           "[1]\r\nLanguage=Бета\r\nAcronym=BETAWITHAVERYLONGCODE\r\nstring1=бета один\r\nstring38=бета звіт\r\n"
           "string47=бета перезапуск\r\nstring43=бета мова:\r\n";
}

void NoLanguageFile() {
    Section("no language file");
    RemoveLanguageFile();
    currentLanguage = 0;
    LoadLanguageTable();
    bool allDefault = true;
    for (int entry = 1; entry <= LANGUAGE_ENTRIES; ++entry)
        if (lstrcmpW(Lang(entry), DefaultLang(entry)) != 0) allDefault = false;
    Check(allDefault, "every entry has its English default");
    Check(Utf8(Lang(1)) == "Press Ctrl+O to open an image", "entry 1 is the English default");
    Check(Utf8(Lang(78)).empty() && Utf8(Lang(18)).empty(), "unused entries are empty");

    HWND window = OpenMainWindow();
    OptionsView view = RunOptions(window, -2, IDCANCEL);
    Check(view.shown, "Options opens dialog 158");
    Check(view.items.empty(), "its list is empty (%d items)", static_cast<int>(view.items.size()));
    Check(view.title == "Options" && view.label == "Select Language:" && view.ok == "OK" && view.cancel == "Cancel",
          "its texts are entries 44, 43, 45 and 46");
    Check(view.centred, "it is centred over the main window");
    Check(view.messages.empty(), "Cancel shows no message");
    Check(!LanguageFileExists(), "Cancel writes no language file");
    CloseMainWindow(window);
}

void MissingKeys() {
    Section("a translation that lacks keys");
    WriteLanguageFile(TwoLanguages(1));
    HWND window = OpenMainWindow();
    Check(currentLanguage == 1 && languageCount == 2, "the settings load reads the count and the current index");
    Check(Utf8(Lang(1)) == "бета один", "entry 1 comes from the current translation (got \"%s\")",
          Utf8(Lang(1)).c_str());
    Check(Utf8(Lang(3)) == "Warning", "a missing key gives the English default (got \"%s\")", Utf8(Lang(3)).c_str());
    Check(Utf8(Lang(44)) == "Options", "another missing key too");
    Check(Utf8(languageList[1].name) == "Бета", "the display name is read as Unicode");
    Check(Utf8(languageList[1].acronym) == "BETAWITHAVERYLO", "at most 15 characters of the acronym are kept (got %s)",
          Utf8(languageList[1].acronym).c_str());
    OptionsView view = RunOptions(window, -2, IDCANCEL);
    Check(view.title == "Options", "the dialog's title falls back to English");
    Check(view.label == "бета мова:", "the label is translated (got \"%s\")", view.label.c_str());
    Check(view.selected == 1, "the current translation is selected (got %d)", view.selected);
    CloseMainWindow(window);

    WriteLanguageFile("[General]\r\nLanguages No=1\r\nLanguage Current=-1\r\n[0]\r\nstring1=zero\r\n");
    window = OpenMainWindow();
    Check(Utf8(Lang(1)) == "Press Ctrl+O to open an image", "index -1 selects no section: English texts");
    CloseMainWindow(window);
}

void ManyLanguages() {
    Section("\"Languages No\" beyond 100");
    std::string text = "[General]\r\nLanguages No=250\r\nLanguage Current=0\r\n";
    for (int i = 0; i < 120; ++i)
        text += "[" + std::to_string(i) + "]\r\nLanguage=Language " + std::to_string(i) + "\r\n";
    WriteLanguageFile(text);
    HWND window = OpenMainWindow();
    Check(languageCount == 100, "the count is capped at 100 (got %d)", static_cast<int>(languageCount));
    OptionsView view = RunOptions(window, -2, IDCANCEL);
    Check(view.items.size() == 100, "Options lists 100 translations (got %d)", static_cast<int>(view.items.size()));
    Check(!view.items.empty() && view.items.front() == "Language 0" && view.items.back() == "Language 99",
          "in index order");
    CloseMainWindow(window);

    WriteLanguageFile("[General]\r\nLanguages No=-5\r\n[0]\r\nLanguage=Hidden\r\n");
    window = OpenMainWindow();
    view = RunOptions(window, -2, IDCANCEL);
    Check(view.items.empty(), "a negative count lists nothing");
    CloseMainWindow(window);
}

void ChooseLanguage() {
    Section("choosing the same or another language");
    WriteLanguageFile(TwoLanguages(1));
    HWND window = OpenMainWindow();

    OptionsView view = RunOptions(window, 1, IDOK);
    Check(view.messages.empty(), "choosing the current translation again shows no message");
    Check(LanguageKey("General", "Language Current") == "1", "the index stays 1");

    view = RunOptions(window, 0, IDCANCEL);
    Check(view.messages.empty() && LanguageKey("General", "Language Current") == "1", "Cancel changes nothing");

    view = RunOptions(window, 0, IDOK);
    Check(LanguageKey("General", "Language Current") == "0", "OK stores the chosen index in the language file");
    if (Check(view.messages.size() == 1, "choosing another translation shows one message (%d)",
              static_cast<int>(view.messages.size()))) {
        Check(view.messages[0].text == "alpha restart", "the message is entry 47 of the new translation (got \"%s\")",
              view.messages[0].text.c_str());
        Check(view.messages[0].title == "alpha report", "its caption is entry 38 of it (got \"%s\")",
              view.messages[0].title.c_str());
        Check(view.messages[0].owner == window, "the main window owns it");
    }
    Check(Utf8(Lang(1)) == "бета один", "the other texts wait for the next start");
    CloseMainWindow(window);

    window = OpenMainWindow();
    Check(Utf8(Lang(1)) == "alpha one", "the next start uses the chosen translation (got \"%s\")", Utf8(Lang(1)).c_str());
    CloseMainWindow(window);
}

void ShippedTranslation() {
    Section("the translation shipped with the editor");
    if (!Check(CopyBesideToLanguageFile(L"shipped_loc.ini"), "the shipped language file is there")) return;
    HWND window = OpenMainWindow();
    OptionsView view = RunOptions(window, -2, IDCANCEL);
    Check(view.items.size() == 2 && view.items[0] == "English" && view.items[1] == "Deutsch",
          "Options lists English and Deutsch");
    int missing = 0;
    for (int entry = 1; entry <= LANGUAGE_ENTRIES; ++entry) {
        if (!*DefaultLang(entry)) continue;
        std::string key = "string" + std::to_string(entry);
        if (LanguageKey("1", key.c_str()) == "<missing>") {
            printf("   missing: %s\n", key.c_str());
            ++missing;
        }
    }
    Check(missing == 0, "the German translation has every entry that has an English text (%d missing)", missing);

    view = RunOptions(window, 1, IDOK);
    Check(view.messages.size() == 1 && view.messages[0].text == "Die neue Sprache gilt nach einem Neustart der Anwendung",
          "choosing Deutsch answers in German");
    CloseMainWindow(window);

    HANDLE file = CreateFileW(TestLanguageFile().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    unsigned char mark[2] = {0, 0};
    DWORD read = 0;
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, mark, 2, &read, nullptr);
        CloseHandle(file);
    }
    Check(read == 2 && mark[0] == 0xFF && mark[1] == 0xFE, "storing the choice keeps the file UTF-16");

    window = OpenMainWindow();
    Check(Utf8(Lang(44)) == "Optionen" && Utf8(Lang(9)) == "Schließen", "the next start is in German");
    view = RunOptions(window, 0, IDOK);
    Check(view.messages.size() == 1 && view.messages[0].title == "Report",
          "going back to English answers in English");
    CloseMainWindow(window);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(120);
    RemoveSettingsFolder();
    if (!Check(PrepareMainWindow(instance), "start-up registers the main window class")) return Summary();
    NoLanguageFile();
    MissingKeys();
    ManyLanguages();
    ChooseLanguage();
    ShippedTranslation();
    RemoveLanguageFile();
    return Summary();
}
