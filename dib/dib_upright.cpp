// The copy of a DIB that the view hands to DrawDib when the DIB itself cannot be drawn.
#include "dib/dib_pixels.h"

#include "base/little_endian.h"

#include <algorithm>
#include <cstring>

namespace {
struct Plan {
    DibPixels in;
    bool rle = false;
    uint64_t rleBits = 0;  // offset of a run-length DIB's compressed rows
    uint16_t outDepth = 0;
    uint32_t outEntries = 0;  // 4-byte colour-table entries of the copy
    int64_t outStride = 0;
    uint64_t outImage = 0;    // bytes of pixel data in the copy
};

bool MakePlan(const uint8_t* dib, size_t size, Plan& p)
{
    p = Plan{};
    if (!DibIsSafe(dib, size))
        return false;
    DibLayout layout = DibReadLayout(dib);
    p.rle = layout.compression == kBiRle8 || layout.compression == kBiRle4;
    if (p.rle) {
        // Compressed rows are copied as they are: they only need the plain header.
        p.in.frame.layout = layout;
        p.in.frame.width = layout.width;
        p.in.frame.rows = layout.height;
        p.rleBits = DibBitsOffset(layout);
        p.outImage = layout.sizeImage;
    } else if (!DibReadPixels(dib, size, p.in)) {
        return false;
    }
    p.outDepth = layout.bitCount;
    if (layout.compression == kBiBitfields)
        p.outDepth = 32;
    else if (layout.bitCount == 48)
        p.outDepth = 24;
    if (p.outDepth <= 8)
        p.outEntries = std::min(layout.colorCount, 1u << p.outDepth);
    p.outStride = RowBytes(p.outDepth, layout.width);
    if (!p.rle)
        p.outImage = uint64_t(p.outStride * p.in.frame.rows);
    return true;
}

// Bit fields become 32-bit blue, green, red and a zero byte, 48 bits 24-bit blue, green,
// red; every other depth keeps its bytes. The row is read as red, green, blue into its
// own place and spread out from its end, so no pixel is overwritten before it is moved.
void ConvertRow(const Plan& p, int64_t row, uint8_t* out)
{
    if (p.outDepth == p.in.frame.layout.bitCount) {
        std::memcpy(out, p.in.Line(row), size_t(p.in.frame.stride));
        return;
    }
    DibPixelsRGB(p.in, row, out);
    const int bytes = p.outDepth / 8;
    for (int64_t x = p.in.frame.width - 1; x >= 0; --x) {
        const uint8_t red = out[3 * x], green = out[3 * x + 1], blue = out[3 * x + 2];
        uint8_t* to = out + bytes * x;
        to[0] = blue, to[1] = green, to[2] = red;
        if (bytes == 4)
            to[3] = 0;
    }
}
}  // namespace

bool DibMemDrawsAsIs(const uint8_t* dib, size_t size)
{
    if (!DibIsSafe(dib, size))
        return false;
    DibLayout layout = DibReadLayout(dib);
    return layout.headerSize == kInfoHeaderBytes && layout.height > 0 && layout.bitCount != 48 &&
           layout.compression != kBiBitfields;
}

uint64_t DibMemUprightBytes(const uint8_t* dib, size_t size)
{
    Plan p;
    if (!MakePlan(dib, size, p))
        return 0;
    return kInfoHeaderBytes + 4 * uint64_t(p.outEntries) + p.outImage;
}

bool DibMemMakeUpright(const uint8_t* dib, size_t size, uint8_t* out, size_t outSize)
{
    Plan p;
    if (!MakePlan(dib, size, p) || outSize < kInfoHeaderBytes + 4 * uint64_t(p.outEntries) + p.outImage)
        return false;
    const DibLayout& in = p.in.frame.layout;
    const int64_t rows = p.in.frame.rows;
    std::memset(out, 0, kInfoHeaderBytes);
    StoreLE32(out + dibfield::kSize, kInfoHeaderBytes);
    StoreLE32(out + dibfield::kWidth, uint32_t(in.width));
    StoreLE32(out + dibfield::kHeight, uint32_t(rows));
    out[dibfield::kPlanes] = 1;
    out[dibfield::kBitCount] = uint8_t(p.outDepth);
    StoreLE32(out + dibfield::kCompression, p.rle ? in.compression : kBiRgb);
    StoreLE32(out + dibfield::kSizeImage, uint32_t(p.outImage));
    if (in.headerSize != kCoreHeaderBytes)
        std::memcpy(out + dibfield::kXPelsPerMeter, dib + dibfield::kXPelsPerMeter, 8);
    StoreLE32(out + dibfield::kClrUsed, p.outEntries);

    uint8_t* entry = out + kInfoHeaderBytes;
    for (uint32_t i = 0; i < p.outEntries; ++i, entry += 4) {
        const uint8_t* from = dib + in.headerSize + uint64_t(i) * in.entryBytes;
        entry[0] = from[0], entry[1] = from[1], entry[2] = from[2], entry[3] = 0;
    }
    uint8_t* bits = entry;
    std::memset(bits, 0, size_t(p.outImage));
    if (p.rle) {
        // Compressed rows are always stored bottom-up.
        std::memcpy(bits, dib + p.rleBits, size_t(p.outImage));
        return true;
    }
    // The copy is stored bottom-up: its last stored line is the picture's top row.
    for (int64_t row = 0; row < rows; ++row)
        ConvertRow(p, row, bits + (rows - 1 - row) * p.outStride);
    return true;
}
