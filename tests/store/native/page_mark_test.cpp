// Documents assembled from the records of one number, their marks written and read by
// the independent writer of tests/support/store_files.
#include "store/core/page_mark.h"
#include "support/store_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

namespace {
// One record of the number: deleted or not, and the mark the independent writer puts on
// it (generation 0: none).
struct Laid {
    uint8_t deleted;
    storefiles::PageMark mark;
};

std::vector<NumberedRecord> Records(const std::vector<Laid>& laid, int32_t number = 7)
{
    std::vector<NumberedRecord> records;
    for (uint32_t i = 0; i < laid.size(); ++i) {
        storefiles::Record r;
        r.recordNumber = number, r.deleted = laid[i].deleted, r.dataOffset = 100 * i;
        if (laid[i].mark.generation)
            storefiles::WriteMark(r, laid[i].mark);
        NumberedRecord& n = records.emplace_back();
        n.position = 10 + 3 * i;  // other numbers' records between them
        DecodeIndexRecord(storefiles::EncodeRecord(r), n.record);
    }
    return records;
}

struct Case {
    const char* what;
    std::vector<Laid> laid;
    std::vector<int> pages;  // the laid record of each page, -1 missing
    std::vector<int> spare;
    std::vector<PageProblem> faults;
    uint32_t highest;
};

const Case kCases[] = {
    {"a plain record is a document of one page", {{0, {}}}, {0}, {}, {}, 0},
    {"later plain records are another writer's, left alone", {{0, {}}, {0, {}}}, {0}, {}, {}, 0},
    {"pages in order", {{0, {4, 1, 3}}, {0, {4, 2, 3}}, {0, {4, 3, 3}}}, {0, 1, 2}, {}, {}, 4},
    {"pages out of order, deleted records between", {{0, {2, 1, 3}}, {1, {}}, {0, {2, 3, 3}}, {0, {2, 2, 3}}},
     {0, 3, 2}, {1}, {}, 2},
    {"an unfinished save's pages and an old document's", {{0, {5, 1, 2}}, {0, {6, 2, 4}}, {0, {5, 2, 2}}, {0, {3, 2, 2}}},
     {0, 2}, {1, 3}, {PageProblem::Stale, PageProblem::Stale}, 6},
    {"a page missing", {{0, {1, 1, 3}}, {0, {1, 3, 3}}}, {0, -1, 1}, {}, {PageProblem::Missing}, 1},
    {"two records claim one page", {{0, {1, 1, 2}}, {0, {1, 2, 2}}, {0, {1, 2, 2}}}, {0, 1}, {},
     {PageProblem::Duplicate}, 1},
    {"a later record claims page 1", {{0, {1, 1, 2}}, {0, {1, 1, 2}}, {0, {1, 2, 2}}}, {0, 2}, {},
     {PageProblem::Duplicate}, 1},
    {"a page count that disagrees", {{0, {1, 1, 2}}, {0, {1, 2, 3}}}, {0, -1}, {1},
     {PageProblem::Stale, PageProblem::Missing}, 1},
    {"the first record marked as a later page", {{0, {3, 2, 2}}, {0, {3, 1, 2}}}, {0}, {1},
     {PageProblem::NotFirst, PageProblem::Stale}, 3},
    {"a deleted first record has no pages; its marks still count", {{1, {8, 1, 2}}, {0, {8, 2, 2}}}, {0}, {1},
     {PageProblem::Stale}, 8},
};

TEST(PageMark, DocumentsAreAssembledFromTheRecordsOfTheirNumber)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<NumberedRecord> records = Records(c.laid);
        Document d = AssembleDocument(records);
        EXPECT_TRUE(d.found);
        EXPECT_EQ(d.deleted, c.laid[0].deleted != 0);
        ASSERT_EQ(d.pages.size(), c.pages.size());
        for (size_t page = 0; page < c.pages.size(); ++page) {
            ASSERT_EQ(d.pages[page].has_value(), c.pages[page] >= 0) << "page " << page + 1;
            if (c.pages[page] >= 0)
                EXPECT_EQ(d.pages[page]->position, records[c.pages[page]].position) << "page " << page + 1;
        }
        std::vector<uint32_t> spare;
        for (int i : c.spare)
            spare.push_back(records[i].position);
        EXPECT_EQ(d.spare, spare);
        std::vector<PageProblem> faults;
        for (const PageFault& fault : d.faults)
            faults.push_back(fault.problem);
        EXPECT_EQ(faults, c.faults);
        EXPECT_EQ(d.highestGeneration, c.highest);
        EXPECT_EQ(d.FoundPages().size(), size_t(std::count_if(c.pages.begin(), c.pages.end(), [](int i) { return i >= 0; })));
    }
    EXPECT_FALSE(AssembleDocument({}).found);
}

// The program's mark and the independent writer's are the same bytes, and a mark is only
// taken where its check value holds for the record's own number.
TEST(PageMark, MarksRoundTripWithTheIndependentWriterAndBelongToTheirNumber)
{
    for (PageMark mark : {PageMark{1, 1, 2}, PageMark{0xFFFFFFFE, 50, 50}, PageMark{77, 2, 3}}) {
        storefiles::Record theirs;
        theirs.recordNumber = -5;
        theirs.reserved.assign(238, 0xA5);
        storefiles::WriteMark(theirs, {mark.generation, mark.page, mark.pages});
        IndexRecord ours{};
        DecodeIndexRecord(storefiles::EncodeRecord(theirs), ours);
        std::optional<PageMark> read = ReadPageMark(ours);
        ASSERT_TRUE(read);
        EXPECT_EQ(std::tie(read->generation, read->page, read->pages), std::tie(mark.generation, mark.page, mark.pages));

        IndexRecord written = ours;
        WritePageMark(written, mark);
        EXPECT_EQ(std::memcmp(&written, &ours, sizeof ours), 0) << "another layout than the independent writer's";
        ClearPageMark(written);
        EXPECT_FALSE(ReadPageMark(written));
        EXPECT_EQ(written.reserved[205], 0xA5) << "another writer's bytes went with the mark";
        written = ours;
        written.recordNumber = 5;
        EXPECT_FALSE(ReadPageMark(written)) << "a mark moved to another number still holds";
    }
    IndexRecord nonsense{};
    nonsense.recordNumber = 3;
    for (PageMark bad : {PageMark{0, 1, 2}, PageMark{1, 0, 2}, PageMark{1, 3, 2}, PageMark{1, 1, 1}, PageMark{1, 1, 4000000000u}}) {
        WritePageMark(nonsense, bad);
        EXPECT_FALSE(ReadPageMark(nonsense)) << bad.generation << " " << bad.page << "/" << bad.pages;
    }
}
}  // namespace
