#include "store/core/moved_chain.h"

#include "base/little_endian.h"

bool ExtendMovedChain(MovedChain& chain, const IndexRecord& record, uint32_t newDataSize)
{
    // Compaction writes exactly 1; an earlier writer's other non-zero values mean a blob
    // that has not been moved yet.
    if (record.compressed != 1 || record.dataOffset != chain.end || chain.end > newDataSize)
        return false;
    if (record.storedLength > newDataSize - chain.end)
        return false;
    ++chain.count;
    chain.end += record.storedLength;
    return true;
}

namespace {
// The smallest gzip member: a 10-byte header, an empty deflate block, an 8-byte trailer.
constexpr uint32_t kSmallestMember = 20;
}  // namespace

bool MayPointIntoNewData(const IndexRecord& record, uint32_t newDataSize)
{
    return record.compressed == 1 && record.storedLength >= kSmallestMember && record.dataOffset <= newDataSize &&
           record.storedLength <= newDataSize - record.dataOffset;
}

bool LooksLikeOwnBlob(const IndexRecord& record, const uint8_t head[3], const uint8_t tail[4])
{
    return head[0] == 0x1F && head[1] == 0x8B && head[2] == 8 && LoadLE32(tail) == record.imageLength;
}
