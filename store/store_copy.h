#pragma once
// Moving blobs: the chunked copy and appending the work file to a data file.

#include "store/store_files.h"

#include <cstdint>
#include <functional>

inline constexpr uint32_t kChunkSize = 1024;

// Why a store step could not be done, so that the user is told what went wrong.
enum class StoreFailure {
    None,
    IndexUnreadable,  // reading the index file failed
    Unwritable,       // a store file could not be read or written (disk full, read-only)
    SizeLimit,        // a store file would grow past kStoreFileLimit
};

// File positions in the store are signed 32-bit numbers: no store file may grow past the
// last position they reach (2 GB).
inline constexpr uint32_t kStoreFileLimit = 0x7FFFFFFF;
// Whether length more bytes fit behind end.
constexpr bool FitsStoreLimit(int32_t end, uint32_t length)
{
    return end >= 0 && uint64_t(end) + length <= kStoreFileLimit;
}

// Where a copy reads: the file, or zlib's gzread when gz is set.
struct ChunkSource {
    StoreHandle file;
    GzHandle gz;
};
// Where a copy writes: the file, or zlib's gzwrite when gz is set.
struct ChunkSink {
    StoreHandle file;
    GzHandle gz;
};

struct CopyOutcome {
    uint32_t copied = 0;        // bytes passed to the sink
    bool sinkFailed = false;    // a write failed or fell short; the copy stopped there
    bool sourceFailed = false;  // a read failed (not just ended); the copy stopped there
};

// Called after every chunk with the chunk's count (1, 2, ...) and the bytes still to copy.
using ChunkProgress = std::function<void(uint32_t chunk, uint32_t remaining)>;

// Copies up to length bytes from the source's current position through the one
// 1024-byte buffer. A delivery shorter than asked, or a failed read, ends the copy.
CopyOutcome CopyChunks(ChunkSource source, ChunkSink sink, uint32_t length, const ChunkProgress& afterChunk = {});

// Appends the whole work file of files to the end of destination and points the record buffer at
// it (dataOffset, storedLength, compressed 1). On a failure the record buffer stays as it
// was and destination is cut back to its former end: Unwritable when the work file cannot
// be opened or read or a write fails or falls short, SizeLimit (nothing written) when
// destination would grow past the limit.
StoreFailure AppendWorkFile(const StoreFiles& files, StoreHandle destination);
