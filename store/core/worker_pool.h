#pragma once
// A few threads kept for the life of the process and shared by the store's work that runs
// on every core: the blocks of a save or a compaction, the blobs of a store check. A save
// that started and joined threads of its own paid for that every time, and its threads
// left with their warm caches; kept ones are there at once for the next save.
// No windows.h: the same code runs natively under the sanitizers.

#include <functional>

namespace workers {

// At most this many threads: each may hold a block and zlib's level-9 state, in a 32-bit
// process of 2 GB, whatever the core count.
inline constexpr unsigned kMaxWorkers = 8;

// One per core the machine reports, at least one, never more than kMaxWorkers.
unsigned PerCore();

// Starts threads until wanted run (never more than kMaxWorkers) and answers how many run:
// fewer, down to 0, when no more can be started (out of threads or address space).
unsigned Engage(unsigned wanted);

// Threads started since the process began: the same once the pool has grown, however
// many saves use it.
unsigned Started();

// Hands task to the next idle thread, in the order posted. Only after Engage answered
// more than 0: with no thread the task would wait for ever. A task catches every failure
// of its own and marks its work done with the failure, so that whoever waits for it hears
// why: what escapes a task is dropped, and its waiter would wait for ever. Throws
// std::bad_alloc when the task cannot be queued.
void Post(std::function<void()> task);

}  // namespace workers
