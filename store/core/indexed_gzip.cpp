#include "store/core/indexed_gzip.h"

#include "base/little_endian.h"
#include "store/core/parallel_gzip.h"
#include "store/core/worker_pool.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace pgz {
namespace {
constexpr uint8_t kFlagExtra = 4;
constexpr size_t kFixedHeader = 10, kTrailer = 8;
// The extra field: its length, then the subfield "Px", its length, version, count.
constexpr size_t kListStart = kFixedHeader + 2 + 4, kListHead = 8;
constexpr uint8_t kVersion = 1;

// Expands one block of the list into its place in the image and gives its check value;
// false when it does not hold.
bool InflateBlock(z_stream& z, std::span<const uint8_t> data, std::span<uint8_t> out, bool last, uint32_t& crc)
{
    if (inflateReset(&z) != Z_OK)
        return false;
    // An empty block still needs room to be told it ends there: a byte that stays unused.
    uint8_t spare = 0;
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.empty() ? &spare : out.data();
    z.avail_out = out.empty() ? 1 : uInt(out.size());
    const int result = inflate(&z, Z_FINISH);
    // A block that is not the last ends on a flush, not on the end of the stream.
    const bool whole = last ? result == Z_STREAM_END : (result == Z_OK || result == Z_BUF_ERROR);
    if (!whole || z.avail_in != 0 || z.total_out != out.size())
        return false;
    crc = uint32_t(crc32(0, out.data(), uInt(out.size())));
    return true;
}

// The blocks shared out among the threads that come for them, each taking the next one left.
struct Shared {
    std::span<const uint8_t> member;
    std::vector<BlockEntry> blocks;
    std::vector<size_t> at, to;  // where each block's data and image start
    std::vector<uint32_t> crcs;
    uint8_t* image = nullptr;
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable allDone;
    unsigned working = 0;

    void Work()
    {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
            failed = true;
            return;
        }
        for (size_t i; !failed && (i = next++) < blocks.size();)
            if (!InflateBlock(z, member.subspan(at[i], blocks[i].compressed),
                              std::span(image + to[i], blocks[i].original), i + 1 == blocks.size(), crcs[i]))
                failed = true;
        inflateEnd(&z);
    }
};
}  // namespace

std::vector<uint8_t> IndexedHeader(size_t capacity)
{
    std::vector<uint8_t> header = Header();
    if (capacity == 0)
        return header;
    const size_t data = kListHead + 8 * std::min(capacity, kMostListedBlocks);
    header[3] |= kFlagExtra;
    header.resize(kListStart + data, 0);
    StoreLE16(header.data() + kFixedHeader, uint16_t(4 + data));
    header[kFixedHeader + 2] = 'P', header[kFixedHeader + 3] = 'x';
    StoreLE16(header.data() + kFixedHeader + 4, uint16_t(data));
    header[kListStart] = kVersion;
    return header;
}

bool FillBlockList(std::vector<uint8_t>& header, const std::vector<BlockEntry>& blocks)
{
    if (header.size() < kListStart + kListHead || kListStart + kListHead + 8 * blocks.size() > header.size())
        return false;
    uint8_t* list = header.data() + kListStart;
    StoreLE32(list + 4, uint32_t(blocks.size()));
    for (size_t i = 0; i < blocks.size(); ++i) {
        StoreLE32(list + kListHead + 8 * i, blocks[i].compressed);
        StoreLE32(list + kListHead + 8 * i + 4, blocks[i].original);
    }
    return true;
}

std::vector<BlockEntry> ListedBlocks(std::span<const uint8_t> member, size_t& headerBytes)
{
    if (member.size() < kListStart + kListHead + kTrailer || member[0] != 0x1F || member[1] != 0x8B ||
        member[2] != 8 || member[3] != kFlagExtra)
        return {};
    const size_t extra = LoadLE16(member.data() + kFixedHeader), data = LoadLE16(member.data() + kFixedHeader + 4);
    headerBytes = kFixedHeader + 2 + extra;
    if (member[kFixedHeader + 2] != 'P' || member[kFixedHeader + 3] != 'x' || extra != 4 + data ||
        member[kListStart] != kVersion || data < kListHead || headerBytes + kTrailer > member.size())
        return {};
    const uint32_t count = LoadLE32(member.data() + kListStart + 4);
    if (count == 0 || kListHead + 8 * uint64_t(count) > data)
        return {};
    std::vector<BlockEntry> blocks(count);
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        blocks[i].compressed = LoadLE32(member.data() + kListStart + kListHead + 8 * i);
        blocks[i].original = LoadLE32(member.data() + kListStart + kListHead + 8 * i + 4);
        total += blocks[i].compressed;
    }
    if (total != member.size() - headerBytes - kTrailer)
        return {};
    return blocks;
}

bool InflateListed(std::span<const uint8_t> member, uint32_t imageLength, std::vector<uint8_t>& image)
{
    size_t headerBytes = 0;
    auto shared = std::make_shared<Shared>();
    shared->blocks = ListedBlocks(member, headerBytes);
    if (shared->blocks.empty())
        return false;
    Shared& s = *shared;
    s.member = member;
    uint64_t at = headerBytes, to = 0;
    for (const BlockEntry& block : s.blocks) {
        s.at.push_back(size_t(at)), s.to.push_back(size_t(to));
        at += block.compressed, to += block.original;
    }
    const uint8_t* trailer = member.data() + member.size() - kTrailer;
    if (to != imageLength || LoadLE32(trailer + 4) != imageLength)
        return false;
    image.resize(imageLength);
    s.image = image.data();
    s.crcs.assign(s.blocks.size(), 0);
    // The workers take blocks beside the calling thread; each is done with the list when it
    // finds none left, and says so, whatever stopped it.
    const unsigned helpers = std::min<unsigned>(workers::Engage(workers::PerCore()), unsigned(s.blocks.size() - 1));
    for (unsigned i = 0; i < helpers; ++i) {
        {
            std::lock_guard lock(s.mutex);
            ++s.working;
        }
        try {
            workers::Post([shared] {
                try {
                    shared->Work();
                } catch (...) {
                    shared->failed = true;
                }
                std::lock_guard lock(shared->mutex);
                --shared->working;
                shared->allDone.notify_all();
            });
        } catch (const std::bad_alloc&) {
            std::lock_guard lock(s.mutex);
            --s.working;
        }
    }
    s.Work();
    std::unique_lock lock(s.mutex);
    s.allDone.wait(lock, [&s] { return s.working == 0; });
    if (s.failed)
        return false;
    uint32_t crc = 0;
    for (size_t i = 0; i < s.blocks.size(); ++i)
        crc = uint32_t(crc32_combine(crc, s.crcs[i], z_off_t(s.blocks[i].original)));
    return crc == LoadLE32(trailer);
}

}  // namespace pgz
