// The state an interrupted compaction leaves, seen from the other store operations.
#include "store/interrupted_compaction.h"

#include "store/record_buffer.h"
#include "store/store_copy.h"

namespace {
#ifdef PAGOREX_TEST_SEAMS
StoreStopHook stopHook = nullptr;
bool stopped = false;
#endif

int32_t RecordPosition(uint32_t record)
{
    return static_cast<int32_t>(record * kIndexRecordSize);
}

StoreFailure MoveBlobBack(StoreHandle index, StoreHandle data, StoreHandle newData, uint32_t i, uint32_t start,
                          bool cut)
{
    if (SeekStoreFile(index, RecordPosition(i), FILE_BEGIN) != RecordPosition(i) ||
        ReadRecordBuffer(index) != RecordRead::Record)
        return StoreFailure::IndexUnreadable;
    IndexRecord moved = recordBuffer;
    int32_t end = SeekStoreFile(data, 0, FILE_END);
    if (end < 0 || SeekStoreFile(newData, static_cast<int32_t>(moved.dataOffset), FILE_BEGIN) !=
                       static_cast<int32_t>(moved.dataOffset))
        return StoreFailure::Unwritable;
    if (!FitsStoreLimit(end, moved.storedLength))
        return StoreFailure::SizeLimit;
    // The chain only holds blobs that lie wholly inside the new data file, so anything
    // short of the whole blob is a failing disk.
    CopyOutcome copy = CopyChunks(newData, data, moved.storedLength);
    if (copy.copied != moved.storedLength || !FlushStoreFile(data)) {
        TruncateStoreFile(data, end);
        return StoreFailure::Unwritable;
    }
    if (StoreStopsAt(StoreStep::BlobMovedBack, i))
        return StoreFailure::Unwritable;
    recordBuffer.dataOffset = static_cast<uint32_t>(end);
    if (!WriteRecordBufferAt(index, i)) {
        recordBuffer = moved;
        WriteRecordBufferAt(index, i);
        TruncateStoreFile(data, end);
        return StoreFailure::Unwritable;
    }
    if (StoreStopsAt(StoreStep::RecordMovedBack, i))
        return StoreFailure::Unwritable;
    if (cut && !(TruncateStoreFile(newData, static_cast<int32_t>(start)) && FlushStoreFile(newData)))
        return StoreFailure::Unwritable;
    return StoreFailure::None;
}

// Reads count bytes at offset, all of them or nothing.
bool ReadAt(StoreHandle file, uint32_t offset, uint8_t* bytes, uint32_t count)
{
    return SeekStoreFile(file, static_cast<int32_t>(offset), FILE_BEGIN) == static_cast<int32_t>(offset) &&
           ReadStoreFile(file, bytes, count) == static_cast<int32_t>(count);
}
}  // namespace

std::optional<MovedChain> ScanMovedChain(StoreHandle index, uint32_t newDataSize, std::vector<uint32_t>* starts)
{
    MovedChain chain;
    if (starts)
        starts->clear();
    if (newDataSize == 0)
        return chain;
    IndexReader reader(index);
    IndexRecord record;
    for (;;) {
        RecordRead read = reader.Next(record);
        if (read == RecordRead::Error)
            return std::nullopt;
        uint32_t start = chain.end;
        if (read == RecordRead::End || !ExtendMovedChain(chain, record, newDataSize))
            return chain;
        if (starts)
            starts->push_back(start);
    }
}

void CompleteInterruptedReplacement(const StoreFiles& files)
{
    if (files.Exists(kNewDataFileName) && !files.Exists(kDataFileName))
        files.Replace(kNewDataFileName, kDataFileName);
}

const char* DataFileOfRecord(const StoreFiles& files, int32_t position)
{
    std::optional<BlobFiles> blobFiles = BlobFilesOfRecords(files);
    if (!blobFiles)
        return nullptr;
    return position < 0 ? blobFiles->Of(UINT32_MAX) : blobFiles->Of(static_cast<uint32_t>(position) / kIndexRecordSize);
}

const char* BlobFiles::Of(uint32_t record) const
{
    return all ? all : record < moved ? kNewDataFileName : kDataFileName;
}

std::optional<BlobFiles> BlobFilesOfRecords(const StoreFiles& files)
{
    // Every record points into the new data file once the data file is gone. A load only
    // reads, beside other readers: the rename is left to the next operation that writes.
    if (files.Exists(kNewDataFileName) && !files.Exists(kDataFileName))
        return BlobFiles{kNewDataFileName};
    uint32_t newDataSize = files.Size(kNewDataFileName);
    if (newDataSize == 0)
        return BlobFiles{kDataFileName};
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (!index)
        return BlobFiles{kDataFileName};
    std::optional<MovedChain> chain = ScanMovedChain(index.get(), newDataSize);
    if (!chain)
        return std::nullopt;
    return BlobFiles{nullptr, chain->count};
}

StoreFailure ReleaseFromMovedChain(const StoreFiles& files, int32_t position)
{
    CompleteInterruptedReplacement(files);
    if (!files.Exists(kNewDataFileName))
        return StoreFailure::None;
    ScopedStoreFile index(files.Open(kIndexFileName));
    ScopedStoreFile data(files.Open(kDataFileName));
    ScopedStoreFile newData(files.Open(kNewDataFileName));
    // Without an index no record points anywhere.
    if (!index)
        return StoreFailure::None;
    if (!newData)
        return StoreFailure::Unwritable;
    int32_t size = SeekStoreFile(newData.get(), 0, FILE_END);
    if (size < 0)
        return StoreFailure::Unwritable;
    std::vector<uint32_t> starts;
    std::optional<MovedChain> scanned = ScanMovedChain(index.get(), static_cast<uint32_t>(size), &starts);
    if (!scanned)
        return StoreFailure::IndexUnreadable;
    MovedChain chain = *scanned;
    uint32_t keep = position < 0 ? chain.count : static_cast<uint32_t>(position) / kIndexRecordSize;
    uint32_t cutAt = keep < chain.count ? starts[keep] : chain.end;
    // Records past a break in the chain may still point into the bytes a cut would drop.
    bool cut = !NewDataHeldByOthers(index.get(), newData.get(), static_cast<uint32_t>(size), chain.count, cutAt);
    if (keep < chain.count) {
        if (!data)
            return StoreFailure::Unwritable;
        if (StoreFailure failure = MoveBlobsBack(index.get(), data.get(), newData.get(), starts, keep, cut);
            failure != StoreFailure::None)
            return failure;
        chain.end = starts[keep];
        chain.count = keep;
    }
    if (!cut)
        return StoreFailure::None;
    // What lies beyond the chain belongs to no record, and a blob the save appends to
    // the data file must not look like the chain's next link.
    if (!TruncateStoreFile(newData.get(), static_cast<int32_t>(chain.end)) || !FlushStoreFile(newData.get()))
        return StoreFailure::Unwritable;
    if (chain.count == 0) {
        newData.Close();
        files.Delete(kNewDataFileName);
    }
    return StoreFailure::None;
}

bool NewDataHeldByOthers(StoreHandle index, StoreHandle newData, uint32_t newDataSize, uint32_t chainCount,
                         uint32_t from)
{
    IndexReader reader(index, chainCount);
    IndexRecord record;
    for (;;) {
        RecordRead read = reader.Next(record);
        if (read != RecordRead::Record)
            return read == RecordRead::Error;
        if (!MayPointIntoNewData(record, newDataSize) || record.dataOffset + record.storedLength <= from)
            continue;
        uint8_t head[3], tail[4];
        if (!ReadAt(newData, record.dataOffset, head, sizeof head) ||
            !ReadAt(newData, record.dataOffset + record.storedLength - sizeof tail, tail, sizeof tail))
            return true;
        if (LooksLikeOwnBlob(record, head, tail))
            return true;
    }
}

bool TakenForMovedRecord(const StoreFiles& files, uint32_t recordIndex, const IndexRecord& record)
{
    uint32_t newDataSize = files.Size(kNewDataFileName);
    if (newDataSize == 0)
        return false;
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (!index)
        return false;
    std::optional<MovedChain> chain = ScanMovedChain(index.get(), newDataSize);
    if (!chain)
        return true;  // cannot tell: the caller moves the blob out of the way
    MovedChain extended = *chain;
    return chain->count == recordIndex && ExtendMovedChain(extended, record, newDataSize);
}

StoreFailure MoveBlobsBack(StoreHandle index, StoreHandle data, StoreHandle newData,
                           const std::vector<uint32_t>& starts, uint32_t keep, bool cut)
{
    for (uint32_t i = static_cast<uint32_t>(starts.size()); i > keep; --i) {
        if (StoreFailure failure = MoveBlobBack(index, data, newData, i - 1, starts[i - 1], cut);
            failure != StoreFailure::None)
            return failure;
    }
    return StoreFailure::None;
}

bool WriteRecordBufferAt(StoreHandle index, uint32_t i)
{
    return SeekStoreFile(index, RecordPosition(i), FILE_BEGIN) == RecordPosition(i) && WriteRecordBuffer(index) &&
           FlushStoreFile(index);
}

#ifdef PAGOREX_TEST_SEAMS
void SetStoreStopHook(StoreStopHook hook)
{
    stopHook = hook;
    stopped = false;
}

bool StoreStopsAt(StoreStep step, uint32_t record)
{
    if (!stopped && stopHook && stopHook(step, record))
        stopped = true;
    return stopped;
}

bool StoreStopped()
{
    return stopped;
}
#endif
