// The store's operations work on whatever directory and record the host hands them, and
// reach the user only through the host: the shell's own store path, record and window
// stay untouched.
#include "store/compaction.h"
#include "store/store.h"
#include "store_support.h"

namespace {
class StoreHostTest : public StoreDirectory {
protected:
    void SetUp() override
    {
        StoreDirectory::SetUp();
        other = directory + "other\\";
        ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr));
        SetWindowTextA(window, "untouched");
    }
    bool OtherHas(const char* name) const { return GetFileAttributesA((other + name).c_str()) != INVALID_FILE_ATTRIBUTES; }
    bool ShellUntouched()
    {
        char title[64] = "";
        GetWindowTextA(window, title, sizeof title);
        return !Exists("pagorex.idx") && !Exists("pagorex.dat") && std::string(title) == "untouched";
    }
    std::string other;
};

TEST_F(StoreHostTest, SaveLoadMarkAndCompactionWorkInTheHostsDirectoryForItsRecord)
{
    RecordingHost host(other, 7);
    Bytes image = BitmapFile(PackedDib(400, 300, 3));  // over one block: progress is shown
    ASSERT_TRUE(SaveImageFile(host, image));
    EXPECT_TRUE(OtherHas("pagorex.idx") && OtherHas("pagorex.dat"));
    ASSERT_FALSE(host.titles.empty());
    EXPECT_EQ(host.titles[0].rfind("Please wait, compressing database...", 0), 0u) << host.titles[0];
    EXPECT_GT(host.keptAlive, 0);

    LoadRecordImage(host);
    ASSERT_TRUE(host.shown.has_value());
    EXPECT_EQ(*host.shown, image);
    EXPECT_FALSE(OtherHas("pagorex.tmp")) << "the image file is the store's own";

    // Another record of the same store has nothing to show: the host is not called.
    RecordingHost stranger(other, 8);
    LoadRecordImage(stranger);
    EXPECT_FALSE(stranger.shown.has_value());

    ASSERT_TRUE(SaveNoImage(host));
    host.shown.reset();
    LoadRecordImage(host);
    EXPECT_FALSE(host.shown.has_value());

    ASSERT_TRUE(CompactStore(host, 1));
    EXPECT_EQ(host.titles.back(), "Completed compressing");
    RecoverFromNewData(host);
    EXPECT_EQ(host.messages.back(), ": All done..");
    EXPECT_TRUE(ShellUntouched());
}

TEST_F(StoreHostTest, WithoutADirectoryNothingIsWrittenAnywhereAndTheUserIsTold)
{
    RecordingHost host(other, 7);
    host.usable = false;
    EXPECT_FALSE(SaveImageFile(host, BitmapFile(PackedDib(5, 5, 1))));
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0], "pagorex.idx: Can't open/create");
    EXPECT_EQ(host.messages[1].rfind("(program): The image was not stored", 0), 0u) << host.messages[1];
    EXPECT_FALSE(OtherHas("pagorex.idx") || OtherHas("pagorex.dat"));
    EXPECT_EQ(GetFileAttributesA("pagorex.idx"), INVALID_FILE_ATTRIBUTES) << "nothing in the current directory";
    EXPECT_TRUE(ShellUntouched());
}
}  // namespace
