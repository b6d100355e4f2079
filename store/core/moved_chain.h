#pragma once
// Recognises the index records that an interrupted compaction has already moved into the
// new data file. Compaction moves blobs in index order and writes them back to back from
// offset 0 of the new data file, so the moved records are exactly the leading records
// that form an unbroken chain there: each is compressed, starts where the previous one
// ended and lies wholly inside the new data file. The chain stops at the first record
// that does not continue it; a later record that happens to point below the file's size
// is not part of it. Byte-level code only (no windows.h), so it also builds natively.

#include "store/core/index_record.h"

#include <cstdint>

struct MovedChain {
    uint32_t count = 0;  // leading records that point into the new data file
    uint32_t end = 0;    // where the last of their blobs ends
};

// Adds record to the chain when it is the next moved one; answers whether it was. Once
// a record has not continued the chain, no later record may be offered.
bool ExtendMovedChain(MovedChain& chain, const IndexRecord& record, uint32_t newDataSize);

// A record after the chain may still point into the new data file when the chain broke
// off before it (a short blob, a gap left by a failure). Nothing in the record says
// which file it points into; its place in the new data file holding a whole blob of its
// own is taken as the sign: a compressed record whose bytes there lie inside the file
// and start like a gzip member (head: its first 3 bytes) whose length field (tail: its
// last 4 bytes) is the record's image length. A record of the data file almost never
// finds such bytes at its place in the new data file by chance.
bool MayPointIntoNewData(const IndexRecord& record, uint32_t newDataSize);
bool LooksLikeOwnBlob(const IndexRecord& record, const uint8_t head[3], const uint8_t tail[4]);
