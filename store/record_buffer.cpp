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
    if (!(alone_ && offset == position_) && SeekStoreFile(file_, at, FILE_BEGIN) != at)
        return -1;
    int32_t read = ReadStoreFile(file_, buffer, static_cast<uint32_t>(std::min<size_t>(count, INT32_MAX)));
    position_ = read >= 0 ? offset + static_cast<uint32_t>(read) : UINT64_MAX;
    return read;
}

uint64_t StoreFileReader::Size()
{
    int32_t end = SeekStoreFile(file_, 0, FILE_END);
    position_ = end < 0 ? UINT64_MAX : static_cast<uint64_t>(end);
    // A size that cannot be told is no end: the reads then fail where the file does.
    return end < 0 ? UINT32_MAX : static_cast<uint64_t>(end);
}

// Blocks of 1024 records by default: one read of 256 KB.
IndexReader::IndexReader(StoreHandle index, uint32_t first, uint32_t blockBytes, bool alone)
    : file_(index, alone), scan_(file_, static_cast<uint32_t>(blockBytes / kIndexRecordSize), first)
{
}

namespace {
RecordRead ReadOf(IndexScan::Step step)
{
    return step == IndexScan::Step::Record ? RecordRead::Record
           : step == IndexScan::Step::End  ? RecordRead::End
                                           : RecordRead::Error;
}
}  // namespace

const uint8_t* IndexReader::NextRecords(RecordRead& read, uint32_t& count, uint32_t& first)
{
    const uint8_t* bytes = nullptr;
    read = ReadOf(scan_.NextRecords(bytes, count, first));
    return read == RecordRead::Record ? bytes : nullptr;
}

const uint8_t* IndexReader::NextBytes(RecordRead& read)
{
    const uint8_t* bytes = nullptr;
    read = ReadOf(scan_.NextBytes(bytes));
    return read == RecordRead::Record ? bytes : nullptr;
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
    IndexReader reader(index, 0, kChunkSize, true);
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
    // Reads of 1 MB, as a plain read of the file would take them; each record costs one
    // comparison of 4 bytes in the loop below.
    IndexReader reader(index, first, 4 * kChunkSize, true);
    for (;;) {
        RecordRead read;
        uint32_t count = 0, at = 0;
        const uint8_t* bytes = reader.NextRecords(read, count, at);
        if (read != RecordRead::Record) {
            found.unreadable = read == RecordRead::Error;
            return found;
        }
        for (uint32_t i = 0; i < count; ++i, bytes += kIndexRecordSize) {
            if (!HasNumber(bytes, wanted))
                continue;
            NumberedRecord& record = found.records.emplace_back();
            record.position = at + i;
            DecodeIndexRecord(std::span(bytes, kIndexRecordSize), record.record);
        }
    }
}
