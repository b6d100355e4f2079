// A DIB's rows packed as PNG and PDF pack them.
#include "dib/dib_export.h"

#include "base/little_endian.h"

#include <algorithm>
#include <cstring>

namespace {
// 10 and 10,000 dots per inch in pels per metre: a header outside says something else
// (a source that wrote dots per inch into the field, or a value from nowhere).
constexpr int32_t kFewestPels = 394, kMostPels = 393701;

int32_t Sane(int32_t pelsPerMeter)
{
    return pelsPerMeter >= kFewestPels && pelsPerMeter <= kMostPels ? pelsPerMeter : 0;
}

void ReadResolution(const uint8_t* dib, DibExportPlan& p)
{
    if (p.pixels.frame.layout.headerSize == kCoreHeaderBytes)
        return;
    int32_t x = Sane(int32_t(LoadLE32(dib + dibfield::kXPelsPerMeter)));
    int32_t y = Sane(int32_t(LoadLE32(dib + dibfield::kYPelsPerMeter)));
    p.xPelsPerMeter = x != 0 ? x : y;
    p.yPelsPerMeter = y != 0 ? y : x;
}

// Whether the first 2^depth entries are an even grey ramp, up or down.
void ReadPalette(DibExportPlan& p)
{
    const uint32_t n = 1u << p.pixels.frame.layout.bitCount;
    bool up = true, down = true;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* rgb = p.pixels.table[i];
        bool grey = rgb[0] == rgb[1] && rgb[1] == rgb[2];
        up = up && grey && rgb[0] == i * 255 / (n - 1);
        down = down && grey && rgb[0] == (n - 1 - i) * 255 / (n - 1);
    }
    p.paletteEntries = n;
    p.model = up || down ? DibColorModel::Grey : DibColorModel::Palette;
    p.invertedGrey = !up && down;
}
}  // namespace

bool DibExportPlanFor(const uint8_t* dib, size_t size, DibExportPlan& p)
{
    p = DibExportPlan{};
    if (!DibReadPixels(dib, size, p.pixels))
        return false;
    const DibFrame& f = p.pixels.frame;
    p.width = int32_t(f.width);
    p.height = int32_t(f.rows);
    ReadResolution(dib, p);
    const uint16_t depth = f.layout.bitCount;
    if (depth <= 8) {
        ReadPalette(p);
        p.bitDepth = depth;
        p.channels = 1;
    } else if (depth == 16 || depth == 32) {
        p.channels = p.pixels.HasAlpha() ? 4 : 3;
        p.model = p.pixels.HasAlpha() ? DibColorModel::Rgba : DibColorModel::Rgb;
    } else {
        p.bitDepth = depth == 48 ? 16 : 8;
    }
    p.rowBytes = (size_t(p.width) * size_t(p.channels * p.bitDepth) + 7) / 8;
    return true;
}

void DibExportRow(const DibExportPlan& p, int row, uint8_t* out)
{
    const uint8_t* in = p.pixels.Line(row);
    switch (p.pixels.frame.layout.bitCount) {
    case 48:
        // Blue, green, red little-endian samples to red, green, blue big-endian ones.
        for (int32_t x = 0; x < p.width; ++x, in += 6, out += 6)
            for (int c = 0; c < 3; ++c)
                out[2 * c] = in[5 - 2 * c], out[2 * c + 1] = in[4 - 2 * c];
        break;
    case 24:
    case 16:
    case 32:
        if (p.channels == 4)
            DibPixelsRGBA(p.pixels, row, out);
        else
            DibPixelsRGB(p.pixels, row, out);
        break;
    default: {
        // Indices as they are stored, which is how both formats pack them.
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
