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

#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

#include <float.h>

#include <cstdio>
#include <optional>
#include <vector>

namespace {
constexpr char kCaption[] = "Vocalix Imager";
constexpr char kCompleted[] = "Completed compressing";
constexpr char kStopped[] = "Compressing stopped";
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
    const char* failure = nullptr;    // why it could not finish
};

// The record buffer's blob, as one gzip member, in the work file. Answers why it could
// not be staged, or null.
const char* StageBlob(Compaction& c)
{
    StoreHandle data = c.data;
    if (SeekStoreFile(data, static_cast<int32_t>(recordBuffer.dataOffset), FILE_BEGIN) < 0)
        return kUnreadable;
    auto keepAlive = [&c](uint32_t, uint32_t) { c.host.KeepAlive(); };
    CopyOutcome copy;
    if (recordBuffer.compressed == 0) {
        GzHandle gz = c.files.GzOpen(kWorkFileName, "wb9");
        if (!gz)
            return kUnwritable;
        recordBuffer.imageLength = recordBuffer.storedLength;
        copy = CopyChunks({data, {}}, {{}, gz}, recordBuffer.storedLength, keepAlive);
        if (!GzCloseStoreFile(gz))
            return kUnwritable;
    } else {
        // Already compressed: copied unchanged, never recompressed.
        ScopedStoreFile work(c.files.Create(kWorkFileName));
        if (!work)
            return kUnwritable;
        copy = CopyChunks({data, {}}, {work.get(), {}}, recordBuffer.storedLength, keepAlive);
    }
    // A blob that ends early stays as short as it is; one that could not be read would
    // lose its tail once the data file is replaced.
    return copy.sinkFailed ? kUnwritable : copy.sourceFailed ? kUnreadable : nullptr;
}

// Moves the blob of the record just read (record k) and repoints the record.
bool MoveRecord(Compaction& c, uint32_t k)
{
    IndexRecord original = recordBuffer;
    if (StoreStopsAt(StoreStep::CompactionRecordRead, k))
        return false;
    c.files.Delete(kWorkFileName);
    const char* notStaged = StageBlob(c);
    if (StoreStopsAt(StoreStep::CompactionBlobStaged, k))
        return false;
    // A blob that could not be appended and flushed must not be pointed at.
    StoreFailure append = notStaged ? StoreFailure::Unwritable : AppendWorkFile(c.files, c.newData);
    bool appended = append == StoreFailure::None && FlushStoreFile(c.newData);
    c.files.Delete(kWorkFileName);
    if (!appended) {
        recordBuffer = original;
        c.failure = notStaged ? notStaged : append == StoreFailure::SizeLimit ? kSizeLimit : kUnwritable;
        return false;
    }
    if (StoreStopsAt(StoreStep::CompactionBlobAppended, k))
        return false;
    if (!WriteRecordBufferAt(c.index, k)) {
        recordBuffer = original;
        WriteRecordBufferAt(c.index, k);
        c.failure = "the index file could not be written";
        return false;
    }
    c.moved.push_back({k, original});
    return !StoreStopsAt(StoreStep::CompactionRecordMoved, k);
}

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
    if (c.earlier.count == 0) {
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
    std::snprintf(text, sizeof text, "The image store could not be compressed: %s.\n\n%s", c.failure,
                  restored ? "Every image is still where it was; nothing was lost."
                           : "Some records still point into pagorex.new: keep that file, and compress the "
                             "store again once the problem is solved.");
    c.host.Message(text, kCaption, MB_OK | MB_ICONEXCLAMATION);
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
    char title[96];
    for (;;) {
        RecordRead read = reader.Next(recordBuffer);
        if (read == RecordRead::End)
            return true;
        if (read == RecordRead::Error) {
            // The records after it would be left pointing into a replaced data file.
            c.failure = "the index file could not be read";
            return false;
        }
        ++counter;
        std::snprintf(title, sizeof title, "Please wait, compressing %lu of %lu", static_cast<unsigned long>(counter),
                      static_cast<unsigned long>(total));
        ShowProgress(c.host, title);
        if (!MoveRecord(c, counter - 1))
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
    if (indexSize < 0 || c.earlier.count + c.moved.size() != IndexRecordCount(static_cast<uint32_t>(indexSize))) {
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

// Tells why compaction did not start; the store is as it was.
void ReportNotStarted(StoreHost& host, const char* reason)
{
    char text[kMessageSize];
    std::snprintf(text, sizeof text, "The image store could not be compressed: %s.\n\nNothing was changed.", reason);
    host.Message(text, kCaption, MB_OK | MB_ICONEXCLAMATION);
}

void Compact(StoreHost& host, const StoreFiles& files, unsigned char force)
{
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (!index)
        return;
    bool plainFirst = ReadRecordBuffer(index.get()) == RecordRead::Record && recordBuffer.compressed == 0;
    if (!plainFirst && force != 1)
        return;
    Compaction c{host, files, index.get(), files.Open(kDataFileName), {}, {}, {}, nullptr};
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
    c.newData = OpenNewDataFile(files, c.earlier);
    if (!c.newData) {
        // The data file is still the only copy of the blobs: nothing is touched.
        CloseFiles(c);
        ReportNotStarted(host, "the file pagorex.new could not be created");
        return;
    }
    ShowProgress(host, "Please wait, compressing database...this will take some time");
    if (force == 0)
        host.Message("Databases need to be compressed, this WILL take a great deal of time, please be patient "
                     "while it completes",
                     kCaption, MB_OK);
    bool done = MoveAllRecords(c) && ReplaceDataFile(c);
    if (!done && !StoreStopped()) {
        if (!c.failure)
            c.failure = "the index file could not be read";
        ReportFailure(c);
    }
    CloseFiles(c);
    if (done && !StoreStopsAt(StoreStep::CompactionReplaced, 0))
        ShowProgress(host, kCompleted);
}
}  // namespace

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
    {
        StoreLock lock(host, files, StoreAccess::Write);
        if (lock.held()) {
            CompleteInterruptedReplacement(files);
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
