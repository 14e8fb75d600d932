// Conversion between FreeImage bitmaps and picture buffers, for the image
// file layer and its tests. Internal to the core: the Win32 half never
// includes this header (FreeImage's type names clash with Wine's headers).
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <filesystem>
#include <memory>

#include "image_file.h"
#include "picbuf.h"

// Starts FreeImage once for the process (shut down at exit) and keeps its
// own messages, and libtiff's, off stderr: callers report failures themselves.
void EnsureFreeImage();

struct FreeImageUnloader {
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
// Owns a FreeImage bitmap for one scope.
using BitmapHolder = std::unique_ptr<FIBITMAP, FreeImageUnloader>;

// What LoadPicture keeps of an opened file (see image_file.h). Tests empty
// `kept` to stand for metadata that could not be kept.
struct PictureMetadata {
    BitmapHolder kept;  // one pixel with the metadata, resolution and ICC profile; null when not kept
    std::filesystem::path source;
    bool stamped = false;  // size and time were read when the file was opened
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time;
};

// Components and bits per component of the picture buffer that holds bitmap:
// 8-bit grey or colour standard bitmaps, unsigned 16-bit grey (FIT_UINT16)
// and 16-bit colour (FIT_RGB16). False for palette and CMYK pictures, alpha,
// and every other layout. Works on header-only bitmaps too.
bool PictureLayoutOf(FIBITMAP* bitmap, int& components, int& bitsPerComponent);

// True when a picture of the bitmap's width, height and bits per pixel fits
// a picture buffer (its byte count fits the 32-bit `size`). Works on
// header-only bitmaps, so a huge picture is refused before it is decoded.
bool GeometryFitsPictureBuffer(FIBITMAP* bitmap);

// Bitmap to picture buffer. picture (initialised) is reallocated to hold the
// bitmap's pixels, colour in blue, green, red order at 8 and 16 bits, rows
// top-down. False, with picture empty, for no bitmap, a header-only bitmap,
// a layout PictureLayoutOf refuses, or a picture the buffer cannot hold.
bool Import(FIBITMAP* bitmap, SBxPicBuf& picture);

// Picture buffer (1 or 3 components of 8 or 16 bits) to a new bitmap:
// FIT_BITMAP with a grey palette or 24 bits, FIT_UINT16, or FIT_RGB16.
// Null when the picture cannot be exported or memory is short. The caller
// unloads the bitmap.
FIBITMAP* Export(const SBxPicBuf& picture);
