// A compaction or a repair stopped at every step of every record, as a kill would stop
// it: the files are left as they are at that moment. Each record must still yield its own
// image at once, and again after the store is settled by the repair command or by the
// next compaction.
#include "compact_support.h"

#include "store/compaction.h"
#include "store/interrupted_compaction.h"

namespace {
struct StopPoint {
    StoreStep step;
    uint32_t record;
    bool chopAppend;  // the kill fell inside the append: part of the blob reached the file
};
StopPoint stopPoint;
std::string chopPath;

bool StopThere(StoreStep step, uint32_t record)
{
    if (step != stopPoint.step || record != stopPoint.record)
        return false;
    if (stopPoint.chopAppend) {
        HANDLE file = CreateFileA(chopPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        DWORD size = GetFileSize(file, nullptr);
        SetFilePointer(file, static_cast<LONG>(size - 7), nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
    }
    return true;
}

// 22 records: plain and compressed, a deleted one, a duplicate number, a document of
// three pages, stale blobs and a data file in another order than the index.
std::vector<Entry> MixedEntries()
{
    std::vector<Entry> entries;
    for (int i = 0; i < 22; ++i) {
        Entry entry{100 + i, i % 3 ? Pattern(300 + 97 * i, static_cast<uint8_t>(i)) : Bytes(2500 + i, 'a'),
                    i % 2 == 0};
        entry.deleted = i == 5 ? 1 : 0;
        entry.number = i == 9 ? 101 : entry.number;
        entry.staleBefore = i % 4 == 1 ? 333 : 0;
        // Records 3, 12 and 17 are the pages of one document.
        if (i == 3 || i == 12 || i == 17)
            entry.number = 103, entry.mark = {1, i == 3 ? 1u : i == 12 ? 2u : 3u, 3};
        entries.push_back(entry);
    }
    return entries;
}

const StoreStep kCompactionSteps[] = {StoreStep::CompactionRecordRead, StoreStep::CompactionBlobStaged,
                                      StoreStep::CompactionBlobAppended, StoreStep::CompactionRecordMoved};

class StopTest : public CompactTest {
protected:
    void SetUp() override
    {
        CompactTest::SetUp();
        chopPath = Path("pagorex.new");
    }
    // Lays out the store and stops its compaction at point; answers the images.
    std::vector<Bytes> StopCompaction(StopPoint point)
    {
        DeleteFileA(Path("pagorex.new").c_str());
        std::vector<Entry> entries = MixedEntries();
        std::vector<size_t> order(entries.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = (i * 7) % order.size();
        laid = Store(entries, order);
        stopPoint = point;
        SetStoreStopHook(StopThere);
        CompactStore(Shell(), 1);
        SetStoreStopHook(nullptr);
        return laid.images;
    }
    void ExpectDocument() const { ExpectDocumentKept(laid, 103, {laid.images[3], laid.images[12], laid.images[17]}); }
    // A repair leaves an empty new data file in place (it had nothing to recover);
    // otherwise the store is settled.
    void ExpectRepaired(const std::vector<Bytes>& images)
    {
        if (Exists("pagorex.new") && Read("pagorex.new").empty())
            DeleteFileA(Path("pagorex.new").c_str());
        ExpectSettled(images);
    }
    int tried = 0;
    LaidOut laid;
};

TEST_F(StopTest, CompactionStoppedAnywhereIsRepairedByTheRepairCommand)
{
    for (uint32_t record = 0; record < 22; ++record) {
        for (StoreStep step : kCompactionSteps) {
            for (bool chop : {false, true}) {
                if (chop && step != StoreStep::CompactionBlobAppended)
                    continue;
                // Every record for the moves the repair acts on; every fourth for the
                // steps before them, which leave the same chain as the record before.
                bool beforeMove = step == StoreStep::CompactionRecordRead || step == StoreStep::CompactionBlobStaged;
                if (beforeMove && record % 4 != 1 && record != 21)
                    continue;
                SCOPED_TRACE(testing::Message() << "record " << record << " step " << static_cast<int>(step)
                                                << (chop ? " inside the append" : ""));
                std::vector<Bytes> images = StopCompaction({step, record, chop});
                ++tried;
                ExpectEveryImage(images);
                ExpectDocument();
                boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
                RecoverFromNewData(Shell());
                ExpectRepaired(images);
                ExpectDocument();
                if (HasFailure())
                    return;
            }
        }
    }
    for (StoreStep step : {StoreStep::CompactionBeforeReplace, StoreStep::CompactionReplaced}) {
        std::vector<Bytes> images = StopCompaction({step, 0, false});
        ++tried;
        ExpectEveryImage(images);
        boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
        RecoverFromNewData(Shell());
        ExpectRepaired(images);
    }
    RecordProperty("stop points", tried);
    std::printf("compaction stopped at %d points, then repaired\n", tried);
}

TEST_F(StopTest, CompactionStoppedAnywhereIsFinishedByTheNextCompaction)
{
    for (uint32_t record = 0; record < 22; record += 3) {
        for (StoreStep step : kCompactionSteps) {
            for (bool chop : {false, true}) {
                if (chop && step != StoreStep::CompactionBlobAppended)
                    continue;
                SCOPED_TRACE(testing::Message() << "record " << record << " step " << static_cast<int>(step));
                std::vector<Bytes> images = StopCompaction({step, record, chop});
                ++tried;
                ExpectEveryImage(images);
                ExpectDocument();
                // The start-up check finds the first record compressed once it was moved,
                // so only a forced compaction carries on.
                CompactStore(Shell(), 1);
                EXPECT_EQ(Title(), "Completed compressing");
                ExpectSettled(images);
                ExpectDocument();
                uint32_t end = 0;
                for (const IndexRecord& r : Records()) {
                    EXPECT_EQ(r.dataOffset, end);
                    end += r.storedLength;
                }
                EXPECT_EQ(Read("pagorex.dat").size(), end) << "no leftovers of the stopped run";
                if (HasFailure())
                    return;
            }
        }
    }
    std::printf("compaction stopped at %d points, then finished\n", tried);
}

TEST_F(StopTest, RepairStoppedAnywhereIsFinishedByTheNextRepair)
{
    for (uint32_t moved : {1u, 9u, 22u}) {
        for (uint32_t record = 0; record < moved; record += moved > 9 ? 3 : 1) {
            for (StoreStep step : {StoreStep::BlobMovedBack, StoreStep::RecordMovedBack}) {
                SCOPED_TRACE(testing::Message() << moved << " moved, repair stopped at " << record << " step "
                                                << static_cast<int>(step));
                std::vector<Bytes> images = StopCompaction({StoreStep::CompactionRecordMoved, moved - 1, false});
                stopPoint = {step, record, false};
                SetStoreStopHook(StopThere);
                {
                    boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
                    RecoverFromNewData(Shell());
                }
                SetStoreStopHook(nullptr);
                ++tried;
                ExpectEveryImage(images);
                ExpectDocument();
                boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
                RecoverFromNewData(Shell());
                ExpectSettled(images);
                ExpectDocument();
                if (HasFailure())
                    return;
            }
        }
    }
    std::printf("repair stopped at %d points, then repeated\n", tried);
}
}  // namespace
