#pragma once
// DIB handles: one packed DIB (info header, colour table, pixel rows padded to 4 bytes,
// bottom-up when biHeight is positive) in one movable global memory block. Whoever
// receives a handle owns it and frees it.
//
// Every operation locks the block for the length of one call. They work only inside
// the block: a DIB that fails DibIsSafe, or a row outside the image, leaves everything
// untouched. A handle that arrives from outside (a file, a scanner) must pass
// DibHandleIsSafe before anything else is done with it.

#include <windows.h>

#include "dib/dib_bytes.h"

// Creates a bottom-up DIB with a gray colour table; the pixel rows are not filled.
// Depths above 8 other than 16 and 48 become 24, 5 to 8 become 8, 2 to 4 become 4.
// Null when the memory cannot be had or no sane DIB has that geometry (depth below 1,
// width not positive, height 0, or sides beyond kDibMaxSide / 2 GB of pixels).
HGLOBAL DibCreate(int bitCount, int width, int height);
void DibFree(HGLOBAL dib);
BITMAPINFOHEADER* DibLock(HGLOBAL dib);
void DibUnlock(HGLOBAL dib);
// DibIsSafe over the whole block of a handle.
bool DibHandleIsSafe(HGLOBAL dib);

// Addresses inside a locked DIB (no checks). A 12-byte core header's colour table
// holds 3-byte entries: read colours through DibColorAt, which knows both kinds.
RGBQUAD* DibColorTable(const BITMAPINFOHEADER* header);
BYTE* DibBits(const BITMAPINFOHEADER* header);
BYTE* DibRowPointer(const BITMAPINFOHEADER* header, int row);
RGBQUAD DibColorAt(const BITMAPINFOHEADER* header, int index);

// Header queries.
int DibBitCount(HGLOBAL dib);
int DibColorCount(HGLOBAL dib);
int DibWidth(HGLOBAL dib);
int DibHeight(HGLOBAL dib);
int DibRowBytes(HGLOBAL dib);
double DibXResolution(HGLOBAL dib);  // dots per inch
double DibYResolution(HGLOBAL dib);

// Header and colour-table changes.
void DibSetResolution(HGLOBAL dib, double xDpi, double yDpi);
// Only biClrUsed changes: the table and rows stay where they are, and every later
// address follows the new count.
void DibSetColorCount(HGLOBAL dib, int count);
void DibSetColor(HGLOBAL dib, int index, BYTE red, BYTE green, BYTE blue);
void DibFillGrayRamp(HGLOBAL dib);

// Row access; row counts from the top of the picture.
void DibReadRow(HGLOBAL dib, int row, void* dest);
void DibWriteRow(HGLOBAL dib, int row, const void* src);
// On a 24-bit DIB fills one colour byte of each pixel (0 red, 1 green, 2 blue) from
// width source bytes; on other depths copies a whole row.
void DibWriteRowChannel(HGLOBAL dib, int row, const void* src, int channel);
// dest receives 3 x width bytes red, green, blue (1, 4, 8 and 24 bits; other depths
// leave it untouched).
void DibReadRowRGB(HGLOBAL dib, int row, void* dest);

// Bulk stores on a locked DIB handle's header address.
void DibStoreRows(BITMAPINFOHEADER* header, int x, int y, int width, int rows, const void* src,
                  int srcStride);
void DibStorePlane(BITMAPINFOHEADER* header, int channel, int x, int y, int width, int rows,
                   const void* src, int srcStride);
void DibSwapRedBlue(BITMAPINFOHEADER* header);
