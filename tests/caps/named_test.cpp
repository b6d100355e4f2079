// The named conveniences against the scripted source: which capability, item type and
// value each one sends, the getters' fallbacks, the feeder probe, resolution and the
// scan area.
#include <gtest/gtest.h>

#include <functional>

#include "support/box_watch.h"
#include "caps/container_bytes.h"
#include "twain/scripted_dsm.h"
#include "twain/capability.h"
#include "twain/container_bytes.h"
#include "twain/twain.h"

using namespace twtest;
namespace cb = capbytes;

namespace {

std::uint32_t Fix(double x)
{
    return cbytes::DoubleToFix32Bits(x);
}

// Every capability a setter may touch, accepting anything.
void AcceptEverything()
{
    for (TW_UINT16 cap : {CAP_XFERCOUNT, ICAP_UNITS, ICAP_BITDEPTH, ICAP_PIXELTYPE, ICAP_XFERMECH, ICAP_SUPPORTEDSIZES,
                          ICAP_PLANARCHUNKY, ICAP_PIXELFLAVOR, ICAP_COMPRESSION, ICAP_LIGHTPATH, ICAP_AUTOBRIGHT,
                          CAP_INDICATORS, CAP_DUPLEXENABLED, CAP_FEEDERENABLED, ICAP_TILES, CAP_AUTOFEED,
                          ICAP_XRESOLUTION, ICAP_YRESOLUTION, ICAP_BRIGHTNESS, ICAP_CONTRAST, ICAP_THRESHOLD,
                          ICAP_GAMMA, ICAP_SHADOW, ICAP_HIGHLIGHT})
        Script(cap, TWON_ONEVALUE, cb::OneValue(TWTY_UINT16, 0));
}

struct SetterCase {
    const char* name;
    std::function<int()> set;
    TW_UINT16 cap;
    cb::Bytes sent;
};

}  // namespace

class Setters : public ::testing::TestWithParam<SetterCase> {};

TEST_P(Setters, SendOneValueOfTheirTypeAndCapability)
{
    Open();
    AcceptEverything();
    EXPECT_EQ(GetParam().set(), 1);
    const auto sets = Calls(MSG_SET);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].cap, GetParam().cap);
    EXPECT_EQ(sets[0].conType, TWON_ONEVALUE);
    EXPECT_EQ(sets[0].bytes, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Named, Setters,
    ::testing::Values(
        SetterCase{"XferCountAll", [] { return TWAIN_SetXferCount(-1); }, CAP_XFERCOUNT, cb::OneValue(TWTY_INT16, 0xFFFFFFFF)},
        SetterCase{"UnitsLow16Bits", [] { return TWAIN_SetUnits(0x10005); }, ICAP_UNITS, cb::OneValue(TWTY_UINT16, 5)},
        SetterCase{"BitDepth", [] { return TWAIN_SetBitDepth(8); }, ICAP_BITDEPTH, cb::OneValue(TWTY_UINT16, 8)},
        SetterCase{"PixelType", [] { return TWAIN_SetPixelType(TWPT_GRAY); }, ICAP_PIXELTYPE, cb::OneValue(TWTY_UINT16, 1)},
        SetterCase{"PaperSize", [] { return TWAIN_SetPaperSize(TWSS_USLETTER); }, ICAP_SUPPORTEDSIZES, cb::OneValue(TWTY_UINT16, 3)},
        SetterCase{"PlanarChunky", [] { return TWAIN_SetPlanarChunky(1); }, ICAP_PLANARCHUNKY, cb::OneValue(TWTY_UINT16, 1)},
        SetterCase{"PixelFlavor", [] { return TWAIN_SetPixelFlavor(1); }, ICAP_PIXELFLAVOR, cb::OneValue(TWTY_UINT16, 1)},
        SetterCase{"Compression", [] { return TWAIN_SetCompression(TWCP_GROUP4); }, ICAP_COMPRESSION, cb::OneValue(TWTY_UINT16, 5)},
        SetterCase{"LightPathTransmissive", [] { return TWAIN_SetLightPath(7); }, ICAP_LIGHTPATH, cb::OneValue(TWTY_UINT16, 1)},
        SetterCase{"LightPathReflective", [] { return TWAIN_SetLightPath(0); }, ICAP_LIGHTPATH, cb::OneValue(TWTY_UINT16, 0)},
        SetterCase{"AutoBright", [] { return TWAIN_SetAutoBright(9); }, ICAP_AUTOBRIGHT, cb::OneValue(TWTY_BOOL, 1)},
        SetterCase{"Indicators", [] { return TWAIN_SetIndicators(0); }, CAP_INDICATORS, cb::OneValue(TWTY_BOOL, 0)},
        SetterCase{"DuplexEnabled", [] { return TWAIN_SetDuplexEnabled(-3); }, CAP_DUPLEXENABLED, cb::OneValue(TWTY_BOOL, 1)},
        SetterCase{"XResolution", [] { return TWAIN_SetXResolution(150.5); }, ICAP_XRESOLUTION, cb::OneValue(TWTY_FIX32, Fix(150.5))},
        SetterCase{"YResolution", [] { return TWAIN_SetYResolution(72); }, ICAP_YRESOLUTION, cb::OneValue(TWTY_FIX32, Fix(72))},
        SetterCase{"Brightness", [] { return TWAIN_SetBrightness(-12.25); }, ICAP_BRIGHTNESS, cb::OneValue(TWTY_FIX32, Fix(-12.25))},
        SetterCase{"Contrast", [] { return TWAIN_SetContrast(0.00001); }, ICAP_CONTRAST, cb::OneValue(TWTY_FIX32, 0x00010000)},
        SetterCase{"Threshold", [] { return TWAIN_SetThreshold(128); }, ICAP_THRESHOLD, cb::OneValue(TWTY_FIX32, Fix(128))},
        SetterCase{"Gamma", [] { return TWAIN_SetGamma(2.2); }, ICAP_GAMMA, cb::OneValue(TWTY_FIX32, Fix(2.2))},
        SetterCase{"Shadow", [] { return TWAIN_SetShadow(-0.5); }, ICAP_SHADOW, cb::OneValue(TWTY_FIX32, 0x8000FFFF)},
        SetterCase{"Highlight", [] { return TWAIN_SetHighlight(255); }, ICAP_HIGHLIGHT, cb::OneValue(TWTY_FIX32, Fix(255))}),
    [](const auto& info) { return info.param.name; });

TEST(Getters, FallBackWhenTheSourceHasNoAnswer)
{
    Open();
    struct {
        const char* name;
        std::function<double()> get;
        double fallback;
    } const cases[] = {
        {"Units", [] { return double(TWAIN_GetUnits()); }, 0},
        {"BitDepth", [] { return double(TWAIN_GetBitDepth()); }, 0},
        {"PixelType", [] { return double(TWAIN_GetPixelType()); }, 0},
        {"XferMech", [] { return double(TWAIN_GetXferMech()); }, 0},
        {"DuplexSupport", [] { return double(TWAIN_GetDuplexSupport()); }, 0},
        {"PlanarChunky", [] { return double(TWAIN_GetPlanarChunky()); }, 65535},
        {"PixelFlavor", [] { return double(TWAIN_GetPixelFlavor()); }, 65535},
        {"Compression", [] { return double(TWAIN_GetCompression()); }, 0},
        {"XResolution", [] { return TWAIN_GetXResolution(); }, 0},
        {"YResolution", [] { return TWAIN_GetYResolution(); }, 0},
        {"Threshold", [] { return TWAIN_GetThreshold(); }, 128},
        {"AutoFeed", [] { return double(TWAIN_GetAutoFeed()); }, 0},
        {"FeederEnabled", [] { return double(TWAIN_GetFeederEnabled()); }, 0},
        {"FeederLoaded", [] { return double(TWAIN_GetFeederLoaded()); }, 0},
        {"DuplexEnabled", [] { return double(TWAIN_GetDuplexEnabled()); }, 0},
        {"Tiles", [] { return double(TWAIN_GetTiles()); }, 0},
        {"UIControllable", [] { return double(TWAIN_GetUIControllable()); }, -1},
        {"SupportsFileXfer", [] { return double(TWAIN_SupportsFileXfer()); }, 0},
        {"HasFeeder", [] { return double(TWAIN_HasFeeder()); }, 0},
    };
    for (const auto& c : cases) {
        double value = -99;
        EXPECT_TRUE(boxes::BoxTextsShownBy([&] { value = c.get(); }).empty()) << c.name;
        EXPECT_EQ(value, c.fallback) << c.name;
    }
}

TEST(Getters, ReadTheSourcesCurrentValues)
{
    Open();
    Script(ICAP_PIXELTYPE, TWON_ENUMERATION, cb::Enumeration(TWTY_UINT16, {0, 1, 2}, 2));
    Script(ICAP_XRESOLUTION, TWON_ONEVALUE, cb::OneValue(TWTY_FIX32, Fix(300.5)));
    Script(ICAP_THRESHOLD, TWON_RANGE, cb::Range(TWTY_FIX32, 0, Fix(255), Fix(1), Fix(100), Fix(128)));
    Script(CAP_UICONTROLLABLE, TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 1));
    Script(ICAP_PLANARCHUNKY, TWON_ONEVALUE, cb::OneValue(TWTY_INT16, 0xFFFFFFFF));
    Script(CAP_DUPLEXENABLED, TWON_ENUMERATION, cb::Enumeration(TWTY_BOOL, {0, 1}, 1));
    Script(ICAP_XFERMECH, TWON_ENUMERATION, cb::Enumeration(TWTY_UINT16, {TWSX_NATIVE, TWSX_FILE}, 0));
    EXPECT_EQ(TWAIN_GetPixelType(), TWPT_RGB);
    EXPECT_EQ(TWAIN_GetXResolution(), 300.5);
    EXPECT_EQ(TWAIN_GetThreshold(), 100.0);
    EXPECT_EQ(TWAIN_GetUIControllable(), 1);
    EXPECT_EQ(TWAIN_GetPlanarChunky(), 65535);
    EXPECT_EQ(TWAIN_GetDuplexEnabled(), 1);
    EXPECT_EQ(TWAIN_SupportsFileXfer(), 1);
    Script(ICAP_XFERMECH, TWON_ENUMERATION, cb::Enumeration(TWTY_UINT16, {TWSX_NATIVE, TWSX_MEMORY}, 0));
    EXPECT_EQ(TWAIN_SupportsFileXfer(), 0);
    for (HGLOBAL h : fake.handedOut)
        EXPECT_TRUE(Freed(h));
}

TEST(Feeder, SettingTheCurrentStateSendsNothing)
{
    Open();
    Script(CAP_FEEDERENABLED, TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 1));
    EXPECT_EQ(TWAIN_SetFeederEnabled(5), 1);
    EXPECT_TRUE(Calls(MSG_SET).empty());
    EXPECT_EQ(TWAIN_SetFeederEnabled(0), 1);
    EXPECT_EQ(Calls(MSG_SET).size(), 1u);
    Script(ICAP_TILES, TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 0));
    EXPECT_EQ(TWAIN_SetTiles(0), 1);
    EXPECT_EQ(Calls(MSG_SET).size(), 1u);
}

TEST(Feeder, ProbeLeavesAFeederItHadToEnableDisabled)
{
    Open();
    Script(CAP_FEEDERENABLED, TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 0));
    EXPECT_EQ(TWAIN_HasFeeder(), 1);
    const auto sets = Calls(MSG_SET);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].bytes, cb::OneValue(TWTY_BOOL, 1));
    EXPECT_EQ(sets[1].bytes, cb::OneValue(TWTY_BOOL, 0));
    EXPECT_EQ(TWAIN_GetFeederEnabled(), 0);
}

TEST(Feeder, ProbeOfASourceWithoutFeederTriesOnce)
{
    Open();
    Script(CAP_FEEDERENABLED, TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 0));
    fake.caps[CAP_FEEDERENABLED].setRc = TWRC_FAILURE;
    EXPECT_EQ(TWAIN_HasFeeder(), 0);
    EXPECT_EQ(Calls(MSG_SET).size(), 1u);
}

TEST(Feeder, AnEnabledFeederIsFoundWithoutSetting)
{
    Open();
    Script(CAP_FEEDERENABLED, TWON_ENUMERATION, cb::Enumeration(TWTY_BOOL, {0, 1}, 1));
    EXPECT_EQ(TWAIN_HasFeeder(), 1);
    EXPECT_TRUE(Calls(MSG_SET).empty());
}

TEST(Feeder, AutoFeedEnablesTheFeederFirst)
{
    Open();
    Script(CAP_FEEDERENABLED, TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 0));
    Script(CAP_AUTOFEED, TWON_ONEVALUE, cb::OneValue(TWTY_BOOL, 0));
    fake.caps[CAP_FEEDERENABLED].setRc = TWRC_FAILURE;  // the result is ignored
    EXPECT_EQ(TWAIN_SetAutoFeed(1), 1);
    const auto sets = Calls(MSG_SET);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].cap, CAP_FEEDERENABLED);
    EXPECT_EQ(sets[1].cap, CAP_AUTOFEED);
    EXPECT_EQ(sets[1].bytes, cb::OneValue(TWTY_BOOL, 1));
}

TEST(Resolution, SetsBothAxesAndSkipsYWhenXFails)
{
    struct {
        TW_UINT16 xRc, yRc;
        int result;
        std::vector<TW_UINT16> caps;
    } const cases[] = {
        {TWRC_SUCCESS, TWRC_SUCCESS, 1, {ICAP_XRESOLUTION, ICAP_YRESOLUTION}},
        {TWRC_FAILURE, TWRC_SUCCESS, 0, {ICAP_XRESOLUTION}},
        {TWRC_CHECKSTATUS, TWRC_SUCCESS, 0, {ICAP_XRESOLUTION}},
        {TWRC_SUCCESS, TWRC_FAILURE, 0, {ICAP_XRESOLUTION, ICAP_YRESOLUTION}},
    };
    for (const auto& c : cases) {
        Open();
        AcceptEverything();
        fake.caps[ICAP_XRESOLUTION].setRc = c.xRc;
        fake.caps[ICAP_YRESOLUTION].setRc = c.yRc;
        EXPECT_EQ(TWAIN_SetResolution(300), c.result);
        std::vector<TW_UINT16> caps;
        for (const auto& set : Calls(MSG_SET)) {
            caps.push_back(set.cap);
            EXPECT_EQ(set.bytes, cb::OneValue(TWTY_FIX32, 300));
        }
        EXPECT_EQ(caps, c.caps);
    }
}

TEST(XferMech, RecordedOnlyWhenTheSourceTookIt)
{
    Open();
    AcceptEverything();
    xferMech = TWSX_NATIVE;
    EXPECT_EQ(TWAIN_SetXferMech(TWSX_MEMORY), 1);
    EXPECT_EQ(xferMech, TWSX_MEMORY);
    fake.caps[ICAP_XFERMECH].setRc = TWRC_FAILURE;
    EXPECT_EQ(TWAIN_SetXferMech(TWSX_FILE), 0);
    EXPECT_EQ(xferMech, TWSX_MEMORY);
}

TEST(ImageLayout, SetSendsFix32RoundedToThe65536th)
{
    Open();
    EXPECT_EQ(TWAIN_SetImageLayout(1.25, 0.00001, 8.5, -0.5), 1);
    ASSERT_EQ(fake.layoutCalls.size(), 1u);
    const auto& [msg, sent] = fake.layoutCalls[0];
    EXPECT_EQ(msg, MSG_SET);
    EXPECT_EQ(sent.Frame.Left.Whole, 1);
    EXPECT_EQ(sent.Frame.Left.Frac, 16384);
    EXPECT_EQ(sent.Frame.Top.Whole, 0);
    EXPECT_EQ(sent.Frame.Top.Frac, 1);
    EXPECT_EQ(sent.Frame.Right.Whole, 8);
    EXPECT_EQ(sent.Frame.Right.Frac, 32768);
    EXPECT_EQ(sent.Frame.Bottom.Whole, -1);
    EXPECT_EQ(sent.Frame.Bottom.Frac, 32768);
    EXPECT_EQ(sent.DocumentNumber, 0xFFFFFFFFu);
    EXPECT_EQ(sent.PageNumber, 0xFFFFFFFFu);
    EXPECT_EQ(sent.FrameNumber, 0xFFFFFFFFu);
    fake.layoutRc = TWRC_FAILURE;
    EXPECT_EQ(TWAIN_SetImageLayout(0, 0, 1, 1), 0);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_NONE);
}

TEST(ImageLayout, SetOnlyInStateFour)
{
    for (int state : {TWAIN_SM_OPEN, TWAIN_SOURCE_ENABLED}) {
        Open(state);
        EXPECT_TRUE(boxes::BoxTextsShownBy([] { EXPECT_EQ(TWAIN_SetImageLayout(0, 0, 1, 1), 0); }).empty());
        EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_NOT_STATE_4);
        EXPECT_TRUE(fake.layoutCalls.empty());
    }
}

TEST(ImageLayout, GettersWriteOnlyOnSuccess)
{
    Open();
    fake.layout.Frame = TW_FRAME{{0, 32768}, {1, 0}, {8, 32768}, {11, 0}};
    double l = -1, t = -1, r = -1, b = -1;
    EXPECT_EQ(TWAIN_GetImageLayout(&l, &t, &r, &b), 1);
    EXPECT_EQ(l, 0.5);
    EXPECT_EQ(t, 1.0);
    EXPECT_EQ(r, 8.5);
    EXPECT_EQ(b, 11.0);
    EXPECT_EQ(TWAIN_GetDefaultImageLayout(&l, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(TWAIN_ResetImageLayout(), 1);
    ASSERT_EQ(fake.layoutCalls.size(), 3u);
    EXPECT_EQ(fake.layoutCalls[1].first, MSG_GETDEFAULT);
    EXPECT_EQ(fake.layoutCalls[2].first, MSG_RESET);

    fake.layoutRc = TWRC_FAILURE;
    l = -1;
    EXPECT_EQ(TWAIN_GetImageLayout(&l, &t, &r, &b), 0);
    EXPECT_EQ(l, -1);

    Open(TWAIN_SM_OPEN);  // no source: no call into one
    EXPECT_TRUE(boxes::BoxTextsShownBy([&] { EXPECT_EQ(TWAIN_GetImageLayout(&l, &t, &r, &b), 0); }).empty());
    EXPECT_EQ(TWAIN_ResetImageLayout(), 0);
    EXPECT_TRUE(fake.layoutCalls.empty());
}
