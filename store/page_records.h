#pragma once
// The index records of a document save (store/core/page_mark.h), in the order that keeps
// every reader's view whole: the page records go into records of the number that are no
// part of the stored document, or are appended, and are flushed; page 1's record, written
// last over the record readers find first, commits the save; then the records of the old
// document are marked deleted for the next save to reuse.

#include "store/core/page_mark.h"
#include "store/store_files.h"

#include <cstdint>
#include <optional>
#include <vector>

struct PagePlan {
    bool unreadable = false;  // the index could not be read to its end: nothing may be written
    std::vector<NumberedRecord> records;  // every record of the number, in index order
    Document document;                    // assembled from them
    uint32_t generation = 1;              // of the pages about to be written
};

// Looks for every record of the number in one scan and chooses the new generation: one
// that no marked record of the number carries, so that pages an unfinished save left
// behind never pass for the new document's.
PagePlan PlanPages(StoreHandle index, int32_t recordNumber);

// The place of page 1's record once the save is written: the first record of the number,
// or, for a number the index lacks, the first place past the last whole record.
std::optional<uint32_t> FirstPagePlace(StoreHandle index, const PagePlan& plan);

// Writes the records of a document whose blobs (dataOffset, storedLength, compressed,
// imageLength; blobs[0] is page 1's) are on the disk, up to the commit. Answers whether
// the commit reached the disk; when it did not, the index reads as it did before (what was
// appended is cut off again, page 1's record written back). reused receives the records of
// the number that now hold pages.
bool WriteDocumentRecords(StoreHandle index, int32_t recordNumber, const PagePlan& plan,
                          const std::vector<IndexRecord>& blobs, std::vector<uint32_t>& reused);

// After a commit or a delete mark: every other marked record of the number that is not
// deleted yet is marked deleted now, except those the save wrote (new pages: kept). A
// record that keeps its mark for want of a write is passed over by every reader all the
// same, and reused by the next save.
void RetireOldPages(StoreHandle index, const PagePlan& plan, const std::vector<uint32_t>& kept = {});
