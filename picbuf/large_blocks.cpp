// Memory blocks on Windows, with freed large blocks kept for reuse.
//
// The engines make and drop whole-picture temporaries (CImg images, picture
// buffers) many times per run. Windows' heap hands every block above half a
// megabyte straight to VirtualAlloc and back to VirtualFree, so each
// temporary's pages are faulted in and zeroed by the system again: under
// Wine that was a quarter of a run's time. glibc keeps such blocks in its
// heap instead, which is why the Linux tool did not pay it. Here a few freed
// large blocks are kept and handed out again for the same size; smaller ones
// go to the C library's heap.
#if defined(_WIN32)

#include "picbuf/large_blocks.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t kLargeBlock = size_t(1) << 18;        // below this: the C library's heap
constexpr size_t kRegionGranularity = size_t(1) << 16;  // VirtualAlloc's
constexpr size_t kKeptBytesLimit = size_t(256) << 20;   // freed memory kept at most
constexpr int kKeptBlocksLimit = 64;

// Every block starts with this header; the caller's bytes follow it at
// `offset`, which keeps the alignment asked for.
struct BlockHeader {
    size_t regionBytes;  // a large block's whole region; 0 for a heap block
    size_t offset;       // from the start of the allocation to the caller's bytes
};
constexpr size_t kPlainOffset = 16;  // keeps malloc's 16-byte alignment
static_assert(sizeof(BlockHeader) <= kPlainOffset, "header must fit before the caller's bytes");

struct KeptBlock {
    void* region;
    size_t bytes;
};

SRWLOCK keptLock = SRWLOCK_INIT;
KeptBlock kept[kKeptBlocksLimit];
int keptCount = 0;
size_t keptBytes = 0;

void* TakeKeptRegion(size_t bytes) {
    void* region = nullptr;
    AcquireSRWLockExclusive(&keptLock);
    for (int i = keptCount - 1; i >= 0; --i)
        if (kept[i].bytes == bytes) {
            region = kept[i].region;
            keptBytes -= bytes;
            kept[i] = kept[--keptCount];
            break;
        }
    ReleaseSRWLockExclusive(&keptLock);
    return region;
}

// Keeps the region for reuse, giving back the oldest kept ones to stay
// within the limits.
void KeepRegion(void* region, size_t bytes) {
    void* released[kKeptBlocksLimit + 1];
    int releasedCount = 0;
    AcquireSRWLockExclusive(&keptLock);
    if (bytes > kKeptBytesLimit) {
        released[releasedCount++] = region;
    } else {
        while (keptCount > 0 && (keptCount == kKeptBlocksLimit || keptBytes + bytes > kKeptBytesLimit)) {
            released[releasedCount++] = kept[0].region;
            keptBytes -= kept[0].bytes;
            for (int i = 1; i < keptCount; ++i) kept[i - 1] = kept[i];
            --keptCount;
        }
        kept[keptCount++] = {region, bytes};
        keptBytes += bytes;
    }
    ReleaseSRWLockExclusive(&keptLock);
    for (int i = 0; i < releasedCount; ++i) VirtualFree(released[i], 0, MEM_RELEASE);
}

}  // namespace

void* AllocateBlock(size_t size, size_t alignment) noexcept {
    const size_t offset = alignment > kPlainOffset ? alignment : kPlainOffset;
    if (size > SIZE_MAX - offset - kRegionGranularity) return nullptr;
    const size_t total = size + offset;
    char* start;
    BlockHeader header;
    if (total >= kLargeBlock && alignment <= kRegionGranularity) {
        const size_t bytes = (total + kRegionGranularity - 1) / kRegionGranularity * kRegionGranularity;
        void* region = TakeKeptRegion(bytes);
        if (!region) region = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (!region) return nullptr;
        start = static_cast<char*>(region);
        header = {bytes, offset};
    } else {
        start = static_cast<char*>(offset == kPlainOffset ? std::malloc(total) : _aligned_malloc(total, offset));
        if (!start) return nullptr;
        header = {0, offset};
    }
    *reinterpret_cast<BlockHeader*>(start + offset - sizeof(BlockHeader)) = header;
    return start + offset;
}

void ReleaseBlock(void* block) noexcept {
    if (!block) return;
    const BlockHeader header = *reinterpret_cast<BlockHeader*>(static_cast<char*>(block) - sizeof(BlockHeader));
    char* start = static_cast<char*>(block) - header.offset;
    if (header.regionBytes != 0)
        KeepRegion(start, header.regionBytes);
    else if (header.offset == kPlainOffset)
        std::free(start);
    else
        _aligned_free(start);
}

#endif
