// The store's lock across the boundary between Windows programs under Wine and programs
// of the system underneath (a file server's own tools, say): the Linux build of
// pagorex-store, started from here as the system's program, and this program's own
// store operations. Wine carries a byte-range lock over to a POSIX record lock only
// through a handle open for writing; either side must wait for the other.
#include "store/store.h"
#include "store/store_lock.h"
#include "store_support.h"
#include "support/driver.h"
#include "support/store_files.h"
#include "support/store_hold.h"

#include <fstream>
#include <sstream>

namespace {
bool WaitFor(const std::function<bool()>& done)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(20))
        if (GetTickCount() - start > 30000)
            return false;
    return true;
}

class CrossBoundary : public StoreDirectory {
protected:
    void SetUp() override
    {
        StoreDirectory::SetUp();
        run_ = directory + "run\\";
        ASSERT_TRUE(CreateDirectoryA(run_.c_str(), nullptr));
        ASSERT_FALSE(driver::UnixPath(directory).empty()) << "not under Wine";
        storefiles::StoreLayout store;
        // Enough records that the tool's listing fills a pipe nobody reads yet.
        for (int32_t number = 1; number <= 3000; ++number)
            store.Add(number, storefiles::Bitmap24(4, 4, [](int x, int y) { return uint32_t(x * 40 + y); }));
        Write("pagorex.idx", store.index);
        Write("pagorex.dat", store.data);
    }
    // Runs the script body with the system's shell (TOOL: the native tool, STORE: the store
    // directory, RUN: a scratch one); a program of the system has no Windows process to
    // wait on, so its exit code goes to RUN/rc.
    void StartScript(const std::string& body)
    {
        std::ofstream(run_ + "script.sh", std::ios::binary)
            << "TOOL='" PAGOREX_NATIVE_TOOL "'\nSTORE='" << driver::UnixPath(directory) << "'\nRUN='"
            << driver::UnixPath(run_) << "'\n"
            << body << "\necho $? > \"$RUN/rc.part\"; mv \"$RUN/rc.part\" \"$RUN/rc\"\n";
        std::string line = "Z:\\bin\\sh \"" + driver::UnixPath(run_) + "script.sh\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA("Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
    }
    // What the script wrote to RUN/name, once it has ended.
    std::string Text(const std::string& name) const
    {
        WaitFor([this] { return GetFileAttributesA((run_ + "rc").c_str()) != INVALID_FILE_ATTRIBUTES; });
        std::stringstream text;
        text << std::ifstream(run_ + name, std::ios::binary).rdbuf();
        return text.str();
    }

    std::string run_;
};

TEST_F(CrossBoundary, TheToolWaitsForThisProgramsWriterAndItsSaveWaitsForTheTool)
{
    {
        SCOPED_TRACE("this program writes: the tool waits, and gives up");
        RecordingHost host(directory, 1);
        StoreLock writing(host, Files(), StoreAccess::Write);
        ASSERT_TRUE(writing.held());
        StartScript("\"$TOOL\" verify \"$STORE\" --wait 1 2> \"$RUN/err\" > /dev/null");
        EXPECT_EQ(Text("rc"), "2\n");
        EXPECT_NE(Text("err").find("gave up after 1 s"), std::string::npos) << Text("err");
    }
    DeleteFileA((run_ + "rc").c_str());
    SCOPED_TRACE("the tool reads: a save waits for it");
    // The listing holds the store until its reader, held back by the gate, takes it in.
    StartScript("{ \"$TOOL\" list \"$STORE\"; echo $? > \"$RUN/listed\"; } | "
                "{ i=0; while [ ! -e \"$RUN/gate\" ] && [ $i -lt 1000 ]; do sleep 0.02; i=$((i+1)); done; "
                "cat > /dev/null; }\n(exit $(cat \"$RUN/listed\"))");
    ASSERT_TRUE(WaitFor([this] { return !StoreHold(Path("pagorex.idx")).Take(kStoreLockOffset, true, true); }))
        << "the tool never held the store";
    RecordingHost host(directory, 1);
    host.onWait = [&](int waits) {
        if (waits == 1)
            std::ofstream(run_ + "gate");
        return waits < 600 && host.StoreHost::WaitForStore();
    };
    EXPECT_TRUE(SaveImageFile(host, storefiles::Bitmap24(8, 8, [](int x, int) { return uint32_t(x); })));
    EXPECT_GT(host.waits, 0) << "the save did not wait for the tool";
    EXPECT_EQ(Text("rc"), "0\n");
}
}  // namespace
