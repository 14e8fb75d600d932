// Edge extraction (a difference of two recursive blurs per component, the
// darkest over the components, contrast-stretched) and the edge strokes (the
// edge plane smoothed along its own lines, cut to white, optionally made
// pure black and white).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <omp.h>

#include "picbuf/cimg_bridge.h"
#include "picbuf/processor.h"
#include "redraw.h"
#include "redraw_internal.h"

using namespace redraw_detail;

namespace {

constexpr float kBlurRatio = 1.2649111f; // sqrt(1.6) in single precision
constexpr float kDifferenceTop = 255.0f;
constexpr float kSixteenBitScale = 256.0f;
constexpr int kNoEdge = 65280; // kDifferenceTop x kSixteenBitScale: no difference
constexpr float kClipFraction = 0.03f;
constexpr float kStretchTop = 65535.0f;
constexpr float kTensorSharpness = 0.6f; // divided by the stroke scale
constexpr float kTensorAlpha = 1.0f;
constexpr float kTensorSigma = 5.0f;     // times the stroke scale

// The coefficients of CImg's recursive Deriche smoothing (order 0), worked
// out exactly as CImg does, in double precision.
struct DericheCoefficients {
    double a0, a1, a2, a3, b1, b2, coefp, coefn;
};

DericheCoefficients DericheSmoothing(float sigma) {
    const double nsigma = sigma, nnsigma = nsigma < 0.1f ? 0.1f : nsigma;
    const double alpha = 1.695f / nnsigma, ema = std::exp(-alpha), ema2 = std::exp(-2 * alpha), b1 = -2 * ema,
                 b2 = ema2;
    const double k = (1 - ema) * (1 - ema) / (1 + 2 * alpha * ema - ema2);
    DericheCoefficients d;
    d.a0 = k;
    d.a1 = k * (alpha - 1) * ema;
    d.a2 = k * (alpha + 1) * ema;
    d.a3 = -k * ema2;
    d.b1 = b1;
    d.b2 = b2;
    d.coefp = (d.a0 + d.a1) / (1 + b1 + b2);
    d.coefn = (d.a2 + d.a3) / (1 + b1 + b2);
    return d;
}

constexpr int kLanes = 4;
using Doubles = double __attribute__((vector_size(kLanes * sizeof(double))));
using Floats = float __attribute__((vector_size(kLanes * sizeof(float))));

// Through a reference: a vector wider than the baseline registers is not
// returned by value. Always inlined, so that each copy of the lanes' filter
// below gets it compiled for its own instruction set.
inline __attribute__((always_inline)) void LoadLanes(Doubles& lanes, const float* from) {
    Floats samples;
    std::memcpy(&samples, from, sizeof(samples));
    lanes = __builtin_convertvector(samples, Doubles);
}

// Groups x kLanes lines of n samples filtered side by side, each with
// exactly CImg's operations (Neumann boundaries, double precision) in vector
// registers, so every sample keeps its bits: the lines' recursions are
// independent, and one line alone would wait on its own previous result at
// every sample. Sample m of lane j of group g is lines[m * step + g * kLanes
// + j]; y holds n * Groups * kLanes doubles. Columns are filtered several
// groups at a time, so that each row's cache line and page are fetched once
// for all of them.
template <int Groups>
inline __attribute__((always_inline)) void DericheLanesBody(float* lines, long step, int n,
                                                            const DericheCoefficients& d, double* y) {
    constexpr int kWidth = Groups * kLanes;
    const Doubles none = {};
    const Doubles a0 = none + d.a0, a1 = none + d.a1, a2 = none + d.a2, a3 = none + d.a3, b1 = none + d.b1,
                  b2 = none + d.b2;
    Doubles xp[Groups], yp[Groups], yb[Groups];
    for (int g = 0; g < Groups; ++g) {
        LoadLanes(xp[g], lines + g * kLanes);
        yp[g] = (none + d.coefp) * xp[g];
        yb[g] = yp[g];
    }
    for (int m = 0; m < n; ++m) {
        const float* row = lines + m * step;
        double* forward = y + static_cast<long>(m) * kWidth;
        for (int g = 0; g < Groups; ++g) {
            Doubles xc;
            LoadLanes(xc, row + g * kLanes);
            const Doubles yc = a0 * xc + a1 * xp[g] - b1 * yp[g] - b2 * yb[g];
            std::memcpy(forward + g * kLanes, &yc, sizeof(yc));
            xp[g] = xc;
            yb[g] = yp[g];
            yp[g] = yc;
        }
    }
    Doubles xn[Groups], xa[Groups], yn[Groups], ya[Groups];
    for (int g = 0; g < Groups; ++g) {
        LoadLanes(xn[g], lines + (n - 1) * step + g * kLanes);
        xa[g] = xn[g];
        yn[g] = (none + d.coefn) * xn[g];
        ya[g] = yn[g];
    }
    for (int m = n - 1; m >= 0; --m) {
        float* row = lines + m * step;
        const double* forward = y + static_cast<long>(m) * kWidth;
        for (int g = 0; g < Groups; ++g) {
            float* x = row + g * kLanes;
            Doubles xc;
            LoadLanes(xc, x);
            const Doubles yc = a2 * xn[g] + a3 * xa[g] - b1 * yn[g] - b2 * ya[g];
            xa[g] = xn[g];
            xn[g] = xc;
            ya[g] = yn[g];
            yn[g] = yc;
            Doubles before;
            std::memcpy(&before, forward + g * kLanes, sizeof(before));
            const Floats result = __builtin_convertvector(before + yc, Floats);
            std::memcpy(x, &result, sizeof(result));
        }
    }
}

// The same filter twice: for any x86-64 processor (two lanes per SSE2
// instruction) and for AVX2 (all four lanes in one instruction, about twice
// as fast). Without fused multiply-add both round every operation alike, so
// the bytes do not depend on the processor.
constexpr int kColumnGroups = 8;
using LanesFilter = void (*)(float*, long, int, const DericheCoefficients&, double*);
struct LanesFilters {
    LanesFilter one, columns;  // kLanes lines; kColumnGroups x kLanes columns
};

template <int Groups>
void DericheLanesBaseline(float* lines, long step, int n, const DericheCoefficients& d, double* y) {
    DericheLanesBody<Groups>(lines, step, n, d, y);
}

template <int Groups>
__attribute__((target("avx2"))) void DericheLanesAvx2(float* lines, long step, int n,
                                                      const DericheCoefficients& d, double* y) {
    DericheLanesBody<Groups>(lines, step, n, d, y);
}

LanesFilters ChooseLanesFilters() {
    if (UseAvx2()) return {DericheLanesAvx2<1>, DericheLanesAvx2<kColumnGroups>};
    return {DericheLanesBaseline<1>, DericheLanesBaseline<kColumnGroups>};
}

// One pass over every line of the plane, kLanes neighbouring lines at a
// time on all cores: along y the lanes are neighbouring columns, filtered
// in place; along x, rows gathered side by side and put back. Lanes past
// the last line are filled with zeros and dropped.
void DerichePass(CImgF& image, float sigma, bool alongX) {
    const DericheCoefficients d = DericheSmoothing(sigma);
    const LanesFilters filters = ChooseLanesFilters();
    const int width = image.width(), height = image.height();
    const int lines = alongX ? height : width, n = alongX ? width : height;
    const long laneStep = alongX ? width : 1, sampleStep = alongX ? 1 : width;
    // Along y the columns go kColumnGroups x kLanes at a time, the last few
    // kLanes at a time; along x the rows kLanes at a time.
    const int groupLines = alongX ? kLanes : kColumnGroups * kLanes;
    const int wideBlocks = alongX ? 0 : lines / groupLines;
    const int blocks = wideBlocks + (lines - wideBlocks * groupLines + kLanes - 1) / kLanes;
    const size_t perThread = static_cast<size_t>(n) * groupLines;
    std::vector<double> sums(static_cast<size_t>(omp_get_max_threads()) * perThread);
    std::vector<float> packed(static_cast<size_t>(omp_get_max_threads()) * perThread);
    float* data = image.data();
#pragma omp parallel for schedule(dynamic, 2)
    for (int block = 0; block < blocks; ++block) {
        if (AbortPolled()) continue;
        const size_t slot = static_cast<size_t>(omp_get_thread_num()) * perThread;
        if (block < wideBlocks) {
            filters.columns(data + block * groupLines, width, n, d, sums.data() + slot);
            continue;
        }
        const int first = wideBlocks * groupLines + (block - wideBlocks) * kLanes;
        const int count = std::min(kLanes, lines - first);
        float* base = data + first * laneStep;
        if (!alongX && count == kLanes) {
            filters.one(base, width, n, d, sums.data() + slot);
            continue;
        }
        float* lanes = packed.data() + slot;
        for (int m = 0; m < n; ++m) {
            const float* from = base + m * sampleStep;
            float* to = lanes + static_cast<long>(m) * kLanes;
            for (int j = 0; j < kLanes; ++j) to[j] = j < count ? from[j * laneStep] : 0.0f;
        }
        filters.one(lanes, kLanes, n, d, sums.data() + slot);
        for (int m = 0; m < n; ++m) {
            float* to = base + m * sampleStep;
            const float* from = lanes + static_cast<long>(m) * kLanes;
            for (int j = 0; j < count; ++j) to[j * laneStep] = from[j];
        }
    }
}

// CImg's Deriche blur along x (when wider than 1) and y (when taller than 1),
// with Neumann boundaries: CImg's blur(sigma, true, false), to the bit.
void DericheBlur(CImgF& image, float sigma) {
    if (image.is_empty() || sigma < 0.1f) return;
    if (image.depth() != 1 || image.spectrum() != 1) {
        image.blur(sigma, true, false);
        return;
    }
    if (image.width() > 1) DerichePass(image, sigma, true);
    if (image.height() > 1) DerichePass(image, sigma, false);
}

// Component c of source as float samples into both planes (source's size):
// 8-bit samples straight from the interleaved rows, other depths through
// the bridge.
void LoadComponent(CImgF& narrow, CImgF& wide, const SBxPicBuf& source, int c, PicBufHolder& scratch) {
    if (source.bitsPerComponent != 8) {
        const SBxPicBuf* one = &source;
        if (source.components > 1) {
            Require(CBxPicBufAPI::ExtractComponent(scratch.buf, c, source));
            one = &scratch.buf;
        }
        narrow = ImportPlane(*one);
        std::copy(narrow.data(), narrow.data() + narrow.size(), wide.data());
        return;
    }
    const int components = source.components;
#pragma omp parallel for
    for (int y = 0; y < source.height; ++y) {
        const uint8_t* row = PicRow(source, y) + c;
        float *toNarrow = narrow.data(0, y), *toWide = wide.data(0, y);
        for (int x = 0; x < source.width; ++x) toNarrow[x] = toWide[x] = static_cast<float>(row[x * components]);
    }
}

// Wide minus narrow is positive on the dark side of thin features; inverted
// and scaled, 65280 means no edge. The darkest line over all components
// wins: the first component is written, the others only lower a sample.
void KeepDarkestDifference(SBxPicBuf& edges, const CImgF& wide, const CImgF& narrow, bool first) {
#pragma omp parallel for
    for (int y = 0; y < edges.height; ++y) {
        uint16_t* row = reinterpret_cast<uint16_t*>(PicRow(edges, y));
        const float *wideRow = wide.data(0, y), *narrowRow = narrow.data(0, y);
        // Clamped after the conversion, in integers, so that the loop is
        // vectorized: for a difference within 0 .. 255 the value is the
        // same truncation ExportPlane makes, and beyond either end the
        // clamp gives what clamping the difference first would (the blurs
        // stay near 0 .. 255, far from overflowing an int).
        if (first) {
            for (int x = 0; x < edges.width; ++x) {
                const int sample = static_cast<int>((kDifferenceTop - (wideRow[x] - narrowRow[x])) * kSixteenBitScale);
                row[x] = static_cast<uint16_t>(std::clamp(sample, 0, kNoEdge));
            }
        } else {
            for (int x = 0; x < edges.width; ++x) {
                const int sample = static_cast<int>((kDifferenceTop - (wideRow[x] - narrowRow[x])) * kSixteenBitScale);
                row[x] = std::min(row[x], static_cast<uint16_t>(std::clamp(sample, 0, kNoEdge)));
            }
        }
    }
}

}  // namespace

void ExtractEdges(SBxPicBuf& edges, const SBxPicBuf& source, float edgeSigma) {
    if (!HasSamples(source)) {
        AllocatePicture(edges, source.width, source.height, 1, 8);
        Progress(2 * source.components);
        return;
    }
    const float wideSigma = kBlurRatio * edgeSigma;
    const int width = source.width, height = source.height;
    CImgF narrow(width, height, 1, 1), wide(width, height, 1, 1);
    PicBufHolder component;
    for (int c = 0; c < source.components; ++c) {
        LoadComponent(narrow, wide, source, c, component);
        if (AbortPolled()) return;
        DericheBlur(narrow, edgeSigma);
        Progress(1);
        if (AbortPolled()) return;
        DericheBlur(wide, wideSigma);
        if (AbortPolled()) return;
        Progress(1);
        if (c == 0) AllocatePicture(edges, width, height, 1, 16);
        KeepDarkestDifference(edges, wide, narrow, c == 0);
    }
    StretchLevels(edges, kClipFraction, kClipFraction);
    Require(CBxPicBufAPI::ConvertBpcComp(edges, 8, 1));
}

void StretchLevels(SBxPicBuf& plane, float lowFraction, float highFraction) {
    if (!HasSamples(plane) || plane.components != 1 || plane.bitsPerComponent != 16) return;
    std::vector<uint32_t> histogram(65536, 0);
    for (int y = 0; y < plane.height; ++y) {
        const uint16_t* row = reinterpret_cast<const uint16_t*>(PicRow(plane, y));
        for (int x = 0; x < plane.width; ++x) ++histogram[row[x]];
    }
    const float count = static_cast<float>(static_cast<int64_t>(plane.width) * plane.height);
    const uint64_t lowLimit = static_cast<uint64_t>(std::max(0.0f, count * lowFraction));
    const uint64_t highLimit = static_cast<uint64_t>(std::max(0.0f, count * highFraction));

    // lo: first level where the darkest samples exceed their share.
    int lo = 65535;
    uint64_t sum = 0;
    for (int v = 0; v <= 65535; ++v) {
        sum += histogram[v];
        if (sum > lowLimit) {
            lo = v;
            break;
        }
    }
    // hi: the same from the bright end, never below 1.
    int hi = 1;
    sum = 0;
    for (int v = 65535; v >= 1; --v) {
        sum += histogram[v];
        if (sum > highLimit) {
            hi = v;
            break;
        }
    }

    // One level holds both shares, e.g. a thin line on flat paper covering
    // less than the low share: that level is the paper, and only darker
    // samples are lines. A plane with nothing darker keeps it black.
    uint16_t atLevel = 0;
    if (hi == lo) {
        for (int v = 0; v < lo; ++v)
            if (histogram[v] != 0) {
                atLevel = 65535;
                break;
            }
    }
    std::vector<uint16_t> map(65536);
    for (int v = 0; v <= 65535; ++v) {
        if (hi == lo) {
            map[v] = v > lo ? 65535 : v == lo ? atLevel : 0;
            continue;
        }
        const float t = static_cast<float>(v - lo) / static_cast<float>(hi - lo) * kStretchTop;
        if (t >= kStretchTop) map[v] = 65535;
        else if (t > 0.0f) map[v] = static_cast<uint16_t>(t);
        else map[v] = 0;
    }
    for (int y = 0; y < plane.height; ++y) {
        uint16_t* row = reinterpret_cast<uint16_t*>(PicRow(plane, y));
        for (int x = 0; x < plane.width; ++x) row[x] = map[row[x]];
    }
}

void DrawEdgeStrokes(SBxPicBuf& result, const SBxPicBuf& source, SBxPicBuf& edges, float cut, float strokeScale,
                     bool fuse) {
    if (&result == &source || &result == &edges)
        throw std::invalid_argument("DrawEdgeStrokes: the result must be a picture of its own");
    // The strokes are 8-bit whatever the source's depth.
    AllocatePicture(result, source.width, source.height, source.components, 8);
    if (!HasSamples(source)) {
        Progress(5);
        return;
    }
    if (edges.width != source.width || edges.height != source.height || edges.components != 1 ||
        edges.bitsPerComponent != 8 || !edges.pixels)
        throw std::invalid_argument("DrawEdgeStrokes: the edge plane does not fit the picture");
    if (source.bitsPerComponent == 8) Require(CBxPicBufAPI::Copy(result, source));

    {
        // The field comes from the edge plane itself, so each line is
        // smoothed along its own direction into a stroke.
        CImgF strokes = ImportPlane(edges);
        const CImgF field = ComputeDiffusionTensors(strokes, kTensorSharpness / strokeScale, kTensorAlpha,
                                                    kTensorSigma * strokeScale);
        if (!AbortPolled()) SmoothAlongTensors(strokes, field);
        Progress(3);
        if (AbortPolled()) return;
        ExportPlane(strokes, edges);
    }
    Require(CBxPicBufAPI::ConvertBpcComp(edges, 8, result.components));
    Require(CBxPicBufAPI::Copy(result, edges));

    // Cut: everything brighter than the threshold becomes paper white.
    uint8_t cutMap[256];
    for (int v = 0; v < 256; ++v) cutMap[v] = static_cast<float>(v) > cut ? 255 : static_cast<uint8_t>(v);
    const int rowBytes = result.width * result.components;
    for (int y = 0; y < result.height; ++y) {
        uint8_t* row = PicRow(result, y);
        for (int i = 0; i < rowBytes; ++i) row[i] = cutMap[row[i]];
    }
    Progress(1);
    if (AbortPolled()) return;
    if (fuse) {
        for (int y = 0; y < result.height; ++y) {
            uint8_t* row = PicRow(result, y);
            for (int i = 0; i < rowBytes; ++i) row[i] = row[i] == 255 ? 255 : 0;
        }
    }
    Progress(1);
}
