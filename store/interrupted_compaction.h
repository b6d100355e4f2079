#pragma once
// What a compaction that stopped half-way leaves behind, and how the other store
// operations keep every record pointing at its own blob while that state lasts.
//
// Until the data file is replaced, the records a compaction has moved point into the new
// data file (pagorex.new) and the others into the data file; the moved ones are the
// leading records that form the chain of moved_chain.h. A load reads a moved record from
// the new data file, a save first takes its record out of the chain, the next compaction
// carries on where the stopped one ended, and the recovery command moves the chain back.

#include "store/core/moved_chain.h"
#include "store/store_copy.h"
#include "store/store_files.h"

#include <cstdint>
#include <optional>
#include <vector>

// Scans the index from its start, without touching the record buffer. starts, when
// given, receives the offset of each moved record's blob in the new data file. Nothing
// when the index could not be read as far as the chain goes: a chain cut short by a read
// error would give the records after it up for lost.
std::optional<MovedChain> ScanMovedChain(StoreHandle index, uint32_t newDataSize,
                                         std::vector<uint32_t>* starts = nullptr);

// An earlier program deleted the data file before renaming the new one to it and was
// stopped in between (pagorex.new and no pagorex.dat): the rename is done now.
void CompleteInterruptedReplacement(const StoreFiles& files);

// The store file that holds the blob of the index record at position (a byte offset in
// the index file): the new data file for a record an interrupted compaction has moved, or
// for every record when the data file was deleted before the rename; the data file
// otherwise; null when the index could not be read to tell. Changes nothing.
const char* DataFileOfRecord(const StoreFiles& files, int32_t position);
// The same for every record at once, for a load that reads several blobs: the index is
// scanned for the chain once. Nothing when the index could not be read to tell.
struct BlobFiles {
    const char* all = nullptr;  // the file of every record, when one file holds them all
    uint32_t moved = 0;         // otherwise: the records before this one lie in the new data file
    const char* Of(uint32_t record) const;
};
std::optional<BlobFiles> BlobFilesOfRecords(const StoreFiles& files);

// Called before a save repoints the record at position (-1: a record to be appended).
// A record in the chain, and every moved record after it, first gets its blob back in
// the data file, so that the chain stays unbroken; bytes that no record points at are
// cut from the end of the new data file, which is deleted once nothing points into it.
// Anything but None: that could not be done, and the record must not be repointed.
StoreFailure ReleaseFromMovedChain(const StoreFiles& files, int32_t position);

// Whether a record after the first chainCount ones may point at bytes of the new data
// file at or past from (MayPointIntoNewData): those bytes must then not be cut off or
// deleted. True as well when the files could not be read to tell.
bool NewDataHeldByOthers(StoreHandle index, StoreHandle newData, uint32_t newDataSize, uint32_t chainCount,
                         uint32_t from);
// Whether record, written at place recordIndex of the index, would be taken for the next
// moved record of a new data file that still holds bytes past its chain (and so be read
// from there).
bool TakenForMovedRecord(const StoreFiles& files, uint32_t recordIndex, const IndexRecord& record);

// Writes the record buffer over record i of the index and flushes the index.
bool WriteRecordBufferAt(StoreHandle index, uint32_t i);

// Moves the blobs of the moved records from the last down to keep back to the end of
// the data file, repointing each record and then cutting the new data file back to where
// that blob started. Each step leaves a chain one shorter, so a stop at any moment leaves
// a store that loads; on a failure the data file is cut back to its former end. Without
// cut the new data file keeps its bytes (other records point into them): a
// record moved back that still looks like a link of the chain is then read from bytes
// that are the same blob.
StoreFailure MoveBlobsBack(StoreHandle index, StoreHandle data, StoreHandle newData,
                           const std::vector<uint32_t>& starts, uint32_t keep, bool cut = true);

// The points at which a test may stop a store operation as if the program had been
// killed there. The operation then returns at once, closing its files and cleaning up
// nothing. Only the test build of the store can stop; in the shipped one the questions
// answer false and cost nothing.
enum class StoreStep {
    CompactionRecordRead,    // progress shown, blob not yet staged
    CompactionBlobStaged,    // work file written
    CompactionBlobAppended,  // blob at the end of the new data file, record not yet repointed
    CompactionRecordMoved,   // record repointed into the new data file
    CompactionRolledBack,    // one record of a failed compaction restored
    CompactionBeforeReplace, // every record moved, index flushed, files closed
    CompactionReplaced,      // data file replaced, title not yet set
    BlobMovedBack,           // blob copied to the data file, record not yet repointed
    RecordMovedBack,         // record repointed, new data file not yet cut back
};
#ifdef PAGOREX_TEST_SEAMS
using StoreStopHook = bool (*)(StoreStep step, uint32_t record);
void SetStoreStopHook(StoreStopHook hook);
// Asks the hook; once it has said stop, every later question answers true as well.
bool StoreStopsAt(StoreStep step, uint32_t record);
bool StoreStopped();
#else
inline bool StoreStopsAt(StoreStep, uint32_t) { return false; }
inline bool StoreStopped() { return false; }
#endif
