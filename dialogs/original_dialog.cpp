// The Original dialog: smoothness and weak-edge sliders, flattening and
// border sharpening each switched by a check box with its own slider, and
// the Default button.
#include "dialogs/repaint_frame.h"

#include "engines/engine_common.h"
#include "engines/original/original.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

OriginalParams ParamsFromSettings() {
    return OriginalParamsFromSliders(uiSmoothAlpha, uiRelaxation, uiDoShock, uiFlatten, uiDoLoG, uiLoGPower);
}

// The value texts show what the engine receives, not the slider positions.
void ShowValues(HWND dialog) {
    const OriginalParams p = ParamsFromSettings();
    SetNumberText(dialog, IDC_ORIG_SMOOTHNESS_VALUE, "%.2f", p.smoothness);
    SetNumberText(dialog, IDC_ORIG_WEAK_EDGES_VALUE, "%.0f", p.edgeThreshold);
    SetNumberText(dialog, IDC_ORIG_FLATTEN_VALUE, "%.2f", p.flattenLevel);
    SetNumberText(dialog, IDC_ORIG_SHARPEN_VALUE, "%.0f", p.sharpenStrength);
}

// A step's slider and value text follow its check box.
void EnableSteps(HWND dialog) {
    EnableControls(dialog, {IDC_ORIG_FLATTEN, IDC_ORIG_FLATTEN_VALUE}, IsChecked(dialog, IDC_ORIG_FLATTEN_ON));
    EnableControls(dialog, {IDC_ORIG_SHARPEN, IDC_ORIG_SHARPEN_VALUE}, IsChecked(dialog, IDC_ORIG_SHARPEN_ON));
}

void SetSliders(HWND dialog) {
    SetupSlider(dialog, IDC_ORIG_SMOOTHNESS, kSmoothnessSliderMin, kSmoothnessSliderMax, uiSmoothAlpha);
    SetupSlider(dialog, IDC_ORIG_WEAK_EDGES, kWeakEdgeSliderMin, kWeakEdgeSliderMax, uiRelaxation);
    SetupSlider(dialog, IDC_ORIG_FLATTEN, kFlattenSliderMin, kFlattenSliderMax, uiFlatten);
    SetupSlider(dialog, IDC_ORIG_SHARPEN, kSharpenSliderMin, kSharpenSliderMax, uiLoGPower);
    ShowValues(dialog);
}

void Open(HWND dialog, RepaintFrame&) {
    CheckDlgButton(dialog, IDC_ORIG_FLATTEN_ON, uiDoShock != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_ORIG_SHARPEN_ON, uiDoLoG != 0 ? BST_CHECKED : BST_UNCHECKED);
    EnableSteps(dialog);
    SetSliders(dialog);
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
    switch (id) {
    case IDC_ORIG_SMOOTHNESS: uiSmoothAlpha = position; break;
    case IDC_ORIG_WEAK_EDGES: uiRelaxation = position; break;
    case IDC_ORIG_FLATTEN: uiFlatten = position; break;
    case IDC_ORIG_SHARPEN: uiLoGPower = position; break;
    }
    ShowValues(dialog);
}

void Default(HWND dialog) {
    uiDoShock = 1;
    uiDoLoG = 1;
    CheckDlgButton(dialog, IDC_ORIG_FLATTEN_ON, BST_CHECKED);
    CheckDlgButton(dialog, IDC_ORIG_SHARPEN_ON, BST_CHECKED);
    EnableSteps(dialog);
    uiSmoothAlpha = 14;
    uiRelaxation = 5;
    uiFlatten = 4;
    uiLoGPower = 5;
    SetSliders(dialog);
    for (int id : {IDC_ORIG_SMOOTHNESS, IDC_ORIG_WEAK_EDGES, IDC_ORIG_FLATTEN, IDC_ORIG_SHARPEN})
        InvalidateRect(GetDlgItem(dialog, id), nullptr, TRUE);
}

bool Command(HWND dialog, RepaintFrame&, int id, int code) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_ORIG_FLATTEN_ON: uiDoShock = IsChecked(dialog, id) ? 1 : 0; break;
    case IDC_ORIG_SHARPEN_ON: uiDoLoG = IsChecked(dialog, id) ? 1 : 0; break;
    case IDC_ORIG_DEFAULT: Default(dialog); break;
    case IDC_ABORT: return true;
    default: return false;
    }
    EnableSteps(dialog);
    RequestPreview(dialog);
    return true;
}

PreviewTask PreparePreview(RepaintFrame&) {
    const OriginalParams params = ParamsFromSettings();
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
