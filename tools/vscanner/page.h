#pragma once
// The generated page: a packed DIB in movable global memory, different on every page
// so that a test can tell pages apart.

#include <windows.h>

#include "twain/twain_defs.h"

namespace vs {

struct PageFormat {
    int width;
    int height;
    int bits;              // 1, 4, 8, 24 or 32
    TW_UINT16 pixelType;   // TWPT_BW, GRAY, RGB or PALETTE
    double resolution;     // dots per inch
};

// Colour of pixel (x, y), counted from the top left, on page number page (from 0):
// for 24 and 32 bits blue, green, red; below that the colour-table index.
unsigned PagePixel(const PageFormat& format, int x, int y, int page);
// The whole page as a DIB handle (null when memory is short).
HGLOBAL MakePage(const PageFormat& format, int page);

}  // namespace vs
