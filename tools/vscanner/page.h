#pragma once
// The generated page, different on every page so that a test can tell pages apart and
// compute every pixel it should receive. Pure arithmetic and bytes, no Windows headers:
// the strips, files and DIBs built from it are checked natively too.

#include <bitset>
#include <cstdint>
#include <vector>

#include "twain/twain_defs.h"

namespace vs {

// Pages a profile can name, counted from 1.
inline constexpr int kMostPages = 10000;

struct PageFormat {
    int width;
    int height;
    int bits;              // 1, 4, 8, 24 or 32
    TW_UINT16 pixelType;   // TWPT_BW, GRAY, RGB or PALETTE
    double resolution;     // dots per inch
    int colors = 0;        // palette entries the source announces; 0: the depth's full table
    std::bitset<kMostPages> blank{};  // page numbers (from 0) that come out as blank paper
};

struct Rgb {
    std::uint8_t red, green, blue;
    bool operator==(const Rgb&) const = default;
};

// Entries of the depth's colour table (2, 16, 256), 0 above 8 bits.
int TableSize(const PageFormat& format);
// Colours the page uses: the announced count when it is smaller than the table.
int UsedColors(const PageFormat& format);
// Whether page number page (from 0) is a blank sheet: paper near white with a little
// sensor noise, a speck of dust here and there and a faint shadow along its left and
// right edges, in the page's size, type and depth.
bool IsBlank(const PageFormat& format, int page);
// Value of pixel (x, y), counted from the top left, on page number page (from 0):
// for 24 and 32 bits blue | green << 8 | red << 16; below that a colour-table index,
// always below UsedColors.
unsigned PagePixel(const PageFormat& format, int x, int y, int page);
// Colour of table entry index (a grey ramp, or for TWPT_PALETTE a colour palette whose
// first two entries are paper tones, which a blank page is drawn in).
Rgb PageColor(const PageFormat& format, int index);
// The colour a reader sees at (x, y), whatever the depth.
Rgb PagePixelColor(const PageFormat& format, int x, int y, int page);

// Row y as the source sends it (TWAIN order: red, green, blue; 1 and 4 bits packed from
// the high bit): bits of every pixel, or with plane >= 0 one byte per pixel of that
// colour channel (0 red, 1 green, 2 blue). out holds RowBits / 8 rounded up.
void PageRow(const PageFormat& format, int page, int y, int plane, std::uint8_t* out);
int RowBits(const PageFormat& format, bool planar);

// The whole page as a packed DIB (40-byte header, colour table, bottom-up rows padded
// to 4 bytes), as a bitmap file (the DIB behind a 14-byte file header), and as an
// uncompressed baseline TIFF (one strip, rows top down).
std::vector<std::uint8_t> PageDib(const PageFormat& format, int page);
std::vector<std::uint8_t> PageBitmapFile(const PageFormat& format, int page);
std::vector<std::uint8_t> PageTiff(const PageFormat& format, int page);

// PackBits, as TWCP_PACKBITS strips carry it.
std::vector<std::uint8_t> PackBits(const std::uint8_t* data, std::size_t size);

}  // namespace vs
