// Checks of a JPEG file's segments made before FreeImage reads it: EXIF
// blocks and Photoshop (IPTC) segments whose structure does not hold up
// (FreeImage's readers trust every count, offset and size in them), and
// entropy-coded data far too short for the picture the frame header claims.
// Internal to the core.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

struct JpegFindings {
    // File offsets of the identifiers ("Exif\0\0", "Photoshop 3.0\0") of
    // broken EXIF blocks and Photoshop segments; the loader changes one byte
    // there as FreeImage reads, so that FreeImage takes the segment for an
    // unknown one and skips it.
    std::vector<uint64_t> brokenMetadata;
    // The file was cut short: fewer bytes follow the first scan header than
    // the picture's 8 x 8 blocks need at the least, or its markers end before
    // the end of the picture (EOI).
    bool tooShort = false;
    // The size the first frame header claims (0 without one).
    uint32_t width = 0, height = 0;
};

// The segments of the JPEG in file (size bytes) up to its first scan, and,
// toTheEnd, its markers up to the end of the picture (a read of the whole
// file, done once before it is decoded).
JpegFindings ExamineJpeg(FILE* file, uint64_t size, bool toTheEnd = false);

// True when the TIFF structure of an EXIF block (the bytes after
// "Exif\0\0") holds up: every directory and every value lies inside the
// block, each directory is met once, and an embedded thumbnail's own EXIF
// holds up too.
bool ExifBlockHoldsUp(const uint8_t* block, size_t size);

// True when the image resources of a Photoshop segment (the bytes after
// "Photoshop 3.0\0") lie inside it, each "8BIM", an id, a padded name and
// a size.
bool PhotoshopResourcesHoldUp(const uint8_t* resources, size_t size);
