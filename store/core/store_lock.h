#pragma once
// Where the programs that share a store (two workstations on one folder, two windows on
// one host) lock it: byte ranges of the index file pagorex.idx, far past any record, so
// that no read or write of the index ever touches them. Every program that reads or
// writes a store takes them for the length of one operation:
// - the store byte, shared by a program that only reads the store, exclusive for one
//   that writes anything of it (records, blobs, the new data file, a rename);
// - the work-files byte, exclusive, taken after the store byte by a reader that writes
//   the work files pagorex.tmp and pagorex.2 (the program's load does). A writer needs it
//   not: its exclusive store byte already keeps every such reader out.
// A crashed program's locks are released by the system. No file of the store changes.

#include <cstdint>

inline constexpr uint32_t kStoreLockOffset = 0x7FFFFFF0;
inline constexpr uint32_t kWorkFilesLockOffset = 0x7FFFFFF1;
inline constexpr uint32_t kLockLength = 1;
