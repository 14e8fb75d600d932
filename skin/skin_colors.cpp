// The colour table, its brushes, and the skin's life from install to shut-down.
#include "skin/skin.h"

#include "skin/skin_internal.h"

namespace {

// The system colour indices 0 to 29 (COLOR_SCROLLBAR to COLOR_MENUHILIGHT).
const int kEntries = 30;

COLORREF table[kEntries];
HBRUSH brushes[kEntries];
bool active;
const int kHookCount = 4;
HHOOK hooks[kHookCount];  // call-window-procedure-return, call-window-procedure, get-message, message-filter

struct Entry {
    int index;
    COLORREF colour;
};
const Entry kDarkTable[] = {
    {COLOR_ACTIVECAPTION, RGB(110, 110, 110)},
    {COLOR_INACTIVECAPTION, RGB(90, 90, 90)},
    {COLOR_MENU, RGB(80, 80, 80)},
    {COLOR_WINDOW, RGB(65, 65, 65)},
    {COLOR_WINDOWTEXT, RGB(190, 190, 190)},
    {COLOR_CAPTIONTEXT, RGB(190, 190, 190)},
    {COLOR_ACTIVEBORDER, RGB(239, 239, 239)},
    {COLOR_INACTIVEBORDER, RGB(210, 210, 210)},
    {COLOR_APPWORKSPACE, RGB(35, 35, 35)},
    {COLOR_BTNFACE, RGB(70, 70, 70)},
    {COLOR_BTNSHADOW, RGB(55, 55, 55)},
    {COLOR_GRAYTEXT, RGB(160, 160, 160)},
    {COLOR_BTNTEXT, RGB(230, 230, 230)},
    {COLOR_INACTIVECAPTIONTEXT, RGB(155, 155, 155)},
    {COLOR_BTNHIGHLIGHT, RGB(100, 100, 100)},
    {COLOR_3DDKSHADOW, RGB(50, 50, 50)},
    {COLOR_3DLIGHT, RGB(0, 0, 0)},
    {COLOR_GRADIENTACTIVECAPTION, RGB(60, 60, 60)},
    {COLOR_GRADIENTINACTIVECAPTION, RGB(95, 95, 95)},
};

const COLORREF kUnset = static_cast<COLORREF>(-1);

void ResetTable() {
    for (int i = 0; i < kEntries; ++i) {
        if (brushes[i]) DeleteObject(brushes[i]);
        brushes[i] = nullptr;
        table[i] = kUnset;
    }
}

struct TableStart {
    TableStart() { ResetTable(); }
} tableStart;

}  // namespace

COLORREF SkinColor(int index) {
    if (index >= kEntries) return 0;
    if (index < 0) return GetSysColor(index);
    return table[index] == kUnset ? GetSysColor(index) : table[index];
}

HBRUSH SkinBrush(int index) {
    if (index < 0) return nullptr;
    if (index < kEntries && brushes[index]) return brushes[index];
    return GetSysColorBrush(index);
}

void SkinInstall(int) {
    // Only the dark table exists; the mode is kept for the call's shape. A
    // second install keeps the brushes, which window classes may hold.
    if (active) return;
    ResetTable();
    for (const Entry& entry : kDarkTable) {
        table[entry.index] = entry.colour;
        brushes[entry.index] = CreateSolidBrush(entry.colour);
    }
    active = true;
}

void SkinInstallHooks() {
    const DWORD thread = GetCurrentThreadId();
    const int kinds[kHookCount] = {WH_CALLWNDPROCRET, WH_CALLWNDPROC, WH_GETMESSAGE, WH_MSGFILTER};
    const HOOKPROC procs[kHookCount] = {SkinCallWndProcRetHook, SkinCallWndProcHook, SkinGetMessageHook,
                                        SkinMsgFilterHook};
    for (int i = 0; i < kHookCount; ++i)
        if (!hooks[i]) hooks[i] = SetWindowsHookExW(kinds[i], procs[i], nullptr, thread);
}

void SkinShutdown() {
    SkinReleaseAll();
    ResetTable();
    active = false;
    for (HHOOK& hook : hooks) {
        if (hook) UnhookWindowsHookEx(hook);
        hook = nullptr;
    }
}

bool SkinActive() { return active; }
