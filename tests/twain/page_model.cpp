#include "page_model.h"

#include <algorithm>

#include "dib/dib_bytes.h"

namespace pagemodel {

namespace {

void PutBits(std::vector<std::uint8_t>& out, std::uint64_t at, int n, std::uint64_t v)
{
    for (int i = n - 1; i >= 0; --i, ++at) {
        if ((v >> i) & 1u)
            out[at / 8] |= std::uint8_t(0x80u >> (at % 8));
    }
}

std::uint64_t GetBits(const std::uint8_t* p, std::uint64_t at, int n)
{
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i, ++at)
        v = (v << 1) | ((p[at / 8] >> (7 - at % 8)) & 1u);
    return v;
}

int PlaneBits(const PageSpec& page)
{
    return page.planar ? page.bitsPerPixel / page.samples : page.bitsPerPixel;
}

// The bits of one plane's pixel as the source sends it.
std::uint64_t SourcePixel(const PageSpec& page, int x, int y, int plane)
{
    if (page.planar)
        return Sample(page, x, y, plane);
    std::uint64_t v = 0;
    for (int c = 0; c < page.samples; ++c)
        v = (v << BitsPerSample(page)) | Sample(page, x, y, c);
    return v;
}

}  // namespace

int BitsPerSample(const PageSpec& page)
{
    return page.bitsPerPixel / page.samples;
}

std::uint32_t Sample(const PageSpec& page, int x, int y, int c)
{
    const int bits = BitsPerSample(page);
    const std::uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    const std::uint32_t v = std::uint32_t(x * 29 + y * 7 + c * 101 + (x * y) % 5);
    return (bits > 8 ? v * 2957u : v) & mask;
}

TW_IMAGEINFO Info(const PageSpec& page)
{
    TW_IMAGEINFO info{};
    info.XResolution = TW_FIX32{300, 0};
    info.YResolution = TW_FIX32{200, 0};
    info.ImageWidth = page.width;
    info.ImageLength = page.length;
    info.SamplesPerPixel = page.samples;
    for (int c = 0; c < page.samples && c < 8; ++c)
        info.BitsPerSample[c] = TW_INT16(BitsPerSample(page));
    info.BitsPerPixel = page.bitsPerPixel;
    info.Planar = page.planar ? 1 : 0;
    info.PixelType = page.pixelType;
    info.Compression = TWCP_NONE;
    return info;
}

std::uint32_t RowBytes(std::uint64_t bits, Pad pad)
{
    const auto byteRow = std::uint32_t((bits + 7) / 8);
    switch (pad) {
    case Pad::word: return std::uint32_t((bits + 31) / 32 * 4);
    case Pad::byte: return byteRow;
    case Pad::odd: return byteRow + 5;  // never the word-padded length, which is at most 3 more
    }
    return byteRow;
}

std::vector<Strip> Strips(const PageSpec& page, int rowsPerStrip, int columnsPerStrip, Pad pad, bool doneOnLast)
{
    std::vector<Strip> strips;
    const int columnsEach = columnsPerStrip > 0 ? columnsPerStrip : page.width;
    const int planes = page.planar ? page.samples : 1;
    const int bits = PlaneBits(page);
    for (int plane = 0; plane < planes; ++plane) {
        for (int y0 = 0; y0 < page.length; y0 += rowsPerStrip) {
            for (int x0 = 0; x0 < page.width; x0 += columnsEach) {
                const int rows = std::min(rowsPerStrip, page.length - y0);
                const int columns = std::min(columnsEach, page.width - x0);
                Strip s;
                s.mx.Compression = TWCP_NONE;
                s.mx.BytesPerRow = RowBytes(std::uint64_t(columns) * bits, pad);
                s.mx.Columns = std::uint32_t(columns);
                s.mx.Rows = std::uint32_t(rows);
                s.mx.XOffset = std::uint32_t(x0);
                s.mx.YOffset = std::uint32_t(y0);
                s.mx.BytesWritten = s.mx.BytesPerRow * std::uint32_t(rows);
                s.bytes.assign(s.mx.BytesWritten, 0);
                for (int r = 0; r < rows; ++r) {
                    for (int j = 0; j < columns; ++j) {
                        PutBits(s.bytes, std::uint64_t(r) * s.mx.BytesPerRow * 8 + std::uint64_t(j) * bits, bits,
                                SourcePixel(page, x0 + j, y0 + r, plane));
                    }
                }
                strips.push_back(std::move(s));
            }
        }
    }
    if (doneOnLast && !strips.empty())
        strips.back().last = true;
    return strips;
}

std::string CompareDib(const PageSpec& page, const std::uint8_t* dib, std::size_t size)
{
    if (!DibIsSafe(dib, size))
        return "the DIB is not safe";
    const DibLayout layout = DibReadLayout(dib);
    const int depth = DibNormalizeDepth(page.bitsPerPixel);
    if (layout.width != page.width || layout.height != page.length || layout.bitCount != depth)
        return "the DIB has the wrong geometry";
    std::vector<std::uint8_t> row(std::size_t(::RowBytes(depth, page.width)));
    for (int y = 0; y < page.length; ++y) {
        if (!DibMemReadRow(dib, size, y, row.data()))
            return "row " + std::to_string(y) + " cannot be read";
        for (int x = 0; x < page.width; ++x) {
            std::uint64_t want, got;
            if (depth == 24) {
                // blue, green, red: the last three of the source's first samples reversed
                want = std::uint64_t(Sample(page, x, y, 2)) << 16 | Sample(page, x, y, 1) << 8 | Sample(page, x, y, 0);
                got = GetBits(row.data(), std::uint64_t(x) * 24, 24);
            } else {
                want = SourcePixel(page, x, y, 0);
                got = GetBits(row.data(), std::uint64_t(x) * depth, depth);
            }
            if (want != got)
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " + std::to_string(got) +
                       ", the page has " + std::to_string(want);
        }
    }
    return "";
}

}  // namespace pagemodel
