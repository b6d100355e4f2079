// Cutting a rectangle out of a DIB byte for byte: the header, colour table or masks and
// whatever follows the rows stay as they are, so the cut page is the same kind of DIB.
#include "imaging/crop.h"

#include "base/little_endian.h"
#include "dib/dib_bytes.h"

#include <cstring>

namespace imaging {
namespace {
struct Frame {
    DibLayout layout;
    uint64_t bits = 0;
    int64_t rows = 0, stride = 0;
};

bool ReadFrame(const uint8_t* dib, size_t size, Frame& f)
{
    if (!DibIsSafe(dib, size))
        return false;
    f.layout = DibReadLayout(dib);
    if (f.layout.compression != kBiRgb && f.layout.compression != kBiBitfields)
        return false;
    f.bits = DibBitsOffset(f.layout);
    f.rows = f.layout.height < 0 ? -int64_t(f.layout.height) : f.layout.height;
    f.stride = RowBytes(f.layout.bitCount, f.layout.width);
    return f.bits + uint64_t(f.stride * f.rows) <= size;
}

bool Inside(const Frame& f, const Box& box)
{
    return box.left >= 0 && box.top >= 0 && box.left < box.right && box.top < box.bottom &&
           box.right <= f.layout.width && box.bottom <= f.rows;
}

// Where picture row y (from the top) is stored.
int64_t Stored(const Frame& f, int64_t y)
{
    return f.layout.height > 0 ? f.rows - 1 - y : y;
}

// Pixels [left, left + count) of a row, packed from the start of out.
void CopyPixels(const uint8_t* in, uint8_t* out, int bitCount, int64_t left, int64_t count)
{
    if (bitCount >= 8) {
        std::memcpy(out, in + left * (bitCount / 8), size_t(count * (bitCount / 8)));
        return;
    }
    const int perByte = 8 / bitCount, mask = (1 << bitCount) - 1;
    for (int64_t x = 0; x < count; ++x) {
        int64_t from = left + x;
        int value = in[from / perByte] >> (8 - bitCount * int(from % perByte + 1)) & mask;
        out[x / perByte] |= uint8_t(value << (8 - bitCount * int(x % perByte + 1)));
    }
}
}  // namespace

uint64_t CroppedBytes(const uint8_t* dib, size_t size, const Box& box)
{
    Frame f;
    if (!ReadFrame(dib, size, f) || !Inside(f, box))
        return 0;
    uint64_t image = uint64_t(RowBytes(f.layout.bitCount, box.right - box.left)) * uint64_t(box.bottom - box.top);
    return size - uint64_t(f.stride * f.rows) + image;
}

bool Crop(const uint8_t* dib, size_t size, const Box& box, uint8_t* out, size_t outSize)
{
    Frame f;
    if (!ReadFrame(dib, size, f) || !Inside(f, box) || outSize < CroppedBytes(dib, size, box))
        return false;
    const int64_t width = box.right - box.left, rows = box.bottom - box.top;
    Frame c = f;
    c.stride = RowBytes(f.layout.bitCount, int(width));
    c.rows = rows;
    std::memcpy(out, dib, size_t(f.bits));
    if (f.layout.headerSize == kCoreHeaderBytes) {
        StoreLE16(out + dibfield::kCoreWidth, uint16_t(width));
        StoreLE16(out + dibfield::kCoreHeight, uint16_t(rows));
    } else {
        StoreLE32(out + dibfield::kWidth, uint32_t(width));
        StoreLE32(out + dibfield::kHeight, uint32_t(f.layout.height < 0 ? -rows : rows));
        if (f.layout.sizeImage != 0)
            StoreLE32(out + dibfield::kSizeImage, uint32_t(c.stride * rows));
    }
    const uint64_t tail = size - f.bits - uint64_t(f.stride * f.rows);
    uint8_t* bits = out + f.bits;
    std::memset(bits, 0, size_t(c.stride * rows));
    for (int64_t y = 0; y < rows; ++y)
        CopyPixels(dib + f.bits + Stored(f, box.top + y) * f.stride, bits + Stored(c, y) * c.stride,
                   f.layout.bitCount, box.left, width);
    std::memcpy(bits + c.stride * rows, dib + f.bits + f.stride * f.rows, size_t(tail));
    return true;
}

}  // namespace imaging
