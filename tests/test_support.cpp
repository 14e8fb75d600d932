#include "test_support.h"

#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

void MakeTestPicture(PicBufHolder& holder, int width, int height, int components, int bitsPerComponent,
                     unsigned seed) {
    CBxPicBufAPI::ReinitHeap(holder.buf, width, height, components, bitsPerComponent);
    const double maxValue = bitsPerComponent == 16 ? 65535.0 : 255.0;
    unsigned state = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) {
                double v = 0.5 + 0.35 * std::sin(0.021 * x * (c + 1) + 0.013 * y) * std::cos(0.017 * y - 0.3 * c);
                double dx = x - width * 0.4, dy = y - height * 0.55;
                if (dx * dx + dy * dy < 0.04 * width * height) v = 0.15 + 0.2 * c;
                if (x > width * 0.7 && x < width * 0.78) v = 0.9 - 0.25 * c;
                state = state * 1664525u + 1013904223u;
                v += ((state >> 16) % 1000) / 1000.0 * 0.04 - 0.02;
                SetSample(holder.buf, x, y, c, std::floor(std::fmin(1.0, std::fmax(0.0, v)) * maxValue + 0.5));
            }
}

void MakeFilled(PicBufHolder& holder, int width, int height, int components, int bitsPerComponent, uint8_t value) {
    CBxPicBufAPI::ReinitHeap(holder.buf, width, height, components, bitsPerComponent);
    if (holder->pixels) std::memset(holder->pixels, value, holder->size);
}

void CopyOf(PicBufHolder& holder, const SBxPicBuf& picture) {
    CBxPicBufAPI::ReinitHeap(holder.buf, picture);
    CBxPicBufAPI::Copy(holder.buf, picture);
}

double SampleAt(const SBxPicBuf& buf, int x, int y, int c) {
    const uint8_t* row = PicRow(buf, y);
    const size_t i = static_cast<size_t>(x) * buf.components + c;
    if (buf.bitsPerComponent == 8) return row[i];
    if (buf.bitsPerComponent == 16) return reinterpret_cast<const uint16_t*>(row)[i];
    return reinterpret_cast<const float*>(row)[i];
}

void SetSample(SBxPicBuf& buf, int x, int y, int c, double value) {
    uint8_t* row = PicRow(buf, y);
    const size_t i = static_cast<size_t>(x) * buf.components + c;
    if (buf.bitsPerComponent == 8) row[i] = static_cast<uint8_t>(value);
    else if (buf.bitsPerComponent == 16) reinterpret_cast<uint16_t*>(row)[i] = static_cast<uint16_t>(value);
    else reinterpret_cast<float*>(row)[i] = static_cast<float>(value);
}

bool SamePixels(const SBxPicBuf& a, const SBxPicBuf& b) {
    if (a.width != b.width || a.height != b.height || a.components != b.components ||
        a.bitsPerComponent != b.bitsPerComponent)
        return false;
    const size_t rowBytes = static_cast<size_t>(a.width) * a.components * BytesPerSample(a.bitsPerComponent);
    for (int y = 0; y < a.height; ++y)
        if (std::memcmp(PicRow(a, y), PicRow(b, y), rowBytes) != 0) return false;
    return true;
}

int DifferentSamples(const SBxPicBuf& a, const SBxPicBuf& b, const CBxRect& rect, int c) {
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) count += SampleAt(a, x, y, c) != SampleAt(b, x, y, c);
    return count;
}

uint64_t PixelHash(const SBxPicBuf& buf) {
    uint64_t hash = 14695981039346656037u;  // FNV-1a
    const size_t rowBytes = static_cast<size_t>(buf.width) * buf.components * BytesPerSample(buf.bitsPerComponent);
    for (int y = 0; y < buf.height; ++y)
        for (size_t i = 0; i < rowBytes; ++i) hash = (hash ^ PicRow(buf, y)[i]) * 1099511628211u;
    return hash;
}

ProgressCounter::ProgressCounter(int abortAfter) : abortAfter_(abortAfter) {
    RequestAbort(false);
    SetProgressHandler(&ProgressCounter::Count, this);
}

ProgressCounter::~ProgressCounter() {
    SetProgressHandler(nullptr, nullptr);
    RequestAbort(false);
}

void ProgressCounter::Count(int steps, ProgressRule rule, void* context) {
    auto* self = static_cast<ProgressCounter*>(context);
    const int total = self->steps_.fetch_add(steps) + steps;
    if (rule == ProgressRule::Always) self->always_.fetch_add(steps);
    if (self->abortAfter_ > 0 && total >= self->abortAfter_) RequestAbort(true);
}

OmpThreads::OmpThreads(int threads) : saved_(omp_get_max_threads()) { omp_set_num_threads(threads); }
OmpThreads::~OmpThreads() { omp_set_num_threads(saved_); }

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string LittleEndian(uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
    return out;
}

std::string BigEndian32(uint32_t value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }

std::string PngChunk(const std::string& type, const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : type + data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return BigEndian32(uint32_t(data.size())) + type + data + BigEndian32(~crc);
}

std::string ClaimingBmp(uint32_t width, uint32_t height) {
    const uint32_t row = (width * 24 + 31) / 32 * 4;
    auto le = LittleEndian;
    const std::string bytes = "BM" + le(54 + row * height, 4) + le(0, 4) + le(54, 4) + le(40, 4) + le(width, 4) +
                              le(height, 4) + le(1, 2) + le(24, 2) + le(0, 4) + le(row * height, 4) + le(2835, 4) +
                              le(2835, 4) + le(0, 8);
    return bytes + std::string(118 - bytes.size(), '\0');
}

#if defined(_WIN32)
// MinGW has no mkdtemp: a random name, taken only when the folder is new.
ScratchFolder::ScratchFolder() {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "ostrivel-test-%08x", static_cast<unsigned>(entropy()));
        const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
        std::error_code error;
        if (std::filesystem::create_directory(folder, error)) folder_ = folder.generic_u8string();
    }
}
#else
ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrivel-test-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    folder_ = made ? made : "";
}
#endif

std::set<std::string> ScratchFolder::files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) names.insert(entry.path().filename().string());
    return names;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}
