#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "picbuf/picbuf.h"
#include "test_support.h"

namespace {

uint8_t* Pixel8(const SBxPicBuf& buf, int x, int y) {
    return PicRow(buf, y) + static_cast<size_t>(x) * buf.components;
}

void FillColour(SBxPicBuf& buf, uint8_t b, uint8_t g, uint8_t r) {
    for (int y = 0; y < buf.height; ++y)
        for (int x = 0; x < buf.width; ++x) {
            uint8_t* p = Pixel8(buf, x, y);
            p[0] = b, p[1] = g, p[2] = r;
        }
}

}  // namespace

TEST(PicBufHeap, AllocatesPackedBlocksAndRefusesSizesThatDoNotFit) {
    PicBufHolder pic;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 7, 5, 3, 16));
    EXPECT_EQ(pic->pitch, 7 * 3 * 2);
    EXPECT_EQ(pic->size, 7 * 3 * 2 * 5);
    EXPECT_NE(pic->pixels, nullptr);

    // 30000 x 30000 colour is 2.7 GB: more than the 32-bit size can count.
    EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(pic.buf, 30000, 30000, 3, 8));
    EXPECT_EQ(pic->pixels, nullptr);
    EXPECT_EQ(pic->size, 0);
    EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(pic.buf, 1 << 20, 1 << 20, 1, 8));
    EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(pic.buf, -4, 10, 1, 8));
    EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(pic.buf, 10, 10, 1, 12));

    // A zero dimension gives an empty block, which the operations refuse politely.
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 0, 10, 1, 8));
    EXPECT_EQ(pic->size, 0);
    PicBufHolder other;
    EXPECT_FALSE(CBxPicBufAPI::Copy(other.buf, pic.buf));
    EXPECT_FALSE(CBxPicBufAPI::ConvertBpcComp(pic.buf, 8, 3));
}

TEST(PicBufCopy, CopiesBetweenPitchesAndClipsBlocks) {
    PicBufHolder src;
    MakeTestPicture(src, 40, 30, 3, 8);

    // A hand-filled record with a wider pitch, like a window's back buffer.
    std::vector<uint8_t> storage(static_cast<size_t>(64 * 3) * 30, 0xEE);
    SBxPicBuf wrapped{storage.data(), static_cast<int32_t>(storage.size()), 64 * 3, 40, 30, 3, 8};
    ASSERT_TRUE(CBxPicBufAPI::Copy(wrapped, src.buf));
    EXPECT_TRUE(SamePixels(wrapped, src.buf));
    EXPECT_EQ(storage[40 * 3], 0xEE) << "bytes past a row's end are not touched";

    // A rect of the source, and a block hanging over every edge of both pictures.
    PicBufHolder part;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(part.buf, 10, 8, 3, 8));
    ASSERT_TRUE(CBxPicBufAPI::Copy(part.buf, src.buf, CBxRect{5, 7, 15, 15}));
    EXPECT_EQ(std::memcmp(Pixel8(part.buf, 0, 0), Pixel8(src.buf, 5, 7), 30), 0);
    EXPECT_EQ(std::memcmp(Pixel8(part.buf, 0, 7), Pixel8(src.buf, 5, 14), 30), 0);

    FillColour(part.buf, 1, 2, 3);
    ASSERT_TRUE(CBxPicBufAPI::CopyRect(part.buf, src.buf, CBxPoint{-3, 4}, CBxPoint{36, -2}, CBxSize{20, 20}));
    // Destination x 0 takes source x 39; destination y 6 takes source y 0; the rest stays.
    EXPECT_EQ(std::memcmp(Pixel8(part.buf, 0, 6), Pixel8(src.buf, 39, 0), 3), 0);
    EXPECT_EQ(Pixel8(part.buf, 1, 6)[0], 1);
    EXPECT_EQ(Pixel8(part.buf, 0, 5)[0], 1);

    // Mismatched geometry is refused and leaves the destination alone.
    PicBufHolder grey;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(grey.buf, 40, 30, 1, 8));
    EXPECT_FALSE(CBxPicBufAPI::Copy(grey.buf, src.buf));
}

TEST(PicBufCopy, OverlappingBlockWithinOnePictureMovesIntact) {
    PicBufHolder pic, before;
    MakeTestPicture(pic, 20, 20, 1, 8);
    CBxPicBufAPI::ReinitHeap(before.buf, pic.buf);
    CBxPicBufAPI::Copy(before.buf, pic.buf);
    ASSERT_TRUE(CBxPicBufAPI::CopyRect(pic.buf, pic.buf, CBxPoint{2, 3}, CBxPoint{0, 0}, CBxSize{10, 10}));
    for (int y = 0; y < 10; ++y)
        EXPECT_EQ(std::memcmp(PicRow(pic.buf, y + 3) + 2, PicRow(before.buf, y), 10), 0) << "row " << y;
}

TEST(PicBufComponents, ExtractAndInsertRoundTripAtEveryDepth) {
    for (int bits : {8, 16, 32}) {
        PicBufHolder pic, plane, rebuilt;
        MakeTestPicture(pic, 13, 9, 3, bits);
        CBxPicBufAPI::ReinitHeap(rebuilt.buf, pic.buf);
        std::memset(rebuilt->pixels, 0, rebuilt->size);
        for (int c = 0; c < 3; ++c) {
            ASSERT_TRUE(CBxPicBufAPI::ExtractComponent(plane.buf, c, pic.buf));
            EXPECT_EQ(plane->components, 1);
            EXPECT_EQ(plane->bitsPerComponent, bits);
            EXPECT_EQ(SampleAt(plane.buf, 4, 5, 0), SampleAt(pic.buf, 4, 5, c));
            ASSERT_TRUE(CBxPicBufAPI::InsertComponent(rebuilt.buf, c, plane.buf));
        }
        EXPECT_TRUE(SamePixels(rebuilt.buf, pic.buf)) << bits << " bits";
        EXPECT_FALSE(CBxPicBufAPI::ExtractComponent(plane.buf, 3, pic.buf));
    }
}

TEST(PicBufConvert, DepthConversionsFollowTheDocumentedRules) {
    PicBufHolder pic;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 256, 1, 1, 8));
    for (int v = 0; v < 256; ++v) pic->pixels[v] = static_cast<uint8_t>(v);
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(pic.buf, 16, 1));
    EXPECT_EQ(SampleAt(pic.buf, 255, 0, 0), 65535);
    EXPECT_EQ(SampleAt(pic.buf, 1, 0, 0), 257);
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(pic.buf, 8, 1));
    for (int v = 0; v < 256; ++v) ASSERT_EQ(pic->pixels[v], v) << "8 -> 16 -> 8 restores every value";

    // 16 to 8 rounds: 128 of 257 is under a half, 129 over.
    PicBufHolder wide;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(wide.buf, 3, 1, 1, 16));
    uint16_t* w = reinterpret_cast<uint16_t*>(wide->pixels);
    w[0] = 257 * 10 + 128, w[1] = 257 * 10 + 129, w[2] = 65535;
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(wide.buf, 8, 1));
    EXPECT_EQ(wide->pixels[0], 10);
    EXPECT_EQ(wide->pixels[1], 11);
    EXPECT_EQ(wide->pixels[2], 255);

    // Floats keep raw values and come back rounded and clamped.
    PicBufHolder real;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(real.buf, 4, 1, 1, 32));
    float* f = reinterpret_cast<float*>(real->pixels);
    f[0] = -3.0f, f[1] = 254.5f, f[2] = 300.0f, f[3] = 17.49f;
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(real.buf, 8, 1));
    EXPECT_EQ(real->pixels[0], 0);
    EXPECT_EQ(real->pixels[1], 255);
    EXPECT_EQ(real->pixels[2], 255);
    EXPECT_EQ(real->pixels[3], 17);
}

TEST(PicBufConvert, GreyUsesRec601WeightsAndGreyToColourRepeats) {
    PicBufHolder pic;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 3, 1, 3, 8));
    const uint8_t bgr[9] = {255, 0, 0, 0, 255, 0, 0, 0, 255};  // blue, green, red
    std::memcpy(pic->pixels, bgr, 9);
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(pic.buf, 8, 1));
    EXPECT_EQ(pic->pixels[0], 29);   // 0.114 * 255
    EXPECT_EQ(pic->pixels[1], 150);  // 0.587 * 255
    EXPECT_EQ(pic->pixels[2], 76);   // 0.299 * 255
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(pic.buf, 8, 3));
    EXPECT_EQ(pic->pixels[3], 150);
    EXPECT_EQ(pic->pixels[4], 150);
    EXPECT_EQ(pic->pixels[5], 150);

    PicBufHolder real;
    MakeTestPicture(real, 5, 5, 3, 32);
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(real.buf, 32, 1));
    EXPECT_EQ(real->bitsPerComponent, 32);
    EXPECT_EQ(real->components, 1);
}

TEST(PicBufConvert, LumaChromaRoundTripRestoresEveryColour) {
    // All 2^24 colours in one 4096 x 4096 picture.
    PicBufHolder pic, yuv, back;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 4096, 4096, 3, 8));
    for (uint32_t i = 0; i < (1u << 24); ++i) {
        uint8_t* p = pic->pixels + 3 * static_cast<size_t>(i);
        p[0] = i & 0xFF, p[1] = (i >> 8) & 0xFF, p[2] = i >> 16;
    }
    ASSERT_TRUE(CBxPicBufAPI::ConvertRGBtoYUV(yuv.buf, pic.buf));
    ASSERT_TRUE(CBxPicBufAPI::ConvertYUVtoRGB(back.buf, yuv.buf));
    EXPECT_TRUE(SamePixels(back.buf, pic.buf));

    // Luma of grey is the grey value, chroma of grey is neutral.
    const uint16_t* grey = reinterpret_cast<const uint16_t*>(yuv->pixels) + 3 * static_cast<size_t>(0x808080);
    EXPECT_EQ(grey[0], 128 * 256);
    EXPECT_EQ(grey[1], 32768);
    EXPECT_EQ(grey[2], 32768);

    // In place, too; raising the luma brightens and clamps without wrapping.
    PicBufHolder small;
    MakeTestPicture(small, 16, 16, 3, 8);
    PicBufHolder copy;
    CBxPicBufAPI::ReinitHeap(copy.buf, small.buf);
    CBxPicBufAPI::Copy(copy.buf, small.buf);
    ASSERT_TRUE(CBxPicBufAPI::ConvertRGBtoYUV(small.buf, small.buf));
    uint16_t* first = reinterpret_cast<uint16_t*>(small->pixels);
    first[0] = 65280;
    ASSERT_TRUE(CBxPicBufAPI::ConvertYUVtoRGB(small.buf, small.buf));
    EXPECT_EQ(small->bitsPerComponent, 8);
    EXPECT_GE(small->pixels[1], copy->pixels[1]);
    EXPECT_EQ(std::memcmp(small->pixels + 3, copy->pixels + 3, small->size - 3), 0);
}

TEST(PicBufSetConst, FillsOnlyTheClippedRect) {
    PicBufHolder pic;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 6, 4, 3, 8));
    std::memset(pic->pixels, 0, pic->size);
    ASSERT_TRUE(CBxPicBufAPI::SetConst(pic.buf, CBxRect{4, -2, 10, 2}, 0x40));
    EXPECT_EQ(Pixel8(pic.buf, 4, 0)[0], 0x40);
    EXPECT_EQ(Pixel8(pic.buf, 5, 1)[2], 0x40);
    EXPECT_EQ(Pixel8(pic.buf, 3, 0)[2], 0);
    EXPECT_EQ(Pixel8(pic.buf, 4, 2)[0], 0);
}

TEST(PicMap, MapsBothWaysAroundTheAnchors) {
    CBxPicMap map(100.0, 50.0, 10.0, 20.0, 0.0, 4.0);
    int dx, dy;
    map.MapPointSrcToDst(dx, dy, 12.5, 20.0);
    EXPECT_EQ(dx, 110);
    EXPECT_EQ(dy, 50);
    double sx, sy;
    map.MapPointDstToSrc(sx, sy, 110, 46);
    EXPECT_DOUBLE_EQ(sx, 12.5);
    EXPECT_DOUBLE_EQ(sy, 19.0);
    map.Compute(0.0, 0.0, 0.0, 0.0, 0.0, 0.5);
    map.MapPointSrcToDst(dx, dy, 301.0, -301.0);
    EXPECT_EQ(dx, 151);
    EXPECT_EQ(dy, -150);
}

TEST(PicTransform, IdentityMapCopiesAndOutsidePixelsKeepTheirValue) {
    PicBufHolder src, dst;
    MakeTestPicture(src, 30, 20, 3, 8);
    CBxPicMap identity(5.0, 3.0, 0.0, 0.0, 0.0, 1.0);  // picture shifted by (5, 3)
    for (auto transform : {&CBxPicBufAPI::TransformConstantFast, &CBxPicBufAPI::TransformBilinearFast,
                           &CBxPicBufAPI::TransformBicubicFast}) {
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(dst.buf, 40, 30, 3, 8));
        std::memset(dst->pixels, 7, dst->size);
        ASSERT_TRUE(transform(dst.buf, src.buf, identity));
        EXPECT_EQ(std::memcmp(Pixel8(dst.buf, 5, 3), Pixel8(src.buf, 0, 0), 90), 0);
        EXPECT_EQ(std::memcmp(Pixel8(dst.buf, 5, 22), Pixel8(src.buf, 0, 19), 90), 0);
        EXPECT_EQ(Pixel8(dst.buf, 4, 3)[0], 7);
        EXPECT_EQ(Pixel8(dst.buf, 35, 3)[0], 7);
        EXPECT_EQ(Pixel8(dst.buf, 10, 23)[0], 7);
    }
}

TEST(PicTransform, ZoomKeepsFlatAreasFlatAndInterpolatesEdges) {
    PicBufHolder src, dst;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(src.buf, 8, 8, 3, 8));
    FillColour(src.buf, 200, 100, 50);
    // A vertical step: columns 4..7 are black.
    for (int y = 0; y < 8; ++y) std::memset(Pixel8(src.buf, 4, y), 0, 12);
    CBxPicMap zoom(0.0, 0.0, 0.0, 0.0, 0.0, 4.0);
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(dst.buf, 32, 32, 3, 8));

    ASSERT_TRUE(CBxPicBufAPI::TransformConstantFast(dst.buf, src.buf, zoom));
    EXPECT_EQ(Pixel8(dst.buf, 15, 9)[0], 200);
    EXPECT_EQ(Pixel8(dst.buf, 16, 9)[0], 0);

    for (auto transform : {&CBxPicBufAPI::TransformBilinearFast, &CBxPicBufAPI::TransformBicubicFast}) {
        ASSERT_TRUE(transform(dst.buf, src.buf, zoom));
        EXPECT_EQ(Pixel8(dst.buf, 2, 2)[0], 200);
        EXPECT_EQ(Pixel8(dst.buf, 2, 2)[2], 50);
        EXPECT_EQ(Pixel8(dst.buf, 30, 30)[1], 0);
        // Across the step the values fall monotonically between the two sides.
        int v13 = Pixel8(dst.buf, 13, 9)[0], v15 = Pixel8(dst.buf, 15, 9)[0], v17 = Pixel8(dst.buf, 17, 9)[0];
        EXPECT_GT(v13, v15);
        EXPECT_GT(v15, v17);
        EXPECT_LE(v13, 255);
    }
    // Grey pictures are not what the view draws: refused.
    PicBufHolder grey;
    CBxPicBufAPI::ReinitHeap(grey.buf, 8, 8, 1, 8);
    EXPECT_FALSE(CBxPicBufAPI::TransformBilinearFast(dst.buf, grey.buf, zoom));
}
