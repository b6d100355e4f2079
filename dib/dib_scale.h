#pragma once
// A page made smaller for the screen by averaging the area each new pixel covers (a box
// filter with the covered fractions of the pixels at its edges), never by dropping rows
// and columns: thin text and the dots of a black-and-white page stay readable as greys.
// No windows.h: the same code runs natively under the sanitizers.

#include <cstddef>
#include <cstdint>

// The reduced copy is for the screen: 32-bit pixels of blue, green, red and a zero byte,
// what a display takes without converting them (a page whose colours are all greys is
// averaged as grey, a third of the work). Its header is 40 bytes with the page's
// resolution scaled along, its rows are bottom-up.
// 0 when the DIB cannot be read (DibReadPixels) or width x height is not a reduction of
// its picture (0 < width <= its width, 0 < height <= its height).
uint64_t DibMemScaledBytes(const uint8_t* dib, size_t size, int width, int height);
// Writes the reduced copy into out (DibMemScaledBytes bytes); false, nothing written, when
// it cannot. Rows [firstRow, firstRow + rows) of the copy (from its top) are the ones
// made: a caller may make bands of it on several threads; the header is written with the
// band that starts at row 0.
bool DibMemScale(const uint8_t* dib, size_t size, int width, int height, uint8_t* out, size_t outSize,
                 int firstRow = 0, int rows = -1);
