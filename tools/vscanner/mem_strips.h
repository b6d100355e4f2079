#pragma once
// The strips of a buffered memory transfer and the palette that goes with them: which
// rows each strip carries, how it lays them out in the application's buffer, and the
// faults a profile asks it to play. No Windows headers: checked natively and fuzzed.

#include <cstdint>

#include "tools/vscanner/page.h"
#include "twain/twain_defs.h"

namespace vs {

enum class RowPadding { Word, Byte, Odd };

enum class StripFault {
    None,
    PastRight,            // every strip claims 8 columns more than the image has
    PastBottom,           // the last strip of each plane claims up to 8 rows more than are left
    BeyondRight,          // strip N starts 5 columns right of the image
    BeyondBottom,         // strip N starts 5 rows below the image
    RowsOverflow,         // strip N claims 10 rows more than the buffer holds
    BytesPerRowOverflow,  // strip N claims a BytesPerRow whose rows do not fit the buffer
    ShortWritten,         // strip N's BytesWritten is half of BytesPerRow times Rows
    NoPixels,             // strip N and every later one carry no pixels, for ever
};

enum class PaletteOrder { Index, Reversed, Shuffled };

struct StripSettings {
    std::uint32_t rowsPerStrip = 0;  // 0: as many as the buffer holds
    RowPadding padding = RowPadding::Word;
    bool planar = false;             // 24 and 32 bits only: red, then green, then blue planes
    TW_UINT16 compression = TWCP_NONE;
    StripFault fault = StripFault::None;
    int faultAt = 1;                 // strips count from 1 over all planes
    int cancelAt = 0;                // TWRC_CANCEL at this strip (0: never)
};

struct StripCursor {
    int plane = 0;
    int row = 0;       // next row of the plane
    int number = 0;    // strips handed out so far
    bool finished = false;
};

struct Strip {
    TW_UINT16 rc = TWRC_SUCCESS;        // SUCCESS, XFERDONE, CANCEL or FAILURE
    TW_UINT16 condition = TWCC_SUCCESS; // of a failure
    TW_UINT16 compression = TWCP_NONE;
    std::uint32_t bytesPerRow = 0, columns = 0, rows = 0, xOffset = 0, yOffset = 0, bytesWritten = 0;
    int plane = -1;                     // -1 for chunky data
};

// True when the page goes out in planes (the setting applies to colour pages only).
bool IsPlanar(const PageFormat& format, const StripSettings& settings);
// Row bytes of a strip of columns pixels, laid out with the padding.
std::uint32_t StripRowBytes(const PageFormat& format, const StripSettings& settings, std::uint32_t columns);

// Writes the next strip of page into buffer (length bytes) and moves the cursor on.
// Rows are written at the strip's BytesPerRow; bytes past a row's pixels, and rows a
// strip claims beyond the image, hold the filler byte 0xA5.
Strip NextStrip(const PageFormat& format, int page, const StripSettings& settings, StripCursor& cursor,
                std::uint8_t* buffer, std::uint32_t length);

// The page's palette as DAT_PALETTE8 hands it over: NumColors as announced (even above
// the 256 elements it can hold), elements in the given order, each with its Index.
TW_PALETTE8 PagePalette(const PageFormat& format, int numColors, PaletteOrder order);

}  // namespace vs
