// The repaint methods the command-line tool offers: their options (as the
// editor's slider positions, with the editor's defaults and ranges) and how
// each runs its engine.
#pragma once

#include <cstdint>
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
    // Peak memory of a run, measured (peak resident size of the tool on
    // colour pictures of 1 and 4 megapixels, with some margin): fixed bytes
    // plus bytes per pixel, reading the file included.
    double fixedBytes;
    double bytesPerPixel;
};

// The peak memory a run of method over a picture of this size is expected to take.
double PeakMemoryEstimate(const RepaintMethod& method, int64_t width, int64_t height);

const std::vector<RepaintMethod>& RepaintMethods();
