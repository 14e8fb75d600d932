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
#include <memory>
#include <vector>

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

// Derived parameters, shared by the full run and the preview.
float RedrawEdgeSigma(float details);   // details / 5 + 0.2
float RedrawStrokeScale(float details); // details x 0.125 + 1

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

// ---------------------------------------------------------------------------
// The steps, also used one by one by the editor's preview.

// Grey edge plane of source: 255 paper, 0 the darkest thin lines, from a
// difference of two Deriche blurs (edgeSigma and edgeSigma x sqrt(1.6)) in
// every component, the darkest over the components, contrast-stretched.
// edges is re-made as width x height, 1 component, 8 bits; the caller only
// has to have initialised it. Reports 2 progress steps per component.
void ExtractEdges(SBxPicBuf& edges, const SBxPicBuf& source, float edgeSigma);

// In place on a 1-component 16-bit plane: the darkest lowFraction of the
// samples become 0, the brightest highFraction 65535, the rest are spread
// linearly in between. When one level holds both shares, samples above it
// become 65535 and samples below it 0; the level itself becomes 65535 when
// anything lies below it (paper with a few thin lines) and 0 otherwise (a
// flat plane is black).
void StretchLevels(SBxPicBuf& plane, float lowFraction, float highFraction);

// Pen strokes from an edge plane: the plane is smoothed along its own line
// structure, written as grey into every component of result (re-made with
// source's width, height and components at 8 bits), every byte above cut
// turned white and, with fuse, every other byte black. edges is used as
// scratch and holds no useful content afterwards. Reports 5 progress steps.
void DrawEdgeStrokes(SBxPicBuf& result, const SBxPicBuf& source, SBxPicBuf& edges, float cut, float strokeScale,
                     bool fuse);

// Burns strokes into picture (same geometry, 8 bits): every byte becomes
// max(0, picture + strokes - 255), so white strokes leave the colour alone
// and black ones make it black.
void FuseStrokes(SBxPicBuf& picture, const SBxPicBuf& strokes);

// Flattens an 8-bit picture in place: every component smoothed with
// SmoothPlane (strength 150), then, for levels 0..2, the luma reduced to soft
// steps while the colour is kept. Level 3 stops after the smoothing; level 4
// and any other value leave the picture untouched.
void QuantizeColors(SBxPicBuf& picture, int level);

// The soft step of one 8-bit luma value at level 0..2 (other levels return x).
uint8_t SoftStep(uint8_t x, int level);

// ---------------------------------------------------------------------------
// The non-local means smoothing filter.

constexpr double kQuantizeStrength = 150.0;

// dst becomes the edge-preserving smoothing of the 8-bit one-component src
// (7 x 7 window, 6 x 6 patches measured on 2 x 2 blocks, four threads);
// src is not changed and may be dst itself. dst is re-made with src's
// geometry. A channel whose width or height, rounded up to even, is 16 or
// less is copied unchanged, and so is a plane of another format, or any
// plane when the weight tables cannot be allocated.
void SmoothPlane(SBxPicBuf& dst, const SBxPicBuf& src, double strength);

// The filter over even-sized 8-bit one-component planes: paddedDst receives
// the weighted means of guide's values (paddedSrc is what a too-small plane
// copies). s is the brightness adaptivity, threadCount the calling thread
// plus its helpers (1 .. 64), which take strips of the picture in turn.
// Returns false, leaving paddedDst alone, when the weight tables cannot be
// made or the planes do not fit. paddedDst may be paddedSrc or guide.
bool NlmFilter(SBxPicBuf& paddedDst, const SBxPicBuf& paddedSrc, const SBxPicBuf& guide, double h, double s,
               int threadCount);

// Fills a margin of m pixels on every side of a plane (8 or 16 bits, any
// component count) by reflection about the outermost image row and column,
// without repeating them; corners reflect in both directions.
void MirrorMargin(SBxPicBuf& plane, int margin);

// Weight tables of one (s, h) pair: for every guide level 0..255 a table of
// kNlmTableLength weights indexed by patch distance, 10000 for identical
// patches.
constexpr int kNlmTableLength = 9216;
struct NlmWeights {
    std::vector<uint32_t> entries; // level-major, 256 x kNlmTableLength
    const uint32_t* Table(int level) const { return entries.data() + static_cast<size_t>(level) * kNlmTableLength; }
};

// The process-wide weight cache: seven slots filled round robin. Lookup
// finds the tables of (s, h) or builds them into the next slot; null when
// memory is short. The tables stay valid for the holder even after their
// slot has been reused.
std::shared_ptr<const NlmWeights> NlmLookupWeights(double s, double h);
// Slot that holds (s, h) now, or -1; builds nothing.
int NlmFindWeightSlot(double s, double h);
// Slot that the next build will fill.
int NlmNextWeightSlot();
