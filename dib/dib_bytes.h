#pragma once
// Byte-level view of a packed DIB (info header, colour table, pixel rows) and of the
// 14-byte bitmap file header. Nothing here includes windows.h: the same code runs in
// the program and natively under the sanitizers and the fuzzer.
//
// Every operation that takes a pointer and a size first asks DibIsSafe, so it stays
// inside the block whatever the header says; an unsafe DIB, a row outside the image
// or a compressed DIB makes it do nothing and answer false.

#include <cstddef>
#include <cstdint>

// Every stored row is padded to a multiple of 4 bytes. Signed 32-bit arithmetic, as the
// rest of the program computes it; DibIsSafe guarantees it cannot overflow.
constexpr int RowBytes(int bitCount, int width)
{
    return ((bitCount * width + 31) / 32) * 4;
}

// Field offsets of BITMAPINFOHEADER and BITMAPCOREHEADER (little-endian).
namespace dibfield {
constexpr size_t kSize = 0, kWidth = 4, kHeight = 8, kPlanes = 12, kBitCount = 14,
                 kCompression = 16, kSizeImage = 20, kXPelsPerMeter = 24,
                 kYPelsPerMeter = 28, kClrUsed = 32, kClrImportant = 36;
constexpr size_t kCoreWidth = 4, kCoreHeight = 6, kCorePlanes = 8, kCoreBitCount = 10;
}  // namespace dibfield

constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kCoreHeaderBytes = 12;
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;
// No scanner page comes near a million pixels on a side; larger values are lies.
constexpr int32_t kDibMaxSide = 1 << 20;
// A 32-bit process cannot hold a larger block; a file announcing more is lying.
constexpr uint32_t kDibMaxBytes = 1u << 30;

// The header of a DIB, read with its own layout (a 12-byte core header has 16-bit
// sizes and 3-byte colour entries).
struct DibLayout {
    uint32_t headerSize;
    int32_t width;         // as stored
    int32_t height;        // as stored: negative means the rows are stored top-down
    uint16_t bitCount;
    uint32_t compression;  // 0 for a core header
    uint32_t sizeImage;    // 0 for a core header
    uint32_t colorCount;   // the colour-count rule
    uint32_t entryBytes;   // 4 (RGBQUAD), or 3 (RGBTRIPLE) for a core header
};

// Reads the header without any check: 12 bytes for a core header, 40 otherwise.
DibLayout DibReadLayout(const void* header);
// Whether a block of `size` bytes holds a whole header of either kind to read.
bool DibHeaderReadable(const void* data, size_t size);
uint32_t DibHeaderColorCount(const void* header);
// Offsets from the start of the block, as the layout computes them.
uint64_t DibBitsOffset(const DibLayout& layout);
uint64_t DibImageBytes(const DibLayout& layout);  // RowBytes x |height|

// Whether a packed DIB of `size` bytes can be handed to every DIB operation: its header
// is whole and of a known kind, its sizes and depth are sane and its colour table and
// pixel data lie inside the block.
bool DibIsSafe(const void* data, size_t size);
// The same judgement from the block's first bytes alone: header holds the first
// min(size, kInfoHeaderBytes) bytes of a packed DIB of `size` bytes. Nothing behind the
// info header is read, so a DIB can be judged while it streams in.
bool DibHeaderIsSafe(const void* header, size_t size);

// Creation: the depth a request turns into, and the block size of such a DIB, or -1
// when no safe DIB of that geometry exists.
int DibNormalizeDepth(int bitCount);
int64_t DibCreateBytes(int depth, int width, int height);
// Writes the header and the gray ramp into a block of DibCreateBytes bytes.
void DibMemInit(uint8_t* block, int depth, int width, int height);

// Header and colour table changes.
bool DibMemSetColor(uint8_t* dib, size_t size, int index, uint8_t red, uint8_t green,
                    uint8_t blue);
bool DibMemFillGrayRamp(uint8_t* dib, size_t size);

// Row access; row counts from the top of the picture whatever the storage order.
int64_t DibMemRowOffset(const uint8_t* dib, size_t size, int row);
bool DibMemReadRow(const uint8_t* dib, size_t size, int row, uint8_t* dest);
bool DibMemWriteRow(uint8_t* dib, size_t size, int row, const uint8_t* src);
bool DibMemWriteRowChannel(uint8_t* dib, size_t size, int row, const uint8_t* src,
                           int channel);
// dest receives 3 x width bytes, red, green, blue; depths other than 1, 4, 8 and 24
// write nothing and answer false.
bool DibMemReadRowRGB(const uint8_t* dib, size_t size, int row, uint8_t* dest);
// Bulk stores clip each row to the image; src must hold rows x srcStride bytes.
bool DibMemStoreRows(uint8_t* dib, size_t size, int x, int y, int width, int rows,
                     const uint8_t* src, int srcStride);
bool DibMemStorePlane(uint8_t* dib, size_t size, int channel, int x, int y, int width,
                      int rows, const uint8_t* src, int srcStride);
bool DibMemSwapRedBlue(uint8_t* dib, size_t size);
// Copies `pixels` 3-byte pixels with their first and last bytes exchanged: RGB as a source
// sends it into a DIB's BGR, on the way in instead of in a pass of its own.
void DibCopyRedBlueSwapped(uint8_t* to, const uint8_t* from, size_t pixels);

// Drawing. DrawDib draws a DIB with a 40-byte info header and rows stored bottom-up;
// anything else (a top-down DIB, a core or larger header, bit fields, 48 bits) is drawn
// through an upright copy, so the DIB itself is never changed for it.
bool DibMemDrawsAsIs(const uint8_t* dib, size_t size);
// Bytes of the upright copy, or 0 for a DIB that is not safe.
uint64_t DibMemUprightBytes(const uint8_t* dib, size_t size);
// Writes the upright copy into out (DibMemUprightBytes bytes): a 40-byte info header with
// a positive height, the colour table as 4-byte entries, the rows bottom-up, the same
// picture pixel for pixel. Bit fields become 32-bit pixels and 48-bit pixels 24-bit ones
// (the high byte of each sample); compressed rows are copied as they are.
bool DibMemMakeUpright(const uint8_t* dib, size_t size, uint8_t* out, size_t outSize);

// Bitmap file header (BITMAPFILEHEADER).
constexpr size_t kFileHeaderBytes = 14;
constexpr uint16_t kBmpSignature = 0x4D42;  // "BM"
struct BmpFileHeader {
    uint16_t type;
    uint32_t size;
    uint16_t reserved1;
    uint16_t reserved2;
    uint32_t offBits;
};
BmpFileHeader BmpParseFileHeader(const uint8_t* bytes);  // 14 bytes
void BmpBuildFileHeader(const BmpFileHeader& header, uint8_t* out);
// Bytes of DIB a file header announces (bfSize - 14), or -1 when bfSize is below 14 or
// announces more than any DIB can hold.
int64_t BmpDibBytes(const BmpFileHeader& header);
// Prepares writing `dib` as a bitmap file: stores biSizeImage of an uncompressed DIB in
// its header, builds the file header and answers how many DIB bytes follow it, or -1
// when the DIB cannot be written (unsafe, or compressed without a size).
int64_t DibMemPrepareFile(uint8_t* dib, size_t size, BmpFileHeader* header);
