#pragma once
// One gzip member compressed on every core. The bytes are cut into blocks that worker
// threads compress independently, at the effort the first block calls for
// (deflate_effort.h); each block is primed with the 32 KB before it (the whole window
// deflate can look back on), so the result is within a fraction of a percent of
// compressing the bytes in one go. Every block but the last ends with a sync flush on a
// byte boundary, the last one ends the stream, and the blocks' CRCs are combined: laid
// back to back between the header and the trailer written here, they are one ordinary
// member that zlib's gzread and gzip -d read like any other.
// No windows.h: the same code runs natively under the sanitizers.

#include "store/core/deflate_effort.h"
#include "store/core/worker_pool.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace pgz {

// How much of the input one worker compresses at a time, unless the effort asks for more.
inline constexpr size_t kBlockSize = 256 * 1024;
// What deflate can refer back to; each block is primed with this much of the input
// before it.
inline constexpr size_t kWindowSize = 32 * 1024;
inline constexpr size_t kHeaderSize = 10;
inline constexpr size_t kTrailerSize = 8;

// One block's work. The input holds the dictionary (the end of the previous block,
// empty for the first) followed by the block's own bytes.
struct Block {
    std::vector<uint8_t> input;
    size_t dictionary = 0;
    bool last = false;
    Effort effort = Effort::Best;
    // Filled in by a worker.
    std::vector<uint8_t> output;
    uint32_t crc = 0;
    bool failed = false;  // not compressed: zlib refused (no memory), or as fault says
    bool fault = false;   // the compression failed otherwise (an internal error)

    std::span<const uint8_t> Bytes() const { return std::span(input).subspan(dictionary); }
};

// Compresses one block on the calling thread; what the workers run.
void CompressBlock(Block& block);

// The member's 10-byte header, as zlib writes it for level 9.
std::vector<uint8_t> Header();

// Follows the blocks of one member in their order: their combined CRC and length, and the
// 8-byte trailer they end with.
class Checksum {
public:
    void Add(const Block& block);
    std::vector<uint8_t> Trailer() const;
    uint64_t Length() const { return length_; }

private:
    uint32_t crc_ = 0;
    uint64_t length_ = 0;
};

inline constexpr unsigned kMaxWorkers = workers::kMaxWorkers;

// Compresses blocks on the process's worker threads (worker_pool.h), at most threads of
// them at once; the blocks come back in the order they were handed in, whichever finishes
// first. The workers are engaged with the first block that is not the last: an image of
// one block is compressed on the calling thread, and so is every block when no thread
// can be started.
class Compressor {
public:
    // threads 0: one per core the machine reports; never more than kMaxWorkers.
    explicit Compressor(unsigned threads = 0);
    // Blocks still being compressed finish on their worker and are dropped there.
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // The workers it compresses with once it has more than one block (for sizing the
    // blocks kept in flight), and those engaged so far.
    unsigned Threads() const { return target_; }
    unsigned Running() const { return running_; }
    void Submit(std::unique_ptr<Block> block);
    // Blocks handed in and not yet taken back.
    size_t Pending() const;
    // The oldest block once it is compressed, waiting at most waitMs for it; null when
    // it is not done by then (or nothing is pending).
    std::unique_ptr<Block> TakeNext(unsigned waitMs);

    struct Queue;  // shared with the workers, which may outlive the compressor

private:
    unsigned target_ = 1;
    unsigned running_ = 0;
    std::shared_ptr<Queue> queue_;
};

// Reads the input's next bytes to to, up to count of them: answers how many it read, fewer
// than count only where the input ends, or -1 when reading failed.
using Source = std::function<int64_t(uint8_t* to, size_t count)>;
// A source over bytes held in memory.
Source MemorySource(std::span<const uint8_t> bytes);

// The whole of bytes as one member, compressed on every core: for callers that hold the
// input in memory already (and for tests). listed: its blocks independent and listed in its
// header, as a save writes it (indexed_gzip.h).
std::vector<uint8_t> CompressMember(std::span<const uint8_t> bytes, unsigned threads = 0, bool listed = false);

// Cuts an input into blocks in order, priming each with the end of the one before, and
// chooses the effort for all of them from the first. Every store operation that
// compresses feeds its blocks through here, so they are cut alike wherever the input
// comes from.
class Blocker {
public:
    // independent: no block looks back into the one before it, so that each can be expanded
    // on its own (indexed_gzip.h); the member grows by a fraction of a per cent.
    explicit Blocker(bool independent = false) : independent_(independent) {}
    // How many bytes the next block takes: kBlockSize for the first, then what its effort
    // asks for.
    size_t Room() const { return room_; }
    // The next block, read from source, of an input of which remaining bytes are still to
    // come; remaining goes down by what was read. The first block of a page of a few
    // colours takes more than Room() once its header says so (such pages compress in
    // larger blocks). The block is the last when the input ends: remaining reached 0, or
    // the source delivered fewer bytes than asked (remaining then tells how many never
    // came). Null when reading failed. Throws std::bad_alloc when the block cannot get
    // its memory.
    std::unique_ptr<Block> Read(const Source& source, uint64_t& remaining);

private:
    std::unique_ptr<Block> Open() const;
    // How many bytes the first block would rather hold, once the bytes received show what
    // the input is.
    size_t Wanted(std::span<const uint8_t> received) const;
    void Close(Block& block, size_t count, bool last);

    std::vector<uint8_t> window_;
    bool independent_ = false;
    bool started_ = false;
    Effort effort_ = Effort::Best;
    size_t room_ = kBlockSize;
};

}  // namespace pgz
