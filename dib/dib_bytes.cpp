#include "dib/dib_bytes.h"

#include "base/little_endian.h"

#include <cstring>

namespace {
uint32_t ColorsForDepth(uint32_t bitCount)
{
    return bitCount <= 8 ? 1u << bitCount : 0;
}

bool DepthSupported(const DibLayout& layout)
{
    switch (layout.bitCount) {
    case 1: case 4: case 8: case 24:
        return true;
    case 16: case 32: case 48:
        return layout.headerSize != kCoreHeaderBytes;
    default:
        return false;
    }
}

// The compression must be one whose data the program can carry, and the bytes that the
// writer copies for it (biSizeImage of a run-length DIB) must lie in the block. Bit-field
// rows are uncompressed: their length follows from the geometry, as for BI_RGB, and writers
// disagree on whether biSizeImage counts the masks.
bool CompressionSupported(const DibLayout& layout, uint64_t bits, size_t size)
{
    switch (layout.compression) {
    case kBiRgb:
        return true;
    case kBiBitfields:
        return layout.bitCount == 16 || layout.bitCount == 32;
    case kBiRle8:
    case kBiRle4:
        return layout.bitCount == (layout.compression == kBiRle8 ? 8 : 4) && layout.height > 0 &&
               layout.sizeImage != 0 && bits + layout.sizeImage <= size;
    default:
        return false;
    }
}
}  // namespace

DibLayout DibReadLayout(const void* header)
{
    const auto* p = static_cast<const uint8_t*>(header);
    DibLayout layout{};
    layout.headerSize = LoadLE32(p + dibfield::kSize);
    if (layout.headerSize == kCoreHeaderBytes) {
        layout.width = LoadLE16(p + dibfield::kCoreWidth);
        layout.height = LoadLE16(p + dibfield::kCoreHeight);
        layout.bitCount = LoadLE16(p + dibfield::kCoreBitCount);
        layout.colorCount = ColorsForDepth(layout.bitCount);
        layout.entryBytes = 3;
        return layout;
    }
    layout.width = int32_t(LoadLE32(p + dibfield::kWidth));
    layout.height = int32_t(LoadLE32(p + dibfield::kHeight));
    layout.bitCount = LoadLE16(p + dibfield::kBitCount);
    layout.compression = LoadLE32(p + dibfield::kCompression);
    layout.sizeImage = LoadLE32(p + dibfield::kSizeImage);
    uint32_t used = LoadLE32(p + dibfield::kClrUsed);
    layout.colorCount = used != 0 ? used : ColorsForDepth(layout.bitCount);
    layout.entryBytes = 4;
    return layout;
}

bool DibHeaderReadable(const void* data, size_t size)
{
    if (data == nullptr || size < 4)
        return false;
    uint32_t headerSize = LoadLE32(static_cast<const uint8_t*>(data));
    return size >= (headerSize == kCoreHeaderBytes ? kCoreHeaderBytes : kInfoHeaderBytes);
}

uint32_t DibHeaderColorCount(const void* header)
{
    return DibReadLayout(header).colorCount;
}

// Behind a 40-byte header the three colour masks of BI_BITFIELDS come before the colour
// table and the rows; a larger header holds them itself.
uint64_t DibBitsOffset(const DibLayout& layout)
{
    const uint64_t masks = layout.compression == kBiBitfields && layout.headerSize == kInfoHeaderBytes ? 12 : 0;
    return uint64_t(layout.headerSize) + masks + uint64_t(layout.entryBytes) * layout.colorCount;
}

uint64_t DibImageBytes(const DibLayout& layout)
{
    int64_t height = layout.height < 0 ? -int64_t(layout.height) : layout.height;
    int64_t stride = (int64_t(layout.bitCount) * layout.width + 31) / 32 * 4;
    return uint64_t(stride * height);
}

bool DibIsSafe(const void* data, size_t size)
{
    return DibHeaderIsSafe(data, size);
}

bool DibHeaderIsSafe(const void* header, size_t size)
{
    if (header == nullptr || size < kCoreHeaderBytes)
        return false;
    uint32_t headerSize = LoadLE32(static_cast<const uint8_t*>(header));
    if (headerSize != kCoreHeaderBytes && (headerSize < kInfoHeaderBytes || headerSize > size))
        return false;
    DibLayout layout = DibReadLayout(header);
    if (!DepthSupported(layout))
        return false;
    if (layout.width <= 0 || layout.width > kDibMaxSide || layout.height == 0 ||
        layout.height > kDibMaxSide || layout.height < -kDibMaxSide)
        return false;
    uint64_t image = DibImageBytes(layout);
    if (image > uint64_t(INT32_MAX))
        return false;
    uint64_t bits = DibBitsOffset(layout);
    if (bits > size || !CompressionSupported(layout, bits, size))
        return false;
    // Compressed rows are shorter than the uncompressed layout; no row operation
    // touches them, so only the writer's byte count above must fit.
    if (layout.compression == kBiRle8 || layout.compression == kBiRle4)
        return true;
    return bits + image <= size;
}

int DibNormalizeDepth(int bitCount)
{
    if (bitCount == 16 || bitCount == 48)
        return bitCount;
    if (bitCount > 8)
        return 24;
    if (bitCount >= 5)
        return 8;
    if (bitCount >= 2)
        return 4;
    return bitCount;
}

int64_t DibCreateBytes(int depth, int width, int height)
{
    if (depth < 1 || depth != DibNormalizeDepth(depth) || width <= 0 || width > kDibMaxSide ||
        height == 0 || height > kDibMaxSide || height < -kDibMaxSide)
        return -1;
    int64_t rows = height < 0 ? -int64_t(height) : height;
    int64_t image = (int64_t(depth) * width + 31) / 32 * 4 * rows;
    if (image > INT32_MAX)
        return -1;
    return kInfoHeaderBytes + 4 * int64_t(ColorsForDepth(uint32_t(depth))) + image;
}

void DibMemInit(uint8_t* block, int depth, int width, int height)
{
    int rows = height < 0 ? -height : height;
    std::memset(block, 0, kInfoHeaderBytes);
    StoreLE32(block + dibfield::kSize, kInfoHeaderBytes);
    StoreLE32(block + dibfield::kWidth, uint32_t(width));
    StoreLE32(block + dibfield::kHeight, uint32_t(rows));
    StoreLE16(block + dibfield::kPlanes, 1);
    StoreLE16(block + dibfield::kBitCount, uint16_t(depth));
    StoreLE32(block + dibfield::kSizeImage, uint32_t(RowBytes(depth, width) * rows));
    DibMemFillGrayRamp(block, size_t(DibCreateBytes(depth, width, rows)));
}

BmpFileHeader BmpParseFileHeader(const uint8_t* bytes)
{
    return BmpFileHeader{LoadLE16(bytes), LoadLE32(bytes + 2), LoadLE16(bytes + 6), LoadLE16(bytes + 8),
                         LoadLE32(bytes + 10)};
}

void BmpBuildFileHeader(const BmpFileHeader& header, uint8_t* out)
{
    StoreLE16(out, header.type);
    StoreLE32(out + 2, header.size);
    StoreLE16(out + 6, header.reserved1);
    StoreLE16(out + 8, header.reserved2);
    StoreLE32(out + 10, header.offBits);
}

int64_t BmpDibBytes(const BmpFileHeader& header)
{
    if (header.size < kFileHeaderBytes || header.size - kFileHeaderBytes > kDibMaxBytes)
        return -1;
    return int64_t(header.size) - int64_t(kFileHeaderBytes);
}

int64_t DibMemPrepareFile(uint8_t* dib, size_t size, BmpFileHeader* header)
{
    if (!DibIsSafe(dib, size))
        return -1;
    DibLayout layout = DibReadLayout(dib);
    uint64_t image = layout.sizeImage;
    if (layout.compression == kBiRgb || layout.compression == kBiBitfields) {
        image = DibImageBytes(layout);
        if (layout.headerSize != kCoreHeaderBytes)
            StoreLE32(dib + dibfield::kSizeImage, uint32_t(image));
    } else if (image == 0) {
        return -1;
    }
    uint64_t bits = DibBitsOffset(layout);
    *header = BmpFileHeader{kBmpSignature, uint32_t(kFileHeaderBytes + bits + image), 0, 0,
                            uint32_t(kFileHeaderBytes + bits)};
    return int64_t(bits + image);
}
