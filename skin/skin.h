// The program's look: the colour table that stands in for the system
// colours, and a brush for each. While no skin is installed every entry is
// the system's own colour and brush.
#pragma once

#include <windows.h>

// Colour of a system colour index (COLOR_BTNFACE, ...); 0 above 29.
COLORREF SkinColor(int index);
// Brush of a system colour index; null for a negative index. Not to be deleted.
HBRUSH SkinBrush(int index);
