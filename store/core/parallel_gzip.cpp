#include "store/core/parallel_gzip.h"

#include "base/little_endian.h"
#include "store/core/indexed_gzip.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace pgz {
namespace {
// zlib's gzip writer at level 9: the most compression (2) and, in the program's Windows
// build, the operating system code 10.
constexpr uint8_t kExtraFlags = 2, kOperatingSystem = 10;

}  // namespace

void CompressBlock(Block& block)
{
    try {
        Effort effort = block.effort == Effort::Sampled ? TrialEffort(block.Bytes()) : block.effort;
        std::unique_ptr<Deflater> deflater = LeaseDeflater(effort);
        deflater->Compress(block);
        ReturnDeflater(std::move(deflater));
    } catch (const std::bad_alloc&) {
        // A deflater or the output that could not get its memory: the block fails, as it
        // does when zlib runs out, and the member it belongs to is not written.
        block.output.clear();
        block.failed = true;
    } catch (...) {
        // Anything else fails the block too, so that it is marked done and whoever waits
        // for it hears why; escaping to the worker it would be waited for for ever.
        block.output.clear();
        block.failed = block.fault = true;
    }
}

std::vector<uint8_t> Header()
{
    return {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, kExtraFlags, kOperatingSystem};
}

void Checksum::Add(const Block& block)
{
    size_t length = block.Bytes().size();
    crc_ = static_cast<uint32_t>(crc32_combine(crc_, block.crc, static_cast<z_off_t>(length)));
    length_ += length;
}

std::vector<uint8_t> Checksum::Trailer() const
{
    std::vector<uint8_t> trailer(kTrailerSize);
    StoreLE32(trailer.data(), crc_);
    StoreLE32(trailer.data() + 4, static_cast<uint32_t>(length_));  // the length modulo 2^32
    return trailer;
}

struct Compressor::Queue {
    struct Slot {
        std::unique_ptr<Block> block;
        bool started = false;
        bool done = false;
    };
    std::mutex mutex;
    std::condition_variable finished;
    std::deque<Slot> slots;  // in the order handed in
    unsigned draining = 0;   // workers at this queue's blocks
    bool abandoned = false;  // the compressor is gone: nobody takes the blocks back

    // The oldest block no worker has started, marked started; null when there is none.
    Block* StartNext()
    {
        for (Slot& slot : slots)
            if (!slot.started) {
                slot.started = true;
                return slot.block.get();
            }
        return nullptr;
    }
    void MarkDone(const Block* block)
    {
        // The slot may have moved in the deque, but not away: only finished blocks are
        // taken out.
        for (Slot& slot : slots)
            if (slot.block.get() == block)
                slot.done = true;
        finished.notify_all();
    }
};

namespace {
// What a worker runs for a queue: its waiting blocks, one after another, until none is
// left. The queue is held by the task, so a compressor that went away leaves nothing
// dangling.
void Drain(const std::shared_ptr<Compressor::Queue>& queue)
{
    std::unique_lock lock(queue->mutex);
    for (;;) {
        Block* block = queue->abandoned ? nullptr : queue->StartNext();
        if (!block) {
            --queue->draining;
            return;
        }
        lock.unlock();
        CompressBlock(*block);
        lock.lock();
        queue->MarkDone(block);
    }
}
}  // namespace

Compressor::Compressor(unsigned threads) : queue_(std::make_shared<Queue>())
{
    target_ = threads == 0 ? workers::PerCore() : std::min(threads, kMaxWorkers);
}

Compressor::~Compressor()
{
    std::lock_guard lock(queue_->mutex);
    queue_->abandoned = true;
}

void Compressor::Submit(std::unique_ptr<Block> block)
{
    if (running_ == 0 && !block->last)
        running_ = std::min(workers::Engage(target_), target_);
    bool post = false;
    {
        std::lock_guard lock(queue_->mutex);
        queue_->slots.push_back({std::move(block), false, false});
        // One more worker at the queue, while fewer than its share are at it.
        if (queue_->draining < running_) {
            ++queue_->draining;
            post = true;
        }
    }
    if (!post)
        return;
    try {
        workers::Post([queue = queue_] { Drain(queue); });
    } catch (const std::bad_alloc&) {
        // No worker will come for it: the block waits for one that does, or for the
        // caller, who gives up on the member.
        std::lock_guard lock(queue_->mutex);
        --queue_->draining;
        throw;
    }
}

size_t Compressor::Pending() const
{
    std::lock_guard lock(queue_->mutex);
    return queue_->slots.size();
}

std::unique_ptr<Block> Compressor::TakeNext(unsigned waitMs)
{
    Queue& q = *queue_;
    std::unique_lock lock(q.mutex);
    if (running_ == 0 && !q.slots.empty() && !q.slots.front().started) {
        q.slots.front().started = true;
        Block* block = q.slots.front().block.get();
        lock.unlock();
        CompressBlock(*block);
        lock.lock();
        q.slots.front().done = true;
    }
    if (!q.finished.wait_for(lock, std::chrono::milliseconds(waitMs),
                             [&q] { return !q.slots.empty() && q.slots.front().done; }))
        return nullptr;
    std::unique_ptr<Block> block = std::move(q.slots.front().block);
    q.slots.pop_front();
    return block;
}

std::unique_ptr<Block> Blocker::Open() const
{
    auto block = std::make_unique<Block>();
    block->input.reserve(window_.size() + room_);
    block->input.assign(window_.begin(), window_.end());
    block->dictionary = window_.size();
    block->input.resize(window_.size() + room_);
    return block;
}

size_t Blocker::Wanted(std::span<const uint8_t> received) const
{
    if (started_)
        return received.size();
    uint32_t depth = BitmapDepth(received);
    return depth > 0 && depth < 8 ? std::max(received.size(), BlockSizeFor(Effort::Dense)) : received.size();
}

void Blocker::Close(Block& block, size_t count, bool last)
{
    block.input.resize(block.dictionary + count);
    block.last = last;
    if (!started_) {
        started_ = true;
        effort_ = ChooseEffort(block.Bytes());
        room_ = BlockSizeFor(effort_);
    }
    block.effort = effort_;
    // The next block looks back on the last 32 KB of the input, wherever they lie.
    if (independent_)
        return;
    std::span<const uint8_t> bytes = block.input;
    size_t keep = std::min(bytes.size(), kWindowSize);
    window_.assign(bytes.end() - static_cast<ptrdiff_t>(keep), bytes.end());
}

std::unique_ptr<Block> Blocker::Read(const Source& source, uint64_t& remaining)
{
    std::unique_ptr<Block> block = Open();
    size_t count = 0;
    auto readUpTo = [&](size_t asked) {
        int64_t read = asked ? source(block->input.data() + block->dictionary + count, asked) : 0;
        if (read < 0)
            return false;
        count += static_cast<size_t>(read);
        remaining -= static_cast<uint64_t>(read);
        return true;
    };
    size_t asked = static_cast<size_t>(std::min<uint64_t>(remaining, room_));
    bool read = readUpTo(asked);
    if (read && count == asked && remaining > 0) {
        size_t more = static_cast<size_t>(std::min<uint64_t>(remaining, Wanted(block->Bytes().first(count)) - count));
        block->input.resize(block->dictionary + count + more);
        read = readUpTo(more);
        asked += more;
    }
    if (!read)
        return nullptr;
    Close(*block, count, remaining == 0 || count < asked);
    return block;
}

Source MemorySource(std::span<const uint8_t> bytes)
{
    return [bytes, offset = size_t{0}](uint8_t* to, size_t count) mutable {
        count = std::min(count, bytes.size() - offset);
        if (count > 0)
            std::memcpy(to, bytes.data() + offset, count);
        offset += count;
        return static_cast<int64_t>(count);
    };
}

std::vector<uint8_t> CompressMember(std::span<const uint8_t> bytes, unsigned threads, bool listed)
{
    Compressor compressor(threads);
    Blocker blocker(listed);
    std::vector<uint8_t> header = IndexedHeader(listed ? bytes.size() / kBlockSize + 2 : 0), member = header;
    std::vector<BlockEntry> blocks;
    Checksum checksum;
    bool failed = false;
    auto take = [&](unsigned waitMs) {
        if (std::unique_ptr<Block> block = compressor.TakeNext(waitMs)) {
            failed = failed || block->failed;
            member.insert(member.end(), block->output.begin(), block->output.end());
            blocks.push_back({uint32_t(block->output.size()), uint32_t(block->Bytes().size())});
            checksum.Add(*block);
        }
    };
    Source source = MemorySource(bytes);
    uint64_t remaining = bytes.size();
    for (bool last = false; !last;) {
        std::unique_ptr<Block> block = blocker.Read(source, remaining);
        last = block->last;
        compressor.Submit(std::move(block));
        while (compressor.Pending() > 2 * compressor.Threads())
            take(1000);
    }
    while (compressor.Pending() > 0)
        take(1000);
    if (failed)
        return {};
    if (listed && FillBlockList(header, blocks))
        std::copy(header.begin(), header.end(), member.begin());
    std::vector<uint8_t> trailer = checksum.Trailer();
    member.insert(member.end(), trailer.begin(), trailer.end());
    return member;
}

}  // namespace pgz
