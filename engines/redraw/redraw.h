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

#include "picbuf/picbuf.h"

// ---------------------------------------------------------------------------
// Parameters: what the editor's Redraw dialog and the command-line tool show
// and store, and how they become the engine's arguments.

// Slider and box ranges (inclusive) and the defaults of a first run.
constexpr int kRedrawDetailsMin = 1;
constexpr int kRedrawDetailsMax = 100;
constexpr int kRedrawDetailsDefault = 10;
constexpr int kRedrawCutMin = 1;
constexpr int kRedrawCutMax = 100;
constexpr int kRedrawCutDefault = 50;
constexpr int kRedrawFuseMin = 0;
constexpr int kRedrawFuseMax = 1;
constexpr int kRedrawFuseDefault = 0;
constexpr int kRedrawLevelMin = 0;
constexpr int kRedrawLevelMax = 4;
constexpr int kRedrawLevelDefault = 1;

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

// What one run does; filled just before the run starts.
struct RedrawJob {
    float details;        // edge scale, 0.1 .. 10 over the slider
    float cut;            // brightness above which a stroke pixel turns white, 0..255 scale
    int32_t quantization; // colour level 0..4
    uint8_t fuseToImage;  // 1: burn the strokes into the colour-reduced picture
    SBxPicBuf* source;    // read only
    SBxPicBuf* result;    // receives the repaint (re-made with source's size, 8 bits)
};

// Fills the engine values of job from the stored settings, exactly as the
// main window does: details = Details / 10, cut = Cut x 2.55 (single
// precision), quantization = Level, fuseToImage = Fuse > 0. Values outside
// the ranges above are passed on as they are (the engine copes with them);
// source and result are left alone.
void FillRedrawJob(RedrawJob& job, int edgeDetails, int edgeCut, int fuseToImage, int quantization);

// Progress steps of one whole run, the range of the dialog's progress bar.
constexpr int RedrawProgressTotal(int components) {
    return 2 * components + 10;
}

// The whole Redraw repaint of job.source into job.result; the thread
// procedure of a full run calls it once. Returns early when abortRequested
// is set (the result then holds nothing usable; read the flag afterwards).
// Throws std::invalid_argument for missing pictures or a format other than
// 8 or 16 bits with 1 or 3 components.
void RedrawRepaint(const RedrawJob& job);

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
// job.details. Reports no progress that a hidden bar would show; memory
// short throws std::bad_alloc after releasing what the call made.
void RedrawPreview(SBxPicBuf& preview, const SBxPicBuf& source, const CBxRect& region, const RedrawJob& job,
                   RedrawPreviewCache& cache);
void ReleaseRedrawPreviewCache(RedrawPreviewCache& cache);
