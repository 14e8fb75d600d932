// The whole Redraw run: what it returns with and without fusion, progress,
// abort, 16-bit and grey pictures, and the mapping of the stored settings.
#include <gtest/gtest.h>

#include <cstring>

#include "engines/redraw/redraw.h"
#include "test_support.h"

namespace {

constexpr int kWidth = 56;
constexpr int kHeight = 40;

void Repaint(PicBufHolder& result, SBxPicBuf& source, int details, int cut, int fuse, int level) {
    RedrawJob job{};
    FillRedrawJob(job, details, cut, fuse, level);
    job.source = &source;
    job.result = &result.buf;
    RedrawRepaint(job);
}

// The stroke drawing of the steps called one by one.
void Strokes(PicBufHolder& strokes, const SBxPicBuf& source, bool fuse) {
    PicBufHolder edges;
    ExtractEdges(edges.buf, source, RedrawEdgeSigma(1.0f));
    DrawEdgeStrokes(strokes.buf, source, edges.buf, 127.5f, RedrawStrokeScale(1.0f), fuse);
}

TEST(RedrawPipelineTest, SettingsMapOntoTheJob) {
    RedrawJob job{};
    FillRedrawJob(job, kRedrawDetailsDefault, kRedrawCutDefault, kRedrawFuseDefault, kRedrawLevelDefault);
    EXPECT_FLOAT_EQ(job.details, 1.0f);
    EXPECT_FLOAT_EQ(job.cut, 127.5f);
    EXPECT_EQ(job.fuseToImage, 0);
    EXPECT_EQ(job.quantization, 1);
    FillRedrawJob(job, kRedrawDetailsMax, kRedrawCutMax, 7, kRedrawLevelMax);
    EXPECT_FLOAT_EQ(job.details, 10.0f);
    EXPECT_FLOAT_EQ(job.cut, 255.0f);
    EXPECT_EQ(job.fuseToImage, 1);  // anything above 0 is on
    EXPECT_EQ(job.quantization, 4);
    FillRedrawJob(job, kRedrawDetailsMin, kRedrawCutMin, 0, 0);
    EXPECT_FLOAT_EQ(job.details, 0.1f);
    EXPECT_FLOAT_EQ(job.cut, 2.55f);

    EXPECT_FLOAT_EQ(RedrawEdgeSigma(1.0f), 0.4f);
    EXPECT_FLOAT_EQ(RedrawEdgeSigma(10.0f), 2.2f);
    EXPECT_FLOAT_EQ(RedrawEdgeSigma(0.1f), 0.22f);
    EXPECT_FLOAT_EQ(RedrawStrokeScale(1.0f), 1.125f);
    EXPECT_FLOAT_EQ(RedrawStrokeScale(10.0f), 2.25f);
    EXPECT_FLOAT_EQ(RedrawStrokeScale(0.1f), 1.0125f);
    EXPECT_STREQ(kRedrawLevelNames[RedrawLevelRough], "Rough Quantization");
    EXPECT_STREQ(kRedrawLevelNames[RedrawLevelOriginal], "Original Image");
}

TEST(RedrawPipelineTest, ProgressReachesTheTotalForGreyAndColour) {
    for (int components : {1, 3})
        for (int fuse : {0, 1}) {
            ProgressCounter progress;
            PicBufHolder source, result;
            MakeTestPicture(source, kWidth, kHeight, components, 8);
            Repaint(result, source.buf, 10, 50, fuse, 1);
            EXPECT_EQ(progress.steps(), RedrawProgressTotal(components)) << components << " components, fuse " << fuse;
            EXPECT_EQ(progress.alwaysSteps(), 0);
            EXPECT_EQ(result->components, components);
        }
    EXPECT_EQ(RedrawProgressTotal(1), 12);
    EXPECT_EQ(RedrawProgressTotal(3), 16);
}

TEST(RedrawPipelineTest, WithoutFusionTheResultIsTheStrokeDrawingAtAnyLevel) {
    PicBufHolder source, strokes;
    MakeTestPicture(source, kWidth, kHeight, 3, 8);
    Strokes(strokes, source.buf, false);
    for (int level : {0, 2, 4}) {
        PicBufHolder result;
        Repaint(result, source.buf, 10, 50, 0, level);
        EXPECT_TRUE(SamePixels(result.buf, strokes.buf)) << "level " << level;
    }
}

TEST(RedrawPipelineTest, FusionBurnsBlackStrokesIntoTheColours) {
    PicBufHolder source, strokes, quantized;
    MakeTestPicture(source, kWidth, kHeight, 3, 8);
    Strokes(strokes, source.buf, true);
    CopyOf(quantized, source.buf);
    QuantizeColors(quantized.buf, RedrawLevelNormal);
    for (int level : {1, 4}) {
        const SBxPicBuf& colours = level == RedrawLevelOriginal ? source.buf : quantized.buf;
        PicBufHolder result;
        Repaint(result, source.buf, 10, 50, 1, level);
        int black = 0, kept = 0;
        for (int i = 0; i < result->size; ++i) {
            if (strokes->pixels[i] == 0) {
                ASSERT_EQ(result->pixels[i], 0);
                ++black;
            } else {
                ASSERT_EQ(result->pixels[i], colours.pixels[i]);
                ++kept;
            }
        }
        EXPECT_GT(black, 0);
        EXPECT_GT(kept, black);
    }
}

TEST(RedrawPipelineTest, FuseStrokesIsALinearBurn) {
    PicBufHolder colours, strokes;
    CBxPicBufAPI::ReinitHeap(colours.buf, 5, 1, 3, 8);
    CBxPicBufAPI::ReinitHeap(strokes.buf, 5, 1, 3, 8);
    const uint8_t c[15] = {200, 200, 200, 10, 90, 250, 0, 255, 128, 60, 70, 80, 1, 2, 3};
    const uint8_t s[15] = {255, 0, 128, 255, 200, 100, 255, 255, 127, 250, 190, 180, 254, 253, 252};
    std::memcpy(colours->pixels, c, 15);
    std::memcpy(strokes->pixels, s, 15);
    FuseStrokes(colours.buf, strokes.buf);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(colours->pixels[i], std::max(0, c[i] + s[i] - 255)) << i;
}

// Abort after the first blur: edge extraction stops, no stroke step runs
// (the result keeps what it held), and the remaining steps are still counted.
TEST(RedrawPipelineTest, AbortDuringEdgeExtractionSkipsEveryFurtherStep) {
    ProgressCounter progress;
    progress.abortAfter(2);
    PicBufHolder source, result;
    MakeTestPicture(source, kWidth, kHeight, 3, 8);
    CBxPicBufAPI::ReinitHeap(result.buf, 7, 5, 1, 8);
    std::memset(result->pixels, 77, result->size);
    Repaint(result, source.buf, 10, 50, 1, 1);
    EXPECT_TRUE(AbortPolled());
    EXPECT_EQ(progress.steps(), 6);  // 1 + 1 blur, then 1 + 1 + 2 without work
    EXPECT_EQ(result->width, 7);
    EXPECT_EQ(result->pixels[0], 77);
}

// Abort at every step of a fused colour run: it always ends cleanly, with
// the flag set and never more steps than a whole run.
TEST(RedrawPipelineTest, AbortAtAnyStepEndsTheRun) {
    for (int after = 1; after < RedrawProgressTotal(3); ++after) {
        ProgressCounter progress;
        progress.abortAfter(after);
        PicBufHolder source, result;
        MakeTestPicture(source, kWidth, kHeight, 3, 8);
        Repaint(result, source.buf, 10, 50, 1, 1);
        EXPECT_TRUE(AbortPolled()) << after;
        EXPECT_LE(progress.steps(), RedrawProgressTotal(3)) << after;
    }
}

TEST(RedrawPipelineTest, SixteenBitPictureIsRepaintedFromItsEightBitForm) {
    PicBufHolder deep, shallow, deepResult, shallowResult;
    MakeTestPicture(deep, kWidth, kHeight, 3, 16);
    CopyOf(shallow, deep.buf);
    CBxPicBufAPI::ConvertBpcComp(shallow.buf, 8, 3);
    Repaint(deepResult, deep.buf, 10, 50, 1, 2);
    Repaint(shallowResult, shallow.buf, 10, 50, 1, 2);
    EXPECT_EQ(deepResult->bitsPerComponent, 8);
    EXPECT_TRUE(SamePixels(deepResult.buf, shallowResult.buf));
}

// Hand-edited settings: Details far below the slider and an unknown level
// still give a picture (the level acting as "Original Image").
TEST(RedrawPipelineTest, OutOfRangeSettingsStillRepaint) {
    PicBufHolder source, odd, original;
    MakeTestPicture(source, kWidth, kHeight, 3, 8);
    Repaint(odd, source.buf, -500, 50, 1, 9);
    Repaint(original, source.buf, 0, 50, 1, RedrawLevelOriginal);
    EXPECT_TRUE(SamePixels(odd.buf, original.buf));
}

TEST(RedrawPipelineTest, MissingOrUnsupportedPicturesAreRefused) {
    PicBufHolder source, result;
    RedrawJob job{};
    FillRedrawJob(job, 10, 50, 0, 1);
    EXPECT_THROW(RedrawRepaint(job), std::invalid_argument);
    CBxPicBufAPI::ReinitHeap(source.buf, 8, 8, 3, 32);
    job.source = &source.buf;
    job.result = &result.buf;
    EXPECT_THROW(RedrawRepaint(job), std::invalid_argument);
}

}  // namespace
