// Programs that hold the store when they are killed, and programs that wait for it: the
// next goes on at once, and a waiting program shows it and ends cleanly when closed.
#include "shared_store.h"

namespace sharedstore {
namespace {
// Waits until the compaction's title tells it is at record step or beyond.
bool WaitForProgress(const driver::Program& program, int step)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000;) {
        int k = 0, n = 0;
        if (std::sscanf(driver::Title(program.window).c_str(), "Please wait, compressing %d of %d", &k, &n) == 2 &&
            k >= step)
            return true;
        if (WaitForSingleObject(program.process, 0) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

struct KillCase {
    const char* name;
    int step;  // the holder is killed at its warning (0) or once it is compressing record step
};

TEST_F(SharedStoreTest, AProgramKilledWhileItHoldsTheStoreLetsTheNextGoOnAtOnce)
{
    const KillCase cases[] = {{"at the compaction's warning", 0}, {"in the middle of the compaction", 4}};
    constexpr int kRecords = 12;
    for (const KillCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        LayStore(kRecords, 5, true, 300);
        driver::Program holder, next;
        Start(holder, 1);
        ASSERT_FALSE(HasFatalFailure());
        driver::MessageBoxInfo warning = driver::WaitForMessageBox(holder, 20000);
        ASSERT_TRUE(warning.window) << "no start-up compaction";
        // The warning holds nothing of the store: the next program loads at once.
        Start(next, 2);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_NE(driver::Title(next.window), kInUse) << "the load waits for the other program's warning";
        if (c.step > 0) {
            driver::PressButton(warning.window, IDOK);
            ASSERT_TRUE(WaitForProgress(holder, c.step));
        }
        driver::Kill(holder);
        driver::Release(holder);
        // At once: the wait has ended long before any timeout could matter.
        DWORD killed = GetTickCount();
        for (; GetTickCount() - killed < 20000 && driver::Title(next.window) == kInUse; Sleep(5)) {
        }
        EXPECT_NE(driver::Title(next.window), kInUse) << "the next program still waits";
        // Its own start-up compaction finishes the work while the first record is still
        // plain (always at the warning; in the middle, when the killed compaction had not
        // yet repointed a batch of moved records), or, once the first record was moved, a
        // forced one does.
        driver::MessageBoxInfo again = driver::WaitForMessageBox(next, 20000);
        if (again.window) {
            driver::PressButton(again.window, IDOK);
        } else {
            ASSERT_NE(c.step, 0) << "no start-up compaction after the kill";
            ASSERT_TRUE(WaitForTitle(next.window, kBanner, 20000));
            driver::PendingCommand forced(next.window, kCompact);
            EXPECT_TRUE(forced.Wait(120000));
        }
        EXPECT_TRUE(WaitForTitle(next.window, kCompleted, 120000));
        EXPECT_TRUE(WaitForClientHeight(next.window, 90)) << "record 2's image is not shown";
        driver::Close(next.window);
        EXPECT_EQ(driver::WaitForExit(next), 0);
        driver::Release(next);
        ExpectSound(ReadStore(), "after the kill");
        for (const Record& r : ReadStore().records)
            EXPECT_EQ(r.compressed, 1) << "record " << r.recordNumber << " was not compacted";
    }
}

enum class Waiting { Load, SaveImage, ExitSave, Compaction };

struct WaitCase {
    const char* name;
    Waiting what;
    bool close;  // the person closes the window; else the other program lets go
    const char* told;
};

constexpr char kNotStored[] =
    "The image was not stored: the window was closed while another program was using the image store.\n\nThe "
    "record keeps the image it had before.";

TEST_F(SharedStoreTest, AWaitingProgramShowsItAndEndsCleanlyWhenItsWindowIsClosed)
{
    const WaitCase cases[] = {
        {"the load at its start, closed", Waiting::Load, true, nullptr},
        {"Save Image, closed", Waiting::SaveImage, true, kNotStored},
        {"Exit/Save, closed", Waiting::ExitSave, true, kNotStored},
        {"a compaction, closed", Waiting::Compaction, true, nullptr},
        {"the load at its start, the store freed", Waiting::Load, false, nullptr},
        {"Save Image, the store freed", Waiting::SaveImage, false, nullptr},
        {"Exit/Save, the store freed", Waiting::ExitSave, false, nullptr},
        {"a compaction, the store freed", Waiting::Compaction, false, nullptr},
    };
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        LayStore(3, 9);
        Bytes index = driver::ReadFileBytes(Path("pagorex.idx")), data = driver::ReadFileBytes(Path("pagorex.dat"));
        driver::Program program;
        StoreHold writing(Path("pagorex.idx"));
        std::unique_ptr<driver::PendingCommand> command;
        if (c.what == Waiting::Load) {
            ASSERT_TRUE(writing.Take(kStoreLockOffset, true));
            Start(program, 1);
        } else {
            StartIdle({&program}, {1});
            ASSERT_FALSE(HasFatalFailure());
            ASSERT_TRUE(writing.Take(kStoreLockOffset, true));
            int id = c.what == Waiting::SaveImage ? kSaveImage : c.what == Waiting::ExitSave ? kExitSave : kCompact;
            command = std::make_unique<driver::PendingCommand>(program.window, id);
        }
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(WaitForTitle(program.window, kInUse)) << "the wait is not shown";
        EXPECT_FALSE(command && command->Wait(300)) << "the command did not wait";
        EXPECT_FALSE(driver::FileExists(Path("pagorex.2"))) << "a work file was written while the store was another's";
        if (c.close) {
            driver::Close(program.window);
            if (c.told) {
                driver::MessageBoxInfo box = driver::WaitForMessageBox(program, 20000);
                EXPECT_EQ(box.text, c.told);
                driver::PressButton(box.window, IDOK);
            }
            EXPECT_EQ(driver::WaitForExit(program, 20000), 0) << "the program did not end";
            writing.Release();
            EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.idx")), index);
            EXPECT_EQ(driver::ReadFileBytes(Path("pagorex.dat")), data);
        } else {
            writing.Release();
            if (command) {
                EXPECT_TRUE(command->Wait(60000));
            }
            if (c.what == Waiting::ExitSave) {
                EXPECT_EQ(driver::WaitForExit(program, 20000), 0);
            } else {
                // A save leaves its last progress text, if it showed one.
                if (c.what == Waiting::SaveImage) {
                    EXPECT_NE(driver::Title(program.window), kInUse);
                } else {
                    EXPECT_TRUE(WaitForTitle(program.window, c.what == Waiting::Compaction ? kCompleted : kBanner));
                }
                EXPECT_TRUE(WaitForClientHeight(program.window, 90)) << "record 1's image is not shown";
                driver::Close(program.window);
                EXPECT_EQ(driver::WaitForExit(program, 20000), 0);
            }
            StoreState state = ReadStore();
            ExpectSound(state, "after the wait");
            bool saving = c.what == Waiting::SaveImage || c.what == Waiting::ExitSave;
            if (saving) {
                EXPECT_GT(state.data.size(), data.size()) << "the image was not saved again";
                EXPECT_EQ(ImageOf(state, 1), earlier_[1]);
            }
        }
        EXPECT_FALSE(driver::WaitForMessageBox(program, 0).window);
        command.reset();
        driver::Release(program);
        writing.Release();
        ASSERT_TRUE(writing.Take(kStoreLockOffset, true, true)) << "the store stayed locked";
    }
}
}  // namespace
}  // namespace sharedstore
