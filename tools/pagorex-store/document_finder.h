#pragma once
// The documents an export asks for, found in one walk over the index: where each page
// lies and what keeps a document from being whole. A page's record is read again from
// the index when its turn comes, so that an export of every record keeps 24 bytes a
// page, not the record.

#include "tool_command.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

// A page of a document, as the walk found it.
struct PageRef {
    uint32_t document;  // the position of the document's first record
    uint32_t page;      // 1 .. pages
    uint32_t position;
    uint32_t pages;     // the document's page count
    int32_t number;
    BlobFile file;
};

// The first record of a number asked for, as a run for that number finds it.
struct FirstRecord {
    bool found = false;
    bool deleted = false;
    uint32_t position = 0;
};

// What keeps a document from being exported whole.
struct DocumentFault {
    std::string why;           // said after "not exported: "
    bool anyPage = false;      // no page of it is exported either (its first record is misplaced)
};

class DocumentFinder final : public SurveyVisitor {
public:
    // The documents of every live record (all), or of the numbers.
    DocumentFinder(bool all, const std::vector<int32_t>& numbers);
    void Record(const SurveyedRecord& s) override;
    void Missing(const MissingPages& missing) override;
    // Once the walk is over: the pages in the order of their documents, page by page.
    void Finish();

    // The pages found of the document whose first record is at document.
    std::span<const PageRef> PagesOf(uint32_t document) const;
    // The pages of the document that starts at at (an index into every page found), and
    // at moved past them; empty past the last. Documents come in the index order of their
    // first records.
    std::span<const PageRef> NextDocument(size_t& at) const;
    const DocumentFault* FaultOf(uint32_t document) const;

    std::unordered_map<int32_t, FirstRecord> firsts;  // of the numbers asked for

private:
    bool all_;
    std::vector<PageRef> pages_;
    std::map<uint32_t, DocumentFault> faults_;
};

// Reads the page's record from the index again, as the walk saw it; false when it cannot
// be read or is no longer that record (a store read without the lock may change).
bool ReadPage(const OpenedStore& store, const PageRef& page, SurveyedRecord& s);
