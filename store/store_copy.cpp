// The chunked copy and AppendWorkFile.
#include "store/store_copy.h"

#include "store/core/indexed_gzip.h"

#include "store/core/parallel_gzip.h"
#include "store/record_buffer.h"
#include "store/store.h"

#include <windows.h>

#include <algorithm>
#include <new>

namespace {
// The one buffer every copy goes through.
uint8_t chunkBuffer[kChunkSize];
int storeBusy = 0;

}  // namespace

CopyOutcome CopyChunks(StoreHandle source, StoreHandle sink, uint32_t length, const ChunkProgress& afterChunk)
{
    CopyOutcome outcome;
    uint32_t remaining = length;
    uint32_t chunk = 0;
    while (remaining > 0) {
        uint32_t asked = std::min(remaining, kChunkSize);
        int32_t delivered = ReadStoreFile(source, chunkBuffer, asked);
        if (delivered <= 0) {
            outcome.sourceFailed = delivered < 0;
            break;
        }
        uint32_t count = static_cast<uint32_t>(delivered);
        remaining -= count;
        if (!WriteStoreFile(sink, chunkBuffer, count)) {
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

namespace {
bool WriteBytes(StoreHandle sink, const std::vector<uint8_t>& bytes, CompressOutcome& outcome)
{
    if (!WriteStoreFile(sink, bytes.data(), static_cast<uint32_t>(bytes.size()))) {
        outcome.sinkFailed = true;
        return false;
    }
    outcome.written += static_cast<uint32_t>(bytes.size());
    return true;
}
}  // namespace

pgz::Source StoreFileSource(StoreHandle file)
{
    return [file](uint8_t* to, size_t count) -> int64_t {
        return ReadStoreFile(file, to, static_cast<uint32_t>(count));
    };
}

namespace {
// The member's header lists its blocks once they are all written (indexed_gzip.h): it is
// written first with room for the most blocks the image can take, and again at the end.
bool ListBlocks(StoreHandle sink, int32_t start, std::vector<uint8_t>& header,
                const std::vector<pgz::BlockEntry>& blocks)
{
    const int32_t end = SeekStoreFile(sink, 0, FILE_CURRENT);
    return !pgz::FillBlockList(header, blocks) ||
           (end >= 0 && SeekStoreFile(sink, start, FILE_BEGIN) == start &&
            WriteStoreFile(sink, header.data(), static_cast<uint32_t>(header.size())) &&
            SeekStoreFile(sink, end, FILE_BEGIN) == end);
}

void Compress(StoreHandle source, StoreHandle sink, uint32_t length, const CompressProgress& progress,
              CompressOutcome& outcome)
{
    const int32_t start = SeekStoreFile(sink, 0, FILE_CURRENT);
    std::vector<uint8_t> header = pgz::IndexedHeader(length / pgz::kBlockSize + 2);
    std::vector<pgz::BlockEntry> listed;
    if (start < 0 || !WriteBytes(sink, header, outcome))
        return;
    pgz::Compressor compressor;
    pgz::Blocker blocker(true);
    pgz::Checksum checksum;
    const pgz::Source read = StoreFileSource(source);
    uint64_t remaining = length;
    bool feeding = true;
    // Two blocks per worker keep every core busy while the one waited for is written.
    const size_t inFlight = 2 * compressor.Threads();
    while (feeding || compressor.Pending() > 0) {
        while (feeding && compressor.Pending() < inFlight) {
            std::unique_ptr<pgz::Block> block = blocker.Read(read, remaining);
            if (!block) {
                outcome.sourceFailed = true;
                return;
            }
            feeding = !block->last;
            compressor.Submit(std::move(block));
        }
        std::unique_ptr<pgz::Block> block = compressor.TakeNext(20);
        if (!block) {
            if (progress.waiting)
                progress.waiting();
            continue;
        }
        if (block->failed) {
            outcome.failed = true;
            outcome.fault = block->fault;
            return;
        }
        if (!WriteBytes(sink, block->output, outcome))
            return;
        listed.push_back({static_cast<uint32_t>(block->output.size()), static_cast<uint32_t>(block->Bytes().size())});
        checksum.Add(*block);
        outcome.compressed = static_cast<uint32_t>(checksum.Length());
        if (progress.afterBlock)
            progress.afterBlock(length - outcome.compressed);
    }
    if (WriteBytes(sink, checksum.Trailer(), outcome) && !ListBlocks(sink, start, header, listed))
        outcome.sinkFailed = true;
}
}  // namespace

CompressOutcome CompressChunks(StoreHandle source, StoreHandle sink, uint32_t length, const CompressProgress& progress)
{
    CompressOutcome outcome;
    try {
        Compress(source, sink, length, progress, outcome);
    } catch (const std::bad_alloc&) {
        // A block that could not get its memory, here or on its way to a worker: the
        // member stays incomplete, and the blocks still with the workers are dropped.
        outcome.failed = true;
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
    // A record must not reach the disk before the blob it points at: a power cut would
    // leave it pointing at bytes that were never written, and the old image lost with it.
    if (!complete || !FlushStoreFile(destination)) {
        // The record keeps its old blob; what was written is dropped again.
        TruncateStoreFile(destination, end);
        return StoreFailure::Unwritable;
    }
    recordBuffer.dataOffset = static_cast<uint32_t>(end);
    recordBuffer.storedLength = stored;
    recordBuffer.compressed = 1;
    return StoreFailure::None;
}

bool ProgressPace::Due()
{
    uint32_t now = GetTickCount();
    if (shown_ && now - last_ < kIntervalMs)
        return false;
    shown_ = true;
    last_ = now;
    return true;
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
