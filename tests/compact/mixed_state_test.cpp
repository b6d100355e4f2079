// Loads and saves while a stopped compaction's records still point into the new data
// file: a load reads them there, and a save first takes its record out of the chain so
// that no other record is ever read from bytes that are not its blob.
#include "compact_support.h"

#include "store/compaction.h"
#include "store/interrupted_compaction.h"

namespace {
uint32_t stopAfter = 0;
bool StopAfterMoving(StoreStep step, uint32_t record)
{
    return step == StoreStep::CompactionRecordMoved && record + 1 == stopAfter;
}

class MixedStateTest : public CompactTest {
protected:
    LaidOut Stopped(uint32_t moved)
    {
        std::vector<Entry> entries;
        for (int i = 0; i < 7; ++i)
            entries.push_back({i, Pattern(800 + 50 * i, static_cast<uint8_t>(i)), i % 3 == 0});
        LaidOut store = Store(entries);
        stopAfter = moved;
        SetStoreStopHook(StopAfterMoving);
        CompactStore(window, 1);
        SetStoreStopHook(nullptr);
        return store;
    }
    // What a save does once the record is out of the chain: a new blob at the end of the
    // data file, and the record pointed at it.
    void Save(uint32_t record, const Bytes& image, std::vector<Bytes>& images)
    {
        Bytes data = Read("pagorex.dat");
        Bytes blob = Gzip(image);
        std::vector<IndexRecord> records = Records();
        IndexRecord saved = MakeRecord(static_cast<int32_t>(record), static_cast<uint32_t>(data.size()),
                                       static_cast<uint32_t>(blob.size()), 1, static_cast<uint32_t>(image.size()));
        if (record < records.size())
            records[record] = saved;
        else
            records.push_back(saved);
        Bytes index;
        for (const IndexRecord& r : records)
            index = Concat({index, RecordBytes(r)});
        Write("pagorex.dat", Concat({data, blob}));
        Write("pagorex.idx", index);
        images.resize(records.size());
        images[record] = image;
    }
};

TEST_F(MixedStateTest, LoadsReadMovedRecordsFromTheNewDataFile)
{
    LaidOut store = Stopped(4);
    for (uint32_t i = 0; i < 7; ++i)
        EXPECT_STREQ(DataFileOfRecord(static_cast<int32_t>(i * kIndexRecordSize)),
                     i < 4 ? "pagorex.new" : "pagorex.dat")
            << i;
    ExpectEveryImage(store.images);
}

TEST_F(MixedStateTest, SavingAnyRecordKeepsEveryOtherImage)
{
    for (uint32_t saved : {0u, 2u, 3u, 4u, 6u, 7u}) {
        SCOPED_TRACE(saved);
        DeleteFileA(Path("pagorex.new").c_str());
        LaidOut store = Stopped(4);
        ASSERT_TRUE(ReleaseFromMovedChain(static_cast<int32_t>(saved * kIndexRecordSize)));
        ExpectEveryImage(store.images);
        std::vector<Bytes> images = store.images;
        Save(saved, Pattern(1234, 99), images);
        ExpectEveryImage(images);
        // However the store is settled afterwards, nothing is lost.
        CompactStore(window, 1);
        ExpectSettled(images);
    }
}

TEST_F(MixedStateTest, ReleasingTheFirstRecordEmptiesTheChainAndDeletesTheNewDataFile)
{
    LaidOut store = Stopped(3);
    ASSERT_TRUE(ReleaseFromMovedChain(0));
    EXPECT_FALSE(Exists("pagorex.new"));
    ExpectSettled(store.images);
}

TEST_F(MixedStateTest, ASaveBeyondTheChainCutsOffWhatNoRecordPointsAt)
{
    LaidOut store = Stopped(2);
    // A kill inside the next append left part of a blob behind the chain.
    Bytes newData = Read("pagorex.new");
    uint32_t chainEnd = Records()[1].dataOffset + Records()[1].storedLength;
    ASSERT_EQ(newData.size(), chainEnd);
    Write("pagorex.new", Concat({newData, Pattern(5000, 3)}));
    ASSERT_TRUE(ReleaseFromMovedChain(-1));
    EXPECT_EQ(Read("pagorex.new").size(), chainEnd);
    ExpectEveryImage(store.images);
}
}  // namespace
