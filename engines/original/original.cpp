// The Original repaint driver: the tile grid, the per-tile pipeline with its
// progress steps and abort polls, and the blend of the tiles into the result.
#include "engines/original/original.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "engines/original/original_steps.h"
#include "picbuf/run_control.h"

std::atomic<int> originalThreadCount{0};

namespace {

void Step() {
    ReportProgress(1, ProgressRule::Always);
}

// 8 bits, 1 or 3 components, and a result that fits.
bool Repaintable(const SBxPicBuf& result, const SBxPicBuf& source) {
    return ResultFits(result, source) && source.bitsPerComponent == 8 &&
           (source.components == 1 || source.components == 3);
}

// Runs the tiles on `threads` threads, each tile on its own thread when there
// are enough of them, and blends them into result strictly in tile order:
// the blend rounds after every tile, so the order decides the bytes. After
// each blend the abort flag is polled; once it is set no further tile is
// started or blended.
void RunTiles(SBxPicBuf& result, const SBxPicBuf& source, const OriginalParams& params,
              const std::vector<RepaintTile>& grid, int threads) {
    const int tiles = static_cast<int>(grid.size());
    const int workers = std::max(1, std::min(threads, tiles));
    const int inner = std::max(1, threads / workers);

    std::mutex lock;
    int nextTile = 0, nextBlend = 0;
    bool stopped = false;
    std::exception_ptr error;
    std::vector<std::unique_ptr<PicBufHolder>> finished(tiles);

    auto work = [&]() {
        for (;;) {
            int t;
            {
                std::lock_guard<std::mutex> guard(lock);
                // The first tile always runs; later ones only while no abort is
                // pending, as if each followed the poll after its predecessor.
                if (stopped || nextTile >= tiles || (nextTile > 0 && AbortPolled())) return;
                t = nextTile++;
            }
            try {
                const CBxRect& r = grid[t].outer;
                const int w = r.right - r.left, h = r.bottom - r.top;
                auto tileOut = std::make_unique<PicBufHolder>();
                {
                    PicBufHolder tileIn;
                    AllocatePicture(tileIn.buf, w, h, source.components, source.bitsPerComponent);
                    AllocatePicture(tileOut->buf, w, h, source.components, source.bitsPerComponent);
                    CBxPicBufAPI::CopyRect(tileIn.buf, source, CBxPoint{0, 0}, CBxPoint{r.left, r.top}, CBxSize{w, h});
                    OriginalTileThreads(tileOut->buf, tileIn.buf, params, inner);
                }
                std::lock_guard<std::mutex> guard(lock);
                finished[t] = std::move(tileOut);
                while (!stopped && nextBlend < tiles && finished[nextBlend]) {
                    const CBxRect& b = grid[nextBlend].outer;
                    BlendTile(result, finished[nextBlend]->buf, b.left, b.right, b.top, b.bottom);
                    finished[nextBlend].reset();
                    ++nextBlend;
                    if (AbortPolled()) stopped = true;
                }
            } catch (...) {
                std::lock_guard<std::mutex> guard(lock);
                stopped = true;
                if (!error) error = std::current_exception();
                return;
            }
        }
    };

    std::vector<std::thread> helpers;
    try {
        for (int i = 1; i < workers; ++i) helpers.emplace_back(work);
    } catch (...) {  // no thread to spare: the calling thread does the rest
    }
    work();
    for (auto& h : helpers) h.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace

int OriginalThreads() {
    const int set = originalThreadCount.load(std::memory_order_relaxed);
    if (set > 0) return std::min(set, 256);
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(std::min(cores, 256u)) : 1;
}

int OriginalProgressTotal(int width, int height) {
    return kOriginalStepsPerTile * RepaintTileCount(width, height);
}

void BlendTile(SBxPicBuf& result, const SBxPicBuf& tile, int ox0, int ox1, int oy0, int oy1) {
    const int tw = ox1 - ox0, th = oy1 - oy0, components = tile.components;
    const int width = result.width, height = result.height;
    for (int ty = 0; ty < th; ++ty) {
        const uint8_t* in = PicRow(tile, ty);
        uint8_t* out = PicRow(result, oy0 + ty) + static_cast<size_t>(ox0) * components;
        for (int tx = 0; tx < tw; ++tx) {
            double w = 1.0;
            if (tx < kBlendRamp && ox0 > kTileMargin) w = tx / static_cast<double>(kBlendRamp);
            if (ty < kBlendRamp && oy0 > kTileMargin) w = w * ty / kBlendRamp;
            if (tx > tw - kBlendRamp && ox1 < width - kTileMargin) w = w * (tw - tx) / kBlendRamp;
            if (ty > th - kBlendRamp && oy1 < height - kTileMargin) w = w * (th - ty) / kBlendRamp;
            for (int c = 0; c < components; ++c) {
                const size_t i = static_cast<size_t>(tx) * components + c;
                const double r = out[i] + in[i] * w + 0.5;
                out[i] = r <= 0 ? 0 : r >= 255 ? 255 : static_cast<uint8_t>(r);
            }
        }
    }
}

void ReplicateBorder(SBxPicBuf& picture, int border) {
    const int wp = picture.width, hp = picture.height;
    if (wp < 2 * border + 1 || hp < 2 * border + 1) return;
    const size_t pixelBytes = static_cast<size_t>(picture.components) * BytesPerSample(picture.bitsPerComponent);
    for (int y = border; y < hp - border; ++y) {
        uint8_t* row = PicRow(picture, y);
        const uint8_t* left = row + border * pixelBytes;
        const uint8_t* right = row + (wp - border - 1) * pixelBytes;
        for (int x = 0; x < border; ++x) {
            std::memcpy(row + x * pixelBytes, left, pixelBytes);
            std::memcpy(row + (wp - border + x) * pixelBytes, right, pixelBytes);
        }
    }
    const size_t rowBytes = wp * pixelBytes;
    for (int y = 0; y < border; ++y) {
        std::memcpy(PicRow(picture, y), PicRow(picture, border), rowBytes);
        std::memcpy(PicRow(picture, hp - border + y), PicRow(picture, hp - border - 1), rowBytes);
    }
}

float FlowSigma(float smoothness) {
    return smoothness * smoothness + 0.7f;
}

int FlowSteps(float sigma) {
    const double v = 1.5 * sigma + 0.5;
    if (!(v < kMaxTraceSamples)) return kMaxTraceSamples + 1;  // also catches a sigma that is not a number
    return static_cast<int>(v) + 1;
}

int FlattenDeadZone(float flattenLevel) {
    float zone = 20000.0f * (flattenLevel * flattenLevel);
    if (!(zone < 1073741824.0f)) zone = 1073741824.0f;
    return static_cast<int>(zone) - 200;
}

void OriginalTileThreads(SBxPicBuf& tileOut, const SBxPicBuf& tileIn, const OriginalParams& params, int threads) {
    const int W = tileIn.width, H = tileIn.height, components = tileIn.components;
    const int Wp = W + 2 * kTileBorder, Hp = H + 2 * kTileBorder;

    // The padded tile P with a replicated border.
    Step();
    PicBufHolder P;
    AllocatePicture(P.buf, Wp, Hp, components, tileIn.bitsPerComponent);
    std::memset(P->pixels, 0, P->size);
    CBxPicBufAPI::CopyRect(P.buf, tileIn, CBxPoint{kTileBorder, kTileBorder}, CBxPoint{0, 0}, CBxSize{W, H});
    ReplicateBorder(P.buf, kTileBorder);

    // The float and integer working copies and the tensor planes.
    PicBufHolder F, tensorXX, tensorXY, tensorYY;
    AllocatePicture(F.buf, Wp, Hp, components, 32);
    AllocatePicture(tensorXX.buf, Wp, Hp, 1, 32);
    AllocatePicture(tensorXY.buf, Wp, Hp, 1, 32);
    AllocatePicture(tensorYY.buf, Wp, Hp, 1, 32);
    IntPicture I;
    I.width = Wp;
    I.height = Hp;
    I.components = components;
    I.samples.resize(static_cast<size_t>(Wp) * Hp * components);
    Step();

    // The output starts as the input (it stays so after an early abort).
    if (tileOut.pixels != tileIn.pixels) CBxPicBufAPI::Copy(tileOut, tileIn);

    // P into the float copy F and the 8.8 fixed-point copy I.
    const size_t rowSamples = static_cast<size_t>(Wp) * components;
    for (int y = 0; y < Hp; ++y) {
        const uint8_t* in = PicRow(P.buf, y);
        float* f = reinterpret_cast<float*>(PicRow(F.buf, y));
        int32_t* i = &I.samples[y * rowSamples];
        for (size_t k = 0; k < rowSamples; ++k) {
            f[k] = in[k];
            i[k] = in[k] * 256;
        }
    }
    Step();

    // Trace length and room for the per-pixel records.
    const float sigma = FlowSigma(params.smoothness);
    const int steps = FlowSteps(sigma);
    FlowTraces traces;
    traces.traces.reserve(static_cast<size_t>(Wp) * Hp);
    std::vector<GradientSamples> gradients;
    gradients.reserve(static_cast<size_t>(Wp) * Hp);
    Step();
    if (AbortPolled()) return;

    StructureTensor(tensorXX.buf, tensorXY.buf, tensorYY.buf, F.buf, threads);
    Step();
    FillWeakStructure(tensorXX.buf, tensorXY.buf, tensorYY.buf, params.edgeThreshold, threads);
    Step();
    if (AbortPolled()) return;

    TensorField field;
    MakeTensorField(field, tensorXX.buf, tensorXY.buf, tensorYY.buf);
    for (PicBufHolder* plane : {&tensorXX, &tensorXY, &tensorYY}) CBxPicBufAPI::DoneHeap(plane->buf);
    BuildFlowTraces(traces, field, sigma, steps, components, F.buf, threads);
    CBxPicBufAPI::DoneHeap(F.buf);
    Step();
    BuildGradientSamples(gradients, field, components, threads);
    std::vector<float>().swap(field.abc);
    Step();

    // The ten cycles on I. The flag is polled after every pass; each
    // cycle reports three steps whichever passes are switched on.
    const int deadZone = FlattenDeadZone(params.flattenLevel);
    const float amount = params.sharpenStrength * 0.5f;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SmoothAlongFlow(I, traces, threads);
        if (AbortPolled()) break;
        Step();
        if (params.flatten) Flatten(I, gradients, deadZone, threads);
        if (AbortPolled()) break;
        Step();
        if (params.sharpenBorders) SharpenBorders(I, kSharpenSigma, amount, threads);
        if (AbortPolled()) break;
        Step();
    }

    // Back to 8 bits and out of the border (also after an abort inside the cycles).
    traces = FlowTraces();
    std::vector<GradientSamples>().swap(gradients);
    for (int y = 0; y < Hp; ++y) {
        uint8_t* out = PicRow(P.buf, y);
        const int32_t* i = &I.samples[y * rowSamples];
        for (size_t k = 0; k < rowSamples; ++k) out[k] = static_cast<uint8_t>(std::clamp(i[k] >> 8, 0, 255));
    }
    CBxPicBufAPI::CopyRect(tileOut, P.buf, CBxPoint{0, 0}, CBxPoint{kTileBorder, kTileBorder},
                           CBxSize{tileOut.width, tileOut.height});
}

void OriginalTile(SBxPicBuf& tileOut, const SBxPicBuf& tileIn, const OriginalParams& params) {
    if (!Repaintable(tileOut, tileIn)) return;
    OriginalTileThreads(tileOut, tileIn, params, OriginalThreads());
}

void OriginalRepaint(SBxPicBuf& result, const SBxPicBuf& source, const OriginalParams& params) {
    if (!Repaintable(result, source)) return;
    const int threads = OriginalThreads();
    if (ProcessedWhole(source.width, source.height)) {
        OriginalTileThreads(result, source, params, threads);
        return;
    }
    // The result is cleared before the tiles are read: repainting in place
    // needs a copy of the source.
    PicBufHolder sourceCopy;
    const SBxPicBuf* from = &source;
    if (result.pixels == source.pixels) {
        AllocatePicture(sourceCopy.buf, source.width, source.height, source.components, source.bitsPerComponent);
        CBxPicBufAPI::Copy(sourceCopy.buf, source);
        from = &sourceCopy.buf;
    }
    std::memset(result.pixels, 0, result.size);
    RunTiles(result, *from, params, RepaintTileGrid(source.width, source.height, kTileMargin), threads);
}

OriginalParams OriginalParamsFromPositions(const std::vector<int>& positions) {
    const auto value = [&](int index) { return ParamValue(kOriginalParams[index], positions.at(index)); };
    OriginalParams p;
    p.flatten = positions.at(kOriginalFlatten) > 0;
    p.sharpenBorders = positions.at(kOriginalSharpen) > 0;
    p.smoothness = value(kOriginalSmoothness);
    p.edgeThreshold = value(kOriginalWeakEdges);
    p.flattenLevel = value(kOriginalFlattenLevel);
    p.sharpenStrength = value(kOriginalSharpenStrength);
    return p;
}
