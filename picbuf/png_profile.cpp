#include "png_profile.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr uint32_t kMinProfileBytes = 128;         // an ICC header alone
constexpr uint32_t kMaxProfileBytes = 64u << 20;   // far beyond any real profile
constexpr uint32_t kFirstTryBytes = 64u << 10;     // holds the common profiles
constexpr uint32_t kMaxDeflateRatio = 1032;        // deflate cannot expand further

uint32_t BigEndian32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

// Inflates a zlib stream that holds an ICC profile. The inflated size is not
// stored, but the profile's header gives it: a first try into a buffer that
// fits common profiles leaves that header even when it fails for room.
std::vector<uint8_t> InflateProfile(uint8_t* compressed, uint32_t compressedBytes) {
    std::vector<uint8_t> profile(kFirstTryBytes);
    DWORD size = FreeImage_ZLibUncompress(profile.data(), DWORD(profile.size()), compressed, compressedBytes);
    if (size == 0) {
        const uint32_t claimed = BigEndian32(profile.data());
        if (claimed <= profile.size() || claimed > kMaxProfileBytes || claimed / kMaxDeflateRatio > compressedBytes)
            return {};
        profile.assign(claimed, 0);
        size = FreeImage_ZLibUncompress(profile.data(), DWORD(profile.size()), compressed, compressedBytes);
    }
    if (size < kMinProfileBytes || BigEndian32(profile.data()) != size) return {};
    profile.resize(size);
    return profile;
}

// iCCP data: profile name (1 to 79 bytes), NUL, compression method (0 is
// zlib), compressed profile.
std::vector<uint8_t> ProfileOfChunk(std::vector<uint8_t>& chunk) {
    const auto nameEnd = std::find(chunk.begin(), chunk.begin() + std::min<size_t>(chunk.size(), 80), 0);
    const size_t nameBytes = size_t(nameEnd - chunk.begin());
    if (nameBytes == 0 || nameBytes >= 80 || nameBytes + 2 >= chunk.size() || chunk[nameBytes + 1] != 0) return {};
    return InflateProfile(chunk.data() + nameBytes + 2, uint32_t(chunk.size() - nameBytes - 2));
}

}  // namespace

std::vector<uint8_t> ReadPngIccProfile(const PicPathChar* path) {
    if (!path || !path[0]) return {};
    std::ifstream file(std::filesystem::path(path), std::ios::binary | std::ios::ate);
    if (!file) return {};
    const std::streamoff fileEnd = file.tellg();
    if (fileEnd < 0 || !file.seekg(0)) return {};
    const uint64_t fileBytes = uint64_t(fileEnd);

    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t header[8];
    if (!file.read(reinterpret_cast<char*>(header), 8) || std::memcmp(header, signature, 8) != 0) return {};
    // Chunks: 4-byte length, 4-byte type, data, 4-byte CRC. A profile must
    // come before the pixel data.
    while (file.read(reinterpret_cast<char*>(header), 8)) {
        const uint32_t length = BigEndian32(header);
        const uint64_t dataStart = uint64_t(file.tellg());
        if (dataStart + length > fileBytes) return {};  // cut short or a lying length
        const char* type = reinterpret_cast<const char*>(header + 4);
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) return {};
        if (std::memcmp(type, "iCCP", 4) == 0) {
            if (length > kMaxProfileBytes) return {};
            std::vector<uint8_t> chunk(length);
            if (!file.read(reinterpret_cast<char*>(chunk.data()), length)) return {};
            return ProfileOfChunk(chunk);
        }
        if (!file.seekg(std::streamoff(length) + 4, std::ios::cur)) return {};
    }
    return {};
}
