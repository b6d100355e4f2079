#pragma once
// One compaction's state, shared by its steps (compaction.cpp) and the mover that takes
// every record's blob into the new data file (blob_mover.cpp).

#include "store/core/moved_chain.h"
#include "store/record_buffer.h"
#include "store/store_files.h"
#include "store/store_host.h"

#include <cstdint>
#include <vector>

struct MovedRecord {
    uint32_t index;        // its place in the index file
    IndexRecord original;  // as it was before this compaction moved it
};

struct Compaction {
    StoreHost& host;
    const StoreFiles& files;
    StoreHandle index;
    StoreHandle data;
    StoreHandle newData;
    MovedChain earlier;               // records an earlier, stopped compaction moved
    std::vector<MovedRecord> moved;   // records this one moved, in index order
    uint32_t unchanged = 0;           // records this one copied to the very place they had
    std::vector<int32_t> damaged;     // host records whose blobs lay partly or wholly past the data file
    const char* failure = nullptr;    // why it could not finish
    bool stagedHead = false;          // earlier: only the data file's unchanged head, copied by this one
};

// Why a compaction stops for want of memory, in its report.
inline constexpr char kCompactionNoMemory[] = "there was not enough memory to compress an image";
inline constexpr char kCompactionFault[] = "compressing an image failed (an internal error of the program)";

// Moves the blob of every record after the earlier chain into the new data file and
// repoints the records, showing which image it is at. False when it could not finish
// (c.failure says why, unless a test stopped it): every record then still points at a
// whole blob of its own, and c.moved holds those this run repointed. It runs out of
// memory like it runs out of disk space.
bool MoveAllRecords(Compaction& c);
