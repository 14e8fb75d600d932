// The steps of the Original repaint: structure tensor and weak-edge fill,
// flow traces and smoothing, flattening and border sharpening.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "engines/original/original_steps.h"
#include "test_support.h"

namespace {

using Value = std::function<double(int x, int y, int c)>;

void MakeFloat(PicBufHolder& F, int width, int height, int components, const Value& value) {
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(F.buf, width, height, components, 32));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) SetSample(F.buf, x, y, c, value(x, y, c));
}

IntPicture MakeInt(int width, int height, int components, const Value& value) {
    IntPicture I;
    I.width = width, I.height = height, I.components = components;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) I.samples.push_back(static_cast<int32_t>(value(x, y, c)));
    return I;
}

int32_t At(const IntPicture& I, int x, int y, int c = 0) {
    return I.samples[(static_cast<size_t>(y) * I.width + x) * I.components + c];
}

TensorField UniformField(int width, int height, float a, float b, float c) {
    TensorField f;
    f.width = width, f.height = height;
    for (int i = 0; i < width * height; ++i) f.abc.insert(f.abc.end(), {a, b, c});
    return f;
}

// The three tensor planes of a w x h tile, each filled by value(x, y, plane).
struct Planes {
    PicBufHolder p[3];
    Planes(int w, int h, const Value& value) {
        for (int k = 0; k < 3; ++k) MakeFloat(p[k], w, h, 1, [&](int x, int y, int) { return value(x, y, k); });
    }
    void Fill(float threshold) { FillWeakStructure(p[0].buf, p[1].buf, p[2].buf, threshold); }
    bool Same(const Planes& o) const { return SamePixels(p[0].buf, o.p[0].buf) && SamePixels(p[1].buf, o.p[1].buf) && SamePixels(p[2].buf, o.p[2].buf); }
};

double Noise(int x, int y, int c) {
    return std::fmod(std::sin(x * 12.9898 + y * 78.233 + c * 37.719) * 43758.5453, 1.0);
}

}  // namespace

TEST(OriginalSteps, VerticalStepInThreeComponentsGivesOnlyXX) {
    PicBufHolder F, xx, xy, yy;
    MakeFloat(F, 20, 16, 3, [](int x, int, int) { return x < 10 ? 0.0 : 50.0; });
    StructureTensor(xx.buf, xy.buf, yy.buf, F.buf);
    const float weights = 0.183f + 0.634f + 0.183f, expected = 3 * weights * weights * 50 * 50;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 20; ++x) {
            // Both pixels beside the edge see the full step, the others nothing.
            EXPECT_NEAR(SampleAt(xx.buf, x, y), x == 9 || x == 10 ? expected : 0.0, expected * 1e-5) << x << "," << y;
            EXPECT_EQ(SampleAt(xy.buf, x, y) + SampleAt(yy.buf, x, y), 0.0);
        }
}

TEST(OriginalSteps, WeakAreasTakeTheDirectionOfTheStrongEdges) {
    // Strong vertical structure along the left and right edges of a wide weak area.
    Planes edges(120, 80, [](int x, int, int k) { return k == 0 && (x < 2 || x > 117) ? 1000.0 : 0.0; });
    edges.Fill(40.0f);
    // The outermost rows and columns only see the level-0 passes; the padded tile's border covers them.
    for (int y = 2; y < 78; y += 11)
        for (int x = 2; x < 118; x += 11) {
            EXPECT_GT(SampleAt(edges.p[0].buf, x, y), 0.0) << x << "," << y;
            EXPECT_EQ(SampleAt(edges.p[1].buf, x, y) + SampleAt(edges.p[2].buf, x, y), 0.0);
        }
    // A threshold of 0 changes nothing, nor does a fill after an abort or of a flat tile.
    Planes random(70, 50, [](int x, int y, int k) { return 100 * (k == 1 ? Noise(x, y, k) : std::fabs(Noise(x, y, k))); });
    Planes before(70, 50, [](int x, int y, int k) { return 100 * (k == 1 ? Noise(x, y, k) : std::fabs(Noise(x, y, k))); });
    random.Fill(0.0f);
    EXPECT_TRUE(random.Same(before));
    {
        ProgressCounter counter;  // clears the flag again
        RequestAbort(true);
        random.Fill(50.0f);
        EXPECT_TRUE(random.Same(before));
    }
    Planes flat(64, 48, [](int, int, int) { return 0.0; }), zero(64, 48, [](int, int, int) { return 0.0; });
    flat.Fill(20.0f);
    EXPECT_TRUE(flat.Same(zero));
}

TEST(OriginalSteps, TracesFollowTheSmoothnessAndStayInTheirRecords) {
    const std::pair<float, int> lengths[] = {{0.25f, 2}, {1.25f, 4}, {5.0f, 40}, {6.0f, 41}, {1e30f, 41}, {std::nanf(""), 41}};
    for (auto [smoothness, steps] : lengths) EXPECT_EQ(FlowSteps(FlowSigma(smoothness)), steps) << smoothness;

    // The smallest smoothness: one sample each way, along the vertical edge direction.
    PicBufHolder F;
    MakeFloat(F, 12, 12, 1, [](int, int, int) { return 90.0; });
    FlowTraces records;
    const float sigma = FlowSigma(0.25f);
    BuildFlowTraces(records, UniformField(12, 12, 100, 0, 0), sigma, FlowSteps(sigma), 1, F.buf);
    const FlowTrace& t = records.traces[5 * 12 + 5];
    const TraceSample* s = records.rows[5].data() + t.first;
    EXPECT_EQ(t.backwardCount, 1);
    EXPECT_EQ(t.forwardCount, 1);
    EXPECT_EQ(s[0].weight, 81);  // exp(-1 / (2 sigma^2 + 1)) x 128, rounded
    EXPECT_EQ(t.weightSum, 2 * 81 + 128);
    EXPECT_EQ(std::abs(s[0].offset), 12);
    EXPECT_EQ(s[0].offset, -s[1].offset);

    // Far more steps than the records hold, asked for directly.
    MakeFloat(F, 120, 120, 1, [](int, int, int) { return 128.0; });
    BuildFlowTraces(records, UniformField(120, 120, 0, 0, 100), 400.0f, 1000, 1, F.buf);
    EXPECT_EQ(records.traces[60 * 120 + 60].forwardCount, kMaxTraceSamples);
    EXPECT_EQ(records.rows[60].size(), static_cast<size_t>(2 * kMaxTraceSamples * 118));
    // Traces near the frame stop moving but keep sampling their last place.
    s = records.rows[60].data() + records.traces[60 * 120 + 2].first;
    EXPECT_EQ(s[kMaxTraceSamples - 1].offset, s[kMaxTraceSamples - 2].offset);
}

// Smoothing moves no sample of a flat area, of any picture under a tensor
// without direction, or across a hard edge; nor do flattening and sharpening.
TEST(OriginalSteps, SmoothingKeepsFlatAreasHardEdgesAndDirectionlessPixels) {
    const int w = 40, h = 30;
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> d(-50, 50);
    TensorField random = UniformField(w, h, 0, 0, 0);
    for (size_t i = 0; i < random.abc.size(); i += 3) random.abc[i] = std::abs(d(rng)), random.abc[i + 1] = d(rng), random.abc[i + 2] = std::abs(d(rng));

    PicBufHolder F;
    MakeFloat(F, w, h, 3, [](int, int, int c) { return 200.0 - c; });
    FlowTraces traces;
    BuildFlowTraces(traces, random, FlowSigma(5.0f), FlowSteps(FlowSigma(5.0f)), 3, F.buf);
    std::vector<GradientSamples> gradients;
    BuildGradientSamples(gradients, random, 3);
    IntPicture flat = MakeInt(w, h, 3, [](int, int, int c) { return (200 - c) * 256; });
    const std::vector<int32_t> before = flat.samples;
    for (int deadZone : {-88, 0, 5850}) {
        SmoothAlongFlow(flat, traces);
        Flatten(flat, gradients, deadZone);
        SharpenBorders(flat, kSharpenSigma, 20.0f);
        EXPECT_EQ(flat.samples, before) << deadZone;
    }

    MakeFloat(F, w, h, 3, [](int x, int y, int c) { return (x * 7 + y * 13 + c * 5) % 256; });
    BuildFlowTraces(traces, UniformField(w, h, 0, 0, 0), FlowSigma(1.25f), 4, 3, F.buf);
    IntPicture noisy = MakeInt(w, h, 3, [](int x, int y, int c) { return 32768 + 30000 * Noise(x, y, c); });
    const std::vector<int32_t> noise = noisy.samples;
    SmoothAlongFlow(noisy, traces);
    EXPECT_EQ(noisy.samples, noise);

    // The grey difference across a hard edge ends a trace at once.
    MakeFloat(F, 30, 24, 3, [](int x, int, int c) { return x < 15 ? 40.0 + c : 220.0 - c; });
    PicBufHolder xx, xy, yy;
    StructureTensor(xx.buf, xy.buf, yy.buf, F.buf);
    FillWeakStructure(xx.buf, xy.buf, yy.buf, 80.0f);
    TensorField field;
    MakeTensorField(field, xx.buf, xy.buf, yy.buf);
    BuildFlowTraces(traces, field, FlowSigma(3.5f), FlowSteps(FlowSigma(3.5f)), 3, F.buf);
    IntPicture edge = MakeInt(30, 24, 3, [](int x, int, int c) { return (x < 15 ? 40 + c : 220 - c) * 256; });
    const std::vector<int32_t> sides = edge.samples;
    for (int cycle = 0; cycle < 10; ++cycle) SmoothAlongFlow(edge, traces);
    EXPECT_EQ(edge.samples, sides);
}

// A hard step keeps its two levels; a soft one is pushed to the nearer side
// unless its second difference falls inside the dead zone.
TEST(OriginalSteps, FlatteningPushesSoftStepsOutsideTheDeadZone) {
    for (int components : {1, 3}) {
        std::vector<GradientSamples> gradients;
        BuildGradientSamples(gradients, UniformField(20, 10, 100, 0, 0), components);
        IntPicture hard = MakeInt(20, 10, components, [](int x, int, int) { return x < 10 ? 50 * 256 : 200 * 256; });
        const std::vector<int32_t> before = hard.samples;
        for (int deadZone : {-88, 0, 250, 5850}) Flatten(hard, gradients, deadZone);
        EXPECT_EQ(hard.samples, before);
        // L, L, m, H, H with m 1000 below the middle: second difference 2000 a component.
        const Value soft = [](int x, int, int) { return x < 9 ? 12800 : x == 9 ? 31000 : 51200; };
        for (int deadZone : {0, 5850}) {
            IntPicture I = MakeInt(20, 10, components, soft);
            Flatten(I, gradients, deadZone);
            const bool pushed = components * 2000 > deadZone;  // three equal components triple it
            EXPECT_EQ(At(I, 9, 5, components - 1), pushed ? 12800 : 31000) << components << " " << deadZone;
            EXPECT_EQ(At(I, 8, 5) + At(I, 10, 5), 12800 + 51200);
        }
    }
}

TEST(OriginalSteps, SharpeningOvershootsBothSidesAndClips) {
    IntPicture soft = MakeInt(24, 8, 1, [](int x, int, int) { return x < 12 ? 100 * 256 : 150 * 256; });
    SharpenBorders(soft, kSharpenSigma, 20.0f);
    EXPECT_LT(At(soft, 11, 4), 100 * 256);
    EXPECT_GT(At(soft, 12, 4), 150 * 256);
    EXPECT_EQ(At(soft, 3, 4), 100 * 256);
    EXPECT_EQ(At(soft, 20, 4), 150 * 256);
    IntPicture hard = MakeInt(24, 8, 3, [](int x, int, int) { return x < 12 ? 256 : 65280; });
    SharpenBorders(hard, kSharpenSigma, 20.0f);
    EXPECT_EQ(At(hard, 11, 4, 2), 0);
    EXPECT_EQ(At(hard, 12, 4, 2), 65535);
    EXPECT_EQ(*std::max_element(hard.samples.begin(), hard.samples.end()), 65535);

    // The integer blur is the plane-by-plane form: rows, transposed, rows again.
    EXPECT_EQ(IntGaussianKernel(0.7f), (std::vector<int32_t>{2, 27, 74, 27, 2}));
    const int w = 13, h = 9;
    const IntPicture source = MakeInt(w, h, 3, [](int x, int y, int c) { return 32768 + 32767 * Noise(x, y, c); });
    for (float sigma : {0.7f, 2.0f}) {
        const std::vector<int32_t> k = IntGaussianKernel(sigma);
        const int r = static_cast<int>(k.size()) / 2;
        auto rowsTransposed = [&](const std::vector<int32_t>& in, int width, int height) {
            std::vector<int32_t> out(in.size());
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    int32_t acc = 0, norm = 0;
                    for (int i = std::max(x - r, 0); i <= std::min(x + r, width - 1); ++i)
                        acc += k[i - x + r] * in[y * width + i], norm += k[i - x + r];
                    out[x * height + y] = acc / norm;
                }
            return out;
        };
        IntPicture blurred;
        GaussianBlurInt(blurred, source, sigma);
        for (int c = 0; c < 3; ++c) {
            std::vector<int32_t> plane;
            for (int i = 0; i < w * h; ++i) plane.push_back(source.samples[i * 3 + c]);
            plane = rowsTransposed(rowsTransposed(plane, w, h), h, w);
            for (int i = 0; i < w * h; ++i) ASSERT_EQ(blurred.samples[i * 3 + c], plane[i]) << sigma;
        }
    }
}
