// Writing a document's index records in the order that commits it with page 1's.
#include "store/page_records.h"

#include "store/record_buffer.h"

#include <algorithm>
#include <set>

namespace {
int32_t Offset(uint32_t record)
{
    return static_cast<int32_t>(record * kIndexRecordSize);
}

bool WriteAt(StoreHandle index, uint32_t at, const IndexRecord& record)
{
    recordBuffer = record;
    return SeekStoreFile(index, Offset(at), FILE_BEGIN) == Offset(at) && WriteRecordBuffer(index);
}

// A generation above every one the number's marks carry; after the last one, the first
// that none carries.
uint32_t FreeGeneration(const std::vector<NumberedRecord>& records, uint32_t highest)
{
    if (highest < UINT32_MAX)
        return highest + 1;
    std::set<uint32_t> taken;
    for (const NumberedRecord& r : records)
        if (std::optional<PageMark> mark = ReadPageMark(r.record))
            taken.insert(mark->generation);
    uint32_t generation = 1;
    while (taken.count(generation))
        ++generation;
    return generation;
}

// Where records appended to the index go: after the last whole record (a trailing
// fragment would shift them off the 256-byte grid, where no lookup finds them).
std::optional<uint32_t> AppendPlace(StoreHandle index)
{
    int32_t end = SeekStoreFile(index, 0, FILE_END);
    if (end < 0)
        return std::nullopt;
    return IndexRecordCount(static_cast<uint32_t>(end));
}

void TakeBlob(IndexRecord& record, const IndexRecord& blob, int32_t recordNumber)
{
    record.deleted = 0;
    record.recordNumber = recordNumber;
    record.dataOffset = blob.dataOffset;
    record.storedLength = blob.storedLength;
    record.compressed = blob.compressed;
    record.imageLength = blob.imageLength;
}

// Pages 2..n into the spare records of the number (they lie after page 1, which is the
// number's first record), then appended. Appended records are flushed whenever they fill
// a page of the file the disk writes as a whole (4 KB): a page lost while a later one
// reached the disk would leave a hole of zeros, records of number 0, in the index.
bool WriteLaterPages(StoreHandle index, int32_t recordNumber, const PagePlan& plan,
                     const std::vector<IndexRecord>& blobs, uint32_t& appendAt, std::vector<uint32_t>& reused)
{
    constexpr uint32_t kRecordsPerDiskPage = 4096 / kIndexRecordSize;
    const uint32_t pages = static_cast<uint32_t>(blobs.size());
    size_t spare = 0;
    for (uint32_t page = 2; page <= pages; ++page) {
        IndexRecord record{};
        uint32_t at = appendAt;
        if (spare < plan.document.spare.size()) {
            at = plan.document.spare[spare++];
            auto found = std::find_if(plan.records.begin(), plan.records.end(),
                                      [at](const NumberedRecord& r) { return r.position == at; });
            record = found->record;  // another writer's reserved bytes stay
            reused.push_back(at);
        } else {
            ++appendAt;
        }
        TakeBlob(record, blobs[page - 1], recordNumber);
        WritePageMark(record, {plan.generation, page, pages});
        if (!WriteAt(index, at, record))
            return false;
        if (at + 1 == appendAt && appendAt % kRecordsPerDiskPage == 0 && !FlushStoreFile(index))
            return false;
    }
    return FlushStoreFile(index);
}
}  // namespace

PagePlan PlanPages(StoreHandle index, int32_t recordNumber)
{
    PagePlan plan;
    RecordsOfNumber found = FindRecordsOfNumber(index, recordNumber);
    plan.unreadable = found.unreadable;
    plan.records = std::move(found.records);
    plan.document = AssembleDocument(plan.records);
    plan.generation = FreeGeneration(plan.records, plan.document.highestGeneration);
    return plan;
}

std::optional<uint32_t> FirstPagePlace(StoreHandle index, const PagePlan& plan)
{
    if (!plan.records.empty())
        return plan.records.front().position;
    return AppendPlace(index);
}

bool WriteDocumentRecords(StoreHandle index, int32_t recordNumber, const PagePlan& plan,
                          const std::vector<IndexRecord>& blobs, std::vector<uint32_t>& reused)
{
    std::optional<uint32_t> end = AppendPlace(index);
    if (!end)
        return false;
    reused.clear();
    reused.reserve(blobs.size());
    uint32_t appendAt = *end;
    // Page 1 of a number the index lacks first holds its place as a deleted record (no
    // image, as before), so that it precedes its pages.
    IndexRecord first{};
    first.recordNumber = recordNumber;
    first.deleted = 1;
    uint32_t firstAt = appendAt;
    if (!plan.records.empty())
        first = plan.records.front().record, firstAt = plan.records.front().position;
    bool placeholder = plan.records.empty() && blobs.size() > 1;
    bool written = !placeholder || (WriteAt(index, appendAt++, first) && FlushStoreFile(index));
    written = written && WriteLaterPages(index, recordNumber, plan, blobs, appendAt, reused);
    IndexRecord page1 = first;
    TakeBlob(page1, blobs[0], recordNumber);
    if (blobs.size() > 1)
        WritePageMark(page1, {plan.generation, 1, static_cast<uint32_t>(blobs.size())});
    else
        ClearPageMark(page1);
    // Success is reported only once page 1's record is on the disk.
    if (written && WriteAt(index, firstAt, page1) && FlushStoreFile(index))
        return true;
    // Leave no half-written record behind: the old page 1 back, and what was appended gone.
    if (!plan.records.empty())
        WriteAt(index, firstAt, first);
    if (appendAt > *end || plan.records.empty())
        TruncateStoreFile(index, Offset(*end));
    return false;
}

void RetireOldPages(StoreHandle index, const PagePlan& plan, const std::vector<uint32_t>& kept)
{
    bool wrote = false;
    for (size_t i = 1; i < plan.records.size(); ++i) {
        IndexRecord record = plan.records[i].record;
        uint32_t at = plan.records[i].position;
        if (record.deleted != 0 || !ReadPageMark(record) || std::find(kept.begin(), kept.end(), at) != kept.end())
            continue;
        record.deleted = 1;
        if (!WriteAt(index, at, record))
            break;
        wrote = true;
    }
    if (wrote)
        FlushStoreFile(index);
}
