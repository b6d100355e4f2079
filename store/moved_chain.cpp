#include "store/moved_chain.h"

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
