// Helpers shared by the core's tests: synthetic pictures, samples, progress
// counting, thread counts, files and a scratch folder.
#pragma once

#include <atomic>
#include <string>

#include "picbuf/picbuf.h"
#include "picbuf/run_control.h"

// A photograph-like test picture: gradients, a few hard-edged shapes and a
// little deterministic noise, at any size, depth (8, 16, 32) and component
// count. The caller owns the buffer (holder.buf).
void MakeTestPicture(PicBufHolder& holder, int width, int height, int components, int bitsPerComponent,
                     unsigned seed = 1);

// A picture whose every byte is value.
void MakeFilled(PicBufHolder& holder, int width, int height, int components, int bitsPerComponent, uint8_t value);

// holder becomes a copy of picture.
void CopyOf(PicBufHolder& holder, const SBxPicBuf& picture);

// Sample (x, y, c) of an 8-, 16- or 32-bit picture as a double, and back.
double SampleAt(const SBxPicBuf& buf, int x, int y, int c = 0);
void SetSample(SBxPicBuf& buf, int x, int y, int c, double value);

// True when both pictures have the same geometry and the same bytes.
bool SamePixels(const SBxPicBuf& a, const SBxPicBuf& b);

// Samples of component c inside rect of a and b that differ.
int DifferentSamples(const SBxPicBuf& a, const SBxPicBuf& b, const CBxRect& rect, int c);

// Counts progress steps while it lives; clears the abort flag on both ends.
class ProgressCounter {
public:
    ProgressCounter();
    ~ProgressCounter();
    int steps() const { return steps_.load(); }
    int alwaysSteps() const { return always_.load(); }
    // Raise the abort flag once this many steps have been reported (0 = never).
    void abortAfter(int steps) { abortAfter_ = steps; }

private:
    static void Count(int steps, ProgressRule rule, void* context);
    std::atomic<int> steps_{0};
    std::atomic<int> always_{0};
    int abortAfter_ = 0;
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

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    std::string path(const std::string& name) const { return folder_ + "/" + name; }
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};
