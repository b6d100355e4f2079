// Colour-table and pixel-row operations over a packed DIB given by pointer and size.
#include "dib/dib_bytes.h"
#include "dib/dib_pixels.h"
#include "dib/dib_simd.h"

#include <algorithm>
#include <cstring>

namespace {
struct Geometry {
    DibLayout layout;
    uint64_t bits;    // offset of the pixel rows
    int64_t stride;   // RowBytes
    int64_t rows;     // |height|
};

bool ColorTableOf(const uint8_t* dib, size_t size, DibLayout* layout)
{
    if (!DibIsSafe(dib, size))
        return false;
    *layout = DibReadLayout(dib);
    return true;
}

// Only uncompressed rows can be addressed; DibIsSafe has made sure they all fit.
bool RowsOf(const uint8_t* dib, size_t size, Geometry* g)
{
    if (!ColorTableOf(dib, size, &g->layout))
        return false;
    if (g->layout.compression != kBiRgb && g->layout.compression != kBiBitfields)
        return false;
    g->bits = DibBitsOffset(g->layout);
    g->stride = RowBytes(g->layout.bitCount, g->layout.width);
    g->rows = g->layout.height < 0 ? -int64_t(g->layout.height) : g->layout.height;
    return true;
}

int64_t RowOffset(const Geometry& g, int row)
{
    if (row < 0 || row >= g.rows)
        return -1;
    int64_t stored = g.layout.height > 0 ? g.rows - 1 - row : row;
    return int64_t(g.bits) + stored * g.stride;
}

void WriteEntry(uint8_t* dib, const DibLayout& layout, uint32_t index, uint8_t red,
                uint8_t green, uint8_t blue)
{
    uint8_t* entry = dib + layout.headerSize + uint64_t(index) * layout.entryBytes;
    entry[0] = blue;
    entry[1] = green;
    entry[2] = red;
    if (layout.entryBytes == 4)
        entry[3] = 0;
}

// Copies one row piece, clipped to the row: byteOffset and count in bytes.
void StorePiece(uint8_t* row, int64_t stride, int64_t byteOffset, int64_t count,
                const uint8_t* src)
{
    if (byteOffset < 0 || byteOffset >= stride || count <= 0)
        return;
    std::memcpy(row + byteOffset, src, size_t(std::min(count, stride - byteOffset)));
}

// Red and blue of the pixels from p to end, one by one.
inline void SwapEach(uint8_t* p, const uint8_t* end)
{
    for (; p != end; p += 3)
        std::swap(p[0], p[2]);
}

inline void CopyEach(uint8_t* to, const uint8_t* from, ptrdiff_t pixels)
{
    for (const uint8_t* end = from + 3 * pixels; from != end; from += 3, to += 3) {
        const uint8_t red = from[0], green = from[1], blue = from[2];
        to[0] = blue, to[1] = green, to[2] = red;
    }
}

// The swap walks rows with pointers: on a 32-bit x86, 64-bit counters would take two of
// its eight registers each and live on the stack.
void SwapRows(uint8_t* rows, ptrdiff_t stride, ptrdiff_t count, ptrdiff_t pixels)
{
    for (uint8_t *row = rows, *end = rows + count * stride; row != end; row += stride)
        SwapEach(row, row + 3 * pixels);
}

#ifdef DIB_SIMD
// Swaps rows of `pixels` 3-byte pixels five at a time, the rest one by one. Each 16-byte
// load holds five pixels and the first byte of the sixth, which goes back as it was and
// is swapped by the next step; that step's bytes are loaded before this one is stored, so
// a load never waits on a store it half overlaps. One call for all rows: the stack is
// realigned once, not per row.
DIB_SSSE3 void SwapRowsFives(uint8_t* rows, ptrdiff_t stride, ptrdiff_t count, ptrdiff_t pixels)
{
    if (pixels < 6)
        return SwapRows(rows, stride, count, pixels);
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    // Steps whose next step's 16 bytes still lie inside the row's pixels.
    const ptrdiff_t steps = (pixels - 6) / 5;
    for (uint8_t *row = rows, *end = rows + count * stride; row != end; row += stride) {
        uint8_t* p = row;
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        for (uint8_t* last = row + 15 * steps; p != last; p += 15) {
            __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 15));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(v, order));
            v = next;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(v, order));
        SwapEach(p + 15, row + 3 * pixels);
    }
}

// The copying swap, five pixels a step as above. A step's 16th byte is the next pixel's
// first, copied as it is; the next step, or the last pixels one by one, write it right.
DIB_SSSE3 void CopyFives(uint8_t* to, const uint8_t* from, ptrdiff_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    // Steps whose 16 bytes lie inside the pixels; at least one pixel is left behind them.
    const ptrdiff_t steps = (pixels - 6) / 5 + 1;
    for (const uint8_t* last = from + 15 * steps; from != last; from += 15, to += 15) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(v, order));
    }
    CopyEach(to, from, pixels - 5 * steps);
}
#endif
}  // namespace

bool DibMemSetColor(uint8_t* dib, size_t size, int index, uint8_t red, uint8_t green,
                    uint8_t blue)
{
    DibLayout layout;
    if (!ColorTableOf(dib, size, &layout) || index < 0 || uint32_t(index) >= layout.colorCount)
        return false;
    WriteEntry(dib, layout, uint32_t(index), red, green, blue);
    return true;
}

bool DibMemFillGrayRamp(uint8_t* dib, size_t size)
{
    DibLayout layout;
    if (!ColorTableOf(dib, size, &layout))
        return false;
    uint64_t n = layout.colorCount;
    for (uint64_t i = 0; i < n; ++i) {
        auto level = uint8_t(n < 2 ? 0 : i * 255 / (n - 1));
        WriteEntry(dib, layout, uint32_t(i), level, level, level);
    }
    return true;
}

int64_t DibMemRowOffset(const uint8_t* dib, size_t size, int row)
{
    Geometry g;
    return RowsOf(dib, size, &g) ? RowOffset(g, row) : -1;
}

bool DibMemReadRow(const uint8_t* dib, size_t size, int row, uint8_t* dest)
{
    Geometry g;
    int64_t at = RowsOf(dib, size, &g) ? RowOffset(g, row) : -1;
    if (at < 0)
        return false;
    std::memcpy(dest, dib + at, size_t(g.stride));
    return true;
}

bool DibMemWriteRow(uint8_t* dib, size_t size, int row, const uint8_t* src)
{
    Geometry g;
    int64_t at = RowsOf(dib, size, &g) ? RowOffset(g, row) : -1;
    if (at < 0)
        return false;
    std::memcpy(dib + at, src, size_t(g.stride));
    return true;
}

bool DibMemWriteRowChannel(uint8_t* dib, size_t size, int row, const uint8_t* src, int channel)
{
    Geometry g;
    int64_t at = RowsOf(dib, size, &g) ? RowOffset(g, row) : -1;
    if (at < 0)
        return false;
    if (g.layout.bitCount != 24) {
        std::memcpy(dib + at, src, size_t(g.stride));
        return true;
    }
    if (channel < 0 || channel > 2)
        return false;
    uint8_t* out = dib + at + (2 - channel);
    for (int32_t x = 0; x < g.layout.width; ++x)
        out[3 * x] = src[x];
    return true;
}

bool DibMemReadRowRGB(const uint8_t* dib, size_t size, int row, uint8_t* dest)
{
    if (!DibHeaderReadable(dib, size))
        return false;
    int bits = DibReadLayout(dib).bitCount;
    DibPixels pixels;
    if ((bits != 1 && bits != 4 && bits != 8 && bits != 24) || !DibReadPixels(dib, size, pixels) || row < 0 ||
        row >= pixels.frame.rows)
        return false;
    DibPixelsRGB(pixels, row, dest);
    return true;
}

bool DibMemStoreRows(uint8_t* dib, size_t size, int x, int y, int width, int rows,
                     const uint8_t* src, int srcStride)
{
    Geometry g;
    if (!RowsOf(dib, size, &g))
        return false;
    int64_t byteOffset = int64_t(g.layout.bitCount) * x / 8;
    int64_t count = (int64_t(g.layout.bitCount) * width + 7) / 8;
    for (int i = 0; i < rows; ++i) {
        int64_t at = RowOffset(g, int(std::clamp<int64_t>(int64_t(y) + i, -1, g.rows)));
        if (at >= 0)
            StorePiece(dib + at, g.stride, byteOffset, count, src + ptrdiff_t(i) * srcStride);
    }
    return true;
}

bool DibMemStorePlane(uint8_t* dib, size_t size, int channel, int x, int y, int width,
                      int rows, const uint8_t* src, int srcStride)
{
    Geometry g;
    if (!RowsOf(dib, size, &g))
        return false;
    if (g.layout.bitCount < 24)
        return DibMemStoreRows(dib, size, x, y, width, rows, src, srcStride);
    if (channel < 0 || channel > 2)
        return false;
    int64_t start = int64_t(g.layout.bitCount) * x / 8 + 2 - channel;
    for (int i = 0; i < rows; ++i) {
        int64_t at = RowOffset(g, int(std::clamp<int64_t>(int64_t(y) + i, -1, g.rows)));
        if (at < 0)
            continue;
        const uint8_t* in = src + ptrdiff_t(i) * srcStride;
        for (int64_t j = 0; j < width; ++j) {
            int64_t pos = start + 3 * j;
            if (pos >= g.stride)
                break;
            if (pos >= 0)
                dib[at + pos] = in[j];
        }
    }
    return true;
}

bool DibMemSwapRedBlue(uint8_t* dib, size_t size)
{
    Geometry g;
    if (!RowsOf(dib, size, &g))
        return false;
    // Meant for 24-bit rows; a shallower DIB must not be swapped past its row ends.
    const ptrdiff_t pixels = ptrdiff_t(std::min<int64_t>(g.layout.width, g.stride / 3));
    uint8_t* rows = dib + g.bits;
#ifdef DIB_SIMD
    if (DibHasSsse3()) {
        SwapRowsFives(rows, ptrdiff_t(g.stride), ptrdiff_t(g.rows), pixels);
        return true;
    }
#endif
    SwapRows(rows, ptrdiff_t(g.stride), ptrdiff_t(g.rows), pixels);
    return true;
}

void DibCopyRedBlueSwapped(uint8_t* to, const uint8_t* from, size_t pixels)
{
#ifdef DIB_SIMD
    if (pixels >= 6 && DibHasSsse3())
        return CopyFives(to, from, ptrdiff_t(pixels));
#endif
    CopyEach(to, from, ptrdiff_t(pixels));
}
