// What DibIsSafe refuses and accepts, case by case.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dib/dib_bytes.h"
#include "dib/dib_builder.h"

namespace {
struct SafetyCase {
    const char* what;
    DibShape shape;
    long extra;  // bytes added to (or cut from) the block the header describes
    bool safe;
};

const SafetyCase kCases[] = {
    // Consistent DIBs of every kind the program carries.
    {"1-bit", {33, 10, 1}, 0, true},
    {"4-bit", {5, 3, 4}, 0, true},
    {"8-bit", {5, 3, 8}, 0, true},
    {"16-bit", {5, 3, 16}, 0, true},
    {"24-bit", {5, 3, 24}, 0, true},
    {"32-bit", {5, 3, 32}, 0, true},
    {"48-bit", {5, 3, 48}, 0, true},
    {"top-down", {5, -3, 24}, 0, true},
    {"short colour table", {5, 3, 8, 40, 0, 0, 100}, 0, true},
    {"24-bit with a palette", {5, 3, 24, 40, 0, 0, 16}, 0, true},
    {"bytes past the rows", {5, 3, 8}, 100, true},
    {"version 5 header", {5, 3, 24, 124}, 0, true},
    {"core 1-bit", {9, 2, 1, 12}, 0, true},
    {"core 8-bit", {3, 3, 8, 12}, 0, true},
    {"core 24-bit", {3, 3, 24, 12}, 0, true},
    {"bitfields", {5, 3, 16, 40, 3, 32}, 12, true},
    {"RLE8 with its size", {5, 3, 8, 40, 1, 20}, 20 - 24, true},
    {"RLE4 with its size", {5, 3, 4, 40, 2, 8}, 0, true},
    {"largest side", {kDibMaxSide, 1, 1}, 0, true},
    // Headers that lie.
    {"header size 0", {5, 3, 24, 0}, 0, false},
    {"header size 11", {5, 3, 24, 11}, 0, false},
    {"header size 13", {5, 3, 24, 13}, 0, false},
    {"header size 39", {5, 3, 24, 39}, 40, false},
    {"header size past the block", {5, 3, 24, 4096}, -4000, false},
    {"depth 0", {5, 3, 0}, 0, false},
    {"depth 2", {5, 3, 2}, 0, false},
    {"depth 3", {5, 3, 3}, 0, false},
    {"depth 64", {5, 3, 64}, 0, false},
    {"core depth 16", {5, 3, 16, 12}, 0, false},
    {"core depth 32", {5, 3, 32, 12}, 0, false},
    {"width 0", {0, 3, 24}, 0, false},
    {"core width 0", {0, 3, 24, 12}, 0, false},
    {"negative width", {-5, 3, 24}, 0, false},
    {"height 0", {5, 0, 24}, 0, false},
    {"core height 0", {5, 0, 24, 12}, 0, false},
    {"width past the largest side", {kDibMaxSide + 1, 1, 1}, 0, false},
    {"height past the largest side", {1, kDibMaxSide + 1, 1}, 0, false},
    {"height of INT32_MIN", {1, INT32_MIN, 1}, 0, false},
    {"pixel bytes past 32 bits", {kDibMaxSide, kDibMaxSide, 48}, 0, false},
    {"rows cut by one byte", {5, 3, 24}, -1, false},
    {"rows cut short", {33, 10, 1}, -40, false},
    {"top-down rows cut", {5, -3, 8}, -1, false},
    {"core rows cut", {3, 3, 8, 12}, -1, false},
    {"colour table past the block", {1, 1, 8, 40, 0, 0, 1000}, -3000, false},
    {"colour count of 2^30", {1, 1, 8, 40, 0, 0, 1u << 30}, -(4l << 30) + 64, false},
    {"colour count of 2^32-1", {1, 1, 8, 40, 0, 0, 0xFFFFFFFF}, -(4l << 32) + 64, false},
    {"compression 4 (JPEG)", {5, 3, 24, 40, 4, 10}, 0, false},
    {"compression 5 (PNG)", {5, 3, 24, 40, 5, 10}, 0, false},
    {"bitfields at 24 bits", {5, 3, 24, 40, 3}, 0, false},
    {"bitfields without room for the masks", {5, 3, 32, 40, 3}, 0, false},
    {"bitfields rows cut by the masks", {5, 3, 16, 40, 3, 32}, 0, false},
    {"RLE8 at 4 bits", {5, 3, 4, 40, 1, 8}, 0, false},
    {"RLE4 at 8 bits", {5, 3, 8, 40, 2, 8}, 0, false},
    {"RLE8 without size", {5, 3, 8, 40, 1, 0}, 0, false},
    {"RLE8 size past the block", {5, 3, 8, 40, 1, 25}, 0, false},
    {"RLE8 top-down", {5, -3, 8, 40, 1, 20}, 0, false},
};

TEST(DibIsSafe, RefusesEveryLyingHeader)
{
    for (const SafetyCase& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> dib = BuildDib(c.shape, c.extra);
        EXPECT_EQ(DibIsSafe(dib.data(), dib.size()), c.safe);
    }
}

TEST(DibIsSafe, RefusesBlocksTooSmallForAnyHeader)
{
    std::vector<uint8_t> dib = BuildDib({1, 1, 24, 12});
    EXPECT_FALSE(DibIsSafe(nullptr, 100));
    for (size_t size = 0; size < dib.size(); ++size)
        EXPECT_FALSE(DibIsSafe(dib.data(), size)) << size;
    EXPECT_TRUE(DibIsSafe(dib.data(), dib.size()));
}

TEST(DibCreateBytes, OnlyGeometriesThatPassTheCheck)
{
    struct Case {
        int depth, width, height;
        int64_t bytes;
    };
    const Case cases[] = {
        {1, 33, -10, 128},
        {24, 5, 3, 88},
        {8, 1, 1, 40 + 1024 + 4},
        {4, 3, 1, 40 + 64 + 4},
        {0, 5, 5, -1},
        {-8, 5, 5, -1},
        {32, 5, 5, -1},  // not a normalised depth
        {24, 0, 5, -1},
        {24, -5, 5, -1},
        {24, 5, 0, -1},
        {48, kDibMaxSide, kDibMaxSide, -1},
        {24, kDibMaxSide + 1, 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.depth << " " << c.width << " " << c.height);
        EXPECT_EQ(DibCreateBytes(c.depth, c.width, c.height), c.bytes);
        if (c.bytes > 0) {
            std::vector<uint8_t> block(size_t(c.bytes));
            DibMemInit(block.data(), c.depth, c.width, c.height);
            EXPECT_TRUE(DibIsSafe(block.data(), block.size()));
        }
    }
}

TEST(BmpDibBytes, FileSizesBelowTheHeaderOrBeyondAnyDib)
{
    const std::pair<uint32_t, int64_t> cases[] = {
        {0, -1}, {13, -1}, {14, 0}, {102, 88}, {0x80000000u, -1}, {0xFFFFFFFFu, -1}};
    for (auto [size, bytes] : cases)
        EXPECT_EQ(BmpDibBytes(BmpFileHeader{kBmpSignature, size, 0, 0, 54}), bytes) << size;
}

TEST(BmpFileHeader, BuildsAndParsesLittleEndian)
{
    BmpFileHeader header{kBmpSignature, 0x01020304, 5, 6, 0x0A0B0C0D};
    uint8_t bytes[kFileHeaderBytes];
    BmpBuildFileHeader(header, bytes);
    const uint8_t expected[kFileHeaderBytes] = {'B', 'M', 4, 3, 2, 1, 5, 0, 6, 0, 0x0D, 0x0C, 0x0B, 0x0A};
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 14), std::vector<uint8_t>(expected, expected + 14));
    BmpFileHeader parsed = BmpParseFileHeader(bytes);
    EXPECT_EQ(parsed.type, header.type);
    EXPECT_EQ(parsed.size, header.size);
    EXPECT_EQ(parsed.reserved1, 5);
    EXPECT_EQ(parsed.reserved2, 6);
    EXPECT_EQ(parsed.offBits, header.offBits);
}
}  // namespace
