// Compaction and repair on a failing disk: a full disk, a new data file that cannot be
// created, a rename or a flush that fails. The store that was there must stay whole.
#include "compact_support.h"

#include "store/compaction.h"
#include "store/interrupted_compaction.h"
#include "store/store_files.h"

namespace {
struct Fault {
    const char* what;
    StoreFault fault;
    const char* file;
    int nth;
    int times;         // how many operations fail from the nth on
    const char* told;  // part of the message the user gets
    bool restored;     // every moved record could be put back
};

constexpr int kDiskStaysFull = 1 << 30;
constexpr char kKeepNew[] = "keep that file";

std::vector<Entry> Entries()
{
    std::vector<Entry> entries;
    for (int i = 0; i < 6; ++i)
        entries.push_back({i + 1, Pattern(1500 + 400 * i, static_cast<uint8_t>(i)), i % 2 == 0, 0,
                           i == 3 ? size_t{200} : size_t{0}});
    return entries;
}

TEST_F(CompactTest, AFailingDiskLeavesTheStoreAsItWas)
{
    const Fault faults[] = {
        {"new data file cannot be created", StoreFault::FailCreate, "pagorex.new", 1, 1, "could not be created", true},
        {"disk full at the first append", StoreFault::ShortWrite, "pagorex.new", 1, kDiskStaysFull, "disk full?\n\n", true},
        {"disk full in the middle", StoreFault::ShortWrite, "pagorex.new", 4, kDiskStaysFull, "disk full?\n\n", true},
        {"disk full near the end", StoreFault::FailWrite, "pagorex.new", 9, kDiskStaysFull, "disk full?\n\n", true},
        {"one compressed block not written", StoreFault::FailWrite, "pagorex.new", 2, 1, "disk full?\n\n", true},
        {"a compressed blob's header falls short", StoreFault::ShortWrite, "pagorex.new", 5, 1, "disk full?\n\n", true},
        {"blobs not flushed", StoreFault::FailFlush, "pagorex.new", 1, kDiskStaysFull, "disk full?\n\n", true},
        {"one index record not written", StoreFault::FailWrite, "pagorex.idx", 3, 1, "index file", true},
        {"index not flushed once", StoreFault::FailFlush, "pagorex.idx", 1, 1, "index file", true},
        {"rename fails", StoreFault::FailReplace, "pagorex.new", 1, 1, "could not be replaced", true},
        // The index cannot be written back either: the records already moved keep
        // pointing into the new data file, which is kept, and still load.
        {"index stays unwritable", StoreFault::FailWrite, "pagorex.idx", 3, kDiskStaysFull, kKeepNew, false},
        {"index stays unflushable", StoreFault::FailFlush, "pagorex.idx", 1, kDiskStaysFull, kKeepNew, false},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        DeleteFileA(Path("pagorex.new").c_str());
        LaidOut store = Store(Entries());
        SetWindowTextA(window, "before");
        SetStoreFault(f.fault, f.file, f.nth, f.times);
        boxes::BoxWatcher boxes;
        CompactStore(Shell(), 1);
        ClearStoreFault();
        ASSERT_EQ(boxes.Seen().size(), 1u);
        EXPECT_EQ(boxes.Seen()[0].caption, "Vocalix Imager");
        EXPECT_NE(boxes.Seen()[0].text.find(f.told), std::string::npos) << boxes.Seen()[0].text;
        EXPECT_NE(Title(), "Completed compressing");
        EXPECT_EQ(Read("pagorex.dat"), store.data);
        if (f.restored) {
            EXPECT_EQ(Read("pagorex.idx"), store.index);
            ExpectSettled(store.images);
        } else {
            ExpectEveryImage(store.images);
        }
        // Once the disk is fine again, the compaction goes through.
        CompactStore(Shell(), 1);
        EXPECT_EQ(Title(), "Completed compressing");
        ExpectSettled(store.images);
    }
}

bool StopAfterThird(StoreStep step, uint32_t record)
{
    return step == StoreStep::CompactionRecordMoved && record == 2;
}

TEST_F(CompactTest, AFailureAfterAStoppedRunKeepsTheEarlierRunsRecords)
{
    LaidOut store = Store(Entries());
    SetStoreStopHook(StopAfterThird);
    CompactStore(Shell(), 1);
    SetStoreStopHook(nullptr);
    SetStoreFault(StoreFault::ShortWrite, "pagorex.new", 2);
    {
        boxes::BoxWatcher boxes;
        CompactStore(Shell(), 1);
        ASSERT_EQ(boxes.Seen().size(), 1u);
    }
    ClearStoreFault();
    // The three records moved before still point into the new data file, which stays.
    EXPECT_TRUE(Exists("pagorex.new"));
    ExpectEveryImage(store.images);
    CompactStore(Shell(), 1);
    ExpectSettled(store.images);
}

bool StopAfterFourth(StoreStep step, uint32_t record)
{
    return step == StoreStep::CompactionRecordMoved && record == 3;
}

TEST_F(CompactTest, ARepairOnAFullDiskKeepsTheNewDataFileUntilItCanFinish)
{
    LaidOut store = Store(Entries());
    SetStoreStopHook(StopAfterFourth);
    CompactStore(Shell(), 1);
    SetStoreStopHook(nullptr);
    for (int nth : {1, 3}) {
        SCOPED_TRACE(nth);
        SetStoreFault(StoreFault::ShortWrite, "pagorex.dat", nth);
        boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
        RecoverFromNewData(Shell());
        ClearStoreFault();
        std::vector<boxes::SeenBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_EQ(seen[2].caption, "Sorry");
        EXPECT_NE(seen[2].text.find("is the disk full?"), std::string::npos);
        EXPECT_EQ(seen[3].text, "All done..");
        EXPECT_TRUE(Exists("pagorex.new"));
        ExpectEveryImage(store.images);
    }
    boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
    RecoverFromNewData(Shell());
    ExpectSettled(store.images);
}
}  // namespace

namespace {
uint32_t stopRollBackAt = 0;
bool StopInsideRollBack(StoreStep step, uint32_t record)
{
    return step == StoreStep::CompactionRolledBack && record == stopRollBackAt;
}

TEST_F(CompactTest, AKillWhileAFailedCompactionPutsRecordsBackLosesNothing)
{
    // The sixth blob cannot be flushed; records 4 down to 0 are being put back when the
    // program is killed.
    for (uint32_t record = 0; record < 5; ++record) {
        SCOPED_TRACE(record);
        DeleteFileA(Path("pagorex.new").c_str());
        LaidOut store = Store(Entries());
        SetStoreFault(StoreFault::FailFlush, "pagorex.new", 6, 1);  // one flush per blob
        stopRollBackAt = record;
        SetStoreStopHook(StopInsideRollBack);
        {
            boxes::BoxWatcher boxes;
            CompactStore(Shell(), 1);
            EXPECT_TRUE(boxes.Seen().empty()) << "killed before telling";
        }
        SetStoreStopHook(nullptr);
        ClearStoreFault();
        ExpectEveryImage(store.images);
        if (record % 2) {
            CompactStore(Shell(), 1);
        } else {
            boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
            RecoverFromNewData(Shell());
        }
        ExpectSettled(store.images);
    }
}
}  // namespace

namespace {
TEST_F(CompactTest, DamagedRecordsDoNotStopItAndAreNamedKeepingWhatTheyHad)
{
    LaidOut store = Store(Entries());
    std::vector<IndexRecord> records = store.records;
    records[1].dataOffset = 0x80000010u;                               // compressed, at 2 GB and beyond
    records[4].dataOffset = static_cast<uint32_t>(store.data.size());  // plain, wholly past the end
    Bytes data = store.data;
    data.resize(records[5].dataOffset + records[5].storedLength - 9);  // the last blob, compressed, cut short
    Write("pagorex.idx", Concat({RecordBytes(records[0]), RecordBytes(records[1]), RecordBytes(records[2]),
                                 RecordBytes(records[3]), RecordBytes(records[4]), RecordBytes(records[5])}));
    Write("pagorex.dat", data);
    boxes::BoxWatcher boxes;
    CompactStore(Shell(), 1);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_NE(boxes.Seen()[0].text.find("already damaged (their bytes lie past the end of pagorex.dat) and are kept "
                                        "as far as they were there: 2, 5, 6.\n"),
              std::string::npos)
        << boxes.Seen()[0].text;
    EXPECT_EQ(Title(), "Completed compressing");
    EXPECT_FALSE(Exists("pagorex.new"));
    std::vector<IndexRecord> after = Records();
    Bytes compacted = Read("pagorex.dat");
    EXPECT_LT(compacted.size(), data.size()) << "the stale blob was dropped";
    for (size_t i : {0, 2, 3})
        EXPECT_EQ(ImageFrom(after[i], compacted), store.images[i]) << i;
    EXPECT_EQ(after[1].storedLength, 0u);
    EXPECT_EQ(after[1].imageLength, records[1].imageLength);
    EXPECT_EQ(after[4].imageLength, 0u);
    EXPECT_EQ(Bytes(compacted.begin() + after[5].dataOffset, compacted.end()),
              Bytes(data.begin() + records[5].dataOffset, data.end()))
        << "the bytes the cut blob still had, unchanged";
}
}  // namespace
