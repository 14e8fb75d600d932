// The Original repaint: its look, slider mapping, tiles, traces, progress,
// abort polls, threads and running out of memory.
#include <cstdlib>
#include <new>

#include "engines/original/original_steps.h"
#include "test_support.h"

// Allocations through operator new of at least this many bytes fail while it
// is non-zero: the engine's per-tile records are such allocations. Every form
// is replaced, so that each block is freed by the allocator that made it.
static std::atomic<size_t> failNewFrom{0};
static void* Allocate(size_t size) {
    const size_t limit = failNewFrom.load(std::memory_order_relaxed);
    return limit != 0 && size >= limit ? nullptr : std::malloc(size ? size : 1);
}
void* operator new(size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // they do come from the malloc above
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

// Sets the process-wide thread count while it lives.
struct ThreadCount {
    explicit ThreadCount(int n) { originalThreadCount = n; }
    ~ThreadCount() { originalThreadCount = 0; }
};

// Repaints source into a fresh result, raising the abort flag after
// abortAfter steps (0: never); returns the steps reported and how many of
// them reach the user even in a preview.
std::pair<int, int> Repaint(PicBufHolder& result, const SBxPicBuf& source, const OriginalParams& params,
                            int abortAfter = 0) {
    ProgressCounter counter(abortAfter);
    CBxPicBufAPI::ReinitHeap(result.buf, source);
    OriginalRepaint(result.buf, source, params);
    return {counter.steps(), counter.alwaysSteps()};
}

OriginalParams Params(bool flatten, bool sharpen, int smoothness = 5) {
    return OriginalParamsFromPositions({smoothness, 20, flatten, 20, sharpen, 10});
}

TensorField UniformField(int width, int height, float a, float b, float c) {
    TensorField f;
    f.width = width, f.height = height;
    for (int i = 0; i < width * height; ++i) f.abc.insert(f.abc.end(), {a, b, c});
    return f;
}

}  // namespace

// The bytes of small repaints with every pass on, recorded when the engine
// was right: any change to the method's arithmetic (directions, weak-edge
// fill, traces, flattening, sharpening, tiles and their blend) shows here.
// Record anew only for a change of the look that is meant.
TEST(Original, KeepsItsLook) {
    PicBufHolder source, result;
    MakeTestPicture(source, 96, 72, 3, 8, 5);
    Repaint(result, source.buf, OriginalParamsFromPositions({6, 12, 1, 8, 1, 14}));
    EXPECT_EQ(PixelHash(result.buf), 6822685568312356483u);
}

// Traces grow with the smoothness up to the 40 samples a direction their
// records hold, whatever is asked; near the frame they stop moving and keep
// sampling their last place. A tensor without direction moves no sample.
TEST(Original, TracesFollowTheSmoothnessAndStayInTheirRecords) {
    const std::pair<float, int> lengths[] = {{0.25f, 2}, {1.25f, 4}, {5.0f, 40}, {6.0f, 41}, {1e30f, 41}, {std::nanf(""), 41}};
    for (auto [smoothness, steps] : lengths) EXPECT_EQ(FlowSteps(FlowSigma(smoothness)), steps) << smoothness;
    PicBufHolder F;
    FlowTraces records;
    MakeFilled(F, 120, 120, 1, 32, 0);
    BuildFlowTraces(records, UniformField(120, 120, 0, 0, 100), 400.0f, 1000, 1, F.buf);
    EXPECT_EQ(records.traces[60 * 120 + 60].forwardCount, kMaxTraceSamples);
    EXPECT_EQ(records.rows[60].size(), static_cast<size_t>(2 * kMaxTraceSamples * 118));
    const TraceSample* s = records.rows[60].data() + records.traces[60 * 120 + 2].first;
    EXPECT_EQ(s[kMaxTraceSamples - 1].offset, s[kMaxTraceSamples - 2].offset);

    MakeTestPicture(F, 40, 30, 3, 32);
    BuildFlowTraces(records, UniformField(40, 30, 0, 0, 0), FlowSigma(1.25f), 4, 3, F.buf);
    IntPicture I;
    I.width = 40, I.height = 30, I.components = 3;
    for (int i = 0; i < 40 * 30 * 3; ++i) I.samples.push_back(static_cast<int32_t>((i * 2654435761u) >> 16));
    const std::vector<int32_t> noise = I.samples;
    SmoothAlongFlow(I, records);
    EXPECT_EQ(I.samples, noise);
}

// Overlapping tiles cross-fade: the four tiles of a constant picture give it
// back, exactly where at most two overlap; where four do, each blend's
// rounding may add a half.
TEST(Original, TilesOverlapAndBlendBackIntoThePicture) {
    std::vector<CBxRect> four;
    for (const RepaintTile& t : RepaintTileGrid(1000, 1000, kTileMargin)) four.push_back(t.outer);
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(std::vector<int>({four[1].left, four[1].top, four[1].right, four[1].bottom}), std::vector<int>({430, 0, 1000, 570}));
    EXPECT_EQ(OriginalProgressTotal(499, 5000) * 1000 + OriginalProgressTotal(2000, 1200), 38 * 1000 + 38 * 8);
    PicBufHolder result, tile;
    MakeFilled(result, 1000, 1000, 1, 8, 0);
    for (const CBxRect& r : four) {
        MakeFilled(tile, r.right - r.left, r.bottom - r.top, 1, 8, 140);
        BlendTile(result.buf, tile.buf, r.left, r.right, r.top, r.bottom);
    }
    for (int y = 0; y < 1000; ++y)
        for (int x = 0; x < 1000; ++x) {
            const bool corner = x > 430 && x < 570 && y > 430 && y < 570;
            const double v = SampleAt(result.buf, x, y);
            ASSERT_TRUE(v == 140 || (corner && v > 140 && v <= 142)) << x << "," << y << ": " << v;
        }
}

// Every tile reports 38 steps that reach the user even in a preview, and a
// flat picture passes every step untouched: 200 -> 51200 -> 200.
TEST(Original, FlatPicturesComeBackAndOtherDepthsAreRefused) {
    PicBufHolder flat, result, deep;
    MakeFilled(flat, 40, 30, 3, 8, 200);
    for (auto [flatten, sharpen] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        EXPECT_EQ(Repaint(result, flat.buf, Params(flatten, sharpen)), std::pair(kOriginalStepsPerTile, kOriginalStepsPerTile));
        EXPECT_TRUE(SamePixels(result.buf, flat.buf)) << flatten << sharpen;
    }
    MakeTestPicture(deep, 40, 30, 3, 16);
    MakeFilled(result, 40, 30, 3, 16, 7);
    OriginalRepaint(result.buf, deep.buf, Params(false, true));
    EXPECT_EQ(SampleAt(result.buf, 5, 5, 0), 7 * 257);
}

// Raising the flag at every progress step in turn stops the tile at the next
// poll: until the weak-structure fill it comes back unchanged, later in the
// cycle after the pass that follows the step. Passes switched off still poll.
TEST(Original, AbortAtEveryPollOfATile) {
    ThreadCount one(1);
    PicBufHolder source, result, full, afterFirstPass, switchedOff;
    MakeTestPicture(source, 40, 32, 3, 8);
    Repaint(full, source.buf, Params(true, true));
    for (int n = 1; n <= kOriginalStepsPerTile; ++n) {
        EXPECT_EQ(Repaint(result, source.buf, Params(true, true), n).first, n <= 4 ? 4 : n <= 6 ? 6 : n == 7 ? 8 : n);
        EXPECT_EQ(SamePixels(result.buf, source.buf), n <= 6) << n;
        if (n == 7) CopyOf(afterFirstPass, result.buf);
        if (n == 8) {
            EXPECT_TRUE(SamePixels(result.buf, afterFirstPass.buf));  // both stop after the first smoothing
        }
    }
    EXPECT_TRUE(SamePixels(result.buf, full.buf));
    Repaint(result, source.buf, Params(false, false), 8);  // after the first smoothing pass
    EXPECT_EQ(Repaint(switchedOff, source.buf, Params(false, false), 10).first, 10);  // after the first sharpening
    EXPECT_TRUE(SamePixels(result.buf, switchedOff.buf));
}

// A 1000 x 500 picture is two tiles: x 0..569 and 430..999.
TEST(Original, TwoTilesInAnyThreadCountAbortBetweenTilesAndCleanUpAfterNoMemory) {
    PicBufHolder source, one, many, result, zero;
    MakeTestPicture(source, 1000, 500, 1, 8);
    MakeFilled(zero, 1000, 500, 1, 8, 0);
    const OriginalParams params = Params(true, true, 1);
    auto differ = [&](const SBxPicBuf& a, const SBxPicBuf& b, int x0, int x1) {
        return DifferentSamples(a, b, CBxRect{x0, 0, x1, 500}, 0);
    };
    {
        ThreadCount t(1);
        EXPECT_EQ(Repaint(one, source.buf, params).first, 2 * kOriginalStepsPerTile);
        EXPECT_EQ(PixelHash(one.buf), 9768838610008592797u) << "the look of two blended tiles";
        // Abort in the first tile: it comes back as the input, the second is never blended.
        EXPECT_EQ(Repaint(result, source.buf, params, 4).first, 4);
        EXPECT_EQ(differ(result.buf, source.buf, 0, 430) + differ(result.buf, zero.buf, 570, 1000), 0);
        EXPECT_EQ(Repaint(result, source.buf, params, kOriginalStepsPerTile).first, kOriginalStepsPerTile);
        EXPECT_EQ(differ(result.buf, one.buf, 0, 430) + differ(result.buf, zero.buf, 570, 1000), 0);
        EXPECT_GT(differ(result.buf, source.buf, 0, 430), 0);
    }
    {
        // Two tiles at once, each split over two threads, repainting in place.
        ThreadCount t(4);
        ProgressCounter counter;
        CopyOf(many, source.buf);
        OriginalRepaint(many.buf, many.buf, params);
        EXPECT_EQ(counter.steps(), 2 * kOriginalStepsPerTile);
    }
    EXPECT_TRUE(SamePixels(one.buf, many.buf));
    for (int threads : {1, 2}) {
        ThreadCount t(threads);
        failNewFrom = 1 << 20;
        EXPECT_THROW(OriginalRepaint(result.buf, source.buf, params), std::bad_alloc);
        failNewFrom = 0;
    }
}
