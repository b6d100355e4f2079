// The virtual scanner's pages as they leave it: strips reassembled into the page for every
// layout, each strip fault seen in the strip it is asked for, the palette by Index, and
// the bitmap and TIFF files read back field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "dib/dib_bytes.h"
#include "imaging/blank_page.h"
#include "tools/vscanner/mem_strips.h"
#include "tools/vscanner/page.h"

namespace vs {
namespace {

PageFormat Format(TW_UINT16 type, int bits, int width, int height, int colors = 0)
{
    return PageFormat{width, height, bits, type, 100.0, colors};
}

std::vector<std::uint8_t> Row(const PageFormat& f, int page, int y, int plane)
{
    std::vector<std::uint8_t> row((static_cast<std::size_t>(RowBits(f, plane >= 0)) + 7) / 8);
    PageRow(f, page, y, plane, row.data());
    return row;
}

std::vector<std::uint8_t> UnpackBits(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < size;) {
        const int n = static_cast<std::int8_t>(data[i++]);
        if (n >= 0) {
            out.insert(out.end(), data + i, data + std::min(size, i + n + 1));
            i += n + 1;
        } else if (n != -128 && i < size) {
            out.insert(out.end(), 1 - n, data[i++]);
        }
    }
    return out;
}

struct Collected {
    std::vector<Strip> strips;
    // The rows of each plane as the strips carried them, by row number.
    std::vector<std::vector<std::vector<std::uint8_t>>> planes;
};

// Asks for strips until the transfer ends (or limit strips), placing every row the
// strip says it carries, as an application would.
Collected Transfer(const PageFormat& f, int page, const StripSettings& s, std::uint32_t length, int limit = 10000)
{
    Collected c;
    c.planes.assign(IsPlanar(f, s) ? 3 : 1, std::vector<std::vector<std::uint8_t>>(f.height));
    StripCursor cursor;
    std::vector<std::uint8_t> buffer(length);
    for (int i = 0; i < limit; ++i) {
        const Strip strip = NextStrip(f, page, s, cursor, buffer.data(), length);
        c.strips.push_back(strip);
        if (strip.rc != TWRC_SUCCESS && strip.rc != TWRC_XFERDONE)
            break;
        std::vector<std::uint8_t> bytes(buffer.begin(), buffer.begin() + std::min(strip.bytesWritten, length));
        if (strip.compression == TWCP_PACKBITS)
            bytes = UnpackBits(bytes.data(), bytes.size());
        for (std::uint32_t r = 0; r < strip.rows && strip.yOffset + r < static_cast<std::uint32_t>(f.height); ++r) {
            const std::size_t at = static_cast<std::size_t>(r) * strip.bytesPerRow;
            if (at + strip.bytesPerRow <= bytes.size())
                c.planes[std::max(strip.plane, 0)][strip.yOffset + r].assign(bytes.begin() + at,
                                                                             bytes.begin() + at + strip.bytesPerRow);
        }
        if (strip.rc == TWRC_XFERDONE)
            break;
    }
    return c;
}

TEST(ScannerStrips, EveryLayoutReassemblesIntoThePage)
{
    struct Case {
        const char* name;
        PageFormat format;
        std::uint32_t buffer;
        StripSettings settings;
        std::uint32_t bytesPerRow;  // expected
    };
    auto settings = [](RowPadding padding, std::uint32_t rows = 0, bool planar = false, TW_UINT16 compression = TWCP_NONE) {
        StripSettings s;
        s.padding = padding;
        s.rowsPerStrip = rows;
        s.planar = planar;
        s.compression = compression;
        return s;
    };
    const Case cases[] = {
        {"bw word", Format(TWPT_BW, 1, 33, 20), 40, settings(RowPadding::Word), 8},
        {"bw byte", Format(TWPT_BW, 1, 33, 20), 40, settings(RowPadding::Byte), 5},
        {"bw odd", Format(TWPT_BW, 1, 33, 20), 40, settings(RowPadding::Odd), 9},
        {"gray4 byte", Format(TWPT_GRAY, 4, 13, 7), 100, settings(RowPadding::Byte, 2), 7},
        {"gray8 word", Format(TWPT_GRAY, 8, 31, 20), 128, settings(RowPadding::Word, 3), 32},
        {"gray8 odd", Format(TWPT_GRAY, 8, 31, 20), 1000, settings(RowPadding::Odd), 33},
        {"rgb chunky byte", Format(TWPT_RGB, 24, 17, 9), 200, settings(RowPadding::Byte), 51},
        {"rgb planar", Format(TWPT_RGB, 24, 17, 9), 60, settings(RowPadding::Word, 0, true), 20},
        {"rgb planar byte", Format(TWPT_RGB, 24, 17, 9), 60, settings(RowPadding::Byte, 0, true), 17},
        {"rgb 32", Format(TWPT_RGB, 32, 5, 5), 64, settings(RowPadding::Word), 20},
        {"palette 16 of 256", Format(TWPT_PALETTE, 8, 20, 5, 16), 1000, settings(RowPadding::Word), 20},
        {"packbits gray", Format(TWPT_GRAY, 8, 40, 12), 100, settings(RowPadding::Word, 0, false, TWCP_PACKBITS), 40},
        {"planar ignored for gray", Format(TWPT_GRAY, 8, 8, 4), 8, settings(RowPadding::Word, 0, true), 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int page = 2;
        const Collected got = Transfer(c.format, page, c.settings, c.buffer);
        ASSERT_FALSE(got.strips.empty());
        EXPECT_EQ(got.strips.back().rc, TWRC_XFERDONE);
        for (const Strip& s : got.strips) {
            EXPECT_EQ(s.bytesPerRow, c.bytesPerRow);
            EXPECT_EQ(s.columns, static_cast<std::uint32_t>(c.format.width));
            EXPECT_LE(s.bytesWritten, c.buffer);
            EXPECT_EQ(s.compression, c.settings.compression);
            if (c.settings.compression == TWCP_NONE) {
                EXPECT_LE(s.rows * s.bytesPerRow, c.buffer);
                EXPECT_EQ(s.bytesWritten, s.rows * s.bytesPerRow);
            }
            if (c.settings.rowsPerStrip) {
                EXPECT_LE(s.rows, c.settings.rowsPerStrip);
            }
        }
        for (std::size_t plane = 0; plane < got.planes.size(); ++plane) {
            for (int y = 0; y < c.format.height; ++y) {
                SCOPED_TRACE(testing::Message() << "plane " << plane << " row " << y);
                const std::vector<std::uint8_t> want =
                    Row(c.format, page, y, got.planes.size() > 1 ? static_cast<int>(plane) : -1);
                const std::vector<std::uint8_t>& row = got.planes[plane][y];
                ASSERT_EQ(row.size(), c.bytesPerRow);
                EXPECT_TRUE(std::equal(want.begin(), want.end(), row.begin()));
                EXPECT_TRUE(std::all_of(row.begin() + want.size(), row.end(), [](std::uint8_t b) { return b == 0xA5; }));
            }
        }
    }
}

TEST(ScannerStrips, EachFaultShowsInTheStripItIsAskedFor)
{
    const PageFormat f = Format(TWPT_GRAY, 8, 16, 36);
    const std::uint32_t length = 16 * 8;  // eight rows a strip, four in the last
    struct Case {
        StripFault fault;
        int at;
        bool (*shows)(const Strip& s, const PageFormat& f, std::uint32_t length);
    };
    const Case cases[] = {
        {StripFault::PastRight, 1, [](const Strip& s, const PageFormat& f, std::uint32_t) {
             return s.columns == static_cast<std::uint32_t>(f.width) + 8 && s.bytesPerRow == 24;
         }},
        {StripFault::PastBottom, 5, [](const Strip& s, const PageFormat& f, std::uint32_t) {
             return s.yOffset + s.rows > static_cast<std::uint32_t>(f.height);
         }},
        {StripFault::BeyondRight, 2, [](const Strip& s, const PageFormat& f, std::uint32_t) {
             return s.xOffset > static_cast<std::uint32_t>(f.width);
         }},
        {StripFault::BeyondBottom, 3, [](const Strip& s, const PageFormat& f, std::uint32_t) {
             return s.yOffset > static_cast<std::uint32_t>(f.height);
         }},
        {StripFault::RowsOverflow, 2, [](const Strip& s, const PageFormat&, std::uint32_t length) {
             return static_cast<std::uint64_t>(s.rows) * s.bytesPerRow > length;
         }},
        {StripFault::BytesPerRowOverflow, 2, [](const Strip& s, const PageFormat&, std::uint32_t length) {
             return static_cast<std::uint64_t>(s.rows) * s.bytesPerRow > length;
         }},
        {StripFault::ShortWritten, 4, [](const Strip& s, const PageFormat&, std::uint32_t) {
             return s.bytesWritten < s.rows * s.bytesPerRow;
         }},
        {StripFault::NoPixels, 3, [](const Strip& s, const PageFormat&, std::uint32_t) {
             return s.rc == TWRC_SUCCESS && s.rows == 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        StripSettings s;
        s.fault = c.fault;
        s.faultAt = c.at;
        const Collected got = Transfer(f, 0, s, length, 200);
        ASSERT_GE(got.strips.size(), static_cast<std::size_t>(c.at));
        for (std::size_t i = 0; i < got.strips.size(); ++i) {
            const bool faulty = c.fault == StripFault::PastRight ||
                                (c.fault == StripFault::NoPixels ? static_cast<int>(i) + 1 >= c.at
                                                                 : static_cast<int>(i) + 1 == c.at);
            EXPECT_EQ(c.shows(got.strips[i], f, length), faulty) << "strip " << i + 1;
        }
        if (c.fault == StripFault::NoPixels) {
            EXPECT_EQ(got.strips.size(), 200u);  // never done
        } else {
            EXPECT_EQ(got.strips.back().rc, TWRC_XFERDONE);
        }
    }
}

TEST(ScannerStrips, CancelAndBuffersTooSmallForARow)
{
    const PageFormat f = Format(TWPT_RGB, 24, 10, 10);
    StripSettings s;
    s.rowsPerStrip = 2;
    s.cancelAt = 3;
    std::vector<std::uint8_t> buffer(1000);
    StripCursor cursor;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(NextStrip(f, 0, s, cursor, buffer.data(), 1000).rc, TWRC_SUCCESS);
    EXPECT_EQ(NextStrip(f, 0, s, cursor, buffer.data(), 1000).rc, TWRC_CANCEL);
    const Strip after = NextStrip(f, 0, s, cursor, buffer.data(), 1000);
    EXPECT_EQ(after.rc, TWRC_FAILURE);
    EXPECT_EQ(after.condition, TWCC_SEQERROR);

    StripCursor fresh;
    const Strip tooSmall = NextStrip(f, 0, StripSettings{}, fresh, buffer.data(), 31);  // a row needs 32
    EXPECT_EQ(tooSmall.rc, TWRC_FAILURE);
    EXPECT_EQ(tooSmall.condition, TWCC_BADVALUE);
    EXPECT_EQ(NextStrip(f, 0, StripSettings{}, fresh, buffer.data(), 32).rows, 1u);
}

TEST(ScannerPalette, ElementsCarryTheirIndexInEveryOrder)
{
    for (int colors : {2, 16, 255, 256, 300}) {
        for (PaletteOrder order : {PaletteOrder::Index, PaletteOrder::Reversed, PaletteOrder::Shuffled}) {
            SCOPED_TRACE(testing::Message() << colors << " colours, order " << static_cast<int>(order));
            const PageFormat f = Format(TWPT_PALETTE, 8, 4, 4, colors);
            const TW_PALETTE8 p = PagePalette(f, colors, order);
            EXPECT_EQ(p.NumColors, colors);
            EXPECT_EQ(p.PaletteType, TWPA_RGB);
            const int n = std::min(colors, 256);
            std::set<int> indices;
            bool inOrder = true;
            for (int i = 0; i < n; ++i) {
                const TW_ELEMENT8& e = p.Colors[i];
                indices.insert(e.Index);
                inOrder = inOrder && e.Index == i;
                EXPECT_EQ((Rgb{e.Channel1, e.Channel2, e.Channel3}), PageColor(f, e.Index));
            }
            EXPECT_EQ(indices.size(), static_cast<std::size_t>(n));
            EXPECT_EQ(*indices.rbegin(), n - 1);
            EXPECT_EQ(inOrder, order == PaletteOrder::Index);
        }
    }
}

// Sources send red, green, blue (the DIB stores them the other way round), and planes
// in that order.
TEST(ScannerPage, RowsCarryRedGreenBlueInThatOrder)
{
    const PageFormat f = Format(TWPT_RGB, 24, 9, 7);
    for (int y = 0; y < f.height; ++y) {
        const std::vector<std::uint8_t> chunky = Row(f, 3, y, -1);
        for (int x = 0; x < f.width; ++x) {
            const Rgb c = PagePixelColor(f, x, y, 3);
            const std::uint8_t channels[3] = {c.red, c.green, c.blue};
            for (int plane = 0; plane < 3; ++plane) {
                EXPECT_EQ(chunky[x * 3 + plane], channels[plane]);
                EXPECT_EQ(Row(f, 3, y, plane)[x], channels[plane]);
            }
        }
    }
    EXPECT_NE(PagePixelColor(f, 8, 6, 0).red, PagePixelColor(f, 0, 6, 0).red);
    EXPECT_NE(PagePixelColor(f, 8, 6, 0).green, PagePixelColor(f, 8, 0, 0).green);
    EXPECT_NE(PagePixelColor(f, 8, 6, 0).blue, PagePixelColor(f, 8, 6, 1).blue);
}

TEST(ScannerPage, PixelsStayWithinTheAnnouncedColours)
{
    const PageFormat f = Format(TWPT_PALETTE, 8, 50, 50, 12);
    EXPECT_EQ(UsedColors(f), 12);
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x)
            ASSERT_LT(PagePixel(f, x, y, 3), 12u);
    }
    EXPECT_EQ(UsedColors(Format(TWPT_PALETTE, 8, 5, 5, 300)), 256);
    EXPECT_NE(PagePixel(Format(TWPT_GRAY, 8, 5, 5), 1, 1, 0), PagePixel(Format(TWPT_GRAY, 8, 5, 5), 1, 1, 1));
}

// A page the profile makes blank is paper, which the blank-page judgement takes for
// blank, in every type and depth; the pages before and after it stay as they were.
TEST(ScannerPage, ABlankPageIsPaperAndThePagesAroundItStayAsTheyWere)
{
    for (PageFormat f : {Format(TWPT_BW, 1, 850, 1100), Format(TWPT_GRAY, 4, 850, 1100), Format(TWPT_GRAY, 8, 850, 1100),
                         Format(TWPT_PALETTE, 8, 850, 1100), Format(TWPT_PALETTE, 4, 850, 1100, 9),
                         Format(TWPT_RGB, 24, 850, 1100), Format(TWPT_RGB, 32, 850, 1100)}) {
        SCOPED_TRACE(testing::Message() << f.pixelType << ", " << f.bits << " bits");
        const PageFormat plain = f;
        f.blank.set(1);
        const std::vector<std::uint8_t> blank = PageDib(f, 1);
        EXPECT_TRUE(imaging::IsBlankPage(blank.data(), blank.size()));
        EXPECT_NE(blank, PageDib(plain, 1));
        for (int page : {0, 2})
            EXPECT_EQ(PageDib(f, page), PageDib(plain, page)) << page;
    }
}

std::uint32_t Read32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

unsigned Read16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8;
}

TEST(ScannerFiles, BitmapFileHoldsThePageBottomUp)
{
    for (const PageFormat& f : {Format(TWPT_BW, 1, 19, 5), Format(TWPT_GRAY, 4, 9, 3), Format(TWPT_PALETTE, 8, 7, 4),
                                Format(TWPT_RGB, 24, 6, 5), Format(TWPT_RGB, 32, 3, 2)}) {
        SCOPED_TRACE(f.bits);
        const std::vector<std::uint8_t> file = PageBitmapFile(f, 1);
        ASSERT_EQ(file[0], 'B');
        ASSERT_EQ(file[1], 'M');
        EXPECT_EQ(Read32(file, 2), file.size());
        const std::vector<std::uint8_t> dib(file.begin() + 14, file.end());
        ASSERT_TRUE(DibIsSafe(dib.data(), dib.size()));
        EXPECT_EQ(Read32(file, 10), 14 + DibBitsOffset(DibReadLayout(dib.data())));
        for (int y = 0; y < f.height; ++y) {
            std::vector<std::uint8_t> row(RowBytes(f.bits, f.width));
            ASSERT_TRUE(DibMemReadRow(dib.data(), dib.size(), y, row.data()));
            for (int x = 0; x < f.width; ++x) {
                unsigned v;
                if (f.bits == 1)
                    v = row[x / 8] >> (7 - x % 8) & 1;
                else if (f.bits == 4)
                    v = x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4;
                else if (f.bits == 8)
                    v = row[x];
                else
                    v = row[x * (f.bits / 8)] | row[x * (f.bits / 8) + 1] << 8 | row[x * (f.bits / 8) + 2] << 16;
                ASSERT_EQ(v, PagePixel(f, x, y, 1)) << x << "," << y;
            }
        }
    }
}

TEST(ScannerFiles, TiffIsABaselineTiffOfThePage)
{
    struct Case {
        PageFormat format;
        unsigned photometric, samples, sampleBits;
    };
    const Case cases[] = {
        {Format(TWPT_BW, 1, 19, 5), 1, 1, 1},
        {Format(TWPT_GRAY, 8, 9, 3), 1, 1, 8},
        {Format(TWPT_PALETTE, 8, 7, 4), 3, 1, 8},
        {Format(TWPT_RGB, 24, 6, 5), 2, 3, 8},
        {Format(TWPT_RGB, 32, 3, 2), 2, 3, 8},
    };
    for (const Case& c : cases) {
        const PageFormat& f = c.format;
        SCOPED_TRACE(f.bits);
        const std::vector<std::uint8_t> t = PageTiff(f, 4);
        ASSERT_EQ(Read32(t, 0), 0x002A4949u);  // "II", 42
        const std::size_t ifd = Read32(t, 4);
        std::vector<std::pair<unsigned, std::uint32_t>> tags;
        unsigned previous = 0;
        for (unsigned i = 0; i < Read16(t, ifd); ++i) {
            const std::size_t at = ifd + 2 + i * 12;
            const unsigned id = Read16(t, at), type = Read16(t, at + 2);
            EXPECT_GT(id, previous);  // ascending, as readers require
            previous = id;
            tags.emplace_back(id, type == 3 && Read32(t, at + 4) == 1 ? Read16(t, at + 8) : Read32(t, at + 8));
        }
        auto tag = [&](unsigned id) {
            for (auto& [k, v] : tags) {
                if (k == id)
                    return v;
            }
            ADD_FAILURE() << "no tag " << id;
            return 0u;
        };
        EXPECT_EQ(tag(256), static_cast<std::uint32_t>(f.width));
        EXPECT_EQ(tag(257), static_cast<std::uint32_t>(f.height));
        EXPECT_EQ(tag(259), 1u);
        EXPECT_EQ(tag(262), c.photometric);
        EXPECT_EQ(tag(277), c.samples);
        EXPECT_EQ(c.samples == 1 ? tag(258) : Read16(t, tag(258)), c.sampleBits);
        const std::size_t rowBytes = (static_cast<std::size_t>(f.width) * c.samples * c.sampleBits + 7) / 8;
        ASSERT_EQ(tag(279), rowBytes * f.height);
        ASSERT_LE(tag(273) + tag(279), t.size());
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                const std::uint8_t* p = t.data() + tag(273) + rowBytes * y;
                Rgb seen{};
                if (c.photometric == 2) {
                    seen = Rgb{p[x * 3], p[x * 3 + 1], p[x * 3 + 2]};
                } else {
                    const unsigned v = c.sampleBits == 1 ? p[x / 8] >> (7 - x % 8) & 1 : p[x];
                    if (c.photometric == 3) {
                        const std::size_t map = tag(320), n = 256;
                        seen = Rgb{static_cast<std::uint8_t>(Read16(t, map + v * 2) >> 8),
                                   static_cast<std::uint8_t>(Read16(t, map + (n + v) * 2) >> 8),
                                   static_cast<std::uint8_t>(Read16(t, map + (2 * n + v) * 2) >> 8)};
                    } else {
                        const auto grey = static_cast<std::uint8_t>(v * 255 / ((1u << c.sampleBits) - 1));
                        seen = Rgb{grey, grey, grey};
                    }
                }
                ASSERT_EQ(seen, PagePixelColor(f, x, y, 4)) << x << "," << y;
            }
        }
    }
}

TEST(ScannerFiles, PackBitsRoundTrips)
{
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 300; ++i)
        data.push_back(static_cast<std::uint8_t>(i < 140 ? 7 : i % 5 ? i : 0));
    data.insert(data.end(), 3, 9);
    const std::vector<std::uint8_t> packed = PackBits(data.data(), data.size());
    EXPECT_LT(packed.size(), data.size());
    EXPECT_EQ(UnpackBits(packed.data(), packed.size()), data);
    const std::uint8_t one = 42;
    EXPECT_EQ(UnpackBits(PackBits(&one, 1).data(), 2), std::vector<std::uint8_t>{42});
}

}  // namespace
}  // namespace vs
