#pragma once
// The one reader of a DIB's pixels. Where the uncompressed rows of a packed DIB lie, and
// every pixel of every kind the program takes (1, 4 and 8 bits through the colour table,
// 16 and 32 bits plain or with bit fields, 24 and 48 bits, either row order, either
// header kind) as 8-bit red, green and blue. The display's upright copy, the page
// clean-ups and the export all read through here, so a page is the same picture in each.
// No windows.h: the same code runs natively under the sanitizers and the fuzzer.

#include "dib/dib_bytes.h"

#include <cstddef>
#include <cstdint>

// Where the rows of an uncompressed DIB lie and how large its picture is.
struct DibFrame {
    DibLayout layout{};
    uint64_t bits = 0;   // offset of the first stored row
    int64_t width = 0;   // pixels
    int64_t rows = 0;    // |height|
    int64_t stride = 0;  // bytes of a stored row
    uint64_t image = 0;  // stride x rows
};

// The frame of a DIB whose rows can be addressed: it is safe, its rows are not run-length
// compressed and they lie inside the block.
bool DibReadFrame(const uint8_t* dib, size_t size, DibFrame& frame);
// The frame of the same kind of DIB with another geometry, its rows where frame's start.
DibFrame DibResizedFrame(const DibFrame& frame, int64_t width, int64_t rows);
// The storage line of picture row `row` (0 is the top, whatever the storage order).
inline int64_t DibStoredLine(const DibFrame& frame, int64_t row)
{
    return frame.layout.height > 0 ? frame.rows - 1 - row : row;
}

// Writes the geometry of `out` over a copy of the header of a DIB of frame `in`, of which
// headerBytes are at hand: width, height (the row order kept), biSizeImage (moved by the
// change of the rows' bytes, so an exact value stays exact) and a version 5 header's
// profile offset, which follows the rows when the profile lies behind them. Everything
// else, the resolution included, stays.
void DibPatchGeometry(uint8_t* header, size_t headerBytes, const DibFrame& in, const DibFrame& out);

// One colour field of a 16- or 32-bit pixel, widened to 8 bits: a narrow field by
// repeating its bits, as display drivers do, a wide one by its 8 highest bits.
struct DibField {
    uint32_t mask = 0;  // after the shift; 0: no field, reads as 0
    int shift = 0;
    int bits = 0;
    uint8_t Read(uint32_t pixel) const
    {
        if (bits == 0)
            return 0;
        uint32_t value = pixel >> shift & mask;
        if (bits >= 8)
            return uint8_t(value >> (bits - 8));
        uint32_t wide = value << (8 - bits);
        for (int filled = bits; filled < 8; filled += bits)
            wide |= wide >> bits;
        return uint8_t(wide);
    }
};
DibField DibFieldOf(uint32_t mask);
// The value of a field (mask) of a pixel as 8 bits; 0 for an empty mask.
uint8_t DibFieldByte(uint32_t pixel, uint32_t mask);

// Luminance of one colour by the weights 0.299, 0.587 and 0.114, rounded.
inline uint8_t Luminance(int red, int green, int blue)
{
    // The weights in sixteenths of a thousandth, adding up to 65536.
    return uint8_t((red * 19595 + green * 38470 + blue * 7471 + 32768) >> 16);
}

struct DibPixels {
    DibFrame frame;
    const uint8_t* dib = nullptr;
    // 1 to 8 bits: red, green, blue of each index the depth can hold; indices past the
    // bitmap's own table are black, as GDI draws them.
    uint32_t tableEntries = 0;  // entries the bitmap's table gives (at most 2^depth)
    uint8_t table[256][3] = {};
    uint8_t tableGrey[256] = {};  // the luminance of each entry
    // 16 and 32 bits: red, green, blue and alpha. Alpha only where a bit-field header names
    // an alpha field and some pixel has a value in it: a field that is zero everywhere
    // (as GDI writes one) is no alpha.
    uint32_t masks[4] = {};
    DibField fields[4];

    const uint8_t* Line(int64_t row) const { return dib + frame.bits + DibStoredLine(frame, row) * frame.stride; }
    bool HasAlpha() const { return masks[3] != 0; }
};

// Prepares reading the pixels of a packed DIB of `size` bytes: false when its rows cannot
// be addressed (DibReadFrame) or its bit fields leave no room for them.
bool DibReadPixels(const uint8_t* dib, size_t size, DibPixels& pixels);
// Picture row `row` as red, green, blue bytes (3 x width); with alpha, 4 bytes a pixel,
// the alpha field's value last (255 where the DIB has none).
void DibPixelsRGB(const DibPixels& pixels, int64_t row, uint8_t* out);
void DibPixelsRGBA(const DibPixels& pixels, int64_t row, uint8_t* out);
// Picture row `row` as the luminance of each pixel (width bytes).
void DibPixelsGrey(const DibPixels& pixels, int64_t row, uint8_t* out);
