// The compaction command: when it runs, what it tells, and what the store holds after it.
#include "compact_support.h"

#include "app/shell.h"
#include "app/store_commands.h"
#include "store/compaction.h"
#include "store/interrupted_compaction.h"
#include "store/store.h"
#include "store/core/parallel_gzip.h"
#include "store/store_copy.h"
#include "support/store_files.h"

#include <cstring>

namespace {
constexpr char kWarning[] =
    "Databases need to be compressed, this WILL take a great deal of time, please be patient while it completes";

Bytes Image(size_t size, uint8_t seed)
{
    return BitmapFile(PackedDib(static_cast<int>(size), 7, seed));
}

// After a compaction every blob is a gzip member, back to back in index order from 0.
void ExpectCompacted(const std::vector<IndexRecord>& records, const Bytes& data)
{
    uint32_t offset = 0;
    for (const IndexRecord& record : records) {
        EXPECT_EQ(record.compressed, 1);
        EXPECT_EQ(record.dataOffset, offset);
        offset += record.storedLength;
    }
    EXPECT_EQ(offset, data.size());
}

TEST_F(CompactTest, PlainBlobsOfEverySizeBecomeWholeMembersAcrossBatches)
{
    // Plain blobs of no bytes, of less than a block, on and around block boundaries and of
    // several blocks, between compressed ones; more records than one batch repoints; the
    // last plain blob ends early in the data file.
    const size_t sizes[] = {0, 1, pgz::kBlockSize - 1, pgz::kBlockSize, pgz::kBlockSize + 1, 3 * pgz::kBlockSize + 5};
    std::vector<Entry> entries;
    for (int i = 0; i < 300; ++i) {
        size_t size = i < 6 ? sizes[i] : 100 + static_cast<size_t>(i) * 3;
        Bytes image = i % 2 ? Pattern(size, static_cast<uint8_t>(i)) : Bytes(size, static_cast<uint8_t>(i));
        entries.push_back({i + 1, image, i % 7 != 3, 0, i % 50 == 9 ? size_t{700} : size_t{0}});
    }
    LaidOut store = Store(entries);
    const size_t cut = 40;
    store.data.resize(store.data.size() - cut);
    Write("pagorex.dat", store.data);
    store.images.back().resize(store.images.back().size() - cut);

    std::vector<boxes::SeenBox> seen = boxes::BoxesShownBy([this] { CompactStore(Shell(), 1); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].text.find("kept as far as they were there: 300."), std::string::npos) << seen[0].text;
    EXPECT_EQ(Title(), "Completed compressing");
    std::vector<IndexRecord> records = Records();
    Bytes data = Read("pagorex.dat");
    ExpectCompacted(records, data);
    ExpectSettled(store.images);
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        Bytes blob(data.begin() + records[i].dataOffset,
                   data.begin() + records[i].dataOffset + records[i].storedLength);
        bool whole = false;
        EXPECT_EQ(storefiles::Gunzip(blob, &whole), store.images[i]);
        EXPECT_TRUE(whole) << "not one whole member";
        if (entries[i].plain) {
            EXPECT_EQ(records[i].imageLength, store.images[i].size()) << "what was stored of it";
        }
    }
}

TEST_F(CompactTest, PlainStoreIsCompactedAtStartUpAfterTheWarning)
{
    LaidOut store = Store({{5, Image(40, 1), true}, {6, Image(90, 2), true}, {7, Image(30, 3), false}});
    forceCompaction = 0;
    boxes::BoxWatcher boxes;
    CompactCommand(window);

    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].caption, "Vocalix Imager");
    EXPECT_EQ(boxes.Seen()[0].text, kWarning);
    EXPECT_EQ(Title(), "Completed compressing");
    EXPECT_EQ(forceCompaction, 1);
    std::vector<IndexRecord> after = Records();
    ExpectCompacted(after, Read("pagorex.dat"));
    for (size_t i = 0; i < after.size(); ++i) {
        SCOPED_TRACE(i);
        // Plain images were compressed and now know their length; the rest of the record
        // is carried over.
        EXPECT_EQ(after[i].imageLength, store.images[i].size());
        EXPECT_EQ(after[i].recordNumber, store.records[i].recordNumber);
        EXPECT_EQ(0, std::memcmp(after[i].reserved, store.records[i].reserved, sizeof after[i].reserved));
    }
    // The compressed blob was copied as it was, not recompressed.
    Bytes data = Read("pagorex.dat");
    EXPECT_EQ(Bytes(data.begin() + after[2].dataOffset, data.end()), Gzip(store.images[2]));
    ExpectSettled(store.images);
    EXPECT_FALSE(Exists("pagorex.tmp"));
}

TEST_F(CompactTest, CompressedFirstRecordWaitsForAForcedCompaction)
{
    LaidOut store = Store({{1, Image(20, 1), false}, {2, Image(60, 2), true}});
    SetWindowTextA(window, "untouched");
    forceCompaction = 0;
    {
        boxes::BoxWatcher boxes;
        CompactCommand(window);
        EXPECT_TRUE(boxes.Seen().empty());
    }
    EXPECT_EQ(Title(), "untouched");
    EXPECT_EQ(Read("pagorex.idx"), store.index);
    EXPECT_EQ(Read("pagorex.dat"), store.data);
    EXPECT_EQ(forceCompaction, 1);

    boxes::BoxWatcher boxes;
    CompactCommand(window);
    EXPECT_TRUE(boxes.Seen().empty()) << "a forced compaction does not warn";
    EXPECT_EQ(Records()[1].compressed, 1);
    EXPECT_EQ(Records()[1].imageLength, store.images[1].size());
    ExpectCompacted(Records(), Read("pagorex.dat"));
    ExpectSettled(store.images);
}

std::vector<std::string> titlesSeen;
bool NoteTitle(StoreStep step, uint32_t)
{
    if (step == StoreStep::CompactionRecordRead)
        titlesSeen.push_back([] {
            char text[128] = "";
            GetWindowTextA(mainWindow, text, sizeof text);
            return std::string(text);
        }());
    return false;
}

TEST_F(CompactTest, CountsWholeRecordsAndLeavesATrailingFragmentAlone)
{
    LaidOut store = Store({{1, Image(10, 1), true}, {2, Image(11, 2), true}, {3, Image(12, 3), true}});
    Bytes fragment = Pattern(100, 9);
    Write("pagorex.idx", Concat({store.index, fragment}));
    titlesSeen.clear();
    SetStoreStopHook(NoteTitle);
    CompactStore(Shell(), 1);
    EXPECT_EQ(titlesSeen, (std::vector<std::string>{"Please wait, compressing 1 of 3",
                                                    "Please wait, compressing 2 of 3",
                                                    "Please wait, compressing 3 of 3"}));
    Bytes index = Read("pagorex.idx");
    ASSERT_EQ(index.size(), 3 * kIndexRecordSize + 100);
    EXPECT_EQ(Bytes(index.end() - 100, index.end()), fragment);
    ExpectSettled(store.images);
}

TEST_F(CompactTest, ForcedCompactionOfAnEmptyIndexEmptiesTheDataFile)
{
    Write("pagorex.idx", {});
    Write("pagorex.dat", Pattern(700, 4));
    CompactStore(Shell(), 1);
    EXPECT_TRUE(Exists("pagorex.dat"));
    EXPECT_TRUE(Read("pagorex.dat").empty());
    EXPECT_FALSE(Exists("pagorex.new"));
    EXPECT_EQ(Title(), "Completed compressing");
}

TEST_F(CompactTest, DeletedRecordsAndDuplicatesKeepTheirBlobsAndMarks)
{
    LaidOut store = Store({{4, Image(10, 1), true, 1}, {4, Image(20, 2), false}, {9, Image(30, 3), false, 7}});
    CompactStore(Shell(), 1);
    std::vector<IndexRecord> after = Records();
    EXPECT_EQ(after[0].deleted, 1);
    EXPECT_EQ(after[1].deleted, 0);
    EXPECT_EQ(after[2].deleted, 7);
    ExpectCompacted(after, Read("pagorex.dat"));
    ExpectSettled(store.images);
}

TEST_F(CompactTest, ASupersededBlobIsDropped)
{
    // Two saves of the same record: the first blob stays in the data file, unreferenced.
    Bytes first = Gzip(Image(50, 1));
    LaidOut store = Store({{3, Image(50, 2), false, 0, first.size()}});
    uint32_t before = static_cast<uint32_t>(Read("pagorex.dat").size());
    CompactStore(Shell(), 1);
    EXPECT_EQ(Read("pagorex.dat").size(), before - first.size());
    ExpectSettled(store.images);
}

TEST_F(CompactTest, WhatIsMissingDecidesHowFarItGoes)
{
    struct Case {
        const char* what;
        bool index, data;
        const char* title;
    } cases[] = {
        {"no index file: nothing at all", false, true, "untouched"},
        {"no data file: only the closing title", true, false, "Completed compressing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA(Path("pagorex.idx").c_str());
        DeleteFileA(Path("pagorex.dat").c_str());
        LaidOut store = LayOut({{1, Image(10, 1), true}});
        if (c.index)
            Write("pagorex.idx", store.index);
        if (c.data)
            Write("pagorex.dat", store.data);
        SetWindowTextA(window, "untouched");
        forceCompaction = 0;
        CompactCommand(window);
        EXPECT_EQ(Title(), c.title);
        EXPECT_EQ(forceCompaction, 1);
        EXPECT_FALSE(Exists("pagorex.new"));
        if (c.index) {
            EXPECT_EQ(Read("pagorex.idx"), store.index);
        }
    }
}

TEST_F(CompactTest, ALeftoverNewDataFileNoRecordPointsIntoIsStartedAfresh)
{
    LaidOut store = Store({{1, Image(10, 1), true}, {2, Image(12, 2), false}});
    Write("pagorex.new", Pattern(5000, 3));
    CompactStore(Shell(), 1);
    ExpectCompacted(Records(), Read("pagorex.dat"));
    ExpectSettled(store.images);
}

TEST_F(CompactTest, AnInterruptedReplacementIsCompletedBeforeAnythingElse)
{
    // An earlier program deleted the data file and stopped before renaming the new one.
    LaidOut store = LayOut({{1, Image(10, 1), false}, {2, Image(12, 2), false}});
    Write("pagorex.idx", store.index);
    Write("pagorex.new", store.data);
    CompactStore(Shell(), 0);
    EXPECT_FALSE(Exists("pagorex.new"));
    EXPECT_EQ(Read("pagorex.dat"), store.data);
    ExpectSettled(store.images);
}
}  // namespace

namespace {
TEST_F(CompactTest, NeitherCommandStartsInsideAnotherStoreOperation)
{
    LaidOut store = Store({{1, Image(10, 1), true}});
    Write("pagorex.new", Pattern(10, 1));
    forceCompaction = 0;
    {
        StoreBusyScope saving;
        boxes::BoxWatcher boxes;
        CompactCommand(window);
        RecoverCommand(window);
        EXPECT_TRUE(boxes.Seen().empty());
    }
    EXPECT_EQ(forceCompaction, 0);
    EXPECT_EQ(Read("pagorex.idx"), store.index);
    EXPECT_EQ(Read("pagorex.dat"), store.data);
    EXPECT_TRUE(Exists("pagorex.new"));
}
}  // namespace
