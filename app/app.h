// Application shell: start-up, the main window with its document and
// commands, the image view, the dialog container, the open and save dialogs,
// the message loop and the shut-down order.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <stdint.h>

#include <atomic>

#include <string>
#include <vector>

#include "picbuf/image_file_types.h"
#include "picbuf/picbuf.h"

// Messages of the repaint protocol and of the zoom box; parameters 0 unless said.
enum : UINT {
    UM_RESULT_CHANGED = 4247,  // lParam: the CBxRect* of the result that alone changed, or 0: all of it
    UM_REDRAW = 4252,
    UM_REDRAW_FRAME = 4260,
    UM_RUN_DONE = 4266,
    UM_RUN_ABORTED = 4267,
    UM_START_ORIGINAL = 4270,
    UM_ZOOM_TEXT_ENTERED = 4271,
    UM_START_SMUDGE = 4272,
    UM_START_REDRAW = 4273,
    UM_PREVIEW = 4277,
    UM_PREVIEW_DONE = 4278,  // wParam: the number of the request
};

// Characters of a path, terminator included.
enum { PATH_CHARS = 1024 };

// Process-wide state of the shell.
struct AppGlobals {
    HINSTANCE instance;
    HWND mainWindow;
    HACCEL accelerators;
    WCHAR title[100];       // string 103
    WCHAR className[100];   // string 109
    bool unsavedResult;     // a finished run has not been saved yet
    HWND toolbar;           // control 109
    HWND zoomBox;           // control 32810, a child of the toolbar
    HWND statusBar;
    HIMAGELIST toolbarImages;
    HFONT zoomBoxFont;
    ULONG_PTR gdiplusToken;
    bool comInitialized;
};
extern AppGlobals app;

// The document, owned by the main window.
struct Document {
    SBxPicBuf original;  // the picture as opened
    SBxPicBuf result;    // what is shown and saved
    SBxPicBuf workCopy;  // input of a full run
    WCHAR currentPath[PATH_CHARS];
    WCHAR metadataSource[PATH_CHARS];
    PictureMetadataHolder metadata;  // the opened file's metadata, kept in memory
};
extern Document document;

// Shared with the repaint dialogs.
extern std::atomic<HWND> activeRepaintDialog;  // the open repaint dialog, or null; workers read it
extern bool repaintDialogOpen;      // dropped files are ignored while set

// Grey value of the view's background.
const BYTE kViewBackground = 48;

// --- start-up (startup.cpp) ------------------------------------------------

// The whole program: start-up, main window, message loop, shut-down.
// Returns the exit code (0 also when the main window cannot be created).
int RunOstrivel(HINSTANCE instance, int showCommand);

// Start-up before the main window: language table, common controls, title
// and class name, the window class. False when the class cannot be registered.
bool PrepareMainWindow(HINSTANCE instance);
// Creates the main window (not yet shown); null on failure.
HWND CreateMainWindow();
// Runs the message loop with the accelerators until WM_QUIT; returns its code.
int RunMessageLoop();
// The loop's keyboard handling of one message: the open repaint dialog's
// navigation or the accelerators. True when the message was handled.
bool TranslateEditorMessage(MSG& msg);

// --- main window (main_window.cpp, toolbar.cpp) ----------------------------

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Toolbar with its image list, zoom box and tooltips; null on failure.
HWND CreateMainToolbar(HWND window);
// Stretches the spacer so the Menu button ends at the toolbar's right edge,
// and puts the zoom box over its place.
void LayoutToolbar();
void EnableToolbarButton(int command, bool enable);
bool ToolbarButtonEnabled(int command);
// A toolbar button's rectangle in the toolbar's client coordinates.
RECT ButtonRect(int command);
// Language entry of a toolbar button's tooltip, 0 for none.
int ToolbarTooltipEntry(int command);
// The tooltip a button shows, null for none: its language entry, for the
// repaint commands with their shortcut, as in "Repaint Original (Ctrl+1)".
const WCHAR* ToolbarTooltipText(int command);
// "<Ctrl key name>+<key>" in the current language, as menus and tooltips show it.
void ControlKeyText(WCHAR key, WCHAR text[32]);
// The shortcut of a repaint command ('1' to '3').
WCHAR RepaintShortcut(int command);
// Status bar text.
void SetStatusText(const WCHAR* text);
// "Ostrivel - <path>".
void SetTitleWithPath(const WCHAR* path);
// The cursor now, and as the class cursor of the main window, the open
// repaint dialog and the container.
void SetCursorEverywhere(const WCHAR* cursorName);

// --- commands (commands.cpp) -----------------------------------------------

void CmdOpen(HWND window);
void CmdDropFiles(HWND window, HDROP drop);
void CmdSaveAs(HWND window);
void CmdClose(HWND window);
void CmdRepaint(HWND window, int command);
// A repaint dialog's OK: the work copy from the original picture, then the
// method's worker on it, writing the result picture.
void CmdStartRun(UINT startMessage);
void CmdMenu(HWND window);
void CmdAbout(HWND window);
void CmdOptions(HWND window);
void CmdVisitWebSite(HWND window);
void CmdExit(HWND window);
// While a repaint dialog is open, and above all while its run paints the
// result picture, the document may not be replaced, saved or closed, nor
// another repaint begun: whatever sends the command (toolbar, popup menu,
// accelerator, a dropped file), it is refused here.
bool DocumentLocked();
bool CommandAllowedNow(int command);
// Asks whether an unsaved result may be dropped; true to go on.
bool ConfirmDropResult(HWND window);
// The opening steps after a picture was read: title, status bar, result,
// fit, render, buttons.
void ShowOpenedPicture(HWND window, const WCHAR* path);

// --- image view (view.cpp) -------------------------------------------------

enum ViewSlot { ViewSlotOriginal = 1, ViewSlotResult = 2, ViewSlotNone = 3 };
enum ViewInterpolation { ViewNearest = 0, ViewBilinear = 1, ViewBicubic = 2 };
// Which edges the view rectangle has: hit tests, zoom anchors, painting.
enum ViewRectKind { ViewRectHitTest, ViewRectAnchor, ViewRectPaint };

const int kBackBufferWidth = 3000;
const int kBackBufferHeight = 2000;
const int kZoomTableSize = 8;
const double kZoomInFactor = 1.2;
const double kZoomOutFactor = 0.8333333333333334;  // 1 / 1.2
extern const double kZoomTable[kZoomTableSize];

// The view's back buffer: a top-down 24-bit section of kBackBufferWidth x
// kBackBufferHeight the view renders into in client coordinates, selected
// into its own memory DC; pixels describes its bits. Made and freed with the
// main window (back_buffer.cpp).
struct BackBuffer {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    SBxPicBuf pixels;
};
extern BackBuffer backBuffer;
// Makes it filled with the view's background; false when it cannot.
bool CreateBackBuffer();
void FreeBackBuffer();

struct ViewState {
    double scale;  // screen pixels per picture pixel
    double dstX, dstY;  // destination anchor, client coordinates
    double srcX, srcY;  // source anchor, picture pixels
    int interpolation;  // ViewInterpolation
    SBxPicBuf cache[3];  // 8-bit colour copies: [ViewSlotOriginal], [ViewSlotResult]
    bool dragging;
    POINT dragOrigin;
    POINT lastMouse;
};
extern ViewState view;
// The preview rectangle a repaint dialog shows, in picture pixels; outlined
// by every render while set.
extern CBxRect* previewFrame;

// The view state at creation and at Close: zoom 1, bilinear, anchors at 0.
void ResetView();
void FreeViewCaches();
CBxPicMap ViewMap();
RECT ViewRect(ViewRectKind kind);
// Renders into the back buffer (PaintView shows it): the result picture
// from its cache as it is (a pan, a zoom, the frame moved), or after it
// changed, its cache made afresh first; the opened picture from its cache
// (comparing); the background alone.
void RenderFromCache();
void RenderAfresh();
void RenderOriginalFromCache();
void RenderNoPicture();
// Makes the opened picture's cache afresh, drawing nothing.
void CacheOriginal();
// The result picture changed inside `changed` (picture pixels) only: its
// cache takes that part, and the view renders and paints the client pixels
// it reaches.
void ShowResultChange(const CBxRect& changed);
// Puts the back buffer's view rectangle on the screen now.
void PaintView();
// WM_PAINT.
void OnViewPaint(HWND window);
// "<scale x 100> %" into the zoom box; the focus goes back to the main window.
void ShowZoomText();
void ClearDragState();

// True when the result picture holds pixels.
bool HasPicture();
// Zoom commands; each needs a picture. ZoomToFit without draw only sets the map.
void ZoomToFit(bool draw);
void Zoom100();
void ZoomBy(double factor);
void ZoomBoxSelected(int index);
void ZoomTextEntered();
// Percent from a typed zoom text; false when the text is not a number.
// The percent is not yet limited.
bool ParseZoomText(const WCHAR* text, double& percent);
// Moves the destination anchor (arrow keys).
void PanView(int dx, int dy);
void ViewMouseWheel(HWND window, WPARAM wParam, LPARAM lParam);
void ViewLeftButtonDown(HWND window, int x, int y);
void ViewMouseMove(int x, int y);
void ViewLeftButtonUp();
// Right button: the opened picture while held, the result again when released.
void ViewCompare(HWND window, bool showOriginal);

// --- dialog container (dock_container.cpp) ---------------------------------

struct DockContainer {
    HWND window;
    bool atLeftEdge;  // of the parent; else at its right edge
    std::vector<HWND> docked;
};
extern DockContainer dockContainer;

HWND CreateDockContainer(HWND parent);
// Inserts at position (0 first; past the end appends).
void DockWindow(HWND window, size_t position);
// Removes the first entry of window, if any.
void UndockWindow(HWND window);
// Stacks the docked windows from the top and fits the container to the widest.
void LayoutDockContainer();
// Gives the keyboard focus to a dialog's first enabled tab stop.
void FocusFirstControl(HWND dialog);

// --- open and save (file_dialogs.cpp) --------------------------------------

// A path the core takes: UTF-8 Unix paths under Wine, wide ones on Windows.
using CorePath = std::basic_string<PicPathChar>;
// Turns a Windows path into the core's; false when it cannot (under Wine
// the parent folder must exist).
bool ToCorePath(const WCHAR* windowsPath, CorePath& corePath);

// Reads the picture at path (an empty path asks with the open dialog) into
// the document's original picture; the path becomes the current file path.
// On failure says so (entry 41) and keeps the document as it was.
bool OpenPicture(HWND owner, const WCHAR* path);
// The save dialog with its default name, type lists and quality panel, then
// the write. savedPath gets the written path. False when cancelled, when
// there is nothing to save, when saving failed (reported with entry 41) or
// when the user would not save without the lost metadata (entry 88).
bool SavePictureAs(HWND owner, WCHAR savedPath[PATH_CHARS + 8]);

