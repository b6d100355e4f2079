// The index scan.
#include "store/core/index_scan.h"

#include <algorithm>

IndexScan::IndexScan(FileReader& index, uint32_t blockRecords, uint32_t first)
    : index_(index), block_(static_cast<size_t>(std::max<uint32_t>(blockRecords, 1)) * kIndexRecordSize),
      next_(first), blockStart_(first)
{
    // A store file never grows past 2 GB; a larger index is read as far as a record
    // number still counts it.
    uint64_t size = std::min<uint64_t>(index_.Size(), 0xFFFFFFFFu);
    count_ = IndexRecordCount(static_cast<uint32_t>(size));
    fragment_ = static_cast<uint32_t>(size % kIndexRecordSize);
}

IndexScan::Step IndexScan::Next(IndexRecord& record)
{
    const uint8_t* bytes = nullptr;
    Step step = NextBytes(bytes);
    if (step == Step::Record)
        DecodeIndexRecord(std::span<const uint8_t>(bytes, kIndexRecordSize), record);
    return step;
}

IndexScan::Step IndexScan::NextBytes(const uint8_t*& bytes)
{
    if (failed_)
        return Step::Error;
    if (next_ >= count_)
        return Step::End;
    if (next_ >= blockStart_ + blockRecords_) {
        uint32_t want = std::min<uint32_t>(count_ - next_, static_cast<uint32_t>(block_.size() / kIndexRecordSize));
        size_t bytes = static_cast<size_t>(want) * kIndexRecordSize;
        int64_t read = index_.ReadAt(static_cast<uint64_t>(next_) * kIndexRecordSize, block_.data(), bytes);
        // Short of what the size promised: the file was cut meanwhile, or the disk failed.
        if (read != static_cast<int64_t>(bytes)) {
            failed_ = true;
            return Step::Error;
        }
        blockStart_ = next_;
        blockRecords_ = want;
    }
    bytes = block_.data() + static_cast<size_t>(next_ - blockStart_) * kIndexRecordSize;
    ++next_;
    return Step::Record;
}
