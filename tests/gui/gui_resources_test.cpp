// Window tests of the resources the code does not exercise on its own way
// to the screen: every PNG image decodes at its size, the icon loads at the
// sizes the shell asks for, and the keys the README promises reach their
// commands. (The dialogs, the menu and the strings are driven by the other
// window tests.)
#include <windows.h>

#include <gdiplus.h>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"

namespace {

// Decodes a PNG resource with GDI+ from a stream over a copy of its data.
bool DecodePng(const WCHAR* name, UINT* width, UINT* height, INT* format) {
    HRSRC resource = FindResourceW(nullptr, name, L"PNG");
    if (!resource) return false;
    DWORD size = SizeofResource(nullptr, resource);
    const void* data = LockResource(LoadResource(nullptr, resource));
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!data || !copy) return false;
    CopyMemory(GlobalLock(copy), data, size);
    GlobalUnlock(copy);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
        GlobalFree(copy);
        return false;
    }
    using namespace Gdiplus;
    GpBitmap* bitmap = nullptr;
    bool ok = DllExports::GdipCreateBitmapFromStream(stream, &bitmap) == Ok;
    if (ok) {
        DllExports::GdipGetImageWidth(bitmap, width);
        DllExports::GdipGetImageHeight(bitmap, height);
        PixelFormat pixelFormat = 0;
        DllExports::GdipGetImagePixelFormat(bitmap, &pixelFormat);
        *format = pixelFormat;
        DllExports::GdipDisposeImage(bitmap);
    }
    stream->Release();
    return ok;
}

void Images() {
    Section("PNG images");
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (!Check(Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok, "GDI+ starts")) return;
    const WCHAR* toolbar[] = {L"IDP_FOLDER", L"IDP_SAVE", L"IDP_PAINT", L"IDP_SMUDGE", L"IDP_DRAW",
                              L"IDP_ZOOMIN", L"IDP_ZOOMOUT", L"IDP_ZOOM100", L"IDP_ZOOMFIT", L"IDP_PICKER"};
    const WCHAR* checks[] = {L"CHECKD_DESON", L"CHECKD_DESOFF", L"CHECKD_SELON", L"CHECKD_SELOFF",
                             L"CHECKD_SEMION", L"CHECKD_SEMIOFF", L"CHECK_DESON", L"CHECK_DESOFF",
                             L"CHECK_SELON", L"CHECK_SELOFF", L"CHECK_SEMION", L"CHECK_SEMIOFF"};
    for (const WCHAR* name : toolbar) {
        UINT width = 0, height = 0;
        INT format = 0;
        Check(DecodePng(name, &width, &height, &format) && width == 24 && height == 24 &&
                  format == PixelFormat32bppARGB,
              "%s decodes as a 24 x 24 picture with transparency", Utf8(name).c_str());
    }
    for (const WCHAR* name : checks) {
        UINT width = 0, height = 0;
        INT format = 0;
        Check(DecodePng(name, &width, &height, &format) && width == 13 && height == 13,
              "%s decodes as a 13 x 13 picture", Utf8(name).c_str());
    }
    Gdiplus::GdiplusShutdown(token);
}

void Icon() {
    Section("icon");
    for (int size : {16, 32, 48, 256}) {
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_OSTRIVEL), IMAGE_ICON, size, size, 0));
        Check(icon != nullptr, "icon 148 loads at %d pixels", size);
        if (icon) DestroyIcon(icon);
    }
}

// Hands a key press, with Ctrl held or not, to the accelerator table as the
// message loop does; the command is sent to target.
void PressKey(HWND target, UINT message, WPARAM key, bool control) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = control ? 0x80 : 0;
    SetKeyboardState(keys);
    HACCEL table = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ACCELERATORS));
    MSG msg = {target, message, key, 0, 0, {0, 0}};
    TranslateAcceleratorW(target, table, &msg);
    DestroyAcceleratorTable(table);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
}

WORD lastCommand;
LRESULT CALLBACK RecordCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) lastCommand = LOWORD(wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

void Keys(HINSTANCE instance) {
    Section("keys");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = RecordCommand;
    wc.hInstance = instance;
    wc.lpszClassName = L"CommandRecorder";
    RegisterClassW(&wc);
    HWND target = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
    const struct {
        UINT message;
        WPARAM key;
        bool control;
        WORD command;
    } kKeys[] = {{WM_KEYDOWN, 'O', true, IDM_OPEN},        {WM_KEYDOWN, 'S', true, IDM_SAVE_AS},
                 {WM_KEYDOWN, 'O', false, 0},              {WM_CHAR, '+', false, IDM_ZOOM_IN},
                 {WM_CHAR, '-', false, IDM_ZOOM_OUT},      {WM_KEYDOWN, VK_LEFT, false, IDM_PAN_LEFT}};
    for (const auto& k : kKeys) {
        lastCommand = 0;
        PressKey(target, k.message, k.key, k.control);
        Check(lastCommand == k.command, "key %d%s gives command %d (got %d)", static_cast<int>(k.key),
              k.control ? " with Ctrl" : "", k.command, lastCommand);
    }
    DestroyWindow(target);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(60);
    Images();
    Icon();
    Keys(instance);
    return Summary();
}
