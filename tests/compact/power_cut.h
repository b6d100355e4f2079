#pragma once
// The disk states a power cut may leave behind while a store operation runs: the system
// writes what it still holds in any order, so after every step of the operation any
// subset of the writes not yet flushed may be missing from the disk.

#include "store/store_files.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace powercut {

// The store directory's files by name; a missing file has no entry.
using Disk = std::map<std::string, std::vector<uint8_t>>;

struct Count {
    size_t states = 0;    // every cut point times every subset tried
    size_t distinct = 0;  // the different disks among them, each checked once
};

// Calls check once for every distinct disk a power cut at any point of events can leave,
// starting from before (which was on the disk). Writes are lost in whole 4 KB pages; a
// name change (create, delete, rename) reaches the disk in order and at once. Where a
// point has more lost-or-kept choices than can be tried, a sample seeded by seed is taken.
// point: how many of the events came before the cut; at events.size() the operation had
// returned, so it must have kept its result.
Count EveryPowerCut(const Disk& before, const std::vector<StoreFileEvent>& events, unsigned seed,
                    const std::function<void(const Disk& disk, size_t point)>& check);

// The files of a directory (ending in a backslash), and a directory made to hold exactly disk.
Disk ReadDisk(const std::string& directory);
void WriteDisk(const std::string& directory, const Disk& disk);

}  // namespace powercut
