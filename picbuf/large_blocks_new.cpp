// The program's operator new and delete on Windows: every form goes through
// the block allocator of large_blocks.h, so that freed large blocks are
// reused. Kept apart from it so that a test program may replace them with
// its own.
#if defined(_WIN32)

#include <new>

#include "picbuf/large_blocks.h"

namespace {

constexpr size_t kPlainAlignment = 16;  // what malloc gives

void* AllocateOrThrow(size_t size, size_t alignment) {
    for (;;) {
        if (void* block = AllocateBlock(size, alignment)) return block;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

}  // namespace

void* operator new(size_t size) { return AllocateOrThrow(size, kPlainAlignment); }
void* operator new[](size_t size) { return AllocateOrThrow(size, kPlainAlignment); }
void* operator new(size_t size, std::align_val_t alignment) { return AllocateOrThrow(size, size_t(alignment)); }
void* operator new[](size_t size, std::align_val_t alignment) { return AllocateOrThrow(size, size_t(alignment)); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return AllocateBlock(size, kPlainAlignment); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return AllocateBlock(size, kPlainAlignment); }
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateBlock(size, size_t(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateBlock(size, size_t(alignment));
}

void operator delete(void* block) noexcept { ReleaseBlock(block); }
void operator delete[](void* block) noexcept { ReleaseBlock(block); }
void operator delete(void* block, size_t) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, size_t) noexcept { ReleaseBlock(block); }
void operator delete(void* block, std::align_val_t) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, std::align_val_t) noexcept { ReleaseBlock(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { ReleaseBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { ReleaseBlock(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { ReleaseBlock(block); }

#endif
