// Palettes made for the view, and how far a DIB's colour count is trusted.
#include "app/view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
// A DIB block built by hand, so that headers can lie.
HGLOBAL MakeDib(int bitCount, int width, int height, uint32_t clrUsed, size_t tableEntries,
                const std::vector<RGBQUAD>& colours = {})
{
    size_t rowBytes = ((bitCount * width + 31) / 32) * 4;
    size_t size = sizeof(BITMAPINFOHEADER) + tableEntries * sizeof(RGBQUAD) + rowBytes * height;
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<WORD>(bitCount);
    header->biClrUsed = clrUsed;
    auto* table = reinterpret_cast<RGBQUAD*>(header + 1);
    for (size_t i = 0; i < colours.size() && i < tableEntries; ++i)
        table[i] = colours[i];
    GlobalUnlock(dib);
    return dib;
}

std::vector<PALETTEENTRY> Entries(HPALETTE palette)
{
    std::vector<PALETTEENTRY> entries(GetPaletteEntries(palette, 0, 0, nullptr));
    GetPaletteEntries(palette, 0, static_cast<UINT>(entries.size()), entries.data());
    return entries;
}

struct PaletteCase {
    const char* name;
    int bitCount;
    uint32_t clrUsed;
    size_t tableEntries;
    size_t expectedEntries;
};

TEST(CreateDibPalette, EntryCountFollowsTheColourTable)
{
    const PaletteCase cases[] = {
        {"1-bit: two entries", 1, 0, 2, 2},
        {"4-bit: sixteen", 4, 0, 16, 16},
        {"8-bit without biClrUsed: 256", 8, 0, 256, 256},
        {"8-bit with biClrUsed 16", 8, 16, 16, 16},
        {"24-bit: the default palette", 24, 0, 0, 256},
        {"24-bit with an optimising table of 5", 24, 5, 5, 5},
        // Headers that promise more than the block holds or a palette can realize. A 4 x 2
        // image of 8 bits has 8 bytes of rows: behind the 40-byte header a block with 4
        // table entries holds 16 + 8 bytes, six entries' worth.
        {"8-bit claiming 70000 colours in a small block", 8, 70000, 4, 6},
        {"8-bit claiming 300 colours with 10 in the block", 8, 300, 10, 12},
        {"24-bit claiming 1000 colours", 24, 1000, 1000, 256},
    };
    for (const PaletteCase& c : cases) {
        SCOPED_TRACE(c.name);
        HGLOBAL dib = MakeDib(c.bitCount, 4, 2, c.clrUsed, c.tableEntries);
        HPALETTE palette = CreateDibPalette(dib);
        ASSERT_TRUE(palette);
        EXPECT_EQ(Entries(palette).size(), c.expectedEntries);
        DeleteObject(palette);
        GlobalFree(dib);
    }
}

TEST(CreateDibPalette, CopiesTheTableColoursWithoutFlags)
{
    std::vector<RGBQUAD> colours = {{10, 20, 30, 99}, {200, 150, 100, 7}};
    HGLOBAL dib = MakeDib(1, 8, 1, 0, 2, colours);
    HPALETTE palette = CreateDibPalette(dib);
    auto entries = Entries(palette);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].peRed, 30);
    EXPECT_EQ(entries[0].peGreen, 20);
    EXPECT_EQ(entries[0].peBlue, 10);
    EXPECT_EQ(entries[1].peRed, 100);
    EXPECT_EQ(entries[1].peBlue, 200);
    EXPECT_EQ(entries[0].peFlags | entries[1].peFlags, 0);
    DeleteObject(palette);
    GlobalFree(dib);
}

TEST(CreateDibPalette, CoreHeaderColoursAreThreeBytesEach)
{
    // BITMAPCOREHEADER, 1 bit, 8 x 1, two RGBTRIPLE entries, one row.
    const BYTE bytes[] = {12, 0, 0, 0, 8, 0, 1, 0, 1, 0, 1, 0,  // header
                          30, 20, 10, 60, 50, 40,              // blue, green, red twice
                          0xAA, 0, 0, 0};
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, sizeof bytes);
    std::memcpy(GlobalLock(dib), bytes, sizeof bytes);
    GlobalUnlock(dib);
    HPALETTE palette = CreateDibPalette(dib);
    auto entries = Entries(palette);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(RGB(entries[0].peRed, entries[0].peGreen, entries[0].peBlue), RGB(10, 20, 30));
    EXPECT_EQ(RGB(entries[1].peRed, entries[1].peGreen, entries[1].peBlue), RGB(40, 50, 60));
    DeleteObject(palette);
    GlobalFree(dib);
}

TEST(DefaultPalette, StaticColoursGraysAndTheCube)
{
    const auto& p = DefaultPalette();
    auto rgb = [&](int i) { return RGB(p[i].peRed, p[i].peGreen, p[i].peBlue); };
    EXPECT_EQ(rgb(0), RGB(0, 0, 0));
    EXPECT_EQ(rgb(7), RGB(192, 192, 192));
    EXPECT_EQ(rgb(9), RGB(166, 202, 240));
    EXPECT_EQ(rgb(10), RGB(4, 4, 4));
    EXPECT_EQ(rgb(21), RGB(57, 57, 57));
    EXPECT_EQ(rgb(22), RGB(255, 124, 128));
    EXPECT_EQ(rgb(233), RGB(165, 0, 33));
    EXPECT_EQ(rgb(234), RGB(95, 95, 95));
    EXPECT_EQ(rgb(246), RGB(255, 251, 240));
    EXPECT_EQ(rgb(255), RGB(255, 255, 255));
    for (int i = 0; i < 256; ++i) {
        bool systemColour = i < 10 || i >= 246;
        EXPECT_EQ(p[i].peFlags, systemColour ? 0 : PC_NOCOLLAPSE) << i;
    }
    // Positions 29..232 hold 204 distinct cube colours, none of the left-out ones.
    std::vector<COLORREF> cube;
    for (int i = 29; i <= 232; ++i) {
        EXPECT_EQ(p[i].peRed % 51 + p[i].peGreen % 51 + p[i].peBlue % 51, 0) << i;
        cube.push_back(rgb(i));
    }
    std::sort(cube.begin(), cube.end());
    EXPECT_EQ(std::unique(cube.begin(), cube.end()), cube.end());
    for (COLORREF omitted : {RGB(0, 51, 255), RGB(0, 255, 51), RGB(51, 0, 255), RGB(51, 255, 0), RGB(255, 0, 0)})
        EXPECT_FALSE(std::binary_search(cube.begin(), cube.end(), omitted));
}
}  // namespace
