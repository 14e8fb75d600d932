#include "jpeg_check.h"

#include <algorithm>
#include <cstring>

namespace {

// A JPEG held in a file or in memory (a thumbnail inside an EXIF block).
struct JpegBytes {
    FILE* file = nullptr;
    const uint8_t* memory = nullptr;
    uint64_t size = 0;
    bool Read(uint64_t at, void* out, size_t bytes) const {
        if (at + bytes > size) return false;
        if (bytes == 0) return true;  // an empty segment: out may be null
        if (memory) {
            std::memcpy(out, memory + at, bytes);
            return true;
        }
        return std::fseek(file, long(at), SEEK_SET) == 0 && std::fread(out, 1, bytes, file) == bytes;
    }
};

const uint8_t kExifIdentifier[6] = {'E', 'x', 'i', 'f', 0, 0};
const char kPhotoshopIdentifier[] = "Photoshop 3.0";  // with its NUL, 14 bytes
constexpr int kMaxNesting = 2;  // a thumbnail's thumbnail is as far as it goes

JpegFindings Examine(const JpegBytes& in, int nesting, bool toTheEnd = false);

struct TiffBlock {
    const uint8_t* data;
    size_t size;
    bool bigEndian;
    bool Number(uint64_t at, int bytes, uint32_t& value) const {
        if (at + bytes > size) return false;
        value = 0;
        for (int i = 0; i < bytes; ++i) value |= uint32_t(data[at + (bigEndian ? bytes - 1 - i : i)]) << (8 * i);
        return true;
    }
};

// Bytes of one value of each TIFF field type (1 BYTE to 13 IFD); 0 for none.
const int kTypeBytes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

enum : uint32_t {
    kExifDirectory = 0x8769,
    kGpsDirectory = 0x8825,
    kInteroperabilityDirectory = 0xA005,
    kThumbnailOffset = 0x0201,
    kThumbnailLength = 0x0202,
};

// A directory that leads back to itself goes deeper than any sound block.
bool DirectoryHoldsUp(const TiffBlock& block, uint32_t at, int depth, int nesting) {
    // IFD0 -> EXIF -> interoperability is the deepest chain; IFD1 follows IFD0.
    if (depth > 3) return false;
    uint32_t entries;
    if (!block.Number(at, 2, entries)) return false;
    const uint64_t end = uint64_t(at) + 2 + 12 * uint64_t(entries);
    if (end > block.size) return false;
    uint32_t thumbnailAt = 0, thumbnailBytes = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t entry = uint64_t(at) + 2 + 12 * uint64_t(i);
        uint32_t tag = 0, type = 0, count = 0, value = 0;
        block.Number(entry, 2, tag);
        block.Number(entry + 2, 2, type);
        block.Number(entry + 4, 4, count);
        block.Number(entry + 8, 4, value);
        if (type == 0 || type > 13) return false;
        const uint64_t bytes = uint64_t(count) * kTypeBytes[type];
        if (bytes > 4 && uint64_t(value) + bytes > block.size) return false;
        if (tag == kExifDirectory || tag == kGpsDirectory || tag == kInteroperabilityDirectory) {
            if (!DirectoryHoldsUp(block, value, depth + 1, nesting)) return false;
        }
        if (tag == kThumbnailOffset) thumbnailAt = value;
        if (tag == kThumbnailLength) thumbnailBytes = value;
    }
    // FreeImage decodes an embedded thumbnail as a JPEG of its own.
    if (thumbnailAt > 0 && thumbnailBytes > 0) {
        if (uint64_t(thumbnailAt) + thumbnailBytes > block.size || nesting >= kMaxNesting) return false;
        JpegBytes thumbnail;
        thumbnail.memory = block.data + thumbnailAt;
        thumbnail.size = thumbnailBytes;
        if (!Examine(thumbnail, nesting + 1).brokenMetadata.empty()) return false;
    }
    uint32_t next;
    if (block.Number(end, 4, next) && next != 0) return DirectoryHoldsUp(block, next, depth + 1, nesting);
    return true;
}

bool BlockHoldsUp(const uint8_t* data, size_t size, int nesting) {
    uint32_t order, magic, first;
    TiffBlock block{data, size, false};
    if (!block.Number(0, 2, order) || (order != 0x4949 && order != 0x4D4D)) return false;
    block.bigEndian = order == 0x4D4D;
    if (!block.Number(2, 2, magic) || magic != 42 || !block.Number(4, 4, first)) return false;
    return DirectoryHoldsUp(block, first, 0, nesting);
}

bool IsFrameHeader(int marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The least number of bits of entropy-coded data the frame's blocks take:
// with Huffman coding a sequential block takes a DC code and an AC code (at
// least one bit each), and a progressive block at least a DC code. Zero when
// nothing can be said (arithmetic coding, lossless or hierarchical frames, a
// height given later).
uint64_t LeastScanBits(int marker, const uint8_t* frame, size_t bytes) {
    if (bytes < 6) return 0;
    const uint32_t height = uint32_t(frame[1]) << 8 | frame[2], width = uint32_t(frame[3]) << 8 | frame[4];
    const unsigned components = frame[5];
    const int bitsPerBlock = marker == 0xC0 || marker == 0xC1 ? 2 : marker == 0xC2 ? 1 : 0;
    if (bitsPerBlock == 0 || height == 0 || width == 0 || bytes < 6 + 3 * size_t(components)) return 0;
    unsigned maxH = 1, maxV = 1;
    for (unsigned c = 0; c < components; ++c) {
        maxH = std::max(maxH, unsigned(frame[7 + 3 * c] >> 4));
        maxV = std::max(maxV, unsigned(frame[7 + 3 * c] & 15));
    }
    uint64_t blocks = 0;
    for (unsigned c = 0; c < components; ++c) {
        const unsigned h = frame[7 + 3 * c] >> 4, v = frame[7 + 3 * c] & 15;
        const uint64_t columns = (uint64_t(width) * h + maxH - 1) / maxH, rows = (uint64_t(height) * v + maxV - 1) / maxV;
        blocks += (columns + 7) / 8 * ((rows + 7) / 8);
    }
    return blocks * bitsPerBlock;
}

// True when the markers after the first scan's header lead to the end of the
// picture (EOI): entropy-coded data hold no 0xFF but as 0xFF 0x00 or a
// restart marker, and every other marker is a segment with its length. A
// file cut short ends before it.
bool ReachesItsEnd(const JpegBytes& in, uint64_t at) {
    std::vector<uint8_t> chunk(size_t(1) << 16);
    uint64_t chunkAt = 0, chunkBytes = 0;
    auto byteAt = [&](uint64_t offset, uint8_t& value) {
        if (offset < chunkAt || offset >= chunkAt + chunkBytes) {
            chunkAt = offset;
            chunkBytes = std::min<uint64_t>(chunk.size(), in.size > offset ? in.size - offset : 0);
            if (chunkBytes == 0 || !in.Read(chunkAt, chunk.data(), size_t(chunkBytes))) return false;
        }
        value = chunk[size_t(offset - chunkAt)];
        return true;
    };
    uint8_t byte, marker;
    while (byteAt(at, byte)) {
        if (byte != 0xFF) {
            ++at;
            continue;
        }
        if (!byteAt(at + 1, marker)) return false;
        if (marker == 0xD9) return true;
        if (marker == 0x00 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) {
            at += marker == 0xFF ? 1 : 2;
            continue;
        }
        uint8_t high, low;
        if (!byteAt(at + 2, high) || !byteAt(at + 3, low)) return false;
        at += 2 + (uint32_t(high) << 8 | low);
    }
    return false;
}

JpegFindings Examine(const JpegBytes& in, int nesting, bool toTheEnd) {
    JpegFindings findings;
    uint8_t two[2];
    if (!in.Read(0, two, 2) || two[0] != 0xFF || two[1] != 0xD8) return findings;
    uint64_t at = 2;
    uint64_t leastBits = 0;
    std::vector<uint8_t> segment;
    while (in.Read(at, two, 2)) {
        if (two[0] != 0xFF) break;  // not a marker: FreeImage's decoder judges the rest
        const int marker = two[1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        at += 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
        if (marker == 0xD9 || !in.Read(at, two, 2)) break;
        const uint32_t length = uint32_t(two[0]) << 8 | two[1];
        if (length < 2) break;
        const uint64_t dataAt = at + 2, dataBytes = length - 2;
        if (marker == 0xDA) {
            const uint64_t scanBytes = in.size > at + length ? in.size - at - length : 0;
            findings.tooShort = (leastBits > 0 && scanBytes * 8 < leastBits) || (toTheEnd && !ReachesItsEnd(in, at + length));
            break;
        }
        const bool exif = marker == 0xE1 && dataBytes >= sizeof kExifIdentifier;
        const bool photoshop = marker == 0xED && dataBytes >= sizeof kPhotoshopIdentifier;
        if (exif || photoshop || IsFrameHeader(marker)) {
            segment.resize(size_t(dataBytes));
            if (!in.Read(dataAt, segment.data(), segment.size())) break;
            if (exif && std::memcmp(segment.data(), kExifIdentifier, sizeof kExifIdentifier) == 0 &&
                !BlockHoldsUp(segment.data() + 6, segment.size() - 6, nesting))
                findings.brokenMetadata.push_back(dataAt);
            const size_t skipped = sizeof kPhotoshopIdentifier;
            if (photoshop && std::memcmp(segment.data(), kPhotoshopIdentifier, skipped) == 0 &&
                !PhotoshopResourcesHoldUp(segment.data() + skipped, segment.size() - skipped))
                findings.brokenMetadata.push_back(dataAt);
            if (IsFrameHeader(marker)) {
                leastBits = LeastScanBits(marker, segment.data(), segment.size());
                if (findings.width == 0 && segment.size() >= 5) {
                    findings.height = uint32_t(segment[1]) << 8 | segment[2];
                    findings.width = uint32_t(segment[3]) << 8 | segment[4];
                }
            }
        }
        at += length;
    }
    return findings;
}

}  // namespace

JpegFindings ExamineJpeg(FILE* file, uint64_t size, bool toTheEnd) {
    JpegBytes in;
    in.file = file;
    in.size = size;
    return Examine(in, 0, toTheEnd);
}

bool ExifBlockHoldsUp(const uint8_t* block, size_t size) { return BlockHoldsUp(block, size, 0); }

bool PhotoshopResourcesHoldUp(const uint8_t* resources, size_t size) {
    uint64_t at = 0;
    while (at < size) {
        // "8BIM", a 2-byte id, a name of a length byte and text padded to
        // an even count, a 4-byte size, the data padded to an even count.
        if (at + 7 > size || std::memcmp(resources + at, "8BIM", 4) != 0) return false;
        at += 6;
        at += (uint64_t(resources[at]) + 2) & ~uint64_t(1);
        if (at + 4 > size) return false;
        const uint64_t bytes = uint64_t(resources[at]) << 24 | uint64_t(resources[at + 1]) << 16 |
                               uint64_t(resources[at + 2]) << 8 | resources[at + 3];
        at += 4;
        if (at + bytes > size) return false;
        at += (bytes + 1) & ~uint64_t(1);
    }
    return true;
}
