// Picture buffers: the record every part of Ostrivel keeps pixels in, integer
// geometry, the operations on buffers and the map between picture pixels and
// window pixels.
//
// Conventions of this library (one line each):
// - Depths: 8 = unsigned byte, 16 = unsigned 16-bit, 32 = 32-bit float; 1 component (grey) or 3 (blue, green, red).
// - Allocated blocks are packed (pitch = width * components * bytes) and 64-byte aligned; a hand-filled record may have any pitch.
// - A geometry whose byte count does not fit the 32-bit `size`, or a negative dimension, is refused: `pixels` stays null.
// - Float samples hold the raw sample value they were converted from (an 8-bit 200 becomes 200.0f); nothing is scaled to 0..1.
// - Float to integer conversion rounds to nearest and clamps to the target's range.
// - 8 to 16 bits multiplies by 257 (0 -> 0, 255 -> 65535); 16 to 8 bits rounds v / 257.
// - Grey from colour uses the Rec. 601 weights 0.299 R + 0.587 G + 0.114 B, rounded to nearest; grey to colour repeats the grey value.
// - Luma/chroma form: full-range Rec. 601 YCbCr kept at 16 bits per component so that the round trip is exact (no 8-bit
//   matrix can be, since 8-bit YCbCr maps many colours onto one code): component 0 = luma x 256 (0..65280),
//   1 = Cb x 256 + 32768, 2 = Cr x 256 + 32768, each rounded to nearest; the inverse rounds and clamps to 0..255.
// - Map: pixel (i, j) covers [i, i + 1) x [j, j + 1); its centre is (i + 0.5, j + 0.5); forward mapping rounds to the nearest whole pixel.
// - Transforms sample the source at the centre of each destination pixel; bilinear and bicubic (Catmull-Rom) clamp at the picture's edges.
// - Every operation returns false and leaves its output untouched when its arguments do not fit (empty, wrong depth, mismatched geometry).
#pragma once

#include <cstdint>

struct SBxPicBuf {
    uint8_t* pixels;          // first byte of the top row; null means empty
    int32_t size;             // bytes in the pixel block
    int32_t pitch;            // bytes from one row to the next
    int32_t width;
    int32_t height;
    int32_t components;       // 1 or 3 (blue, green, red)
    int32_t bitsPerComponent; // 8, 16 or 32 (float)
};

struct CBxPoint {
    int x;
    int y;
};

struct CBxSize {
    int width;
    int height;
};

// Right and bottom are exclusive.
struct CBxRect {
    int left;
    int top;
    int right;
    int bottom;
};

// Bytes of one sample at a depth (8 -> 1, 16 -> 2, 32 -> 4), 0 for an unknown depth.
int BytesPerSample(int bitsPerComponent);

// Rows of a buffer as typed pointers; the caller has checked the depth.
inline uint8_t* PicRow(const SBxPicBuf& buf, int y) {
    return buf.pixels + static_cast<intptr_t>(y) * buf.pitch;
}

class CBxPicMap;

class CBxPicBufAPI {
public:
    static bool Init(SBxPicBuf& buf);
    static bool ReinitHeap(SBxPicBuf& buf, int width, int height, int components, int bitsPerComponent);
    static bool ReinitHeap(SBxPicBuf& dst, const SBxPicBuf& like);
    static bool DoneHeap(SBxPicBuf& buf);

    // dst must already have src's width, height, components and depth.
    static bool Copy(SBxPicBuf& dst, const SBxPicBuf& src);
    // The rect of src into dst, which has the rect's size and src's components and depth.
    static bool Copy(SBxPicBuf& dst, const SBxPicBuf& src, const CBxRect& rect);
    // The block of `size` at srcOrigin of src to dstOrigin of dst, clipped to both buffers.
    static bool CopyRect(SBxPicBuf& dst, const SBxPicBuf& src, CBxPoint dstOrigin, CBxPoint srcOrigin, CBxSize size);

    // dst becomes a one-component picture of src's size and depth holding component index of src
    // (reallocated when it does not have that geometry already).
    static bool ExtractComponent(SBxPicBuf& dst, int index, const SBxPicBuf& src);
    // Component index of dst is replaced by the one-component src of dst's size and depth.
    static bool InsertComponent(SBxPicBuf& dst, int index, const SBxPicBuf& src);

    // In place: changes depth and component count (the buffer is reallocated when its size changes).
    static bool ConvertBpcComp(SBxPicBuf& buf, int bitsPerComponent, int components);

    // 8-bit colour to the 16-bit luma/chroma form and back; dst is (re)allocated with the right
    // depth; dst may be src.
    static bool ConvertRGBtoYUV(SBxPicBuf& dst, const SBxPicBuf& src);
    static bool ConvertYUVtoRGB(SBxPicBuf& dst, const SBxPicBuf& src);

    // Every byte of the pixels in rect (clipped to the buffer) becomes value.
    static bool SetConst(SBxPicBuf& buf, const CBxRect& rect, uint8_t value);

    // Each dst pixel whose centre maps inside src takes src sampled there; the others keep their value.
    // Both pictures are 8-bit with 3 components.
    static bool TransformConstantFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map);
    static bool TransformBilinearFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map);
    static bool TransformBicubicFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map);
};

// Map between picture pixels (source) and window pixels (destination):
// destination = (dstX, dstY) + scale * (source - (srcX, srcY)).
class CBxPicMap {
public:
    CBxPicMap();
    CBxPicMap(double dstX, double dstY, double srcX, double srcY, double angle, double scale);
    // angle is always 0.0: the map never rotates.
    void Compute(double dstX, double dstY, double srcX, double srcY, double angle, double scale);

    // Source coordinates to the nearest whole destination pixel.
    void MapPointSrcToDst(int& xOut, int& yOut, double x, double y) const;
    // Destination coordinates back to source coordinates.
    void MapPointDstToSrc(double& xOut, double& yOut, int x, int y) const;

    double dstX;
    double dstY;
    double srcX;
    double srcY;
    double angle;
    double scale;
};

// Owns a picture buffer for one scope: Init on construction, DoneHeap on every path out.
class PicBufHolder {
public:
    PicBufHolder() { CBxPicBufAPI::Init(buf); }
    ~PicBufHolder() { CBxPicBufAPI::DoneHeap(buf); }
    PicBufHolder(const PicBufHolder&) = delete;
    PicBufHolder& operator=(const PicBufHolder&) = delete;
    SBxPicBuf* operator->() { return &buf; }
    const SBxPicBuf* operator->() const { return &buf; }
    SBxPicBuf buf;
};
