// Colour quantization: the soft step, the levels, grey and colour pictures.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engines/redraw/redraw.h"
#include "test_support.h"

namespace {

// Luma and chroma of one pixel through the library's own conversion, on
// the 8-bit scale whatever depth the library keeps them at.
struct LumaChroma {
    double y, cb, cr;
};
LumaChroma LumaChromaAt(const SBxPicBuf& colour, int x, int y) {
    PicBufHolder yc;
    CBxPicBufAPI::ConvertRGBtoYUV(yc.buf, colour);
    const double scale = yc->bitsPerComponent == 16 ? 256.0 : 1.0;
    return {SampleAt(yc.buf, x, y, 0) / scale, SampleAt(yc.buf, x, y, 1) / scale, SampleAt(yc.buf, x, y, 2) / scale};
}

TEST(RedrawQuantizeTest, SoftStepMatchesItsTableOfExamples) {
    const int inputs[] = {0, 10, 20, 30, 40, 60, 100, 128, 150, 200, 230, 250, 255};
    const int expected[3][13] = {
        {0, 0, 0, 8, 64, 64, 127, 128, 128, 192, 255, 255, 255},
        {0, 0, 2, 48, 51, 51, 102, 131, 153, 204, 233, 255, 255},
        {0, 6, 25, 27, 42, 55, 103, 130, 155, 205, 233, 254, 255},
    };
    for (int level = 0; level < 3; ++level)
        for (int i = 0; i < 13; ++i)
            EXPECT_EQ(SoftStep(static_cast<uint8_t>(inputs[i]), level), expected[level][i])
                << "level " << level << ", x = " << inputs[i];
    // Levels that do not step leave every value alone.
    for (int level : {3, 4, -1})
        for (int x = 0; x < 256; ++x) ASSERT_EQ(SoftStep(static_cast<uint8_t>(x), level), x);
}

TEST(RedrawQuantizeTest, LevelThreeIsTheSmoothedPictureAlone) {
    PicBufHolder picture, expected, component, smoothed;
    MakeTestPicture(picture, 48, 36, 3, 8);
    CopyOf(expected, picture.buf);
    for (int c = 0; c < 3; ++c) {
        CBxPicBufAPI::ExtractComponent(component.buf, c, picture.buf);
        SmoothPlane(smoothed.buf, component.buf, 150.0);
        CBxPicBufAPI::InsertComponent(expected.buf, c, smoothed.buf);
    }
    QuantizeColors(picture.buf, RedrawLevelSmoothed);
    EXPECT_TRUE(SamePixels(picture.buf, expected.buf));
}

TEST(RedrawQuantizeTest, GreyPictureIsSmoothedThenSteppedDirectly) {
    PicBufHolder picture, smoothed;
    MakeTestPicture(picture, 48, 36, 1, 8);
    SmoothPlane(smoothed.buf, picture.buf, 150.0);
    QuantizeColors(picture.buf, RedrawLevelRough);
    ASSERT_EQ(picture->components, 1);
    for (int y = 0; y < 36; ++y)
        for (int x = 0; x < 48; ++x)
            ASSERT_EQ(PicRow(picture.buf, y)[x], SoftStep(PicRow(smoothed.buf, y)[x], RedrawLevelRough));
}

// 16 x 12 is too small to be smoothed, so only the stepping acts: the luma
// lands on the step curve and, where no colour component clipped, the
// chroma stays where it was.
TEST(RedrawQuantizeTest, ColourPictureStepsOnlyItsLuma) {
    for (int level : {0, 1, 2}) {
        PicBufHolder picture, original;
        MakeTestPicture(picture, 16, 12, 3, 8, 5);
        CopyOf(original, picture.buf);
        QuantizeColors(picture.buf, level);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x) {
                const LumaChroma before = LumaChromaAt(original.buf, x, y);
                const LumaChroma after = LumaChromaAt(picture.buf, x, y);
                const int luma = static_cast<int>(before.y + 0.5);
                EXPECT_NEAR(after.y, SoftStep(static_cast<uint8_t>(luma), level), 1.0) << x << "," << y;
                bool clipped = false;
                for (int c = 0; c < 3; ++c) {
                    const double v = SampleAt(picture.buf, x, y, c);
                    clipped = clipped || v == 0 || v == 255;
                }
                if (!clipped) {
                    EXPECT_NEAR(after.cb, before.cb, 1.0);
                    EXPECT_NEAR(after.cr, before.cr, 1.0);
                }
            }
    }
}

TEST(RedrawQuantizeTest, OriginalImageAndUnknownLevelsLeaveThePicture) {
    for (int level : {static_cast<int>(RedrawLevelOriginal), -1, 9}) {
        PicBufHolder picture, original;
        MakeTestPicture(picture, 40, 30, 3, 8);
        CopyOf(original, picture.buf);
        QuantizeColors(picture.buf, level);
        EXPECT_TRUE(SamePixels(picture.buf, original.buf)) << level;
    }
}

}  // namespace
