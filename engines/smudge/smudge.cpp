#include "engines/smudge/smudge.h"

#include <algorithm>
#include <new>

#include "picbuf/cimg_bridge.h"
#include "picbuf/run_control.h"

namespace {

void Step(int steps) {
    ReportProgress(steps, ProgressRule::WhenBarShown);
}

// Picture buffer operations report a short memory by leaving pixels null;
// the engine turns that into the exception its callers already handle for
// CImg's own allocations, rather than going on with a half-made picture.
void Allocate(SBxPicBuf& buf, int width, int height, int components, int bitsPerComponent) {
    if (!CBxPicBufAPI::ReinitHeap(buf, width, height, components, bitsPerComponent) || !buf.pixels)
        throw std::bad_alloc();
}

CImgF GuideField(const SBxPicBuf& source, float sharpness, float alpha, float sigma) {
    PicBufHolder guide;
    if (!MakeGuidePlane(guide.buf, source)) throw std::bad_alloc();
    return ComputeDiffusionTensors(guide.buf, sharpness, alpha, sigma);
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
            Allocate(plane.buf, in.width, in.height, 1, in.bitsPerComponent);
            CBxPicBufAPI::ExtractComponent(plane.buf, c, in);
            CImgF image = ImportPlane(plane.buf);
            SmoothAlongTensors(image, field);
            Allocate(smoothed.buf, in.width, in.height, 1, in.bitsPerComponent);
            ExportPlane(image, smoothed.buf);
            CBxPicBufAPI::InsertComponent(out, c, smoothed.buf);
        }
        Step(1);
        if (AbortPolled()) return;
    }
}

// A source with pixels and a result of its geometry.
bool Fits(const SBxPicBuf& result, const SBxPicBuf& source) {
    return source.pixels && result.pixels && source.width > 0 && source.height > 0 &&
           result.width == source.width && result.height == source.height &&
           result.components == source.components && result.bitsPerComponent == source.bitsPerComponent;
}

}  // namespace

SmudgeArguments SmudgeArgumentsFromSliders(float details, float prolongation, float sigma) {
    return SmudgeArguments{(100.0f - prolongation) / 200.0f, details / 25.0f, sigma / 10.0f + 1.0f};
}

SmudgeArguments SmudgeArgumentsFromSliders(const SmudgeJob& job) {
    return SmudgeArgumentsFromSliders(job.details, job.prolongation, job.sigma);
}

std::vector<SmudgeTile> SmudgeTileGrid(int width, int height) {
    std::vector<SmudgeTile> tiles;
    if (width < kSmudgeTileSize || height < kSmudgeTileSize) return tiles;
    const int nx = width / kSmudgeTileSize, ny = height / kSmudgeTileSize;
    const double stepX = (width + 1.0) / nx, stepY = (height + 1.0) / ny;
    tiles.reserve(static_cast<size_t>(nx) * ny);
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            SmudgeTile tile;
            tile.inner.left = static_cast<int>(i * stepX);
            tile.inner.right = static_cast<int>(std::min((i + 1) * stepX, static_cast<double>(width)));
            tile.inner.top = static_cast<int>(j * stepY);
            tile.inner.bottom = static_cast<int>(std::min((j + 1) * stepY, static_cast<double>(height)));
            tile.outer.left = std::max(tile.inner.left - kSmudgeTileMargin, 0);
            tile.outer.right = std::min(tile.inner.right + kSmudgeTileMargin, width);
            tile.outer.top = std::max(tile.inner.top - kSmudgeTileMargin, 0);
            tile.outer.bottom = std::min(tile.inner.bottom + kSmudgeTileMargin, height);
            tiles.push_back(tile);
        }
    }
    return tiles;
}

int SmudgeProgressTotal(const SBxPicBuf& source) {
    if (source.width < kSmudgeTileSize || source.height < kSmudgeTileSize) {
        if (source.components == 1) return 1;
        if (source.components == 3) return 4;
        return 0;
    }
    const int tiles = (source.width / kSmudgeTileSize) * (source.height / kSmudgeTileSize);
    return 3 + tiles * source.components;
}

void SmudgeWhole(SBxPicBuf& result, const SBxPicBuf& source, float sharpness, float alpha, float sigma,
                 SmudgeComponents components) {
    if (!Fits(result, source)) return;
    if (source.components == 1) {
        // The picture is its own plane and field source. No poll of its own:
        // an abort cuts both CImg steps short and the caller discards the result.
        CImgF image = ImportPlane(source);
        CImgF field = ComputeDiffusionTensors(image, sharpness, alpha, sigma);
        SmoothAlongTensors(image, field);
        Step(1);
        ExportPlane(image, result);
        return;
    }
    if (source.components != 3) return;

    CImgF field = GuideField(source, sharpness, alpha, sigma);
    Step(1);
    if (AbortPolled()) return;
    SmoothComponents(result, source, field, CBxRect{0, 0, source.width, source.height}, components);
}

void SmudgeTiled(SBxPicBuf& result, const SBxPicBuf& source, float sharpness, float alpha, float sigma,
                 SmudgeComponents components) {
    const std::vector<SmudgeTile> tiles = SmudgeTileGrid(source.width, source.height);
    if (tiles.empty() || !Fits(result, source)) return;

    CImgF field = GuideField(source, sharpness, alpha, sigma);
    Step(3);
    if (AbortPolled()) return;

    for (const SmudgeTile& tile : tiles) {
        const CBxRect& in = tile.inner;
        const CBxRect& out = tile.outer;
        const int width = out.right - out.left, height = out.bottom - out.top;
        PicBufHolder tileIn, tileOut;
        Allocate(tileIn.buf, width, height, source.components, source.bitsPerComponent);
        Allocate(tileOut.buf, width, height, source.components, source.bitsPerComponent);
        CBxPicBufAPI::CopyRect(tileIn.buf, source, CBxPoint{0, 0}, CBxPoint{out.left, out.top},
                               CBxSize{width, height});
        // Components left out by an abort then keep the source's values
        // rather than whatever the fresh block held.
        if (components == SmudgeComponents::OneByOne) CBxPicBufAPI::Copy(tileOut.buf, tileIn.buf);

        {
            CImgF tileField = CropTensorField(field, out.left, out.top, out.right - 1, out.bottom - 1);
            const CBxRect keep{in.left - out.left, in.top - out.top, in.right - out.left, in.bottom - out.top};
            SmoothComponents(tileOut.buf, tileIn.buf, tileField, keep, components);
        }

        // Only the inner rectangle goes back: the margins were context.
        CBxPicBufAPI::CopyRect(result, tileOut.buf, CBxPoint{in.left, in.top},
                               CBxPoint{in.left - out.left, in.top - out.top},
                               CBxSize{in.right - in.left, in.bottom - in.top});
        if (AbortPolled()) return;
    }
}

void SmudgeRepaint(SBxPicBuf& result, const SBxPicBuf& source, float sharpness, float alpha, float sigma,
                   SmudgeComponents components) {
    if (!Fits(result, source)) return;
    if (result.pixels == source.pixels) {
        // Tiles read context that earlier tiles would already have written.
        PicBufHolder copy;
        Allocate(copy.buf, source.width, source.height, source.components, source.bitsPerComponent);
        CBxPicBufAPI::Copy(copy.buf, source);
        SmudgeRepaint(result, copy.buf, sharpness, alpha, sigma, components);
        return;
    }
    if (source.width < kSmudgeTileSize || source.height < kSmudgeTileSize)
        SmudgeWhole(result, source, sharpness, alpha, sigma, components);
    else
        SmudgeTiled(result, source, sharpness, alpha, sigma, components);
}
