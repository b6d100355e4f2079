#pragma once
// A saved image's gzip member lists its blocks in the header's extra field, so that a load
// can expand them on every core instead of on one, as gunzip does. A save compresses the
// image in blocks on every core anyway (parallel_gzip.h); for a member that a load may
// expand block by block, each block is compressed on its own (no look back into the block
// before it) and ends on a byte boundary. The list is a subfield of its own, "Px", which
// gzip, zlib's gzread and every other reader skip: the member stays an ordinary one, and a
// member without the list is read as before.
//
// The subfield's data: a version byte (1), three zero bytes, the count of blocks, then for
// each block its compressed length and the image bytes it holds, all 32 bits little-endian.
// No windows.h: the same code runs natively under the sanitizers and the fuzzer.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pgz {

struct BlockEntry {
    uint32_t compressed = 0;  // bytes of deflate data
    uint32_t original = 0;    // bytes of the image it expands to
};

// The most blocks a list can hold (its subfield is at most 65,535 bytes long).
inline constexpr size_t kMostListedBlocks = (65535 - 8) / 8;

// The member's header, as zlib writes it for level 9, with room for a list of capacity
// blocks (0: no extra field, the plain 10-byte header).
std::vector<uint8_t> IndexedHeader(size_t capacity);
// Writes the blocks into a header IndexedHeader made; false (nothing written) when they are
// more than it has room for.
bool FillBlockList(std::vector<uint8_t>& header, const std::vector<BlockEntry>& blocks);

// The blocks a member's header lists, when it lists them and they fill the member exactly:
// headerBytes receives where the first block starts. Empty otherwise.
std::vector<BlockEntry> ListedBlocks(std::span<const uint8_t> member, size_t& headerBytes);

// Expands a whole member that lists its blocks into image (imageLength bytes), the blocks on
// every core, its check value and length checked: false when the member lists no blocks, or
// a block, the list or the check does not hold (the caller reads it as any other member).
// Throws std::bad_alloc when the image or a worker's state cannot get its memory.
bool InflateListed(std::span<const uint8_t> member, uint32_t imageLength, std::vector<uint8_t>& image);

}  // namespace pgz
