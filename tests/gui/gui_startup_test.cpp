// Window tests of start-up and shut-down: the editor's own RunOstrivel with
// its message loop and accelerators, driven by timer steps; the settings
// file across normal and killed runs; and the language table with the
// Options dialog.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "settings/settings.h"

namespace {

std::vector<SeenDialog> dialogs;  // every dialog seen while the editor ran

// Runs the editor with the steps; every dialog is recorded and answered
// with OK (the open dialog is cancelled).
int RunEditorWithSteps(HINSTANCE instance, std::vector<std::function<void()>> steps) {
    dialogs.clear();
    ScheduleSteps(std::move(steps), 150);
    int exitCode = -1;
    WithDialogs([&] { exitCode = RunOstrivel(instance, SW_SHOWNORMAL); },
                [](HWND dialog, const SeenDialog& seen) {
                    dialogs.push_back(seen);
                    PressButton(dialog, seen.title == "Open" ? IDCANCEL : IDOK);
                    return true;
                });
    return exitCode;
}

size_t AboutBoxes() {
    return std::count_if(dialogs.begin(), dialogs.end(), [](const SeenDialog& d) { return d.title == "About"; });
}

// Keys typed into the main window. Character accelerators with Alt depend
// on the real key state, which posted messages do not set.
void TypeIntoEditor(std::initializer_list<WORD> keys) {
    SetForegroundWindow(app.mainWindow);
    SetFocus(app.mainWindow);
    SendKeys(keys);
}

void StartUpAndAccelerators(HINSTANCE instance) {
    Section("start-up, accelerators and a normal exit");
    RemoveSettingsFolder();
    int exitCode = RunEditorWithSteps(instance, {
        [] {
            HWND window = app.mainWindow;
            Check(IsWindowVisible(window) && GetClassLongPtrW(window, GCLP_HICONSM) != 0,
                  "the main window is shown, with its icon");
            RECT client;
            GetClientRect(window, &client);
            Check(ClientPixel(window, client.right / 2, client.bottom / 2) == RGB(48, 48, 48),
                  "the client area is painted dark grey");
            TypeIntoEditor({VK_MENU, VK_OEM_2});  // Alt+/
        },
        [] {
            PumpUntil([] { return AboutBoxes() >= 1; }, 5000);  // typed keys arrive late on a busy machine
            const std::string about = "Ostrivel " OSTRIVEL_VERSION_TEXT "\n\n" + Utf8(DefaultLang(kAboutPurposeEntry)) +
                                      "\n" + Utf8(DefaultLang(kAboutHowToEntry));
            Check(AboutBoxes() == 1 && dialogs.back().text == about && dialogs.back().owner == app.mainWindow,
                  "Alt+/ shows the About box, naming the product and its version, owned by the main window");
            TypeIntoEditor({VK_MENU, VK_SHIFT, VK_OEM_2});  // Alt+?
        },
        [] {
            PumpUntil([] { return AboutBoxes() >= 2; }, 5000);
            Check(AboutBoxes() == 2, "Alt+? shows the About box (%d seen)", static_cast<int>(AboutBoxes()));
            // Keys that open nothing (F1, an arrow, / without Alt), and Ctrl+O.
            TypeIntoEditor({VK_F1});
            TypeIntoEditor({VK_LEFT});
            TypeIntoEditor({VK_OEM_2});
            TypeIntoEditor({VK_CONTROL, 'O'});
        },
        [] {
            PumpUntil([] { return dialogs.size() >= 3; }, 5000);
            Check(dialogs.size() == 3 && dialogs[2].title == "Open" && dialogs[2].owner == app.mainWindow,
                  "F1, the arrows and / without Alt open nothing; Ctrl+O shows the open dialog (%d dialogs)",
                  static_cast<int>(dialogs.size()));
            PostMessageW(app.mainWindow, WM_COMMAND, IDM_EXIT, 0);
        },
    });
    Check(exitCode == 0 && app.mainWindow == nullptr, "Exit ends the program with exit code 0 (got %d)",
          exitCode);
    Check(ReadSettingsKey("Crashed Last Time") == "0", "the settings were written while the window was destroyed");
}

// Refuses the creation of the main window, as a failed CreateWindowExW would.
LRESULT CALLBACK RefuseMainWindow(int code, WPARAM wParam, LPARAM lParam) {
    WCHAR className[64];
    if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wParam), className, 64) &&
        lstrcmpW(className, L"Ostrivel") == 0)
        return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void FailedCreation(HINSTANCE instance) {
    Section("a main window that cannot be created");
    HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseMainWindow, nullptr, GetCurrentThreadId());
    int exitCode = RunOstrivel(instance, SW_SHOWNORMAL);
    UnhookWindowsHookEx(hook);
    Check(exitCode == 0 && app.mainWindow == nullptr, "the program ends with exit code 0, no window left (got %d)",
          exitCode);
}

// --- settings ------------------------------------------------------------

int KeysInSettingsFile() {
    WCHAR section[8192];
    DWORD length = GetPrivateProfileSectionW(L"General", section, 8192, TestSettingsFile().c_str());
    int keys = 0;
    for (DWORD i = 0; i < length; ++i) keys += section[i] == 0;
    return keys;
}

void SettingsFile() {
    Section("settings: the first run, values kept across runs");
    RemoveSettingsFolder();
    std::vector<SeenDialog> seen;
    HWND window = OpenMainWindow(&seen);
    Check(seen.empty() && !crashedLastTime, "no crash message on the first run");
    Check(FileExists(TestSettingsFolder()) && ReadSettingsKey("Crashed Last Time") == "1",
          "the folder is created and the crash marker is 1 while running");
    Check(KeysInSettingsFile() == 1 && uiEdgeCut == 50 && jpegSetting == 90,
          "the parameters start at their defaults and are not written before the exit");
    uiEdgeDetails = 77;
    uiDoShock = 1;
    CloseMainWindow(window);
    Check(ReadSettingsKey("Crashed Last Time") == "0", "a normal exit clears the crash marker");
    Check(KeysInSettingsFile() == 18 && ReadSettingsKey("jpeg") == "<missing>",
          "it writes the marker and the 17 parameters, not jpeg (%d keys)", KeysInSettingsFile());
    window = OpenMainWindow();
    Check(uiEdgeDetails == 77 && uiDoShock == 1 && uiEdgeCut == 50, "the next start reads them back");
    uiEdgeDetails = 10;
    uiDoShock = 0;
    CloseMainWindow(window);

    Section("settings: the crash marker after a killed run");
    // A killed run ends with the marker it set at start, as checked above.
    WriteSettingsKey("Crashed Last Time", "1");
    window = OpenMainWindow(&seen);
    Check(crashedLastTime && seen.size() == 1 && seen[0].text == Utf8(DefaultLang(kCrashedLastTimeEntry)) &&
              seen[0].title == "Warning",
          "the next start shows entry 2 with caption entry 3 (%d shown)", static_cast<int>(seen.size()));
    Check(seen.size() == 1 && seen[0].owner == window && !seen[0].ownerVisible,
          "owned by the main window, before it is shown");
    CloseMainWindow(window);
    window = OpenMainWindow(&seen);
    Check(seen.empty(), "the crash message is shown only once");
    CloseMainWindow(window);

    Section("settings: values that are not numbers, and the JPEG quality floor");
    const struct {
        const WCHAR* text;
        int32_t value;
    } numbers[] = {{L"abc", 0},         {L"12abc", 12}, {L"-7", -7}, {L"", 0}, {L" 15", 15},
                   {L"99999999999", INT32_MAX}, {L"-99999999999", INT32_MIN}, {L"+3", 3}, {L"-", 0}};
    for (const auto& n : numbers)
        Check(ParseSettingsInt(n.text) == n.value, "\"%s\" reads as %d (got %d)", Utf8(n.text).c_str(),
              static_cast<int>(n.value), static_cast<int>(ParseSettingsInt(n.text)));
    WriteSettingsKey("uiSigma", "12abc");
    window = OpenMainWindow();
    CloseMainWindow(window);
    Check(ReadSettingsKey("uiSigma") == "12", "a value is read through that parse and written back as read");
    // Each key one step below its slider's range, at both ends, one step
    // above; the keys kept only for old files hold anything.
    const struct {
        const char* key;
        const char* stored[4];
    } ranges[] = {
        {"uiFuseToImage", {"-1", "0", "1", "2"}},      {"uiEdgeDetails", {"0", "1", "100", "101"}},
        {"uiEdgeCut", {"-2147483648", "1", "100", "2147483647"}},
        {"uiQuantization", {"-1", "0", "4", "5"}},     {"uiDetails", {"0", "1", "100", "101"}},
        {"uiProlongation", {"0", "1", "100", "101"}},  {"uiSigma", {"-1", "0", "100", "101"}},
        {"uiSmoothAlpha", {"0", "1", "20", "21"}},     {"uiRelaxation", {"-1", "0", "25", "26"}},
        {"uiDoShock", {"-5", "0", "1", "2"}},          {"uiDoLoG", {"-1", "0", "1", "2"}},
        {"uiFlatten", {"0", "1", "20", "21"}},         {"uiLoGPower", {"0", "1", "20", "21"}},
        {"uiCycles", {"-7", "-7", "2147483647", "2147483647"}},
        {"uiWeickertPower", {"-2147483648", "-2147483648", "99", "99"}},
    };
    for (int pass = 0; pass < 4; ++pass) {
        for (const auto& r : ranges) WriteSettingsKey(r.key, r.stored[pass]);
        window = OpenMainWindow();
        CloseMainWindow(window);
        for (const auto& r : ranges) {
            const char* expected = r.stored[pass < 2 ? 1 : 2];
            Check(ReadSettingsKey(r.key) == expected, "%s stored as %s is held to %s and heals (got %s)", r.key,
                  r.stored[pass], expected, ReadSettingsKey(r.key).c_str());
        }
    }
    const struct {
        const char* stored;
        int32_t loaded;
    } qualities[] = {{"19", 90}, {"20", 20}, {"100", 100}, {"abc", 90}, {"-3", 90}};
    for (const auto& q : qualities) {
        WriteSettingsKey("jpeg", q.stored);
        window = OpenMainWindow();
        CloseMainWindow(window);
        Check(jpegSetting == q.loaded && ReadSettingsKey("jpeg") == q.stored,
              "jpeg \"%s\" loads as %d and is left alone (got %d)", q.stored, static_cast<int>(q.loaded),
              static_cast<int>(jpegSetting));
    }
}

// --- languages -----------------------------------------------------------

// What the Options dialog showed.
struct OptionsView {
    bool shown = false;
    std::string title, label;
    std::vector<std::string> items;
    int selected = -2;
    bool centred = false;
    std::vector<SeenDialog> messages;  // message boxes after it closed
};

// Runs the Options command; selects `choose` (or leaves the selection when it
// is -2) and presses `button`; a shot of it when named.
OptionsView RunOptions(HWND window, int choose, int button, const WCHAR* shot = nullptr) {
    OptionsView view;
    WithDialogs([&] { SendMessageW(window, WM_COMMAND, IDM_OPTIONS, 0); },
                [&](HWND dialog, const SeenDialog& seen) {
                    HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
                    if (!list) {  // a message box
                        view.messages.push_back(seen);
                        PressButton(dialog, IDOK);
                        return true;
                    }
                    view.shown = true;
                    view.title = seen.title;
                    view.label = WindowText(GetDlgItem(dialog, IDC_LANGUAGE_LABEL));
                    int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
                    for (int i = 0; i < count; ++i) {
                        WCHAR text[1024] = L"";
                        if (SendMessageW(list, CB_GETLBTEXTLEN, i, 0) < 1024)
                            SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
                        view.items.push_back(Utf8(text));
                    }
                    view.selected = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
                    RECT d, o;
                    GetWindowRect(dialog, &d);
                    GetWindowRect(window, &o);
                    view.centred = abs((d.left + d.right) - (o.left + o.right)) <= 2 &&
                                   abs((d.top + d.bottom) - (o.top + o.bottom)) <= 2;
                    if (shot) Check(Shot(dialog, shot), "%s.png is written", Utf8(shot).c_str());
                    if (choose != -2) SendMessageW(list, CB_SETCURSEL, choose, 0);
                    PressButton(dialog, button);
                    return true;
                });
    return view;
}

std::string LanguageKey(const char* section, const char* key) {
    WCHAR text[1024];
    GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), L"<missing>", text, 1024,
                             TestLanguageFile().c_str());
    return Utf8(text);
}

// Two translations with distinct texts for the entries the tests look at.
std::string TwoLanguages(int current) {
    return "[General]\r\nLanguages No=2\r\nLanguage Current=" + std::to_string(current) +
           "\r\n"
           "[0]\r\nLanguage=Alpha\r\nAcronym=AL\r\nstring1=alpha one\r\nstring38=alpha report\r\n"
           "string47=alpha restart\r\n"
           "[1]\r\nLanguage=Бета\r\nAcronym=BETAWITHAVERYLONGCODE\r\nstring1=бета один\r\nstring38=бета звіт\r\n"
           "string47=бета перезапуск\r\nstring43=бета мова:\r\nstring45=\r\n";
}

void Languages() {
    Section("languages: no language file");
    RemoveLanguageFile();
    HWND window = OpenMainWindow();
    bool allDefault = true;
    for (int entry = 1; entry <= LANGUAGE_ENTRIES; ++entry)
        allDefault = allDefault && !lstrcmpW(Lang(entry), DefaultLang(entry));
    Check(allDefault && Utf8(Lang(kOpenHintEntry)) == "Press Ctrl+O to open an image",
          "every entry has its English default");
    OptionsView view = RunOptions(window, -2, IDCANCEL);
    Check(view.shown && view.items.empty() && view.title == "Options" && view.label == "&Select Language:",
          "Options opens with an empty list and English texts");
    Check(view.centred, "centred over the main window");
    Check(view.messages.empty() && !FileExists(TestLanguageFile()), "Cancel says and writes nothing");
    CloseMainWindow(window);

    Section("languages: a translation that lacks keys");
    WriteLanguageFile(TwoLanguages(1));
    window = OpenMainWindow();
    Check(currentLanguage == 1 && languageCount == 2 && Utf8(Lang(kOpenHintEntry)) == "бета один",
          "the count, the current index and its texts are read (\"%s\")", Utf8(Lang(kOpenHintEntry)).c_str());
    Check(Utf8(Lang(kWarningEntry)) == "Warning" && Utf8(Lang(kOkEntry)) == "OK",
          "a missing key and an empty one give the English default (got \"%s\", \"%s\")",
          Utf8(Lang(kWarningEntry)).c_str(), Utf8(Lang(kOkEntry)).c_str());
    Check(Utf8(languageList[1].name) == "Бета" && Utf8(languageList[1].acronym) == "BETAWITHAVERYLO",
          "names are read as Unicode; 15 characters of the acronym are kept (got %s)",
          Utf8(languageList[1].acronym).c_str());
    view = RunOptions(window, -2, IDCANCEL);
    Check(view.title == "Options" && view.label == "бета мова:" && view.selected == 1,
          "Options falls back to English where needed and selects the current translation");

    Section("languages: choosing the same or another one");
    view = RunOptions(window, 1, IDOK);
    Check(view.messages.empty() && ReadSettingsKey("Language Current") == "1",
          "choosing the current translation again changes and says nothing");
    view = RunOptions(window, 0, IDCANCEL);
    Check(view.messages.empty() && ReadSettingsKey("Language Current") == "1", "Cancel changes nothing");
    view = RunOptions(window, 0, IDOK);
    Check(ReadSettingsKey("Language Current") == "0" && LanguageKey("General", "Language Current") == "1",
          "OK stores the chosen index in the user's settings, not in the language file beside the program");
    Check(view.messages.size() == 1 && view.messages[0].text == "alpha restart" &&
              view.messages[0].title == "alpha report" && view.messages[0].owner == window,
          "and says entry 47 with caption 38 of the new translation, owned by the main window");
    Check(Utf8(Lang(kOpenHintEntry)) == "бета один", "the other texts wait for the next start");
    CloseMainWindow(window);
    window = OpenMainWindow();
    Check(Utf8(Lang(kOpenHintEntry)) == "alpha one", "the next start uses the chosen translation (got \"%s\")",
          Utf8(Lang(kOpenHintEntry)).c_str());
    CloseMainWindow(window);
    RemoveSettingsFolder();  // a new user: the language file's choice again

    Section("languages: counts out of range");
    const struct {
        const char* count;
        size_t listed;
    } counts[] = {{"250", 100}, {"-5", 0}};
    for (const auto& c : counts) {
        std::string text = std::string("[General]\r\nLanguages No=") + c.count + "\r\nLanguage Current=-1\r\n";
        for (int i = 0; i < 120; ++i)
            text += "[" + std::to_string(i) + "]\r\nLanguage=Language " + std::to_string(i) + "\r\nstring1=x\r\n";
        WriteLanguageFile(text);
        window = OpenMainWindow();
        view = RunOptions(window, -2, IDCANCEL);
        Check(view.items.size() == c.listed && (c.listed == 0 || view.items.back() == "Language 99"),
              "\"Languages No=%s\" lists %d translations in index order (got %d)", c.count,
              static_cast<int>(c.listed), static_cast<int>(view.items.size()));
        Check(Utf8(Lang(kOpenHintEntry)) == "Press Ctrl+O to open an image",
              "index -1 selects no section: English texts");
        CloseMainWindow(window);
    }

    Section("languages: the translation shipped with the editor");
    if (!Check(CopyBesideToLanguageFile(L"shipped_loc.ini"), "the shipped language file is there")) return;
    window = OpenMainWindow();
    view = RunOptions(window, -2, IDCANCEL, L"options_dialog");
    Check(view.items == std::vector<std::string>{"English", "Deutsch"}, "Options lists English and Deutsch");
    int missing = 0;
    for (int entry = 1; entry <= LANGUAGE_ENTRIES; ++entry) {
        std::string key = "string" + std::to_string(entry);
        if (*DefaultLang(entry) && LanguageKey("1", key.c_str()) == "<missing>") {
            printf("   missing: %s\n", key.c_str());
            ++missing;
        }
    }
    Check(missing == 0, "the German translation has every entry that has an English text (%d missing)", missing);
    const std::string shipped = FileStart(TestLanguageFile(), 1 << 20);
    RunOptions(window, 1, IDOK);
    CloseMainWindow(window);
    Check(FileStart(TestLanguageFile(), 1 << 20) == shipped, "storing the choice leaves the language file as shipped");
    window = OpenMainWindow();
    Check(Utf8(Lang(kOptionsTitleEntry)) == "Optionen" && Utf8(Lang(kCloseItemEntry)) == "Schließen",
          "the next start is in German");
    CloseMainWindow(window);
    RemoveLanguageFile();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartTest(150);
    StartUpAndAccelerators(instance);
    FailedCreation(instance);
    if (!Check(PrepareMainWindow(instance), "start-up registers the main window class")) return Summary();
    SettingsFile();
    Languages();
    return Summary();
}
