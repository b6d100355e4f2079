// A power cut at any moment of a store operation leaves every record loading either the
// image it had before the operation or the one the operation stored; once the operation
// has reported success, only the latter.
#include "compact_support.h"
#include "power_cut.h"

#include "store/compaction.h"
#include "store/interrupted_compaction.h"
#include "store/store.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

namespace {
// Each record's pages as a load hands them over.
using Images = std::map<int32_t, std::vector<Bytes>>;

Images LoadAll(const std::string& directory, const std::vector<int32_t>& numbers)
{
    Images images;
    for (int32_t number : numbers)
        images[number] = LoadPages(directory, number);
    return images;
}

enum class Before { Store, PlainFirst, ManyPlain, StoppedCompaction, DataFileRenamed, SavedTwiceCompacted, Documents };

std::vector<Entry> Entries(Before before)
{
    // Record 1 of a store saved again unchanged is compressed by the compaction before, as a
    // save compresses it, so that the save writes a blob of the same length.
    std::vector<Entry> entries = {{1, Pattern(3000, 1),
                                   before == Before::PlainFirst || before == Before::ManyPlain ||
                                       before == Before::Documents || before == Before::SavedTwiceCompacted},
                                  {2, Pattern(6000, 2), true, 0, 500},
                                  {3, Bytes(4000, 7)},
                                  {4, Pattern(900, 4), false, 1}};
    // More records than one page of the index holds.
    for (int32_t number = 5; before == Before::ManyPlain && number <= 17; ++number)
        entries.push_back({number, Pattern(100, static_cast<uint8_t>(number)), true});
    if (before != Before::Documents)
        return entries;
    // Record 2 a document of 3 pages, record 9 one of 5, their pages in between.
    entries[1].mark = {4, 1, 3};
    for (auto [number, page, pages] : {std::tuple{9u, 1u, 5u}, {2u, 2u, 3u}, {9u, 2u, 5u}, {2u, 3u, 3u},
                                       {9u, 3u, 5u}, {9u, 4u, 5u}, {9u, 5u, 5u}})
        entries.push_back({int32_t(number), Pattern(1500 + 300 * page, uint8_t(number * 10 + page)), page == 4, 0, 0,
                           {number == 9 ? 2u : 4u, page, pages}});
    return entries;
}

bool StopAfterTwoMoved(StoreStep step, uint32_t record)
{
    return step == StoreStep::CompactionRecordMoved && record == 1;
}

enum class Kind { Save, Mark, Compact, Recover };
struct Operation {
    const char* what;
    Before before;
    Kind kind;
    int32_t record = 1;
    unsigned char force = 1;  // of a compaction
    size_t batch = 0;         // records a compaction repoints at once (0: as shipped)
    const Bytes* image = nullptr;  // what a save stores (null: a page of its own)
    uint32_t pages = 0;            // a save of a document of so many pages
};

const Operation kOperations[] = {
    {"a save over a stored image", Before::Store, Kind::Save, 2},
    {"a save of a record the index does not hold", Before::Store, Kind::Save, 7},
    {"a delete mark", Before::Store, Kind::Mark, 3},
    {"the start-up compaction", Before::PlainFirst, Kind::Compact, 1, 0},
    {"the start-up compaction of more records than an index page holds", Before::ManyPlain, Kind::Compact, 1, 0},
    {"a forced compaction", Before::Store, Kind::Compact},
    {"a forced compaction, one record a batch, of a store whose image was saved again unchanged",
     Before::SavedTwiceCompacted, Kind::Compact, 1, 1, 1},
    {"a compaction that carries a stopped one on", Before::StoppedCompaction, Kind::Compact},
    {"recovery of a stopped compaction", Before::StoppedCompaction, Kind::Recover},
    {"a save that takes its record out of a stopped compaction", Before::StoppedCompaction, Kind::Save, 1},
    {"a save that completes a compaction stopped before its rename", Before::DataFileRenamed, Kind::Save, 3},
    {"a document of 3 pages saved as one of 5", Before::Documents, Kind::Save, 2, 1, 0, nullptr, 5},
    {"a document of 5 pages saved as one of 2", Before::Documents, Kind::Save, 9, 1, 0, nullptr, 2},
    {"a new record of 3 pages", Before::Documents, Kind::Save, 7, 1, 0, nullptr, 3},
    {"a delete mark of a document", Before::Documents, Kind::Mark, 9},
    {"the start-up compaction of a store holding documents", Before::Documents, Kind::Compact, 1, 0},
};

void RunOperation(const Operation& op, const std::string& directory)
{
    RecordingHost host(directory, op.record);
    SetCompactionBatchForTest(op.batch);
    std::vector<Bytes> pages;
    for (uint32_t page = 0; page < op.pages; ++page)
        pages.push_back(Pattern(2000 + 900 * page, static_cast<uint8_t>(40 + page)));
    if (op.kind == Kind::Save && op.pages > 0)
        SavePages(host, pages);
    else if (op.kind == Kind::Save)
        SaveImageFile(host, op.image ? *op.image : Pattern(7000, 9));
    else if (op.kind == Kind::Mark)
        SaveNoImage(host);
    else if (op.kind == Kind::Compact)
        CompactStore(host, op.force);
    else
        RecoverFromNewData(host);
    SetCompactionBatchForTest(0);
}

class PowerCutTest : public CompactTest {
protected:
    // Lays the store out; answers the record numbers to load, one the index lacks among them.
    std::vector<int32_t> Prepare(Before before)
    {
        powercut::WriteDisk(directory, {});
        std::vector<int32_t> numbers = {7};
        std::vector<Entry> entries = Entries(before);
        Store(entries);
        for (const Entry& entry : entries)
            if (std::find(numbers.begin(), numbers.end(), entry.number) == numbers.end())
                numbers.push_back(entry.number);
        if (before == Before::StoppedCompaction)
            SetStoreStopHook(StopAfterTwoMoved);
        if (before != Before::Store && before != Before::PlainFirst && before != Before::ManyPlain &&
            before != Before::Documents)
            RunOperation({"", before, Kind::Compact}, directory);
        SetStoreStopHook(nullptr);
        if (before == Before::DataFileRenamed)
            MoveFileA(Path("pagorex.dat").c_str(), Path("pagorex.new").c_str());
        if (before == Before::SavedTwiceCompacted) {
            // The same blob again at the end: the records after it lie where they will go.
            uint32_t length = Records()[0].storedLength;
            Bytes again = LoadAll(directory, {1})[1][0];
            RunOperation({"", before, Kind::Save, 1, 1, 0, &again}, directory);
            EXPECT_EQ(Records()[0].storedLength, length);
        }
        return numbers;
    }
};

TEST_F(PowerCutTest, EveryRecordLoadsItsImageFromBeforeOrAfterTheOperation)
{
    std::string scratch = directory + "cut\\";
    ASSERT_TRUE(CreateDirectoryA(scratch.c_str(), nullptr));
    powercut::Count total;
    for (const Operation& operation : kOperations) {
        SCOPED_TRACE(operation.what);
        std::vector<int32_t> numbers = Prepare(operation.before);
        Images before = LoadAll(directory, numbers);
        powercut::Disk disk = powercut::ReadDisk(directory);
        std::vector<StoreFileEvent> events;
        RecordStoreFiles(&events);
        RunOperation(operation, directory);
        RecordStoreFiles(nullptr);
        Images after = LoadAll(directory, numbers);
        ASSERT_FALSE(events.empty());
        powercut::Count count = powercut::EveryPowerCut(disk, events, 1, [&](const powercut::Disk& cut, size_t point) {
            bool finished = point == events.size();
            powercut::WriteDisk(scratch, cut);
            Images loaded = LoadAll(scratch, numbers);
            for (int32_t number : numbers) {
                if (loaded[number] == after[number] || (!finished && loaded[number] == before[number]))
                    continue;
                ADD_FAILURE() << "record " << number << " loads " << loaded[number].size() << " pages, not "
                              << before[number].size() << " (before) or " << after[number].size() << " (after)"
                              << ", cut after event " << point << " of " << events.size() << " ("
                              << events[point - 1].name << " at " << events[point - 1].offset << ")";
            }
        });
        total = {total.states + count.states, total.distinct + count.distinct};
    }
    std::printf("Power-cut states checked: %zu, %zu of them distinct\n", total.states, total.distinct);
}
}  // namespace
