// Structure tensor and weak-edge fill of the Original repaint.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engines/original/original_steps.h"
#include "test_support.h"

namespace {

float& At(SBxPicBuf& plane, int x, int y, int c = 0) {
    return reinterpret_cast<float*>(PicRow(plane, y))[x * plane.components + c];
}

void MakeFloat(PicBufHolder& holder, int width, int height, int components, float value) {
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(holder.buf, width, height, components, 32));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) At(holder.buf, x, y, c) = value;
}

struct Planes {
    PicBufHolder xx, xy, yy;
    Planes(int width, int height, float a = 0, float b = 0, float c = 0) {
        MakeFloat(xx, width, height, 1, a);
        MakeFloat(xy, width, height, 1, b);
        MakeFloat(yy, width, height, 1, c);
    }
    bool SameAs(const Planes& o) const {
        return SamePixels(xx.buf, o.xx.buf) && SamePixels(xy.buf, o.xy.buf) && SamePixels(yy.buf, o.yy.buf);
    }
};

void FillRandom(Planes& p, unsigned seed, float scale) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-scale, scale);
    for (int y = 0; y < p.xx->height; ++y)
        for (int x = 0; x < p.xx->width; ++x) {
            At(p.xx.buf, x, y) = std::abs(d(rng));
            At(p.xy.buf, x, y) = d(rng);
            At(p.yy.buf, x, y) = std::abs(d(rng));
        }
}

void CopyInto(Planes& to, const Planes& from) {
    CBxPicBufAPI::Copy(to.xx.buf, from.xx.buf);
    CBxPicBufAPI::Copy(to.xy.buf, from.xy.buf);
    CBxPicBufAPI::Copy(to.yy.buf, from.yy.buf);
}

}  // namespace

TEST(OriginalTensor, VerticalStepInThreeComponentsGivesOnlyXX) {
    const int w = 20, h = 16;
    const float step = 50.0f;
    PicBufHolder F;
    MakeFloat(F, w, h, 3, 0.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 10; x < w; ++x)
            for (int c = 0; c < 3; ++c) At(F.buf, x, y, c) = step;
    Planes t(1, 1);
    StructureTensor(t.xx.buf, t.xy.buf, t.yy.buf, F.buf);
    ASSERT_EQ(t.xx->width, w);

    const float weights = 0.183f + 0.634f + 0.183f;
    const float expected = 3 * weights * weights * step * step;
    for (int y = 0; y < h; ++y) {
        for (int x : {9, 10}) {  // both pixels beside the edge see the full step
            EXPECT_NEAR(At(t.xx.buf, x, y), expected, expected * 1e-5) << x << "," << y;
            EXPECT_EQ(At(t.xy.buf, x, y), 0.0f);
            EXPECT_EQ(At(t.yy.buf, x, y), 0.0f);
        }
        for (int x : {0, 8, 11, 19}) EXPECT_EQ(At(t.xx.buf, x, y), 0.0f) << x << "," << y;
    }
}

TEST(OriginalFill, FlatTileStaysZero) {
    Planes t(64, 48);
    Planes before(64, 48);
    FillWeakStructure(t.xx.buf, t.xy.buf, t.yy.buf, 20.0f);
    EXPECT_TRUE(t.SameAs(before));
}

TEST(OriginalFill, ThresholdZeroChangesNothing) {
    Planes t(70, 50), before(70, 50);
    FillRandom(t, 3, 100.0f);
    CopyInto(before, t);
    FillWeakStructure(t.xx.buf, t.xy.buf, t.yy.buf, 0.0f);
    EXPECT_TRUE(t.SameAs(before));
}

TEST(OriginalFill, AbortBeforeTheFillLeavesThePlanes) {
    ProgressCounter counter;  // clears the flag again when the test ends
    Planes t(40, 40), before(40, 40);
    FillRandom(t, 4, 30.0f);
    CopyInto(before, t);
    RequestAbort(true);
    FillWeakStructure(t.xx.buf, t.xy.buf, t.yy.buf, 50.0f);
    EXPECT_TRUE(t.SameAs(before));
}

// Planes whose smaller side is below 10 pixels get no coarse level: the fill
// is exactly the level-0 relaxation.
TEST(OriginalFill, TinyTilesGetOnlyTheLevelZeroRelaxation) {
    for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {3, 3}, {4, 4}, {9, 30}, {40, 9}}) {
        Planes t(w, h);
        FillRandom(t, w * 100 + h, 8.0f);
        TensorLevel level;
        level.rect = CBxRect{0, 0, w, h};
        level.width = w;
        level.height = h;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float a = At(t.xx.buf, x, y), b = At(t.xy.buf, x, y), c = At(t.yy.buf, x, y);
                level.xx.push_back(a);
                level.xy.push_back(b);
                level.yy.push_back(c);
                level.mask.push_back(WeakStructure(10.0f * 10.0f, a, b, c) ? 255 : 1);
            }
        Relax(level, 10.0f, 20);
        FillWeakStructure(t.xx.buf, t.xy.buf, t.yy.buf, 10.0f);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                ASSERT_EQ(At(t.xx.buf, x, y), level.xx[y * w + x]) << w << "x" << h;
                ASSERT_EQ(At(t.xy.buf, x, y), level.xy[y * w + x]);
                ASSERT_EQ(At(t.yy.buf, x, y), level.yy[y * w + x]);
            }
    }
}

// Strong vertical structure along the left and right edges of a wide weak
// area: the fill carries it into the whole area, with no other component.
TEST(OriginalFill, WeakAreaTakesTheDirectionOfTheStrongEdges) {
    const int w = 120, h = 80;
    Planes t(w, h);
    for (int y = 0; y < h; ++y)
        for (int x : {0, 1, w - 2, w - 1}) At(t.xx.buf, x, y) = 1000.0f;
    FillWeakStructure(t.xx.buf, t.xy.buf, t.yy.buf, 40.0f);
    // The outermost rows and columns are borders of every coarse level too and
    // only see the level-0 passes; the padded tile's border covers them.
    for (int y = 2; y < h - 2; y += 11)
        for (int x = 2; x < w - 2; x += 11) {
            EXPECT_GT(At(t.xx.buf, x, y), 0.0f) << x << "," << y;
            EXPECT_EQ(At(t.xy.buf, x, y), 0.0f);
            EXPECT_EQ(At(t.yy.buf, x, y), 0.0f);
        }
}
