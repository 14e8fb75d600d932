#include "image_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <vector>

// Before FreeImage.h, which otherwise declares its own BOOL, DWORD and friends
// and hides windows.h.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cwctype>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "freeimage_bridge.h"
#include "jpeg_check.h"
#include "png_profile.h"

int jpegQuality = kJpegQualityForZero;
double maxPictureMegapixels = kDefaultMaxMegapixels;

namespace {

// Keeps the first system error of a save, and its text (the system's own
// words for error when empty).
void NoteSaveError(int error, const std::string& text = std::string());

// The narrow FreeImage calls take UTF-8 paths on Linux; their wide twins do
// nothing there, but are the only way to reach every name on Windows.
#if defined(_WIN32)
FREE_IMAGE_FORMAT FormatByContent(const PicPathChar* path) { return FreeImage_GetFileTypeU(path, 0); }
FREE_IMAGE_FORMAT FormatByName(const PicPathChar* path) { return FreeImage_GetFIFFromFilenameU(path); }
std::string PathText(const PicPathChar* path) { return std::filesystem::path(path).u8string(); }
FILE* OpenForReading(const PicPathChar* path) { return _wfopen(path, L"rb"); }
bool FlushToDisk(FILE* file) { return _commit(_fileno(file)) == 0; }

// ---- Windows: the temporary file of a save ----
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
    }
}

// The Windows error behind the errno of a failed save step, for its text.
thread_local DWORD lastWindowsError = 0;
int ErrnoOfLastError() {
    lastWindowsError = GetLastError();
    return ErrnoOf(lastWindowsError);
}

// The system's own words for a failed save step.
std::string SystemErrorText(int error) {
    wchar_t* text = nullptr;
    if (lastWindowsError == 0 ||
        !FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                        nullptr, lastWindowsError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr))
        return std::strerror(error);
    std::wstring wide(text);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.')) wide.pop_back();
    return std::filesystem::path(wide).u8string();
}
void ForgetSystemError() { lastWindowsError = 0; }

bool MarkForDeletion(HANDLE handle, bool deleted) {
    FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(deleted)};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// The folder a save writes into. A folder opened for saves (OpenSaveFolder)
// is held without FILE_SHARE_DELETE, so it cannot be renamed or removed, and
// its path goes on naming it.
}  // namespace
struct SaveFolder {
    HANDLE handle;
    std::filesystem::path path;
};
namespace {
struct SaveSite {
    std::filesystem::path folder;
};

SaveFolder* OpenFolder(const std::filesystem::path& path) {
    HANDLE handle = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOfLastError();
        return nullptr;
    }
    return new SaveFolder{handle, path};
}
void CloseFolder(SaveFolder* folder) {
    CloseHandle(folder->handle);
    delete folder;
}
bool FolderStillAt(const SaveFolder&, const std::filesystem::path&) { return true; }  // it cannot move

bool OpenSite(const std::filesystem::path& folder, const SaveFolder* held, SaveSite& site) {
    site.folder = held ? held->path : folder;
    return true;
}

// What a save keeps of the file it replaces: on Windows, what MoveFileEx keeps.
struct ReplacedFile {};
ReplacedFile ReplacedFileAt(const SaveSite&, const std::filesystem::path&) { return {}; }
void KeepOwnersChoices(FILE*, const ReplacedFile&) {}

bool RenameOver(const SaveSite& site, const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code error;
    std::filesystem::rename(site.folder / from, site.folder / to, error);
    if (error) NoteSaveError(error.default_error_condition().value(), error.message());
    return !error;
}
void RemoveFile(const SaveSite& site, const std::filesystem::path& name) {
    std::error_code error;
    std::filesystem::remove(site.folder / name, error);
}

// Made exclusively with CREATE_NEW (Wine's msvcrt ignores the "x" of _wfopen
// modes), and marked for deletion until the save is complete, so that a
// process ended outright leaves no temporary file behind.
FILE* CreateNewFile(const SaveSite& site, const std::filesystem::path& name, const ReplacedFile&) {
    const std::filesystem::path path = site.folder / name;
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOfLastError();
        return nullptr;
    }
    if (!MarkForDeletion(handle, true)) {
        errno = ErrnoOfLastError();
        CloseHandle(handle);
        DeleteFileW(path.c_str());
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (descriptor == -1) {
        errno = EMFILE;
        CloseHandle(handle);  // deleted with its last handle
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, "w+b");
    if (!file) _close(descriptor);
    return file;
}

// A process ended outright can leave its temporary file behind although the
// file was marked for deletion (Wine does not always honour the mark for a
// killed process), so each save clears this program's leftovers in its
// folder. A save under way holds its file open without sharing, which makes
// the exclusive open below fail for it; the age covers the moment between
// its close and its rename.
bool IsTemporaryName(const std::wstring& name) {
    const std::wstring head = L".ostrivel-save-", tail = L".tmp";
    if (name.size() != head.size() + 8 + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(head.size() + 8, tail.size(), tail) != 0)
        return false;
    for (size_t i = head.size(); i < head.size() + 8; ++i)
        if (!std::iswxdigit(name[i])) return false;
    return true;
}

void ClearStaleTemporaries(const SaveSite& site) {
    constexpr uint64_t kStaleAfter = 60ull * 10000000;  // one minute in FILETIME's 100 ns steps
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((site.folder / L".ostrivel-save-*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    FILETIME nowTime;
    GetSystemTimeAsFileTime(&nowTime);
    auto ticks = [](const FILETIME& time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; };
    do {
        const bool plainFile = (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (!plainFile || !IsTemporaryName(found.cFileName) || ticks(found.ftLastWriteTime) + kStaleAfter > ticks(nowTime))
            continue;
        HANDLE stale = CreateFileW((site.folder / found.cFileName).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (stale != INVALID_HANDLE_VALUE) CloseHandle(stale);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// The finished file stays when it is closed.
bool KeepOnClose(FILE* file) {
    if (MarkForDeletion(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), false)) return true;
    errno = ErrnoOfLastError();
    return false;
}
#else
FREE_IMAGE_FORMAT FormatByContent(const PicPathChar* path) { return FreeImage_GetFileType(path, 0); }
FREE_IMAGE_FORMAT FormatByName(const PicPathChar* path) { return FreeImage_GetFIFFromFilename(path); }
std::string PathText(const PicPathChar* path) { return path; }
// The folder a save writes into, opened once: the temporary file is made,
// and renamed over the target, relative to it, so that a folder renamed or
// replaced by a link meanwhile never redirects the save.
}  // namespace
struct SaveFolder {
    int descriptor;
};
namespace {
struct SaveSite {
    int folder = -1;
    bool owned = false;
    ~SaveSite() {
        if (owned) close(folder);
    }
};

int OpenFolderDescriptor(const std::filesystem::path& path) {
    return open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}
SaveFolder* OpenFolder(const std::filesystem::path& path) {
    const int descriptor = OpenFolderDescriptor(path);
    return descriptor == -1 ? nullptr : new SaveFolder{descriptor};
}
void CloseFolder(SaveFolder* folder) {
    close(folder->descriptor);
    delete folder;
}
bool FolderStillAt(const SaveFolder& folder, const std::filesystem::path& path) {
    struct stat held, named;
    return fstat(folder.descriptor, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

bool OpenSite(const std::filesystem::path& folder, const SaveFolder* held, SaveSite& site) {
    if (held) {
        site.folder = held->descriptor;
        return true;
    }
    site.folder = OpenFolderDescriptor(folder);
    site.owned = site.folder != -1;
    return site.owned;
}

// What a save keeps of the regular file it replaces: its permissions, owner
// and group. A symbolic link is replaced itself, and keeps nothing.
struct ReplacedFile {
    bool exists = false;
    struct stat status = {};
};

ReplacedFile ReplacedFileAt(const SaveSite& site, const std::filesystem::path& name) {
    ReplacedFile replaced;
    replaced.exists = fstatat(site.folder, name.c_str(), &replaced.status, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(replaced.status.st_mode);
    return replaced;
}

bool RenameOver(const SaveSite& site, const std::filesystem::path& from, const std::filesystem::path& to) {
    if (renameat(site.folder, from.c_str(), site.folder, to.c_str()) == 0) return true;
    NoteSaveError(errno);
    return false;
}
void RemoveFile(const SaveSite& site, const std::filesystem::path& name) { unlinkat(site.folder, name.c_str(), 0); }

// Made with the replaced file's permissions (less the umask), so that a
// private picture is never readable by others, not even while it is written.
FILE* CreateNewFile(const SaveSite& site, const std::filesystem::path& name, const ReplacedFile& replaced) {
    const mode_t mode = replaced.exists ? replaced.status.st_mode & 0777 : 0666;
    const int descriptor = openat(site.folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (descriptor == -1) return nullptr;
    FILE* file = fdopen(descriptor, "w+b");
    if (!file) close(descriptor);
    return file;
}

// Gives the finished file the replaced file's owner and group where the
// process may, then its permissions (lost to the umask at creation). When
// the group cannot be kept, the group's permissions are not given to the
// process's own group. Where the file system keeps no owners, the file keeps
// the permissions it was made with, which give no one more.
void KeepOwnersChoices(FILE* file, const ReplacedFile& replaced) {
    if (!replaced.exists) return;
    const int descriptor = fileno(file);
    const struct stat& old = replaced.status;
    mode_t mode = old.st_mode & 0777;
    struct stat now;
    if (fchown(descriptor, old.st_uid, old.st_gid) != 0 && fchown(descriptor, uid_t(-1), old.st_gid) != 0 &&
        (fstat(descriptor, &now) != 0 || now.st_gid != old.st_gid))
        mode &= ~mode_t(070);
    [[maybe_unused]] const int ignored = fchmod(descriptor, mode);
}
FILE* OpenForReading(const PicPathChar* path) { return std::fopen(path, "rb"); }
bool FlushToDisk(FILE* file) { return fsync(fileno(file)) == 0; }
bool KeepOnClose(FILE*) { return true; }
// A killed process's temporary file cannot be told from a save under way
// here, so none is removed.
void ClearStaleTemporaries(const SaveSite&) {}
std::string SystemErrorText(int error) { return std::strerror(error); }
void ForgetSystemError() {}
#endif

bool IsEmpty(const PicPathChar* path) { return !path || !path[0]; }

// Numbers in a file's header, read where they lie.
struct FileBytes {
    FILE* file;
    uint64_t size;
    bool bigEndian = false;
    // Reads an unsigned number of `bytes` (1 to 4) at offset; false past the end.
    bool Number(uint64_t offset, int bytes, uint32_t& value) const {
        unsigned char data[4];
        if (offset + bytes > size || std::fseek(file, long(offset), SEEK_SET) != 0 ||
            std::fread(data, 1, size_t(bytes), file) != size_t(bytes))
            return false;
        value = 0;
        for (int i = 0; i < bytes; ++i) value |= uint32_t(data[bigEndian ? bytes - 1 - i : i]) << (8 * i);
        return true;
    }
};

uint64_t TiffIptcToHide(FileBytes in);

// ---- reading ----------------------------------------------------------------
// FreeImage reads every file through these procedures, so that the metadata
// blocks its readers would misread (a JPEG's broken EXIF and Photoshop
// segments, a TIFF's IPTC tag of the wrong type) never reach them, and a JPEG
// whose data end early is noticed.

struct ReadFile {
    FILE* file;
    std::vector<uint64_t> hidden;  // offsets of identifiers or tag numbers to change as they are read
    bool readAtEnd = false;        // the decoder asked for bytes past the end
};

unsigned ReadHiding(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    ReadFile& in = *static_cast<ReadFile*>(handle);
    const long at = std::ftell(in.file);
    const size_t read = std::fread(buffer, size, count, in.file);
    if (read == 0 && size > 0 && count > 0) in.readAtEnd = true;
    const uint64_t bytes = uint64_t(read) * size;
    for (uint64_t offset : in.hidden)
        if (at >= 0 && offset >= uint64_t(at) && offset < uint64_t(at) + bytes)
            static_cast<uint8_t*>(buffer)[offset - uint64_t(at)] ^= 0x20;  // "Exif" becomes "exif"; a tag unknown
    return static_cast<unsigned>(read);
}
int SeekReading(fi_handle handle, long offset, int origin) {
    return std::fseek(static_cast<ReadFile*>(handle)->file, offset, origin);
}
long TellReading(fi_handle handle) { return std::ftell(static_cast<ReadFile*>(handle)->file); }

// Loads path in format with flags through the procedures above; cutShort,
// when given, tells whether a JPEG's decoder ran out of data.
FIBITMAP* LoadFile(FREE_IMAGE_FORMAT format, const PicPathChar* path, int flags, bool* cutShort = nullptr) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(OpenForReading(path), std::fclose);
    if (!file) return nullptr;
    ReadFile in{file.get(), {}};
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(path, error);
    if (error) return nullptr;
    if (format == FIF_JPEG) in.hidden = ExamineJpeg(file.get(), size).brokenMetadata;
    if (format == FIF_TIFF) {
        if (const uint64_t iptc = TiffIptcToHide(FileBytes{file.get(), size})) in.hidden = {iptc};  // its tag number
    }
    std::rewind(file.get());
    FreeImageIO io = {ReadHiding, nullptr, SeekReading, TellReading};
    FIBITMAP* bitmap = FreeImage_LoadFromHandle(format, &io, static_cast<fi_handle>(&in), flags);
    if (cutShort) *cutShort = format == FIF_JPEG && in.readAtEnd;
    return bitmap;
}

// What the file is, by its first bytes, else by its name's extension.
FREE_IMAGE_FORMAT FormatOfFile(const PicPathChar* path) {
    FREE_IMAGE_FORMAT format = FormatByContent(path);
    return format != FIF_UNKNOWN ? format : FormatByName(path);
}

// The four formats the program reads. FreeImage reads a dozen more, but its
// rarely used readers (TGA, PSD, PCX and others) take hostile files badly,
// and nothing promises them.
bool IsAcceptedFormat(FREE_IMAGE_FORMAT format) {
    return format == FIF_BMP || format == FIF_JPEG || format == FIF_TIFF || format == FIF_PNG;
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
    if (jpegQuality <= 0) return kJpegQualityForZero;
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

// Checks a file from its header before it is decoded (see CheckPictureFile);
// format is set once the file is found readable.
PictureRefusal CheckFile(const PicPathChar* path, PictureHeader& header, FREE_IMAGE_FORMAT& format);

// Reads the metadata and ICC profile of the file at source onto bitmap.
void ReadMetadataInto(FIBITMAP* bitmap, const PicPathChar* source) {
    // The source passes the checks of an opened picture: it is decoded whole.
    PictureHeader header;
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    const PictureRefusal refusal = CheckFile(source, header, format);
    if (refusal == PictureRefusal::Unsupported) throw UnsupportedImageFormat(PathText(source));
    if (refusal != PictureRefusal::None) throw ImageReadError(PathText(source));
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

// ---- damaged files --------------------------------------------------------
// FreeImage's BMP and TIFF readers take a file that ends before its pixel
// data and decode the missing rows as zeros, so a few bytes can claim a
// picture of gigabytes. For uncompressed pictures the pixel data's size
// follows from the header: a shorter file is damaged. So is a PNG one of
// whose chunks runs past the end of the file.

// The bytes an uncompressed BMP's header says the file holds; 0 when it is
// compressed or its header cannot be read.
uint64_t UncompressedBmpBytes(const FileBytes& in) {
    uint32_t offset, headerSize, width, height, bits, compression = 0;
    if (!in.Number(10, 4, offset) || !in.Number(14, 4, headerSize)) return 0;
    if (headerSize == 12) {  // OS/2 header: 16-bit sizes
        if (!in.Number(18, 2, width) || !in.Number(20, 2, height) || !in.Number(24, 2, bits)) return 0;
    } else {
        if (!in.Number(18, 4, width) || !in.Number(22, 4, height) || !in.Number(28, 2, bits) ||
            !in.Number(30, 4, compression))
            return 0;
        height = uint32_t(std::abs(int64_t(int32_t(height))));  // negative: rows run top-down
    }
    // BI_RGB, BI_BITFIELDS and BI_ALPHABITFIELDS store every pixel as it is.
    if (compression != 0 && compression != 3 && compression != 6) return 0;
    const uint64_t rowBytes = (uint64_t(width) * bits + 31) / 32 * 4;
    return uint64_t(offset) + rowBytes * height;
}

// The bytes of pixel data an uncompressed TIFF's first directory claims; 0
// when it is compressed or the directory cannot be read. A directory
// without the byte counts of its strips or tiles is damaged (UINT64_MAX):
// libtiff guesses them, and FreeImage then reads past its buffers.
uint64_t UncompressedTiffBytes(FileBytes in) {
    uint32_t order, magic, directory, entries;
    if (!in.Number(0, 2, order) || (order != 0x4949 && order != 0x4D4D)) return 0;
    in.bigEndian = order == 0x4D4D;
    if (!in.Number(2, 2, magic) || magic != 42 || !in.Number(4, 4, directory) || !in.Number(directory, 2, entries))
        return 0;
    uint32_t width = 0, height = 0, bits = 1, samples = 1, compression = 1;
    bool byteCounts = false;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t entry = uint64_t(directory) + 2 + 12 * uint64_t(i);
        uint32_t tag, type, count, value;
        if (!in.Number(entry, 2, tag) || !in.Number(entry + 2, 2, type) || !in.Number(entry + 4, 4, count)) return 0;
        if (type != 3 && type != 4) continue;  // SHORT and LONG carry the numbers needed here
        const int size = type == 3 ? 2 : 4;
        uint64_t at = entry + 8;
        uint32_t offset;
        if (uint64_t(count) * size > 4) {  // the values live elsewhere; the first is enough
            if (!in.Number(at, 4, offset)) return 0;
            at = offset;
        }
        if (!in.Number(at, size, value)) continue;
        switch (tag) {
        case 256: width = value; break;
        case 257: height = value; break;
        case 258: bits = value; break;
        case 259: compression = value; break;
        case 277: samples = value; break;
        case 279:  // StripByteCounts
        case 325:  // TileByteCounts
            byteCounts = true;
            break;
        }
    }
    if (!byteCounts) return UINT64_MAX;
    if (compression != 1) return 0;
    return (uint64_t(width) * samples * bits + 7) / 8 * height;
}

// The file offset of the IPTC entry (tag 33723) of a TIFF's first directory
// when it is stored other than as LONG values, else 0. FreeImage takes
// libtiff's count of that tag for a count of four-byte values and reads four
// times past a BYTE or UNDEFINED block.
uint64_t TiffIptcToHide(FileBytes in) {
    uint32_t order, directory, entries;
    if (!in.Number(0, 2, order) || (order != 0x4949 && order != 0x4D4D)) return 0;
    in.bigEndian = order == 0x4D4D;
    if (!in.Number(4, 4, directory) || !in.Number(directory, 2, entries)) return 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t entry = uint64_t(directory) + 2 + 12 * uint64_t(i);
        uint32_t tag, type;
        if (!in.Number(entry, 2, tag) || !in.Number(entry + 2, 2, type)) return 0;
        if (tag == 33723 && type != 4) return entry;
    }
    return 0;
}

// True when a chunk of the PNG claims more bytes than the file holds: libpng
// allocates what a chunk claims (up to 2 GiB) before it reads it.
bool PngChunkRunsPastTheEnd(FileBytes in) {
    in.bigEndian = true;
    uint64_t at = 8;
    uint32_t length, type;
    while (in.Number(at, 4, length) && in.Number(at + 4, 4, type)) {
        if (at + 12 + uint64_t(length) > in.size) return true;
        if (type == 0x49454E44) break;  // IEND
        at += 12 + uint64_t(length);
    }
    return false;
}

bool ShorterThanItsPixels(FILE* file, uint64_t size, FREE_IMAGE_FORMAT format) {
    FileBytes in{file, size};
    const uint64_t needed = format == FIF_BMP ? UncompressedBmpBytes(in)
                            : format == FIF_TIFF ? UncompressedTiffBytes(in)
                                                 : 0;
    return size < needed;
}

PictureRefusal CheckFile(const PicPathChar* path, PictureHeader& header, FREE_IMAGE_FORMAT& format) {
    header = PictureHeader();
    if (IsEmpty(path)) return PictureRefusal::Missing;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) return PictureRefusal::Missing;
    if (error) {  // a loop of symbolic links, a folder that may not be searched
        header.systemError = error.default_error_condition().value();
        return PictureRefusal::Unreadable;
    }
    // Checked before anything opens it: opening a FIFO would wait for a writer.
    if (status.type() != std::filesystem::file_type::regular) return PictureRefusal::NotAFile;
    errno = 0;
    std::unique_ptr<FILE, int (*)(FILE*)> file(OpenForReading(path), std::fclose);
    if (!file) {
        header.systemError = errno;
        return PictureRefusal::Unreadable;
    }
    const uint64_t size = std::filesystem::file_size(path, error);
    if (error) return PictureRefusal::Unreadable;

    format = FormatOfFile(path);
    if (!IsAcceptedFormat(format)) return PictureRefusal::Unsupported;
    // Before libpng reads the chunks ahead of the pixels, as even a header-only load does.
    if (format == FIF_PNG && PngChunkRunsPastTheEnd(FileBytes{file.get(), size})) return PictureRefusal::Damaged;
    // Before FreeImage reads the header: for a progressive JPEG even that
    // allocates the coefficients of the whole picture.
    const JpegFindings findings = format == FIF_JPEG ? ExamineJpeg(file.get(), size, true) : JpegFindings();
    if (double(findings.width) * double(findings.height) > maxPictureMegapixels * 1e6) {
        header.width = findings.width;
        header.height = findings.height;
        return PictureRefusal::TooLarge;
    }
    BitmapHolder claimed(LoadFile(format, path, PictureLoadFlags(format) | FIF_LOAD_NOPIXELS));
    if (!claimed) return PictureRefusal::Unsupported;
    header.width = FreeImage_GetWidth(claimed.get());
    header.height = FreeImage_GetHeight(claimed.get());
    header.bitsPerPixel = int(FreeImage_GetBPP(claimed.get()));
    if (header.width <= 0 || header.height <= 0) return PictureRefusal::Damaged;
    if (double(header.width) * double(header.height) > maxPictureMegapixels * 1e6 ||
        !GeometryFitsPictureBuffer(claimed.get()))
        return PictureRefusal::TooLarge;
    if (ShorterThanItsPixels(file.get(), size, format)) return PictureRefusal::Damaged;
    if (findings.tooShort) return PictureRefusal::Damaged;
    if (format == FIF_JPEG) header.metadataLeftOut = !findings.brokenMetadata.empty();
    if (format == FIF_TIFF) header.metadataLeftOut = TiffIptcToHide(FileBytes{file.get(), size}) != 0;
    return PictureRefusal::None;
}

// ---- writing ----------------------------------------------------------------

const std::atomic<uint8_t>* saveCancelFlag = nullptr;
thread_local const SaveFolder* heldSaveFolder = nullptr;
thread_local int lastSaveSystemError = 0;
thread_local std::string lastSaveErrorText;
thread_local int lastSaveOmissions = 0;

void NoteSaveError(int error, const std::string& text) {
    if (lastSaveSystemError != 0 || error == 0) return;
    lastSaveSystemError = error;
    lastSaveErrorText = text.empty() ? SystemErrorText(error) : text;
}

bool SaveCancelled() { return saveCancelFlag && saveCancelFlag->load(std::memory_order_relaxed) != 0; }

unsigned ReadFileProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(std::fread(buffer, size, count, static_cast<FILE*>(handle)));
}
unsigned WriteFileProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    if (SaveCancelled()) return 0;  // some encoders ignore a short write; the caller checks again
    return static_cast<unsigned>(std::fwrite(buffer, size, count, static_cast<FILE*>(handle)));
}
int SeekFileProc(fi_handle handle, long offset, int origin) {
    return std::fseek(static_cast<FILE*>(handle), offset, origin);
}
long TellFileProc(fi_handle handle) { return std::ftell(static_cast<FILE*>(handle)); }

// A new, empty file with an unused name in the target's folder, so that the
// finished file can be renamed over the target in one step.
FILE* CreateTemporaryBeside(const SaveSite& site, const ReplacedFile& replaced, std::filesystem::path& temporary) {
    ClearStaleTemporaries(site);
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, ".ostrivel-save-%08x.tmp", static_cast<unsigned>(entropy()));
        temporary = name;
        errno = 0;
        if (FILE* file = CreateNewFile(site, temporary, replaced)) return file;
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
    const std::filesystem::path name = targetPath.filename();
    // A bare name goes into the folder held for saves, when there is one.
    const SaveFolder* held = targetPath.has_parent_path() ? nullptr : heldSaveFolder;
    SaveSite site;
    if (name.empty()) {
        NoteSaveError(EISDIR);
        return false;
    }
    if (!OpenSite(targetPath.parent_path(), held, site)) {
        NoteSaveError(errno);
        return false;
    }
    std::filesystem::path temporary;
    const ReplacedFile replaced = ReplacedFileAt(site, name);
    FILE* file = CreateTemporaryBeside(site, replaced, temporary);
    if (!file) {
        NoteSaveError(errno);
        return false;
    }

    // Saving through our own handle, unlike FreeImage_Save, lets a failed
    // flush or close (a full disk) count as a failed save.
    FreeImageIO io = {ReadFileProc, WriteFileProc, SeekFileProc, TellFileProc};
    // The first system error met is the one reported; errno may hold stale
    // values from inside FreeImage, so it is read only right after a call
    // that failed.
    auto failed = [](bool ok) {
        if (!ok) NoteSaveError(errno);
        return !ok;
    };
    bool written = FreeImage_SaveToHandle(format, bitmap, &io, static_cast<fi_handle>(file), flags) != FALSE;
    errno = 0;
    written = !failed(std::fflush(file) == 0) && written;
    written = !failed(!std::ferror(file)) && written;
    written = written && !SaveCancelled() && !failed(FlushToDisk(file));
    if (written) KeepOwnersChoices(file, replaced);
    written = written && !SaveCancelled() && !failed(KeepOnClose(file));
    written = !failed(std::fclose(file) == 0) && written;

    if (written && !SaveCancelled() && RenameOver(site, temporary, name)) return true;
    RemoveFile(site, temporary);
    return false;
}

}  // namespace

PictureRefusal CheckPictureFile(const PicPathChar* path, PictureHeader& header) {
    EnsureFreeImage();
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    return CheckFile(path, header, format);
}

bool LoadPicture(SBxPicBuf& picture, const PicPathChar* path, PictureMetadataHolder* metadata,
                 PictureRefusal* refusal) {
    EnsureFreeImage();
    PictureRefusal unused;
    PictureRefusal& why = refusal ? *refusal : unused;
    // Everything that the header can tell is refused before a pixel is decoded.
    PictureHeader header;
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    why = CheckFile(path, header, format);
    if (why != PictureRefusal::None) return false;

    PicBufHolder loaded;
    PictureMetadataHolder record;
    try {
        // Stamped before the read, so that a change during it counts.
        record.reset(new PictureMetadata);
        record->source = path;
        record->stamped = StampOf(record->source, record->size, record->time);
        bool cutShort = false;
        BitmapHolder bitmap(LoadFile(format, path, PictureLoadFlags(format), &cutShort));
        why = bitmap ? PictureRefusal::Unsupported : PictureRefusal::Damaged;
        // A JPEG decoder that ran out of data has painted the rest grey.
        if (cutShort) why = PictureRefusal::Damaged;
        if (cutShort || !Import(bitmap.get(), loaded.buf)) return false;
        // The editor works on 8-bit pictures only; 16-bit files are refused.
        if (loaded->bitsPerComponent != 8) return false;
        if (metadata) KeepMetadata(*record, bitmap.get(), format, path);
    } catch (const std::bad_alloc&) {
        why = PictureRefusal::NotEnoughMemory;
        return false;
    }

    CBxPicBufAPI::DoneHeap(picture);
    picture = loaded.buf;
    CBxPicBufAPI::Init(loaded.buf);  // the caller owns the pixels now
    if (metadata) *metadata = std::move(record);
    why = PictureRefusal::None;
    return true;
}

const char* SaveLimitExceeded(int64_t width, int64_t height, int components, int bitsPerComponent,
                              const PicPathChar* target, int formatIndex) {
    EnsureFreeImage();
    const FREE_IMAGE_FORMAT format = FormatForIndex(formatIndex, target);
    // BMP and JPEG files are written with 8 bits per component.
    if (format == FIF_BMP || format == FIF_JPEG) bitsPerComponent = 8;
    const uint64_t bytes = uint64_t((width * components * bitsPerComponent + 31) / 32 * 4) * uint64_t(height);
    const uint64_t fourGiB = uint64_t(1) << 32;
    if (format == FIF_JPEG && (width > 65500 || height > 65500))
        return "JPEG files hold at most 65,500 pixels a side";
    if (format == FIF_BMP && bytes + 1024 >= fourGiB) return "BMP files end at 4 GiB";
    if (format == FIF_TIFF && bytes + 65536 >= fourGiB) return "TIFF files end at 4 GiB";
    if (format == FIF_PNG && (width > 0x7fffffff || height > 0x7fffffff))
        return "PNG files hold at most 2,147,483,647 pixels a side";
    return nullptr;
}

void SetSaveCancelFlag(const std::atomic<uint8_t>* flag) { saveCancelFlag = flag; }

SaveFolder* OpenSaveFolder(const PicPathChar* path) {
    if (IsEmpty(path)) {
        errno = ENOENT;
        return nullptr;
    }
    return OpenFolder(path);
}
void CloseSaveFolder(SaveFolder* folder) {
    if (folder) CloseFolder(folder);
}
bool SaveFolderStillAt(const SaveFolder& folder, const PicPathChar* path) { return !IsEmpty(path) && FolderStillAt(folder, path); }
void SetSaveFolder(const SaveFolder* folder) { heldSaveFolder = folder; }

int LastSaveSystemError() { return lastSaveSystemError; }

std::string LastSaveErrorText() { return lastSaveErrorText; }

int LastSaveOmissions() { return lastSaveOmissions; }

void FreePictureMetadata(PictureMetadata* metadata) { delete metadata; }

namespace {

// The save itself: format, depth, export, metadata (added by addMetadata,
// which may throw), then the write through a temporary file.
template <typename AddMetadata>
bool SaveWith(const SBxPicBuf& picture, const PicPathChar* target, int formatIndex, AddMetadata addMetadata) {
    EnsureFreeImage();
    lastSaveSystemError = 0;
    lastSaveErrorText.clear();
    lastSaveOmissions = 0;
    ForgetSystemError();
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

    if (SaveLimitExceeded(written->width, written->height, written->components, written->bitsPerComponent, target,
                          formatIndex))
        return false;
    BitmapHolder bitmap(Export(*written));
    if (!bitmap) return false;
    addMetadata(bitmap.get());
    // FreeImage cuts an XMP packet too large for one JPEG segment into
    // ordinary ones, which readers reject.
    FITAG* xmp = nullptr;
    if (format == FIF_JPEG && FreeImage_GetMetadata(FIMD_XMP, bitmap.get(), "XMLPacket", &xmp) && xmp &&
        FreeImage_GetTagLength(xmp) > kMaxJpegXmpBytes) {
        FreeImage_SetMetadata(FIMD_XMP, bitmap.get(), "XMLPacket", nullptr);
        lastSaveOmissions |= SaveOmittedXmp;
    }
    // FreeImage gives libtiff the IPTC block's size in four-byte units, and
    // libtiff takes it for bytes: the file would hold a quarter of the block.
    if (format == FIF_TIFF && FreeImage_GetMetadataCount(FIMD_IPTC, bitmap.get()) > 0) {
        FreeImage_SetMetadata(FIMD_IPTC, bitmap.get(), nullptr, nullptr);
        lastSaveOmissions |= SaveOmittedIptc;
    }
    if (WriteThroughTemporary(bitmap.get(), format, target, SaveFlags(format))) return true;
    // libpng refuses a profile whose header does not hold up, and with it the
    // whole file: the picture is worth more than its profile.
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(bitmap.get());
    if (format != FIF_PNG || !profile || !profile->data || lastSaveSystemError != 0 || SaveCancelled()) return false;
    FreeImage_DestroyICCProfile(bitmap.get());
    if (!WriteThroughTemporary(bitmap.get(), format, target, SaveFlags(format))) return false;
    lastSaveOmissions |= SaveOmittedProfile;
    return true;
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
