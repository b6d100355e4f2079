#include "e2e.h"

#include <windows.h>

#include <vector>

namespace {
using Bytes = std::vector<unsigned char>;

TEST_F(ProgramTest, StartsForTheRecordAndCreatesTheSettingsFile)
{
    StartFor(7);
    EXPECT_EQ(driver::Title(program_.window), "Pagorex - Page Capture");
    // The settings file is created in the store directory while the program starts.
    EXPECT_TRUE(driver::FileExists(Path("pagorex.cfg")));
    SIZE client = driver::ClientSize(program_.window);
    EXPECT_GT(client.cx, 300);
    EXPECT_GT(client.cy, 200);
    // No image: the client area is black.
    EXPECT_EQ(driver::SettledPixel(program_.window, client.cx / 2, client.cy / 2), RGB(0, 0, 0));
    // 500 x 350 on a 96-dpi display, as large to the eye on any other.
    RECT frame;
    GetWindowRect(program_.window, &frame);
    int dpi = DisplayDpi();
    EXPECT_EQ(frame.right - frame.left, MulDiv(500, dpi, 96));
    EXPECT_EQ(frame.bottom - frame.top, MulDiv(350, dpi, 96));
    CloseAndExpectExit();
    EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.cfg")), Bytes{0});
}

struct SettingsCase {
    const char* name;
    bool exists;
    Bytes before;
    Bytes after;
};

TEST_F(ProgramTest, SettingsByteIsWrittenBackAsFound)
{
    const SettingsCase cases[] = {
        {"missing", false, {}, {0}},
        {"empty", true, {}, {0}},
        {"two stays two", true, {2}, {2}},
        {"longer file keeps its tail", true, {1, 5, 6}, {1, 5, 6}},
    };
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(Path("pagorex.cfg").c_str());
        if (c.exists) {
            ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.cfg"), c.before));
        }
        StartFor(3);
        CloseAndExpectExit();
        driver::Release(program_);
        EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.cfg")), c.after);
    }
}

TEST_F(ProgramTest, StretchSettingSurvivesToTheNextRun)
{
    StartFor(1);
    ASSERT_TRUE(driver::Command(program_.window, 118));
    CloseAndExpectExit();
    driver::Release(program_);
    EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.cfg")), Bytes{1});

    StartFor(1);
    ASSERT_TRUE(driver::Command(program_.window, 118));
    CloseAndExpectExit();
    EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.cfg")), Bytes{0});
}

TEST_F(ProgramTest, ExitAbortAsksAndOnlyYesEnds)
{
    StartFor(1);
    driver::PostCommand(program_.window, 117);
    driver::MessageBoxInfo box = driver::WaitForMessageBox(program_);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.text, "Are you positive you wish to abort any changes?");
    EXPECT_EQ(box.caption, "");
    driver::PressButton(box.window, IDNO);
    EXPECT_EQ(driver::WaitForExit(program_, 500), -1) << "No must keep the program running";

    driver::PostCommand(program_.window, 117);
    box = driver::WaitForMessageBox(program_);
    ASSERT_TRUE(box.window);
    driver::PressButton(box.window, IDYES);
    EXPECT_EQ(driver::WaitForExit(program_), 0);
}

struct LongPathCase {
    const char* name;
    std::string path;
    bool whole;  // shown as it is; otherwise its ends around an ellipsis
};

TEST_F(ProgramTest, PathWithoutRoomForStoreNamesIsRefusedAndTouchesNothing)
{
    const LongPathCase cases[] = {
        {"just too long", "C:\\" + std::string(250, 'd') + "\\x.db", true},
        {"far too long", "C:\\first\\" + std::string(600, 'e') + "\\last\\x.db", false},
    };
    for (const LongPathCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(driver::Start(program_, Exe(), "4 " + c.path, dir_));
        driver::MessageBoxInfo box = driver::WaitForMessageBox(program_);
        ASSERT_TRUE(box.window);
        EXPECT_EQ(box.caption, "PAGOREX");
        EXPECT_NE(box.text.find("too long"), std::string::npos) << box.text;
        // The user sees which path it was.
        if (c.whole) {
            EXPECT_NE(box.text.find(c.path), std::string::npos) << box.text;
        } else {
            EXPECT_NE(box.text.find("C:\\first\\eee"), std::string::npos) << box.text;
            EXPECT_NE(box.text.find("eee...eee"), std::string::npos) << box.text;
            EXPECT_NE(box.text.find("eee\\last\\x.db"), std::string::npos) << box.text;
            EXPECT_LT(box.text.size(), 400u);
        }
        driver::PressButton(box.window, IDOK);
        EXPECT_EQ(driver::WaitForExit(program_), 0);
        driver::Release(program_);
        // Nothing was created, neither in the working directory nor anywhere else we know.
        EXPECT_FALSE(driver::FileExists(Path("pagorex.cfg")));
    }
}
}  // namespace

namespace {
TEST_F(ProgramTest, AboutBoxShowsVersionAndTwainAvailability)
{
    StartFor(1);
    driver::PendingCommand about(program_.window, 105);
    driver::MessageBoxInfo dialog = driver::WaitForMessageBox(program_);
    ASSERT_TRUE(dialog.window);
    EXPECT_EQ(driver::DialogItemText(dialog.window, 302), "acquira.dll reports version 2.70");
    // The test prefix has Wine's Source Manager, so TWAIN is there.
    EXPECT_EQ(driver::DialogItemText(dialog.window, 303), "TWAIN Services: Available.");
    driver::PressButton(dialog.window, IDOK);
    EXPECT_TRUE(about.Wait(10000));
    CloseAndExpectExit();
}
}  // namespace
