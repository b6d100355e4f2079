// The walk over a whole store.
#include "store/core/store_survey.h"

#include "store/core/blob_checks.h"
#include "store/core/index_scan.h"

#include <algorithm>
#include <optional>
#include <tuple>

namespace {
constexpr uint64_t kLargestOffset = 0xFFFFFFFFu;  // a record's offsets are 32-bit

// The bytes of [offset, offset + length) that lie inside a file of size bytes.
uint64_t Inside(uint64_t offset, uint64_t length, uint64_t size)
{
    uint64_t start = std::min(offset, size), end = std::min(offset + length, size);
    return end - start;
}

// A record past the chain whose place in pagorex.new starts like a gzip member of its own
// image length: the bytes there are still its blob, as the program judges before it cuts
// or deletes pagorex.new. Two small reads, not through the window: such records may lie
// anywhere in the file.
bool LooksHeldInNewData(FileReader& newData, const IndexRecord& record, uint32_t newDataSize, uint32_t chainEnd)
{
    if (!MayPointIntoNewData(record, newDataSize) || record.dataOffset + record.storedLength <= chainEnd)
        return false;
    uint8_t head[3], tail[4];
    uint64_t tailAt = uint64_t(record.dataOffset) + record.storedLength - sizeof tail;
    return newData.ReadAt(record.dataOffset, head, sizeof head) == sizeof head &&
           newData.ReadAt(tailAt, tail, sizeof tail) == sizeof tail && LooksLikeOwnBlob(record, head, tail);
}
}  // namespace

const char* RecordStateName(RecordState state)
{
    switch (state) {
    case RecordState::Live:
        return "live";
    case RecordState::Deleted:
        return "deleted";
    case RecordState::Shadowed:
        return "shadowed";
    case RecordState::Page:
        return "page";
    case RecordState::Stale:
        return "stale";
    }
    return "?";
}

const char* PageProblemCode(PageProblem problem)
{
    switch (problem) {
    case PageProblem::Missing:
        return "missing-page";
    case PageProblem::Duplicate:
        return "duplicate-page";
    case PageProblem::Stale:
        return "stale-page";
    case PageProblem::NotFirst:
        return "misplaced-page";
    }
    return "?";
}

const char* BlobFileName(BlobFile file)
{
    return file == BlobFile::NewData ? "pagorex.new" : "pagorex.dat";
}

namespace {
// The documents of several pages the walk has met, by record number. The rules are
// AssembleDocument's, applied one record at a time. A document some of whose pages have
// not come keeps what its first record says and how many pages have come in order; once
// every page has come, only where its first record lies is kept, and read again for the
// rare later record that carries a mark of the number.
class Documents {
public:
    explicit Documents(FileReader& index) : index_(index) {}
    // Gives the record its state, its page mark and the place of its document.
    void Classify(SurveyedRecord& s);
    // After the walk: the pages no record held, in runs, in the order of the documents.
    std::vector<MissingPages> Missing() const;

private:
    struct Open {
        uint32_t generation, pages;
        uint32_t contiguous;  // pages 1..contiguous have all come
        uint32_t position;    // of the first record
        BlobFile file;        // of the first record
    };
    // The first record of its number: opens its document when it is page 1 of several.
    void First(SurveyedRecord& s);
    // A later record (Shadowed so far): a page of its number's open document, or no part
    // of its document (open, whole: the first record's position, or neither).
    void Later(SurveyedRecord& s, Open* open, const uint32_t* whole);
    static uint64_t Key(int32_t number, uint32_t page) { return uint64_t(uint32_t(number)) << 32 | page; }
    bool Claim(int32_t number, Open& document, uint32_t page);
    // Whether the mark belongs to the save of the first record at position.
    bool OfTheSave(uint32_t position, const PageMark& mark);

    FileReader& index_;
    RecordNumberSet seen_;                  // the numbers that have no document of several pages
    KeyTable<uint32_t, Open> open_;         // documents some of whose pages have not come
    KeyTable<uint32_t, uint32_t> whole_;    // the others, and where their first record lies
    KeyTable<uint64_t, NoValue> scattered_;  // pages that came before a lower page of theirs
};

void Documents::Classify(SurveyedRecord& s)
{
    s.mark = ReadPageMark(s.record).value_or(PageMark{});
    s.pageProblem.reset();
    s.document = s.position;
    Open* open = open_.Find(uint32_t(s.record.recordNumber));
    const uint32_t* whole = open ? nullptr : whole_.Find(uint32_t(s.record.recordNumber));
    if (open || whole || seen_.Contains(s.record.recordNumber)) {
        s.state = RecordState::Shadowed;
        Later(s, open, whole);
    } else {
        s.state = s.record.deleted != 0 ? RecordState::Deleted : RecordState::Live;
        First(s);
    }
}

void Documents::First(SurveyedRecord& s)
{
    const PageMark& mark = s.mark;
    if (mark.pages != 0 && mark.page != 1)
        s.pageProblem = PageProblem::NotFirst;
    if (mark.pages == 0 || mark.page != 1 || s.state == RecordState::Deleted) {
        seen_.Insert(s.record.recordNumber);
        return;
    }
    bool added = false;
    open_.Get(uint32_t(s.record.recordNumber), added) = {mark.generation, mark.pages, 1, s.position, s.file};
}

void Documents::Later(SurveyedRecord& s, Open* open, const uint32_t* whole)
{
    const PageMark& mark = s.mark;
    const uint32_t number = uint32_t(s.record.recordNumber);
    if (s.record.deleted != 0 || mark.pages == 0)
        return;  // spare, or another writer's record: shadowed, as ever
    if (open && mark.generation == open->generation && mark.pages == open->pages) {
        if (mark.page == 1 || !Claim(s.record.recordNumber, *open, mark.page)) {
            s.pageProblem = PageProblem::Duplicate;
            return;
        }
        s.state = RecordState::Page;
        s.document = open->position;
        if (open->contiguous == open->pages) {
            bool added = false;
            whole_.Get(number, added) = open->position;
            open_.Erase(number);
        }
    } else if (whole && OfTheSave(*whole, mark)) {
        s.pageProblem = PageProblem::Duplicate;  // every page has come
    } else {
        s.state = RecordState::Stale;
        s.pageProblem = PageProblem::Stale;
    }
}

bool Documents::OfTheSave(uint32_t position, const PageMark& mark)
{
    uint8_t bytes[kIndexRecordSize];
    IndexRecord first;
    if (index_.ReadAt(uint64_t(position) * kIndexRecordSize, bytes, sizeof bytes) != int64_t(sizeof bytes) ||
        !DecodeIndexRecord(bytes, first))
        return false;
    std::optional<PageMark> its = ReadPageMark(first);
    return its && its->generation == mark.generation && its->pages == mark.pages;
}

// Pages mostly come in order: those that do only move the document's count of pages come
// so far, and only the others are kept one by one.
bool Documents::Claim(int32_t number, Open& document, uint32_t page)
{
    if (page <= document.contiguous)
        return false;
    bool added = false;
    if (page > document.contiguous + 1) {
        scattered_.Get(Key(number, page), added);
        return added;
    }
    document.contiguous = page;
    while (document.contiguous < document.pages && scattered_.Find(Key(number, document.contiguous + 1)))
        ++document.contiguous;
    return true;
}

std::vector<MissingPages> Documents::Missing() const
{
    std::vector<uint64_t> scattered;
    scattered_.ForEach([&](uint64_t key, NoValue) { scattered.push_back(key); });
    std::sort(scattered.begin(), scattered.end());
    std::vector<MissingPages> runs;
    open_.ForEach([&](uint32_t number, const Open& d) {
        auto run = [&](uint64_t first, uint64_t last) {
            runs.push_back({d.position, int32_t(number), d.file, uint32_t(first), uint32_t(last), d.pages});
        };
        uint64_t next = uint64_t(d.contiguous) + 1;  // the first page not known to be there
        for (auto it = std::lower_bound(scattered.begin(), scattered.end(), Key(int32_t(number), uint32_t(next)));
             it != scattered.end() && *it >> 32 == number; ++it) {
            if (uint32_t(*it) > next)
                run(next, uint32_t(*it) - 1);
            next = uint64_t(uint32_t(*it)) + 1;
        }
        if (next <= d.pages)
            run(next, d.pages);
    });
    std::sort(runs.begin(), runs.end(), [](const MissingPages& a, const MissingPages& b) {
        return std::tie(a.position, a.first) < std::tie(b.position, b.first);
    });
    return runs;
}

// The data file the program reads, and pagorex.new beside it, as the summary tells them.
void TakeFiles(const StoreReaders& store, FileReader*& data, FileReader*& newData, SurveySummary& summary)
{
    data = store.data;
    newData = store.newData;
    // The program renames a pagorex.new left without pagorex.dat before it reads anything.
    if (!data && newData) {
        data = newData;
        newData = nullptr;
        summary.replacementPending = true;
    }
    summary.dataPresent = data != nullptr;
    summary.dataBytes = data ? data->Size() : 0;
    summary.newDataPresent = newData != nullptr;
    summary.newDataBytes = newData ? newData->Size() : 0;
}

// Counts the record into the summary; answers its stored bytes inside the data file.
uint64_t Count(const SurveyedRecord& s, SurveySummary& summary)
{
    const IndexRecord& r = s.record;
    ++summary.records;
    summary.live += s.state == RecordState::Live;
    summary.deleted += s.state == RecordState::Deleted;
    summary.shadowed += s.state == RecordState::Shadowed;
    summary.pages += s.state == RecordState::Page;
    summary.stale += s.state == RecordState::Stale;
    summary.documents += s.state == RecordState::Live && s.mark.pages > 1 && !s.pageProblem;
    summary.pageProblems += s.pageProblem.has_value();
    // A damaged record may claim any length: only what lies inside its file counts.
    const uint64_t stored =
        Inside(r.dataOffset, r.storedLength, s.file == BlobFile::NewData ? summary.newDataBytes : summary.dataBytes);
    if (r.compressed == 0) {
        ++summary.plain;
        summary.plainBytes += stored;
    }
    uint64_t imageBytes = r.compressed != 0 ? r.imageLength : r.storedLength;
    if (s.state == RecordState::Live || s.state == RecordState::Page) {
        summary.liveBytes += stored;
        if (!summary.hasLargest || imageBytes > summary.largestBytes) {
            summary.hasLargest = true;
            summary.largestRecord = r.recordNumber;
            summary.largestPosition = s.position;
            summary.largestBytes = imageBytes;
        }
    }
    return s.file == BlobFile::Data ? Inside(r.dataOffset, r.storedLength, summary.dataBytes) : 0;
}
}  // namespace

SurveySummary SurveyStore(const StoreReaders& store, SurveyDepth depth, SurveyVisitor* visitor, unsigned threads)
{
    SurveySummary summary;
    FileReader *data = nullptr, *newData = nullptr;
    TakeFiles(store, data, newData, summary);
    uint32_t newDataSize = static_cast<uint32_t>(std::min<uint64_t>(summary.newDataBytes, kLargestOffset));
    // An empty pagorex.new holds no moved record.
    bool chainOpen = newDataSize > 0;

    std::optional<BlobChecks> checks;
    if (depth != SurveyDepth::IndexOnly)
        checks.emplace(data, newData, depth == SurveyDepth::Header, threads);
    auto deliver = [&](const SurveyedRecord& checked) {
        if (depth == SurveyDepth::Full && !checked.blob.ok())
            ++summary.problems;
        if (visitor)
            visitor->Record(checked);
    };
    Documents documents(*store.index);
    IndexScan scan(*store.index);
    uint64_t storedInData = 0;
    SurveyedRecord s;
    for (;;) {
        IndexScan::Step step = scan.Next(s.record);
        if (step != IndexScan::Step::Record) {
            summary.indexReadError = step == IndexScan::Step::Error;
            break;
        }
        const IndexRecord& r = s.record;
        s.position = scan.Position();
        chainOpen = chainOpen && ExtendMovedChain(summary.chain, r, newDataSize);
        s.file = chainOpen ? BlobFile::NewData : BlobFile::Data;
        s.alsoInNewData =
            !chainOpen && newData && newDataSize > 0 && LooksHeldInNewData(*newData, r, newDataSize, summary.chain.end);
        summary.alsoInNewData += s.alsoInNewData;
        documents.Classify(s);
        storedInData += Count(s, summary);

        s.blob = BlobVerdict{};
        if (checks)
            checks->Add(s, deliver);
        else
            deliver(s);
    }
    if (checks)
        checks->Finish(deliver);
    for (const MissingPages& missing : documents.Missing()) {
        summary.missingPages += uint64_t(missing.last) - missing.first + 1;
        ++summary.pageProblems;
        if (visitor)
            visitor->Missing(missing);
    }
    summary.indexFragment = scan.FragmentBytes();
    summary.staleBytes = summary.dataBytes - std::min(summary.dataBytes, storedInData);
    summary.newDataStaleBytes = summary.newDataBytes - std::min<uint64_t>(summary.newDataBytes, summary.chain.end);
    return summary;
}
