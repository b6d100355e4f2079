// The PNG writer read back by an independent decoder (libpng): every kind of bitmap,
// pixel for pixel, at the colour type, depth and resolution it should have.
#include <gtest/gtest.h>

#include "dib/dib_export.h"
#include "png_check.h"
#include "tools/pagorex-store/png_writer.h"

namespace {
using namespace pngcheck;

struct Memory final : ByteSink {
    bool Write(const uint8_t* b, size_t n) override
    {
        bytes.insert(bytes.end(), b, b + n);
        return true;
    }
    Bytes bytes;
};

struct PngCase {
    const char* name;
    Bytes dib;
    int colourType, bitDepth;
};

Bytes WithTable(Bytes dib, const std::vector<uint32_t>& bgr)
{
    for (size_t i = 0; i < bgr.size(); ++i)
        PutLE(dib, 40 + 4 * i, bgr[i], 4);
    return dib;
}

std::vector<PngCase> Cases()
{
    // Every kind of the bitmap tests (the builder's palettes are no grey ramps), then the
    // palettes and pixel kinds the writer treats apart.
    const std::pair<int, int> kinds[] = {{3, 1}, {3, 4}, {3, 8}, {3, 8}, {2, 8}, {2, 8},
                                         {2, 8}, {2, 16}, {3, 8}, {2, 8}, {2, 8}};
    std::vector<PngCase> cases;
    for (size_t i = 0; i < std::size(kEveryKindOfBitmap); ++i)
        cases.push_back({"bitmap kind", BuildDib(kEveryKindOfBitmap[i]), kinds[i].first, kinds[i].second});
    std::vector<uint32_t> ramp(256);
    for (uint32_t i = 0; i < 256; ++i)
        ramp[i] = i * 0x010101;
    cases.push_back({"8-bit grey ramp", WithTable(BuildDib({9, 4, 8}), ramp), 0, 8});
    cases.push_back({"1-bit black, white", WithTable(BuildDib({17, -3, 1}), {0, 0xFFFFFF}), 0, 1});
    cases.push_back({"1-bit white, black", WithTable(BuildDib({17, 3, 1}), {0xFFFFFF, 0}), 3, 1});
    Bytes fields = BuildDib({3, 2, 16, 40, 3}, 12);  // 5-6-5 masks behind the header
    PutLE(fields, 40, 0xF800, 4), PutLE(fields, 44, 0x07E0, 4), PutLE(fields, 48, 0x001F, 4);
    cases.push_back({"16-bit 5-6-5 bit fields", fields, 2, 8});
    Bytes alpha = BuildDib({3, -2, 32, 108, 3});  // a version 4 header naming an alpha field
    PutLE(alpha, 40, 0xFF0000, 4), PutLE(alpha, 44, 0xFF00, 4), PutLE(alpha, 48, 0xFF, 4);
    PutLE(alpha, 52, 0xFF000000u, 4);
    cases.push_back({"32-bit with alpha", alpha, 6, 8});
    return cases;
}

TEST(PngWriter, EveryKindOfBitmapComesBackPixelForPixel)
{
    for (PngCase& c : Cases()) {
        SCOPED_TRACE(c.name + std::string(", ") + std::to_string(DibReadLayout(c.dib.data()).bitCount) + " bits");
        bool core = DibReadLayout(c.dib.data()).headerSize == 12;
        if (!core)
            PutLE(c.dib, 24, 11811, 4), PutLE(c.dib, 28, 7874, 4);  // 300 x 200 dpi
        DibExportPlan plan;
        ASSERT_TRUE(DibExportPlanFor(c.dib.data(), c.dib.size(), plan));
        Memory png;
        ASSERT_TRUE(WritePng(plan, png));
        Decoded d;
        ASSERT_TRUE(Decode(png.bytes, d));
        EXPECT_EQ(d.colourType, c.colourType);
        EXPECT_EQ(d.bitDepth, c.bitDepth);
        EXPECT_EQ(d.xppm, core ? 0u : 11811u);
        EXPECT_EQ(d.yppm, core ? 0u : 7874u);
        EXPECT_TRUE(SamePixels(c.dib, d));
    }
}
}  // namespace

namespace {
// A run-length compressed bitmap of stored bytes rle and its plain rows, bottom-up.
void ExpectExpanded(DibShape shape, const Bytes& rle, const std::vector<Bytes>& rows)
{
    shape.sizeImage = uint32_t(rle.size());
    Bytes dib = BuildDib(shape, long(rle.size()));
    DibLayout l = DibReadLayout(dib.data());
    std::copy(rle.begin(), rle.end(), dib.begin() + DibBitsOffset(l));
    Bytes plain;
    ASSERT_TRUE(DibMemExpandRle(dib.data(), dib.size(), plain));
    ASSERT_FALSE(DibIsRle(plain.data(), plain.size()));
    size_t stride = RowBytes(l.bitCount, l.width);
    ASSERT_EQ(plain.size(), DibBitsOffset(l) + stride * rows.size());
    for (size_t r = 0; r < rows.size(); ++r)
        EXPECT_EQ(Bytes(plain.begin() + DibBitsOffset(l) + r * stride, plain.begin() + DibBitsOffset(l) + (r + 1) * stride),
                  rows[r]) << "stored row " << r;
}

TEST(RleExpansion, RunsAbsoluteRunsDeltasAndLineEndsLandWhereTheyShould)
{
    // Row 0: three 7s, then 1 2 3 as they are (padded to a word), end of line; a jump of
    // 2 right and 1 up, two 9s, end of bitmap. Pixels no run reaches stay 0.
    ExpectExpanded({6, 3, 8, 40, 1}, {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 1, 2, 9, 0, 1},
                   {{7, 7, 7, 1, 2, 3, 0, 0}, Bytes(8, 0), {0, 0, 9, 9, 0, 0, 0, 0}});
    // 4 bits: a run alternates its two nibbles; an absolute run of 3 takes 2 bytes; a run
    // past the width is cut there.
    ExpectExpanded({5, 2, 4, 40, 2}, {5, 0xAB, 0, 0, 0, 3, 0x12, 0x30, 9, 0xCD, 0, 1},
                   {{0xAB, 0xAB, 0xA0, 0}, {0x12, 0x3C, 0xD0, 0}});
}
}  // namespace
