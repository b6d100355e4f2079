// The blobs of a compaction on their way into the new data file.
//
// At every moment each record points at bytes that are its own blob and are on the
// disk: a blob is appended and flushed before its record is repointed, and the records are
// repointed in index order, so a kill leaves the unbroken chain of moved records that
// the next compaction continues.
#include "store/compaction.h"
#include "store/compaction_run.h"
#include "store/core/indexed_gzip.h"

#include "store/core/parallel_gzip.h"
#include "store/interrupted_compaction.h"
#include "store/store_copy.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <new>
#include <vector>

namespace {
constexpr char kUnreadable[] = "an image could not be read from pagorex.dat";
constexpr char kUnwritable[] = "an image could not be copied - is the disk full?";
constexpr char kSizeLimit[] = "pagorex.new would grow past the image store's size limit of 2 GB";

// The index reaches the disk in pages of this many records, each page whole or not at all,
// but pages in any order.
constexpr uint32_t kRecordsPerIndexPage = 4096 / kIndexRecordSize;

// A record whose blob is on its way into the new data file. Blobs reach the file in
// index order, back to back, each whole before the next starts.
struct PendingRecord {
    uint32_t index;        // its place in the index file
    IndexRecord original;  // as read
    IndexRecord moved;     // pointing at its blob in the new data file, once complete
    pgz::Checksum checksum;
    bool complete = false;
    // A compressed blob's header, which lists its blocks once they are written, as a
    // save's does (indexed_gzip.h).
    std::vector<uint8_t> header;
    std::vector<pgz::BlockEntry> blocks;
};

// Which record a block handed to the workers belongs to; in the order handed in.
struct BlockTag {
    uint32_t index;
    bool first, last;
};

// Moves the blobs into the new data file: plain ones compressed on every core (the
// blocks of the next records are compressed while earlier ones are written), compressed
// ones copied unchanged. The records are repointed in batches, each once every blob of
// the batch has been flushed to the disk: a kill at any moment leaves every record on
// a blob of its own, and flushing once per batch instead of once per record spares the
// disk hundreds of waits.
class BlobMover {
public:
    // A batch is repointed once it holds this many bytes or records.
    static constexpr uint32_t kBatchBytes = 8 * 1024 * 1024;
    static constexpr size_t kBatchRecords = 256;
#ifdef PAGOREX_TEST_SEAMS
    static inline size_t batchRecords = kBatchRecords;
#else
    static constexpr size_t batchRecords = kBatchRecords;
#endif

    explicit BlobMover(Compaction& c) : c_(c), inFlight_(2 * compressor_.Threads())
    {
        int32_t end = SeekStoreFile(c.newData, 0, FILE_END);
        end_ = repointedEnd_ = end < 0 ? 0 : static_cast<uint32_t>(end);
        int32_t dataSize = SeekStoreFile(c.data, 0, FILE_END);
        dataSize_ = dataSize < 0 ? 0 : static_cast<uint32_t>(dataSize);
        ok_ = end >= 0 && dataSize >= 0;
    }

    // Starts moving the blob of the record in the record buffer, record k of the index.
    bool Move(uint32_t k)
    {
        try {
            return MoveBlob(k);
        } catch (const std::bad_alloc&) {
            return Fail(kCompactionNoMemory);
        }
    }

    // Every blob written, flushed and pointed at.
    bool Finish()
    {
        try {
            while (ok_ && !tags_.empty())
                ok_ = TakeBlock();
            return ok_ && Repoint(true);
        } catch (const std::bad_alloc&) {
            return Fail(kCompactionNoMemory);
        }
    }

private:
    bool MoveBlob(uint32_t k)
    {
        if (!ok_ || StoreStopsAt(StoreStep::CompactionRecordRead, k))
            return false;
        pending_.push_back({k, recordBuffer, recordBuffer, {}, false, {}, {}});
        // A damaged record's blob lies partly or wholly past the end of the data file (at
        // 2 GB or beyond, even): it keeps what there is of it, and nothing is made up.
        const IndexRecord& r = recordBuffer;
        uint32_t present = r.dataOffset < dataSize_ ? std::min(r.storedLength, dataSize_ - r.dataOffset) : 0;
        if (present < r.storedLength)
            c_.damaged.push_back(r.recordNumber);
        if (present > 0 && SeekStoreFile(c_.data, static_cast<int32_t>(r.dataOffset), FILE_BEGIN) < 0)
            return Fail(kUnreadable);
        ok_ = r.compressed == 0 ? FeedPlain(k, present) : CopyCompressed(k, present);
        return ok_ && (BatchFull() ? Repoint() : true);
    }

    // What was written past the last repointed blob belongs to no record.
    bool Fail(const char* why)
    {
        if (!c_.failure)
            c_.failure = why;
        ok_ = false;
        TruncateStoreFile(c_.newData, static_cast<int32_t>(repointedEnd_));
        return false;
    }

    // Plain: the image file itself, of which present bytes are in the data file. Its image
    // length is what is stored of it.
    bool FeedPlain(uint32_t k, uint32_t present)
    {
        PendingRecord& record = pending_.back();
        record.header = pgz::IndexedHeader(present / pgz::kBlockSize + 2);
        pgz::Blocker blocker(true);
        const pgz::Source read = StoreFileSource(c_.data);
        uint64_t remaining = present;
        for (bool first = true;; first = false) {
            while (tags_.size() >= inFlight_)
                if (!TakeBlock())
                    return false;
            std::unique_ptr<pgz::Block> block = blocker.Read(read, remaining);
            // One that could not be read would lose its tail once the data file is
            // replaced; one that ends early stays as short as it is.
            if (!block)
                return Fail(kUnreadable);
            bool last = block->last;
            compressor_.Submit(std::move(block));
            tags_.push_back({k, first, last});
            if (last) {
                record.moved.imageLength = present - static_cast<uint32_t>(remaining);
                return true;
            }
        }
    }

    // Already compressed: copied unchanged, never recompressed, once every blob before
    // it is in place.
    bool CopyCompressed(uint32_t k, uint32_t present)
    {
        while (!tags_.empty())
            if (!TakeBlock())
                return false;
        if (StoreStopsAt(StoreStep::CompactionBlobStaged, k))
            return false;
        PendingRecord& record = pending_.back();
        if (!FitsStoreLimit(static_cast<int32_t>(end_), present))
            return Fail(kSizeLimit);
        CopyOutcome copy = CopyChunks(c_.data, c_.newData, present,
                                      [this](uint32_t, uint32_t) { c_.host.KeepAlive(); });
        if (copy.sinkFailed)
            return Fail(kUnwritable);
        if (copy.sourceFailed)
            return Fail(kUnreadable);
        Complete(record, end_, copy.copied);
        return !StoreStopsAt(StoreStep::CompactionBlobAppended, k);
    }

    PendingRecord& Incomplete()
    {
        for (PendingRecord& record : pending_)
            if (!record.complete)
                return record;
        return pending_.back();  // not reached: every block belongs to a pending record
    }

    void Complete(PendingRecord& record, uint32_t start, uint32_t length)
    {
        record.moved.dataOffset = start;
        record.moved.storedLength = length;
        record.moved.compressed = 1;
        record.complete = true;
        end_ = start + length;
        unflushed_ += length;
    }

    bool Write(const std::vector<uint8_t>& bytes)
    {
        if (!FitsStoreLimit(static_cast<int32_t>(end_ + written_), static_cast<uint32_t>(bytes.size())))
            return Fail(kSizeLimit);
        if (!WriteStoreFile(c_.newData, bytes.data(), static_cast<uint32_t>(bytes.size())))
            return Fail(kUnwritable);
        written_ += static_cast<uint32_t>(bytes.size());
        return true;
    }

    // Writes the next compressed block once it is done, keeping the window alive while
    // the workers are at it.
    bool TakeBlock()
    {
        std::unique_ptr<pgz::Block> block = compressor_.TakeNext(20);
        if (!block) {
            c_.host.KeepAlive();
            return true;
        }
        BlockTag tag = tags_.front();
        tags_.pop_front();
        PendingRecord& record = Incomplete();
        if (block->failed)
            return Fail(block->fault ? kCompactionFault : kCompactionNoMemory);
        if (tag.first) {
            if (StoreStopsAt(StoreStep::CompactionBlobStaged, tag.index))
                return false;
            written_ = 0;
            if (!Write(record.header))
                return false;
        }
        if (!Write(block->output))
            return false;
        record.checksum.Add(*block);
        record.blocks.push_back({uint32_t(block->output.size()), uint32_t(block->Bytes().size())});
        if (!tag.last)
            return true;
        if (!Write(record.checksum.Trailer()) || !ListBlocks(record))
            return false;
        Complete(record, end_, written_);
        return !StoreStopsAt(StoreStep::CompactionBlobAppended, tag.index);
    }

    // The header again at the blob's start, now with its blocks listed; nothing points at the
    // blob before the batch it belongs to is flushed.
    bool ListBlocks(PendingRecord& record)
    {
        if (!pgz::FillBlockList(record.header, record.blocks))
            return true;  // more blocks than room: the member is read as any other
        const int32_t start = static_cast<int32_t>(end_), after = static_cast<int32_t>(end_ + written_);
        if (SeekStoreFile(c_.newData, start, FILE_BEGIN) != start ||
            !WriteStoreFile(c_.newData, record.header.data(), static_cast<uint32_t>(record.header.size())) ||
            SeekStoreFile(c_.newData, after, FILE_BEGIN) != after)
            return Fail(kUnwritable);
        record.header.clear(), record.blocks.clear();
        return true;
    }

    bool BatchFull() const
    {
        size_t complete = 0;
        while (complete < pending_.size() && pending_[complete].complete)
            ++complete;
        return unflushed_ >= kBatchBytes || complete >= batchRecords;
    }

    // A compressed record whose blob went to the very offset it has in the data file needs
    // no repointing: it is taken for moved as soon as every record before it is.
    static bool Unchanged(const PendingRecord& record)
    {
        return record.original.compressed == 1 && record.moved.dataOffset == record.original.dataOffset &&
               record.moved.storedLength == record.original.storedLength;
    }

    // Flushes the blobs written so far and points their records at them, in index order.
    // An unchanged record becomes moved without a write of its own, the moment the record
    // before it is repointed, so its bytes must be on the disk by then: until the last
    // flush, the last record that does need repointing waits for the next flush, with the
    // unchanged ones after it counted behind it.
    bool Repoint(bool finishing = false)
    {
        if (pending_.empty() || !pending_.front().complete)
            return true;
        // A blob that is not on the disk must not be pointed at.
        if (!FlushStoreFile(c_.newData))
            return Fail(kUnwritable);
        unflushed_ = 0;
        size_t complete = 0;
        while (complete < pending_.size() && pending_[complete].complete)
            ++complete;
        size_t gate = complete;
        for (size_t i = complete; !finishing && i-- > 0;)
            if (!Unchanged(pending_[i])) {
                gate = i;
                break;
            }
        bool indexUnflushed = false;
        for (size_t n = 0; n < gate; ++n)
            if (!RepointFront(indexUnflushed))
                return false;
        if (size_t kept = complete - gate; kept > 1) {
            // The unchanged records behind the one held back, on the disk now.
            const IndexRecord& last = pending_[kept - 1].moved;
            held_ += static_cast<uint32_t>(kept - 1);
            heldEnd_ = last.dataOffset + last.storedLength;
            pending_.erase(pending_.begin() + 1, pending_.begin() + static_cast<std::ptrdiff_t>(kept));
        }
        if (!FlushStoreFile(c_.index))
            return Fail("the index file could not be written");
        return true;
    }

    bool RepointFront(bool& indexUnflushed)
    {
        PendingRecord& record = pending_.front();
        if (!Unchanged(record)) {
            // A record repointed on a later page of the index may reach the disk before one
            // on this page: past a record still pointing into the data file, it would be
            // read from the wrong file.
            if (indexUnflushed && record.index % kRecordsPerIndexPage == 0 && !FlushStoreFile(c_.index))
                return Fail("the index file could not be written");
            indexUnflushed = true;
            // Listed before it is written: a record repointed that the roll-back did not
            // know of would lose its image with the new data file.
            c_.moved.push_back({record.index, record.original});
            recordBuffer = record.moved;
            if (!WriteRecordAt(record.index)) {
                recordBuffer = record.original;
                WriteRecordAt(record.index);
                c_.moved.pop_back();
                return Fail("the index file could not be written");
            }
        } else {
            ++c_.unchanged;
        }
        repointedEnd_ = record.moved.dataOffset + record.moved.storedLength;
        uint32_t k = record.index;
        pending_.pop_front();
        if (held_ > 0) {
            c_.unchanged += held_;
            repointedEnd_ = heldEnd_;
            held_ = 0;
        }
        return !StoreStopsAt(StoreStep::CompactionRecordMoved, k);
    }

    bool WriteRecordAt(uint32_t i)
    {
        int32_t at = static_cast<int32_t>(i * kIndexRecordSize);
        return SeekStoreFile(c_.index, at, FILE_BEGIN) == at && WriteRecordBuffer(c_.index);
    }

    Compaction& c_;
    pgz::Compressor compressor_;
    const size_t inFlight_;  // blocks: two per worker keep every core busy
    std::deque<PendingRecord> pending_;
    std::deque<BlockTag> tags_;
    uint32_t end_ = 0;        // of the new data file's complete blobs
    uint32_t written_ = 0;    // of the blob being written, past end_
    uint32_t unflushed_ = 0;  // bytes of complete blobs not yet flushed
    uint32_t repointedEnd_;   // of the last blob a record points at
    uint32_t dataSize_ = 0;
    uint32_t held_ = 0;       // unchanged records behind the front one, already dropped
    uint32_t heldEnd_ = 0;    // where the last of them ends
    bool ok_ = true;
};

}  // namespace

#ifdef PAGOREX_TEST_SEAMS
void SetCompactionBatchForTest(size_t records)
{
    BlobMover::batchRecords = records ? records : BlobMover::kBatchRecords;
}
#endif

namespace {
bool MoveEveryBlob(Compaction& c)
{
    int32_t indexSize = SeekStoreFile(c.index, 0, FILE_END);
    uint32_t total = indexSize < 0 ? 0 : IndexRecordCount(static_cast<uint32_t>(indexSize));
    uint32_t counter = c.earlier.count;
    IndexReader reader(c.index, counter);
    BlobMover mover(c);
    char title[96];
    for (;;) {
        RecordRead read = reader.Next(recordBuffer);
        if (read == RecordRead::End)
            return mover.Finish();
        if (read == RecordRead::Error) {
            // The records after it would be left pointing into a replaced data file.
            c.failure = "the index file could not be read";
            return false;
        }
        ++counter;
        // Once per image: the blocks of a large one keep the window alive in between.
        std::snprintf(title, sizeof title, "Please wait, compressing %lu of %lu", static_cast<unsigned long>(counter),
                      static_cast<unsigned long>(total));
        ShowProgress(c.host, title);
        if (!mover.Move(counter - 1))
            return false;
    }
}
}  // namespace

bool MoveAllRecords(Compaction& c)
{
    try {
        return MoveEveryBlob(c);
    } catch (const std::bad_alloc&) {
        // Outside the mover's own steps, which answer for themselves: the records it
        // repointed are all in c.moved.
        if (!c.failure)
            c.failure = kCompactionNoMemory;
        return false;
    }
}
