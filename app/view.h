#pragma once
// The image view: the current image, its palette, window sizing and painting.

#include <windows.h>

#include <array>

extern HGLOBAL currentDib;
extern HPALETTE currentPalette;
extern HCURSOR waitCursor;

void ReleaseCurrentImage();
void ShowImage(HWND window, HGLOBAL dib);
void SizeWindowToImage(HWND window, HGLOBAL dib);
HPALETTE CreateDibPalette(HGLOBAL dib);
void DrawDibImage(HGLOBAL dib, HDC dc, int xDst, int yDst, int widthDst, int heightDst, int xSrc, int ySrc);

LRESULT PaintView(HWND window);
// WM_QUERYNEWPALETTE, and WM_PALETTECHANGED from another window: answers the number of
// entries remapped.
LRESULT RealizeViewPalette(HWND window);

// The palette for images without a colour table: the twenty static colours at both ends,
// the 6x6x6 colour cube and grays in between.
const std::array<PALETTEENTRY, 256>& DefaultPalette();
// How many colour-table entries a palette may take from a DIB: never more than the block
// holds, nor more than a display palette can realize.
int PaletteEntryCount(const BITMAPINFOHEADER* header, size_t blockSize, int colourCount);
