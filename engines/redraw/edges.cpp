// Edge extraction (a difference of two recursive blurs per component, the
// darkest over the components, contrast-stretched) and the edge strokes (the
// edge plane smoothed along its own lines, cut to white, optionally made
// pure black and white).
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "picbuf/cimg_bridge.h"
#include "redraw.h"
#include "redraw_internal.h"

using namespace redraw_detail;

namespace {

constexpr float kBlurRatio = 1.2649111f; // sqrt(1.6) in single precision
constexpr float kDifferenceTop = 255.0f;
constexpr float kSixteenBitScale = 256.0f;
constexpr float kClipFraction = 0.03f;
constexpr float kStretchTop = 65535.0f;
constexpr float kTensorSharpness = 0.6f; // divided by the stroke scale
constexpr float kTensorAlpha = 1.0f;
constexpr float kTensorSigma = 5.0f;     // times the stroke scale

// CImg's Deriche blur along x (when wider than 1) and y (when taller than 1),
// with Neumann boundaries: CImg's blur(sigma, true, false).
void DericheBlur(CImgF& image, float sigma) {
    image.blur(sigma, true, false);
}

}  // namespace

void ExtractEdges(SBxPicBuf& edges, const SBxPicBuf& source, float edgeSigma) {
    if (!HasSamples(source)) {
        MakePicture(edges, source.width, source.height, 1, 8);
        Progress(2 * source.components);
        return;
    }
    const float wideSigma = kBlurRatio * edgeSigma;
    PicBufHolder component;
    for (int c = 0; c < source.components; ++c) {
        const SBxPicBuf* plane = &source;
        if (source.components > 1) {
            Require(CBxPicBufAPI::ExtractComponent(component.buf, c, source));
            plane = &component.buf;
        }
        CImgF narrow = ImportPlane(*plane);
        CImgF wide(narrow);
        if (AbortPolled()) return;
        DericheBlur(narrow, edgeSigma);
        Progress(1);
        if (AbortPolled()) return;
        DericheBlur(wide, wideSigma);
        if (AbortPolled()) return;
        Progress(1);

        // Wide minus narrow is positive on the dark side of thin features;
        // inverted and scaled, 65280 means no edge.
        wide -= narrow;
        narrow.assign();
        if (c == 0) MakePicture(edges, source.width, source.height, 1, 16);
        const float* difference = wide.data();
        for (int y = 0; y < source.height; ++y) {
            uint16_t* row = reinterpret_cast<uint16_t*>(PicRow(edges, y));
            for (int x = 0; x < source.width; ++x, ++difference) {
                const float clamped = std::min(std::max(*difference, 0.0f), kDifferenceTop);
                // Truncation, as ExportPlane does; the value lies in 0 .. 65280.
                const uint16_t sample =
                    static_cast<uint16_t>(static_cast<int>((kDifferenceTop - clamped) * kSixteenBitScale));
                // The darkest line over all components wins.
                row[x] = c == 0 ? sample : std::min(row[x], sample);
            }
        }
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
    MakePicture(result, source.width, source.height, source.components, 8);
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
