// Checks of a JPEG file's segments made before FreeImage reads it: EXIF
// blocks whose structure does not hold up (FreeImage's EXIF reader trusts
// every count and offset in them), and entropy-coded data far too short for
// the picture the frame header claims. Internal to the core.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

struct JpegFindings {
    // File offsets of the identifiers ("Exif\0\0") of broken EXIF blocks;
    // the loader changes one byte there as FreeImage reads, so that FreeImage
    // takes the segment for an unknown one and skips it.
    std::vector<uint64_t> brokenExif;
    // Fewer bytes follow the first scan header than the picture's 8 x 8
    // blocks need at the least: the file was cut short.
    bool tooShort = false;
};

// The segments of the JPEG in file (size bytes) up to its first scan.
JpegFindings ExamineJpeg(FILE* file, uint64_t size);

// True when the TIFF structure of an EXIF block (the bytes after
// "Exif\0\0") holds up: every directory and every value lies inside the
// block, each directory is met once, and an embedded thumbnail's own EXIF
// holds up too.
bool ExifBlockHoldsUp(const uint8_t* block, size_t size);
