#include "picbuf.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picbuf/large_blocks.h"

namespace {

constexpr size_t kAlignment = 64;

// Aligned pixel blocks. MinGW's C library has no std::aligned_alloc; the
// program's own blocks there keep freed large ones for reuse.
#if defined(_WIN32)
void* AlignedAlloc(size_t alignment, size_t size) { return AllocateBlock(size, alignment); }
void AlignedFree(void* block) { ReleaseBlock(block); }
#else
void* AlignedAlloc(size_t alignment, size_t size) { return std::aligned_alloc(alignment, size); }
void AlignedFree(void* block) { std::free(block); }
#endif

bool KnownDepth(int bitsPerComponent) {
    return BytesPerSample(bitsPerComponent) != 0;
}

bool HasPixels(const SBxPicBuf& buf) {
    return buf.pixels != nullptr && buf.width > 0 && buf.height > 0 && KnownDepth(buf.bitsPerComponent) &&
           buf.components > 0;
}

size_t RowBytes(const SBxPicBuf& buf) {
    return static_cast<size_t>(buf.width) * buf.components * BytesPerSample(buf.bitsPerComponent);
}

bool SameGeometry(const SBxPicBuf& a, const SBxPicBuf& b) {
    return a.width == b.width && a.height == b.height && a.components == b.components &&
           a.bitsPerComponent == b.bitsPerComponent;
}

bool IsColour8(const SBxPicBuf& buf) {
    return HasPixels(buf) && buf.components == 3 && buf.bitsPerComponent == 8;
}

template <typename T>
T* TypedRow(const SBxPicBuf& buf, int y) {
    return reinterpret_cast<T*>(PicRow(buf, y));
}

uint8_t ClampByte(double v) {
    if (!(v > 0.0)) return 0;  // also NaN
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v + 0.5);
}

uint16_t ClampWord(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return static_cast<uint16_t>(v + 0.5);
}

// Grey from blue, green, red with the Rec. 601 weights, per depth.
inline uint8_t Grey8(const uint8_t* p) {
    return static_cast<uint8_t>((114u * p[0] + 587u * p[1] + 299u * p[2] + 500u) / 1000u);
}
inline uint16_t Grey16(const uint16_t* p) {
    return static_cast<uint16_t>((114u * p[0] + 587u * p[1] + 299u * p[2] + 500u) / 1000u);
}
inline float Grey32(const float* p) {
    return 0.114f * p[0] + 0.587f * p[1] + 0.299f * p[2];
}

// Sample conversion between depths, in the conventions of the header.
template <typename From, typename To>
To ConvertSample(From v);
template <> inline uint8_t ConvertSample<uint8_t, uint8_t>(uint8_t v) { return v; }
template <> inline uint16_t ConvertSample<uint8_t, uint16_t>(uint8_t v) { return static_cast<uint16_t>(v * 257u); }
template <> inline float ConvertSample<uint8_t, float>(uint8_t v) { return v; }
template <> inline uint8_t ConvertSample<uint16_t, uint8_t>(uint16_t v) { return static_cast<uint8_t>((v + 128u) / 257u); }
template <> inline uint16_t ConvertSample<uint16_t, uint16_t>(uint16_t v) { return v; }
template <> inline float ConvertSample<uint16_t, float>(uint16_t v) { return v; }
template <> inline uint8_t ConvertSample<float, uint8_t>(float v) { return ClampByte(v); }
template <> inline uint16_t ConvertSample<float, uint16_t>(float v) { return ClampWord(v); }
template <> inline float ConvertSample<float, float>(float v) { return v; }

template <typename T>
T GreyOf(const T* p);
template <> inline uint8_t GreyOf<uint8_t>(const uint8_t* p) { return Grey8(p); }
template <> inline uint16_t GreyOf<uint16_t>(const uint16_t* p) { return Grey16(p); }
template <> inline float GreyOf<float>(const float* p) { return Grey32(p); }

// Calls work with a sample of the type that holds bitsPerComponent (8, 16 or
// float for anything else), so one generic lambda serves every depth.
template <typename Work>
void ForSampleType(int bitsPerComponent, Work work) {
    switch (bitsPerComponent) {
    case 8: work(uint8_t{}); break;
    case 16: work(uint16_t{}); break;
    default: work(float{}); break;
    }
}

// dst (new geometry) from src: component count first, at the source depth, then depth.
template <typename From, typename To>
void ConvertPixels(SBxPicBuf& dst, const SBxPicBuf& src) {
    const int n = src.width;
    for (int y = 0; y < src.height; ++y) {
        const From* in = TypedRow<const From>(src, y);
        To* out = TypedRow<To>(dst, y);
        if (src.components == dst.components) {
            for (int i = 0; i < n * src.components; ++i) out[i] = ConvertSample<From, To>(in[i]);
        } else if (src.components == 3 && dst.components == 1) {
            for (int x = 0; x < n; ++x) out[x] = ConvertSample<From, To>(GreyOf<From>(in + 3 * x));
        } else {  // one component to three
            for (int x = 0; x < n; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = ConvertSample<From, To>(in[x]);
        }
    }
}


template <typename T>
void ExtractSamples(SBxPicBuf& dst, int index, const SBxPicBuf& src) {
    for (int y = 0; y < src.height; ++y) {
        const T* in = TypedRow<const T>(src, y) + index;
        T* out = TypedRow<T>(dst, y);
        for (int x = 0; x < src.width; ++x) out[x] = in[static_cast<size_t>(x) * src.components];
    }
}

template <typename T>
void InsertSamples(SBxPicBuf& dst, int index, const SBxPicBuf& src) {
    for (int y = 0; y < dst.height; ++y) {
        const T* in = TypedRow<const T>(src, y);
        T* out = TypedRow<T>(dst, y) + index;
        for (int x = 0; x < dst.width; ++x) out[static_cast<size_t>(x) * dst.components] = in[x];
    }
}

// Replaces buf by converted, releasing buf's old block.
void TakeOver(SBxPicBuf& buf, PicBufHolder& converted) {
    CBxPicBufAPI::DoneHeap(buf);
    buf = converted.buf;
    CBxPicBufAPI::Init(converted.buf);
}

// Source sampling positions of one axis of an axis-aligned map: for each
// destination pixel, the source coordinate of its centre in pixel-centre
// units (source pixel i has its centre at i).
std::vector<double> SourcePositions(int count, double dstAnchor, double srcAnchor, double scale) {
    std::vector<double> positions(static_cast<size_t>(count));
    for (int d = 0; d < count; ++d) positions[static_cast<size_t>(d)] = srcAnchor + (d + 0.5 - dstAnchor) / scale - 0.5;
    return positions;
}

// A destination pixel maps inside the source when its centre falls in [0, extent) in corner units.
bool InsideSource(double centrePosition, int extent) {
    double corner = centrePosition + 0.5;
    return corner >= 0.0 && corner < extent;
}

// Range [first, last) of destination indices whose centres map inside the source.
void InsideRange(const std::vector<double>& positions, int extent, int& first, int& last) {
    first = 0;
    last = static_cast<int>(positions.size());
    while (first < last && !InsideSource(positions[static_cast<size_t>(first)], extent)) ++first;
    while (last > first && !InsideSource(positions[static_cast<size_t>(last - 1)], extent)) --last;
}

bool TransformArgumentsFit(const SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    return IsColour8(dst) && IsColour8(src) && map.scale > 0.0 && std::isfinite(map.scale);
}

// Where a transform samples: the source position of every destination
// column and row, and the destination block [x0, x1) x [y0, y1) whose
// centres map inside the source.
struct TransformFootprint {
    std::vector<double> xs, ys;
    int x0, x1, y0, y1;
    bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

TransformFootprint FootprintOf(const SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    TransformFootprint f;
    f.xs = SourcePositions(dst.width, map.dstX, map.srcX, map.scale);
    f.ys = SourcePositions(dst.height, map.dstY, map.srcY, map.scale);
    InsideRange(f.xs, src.width, f.x0, f.x1);
    InsideRange(f.ys, src.height, f.y0, f.y1);
    return f;
}

// Interpolating kernels share one driver: per axis, each destination pixel
// gets up to four source indices (clamped to the picture) and weights in
// 1/4096 units; rows are then a weighted sum of weighted sums.
struct AxisTaps {
    std::vector<int> index;   // 4 per destination pixel
    std::vector<int> weight;  // 4 per destination pixel, summing to 4096
};

template <typename Kernel>
AxisTaps BuildTaps(const std::vector<double>& positions, int first, int last, int extent, Kernel kernel) {
    AxisTaps taps;
    size_t count = static_cast<size_t>(last - first);
    taps.index.resize(count * 4);
    taps.weight.resize(count * 4);
    for (size_t k = 0; k < count; ++k) {
        double p = positions[first + k];
        double base = std::floor(p);
        double t = p - base;
        double w[4];
        kernel(t, w);
        int sum = 0;
        for (int j = 0; j < 4; ++j) {
            int i = static_cast<int>(base) - 1 + j;
            taps.index[k * 4 + j] = std::clamp(i, 0, extent - 1);
            int iw = static_cast<int>(std::lround(w[j] * 4096.0));
            taps.weight[k * 4 + j] = iw;
            sum += iw;
        }
        taps.weight[k * 4 + 1] += 4096 - sum;  // keep the exact sum, so flat areas stay flat
    }
    return taps;
}

void BilinearKernel(double t, double* w) {
    w[0] = 0.0;
    w[1] = 1.0 - t;
    w[2] = t;
    w[3] = 0.0;
}

// Catmull-Rom (a = -0.5).
void BicubicKernel(double t, double* w) {
    double t2 = t * t, t3 = t2 * t;
    w[0] = -0.5 * t3 + t2 - 0.5 * t;
    w[1] = 1.5 * t3 - 2.5 * t2 + 1.0;
    w[2] = -1.5 * t3 + 2.0 * t2 + 0.5 * t;
    w[3] = 0.5 * t3 - 0.5 * t2;
}

// kTaps is 2 (bilinear: the middle two taps) or 4 (bicubic).
template <int kTaps, typename Kernel>
bool TransformInterpolated(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map, Kernel kernel) {
    if (!TransformArgumentsFit(dst, src, map)) return false;
    const TransformFootprint f = FootprintOf(dst, src, map);
    if (f.Empty()) return true;
    const int x0 = f.x0, x1 = f.x1, y0 = f.y0, y1 = f.y1;
    AxisTaps tx = BuildTaps(f.xs, x0, x1, src.width, kernel);
    AxisTaps ty = BuildTaps(f.ys, y0, y1, src.height, kernel);
    constexpr int firstTap = kTaps == 4 ? 0 : 1, lastTap = firstTap + kTaps;
    const size_t columns = static_cast<size_t>(x1 - x0);

    // Horizontal passes of source rows, each computed once: zoomed in, many
    // destination rows blend the same few source rows. Rows are asked for in
    // increasing order, so the lowest cached row is the one to drop.
    std::vector<int32_t> passes[4];
    int passRow[4] = {-1, -1, -1, -1};
    auto horizontalPass = [&](int sourceRow) -> const int32_t* {
        int slot = 0;
        for (int s = 0; s < 4; ++s) {
            if (passRow[s] == sourceRow) return passes[s].data();
            if (passRow[s] < passRow[slot]) slot = s;
        }
        passes[slot].resize(columns * 3);
        int32_t* out = passes[slot].data();
        const uint8_t* row = PicRow(src, sourceRow);
        for (size_t k = 0; k < columns; ++k) {
            int32_t b = 0, g = 0, r = 0;
            for (int i = firstTap; i < lastTap; ++i) {
                const uint8_t* p = row + 3 * static_cast<size_t>(tx.index[k * 4 + i]);
                int wx = tx.weight[k * 4 + i];
                b += wx * p[0];
                g += wx * p[1];
                r += wx * p[2];
            }
            // Rows are weighted on a 4096 scale too; drop 12 bits here to stay within 32 bits.
            out[k * 3] = (b + 2048) >> 12;
            out[k * 3 + 1] = (g + 2048) >> 12;
            out[k * 3 + 2] = (r + 2048) >> 12;
        }
        passRow[slot] = sourceRow;
        return out;
    };

    const size_t samples = columns * 3;
    for (int y = y0; y < y1; ++y) {
        size_t ky = static_cast<size_t>(y - y0) * 4;
        const int32_t* rows[4];
        int weights[4];
        int used = 0;
        for (int j = firstTap; j < lastTap; ++j) {
            if (ty.weight[ky + j] == 0) continue;
            weights[used] = ty.weight[ky + j];
            rows[used++] = horizontalPass(ty.index[ky + j]);
        }
        uint8_t* out = PicRow(dst, y) + 3 * static_cast<size_t>(x0);
        // One or two rows are the common cases; spelling them out lets the compiler vectorise.
        if (used == 1) {
            const int32_t* a = rows[0];
            const int wa = weights[0];
            for (size_t i = 0; i < samples; ++i)
                out[i] = static_cast<uint8_t>(std::clamp((wa * a[i] + 2048) >> 12, 0, 255));
        } else if (used == 2) {
            const int32_t *a = rows[0], *b = rows[1];
            const int wa = weights[0], wb = weights[1];
            for (size_t i = 0; i < samples; ++i)
                out[i] = static_cast<uint8_t>(std::clamp((wa * a[i] + wb * b[i] + 2048) >> 12, 0, 255));
        } else {
            for (size_t i = 0; i < samples; ++i) {
                int32_t sum = 0;
                for (int k = 0; k < used; ++k) sum += weights[k] * rows[k][i];
                out[i] = static_cast<uint8_t>(std::clamp((sum + 2048) >> 12, 0, 255));
            }
        }
    }
    return true;
}

}  // namespace

int BytesPerSample(int bitsPerComponent) {
    switch (bitsPerComponent) {
    case 8: return 1;
    case 16: return 2;
    case 32: return 4;
    default: return 0;
    }
}

bool CBxPicBufAPI::Init(SBxPicBuf& buf) {
    buf = SBxPicBuf{nullptr, 0, 0, 0, 0, 0, 0};
    return true;
}

bool CBxPicBufAPI::ReinitHeap(SBxPicBuf& buf, int width, int height, int components, int bitsPerComponent) {
    const int bytes = BytesPerSample(bitsPerComponent);
    // Sizes are checked in 64 bits before anything is allocated: a block
    // that does not fit the 32-bit size field would be silently cut short.
    int64_t pitch = static_cast<int64_t>(width) * components * bytes;
    int64_t size = pitch * height;
    bool fits = width >= 0 && height >= 0 && components >= 1 && components <= 4 && bytes != 0 && pitch <= INT32_MAX &&
                size <= INT32_MAX;
    if (fits && buf.pixels && buf.size == size && size > 0) {
        // Same block size: keep the allocation, only the geometry changes.
        buf.pitch = static_cast<int32_t>(pitch);
        buf.width = width;
        buf.height = height;
        buf.components = components;
        buf.bitsPerComponent = bitsPerComponent;
        return true;
    }
    DoneHeap(buf);
    if (!fits) return false;
    uint8_t* pixels = nullptr;
    if (size > 0) {
        size_t rounded = (static_cast<size_t>(size) + kAlignment - 1) / kAlignment * kAlignment;
        pixels = static_cast<uint8_t*>(AlignedAlloc(kAlignment, rounded));
        if (!pixels) return false;
    }
    buf = SBxPicBuf{pixels,
                    static_cast<int32_t>(size),
                    static_cast<int32_t>(pitch),
                    width,
                    height,
                    components,
                    bitsPerComponent};
    return size == 0 || pixels != nullptr;
}

bool CBxPicBufAPI::ReinitHeap(SBxPicBuf& dst, const SBxPicBuf& like) {
    if (&dst == &like) return true;
    return ReinitHeap(dst, like.width, like.height, like.components, like.bitsPerComponent);
}

bool CBxPicBufAPI::DoneHeap(SBxPicBuf& buf) {
    AlignedFree(buf.pixels);
    return Init(buf);
}

bool CBxPicBufAPI::Copy(SBxPicBuf& dst, const SBxPicBuf& src) {
    if (!HasPixels(src) || !HasPixels(dst) || !SameGeometry(dst, src)) return false;
    if (&dst == &src || dst.pixels == src.pixels) return true;
    const size_t rowBytes = RowBytes(src);
    if (dst.pitch == src.pitch && static_cast<size_t>(src.pitch) == rowBytes) {
        std::memcpy(dst.pixels, src.pixels, rowBytes * src.height);
        return true;
    }
    for (int y = 0; y < src.height; ++y) std::memcpy(PicRow(dst, y), PicRow(src, y), rowBytes);
    return true;
}

bool CBxPicBufAPI::Copy(SBxPicBuf& dst, const SBxPicBuf& src, const CBxRect& rect) {
    if (dst.width != rect.right - rect.left || dst.height != rect.bottom - rect.top) return false;
    return CopyRect(dst, src, CBxPoint{0, 0}, CBxPoint{rect.left, rect.top},
                    CBxSize{rect.right - rect.left, rect.bottom - rect.top});
}

bool CBxPicBufAPI::CopyRect(SBxPicBuf& dst, const SBxPicBuf& src, CBxPoint dstOrigin, CBxPoint srcOrigin,
                            CBxSize size) {
    if (!HasPixels(src) || !HasPixels(dst) || src.components != dst.components ||
        src.bitsPerComponent != dst.bitsPerComponent)
        return false;
    // Clip the block to both pictures, moving both origins together.
    int64_t sx = srcOrigin.x, sy = srcOrigin.y, dx = dstOrigin.x, dy = dstOrigin.y;
    int64_t w = size.width, h = size.height;
    int64_t shiftX = std::max<int64_t>({0, -sx, -dx});
    int64_t shiftY = std::max<int64_t>({0, -sy, -dy});
    sx += shiftX, dx += shiftX, w -= shiftX;
    sy += shiftY, dy += shiftY, h -= shiftY;
    w = std::min({w, src.width - sx, dst.width - dx});
    h = std::min({h, src.height - sy, dst.height - dy});
    if (w <= 0 || h <= 0) return true;
    const size_t pixelBytes = static_cast<size_t>(src.components) * BytesPerSample(src.bitsPerComponent);
    const size_t bytes = static_cast<size_t>(w) * pixelBytes;
    // Within one picture the rows may overlap: walk them in the safe order.
    bool upward = dst.pixels == src.pixels && dy > sy;
    for (int64_t k = 0; k < h; ++k) {
        int64_t row = upward ? h - 1 - k : k;
        std::memmove(PicRow(dst, static_cast<int>(dy + row)) + dx * pixelBytes,
                     PicRow(src, static_cast<int>(sy + row)) + sx * pixelBytes, bytes);
    }
    return true;
}

bool CBxPicBufAPI::ExtractComponent(SBxPicBuf& dst, int index, const SBxPicBuf& src) {
    if (!HasPixels(src) || index < 0 || index >= src.components || &dst == &src) return false;
    if (!(HasPixels(dst) && dst.components == 1 && dst.width == src.width && dst.height == src.height &&
          dst.bitsPerComponent == src.bitsPerComponent) &&
        !ReinitHeap(dst, src.width, src.height, 1, src.bitsPerComponent))
        return false;
    ForSampleType(src.bitsPerComponent, [&](auto sample) { ExtractSamples<decltype(sample)>(dst, index, src); });
    return true;
}

bool CBxPicBufAPI::InsertComponent(SBxPicBuf& dst, int index, const SBxPicBuf& src) {
    if (!HasPixels(dst) || !HasPixels(src) || index < 0 || index >= dst.components || src.components != 1 ||
        src.width != dst.width || src.height != dst.height || src.bitsPerComponent != dst.bitsPerComponent ||
        &dst == &src)
        return false;
    ForSampleType(dst.bitsPerComponent, [&](auto sample) { InsertSamples<decltype(sample)>(dst, index, src); });
    return true;
}

bool CBxPicBufAPI::ConvertBpcComp(SBxPicBuf& buf, int bitsPerComponent, int components) {
    if (!HasPixels(buf) || !KnownDepth(bitsPerComponent) || (components != 1 && components != 3)) return false;
    if (buf.components != components && buf.components != 1 && buf.components != 3) return false;
    if (buf.bitsPerComponent == bitsPerComponent && buf.components == components) return true;
    PicBufHolder converted;
    if (!ReinitHeap(converted.buf, buf.width, buf.height, components, bitsPerComponent)) return false;
    ForSampleType(buf.bitsPerComponent, [&](auto from) {
        ForSampleType(bitsPerComponent, [&](auto to) {
            ConvertPixels<decltype(from), decltype(to)>(converted.buf, buf);
        });
    });
    TakeOver(buf, converted);
    return true;
}

bool CBxPicBufAPI::ConvertRGBtoYUV(SBxPicBuf& dst, const SBxPicBuf& src) {
    if (!IsColour8(src)) return false;
    PicBufHolder yuv;
    if (!ReinitHeap(yuv.buf, src.width, src.height, 3, 16)) return false;
    for (int y = 0; y < src.height; ++y) {
        const uint8_t* in = PicRow(src, y);
        uint16_t* out = TypedRow<uint16_t>(yuv.buf, y);
        for (int x = 0; x < src.width; ++x, in += 3, out += 3) {
            double b = in[0], g = in[1], r = in[2];
            double luma = 0.299 * r + 0.587 * g + 0.114 * b;
            out[0] = ClampWord(256.0 * luma);
            out[1] = ClampWord(256.0 * (b - luma) / 1.772 + 32768.0);
            out[2] = ClampWord(256.0 * (r - luma) / 1.402 + 32768.0);
        }
    }
    TakeOver(dst, yuv);
    return true;
}

bool CBxPicBufAPI::ConvertYUVtoRGB(SBxPicBuf& dst, const SBxPicBuf& src) {
    if (!HasPixels(src) || src.components != 3 || src.bitsPerComponent != 16) return false;
    PicBufHolder rgb;
    if (!ReinitHeap(rgb.buf, src.width, src.height, 3, 8)) return false;
    for (int y = 0; y < src.height; ++y) {
        const uint16_t* in = TypedRow<const uint16_t>(src, y);
        uint8_t* out = PicRow(rgb.buf, y);
        for (int x = 0; x < src.width; ++x, in += 3, out += 3) {
            double luma = in[0] / 256.0;
            double cb = (in[1] - 32768.0) / 256.0;
            double cr = (in[2] - 32768.0) / 256.0;
            double r = luma + 1.402 * cr;
            double b = luma + 1.772 * cb;
            double g = (luma - 0.299 * r - 0.114 * b) / 0.587;
            out[0] = ClampByte(b);
            out[1] = ClampByte(g);
            out[2] = ClampByte(r);
        }
    }
    // A picture that already has the right geometry keeps its own block.
    if (&dst != &src && HasPixels(dst) && SameGeometry(dst, rgb.buf)) return Copy(dst, rgb.buf);
    TakeOver(dst, rgb);
    return true;
}

bool CBxPicBufAPI::SetConst(SBxPicBuf& buf, const CBxRect& rect, uint8_t value) {
    if (!HasPixels(buf)) return false;
    int left = std::max(rect.left, 0), top = std::max(rect.top, 0);
    int right = std::min(rect.right, buf.width), bottom = std::min(rect.bottom, buf.height);
    if (left >= right || top >= bottom) return true;
    const size_t pixelBytes = static_cast<size_t>(buf.components) * BytesPerSample(buf.bitsPerComponent);
    for (int y = top; y < bottom; ++y)
        std::memset(PicRow(buf, y) + left * pixelBytes, value, (right - left) * pixelBytes);
    return true;
}

bool CBxPicBufAPI::TransformConstantFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    if (!TransformArgumentsFit(dst, src, map)) return false;
    const TransformFootprint f = FootprintOf(dst, src, map);
    if (f.Empty()) return true;
    std::vector<size_t> offsets;
    offsets.reserve(static_cast<size_t>(f.x1 - f.x0));
    for (int x = f.x0; x < f.x1; ++x) {
        int sx = std::clamp(static_cast<int>(std::floor(f.xs[x] + 0.5)), 0, src.width - 1);
        offsets.push_back(3 * static_cast<size_t>(sx));
    }
    const int x0 = f.x0;
    for (int y = f.y0; y < f.y1; ++y) {
        int sy = std::clamp(static_cast<int>(std::floor(f.ys[y] + 0.5)), 0, src.height - 1);
        const uint8_t* in = PicRow(src, sy);
        uint8_t* out = PicRow(dst, y) + 3 * static_cast<size_t>(x0);
        for (size_t k = 0; k < offsets.size(); ++k, out += 3) {
            const uint8_t* p = in + offsets[k];
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
        }
    }
    return true;
}

bool CBxPicBufAPI::TransformBilinearFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    return TransformInterpolated<2>(dst, src, map, BilinearKernel);
}

bool CBxPicBufAPI::TransformBicubicFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    return TransformInterpolated<4>(dst, src, map, BicubicKernel);
}

CBxPicMap::CBxPicMap() : CBxPicMap(0.0, 0.0, 0.0, 0.0, 0.0, 1.0) {}

CBxPicMap::CBxPicMap(double dstX_, double dstY_, double srcX_, double srcY_, double angle_, double scale_) {
    Compute(dstX_, dstY_, srcX_, srcY_, angle_, scale_);
}

void CBxPicMap::Compute(double dstX_, double dstY_, double srcX_, double srcY_, double angle_, double scale_) {
    dstX = dstX_;
    dstY = dstY_;
    srcX = srcX_;
    srcY = srcY_;
    angle = angle_;
    scale = scale_;
}

void CBxPicMap::MapPointSrcToDst(int& xOut, int& yOut, double x, double y) const {
    xOut = static_cast<int>(std::floor(dstX + scale * (x - srcX) + 0.5));
    yOut = static_cast<int>(std::floor(dstY + scale * (y - srcY) + 0.5));
}

void CBxPicMap::MapPointDstToSrc(double& xOut, double& yOut, int x, int y) const {
    double s = scale != 0.0 ? scale : 1.0;
    xOut = srcX + (x - dstX) / s;
    yOut = srcY + (y - dstY) / s;
}
