// The Smudge dialog: Details, Prolongation and Sigma sliders with their values.
#include "dialogs/repaint_frame.h"

#include "engines/smudge/smudge.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

const int kValueControls[][2] = {{IDC_SMUDGE_DETAILS, IDC_SMUDGE_DETAILS_VALUE},
                                 {IDC_SMUDGE_PROLONGATION, IDC_SMUDGE_PROLONGATION_VALUE},
                                 {IDC_SMUDGE_SIGMA, IDC_SMUDGE_SIGMA_VALUE}};

int32_t* SettingOf(int slider) {
    switch (slider) {
    case IDC_SMUDGE_DETAILS: return &uiDetails;
    case IDC_SMUDGE_PROLONGATION: return &uiProlongation;
    case IDC_SMUDGE_SIGMA: return &uiSigma;
    }
    return nullptr;
}

void ShowValue(HWND dialog, int slider) {
    for (const auto& pair : kValueControls)
        if (pair[0] == slider) SetNumberText(dialog, pair[1], "%.0f", *SettingOf(slider));
}

void Open(HWND dialog, RepaintFrame&) {
    SetupSlider(dialog, IDC_SMUDGE_DETAILS, kSmudgeDetailsMin, kSmudgeDetailsMax, uiDetails);
    SetupSlider(dialog, IDC_SMUDGE_PROLONGATION, kSmudgeProlongationMin, kSmudgeProlongationMax, uiProlongation);
    SetupSlider(dialog, IDC_SMUDGE_SIGMA, kSmudgeSigmaMin, kSmudgeSigmaMax, uiSigma);
    for (const auto& pair : kValueControls) ShowValue(dialog, pair[0]);
    SetLanguageTexts(dialog, {{IDC_SMUDGE_DETAILS_LABEL, kSmudgeDetailsEntry},
                              {IDC_SMUDGE_PROLONGATION_LABEL, kProlongationEntry},
                              {IDC_SMUDGE_SIGMA_LABEL, kSigmaEntry},
                              {IDOK, kOkEntry},
                              {IDCANCEL, kCancelEntry},
                              {IDC_ABORT, kAbortEntry},
                              {IDC_PREVIEW, kPreviewEntry}});
}

void SliderMoved(HWND dialog, int id, int position) {
    if (int32_t* setting = SettingOf(id)) *setting = position;
    ShowValue(dialog, id);
}

bool Command(HWND, RepaintFrame&, int id, int) { return id == IDC_ABORT; }

PreviewTask PreparePreview(RepaintFrame&) {
    const SmudgeArguments a = SmudgeArgumentsFromSliders(static_cast<float>(uiDetails),
                                                         static_cast<float>(uiProlongation), static_cast<float>(uiSigma));
    return [a](SBxPicBuf& out, const SBxPicBuf& in) { SmudgeRepaint(out, in, a.sharpness, a.alpha, a.sigma); };
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
