// Reading a DIB's pixels whatever its kind, and the frame of its rows.
#include "dib/dib_pixels.h"

#include "base/little_endian.h"

#include <algorithm>

namespace {
// A version 5 header names an embedded or linked colour profile by its offset from the
// header's start.
constexpr size_t kV5HeaderBytes = 124, kV5ProfileData = 112, kV5ProfileSize = 116;

// biSizeImage moves by the change of the rows' bytes, so that an exact size stays exact
// and one that also counts the masks keeps counting them; 0 (not given) stays 0. Every
// other value moves as well, and the one that would land on 0 takes 0's place, so that
// undoing the change (a turn back) always restores the value the DIB came with.
uint32_t MovedSizeImage(uint32_t value, uint64_t from, uint64_t to)
{
    uint32_t shift = uint32_t(to) - uint32_t(from);
    if (value == 0)
        return 0;
    if (value + shift == 0)
        return shift;
    return value + shift;
}

// The colour fields of 16- and 32-bit pixels: given by a BI_BITFIELDS header (behind a
// 40-byte header, inside a larger one, whose versions 3 to 5 also name an alpha field),
// else 5-5-5 and 8-8-8.
void ReadMasks(const uint8_t* dib, DibPixels& p)
{
    const DibLayout& l = p.frame.layout;
    if (l.compression != kBiBitfields) {
        bool five = l.bitCount == 16;
        p.masks[0] = five ? 0x7C00 : 0xFF0000;
        p.masks[1] = five ? 0x03E0 : 0x00FF00;
        p.masks[2] = five ? 0x001F : 0x0000FF;
        return;
    }
    for (int i = 0; i < 3; ++i)
        p.masks[i] = LoadLE32(dib + kInfoHeaderBytes + 4 * i);
    if (l.headerSize >= kInfoHeaderBytes + 16 && l.bitCount == 32)
        p.masks[3] = LoadLE32(dib + kInfoHeaderBytes + 12);
}

uint32_t PixelAt(const uint8_t* in, int bytes)
{
    return bytes == 2 ? uint32_t{LoadLE16(in)} : LoadLE32(in);
}

// Whether any pixel has a value in the alpha field.
bool AnyAlpha(const DibPixels& p)
{
    for (int64_t y = 0; y < p.frame.rows; ++y) {
        const uint8_t* in = p.dib + p.frame.bits + y * p.frame.stride;
        for (int64_t x = 0; x < p.frame.width; ++x, in += 4)
            if (LoadLE32(in) & p.masks[3])
                return true;
    }
    return false;
}

void ReadTable(const uint8_t* dib, DibPixels& p)
{
    const DibLayout& l = p.frame.layout;
    p.tableEntries = std::min(l.colorCount, 1u << l.bitCount);
    for (uint32_t i = 0; i < p.tableEntries; ++i) {
        const uint8_t* entry = dib + l.headerSize + uint64_t(i) * l.entryBytes;
        p.table[i][0] = entry[2], p.table[i][1] = entry[1], p.table[i][2] = entry[0];
        p.tableGrey[i] = Luminance(entry[2], entry[1], entry[0]);
    }
}
}  // namespace

bool DibReadFrame(const uint8_t* dib, size_t size, DibFrame& f)
{
    if (!DibIsSafe(dib, size))
        return false;
    DibLayout layout = DibReadLayout(dib);
    if (layout.compression != kBiRgb && layout.compression != kBiBitfields)
        return false;
    int64_t rows = layout.height < 0 ? -int64_t(layout.height) : layout.height;
    DibFrame base;
    base.layout = layout;
    base.bits = DibBitsOffset(layout);
    f = DibResizedFrame(base, layout.width, rows);
    return f.bits + f.image <= size;
}

DibFrame DibResizedFrame(const DibFrame& frame, int64_t width, int64_t rows)
{
    DibFrame f = frame;
    f.width = width;
    f.rows = rows;
    f.stride = RowBytes(frame.layout.bitCount, int(width));
    f.image = uint64_t(f.stride * rows);
    return f;
}

void DibPatchGeometry(uint8_t* header, size_t headerBytes, const DibFrame& in, const DibFrame& out)
{
    if (in.layout.headerSize == kCoreHeaderBytes) {
        StoreLE16(header + dibfield::kCoreWidth, uint16_t(out.width));
        StoreLE16(header + dibfield::kCoreHeight, uint16_t(out.rows));
        return;
    }
    StoreLE32(header + dibfield::kWidth, uint32_t(out.width));
    StoreLE32(header + dibfield::kHeight, uint32_t(in.layout.height < 0 ? -out.rows : out.rows));
    uint32_t sizeImage = LoadLE32(header + dibfield::kSizeImage);
    StoreLE32(header + dibfield::kSizeImage, MovedSizeImage(sizeImage, in.image, out.image));
    if (in.layout.headerSize < kV5HeaderBytes || headerBytes < kV5HeaderBytes)
        return;
    // A profile behind the rows moves with them; one anywhere else stays where it is.
    uint32_t profile = LoadLE32(header + kV5ProfileData);
    if (LoadLE32(header + kV5ProfileSize) != 0 && profile >= in.bits + in.image)
        StoreLE32(header + kV5ProfileData, uint32_t(profile - in.image + out.image));
}

DibField DibFieldOf(uint32_t mask)
{
    DibField f;
    if (mask == 0)
        return f;
    while (!(mask & 1))
        mask >>= 1, ++f.shift;
    f.mask = mask;
    while (f.bits < 32 && (mask >> f.bits & 1))
        ++f.bits;
    return f;
}

uint8_t DibFieldByte(uint32_t pixel, uint32_t mask)
{
    return DibFieldOf(mask).Read(pixel);
}

bool DibReadPixels(const uint8_t* dib, size_t size, DibPixels& p)
{
    p = DibPixels{};
    if (!DibReadFrame(dib, size, p.frame))
        return false;
    p.dib = dib;
    const uint16_t depth = p.frame.layout.bitCount;
    if (depth <= 8)
        ReadTable(dib, p);
    if (depth == 16 || depth == 32) {
        ReadMasks(dib, p);
        if (p.masks[3] != 0 && !AnyAlpha(p))
            p.masks[3] = 0;
        for (int i = 0; i < 4; ++i)
            p.fields[i] = DibFieldOf(p.masks[i]);
    }
    return true;
}

namespace {
template <int kChannels>
inline void Opaque(uint8_t* pixel)
{
    if constexpr (kChannels == 4)
        pixel[3] = 255;
}

// Pixels [first, first + count) of picture row `row`.
template <int kChannels>
void RowOf(const DibPixels& p, int64_t row, int64_t first, int64_t count, uint8_t* out)
{
    const int depth = p.frame.layout.bitCount;
    const uint8_t* in = p.Line(row) + (depth >= 8 ? first * (depth / 8) : 0);
    const int64_t end = first + count;
    switch (depth) {
    case 24:
        for (int64_t x = first; x < end; ++x, in += 3, out += kChannels)
            out[0] = in[2], out[1] = in[1], out[2] = in[0], Opaque<kChannels>(out);
        break;
    case 48:
        // Little-endian 16-bit samples, blue first: the high byte of each.
        for (int64_t x = first; x < end; ++x, in += 6, out += kChannels)
            out[0] = in[5], out[1] = in[3], out[2] = in[1], Opaque<kChannels>(out);
        break;
    case 16:
    case 32:
        for (int64_t x = first; x < end; ++x, in += depth / 8, out += kChannels) {
            uint32_t pixel = PixelAt(in, depth / 8);
            for (int c = 0; c < 3; ++c)
                out[c] = p.fields[c].Read(pixel);
            if constexpr (kChannels == 4)
                out[3] = p.HasAlpha() ? p.fields[3].Read(pixel) : 255;
        }
        break;
    default: {
        // 1, 4 or 8 bits: a byte holds 8, 2 or 1 indices, found by shifts rather than by
        // a division of each pixel's 64-bit column.
        const int perByteShift = depth == 1 ? 3 : depth == 4 ? 1 : 0, mask = (1 << depth) - 1;
        const int64_t last = (int64_t(1) << perByteShift) - 1;
        for (int64_t x = first; x < end; ++x, out += kChannels) {
            int index = in[x >> perByteShift] >> (8 - depth * int((x & last) + 1)) & mask;
            out[0] = p.table[index][0], out[1] = p.table[index][1], out[2] = p.table[index][2];
            Opaque<kChannels>(out);
        }
    }
    }
}
}  // namespace

void DibPixelsRGB(const DibPixels& pixels, int64_t row, uint8_t* out)
{
    RowOf<3>(pixels, row, 0, pixels.frame.width, out);
}

void DibPixelsRGBA(const DibPixels& pixels, int64_t row, uint8_t* out)
{
    RowOf<4>(pixels, row, 0, pixels.frame.width, out);
}

void DibPixelsGrey(const DibPixels& p, int64_t row, uint8_t* out)
{
    const uint8_t* in = p.Line(row);
    const int64_t width = p.frame.width;
    const int depth = p.frame.layout.bitCount;
    if (depth == 1) {
        // Eight pixels a byte: the two luminances picked by each bit.
        const uint8_t zero = p.tableGrey[0], one = p.tableGrey[1];
        int64_t x = 0;
        for (; x + 8 <= width; x += 8, ++in)
            for (int b = 0; b < 8; ++b)
                out[x + b] = *in & (0x80 >> b) ? one : zero;
        for (int b = 0; x < width; ++x, ++b)
            out[x] = *in & (0x80 >> b) ? one : zero;
    } else if (depth == 8) {
        for (int64_t x = 0; x < width; ++x)
            out[x] = p.tableGrey[in[x]];
    } else if (depth == 24) {
        for (int64_t x = 0; x < width; ++x, in += 3)
            out[x] = Luminance(in[2], in[1], in[0]);
    } else {
        // The other depths are rare on a scanner: through their colours, a piece at a time.
        uint8_t rgb[3 * 256];
        for (int64_t x = 0; x < width; x += 256) {
            const int64_t count = std::min<int64_t>(256, width - x);
            RowOf<3>(p, row, x, count, rgb);
            for (int64_t i = 0; i < count; ++i)
                out[x + i] = Luminance(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        }
    }
}
