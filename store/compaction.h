#pragma once
// Rebuilding the data file without the blobs no record points at, and repairing a store
// that a stopped compaction left behind.

#include "store/store_host.h"

// Goes ahead when the first index record is plain (a store that still holds images of an
// earlier writer) or force is 1. Answers false, doing nothing, when asked for inside
// another store operation.
bool CompactStore(StoreHost& host, unsigned char force);
// After two questions, moves the blobs a stopped compaction had moved into the new data
// file back into the data file.
void RecoverFromNewData(StoreHost& host);

#ifdef PAGOREX_TEST_SEAMS
#include <cstddef>
// Records are repointed in batches of this many (0: as shipped).
void SetCompactionBatchForTest(size_t records);
#endif
