// Index records to and from their on-disk bytes. The layout is fixed little-endian
// whatever the host's byte order, so every field goes through base/little_endian.h.
#include "store/core/index_record.h"

#include "base/little_endian.h"

#include <cstring>

bool DecodeIndexRecord(std::span<const uint8_t> bytes, IndexRecord& record)
{
    if (bytes.size() < kIndexRecordSize)
        return false;
    const uint8_t* p = bytes.data();
    record.deleted = p[offsetof(IndexRecord, deleted)];
    record.recordNumber = static_cast<int32_t>(LoadLE32(p + offsetof(IndexRecord, recordNumber)));
    record.dataOffset = LoadLE32(p + offsetof(IndexRecord, dataOffset));
    record.storedLength = LoadLE32(p + offsetof(IndexRecord, storedLength));
    record.compressed = p[offsetof(IndexRecord, compressed)];
    record.imageLength = LoadLE32(p + offsetof(IndexRecord, imageLength));
    std::memcpy(record.reserved, p + offsetof(IndexRecord, reserved), sizeof record.reserved);
    return true;
}

bool EncodeIndexRecord(const IndexRecord& record, std::span<uint8_t> bytes)
{
    if (bytes.size() < kIndexRecordSize)
        return false;
    uint8_t* p = bytes.data();
    p[offsetof(IndexRecord, deleted)] = record.deleted;
    StoreLE32(p + offsetof(IndexRecord, recordNumber), static_cast<uint32_t>(record.recordNumber));
    StoreLE32(p + offsetof(IndexRecord, dataOffset), record.dataOffset);
    StoreLE32(p + offsetof(IndexRecord, storedLength), record.storedLength);
    p[offsetof(IndexRecord, compressed)] = record.compressed;
    StoreLE32(p + offsetof(IndexRecord, imageLength), record.imageLength);
    std::memcpy(p + offsetof(IndexRecord, reserved), record.reserved, sizeof record.reserved);
    return true;
}
