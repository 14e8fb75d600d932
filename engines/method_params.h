// One parameter of a repaint method, declared once beside its engine: the
// dialog's slider (or box) and value text, the settings key and default, and
// the command-line tool's option and --help all read the declaration. The
// settings file and the sliders hold positions; the dialog shows, and the
// tool takes, the value the engine receives for a position.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

struct MethodParam {
    const char* option;          // the tool's option, without the dashes
    const wchar_t* settingsKey;  // the settings file's key; it stores the position
    int minimum, maximum, defaultPosition;  // slider positions; a switch is 0 or 1, a level its index
    float scale, divisor, offset;  // value = position x scale / divisor + offset, in single precision
    int decimals;                // the value text shows this many decimals
    const char* help;
};

inline float ParamValue(const MethodParam& param, int position) {
    return static_cast<float>(position) * param.scale / param.divisor + param.offset;
}

// The positions a fresh settings file holds, in the table's order.
template <size_t N>
std::vector<int> DefaultPositions(const MethodParam (&params)[N]) {
    std::vector<int> positions;
    for (const MethodParam& param : params) positions.push_back(param.defaultPosition);
    return positions;
}

// The value of a position as the dialog shows it ("%.2f" for two decimals).
inline std::string ParamText(const MethodParam& param, int position) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", param.decimals, static_cast<double>(ParamValue(param, position)));
    return text;
}

// The value one position step adds.
inline float ParamStep(const MethodParam& param) {
    return param.scale / param.divisor;
}

// The position that `text` names: a decimal number equal to a position's
// value as the dialog shows it, or to the value itself (0.12 or 0.125 for a
// value shown as "0.12"). False for anything else: other numbers, numbers
// outside the range, blanks, signs of plus, exponents or names.
inline bool ParamPosition(const MethodParam& param, const std::string& text, int& position) {
    if (text.empty() || text.find_first_not_of("-.0123456789") != std::string::npos) return false;
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(number)) return false;
    const double nearest = std::round((number - param.offset) / ParamStep(param));
    if (nearest < param.minimum - 1.0 || nearest > param.maximum + 1.0) return false;
    for (int p = static_cast<int>(nearest) - 1; p <= static_cast<int>(nearest) + 1; ++p) {
        if (p < param.minimum || p > param.maximum) continue;
        const double value = ParamValue(param, p);
        if (std::fabs(number - std::strtod(ParamText(param, p).c_str(), nullptr)) < 1e-9 ||
            std::fabs(number - value) <= 1e-6 * std::fmax(1.0, std::fabs(value))) {
            position = p;
            return true;
        }
    }
    return false;
}
