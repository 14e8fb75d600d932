#include "image_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>
#include <random>
#include <vector>

#include "freeimage_bridge.h"
#include "png_profile.h"

#if defined(_WIN32) && !defined(__WINE__)
#include <io.h>
#else
#include <unistd.h>
#endif

int jpegQuality = 95;

namespace {

// The narrow FreeImage calls take UTF-8 paths on Linux; their wide twins do
// nothing there, but are the only way to reach every name on Windows.
#if defined(_WIN32) && !defined(__WINE__)
FREE_IMAGE_FORMAT FormatByContent(const PicPathChar* path) { return FreeImage_GetFileTypeU(path, 0); }
FREE_IMAGE_FORMAT FormatByName(const PicPathChar* path) { return FreeImage_GetFIFFromFilenameU(path); }
FIBITMAP* LoadFile(FREE_IMAGE_FORMAT format, const PicPathChar* path, int flags) {
    return FreeImage_LoadU(format, path, flags);
}
std::string PathText(const PicPathChar* path) { return std::filesystem::path(path).u8string(); }
FILE* CreateNewFile(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"w+bx"); }
bool FlushToDisk(FILE* file) { return _commit(_fileno(file)) == 0; }
#else
FREE_IMAGE_FORMAT FormatByContent(const PicPathChar* path) { return FreeImage_GetFileType(path, 0); }
FREE_IMAGE_FORMAT FormatByName(const PicPathChar* path) { return FreeImage_GetFIFFromFilename(path); }
FIBITMAP* LoadFile(FREE_IMAGE_FORMAT format, const PicPathChar* path, int flags) {
    return FreeImage_Load(format, path, flags);
}
std::string PathText(const PicPathChar* path) { return path; }
FILE* CreateNewFile(const std::filesystem::path& path) { return std::fopen(path.c_str(), "w+bx"); }
bool FlushToDisk(FILE* file) { return fsync(fileno(file)) == 0; }
#endif

bool IsEmpty(const PicPathChar* path) { return !path || !path[0]; }

// What the file is, by its first bytes, else by its name's extension.
FREE_IMAGE_FORMAT FormatOfFile(const PicPathChar* path) {
    FREE_IMAGE_FORMAT format = FormatByContent(path);
    return format != FIF_UNKNOWN ? format : FormatByName(path);
}

int PictureLoadFlags(FREE_IMAGE_FORMAT format) {
    // CMYK JPEG and TIFF files stay CMYK, so they are refused rather than
    // turned into RGB by FreeImage's naive conversion.
    if (format == FIF_JPEG) return JPEG_ACCURATE | JPEG_CMYK;
    if (format == FIF_TIFF) return TIFF_CMYK;
    return 0;
}

FREE_IMAGE_FORMAT FormatForIndex(int formatIndex, const PicPathChar* target) {
    switch (formatIndex) {
    case SaveFormatByName: return IsEmpty(target) ? FIF_UNKNOWN : FormatByName(target);
    case SaveFormatBmp: return FIF_BMP;
    case SaveFormatTiff: return FIF_TIFF;
    case SaveFormatPng: return FIF_PNG;
    case SaveFormatJpeg: return FIF_JPEG;
    default: return FIF_UNKNOWN;
    }
}

int SaveFlags(FREE_IMAGE_FORMAT format) {
    if (format != FIF_JPEG) return 0;
    // FreeImage reads quality from the low seven bits and takes higher bits
    // as other options, so anything above 100 is held at 100.
    if (jpegQuality <= 0) return 95;
    return jpegQuality > 100 ? 100 : jpegQuality;
}

// Carries every metadata model, the resolution and the ICC profile of
// source (a bitmap loaded in format from path, or a kept record) over to
// target. False when memory runs short.
bool CopyMetadata(FIBITMAP* target, FIBITMAP* source, FREE_IMAGE_FORMAT format, const PicPathChar* path) {
    if (!FreeImage_CloneMetadata(target, source)) return false;
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(source);
    if (profile && profile->data && profile->size > 0)
        return FreeImage_CreateICCProfile(target, profile->data, profile->size) != nullptr;
    if (format == FIF_PNG && !IsEmpty(path)) {
        // FreeImage's PNG loader drops the profile, so it is read from the file.
        std::vector<uint8_t> pngProfile = ReadPngIccProfile(path);
        if (!pngProfile.empty())
            return FreeImage_CreateICCProfile(target, pngProfile.data(), long(pngProfile.size())) != nullptr;
    }
    return true;
}

// Reads the metadata and ICC profile of the file at source onto bitmap.
void ReadMetadataInto(FIBITMAP* bitmap, const PicPathChar* source) {
    const FREE_IMAGE_FORMAT format = FormatOfFile(source);
    if (format == FIF_UNKNOWN || format == FIF_GIF || !FreeImage_FIFSupportsReading(format))
        throw UnsupportedImageFormat(PathText(source));
    // Loaded whole: a header-only load misses PNG text chunks that follow the pixels.
    BitmapHolder sourceBitmap(LoadFile(format, source, format == FIF_JPEG ? JPEG_ACCURATE : 0));
    if (!sourceBitmap || !CopyMetadata(bitmap, sourceBitmap.get(), format, source))
        throw ImageReadError(PathText(source));
}

// Size and time of a file, to tell later whether it is still the same file.
bool StampOf(const std::filesystem::path& path, std::uintmax_t& size, std::filesystem::file_time_type& time) {
    std::error_code error;
    size = std::filesystem::file_size(path, error);
    if (!error) time = std::filesystem::last_write_time(path, error);
    return !error;
}

bool UnchangedSinceOpened(const PictureMetadata& metadata) {
    std::uintmax_t size;
    std::filesystem::file_time_type time;
    return metadata.stamped && StampOf(metadata.source, size, time) && size == metadata.size &&
           time == metadata.time;
}

// Keeps the metadata of bitmap, loaded in format from path, in a one-pixel
// bitmap; left out when memory runs short.
void KeepMetadata(PictureMetadata& record, FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, const PicPathChar* path) {
    BitmapHolder kept(FreeImage_Allocate(1, 1, 24));
    if (kept && CopyMetadata(kept.get(), bitmap, format, path)) record.kept = std::move(kept);
}

unsigned ReadFileProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(std::fread(buffer, size, count, static_cast<FILE*>(handle)));
}
unsigned WriteFileProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(std::fwrite(buffer, size, count, static_cast<FILE*>(handle)));
}
int SeekFileProc(fi_handle handle, long offset, int origin) {
    return std::fseek(static_cast<FILE*>(handle), offset, origin);
}
long TellFileProc(fi_handle handle) { return std::ftell(static_cast<FILE*>(handle)); }

// A new, empty file with an unused name in the target's folder, so that the
// finished file can be renamed over the target in one step.
FILE* CreateTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, ".ostrivel-save-%08x.tmp", static_cast<unsigned>(entropy()));
        temporary = target.parent_path() / name;
        errno = 0;
        if (FILE* file = CreateNewFile(temporary)) return file;
        if (errno != EEXIST) break;
    }
    return nullptr;
}

// Writes bitmap to a temporary file beside target and renames it over target
// only when every byte reached the disk; on failure the temporary file is
// removed and an existing target is left as it was.
bool WriteThroughTemporary(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, const PicPathChar* target, int flags) {
    if (IsEmpty(target)) return false;
    const std::filesystem::path targetPath(target);
    std::filesystem::path temporary;
    FILE* file = CreateTemporaryBeside(targetPath, temporary);
    if (!file) return false;

    // Saving through our own handle, unlike FreeImage_Save, lets a failed
    // flush or close (a full disk) count as a failed save.
    FreeImageIO io = {ReadFileProc, WriteFileProc, SeekFileProc, TellFileProc};
    bool written = FreeImage_SaveToHandle(format, bitmap, &io, static_cast<fi_handle>(file), flags) != FALSE;
    written = std::fflush(file) == 0 && written;
    written = !std::ferror(file) && written;
    written = written && FlushToDisk(file);
    written = std::fclose(file) == 0 && written;

    std::error_code error;
    if (written) std::filesystem::rename(temporary, targetPath, error);
    if (!written || error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

}  // namespace

bool LoadPicture(SBxPicBuf& picture, const PicPathChar* path, PictureMetadataHolder* metadata) {
    EnsureFreeImage();
    if (IsEmpty(path)) return false;
    const FREE_IMAGE_FORMAT format = FormatOfFile(path);
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) return false;
    const int flags = PictureLoadFlags(format);

    // A picture too large for a buffer is refused from its header, before
    // FreeImage decodes gigabytes of pixels that could never be taken.
    if (FreeImage_FIFSupportsNoPixels(format)) {
        BitmapHolder header(LoadFile(format, path, flags | FIF_LOAD_NOPIXELS));
        if (!GeometryFitsPictureBuffer(header.get())) return false;
    }

    PicBufHolder loaded;
    PictureMetadataHolder record;
    try {
        // Stamped before the read, so that a change during it counts.
        record.reset(new PictureMetadata);
        record->source = path;
        record->stamped = StampOf(record->source, record->size, record->time);
        BitmapHolder bitmap(LoadFile(format, path, flags));
        if (!Import(bitmap.get(), loaded.buf)) return false;
        // The editor works on 8-bit pictures only; 16-bit files are refused.
        if (loaded->bitsPerComponent != 8) return false;
        if (metadata) KeepMetadata(*record, bitmap.get(), format, path);
    } catch (const std::bad_alloc&) {
        return false;
    }

    CBxPicBufAPI::DoneHeap(picture);
    picture = loaded.buf;
    CBxPicBufAPI::Init(loaded.buf);  // the caller owns the pixels now
    if (metadata) *metadata = std::move(record);
    return true;
}

void FreePictureMetadata(PictureMetadata* metadata) { delete metadata; }

namespace {

// The save itself: format, depth, export, metadata (added by addMetadata,
// which may throw), then the write through a temporary file.
template <typename AddMetadata>
bool SaveWith(const SBxPicBuf& picture, const PicPathChar* target, int formatIndex, AddMetadata addMetadata) {
    EnsureFreeImage();
    const FREE_IMAGE_FORMAT format = FormatForIndex(formatIndex, target);
    if (format == FIF_UNKNOWN || format == FIF_GIF || !FreeImage_FIFSupportsWriting(format))
        throw UnsupportedImageFormat(std::string());

    // FreeImage writes 16-bit BMP files as 48 bits per pixel, which few
    // programs read, and no 16-bit JPEG at all: both get 8 bits.
    PicBufHolder reduced;
    const SBxPicBuf* written = &picture;
    if (picture.bitsPerComponent == 16 && (format == FIF_BMP || format == FIF_JPEG)) {
        if (!CBxPicBufAPI::ReinitHeap(reduced.buf, picture) || !CBxPicBufAPI::Copy(reduced.buf, picture) ||
            !CBxPicBufAPI::ConvertBpcComp(reduced.buf, 8, picture.components))
            return false;
        written = &reduced.buf;
    }

    BitmapHolder bitmap(Export(*written));
    if (!bitmap) return false;
    addMetadata(bitmap.get());
    return WriteThroughTemporary(bitmap.get(), format, target, SaveFlags(format));
}

}  // namespace

bool SavePicture(const SBxPicBuf& picture, const PicPathChar* target, const PicPathChar* metadataSource,
                 int formatIndex) {
    return SaveWith(picture, target, formatIndex, [&](FIBITMAP* bitmap) {
        if (!IsEmpty(metadataSource)) ReadMetadataInto(bitmap, metadataSource);
    });
}

bool SavePicture(const SBxPicBuf& picture, const PicPathChar* target, const PictureMetadata& metadata,
                 int formatIndex) {
    return SaveWith(picture, target, formatIndex, [&](FIBITMAP* bitmap) {
        const PicPathChar* source = metadata.source.c_str();
        if (metadata.kept) {
            if (!CopyMetadata(bitmap, metadata.kept.get(), FIF_UNKNOWN, nullptr))
                throw ImageReadError(PathText(source));  // memory ran short
            return;
        }
        // Not kept: read again, but only from the very file that was opened.
        if (!UnchangedSinceOpened(metadata)) throw ImageReadError(PathText(source));
        try {
            ReadMetadataInto(bitmap, source);
        } catch (const UnsupportedImageFormat&) {
            throw ImageReadError(PathText(source));
        }
    });
}
