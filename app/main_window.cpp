// The main window: its creation and destruction, the layout, the window
// procedure and the command dispatcher. Each command is one call of a
// function in commands.cpp or view.cpp.
#include "app.h"

#include <objbase.h>
#include <gdiplus.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>

#include "app/preview_stamps.h"
#include "resources/resource.h"
#include "dialogs/dialogs.h"
#include "settings/settings.h"
#include "skin/gdi.h"

Document document;
std::atomic<HWND> activeRepaintDialog;
bool repaintDialogOpen;

namespace {

const int kPanStep = 50;

// Creates a repaint dialog only to measure it; its own initialisation does not run.
INT_PTR CALLBACK MeasureDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// The widest and the tallest repaint dialog, measured at creation.
SIZE largestRepaintDialog;

void FreePicture(SBxPicBuf& picture) {
    CBxPicBufAPI::DoneHeap(picture);
    CBxPicBufAPI::Init(picture);
}

// The container is as wide as the widest repaint dialog; the tallest one
// sets the window's least height.
void CreateSizedContainer(HWND window) {
    HWND container = CreateDockContainer(window);
    if (!container) return;
    HWND measured[3] = {};
    const int dialogs[3] = {IDD_ORIGINAL, IDD_SMUDGE, IDD_REDRAW};
    for (int i = 0; i < 3; ++i) {
        measured[i] = CreateDialogParamW(app.instance, MAKEINTRESOURCEW(dialogs[i]), container, MeasureDialogProc,
                                         reinterpret_cast<LPARAM>(&document));
        if (!measured[i]) continue;
        RECT rect;
        GetWindowRect(measured[i], &rect);
        largestRepaintDialog.cx = std::max(largestRepaintDialog.cx, rect.right - rect.left);
        largestRepaintDialog.cy = std::max(largestRepaintDialog.cy, rect.bottom - rect.top);
        DockWindow(measured[i], 0);
    }
    LayoutDockContainer();
    for (HWND measure : measured) {
        if (!measure) continue;
        UndockWindow(measure);
        DestroyWindow(measure);
    }
    activeRepaintDialog = nullptr;
    ShowWindow(container, SW_SHOW);
}

void OnCreate(HWND window) {
    app.mainWindow = window;
    app.unsavedResult = false;
    LoadSettings();
    LoadLanguageTable();  // now with the translation chosen in Options
    if (crashedLastTime) MessageBoxW(window, Lang(kCrashedLastTimeEntry), Lang(kWarningEntry), MB_ICONINFORMATION);

    CBxPicBufAPI::Init(document.workCopy);
    app.statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, Lang(kOpenHintEntry), WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                    window, nullptr, app.instance, nullptr);
    document.metadataSource[0] = 0;
    document.currentPath[0] = 0;
    app.comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

    CreateBackBuffer();
    CBxPicBufAPI::Init(document.original);
    CBxPicBufAPI::Init(document.result);
    Gdiplus::GdiplusStartupInput gdiplus;
    if (Gdiplus::GdiplusStartup(&app.gdiplusToken, &gdiplus, nullptr) != Gdiplus::Ok) app.gdiplusToken = 0;
    ResetView();

    CreateMainToolbar(window);
    DragAcceptFiles(window, TRUE);
    CreateSizedContainer(window);
    if (app.zoomBox) EnableWindow(app.zoomBox, FALSE);
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    repaintDialogOpen = false;
    InstallRepaintProgress();
}

void OnDestroy() {
    // A running worker writes the result picture, a preview reads the
    // opened one: both end before anything is freed.
    StopRepaintWorker();
    StopRepaintPreview();
    SaveSettings();
    FreePicture(document.original);
    FreePicture(document.result);
    FreePicture(document.workCopy);
    FreeViewCaches();
    if (app.comInitialized) CoUninitialize();
    app.comInitialized = false;
    FreeBackBuffer();
    if (app.gdiplusToken) Gdiplus::GdiplusShutdown(app.gdiplusToken);
    app.gdiplusToken = 0;
    PostQuitMessage(0);
}

// After the children are gone: what they used.
void OnFinalDestroy() {
    if (app.toolbarImages) ImageList_Destroy(app.toolbarImages);
    if (app.zoomBoxFont) DeleteObject(app.zoomBoxFont);
    app.toolbarImages = nullptr;
    app.zoomBoxFont = nullptr;
    app.toolbar = app.zoomBox = app.statusBar = nullptr;
    activeRepaintDialog = nullptr;
}

void OnSize(HWND window, WPARAM wParam, LPARAM lParam) {
    if (app.statusBar) SendMessageW(app.statusBar, WM_SIZE, wParam, lParam);
    LayoutToolbar();
    if (dockContainer.window) {
        RECT client, toolbar = {}, status = {}, container;
        GetClientRect(window, &client);
        if (app.toolbar) toolbar = WindowRectIn(app.toolbar, window);
        if (app.statusBar) GetWindowRect(app.statusBar, &status);
        GetWindowRect(dockContainer.window, &container);
        int width = container.right - container.left;
        int top = std::max(static_cast<int>(toolbar.bottom), 0);
        int bottom = client.bottom - (status.bottom - status.top);
        MoveWindow(dockContainer.window, client.right - width, top, width, std::max(bottom - top, 0), TRUE);
    }
    RenderFromCache();
    PaintView();
}

// The least window size: every toolbar button whole (the spacer at 1 pixel)
// and the tallest repaint dialog between the toolbar and the status bar.
void OnGetMinMaxInfo(HWND window, MINMAXINFO* limits) {
    if (!app.toolbar || !app.statusBar || !largestRepaintDialog.cy) return;  // not made yet
    RECT status, spacer = ButtonRect(IDM_SPACER), menu = ButtonRect(IDM_MENU);
    const RECT toolbar = WindowRectIn(app.toolbar, window);
    GetWindowRect(app.statusBar, &status);
    const LONG buttonsWidth = menu.right - (spacer.right - spacer.left - 1);
    RECT least = {0, 0, std::max(buttonsWidth, largestRepaintDialog.cx),
                  toolbar.bottom + largestRepaintDialog.cy + (status.bottom - status.top)};
    AdjustWindowRectEx(&least, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    limits->ptMinTrackSize.x = least.right - least.left;
    limits->ptMinTrackSize.y = least.bottom - least.top;
}

// The view's repaint after an aborted run: the opened picture again. It is
// painted at once too, so the half-written result never stays on screen.
void OnRunAborted() {
    repaintDialogOpen = true;
    app.unsavedResult = false;
    const SBxPicBuf& work = document.workCopy;
    if (work.pixels && CBxPicBufAPI::ReinitHeap(document.result, work)) CBxPicBufAPI::Copy(document.result, work);
    RenderAfresh();
    PaintView();
}

bool OnNotify(LPARAM lParam) {
    NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->code != TTN_GETDISPINFOW) return false;
    NMTTDISPINFOW* tip = reinterpret_cast<NMTTDISPINFOW*>(lParam);
    tip->lpszText = const_cast<LPWSTR>(ToolbarTooltipText(static_cast<int>(header->idFrom)));
    tip->hinst = nullptr;
    return true;
}

void OnCommand(HWND window, int command, int code) {
    SetForegroundWindow(window);
    if (!CommandAllowedNow(command)) {
        MessageBeep(MB_OK);
        return;
    }
    switch (command) {
    case IDM_OPEN: CmdOpen(window); break;
    case IDM_SAVE_AS: CmdSaveAs(window); break;
    case IDM_CLOSE: CmdClose(window); break;
    case IDM_OPTIONS: CmdOptions(window); break;
    case IDM_EXIT: CmdExit(window); break;
    case IDM_ABOUT: CmdAbout(window); break;
    case IDM_VISIT_WEB_SITE: CmdVisitWebSite(window); break;
    case IDM_ZOOM_IN: ZoomBy(kZoomInFactor); break;
    case IDM_ZOOM_OUT: ZoomBy(kZoomOutFactor); break;
    case IDM_ZOOM_FIT: ZoomToFit(true); break;
    case IDM_ZOOM_100: Zoom100(); break;
    case IDM_PAN_LEFT: PanView(-kPanStep, 0); break;
    case IDM_PAN_RIGHT: PanView(kPanStep, 0); break;
    case IDM_PAN_UP: PanView(0, -kPanStep); break;
    case IDM_PAN_DOWN: PanView(0, kPanStep); break;
    case IDM_ZOOM_BOX:
        if (code == CBN_SELCHANGE)
            ZoomBoxSelected(static_cast<int>(SendMessageW(app.zoomBox, CB_GETCURSEL, 0, 0)));
        else if (code == CBN_CLOSEUP)
            SetFocus(window);
        break;
    case IDM_REPAINT_ORIGINAL:
    case IDM_REPAINT_SMUDGE:
    case IDM_REPAINT_REDRAW: CmdRepaint(window, command); break;
    case IDM_MENU: CmdMenu(window); break;
    case IDM_HELP_KEY: break;  // F1: no help
    }
}

bool ControlHeld() { return GetKeyState(VK_CONTROL) < 0; }

POINT MousePoint(LPARAM lParam) { return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

}  // namespace

void SetCursorEverywhere(const WCHAR* cursorName) {
    HCURSOR cursor = LoadCursorW(nullptr, cursorName);
    SetCursor(cursor);
    for (HWND target : {app.mainWindow, static_cast<HWND>(activeRepaintDialog), dockContainer.window})
        if (target) SetClassLongPtrW(target, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY:
        OnFinalDestroy();
        break;
    case WM_SIZE:
        OnSize(window, wParam, lParam);
        return 0;
    case WM_GETMINMAXINFO:
        OnGetMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_PAINT:
        OnViewPaint(window);
        return 0;
    case WM_ERASEBKGND:
        return 0;  // the back buffer covers the client area
    case WM_CLOSE:
        if (ConfirmDropResult(window)) DestroyWindow(window);
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY:
        if (OnNotify(lParam)) return 0;
        break;
    case WM_ENTERMENULOOP: {
        // A button's tooltip would stay over the popup menu.
        HWND tooltip = app.toolbar ? reinterpret_cast<HWND>(SendMessageW(app.toolbar, TB_GETTOOLTIPS, 0, 0)) : nullptr;
        if (tooltip) SendMessageW(tooltip, TTM_POP, 0, 0);
        break;
    }
    case WM_SETCURSOR: {
        // The open repaint dialog decides the cursor over its preview frame.
        POINT cursor;
        GetCursorPos(&cursor);
        ScreenToClient(window, &cursor);
        if (RepaintDialogMouse(WM_SETCURSOR, cursor)) return TRUE;
        break;
    }
    case WM_SYSCOMMAND:
        // F10, or Alt pressed and released alone: there is no menu bar, so the
        // Menu button's popup opens, while the button is enabled.
        if ((wParam & 0xFFF0) == SC_KEYMENU && lParam == 0) {
            if (ToolbarButtonEnabled(IDM_MENU)) CmdMenu(window);
            return 0;
        }
        break;
    case WM_KEYDOWN:
        if (activeRepaintDialog && ControlHeld()) SetCursorEverywhere(IDC_CROSS);
        break;
    case WM_KEYUP:
        if (activeRepaintDialog && !ControlHeld()) SetCursorEverywhere(IDC_ARROW);
        break;
    case WM_LBUTTONDOWN:
        SetFocus(window);  // a click into the view gives its keys back: arrows pan, + and - zoom
        if (RepaintDialogMouse(message, MousePoint(lParam))) return 0;
        if (activeRepaintDialog && ControlHeld()) return 0;  // with Ctrl only the frame may be taken
        ViewLeftButtonDown(window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_MOUSEMOVE:
        if (RepaintDialogMouse(message, MousePoint(lParam))) return 0;
        if (wParam & MK_LBUTTON) ViewMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
        RepaintDialogMouse(message, MousePoint(lParam));
        ViewLeftButtonUp();
        return 0;
    case WM_LBUTTONDBLCLK:
        ZoomToFit(true);
        return 0;
    case WM_RBUTTONDOWN:
        ViewCompare(window, true);
        return 0;
    case WM_RBUTTONUP:
        ViewCompare(window, false);
        return 0;
    case WM_MOUSEWHEEL:
        ViewMouseWheel(window, wParam, lParam);
        return 0;
    case WM_DROPFILES:
        CmdDropFiles(window, reinterpret_cast<HDROP>(wParam));
        return 0;
    case UM_RESULT_CHANGED:
        if (lParam) {
            ShowResultChange(*reinterpret_cast<const CBxRect*>(lParam));
        } else {
            RenderAfresh();
            Stamp(previewStamps.rendered);
            PaintView();
        }
        return 0;
    case UM_REDRAW:
    case UM_REDRAW_FRAME:
        RenderFromCache();
        PaintView();
        return 0;
    case UM_RUN_DONE:
        app.unsavedResult = true;
        return 0;
    case UM_RUN_ABORTED:
        OnRunAborted();
        return 0;
    case UM_START_ORIGINAL:
    case UM_START_SMUDGE:
    case UM_START_REDRAW:
        CmdStartRun(message);
        return 0;
    case UM_ZOOM_TEXT_ENTERED:
        ZoomTextEntered();
        return 0;
    case WM_ENDSESSION:
        // The process ends after this: a running worker must not be cut off
        // while the pictures are torn down.
        if (wParam) StopRepaintWorker(), StopRepaintPreview();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
