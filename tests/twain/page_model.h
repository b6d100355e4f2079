#pragma once
// A page whose every pixel a test can compute, cut into the strips a source would send
// in a buffered memory transfer, and the check of a finished DIB against it. Computed
// here bit by bit, independently of the library's strip code. No windows.h: the native
// strip tests and the Windows memory-transfer tests share it.

#include <cstdint>
#include <string>
#include <vector>

#include "twain/twain_defs.h"

namespace pagemodel {

struct PageSpec {
    TW_INT16 pixelType = TWPT_RGB;
    TW_INT16 bitsPerPixel = 24;
    TW_INT16 samples = 3;  // samples per pixel; each has bitsPerPixel / samples bits
    bool planar = false;
    int width = 0;
    int length = 0;
};

enum class Pad { word, byte, odd };  // odd: neither, with extra bytes behind each row

struct Strip {
    TW_IMAGEMEMXFER mx{};  // Memory left zero: the library fills it in
    std::vector<std::uint8_t> bytes;
    bool last = false;     // answered with TWRC_XFERDONE
};

int BitsPerSample(const PageSpec& page);
// The value of sample c of pixel (x, y), at BitsPerSample bits.
std::uint32_t Sample(const PageSpec& page, int x, int y, int c);
TW_IMAGEINFO Info(const PageSpec& page);
std::uint32_t RowBytes(std::uint64_t bits, Pad pad);

// The strips of the whole page (planar: plane after plane), rowsPerStrip rows and
// columnsPerStrip columns each (0: the whole width). doneOnLast: the last strip says
// TWRC_XFERDONE; otherwise the page ends by its pixel count.
std::vector<Strip> Strips(const PageSpec& page, int rowsPerStrip, int columnsPerStrip, Pad pad, bool doneOnLast);

// Empty when every pixel of the DIB (a packed DIB of size bytes, after the red-blue swap)
// is the page's; otherwise the first difference.
std::string CompareDib(const PageSpec& page, const std::uint8_t* dib, std::size_t size);

}  // namespace pagemodel
