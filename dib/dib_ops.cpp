// Header queries and row operations on a DIB handle: each locks the block, works on
// its bytes through the byte-level operations and unlocks it.
#include "dib/dib.h"

#include "dib/dib_lock.h"

#include <cmath>
#include <cstdlib>

namespace {
// dpi x 39.37007874015748 + 0.5 in extended precision, truncated toward zero; values
// beyond the 32-bit range saturate instead of being undefined.
LONG PelsPerMeter(double dpi)
{
    long double pels = static_cast<long double>(dpi) * 39.37007874015748L + 0.5L;
    if (std::isnan(pels))
        return 0;
    if (pels >= 2147483647.0L)
        return INT32_MAX;
    if (pels <= -2147483648.0L)
        return INT32_MIN;
    return static_cast<LONG>(pels);
}

// Size of the block behind a locked header address; a header that is no global
// block's is taken at its word.
size_t BlockSize(const BITMAPINFOHEADER* header)
{
    HGLOBAL block = GlobalHandle(header);
    SIZE_T size = block ? GlobalSize(block) : 0;
    if (size != 0)
        return size;
    DibLayout layout = DibReadLayout(header);
    return size_t(DibBitsOffset(layout) + DibImageBytes(layout));
}

uint8_t* Bytes(BITMAPINFOHEADER* header)
{
    return reinterpret_cast<uint8_t*>(header);
}
}  // namespace

int DibBitCount(HGLOBAL dib)
{
    return LockedDib(dib).layout().bitCount;
}

int DibColorCount(HGLOBAL dib)
{
    return int(LockedDib(dib).layout().colorCount);
}

int DibWidth(HGLOBAL dib)
{
    return std::abs(LockedDib(dib).layout().width);
}

int DibHeight(HGLOBAL dib)
{
    return std::abs(LockedDib(dib).layout().height);
}

int DibRowBytes(HGLOBAL dib)
{
    DibLayout layout = LockedDib(dib).layout();
    return RowBytes(layout.bitCount, layout.width);
}

double DibXResolution(HGLOBAL dib)
{
    LockedDib locked(dib);
    return locked.info() ? locked.info()->biXPelsPerMeter * 0.0254 : 0.0;
}

double DibYResolution(HGLOBAL dib)
{
    LockedDib locked(dib);
    return locked.info() ? locked.info()->biYPelsPerMeter * 0.0254 : 0.0;
}

void DibSetResolution(HGLOBAL dib, double xDpi, double yDpi)
{
    LockedDib locked(dib);
    if (BITMAPINFOHEADER* info = locked.info()) {
        info->biXPelsPerMeter = PelsPerMeter(xDpi);
        info->biYPelsPerMeter = PelsPerMeter(yDpi);
    }
}

void DibSetColorCount(HGLOBAL dib, int count)
{
    LockedDib locked(dib);
    if (BITMAPINFOHEADER* info = locked.info())
        info->biClrUsed = DWORD(count);
}

void DibSetColor(HGLOBAL dib, int index, BYTE red, BYTE green, BYTE blue)
{
    LockedDib locked(dib);
    DibMemSetColor(locked.data(), locked.size(), index, red, green, blue);
}

void DibFillGrayRamp(HGLOBAL dib)
{
    LockedDib locked(dib);
    DibMemFillGrayRamp(locked.data(), locked.size());
}

void DibReadRow(HGLOBAL dib, int row, void* dest)
{
    LockedDib locked(dib);
    DibMemReadRow(locked.data(), locked.size(), row, static_cast<uint8_t*>(dest));
}

void DibWriteRow(HGLOBAL dib, int row, const void* src)
{
    LockedDib locked(dib);
    DibMemWriteRow(locked.data(), locked.size(), row, static_cast<const uint8_t*>(src));
}

void DibWriteRowChannel(HGLOBAL dib, int row, const void* src, int channel)
{
    LockedDib locked(dib);
    DibMemWriteRowChannel(locked.data(), locked.size(), row, static_cast<const uint8_t*>(src),
                          channel);
}

void DibReadRowRGB(HGLOBAL dib, int row, void* dest)
{
    LockedDib locked(dib);
    DibMemReadRowRGB(locked.data(), locked.size(), row, static_cast<uint8_t*>(dest));
}

void DibStoreRows(BITMAPINFOHEADER* header, int x, int y, int width, int rows, const void* src,
                  int srcStride)
{
    DibMemStoreRows(Bytes(header), BlockSize(header), x, y, width, rows,
                    static_cast<const uint8_t*>(src), srcStride);
}

void DibStorePlane(BITMAPINFOHEADER* header, int channel, int x, int y, int width, int rows,
                   const void* src, int srcStride)
{
    DibMemStorePlane(Bytes(header), BlockSize(header), channel, x, y, width, rows,
                     static_cast<const uint8_t*>(src), srcStride);
}

void DibSwapRedBlue(BITMAPINFOHEADER* header)
{
    DibMemSwapRedBlue(Bytes(header), BlockSize(header));
}
