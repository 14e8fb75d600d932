// The view's back buffer: one DIB section for the life of the main window,
// so that a render never allocates and a paint is one BitBlt.
#include "app.h"

#include <string.h>

BackBuffer backBuffer;

bool CreateBackBuffer() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kBackBufferWidth;
    info.bmiHeader.biHeight = -kBackBufferHeight;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) return false;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) {
        DeleteObject(bitmap);
        return false;
    }
    backBuffer.bitmap = bitmap;
    backBuffer.dc = dc;
    backBuffer.oldBitmap = SelectObject(dc, bitmap);
    IntersectClipRect(dc, 0, 0, kBackBufferWidth, kBackBufferHeight);
    const int pitch = kBackBufferWidth * 3;  // a multiple of 4, as DIB rows must be
    backBuffer.pixels = SBxPicBuf{static_cast<uint8_t*>(bits), pitch * kBackBufferHeight, pitch, kBackBufferWidth,
                                  kBackBufferHeight, 3, 8};
    memset(bits, kViewBackground, static_cast<size_t>(pitch) * kBackBufferHeight);
    return true;
}

void FreeBackBuffer() {
    if (backBuffer.dc) {
        SelectObject(backBuffer.dc, backBuffer.oldBitmap);
        DeleteDC(backBuffer.dc);
    }
    if (backBuffer.bitmap) DeleteObject(backBuffer.bitmap);
    backBuffer.dc = nullptr;
    backBuffer.bitmap = nullptr;
    backBuffer.oldBitmap = nullptr;
    CBxPicBufAPI::Init(backBuffer.pixels);
}
