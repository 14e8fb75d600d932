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

#include "picbuf/picbuf.h"

// Member defaults are the values of a fresh settings file.
struct OriginalParams {
    bool flatten = false;           // flattening pass in each cycle
    bool sharpenBorders = true;     // border sharpening pass in each cycle
    float smoothness = 1.25f;       // scale of the flow-line smoothing (0.25 to 5)
    float edgeThreshold = 80.0f;    // structure weaker than this is filled in from the surroundings (0 to 100)
    float flattenLevel = 0.55f;     // dead zone of the flattening (0.075 to 0.55)
    float sharpenStrength = 20.0f;  // strength of the border sharpening (2 to 40)
    const SBxPicBuf* source = nullptr;  // the picture to repaint (worker only)
    SBxPicBuf* result = nullptr;        // where the result goes (worker only)
};

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

// The dialog's sliders and check boxes: valid positions and the values a
// fresh settings file holds.
constexpr int kSmoothnessSliderMin = 1, kSmoothnessSliderMax = 20, kSmoothnessSliderDefault = 5;
constexpr int kWeakEdgeSliderMin = 0, kWeakEdgeSliderMax = 25, kWeakEdgeSliderDefault = 20;
constexpr int kFlattenSwitchDefault = 0;
constexpr int kFlattenSliderMin = 1, kFlattenSliderMax = 20, kFlattenSliderDefault = 20;
constexpr int kSharpenSwitchDefault = 1;
constexpr int kSharpenSliderMin = 1, kSharpenSliderMax = 20, kSharpenSliderDefault = 10;

// Maps slider positions and switches to engine parameters exactly as the main
// window does before a full run (single precision; a switch is on when above
// 0). Positions are not clamped: the caller validates them against the
// ranges above. source and result stay null.
OriginalParams OriginalParamsFromSliders(int smoothness, int weakEdges, int flattenOn, int flattenLevel, int sharpenOn,
                                         int sharpenStrength);
