// Loading the host record's image at window creation.
#include "app/shell.h"
#include "app/view.h"
#include "dib/dib.h"
#include "dib/dib_file.h"
#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"

namespace {
// A blob written by an earlier writer is the image file itself.
bool CopyPlainBlob(StoreHandle data)
{
    ScopedStoreFile work(CreateStoreFile(kWorkFileName));
    if (!work)
        return false;
    CopyChunks({data, {}}, {work.get(), {}}, recordBuffer.storedLength);
    return true;
}

// The gzip member goes to the second work file first, and is expanded from there into
// the work file, bounded by the image length.
bool ExpandCompressedBlob(StoreHandle data)
{
    {
        ScopedStoreFile member(CreateStoreFile(kSecondWorkFileName));
        // A second work file left over from an earlier run holds some other image.
        if (!member)
            return false;
        CopyChunks({data, {}}, {member.get(), {}}, recordBuffer.storedLength);
    }
    bool loaded = false;
    GzHandle gz = GzOpenStoreFile(kSecondWorkFileName, "rb");
    if (gz) {
        ScopedStoreFile work(CreateStoreFile(kWorkFileName));
        if (work) {
            CopyChunks({{}, gz}, {work.get(), {}}, recordBuffer.imageLength);
            loaded = true;
        }
        GzCloseStoreFile(gz);
    }
    DeleteStoreFile(kSecondWorkFileName);
    return loaded;
}

// Leaves the record's image file in the work file; answers whether one was produced
// (damaged or short ones included: the bitmap reader judges them).
bool ExtractRecordImage(const char* dataFileName)
{
    ScopedStoreFile data(OpenStoreFile(dataFileName));
    if (!data)
        return false;
    // An offset beyond the signed file positions cannot be reached; reading from
    // wherever the failed seek left the file would show another image.
    int32_t offset = static_cast<int32_t>(recordBuffer.dataOffset);
    if (offset < 0 || SeekStoreFile(data.get(), offset, FILE_BEGIN) != offset)
        return false;
    return recordBuffer.compressed == 0 ? CopyPlainBlob(data.get()) : ExpandCompressedBlob(data.get());
}

// An empty window would tell the user the record has no image.
void ReportIndexUnreadable(HWND window)
{
    MessageBoxA(window,
                "The image stored for this record cannot be shown: the image store's index file pagorex.idx could "
                "not be read.\n\nNothing was changed in the store.",
                appName, MB_OK | MB_ICONEXCLAMATION);
}
}  // namespace

void LoadRecordImage(HWND window)
{
    StoreBusyScope busy;
    ResetRecordBuffer();
    IndexLookup lookup;
    if (ScopedStoreFile index(OpenStoreFile(kIndexFileName)); index)
        lookup = FindIndexRecord(index.get(), hostRecordNumber);
    if (lookup.unreadable()) {
        ReportIndexUnreadable(window);
        return;
    }
    if (!lookup.found() || recordBuffer.deleted != 0)
        return;

    // A compaction stopped half-way has already moved the leading records' blobs.
    const char* dataFile = DataFileOfRecord(lookup.position);
    if (!dataFile) {
        ReportIndexUnreadable(window);
        return;
    }
    bool loaded = ExtractRecordImage(dataFile);
    ReleaseCurrentImage();
    InvalidateRect(window, nullptr, TRUE);
    if (loaded) {
        char path[kStorePathSize];
        lstrcpynA(path, StoreFile(kWorkFileName), sizeof path);
        currentDib = DibReadFile(path);
        if (currentDib) {
            currentPalette = CreateDibPalette(currentDib);
            SizeWindowToImage(window, currentDib);
            InvalidateRect(window, nullptr, TRUE);
        }
    }
    DeleteStoreFile(kWorkFileName);
}
