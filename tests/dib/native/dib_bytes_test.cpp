// Row operations over untrusted blocks: they stay inside the image and the block.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dib/dib_builder.h"
#include "dib/dib_bytes.h"
#include "dib/dib_simd.h"

namespace {
using Bytes = std::vector<uint8_t>;

TEST(DibMemRows, RowsOutsideTheImageAreLeftAlone)
{
    for (int32_t height : {3, -3}) {
        Bytes dib = BuildDib({5, height, 24});
        Bytes row(16, 0xEE);
        for (int r : {-1, 3, 1000, INT32_MIN, INT32_MAX}) {
            SCOPED_TRACE(r);
            EXPECT_EQ(DibMemRowOffset(dib.data(), dib.size(), r), -1);
            EXPECT_FALSE(DibMemReadRow(dib.data(), dib.size(), r, row.data()));
            EXPECT_FALSE(DibMemWriteRow(dib.data(), dib.size(), r, row.data()));
            EXPECT_FALSE(DibMemWriteRowChannel(dib.data(), dib.size(), r, row.data(), 0));
        }
        EXPECT_EQ(row, Bytes(16, 0xEE));
        EXPECT_EQ(dib, BuildDib({5, height, 24}));
    }
}

TEST(DibMemRows, UnsafeOrCompressedDibsAreLeftAlone)
{
    Bytes cut = BuildDib({5, 3, 24}, -1);
    Bytes rle = BuildDib({5, 3, 8, 40, 1, 20});
    Bytes src(64, 0x55), dest(64, 0xEE);
    for (Bytes* dib : {&cut, &rle}) {
        Bytes before = *dib;
        EXPECT_FALSE(DibMemReadRow(dib->data(), dib->size(), 0, dest.data()));
        EXPECT_FALSE(DibMemReadRowRGB(dib->data(), dib->size(), 0, dest.data()));
        EXPECT_FALSE(DibMemWriteRow(dib->data(), dib->size(), 0, src.data()));
        EXPECT_FALSE(DibMemStoreRows(dib->data(), dib->size(), 0, 0, 5, 3, src.data(), 0));
        EXPECT_FALSE(DibMemStorePlane(dib->data(), dib->size(), 0, 0, 0, 5, 3, src.data(), 0));
        EXPECT_FALSE(DibMemSwapRedBlue(dib->data(), dib->size()));
        EXPECT_EQ(*dib, before);
    }
    EXPECT_FALSE(DibMemSetColor(cut.data(), cut.size() - 40, 0, 1, 2, 3));
    EXPECT_EQ(dest, Bytes(64, 0xEE));
}

TEST(DibMemRows, StoresAreClippedToTheRow)
{
    struct Case {
        const char* what;
        int bits, x, y, width, rows;
        int written;  // bytes changed in the image
    };
    const Case cases[] = {
        {"inside", 8, 1, 0, 3, 2, 6},
        {"past the right edge", 8, 6, 0, 10, 1, 2},  // row of 8 bytes
        {"start past the row", 8, 8, 0, 1, 1, 0},
        {"negative x", 8, -2, 0, 4, 1, 0},
        {"rows past the bottom", 8, 0, 2, 1, 5, 1},
        {"rows from above", 8, 0, -2, 1, 3, 1},
        {"24-bit wide", 24, 4, 0, 100, 1, 4},  // 16-byte row, starts at 12
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes dib = BuildDib({5, 3, uint16_t(c.bits)});
        Bytes before = dib;
        Bytes src(4096, 0xA5);
        EXPECT_TRUE(DibMemStoreRows(dib.data(), dib.size(), c.x, c.y, c.width, c.rows, src.data(), 64));
        int changed = 0;
        for (size_t i = 0; i < dib.size(); ++i)
            changed += dib[i] != before[i];
        EXPECT_EQ(changed, c.written);
    }
}

TEST(DibMemRows, PlaneStoreStaysInsideTheRow)
{
    // 5 pixels of 3 bytes in a 16-byte row; from pixel 3 on, 10 source bytes.
    for (int channel : {-1, 0, 1, 2, 3}) {
        SCOPED_TRACE(channel);
        Bytes dib = BuildDib({5, 1, 24}, 8);
        Bytes before = dib;
        Bytes src(64, 0x11);
        bool known = channel >= 0 && channel <= 2;
        ASSERT_EQ(DibMemStorePlane(dib.data(), dib.size(), channel, 3, 0, 10, 1, src.data(), 64), known);
        int changed = 0;
        for (size_t i = 0; i < dib.size(); ++i) {
            bool inPlane = known && i >= 40 + 9 && i < 40 + 16 && (i - 40) % 3 == size_t(2 - channel);
            EXPECT_EQ(dib[i], inPlane ? 0x11 : before[i]) << i;
            changed += dib[i] != before[i];
        }
        EXPECT_EQ(changed, known ? (channel == 2 ? 3 : 2) : 0);
    }
}

TEST(DibMemRows, SwapReversesEachWholePixelOfEachRowAndStopsAtTheRowEnd)
{
    // Rows of five pixels at a time and their tails; 8-byte rows of an 8-bit DIB hold two
    // whole 3-byte pixels and must not be swapped past them.
    const struct {
        DibShape shape;
        size_t table, stride, pixels;
    } cases[] = {{{5, 2, 8}, 1024, 8, 2}, {{6, 1, 24}, 0, 20, 6}, {{11, 2, 24}, 0, 36, 11}, {{17, -3, 24}, 0, 52, 17}};
    for (bool simd : {true, false})
    for (const auto& c : cases) {
        dibUseSimd = simd;
        Bytes dib = BuildDib(c.shape, 1), before = dib;
        ASSERT_TRUE(DibMemSwapRedBlue(dib.data(), dib.size()));
        for (size_t i = 40 + c.table; i < dib.size(); ++i) {
            size_t at = (i - 40 - c.table) % c.stride;
            size_t from = at < 3 * c.pixels && i + 1 < dib.size() ? i - at % 3 + 2 - at % 3 : i;
            ASSERT_EQ(dib[i], before[from]) << c.shape.width << " pixels, byte " << i << (simd ? "" : ", plain");
        }
    }
    dibUseSimd = true;
}

TEST(DibMemRows, IndexesPastAShortColourTableReadBlack)
{
    Bytes dib = BuildDib({4, 1, 8, 40, 0, 0, 2});
    size_t bits = 40 + 8;
    const uint8_t pixels[4] = {0, 1, 2, 255};
    std::copy(pixels, pixels + 4, dib.begin() + long(bits));
    Bytes rgb(12, 0xEE);
    ASSERT_TRUE(DibMemReadRowRGB(dib.data(), dib.size(), 0, rgb.data()));
    EXPECT_EQ(rgb, (Bytes{2, 1, 0, 3, 2, 1, 0, 0, 0, 0, 0, 0}));
}

TEST(DibMemRows, CoreHeaderUsesItsOwnLayout)
{
    // 3 x 2 at 8 bits: 3-byte entries, so the rows begin at 12 + 768.
    Bytes dib = BuildDib({3, 2, 8, 12});
    EXPECT_EQ(DibMemRowOffset(dib.data(), dib.size(), 0), 12 + 768 + 4);
    EXPECT_EQ(DibMemRowOffset(dib.data(), dib.size(), 1), 12 + 768);
    dib[12 + 768 + 4] = 7;
    Bytes rgb(9);
    ASSERT_TRUE(DibMemReadRowRGB(dib.data(), dib.size(), 0, rgb.data()));
    EXPECT_EQ(Bytes(rgb.begin(), rgb.begin() + 3), (Bytes{9, 8, 7}));
    ASSERT_TRUE(DibMemSetColor(dib.data(), dib.size(), 1, 10, 20, 30));
    EXPECT_EQ(Bytes(dib.begin() + 15, dib.begin() + 19), (Bytes{30, 20, 10, 2}));

    BmpFileHeader header;
    EXPECT_EQ(DibMemPrepareFile(dib.data(), dib.size(), &header), int64_t(dib.size()));
    EXPECT_EQ(header.offBits, 14u + 12 + 768);
    EXPECT_EQ(header.size, 14u + dib.size());
}

TEST(DibMemPrepareFile, SizesAndRefusals)
{
    Bytes topDown = BuildDib({5, -3, 24});
    BmpFileHeader header;
    ASSERT_EQ(DibMemPrepareFile(topDown.data(), topDown.size(), &header), 88);
    EXPECT_EQ(header.size, 102u);
    EXPECT_EQ(header.offBits, 54u);
    EXPECT_EQ(topDown[20], 48);  // biSizeImage stored, positive

    // Bit fields without a size: the rows follow the three masks and their size is stored.
    Bytes fields = BuildDib({5, 3, 16, 40, 3, 0}, 12);
    ASSERT_EQ(DibMemPrepareFile(fields.data(), fields.size(), &header), 52 + 36);
    EXPECT_EQ(header.offBits, 14u + 52);
    EXPECT_EQ(fields[20], 36);
    EXPECT_EQ(DibMemRowOffset(fields.data(), fields.size(), 2), 52);
    Bytes rle = BuildDib({5, 3, 8, 40, 1, 20}, -4);
    ASSERT_EQ(DibMemPrepareFile(rle.data(), rle.size(), &header), 40 + 1024 + 20);
    EXPECT_EQ(header.offBits, 14u + 40 + 1024);
    Bytes cut = BuildDib({5, 3, 24}, -1);
    EXPECT_EQ(DibMemPrepareFile(cut.data(), cut.size(), &header), -1);
}
}  // namespace
