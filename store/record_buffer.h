#pragma once
// The record buffer: the one in-memory index record through which every store operation
// reads, changes and writes records.

#include "store/index_record.h"
#include "store/store_files.h"

#include <optional>

extern IndexRecord recordBuffer;

// Zeros, with recordNumber set (-1: no record found).
void ResetRecordBuffer(int32_t recordNumber = 0);
// Reads the next 256 bytes into the record buffer; a shorter read leaves it unchanged
// and answers false.
bool ReadRecordBuffer(StoreHandle index);
// Writes the record buffer as one 256-byte block at the current position.
bool WriteRecordBuffer(StoreHandle index);
// Scans the index file from its start; on a match the record is in the record buffer
// and its file position is answered. The first full record with that number wins,
// deleted or not; a trailing fragment never matches.
std::optional<int32_t> FindIndexRecord(StoreHandle index, int32_t recordNumber);
