// Save Image: storing the image the window shows for the host record, or marking the
// record as imageless.
#include "store/core/parallel_gzip.h"
#include "store/interrupted_compaction.h"
#include "store/page_records.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

#include <cstdio>
#include <new>
#include <optional>
#include <vector>

namespace {
constexpr char kBlobNotStored[] =
    "The image was not stored: it could not be written to the image store (is the disk full, or is a store "
    "file read-only?).\n\nThe record keeps the image it had before.";
constexpr char kRecordNotStored[] =
    "The image was not stored: the image store's index file could not be written (is the disk full, or is "
    "pagorex.idx read-only?).\n\nThe record keeps the image it had before.";
constexpr char kMarkNotStored[] =
    "The image was not removed from the image store: the index file could not be written (is pagorex.idx "
    "read-only?).\n\nThe record keeps its stored image.";
constexpr char kSizeLimit[] =
    "The image was not stored: the image store has reached its size limit of 2 GB.\n\nA compaction of the "
    "store may free space. The record keeps the image it had before.";
constexpr char kIndexUnreadable[] =
    "The image was not stored: the image store's index file pagorex.idx could not be read.\n\nThe record keeps "
    "the image it had before.";
constexpr char kNotStoredWhileWaiting[] =
    "The image was not stored: the window was closed while another program was using the image store.\n\nThe "
    "record keeps the image it had before.";
constexpr char kNotStoredUnlocked[] =
    "The image was not stored: the image store could not be locked against the other programs that use it (is "
    "the connection to its folder lost?).\n\nThe record keeps the image it had before.";
constexpr char kMarkWhileWaiting[] =
    "The image was not removed from the image store: the window was closed while another program was using the "
    "store.\n\nThe record keeps its stored image.";
constexpr char kMarkUnlocked[] =
    "The image was not removed from the image store: the store could not be locked against the other programs "
    "that use it (is the connection to its folder lost?).\n\nThe record keeps its stored image.";
constexpr char kNoMemory[] =
    "The image was not stored: there was not enough memory to compress it.\n\nThe record keeps the image it had "
    "before. Closing other programs, or saving a smaller scan, may help.";
constexpr char kCompressionFault[] =
    "The image was not stored: compressing it failed (an internal error of the program).\n\nThe record keeps the "
    "image it had before. Please save again; if it fails again, keep the page with Save as file.";
constexpr char kMarkNoMemory[] =
    "The image was not removed from the image store: there was not enough memory.\n\nThe record keeps its "
    "stored image.";
constexpr char kMarkUnreadable[] =
    "The image was not removed from the image store: its index file pagorex.idx could not be read.\n\nThe "
    "record keeps its stored image.";

void ShowCompressionProgress(StoreHost& host, ProgressPace& pace, uint32_t remaining)
{
    if (!pace.Due()) {
        host.KeepAlive();
        return;
    }
    char text[80];
    std::snprintf(text, sizeof text, "Please wait, compressing database...%lu left",
                  static_cast<unsigned long>(remaining));
    ShowProgress(host, text);
}

void ReportNotStored(StoreHost& host, StoreFailure failure)
{
    const char* text = failure == StoreFailure::IndexUnreadable ? kIndexUnreadable
                       : failure == StoreFailure::SizeLimit     ? kSizeLimit
                       : failure == StoreFailure::NoMemory      ? kNoMemory
                       : failure == StoreFailure::Fault         ? kCompressionFault
                                                                : kBlobNotStored;
    TellUser(host, text, nullptr, MB_OK | MB_ICONSTOP);
}

// A record that a compaction stopped half-way has moved into the new data file gets its
// blob back in the data file before it is repointed (the moved records must stay an
// unbroken chain). This may rewrite index records, so it runs before the record buffer
// is loaded for the save.
StoreFailure ReleaseRecordFromCompaction(const StoreFiles& files, int32_t recordNumber)
{
    IndexLookup lookup;
    if (ScopedStoreFile index(files.Open(kIndexFileName)); index)
        lookup = FindIndexRecord(index.get(), recordNumber);
    if (lookup.unreadable())
        return StoreFailure::IndexUnreadable;
    return ReleaseFromMovedChain(files, lookup.found() ? lookup.position : -1);
}

// The records of the host's number, once they have been looked for.
struct Placement {
    bool searched = false;
    PagePlan plan;
};

// An index that cannot be opened now is told of, and looked at again once the blobs are
// appended.
Placement FindRecordsForSave(StoreHost& host, const StoreFiles& files)
{
    Placement place;
    ScopedStoreFile index(files.OpenOrCreate(kIndexFileName));
    if (!index) {
        TellUser(host, "Can't open/create", files.Path(kIndexFileName).c_str(), MB_OK);
        return place;
    }
    place.plan = PlanPages(index.get(), host.RecordNumber());
    place.searched = true;
    return place;
}

// The second work file, gzip-compressed into the work file on every core: None once the
// whole image went into a complete member.
StoreFailure CompressImage(StoreHost& host, const StoreFiles& files, StoreHandle image, uint32_t imageLength)
{
    files.Delete(kWorkFileName);
    ScopedStoreFile work(files.Create(kWorkFileName));
    if (!work)
        return StoreFailure::Unwritable;
    ProgressPace pace;
    CompressProgress progress;
    // An image of one block is done in a moment: it shows nothing and lets no command in.
    if (imageLength > pgz::kBlockSize) {
        progress.afterBlock = [&](uint32_t remaining) { ShowCompressionProgress(host, pace, remaining); };
        progress.waiting = [&host] { host.KeepAlive(); };
    }
    CompressOutcome outcome = CompressChunks(image, work.get(), imageLength, progress);
    if (outcome.failed)
        return outcome.fault ? StoreFailure::Fault : StoreFailure::NoMemory;
    return outcome.complete() && outcome.compressed == imageLength ? StoreFailure::None : StoreFailure::Unwritable;
}

// Appends the compressed image to the data file and points the record buffer at it;
// on failure the record buffer keeps its old blob and image length.
StoreFailure AppendImageBlob(StoreHost& host, const StoreFiles& files, uint32_t imageLength)
{
    ScopedStoreFile data(files.OpenOrCreate(kDataFileName));
    if (!data)
        return StoreFailure::Unwritable;
    ScopedStoreFile image(files.Open(kSecondWorkFileName));
    // An empty file is no image: storing it would report a save that kept nothing.
    if (!image || imageLength == 0)
        return StoreFailure::Unwritable;
    StoreFailure stored = CompressImage(host, files, image.get(), imageLength);
    if (stored == StoreFailure::None)
        stored = AppendWorkFile(files, data.get());
    if (stored == StoreFailure::None)
        recordBuffer.imageLength = imageLength;
    image.Close();
    files.Delete(kSecondWorkFileName);
    return stored;
}

// A blob landing exactly where the chain of a kept new data file ends would make the
// record look moved, and the record would be read from the new data file. The blob is
// appended once more, past that point; the first copy is left for compaction.
StoreFailure KeepOffMovedChain(const StoreFiles& files, uint32_t recordIndex)
{
    if (!TakenForMovedRecord(files, recordIndex, recordBuffer))
        return StoreFailure::None;
    // The second copy starts a whole blob past the chain's end.
    ScopedStoreFile data(files.Open(kDataFileName));
    return data ? AppendWorkFile(files, data.get()) : StoreFailure::Unwritable;
}

// Each page written by the host's writer to the second work file, compressed and appended
// to the data file, flushed; page 1 last, so that the work file still holds its member for
// KeepOffMovedChain. blobs[i] receives the blob of page i + 1. A writer that fails leaves
// its answer in writeError and stops the save.
StoreFailure AppendPages(StoreHost& host, const StoreFiles& files, uint32_t pages, const PageFileWriter& writer,
                         std::vector<IndexRecord>& blobs, int& writeError)
{
    blobs.assign(pages, IndexRecord{});
    for (uint32_t i = 1; i <= pages; ++i) {
        uint32_t page = i % pages;
        files.Delete(kSecondWorkFileName);
        if ((writeError = writer(page, files.Path(kSecondWorkFileName).c_str())) != 0)
            return StoreFailure::None;
        if (StoreFailure failure = AppendImageBlob(host, files, files.Size(kSecondWorkFileName));
            failure != StoreFailure::None)
            return failure;
        blobs[page] = recordBuffer;
    }
    return StoreFailure::None;
}

}  // namespace

bool SaveNotLocked(StoreHost& host, const StoreFiles& files, StoreLockOutcome outcome, bool image)
{
    switch (outcome) {
    case StoreLockOutcome::Held:
        return true;
    case StoreLockOutcome::NoIndex:
        // Only a mark goes without creating the index: no index, no image to remove.
        return !image;
    case StoreLockOutcome::Abandoned:
        TellUser(host, image ? kNotStoredWhileWaiting : kMarkWhileWaiting, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    case StoreLockOutcome::Unopenable:
        if (image)
            TellUser(host, "Can't open/create", files.Path(kIndexFileName).c_str(), MB_OK);
        TellUser(host, image ? kRecordNotStored : kMarkNotStored, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    case StoreLockOutcome::LockFailed:
        break;
    }
    TellUser(host, image ? kNotStoredUnlocked : kMarkUnlocked, nullptr, MB_OK | MB_ICONSTOP);
    return false;
}

namespace {
// The save, under the exclusive lock held.
SaveOutcome SaveHeld(StoreHost& host, const StoreFiles& files, uint32_t pages, const PageFileWriter& writer)
{
    SaveOutcome outcome;
    int32_t recordNumber = host.RecordNumber();
    if (StoreFailure failure = ReleaseRecordFromCompaction(files, recordNumber); failure != StoreFailure::None) {
        ReportNotStored(host, failure);
        return outcome;
    }
    Placement place = FindRecordsForSave(host, files);
    if (place.searched && place.plan.unreadable) {
        ReportNotStored(host, StoreFailure::IndexUnreadable);
        return outcome;
    }
    std::vector<IndexRecord> blobs;
    StoreFailure appended = AppendPages(host, files, pages, writer, blobs, outcome.writeError);
    if (outcome.writeError != 0)
        return outcome;
    if (appended != StoreFailure::None) {
        ReportNotStored(host, appended);
        return outcome;
    }
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (index && !place.searched)
        place.plan = PlanPages(index.get(), recordNumber);
    std::optional<uint32_t> firstAt;
    if (index && !place.plan.unreadable)
        firstAt = FirstPagePlace(index.get(), place.plan);
    recordBuffer = blobs[0];
    appended = firstAt ? KeepOffMovedChain(files, *firstAt) : StoreFailure::None;
    blobs[0] = recordBuffer;
    std::vector<uint32_t> reused;
    if (!firstAt || appended != StoreFailure::None ||
        !WriteDocumentRecords(index.get(), recordNumber, place.plan, blobs, reused)) {
        if (appended != StoreFailure::None)
            ReportNotStored(host, appended);
        else
            TellUser(host, place.plan.unreadable ? kIndexUnreadable : kRecordNotStored, nullptr, MB_OK | MB_ICONSTOP);
        return outcome;
    }
    outcome.stored = true;
    RetireOldPages(index.get(), place.plan, reused);
    return outcome;
}

// The delete mark, under the exclusive lock held: page 1 first, which is what readers
// look at, then the document's other records.
bool MarkHeld(StoreHost& host, const StoreFiles& files)
{
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (!index) {
        // No index file, no stored image; one that exists but cannot be opened may hold one.
        if (!files.Exists(kIndexFileName))
            return true;
        TellUser(host, kMarkNotStored, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    }
    PagePlan plan = PlanPages(index.get(), host.RecordNumber());
    if (plan.unreadable) {
        TellUser(host, kMarkUnreadable, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    }
    if (plan.records.empty())
        return true;
    const NumberedRecord& first = plan.records.front();
    recordBuffer = first.record;
    recordBuffer.deleted = 1;
    // The mark is reported done only once it is on the disk; one that may not be is taken
    // back, so that what the user is told stays true.
    if (!WriteRecordBufferAt(index.get(), first.position)) {
        recordBuffer = first.record;
        WriteRecordBufferAt(index.get(), first.position);
        TellUser(host, kMarkNotStored, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    }
    RetireOldPages(index.get(), plan);
    return true;
}

// Save Image under one hold on the store; no writer: the delete mark. Throws
// std::bad_alloc when memory runs out before the record was written; it then keeps what
// it pointed at.
SaveOutcome SaveUnderLock(StoreHost& host, uint32_t pages, const PageFileWriter* writer)
{
    StoreFiles files(host.StoreDirectory());
    SaveOutcome outcome;
    // The second work file is every program's on this store: it is written and removed
    // only while the store is this program's.
    StoreLock lock(host, files, StoreAccess::Write, writer != nullptr);
    if (!lock.held()) {
        outcome.stored = SaveNotLocked(host, files, lock.outcome(), writer != nullptr);
        return outcome;
    }
    files.Delete(kSecondWorkFileName);
    if (!writer)
        outcome.stored = MarkHeld(host, files);
    else
        outcome = SaveHeld(host, files, pages, *writer);
    try {
        files.Delete(kSecondWorkFileName);
    } catch (const std::bad_alloc&) {
        // What was stored stays stored; the next save removes the file first.
    }
    return outcome;
}

SaveOutcome SaveGuarded(StoreHost& host, uint32_t pages, const PageFileWriter* writer)
{
    StoreBusyScope busy;
    try {
        return SaveUnderLock(host, pages, writer);
    } catch (const std::bad_alloc&) {
        // The window keeps its image: the user may close other programs and save again.
        TellUser(host, writer ? kNoMemory : kMarkNoMemory, nullptr, MB_OK | MB_ICONSTOP);
        return {};
    }
}
}  // namespace

SaveOutcome SaveRecord(StoreHost& host, const ImageFileWriter* writer)
{
    if (!writer)
        return SaveGuarded(host, 0, nullptr);
    PageFileWriter page = [writer](uint32_t, const char* path) { return (*writer)(path); };
    return SaveGuarded(host, 1, &page);
}

SaveOutcome SaveDocument(StoreHost& host, uint32_t pages, const PageFileWriter& writer)
{
    return SaveGuarded(host, pages, pages > 0 ? &writer : nullptr);
}
