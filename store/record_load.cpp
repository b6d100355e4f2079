// Loading the host record's image at window creation.
#include "store/document_pages.h"
#include "store/interrupted_compaction.h"
#include "store/record_buffer.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

#include "store/core/indexed_gzip.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {
// Blobs up to this size are read whole, so that one whose member lists its blocks is
// expanded on every core; a larger one streams through as it is expanded.
constexpr uint32_t kWholeBlob = 256u << 20;

// An image file already in memory.
class ImageInMemory final : public ImageFileSource {
public:
    explicit ImageInMemory(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    int64_t Read(void* buffer, size_t count) override
    {
        count = std::min(count, bytes_.size() - at_);
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        return static_cast<int64_t>(count);
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

// The record's compressed blob read whole and, when its member lists its blocks, expanded
// on every core and shown: false when it is not such a blob, or a read or a block fails
// (it is then shown as any other, from the start, which tells what is wrong with it).
bool ShowListedBlob(StoreHost& host, StoreHandle data)
{
    if (recordBuffer.compressed == 0 || recordBuffer.storedLength > kWholeBlob)
        return false;
    try {
        std::vector<uint8_t> blob(recordBuffer.storedLength), image;
        if (ReadStoreFile(data, blob.data(), recordBuffer.storedLength) != int32_t(recordBuffer.storedLength) ||
            !pgz::InflateListed(blob, recordBuffer.imageLength, image))
            return false;
        ImageInMemory source(image);
        host.ShowImage(&source);
        return true;
    } catch (const std::bad_alloc&) {
        return false;  // streamed instead, in the memory of a block
    }
}

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
    if (ShowListedBlob(host, data.get()))
        return true;
    if (SeekStoreFile(data.get(), offset, FILE_BEGIN) != offset)
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

// "3", "3 and 5", "3, 5 and 8"; past a few, how many more.
std::string PageList(const std::vector<uint32_t>& pages)
{
    constexpr size_t kNamed = 12;
    std::string text;
    size_t named = std::min(pages.size(), kNamed);
    for (size_t i = 0; i < named; ++i)
        text += (i == 0 ? "" : i + 1 == named && named == pages.size() ? " and " : ", ") + std::to_string(pages[i]);
    if (pages.size() > named)
        text += " and " + std::to_string(pages.size() - named) + " more";
    return text;
}

// What the user is told of a document that could not be shown whole: which pages are
// missing, and that saving stores what is shown.
std::string DocumentNotice(const Document& document, const std::vector<uint32_t>& unshown, bool indexUnreadable)
{
    std::vector<uint32_t> claimedTwice;
    for (const PageFault& fault : document.faults)
        if (fault.problem == PageProblem::Duplicate)
            claimedTwice.push_back(fault.page);
    std::string text;
    if (!unshown.empty())
        text = std::string(unshown.size() == 1 ? "Page " : "Pages ") + PageList(unshown) + " of the " +
               std::to_string(document.pages.size()) + " pages stored for this record could not be shown: " +
               (indexUnreadable ? "the image store's index file pagorex.idx could not be read to its end."
                                : "the image store holds no record for them, or their images cannot be read.") +
               " The other pages are shown in order.\n\n";
    if (claimedTwice.size() == 1)
        text += "Two records of the image store claim page " + PageList(claimedTwice) +
                "; the first of them is shown.\n\n";
    else if (!claimedTwice.empty())
        text += "Two records of the image store claim each of pages " + PageList(claimedTwice) +
                "; the first of each is shown.\n\n";
    if (text.empty())
        return text;
    return text + "Save Image stores the document as it is shown now, without what is missing. Until then the "
                  "image store is left as it is.";
}

// The pages after page 1 of a marked first record, and what could not be shown of them.
void ShowFurtherPages(StoreHost& host, const StoreFiles& files, const BlobFiles& blobFiles,
                      const NumberedRecord& first)
{
    RecordsOfNumber found;
    found.unreadable = true;
    if (ScopedStoreFile index(files.Open(kIndexFileName)); index)
        found = FindRecordsOfNumber(index.get(), first.record.recordNumber, first.position + 1);
    found.records.insert(found.records.begin(), first);
    Document document = AssembleDocument(found.records);
    std::vector<uint32_t> unshown = HandFurtherPages(host, files, blobFiles, document);
    std::string notice = DocumentNotice(document, unshown, found.unreadable);
    if (!notice.empty())
        TellUser(host, notice.c_str(), nullptr, MB_OK | MB_ICONEXCLAMATION);
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
    std::optional<BlobFiles> blobFiles = BlobFilesOfRecords(files);
    if (!blobFiles) {
        ReportIndexUnreadable(host);
        return;
    }
    NumberedRecord first{static_cast<uint32_t>(lookup.position / static_cast<int32_t>(kIndexRecordSize)),
                         recordBuffer};
    // The image is expanded straight into memory, and a load leaves no work files: the
    // compressed image a save keeps in pagorex.tmp, or files a stopped run left, go now.
    if (recordBuffer.compressed != 0)
        files.Delete(kSecondWorkFileName);
    files.Delete(kWorkFileName);
    if (!ShowRecordImage(host, files, blobFiles->Of(first.position)))
        host.ShowImage(nullptr);
    if (!ReadPageMark(first.record))
        return;
    try {
        ShowFurtherPages(host, files, *blobFiles, first);
    } catch (const std::bad_alloc&) {
        TellUser(host, "Not every page stored for this record could be shown: there was not enough memory.\n\n"
                       "Nothing was changed in the image store.",
                 nullptr, MB_OK | MB_ICONEXCLAMATION);
    }
}
