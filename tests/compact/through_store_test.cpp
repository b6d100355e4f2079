// The store's own load and save on stores that a compaction left, stopped or finished:
// each host record gets exactly its own image, and a save in the middle of a stopped
// compaction breaks no other record.
#include "compact_support.h"

#include "app/shell.h"
#include "app/view.h"
#include "store/compaction.h"
#include "store/interrupted_compaction.h"
#include "store/store.h"

namespace {
uint32_t stopAfter = 0;
bool StopAfterMoving(StoreStep step, uint32_t record)
{
    return step == StoreStep::CompactionRecordMoved && record + 1 == stopAfter;
}

class ThroughStoreTest : public CompactTest {
protected:
    // Eight records, numbered 10.., plain and compressed bitmaps of their own sizes.
    void Lay()
    {
        std::vector<Entry> entries;
        for (int i = 0; i < 8; ++i) {
            dibs_.push_back(PackedDib(30 + 3 * i, 20 + i, static_cast<uint8_t>(i)));
            entries.push_back({10 + i, BitmapFile(dibs_.back()), i % 2 == 0, 0, i == 5 ? size_t{77} : size_t{0}});
        }
        Store(entries);
    }
    void StopAfter(uint32_t moved)
    {
        stopAfter = moved;
        SetStoreStopHook(StopAfterMoving);
        CompactStore(Shell(), 1);
        SetStoreStopHook(nullptr);
    }
    Bytes Load(int32_t number)
    {
        UseRecord(number);
        LoadRecordImage(Shell());
        Bytes bytes = BytesOfDib(currentDib);
        ReleaseCurrentImage();
        return bytes;
    }
    void ExpectEveryRecordLoads(const char* when)
    {
        for (size_t i = 0; i < dibs_.size(); ++i)
            EXPECT_EQ(Load(static_cast<int32_t>(10 + i)), dibs_[i]) << when << ": record " << i;
    }
    bool Save(int32_t number, const Bytes& dib)
    {
        UseRecord(number);
        return SaveImageFile(Shell(), BitmapFile(dib));
    }
    std::vector<Bytes> dibs_;
};

TEST_F(ThroughStoreTest, EveryRecordLoadsItsImageWhereverTheCompactionStopped)
{
    for (uint32_t moved : {1u, 4u, 8u}) {
        SCOPED_TRACE(moved);
        DeleteFileA(Path("pagorex.new").c_str());
        dibs_.clear();
        Lay();
        StopAfter(moved);
        ExpectEveryRecordLoads("stopped");
        CompactStore(Shell(), 1);
        EXPECT_FALSE(Exists("pagorex.new"));
        ExpectEveryRecordLoads("finished");
    }
}

TEST_F(ThroughStoreTest, ASaveWhileACompactionIsStoppedBreaksNoOtherRecord)
{
    for (int32_t saved : {10, 12, 13, 17, 30}) {
        SCOPED_TRACE(saved);
        DeleteFileA(Path("pagorex.new").c_str());
        dibs_.clear();
        Lay();
        StopAfter(4);
        Bytes image = PackedDib(41, 17, 200);
        ASSERT_TRUE(Save(saved, image));
        if (saved - 10 < static_cast<int32_t>(dibs_.size()))
            dibs_[static_cast<size_t>(saved - 10)] = image;
        ExpectEveryRecordLoads("after the save");
        EXPECT_EQ(Load(saved), image);
        boxes::BoxWatcher boxes(std::vector<int>{IDYES, IDYES});
        RecoverFromNewData(Shell());
        ExpectEveryRecordLoads("after the repair");
        EXPECT_EQ(Load(saved), image);
    }
}

TEST_F(ThroughStoreTest, TwoSavesThenAForcedCompactionShrinkTheDataFileByTheFirstBlob)
{
    Lay();
    {
        boxes::BoxWatcher boxes;  // the warning of a start-up compaction
        CompactStore(Shell(), 0);
    }
    size_t compacted = Read("pagorex.dat").size();
    Bytes first = PackedDib(50, 40, 1), second = PackedDib(50, 40, 2);
    ASSERT_TRUE(Save(30, first));
    size_t firstBlob = Read("pagorex.dat").size() - compacted;
    ASSERT_TRUE(Save(30, second));
    size_t twice = Read("pagorex.dat").size();
    CompactStore(Shell(), 1);
    EXPECT_EQ(Read("pagorex.dat").size(), twice - firstBlob);
    EXPECT_EQ(Load(30), second);
    ExpectEveryRecordLoads("after the compaction");
}
}  // namespace
