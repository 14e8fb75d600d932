#include <chrono>
#include <thread>

#include "engines/engine_common.h"
#include "engines/smudge/smudge.h"
#include "test_support.h"

namespace {

const uint8_t kUnwritten = 0xFF;  // no smoothed sample of a mid-range picture is 255 or 65535
const CBxRect kLeft{0, 0, 500, 500}, kRight{500, 0, 1000, 500};  // the tiles of a 1000 x 500 picture

void Repaint(SBxPicBuf& result, const SBxPicBuf& source, SmudgeComponents mode = SmudgeComponents::Together,
             const std::vector<int>& positions = DefaultPositions(kSmudgeParams)) {
    SmudgeParams params = SmudgeParamsFromPositions(positions);
    params.components = mode;
    SmudgeRepaint(result, source, params);
}

// A test picture squeezed into the middle of the range, and a result of its
// geometry filled with kUnwritten bytes.
void MakeSourceAndResult(PicBufHolder& source, PicBufHolder& result, int width, int height, int components,
                         int bitsPerComponent = 8) {
    MakeTestPicture(source, width, height, components, bitsPerComponent);
    const double top = bitsPerComponent == 8 ? 255 : 65535;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                SetSample(source.buf, x, y, c, std::floor(top * 0.08 + SampleAt(source.buf, x, y, c) * 0.84));
    MakeFilled(result, width, height, components, bitsPerComponent, kUnwritten);
}

// Samples of component c inside rect that still hold kUnwritten.
int Unwritten(const SBxPicBuf& buf, const CBxRect& rect, int c) {
    PicBufHolder blank;
    MakeFilled(blank, buf.width, buf.height, buf.components, buf.bitsPerComponent, kUnwritten);
    return (rect.right - rect.left) * (rect.bottom - rect.top) - DifferentSamples(buf, blank.buf, rect, c);
}

}  // namespace

// The bytes of whole-picture repaints, recorded when the engine was right:
// the sliders' mapping to CImg's sharpness, alpha and sigma at both ends of
// their ranges, the grey guide of a colour picture and both depths show
// here. Record anew only for a change of the look that is meant. The
// engine's single pass over all components gives the bytes of CImg's
// smoothing one component at a time.
TEST(Smudge, KeepsItsLookAndItsProgressWhole) {
    struct Case {
        std::vector<int> positions;
        int width, components, depth;
        uint64_t hash;
    } cases[] = {{{10, 50, 30}, 48, 3, 8, 2294080537729093974u}, {{1, 1, 0}, 48, 3, 16, 4004551998103529445u},
                 {{100, 100, 100}, 48, 3, 8, 17664563416294765505u},
                 {{10, 50, 30}, 510, 1, 8, 721404297528540699u},  // wide enough for tiles but too low: processed whole
                 {{40, 80, 60}, 48, 1, 16, 1361061384040532968u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.depth) + " bits, " + std::to_string(c.components) + " components");
        PicBufHolder source, result, oneByOne;
        MakeSourceAndResult(source, result, c.width, 30, c.components, c.depth);
        {
            ProgressCounter counter;
            Repaint(result.buf, source.buf, SmudgeComponents::Together, c.positions);
            EXPECT_EQ(counter.steps(), c.components == 1 ? 1 : 4);
            EXPECT_EQ(counter.steps(), SmudgeProgressTotal(source.buf));
            EXPECT_EQ(counter.alwaysSteps(), 0) << "steps go out only while the bar is shown";
        }
        EXPECT_EQ(PixelHash(result.buf), c.hash);
        CopyOf(oneByOne, source.buf);
        Repaint(oneByOne.buf, source.buf, SmudgeComponents::OneByOne, c.positions);
        EXPECT_TRUE(SamePixels(oneByOne.buf, result.buf));
    }
    // A result of another geometry is left alone.
    PicBufHolder source, wrongDepth;
    MakeSourceAndResult(source, wrongDepth, 60, 40, 3, 16);
    MakeFilled(wrongDepth, 60, 40, 3, 8, kUnwritten);
    ProgressCounter counter;
    Repaint(wrongDepth.buf, source.buf);
    EXPECT_EQ(Unwritten(wrongDepth.buf, CBxRect{0, 0, 60, 40}, 0), 60 * 40);
    EXPECT_EQ(counter.steps(), 0);
}

// The tile grid (Original's too, there with margins of 70) covers the
// picture once, in steps of (width + 1) / columns, row by row, with margins
// clipped at the picture's edges.
TEST(Smudge, TilesCoverThePictureOnceWithClippedMargins) {
    for (auto [width, height] : {std::pair{499, 3000}, {3000, 499}, {500, 500}, {1499, 2001}, {3001, 1999}, {999, 500}}) {
        const std::vector<RepaintTile> tiles = RepaintTileGrid(width, height, 50);
        ASSERT_EQ(tiles.size(), static_cast<size_t>(std::max(1, (width / 500) * (height / 500))));
        ASSERT_EQ(tiles.size(), static_cast<size_t>(RepaintTileCount(width, height)));
        std::vector<uint8_t> cover(static_cast<size_t>(width) * height, 0);
        for (const RepaintTile& tile : tiles)
            for (int y = tile.inner.top; y < tile.inner.bottom; ++y)
                for (int x = tile.inner.left; x < tile.inner.right; ++x) ++cover[static_cast<size_t>(y) * width + x];
        EXPECT_EQ(std::count(cover.begin(), cover.end(), 1), static_cast<long>(cover.size())) << width << "x" << height;
    }
    const std::vector<RepaintTile> tiles = RepaintTileGrid(1499, 1000, 50);
    const CBxRect first = tiles[0].outer, last = tiles[3].outer;
    EXPECT_EQ(std::vector<int>({tiles[1].inner.left, tiles[2].inner.left, tiles[2].inner.top, first.left, first.top,
                                first.right, first.bottom, last.left, last.top, last.right, last.bottom}),
              std::vector<int>({750, 0, 500, 0, 0, 800, 550, 700, 450, 1499, 1000}));
    EXPECT_EQ(SmudgeProgressTotal(SBxPicBuf{nullptr, 0, 0, 1000, 1000, 3, 8}), 3 + 4 * 3);
}

// Tiles smooth with crops of the whole-picture field and 50 pixels of
// context, further than any streamline reaches, so the tiled result matches
// the whole-picture one up to rare float rounding of streamline positions.
// Neither the number of threads nor repainting in place changes a byte.
// A grey picture stands for all: the components share the field and the tiles.
TEST(Smudge, TilesMatchTheWholePictureInAnyThreadCountAndInPlace) {
    PicBufHolder source, tiled, inPlace, whole;
    MakeSourceAndResult(source, tiled, 1000, 500, 1);
    {
        OmpThreads two(2);
        ProgressCounter counter;
        Repaint(tiled.buf, source.buf);
        EXPECT_EQ(counter.steps(), 3 + 2);
        EXPECT_EQ(counter.steps(), SmudgeProgressTotal(source.buf));
        EXPECT_EQ(counter.alwaysSteps(), 0);
    }
    {
        OmpThreads one(1);
        CopyOf(inPlace, source.buf);
        Repaint(inPlace.buf, inPlace.buf);
    }
    EXPECT_TRUE(SamePixels(inPlace.buf, tiled.buf));
    CopyOf(whole, source.buf);
    SmudgeWhole(whole.buf, source.buf, SmudgeParamsFromPositions(DefaultPositions(kSmudgeParams)));
    int differ = 0, largest = 0;
    for (int i = 0; i < 1000 * 500; ++i) {
        const int d = std::abs(tiled->pixels[i] - whole->pixels[i]);
        differ += d != 0;
        largest = std::max(largest, d);
    }
    EXPECT_EQ(Unwritten(tiled.buf, CBxRect{0, 0, 1000, 500}, 0), 0);
    EXPECT_LT(differ, 500) << "of 500000 samples";
    EXPECT_LE(largest, 8);
}

TEST(Smudge, AbortStopsBetweenAndInsideTheSteps) {
    PicBufHolder source, result, together;
    MakeSourceAndResult(source, result, 1000, 500, 3);
    auto run = [&](PicBufHolder& out, SmudgeComponents mode, int abortAfter) {
        ProgressCounter counter(abortAfter);
        MakeFilled(out, 1000, 500, 3, 8, kUnwritten);
        Repaint(out.buf, source.buf, mode);
        return counter.steps();
    };
    EXPECT_EQ(run(result, SmudgeComponents::OneByOne, 3), 3);  // after the field: nothing written
    EXPECT_EQ(Unwritten(result.buf, CBxRect{0, 0, 1000, 500}, 0), 1000 * 500);
    // Together, after the first tile: it is finished, the second never started.
    EXPECT_EQ(run(together, SmudgeComponents::Together, 4), 4);
    // One by one, after two components of the first tile: the third keeps the source's values.
    EXPECT_EQ(run(result, SmudgeComponents::OneByOne, 5), 5);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(DifferentSamples(result.buf, c < 2 ? together.buf : source.buf, kLeft, c), 0) << c;
        EXPECT_GT(DifferentSamples(together.buf, source.buf, kLeft, c), 100000);
        EXPECT_EQ(Unwritten(together.buf, kRight, c) + Unwritten(result.buf, kRight, c), 2 * 500 * 500);
    }

    // The flag raised while the first tile is smoothed: that smoothing is cut
    // short, the tile is written back as it was and nothing else is processed.
    MakeFilled(result, 1000, 500, 3, 8, kUnwritten);
    ProgressCounter counter;
    int stepsWhenRaised = -1;
    std::thread raiser([&] {
        while (counter.steps() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stepsWhenRaised = counter.steps();
        RequestAbort(true);
    });
    Repaint(result.buf, source.buf);
    const bool raisedInTime = AbortPolled();
    raiser.join();
    ASSERT_TRUE(raisedInTime) << "the run ended before the flag was raised";
    if (stepsWhenRaised != 3) GTEST_SKIP() << "the flag came too late to land inside the smoothing";
    EXPECT_EQ(counter.steps(), 4);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(DifferentSamples(result.buf, source.buf, kLeft, c), 0) << "the smoothing was cut short";
        EXPECT_EQ(Unwritten(result.buf, kRight, c), 500 * 500);
    }
}

// Under the tiling threshold a colour picture stops after its field; a grey
// one has no poll of its own: its step still runs, cut short inside CImg,
// and the unsmoothed picture is written.
TEST(Smudge, AbortOfAWholePicture) {
    for (int components : {3, 1}) {
        PicBufHolder source, result;
        MakeSourceAndResult(source, result, 200, 100, components);
        ProgressCounter counter(1);
        if (components == 1) RequestAbort(true);
        Repaint(result.buf, source.buf);
        EXPECT_EQ(counter.steps(), 1);
        if (components == 3) EXPECT_EQ(Unwritten(result.buf, CBxRect{0, 0, 200, 100}, 1), 200 * 100);
        else EXPECT_TRUE(SamePixels(result.buf, source.buf));
    }
}
