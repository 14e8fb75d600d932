// Flow traces, flow-line smoothing, flattening and sharpening of the
// Original repaint: geometry, weights and the integer passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "engines/original/original_steps.h"
#include "test_support.h"

namespace {

// A direction field with the same tensor everywhere.
TensorField UniformField(int width, int height, float a, float b, float c) {
    TensorField f;
    f.width = width;
    f.height = height;
    for (int i = 0; i < width * height; ++i) f.abc.insert(f.abc.end(), {a, b, c});
    return f;
}

TensorField RandomField(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-50, 50);
    TensorField f;
    f.width = width;
    f.height = height;
    for (int i = 0; i < width * height; ++i) f.abc.insert(f.abc.end(), {std::abs(d(rng)), d(rng), std::abs(d(rng))});
    return f;
}

void MakeFloatPicture(PicBufHolder& F, int width, int height, int components, float (*value)(int x, int y, int c)) {
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(F.buf, width, height, components, 32));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                reinterpret_cast<float*>(PicRow(F.buf, y))[x * components + c] = value(x, y, c);
}

IntPicture MakeInt(int width, int height, int components, int32_t (*value)(int x, int y, int c)) {
    IntPicture I;
    I.width = width;
    I.height = height;
    I.components = components;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) I.samples.push_back(value(x, y, c));
    return I;
}

IntPicture RandomInt(int width, int height, int components, unsigned seed) {
    std::mt19937 rng(seed);
    IntPicture I;
    I.width = width;
    I.height = height;
    I.components = components;
    for (int i = 0; i < width * height * components; ++i) I.samples.push_back(rng() % 65536);
    return I;
}

int32_t At(const IntPicture& I, int x, int y, int c = 0) {
    return I.samples[(static_cast<size_t>(y) * I.width + x) * I.components + c];
}

const TraceSample* SamplesOf(const FlowTraces& r, int x, int y) {
    return r.rows[y].data() + r.traces[static_cast<size_t>(y) * r.width + x].first;
}

}  // namespace

TEST(OriginalTraces, StepsFollowSmoothnessAndAreCapped) {
    EXPECT_EQ(FlowSteps(FlowSigma(0.25f)), 2);
    EXPECT_EQ(FlowSteps(FlowSigma(1.25f)), 4);
    EXPECT_EQ(FlowSteps(FlowSigma(5.0f)), 40);
    EXPECT_EQ(FlowSteps(FlowSigma(6.0f)), 41);  // beyond the dialog: 40 samples a direction at most
    EXPECT_EQ(FlowSteps(FlowSigma(1e30f)), 41);
    EXPECT_EQ(FlowSteps(std::nanf("")), 41);
}

TEST(OriginalTraces, ZeroTensorKeepsEveryTraceOnItsPixel) {
    const int w = 16, h = 12;
    PicBufHolder F;
    MakeFloatPicture(F, w, h, 3, [](int x, int y, int c) { return static_cast<float>((x * 7 + y * 13 + c * 5) % 256); });
    FlowTraces records;
    BuildFlowTraces(records, UniformField(w, h, 0, 0, 0), FlowSigma(1.25f), FlowSteps(FlowSigma(1.25f)), 3, F.buf);
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const FlowTrace& t = records.traces[y * w + x];
            const TraceSample* s = SamplesOf(records, x, y);
            for (int i = 0; i < t.backwardCount + t.forwardCount; ++i) {
                EXPECT_EQ(s[i].offset, 0);
                EXPECT_EQ(s[i].wx, 128);
                EXPECT_EQ(s[i].wy, 128);
            }
        }
    // So smoothing leaves even a noisy picture exactly as it was.
    IntPicture I = RandomInt(w, h, 3, 5);
    const std::vector<int32_t> before = I.samples;
    SmoothAlongFlow(I, records);
    EXPECT_EQ(I.samples, before);
}

TEST(OriginalTraces, SmallestSmoothnessTakesOneSampleEachWay) {
    const int w = 12, h = 12;
    PicBufHolder F;
    MakeFloatPicture(F, w, h, 1, [](int, int, int) { return 90.0f; });
    FlowTraces records;
    const float sigma = FlowSigma(0.25f);
    BuildFlowTraces(records, UniformField(w, h, 100, 0, 0), sigma, FlowSteps(sigma), 1, F.buf);
    const int weight = static_cast<int>(std::exp(-1.0f / (2 * sigma * sigma + 1)) * 128.0f + 0.5);
    EXPECT_EQ(weight, 81);  // g = exp(-1 / 2.1628), about 0.630
    const FlowTrace& t = records.traces[5 * w + 5];
    EXPECT_EQ(t.backwardCount, 1);
    EXPECT_EQ(t.forwardCount, 1);
    EXPECT_EQ(t.weightSum, 2 * weight + 128);
    const TraceSample* s = SamplesOf(records, 5, 5);
    EXPECT_EQ(s[0].weight, weight);
    // Along the vertical edge direction: one row up and one row down.
    EXPECT_EQ(std::abs(s[0].offset), w);
    EXPECT_EQ(s[0].offset, -s[1].offset);
}

TEST(OriginalTraces, NoTraceExceedsItsRecords) {
    const int w = 120, h = 120;
    PicBufHolder F;
    MakeFloatPicture(F, w, h, 1, [](int, int, int) { return 128.0f; });
    FlowTraces records;
    // Far more steps than the records hold, asked for directly.
    BuildFlowTraces(records, UniformField(w, h, 0, 0, 100), 400.0f, 1000, 1, F.buf);
    const FlowTrace& t = records.traces[60 * w + 60];
    EXPECT_EQ(t.backwardCount, kMaxTraceSamples);
    EXPECT_EQ(t.forwardCount, kMaxTraceSamples);
    EXPECT_EQ(records.rows[60].size(), static_cast<size_t>(2 * kMaxTraceSamples * (w - 2)));
    // Traces near the frame stop moving but keep sampling their last place.
    const TraceSample* s = SamplesOf(records, 2, 60);
    EXPECT_EQ(records.traces[60 * w + 2].backwardCount, kMaxTraceSamples);
    EXPECT_EQ(s[kMaxTraceSamples - 1].offset, s[kMaxTraceSamples - 2].offset);
}

// The grey difference across a hard edge ends a trace at once, so smoothing
// works along the edge and never mixes the two sides.
TEST(OriginalTraces, SmoothingNeverCrossesAHardEdge) {
    const int w = 30, h = 24;
    PicBufHolder F;
    MakeFloatPicture(F, w, h, 3, [](int x, int, int c) { return x < 15 ? 40.0f + c : 220.0f - c; });
    PicBufHolder xx, xy, yy;
    StructureTensor(xx.buf, xy.buf, yy.buf, F.buf);
    FillWeakStructure(xx.buf, xy.buf, yy.buf, 80.0f);
    TensorField field;
    MakeTensorField(field, xx.buf, xy.buf, yy.buf);
    FlowTraces records;
    BuildFlowTraces(records, field, FlowSigma(3.5f), FlowSteps(FlowSigma(3.5f)), 3, F.buf);
    IntPicture I = MakeInt(w, h, 3, [](int x, int, int c) { return (x < 15 ? 40 + c : 220 - c) * 256; });
    const std::vector<int32_t> before = I.samples;
    for (int cycle = 0; cycle < 10; ++cycle) SmoothAlongFlow(I, records);
    EXPECT_EQ(I.samples, before);
}

TEST(OriginalPasses, FlatAreasStayExactlyUnchanged) {
    const int w = 40, h = 30;
    const TensorField field = RandomField(w, h, 9);
    PicBufHolder F;
    MakeFloatPicture(F, w, h, 3, [](int, int, int c) { return 200.0f - c; });
    FlowTraces traces;
    BuildFlowTraces(traces, field, FlowSigma(5.0f), FlowSteps(FlowSigma(5.0f)), 3, F.buf);
    std::vector<GradientSamples> gradients;
    BuildGradientSamples(gradients, field, 3);

    IntPicture I = MakeInt(w, h, 3, [](int, int, int c) { return (200 - c) * 256; });
    const std::vector<int32_t> before = I.samples;
    for (int deadZone : {-88, 0, 5850}) {
        SmoothAlongFlow(I, traces);
        Flatten(I, gradients, deadZone);
        SharpenBorders(I, kSharpenSigma, 20.0f);
        EXPECT_EQ(I.samples, before) << deadZone;
    }
}

TEST(OriginalFlatten, DeadZonesOfTheSliderPositions) {
    EXPECT_EQ(FlattenDeadZone(OriginalParamsFromSliders(5, 20, 1, 1, 1, 10).flattenLevel), -88);
    EXPECT_EQ(FlattenDeadZone(OriginalParamsFromSliders(5, 20, 1, 2, 1, 10).flattenLevel), 0);
    EXPECT_EQ(FlattenDeadZone(OriginalParamsFromSliders(5, 20, 1, 4, 1, 10).flattenLevel), 250);
    EXPECT_EQ(FlattenDeadZone(OriginalParamsFromSliders(5, 20, 1, 20, 1, 10).flattenLevel), 5850);
    EXPECT_EQ(FlattenDeadZone(1e30f), (1 << 30) - 200);
}

// A hard step keeps its two levels; a soft one is pushed to the nearer side
// unless its second difference falls inside the dead zone.
TEST(OriginalFlatten, StepEdgeAndDeadZone) {
    const int w = 20, h = 10;
    std::vector<GradientSamples> gradients;
    BuildGradientSamples(gradients, UniformField(w, h, 100, 0, 0), 1);

    IntPicture hard = MakeInt(w, h, 1, [](int x, int, int) { return x < 10 ? 50 * 256 : 200 * 256; });
    const std::vector<int32_t> before = hard.samples;
    for (int deadZone : {-88, 0, 250, 5850}) {
        Flatten(hard, gradients, deadZone);
        EXPECT_EQ(hard.samples, before) << deadZone;
    }

    // L, L, m, H, H with m 1000 below the middle: second difference 2000.
    auto soft = [](int x, int, int) { return x < 9 ? 12800 : x == 9 ? 31000 : 51200; };
    IntPicture inside = MakeInt(w, h, 1, soft);
    Flatten(inside, gradients, 5850);
    EXPECT_EQ(At(inside, 9, 5), 31000);
    IntPicture outside = MakeInt(w, h, 1, soft);
    Flatten(outside, gradients, 0);
    EXPECT_EQ(At(outside, 9, 5), 12800);
    EXPECT_EQ(At(outside, 8, 5), 12800);
    EXPECT_EQ(At(outside, 10, 5), 51200);

    // Three equal components triple the second difference: 6000 > 5850.
    IntPicture grey3 = MakeInt(w, h, 3, [](int x, int, int) { return x < 9 ? 12800 : x == 9 ? 31000 : 51200; });
    std::vector<GradientSamples> gradients3;
    BuildGradientSamples(gradients3, UniformField(w, h, 100, 0, 0), 3);
    Flatten(grey3, gradients3, 5850);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(At(grey3, 9, 5, c), 12800);
}

TEST(OriginalSharpen, OvershootsBothSidesAndClips) {
    const int w = 24, h = 8;
    IntPicture soft = MakeInt(w, h, 1, [](int x, int, int) { return x < 12 ? 100 * 256 : 150 * 256; });
    SharpenBorders(soft, kSharpenSigma, 20.0f);
    EXPECT_LT(At(soft, 11, 4), 100 * 256);
    EXPECT_GT(At(soft, 12, 4), 150 * 256);
    EXPECT_EQ(At(soft, 3, 4), 100 * 256);
    EXPECT_EQ(At(soft, 20, 4), 150 * 256);

    IntPicture hard = MakeInt(w, h, 3, [](int x, int, int) { return x < 12 ? 256 : 65280; });
    SharpenBorders(hard, kSharpenSigma, 20.0f);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(At(hard, 11, 4, c), 0);
        EXPECT_EQ(At(hard, 12, 4, c), 65535);
    }
    for (int32_t v : hard.samples) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 65535);
    }
}

TEST(OriginalSharpen, IntegerKernelAndBlurMatchThePlaneByPlaneForm) {
    EXPECT_EQ(IntGaussianKernel(0.7f), (std::vector<int32_t>{2, 27, 74, 27, 2}));

    // Reference: per component, blur rows into a transposed plane and back.
    const int w = 13, h = 9, components = 3;
    const IntPicture source = RandomInt(w, h, components, 21);
    for (float sigma : {0.7f, 2.0f}) {
        const std::vector<int32_t> k = IntGaussianKernel(sigma);
        const int r = static_cast<int>(k.size()) / 2;
        auto rowsTransposed = [&](const std::vector<int32_t>& in, int width, int height) {
            std::vector<int32_t> out(in.size());
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    int32_t acc = 0, norm = 0;
                    for (int i = std::max(x - r, 0); i <= std::min(x + r, width - 1); ++i) {
                        acc += k[i - x + r] * in[y * width + i];
                        norm += k[i - x + r];
                    }
                    out[x * height + y] = acc / norm;
                }
            return out;
        };
        IntPicture blurred;
        GaussianBlurInt(blurred, source, sigma);
        for (int c = 0; c < components; ++c) {
            std::vector<int32_t> plane;
            for (int i = 0; i < w * h; ++i) plane.push_back(source.samples[i * components + c]);
            plane = rowsTransposed(rowsTransposed(plane, w, h), h, w);
            for (int i = 0; i < w * h; ++i) ASSERT_EQ(blurred.samples[i * components + c], plane[i]) << sigma;
        }
    }
}
