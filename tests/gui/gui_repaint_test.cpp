// Window tests of the repaint dialogs as the user drives them: the preview
// frame, its placement and dragging, the sliders, Cancel, Abort, a finished
// run, a failing run, each dialog's own controls, and closing the editor
// during a run. Each method's result is saved through Save As into the
// folder named by OSTRIVEL_E2E_DIR, where a script compares it with what
// ostrivel-repaint makes of the same picture with the same settings.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "app/app.h"
#include "dialogs/dialogs.h"
#include "dialogs/repaint_frame.h"
#include "engines/redraw/redraw.h"
#include "engines/smudge/smudge.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

HWND window;
std::wstring folder;  // the test's pictures and the saved results

uint64_t Hash(const SBxPicBuf& picture) {
    uint64_t hash = 1469598103934665603ull;
    for (int32_t i = 0; picture.pixels && i < picture.size; ++i) hash = (hash ^ picture.pixels[i]) * 1099511628211ull;
    return hash;
}

// Whether the display picture equals the opened one outside `frame`, and
// (when `inside` is set) differs from it inside.
bool PreviewOnlyIn(const CBxRect& frame, bool inside = true) {
    const SBxPicBuf &shown = document.result, &loaded = document.original;
    bool differs = false;
    const int bytes = loaded.components * loaded.bitsPerComponent / 8;
    for (int y = 0; y < loaded.height; ++y)
        for (int x = 0; x < loaded.width; ++x) {
            const bool same = memcmp(PicRow(shown, y) + x * bytes, PicRow(loaded, y) + x * bytes, bytes) == 0;
            if (x >= frame.left && x < frame.right && y >= frame.top && y < frame.bottom)
                differs = differs || !same;
            else if (!same)
                return false;
        }
    return differs == inside;
}

// The preview is computed off the window's thread: this waits for it.
bool Settled() { return PumpUntil([] { return !RepaintPreviewBusy(); }, 30000); }

// How often the view is told to show a new picture, seen from its window
// procedure.
int landed;
WNDPROC watchedProc;
LRESULT CALLBACK Watching(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == UM_RESULT_CHANGED) ++landed;
    return CallWindowProcW(watchedProc, hwnd, message, wParam, lParam);
}

// Whether the display shows inside `r` what Smudge makes of it with the
// current settings.
bool ShowsSmudgeOf(const CBxRect& r) {
    PicBufHolder in, out;
    CBxPicBufAPI::ReinitHeap(in.buf, r.right - r.left, r.bottom - r.top, document.original.components, 8);
    CBxPicBufAPI::Copy(in.buf, document.original, r);
    SmudgeRepaint(out.buf, in.buf, SmudgeParamsFromPositions(SettingPositions(kSmudgeParams)));
    for (int y = 0; y < out->height; ++y)
        if (memcmp(PicRow(out.buf, y), PicRow(document.result, r.top + y) + r.left * out->components,
                   out->width * out->components) != 0)
            return false;
    return true;
}

bool ShowsLoaded() { return Hash(document.result) == Hash(document.original); }

// Whether the view's cache holds the display picture and the back buffer
// what a render of the whole view from it gives.
bool ViewShowsResult() {
    const uint64_t shown = Hash(backBuffer.pixels);
    const bool cached = Hash(view.cache[ViewSlotResult]) == Hash(document.result);
    RenderAfresh();
    return cached && Hash(backBuffer.pixels) == shown;
}

HWND OpenDialog(int command) {
    SendMessageW(window, WM_COMMAND, command, 0);
    return activeRepaintDialog;
}

RepaintFrame& FrameOf(HWND dialog) { return *reinterpret_cast<RepaintFrame*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

void Click(HWND dialog, int id) { SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

void SetChecked(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
    Click(dialog, id);
}

void Scroll(HWND dialog, int id, int code, int position = 0) {
    SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
int Position(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageW(dialog, id, TBM_GETPOS, 0, 0)); }

// The user's mouse at a client point of the main window.
void Mouse(POINT client, DWORD button = 0) {
    ClientToScreen(window, &client);
    MoveMouse(client, button);
}

bool CursorIs(const WCHAR* name) { return GetCursor() == LoadCursorW(nullptr, name); }

POINT OnScreen(double x, double y) {
    int sx, sy;
    ViewMap().MapPointSrcToDst(sx, sy, x, y);
    return POINT{sx, sy};
}

int Lightness(COLORREF c) { return (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3; }

// The lightest and darkest grey of a control's client area, as shown.
void LightAndDark(HWND control, int& lightest, int& darkest) {
    RECT client;
    GetClientRect(control, &client);
    lightest = 0, darkest = 255;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; x += 2) {
            const int value = Lightness(ClientPixel(control, x, y));
            lightest = std::max(lightest, value);
            darkest = std::min(darkest, value);
        }
}

// A digest of the check box glyph at the left of a check box, as shown.
unsigned GlyphSum(HWND box) {
    RECT client;
    GetClientRect(box, &client);
    unsigned sum = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < 13; ++x) sum = sum * 31 + ClientPixel(box, x, y);
    return sum;
}

// The dark look of a docked dialog: button face, light text on the dark
// face, and a check box image that follows its state.
void CheckDarkLook(HWND dialog) {
    HWND ok = GetDlgItem(dialog, IDOK), preview = GetDlgItem(dialog, IDC_PREVIEW);
    const COLORREF face = ClientPixel(ok, 5, 4);
    int light, dark, previewLight, previewDark;
    LightAndDark(ok, light, dark);
    LightAndDark(preview, previewLight, previewDark);
    Check(abs(Lightness(face) - 70) <= 2 && light >= 200, "the OK button is light on RGB(70, 70, 70) (%d on %d)",
          light, Lightness(face));
    Check(previewLight >= 200 && previewDark <= 75, "Preview reads light on dark (%d on %d)", previewLight,
          previewDark);
    const unsigned checked = GlyphSum(preview);
    CheckDlgButton(dialog, IDC_PREVIEW, BST_UNCHECKED);
    PumpMessages(50);
    const unsigned unchecked = GlyphSum(preview);
    CheckDlgButton(dialog, IDC_PREVIEW, BST_CHECKED);
    PumpMessages(50);
    Check(unchecked != checked && GlyphSum(preview) == checked, "the check box image follows its state");
}

// OK, then messages until the dialog has closed or `stopEarly` says so.
bool RunUntil(HWND dialog, const std::function<bool()>& stopEarly, DWORD ms = 120000) {
    Click(dialog, IDOK);
    return PumpUntil([&] { return !IsWindow(dialog) || (stopEarly && stopEarly()); }, ms);
}

void Frame(const std::wstring& picture) {
    Section("the frame: opening, preview, placement, dragging");
    DropFile(window, picture);
    HWND dialog = OpenDialog(IDM_REPAINT_SMUDGE);
    if (!Check(dialog != nullptr, "Repaint Smudge opens its dialog")) return;
    bool locked = true;
    for (int button : {IDM_OPEN, IDM_SAVE_AS, IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW, IDM_MENU})
        locked = locked && !ToolbarButtonEnabled(button);
    Check(locked && ToolbarButtonEnabled(IDM_ZOOM_IN), "it locks the file and repaint buttons, not the zoom");
    Check(!IsChecked(dialog, IDC_PREVIEW) && !Visible(dialog, IDC_PROGRESS) && !Visible(dialog, IDC_ABORT) &&
              previewFrame == nullptr && ShowsLoaded(),
          "it starts without preview, bar or Abort, showing the opened picture");

    SetChecked(dialog, IDC_PREVIEW, true);
    Settled();
    RepaintFrame& frame = FrameOf(dialog);
    const CBxRect r = frame.previewRect;
    Check(previewFrame == &frame.previewRect && r.right - r.left == 300 && r.bottom - r.top == 300,
          "Preview places a 300 x 300 frame (%d, %d, %d, %d)", r.left, r.top, r.right, r.bottom);
    Check(PreviewOnlyIn(r), "the picture changes inside the frame only");
    SetChecked(dialog, IDC_PREVIEW, false);
    Check(previewFrame == nullptr && ShowsLoaded(), "unchecking it shows the opened picture at once");

    // The middle of the view at picture point (40, 60).
    RECT mainRect, containerRect;
    GetWindowRect(window, &mainRect);
    GetWindowRect(dockContainer.window, &containerRect);
    view.dstX = (containerRect.left - mainRect.left) / 2;
    view.dstY = (mainRect.bottom - mainRect.top) / 2;
    view.srcX = 40;
    view.srcY = 60;
    SetChecked(dialog, IDC_PREVIEW, true);
    Check(frame.previewRect.left == 0 && frame.previewRect.top == 0 && frame.previewRect.right == 190 &&
              frame.previewRect.bottom == 210,
          "round picture point (40, 60) the frame is cut at the picture's edge: (0, 0, 190, 210)");
    SendMessageW(window, WM_COMMAND, IDM_ZOOM_FIT, 0);

    // Drag it out of the picture and back with the mouse, zoomed out so
    // that the whole way lies inside the view.
    SendMessageW(window, WM_COMMAND, IDM_ZOOM_OUT, 0);
    SendMessageW(window, WM_COMMAND, IDM_ZOOM_OUT, 0);
    SetChecked(dialog, IDC_PREVIEW, false);
    SetChecked(dialog, IDC_PREVIEW, true);
    Settled();
    SetForegroundWindow(window);
    const double width = frame.previewArea[2] - frame.previewArea[0];
    const POINT start = OnScreen((frame.previewArea[0] + frame.previewArea[2]) / 2,
                                 (frame.previewArea[1] + frame.previewArea[3]) / 2);
    const POINT corner = OnScreen(frame.previewArea[0], frame.previewArea[1]);
    const POINT below = {start.x, start.y + OnScreen(0, document.original.height).y - corner.y + 2};
    const RECT shown = ViewRect(ViewRectHitTest);
    Check(PtInRect(&shown, below) != FALSE, "the way below the picture lies inside the view");
    const uint64_t before = Hash(document.result);
    const double srcX = view.srcX, srcY = view.srcY;
    Mouse(POINT{corner.x - 5, corner.y - 5});
    Check(!frame.overFrame && CursorIs(IDC_ARROW), "beside the frame the cursor is the arrow");
    Mouse(start);
    Check(frame.overFrame && CursorIs(IDC_SIZEALL), "over the frame the cursor shows it can be moved");
    Mouse(start, MOUSEEVENTF_LEFTDOWN);
    Check(frame.dragging, "a press inside the frame starts a drag");
    Mouse(below);
    Check(fabs(frame.previewArea[2] - frame.previewArea[0] - width) < 1e-6 &&
              frame.previewRect.top == frame.previewRect.bottom && Hash(document.result) == before &&
              view.srcX == srcX && view.srcY == srcY,
          "dragged out of the picture the area keeps its size, the rectangle shrinks to nothing, "
          "only the outline moves and the view does not pan");
    const POINT back = {start.x, start.y + 40};
    Mouse(back);
    Check(frame.previewRect.bottom - frame.previewRect.top == 300, "dragged back it has its full size again");
    Mouse(back, MOUSEEVENTF_LEFTUP);
    Settled();
    Check(!frame.dragging && PreviewOnlyIn(frame.previewRect), "releasing it computes the preview there");
    Check(ViewShowsResult(), "the view shows it there, and the opened picture again where it was");
    const CBxRect dropped = frame.previewRect;
    Mouse(POINT{corner.x - 5, corner.y - 5}, MOUSEEVENTF_LEFTDOWN);
    Mouse(POINT{corner.x - 25, corner.y - 5});
    Mouse(POINT{corner.x - 25, corner.y - 5}, MOUSEEVENTF_LEFTUP);
    Check(!frame.dragging && view.srcX > srcX && frame.previewRect.left == dropped.left &&
              frame.previewRect.top == dropped.top,
          "a drag beside the frame pans the view and leaves the frame where it is");
    const double scale = view.scale;
    SendMessageW(dialog, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(start.x, start.y));
    Check(view.scale > scale, "the wheel over the dialog zooms the view");

    Section("the frame: sliders");
    uiDetails = 10;
    SetupSlider(dialog, IDC_SMUDGE_DETAILS, 1, 100, uiDetails);
    // Zoomed in round the frame, where its edge pixels blend into their
    // neighbours on screen.
    view.scale = 2.0;
    view.srcX = (frame.previewRect.left + frame.previewRect.right) / 2.0;
    view.srcY = (frame.previewRect.top + frame.previewRect.bottom) / 2.0;
    RenderFromCache();
    // Keys and clicks on the channel are typed in the keyboard test.
    Scroll(dialog, IDC_SMUDGE_DETAILS, TB_PAGEDOWN);
    Settled();
    Check(ViewShowsResult(), "zoomed in, the view shows the new preview to its edges");
    const uint64_t previewed = Hash(document.result);
    Scroll(dialog, IDC_SMUDGE_DETAILS, TB_THUMBTRACK, 60);
    Settled();
    Check(uiDetails == 60 && WindowText(GetDlgItem(dialog, IDC_SMUDGE_DETAILS_VALUE)) == "60" &&
              Hash(document.result) == previewed,
          "dragging the thumb shows the value and computes nothing");
    Scroll(dialog, IDC_SMUDGE_DETAILS, TB_THUMBPOSITION, 60);
    Settled();
    Check(Hash(document.result) != previewed, "releasing it computes the preview");

    Section("the frame: a newer preview supersedes an older one");
    landed = 0;
    const WNDPROC editorProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Watching)));
    watchedProc = editorProc;
    Scroll(dialog, IDC_SMUDGE_DETAILS, TB_THUMBPOSITION, 20);  // starts a preview
    Scroll(dialog, IDC_SMUDGE_DETAILS, TB_THUMBPOSITION, 95);  // stops it and waits its turn
    Settled();
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editorProc));
    Check(landed == 1 && ShowsSmudgeOf(frame.previewRect),
          "only the newest settings' preview is shown (%d shown)", landed);

    Section("the frame: Cancel");
    Click(dialog, IDCANCEL);
    Check(!IsWindow(dialog) && activeRepaintDialog == nullptr && previewFrame == nullptr && ShowsLoaded(),
          "Cancel closes the dialog and drops the preview");
    Check(ToolbarButtonEnabled(IDM_OPEN) && ToolbarButtonEnabled(IDM_REPAINT_SMUDGE) && repaintDialogOpen == 0,
          "and unlocks the toolbar");
}

// Whether the display shows inside `r` what Redraw makes of it with the
// current settings and an edge plane of its own.
bool ShowsRedrawOf(const CBxRect& r) {
    RedrawPreviewCache cache;
    PicBufHolder out;
    RedrawPreview(out.buf, document.original, r, RedrawParamsFromPositions(SettingPositions(kRedrawParams)), cache);
    for (int y = 0; y < out->height; ++y)
        if (memcmp(PicRow(out.buf, y), PicRow(document.result, r.top + y) + r.left * out->components,
                   out->width * out->components) != 0)
            return false;
    return true;
}

// A preview stopped while it makes Redraw's edge plane leaves no unfinished
// plane for the next one; closing the dialog meanwhile lets no stale preview
// land afterwards.
void StoppedPreviews(const std::wstring& picture) {
    Section("previews stopped while they are computed");
    DropFile(window, picture);
    uiEdgeDetails = 37;
    HWND dialog = OpenDialog(IDM_REPAINT_REDRAW);
    if (!dialog) return;
    SetChecked(dialog, IDC_PREVIEW, true);  // the whole picture's edges first
    bool busy = RepaintPreviewBusy();
    Scroll(dialog, IDC_REDRAW_CUT, TB_PAGEDOWN);
    Check(busy && Settled() && ShowsRedrawOf(FrameOf(dialog).previewRect),
          "a Cut step during the edge plane shows what Redraw makes afresh");
    Scroll(dialog, IDC_REDRAW_DETAILS, TB_PAGEDOWN);
    busy = RepaintPreviewBusy();
    Click(dialog, IDCANCEL);
    const bool stopped = !RepaintPreviewBusy() && !IsWindow(dialog) && ShowsLoaded();
    PumpMessages(400);
    Check(busy && stopped && ShowsLoaded() && activeRepaintDialog == nullptr &&
              Hash(view.cache[ViewSlotResult]) == Hash(document.original),
          "Cancel during a preview stops it and the opened picture stays shown (busy %d)", busy);
}

// Open and Save As by their keys, Close and Repaint as the popup menu sends
// them, a dropped file, and then the given buttons of the dialog.
std::vector<SeenDialog> TryDocumentCommands(HWND dialog, const std::wstring& other, std::initializer_list<int> buttons) {
    return WithDialogs(
        [&] {
            PressKey(window, WM_KEYDOWN, 'O', true);
            PressKey(window, WM_KEYDOWN, 'S', true);
            for (int command : {IDM_CLOSE, IDM_REPAINT_SMUDGE}) PostMessageW(window, WM_COMMAND, command, 0);
            DropFile(window, other);
            for (int id : buttons) PressButton(dialog, id);
            PumpMessages(300);
        },
        IDCANCEL);  // a command that should have been refused shows up instead of hanging
}

void AbortAndFailure(const std::wstring& picture, const std::wstring& other) {
    Section("commands that touch the document wait for the run; Cancel aborts it");
    DropFile(window, picture);
    uiDoShock = 1;
    uiSmoothAlpha = 5;
    HWND dialog = OpenDialog(IDM_REPAINT_ORIGINAL);
    if (!Check(dialog != nullptr, "Repaint Original opens its dialog")) return;
    SetChecked(dialog, IDC_PREVIEW, true);
    const CBxRect frame = FrameOf(dialog).previewRect;
    const auto progress = [dialog] { return SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0); };
    const uint64_t opened = Hash(document.original);
    const std::string path = Utf8(document.currentPath);
    RunUntil(dialog, [&] { return progress() > 2; });
    std::vector<SeenDialog> seen = TryDocumentCommands(dialog, other, {IDC_ORIG_DEFAULT, IDOK});
    Check(seen.empty() && Hash(document.original) == opened && Utf8(document.currentPath) == path &&
              activeRepaintDialog == dialog && RepaintWorkerRunning() && uiSmoothAlpha == 5 &&
              !Enabled(dialog, IDC_ORIG_DEFAULT),
          "during a run Open, Save As, Close, Repaint, a drop, Default and OK do nothing (%d dialogs seen)",
          static_cast<int>(seen.size()));
    PressButton(dialog, IDCANCEL);
    Check(PumpUntil([&] { return !RepaintWorkerRunning(); }, 30000) && IsWindow(dialog) &&
              PumpUntil([&] { return Enabled(dialog, IDOK); }, 5000) && Settled() && PreviewOnlyIn(frame),
          "Cancel (what Escape sends) during a run aborts it, keeps the dialog and computes the preview again");
    seen = TryDocumentCommands(dialog, other, {});
    Check(seen.empty() && Utf8(document.currentPath) == path && activeRepaintDialog == dialog,
          "after the aborted run the open dialog still keeps the document");

    Section("Abort in the middle of a run");
    app.unsavedResult = 1;  // as after an earlier run: an aborted one shows the opened picture again
    SetChecked(dialog, IDC_PREVIEW, false);  // so no preview paints over what the run left
    RunUntil(dialog, [&] { return progress() > 2; });
    Check(Visible(dialog, IDC_PROGRESS) && Visible(dialog, IDC_ABORT) && !Enabled(dialog, IDC_ORIG_SMOOTHNESS) &&
              !Enabled(dialog, IDOK),
          "during the run the bar and Abort show and the sliders and OK are locked");
    Click(dialog, IDC_ABORT);
    PumpUntil([&] { return Enabled(dialog, IDOK); }, 30000);
    Settled();
    Check(IsWindow(dialog) && Enabled(dialog, IDC_ORIG_SMOOTHNESS) && Enabled(dialog, IDC_ORIG_FLATTEN) &&
              !Visible(dialog, IDC_PROGRESS) && !Visible(dialog, IDC_ABORT),
          "Abort keeps the dialog with its controls, without bar and Abort");
    Check(ShowsLoaded() && app.unsavedResult == 0, "the opened picture is shown again, nothing unsaved");

    Section("the Original dialog's own controls");
    SetChecked(dialog, IDC_ORIG_FLATTEN_ON, false);
    Check(uiDoShock == 0 && !Enabled(dialog, IDC_ORIG_FLATTEN) && !Enabled(dialog, IDC_ORIG_FLATTEN_VALUE),
          "an unchecked step disables its slider and value");
    Click(dialog, IDC_ORIG_DEFAULT);
    Check(WindowText(GetDlgItem(dialog, IDC_ORIG_SMOOTHNESS_VALUE)) == "3.50" &&
              WindowText(GetDlgItem(dialog, IDC_ORIG_WEAK_EDGES_VALUE)) == "20" &&
              WindowText(GetDlgItem(dialog, IDC_ORIG_FLATTEN_VALUE)) == "0.15" &&
              WindowText(GetDlgItem(dialog, IDC_ORIG_SHARPEN_VALUE)) == "10" && Enabled(dialog, IDC_ORIG_FLATTEN) &&
              Position(dialog, IDC_ORIG_SMOOTHNESS) == 14,
          "Default sets both steps on and the sliders, showing the engine's values");
    Click(dialog, IDCANCEL);
    seen = WithDialogs([] { PressKey(window, WM_KEYDOWN, 'O', true); }, IDCANCEL);
    Check(seen.size() == 1, "once the dialog is closed Ctrl+O opens the file dialog again");

    Section("the Redraw dialog's own controls, and a run whose engine fails");
    uiFuseToImage = 1;
    dialog = OpenDialog(IDM_REPAINT_REDRAW);
    if (!dialog) return;
    Check(Enabled(dialog, IDC_REDRAW_LEVEL), "the level box is enabled with the box checked");
    SetChecked(dialog, IDC_REDRAW_FUSE, false);
    Check(uiFuseToImage == 0 && !Enabled(dialog, IDC_REDRAW_LEVEL), "unchecking the box disables the level box");
    CBxPicBufAPI::ConvertBpcComp(document.original, 32, 3);  // no engine takes float pictures
    seen = WithDialogs([&] { RunUntil(dialog, [&] { return Enabled(dialog, IDOK); }); });
    Check(seen.size() == 1 && seen[0].text == "Image format not supported!" && IsWindow(dialog) &&
              Enabled(dialog, IDC_REDRAW_DETAILS) && Enabled(dialog, IDC_REDRAW_FUSE) &&
              !Enabled(dialog, IDC_REDRAW_LEVEL),
          "a failing engine is reported once and ends as an aborted run");
    CBxPicBufAPI::ConvertBpcComp(document.original, 8, 3);
    Click(dialog, IDCANCEL);
}

// Each method runs to the end with settings of its own and is saved as PNG.
void FinishedRuns(const std::wstring& picture) {
    Section("finished runs, saved");
    DropFile(window, picture);
    struct Method {
        int command;
        const WCHAR* saved;
        const WCHAR* shot;
        std::function<void()> settings;
    } methods[] = {
        {IDM_REPAINT_ORIGINAL, L"editor-original.png", L"repaint_original",
         [] { uiSmoothAlpha = 8, uiRelaxation = 10, uiDoShock = 1, uiFlatten = 6, uiDoLoG = 1, uiLoGPower = 12; }},
        {IDM_REPAINT_SMUDGE, L"editor-smudge.png", L"repaint_smudge",
         [] { uiDetails = 30, uiProlongation = 70, uiSigma = 20; }},
        {IDM_REPAINT_REDRAW, L"editor-redraw.png", L"repaint_redraw",
         [] { uiEdgeDetails = 20, uiEdgeCut = 40, uiFuseToImage = 1, uiQuantization = 0; }},
    };
    for (const Method& method : methods) {
        method.settings();
        HWND dialog = OpenDialog(method.command);
        if (!Check(dialog != nullptr, "command %d opens its dialog", method.command)) continue;
        SetChecked(dialog, IDC_PREVIEW, true);
        Check(Shot(window, method.shot), "%s.png is written", Utf8(method.shot).c_str());
        if (method.command == IDM_REPAINT_ORIGINAL) CheckDarkLook(dialog);
        // Controls that stay enabled during the run may not touch the
        // picture the worker writes, tile after tile.
        RunUntil(dialog, [&] {
            if (IsWindow(dialog) && Visible(dialog, IDC_PROGRESS)) {
                SetChecked(dialog, IDC_PREVIEW, !IsChecked(dialog, IDC_PREVIEW));
                Click(dialog, IDC_REDRAW_FUSE);
            }
            return false;
        });
        Check(!IsWindow(dialog) && activeRepaintDialog == nullptr && app.unsavedResult == 1 &&
                  ToolbarButtonEnabled(IDM_SAVE_AS),
              "command %d: a finished run closes the dialog and marks the result unsaved", method.command);
        FileCommandRun run = RunFileCommand(window, IDM_SAVE_AS, ChooseFile(folder + method.saved));
        Check(run.messages.empty() && FileExists(folder + method.saved) && app.unsavedResult == 0,
              "its result is saved as %s", Utf8(method.saved).c_str());
    }
}

// Closing the editor while a preview or a run is under way: it waits for the
// thread before it frees the pictures, and nothing lands afterwards.
void CloseDuringWork(HINSTANCE instance, const std::wstring& picture) {
    Section("closing the editor during a preview");
    DropFile(window, picture);
    uiEdgeDetails = 41;
    HWND dialog = OpenDialog(IDM_REPAINT_REDRAW);
    if (!dialog) return;
    SetChecked(dialog, IDC_PREVIEW, true);  // the whole picture's edge plane takes a while
    HANDLE thread = nullptr;
    if (HANDLE own = FrameOf(dialog).preview.thread)
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0);
    SendMessageW(window, WM_CLOSE, 0, 0);
    const bool ended = thread && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    const bool freed = !IsWindow(window) && !document.original.pixels && !document.result.pixels;
    PumpMessages(400);
    Check(ended && freed && !document.result.pixels && previewFrame == nullptr && activeRepaintDialog == nullptr,
          "the window waits for the preview's thread before it frees the pictures, and no preview lands "
          "afterwards (thread %d, ended %d, freed %d, frame %d, dialog %d)", thread != nullptr, ended, freed,
          previewFrame != nullptr, activeRepaintDialog != nullptr);
    if (thread) CloseHandle(thread);

    Section("closing the editor during a run");
    window = OpenEditorWindow(instance, 1000, 700);
    if (!Check(window != nullptr, "the main window opens again")) return;
    DropFile(window, picture);
    dialog = OpenDialog(IDM_REPAINT_SMUDGE);
    if (!dialog) return;
    RunUntil(dialog, [] { return RepaintWorkerRunning(); });
    SendMessageW(window, WM_CLOSE, 0, 0);
    Check(!IsWindow(window) && !RepaintWorkerRunning() && !document.result.pixels,
          "the window waits for the worker to stop before it frees the pictures");
}

// Shapes with hard edges and soft gradients.
COLORREF Scene(int x, int y) {
    const int dx = x % 160 - 80, dy = y % 120 - 60;
    if (dx * dx + dy * dy < 40 * 40) return RGB(200, 60 + y % 100, 40);
    if ((x / 40 + y / 30) % 5 == 0) return RGB(30, 40, 120 + x % 120);
    return RGB(90 + x % 150, 150 + y % 90, 200 - (x + y) % 160);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartTest(170);
    char* e2e = getenv("OSTRIVEL_E2E_DIR");
    folder = e2e ? WindowsPath(e2e) + L"\\" : TestFilesFolder();
    const std::wstring smallPicture = folder + L"input.png", largePicture = folder + L"large.png";
    if (!Check(WriteTestPicture(smallPicture, 1000, 520, SaveFormatPng, Scene) &&
                   WriteTestPicture(largePicture, 1600, 1200, SaveFormatPng, Scene),
               "the test pictures are written"))
        return Summary();
    for (const WCHAR* saved : {L"editor-original.png", L"editor-smudge.png", L"editor-redraw.png"})
        DeleteFileW((folder + saved).c_str());
    window = OpenEditorWindow(instance, 1000, 700);
    if (!Check(window != nullptr, "the main window is created")) return Summary();
    Frame(largePicture);
    AbortAndFailure(largePicture, smallPicture);
    StoppedPreviews(largePicture);
    FinishedRuns(smallPicture);
    CloseDuringWork(instance, largePicture);
    return Summary();
}
