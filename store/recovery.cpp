// Recovery from the new data file: the blobs that a stopped compaction had moved go back
// to the end of the data file, and the new data file is deleted.
#include "store/compaction.h"
#include "store/interrupted_compaction.h"
#include "store/store.h"
#include "store/store_copy.h"
#include "store/store_lock.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace {
constexpr size_t kMessageSize = 256;
constexpr char kFirstQuestion[] =
    "ARE YOU SURE YOU WISH TO PROCEED?\nThis should only be done ONCE, and never again touched.";

bool AskedYes(StoreHost& host, const char* question)
{
    return AskUser(host, question, "", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Why the lock was not had, told unless the user gave up waiting. Answers whether to go on.
bool HeldOrTellWhy(StoreHost& host, const StoreLock& lock)
{
    if (lock.outcome() == StoreLockOutcome::LockFailed)
        TellUser(host, "The index file pagorex.idx could not be opened and locked, so nothing was repaired.", "Sorry",
                 MB_OK | MB_ICONEXCLAMATION);
    return lock.held();
}

// The store files a repair reads and writes.
struct RepairFiles {
    explicit RepairFiles(const StoreFiles& files)
        : index(files.Open(kIndexFileName)), data(files.Open(kDataFileName)), newData(files.Open(kNewDataFileName))
    {
    }
    ScopedStoreFile index, data, newData;
};

// The moved records to fix, under the lock held; nothing, once told why not, when there is
// nothing to fix or it cannot be counted.
std::optional<MovedChain> ChainToFixOrTellWhy(StoreHost& host, RepairFiles& f, std::vector<uint32_t>* starts)
{
    if (!f.index || !f.data)
        return std::nullopt;
    if (!f.newData) {
        TellUser(host, "Can't find pagorex.new", "Sorry", MB_OK);
        return std::nullopt;
    }
    int32_t size = SeekStoreFile(f.newData.get(), 0, FILE_END);
    if (size <= 0) {
        TellUser(host, "Sorry, the temp file does not contain any records that can be recovered.", "", MB_OK);
        return std::nullopt;
    }
    // Only the unbroken chain of moved records counts: a record not yet moved whose
    // offset in the data file happens to lie below the new data file's size is no blob
    // of the new data file.
    std::optional<MovedChain> chain = ScanMovedChain(f.index.get(), static_cast<uint32_t>(size), starts);
    if (!chain)
        // Counting fewer records than were moved would delete the others' images.
        TellUser(host, "The index file pagorex.idx could not be read, so the records to fix cannot be counted.\n\n"
                       "Nothing was changed, and pagorex.new was kept: repeat the repair once the file can be read.",
                 "Sorry", MB_OK | MB_ICONEXCLAMATION);
    return chain;
}

// Counts the records to fix under the shared lock, which is let go of before the question.
std::optional<uint32_t> CountRecordsToFix(StoreHost& host, const StoreFiles& files, bool& gaveUp)
{
    StoreLock lock(host, files, StoreAccess::Read);
    gaveUp = lock.outcome() == StoreLockOutcome::Abandoned;
    if (!HeldOrTellWhy(host, lock))
        return std::nullopt;
    RepairFiles f(files);
    std::optional<MovedChain> chain = ChainToFixOrTellWhy(host, f, nullptr);
    return chain ? std::optional<uint32_t>(chain->count) : std::nullopt;
}

// Moves the chain back, once it is still the one the user agreed to fix, and deletes the
// new data file once no record points into it any more.
void FixRecords(StoreHost& host, const StoreFiles& files, uint32_t count)
{
    StoreLock lock(host, files, StoreAccess::Write);
    if (!HeldOrTellWhy(host, lock))
        return;
    CompleteInterruptedReplacement(files);
    RepairFiles f(files);
    std::vector<uint32_t> starts;
    std::optional<MovedChain> chain = ChainToFixOrTellWhy(host, f, &starts);
    if (!chain)
        return;
    if (chain->count != count) {
        TellUser(host, "Nothing was repaired: another program changed the image store while the question was open."
                       "\n\nRepeat the repair.", "Sorry", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    uint32_t size = files.Size(kNewDataFileName);
    // Records past a break in the chain that still point into the new data file would
    // lose their images with it.
    bool others = NewDataHeldByOthers(f.index.get(), f.newData.get(), size, chain->count, 0);
    StoreFailure moved = MoveBlobsBack(f.index.get(), f.data.get(), f.newData.get(), starts, 0, !others);
    if (StoreStopped())
        return;
    if (moved == StoreFailure::None && !others) {
        f.newData.Close();
        files.Delete(kNewDataFileName);
        return;
    }
    const char* why = moved == StoreFailure::None
                          ? "The records counted were fixed, but other records still point into pagorex.new, so it "
                            "was kept: their images would be lost with it."
                      : moved == StoreFailure::SizeLimit
                          ? "Not every record could be moved back: pagorex.dat would grow past the image store's "
                            "size limit of 2 GB.\n\nEvery image is still in place, and pagorex.new was kept."
                          : "Not every record could be moved back - is the disk full?\n\nEvery image is still in "
                            "place, and pagorex.new was kept: free some room and repeat the repair.";
    TellUser(host, why, "Sorry", MB_OK | MB_ICONEXCLAMATION);
}
}  // namespace

void RecoverFromNewData(StoreHost& host)
{
    if (StoreBusy())
        return;
    StoreBusyScope busy;
    StoreFiles files(host.StoreDirectory());
    // The questions are asked while the store is free: each other program would wait on
    // them otherwise. What they decide is checked again once the store is held.
    bool gaveUp = false;
    if (AskedYes(host, kFirstQuestion)) {
        if (std::optional<uint32_t> count = CountRecordsToFix(host, files, gaveUp)) {
            char question[kMessageSize];
            std::snprintf(question, sizeof question, "Are you SURE, you wish to fix %u records?", *count);
            if (AskedYes(host, question))
                FixRecords(host, files, *count);
        }
    }
    if (!gaveUp && !StoreStopped())
        TellUser(host, "All done..", "", MB_OK);
}
