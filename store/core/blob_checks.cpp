#include "store/core/blob_checks.h"

#include "store/core/worker_pool.h"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

namespace {
// A batch ends at this many records or stored bytes: large enough that handing it over
// costs nothing against checking it, small enough that a few in flight keep every core
// busy without holding much.
constexpr size_t kBatchRecords = 512;
constexpr uint64_t kBatchBytes = 1 << 20;
// A listing reads no further into a blob than its headers.
constexpr uint64_t kHeaderReach = 4096;
}  // namespace

struct BlobChecks::Batch {
    std::vector<SurveyedRecord> records;
    bool done = false;
};

namespace {
// Gives every record of the batch its verdict. A record whose check cannot get its
// memory (the read window, the inflater) is reported unchecked, one whose check fails in
// any other way as such, and the next one tries again: nothing escapes to the worker,
// whose batch would then never be done, and no record goes without a verdict.
void CheckBatch(std::vector<SurveyedRecord>& records, FileReader* data, FileReader* newData, bool headerOnly)
{
    std::unique_ptr<BlobChecker> checker;
    std::optional<ReadWindow> dataWindow, newWindow;
    for (SurveyedRecord& s : records) {
        FileReader* file = s.file == BlobFile::NewData ? newData : data;
        std::optional<ReadWindow>& window = s.file == BlobFile::NewData ? newWindow : dataWindow;
        if (!file) {
            s.blob.problem = BlobProblem::MissingFile;
            continue;
        }
        try {
            if (!checker)
                checker = std::make_unique<BlobChecker>();
            if (!window)
                window.emplace(*file);
            s.blob = CheckBlob(*window, s.record, *checker, headerOnly);
        } catch (const std::bad_alloc&) {
            s.blob = BlobVerdict{};
            s.blob.problem = BlobProblem::Unchecked;
        } catch (...) {
            s.blob = BlobVerdict{};
            s.blob.problem = BlobProblem::CheckFailed;
            checker.reset();
            window.reset();
        }
    }
}
}  // namespace

BlobChecks::BlobChecks(FileReader* data, FileReader* newData, bool headerOnly, unsigned threads)
    : data_(data), newData_(newData), headerOnly_(headerOnly)
{
    unsigned wanted = threads == 0 ? workers::PerCore() : std::min(threads, workers::kMaxWorkers);
    if (wanted > 1)
        running_ = std::min(workers::Engage(wanted), wanted);
}

BlobChecks::~BlobChecks()
{
    std::unique_lock lock(mutex_);
    checked_.wait(lock, [this] {
        return std::all_of(inFlight_.begin(), inFlight_.end(), [](const auto& b) { return b->done; });
    });
}

void BlobChecks::Add(const SurveyedRecord& record, const Deliver& deliver)
{
    if (!filling_)
        filling_ = std::make_unique<Batch>();
    filling_->records.push_back(record);
    fillingBytes_ += headerOnly_ ? std::min<uint64_t>(record.record.storedLength, kHeaderReach)
                                 : record.record.storedLength;
    if (filling_->records.size() >= kBatchRecords || fillingBytes_ >= kBatchBytes)
        Dispatch();
    // Two batches a worker keep every core busy while the oldest is handed on.
    DeliverDone(inFlight_.size() > 2 * std::max(running_, 1u), deliver);
}

void BlobChecks::Finish(const Deliver& deliver)
{
    if (filling_)
        Dispatch();
    while (!inFlight_.empty())
        DeliverDone(true, deliver);
}

void BlobChecks::Dispatch()
{
    Batch* batch = filling_.get();
    {
        std::lock_guard lock(mutex_);
        inFlight_.push_back(std::move(filling_));
    }
    fillingBytes_ = 0;
    if (running_ == 0) {
        CheckBatch(batch->records, data_, newData_, headerOnly_);
        batch->done = true;
        return;
    }
    try {
        workers::Post([this, batch] {
            CheckBatch(batch->records, data_, newData_, headerOnly_);
            std::lock_guard lock(mutex_);
            batch->done = true;
            checked_.notify_all();
        });
        return;
    } catch (const std::bad_alloc&) {
        // No worker could be handed the batch: it is checked here.
    }
    CheckBatch(batch->records, data_, newData_, headerOnly_);
    std::lock_guard lock(mutex_);
    batch->done = true;
}

void BlobChecks::DeliverDone(bool wait, const Deliver& deliver)
{
    for (;;) {
        std::unique_ptr<Batch> batch;
        {
            std::unique_lock lock(mutex_);
            if (wait)
                checked_.wait(lock, [this] { return inFlight_.empty() || inFlight_.front()->done; });
            if (inFlight_.empty() || !inFlight_.front()->done)
                return;
            batch = std::move(inFlight_.front());
            inFlight_.pop_front();
        }
        wait = false;
        for (const SurveyedRecord& s : batch->records)
            deliver(s);
    }
}
