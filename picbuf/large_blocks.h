// Memory blocks for the Windows build, with freed blocks of a quarter of a
// megabyte and more kept for reuse (see large_blocks.cpp for why). The
// program's operator new and delete (large_blocks_new.cpp) and the picture
// buffers use these.
#pragma once

#if defined(_WIN32)

#include <cstddef>

// A block of size bytes aligned to alignment (a power of two, at least 16);
// null when there is no memory or the size cannot be counted.
void* AllocateBlock(size_t size, size_t alignment) noexcept;
// Frees a block from AllocateBlock; null is ignored.
void ReleaseBlock(void* block) noexcept;

#endif
