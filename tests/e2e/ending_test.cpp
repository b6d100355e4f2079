// Ending the run while commands are still queued or a store operation is under way, the
// way hosts post commands and users click twice: the record keeps its image, and a
// compaction is never cut short by the window going away.
#include "e2e.h"
#include "support/store_files.h"

#include <windows.h>

namespace {
using storefiles::Bytes;

constexpr int kExitSave = 104, kSaveImage = 115, kExitAbort = 117;
constexpr char kCompactionWarning[] =
    "Databases need to be compressed, this WILL take a great deal of time, please be patient while it completes";
constexpr char kAbortQuestion[] = "Are you positive you wish to abort any changes?";

uint32_t Checks(int x, int y)
{
    return ((x / 6 + y / 4) % 2) ? RGB(200, 40, 90) : RGB(20, 180, 250);
}

class EndingTest : public ProgramTest {
protected:
    // Record 1 first (plain, as an earlier writer left it, when plainFirst is set, so the
    // start-up compaction runs and shows its warning), then the host's record 7.
    // With blocked, a directory stands where the compaction makes its new data file, so
    // that it cannot start.
    void WriteStore(bool plainFirst, bool blocked = false)
    {
        Bytes index, data;
        first_ = storefiles::Bitmap24(300, 200, Checks);
        // Small enough that Exit/Save stores it without pumping messages.
        image_ = storefiles::Bitmap24(40, 30, Checks);
        storefiles::AddRecord(index, data, 1, first_, !plainFirst);
        storefiles::AddRecord(index, data, 7, image_, true);
        records_ = 2;
        RemoveDirectoryA(Path("pagorex.new").c_str());
        if (blocked) {
            ASSERT_TRUE(CreateDirectoryA(Path("pagorex.new").c_str(), nullptr));
        }
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.idx"), index));
        ASSERT_TRUE(driver::WriteFileBytes(Path("pagorex.dat"), data));
    }
    // Every record holds its image, record 7 once and not deleted.
    void ExpectRecordsKeepTheirImages()
    {
        auto records = storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx")));
        Bytes data = driver::ReadFileBytes(Path("pagorex.dat"));
        ASSERT_EQ(records.size(), records_);
        EXPECT_EQ(records[0].recordNumber, 1);
        EXPECT_EQ(storefiles::ImageOf(records[0], data), first_);
        EXPECT_EQ(records[1].recordNumber, 7);
        EXPECT_EQ(records[1].deleted, 0) << "the record was marked deleted";
        EXPECT_EQ(storefiles::ImageOf(records[1], data), image_);
    }
    // The start-up compaction's warning; while it is up the compaction holds the store.
    driver::MessageBoxInfo WaitForCompactionWarning()
    {
        driver::MessageBoxInfo warning = driver::WaitForMessageBox(program_);
        EXPECT_EQ(warning.text, kCompactionWarning);
        return warning;
    }
    Bytes first_, image_;
    size_t records_ = 2;
};

struct QueuedCase {
    const char* name;
    bool duringCompaction;  // the commands arrive while the start-up compaction runs
    std::vector<int> commands;
};

TEST_F(EndingTest, CommandsQueuedBehindExitSaveAreDropped)
{
    const QueuedCase cases[] = {
        {"Exit/Save then Save Image", false, {kExitSave, kSaveImage}},
        {"Exit/Save twice", false, {kExitSave, kExitSave}},
        {"Exit/Save then Save Image during a compaction", true, {kExitSave, kSaveImage}},
    };
    for (const QueuedCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteStore(c.duringCompaction);
        StartFor(7);
        driver::MessageBoxInfo warning;
        if (c.duringCompaction) {
            warning = WaitForCompactionWarning();
            ASSERT_TRUE(warning.window);
        } else {
            ASSERT_EQ(driver::WaitForPixel(program_.window, 1, 1, Checks(1, 1)), Checks(1, 1));
        }
        for (int command : c.commands) {
            // Sent while the warning is up: the window procedure has taken each command,
            // and the compaction holds it, before the warning is answered. (A posted
            // no-op would prove nothing: sent messages overtake posted ones.)
            if (warning.window)
                ASSERT_TRUE(driver::Command(program_.window, command));
            else
                driver::PostCommand(program_.window, command);
        }
        if (warning.window)
            driver::PressButton(warning.window, IDOK);
        EXPECT_EQ(driver::WaitForExit(program_, 30000), 0);
        driver::Release(program_);
        RemoveDirectoryA(Path("pagorex.new").c_str());
        ExpectRecordsKeepTheirImages();
        EXPECT_FALSE(driver::FileExists(Path("pagorex.new")));
        if (c.duringCompaction) {
            auto records = storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx")));
            EXPECT_EQ(records[0].compressed, 1) << "the compaction finished first";
        }
        // The next run shows the image again.
        StartFor(7);
        EXPECT_EQ(driver::WaitForPixel(program_.window, 1, 1, Checks(1, 1)), Checks(1, 1));
        CloseAndExpectExit();
        driver::Release(program_);
    }
}

struct InterruptCase {
    const char* name;
    bool compactionFails;  // the compaction cannot start
    bool close;            // a close from the title bar instead of Exit/Abort
};

TEST_F(EndingTest, ExitAbortOrCloseDuringACompactionWaitsForIt)
{
    const InterruptCase cases[] = {
        {"Exit/Abort, compaction finishes", false, false},
        {"Exit/Abort, compaction fails", true, false},
        {"close, compaction finishes", false, true},
        {"close, compaction fails", true, true},
    };
    for (const InterruptCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteStore(true, c.compactionFails);
        Bytes index = driver::ReadFileBytes(Path("pagorex.idx"));
        Bytes data = driver::ReadFileBytes(Path("pagorex.dat"));
        StartFor(7);
        driver::MessageBoxInfo warning = WaitForCompactionWarning();
        ASSERT_TRUE(warning.window);
        // Sent, so that the window has taken the close or the command, and the compaction
        // held it, before the warning is answered.
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutA(program_.window, c.close ? WM_CLOSE : WM_COMMAND, c.close ? 0 : kExitAbort,
                                        0, SMTO_NORMAL, 20000, &result));
        driver::PressButton(warning.window, IDOK);
        if (c.compactionFails) {
            // The failure is told by a window that still exists, before anything else.
            driver::MessageBoxInfo failure = driver::WaitForMessageBox(program_, 10000, warning.window);
            ASSERT_TRUE(failure.window);
            EXPECT_EQ(failure.caption, "Vocalix Imager");
            EXPECT_NE(failure.text.find("could not be compressed"), std::string::npos) << failure.text;
            EXPECT_NE(failure.text.find("Nothing was changed"), std::string::npos) << failure.text;
            EXPECT_TRUE(IsWindow(program_.window));
            driver::PressButton(failure.window, IDOK);
            warning.window = failure.window;
        }
        if (!c.close) {
            driver::MessageBoxInfo question = driver::WaitForMessageBox(program_, 10000, warning.window);
            ASSERT_TRUE(question.window);
            EXPECT_EQ(question.text, kAbortQuestion);
            // Asked only once the compaction has ended.
            EXPECT_EQ(driver::Title(program_.window),
                      c.compactionFails ? "Compressing stopped" : "Completed compressing");
            EXPECT_EQ(driver::FileExists(Path("pagorex.new")), c.compactionFails) << "only the blocking directory";
            driver::PressButton(question.window, IDYES);
        }
        EXPECT_EQ(driver::WaitForExit(program_, 30000), 0);
        driver::Release(program_);
        RemoveDirectoryA(Path("pagorex.new").c_str());
        ExpectRecordsKeepTheirImages();
        EXPECT_FALSE(driver::FileExists(Path("pagorex.new")));
        auto records = storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx")));
        if (c.compactionFails) {
            EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.idx")), index);
            EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.dat")), data);
        } else {
            EXPECT_EQ(records[0].compressed, 1);
            EXPECT_EQ(records[0].dataOffset, 0u) << "the data file was rebuilt";
        }
    }
}
}  // namespace
