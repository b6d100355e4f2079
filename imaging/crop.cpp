// Cutting a rectangle out of a DIB byte for byte: the header, colour table or masks and
// whatever follows the rows stay as they are, so the cut page is the same kind of DIB.
#include "imaging/crop.h"

#include "dib/dib_pixels.h"

#include <cstring>

namespace imaging {
namespace {
bool Inside(const DibFrame& f, const Box& box)
{
    return box.left >= 0 && box.top >= 0 && box.left < box.right && box.top < box.bottom &&
           box.right <= f.width && box.bottom <= f.rows;
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
    DibFrame f;
    if (!DibReadFrame(dib, size, f) || !Inside(f, box))
        return 0;
    return size - f.image + DibResizedFrame(f, box.right - box.left, box.bottom - box.top).image;
}

bool Crop(const uint8_t* dib, size_t size, const Box& box, uint8_t* out, size_t outSize)
{
    DibFrame f;
    if (!DibReadFrame(dib, size, f) || !Inside(f, box) || outSize < CroppedBytes(dib, size, box))
        return false;
    const DibFrame c = DibResizedFrame(f, box.right - box.left, box.bottom - box.top);
    std::memcpy(out, dib, size_t(f.bits));
    DibPatchGeometry(out, size_t(f.bits), f, c);
    const uint64_t tail = size - f.bits - f.image;
    uint8_t* bits = out + f.bits;
    std::memset(bits, 0, size_t(c.image));
    for (int64_t y = 0; y < c.rows; ++y)
        CopyPixels(dib + f.bits + DibStoredLine(f, box.top + y) * f.stride, bits + DibStoredLine(c, y) * c.stride,
                   f.layout.bitCount, box.left, c.width);
    std::memcpy(bits + c.image, dib + f.bits + f.image, size_t(tail));
    return true;
}

}  // namespace imaging
