// The chunked copy and AppendWorkFile.
#include "store/store_copy.h"

#include "store/record_buffer.h"
#include "store/store.h"

#include <algorithm>

namespace {
// The one buffer every copy goes through.
uint8_t chunkBuffer[kChunkSize];
int storeBusy = 0;

int32_t ReadChunk(ChunkSource source, uint32_t count)
{
    return source.gz ? GzReadStoreFile(source.gz, chunkBuffer, count)
                     : ReadStoreFile(source.file, chunkBuffer, count);
}

bool WriteChunk(ChunkSink sink, uint32_t count)
{
    return sink.gz ? GzWriteStoreFile(sink.gz, chunkBuffer, count) : WriteStoreFile(sink.file, chunkBuffer, count);
}
}  // namespace

CopyOutcome CopyChunks(ChunkSource source, ChunkSink sink, uint32_t length, const ChunkProgress& afterChunk)
{
    CopyOutcome outcome;
    uint32_t remaining = length;
    uint32_t chunk = 0;
    while (remaining > 0) {
        uint32_t asked = std::min(remaining, kChunkSize);
        int32_t delivered = ReadChunk(source, asked);
        if (delivered <= 0) {
            outcome.sourceFailed = delivered < 0;
            break;
        }
        uint32_t count = static_cast<uint32_t>(delivered);
        remaining -= count;
        if (!WriteChunk(sink, count)) {
            outcome.sinkFailed = true;
            break;
        }
        outcome.copied += count;
        if (afterChunk)
            afterChunk(++chunk, remaining);
        if (count != kChunkSize)
            break;
    }
    return outcome;
}

StoreFailure AppendWorkFile(const StoreFiles& files, StoreHandle destination)
{
    ScopedStoreFile work(files.Open(kWorkFileName));
    if (!work)
        return StoreFailure::Unwritable;
    int32_t end = SeekStoreFile(destination, 0, FILE_END);
    int32_t length = SeekStoreFile(work.get(), 0, FILE_END);
    if (end < 0 || length < 0 || SeekStoreFile(work.get(), 0, FILE_BEGIN) != 0)
        return StoreFailure::Unwritable;
    if (!FitsStoreLimit(end, static_cast<uint32_t>(length)))
        return StoreFailure::SizeLimit;
    uint32_t stored = 0;
    bool complete = true;
    for (;;) {
        int32_t read = ReadStoreFile(work.get(), chunkBuffer, kChunkSize);
        if (read == 0)
            break;
        // The work file may have grown since it was measured.
        if (read < 0 || !FitsStoreLimit(end, stored + static_cast<uint32_t>(read)) ||
            !WriteStoreFile(destination, chunkBuffer, static_cast<uint32_t>(read))) {
            complete = false;
            break;
        }
        stored += static_cast<uint32_t>(read);
    }
    if (!complete) {
        // The record keeps its old blob; what was written is dropped again.
        TruncateStoreFile(destination, end);
        return StoreFailure::Unwritable;
    }
    recordBuffer.dataOffset = static_cast<uint32_t>(end);
    recordBuffer.storedLength = stored;
    recordBuffer.compressed = 1;
    return StoreFailure::None;
}

bool StoreBusy()
{
    return storeBusy > 0;
}

StoreBusyScope::StoreBusyScope()
{
    ++storeBusy;
}

StoreBusyScope::~StoreBusyScope()
{
    --storeBusy;
}
