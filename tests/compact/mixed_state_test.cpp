// The helpers that loads and saves use while a stopped compaction's records still point
// into the new data file (the real load and save are tested in through_store_test.cpp).
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
        CompactStore(Shell(), 1);
        SetStoreStopHook(nullptr);
        return store;
    }
};

TEST_F(MixedStateTest, LoadsReadMovedRecordsFromTheNewDataFile)
{
    LaidOut store = Stopped(4);
    for (uint32_t i = 0; i < 7; ++i)
        EXPECT_STREQ(DataFileOfRecord(Files(), static_cast<int32_t>(i * kIndexRecordSize)),
                     i < 4 ? "pagorex.new" : "pagorex.dat")
            << i;
    ExpectEveryImage(store.images);
}

TEST_F(MixedStateTest, ReleasingTheFirstRecordEmptiesTheChainAndDeletesTheNewDataFile)
{
    LaidOut store = Stopped(3);
    ASSERT_EQ(ReleaseFromMovedChain(Files(), 0), StoreFailure::None);
    EXPECT_FALSE(Exists("pagorex.new"));
    ExpectSettled(store.images);
}

TEST_F(MixedStateTest, ASaveBeyondTheChainCutsOffWhatNoRecordPointsAt)
{
    LaidOut store = Stopped(2);
    // A kill inside the next append left part of a blob behind the chain (blobs of
    // records not yet repointed may lie there too).
    Bytes newData = Read("pagorex.new");
    uint32_t chainEnd = Records()[1].dataOffset + Records()[1].storedLength;
    ASSERT_GE(newData.size(), chainEnd);
    newData.resize(chainEnd);
    Write("pagorex.new", Concat({newData, Pattern(5000, 3)}));
    ASSERT_EQ(ReleaseFromMovedChain(Files(), -1), StoreFailure::None);
    EXPECT_EQ(Read("pagorex.new").size(), chainEnd);
    ExpectEveryImage(store.images);
}
}  // namespace
