// Storing the current image for the host record, and marking the record as imageless.
#include "app/shell.h"
#include "app/view.h"
#include "dib/dib.h"
#include "dib/dib_file.h"
#include "resources/resource.h"
#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"

#include <float.h>

#include <cstdio>
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
constexpr char kMarkUnreadable[] =
    "The image was not removed from the image store: its index file pagorex.idx could not be read.\n\nThe "
    "record keeps its stored image.";
constexpr char kStoreBusy[] =
    "The image was not stored: the image store is busy with another operation.\n\nPlease save again when it "
    "has finished.";
constexpr char kWriteErrorText[] = "Error writing DIB to file - is there room for the image?";

// Where the host's record lies in the index file, once it has been looked for.
struct RecordPlace {
    bool searched = false;
    bool unreadable = false;  // the index could not be read to the record or its end
    std::optional<int32_t> position;
    IndexRecord original{};  // the record as found, to put back if a rewrite breaks off
};

void ShowCompressionProgress(uint32_t chunk, uint32_t remaining)
{
    if (chunk % 10 != 0)
        return;
    char text[80];
    std::snprintf(text, sizeof text, "Please wait, compressing database...%lu left",
                  static_cast<unsigned long>(remaining));
    ShowProgress(text);
}

// Loads the host's record into the record buffer, or a fresh one (recordNumber -1).
void LookUpRecord(StoreHandle index, RecordPlace& place)
{
    place.searched = true;
    IndexLookup lookup = FindIndexRecord(index, hostRecordNumber);
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

void ReportNotStored(StoreFailure failure)
{
    const char* text = failure == StoreFailure::IndexUnreadable ? kIndexUnreadable
                       : failure == StoreFailure::SizeLimit     ? kSizeLimit
                                                                : kBlobNotStored;
    ShellMessage(text, MB_OK | MB_ICONSTOP);
}

// A record that a compaction stopped half-way has moved into the new data file gets its
// blob back in the data file before it is repointed (the moved records must stay an
// unbroken chain). This may rewrite index records, so it runs before the record buffer
// is loaded for the save.
StoreFailure ReleaseRecordFromCompaction()
{
    IndexLookup lookup;
    if (ScopedStoreFile index(OpenStoreFile(kIndexFileName)); index)
        lookup = FindIndexRecord(index.get(), hostRecordNumber);
    if (lookup.unreadable())
        return StoreFailure::IndexUnreadable;
    return ReleaseFromMovedChain(lookup.found() ? lookup.position : -1);
}

RecordPlace FindRecordForSave(HWND window)
{
    RecordPlace place;
    ResetRecordBuffer(-1);
    ScopedStoreFile index(OpenOrCreateStoreFile(kIndexFileName));
    if (!index) {
        char path[kStorePathSize];
        lstrcpynA(path, StoreFile(kIndexFileName), sizeof path);
        MessageBoxA(window, "Can't open/create", path, MB_OK);
        return place;
    }
    LookUpRecord(index.get(), place);
    return place;
}

// The second work file, gzip-compressed into the work file. Answers whether the whole
// image went in and the member was completed.
bool CompressImage(StoreHandle image, uint32_t imageLength)
{
    DeleteStoreFile(kWorkFileName);
    GzHandle gz = GzOpenStoreFile(kWorkFileName, "wb9");
    if (!gz)
        return false;
    CopyOutcome outcome = CopyChunks({image, {}}, {{}, gz}, imageLength, ShowCompressionProgress);
    bool completed = GzCloseStoreFile(gz);
    return completed && !outcome.sinkFailed && outcome.copied == imageLength;
}

// Appends the compressed image to the data file and points the record buffer at it;
// on failure the record buffer keeps its old blob and image length.
StoreFailure AppendImageBlob(uint32_t imageLength)
{
    ScopedStoreFile data(OpenOrCreateStoreFile(kDataFileName));
    if (!data)
        return StoreFailure::Unwritable;
    ScopedStoreFile image(OpenStoreFile(kSecondWorkFileName));
    if (!image)
        return StoreFailure::Unwritable;
    StoreFailure stored =
        CompressImage(image.get(), imageLength) ? AppendWorkFile(data.get()) : StoreFailure::Unwritable;
    if (stored == StoreFailure::None)
        recordBuffer.imageLength = imageLength;
    image.Close();
    DeleteStoreFile(kSecondWorkFileName);
    return stored;
}

// A blob landing exactly where the chain of a kept new data file ends would make the
// record look moved, and the record would be read from the new data file. The blob is
// appended once more, past that point; the first copy is left for compaction.
StoreFailure KeepOffMovedChain(const RecordPlace& place)
{
    uint32_t recordIndex = place.position ? static_cast<uint32_t>(*place.position) / kIndexRecordSize
                                          : IndexRecordCount(StoreFileSize(kIndexFileName));
    if (!TakenForMovedRecord(recordIndex, recordBuffer))
        return StoreFailure::None;
    // The second copy starts a whole blob past the chain's end.
    ScopedStoreFile data(OpenStoreFile(kDataFileName));
    return data ? AppendWorkFile(data.get()) : StoreFailure::Unwritable;
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

bool WriteSavedRecord(RecordPlace& place)
{
    ScopedStoreFile index(OpenStoreFile(kIndexFileName));
    if (!index)
        return false;
    if (!place.searched) {
        // The index could not be opened before the blob was appended: look again now,
        // keeping the new blob's place.
        IndexRecord blob = recordBuffer;
        LookUpRecord(index.get(), place);
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
    recordBuffer.recordNumber = hostRecordNumber;
    if (WriteRecordBuffer(index.get()))
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

void ReportDibWriteError()
{
    char text[kMessageTextSize];
    if (LoadStringA(appInstance, IDS_WRITE_ERROR, text, sizeof text) <= 0)
        lstrcpynA(text, kWriteErrorText, sizeof text);
    ShellMessage(text, MB_OK | MB_ICONINFORMATION);
}
}  // namespace

bool SaveRecordImage(HWND window)
{
    StoreBusyScope busy;
    uint32_t imageLength = StoreFileSize(kSecondWorkFileName);
    if (StoreFailure failure = ReleaseRecordFromCompaction(); failure != StoreFailure::None) {
        ReportNotStored(failure);
        return false;
    }
    RecordPlace place = FindRecordForSave(window);
    if (place.unreadable) {
        ReportNotStored(StoreFailure::IndexUnreadable);
        return false;
    }
    StoreFailure appended = AppendImageBlob(imageLength);
    if (appended == StoreFailure::None)
        appended = KeepOffMovedChain(place);
    if (appended != StoreFailure::None) {
        ReportNotStored(appended);
        return false;
    }
    if (!WriteSavedRecord(place)) {
        ShellMessage(place.unreadable ? kIndexUnreadable : kRecordNotStored, MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

bool MarkRecordDeleted(HWND)
{
    StoreBusyScope busy;
    ScopedStoreFile index(OpenStoreFile(kIndexFileName));
    if (!index) {
        // No index file, no stored image; one that exists but cannot be opened may hold one.
        if (!StoreFileExists(kIndexFileName))
            return true;
        ShellMessage(kMarkNotStored, MB_OK | MB_ICONSTOP);
        return false;
    }
    recordBuffer.recordNumber = -1;
    IndexLookup lookup = FindIndexRecord(index.get(), hostRecordNumber);
    if (lookup.unreadable()) {
        ShellMessage(kMarkUnreadable, MB_OK | MB_ICONSTOP);
        return false;
    }
    if (!lookup.found())
        return true;
    recordBuffer.deleted = 1;
    if (SeekStoreFile(index.get(), lookup.position, FILE_BEGIN) != lookup.position ||
        !WriteRecordBuffer(index.get())) {
        ShellMessage(kMarkNotStored, MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

bool SaveCommand(HWND window)
{
    if (storePathTooLong)
        return false;
    if (StoreBusy()) {
        // Chosen while a compaction or another save pumps messages: their files are open
        // and the record buffer is theirs.
        ShellMessage(kStoreBusy, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    StoreBusyScope busy;
    DeleteStoreFile(kSecondWorkFileName);
    bool stored = false;
    if (!currentDib) {
        stored = MarkRecordDeleted(window);
    } else {
        char path[kStorePathSize];
        lstrcpynA(path, StoreFile(kSecondWorkFileName), sizeof path);
        int written = DibWriteFile(currentDib, path);
        _fpreset();
        // With a name given there is no dialog to cancel: anything but 0 is a failure.
        if (written != 0)
            ReportDibWriteError();
        else
            stored = SaveRecordImage(window);
    }
    DeleteStoreFile(kSecondWorkFileName);
    _fpreset();
    return stored;
}
