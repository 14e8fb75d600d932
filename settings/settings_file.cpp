// The settings file: section "General" of an INI text in the user's roaming
// application-data folder. Read when the main window is created, written
// back when it is destroyed; the crash marker is "1" in between.
#include "settings.h"

#include <shlobj.h>

#include <algorithm>

#include "engines/original/original.h"
#include "engines/redraw/redraw.h"
#include "engines/smudge/smudge.h"
#include "picbuf/image_file.h"

int32_t uiFuseToImage;
int32_t uiEdgeDetails;
int32_t uiEdgeCut;
int32_t uiQuantization;
int32_t uiDetails;
int32_t uiProlongation;
int32_t uiSigma;
int32_t uiCycles;
int32_t uiSmoothAlpha;
int32_t uiLocality;
int32_t uiRelaxation;
int32_t uiDoShock;
int32_t uiDoLoG;
int32_t uiDoWeickert;
int32_t uiFlatten;
int32_t uiLoGPower;
int32_t uiWeickertPower;
int32_t jpegSetting = kJpegQualityAtLoad;
bool crashedLastTime;

namespace {

const WCHAR kSection[] = L"General";
const WCHAR kProduct[] = L"Ostrivel";
const WCHAR kCrashKey[] = L"Crashed Last Time";

struct SettingsKey {
    const WCHAR* name;
    int32_t defaultValue;
    int32_t* value;
    // A loaded value is held to its control's range, so a damaged or edited
    // file never reaches an engine and heals at the next exit.
    int32_t minimum, maximum;
};

// uiLocality, uiDoWeickert, uiWeickertPower and uiCycles are only carried
// for older settings files: no engine or control reads them, and they keep
// whatever they hold (kAnyMin to kAnyMax; a run of Original stores 10 in
// uiCycles). The other keys' names are the old ones too; in
// the dialogs' words uiDoShock is "flatten on", uiDoLoG "sharpen on",
// uiRelaxation "weak edges" and uiSmoothAlpha "smoothness".
const int32_t kAnyMin = INT32_MIN, kAnyMax = INT32_MAX;

// A repaint parameter's key, default and range come from its method's table.
constexpr SettingsKey ParamKey(const MethodParam& param, int32_t* value) {
    return {param.settingsKey, param.defaultPosition, value, param.minimum, param.maximum};
}

// Read and written in this order.
const SettingsKey kUiKeys[] = {
    ParamKey(kRedrawParams[kRedrawFuse], &uiFuseToImage),
    ParamKey(kRedrawParams[kRedrawDetails], &uiEdgeDetails),
    ParamKey(kRedrawParams[kRedrawCut], &uiEdgeCut),
    ParamKey(kRedrawParams[kRedrawLevel], &uiQuantization),
    ParamKey(kSmudgeParams[kSmudgeDetails], &uiDetails),
    ParamKey(kSmudgeParams[kSmudgeProlongation], &uiProlongation),
    ParamKey(kSmudgeParams[kSmudgeSigma], &uiSigma),
    {L"uiCycles", 5, &uiCycles, kAnyMin, kAnyMax},
    ParamKey(kOriginalParams[kOriginalSmoothness], &uiSmoothAlpha),
    {L"uiLocality", 5, &uiLocality, kAnyMin, kAnyMax},
    ParamKey(kOriginalParams[kOriginalWeakEdges], &uiRelaxation),
    ParamKey(kOriginalParams[kOriginalFlatten], &uiDoShock),
    ParamKey(kOriginalParams[kOriginalSharpen], &uiDoLoG),
    {L"uiDoWeickert", 0, &uiDoWeickert, kAnyMin, kAnyMax},
    ParamKey(kOriginalParams[kOriginalFlattenLevel], &uiFlatten),
    ParamKey(kOriginalParams[kOriginalSharpenStrength], &uiLoGPower),
    {L"uiWeickertPower", 10, &uiWeickertPower, kAnyMin, kAnyMax},
};

}  // namespace

bool SettingsFilePath(WCHAR path[MAX_PATH]) {
    path[0] = 0;
    WCHAR folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return false;
    // folder \ Ostrivel \ Ostrivel.txt must fit, terminator included.
    if (lstrlenW(folder) + 2 * lstrlenW(kProduct) + 6 >= MAX_PATH) return false;
    wsprintfW(path, L"%s\\%s", folder, kProduct);
    CreateDirectoryW(path, nullptr);  // an existing folder is fine
    wsprintfW(path, L"%s\\%s\\%s.txt", folder, kProduct, kProduct);
    return true;
}

int32_t ParseSettingsInt(const WCHAR* text) {
    const WCHAR* p = text;
    while (*p == L' ' || *p == L'\t') ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
    int64_t value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + (*p - L'0');
        if (value > INT32_MAX) value = int64_t(INT32_MAX) + 1;  // held just past the limit
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

int32_t ReadSettingsInt(const WCHAR* key, const WCHAR* defaultValue) {
    WCHAR path[MAX_PATH];
    if (!SettingsFilePath(path)) return ParseSettingsInt(defaultValue);
    WCHAR text[LANGUAGE_TEXT_SIZE];
    GetPrivateProfileStringW(kSection, key, defaultValue, text, LANGUAGE_TEXT_SIZE, path);
    return ParseSettingsInt(text);
}

void WriteSettingsInt(const WCHAR* key, int32_t value) {
    WCHAR path[MAX_PATH];
    if (!SettingsFilePath(path)) return;
    WCHAR text[16];
    wsprintfW(text, L"%i", value);
    WritePrivateProfileStringW(kSection, key, text, path);  // a failed write is ignored
}

void LoadSettings() {
    LoadLanguageList();
    crashedLastTime = ReadSettingsInt(kCrashKey, L"0") != 0;
    WriteSettingsInt(kCrashKey, 1);
    for (const SettingsKey& key : kUiKeys) {
        WCHAR defaultValue[16];
        wsprintfW(defaultValue, L"%d", key.defaultValue);
        *key.value = std::clamp(ReadSettingsInt(key.name, defaultValue), key.minimum, key.maximum);
    }
    WCHAR atLoad[16];
    wsprintfW(atLoad, L"%d", kJpegQualityAtLoad);
    jpegSetting = ReadSettingsInt(L"jpeg", atLoad);
    if (jpegSetting < 20) jpegSetting = kJpegQualityAtLoad;
}

int32_t& SettingOf(const MethodParam& param) {
    for (const SettingsKey& key : kUiKeys)
        if (lstrcmpW(key.name, param.settingsKey) == 0) return *key.value;
    static int32_t unknown;  // a table without a settings key; not reached
    return unknown;
}

void SaveSettings() {
    WriteSettingsInt(kCrashKey, 0);
    for (const SettingsKey& key : kUiKeys) WriteSettingsInt(key.name, *key.value);
}
