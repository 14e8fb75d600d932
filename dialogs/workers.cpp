// The worker threads of full runs: each runs its method's engine once over
// the whole picture and tells the open dialog how the run ended. The main
// window fills the job record and starts the thread; it keeps the thread's
// handle so that nothing the worker uses is freed while it runs.
#include <atomic>
#include <exception>

#include "dialogs/repaint_frame.h"
#include "engines/original/original.h"
#include "engines/redraw/redraw.h"
#include "engines/smudge/smudge.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

// What a full run does: the method, its pictures and its parameters from
// the settings. One record, filled just before the worker starts.
struct RepaintJob {
    RepaintMethod method;
    const SBxPicBuf* source;
    SBxPicBuf* result;
    OriginalParams original;
    SmudgeParams smudge;
    RedrawParams redraw;
};
RepaintJob job;

HANDLE worker;
std::atomic<int> runFailure{0};

// Engines also report from threads of their own, which under Wine cannot
// call the window functions: their steps are held until the next report
// from the main thread or the worker.
thread_local bool windowThread = false;
std::atomic<int> heldSteps{0};

// Smudge and Redraw report only while the bar is shown; Original always.
void SendProgress(int steps, ProgressRule rule, void*) {
    if (!windowThread) {
        heldSteps += steps;
        return;
    }
    steps += heldSteps.exchange(0);
    HWND dialog = activeRepaintDialog;
    HWND bar = dialog ? GetDlgItem(dialog, IDC_PROGRESS) : nullptr;
    if (!bar || steps == 0 || (rule == ProgressRule::WhenBarShown && !IsWindowVisible(bar))) return;
    SendMessageW(bar, PBM_DELTAPOS, steps, 0);
}

void RunEngine(const RepaintJob& run) {
    switch (run.method) {
    case RepaintOriginal: OriginalRepaint(*run.result, *run.source, run.original); break;
    case RepaintSmudge: SmudgeRepaint(*run.result, *run.source, run.smudge); break;
    case RepaintRedraw: RedrawRepaint(*run.result, *run.source, run.redraw); break;
    }
}

// A completed run has the view take the result before the dialog hears of
// it; anything an engine throws ends the run as aborted, and the dialog
// reports it once. Kept apart from the thread procedures: those use the
// Windows calling convention under Wine, and an exception is not reliably
// caught inside such a function.
NOINLINE_FOR_EXCEPTIONS DWORD RunToEnd(const RepaintJob& run) {
    windowThread = true;
    try {
        RunEngine(run);
    } catch (const std::exception& error) {
        runFailure = IsMemoryFailure(error) ? kNotEnoughMemoryEntry : kFormatNotSupportedEntry;
        RequestAbort(true);
    } catch (...) {
        runFailure = kFormatNotSupportedEntry;
        RequestAbort(true);
    }
    SendProgress(0, ProgressRule::Always, nullptr);  // what helper threads reported last
    if (!AbortPolled()) {
        SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
        PostMessageW(activeRepaintDialog, UM_RUN_DONE, 0, 0);
    } else {
        PostMessageW(activeRepaintDialog, UM_RUN_ABORTED, 0, 0);
    }
    return 0;
}

DWORD WINAPI RepaintWorker(LPVOID run) { return RunToEnd(*static_cast<const RepaintJob*>(run)); }

}  // namespace

void StartRepaintWorker(RepaintMethod method, const SBxPicBuf& source, SBxPicBuf& result) {
    if (worker) CloseHandle(worker);  // the previous run has told its end already
    worker = nullptr;
    runFailure = 0;
    heldSteps = 0;  // what previews' threads reported belongs to no run
    job.method = method;
    job.source = &source;
    job.result = &result;
    job.original = OriginalParamsFromPositions(SettingPositions(kOriginalParams));
    job.smudge = SmudgeParamsFromPositions(SettingPositions(kSmudgeParams));
    job.redraw = RedrawParamsFromPositions(SettingPositions(kRedrawParams));
    worker = CreateThread(nullptr, 0, RepaintWorker, &job, 0, nullptr);
    if (!worker) {
        runFailure = kNotEnoughMemoryEntry;
        PostMessageW(activeRepaintDialog, UM_RUN_ABORTED, 0, 0);
    }
}

bool RepaintWorkerRunning() { return worker && WaitForSingleObject(worker, 0) == WAIT_TIMEOUT; }

void StopRepaintWorker() {
    if (!worker) return;
    RequestAbort(true);
    // The worker sends progress and its result message to this thread and
    // waits for the answers, so they are handled while waiting.
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(worker);
    worker = nullptr;
}

int TakeRunFailure() { return runFailure.exchange(0); }

void InstallRepaintProgress() {
    windowThread = true;
    SetProgressHandler(SendProgress, nullptr);
}
