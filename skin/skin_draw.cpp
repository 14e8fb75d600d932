// SkinWndProc: the drawing of the controls in the skin colours while the
// hooks have put it on a window. Everything is drawn off screen and copied
// in one BitBlt; what it does not draw goes to the window's own procedure.
#include "skin/skin.h"

#include <commctrl.h>
#include <objbase.h>
#include <gdiplus.h>
#include <string.h>

#include <algorithm>

#include "skin/gdi.h"
#include "skin/skin_internal.h"

using namespace skin;

namespace skin {

void FillSolid(HDC dc, int x, int y, int width, int height, COLORREF colour) {
    RECT rect = {x, y, x + width, y + height};
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

void FrameEdges(HDC dc, int x, int y, int width, int height, COLORREF first, COLORREF second, int edges) {
    COLORREF old = GetBkColor(dc);
    if (edges & EdgeLeft) FillSolid(dc, x, y, 1, height, first);
    if (edges & EdgeTop) FillSolid(dc, x, y, width, 1, first);
    if (edges & EdgeRight) FillSolid(dc, x + width - 1, y, 1, height, second);
    if (edges & EdgeBottom) FillSolid(dc, x, y + height - 1, width, 1, second);
    SetBkColor(dc, old);
}

void Frame3D(HDC dc, int x, int y, int width, int height, COLORREF topLeft, COLORREF bottomRight) {
    FrameEdges(dc, x, y, width, height, topLeft, bottomRight, EdgeAll);
}

OffScreen::OffScreen(HDC target, int w, int h) : width(std::max(w, 1)), height(std::max(h, 1)) {
    dc = CreateCompatibleDC(target);
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = -height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    void* pixels = nullptr;
    bitmap = CreateDIBSection(target, &header, DIB_RGB_COLORS, &pixels, nullptr, 0);
    bits = static_cast<DWORD*>(pixels);
    if (dc && bitmap) old = SelectObject(dc, bitmap);
}

void OffScreen::Recolour(bool disabled) const {
    if (!old || !bits) return;
    GdiFlush();
    // In order: the first system colour that matches decides (window and
    // highlight are both white on most systems; white becomes the field).
    const int kMap[][2] = {{disabled ? COLOR_GRAYTEXT : COLOR_WINDOW, disabled ? COLOR_GRAYTEXT : COLOR_WINDOW},
                           {COLOR_WINDOW, COLOR_WINDOW},         {COLOR_WINDOWTEXT, COLOR_WINDOWTEXT},
                           {COLOR_BTNFACE, COLOR_BTNFACE},       {COLOR_BTNSHADOW, COLOR_BTNSHADOW},
                           {COLOR_BTNHIGHLIGHT, COLOR_BTNHIGHLIGHT}, {COLOR_3DDKSHADOW, COLOR_3DDKSHADOW},
                           {COLOR_3DLIGHT, COLOR_BTNHIGHLIGHT},  {COLOR_BTNTEXT, COLOR_BTNTEXT},
                           {COLOR_GRAYTEXT, COLOR_GRAYTEXT},     {COLOR_MENU, COLOR_MENU},
                           {COLOR_MENUTEXT, COLOR_BTNTEXT}};
    const int n = sizeof(kMap) / sizeof(kMap[0]);
    DWORD from[n], to[n];
    auto pixel = [](COLORREF c) { return static_cast<DWORD>(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c)); };
    for (int i = 0; i < n; ++i) {
        from[i] = pixel(GetSysColor(kMap[i][0]));
        to[i] = pixel(SkinColor(kMap[i][1]));
    }
    for (int i = 0; i < width * height; ++i) {
        const DWORD p = bits[i] & 0xFFFFFF;
        for (int k = 0; k < n; ++k)
            if (p == from[k]) {
                bits[i] = to[k];
                break;
            }
    }
}

void OffScreen::RecolourSelection() const {
    if (!old || !bits) return;
    GdiFlush();
    auto pixel = [](COLORREF c) { return static_cast<DWORD>(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c)); };
    const DWORD highlight = pixel(GetSysColor(COLOR_HIGHLIGHT)), text = pixel(GetSysColor(COLOR_HIGHLIGHTTEXT));
    const DWORD accent = pixel(kSkinAccent), skinText = pixel(SkinColor(COLOR_BTNTEXT));
    for (int i = 0; i < width * height; ++i) {
        const DWORD p = bits[i] & 0xFFFFFF;
        if (p == highlight)
            bits[i] = accent;
        else if (p == text)
            bits[i] = skinText;
    }
}

OffScreen::~OffScreen() {
    if (old) SelectObject(dc, old);
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
}

void OffScreen::Copy(HDC target, int x, int y) const {
    if (old) BitBlt(target, x, y, width, height, dc, 0, 0, SRCCOPY);
}

}  // namespace skin

namespace {

// DrawFocusRect draws its dotted line in the text and background colours:
// white and black, so that it shows on the dark faces.
const COLORREF kFocusDots = RGB(255, 255, 255), kFocusGaps = RGB(0, 0, 0);
// A push button's focus rectangle lies this far inside its edges.
const int kFocusInset = 4;
// A combo box's type bits (simple, drop-down, drop-down list), and the
// width of its two one-pixel frames.
const LONG kComboTypeMask = CBS_SIMPLE | CBS_DROPDOWN | CBS_DROPDOWNLIST;
const int kComboFrame = 2;

COLORREF C(int index) { return SkinColor(index); }

void DrawFocusDots(HDC dc, const RECT& rect) {
    SetTextColor(dc, kFocusDots);
    SetBkColor(dc, kFocusGaps);
    DrawFocusRect(dc, &rect);
}

RECT ClientRect(HWND window) {
    RECT rect = {};
    GetClientRect(window, &rect);
    return rect;
}

// The brush the parent answers for a control's background.
HBRUSH ParentBrush(HWND window, HDC dc, UINT message = WM_CTLCOLORBTN) {
    HWND parent = GetParent(window);
    HBRUSH brush = parent ? reinterpret_cast<HBRUSH>(SendMessageW(parent, message, reinterpret_cast<WPARAM>(dc),
                                                                  reinterpret_cast<LPARAM>(window)))
                          : nullptr;
    return brush ? brush : SkinBrush(COLOR_BTNFACE);
}

HGDIOBJ SelectFont(HWND window, HDC dc) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    return SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
}

int TextWidth(HDC dc, const WCHAR* text) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
    return size.cx;
}

// Side of the check box glyph: one of the four columns of the system's
// check box strip (OBM_CHECKBOXES, which winuser.h names only with
// OEMRESOURCE); the usual side without it.
const int kCheckBoxStrip = 32759;
const int kStripColumns = 4;
const int kUsualCheckGlyph = 13;
int CheckGlyphSize() {
    static int size;
    if (size == 0) {
        size = kUsualCheckGlyph;
        HBITMAP strip = LoadBitmapW(nullptr, MAKEINTRESOURCEW(kCheckBoxStrip));
        BITMAP info;
        if (strip && GetObjectW(strip, sizeof(info), &info) && info.bmWidth >= kStripColumns)
            size = info.bmWidth / kStripColumns;
        if (strip) DeleteObject(strip);
    }
    return size;
}

// --- push buttons ----------------------------------------------------------

enum FaceFlags { FaceChecked = 1, FacePressed = 2, FaceFlat = 4, FaceDisabled = 16 };

void DrawButtonFace(HDC dc, const RECT& r, int flags) {
    const int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
    FillRect(dc, &r, SkinBrush(COLOR_BTNFACE));
    const bool pressed = flags & FacePressed;
    if ((flags & FaceChecked) && !pressed) {
        Frame3D(dc, x, y, w, h, C(COLOR_3DDKSHADOW), C(COLOR_3DLIGHT));
        return;
    }
    if (!(flags & FaceFlat)) {
        if (!pressed) {
            FrameEdges(dc, x, y, w, h, C(COLOR_3DLIGHT), C(COLOR_3DDKSHADOW), EdgeAll);
            Frame3D(dc, x + 1, y + 1, w - 2, h - 2, C(COLOR_BTNHIGHLIGHT), C(COLOR_BTNSHADOW));
        } else {
            FrameEdges(dc, x, y, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT), EdgeAll);
            Frame3D(dc, x + 1, y + 1, w - 2, h - 2, C(COLOR_3DDKSHADOW), C(COLOR_3DLIGHT));
        }
    } else if (!pressed) {
        Frame3D(dc, x, y, w, h, C(COLOR_BTNHIGHLIGHT), C(COLOR_BTNSHADOW));
    } else {
        Frame3D(dc, x, y, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
    }
}

// A disabled image's grey: the pixel's brightness pressed into a narrow
// light band, so that it reads as greyed out on the dark face; pixels of the
// face colour stay, and faint ones fade further.
const double kRedWeight = 0.3, kGreenWeight = 0.5, kBlueWeight = 0.2;
const double kGreyContrast = 0.43;
const int kGreyLift = 120, kGreyDrop = 70;
const BYTE kFaintAlpha = 100;

}  // namespace

HBITMAP MakeDisabledBitmap(HBITMAP source) {
    BITMAP info;
    if (!source || !GetObjectW(source, sizeof(info), &info) || info.bmBitsPixel != 32) return nullptr;
    const int w = info.bmWidth, h = info.bmHeight;
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = w;
    header.bmiHeader.biHeight = h;  // bottom-up, as the source bits are read
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP grey = CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!grey) return nullptr;
    HDC screen = GetDC(nullptr);
    int rows = GetDIBits(screen, source, 0, h, bits, &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != h) {
        DeleteObject(grey);
        return nullptr;
    }
    const COLORREF face = C(COLOR_BTNFACE);
    BYTE* p = static_cast<BYTE*>(bits);
    for (int i = 0; i < w * h; ++i, p += 4) {
        if (p[0] == GetBValue(face) && p[1] == GetGValue(face) && p[2] == GetRValue(face)) continue;
        int g = static_cast<int>((kRedWeight * p[2] + kGreenWeight * p[1] + kBlueWeight * p[0]) * kGreyContrast +
                                 kGreyLift);
        BYTE value = static_cast<BYTE>((g - kGreyDrop) & 0xFF);
        p[0] = p[1] = p[2] = value;
        if (p[3] < kFaintAlpha) p[3] /= 2;
    }
    return grey;
}

namespace {

void DrawButtonBitmap(HDC dc, HWND button, RECT rect, bool disabled, int offset) {
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(SendMessageW(button, BM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP info;
    if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info)) return;
    InflateRect(&rect, -1, -1);
    int x = rect.left + (rect.right - rect.left - info.bmWidth) / 2 + offset;
    int y = rect.top + (rect.bottom - rect.top - info.bmHeight) / 2 + offset;
    if (disabled) {
        HBITMAP grey = MakeDisabledBitmap(bitmap);
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(source, grey ? grey : bitmap);
        BitBlt(dc, x, y, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
        if (grey) DeleteObject(grey);
        return;
    }
    HIMAGELIST list = ImageList_Create(info.bmWidth, info.bmHeight, ILC_COLOR32, 1, 0);
    if (!list) return;
    ImageList_Add(list, bitmap, nullptr);
    ImageList_Draw(list, 0, dc, x, y, ILD_NORMAL);
    ImageList_Destroy(list);
}

void DrawButtonIcon(HDC dc, HWND button, const RECT& rect, bool disabled, int offset) {
    HICON icon = reinterpret_cast<HICON>(SendMessageW(button, BM_GETIMAGE, IMAGE_ICON, 0));
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info)) return;
    BITMAP size = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(size), &size);
    int w = size.bmWidth, h = info.hbmColor ? size.bmHeight : size.bmHeight / 2;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    OffScreen icon_(dc, w, h);
    RECT all = {0, 0, w, h};
    FillRect(icon_.dc, &all, SkinBrush(COLOR_BTNFACE));
    DrawStateW(icon_.dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, 0, 0, w, h,
               DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
    TransparentBlt(dc, rect.left + (rect.right - rect.left - w) / 2 + offset,
                   rect.top + (rect.bottom - rect.top - h) / 2 + offset, w, h, icon_.dc, 0, 0, w, h,
                   C(COLOR_BTNFACE));
}

void DrawButtonText(HDC dc, HWND button, LONG style, RECT rect, bool disabled, int offset) {
    WCHAR text[512] = L"";
    if (GetWindowTextW(button, text, 512) <= 0) return;
    HGDIOBJ oldFont = SelectFont(button, dc);
    const bool multi = style & BS_MULTILINE;
    // Inside the two-pixel edges; wrapped lines keep off the sides a little more.
    const int kSideMargin = 2, kWrappedSideMargin = 4, kTopMargin = 2;
    InflateRect(&rect, multi ? -kWrappedSideMargin : -kSideMargin, -kTopMargin);
    UINT format = multi ? DT_WORDBREAK : DT_SINGLELINE;
    RECT measured = rect;
    DrawTextW(dc, text, -1, &measured, format | DT_CALCRECT);
    const int tw = measured.right - measured.left, th = measured.bottom - measured.top;
    int x, y;
    switch (style & BS_CENTER) {
    case BS_LEFT: x = rect.left; break;
    case BS_RIGHT: x = rect.right - tw; break;
    default: x = rect.left + (rect.right - rect.left - tw) / 2;
    }
    switch (style & BS_VCENTER) {
    case BS_TOP: y = rect.top; break;
    case BS_BOTTOM: y = rect.bottom - th; break;
    default: y = rect.top + (rect.bottom - rect.top - th) / 2;
    }
    RECT place = {x + offset, y + offset, x + offset + tw, y + offset + th};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, C(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    DrawTextW(dc, text, -1, &place, format | (multi ? DT_CENTER : 0));
    SelectObject(dc, oldFont);
}

void DrawPushButton(const DRAWITEMSTRUCT& item) {
    HWND button = item.hwndItem;
    const LONG style = Style(button);
    const bool pushLike = IsPushLike(style);
    UINT state = item.itemState;
    if (pushLike) state &= ~ODS_SELECTED;
    int flags = 0;
    if (state & ODS_SELECTED) flags |= FacePressed;
    if (state & ODS_DISABLED) flags |= FaceDisabled;
    if ((state & ODS_CHECKED) || (pushLike && HoldsConvertedState(UserData(button)) && (UserData(button) & 1)))
        flags |= FaceChecked;
    if (style & BS_FLAT) flags |= FaceFlat;

    const RECT& r = item.rcItem;
    OffScreen off(item.hDC, r.right - r.left, r.bottom - r.top);
    if (!off.old) return;
    RECT rect = {0, 0, off.width, off.height};
    DrawButtonFace(off.dc, rect, flags);
    const bool disabled = flags & FaceDisabled;
    const int imageOffset = (flags & (FacePressed | FaceChecked)) ? 1 : 0;
    if (style & BS_BITMAP)
        DrawButtonBitmap(off.dc, button, rect, disabled, imageOffset);
    else if (style & BS_ICON)
        DrawButtonIcon(off.dc, button, rect, disabled, imageOffset);
    else
        DrawButtonText(off.dc, button, style, rect, disabled, (flags & FacePressed) ? 1 : 0);
    if ((state & ODS_FOCUS) && !disabled && !pushLike) {
        RECT focus = rect;
        InflateRect(&focus, -kFocusInset, -kFocusInset);
        DrawFocusDots(off.dc, focus);
    }
    off.Copy(item.hDC, r.left, r.top);
}

// --- tab items -------------------------------------------------------------

void DrawTabItem(const DRAWITEMSTRUCT& item) {
    WCHAR text[510] = L"";
    TCITEMW tab = {};
    tab.mask = TCIF_TEXT;
    tab.pszText = text;
    tab.cchTextMax = 509;
    SendMessageW(item.hwndItem, TCM_GETITEMW, item.itemID, reinterpret_cast<LPARAM>(&tab));
    const RECT& r = item.rcItem;
    OffScreen off(item.hDC, r.right - r.left, r.bottom - r.top);
    if (!off.old) return;
    RECT rect = {0, 0, off.width, off.height};
    FillRect(off.dc, &rect, SkinBrush(COLOR_BTNFACE));
    const bool selected = static_cast<int>(item.itemID) == SendMessageW(item.hwndItem, TCM_GETCURSEL, 0, 0);
    const int kUnselectedTabDrop = 2;  // an unselected tab stands lower
    if (!selected && !(Style(item.hwndItem) & TCS_BUTTONS)) OffsetRect(&rect, 0, kUnselectedTabDrop);
    HGDIOBJ font = SelectFont(item.hwndItem, off.dc);
    SetBkMode(off.dc, TRANSPARENT);
    SetTextColor(off.dc, C(COLOR_BTNTEXT));
    DrawTextW(off.dc, text, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(off.dc, font);
    off.Copy(item.hDC, r.left, r.top);
}

// --- painting by class -----------------------------------------------------

// The target of a WM_PAINT or WM_PRINTCLIENT and the paint bracket around it.
struct PaintTarget {
    HWND window;
    HDC dc;
    PAINTSTRUCT paint;
    bool painting;
    PaintTarget(HWND w, UINT message, WPARAM wParam) : window(w), dc(nullptr), paint(), painting(false) {
        if (message == WM_PAINT && !wParam) {
            dc = BeginPaint(w, &paint);
            painting = true;
        } else {
            dc = reinterpret_cast<HDC>(wParam);
        }
    }
    ~PaintTarget() {
        if (painting) EndPaint(window, &paint);
    }
};

// The text of a check box or radio button, right of its glyph (or left of
// it with BS_LEFTTEXT).
void DrawCheckText(HWND button, HDC dc, HBRUSH parent, const RECT& client, const RECT& glyph, bool leftText) {
    WCHAR text[512] = L"";
    GetWindowTextW(button, text, 512);
    HGDIOBJ font = SelectFont(button, dc);
    const int gap = TextWidth(dc, L"t") + 1;
    RECT rect = client;
    if (leftText)
        rect.right = glyph.left - gap;
    else
        rect.left = glyph.right + gap;
    FillRect(dc, &rect, parent);
    const LONG style = Style(button);
    const bool multi = style & BS_MULTILINE;
    UINT format = (leftText ? DT_RIGHT : DT_LEFT) | (multi ? DT_WORDBREAK : DT_SINGLELINE | DT_VCENTER);
    RECT place = rect;
    if (multi) {
        RECT measured = rect;
        DrawTextW(dc, text, -1, &measured, format | DT_CALCRECT);
        int th = measured.bottom - measured.top;
        place.top = std::max(rect.top, rect.top + (rect.bottom - rect.top - th) / 2);
        place.bottom = place.top + th;
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, C(IsWindowEnabled(button) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    DrawTextW(dc, text, -1, &place, format);
    // The focus shows round the text, as the system's own check boxes do.
    if (GetFocus() == button && text[0] && !(SendMessageW(button, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
        RECT focus = place;
        DrawTextW(dc, text, -1, &focus, format | DT_CALCRECT);
        if (!multi) OffsetRect(&focus, 0, place.top + (place.bottom - place.top - (focus.bottom - focus.top)) / 2 - focus.top);
        if (leftText) OffsetRect(&focus, place.right - focus.right, 0);
        InflateRect(&focus, 1, 1);
        focus.left = std::max(focus.left, rect.left);
        DrawFocusDots(dc, focus);
    }
    SelectObject(dc, font);
}

void PaintCheckBox(HWND button, HDC target) {
    RECT client = ClientRect(button);
    OffScreen off(target, client.right, client.bottom);
    if (!off.old) return;
    HBRUSH parent = ParentBrush(button, off.dc);
    FillRect(off.dc, &client, parent);
    const LONG style = Style(button);
    const bool leftText = style & BS_LEFTTEXT;
    const int size = CheckGlyphSize();
    RECT glyph;
    glyph.left = leftText ? client.right - size : 0;
    glyph.top = (client.bottom - size) / 2;
    glyph.right = glyph.left + size;
    glyph.bottom = glyph.top + size;
    WNDPROC previous = SkinPreviousProc(button);
    LRESULT check = previous ? CallWindowProcW(previous, button, BM_GETCHECK, 0, 0) : 0;
    static const WCHAR* const kImages[3][2] = {{L"CHECKD_DESOFF", L"CHECKD_DESON"},
                                               {L"CHECKD_SELOFF", L"CHECKD_SELON"},
                                               {L"CHECKD_SEMIOFF", L"CHECKD_SEMION"}};
    int row = check == BST_CHECKED ? 1 : check == BST_INDETERMINATE ? 2 : 0;
    HBITMAP image = LoadPngResource(GetModuleHandleW(nullptr), kImages[row][IsWindowEnabled(button) ? 1 : 0]);
    if (image) {
        BITMAP info;
        GetObjectW(image, sizeof(info), &info);
        DrawStateW(off.dc, nullptr, nullptr, reinterpret_cast<LPARAM>(image), 0,
                   glyph.left + (size - info.bmWidth) / 2, glyph.top + (size - info.bmHeight) / 2, info.bmWidth,
                   info.bmHeight, DST_BITMAP);
        DeleteObject(image);
    } else {
        // Without the images a plain box still shows the state.
        const int kMarkInset = 3;
        Frame3D(off.dc, glyph.left, glyph.top, size, size, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
        if (row)
            FillSolid(off.dc, glyph.left + kMarkInset, glyph.top + kMarkInset, size - 2 * kMarkInset,
                      size - 2 * kMarkInset, C(COLOR_BTNTEXT));
    }
    DrawCheckText(button, off.dc, parent, client, glyph, leftText);
    off.Copy(target);
}

void PaintRadio(HWND button, HDC target) {
    RECT client = ClientRect(button);
    OffScreen off(target, client.right, client.bottom);
    if (!off.old) return;
    HBRUSH parent = ParentBrush(button, off.dc);
    FillRect(off.dc, &client, parent);
    WNDPROC previous = SkinPreviousProc(button);
    if (previous) CallWindowProcW(previous, button, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(off.dc), PRF_CLIENT);
    off.Recolour(!IsWindowEnabled(button));  // the system's radio glyph, dark
    const int size = CheckGlyphSize();
    RECT glyph = {0, (client.bottom - size) / 2, size, (client.bottom - size) / 2 + size};
    DrawCheckText(button, off.dc, parent, client, glyph, false);
    off.Copy(target);
}

struct GroupClip {
    HWND box;
    HRGN region;
    RECT boxRect;  // the box itself, in its client coordinates
};

BOOL CALLBACK ExcludeSibling(HWND sibling, LPARAM data) {
    GroupClip& group = *reinterpret_cast<GroupClip*>(data);
    if (sibling == group.box || GetParent(sibling) != GetParent(group.box) || !IsWindowVisible(sibling)) return TRUE;
    RECT overlap;
    const RECT rect = WindowRectIn(sibling, group.box);
    if (!IntersectRect(&overlap, &rect, &group.boxRect) || EqualRect(&overlap, &group.boxRect)) return TRUE;
    HRGN hole = CreateRectRgnIndirect(&rect);
    CombineRgn(group.region, group.region, hole, RGN_DIFF);
    DeleteObject(hole);
    return TRUE;
}

void PaintGroupBox(HWND box, HDC target) {
    RECT client = ClientRect(box);
    OffScreen off(target, client.right, client.bottom);
    if (!off.old) return;
    HBRUSH parent = ParentBrush(box, off.dc);
    FillRect(off.dc, &client, parent);
    WCHAR text[512] = L"";
    GetWindowTextW(box, text, 512);
    HGDIOBJ font = SelectFont(box, off.dc);
    SIZE caption = {};
    GetTextExtentPoint32W(off.dc, text[0] ? text : L"X", text[0] ? lstrlenW(text) : 1, &caption);
    const int h = caption.cy;
    HGDIOBJ oldBrush = SelectObject(off.dc, GetStockObject(HOLLOW_BRUSH));
    HPEN light = CreatePen(PS_SOLID, 1, C(COLOR_BTNHIGHLIGHT)), dark = CreatePen(PS_SOLID, 1, C(COLOR_BTNSHADOW));
    HGDIOBJ oldPen = SelectObject(off.dc, light);
    Rectangle(off.dc, 1, h / 2 + 1, client.right, client.bottom);
    SelectObject(off.dc, dark);
    Rectangle(off.dc, 0, h / 2, client.right - 1, client.bottom - 1);
    SelectObject(off.dc, oldPen);
    SelectObject(off.dc, oldBrush);
    DeleteObject(light);
    DeleteObject(dark);
    // The caption interrupts the frame's top line a little in from its left
    // end, with a little of the background either side of the text.
    const int kCaptionIndent = 5, kCaptionPadding = 2;
    const LONG captionEnd = kCaptionIndent + caption.cx + 2 * kCaptionPadding;
    RECT captionRect = {kCaptionIndent, 0, std::min<LONG>(client.right - kCaptionIndent, captionEnd), h};
    if (text[0]) {
        FillRect(off.dc, &captionRect, parent);
        RECT textRect = captionRect;
        InflateRect(&textRect, -kCaptionPadding, 0);
        SetBkMode(off.dc, TRANSPARENT);
        SetTextColor(off.dc, C(COLOR_GRAYTEXT));
        DrawTextW(off.dc, text, -1, &textRect, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    }
    SelectObject(off.dc, font);

    // Never paint over the controls inside the box.
    GroupClip group = {box, CreateRectRgnIndirect(&client), WindowRectIn(box, box)};
    EnumChildWindows(GetParent(box), ExcludeSibling, reinterpret_cast<LPARAM>(&group));
    if (text[0]) {
        HRGN back = CreateRectRgnIndirect(&captionRect);
        CombineRgn(group.region, group.region, back, RGN_OR);
        DeleteObject(back);
    }
    int saved = SaveDC(target);
    ExtSelectClipRgn(target, group.region, RGN_AND);
    off.Copy(target);
    RestoreDC(target, saved);
    DeleteObject(group.region);
}

void PaintStatic(HWND control, HDC target) {
    RECT client = ClientRect(control);
    OffScreen off(target, client.right, client.bottom);
    if (!off.old) return;
    HBRUSH parent = ParentBrush(control, off.dc, WM_CTLCOLORSTATIC);
    FillRect(off.dc, &client, parent);
    const LONG style = Style(control);
    const int type = style & SS_TYPEMASK;
    const int w = client.right, h = client.bottom;
    switch (type) {
    case SS_ETCHEDHORZ:
        FillSolid(off.dc, 0, 0, w, 1, C(COLOR_BTNSHADOW));
        FillSolid(off.dc, 0, 1, w, 1, C(COLOR_BTNHIGHLIGHT));
        break;
    case SS_ETCHEDVERT:
        FillSolid(off.dc, 0, 0, 1, h, C(COLOR_BTNSHADOW));
        FillSolid(off.dc, 1, 0, 1, h, C(COLOR_BTNHIGHLIGHT));
        break;
    case SS_ETCHEDFRAME:
        Frame3D(off.dc, 0, 0, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
        Frame3D(off.dc, 1, 1, w - 2, h - 2, C(COLOR_BTNHIGHLIGHT), C(COLOR_BTNSHADOW));
        break;
    case SS_GRAYFRAME:
        Frame3D(off.dc, 0, 0, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNSHADOW));
        break;
    case SS_GRAYRECT:
        FillSolid(off.dc, 0, 0, w, h, C(COLOR_BTNSHADOW));
        break;
    case SS_LEFT:
    case SS_CENTER:
    case SS_RIGHT:
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP: {
        WCHAR text[1024] = L"";
        GetWindowTextW(control, text, 1024);
        HGDIOBJ font = SelectFont(control, off.dc);
        UINT format = type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT;
        if (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP) format |= DT_SINGLELINE;
        else format |= DT_WORDBREAK;
        if (style & SS_CENTERIMAGE) format = (format & ~DT_WORDBREAK) | DT_SINGLELINE | DT_VCENTER;
        if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
        SetBkMode(off.dc, TRANSPARENT);
        SetTextColor(off.dc, C(IsWindowEnabled(control) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        DrawTextW(off.dc, text, -1, &client, format);
        SelectObject(off.dc, font);
        break;
    }
    default: {
        WNDPROC previous = SkinPreviousProc(control);
        if (previous) CallWindowProcW(previous, control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(off.dc), PRF_CLIENT);
        off.Recolour(!IsWindowEnabled(control));
    }
    }
    if (style & SS_SUNKEN) Frame3D(off.dc, 0, 0, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
    off.Copy(target);
}

// A triangle of kArrowRows rows pointing down, each two pixels narrower.
const int kArrowRows = 4;
void DrawArrowDown(HDC dc, const RECT& r, COLORREF colour) {
    const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2 - 1;
    for (int i = 0; i < kArrowRows; ++i)
        FillSolid(dc, cx - (kArrowRows - 1) + i, cy + i, 2 * (kArrowRows - i) - 1, 1, colour);
}

// The chosen item of a drop-down list while it has the focus: the combo box
// would show it in the system's highlight, which the recolouring turns into
// grey on bright blue.
void DrawFocusedSelection(HDC dc, HWND combo, const RECT& item) {
    const LONG style = Style(combo);
    if ((style & kComboTypeMask) != CBS_DROPDOWNLIST || (style & (CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE)) ||
        GetFocus() != combo || SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) || IsRectEmpty(&item))
        return;
    FillSolid(dc, item.left, item.top, item.right - item.left, item.bottom - item.top, kSkinAccent);
    const LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    WCHAR text[256] = L"";
    if (selected < 0 || SendMessageW(combo, CB_GETLBTEXTLEN, selected, 0) >= 256) return;
    SendMessageW(combo, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(text));
    HGDIOBJ font = SelectFont(combo, dc);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, C(COLOR_BTNTEXT));
    RECT textRect = item;
    const int kTextIndent = 2;
    textRect.left += kTextIndent;
    DrawTextW(dc, text, -1, &textRect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, font);
}

// Controls whose own painting is kept, on the skin's background, with the
// frames of a combo box in the skin colours.
void PaintByPrevious(HWND window, HDC target) {
    RECT client = ClientRect(window);
    OffScreen off(target, client.right, client.bottom);
    if (!off.old) return;
    FillRect(off.dc, &client, SkinBrush(COLOR_BTNFACE));
    WNDPROC previous = SkinPreviousProc(window);
    if (previous)
        CallWindowProcW(previous, window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(off.dc),
                        PRF_CLIENT | PRF_ERASEBKGND);
    if (IsClass(window, L"ListBox") || IsClass(window, L"ComboLBox")) off.RecolourSelection();
    off.Recolour(!IsWindowEnabled(window));
    if (IsClass(window, L"ComboBox")) {
        const int w = client.right, h = client.bottom;
        Frame3D(off.dc, 0, 0, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
        Frame3D(off.dc, 1, 1, w - 2, h - 2, C(COLOR_3DDKSHADOW), C(COLOR_WINDOW));
        COMBOBOXINFO info = {};
        info.cbSize = sizeof(info);
        const bool hasInfo = GetComboBoxInfo(window, &info);
        if (hasInfo && (Style(window) & kComboTypeMask) == CBS_DROPDOWN) {
            // The edit field paints itself; round it the combo box would
            // leave its own focus lines in the system's colours.
            RECT field = client;
            InflateRect(&field, -kComboFrame, -kComboFrame);
            field.right = std::min(field.right, info.rcButton.left);
            FillRect(off.dc, &field, SkinBrush(COLOR_WINDOW));
        }
        if (hasInfo) DrawFocusedSelection(off.dc, window, info.rcItem);
        if (hasInfo && info.rcButton.right > info.rcButton.left) {
            const bool pressed = info.stateButton & STATE_SYSTEM_PRESSED;
            const bool enabled = IsWindowEnabled(window);
            DrawButtonFace(off.dc, info.rcButton, (pressed ? FacePressed : 0) | (enabled ? 0 : FaceDisabled));
            RECT arrow = info.rcButton;
            if (pressed) OffsetRect(&arrow, 1, 1);
            DrawArrowDown(off.dc, arrow, C(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        }
    }
    int saved = SaveDC(target);
    ExcludeChildren(target, window);  // a combo box's edit field paints itself
    off.Copy(target);
    RestoreDC(target, saved);
}

void PaintStatusBar(HWND bar, HDC target) {
    RECT client = ClientRect(bar);
    OffScreen off(target, client.right, client.bottom);
    if (!off.old) return;
    FillRect(off.dc, &client, SkinBrush(COLOR_BTNFACE));
    RECT top = {0, 0, client.right, 1};
    FillRect(off.dc, &top, SkinBrush(COLOR_BTNHIGHLIGHT));
    WCHAR text[1024] = L"";
    if (GetWindowTextW(bar, text, 1024) > 0) {
        HGDIOBJ font = SelectFont(bar, off.dc);
        RECT rect = client;
        const int kTextMarginX = 2, kTextMarginY = 1;
        InflateRect(&rect, -kTextMarginX, -kTextMarginY);
        SetBkMode(off.dc, TRANSPARENT);
        SetTextColor(off.dc, C(COLOR_BTNTEXT));
        DrawTextW(off.dc, text, -1, &rect, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(off.dc, font);
    }
    off.Copy(target);
}

// The hot button's background: a ramp kHotLift lighter than the face at
// the top, back to the face at the bottom.
const int kHotLift = 28;
void HotRamp(HDC dc, const RECT& r) {
    const COLORREF face = C(COLOR_BTNFACE);
    const int height = std::max<int>(1, r.bottom - r.top);
    for (int y = 0; y < height; ++y) {
        const int lift = kHotLift - kHotLift * y / height;
        auto channel = [&](int value) { return std::min(255, value + lift); };
        FillSolid(dc, r.left, r.top + y, r.right - r.left, 1,
                  RGB(channel(GetRValue(face)), channel(GetGValue(face)), channel(GetBValue(face))));
    }
}

// A toolbar image; a disabled button without a disabled image list gets a
// grey copy of its image, so it does not look clickable.
void DrawToolbarImage(HDC dc, HIMAGELIST list, HIMAGELIST normal, int index, int x, int y, int w, int h) {
    if (list) {
        ImageList_Draw(list, index, dc, x, y, ILD_TRANSPARENT);
        return;
    }
    OffScreen image(dc, w, h);
    if (!image.old) return;
    RECT all = {0, 0, w, h};
    FillRect(image.dc, &all, SkinBrush(COLOR_BTNFACE));
    ImageList_Draw(normal, index, image.dc, 0, 0, ILD_TRANSPARENT);
    HBITMAP grey = MakeDisabledBitmap(image.bitmap);
    if (!grey) return;
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, grey);
    BitBlt(dc, x, y, w, h, source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
    DeleteObject(grey);
}

void PaintToolbar(HWND toolbar, HDC target, const RECT& paintRect) {
    RECT client = ClientRect(toolbar);
    OffScreen off(target, client.right, client.bottom);
    if (!off.old) return;
    FillRect(off.dc, &client, SkinBrush(COLOR_BTNFACE));
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETIMAGELIST, 0, 0));
    HIMAGELIST disabledImages = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETDISABLEDIMAGELIST, 0, 0));
    const int count = static_cast<int>(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
    const int hot = static_cast<int>(SendMessageW(toolbar, TB_GETHOTITEM, 0, 0));
    int imageW = 0, imageH = 0;
    if (images) ImageList_GetIconSize(images, &imageW, &imageH);
    const int kSeparatorWidth = 2;  // a groove: shadow and light
    const int kTextUnderImageGap = 2;
    HGDIOBJ font = SelectFont(toolbar, off.dc);
    SetBkMode(off.dc, TRANSPARENT);
    for (int i = 0; i < count; ++i) {
        TBBUTTON button = {};
        RECT r = {};
        if (!SendMessageW(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)) ||
            !SendMessageW(toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r)) || (button.fsState & TBSTATE_HIDDEN))
            continue;
        if (button.fsStyle & BTNS_SEP) {
            const int x = (r.left + r.right) / 2 - kSeparatorWidth / 2;
            Frame3D(off.dc, x, r.top, kSeparatorWidth, r.bottom - r.top, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
            continue;
        }
        const bool down = button.fsState & (TBSTATE_CHECKED | TBSTATE_PRESSED);
        const bool enabled = button.fsState & TBSTATE_ENABLED;
        const int w = r.right - r.left, h = r.bottom - r.top;
        if (i == hot && enabled) HotRamp(off.dc, r);
        if (down)
            Frame3D(off.dc, r.left, r.top, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
        else if (i == hot && enabled)
            Frame3D(off.dc, r.left, r.top, w, h, C(COLOR_BTNHIGHLIGHT), C(COLOR_BTNSHADOW));
        WCHAR text[256] = L"";
        int textW = 0;
        if (SendMessageW(toolbar, TB_GETBUTTONTEXTW, button.idCommand, 0) > 0 &&
            SendMessageW(toolbar, TB_GETBUTTONTEXTW, button.idCommand, reinterpret_cast<LPARAM>(text)) < 256)
            textW = TextWidth(off.dc, text);
        else
            text[0] = 0;
        const bool hasImage = images && button.iBitmap >= 0 && button.iBitmap < ImageList_GetImageCount(images);
        const int shift = down ? 1 : 0;
        SetTextColor(off.dc, C(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        if (text[0] && !(Style(toolbar) & TBSTYLE_LIST)) {
            // Text under the image (the places bar of the file dialogs):
            // side by side it would not fit the button.
            SIZE size = {};
            GetTextExtentPoint32W(off.dc, text, lstrlenW(text), &size);
            const int imagePart = hasImage ? imageH + kTextUnderImageGap : 0;
            const int top = r.top + (h - imagePart - size.cy) / 2 + shift;
            if (hasImage)
                DrawToolbarImage(off.dc, enabled ? images : disabledImages, images, button.iBitmap,
                                 r.left + (w - imageW) / 2 + shift, top, imageW, imageH);
            RECT textRect = {r.left + shift, top + imagePart, r.right + shift, r.bottom + shift};
            DrawTextW(off.dc, text, -1, &textRect, DT_SINGLELINE | DT_CENTER | DT_END_ELLIPSIS);
            continue;
        }
        const int total = textW + (hasImage ? imageW : 0);
        int x = r.left + (w - total) / 2 + shift;
        if (text[0]) {
            RECT textRect = {x, r.top + shift, x + textW, r.bottom + shift};
            DrawTextW(off.dc, text, -1, &textRect, DT_SINGLELINE | DT_VCENTER);
            x += textW;
        }
        if (hasImage)
            DrawToolbarImage(off.dc, enabled ? images : disabledImages, images, button.iBitmap, x,
                             r.top + (h - imageH) / 2 + shift, imageW, imageH);
    }
    SelectObject(off.dc, font);
    int saved = SaveDC(target);
    ExcludeChildren(target, toolbar);  // the zoom box paints itself
    IntersectClipRect(target, paintRect.left, paintRect.top, paintRect.right, paintRect.bottom);
    off.Copy(target);
    RestoreDC(target, saved);
}

// A progress bar: the bar in its own colour (the system's highlight by
// default) over the skin's field; a themed one would draw a white trough.
void PaintProgress(HWND bar, HDC target) {
    RECT client = ClientRect(bar);
    OffScreen off(target, client.right, client.bottom);
    if (!off.old) return;
    FillRect(off.dc, &client, SkinBrush(COLOR_WINDOW));
    PBRANGE range = {};
    SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const int position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    COLORREF colour = static_cast<COLORREF>(SendMessageW(bar, PBM_GETBARCOLOR, 0, 0));
    if (colour == CLR_DEFAULT) colour = GetSysColor(COLOR_HIGHLIGHT);
    const int span = range.iHigh - range.iLow;
    if (span > 0 && position > range.iLow) {
        const double part = std::min(1.0, static_cast<double>(position - range.iLow) / span);
        if (Style(bar) & PBS_VERTICAL) {
            const int h = static_cast<int>(part * client.bottom + 0.5);
            FillSolid(off.dc, 0, client.bottom - h, client.right, h, colour);
        } else {
            FillSolid(off.dc, 0, 0, static_cast<int>(part * client.right + 0.5), client.bottom, colour);
        }
    }
    off.Copy(target);
}

void Paint(HWND window, UINT message, WPARAM wParam) {
    PaintTarget target(window, message, wParam);
    if (!target.dc) return;
    RECT all = ClientRect(window);
    const RECT& paintRect = target.painting ? target.paint.rcPaint : all;
    if (IsGroupBox(window)) {
        PaintGroupBox(window, target.dc);
    } else if (IsPlainCheckOrRadio(window)) {
        int type = ButtonType(Style(window));
        if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
            PaintRadio(window, target.dc);
        else
            PaintCheckBox(window, target.dc);
    } else if (IsClass(window, L"Static")) {
        PaintStatic(window, target.dc);
    } else if (IsClass(window, L"msctls_statusbar32")) {
        PaintStatusBar(window, target.dc);
    } else if (IsClass(window, L"msctls_progress32")) {
        PaintProgress(window, target.dc);
    } else if (IsClass(window, L"ToolbarWindow32")) {
        PaintToolbar(window, target.dc, paintRect);
    } else {
        PaintByPrevious(window, target.dc);
    }
}

// A one- or two-pixel border in the skin colours over the system's own.
void PaintNonClientEdge(HWND window) {
    RECT outer, inner;
    GetWindowRect(window, &outer);
    GetClientRect(window, &inner);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&inner), 2);
    if (EqualRect(&outer, &inner)) return;
    HDC dc = GetWindowDC(window);
    if (!dc) return;
    const int w = outer.right - outer.left, h = outer.bottom - outer.top;
    const LONG ex = ExStyle(window);
    if (IsClass(window, L"#32768")) {
        Frame3D(dc, 0, 0, w, h, C(COLOR_BTNHIGHLIGHT), C(COLOR_3DDKSHADOW));
    } else if (ex & WS_EX_CLIENTEDGE) {
        Frame3D(dc, 0, 0, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
        Frame3D(dc, 1, 1, w - 2, h - 2, C(COLOR_3DDKSHADOW), C(COLOR_BTNFACE));
    } else {
        Frame3D(dc, 0, 0, w, h, C(COLOR_BTNSHADOW), C(COLOR_BTNHIGHLIGHT));
    }
    ReleaseDC(window, dc);
}

LRESULT ColourAnswer(HWND window, UINT message, WPARAM wParam, LPARAM lParam, WNDPROC previous) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    if (previous) {
        LRESULT standard = DefWindowProcW(window, message, wParam, lParam);
        LRESULT own = CallWindowProcW(previous, window, message, wParam, lParam);
        if (own != 0 && own != standard) return own;
    }
    if (message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX || message == WM_CTLCOLORSCROLLBAR) {
        SetTextColor(dc, C(COLOR_WINDOWTEXT));
        SetBkColor(dc, C(COLOR_WINDOW));
        if (message == WM_CTLCOLORLISTBOX) SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(SkinBrush(COLOR_WINDOW));
    }
    SetTextColor(dc, C(COLOR_BTNTEXT));
    SetBkColor(dc, C(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(SkinBrush(COLOR_BTNFACE));
}

// An owner-drawn combo or list item as its owner draws it, off screen, with
// the system's white field and black text turned into the skin's.
LRESULT DrawItemOffScreen(HWND w, WPARAM wParam, const DRAWITEMSTRUCT& item, WNDPROC previous) {
    const RECT& r = item.rcItem;
    OffScreen off(item.hDC, r.right - r.left, r.bottom - r.top);
    if (!off.old) return CallWindowProcW(previous, w, WM_DRAWITEM, wParam, reinterpret_cast<LPARAM>(&item));
    DRAWITEMSTRUCT copy = item;
    copy.hDC = off.dc;
    OffsetRect(&copy.rcItem, -r.left, -r.top);
    HGDIOBJ font = SelectObject(off.dc, GetCurrentObject(item.hDC, OBJ_FONT));
    LRESULT result = CallWindowProcW(previous, w, WM_DRAWITEM, wParam, reinterpret_cast<LPARAM>(&copy));
    SelectObject(off.dc, font);
    off.Recolour((item.itemState & ODS_DISABLED) != 0);
    off.Copy(item.hDC, r.left, r.top);
    return result;
}

bool IsRadioType(int type) { return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON; }

LRESULT Handle(HWND w, UINT m, WPARAM wParam, LPARAM lParam, WNDPROC previous) {
    auto forward = [&](WPARAM wp) { return previous ? CallWindowProcW(previous, w, m, wp, lParam) : 0; };
    switch (RoleOf(m)) {
    case Role::None:
        break;
    case Role::Colour:
        return ColourAnswer(w, m, wParam, lParam, previous);
    case Role::DrawItem: {
        const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item && item->CtlType == ODT_BUTTON && HasSkinMarker(item->hwndItem)) {
            DrawPushButton(*item);
            return TRUE;
        }
        if (item && item->CtlType == ODT_TAB) {
            if (item->itemData && forward(wParam)) return TRUE;
            DrawTabItem(*item);
            return TRUE;
        }
        if (item && (item->CtlType == ODT_COMBOBOX || item->CtlType == ODT_LISTBOX) && previous)
            return DrawItemOffScreen(w, wParam, *item, previous);
        return forward(wParam);
    }
    case Role::Paint:
        Paint(w, m, wParam);
        return 0;
    case Role::Erase:
        if (IsClass(w, L"#32768")) {
            RECT client = ClientRect(w);
            FillRect(reinterpret_cast<HDC>(wParam), &client, SkinBrush(COLOR_MENU));
        }
        return 1;  // the paint covers everything
    case Role::NonClient: {
        LRESULT result = forward(wParam);
        PaintNonClientEdge(w);
        return result;
    }
    case Role::DialogCode: {
        const MSG* asked = reinterpret_cast<const MSG*>(lParam);
        if (asked && asked->message == WM_KEYDOWN && asked->wParam == VK_TAB) return 0;
        return DLGC_WANTALLKEYS;
    }
    case Role::GetCheck:
        if (HoldsConvertedState(UserData(w))) return UserData(w) & 1;
        return forward(wParam);
    case Role::SetCheck: {
        if (!HasSkinMarker(w)) {
            LRESULT result = forward(wParam);
            RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            return result;
        }
        LONG_PTR data = UserData(w);
        if (HoldsConvertedState(data)) {
            const int type = ConvertedType(data);
            if (IsRadioType(type) && wParam == BST_CHECKED) {
                SkinRadioClick(w, type);
                UpdateWindow(GetParent(w));
            } else {
                LONG_PTR changed =
                    (data & ~kStateBits) + (IsRadioType(type) ? 0 : static_cast<LONG_PTR>(wParam & kStateBits));
                if (changed != data) {
                    SetWindowLongPtrW(w, GWLP_USERDATA, changed);
                    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
                }
            }
        }
        return forward(wParam);
    }
    case Role::SetStyle:
        if (HasSkinMarker(w)) return forward(BS_OWNERDRAW);
        return forward(wParam);
    case Role::RedrawAfter: {
        LRESULT result = forward(wParam);
        if (!IsWindow(w)) return result;
        const bool sizeBox = IsClass(w, L"ScrollBar") && (Style(w) & (SBS_SIZEBOX | SBS_SIZEGRIP));
        if (m == WM_WINDOWPOSCHANGED && sizeBox) return result;
        UINT flags = RDW_INVALIDATE | RDW_NOERASE | RDW_FRAME;
        if (IsClass(w, L"Static") || IsClass(w, L"Button") || IsClass(w, L"ScrollBar")) flags |= RDW_UPDATENOW;
        RedrawWindow(w, nullptr, nullptr, flags);
        return result;
    }
    }
    return forward(wParam);
}

}  // namespace

LRESULT CALLBACK SkinWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = SkinPreviousProc(window);
    if (message == WM_NCDESTROY) {
        // The handle may soon name another window: forget this one first, so
        // no count still running can put this procedure back on it.
        SkinForget(window);
        return previous ? CallWindowProcW(previous, window, message, wParam, lParam) : 0;
    }
    if (!SkinActive()) return previous ? CallWindowProcW(previous, window, message, wParam, lParam) : 0;
    return Handle(window, message, wParam, lParam, previous);
}

// --- images ------------------------------------------------------------------

namespace {

// Any bitmap as a 32-bit bottom-up section; the source is deleted.
HBITMAP ToSection(HBITMAP source) {
    BITMAP info;
    if (!source || !GetObjectW(source, sizeof(info), &info)) {
        if (source) DeleteObject(source);
        return nullptr;
    }
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = info.bmWidth;
    header.bmiHeader.biHeight = info.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (section) {
        HDC screen = GetDC(nullptr);
        if (GetDIBits(screen, source, 0, info.bmHeight, bits, &header, DIB_RGB_COLORS) != info.bmHeight) {
            DeleteObject(section);
            section = nullptr;
        }
        ReleaseDC(nullptr, screen);
    }
    DeleteObject(source);
    return section;
}

HBITMAP DecodeWithGdiplus(HMODULE module, const WCHAR* name) {
    Gdiplus::GpBitmap* image = nullptr;
    if (!module) {
        if (Gdiplus::DllExports::GdipCreateBitmapFromFile(name, &image) != Gdiplus::Ok) return nullptr;
    } else {
        HRSRC resource = FindResourceW(module, name, L"PNG");
        if (!resource) return nullptr;
        DWORD size = SizeofResource(module, resource);
        const void* bytes = LockResource(LoadResource(module, resource));
        if (!bytes || size == 0) return nullptr;
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
        if (!copy) return nullptr;
        void* target = GlobalLock(copy);
        if (!target) {
            GlobalFree(copy);
            return nullptr;
        }
        memcpy(target, bytes, size);
        GlobalUnlock(copy);
        IStream* stream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
            GlobalFree(copy);
            return nullptr;
        }
        Gdiplus::Status status = Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &image);
        stream->Release();
        if (status != Gdiplus::Ok) return nullptr;
    }
    HBITMAP bitmap = nullptr;
    const Gdiplus::ARGB kOpaqueBlack = 0xFF000000;  // under the transparent parts
    if (Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(image, &bitmap, kOpaqueBlack) != Gdiplus::Ok) bitmap = nullptr;
    Gdiplus::DllExports::GdipDisposeImage(image);
    return bitmap;
}

}  // namespace

HBITMAP LoadPngResource(HMODULE module, const WCHAR* name) {
    HBITMAP section = ToSection(DecodeWithGdiplus(module, name));
    if (section) return section;
    return static_cast<HBITMAP>(
        LoadImageW(module, name, IMAGE_BITMAP, 0, 0, module ? LR_CREATEDIBSECTION : LR_LOADFROMFILE | LR_CREATEDIBSECTION));
}
