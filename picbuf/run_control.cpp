#include "run_control.h"

#include <cstring>
#include <mutex>
#include <new>

std::atomic<uint8_t> abortRequested{0};

namespace {
// Handler and context change together; steps are few (tens to hundreds a
// run), so a lock around the pair costs nothing.
std::mutex progressLock;
ProgressHandler progressHandler = nullptr;
void* progressContext = nullptr;
}  // namespace

void SetProgressHandler(ProgressHandler handler, void* context) {
    std::lock_guard<std::mutex> guard(progressLock);
    progressHandler = handler;
    progressContext = handler ? context : nullptr;
}

void ReportProgress(int steps, ProgressRule rule) {
    ProgressHandler handler;
    void* context;
    {
        std::lock_guard<std::mutex> guard(progressLock);
        handler = progressHandler;
        context = progressContext;
    }
    // Called outside the lock, so a handler may block (the editor's
    // synchronous progress message) without holding up other threads.
    if (handler) handler(steps, rule, context);
}

bool IsMemoryFailure(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error)) return true;
    return std::strstr(error.what(), "allocate") != nullptr;
}
