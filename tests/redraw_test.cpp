// The Redraw repaint: edges, the contrast stretch, strokes, colour
// quantization and the whole run with its settings, progress and abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engines/redraw/redraw.h"
#include "test_support.h"

namespace {

void Repaint(PicBufHolder& result, SBxPicBuf& source, int details, int cut, int fuse, int level) {
    RedrawJob job{};
    FillRedrawJob(job, details, cut, fuse, level);
    job.source = &source;
    job.result = &result.buf;
    RedrawRepaint(job);
}

// The stroke drawing of the run's steps called one by one, at Details 10.
void Strokes(PicBufHolder& strokes, const SBxPicBuf& source, bool fuse) {
    PicBufHolder edges;
    ExtractEdges(edges.buf, source, RedrawEdgeSigma(1.0f));
    DrawEdgeStrokes(strokes.buf, source, edges.buf, 127.5f, RedrawStrokeScale(1.0f), fuse);
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

}  // namespace

// Thin lines, covering less than the 3 % low share, come out black on white
// paper, in whichever component they are drawn; a flat picture is black.
TEST(Redraw, EdgesAreDarkLinesInAnyComponentOnWhitePaper) {
    for (int lines : {0, 1, 4}) {
        PicBufHolder picture, edges;
        MakeFilled(picture, 64, 48, 3, 8, 220);
        for (int y = 0; y < 48; ++y)
            for (int l = 0; l < lines; ++l) SetSample(picture.buf, 10 + 15 * l, y, l % 3 == 0 ? 2 : 0, 40);
        ExtractEdges(edges.buf, picture.buf, 0.4f);
        ASSERT_EQ(edges->bitsPerComponent * 10 + edges->components, 81);
        for (int y = 0; y < 48; ++y) {
            for (int l = 0; l < lines; ++l) EXPECT_EQ(SampleAt(edges.buf, 10 + 15 * l, y), 0) << lines << " lines, row " << y;
            EXPECT_EQ(SampleAt(edges.buf, 5, y) + SampleAt(edges.buf, 62, y), lines ? 2 * 255 : 0);
        }
    }
}

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

TEST(Redraw, QuantizationStepsTheLumaOfTheSmoothedPicture) {
    EXPECT_STREQ(kRedrawLevelNames[RedrawLevelRough], "Rough Quantization");  // as the command-line help shows them
    EXPECT_STREQ(kRedrawLevelNames[RedrawLevelOriginal], "Original Image");
    const int inputs[] = {0, 20, 30, 40, 100, 128, 200, 230, 255};
    const int expected[3][9] = {{0, 0, 8, 64, 127, 128, 192, 255, 255},
                                {0, 2, 48, 51, 102, 131, 204, 233, 255},
                                {0, 25, 27, 42, 103, 130, 205, 233, 255}};
    for (int level = -1; level < 5; ++level)
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(SoftStep(static_cast<uint8_t>(inputs[i]), level), level >= 0 && level < 3 ? expected[level][i] : inputs[i])
                << "level " << level << ", x = " << inputs[i];

    // Level 3 is the smoothing alone; Original Image and unknown levels leave the picture.
    PicBufHolder picture, expectedPicture, component, smoothed;
    MakeTestPicture(picture, 48, 36, 3, 8);
    CopyOf(expectedPicture, picture.buf);
    for (int level : {static_cast<int>(RedrawLevelOriginal), -1, 9}) {
        QuantizeColors(picture.buf, level);
        EXPECT_TRUE(SamePixels(picture.buf, expectedPicture.buf)) << level;
    }
    for (int c = 0; c < 3; ++c) {
        CBxPicBufAPI::ExtractComponent(component.buf, c, picture.buf);
        SmoothPlane(smoothed.buf, component.buf, 150.0);
        CBxPicBufAPI::InsertComponent(expectedPicture.buf, c, smoothed.buf);
    }
    QuantizeColors(picture.buf, RedrawLevelSmoothed);
    EXPECT_TRUE(SamePixels(picture.buf, expectedPicture.buf));

    // A grey picture is smoothed, then stepped directly.
    MakeTestPicture(picture, 48, 36, 1, 8);
    SmoothPlane(smoothed.buf, picture.buf, 150.0);
    QuantizeColors(picture.buf, RedrawLevelRough);
    for (int i = 0; i < picture->size; ++i) ASSERT_EQ(picture->pixels[i], SoftStep(smoothed->pixels[i], RedrawLevelRough));

    // 16 x 12 is too small to be smoothed, so only the stepping acts: the
    // luma lands on the step curve and, where no component clipped, the chroma stays.
    for (int level : {0, 1, 2}) {
        PicBufHolder colour, before, yuvBefore, yuvAfter;
        MakeTestPicture(colour, 16, 12, 3, 8, 5);
        CopyOf(before, colour.buf);
        QuantizeColors(colour.buf, level);
        CBxPicBufAPI::ConvertRGBtoYUV(yuvBefore.buf, before.buf);
        CBxPicBufAPI::ConvertRGBtoYUV(yuvAfter.buf, colour.buf);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x) {
                const int luma = static_cast<int>(SampleAt(yuvBefore.buf, x, y, 0) / 256 + 0.5);
                EXPECT_NEAR(SampleAt(yuvAfter.buf, x, y, 0) / 256, SoftStep(static_cast<uint8_t>(luma), level), 1.0);
                const uint8_t* p = PicRow(colour.buf, y) + 3 * x;
                if (std::min({p[0], p[1], p[2]}) == 0 || std::max({p[0], p[1], p[2]}) == 255) continue;
                for (int c : {1, 2}) EXPECT_NEAR(SampleAt(yuvAfter.buf, x, y, c) / 256, SampleAt(yuvBefore.buf, x, y, c) / 256, 1.0);
            }
    }
}

// Without fusion the run's result is the stroke drawing at any level; fused,
// black strokes are burnt into the colours of the level.
TEST(Redraw, RepaintIsTheStrokesOrTheStrokesBurntIntoTheColours) {
    PicBufHolder source, strokes, fusedStrokes, quantized;
    MakeTestPicture(source, 56, 40, 3, 8);
    Strokes(strokes, source.buf, false);
    Strokes(fusedStrokes, source.buf, true);
    CopyOf(quantized, source.buf);
    QuantizeColors(quantized.buf, RedrawLevelNormal);
    for (int level : {0, 1, 2, 4}) {
        PicBufHolder result;
        Repaint(result, source.buf, 10, 50, 0, level);
        EXPECT_TRUE(SamePixels(result.buf, strokes.buf)) << "level " << level;
    }
    for (int level : {1, 4}) {
        const SBxPicBuf& colours = level == RedrawLevelOriginal ? source.buf : quantized.buf;
        PicBufHolder result;
        Repaint(result, source.buf, 10, 50, 1, level);
        int black = 0;
        for (int i = 0; i < result->size; ++i) {
            ASSERT_EQ(result->pixels[i], fusedStrokes->pixels[i] == 0 ? 0 : colours.pixels[i]) << i;
            black += fusedStrokes->pixels[i] == 0;
        }
        EXPECT_GT(black, 0);
        EXPECT_LT(black, result->size / 2);
    }
    // The burn is linear: max(0, colour + stroke - 255).
    PicBufHolder colours, burn;
    MakeTestPicture(colours, 7, 1, 3, 8, 3);
    MakeTestPicture(burn, 7, 1, 3, 8, 4);
    CopyOf(quantized, colours.buf);
    FuseStrokes(colours.buf, burn.buf);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(colours->pixels[i], std::max(0, quantized->pixels[i] + burn->pixels[i] - 255)) << i;

    // A 16-bit picture is repainted from its 8-bit form; Details far below the
    // slider and an unknown level (which acts as Original Image) still repaint.
    PicBufHolder deep, shallow, deepResult, shallowResult, odd;
    MakeTestPicture(deep, 56, 40, 3, 16);
    CopyOf(shallow, deep.buf);
    CBxPicBufAPI::ConvertBpcComp(shallow.buf, 8, 3);
    Repaint(deepResult, deep.buf, 10, 50, 1, 2);
    Repaint(shallowResult, shallow.buf, 10, 50, 1, 2);
    EXPECT_TRUE(SamePixels(deepResult.buf, shallowResult.buf));
    Repaint(odd, source.buf, -500, 50, 1, 9);
    Repaint(shallowResult, source.buf, 0, 50, 1, RedrawLevelOriginal);
    EXPECT_TRUE(SamePixels(odd.buf, shallowResult.buf));

    RedrawJob job{};
    EXPECT_THROW(RedrawRepaint(job), std::invalid_argument);
    PicBufHolder floats;
    MakeFilled(floats, 8, 8, 3, 32, 0);
    job.source = &floats.buf;
    job.result = &odd.buf;
    EXPECT_THROW(RedrawRepaint(job), std::invalid_argument);
}

// The bytes of a fused repaint, recorded when the engine was right: any
// change to the method's arithmetic (edges, stretch, strokes, smoothing,
// steps) shows here. Record anew only for a change of the look that is meant.
TEST(Redraw, KeepsItsLook) {
    PicBufHolder source, result;
    MakeTestPicture(source, 56, 40, 3, 8, 5);
    Repaint(result, source.buf, 14, 60, 1, 0);
    EXPECT_EQ(PixelHash(result.buf), 17439114606087791869u);
}

TEST(Redraw, ProgressReachesTheTotalAndAbortEndsTheRunAtAnyStep) {
    EXPECT_EQ(RedrawProgressTotal(1), 12);
    EXPECT_EQ(RedrawProgressTotal(3), 16);
    for (int components : {1, 3})
        for (int fuse : {0, 1}) {
            ProgressCounter progress;
            PicBufHolder source, result;
            MakeTestPicture(source, 56, 40, components, 8);
            Repaint(result, source.buf, 10, 50, fuse, 1);
            EXPECT_EQ(progress.steps(), RedrawProgressTotal(components)) << components << " components, fuse " << fuse;
            EXPECT_EQ(progress.alwaysSteps(), 0);
        }
    for (int after = 1; after < RedrawProgressTotal(3); ++after) {
        ProgressCounter progress;
        progress.abortAfter(after);
        PicBufHolder source, result;
        MakeTestPicture(source, 56, 40, 3, 8);
        MakeFilled(result, 7, 5, 1, 8, 77);
        Repaint(result, source.buf, 10, 50, 1, 1);
        EXPECT_TRUE(AbortPolled()) << after;
        EXPECT_LE(progress.steps(), RedrawProgressTotal(3)) << after;
        // Abort after the first blur: no stroke step runs and the rest is still counted.
        if (after == 2) {
            EXPECT_EQ(progress.steps(), 6);  // 1 + 1 blur, then 1 + 1 + 2 without work
            EXPECT_EQ(result->width * 1000 + result->pixels[0], 7077);
        }
    }
}
