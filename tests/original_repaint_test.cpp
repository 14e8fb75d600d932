// The Original repaint driver: tile grid, blending, border replication,
// progress, abort polls, threads and running out of memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engines/original/original_steps.h"
#include "test_support.h"

// Allocations through operator new of at least this many bytes fail while
// it is non-zero: the engine's per-tile records are such allocations. Every
// plain and nothrow form is replaced, so that each block is freed by the
// same allocator that made it.
static std::atomic<size_t> failNewFrom{0};

static void* Allocate(size_t size) {
    const size_t limit = failNewFrom.load(std::memory_order_relaxed);
    if (limit != 0 && size >= limit) return nullptr;
    return std::malloc(size ? size : 1);
}

void* operator new(size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
// The compiler cannot tell that these free blocks from the malloc above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

// Restores the process-wide thread count when a test ends.
struct ThreadCount {
    explicit ThreadCount(int n) { originalThreadCount = n; }
    ~ThreadCount() { originalThreadCount = 0; }
};

// Runs the repaint into a fresh result picture.
void Repaint(PicBufHolder& result, const SBxPicBuf& source, const OriginalParams& params) {
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(result.buf, source));
    OriginalRepaint(result.buf, source, params);
}

bool RegionEquals(const SBxPicBuf& a, const SBxPicBuf& b, int x0, int x1) {
    for (int y = 0; y < a.height; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < a.components; ++c)
                if (SampleAt(a, x, y, c) != SampleAt(b, x, y, c)) return false;
    return true;
}

bool RegionIsZero(const SBxPicBuf& a, int x0, int x1) {
    for (int y = 0; y < a.height; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < a.components; ++c)
                if (SampleAt(a, x, y, c) != 0) return false;
    return true;
}

OriginalParams Params(bool flatten, bool sharpen, int smoothness = 5) {
    return OriginalParamsFromSliders(smoothness, 20, flatten, 20, sharpen, 10);
}

}  // namespace

TEST(OriginalGrid, TilesOfTheExamplePictures) {
    auto grid = OriginalTileGrid(1000, 1000);
    ASSERT_EQ(grid.size(), 4u);
    auto same = [](CBxRect r, int l, int t, int ri, int b) {
        return r.left == l && r.top == t && r.right == ri && r.bottom == b;
    };
    EXPECT_TRUE(same(grid[0], 0, 0, 570, 570));
    EXPECT_TRUE(same(grid[1], 430, 0, 1000, 570));
    EXPECT_TRUE(same(grid[2], 0, 430, 570, 1000));
    EXPECT_TRUE(same(grid[3], 430, 430, 1000, 1000));

    grid = OriginalTileGrid(499, 3000);
    ASSERT_EQ(grid.size(), 1u);
    EXPECT_TRUE(same(grid[0], 0, 0, 499, 3000));
    EXPECT_EQ(OriginalTileCount(499, 5000), 1);
    grid = OriginalTileGrid(500, 500);
    ASSERT_EQ(grid.size(), 1u);
    EXPECT_TRUE(same(grid[0], 0, 0, 500, 500));
    EXPECT_EQ(OriginalTileCount(2000, 1200), 8);
    EXPECT_EQ(OriginalTileGrid(2000, 1200).size(), 8u);
}

TEST(OriginalGrid, BlendWeightsRampOnlyBetweenTiles) {
    PicBufHolder result, tile;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(result.buf, 1000, 1000, 1, 8));
    std::memset(result->pixels, 0, result->size);

    // Tile 0 alone: full weight up to x = 430, then (570 - x) / 140.
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(tile.buf, 570, 570, 1, 8));
    std::memset(tile->pixels, 140, tile->size);
    BlendTile(result.buf, tile.buf, 0, 570, 0, 570);
    EXPECT_EQ(SampleAt(result.buf, 0, 0, 0), 140);        // the picture's own edges get no ramp
    EXPECT_EQ(SampleAt(result.buf, 430, 200, 0), 140);
    EXPECT_EQ(SampleAt(result.buf, 431, 200, 0), 139);    // weight 139/140
    EXPECT_EQ(SampleAt(result.buf, 569, 200, 0), 1);
    EXPECT_EQ(SampleAt(result.buf, 200, 431, 0), 139);

    // All four tiles of a constant picture give it back, exactly where at most
    // two tiles overlap; where four do, each blend's rounding may add up to
    // one half.
    std::memset(result->pixels, 0, result->size);
    for (const CBxRect& r : OriginalTileGrid(1000, 1000)) {
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(tile.buf, r.right - r.left, r.bottom - r.top, 1, 8));
        std::memset(tile->pixels, 140, tile->size);
        BlendTile(result.buf, tile.buf, r.left, r.right, r.top, r.bottom);
    }
    for (int y = 0; y < 1000; ++y)
        for (int x = 0; x < 1000; ++x) {
            const double v = SampleAt(result.buf, x, y, 0);
            const bool corner = x > 430 && x < 570 && y > 430 && y < 570;
            if (corner) {
                ASSERT_GE(v, 140) << x << "," << y;
                ASSERT_LE(v, 142) << x << "," << y;
            } else {
                ASSERT_EQ(v, 140) << x << "," << y;
            }
        }
}

TEST(OriginalGrid, ReplicateBorderFillsSidesThenCorners) {
    PicBufHolder p;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(p.buf, 25, 23, 3, 8));
    std::memset(p->pixels, 0, p->size);
    for (int y = 10; y < 13; ++y)
        for (int x = 10; x < 15; ++x)
            for (int c = 0; c < 3; ++c) PicRow(p.buf, y)[x * 3 + c] = static_cast<uint8_t>(x * 10 + y + c);
    ReplicateBorder(p.buf, 10);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 25; ++x) {
            const int sx = std::clamp(x, 10, 14), sy = std::clamp(y, 10, 12);
            for (int c = 0; c < 3; ++c) ASSERT_EQ(PicRow(p.buf, y)[x * 3 + c], sx * 10 + sy + c) << x << "," << y;
        }
}

TEST(OriginalRepaint, UnchangedSamplesComeBackAndOtherDepthsAreRefused) {
    // A flat picture passes through all steps untouched: 200 -> 51200 -> 200.
    PicBufHolder flat, result;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(flat.buf, 40, 30, 3, 8));
    std::memset(flat->pixels, 200, flat->size);
    Repaint(result, flat.buf, Params(true, true));
    EXPECT_TRUE(SamePixels(result.buf, flat.buf));

    PicBufHolder deep, deepResult;
    MakeTestPicture(deep, 40, 30, 3, 16);
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(deepResult.buf, deep.buf));
    std::memset(deepResult->pixels, 7, deepResult->size);
    OriginalRepaint(deepResult.buf, deep.buf, Params(false, true));
    EXPECT_EQ(SampleAt(deepResult.buf, 5, 5, 0), 7 * 257);
}

TEST(OriginalProgress, ThirtyEightStepsPerTileWhateverIsSwitchedOn) {
    PicBufHolder source, result;
    MakeTestPicture(source, 48, 36, 1, 8);
    for (auto [flatten, sharpen] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        ProgressCounter counter;
        Repaint(result, source.buf, Params(flatten, sharpen));
        EXPECT_EQ(counter.steps(), kOriginalStepsPerTile) << flatten << sharpen;
        EXPECT_EQ(counter.alwaysSteps(), kOriginalStepsPerTile);
    }
}

// Raising the flag at every progress step in turn stops the tile at the next
// poll: at T7 and T9 the tile comes back unchanged, in the cycles after the
// pass that follows the step.
TEST(OriginalAbort, EveryPollInATile) {
    ThreadCount one(1);
    PicBufHolder source, result, full, once;
    MakeTestPicture(source, 40, 32, 3, 8);
    const OriginalParams params = Params(true, true);
    Repaint(full, source.buf, params);
    for (int n = 1; n <= kOriginalStepsPerTile; ++n) {
        ProgressCounter counter;
        counter.abortAfter(n);
        Repaint(result, source.buf, params);
        const int expectedSteps = n <= 4 ? 4 : n <= 6 ? 6 : n == 7 ? 8 : n;
        EXPECT_EQ(counter.steps(), expectedSteps) << n;
        EXPECT_EQ(SamePixels(result.buf, source.buf), n <= 6) << n;
        if (n == 7) {
            ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(once.buf, result.buf));
            CBxPicBufAPI::Copy(once.buf, result.buf);
        }
        if (n == 8) {
            EXPECT_TRUE(SamePixels(result.buf, once.buf));  // both stop after the first smoothing pass
        }
        if (n == kOriginalStepsPerTile) {
            EXPECT_TRUE(SamePixels(result.buf, full.buf));
        }
    }
}

TEST(OriginalAbort, SwitchedOffPassesStillPoll) {
    ThreadCount one(1);
    PicBufHolder source, a, b;
    MakeTestPicture(source, 40, 32, 1, 8);
    const OriginalParams params = Params(false, false);
    {
        ProgressCounter counter;
        counter.abortAfter(8);  // stops after the first smoothing pass
        Repaint(a, source.buf, params);
    }
    {
        ProgressCounter counter;
        counter.abortAfter(10);  // stops after the first (switched-off) sharpening
        Repaint(b, source.buf, params);
        EXPECT_EQ(counter.steps(), 10);
    }
    EXPECT_TRUE(SamePixels(a.buf, b.buf));
}

// A 1000 x 500 picture is two tiles: x 0..569 and 430..999.
TEST(OriginalAbort, BetweenTilesLeavesTheRestAtZero) {
    ThreadCount one(1);
    PicBufHolder source, result;
    MakeTestPicture(source, 1000, 500, 1, 8);
    const OriginalParams params = Params(false, true, 1);
    {
        ProgressCounter counter;
        counter.abortAfter(4);  // T7 of the first tile: it comes back as the input
        Repaint(result, source.buf, params);
        EXPECT_EQ(counter.steps(), 4);
    }
    EXPECT_TRUE(RegionEquals(result.buf, source.buf, 0, 430));
    EXPECT_TRUE(RegionIsZero(result.buf, 570, 1000));
    {
        ProgressCounter counter;
        counter.abortAfter(kOriginalStepsPerTile);  // the last step of the first tile
        Repaint(result, source.buf, params);
        EXPECT_EQ(counter.steps(), kOriginalStepsPerTile);
    }
    EXPECT_FALSE(RegionEquals(result.buf, source.buf, 0, 430));  // the first tile is repainted
    EXPECT_TRUE(RegionIsZero(result.buf, 570, 1000));
}

TEST(OriginalThreads, AnyThreadCountGivesTheSameBytes) {
    PicBufHolder source, one, many;
    MakeTestPicture(source, 1000, 500, 1, 8);
    const OriginalParams params = Params(true, true, 1);
    {
        ThreadCount t(1);
        ProgressCounter counter;
        Repaint(one, source.buf, params);
        EXPECT_EQ(counter.steps(), 2 * kOriginalStepsPerTile);
    }
    {
        // Two tiles at once, each split over two threads, repainting in place.
        ThreadCount t(4);
        ProgressCounter counter;
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(many.buf, source.buf));
        CBxPicBufAPI::Copy(many.buf, source.buf);
        OriginalRepaint(many.buf, many.buf, params);
        EXPECT_EQ(counter.steps(), 2 * kOriginalStepsPerTile);
    }
    EXPECT_TRUE(SamePixels(one.buf, many.buf));

    // A colour picture processed whole, split over three threads, with long traces.
    PicBufHolder small, smallOne, smallMany;
    MakeTestPicture(small, 130, 90, 3, 8, 7);
    {
        ThreadCount t(1);
        Repaint(smallOne, small.buf, Params(true, true, 14));
    }
    {
        ThreadCount t(3);
        Repaint(smallMany, small.buf, Params(true, true, 14));
    }
    EXPECT_TRUE(SamePixels(smallOne.buf, smallMany.buf));
}

TEST(OriginalMemory, FailedAllocationIsRethrownAfterCleanUp) {
    PicBufHolder source, result;
    MakeTestPicture(source, 1000, 500, 1, 8);
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(result.buf, source.buf));
    for (int threads : {1, 2}) {
        ThreadCount t(threads);
        failNewFrom = 1 << 20;
        EXPECT_THROW(OriginalRepaint(result.buf, source.buf, Params(true, true)), std::bad_alloc);
        failNewFrom = 0;
    }
}

TEST(OriginalParams, SliderMapping) {
    const OriginalParams defaults = OriginalParamsFromSliders(kSmoothnessSliderDefault, kWeakEdgeSliderDefault,
                                                              kFlattenSwitchDefault, kFlattenSliderDefault,
                                                              kSharpenSwitchDefault, kSharpenSliderDefault);
    EXPECT_FALSE(defaults.flatten);
    EXPECT_TRUE(defaults.sharpenBorders);
    EXPECT_EQ(defaults.smoothness, 1.25f);
    EXPECT_EQ(defaults.edgeThreshold, 80.0f);
    EXPECT_EQ(FlattenDeadZone(defaults.flattenLevel), 5850);
    EXPECT_EQ(defaults.sharpenStrength, 20.0f);
    // The dialog's Default button; a switch is on only above 0.
    const OriginalParams button = OriginalParamsFromSliders(14, 5, 1, 4, -1, 5);
    EXPECT_EQ(button.smoothness, 3.5f);
    EXPECT_EQ(button.edgeThreshold, 20.0f);
    EXPECT_TRUE(button.flatten);
    EXPECT_FALSE(button.sharpenBorders);
    EXPECT_EQ(FlattenDeadZone(button.flattenLevel), 250);
    EXPECT_EQ(button.sharpenStrength, 10.0f);
}
