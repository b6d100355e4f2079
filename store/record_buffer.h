#pragma once
// The record buffer: the one in-memory index record through which every store operation
// reads, changes and writes records.

#include "store/core/index_record.h"
#include "store/store_files.h"


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
