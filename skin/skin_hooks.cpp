// The four thread hooks, the subclass registry, the choice of windows and
// messages the skin takes over, and the preparation of controls at creation.
#include "skin/skin.h"

#include <commctrl.h>

#include <stdint.h>

#include <map>
#include <new>

#include "skin/skin_internal.h"

namespace skin {

bool IsClass(HWND window, const WCHAR* name) {
    WCHAR className[64];
    if (!window || !GetClassNameW(window, className, 64)) return false;
    return lstrcmpW(className, name) == 0;
}

LONG Style(HWND window) { return GetWindowLongW(window, GWL_STYLE); }
LONG ExStyle(HWND window) { return GetWindowLongW(window, GWL_EXSTYLE); }

bool IsPlainCheckOrRadio(HWND window) {
    if (!IsClass(window, L"Button")) return false;
    LONG style = Style(window);
    int type = ButtonType(style);
    return !IsPushLike(style) && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                                  type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON);
}

Role RoleOf(UINT message) {
    switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: return Role::Colour;
    case WM_DRAWITEM: return Role::DrawItem;
    case WM_PAINT:
    case WM_PRINTCLIENT: return Role::Paint;
    case WM_ERASEBKGND: return Role::Erase;
    case WM_NCPAINT: return Role::NonClient;
    case WM_GETDLGCODE: return Role::DialogCode;
    case BM_GETCHECK: return Role::GetCheck;
    case BM_SETCHECK: return Role::SetCheck;
    case BM_SETSTYLE: return Role::SetStyle;
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_WINDOWPOSCHANGED:
    case SBM_SETPOS:
    case SBM_SETSCROLLINFO:
    case BM_SETSTATE:
    case WM_UPDATEUISTATE: return Role::RedrawAfter;
    }
    return Role::None;
}

bool IsGroupBox(HWND window) {
    if (!IsClass(window, L"Button")) return false;
    LONG style = Style(window);
    return !IsPushLike(style) && ButtonType(style) == BS_GROUPBOX;
}

}  // namespace skin

using namespace skin;

// --- the subclass registry -------------------------------------------------

namespace {

struct RegistryEntry {
    WNDPROC previous;
    int32_t nesting;
    uint32_t serial;  // tells a window from a later one with the same handle
};
std::map<HWND, RegistryEntry> registry;
uint32_t lastSerial;

// Kept out of the hook and window procedures: an exception must never
// unwind through Wine's message dispatch. A failed insert leaves the window
// unskinned.
__attribute__((noinline)) bool RegistryInsert(HWND window, WNDPROC previous, uint32_t serial) {
    try {
        registry.emplace(window, RegistryEntry{previous, 1, serial});
        return true;
    } catch (...) {
        return false;
    }
}

// Subclasses (or nests once more); the serial of the entry, 0 when the window
// could not be subclassed.
uint32_t Subclass(HWND window) {
    if (!window) return 0;
    auto found = registry.find(window);
    if (found != registry.end()) {
        ++found->second.nesting;
        return found->second.serial;
    }
    WNDPROC current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    if (!current || current == SkinWndProc) return 0;
    if (++lastSerial == 0) ++lastSerial;
    if (!RegistryInsert(window, current, lastSerial)) return 0;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SkinWndProc));
    return lastSerial;
}

void Unsubclass(std::map<HWND, RegistryEntry>::iterator found) {
    HWND window = found->first;
    if (--found->second.nesting > 0) return;
    WNDPROC previous = found->second.previous;
    WNDPROC current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    // Someone subclassed the window on top of the skin meanwhile: taking the
    // skin out would cut them off, so it stays (forwarding) until its count
    // next returns to 0.
    if (IsWindow(window) && current != SkinWndProc) {
        found->second.nesting = 0;
        return;
    }
    registry.erase(found);
    if (IsWindow(window)) SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
}

// Counts down only the entry that was counted up: a window destroyed in
// between (and a new one that got its handle) is not touched.
void Unsubclass(HWND window, uint32_t serial) {
    auto found = registry.find(window);
    if (serial != 0 && found != registry.end() && found->second.serial == serial) Unsubclass(found);
}

// What each pending sent message did on its way in, so that its return
// undoes exactly that, whatever WantsSkin would answer by then.
struct Pending {
    HWND window;
    uint32_t serial;
};
const int kMaxPending = 512;
Pending pending[kMaxPending];
int pendingDepth;

}  // namespace

void SkinSubclass(HWND window) { Subclass(window); }

void SkinUnsubclass(HWND window) {
    auto found = registry.find(window);
    if (found != registry.end()) Unsubclass(found);
}

// The window is being destroyed: its handle may come back for another
// window, so nothing of it may stay.
void SkinForget(HWND window) { registry.erase(window); }

// Shut-down: every window still carrying the skin gets its procedure back.
void SkinReleaseAll() {
    for (auto& entry : registry) {
        HWND window = entry.first;
        if (IsWindow(window) && GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(SkinWndProc))
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(entry.second.previous));
    }
    registry.clear();
    pendingDepth = 0;
}

int SkinNesting(HWND window) {
    auto found = registry.find(window);
    return found == registry.end() ? 0 : found->second.nesting;
}

WNDPROC SkinPreviousProc(HWND window) {
    auto found = registry.find(window);
    return found == registry.end() ? nullptr : found->second.previous;
}

// --- which windows and messages ------------------------------------------

namespace {

// A message box is a dialog with its text in the static kMessageBoxText. It
// asks for the standard look by its style, but left white it would glare in
// the dark program: the skin draws it too.
const int kMessageBoxText = 0xFFFF;
bool IsMessageBox(HWND dialog) {
    HWND text = GetDlgItem(dialog, kMessageBoxText);
    return text && IsClass(text, L"Static");
}

// The dialog style bits that ask for the standard look.
const LONG kStandardLookStyles = 0x100 | 0x200;
bool ExemptDialog(HWND dialog) { return (Style(dialog) & kStandardLookStyles) != 0 && !IsMessageBox(dialog); }

bool IsStaticFrame(LONG style, bool grayTypes) {
    const int type = style & SS_TYPEMASK;
    if (type == SS_ETCHEDFRAME || type == SS_ETCHEDHORZ || type == SS_ETCHEDVERT) return true;
    return grayTypes && (type == SS_GRAYFRAME || type == SS_GRAYRECT);
}

bool IsAnyOf(HWND window, std::initializer_list<const WCHAR*> names) {
    WCHAR className[64];
    if (!window || !GetClassNameW(window, className, 64)) return false;
    for (const WCHAR* name : names)
        if (lstrcmpW(className, name) == 0) return true;
    return false;
}

}  // namespace

bool IsSkinExempt(HWND window) {
    // Windows before 6 had no dialog styles to opt out with. Wine reports 6
    // or later, so the rule holds as it is.
    const BYTE kFirstVersionWithStyles = 6;
    static const bool oldWindows = LOBYTE(LOWORD(GetVersion())) < kFirstVersionWithStyles;
    if (oldWindows || !window || !SkinActive()) return false;
    if (IsClass(window, L"#32770")) return ExemptDialog(window);
    for (HWND parent = GetParent(window); parent; parent = GetParent(parent))
        if (IsClass(parent, L"#32770")) return ExemptDialog(parent);
    return false;
}

bool WantsSkin(HWND w, UINT m) {
    if (!SkinActive() || !w) return false;
    switch (RoleOf(m)) {
    case Role::None:
        return false;
    case Role::DrawItem:
        return true;
    case Role::RedrawAfter:
        return (IsPlainCheckOrRadio(w) || IsGroupBox(w) ||
                IsAnyOf(w, {L"ComboBox", L"SysListView32", L"Static", L"Edit", L"ScrollBar"})) &&
               !IsSkinExempt(w);
    case Role::Paint: {
        bool yes = IsPlainCheckOrRadio(w) || IsGroupBox(w) ||
                   IsAnyOf(w, {L"ComboBox", L"ScrollBar", L"SysHeader32", L"SysListView32", L"SysTabControl32",
                               L"msctls_trackbar32", L"ToolbarWindow32", L"msctls_statusbar32",
                               // a themed progress bar ignores its background colour
                               L"msctls_progress32",
                               // menus: their own painting, in the skin's colours
                               L"#32768",
                               // lists: theirs too, with the selection in the skin's
                               L"ListBox", L"ComboLBox"});
        if (!yes && IsClass(w, L"Static")) {
            LONG style = Style(w);
            yes = (style & SS_SUNKEN) || IsStaticFrame(style, true) || (ExStyle(w) & WS_EX_STATICEDGE) ||
                  !IsWindowEnabled(w);
        }
        return yes && !IsSkinExempt(w);
    }
    case Role::Erase: {
        bool yes = IsGroupBox(w) || IsAnyOf(w, {L"ToolbarWindow32", L"msctls_statusbar32"});
        if (!yes && IsClass(w, L"#32768")) {
            BOOL animation = TRUE;
            SystemParametersInfoW(SPI_GETMENUANIMATION, 0, &animation, 0);
            yes = !animation;
        }
        if (!yes && IsClass(w, L"Static")) {
            LONG style = Style(w);
            yes = (style & SS_SUNKEN) || IsStaticFrame(style, false) || !IsWindowEnabled(w);
        }
        return yes && !IsSkinExempt(w);
    }
    case Role::NonClient: {
        bool yes = IsAnyOf(w, {L"ListBox", L"ComboBox", L"ComboLBox", L"SysTreeView32", L"SysListView32",
                               L"msctls_progress32", L"#32768"});
        if (!yes && IsClass(w, L"Edit")) yes = (ExStyle(w) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0;
        if (!yes && IsClass(w, L"Static")) yes = (Style(w) & SS_SUNKEN) || (ExStyle(w) & WS_EX_CLIENTEDGE);
        return yes && !IsSkinExempt(w);
    }
    case Role::DialogCode:
        return HasSkinMarker(w);
    case Role::GetCheck:
        return HasSkinMarker(w) && IsPushLike(Style(w)) && !IsSkinExempt(w);
    case Role::SetCheck:
        return ((HasSkinMarker(w) && IsPushLike(Style(w))) || IsPlainCheckOrRadio(w)) && !IsSkinExempt(w);
    case Role::SetStyle:
        return IsClass(w, L"Button") && (Style(w) & kSkinMarkerStyle) && !IsSkinExempt(w);
    case Role::Colour:
        return !IsSkinExempt(w);
    }
    return false;
}

bool HasSkinMarker(HWND window) {
    if (!IsClass(window, L"Button")) return false;
    LONG style = Style(window);
    return ButtonType(style) == BS_OWNERDRAW && (style & kSkinMarkerStyle);
}

// --- clicks and keys of converted buttons ------------------------------

namespace {

bool IsConvertedPushLike(HWND window) { return window && HasSkinMarker(window) && IsPushLike(Style(window)); }

void SetUserData(HWND window, LONG_PTR value) {
    SetWindowLongPtrW(window, GWLP_USERDATA, value);
    InvalidateRect(window, nullptr, TRUE);
}

}  // namespace

void SkinRadioClick(HWND clicked, int type) {
    for (HWND w = clicked; IsConvertedPushLike(w); w = GetWindow(w, GW_HWNDPREV)) {
        SetUserData(w, type * kTypeStep + (w == clicked ? 1 : 0));
        if (Style(w) & WS_GROUP) break;
    }
    for (HWND w = GetWindow(clicked, GW_HWNDNEXT); IsConvertedPushLike(w) && !(Style(w) & WS_GROUP);
         w = GetWindow(w, GW_HWNDNEXT))
        SetUserData(w, type * kTypeStep);
}

namespace {

struct MnemonicSearch {
    WCHAR pattern[3];
    HWND found;
    HWND parent;
};

BOOL CALLBACK FindMnemonic(HWND child, LPARAM data) {
    MnemonicSearch& search = *reinterpret_cast<MnemonicSearch*>(data);
    if (GetParent(child) != search.parent || !IsWindowVisible(child) || !IsClass(child, L"Button")) return TRUE;
    WCHAR text[61] = L"";
    GetWindowTextW(child, text, 61);
    CharUpperW(text);
    for (int i = 0; text[i] && text[i + 1]; ++i) {
        if (text[i] == search.pattern[0] && text[i + 1] == search.pattern[1]) {
            search.found = child;
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace

HWND SkinMnemonicButton(HWND parent, WCHAR letter) {
    if (!parent) return nullptr;
    const WCHAR upper = static_cast<WCHAR>(letter >= L'a' && letter <= L'z' ? letter - L'a' + L'A' : letter);
    MnemonicSearch search = {{L'&', upper, 0}, nullptr, parent};
    EnumChildWindows(parent, FindMnemonic, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// --- the hooks -------------------------------------------------------------

namespace {

bool Acts(int code) { return code == HC_ACTION || code == HC_NOREMOVE; }

void PrepareControl(HWND window) {
    if (IsClass(window, L"SysListView32")) {
        SendMessageW(window, LVM_SETBKCOLOR, 0, SkinColor(COLOR_WINDOW));
        SendMessageW(window, LVM_SETTEXTBKCOLOR, 0, SkinColor(COLOR_WINDOW));
        SendMessageW(window, LVM_SETTEXTCOLOR, 0, SkinColor(COLOR_WINDOWTEXT));
    } else if (IsClass(window, L"SysTreeView32")) {
        if (Style(window) & TVS_HASLINES) {
            SendMessageW(window, TVM_SETBKCOLOR, 0, SkinColor(COLOR_WINDOW));
            SendMessageW(window, TVM_SETLINECOLOR, 0, SkinColor(COLOR_WINDOWTEXT));
            SendMessageW(window, TVM_SETTEXTCOLOR, 0, SkinColor(COLOR_WINDOWTEXT));
        }
    } else if (IsClass(window, L"SysTabControl32")) {
        SetWindowLongW(window, GWL_STYLE, Style(window) | TCS_OWNERDRAWFIXED);
    } else if (IsClass(window, L"msctls_progress32")) {
        SendMessageW(window, PBM_SETBKCOLOR, 0, SkinColor(COLOR_WINDOW));
        SendMessageW(window, PBM_SETBARCOLOR, 0, kSkinAccent);  // as the sliders' filled channel
    } else if (IsClass(window, L"tooltips_class32")) {
        SendMessageW(window, TTM_SETTIPBKCOLOR, SkinColor(COLOR_MENU), 0);
        SendMessageW(window, TTM_SETTIPTEXTCOLOR, SkinColor(COLOR_BTNTEXT), 0);
    } else if (IsClass(window, L"Button")) {
        LONG style = Style(window);
        int type = ButtonType(style);
        bool push = type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
        if (type == BS_OWNERDRAW || !(push || IsPushLike(style)) || IsSkinExempt(window) ||
            IsClass(GetParent(window), L"CtrlNotifySink"))
            return;
        if (IsPushLike(style) && UserData(window) == 0) SetWindowLongPtrW(window, GWLP_USERDATA, type * kTypeStep);
        SetWindowLongW(window, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW | kSkinMarkerStyle);
    }
}

}  // namespace

LRESULT CALLBACK SkinCallWndProcHook(int code, WPARAM wParam, LPARAM lParam) {
    if (Acts(code) && lParam) {
        const CWPSTRUCT& sent = *reinterpret_cast<const CWPSTRUCT*>(lParam);
        uint32_t serial = WantsSkin(sent.hwnd, sent.message) ? Subclass(sent.hwnd) : 0;
        if (pendingDepth < kMaxPending) pending[pendingDepth] = Pending{sent.hwnd, serial};
        ++pendingDepth;
        HWND control = reinterpret_cast<HWND>(sent.lParam);
        if (SkinActive() && sent.message == WM_COMMAND && HIWORD(sent.wParam) == 0 && control &&
            IsWindow(control) && IsConvertedPushLike(control) && HoldsConvertedState(UserData(control))) {
            LONG_PTR data = UserData(control);
            int type = ConvertedType(data);
            if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
                SkinRadioClick(control, type);
            else
                SetUserData(control, (data & ~kStateBits) | ((data & 1) ^ 1));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

namespace {

BOOL CALLBACK RedrawMenu(HWND window, LPARAM) {
    if (IsWindowVisible(window) && IsClass(window, L"#32768") && !IsSkinExempt(window))
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_NOERASE | RDW_UPDATENOW);
    return TRUE;
}

}  // namespace

LRESULT CALLBACK SkinCallWndProcRetHook(int code, WPARAM wParam, LPARAM lParam) {
    if (Acts(code) && lParam && pendingDepth > 0) {
        const CWPRETSTRUCT& sent = *reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        --pendingDepth;
        if (pendingDepth < kMaxPending && pending[pendingDepth].window == sent.hwnd)
            Unsubclass(sent.hwnd, pending[pendingDepth].serial);
        if (sent.message == WM_CREATE && SkinActive() && IsWindow(sent.hwnd)) PrepareControl(sent.hwnd);
        // A message box is known as one only once its text is there, after
        // its buttons were made: they are prepared now.
        if (sent.message == WM_INITDIALOG && SkinActive() && IsClass(sent.hwnd, L"#32770") && IsMessageBox(sent.hwnd))
            for (HWND child = GetWindow(sent.hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                PrepareControl(child);
        // A menu draws a newly selected item straight onto the screen in the
        // system's colours, then tells its owner: the whole menu is painted
        // again at once, in the skin's.
        if (sent.message == WM_MENUSELECT && SkinActive()) EnumThreadWindows(GetCurrentThreadId(), RedrawMenu, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK SkinGetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    MSG* msg = reinterpret_cast<MSG*>(lParam);
    // Only a message that is being taken off the queue: a peek that leaves
    // it there would otherwise paint twice.
    if (Acts(code) && msg && wParam == PM_REMOVE && msg->message == WM_PAINT && WantsSkin(msg->hwnd, WM_PAINT)) {
        LRESULT result = CallNextHookEx(nullptr, code, wParam, lParam);
        HWND window = msg->hwnd;
        if (uint32_t serial = Subclass(window)) {
            WNDPROC current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
            CallWindowProcW(current, window, WM_PAINT, msg->wParam, msg->lParam);
            Unsubclass(window, serial);
            msg->message = WM_NULL;
        }
        return result;
    }
    if (Acts(code) && msg && wParam == PM_REMOVE && SkinActive() &&
        (msg->message == WM_MOUSEMOVE || msg->message == WM_LBUTTONUP) && IsClass(msg->hwnd, L"ScrollBar"))
        InvalidateRect(msg->hwnd, nullptr, FALSE);
    // A list draws a newly selected item straight onto the screen in the
    // system's highlight: it is painted again, in the skin's, right after.
    if (Acts(code) && msg && wParam == PM_REMOVE && SkinActive() && !IsSkinExempt(msg->hwnd)) {
        const UINT m = msg->message;
        if ((m == WM_MOUSEMOVE || m == WM_LBUTTONDOWN || m == WM_LBUTTONUP || m == WM_KEYDOWN) &&
            IsAnyOf(msg->hwnd, {L"ListBox", L"ComboLBox"}))
            InvalidateRect(msg->hwnd, nullptr, FALSE);
        COMBOBOXINFO info = {};
        info.cbSize = sizeof(info);
        if (m == WM_KEYDOWN && IsClass(msg->hwnd, L"ComboBox") && GetComboBoxInfo(msg->hwnd, &info) &&
            info.hwndList && IsWindowVisible(info.hwndList))
            InvalidateRect(info.hwndList, nullptr, FALSE);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK SkinMsgFilterHook(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    HWND focus = GetFocus();
    if (code == 0 && msg && SkinActive() && focus && HasSkinMarker(focus)) {
        const WPARAM key = msg->wParam;
        const bool pressKey = key == VK_SPACE || key == VK_RETURN;
        if (msg->message == WM_KEYDOWN && pressKey) {
            SendMessageW(focus, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
        } else if (msg->message == WM_KEYUP && pressKey) {
            SendMessageW(focus, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
        } else if (msg->message == WM_KEYDOWN && key == VK_ESCAPE) {
            // Up the parents until one takes it; a dialog always counts as
            // taking it (its answer is its message result, often 0), and the
            // walk ends at the top-level window.
            const WPARAM cancel = MAKEWPARAM(IDCANCEL, BN_CLICKED);
            for (HWND parent = GetParent(focus); parent; parent = GetParent(parent)) {
                if (SendMessageW(parent, WM_COMMAND, cancel, reinterpret_cast<LPARAM>(focus)) != 0) break;
                if (IsClass(parent, L"#32770") || !(Style(parent) & WS_CHILD)) break;
            }
        } else if (msg->message == WM_KEYDOWN && key >= 'A' && key <= 'Z') {
            HWND parent = GetParent(focus);
            HWND target = SkinMnemonicButton(parent, static_cast<WCHAR>(key));
            if (target)
                SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(target), BN_CLICKED),
                             reinterpret_cast<LPARAM>(target));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
