#pragma once
// A walk over a whole store, record by record in index order, as the program would read
// it (the blobs checked on every core, blob_checks.h): which records a host run can load
// (the first record of each number, not deleted, and the further pages of its document,
// page_mark.h), which file holds each blob (pagorex.new for the records an interrupted
// compaction has moved), and, as deep as asked, what each blob holds. It streams: memory
// stays flat however many records and bytes the store holds, apart from a few bytes per
// distinct record number to tell a shadowed record (8 to 16; 16 to 32 for a number whose
// record is a document of several pages), and more only while a document's pages are
// still coming or for pages that come after a higher page of theirs.

#include "store/core/blob_check.h"
#include "store/core/file_reader.h"
#include "store/core/index_record.h"
#include "store/core/key_table.h"
#include "store/core/moved_chain.h"
#include "store/core/page_mark.h"

#include <cstdint>
#include <optional>
#include <vector>

// The files of a store; a missing file is null.
struct StoreReaders {
    FileReader* index = nullptr;
    FileReader* data = nullptr;
    FileReader* newData = nullptr;
};

enum class RecordState {
    Live,      // the record a run for its number loads: its image, page 1 of its document
    Deleted,   // marked as having no image
    Shadowed,  // an earlier record has the same number and this one is no page of its
               // document: no run ever loads it
    Page,      // a further page of the document a run for its number loads
    Stale,     // marked as a page of another save of the document than the one page 1
               // belongs to (a save that did not finish): no run loads it, the next save
               // reuses it
};
const char* RecordStateName(RecordState state);
// "missing-page", "duplicate-page", "stale-page", "misplaced-page".
const char* PageProblemCode(PageProblem problem);

enum class BlobFile { Data, NewData };
const char* BlobFileName(BlobFile file);

enum class SurveyDepth {
    IndexOnly,  // the index records alone (statistics)
    Header,     // and the bitmap header of each blob (a listing)
    Full,       // and every blob checked strictly (verification)
};

struct SurveyedRecord {
    uint32_t position = 0;  // 0, 1, ... in the index file
    IndexRecord record{};
    RecordState state = RecordState::Live;
    BlobFile file = BlobFile::Data;
    // Past an interrupted compaction's chain, yet its place in pagorex.new holds what looks
    // like a blob of its own (the program reads it from pagorex.dat all the same).
    bool alsoInNewData = false;
    BlobVerdict blob;  // as deep as asked: empty for IndexOnly
    PageMark mark;     // the page mark it carries; pages 0: none
    // What is wrong with it as a page: Duplicate (Shadowed: an earlier record holds its
    // page), Stale, or NotFirst (the first record of its number carries a later page).
    std::optional<PageProblem> pageProblem;
    uint32_t document = 0;  // Live and Page: the position of the document's first record
};

// Pages first..last of a document that no record holds, found once the walk is over.
struct MissingPages {
    uint32_t position = 0;  // of the document's first record
    int32_t recordNumber = 0;
    BlobFile file = BlobFile::Data;  // of the first record
    uint32_t first = 0, last = 0;
    uint32_t pages = 0;  // the document's page count
};

class SurveyVisitor {
public:
    virtual void Record(const SurveyedRecord& record) = 0;
    // After every record, in the order of the documents' first records.
    virtual void Missing(const MissingPages& missing) { (void)missing; }

protected:
    ~SurveyVisitor() = default;
};

struct SurveySummary {
    bool indexReadError = false;  // the index could not be read to its end
    uint32_t indexFragment = 0;   // bytes after the last whole record
    uint32_t records = 0, live = 0, deleted = 0, shadowed = 0, pages = 0, stale = 0;
    uint32_t documents = 0;       // live records whose document has several pages
    uint64_t missingPages = 0;    // pages of those documents that no record holds
    uint32_t pageProblems = 0;    // records with a page problem, and runs of missing pages
    uint32_t plain = 0;           // records whose blob is the image file itself
    uint64_t plainBytes = 0;
    uint64_t liveBytes = 0;       // stored bytes of the live and page records' blobs
    uint32_t problems = 0;        // records whose blob failed the check asked for
    // The data file the program reads: pagorex.dat, or pagorex.new once an interrupted
    // replacement is completed (pagorex.dat gone, pagorex.new left).
    bool dataPresent = false;
    bool replacementPending = false;
    uint64_t dataBytes = 0;
    uint64_t staleBytes = 0;  // of the data file, pointed at by no record: a forced compaction frees them
    // An interrupted compaction: pagorex.new beside pagorex.dat.
    bool newDataPresent = false;
    uint64_t newDataBytes = 0;
    MovedChain chain;                 // the records moved into pagorex.new
    uint64_t newDataStaleBytes = 0;   // of pagorex.new, past the chain
    uint32_t alsoInNewData = 0;       // records past the chain that look as if they still point there
    // The largest image of a live or page record (imageLength, or the stored length of a
    // plain one).
    bool hasLargest = false;
    int32_t largestRecord = 0;
    uint32_t largestPosition = 0;
    uint64_t largestBytes = 0;
};

// The blobs are checked on threads workers (0: one per core; 1: on the calling thread);
// the visitor sees every record on the calling thread, in index order, whatever the count.
SurveySummary SurveyStore(const StoreReaders& store, SurveyDepth depth, SurveyVisitor* visitor,
                          unsigned threads = 0);

// The set of record numbers seen so far: 8 to 16 bytes per number.
class RecordNumberSet {
public:
    // Adds number; answers whether it was new.
    bool Insert(int32_t number)
    {
        bool added = false;
        numbers_.Get(static_cast<uint32_t>(number), added);
        return added;
    }
    bool Contains(int32_t number) { return numbers_.Find(static_cast<uint32_t>(number)) != nullptr; }

private:
    KeyTable<uint32_t, NoValue> numbers_;
};
