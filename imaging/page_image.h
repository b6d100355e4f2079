#pragma once
// A page read out of a packed DIB of any kind the program shows (1, 4 and 8 bits with a
// colour table, 16 and 32 bits plain or with bit fields, 24 and 48 bits, either row
// order, either header kind) into plain planes, and the clean-ups' results written back
// as packed DIBs. No windows.h: the same code runs natively under the sanitizers and the
// fuzzer.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imaging {

// What a page's pixels are, which decides what a turned page is made of: a 1-bit page
// stays 1-bit, a page whose colours are all greys becomes 8-bit grey, any other 24-bit.
enum class PageKind { kBilevel, kGrey, kColour };

// Pixels row by row, the top row first, with no padding.
struct Plane {
    int width = 0;
    int height = 0;
    int channels = 1;  // 1: grey, or colour-table indices; 3: red, green, blue
    std::vector<uint8_t> pixels;

    void Resize(int w, int h, int c)
    {
        width = w, height = h, channels = c;
        pixels.assign(size_t(w) * size_t(h) * size_t(c), 0);
    }
    uint8_t* Row(int y) { return pixels.data() + size_t(y) * size_t(width) * size_t(channels); }
    const uint8_t* Row(int y) const { return pixels.data() + size_t(y) * size_t(width) * size_t(channels); }
};

struct Rgb {
    uint8_t red, green, blue;
};

struct PageInfo {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    PageKind kind = PageKind::kColour;
    uint32_t xPelsPerMeter = 0;  // 0 for a core header, which has none
    uint32_t yPelsPerMeter = 0;
    Rgb bilevel[2] = {};  // the two colours of a 1-bit page
};

// Whether the pixels of the DIB can be read: it is safe and its rows are not run-length
// compressed.
bool ReadPageInfo(const uint8_t* dib, size_t size, PageInfo& info);

// The whole picture (ReadPageInfo must have answered true): luminance by the weights
// 0.299, 0.587 and 0.114; red, green, blue; or a 1-bit page's indices (0 or 1).
void ReadGrey(const uint8_t* dib, size_t size, Plane& grey);
void ReadColour(const uint8_t* dib, size_t size, Plane& colour);
void ReadIndices(const uint8_t* dib, size_t size, Plane& indices);

// A result DIB: a 40-byte header, the rows bottom-up, the page's resolution. 1 bit: the
// plane holds 0 and 1, coloured by palette; 8 bits: a grey colour table; 24 bits: the
// plane holds red, green, blue.
size_t ResultBytes(int bitCount, int width, int height);
void WriteResult(const Plane& plane, int bitCount, const PageInfo& info, const Rgb palette[2], uint8_t* out);

}  // namespace imaging
