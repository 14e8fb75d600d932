// The Smudge dialog: Details, Prolongation and Sigma sliders with their values.
#include "dialogs/param_sliders.h"

#include "engines/smudge/smudge.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

const ParamSlider kSliders[] = {
    {&kSmudgeParams[kSmudgeDetails], IDC_SMUDGE_DETAILS, IDC_SMUDGE_DETAILS_VALUE},
    {&kSmudgeParams[kSmudgeProlongation], IDC_SMUDGE_PROLONGATION, IDC_SMUDGE_PROLONGATION_VALUE},
    {&kSmudgeParams[kSmudgeSigma], IDC_SMUDGE_SIGMA, IDC_SMUDGE_SIGMA_VALUE},
};

void Open(HWND dialog, RepaintFrame&) {
    for (const ParamSlider& control : kSliders) SetupParamSlider(dialog, control);
    SetLanguageTexts(dialog, {{IDC_SMUDGE_DETAILS_LABEL, kSmudgeDetailsEntry},
                              {IDC_SMUDGE_PROLONGATION_LABEL, kProlongationEntry},
                              {IDC_SMUDGE_SIGMA_LABEL, kSigmaEntry},
                              {IDOK, kOkEntry},
                              {IDCANCEL, kCancelEntry},
                              {IDC_ABORT, kAbortEntry},
                              {IDC_PREVIEW, kPreviewEntry}});
}

void SliderMoved(HWND dialog, int id, int position) {
    StoreParamSlider(dialog, kSliders, id, position);
}

bool Command(HWND, RepaintFrame&, int id, int) { return id == IDC_ABORT; }

PreviewTask PreparePreview(RepaintFrame&) {
    const SmudgeParams params = SmudgeParamsFromPositions(SettingPositions(kSmudgeParams));
    return [params](SBxPicBuf& out, const SBxPicBuf& in) { SmudgeRepaint(out, in, params); };
}

void EnableForRun(HWND dialog, bool enable) {
    EnableControls(dialog,
                   {IDC_SMUDGE_DETAILS, IDC_SMUDGE_PROLONGATION, IDC_SMUDGE_SIGMA, IDOK, IDCANCEL,
                    IDC_SMUDGE_DETAILS_VALUE, IDC_SMUDGE_PROLONGATION_VALUE, IDC_SMUDGE_SIGMA_VALUE},
                   enable);
}

// From the start position 1 the engine's steps fill the bar exactly.
void PrepareRun(RepaintFrame& frame, int& maximum, int& start) {
    start = 1;
    maximum = start + SmudgeProgressTotal(*frame.loaded);
}

}  // namespace

const MethodDialog kSmudgeDialog = {IDD_SMUDGE, UM_START_SMUDGE, Open, SliderMoved, Command,
                                    PreparePreview, EnableForRun, PrepareRun};

INT_PTR CALLBACK SmudgeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return RepaintFrameProc(kSmudgeDialog, dialog, message, wParam, lParam);
}
