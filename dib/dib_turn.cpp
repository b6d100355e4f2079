// Quarter and half turns of a packed DIB: a page fed the wrong way round, or a landscape
// form, is turned before it is kept.
#include "dib/dib_turn.h"

#include "base/little_endian.h"
#include "dib/dib_pixels.h"
#include "dib/dib_simd.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
// A quarter turn fills the turned picture block by block: kBlockColumns of its columns
// (source rows) by kBlockRows of its rows (source columns), so that the source and turned
// bytes of a block stay in the caches while its columns are walked. Measured on an A4
// page at 300 dpi; squarer or larger blocks were slower.
constexpr ptrdiff_t kBlockColumns = 64;
constexpr ptrdiff_t kBlockRows = 256;

bool Quarter(DibTurn turn)
{
    return turn != DibTurn::kHalf;
}

using Frame = DibFrame;

Frame TurnedFrame(const Frame& in, DibTurn turn)
{
    return Quarter(turn) ? DibResizedFrame(in, in.rows, in.width) : in;
}

// Header fields of the turned copy, written over a copy of the original header: the
// geometry, and a quarter turn swaps the resolutions.
void PatchHeader(uint8_t* header, size_t headerBytes, const Frame& in, const Frame& out, DibTurn turn)
{
    DibPatchGeometry(header, headerBytes, in, out);
    if (in.layout.headerSize != kCoreHeaderBytes && Quarter(turn)) {
        uint32_t x = LoadLE32(header + dibfield::kXPelsPerMeter);
        StoreLE32(header + dibfield::kXPelsPerMeter, LoadLE32(header + dibfield::kYPelsPerMeter));
        StoreLE32(header + dibfield::kYPelsPerMeter, x);
    }
}

// Both frames, and the copy's size, when the DIB can be turned into a DIB that every
// operation accepts in turn.
bool Plan(const uint8_t* dib, size_t size, DibTurn turn, Frame& in, Frame& out, uint64_t& bytes)
{
    if (!DibReadFrame(dib, size, in))
        return false;
    out = TurnedFrame(in, turn);
    bytes = uint64_t(size) - in.image + out.image;
    // The pixel loops walk both blocks with pointer-sized offsets.
    if (bytes > uint64_t(PTRDIFF_MAX) || size > size_t(PTRDIFF_MAX))
        return false;
    uint8_t header[kInfoHeaderBytes];
    size_t headerBytes = in.layout.headerSize == kCoreHeaderBytes ? kCoreHeaderBytes : kInfoHeaderBytes;
    std::memcpy(header, dib, headerBytes);
    PatchHeader(header, headerBytes, in, out, turn);
    return DibHeaderIsSafe(header, size_t(bytes));
}

// The picture's rows: row 0 is the top row whatever the storage order. From here on
// offsets are pointer-sized (Plan has made sure the blocks' offsets fit): on a 32-bit x86
// a 64-bit index takes two of its eight registers and its divisions call the library.
struct Lines {
    uint8_t* top;
    ptrdiff_t step;  // from one picture row to the next
    uint8_t* Row(ptrdiff_t r) const { return top + r * step; }
};

Lines LinesOf(uint8_t* block, const Frame& f)
{
    uint8_t* bits = block + ptrdiff_t(f.bits);
    if (f.layout.height > 0)
        return Lines{bits + ptrdiff_t(f.rows - 1) * ptrdiff_t(f.stride), -ptrdiff_t(f.stride)};
    return Lines{bits, ptrdiff_t(f.stride)};
}

// The source pixel that lands at (x, y) of the turned picture.
struct Point {
    ptrdiff_t x, y;
};
Point SourceOf(DibTurn turn, const Frame& in, ptrdiff_t x, ptrdiff_t y)
{
    if (turn == DibTurn::kClockwise)
        return Point{y, ptrdiff_t(in.rows) - 1 - x};
    if (turn == DibTurn::kCounterClockwise)
        return Point{ptrdiff_t(in.width) - 1 - y, x};
    return Point{ptrdiff_t(in.width) - 1 - x, ptrdiff_t(in.rows) - 1 - y};
}

// A run of pixels along a row of the turned picture. A pixel of 3 or 6 bytes moves as 4 or
// 8, spilling into the next pixel, which the next move writes over: half the moves of
// smaller pieces. The extra bytes are read only where the source pixel has a neighbour on
// its right (wide), so they lie inside its row.
template <int B>
void MoveRun(uint8_t* d, const uint8_t* s, ptrdiff_t count, ptrdiff_t step, bool wide)
{
    constexpr int kWide = B == 3 ? 4 : B == 6 ? 8 : B;
    uint8_t* const end = d + count * B;
    if (kWide != B && wide) {
        for (uint8_t piece[kWide]; d + B < end; d += B, s += step) {
            std::memcpy(piece, s, kWide);
            std::memcpy(d, piece, kWide);
        }
    }
    for (; d < end; d += B, s += step)
        std::memcpy(d, s, B);
}

// The half turn reads its source rows straight through, backwards. It starts from each
// row's last pixel, the one without a neighbour on its right; the rest can move wide.
template <int B>
void TurnHalf(const Lines& src, const Lines& dst, const Frame& in)
{
    const ptrdiff_t rows = ptrdiff_t(in.rows), width = ptrdiff_t(in.width);
    for (ptrdiff_t y = 0; y < rows; ++y) {
        const uint8_t* s = src.Row(rows - 1 - y) + (width - 1) * B;
        std::memcpy(dst.Row(y), s, B);
        MoveRun<B>(dst.Row(y) + B, s - B, width - 1, -B, true);
    }
}

// A quarter turn as a walk over the source: the pixel that lands at (x, y) of the turned
// picture lies at origin + x * along + y * across.
struct Walk {
    const uint8_t* origin;
    ptrdiff_t along;   // a source row up or down
    ptrdiff_t across;  // a source pixel right or left
    const uint8_t* At(ptrdiff_t x, ptrdiff_t y) const { return origin + x * along + y * across; }
};

template <int B>
Walk WalkOf(const Lines& src, const Frame& in, DibTurn turn)
{
    if (turn == DibTurn::kClockwise)
        return Walk{src.Row(ptrdiff_t(in.rows) - 1), -src.step, B};
    return Walk{src.Row(0) + ptrdiff_t(in.width - 1) * B, src.step, -B};
}

// Turned rows [y0, y1) of a block, columns [x0, x1), pixel by pixel.
template <int B>
void MoveRows(const Walk& w, const Lines& dst, const Frame& in, ptrdiff_t x0, ptrdiff_t x1, ptrdiff_t y0,
              ptrdiff_t y1)
{
    const ptrdiff_t width = ptrdiff_t(in.width);
    for (ptrdiff_t y = y0; y < y1; ++y) {
        // Turned row y is source column y turning clockwise, width - 1 - y the other way.
        const bool wide = w.across > 0 ? y + 1 < width : y > 0;
        MoveRun<B>(dst.Row(y) + x0 * B, w.At(x0, y), x1 - x0, w.along, wide);
    }
}

// Turned rows [from, to).
struct Range {
    ptrdiff_t from, to;
};

#ifdef DIB_SIMD
// 4 x 4 pixels of 3 or 4 bytes turned in registers: four loads and a few shuffles move
// what took sixteen loads and stores. Pixels of 3 bytes are widened to 4 and narrowed again.
template <int B>
DIB_SSSE3_INLINE __m128i Load(const uint8_t* s)
{
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    if constexpr (B == 3)
        return _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    return v;
}

// Stores 4 pixels. Of 3 bytes, a store that may run on (over) writes 16 bytes, which the
// next tile's store puts right; the last one of a run writes exactly 12: a row's last
// pixels have no bytes of their own behind them.
template <int B, bool kMayRunOn>
DIB_SSSE3_INLINE void Store(uint8_t* d, __m128i v)
{
    if constexpr (B == 3) {
        v = _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
        if constexpr (kMayRunOn) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d), v);
            int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
            std::memcpy(d + 8, &last, 4);
        }
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
    }
}

// One tile: four source rows `along` apart from s, four pixels each, the lowest source
// column first; that column lands at d, the next ones `next` further each.
template <int B, bool kMayRunOn>
DIB_SSSE3_INLINE void Tile(const uint8_t* s, ptrdiff_t along, uint8_t* d, ptrdiff_t next)
{
    const uint8_t* s2 = s + 2 * along;
    __m128i a = Load<B>(s), b = Load<B>(s + along), c = Load<B>(s2), e = Load<B>(s2 + along);
    __m128i ab0 = _mm_unpacklo_epi32(a, b), ab1 = _mm_unpackhi_epi32(a, b);
    __m128i ce0 = _mm_unpacklo_epi32(c, e), ce1 = _mm_unpackhi_epi32(c, e);
    uint8_t* d2 = d + 2 * next;
    Store<B, kMayRunOn>(d, _mm_unpacklo_epi64(ab0, ce0));
    Store<B, kMayRunOn>(d + next, _mm_unpackhi_epi64(ab0, ce0));
    Store<B, kMayRunOn>(d2, _mm_unpacklo_epi64(ab1, ce1));
    Store<B, kMayRunOn>(d2 + next, _mm_unpackhi_epi64(ab1, ce1));
}

// A band of four turned rows, `tiles` tiles long (at least one), from s to d.
template <int B>
DIB_SSSE3 void TurnTiles(const uint8_t* s, ptrdiff_t along, uint8_t* d, ptrdiff_t next, ptrdiff_t tiles)
{
    const ptrdiff_t sTile = 4 * along;
    for (uint8_t* last = d + (tiles - 1) * 4 * B; d != last; s += sTile, d += 4 * B)
        Tile<B, true>(s, along, d, next);
    Tile<B, false>(s, along, d, next);
}

// The turned rows whose bands of four can be turned in registers: a 16-byte load at the
// band's lowest source column must stay inside the source row. Clockwise those are the
// first bands, the other way the last ones.
template <int B>
Range TileBands(const Frame& in, const Frame& out, bool clockwise)
{
    const ptrdiff_t rows = ptrdiff_t(out.rows) & ~ptrdiff_t(3), stride = ptrdiff_t(in.stride);
    if (stride < 16 || !DibHasSsse3())
        return Range{0, 0};
    const ptrdiff_t lowest = (stride - 16) / B;  // the highest lowest column a load may start at
    if (clockwise)
        return Range{0, std::min(rows, (lowest / 4 + 1) * 4)};
    // Band y's lowest column is out.rows - 4 - y.
    const ptrdiff_t from = std::max<ptrdiff_t>(0, ptrdiff_t(out.rows) - 4 - lowest);
    return Range{(from + 3) & ~ptrdiff_t(3), rows};
}
#endif

// While a band of a block is written, the turned rows kRowsAhead further on are asked
// for, and a share of the next block's source rows: the first lie a whole turned row
// apart, the others a source row apart, further than the processor's own prefetching looks.
constexpr ptrdiff_t kRowsAhead = 8;

struct Block {
    ptrdiff_t x0, x1, y0, y1;
};

template <int B>
[[gnu::always_inline]] inline void Prefetch(const Walk& w, const Lines& dst, const Block& b, ptrdiff_t y, ptrdiff_t width)
{
    for (ptrdiff_t r = y + kRowsAhead; r < std::min(y + kRowsAhead + 4, b.y1); ++r)
        for (const uint8_t *at = dst.Row(r) + b.x0 * B, *end = dst.Row(r) + b.x1 * B + 64; at < end; at += 64)
            __builtin_prefetch(at, 1);
    const ptrdiff_t share = std::min(b.x1 + (b.x1 - b.x0), width) - b.x1, rows = b.y1 - b.y0;
    const ptrdiff_t from = b.x1 + (y - b.y0) * share / rows, to = b.x1 + std::min(y - b.y0 + 4, rows) * share / rows;
    for (ptrdiff_t x = from; x < to; ++x) {
        const uint8_t *p = w.At(x, b.y0), *q = w.At(x, b.y1 - 1);
        for (const uint8_t *at = std::min(p, q), *end = std::max(p, q) + B + 63; at < end; at += 64)
            __builtin_prefetch(at);
    }
}

// Quarter turns of pixels of whole bytes, block by block and band by band: bands of four
// turned rows in registers where the processor can, the rest pixel by pixel.
template <int B>
void TurnQuarter(const Lines& src, const Lines& dst, const Frame& in, const Frame& out, DibTurn turn)
{
    [[maybe_unused]] const bool clockwise = turn == DibTurn::kClockwise;
    const Walk w = WalkOf<B>(src, in, turn);
    const ptrdiff_t width = ptrdiff_t(out.width), rows = ptrdiff_t(out.rows);
    [[maybe_unused]] Range bands{0, 0};
#ifdef DIB_SIMD
    if constexpr (B == 3 || B == 4)
        bands = TileBands<B>(in, out, clockwise);
#endif
    for (ptrdiff_t ty = 0; ty < rows; ty += kBlockRows) {
        for (ptrdiff_t tx = 0; tx < width; tx += kBlockColumns) {
            const Block b{tx, std::min(tx + kBlockColumns, width), ty, std::min(ty + kBlockRows, rows)};
            const ptrdiff_t xTiles = std::max(tx, b.x1 & ~ptrdiff_t(3));
            for (ptrdiff_t y = ty; y < b.y1; y += 4) {
                const ptrdiff_t yEnd = std::min(y + 4, b.y1);
                Prefetch<B>(w, dst, b, y, width);
                ptrdiff_t x = tx;
#ifdef DIB_SIMD
                if constexpr (B == 3 || B == 4) {
                    if (y >= bands.from && yEnd <= bands.to && xTiles > tx) {
                        // A band's lowest source column, and its turned row, is its first
                        // turning clockwise and its last the other way.
                        const ptrdiff_t low = clockwise ? y : y + 3;
                        TurnTiles<B>(w.At(tx, low), w.along, dst.Row(low) + tx * B, clockwise ? dst.step : -dst.step,
                                     (xTiles - tx) / 4);
                        x = xTiles;
                    }
                }
#endif
                MoveRows<B>(w, dst, in, x, b.x1, y, yEnd);
            }
        }
    }
}

template <int B>
void TurnBytes(const Lines& src, const Lines& dst, const Frame& in, const Frame& out, DibTurn turn)
{
    if (turn == DibTurn::kHalf)
        return TurnHalf<B>(src, dst, in);
    TurnQuarter<B>(src, dst, in, out, turn);
}

// 1 and 4 bits: leftmost pixel in the high bits of a byte. The turned rows start zeroed.
void TurnPackedBits(const Lines& src, const Lines& dst, const Frame& in, const Frame& out, DibTurn turn)
{
    const int bits = in.layout.bitCount, perByte = 8 / bits, mask = (1 << bits) - 1;
    for (ptrdiff_t y = 0; y < ptrdiff_t(out.rows); ++y) {
        uint8_t* d = dst.Row(y);
        for (ptrdiff_t x = 0; x < ptrdiff_t(out.width); ++x) {
            auto [sx, sy] = SourceOf(turn, in, x, y);
            int from = 8 - bits * int(sx % perByte + 1), to = 8 - bits * int(x % perByte + 1);
            d[x / perByte] |= uint8_t((src.Row(sy)[sx / perByte] >> from & mask) << to);
        }
    }
}

void TurnPixels(const uint8_t* dib, uint8_t* copy, const Frame& in, const Frame& out, DibTurn turn)
{
    Lines src = LinesOf(const_cast<uint8_t*>(dib), in), dst = LinesOf(copy, out);
    int bytes = in.layout.bitCount / 8;
    // Padding behind the pixels of each turned row is zero, as a new DIB's is.
    ptrdiff_t used = bytes ? ptrdiff_t(out.width) * bytes : 0;
    for (ptrdiff_t y = 0; y < ptrdiff_t(out.rows); ++y)
        std::memset(dst.Row(y) + used, 0, size_t(ptrdiff_t(out.stride) - used));
    switch (in.layout.bitCount) {
    case 8: return TurnBytes<1>(src, dst, in, out, turn);
    case 16: return TurnBytes<2>(src, dst, in, out, turn);
    case 24: return TurnBytes<3>(src, dst, in, out, turn);
    case 32: return TurnBytes<4>(src, dst, in, out, turn);
    case 48: return TurnBytes<6>(src, dst, in, out, turn);
    default: return TurnPackedBits(src, dst, in, out, turn);
    }
}
}  // namespace

uint64_t DibMemTurnedBytes(const uint8_t* dib, size_t size, DibTurn turn)
{
    Frame in, out;
    uint64_t bytes = 0;
    return Plan(dib, size, turn, in, out, bytes) ? bytes : 0;
}

bool DibMemTurn(const uint8_t* dib, size_t size, DibTurn turn, uint8_t* copy, size_t copySize)
{
    Frame in, out;
    uint64_t bytes = 0;
    if (!Plan(dib, size, turn, in, out, bytes) || copySize < bytes)
        return false;
    // Header, masks and colour table as they are, then the new geometry over them; what
    // the block holds behind the rows follows the turned rows.
    std::memcpy(copy, dib, size_t(in.bits));
    PatchHeader(copy, size_t(in.bits), in, out, turn);
    uint64_t tail = size - in.bits - in.image;
    std::memcpy(copy + out.bits + out.image, dib + in.bits + in.image, size_t(tail));
    TurnPixels(dib, copy, in, out, turn);
    return true;
}
