#pragma once
// Reading back what the export writes, independently of its code: PNG files through
// libpng, and the pixels a bitmap's bytes hold.
#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dib/dib_builder.h"
#include "dib/dib_pixels.h"

namespace pngcheck {
using Bytes = std::vector<uint8_t>;

struct Decoded {
    int colourType = -1, bitDepth = 0, channels = 0;
    png_uint_32 xppm = 0, yppm = 0;
    std::vector<Bytes> rows;  // red, green, blue (alpha), 8 or 16 bits a sample
};

inline void ReadFrom(png_structp png, png_bytep out, png_size_t count)
{
    auto* at = static_cast<std::pair<const Bytes*, size_t>*>(png_get_io_ptr(png));
    if (at->second + count > at->first->size())
        png_error(png, "read past the end");
    std::memcpy(out, at->first->data() + at->second, count);
    at->second += count;
}

// Decodes with every sample widened to RGB(A), depths of 8 and 16 kept.
inline bool Decode(const Bytes& file, Decoded& d)
{
    std::pair<const Bytes*, size_t> at(&file, 0);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &at, ReadFrom);
    png_read_info(png, info);
    d.colourType = png_get_color_type(png, info);
    d.bitDepth = png_get_bit_depth(png, info);
    int unit = 0;
    png_get_pHYs(png, info, &d.xppm, &d.yppm, &unit);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    d.channels = png_get_channels(png, info);
    d.rows.assign(png_get_image_height(png, info), Bytes(png_get_rowbytes(png, info)));
    for (Bytes& row : d.rows)
        png_read_row(png, row.data(), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

inline uint32_t LE(const uint8_t* p, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// Pixel (x, y) from the top read straight from the DIB's bytes: red, green, blue (alpha).
inline std::vector<uint32_t> Expected(const Bytes& dib, int x, int y, bool alpha)
{
    DibLayout l = DibReadLayout(dib.data());
    bool fields = l.compression == kBiBitfields;
    uint64_t bits = DibBitsOffset(l);
    int rows = l.height < 0 ? -l.height : l.height;
    const uint8_t* row = dib.data() + bits + uint64_t(l.height > 0 ? rows - 1 - y : y) * RowBytes(l.bitCount, l.width);
    if (l.bitCount <= 8) {
        uint32_t index = row[x * l.bitCount / 8] >> (8 - l.bitCount - x * l.bitCount % 8) & ((1u << l.bitCount) - 1);
        if (index >= l.colorCount)
            return {0, 0, 0};
        const uint8_t* e = dib.data() + l.headerSize + index * l.entryBytes;
        return {e[2], e[1], e[0]};
    }
    const uint8_t* p = row + x * l.bitCount / 8;
    if (l.bitCount == 48)
        return {LE(p + 4, 2), LE(p + 2, 2), LE(p, 2)};
    if (l.bitCount == 24 || (l.bitCount == 32 && !fields))
        return {p[2], p[1], p[0]};
    uint32_t v = LE(p, l.bitCount / 8);
    if (!fields) {  // 5-5-5, each widened by repeating its high bits
        auto wide = [](uint32_t five) { return five << 3 | five >> 2; };
        return {wide(v >> 10 & 31), wide(v >> 5 & 31), wide(v & 31)};
    }
    std::vector<uint32_t> out;
    for (int c = 0; c < (alpha ? 4 : 3); ++c)
        out.push_back(DibFieldByte(v, LE(dib.data() + 40 + 4 * c, 4)));
    return out;
}

// Whether every pixel of the decoded PNG is the DIB's; highBytes compares only the high
// byte of 16-bit samples (pdfimages keeps no more).
inline ::testing::AssertionResult SamePixels(const Bytes& dib, const Decoded& d, bool highBytes = false)
{
    DibLayout l = DibReadLayout(dib.data());
    const int rows = l.height < 0 ? -l.height : l.height, bytes = d.bitDepth == 16 ? 2 : 1;
    if (int(d.rows.size()) != rows)
        return ::testing::AssertionFailure() << d.rows.size() << " rows, not " << rows;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < l.width; ++x) {
            std::vector<uint32_t> want = Expected(dib, x, y, d.channels == 4), got;
            for (int s = 0; s < d.channels; ++s) {
                const uint8_t* sample = &d.rows[y][(x * d.channels + s) * bytes];
                got.push_back(bytes == 2 ? uint32_t(sample[0] << 8 | sample[1]) : sample[0]);
            }
            for (size_t s = 0; highBytes && s < got.size(); ++s)
                got[s] >>= 8, want[s] >>= 8;
            if (got != want)
                return ::testing::AssertionFailure() << "pixel " << x << ", " << y << " differs";
        }
    return ::testing::AssertionSuccess();
}
}  // namespace pngcheck
