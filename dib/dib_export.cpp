// A DIB's rows packed as PNG and PDF pack them.
#include "dib/dib_export.h"

#include "base/little_endian.h"

#include <algorithm>
#include <cstring>

namespace {
// The colour fields of 16- and 32-bit pixels: given by a BI_BITFIELDS header (behind a
// 40-byte header, inside a larger one, whose version 4 and 5 also name an alpha field),
// else 5-5-5 and 8-8-8.
bool ReadMasks(const uint8_t* dib, size_t size, DibExportPlan& p)
{
    const DibLayout& l = p.layout;
    if (l.compression != kBiBitfields) {
        bool five = l.bitCount == 16;
        p.masks[0] = five ? 0x7C00 : 0xFF0000;
        p.masks[1] = five ? 0x03E0 : 0x00FF00;
        p.masks[2] = five ? 0x001F : 0x0000FF;
        return true;
    }
    if (uint64_t(kInfoHeaderBytes) + 12 > size)
        return false;
    for (int i = 0; i < 3; ++i)
        p.masks[i] = LoadLE32(dib + kInfoHeaderBytes + 4 * i);
    if (l.headerSize >= kInfoHeaderBytes + 16 && l.bitCount == 32)
        p.masks[3] = LoadLE32(dib + kInfoHeaderBytes + 12);
    return p.bitsOffset + uint64_t(p.stride) * uint64_t(p.height) <= size;
}

// The table's first 2^depth entries (black past its end), and whether they are an even
// grey ramp, up or down.
void ReadPalette(const uint8_t* dib, DibExportPlan& p)
{
    const DibLayout& l = p.layout;
    uint32_t n = 1u << l.bitCount;
    bool up = true, down = true;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* rgb = p.palette + 3 * i;
        if (i < l.colorCount) {
            const uint8_t* entry = dib + l.headerSize + uint64_t(i) * l.entryBytes;
            rgb[0] = entry[2], rgb[1] = entry[1], rgb[2] = entry[0];
        }
        bool grey = rgb[0] == rgb[1] && rgb[1] == rgb[2];
        up = up && grey && rgb[0] == i * 255 / (n - 1);
        down = down && grey && rgb[0] == (n - 1 - i) * 255 / (n - 1);
    }
    p.paletteEntries = n;
    p.model = up || down ? DibColorModel::Grey : DibColorModel::Palette;
    p.invertedGrey = !up && down;
}

void PackFields(const DibExportPlan& p, const uint8_t* in, uint8_t* out)
{
    const int bytes = p.layout.bitCount / 8;
    for (int32_t x = 0; x < p.width; ++x, in += bytes) {
        uint32_t pixel = bytes == 2 ? uint32_t{LoadLE16(in)} : LoadLE32(in);
        for (int c = 0; c < p.channels; ++c)
            *out++ = DibFieldByte(pixel, p.masks[c]);
    }
}
}  // namespace

bool DibExportPlanFor(const uint8_t* dib, size_t size, DibExportPlan& p)
{
    if (!DibIsSafe(dib, size) || DibIsRle(dib, size))
        return false;
    p = DibExportPlan{};
    p.layout = DibReadLayout(dib);
    const DibLayout& l = p.layout;
    p.width = l.width;
    p.height = l.height < 0 ? -l.height : l.height;
    p.bitsOffset = DibBitsOffset(l);
    p.stride = RowBytes(l.bitCount, l.width);
    if (l.headerSize != kCoreHeaderBytes) {
        p.xPelsPerMeter = int32_t(LoadLE32(dib + dibfield::kXPelsPerMeter));
        p.yPelsPerMeter = int32_t(LoadLE32(dib + dibfield::kYPelsPerMeter));
    }
    if (l.bitCount <= 8) {
        ReadPalette(dib, p);
        p.bitDepth = l.bitCount;
        p.channels = 1;
    } else if (l.bitCount == 16 || l.bitCount == 32) {
        if (!ReadMasks(dib, size, p))
            return false;
        p.channels = p.masks[3] != 0 ? 4 : 3;
        p.model = p.masks[3] != 0 ? DibColorModel::Rgba : DibColorModel::Rgb;
    } else {
        p.bitDepth = l.bitCount == 48 ? 16 : 8;
    }
    p.rowBytes = (size_t(p.width) * size_t(p.channels * p.bitDepth) + 7) / 8;
    return true;
}

void DibExportRow(const DibExportPlan& p, const uint8_t* dib, int row, uint8_t* out)
{
    int64_t stored = p.layout.height > 0 ? p.height - 1 - row : row;
    const uint8_t* in = dib + p.bitsOffset + stored * p.stride;
    switch (p.layout.bitCount) {
    case 24:
        for (int32_t x = 0; x < p.width; ++x, in += 3, out += 3)
            out[0] = in[2], out[1] = in[1], out[2] = in[0];
        break;
    case 48:
        // Blue, green, red little-endian samples to red, green, blue big-endian ones.
        for (int32_t x = 0; x < p.width; ++x, in += 6, out += 6)
            for (int c = 0; c < 3; ++c)
                out[2 * c] = in[5 - 2 * c], out[2 * c + 1] = in[4 - 2 * c];
        break;
    case 16:
    case 32:
        PackFields(p, in, out);
        break;
    default: {
        std::memcpy(out, in, p.rowBytes);
        // The bits past the last pixel are the row's padding: cleared, not carried along.
        int used = int((int64_t(p.width) * p.bitDepth) % 8);
        if (used != 0)
            out[p.rowBytes - 1] &= uint8_t(0xFF00 >> used);
    }
    }
}

bool DibIsRle(const uint8_t* dib, size_t size)
{
    if (!DibHeaderReadable(dib, size))
        return false;
    uint32_t compression = DibReadLayout(dib).compression;
    return compression == kBiRle8 || compression == kBiRle4;
}

namespace {
// Sets pixel x of a stored line of 4- or 8-bit indices; pixels past the line are dropped.
void PutIndex(uint8_t* line, int32_t width, bool four, int32_t x, uint8_t index)
{
    if (x < 0 || x >= width)
        return;
    if (!four)
        line[x] = index;
    else if (x % 2 == 0)
        line[x / 2] = uint8_t((line[x / 2] & 0x0F) | index << 4);
    else
        line[x / 2] = uint8_t((line[x / 2] & 0xF0) | (index & 0x0F));
}

// Decodes the runs into the plain rows (bottom-up, as run-length data always is).
void DecodeRuns(const uint8_t* in, size_t count, bool four, int32_t width, int64_t rows, int64_t stride,
                uint8_t* bits)
{
    int64_t y = 0;
    int32_t x = 0;
    size_t at = 0;
    auto index = [four](uint8_t value, int32_t i) -> uint8_t { return four ? (i % 2 ? value & 0x0F : value >> 4) : value; };
    while (at + 1 < count && y < rows) {
        uint8_t first = in[at], second = in[at + 1];
        at += 2;
        if (first > 0) {
            for (int32_t i = 0; i < first; ++i)
                PutIndex(bits + y * stride, width, four, x++, index(second, i));
        } else if (second == 0) {
            x = 0, ++y;
        } else if (second == 1) {
            return;
        } else if (second == 2) {
            if (at + 1 >= count)
                return;
            x += in[at], y += in[at + 1];
            at += 2;
        } else {
            // Absolute run: second pixels, padded to a whole 16-bit word.
            size_t bytes = four ? (second + 1u) / 2 : second;
            for (int32_t i = 0; i < second && at + size_t(four ? i / 2 : i) < count; ++i)
                PutIndex(bits + y * stride, width, four, x++, index(in[at + size_t(four ? i / 2 : i)], i));
            at += (bytes + 1) & ~size_t(1);
        }
    }
}
}  // namespace

bool DibMemExpandRle(const uint8_t* dib, size_t size, std::vector<uint8_t>& plain)
{
    if (!DibIsSafe(dib, size) || !DibIsRle(dib, size))
        return false;
    DibLayout l = DibReadLayout(dib);
    uint64_t table = uint64_t(l.colorCount) * 4;
    int64_t stride = RowBytes(l.bitCount, l.width);
    int64_t rows = l.height;  // run-length data is bottom-up: DibIsSafe refuses a negative height
    plain.assign(kInfoHeaderBytes + table + uint64_t(stride * rows), 0);
    std::memcpy(plain.data(), dib, kInfoHeaderBytes);
    const uint8_t size40[4] = {kInfoHeaderBytes, 0, 0, 0};
    std::memcpy(plain.data() + dibfield::kSize, size40, 4);
    std::memset(plain.data() + dibfield::kCompression, 0, 8);  // BI_RGB, and the size left to the writer
    std::memcpy(plain.data() + kInfoHeaderBytes, dib + l.headerSize, table);
    DecodeRuns(dib + DibBitsOffset(l), l.sizeImage, l.compression == kBiRle4, l.width, rows, stride,
               plain.data() + kInfoHeaderBytes + table);
    return true;
}
