// The repaint methods the command-line tool offers: their options (as the
// editor's slider positions, with the editor's defaults and ranges) and how
// each runs its engine.
#pragma once

#include <string>
#include <vector>

#include "picbuf/picbuf.h"

struct MethodOption {
    std::string name;  // without the leading dashes
    int defaultValue;
    int minimum;
    int maximum;
    std::string help;
};

struct RepaintMethod {
    std::string name;
    std::string summary;
    std::vector<MethodOption> options;
    // Extra lines for --help (for example the names of numbered levels).
    std::string notes;
    // Fills result (allocated like source) from source; values follow options.
    void (*run)(SBxPicBuf& result, const SBxPicBuf& source, const std::vector<int>& values);
    // Progress steps the engine reports for this picture and these values.
    int (*progressTotal)(const SBxPicBuf& source, const std::vector<int>& values);
};

const std::vector<RepaintMethod>& RepaintMethods();
