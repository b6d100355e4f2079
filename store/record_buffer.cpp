// The record buffer and the index lookup.
#include "store/record_buffer.h"

#include "store/store_copy.h"

#include "base/little_endian.h"

#include <array>
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

int64_t StoreFileReader::ReadAt(uint64_t offset, void* buffer, size_t count)
{
    if (offset > INT32_MAX)
        return 0;  // beyond any file the store can hold
    int32_t at = static_cast<int32_t>(offset);
    if (SeekStoreFile(file_, at, FILE_BEGIN) != at)
        return -1;
    return ReadStoreFile(file_, buffer, static_cast<uint32_t>(std::min<size_t>(count, INT32_MAX)));
}

uint64_t StoreFileReader::Size()
{
    int32_t end = SeekStoreFile(file_, 0, FILE_END);
    // A size that cannot be told is no end: the reads then fail where the file does.
    return end < 0 ? UINT32_MAX : static_cast<uint64_t>(end);
}

// Blocks of 1024 records: one read of 256 KB.
IndexReader::IndexReader(StoreHandle index, uint32_t first)
    : file_(index), scan_(file_, static_cast<uint32_t>(kChunkSize / kIndexRecordSize), first)
{
}

const uint8_t* IndexReader::NextBytes(RecordRead& read)
{
    const uint8_t* bytes = nullptr;
    switch (scan_.NextBytes(bytes)) {
    case IndexScan::Step::Record:
        read = RecordRead::Record;
        return bytes;
    case IndexScan::Step::End:
        read = RecordRead::End;
        return nullptr;
    case IndexScan::Step::Error:
        break;
    }
    read = RecordRead::Error;
    return nullptr;
}

RecordRead IndexReader::Next(IndexRecord& record)
{
    RecordRead read;
    const uint8_t* bytes = NextBytes(read);
    if (bytes)
        DecodeIndexRecord(std::span(bytes, kIndexRecordSize), record);
    return read;
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

namespace {
// The record number's bytes as a record holds them.
std::array<uint8_t, 4> NumberBytes(int32_t recordNumber)
{
    std::array<uint8_t, 4> bytes;
    StoreLE32(bytes.data(), static_cast<uint32_t>(recordNumber));
    return bytes;
}

bool HasNumber(const uint8_t* record, const std::array<uint8_t, 4>& number)
{
    return std::memcmp(record + offsetof(IndexRecord, recordNumber), number.data(), number.size()) == 0;
}
}  // namespace

IndexLookup FindIndexRecord(StoreHandle index, int32_t recordNumber)
{
    IndexLookup lookup;
    // Only the record number is looked at until it matches.
    std::array<uint8_t, 4> wanted = NumberBytes(recordNumber);
    IndexReader reader(index);
    for (;;) {
        RecordRead read;
        const uint8_t* bytes = reader.NextBytes(read);
        if (read == RecordRead::End)
            return lookup;
        if (read == RecordRead::Error) {
            lookup.outcome = IndexLookup::Outcome::Unreadable;
            return lookup;
        }
        if (HasNumber(bytes, wanted)) {
            DecodeIndexRecord(std::span(bytes, kIndexRecordSize), recordBuffer);
            lookup.outcome = IndexLookup::Outcome::Found;
            lookup.position = static_cast<int32_t>(reader.Delivered() * kIndexRecordSize);
            return lookup;
        }
    }
}

RecordsOfNumber FindRecordsOfNumber(StoreHandle index, int32_t recordNumber, uint32_t first)
{
    RecordsOfNumber found;
    std::array<uint8_t, 4> wanted = NumberBytes(recordNumber);
    IndexReader reader(index, first);
    for (;;) {
        RecordRead read;
        const uint8_t* bytes = reader.NextBytes(read);
        if (read != RecordRead::Record) {
            found.unreadable = read == RecordRead::Error;
            return found;
        }
        if (HasNumber(bytes, wanted)) {
            NumberedRecord& record = found.records.emplace_back();
            record.position = reader.Delivered();
            DecodeIndexRecord(std::span(bytes, kIndexRecordSize), record.record);
        }
    }
}
