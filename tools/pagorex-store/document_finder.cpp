#include "document_finder.h"

#include <algorithm>
#include <tuple>

DocumentFinder::DocumentFinder(bool all, const std::vector<int32_t>& numbers) : all_(all)
{
    for (int32_t number : numbers)
        firsts.emplace(number, FirstRecord{});
}

void DocumentFinder::Record(const SurveyedRecord& s)
{
    const int32_t number = s.record.recordNumber;
    auto first = firsts.find(number);
    if (!all_ && first == firsts.end())
        return;
    if (first != firsts.end() && (s.state == RecordState::Live || s.state == RecordState::Deleted))
        first->second = {true, s.state == RecordState::Deleted, s.position};
    if (s.state == RecordState::Page) {
        pages_.push_back({s.document, s.mark.page, s.position, s.mark.pages, number, s.file});
    } else if (s.state == RecordState::Live) {
        const bool several = s.mark.pages > 1 && !s.pageProblem;
        pages_.push_back({s.position, 1, s.position, several ? s.mark.pages : 1, number, s.file});
        if (s.pageProblem == PageProblem::NotFirst)
            faults_[s.position] = {"its first record carries the mark of page " + std::to_string(s.mark.page) + " of " +
                                       std::to_string(s.mark.pages) + ", so page 1 is missing",
                                   true};
    }
}

void DocumentFinder::Missing(const MissingPages& missing)
{
    if (!all_ && !firsts.count(missing.recordNumber))
        return;
    std::string& why = faults_[missing.position].why;
    why += why.empty() ? "" : "; ";
    why += missing.first == missing.last ? "page " + std::to_string(missing.first) + " of " +
                                               std::to_string(missing.pages) + " is missing"
                                         : "pages " + std::to_string(missing.first) + " to " +
                                               std::to_string(missing.last) + " of " +
                                               std::to_string(missing.pages) + " are missing";
}

void DocumentFinder::Finish()
{
    std::sort(pages_.begin(), pages_.end(), [](const PageRef& a, const PageRef& b) {
        return std::tie(a.document, a.page) < std::tie(b.document, b.page);
    });
}

std::span<const PageRef> DocumentFinder::PagesOf(uint32_t document) const
{
    auto [from, to] = std::equal_range(pages_.begin(), pages_.end(), PageRef{document, 0, 0, 0, 0, BlobFile::Data},
                                       [](const PageRef& a, const PageRef& b) { return a.document < b.document; });
    return {from, to};
}

std::span<const PageRef> DocumentFinder::NextDocument(size_t& at) const
{
    size_t start = at;
    while (at < pages_.size() && pages_[at].document == pages_[start].document)
        ++at;
    return std::span<const PageRef>(pages_).subspan(start, at - start);
}

const DocumentFault* DocumentFinder::FaultOf(uint32_t document) const
{
    auto it = faults_.find(document);
    return it == faults_.end() ? nullptr : &it->second;
}

bool ReadPage(const OpenedStore& store, const PageRef& page, SurveyedRecord& s)
{
    uint8_t bytes[kIndexRecordSize];
    if (store.index->ReadAt(uint64_t(page.position) * kIndexRecordSize, bytes, sizeof bytes) != int64_t(sizeof bytes) ||
        !DecodeIndexRecord(bytes, s.record) || s.record.recordNumber != page.number)
        return false;
    s.position = page.position;
    s.file = page.file;
    s.state = page.page == 1 ? RecordState::Live : RecordState::Page;
    s.mark = ReadPageMark(s.record).value_or(PageMark{});
    s.pageProblem.reset();
    s.document = page.document;
    return page.pages == 1 || s.mark.page == page.page;
}
