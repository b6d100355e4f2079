// Drawing the current image with DrawDib: the upright copy a DIB that DrawDib cannot draw
// as it is gets, kept while that image is shown, and the part of the page a paint needs
// at actual size. A scroll step uncovers a strip: DrawDib copies every row it is handed
// before it draws, so it is handed the strip's rows, never the page's.
#include "app/view.h"

#include "dib/dib.h"
#include "dib/dib_lock.h"

#include <vfw.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {
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

// Rows top to top + rows - 1 (from the picture's top) of a drawable uncompressed DIB, as
// a DIB of their own: its header and colour table, then the rows where they lie.
void DrawRows(HDC dc, const uint8_t* dib, const RECT& to, int x, int top)
{
    DibLayout layout = DibReadLayout(dib);
    const int rows = to.bottom - to.top;
    const uint64_t bitsAt = DibBitsOffset(layout), stride = uint64_t(RowBytes(layout.bitCount, layout.width));
    std::vector<uint8_t> head(dib, dib + bitsAt);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(head.data());
    header->biHeight = rows;
    header->biSizeImage = DWORD(stride * uint64_t(rows));
    // Bottom-up: the lowest of the rows comes first.
    const uint8_t* bits = dib + bitsAt + uint64_t(layout.height - top - rows) * stride;
    Draw(dc, to, header, bits, POINT{x, 0}, SIZE{to.right - to.left, rows});
}
}  // namespace

void ForgetDrawnCopy()
{
    kept = KeptCopy{};
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

void DrawViewArea(HDC dc, const RECT& area)
{
    LockedDib lock(currentDib);
    Drawable drawable = DrawableOf(currentDib, lock);
    if (!drawable.bytes)
        return;
    DibLayout layout = DibReadLayout(drawable.bytes);
    const RECT image = {-viewScrollX, -viewScrollY, layout.width - viewScrollX, layout.height - viewScrollY};
    RECT part;
    if (!IntersectRect(&part, &area, &image))
        return;
    if (layout.compression != kBiRgb) {
        // Run-length rows cannot be picked out: the page is drawn whole, clipped to the area.
        auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(drawable.bytes);
        Draw(dc, image, header, DibBits(header), POINT{0, 0}, SIZE{layout.width, layout.height});
        return;
    }
    DrawRows(dc, drawable.bytes, part, part.left + viewScrollX, part.top + viewScrollY);
}
