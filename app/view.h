#pragma once
// The image view: the current image, its palette, window sizing and painting.

#include <windows.h>

#include <array>

extern HGLOBAL currentDib;
extern HPALETTE currentPalette;
extern HCURSOR waitCursor;

// The page as it was before the last Page command or automatic clean-up, which Undo gives
// back; null when there is none. Any other new image lets it go.
extern HGLOBAL undoDib;

// Frees the current image and the one kept for Undo.
void ReleaseCurrentImage();
void ShowImage(HWND window, HGLOBAL dib);
// Shows a page made from `before` (the current image, or a scanned page not yet shown),
// keeping `before` for Undo.
void ShowChangedImage(HWND window, HGLOBAL changed, HGLOBAL before);
void SizeWindowToImage(HWND window, HGLOBAL dib);
HPALETTE CreateDibPalette(HGLOBAL dib);
void DrawDibImage(HGLOBAL dib, HDC dc, int xDst, int yDst, int widthDst, int heightDst, int xSrc, int ySrc);
// At actual size: the part of the current image that lies in area of the client area,
// from the scroll offset.
void DrawViewArea(HDC dc, const RECT& area);
// The image shown keeps the upright copy DrawDib draws it from while it stays; one that
// is changed in place calls this, as ReleaseCurrentImage does.
void ForgetDrawnCopy();

LRESULT PaintView(HWND window);

// At actual size an image larger than the client area scrolls: the client area shows it
// from this offset, in image pixels. A new image starts at its top-left corner.
extern int viewScrollX;
extern int viewScrollY;
// Shows scroll bars where the image does not fit and keeps the offset inside it; after
// a new image, a new client size or a change of the stretch setting.
void UpdateViewScrollBars(HWND window);
// WM_HSCROLL and WM_VSCROLL: bar is SB_HORZ or SB_VERT, code the scroll bar's request.
void ScrollView(HWND window, int bar, int code);
// WM_KEYDOWN: arrows, Page Up/Down, Home and End; answers whether the key scrolls.
bool ScrollViewByKey(HWND window, UINT key);
// WM_MOUSEWHEEL and WM_MOUSEHWHEEL: delta in WHEEL_DELTA units of the wheel's turn.
void ScrollViewByWheel(HWND window, int bar, int delta);
// WM_QUERYNEWPALETTE, and WM_PALETTECHANGED from another window: answers the number of
// entries remapped.
LRESULT RealizeViewPalette(HWND window);

// The palette for images without a colour table: the twenty static colours at both ends,
// the 6x6x6 colour cube and grays in between.
const std::array<PALETTEENTRY, 256>& DefaultPalette();
// How many colour-table entries a palette may take from a DIB: never more than the block
// holds, nor more than a display palette can realize.
int PaletteEntryCount(const BITMAPINFOHEADER* header, size_t blockSize, int colourCount);
