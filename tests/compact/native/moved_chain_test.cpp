#include "store/core/moved_chain.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
IndexRecord Blob(uint32_t offset, uint32_t length, uint8_t compressed = 1)
{
    IndexRecord record{};
    record.dataOffset = offset;
    record.storedLength = length;
    record.compressed = compressed;
    return record;
}

MovedChain Scan(const std::vector<IndexRecord>& records, uint32_t newDataSize)
{
    MovedChain chain;
    for (const IndexRecord& record : records)
        if (!ExtendMovedChain(chain, record, newDataSize))
            break;
    return chain;
}

struct ChainCase {
    const char* what;
    std::vector<IndexRecord> records;
    uint32_t newDataSize;
    uint32_t count;
    uint32_t end;
};

TEST(MovedChain, CountsOnlyTheUnbrokenChainOfBlobsInsideTheNewDataFile)
{
    const ChainCase cases[] = {
        {"nothing moved yet", {Blob(500, 40), Blob(540, 30)}, 100, 0, 0},
        {"two moved, third not yet", {Blob(0, 40), Blob(40, 30), Blob(500, 30)}, 70, 2, 70},
        {"all moved", {Blob(0, 40), Blob(40, 30)}, 70, 2, 70},
        // The fault the chain mends: record 1 was not moved, yet its old offset lies below
        // the new data file's size.
        {"unmoved record below the size", {Blob(0, 40), Blob(10, 20), Blob(40, 5)}, 70, 1, 40},
        {"fourth below the size again", {Blob(0, 10), Blob(10, 10), Blob(900, 10), Blob(20, 10)}, 60, 2, 20},
        {"blob reaching past the end is not inside", {Blob(0, 40), Blob(40, 31)}, 70, 1, 40},
        {"partly appended blob", {Blob(0, 40), Blob(40, 30)}, 55, 1, 40},
        {"a plain record was never moved", {Blob(0, 40, 0)}, 70, 0, 0},
        {"other non-zero compressed values were not written by a compaction", {Blob(0, 40, 2)}, 70, 0, 0},
        {"empty blobs keep the chain going", {Blob(0, 0), Blob(0, 10), Blob(10, 0)}, 10, 3, 10},
        {"empty new data file", {Blob(0, 0), Blob(0, 1)}, 0, 1, 0},
        {"lengths that would wrap", {Blob(0, 16), Blob(16, 0xFFFFFFF8u)}, 64, 1, 16},
    };
    for (const ChainCase& c : cases) {
        SCOPED_TRACE(c.what);
        MovedChain chain = Scan(c.records, c.newDataSize);
        EXPECT_EQ(chain.count, c.count);
        EXPECT_EQ(chain.end, c.end);
    }
}

TEST(MovedChain, RefusesTheNextRecordOnceTheChainEndsPastTheFile)
{
    MovedChain chain{1, 80};
    EXPECT_FALSE(ExtendMovedChain(chain, Blob(80, 0), 70));
    EXPECT_EQ(chain.count, 1u);
}

struct PastChainCase {
    const char* what;
    IndexRecord record;
    uint32_t newDataSize;
    std::vector<uint8_t> head, tail;
    bool inside, own;
};

TEST(MovedChain, ARecordPastTheChainPointsIntoTheNewDataFileOnlyWhereItsOwnBlobLies)
{
    IndexRecord record = Blob(100, 60);
    record.imageLength = 0x01020304;
    IndexRecord plain = Blob(100, 60, 0);
    const std::vector<uint8_t> gzip = {0x1F, 0x8B, 8}, length = {4, 3, 2, 1};
    const PastChainCase cases[] = {
        {"its gzip member of its image length", record, 160, gzip, length, true, true},
        {"another image length", record, 160, gzip, {4, 3, 2, 0}, true, false},
        {"no gzip header", record, 160, {0x1F, 0x8B, 9}, length, true, false},
        {"reaching past the end", record, 159, gzip, length, false, true},
        {"starting past the end", Blob(200, 20), 160, gzip, length, false, false},
        {"too short for a member", Blob(100, 19), 160, gzip, length, false, false},
        {"plain blobs are never moved", plain, 160, gzip, length, false, false},
        {"lengths that would wrap", Blob(100, 0xFFFFFFF0u), 160, gzip, length, false, false},
    };
    for (const PastChainCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MayPointIntoNewData(c.record, c.newDataSize), c.inside);
        if (c.record.storedLength == 60 && c.record.compressed == 1)
            EXPECT_EQ(LooksLikeOwnBlob(c.record, c.head.data(), c.tail.data()), c.own);
    }
}
}  // namespace
