// The copy of a DIB that the view hands to DrawDib when the DIB itself cannot be drawn.
#include "dib/dib_bytes.h"

#include "base/little_endian.h"

#include <cstring>

namespace {
struct Plan {
    DibLayout in;
    uint64_t inBits;     // offset of the source rows (compressed data for RLE)
    int64_t inStride;
    int64_t rows;
    uint16_t outDepth;
    uint32_t outEntries;  // 4-byte colour-table entries of the copy
    int64_t outStride;
    uint64_t outImage;    // bytes of pixel data in the copy
    uint32_t masks[3];    // bit fields of a BI_BITFIELDS source
};

// The three colour masks of a BI_BITFIELDS DIB follow a 40-byte header (a larger header
// holds them at the same place); DibBitsOffset counts them.
bool ReadMasks(const uint8_t* dib, size_t size, Plan& p)
{
    uint64_t masksEnd = uint64_t(kInfoHeaderBytes) + 12;
    if (masksEnd > size)
        return false;
    for (int i = 0; i < 3; ++i)
        p.masks[i] = LoadLE32(dib + kInfoHeaderBytes + 4 * i);
    return p.inBits + uint64_t(p.inStride * p.rows) <= size;
}

bool MakePlan(const uint8_t* dib, size_t size, Plan& p)
{
    if (!DibIsSafe(dib, size))
        return false;
    p = Plan{};
    p.in = DibReadLayout(dib);
    p.inBits = DibBitsOffset(p.in);
    p.inStride = RowBytes(p.in.bitCount, p.in.width);
    p.rows = p.in.height < 0 ? -int64_t(p.in.height) : p.in.height;
    p.outDepth = p.in.bitCount;
    if (p.in.compression == kBiBitfields) {
        if (!ReadMasks(dib, size, p))
            return false;
        p.outDepth = 32;
    } else if (p.in.bitCount == 48) {
        p.outDepth = 24;
    }
    if (p.outDepth <= 8)
        p.outEntries = p.in.colorCount < (1u << p.outDepth) ? p.in.colorCount : 1u << p.outDepth;
    p.outStride = RowBytes(p.outDepth, p.in.width);
    bool rle = p.in.compression == kBiRle8 || p.in.compression == kBiRle4;
    p.outImage = rle ? p.in.sizeImage : uint64_t(p.outStride * p.rows);
    return true;
}

void ConvertRow(const Plan& p, const uint8_t* in, uint8_t* out)
{
    if (p.in.compression == kBiBitfields) {
        int bytes = p.in.bitCount / 8;
        for (int32_t x = 0; x < p.in.width; ++x, in += bytes, out += 4) {
            uint32_t pixel = bytes == 2 ? uint32_t{LoadLE16(in)} : LoadLE32(in);
            out[0] = DibFieldByte(pixel, p.masks[2]);
            out[1] = DibFieldByte(pixel, p.masks[1]);
            out[2] = DibFieldByte(pixel, p.masks[0]);
            out[3] = 0;
        }
    } else if (p.in.bitCount == 48) {
        // Three little-endian 16-bit samples: the high byte of each is the 8-bit sample.
        for (int32_t x = 0; x < p.in.width; ++x, in += 6, out += 3) {
            out[0] = in[1];
            out[1] = in[3];
            out[2] = in[5];
        }
    } else {
        std::memcpy(out, in, size_t(p.inStride));
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
    std::memset(out, 0, kInfoHeaderBytes);
    StoreLE32(out + dibfield::kSize, kInfoHeaderBytes);
    StoreLE32(out + dibfield::kWidth, uint32_t(p.in.width));
    StoreLE32(out + dibfield::kHeight, uint32_t(p.rows));
    out[dibfield::kPlanes] = 1;
    out[dibfield::kBitCount] = uint8_t(p.outDepth);
    bool rle = p.in.compression == kBiRle8 || p.in.compression == kBiRle4;
    StoreLE32(out + dibfield::kCompression, rle ? p.in.compression : kBiRgb);
    StoreLE32(out + dibfield::kSizeImage, uint32_t(p.outImage));
    if (p.in.headerSize != kCoreHeaderBytes)
        std::memcpy(out + dibfield::kXPelsPerMeter, dib + dibfield::kXPelsPerMeter, 8);
    StoreLE32(out + dibfield::kClrUsed, p.outEntries);

    uint8_t* entry = out + kInfoHeaderBytes;
    for (uint32_t i = 0; i < p.outEntries; ++i, entry += 4) {
        const uint8_t* from = dib + p.in.headerSize + uint64_t(i) * p.in.entryBytes;
        entry[0] = from[0], entry[1] = from[1], entry[2] = from[2], entry[3] = 0;
    }
    uint8_t* bits = entry;
    std::memset(bits, 0, size_t(p.outImage));
    if (rle) {
        // Compressed rows are always stored bottom-up; they only need the plain header.
        std::memcpy(bits, dib + p.inBits, size_t(p.outImage));
        return true;
    }
    // The copy is stored bottom-up: its last stored line is the picture's top row.
    for (int64_t row = 0; row < p.rows; ++row) {
        int64_t stored = p.in.height > 0 ? p.rows - 1 - row : row;
        ConvertRow(p, dib + p.inBits + stored * p.inStride, bits + (p.rows - 1 - row) * p.outStride);
    }
    return true;
}
