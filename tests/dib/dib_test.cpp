// DIB handles: creation, header queries, colour tables and row access.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dib/dib.h"
#include "dib/dib_builder.h"
#include "dib_handles.h"

namespace {
using Bytes = std::vector<uint8_t>;

struct CreateCase {
    int bits, width, height;
    int depth, colors, rowBytes;
    LONG biHeight;
    SIZE_T blockBytes;
};

const CreateCase kCreateCases[] = {
    {1, 33, -10, 1, 2, 8, 10, 40 + 8 + 80},
    {32, 100, 10, 24, 0, 300, 10, 40 + 3000},
    {12, 5, 3, 24, 0, 16, 3, 40 + 48},
    {6, 10, 2, 8, 256, 12, 2, 40 + 1024 + 24},
    {8, 5, 3, 8, 256, 8, 3, 40 + 1024 + 24},
    {5, 1, 1, 8, 256, 4, 1, 40 + 1024 + 4},
    {2, 5, 3, 4, 16, 4, 3, 40 + 64 + 12},
    {4, 9, -1, 4, 16, 8, 1, 40 + 64 + 8},
    {16, 3, 3, 16, 0, 8, 3, 40 + 24},
    {48, 2, 2, 48, 0, 12, 2, 40 + 24},
};

TEST(DibCreate, Geometry)
{
    for (const CreateCase& c : kCreateCases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits " << c.width << " x " << c.height);
        HGLOBAL dib = DibCreate(c.bits, c.width, c.height);
        ASSERT_NE(dib, nullptr);
        EXPECT_EQ(DibBitCount(dib), c.depth);
        EXPECT_EQ(DibColorCount(dib), c.colors);
        EXPECT_EQ(DibRowBytes(dib), c.rowBytes);
        EXPECT_EQ(DibWidth(dib), c.width);
        EXPECT_EQ(DibHeight(dib), c.biHeight);
        EXPECT_EQ(GlobalSize(dib), c.blockBytes);
        BITMAPINFOHEADER* h = DibLock(dib);
        EXPECT_EQ(h->biSize, 40u);
        EXPECT_EQ(h->biHeight, c.biHeight);
        EXPECT_EQ(h->biPlanes, 1);
        EXPECT_EQ(h->biCompression, DWORD(BI_RGB));
        EXPECT_EQ(h->biSizeImage, DWORD(c.rowBytes * c.biHeight));
        EXPECT_EQ(h->biXPelsPerMeter, 0);
        EXPECT_EQ(h->biClrUsed, 0u);
        EXPECT_EQ(h->biClrImportant, 0u);
        // The even gray ramp over the table.
        for (int i = 0; i < c.colors; ++i) {
            BYTE level = BYTE(i * 255 / (c.colors - 1));
            RGBQUAD q = DibColorTable(h)[i];
            ASSERT_TRUE(q.rgbBlue == level && q.rgbGreen == level && q.rgbRed == level && q.rgbReserved == 0) << i;
        }
        EXPECT_EQ(DibBits(h), reinterpret_cast<BYTE*>(h) + 40 + 4 * c.colors);
        DibUnlock(dib);
        EXPECT_TRUE(DibHandleIsSafe(dib));
        DibFree(dib);
    }
}

TEST(DibCreate, RefusesGeometriesNoDibCanHave)
{
    const int cases[][3] = {{0, 5, 5}, {-3, 5, 5}, {24, 0, 5}, {24, -5, 5}, {24, 5, 0},
                            {24, 5, INT32_MIN}, {48, kDibMaxSide, kDibMaxSide}, {1, kDibMaxSide + 1, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(DibCreate(c[0], c[1], c[2]), nullptr) << c[0] << " " << c[1] << " " << c[2];
}

struct CountCase {
    const char* what;
    DibShape shape;
    int colors;
    int bitsOffset;
};

const CountCase kCountCases[] = {
    {"core 1 bit", {8, 1, 1, 12}, 2, 12 + 6},
    {"core 4 bits", {8, 1, 4, 12}, 16, 12 + 48},
    {"core 8 bits", {8, 1, 8, 12}, 256, 12 + 768},
    {"core 24 bits", {8, 1, 24, 12}, 0, 12},
    {"1 bit", {8, 1, 1}, 2, 48},
    {"4 bits", {8, 1, 4}, 16, 104},
    {"8 bits", {8, 1, 8}, 256, 1064},
    {"8 bits, 100 used", {8, 1, 8, 40, 0, 0, 100}, 100, 440},
    {"16 bits", {8, 1, 16}, 0, 40},
    {"24 bits", {8, 1, 24}, 0, 40},
    {"24 bits, 16 used", {8, 1, 24, 40, 0, 0, 16}, 16, 104},
    {"32 bits", {8, 1, 32}, 0, 40},
    {"48 bits", {8, 1, 48}, 0, 40},
    {"version 4 header, 8 bits", {8, 1, 8, 108}, 256, 108 + 1024},
};

TEST(DibColorCount, EveryHeaderKind)
{
    for (const CountCase& c : kCountCases) {
        SCOPED_TRACE(c.what);
        HGLOBAL dib = ToHandle(BuildDib(c.shape));
        EXPECT_EQ(DibColorCount(dib), c.colors);
        EXPECT_EQ(DibWidth(dib), 8);
        EXPECT_EQ(DibBitCount(dib), c.shape.bitCount);
        BITMAPINFOHEADER* h = DibLock(dib);
        EXPECT_EQ(DibBits(h) - reinterpret_cast<BYTE*>(h), c.bitsOffset);
        DibUnlock(dib);
        DibFree(dib);
    }
}

TEST(DibRowPointer, TopDownAndBottomUp)
{
    for (LONG height : {3, -3}) {
        SCOPED_TRACE(height);
        HGLOBAL dib = ToHandle(BuildDib({4, height, 8}));
        BITMAPINFOHEADER* h = DibLock(dib);
        BYTE* bits = DibBits(h);
        for (int row = 0; row < 3; ++row) {
            int stored = height > 0 ? 2 - row : row;
            EXPECT_EQ(DibRowPointer(h, row), bits + 4 * stored);
            Bytes line(4);
            DibReadRow(dib, row, line.data());
            EXPECT_EQ(line, Bytes(bits + 4 * stored, bits + 4 * stored + 4));
        }
        DibUnlock(dib);
        EXPECT_EQ(DibHeight(dib), 3);
        DibFree(dib);
    }
}

TEST(DibRows, WriteThenReadAtEachDepth)
{
    for (int bits : {1, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        HGLOBAL dib = DibCreate(bits, 13, 4);
        int rowBytes = DibRowBytes(dib);
        for (int row = 0; row < 4; ++row) {
            Bytes line(rowBytes);
            for (int i = 0; i < rowBytes; ++i)
                line[i] = BYTE(row * 40 + i);
            DibWriteRow(dib, row, line.data());
        }
        BITMAPINFOHEADER* h = DibLock(dib);
        for (int row = 0; row < 4; ++row) {
            Bytes back(rowBytes);
            DibReadRow(dib, row, back.data());
            EXPECT_EQ(back[0], BYTE(row * 40));
            // Row 0 is the last stored line of a bottom-up DIB.
            EXPECT_EQ(DibBits(h)[(3 - row) * rowBytes], BYTE(row * 40));
        }
        DibUnlock(dib);
        DibFree(dib);
    }
}

TEST(DibRows, ChannelWrites)
{
    HGLOBAL color = DibCreate(24, 3, 1);
    Bytes zero(12, 0);
    DibWriteRow(color, 0, zero.data());
    const BYTE red[3] = {1, 2, 3}, green[3] = {4, 5, 6}, blue[3] = {7, 8, 9};
    DibWriteRowChannel(color, 0, red, 0);
    DibWriteRowChannel(color, 0, green, 1);
    DibWriteRowChannel(color, 0, blue, 2);
    Bytes line(12);
    DibReadRow(color, 0, line.data());
    EXPECT_EQ(line, (Bytes{7, 4, 1, 8, 5, 2, 9, 6, 3, 0, 0, 0}));
    DibFree(color);

    // Any other depth takes a whole row and ignores the channel.
    HGLOBAL gray = DibCreate(8, 5, 1);
    const Bytes row = {10, 11, 12, 13, 14, 15, 16, 17};
    DibWriteRowChannel(gray, 0, row.data(), 1);
    DibReadRow(gray, 0, line.data());
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 8), row);
    DibFree(gray);
}

struct RgbCase {
    int bits;
    int width;
    Bytes row;
    Bytes rgb;
};

TEST(DibReadRowRGB, EachDepth)
{
    // Colour i of the table is red 10 + i, green 20 + i, blue 30 + i.
    const RgbCase cases[] = {
        {1, 10, {0b10110000, 0b01000000, 0, 0}, {11, 21, 31, 10, 20, 30, 11, 21, 31, 11, 21, 31,
                                                 10, 20, 30, 10, 20, 30, 10, 20, 30, 10, 20, 30,
                                                 10, 20, 30, 11, 21, 31}},
        {4, 3, {0x3F, 0x10, 0, 0}, {13, 23, 33, 25, 35, 45, 11, 21, 31}},
        {8, 2, {7, 255, 0, 0}, {17, 27, 37, 9, 19, 29}},
        {24, 2, {1, 2, 3, 4, 5, 6, 0, 0}, {3, 2, 1, 6, 5, 4}},
    };
    for (const RgbCase& c : cases) {
        SCOPED_TRACE(c.bits);
        HGLOBAL dib = DibCreate(c.bits, c.width, 1);
        for (int i = 0; i < DibColorCount(dib); ++i)
            DibSetColor(dib, i, BYTE(10 + i), BYTE(20 + i), BYTE(30 + i));
        DibWriteRow(dib, 0, c.row.data());
        Bytes rgb(3 * c.width, 0xEE);
        DibReadRowRGB(dib, 0, rgb.data());
        EXPECT_EQ(rgb, c.rgb);
        DibFree(dib);
    }
    HGLOBAL deep = DibCreate(16, 2, 1);
    Bytes untouched(6, 0xEE);
    DibReadRowRGB(deep, 0, untouched.data());
    EXPECT_EQ(untouched, Bytes(6, 0xEE));
    DibFree(deep);
}

struct StoreCase {
    int bits;
    int x, width;
    int firstByte, bytesPerRow;
};

TEST(DibStoreRows, PiecesOfRowsAtEachDepth)
{
    const StoreCase cases[] = {
        {1, 8, 8, 1, 1}, {1, 9, 3, 1, 1}, {4, 2, 3, 1, 2}, {8, 1, 2, 1, 2}, {24, 1, 2, 3, 6}};
    for (const StoreCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits at " << c.x);
        HGLOBAL dib = DibCreate(c.bits, 24, 4);
        int rowBytes = DibRowBytes(dib);
        Bytes zero(rowBytes, 0);
        for (int r = 0; r < 4; ++r)
            DibWriteRow(dib, r, zero.data());
        Bytes src(64);
        for (int i = 0; i < 64; ++i)
            src[i] = BYTE(i + 1);
        BITMAPINFOHEADER* h = DibLock(dib);
        DibStoreRows(h, c.x, 1, c.width, 2, src.data(), 32);
        DibUnlock(dib);
        for (int r = 0; r < 4; ++r) {
            Bytes line(rowBytes), expected(rowBytes, 0);
            if (r == 1 || r == 2)
                for (int i = 0; i < c.bytesPerRow; ++i)
                    expected[c.firstByte + i] = src[(r - 1) * 32 + i];
            DibReadRow(dib, r, line.data());
            EXPECT_EQ(line, expected) << "row " << r;
        }
        DibFree(dib);
    }
}

TEST(DibStorePlane, ChannelsOfDeepRowsAndWholeBytesOfShallowOnes)
{
    HGLOBAL color = DibCreate(24, 4, 2);
    Bytes zero(12, 0);
    DibWriteRow(color, 0, zero.data());
    DibWriteRow(color, 1, zero.data());
    const BYTE plane[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    BITMAPINFOHEADER* h = DibLock(color);
    DibStorePlane(h, 1, 1, 0, 2, 2, plane, 4);  // green of pixels 1 and 2, rows 0 and 1
    DibUnlock(color);
    Bytes line(12);
    DibReadRow(color, 0, line.data());
    EXPECT_EQ(line, (Bytes{0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 0, 0}));
    DibReadRow(color, 1, line.data());
    EXPECT_EQ(line, (Bytes{0, 0, 0, 0, 5, 0, 0, 6, 0, 0, 0, 0}));
    DibFree(color);

    HGLOBAL gray = DibCreate(8, 4, 1);
    DibWriteRow(gray, 0, zero.data());
    h = DibLock(gray);
    DibStorePlane(h, 2, 1, 0, 2, 1, plane, 4);
    DibUnlock(gray);
    DibReadRow(gray, 0, line.data());
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 4), (Bytes{0, 1, 2, 0}));
    DibFree(gray);
}

TEST(DibSwapRedBlue, EveryPixelOfEveryRow)
{
    HGLOBAL dib = DibCreate(24, 2, 2);
    const Bytes rows[2] = {{1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13, 14, 15, 16}};
    DibWriteRow(dib, 0, rows[0].data());
    DibWriteRow(dib, 1, rows[1].data());
    BITMAPINFOHEADER* h = DibLock(dib);
    DibSwapRedBlue(h);
    DibUnlock(dib);
    Bytes line(8);
    DibReadRow(dib, 0, line.data());
    EXPECT_EQ(line, (Bytes{3, 2, 1, 6, 5, 4, 7, 8}));
    DibReadRow(dib, 1, line.data());
    EXPECT_EQ(line, (Bytes{11, 10, 9, 14, 13, 12, 15, 16}));
    DibFree(dib);
}

TEST(DibResolution, DotsPerInchAndPelsPerMetre)
{
    const struct {
        double dpi;
        LONG pels;
    } cases[] = {{300, 11811}, {200, 7874}, {96, 3780}, {72, 2835}, {0, 0}, {1e12, INT32_MAX}};
    HGLOBAL dib = DibCreate(1, 8, 8);
    for (auto c : cases) {
        SCOPED_TRACE(c.dpi);
        DibSetResolution(dib, c.dpi, c.dpi / 2);
        BITMAPINFOHEADER* h = DibLock(dib);
        EXPECT_EQ(h->biXPelsPerMeter, c.pels);
        LONG y = h->biYPelsPerMeter;
        DibUnlock(dib);
        EXPECT_DOUBLE_EQ(DibXResolution(dib), c.pels * 0.0254);
        EXPECT_DOUBLE_EQ(DibYResolution(dib), y * 0.0254);
    }
    DibSetResolution(dib, 300, 300);
    EXPECT_NEAR(DibXResolution(dib), 299.9994, 1e-9);
    DibSetResolution(dib, 96, 96);
    EXPECT_NEAR(DibYResolution(dib), 96.012, 1e-9);
    DibFree(dib);
}

TEST(DibColors, SetColorCountAndColorsInsideTheTable)
{
    HGLOBAL dib = DibCreate(1, 8, 2);
    Bytes before = BytesOf(dib);
    DibSetColor(dib, 2, 9, 9, 9);  // past the two entries: nothing changes
    DibSetColor(dib, -1, 9, 9, 9);
    EXPECT_EQ(BytesOf(dib), before);
    DibSetColor(dib, 1, 1, 2, 3);
    Bytes after = BytesOf(dib);
    EXPECT_EQ(Bytes(after.begin() + 44, after.begin() + 48), (Bytes{3, 2, 1, 0}));
    DibFree(dib);

    HGLOBAL gray = DibCreate(8, 4, 1);
    DibSetColorCount(gray, 100);
    EXPECT_EQ(DibColorCount(gray), 100);
    BITMAPINFOHEADER* h = DibLock(gray);
    EXPECT_EQ(DibBits(h) - reinterpret_cast<BYTE*>(h), 440);
    DibUnlock(gray);
    DibFillGrayRamp(gray);
    h = DibLock(gray);
    EXPECT_EQ(DibColorTable(h)[99].rgbRed, 255);
    EXPECT_EQ(DibColorTable(h)[33].rgbGreen, 33 * 255 / 99);
    DibUnlock(gray);
    EXPECT_TRUE(DibHandleIsSafe(gray));
    // A count whose table no longer fits the block makes the DIB unsafe to use.
    DibSetColorCount(gray, 300);
    EXPECT_FALSE(DibHandleIsSafe(gray));
    Bytes stale = BytesOf(gray);
    DibFillGrayRamp(gray);
    Bytes row(4, 7);
    DibWriteRow(gray, 0, row.data());
    EXPECT_EQ(BytesOf(gray), stale);
    DibFree(gray);
}

TEST(DibColorAt, BothEntrySizes)
{
    HGLOBAL core = ToHandle(BuildDib({2, 2, 8, 12}));
    HGLOBAL info = ToHandle(BuildDib({2, 2, 8}));
    for (HGLOBAL dib : {core, info}) {
        BITMAPINFOHEADER* h = DibLock(dib);
        RGBQUAD q = DibColorAt(h, 5);
        EXPECT_EQ(q.rgbBlue, 5);
        EXPECT_EQ(q.rgbGreen, 6);
        EXPECT_EQ(q.rgbRed, 7);
        DibUnlock(dib);
        DibFree(dib);
    }
}
}  // namespace
