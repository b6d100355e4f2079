// The record buffer and the index lookup.
#include "store/record_buffer.h"

#include <cstring>

IndexRecord recordBuffer = {};

void ResetRecordBuffer(int32_t recordNumber)
{
    std::memset(&recordBuffer, 0, sizeof recordBuffer);
    recordBuffer.recordNumber = recordNumber;
}

RecordRead ReadIndexRecord(StoreHandle index, IndexRecord& record)
{
    uint8_t bytes[kIndexRecordSize];
    int32_t read = ReadStoreFile(index, bytes, sizeof bytes);
    if (read == static_cast<int32_t>(sizeof bytes))
        return DecodeIndexRecord(bytes, record) ? RecordRead::Record : RecordRead::Error;
    if (read < 0)
        return RecordRead::Error;
    // Only a trailing fragment, or nothing, may be left at the end.
    int32_t here = SeekStoreFile(index, 0, FILE_CURRENT);
    return here >= 0 && SeekStoreFile(index, 0, FILE_END) == here ? RecordRead::End : RecordRead::Error;
}

RecordRead ReadRecordBuffer(StoreHandle index)
{
    return ReadIndexRecord(index, recordBuffer);
}

bool WriteRecordBuffer(StoreHandle index)
{
    uint8_t bytes[kIndexRecordSize];
    EncodeIndexRecord(recordBuffer, bytes);
    return WriteStoreFile(index, bytes, sizeof bytes);
}

IndexLookup FindIndexRecord(StoreHandle index, int32_t recordNumber)
{
    IndexLookup lookup;
    if (SeekStoreFile(index, 0, FILE_BEGIN) != 0) {
        lookup.outcome = IndexLookup::Outcome::Unreadable;
        return lookup;
    }
    int32_t position = 0;
    for (;;) {
        switch (ReadRecordBuffer(index)) {
        case RecordRead::End:
            return lookup;
        case RecordRead::Error:
            lookup.outcome = IndexLookup::Outcome::Unreadable;
            return lookup;
        case RecordRead::Record:
            break;
        }
        if (recordBuffer.recordNumber == recordNumber) {
            lookup.outcome = IndexLookup::Outcome::Found;
            lookup.position = position;
            return lookup;
        }
        position += static_cast<int32_t>(kIndexRecordSize);
    }
}
