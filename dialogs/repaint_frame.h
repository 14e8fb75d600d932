// What the three repaint dialogs share: the frame's state, the table of what
// each method adds, and small control helpers. Internal to dialogs/.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>

#include "dialogs/dialogs.h"
#include "picbuf/picbuf.h"
#include "picbuf/run_control.h"

struct RepaintFrame;
struct RedrawPreviewCache;  // the Redraw dialog's alone

// For a function that catches the engines' exceptions: it must not be
// inlined into a window, dialog or thread procedure, which under Wine use
// the Windows calling convention, where GCC's landing pads are not reliably
// reached.
#if defined(__GNUC__)
#define NOINLINE_FOR_EXCEPTIONS __attribute__((noinline))
#else
#define NOINLINE_FOR_EXCEPTIONS
#endif

using PreviewTask = std::function<void(SBxPicBuf& out, const SBxPicBuf& in)>;

// What one method's dialog adds to the frame.
struct MethodDialog {
    int resource;       // dialog template
    UINT startMessage;  // posted to the main window by OK
    // Sliders, boxes, value texts and texts from the language table.
    void (*open)(HWND dialog, RepaintFrame& frame);
    // Slider `id` stands at `position`: store it and show its value.
    void (*sliderMoved)(HWND dialog, int id, int position);
    // The method's own buttons and boxes; false for commands it does not know.
    bool (*command)(HWND dialog, RepaintFrame& frame, int id, int code);
    // Takes the settings as they stand, on the dialog's thread, and returns
    // the work that repaints `in`, the framed region of the loaded picture,
    // into `out` of the same geometry, on the preview thread.
    PreviewTask (*preparePreview)(RepaintFrame& frame);
    // Enables or disables the controls a full run locks.
    void (*enableForRun)(HWND dialog, bool enable);
    // Before a full run: the progress bar's maximum and start position.
    void (*prepareRun)(RepaintFrame& frame, int& maximum, int& start);
};

extern const MethodDialog kOriginalDialog;
extern const MethodDialog kSmudgeDialog;
extern const MethodDialog kRedrawDialog;

// The preview computed off the dialog's thread, one at a time. Each request
// takes a new number; a result lands only when its number is still the
// newest, so a superseded one is dropped.
struct PreviewWork {
    HANDLE thread;       // the computation under way, or null
    unsigned newest;     // number of the newest request
    unsigned computing;  // number of the one the thread works on
    bool pending;        // the newest waits for the thread to end
    PreviewTask next;    // its work and region
    CBxRect nextRect;
    PreviewTask task;    // the thread's
    CBxRect rect;
    PicBufHolder in, out;
    int failure;         // language entry of what failed, 0 when nothing did
};

// One open dialog's state, made when it opens and freed when it is destroyed.
struct RepaintFrame {
    const MethodDialog* method;
    SBxPicBuf* loaded;   // the picture as opened
    SBxPicBuf* display;  // what the view shows; a full run writes here
    double previewArea[4];  // left, top, right, bottom in picture pixels, unclamped
    CBxRect previewRect;    // previewArea rounded and clamped; previewFrame points here
    CBxRect changedRect;    // where the display picture may differ from the loaded one: the shown
                            // preview's region, empty, or all of it after a run
    bool overFrame;       // the cursor is over the frame: a press starts a drag
    bool dragging;        // the frame follows the mouse
    POINT lastMouse;      // of the last drag step, in main-window client coordinates
    bool closing;         // OK or Cancel was pressed
    bool runFinished;     // a full run completed
    bool running;         // a worker writes the display picture
    std::shared_ptr<RedrawPreviewCache> redrawCache;  // Redraw's whole-picture edge plane; the preview thread's
    PreviewWork preview;
};

// The dialog procedure all three dialogs share, and each dialog's own,
// which calls it with its method.
INT_PTR RepaintFrameProc(const MethodDialog& method, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OriginalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SmudgeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK RedrawDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The language entry of what made the last run fail (0: nothing failed);
// reading it clears it.
int TakeRunFailure();

// Sends the preview request to the dialog.
void RequestPreview(HWND dialog);

// Range, page and line size 0 (a click on the channel or an arrow key moves
// one step) and position.
void SetupSlider(HWND dialog, int id, int minimum, int maximum, int position);
// The controls' texts from the language table: pairs of control and entry.
void SetLanguageTexts(HWND dialog, std::initializer_list<std::pair<int, int>> controlsAndEntries);
void EnableControls(HWND dialog, std::initializer_list<int> ids, bool enable);
bool IsChecked(HWND dialog, int id);
