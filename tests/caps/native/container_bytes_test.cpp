// Byte-level containers under ASan/UBSan: conversions, the range arithmetic, editing,
// the pixel-type filter, and every reader and editor on containers a buggy source sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "caps/container_bytes.h"
#include "twain/container_bytes.h"

using namespace cbytes;
using capbytes::Bytes;
using capbytes::Put;

namespace {

// A list container with items written at the item type's width; `extra` spare bytes.
Bytes List(std::uint32_t type, std::uint16_t itemType, std::vector<std::uint32_t> items, std::uint32_t current = 0,
           std::uint32_t def = 0, std::size_t extra = 0)
{
    const std::size_t header = type == TWON_ENUMERATION ? 14 : 6;
    Bytes b(header + items.size() * itemSizes[itemType] + extra, 0xEE);
    Put(b, 0, itemType, 2);
    Put(b, 2, static_cast<std::uint32_t>(items.size()), 4);
    if (type == TWON_ENUMERATION) {
        Put(b, 6, current, 4);
        Put(b, 10, def, 4);
    }
    for (std::size_t i = 0; i < items.size(); ++i)
        Put(b, header + i * itemSizes[itemType], items[i], itemSizes[itemType]);
    return b;
}

Bytes Range(std::uint16_t itemType, std::uint32_t min, std::uint32_t max, std::uint32_t step, std::uint32_t current = 0)
{
    Bytes b(22, 0);
    Put(b, 0, itemType, 2);
    Put(b, 2, min, 4);
    Put(b, 6, max, 4);
    Put(b, 10, step, 4);
    Put(b, 14, min, 4);
    Put(b, 18, current, 4);
    return b;
}

Bytes OneValue(std::uint16_t itemType, std::uint32_t item)
{
    Bytes b(6, 0);
    Put(b, 0, itemType, 2);
    Put(b, 2, item, 4);
    return b;
}

Block Of(std::uint32_t type, Bytes& b)
{
    return Block{type, b.data(), b.size()};
}

}  // namespace

struct Fix32Case {
    double x;
    std::int16_t whole;
    std::uint16_t frac;
    double back;
};

TEST(Fix32, ConvertsByRoundingToTheNearest65536th)
{
    const Fix32Case cases[] = {
        {-0.5, -1, 32768, -0.5},  {1.5, 1, 32768, 1.5},     {0.00001, 0, 1, 1 / 65536.0},
        {1.25, 1, 16384, 1.25},   {300, 300, 0, 300},       {-2.25, -3, 49152, -2.25},
        {1e9, 32767, 65535, 32767 + 65535 / 65536.0},       {-1e9, -32768, 0, -32768},
    };
    for (const auto& c : cases) {
        const std::uint32_t bits = DoubleToFix32Bits(c.x);
        EXPECT_EQ(static_cast<std::int16_t>(bits & 0xFFFF), c.whole) << c.x;
        EXPECT_EQ(bits >> 16, c.frac) << c.x;
        EXPECT_EQ(Fix32BitsToDouble(bits), c.back) << c.x;
    }
}

TEST(Fix32, RoundToLongTakesHalvesAwayFromZeroAndSaturates)
{
    const std::pair<double, std::int32_t> cases[] = {
        {2.5, 3}, {-2.5, -3}, {2.49, 2}, {-2.49, -2}, {0, 0}, {1e12, INT32_MAX}, {-1e12, INT32_MIN}, {NAN, 0},
    };
    for (auto [x, want] : cases)
        EXPECT_EQ(RoundToLong(x), want) << x;
}

struct FieldCase {
    std::uint16_t itemType;
    double x;
    std::uint32_t field;
    double back;
};

TEST(Fields, TruncateThenKeepTheTypesBits)
{
    const FieldCase cases[] = {
        {TWTY_UINT16, 70000, 4464, 4464},           {TWTY_INT16, -1.7, 0xFFFFFFFF, -1},
        {TWTY_UINT16, 2.9, 2, 2},                   {TWTY_INT8, 200, 0xFFFFFFC8, -56},
        {TWTY_UINT8, 300, 44, 44},                  {TWTY_UINT32, -1, 0xFFFFFFFF, 4294967295.0},
        {TWTY_INT32, -5, 0xFFFFFFFB, -5},           {TWTY_BOOL, 65537, 1, 1},
        {TWTY_FIX32, 1.25, 0x40000001, 1.25},       {TWTY_FRAME, 5, 0, 0},
        {TWTY_UINT32, 1e30, 0xFFFFFFFF, 4294967295.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DoubleToField(c.itemType, c.x), c.field) << c.itemType << " " << c.x;
        EXPECT_EQ(FieldToDouble(c.itemType, c.field), c.back) << c.itemType << " " << c.x;
    }
}

TEST(Sizes, ContainerBytesFollowsTheLayouts)
{
    struct {
        std::uint32_t type, itemType, n, bytes;
    } const cases[] = {
        {TWON_ONEVALUE, TWTY_STR255, 1, 258}, {TWON_ONEVALUE, TWTY_UINT16, 1, 6},  {TWON_ONEVALUE, TWTY_FRAME, 1, 18},
        {TWON_ARRAY, TWTY_UINT16, 3, 14},     {TWON_ENUMERATION, TWTY_FIX32, 2, 24}, {TWON_RANGE, TWTY_INT32, 0, 22},
        {7, TWTY_UINT16, 1, 0},            {TWON_ARRAY, TWTY_STR255, 0x01000000, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ContainerBytes(c.type, c.itemType, c.n), c.bytes) << c.type << "/" << c.itemType;
    EXPECT_EQ(ItemSize(13), 0u);
    EXPECT_EQ(ItemSize(0xFFFF), 0u);
}

TEST(Compatibility, SameSizedIntegersReadEachOther)
{
    struct {
        std::uint32_t have, want;
        bool ok;
    } const cases[] = {
        {TWTY_INT16, TWTY_UINT16, true},  {TWTY_INT8, TWTY_UINT8, true},   {TWTY_INT32, TWTY_UINT32, true}, {TWTY_BOOL, TWTY_UINT16, false},
        {TWTY_UINT16, TWTY_BOOL, false},  {TWTY_FIX32, TWTY_INT32, false}, {TWTY_FIX32, TWTY_FIX32, true},  {TWTY_INT16, TWTY_INT32, false},
        {TWTY_FRAME, TWTY_FRAME, true},   {TWTY_UINT8, TWTY_UINT16, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ItemTypesCompatible(c.have, c.want), c.ok) << c.have << "/" << c.want;
}

TEST(Range, ZeroToHundredStepThree)
{
    Bytes r = Range(TWTY_UINT16, 0, 100, 3);
    Block b = Of(TWON_RANGE, r);
    EXPECT_EQ(ItemCount(b), 35);
    EXPECT_EQ(Item(b, 33), 99.0);
    EXPECT_EQ(Item(b, 34), 100.0);
    EXPECT_EQ(Item(b, 99), 100.0);
    EXPECT_EQ(Item(b, -5), 0.0);
    EXPECT_EQ(FindValue(b, 100), 34);
    EXPECT_EQ(FindValue(b, 99), 33);
    EXPECT_EQ(FindValue(b, 0), 0);
    EXPECT_EQ(FindValue(b, 4), -1);
    EXPECT_EQ(FindValue(b, 101), -1);
    EXPECT_EQ(ItemPointer(b, 0), nullptr);

    Bytes r2 = Range(TWTY_INT32, 50, 200, 50);
    EXPECT_EQ(ItemCount(Of(TWON_RANGE, r2)), 4);
}

TEST(Range, FindMatchesALinearSearchOnFix32)
{
    Bytes r = Range(TWTY_FIX32, DoubleToFix32Bits(-1.5), DoubleToFix32Bits(2.0), DoubleToFix32Bits(0.25));
    Block b = Of(TWON_RANGE, r);
    ASSERT_EQ(ItemCount(b), 15);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(FindValue(b, *Item(b, i)), i);
    EXPECT_EQ(FindValue(b, 0.1), -1);
}

TEST(Range, UnsteppableRangesHoldMinimumAndMaximum)
{
    struct {
        std::uint16_t itemType;
        std::uint32_t min, max, step;
        int count;
        double first, last;
    } const cases[] = {
        {TWTY_UINT16, 0, 100, 0, 2, 0, 100},          // step 0
        {TWTY_UINT16, 7, 7, 0, 1, 7, 7},              // step 0, one value
        {TWTY_INT16, 0, 10, 0xFFFF, 2, 0, 10},        // negative step
        {TWTY_INT16, 10, 0, 2, 1, 10, 10},            // maximum below minimum
    };
    for (const auto& c : cases) {
        Bytes r = Range(c.itemType, c.min, c.max, c.step);
        Block b = Of(TWON_RANGE, r);
        EXPECT_EQ(ItemCount(b), c.count);
        EXPECT_EQ(Item(b, 0), c.first);
        EXPECT_EQ(Item(b, 1000), c.last);
        EXPECT_EQ(FindValue(b, c.last), c.count - 1);
        EXPECT_EQ(FindValue(b, c.first), 0);
        EXPECT_EQ(SetIndex(b, c.count - 1, true), true);
        EXPECT_EQ(Current(b), c.last);
    }
}

TEST(Range, CountsBeyondAnIntAreCut)
{
    Bytes r = Range(TWTY_UINT32, 0, 0xFFFFFFFF, 1);
    Block b = Of(TWON_RANGE, r);
    EXPECT_EQ(ItemCount(b), INT_MAX);
    EXPECT_EQ(FindValue(b, 7), 7);
    EXPECT_EQ(FindValue(b, 4294967295.0), -1);
}

TEST(Lists, FindReturnsTheLastEqualItem)
{
    Bytes e = List(TWON_ENUMERATION, TWTY_UINT16, {1, 2, 2});
    EXPECT_EQ(FindValue(Of(TWON_ENUMERATION, e), 2), 2);
    EXPECT_EQ(FindValue(Of(TWON_ENUMERATION, e), 1), 0);
    EXPECT_EQ(FindValue(Of(TWON_ENUMERATION, e), 3), -1);
}

TEST(Lists, ItemsAreReadAtTheirOwnWidth)
{
    Bytes e = List(TWON_ARRAY, TWTY_INT8, {0xFF, 5, 0x80});
    Block b = Of(TWON_ARRAY, e);
    EXPECT_EQ(Item(b, 0), -1.0);
    EXPECT_EQ(Item(b, 1), 5.0);
    EXPECT_EQ(Item(b, 2), -128.0);
    EXPECT_EQ(Item(b, 7), -128.0);
    EXPECT_EQ(ItemPointer(b, 1), e.data() + 7);
    Bytes empty = List(TWON_ARRAY, TWTY_INT8, {});
    EXPECT_EQ(ItemCount(Of(TWON_ARRAY, empty)), 0);
    EXPECT_EQ(Item(Of(TWON_ARRAY, empty), 0), std::nullopt);
    EXPECT_EQ(ItemPointer(Of(TWON_ARRAY, empty), 0), nullptr);
}

// Each faulty container makes every operation answer its failure value; ASan checks
// that nothing outside the block is touched.
struct Faulty {
    const char* name;
    std::uint32_t type;
    Bytes bytes;
};

class Untrusted : public ::testing::TestWithParam<Faulty> {};

TEST_P(Untrusted, EveryOperationFailsInsideTheBlock)
{
    Bytes bytes = GetParam().bytes;
    Block b{GetParam().type, bytes.data(), bytes.size()};
    EXPECT_EQ(ItemCount(b), -1);
    EXPECT_EQ(Item(b, 0), std::nullopt);
    EXPECT_EQ(Item(b, 1 << 30), std::nullopt);
    EXPECT_EQ(ItemPointer(b, 0), nullptr);
    EXPECT_EQ(FindValue(b, 0), -1);
    EXPECT_EQ(Current(b), std::nullopt);
    EXPECT_EQ(Default(b), std::nullopt);
    EXPECT_FALSE(SetIndex(b, 0, true));
    EXPECT_FALSE(SetValue(b, 0, false));
    EXPECT_FALSE(SetItem(b, 0, 1));
    EXPECT_FALSE(SetString(b, 0, "x"));
    EXPECT_FALSE(SetFrame(b, 0, 1, 2, 3, 4));
    EXPECT_FALSE(DeleteItem(b, 0));
    EXPECT_EQ(BytesForInsert(b), 0u);
    EXPECT_EQ(InsertItem(b, 0, 1), -1);
    std::uint8_t out[256];
    EXPECT_FALSE(CopyCurrentValue(b, TWTY_UINT16, out));
    EXPECT_EQ(bytes, GetParam().bytes) << "a failed edit changed the block";
}

Bytes Cut(Bytes b, std::size_t size)
{
    b.resize(size);
    return b;
}

Bytes WithCount(Bytes b, std::uint32_t n)
{
    Put(b, 2, n, 4);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Containers, Untrusted,
    ::testing::Values(Faulty{"NumItemsOneBeyond", TWON_ENUMERATION, WithCount(List(TWON_ENUMERATION, TWTY_UINT16, {1, 2}), 3)},
                      Faulty{"NumItemsHuge", TWON_ARRAY, WithCount(List(TWON_ARRAY, TWTY_STR255, {}), 0xFFFFFFFF)},
                      Faulty{"EnumShorterThanHeader", TWON_ENUMERATION, Cut(List(TWON_ENUMERATION, TWTY_UINT16, {}), 13)},
                      Faulty{"ArrayShorterThanHeader", TWON_ARRAY, Cut(List(TWON_ARRAY, TWTY_UINT16, {}), 5)},
                      Faulty{"OneValueShort", TWON_ONEVALUE, Cut(OneValue(TWTY_UINT16, 1), 5)},
                      Faulty{"RangeShort", TWON_RANGE, Cut(Range(TWTY_UINT16, 0, 9, 1), 21)},
                      Faulty{"ItemType13", TWON_ENUMERATION, List(TWON_ENUMERATION, 13, {})},
                      Faulty{"ItemType13OneValue", TWON_ONEVALUE, OneValue(13, 1)},
                      Faulty{"ItemTypeHuge", TWON_ARRAY, WithCount(Bytes{0x34, 0x12, 0, 0, 0, 0, 0, 0}, 1)},
                      Faulty{"RangeOfFrames", TWON_RANGE, Range(TWTY_FRAME, 0, 9, 1)},
                      Faulty{"StringOneValueInSixBytes", TWON_ONEVALUE, OneValue(TWTY_STR255, 0)},
                      Faulty{"UnknownContainerType", 9, OneValue(TWTY_UINT16, 1)},
                      Faulty{"Empty", TWON_RANGE, Bytes{}}),
    [](const auto& info) { return info.param.name; });

TEST(Selected, EnumerationIndexMustNameAnItem)
{
    Bytes e = List(TWON_ENUMERATION, TWTY_INT16, {10, 20, 30}, 2, 3);
    Block b = Of(TWON_ENUMERATION, e);
    EXPECT_EQ(Current(b), 30.0);
    EXPECT_EQ(Default(b), std::nullopt);
    EXPECT_EQ(EnumIndex(b, false), 3u);
    std::uint8_t out[2] = {};
    ASSERT_TRUE(CopyCurrentValue(b, TWTY_UINT16, out));
    EXPECT_EQ(LoadLE16(out), 30);
    Put(e, 6, 3, 4);
    EXPECT_FALSE(CopyCurrentValue(b, TWTY_UINT16, out));
    Bytes a = List(TWON_ARRAY, TWTY_UINT16, {1});
    EXPECT_EQ(Current(Of(TWON_ARRAY, a)), std::nullopt);
    EXPECT_FALSE(CopyCurrentValue(Of(TWON_ARRAY, a), TWTY_UINT16, out));
}

TEST(Selected, CopyCurrentValueKeepsTheBitPatternOfCompatibleTypes)
{
    std::uint8_t out[4] = {};
    Bytes one = OneValue(TWTY_INT16, 0xFFFFFFFF);
    ASSERT_TRUE(CopyCurrentValue(Of(TWON_ONEVALUE, one), TWTY_UINT16, out));
    EXPECT_EQ(LoadLE16(out), 0xFFFF);
    Bytes boolean = OneValue(TWTY_BOOL, 1);
    EXPECT_FALSE(CopyCurrentValue(Of(TWON_ONEVALUE, boolean), TWTY_UINT16, out));
    Bytes range = Range(TWTY_FIX32, 0, 0x10000 * 600, 0x10000, DoubleToFix32Bits(300.5));
    ASSERT_TRUE(CopyCurrentValue(Of(TWON_RANGE, range), TWTY_FIX32, out));
    EXPECT_EQ(Fix32BitsToDouble(LoadLE32(out)), 300.5);
    // A frame is wider than the range's value field.
    Bytes frames = Range(TWTY_FRAME, 0, 0, 0);
    std::uint8_t frame[16];
    EXPECT_FALSE(CopyCurrentValue(Of(TWON_RANGE, frames), TWTY_FRAME, frame));
    EXPECT_FALSE(CopyCurrentValue(Of(TWON_ONEVALUE, one), 13, out));
}

TEST(Editing, IndicesOnlyForEnumerationsAndRanges)
{
    Bytes r = Range(TWTY_UINT16, 0, 100, 3);
    Block rb = Of(TWON_RANGE, r);
    EXPECT_TRUE(SetIndex(rb, 34, true));
    EXPECT_EQ(Current(rb), 100.0);
    EXPECT_TRUE(SetValue(rb, 99, false));
    EXPECT_EQ(Default(rb), 99.0);
    EXPECT_FALSE(SetIndex(rb, 35, true));
    EXPECT_FALSE(SetValue(rb, 4, true));
    EXPECT_FALSE(SetItem(rb, 0, 5));

    Bytes a = List(TWON_ARRAY, TWTY_UINT16, {1, 2});
    EXPECT_FALSE(SetIndex(Of(TWON_ARRAY, a), 0, true));
    Bytes one = OneValue(TWTY_UINT16, 1);
    EXPECT_FALSE(SetIndex(Of(TWON_ONEVALUE, one), 0, true));
    EXPECT_TRUE(SetItem(Of(TWON_ONEVALUE, one), 0, 70000));
    EXPECT_EQ(Current(Of(TWON_ONEVALUE, one)), 4464.0);
    EXPECT_FALSE(SetItem(Of(TWON_ONEVALUE, one), 1, 3));

    Bytes e = List(TWON_ENUMERATION, TWTY_UINT16, {5, 6, 7});
    Block eb = Of(TWON_ENUMERATION, e);
    EXPECT_TRUE(SetValue(eb, 7, true));
    EXPECT_EQ(EnumIndex(eb, true), 2u);
    EXPECT_FALSE(SetIndex(eb, -1, true));
}

TEST(Editing, StringsAreCutAtTheItemSizeAndZeroFilled)
{
    Bytes e = List(TWON_ARRAY, TWTY_STR32, {0, 0});
    Block b = Of(TWON_ARRAY, e);
    EXPECT_TRUE(SetString(b, 1, "abc"));
    EXPECT_EQ(std::memcmp(e.data() + 6 + 34, "abc\0\0", 5), 0);
    EXPECT_EQ(e[6 + 34 + 33], 0);
    const std::string longText(40, 'z');
    EXPECT_TRUE(SetString(b, 0, longText.c_str()));
    EXPECT_EQ(e[6 + 33], 'z');  // cut, no terminating zero
    EXPECT_EQ(e[6 + 34], 'a');  // the neighbour is intact
    EXPECT_FALSE(SetString(b, 2, "x"));
}

TEST(Editing, FramesOnlyOnFrameItems)
{
    Bytes one(18, 0);
    Put(one, 0, TWTY_FRAME, 2);
    Block b = Of(TWON_ONEVALUE, one);
    EXPECT_TRUE(SetFrame(b, 0, 1.25, 0, 8.5, -0.5));
    EXPECT_EQ(LoadLE32(one.data() + 2), DoubleToFix32Bits(1.25));
    EXPECT_EQ(LoadLE32(one.data() + 10), DoubleToFix32Bits(8.5));
    EXPECT_EQ(LoadLE32(one.data() + 14), DoubleToFix32Bits(-0.5));
    Bytes u = OneValue(TWTY_UINT32, 0);
    EXPECT_FALSE(SetFrame(Of(TWON_ONEVALUE, u), 0, 1, 2, 3, 4));
    EXPECT_FALSE(SetItem(b, 0, 1));
}

TEST(Editing, DeleteAndInsertMoveTheOtherItems)
{
    Bytes e = List(TWON_ENUMERATION, TWTY_UINT16, {10, 20, 30}, 2, 1, 2);
    Block b = Of(TWON_ENUMERATION, e);
    EXPECT_EQ(BytesForInsert(b), 16u + 4 * 2);
    EXPECT_TRUE(DeleteItem(b, 0));
    EXPECT_EQ(ItemCount(b), 2);
    EXPECT_EQ(Item(b, 0), 20.0);
    EXPECT_EQ(EnumIndex(b, true), 2u);  // indices are not adjusted
    EXPECT_EQ(InsertItem(b, 0, 5), 1);
    EXPECT_EQ(InsertItem(b, -1, 99), 1);  // appends
    ASSERT_EQ(ItemCount(b), 4);
    EXPECT_EQ(Item(b, 0), 5.0);
    EXPECT_EQ(Item(b, 1), 20.0);
    EXPECT_EQ(Item(b, 2), 30.0);
    EXPECT_EQ(Item(b, 3), 99.0);
    EXPECT_EQ(InsertItem(b, 0, 1), -1);  // the block is full
    EXPECT_FALSE(DeleteItem(b, 4));
}

TEST(Editing, InsertingAStringGrowsTheCountWithAZeroedSlot)
{
    Bytes a = List(TWON_ARRAY, TWTY_STR32, {}, 0, 0, 34);
    Block b = Of(TWON_ARRAY, a);
    EXPECT_EQ(InsertItem(b, 0, 1), 0);
    EXPECT_EQ(ItemCount(b), 1);
    EXPECT_EQ(std::count(a.begin() + 6, a.begin() + 40, 0), 34);
}

struct PixelCase {
    const char* name;
    std::uint32_t type;
    Bytes bytes;
    std::uint32_t mask;
    PixelOutcome outcome;
    std::uint32_t value;
    std::vector<std::uint16_t> list;  // the list afterwards
    std::uint32_t current, def;
};

class Pixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(Pixels, RestrictsToTheMask)
{
    const PixelCase& c = GetParam();
    Bytes bytes = c.bytes;
    Block b{c.type, bytes.data(), bytes.size()};
    const PixelResult r = RestrictPixelTypes(b, c.mask);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.value, c.value);
    EXPECT_EQ(r.sendBack, c.outcome == PixelOutcome::ok && c.type != TWON_ONEVALUE);
    if (c.outcome != PixelOutcome::ok || c.type == TWON_ONEVALUE)
        return;
    ASSERT_EQ(ItemCount(b), static_cast<int>(c.list.size()));
    for (std::size_t i = 0; i < c.list.size(); ++i)
        EXPECT_EQ(Item(b, static_cast<int>(i)), c.list[i]);
    if (c.type == TWON_ENUMERATION) {
        EXPECT_EQ(EnumIndex(b, true), c.current);
        EXPECT_EQ(EnumIndex(b, false), c.def);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Negotiation, Pixels,
    ::testing::Values(
        PixelCase{"RgbGrayBwToBwGray", TWON_ENUMERATION, List(TWON_ENUMERATION, TWTY_UINT16, {2, 1, 0}), 3, PixelOutcome::ok, 1,
                  {0, 1}, 0, 0},
        PixelCase{"CurrentAndDefaultFollowTheirValues", TWON_ENUMERATION, List(TWON_ENUMERATION, TWTY_INT16, {2, 1, 0}, 1, 0), 7,
                  PixelOutcome::ok, 1, {0, 1, 2}, 1, 2},
        PixelCase{"IndexBeyondTakesItemZero", TWON_ENUMERATION, List(TWON_ENUMERATION, TWTY_UINT16, {1, 0}, 9, 9), 3,
                  PixelOutcome::ok, 1, {0, 1}, 1, 1},
        PixelCase{"ArrayDuplicatesCollapse", TWON_ARRAY, List(TWON_ARRAY, TWTY_UINT16, {0, 0, 2}), 5, PixelOutcome::ok, 1,
                  {0, 2}, 0, 0},
        PixelCase{"NoCommon", TWON_ARRAY, List(TWON_ARRAY, TWTY_UINT16, {2}), 3, PixelOutcome::noCommonValues, 0, {}, 0, 0},
        PixelCase{"ValuesAbove31AreNoPixelType", TWON_ARRAY, List(TWON_ARRAY, TWTY_UINT16, {33, 0xFFFF}), 3,
                  PixelOutcome::noCommonValues, 0, {}, 0, 0},
        PixelCase{"Uint32Items", TWON_ENUMERATION, List(TWON_ENUMERATION, TWTY_UINT32, {0, 1}), 3, PixelOutcome::badItemType, 0,
                  {}, 0, 0},
        PixelCase{"Empty", TWON_ENUMERATION, List(TWON_ENUMERATION, TWTY_UINT32, {}), 3, PixelOutcome::empty, 0, {}, 0, 0},
        PixelCase{"NumItemsBeyondBlock", TWON_ENUMERATION, WithCount(List(TWON_ENUMERATION, TWTY_UINT16, {0}), 2), 3,
                  PixelOutcome::badContainer, 0, {}, 0, 0},
        PixelCase{"ShortHeader", TWON_ARRAY, Cut(List(TWON_ARRAY, TWTY_UINT16, {}), 4), 3, PixelOutcome::badContainer, 0, {}, 0,
                  0},
        PixelCase{"OneValueGray", TWON_ONEVALUE, OneValue(TWTY_UINT16, 1), 2, PixelOutcome::ok, 2, {}, 0, 0},
        PixelCase{"OneValueGrayNotInMask", TWON_ONEVALUE, OneValue(TWTY_UINT16, 1), 4, PixelOutcome::noCommonValues, 0, {}, 0,
                  0},
        PixelCase{"OneValueUint32Rgb", TWON_ONEVALUE, OneValue(TWTY_UINT32, 2), 7, PixelOutcome::ok, 4, {}, 0, 0},
        PixelCase{"OneValue33", TWON_ONEVALUE, OneValue(TWTY_UINT16, 33), 2, PixelOutcome::noCommonValues, 0, {}, 0, 0},
        PixelCase{"OneValueString", TWON_ONEVALUE, OneValue(TWTY_STR32, 0), 1, PixelOutcome::badItemType, 0, {}, 0, 0},
        PixelCase{"Range", TWON_RANGE, Range(TWTY_UINT16, 0, 2, 1), 1, PixelOutcome::badContainerType, 0, {}, 0, 0}),
    [](const auto& info) { return info.param.name; });
