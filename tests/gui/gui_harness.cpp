#include "gui_harness.h"

#include <shlobj.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "app/app.h"
#include "resources/resource.h"

namespace {

int passed, failed;

struct DialogWatch {
    DialogHandler handler;
    std::vector<SeenDialog> seen;
    std::vector<HWND> finished;  // handled, not to be handed over again
    bool busy;
};
DialogWatch* currentWatch;

std::vector<std::function<void()>> scheduledSteps;
size_t nextStep;
bool stepRunning;
UINT_PTR stepTimer;

BOOL CALLBACK CollectDialog(HWND window, LPARAM list) {
    WCHAR className[16];
    if (IsWindowVisible(window) && GetClassNameW(window, className, 16) && lstrcmpW(className, L"#32770") == 0)
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

void CALLBACK DialogTimer(HWND, UINT, UINT_PTR, DWORD) {
    DialogWatch* watch = currentWatch;
    if (!watch || watch->busy) return;
    watch->busy = true;
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    for (HWND dialog : dialogs) {
        if (std::find(watch->finished.begin(), watch->finished.end(), dialog) != watch->finished.end()) continue;
        const SeenDialog* seen = nullptr;
        for (const SeenDialog& s : watch->seen)
            if (s.window == dialog) seen = &s;
        if (!seen) {
            SeenDialog s;
            s.window = dialog;
            s.owner = GetWindow(dialog, GW_OWNER);
            s.ownerVisible = s.owner && IsWindowVisible(s.owner);
            s.title = WindowText(dialog);
            HWND text = GetDlgItem(dialog, 0xFFFF);
            if (text) s.text = WindowText(text);
            watch->seen.push_back(s);
            seen = &watch->seen.back();
        }
        SeenDialog copy = *seen;  // the handler may open further dialogs
        bool done = true;
        if (watch->handler)
            done = watch->handler(dialog, copy);
        else
            PressButton(dialog, IDOK);
        if (done) watch->finished.push_back(dialog);
    }
    watch->busy = false;
}

void CALLBACK StepTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (stepRunning) return;  // a step's modal loop lets the timer fire again
    if (nextStep >= scheduledSteps.size()) {
        KillTimer(nullptr, stepTimer);
        stepTimer = 0;
        return;
    }
    stepRunning = true;
    std::function<void()> step = scheduledSteps[nextStep++];
    step();
    stepRunning = false;
}

DWORD WINAPI Watchdog(LPVOID seconds) {
    Sleep(static_cast<DWORD>(reinterpret_cast<INT_PTR>(seconds)) * 1000);
    printf("FAIL: no result after %d s; the test hung\n", static_cast<int>(reinterpret_cast<INT_PTR>(seconds)));
    printf("gui: %d passed, %d failed\n", passed, failed + 1);
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return 0;
}

std::wstring ModuleFolder() {
    WCHAR path[1024];
    DWORD length = GetModuleFileNameW(nullptr, path, 1024);
    path[length < 1024 ? length : 0] = 0;
    WCHAR* cut = path;
    for (WCHAR* p = path; *p; ++p)
        if (*p == L'\\') cut = p;
    *cut = 0;
    return path;
}

bool WriteWholeFile(const std::wstring& path, const void* data, DWORD size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, nullptr);
    CloseHandle(file);
    return ok && written == size;
}

}  // namespace

std::string Utf8(const WCHAR* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string result(size - 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

std::string WindowText(HWND window) {
    WCHAR text[1024];
    text[0] = 0;
    GetWindowTextW(window, text, 1024);
    return Utf8(text);
}

std::wstring Widen(const std::string& utf8) {
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (size <= 1) return std::wstring();
    std::wstring result(size - 1, 0);
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &result[0], size);
    return result;
}

bool Check(bool ok, const char* format, ...) {
    if (ok) {
        ++passed;
        return true;
    }
    ++failed;
    va_list args;
    va_start(args, format);
    printf("FAIL: ");
    vprintf(format, args);
    printf("\n");
    va_end(args);
    fflush(stdout);
    return false;
}

void Section(const char* name) {
    printf("-- %s\n", name);
    fflush(stdout);
}

int Summary() {
    printf("gui: %d passed, %d failed\n", passed, failed);
    fflush(stdout);
    return failed == 0 && passed > 0 ? 0 : 1;
}

void StartTest(int seconds) {
    RemoveSettingsFolder();
    RemoveLanguageFile();
    HANDLE thread = CreateThread(nullptr, 0, Watchdog, reinterpret_cast<LPVOID>(static_cast<INT_PTR>(seconds)), 0,
                                 nullptr);
    if (thread) CloseHandle(thread);
}

std::vector<SeenDialog> WithDialogs(const std::function<void()>& body, const DialogHandler& handler) {
    DialogWatch watch{handler, {}, {}, false};
    DialogWatch* outer = currentWatch;
    currentWatch = &watch;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, DialogTimer);
    body();
    KillTimer(nullptr, timer);
    currentWatch = outer;
    return watch.seen;
}

std::vector<SeenDialog> WithDialogs(const std::function<void()>& body, int answer) {
    return WithDialogs(body, [answer](HWND dialog, const SeenDialog&) {
        PressButton(dialog, answer);
        return true;
    });
}

void PressButton(HWND dialog, int id) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

void ScheduleSteps(std::vector<std::function<void()>> steps, UINT intervalMs) {
    scheduledSteps = std::move(steps);
    nextStep = 0;
    stepRunning = false;
    stepTimer = SetTimer(nullptr, 0, intervalMs, StepTimer);
}

void PumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // a destroyed main window's quit is not ours
            if (TranslateEditorMessage(msg)) continue;  // typed keys as the editor's loop handles them
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

void PressKey(HWND window, UINT message, WPARAM key, bool control) {
    static HACCEL table = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ACCELERATORS));
    BYTE state[256] = {};
    state[VK_CONTROL] = control ? 0x80 : 0;
    SetKeyboardState(state);
    MSG msg = {window, message, key, 0, 0, {0, 0}};
    TranslateAcceleratorW(window, table, &msg);
    state[VK_CONTROL] = 0;
    SetKeyboardState(state);
}

namespace {
INPUT KeyInput(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}
}  // namespace

void SendKeys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> inputs;
    for (WORD key : keys) inputs.push_back(KeyInput(key, false));
    for (auto it = keys.end(); it != keys.begin();) inputs.push_back(KeyInput(*--it, true));
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void TypeKeys(std::initializer_list<WORD> keys) {
    SendKeys(keys);
    PumpMessages(80);
}

void MoveMouse(POINT screen, DWORD button) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | button;
    SendInput(1, &input, sizeof(input));
    PumpMessages(60);
}

void ClickAt(HWND window, POINT point, bool pump) {
    ClientToScreen(window, &point);
    SetCursorPos(point.x, point.y);
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, clicks, sizeof(INPUT));
    if (pump) PumpMessages(80);
}

namespace {
MenuSeen menuSeen;
HWND menuTip;
const WCHAR* menuShot;

void CALLBACK ReadMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND popup = FindWindowW(L"#32768", nullptr);
    HMENU menu = popup && IsWindowVisible(popup) ? reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0)) : nullptr;
    if (!menu || menuSeen.shown) return;
    KillTimer(nullptr, timer);
    menuSeen.shown = true;
    menuSeen.tipShown = menuTip && IsWindowVisible(menuTip);
    if (menuShot) {
        RECT area, menuArea;
        GetWindowRect(GetForegroundWindow(), &area);
        GetWindowRect(popup, &menuArea);
        UnionRect(&area, &area, &menuArea);
        Check(Shot(popup, menuShot, &area), "%s.png is written", Utf8(menuShot).c_str());
    }
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        HMENU sub = GetSubMenu(menu, i);
        for (int j = 0; sub && j < GetMenuItemCount(sub); ++j) {
            WCHAR text[256] = L"";
            GetMenuStringW(sub, j, text, 256, MF_BYPOSITION);
            menuSeen.texts.push_back(Utf8(text));
            if (GetMenuItemID(sub, j) != 0 && (GetMenuState(sub, j, MF_BYPOSITION) & MF_GRAYED))
                menuSeen.grayed.push_back(GetMenuItemID(sub, j));
        }
    }
    EndMenu();
}
}  // namespace

MenuSeen ReadPopupMenu(const std::function<void()>& open, HWND tip, const WCHAR* shot) {
    menuSeen = MenuSeen();
    menuTip = tip;
    menuShot = shot;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, ReadMenu);
    open();
    KillTimer(nullptr, timer);
    std::sort(menuSeen.grayed.begin(), menuSeen.grayed.end());
    return menuSeen;
}

bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= ms) return false;
        PumpMessages(20);
    }
    return true;
}

namespace {
const int kFileNameCombo = 1148;  // cmb13
const int kFileNameEdit = 1152;   // edt1

void SetFileName(HWND dialog, const std::wstring& name) {
    for (int id : {kFileNameCombo, kFileNameEdit})
        if (GetDlgItem(dialog, id)) SetDlgItemTextW(dialog, id, name.c_str());
}
}  // namespace

std::string FileName(HWND dialog) {
    for (int id : {kFileNameCombo, kFileNameEdit})
        if (GetDlgItem(dialog, id)) return WindowText(GetDlgItem(dialog, id));
    return "<no file name box>";
}

void SelectType(HWND dialog, int index) {
    HWND types = GetDlgItem(dialog, IDC_SAVE_FILE_TYPE);
    SendMessageW(types, CB_SETCURSEL, index, 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SAVE_FILE_TYPE, CBN_SELENDOK), reinterpret_cast<LPARAM>(types));
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SAVE_FILE_TYPE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(types));
}

int SelectedType(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageW(dialog, IDC_SAVE_FILE_TYPE, CB_GETCURSEL, 0, 0));
}

namespace {
BOOL CALLBACK FindQualitySlider(HWND child, LPARAM found) {
    if (GetDlgCtrlID(child) != IDC_JPEG_SLIDER) return TRUE;
    *reinterpret_cast<HWND*>(found) = GetParent(child);
    return FALSE;
}
}  // namespace

HWND QualityPanel(HWND dialog) {
    HWND panel = nullptr;
    EnumChildWindows(dialog, FindQualitySlider, reinterpret_cast<LPARAM>(&panel));
    return panel;
}

FileCommandRun RunFileCommand(HWND window, int command, const std::function<void(HWND)>& fileDialog, int answer) {
    FileCommandRun run;
    WithDialogs([&] { SendMessageW(window, WM_COMMAND, command, 0); },
                [&](HWND dialog, const SeenDialog& seen) {
                    // Open and Save As both have the type box.
                    if (GetDlgItem(dialog, IDC_SAVE_FILE_TYPE)) {
                        run.fileDialogs.push_back(seen);
                        fileDialog(dialog);
                    } else {
                        run.messages.push_back(seen);
                        PressButton(dialog, answer);
                    }
                    return true;
                });
    return run;
}

std::function<void(HWND)> ChooseFile(const std::wstring& name, int type) {
    return [name, type](HWND dialog) {
        if (type >= 0) SelectType(dialog, type);
        SetFileName(dialog, name);
        PressButton(dialog, IDOK);
    };
}

std::wstring WindowsPath(const std::string& unixPath) {
    // Under Wine, kernel32 offers the conversion; on Windows the path given
    // is already a Windows one.
    using DosNameFunction = WCHAR* (CDECL*)(const char*);
    static const auto dosName = reinterpret_cast<DosNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!dosName) return Widen(unixPath);
    WCHAR* path = dosName(unixPath.c_str());
    if (!path) return std::wstring();
    std::wstring result = path;
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

std::wstring TestSettingsFolder() {
    WCHAR folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return std::wstring();
    return std::wstring(folder) + L"\\Ostrivel";
}

std::wstring TestSettingsFile() { return TestSettingsFolder() + L"\\Ostrivel.txt"; }

void RemoveSettingsFolder() {
    DeleteFileW(TestSettingsFile().c_str());
    RemoveDirectoryW(TestSettingsFolder().c_str());
}

std::string ReadSettingsKey(const char* key, const char* missing) {
    WCHAR text[1024];
    GetPrivateProfileStringW(L"General", Widen(key).c_str(), Widen(missing).c_str(), text, 1024,
                             TestSettingsFile().c_str());
    return Utf8(text);
}

void WriteSettingsKey(const char* key, const char* value) {
    CreateDirectoryW(TestSettingsFolder().c_str(), nullptr);
    WritePrivateProfileStringW(L"General", Widen(key).c_str(), Widen(value).c_str(), TestSettingsFile().c_str());
}

std::wstring TestLanguageFile() { return ModuleFolder() + L"\\Ostrivel_loc.ini"; }

void WriteLanguageFile(const std::string& utf8) {
    std::wstring text = std::wstring(1, 0xFEFF) + Widen(utf8);
    WriteWholeFile(TestLanguageFile(), text.data(), static_cast<DWORD>(text.size() * sizeof(WCHAR)));
}

void RemoveLanguageFile() { DeleteFileW(TestLanguageFile().c_str()); }

bool CopyBesideToLanguageFile(const WCHAR* name) {
    std::wstring source = ModuleFolder() + L"\\" + name;
    return CopyFileW(source.c_str(), TestLanguageFile().c_str(), FALSE) != 0;
}

HWND OpenMainWindow(std::vector<SeenDialog>* dialogs) {
    HWND window = nullptr;
    std::vector<SeenDialog> seen = WithDialogs([&] { window = CreateMainWindow(); });
    if (dialogs) *dialogs = seen;
    Check(window != nullptr, "the main window is created");
    return window;
}

void CloseMainWindow(HWND window) {
    SendMessageW(window, WM_CLOSE, 0, 0);
    PumpMessages(20);
}

HWND OpenEditorWindow(HINSTANCE instance, int clientWidth, int clientHeight) {
    if (!PrepareMainWindow(instance)) return nullptr;
    HWND window = OpenMainWindow();
    if (!window) return nullptr;
    app.accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    SetClientSize(window, clientWidth, clientHeight);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    PumpMessages(100);
    return window;
}

void SetClientSize(HWND window, int clientWidth, int clientHeight) {
    RECT rect = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&rect, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE);
    // At the screen's top-left corner, so the whole window is on screen; a
    // size beyond the screen's is taken as asked (no WM_GETMINMAXINFO limit).
    SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSENDCHANGING);
    PumpMessages(20);
}

RECT ChildRect(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring TestFilesFolder() {
    WCHAR folder[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring path = std::wstring(folder) + L"ostrivel-gui-tests";
    CreateDirectoryW(path.c_str(), nullptr);
    return path + L"\\";
}

bool WriteTestPicture(const std::wstring& path, int width, int height, int format,
                      const std::function<COLORREF(int x, int y)>& colour) {
    PicBufHolder picture;
    if (!CBxPicBufAPI::ReinitHeap(picture.buf, width, height, 3, 8)) return false;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = PicRow(picture.buf, y);
        for (int x = 0; x < width; ++x) {
            COLORREF c = colour ? colour(x, y) : RGB(x * 255 / width, x * 255 / width, x * 255 / width);
            row[3 * x] = GetBValue(c);
            row[3 * x + 1] = GetGValue(c);
            row[3 * x + 2] = GetRValue(c);
        }
    }
    CorePath target;
    if (!ToCorePath(path.c_str(), target)) return false;
    try {
        return SavePicture(picture.buf, target.c_str(), nullptr, format);
    } catch (...) {
        return false;
    }
}

bool WriteTextFile(const std::wstring& path, const std::string& text) {
    return WriteWholeFile(path, text.data(), static_cast<DWORD>(text.size()));
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string FileStart(const std::wstring& path, size_t count) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes(count, '\0');
    DWORD read = 0;
    if (!ReadFile(file, &bytes[0], static_cast<DWORD>(count), &read, nullptr)) read = 0;
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

void DropFile(HWND window, const std::wstring& path) {
    // DROPFILES, then the name and the empty name that ends the list.
    const size_t bytes = sizeof(DROPFILES) + (path.size() + 2) * sizeof(WCHAR);
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    if (!memory) return;
    DROPFILES* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    WCHAR* names = reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(drop) + sizeof(DROPFILES));
    std::copy(path.begin(), path.end(), names);
    GlobalUnlock(memory);
    // The receiver frees it with DragFinish.
    SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

namespace {

bool SaveScreenPng(const RECT& rect, const WCHAR* path) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    PicBufHolder picture;
    CorePath target;
    if (width <= 0 || height <= 0 || !ToCorePath(path, target) ||
        !CBxPicBufAPI::ReinitHeap(picture.buf, width, height, 3, 8))
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    // Top-down rows of blue, green, red, as the picture holds them.
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    std::vector<BYTE> bits(stride * height);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const bool read = GetDIBits(memory, bitmap, 0, height, bits.data(), &info, DIB_RGB_COLORS) == height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    for (int y = 0; read && y < height; ++y) memcpy(PicRow(picture.buf, y), &bits[stride * y], width * 3);
    try {
        return read && SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatPng);
    } catch (...) {
        return false;
    }
}

}  // namespace

bool Shot(HWND window, const WCHAR* name, const RECT* area) {
    WCHAR folder[1024];
    DWORD length = GetEnvironmentVariableW(L"OSTRIVEL_SHOTS", folder, 1024);
    if (length == 0 || length >= 1024) return true;
    const std::wstring path = WindowsPath(Utf8(folder)) + L"\\" + name + L".png";
    if (area) return SaveScreenPng(*area, path.c_str());  // a menu's area: pumping would close it
    RECT rect;
    GetWindowRect(window, &rect);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages(150);  // the window's own paint messages, and a moment for the screen
    return SaveScreenPng(rect, path.c_str());
}

COLORREF ClientPixel(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

bool Looks(COLORREF seen, COLORREF expected) {
    return abs(GetRValue(seen) - GetRValue(expected)) <= 3 && abs(GetGValue(seen) - GetGValue(expected)) <= 3 &&
           abs(GetBValue(seen) - GetBValue(expected)) <= 3;
}
