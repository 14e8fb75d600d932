#include "cli/methods.h"

#include <iterator>

#include "engines/original/original.h"
#include "engines/redraw/redraw.h"
#include "engines/smudge/smudge.h"

namespace {

void RunSmudge(SBxPicBuf& result, const SBxPicBuf& source, const std::vector<int>& positions) {
    SmudgeRepaint(result, source, SmudgeParamsFromPositions(positions));
}

void RunOriginal(SBxPicBuf& result, const SBxPicBuf& source, const std::vector<int>& positions) {
    OriginalRepaint(result, source, OriginalParamsFromPositions(positions));
}

int OriginalTotal(const SBxPicBuf& source) {
    return OriginalProgressTotal(source.width, source.height);
}

void RunRedraw(SBxPicBuf& result, const SBxPicBuf& source, const std::vector<int>& positions) {
    RedrawRepaint(result, source, RedrawParamsFromPositions(positions));
}

int RedrawTotal(const SBxPicBuf& source) {
    return RedrawProgressTotal(source.components);
}

std::string RedrawLevelNotes() {
    std::string notes = "Levels of --level:\n";
    for (int level = 0; level < kRedrawLevelCount; ++level)
        notes += "  " + std::to_string(level) + "  " + kRedrawLevelNames[level] + "\n";
    return notes;
}

template <size_t N>
std::vector<MethodParam> Options(const MethodParam (&params)[N]) {
    return {std::begin(params), std::end(params)};
}

}  // namespace

const std::vector<RepaintMethod>& RepaintMethods() {
    static const std::vector<RepaintMethod> methods = {
        {"original",
         "smooths colour along the flow lines of the picture's edges, optionally flattening and sharpening",
         Options(kOriginalParams), "", RunOriginal, OriginalTotal, 96e6, 20},
        {"smudge", "smears colour along the picture's structure, like brush strokes", Options(kSmudgeParams), "",
         RunSmudge, SmudgeProgressTotal, 48e6, 24},
        {"redraw", "draws pen strokes along the edges, optionally burnt into a colour-reduced picture",
         Options(kRedrawParams), RedrawLevelNotes(), RunRedraw, RedrawTotal, 32e6, 48},
    };
    return methods;
}

double PeakMemoryEstimate(const RepaintMethod& method, int64_t width, int64_t height) {
    return method.fixedBytes + method.bytesPerPixel * double(width) * double(height);
}
