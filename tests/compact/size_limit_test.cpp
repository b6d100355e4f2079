// Store files just under their 2 GB limit (sparse files, so the test writes next to
// nothing): a save, a compaction or a repair that would carry a file past it is refused,
// says so, and changes nothing in the store.
#include "compact_support.h"

#include "store/compaction.h"
#include "store/store.h"

namespace {
constexpr uint32_t kLimit = 0x7FFFFFFF;  // the last position a signed 32-bit offset reaches

class SizeLimitTest : public CompactTest {
protected:
    // Writes head at the start of the file and makes it size bytes long, the rest a hole.
    void WriteSparse(const char* name, const Bytes& head, uint32_t size)
    {
        Write(name, head);
        HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_NE(SetFilePointer(file, static_cast<LONG>(size), nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
        ASSERT_TRUE(SetEndOfFile(file));
        CloseHandle(file);
    }
    uint32_t Size(const char* name) const
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        EXPECT_TRUE(GetFileAttributesExA(Path(name).c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(data.nFileSizeHigh, 0u);
        return data.nFileSizeLow;
    }
    Bytes ReadRange(const char* name, uint32_t offset, uint32_t length) const
    {
        Bytes bytes(length);
        HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD read = 0;
        SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
        ReadFile(file, bytes.data(), length, &read, nullptr);
        CloseHandle(file);
        bytes.resize(read);
        return bytes;
    }
    Bytes ImageAt(const char* name, const IndexRecord& r) const
    {
        Bytes blob = ReadRange(name, r.dataOffset, r.storedLength);
        IndexRecord at0 = r;
        at0.dataOffset = 0;
        return ImageFrom(at0, blob);
    }
    void TearDown() override
    {
        // Nobody should meet two sparse gigabytes in the temp directory.
        for (const char* name : {"pagorex.dat", "pagorex.new"})
            DeleteFileA(Path(name).c_str());
        CompactTest::TearDown();
    }
    static bool ToldOfTheLimit(const std::vector<boxes::SeenBox>& seen)
    {
        for (const boxes::SeenBox& box : seen)
            if (box.text.find("size limit of 2 GB") != std::string::npos)
                return true;
        return false;
    }
};

TEST_F(SizeLimitTest, ASaveThatWouldPassTheLimitIsRefusedAndOneThatFitsIsStored)
{
    Bytes old = Pattern(3000, 1), image = Pattern(6000, 2);
    Bytes member = Gzip(old);
    IndexRecord record = MakeRecord(1, 0, static_cast<uint32_t>(member.size()), 1, static_cast<uint32_t>(old.size()));
    Write("pagorex.idx", RecordBytes(record));
    const struct {
        const char* name;
        uint32_t size;
        bool fits;
    } cases[] = {{"100 bytes left", kLimit - 100, false}, {"1 MB left", kLimit - (1u << 20), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write("pagorex.idx", RecordBytes(record));
        WriteSparse("pagorex.dat", member, c.size);
        bool stored = false;
        std::vector<boxes::SeenBox> seen = boxes::BoxesShownBy([&] { stored = SaveImageFile(Shell(), image); });
        EXPECT_EQ(stored, c.fits);
        ASSERT_EQ(Records().size(), 1u);
        if (c.fits) {
            EXPECT_TRUE(seen.empty());
            EXPECT_EQ(uint32_t{Records()[0].dataOffset}, c.size);
            EXPECT_EQ(ImageAt("pagorex.dat", Records()[0]), image);
            continue;
        }
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_TRUE(ToldOfTheLimit(seen)) << seen[0].text;
        EXPECT_NE(seen[0].text.find("compaction"), std::string::npos) << seen[0].text;
        EXPECT_EQ(seen[0].text.find("disk full"), std::string::npos) << seen[0].text;
        EXPECT_EQ(Read("pagorex.idx"), RecordBytes(record));
        EXPECT_EQ(Size("pagorex.dat"), c.size);
        EXPECT_EQ(ImageAt("pagorex.dat", Records()[0]), old);
        EXPECT_FALSE(Exists("pagorex.new"));
    }
}

TEST_F(SizeLimitTest, ACompactionThatWouldCarryTheNewDataFilePastTheLimitStopsWithEverythingInPlace)
{
    // A stopped compaction moved record 0, a blob of nearly 2 GB; record 1 is still plain
    // in the data file.
    uint32_t moved = kLimit - 1000;
    Bytes plain = Pattern(5000, 3);
    IndexRecord first = MakeRecord(1, 0, moved, 1, 77), second = MakeRecord(2, 0, 5000, 0, 0);
    Bytes index = Concat({RecordBytes(first), RecordBytes(second)});
    Write("pagorex.idx", index);
    Write("pagorex.dat", plain);
    WriteSparse("pagorex.new", Bytes{0x1F, 0x8B, 8}, moved);
    std::vector<boxes::SeenBox> seen = boxes::BoxesShownBy([&] { CompactStore(Shell(), 1); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(ToldOfTheLimit(seen)) << seen[0].text;
    EXPECT_NE(Title(), "Completed compressing");
    EXPECT_EQ(Read("pagorex.idx"), index);
    EXPECT_EQ(Read("pagorex.dat"), plain);
    EXPECT_EQ(Size("pagorex.new"), moved);
}

TEST_F(SizeLimitTest, ARepairThatWouldCarryTheDataFilePastTheLimitKeepsEverythingInPlace)
{
    // Records 0 and 1 were moved into pagorex.new; the data file is nearly 2 GB.
    Bytes a = Gzip(Pattern(4000, 4)), b = Gzip(Pattern(3000, 5)), c = Gzip(Pattern(500, 6));
    IndexRecord r0 = MakeRecord(1, 0, static_cast<uint32_t>(a.size()), 1, 4000),
                r1 = MakeRecord(2, static_cast<uint32_t>(a.size()), static_cast<uint32_t>(b.size()), 1, 3000),
                r2 = MakeRecord(3, 0, static_cast<uint32_t>(c.size()), 1, 500);
    Bytes index = Concat({RecordBytes(r0), RecordBytes(r1), RecordBytes(r2)});
    Write("pagorex.idx", index);
    WriteSparse("pagorex.dat", c, kLimit - 1000);
    Write("pagorex.new", Concat({a, b}));
    boxes::BoxWatcher watcher(std::vector<int>{IDYES, IDYES});
    RecoverFromNewData(Shell());
    std::vector<boxes::SeenBox> seen = watcher.Seen();
    EXPECT_TRUE(ToldOfTheLimit(seen));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().text, "All done..");
    EXPECT_EQ(Read("pagorex.idx"), index);
    EXPECT_EQ(Size("pagorex.dat"), kLimit - 1000);
    EXPECT_EQ(Read("pagorex.new"), Concat({a, b}));
}
}  // namespace
