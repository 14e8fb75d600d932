// Original repaint: smooths every colour component along the flow lines of
// the picture's own edges, in ten integer cycles per tile, optionally with a
// shock-filter flattening and an unsharp-mask border sharpening in each
// cycle. Large pictures are cut into overlapping tiles and blended back.
//
// The engine reports 38 progress steps per tile (ProgressRule::Always) and
// polls abortRequested between its steps; whether a run was aborted is read
// from the flag afterwards.
#pragma once

#include <atomic>
#include <vector>

#include "engines/method_params.h"
#include "picbuf/picbuf.h"

// The method's parameters in the order of the dialog and of the tool's
// options. A switch is on above 0.
enum OriginalParamIndex {
    kOriginalSmoothness,
    kOriginalWeakEdges,
    kOriginalFlatten,
    kOriginalFlattenLevel,
    kOriginalSharpen,
    kOriginalSharpenStrength,
    kOriginalParamCount
};
inline constexpr MethodParam kOriginalParams[kOriginalParamCount] = {
    {"smoothness", L"uiSmoothAlpha", 1, 20, 5, 0.25f, 1, 0, 2, "how far colour is smoothed along the flow lines"},
    {"weak-edges", L"uiRelaxation", 0, 25, 20, 4, 1, 0, 0,
     "structure weaker than this follows its stronger surroundings"},
    {"flatten", L"uiDoShock", 0, 1, 0, 1, 1, 0, 0, "1 flattens colour areas towards their borders"},
    {"flatten-level", L"uiFlatten", 1, 20, 20, 1, 40, 0.05f, 2,
     "how strong a border must be to be flattened towards"},
    {"sharpen", L"uiDoLoG", 0, 1, 1, 1, 1, 0, 0, "1 sharpens the borders"},
    {"sharpen-strength", L"uiLoGPower", 1, 20, 10, 2, 1, 0, 0, "strength of the border sharpening"},
};

// What the engine receives.
struct OriginalParams {
    bool flatten = false;         // flattening pass in each cycle
    bool sharpenBorders = false;  // border sharpening pass in each cycle
    float smoothness = 0;         // scale of the flow-line smoothing (0.25 to 5)
    float edgeThreshold = 0;      // structure weaker than this is filled in from the surroundings (0 to 100)
    float flattenLevel = 0;       // dead zone of the flattening (0.075 to 0.55)
    float sharpenStrength = 0;    // strength of the border sharpening (2 to 40)
};

// The engine's parameters for positions in the order of kOriginalParams
// (not clamped: the caller holds them to the ranges).
OriginalParams OriginalParamsFromPositions(const std::vector<int>& positions);

// Fills result (allocated by the caller with source's width, height,
// components and depth) from source: 8 bits per component, 1 or 3
// components. Pictures narrower or lower than 500 pixels are processed
// whole, larger ones in tiles. Other depths, component counts or a result of
// another geometry leave result untouched. result may be source itself.
// Throws std::bad_alloc, after releasing everything, when memory is short.
void OriginalRepaint(SBxPicBuf& result, const SBxPicBuf& source, const OriginalParams& params);

// The per-tile pipeline; tileOut has tileIn's geometry (8 bits, 1 or 3 components).
void OriginalTile(SBxPicBuf& tileOut, const SBxPicBuf& tileIn, const OriginalParams& params);

// Threads a run may use: 0 (the default) means all cores. Any count gives
// exactly the same bytes.
extern std::atomic<int> originalThreadCount;

// Progress steps one tile reports.
constexpr int kOriginalStepsPerTile = 38;

// The progress steps a complete run over a picture of this size reports:
// kOriginalStepsPerTile for each tile (RepaintTileCount).
int OriginalProgressTotal(int width, int height);
