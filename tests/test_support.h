// Helpers shared by the core's tests: pictures, samples, progress, threads,
// files; and the headers every test takes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "picbuf/picbuf.h"
#include "picbuf/run_control.h"
#include "windows_paths.h"

// A photograph-like picture: gradients, a disc and a bar with hard edges and
// a little deterministic noise, at any size, depth (8, 16, 32) and component count.
void MakeTestPicture(PicBufHolder& holder, int width, int height, int components, int bitsPerComponent,
                     unsigned seed = 1);
// A picture whose every byte is value.
void MakeFilled(PicBufHolder& holder, int width, int height, int components, int bitsPerComponent, uint8_t value);
void CopyOf(PicBufHolder& holder, const SBxPicBuf& picture);

// Sample (x, y, c) of an 8-, 16- or 32-bit picture as a double, and back.
double SampleAt(const SBxPicBuf& buf, int x, int y, int c = 0);
void SetSample(SBxPicBuf& buf, int x, int y, int c, double value);
// Same geometry and bytes.
bool SamePixels(const SBxPicBuf& a, const SBxPicBuf& b);
// Samples of component c inside rect that differ between a and b.
int DifferentSamples(const SBxPicBuf& a, const SBxPicBuf& b, const CBxRect& rect, int c);
// A digest of the bytes of a picture's rows, for results recorded once.
uint64_t PixelHash(const SBxPicBuf& buf);

// Counts progress steps while it lives, optionally raising the abort flag
// once abortAfter steps have been reported; clears the flag on both ends.
class ProgressCounter {
public:
    explicit ProgressCounter(int abortAfter = 0);
    ~ProgressCounter();
    int steps() const { return steps_.load(); }
    int alwaysSteps() const { return always_.load(); }

private:
    static void Count(int steps, ProgressRule rule, void* context);
    std::atomic<int> steps_{0}, always_{0};
    int abortAfter_;
};

// OpenMP threads for CImg's loops while it lives.
class OmpThreads {
public:
    explicit OmpThreads(int threads);
    ~OmpThreads();

private:
    int saved_;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

// Bytes of value, least significant first, as BMP and TIFF headers hold them;
// and big-endian, as PNG and ICC profiles do.
std::string LittleEndian(uint64_t value, int bytes);
std::string BigEndian32(uint32_t value);
// A PNG chunk with a correct CRC, whatever its data hold.
std::string PngChunk(const std::string& type, const std::string& data);
// A 118-byte uncompressed 24-bit BMP that claims width x height pixels.
std::string ClaimingBmp(uint32_t width, uint32_t height);

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    std::string path(const std::string& name) const { return folder_ + "/" + name; }
    std::set<std::string> files() const;  // the names in the folder
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};
