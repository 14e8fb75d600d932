// A repaint method's parameter on its dialog: the slider, which moves over
// the positions the settings store, and the value text beside it, which
// shows what the engine receives. Range, text format and setting all come
// from the method's parameter table.
#pragma once

#include <windows.h>

#include "dialogs/repaint_frame.h"
#include "engines/method_params.h"
#include "settings/settings.h"

struct ParamSlider {
    const MethodParam* param;
    int slider;
    int valueText;
};

inline void ShowParamValue(HWND dialog, const ParamSlider& control) {
    SetDlgItemTextA(dialog, control.valueText, ParamText(*control.param, SettingOf(*control.param)).c_str());
}

// The slider's range and stored position, and the value text.
inline void SetupParamSlider(HWND dialog, const ParamSlider& control) {
    SetupSlider(dialog, control.slider, control.param->minimum, control.param->maximum, SettingOf(*control.param));
    ShowParamValue(dialog, control);
}

// Slider `id` stands at `position`: its setting takes it and the value text
// follows. False when id is none of the controls.
template <size_t N>
bool StoreParamSlider(HWND dialog, const ParamSlider (&controls)[N], int id, int position) {
    for (const ParamSlider& control : controls) {
        if (control.slider != id) continue;
        SettingOf(*control.param) = position;
        ShowParamValue(dialog, control);
        return true;
    }
    return false;
}
