#include "store/core/parallel_gzip.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <system_error>

namespace pgz {
namespace {
// zlib's gzip writer at level 9: the most compression (2) and, in the program's Windows
// build, the operating system code 10.
constexpr uint8_t kExtraFlags = 2, kOperatingSystem = 10;

// A raw deflate stream at level 9 with zlib's default memory use (as gzopen "wb9"),
// reset for every block.
class Deflater {
public:
    Deflater() { ready_ = deflateInit2(&stream_, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater()
    {
        if (ready_)
            deflateEnd(&stream_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void Compress(Block& block)
    {
        std::span<const uint8_t> bytes = block.Bytes();
        block.crc = static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
        block.output.clear();
        block.failed = !ready_ || deflateReset(&stream_) != Z_OK ||
                       (block.dictionary > 0 &&
                        deflateSetDictionary(&stream_, block.input.data(), static_cast<uInt>(block.dictionary)) != Z_OK);
        if (block.failed)
            return;
        // Room for the worst case and the sync flush's empty stored block; more if needed.
        block.output.resize(deflateBound(&stream_, static_cast<uLong>(bytes.size())) + 16);
        stream_.next_in = const_cast<Bytef*>(bytes.data());
        stream_.avail_in = static_cast<uInt>(bytes.size());
        size_t produced = 0;
        const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            stream_.next_out = block.output.data() + produced;
            stream_.avail_out = static_cast<uInt>(block.output.size() - produced);
            int result = deflate(&stream_, flush);
            produced = block.output.size() - stream_.avail_out;
            if (result == Z_STREAM_END || (flush == Z_SYNC_FLUSH && result == Z_OK && stream_.avail_out > 0))
                break;
            if (result != Z_OK && result != Z_BUF_ERROR) {
                block.failed = true;
                return;
            }
            block.output.resize(block.output.size() + 64 * 1024);
        }
        block.output.resize(produced);
    }

private:
    z_stream stream_{};
    bool ready_ = false;
};

void PutLittleEndian(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

void CompressBlock(Block& block)
{
    Deflater deflater;
    deflater.Compress(block);
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
    std::vector<uint8_t> trailer;
    PutLittleEndian(trailer, crc_);
    PutLittleEndian(trailer, static_cast<uint32_t>(length_));  // the length modulo 2^32
    return trailer;
}

Compressor::Compressor(unsigned threads)
{
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    target_ = std::min(threads, kMaxWorkers);
}

void Compressor::StartWorkers()
{
    try {
        while (workers_.size() < target_)
            workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // Out of threads or address space: those that started do the work, or the caller.
    }
}

Compressor::~Compressor()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void Compressor::Submit(std::unique_ptr<Block> block)
{
    if (workers_.empty() && !block->last)
        StartWorkers();
    {
        std::lock_guard lock(mutex_);
        slots_.push_back({std::move(block), false, false});
    }
    work_.notify_one();
}

size_t Compressor::Pending() const
{
    std::lock_guard lock(mutex_);
    return slots_.size();
}

std::unique_ptr<Block> Compressor::TakeNext(unsigned waitMs)
{
    std::unique_lock lock(mutex_);
    if (workers_.empty() && !slots_.empty() && !slots_.front().started) {
        slots_.front().started = true;
        Block* block = slots_.front().block.get();
        lock.unlock();
        Deflater().Compress(*block);
        lock.lock();
        slots_.front().done = true;
    }
    if (!finished_.wait_for(lock, std::chrono::milliseconds(waitMs),
                            [this] { return !slots_.empty() && slots_.front().done; }))
        return nullptr;
    std::unique_ptr<Block> block = std::move(slots_.front().block);
    slots_.pop_front();
    return block;
}

void Compressor::Work()
{
    Deflater deflater;
    std::unique_lock lock(mutex_);
    for (;;) {
        auto waiting = [this] {
            return std::find_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.started; });
        };
        work_.wait(lock, [&] { return stopping_ || waiting() != slots_.end(); });
        if (stopping_)
            return;
        auto slot = waiting();
        slot->started = true;
        Block* block = slot->block.get();
        lock.unlock();
        deflater.Compress(*block);
        lock.lock();
        // The slot may have moved in the deque, but not away: only finished blocks are
        // taken out.
        for (Slot& s : slots_)
            if (s.block.get() == block)
                s.done = true;
        finished_.notify_all();
    }
}

std::unique_ptr<Block> Blocker::Open() const
{
    auto block = std::make_unique<Block>();
    block->input.reserve(window_.size() + kBlockSize);
    block->input.assign(window_.begin(), window_.end());
    block->dictionary = window_.size();
    block->input.resize(window_.size() + kBlockSize);
    return block;
}

void Blocker::Close(Block& block, size_t count, bool last)
{
    block.input.resize(block.dictionary + count);
    block.last = last;
    // The next block looks back on the last 32 KB of the input, wherever they lie.
    std::span<const uint8_t> bytes = block.input;
    size_t keep = std::min(bytes.size(), kWindowSize);
    window_.assign(bytes.end() - static_cast<ptrdiff_t>(keep), bytes.end());
}

std::unique_ptr<Block> Blocker::Next(std::span<const uint8_t> bytes, bool last)
{
    std::unique_ptr<Block> block = Open();
    if (!bytes.empty())
        std::memcpy(block->input.data() + block->dictionary, bytes.data(), bytes.size());
    Close(*block, bytes.size(), last);
    return block;
}

std::vector<uint8_t> CompressMember(std::span<const uint8_t> bytes, unsigned threads)
{
    Compressor compressor(threads);
    Blocker blocker;
    std::vector<uint8_t> member = Header();
    Checksum checksum;
    bool failed = false;
    auto take = [&](unsigned waitMs) {
        if (std::unique_ptr<Block> block = compressor.TakeNext(waitMs)) {
            failed = failed || block->failed;
            member.insert(member.end(), block->output.begin(), block->output.end());
            checksum.Add(*block);
        }
    };
    size_t offset = 0;
    do {
        size_t count = std::min(kBlockSize, bytes.size() - offset);
        bool last = offset + count == bytes.size();
        compressor.Submit(blocker.Next(bytes.subspan(offset, count), last));
        offset += count;
        while (compressor.Pending() > 2 * compressor.Threads())
            take(1000);
    } while (offset < bytes.size());
    while (compressor.Pending() > 0)
        take(1000);
    if (failed)
        return {};
    std::vector<uint8_t> trailer = checksum.Trailer();
    member.insert(member.end(), trailer.begin(), trailer.end());
    return member;
}

}  // namespace pgz
