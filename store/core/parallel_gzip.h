#pragma once
// One gzip member compressed on every core. The bytes are cut into blocks that worker
// threads compress independently at level 9; each block is primed with the 32 KB before
// it (the whole window deflate can look back on), so the result is within a fraction of
// a percent of compressing the bytes in one go. Every block but the last ends with a sync
// flush on a byte boundary, the last one ends the stream, and the blocks' CRCs are
// combined: laid back to back between the header and the trailer written here, they are
// one ordinary member that zlib's gzread and gzip -d read like any other.
// No windows.h: the same code runs natively under the sanitizers.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace pgz {

// How much of the input one worker compresses at a time.
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
    // Filled in by a worker.
    std::vector<uint8_t> output;
    uint32_t crc = 0;
    bool failed = false;  // zlib refused (no memory)

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

// At most this many workers: each holds a block and zlib's level-9 state, in a 32-bit
// process of 2 GB, whatever the core count.
inline constexpr unsigned kMaxWorkers = 8;

// Worker threads, one per core, compressing the blocks handed to them; the blocks come
// back in the order they were handed in, whichever finishes first. They start with the
// first block that is not the last: an image of one block is compressed on the calling
// thread, and so is every block when no thread can be started.
class Compressor {
public:
    // threads 0: one per core the machine reports; never more than kMaxWorkers.
    explicit Compressor(unsigned threads = 0);
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // The workers it compresses with once it has more than one block (for sizing the
    // blocks kept in flight), and those started so far.
    unsigned Threads() const { return target_; }
    unsigned Running() const { return static_cast<unsigned>(workers_.size()); }
    void Submit(std::unique_ptr<Block> block);
    // Blocks handed in and not yet taken back.
    size_t Pending() const;
    // The oldest block once it is compressed, waiting at most waitMs for it; null when
    // it is not done by then (or nothing is pending).
    std::unique_ptr<Block> TakeNext(unsigned waitMs);

private:
    struct Slot {
        std::unique_ptr<Block> block;
        bool started = false;
        bool done = false;
    };
    void Work();
    // As many workers as can be started, up to the target.
    void StartWorkers();

    unsigned target_ = 1;
    mutable std::mutex mutex_;
    std::condition_variable work_, finished_;
    std::deque<Slot> slots_;  // in the order handed in
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// The whole of bytes as one member, compressed on every core: for callers that hold the
// input in memory already (and for tests).
std::vector<uint8_t> CompressMember(std::span<const uint8_t> bytes, unsigned threads = 0);

// Cuts the input into blocks in order, priming each with the end of the one before.
class Blocker {
public:
    // A new block holding the window of the input so far, with room for kBlockSize bytes
    // after it: the caller reads the next bytes of the input to input.data() + dictionary.
    std::unique_ptr<Block> Open() const;
    // The block received count bytes (fewer than kBlockSize only for the last, which
    // last says it is); its end becomes the next block's window.
    void Close(Block& block, size_t count, bool last);
    // Open, copy bytes in, Close.
    std::unique_ptr<Block> Next(std::span<const uint8_t> bytes, bool last);

private:
    std::vector<uint8_t> window_;
};

}  // namespace pgz
