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

void FillRedrawJob(RedrawJob& job, int edgeDetails, int edgeCut, int fuseToImage, int quantization) {
    job.details = static_cast<float>(edgeDetails) / 10.0f;
    job.cut = static_cast<float>(edgeCut) * 2.55f;
    job.quantization = quantization;
    job.fuseToImage = fuseToImage > 0 ? 1 : 0;
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

void RedrawRepaint(const RedrawJob& job) {
    if (!job.source || !job.result || job.source == job.result)
        throw std::invalid_argument("Redraw needs a source picture and a separate result picture");
    const SBxPicBuf& given = *job.source;
    if ((given.components != 1 && given.components != 3) ||
        (given.bitsPerComponent != 8 && given.bitsPerComponent != 16))
        throw std::invalid_argument("Redraw works on 8- or 16-bit pictures with 1 or 3 components");

    // Thresholds, steps and the burn are defined on 8-bit samples: a 16-bit
    // picture is repainted from its 8-bit form.
    PicBufHolder eightBit;
    const SBxPicBuf* source = &given;
    if (given.bitsPerComponent != 8 && HasSamples(given)) {
        MakePictureLike(eightBit.buf, given);
        Require(CBxPicBufAPI::Copy(eightBit.buf, given));
        Require(CBxPicBufAPI::ConvertBpcComp(eightBit.buf, 8, given.components));
        source = &eightBit.buf;
    }
    SBxPicBuf& result = *job.result;
    // Settings edited by hand can hold any number: no Details below 0
    // (a negative blur or stroke scale) and no level beyond the five.
    const float details = std::isfinite(job.details) ? std::max(job.details, 0.0f) : 0.0f;
    const int level = std::clamp<int>(job.quantization, RedrawLevelRough, RedrawLevelOriginal);
    const bool fuse = job.fuseToImage != 0;

    PicBufHolder edges;
    MakePicture(edges.buf, source->width, source->height, 1, 8);
    Progress(1);
    if (!AbortPolled()) ExtractEdges(edges.buf, *source, RedrawEdgeSigma(details));
    Progress(1);
    if (!AbortPolled()) DrawEdgeStrokes(result, *source, edges.buf, job.cut, RedrawStrokeScale(details), fuse);
    Progress(1);
    CBxPicBufAPI::DoneHeap(edges.buf);  // not needed for the colours

    if (fuse && !AbortPolled()) {
        // The colours come from the untouched source; the strokes enter only
        // through the burn.
        PicBufHolder colours;
        MakePictureLike(colours.buf, *source);
        if (HasSamples(*source)) Require(CBxPicBufAPI::Copy(colours.buf, *source));
        if (level != RedrawLevelOriginal) QuantizeColors(colours.buf, level);
        Progress(1);
        if (!AbortPolled() && HasSamples(*source)) {
            FuseStrokes(colours.buf, result);
            Require(CBxPicBufAPI::Copy(result, colours.buf));
        }
        Progress(1);
    } else {
        Progress(2);
    }
}
