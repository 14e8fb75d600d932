// The Redraw repaint: edges, the contrast stretch, strokes, colour
// quantization, the non-local means filter, the whole run with its settings,
// progress and abort, and the editor's preview.
#include <memory>

#include "engines/redraw/redraw_internal.h"
#include "picbuf/processor.h"
#include "test_support.h"

namespace {

// The engine's parameters at these slider positions.
RedrawParams At(int details, int cut, int fuse, int level) {
    return RedrawParamsFromPositions({details, cut, fuse, level});
}

// A 16-bit plane of one row, stretched.
std::vector<double> Stretched(const std::vector<uint16_t>& samples) {
    PicBufHolder plane;
    CBxPicBufAPI::ReinitHeap(plane.buf, static_cast<int>(samples.size()), 1, 1, 16);
    std::memcpy(plane->pixels, samples.data(), samples.size() * 2);
    StretchLevels(plane.buf, 0.03f, 0.03f);
    std::vector<double> out;
    for (size_t x = 0; x < samples.size(); ++x) out.push_back(SampleAt(plane.buf, x, 0));
    return out;
}

// A channel with smooth shading, hard edges and noise: every kind of patch.
void MakeChannel(PicBufHolder& channel, int width, int height, unsigned seed) {
    MakeTestPicture(channel, width, height, 1, 8, seed);
    unsigned state = seed;
    for (int i = 0; i < channel->size; ++i) {
        state = state * 1103515245u + 12345u;
        channel->pixels[i] = static_cast<uint8_t>(std::clamp(channel->pixels[i] + int((state >> 16) % 41) - 20, 0, 255));
    }
}

}  // namespace

TEST(Redraw, StretchClipsThreePercentAtEachEndOrSplitsAtOneDominantLevel) {
    // 100 samples 0, 100, ..., 9900: the limits are 3 samples, so lo is the
    // 4th darkest (300) and hi the 4th brightest (9600).
    std::vector<uint16_t> ramp;
    for (int i = 0; i < 100; ++i) ramp.push_back(static_cast<uint16_t>(100 * i));
    const std::vector<double> stretched = Stretched(ramp);
    const std::pair<int, double> points[] = {{0, 0}, {3, 0}, {4, 704}, {50, 33119}, {96, 65535}, {99, 65535}};
    for (auto [x, value] : points) EXPECT_EQ(stretched[x], value) << x;  // 100 / 9300 x 65535, truncated, ...
    EXPECT_EQ(Stretched(std::vector<uint16_t>(50, 65280)), std::vector<double>(50, 0)) << "flat: all black";
    // A few brighter samples over one level become white, the level black;
    // a few darker ones are lines and the level is paper.
    std::vector<uint16_t> brighter(100, 1000), darker(100, 65280);
    brighter[7] = brighter[8] = 2000;
    darker[3] = 100, darker[4] = 30000;
    const std::vector<double> level = Stretched(brighter), lines = Stretched(darker);
    EXPECT_EQ(std::vector<double>({level[0], level[7], lines[0], lines[3], lines[4]}),
              std::vector<double>({0, 65535, 65535, 0, 0}));
}

// The bytes of repaints, recorded when the engine was right: any change to
// the method's arithmetic (edges, stretch, strokes, smoothing, the luma steps
// of every level, the burn) or to the sliders' mapping shows here. Unfused,
// the result is the strokes whatever the level. Record anew only for a
// change of the look that is meant.
TEST(Redraw, KeepsItsLook) {
    struct Case {
        std::vector<int> positions;
        int components;
        uint64_t hash;
    } cases[] = {{{14, 60, 1, 0}, 3, 17439114606087791869u}, {{14, 60, 1, 1}, 3, 1404323658639343883u},
                 {{14, 60, 1, 2}, 3, 8753464497616567792u},  {{14, 60, 1, 3}, 3, 5908199723612532942u},
                 {{14, 60, 1, 4}, 3, 13765863884056631593u}, {{10, 50, 0, 0}, 3, 12796053126194559660u},
                 {{10, 50, 0, 4}, 3, 12796053126194559660u}, {{30, 20, 0, 1}, 3, 1938777223857148211u},
                 {{10, 50, 1, 0}, 1, 14679126825488047289u}, {{10, 50, 1, 3}, 1, 5171258402421305628u}};
    for (const Case& c : cases) {
        PicBufHolder source, result;
        MakeTestPicture(source, 56, 40, c.components, 8, 5);
        RedrawRepaint(result.buf, source.buf, RedrawParamsFromPositions(c.positions));
        EXPECT_EQ(PixelHash(result.buf), c.hash) << ::testing::PrintToString(c.positions) << ", " << c.components;
    }

    // A 16-bit picture is repainted from its 8-bit form; Details far below the
    // slider and an unknown level (which acts as Original Image) still repaint.
    PicBufHolder source, deep, shallow, deepResult, shallowResult, odd;
    MakeTestPicture(source, 56, 40, 3, 8);
    MakeTestPicture(deep, 56, 40, 3, 16);
    CopyOf(shallow, deep.buf);
    CBxPicBufAPI::ConvertBpcComp(shallow.buf, 8, 3);
    RedrawRepaint(deepResult.buf, deep.buf, At(10, 50, 1, 2));
    RedrawRepaint(shallowResult.buf, shallow.buf, At(10, 50, 1, 2));
    EXPECT_TRUE(SamePixels(deepResult.buf, shallowResult.buf));
    RedrawRepaint(odd.buf, source.buf, At(-500, 50, 1, 9));
    RedrawRepaint(shallowResult.buf, source.buf, At(0, 50, 1, RedrawLevelOriginal));
    EXPECT_TRUE(SamePixels(odd.buf, shallowResult.buf));

    EXPECT_THROW(RedrawRepaint(odd.buf, odd.buf, At(10, 50, 1, 1)), std::invalid_argument);
    PicBufHolder floats;
    MakeFilled(floats, 8, 8, 3, 32, 0);
    EXPECT_THROW(RedrawRepaint(odd.buf, floats.buf, At(10, 50, 1, 1)), std::invalid_argument);
}

// The edge plane's blurs with and without AVX2, at sizes that leave part of
// a block of lines in both directions: the same bytes.
TEST(Redraw, EdgePlaneDoesNotDependOnTheProcessor) {
    PicBufHolder source, withAvx2, without;
    MakeTestPicture(source, 57, 43, 3, 8, 5);
    ExtractEdges(withAvx2.buf, source.buf, 3.0f);
    AllowAvx2(false);
    ExtractEdges(without.buf, source.buf, 3.0f);
    AllowAvx2(true);
    EXPECT_TRUE(SamePixels(withAvx2.buf, without.buf));
}

TEST(Redraw, ProgressReachesTheTotalAndAbortEndsTheRunAtAnyStep) {
    EXPECT_EQ(RedrawProgressTotal(1), 12);
    EXPECT_EQ(RedrawProgressTotal(3), 16);
    for (int components : {1, 3})
        for (int fuse : {0, 1}) {
            ProgressCounter progress;
            PicBufHolder source, result;
            MakeTestPicture(source, 56, 40, components, 8);
            RedrawRepaint(result.buf, source.buf, At(10, 50, fuse, 1));
            EXPECT_EQ(progress.steps(), RedrawProgressTotal(components)) << components << " components, fuse " << fuse;
            EXPECT_EQ(progress.alwaysSteps(), 0);
        }
    PicBufHolder source;
    MakeTestPicture(source, 56, 40, 3, 8);
    for (int after = 1; after < RedrawProgressTotal(3); ++after) {
        ProgressCounter progress(after);
        PicBufHolder result;
        MakeFilled(result, 7, 5, 1, 8, 77);
        RedrawRepaint(result.buf, source.buf, At(10, 50, 1, 1));
        EXPECT_TRUE(AbortPolled()) << after;
        EXPECT_LE(progress.steps(), RedrawProgressTotal(3)) << after;
        // Abort after the first blur: no stroke step runs and the rest is still counted.
        if (after == 2) {
            EXPECT_EQ(progress.steps(), 6);  // 1 + 1 blur, then 1 + 1 + 2 without work
            EXPECT_EQ(result->width * 1000 + result->pixels[0], 7077);
        }
    }
}

// The bytes of the filter at sizes that put the 2 x 2 blocks at odd and even
// margins and at the capped margin, odd sizes whose black column takes part,
// and a weaker filter, recorded when they matched a plain re-computation;
// patches near the border read the margin mirrored about the edge.
TEST(RedrawNlm, SmoothPlaneKeepsItsBytes) {
    struct Case {
        int width, height;
        double strength;
        uint64_t hash;  // 0: the channel's own
    } cases[] = {{37, 29, 150, 5383762818041664743u},   {80, 52, 150, 18041970369271800689u},
                 {150, 146, 150, 4288463140687162167u}, {17, 40, 150, 17315672286011091700u},
                 {40, 34, 40, 14787281250026436659u},
                 {15, 40, 150, 0}};  // width 15 is padded to 16: too small to filter, copied
    for (const Case& c : cases) {
        PicBufHolder channel, smoothed;
        MakeChannel(channel, c.width, c.height, 7);
        SmoothPlane(smoothed.buf, channel.buf, c.strength);
        ASSERT_EQ(smoothed->width * 1000 + smoothed->height, c.width * 1000 + c.height);
        EXPECT_EQ(PixelHash(smoothed.buf), c.hash ? c.hash : PixelHash(channel.buf)) << c.width << " x " << c.height;
    }
}

TEST(RedrawNlm, WeightTablesAreCachedInSevenRotatingSlots) {
    PicBufHolder channel, first, second;
    MakeChannel(channel, 40, 40, 2);
    SmoothPlane(first.buf, channel.buf, 150.0);
    const int slot = NlmFindWeightSlot(1.0, 150.0), next = NlmNextWeightSlot();
    ASSERT_GE(slot, 0);
    SmoothPlane(second.buf, channel.buf, 150.0);
    EXPECT_TRUE(SamePixels(first.buf, second.buf));
    EXPECT_EQ(NlmFindWeightSlot(1.0, 150.0), slot);
    EXPECT_EQ(NlmNextWeightSlot(), next) << "nothing was built";
    // Eight new strengths: the eighth takes the slot of the first.
    const double strengths[] = {11.5, 12.5, 13.5, 14.5, 15.5, 16.5, 17.5, 18.5};
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(NlmLookupWeights(1.0, strengths[i]));
        EXPECT_EQ(NlmFindWeightSlot(1.0, strengths[i]), (next + i) % 7);
    }
    std::shared_ptr<const NlmWeights> firstTables = NlmLookupWeights(1.0, strengths[0]);
    ASSERT_TRUE(NlmLookupWeights(1.0, strengths[7]));
    EXPECT_EQ(NlmFindWeightSlot(1.0, strengths[7]), next);
    EXPECT_EQ(NlmFindWeightSlot(1.0, strengths[0]), -1);
    EXPECT_EQ(NlmNextWeightSlot(), (next + 1) % 7);
    EXPECT_EQ(firstTables->Table(0)[0], 10000u) << "a holder of evicted tables still reads them";
}

// A preview of the whole picture is the full run. The edge plane reports
// two steps per component while it is made, and is made only when Details change.
TEST(RedrawPreview, OfTheWholePictureIsTheFullRunAndMakesTheEdgePlaneOnlyWhenDetailsChange) {
    struct Case {
        int components, bits, fuse, level;
    } cases[] = {{1, 8, 0, RedrawLevelRough}, {3, 16, 1, RedrawLevelOriginal}, {3, 8, 1, RedrawLevelNormal}};
    PicBufHolder source, run, preview;
    RedrawParams params;
    for (const Case& c : cases) {
        MakeTestPicture(source, 90, 70, c.components, c.bits);
        params = At(15, 60, c.fuse, c.level);
        RedrawRepaint(run.buf, source.buf, params);
        CBxPicBufAPI::ConvertBpcComp(run.buf, c.bits, c.components);  // the run's result is 8-bit
        RedrawPreviewCache cache;
        RedrawPreview(preview.buf, source.buf, CBxRect{0, 0, 90, 70}, params, cache);
        EXPECT_TRUE(SamePixels(preview.buf, run.buf)) << c.components << " components, " << c.bits << " bits";
    }
    RedrawPreviewCache cache;
    auto steps = [&](int details, int cut) {
        ProgressCounter counter;
        params = At(details, cut, 1, 0);
        RedrawPreview(preview.buf, source.buf, CBxRect{20, 10, 80, 60}, params, cache);
        return counter.steps();
    };
    const int first = steps(10, 50), cutMoved = steps(10, 20), detailsMoved = steps(30, 20);
    EXPECT_EQ(first - cutMoved, 6);
    EXPECT_EQ(detailsMoved - cutMoved, 6);
    EXPECT_EQ(preview->width, 60);
    EXPECT_THROW(RedrawPreview(preview.buf, source.buf, CBxRect{80, 0, 100, 10}, params, cache), std::invalid_argument);
}
