// Loading the host record's image at window creation.
#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

namespace {
// A blob written by an earlier writer is the image file itself.
bool CopyPlainBlob(const StoreFiles& files, StoreHandle data)
{
    ScopedStoreFile work(files.Create(kWorkFileName));
    if (!work)
        return false;
    CopyChunks({data, {}}, {work.get(), {}}, recordBuffer.storedLength);
    return true;
}

// The gzip member goes to the second work file first, and is expanded from there into
// the work file, bounded by the image length.
bool ExpandCompressedBlob(const StoreFiles& files, StoreHandle data)
{
    {
        ScopedStoreFile member(files.Create(kSecondWorkFileName));
        // A second work file left over from an earlier run holds some other image.
        if (!member)
            return false;
        CopyChunks({data, {}}, {member.get(), {}}, recordBuffer.storedLength);
    }
    bool loaded = false;
    GzHandle gz = files.GzOpen(kSecondWorkFileName, "rb");
    if (gz) {
        ScopedStoreFile work(files.Create(kWorkFileName));
        if (work) {
            CopyChunks({{}, gz}, {work.get(), {}}, recordBuffer.imageLength);
            loaded = true;
        }
        GzCloseStoreFile(gz);
    }
    files.Delete(kSecondWorkFileName);
    return loaded;
}

// Leaves the record's image file in the work file; answers whether one was produced
// (damaged or short ones included: the bitmap reader judges them).
bool ExtractRecordImage(const StoreFiles& files, const char* dataFileName)
{
    ScopedStoreFile data(files.Open(dataFileName));
    if (!data)
        return false;
    // An offset beyond the signed file positions cannot be reached; reading from
    // wherever the failed seek left the file would show another image.
    int32_t offset = static_cast<int32_t>(recordBuffer.dataOffset);
    if (offset < 0 || SeekStoreFile(data.get(), offset, FILE_BEGIN) != offset)
        return false;
    return recordBuffer.compressed == 0 ? CopyPlainBlob(files, data.get())
                                        : ExpandCompressedBlob(files, data.get());
}

// An empty window would tell the user the record has no image.
void ReportIndexUnreadable(StoreHost& host)
{
    host.Message("The image stored for this record cannot be shown: the image store's index file pagorex.idx "
                 "could not be read.\n\nNothing was changed in the store.",
                 nullptr, MB_OK | MB_ICONEXCLAMATION);
}
}  // namespace

void LoadRecordImage(StoreHost& host)
{
    StoreBusyScope busy;
    StoreFiles files(host.StoreDirectory());
    ResetRecordBuffer();
    // Shared with other readers; the work files are this load's alone.
    StoreLock lock(host, files, StoreAccess::Read);
    if (!lock.held()) {
        if (lock.outcome() == StoreLockOutcome::Unopenable || lock.outcome() == StoreLockOutcome::LockFailed)
            ReportIndexUnreadable(host);
        return;
    }
    IndexLookup lookup;
    if (ScopedStoreFile index(files.Open(kIndexFileName)); index)
        lookup = FindIndexRecord(index.get(), host.RecordNumber());
    if (lookup.unreadable()) {
        ReportIndexUnreadable(host);
        return;
    }
    if (!lookup.found() || recordBuffer.deleted != 0)
        return;

    // A compaction stopped half-way has already moved the leading records' blobs.
    const char* dataFile = DataFileOfRecord(files, lookup.position);
    if (!dataFile) {
        ReportIndexUnreadable(host);
        return;
    }
    bool loaded = ExtractRecordImage(files, dataFile);
    host.ShowImageFile(loaded ? files.Path(kWorkFileName).c_str() : nullptr);
    files.Delete(kWorkFileName);
}
