// The ICC profile of a PNG file, read from its iCCP chunk. FreeImage writes
// such profiles into PNG files but does not read them back.
#pragma once

#include <cstdint>
#include <vector>

#include "image_file.h"

// The profile in the iCCP chunk before the pixel data of the PNG at path.
// Empty when the file is no PNG, has no such chunk, or the chunk or its
// profile is damaged.
std::vector<uint8_t> ReadPngIccProfile(const PicPathChar* path);
