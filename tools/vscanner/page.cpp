// Drawing the generated page, and the byte layouts it travels in: source rows, packed
// DIB, bitmap file, TIFF and PackBits.
#include "tools/vscanner/page.h"

#include <algorithm>
#include <cstring>

namespace vs {
namespace {
constexpr double kMetresPerInch = 39.37007874015748;

void Put16(std::vector<std::uint8_t>& b, std::size_t at, unsigned v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

void StoreBits(std::uint8_t* row, int bits, int x, unsigned value)
{
    switch (bits) {
    case 1:
        if (value)
            row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        break;
    case 4:
        row[x / 2] |= static_cast<std::uint8_t>(x % 2 ? value : value << 4);
        break;
    default:
        row[x * (bits / 8)] = static_cast<std::uint8_t>(value);
        break;
    }
}

std::uint32_t Stride(const PageFormat& f)
{
    return ((static_cast<std::uint32_t>(f.width) * f.bits + 31) / 32) * 4;
}

std::uint32_t PelsPerMetre(const PageFormat& f)
{
    return static_cast<std::uint32_t>(f.resolution * kMetresPerInch + 0.5);
}

// Blank paper as a sensor sees it: a level near white, noise of a few levels, one pixel in
// kSpeckEvery a speck of dust, and a shadow fading over the outer hundredth of the width
// at the left and right edges, where the sheet's edge lifts from the glass.
constexpr int kPaperLevel = 246;
constexpr int kSpeckLevel = 70;
constexpr std::uint32_t kSpeckEvery = 16384;
constexpr int kShadowDepth = 30;
// The two paper tones of the colour palette (entries 0 and 1), and the level below which
// a blank palette page takes the darker one.
constexpr Rgb kPaperTones[2] = {{250, 249, 244}, {228, 226, 220}};
constexpr int kDarkerTone = kPaperLevel - 2;

int PaperLevel(const PageFormat& f, int x, int y, int page)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u ^
                      static_cast<std::uint32_t>(page + 1) * 83492791u;
    h = (h ^ h >> 13) * 0x5BD1E995u;
    h ^= h >> 15;
    if (h % kSpeckEvery == 0)
        return kSpeckLevel;
    const int noise = static_cast<int>(h >> 16 & 3) - static_cast<int>(h >> 18 & 3);
    const int band = std::max(1, f.width / 100);
    const int fromEdge = std::min(x, f.width - 1 - x);
    const int shadow = fromEdge < band ? kShadowDepth * (band - fromEdge) / band : 0;
    return kPaperLevel + noise - shadow;
}

unsigned BlankPixel(const PageFormat& f, int x, int y, int page)
{
    const int level = PaperLevel(f, x, y, page);
    if (f.bits > 8) {
        const auto c = static_cast<unsigned>(level);
        return (c - 4) | c << 8 | c << 16;  // a little warmer than grey
    }
    const unsigned last = static_cast<unsigned>(UsedColors(f) - 1);
    if (f.pixelType == TWPT_PALETTE)
        return std::min(level < kDarkerTone ? 1u : 0u, last);
    const int steps = TableSize(f) - 1;  // the grey ramp
    return std::min(static_cast<unsigned>((level * steps + 127) / 255), last);
}
}  // namespace

bool IsBlank(const PageFormat& f, int page)
{
    return page >= 0 && page < kMostPages && f.blank[static_cast<std::size_t>(page)];
}

int TableSize(const PageFormat& f)
{
    return f.bits <= 8 ? 1 << f.bits : 0;
}

int UsedColors(const PageFormat& f)
{
    const int table = TableSize(f);
    return f.colors > 0 && f.colors < table ? f.colors : table;
}

unsigned PagePixel(const PageFormat& f, int x, int y, int page)
{
    if (IsBlank(f, page))
        return BlankPixel(f, x, y, page);
    unsigned value;
    switch (f.bits) {
    case 1:
        value = static_cast<unsigned>((x / 8 + y / 8 + page) % 2);
        break;
    case 4:
        value = static_cast<unsigned>((x / 8 + y / 8 + page) & 0x0F);
        break;
    case 8:
        value = static_cast<unsigned>((x + y + page * 16) & 0xFF);
        break;
    default: {
        const unsigned red = f.width > 1 ? static_cast<unsigned>(x * 255 / (f.width - 1)) : 0;
        const unsigned green = f.height > 1 ? static_cast<unsigned>(y * 255 / (f.height - 1)) : 0;
        const unsigned blue = static_cast<unsigned>(page * 50) & 0xFF;
        return blue | green << 8 | red << 16;
    }
    }
    return value % static_cast<unsigned>(UsedColors(f));
}

Rgb PageColor(const PageFormat& f, int i)
{
    const int count = TableSize(f);
    if (count < 2)
        return Rgb{0, 0, 0};
    if (f.pixelType == TWPT_PALETTE) {
        if (i < 2)
            return kPaperTones[i];
        return Rgb{static_cast<std::uint8_t>(i * 255 / (count - 1)), static_cast<std::uint8_t>(255 - i * 255 / (count - 1)),
                   static_cast<std::uint8_t>((i * 7) & 0xFF)};
    }
    const auto grey = static_cast<std::uint8_t>(i * 255 / (count - 1));  // black to white
    return Rgb{grey, grey, grey};
}

Rgb PagePixelColor(const PageFormat& f, int x, int y, int page)
{
    const unsigned v = PagePixel(f, x, y, page);
    if (f.bits <= 8)
        return PageColor(f, static_cast<int>(v));
    return Rgb{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

int RowBits(const PageFormat& f, bool planar)
{
    return f.width * (planar ? 8 : f.bits);
}

void PageRow(const PageFormat& f, int page, int y, int plane, std::uint8_t* out)
{
    std::memset(out, 0, (static_cast<std::size_t>(RowBits(f, plane >= 0)) + 7) / 8);
    for (int x = 0; x < f.width; ++x) {
        const unsigned v = PagePixel(f, x, y, page);
        if (f.bits <= 8) {
            StoreBits(out, f.bits, x, v);
            continue;
        }
        const std::uint8_t rgb[3] = {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                                     static_cast<std::uint8_t>(v)};
        if (plane >= 0) {
            out[x] = rgb[plane % 3];
        } else {
            std::memcpy(out + static_cast<std::size_t>(x) * (f.bits / 8), rgb, 3);
        }
    }
}

std::vector<std::uint8_t> PageDib(const PageFormat& f, int page)
{
    const std::uint32_t stride = Stride(f);
    const std::uint32_t colours = static_cast<std::uint32_t>(TableSize(f));
    const std::size_t bitsAt = 40 + colours * 4;
    std::vector<std::uint8_t> dib(bitsAt + static_cast<std::size_t>(stride) * f.height);
    Put32(dib, 0, 40);
    Put32(dib, 4, static_cast<std::uint32_t>(f.width));
    Put32(dib, 8, static_cast<std::uint32_t>(f.height));
    Put16(dib, 12, 1);
    Put16(dib, 14, static_cast<unsigned>(f.bits));
    Put32(dib, 16, 0);  // BI_RGB
    Put32(dib, 20, stride * static_cast<std::uint32_t>(f.height));
    Put32(dib, 24, PelsPerMetre(f));
    Put32(dib, 28, PelsPerMetre(f));
    Put32(dib, 32, colours);
    for (std::uint32_t i = 0; i < colours; ++i) {
        const Rgb c = PageColor(f, static_cast<int>(i));
        dib[40 + i * 4] = c.blue;
        dib[40 + i * 4 + 1] = c.green;
        dib[40 + i * 4 + 2] = c.red;
    }
    for (int y = 0; y < f.height; ++y) {
        std::uint8_t* row = dib.data() + bitsAt + static_cast<std::size_t>(stride) * (f.height - 1 - y);  // bottom-up
        for (int x = 0; x < f.width; ++x) {
            const unsigned v = PagePixel(f, x, y, page);
            if (f.bits <= 8)
                StoreBits(row, f.bits, x, v);
            else
                std::memcpy(row + static_cast<std::size_t>(x) * (f.bits / 8), &v, 3);  // blue, green, red
        }
    }
    return dib;
}

std::vector<std::uint8_t> PageBitmapFile(const PageFormat& f, int page)
{
    const std::vector<std::uint8_t> dib = PageDib(f, page);
    std::vector<std::uint8_t> file(14 + dib.size());
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<std::uint32_t>(file.size()));
    Put32(file, 10, 14 + 40 + static_cast<std::uint32_t>(TableSize(f)) * 4);
    std::copy(dib.begin(), dib.end(), file.begin() + 14);
    return file;
}

namespace {
struct TiffTag {
    unsigned id, type;
    std::uint32_t count, value;
};
constexpr unsigned kTiffShort = 3;

// The image file directory's entries, after their count at offset 8.
void PutTiffTags(std::vector<std::uint8_t>& t, const std::vector<TiffTag>& list)
{
    Put16(t, 8, static_cast<unsigned>(list.size()));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::size_t at = 10 + i * 12;
        Put16(t, at, list[i].id);
        Put16(t, at + 2, list[i].type);
        Put32(t, at + 4, list[i].count);
        if (list[i].type == kTiffShort && list[i].count == 1)
            Put16(t, at + 8, list[i].value);
        else
            Put32(t, at + 8, list[i].value);
    }
}

// The page's rows from pixelsAt on, a 32-bit page's pixels without their padding byte.
void PutTiffRows(std::vector<std::uint8_t>& t, const PageFormat& f, int page, std::size_t pixelsAt,
                 std::size_t rowBytes)
{
    std::vector<std::uint8_t> row((static_cast<std::size_t>(RowBits(f, false)) + 7) / 8);
    for (int y = 0; y < f.height; ++y) {
        PageRow(f, page, y, -1, row.data());
        std::uint8_t* to = t.data() + pixelsAt + rowBytes * y;
        if (f.bits == 32) {
            for (int x = 0; x < f.width; ++x)
                std::memcpy(to + x * 3, row.data() + x * 4, 3);
        } else {
            std::memcpy(to, row.data(), rowBytes);
        }
    }
}
}  // namespace

std::vector<std::uint8_t> PageTiff(const PageFormat& f, int page)
{
    // A 32-bit page is written as plain RGB: TIFF readers expect no padding byte.
    const bool colour = f.bits > 8;
    const int samples = colour ? 3 : 1;
    const int sampleBits = colour ? 8 : f.bits;
    const std::size_t rowBytes = (static_cast<std::size_t>(f.width) * samples * sampleBits + 7) / 8;
    const bool palette = f.pixelType == TWPT_PALETTE && !colour;
    const std::size_t mapEntries = palette ? static_cast<std::size_t>(TableSize(f)) : 0;
    const unsigned photometric = colour ? 2 : palette ? 3 : 1;  // RGB, palette, black is zero

    using Tag = TiffTag;
    constexpr unsigned kShort = kTiffShort, kLong = 4, kRational = 5;
    const int tags = palette ? 13 : 12;
    const std::size_t ifdSize = 2 + static_cast<std::size_t>(tags) * 12 + 4;
    const std::size_t bitsAt = 8 + ifdSize;                // 3 shorts of BitsPerSample
    const std::size_t xResAt = bitsAt + 8, yResAt = xResAt + 8;
    const std::size_t mapAt = yResAt + 8;
    const std::size_t pixelsAt = mapAt + mapEntries * 3 * 2;
    const std::uint32_t dpi = static_cast<std::uint32_t>(f.resolution + 0.5);

    std::vector<std::uint8_t> t(pixelsAt + rowBytes * f.height);
    t[0] = t[1] = 'I';
    Put16(t, 2, 42);
    Put32(t, 4, 8);
    std::vector<Tag> list = {
        {256, kLong, 1, static_cast<std::uint32_t>(f.width)},
        {257, kLong, 1, static_cast<std::uint32_t>(f.height)},
        {258, kShort, static_cast<std::uint32_t>(samples), samples == 1 ? static_cast<std::uint32_t>(sampleBits)
                                                                          : static_cast<std::uint32_t>(bitsAt)},
        {259, kShort, 1, 1},  // no compression
        {262, kShort, 1, photometric},
        {273, kLong, 1, static_cast<std::uint32_t>(pixelsAt)},
        {277, kShort, 1, static_cast<std::uint32_t>(samples)},
        {278, kLong, 1, static_cast<std::uint32_t>(f.height)},
        {279, kLong, 1, static_cast<std::uint32_t>(rowBytes * f.height)},
        {282, kRational, 1, static_cast<std::uint32_t>(xResAt)},
        {283, kRational, 1, static_cast<std::uint32_t>(yResAt)},
        {296, kShort, 1, 2},  // inches
    };
    if (palette)
        list.push_back({320, kShort, static_cast<std::uint32_t>(mapEntries * 3), static_cast<std::uint32_t>(mapAt)});
    PutTiffTags(t, list);
    for (int s = 0; s < 3; ++s)
        Put16(t, bitsAt + s * 2, 8);
    Put32(t, xResAt, dpi);
    Put32(t, xResAt + 4, 1);
    Put32(t, yResAt, dpi);
    Put32(t, yResAt + 4, 1);
    for (std::size_t i = 0; i < mapEntries; ++i) {
        const Rgb c = PageColor(f, static_cast<int>(i));
        Put16(t, mapAt + i * 2, c.red * 257u);
        Put16(t, mapAt + (mapEntries + i) * 2, c.green * 257u);
        Put16(t, mapAt + (2 * mapEntries + i) * 2, c.blue * 257u);
    }
    PutTiffRows(t, f, page, pixelsAt, rowBytes);
    return t;
}

std::vector<std::uint8_t> PackBits(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i < size) {
        std::size_t run = 1;
        while (i + run < size && run < 128 && data[i + run] == data[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(257 - run));  // -(run - 1)
            out.push_back(data[i]);
            i += run;
            continue;
        }
        // Literals up to the next pair of equal bytes.
        std::size_t n = 1;
        while (i + n < size && n < 128 && !(i + n + 1 < size && data[i + n] == data[i + n + 1]))
            ++n;
        out.push_back(static_cast<std::uint8_t>(n - 1));
        out.insert(out.end(), data + i, data + i + n);
        i += n;
    }
    return out;
}

}  // namespace vs
