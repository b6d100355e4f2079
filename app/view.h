#pragma once
// The image view: the current image, its palette, window sizing and painting.

#include "app/acquire.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <vector>

// The record's document: every page of it in order, one shown at a time. The page shown
// is currentDib, at shownPage; the window shows no image while there is no page.
extern std::vector<HGLOBAL> documentPages;
extern size_t shownPage;
extern HGLOBAL currentDib;
extern HPALETTE currentPalette;
extern HCURSOR waitCursor;

// The page as it was before the last Page command or automatic clean-up, which Undo gives
// back; null when there is none. Any other new image lets it go.
extern HGLOBAL undoDib;

// Frees every page of the document and the one kept for Undo: the window shows no image.
void ReleaseCurrentImage();
// Replaces the page shown by dib (in a document without pages, dib becomes its first
// page); null takes the page shown out of the document. The page it replaces and the one
// kept for Undo are freed.
void ShowImage(HWND window, HGLOBAL dib);
// Replaces the page shown by a page made from `before` (the page shown, or a scanned page
// not yet shown), keeping `before` for Undo.
void ShowChangedImage(HWND window, HGLOBAL changed, HGLOBAL before);
// Shows page index of the document, keeping every page as it is; the one kept for Undo
// is let go (Undo acts on the page shown). sizeWindow: the window takes the page's size,
// as for a page that has just arrived.
void ShowDocumentPage(HWND window, size_t index, bool sizeWindow = false);
// The main window's title: the program's name, and where the person is in a document of
// several pages ("Page 3 of 10").
void UpdatePageTitle(HWND window);
void SizeWindowToImage(HWND window, HGLOBAL dib);
HPALETTE CreateDibPalette(HGLOBAL dib);
void DrawDibImage(HGLOBAL dib, HDC dc, int xDst, int yDst, int widthDst, int heightDst, int xSrc, int ySrc);
// The part of the current image that lies in area of the client area, at the view's scale
// and scroll offset.
void DrawViewArea(HWND window, HDC dc, const RECT& area);
// The image shown keeps the upright copy DrawDib draws it from while it stays; one that
// is changed in place calls this, as ReleaseCurrentImage does.
void ForgetDrawnCopy();

LRESULT PaintView(HWND window);

// How large the page is drawn (View menu), remembered with the other options:
// kViewFitPage the whole page, kViewFitWidth its width across the window, kViewActualSize
// one image pixel per screen pixel, kViewZoom zoomPercent. "Stretch Image to screen" draws
// the page stretched over the client area whatever the mode, as it always has.
constexpr int kViewFitPage = 0, kViewFitWidth = 1, kViewActualSize = 2, kViewZoom = 3;
extern int viewMode;
extern int zoomPercent;
// Where the page shown lands in the client area: drawn scale times its size, at left and
// top (a page smaller than the window is centred), less the scroll offset.
struct ViewGeometry {
    double scale = 1.0;
    int width = 0, height = 0;  // the page as drawn, in screen pixels
    int left = 0, top = 0;
};
ViewGeometry CurrentViewGeometry(HWND window);
// The page's copy at the drawn size (made once per page and size) is let go: the mode,
// the zoom or the client area changed.
void ForgetScaledCopy();
// The View menu's rows of the command table and its menu-state rules.
std::span<const CommandRow> ViewCommands();
std::span<const MenuRule> ViewMenuRules();
// WM_KEYDOWN with Ctrl: plus and minus zoom in and out, 0 fits the page; answers whether
// the key zooms.
bool ZoomByKey(HWND window, UINT key);
// Ctrl and the wheel: a step of zoom, about the point under the pointer (screen coordinates).
void ZoomByWheel(HWND window, int delta, POINT screen);

// A page larger than the client area scrolls: the client area shows it from this offset,
// in screen pixels of the page as drawn. A new image starts at its top-left corner.
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
