// The recovery command: its two questions, its messages and what it does to a store that
// a stopped compaction left.
#include "compact_support.h"

#include "store/compaction.h"
#include "store/interrupted_compaction.h"

namespace {
constexpr char kFirstQuestion[] = "ARE YOU SURE YOU WISH TO PROCEED?\nThis should only be done ONCE, and never again touched.";
constexpr char kAllDone[] = "All done..";

uint32_t stopAfter = 0;
bool StopAfterMoving(StoreStep step, uint32_t record)
{
    return step == StoreStep::CompactionRecordMoved && record + 1 == stopAfter;
}

class RecoveryTest : public CompactTest {
protected:
    // A store of four records and two further pages of record 1's document, whose
    // compaction stopped after moving `moved` of them.
    LaidOut StoppedCompaction(uint32_t moved)
    {
        LaidOut store = Store({{1, document[0], true, 0, 0, {1, 1, 3}},
                               {2, Pattern(500, 2), false, 1},
                               {3, Bytes(4000, 7), true, 0, 300},
                               {4, Pattern(900, 4), false},
                               {1, document[1], false, 0, 0, {1, 2, 3}},
                               {1, document[2], true, 0, 0, {1, 3, 3}}});
        stopAfter = moved;
        SetStoreStopHook(StopAfterMoving);
        CompactStore(Shell(), 1);
        SetStoreStopHook(nullptr);
        EXPECT_TRUE(Exists("pagorex.new"));
        return store;
    }
    std::vector<boxes::SeenBox> Recover(std::vector<int> answers)
    {
        boxes::BoxWatcher boxes(std::move(answers));
        RecoverFromNewData(Shell());
        return boxes.Seen();
    }
    std::vector<Bytes> document = {Pattern(3000, 1), Pattern(700, 5), Pattern(800, 6)};
};

struct Row {
    const char* what;
    std::vector<int> answers;
    std::vector<std::pair<std::string, std::string>> boxes;  // caption, text
};

void ExpectBoxes(const std::vector<boxes::SeenBox>& seen, const Row& row)
{
    ASSERT_EQ(seen.size(), row.boxes.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].caption, row.boxes[i].first) << i;
        EXPECT_EQ(seen[i].text, row.boxes[i].second) << i;
    }
}

TEST_F(RecoveryTest, DeclinedOrImpossibleRepairsLeaveTheStoreAsItWas)
{
    LaidOut store = StoppedCompaction(2);
    Bytes index = Read("pagorex.idx"), data = Read("pagorex.dat"), newData = Read("pagorex.new");
    const Row rows[] = {
        {"first question answered No", {IDNO}, {{"", kFirstQuestion}, {"", kAllDone}}},
        {"second question answered No",
         {IDYES, IDNO},
         {{"", kFirstQuestion}, {"", "Are you SURE, you wish to fix 2 records?"}, {"", kAllDone}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ExpectBoxes(Recover(row.answers), row);
        EXPECT_EQ(Read("pagorex.idx"), index);
        EXPECT_EQ(Read("pagorex.dat"), data);
        EXPECT_EQ(Read("pagorex.new"), newData);
        ExpectEveryImage(store.images);
    }
}

TEST_F(RecoveryTest, MissingFilesAreToldAndNothingChanges)
{
    const Row missingIndex{"no index file", {IDYES}, {{"", kFirstQuestion}, {"", kAllDone}}};
    ExpectBoxes(Recover(missingIndex.answers), missingIndex);

    LaidOut store = Store({{1, Pattern(300, 1), false}});
    const Row missingNew{
        "no new data file", {IDYES}, {{"", kFirstQuestion}, {"Sorry", "Can't find pagorex.new"}, {"", kAllDone}}};
    ExpectBoxes(Recover(missingNew.answers), missingNew);
    EXPECT_EQ(Read("pagorex.idx"), store.index);
    EXPECT_EQ(Read("pagorex.dat"), store.data);

    Write("pagorex.new", {});
    const Row emptyNew{"empty new data file",
                       {IDYES},
                       {{"", kFirstQuestion},
                        {"", "Sorry, the temp file does not contain any records that can be recovered."},
                        {"", kAllDone}}};
    ExpectBoxes(Recover(emptyNew.answers), emptyNew);
    EXPECT_TRUE(Exists("pagorex.new")) << "the empty new data file stays";
    EXPECT_EQ(Read("pagorex.idx"), store.index);

    DeleteFileA(Path("pagorex.dat").c_str());
    DeleteFileA(Path("pagorex.new").c_str());
    const Row missingData{"no data file", {IDYES}, {{"", kFirstQuestion}, {"", kAllDone}}};
    ExpectBoxes(Recover(missingData.answers), missingData);
    EXPECT_EQ(Read("pagorex.idx"), store.index);
}

TEST_F(RecoveryTest, ConfirmedRepairMovesTheChainBackAndDeletesTheNewDataFile)
{
    LaidOut store = StoppedCompaction(3);
    ExpectDocumentKept(store, 1, document);
    std::vector<IndexRecord> mixed = Records();
    uint32_t dataSize = static_cast<uint32_t>(Read("pagorex.dat").size());
    const Row row{"both answered Yes",
                  {IDYES, IDYES},
                  {{"", kFirstQuestion}, {"", "Are you SURE, you wish to fix 3 records?"}, {"", kAllDone}}};
    ExpectBoxes(Recover(row.answers), row);
    ExpectSettled(store.images);
    std::vector<IndexRecord> after = Records();
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        // Only the offset changes, to a place beyond the old end of the data file.
        EXPECT_GE(after[i].dataOffset, dataSize);
        IndexRecord expected = mixed[i];
        expected.dataOffset = after[i].dataOffset;
        EXPECT_EQ(RecordBytes(after[i]), RecordBytes(expected));
    }
    EXPECT_EQ(after[1].deleted, 1) << "a deleted record is moved and stays marked";
    EXPECT_EQ(RecordBytes(after[3]), RecordBytes(mixed[3]));
    ExpectDocumentKept(store, 1, document);

    // A second run finds nothing to do; a forced compaction then drops the old copies.
    const Row again{"second run", {IDYES}, {{"", kFirstQuestion}, {"Sorry", "Can't find pagorex.new"}, {"", kAllDone}}};
    ExpectBoxes(Recover(again.answers), again);
    CompactStore(Shell(), 1);
    uint32_t total = 0;
    for (const IndexRecord& record : Records())
        total += record.storedLength;
    EXPECT_EQ(Read("pagorex.dat").size(), total);
    ExpectSettled(store.images);
    ExpectDocumentKept(store, 1, document);
}

TEST_F(RecoveryTest, NothingMovedYetStillDeletesTheNewDataFileWhenConfirmed)
{
    LaidOut store = Store({{1, Pattern(300, 1), true}, {2, Pattern(300, 2), false}});
    Write("pagorex.new", Pattern(100, 3));
    const Row row{"count 0",
                  {IDYES, IDYES},
                  {{"", kFirstQuestion}, {"", "Are you SURE, you wish to fix 0 records?"}, {"", kAllDone}}};
    ExpectBoxes(Recover(row.answers), row);
    EXPECT_FALSE(Exists("pagorex.new"));
    EXPECT_EQ(Read("pagorex.idx"), store.index);
    EXPECT_EQ(Read("pagorex.dat"), store.data);
}

TEST_F(RecoveryTest, OnlyTheUnbrokenChainIsCountedAndMoved)
{
    // Records 0 and 1 were moved; record 2 points beyond the new data file's size and
    // record 3 below it again; record 4 was not moved either, but its offset in the data
    // file happens to be exactly where the chain ends, with a plain blob.
    Bytes moved0 = Gzip(Pattern(200, 1)), moved1 = Gzip(Pattern(300, 2));
    Bytes newData = Concat({moved0, moved1, Pattern(50, 9)});
    Bytes blob2 = Gzip(Pattern(100, 3)), blob3 = Gzip(Pattern(120, 4));
    Bytes data = Concat({Pattern(3, 8), blob3, Pattern(5000, 5), blob2});
    std::vector<IndexRecord> records = {
        MakeRecord(1, 0, static_cast<uint32_t>(moved0.size()), 1, 200),
        MakeRecord(2, static_cast<uint32_t>(moved0.size()), static_cast<uint32_t>(moved1.size()), 1, 300),
        MakeRecord(3, static_cast<uint32_t>(data.size() - blob2.size()), static_cast<uint32_t>(blob2.size()), 1, 100),
        MakeRecord(4, 3, static_cast<uint32_t>(blob3.size()), 1, 120),
    };
    Write("pagorex.idx", Concat({RecordBytes(records[0]), RecordBytes(records[1]), RecordBytes(records[2]),
                                 RecordBytes(records[3])}));
    Write("pagorex.dat", data);
    Write("pagorex.new", newData);
    std::vector<Bytes> images = {Pattern(200, 1), Pattern(300, 2), Pattern(100, 3), Pattern(120, 4)};
    ExpectEveryImage(images);
    const Row row{"count 2",
                  {IDYES, IDYES},
                  {{"", kFirstQuestion}, {"", "Are you SURE, you wish to fix 2 records?"}, {"", kAllDone}}};
    ExpectBoxes(Recover(row.answers), row);
    EXPECT_EQ(RecordBytes(Records()[3]), RecordBytes(records[3])) << "the fourth is neither counted nor moved";
    ExpectSettled(images);
}

TEST_F(RecoveryTest, AnUnmovedRecordBelowTheSizeIsNotTakenForAMovedOne)
{
    // The fault the exact chain mends: record 1 was not moved yet, and its offset in the
    // data file lies below the new data file's size.
    Bytes moved0 = Gzip(Pattern(4000, 1));
    Bytes blob1 = Gzip(Pattern(100, 2));
    Bytes data = Concat({Pattern(10, 3), blob1, Pattern(9000, 4)});
    IndexRecord r0 = MakeRecord(1, 0, static_cast<uint32_t>(moved0.size()), 1, 4000);
    IndexRecord r1 = MakeRecord(2, 10, static_cast<uint32_t>(blob1.size()), 1, 100);
    Write("pagorex.idx", Concat({RecordBytes(r0), RecordBytes(r1)}));
    Write("pagorex.dat", data);
    Write("pagorex.new", moved0);
    ASSERT_LT(r1.dataOffset, moved0.size());
    std::vector<Bytes> images = {Pattern(4000, 1), Pattern(100, 2)};
    boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
    RecoverFromNewData(Shell());
    ASSERT_GE(boxes.Seen().size(), 2u);
    EXPECT_EQ(boxes.Seen()[1].text, "Are you SURE, you wish to fix 1 records?");
    ExpectSettled(images);
}
}  // namespace
