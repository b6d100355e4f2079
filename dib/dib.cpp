#include "dib/dib.h"

#include "dib/dib_lock.h"

#include <cstddef>
#include <cstdint>

static_assert(sizeof(BITMAPINFOHEADER) == kInfoHeaderBytes);
static_assert(sizeof(BITMAPCOREHEADER) == kCoreHeaderBytes);
static_assert(sizeof(RGBQUAD) == 4 && sizeof(RGBTRIPLE) == 3);
static_assert(offsetof(BITMAPINFOHEADER, biWidth) == dibfield::kWidth);
static_assert(offsetof(BITMAPINFOHEADER, biHeight) == dibfield::kHeight);
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == dibfield::kPlanes);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == dibfield::kBitCount);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == dibfield::kCompression);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == dibfield::kSizeImage);
static_assert(offsetof(BITMAPINFOHEADER, biXPelsPerMeter) == dibfield::kXPelsPerMeter);
static_assert(offsetof(BITMAPINFOHEADER, biYPelsPerMeter) == dibfield::kYPelsPerMeter);
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == dibfield::kClrUsed);
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == dibfield::kClrImportant);
static_assert(offsetof(BITMAPCOREHEADER, bcWidth) == dibfield::kCoreWidth);
static_assert(offsetof(BITMAPCOREHEADER, bcHeight) == dibfield::kCoreHeight);
static_assert(offsetof(BITMAPCOREHEADER, bcBitCount) == dibfield::kCoreBitCount);


HGLOBAL DibCreate(int bitCount, int width, int height)
{
    int depth = DibNormalizeDepth(bitCount);
    int64_t bytes = DibCreateBytes(depth, width, height);
    if (bytes < 0)
        return nullptr;
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(bytes));
    if (!dib)
        return nullptr;
    LockedDib locked(dib);
    if (!locked.data()) {
        GlobalFree(dib);
        return nullptr;
    }
    DibMemInit(locked.data(), depth, width, height);
    return dib;
}

void DibFree(HGLOBAL dib)
{
    GlobalFree(dib);
}

BITMAPINFOHEADER* DibLock(HGLOBAL dib)
{
    return static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
}

void DibUnlock(HGLOBAL dib)
{
    GlobalUnlock(dib);
}

bool DibHandleIsSafe(HGLOBAL dib)
{
    LockedDib locked(dib);
    return DibIsSafe(locked.data(), locked.size());
}

RGBQUAD* DibColorTable(const BITMAPINFOHEADER* header)
{
    auto* base = reinterpret_cast<BYTE*>(const_cast<BITMAPINFOHEADER*>(header));
    return reinterpret_cast<RGBQUAD*>(base + header->biSize);
}

BYTE* DibBits(const BITMAPINFOHEADER* header)
{
    auto* base = reinterpret_cast<BYTE*>(const_cast<BITMAPINFOHEADER*>(header));
    return base + DibBitsOffset(DibReadLayout(header));
}

BYTE* DibRowPointer(const BITMAPINFOHEADER* header, int row)
{
    DibLayout layout = DibReadLayout(header);
    int rows = layout.height < 0 ? -layout.height : layout.height;
    int stored = layout.height > 0 ? rows - 1 - row : row;
    return DibBits(header) + ptrdiff_t(stored) * RowBytes(layout.bitCount, layout.width);
}

RGBQUAD DibColorAt(const BITMAPINFOHEADER* header, int index)
{
    DibLayout layout = DibReadLayout(header);
    const BYTE* entry = reinterpret_cast<const BYTE*>(header) + layout.headerSize +
                        ptrdiff_t(index) * layout.entryBytes;
    return RGBQUAD{entry[0], entry[1], entry[2], 0};
}
