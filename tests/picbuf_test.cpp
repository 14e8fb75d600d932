#include "picbuf/picbuf.h"
#include "test_support.h"

#include <new>

namespace {

uint8_t* Pixel8(const SBxPicBuf& buf, int x, int y) {
    return PicRow(buf, y) + static_cast<size_t>(x) * buf.components;
}

}  // namespace

TEST(PicBuf, AllocatesPackedBlocksAndRefusesWhatDoesNotFit) {
    PicBufHolder pic;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 7, 5, 3, 16));
    EXPECT_EQ(pic->pitch, 7 * 3 * 2);
    EXPECT_EQ(pic->size, 7 * 3 * 2 * 5);
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 210, 1, 1, 8));  // same bytes, new geometry
    EXPECT_EQ(pic->bitsPerComponent, 8);
    EXPECT_EQ(pic->pitch, 210);
    // 30000 x 30000 colour is 2.7 GB: more than the 32-bit size can count.
    for (auto r : std::vector<std::vector<int>>{{30000, 30000, 3, 8}, {1 << 20, 1 << 20, 1, 8}, {-4, 10, 1, 8}, {10, 10, 1, 12}}) {
        EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(pic.buf, r[0], r[1], r[2], r[3])) << r[0] << "x" << r[1];
        EXPECT_EQ(pic->pixels, nullptr);
        EXPECT_EQ(pic->size, 0);
    }
    // A zero dimension gives an empty block, which the operations refuse politely.
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 0, 10, 1, 8));
    PicBufHolder other;
    EXPECT_FALSE(CBxPicBufAPI::Copy(other.buf, pic.buf));
    EXPECT_FALSE(CBxPicBufAPI::ConvertBpcComp(pic.buf, 8, 3));
}

TEST(PicBuf, CopiesBetweenPitchesClipsMovesAndFillsBlocks) {
    PicBufHolder src, part, grey;
    MakeTestPicture(src, 40, 30, 3, 8);
    // A hand-filled record with a wider pitch, like a window's back buffer.
    std::vector<uint8_t> storage(static_cast<size_t>(64 * 3) * 30, 0xEE);
    SBxPicBuf wrapped{storage.data(), static_cast<int32_t>(storage.size()), 64 * 3, 40, 30, 3, 8};
    ASSERT_TRUE(CBxPicBufAPI::Copy(wrapped, src.buf));
    EXPECT_TRUE(SamePixels(wrapped, src.buf));
    EXPECT_EQ(storage[40 * 3], 0xEE) << "bytes past a row's end are not touched";
    MakeFilled(grey, 40, 30, 1, 8, 0);
    EXPECT_FALSE(CBxPicBufAPI::Copy(grey.buf, src.buf));
    EXPECT_FALSE(CBxPicBufAPI::ExtractComponent(grey.buf, 3, src.buf)) << "there is no fourth component";

    MakeFilled(part, 10, 8, 3, 8, 1);
    ASSERT_TRUE(CBxPicBufAPI::Copy(part.buf, src.buf, CBxRect{5, 7, 15, 15}));
    EXPECT_EQ(std::memcmp(Pixel8(part.buf, 0, 7), Pixel8(src.buf, 5, 14), 30), 0);
    // A block over every edge of both pictures: destination (0, 6) takes source (39, 0); the rest stays.
    std::memset(part->pixels, 1, part->size);
    ASSERT_TRUE(CBxPicBufAPI::CopyRect(part.buf, src.buf, CBxPoint{-3, 4}, CBxPoint{36, -2}, CBxSize{20, 20}));
    EXPECT_EQ(std::memcmp(Pixel8(part.buf, 0, 6), Pixel8(src.buf, 39, 0), 3), 0);
    EXPECT_EQ(std::memcmp(Pixel8(part.buf, 0, 7), Pixel8(src.buf, 39, 1), 3), 0);
    EXPECT_EQ(std::count(part->pixels, part->pixels + part->size, 1), part->size - 2 * 3);
    // And the other way round: the destination's last 3 x 3 pixels take the source's first.
    std::memset(part->pixels, 1, part->size);
    ASSERT_TRUE(CBxPicBufAPI::CopyRect(part.buf, src.buf, CBxPoint{7, 5}, CBxPoint{0, 0}, CBxSize{20, 20}));
    EXPECT_EQ(std::memcmp(Pixel8(part.buf, 9, 7), Pixel8(src.buf, 2, 2), 3), 0);
    EXPECT_EQ(std::count(part->pixels, part->pixels + part->size, 1), part->size - 9 * 3);
    // SetConst fills only the rect's part inside the picture.
    ASSERT_TRUE(CBxPicBufAPI::SetConst(part.buf, CBxRect{7, -2, 14, 2}, 0x40));
    EXPECT_EQ(std::count(part->pixels, part->pixels + part->size, 0x40), 3 * 2 * 3);
    EXPECT_EQ(Pixel8(part.buf, 7, 1)[2] + Pixel8(part.buf, 6, 1)[2] + Pixel8(part.buf, 7, 2)[2], 0x40 + 1 + 1);

    // Within one picture the block moves intact, whichever way the rows overlap.
    for (int shift : {3, -3}) {
        PicBufHolder pic, before;
        MakeTestPicture(pic, 20, 20, 1, 8);
        CopyOf(before, pic.buf);
        ASSERT_TRUE(CBxPicBufAPI::CopyRect(pic.buf, pic.buf, CBxPoint{2, 5 + shift}, CBxPoint{0, 5}, CBxSize{10, 10}));
        for (int y = 0; y < 10; ++y)
            EXPECT_EQ(std::memcmp(PicRow(pic.buf, y + 5 + shift) + 2, PicRow(before.buf, y + 5), 10), 0) << y;
    }
}

// Depth and component conversions, one row of samples in and one row out.
TEST(PicBuf, ConversionsRoundClampAndWeighTheComponents) {
    struct Case {
        int fromBits, fromComponents;
        std::vector<double> in;
        int toBits, toComponents;
        std::vector<double> out;
    };
    const Case cases[] = {
        {8, 1, {0, 1, 255}, 16, 1, {0, 257, 65535}},
        {16, 1, {257 * 10 + 128, 257 * 10 + 129, 65535}, 8, 1, {10, 11, 255}},
        {32, 1, {-3, 254.5, 300, 17.49}, 8, 1, {0, 255, 255, 17}},
        {32, 1, {-3, 65534.5, 70000}, 16, 1, {0, 65535, 65535}},
        {8, 3, {255, 0, 0, 0, 255, 0, 0, 0, 255}, 8, 1, {29, 150, 76}},  // blue, green, red: Rec. 601
        {16, 3, {1000, 2000, 3000}, 16, 1, {2185}},
        {32, 3, {10, 20, 30}, 32, 1, {21.85}},
        {8, 1, {150}, 8, 3, {150, 150, 150}},
    };
    for (const Case& c : cases) {
        PicBufHolder pic;
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, c.in.size() / c.fromComponents, 1, c.fromComponents, c.fromBits));
        for (size_t i = 0; i < c.in.size(); ++i) SetSample(pic.buf, i / c.fromComponents, 0, i % c.fromComponents, c.in[i]);
        ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(pic.buf, c.toBits, c.toComponents));
        ASSERT_EQ(pic->bitsPerComponent * 10 + pic->components, c.toBits * 10 + c.toComponents);
        for (size_t i = 0; i < c.out.size(); ++i)
            EXPECT_NEAR(SampleAt(pic.buf, i / c.toComponents, 0, i % c.toComponents), c.out[i], 1e-4)
                << c.fromBits << " -> " << c.toBits << " bits, sample " << i;
    }
}

TEST(PicBuf, LumaChromaRoundTripRestoresEveryColour) {
    PicBufHolder pic, yuv, back, small, copy;
    // Every seventh of the 2^24 colours: each component takes every value.
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(pic.buf, 4096, 586, 3, 8));
    for (uint32_t i = 0; i < 4096u * 586; ++i) {
        const uint32_t colour = i * 7;
        std::memcpy(pic->pixels + 3 * static_cast<size_t>(i), &colour, 3);
    }
    ASSERT_TRUE(CBxPicBufAPI::ConvertRGBtoYUV(yuv.buf, pic.buf));
    ASSERT_TRUE(CBxPicBufAPI::ConvertYUVtoRGB(back.buf, yuv.buf));
    EXPECT_TRUE(SamePixels(back.buf, pic.buf));
    // Luma of grey is the grey value, chroma of grey is neutral.
    const uint16_t* grey = reinterpret_cast<const uint16_t*>(yuv->pixels) + 3 * static_cast<size_t>(0x808080 / 7);
    EXPECT_EQ(std::vector<int>(grey, grey + 3), (std::vector<int>{128 * 256, 32768, 32768}));
    // In place, too; raising the luma brightens and clamps without wrapping.
    MakeTestPicture(small, 16, 16, 3, 8);
    CopyOf(copy, small.buf);
    ASSERT_TRUE(CBxPicBufAPI::ConvertRGBtoYUV(small.buf, small.buf));
    reinterpret_cast<uint16_t*>(small->pixels)[0] = 65280;
    ASSERT_TRUE(CBxPicBufAPI::ConvertYUVtoRGB(small.buf, small.buf));
    EXPECT_GE(small->pixels[1], copy->pixels[1]);
    EXPECT_EQ(std::memcmp(small->pixels + 3, copy->pixels + 3, small->size - 3), 0);
}

TEST(PicBuf, MapGoesBothWaysAroundTheAnchorsAndTransformsFollowIt) {
    CBxPicMap map(100.0, 50.0, 10.0, 20.0, 0.0, 4.0);
    int dx, dy;
    double sx, sy;
    map.MapPointSrcToDst(dx, dy, 12.5, 20.0);
    map.MapPointDstToSrc(sx, sy, 110, 46);
    EXPECT_EQ(std::vector<double>({double(dx), double(dy), sx, sy}), (std::vector<double>{110, 50, 12.5, 19.0}));
    map.Compute(0.0, 0.0, 0.0, 0.0, 0.0, 0.5);
    map.MapPointSrcToDst(dx, dy, 301.0, -301.0);  // rounds to nearest
    EXPECT_EQ(dx, 151);
    EXPECT_EQ(dy, -150);

    // Transforms: a shifted copy, and a zoom to the nearest pixel.
    PicBufHolder src, dst;
    MakeTestPicture(src, 30, 20, 3, 8);
    for (auto transform : {&CBxPicBufAPI::TransformConstantFast, &CBxPicBufAPI::TransformBilinearFast,
                           &CBxPicBufAPI::TransformBicubicFast}) {
        MakeFilled(dst, 40, 30, 3, 8, 7);
        ASSERT_TRUE(transform(dst.buf, src.buf, CBxPicMap(5.0, 3.0, 0.0, 0.0, 0.0, 1.0)));
        int outside = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                if (x >= 5 && x < 35 && y >= 3 && y < 23)
                    ASSERT_EQ(std::memcmp(Pixel8(dst.buf, x, y), Pixel8(src.buf, x - 5, y - 3), 3), 0);
                else outside += Pixel8(dst.buf, x, y)[0] == 7;
            }
        EXPECT_EQ(outside, 40 * 30 - 30 * 20) << "pixels outside the picture keep their value";
    }
    // Zoomed four times: a vertical step from (200, 100, 50) to black at x = 4.
    MakeFilled(src, 8, 8, 3, 8, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 4; ++x) std::memcpy(Pixel8(src.buf, x, y), "\xC8\x64\x32", 3);
    const CBxPicMap zoom(0.0, 0.0, 0.0, 0.0, 0.0, 4.0);
    MakeFilled(dst, 32, 32, 3, 8, 0);
    ASSERT_TRUE(CBxPicBufAPI::TransformConstantFast(dst.buf, src.buf, zoom));
    EXPECT_EQ(Pixel8(dst.buf, 15, 9)[0], 200);
    EXPECT_EQ(Pixel8(dst.buf, 16, 9)[0], 0);
    PicBufHolder grey;  // not what the view draws: refused
    MakeFilled(grey, 8, 8, 1, 8, 0);
    EXPECT_FALSE(CBxPicBufAPI::TransformBilinearFast(dst.buf, grey.buf, zoom));
}

#if defined(_WIN32)
// The program's operator new keeps freed large blocks for reuse. Every kind
// of block keeps the alignment asked for, holds all its bytes and goes back
// to where it came from; a large block freed and asked for again in the
// same size is the same block.
TEST(LargeBlocks, KeepAlignmentAndReuseFreedBlocksOfTheSameSize) {
    const size_t sizes[] = {1, 4000, (size_t(1) << 18) - 17, size_t(1) << 18, (size_t(5) << 20) + 3};
    for (size_t alignment : {size_t(0), size_t(64), size_t(4096)})
        for (size_t size : sizes) {
            void* block = alignment ? ::operator new(size, std::align_val_t(alignment)) : ::operator new(size);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (alignment ? alignment : 16), 0u) << size;
            std::memset(block, 0x5a, size);
            if (alignment) ::operator delete(block, std::align_val_t(alignment));
            else ::operator delete(block);
        }
    // A reused block still holds what was written into it; the system's
    // fresh pages are zeros.
    const size_t large = size_t(3) << 20;
    uint8_t* first = new uint8_t[large];
    std::memset(first, 0x5a, large);
    delete[] first;
    uint8_t* other = new uint8_t[large + (size_t(1) << 16)];
    EXPECT_EQ(other[large / 2], 0) << "a block of another size is not handed out";
    uint8_t* second = new uint8_t[large];
    EXPECT_EQ(second, first);
    EXPECT_EQ(second[large - 1], 0x5a);
    delete[] other;
    delete[] second;
    EXPECT_EQ(::operator new(SIZE_MAX - 8, std::nothrow), nullptr);
}
#endif
