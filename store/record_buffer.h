#pragma once
// The record buffer: the one in-memory index record through which every store operation
// reads, changes and writes records.

#include "store/core/file_reader.h"
#include "store/core/index_record.h"
#include "store/core/index_scan.h"
#include "store/core/page_mark.h"
#include "store/store_copy.h"
#include "store/store_files.h"

#include <vector>


extern IndexRecord recordBuffer;

// Zeros, with recordNumber set (-1: no record found).
void ResetRecordBuffer(int32_t recordNumber = 0);

// What reading the next index record gave. The index ends where fewer than 256 bytes
// are left; a read that fails, or falls short with bytes behind it, says nothing about
// the records after it and must never be taken for that end.
enum class RecordRead { Record, End, Error };
// Reads the next 256 bytes into record; anything but a whole record leaves it unchanged.
RecordRead ReadIndexRecord(StoreHandle index, IndexRecord& record);
// The same, into the record buffer.
RecordRead ReadRecordBuffer(StoreHandle index);
// A store file read the way the store's core reads files (positioned reads), through the
// store's own file layer, so that its faults reach the core's readers too.
// alone: nothing else moves the file's position while it reads, so a read that goes on
// where the last one ended is not sought first (under Wine a seek costs about as much as
// reading a megabyte).
class StoreFileReader final : public FileReader {
public:
    explicit StoreFileReader(StoreHandle file, bool alone = false) : file_(file), alone_(alone) {}
    int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override;
    uint64_t Size() override;

private:
    StoreHandle file_;
    bool alone_;
    uint64_t position_ = UINT64_MAX;  // where the last read left the file, when alone
};

// Reads the index file's records one after another from a given record on, in blocks of
// many records (the core's index scan): reading an index of a million records one record
// per call takes many times as long as reading the file. Every read says where it reads,
// so the file may be sought and written between records (a record already delivered may
// be rewritten; the block holds the records after it as they were read).
class IndexReader {
public:
    // blockBytes: how much one read takes (a whole number of records); alone: as for
    // StoreFileReader, for a scan that neither writes nor seeks until it is done.
    explicit IndexReader(StoreHandle index, uint32_t first = 0, uint32_t blockBytes = kChunkSize,
                         bool alone = false);
    IndexReader(const IndexReader&) = delete;
    IndexReader& operator=(const IndexReader&) = delete;
    // The next record's 256 bytes, or null with why there is none (End or Error), as
    // ReadIndexRecord tells them apart.
    const uint8_t* NextBytes(RecordRead& read);
    // The records of the next read not handed out yet, count of them from bytes, the first
    // at place first; null with why there are none, as NextBytes.
    const uint8_t* NextRecords(RecordRead& read, uint32_t& count, uint32_t& first);
    // The next record decoded into record; anything but a record leaves it unchanged.
    RecordRead Next(IndexRecord& record);
    // The place in the index of the record the last call delivered.
    uint32_t Delivered() const { return scan_.Position(); }

private:
    StoreFileReader file_;
    IndexScan scan_;
};

// Writes the record buffer as one 256-byte block at the current position.
bool WriteRecordBuffer(StoreHandle index);

struct IndexLookup {
    enum class Outcome { Found, Missing, Unreadable };
    Outcome outcome = Outcome::Missing;
    int32_t position = -1;  // of the match
    bool found() const { return outcome == Outcome::Found; }
    bool unreadable() const { return outcome == Outcome::Unreadable; }
};
// Scans the index file from its start; on a match the record is in the record buffer
// and its file position is answered. The first full record with that number wins,
// deleted or not; a trailing fragment never matches. Unreadable: the index could not
// be read up to a match or its end, so the record may well be there.
IndexLookup FindIndexRecord(StoreHandle index, int32_t recordNumber);

// Every whole record with the number from record first on, in index order: the pages of
// its document and whatever else carries the number. One scan in large blocks, looking at
// nothing but the 4-byte number of the records that do not match. Unreadable: the index
// could not be read to its end, so records of the number may be missing from the list.
struct RecordsOfNumber {
    std::vector<NumberedRecord> records;
    bool unreadable = false;
};
RecordsOfNumber FindRecordsOfNumber(StoreHandle index, int32_t recordNumber, uint32_t first = 0);
