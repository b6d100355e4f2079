// The index scan and the walk over a whole store, on stores laid out byte by byte.
#include "store/core/index_scan.h"
#include "store/core/store_survey.h"
#include "support/store_files.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>

namespace {
using storefiles::Bytes;

uint32_t Flat(int, int)
{
    return 0x00336699;
}

Bytes Image(int width)
{
    return storefiles::Bitmap24(width, 6, Flat);
}

Bytes IndexOf(const std::vector<storefiles::Record>& records, size_t fragment = 0)
{
    Bytes index;
    for (const storefiles::Record& r : records) {
        Bytes bytes = storefiles::EncodeRecord(r);
        index.insert(index.end(), bytes.begin(), bytes.end());
    }
    index.resize(index.size() + fragment, 0xAB);
    return index;
}

// A reader whose reads fail from the nth on, or deliver fewer bytes than asked.
class FaultyReader final : public FileReader {
public:
    FaultyReader(const Bytes& bytes, int failAt, bool shortInstead) : memory_(bytes), failAt_(failAt), short_(shortInstead) {}
    int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override
    {
        if (++reads_ >= failAt_)
            return short_ ? memory_.ReadAt(offset, buffer, count / 2) : -1;
        return memory_.ReadAt(offset, buffer, count);
    }
    uint64_t Size() override { return memory_.Size(); }

private:
    MemoryReader memory_;
    int failAt_, reads_ = 0;
    bool short_;
};

struct ScanCase {
    const char* what;
    size_t records, fragment;
    uint32_t block;
    int failAt;  // 0: no fault
    bool shortRead;
    size_t handedOut;
    IndexScan::Step last;
};

TEST(IndexScan, HandsOutEveryWholeRecordThenTellsTheEndFromAFailure)
{
    const ScanCase cases[] = {
        {"empty", 0, 0, 4, 0, false, 0, IndexScan::Step::End},
        {"a fragment only", 0, 255, 4, 0, false, 0, IndexScan::Step::End},
        {"blocks of 4 over 10 records and a fragment", 10, 100, 4, 0, false, 10, IndexScan::Step::End},
        {"one record per block", 3, 0, 1, 0, false, 3, IndexScan::Step::End},
        {"second block fails", 10, 0, 4, 2, false, 4, IndexScan::Step::Error},
        {"second block falls short", 10, 0, 4, 2, true, 4, IndexScan::Step::Error},
        {"last block falls short before a fragment", 8, 3, 4, 2, true, 4, IndexScan::Step::Error},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<storefiles::Record> records(c.records);
        for (size_t i = 0; i < records.size(); ++i) {
            records[i].recordNumber = static_cast<int32_t>(100 + i);
            records[i].dataOffset = static_cast<uint32_t>(i * 1000);
        }
        Bytes index = IndexOf(records, c.fragment);
        FaultyReader reader(index, c.failAt ? c.failAt : 1 << 30, c.shortRead);
        IndexScan scan(reader, c.block);
        EXPECT_EQ(scan.RecordCount(), c.records);
        EXPECT_EQ(scan.FragmentBytes(), c.fragment);
        IndexRecord record;
        size_t handedOut = 0;
        IndexScan::Step step;
        while ((step = scan.Next(record)) == IndexScan::Step::Record) {
            EXPECT_EQ(scan.Position(), handedOut);
            EXPECT_EQ(int32_t{record.recordNumber}, static_cast<int32_t>(100 + handedOut));
            EXPECT_EQ(uint32_t{record.dataOffset}, handedOut * 1000);
            ++handedOut;
        }
        EXPECT_EQ(handedOut, c.handedOut);
        EXPECT_EQ(step, c.last);
        EXPECT_EQ(scan.Next(record), c.last) << "the scan stays where it ended";
    }
}

// A store laid out in memory, and which of its files exist.
struct Store : storefiles::StoreLayout {
    bool hasData = true, hasNewData = false;
    void MoveFirst(size_t count)
    {
        StoreLayout::MoveFirst(count);
        hasNewData = true;
    }
};

struct Collected final : SurveyVisitor {
    std::vector<SurveyedRecord> seen;
    std::vector<MissingPages> missing;
    void Record(const SurveyedRecord& record) override { seen.push_back(record); }
    void Missing(const MissingPages& pages) override { missing.push_back(pages); }
};

SurveySummary Survey(Store& store, SurveyDepth depth, Collected& collected)
{
    MemoryReader index(store.index), data(store.data), newData(store.newData);
    StoreReaders readers{&index, store.hasData ? &data : nullptr, store.hasNewData ? &newData : nullptr};
    return SurveyStore(readers, depth, &collected);
}

TEST(StoreSurvey, TellsLiveDeletedAndShadowedRecordsAndCountsTheBytes)
{
    Store store;
    store.data = Bytes(500, 0xEE);  // a superseded blob
    store.Add(5, Image(10));
    store.Add(6, Image(40), false);
    store.Add(5, Image(20));                    // shadowed by the first 5
    store.Add(7, Image(30), true, 1);           // deleted
    store.Add(-1, Image(12));                   // the number that fills an empty hash slot
    store.Add(-1, Image(13), true, 1);          // shadowed, deleted or not
    Collected collected;
    SurveySummary s = Survey(store, SurveyDepth::Full, collected);

    const RecordState expected[] = {RecordState::Live, RecordState::Live, RecordState::Shadowed,
                                    RecordState::Deleted, RecordState::Live, RecordState::Shadowed};
    ASSERT_EQ(collected.seen.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(collected.seen[i].state, expected[i]) << i;
        EXPECT_EQ(collected.seen[i].position, i);
        EXPECT_EQ(collected.seen[i].file, BlobFile::Data);
        EXPECT_TRUE(collected.seen[i].blob.ok()) << i;
    }
    EXPECT_EQ(s.records, 6u);
    EXPECT_EQ(s.live, 3u);
    EXPECT_EQ(s.deleted, 1u);
    EXPECT_EQ(s.shadowed, 2u);
    EXPECT_EQ(s.plain, 1u);
    EXPECT_EQ(s.plainBytes, Image(40).size());
    EXPECT_EQ(s.liveBytes, store.records[0].storedLength + store.records[1].storedLength + store.records[4].storedLength);
    EXPECT_EQ(s.staleBytes, 500u);
    EXPECT_EQ(s.problems, 0u);
    ASSERT_TRUE(s.hasLargest);
    EXPECT_EQ(s.largestRecord, 6);  // the plain one: its stored length is its image
    EXPECT_EQ(s.largestBytes, Image(40).size());

    // Damaged lengths and offsets count only as far as the data file reaches.
    store.records[0].storedLength = 0xFFFFFF00u;
    store.records[4].dataOffset = static_cast<uint32_t>(store.data.size()) + 10;
    store.Rewrite();
    Collected again;
    s = Survey(store, SurveyDepth::IndexOnly, again);
    EXPECT_EQ(s.liveBytes, store.data.size() - store.records[0].dataOffset + store.records[1].storedLength);
}

TEST(StoreSurvey, ReadsMovedRecordsFromTheNewDataFileAndFlagsRecordsPastTheChain)
{
    Store store;
    store.data = Bytes(500, 0xEE);  // no blob of the data file may continue the chain by chance
    for (int i = 0; i < 5; ++i)
        store.Add(10 + i, Image(10 + i));
    store.MoveFirst(2);
    // Record 3 once had its blob moved too, past a gap the chain cannot cross.
    storefiles::Record& held = store.records[3];
    Bytes blob(store.data.begin() + held.dataOffset, store.data.begin() + held.dataOffset + held.storedLength);
    store.newData.resize(store.newData.size() + 50, 0);
    held.dataOffset = static_cast<uint32_t>(store.newData.size());
    store.newData.insert(store.newData.end(), blob.begin(), blob.end());
    store.newData.resize(store.newData.size() + 70, 0);
    store.Rewrite();

    Collected collected;
    SurveySummary s = Survey(store, SurveyDepth::Full, collected);
    EXPECT_EQ(s.chain.count, 2u);
    EXPECT_EQ(collected.seen[0].file, BlobFile::NewData);
    EXPECT_EQ(collected.seen[1].file, BlobFile::NewData);
    EXPECT_EQ(collected.seen[2].file, BlobFile::Data);
    EXPECT_TRUE(collected.seen[0].blob.ok() && collected.seen[1].blob.ok() && collected.seen[2].blob.ok());
    EXPECT_TRUE(collected.seen[3].alsoInNewData);
    EXPECT_FALSE(collected.seen[2].alsoInNewData || collected.seen[4].alsoInNewData);
    EXPECT_EQ(s.alsoInNewData, 1u);
    // Read from pagorex.dat, as the program reads it, record 3 now points at other bytes.
    EXPECT_FALSE(collected.seen[3].blob.ok());
    EXPECT_EQ(s.newDataStaleBytes, store.newData.size() - s.chain.end);
}

struct FileCase {
    const char* what;
    bool hasData, hasNewData;
    BlobProblem problem;
    bool replacementPending;
};

TEST(StoreSurvey, MissingFilesAreToldAndALeftNewDataFileStandsInForTheDataFile)
{
    const FileCase cases[] = {
        {"both files", true, false, BlobProblem::None, false},
        {"no data file", false, false, BlobProblem::MissingFile, false},
        {"only pagorex.new, which the program renames", false, true, BlobProblem::None, true},
        {"an empty pagorex.new beside the data file", true, true, BlobProblem::None, false},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        Store store;
        store.Add(1, Image(9));
        store.Add(2, Image(11));
        store.hasData = c.hasData;
        store.hasNewData = c.hasNewData;
        if (c.hasNewData && !c.hasData)
            store.newData = store.data;
        Collected collected;
        SurveySummary s = Survey(store, SurveyDepth::Full, collected);
        for (const SurveyedRecord& r : collected.seen) {
            EXPECT_EQ(r.blob.problem, c.problem);
            EXPECT_EQ(r.file, BlobFile::Data);
        }
        EXPECT_EQ(s.problems, c.problem == BlobProblem::None ? 0u : 2u);
        EXPECT_EQ(s.replacementPending, c.replacementPending);
        EXPECT_EQ(s.newDataPresent, c.hasNewData && c.hasData);
    }
}

TEST(StoreSurvey, DepthDecidesHowMuchOfEachBlobIsRead)
{
    Store store;
    store.Add(1, Image(9));
    store.data[store.records[0].dataOffset + store.records[0].storedLength - 6] ^= 1;  // CRC
    store.Add(2, Image(11));
    store.data.resize(store.data.size() - 3);  // the last blob cut short
    for (SurveyDepth depth : {SurveyDepth::IndexOnly, SurveyDepth::Header, SurveyDepth::Full}) {
        Collected collected;
        SurveySummary s = Survey(store, depth, collected);
        SCOPED_TRACE(static_cast<int>(depth));
        EXPECT_EQ(s.problems, depth == SurveyDepth::Full ? 2u : 0u);
        EXPECT_EQ(collected.seen[0].blob.bitmap.known, depth != SurveyDepth::IndexOnly);
        if (depth == SurveyDepth::Full) {
            EXPECT_EQ(collected.seen[0].blob.problem, BlobProblem::DamagedGzip);
            EXPECT_EQ(collected.seen[1].blob.problem, BlobProblem::RunsPastEnd);
        }
    }
}

// (problem, page, position) of every fault, as AssembleDocument lists them.
using Faults = std::multiset<std::tuple<PageProblem, uint32_t, uint32_t>>;

// Stores of a few numbers whose records carry marks of a few generations and counts, or
// none, deleted or not, in any order: the walk, which sees one record at a time, tells
// the same pages and faults as AssembleDocument does from all the records of a number.
TEST(StoreSurvey, DocumentsAgreeWithTheirAssemblyFromEveryRecordOfTheirNumber)
{
    std::mt19937 random(11);
    auto below = [&](uint32_t n) { return uint32_t(random() % n); };
    for (uint32_t round = 0; round < 500; ++round) {
        Store store;
        bool begun[2] = {};
        for (uint32_t i = 0, count = 1 + below(16); i < count; ++i) {
            const int32_t number = int32_t(below(2));
            store.Add(number - 1, Image(2), true, below(6) == 0);
            // Mostly one generation and count a round, and page 1 first, so that documents
            // grow long.
            const uint32_t pages = below(5) == 0 ? 2 + below(4) : 3 + round % 3;
            const uint32_t page = !begun[number] && below(5) != 0 ? 1 : 1 + below(pages);
            if (below(5) != 0)
                storefiles::WriteMark(store.records.back(), {below(5) == 0 ? 2u : 1u, page, pages});
            begun[number] = true;
        }
        store.Rewrite();
        Collected collected;
        SurveySummary s = Survey(store, SurveyDepth::IndexOnly, collected);
        ASSERT_EQ(s.live + s.deleted + s.shadowed + s.pages + s.stale, s.records);
        Faults walked, assembled;
        for (const SurveyedRecord& r : collected.seen) {
            if (r.pageProblem)
                walked.insert({*r.pageProblem, r.mark.page, r.position});
            EXPECT_EQ(r.state == RecordState::Stale, r.pageProblem == PageProblem::Stale);
        }
        for (const MissingPages& m : collected.missing)
            for (uint32_t page = m.first; page <= m.last; ++page)
                walked.insert({PageProblem::Missing, page, m.position});
        for (int32_t number = -1; number <= 0; ++number) {
            std::vector<NumberedRecord> records;
            for (const SurveyedRecord& r : collected.seen)
                if (r.record.recordNumber == number)
                    records.push_back({r.position, r.record});
            Document d = AssembleDocument(records);
            for (const PageFault& f : d.faults)
                assembled.insert({f.problem, f.page, f.position});
            for (size_t page = 1; page < d.pages.size(); ++page) {
                if (!d.pages[page])
                    continue;
                const SurveyedRecord& r = collected.seen[d.pages[page]->position];
                EXPECT_TRUE(r.state == RecordState::Page && r.mark.page == page + 1 && r.document == d.pages[0]->position)
                    << "round " << round << ", #" << r.position;
            }
            size_t pages = d.FoundPages().size();
            for (const SurveyedRecord& r : collected.seen)
                pages -= r.record.recordNumber == number && r.state == RecordState::Page;
            EXPECT_EQ(pages, records.empty() ? 0u : 1u) << "round " << round << ": no other record is a page";
        }
        EXPECT_EQ(walked, assembled) << "round " << round;
        EXPECT_EQ(s.missingPages, size_t(std::count_if(assembled.begin(), assembled.end(), [](const auto& f) {
                                      return std::get<0>(f) == PageProblem::Missing;
                                  })));
    }
}

// Keys from a narrow range, so that runs of neighbours form and entries are taken out of
// the middle of them; the key that marks a free slot now and then.
TEST(KeyTable, AgreesWithAnOrderedMapThroughAddsFindsAndErases)
{
    std::mt19937 random(5);
    KeyTable<uint32_t, uint32_t> table;
    std::map<uint32_t, uint32_t> reference;
    for (uint32_t i = 0; i < 300000; ++i) {
        const uint32_t key = i % 997 == 0 ? 0xFFFFFFFFu : uint32_t(random() % 4096);
        bool added = false;
        if (random() % 3 == 0) {
            table.Get(key, added) = i;
            ASSERT_EQ(added, reference.count(key) == 0) << key;
            reference[key] = i;
        } else if (random() % 2 == 0) {
            table.Erase(key);
            reference.erase(key);
        } else {
            const uint32_t* value = table.Find(key);
            ASSERT_EQ(value ? *value : ~0u, reference.count(key) ? reference[key] : ~0u) << key;
        }
    }
    size_t entries = 0;
    table.ForEach([&](uint32_t key, uint32_t value) { entries += reference.count(key) && reference[key] == value; });
    EXPECT_EQ(entries, reference.size());
}

TEST(RecordNumberSet, AgreesWithAnOrderedSetOverRandomNumbers)
{
    std::mt19937 random(7);
    RecordNumberSet set;
    std::set<int32_t> reference;
    for (int i = 0; i < 200000; ++i) {
        // Few distinct values now and then, so that repeats are common; the extremes too.
        int32_t number = i % 3 == 0 ? static_cast<int32_t>(random() % 1000) - 500 : static_cast<int32_t>(random());
        if (i % 1000 == 0)
            number = i % 2000 == 0 ? -1 : INT32_MIN;
        ASSERT_EQ(set.Insert(number), reference.insert(number).second) << number;
    }
}
}  // namespace
