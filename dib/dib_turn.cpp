// Quarter and half turns of a packed DIB: a page fed the wrong way round, or a landscape
// form, is turned before it is kept.
#include "dib/dib_turn.h"

#include "dib/dib_bytes.h"

#include <algorithm>
#include <cstring>

namespace {
// Square blocks of the turned picture are filled one after the other, so that the source
// rows a block reads stay in the cache while its columns are walked.
constexpr int64_t kTile = 32;

void Put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

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
    // Behind a 40-byte header the three masks come before the rows; a larger header
    // holds them itself.
    if (layout.compression == kBiBitfields && layout.headerSize == kInfoHeaderBytes)
        bits += 12;
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
        Put16(header + dibfield::kCoreWidth, uint32_t(out.width));
        Put16(header + dibfield::kCoreHeight, uint32_t(out.rows));
        return;
    }
    Put32(header + dibfield::kWidth, uint32_t(out.width));
    Put32(header + dibfield::kHeight, uint32_t(in.layout.height < 0 ? -out.rows : out.rows));
    uint32_t sizeImage = Get32(header + dibfield::kSizeImage);
    Put32(header + dibfield::kSizeImage, TurnedSizeImage(sizeImage, in.image, out.image));
    if (Quarter(turn)) {
        uint32_t x = Get32(header + dibfield::kXPelsPerMeter);
        Put32(header + dibfield::kXPelsPerMeter, Get32(header + dibfield::kYPelsPerMeter));
        Put32(header + dibfield::kYPelsPerMeter, x);
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
void SourceOf(DibTurn turn, const Frame& in, int64_t x, int64_t y, int64_t& sx, int64_t& sy)
{
    switch (turn) {
    case DibTurn::kClockwise:
        sx = y, sy = in.rows - 1 - x;
        break;
    case DibTurn::kCounterClockwise:
        sx = in.width - 1 - y, sy = x;
        break;
    case DibTurn::kHalf:
        sx = in.width - 1 - x, sy = in.rows - 1 - y;
        break;
    }
}

// Pixels of whole bytes: along a row of the turned picture the source walks a column
// (quarter turns) or its own row backwards (half turn).
template <int B>
void TurnBytes(const Plane& src, const Plane& dst, const Frame& in, const Frame& out, DibTurn turn)
{
    int64_t step = turn == DibTurn::kClockwise ? -src.step : turn == DibTurn::kCounterClockwise ? src.step : -B;
    for (int64_t ty = 0; ty < out.rows; ty += kTile) {
        int64_t yEnd = std::min(ty + kTile, out.rows);
        for (int64_t tx = 0; tx < out.width; tx += kTile) {
            int64_t xEnd = std::min(tx + kTile, out.width);
            for (int64_t y = ty; y < yEnd; ++y) {
                int64_t sx, sy;
                SourceOf(turn, in, tx, y, sx, sy);
                const uint8_t* s = src.Row(sy) + sx * B;
                uint8_t* d = dst.Row(y) + tx * B;
                for (int64_t x = tx; x < xEnd; ++x, d += B, s += step)
                    std::memcpy(d, s, B);
            }
        }
    }
}

// 1 and 4 bits: leftmost pixel in the high bits of a byte. The turned rows start zeroed.
void TurnPackedBits(const Plane& src, const Plane& dst, const Frame& in, const Frame& out, DibTurn turn)
{
    const int bits = in.layout.bitCount, perByte = 8 / bits, mask = (1 << bits) - 1;
    for (int64_t y = 0; y < out.rows; ++y) {
        uint8_t* d = dst.Row(y);
        for (int64_t x = 0; x < out.width; ++x) {
            int64_t sx, sy;
            SourceOf(turn, in, x, y, sx, sy);
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
