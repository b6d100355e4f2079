#pragma once
// The disk states a power cut may leave while a store operation runs: any subset of the
// writes not yet flushed may be missing from the disk.

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
    size_t states = 0, distinct = 0;  // tried, and different disks among them (each checked once)
};

// Calls check once for every distinct disk a power cut after point of the events can leave
// (before was on the disk): unflushed writes lost in whole 4 KB pages, in every combination
// or a sample seeded by seed; name changes reach the disk in order and at once. At
// events.size() the operation had returned, so it must have kept its result.
Count EveryPowerCut(const Disk& before, const std::vector<StoreFileEvent>& events, unsigned seed,
                    const std::function<void(const Disk& disk, size_t point)>& check);

// The files of a directory (ending in a backslash), and a directory made to hold exactly disk.
Disk ReadDisk(const std::string& directory);
void WriteDisk(const std::string& directory, const Disk& disk);

}  // namespace powercut
