#pragma once
// Reading the index file front to back in large blocks. Every whole 256-byte record is
// handed out with its place; the scan then ends either at the end of the index (fewer
// than 256 bytes left: a fragment is no record) or at a read that failed or fell short
// with bytes behind it, which says nothing about the records after it and is never taken
// for that end.

#include "store/core/file_reader.h"
#include "store/core/index_record.h"

#include <cstdint>
#include <memory>

class IndexScan {
public:
    enum class Step { Record, End, Error };

    // Takes the index's size once: records a running program appends meanwhile are not
    // seen. blockRecords records are read at a time, from record first on.
    explicit IndexScan(FileReader& index, uint32_t blockRecords = 256, uint32_t first = 0);
    Step Next(IndexRecord& record);
    // The next record's 256 bytes as stored (valid until the next call), for a caller that
    // looks at one field before decoding the rest.
    Step NextBytes(const uint8_t*& bytes);
    // The records not handed out yet of the block read last, or else of the next block read:
    // count of them back to back from bytes (valid until the next call), the first at place
    // first. For a caller that looks at every record in a tight loop of its own.
    Step NextRecords(const uint8_t*& bytes, uint32_t& count, uint32_t& first);
    // The place (0, 1, ...) of the record Next handed out last.
    uint32_t Position() const { return next_ - 1; }
    // Whole records in the index, and the bytes of a trailing fragment.
    uint32_t RecordCount() const { return count_; }
    uint32_t FragmentBytes() const { return fragment_; }

private:
    // Makes sure the block holds the next record, reading the next block when it does not.
    Step Fill();
    FileReader& index_;
    std::unique_ptr<uint8_t[]> block_;
    uint32_t blockCapacity_ = 1;  // records block_ holds
    uint32_t count_ = 0;
    uint32_t fragment_ = 0;
    uint32_t next_ = 0;         // place of the next record
    uint32_t blockStart_ = 0;   // place of the first record in block_
    uint32_t blockRecords_ = 0; // records held in block_
    bool failed_ = false;
};
