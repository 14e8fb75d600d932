// The Original dialog: smoothness and weak-edge sliders, flattening and
// border sharpening each switched by a check box with its own slider, and
// the Default button.
#include "dialogs/param_sliders.h"
#include "dialogs/repaint_frame.h"

#include "engines/engine_common.h"
#include "engines/original/original.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

const ParamSlider kSliders[] = {
    {&kOriginalParams[kOriginalSmoothness], IDC_ORIG_SMOOTHNESS, IDC_ORIG_SMOOTHNESS_VALUE},
    {&kOriginalParams[kOriginalWeakEdges], IDC_ORIG_WEAK_EDGES, IDC_ORIG_WEAK_EDGES_VALUE},
    {&kOriginalParams[kOriginalFlattenLevel], IDC_ORIG_FLATTEN, IDC_ORIG_FLATTEN_VALUE},
    {&kOriginalParams[kOriginalSharpenStrength], IDC_ORIG_SHARPEN, IDC_ORIG_SHARPEN_VALUE},
};

// What Default sets, in the order of kOriginalParams: a strong painting
// with both steps on.
const int kDefaultButtonPositions[kOriginalParamCount] = {14, 5, 1, 4, 1, 5};

// A step's slider and value text follow its check box.
void EnableSteps(HWND dialog) {
    EnableControls(dialog, {IDC_ORIG_FLATTEN, IDC_ORIG_FLATTEN_VALUE}, IsChecked(dialog, IDC_ORIG_FLATTEN_ON));
    EnableControls(dialog, {IDC_ORIG_SHARPEN, IDC_ORIG_SHARPEN_VALUE}, IsChecked(dialog, IDC_ORIG_SHARPEN_ON));
}

// The check boxes and sliders from the settings.
void SetControls(HWND dialog) {
    CheckDlgButton(dialog, IDC_ORIG_FLATTEN_ON, uiDoShock != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_ORIG_SHARPEN_ON, uiDoLoG != 0 ? BST_CHECKED : BST_UNCHECKED);
    EnableSteps(dialog);
    for (const ParamSlider& control : kSliders) SetupParamSlider(dialog, control);
}

void Open(HWND dialog, RepaintFrame&) {
    SetControls(dialog);
    SetLanguageTexts(dialog, {{IDC_ORIG_SMOOTHING_GROUP, kSmoothingGroupEntry},
                              {IDC_ORIG_SMOOTHNESS_LABEL, kSmoothnessEntry},
                              {IDC_ORIG_WEAK_EDGES_LABEL, kWeakEdgesEntry},
                              {IDC_ORIG_SHARPENING_GROUP, kSharpeningGroupEntry},
                              {IDC_ORIG_FLATTEN_ON, kFlattenOnEntry},
                              {IDC_ORIG_SHARPEN_ON, kSharpenOnEntry},
                              {IDC_PREVIEW, kPreviewEntry},
                              {IDC_ORIG_DEFAULT, kDefaultButtonEntry},
                              {IDOK, kOkEntry},
                              {IDCANCEL, kCancelEntry},
                              {IDC_ABORT, kAbortEntry}});
}

void SliderMoved(HWND dialog, int id, int position) {
    StoreParamSlider(dialog, kSliders, id, position);
}

// The preview of the new settings starts before the controls follow them:
// they are drawn while its engine works.
void Default(HWND dialog) {
    for (int i = 0; i < kOriginalParamCount; ++i) SettingOf(kOriginalParams[i]) = kDefaultButtonPositions[i];
    RequestPreview(dialog);
    SetControls(dialog);
    for (const ParamSlider& control : kSliders) InvalidateRect(GetDlgItem(dialog, control.slider), nullptr, TRUE);
}

bool Command(HWND dialog, RepaintFrame&, int id, int code) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_ORIG_FLATTEN_ON: uiDoShock = IsChecked(dialog, id) ? 1 : 0; break;
    case IDC_ORIG_SHARPEN_ON: uiDoLoG = IsChecked(dialog, id) ? 1 : 0; break;
    case IDC_ORIG_DEFAULT: Default(dialog); return true;
    case IDC_ABORT: return true;
    default: return false;
    }
    EnableSteps(dialog);
    RequestPreview(dialog);
    return true;
}

PreviewTask PreparePreview(RepaintFrame&) {
    const OriginalParams params = OriginalParamsFromPositions(SettingPositions(kOriginalParams));
    return [params](SBxPicBuf& out, const SBxPicBuf& in) { OriginalRepaint(out, in, params); };
}

void EnableForRun(HWND dialog, bool enable) {
    EnableControls(dialog,
                   {IDC_ORIG_SMOOTHNESS, IDC_ORIG_WEAK_EDGES, IDC_ORIG_FLATTEN_ON, IDC_ORIG_SHARPEN_ON,
                    IDC_ORIG_DEFAULT, IDOK, IDCANCEL, IDC_ORIG_SMOOTHNESS_VALUE, IDC_ORIG_WEAK_EDGES_VALUE,
                    IDC_PREVIEW},
                   enable);
    if (enable)
        EnableSteps(dialog);
    else
        EnableControls(dialog, {IDC_ORIG_FLATTEN, IDC_ORIG_SHARPEN, IDC_ORIG_FLATTEN_VALUE, IDC_ORIG_SHARPEN_VALUE},
                       false);
}

void PrepareRun(RepaintFrame& frame, int& maximum, int& start) {
    uiCycles = 10;
    const int width = frame.loaded->width, height = frame.loaded->height;
    // One step per tile more than the engine reports: a finished run leaves
    // the bar one step short per tile.
    maximum = OriginalProgressTotal(width, height) + RepaintTileCount(width, height);
    start = 0;
}

}  // namespace

const MethodDialog kOriginalDialog = {IDD_ORIGINAL, UM_START_ORIGINAL, Open, SliderMoved, Command,
                                      PreparePreview, EnableForRun, PrepareRun};

INT_PTR CALLBACK OriginalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RepaintFrameProc(kOriginalDialog, dialog, message, wParam, lParam);
}
