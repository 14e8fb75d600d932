// Window tests of the image view: fit, typed zoom, the zoom box, the wheel
// with its limits and its anchor outside the picture, the unlimited zoom
// buttons, drag and arrow pan, the view rectangle, comparing with the right
// button, the preview frame outline and a window larger than the back
// buffer. The editor's main window is driven with messages and what it
// shows is read back from the screen.
#include <math.h>
#include <string.h>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"

namespace {

const COLORREF kRed = RGB(220, 30, 30);
const COLORREF kBlue = RGB(30, 30, 220);
const COLORREF kGreen = RGB(30, 200, 30);
const COLORREF kBackground = RGB(48, 48, 48);

HWND window;

bool Near(double a, double b) { return fabs(a - b) < 1e-9; }

// Whether a screen colour is close to the expected one (bilinear edges blend).
bool Looks(COLORREF seen, COLORREF expected) {
    return abs(GetRValue(seen) - GetRValue(expected)) <= 3 && abs(GetGValue(seen) - GetGValue(expected)) <= 3 &&
           abs(GetBValue(seen) - GetBValue(expected)) <= 3;
}

unsigned long Hex(COLORREF colour) { return static_cast<unsigned long>(colour); }

std::string ZoomBoxText() {
    WCHAR text[64];
    GetWindowTextW(app.zoomBox, text, 64);
    return Utf8(text);
}

HWND ZoomBoxEdit() {
    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    GetComboBoxInfo(app.zoomBox, &info);
    return info.hwndItem;
}

// Types a zoom into the box and presses Enter in its edit field.
void TypeZoom(const WCHAR* text) {
    SetWindowTextW(app.zoomBox, text);
    SetFocus(ZoomBoxEdit());
    SendMessageW(ZoomBoxEdit(), WM_KEYDOWN, VK_RETURN, 0);
    SendMessageW(ZoomBoxEdit(), WM_KEYUP, VK_RETURN, 0);
}

void Wheel(int clientX, int clientY, int delta) {
    POINT screen = {clientX, clientY};
    ClientToScreen(window, &screen);
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(screen.x, screen.y));
}

void Command(int id, LPARAM lParam = 0) { SendMessageW(window, WM_COMMAND, id, lParam); }

POINT Centre() {
    RECT rect = ViewRect(ViewRectAnchor);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void FitTwoHundredByHundred(const WideString& picture) {
    Section("fit of 200 x 100 into a 1000 x 800 view");
    // The anchor view is the client area less the container, the toolbar
    // (+2) and 20 pixels at the bottom.
    RECT toolbar;
    GetClientRect(app.toolbar, &toolbar);
    int containerWidth = ChildRect(dockContainer.window).right - ChildRect(dockContainer.window).left;
    SetClientSize(window, 1000 + containerWidth, 800 + toolbar.bottom + 2 + 20);
    RECT anchor = ViewRect(ViewRectAnchor);
    Check(anchor.right - anchor.left == 1000 && anchor.bottom - anchor.top == 800, "the view is 1000 x 800 (got %ld x %ld)",
          static_cast<long>(anchor.right - anchor.left), static_cast<long>(anchor.bottom - anchor.top));

    DropFile(window, picture);
    Check(document.result.width == 200 && document.result.height == 100, "the dropped picture is shown");
    Check(Near(view.scale, 5.0), "it fits with scale 5.0 (got %g)", view.scale);
    Check(Near(view.srcX, 100) && Near(view.srcY, 50), "about the picture's centre");
    POINT centre = Centre();
    Check(Near(view.dstX, centre.x) && Near(view.dstY, centre.y), "placed at the view's centre");
    Check(ZoomBoxText() == "500.0 %", "the zoom box says 500.0 %% (got \"%s\")", ZoomBoxText().c_str());
    Check(GetFocus() == window, "the focus is back on the main window");
    COLORREF left = ClientPixel(window, centre.x - 250, centre.y);
    COLORREF right = ClientPixel(window, centre.x + 250, centre.y);
    COLORREF above = ClientPixel(window, centre.x, centre.y - 300);
    Check(Looks(left, kRed) && Looks(right, kBlue), "the screen shows its red left and blue right half (%06lx, %06lx)",
          Hex(left), Hex(right));
    Check(Looks(above, kBackground), "the view's background is grey 48 above it (%06lx)", Hex(above));
    Check(Looks(ClientPixel(window, 2, centre.y), kRed) && Looks(ClientPixel(window, 997, centre.y), kBlue),
          "the picture spans the view's whole width");
}

void TypedZoom() {
    Section("typed zoom");
    struct Typed {
        const WCHAR* text;
        double scale;
        const char* shown;
    } cases[] = {
        {L"25", 0.25, "25.0 %"}, {L"12,5 %", 0.125, "12.5 %"}, {L"5", 0.10, "10.0 %"},
        {L"2000", 8.0, "800.0 %"}, {L"33.3", 0.333, "33.3 %"},
    };
    for (const Typed& c : cases) {
        TypeZoom(c.text);
        Check(Near(view.scale, c.scale), "\"%s\" gives scale %g (got %g)", Utf8(c.text).c_str(), c.scale, view.scale);
        Check(ZoomBoxText() == c.shown, "and the box shows \"%s\" (got \"%s\")", c.shown, ZoomBoxText().c_str());
    }
    Check(GetFocus() == window, "Enter gives the focus back to the main window");
    TypeZoom(L"abc");
    Check(Near(view.scale, 0.333), "\"abc\" leaves the zoom (got %g)", view.scale);
    Check(ZoomBoxText() == "33.3 %", "and the box shows the zoom again (got \"%s\")", ZoomBoxText().c_str());
    TypeZoom(L"1a");
    Check(Near(view.scale, 0.333), "\"1a\" is refused too");

    SendMessageW(app.zoomBox, CB_SETCURSEL, 6, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_ZOOM_BOX, CBN_SELCHANGE), reinterpret_cast<LPARAM>(app.zoomBox));
    Check(Near(view.scale, 4.0) && ZoomBoxText() == "400.0 %", "choosing 400.0 %% in the box zooms to 4.0 (got %g)",
          view.scale);
}

void WheelAndButtons() {
    Section("wheel limits and the unlimited buttons");
    Command(IDM_ZOOM_FIT);
    POINT centre = Centre();
    for (int i = 0; i < 4; ++i) Wheel(centre.x, centre.y, WHEEL_DELTA);
    Check(Near(view.scale, 8.0), "the wheel stops at 8.0 (got %g)", view.scale);
    Check(Near(view.srcX, 100) && Near(view.srcY, 50), "zooming about the picture point under the mouse");
    Command(IDM_ZOOM_IN);
    Check(Near(view.scale, 9.6), "Zoom In goes beyond it (got %g)", view.scale);
    for (int i = 0; i < 30; ++i) Wheel(centre.x, centre.y, -WHEEL_DELTA);
    Check(Near(view.scale, 0.5), "the wheel stops at 100 / the longer side, 0.5 (got %g)", view.scale);
    Command(IDM_ZOOM_OUT);
    Check(Near(view.scale, 0.5 * 0.8333333333333334), "Zoom Out goes below it (got %g)", view.scale);

    Section("wheel beside the picture");
    Command(IDM_ZOOM_FIT);
    Command(IDM_ZOOM_100);
    Check(Near(view.scale, 1.0) && ZoomBoxText() == "100.0 %", "Zoom 100%% gives scale 1.0");
    Check(Near(view.dstX, centre.x) && Near(view.srcX, 100), "the picture point at the anchor moves to the centre");
    // The picture spans centre.x - 100 to centre.x + 100; the mouse is left of it.
    Wheel(centre.x - 300, centre.y + 10, WHEEL_DELTA);
    Check(Near(view.dstX, centre.x - 100) && Near(view.srcX, 0.0),
          "zooms about the nearest point of the left edge (anchor %g -> %g)", view.srcX, view.dstX);
    Check(Near(view.dstY, centre.y + 10) && Near(view.srcY, 60.0), "at the mouse's height (%g -> %g)", view.srcY,
          view.dstY);
    Check(Looks(ClientPixel(window, centre.x - 98, centre.y), kRed) &&
              Looks(ClientPixel(window, centre.x - 103, centre.y), kBackground),
          "the left edge stays where it was");
}

void Panning() {
    Section("pan by drag and arrows");
    Command(IDM_ZOOM_FIT);
    Command(IDM_ZOOM_100);
    POINT centre = Centre();
    double srcX = view.srcX, srcY = view.srcY;
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre.x, centre.y));
    Check(view.dragging && GetCapture() == window, "a click in the view starts a drag with the mouse captured");
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(centre.x - 30, centre.y - 5));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(centre.x - 40, centre.y - 20));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(centre.x - 40, centre.y - 20));
    Check(Near(view.srcX, srcX + 40) && Near(view.srcY, srcY + 20), "dragging 40 left and 20 up moves the source anchor by that (%g, %g)",
          view.srcX - srcX, view.srcY - srcY);
    Check(!view.dragging && GetCapture() == nullptr, "releasing the button ends the drag");
    // The picture moved with the mouse: its left edge is 40 further left.
    Check(Looks(ClientPixel(window, centre.x - 138, centre.y), kRed) &&
              Looks(ClientPixel(window, centre.x - 143, centre.y), kBackground),
          "the screen shows the picture moved");

    Command(IDM_ZOOM_IN);  // 1.2
    srcX = view.srcX;
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre.x, centre.y));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(centre.x + 60, centre.y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(centre.x + 60, centre.y));
    Check(Near(view.srcX, srcX - 50), "at zoom 1.2 a drag of 60 pixels moves 50 picture pixels (%g)", view.srcX - srcX);

    RECT hit = ViewRect(ViewRectHitTest);
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre.x, hit.top - 1));
    Check(!view.dragging, "a click above the view starts no drag");
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.right, hit.top));
    Check(view.dragging, "a click on the view's corner does (bounds included)");
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(hit.right, hit.top));

    double dstX = view.dstX, dstY = view.dstY;
    Command(IDM_PAN_RIGHT);
    Command(IDM_PAN_UP);
    Check(Near(view.dstX, dstX + 50) && Near(view.dstY, dstY - 50), "the right and up arrows move the picture 50 pixels");
    Command(IDM_PAN_LEFT);
    Command(IDM_PAN_DOWN);
    Check(Near(view.dstX, dstX) && Near(view.dstY, dstY), "left and down move it back");

    Command(IDM_ZOOM_100);
    SendMessageW(window, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(centre.x, centre.y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(centre.x, centre.y));
    Check(Near(view.scale, 5.0), "a double click fits the picture (got %g)", view.scale);
}

void ViewRectangle() {
    Section("the view rectangle");
    RECT client, toolbar, status;
    GetClientRect(window, &client);
    GetClientRect(app.toolbar, &toolbar);
    GetWindowRect(app.statusBar, &status);
    RECT container = ChildRect(dockContainer.window);
    RECT hit = ViewRect(ViewRectHitTest), anchor = ViewRect(ViewRectAnchor), paint = ViewRect(ViewRectPaint);
    Check(hit.left == 0 && hit.right == container.left && container.right == client.right,
          "it ends at the container, which is flush with the right edge");
    Check(hit.top == toolbar.bottom + 2 && paint.top == toolbar.bottom + 3, "it starts below the toolbar");
    Check(hit.bottom == client.bottom - (status.bottom - status.top) && paint.bottom == hit.bottom,
          "it ends above the status bar");
    Check(anchor.bottom == client.bottom - 20, "for zoom anchors it ends 20 pixels above the bottom");
}

void Comparing() {
    Section("comparing with the right button");
    Command(IDM_ZOOM_FIT);
    POINT centre = Centre();
    // A finished run: the result differs from the opened picture.
    for (int y = 0; y < document.result.height; ++y) {
        uint8_t* row = PicRow(document.result, y);
        for (int x = 0; x < document.result.width; ++x) {
            row[3 * x] = GetBValue(kGreen);
            row[3 * x + 1] = GetGValue(kGreen);
            row[3 * x + 2] = GetRValue(kGreen);
        }
    }
    SendMessageW(window, UM_REDRAW, 0, 0);
    COLORREF before = ClientPixel(window, centre.x - 250, centre.y);
    Check(Looks(before, kRed), "rendering from the cache does not read the changed result (%06lx)", Hex(before));
    SendMessageW(window, UM_RESULT_CHANGED, 0, 0);
    COLORREF result = ClientPixel(window, centre.x - 250, centre.y);
    Check(Looks(result, kGreen), "UM_RESULT_CHANGED shows the new result (%06lx)", Hex(result));
    SendMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(centre.x, centre.y));
    COLORREF original = ClientPixel(window, centre.x - 250, centre.y);
    Check(Looks(original, kRed), "holding the right button shows the opened picture (%06lx)", Hex(original));
    SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(centre.x, centre.y));
    Check(Looks(ClientPixel(window, centre.x - 250, centre.y), kGreen), "releasing it shows the result again");
    Check(GetCapture() == nullptr, "and releases the mouse");
}

void PreviewFrame() {
    Section("the preview frame outline");
    Command(IDM_ZOOM_FIT);  // scale 5
    CBxRect frame = {20, 20, 60, 60};
    int x0, y0, x1, y1;
    ViewMap().MapPointSrcToDst(x0, y0, frame.left, frame.top);
    ViewMap().MapPointSrcToDst(x1, y1, frame.right, frame.bottom);
    const int midX = (x0 + x1) / 2, midY = (y0 + y1) / 2;
    const COLORREF inverted = RGB(255 - GetRValue(kGreen), 255 - GetGValue(kGreen), 255 - GetBValue(kGreen));
    previewFrame = &frame;
    SendMessageW(window, UM_REDRAW_FRAME, 0, 0);
    Check(Looks(ClientPixel(window, x0, midY), inverted) && Looks(ClientPixel(window, x0 + 1, midY), inverted),
          "the left side is two inverted columns (%06lx)", Hex(ClientPixel(window, x0, midY)));
    Check(Looks(ClientPixel(window, x1, midY), inverted) && Looks(ClientPixel(window, x1 - 1, midY), inverted),
          "so is the right side");
    Check(Looks(ClientPixel(window, midX, y0), inverted) && Looks(ClientPixel(window, midX, y1 - 1), inverted),
          "and the top and bottom rows");
    Check(Looks(ClientPixel(window, x0 + 2, midY), kGreen) && Looks(ClientPixel(window, midX, midY), kGreen),
          "inside it the picture is untouched");
    Check(Looks(ClientPixel(window, x0, y0), inverted), "the corner is inverted once, not twice");
    SendMessageW(window, UM_REDRAW, 0, 0);
    Check(Looks(ClientPixel(window, x0, midY), inverted), "every render draws it while it is set");
    previewFrame = nullptr;
    SendMessageW(window, UM_REDRAW, 0, 0);
    Check(Looks(ClientPixel(window, x0, midY), kGreen), "without it the outline is gone");
}

// Lets the main window grow beyond the screen.
WNDPROC mainProc;
LRESULT CALLBACK AllowHugeWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETMINMAXINFO) {
        LRESULT result = CallWindowProcW(mainProc, hwnd, message, wParam, lParam);
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMaxTrackSize.x = info->ptMaxTrackSize.y = 5000;
        return result;
    }
    return CallWindowProcW(mainProc, hwnd, message, wParam, lParam);
}

void LargerThanBackBuffer() {
    Section("a window larger than the back buffer");
    mainProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AllowHugeWindow)));
    SetClientSize(window, 3400, 2300);
    RECT client;
    GetClientRect(window, &client);
    Check(client.right == 3400 && client.bottom == 2300, "the client area is 3400 x 2300 (got %ld x %ld)",
          static_cast<long>(client.right), static_cast<long>(client.bottom));
    // A zoom that covers the whole window with the picture.
    view.scale = 40.0;
    view.srcX = 50;
    view.srcY = 50;
    view.dstX = 1500;
    view.dstY = 1000;
    SBxPicBuf& back = document.backBuffer;
    memset(back.pixels, 7, static_cast<size_t>(back.size));
    SendMessageW(window, UM_REDRAW, 0, 0);
    const uint8_t* last = PicRow(back, back.height - 1) + 3 * (back.width - 1);
    Check(last[1] == GetGValue(kGreen), "the render fills the back buffer up to its last pixel (got %d)", last[1]);
    Check(IsWindow(window), "and nothing beyond it: the window is still there");
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(mainProc));
    SetClientSize(window, 900, 600);
    Command(IDM_ZOOM_FIT);
    Check(Looks(ClientPixel(window, Centre().x, Centre().y), kGreen), "back to a normal size, the picture shows again");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(120);
    RemoveLanguageFile();
    RemoveSettingsFolder();
    WideString picture = TestFilesFolder() + L"halves.png";
    if (!Check(WriteTestPicture(picture, 200, 100, SaveFormatPng,
                                [](int x, int) { return x < 100 ? kRed : kBlue; }),
               "the test picture is written"))
        return Summary();
    window = OpenEditorWindow(instance, 900, 600);
    if (!Check(window != nullptr, "the main window is created")) return Summary();

    FitTwoHundredByHundred(picture);
    TypedZoom();
    WheelAndButtons();
    Panning();
    ViewRectangle();
    Comparing();
    PreviewFrame();
    LargerThanBackBuffer();

    SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
    PumpMessages(20);
    Check(!IsWindow(window), "Exit closes the window");
    return Summary();
}
