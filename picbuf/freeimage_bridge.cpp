#include "freeimage_bridge.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <utility>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {

void IgnoreFreeImageMessage(FREE_IMAGE_FORMAT, const char*) {}

#if !defined(_WIN32)
// Debian's FreeImage uses the system libtiff, whose default handlers print
// every warning (even "unknown tag" notes for ordinary EXIF TIFFs) to stderr
// and which FreeImage does not route through its own message callback.
// libtiff is loaded with FreeImage, so its handlers are found at run time
// rather than linking libtiff for two calls.
void SilenceLibTiff() {
    using TiffHandler = void (*)(const char*, const char*, va_list);
    using SetTiffHandler = TiffHandler (*)(TiffHandler);
    for (const char* name : {"TIFFSetErrorHandler", "TIFFSetWarningHandler"}) {
        if (void* symbol = dlsym(RTLD_DEFAULT, name)) reinterpret_cast<SetTiffHandler>(symbol)(nullptr);
    }
}
#else
// FreeImage's own build of libtiff on Windows keeps quiet already.
void SilenceLibTiff() {}
#endif

struct FreeImageSession {
    FreeImageSession() {
        FreeImage_Initialise(FALSE);
        FreeImage_SetOutputMessage(IgnoreFreeImageMessage);
        SilenceLibTiff();
    }
    ~FreeImageSession() { FreeImage_DeInitialise(); }
};

// FreeImage is started with the program, before anything opens a file.
[[maybe_unused]] const bool freeImageStartedAtLoad = (EnsureFreeImage(), true);

}  // namespace

void EnsureFreeImage() {
    static FreeImageSession session;
}

bool PictureLayoutOf(FIBITMAP* bitmap, int& components, int& bitsPerComponent) {
    if (!bitmap) return false;
    const FREE_IMAGE_COLOR_TYPE colorType = FreeImage_GetColorType(bitmap);
    if (colorType == FIC_PALETTE || colorType == FIC_CMYK) return false;
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
    if (type != FIT_BITMAP && type != FIT_UINT16 && type != FIT_RGB16) return false;
    const unsigned bitsPerPixel = FreeImage_GetBPP(bitmap);
    const unsigned count = (type == FIT_UINT16 || type == FIT_RGB16) ? bitsPerPixel / 16 : bitsPerPixel / 8;
    if (count != 1 && count != 3) return false;
    const unsigned depth = bitsPerPixel / count;
    if (depth != 8 && depth != 16) return false;
    components = static_cast<int>(count);
    bitsPerComponent = static_cast<int>(depth);
    return true;
}

bool GeometryFitsPictureBuffer(FIBITMAP* bitmap) {
    if (!bitmap) return false;
    const uint64_t width = FreeImage_GetWidth(bitmap);
    const uint64_t height = FreeImage_GetHeight(bitmap);
    const uint64_t rowBytes = (width * FreeImage_GetBPP(bitmap) + 7) / 8;
    return width > 0 && height > 0 && rowBytes * height <= static_cast<uint64_t>(INT32_MAX);
}

bool Import(FIBITMAP* bitmap, SBxPicBuf& picture) {
    EnsureFreeImage();
    int components = 0;
    int bitsPerComponent = 0;
    if (!PictureLayoutOf(bitmap, components, bitsPerComponent) || !FreeImage_HasPixels(bitmap) ||
        !GeometryFitsPictureBuffer(bitmap)) {
        CBxPicBufAPI::DoneHeap(picture);
        return false;
    }
    const int width = static_cast<int>(FreeImage_GetWidth(bitmap));
    const int height = static_cast<int>(FreeImage_GetHeight(bitmap));
    CBxPicBufAPI::ReinitHeap(picture, width, height, components, bitsPerComponent);
    // The copy writes FreeImage_GetLine bytes into each of the buffer's rows.
    if (!picture.pixels || picture.width != width || picture.height != height ||
        picture.pitch < static_cast<int64_t>(FreeImage_GetLine(bitmap))) {
        CBxPicBufAPI::DoneHeap(picture);
        return false;
    }

    FreeImage_ConvertToRawBits(picture.pixels, bitmap, picture.pitch, FreeImage_GetBPP(bitmap),
                               FreeImage_GetRedMask(bitmap), FreeImage_GetGreenMask(bitmap),
                               FreeImage_GetBlueMask(bitmap), TRUE);

    if (bitsPerComponent == 8 && components == 1 && FreeImage_GetColorType(bitmap) == FIC_MINISWHITE) {
        // The samples index a falling grey ramp (0 is white): take the grey values.
        for (int y = 0; y < height; ++y) {
            uint8_t* row = PicRow(picture, y);
            for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(255 - row[x]);
        }
    }
    if (bitsPerComponent == 16 && components == 3) {
        // FIT_RGB16 keeps red first on every platform; buffers keep blue first.
        for (int y = 0; y < height; ++y) {
            uint16_t* row = reinterpret_cast<uint16_t*>(PicRow(picture, y));
            for (int x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
        }
    }
    return true;
}

FIBITMAP* Export(const SBxPicBuf& picture) {
    EnsureFreeImage();
    if (!picture.pixels || picture.width <= 0 || picture.height <= 0) return nullptr;
    if (picture.components != 1 && picture.components != 3) return nullptr;
    if (picture.bitsPerComponent != 8 && picture.bitsPerComponent != 16) return nullptr;
    const size_t rowBytes =
        static_cast<size_t>(picture.width) * picture.components * BytesPerSample(picture.bitsPerComponent);
    if (picture.pitch < 0 || static_cast<size_t>(picture.pitch) < rowBytes) return nullptr;

    FREE_IMAGE_TYPE type = FIT_BITMAP;
    if (picture.bitsPerComponent == 16) type = picture.components == 1 ? FIT_UINT16 : FIT_RGB16;
    // An 8-bit standard bitmap comes with a rising grey palette, so grey saves as grey.
    FIBITMAP* bitmap = FreeImage_AllocateT(type, picture.width, picture.height,
                                           picture.components * picture.bitsPerComponent, 0, 0, 0);
    if (!bitmap) return nullptr;

    const bool colour16 = picture.bitsPerComponent == 16 && picture.components == 3;
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* source = PicRow(picture, y);
        uint8_t* line = FreeImage_GetScanLine(bitmap, picture.height - 1 - y);  // FreeImage rows run bottom-up
        if (!colour16) {
            std::memcpy(line, source, rowBytes);
            continue;
        }
        const uint16_t* from = reinterpret_cast<const uint16_t*>(source);
        uint16_t* to = reinterpret_cast<uint16_t*>(line);
        for (int x = 0; x < picture.width; ++x) {
            to[3 * x] = from[3 * x + 2];
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x];
        }
    }
    return bitmap;
}
