// pagorex-store on a store the program itself wrote, while the program runs, and the
// read-only sharing that lets it look without getting in the program's way.
#include "support/driver.h"
#include "support/store_hold.h"
#include "tool_test.h"
#include "tools/pagorex-store/platform.h"

#include <windows.h>

namespace {
using storefiles::Bytes;

uint32_t Stripes(int x, int y)
{
    return RGB((x * 9) & 0xFF, (y * 5) & 0xFF, ((x + y) * 3) & 0xFF);
}

class ProgramStore : public ToolTest {
protected:
    void TearDown() override
    {
        driver::Release(program_);
        ToolTest::TearDown();
    }
    void Start(int record)
    {
        ASSERT_TRUE(driver::Start(program_, driver::BinDirectory() + "pagorex.exe",
                                  std::to_string(record) + " " + Path("CALLS.DB"), Dir()));
        ASSERT_TRUE(driver::WaitForMainWindow(program_));
    }
    void OpenFile(const std::string& path)
    {
        driver::PendingCommand open(program_.window, 114);
        driver::MessageBoxInfo dialog = driver::WaitForMessageBox(program_);
        ASSERT_TRUE(dialog.window) << "no Open dialog";
        ASSERT_TRUE(driver::AnswerFileDialog(dialog.window, path));
        ASSERT_TRUE(open.Wait(20000));
    }
    driver::Program program_;
};

TEST_F(ProgramStore, WhatTheProgramSavedIsSoundAndComesBackByteForByte)
{
    Bytes first = storefiles::Bitmap24(64, 48, Stripes), second = storefiles::Bitmap24(20, 90, Stripes);
    Write("first.bmp", first);
    Write("second.bmp", second);
    Start(3);
    OpenFile(Path("first.bmp"));
    ASSERT_TRUE(driver::Command(program_.window, 115, 60000));
    OpenFile(Path("second.bmp"));
    ASSERT_TRUE(driver::Command(program_.window, 115, 60000));

    // The program is still open on its store.
    ToolRun verify = RunTool({"verify", Dir()});
    EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
    ToolRun list = RunTool({"list", Dir()});
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = list.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(list.out.substr(at, end - at));
    ASSERT_EQ(lines.size(), 2u) << list.out;
    EXPECT_NE(lines[1].find("live      pagorex.dat"), std::string::npos) << lines[1];
    ToolRun stats = RunTool({"stats", Dir(), "--json"});
    // The first save's blob is stale now: a forced compaction would drop it.
    EXPECT_NE(stats.out.find("\"records\":1,\"live\":1"), std::string::npos) << stats.out;
    EXPECT_EQ(stats.out.find("\"staleBytes\":0,"), std::string::npos) << stats.out;
    ToolRun exported = RunTool({"export", Dir(), "3", Path("out.bmp")});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(Read("out.bmp"), second);

    // A forced compaction (a second command 119) leaves nothing stale, and all is still sound.
    ASSERT_TRUE(driver::Command(program_.window, 119, 60000));
    stats = RunTool({"stats", Dir(), "--json"});
    EXPECT_NE(stats.out.find("\"staleBytes\":0,"), std::string::npos) << stats.out;
    EXPECT_EQ(RunTool({"verify", Dir()}).exitCode, 0);
    driver::Close(program_.window);
    EXPECT_EQ(driver::WaitForExit(program_), 0);
}

TEST_F(ProgramStore, TheToolReadsFilesTheProgramHoldsOpenAndLetsItWriteAndDeleteThem)
{
    storefiles::StoreLayout store;
    store.Add(1, storefiles::Bitmap24(5, 5, Stripes));
    Write("pagorex.idx", store.index);
    Write("pagorex.dat", store.data);

    // The program opens its files for reading and writing, sharing them with everyone.
    HFILE index = _lopen(Path("pagorex.idx").c_str(), OF_READWRITE | OF_SHARE_DENY_NONE);
    ASSERT_NE(index, HFILE_ERROR);
    ToolRun run = RunTool({"list", Dir()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    _lclose(index);

    // While the tool holds the data file, the program can still open it, append to it and
    // delete it (Windows refuses to rename another file over an open one whatever the
    // sharing: a compaction ending just then says so and keeps every image).
    std::unique_ptr<platform::ReadOnlyFile> data;
    std::string error;
    ASSERT_EQ(platform::OpenReadOnly(Path("pagorex.dat"), data, error), platform::OpenResult::Opened) << error;
    HFILE writer = _lopen(Path("pagorex.dat").c_str(), OF_READWRITE | OF_SHARE_DENY_NONE);
    EXPECT_NE(writer, HFILE_ERROR);
    _llseek(writer, 0, FILE_END);
    EXPECT_EQ(_lwrite(writer, "xyz", 3), 3u);
    _lclose(writer);
    EXPECT_EQ(data->Size(), store.data.size() + 3);
    EXPECT_TRUE(DeleteFileA(Path("pagorex.dat").c_str())) << GetLastError();
    uint8_t head[2] = {};
    EXPECT_EQ(data->ReadAt(0, head, 2), 2);
    EXPECT_EQ(head[0], 0x1F) << "the file it opened stays readable";
}

TEST_F(ProgramStore, TheToolReadsUnderTheStoresLockAndSaysWhatItWaitsFor)
{
    storefiles::StoreLayout store;
    store.Add(1, storefiles::Bitmap24(5, 5, Stripes));
    Write("pagorex.idx", store.index);
    Write("pagorex.dat", store.data);
    const struct {
        const char* what;
        bool exclusive;  // how another program holds the store byte
        std::vector<std::string> options;
        int exitCode;
        const char* told;  // on stderr
    } cases[] = {
        {"a save in progress is waited for, then given up", true, {"--wait", "1"}, 2,
         "gave up after 1 s: a program is still writing the store"},
        {"without the lock the store is read as it is", true, {"--no-lock"}, 0, ""},
        {"another reader does not hold the tool up", false, {"--wait", "0"}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StoreHold other(Path("pagorex.idx"));
        ASSERT_TRUE(other.Take(kStoreLockOffset, c.exclusive));
        std::vector<std::string> args = {"verify", Dir()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ToolRun run = RunTool(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
    }
}
}  // namespace
