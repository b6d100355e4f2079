// Save Image: storing the image the window shows for the host record, or marking the
// record as imageless.
#include "store/core/parallel_gzip.h"
#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

#include <cstdio>
#include <new>
#include <optional>

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

// Where the host's record lies in the index file, once it has been looked for.
struct RecordPlace {
    bool searched = false;
    bool unreadable = false;  // the index could not be read to the record or its end
    std::optional<int32_t> position;
    IndexRecord original{};  // the record as found, to put back if a rewrite breaks off
};

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

// Loads the host's record into the record buffer, or a fresh one (recordNumber -1).
void LookUpRecord(StoreHandle index, int32_t recordNumber, RecordPlace& place)
{
    place.searched = true;
    IndexLookup lookup = FindIndexRecord(index, recordNumber);
    // A record not found because the index broke off may still be there: appending
    // another one would hide the image behind the first.
    place.unreadable = lookup.unreadable();
    place.position.reset();
    if (lookup.found())
        place.position = lookup.position;
    else
        ResetRecordBuffer(-1);
    place.original = recordBuffer;
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

RecordPlace FindRecordForSave(StoreHost& host, const StoreFiles& files)
{
    RecordPlace place;
    ResetRecordBuffer(-1);
    ScopedStoreFile index(files.OpenOrCreate(kIndexFileName));
    if (!index) {
        TellUser(host, "Can't open/create", files.Path(kIndexFileName).c_str(), MB_OK);
        return place;
    }
    LookUpRecord(index.get(), host.RecordNumber(), place);
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
StoreFailure KeepOffMovedChain(const StoreFiles& files, const RecordPlace& place)
{
    uint32_t recordIndex = place.position ? static_cast<uint32_t>(*place.position) / kIndexRecordSize
                                          : IndexRecordCount(files.Size(kIndexFileName));
    if (!TakenForMovedRecord(files, recordIndex, recordBuffer))
        return StoreFailure::None;
    // The second copy starts a whole blob past the chain's end.
    ScopedStoreFile data(files.Open(kDataFileName));
    return data ? AppendWorkFile(files, data.get()) : StoreFailure::Unwritable;
}

// A new record goes after the last whole record: a trailing fragment would otherwise
// shift it off the 256-byte grid, where no lookup ever finds it.
int32_t SeekToRecordPlace(StoreHandle index, const RecordPlace& place)
{
    if (place.position)
        return SeekStoreFile(index, *place.position, FILE_BEGIN);
    int32_t end = SeekStoreFile(index, 0, FILE_END);
    if (end < 0)
        return -1;
    int32_t whole = end - end % static_cast<int32_t>(kIndexRecordSize);
    return SeekStoreFile(index, whole, FILE_BEGIN);
}

bool WriteSavedRecord(const StoreFiles& files, int32_t recordNumber, RecordPlace& place)
{
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (!index)
        return false;
    if (!place.searched) {
        // The index could not be opened before the blob was appended: look again now,
        // keeping the new blob's place.
        IndexRecord blob = recordBuffer;
        LookUpRecord(index.get(), recordNumber, place);
        if (place.unreadable)
            return false;
        recordBuffer.dataOffset = blob.dataOffset;
        recordBuffer.storedLength = blob.storedLength;
        recordBuffer.compressed = blob.compressed;
        recordBuffer.imageLength = blob.imageLength;
    }
    int32_t at = SeekToRecordPlace(index.get(), place);
    if (at < 0)
        return false;
    recordBuffer.deleted = 0;
    recordBuffer.recordNumber = recordNumber;
    // Success is reported only once the record is on the disk.
    if (WriteRecordBuffer(index.get()) && FlushStoreFile(index.get()))
        return true;
    // Leave no half-written record behind.
    if (place.position) {
        recordBuffer = place.original;
        if (SeekStoreFile(index.get(), at, FILE_BEGIN) == at)
            WriteRecordBuffer(index.get());
    } else {
        TruncateStoreFile(index.get(), at);
    }
    return false;
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
bool SaveHeld(StoreHost& host, const StoreFiles& files)
{
    int32_t recordNumber = host.RecordNumber();
    uint32_t imageLength = files.Size(kSecondWorkFileName);
    if (StoreFailure failure = ReleaseRecordFromCompaction(files, recordNumber); failure != StoreFailure::None) {
        ReportNotStored(host, failure);
        return false;
    }
    RecordPlace place = FindRecordForSave(host, files);
    if (place.unreadable) {
        ReportNotStored(host, StoreFailure::IndexUnreadable);
        return false;
    }
    StoreFailure appended = AppendImageBlob(host, files, imageLength);
    if (appended == StoreFailure::None)
        appended = KeepOffMovedChain(files, place);
    if (appended != StoreFailure::None) {
        ReportNotStored(host, appended);
        return false;
    }
    if (!WriteSavedRecord(files, recordNumber, place)) {
        TellUser(host, place.unreadable ? kIndexUnreadable : kRecordNotStored, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

// The delete mark, under the exclusive lock held.
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
    recordBuffer.recordNumber = -1;
    IndexLookup lookup = FindIndexRecord(index.get(), host.RecordNumber());
    if (lookup.unreadable()) {
        TellUser(host, kMarkUnreadable, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    }
    if (!lookup.found())
        return true;
    IndexRecord original = recordBuffer;
    recordBuffer.deleted = 1;
    if (SeekStoreFile(index.get(), lookup.position, FILE_BEGIN) != lookup.position) {
        TellUser(host, kMarkNotStored, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    }
    // The mark is reported done only once it is on the disk; one that may not be is taken
    // back, so that what the user is told stays true.
    if (!WriteRecordBuffer(index.get()) || !FlushStoreFile(index.get())) {
        recordBuffer = original;
        if (SeekStoreFile(index.get(), lookup.position, FILE_BEGIN) == lookup.position)
            WriteRecordBuffer(index.get());
        TellUser(host, kMarkNotStored, nullptr, MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

// Save Image under one hold on the store. Throws std::bad_alloc when memory runs out
// before the record was written; it then keeps what it pointed at.
SaveOutcome SaveUnderLock(StoreHost& host, const ImageFileWriter* writer)
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
    else if ((outcome.writeError = (*writer)(files.Path(kSecondWorkFileName).c_str())) == 0)
        outcome.stored = SaveHeld(host, files);
    try {
        files.Delete(kSecondWorkFileName);
    } catch (const std::bad_alloc&) {
        // What was stored stays stored; the next save removes the file first.
    }
    return outcome;
}
}  // namespace

SaveOutcome SaveRecord(StoreHost& host, const ImageFileWriter* writer)
{
    StoreBusyScope busy;
    try {
        return SaveUnderLock(host, writer);
    } catch (const std::bad_alloc&) {
        // The window keeps its image: the user may close other programs and save again.
        TellUser(host, writer ? kNoMemory : kMarkNoMemory, nullptr, MB_OK | MB_ICONSTOP);
        return {};
    }
}
