// Flattening (a shock filter across the edges) and border sharpening (an
// unsharp mask), the two optional passes of each cycle, on the integer
// working copy.
#include <algorithm>
#include <cmath>

#include "engines/original/original_steps.h"

namespace {

// The point one step from (x, y) along dir, found with the same midpoint rule
// as the flow traces; (x, y) itself when the step would leave the strip
// 1 < x < W' - 2, 1 < y < H' - 2.
Vec2 StepAcross(const TensorField& field, float x, float y, Vec2 e1, Vec2 dir) {
    const float s1 = Dot(e1, dir) > 0 ? 1.0f : -1.0f;
    const Vec2 e2 = MajorDirection(field, x + 0.5f * s1 * e1.x, y + 0.5f * s1 * e1.y);
    const float s2 = Dot(e2, dir) > 0 ? 1.0f : -1.0f;
    const float cx = x + s2 * e2.x, cy = y + s2 * e2.y;
    if (cx > 1 && cx < field.width - 2 && cy > 1 && cy < field.height - 2) return Vec2{cx, cy};
    return Vec2{x, y};
}

TraceSample CellSample(Vec2 p, int x, int y, int width, int components) {
    const int ix = static_cast<int>(p.x), iy = static_cast<int>(p.y);
    TraceSample s;
    s.offset = ((iy - y) * width + (ix - x)) * components;
    s.wx = WeightOf128((1 - (p.x - ix)) * 128.0f);
    s.wy = WeightOf128((1 - (p.y - iy)) * 128.0f);
    s.weight = 0;
    s.unused = 0;
    return s;
}

template <int C>
void FlattenRows(int32_t* out, const int32_t* in, const std::vector<GradientSamples>& records, int width,
                 int deadZone, int y0, int y1) {
    const int stride = width * C;
    for (int y = y0; y < y1; ++y) {
        for (int x = 1; x < width - 1; ++x) {
            const GradientSamples& r = records[static_cast<size_t>(y) * width + x];
            const size_t base = (static_cast<size_t>(y) * width + x) * C;
            int32_t behind[C], ahead[C];
            int32_t sumB = 0, sumA = 0, sumM = 0;
            for (int c = 0; c < C; ++c) {
                behind[c] = Bilinear(in + base + r.behind.offset + c, stride, C, r.behind.wx, r.behind.wy);
                ahead[c] = Bilinear(in + base + r.ahead.offset + c, stride, C, r.ahead.wx, r.ahead.wy);
                sumB += behind[c];
                sumA += ahead[c];
                sumM += in[base + c];  // the centre sample is the pixel itself
            }
            // The second difference across the edge. The sums stay far below
            // 2^24, so integers give exactly the single-precision result.
            const int32_t D = (sumA - sumM) - (sumM - sumB);
            if (-deadZone > D) {
                for (int c = 0; c < C; ++c) out[base + c] = std::max({in[base + c], behind[c], ahead[c]});
            } else if (D > deadZone) {
                for (int c = 0; c < C; ++c) out[base + c] = std::min({in[base + c], behind[c], ahead[c]});
            } else {
                for (int c = 0; c < C; ++c) out[base + c] = in[base + c];
            }
        }
    }
}

// Integer Gaussian blur of a picture with interleaved components: rows
// first, then columns, each with truncating division by the kernel taps that
// fall inside the picture. Integer sums are exact, so this gives the same
// samples as blurring the rows of each component plane, transposing and
// blurring again, while reading memory in order.
void BlurInt(int32_t* out, const int32_t* in, int32_t* rowsBlurred, int width, int height, int components,
             const std::vector<int32_t>& k, int threads) {
    const int r = static_cast<int>(k.size()) / 2;
    const size_t stride = static_cast<size_t>(width) * components;
    const int n = static_cast<int>(k.size());
    const int32_t* kernel = k.data();
    int32_t fullNorm = 0;
    for (int i = 0; i < n; ++i) fullNorm += kernel[i];
    ParallelRows(threads, 0, height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const int32_t* row = in + y * stride;
            int32_t* dst = rowsBlurred + y * stride;
            for (int x = 0; x < width; ++x) {
                int32_t* out = dst + static_cast<size_t>(x) * components;
                if (x >= r && x + r < width) {  // the whole kernel inside the row
                    const int32_t* first = row + static_cast<size_t>(x - r) * components;
                    for (int c = 0; c < components; ++c) {
                        int32_t acc = 0;
                        for (int t = 0; t < n; ++t) acc += kernel[t] * first[t * components + c];
                        out[c] = acc / fullNorm;
                    }
                    continue;
                }
                const int i0 = std::max(x - r, 0), i1 = std::min(x + r, width - 1);
                int32_t norm = 0;
                for (int i = i0; i <= i1; ++i) norm += kernel[i - x + r];
                for (int c = 0; c < components; ++c) {
                    int32_t acc = 0;
                    for (int i = i0; i <= i1; ++i) acc += kernel[i - x + r] * row[static_cast<size_t>(i) * components + c];
                    out[c] = acc / norm;
                }
            }
        }
    });
    ParallelRows(threads, 0, height, [&](int y0, int y1) {
        std::vector<int32_t> sums(stride);
        int32_t* acc = sums.data();
        for (int y = y0; y < y1; ++y) {
            const int j0 = std::max(y - r, 0), j1 = std::min(y + r, height - 1);
            int32_t norm = 0;
            std::fill(sums.begin(), sums.end(), 0);
            for (int j = j0; j <= j1; ++j) {
                const int32_t w = kernel[j - y + r];
                const int32_t* src = rowsBlurred + j * stride;
                norm += w;
                for (size_t i = 0; i < stride; ++i) acc[i] += w * src[i];
            }
            int32_t* dst = out + y * stride;
            for (size_t i = 0; i < stride; ++i) dst[i] = acc[i] / norm;
        }
    });
}

// trunc(v) toward zero, held within +-2^30 so that no parameter can overflow
// the integer sample it corrects.
int32_t TruncClamped(float v) {
    if (std::isnan(v)) return 0;
    if (v <= -1073741824.0f) return -1073741824;
    if (v >= 1073741824.0f) return 1073741824;
    return static_cast<int32_t>(v);
}

}  // namespace

Vec2 MajorDirection(const TensorField& field, float x, float y) {
    const TensorEigen e = TensorEigenAt(field, x, y);
    bool ok;
    Vec2 v = Unit(e.b, e.l1 - e.a, ok);
    if (ok) return v;
    return Unit(e.l2 - e.a, -e.b, ok);
}

void BuildGradientSamples(std::vector<GradientSamples>& records, const TensorField& field, int components,
                          int threads) {
    const int width = field.width, height = field.height;
    records.assign(static_cast<size_t>(width) * height, GradientSamples{});
    ParallelRows(threads, 1, height - 1, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            for (int x = 1; x < width - 1; ++x) {
                const float fx = static_cast<float>(x), fy = static_cast<float>(y);
                const Vec2 g = MajorDirection(field, fx, fy);
                const Vec2 ahead = StepAcross(field, fx, fy, g, g);
                const Vec2 behind = StepAcross(field, fx, fy, g, Vec2{-g.x, -g.y});
                GradientSamples& r = records[static_cast<size_t>(y) * width + x];
                r.behind = CellSample(behind, x, y, width, components);
                r.ahead = CellSample(ahead, x, y, width, components);
            }
        }
    });
}

void Flatten(IntPicture& I, const std::vector<GradientSamples>& records, int deadZone, int threads) {
    if (I.width < 3 || I.height < 3) return;
    // Reads the samples, writes the scratch (frame copied first), then swaps.
    I.scratch.resize(I.samples.size());
    CopyFrame(I, I.samples.data(), I.scratch.data());
    ParallelRows(threads, 1, I.height - 1, [&](int y0, int y1) {
        if (I.components == 3)
            FlattenRows<3>(I.scratch.data(), I.samples.data(), records, I.width, deadZone, y0, y1);
        else
            FlattenRows<1>(I.scratch.data(), I.samples.data(), records, I.width, deadZone, y0, y1);
    });
    I.samples.swap(I.scratch);
}

std::vector<int32_t> IntGaussianKernel(float sigma) {
    const double half = static_cast<double>(2.0f * sigma) + 0.5;
    const int halfTaps = half >= 0.0 && half < 32768.0 ? static_cast<int>(half) : (half >= 0.0 ? 32767 : 0);
    const int n = 2 * halfTaps + 3, r = n / 2;
    std::vector<float> w(n);
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
        w[i] = std::exp(-static_cast<float>((i - r) * (i - r)) / (2.0f * sigma * sigma));
        sum += w[i];
    }
    std::vector<int32_t> k(n);
    for (int i = 0; i < n; ++i) k[i] = WeightOf128(w[i] / sum * 128.0f) + 1;
    return k;
}

void GaussianBlurInt(IntPicture& destination, const IntPicture& source, float sigma, int threads) {
    destination.width = source.width;
    destination.height = source.height;
    destination.components = source.components;
    destination.samples.resize(source.samples.size());
    destination.scratch.resize(source.samples.size());
    if (source.samples.empty()) return;
    BlurInt(destination.samples.data(), source.samples.data(), destination.scratch.data(), source.width,
            source.height, source.components, IntGaussianKernel(sigma), threads);
}

void SharpenBorders(IntPicture& I, float sigma, float amount, int threads) {
    if (I.samples.empty()) return;
    const float factor = amount / 40;
    // Every component at once: each is blurred on its own, only interleaved.
    I.scratch.resize(I.samples.size());
    I.scratch2.resize(I.samples.size());
    int32_t* blurred = I.scratch.data();
    BlurInt(blurred, I.samples.data(), I.scratch2.data(), I.width, I.height, I.components, IntGaussianKernel(sigma),
            threads);
    const size_t stride = static_cast<size_t>(I.width) * I.components;
    ParallelRows(threads, 0, I.height, [&](int y0, int y1) {
        for (size_t i = y0 * stride; i < y1 * stride; ++i) {
            const int32_t o = I.samples[i];
            int32_t v = o - TruncClamped(static_cast<float>(blurred[i] - o) * factor);
            if (v < 1) v = 0;
            else if (v >= 65535) v = 65535;
            I.samples[i] = v;
        }
    });
}
