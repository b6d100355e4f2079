#include "app/shell.h"

#include <gtest/gtest.h>

#include <string>

namespace {
struct CommandLineCase {
    const char* text;
    int32_t record;
    const char* settingsPath;
};

// The host's command lines, and where each one puts the store.
const CommandLineCase kCases[] = {
    {"7 C:\\HOST\\DATA\\CALLS.DB", 7, "C:\\HOST\\DATA\\pagorex.cfg"},
    {"7 C:\\HOST\\DATA\\", 7, "C:\\HOST\\DATA\\pagorex.cfg"},
    {"7 records", 7, "pagorex.cfg"},
    {"12", 12, "pagorex.cfg"},
    {"", 0, "pagorex.cfg"},
    {"-3 C:\\X\\Y", -3, "C:\\X\\pagorex.cfg"},
    {"12abc", 12, "pagorex.cfg"},
    {"  12 C:\\X\\Y", 12, " 12 C:\\X\\pagorex.cfg"},
    {"5 C:\\Program Files\\Host\\a.db", 5, "C:\\Program Files\\Host\\pagorex.cfg"},
    {"+8 \"C:\\Q\\a b\\x\"", 8, "\"C:\\Q\\a b\\pagorex.cfg"},
    {"abc D:\\x", 0, "D:\\pagorex.cfg"},
    {"4294967295 C:\\A\\b", -1, "C:\\A\\pagorex.cfg"},
};

TEST(ParseCommandLine, RecordAndStoreDirectory)
{
    for (const CommandLineCase& c : kCases) {
        SCOPED_TRACE(c.text);
        ParseCommandLine(c.text);
        EXPECT_FALSE(storePathTooLong);
        EXPECT_EQ(hostRecordNumber, c.record);
        EXPECT_EQ(std::string(StoreFile("pagorex.cfg")), c.settingsPath);
    }
}

TEST(ParseCommandLine, NullTextIsRecordZeroInCurrentDirectory)
{
    ParseCommandLine(nullptr);
    EXPECT_EQ(hostRecordNumber, 0);
    EXPECT_STREQ(StoreFile("pagorex.idx"), "pagorex.idx");
}

TEST(ParseCommandLine, LongestDirectoryThatLeavesRoomForEveryStoreName)
{
    // 264 characters: directory, an 11-character name and the terminating zero.
    std::string directory = "C:\\" + std::string(252 - 3 - 1, 'd') + "\\";
    ASSERT_EQ(directory.size() + 11 + 1, 264u);
    ParseCommandLine(("1 " + directory + "host.db").c_str());
    EXPECT_FALSE(storePathTooLong);
    EXPECT_EQ(std::string(StoreFile("pagorex.idx")), directory + "pagorex.idx");
}

TEST(ParseCommandLine, DirectoryTooLongIsRefusedNotCut)
{
    std::string directory = "C:\\" + std::string(250, 'd') + "\\";  // 254 + 11 + 1 > 264
    ParseCommandLine(("1 " + directory + "host.db").c_str());
    EXPECT_TRUE(storePathTooLong);
    // A long file name after a short directory is harmless: it is replaced anyway.
    ParseCommandLine(("1 C:\\H\\" + std::string(400, 'n')).c_str());
    EXPECT_FALSE(storePathTooLong);
    EXPECT_STREQ(StoreFile("pagorex.dat"), "C:\\H\\pagorex.dat");
}
}  // namespace
