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
    return host.Message(question, "", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Moves the chain back after the second question; answers whether the new data file may
// go, which it may only once no record points into it any more.
bool MoveChainBack(StoreHost& host, StoreHandle index, StoreHandle data, StoreHandle newData, uint32_t size)
{
    // Only the unbroken chain of moved records counts: a record not yet moved whose
    // offset in the data file happens to lie below the new data file's size is no blob
    // of the new data file.
    std::vector<uint32_t> starts;
    std::optional<MovedChain> chain = ScanMovedChain(index, size, &starts);
    if (!chain) {
        // Counting fewer records than were moved would delete the others' images.
        host.Message("The index file pagorex.idx could not be read, so the records to fix cannot be counted.\n\n"
                     "Nothing was changed, and pagorex.new was kept: repeat the repair once the file can be read.",
                     "Sorry", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    char question[kMessageSize];
    std::snprintf(question, sizeof question, "Are you SURE, you wish to fix %u records?", chain->count);
    if (!AskedYes(host, question))
        return false;
    // Records past a break in the chain that still point into the new data file would
    // lose their images with it.
    bool others = NewDataHeldByOthers(index, newData, size, chain->count, 0);
    StoreFailure moved = MoveBlobsBack(index, data, newData, starts, 0, !others);
    if (moved == StoreFailure::None) {
        if (!others)
            return true;
        host.Message("The records counted were fixed, but other records still point into pagorex.new, so it was "
                     "kept: their images would be lost with it.",
                     "Sorry", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (StoreStopped())
        return false;
    const char* why = moved == StoreFailure::SizeLimit
                          ? "Not every record could be moved back: pagorex.dat would grow past the image store's "
                            "size limit of 2 GB.\n\nEvery image is still in place, and pagorex.new was kept."
                          : "Not every record could be moved back - is the disk full?\n\nEvery image is still in "
                            "place, and pagorex.new was kept: free some room and repeat the repair.";
    host.Message(why, "Sorry", MB_OK | MB_ICONEXCLAMATION);
    return false;
}

void Recover(StoreHost& host, const StoreFiles& files)
{
    if (!AskedYes(host, kFirstQuestion))
        return;
    ScopedStoreFile index(files.Open(kIndexFileName));
    if (!index)
        return;
    ScopedStoreFile data(files.Open(kDataFileName));
    if (!data)
        return;
    ScopedStoreFile newData(files.Open(kNewDataFileName));
    if (!newData) {
        host.Message("Can't find pagorex.new", "Sorry", MB_OK);
        return;
    }
    int32_t size = SeekStoreFile(newData.get(), 0, FILE_END);
    bool fixed = false;
    if (size <= 0)
        host.Message("Sorry, the temp file does not contain any records that can be recovered.", "", MB_OK);
    else
        fixed = MoveChainBack(host, index.get(), data.get(), newData.get(), static_cast<uint32_t>(size));
    if (StoreStopped())
        return;
    newData.Close();
    if (fixed)
        files.Delete(kNewDataFileName);
}
}  // namespace

void RecoverFromNewData(StoreHost& host)
{
    if (StoreBusy())
        return;
    StoreBusyScope busy;
    StoreFiles files(host.StoreDirectory());
    StoreLock lock(host, files, StoreAccess::Write);
    if (lock.outcome() == StoreLockOutcome::Abandoned)
        return;
    if (lock.held()) {
        CompleteInterruptedReplacement(files);
        Recover(host, files);
    } else if (AskedYes(host, kFirstQuestion) && lock.outcome() == StoreLockOutcome::LockFailed) {
        host.Message("The index file pagorex.idx could not be opened and locked, so nothing was repaired.", "Sorry",
                     MB_OK | MB_ICONEXCLAMATION);
    }
    if (!StoreStopped())
        host.Message("All done..", "", MB_OK);
}
