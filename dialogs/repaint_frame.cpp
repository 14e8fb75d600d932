// The frame the three repaint dialogs share: opening and docking, the
// preview of a framed region and the dragging of its frame, the slider
// handling, the start and end of a full run, OK and Cancel. The dialogs'
// look is the skin's (SkinDialogMessage).
#include "dialogs/repaint_frame.h"

#include <math.h>

#include <algorithm>
#include <exception>
#include <new>

#include "app/preview_stamps.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skin/gdi.h"
#include "skin/skin.h"

namespace {

const int kPreviewHalfSize = 150;  // the frame is at most 300 x 300 picture pixels
// Toolbar buttons a repaint dialog locks while it is open.
const int kLockedButtons[] = {IDM_OPEN, IDM_SAVE_AS, IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW,
                              IDM_MENU};

RepaintFrame* FrameOf(HWND dialog) { return reinterpret_cast<RepaintFrame*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

void LockToolbar(bool locked) {
    for (int command : kLockedButtons) EnableToolbarButton(command, !locked);
}

bool IsEmpty(const CBxRect& r) { return r.left >= r.right || r.top >= r.bottom; }
bool SameRect(const CBxRect& a, const CBxRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The display picture may differ anywhere from the loaded one (a run writes it).
void MarkAllChanged(RepaintFrame& frame) {
    frame.changedRect = CBxRect{0, 0, frame.loaded->width, frame.loaded->height};
}

// The display picture shows the loaded one again: only what a preview
// changed is copied back, and all of it is re-made when a run left it in
// another format.
void ShowLoadedPicture(RepaintFrame& frame) {
    SBxPicBuf& display = *frame.display;
    const SBxPicBuf& loaded = *frame.loaded;
    if (display.width != loaded.width || display.height != loaded.height || display.components != loaded.components ||
        display.bitsPerComponent != loaded.bitsPerComponent) {
        CBxPicBufAPI::ReinitHeap(display, loaded);
        CBxPicBufAPI::Copy(display, loaded);
    } else if (!IsEmpty(frame.changedRect)) {
        const CBxRect& r = frame.changedRect;
        CBxPicBufAPI::CopyRect(display, loaded, CBxPoint{r.left, r.top}, CBxPoint{r.left, r.top},
                               CBxSize{r.right - r.left, r.bottom - r.top});
    }
    frame.changedRect = CBxRect{0, 0, 0, 0};
}

// While a worker writes the display picture the view may only draw from its
// cached copy.
void RefreshView(const RepaintFrame& frame) {
    SendMessageW(app.mainWindow, frame.running ? UM_REDRAW_FRAME : UM_RESULT_CHANGED, 0, 0);
}

void ReportFailure(const std::exception& error) {
    MessageBoxW(app.mainWindow, Lang(IsMemoryFailure(error) ? kNotEnoughMemoryEntry : kFormatNotSupportedEntry), L"",
                MB_OK | MB_ICONWARNING);
}

int ClampSide(double value, int limit) {
    const int n = static_cast<int>(value + 0.5);
    const int clamped = std::min(n, limit);
    return clamped < 1 ? 0 : clamped;
}

void ClampPreviewRect(RepaintFrame& frame) {
    const int width = frame.loaded->width, height = frame.loaded->height;
    frame.previewRect = CBxRect{ClampSide(frame.previewArea[0], width), ClampSide(frame.previewArea[1], height),
                                ClampSide(frame.previewArea[2], width), ClampSide(frame.previewArea[3], height)};
}

bool PointIn(HWND child, POINT point) {
    if (!child) return false;
    const RECT rect = WindowRectIn(child, app.mainWindow);
    return PtInRect(&rect, point) != FALSE;
}

// --- preview -------------------------------------------------------------

void CancelPreview(RepaintFrame& frame);

void PreviewToggled(HWND dialog, RepaintFrame& frame) {
    if (IsChecked(dialog, IDC_PREVIEW)) {
        // The frame goes round the picture point in the middle of the view.
        RECT mainRect, containerRect = {};
        GetWindowRect(app.mainWindow, &mainRect);
        if (dockContainer.window) GetWindowRect(dockContainer.window, &containerRect);
        double sx, sy;
        ViewMap().MapPointDstToSrc(sx, sy, (containerRect.left - mainRect.left) / 2,
                                   (mainRect.bottom - mainRect.top) / 2);
        const double cx = floor(sx + 0.5), cy = floor(sy + 0.5);
        frame.previewArea[0] = std::max(cx - kPreviewHalfSize, 0.0);
        frame.previewArea[1] = std::max(cy - kPreviewHalfSize, 0.0);
        frame.previewArea[2] = std::min(cx + kPreviewHalfSize, static_cast<double>(frame.display->width));
        frame.previewArea[3] = std::min(cy + kPreviewHalfSize, static_cast<double>(frame.display->height));
        ClampPreviewRect(frame);
        previewFrame = &frame.previewRect;
        frame.overFrame = false;
        RequestPreview(dialog);
    } else {
        previewFrame = nullptr;
        CancelPreview(frame);
        if (!frame.running) ShowLoadedPicture(frame);
        frame.overFrame = false;
        RefreshView(frame);
    }
    frame.dragging = false;
}

// Puts the finished preview into the display picture: outside the frame
// the picture stays unprocessed. A preview elsewhere is taken away first.
void ShowPreview(RepaintFrame& frame, const SBxPicBuf& out, const CBxRect& r) {
    if (!SameRect(frame.changedRect, r)) ShowLoadedPicture(frame);
    CBxPicBufAPI::CopyRect(*frame.display, out, CBxPoint{r.left, r.top}, CBxPoint{0, 0},
                           CBxSize{r.right - r.left, r.bottom - r.top});
    frame.changedRect = r;
}

// The view shows what changed in the display picture: the old preview's
// region and the new one, or all of it when the old one was not known.
void ShowChange(const CBxRect& before, const CBxRect& now, const RepaintFrame& frame) {
    if (SameRect(before, CBxRect{0, 0, frame.loaded->width, frame.loaded->height})) {
        SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
        return;
    }
    if (!IsEmpty(before) && !SameRect(before, now))
        SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, reinterpret_cast<LPARAM>(&before));
    SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, reinterpret_cast<LPARAM>(&now));
}

// Engine failures are caught here, apart from the thread procedure (see
// NOINLINE_FOR_EXCEPTIONS); an abort only means the result is not wanted.
NOINLINE_FOR_EXCEPTIONS void ComputePreview(PreviewWork& work) {
    try {
        work.task(work.out.buf, work.in.buf);
    } catch (const std::exception& error) {
        if (!AbortPolled()) work.failure = IsMemoryFailure(error) ? kNotEnoughMemoryEntry : kFormatNotSupportedEntry;
    } catch (...) {
        if (!AbortPolled()) work.failure = kFormatNotSupportedEntry;
    }
}

struct PreviewThreadStart {
    HWND dialog;
    PreviewWork* work;
};

DWORD WINAPI PreviewThread(LPVOID parameter) {
    const PreviewThreadStart start = *static_cast<PreviewThreadStart*>(parameter);
    delete static_cast<PreviewThreadStart*>(parameter);
    InterlockedIncrement(&previewStamps.computations);
    Stamp(previewStamps.engineStart);
    ComputePreview(*start.work);
    Stamp(previewStamps.engineEnd);
    PostMessageW(start.dialog, UM_PREVIEW_DONE, start.work->computing, 0);
    return 0;
}

void ReleasePreviewBuffers(PreviewWork& work) {
    work.task = nullptr;
    CBxPicBufAPI::DoneHeap(work.in.buf);
    CBxPicBufAPI::DoneHeap(work.out.buf);
}

// Waits for the thread to end; its result, if any, is dropped by the caller.
void JoinPreviewThread(PreviewWork& work) {
    if (!work.thread) return;
    WaitForSingleObject(work.thread, INFINITE);
    CloseHandle(work.thread);
    work.thread = nullptr;
}

// Starts the newest request on a thread of its own. A frame cut to nothing
// shows the loaded picture at once.
NOINLINE_FOR_EXCEPTIONS void StartPreviewThread(HWND dialog, RepaintFrame& frame) {
    PreviewWork& work = frame.preview;
    work.pending = false;
    const CBxRect r = work.nextRect;
    const int width = r.right - r.left, height = r.bottom - r.top;
    const SBxPicBuf& loaded = *frame.loaded;
    if (width <= 0 || height <= 0) {
        ShowLoadedPicture(frame);
        SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
        return;
    }
    work.task = std::move(work.next);
    work.next = nullptr;
    work.rect = r;
    work.computing = work.newest;
    work.failure = 0;
    PreviewThreadStart* start = nullptr;
    try {
        if (!CBxPicBufAPI::ReinitHeap(work.in.buf, width, height, loaded.components, loaded.bitsPerComponent) ||
            !CBxPicBufAPI::ReinitHeap(work.out.buf, work.in.buf) || !work.in->pixels || !work.out->pixels)
            throw std::bad_alloc();
        CBxPicBufAPI::Copy(work.in.buf, loaded, r);
        start = new PreviewThreadStart{dialog, &work};
    } catch (const std::exception& error) {
        ReleasePreviewBuffers(work);
        ShowLoadedPicture(frame);
        SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
        ReportFailure(error);
        return;
    }
    RequestAbort(false);
    work.thread = CreateThread(nullptr, 0, PreviewThread, start, 0, nullptr);
    if (!work.thread) {
        delete start;
        ReleasePreviewBuffers(work);
        ShowLoadedPicture(frame);
        SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
        ReportFailure(std::bad_alloc());
    }
}

// Stops the preview under way and forgets any waiting request.
void CancelPreview(RepaintFrame& frame) {
    PreviewWork& work = frame.preview;
    ++work.newest;  // whatever is under way is stale now
    work.pending = false;
    work.next = nullptr;
    if (work.thread) {
        RequestAbort(true);
        JoinPreviewThread(work);
        RequestAbort(false);
    }
    ReleasePreviewBuffers(work);
}

// The thread has finished its work: its result lands when it is still the
// newest request, then a waiting request starts. The result is whole once
// the thread has posted, so it is shown before the thread's exit is waited for.
void OnPreviewDone(HWND dialog, RepaintFrame& frame, unsigned number) {
    PreviewWork& work = frame.preview;
    if (!work.thread || number != work.computing) return;  // cancelled meanwhile
    const bool wanted = number == work.newest && !work.pending && previewFrame && !frame.running &&
                        IsChecked(dialog, IDC_PREVIEW);
    if (wanted) {
        Stamp(previewStamps.landed);
        const CBxRect before = frame.changedRect;
        if (work.failure) {
            ShowLoadedPicture(frame);
        } else {
            ShowPreview(frame, work.out.buf, work.rect);
        }
        Stamp(previewStamps.copied);
        ShowChange(before, work.rect, frame);
    }
    JoinPreviewThread(work);
    const int failure = wanted ? work.failure : 0;
    ReleasePreviewBuffers(work);
    if (work.pending && !frame.running) StartPreviewThread(dialog, frame);
    if (failure) MessageBoxW(app.mainWindow, Lang(failure), L"", MB_OK | MB_ICONWARNING);
}

NOINLINE_FOR_EXCEPTIONS void OnPreviewRequest(HWND dialog, RepaintFrame& frame) {
    Stamp(previewStamps.requested);
    // During a run the worker owns the display picture: the preview follows
    // when the run is aborted (a finished run closes the dialog).
    if (!IsChecked(dialog, IDC_PREVIEW) || frame.running) return;
    if (!previewFrame) {
        CancelPreview(frame);
        ShowLoadedPicture(frame);
        SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
        return;
    }
    // The engine works on a thread of its own, so the window keeps
    // answering; a request made meanwhile stops it and waits its turn.
    PreviewWork& work = frame.preview;
    ++work.newest;
    work.nextRect = frame.previewRect;
    try {
        work.next = frame.method->preparePreview(frame);
    } catch (const std::exception& error) {
        ReportFailure(error);
        return;
    }
    work.pending = true;
    if (work.thread) {
        RequestAbort(true);
        return;
    }
    StartPreviewThread(dialog, frame);
    // The focus stays where the user is working: on a slider, its arrow keys
    // go on moving it.
}

// The mouse over the main window, or WM_SETCURSOR over the dialog itself.
// The frame's drag needs no capture: while the button is held the main
// window goes on hearing the moves over the view.
bool OnFrameMouse(HWND dialog, RepaintFrame& frame, UINT message, POINT point) {
    if (PointIn(dockContainer.window, point) || PointIn(app.toolbar, point)) {
        SetCursorEverywhere(IDC_ARROW);
        frame.overFrame = false;
        return message == WM_SETCURSOR;
    }
    // OK or Cancel was pressed: the cursor stays as it is and the view has the mouse.
    if (frame.closing) return message == WM_SETCURSOR;
    if (message == WM_SETCURSOR || message == WM_LBUTTONDOWN) {
        const CBxPicMap map = ViewMap();
        int x0, y0, x1, y1;
        map.MapPointSrcToDst(x0, y0, frame.previewArea[0], frame.previewArea[1]);
        map.MapPointSrcToDst(x1, y1, frame.previewArea[2], frame.previewArea[3]);
        const bool inside = point.x >= x0 && point.x < x1 && point.y >= y0 && point.y < y1;
        frame.overFrame = (inside && IsChecked(dialog, IDC_PREVIEW)) || frame.dragging;
        SetCursorEverywhere(frame.overFrame ? IDC_SIZEALL : IDC_ARROW);
    }
    switch (message) {
    case WM_SETCURSOR: return true;
    case WM_LBUTTONDOWN:
        if (!frame.overFrame) return false;
        frame.lastMouse = point;
        frame.dragging = true;
        return true;
    case WM_LBUTTONUP:
        if (!frame.dragging) return false;
        frame.dragging = false;
        RequestPreview(dialog);
        return true;
    case WM_MOUSEMOVE: {
        if (!frame.dragging) return false;
        const double dx = (point.x - frame.lastMouse.x) / view.scale, dy = (point.y - frame.lastMouse.y) / view.scale;
        frame.previewArea[0] += dx;
        frame.previewArea[2] += dx;
        frame.previewArea[1] += dy;
        frame.previewArea[3] += dy;
        ClampPreviewRect(frame);
        frame.lastMouse = point;
        SendMessageW(app.mainWindow, UM_REDRAW_FRAME, 0, 0);
        return true;
    }
    }
    return false;
}

// --- sliders ---------------------------------------------------------------

void OnSlider(HWND dialog, RepaintFrame& frame, HWND slider, int code, int thumbPosition) {
    const int p0 = static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0));
    int p = p0;
    switch (code) {
    case TB_LINEUP:
    case TB_PAGEUP: p = p0 - 1; break;
    case TB_LINEDOWN:
    case TB_PAGEDOWN: p = p0 + 1; break;
    case TB_THUMBPOSITION:
    case TB_THUMBTRACK: p = thumbPosition; break;
    }
    SendMessageW(slider, TBM_SETPOS, TRUE, p);
    frame.method->sliderMoved(dialog, GetDlgCtrlID(slider), static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0)));
    // Dragging the thumb updates the value text all along, the preview once.
    if ((p != p0 && code != TB_THUMBTRACK) || code == TB_THUMBPOSITION) RequestPreview(dialog);
    // The thumb is drawn at once, while the preview's engine works.
    RedrawWindow(slider, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

// --- OK, Cancel and the end of a run --------------------------------------

void CloseDialog(HWND dialog, RepaintFrame& frame, bool restoreLoaded) {
    CancelPreview(frame);
    SetFocus(app.mainWindow);
    LockToolbar(false);
    UndockWindow(dialog);
    previewFrame = nullptr;
    activeRepaintDialog = nullptr;
    if (restoreLoaded) ShowLoadedPicture(frame);  // drops the preview
    SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
    DestroyWindow(dialog);
}

void StartRun(HWND dialog, RepaintFrame& frame) {
    frame.method->enableForRun(dialog, false);
    SendMessageW(app.mainWindow, UM_REDRAW_FRAME, 0, 0);
    int maximum = 0, start = 0;
    frame.method->prepareRun(frame, maximum, start);
    SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
    SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, start, 0);
    ShowWindow(GetDlgItem(dialog, IDC_ABORT), SW_SHOW);
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_SHOW);
    RequestAbort(false);
    frame.running = true;
    MarkAllChanged(frame);
    PostMessageW(app.mainWindow, frame.method->startMessage, 0, 0);
}

void OnOkOrCancel(HWND dialog, RepaintFrame& frame, int id) {
    CancelPreview(frame);  // the run writes the display picture and takes the cores
    frame.closing = true;
    repaintDialogOpen = false;
    frame.overFrame = frame.dragging = false;
    if (frame.runFinished) {
        CloseDialog(dialog, frame, false);  // the result stays displayed
        return;
    }
    if (id == IDCANCEL)
        CloseDialog(dialog, frame, true);
    else
        StartRun(dialog, frame);
}

void OnRunDone(HWND dialog, RepaintFrame& frame) {
    frame.closing = false;
    frame.runFinished = true;
    frame.running = false;
    previewFrame = nullptr;
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
    SendMessageW(app.mainWindow, UM_RUN_DONE, 0, 0);
}

void OnRunAborted(HWND dialog, RepaintFrame& frame) {
    frame.closing = false;
    frame.running = false;
    frame.method->enableForRun(dialog, true);
    SendMessageW(app.mainWindow, UM_RUN_ABORTED, 0, 0);
    RequestAbort(false);
    ShowWindow(GetDlgItem(dialog, IDC_ABORT), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_HIDE);
    SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    const int failure = TakeRunFailure();
    if (failure) MessageBoxW(app.mainWindow, Lang(failure), L"", MB_OK | MB_ICONWARNING);
    RequestPreview(dialog);
    SetFocus(dockContainer.window);
}

// --- the dialog procedure ------------------------------------------------

void OnInitDialog(HWND dialog, const MethodDialog& method, Document* document) {
    RepaintFrame* frame = new (std::nothrow) RepaintFrame();
    if (!frame) return;  // OpenRepaintDialog destroys the dialog again
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(frame));
    frame->method = &method;
    frame->closing = frame->runFinished = false;
    repaintDialogOpen = true;
    frame->loaded = &document->original;
    frame->display = &document->result;
    MarkAllChanged(*frame);  // it may show a finished run's result
    ShowLoadedPicture(*frame);
    SendMessageW(app.mainWindow, UM_RESULT_CHANGED, 0, 0);
    RequestAbort(false);
    RECT mainRect;
    GetWindowRect(app.mainWindow, &mainRect);
    SetWindowPos(dialog, nullptr, mainRect.left + 10, mainRect.top + 30, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_ASYNCWINDOWPOS);
    activeRepaintDialog = dialog;
    method.open(dialog, *frame);
    ShowWindow(GetDlgItem(dialog, IDC_ABORT), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_HIDE);
    CheckDlgButton(dialog, IDC_PREVIEW, BST_UNCHECKED);
}

LRESULT Answer(HWND dialog, LRESULT result) {
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace

INT_PTR RepaintFrameProc(const MethodDialog& method, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        OnInitDialog(dialog, method, reinterpret_cast<Document*>(lParam));
        return TRUE;
    }
    RepaintFrame* frame = FrameOf(dialog);
    if (!frame) return FALSE;
    switch (message) {
    case WM_DESTROY:
        CancelPreview(*frame);
        // The view points into this record (closing the main window ends the
        // dialog without Cancel): it must not outlive it.
        if (previewFrame == &frame->previewRect) previewFrame = nullptr;
        SetWindowLongPtrW(dialog, DWLP_USER, 0);
        delete frame;
        return TRUE;
    case WM_COMMAND: {
        int id = LOWORD(wParam), code = HIWORD(wParam);
        // During a run only Abort and the Preview box act: Escape (Cancel)
        // aborts, and OK and the parameter controls wait for the run's end,
        // so the dialog, the settings and the picture being painted agree.
        if (frame->running && id == IDCANCEL) id = IDC_ABORT, code = BN_CLICKED;
        if (frame->running && id != IDC_ABORT && id != IDC_PREVIEW) return TRUE;
        if (id == IDOK || id == IDCANCEL) {
            OnOkOrCancel(dialog, *frame, id);
        } else if (id == IDC_PREVIEW && code == BN_CLICKED) {
            PreviewToggled(dialog, *frame);
        } else if (id == IDC_ABORT && code == BN_CLICKED) {
            RequestAbort(true);
            frame->method->command(dialog, *frame, id, code);
        } else {
            return frame->method->command(dialog, *frame, id, code);
        }
        return TRUE;
    }
    case WM_HSCROLL:
        if (!lParam) return FALSE;
        if (frame->running) return TRUE;
        OnSlider(dialog, *frame, reinterpret_cast<HWND>(lParam), LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return TRUE;
    case UM_PREVIEW:
        OnPreviewRequest(dialog, *frame);
        return TRUE;
    case UM_PREVIEW_DONE:
        OnPreviewDone(dialog, *frame, static_cast<unsigned>(wParam));
        return TRUE;
    case WM_SETCURSOR: {
        // Over the dialog: the arrow, and no frame under it.
        POINT cursor;
        GetCursorPos(&cursor);
        ScreenToClient(app.mainWindow, &cursor);
        OnFrameMouse(dialog, *frame, WM_SETCURSOR, cursor);
        return Answer(dialog, TRUE);
    }
    case UM_RUN_DONE:
        OnRunDone(dialog, *frame);
        return TRUE;
    case UM_RUN_ABORTED:
        OnRunAborted(dialog, *frame);
        return TRUE;
    case WM_LBUTTONUP: {
        // A release here ends a drag of the view begun beside the dialog.
        POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        MapWindowPoints(dialog, app.mainWindow, &point, 1);
        SendMessageW(app.mainWindow, message, wParam, MAKELPARAM(point.x, point.y));
        return TRUE;
    }
    case WM_MOUSEWHEEL:
        // The wheel zooms the view also while the dialog has the focus.
        SendMessageW(app.mainWindow, message, wParam, lParam);
        return TRUE;
    }
    INT_PTR answer = FALSE;
    if (SkinDialogMessage(dialog, message, wParam, lParam, answer)) return answer;
    return FALSE;
}

HWND OpenRepaintDialog(RepaintMethod method, Document& document) {
    struct Entry {
        int resource;
        DLGPROC procedure;
    };
    static const Entry kDialogs[] = {
        {kOriginalDialog.resource, OriginalDialogProc},
        {kSmudgeDialog.resource, SmudgeDialogProc},
        {kRedrawDialog.resource, RedrawDialogProc},
    };
    const Entry& entry = kDialogs[method];
    HWND dialog = CreateDialogParamW(app.instance, MAKEINTRESOURCEW(entry.resource), dockContainer.window,
                                     entry.procedure, reinterpret_cast<LPARAM>(&document));
    if (!dialog) return nullptr;
    if (!FrameOf(dialog)) {
        DestroyWindow(dialog);
        activeRepaintDialog = nullptr;
        repaintDialogOpen = false;
        return nullptr;
    }
    activeRepaintDialog = dialog;
    DockWindow(dialog, 0);
    LayoutDockContainer();
    ShowWindow(dialog, SW_SHOW);
    FocusFirstControl(dialog);  // opened from the keyboard, Tab goes on from here
    LockToolbar(true);
    UpdateWindow(app.mainWindow);
    InvalidateRect(app.mainWindow, nullptr, FALSE);
    return dialog;
}

bool RepaintDialogMouse(UINT message, POINT point) {
    HWND dialog = activeRepaintDialog;
    RepaintFrame* frame = dialog ? FrameOf(dialog) : nullptr;
    return frame && OnFrameMouse(dialog, *frame, message, point);
}

void RequestPreview(HWND dialog) { SendMessageW(dialog, UM_PREVIEW, 0, 0); }

bool RepaintPreviewBusy() {
    const RepaintFrame* frame = activeRepaintDialog ? FrameOf(activeRepaintDialog) : nullptr;
    return frame && (frame->preview.thread || frame->preview.pending);
}

void StopRepaintPreview() {
    if (RepaintFrame* frame = activeRepaintDialog ? FrameOf(activeRepaintDialog) : nullptr) CancelPreview(*frame);
}

void SetupSlider(HWND dialog, int id, int minimum, int maximum, int position) {
    SendDlgItemMessageW(dialog, id, TBM_SETRANGE, TRUE, MAKELPARAM(minimum, maximum));
    // The handler adds its own step to every key and click: with page and
    // line size 0 each moves the thumb by exactly one.
    SendDlgItemMessageW(dialog, id, TBM_SETPAGESIZE, 0, 0);
    SendDlgItemMessageW(dialog, id, TBM_SETLINESIZE, 0, 0);
    SendDlgItemMessageW(dialog, id, TBM_SETPOS, TRUE, position);
}

void SetLanguageTexts(HWND dialog, std::initializer_list<std::pair<int, int>> controlsAndEntries) {
    for (const auto& pair : controlsAndEntries) SetDlgItemTextW(dialog, pair.first, Lang(pair.second));
}

void EnableControls(HWND dialog, std::initializer_list<int> ids, bool enable) {
    for (int id : ids) {
        HWND control = GetDlgItem(dialog, id);
        EnableWindow(control, enable);
        InvalidateRect(control, nullptr, TRUE);  // trackbars draw their channel by state
    }
}

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
