#include "engines/smudge/smudge.h"

#include <algorithm>
#include <new>

#include "engines/engine_common.h"
#include "picbuf/cimg_bridge.h"
#include "picbuf/run_control.h"

namespace {

void Step(int steps) {
    ReportProgress(steps, ProgressRule::WhenBarShown);
}

CImgF GuideField(const SBxPicBuf& source, const SmudgeArguments& a) {
    PicBufHolder guide;
    if (!MakeGuidePlane(guide.buf, source)) throw std::bad_alloc();
    return ComputeDiffusionTensors(guide.buf, a.sharpness, a.alpha, a.sigma);
}

// Smooths every component of in along field into out (same geometry), one
// progress step per component; stops after the component during which the
// abort flag was raised. Only the pixels of keep (in in's coordinates) need
// to be right: the rest is context that the caller discards.
void SmoothComponents(SBxPicBuf& out, const SBxPicBuf& in, const CImgF& field, const CBxRect& keep,
                      SmudgeComponents mode) {
    if (mode == SmudgeComponents::Together) {
        CImgF image = ImportPicture(in);
        SmoothAlongTensorsInside(image, field, keep);
        ExportPicture(image, out);
        for (int c = 0; c < in.components; ++c) {
            Step(1);
            if (AbortPolled()) return;
        }
        return;
    }
    for (int c = 0; c < in.components; ++c) {
        {
            PicBufHolder plane, smoothed;
            AllocatePicture(plane.buf, in.width, in.height, 1, in.bitsPerComponent);
            CBxPicBufAPI::ExtractComponent(plane.buf, c, in);
            CImgF image = ImportPlane(plane.buf);
            SmoothAlongTensors(image, field);
            AllocatePicture(smoothed.buf, in.width, in.height, 1, in.bitsPerComponent);
            ExportPlane(image, smoothed.buf);
            CBxPicBufAPI::InsertComponent(out, c, smoothed.buf);
        }
        Step(1);
        if (AbortPolled()) return;
    }
}

}  // namespace

SmudgeParams SmudgeParamsFromPositions(const std::vector<int>& positions) {
    const auto value = [&](int index) { return ParamValue(kSmudgeParams[index], positions.at(index)); };
    SmudgeParams params;
    params.details = value(kSmudgeDetails);
    params.prolongation = value(kSmudgeProlongation);
    params.sigma = value(kSmudgeSigma);
    return params;
}

SmudgeArguments SmudgeArgumentsOf(const SmudgeParams& p) {
    return SmudgeArguments{(100.0f - p.prolongation) / 200.0f, p.details / 25.0f, p.sigma / 10.0f + 1.0f};
}

int SmudgeProgressTotal(const SBxPicBuf& source) {
    if (ProcessedWhole(source.width, source.height)) {
        if (source.components == 1) return 1;
        if (source.components == 3) return 4;
        return 0;
    }
    return 3 + RepaintTileCount(source.width, source.height) * source.components;
}

void SmudgeWhole(SBxPicBuf& result, const SBxPicBuf& source, const SmudgeParams& params) {
    if (!ResultFits(result, source)) return;
    const SmudgeArguments a = SmudgeArgumentsOf(params);
    if (source.components == 1) {
        // The picture is its own plane and field source. No poll of its own:
        // an abort cuts both CImg steps short and the caller discards the result.
        CImgF image = ImportPlane(source);
        CImgF field = ComputeDiffusionTensors(image, a.sharpness, a.alpha, a.sigma);
        SmoothAlongTensors(image, field);
        Step(1);
        ExportPlane(image, result);
        return;
    }
    if (source.components != 3) return;

    CImgF field = GuideField(source, a);
    Step(1);
    if (AbortPolled()) return;
    SmoothComponents(result, source, field, CBxRect{0, 0, source.width, source.height}, params.components);
}

void SmudgeTiled(SBxPicBuf& result, const SBxPicBuf& source, const SmudgeParams& params) {
    if (ProcessedWhole(source.width, source.height) || !ResultFits(result, source)) return;

    CImgF field = GuideField(source, SmudgeArgumentsOf(params));
    Step(3);
    if (AbortPolled()) return;

    for (const RepaintTile& tile : RepaintTileGrid(source.width, source.height, kSmudgeTileMargin)) {
        const CBxRect& in = tile.inner;
        const CBxRect& out = tile.outer;
        const int width = out.right - out.left, height = out.bottom - out.top;
        PicBufHolder tileIn, tileOut;
        AllocatePicture(tileIn.buf, width, height, source.components, source.bitsPerComponent);
        AllocatePicture(tileOut.buf, width, height, source.components, source.bitsPerComponent);
        CBxPicBufAPI::CopyRect(tileIn.buf, source, CBxPoint{0, 0}, CBxPoint{out.left, out.top},
                               CBxSize{width, height});
        // Components left out by an abort then keep the source's values
        // rather than whatever the fresh block held.
        if (params.components == SmudgeComponents::OneByOne) CBxPicBufAPI::Copy(tileOut.buf, tileIn.buf);

        {
            CImgF tileField = CropTensorField(field, out.left, out.top, out.right - 1, out.bottom - 1);
            const CBxRect keep{in.left - out.left, in.top - out.top, in.right - out.left, in.bottom - out.top};
            SmoothComponents(tileOut.buf, tileIn.buf, tileField, keep, params.components);
        }

        // Only the inner rectangle goes back: the margins were context.
        CBxPicBufAPI::CopyRect(result, tileOut.buf, CBxPoint{in.left, in.top},
                               CBxPoint{in.left - out.left, in.top - out.top},
                               CBxSize{in.right - in.left, in.bottom - in.top});
        if (AbortPolled()) return;
    }
}

void SmudgeRepaint(SBxPicBuf& result, const SBxPicBuf& source, const SmudgeParams& params) {
    if (!ResultFits(result, source)) return;
    if (result.pixels == source.pixels) {
        // Tiles read context that earlier tiles would already have written.
        PicBufHolder copy;
        AllocatePicture(copy.buf, source.width, source.height, source.components, source.bitsPerComponent);
        CBxPicBufAPI::Copy(copy.buf, source);
        SmudgeRepaint(result, copy.buf, params);
        return;
    }
    if (ProcessedWhole(source.width, source.height))
        SmudgeWhole(result, source, params);
    else
        SmudgeTiled(result, source, params);
}
