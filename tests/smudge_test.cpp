#include <chrono>
#include <thread>

#include "engines/engine_common.h"
#include "engines/smudge/smudge.h"
#include "picbuf/cimg_bridge.h"
#include "test_support.h"

namespace {

const SmudgeParams kDefaultParams = SmudgeParamsFromPositions(DefaultPositions(kSmudgeParams));
const SmudgeArguments kDefaults = SmudgeArgumentsOf(kDefaultParams);
const uint8_t kUnwritten = 0xFF;  // no smoothed sample of a mid-range picture is 255 or 65535
const CBxRect kLeft{0, 0, 500, 500}, kRight{500, 0, 1000, 500};  // the tiles of a 1000 x 500 picture

void Repaint(SBxPicBuf& result, const SBxPicBuf& source, SmudgeComponents mode = SmudgeComponents::Together) {
    SmudgeParams params = kDefaultParams;
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

TEST(Smudge, SlidersMapToTheEngineArguments) {
    for (auto [got, expected] : {std::pair{kDefaults, SmudgeArguments{0.25f, 0.4f, 4.0f}},
                                 {SmudgeArgumentsOf(SmudgeParamsFromPositions({1, 1, 0})), {0.495f, 0.04f, 1.0f}},
                                 {SmudgeArgumentsOf(SmudgeParamsFromPositions({100, 100, 100})), {0.0f, 4.0f, 11.0f}}})
        EXPECT_EQ(std::vector<float>({got.sharpness, got.alpha, got.sigma}),
                  std::vector<float>({expected.sharpness, expected.alpha, expected.sigma}));
}

// The tile grid is the one Original uses too, there with margins of 70.
TEST(Smudge, TilesCoverThePictureOnceWithClippedMargins) {
    for (auto [width, height] : {std::pair{499, 3000}, {3000, 499}, {500, 500}, {1000, 1000}, {1499, 2001}, {3001, 1999}, {999, 500}}) {
        const std::vector<RepaintTile> tiles = RepaintTileGrid(width, height, 50);
        ASSERT_EQ(tiles.size(), static_cast<size_t>(std::max(1, (width / 500) * (height / 500))));
        ASSERT_EQ(tiles.size(), static_cast<size_t>(RepaintTileCount(width, height)));
        std::vector<uint8_t> cover(static_cast<size_t>(width) * height, 0);
        for (const RepaintTile& tile : tiles) {
            const CBxRect& in = tile.inner;
            EXPECT_EQ(std::vector<int>({tile.outer.left, tile.outer.top, tile.outer.right, tile.outer.bottom}),
                      std::vector<int>({std::max(in.left - 50, 0), std::max(in.top - 50, 0), std::min(in.right + 50, width),
                                        std::min(in.bottom + 50, height)}));
            for (int y = in.top; y < in.bottom; ++y)
                for (int x = in.left; x < in.right; ++x) ++cover[static_cast<size_t>(y) * width + x];
        }
        EXPECT_EQ(std::count(cover.begin(), cover.end(), 1), static_cast<long>(cover.size())) << width << "x" << height;
    }
    // The picture's own steps, (width + 1) / columns; row by row.
    const std::vector<RepaintTile> tiles = RepaintTileGrid(1499, 1000, 50);
    EXPECT_EQ(std::vector<int>({tiles[1].inner.left, tiles[2].inner.left, tiles[2].inner.top}), std::vector<int>({750, 0, 500}));
    EXPECT_EQ(SmudgeProgressTotal(SBxPicBuf{nullptr, 0, 0, 1000, 1000, 3, 8}), 3 + 4 * 3);
}

// A grey picture steers itself; a colour picture is steered by its grey
// guide, one field for all components. Both depths keep their own samples.
TEST(Smudge, WholePicturesSmoothAlongTheFieldOfTheGreyPictureOrGuide) {
    for (int depth : {8, 16})
        for (int components : {1, 3}) {
            SCOPED_TRACE(std::to_string(depth) + " bits, " + std::to_string(components) + " components");
            PicBufHolder source, result, expected, oneByOne, guide, plane;
            // Grey is wide enough for tiles but too low: processed whole.
            MakeSourceAndResult(source, result, components == 1 ? 510 : 48, 30, components, depth);
            {
                ProgressCounter counter;
                Repaint(result.buf, source.buf);
                EXPECT_EQ(counter.steps(), components == 1 ? 1 : 4);
                EXPECT_EQ(counter.steps(), SmudgeProgressTotal(source.buf));
                EXPECT_EQ(counter.alwaysSteps(), 0) << "steps go out only while the bar is shown";
            }
            ASSERT_TRUE(MakeGuidePlane(guide.buf, source.buf));
            const CImgF field = ComputeDiffusionTensors(guide.buf, kDefaults.sharpness, kDefaults.alpha, kDefaults.sigma);
            CopyOf(expected, source.buf);
            for (int c = 0; c < components; ++c) {
                CBxPicBufAPI::ExtractComponent(plane.buf, c, source.buf);
                CImgF image = ImportPlane(plane.buf);
                SmoothAlongTensors(image, field);
                ExportPlane(image, plane.buf);
                CBxPicBufAPI::InsertComponent(expected.buf, c, plane.buf);
            }
            EXPECT_TRUE(SamePixels(result.buf, expected.buf));
            EXPECT_FALSE(SamePixels(result.buf, source.buf));
            CopyOf(oneByOne, source.buf);
            Repaint(oneByOne.buf, source.buf, SmudgeComponents::OneByOne);
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
    SmudgeWhole(whole.buf, source.buf, kDefaultParams);
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
