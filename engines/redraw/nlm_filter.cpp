// Non-local means smoothing of one 8-bit channel: every pixel becomes the
// weighted mean of its 7 x 7 window, each neighbour weighted by how alike the
// 6 x 6 patches around the two are. For speed, patch distances are measured
// on 2 x 2 blocks, weights come from cached integer tables, the window's
// symmetry halves the offsets to 25, sums are integers, and four threads
// share the work.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "redraw.h"
#include "redraw_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace redraw_detail;

namespace {

constexpr int kNlmTag = 6;
constexpr int kCacheSlots = 7;
constexpr int kGuideLevels = 256;
constexpr double kKeyTolerance = 0.001;
constexpr double kDistanceDivisor = 300.0;
constexpr double kStrengthExponent = 3.5;
constexpr double kWeightScale = 10000.0;
// Any larger strength gives tables of nothing but 10000 (the largest
// distance, 9180, then weighs exp(-3e-12)).
constexpr double kStrengthCeiling = 1.0e6;
constexpr int kSearchRadius = 3;
constexpr int kSearchWidth = 2 * kSearchRadius + 1;
constexpr int kDistinctOffsets = 25;
constexpr int kWindowCap = 71;
constexpr int kSmallestFiltered = 17;
constexpr int kFilterThreads = 4; // the calling thread and three helpers
constexpr int kMaxThreads = 64;
// Unit rows (pairs of pixel rows) in one strip: a thread takes a strip
// through all 25 offsets while its sums stay in cache, then writes its
// finished pixels.
constexpr int kStripUnits = 16;

// ---------------------------------------------------------------------------
// Weight cache

struct NlmWeightSlot {
    int tag = 0;
    double key1 = 0.0; // brightness adaptivity s
    double key2 = 0.0; // h^3.5
    int length = 0;
    bool filled = false;
    std::shared_ptr<const NlmWeights> tables;
};

// Process-wide for the life of the program. The editor never runs two
// filters at once; the mutex keeps it sound for any caller that does.
struct NlmWeightCacheState {
    std::mutex mutex;
    NlmWeightSlot slots[kCacheSlots];
    int nextSlot = 0;
};

NlmWeightCacheState& NlmWeightCache() {
    static NlmWeightCacheState cache;
    return cache;
}

// Negative and NaN strengths smooth nothing rather than poisoning the tables.
double SaneStrength(double h) {
    if (!(h >= 0.0)) return 0.0;
    return std::min(h, kStrengthCeiling);
}

int FindSlot(const NlmWeightCacheState& cache, double s, double key2) {
    for (int i = 0; i < kCacheSlots; ++i) {
        const NlmWeightSlot& slot = cache.slots[i];
        if (slot.filled && slot.tag == kNlmTag && std::fabs(slot.key1 - s) < kKeyTolerance &&
            std::fabs(slot.key2 - key2) < kKeyTolerance)
            return i;
    }
    return -1;
}

// T[L][d] = trunc(exp(-d^3 / 300 / F) x 10000 + 0.5), F growing with the
// guide level L so that brighter pixels are smoothed more (s > 0).
std::shared_ptr<const NlmWeights> BuildWeights(double s, double key2) {
    auto weights = std::make_shared<NlmWeights>();
    weights->entries.resize(static_cast<size_t>(kGuideLevels) * kNlmTableLength);
    for (int level = 0; level < kGuideLevels; ++level) {
        double f = key2;
        if (s > 0) f = (1.0 + level * s / 256.0) * key2;
        else if (s < 0) f = (1.0 + (255 - level) * (-s) / 256.0) * key2;
        uint32_t* table = weights->entries.data() + static_cast<size_t>(level) * kNlmTableLength;
        table[0] = static_cast<uint32_t>(kWeightScale);
        for (int d = 1; d < kNlmTableLength; ++d) {
            const double cube = static_cast<double>(d) * d * d;
            table[d] = static_cast<uint32_t>(std::exp(-cube / kDistanceDivisor / f) * kWeightScale + 0.5);
        }
    }
    return weights;
}

// ---------------------------------------------------------------------------
// Per-thread work

// What one thread needs; everything is allocated by the calling thread
// before any helper starts, so a helper never fails.
struct NlmThreadRecord {
    const SBxPicBuf* guide = nullptr; // padded, margin = marginRadius + searchRadius
    const NlmWeights* weights = nullptr;
    SBxPicBuf* output = nullptr;      // the image-sized destination
    std::atomic<int>* nextStrip = nullptr;
    int width = 0;  // image size, both even
    int height = 0;
    int searchRadius = kSearchRadius;
    int marginRadius = 0;
    // One strip's sums: one weight sum per 2 x 2 unit (its four pixels always
    // share their weights) and one value sum per pixel.
    uint32_t* weightSums = nullptr;
    uint32_t* valueSums = nullptr;
    // Scratch: one row of block sums, the strip's horizontal box sums and
    // its patch distances, all on the half-size block grid.
    uint16_t* blockRow = nullptr;
    uint16_t* boxRows = nullptr;
    uint16_t* distanceRows = nullptr;
};

struct NlmThreadBuffers {
    std::unique_ptr<uint32_t[]> weightSums;
    std::unique_ptr<uint32_t[]> valueSums;
    std::unique_ptr<uint16_t[]> blockRow;
    std::unique_ptr<uint16_t[]> boxRows;
    std::unique_ptr<uint16_t[]> distanceRows;
};

// Block-grid geometry shared by the distance and accumulation steps. A unit
// (i, j) has its top-left pixel at padded (margin + 2i, margin + 2j); its own
// block is (i + margin / 2, ...); its mirror neighbour's block is
// ((margin - dx) / 2 + i, ...). Distances are kept for block columns
// firstColumn .. firstColumn + columns - 1, which covers every offset.
struct BlockGrid {
    int margin;
    int firstColumn;
    int columns;
};

BlockGrid GridOf(const NlmThreadRecord& record) {
    const int margin = record.marginRadius + record.searchRadius;
    BlockGrid grid;
    grid.margin = margin;
    grid.firstColumn = (margin - record.searchRadius) >> 1;
    grid.columns = record.width / 2 - 1 + ((margin + record.searchRadius) >> 1) - grid.firstColumn + 1;
    return grid;
}

// out[i] = a[i] + b[i] + c[i] on 16-bit sums (at most 36 x 255).
void AddThree(uint16_t* out, const uint16_t* a, const uint16_t* b, const uint16_t* c, int count) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= count; i += 8) {
        __m128i sum = _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
        sum = _mm_add_epi16(sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), sum);
    }
#endif
    for (; i < count; ++i) out[i] = static_cast<uint16_t>(a[i] + b[i] + c[i]);
}

// out[k] = sum over the 2 x 2 block (first + k, blockY) of |G(x) - G(x + d)|.
void BlockSums(const SBxPicBuf& guide, int dx, int dy, int blockY, int first, int count, uint16_t* out) {
    const uint8_t* a0 = PicRow(guide, 2 * blockY) + 2 * first;
    const uint8_t* a1 = PicRow(guide, 2 * blockY + 1) + 2 * first;
    const uint8_t* b0 = PicRow(guide, 2 * blockY + dy) + 2 * first + dx;
    const uint8_t* b1 = PicRow(guide, 2 * blockY + 1 + dy) + 2 * first + dx;
    int k = 0;
#if defined(__SSE2__)
    const __m128i lowBytes = _mm_set1_epi16(0x00ff);
    for (; k + 8 <= count; k += 8) {
        const int x = 2 * k;
        __m128i va0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a0 + x));
        __m128i vb0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b0 + x));
        __m128i va1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a1 + x));
        __m128i vb1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b1 + x));
        __m128i d0 = _mm_or_si128(_mm_subs_epu8(va0, vb0), _mm_subs_epu8(vb0, va0));
        __m128i d1 = _mm_or_si128(_mm_subs_epu8(va1, vb1), _mm_subs_epu8(vb1, va1));
        // Each 16-bit lane holds one block's pair of pixels: add its two bytes.
        __m128i sum0 = _mm_add_epi16(_mm_and_si128(d0, lowBytes), _mm_srli_epi16(d0, 8));
        __m128i sum1 = _mm_add_epi16(_mm_and_si128(d1, lowBytes), _mm_srli_epi16(d1, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_add_epi16(sum0, sum1));
    }
#endif
    for (; k < count; ++k) {
        const int x = 2 * k;
        out[k] = static_cast<uint16_t>(std::abs(a0[x] - b0[x]) + std::abs(a0[x + 1] - b0[x + 1]) +
                                       std::abs(a1[x] - b1[x]) + std::abs(a1[x + 1] - b1[x + 1]));
    }
}

// Patch distances of offset (dx, dy) for block rows firstRow .. lastRow:
// block sums, their 3-block horizontal sums, then 3-row vertical sums, so
// that each entry is the sum of absolute differences of two 6 x 6 patches.
void PatchDistances(const NlmThreadRecord& record, const BlockGrid& grid, int dx, int dy, int firstRow, int lastRow) {
    const int columns = grid.columns;
    for (int y = firstRow - 1; y <= lastRow + 1; ++y) {
        BlockSums(*record.guide, dx, dy, y, grid.firstColumn - 1, columns + 2, record.blockRow);
        AddThree(record.boxRows + static_cast<size_t>(y - firstRow + 1) * columns, record.blockRow,
                 record.blockRow + 1, record.blockRow + 2, columns);
    }
    for (int y = firstRow; y <= lastRow; ++y) {
        const uint16_t* box = record.boxRows + static_cast<size_t>(y - firstRow) * columns;
        AddThree(record.distanceRows + static_cast<size_t>(y - firstRow) * columns, box, box + columns,
                 box + 2 * columns, columns);
    }
}

#if defined(__SSE2__)
// values[0..15] += plus x w1 + minus x w2 for 16 pixels whose (w1, w2) pairs
// are given per pixel in pairs[0..3] (four pixels each).
inline void AccumulateSixteen(const uint8_t* plus, const uint8_t* minus, const __m128i pairs[4], uint32_t* values) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plus));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(minus));
    const __m128i pLow = _mm_unpacklo_epi8(p, zero), pHigh = _mm_unpackhi_epi8(p, zero);
    const __m128i mLow = _mm_unpacklo_epi8(m, zero), mHigh = _mm_unpackhi_epi8(m, zero);
    const __m128i interleaved[4] = {_mm_unpacklo_epi16(pLow, mLow), _mm_unpackhi_epi16(pLow, mLow),
                                    _mm_unpacklo_epi16(pHigh, mHigh), _mm_unpackhi_epi16(pHigh, mHigh)};
    for (int k = 0; k < 4; ++k) {
        __m128i* out = reinterpret_cast<__m128i*>(values + 4 * k);
        // Products fit: 255 x 10000 twice is far below 2^31.
        _mm_storeu_si128(out, _mm_add_epi32(_mm_loadu_si128(out), _mm_madd_epi16(interleaved[k], pairs[k])));
    }
}
#endif

// Adds offset (dx, dy)'s contribution to the unit rows firstUnitRow ..
// lastUnitRow - 1, whose sums start at the record's strip sums. Per unit one
// weight pair, read from the table of the guide level of its top-left pixel:
// w1 for the neighbour at +d (the unit's own patch distance) and w2 for the
// neighbour at -d (the distance measured from the unit at -d); the centre
// offset adds the pixel itself once. Distance rows start at block row
// firstDistanceRow.
void AccumulateOffset(const NlmThreadRecord& record, const BlockGrid& grid, int dx, int dy, int firstUnitRow,
                      int lastUnitRow, int firstDistanceRow) {
    const SBxPicBuf& guide = *record.guide;
    const int margin = grid.margin;
    const int units = record.width / 2;
    const bool centre = dx == 0 && dy == 0;
    const int ownColumn = (margin >> 1) - grid.firstColumn;
    const int mirrorColumn = ((margin - dx) >> 1) - grid.firstColumn;
    static const uint16_t kNoDistance[1] = {0};
    for (int j = firstUnitRow; j < lastUnitRow; ++j) {
        const int py = margin + 2 * j;
        const uint8_t* level = PicRow(guide, py) + margin;
        const uint8_t* plus0 = PicRow(guide, py + dy) + margin + dx;
        const uint8_t* plus1 = PicRow(guide, py + 1 + dy) + margin + dx;
        const uint8_t* minus0 = PicRow(guide, py - dy) + margin - dx;
        const uint8_t* minus1 = PicRow(guide, py + 1 - dy) + margin - dx;
        const uint16_t* ownDistance = kNoDistance;
        const uint16_t* mirrorDistance = kNoDistance;
        if (!centre) {
            ownDistance = record.distanceRows +
                          static_cast<size_t>((py >> 1) - firstDistanceRow) * grid.columns + ownColumn;
            mirrorDistance = record.distanceRows +
                             static_cast<size_t>(((py - dy) >> 1) - firstDistanceRow) * grid.columns + mirrorColumn;
        }
        uint32_t* weightSums = record.weightSums + static_cast<size_t>(j - firstUnitRow) * units;
        uint32_t* values0 = record.valueSums + static_cast<size_t>(2 * (j - firstUnitRow)) * record.width;
        uint32_t* values1 = values0 + record.width;
        int i = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        // Weights are gathered straight into registers: storing them to
        // memory and loading them as one vector stalls the store forwarding.
        auto weightAt = [&](int unit, const uint16_t* distance) -> short {
            return static_cast<short>(record.weights->Table(level[2 * unit])[distance[unit]]);
        };
        for (; i + 8 <= units; i += 8) {
            __m128i v1, v2;
            if (centre) {
                v1 = _mm_set1_epi16(static_cast<short>(kWeightScale));  // identical patches
                v2 = zero;
            } else {
                v1 = _mm_setr_epi16(weightAt(i, ownDistance), weightAt(i + 1, ownDistance),
                                    weightAt(i + 2, ownDistance), weightAt(i + 3, ownDistance),
                                    weightAt(i + 4, ownDistance), weightAt(i + 5, ownDistance),
                                    weightAt(i + 6, ownDistance), weightAt(i + 7, ownDistance));
                v2 = _mm_setr_epi16(weightAt(i, mirrorDistance), weightAt(i + 1, mirrorDistance),
                                    weightAt(i + 2, mirrorDistance), weightAt(i + 3, mirrorDistance),
                                    weightAt(i + 4, mirrorDistance), weightAt(i + 5, mirrorDistance),
                                    weightAt(i + 6, mirrorDistance), weightAt(i + 7, mirrorDistance));
            }
            // At most 20000: still an unsigned 16-bit value.
            const __m128i unitSum = _mm_add_epi16(v1, v2);
            __m128i* sums = reinterpret_cast<__m128i*>(weightSums + i);
            _mm_storeu_si128(sums, _mm_add_epi32(_mm_loadu_si128(sums), _mm_unpacklo_epi16(unitSum, zero)));
            _mm_storeu_si128(sums + 1, _mm_add_epi32(_mm_loadu_si128(sums + 1), _mm_unpackhi_epi16(unitSum, zero)));
            // (w1, w2) per unit, then per pixel: both pixels of a unit row share them.
            const __m128i unitPairsLow = _mm_unpacklo_epi16(v1, v2);
            const __m128i unitPairsHigh = _mm_unpackhi_epi16(v1, v2);
            const __m128i pixelPairs[4] = {
                _mm_unpacklo_epi32(unitPairsLow, unitPairsLow), _mm_unpackhi_epi32(unitPairsLow, unitPairsLow),
                _mm_unpacklo_epi32(unitPairsHigh, unitPairsHigh), _mm_unpackhi_epi32(unitPairsHigh, unitPairsHigh)};
            AccumulateSixteen(plus0 + 2 * i, minus0 + 2 * i, pixelPairs, values0 + 2 * i);
            AccumulateSixteen(plus1 + 2 * i, minus1 + 2 * i, pixelPairs, values1 + 2 * i);
        }
#endif
        for (; i < units; ++i) {
            const uint32_t* table = record.weights->Table(level[2 * i]);
            const uint32_t w1 = table[centre ? 0 : ownDistance[i]];
            const uint32_t w2 = centre ? 0 : table[mirrorDistance[i]];
            weightSums[i] += w1 + w2;
            const int x = 2 * i;
            values0[x] += plus0[x] * w1 + minus0[x] * w2;
            values0[x + 1] += plus0[x + 1] * w1 + minus0[x + 1] * w2;
            values1[x] += plus1[x] * w1 + minus1[x] * w2;
            values1[x + 1] += plus1[x + 1] * w1 + minus1[x + 1] * w2;
        }
    }
}

// Weighted means of a finished strip, rounded to nearest.
void WriteStrip(const NlmThreadRecord& record, int firstUnitRow, int lastUnitRow) {
    const int width = record.width;
    for (int y = 2 * firstUnitRow; y < 2 * lastUnitRow; ++y) {
        uint8_t* out = PicRow(*record.output, y);
        const int stripRow = y - 2 * firstUnitRow;
        const uint32_t* values = record.valueSums + static_cast<size_t>(stripRow) * width;
        const uint32_t* weights = record.weightSums + static_cast<size_t>(stripRow / 2) * (width / 2);
        for (int x = 0; x < width; ++x) {
            const double mean = static_cast<double>(values[x]) / weights[x / 2] + 0.5;
            out[x] = mean >= 255.0 ? 255 : static_cast<uint8_t>(mean);
        }
    }
}

// One thread's share: strips taken in turn from the shared counter, each
// through all 25 offsets. The sums are integers, so who adds what in which
// order never changes a pixel.
void NlmHelperThread(NlmThreadRecord* record) {
    const BlockGrid grid = GridOf(*record);
    const int unitRows = record->height / 2;
    const int units = record->width / 2;
    for (;;) {
        const int strip = record->nextStrip->fetch_add(kStripUnits, std::memory_order_relaxed);
        if (strip >= unitRows) break;
        const int stripEnd = std::min(strip + kStripUnits, unitRows);
        std::memset(record->weightSums, 0, sizeof(uint32_t) * static_cast<size_t>(stripEnd - strip) * units);
        std::memset(record->valueSums, 0,
                    sizeof(uint32_t) * static_cast<size_t>(stripEnd - strip) * 2 * record->width);
        for (int k = 0; k < kDistinctOffsets; ++k) {
            const int dy = k / kSearchWidth - record->searchRadius;
            const int dx = k % kSearchWidth - record->searchRadius;
            // Block rows of this strip's own patches and of their mirror neighbours.
            const int ownRow = grid.margin >> 1;
            const int mirrorRow = (grid.margin - dy) >> 1;
            const int firstRow = strip + std::min(ownRow, mirrorRow);
            const int lastRow = stripEnd - 1 + std::max(ownRow, mirrorRow);
            if (dx != 0 || dy != 0) PatchDistances(*record, grid, dx, dy, firstRow, lastRow);
            AccumulateOffset(*record, grid, dx, dy, strip, stripEnd, firstRow);
        }
        WriteStrip(*record, strip, stripEnd);
    }
}

// Joins every started helper on every path out of the filter.
struct HelperThreads {
    std::vector<std::thread> threads;
    void JoinAll() {
        for (std::thread& thread : threads)
            if (thread.joinable()) thread.join();
    }
    ~HelperThreads() { JoinAll(); }
};

}  // namespace

// ---------------------------------------------------------------------------

std::shared_ptr<const NlmWeights> NlmLookupWeights(double s, double h) {
    const double key2 = std::pow(SaneStrength(h), kStrengthExponent);
    NlmWeightCacheState& cache = NlmWeightCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    const int found = FindSlot(cache, s, key2);
    if (found >= 0) return cache.slots[found].tables;
    std::shared_ptr<const NlmWeights> tables;
    try {
        tables = BuildWeights(s, key2);
    } catch (const std::bad_alloc&) {
        return nullptr;  // the slot keeps its old tables
    }
    NlmWeightSlot& slot = cache.slots[cache.nextSlot];
    slot.tag = kNlmTag;
    slot.key1 = s;
    slot.key2 = key2;
    slot.length = kNlmTableLength;
    slot.tables = tables;
    slot.filled = true;
    cache.nextSlot = (cache.nextSlot + 1) % kCacheSlots;
    return tables;
}

int NlmFindWeightSlot(double s, double h) {
    NlmWeightCacheState& cache = NlmWeightCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    return FindSlot(cache, s, std::pow(SaneStrength(h), kStrengthExponent));
}

int NlmNextWeightSlot() {
    NlmWeightCacheState& cache = NlmWeightCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    return cache.nextSlot;
}

void MirrorMargin(SBxPicBuf& plane, int margin) {
    const int sampleBytes = BytesPerSample(plane.bitsPerComponent);
    if (!HasSamples(plane) || margin <= 0 || sampleBytes == 0) return;
    if (plane.width <= 2 * margin || plane.height <= 2 * margin) return;  // no image inside
    const size_t pixelBytes = static_cast<size_t>(plane.components) * sampleBytes;
    const int lastX = plane.width - margin - 1;
    const int lastY = plane.height - margin - 1;
    // A coordinate before the image reflects to 2m - i, one after it to
    // 2e - i; an image narrower than the margin repeats its edge beyond that.
    auto reflect = [margin](int i, int last) {
        if (i < margin) i = 2 * margin - i;
        else if (i > last) i = 2 * last - i;
        return std::clamp(i, margin, last);
    };
    for (int y = margin; y <= lastY; ++y) {
        uint8_t* row = PicRow(plane, y);
        for (int x = 0; x < margin; ++x)
            std::memcpy(row + x * pixelBytes, row + reflect(x, lastX) * pixelBytes, pixelBytes);
        for (int x = lastX + 1; x < plane.width; ++x)
            std::memcpy(row + x * pixelBytes, row + reflect(x, lastX) * pixelBytes, pixelBytes);
    }
    // Whole rows last, so that the corners reflect in both directions.
    const size_t rowBytes = pixelBytes * plane.width;
    for (int y = 0; y < margin; ++y) std::memcpy(PicRow(plane, y), PicRow(plane, reflect(y, lastY)), rowBytes);
    for (int y = lastY + 1; y < plane.height; ++y)
        std::memcpy(PicRow(plane, y), PicRow(plane, reflect(y, lastY)), rowBytes);
}

bool NlmFilter(SBxPicBuf& paddedDst, const SBxPicBuf& paddedSrc, const SBxPicBuf& guide, double h, double s,
               int threadCount) {
    const int width = paddedDst.width, height = paddedDst.height;
    auto fits = [width, height](const SBxPicBuf& plane) {
        return HasSamples(plane) && plane.width == width && plane.height == height && plane.components == 1 &&
               plane.bitsPerComponent == 8;
    };
    if (!fits(paddedDst) || !fits(paddedSrc) || !fits(guide)) return false;
    if (width < kSmallestFiltered || height < kSmallestFiltered) {
        Require(CBxPicBufAPI::Copy(paddedDst, paddedSrc));
        return true;
    }
    if (width % 2 != 0 || height % 2 != 0) return false;

    // The margin comes from a window of up to 71 pixels; its parity also
    // fixes where the 2 x 2 blocks fall on the picture.
    const int window = std::min(kWindowCap, 2 * (std::min(width, height) / 2) - 1);
    const int marginRadius = window / 2;
    const int margin = marginRadius + kSearchRadius;

    std::shared_ptr<const NlmWeights> weights = NlmLookupWeights(s, h);
    if (!weights) return false;

    PicBufHolder padded;
    AllocatePicture(padded.buf, width + 2 * margin, height + 2 * margin, 1, 8);
    Require(CBxPicBufAPI::CopyRect(padded.buf, guide, CBxPoint{margin, margin}, CBxPoint{0, 0},
                                   CBxSize{width, height}));
    MirrorMargin(padded.buf, margin);

    const int threads = std::clamp(threadCount, 1, kMaxThreads);
    std::atomic<int> nextStrip{0};
    std::vector<NlmThreadRecord> records(threads);
    std::vector<NlmThreadBuffers> buffers(threads);
    for (int t = 0; t < threads; ++t) {
        NlmThreadRecord& record = records[t];
        record.guide = &padded.buf;
        record.weights = weights.get();
        record.output = &paddedDst;
        record.nextStrip = &nextStrip;
        record.width = width;
        record.height = height;
        record.marginRadius = marginRadius;
        const BlockGrid grid = GridOf(record);
        NlmThreadBuffers& own = buffers[t];
        own.weightSums.reset(new uint32_t[static_cast<size_t>(kStripUnits) * (width / 2)]);
        own.valueSums.reset(new uint32_t[static_cast<size_t>(2 * kStripUnits) * width]);
        own.blockRow.reset(new uint16_t[grid.columns + 2]);
        own.boxRows.reset(new uint16_t[static_cast<size_t>(kStripUnits + 5) * grid.columns]);
        own.distanceRows.reset(new uint16_t[static_cast<size_t>(kStripUnits + 3) * grid.columns]);
        record.weightSums = own.weightSums.get();
        record.valueSums = own.valueSums.get();
        record.blockRow = own.blockRow.get();
        record.boxRows = own.boxRows.get();
        record.distanceRows = own.distanceRows.get();
    }

    HelperThreads helpers;
    helpers.threads.reserve(threads - 1);
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.threads.emplace_back(NlmHelperThread, &records[t]);
        } catch (const std::exception&) {
            break;  // no thread to spare: the others take its strips
        }
    }
    NlmHelperThread(&records[0]);
    helpers.JoinAll();
    return true;
}

void SmoothPlane(SBxPicBuf& dst, const SBxPicBuf& src, double strength) {
    if (&dst != &src) AllocatePictureLike(dst, src);
    if (!HasSamples(src)) return;
    const bool filterable = src.components == 1 && src.bitsPerComponent == 8;
    const int width = src.width, height = src.height;
    if (filterable && width % 2 == 0 && height % 2 == 0) {
        // The guide is the channel itself; the filter copies it before it
        // writes, so dst may be src.
        if (!NlmFilter(dst, src, src, strength, 1.0, kFilterThreads) && &dst != &src)
            Require(CBxPicBufAPI::Copy(dst, src));
        return;
    }
    if (!filterable) {
        if (&dst != &src) Require(CBxPicBufAPI::Copy(dst, src));
        return;
    }
    // The filter works on even sizes: an odd last column or row gets a black neighbour.
    const int evenWidth = width + (width & 1), evenHeight = height + (height & 1);
    PicBufHolder padded, filtered;
    AllocatePicture(padded.buf, evenWidth, evenHeight, 1, 8);
    std::memset(padded->pixels, 0, padded->size);
    const CBxPoint origin{0, 0};
    const CBxSize size{width, height};
    Require(CBxPicBufAPI::CopyRect(padded.buf, src, origin, origin, size));
    AllocatePicture(filtered.buf, evenWidth, evenHeight, 1, 8);
    // Without weight tables the channel is kept as it was.
    const bool done = NlmFilter(filtered.buf, padded.buf, padded.buf, strength, 1.0, kFilterThreads);
    Require(CBxPicBufAPI::CopyRect(dst, done ? filtered.buf : padded.buf, origin, origin, size));
}
