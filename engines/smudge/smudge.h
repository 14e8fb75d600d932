// Smudge repaint: every component of a picture is smeared along the
// picture's own structure by CImg's tensor-driven anisotropic blur, steered
// by one diffusion-tensor field computed from a grey copy of the picture.
// Pictures under 500 pixels in either dimension are processed whole, larger
// ones in tiles of about 500 x 500 pixels with 50 pixels of context on each
// side, all steered by the one whole-picture field.
//
// Progress goes out through ReportProgress (ProgressRule::WhenBarShown):
// 1 step for a whole grey picture, 4 for a whole colour picture, 3 + tiles
// x components for a tiled one. abortRequested is polled between steps and
// inside the smoothing's loops; an aborted result is partly written and is
// discarded by the caller. Memory running short passes through as CImg's
// CImgInstanceException or std::bad_alloc (a picture buffer the engine could
// not allocate); everything the engine allocates is released on every path
// out.
#pragma once

#include <vector>

#include "engines/method_params.h"
#include "picbuf/picbuf.h"

enum SmudgeParamIndex { kSmudgeDetails, kSmudgeProlongation, kSmudgeSigma, kSmudgeParamCount };
inline constexpr MethodParam kSmudgeParams[kSmudgeParamCount] = {
    {"details", L"uiDetails", 1, 100, 10, 1, 1, 0, 0, "finer structure steers the smear"},
    {"prolongation", L"uiProlongation", 1, 100, 50, 1, 1, 0, 0, "how far strokes are drawn out along contours"},
    {"sigma", L"uiSigma", 0, 100, 30, 1, 1, 0, 0, "scale of the structure that steers the smear"},
};

// How the components of a picture or tile are smoothed. Together is the
// engine's way: one pass over all components that traces each streamline
// once, and in a tile only for the pixels that are written back. It gives
// exactly the bytes of OneByOne (CImg's smoothing of the whole tile, one
// call per component plane), which is kept to check that.
enum class SmudgeComponents { Together, OneByOne };

// What the engine receives: the dialog's values, which it maps to CImg's
// arguments itself.
struct SmudgeParams {
    float details = 0;       // 1..100
    float prolongation = 0;  // 1..100
    float sigma = 0;         // 0..100
    SmudgeComponents components = SmudgeComponents::Together;
};

// The engine's parameters for positions in the order of kSmudgeParams.
SmudgeParams SmudgeParamsFromPositions(const std::vector<int>& positions);

// CImg's sharpness, alpha and sigma of the diffusion tensors:
// sharpness = (100 - prolongation) / 200, alpha = details / 25,
// sigma = sigma / 10 + 1, in single precision.
struct SmudgeArguments {
    float sharpness;
    float alpha;
    float sigma;
};
SmudgeArguments SmudgeArgumentsOf(const SmudgeParams& params);

constexpr int kSmudgeTileMargin = 50;   // context on each side of a tile, clipped to the picture

// The progress steps a complete run over source reports.
int SmudgeProgressTotal(const SBxPicBuf& source);

// Fills result (allocated by the caller with the source's width, height,
// components and depth) from source. A result of another geometry is left
// untouched.
void SmudgeRepaint(SBxPicBuf& result, const SBxPicBuf& source, const SmudgeParams& params);

// The two paths SmudgeRepaint chooses between, for tests.
void SmudgeWhole(SBxPicBuf& result, const SBxPicBuf& source, const SmudgeParams& params);
void SmudgeTiled(SBxPicBuf& result, const SBxPicBuf& source, const SmudgeParams& params);
