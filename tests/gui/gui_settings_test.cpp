// Window tests of the settings file: the first run, the crash marker across
// a normal and a killed run, values that are not numbers and the JPEG
// quality floor. Each case creates the real main window, which loads the
// settings, and destroys it, which writes them.
#include <stdint.h>
#include <stdlib.h>

#include "app/app.h"
#include "gui_harness.h"
#include "settings/settings.h"

namespace {

struct KeyDefault {
    const char* key;
    const char* text;
    const int32_t* value;
};

const KeyDefault kUiDefaults[] = {
    {"uiFuseToImage", "0", &uiFuseToImage},   {"uiEdgeDetails", "10", &uiEdgeDetails},
    {"uiEdgeCut", "50", &uiEdgeCut},          {"uiQuantization", "1", &uiQuantization},
    {"uiDetails", "10", &uiDetails},          {"uiProlongation", "50", &uiProlongation},
    {"uiSigma", "30", &uiSigma},              {"uiCycles", "5", &uiCycles},
    {"uiSmoothAlpha", "5", &uiSmoothAlpha},   {"uiLocality", "5", &uiLocality},
    {"uiRelaxation", "20", &uiRelaxation},    {"uiDoShock", "0", &uiDoShock},
    {"uiDoLoG", "1", &uiDoLoG},               {"uiDoWeickert", "0", &uiDoWeickert},
    {"uiFlatten", "20", &uiFlatten},          {"uiLoGPower", "10", &uiLoGPower},
    {"uiWeickertPower", "10", &uiWeickertPower},
};

// Creates the main window as start-up does; `dialogs` gets what popped up.
HWND OpenMainWindow(std::vector<SeenDialog>* dialogs) {
    HWND window = nullptr;
    std::vector<SeenDialog> seen = WithDialogs([&] { window = CreateMainWindow(); });
    if (dialogs) *dialogs = seen;
    Check(window != nullptr, "the main window is created");
    return window;
}

void CloseMainWindow(HWND window) {
    SendMessageW(window, WM_CLOSE, 0, 0);
    PumpMessages(20);
    Check(!IsWindow(window), "the main window closes");
}

bool FolderExists(const WideString& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void FirstRun() {
    Section("first run without folder or file");
    RemoveSettingsFolder();
    Check(!FolderExists(TestSettingsFolder()), "the settings folder is gone before the run");

    WCHAR path[MAX_PATH];
    Check(SettingsFilePath(path) && lstrcmpiW(path, TestSettingsFile().c_str()) == 0,
          "the settings file is %%APPDATA%%\\Ostrivel\\Ostrivel.txt (got %s)", Utf8(path).c_str());
    RemoveSettingsFolder();

    std::vector<SeenDialog> dialogs;
    HWND window = OpenMainWindow(&dialogs);
    Check(dialogs.empty(), "no message on the first run (%d shown)", static_cast<int>(dialogs.size()));
    Check(!crashedLastTime, "no crash flag on the first run");
    Check(FolderExists(TestSettingsFolder()), "the settings folder is created");
    Check(ReadSettingsKey("Crashed Last Time") == "1", "the crash marker is 1 while the program runs");
    Check(ReadSettingsKey("uiSigma") == "<missing>", "the parameters are not written before the exit");
    for (const KeyDefault& d : kUiDefaults)
        Check(*d.value == atoi(d.text), "%s starts at its default %s (got %d)", d.key, d.text,
              static_cast<int>(*d.value));
    Check(jpegSetting == 90, "jpeg starts at 90 (got %d)", static_cast<int>(jpegSetting));

    CloseMainWindow(window);
    Check(ReadSettingsKey("Crashed Last Time") == "0", "a normal exit clears the crash marker");
    for (const KeyDefault& d : kUiDefaults)
        Check(ReadSettingsKey(d.key) == d.text, "%s is written as %s at the exit (file has %s)", d.key, d.text,
              ReadSettingsKey(d.key).c_str());
    Check(ReadSettingsKey("jpeg") == "<missing>", "jpeg is not written at the exit");
}

void ChangedValuesAreWritten() {
    Section("values changed while running are written at the exit");
    HWND window = OpenMainWindow(nullptr);
    uiEdgeDetails = 77;
    uiDoShock = 1;
    CloseMainWindow(window);
    Check(ReadSettingsKey("uiEdgeDetails") == "77", "uiEdgeDetails is written as 77");
    Check(ReadSettingsKey("uiDoShock") == "1", "uiDoShock is written as 1");
    window = OpenMainWindow(nullptr);
    Check(uiEdgeDetails == 77 && uiDoShock == 1, "the next start reads them back");
    uiEdgeDetails = 10;
    uiDoShock = 0;
    CloseMainWindow(window);
}

void CrashMarker() {
    Section("crash marker across a normal and a killed run");
    std::vector<SeenDialog> dialogs;
    HWND window = OpenMainWindow(&dialogs);
    Check(dialogs.empty() && !crashedLastTime, "after a normal exit the next start shows no crash message");
    CloseMainWindow(window);

    long exitCode = RunSelf(L"--killed-run", 60000);
    Check(exitCode == 9, "the killed run ends without its normal exit (exit code %ld)", exitCode);
    Check(ReadSettingsKey("Crashed Last Time") == "1", "the killed run leaves the marker at 1");

    window = OpenMainWindow(&dialogs);
    Check(crashedLastTime, "the next start reads the crash flag");
    if (Check(dialogs.size() == 1, "the next start shows one message (%d shown)", static_cast<int>(dialogs.size()))) {
        const SeenDialog& box = dialogs[0];
        Check(box.text == Utf8(DefaultLang(2)), "the message is entry 2 (got \"%s\")", box.text.c_str());
        Check(box.title == "Warning", "its caption is entry 3 (got \"%s\")", box.title.c_str());
        Check(box.owner == window, "the main window owns it");
        Check(!box.ownerVisible, "it appears before the main window is shown");
    }
    Check(ReadSettingsKey("Crashed Last Time") == "1", "the marker is set again while running");
    CloseMainWindow(window);

    window = OpenMainWindow(&dialogs);
    Check(dialogs.empty(), "the crash message is shown only once");
    CloseMainWindow(window);
}

void NonNumericValues() {
    Section("values that are not numbers");
    WriteSettingsKey("uiEdgeCut", "abc");
    WriteSettingsKey("uiSigma", "12abc");
    WriteSettingsKey("uiDetails", "-7");
    WriteSettingsKey("uiLocality", "");
    WriteSettingsKey("uiFlatten", " 15");
    WriteSettingsKey("uiLoGPower", "99999999999");
    WriteSettingsKey("uiCycles", "+3");
    WriteSettingsKey("uiRelaxation", "-");
    HWND window = OpenMainWindow(nullptr);
    Check(uiEdgeCut == 0, "\"abc\" reads as 0 (got %d)", static_cast<int>(uiEdgeCut));
    Check(uiSigma == 12, "\"12abc\" reads its leading digits, 12 (got %d)", static_cast<int>(uiSigma));
    Check(uiDetails == -7, "\"-7\" reads as -7 (got %d)", static_cast<int>(uiDetails));
    Check(uiLocality == 0, "an empty value reads as 0 (got %d)", static_cast<int>(uiLocality));
    Check(uiFlatten == 15, "\" 15\" reads as 15 (got %d)", static_cast<int>(uiFlatten));
    Check(uiLoGPower == INT32_MAX, "a number beyond 32 bits is held at the limit (got %d)",
          static_cast<int>(uiLoGPower));
    Check(uiCycles == 3, "\"+3\" reads as 3 (got %d)", static_cast<int>(uiCycles));
    Check(uiRelaxation == 0, "a lone sign reads as 0 (got %d)", static_cast<int>(uiRelaxation));
    CloseMainWindow(window);
    Check(ReadSettingsKey("uiEdgeCut") == "0", "the exit writes the value read, 0");
    Check(ReadSettingsKey("uiSigma") == "12", "the exit writes 12");
    Check(ReadSettingsKey("uiLoGPower") == "2147483647", "the exit writes the held limit");
}

void JpegQuality() {
    Section("jpeg quality");
    struct Case {
        const char* stored;
        int32_t loaded;
    };
    const Case cases[] = {{"15", 90}, {"19", 90}, {"20", 20}, {"100", 100}, {"abc", 90}, {"-3", 90}};
    for (const Case& c : cases) {
        WriteSettingsKey("jpeg", c.stored);
        HWND window = OpenMainWindow(nullptr);
        Check(jpegSetting == c.loaded, "jpeg \"%s\" loads as %d (got %d)", c.stored, static_cast<int>(c.loaded),
              static_cast<int>(jpegSetting));
        CloseMainWindow(window);
        Check(ReadSettingsKey("jpeg") == c.stored, "the exit leaves jpeg \"%s\" alone", c.stored);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    if (HasArgument(L"--killed-run")) {
        // A run that never reaches the normal exit, as when the process is killed.
        PrepareMainWindow(instance);
        CreateMainWindow();
        TerminateProcess(GetCurrentProcess(), 9);
        return 1;
    }
    StartWatchdog(120);
    RemoveLanguageFile();  // English texts
    if (!Check(PrepareMainWindow(instance), "start-up registers the main window class")) return Summary();
    FirstRun();
    ChangedValuesAreWritten();
    CrashMarker();
    NonNumericValues();
    JpegQuality();
    return Summary();
}
