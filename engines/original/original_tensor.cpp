// Structure tensor of a tile and the multi-level relaxation that fills its
// weak regions with the direction of the strong structure around them.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "engines/original/original_steps.h"
#include "picbuf/run_control.h"

namespace {

constexpr float kSideWeight = 0.183f;
constexpr float kCentreWeight = 0.634f;
constexpr int kLevel0Passes = 20;
constexpr int kPassesPerLevel = 20;
constexpr int kMaxLevels = 6;
// Coarse levels smaller than this are relaxed on one thread: their passes
// are shorter than starting a thread.
constexpr int kParallelLevelPixels = 1 << 15;

void EnsurePlane(SBxPicBuf& plane, int width, int height) {
    if (plane.pixels && plane.width == width && plane.height == height && plane.components == 1 &&
        plane.bitsPerComponent == 32)
        return;
    AllocatePicture(plane, width, height, 1, 32);
}

float* FloatRow(const SBxPicBuf& plane, int y) {
    return reinterpret_cast<float*>(PicRow(plane, y));
}

// Dx and Dy of one plane with the optimised 3 x 3 derivative filter, added
// to the tensor as squares and product. S and C hold the plane times the side
// and centre weights with a replicated one-pixel border, so the filter reads
// premultiplied samples exactly as the sums below are written.
void AccumulateDerivatives(const std::vector<float>& plane, int width, int height, SBxPicBuf& tensorXX,
                           SBxPicBuf& tensorXY, SBxPicBuf& tensorYY, int threads) {
    const int pw = width + 2, ph = height + 2;
    std::vector<float> S(static_cast<size_t>(pw) * ph), C(static_cast<size_t>(pw) * ph);
    for (int y = 0; y < height; ++y) {
        const float* in = &plane[static_cast<size_t>(y) * width];
        float* s = &S[static_cast<size_t>(y + 1) * pw];
        float* c = &C[static_cast<size_t>(y + 1) * pw];
        for (int x = 0; x < width; ++x) {
            s[x + 1] = kSideWeight * in[x];
            c[x + 1] = kCentreWeight * in[x];
        }
        s[0] = s[1];
        c[0] = c[1];
        s[pw - 1] = s[pw - 2];
        c[pw - 1] = c[pw - 2];
    }
    std::memcpy(&S[0], &S[pw], sizeof(float) * pw);
    std::memcpy(&C[0], &C[pw], sizeof(float) * pw);
    std::memcpy(&S[static_cast<size_t>(ph - 1) * pw], &S[static_cast<size_t>(ph - 2) * pw], sizeof(float) * pw);
    std::memcpy(&C[static_cast<size_t>(ph - 1) * pw], &C[static_cast<size_t>(ph - 2) * pw], sizeof(float) * pw);

    ParallelRows(threads, 0, height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const float* sa = &S[static_cast<size_t>(y) * pw];  // row above
            const float* ca = &C[static_cast<size_t>(y) * pw];
            const float* cm = &C[static_cast<size_t>(y + 1) * pw];
            const float* sb = &S[static_cast<size_t>(y + 2) * pw];  // row below
            const float* cb = &C[static_cast<size_t>(y + 2) * pw];
            float* xx = FloatRow(tensorXX, y);
            float* xy = FloatRow(tensorXY, y);
            float* yy = FloatRow(tensorYY, y);
            for (int x = 0; x < width; ++x) {
                // x - 1, x, x + 1 of the plane are x, x + 1, x + 2 of the bordered rows.
                const float dx = (sa[x] - sa[x + 2]) + (cm[x] - cm[x + 2]) + (sb[x] - sb[x + 2]);
                const float dy = (sa[x] - sb[x]) + (ca[x + 1] - cb[x + 1]) + (sa[x + 2] - sb[x + 2]);
                xx[x] += dx * dx;
                xy[x] += dx * dy;
                yy[x] += dy * dy;
            }
        }
    });
}

void CopyPlaneOut(const std::vector<float>& from, SBxPicBuf& to) {
    for (int y = 0; y < to.height; ++y)
        std::memcpy(FloatRow(to, y), &from[static_cast<size_t>(y) * to.width], sizeof(float) * to.width);
}

void CopyPlaneIn(std::vector<float>& to, const SBxPicBuf& from) {
    to.resize(static_cast<size_t>(from.width) * from.height);
    for (int y = 0; y < from.height; ++y)
        std::memcpy(&to[static_cast<size_t>(y) * from.width], FloatRow(from, y), sizeof(float) * from.width);
}

template <typename T>
void Release(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

}  // namespace

void StructureTensor(SBxPicBuf& tensorXX, SBxPicBuf& tensorXY, SBxPicBuf& tensorYY, const SBxPicBuf& F,
                     int threads) {
    const int width = F.width, height = F.height, components = F.components;
    if (width <= 0 || height <= 0) return;
    EnsurePlane(tensorXX, width, height);
    EnsurePlane(tensorXY, width, height);
    EnsurePlane(tensorYY, width, height);
    std::memset(tensorXX.pixels, 0, tensorXX.size);
    std::memset(tensorXY.pixels, 0, tensorXY.size);
    std::memset(tensorYY.pixels, 0, tensorYY.size);

    std::vector<float> plane(static_cast<size_t>(width) * height);
    for (int c = 0; c < components; ++c) {
        for (int y = 0; y < height; ++y) {
            const float* in = reinterpret_cast<const float*>(PicRow(F, y)) + c;
            float* out = &plane[static_cast<size_t>(y) * width];
            for (int x = 0; x < width; ++x) out[x] = in[static_cast<size_t>(x) * components];
        }
        AccumulateDerivatives(plane, width, height, tensorXX, tensorXY, tensorYY, threads);
    }
}

void Relax(TensorLevel& level, float threshold, int maxPasses, int threads) {
    const int w = level.width, h = level.height;
    const float thresholdSquared = threshold * threshold;
    level.workXX = level.xx;
    level.workXY = level.xy;
    level.workYY = level.yy;
    const bool visit = !AbortPolled();  // read once: a raised flag makes every pass visit nothing
    if (static_cast<int64_t>(w) * h < kParallelLevelPixels) threads = 1;

    for (int pass = 0; pass < maxPasses; ++pass) {
        std::atomic<bool> metWeak{false};
        if (visit) {
            ParallelRows(threads, 1, h - 1, [&](int y0, int y1) {
                bool met = false;
                for (int y = y0; y < y1; ++y) {
                    for (int x = 1; x < w - 1; ++x) {
                        const size_t i = static_cast<size_t>(y) * w + x;
                        // Every visited pixel is written, so the planes can swap
                        // with the work planes instead of being copied back.
                        if (level.mask[i] == 255) {
                            met = true;
                            if (WeakStructure(thresholdSquared, level.xx[i], level.xy[i], level.yy[i])) {
                                const size_t up = i - w, down = i + w;
                                level.workXX[i] =
                                    0.25f * (level.xx[i - 1] + level.xx[i + 1] + level.xx[up] + level.xx[down]);
                                level.workXY[i] =
                                    0.25f * (level.xy[i - 1] + level.xy[i + 1] + level.xy[up] + level.xy[down]);
                                level.workYY[i] =
                                    0.25f * (level.yy[i - 1] + level.yy[i + 1] + level.yy[up] + level.yy[down]);
                                continue;
                            }
                            level.mask[i] = 1;  // frozen: keeps its value from now on
                        }
                        level.workXX[i] = level.xx[i];
                        level.workXY[i] = level.xy[i];
                        level.workYY[i] = level.yy[i];
                    }
                }
                if (met) metWeak.store(true, std::memory_order_relaxed);
            });
        }
        level.xx.swap(level.workXX);
        level.xy.swap(level.workXY);
        level.yy.swap(level.workYY);
        if (!metWeak.load()) break;
    }
    Release(level.workXX);
    Release(level.workXY);
    Release(level.workYY);
}

void Downsample(const TensorLevel& level0, TensorLevel& coarse, int factor) {
    const int W = level0.width, H = level0.height;
    const int w = (W - 1) / factor + 1, h = (H - 1) / factor + 1;
    const size_t n = static_cast<size_t>(w) * h;
    coarse.rect = CBxRect{0, 0, w, h};
    coarse.width = w;
    coarse.height = h;
    coarse.xx.assign(n, 0.0f);
    coarse.xy.assign(n, 0.0f);
    coarse.yy.assign(n, 0.0f);
    coarse.mask.assign(n, 1);
    std::vector<uint16_t> count(n, 0);
    // Row-major over level 0, so every block sums its pixels in the same order.
    for (int y = 0; y < H; ++y) {
        const size_t rowOut = static_cast<size_t>(y / factor) * w;
        for (int x = 0; x < W; ++x) {
            const size_t i = static_cast<size_t>(y) * W + x, j = rowOut + x / factor;
            coarse.xx[j] += level0.xx[i];
            coarse.xy[j] += level0.xy[i];
            coarse.yy[j] += level0.yy[i];
            coarse.mask[j] = std::max(coarse.mask[j], level0.mask[i]);
            ++count[j];
        }
    }
    for (size_t j = 0; j < n; ++j) {
        coarse.mask[j] = coarse.mask[j] == 1 ? 1 : 255;  // a block is weak if any of its pixels is
        const float c = count[j];
        coarse.xx[j] /= c;
        coarse.xy[j] /= c;
        coarse.yy[j] /= c;
    }
}

void AddCorrection(TensorLevel& level0, const TensorLevel& correction, int factor, float threshold, int threads) {
    const int W = level0.width, w = correction.width;
    const float thresholdSquared = threshold * threshold;
    ParallelRows(threads, 0, level0.height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const size_t rowD = static_cast<size_t>(y / factor) * w;
            for (int x = 0; x < W; ++x) {
                const size_t i = static_cast<size_t>(y) * W + x, j = rowD + x / factor;
                level0.xx[i] += correction.xx[j];
                level0.xy[i] += correction.xy[j];
                level0.yy[i] += correction.yy[j];
                level0.mask[i] = WeakStructure(thresholdSquared, level0.xx[i], level0.xy[i], level0.yy[i]) ? 255 : 1;
            }
        }
    });
}

void FillWeakStructure(SBxPicBuf& tensorXX, SBxPicBuf& tensorXY, SBxPicBuf& tensorYY, float edgeThreshold,
                       int threads) {
    // A run aborted before the fill starts leaves the planes as they are.
    if (AbortPolled()) return;
    const int W = tensorXX.width, H = tensorXX.height;
    if (W <= 0 || H <= 0) return;
    const float thresholdSquared = edgeThreshold * edgeThreshold;

    TensorLevel level0;
    level0.rect = CBxRect{0, 0, W, H};
    level0.width = W;
    level0.height = H;
    CopyPlaneIn(level0.xx, tensorXX);
    CopyPlaneIn(level0.xy, tensorXY);
    CopyPlaneIn(level0.yy, tensorYY);
    level0.mask.resize(level0.xx.size());
    for (size_t i = 0; i < level0.mask.size(); ++i)
        level0.mask[i] = WeakStructure(thresholdSquared, level0.xx[i], level0.xy[i], level0.yy[i]) ? 255 : 1;

    Relax(level0, edgeThreshold, kLevel0Passes, threads);

    int levels = 0;
    for (int m = std::min(W, H); m > 4 && levels < kMaxLevels; m /= 2) ++levels;

    for (int k = 1; k < levels; ++k) {
        const int factor = 1 << k;
        TensorLevel coarse;
        Downsample(level0, coarse, factor);
        TensorLevel before;  // the coarse planes before relaxation; becomes the correction
        before.width = coarse.width;
        before.height = coarse.height;
        before.xx = coarse.xx;
        before.xy = coarse.xy;
        before.yy = coarse.yy;
        if (AbortPolled()) break;
        Relax(coarse, edgeThreshold, kLevel0Passes + kPassesPerLevel * k, threads);
        for (size_t j = 0; j < before.xx.size(); ++j) {
            before.xx[j] = coarse.xx[j] - before.xx[j];
            before.xy[j] = coarse.xy[j] - before.xy[j];
            before.yy[j] = coarse.yy[j] - before.yy[j];
        }
        AddCorrection(level0, before, factor, edgeThreshold, threads);
        if (AbortPolled()) break;
    }

    CopyPlaneOut(level0.xx, tensorXX);
    CopyPlaneOut(level0.xy, tensorXY);
    CopyPlaneOut(level0.yy, tensorYY);
}

void MakeTensorField(TensorField& field, const SBxPicBuf& tensorXX, const SBxPicBuf& tensorXY,
                     const SBxPicBuf& tensorYY) {
    field.width = tensorXX.width;
    field.height = tensorXX.height;
    field.abc.resize(static_cast<size_t>(field.width) * field.height * 3);
    for (int y = 0; y < field.height; ++y) {
        const float* a = FloatRow(tensorXX, y);
        const float* b = FloatRow(tensorXY, y);
        const float* c = FloatRow(tensorYY, y);
        float* out = &field.abc[static_cast<size_t>(y) * field.width * 3];
        for (int x = 0; x < field.width; ++x) {
            out[3 * x] = a[x];
            out[3 * x + 1] = b[x];
            out[3 * x + 2] = c[x];
        }
    }
}
