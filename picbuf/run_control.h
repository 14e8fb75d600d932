// Abort flag and progress reporting: the seam between the engines and
// whatever runs them (the editor's worker threads, the command-line tool,
// the tests). Engines poll the flag between steps and report fixed numbers
// of progress steps; the program decides what a step does.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>

// Set by whoever wants a run stopped, polled by the engines and inside
// CImg's long loops. Written and read on different threads.
extern std::atomic<uint8_t> abortRequested;

inline bool AbortPolled() {
    return abortRequested.load(std::memory_order_relaxed) != 0;
}

inline void RequestAbort(bool value) {
    abortRequested.store(value ? 1 : 0, std::memory_order_relaxed);
}

// When a step reaches the user: Original reports every step, also during a
// preview; Smudge and Redraw only while the run's progress bar is shown.
enum class ProgressRule { Always, WhenBarShown };

// Called on the engine's thread (possibly several threads at once for
// engines that split their work), so handlers must be thread-safe.
using ProgressHandler = void (*)(int steps, ProgressRule rule, void* context);

// Installs the handler for the whole process; null sends steps nowhere.
void SetProgressHandler(ProgressHandler handler, void* context);

void ReportProgress(int steps, ProgressRule rule);

// True for what an engine throws when memory runs short: std::bad_alloc, or
// CImg's report that it could not allocate an image.
bool IsMemoryFailure(const std::exception& error);
