// The colour table. Every entry still answers with the system colour, so the
// dialogs that paint themselves look like any other window.
#include "skin/skin.h"

COLORREF SkinColor(int index) {
    if (index > 29) return 0;
    return GetSysColor(index);
}

HBRUSH SkinBrush(int index) {
    if (index < 0) return nullptr;
    return GetSysColorBrush(index);
}
