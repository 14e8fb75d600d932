// Felt-latency benchmark: the editor's own windows driven by posted input as
// a user drives them, timed from the input to the end of the view's paint
// that shows the new preview. For each method at 512 x 512 and 4000 x 3000
// it prints, per kind of input, the median and the worst of several tries;
// "alone", the same engine work run straight on the benchmark's thread; and
// the median split of the way: input to the dialog's request ("to req"), to
// the engine's start on its thread ("start"), the engine, its way back to the
// dialog, the copy into the display picture, the render into the back
// buffer and the paint. "runs" is the most engine runs one input started.
// The moments come from the editor's PreviewStamps.
//
// At 4000 x 3000 it also times each method's full run in the editor against
// the same engine run straight on the benchmark's thread, as the tool runs it.
//
//   felt_latency.exe [tries [run tries]]   (bench/felt-latency runs it under Wine)
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/preview_stamps.h"
#include "dialogs/dialogs.h"
#include "dialogs/repaint_frame.h"
#include "engines/original/original.h"
#include "engines/redraw/redraw.h"
#include "engines/smudge/smudge.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "tests/gui/gui_harness.h"

namespace {

HWND window;
double ticksPerMs;

double Ms(LONGLONG from, LONGLONG to) { return (to - from) / ticksPerMs; }

LONGLONG Now() {
    LONGLONG now;
    Stamp(now);
    return now;
}

// One input's way to the screen, in milliseconds.
struct Try {
    double felt, toRequest, toEngine, engine, back, copy, render, paint;
    int runs;
};

// Waits until the preview an input started is on the screen and nothing
// more follows: a second computation shows as more runs and a later paint.
bool Measure(LONGLONG input, LONG runsBefore, Try& result) {
    const auto shown = [&] {
        return previewStamps.landed > input && !RepaintPreviewBusy() &&
               previewStamps.painted >= previewStamps.rendered && previewStamps.rendered > input;
    };
    if (!PumpUntil(shown, 60000)) return false;
    PumpMessages(250);  // a notification that comes after the first preview
    if (!PumpUntil(shown, 60000)) return false;
    const PreviewStamps s = previewStamps;
    result = Try{Ms(input, s.painted),      Ms(input, s.requested),  Ms(s.requested, s.engineStart),
                 Ms(s.engineStart, s.engineEnd), Ms(s.engineEnd, s.landed), Ms(s.landed, s.copied),
                 Ms(s.copied, s.rendered),  Ms(s.rendered, s.painted), static_cast<int>(s.computations - runsBefore)};
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

RepaintFrame& FrameOf(HWND dialog) { return *reinterpret_cast<RepaintFrame*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

// The engine alone: the dialog's preview work with its settings as they
// stand, run on this thread over a copy of the framed region, median of 3.
// `fresh` makes Redraw's edge plane again each time, as a new Details does.
double EngineAlone(HWND dialog, bool fresh) {
    RepaintFrame& frame = FrameOf(dialog);
    const CBxRect r = frame.previewRect;
    PicBufHolder in, out;
    CBxPicBufAPI::ReinitHeap(in.buf, r.right - r.left, r.bottom - r.top, frame.loaded->components,
                             frame.loaded->bitsPerComponent);
    CBxPicBufAPI::ReinitHeap(out.buf, in.buf);
    CBxPicBufAPI::Copy(in.buf, *frame.loaded, r);
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        if (fresh && frame.redrawCache) frame.redrawCache->details = 0;
        const PreviewTask task = frame.method->preparePreview(frame);
        const LONGLONG start = Now();
        task(out.buf, in.buf);
        times.push_back(Ms(start, Now()));
    }
    return Median(times);
}

// Runs `input` (which posts the input and returns its moment) `tries`
// times after `before`, and prints one row.
void Row(HWND dialog, const char* method, const char* size, const char* what, int tries,
         const std::function<void(int)>& before, const std::function<LONGLONG(int)>& input, bool fresh = false) {
    std::vector<Try> all;
    for (int i = 0; i < tries; ++i) {
        if (before) before(i);
        PumpUntil([] { return !RepaintPreviewBusy(); }, 60000);
        PumpMessages(100);
        const LONG runs = previewStamps.computations;
        Try one;
        if (Measure(input(i), runs, one)) all.push_back(one);
    }
    if (all.empty()) {
        printf("%-9s %-10s %-14s no preview shown\n", method, size, what);
        fflush(stdout);
        return;
    }
    std::vector<double> felt, toRequest, toEngine, engine, back, copy, render, paint;
    int runs = 0;
    for (const Try& t : all) {
        felt.push_back(t.felt), toRequest.push_back(t.toRequest), toEngine.push_back(t.toEngine);
        engine.push_back(t.engine), back.push_back(t.back), copy.push_back(t.copy), render.push_back(t.render);
        paint.push_back(t.paint);
        runs = std::max(runs, t.runs);
    }
    printf("%-9s %-10s %-14s %6.0f %6.0f %6.0f %6.1f %6.1f %6.0f %5.1f %5.1f %6.1f %5.1f %4d\n", method, size, what,
           Median(felt), *std::max_element(felt.begin(), felt.end()), EngineAlone(dialog, fresh), Median(toRequest),
           Median(toEngine), Median(engine), Median(back), Median(copy), Median(render), Median(paint), runs);
    fflush(stdout);
}

// --- inputs ----------------------------------------------------------------

LONGLONG ClickControl(HWND control, POINT point) {
    ClientToScreen(control, &point);
    SetCursorPos(point.x, point.y);
    PumpMessages(30);
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    const LONGLONG moment = Now();
    SendInput(2, clicks, sizeof(INPUT));
    return moment;
}

LONGLONG ClickCentre(HWND control) {
    RECT client;
    GetClientRect(control, &client);
    return ClickControl(control, POINT{client.right / 2, client.bottom / 2});
}

// A click on the channel beside the thumb: right of it on even tries, left
// on odd ones, so the slider goes back and forth by one step.
LONGLONG ClickTrack(HWND slider, int i) {
    RECT channel, thumb;
    SendMessageW(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    SendMessageW(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    const int y = (channel.top + channel.bottom) / 2;
    return ClickControl(slider, POINT{i % 2 ? (channel.left + thumb.left) / 2 : (thumb.right + channel.right) / 2, y});
}

LONGLONG PressArrow(HWND control, bool forward, WORD forwardKey = VK_RIGHT, WORD backKey = VK_LEFT) {
    SetForegroundWindow(window);
    SetFocus(control);
    PumpMessages(30);
    const LONGLONG moment = Now();
    SendKeys({forward ? forwardKey : backKey});
    return moment;
}

// The harness's mouse input at a point of the main window's client area.
void MouseTo(POINT client, DWORD button) {
    ClientToScreen(window, &client);
    MoveMouse(client, button);
}

// Takes the frame by its middle, moves it 40 screen pixels right (left on
// odd tries) and drops it: the release is the input.
LONGLONG DropFrame(HWND dialog, int i) {
    const RepaintFrame& frame = FrameOf(dialog);
    int x, y;
    ViewMap().MapPointSrcToDst(x, y, (frame.previewArea[0] + frame.previewArea[2]) / 2,
                               (frame.previewArea[1] + frame.previewArea[3]) / 2);
    const int to = x + (i % 2 ? -40 : 40);
    SetForegroundWindow(window);
    MouseTo(POINT{x, y}, 0);
    MouseTo(POINT{x, y}, MOUSEEVENTF_LEFTDOWN);
    MouseTo(POINT{(x + to) / 2, y}, 0);
    MouseTo(POINT{to, y}, 0);
    const LONGLONG moment = Now();
    MouseTo(POINT{to, y}, MOUSEEVENTF_LEFTUP);
    return moment;
}

// --- the methods -------------------------------------------------------------

HWND OpenWithPreview(int command) {
    SendMessageW(window, WM_COMMAND, command, 0);
    HWND dialog = activeRepaintDialog;
    if (!dialog) return nullptr;
    PumpMessages(200);
    ClickCentre(GetDlgItem(dialog, IDC_PREVIEW));
    PumpUntil([] { return !RepaintPreviewBusy() && previewFrame; }, 60000);
    PumpMessages(200);
    return dialog;
}

void Close(HWND dialog) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    PumpMessages(200);
}

// The rows every method has: its slider clicked and stepped by key, the
// Preview box checked, the frame dropped.
void CommonRows(const char* method, const char* size, HWND dialog, int sliderId, int tries) {
    HWND slider = GetDlgItem(dialog, sliderId), preview = GetDlgItem(dialog, IDC_PREVIEW);
    Row(dialog, method, size, "slider click", tries, nullptr, [&](int i) { return ClickTrack(slider, i); });
    Row(dialog, method, size, "arrow key", tries, nullptr, [&](int i) { return PressArrow(slider, i % 2 == 0); });
    Row(dialog, method, size, "Preview box", tries, [&](int) { ClickCentre(preview); },
        [&](int) { return ClickCentre(preview); });
    Row(dialog, method, size, "frame drop", tries, nullptr, [&](int i) { return DropFrame(dialog, i); });
}

void Original(const char* size, int tries) {
    HWND dialog = OpenWithPreview(IDM_REPAINT_ORIGINAL);
    if (!dialog) return;
    CommonRows("Original", size, dialog, IDC_ORIG_SMOOTHNESS, tries);
    HWND button = GetDlgItem(dialog, IDC_ORIG_DEFAULT);
    Row(dialog, "Original", size, "Default", tries, nullptr, [&](int) { return ClickCentre(button); });
    Close(dialog);
}

void Smudge(const char* size, int tries) {
    HWND dialog = OpenWithPreview(IDM_REPAINT_SMUDGE);
    if (!dialog) return;
    CommonRows("Smudge", size, dialog, IDC_SMUDGE_DETAILS, tries);
    Close(dialog);
}

void Redraw(const char* size, int tries) {
    uiFuseToImage = 1;
    HWND dialog = OpenWithPreview(IDM_REPAINT_REDRAW);
    if (!dialog) return;
    CommonRows("Redraw", size, dialog, IDC_REDRAW_CUT, tries);
    HWND details = GetDlgItem(dialog, IDC_REDRAW_DETAILS), level = GetDlgItem(dialog, IDC_REDRAW_LEVEL);
    Row(dialog, "Redraw", size, "Details click", tries, nullptr, [&](int i) { return ClickTrack(details, i); }, true);
    Row(dialog, "Redraw", size, "level box", tries, nullptr, [&](int) {
        const bool down = SendMessageW(level, CB_GETCURSEL, 0, 0) < SendMessageW(level, CB_GETCOUNT, 0, 0) - 1;
        return PressArrow(level, down, VK_DOWN, VK_UP);
    });
    Close(dialog);
}

// A full run: OK clicked to the dialog's end with the result in the view,
// against the same engine with the same settings run straight on this
// thread, as the command-line tool runs it (best of `tries` each: the
// machine is shared).
void RunRow(const char* method, const char* size, int command, int tries) {
    double felt = 1e30, alone = 1e30;
    for (int i = 0; i < tries; ++i) {
        app.unsavedResult = false;  // the last run's result: no question before the next
        SendMessageW(window, WM_COMMAND, command, 0);
        HWND dialog = activeRepaintDialog;
        if (!dialog) return;
        PumpMessages(300);
        const LONGLONG start = ClickCentre(GetDlgItem(dialog, IDOK));
        if (!PumpUntil([] { return !activeRepaintDialog; }, 600000)) return;
        felt = std::min(felt, Ms(start, Now()));
        PicBufHolder result;
        CBxPicBufAPI::ReinitHeap(result.buf, document.original);
        const LONGLONG engineStart = Now();
        if (command == IDM_REPAINT_ORIGINAL)
            OriginalRepaint(result.buf, document.original, OriginalParamsFromPositions(SettingPositions(kOriginalParams)));
        else if (command == IDM_REPAINT_SMUDGE)
            SmudgeRepaint(result.buf, document.original, SmudgeParamsFromPositions(SettingPositions(kSmudgeParams)));
        else
            RedrawRepaint(result.buf, document.original, RedrawParamsFromPositions(SettingPositions(kRedrawParams)));
        alone = std::min(alone, Ms(engineStart, Now()));
    }
    printf("%-9s %-10s %-14s %6.0f %6s %6.0f   ratio %.3f\n", method, size, "full run", felt, "", alone, felt / alone);
    fflush(stdout);
}

// Soft gradients, hard-edged shapes and a little noise, like a photo to the engines.
COLORREF Scene(int x, int y) {
    const int dx = x % 160 - 80, dy = y % 120 - 60;
    const int noise = static_cast<int>((static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u) >> 28);
    if (dx * dx + dy * dy < 40 * 40) return RGB(200, 60 + y % 100 + noise, 40);
    if ((x / 40 + y / 30) % 5 == 0) return RGB(30 + noise, 40, 120 + x % 120);
    return RGB(90 + x % 150, 150 + y % 90 + noise, 200 - (x + y) % 160);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartTest(3000);
    const int tries = __argc > 1 && __wargv ? _wtoi(__wargv[1]) : 5;  // 0: the full runs only
    const int runTries = __argc > 2 && __wargv ? _wtoi(__wargv[2]) : 2;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerMs = frequency.QuadPart / 1000.0;
    struct Size {
        const char* name;
        int width, height;
    } sizes[] = {{"512x512", 512, 512}, {"4000x3000", 4000, 3000}};
    window = OpenEditorWindow(instance, 1000, 700);
    if (!window) return 1;
    printf("felt latency in ms, median of %d tries (worst: the slowest), split by medians;\n"
           "alone: the same engine work on the benchmark's thread\n", tries);
    printf("%-9s %-10s %-14s %6s %6s %6s %6s %6s %6s %5s %5s %6s %5s %4s\n", "method", "picture", "input", "felt",
           "worst", "alone", "to req", "start", "engine", "back", "copy", "render", "paint", "runs");
    for (const Size& size : sizes) {
        const std::wstring path = TestFilesFolder() + L"felt-" + Widen(size.name) + L".bmp";
        if (!WriteTestPicture(path, size.width, size.height, SaveFormatBmp, Scene)) {
            printf("cannot write %s\n", Utf8(path.c_str()).c_str());
            return 1;
        }
        DropFile(window, path);
        PumpMessages(300);
        if (tries > 0) {
            Original(size.name, tries);
            Smudge(size.name, tries);
            Redraw(size.name, tries);
        }
        if (size.width * size.height > 1000000 && runTries > 0) {
            RunRow("Original", size.name, IDM_REPAINT_ORIGINAL, runTries);
            RunRow("Smudge", size.name, IDM_REPAINT_SMUDGE, runTries);
            RunRow("Redraw", size.name, IDM_REPAINT_REDRAW, runTries);
        }
        DeleteFileW(path.c_str());
    }
    CloseMainWindow(window);
    return 0;
}
