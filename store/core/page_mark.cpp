#include "store/core/page_mark.h"

#include "base/little_endian.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {
// Offsets inside the mark.
constexpr size_t kGeneration = 8, kPage = 12, kPages = 16, kCheck = 24;

uint32_t CheckValue(const uint8_t* mark, int32_t recordNumber)
{
    uint8_t number[4];
    StoreLE32(number, uint32_t(recordNumber));
    uLong crc = crc32(0, mark, kCheck);
    return uint32_t(crc32(crc, number, 4));
}

uint8_t* MarkOf(IndexRecord& record)
{
    return reinterpret_cast<uint8_t*>(&record) + kPageMarkOffset;
}

const uint8_t* MarkOf(const IndexRecord& record)
{
    return reinterpret_cast<const uint8_t*>(&record) + kPageMarkOffset;
}
}  // namespace

std::optional<PageMark> ReadPageMark(const IndexRecord& record)
{
    const uint8_t* mark = MarkOf(record);
    if (std::memcmp(mark, kPageMagic, sizeof kPageMagic) != 0 ||
        LoadLE32(mark + kCheck) != CheckValue(mark, record.recordNumber))
        return std::nullopt;
    PageMark m{LoadLE32(mark + kGeneration), LoadLE32(mark + kPage), LoadLE32(mark + kPages)};
    if (m.generation == 0 || m.pages < 2 || m.pages > kMostPages || m.page < 1 || m.page > m.pages)
        return std::nullopt;
    return m;
}

void WritePageMark(IndexRecord& record, const PageMark& mark)
{
    uint8_t* at = MarkOf(record);
    std::memset(at, 0, kPageMarkBytes);
    std::memcpy(at, kPageMagic, sizeof kPageMagic);
    StoreLE32(at + kGeneration, mark.generation);
    StoreLE32(at + kPage, mark.page);
    StoreLE32(at + kPages, mark.pages);
    StoreLE32(at + kCheck, CheckValue(at, record.recordNumber));
}

void ClearPageMark(IndexRecord& record)
{
    if (ReadPageMark(record))
        std::memset(MarkOf(record), 0, kPageMarkBytes);
}

std::vector<NumberedRecord> Document::FoundPages() const
{
    std::vector<NumberedRecord> found;
    for (const std::optional<NumberedRecord>& page : pages)
        if (page)
            found.push_back(*page);
    return found;
}

namespace {
// The first record: the document's page 1, and how many pages it says there are.
void TakeFirst(Document& d, const NumberedRecord& first)
{
    d.found = true;
    d.deleted = first.record.deleted != 0;
    d.pageCount = 1;
    std::optional<PageMark> mark = ReadPageMark(first.record);
    if (mark && mark->page != 1)
        d.faults.push_back({PageProblem::NotFirst, mark->page, first.position});
    else if (mark && !d.deleted)
        d.generation = mark->generation, d.pageCount = mark->pages;
    d.pages.assign(d.pageCount, std::nullopt);
    d.pages[0] = first;
}

// A later record: a page of the document, one that is no part of it, or a fault.
void TakeLater(Document& d, const NumberedRecord& r)
{
    std::optional<PageMark> mark = ReadPageMark(r.record);
    if (r.record.deleted != 0) {
        d.spare.push_back(r.position);
        return;
    }
    if (!mark)
        return;  // another writer's record that no run loads: left alone
    if (d.generation == 0 || mark->generation != d.generation || mark->pages != d.pageCount) {
        d.faults.push_back({PageProblem::Stale, mark->page, r.position});
        d.spare.push_back(r.position);
        return;
    }
    std::optional<NumberedRecord>& slot = d.pages[mark->page - 1];
    if (mark->page == 1 || slot)
        d.faults.push_back({PageProblem::Duplicate, mark->page, r.position});
    else
        slot = r;
}
}  // namespace

Document AssembleDocument(const std::vector<NumberedRecord>& records)
{
    Document d;
    for (const NumberedRecord& r : records) {
        if (std::optional<PageMark> mark = ReadPageMark(r.record))
            d.highestGeneration = std::max(d.highestGeneration, mark->generation);
        if (!d.found)
            TakeFirst(d, r);
        else
            TakeLater(d, r);
    }
    for (uint32_t page = 2; page <= d.pages.size(); ++page)
        if (!d.pages[page - 1])
            d.faults.push_back({PageProblem::Missing, page, d.pages[0]->position});
    return d;
}
