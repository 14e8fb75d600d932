// Flow-line smoothing: every pixel's flow line is traced once per tile
// through the direction field, forwards and backwards, and stored as integer
// offsets and weights; each of the ten cycles then replaces every pixel by
// the weighted mean of its trace in pure integer arithmetic.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "engines/original/original_steps.h"

namespace {

// Float kernel of a separable Gaussian: 2 * trunc(2 sigma + 0.5) + 3 taps
// (2 sigma in single, + 0.5 in double precision), normalised to sum 1. The
// radius is capped far beyond any picture so that an absurd sigma cannot
// exhaust memory; taps past the picture edge are never read anyway.
std::vector<float> FloatGaussianKernel(float sigma) {
    const double half = static_cast<double>(2.0f * sigma) + 0.5;
    const int halfTaps = half < 32768.0 ? static_cast<int>(half) : 32767;
    const int n = 2 * halfTaps + 3, r = n / 2;
    std::vector<float> k(n);
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
        k[i] = std::exp(-static_cast<float>((i - r) * (i - r)) / (2.0f * sigma * sigma));
        sum += k[i];
    }
    for (float& v : k) v /= sum;
    return k;
}

// Blurs every row of a width x height plane and writes it transposed
// (height x width), renormalising the kernel where the row ends cut it.
void BlurRowsTransposed(const float* in, float* out, int width, int height, const std::vector<float>& k,
                        int threads) {
    const int r = static_cast<int>(k.size()) / 2;
    ParallelRows(threads, 0, height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const float* row = in + static_cast<size_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                const int i0 = std::max(x - r, 0), i1 = std::min(x + r, width - 1);
                float acc = 0.0f, norm = 0.0f;
                for (int i = i0; i <= i1; ++i) {
                    const float w = k[i - x + r];
                    acc += w * row[i];
                    norm += w;
                }
                out[static_cast<size_t>(x) * height + y] = acc / norm;
            }
        }
    });
}

// One midpoint step of a trace along the minor direction, keeping the
// heading's orientation; the position moves only while it stays strictly
// inside the strip 1 < x < W' - 2, 1 < y < H' - 2.
inline void Advance(const TensorField& field, Vec2& q, Vec2& heading) {
    const Vec2 e1 = MinorDirection(field, q.x, q.y);
    const float s1 = Dot(e1, heading) > 0 ? 1.0f : -1.0f;
    const Vec2 e2 = MinorDirection(field, q.x + 0.5f * s1 * e1.x, q.y + 0.5f * s1 * e1.y);
    const float s2 = Dot(e2, heading) > 0 ? 1.0f : -1.0f;
    heading = Vec2{s2 * e2.x, s2 * e2.y};
    const float cx = q.x + heading.x, cy = q.y + heading.y;
    if (cx > 1 && cx < field.width - 2 && cy > 1 && cy < field.height - 2) q = Vec2{cx, cy};
}

// The sample of a trace at q for the pixel (x, y): its cell, bilinear
// weights and the grey value that feeds the range product.
struct SamplePoint {
    TraceSample sample;
    float grey;
};

inline SamplePoint TracePoint(const float* G, int width, int components, int x, int y, Vec2 q) {
    const int ix = static_cast<int>(q.x), iy = static_cast<int>(q.y);
    const float ax = 1 - (q.x - ix), ay = 1 - (q.y - iy);
    const float* g0 = G + static_cast<size_t>(iy) * width + ix;
    const float* g1 = g0 + width;
    SamplePoint p;
    p.grey = ((1 - ax) * g1[1] + ax * g1[0]) * (1 - ay) + ((1 - ax) * g0[1] + ax * g0[0]) * ay;
    p.sample.offset = ((iy - y) * width + (ix - x)) * components;
    p.sample.wx = WeightOf128(ax * 128.0f);
    p.sample.wy = WeightOf128(ay * 128.0f);
    p.sample.weight = 0;
    p.sample.unused = 0;
    return p;
}

template <int C>
void SmoothRows(int32_t* out, const int32_t* in, const FlowTraces& records, int y0, int y1) {
    const int width = records.width, stride = width * C;
    for (int y = y0; y < y1; ++y) {
        const TraceSample* rowSamples = records.rows[y].data();
        for (int x = 1; x < width - 1; ++x) {
            const FlowTrace& trace = records.traces[static_cast<size_t>(y) * width + x];
            const size_t base = (static_cast<size_t>(y) * width + x) * C;
            // The centre sample reads the pixel itself with weight 128; integer
            // sums do not depend on the order of the samples.
            int32_t acc[C];
            for (int c = 0; c < C; ++c) acc[c] = in[base + c] * 128;
            const TraceSample* s = rowSamples + trace.first;
            const TraceSample* end = s + trace.backwardCount + trace.forwardCount;
            for (; s != end; ++s) {
                const int32_t* tl = in + base + s->offset;
                const int32_t wx = s->wx, wy = s->wy, weight = s->weight;
                for (int c = 0; c < C; ++c) acc[c] += Bilinear(tl + c, stride, C, wx, wy) * weight;
            }
            for (int c = 0; c < C; ++c) out[base + c] = acc[c] / static_cast<int32_t>(trace.weightSum);
        }
    }
}

}  // namespace

Vec2 MinorDirection(const TensorField& field, float x, float y) {
    const TensorEigen e = TensorEigenAt(field, x, y);
    bool ok;
    Vec2 v = Unit(e.l1 - e.a, -e.b, ok);
    if (ok) return v;
    return Unit(e.b, e.l2 - e.a, ok);
}

void GaussianBlurFloat(SBxPicBuf& destination, const SBxPicBuf& source, float sigma, int threads) {
    AllocatePictureLike(destination, source);
    const int width = source.width, height = source.height, components = source.components;
    if (!(sigma > 0.0f) || !std::isfinite(sigma)) {  // no blur to speak of
        CBxPicBufAPI::Copy(destination, source);
        return;
    }
    const std::vector<float> k = FloatGaussianKernel(sigma);
    std::vector<float> plane(static_cast<size_t>(width) * height), transposed(plane.size());
    for (int c = 0; c < components; ++c) {
        for (int y = 0; y < height; ++y) {
            const float* in = reinterpret_cast<const float*>(PicRow(source, y)) + c;
            for (int x = 0; x < width; ++x) plane[static_cast<size_t>(y) * width + x] = in[static_cast<size_t>(x) * components];
        }
        BlurRowsTransposed(plane.data(), transposed.data(), width, height, k, threads);
        BlurRowsTransposed(transposed.data(), plane.data(), height, width, k, threads);
        for (int y = 0; y < height; ++y) {
            float* out = reinterpret_cast<float*>(PicRow(destination, y)) + c;
            for (int x = 0; x < width; ++x) out[static_cast<size_t>(x) * components] = plane[static_cast<size_t>(y) * width + x];
        }
    }
}

void BuildFlowTraces(FlowTraces& records, const TensorField& field, float sigma, int steps, int components,
                     const SBxPicBuf& F, int threads) {
    const int width = F.width, height = F.height;
    // The records hold at most 40 samples a direction, whatever the caller asks.
    steps = std::clamp(steps, 1, kMaxTraceSamples + 1);

    PicBufHolder G;  // the grey guide: F blurred, then made one component
    GaussianBlurFloat(G.buf, F, sigma, threads);
    if (!CBxPicBufAPI::ConvertBpcComp(G.buf, 32, 1) || !G->pixels) throw std::bad_alloc();
    std::vector<float> guide(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        std::memcpy(&guide[static_cast<size_t>(y) * width], PicRow(G.buf, y), sizeof(float) * width);
    CBxPicBufAPI::DoneHeap(G.buf);

    records.width = width;
    records.height = height;
    records.components = components;
    records.traces.assign(static_cast<size_t>(width) * height, FlowTrace{0, 0, 0, 0});
    records.rows.clear();
    records.rows.resize(height);

    // Distance factor of sample k.
    std::vector<float> distance(steps);
    const float spread = 2 * sigma * sigma + 1;
    for (int k = 1; k < steps; ++k) distance[k] = std::exp(-static_cast<float>(k * k) / spread);

    const float* Gp = guide.data();
    ParallelRows(threads, 1, height - 1, [&](int y0, int y1) {
        TraceSample forward[kMaxTraceSamples], backward[kMaxTraceSamples];
        std::vector<TraceSample> rowSamples;
        for (int y = y0; y < y1; ++y) {
            rowSamples.clear();
            for (int x = 1; x < width - 1; ++x) {
                const float centreGrey = Gp[static_cast<size_t>(y) * width + x];
                int forwardCount = 0, backwardCount = 0;
                uint32_t weightSum = 0;
                float rangeF = 1.0f, rangeB = 1.0f;
                const Vec2 e = MinorDirection(field, static_cast<float>(x), static_cast<float>(y));
                Vec2 qF{static_cast<float>(x), static_cast<float>(y)}, hF = e;
                Vec2 qB = qF, hB{-e.x, -e.y};
                for (int k = 1; k < steps; ++k) {
                    Advance(field, qF, hF);
                    Advance(field, qB, hB);
                    const float g = distance[k];

                    SamplePoint f = TracePoint(Gp, width, components, x, y, qF);
                    float diff = centreGrey - f.grey;
                    rangeF = rangeF * std::exp(-(diff * diff) / sigma);
                    f.sample.weight = WeightOf128(g * rangeF * 128.0f);

                    SamplePoint b = TracePoint(Gp, width, components, x, y, qB);
                    diff = centreGrey - b.grey;
                    rangeB = rangeB * std::exp(-(diff * diff) / sigma);
                    b.sample.weight = WeightOf128(g * rangeB * 128.0f);

                    weightSum += f.sample.weight + b.sample.weight;
                    if (f.sample.weight == 0 && b.sample.weight == 0) break;
                    // A zero-weight sample is not kept: the next one would take its place.
                    if (b.sample.weight != 0) backward[backwardCount++] = b.sample;
                    if (f.sample.weight != 0) forward[forwardCount++] = f.sample;
                }
                FlowTrace& trace = records.traces[static_cast<size_t>(y) * width + x];
                trace.first = static_cast<uint32_t>(rowSamples.size());
                trace.backwardCount = static_cast<uint8_t>(backwardCount);
                trace.forwardCount = static_cast<uint8_t>(forwardCount);
                trace.weightSum = static_cast<uint16_t>(weightSum + 128);
                rowSamples.insert(rowSamples.end(), backward, backward + backwardCount);
                rowSamples.insert(rowSamples.end(), forward, forward + forwardCount);
            }
            records.rows[y].assign(rowSamples.begin(), rowSamples.end());  // exactly as many as needed
        }
    });
}

void CopyFrame(const IntPicture& picture, const int32_t* from, int32_t* to) {
    const size_t stride = static_cast<size_t>(picture.width) * picture.components;
    const size_t last = static_cast<size_t>(picture.height - 1) * stride;
    const size_t pixel = picture.components;
    std::memcpy(to, from, sizeof(int32_t) * stride);
    std::memcpy(to + last, from + last, sizeof(int32_t) * stride);
    for (int y = 1; y < picture.height - 1; ++y) {
        const size_t row = y * stride;
        std::memcpy(to + row, from + row, sizeof(int32_t) * pixel);
        std::memcpy(to + row + stride - pixel, from + row + stride - pixel, sizeof(int32_t) * pixel);
    }
}

void SmoothAlongFlow(IntPicture& I, const FlowTraces& records, int threads) {
    if (I.width < 3 || I.height < 3) return;  // no pixel inside the frame
    // The pass reads the samples and writes the scratch, whose frame is made
    // equal first; then the two swap.
    I.scratch.resize(I.samples.size());
    CopyFrame(I, I.samples.data(), I.scratch.data());
    ParallelRows(threads, 1, I.height - 1, [&](int y0, int y1) {
        if (I.components == 3)
            SmoothRows<3>(I.scratch.data(), I.samples.data(), records, y0, y1);
        else
            SmoothRows<1>(I.scratch.data(), I.samples.data(), records, y0, y1);
    });
    I.samples.swap(I.scratch);
}
