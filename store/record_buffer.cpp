// The record buffer and the index lookup.
#include "store/record_buffer.h"

#include "store/store_copy.h"

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

IndexReader::IndexReader(StoreHandle index, uint32_t first)
    : index_(index), block_(new uint8_t[kChunkSize]), next_(first), position_(int64_t(first) * kIndexRecordSize)
{
    if (position_ > INT32_MAX)
        after_ = RecordRead::End;  // beyond any index file the store can hold
}

void IndexReader::Fill()
{
    used_ = held_ = 0;
    int32_t at = static_cast<int32_t>(position_);
    if (SeekStoreFile(index_, at, FILE_BEGIN) != at) {
        after_ = RecordRead::Error;
        return;
    }
    int32_t read = ReadStoreFile(index_, block_.get(), kChunkSize);
    if (read < 0) {
        after_ = RecordRead::Error;
        return;
    }
    held_ = static_cast<size_t>(read) / kIndexRecordSize * kIndexRecordSize;
    position_ += static_cast<int64_t>(held_);
    if (static_cast<uint32_t>(read) == kChunkSize)
        return;
    // A short block ends the index only where the file ends; before that, whatever
    // fragment it brought says nothing about the records after it.
    int32_t here = at + read;
    after_ = SeekStoreFile(index_, 0, FILE_END) == here ? RecordRead::End : RecordRead::Error;
}

const uint8_t* IndexReader::NextBytes(RecordRead& read)
{
    if (used_ == held_ && after_ == RecordRead::Record)
        Fill();
    if (used_ == held_) {
        read = after_;
        return nullptr;
    }
    const uint8_t* bytes = block_.get() + used_;
    used_ += kIndexRecordSize;
    ++next_;
    read = RecordRead::Record;
    return bytes;
}

RecordRead IndexReader::Next(IndexRecord& record)
{
    RecordRead read;
    const uint8_t* bytes = NextBytes(read);
    if (bytes && !DecodeIndexRecord(std::span(bytes, kIndexRecordSize), record))
        return RecordRead::Error;
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

IndexLookup FindIndexRecord(StoreHandle index, int32_t recordNumber)
{
    IndexLookup lookup;
    // Only the record number is looked at until it matches.
    uint8_t wanted[4];
    IndexRecord probe{};
    probe.recordNumber = recordNumber;
    uint8_t probeBytes[kIndexRecordSize];
    EncodeIndexRecord(probe, probeBytes);
    std::memcpy(wanted, probeBytes + offsetof(IndexRecord, recordNumber), sizeof wanted);
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
        if (std::memcmp(bytes + offsetof(IndexRecord, recordNumber), wanted, sizeof wanted) == 0) {
            DecodeIndexRecord(std::span(bytes, kIndexRecordSize), recordBuffer);
            lookup.outcome = IndexLookup::Outcome::Found;
            lookup.position = static_cast<int32_t>(reader.Delivered() * kIndexRecordSize);
            return lookup;
        }
    }
}
