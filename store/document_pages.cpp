// The further pages of a document, expanded in parallel and handed over in order.
#include "store/document_pages.h"

#include "store/core/worker_pool.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>

namespace {
struct PageJob {
    uint32_t page = 0;
    bool readable = false;  // the blob was read; the image follows
    std::vector<uint8_t> blob;
    bool compressed = false;
    uint32_t imageLength = 0;
    std::vector<uint8_t> image;
    bool failed = false;  // the image ends where its blob could be expanded no further
    bool done = false;
};

// Shared with the workers, which may finish a page after the load gave up waiting.
struct Finished {
    std::mutex mutex;
    std::condition_variable changed;
};

// The largest image a blob of that size can expand to (deflate's limit is 1032 to 1).
size_t ImageBound(const PageJob& job)
{
    if (!job.compressed)
        return job.blob.size();
    return static_cast<size_t>(std::min<uint64_t>(job.imageLength, uint64_t(job.blob.size()) * 1032 + 1024));
}

// Expands the blob exactly as a load reads page 1's (BlobStream), into memory.
void Expand(PageJob& job) noexcept
{
    try {
        size_t at = 0;
        BlobStream stream(
            [&job, &at](void* to, size_t count) -> int64_t {
                size_t n = std::min(count, job.blob.size() - at);
                std::memcpy(to, job.blob.data() + at, n);
                at += n;
                return static_cast<int64_t>(n);
            },
            job.compressed, job.imageLength);
        job.image.resize(ImageBound(job));
        size_t got = 0;
        while (got < job.image.size()) {
            int64_t read = stream.Read(job.image.data() + got, job.image.size() - got);
            if (read <= 0) {
                job.failed = read < 0;
                break;
            }
            got += static_cast<size_t>(read);
        }
        job.image.resize(got);
    } catch (...) {
        job.image.clear();
        job.failed = true;
    }
    job.blob = std::vector<uint8_t>();
}

// The expanded image as the host reads it, ending as its blob stream did.
class HeldImage final : public ImageFileSource {
public:
    explicit HeldImage(const PageJob& job) : job_(job) {}
    int64_t Read(void* buffer, size_t count) override
    {
        size_t n = std::min(count, job_.image.size() - at_);
        if (n == 0)
            return job_.failed ? -1 : 0;
        std::memcpy(buffer, job_.image.data() + at_, n);
        at_ += n;
        return static_cast<int64_t>(n);
    }

private:
    const PageJob& job_;
    size_t at_ = 0;
};

// Reads a page's blob from the file holding it, as far as the file reaches.
bool ReadBlob(const StoreFiles& files, const char* fileName, const IndexRecord& record, std::vector<uint8_t>& blob)
{
    ScopedStoreFile file(files.Open(fileName));
    int32_t offset = static_cast<int32_t>(record.dataOffset);
    int32_t end = file ? SeekStoreFile(file.get(), 0, FILE_END) : -1;
    if (offset < 0 || end < offset || SeekStoreFile(file.get(), offset, FILE_BEGIN) != offset)
        return false;
    blob.resize(std::min<uint32_t>(record.storedLength, static_cast<uint32_t>(end - offset)));
    size_t got = 0;
    while (got < blob.size()) {
        int32_t read = ReadStoreFile(file.get(), blob.data() + got, static_cast<uint32_t>(blob.size() - got));
        if (read <= 0)
            break;
        got += static_cast<size_t>(read);
    }
    blob.resize(got);
    return true;
}

class PageLine {
public:
    explicit PageLine(size_t pages)
        : threads_(workers::Engage(static_cast<unsigned>(std::min<size_t>(workers::PerCore(), pages))))
    {
    }
    // Pages being read or expanded at once: enough to keep every worker busy.
    size_t Depth() const { return std::max<size_t>(1, 2 * threads_); }

    void Start(const std::shared_ptr<PageJob>& job)
    {
        if (job->readable && threads_ > 0) {
            std::shared_ptr<Finished> finished = finished_;
            try {
                workers::Post([job, finished] {
                    Expand(*job);
                    std::lock_guard<std::mutex> hold(finished->mutex);
                    job->done = true;
                    finished->changed.notify_all();
                });
                return;
            } catch (const std::bad_alloc&) {
                // Not queued: expanded here instead.
            }
        }
        if (job->readable)
            Expand(*job);
        job->done = true;
    }

    void Wait(const PageJob& job)
    {
        std::unique_lock<std::mutex> hold(finished_->mutex);
        finished_->changed.wait(hold, [&job] { return job.done; });
    }

private:
    unsigned threads_;
    std::shared_ptr<Finished> finished_ = std::make_shared<Finished>();
};

void HandOver(StoreHost& host, PageLine& line, const PageJob& job, std::vector<uint32_t>& unshown)
{
    line.Wait(job);
    if (!job.readable) {
        unshown.push_back(job.page);
        host.AddPage(nullptr);
        return;
    }
    HeldImage image(job);
    host.AddPage(&image);
}
}  // namespace

std::vector<uint32_t> HandFurtherPages(StoreHost& host, const StoreFiles& files, const BlobFiles& blobFiles,
                                       const Document& document)
{
    std::vector<uint32_t> unshown;
    if (document.pages.size() < 2)
        return unshown;
    PageLine line(document.pages.size() - 1);
    std::deque<std::shared_ptr<PageJob>> pending;
    for (uint32_t page = 2; page <= document.pages.size(); ++page) {
        auto job = std::make_shared<PageJob>();
        job->page = page;
        if (const std::optional<NumberedRecord>& found = document.pages[page - 1]) {
            job->compressed = found->record.compressed != 0;
            job->imageLength = found->record.imageLength;
            try {
                job->readable = ReadBlob(files, blobFiles.Of(found->position), found->record, job->blob);
            } catch (const std::bad_alloc&) {
                job->blob = std::vector<uint8_t>();
            }
        }
        line.Start(job);
        pending.push_back(std::move(job));
        for (; pending.size() >= line.Depth() || (page == document.pages.size() && !pending.empty());
             pending.pop_front())
            HandOver(host, line, *pending.front(), unshown);
    }
    return unshown;
}
