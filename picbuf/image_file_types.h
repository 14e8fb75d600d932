// The two types of the image-file interface that records elsewhere hold:
// the character of a path the core takes, and the holder of an opened
// picture's metadata. A header that only needs these includes this one
// instead of image_file.h, with its calls and error classes.
#pragma once

#include <memory>

// Paths are UTF-8 on Linux (FreeImage's wide-character calls do nothing
// there) and wide on Windows. The editor under Wine builds this core
// natively, so it passes UTF-8 too.
#if defined(_WIN32)
typedef wchar_t PicPathChar;
#else
typedef char PicPathChar;
#endif

// The metadata and colour profile of an opened picture, made by LoadPicture.
// They are kept in memory, so that a save carries them over even when the
// opened file has been moved, renamed or deleted since. Should keeping them
// fail, the record remembers the file's path, size and time instead, and a
// save reads them again from that file only while it is unchanged.
struct PictureMetadata;
void FreePictureMetadata(PictureMetadata* metadata);
struct PictureMetadataFree {
    void operator()(PictureMetadata* metadata) const { FreePictureMetadata(metadata); }
};
using PictureMetadataHolder = std::unique_ptr<PictureMetadata, PictureMetadataFree>;
