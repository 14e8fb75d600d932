// Edge extraction, the contrast stretch and the edge strokes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engines/redraw/redraw.h"
#include "test_support.h"

namespace {

void Fill(PicBufHolder& picture, int width, int height, int components, uint8_t value) {
    CBxPicBufAPI::ReinitHeap(picture.buf, width, height, components, 8);
    std::memset(picture->pixels, value, picture->size);
}

uint8_t At(const SBxPicBuf& picture, int x, int y, int c = 0) {
    return PicRow(picture, y)[x * picture.components + c];
}

// A 16-bit plane holding the given samples in one row.
void MakeSixteenBitRow(PicBufHolder& plane, const std::vector<uint16_t>& samples) {
    CBxPicBufAPI::ReinitHeap(plane.buf, static_cast<int>(samples.size()), 1, 1, 16);
    std::memcpy(plane->pixels, samples.data(), samples.size() * 2);
}

uint16_t At16(const SBxPicBuf& plane, int x) {
    return reinterpret_cast<const uint16_t*>(plane.pixels)[x];
}

TEST(RedrawEdgesTest, FlatPictureGivesBlackEdgesAndBlackStrokes) {
    for (int components : {1, 3}) {
        ProgressCounter progress;
        PicBufHolder flat, edges, strokes;
        Fill(flat, 40, 30, components, 180);
        ExtractEdges(edges.buf, flat.buf, 0.4f);
        ASSERT_EQ(edges->bitsPerComponent, 8);
        ASSERT_EQ(edges->components, 1);
        for (int i = 0; i < edges->size; ++i) ASSERT_EQ(edges->pixels[i], 0);
        EXPECT_EQ(progress.steps(), 2 * components);
        DrawEdgeStrokes(strokes.buf, flat.buf, edges.buf, 127.5f, 1.125f, false);
        ASSERT_EQ(strokes->components, components);
        for (int i = 0; i < strokes->size; ++i) ASSERT_EQ(strokes->pixels[i], 0);
        EXPECT_EQ(progress.steps(), 2 * components + 5);
        EXPECT_EQ(progress.alwaysSteps(), 0);  // only while the run's bar is shown
    }
}

// One thin line covers less than the 3 % low share: it must still come out
// black on white paper, not vanish into an all-black plane.
TEST(RedrawEdgesTest, ThinDarkLinesSurviveTheStretch) {
    for (int lines : {1, 4}) {
        PicBufHolder picture, edges;
        Fill(picture, 64, 48, 1, 220);
        for (int y = 0; y < 48; ++y)
            for (int l = 0; l < lines; ++l) PicRow(picture.buf, y)[10 + 15 * l] = 40;
        ExtractEdges(edges.buf, picture.buf, 0.4f);
        for (int y = 0; y < 48; ++y) {
            EXPECT_EQ(At(edges.buf, 10, y), 0) << lines << " lines, row " << y;
            EXPECT_EQ(At(edges.buf, 5, y), 255);
            EXPECT_EQ(At(edges.buf, 62, y), 255);
        }
    }
}

TEST(RedrawEdgesTest, LineInOneComponentShows) {
    PicBufHolder picture, edges;
    Fill(picture, 64, 48, 3, 220);
    for (int y = 0; y < 48; ++y) {
        PicRow(picture.buf, y)[20 * 3 + 2] = 30;  // red only
        PicRow(picture.buf, y)[45 * 3 + 0] = 30;  // blue only
    }
    ExtractEdges(edges.buf, picture.buf, 0.4f);
    for (int y = 0; y < 48; ++y) {
        EXPECT_EQ(At(edges.buf, 20, y), 0);
        EXPECT_EQ(At(edges.buf, 45, y), 0);
        EXPECT_EQ(At(edges.buf, 33, y), 255);
    }
}

TEST(RedrawEdgesTest, StretchClipsThreePercentAtEachEnd) {
    // 100 samples 0, 100, ..., 9900: the limits are 3 samples, so lo is the
    // 4th darkest (300) and hi the 4th brightest (9600).
    std::vector<uint16_t> samples;
    for (int i = 0; i < 100; ++i) samples.push_back(static_cast<uint16_t>(100 * i));
    PicBufHolder plane;
    MakeSixteenBitRow(plane, samples);
    StretchLevels(plane.buf, 0.03f, 0.03f);
    EXPECT_EQ(At16(plane.buf, 0), 0);
    EXPECT_EQ(At16(plane.buf, 3), 0);
    EXPECT_EQ(At16(plane.buf, 4), 704);  // 100 / 9300 x 65535, truncated
    EXPECT_EQ(At16(plane.buf, 50), 33119);
    EXPECT_EQ(At16(plane.buf, 96), 65535);
    EXPECT_EQ(At16(plane.buf, 99), 65535);
}

TEST(RedrawEdgesTest, StretchWithOneDominantLevel) {
    // Flat: everything black.
    PicBufHolder flat;
    MakeSixteenBitRow(flat, std::vector<uint16_t>(50, 65280));
    StretchLevels(flat.buf, 0.03f, 0.03f);
    for (int x = 0; x < 50; ++x) EXPECT_EQ(At16(flat.buf, x), 0);
    // A few brighter samples over one level: those become white, the level black.
    std::vector<uint16_t> brighter(100, 1000);
    brighter[7] = brighter[8] = 2000;
    PicBufHolder plane;
    MakeSixteenBitRow(plane, brighter);
    StretchLevels(plane.buf, 0.03f, 0.03f);
    EXPECT_EQ(At16(plane.buf, 0), 0);
    EXPECT_EQ(At16(plane.buf, 7), 65535);
    // A few darker samples under it: they are the lines, the level is paper.
    std::vector<uint16_t> darker(100, 65280);
    darker[3] = 100;
    darker[4] = 30000;
    PicBufHolder lines;
    MakeSixteenBitRow(lines, darker);
    StretchLevels(lines.buf, 0.03f, 0.03f);
    EXPECT_EQ(At16(lines.buf, 0), 65535);
    EXPECT_EQ(At16(lines.buf, 3), 0);
    EXPECT_EQ(At16(lines.buf, 4), 0);
}

class RedrawStrokesTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTestPicture(source, 64, 48, 3, 8);
        ExtractEdges(edges.buf, source.buf, 0.4f);
    }
    // Strokes with the given cut and fuse, from a fresh copy of the edges.
    void Strokes(PicBufHolder& result, float cut, bool fuse) {
        PicBufHolder scratch;
        CBxPicBufAPI::ReinitHeap(scratch.buf, edges.buf);
        CBxPicBufAPI::Copy(scratch.buf, edges.buf);
        DrawEdgeStrokes(result.buf, source.buf, scratch.buf, cut, 1.125f, fuse);
    }
    PicBufHolder source, edges;
};

TEST_F(RedrawStrokesTest, CutWhitensOnlyWhatIsBrighterThanTheThreshold) {
    PicBufHolder uncut, cut;
    Strokes(uncut, 255.0f, false);  // nothing is brighter than 255
    Strokes(cut, 127.5f, false);
    ASSERT_EQ(uncut->components, 3);
    int grey = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint8_t value = At(uncut.buf, x, y);
            // Grey strokes are written into every component alike.
            ASSERT_EQ(At(uncut.buf, x, y, 1), value);
            ASSERT_EQ(At(uncut.buf, x, y, 2), value);
            if (value > 0 && value < 255) ++grey;
            EXPECT_EQ(At(cut.buf, x, y), value > 127 ? 255 : value);
        }
    EXPECT_GT(grey, 0);  // the smoothing leaves grey: the cut at 255 kept it
}

TEST_F(RedrawStrokesTest, FusedStrokesArePureBlackAndWhite) {
    PicBufHolder cut, fused;
    Strokes(cut, 127.5f, false);
    Strokes(fused, 127.5f, true);
    int black = 0;
    for (int i = 0; i < fused->size; ++i) {
        ASSERT_TRUE(fused->pixels[i] == 0 || fused->pixels[i] == 255);
        EXPECT_EQ(fused->pixels[i], cut->pixels[i] == 255 ? 255 : 0);
        black += fused->pixels[i] == 0;
    }
    EXPECT_GT(black, 0);
}

}  // namespace
