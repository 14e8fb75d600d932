// The repaint methods the command-line tool offers: their options (each
// method's parameter table, whose values the editor's dialog shows) and how
// each runs its engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engines/method_params.h"
#include "picbuf/picbuf.h"

struct RepaintMethod {
    std::string name;
    std::string summary;
    std::vector<MethodParam> options;
    // Extra lines for --help (for example the names of numbered levels).
    std::string notes;
    // Fills result (allocated like source) from source; positions follow options.
    void (*run)(SBxPicBuf& result, const SBxPicBuf& source, const std::vector<int>& positions);
    // Progress steps the engine reports for this picture.
    int (*progressTotal)(const SBxPicBuf& source);
    // Peak memory of a run, measured (peak resident size of the tool on
    // colour pictures of 1 and 4 megapixels, with some margin): fixed bytes
    // plus bytes per pixel, reading the file included.
    double fixedBytes;
    double bytesPerPixel;
};

// The peak memory a run of method over a picture of this size is expected to take.
double PeakMemoryEstimate(const RepaintMethod& method, int64_t width, int64_t height);

const std::vector<RepaintMethod>& RepaintMethods();
