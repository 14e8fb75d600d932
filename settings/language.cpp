// The language table: every text the program shows is entry N of one
// process-wide table, English by default, translated by the current section
// of the language file beside the program.
#include "settings.h"

LanguageRecord languageList[LANGUAGE_LIST_MAX];
int32_t languageCount;
int32_t currentLanguage;

namespace {

WCHAR languageTable[LANGUAGE_ENTRIES + 1][LANGUAGE_TEXT_SIZE];

struct DefaultText {
    LanguageEntry entry;
    const WCHAR* text;
};

// Entries missing here have the empty text.
const DefaultText kDefaults[] = {
    {kOpenHintEntry, L"Press Ctrl+O to open an image"},
    {kCrashedLastTimeEntry,
     L"The application crashed last time. It's probably caused by low memory. Please try to crop the image a "
     L"Repaint the image again."},
    {kWarningEntry, L"Warning"},
    {kFileMenuEntry, L"File"},
    {kRepaintMenuEntry, L"Repaint"},
    {kHelpMenuEntry, L"Help"},
    {kOpenItemEntry, L"Open..."},
    {kSaveAsItemEntry, L"Save As..."},
    {kCloseItemEntry, L"Close"},
    {kOptionsItemEntry, L"Options..."},
    {kExitItemEntry, L"Exit"},
    {kDefaultButtonEntry, L"&Default"},
    {kFlattenOnEntry, L"&Flattening - Ignore edges weaker than:"},
    {kSharpenOnEntry, L"&Border Sharpening - Strength:"},
    {kGlobalSharpeningEntry, L"Global Sharpening - Strength:"},
    {kHelpContentsEntry, L"Help Contents"},
    {kVisitWebSiteEntry, L"Visit Web Site"},
    {kAboutItemEntry, L"About..."},
    {kDropUnsavedResultEntry, L"Opened image was signed but not saved, do you want to continue without saving?"},
    {kViewHintEntry, L"Click and drag to move image, Double click to zoom to best fit, Use mouse wheel to zoom"},
    {kOpenTipEntry, L"Open Image (Ctrl+O)"},
    {kSaveAsTipEntry, L"Save Image As (Ctrl+S)"},
    {kZoomInTipEntry, L"Zoom In (+)"},
    {kZoomOutTipEntry, L"Zoom Out (-)"},
    {kZoomFitTipEntry, L"Zoom Image to Fit the Window"},
    {kZoom100TipEntry, L"Set Zoom 100%"},
    {kZoomBoxTipEntry, L"Set Zoom"},
    {kSharpeningGroupEntry, L"Sharpening params"},
    {kSmoothnessEntry, L"S&moothness"},
    {kLocalityEntry, L"Locality"},
    {kWeakEdgesEntry, L"&Ignore weak edges with strength"},
    {kReportEntry, L"Report"},
    {kFormatNotSupportedEntry, L"Image format not supported!"},
    {kAboutTitleEntry, L"About"},
    {kSelectLanguageEntry, L"&Select Language:"},
    {kOptionsTitleEntry, L"Options"},
    {kOkEntry, L"OK"},
    {kCancelEntry, L"Cancel"},
    {kRestartForLanguageEntry, L"You have to restart application to affect the language change"},
    {kJpegQualityEntry, L"&Jpeg Quality:"},
    {kOpenTitleEntry, L"Open"},
    {kSmoothingGroupEntry, L"Smoothing params"},
    {kSetPowerEntry, L"Set power of Repainting:"},
    {kRepaintOriginalEntry, L"Repaint Original..."},
    {kRepaintSmudgeEntry, L"Repaint Smudge..."},
    {kSmudgeDetailsEntry, L"&Details"},
    {kProlongationEntry, L"P&rolongation"},
    {kSigmaEntry, L"&Sigma"},
    {kRepaintRedrawEntry, L"Repaint Redraw..."},
    {kGainEntry, L"Gain"},
    {kThresholdEntry, L"Threshold"},
    {kRoughQuantizationEntry, L"Rough Quantization"},
    {kNormalQuantizationEntry, L"Normal Quantization"},
    {kDetailedQuantizationEntry, L"Detailed Quantization"},
    {kSmoothedImageEntry, L"Smoothed Image"},
    {kOriginalImageEntry, L"Original Image"},
    {kAbortEntry, L"&Abort"},
    {kEdgesGroupEntry, L"Edges"},
    {kColorsGroupEntry, L"Colors"},
    {kSetRepaintingPowerEntry, L"Set Repainting power:"},
    {kPreviewEntry, L"&Preview"},
    {kRedrawDetailsEntry, L"&Details"},
    {kCutEntry, L"&Cut"},
    {kImportEdgesEntry, L"&Import Edges To Image"},
    {kRepaintingMethodEntry, L"Repainting method:"},
    {kRepaintingPowerEntry, L"Repainting power:"},
    {kNotEnoughMemoryEntry,
     L"Not enough memory to repaint this picture. Close other programs, or repaint a smaller picture."},
    {kDropMetadataEntry,
     L"The metadata and colour profile of the opened picture could not be kept, and its file has been moved, "
     L"changed or deleted since. Save the picture without them?"},
    {kPictureTooLargeEntry, L"This picture is too large to open: it has more than 180 megapixels."},
    {kAboutPurposeEntry, L"Repaints photographs as paintings and drawings."},
    {kAboutHowToEntry, L"Open a picture, pick a repaint method, preview it on a part of the picture, then run it."},
    {kNotAFileEntry, L"This is a folder or a device, not a picture file."},
    {kControlKeyEntry, L"Ctrl"},
    {kMenuButtonEntry, L"Menu"},
    {kSaveNameSuffixEntry, L"-denoised"},
    {kNotWrittenEntry, L"The picture could not be written:"},
    {kAllFilesEntry, L"All files"},
    {kAllPicturesEntry, L"All supported pictures"},
};

const WCHAR kGeneral[] = L"General";

}  // namespace

const WCHAR* DefaultLang(int entry) {
    for (const DefaultText& d : kDefaults)
        if (d.entry == entry) return d.text;
    return L"";
}

const WCHAR* Lang(int entry) {
    if (entry < 1 || entry > LANGUAGE_ENTRIES) return L"";
    return languageTable[entry];
}

void LanguageFilePath(WCHAR path[LANGUAGE_TEXT_SIZE]) {
    WCHAR program[LANGUAGE_TEXT_SIZE];
    DWORD length = GetModuleFileNameW(nullptr, program, LANGUAGE_TEXT_SIZE);
    if (length >= LANGUAGE_TEXT_SIZE) length = 0;  // truncated: no usable folder
    program[length] = 0;
    // The folder is the path cut at its last backslash; without one it is empty.
    int cut = 0;
    for (int i = 0; program[i]; ++i)
        if (program[i] == L'\\') cut = i;
    program[cut] = 0;
    wsprintfW(path, L"%s/Ostrivel_loc.ini", program);
}

void LoadLanguageEntry(int entry) {
    if (entry < 1 || entry > LANGUAGE_ENTRIES) return;
    WCHAR path[LANGUAGE_TEXT_SIZE];
    LanguageFilePath(path);
    WCHAR section[16], key[16];
    wsprintfW(section, L"%i", currentLanguage);
    wsprintfW(key, L"string%i", entry);
    GetPrivateProfileStringW(section, key, DefaultLang(entry), languageTable[entry], LANGUAGE_TEXT_SIZE, path);
    // An entry left empty in a translation would blank a button or a menu
    // item: the English text stands in for it.
    if (!languageTable[entry][0]) lstrcpynW(languageTable[entry], DefaultLang(entry), LANGUAGE_TEXT_SIZE);
}

void LoadLanguageTable() {
    for (int entry = 1; entry <= LANGUAGE_ENTRIES; ++entry) LoadLanguageEntry(entry);
}

void LoadLanguageList() {
    WCHAR path[LANGUAGE_TEXT_SIZE];
    LanguageFilePath(path);
    WCHAR text[LANGUAGE_TEXT_SIZE];
    GetPrivateProfileStringW(kGeneral, L"Languages No", L"0", text, LANGUAGE_TEXT_SIZE, path);
    languageCount = ParseSettingsInt(text);
    if (languageCount < 0) languageCount = 0;
    if (languageCount > LANGUAGE_LIST_MAX) languageCount = LANGUAGE_LIST_MAX;
    // The user's choice lives in the settings file: the language file sits
    // beside the program, which a user may not write (Program Files), and
    // its own "Language Current" is only the default for a new user.
    GetPrivateProfileStringW(kGeneral, kLanguageCurrentKey, L"0", text, LANGUAGE_TEXT_SIZE, path);
    WCHAR chosen[16] = L"";
    WCHAR settingsPath[MAX_PATH];
    if (SettingsFilePath(settingsPath))
        GetPrivateProfileStringW(kGeneral, kLanguageCurrentKey, L"", chosen, 16, settingsPath);
    currentLanguage = ParseSettingsInt(chosen[0] ? chosen : text);
    for (int i = 0; i < languageCount; ++i) {
        WCHAR section[16];
        wsprintfW(section, L"%i", i);
        LanguageRecord& record = languageList[i];
        GetPrivateProfileStringW(section, L"Language", L"", record.name, LANGUAGE_TEXT_SIZE, path);
        GetPrivateProfileStringW(section, L"Acronym", L"", record.acronym, LANGUAGE_ACRONYM_SIZE, path);
    }
}
