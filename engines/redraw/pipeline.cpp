// The Redraw pipeline: edges, strokes and, when the edges are imported into
// the image, the strokes burnt into a colour-reduced copy of the picture.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "redraw.h"
#include "redraw_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace redraw_detail;

const char* const kRedrawLevelNames[kRedrawLevelCount] = {
    "Rough Quantization", "Normal Quantization", "Detailed Quantization", "Smoothed Image", "Original Image",
};

RedrawParams RedrawParamsFromPositions(const std::vector<int>& positions) {
    RedrawParams params;
    params.details = ParamValue(kRedrawParams[kRedrawDetails], positions.at(kRedrawDetails));
    params.cut = ParamValue(kRedrawParams[kRedrawCut], positions.at(kRedrawCut));
    params.quantization = positions.at(kRedrawLevel);
    params.fuseToImage = positions.at(kRedrawFuse) > 0;
    return params;
}

float RedrawEdgeSigma(float details) {
    return details / 5.0f + 0.2f;
}

float RedrawStrokeScale(float details) {
    return details * 0.125f + 1.0f;
}

void FuseStrokes(SBxPicBuf& picture, const SBxPicBuf& strokes) {
    if (!HasSamples(picture) || picture.bitsPerComponent != 8 || strokes.bitsPerComponent != 8 ||
        strokes.width != picture.width || strokes.height != picture.height ||
        strokes.components != picture.components || !strokes.pixels)
        throw std::invalid_argument("FuseStrokes: the strokes do not fit the picture");
    const int rowBytes = picture.width * picture.components;
    for (int y = 0; y < picture.height; ++y) {
        uint8_t* colour = PicRow(picture, y);
        const uint8_t* stroke = PicRow(strokes, y);
        int i = 0;
#if defined(__SSE2__)
        // c + s - 255, floored at 0, is c minus the stroke's darkness, saturated.
        const __m128i white = _mm_set1_epi8(static_cast<char>(0xff));
        for (; i + 16 <= rowBytes; i += 16) {
            __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(colour + i));
            __m128i darkness = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(stroke + i)), white);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(colour + i), _mm_subs_epu8(c, darkness));
        }
#endif
        for (; i < rowBytes; ++i) colour[i] = static_cast<uint8_t>(std::max(0, colour[i] + stroke[i] - 255));
    }
}

namespace {

// The parameters as the steps take them: settings edited by hand can hold
// any number, so no Details below 0 (a negative blur or stroke scale) and no
// level beyond the five.
struct RedrawValues {
    float details;
    float cut;
    int level;
    bool fuse;
};

RedrawValues CheckedValues(const RedrawParams& params) {
    return RedrawValues{std::isfinite(params.details) ? std::max(params.details, 0.0f) : 0.0f, params.cut,
                        std::clamp<int>(params.quantization, RedrawLevelRough, RedrawLevelOriginal),
                        params.fuseToImage};
}

void RequireRedrawFormat(const SBxPicBuf& picture) {
    if ((picture.components != 1 && picture.components != 3) ||
        (picture.bitsPerComponent != 8 && picture.bitsPerComponent != 16))
        throw std::invalid_argument("Redraw works on 8- or 16-bit pictures with 1 or 3 components");
}

// Thresholds, steps and the burn are defined on 8-bit samples: a 16-bit
// picture is repainted from its 8-bit form, which `holder` keeps.
const SBxPicBuf& EightBitForm(const SBxPicBuf& given, PicBufHolder& holder) {
    if (given.bitsPerComponent == 8 || !HasSamples(given)) return given;
    AllocatePictureLike(holder.buf, given);
    Require(CBxPicBufAPI::Copy(holder.buf, given));
    Require(CBxPicBufAPI::ConvertBpcComp(holder.buf, 8, given.components));
    return holder.buf;
}

// Strokes from the edge plane (used up) into result and, when fusing, burnt
// into a colour-reduced copy of source: the colours come from the untouched
// source, the strokes enter only through the burn. Reports 3 steps.
void StrokesAndColours(SBxPicBuf& result, const SBxPicBuf& source, SBxPicBuf& edges, const RedrawValues& values) {
    if (!AbortPolled())
        DrawEdgeStrokes(result, source, edges, values.cut, RedrawStrokeScale(values.details), values.fuse);
    Progress(1);
    CBxPicBufAPI::DoneHeap(edges);  // not needed for the colours
    if (!values.fuse || AbortPolled()) {
        Progress(2);
        return;
    }
    PicBufHolder colours;
    AllocatePictureLike(colours.buf, source);
    if (HasSamples(source)) Require(CBxPicBufAPI::Copy(colours.buf, source));
    if (values.level != RedrawLevelOriginal) QuantizeColors(colours.buf, values.level);
    Progress(1);
    if (!AbortPolled() && HasSamples(source)) {
        FuseStrokes(colours.buf, result);
        Require(CBxPicBufAPI::Copy(result, colours.buf));
    }
    Progress(1);
}

}  // namespace

void RedrawRepaint(SBxPicBuf& result, const SBxPicBuf& given, const RedrawParams& params) {
    if (&given == &result) throw std::invalid_argument("Redraw needs a result picture apart from its source");
    RequireRedrawFormat(given);
    PicBufHolder eightBit;
    const SBxPicBuf& source = EightBitForm(given, eightBit);
    const RedrawValues values = CheckedValues(params);

    PicBufHolder edges;
    AllocatePicture(edges.buf, source.width, source.height, 1, 8);
    Progress(1);
    if (!AbortPolled()) ExtractEdges(edges.buf, source, RedrawEdgeSigma(values.details));
    Progress(1);
    StrokesAndColours(result, source, edges.buf, values);
}

void RedrawPreview(SBxPicBuf& preview, const SBxPicBuf& source, const CBxRect& region, const RedrawParams& params,
                   RedrawPreviewCache& cache) {
    RequireRedrawFormat(source);
    const int width = region.right - region.left, height = region.bottom - region.top;
    if (!HasSamples(source) || width <= 0 || height <= 0 || region.left < 0 || region.top < 0 ||
        region.right > source.width || region.bottom > source.height)
        throw std::invalid_argument("RedrawPreview: the region lies outside the picture");
    const RedrawValues values = CheckedValues(params);
    if (!cache.edges->pixels || cache.details != params.details) {
        PicBufHolder eightBit;
        cache.details = 0;  // invalid until the plane is complete
        ExtractEdges(cache.edges.buf, EightBitForm(source, eightBit), RedrawEdgeSigma(values.details));
        if (AbortPolled()) return;  // an unfinished plane stays invalid
        cache.details = params.details;
    }
    // The region alone goes to 8 bits: the same samples as the region of
    // the whole picture's 8-bit form.
    PicBufHolder part, edgePart, strokes;
    AllocatePicture(part.buf, width, height, source.components, source.bitsPerComponent);
    AllocatePicture(edgePart.buf, width, height, 1, 8);
    Require(CBxPicBufAPI::Copy(part.buf, source, region));
    if (source.bitsPerComponent != 8) Require(CBxPicBufAPI::ConvertBpcComp(part.buf, 8, source.components));
    Require(CBxPicBufAPI::Copy(edgePart.buf, cache.edges.buf, region));
    StrokesAndColours(strokes.buf, part.buf, edgePart.buf, values);
    if (source.bitsPerComponent != 8)
        Require(CBxPicBufAPI::ConvertBpcComp(strokes.buf, source.bitsPerComponent, source.components));
    AllocatePictureLike(preview, strokes.buf);
    Require(CBxPicBufAPI::Copy(preview, strokes.buf));
}

void ReleaseRedrawPreviewCache(RedrawPreviewCache& cache) {
    CBxPicBufAPI::DoneHeap(cache.edges.buf);
    cache.details = 0;
}
