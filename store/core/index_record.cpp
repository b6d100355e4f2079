// Index records to and from their on-disk bytes. The layout is fixed little-endian
// whatever the host's byte order, so every field goes through explicit byte moves.
#include "store/core/index_record.h"

#include <cstring>

namespace {
uint32_t ReadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void WriteU32(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}
}  // namespace

bool DecodeIndexRecord(std::span<const uint8_t> bytes, IndexRecord& record)
{
    if (bytes.size() < kIndexRecordSize)
        return false;
    const uint8_t* p = bytes.data();
    record.deleted = p[offsetof(IndexRecord, deleted)];
    record.recordNumber = static_cast<int32_t>(ReadU32(p + offsetof(IndexRecord, recordNumber)));
    record.dataOffset = ReadU32(p + offsetof(IndexRecord, dataOffset));
    record.storedLength = ReadU32(p + offsetof(IndexRecord, storedLength));
    record.compressed = p[offsetof(IndexRecord, compressed)];
    record.imageLength = ReadU32(p + offsetof(IndexRecord, imageLength));
    std::memcpy(record.reserved, p + offsetof(IndexRecord, reserved), sizeof record.reserved);
    return true;
}

bool EncodeIndexRecord(const IndexRecord& record, std::span<uint8_t> bytes)
{
    if (bytes.size() < kIndexRecordSize)
        return false;
    uint8_t* p = bytes.data();
    p[offsetof(IndexRecord, deleted)] = record.deleted;
    WriteU32(p + offsetof(IndexRecord, recordNumber), static_cast<uint32_t>(record.recordNumber));
    WriteU32(p + offsetof(IndexRecord, dataOffset), record.dataOffset);
    WriteU32(p + offsetof(IndexRecord, storedLength), record.storedLength);
    p[offsetof(IndexRecord, compressed)] = record.compressed;
    WriteU32(p + offsetof(IndexRecord, imageLength), record.imageLength);
    std::memcpy(p + offsetof(IndexRecord, reserved), record.reserved, sizeof record.reserved);
    return true;
}
