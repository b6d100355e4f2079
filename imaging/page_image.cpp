// Reading a page's pixels whatever the DIB's kind, and writing the clean-ups' results.
#include "imaging/page_image.h"

#include "base/little_endian.h"
#include "dib/dib_pixels.h"

#include <cstring>

namespace imaging {
namespace {
bool AllGrey(const DibPixels& p)
{
    for (uint32_t i = 0; i < p.tableEntries; ++i)
        if (p.table[i][0] != p.table[i][1] || p.table[i][1] != p.table[i][2])
            return false;
    return true;
}

Rgb TableColour(const DibPixels& p, int index)
{
    return Rgb{p.table[index][0], p.table[index][1], p.table[index][2]};
}
}  // namespace

bool ReadPageInfo(const uint8_t* dib, size_t size, PageInfo& info)
{
    DibPixels p;
    if (!DibReadPixels(dib, size, p))
        return false;
    const DibLayout& l = p.frame.layout;
    info = PageInfo{};
    info.width = l.width;
    info.height = int(p.frame.rows);
    info.bitCount = l.bitCount;
    if (l.headerSize != kCoreHeaderBytes) {
        info.xPelsPerMeter = LoadLE32(dib + dibfield::kXPelsPerMeter);
        info.yPelsPerMeter = LoadLE32(dib + dibfield::kYPelsPerMeter);
    }
    if (l.bitCount == 1)
        info.kind = PageKind::kBilevel;
    else if (l.bitCount <= 8 && AllGrey(p))
        info.kind = PageKind::kGrey;
    info.bilevel[0] = TableColour(p, 0);
    info.bilevel[1] = TableColour(p, 1);
    return true;
}

void ReadColour(const uint8_t* dib, size_t size, Plane& colour)
{
    DibPixels p;
    if (!DibReadPixels(dib, size, p))
        return;
    colour.Resize(int(p.frame.width), int(p.frame.rows), 3);
    for (int y = 0; y < colour.height; ++y)
        DibPixelsRGB(p, y, colour.Row(y));
}

void ReadGrey(const uint8_t* dib, size_t size, Plane& grey)
{
    DibPixels p;
    if (!DibReadPixels(dib, size, p))
        return;
    grey.Resize(int(p.frame.width), int(p.frame.rows), 1);
    for (int y = 0; y < grey.height; ++y)
        DibPixelsGrey(p, y, grey.Row(y));
}

void ReadIndices(const uint8_t* dib, size_t size, Plane& indices)
{
    DibPixels p;
    if (!DibReadPixels(dib, size, p) || p.frame.layout.bitCount != 1)
        return;
    indices.Resize(int(p.frame.width), int(p.frame.rows), 1);
    for (int y = 0; y < indices.height; ++y) {
        const uint8_t* in = p.Line(y);
        uint8_t* out = indices.Row(y);
        for (int x = 0; x < indices.width; ++x)
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
