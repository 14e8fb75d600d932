// The repaint dialogs' own look, which their procedure asks for: the
// background painted off screen around the children, the sliders' channel
// and thumb drawn through the trackbar's custom draw, and the colours of
// the dialog's texts and buttons.
#include "skin/skin.h"

#include <commctrl.h>

#include <algorithm>

#include "skin/gdi.h"
#include "skin/skin_internal.h"

using namespace skin;

namespace {

const int kEdgeWidth = 2;

// A two-pixel edge: sunken for a channel, raised for a thumb.
void DrawTwoPixelEdge(HDC dc, RECT rect, bool raised) {
    Frame3D(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
            SkinColor(raised ? COLOR_3DLIGHT : COLOR_3DSHADOW), SkinColor(raised ? COLOR_3DDKSHADOW : COLOR_3DHILIGHT));
    InflateRect(&rect, -1, -1);
    Frame3D(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
            SkinColor(raised ? COLOR_3DHILIGHT : COLOR_3DDKSHADOW), SkinColor(raised ? COLOR_3DSHADOW : COLOR_3DLIGHT));
}

LRESULT CustomDrawSlider(const NMCUSTOMDRAW& draw) {
    if (draw.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (draw.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
    RECT rect = draw.rc;
    if (draw.dwItemSpec == TBCD_CHANNEL) {
        DrawTwoPixelEdge(draw.hdc, rect, false);
        // The channel is only a few pixels high: the part left of the thumb
        // is filled over its edge, so the value reads as a bar.
        RECT thumb = {};
        SendMessageW(draw.hdr.hwndFrom, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        rect.right = std::min(rect.right, static_cast<LONG>((thumb.left + thumb.right) / 2));
        if (IsWindowEnabled(draw.hdr.hwndFrom)) {
            HBRUSH fill = CreateSolidBrush(kSkinAccent);
            FillRect(draw.hdc, &rect, fill);
            DeleteObject(fill);
        } else {
            FillRect(draw.hdc, &rect, SkinBrush(COLOR_3DDKSHADOW));
        }
        return CDRF_SKIPDEFAULT;
    }
    if (draw.dwItemSpec == TBCD_THUMB) {
        DrawTwoPixelEdge(draw.hdc, rect, true);
        InflateRect(&rect, -kEdgeWidth, -kEdgeWidth);
        FillRect(draw.hdc, &rect, SkinBrush(COLOR_BTNFACE));
        return CDRF_SKIPDEFAULT;
    }
    return CDRF_DODEFAULT;
}

// Double-buffered: the background is drawn off screen and copied in one go,
// around the children, which paint themselves.
void PaintDialog(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    RECT client;
    GetClientRect(dialog, &client);
    OffScreen off(dc, client.right, client.bottom);
    FillRect(off.dc, &client, SkinBrush(COLOR_BTNFACE));
    ExcludeChildren(dc, dialog, [](HWND child) {
        // Group boxes draw only their frame: the dialog paints what they
        // enclose. The others are painted again over the new background.
        if (IsGroupBox(child)) return false;
        InvalidateRect(child, nullptr, FALSE);
        return true;
    });
    off.Copy(dc);
    EndPaint(dialog, &paint);
}

LRESULT Answer(HWND dialog, LRESULT result) {
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace

bool SkinDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& answer) {
    switch (message) {
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code != NM_CUSTOMDRAW || !IsClass(header->hwndFrom, TRACKBAR_CLASSW)) return false;
        answer = Answer(dialog, CustomDrawSlider(*reinterpret_cast<const NMCUSTOMDRAW*>(lParam)));
        return true;
    }
    case WM_ERASEBKGND:
        answer = Answer(dialog, TRUE);  // WM_PAINT covers everything
        return true;
    case WM_PAINT:
        PaintDialog(dialog);
        answer = TRUE;
        return true;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        SetBkColor(reinterpret_cast<HDC>(wParam), SkinColor(COLOR_BTNFACE));
        SetTextColor(reinterpret_cast<HDC>(wParam), SkinColor(COLOR_BTNTEXT));
        answer = reinterpret_cast<INT_PTR>(SkinBrush(COLOR_BTNFACE));
        return true;
    }
    return false;
}
