// The image view's render from its cache, as panning and wheel zoom do it:
// a 12-megapixel 8-bit colour cache (4000 x 3000) drawn into a 1600 x 1000
// view of the 3000 x 2000 back buffer (background fill, then the transform),
// at fit, 100 %, 400 % and 800 %, with the anchor moving between renders as
// in a drag. Prints milliseconds per render (median, fastest and slowest of
// the runs; on a busy machine the fastest is the truest) for each
// interpolation; bilinear is the editor's. Also prints the one-off cost of
// making the cache from an opened picture.
//
//   bench_view_render [runs]   (default 40 renders per case)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picbuf/picbuf.h"

namespace {

const int kPictureWidth = 4000, kPictureHeight = 3000;
const int kViewWidth = 1600, kViewHeight = 1000;
const int kBackWidth = 3000, kBackHeight = 2000;
const uint8_t kBackground = 48;

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Gradients with a little structure, so no row is like another.
void FillPicture(SBxPicBuf& picture) {
    for (int y = 0; y < picture.height; ++y) {
        uint8_t* row = PicRow(picture, y);
        for (int x = 0; x < picture.width; ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 255 / picture.width);
            row[3 * x + 1] = static_cast<uint8_t>(y * 255 / picture.height);
            row[3 * x + 2] = static_cast<uint8_t>((x ^ y) & 0xFF);
        }
    }
}

typedef bool (*Transform)(SBxPicBuf&, const SBxPicBuf&, const CBxPicMap&);

struct Figures {
    double median;
    double fastest;
    double slowest;
};

Figures Measure(SBxPicBuf& view, const SBxPicBuf& cache, Transform transform, double scale, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        // A drag: the picture point under the view's centre moves a little each time.
        double srcX = kPictureWidth / 2.0 + (i % 20) * 7.0 / scale;
        double srcY = kPictureHeight / 2.0 + (i % 10) * 5.0 / scale;
        CBxPicMap map(kViewWidth / 2.0, kViewHeight / 2.0, srcX, srcY, 0.0, scale);
        Clock::time_point start = Clock::now();
        CBxPicBufAPI::SetConst(view, CBxRect{0, 0, view.width, view.height}, kBackground);
        if (!transform(view, cache, map)) {
            std::fprintf(stderr, "the transform refused its arguments\n");
            std::exit(1);
        }
        times.push_back(Milliseconds(start));
    }
    std::sort(times.begin(), times.end());
    return Figures{times[times.size() / 2], times.front(), times.back()};
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;

    PicBufHolder opened;
    if (!CBxPicBufAPI::ReinitHeap(opened.buf, kPictureWidth, kPictureHeight, 3, 8)) {
        std::fprintf(stderr, "cannot allocate the picture\n");
        return 1;
    }
    FillPicture(opened.buf);

    // The cache as the view makes it when a picture is opened.
    PicBufHolder cache;
    Clock::time_point start = Clock::now();
    bool made = CBxPicBufAPI::ReinitHeap(cache.buf, opened.buf) && CBxPicBufAPI::Copy(cache.buf, opened.buf) &&
                CBxPicBufAPI::ConvertBpcComp(cache.buf, 8, 3);
    double cacheMs = Milliseconds(start);
    if (!made) {
        std::fprintf(stderr, "cannot make the cache\n");
        return 1;
    }

    // The view: the top-left 1600 x 1000 of the back buffer, with its pitch.
    std::vector<uint8_t> back(static_cast<size_t>(kBackWidth) * 3 * kBackHeight, kBackground);
    SBxPicBuf view{back.data(), static_cast<int32_t>(back.size()), kBackWidth * 3, kViewWidth, kViewHeight, 3, 8};

    std::printf("view render from the cache: %d x %d picture into a %d x %d view, %d renders per case\n",
                kPictureWidth, kPictureHeight, kViewWidth, kViewHeight, runs);
    std::printf("making the cache once (copy, 8-bit colour): %.1f ms\n", cacheMs);
    const double fit = std::min(static_cast<double>(kViewWidth) / kPictureWidth,
                                static_cast<double>(kViewHeight) / kPictureHeight);
    struct Case {
        const char* name;
        double scale;
    } cases[] = {{"fit", fit}, {"100 %", 1.0}, {"400 %", 4.0}, {"800 %", 8.0}};
    struct Method {
        const char* name;
        Transform transform;
    } methods[] = {{"bilinear", CBxPicBufAPI::TransformBilinearFast},
                   {"nearest", CBxPicBufAPI::TransformConstantFast},
                   {"bicubic", CBxPicBufAPI::TransformBicubicFast}};
    for (const Method& method : methods) {
        for (const Case& c : cases) {
            Figures figures = Measure(view, cache.buf, method.transform, c.scale, runs);
            std::printf("%-8s %-6s (scale %.3f): %6.2f ms per render (fastest %6.2f, slowest %6.2f)\n", method.name,
                        c.name, c.scale, figures.median, figures.fastest, figures.slowest);
        }
    }
    return 0;
}
