#include <gtest/gtest.h>

#include <omp.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "engines/smudge/smudge.h"
#include "picbuf/cimg_bridge.h"
#include "test_support.h"

namespace {

const SmudgeArguments kDefaults = SmudgeArgumentsFromSliders(SmudgeJob{});
const uint8_t kUnwritten = 0xFF;  // no smoothed sample of a mid-range picture is 255 or 65535

void Repaint(SBxPicBuf& result, const SBxPicBuf& source, SmudgeComponents mode = SmudgeComponents::Together) {
    SmudgeRepaint(result, source, kDefaults.sharpness, kDefaults.alpha, kDefaults.sigma, mode);
}

// A test picture with its samples squeezed into the middle of the range, and
// a result of its geometry filled with kUnwritten bytes.
void MakeSourceAndResult(PicBufHolder& source, PicBufHolder& result, int width, int height, int components,
                         int bitsPerComponent = 8) {
    MakeTestPicture(source, width, height, components, bitsPerComponent);
    const int bytes = BytesPerSample(bitsPerComponent);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = PicRow(source.buf, y);
        for (int i = 0; i < width * components; ++i) {
            if (bytes == 1) row[i] = static_cast<uint8_t>(20 + row[i] * 200 / 255);
            else {
                uint16_t* word = reinterpret_cast<uint16_t*>(row) + i;
                *word = static_cast<uint16_t>(5000u + static_cast<uint32_t>(*word) * 55000u / 65535u);
            }
        }
    }
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(result.buf, source.buf));
    CBxPicBufAPI::SetConst(result.buf, CBxRect{0, 0, width, height}, kUnwritten);
}

// Samples of component c inside rect that still hold kUnwritten.
int Unwritten(const SBxPicBuf& buf, const CBxRect& rect, int c) {
    const double unwritten = buf.bitsPerComponent == 8 ? 0xFF : 0xFFFF;
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) count += SampleAt(buf, x, y, c) == unwritten;
    return count;
}

bool SameInRect(const SBxPicBuf& a, const SBxPicBuf& b, const CBxRect& rect, int c) {
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            if (SampleAt(a, x, y, c) != SampleAt(b, x, y, c)) return false;
    return true;
}

// Raises the abort flag 20 ms after counter has seen trigger steps, from
// another thread, so that it arrives in the middle of the smoothing that
// follows those steps. Remembers how many steps had been reported by then.
class AbortLater {
public:
    AbortLater(const ProgressCounter& counter, int trigger)
        : raiser_([this, &counter, trigger] {
              while (counter.steps() < trigger && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
              std::this_thread::sleep_for(std::chrono::milliseconds(20));
              stepsWhenRaised_ = counter.steps();
              RequestAbort(true);
          }) {}
    ~AbortLater() {
        if (raiser_.joinable()) join();
    }
    // Waits for the flag; the steps reported when it was raised.
    int join() {
        stop_ = true;
        raiser_.join();
        return stepsWhenRaised_;
    }

private:
    std::atomic<bool> stop_{false};
    int stepsWhenRaised_ = -1;
    std::thread raiser_;
};

}  // namespace

// A colour picture of two tiles side by side and its complete results, each
// made once per test program on first use (the smoothing is slow under the
// sanitizers, and ctest runs every test in a program of its own).
class SmudgeTwoTiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        source_ = new PicBufHolder;
        PicBufHolder unused;
        MakeSourceAndResult(*source_, unused, 1000, 500, 3);
    }
    static void TearDownTestSuite() {
        for (PicBufHolder** held : {&source_, &together_, &oneByOne_}) delete *held, *held = nullptr;
    }
    static const SBxPicBuf& Source() { return source_->buf; }
    static const SBxPicBuf& Together() { return Complete(together_, SmudgeComponents::Together); }
    static const SBxPicBuf& OneByOne() { return Complete(oneByOne_, SmudgeComponents::OneByOne); }
    // A fresh result of the source's geometry, all kUnwritten.
    static void FreshResult(PicBufHolder& result) {
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(result.buf, Source()));
        CBxPicBufAPI::SetConst(result.buf, all, kUnwritten);
    }
    static constexpr CBxRect all{0, 0, 1000, 500}, left{0, 0, 500, 500}, right{500, 0, 1000, 500};

private:
    static const SBxPicBuf& Complete(PicBufHolder*& held, SmudgeComponents mode) {
        if (!held) {
            held = new PicBufHolder;
            CBxPicBufAPI::ReinitHeap(held->buf, Source());
            const int threads = omp_get_max_threads();
            omp_set_num_threads(2);  // the parallel loops really split the work
            Repaint(held->buf, Source(), mode);
            omp_set_num_threads(threads);
        }
        return held->buf;
    }
    static PicBufHolder* source_;
    static PicBufHolder* together_;
    static PicBufHolder* oneByOne_;
};
PicBufHolder* SmudgeTwoTiles::source_ = nullptr;
PicBufHolder* SmudgeTwoTiles::together_ = nullptr;
PicBufHolder* SmudgeTwoTiles::oneByOne_ = nullptr;

TEST(SmudgeSliders, MapToTheEngineArguments) {
    const SmudgeArguments defaults = SmudgeArgumentsFromSliders(SmudgeJob{});
    EXPECT_FLOAT_EQ(defaults.sharpness, 0.25f);
    EXPECT_FLOAT_EQ(defaults.alpha, 0.4f);
    EXPECT_FLOAT_EQ(defaults.sigma, 4.0f);

    const SmudgeArguments low = SmudgeArgumentsFromSliders(1, 1, 0);
    EXPECT_FLOAT_EQ(low.sharpness, 0.495f);
    EXPECT_FLOAT_EQ(low.alpha, 0.04f);
    EXPECT_FLOAT_EQ(low.sigma, 1.0f);
    const SmudgeArguments high = SmudgeArgumentsFromSliders(100, 100, 100);
    EXPECT_EQ(high.sharpness, 0.0f);
    EXPECT_FLOAT_EQ(high.alpha, 4.0f);
    EXPECT_FLOAT_EQ(high.sigma, 11.0f);
}

TEST(SmudgeTileGrid, CutsPicturesAtTheirOwnSteps) {
    auto columns = [](int width) {
        std::vector<std::pair<int, int>> ranges;
        for (const SmudgeTile& tile : SmudgeTileGrid(width, 500)) ranges.push_back({tile.inner.left, tile.inner.right});
        return ranges;
    };
    EXPECT_EQ(columns(1000), (std::vector<std::pair<int, int>>{{0, 500}, {500, 1000}}));
    EXPECT_EQ(columns(1499), (std::vector<std::pair<int, int>>{{0, 750}, {750, 1499}}));
    EXPECT_EQ(columns(500), (std::vector<std::pair<int, int>>{{0, 500}}));

    EXPECT_TRUE(SmudgeTileGrid(499, 3000).empty()) << "one dimension under 500 is processed whole";
    const std::vector<SmudgeTile> single = SmudgeTileGrid(500, 500);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].inner.right, 500);
    EXPECT_EQ(single[0].inner.bottom, 500);
    EXPECT_EQ(single[0].outer.left, 0);
    EXPECT_EQ(single[0].outer.right, 500);

    // Row by row; the edge at x = 500 lies inside both neighbours' margins.
    const std::vector<SmudgeTile> four = SmudgeTileGrid(1000, 1000);
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(four[1].inner.left, 500);
    EXPECT_EQ(four[1].inner.top, 0);
    EXPECT_EQ(four[2].inner.top, 500);
    EXPECT_EQ(four[0].outer.right, 550);
    EXPECT_EQ(four[1].outer.left, 450);
    EXPECT_EQ(four[3].outer.top, 450);
}

TEST(SmudgeTileGrid, InnerRectanglesCoverThePictureExactlyOnce) {
    for (auto size : {std::pair<int, int>{1000, 1000}, {1499, 2001}, {3001, 1999}, {4000, 3000}, {999, 500}}) {
        const int width = size.first, height = size.second;
        const std::vector<SmudgeTile> tiles = SmudgeTileGrid(width, height);
        ASSERT_EQ(tiles.size(), static_cast<size_t>((width / 500) * (height / 500)));
        std::vector<uint8_t> cover(static_cast<size_t>(width) * height, 0);
        for (const SmudgeTile& tile : tiles) {
            const CBxRect& in = tile.inner;
            EXPECT_GE(in.right - in.left, 500);
            EXPECT_LE(in.right - in.left, 999);
            EXPECT_EQ(tile.outer.left, std::max(in.left - 50, 0));
            EXPECT_EQ(tile.outer.right, std::min(in.right + 50, width));
            EXPECT_EQ(tile.outer.top, std::max(in.top - 50, 0));
            EXPECT_EQ(tile.outer.bottom, std::min(in.bottom + 50, height));
            for (int y = in.top; y < in.bottom; ++y)
                for (int x = in.left; x < in.right; ++x) ++cover[static_cast<size_t>(y) * width + x];
        }
        for (size_t i = 0; i < cover.size(); ++i)
            ASSERT_EQ(cover[i], 1) << width << "x" << height << " pixel " << i % width << "," << i / width;
    }
}

TEST(SmudgeProgress, ReportsTheTotalsTheDialogsExpect) {
    struct Case {
        int width, height, components, total;
    };
    for (const Case& c : {Case{120, 80, 1, 1}, Case{120, 80, 3, 4}, Case{2000, 600, 1, 3 + 4}}) {
        PicBufHolder source, result;
        MakeSourceAndResult(source, result, c.width, c.height, c.components);
        EXPECT_EQ(SmudgeProgressTotal(source.buf), c.total);
        ProgressCounter counter;
        Repaint(result.buf, source.buf);
        EXPECT_EQ(counter.steps(), c.total) << c.width << "x" << c.height << "x" << c.components;
        EXPECT_EQ(counter.alwaysSteps(), 0) << "steps go out only while the bar is shown";
        EXPECT_EQ(Unwritten(result.buf, CBxRect{0, 0, c.width, c.height}, c.components - 1), 0);
    }
    PicBufHolder colour;
    MakeTestPicture(colour, 1000, 1000, 3, 8);
    EXPECT_EQ(SmudgeProgressTotal(colour.buf), 3 + 4 * 3);
}

// A grey picture steers itself; a colour picture is steered by its grey
// guide, one field for all components. Both depths keep their own samples.
TEST(SmudgeWhole, SmoothsAlongTheFieldOfTheGreyPictureOrGuide) {
    for (int depth : {8, 16}) {
        PicBufHolder grey, greyResult;
        MakeSourceAndResult(grey, greyResult, 160, 120, 1, depth);
        Repaint(greyResult.buf, grey.buf);
        CImgF image = ImportPlane(grey.buf);
        SmoothAlongTensors(image, ComputeDiffusionTensors(image, kDefaults.sharpness, kDefaults.alpha,
                                                          kDefaults.sigma));
        PicBufHolder expected;
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(expected.buf, grey.buf));
        ExportPlane(image, expected.buf);
        EXPECT_TRUE(SamePixels(greyResult.buf, expected.buf)) << depth;
        EXPECT_FALSE(SamePixels(greyResult.buf, grey.buf));

        PicBufHolder colour, colourResult, guide;
        MakeSourceAndResult(colour, colourResult, 160, 120, 3, depth);
        Repaint(colourResult.buf, colour.buf);
        ASSERT_TRUE(MakeGuidePlane(guide.buf, colour.buf));
        const CImgF field = ComputeDiffusionTensors(guide.buf, kDefaults.sharpness, kDefaults.alpha, kDefaults.sigma);
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(expected.buf, colour.buf));
        for (int c = 0; c < 3; ++c) {
            PicBufHolder plane;
            CBxPicBufAPI::ExtractComponent(plane.buf, c, colour.buf);
            CImgF component = ImportPlane(plane.buf);
            SmoothAlongTensors(component, field);
            ExportPlane(component, plane.buf);
            CBxPicBufAPI::InsertComponent(expected.buf, c, plane.buf);
        }
        EXPECT_TRUE(SamePixels(colourResult.buf, expected.buf)) << depth;
    }
}

// Tiles smooth with crops of the whole-picture field and 50 pixels of
// context, further than any streamline reaches, so the tiled result matches
// the whole-picture one up to rare float rounding of streamline positions.
TEST(SmudgeTiled, WritesEveryPixelFromItsOwnTile) {
    PicBufHolder source, tiled, whole;
    MakeSourceAndResult(source, tiled, 1000, 1000, 1);
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(whole.buf, source.buf));
    Repaint(tiled.buf, source.buf);
    SmudgeWhole(whole.buf, source.buf, kDefaults.sharpness, kDefaults.alpha, kDefaults.sigma);
    EXPECT_EQ(Unwritten(tiled.buf, CBxRect{0, 0, 1000, 1000}, 0), 0);
    int differ = 0;
    double largest = 0;
    for (int y = 0; y < 1000; ++y)
        for (int x = 0; x < 1000; ++x) {
            const double d = std::fabs(SampleAt(tiled.buf, x, y, 0) - SampleAt(whole.buf, x, y, 0));
            differ += d != 0;
            largest = std::max(largest, d);
        }
    EXPECT_LT(differ, 1000) << "of 1000000 pixels";
    EXPECT_LE(largest, 8);
}

TEST_F(SmudgeTwoTiles, ComponentsTogetherGiveTheBytesOfOnePlaneAtATime) {
    EXPECT_TRUE(SamePixels(Together(), OneByOne()));
    EXPECT_EQ(Unwritten(Together(), all, 2), 0);
    for (auto depth : {8, 16}) {  // and the whole-picture path
        PicBufHolder small, smallTogether, smallOneByOne;
        MakeSourceAndResult(small, smallTogether, 300, 200, 3, depth);
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(smallOneByOne.buf, small.buf));
        Repaint(smallTogether.buf, small.buf, SmudgeComponents::Together);
        Repaint(smallOneByOne.buf, small.buf, SmudgeComponents::OneByOne);
        EXPECT_TRUE(SamePixels(smallTogether.buf, smallOneByOne.buf)) << depth;
    }
}

TEST_F(SmudgeTwoTiles, OneThreadGivesTheBytesOfTwo) {
    const int threads = omp_get_max_threads();
    PicBufHolder serial;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(serial.buf, Source()));
    omp_set_num_threads(1);
    Repaint(serial.buf, Source());
    omp_set_num_threads(threads);
    EXPECT_TRUE(SamePixels(serial.buf, Together()));
}

TEST(SmudgeRepaint, LeavesAResultOfAnotherGeometryAlone) {
    PicBufHolder source, result;
    MakeSourceAndResult(source, result, 120, 80, 3, 16);
    PicBufHolder wrongDepth;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(wrongDepth.buf, 120, 80, 3, 8));
    CBxPicBufAPI::SetConst(wrongDepth.buf, CBxRect{0, 0, 120, 80}, kUnwritten);
    ProgressCounter counter;
    Repaint(wrongDepth.buf, source.buf);
    EXPECT_EQ(Unwritten(wrongDepth.buf, CBxRect{0, 0, 120, 80}, 0), 120 * 80);
    EXPECT_EQ(counter.steps(), 0);
}

// In place, tiles must still read the source's context, not what earlier
// tiles wrote.
TEST_F(SmudgeTwoTiles, RepaintsInPlace) {
    PicBufHolder picture;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(picture.buf, Source()));
    CBxPicBufAPI::Copy(picture.buf, Source());
    Repaint(picture.buf, picture.buf);
    EXPECT_TRUE(SamePixels(picture.buf, Together()));
}

TEST_F(SmudgeTwoTiles, AbortBetweenStepsLeavesTheRemainingComponentsAndTilesAlone) {
    const SBxPicBuf &together = Together(), &oneByOne = OneByOne();  // made before any abort
    PicBufHolder result;
    {  // After the field: nothing written.
        ProgressCounter counter;
        counter.abortAfter(3);
        FreshResult(result);
        Repaint(result.buf, Source(), SmudgeComponents::OneByOne);
        EXPECT_EQ(counter.steps(), 3);
        EXPECT_EQ(Unwritten(result.buf, all, 0), 1000 * 500);
    }
    {  // After two components of the first tile: the third keeps the source's values.
        ProgressCounter counter;
        counter.abortAfter(5);
        FreshResult(result);
        Repaint(result.buf, Source(), SmudgeComponents::OneByOne);
        EXPECT_EQ(counter.steps(), 5);
        EXPECT_TRUE(SameInRect(result.buf, oneByOne, left, 0));
        EXPECT_TRUE(SameInRect(result.buf, oneByOne, left, 1));
        EXPECT_TRUE(SameInRect(result.buf, Source(), left, 2));
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Unwritten(result.buf, right, c), 500 * 500);
    }
    {  // Together: the first tile is finished, the second never started.
        ProgressCounter counter;
        counter.abortAfter(4);
        FreshResult(result);
        Repaint(result.buf, Source(), SmudgeComponents::Together);
        EXPECT_EQ(counter.steps(), 4);
        for (int c = 0; c < 3; ++c) EXPECT_TRUE(SameInRect(result.buf, together, left, c));
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Unwritten(result.buf, right, c), 500 * 500);
    }
    {  // A colour picture under the threshold stops after its field.
        PicBufHolder small, smallResult;
        MakeSourceAndResult(small, smallResult, 200, 100, 3);
        ProgressCounter counter;
        counter.abortAfter(1);
        Repaint(smallResult.buf, small.buf);
        EXPECT_EQ(counter.steps(), 1);
        EXPECT_EQ(Unwritten(smallResult.buf, CBxRect{0, 0, 200, 100}, 1), 200 * 100);
    }
}

// A grey picture under the threshold has no poll of its own: its steps still
// run, each cut short inside CImg, and the unsmoothed picture is written.
TEST(SmudgeAbort, AGreyPictureUnderTheThresholdStillWritesItsResult) {
    PicBufHolder source, result;
    MakeSourceAndResult(source, result, 200, 100, 1);
    ProgressCounter counter;
    RequestAbort(true);
    Repaint(result.buf, source.buf);
    EXPECT_EQ(counter.steps(), 1);
    EXPECT_TRUE(SamePixels(result.buf, source.buf));
}

// The flag raised while CImg smooths the second component of the first tile
// (one by one), or the first tile's components (together): that smoothing is
// cut short, the tile is written back and nothing else is processed.
TEST_F(SmudgeTwoTiles, AbortInsideTheSmoothingStopsTheTileInProgress) {
    const SBxPicBuf& oneByOne = OneByOne();  // made before any abort
    for (SmudgeComponents mode : {SmudgeComponents::OneByOne, SmudgeComponents::Together}) {
        const bool oneByOneMode = mode == SmudgeComponents::OneByOne;
        const int trigger = oneByOneMode ? 4 : 3;  // after the first component, or after the field
        PicBufHolder result;
        FreshResult(result);
        ProgressCounter counter;
        AbortLater abort(counter, trigger);
        Repaint(result.buf, Source(), mode);
        const bool raisedInTime = AbortPolled();
        const int stepsWhenRaised = abort.join();
        ASSERT_TRUE(raisedInTime) << "the run ended before the flag was raised";
        if (stepsWhenRaised != trigger) GTEST_SKIP() << "the flag came too late to land inside the smoothing";

        EXPECT_EQ(counter.steps(), trigger + 1);
        if (oneByOneMode) EXPECT_TRUE(SameInRect(result.buf, oneByOne, left, 0));
        else EXPECT_TRUE(SameInRect(result.buf, Source(), left, 0)) << "the smoothing was cut short";
        EXPECT_TRUE(SameInRect(result.buf, Source(), left, 1)) << "the smoothing was cut short";
        EXPECT_TRUE(SameInRect(result.buf, Source(), left, 2));
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Unwritten(result.buf, right, c), 500 * 500);
    }
}
