// The Redraw dialog: Details and Cut sliders for the edges, the "Import
// Edges To Image" box and the colour level. The preview keeps the edge plane
// of the whole picture, so only a change of Details makes it again.
#include "dialogs/param_sliders.h"

#include "engines/redraw/redraw.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

const int kFirstLevelEntry = kRoughQuantizationEntry;  // "Rough Quantization" .. "Original Image"

const ParamSlider kSliders[] = {
    {&kRedrawParams[kRedrawDetails], IDC_REDRAW_DETAILS, IDC_REDRAW_DETAILS_VALUE},
    {&kRedrawParams[kRedrawCut], IDC_REDRAW_CUT, IDC_REDRAW_CUT_VALUE},
};

void Open(HWND dialog, RepaintFrame&) {
    for (const ParamSlider& control : kSliders) SetupParamSlider(dialog, control);
    // Checked exactly when the run burns the strokes in.
    CheckDlgButton(dialog, IDC_REDRAW_FUSE, uiFuseToImage > 0 ? BST_CHECKED : BST_UNCHECKED);
    EnableControls(dialog, {IDC_REDRAW_LEVEL}, uiFuseToImage > 0);
    SendDlgItemMessageW(dialog, IDC_REDRAW_LEVEL, CB_RESETCONTENT, 0, 0);
    for (int level = 0; level < kRedrawLevelCount; ++level)
        SendDlgItemMessageW(dialog, IDC_REDRAW_LEVEL, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(Lang(kFirstLevelEntry + level)));
    SendDlgItemMessageW(dialog, IDC_REDRAW_LEVEL, CB_SETCURSEL, uiQuantization, 0);
    SetLanguageTexts(dialog, {{IDC_REDRAW_EDGES_GROUP, kEdgesGroupEntry},
                              {IDC_REDRAW_COLORS_GROUP, kColorsGroupEntry},
                              {IDC_REDRAW_DETAILS_LABEL, kRedrawDetailsEntry},
                              {IDC_REDRAW_CUT_LABEL, kCutEntry},
                              {IDC_REDRAW_FUSE, kImportEdgesEntry},
                              {IDOK, kOkEntry},
                              {IDCANCEL, kCancelEntry},
                              {IDC_ABORT, kAbortEntry},
                              {IDC_PREVIEW, kPreviewEntry}});
}

void SliderMoved(HWND dialog, int id, int position) {
    StoreParamSlider(dialog, kSliders, id, position);
}

bool Command(HWND dialog, RepaintFrame& frame, int id, int code) {
    if (id == IDC_REDRAW_FUSE && code == BN_CLICKED) {
        uiFuseToImage = IsChecked(dialog, id) ? 1 : 0;
        EnableControls(dialog, {IDC_REDRAW_LEVEL}, uiFuseToImage > 0);
    } else if (id == IDC_REDRAW_LEVEL && code == CBN_SELCHANGE) {
        uiQuantization = static_cast<int32_t>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
    } else if (id == IDC_ABORT) {
        if (frame.redrawCache) frame.redrawCache->details = 0;  // the next preview makes the edges again
        return true;
    } else {
        return id == IDC_REDRAW_LEVEL;  // other notifications of the level box
    }
    RequestPreview(dialog);
    return true;
}

// The edge plane of the whole picture is made here when Details changed:
// the thread owns the cache while it runs.
PreviewTask PreparePreview(RepaintFrame& frame) {
    const RedrawParams params = RedrawParamsFromPositions(SettingPositions(kRedrawParams));
    const CBxRect region = frame.previewRect;
    const SBxPicBuf* loaded = frame.loaded;
    if (!frame.redrawCache) frame.redrawCache = std::make_shared<RedrawPreviewCache>();
    std::shared_ptr<RedrawPreviewCache> cache = frame.redrawCache;
    return [params, region, loaded, cache](SBxPicBuf& out, const SBxPicBuf&) {
        RedrawPreview(out, *loaded, region, params, *cache);
    };
}

// The level box follows "Import Edges To Image" again after a run.
void EnableForRun(HWND dialog, bool enable) {
    EnableControls(dialog,
                   {IDC_REDRAW_DETAILS, IDC_REDRAW_CUT, IDC_REDRAW_FUSE, IDOK, IDCANCEL, IDC_REDRAW_DETAILS_VALUE,
                    IDC_REDRAW_CUT_VALUE},
                   enable);
    EnableControls(dialog, {IDC_REDRAW_LEVEL}, enable && uiFuseToImage > 0);
}

// The run reports exactly the maximum, starting from 1: the bar is full one
// step before the end.
void PrepareRun(RepaintFrame& frame, int& maximum, int& start) {
    if (frame.redrawCache) ReleaseRedrawPreviewCache(*frame.redrawCache);
    maximum = RedrawProgressTotal(frame.loaded->components);
    start = 1;
}

}  // namespace

const MethodDialog kRedrawDialog = {IDD_REDRAW, UM_START_REDRAW, Open, SliderMoved, Command,
                                    PreparePreview, EnableForRun, PrepareRun};

INT_PTR CALLBACK RedrawDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RepaintFrameProc(kRedrawDialog, dialog, message, wParam, lParam);
}
