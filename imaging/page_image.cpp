// Reading a page's pixels whatever the DIB's kind, and writing the clean-ups' results.
#include "imaging/page_image.h"

#include "base/little_endian.h"
#include "dib/dib_bytes.h"

#include <cstring>

namespace imaging {
namespace {
// One colour field of a 16- or 32-bit pixel: where it lies and how to widen it to 8 bits.
struct Field {
    int shift = 0;
    uint32_t mask = 0;  // after the shift
    uint8_t Value(uint32_t pixel) const
    {
        return mask == 0 ? 0 : uint8_t(((pixel >> shift) & mask) * 255u / mask);
    }
};

Field FieldOf(uint32_t mask)
{
    Field f;
    if (mask == 0)
        return f;
    while (!(mask & 1))
        mask >>= 1, ++f.shift;
    f.mask = mask;
    return f;
}

// Where the rows lie and how each pixel turns into a colour.
struct Source {
    DibLayout layout;
    const uint8_t* bits = nullptr;
    int64_t stride = 0;
    int rows = 0;
    Rgb table[256] = {};
    Field fields[3];  // red, green, blue
};

bool ReadSource(const uint8_t* dib, size_t size, Source& s)
{
    if (!DibIsSafe(dib, size))
        return false;
    s.layout = DibReadLayout(dib);
    const DibLayout& l = s.layout;
    if (l.compression != kBiRgb && l.compression != kBiBitfields)
        return false;
    uint64_t bits = DibBitsOffset(l);
    if (l.compression == kBiBitfields) {
        // The masks follow a 40-byte header; a larger header holds them in the same place.
        if (kInfoHeaderBytes + 12 > size)
            return false;
        for (int i = 0; i < 3; ++i)
            s.fields[i] = FieldOf(LoadLE32(dib + kInfoHeaderBytes + 4 * i));
    } else if (l.bitCount == 16) {
        s.fields[0] = FieldOf(0x7C00), s.fields[1] = FieldOf(0x03E0), s.fields[2] = FieldOf(0x001F);
    } else if (l.bitCount == 32) {
        s.fields[0] = FieldOf(0xFF0000), s.fields[1] = FieldOf(0xFF00), s.fields[2] = FieldOf(0xFF);
    }
    s.rows = l.height < 0 ? -l.height : l.height;
    s.stride = RowBytes(l.bitCount, l.width);
    if (bits + uint64_t(s.stride) * uint64_t(s.rows) > size)
        return false;
    s.bits = dib + bits;
    // Indices past the table's end read as black.
    uint32_t entries = l.bitCount <= 8 ? (l.colorCount < 256 ? l.colorCount : 256) : 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = dib + l.headerSize + uint64_t(i) * l.entryBytes;
        s.table[i] = Rgb{e[2], e[1], e[0]};
    }
    return true;
}

const uint8_t* StoredRow(const Source& s, int y)
{
    int stored = s.layout.height > 0 ? s.rows - 1 - y : y;
    return s.bits + stored * s.stride;
}

// One row as red, green, blue.
void RowColour(const Source& s, int y, uint8_t* out)
{
    const uint8_t* in = StoredRow(s, y);
    const int width = s.layout.width, depth = s.layout.bitCount;
    if (depth <= 8) {
        const int perByte = 8 / depth, mask = (1 << depth) - 1;
        for (int x = 0; x < width; ++x, out += 3) {
            int index = in[x / perByte] >> (8 - depth * (x % perByte + 1)) & mask;
            out[0] = s.table[index].red, out[1] = s.table[index].green, out[2] = s.table[index].blue;
        }
    } else if (depth == 24) {
        for (int x = 0; x < width; ++x, in += 3, out += 3)
            out[0] = in[2], out[1] = in[1], out[2] = in[0];
    } else if (depth == 48) {
        // Little-endian 16-bit samples, blue first: the high byte of each.
        for (int x = 0; x < width; ++x, in += 6, out += 3)
            out[0] = in[5], out[1] = in[3], out[2] = in[1];
    } else {
        const int bytes = depth / 8;
        for (int x = 0; x < width; ++x, in += bytes, out += 3) {
            uint32_t pixel = bytes == 2 ? uint32_t{LoadLE16(in)} : LoadLE32(in);
            for (int c = 0; c < 3; ++c)
                out[c] = s.fields[c].Value(pixel);
        }
    }
}

bool AllGrey(const Source& s)
{
    uint32_t used = s.layout.colorCount < (1u << s.layout.bitCount) ? s.layout.colorCount : 1u << s.layout.bitCount;
    for (uint32_t i = 0; i < used && i < 256; ++i)
        if (s.table[i].red != s.table[i].green || s.table[i].green != s.table[i].blue)
            return false;
    return true;
}
}  // namespace

bool ReadPageInfo(const uint8_t* dib, size_t size, PageInfo& info)
{
    Source s;
    if (!ReadSource(dib, size, s))
        return false;
    info = PageInfo{};
    info.width = s.layout.width;
    info.height = s.rows;
    info.bitCount = s.layout.bitCount;
    if (s.layout.headerSize != kCoreHeaderBytes) {
        info.xPelsPerMeter = LoadLE32(dib + dibfield::kXPelsPerMeter);
        info.yPelsPerMeter = LoadLE32(dib + dibfield::kYPelsPerMeter);
    }
    if (s.layout.bitCount == 1)
        info.kind = PageKind::kBilevel;
    else if (s.layout.bitCount <= 8 && AllGrey(s))
        info.kind = PageKind::kGrey;
    info.bilevel[0] = s.table[0];
    info.bilevel[1] = s.table[1];
    return true;
}

void ReadColour(const uint8_t* dib, size_t size, Plane& colour)
{
    Source s;
    if (!ReadSource(dib, size, s))
        return;
    colour.Resize(s.layout.width, s.rows, 3);
    for (int y = 0; y < s.rows; ++y)
        RowColour(s, y, colour.Row(y));
}

void ReadGrey(const uint8_t* dib, size_t size, Plane& grey)
{
    Source s;
    if (!ReadSource(dib, size, s))
        return;
    const int width = s.layout.width;
    grey.Resize(width, s.rows, 1);
    if (s.layout.bitCount == 24) {
        for (int y = 0; y < s.rows; ++y) {
            const uint8_t* in = StoredRow(s, y);
            uint8_t* out = grey.Row(y);
            for (int x = 0; x < width; ++x, in += 3)
                out[x] = Luminance(in[2], in[1], in[0]);
        }
        return;
    }
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int y = 0; y < s.rows; ++y) {
        RowColour(s, y, row.data());
        uint8_t* out = grey.Row(y);
        for (int x = 0; x < width; ++x)
            out[x] = Luminance(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
    }
}

void ReadIndices(const uint8_t* dib, size_t size, Plane& indices)
{
    Source s;
    if (!ReadSource(dib, size, s) || s.layout.bitCount != 1)
        return;
    indices.Resize(s.layout.width, s.rows, 1);
    for (int y = 0; y < s.rows; ++y) {
        const uint8_t* in = StoredRow(s, y);
        uint8_t* out = indices.Row(y);
        for (int x = 0; x < s.layout.width; ++x)
            out[x] = in[x >> 3] >> (7 - (x & 7)) & 1;
    }
}

size_t ResultBytes(int bitCount, int width, int height)
{
    size_t table = bitCount == 1 ? 8 : bitCount == 8 ? 1024 : 0;
    return kInfoHeaderBytes + table + size_t(RowBytes(bitCount, width)) * size_t(height);
}

void WriteResult(const Plane& plane, int bitCount, const PageInfo& info, const Rgb palette[2], uint8_t* out)
{
    const int width = plane.width, height = plane.height;
    const size_t stride = size_t(RowBytes(bitCount, width));
    const uint32_t colours = bitCount == 1 ? 2 : bitCount == 8 ? 256 : 0;
    std::memset(out, 0, kInfoHeaderBytes);
    StoreLE32(out + dibfield::kSize, kInfoHeaderBytes);
    StoreLE32(out + dibfield::kWidth, uint32_t(width));
    StoreLE32(out + dibfield::kHeight, uint32_t(height));
    out[dibfield::kPlanes] = 1;
    out[dibfield::kBitCount] = uint8_t(bitCount);
    StoreLE32(out + dibfield::kSizeImage, uint32_t(stride * size_t(height)));
    StoreLE32(out + dibfield::kXPelsPerMeter, info.xPelsPerMeter);
    StoreLE32(out + dibfield::kYPelsPerMeter, info.yPelsPerMeter);
    StoreLE32(out + dibfield::kClrUsed, colours);
    uint8_t* entry = out + kInfoHeaderBytes;
    for (uint32_t i = 0; i < colours; ++i, entry += 4) {
        Rgb c = bitCount == 1 ? palette[i] : Rgb{uint8_t(i), uint8_t(i), uint8_t(i)};
        entry[0] = c.blue, entry[1] = c.green, entry[2] = c.red, entry[3] = 0;
    }
    uint8_t* bits = entry;
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = plane.Row(y);
        uint8_t* row = bits + size_t(height - 1 - y) * stride;
        std::memset(row, 0, stride);
        if (bitCount == 1) {
            for (int x = 0; x < width; ++x)
                row[x >> 3] |= uint8_t((in[x] & 1) << (7 - (x & 7)));
        } else if (bitCount == 8) {
            std::memcpy(row, in, size_t(width));
        } else {
            for (int x = 0; x < width; ++x, in += 3)
                row[3 * x] = in[2], row[3 * x + 1] = in[1], row[3 * x + 2] = in[0];
        }
    }
}

}  // namespace imaging
