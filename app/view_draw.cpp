// Drawing the current image with DrawDib: the upright copy a DIB that DrawDib cannot draw
// as it is gets, kept while that image is shown, and the part of the page a paint needs
// at actual size. A scroll step uncovers a strip: DrawDib copies every row it is handed
// before it draws, so it is handed the strip's rows, never the page's.
#include "app/view.h"

#include "dib/dib.h"
#include "dib/dib_lock.h"

#include <vfw.h>

#include "dib/dib_scale.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {
// The wait cursor, while a copy of the page is made.
class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(waitCursor)) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

// A DIB as DrawDib takes it: the block itself, or its upright copy.
struct Drawable {
    const uint8_t* bytes = nullptr;
    std::unique_ptr<uint8_t[]> own;  // the copy of an image that is not the one shown
};

// The shown image's upright copy: a 26 MB conversion for an A4 page, too much for every
// scroll step.
struct KeptCopy {
    HGLOBAL of = nullptr;
    std::unique_ptr<uint8_t[]> bytes;
};
KeptCopy kept;

std::unique_ptr<uint8_t[]> UprightCopy(const LockedDib& lock)
{
    WaitCursor wait;
    uint64_t bytes = DibMemUprightBytes(lock.data(), lock.size());
    if (bytes == 0 || bytes > kDibMaxBytes)
        return nullptr;
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size_t(bytes)]);
    if (copy && !DibMemMakeUpright(lock.data(), lock.size(), copy.get(), size_t(bytes)))
        copy.reset();
    return copy;
}

Drawable DrawableOf(HGLOBAL dib, const LockedDib& lock)
{
    Drawable drawable;
    // DrawDib trusts the header; a DIB that lies about its size is not drawn at all.
    if (!DibIsSafe(lock.data(), lock.size()))
        return drawable;
    if (DibMemDrawsAsIs(lock.data(), lock.size())) {
        drawable.bytes = lock.data();
    } else if (dib != currentDib) {
        drawable.own = UprightCopy(lock);
        drawable.bytes = drawable.own.get();
    } else {
        if (kept.of != dib)
            kept = KeptCopy{dib, UprightCopy(lock)};
        drawable.bytes = kept.bytes.get();
    }
    return drawable;
}

void Draw(HDC dc, const RECT& to, const BITMAPINFOHEADER* header, const void* bits, POINT from, SIZE fromSize)
{
    HDRAWDIB drawDib = DrawDibOpen();
    if (!drawDib)
        return;
    DrawDibDraw(drawDib, dc, to.left, to.top, to.right - to.left, to.bottom - to.top,
                const_cast<BITMAPINFOHEADER*>(header), const_cast<void*>(bits), from.x, from.y, fromSize.cx,
                fromSize.cy, 0);
    DrawDibClose(drawDib);
}

// Rows [from.y, from.y + size.cy) from the picture's top of a drawable uncompressed DIB, as
// a DIB of their own (its header and colour table, then the rows where they lie), their
// columns [from.x, from.x + size.cx) drawn into `to`.
void DrawRows(HDC dc, const uint8_t* dib, const RECT& to, POINT from, SIZE size)
{
    DibLayout layout = DibReadLayout(dib);
    const uint64_t bitsAt = DibBitsOffset(layout), stride = uint64_t(RowBytes(layout.bitCount, layout.width));
    std::vector<uint8_t> head(dib, dib + bitsAt);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(head.data());
    header->biHeight = size.cy;
    header->biSizeImage = DWORD(stride * uint64_t(size.cy));
    // Bottom-up: the lowest of the rows comes first.
    const uint8_t* bits = dib + bitsAt + uint64_t(layout.height - from.y - size.cy) * stride;
    if (to.right - to.left == size.cx && to.bottom - to.top == size.cy && layout.bitCount > 8) {
        // Pixel for pixel GDI copies the rows itself: DrawDib would prepare a stretch first,
        // which a repaint of the whole window pays several times over. Pages of a colour
        // table stay with DrawDib: under Wine a page of them copied this way reached the
        // screen only with the next paint.
        SetDIBitsToDevice(dc, to.left, to.top, DWORD(size.cx), DWORD(size.cy), from.x, 0, 0, UINT(size.cy), bits,
                          reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
        return;
    }
    Draw(dc, to, header, bits, POINT{from.x, 0}, size);
}

// The page's copy at the size it is drawn, made in bands on the cores there are: the first
// paint of a page at Fit Page waits for it.
struct ScaledCopy {
    HGLOBAL of = nullptr;
    int width = 0, height = 0;
    std::unique_ptr<uint8_t[]> bytes;
};
ScaledCopy scaled;

std::unique_ptr<uint8_t[]> MakeScaled(const LockedDib& lock, int width, int height)
{
    WaitCursor wait;
    const uint64_t bytes = DibMemScaledBytes(lock.data(), lock.size(), width, height);
    if (bytes == 0 || bytes > kDibMaxBytes)
        return nullptr;
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size_t(bytes)]);
    if (!copy)
        return nullptr;
    const int bands = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    const int rows = (height + bands - 1) / bands;
    std::atomic<bool> made{true};
    auto band = [&](int first) {
        if (first < height && !DibMemScale(lock.data(), lock.size(), width, height, copy.get(), size_t(bytes), first, rows))
            made = false;
    };
    std::vector<std::thread> threads;
    try {
        for (int b = 1; b < bands; ++b)
            threads.emplace_back(band, b * rows);
    } catch (const std::system_error&) {
        // The bands no thread took are made here.
        for (int b = int(threads.size()) + 1; b < bands; ++b)
            band(b * rows);
    }
    band(0);
    for (std::thread& thread : threads)
        thread.join();
    if (!made)
        copy.reset();
    return copy;
}

const uint8_t* ScaledDrawable(const LockedDib& lock, const ViewGeometry& g)
{
    if (scaled.of != currentDib || scaled.width != g.width || scaled.height != g.height)
        scaled = ScaledCopy{currentDib, g.width, g.height, MakeScaled(lock, g.width, g.height)};
    return scaled.bytes.get();
}

// A page drawn larger than it is: the part of it the area shows, stretched, its pixels as
// blocks.
void DrawEnlarged(HDC dc, const uint8_t* dib, const RECT& image, const RECT& part, double scale)
{
    DibLayout layout = DibReadLayout(dib);
    const int x0 = int(std::floor((part.left - image.left) / scale)),
              y0 = int(std::floor((part.top - image.top) / scale));
    const int x1 = std::min(layout.width, int(std::ceil((part.right - image.left) / scale))),
              y1 = std::min(layout.height, int(std::ceil((part.bottom - image.top) / scale)));
    const RECT to = {image.left + int(std::lround(x0 * scale)), image.top + int(std::lround(y0 * scale)),
                     image.left + int(std::lround(x1 * scale)), image.top + int(std::lround(y1 * scale))};
    DrawRows(dc, dib, to, POINT{x0, y0}, SIZE{x1 - x0, y1 - y0});
}
}  // namespace

void ForgetDrawnCopy()
{
    kept = KeptCopy{};
    ForgetScaledCopy();
}

void ForgetScaledCopy()
{
    scaled = ScaledCopy{};
}

void DrawDibImage(HGLOBAL dib, HDC dc, int xDst, int yDst, int widthDst, int heightDst, int xSrc, int ySrc)
{
    LockedDib lock(dib);
    Drawable drawable = DrawableOf(dib, lock);
    if (!drawable.bytes)
        return;
    auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(drawable.bytes);
    Draw(dc, RECT{xDst, yDst, xDst + widthDst, yDst + heightDst}, header, DibBits(header), POINT{xSrc, ySrc},
         SIZE{header->biWidth, header->biHeight});
}

void DrawViewArea(HWND window, HDC dc, const RECT& area)
{
    const ViewGeometry g = CurrentViewGeometry(window);
    const RECT image = {g.left - viewScrollX, g.top - viewScrollY, g.left - viewScrollX + g.width,
                        g.top - viewScrollY + g.height};
    // What lies around a page smaller than the window is black, whatever was drawn there
    // at another size.
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const RECT margins[] = {{area.left, area.top, area.right, image.top},
                            {area.left, image.bottom, area.right, area.bottom},
                            {area.left, image.top, image.left, image.bottom},
                            {image.right, image.top, area.right, image.bottom}};
    for (const RECT& margin : margins)
        if (margin.left < margin.right && margin.top < margin.bottom)
            FillRect(dc, &margin, black);
    RECT part;
    if (!IntersectRect(&part, &area, &image))
        return;
    LockedDib lock(currentDib);
    if (g.scale < 1.0) {
        if (const uint8_t* copy = ScaledDrawable(lock, g)) {
            DrawRows(dc, copy, part, POINT{part.left - image.left, part.top - image.top},
                     SIZE{part.right - part.left, part.bottom - part.top});
            return;
        }
    }
    Drawable drawable = DrawableOf(currentDib, lock);
    if (!drawable.bytes)
        return;
    DibLayout layout = DibReadLayout(drawable.bytes);
    if (layout.compression != kBiRgb || g.scale < 1.0) {
        // Run-length rows cannot be picked out (nor reduced): the page is drawn whole at its
        // size, clipped to the area.
        auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(drawable.bytes);
        Draw(dc, image, header, DibBits(header), POINT{0, 0}, SIZE{layout.width, layout.height});
    } else if (g.scale > 1.0) {
        DrawEnlarged(dc, drawable.bytes, image, part, g.scale);
    } else {
        DrawRows(dc, drawable.bytes, part, POINT{part.left - image.left, part.top - image.top},
                 SIZE{part.right - part.left, part.bottom - part.top});
    }
}
