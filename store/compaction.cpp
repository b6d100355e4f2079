// Store compaction: every record's blob, in index order, into the new data file, which
// then replaces the data file.
//
// At every moment each record points at bytes that are its own blob and are on the
// disk: a blob is appended and flushed before its record is repointed, the index is
// flushed before the data file is replaced, and the replacement is one rename. A
// compaction that fails puts back the records it moved and leaves the data file alone; one
// that was stopped leaves a chain of moved records (moved_chain.h) that loads correctly
// and that the next compaction continues.
#include "store/compaction.h"

#include "store/core/parallel_gzip.h"
#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

#include <float.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace {
constexpr char kCaption[] = "Vocalix Imager";
constexpr char kCompleted[] = "Completed compressing";
constexpr char kStopped[] = "Compressing stopped";
constexpr char kCompressing[] = "Please wait, compressing database...this will take some time";
constexpr char kUnreadable[] = "an image could not be read from pagorex.dat";
constexpr char kUnwritable[] = "an image could not be copied - is the disk full?";
constexpr char kSizeLimit[] = "pagorex.new would grow past the image store's size limit of 2 GB";
constexpr size_t kMessageSize = 256;

struct MovedRecord {
    uint32_t index;        // its place in the index file
    IndexRecord original;  // as it was before this compaction moved it
};

struct Compaction {
    StoreHost& host;
    const StoreFiles& files;
    StoreHandle index;
    StoreHandle data;
    StoreHandle newData;
    MovedChain earlier;               // records an earlier, stopped compaction moved
    std::vector<MovedRecord> moved;   // records this one moved, in index order
    uint32_t unchanged = 0;           // records this one copied to the very place they had
    std::vector<int32_t> damaged;     // host records whose blobs lay partly or wholly past the data file
    const char* failure = nullptr;    // why it could not finish
    bool stagedHead = false;          // earlier: only the data file's unchanged head, copied by this one
};

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
        if (!ok_ || StoreStopsAt(StoreStep::CompactionRecordRead, k))
            return false;
        pending_.push_back({k, recordBuffer, recordBuffer, {}, false});
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

    // Every blob written, flushed and pointed at.
    bool Finish()
    {
        while (ok_ && !tags_.empty())
            ok_ = TakeBlock();
        return ok_ && Repoint(true);
    }

private:
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
        record.moved.imageLength = present;
        pgz::Blocker blocker;
        uint32_t remaining = present;
        for (bool first = true;; first = false) {
            while (tags_.size() >= inFlight_)
                if (!TakeBlock())
                    return false;
            std::unique_ptr<pgz::Block> block = blocker.Open();
            uint32_t asked = std::min<uint32_t>(remaining, static_cast<uint32_t>(blocker.Room()));
            int32_t read = asked ? ReadStoreFile(c_.data, block->input.data() + block->dictionary, asked) : 0;
            // One that could not be read would lose its tail once the data file is
            // replaced; one that ends early stays as short as it is.
            if (read < 0)
                return Fail(kUnreadable);
            if (static_cast<uint32_t>(read) < asked)
                record.moved.imageLength -= remaining - static_cast<uint32_t>(read);
            remaining -= static_cast<uint32_t>(read);
            bool last = remaining == 0 || static_cast<uint32_t>(read) < asked;
            blocker.Close(*block, static_cast<uint32_t>(read), last);
            compressor_.Submit(std::move(block));
            tags_.push_back({k, first, last});
            if (last)
                return true;
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
            return Fail(kUnwritable);
        if (tag.first) {
            if (StoreStopsAt(StoreStep::CompactionBlobStaged, tag.index))
                return false;
            written_ = 0;
            if (!Write(pgz::Header()))
                return false;
        }
        if (!Write(block->output))
            return false;
        record.checksum.Add(*block);
        if (!tag.last)
            return true;
        if (!Write(record.checksum.Trailer()))
            return false;
        Complete(record, end_, written_);
        return !StoreStopsAt(StoreStep::CompactionBlobAppended, tag.index);
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
            recordBuffer = record.moved;
            if (!WriteRecordAt(record.index)) {
                recordBuffer = record.original;
                WriteRecordAt(record.index);
                return Fail("the index file could not be written");
            }
            c_.moved.push_back({record.index, record.original});
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

// Puts back, last first, the records this compaction moved; each step leaves a shorter
// chain, and the new data file is cut back to it. Answers whether every record is back.
// Past the earlier chain the new data file holds only this run's blobs: a record pointing
// there otherwise keeps the compaction from starting.
bool RollBack(Compaction& c)
{
    while (!c.moved.empty()) {
        MovedRecord last = c.moved.back();
        IndexRecord movedTo;
        if (SeekStoreFile(c.index, static_cast<int32_t>(last.index * kIndexRecordSize), FILE_BEGIN) < 0 ||
            ReadRecordBuffer(c.index) != RecordRead::Record)
            return false;
        movedTo = recordBuffer;
        recordBuffer = last.original;
        if (!WriteRecordBufferAt(c.index, last.index))
            return false;
        c.moved.pop_back();
        if (StoreStopsAt(StoreStep::CompactionRolledBack, last.index))
            return false;
        TruncateStoreFile(c.newData, static_cast<int32_t>(movedTo.dataOffset));
        FlushStoreFile(c.newData);
    }
    if (c.earlier.count == 0 || c.stagedHead) {
        CloseStoreFile(c.newData);
        c.files.Delete(kNewDataFileName);
    }
    return true;
}

void CloseFiles(Compaction& c)
{
    CloseStoreFile(c.newData);
    CloseStoreFile(c.data);
}

void ReportFailure(Compaction& c)
{
    bool restored = RollBack(c);
    CloseFiles(c);
    if (StoreStopped())
        return;
    c.host.SetProgressText(kStopped);
    char text[kMessageSize];
    // A reason that asks ("is the disk full?") ends its own sentence.
    const std::size_t length = std::strlen(c.failure);
    const char* stop = length > 0 && c.failure[length - 1] == '?' ? "" : ".";
    std::snprintf(text, sizeof text, "The image store could not be compressed: %s%s\n\n%s", c.failure, stop,
                  restored ? "Every image is still where it was; nothing was lost."
                           : "Some records still point into pagorex.new: keep that file, and compress the "
                             "store again once the problem is solved.");
    TellUser(c.host, text, kCaption, MB_OK | MB_ICONEXCLAMATION);
}

// The new data file: the one a stopped compaction left, cut back to the blobs its moved
// records point at, or else a new empty one.
StoreHandle OpenNewDataFile(const StoreFiles& files, const MovedChain& earlier)
{
    if (earlier.count == 0)
        return files.Create(kNewDataFileName);
    StoreHandle newData = files.Open(kNewDataFileName);
    if (newData && !TruncateStoreFile(newData, static_cast<int32_t>(earlier.end)))
        CloseStoreFile(newData);
    return newData;
}

bool MoveAllRecords(Compaction& c)
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

// Every record points into the new data file: it becomes the data file.
bool ReplaceDataFile(Compaction& c)
{
    if (!FlushStoreFile(c.index)) {
        c.failure = "the index file could not be written";
        return false;
    }
    // The data file goes: no record may still point into it.
    int32_t indexSize = SeekStoreFile(c.index, 0, FILE_END);
    if (indexSize < 0 ||
        c.earlier.count + c.moved.size() + c.unchanged != IndexRecordCount(static_cast<uint32_t>(indexSize))) {
        c.failure = "not every record could be moved into pagorex.new";
        return false;
    }
    CloseStoreFile(c.newData);
    CloseStoreFile(c.data);
    if (StoreStopsAt(StoreStep::CompactionBeforeReplace, 0))
        return false;
    if (c.files.Replace(kNewDataFileName, kDataFileName))
        return true;
    c.failure = "pagorex.dat could not be replaced by pagorex.new";
    c.newData = c.files.Open(kNewDataFileName);
    return false;
}

// A stopped compaction's new data file is cut back to its chain before this one goes on;
// records past a break in the chain may still point into what would go.
bool NewDataInUse(const Compaction& c)
{
    uint32_t size = c.files.Size(kNewDataFileName);
    if (size <= c.earlier.end)
        return false;
    ScopedStoreFile newData(c.files.Open(kNewDataFileName));
    return !newData || NewDataHeldByOthers(c.index, newData.get(), size, c.earlier.count, c.earlier.end);
}

// The records after the earlier chain (from the start of the index, when there is none)
// that lie in the data file exactly where they go in the new one: compressed, back to
// back. They are taken for moved as soon as the new data file is as long, whether its
// bytes are on the disk yet or not. So they go into it all at once: the new data file so
// far and their blobs are copied to the work file, which is flushed and renamed to the new
// data file, whose name appears only with its bytes on the disk. Answers the chain they
// extend the earlier one to; nothing when that could not be done, and nothing was changed.
std::optional<MovedChain> StageUnchangedRecords(Compaction& c)
{
    MovedChain chain = c.earlier;
    uint32_t dataSize = c.files.Size(kDataFileName);
    IndexReader reader(c.index, chain.count);
    for (IndexRecord record;;) {
        RecordRead read = reader.Next(record);
        if (read == RecordRead::Error)
            return std::nullopt;
        if (read == RecordRead::End || !ExtendMovedChain(chain, record, dataSize))
            break;
    }
    if (chain.count == c.earlier.count)
        return chain;
    auto keepAlive = [&c](uint32_t, uint32_t) { c.host.KeepAlive(); };
    ScopedStoreFile work(c.files.Create(kWorkFileName));
    ScopedStoreFile earlier(c.earlier.count > 0 ? c.files.Open(kNewDataFileName) : StoreHandle{});
    bool staged = work && (c.earlier.count == 0 || (earlier && CopyChunks(earlier.get(), work.get(), c.earlier.end,
                                                                          keepAlive).copied == c.earlier.end));
    uint32_t tail = chain.end - c.earlier.end;
    staged = staged && SeekStoreFile(c.data, static_cast<int32_t>(c.earlier.end), FILE_BEGIN) >= 0 &&
             CopyChunks(c.data, work.get(), tail, keepAlive).copied == tail && FlushStoreFile(work.get());
    work.Close();
    earlier.Close();
    if (staged && c.files.Replace(kWorkFileName, kNewDataFileName)) {
        c.stagedHead = c.earlier.count == 0;
        return chain;
    }
    c.files.Delete(kWorkFileName);
    return std::nullopt;
}

// Tells why compaction did not start; the store is as it was.
void ReportNotStarted(StoreHost& host, const char* reason)
{
    host.SetProgressText(kStopped);
    char text[kMessageSize];
    std::snprintf(text, sizeof text, "The image store could not be compressed: %s.\n\nNothing was changed.", reason);
    TellUser(host, text, kCaption, MB_OK | MB_ICONEXCLAMATION);
}

// Names the host records whose images were damaged before the compaction, which kept of
// them what there was.
std::string DamagedNotice(const std::vector<int32_t>& damaged)
{
    constexpr size_t kNamed = 20;
    std::string numbers;
    for (size_t i = 0; i < damaged.size() && i < kNamed; ++i)
        numbers += (i ? ", " : "") + std::to_string(damaged[i]);
    if (damaged.size() > kNamed)
        numbers += ", and " + std::to_string(damaged.size() - kNamed) + " more";
    return "The image store was compressed, but the stored images of these records were already damaged (their "
           "bytes lie past the end of pagorex.dat) and are kept as far as they were there: " +
           numbers + ".\n\npagorex-store verify tells what is wrong with each.";
}

void Compact(StoreHost& host, const StoreFiles& files, unsigned char force)
{
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (!index)
        return;
    bool plainFirst = ReadRecordBuffer(index.get()) == RecordRead::Record && recordBuffer.compressed == 0;
    // Another program compacted the store since this one looked, unless it was stopped
    // half-way: its moved records are carried on from.
    if (!plainFirst && force != 1 && !files.Exists(kNewDataFileName)) {
        ShowProgress(host, kCompleted);
        return;
    }
    Compaction c{host, files, index.get(), files.Open(kDataFileName), {}, {}, {}, 0, {}, nullptr};
    if (!c.data) {
        ShowProgress(host, kCompleted);
        return;
    }
    std::optional<MovedChain> earlier = ScanMovedChain(c.index, files.Size(kNewDataFileName));
    if (!earlier) {
        CloseFiles(c);
        ReportNotStarted(host, "the index file could not be read");
        return;
    }
    c.earlier = *earlier;
    if (NewDataInUse(c)) {
        CloseFiles(c);
        ReportNotStarted(host, "records past the ones an earlier compaction moved still point into pagorex.new, "
                               "so it was left alone");
        return;
    }
    std::optional<MovedChain> staged = StageUnchangedRecords(c);
    if (!staged) {
        CloseFiles(c);
        ReportNotStarted(host, "the file pagorex.new could not be created");
        return;
    }
    c.earlier = *staged;
    c.newData = OpenNewDataFile(files, c.earlier);
    if (!c.newData) {
        // The data file is still the only copy of the blobs: nothing is touched.
        CloseFiles(c);
        ReportNotStarted(host, "the file pagorex.new could not be created");
        return;
    }
    ShowProgress(host, kCompressing);
    // Blobs go straight into the new data file, and a compaction leaves no work file: the
    // compressed image a save keeps in pagorex.tmp goes now.
    files.Delete(kWorkFileName);
    bool done = MoveAllRecords(c) && ReplaceDataFile(c);
    if (!done && !StoreStopped()) {
        if (!c.failure)
            c.failure = "the index file could not be read";
        ReportFailure(c);
    }
    CloseFiles(c);
    if (done && !StoreStopsAt(StoreStep::CompactionReplaced, 0))
        ShowProgress(host, kCompleted);
    if (done && !c.damaged.empty())
        TellUser(host, DamagedNotice(c.damaged).c_str(), kCaption, MB_OK | MB_ICONEXCLAMATION);
}

// What a start-up has to do: compact a store whose first record is plain (the mark of a
// store that still holds images of an earlier writer), or complete the rename of a
// compaction stopped just before it. Most find nothing, under the shared lock, so that
// programs starting at once do not queue behind each other's saves.
enum class StartUpWork { None, CompleteReplacement, Compact };
StartUpWork StartUpWorkFor(StoreHost& host, const StoreFiles& files)
{
    StoreLock lock(host, files, StoreAccess::Read);
    if (!lock.held())
        return StartUpWork::None;
    bool dataFile = files.Exists(kDataFileName);
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (index && ReadRecordBuffer(index.get()) == RecordRead::Record && recordBuffer.compressed == 0)
        return StartUpWork::Compact;
    return !dataFile && files.Exists(kNewDataFileName) ? StartUpWork::CompleteReplacement : StartUpWork::None;
}
}  // namespace

#ifdef PAGOREX_TEST_SEAMS
void SetCompactionBatchForTest(size_t records)
{
    BlobMover::batchRecords = records ? records : BlobMover::kBatchRecords;
}
#endif

bool CompactStore(StoreHost& host, unsigned char force)
{
    // Asked for from inside another store operation's message pump: that operation
    // holds the files and the record buffer.
    if (StoreBusy()) {
        _fpreset();
        return false;
    }
    StoreBusyScope busy;
    StoreFiles files(host.StoreDirectory());
    StartUpWork work = force == 1 ? StartUpWork::Compact : StartUpWorkFor(host, files);
    if (work == StartUpWork::None) {
        _fpreset();
        return true;
    }
    // Without a data file there is nothing to compress, and nothing to warn of.
    if (force != 1 && work == StartUpWork::Compact && files.Exists(kDataFileName)) {
        // The warning is read while the store is free; the need is checked again below.
        ShowProgress(host, kCompressing);
        TellUser(host,
                 "Databases need to be compressed, this WILL take a great deal of time, please be patient while it "
                 "completes",
                 kCaption, MB_OK);
    }
    {
        StoreLock lock(host, files, StoreAccess::Write);
        if (lock.held()) {
            CompleteInterruptedReplacement(files);
            if (work == StartUpWork::Compact)
                Compact(host, files, force);
        } else if (force == 1 && (lock.outcome() == StoreLockOutcome::Unopenable ||
                                  lock.outcome() == StoreLockOutcome::LockFailed)) {
            // Asked for by the host; the start-up check says nothing about a store it
            // cannot look at.
            ReportNotStarted(host, "the index file pagorex.idx could not be opened and locked");
        }
    }
    _fpreset();
    return true;
}
