// The Redraw repaint: dark, smoothed edge strokes on white, or, fused, the
// same strokes burnt in black into a flattened, colour-reduced copy of the
// picture. The engine works on 8-bit pictures with 1 or 3 components; a
// 16-bit picture is converted to 8 bits at the start of a run.
//
// Abort and progress go through picbuf/run_control.h: every step polls
// abortRequested and reports its steps with ProgressRule::WhenBarShown.
// Memory exhaustion surfaces as std::bad_alloc (or CImg's instance
// exception) after every working buffer has been released.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/method_params.h"
#include "picbuf/picbuf.h"

// ---------------------------------------------------------------------------
// Parameters: what the editor's Redraw dialog and the command-line tool show
// and store, and how they become the engine's arguments.

enum RedrawParamIndex { kRedrawDetails, kRedrawCut, kRedrawFuse, kRedrawLevel, kRedrawParamCount };
inline constexpr MethodParam kRedrawParams[kRedrawParamCount] = {
    {"details", L"uiEdgeDetails", 1, 100, 10, 1, 10, 0, 1, "scale of the edges drawn (larger: coarser strokes)"},
    {"cut", L"uiEdgeCut", 1, 100, 50, 2.55f, 1, 0, 0, "stroke brightness above which the paper stays white"},
    {"fuse", L"uiFuseToImage", 0, 1, 0, 1, 1, 0, 0, "1 burns the strokes into a colour-reduced copy of the picture"},
    {"level", L"uiQuantization", 0, 4, 1, 1, 1, 0, 0, "colour reduction under the strokes"},
};

// Colour levels, equal to the combo box index.
enum RedrawLevel {
    RedrawLevelRough = 0,
    RedrawLevelNormal = 1,
    RedrawLevelDetailed = 2,
    RedrawLevelSmoothed = 3,
    RedrawLevelOriginal = 4,
};
constexpr int kRedrawLevelCount = 5;

// English names of the levels in index order ("Rough Quantization", ...);
// the editor shows the language table's texts instead.
extern const char* const kRedrawLevelNames[kRedrawLevelCount];

// What the engine receives.
struct RedrawParams {
    float details = 0;        // edge scale, 0.1 .. 10
    float cut = 0;            // brightness above which a stroke pixel turns white, 0..255 scale
    int32_t quantization = 0; // colour level 0..4
    bool fuseToImage = false; // burn the strokes into the colour-reduced picture
};

// The engine's parameters for positions in the order of kRedrawParams: a
// switch is on above 0, the level is the position. Values outside the
// ranges are passed on as they are (the engine copes with them).
RedrawParams RedrawParamsFromPositions(const std::vector<int>& positions);

// Progress steps of one whole run, the range of the dialog's progress bar.
constexpr int RedrawProgressTotal(int components) {
    return 2 * components + 10;
}

// The whole Redraw repaint of source into result (re-made with source's size,
// 8 bits); the thread procedure of a full run calls it once. Returns early when abortRequested
// is set (the result then holds nothing usable; read the flag afterwards).
// Throws std::invalid_argument when result is source or for a format other
// than 8 or 16 bits with 1 or 3 components.
void RedrawRepaint(SBxPicBuf& result, const SBxPicBuf& source, const RedrawParams& params);

// ---------------------------------------------------------------------------
// The editor's preview of a region.

// The edge plane of the whole picture, kept between previews: strokes near
// the region's border and the contrast stretch then match a full run, and a
// change of Cut, Fuse or level only redraws the strokes.
struct RedrawPreviewCache {
    PicBufHolder edges;  // width x height, 1 component, 8 bits
    float details = 0;   // the details the plane was made for; 0: no plane
};

// The Redraw repaint of `region` of source into preview, re-made with the
// region's size and source's components and depth (a 16-bit picture is
// repainted from its 8-bit form, as in a full run, and the result widened
// again). The edge plane is made only when cache holds none for
// params.details. Reports no progress that a hidden bar would show; memory
// short throws std::bad_alloc after releasing what the call made.
void RedrawPreview(SBxPicBuf& preview, const SBxPicBuf& source, const CBxRect& region, const RedrawParams& params,
                   RedrawPreviewCache& cache);
void ReleaseRedrawPreviewCache(RedrawPreviewCache& cache);
