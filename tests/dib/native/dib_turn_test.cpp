// Turning a page: every pixel where a plain reference turn puts it, the rest of the
// block kept, and a whole round giving back the very bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dib/dib_builder.h"
#include "dib/dib_simd.h"
#include "dib/dib_turn.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Turn(const Bytes& dib, DibTurn turn)
{
    Bytes out(DibMemTurnedBytes(dib.data(), dib.size(), turn), 0xEE);
    EXPECT_TRUE(DibMemTurn(dib.data(), dib.size(), turn, out.data(), out.size()));
    return out;
}

// Offset of the rows, and the bits of pixel (x, y) from the top read one by one.
uint64_t RowsAt(const Bytes& dib)
{
    DibLayout l = DibReadLayout(dib.data());
    return DibBitsOffset(l);
}
uint64_t PixelAt(const Bytes& dib, int x, int y)
{
    DibLayout l = DibReadLayout(dib.data());
    int rows = std::abs(l.height);
    const uint8_t* row = dib.data() + RowsAt(dib) + (l.height > 0 ? rows - 1 - y : y) * RowBytes(l.bitCount, l.width);
    uint64_t v = 0;
    for (int64_t b = int64_t(x) * l.bitCount; b < int64_t(x + 1) * l.bitCount; ++b)
        v = v << 1 | (row[b / 8] >> (7 - b % 8) & 1);
    return v;
}
// Padding bits behind each row's pixels cleared, as a turned DIB has them.
void ClearPadding(Bytes& dib)
{
    DibLayout l = DibReadLayout(dib.data());
    for (int y = 0; y < std::abs(l.height); ++y)
        for (int64_t b = int64_t(l.width) * l.bitCount; b < RowBytes(l.bitCount, l.width) * 8; ++b)
            dib[RowsAt(dib) + y * RowBytes(l.bitCount, l.width) + b / 8] &= uint8_t(~(0x80 >> b % 8));
}

struct TurnCase {
    const char* name;
    DibShape shape;
    long extra;  // bytes behind the rows (bit-field masks, or a tail the block carries)
};

TEST(DibTurn, EveryPixelLandsWhereAReferenceTurnPutsItAndAWholeRoundGivesBackTheBytes)
{
    const TurnCase cases[] = {
        {"24-bit bottom-up", {5, 3, 24}, 0},
        {"24-bit, more than one block each way", {301, 67, 24}, 0},
        {"48-bit top-down, more than one block each way", {259, -66, 48}, 0},
        {"24-bit top-down, exact size", {7, -2, 24, 40, 0, 48}, 0},
        {"1-bit, 33 wide", {33, 3, 1}, 0},
        {"4-bit top-down", {9, -3, 4}, 0},
        {"8-bit with 16 colours and a tail", {7, 2, 8, 40, 0, 0, 16}, 5},
        {"16-bit", {5, -3, 16}, 0},
        {"32-bit top-down, more than a group of four each way", {67, -9, 32}, 0},
        {"16-bit bit fields counting the masks", {3, -2, 16, 40, 3, 16 + 12}, 12},
        {"32-bit bit fields in a larger header", {3, 2, 32, 108, 3, 24}, 0},
        {"8-bit core header", {3, 5, 8, 12}, 0},
        {"24-bit core header", {2, 3, 24, 12}, 0},
        {"24-bit version 5 header, a profile behind the rows", {5, 3, 24, 124}, 20},
    };
    for (bool simd : {true, false})
    for (const TurnCase& c : cases) {
        dibUseSimd = simd;
        SCOPED_TRACE(simd ? "SSSE3 where the processor has it" : "plain loops");
        Bytes dib = BuildDib(c.shape, c.extra);
        bool core = c.shape.headerSize == 12;
        if (!core)
            PutLE(dib, 24, 11811, 4), PutLE(dib, 28, 7874, 4);
        if (c.shape.headerSize == 124)
            EmbedProfile(dib, uint32_t(c.extra));
        ClearPadding(dib);
        ASSERT_TRUE(DibIsSafe(dib.data(), dib.size())) << c.name;
        const int w = c.shape.width, h = std::abs(c.shape.height);
        const size_t kept = core ? 12 : c.shape.headerSize == 124 ? 124 : 40, tail = c.shape.compression ? 0 : size_t(c.extra);
        for (DibTurn turn : {DibTurn::kClockwise, DibTurn::kCounterClockwise, DibTurn::kHalf}) {
            SCOPED_TRACE(std::string(c.name) + ", turn " + std::to_string(int(turn)));
            Bytes out = Turn(dib, turn);
            ASSERT_TRUE(DibIsSafe(out.data(), out.size()));
            DibLayout l = DibReadLayout(out.data());
            bool quarter = turn != DibTurn::kHalf;
            EXPECT_EQ(l.width, quarter ? h : w);
            EXPECT_EQ(l.height, (quarter ? w : h) * (c.shape.height < 0 ? -1 : 1)) << "storage order kept";
            if (!core) {
                EXPECT_EQ(out[24] | out[25] << 8, quarter ? 7874 : 11811) << "resolutions swapped";
                EXPECT_EQ(out[28] | out[29] << 8, quarter ? 11811 : 7874);
                EXPECT_EQ(l.sizeImage, c.shape.sizeImage ? DibImageBytes(l) + c.extra : 0) << "sizeImage follows";
            }
            EXPECT_EQ(Bytes(out.begin() + kept, out.begin() + RowsAt(out)), Bytes(dib.begin() + kept, dib.begin() + RowsAt(dib)))
                << "masks and colour table kept";
            EXPECT_EQ(Bytes(out.end() - tail, out.end()), Bytes(dib.end() - tail, dib.end())) << "tail kept";
            if (c.shape.headerSize == 124)
                EXPECT_EQ(size_t(out[112] | out[113] << 8), out.size() - tail) << "the profile followed";
            for (int y = 0; y < std::abs(l.height); ++y)
                for (int x = 0; x < l.width; ++x) {
                    int sx = turn == DibTurn::kClockwise ? y : turn == DibTurn::kCounterClockwise ? w - 1 - y : w - 1 - x;
                    int sy = turn == DibTurn::kClockwise ? h - 1 - x : turn == DibTurn::kCounterClockwise ? x : h - 1 - y;
                    ASSERT_EQ(PixelAt(out, x, y), PixelAt(dib, sx, sy)) << x << "," << y;
                }
            for (int i = quarter ? 1 : 3; i < 4; ++i)
                out = Turn(out, turn);
            EXPECT_EQ(out, dib) << "a whole round gives back every byte";
        }
    }
    dibUseSimd = true;
}

TEST(DibTurn, CompressedUnsafeOrCrampedDibsAndSmallTargetsAreLeftAlone)
{
    // Run-length rows, a block cut short, bit-field masks that leave no room for the rows,
    // and a sound DIB with one byte too few to turn into.
    Bytes out(4096, 0xEE), sound = BuildDib({5, 3, 24});
    for (const Bytes& dib : {BuildDib({4, 2, 8, 40, 1, 10}, 10), BuildDib({5, 3, 24}, -1), BuildDib({2, -2, 16, 40, 3, 8})})
        EXPECT_EQ(DibMemTurnedBytes(dib.data(), dib.size(), DibTurn::kClockwise), 0u);
    EXPECT_FALSE(DibMemTurn(sound.data(), sound.size(), DibTurn::kClockwise, out.data(), sound.size() - 1));
    EXPECT_EQ(out, Bytes(4096, 0xEE));
}
}  // namespace
