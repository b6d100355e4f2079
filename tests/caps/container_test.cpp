// CapContainer records over real global memory: built sizes, growth on insertion, the
// wrapper's ownership and message, copies, and the refusal of dead or foreign records.
#include <gtest/gtest.h>

#include <cstring>

#include "support/box_watch.h"
#include "twain/container.h"
#include "base/error_box.h"

namespace {

struct Owned {
    CapContainer* c;
    explicit Owned(CapContainer* container) : c(container) {}
    ~Owned() { TWAIN_FreeContainer(c); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

std::uint32_t RawItem(CapContainer* c)
{
    return LoadLE32(static_cast<std::uint8_t*>(c->address) + 2);
}

// A container handle as a source would hand it over, with exactly these bytes.
CapContainer* FromSource(int type, const std::vector<std::uint8_t>& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    return TWAIN_WrapContainer(type, h);
}

}  // namespace

TEST(Build, SizesFollowTheLayouts)
{
    struct {
        const char* name;
        CapContainer* c;
        SIZE_T bytes;
        int type, itemType, count;
    } const cases[] = {
        {"one STR255", TWAIN_BuildOneValue(TWTY_STR255, 0), 258, TWON_ONEVALUE, TWTY_STR255, 1},
        {"one UINT16", TWAIN_BuildOneValue(TWTY_UINT16, 3), 6, TWON_ONEVALUE, TWTY_UINT16, 1},
        {"one FRAME", TWAIN_BuildOneValue(TWTY_FRAME, 0), 18, TWON_ONEVALUE, TWTY_FRAME, 1},
        {"array UINT16 x3", TWAIN_BuildArray(TWTY_UINT16, 3), 14, TWON_ARRAY, TWTY_UINT16, 3},
        {"enum FIX32 x2", TWAIN_BuildEnumeration(TWTY_FIX32, 2), 24, TWON_ENUMERATION, TWTY_FIX32, 2},
        {"enum STR32 x0", TWAIN_BuildEnumeration(TWTY_STR32, 0), 16, TWON_ENUMERATION, TWTY_STR32, 0},
        {"range INT32", TWAIN_BuildRange(TWTY_INT32, 0, 100, 3), 22, TWON_RANGE, TWTY_INT32, 35},
    };
    for (const auto& k : cases) {
        Owned o(k.c);
        ASSERT_NE(k.c, nullptr) << k.name;
        EXPECT_EQ(k.c->signature, CONTAINER_SIGNATURE);
        EXPECT_EQ(GlobalSize(k.c->handle), k.bytes) << k.name;
        EXPECT_EQ(TWAIN_ContainerType(k.c), k.type) << k.name;
        EXPECT_EQ(TWAIN_ContainerItemType(k.c), k.itemType) << k.name;
        EXPECT_EQ(TWAIN_ContainerItemCount(k.c), k.count) << k.name;
    }
}

TEST(Build, RefusesWhatCannotBeBuilt)
{
    EXPECT_EQ(TWAIN_BuildRange(TWTY_FRAME, 0, 1, 1), nullptr);
    EXPECT_EQ(TWAIN_BuildRange(TWTY_STR32, 0, 1, 1), nullptr);
    EXPECT_EQ(TWAIN_BuildOneValue(13, 1), nullptr);
    EXPECT_EQ(TWAIN_BuildOneValue(-1, 1), nullptr);
    EXPECT_EQ(TWAIN_BuildArray(TWTY_UINT16, -1), nullptr);
    EXPECT_EQ(TWAIN_BuildEnumeration(0x100, 1), nullptr);
}

TEST(Build, OneValueTruncatesToTheItemType)
{
    Owned u16(TWAIN_BuildOneValue(TWTY_UINT16, 70000));
    EXPECT_EQ(RawItem(u16.c), 4464u);
    EXPECT_EQ(TWAIN_ContainerCurrent(u16.c), 4464.0);
    Owned i16(TWAIN_BuildOneValue(TWTY_INT16, -1.7));
    EXPECT_EQ(RawItem(i16.c), 0xFFFFFFFFu);
    EXPECT_EQ(TWAIN_ContainerItem(i16.c, 0), -1.0);
    Owned fix(TWAIN_BuildOneValue(TWTY_FIX32, 1.25));
    TW_FIX32 f;
    std::memcpy(&f, TWAIN_ContainerItemPointer(fix.c, 0), sizeof f);
    EXPECT_EQ(f.Whole, 1);
    EXPECT_EQ(f.Frac, 16384);
}

TEST(Build, RangeStartsAtItsMinimum)
{
    Owned r(TWAIN_BuildRange(TWTY_UINT16, 0, 100, 3));
    EXPECT_EQ(TWAIN_ContainerCurrent(r.c), 0.0);
    EXPECT_EQ(TWAIN_ContainerDefault(r.c), 0.0);
    EXPECT_EQ(TWAIN_RangeMax(r.c), 100.0);
    EXPECT_EQ(TWAIN_RangeStep(r.c), 3.0);
    EXPECT_EQ(TWAIN_ContainerItem(r.c, 34), 100.0);
    EXPECT_EQ(TWAIN_ContainerItem(r.c, 99), 100.0);
    EXPECT_EQ(TWAIN_ContainerItem(r.c, -5), 0.0);
    EXPECT_EQ(TWAIN_ContainerFindValue(r.c, 100), 34);
    EXPECT_EQ(TWAIN_ContainerHasValue(r.c, 4), 0);
    EXPECT_EQ(TWAIN_SetCurrentValue(r.c, 99), 1);
    EXPECT_EQ(TWAIN_ContainerCurrent(r.c), 99.0);
    EXPECT_EQ(TWAIN_SetContainerItem(r.c, 0, 5), 0);
    EXPECT_EQ(TWAIN_EnumCurrentIndex(r.c), -1);
}

TEST(Build, ItemAsIntRoundsHalvesAwayFromZero)
{
    Owned e(TWAIN_BuildEnumeration(TWTY_FIX32, 2));
    ASSERT_EQ(TWAIN_SetContainerItem(e.c, 0, 2.5), 1);
    ASSERT_EQ(TWAIN_SetContainerItem(e.c, 1, -2.5), 1);
    EXPECT_EQ(TWAIN_ContainerItemAsInt(e.c, 0), 3);
    EXPECT_EQ(TWAIN_ContainerItemAsInt(e.c, 1), -3);
    EXPECT_EQ(Fix32FromRatio(1, 4), 0x40000000u);
    EXPECT_EQ(Fix32FromRatio(-1, 2), 0x8000FFFFu);
}

TEST(Insert, GrowsBy128SpareBytesAndKeepsTheHandleUntilFull)
{
    Owned e(TWAIN_BuildEnumeration(TWTY_UINT16, 0));
    ASSERT_EQ(TWAIN_InsertContainerItem(e.c, -1, 7), 1);
    EXPECT_EQ(GlobalSize(e.c->handle), 16u + 2 + 128);
    // 16 + n x 2 bytes fit in 146 bytes up to n = 65: no reallocation until then.
    for (int n = 2; n <= 65; ++n) {
        ASSERT_EQ(TWAIN_InsertContainerItem(e.c, -1, n), 1);
        ASSERT_EQ(GlobalSize(e.c->handle), 146u) << n;
    }
    ASSERT_EQ(TWAIN_InsertContainerItem(e.c, 0, 1000), 1);
    EXPECT_EQ(GlobalSize(e.c->handle), 16u + 66 * 2 + 128);
    EXPECT_EQ(TWAIN_ContainerItemCount(e.c), 66);
    EXPECT_EQ(TWAIN_ContainerItem(e.c, 0), 1000.0);
    EXPECT_EQ(TWAIN_ContainerItem(e.c, 1), 7.0);
    EXPECT_EQ(TWAIN_ContainerItem(e.c, 65), 65.0);
    EXPECT_EQ(TWAIN_DeleteContainerItem(e.c, 0), 1);
    EXPECT_EQ(TWAIN_ContainerItem(e.c, 0), 7.0);
}

TEST(Insert, StringItemsGrowTheCountButAnswerFailure)
{
    Owned a(TWAIN_BuildArray(TWTY_STR32, 0));
    EXPECT_EQ(TWAIN_InsertContainerItem(a.c, 5, 1), 0);
    EXPECT_EQ(TWAIN_ContainerItemCount(a.c), 1);
    EXPECT_EQ(TWAIN_SetContainerString(a.c, 0, "Flatbed"), 1);
    EXPECT_STREQ(static_cast<const char*>(TWAIN_ContainerItemPointer(a.c, 0)), "Flatbed");
    Owned r(TWAIN_BuildRange(TWTY_UINT16, 0, 1, 1));
    EXPECT_EQ(TWAIN_InsertContainerItem(r.c, 0, 1), 0);
}

TEST(Wrap, ANullOrUnlockableHandleIsReportedOnce)
{
    EXPECT_EQ(boxes::BoxTextsShownBy([] { EXPECT_EQ(TWAIN_WrapContainer(TWON_ONEVALUE, nullptr), nullptr); }),
              std::vector<std::string>{"DataSource bug: bad Container handle."});
    // A zero-sized moveable block has no memory to lock.
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    auto boxes = boxes::BoxesShownBy([&] { EXPECT_EQ(TWAIN_WrapContainer(TWON_ONEVALUE, empty), nullptr); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "TWAIN Error");
    EXPECT_EQ(boxes[0].text, "DataSource bug: bad Container handle.");

    const bool was = TWAIN_SuppressErrorBoxes(true);
    EXPECT_TRUE(boxes::BoxTextsShownBy([] { EXPECT_EQ(TWAIN_WrapContainer(TWON_ONEVALUE, nullptr), nullptr); }).empty());
    TWAIN_SuppressErrorBoxes(was);
}

TEST(Copy, IsAnIndependentByteCopy)
{
    Owned e(TWAIN_BuildEnumeration(TWTY_INT16, 3));
    for (int i = 0; i < 3; ++i)
        TWAIN_SetContainerItem(e.c, i, -i);
    TWAIN_SetCurrentIndex(e.c, 2);
    Owned copy(TWAIN_CopyContainer(e.c));
    ASSERT_NE(copy.c, nullptr);
    EXPECT_NE(copy.c->handle, e.c->handle);
    EXPECT_EQ(GlobalSize(copy.c->handle), GlobalSize(e.c->handle));
    EXPECT_EQ(std::memcmp(copy.c->address, e.c->address, GlobalSize(e.c->handle)), 0);
    TWAIN_SetContainerItem(e.c, 2, 50);
    EXPECT_EQ(TWAIN_ContainerCurrent(copy.c), -2.0);
    EXPECT_EQ(TWAIN_CopyContainer(nullptr), nullptr);
}

TEST(Records, DeadOrForeignRecordsGetFailureValues)
{
    Owned live(TWAIN_BuildEnumeration(TWTY_UINT16, 1));
    CapContainer forged = *live.c;
    forged.signature = 0x12345678;
    for (CapContainer* c : {static_cast<CapContainer*>(nullptr), &forged}) {
        EXPECT_EQ(TWAIN_ContainerType(c), -1);
        EXPECT_EQ(TWAIN_ContainerItemType(c), -1);
        EXPECT_EQ(TWAIN_ContainerItemCount(c), -1);
        EXPECT_EQ(TWAIN_ContainerItem(c, 0), -1.0);
        EXPECT_EQ(TWAIN_ContainerItemPointer(c, 0), nullptr);
        EXPECT_EQ(TWAIN_ContainerFindValue(c, 0), -1);
        EXPECT_EQ(TWAIN_ContainerCurrent(c), -1.0);
        EXPECT_EQ(TWAIN_RangeMin(c), -1.0);
        EXPECT_EQ(TWAIN_SetCurrentIndex(c, 0), 0);
        EXPECT_EQ(TWAIN_SetContainerItem(c, 0, 1), 0);
        EXPECT_EQ(TWAIN_InsertContainerItem(c, 0, 1), 0);
        EXPECT_EQ(TWAIN_DeleteContainerItem(c, 0), 0);
        TWAIN_FreeContainer(c);  // touches nothing
    }
    EXPECT_EQ(TWAIN_ContainerItemCount(live.c), 1);
}

TEST(Records, SourceContainersAreBoundedByTheirBlock)
{
    // An enumeration claiming 1000 items in a 20-byte block, current index 2.
    Owned e(FromSource(TWON_ENUMERATION, {4, 0, 0xE8, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0}));
    ASSERT_NE(e.c, nullptr);
    EXPECT_EQ(TWAIN_ContainerItemCount(e.c), -1);
    EXPECT_EQ(TWAIN_ContainerCurrent(e.c), -1.0);
    EXPECT_EQ(TWAIN_InsertContainerItem(e.c, 0, 1), 0);
    EXPECT_EQ(GlobalSize(e.c->handle), 20u);
    // The same with an honest count of 3.
    Owned ok(FromSource(TWON_ENUMERATION, {4, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0}));
    EXPECT_EQ(TWAIN_ContainerItemCount(ok.c), 3);
    EXPECT_EQ(TWAIN_ContainerCurrent(ok.c), 3.0);
    // A one-value container shorter than its header.
    Owned shortOne(FromSource(TWON_ONEVALUE, {4, 0, 1, 0}));
    EXPECT_EQ(TWAIN_ContainerItemCount(shortOne.c), -1);
    EXPECT_EQ(TWAIN_ContainerCurrent(shortOne.c), -1.0);
}

TEST(Compatibility, FollowsTheSizeRule)
{
    EXPECT_TRUE(TWAIN_ItemTypesCompatible(TWTY_INT16, TWTY_UINT16));
    EXPECT_FALSE(TWAIN_ItemTypesCompatible(TWTY_BOOL, TWTY_UINT16));
    EXPECT_FALSE(TWAIN_ItemTypesCompatible(TWTY_FIX32, TWTY_UINT32));
    EXPECT_TRUE(TWAIN_ItemTypesCompatible(TWTY_STR32, TWTY_STR32));
    EXPECT_FALSE(TWAIN_ItemTypesCompatible(-1, TWTY_INT8));
}
