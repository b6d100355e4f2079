#pragma once
// Rebuilding the data file without the blobs no record points at, and repairing a store
// that a stopped compaction left behind.

#include <windows.h>

// Command 119. Goes ahead when the first index record is plain (a store that still holds
// images of an earlier writer) or force is 1; sets forceCompaction to 1 when it returns.
void CompactStore(HWND window, unsigned char force);
// Command 120: after two questions, moves the blobs a stopped compaction had moved into
// the new data file back into the data file.
void RecoverFromNewData(HWND window);
