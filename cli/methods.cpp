#include "cli/methods.h"

#include "engines/original/original.h"
#include "engines/redraw/redraw.h"
#include "engines/smudge/smudge.h"

namespace {

void RunSmudge(SBxPicBuf& result, const SBxPicBuf& source, const std::vector<int>& v) {
    SmudgeArguments arguments = SmudgeArgumentsFromSliders(static_cast<float>(v[0]), static_cast<float>(v[1]),
                                                           static_cast<float>(v[2]));
    SmudgeRepaint(result, source, arguments.sharpness, arguments.alpha, arguments.sigma);
}

int SmudgeTotal(const SBxPicBuf& source, const std::vector<int>&) {
    return SmudgeProgressTotal(source);
}

void RunOriginal(SBxPicBuf& result, const SBxPicBuf& source, const std::vector<int>& v) {
    OriginalParams params = OriginalParamsFromSliders(v[0], v[1], v[2], v[3], v[4], v[5]);
    OriginalRepaint(result, source, params);
}

int OriginalTotal(const SBxPicBuf& source, const std::vector<int>&) {
    return OriginalProgressTotal(source.width, source.height);
}

void RunRedraw(SBxPicBuf& result, const SBxPicBuf& source, const std::vector<int>& v) {
    RedrawJob job{};
    FillRedrawJob(job, v[0], v[1], v[2], v[3]);
    job.source = const_cast<SBxPicBuf*>(&source);  // read only
    job.result = &result;
    RedrawRepaint(job);
}

int RedrawTotal(const SBxPicBuf& source, const std::vector<int>&) {
    return RedrawProgressTotal(source.components);
}

std::string RedrawLevelNotes() {
    std::string notes = "Levels of --level:\n";
    for (int level = 0; level < kRedrawLevelCount; ++level)
        notes += "  " + std::to_string(level) + "  " + kRedrawLevelNames[level] + "\n";
    return notes;
}

}  // namespace

const std::vector<RepaintMethod>& RepaintMethods() {
    static const std::vector<RepaintMethod> methods = {
        {"original",
         "smooths colour along the flow lines of the picture's edges, optionally flattening and sharpening",
         {
             {"smoothness", kSmoothnessSliderDefault, kSmoothnessSliderMin, kSmoothnessSliderMax,
              "how far colour is smoothed along the flow lines"},
             {"weak-edges", kWeakEdgeSliderDefault, kWeakEdgeSliderMin, kWeakEdgeSliderMax,
              "structure weaker than this follows its stronger surroundings"},
             {"flatten", kFlattenSwitchDefault, 0, 1, "1 flattens colour areas towards their borders"},
             {"flatten-level", kFlattenSliderDefault, kFlattenSliderMin, kFlattenSliderMax,
              "how strong a border must be to be flattened towards"},
             {"sharpen", kSharpenSwitchDefault, 0, 1, "1 sharpens the borders"},
             {"sharpen-strength", kSharpenSliderDefault, kSharpenSliderMin, kSharpenSliderMax,
              "strength of the border sharpening"},
         },
         "",
         RunOriginal,
         OriginalTotal,
         96e6,
         20},
        {"smudge",
         "smears colour along the picture's structure, like brush strokes",
         {
             {"details", 10, kSmudgeDetailsMin, kSmudgeDetailsMax, "finer structure steers the smear"},
             {"prolongation", 50, kSmudgeProlongationMin, kSmudgeProlongationMax, "how far strokes are drawn out along contours"},
             {"sigma", 30, kSmudgeSigmaMin, kSmudgeSigmaMax, "scale of the structure that steers the smear"},
         },
         "",
         RunSmudge,
         SmudgeTotal,
         48e6,
         24},
        {"redraw",
         "draws pen strokes along the edges, optionally burnt into a colour-reduced picture",
         {
             {"details", kRedrawDetailsDefault, kRedrawDetailsMin, kRedrawDetailsMax,
              "scale of the edges drawn (larger: coarser strokes)"},
             {"cut", kRedrawCutDefault, kRedrawCutMin, kRedrawCutMax, "stroke brightness above which paper stays white"},
             {"fuse", kRedrawFuseDefault, kRedrawFuseMin, kRedrawFuseMax,
              "1 burns the strokes into a colour-reduced copy of the picture"},
             {"level", kRedrawLevelDefault, kRedrawLevelMin, kRedrawLevelMax, "colour reduction under the strokes"},
         },
         RedrawLevelNotes(),
         RunRedraw,
         RedrawTotal,
         32e6,
         48},
    };
    return methods;
}

double PeakMemoryEstimate(const RepaintMethod& method, int64_t width, int64_t height) {
    return method.fixedBytes + method.bytesPerPixel * double(width) * double(height);
}
