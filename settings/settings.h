// Settings and languages: the user's repaint parameters, the JPEG quality
// and the crash marker kept in the settings file, and the numbered texts of
// the language table with the language file beside the program and the
// Options dialog that picks its current translation.
#pragma once

#include <windows.h>
#include <stdint.h>

// --- settings file -------------------------------------------------------

// One process-wide value per key of section "General". The repaint dialogs
// read and change them; the main window passes them to the workers.
extern int32_t uiFuseToImage;
extern int32_t uiEdgeDetails;
extern int32_t uiEdgeCut;
extern int32_t uiQuantization;
extern int32_t uiDetails;
extern int32_t uiProlongation;
extern int32_t uiSigma;
extern int32_t uiCycles;
extern int32_t uiSmoothAlpha;
extern int32_t uiLocality;
extern int32_t uiRelaxation;
extern int32_t uiDoShock;
extern int32_t uiDoLoG;
extern int32_t uiDoWeickert;
extern int32_t uiFlatten;
extern int32_t uiLoGPower;
extern int32_t uiWeickertPower;
// The `jpeg` key as read at start (never below 20); Save As reads and writes
// the key itself.
extern int32_t jpegSetting;
// The marker read non-zero: the previous run did not reach a normal exit.
extern bool crashedLastTime;

// Full path of the settings file, "<roaming application data>\Ostrivel\Ostrivel.txt",
// creating the folder when it is missing. False when the
// application-data folder is unknown; then nothing is read or written.
bool SettingsFilePath(WCHAR path[MAX_PATH]);

// Reads the language list, the crash marker (and sets it to "1" at once),
// every ui key and `jpeg`. Missing keys give their defaults.
void LoadSettings();
// Writes the crash marker "0" and every ui key; `jpeg` is left alone.
void SaveSettings();

// Reads one key of section "General" as a signed integer (see ParseSettingsInt).
int32_t ReadSettingsInt(const WCHAR* key, const WCHAR* defaultValue);
void WriteSettingsInt(const WCHAR* key, int32_t value);

// Leading optional blanks and sign, then decimal digits; anything that is
// not a number gives 0; values beyond 32 bits are held at the limit.
int32_t ParseSettingsInt(const WCHAR* text);

// --- language table ------------------------------------------------------

enum {
    LANGUAGE_ENTRIES = 99,        // entries are numbered 1 to 99
    LANGUAGE_TEXT_SIZE = 1024,    // characters of one entry, terminator included
    LANGUAGE_LIST_MAX = 100,      // translations listed at most
    LANGUAGE_ACRONYM_SIZE = 16,
};

struct LanguageRecord {
    WCHAR name[LANGUAGE_TEXT_SIZE];
    WCHAR acronym[LANGUAGE_ACRONYM_SIZE];
};

// Language list and the current translation's index, read by LoadSettings.
extern LanguageRecord languageList[LANGUAGE_LIST_MAX];
extern int32_t languageCount;
extern int32_t currentLanguage;

// The entry that says memory ran out during a repaint.
const int kNotEnoughMemoryEntry = 86;
// The entry that says a picture has more pixels than the editor opens.
const int kPictureTooLargeEntry = 89;
const int kNotAFileEntry = 93;    // a folder or a device given to open
const int kNotWrittenEntry = 97;  // a save the system refused; its reason follows
// The Ctrl key's name in shortcuts ("Strg" in German), the Menu button's
// text and the suffix of the name Save As offers.
const int kControlKeyEntry = 94;
const int kMenuButtonEntry = 95;
const int kSaveNameSuffixEntry = 96;

// Language entry `entry`; the empty text for a number outside 1 to 99.
const WCHAR* Lang(int entry);
// The built-in English text of an entry (empty for unused numbers).
const WCHAR* DefaultLang(int entry);

// "<program folder>/Ostrivel_loc.ini".
void LanguageFilePath(WCHAR path[LANGUAGE_TEXT_SIZE]);

// Fills every entry from the current translation's section of the language
// file, with the English default for each key that is missing.
void LoadLanguageTable();
// The same for one entry.
void LoadLanguageEntry(int entry);
// Reads "Languages No" (at most 100), "Language Current" and the names and
// acronyms of the translations.
void LoadLanguageList();
// The key of the current translation: in the user's settings file, and as
// the default for new users in the language file.
const WCHAR kLanguageCurrentKey[] = L"Language Current";

// The Options command: shows dialog 158 over the owner, stores the chosen
// translation in the settings file and says when a restart is needed.
void ShowOptionsDialog(HWND owner);
