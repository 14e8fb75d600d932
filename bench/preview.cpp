// Preview benchmark: the time of one 300 x 300 preview of each method,
// through the calls the editor's dialogs make, in the middle of a
// 12-megapixel picture; for Redraw also the time of the whole-picture edge
// plane its previews keep.
//
//   bench_preview [photo]
//
// With a photo it is scaled to 4000 x 3000 (bilinear); without one a
// synthetic picture of gradients, discs and noise is used.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "engines/original/original.h"
#include "engines/redraw/redraw.h"
#include "engines/smudge/smudge.h"
#include "picbuf/image_file.h"

namespace {

const int kWidth = 4000, kHeight = 3000, kRegion = 300, kRuns = 5;

void MakeSynthetic(SBxPicBuf& picture) {
    CBxPicBufAPI::ReinitHeap(picture, kWidth, kHeight, 3, 8);
    unsigned state = 12345u;
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = PicRow(picture, y);
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                double v = 0.5 + 0.35 * std::sin(0.011 * x * (c + 1) + 0.007 * y);
                const double dx = (x % 700) - 350.0, dy = (y % 600) - 300.0;
                if (dx * dx + dy * dy < 180.0 * 180.0) v = 0.15 + 0.2 * c;
                state = state * 1664525u + 1013904223u;
                v += ((state >> 16) % 1000) / 1000.0 * 0.06 - 0.03;
                row[x * 3 + c] = static_cast<uint8_t>(std::clamp(v * 255.0 + 0.5, 0.0, 255.0));
            }
    }
}

bool MakeSource(SBxPicBuf& source, const char* photoPath) {
    if (!photoPath) {
        MakeSynthetic(source);
        return source.pixels != nullptr;
    }
    PicBufHolder photo;
    if (!LoadPicture(photo.buf, photoPath)) return false;
    CBxPicBufAPI::ConvertBpcComp(photo.buf, 8, 3);
    if (!CBxPicBufAPI::ReinitHeap(source, kWidth, kHeight, 3, 8)) return false;
    std::memset(source.pixels, 0, source.size);
    const double scale = std::max(kWidth / static_cast<double>(photo->width), kHeight / static_cast<double>(photo->height));
    return CBxPicBufAPI::TransformBilinearFast(source, photo.buf, CBxPicMap(0, 0, 0, 0, 0, scale));
}

double Milliseconds(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The median of kRuns runs.
double Median(const std::function<void()>& run) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) times.push_back(Milliseconds(run));
    std::sort(times.begin(), times.end());
    return times[kRuns / 2];
}

}  // namespace

int main(int argc, char** argv) {
    PicBufHolder source;
    if (!MakeSource(source.buf, argc > 1 ? argv[1] : nullptr)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const CBxRect region{(kWidth - kRegion) / 2, (kHeight - kRegion) / 2, (kWidth + kRegion) / 2,
                         (kHeight + kRegion) / 2};
    PicBufHolder in, out;
    CBxPicBufAPI::ReinitHeap(in.buf, kRegion, kRegion, 3, 8);
    CBxPicBufAPI::ReinitHeap(out.buf, in.buf);
    CBxPicBufAPI::Copy(in.buf, source.buf, region);
    std::printf("300 x 300 preview in a %d x %d picture (%s), median of %d\n", kWidth, kHeight,
                argc > 1 ? argv[1] : "synthetic", kRuns);

    const OriginalParams original = OriginalParamsFromPositions(DefaultPositions(kOriginalParams));
    std::printf("  Original (defaults)            %7.1f ms\n", Median([&] { OriginalRepaint(out.buf, in.buf, original); }));
    OriginalParams flattened = original;
    flattened.flatten = true;
    std::printf("  Original (flattening on)       %7.1f ms\n", Median([&] { OriginalRepaint(out.buf, in.buf, flattened); }));

    const SmudgeParams smudge = SmudgeParamsFromPositions(DefaultPositions(kSmudgeParams));
    std::printf("  Smudge (defaults)              %7.1f ms\n",
                Median([&] { SmudgeRepaint(out.buf, in.buf, smudge); }));

    RedrawParams job = RedrawParamsFromPositions(DefaultPositions(kRedrawParams));
    job.fuseToImage = true;
    RedrawPreviewCache cache;
    const double edges = Milliseconds([&] { RedrawPreview(out.buf, source.buf, region, job, cache); });
    std::printf("  Redraw edge plane (12 MP, once) %6.1f ms\n", edges);
    std::printf("  Redraw (fused, Normal level)   %7.1f ms\n",
                Median([&] { RedrawPreview(out.buf, source.buf, region, job, cache); }));
    job.fuseToImage = false;
    std::printf("  Redraw (strokes only)          %7.1f ms\n",
                Median([&] { RedrawPreview(out.buf, source.buf, region, job, cache); }));
    return 0;
}
