// The virtual scanner's profile text: defaults, sections, values and the lines it skips.
#include <gtest/gtest.h>

#include "tools/vscanner/profile.h"

namespace vs {
namespace {

TEST(ScannerProfile, EmptyTextGivesTheBuiltInSource)
{
    Profile p = ParseProfile("");
    ASSERT_EQ(p.sources.size(), 1u);
    EXPECT_EQ(p.sources[0].name, "Pagorex Virtual Scanner");
    EXPECT_EQ(p.sources[0].width, 320);
    EXPECT_EQ(p.sources[0].bits, 24);
    EXPECT_EQ(p.sources[0].pages, 1);
    EXPECT_TRUE(p.problems.empty());
}

TEST(ScannerProfile, KeysBeforeTheFirstSectionAreEverySourcesDefaults)
{
    Profile p = ParseProfile("# shared\r\nresolution = 150\r\n\r\n[source]\r\nname = A\r\n[SOURCE]\r\n"
                             "name = B   # a comment\r\nresolution = 300\r\n");
    ASSERT_EQ(p.sources.size(), 2u);
    EXPECT_EQ(p.sources[0].name, "A");
    EXPECT_EQ(p.sources[0].resolution, 150.0);
    EXPECT_EQ(p.sources[1].name, "B");
    EXPECT_EQ(p.sources[1].resolution, 300.0);
    EXPECT_TRUE(p.problems.empty());
}

TEST(ScannerProfile, ValuesByNameOrNumber)
{
    Profile p = ParseProfile("pixel_type = gray\nxfer_mechs = native, memory\npixel_types = BW 1 rgb\n"
                             "compressions = none group4 9\nduplex = 2pass\nopen_failure = nods\n"
                             "enable_failure = 20\nenable_answer = CheckStatus\nxfer_answer = cancel\n"
                             "feeder = yes\nautofeed = on\nxfer_count = 3\nunknown_count = true\n");
    ASSERT_TRUE(p.problems.empty()) << p.problems.front();
    const SourceProfile& s = p.sources.at(0);
    EXPECT_EQ(s.pixelType, TWPT_GRAY);
    EXPECT_EQ(s.bits, 8);  // the pixel type's depth
    EXPECT_EQ(s.xferMechs, (std::vector<TW_UINT16>{TWSX_NATIVE, TWSX_MEMORY}));
    EXPECT_EQ(s.pixelTypes, (std::vector<TW_UINT16>{TWPT_BW, TWPT_GRAY, TWPT_RGB}));
    EXPECT_EQ(s.compressions, (std::vector<TW_UINT16>{TWCP_NONE, TWCP_GROUP4, TWCP_PNG}));
    EXPECT_EQ(s.duplex, TWDX_2PASSDUPLEX);
    EXPECT_EQ(s.openFailure, TWCC_NODS);
    EXPECT_EQ(s.enableFailure, TWCC_PAPERJAM);
    EXPECT_EQ(s.enableAnswer, EnableAnswer::CheckStatus);
    EXPECT_EQ(s.xferAnswer, XferAnswer::Cancel);
    EXPECT_TRUE(s.feeder);
    EXPECT_TRUE(s.autoFeed);
    EXPECT_EQ(s.xferCount, 3);
    EXPECT_TRUE(s.unknownCount);
}

TEST(ScannerProfile, UnusableLinesAreNotedAndSkipped)
{
    struct Case {
        const char* line;
        bool usable;
    };
    const Case cases[] = {
        {"width = 0", false},       {"width = 20001", false},  {"width = 12x", false},
        {"bits = 16", false},       {"bits = 4", true},         {"pixel_type = sepia", false},
        {"xfer_mechs =", false},    {"xfer_mechs = fax", false}, {"xfer_count = 0", false},
        {"xfer_count = -1", true},  {"feeder = maybe", false},  {"colour = red", false},
        {"just words", false},      {"open_failure = 70000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Profile p = ParseProfile(std::string("\n") + c.line + "\n");
        ASSERT_EQ(p.sources.size(), 1u);
        if (c.usable) {
            EXPECT_TRUE(p.problems.empty());
        } else {
            ASSERT_EQ(p.problems.size(), 1u);
            EXPECT_EQ(p.problems[0], std::string("line 2: ") + c.line);
            EXPECT_EQ(p.sources[0].width, 320);  // the default stays
        }
    }
}

TEST(ScannerProfile, IdentityTextsAreCutToTheirField)
{
    Profile p = ParseProfile("name = " + std::string(40, 'n') + "\nmanufacturer = Acme = Best\n");
    EXPECT_EQ(p.sources[0].name, std::string(33, 'n'));
    EXPECT_EQ(p.sources[0].manufacturer, "Acme = Best");
}

}  // namespace
}  // namespace vs
