// The image view: one current image with its palette, drawn at actual size or stretched.
#include "app/view.h"

#include "app/display_scale.h"
#include "app/shell.h"
#include "dib/dib.h"
#include "dib/dib_lock.h"

#include "resources/resource.h"

#include <algorithm>
#include <cstdlib>
#include <string>

std::vector<HGLOBAL> documentPages;
size_t shownPage = 0;
HGLOBAL currentDib = nullptr;
HGLOBAL undoDib = nullptr;
HPALETTE currentPalette = nullptr;
HCURSOR waitCursor = nullptr;

namespace {
constexpr char kSampleTitle[] = "Scrib Sample Title";
// More entries than a display palette holds cannot be realized anyway.
constexpr int kMaxPaletteEntries = 256;

void PaintBlack(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    HGDIOBJ previous = SelectObject(dc, black);
    Rectangle(dc, 0, 0, client.right, client.bottom);
    SelectObject(dc, previous);
    DeleteObject(black);
}

void PaintImage(HWND window, HDC dc, const RECT& area)
{
    if (stretchToWindow == 0) {
        // From the scroll offset: only what the paint needs is drawn, from copies kept while
        // the page is shown (the wait cursor shows while one is made).
        DrawViewArea(window, dc, area);
        return;
    }
    HCURSOR previous = SetCursor(waitCursor);
    RECT client;
    GetClientRect(window, &client);
    DrawDibImage(currentDib, dc, 0, 0, client.right, client.bottom, 0, 0);
    SetCursor(previous);
}
}  // namespace

namespace {
// Lets go of what is drawn for the page shown and of the page kept for Undo.
void LetGoOfShownPage()
{
    viewScrollX = viewScrollY = 0;
    ForgetDrawnCopy();
    if (currentPalette) {
        DeleteObject(currentPalette);
        currentPalette = nullptr;
    }
    if (undoDib) {
        DibFree(undoDib);
        undoDib = nullptr;
    }
}

// Shows the page currentDib now is, from its top-left corner; a new page also sizes the
// window to itself.
void Present(HWND window, bool sizeWindow)
{
    if (currentDib) {
        currentPalette = CreateDibPalette(currentDib);
        if (sizeWindow)
            SizeWindowToImage(window, currentDib);
    }
    UpdateViewScrollBars(window);
    UpdatePageTitle(window);
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}
}  // namespace

void ReleaseCurrentImage()
{
    LetGoOfShownPage();
    for (HGLOBAL page : documentPages)
        DibFree(page);
    documentPages.clear();
    shownPage = 0;
    currentDib = nullptr;
}

void ShowImage(HWND window, HGLOBAL dib)
{
    LetGoOfShownPage();
    if (currentDib)
        DibFree(currentDib);
    if (documentPages.empty() && dib) {
        documentPages.push_back(dib);
        shownPage = 0;
    } else if (dib) {
        documentPages[shownPage] = dib;
    } else if (!documentPages.empty()) {
        documentPages.erase(documentPages.begin() + std::ptrdiff_t(shownPage));
        shownPage = std::min(shownPage, documentPages.empty() ? 0 : documentPages.size() - 1);
    }
    currentDib = documentPages.empty() ? nullptr : documentPages[shownPage];
    Present(window, dib != nullptr);
}

void ShowChangedImage(HWND window, HGLOBAL changed, HGLOBAL before)
{
    if (before == currentDib)
        currentDib = nullptr;
    ShowImage(window, changed);
    undoDib = before;
}

void ShowDocumentPage(HWND window, size_t index, bool sizeWindow)
{
    if (index >= documentPages.size())
        return;
    LetGoOfShownPage();
    shownPage = index;
    currentDib = documentPages[index];
    Present(window, sizeWindow);
}

// A record of one page keeps the title as the store's work left it ("Completed
// compressing"), as it always did; only a document of several pages, or one that just
// had several, says where the person is.
void UpdatePageTitle(HWND window)
{
    static bool showingPages = false;
    if (documentPages.size() < 2 && !showingPages)
        return;
    showingPages = documentPages.size() > 1;
    char title[kMessageTextSize] = "";
    LoadStringA(appInstance, IDS_TITLE, title, sizeof title);
    std::string text = title;
    if (showingPages)
        text += " - Page " + std::to_string(shownPage + 1) + " of " + std::to_string(documentPages.size());
    SetWindowTextA(window, text.c_str());
}

void SizeWindowToImage(HWND window, HGLOBAL dib)
{
    HDC dc = GetDC(window);
    if (!dc)
        return;
    DWORD extent = GetTabbedTextExtentA(dc, kSampleTitle, sizeof kSampleTitle - 1, 0, nullptr);
    int textWidth = LOWORD(extent);
    ReleaseDC(window, dc);
    // In display pixels: the page at actual size is never scaled for the display.
    SizeClientArea(window, std::max(DibWidth(dib), textWidth), DibHeight(dib));
}

int PaletteEntryCount(const BITMAPINFOHEADER* header, size_t blockSize, int colourCount)
{
    if (colourCount <= 0 || header->biSize >= blockSize)
        return 0;
    size_t entrySize = header->biSize == sizeof(BITMAPCOREHEADER) ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD);
    size_t fits = (blockSize - header->biSize) / entrySize;
    return static_cast<int>(std::min<size_t>({static_cast<size_t>(colourCount), fits, kMaxPaletteEntries}));
}

HPALETTE CreateDibPalette(HGLOBAL dib)
{
    LockedDib lock(dib);
    if (!lock.readable())
        return nullptr;
    auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(lock.data());
    int n = PaletteEntryCount(header, lock.size(), DibColorCount(dib));
    int entries = n ? n : 256;
    size_t bytes = sizeof(LOGPALETTE) + (entries - 1) * sizeof(PALETTEENTRY);
    auto* palette = static_cast<LOGPALETTE*>(LocalAlloc(LPTR, bytes));
    if (!palette)
        return nullptr;
    palette->palVersion = 0x300;
    palette->palNumEntries = static_cast<WORD>(entries);
    if (n) {
        // DibColorAt reads both the 4-byte entries and a core header's 3-byte ones.
        for (int i = 0; i < n; ++i) {
            RGBQUAD colour = DibColorAt(header, i);
            palette->palPalEntry[i] = PALETTEENTRY{colour.rgbRed, colour.rgbGreen, colour.rgbBlue, 0};
        }
    } else {
        std::copy(DefaultPalette().begin(), DefaultPalette().end(), palette->palPalEntry);
    }
    HPALETTE result = CreatePalette(palette);
    LocalFree(palette);
    return result;
}

LRESULT PaintView(HWND window)
{
    PAINTSTRUCT paint;
    if (HDC dc = BeginPaint(window, &paint)) {
        // Only a display of few colours has a palette to realize; on others it costs a paint
        // more than drawing the page from its copy.
        if (currentPalette && (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE)) {
            SelectPalette(dc, currentPalette, FALSE);
            RealizePalette(dc);
        }
        if (currentDib)
            PaintImage(window, dc, paint.rcPaint);
        else
            PaintBlack(window, dc);
    }
    EndPaint(window, &paint);
    return 0;
}

LRESULT RealizeViewPalette(HWND window)
{
    if (!currentPalette)
        return 0;
    HDC dc = GetDC(window);
    HPALETTE previous = SelectPalette(dc, currentPalette, FALSE);
    UINT remapped = RealizePalette(dc);
    SelectPalette(dc, previous, FALSE);
    ReleaseDC(window, dc);
    if (remapped != 0 && remapped != GDI_ERROR)
        InvalidateRect(window, nullptr, TRUE);
    return remapped == GDI_ERROR ? 0 : static_cast<LRESULT>(remapped);
}
