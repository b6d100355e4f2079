// Loading the host record's image at window creation.
#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

#include <algorithm>

namespace {
// Shows the image file of the record in the record buffer, read from the data file as it
// is expanded. Answers false when the blob cannot be reached: the window then shows none.
bool ShowRecordImage(StoreHost& host, const StoreFiles& files, const char* dataFileName)
{
    ScopedStoreFile data(files.Open(dataFileName));
    if (!data)
        return false;
    // An offset beyond the signed file positions cannot be reached; reading from
    // wherever the failed seek left the file would show another image.
    int32_t offset = static_cast<int32_t>(recordBuffer.dataOffset);
    if (offset < 0 || SeekStoreFile(data.get(), offset, FILE_BEGIN) != offset)
        return false;
    uint32_t left = recordBuffer.storedLength;
    BlobStream image(
        [&data, &left](void* buffer, size_t count) -> int64_t {
            uint32_t asked = static_cast<uint32_t>(std::min<uint64_t>(count, left));
            int32_t read = asked ? ReadStoreFile(data.get(), buffer, asked) : 0;
            if (read > 0)
                left -= static_cast<uint32_t>(read);
            return read;
        },
        recordBuffer.compressed != 0, recordBuffer.imageLength);
    host.ShowImage(&image);
    return true;
}

// An empty window would tell the user the record has no image.
void ReportIndexUnreadable(StoreHost& host)
{
    TellUser(host, "The image stored for this record cannot be shown: the image store's index file pagorex.idx "
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
    // The image is expanded straight into memory, and a load leaves no work files: the
    // compressed image a save keeps in pagorex.tmp, or files a stopped run left, go now.
    if (recordBuffer.compressed != 0)
        files.Delete(kSecondWorkFileName);
    files.Delete(kWorkFileName);
    if (!ShowRecordImage(host, files, dataFile))
        host.ShowImage(nullptr);
}
