// Pixel-type negotiation against the scripted source: every container a source may
// answer with, what is set back, and the library error code of each failure.
#include <gtest/gtest.h>

#include "caps/container_bytes.h"
#include "twain/scripted_dsm.h"
#include "twain/capability.h"
#include "twain/container_bytes.h"
#include "twain/twain.h"

using namespace twtest;
namespace cb = capbytes;

namespace {

struct PixelCase {
    const char* name;
    TW_UINT16 conType;
    cb::Bytes bytes;
    unsigned long mask;
    unsigned long result;
    int error;
    cb::Bytes setBack;  // empty: no MSG_SET expected
    TW_UINT16 getRc = TWRC_SUCCESS;
    TW_UINT16 setRc = TWRC_SUCCESS;
    bool nullHandle = false;
    bool unlockable = false;
};

}  // namespace

class Negotiate : public ::testing::TestWithParam<PixelCase> {};

TEST_P(Negotiate, RestrictsTheSourcesPixelTypes)
{
    const PixelCase& c = GetParam();
    Open();
    Script(ICAP_PIXELTYPE, c.conType, c.bytes);
    Answer& a = fake.caps[ICAP_PIXELTYPE];
    a.getRc = c.getRc;
    a.setRc = c.setRc;
    a.nullHandle = c.nullHandle;
    a.unlockable = c.unlockable;

    EXPECT_EQ(TWAIN_NegotiatePixelTypes(c.mask), c.result);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), c.error);
    ASSERT_FALSE(fake.capCalls.empty());
    EXPECT_EQ(fake.capCalls[0].msg, MSG_GET);
    EXPECT_EQ(fake.capCalls[0].conType, TWON_DONTCARE16);
    const auto sets = Calls(MSG_SET);
    if (c.setBack.empty()) {
        EXPECT_TRUE(sets.empty());
    } else {
        ASSERT_EQ(sets.size(), 1u);
        EXPECT_EQ(sets[0].cap, ICAP_PIXELTYPE);
        EXPECT_EQ(sets[0].conType, c.conType);
        // The handle keeps its size; only the used part is compared.
        ASSERT_GE(sets[0].bytes.size(), c.setBack.size());
        EXPECT_EQ(cb::Bytes(sets[0].bytes.begin(), sets[0].bytes.begin() + c.setBack.size()), c.setBack);
    }
    for (HGLOBAL h : fake.handedOut)
        EXPECT_TRUE(Freed(h));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Negotiate,
    ::testing::Values(
        PixelCase{"EnumRgbGrayBwToBwGray", TWON_ENUMERATION, cb::Enumeration(TWTY_UINT16, {TWPT_RGB, TWPT_GRAY, TWPT_BW}),
                  3, 1, TWERR_NONE, cb::Enumeration(TWTY_UINT16, {TWPT_BW, TWPT_GRAY}, 0, 0)},
        PixelCase{"EnumIndicesFollowTheirValues", TWON_ENUMERATION,
                  cb::Enumeration(TWTY_INT16, {TWPT_RGB, TWPT_BW, TWPT_GRAY}, 0, 2), 6, 1, TWERR_NONE,
                  cb::Enumeration(TWTY_INT16, {TWPT_GRAY, TWPT_RGB}, 1, 0)},
        PixelCase{"ArrayDuplicatesCollapse", TWON_ARRAY, cb::Array(TWTY_UINT16, {TWPT_BW, TWPT_BW, TWPT_RGB}), 5, 1,
                  TWERR_NONE, cb::Array(TWTY_UINT16, {TWPT_BW, TWPT_RGB})},
        PixelCase{"OneValueGrayInMask", TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, TWPT_GRAY), 2, 2, TWERR_NONE, {}},
        PixelCase{"OneValueGrayNotInMask", TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, TWPT_GRAY), 4, 0,
                  TWERR_NO_COMMON_VALUES, {}},
        PixelCase{"EnumUint32Items", TWON_ENUMERATION, cb::Enumeration(TWTY_UINT32, {TWPT_BW, TWPT_RGB}), 5, 0,
                  TWERR_BAD_ITEM_TYPE, {}},
        PixelCase{"EmptyEnum", TWON_ENUMERATION, cb::Enumeration(TWTY_UINT16, {}), 5, 0, TWERR_EMPTY_CONTAINER, {}},
        PixelCase{"NoCommonValues", TWON_ARRAY, cb::Array(TWTY_UINT16, {TWPT_CMYK}), 7, 0, TWERR_NO_COMMON_VALUES, {}},
        PixelCase{"Range", TWON_RANGE, cb::Range(TWTY_UINT16, 0, 2, 1, 0, 0), 7, 0, TWERR_BAD_CONTAINER_TYPE, {}},
        PixelCase{"NumItemsBeyondBlock", TWON_ENUMERATION,
                  [] { auto b = cb::Enumeration(TWTY_UINT16, {TWPT_BW}); b[2] = 9; return b; }(), 1, 0,
                  TWERR_BAD_CONTAINER, {}},
        PixelCase{"GetRefused", TWON_ENUMERATION, cb::Enumeration(TWTY_UINT16, {TWPT_BW}), 1, 0, TWERR_CAP_GET, {},
                  TWRC_FAILURE},
        PixelCase{"NullHandle", TWON_ENUMERATION, {}, 1, 0, TWERR_NULL_CONTAINER, {}, TWRC_SUCCESS, TWRC_SUCCESS, true},
        PixelCase{"UnlockableHandle", TWON_ENUMERATION, {}, 1, 0, TWERR_BAD_CONTAINER, {}, TWRC_SUCCESS, TWRC_SUCCESS,
                  false, true},
        PixelCase{"SetAnsweredCheckStatus", TWON_ENUMERATION, cb::Enumeration(TWTY_UINT16, {TWPT_BW, TWPT_RGB}), 1, 0,
                  TWERR_CAP_SET, cb::Enumeration(TWTY_UINT16, {TWPT_BW}), TWRC_SUCCESS, TWRC_CHECKSTATUS}),
    [](const auto& info) { return info.param.name; });

TEST(NegotiateState, MaskZeroNeedsNothingAndOtherStatesAreRefused)
{
    for (int state : {TWAIN_PRESESSION, TWAIN_SOURCE_OPEN, TWAIN_SOURCE_ENABLED}) {
        Open(state);
        EXPECT_EQ(TWAIN_NegotiatePixelTypes(0), 1u);
        EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_NONE);
        EXPECT_TRUE(fake.capCalls.empty());
    }

    Open(TWAIN_SOURCE_ENABLED);
    Script(ICAP_PIXELTYPE, TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, TWPT_RGB));
    EXPECT_EQ(TWAIN_NegotiatePixelTypes(4), 0u);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_NOT_STATE_4);
    EXPECT_TRUE(fake.capCalls.empty());

    Open(TWAIN_SM_OPEN);
    EXPECT_EQ(TWAIN_NegotiatePixelTypes(4), 0u);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_NOT_STATE_4);
}

TEST(NegotiateState, TheFirstRecordedErrorStays)
{
    Open();
    Script(ICAP_PIXELTYPE, TWON_RANGE, cb::Range(TWTY_UINT16, 0, 2, 1, 0, 0));
    EXPECT_EQ(TWAIN_NegotiatePixelTypes(1), 0u);
    Script(ICAP_PIXELTYPE, TWON_ARRAY, cb::Array(TWTY_UINT16, {TWPT_CMYK}));
    EXPECT_EQ(TWAIN_NegotiatePixelTypes(1), 0u);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_BAD_CONTAINER_TYPE);
}
