// Image files: loading BMP, JPEG, TIFF and PNG into picture buffers with the
// program's acceptance rules, and saving pictures in those four formats with
// the metadata and colour profile of another file carried over.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "image_file_types.h"
#include "picbuf.h"

// A format the program cannot read or write; carries the offending path, or
// an empty text when the target's name names no known format.
class UnsupportedImageFormat : public std::runtime_error {
public:
    explicit UnsupportedImageFormat(const std::string& path) : std::runtime_error(path) {}
};

// The metadata source could not be read.
class ImageReadError : public std::runtime_error {
public:
    explicit ImageReadError(const std::string& path) : std::runtime_error(path) {}
};

// Save format index of SavePicture.
enum SaveFormatIndex {
    SaveFormatByName = 0,
    SaveFormatBmp = 1,
    SaveFormatTiff = 2,
    SaveFormatPng = 3,
    SaveFormatJpeg = 4,
};

// JPEG quality of the next save; 0 or less means kJpegQualityForZero, above
// 100 means 100.
extern int jpegQuality;
// The program's rules for the quality when nobody chose one: the `jpeg`
// settings key read at start falls back to kJpegQualityAtLoad (also for a
// value below 20), Save As reads the key with kJpegQualitySaveAs, and a
// quality of 0 or less (the one a program gets that never set it) saves
// at kJpegQualityForZero.
const int kJpegQualityAtLoad = 90;
const int kJpegQualitySaveAs = 85;
const int kJpegQualityForZero = 95;

// Pictures larger than this many megapixels are refused from their header,
// before anything is decoded: a file of a few bytes may claim a picture of
// gigabytes. The editor keeps the default; the command-line tool lets the
// user raise it.
constexpr double kDefaultMaxMegapixels = 180;
extern double maxPictureMegapixels;

// Why a file was refused, from the cheapest check that caught it.
enum class PictureRefusal {
    None,
    Missing,         // no such file
    NotAFile,        // a folder, a FIFO, a device
    Unreadable,      // open failed; systemError says why
    Unsupported,     // not a BMP, JPEG, TIFF or PNG, or a layout the program does not take
    Damaged,         // shorter than its header claims (uncompressed pixels, a JPEG's data), or unreadable pixels
    TooLarge,        // more pixels than maxPictureMegapixels
    NotEnoughMemory, // decoding ran out of memory
};

// What a picture file claims in its header.
struct PictureHeader {
    int64_t width = 0;
    int64_t height = 0;
    int bitsPerPixel = 0;
    int systemError = 0;  // errno of a failed open, for PictureRefusal::Unreadable
    bool metadataLeftOut = false;  // an EXIF or IPTC block does not hold up and is not read
};

// Checks a file from its header only (no pixels are decoded): that it is a
// readable regular file in one of the four formats, no larger than
// maxPictureMegapixels, and, when uncompressed, not shorter than its pixels;
// a JPEG's entropy-coded data not far too short for its 8 x 8 blocks. A
// JPEG's EXIF or Photoshop (IPTC) block whose structure does not hold up,
// and a TIFF's IPTC tag of a type FreeImage misreads, are never handed to
// FreeImage: the picture opens without them (header.metadataLeftOut).
PictureRefusal CheckPictureFile(const PicPathChar* path, PictureHeader& header);

// Reads an 8-bit grey or colour picture; 16-bit, palette, CMYK and alpha
// pictures, and pictures too large for a buffer, are refused. The format is
// found from the content first, then from the name. On failure returns false
// and leaves picture and metadata untouched; on success picture is
// reallocated and holds the file, and metadata (when given) holds the file's
// metadata record.
// Every file first passes CheckPictureFile; refusal, when given, says why a
// load failed.
bool LoadPicture(SBxPicBuf& picture, const PicPathChar* path, PictureMetadataHolder* metadata = nullptr,
                 PictureRefusal* refusal = nullptr);

// Null when a picture of this size can be written in the format that
// formatIndex and target choose, else why not (JPEG takes at most 65,500
// pixels a side; BMP and TIFF files end at 4 GiB).
const char* SaveLimitExceeded(int64_t width, int64_t height, int components, int bitsPerComponent,
                              const PicPathChar* target, int formatIndex);

// While *flag is non-zero, a save under way stops writing, removes its
// temporary file and fails; the command-line tool points it at its abort
// flag, so that Ctrl+C never leaves a file behind. Null (the default) turns
// it off.
void SetSaveCancelFlag(const std::atomic<uint8_t>* flag);

// A folder held open for saves: while it is set on a thread, a save there
// whose target is a bare file name writes into this folder, even when the
// folder is renamed, or its path replaced by a link, meanwhile (on Windows
// it cannot be renamed while held). The command-line tool holds its output
// folder for a whole run, so that no swap of folders makes it write over an
// input. OpenSaveFolder returns null, with errno set, when the folder cannot
// be opened.
struct SaveFolder;
SaveFolder* OpenSaveFolder(const PicPathChar* path);
void CloseSaveFolder(SaveFolder* folder);
struct SaveFolderClose {
    void operator()(SaveFolder* folder) const { CloseSaveFolder(folder); }
};
using SaveFolderHolder = std::unique_ptr<SaveFolder, SaveFolderClose>;
// True while path names the held folder.
bool SaveFolderStillAt(const SaveFolder& folder, const PicPathChar* path);
void SetSaveFolder(const SaveFolder* folder);

// The system error of the last failed save on this thread (0 when the
// failure was not the system's, such as an encoder's refusal), as an errno
// value, and the system's own words for it in UTF-8 (empty when it is 0),
// to be shown with the path of the file that could not be written.
int LastSaveSystemError();
std::string LastSaveErrorText();

// What the last save on this thread left out of the written file, each to
// be told to the user: a colour profile the PNG writer refused as damaged,
// an XMP packet too large for one JPEG segment (kMaxJpegXmpBytes, with the
// packet's closing NUL), IPTC metadata in a TIFF file (FreeImage's TIFF
// writer keeps only a quarter of them).
enum SaveOmission { SaveOmittedProfile = 1, SaveOmittedXmp = 2, SaveOmittedIptc = 4 };
constexpr unsigned kMaxJpegXmpBytes = 65504;
int LastSaveOmissions();

// Writes picture (8 or 16 bits, 1 or 3 components) to target in the format
// of formatIndex, with the metadata and ICC profile of metadataSource when
// that is neither null nor empty. BMP and JPEG files get 8 bits per
// component, as most programs read no other; TIFF and PNG keep 16 bits. The
// file is written beside the target and renamed into place, so a failure
// never leaves a truncated target behind. Returns false when the picture
// cannot be exported or the file cannot be written; throws
// UnsupportedImageFormat for a format it cannot write or a metadata source it
// cannot read the format of, and ImageReadError when the metadata source
// cannot be loaded.
bool SavePicture(const SBxPicBuf& picture, const PicPathChar* target, const PicPathChar* metadataSource,
                 int formatIndex);

// The same with the metadata record of the opened picture. Throws
// ImageReadError, having written nothing, when the metadata were not kept and
// the opened file is gone, changed or unreadable; the caller may then save
// without metadata (the path form with no source).
bool SavePicture(const SBxPicBuf& picture, const PicPathChar* target, const PictureMetadata& metadata,
                 int formatIndex);
