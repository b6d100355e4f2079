// The record buffer and the index lookup.
#include "store/record_buffer.h"

#include <cstring>

IndexRecord recordBuffer = {};

void ResetRecordBuffer(int32_t recordNumber)
{
    std::memset(&recordBuffer, 0, sizeof recordBuffer);
    recordBuffer.recordNumber = recordNumber;
}

bool ReadRecordBuffer(StoreHandle index)
{
    uint8_t bytes[kIndexRecordSize];
    if (ReadStoreFile(index, bytes, sizeof bytes) != static_cast<int32_t>(sizeof bytes))
        return false;
    return DecodeIndexRecord(bytes, recordBuffer);
}

bool WriteRecordBuffer(StoreHandle index)
{
    uint8_t bytes[kIndexRecordSize];
    EncodeIndexRecord(recordBuffer, bytes);
    return WriteStoreFile(index, bytes, sizeof bytes);
}

std::optional<int32_t> FindIndexRecord(StoreHandle index, int32_t recordNumber)
{
    if (SeekStoreFile(index, 0, FILE_BEGIN) != 0)
        return std::nullopt;
    int32_t position = 0;
    while (ReadRecordBuffer(index)) {
        if (recordBuffer.recordNumber == recordNumber)
            return position;
        position += static_cast<int32_t>(kIndexRecordSize);
    }
    return std::nullopt;
}
