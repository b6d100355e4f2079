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
#include "store/compaction_run.h"

#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

#include <float.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {
constexpr char kCaption[] = "Vocalix Imager";
constexpr char kCompleted[] = "Completed compressing";
constexpr char kStopped[] = "Compressing stopped";
constexpr char kCompressing[] = "Please wait, compressing database...this will take some time";
constexpr size_t kMessageSize = 256;

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
    try {
        if (c.files.Replace(kNewDataFileName, kDataFileName))
            return true;
        c.failure = "pagorex.dat could not be replaced by pagorex.new";
    } catch (const std::bad_alloc&) {
        c.failure = kCompactionNoMemory;
    }
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

// Takes over what an earlier compaction moved, stages the records that already lie where
// they go and opens the new data file: null when the blobs can be moved, else why not.
// Until it answers null, the data file is still the only copy of the blobs.
const char* PrepareCompaction(Compaction& c, const StoreFiles& files)
{
    std::optional<MovedChain> earlier = ScanMovedChain(c.index, files.Size(kNewDataFileName));
    if (!earlier)
        return "the index file could not be read";
    c.earlier = *earlier;
    if (NewDataInUse(c))
        return "records past the ones an earlier compaction moved still point into pagorex.new, so it was left alone";
    std::optional<MovedChain> staged = StageUnchangedRecords(c);
    if (!staged)
        return "the file pagorex.new could not be created";
    c.earlier = *staged;
    c.newData = OpenNewDataFile(files, c.earlier);
    return c.newData ? nullptr : "the file pagorex.new could not be created";
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
    if (const char* reason = PrepareCompaction(c, files)) {
        CloseFiles(c);
        ReportNotStarted(host, reason);
        return;
    }
    ShowProgress(host, kCompressing);
    // Blobs go straight into the new data file, and a compaction leaves no work file: the
    // compressed image a save keeps in pagorex.tmp goes now.
    files.Delete(kWorkFileName);
    // Each step answers for memory that runs out while records point into pagorex.new.
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

// The start-up check, or the compaction the host asked for (force 1).
void CompactIfNeeded(StoreHost& host, unsigned char force)
{
    StoreFiles files(host.StoreDirectory());
    StartUpWork work = force == 1 ? StartUpWork::Compact : StartUpWorkFor(host, files);
    if (work == StartUpWork::None)
        return;
    // Without a data file there is nothing to compress, and nothing to warn of.
    if (force != 1 && work == StartUpWork::Compact && files.Exists(kDataFileName)) {
        // The warning is read while the store is free; the need is checked again below.
        ShowProgress(host, kCompressing);
        TellUser(host,
                 "Databases need to be compressed, this WILL take a great deal of time, please be patient while it "
                 "completes",
                 kCaption, MB_OK);
    }
    StoreLock lock(host, files, StoreAccess::Write);
    if (lock.held()) {
        CompleteInterruptedReplacement(files);
        if (work == StartUpWork::Compact)
            Compact(host, files, force);
    } else if (force == 1 && (lock.outcome() == StoreLockOutcome::Unopenable ||
                              lock.outcome() == StoreLockOutcome::LockFailed)) {
        // Asked for by the host; the start-up check says nothing about a store it cannot
        // look at.
        ReportNotStarted(host, "the index file pagorex.idx could not be opened and locked");
    }
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
    try {
        CompactIfNeeded(host, force);
    } catch (const std::bad_alloc&) {
        // Before any record was moved, or once every one was (the steps in between answer
        // for themselves): every image is in place.
        host.SetProgressText(kStopped);
        TellUser(host, "The image store could not be compressed: there was not enough memory.\n\nEvery image is "
                       "still where it was; nothing was lost.", kCaption, MB_OK | MB_ICONEXCLAMATION);
    }
    _fpreset();
    return true;
}
