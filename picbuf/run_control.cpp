#include "run_control.h"

std::atomic<uint8_t> abortRequested{0};

namespace {
// Handler and context are swapped together, so a step never sees one
// without the other.
struct ProgressTarget {
    ProgressHandler handler;
    void* context;
};
std::atomic<const ProgressTarget*> progressTarget{nullptr};
ProgressTarget targets[2];
std::atomic<int> nextTarget{0};
}  // namespace

void SetProgressHandler(ProgressHandler handler, void* context) {
    if (!handler) {
        progressTarget.store(nullptr, std::memory_order_release);
        return;
    }
    // Installing happens between runs, never while an engine reports, so two
    // alternating slots are enough to publish a new pair safely.
    int slot = nextTarget.fetch_add(1, std::memory_order_relaxed) & 1;
    targets[slot] = ProgressTarget{handler, context};
    progressTarget.store(&targets[slot], std::memory_order_release);
}

void ReportProgress(int steps, ProgressRule rule) {
    const ProgressTarget* target = progressTarget.load(std::memory_order_acquire);
    if (target) target->handler(steps, rule, target->context);
}
