// What the repaint engines share: the allocation that throws when memory is
// short, the check that a result fits its source, and the grid of
// overlapping tiles that large pictures are cut into.
#pragma once

#include <algorithm>
#include <new>
#include <vector>

#include "picbuf/picbuf.h"

// Picture buffer operations report a short memory by leaving pixels null;
// the engines turn that into the exception their callers already handle for
// CImg's own allocations, rather than going on with a half-made picture.
inline void AllocatePicture(SBxPicBuf& buf, int width, int height, int components, int bitsPerComponent) {
    if (!CBxPicBufAPI::ReinitHeap(buf, width, height, components, bitsPerComponent) ||
        (!buf.pixels && width > 0 && height > 0))
        throw std::bad_alloc();
}

inline void AllocatePictureLike(SBxPicBuf& buf, const SBxPicBuf& like) {
    AllocatePicture(buf, like.width, like.height, like.components, like.bitsPerComponent);
}

inline bool HasSamples(const SBxPicBuf& buf) {
    return buf.pixels && buf.width > 0 && buf.height > 0;
}

// A source with samples and a result of its width, height, components and
// depth: an engine leaves any other result untouched.
inline bool ResultFits(const SBxPicBuf& result, const SBxPicBuf& source) {
    return HasSamples(source) && result.pixels && result.width == source.width && result.height == source.height &&
           result.components == source.components && result.bitsPerComponent == source.bitsPerComponent;
}

// Pictures narrower or lower than this are processed whole; larger ones in
// width / 500 x height / 500 tiles.
constexpr int kRepaintTileSize = 500;

inline bool ProcessedWhole(int width, int height) {
    return width < kRepaintTileSize || height < kRepaintTileSize;
}

// Tiles a picture of this size is processed in (1 when it is processed whole).
inline int RepaintTileCount(int width, int height) {
    if (ProcessedWhole(width, height)) return 1;
    return (width / kRepaintTileSize) * (height / kRepaintTileSize);
}

// One tile: the rectangle it stands for and the larger one, with `margin`
// pixels of context on each side clipped to the picture, that is processed.
struct RepaintTile {
    CBxRect inner;
    CBxRect outer;
};

// The tiles row by row, in steps of (size + 1) / count pixels; the inner
// rectangles cover the picture exactly once. A picture processed whole is
// one tile.
inline std::vector<RepaintTile> RepaintTileGrid(int width, int height, int margin) {
    if (ProcessedWhole(width, height)) return {RepaintTile{{0, 0, width, height}, {0, 0, width, height}}};
    const int nx = width / kRepaintTileSize, ny = height / kRepaintTileSize;
    const double stepX = (width + 1.0) / nx, stepY = (height + 1.0) / ny;
    std::vector<RepaintTile> tiles;
    tiles.reserve(static_cast<size_t>(nx) * ny);
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            RepaintTile tile;
            tile.inner.left = static_cast<int>(i * stepX);
            tile.inner.right = static_cast<int>(std::min((i + 1) * stepX, static_cast<double>(width)));
            tile.inner.top = static_cast<int>(j * stepY);
            tile.inner.bottom = static_cast<int>(std::min((j + 1) * stepY, static_cast<double>(height)));
            tile.outer.left = std::max(tile.inner.left - margin, 0);
            tile.outer.right = std::min(tile.inner.right + margin, width);
            tile.outer.top = std::max(tile.inner.top - margin, 0);
            tile.outer.bottom = std::min(tile.inner.bottom + margin, height);
            tiles.push_back(tile);
        }
    }
    return tiles;
}
