// Quarter and half turns of a packed DIB: a page fed the wrong way round, or a landscape
// form, is turned before it is kept.
#include "dib/dib_turn.h"

#include "base/little_endian.h"
#include "dib/dib_bytes.h"
#include "dib/dib_simd.h"

#include <algorithm>
#include <cstring>

namespace {
// A quarter turn fills the turned picture block by block: kBlockColumns of its columns
// (source rows) by kBlockRows of its rows (source columns), so that the source and turned
// bytes of a block stay in the caches while its columns are walked. Measured on an A4
// page at 300 dpi; squarer or larger blocks were slower.
constexpr int64_t kBlockColumns = 64;
constexpr int64_t kBlockRows = 256;
// The turned rows a block writes are asked for this many rows ahead of the one being
// written: they lie a whole turned row apart, too far for the processor to guess.
constexpr int64_t kRowsAhead = 8;

bool Quarter(DibTurn turn)
{
    return turn != DibTurn::kHalf;
}

// Where the rows of a DIB lie and how large its picture is.
struct Frame {
    DibLayout layout;
    uint64_t bits;   // offset of the first stored row
    int64_t width;   // pixels
    int64_t rows;
    int64_t stride;  // bytes of a stored row
    uint64_t image;  // stride x rows
};

Frame FrameOf(const DibLayout& layout, uint64_t bits, int64_t width, int64_t rows)
{
    int64_t stride = RowBytes(layout.bitCount, int(width));
    return Frame{layout, bits, width, rows, stride, uint64_t(stride * rows)};
}

// Compressed rows are runs, not pixels: they cannot be turned without expanding them.
bool ReadFrame(const uint8_t* dib, size_t size, Frame& f)
{
    if (!DibIsSafe(dib, size))
        return false;
    DibLayout layout = DibReadLayout(dib);
    if (layout.compression != kBiRgb && layout.compression != kBiBitfields)
        return false;
    uint64_t bits = DibBitsOffset(layout);
    int64_t rows = layout.height < 0 ? -int64_t(layout.height) : layout.height;
    f = FrameOf(layout, bits, layout.width, rows);
    return f.bits + f.image <= size;
}

Frame TurnedFrame(const Frame& in, DibTurn turn)
{
    return Quarter(turn) ? FrameOf(in.layout, in.bits, in.rows, in.width) : in;
}

// biSizeImage moves by the change of the rows' bytes, so that an exact size stays exact
// and one that also counts the masks keeps counting them; 0 (not given) stays 0. Every
// other value moves as well, and the one that would land on 0 takes 0's place, so that
// turning back always restores the value the DIB came with.
uint32_t TurnedSizeImage(uint32_t value, uint64_t from, uint64_t to)
{
    uint32_t shift = uint32_t(to) - uint32_t(from);
    if (value == 0)
        return 0;
    if (value + shift == 0)
        return shift;
    return value + shift;
}

// Header fields of the turned copy, written over a copy of the original header.
void PatchHeader(uint8_t* header, const Frame& in, const Frame& out, DibTurn turn)
{
    if (in.layout.headerSize == kCoreHeaderBytes) {
        StoreLE16(header + dibfield::kCoreWidth, uint16_t(out.width));
        StoreLE16(header + dibfield::kCoreHeight, uint16_t(out.rows));
        return;
    }
    StoreLE32(header + dibfield::kWidth, uint32_t(out.width));
    StoreLE32(header + dibfield::kHeight, uint32_t(in.layout.height < 0 ? -out.rows : out.rows));
    uint32_t sizeImage = LoadLE32(header + dibfield::kSizeImage);
    StoreLE32(header + dibfield::kSizeImage, TurnedSizeImage(sizeImage, in.image, out.image));
    if (Quarter(turn)) {
        uint32_t x = LoadLE32(header + dibfield::kXPelsPerMeter);
        StoreLE32(header + dibfield::kXPelsPerMeter, LoadLE32(header + dibfield::kYPelsPerMeter));
        StoreLE32(header + dibfield::kYPelsPerMeter, x);
    }
}

// Both frames, and the copy's size, when the DIB can be turned into a DIB that every
// operation accepts in turn.
bool Plan(const uint8_t* dib, size_t size, DibTurn turn, Frame& in, Frame& out, uint64_t& bytes)
{
    if (!ReadFrame(dib, size, in))
        return false;
    out = TurnedFrame(in, turn);
    bytes = uint64_t(size) - in.image + out.image;
    if (bytes > SIZE_MAX)
        return false;
    uint8_t header[kInfoHeaderBytes];
    size_t headerBytes = in.layout.headerSize == kCoreHeaderBytes ? kCoreHeaderBytes : kInfoHeaderBytes;
    std::memcpy(header, dib, headerBytes);
    PatchHeader(header, in, out, turn);
    return DibHeaderIsSafe(header, size_t(bytes));
}

// The picture's rows: row 0 is the top row whatever the storage order.
struct Plane {
    uint8_t* top;
    int64_t step;  // from one picture row to the next
    uint8_t* Row(int64_t r) const { return top + r * step; }
};

Plane PlaneOf(uint8_t* block, const Frame& f)
{
    uint8_t* bits = block + f.bits;
    if (f.layout.height > 0)
        return Plane{bits + (f.rows - 1) * f.stride, -f.stride};
    return Plane{bits, f.stride};
}

// The source pixel that lands at (x, y) of the turned picture.
struct Point {
    int64_t x, y;
};
Point SourceOf(DibTurn turn, const Frame& in, int64_t x, int64_t y)
{
    if (turn == DibTurn::kClockwise)
        return Point{y, in.rows - 1 - x};
    if (turn == DibTurn::kCounterClockwise)
        return Point{in.width - 1 - y, x};
    return Point{in.width - 1 - x, in.rows - 1 - y};
}

// A run of pixels along a row of the turned picture. A pixel of 3 or 6 bytes moves as 4 or
// 8, spilling into the next pixel, which the next move writes over: half the moves of
// smaller pieces. The extra bytes are read only where the source pixel has a neighbour on
// its right (wide), so they lie inside its row.
template <int B>
void MoveRun(uint8_t* d, const uint8_t* s, int64_t count, int64_t step, bool wide)
{
    constexpr int kWide = B == 3 ? 4 : B == 6 ? 8 : B;
    int64_t i = 0;
    if (kWide != B && wide) {
        for (uint8_t piece[kWide]; i + 1 < count; ++i, d += B, s += step) {
            std::memcpy(piece, s, kWide);
            std::memcpy(d, piece, kWide);
        }
    }
    for (; i < count; ++i, d += B, s += step)
        std::memcpy(d, s, B);
}

// The half turn reads its source rows straight through, backwards. It starts from each
// row's last pixel, the one without a neighbour on its right; the rest can move wide.
template <int B>
void TurnHalf(const Plane& src, const Plane& dst, const Frame& in)
{
    for (int64_t y = 0; y < in.rows; ++y) {
        const uint8_t* s = src.Row(in.rows - 1 - y) + (in.width - 1) * B;
        std::memcpy(dst.Row(y), s, B);
        MoveRun<B>(dst.Row(y) + B, s - B, in.width - 1, -B, true);
    }
}

#ifdef DIB_SIMD
// 4 x 4 pixels of 3 or 4 bytes turned in registers: four loads and a few shuffles move
// what took sixteen loads and stores. Pixels of 3 bytes are widened to 4 and narrowed again.
template <int B>
DIB_SSSE3_INLINE __m128i Widen(__m128i v)
{
    if constexpr (B == 3)
        return _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    return v;
}

// Stores exactly 4 pixels: a row's last pixels have no bytes of their own behind them.
template <int B>
DIB_SSSE3_INLINE void StoreFour(uint8_t* d, __m128i v)
{
    if constexpr (B == 3) {
        v = _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d), v);
        int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
        std::memcpy(d + 8, &last, 4);
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
    }
}

// Four turned rows d[0..3] from `count` source rows (a multiple of 4), the first at s and
// each next one `step` further; each holds at s its four pixels for the four turned rows,
// lowest column first, which land in d[3..0] when reversed. 16 bytes are read at each s.
template <int B>
DIB_SSSE3 void TurnTiles(const uint8_t* s, int64_t step, uint8_t* const d[4], int64_t count, bool reversed)
{
    for (int64_t j = 0; j < count; j += 4, s += 4 * step) {
        __m128i a = Widen<B>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
        __m128i b = Widen<B>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + step)));
        __m128i c = Widen<B>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * step)));
        __m128i e = Widen<B>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * step)));
        __m128i ab0 = _mm_unpacklo_epi32(a, b), ab1 = _mm_unpackhi_epi32(a, b);
        __m128i ce0 = _mm_unpacklo_epi32(c, e), ce1 = _mm_unpackhi_epi32(c, e);
        const __m128i rows[4] = {_mm_unpacklo_epi64(ab0, ce0), _mm_unpackhi_epi64(ab0, ce0),
                                 _mm_unpacklo_epi64(ab1, ce1), _mm_unpackhi_epi64(ab1, ce1)};
        for (int k = 0; k < 4; ++k)
            StoreFour<B>(d[reversed ? 3 - k : k] + j * B, rows[k]);
    }
}
#endif

// Quarter turns of pixels of whole bytes, block by block, four turned rows at a time.
template <int B>
void TurnQuarter(const Plane& src, const Plane& dst, const Frame& in, const Frame& out, DibTurn turn)
{
    const bool clockwise = turn == DibTurn::kClockwise;
    const int64_t step = clockwise ? -src.step : src.step;  // from one turned column to the next
    for (int64_t ty = 0; ty < out.rows; ty += kBlockRows) {
        const int64_t yEnd = std::min(ty + kBlockRows, out.rows);
        for (int64_t tx = 0; tx < out.width; tx += kBlockColumns) {
            const int64_t xEnd = std::min(tx + kBlockColumns, out.width);
            const int64_t nextEnd = std::min(xEnd + kBlockColumns, out.width);
            const int64_t share = nextEnd - xEnd, rows = yEnd - ty;
            for (int64_t y = ty; y < yEnd; y += 4) {
                // While four turned rows are written, the turned rows kRowsAhead further
                // on are asked for, and a share of the next block's source rows, which lie
                // a row apart: further than the processor's own prefetching looks. (Kept
                // in this loop: GCC drops a function, or lambda, that only prefetches.)
                for (int64_t r = y + kRowsAhead; r < std::min(y + kRowsAhead + 4, yEnd); ++r)
                    for (int64_t at = tx * B; at < xEnd * B + 64; at += 64)
                        __builtin_prefetch(dst.Row(r) + at, 1);
                const int64_t to = std::min(nextEnd, xEnd + (y - ty + 4) * share / rows);
                for (int64_t x = xEnd + (y - ty) * share / rows; x < to; ++x) {
                    Point p = SourceOf(turn, in, x, ty), q = SourceOf(turn, in, x, yEnd - 1);
                    for (int64_t at = std::min(p.x, q.x) * B; at < (std::max(p.x, q.x) + 1) * B + 63; at += 64)
                        __builtin_prefetch(src.Row(p.y) + at);
                }
                const int64_t n = std::min<int64_t>(4, yEnd - y);
                int64_t x = tx;
#ifdef DIB_SIMD
                if constexpr (B == 3 || B == 4) {
                    Point first = SourceOf(turn, in, tx, y);
                    int64_t low = clockwise ? first.x : first.x - 3;  // lowest source column of the group
                    if (n == 4 && low * B + 16 <= in.stride && DibHasSsse3()) {
                        uint8_t* d[4] = {dst.Row(y) + x * B, dst.Row(y + 1) + x * B, dst.Row(y + 2) + x * B,
                                         dst.Row(y + 3) + x * B};
                        int64_t count = (xEnd - tx) & ~int64_t(3);
                        TurnTiles<B>(src.Row(first.y) + low * B, step, d, count, !clockwise);
                        x += count;
                    }
                }
#endif
                for (int64_t k = 0; k < n && x < xEnd; ++k) {
                    auto [sx, sy] = SourceOf(turn, in, x, y + k);
                    MoveRun<B>(dst.Row(y + k) + x * B, src.Row(sy) + sx * B, xEnd - x, step, sx + 1 < in.width);
                }
            }
        }
    }
}

template <int B>
void TurnBytes(const Plane& src, const Plane& dst, const Frame& in, const Frame& out, DibTurn turn)
{
    if (turn == DibTurn::kHalf)
        return TurnHalf<B>(src, dst, in);
    TurnQuarter<B>(src, dst, in, out, turn);
}

// 1 and 4 bits: leftmost pixel in the high bits of a byte. The turned rows start zeroed.
void TurnPackedBits(const Plane& src, const Plane& dst, const Frame& in, const Frame& out, DibTurn turn)
{
    const int bits = in.layout.bitCount, perByte = 8 / bits, mask = (1 << bits) - 1;
    for (int64_t y = 0; y < out.rows; ++y) {
        uint8_t* d = dst.Row(y);
        for (int64_t x = 0; x < out.width; ++x) {
            auto [sx, sy] = SourceOf(turn, in, x, y);
            int from = 8 - bits * int(sx % perByte + 1), to = 8 - bits * int(x % perByte + 1);
            d[x / perByte] |= uint8_t((src.Row(sy)[sx / perByte] >> from & mask) << to);
        }
    }
}

void TurnPixels(const uint8_t* dib, uint8_t* copy, const Frame& in, const Frame& out, DibTurn turn)
{
    Plane src = PlaneOf(const_cast<uint8_t*>(dib), in), dst = PlaneOf(copy, out);
    int bytes = in.layout.bitCount / 8;
    // Padding behind the pixels of each turned row is zero, as a new DIB's is.
    int64_t used = bytes ? out.width * bytes : 0;
    for (int64_t y = 0; y < out.rows; ++y)
        std::memset(dst.Row(y) + used, 0, size_t(out.stride - used));
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
    PatchHeader(copy, in, out, turn);
    uint64_t tail = size - in.bits - in.image;
    std::memcpy(copy + out.bits + out.image, dib + in.bits + in.image, size_t(tail));
    TurnPixels(dib, copy, in, out, turn);
    return true;
}
