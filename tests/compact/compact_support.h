#pragma once
// Stores laid out for compaction tests, and the check that every record still yields
// exactly its own image.

#include "store/core/index_record.h"
#include "store/core/page_mark.h"
#include "store/store_support.h"
#include "support/box_watch.h"

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// One record of a store to lay out.
struct Entry {
    int32_t number;
    Bytes image;           // the image file the record holds
    bool plain = false;    // stored uncompressed, as an earlier writer did
    uint8_t deleted = 0;
    size_t staleBefore = 0;  // bytes of a superseded blob laid out just before this one
    PageMark mark{};         // a page of a document (generation 0: none)
};

// What was laid out: the index records, the images they must yield, the data file.
struct LaidOut {
    std::vector<IndexRecord> records;
    std::vector<Bytes> images;
    Bytes index;
    Bytes data;
};

// Blobs go into the data file in the order given by dataOrder (indices into entries;
// empty: index order), so that a record's blob need not follow the previous one's.
LaidOut LayOut(const std::vector<Entry>& entries, const std::vector<size_t>& dataOrder = {});
// The image that record yields from the bytes of the file holding its blob.
Bytes ImageFrom(const IndexRecord& record, const Bytes& file);
// A random store: sizes, plain and compressed blobs, duplicate numbers, deleted marks,
// stale blobs and a shuffled data file.
std::vector<Entry> RandomEntries(std::mt19937& random, size_t count);
std::vector<size_t> RandomOrder(std::mt19937& random, size_t count);

class CompactTest : public StoreDirectory {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes the index and data files of entries and remembers the images.
    LaidOut Store(const std::vector<Entry>& entries, const std::vector<size_t>& dataOrder = {});
    // Every record yields its image, read from the file the store's load would read it
    // from (the new data file for a record an interrupted compaction moved).
    void ExpectEveryImage(const std::vector<Bytes>& images) const;
    // The same, and the store is settled: no new data file, every blob in the data file.
    void ExpectSettled(const std::vector<Bytes>& images) const;
    // Every record still carries the reserved bytes it was laid out with, page marks and
    // all, and the document of number loads as pages.
    void ExpectDocumentKept(const LaidOut& laid, int32_t number, const std::vector<Bytes>& pages) const;
    std::string Title() const;
};
