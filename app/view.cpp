// The image view: zoom and pan state, rendering the pictures through their
// 8-bit display caches into the back buffer, and copying that to the screen.
// Panning and zooming only transform a cache; a cache is made again only
// when its picture changes.
#include "app.h"

#include <windowsx.h>
#include <stdio.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "app/preview_stamps.h"
#include "skin/gdi.h"

ViewState view;
CBxRect* previewFrame;
PreviewStamps previewStamps;
const double kZoomTable[kZoomTableSize] = {0.1, 0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 8.0};

namespace {

// The zoom range: up to 800 %, the zoom box's last entry; down to 10 %, or
// lower for a picture so large that 10 % still shows more than 1000 pixels
// of its longer side, which may then shrink to 100 pixels.
const double kMaxScale = 8.0;
const double kMinScale = 0.1;
const double kLeastShownSide = 100.0;

bool HasPixels(const SBxPicBuf* picture) {
    return picture && picture->pixels && picture->width > 0 && picture->height > 0;
}

// The part of the back buffer under the client area.
bool ClientDestination(SBxPicBuf& destination) {
    if (!backBuffer.pixels.pixels || !app.mainWindow) return false;
    RECT client;
    GetClientRect(app.mainWindow, &client);
    destination = backBuffer.pixels;
    destination.width = std::min(static_cast<int>(client.right), kBackBufferWidth);
    destination.height = std::min(static_cast<int>(client.bottom), kBackBufferHeight);
    return destination.width > 0 && destination.height > 0;
}

void FillBackground(SBxPicBuf& destination) {
    CBxPicBufAPI::SetConst(destination, CBxRect{0, 0, destination.width, destination.height}, kViewBackground);
}

bool MakeCache(SBxPicBuf& cache, const SBxPicBuf& picture) {
    return CBxPicBufAPI::ReinitHeap(cache, picture) && CBxPicBufAPI::Copy(cache, picture) &&
           CBxPicBufAPI::ConvertBpcComp(cache, 8, 3);
}

void InvertPixel(SBxPicBuf& destination, int x, int y) {
    if (x < 0 || y < 0 || x >= destination.width || y >= destination.height) return;
    uint8_t* pixel = PicRow(destination, y) + 3 * x;
    pixel[0] = static_cast<uint8_t>(~pixel[0]);
    pixel[1] = static_cast<uint8_t>(~pixel[1]);
    pixel[2] = static_cast<uint8_t>(~pixel[2]);
}

// Two-pixel outline, inverted so it shows on any picture, into destination,
// the block of the back buffer at `origin`. Rows and columns outside it are
// skipped before the loops, so a frame far larger than the window costs nothing.
void DrawPreviewFrame(SBxPicBuf& destination, POINT origin, const CBxPicMap& map, const CBxRect& frame) {
    int x0, y0, x1, y1;
    map.MapPointSrcToDst(x0, y0, frame.left, frame.top);
    map.MapPointSrcToDst(x1, y1, frame.right, frame.bottom);
    x0 -= origin.x, x1 -= origin.x, y0 -= origin.y, y1 -= origin.y;
    int firstX = std::max(x0 + 2, 0), lastX = std::min(x1 - 2, destination.width - 1);
    for (int x = firstX; x <= lastX; ++x) {
        InvertPixel(destination, x, y0);
        InvertPixel(destination, x, y1);
        InvertPixel(destination, x, y0 + 1);
        InvertPixel(destination, x, y1 - 1);
    }
    int firstY = std::max(y0, 0), lastY = std::min(y1, destination.height - 1);
    for (int y = firstY; y <= lastY; ++y) {
        InvertPixel(destination, x0, y);
        InvertPixel(destination, x1, y);
        InvertPixel(destination, x0 + 1, y);
        InvertPixel(destination, x1 - 1, y);
    }
}

void TransformCache(SBxPicBuf& destination, const SBxPicBuf& cache, const CBxPicMap& map) {
    switch (view.interpolation) {
    case ViewNearest: CBxPicBufAPI::TransformConstantFast(destination, cache, map); break;
    case ViewBicubic: CBxPicBufAPI::TransformBicubicFast(destination, cache, map); break;
    default: CBxPicBufAPI::TransformBilinearFast(destination, cache, map); break;
    }
}

// Draws a cache (null or empty: none) into destination, the block of the
// back buffer at `origin` in client coordinates: the background, the picture
// through the view's map, the frame's outline. Any block gives the pixels a
// render of the whole client area gives there.
void DrawView(SBxPicBuf& destination, POINT origin, const SBxPicBuf* cache) {
    FillBackground(destination);
    if (!HasPixels(cache)) return;
    const CBxPicMap map = ViewMap();
    TransformCache(destination, *cache,
                   CBxPicMap(map.dstX - origin.x, map.dstY - origin.y, map.srcX, map.srcY, 0.0, map.scale));
    if (previewFrame) DrawPreviewFrame(destination, origin, map, *previewFrame);
}

// Renders the slot's cache into the client part of the back buffer; with
// `picture` the cache is made afresh from it first.
void Render(int slot, const SBxPicBuf* picture) {
    SBxPicBuf destination;
    if (!ClientDestination(destination)) return;
    GdiFlush();  // GDI may still be writing into the section
    try {
        SBxPicBuf* cache = slot == ViewSlotOriginal || slot == ViewSlotResult ? &view.cache[slot] : nullptr;
        if (cache && picture && (!HasPixels(picture) || !MakeCache(*cache, *picture))) cache = nullptr;
        DrawView(destination, POINT{0, 0}, cache);
    } catch (...) {
        // Memory ran short while making a cache: show nothing rather than
        // let the exception reach the window procedure.
        FreeViewCaches();
        FillBackground(destination);
    }
}

// The part `changed` of picture into its cache of the same size, converted
// as MakeCache converts the whole.
bool UpdateCache(SBxPicBuf& cache, const SBxPicBuf& picture, const CBxRect& changed) {
    const CBxRect r = {std::max(changed.left, 0), std::max(changed.top, 0), std::min(changed.right, picture.width),
                       std::min(changed.bottom, picture.height)};
    if (r.left >= r.right || r.top >= r.bottom) return true;
    const CBxPoint origin = {r.left, r.top};
    const CBxSize size = {r.right - r.left, r.bottom - r.top};
    if (picture.components == 3 && picture.bitsPerComponent == 8)
        return CBxPicBufAPI::CopyRect(cache, picture, origin, origin, size);
    PicBufHolder part;
    return CBxPicBufAPI::ReinitHeap(part.buf, size.width, size.height, picture.components, picture.bitsPerComponent) &&
           CBxPicBufAPI::Copy(part.buf, picture, r) && CBxPicBufAPI::ConvertBpcComp(part.buf, 8, 3) &&
           CBxPicBufAPI::CopyRect(cache, part.buf, origin, CBxPoint{0, 0}, size);
}

// The client pixels whose colour may follow from the picture's pixels in
// `changed`: interpolation reaches up to two picture pixels beyond them, and
// the frame's outline lies on its mapped corners' rows and columns.
RECT ClientAreaOf(const CBxRect& changed) {
    const CBxPicMap map = ViewMap();
    int left, top, right, bottom;
    map.MapPointSrcToDst(left, top, changed.left - 3.0, changed.top - 3.0);
    map.MapPointSrcToDst(right, bottom, changed.right + 3.0, changed.bottom + 3.0);
    return RECT{left - 2, top - 2, right + 3, bottom + 3};
}

void RenderAndPaint() {
    RenderFromCache();
    PaintView();
}

int PictureLongerSide() { return std::max(document.result.width, document.result.height); }

double LimitedScale(double scale) {
    const double least = std::min(kMinScale, kLeastShownSide / std::max(PictureLongerSide(), 1));
    return std::clamp(scale, least, kMaxScale);
}

POINT ViewCentre() {
    RECT rect = ViewRect(ViewRectAnchor);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

}  // namespace

bool HasPicture() { return HasPixels(&document.result); }

void ResetView() {
    view.scale = 1.0;
    view.dstX = view.dstY = view.srcX = view.srcY = 0.0;
    view.interpolation = ViewBilinear;
    for (SBxPicBuf& cache : view.cache) CBxPicBufAPI::Init(cache);
    ClearDragState();
}

void FreeViewCaches() {
    for (SBxPicBuf& cache : view.cache) {
        CBxPicBufAPI::DoneHeap(cache);
        CBxPicBufAPI::Init(cache);
    }
}

CBxPicMap ViewMap() { return CBxPicMap(view.dstX, view.dstY, view.srcX, view.srcY, 0.0, view.scale); }

RECT ViewRect(ViewRectKind kind) {
    RECT client = {};
    if (app.mainWindow) GetClientRect(app.mainWindow, &client);
    RECT rect = client;
    if (dockContainer.window && IsWindowVisible(dockContainer.window))
        rect.right = WindowRectIn(dockContainer.window, app.mainWindow).left;
    RECT toolbar = {};
    if (app.toolbar) GetClientRect(app.toolbar, &toolbar);
    rect.top = toolbar.bottom + (kind == ViewRectPaint ? 3 : 2);
    RECT status = {};
    if (app.statusBar) GetWindowRect(app.statusBar, &status);
    rect.bottom = kind == ViewRectAnchor ? client.bottom - 20 : client.bottom - (status.bottom - status.top);
    return rect;
}

void RenderFromCache() { Render(ViewSlotResult, nullptr); }

void RenderAfresh() { Render(ViewSlotResult, &document.result); }

void RenderOriginalFromCache() { Render(ViewSlotOriginal, nullptr); }

void RenderNoPicture() { Render(ViewSlotNone, nullptr); }

void CacheOriginal() {
    try {
        if (HasPixels(&document.original)) MakeCache(view.cache[ViewSlotOriginal], document.original);
    } catch (...) {
        FreeViewCaches();  // memory ran short: the view shows nothing
        RenderNoPicture();
    }
}

void ShowResultChange(const CBxRect& changed) {
    SBxPicBuf& cache = view.cache[ViewSlotResult];
    const SBxPicBuf& picture = document.result;
    SBxPicBuf destination;
    if (!HasPixels(&cache) || cache.width != picture.width || cache.height != picture.height ||
        !ClientDestination(destination)) {
        RenderAfresh();
        PaintView();
        return;
    }
    GdiFlush();
    try {
        if (!UpdateCache(cache, picture, changed)) throw std::bad_alloc();
    } catch (...) {
        FreeViewCaches();
        FillBackground(destination);
        PaintView();
        return;
    }
    const RECT area = ClientAreaOf(changed), whole = {0, 0, destination.width, destination.height};
    RECT clipped;
    if (!IntersectRect(&clipped, &area, &whole)) return;  // beside the window: only the cache changes
    SBxPicBuf part = destination;
    part.pixels = PicRow(destination, clipped.top) + 3 * clipped.left;
    part.width = clipped.right - clipped.left;
    part.height = clipped.bottom - clipped.top;
    part.size = part.pitch * part.height;
    DrawView(part, POINT{clipped.left, clipped.top}, &cache);
    Stamp(previewStamps.rendered);
    const RECT paint = ViewRect(ViewRectPaint);
    if (IntersectRect(&clipped, &clipped, &paint)) {
        InvalidateRect(app.mainWindow, &clipped, FALSE);
        UpdateWindow(app.mainWindow);
    }
}

void PaintView() {
    if (!app.mainWindow) return;
    RECT rect = ViewRect(ViewRectPaint);
    InvalidateRect(app.mainWindow, &rect, FALSE);
    UpdateWindow(app.mainWindow);
}

void OnViewPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    // The children draw themselves; the main window has no WS_CLIPCHILDREN.
    ExcludeChild(dc, window, app.toolbar);
    ExcludeChild(dc, window, app.statusBar);
    ExcludeChild(dc, window, dockContainer.window);
    const RECT& area = paint.rcPaint;
    RECT buffer = {0, 0, kBackBufferWidth, kBackBufferHeight};
    RECT copied;
    if (backBuffer.dc && IntersectRect(&copied, &area, &buffer))
        BitBlt(dc, copied.left, copied.top, copied.right - copied.left, copied.bottom - copied.top, backBuffer.dc,
               copied.left, copied.top, SRCCOPY);
    // A window larger than the back buffer shows the background beyond it.
    if (area.right > kBackBufferWidth || area.bottom > kBackBufferHeight) {
        HBRUSH background = CreateSolidBrush(RGB(kViewBackground, kViewBackground, kViewBackground));
        RECT right = {std::max(area.left, static_cast<LONG>(kBackBufferWidth)), area.top, area.right, area.bottom};
        RECT below = {area.left, std::max(area.top, static_cast<LONG>(kBackBufferHeight)), area.right, area.bottom};
        if (right.left < right.right) FillRect(dc, &right, background);
        if (below.top < below.bottom) FillRect(dc, &below, background);
        DeleteObject(background);
    }
    EndPaint(window, &paint);
    if (previewStamps.painted < previewStamps.rendered) Stamp(previewStamps.painted);
}

void ShowZoomText() {
    char narrow[64];
    snprintf(narrow, sizeof narrow, "%.1f %s", view.scale * 100.0, "%");
    WCHAR text[64];
    MultiByteToWideChar(CP_UTF8, 0, narrow, -1, text, 64);
    if (app.zoomBox) SetWindowTextW(app.zoomBox, text);
    // The focus leaves the zoom box for the view; a repaint dialog's control
    // that has it keeps it, so its keys go on working after a zoom.
    HWND dialog = activeRepaintDialog;
    HWND focus = GetFocus();
    if (app.mainWindow && !(dialog && focus && (focus == dialog || IsChild(dialog, focus))))
        SetFocus(app.mainWindow);
}

void ClearDragState() {
    view.dragging = false;
    view.dragOrigin = POINT{0, 0};
    view.lastMouse = POINT{0, 0};
}

void ZoomToFit(bool draw) {
    if (!HasPicture()) return;
    ClearDragState();
    const SBxPicBuf& picture = document.result;
    view.srcX = picture.width / 2.0;
    view.srcY = picture.height / 2.0;
    RECT rect = ViewRect(ViewRectAnchor);
    view.dstX = (rect.left + rect.right) / 2;
    view.dstY = (rect.top + rect.bottom) / 2;
    double width = rect.right - rect.left, height = rect.bottom - rect.top;
    // A minimised window has no view; its zoom stays.
    if (width > 0 && height > 0) view.scale = LimitedScale(std::min(width / picture.width, height / picture.height));
    ShowZoomText();
    if (draw) RenderAndPaint();
}

void Zoom100() {
    if (!HasPicture()) return;
    ClearDragState();
    POINT centre = ViewCentre();
    view.dstX = centre.x;
    view.dstY = centre.y;
    view.scale = 1.0;
    ShowZoomText();
    RenderAndPaint();
}

void ZoomBy(double factor) {
    if (!HasPicture()) return;
    view.scale = LimitedScale(view.scale * factor);
    ShowZoomText();
    RenderAndPaint();
}

void ZoomBoxSelected(int index) {
    view.scale = LimitedScale(index >= 0 && index < kZoomTableSize ? kZoomTable[index] : 1.0);
    ShowZoomText();
    view.dragOrigin = POINT{0, 0};
    RenderAndPaint();
}

bool ParseZoomText(const WCHAR* text, double& percent) {
    double value = 0.0;
    int decimals = 0;
    bool afterMark = false;
    for (const WCHAR* p = text; *p && *p != L' ' && *p != L'%'; ++p) {
        if (*p == L'.' || *p == L',') {
            afterMark = true;
        } else if (*p >= L'0' && *p <= L'9') {
            value = value * 10.0 + (*p - L'0');
            if (afterMark) ++decimals;
        } else {
            return false;
        }
    }
    percent = value * std::pow(10.0, -decimals);
    return true;
}

void ZoomTextEntered() {
    WCHAR text[10];  // at most 9 characters count
    text[0] = 0;
    if (app.zoomBox) GetWindowTextW(app.zoomBox, text, 10);
    double percent;
    if (!ParseZoomText(text, percent)) {
        ShowZoomText();  // the box shows the zoom in force again
        return;
    }
    // Typed values keep to 10 % .. 800 % whatever the picture's size.
    percent = percent > kMinScale * 100 ? std::min(percent, kMaxScale * 100) : kMinScale * 100;
    view.scale = LimitedScale(percent / 100.0);
    ShowZoomText();
    view.dragOrigin = POINT{0, 0};
    RenderAndPaint();
}

void PanView(int dx, int dy) {
    view.dstX += dx;
    view.dstY += dy;
    RenderAndPaint();
}

void ViewMouseWheel(HWND window, WPARAM wParam, LPARAM lParam) {
    if (!HasPicture() || view.dragging) return;
    POINT mouse = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(window, &mouse);
    // Zoom about the picture point under the mouse, or the nearest point of
    // the picture's edge when the mouse is beside it.
    CBxPicMap map = ViewMap();
    int left, top, right, bottom;
    map.MapPointSrcToDst(left, top, 0.0, 0.0);
    map.MapPointSrcToDst(right, bottom, document.result.width, document.result.height);
    mouse.x = std::clamp(static_cast<int>(mouse.x), left, right);
    mouse.y = std::clamp(static_cast<int>(mouse.y), top, bottom);
    map.MapPointDstToSrc(view.srcX, view.srcY, mouse.x, mouse.y);
    view.dstX = mouse.x;
    view.dstY = mouse.y;
    // The wheel keeps at least 100 pixels of the longer side on screen, or
    // 800 % for a picture too small for that.
    view.scale *= GET_WHEEL_DELTA_WPARAM(wParam) > 0 ? kZoomInFactor : kZoomOutFactor;
    view.scale = std::clamp(view.scale, std::min(kLeastShownSide / PictureLongerSide(), kMaxScale), kMaxScale);
    ShowZoomText();
    RenderAndPaint();
}

void ViewLeftButtonDown(HWND window, int x, int y) {
    RECT rect = ViewRect(ViewRectHitTest);
    if (x < rect.left || x > rect.right || y < rect.top || y > rect.bottom) return;
    SetCapture(window);
    view.dragging = true;
    view.dragOrigin = view.lastMouse = POINT{x, y};
}

void ViewMouseMove(int x, int y) {
    if (!view.dragging) return;
    view.srcX += (view.lastMouse.x - x) / view.scale;
    view.srcY += (view.lastMouse.y - y) / view.scale;
    RenderAndPaint();
    view.lastMouse = POINT{x, y};
}

void ViewLeftButtonUp() {
    if (view.dragging) ReleaseCapture();
    view.dragging = false;
}

void ViewCompare(HWND window, bool showOriginal) {
    // The capture brings the release even when it happens beside the window.
    if (!view.dragging) {
        if (showOriginal)
            SetCapture(window);
        else if (GetCapture() == window)
            ReleaseCapture();
    }
    const SBxPicBuf* picture = showOriginal ? &document.original : &document.result;
    if (HasPixels(picture)) showOriginal ? RenderOriginalFromCache() : RenderFromCache();
    PaintView();
}
