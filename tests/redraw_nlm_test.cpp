// The non-local means filter: weights, the filtered values against a plain
// re-computation, sizes at the threshold, mirrored borders and the cache.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "engines/redraw/redraw.h"
#include "test_support.h"

namespace {

// A channel with smooth shading, hard edges and noise: every kind of patch.
void MakeChannel(PicBufHolder& channel, int width, int height, unsigned seed) {
    PicBufHolder colour;
    MakeTestPicture(colour, width, height, 1, 8, seed);
    CBxPicBufAPI::ReinitHeap(channel.buf, colour.buf);
    CBxPicBufAPI::Copy(channel.buf, colour.buf);
    unsigned state = seed;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            int v = PicRow(channel.buf, y)[x] + static_cast<int>((state >> 16) % 41) - 20;
            PicRow(channel.buf, y)[x] = static_cast<uint8_t>(std::min(255, std::max(0, v)));
        }
}

// The filter written out step by step, as slowly and plainly as possible:
// mirrored padding, the difference plane, 2 x 2 block sums, 3 x 3 box sums
// and the per-unit weight pairs, with weights from the formula itself.
std::vector<uint8_t> ReferenceFilter(const SBxPicBuf& channel, double h) {
    const int w = channel.width + (channel.width & 1), hgt = channel.height + (channel.height & 1);
    std::vector<int> image(static_cast<size_t>(w) * hgt, 0);  // odd sizes get a black column or row
    for (int y = 0; y < channel.height; ++y)
        for (int x = 0; x < channel.width; ++x) image[y * w + x] = PicRow(channel, y)[x];
    const int window = std::min(71, 2 * (std::min(w, hgt) / 2) - 1);
    const int b = window / 2 + 3;
    const int pw = w + 2 * b, ph = hgt + 2 * b;
    auto reflect = [b](int i, int size) {
        int last = size - b - 1;
        return i < b ? 2 * b - i : i > last ? 2 * last - i : i;
    };
    std::vector<int> g(static_cast<size_t>(pw) * ph);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) g[y * pw + x] = image[(reflect(y, ph) - b) * w + reflect(x, pw) - b];
    const double key2 = std::pow(h, 3.5);
    auto weight = [key2](int level, int d) -> uint64_t {
        if (d == 0) return 10000;
        double f = (1 + level * 1.0 / 256) * key2;
        return static_cast<uint64_t>(std::exp(-double(d) * d * d / 300 / f) * 10000 + 0.5);
    };
    std::vector<uint64_t> wsum(static_cast<size_t>(w) * hgt, 0), vsum(wsum.size(), 0);
    const int hw = pw / 2, hh = ph / 2;
    for (int k = 0; k < 25; ++k) {
        const int dy = k / 7 - 3, dx = k % 7 - 3;
        std::vector<int> diff(g);
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
                if (x + dx >= 0 && x + dx < pw && y + dy >= 0 && y + dy < ph)
                    diff[y * pw + x] = std::abs(g[y * pw + x] - g[(y + dy) * pw + x + dx]);
        std::vector<int> block(static_cast<size_t>(hw) * hh), dist(block.size(), 0);
        for (int j = 0; j < hh; ++j)
            for (int i = 0; i < hw; ++i)
                block[j * hw + i] = diff[2 * j * pw + 2 * i] + diff[2 * j * pw + 2 * i + 1] +
                                    diff[(2 * j + 1) * pw + 2 * i] + diff[(2 * j + 1) * pw + 2 * i + 1];
        for (int j = 1; j < hh - 1; ++j)
            for (int i = 1; i < hw - 1; ++i)
                for (int v = -1; v <= 1; ++v)
                    for (int u = -1; u <= 1; ++u) dist[j * hw + i] += block[(j + v) * hw + i + u];
        for (int py = b; py < b + hgt; py += 2)
            for (int px = b; px < b + w; px += 2) {
                const int level = g[py * pw + px];
                const uint64_t w1 = weight(level, dist[(py / 2) * hw + px / 2]);
                const uint64_t w2 = k == 24 ? 0 : weight(level, dist[((py - dy) / 2) * hw + (px - dx) / 2]);
                for (int qy = py; qy < py + 2; ++qy)
                    for (int qx = px; qx < px + 2; ++qx) {
                        const size_t out = static_cast<size_t>(qy - b) * w + (qx - b);
                        wsum[out] += w1 + w2;
                        vsum[out] += g[(qy + dy) * pw + qx + dx] * w1 + g[(qy - dy) * pw + qx - dx] * w2;
                    }
            }
    }
    std::vector<uint8_t> result(static_cast<size_t>(channel.width) * channel.height);
    for (int y = 0; y < channel.height; ++y)
        for (int x = 0; x < channel.width; ++x) {
            double mean = double(vsum[y * w + x]) / double(wsum[y * w + x]) + 0.5;
            result[y * channel.width + x] = mean >= 255 ? 255 : static_cast<uint8_t>(mean);
        }
    return result;
}

std::vector<uint8_t> Samples(const SBxPicBuf& plane) {
    std::vector<uint8_t> samples;
    for (int y = 0; y < plane.height; ++y)
        samples.insert(samples.end(), PicRow(plane, y), PicRow(plane, y) + plane.width);
    return samples;
}

TEST(RedrawNlmTest, WeightTablesHoldTheirReferenceValues) {
    std::shared_ptr<const NlmWeights> weights = NlmLookupWeights(1.0, 150.0);
    ASSERT_TRUE(weights);
    const int distances[] = {0, 500, 1000, 1500, 2000, 3000, 5000};
    const uint32_t dark[] = {10000, 9900, 9225, 7617, 5246, 1133, 0};
    const uint32_t bright[] = {10000, 9950, 9604, 8725, 7238, 3360, 64};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(weights->Table(0)[distances[i]], dark[i]) << "distance " << distances[i];
        EXPECT_EQ(weights->Table(255)[distances[i]], bright[i]) << "distance " << distances[i];
    }
    // The largest possible distance, 36 x 255, is still inside the table.
    EXPECT_EQ(weights->Table(255)[9180], 0u);
}

// Bit for bit the plain computation, at sizes that put the 2 x 2 blocks at
// odd and even margins and at the capped margin, one of them odd-sized.
TEST(RedrawNlmTest, SmoothPlaneMatchesPlainComputation) {
    const int sizes[][2] = {{37, 29}, {80, 52}, {150, 146}};
    for (const auto& size : sizes) {
        PicBufHolder channel, smoothed;
        MakeChannel(channel, size[0], size[1], 7);
        SmoothPlane(smoothed.buf, channel.buf, 150.0);
        ASSERT_EQ(smoothed->width, size[0]);
        ASSERT_EQ(smoothed->height, size[1]);
        EXPECT_EQ(Samples(smoothed.buf), ReferenceFilter(channel.buf, 150.0)) << size[0] << " x " << size[1];
    }
    // A weaker filter keeps more of the noise but follows the same rules.
    PicBufHolder channel, smoothed;
    MakeChannel(channel, 40, 34, 3);
    SmoothPlane(smoothed.buf, channel.buf, 40.0);
    EXPECT_EQ(Samples(smoothed.buf), ReferenceFilter(channel.buf, 40.0));
}

TEST(RedrawNlmTest, ThreadCountDoesNotChangeTheResult) {
    PicBufHolder channel, one, many;
    MakeChannel(channel, 64, 48, 11);
    CBxPicBufAPI::ReinitHeap(one.buf, channel.buf);
    CBxPicBufAPI::ReinitHeap(many.buf, channel.buf);
    ASSERT_TRUE(NlmFilter(one.buf, channel.buf, channel.buf, 150.0, 1.0, 1));
    ASSERT_TRUE(NlmFilter(many.buf, channel.buf, channel.buf, 150.0, 1.0, 7));
    EXPECT_TRUE(SamePixels(one.buf, many.buf));
}

TEST(RedrawNlmTest, ConstantChannelStaysConstant) {
    // Even sizes have no padding: every pixel, borders included, keeps its value.
    for (int value : {0, 137, 255}) {
        PicBufHolder channel, smoothed;
        CBxPicBufAPI::ReinitHeap(channel.buf, 40, 30, 1, 8);
        std::memset(channel->pixels, value, channel->size);
        SmoothPlane(smoothed.buf, channel.buf, 150.0);
        EXPECT_TRUE(SamePixels(channel.buf, smoothed.buf)) << value;
    }
    // An odd width adds a black column: it darkens the last columns a
    // little, and nothing further in.
    PicBufHolder channel, smoothed;
    CBxPicBufAPI::ReinitHeap(channel.buf, 45, 38, 1, 8);
    std::memset(channel->pixels, 137, channel->size);
    SmoothPlane(smoothed.buf, channel.buf, 150.0);
    for (int y = 0; y < 38; ++y) {
        for (int x = 0; x < 36; ++x) ASSERT_EQ(PicRow(smoothed.buf, y)[x], 137) << x << "," << y;
        EXPECT_LT(PicRow(smoothed.buf, y)[44], 137);
    }
}

TEST(RedrawNlmTest, SmallChannelsAreCopiedAndSeventeenIsFiltered) {
    PicBufHolder narrow, narrowOut;
    MakeChannel(narrow, 15, 40, 5);
    SmoothPlane(narrowOut.buf, narrow.buf, 150.0);
    EXPECT_TRUE(SamePixels(narrow.buf, narrowOut.buf));  // padded to 16: too small

    // 17 is padded to 18 and filtered, the black column taking part: the
    // same as filtering an 18-wide channel whose last column is black.
    PicBufHolder odd, oddOut, even, evenOut;
    MakeChannel(odd, 17, 40, 5);
    SmoothPlane(oddOut.buf, odd.buf, 150.0);
    EXPECT_FALSE(SamePixels(odd.buf, oddOut.buf));
    CBxPicBufAPI::ReinitHeap(even.buf, 18, 40, 1, 8);
    for (int y = 0; y < 40; ++y) {
        std::memcpy(PicRow(even.buf, y), PicRow(odd.buf, y), 17);
        PicRow(even.buf, y)[17] = 0;
    }
    SmoothPlane(evenOut.buf, even.buf, 150.0);
    for (int y = 0; y < 40; ++y) ASSERT_EQ(0, std::memcmp(PicRow(oddOut.buf, y), PicRow(evenOut.buf, y), 17));
}

TEST(RedrawNlmTest, SourceIsKeptAndMayBeTheDestination) {
    PicBufHolder channel, copy, smoothed;
    MakeChannel(channel, 50, 40, 9);
    CBxPicBufAPI::ReinitHeap(copy.buf, channel.buf);
    CBxPicBufAPI::Copy(copy.buf, channel.buf);
    SmoothPlane(smoothed.buf, channel.buf, 150.0);
    EXPECT_TRUE(SamePixels(channel.buf, copy.buf));
    SmoothPlane(channel.buf, channel.buf, 150.0);
    EXPECT_TRUE(SamePixels(channel.buf, smoothed.buf));
}

TEST(RedrawNlmTest, MirrorMarginReflectsWithoutRepeatingTheEdge) {
    for (int depth : {8, 16}) {
        const int m = 3, w = 4, h = 5;  // a 4 x 5 image with a margin of 3
        PicBufHolder plane;
        CBxPicBufAPI::ReinitHeap(plane.buf, w + 2 * m, h + 2 * m, 1, depth);
        std::memset(plane->pixels, 0, plane->size);
        auto at = [&](int x, int y) -> int {
            return depth == 8 ? PicRow(plane.buf, y)[x] : reinterpret_cast<uint16_t*>(PicRow(plane.buf, y))[x];
        };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int v = 1 + x + 10 * y;
                if (depth == 8) PicRow(plane.buf, y + m)[x + m] = static_cast<uint8_t>(v);
                else reinterpret_cast<uint16_t*>(PicRow(plane.buf, y + m))[x + m] = static_cast<uint16_t>(v * 300);
            }
        MirrorMargin(plane.buf, m);
        const int scale = depth == 8 ? 1 : 300;
        // Column 0 mirrors column 2m = 6 (image column 3); column 2 mirrors image column 1.
        EXPECT_EQ(at(0, m), (1 + 3) * scale);
        EXPECT_EQ(at(2, m), (1 + 1) * scale);
        // Right of the last image column (9 - 3 - 1 = 6): column 7 mirrors 5, column 9 mirrors 3.
        EXPECT_EQ(at(7, m), (1 + 2) * scale);
        EXPECT_EQ(at(9, m), (1 + 0) * scale);
        // First row above the image mirrors image row 1, the bottom ones rows 3, 2, 1.
        EXPECT_EQ(at(m, 2), (1 + 10) * scale);
        EXPECT_EQ(at(m, h + m), (1 + 30) * scale);
        EXPECT_EQ(at(m, h + m + 2), (1 + 10) * scale);
        // Corners reflect in both directions.
        EXPECT_EQ(at(0, 0), (1 + 3 + 30) * scale);
        EXPECT_EQ(at(w + 2 * m - 1, h + 2 * m - 1), (1 + 0 + 10) * scale);
    }
}

// The first row of a picture whose top is bright compares itself with the
// mirrored bright rows: with a black margin it would darken.
TEST(RedrawNlmTest, BorderPixelsSeeMirroredRowsNotBlack) {
    PicBufHolder channel, smoothed;
    CBxPicBufAPI::ReinitHeap(channel.buf, 40, 40, 1, 8);
    for (int y = 0; y < 40; ++y) std::memset(PicRow(channel.buf, y), y < 20 ? 240 : 40, 40);
    SmoothPlane(smoothed.buf, channel.buf, 150.0);
    for (int x = 0; x < 40; ++x) {
        EXPECT_EQ(PicRow(smoothed.buf, 0)[x], 240);
        EXPECT_EQ(PicRow(smoothed.buf, 39)[x], 40);
    }
}

TEST(RedrawNlmTest, CacheIsReusedAndSlotsRotate) {
    PicBufHolder channel, first, second;
    MakeChannel(channel, 40, 40, 2);
    SmoothPlane(first.buf, channel.buf, 150.0);
    const int slot = NlmFindWeightSlot(1.0, 150.0);
    const int next = NlmNextWeightSlot();
    ASSERT_GE(slot, 0);
    SmoothPlane(second.buf, channel.buf, 150.0);
    EXPECT_TRUE(SamePixels(first.buf, second.buf));
    EXPECT_EQ(NlmFindWeightSlot(1.0, 150.0), slot);
    EXPECT_EQ(NlmNextWeightSlot(), next);  // nothing was built

    // Eight new strengths: the eighth takes the slot of the first.
    const double strengths[] = {11.5, 12.5, 13.5, 14.5, 15.5, 16.5, 17.5, 18.5};
    const int start = NlmNextWeightSlot();
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(NlmLookupWeights(1.0, strengths[i]));
        EXPECT_EQ(NlmFindWeightSlot(1.0, strengths[i]), (start + i) % 7);
    }
    std::shared_ptr<const NlmWeights> firstTables = NlmLookupWeights(1.0, strengths[0]);
    ASSERT_TRUE(NlmLookupWeights(1.0, strengths[7]));
    EXPECT_EQ(NlmFindWeightSlot(1.0, strengths[7]), start);
    EXPECT_EQ(NlmFindWeightSlot(1.0, strengths[0]), -1);
    EXPECT_EQ(NlmNextWeightSlot(), (start + 1) % 7);
    // A holder of the evicted tables still reads them.
    EXPECT_EQ(firstTables->Table(0)[0], 10000u);
}

}  // namespace
