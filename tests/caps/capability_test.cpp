// The general capability operations against the scripted source: the state rule with
// its messages, what is sent, what comes back, and who frees which handle.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/box_watch.h"
#include "caps/container_bytes.h"
#include "twain/scripted_dsm.h"
#include "twain/capability.h"
#include "twain/twain.h"

using namespace twtest;
namespace cb = capbytes;

namespace {

constexpr TW_UINT16 kCap = ICAP_BITDEPTH;

class Capabilities : public ::testing::Test {
protected:
    void SetUp() override { was = TWAIN_SuppressErrorBoxes(false); }
    void TearDown() override { TWAIN_SuppressErrorBoxes(was); }
    bool was = false;
};

struct BelowFour {
    const char* name;
    std::function<double()> call;  // answers the operation's result as a number
    double failure;
    const char* message;
};

const char* const kGet = "TWAIN_GetXXX below State 4.";
const char* const kSet = "Setting capability in State < 4.";
const char* const kValue = "Attempt to get capability value below State 4.";

std::vector<BelowFour> BelowFourCases()
{
    static TW_UINT16 value;
    return {
        {"Get", [] { return TWAIN_Get(kCap) ? 1.0 : 0.0; }, 0, kGet},
        {"GetDefault", [] { return TWAIN_GetDefault(kCap) ? 1.0 : 0.0; }, 0, kGet},
        {"GetCurrent", [] { return TWAIN_GetCurrent(kCap) ? 1.0 : 0.0; }, 0, kGet},
        {"GetCapBool", [] { return double(TWAIN_GetCapBool(kCap, 7)); }, 7, kGet},
        {"SetCapOneValue", [] { return double(TWAIN_SetCapOneValue(kCap, TWTY_UINT16, 8)); }, 0, kSet},
        {"SetCapFix32", [] { return double(TWAIN_SetCapFix32(kCap, 1.5)); }, 0, kSet},
        {"SetCapRatio", [] { return double(TWAIN_SetCapRatio(kCap, 1, 3)); }, 0, kSet},
        {"Reset", [] { return double(TWAIN_Reset(kCap)); }, 0, "TWAIN_Reset below State 4."},
        {"GetCurrentValue", [] { return double(TWAIN_GetCurrentValue(kCap, TWTY_UINT16, &value)); }, 0, kValue},
        {"GetCapFix32", [] { return TWAIN_GetCapFix32(kCap, 2.5); }, 2.5, kValue},
        {"GetCapUint16", [] { return double(TWAIN_GetCapUint16(kCap, -1)); }, 65535, kValue},
        {"GetThreshold", [] { return TWAIN_GetThreshold(); }, 128, kValue},
        {"GetFeederEnabled", [] { return double(TWAIN_GetFeederEnabled()); }, 0, kGet},
    };
}

}  // namespace

TEST_F(Capabilities, BelowStateFourEachShowsItsMessageOnceAndCallsNothing)
{
    for (const auto& c : BelowFourCases()) {
        Open(TWAIN_SM_OPEN);
        Script(kCap, TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, 8));
        double result = -99;
        EXPECT_EQ(boxes::BoxTextsShownBy([&] { result = c.call(); }), std::vector<std::string>{c.message}) << c.name;
        EXPECT_EQ(result, c.failure) << c.name;
        EXPECT_TRUE(fake.capCalls.empty()) << c.name;

        TWAIN_SuppressErrorBoxes(true);
        EXPECT_TRUE(boxes::BoxTextsShownBy([&] { result = c.call(); }).empty()) << c.name;
        EXPECT_EQ(result, c.failure) << c.name;
        TWAIN_SuppressErrorBoxes(false);
    }
}

TEST_F(Capabilities, SetCapBelowStateFourAndWithoutAContainer)
{
    Open(TWAIN_SM_OPEN);
    CapContainer* c = TWAIN_BuildOneValue(TWTY_UINT16, 1);
    EXPECT_EQ(boxes::BoxTextsShownBy([&] { EXPECT_EQ(TWAIN_SetCap(kCap, c), 0); }), std::vector<std::string>{kSet});
    TWAIN_FreeContainer(c);
    Open();
    EXPECT_TRUE(boxes::BoxTextsShownBy([] { EXPECT_EQ(TWAIN_SetCap(kCap, nullptr), 0); }).empty());
    EXPECT_TRUE(fake.capCalls.empty());
}

TEST_F(Capabilities, SetCapOneValueRefusesWideItemTypes)
{
    Open();
    Script(kCap, TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, 8));
    for (int type : {int{TWTY_FIX32}, int{TWTY_FRAME}, int{TWTY_STR32}, -1}) {
        EXPECT_EQ(boxes::BoxTextsShownBy([&] { EXPECT_EQ(TWAIN_SetCapOneValue(kCap, type, 1), 0); }),
                  std::vector<std::string>{"TWAIN_SetCapOneValue: invalid item type."});
    }
    EXPECT_TRUE(fake.capCalls.empty());
}

TEST_F(Capabilities, SetSendsTheContainerAndCountsOnlySuccess)
{
    Open();
    Script(kCap, TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, 8));
    EXPECT_EQ(TWAIN_SetCapOneValue(kCap, TWTY_UINT16, 70000), 1);
    ASSERT_EQ(Calls(MSG_SET).size(), 1u);
    EXPECT_EQ(Calls(MSG_SET)[0].conType, TWON_ONEVALUE);
    EXPECT_EQ(Calls(MSG_SET)[0].bytes, cb::OneValue(TWTY_UINT16, 4464));

    for (TW_UINT16 rc : {TWRC_CHECKSTATUS, TWRC_FAILURE}) {
        fake.caps[kCap].setRc = rc;
        EXPECT_EQ(TWAIN_SetCapFix32(kCap, 1.5), 0) << rc;
        CapContainer* c = TWAIN_BuildEnumeration(TWTY_UINT16, 0);
        EXPECT_EQ(TWAIN_SetCap(kCap, c), 0) << rc;
        EXPECT_EQ(c->signature, CONTAINER_SIGNATURE);  // still the caller's
        TWAIN_FreeContainer(c);
    }
    EXPECT_EQ(Calls(MSG_SET).back().conType, TWON_ENUMERATION);
    EXPECT_EQ(Calls(MSG_SET)[1].bytes, cb::OneValue(TWTY_FIX32, 0x80000001));
}

TEST_F(Capabilities, SetCapRatioDividesInFloatingPoint)
{
    Open();
    Script(kCap, TWON_ONEVALUE, cb::OneValue(TWTY_FIX32, 0));
    EXPECT_EQ(TWAIN_SetCapRatio(kCap, 1, 4), 1);
    EXPECT_EQ(Calls(MSG_SET)[0].bytes, cb::OneValue(TWTY_FIX32, 0x40000000));
}

TEST_F(Capabilities, GetWrapsWhatTheSourceAnswered)
{
    Open();
    Script(kCap, TWON_RANGE, cb::Range(TWTY_UINT16, 0, 100, 3, 99, 0));
    CapContainer* c = TWAIN_Get(kCap);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(TWAIN_ContainerType(c), TWON_RANGE);
    EXPECT_EQ(TWAIN_ContainerItemCount(c), 35);
    EXPECT_EQ(TWAIN_ContainerCurrent(c), 99.0);
    EXPECT_EQ(fake.capCalls[0].conType, TWON_DONTCARE16);
    EXPECT_FALSE(Freed(fake.handedOut[0]));  // the caller's until freed
    TWAIN_FreeContainer(c);
    EXPECT_TRUE(Freed(fake.handedOut[0]));

    fake.caps[kCap].getRc = TWRC_CHECKSTATUS;
    EXPECT_EQ(TWAIN_GetDefault(kCap), nullptr);
    fake.caps[kCap].getRc = TWRC_SUCCESS;
    fake.caps[kCap].nullHandle = true;
    EXPECT_TRUE(boxes::BoxTextsShownBy([] { EXPECT_EQ(TWAIN_GetCurrent(kCap), nullptr); }).empty());
    fake.caps[kCap].nullHandle = false;
    fake.caps[kCap].unlockable = true;
    EXPECT_EQ(boxes::BoxTextsShownBy([] { EXPECT_EQ(TWAIN_Get(kCap), nullptr); }),
              std::vector<std::string>{"DataSource bug: bad Container handle."});
    EXPECT_TRUE(Freed(fake.handedOut.back()));
}

struct RefusedWithHandle {
    const char* name;
    TW_UINT16 msg;
    std::function<bool()> failed;  // runs the operation, answers whether it failed
};

TEST_F(Capabilities, AContainerHandedBackWithARefusalIsFreed)
{
    const RefusedWithHandle cases[] = {
        {"get", MSG_GET, [] { return TWAIN_Get(kCap) == nullptr; }},
        {"get default", MSG_GETDEFAULT, [] { return TWAIN_GetDefault(kCap) == nullptr; }},
        {"get current", MSG_GETCURRENT, [] { return TWAIN_GetCurrent(kCap) == nullptr; }},
        {"pixel types", MSG_GET, [] { return TWAIN_NegotiatePixelTypes(3) == 0; }},
    };
    for (const RefusedWithHandle& c : cases) {
        for (TW_UINT16 rc : {TWRC_CHECKSTATUS, TWRC_FAILURE}) {
            SCOPED_TRACE(testing::Message() << c.name << ", rc " << rc);
            Open();
            HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 64);
            Script(true, DG_CONTROL, DAT_CAPABILITY, c.msg, rc,
                   [handle](void* data) { static_cast<TW_CAPABILITY*>(data)->hContainer = handle; });
            EXPECT_TRUE(c.failed());
            EXPECT_EQ(GlobalFlags(handle), UINT(GMEM_INVALID_HANDLE)) << "the container leaked";
        }
    }
}

struct CurrentCase {
    const char* name;
    TW_UINT16 conType;
    cb::Bytes bytes;
    int want;
    bool copied;
    std::uint32_t value;
};

class CurrentValue : public ::testing::TestWithParam<CurrentCase> {};

TEST_P(CurrentValue, ReadsCompatibleAnswersAndAlwaysFreesTheHandle)
{
    const CurrentCase& c = GetParam();
    Open();
    Script(kCap, c.conType, c.bytes);
    std::uint32_t value = 0xBEEFBEEF;
    EXPECT_EQ(TWAIN_GetCurrentValue(kCap, c.want, &value), c.copied ? 1 : 0);
    EXPECT_EQ(value, c.copied ? c.value : 0xBEEFBEEF);
    ASSERT_EQ(fake.capCalls.size(), 1u);
    EXPECT_EQ(fake.capCalls[0].msg, MSG_GETCURRENT);
    EXPECT_EQ(fake.capCalls[0].conType, TWON_ONEVALUE);
    ASSERT_EQ(fake.handedOut.size(), 1u);
    EXPECT_TRUE(Freed(fake.handedOut[0]));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CurrentValue,
    ::testing::Values(
        CurrentCase{"EnumInt16AsUint16", TWON_ENUMERATION, cb::Enumeration(TWTY_INT16, {10, 20, 0xFFFE}, 2), TWTY_UINT16,
                    true, 0xBEEFFFFE},
        CurrentCase{"EnumIndexAtNumItems", TWON_ENUMERATION, cb::Enumeration(TWTY_UINT16, {10, 20, 30}, 3), TWTY_UINT16,
                    false, 0},
        CurrentCase{"EnumNumItemsBeyondBlock", TWON_ENUMERATION,
                    [] { auto b = cb::Enumeration(TWTY_UINT16, {10}, 0); b[2] = 200; return b; }(), TWTY_UINT16, false, 0},
        CurrentCase{"Array", TWON_ARRAY, cb::Array(TWTY_UINT16, {10}), TWTY_UINT16, false, 0},
        CurrentCase{"BoolForUint16", TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 1), TWTY_UINT16, false, 0},
        CurrentCase{"OneValueInt16", TWON_ONEVALUE, cb::OneValue(TWTY_INT16, 0xFFFFFFFF), TWTY_UINT16, true, 0xBEEFFFFF},
        CurrentCase{"RangeFix32", TWON_RANGE, cb::Range(TWTY_FIX32, 0, 0x02580000, 0x10000, 0x8000012C, 0), TWTY_FIX32,
                    true, 0x8000012C},
        CurrentCase{"OneValueShort", TWON_ONEVALUE, cb::Bytes{4, 0, 5}, TWTY_UINT16, false, 0},
        CurrentCase{"UnknownContainerType", 9, cb::OneValue(TWTY_UINT16, 5), TWTY_UINT16, false, 0},
        CurrentCase{"UnknownRequestedType", TWON_ONEVALUE, cb::OneValue(13, 5), 13, false, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(Capabilities, CurrentValueFailuresStillFreeTheHandle)
{
    Open();
    Script(kCap, TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, 5));
    fake.caps[kCap].unlockable = true;
    TW_UINT16 v = 77;
    EXPECT_TRUE(boxes::BoxTextsShownBy([&] { EXPECT_EQ(TWAIN_GetCurrentValue(kCap, TWTY_UINT16, &v), 0); }).empty());
    EXPECT_EQ(v, 77);
    EXPECT_TRUE(Freed(fake.handedOut[0]));
    fake.caps[kCap].unlockable = false;
    fake.caps[kCap].getRc = TWRC_FAILURE;
    EXPECT_EQ(TWAIN_GetCapUint16(kCap, -1), 65535);
    EXPECT_EQ(TWAIN_GetCapUint16(kCap, 0x12345), 0x2345);
    EXPECT_EQ(TWAIN_GetCapFix32(kCap, 4.5), 4.5);
}

TEST_F(Capabilities, GetCapBoolUsesTheCurrentOfMsgGet)
{
    struct {
        TW_UINT16 conType;
        cb::Bytes bytes;
        int result;
    } const cases[] = {
        {TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 1), 1},
        {TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 0x10000), 0},  // only the low 16 bits count
        {TWON_ENUMERATION, cb::Enumeration(TWTY_BOOL, {0, 1}, 1), 1},
        {TWON_ENUMERATION, cb::Enumeration(TWTY_BOOL, {0, 1}, 0), 0},
        {TWON_ENUMERATION, cb::Enumeration(TWTY_BOOL, {1}, 5), -7},  // no current item: fallback
        {TWON_ARRAY, cb::Array(TWTY_BOOL, {1}), -7},                 // no current value: fallback
    };
    for (const auto& c : cases) {
        Open();
        Script(kCap, c.conType, c.bytes);
        EXPECT_EQ(TWAIN_GetCapBool(kCap, -7), c.result);
        EXPECT_EQ(fake.capCalls.at(0).msg, MSG_GET);
        EXPECT_TRUE(Freed(fake.handedOut.at(0)));
    }
}

TEST_F(Capabilities, ResetSendsOnlyTheCapAndFreesTheReply)
{
    Open();
    Script(kCap, TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, 5));
    fake.resetHandle = GlobalAlloc(GMEM_MOVEABLE, 6);
    EXPECT_EQ(TWAIN_Reset(kCap), 1);
    ASSERT_EQ(fake.capCalls.size(), 1u);
    EXPECT_EQ(fake.capCalls[0].msg, MSG_RESET);
    EXPECT_EQ(fake.capCalls[0].conType, 0);
    EXPECT_TRUE(Freed(fake.resetHandle));
}
