// The copies the view draws: the upright copy of a DIB that DrawDib cannot take as it is,
// and the page reduced for the screen by averaging areas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dib/dib_builder.h"
#include "dib/dib_bytes.h"
#include "dib/dib_pixels.h"
#include "dib/dib_scale.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Upright(const Bytes& dib)
{
    Bytes copy(DibMemUprightBytes(dib.data(), dib.size()), 0xEE);
    EXPECT_FALSE(copy.empty());
    EXPECT_TRUE(DibMemMakeUpright(dib.data(), dib.size(), copy.data(), copy.size()));
    return copy;
}

uint32_t Get32(const Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

struct ShapeCase {
    const char* name;
    DibShape shape;
    bool asIs;
};

TEST(DibUpright, SamePictureWithAPlainHeaderAndRowsBottomUp)
{
    const ShapeCase cases[] = {
        {"24-bit bottom-up", {5, 3, 24}, true},
        {"8-bit bottom-up with 16 colours", {7, 2, 8, 40, 0, 0, 16}, true},
        {"24-bit top-down", {5, -3, 24}, false},
        {"8-bit top-down", {7, -4, 8}, false},
        {"1-bit top-down, 33 wide", {33, -2, 1}, false},
        {"4-bit core header", {9, 3, 4, 12}, false},
        {"8-bit core header", {3, 3, 8, 12}, false},
        {"24-bit core header", {2, 2, 24, 12}, false},
        {"24-bit with a larger header", {5, 3, 24, 108}, false},
        {"8-bit top-down claiming 300 colours", {4, -2, 8, 40, 0, 0, 300}, false},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes dib = BuildDib(c.shape);
        ASSERT_TRUE(DibIsSafe(dib.data(), dib.size()));
        EXPECT_EQ(DibMemDrawsAsIs(dib.data(), dib.size()), c.asIs);
        Bytes before = dib;
        Bytes copy = Upright(dib);
        EXPECT_EQ(dib, before) << "the DIB itself is never changed";
        ASSERT_TRUE(DibIsSafe(copy.data(), copy.size()));
        EXPECT_TRUE(DibMemDrawsAsIs(copy.data(), copy.size()));
        DibLayout layout = DibReadLayout(copy.data());
        EXPECT_EQ(layout.headerSize, 40u);
        EXPECT_EQ(layout.width, c.shape.width);
        EXPECT_EQ(layout.height, c.shape.height < 0 ? -c.shape.height : c.shape.height);
        EXPECT_EQ(layout.bitCount, c.shape.bitCount);
        EXPECT_LE(layout.colorCount, c.shape.bitCount <= 8 ? 1u << c.shape.bitCount : 0u);
        // Row r from the top reads the same colours from both.
        Bytes a(3 * size_t(c.shape.width)), b(a.size());
        for (int r = 0; r < layout.height; ++r) {
            ASSERT_TRUE(DibMemReadRowRGB(dib.data(), dib.size(), r, a.data()));
            ASSERT_TRUE(DibMemReadRowRGB(copy.data(), copy.size(), r, b.data()));
            EXPECT_EQ(a, b) << "row " << r;
        }
    }
}

TEST(DibUpright, DeepAndBitFieldPixelsBecomeDrawablePixels)
{
    // 48 bits, top-down, 2 x 2: pixel byte i is i * 11.
    Bytes deep = BuildDib({2, -2, 48});
    for (size_t i = 0; i < 24; ++i)
        deep[40 + i] = uint8_t(i * 11);
    Bytes copy = Upright(deep);
    EXPECT_EQ(DibReadLayout(copy.data()).bitCount, 24);
    // The copy's first stored line is the picture's bottom row (stored line 1 of the source):
    // the high byte of each little-endian sample.
    const Bytes bottom = {143, 165, 187, 209, 231, 253};
    const Bytes top = {11, 33, 55, 77, 99, 121};
    EXPECT_EQ(Bytes(copy.begin() + 40, copy.begin() + 46), bottom);
    EXPECT_EQ(Bytes(copy.begin() + 48, copy.begin() + 54), top);

    // 16-bit 5-6-5 bit fields behind a 40-byte header, top-down, 2 x 1: white, then pure
    // red, green and blue halves.
    Bytes fields = BuildDib({2, -2, 16, 40, 3, 8}, 12);
    PutLE(fields, 40, 0xF800, 4), PutLE(fields, 44, 0x07E0, 4), PutLE(fields, 48, 0x001F, 4);
    PutLE(fields, 52, 0xFFFF, 2), PutLE(fields, 54, 0xF800, 2);  // top row
    PutLE(fields, 56, 0x07E0, 2), PutLE(fields, 58, 0x0010, 2);  // bottom row
    EXPECT_FALSE(DibMemDrawsAsIs(fields.data(), fields.size()));
    copy = Upright(fields);
    EXPECT_EQ(DibReadLayout(copy.data()).bitCount, 32);
    EXPECT_EQ(DibReadLayout(copy.data()).compression, 0u);
    EXPECT_EQ(Get32(copy, 40), 0x0000FF00u);  // bottom row: green,
    EXPECT_EQ(Get32(copy, 44), 0x00000084u);  // blue 16 of 31, its bits repeated
    EXPECT_EQ(Get32(copy, 48), 0x00FFFFFFu);  // top row: white,
    EXPECT_EQ(Get32(copy, 52), 0x00FF0000u);  // red

    // Masks that leave no room for the rows the header promises.
    Bytes cramped = BuildDib({2, -2, 16, 40, 3, 8});
    EXPECT_EQ(DibMemUprightBytes(cramped.data(), cramped.size()), 0u);
}

TEST(DibUpright, CompressedRowsAreCopiedAsTheyAre)
{
    Bytes rle = BuildDib({4, 2, 8, 108, 1, 10}, 10);
    ASSERT_TRUE(DibIsSafe(rle.data(), rle.size()));
    Bytes copy = Upright(rle);
    EXPECT_EQ(DibReadLayout(copy.data()).compression, 1u);
    EXPECT_EQ(DibReadLayout(copy.data()).sizeImage, 10u);
    ASSERT_EQ(copy.size(), 40u + 4 * 256 + 10);
    EXPECT_EQ(Bytes(copy.end() - 10, copy.end()), Bytes(rle.begin() + 108 + 4 * 256, rle.begin() + 108 + 4 * 256 + 10));
}

// The reduced copy against the area average worked out here in doubles, made in two bands
// as threads make it: every sample within rounding, whether averaged as colour or as grey.
TEST(DibScale, EachNewPixelIsTheAverageOfTheAreaItCovers)
{
    Bytes bilevel = BuildDib({33, -10, 1});
    PutLE(bilevel, 40, 0, 4), PutLE(bilevel, 44, 0xFFFFFF, 4);
    const Bytes pages[] = {BuildDib({37, 23, 24}), bilevel, BuildDib({31, -9, 16}), BuildDib({12, 13, 8, 12})};
    for (const Bytes& dib : pages) {
        DibPixels source;
        ASSERT_TRUE(DibReadPixels(dib.data(), dib.size(), source));
        const int w0 = int(source.frame.width), h0 = int(source.frame.rows);
        for (auto [w, h] : {std::pair{w0, h0}, std::pair{w0 / 2, h0 / 3}, std::pair{7, 5}, std::pair{1, 2}}) {
            SCOPED_TRACE(std::to_string(w0) + "x" + std::to_string(h0) + " to " + std::to_string(w) + "x" +
                         std::to_string(h));
            Bytes out(DibMemScaledBytes(dib.data(), dib.size(), w, h), 0xEE);
            ASSERT_TRUE(DibMemScale(dib.data(), dib.size(), w, h, out.data(), out.size(), h / 2, h));
            ASSERT_TRUE(DibMemScale(dib.data(), dib.size(), w, h, out.data(), out.size(), 0, h / 2) || h / 2 == 0);
            DibPixels scaled;
            ASSERT_TRUE(DibReadPixels(out.data(), out.size(), scaled));
            EXPECT_EQ(scaled.frame.layout.bitCount, 32);
            std::vector<double> want(size_t(w * h * 3), 0.0);
            Bytes row(size_t(w0) * 3), got(size_t(w) * 3);
            for (int y = 0; y < h0; ++y) {
                DibPixelsRGB(source, y, row.data());
                for (int oy = 0; oy < h; ++oy)
                    for (int x = 0; x < w0; ++x)
                        for (int ox = 0; ox < w; ++ox) {
                            double cover = std::max(0.0, std::min((y + 1.0) * h / h0, oy + 1.0) - std::max(1.0 * y * h / h0, 1.0 * oy)) *
                                           std::max(0.0, std::min((x + 1.0) * w / w0, ox + 1.0) - std::max(1.0 * x * w / w0, 1.0 * ox));
                            for (int c = 0; c < 3; ++c)
                                want[size_t((oy * w + ox) * 3 + c)] += row[size_t(x * 3 + c)] * cover;
                        }
            }
            for (int y = 0; y < h; ++y) {
                DibPixelsRGB(scaled, y, got.data());
                for (int i = 0; i < w * 3; ++i)
                    ASSERT_NEAR(got[size_t(i)], want[size_t(y * w * 3 + i)], 0.51) << "row " << y << " sample " << i;
            }
        }
    }
}

TEST(DibUpright, UnsafeDibsGetNoCopy)
{
    Bytes cut = BuildDib({5, -3, 24}, -1);
    Bytes out(4096, 0xEE);
    EXPECT_FALSE(DibMemDrawsAsIs(cut.data(), cut.size()));
    EXPECT_EQ(DibMemUprightBytes(cut.data(), cut.size()), 0u);
    EXPECT_FALSE(DibMemMakeUpright(cut.data(), cut.size(), out.data(), out.size()));
    Bytes dib = BuildDib({5, -3, 24});
    EXPECT_FALSE(DibMemMakeUpright(dib.data(), dib.size(), out.data(), 40)) << "too small a target";
    EXPECT_EQ(out, Bytes(4096, 0xEE));
}
}  // namespace
