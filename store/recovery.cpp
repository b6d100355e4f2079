// Recovery from the new data file: the blobs that a stopped compaction had moved go back
// to the end of the data file, and the new data file is deleted.
#include "app/shell.h"
#include "store/compaction.h"
#include "store/interrupted_compaction.h"
#include "store/store_copy.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace {
bool AskedYes(HWND window, const char* question)
{
    return MessageBoxA(window, question, "", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Moves the chain back after the second question; answers whether the new data file may
// go, which it may only once no record points into it any more.
bool MoveChainBack(HWND window, StoreHandle index, StoreHandle data, StoreHandle newData, uint32_t size)
{
    // Only the unbroken chain of moved records counts: a record not yet moved whose
    // offset in the data file happens to lie below the new data file's size is no blob
    // of the new data file.
    std::vector<uint32_t> starts;
    std::optional<MovedChain> chain = ScanMovedChain(index, size, &starts);
    if (!chain) {
        // Counting fewer records than were moved would delete the others' images.
        MessageBoxA(window,
                    "The index file pagorex.idx could not be read, so the records to fix cannot be counted.\n\n"
                    "Nothing was changed, and pagorex.new was kept: repeat the repair once the file can be read.",
                    "Sorry", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    char question[kMessageTextSize];
    std::snprintf(question, sizeof question, "Are you SURE, you wish to fix %u records?", chain->count);
    if (!AskedYes(window, question))
        return false;
    // Records past a break in the chain that still point into the new data file would
    // lose their images with it.
    bool others = NewDataHeldByOthers(index, newData, size, chain->count, 0);
    StoreFailure moved = MoveBlobsBack(index, data, newData, starts, 0, !others);
    if (moved == StoreFailure::None) {
        if (!others)
            return true;
        MessageBoxA(window,
                    "The records counted were fixed, but other records still point into pagorex.new, so it was "
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
    MessageBoxA(window, why, "Sorry", MB_OK | MB_ICONEXCLAMATION);
    return false;
}

void Recover(HWND window)
{
    if (!AskedYes(window, "ARE YOU SURE YOU WISH TO PROCEED?\nThis should only be done ONCE, and never again touched."))
        return;
    ScopedStoreFile index(OpenStoreFile(kIndexFileName));
    if (!index)
        return;
    ScopedStoreFile data(OpenStoreFile(kDataFileName));
    if (!data)
        return;
    ScopedStoreFile newData(OpenStoreFile(kNewDataFileName));
    if (!newData) {
        MessageBoxA(window, "Can't find pagorex.new", "Sorry", MB_OK);
        return;
    }
    int32_t size = SeekStoreFile(newData.get(), 0, FILE_END);
    bool fixed = false;
    if (size <= 0)
        MessageBoxA(window, "Sorry, the temp file does not contain any records that can be recovered.", "", MB_OK);
    else
        fixed = MoveChainBack(window, index.get(), data.get(), newData.get(), static_cast<uint32_t>(size));
    if (StoreStopped())
        return;
    newData.Close();
    if (fixed)
        DeleteStoreFile(kNewDataFileName);
}
}  // namespace

void RecoverFromNewData(HWND window)
{
    if (StoreBusy())
        return;
    StoreBusyScope busy;
    CompleteInterruptedReplacement();
    Recover(window);
    if (!StoreStopped())
        MessageBoxA(window, "All done..", "", MB_OK);
}
