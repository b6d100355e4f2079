// Negotiation end to end: Wine's Source Manager loads the virtual scanner, whose profile
// (written here) scripts the containers it answers; its log tells what it received.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "twain/capability.h"
#include "twain/test_seam.h"
#include "twain/twain.h"

namespace {

std::string TempPath(const char* name)
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + "pagorex_caps_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

struct Session {
    std::string profilePath = TempPath("profile.txt");
    std::string logPath = TempPath("scanner.log");

    // Opens the default source with this profile; false when no source could be had.
    bool Open(const std::string& profile)
    {
        std::ofstream(profilePath, std::ios::binary) << profile;
        DeleteFileA(logPath.c_str());
        SetEnvironmentVariableA("VSCANNER_PROFILE", profilePath.c_str());
        SetEnvironmentVariableA("VSCANNER_LOG", logPath.c_str());
        TWAIN_ResetSessionForTest();
        TWAIN_ClearError();
        return TWAIN_OpenDefaultSource(nullptr);
    }

    ~Session()
    {
        TWAIN_UnloadSourceManager();
        DeleteFileA(profilePath.c_str());
        DeleteFileA(logPath.c_str());
    }

    // What the scanner logged for each MSG_SET of a capability, after " received ".
    std::vector<std::string> Received() const
    {
        std::ifstream in(logPath);
        std::vector<std::string> sets;
        for (std::string line; std::getline(in, line);) {
            const auto at = line.find(" received ");
            if (line.rfind("DG_CONTROL/DAT_CAPABILITY/MSG_SET", 0) == 0 && at != std::string::npos)
                sets.push_back(line.substr(at + 10));
        }
        return sets;
    }

    std::string Log() const
    {
        std::ifstream in(logPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

struct PixelCase {
    const char* name;
    const char* script;  // the ICAP_PIXELTYPE lines of the profile
    unsigned long mask;
    unsigned long result;
    int error;
    std::vector<std::string> received;
};

}  // namespace

class ThroughWine : public ::testing::TestWithParam<PixelCase> {};

TEST_P(ThroughWine, NegotiatesPixelTypesWithTheVirtualScanner)
{
    const PixelCase& c = GetParam();
    Session s;
    ASSERT_TRUE(s.Open(c.script)) << s.Log();
    EXPECT_EQ(TWAIN_NegotiatePixelTypes(c.mask), c.result) << s.Log();
    EXPECT_EQ(TWAIN_GetLastErrorCode(), c.error);
    EXPECT_EQ(s.Received(), c.received) << s.Log();
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, ThroughWine,
    ::testing::Values(
        PixelCase{"Enumeration", "cap.ICAP_PIXELTYPE = enumeration uint16 2 1 0 current=0 default=0\n", 3, 1, TWERR_NONE,
                  {"ENUMERATION UINT16 items=0,1 current=0 default=0"}},
        PixelCase{"EnumerationKeepsCurrent", "cap.ICAP_PIXELTYPE = enumeration int16 2 0 1 current=2 default=0\n", 6, 1,
                  TWERR_NONE, {"ENUMERATION INT16 items=1,2 current=0 default=1"}},
        PixelCase{"Array", "cap.ICAP_PIXELTYPE = array uint16 0 0 2\n", 5, 1, TWERR_NONE, {"ARRAY UINT16 items=0,2"}},
        PixelCase{"OneValueSendsNothing", "cap.ICAP_PIXELTYPE = onevalue uint16 1\n", 2, 2, TWERR_NONE, {}},
        PixelCase{"OneValueNotInMask", "cap.ICAP_PIXELTYPE = onevalue uint16 1\n", 4, 0, TWERR_NO_COMMON_VALUES, {}},
        PixelCase{"Uint32Items", "cap.ICAP_PIXELTYPE = enumeration uint32 0 2\n", 5, 0, TWERR_BAD_ITEM_TYPE, {}},
        PixelCase{"NullHandle", "cap.ICAP_PIXELTYPE = null\n", 5, 0, TWERR_NULL_CONTAINER, {}},
        PixelCase{"EmptyList", "cap.ICAP_PIXELTYPE = enumeration uint16\n", 5, 0, TWERR_EMPTY_CONTAINER, {}},
        PixelCase{"OversizedList", "cap.ICAP_PIXELTYPE = enumeration uint16 0 2 count=1000\n", 5, 0,
                  TWERR_BAD_CONTAINER, {}},
        PixelCase{"Range", "cap.ICAP_PIXELTYPE = range uint16 0 2 1\n", 5, 0, TWERR_BAD_CONTAINER_TYPE, {}},
        PixelCase{"GetRefused", "cap.ICAP_PIXELTYPE = enumeration uint16 0\ncap.ICAP_PIXELTYPE.get = failure\n", 1, 0,
                  TWERR_CAP_GET, {}},
        PixelCase{"SetCheckStatus", "cap.ICAP_PIXELTYPE = array uint16 0 2\ncap.ICAP_PIXELTYPE.set = checkstatus\n", 1,
                  0, TWERR_CAP_SET, {"ARRAY UINT16 items=0"}}),
    [](const auto& info) { return info.param.name; });

TEST(ThroughWineOps, CurrentValueOfACompatibleEnumeration)
{
    Session s;
    ASSERT_TRUE(s.Open("cap.ICAP_BITDEPTH = enumeration int16 1 8 24 current=2\n"
                       "cap.ICAP_PLANARCHUNKY = array uint16 1\n"
                       "cap.CAP_UICONTROLLABLE = onevalue bool 1\n"
                       "cap.ICAP_XRESOLUTION = range fix32 50 600 0.5 current=300.5\n"));
    EXPECT_EQ(TWAIN_GetBitDepth(), 24);
    EXPECT_EQ(TWAIN_GetPlanarChunky(), 65535);  // an array has no current value
    EXPECT_EQ(TWAIN_GetUIControllable(), 1);
    EXPECT_EQ(TWAIN_GetXResolution(), 300.5);
}

TEST(ThroughWineOps, ResolutionStopsWhenXIsRefused)
{
    Session s;
    ASSERT_TRUE(s.Open("cap.ICAP_XRESOLUTION = onevalue fix32 100\ncap.ICAP_XRESOLUTION.set = failure\n"
                       "cap.ICAP_YRESOLUTION = onevalue fix32 100\n"));
    EXPECT_EQ(TWAIN_SetResolution(300), 0);
    EXPECT_EQ(s.Received(), std::vector<std::string>{"ONEVALUE FIX32 items=300"});
    EXPECT_EQ(TWAIN_GetYResolution(), 100.0);
}

TEST(ThroughWineOps, FeederProbeLeavesTheFeederDisabled)
{
    Session s;
    ASSERT_TRUE(s.Open("cap.CAP_FEEDERENABLED = onevalue bool 0\n"));
    EXPECT_EQ(TWAIN_HasFeeder(), 1);
    EXPECT_EQ(s.Received(), (std::vector<std::string>{"ONEVALUE BOOL items=1", "ONEVALUE BOOL items=0"}));
    EXPECT_EQ(TWAIN_GetFeederEnabled(), 0);
}

TEST(ThroughWineOps, SetCapSendsTheBuiltContainer)
{
    Session s;
    ASSERT_TRUE(s.Open("cap.ICAP_BRIGHTNESS = onevalue fix32 0\n"));
    CapContainer* c = TWAIN_BuildRange(TWTY_FIX32, -100, 100, 0.5);
    TWAIN_SetCurrentValue(c, 12.5);
    EXPECT_EQ(TWAIN_SetCap(ICAP_BRIGHTNESS, c), 1);
    TWAIN_FreeContainer(c);
    EXPECT_EQ(s.Received(),
              std::vector<std::string>{"RANGE FIX32 min=-100 max=100 step=0.5 default=-100 current=12.5"});
}
