// The steps of the Original repaint, for the engine's own files and its
// tests. Everything here works on one padded tile of W' x H' pixels.
//
// Numeric rules that give the method its look and must not drift: the set-up
// steps (tensor, fill, traces) run in single precision with the few sums
// noted as double; the ten cycles run on 32-bit integers with bilinear
// weights on a scale of 128. Every per-pixel result depends only on its
// inputs, never on how rows are split over threads.
#pragma once

#include <cmath>
#include <cstdint>
#include <exception>
#include <vector>

#include <omp.h>

#include "engines/engine_common.h"
#include "engines/original/original.h"
#include "picbuf/picbuf.h"

// ---- Constants -------------------------------------------------------------

constexpr int kTileMargin = 70;          // context around every tile
constexpr int kBlendRamp = 140;          // cross-fade where two tiles overlap
constexpr int kTileBorder = 10;          // replicated border around every tile
constexpr int kCycles = 10;
constexpr float kSharpenSigma = 0.7f;
constexpr int kMaxTraceSamples = 40;     // per direction

// ---- Parallel rows ---------------------------------------------------------

// Threads to use for a run: originalThreadCount, or all cores when it is 0.
int OriginalThreads();

// Calls body(rowBegin, rowEnd) on contiguous bands of [begin, end), one band
// per thread (the calling thread takes the first). Exceptions thrown by a
// band are rethrown here after every thread has finished. The threads are
// OpenMP's team, kept between calls: a run makes dozens of these calls per
// tile, and on Windows starting a thread for each cost milliseconds. The
// bands depend on threads alone, so a smaller team gives the same bytes.
template <typename Body>
void ParallelRows(int threads, int begin, int end, const Body& body) {
    const int rows = end - begin;
    if (threads > rows / 8) threads = rows / 8;  // tiny bands are not worth a thread
    if (threads <= 1) {
        if (rows > 0) body(begin, end);
        return;
    }
    std::vector<std::exception_ptr> errors(threads);
#pragma omp parallel num_threads(threads)
    {
        const int team = omp_get_num_threads();
        for (int t = omp_get_thread_num(); t < threads; t += team) {
            try {
                body(begin + static_cast<int>(static_cast<int64_t>(rows) * t / threads),
                     begin + static_cast<int>(static_cast<int64_t>(rows) * (t + 1) / threads));
            } catch (...) {
                errors[t] = std::current_exception();
            }
        }
    }
    for (auto& e : errors)
        if (e) std::rethrow_exception(e);
}

// ---- Working pictures ------------------------------------------------------

// The integer working copy I: samples x 256 (a 16-bit scale), packed rows,
// components interleaved.
struct IntPicture {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<int32_t> samples;
    // Work buffers the passes reuse from cycle to cycle, so that the ten
    // cycles allocate nothing; their contents mean nothing between passes.
    std::vector<int32_t> scratch;
    std::vector<int32_t> scratch2;
};

// Copies the one-pixel frame of from (the samples of picture's geometry) into to.
void CopyFrame(const IntPicture& picture, const int32_t* from, int32_t* to);

// The three tensor planes interleaved per pixel (xx, xy, yy), so that the
// bilinear reads of the direction field touch one cache line instead of three.
struct TensorField {
    int width = 0;
    int height = 0;
    std::vector<float> abc;
};

struct Vec2 {
    float x;
    float y;
};

// Bilinear tensor (a = xx, b = xy, c = yy) at a real position with
// 0 <= x < width - 1, 0 <= y < height - 1, in single precision.
inline void TensorAt(const TensorField& field, float x, float y, float& a, float& b, float& c) {
    const int ix = static_cast<int>(x), iy = static_cast<int>(y);
    const float fx = x - ix, fy = y - iy;
    const float* p00 = &field.abc[(static_cast<size_t>(iy) * field.width + ix) * 3];
    const float* p10 = p00 + 3;
    const float* p01 = p00 + static_cast<size_t>(field.width) * 3;
    const float* p11 = p01 + 3;
    a = (fx * p11[0] + (1 - fx) * p01[0]) * fy + (fx * p10[0] + (1 - fx) * p00[0]) * (1 - fy);
    b = (fx * p11[1] + (1 - fx) * p01[1]) * fy + (fx * p10[1] + (1 - fx) * p00[1]) * (1 - fy);
    c = (fx * p11[2] + (1 - fx) * p01[2]) * fy + (fx * p10[2] + (1 - fx) * p00[2]) * (1 - fy);
}

// A weight on the scale of 128 from its single-precision product: + 0.5 in
// double precision, truncated; anything outside 0..128 (or not a number)
// is clamped so that no input can break the integer passes.
inline uint8_t WeightOf128(float product) {
    const double v = static_cast<double>(product) + 0.5;
    if (!(v >= 1.0)) return 0;
    if (v >= 128.0) return 128;
    return static_cast<uint8_t>(v);
}

// (x, y) / |(x, y)| in single precision; (0, 0) and ok = false when the
// length is not above 1e-10 (compared in double).
inline Vec2 Unit(float x, float y, bool& ok) {
    const float n = std::sqrt(x * x + y * y);
    ok = static_cast<double>(n) > 1e-10;
    return ok ? Vec2{x / n, y / n} : Vec2{0.0f, 0.0f};
}

// The tensor at a position and its two eigenvalues l1 >= l2, in single
// precision; both direction functions start from these.
struct TensorEigen {
    float a, b, c, l1, l2;
};
inline TensorEigen TensorEigenAt(const TensorField& field, float x, float y) {
    TensorEigen e;
    TensorAt(field, x, y, e.a, e.b, e.c);
    const float d = std::sqrt(4 * e.b * e.b + (e.a - e.c) * (e.a - e.c));
    e.l1 = (e.a + e.c + d) / 2;
    e.l2 = (e.a + e.c - d) / 2;
    return e;
}

inline float Dot(Vec2 a, Vec2 b) {
    return a.x * b.x + a.y * b.y;
}

// Bilinear value of one component of I at a sample (tl points at the
// component in the cell's top-left pixel), on the 16-bit scale: the two
// weights multiply to 2^14, which the shift removes. Samples are 0..65535,
// so no sum leaves 32 bits.
inline int32_t Bilinear(const int32_t* tl, int rowStride, int components, int32_t wx, int32_t wy) {
    const int32_t* bl = tl + rowStride;
    return ((tl[0] * wx + tl[components] * (128 - wx)) * wy + (bl[0] * wx + bl[components] * (128 - wx)) * (128 - wy)) >>
           14;
}

// ---- Driver (original.cpp) ---------------------------------------------------

// Adds tile (covering ox0..ox1-1, oy0..oy1-1 of result) with linear ramps on
// the sides that overlap a neighbour.
void BlendTile(SBxPicBuf& result, const SBxPicBuf& tile, int ox0, int ox1, int oy0, int oy1);

// Fills the outer `border` pixels of picture with copies of the nearest inner
// column, then row (corners included).
void ReplicateBorder(SBxPicBuf& picture, int border);

// sigma = smoothness^2 + 0.7 and the trace length derived from it; the
// length is capped so that no trace has more than 40 samples a direction.
float FlowSigma(float smoothness);
int FlowSteps(float sigma);
// Dead zone of the flattening: trunc(20000 * level^2) - 200.
int FlattenDeadZone(float flattenLevel);

// The per-tile pipeline with a given number of threads for its row loops.
void OriginalTileThreads(SBxPicBuf& tileOut, const SBxPicBuf& tileIn, const OriginalParams& params, int threads);

// ---- Structure tensor and weak-edge fill (original_tensor.cpp) ---------------

// One level of the multi-level relaxation.
struct TensorLevel {
    CBxRect rect{0, 0, 0, 0};
    int width = 0;
    int height = 0;
    std::vector<uint8_t> mask;  // 255 weak and still to be filled, 1 strong or frozen
    std::vector<float> xx, xy, yy;
    std::vector<float> workXX, workXY, workYY;
};

// True when the tensor (xx, xy, yy) is weaker than threshold.
inline bool WeakStructure(float thresholdSquared, float xx, float xy, float yy) {
    return thresholdSquared > xx * xx + yy * yy + 2.0f * xy * xy;
}

// Clears the three one-component float planes (F's size) and accumulates the
// structure tensor of every component of F (32-bit float, 1 or 3 components).
void StructureTensor(SBxPicBuf& tensorXX, SBxPicBuf& tensorXY, SBxPicBuf& tensorYY, const SBxPicBuf& F,
                     int threads = 1);

// Replaces the tensor in weak regions by one relaxed in from the strong
// structure around them, in place.
void FillWeakStructure(SBxPicBuf& tensorXX, SBxPicBuf& tensorXY, SBxPicBuf& tensorYY, float edgeThreshold,
                       int threads = 1);

// Jacobi relaxation of the weak pixels of a level.
void Relax(TensorLevel& level, float threshold, int maxPasses, int threads = 1);
// Block means of level 0 into a level f times smaller.
void Downsample(const TensorLevel& level0, TensorLevel& coarse, int factor);
// Adds the correction planes (the coarse level's size) to level 0, nearest
// neighbour, and recomputes its mask.
void AddCorrection(TensorLevel& level0, const TensorLevel& correction, int factor, float threshold,
                   int threads = 1);

// The planes interleaved for the direction lookups.
void MakeTensorField(TensorField& field, const SBxPicBuf& tensorXX, const SBxPicBuf& tensorXY,
                     const SBxPicBuf& tensorYY);

// ---- Flow-line smoothing (original_flow.cpp) ----------------------------------

// One sample of a trace: offset (in samples of I) from the pixel to the
// top-left of the 2 x 2 cell it falls in, the bilinear weights of the left
// column and top row (0..128; the others are 128 minus these) and the
// sample's weight (0..128).
struct TraceSample {
    int32_t offset;
    uint8_t wx;
    uint8_t wy;
    uint8_t weight;
    uint8_t unused;
};

// The trace of one pixel. Its samples are stored packed, only as many as the
// trace really has: backward ones, then forward ones, from `first` in the
// sample list of the pixel's row. The centre sample (the pixel itself,
// weight 128) is implicit; weightSum includes it.
struct FlowTrace {
    uint32_t first;
    uint16_t weightSum;
    uint8_t backwardCount;
    uint8_t forwardCount;
};

struct FlowTraces {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<FlowTrace> traces;               // one per pixel; the one-pixel frame is unused
    std::vector<std::vector<TraceSample>> rows;  // the samples of each row's traces
};

// Unit vector along the edge at a real position, or (0, 0) where the tensor
// has no direction.
Vec2 MinorDirection(const TensorField& field, float x, float y);

// Separable Gaussian blur of every component of a 32-bit float picture;
// destination is (re)allocated like source. The kernel is renormalised where
// the picture edge cuts it.
void GaussianBlurFloat(SBxPicBuf& destination, const SBxPicBuf& source, float sigma, int threads = 1);

// Traces the flow line of every pixel through the direction field and stores
// its samples with weights that fade with distance and grey difference.
void BuildFlowTraces(FlowTraces& records, const TensorField& field, float sigma, int steps, int components,
                     const SBxPicBuf& F, int threads = 1);

// One smoothing pass over I, in place (the one-pixel frame keeps its values).
void SmoothAlongFlow(IntPicture& I, const FlowTraces& records, int threads = 1);

// ---- Flattening and border sharpening (original_flatten.cpp) ---------------

// The two neighbours of a pixel one step across the edge; the centre sample
// (the pixel itself) is implicit. Weight fields are unused.
struct GradientSamples {
    TraceSample behind;
    TraceSample ahead;
};

// Unit vector across the edge at a real position, or (0, 0).
Vec2 MajorDirection(const TensorField& field, float x, float y);

// One record per pixel of the field (frame records unused).
void BuildGradientSamples(std::vector<GradientSamples>& records, const TensorField& field, int components,
                          int threads = 1);

// One shock-filter pass over I with dead zone T.
void Flatten(IntPicture& I, const std::vector<GradientSamples>& records, int deadZone, int threads = 1);

// One unsharp-mask pass over I with a Gaussian of sigma and amount a; the
// samples are clipped to 0..65535.
void SharpenBorders(IntPicture& I, float sigma, float amount, int threads = 1);

// Separable blur of a 32-bit integer picture with an integer Gaussian kernel;
// destination is resized like source.
void GaussianBlurInt(IntPicture& destination, const IntPicture& source, float sigma, int threads = 1);

// The integer kernel GaussianBlurInt uses for sigma.
std::vector<int32_t> IntGaussianKernel(float sigma);
