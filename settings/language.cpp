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
    int entry;
    const WCHAR* text;
};

// Entries missing here have the empty text.
const DefaultText kDefaults[] = {
    {1, L"Press Ctrl+O to open an image"},
    {2, L"The application crashed last time. It's probably caused by low memory. Please try to crop the image a "
        L"Repaint the image again."},
    {3, L"Warning"},
    {4, L"File"},
    {5, L"Repaint"},
    {6, L"Help"},
    {7, L"Open..."},
    {8, L"Save As..."},
    {9, L"Close"},
    {10, L"Options..."},
    {11, L"Exit"},
    {12, L"&Default"},
    {13, L"&Flattening - Ignore edges weaker than:"},
    {14, L"&Border Sharpening - Strength:"},
    {15, L"Global Sharpening - Strength:"},
    {16, L"Help Contents"},
    {17, L"Visit Web Site"},
    {20, L"About..."},
    {21, L"Opened image was signed but not saved, do you want to continue without saving?"},
    {22, L"Click and drag to move image, Double click to zoom to best fit, Use mouse wheel to zoom"},
    {23, L"Open Image (Ctrl+O)"},
    {24, L"Save Image As (Ctrl+S)"},
    {25, L"Zoom In (+)"},
    {26, L"Zoom Out (-)"},
    {27, L"Zoom Image to Fit the Window"},
    {28, L"Set Zoom 100%"},
    {29, L"Set Zoom"},
    {30, L"Sharpening params"},
    {31, L"S&moothness"},
    {32, L"Locality"},
    {33, L"&Ignore weak edges with strength"},
    {38, L"Report"},
    {41, L"Image format not supported!"},
    {42, L"About"},
    {43, L"&Select Language:"},
    {44, L"Options"},
    {45, L"OK"},
    {46, L"Cancel"},
    {47, L"You have to restart application to affect the language change"},
    {48, L"&Jpeg Quality:"},
    {49, L"Open"},
    {53, L"Smoothing params"},
    {54, L"Set power of Repainting:"},
    {55, L"Repaint Original..."},
    {56, L"Repaint Smudge..."},
    {57, L"&Details"},
    {58, L"P&rolongation"},
    {59, L"&Sigma"},
    {60, L"Repaint Redraw..."},
    {61, L"Gain"},
    {62, L"Threshold"},
    {63, L"Rough Quantization"},
    {64, L"Normal Quantization"},
    {65, L"Detailed Quantization"},
    {66, L"Smoothed Image"},
    {67, L"Original Image"},
    {68, L"&Abort"},
    {69, L"Edges"},
    {70, L"Colors"},
    {71, L"Set Repainting power:"},
    {73, L"&Preview"},
    {75, L"&Details"},
    {76, L"&Cut"},
    {77, L"&Import Edges To Image"},
    {84, L"Repainting method:"},
    {85, L"Repainting power:"},
    {86, L"Not enough memory to repaint this picture. Close other programs, or repaint a smaller picture."},
    {88, L"The metadata and colour profile of the opened picture could not be kept, and its file has been moved, "
         L"changed or deleted since. Save the picture without them?"},
    {89, L"This picture is too large to open: it has more than 180 megapixels."},
    {93, L"This is a folder or a device, not a picture file."},
    {94, L"Ctrl"},
    {95, L"Menu"},
    {96, L"-denoised"},
    {97, L"The picture could not be written:"},
    {98, L"All files"},
    {99, L"All supported pictures"},
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
