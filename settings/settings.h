// Settings and languages: the user's repaint parameters, the JPEG quality
// and the crash marker kept in the settings file, and the numbered texts of
// the language table with the language file beside the program and the
// Options dialog that picks its current translation.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <vector>

#include "engines/method_params.h"

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
// The value that holds a repaint method's parameter (found by its settings key).
int32_t& SettingOf(const MethodParam& param);
// The stored positions of a method's parameters, in the table's order.
template <size_t N>
std::vector<int> SettingPositions(const MethodParam (&params)[N]) {
    std::vector<int> positions;
    for (const MethodParam& param : params) positions.push_back(SettingOf(param));
    return positions;
}
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

// The name of every language entry. The number is the entry's key in the
// language file ("string<N>"), so a number never changes once shipped;
// the English texts are in the table in language.cpp, by the same names.
enum LanguageEntry : int {
    kOpenHintEntry = 1,  // the status bar with no picture
    kCrashedLastTimeEntry = 2,
    kWarningEntry = 3,
    kFileMenuEntry = 4,
    kRepaintMenuEntry = 5,
    kHelpMenuEntry = 6,
    kOpenItemEntry = 7,
    kSaveAsItemEntry = 8,
    kCloseItemEntry = 9,
    kOptionsItemEntry = 10,
    kExitItemEntry = 11,
    kDefaultButtonEntry = 12,
    kFlattenOnEntry = 13,
    kSharpenOnEntry = 14,
    kGlobalSharpeningEntry = 15,
    kHelpContentsEntry = 16,
    kVisitWebSiteEntry = 17,
    kAboutItemEntry = 20,
    kDropUnsavedResultEntry = 21,  // the question before an unsaved result is lost
    kViewHintEntry = 22,           // the status bar with a picture
    kOpenTipEntry = 23,
    kSaveAsTipEntry = 24,
    kZoomInTipEntry = 25,
    kZoomOutTipEntry = 26,
    kZoomFitTipEntry = 27,
    kZoom100TipEntry = 28,
    kZoomBoxTipEntry = 29,
    kSharpeningGroupEntry = 30,
    kSmoothnessEntry = 31,
    kLocalityEntry = 32,
    kWeakEdgesEntry = 33,
    kReportEntry = 38,
    kFormatNotSupportedEntry = 41,  // also any failure that has no text of its own
    kAboutTitleEntry = 42,
    kSelectLanguageEntry = 43,
    kOptionsTitleEntry = 44,
    kOkEntry = 45,
    kCancelEntry = 46,
    kRestartForLanguageEntry = 47,
    kJpegQualityEntry = 48,
    kOpenTitleEntry = 49,
    kSmoothingGroupEntry = 53,
    kSetPowerEntry = 54,
    kRepaintOriginalEntry = 55,
    kRepaintSmudgeEntry = 56,
    kSmudgeDetailsEntry = 57,
    kProlongationEntry = 58,
    kSigmaEntry = 59,
    kRepaintRedrawEntry = 60,
    kGainEntry = 61,
    kThresholdEntry = 62,
    kRoughQuantizationEntry = 63,  // the five Redraw levels follow in order
    kNormalQuantizationEntry = 64,
    kDetailedQuantizationEntry = 65,
    kSmoothedImageEntry = 66,
    kOriginalImageEntry = 67,
    kAbortEntry = 68,
    kEdgesGroupEntry = 69,
    kColorsGroupEntry = 70,
    kSetRepaintingPowerEntry = 71,
    kPreviewEntry = 73,
    kRedrawDetailsEntry = 75,
    kCutEntry = 76,
    kImportEdgesEntry = 77,
    kRepaintingMethodEntry = 84,
    kRepaintingPowerEntry = 85,
    kNotEnoughMemoryEntry = 86,  // memory ran out during a repaint
    kDropMetadataEntry = 88,
    kPictureTooLargeEntry = 89,  // more pixels than the editor opens
    kAboutPurposeEntry = 90,     // the About box's two paragraphs
    kAboutHowToEntry = 91,
    kNotAFileEntry = 93,    // a folder or a device given to open
    kControlKeyEntry = 94,  // the Ctrl key's name in shortcuts ("Strg" in German)
    kMenuButtonEntry = 95,
    kSaveNameSuffixEntry = 96,  // the suffix of the name Save As offers
    kNotWrittenEntry = 97,      // a save the system refused; its reason follows
    kAllFilesEntry = 98,
    kAllPicturesEntry = 99,
};

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
