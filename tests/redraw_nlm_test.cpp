// The non-local means filter against a plain re-computation, its sizes,
// threads, mirrored margins and weight cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engines/redraw/redraw.h"
#include "test_support.h"

namespace {

// A channel with smooth shading, hard edges and noise: every kind of patch.
void MakeChannel(PicBufHolder& channel, int width, int height, unsigned seed) {
    MakeTestPicture(channel, width, height, 1, 8, seed);
    unsigned state = seed;
    for (int i = 0; i < channel->size; ++i) {
        state = state * 1103515245u + 12345u;
        channel->pixels[i] = static_cast<uint8_t>(std::clamp(channel->pixels[i] + int((state >> 16) % 41) - 20, 0, 255));
    }
}

// The filter written out as slowly and plainly as possible: mirrored padding,
// the difference plane, 2 x 2 block sums, 3 x 3 box sums and the per-unit
// weight pairs, with weights from the formula itself.
std::vector<uint8_t> ReferenceFilter(const SBxPicBuf& channel, double h) {
    const int w = channel.width + (channel.width & 1), hgt = channel.height + (channel.height & 1);
    std::vector<int> image(static_cast<size_t>(w) * hgt, 0);  // odd sizes get a black column or row
    for (int y = 0; y < channel.height; ++y)
        for (int x = 0; x < channel.width; ++x) image[y * w + x] = PicRow(channel, y)[x];
    const int b = std::min(71, 2 * (std::min(w, hgt) / 2) - 1) / 2 + 3;
    const int pw = w + 2 * b, ph = hgt + 2 * b, hw = pw / 2, hh = ph / 2;
    auto reflect = [b](int i, int size) { return i < b ? 2 * b - i : i > size - b - 1 ? 2 * (size - b - 1) - i : i; };
    std::vector<int> g(static_cast<size_t>(pw) * ph);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) g[y * pw + x] = image[(reflect(y, ph) - b) * w + reflect(x, pw) - b];
    auto weight = [h](int level, int d) -> uint64_t {
        const double f = (1 + level / 256.0) * std::pow(h, 3.5);
        return d == 0 ? 10000 : static_cast<uint64_t>(std::exp(-double(d) * d * d / 300 / f) * 10000 + 0.5);
    };
    std::vector<uint64_t> wsum(static_cast<size_t>(w) * hgt, 0), vsum(wsum.size(), 0);
    for (int k = 0; k < 25; ++k) {
        const int dy = k / 7 - 3, dx = k % 7 - 3;
        std::vector<int> diff(g), block(static_cast<size_t>(hw) * hh), dist(block.size(), 0);
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
                if (x + dx >= 0 && x + dx < pw && y + dy >= 0 && y + dy < ph)
                    diff[y * pw + x] = std::abs(g[y * pw + x] - g[(y + dy) * pw + x + dx]);
        for (int j = 0; j < hh; ++j)
            for (int i = 0; i < hw; ++i)
                for (int q = 0; q < 4; ++q) block[j * hw + i] += diff[(2 * j + q / 2) * pw + 2 * i + q % 2];
        for (int j = 1; j < hh - 1; ++j)
            for (int i = 1; i < hw - 1; ++i)
                for (int q = 0; q < 9; ++q) dist[j * hw + i] += block[(j + q / 3 - 1) * hw + i + q % 3 - 1];
        for (int py = b; py < b + hgt; py += 2)
            for (int px = b; px < b + w; px += 2) {
                const int level = g[py * pw + px];
                const uint64_t w1 = weight(level, dist[(py / 2) * hw + px / 2]);
                const uint64_t w2 = k == 24 ? 0 : weight(level, dist[((py - dy) / 2) * hw + (px - dx) / 2]);
                for (int q = 0; q < 4; ++q) {
                    const int qy = py + q / 2, qx = px + q % 2;
                    const size_t out = static_cast<size_t>(qy - b) * w + (qx - b);
                    wsum[out] += w1 + w2;
                    vsum[out] += g[(qy + dy) * pw + qx + dx] * w1 + g[(qy - dy) * pw + qx - dx] * w2;
                }
            }
    }
    std::vector<uint8_t> result(static_cast<size_t>(channel.width) * channel.height);
    for (size_t i = 0; i < result.size(); ++i) {
        const size_t at = i / channel.width * w + i % channel.width;
        result[i] = static_cast<uint8_t>(std::min(255.0, double(vsum[at]) / double(wsum[at]) + 0.5));
    }
    return result;
}

std::vector<uint8_t> Samples(const SBxPicBuf& plane) {
    std::vector<uint8_t> samples;
    for (int y = 0; y < plane.height; ++y) samples.insert(samples.end(), PicRow(plane, y), PicRow(plane, y) + plane.width);
    return samples;
}

}  // namespace

// Bit for bit the plain computation, at sizes that put the 2 x 2 blocks at
// odd and even margins and at the capped margin, odd sizes whose black
// column takes part, and a weaker filter.
TEST(RedrawNlm, SmoothPlaneIsThePlainComputation) {
    const int cases[][3] = {{37, 29, 150}, {80, 52, 150}, {150, 146, 150}, {17, 40, 150}, {40, 34, 40}};
    for (const auto& c : cases) {
        PicBufHolder channel, smoothed;
        MakeChannel(channel, c[0], c[1], 7);
        SmoothPlane(smoothed.buf, channel.buf, c[2]);
        ASSERT_EQ(smoothed->width * 1000 + smoothed->height, c[0] * 1000 + c[1]);
        EXPECT_EQ(Samples(smoothed.buf), ReferenceFilter(channel.buf, c[2])) << c[0] << " x " << c[1];
    }
    // Width 15 is padded to 16: too small to filter, copied.
    PicBufHolder narrow, narrowOut;
    MakeChannel(narrow, 15, 40, 5);
    SmoothPlane(narrowOut.buf, narrow.buf, 150.0);
    EXPECT_TRUE(SamePixels(narrow.buf, narrowOut.buf));
}

TEST(RedrawNlm, MirrorMarginReflectsWithoutRepeatingTheEdge) {
    for (int depth : {8, 16}) {
        const int m = 3, w = 4, h = 5, scale = depth == 8 ? 1 : 300;  // a 4 x 5 image with a margin of 3
        PicBufHolder plane;
        MakeFilled(plane, w + 2 * m, h + 2 * m, 1, depth, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) SetSample(plane.buf, x + m, y + m, 0, (1 + x + 10 * y) * scale);
        MirrorMargin(plane.buf, m);
        // Column 0 mirrors image column 3, column 2 image column 1; columns 7 and 9 image columns 2 and 0;
        // row 2 mirrors image row 1, rows 5 and 7 below the image rows 3 and 1; corners both ways.
        const int points[][3] = {{0, m, 1 + 3}, {2, m, 1 + 1}, {7, m, 1 + 2}, {9, m, 1}, {m, 2, 1 + 10},
                                 {m, h + m, 1 + 30}, {m, h + m + 2, 1 + 10}, {0, 0, 1 + 3 + 30}, {9, 10, 1 + 10}};
        for (const auto& p : points) EXPECT_EQ(SampleAt(plane.buf, p[0], p[1]), p[2] * scale) << p[0] << "," << p[1];
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
