#pragma once
// The blob checks of a store walk on every core. Blobs are independent: the walk hands
// its records over in batches of neighbours (so that one read window serves a batch),
// workers of the process's pool (worker_pool.h) check them, and the records come back in
// the order handed in, each with its verdict. Memory stays flat: a few batches are in
// flight at a time, each checked through one window of at most 1 MB.
// No windows.h: the same code runs natively under the sanitizers.

#include "store/core/store_survey.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class BlobChecks {
public:
    // threads 0: one per core; 1, or no thread to be had: every check on the calling
    // thread as the records come.
    BlobChecks(FileReader* data, FileReader* newData, bool headerOnly, unsigned threads);
    // Waits for the checks still running: they read the files and the records.
    ~BlobChecks();
    BlobChecks(const BlobChecks&) = delete;
    BlobChecks& operator=(const BlobChecks&) = delete;

    using Deliver = std::function<void(const SurveyedRecord&)>;
    // Queues the record's check; hands every record already checked, in order, to deliver.
    void Add(const SurveyedRecord& record, const Deliver& deliver);
    // Hands every remaining record to deliver once checked.
    void Finish(const Deliver& deliver);

    struct Batch;

private:
    void Dispatch();
    // Delivers the checked batches at the front; waits for the first one when wait is set.
    void DeliverDone(bool wait, const Deliver& deliver);

    FileReader* data_;
    FileReader* newData_;
    bool headerOnly_;
    unsigned running_ = 0;
    std::unique_ptr<Batch> filling_;
    uint64_t fillingBytes_ = 0;
    std::mutex mutex_;
    std::condition_variable checked_;
    std::deque<std::unique_ptr<Batch>> inFlight_;  // in the order handed in
};
