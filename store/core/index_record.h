#pragma once
// One record of the index file "pagorex.idx": 256 bytes, little-endian, no padding.
// Byte-level code only (no windows.h), so it also builds natively under the sanitizers.

#include <cstddef>
#include <cstdint>
#include <span>

#pragma pack(push, 1)
struct IndexRecord {
    uint8_t deleted;        // non-zero: the record has no image
    int32_t recordNumber;   // the host's record number; -1 in memory means "none found"
    uint32_t dataOffset;    // where the blob starts in the data file
    uint32_t storedLength;  // the blob's length as stored
    uint8_t compressed;     // 1: the blob is one gzip member; 0: the blob is the image file
    uint32_t imageLength;   // the image file's length inside a compressed blob
    uint8_t reserved[238];  // other writers' bytes: never read, always carried over
};
#pragma pack(pop)

constexpr size_t kIndexRecordSize = 256;
static_assert(sizeof(IndexRecord) == kIndexRecordSize);
static_assert(offsetof(IndexRecord, deleted) == 0);
static_assert(offsetof(IndexRecord, recordNumber) == 1);
static_assert(offsetof(IndexRecord, dataOffset) == 5);
static_assert(offsetof(IndexRecord, storedLength) == 9);
static_assert(offsetof(IndexRecord, compressed) == 13);
static_assert(offsetof(IndexRecord, imageLength) == 14);
static_assert(offsetof(IndexRecord, reserved) == 18);

// Both answer false, touching nothing, when fewer than 256 bytes are given.
bool DecodeIndexRecord(std::span<const uint8_t> bytes, IndexRecord& record);
bool EncodeIndexRecord(const IndexRecord& record, std::span<uint8_t> bytes);

// The number of whole records in an index file of that size; a trailing fragment is
// not a record.
constexpr uint32_t IndexRecordCount(uint32_t fileSize)
{
    return fileSize / kIndexRecordSize;
}
