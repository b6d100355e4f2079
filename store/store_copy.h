#pragma once
// Moving blobs: the chunked copy and appending the work file to a data file.

#include "store/core/parallel_gzip.h"
#include "store/store_files.h"

#include <cstdint>
#include <functional>

// Copies move blocks of this size. Every platform call costs the same whatever it moves
// (under Wine a copy through 1 KB calls takes three times as long as through 64 KB ones),
// and the window is kept alive between blocks: large enough that neither counts against
// the bytes, small enough to stay in the processor's cache beside an image.
inline constexpr uint32_t kChunkSize = 256 * 1024;

// Paces what long store work shows: the progress text appears at the first step and then
// a few times a second, so the user sees the work move without the title being redrawn
// for every block; the window is kept alive at every step.
class ProgressPace {
public:
    static constexpr uint32_t kIntervalMs = 250;
    // True at the first call and then once kIntervalMs have passed since it last was.
    bool Due();

private:
    bool shown_ = false;
    uint32_t last_ = 0;
};

// Why a store step could not be done, so that the user is told what went wrong.
enum class StoreFailure {
    None,
    IndexUnreadable,  // reading the index file failed
    Unwritable,       // a store file could not be read or written (disk full, read-only)
    SizeLimit,        // a store file would grow past kStoreFileLimit
    NoMemory,         // the image could not be compressed for want of memory
    Fault,            // compressing the image failed otherwise (an internal error)
};

// File positions in the store are signed 32-bit numbers: no store file may grow past the
// last position they reach (2 GB).
inline constexpr uint32_t kStoreFileLimit = 0x7FFFFFFF;
// Whether length more bytes fit behind end.
constexpr bool FitsStoreLimit(int32_t end, uint32_t length)
{
    return end >= 0 && uint64_t(end) + length <= kStoreFileLimit;
}

struct CopyOutcome {
    uint32_t copied = 0;        // bytes passed to the sink
    bool sinkFailed = false;    // a write failed or fell short; the copy stopped there
    bool sourceFailed = false;  // a read failed (not just ended); the copy stopped there
};

// Called after every chunk with the chunk's count (1, 2, ...) and the bytes still to copy.
using ChunkProgress = std::function<void(uint32_t chunk, uint32_t remaining)>;

// Copies up to length bytes from the source's current position through the one
// kChunkSize buffer. A delivery shorter than asked, or a failed read, ends the copy.
CopyOutcome CopyChunks(StoreHandle source, StoreHandle sink, uint32_t length, const ChunkProgress& afterChunk = {});

struct CompressOutcome {
    uint32_t compressed = 0;    // bytes of the source that went into the member
    uint32_t written = 0;       // bytes of the member written to the sink
    bool sinkFailed = false;    // a write failed or fell short; the member is incomplete
    bool sourceFailed = false;  // a read failed (not just ended); the member is incomplete
    bool failed = false;        // a block could not get its memory (zlib's or its own)...
    bool fault = false;         // ...or its compression failed otherwise (an internal error)
    bool complete() const { return !sinkFailed && !sourceFailed && !failed; }
};

// Called each time a compressed block has reached the sink, with the bytes still to
// compress; and while the caller waits for the workers.
struct CompressProgress {
    std::function<void(uint32_t remaining)> afterBlock;
    std::function<void()> waiting;
};

// Reads a store file from its current position, for the blocks of a member.
pgz::Source StoreFileSource(StoreHandle file);

// Compresses up to length bytes from the source's current position into one gzip member
// written to the sink's current position, on every core (store/core/parallel_gzip.h). A
// delivery shorter than asked ends the input there, as with CopyChunks; a failed read or
// write stops the work and leaves an incomplete member.
CompressOutcome CompressChunks(StoreHandle source, StoreHandle sink, uint32_t length,
                               const CompressProgress& progress = {});

// Appends the whole work file of files to the end of destination and points the record buffer at
// it (dataOffset, storedLength, compressed 1). On a failure the record buffer stays as it
// was and destination is cut back to its former end: Unwritable when the work file cannot
// be opened or read or a write fails or falls short, SizeLimit (nothing written) when
// destination would grow past the limit.
StoreFailure AppendWorkFile(const StoreFiles& files, StoreHandle destination);
