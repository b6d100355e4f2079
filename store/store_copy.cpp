// The chunked copy and AppendWorkFile.
#include "store/store_copy.h"

#include "store/core/parallel_gzip.h"
#include "store/record_buffer.h"
#include "store/store.h"

#include <windows.h>

#include <algorithm>

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
// Reads up to asked bytes of the input to the block after the count it holds; false when
// the read failed.
bool ReadInto(StoreHandle source, pgz::Block& block, uint32_t& count, uint32_t asked, uint32_t& remaining)
{
    int32_t delivered = asked ? ReadStoreFile(source, block.input.data() + block.dictionary + count, asked) : 0;
    if (delivered < 0)
        return false;
    count += static_cast<uint32_t>(delivered);
    remaining -= static_cast<uint32_t>(delivered);
    return true;
}

// Feeds the workers the next block of the input unless it has ended; answers false once
// it has.
bool FeedBlock(pgz::Compressor& compressor, pgz::Blocker& blocker, StoreHandle source, uint32_t& remaining,
               CompressOutcome& outcome)
{
    std::unique_ptr<pgz::Block> block = blocker.Open();
    uint32_t asked = std::min<uint32_t>(remaining, static_cast<uint32_t>(blocker.Room())), count = 0;
    bool read = ReadInto(source, *block, count, asked, remaining);
    // The first block of a page of few colours takes more, once its header says so.
    if (read && count == asked && remaining > 0) {
        size_t wanted = blocker.Wanted(block->Bytes().first(count));
        uint32_t more = std::min<uint32_t>(remaining, static_cast<uint32_t>(wanted - count));
        pgz::Blocker::Widen(*block, count + more);
        read = ReadInto(source, *block, count, more, remaining);
        asked += more;
    }
    if (!read) {
        outcome.sourceFailed = true;
        return false;
    }
    bool last = remaining == 0 || count < asked;
    blocker.Close(*block, count, last);
    compressor.Submit(std::move(block));
    return !last;
}

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

CompressOutcome CompressChunks(StoreHandle source, StoreHandle sink, uint32_t length, const CompressProgress& progress)
{
    CompressOutcome outcome;
    if (!WriteBytes(sink, pgz::Header(), outcome))
        return outcome;
    pgz::Compressor compressor;
    pgz::Blocker blocker;
    pgz::Checksum checksum;
    uint32_t remaining = length;
    bool feeding = true;
    // Two blocks per worker keep every core busy while the one waited for is written.
    const size_t inFlight = 2 * compressor.Threads();
    while (feeding || compressor.Pending() > 0) {
        while (feeding && compressor.Pending() < inFlight)
            feeding = FeedBlock(compressor, blocker, source, remaining, outcome);
        if (outcome.sourceFailed)
            return outcome;
        std::unique_ptr<pgz::Block> block = compressor.TakeNext(20);
        if (!block) {
            if (progress.waiting)
                progress.waiting();
            continue;
        }
        if (block->failed) {
            outcome.failed = true;
            return outcome;
        }
        if (!WriteBytes(sink, block->output, outcome))
            return outcome;
        checksum.Add(*block);
        outcome.compressed = static_cast<uint32_t>(checksum.Length());
        if (progress.afterBlock)
            progress.afterBlock(length - outcome.compressed);
    }
    WriteBytes(sink, checksum.Trailer(), outcome);
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
