// Window tests of the resources: every dialog template creates with its
// controls at their places and with their styles, the popup menu and the
// accelerator table hold their commands, the strings, the icon sizes and
// every PNG image decode. Also checks that the core library links.
#include <windows.h>

#include <commctrl.h>
#include <gdiplus.h>
#include <stdio.h>

#include "app/app.h"
#include "gui_harness.h"
#include "picbuf/run_control.h"
#include "resources/resource.h"

namespace {

const WCHAR kButton[] = L"Button";
const WCHAR kStatic[] = L"Static";
const WCHAR kCombo[] = L"ComboBox";
const WCHAR kTrackbar[] = L"msctls_trackbar32";
const WCHAR kProgress[] = L"msctls_progress32";

const DWORD kSlider = TBS_NOTICKS | TBS_BOTH | WS_TABSTOP;
const DWORD kAutoCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
// The combo box hands WS_VSCROLL on to its list, so it is not looked for.
const DWORD kDropList = CBS_DROPDOWNLIST | WS_TABSTOP;

struct ControlSpec {
    int id;
    const WCHAR* className;
    int x, y, width, height;  // dialog units; height 0: not compared (combo boxes)
    DWORD style;              // bits that must be set
};

const ControlSpec kOriginal[] = {
    {1111, kButton, 7, 3, 173, 60, BS_GROUPBOX},
    {1113, kStatic, 15, 17, 40, 8, 0},
    {1101, kTrackbar, 56, 16, 100, 12, kSlider},
    {1116, kStatic, 158, 17, 16, 8, 0},
    {1115, kStatic, 15, 32, 156, 8, 0},
    {1104, kTrackbar, 56, 44, 100, 12, kSlider},
    {1118, kStatic, 158, 45, 16, 8, 0},
    {1112, kButton, 7, 67, 173, 69, BS_GROUPBOX},
    {1119, kButton, 15, 80, 158, 12, kAutoCheck | BS_MULTILINE},
    {1105, kTrackbar, 56, 94, 100, 12, kSlider},
    {1120, kStatic, 158, 94, 16, 8, 0},
    {1089, kButton, 15, 108, 158, 10, kAutoCheck},
    {1106, kTrackbar, 56, 120, 100, 12, kSlider},
    {1121, kStatic, 158, 120, 16, 8, 0},
    {1081, kButton, 116, 140, 65, 14, 0},
    {1103, kButton, 45, 143, 67, 10, kAutoCheck},
    {1079, kProgress, 9, 159, 122, 14, 0},
    {1080, kButton, 137, 159, 44, 14, 0},
    {1, kButton, 41, 180, 50, 14, 0},
    {2, kButton, 94, 180, 50, 14, 0},
};

const ControlSpec kSmudge[] = {
    {1127, kStatic, 13, 13, 42, 8, 0},
    {1072, kTrackbar, 54, 12, 100, 12, kSlider},
    {1117, kStatic, 156, 13, 16, 8, 0},
    {1128, kStatic, 13, 35, 41, 8, 0},
    {1123, kTrackbar, 54, 34, 100, 12, kSlider},
    {1125, kStatic, 156, 35, 16, 8, 0},
    {1114, kStatic, 13, 56, 40, 8, 0},
    {1124, kTrackbar, 54, 56, 100, 12, kSlider},
    {1126, kStatic, 156, 57, 16, 8, 0},
    {1079, kProgress, 9, 74, 122, 14, 0},
    {1080, kButton, 137, 74, 44, 14, 0},
    {1103, kButton, 9, 97, 67, 10, kAutoCheck},
    {1, kButton, 78, 94, 50, 14, 0},
    {2, kButton, 131, 94, 50, 14, 0},
};

const ControlSpec kRedraw[] = {
    {1133, kButton, 7, 3, 173, 45, BS_GROUPBOX},
    {1127, kStatic, 19, 16, 41, 8, 0},
    {1072, kTrackbar, 62, 15, 83, 12, kSlider},
    {1117, kStatic, 147, 16, 16, 8, 0},
    {1128, kStatic, 19, 30, 43, 8, 0},
    {1123, kTrackbar, 62, 29, 83, 12, kSlider},
    {1125, kStatic, 147, 30, 16, 8, 0},
    {1134, kButton, 7, 49, 173, 53, BS_GROUPBOX},
    {1138, kButton, 17, 63, 153, 10, kAutoCheck},
    {1081, kCombo, 26, 78, 144, 0, kDropList},
    {1079, kProgress, 9, 107, 122, 14, 0},
    {1080, kButton, 137, 107, 44, 14, 0},
    {1103, kButton, 9, 133, 63, 10, kAutoCheck},
    {1, kButton, 78, 129, 50, 14, 0},
    {2, kButton, 131, 129, 50, 14, 0},
};

const ControlSpec kOptions[] = {
    {IDC_LANGUAGE_LABEL, kStatic, 7, 9, 172, 8, 0},
    {IDC_LANGUAGE_LIST, kCombo, 7, 21, 172, 0, kDropList},
    {IDOK, kButton, 75, 45, 50, 14, BS_DEFPUSHBUTTON},
    {IDCANCEL, kButton, 129, 45, 50, 14, 0},
};

const ControlSpec kJpegPanel[] = {
    {IDC_JPEG_LABEL, kStatic, 7, 7, 60, 8, 0},
    {IDC_JPEG_SLIDER, kTrackbar, 68, 5, 120, 12, kSlider},
    {IDC_JPEG_VALUE, kStatic, 192, 7, 18, 8, 0},
    {IDC_JPEG_RANGE, kStatic, 212, 7, 44, 8, 0},
};

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

HWND host;  // parent of the child templates

// Creates the template and compares every control with the table.
void CheckDialog(int resource, const char* name, const ControlSpec* controls, size_t count, int width, int height,
                 bool child) {
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), child ? host : nullptr,
                                     PlainDialogProc, 0);
    if (!Check(dialog != nullptr, "dialog %d (%s) is created", resource, name)) return;
    DWORD style = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE));
    Check(((style & WS_CHILD) != 0) == child, "dialog %d is %s", resource, child ? "a child window" : "a popup");
    Check(!child || (style & WS_CAPTION) != WS_CAPTION, "dialog %d has no caption of its own", resource);
    Check((style & 0x300) == 0, "dialog %d keeps the skin (no style bits 0x100 or 0x200)", resource);

    RECT size = {0, 0, width, height};
    MapDialogRect(dialog, &size);
    RECT client;
    GetClientRect(dialog, &client);
    Check(client.right == size.right && client.bottom == size.bottom, "dialog %d is %d x %d dialog units", resource,
          width, height);

    int wrong = 0;
    for (size_t i = 0; i < count; ++i) {
        const ControlSpec& c = controls[i];
        HWND control = GetDlgItem(dialog, c.id);
        if (!control) {
            printf("   dialog %d: control %d is missing\n", resource, c.id);
            ++wrong;
            continue;
        }
        WCHAR className[64];
        GetClassNameW(control, className, 64);
        // Dialog creation converts the position and the size separately.
        RECT origin = {c.x, c.y, c.width, c.height};
        MapDialogRect(dialog, &origin);
        RECT expected = {origin.left, origin.top, origin.left + origin.right, origin.top + origin.bottom};
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        DWORD controlStyle = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
        bool placed = actual.left == expected.left && actual.top == expected.top && actual.right == expected.right &&
                      (c.height == 0 || actual.bottom == expected.bottom);
        bool styled = (controlStyle & c.style) == c.style;
        if ((c.style & 0xF) == 0 && lstrcmpiW(c.className, kButton) == 0)  // push buttons: type 0 or 1
            styled = styled && ((controlStyle & 0xF) <= BS_DEFPUSHBUTTON ||
                                (controlStyle & 0x1F) == (BS_OWNERDRAW | 0x10));  // drawn by the skin
        if (lstrcmpiW(className, c.className) != 0 || !placed || !styled) {
            printf("   dialog %d: control %d is %s at (%ld, %ld)-(%ld, %ld) style %08lx\n", resource, c.id,
                   Utf8(className).c_str(), static_cast<long>(actual.left), static_cast<long>(actual.top),
                   static_cast<long>(actual.right), static_cast<long>(actual.bottom),
                   static_cast<unsigned long>(controlStyle));
            ++wrong;
        }
    }
    Check(wrong == 0, "dialog %d has its %d controls with their classes, places and styles", resource,
          static_cast<int>(count));
    DestroyWindow(dialog);
}

void Dialogs() {
    Section("dialog templates");
    host = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr, nullptr, nullptr);
    CheckDialog(IDD_OPTIONS, "Options", kOptions, 4, 186, 66, false);
    CheckDialog(IDD_JPEG_QUALITY, "JPEG quality", kJpegPanel, 4, 260, 24, true);
    CheckDialog(IDD_ORIGINAL, "Original", kOriginal, sizeof(kOriginal) / sizeof(kOriginal[0]), 186, 201, true);
    CheckDialog(IDD_SMUDGE, "Smudge", kSmudge, sizeof(kSmudge) / sizeof(kSmudge[0]), 186, 115, true);
    CheckDialog(IDD_REDRAW, "Redraw", kRedraw, sizeof(kRedraw) / sizeof(kRedraw[0]), 186, 150, true);
    DestroyWindow(host);
}

void PopupMenu() {
    Section("popup menu 110");
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_POPUP_MENU));
    if (!Check(menu != nullptr, "menu 110 loads")) return;
    HMENU popup = GetSubMenu(menu, 0);
    Check(popup && GetMenuItemCount(popup) == 3, "its first submenu holds File, Repaint and Help");
    const int file[] = {IDM_OPEN, IDM_SAVE_AS, IDM_CLOSE, 0, IDM_OPTIONS, 0, IDM_EXIT};
    const int repaint[] = {IDM_REPAINT_ORIGINAL, IDM_REPAINT_SMUDGE, IDM_REPAINT_REDRAW};
    const int help[] = {IDM_VISIT_WEB_SITE, IDM_ABOUT};
    struct Sub {
        const int* ids;
        int count;
        const char* name;
    } subs[] = {{file, 7, "File"}, {repaint, 3, "Repaint"}, {help, 2, "Help"}};
    for (int s = 0; s < 3 && popup; ++s) {
        HMENU sub = GetSubMenu(popup, s);
        bool same = sub && GetMenuItemCount(sub) == subs[s].count;
        for (int i = 0; same && i < subs[s].count; ++i)
            same = static_cast<int>(GetMenuItemID(sub, i)) == subs[s].ids[i];
        Check(same, "submenu %s holds its commands in order", subs[s].name);
    }
    DestroyMenu(menu);
}

void Accelerators() {
    Section("accelerator table 109");
    HACCEL table = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ACCELERATORS));
    ACCEL keys[16] = {};
    int count = table ? CopyAcceleratorTableW(table, keys, 16) : 0;
    const ACCEL expected[] = {
        {FVIRTKEY | FCONTROL, 'O', IDM_OPEN},      {FVIRTKEY | FCONTROL, 'S', IDM_SAVE_AS},
        {FVIRTKEY, VK_F1, IDM_HELP_KEY},           {FVIRTKEY, VK_DOWN, IDM_PAN_DOWN},
        {FVIRTKEY, VK_LEFT, IDM_PAN_LEFT},         {FVIRTKEY, VK_RIGHT, IDM_PAN_RIGHT},
        {FVIRTKEY, VK_UP, IDM_PAN_UP},             {0, '+', IDM_ZOOM_IN},
        {0, '-', IDM_ZOOM_OUT},                    {FALT, '/', IDM_ABOUT},
        {FALT, '?', IDM_ABOUT},
    };
    bool same = count == 11;
    for (int i = 0; same && i < 11; ++i) {
        const BYTE flags = FVIRTKEY | FALT | FCONTROL | FSHIFT;
        same = (keys[i].fVirt & flags) == expected[i].fVirt && keys[i].key == expected[i].key &&
               keys[i].cmd == expected[i].cmd;
        if (!same)
            printf("   entry %d: flags %02x key %d command %d\n", i, keys[i].fVirt, keys[i].key, keys[i].cmd);
    }
    Check(same, "it holds the 11 keys with their modifiers and commands (%d found)", count);
    DestroyAcceleratorTable(table);
}

void StringsAndIcon() {
    Section("strings and icon");
    WCHAR text[100];
    LoadStringW(GetModuleHandleW(nullptr), IDS_APP_TITLE, text, 100);
    Check(Utf8(text) == "Ostrivel", "string 103 is \"Ostrivel\"");
    LoadStringW(GetModuleHandleW(nullptr), IDS_CLASS_NAME, text, 100);
    Check(Utf8(text) == "Ostrivel", "string 109 is \"Ostrivel\"");

    HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(IDI_OSTRIVEL), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    const WORD* directory = group ? static_cast<const WORD*>(LockResource(LoadResource(nullptr, group))) : nullptr;
    Check(directory && directory[2] == 6, "icon 148 carries six sizes (16 to 256 pixels)");
    for (int size : {16, 32, 48, 256}) {
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_OSTRIVEL), IMAGE_ICON, size, size, 0));
        Check(icon != nullptr, "icon 148 loads at %d pixels", size);
        if (icon) DestroyIcon(icon);
    }
}

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
        bool ok = DecodePng(name, &width, &height, &format);
        Check(ok && width == 24 && height == 24 && format == PixelFormat32bppARGB,
              "%s decodes as a 24 x 24 picture with transparency", Utf8(name).c_str());
    }
    for (const WCHAR* name : checks) {
        UINT width = 0, height = 0;
        INT format = 0;
        bool ok = DecodePng(name, &width, &height, &format);
        Check(ok && width == 13 && height == 13, "%s decodes as a 13 x 13 picture", Utf8(name).c_str());
    }
    Gdiplus::GdiplusShutdown(token);
}

// The core library is built by g++ and linked into this Winelib program.
void CoreLink() {
    Section("the core library");
    int steps = 0;
    SetProgressHandler([](int count, ProgressRule, void* context) { *static_cast<int*>(context) += count; }, &steps);
    ReportProgress(2, ProgressRule::Always);
    ReportProgress(3, ProgressRule::WhenBarShown);
    SetProgressHandler(nullptr, nullptr);
    ReportProgress(4, ProgressRule::Always);
    Check(steps == 5, "progress steps reach the handler installed from the Win32 side (%d)", steps);
    RequestAbort(true);
    Check(AbortPolled(), "the abort flag is shared");
    RequestAbort(false);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(60);
    RemoveLanguageFile();
    if (!Check(PrepareMainWindow(instance), "start-up registers the main window class")) return Summary();
    Dialogs();
    PopupMenu();
    Accelerators();
    StringsAndIcon();
    Images();
    CoreLink();
    return Summary();
}
