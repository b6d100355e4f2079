#pragma once
// Documents of several pages in one host record, kept so that every reader of today still
// finds the record's image where it always did.
//
// A reader finds a record's image as the first index record with its number, in file
// order. That record stays page 1 of the document. Pages 2..n are further records with
// the same number, each marked in the last 32 bytes of its reserved bytes (record bytes
// 224..255) with a page mark: a magic value, the document's generation, the page number,
// the page count and a check value over them and the record number. Page 1 carries a
// mark too: its generation and count say which page records belong to the document, and
// writing page 1 last is what commits a save. A record without a mark is a document of
// one page, exactly as before; a page record of another generation than page 1's is not
// part of the document (a save that did not finish left it) and is reused by the next.
// No windows.h: the program, the tool and the native tests share it.

#include "store/core/index_record.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Where the mark lies in a record, and its length.
inline constexpr size_t kPageMarkOffset = 224;
inline constexpr size_t kPageMarkBytes = 32;
static_assert(kPageMarkOffset + kPageMarkBytes == kIndexRecordSize);
static_assert(kPageMarkOffset >= offsetof(IndexRecord, reserved));

// The 8 bytes a mark starts with: a value no other writer's bytes carry by accident (its
// check value is then checked too).
inline constexpr uint8_t kPageMagic[8] = {0x9A, 'P', 'G', 'X', 0x0D, 0x0A, 0x1A, 0x0A};

// The most pages a document may have: a mark that claims more is no mark (a reader would
// otherwise make room for billions of pages on a record's word).
inline constexpr uint32_t kMostPages = 65535;

struct PageMark {
    uint32_t generation = 0;  // one per save of the document, never 0
    uint32_t page = 0;        // 1 .. pages
    uint32_t pages = 0;       // the document's page count, 2 or more
};

// The record's mark, when it carries one whose check value holds for its record number.
std::optional<PageMark> ReadPageMark(const IndexRecord& record);
// Writes the mark into the record's reserved bytes (the record number must be set).
void WritePageMark(IndexRecord& record, const PageMark& mark);
// Takes a mark out of a record that carries one (those bytes become zero); the other
// reserved bytes, another writer's, stay as they are.
void ClearPageMark(IndexRecord& record);

// A record of one number as the index holds it.
struct NumberedRecord {
    uint32_t position = 0;  // 0, 1, ... in the index file
    IndexRecord record{};
};

// What is wrong with a document: a page record the first page asks for is not there, two
// records claim one page, a page record of another generation is left behind, or the
// first record carries the mark of a later page.
enum class PageProblem { Missing, Duplicate, Stale, NotFirst };
struct PageFault {
    PageProblem problem;
    uint32_t page;      // the page concerned
    uint32_t position;  // the record concerned (for Missing: page 1's)
};

// The document of one record number, assembled from every record with that number in
// index order.
struct Document {
    bool found = false;        // a record with the number exists
    bool deleted = false;      // the first is marked deleted: the record has no image
    uint32_t generation = 0;   // of page 1; 0 for a document of one unmarked page
    uint32_t pageCount = 0;    // pages the first record says the document has (1 unmarked)
    // The record of each page 1..pageCount that was found (the first of several claiming
    // it), or none where it is missing.
    std::vector<std::optional<NumberedRecord>> pages;
    // Records with the number that are no part of the document: a later save may write its
    // page records over them.
    std::vector<uint32_t> spare;
    std::vector<PageFault> faults;
    uint32_t highestGeneration = 0;  // over every marked record with the number
    // The pages that were found, in order.
    std::vector<NumberedRecord> FoundPages() const;
};

// Assembles the document from the records that carry its number, in index order.
Document AssembleDocument(const std::vector<NumberedRecord>& records);
