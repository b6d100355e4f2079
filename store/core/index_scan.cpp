// The index scan.
#include "store/core/index_scan.h"

#include <algorithm>

IndexScan::IndexScan(FileReader& index, uint32_t blockRecords, uint32_t first)
    : index_(index), next_(first), blockStart_(first)
{
    // A store file never grows past 2 GB; a larger index is read as far as a record
    // number still counts it.
    uint64_t size = std::min<uint64_t>(index_.Size(), 0xFFFFFFFFu);
    count_ = IndexRecordCount(static_cast<uint32_t>(size));
    fragment_ = static_cast<uint32_t>(size % kIndexRecordSize);
    // No larger than what is left to read; left as it comes, since every read fills what
    // it hands out.
    blockCapacity_ = std::max<uint32_t>(1, std::min(blockRecords, count_ > first ? count_ - first : 1));
    block_.reset(new uint8_t[static_cast<size_t>(blockCapacity_) * kIndexRecordSize]);
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
    Step step = Fill();
    if (step != Step::Record)
        return step;
    bytes = block_.get() + static_cast<size_t>(next_ - blockStart_) * kIndexRecordSize;
    ++next_;
    return Step::Record;
}

IndexScan::Step IndexScan::NextRecords(const uint8_t*& bytes, uint32_t& count, uint32_t& first)
{
    Step step = Fill();
    if (step != Step::Record)
        return step;
    first = next_;
    count = blockStart_ + blockRecords_ - next_;
    bytes = block_.get() + static_cast<size_t>(next_ - blockStart_) * kIndexRecordSize;
    next_ += count;
    return Step::Record;
}

IndexScan::Step IndexScan::Fill()
{
    if (failed_)
        return Step::Error;
    if (next_ >= count_)
        return Step::End;
    if (next_ < blockStart_ + blockRecords_)
        return Step::Record;
    uint32_t want = std::min<uint32_t>(count_ - next_, blockCapacity_);
    size_t bytes = static_cast<size_t>(want) * kIndexRecordSize;
    int64_t read = index_.ReadAt(static_cast<uint64_t>(next_) * kIndexRecordSize, block_.get(), bytes);
    // Short of what the size promised: the file was cut meanwhile, or the disk failed.
    if (read != static_cast<int64_t>(bytes)) {
        failed_ = true;
        return Step::Error;
    }
    blockStart_ = next_;
    blockRecords_ = want;
    return Step::Record;
}
