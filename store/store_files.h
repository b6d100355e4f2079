#pragma once
// The image store's files and the platform operations on them: every store file the
// program opens, creates, deletes or renames goes through here, named by its store name
// ("pagorex.idx", ...) inside the store directory an operation was handed.

#include "store/core/store_names.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// An open store file. The name travels with the handle so that failures can be
// injected by name (below).
struct StoreHandle {
    HFILE file = HFILE_ERROR;
    const char* name = nullptr;
    explicit operator bool() const { return file != HFILE_ERROR; }
};

// The store files of one directory.
class StoreFiles {
public:
    // directory ends in a path separator ("" for the current directory); null: there is no
    // usable directory and every operation that names a file fails.
    explicit StoreFiles(const char* directory);
    // The full path of the store file name.
    std::string Path(const char* name) const;

    // Open existing, for reading and writing, without excluding other openers.
    StoreHandle Open(const char* name) const;
    // Create, or truncate an existing file to zero length.
    StoreHandle Create(const char* name) const;
    // Creates the file only when there is none: an existing file that cannot be opened at
    // the moment must not be truncated.
    StoreHandle OpenOrCreate(const char* name) const;
    // A missing file is no error: answers whether the file is gone.
    bool Delete(const char* name) const;
    // Fails when the target exists.
    bool Rename(const char* from, const char* to) const;
    // Renames from over to in one step, replacing to when it exists, and returns only once
    // the rename is on the disk: at every moment the name to holds either the old or the
    // new file.
    bool Replace(const char* from, const char* to) const;
    bool Exists(const char* name) const;
    // The low 32 bits of the file's size; 0 when it does not exist. Asked of the file
    // itself: a directory listing on a file server may still show the size it had before
    // another workstation wrote to it.
    uint32_t Size(const char* name) const;
    // The file opened only to lock byte ranges of it (store_lock.h): read and write access
    // (read only where writing is refused), shared with every other opener, created when
    // create is set. INVALID_HANDLE_VALUE when it
    // cannot be opened; missing then tells whether it does not exist.
    HANDLE OpenForLocking(const char* name, bool create, bool& missing) const;

private:
    bool usable_;
    std::string directory_;
};

// Locks one byte at offset of a file opened for locking, without waiting. Answers
// ERROR_SUCCESS, ERROR_LOCK_VIOLATION while another opener holds it, or another error
// when it cannot be locked at all. name: the file's store name, for failure injection.
DWORD TryLockByte(HANDLE file, const char* name, uint32_t offset, bool exclusive);
void UnlockByte(HANDLE file, uint32_t offset);

// Answers the count of bytes read (0 at the end), or -1 on an error.
int32_t ReadStoreFile(StoreHandle handle, void* buffer, uint32_t count);
// True only when every byte was written.
bool WriteStoreFile(StoreHandle handle, const void* buffer, uint32_t count);
// origin: FILE_BEGIN, FILE_CURRENT or FILE_END. Answers the new position or -1.
int32_t SeekStoreFile(StoreHandle handle, int32_t offset, int origin);
// Cuts the file back to length (used to drop a partly appended blob).
bool TruncateStoreFile(StoreHandle handle, int32_t length);
void CloseStoreFile(StoreHandle& handle);
// Writes what the system still holds of the file to the disk.
bool FlushStoreFile(StoreHandle handle);

// Closes the file when the scope ends, unless it was closed before.
class ScopedStoreFile {
public:
    explicit ScopedStoreFile(StoreHandle handle) : handle_(handle) {}
    ~ScopedStoreFile() { CloseStoreFile(handle_); }
    ScopedStoreFile(const ScopedStoreFile&) = delete;
    ScopedStoreFile& operator=(const ScopedStoreFile&) = delete;
    StoreHandle get() const { return handle_; }
    explicit operator bool() const { return static_cast<bool>(handle_); }
    void Close() { CloseStoreFile(handle_); }

private:
    StoreHandle handle_;
};

// Failure injection: the kinds of failure the test build of the store can inject. Operations of one kind on
// the file of that store name are counted from the moment the fault is set: the nth and
// the (times - 1) after it fail (by default every later one, like a disk that has filled
// up). FailOpen covers opening an existing file, FailCreate creating one, FailWrite a write that writes nothing, ShortWrite one that
// writes half of its bytes and then reports failure, FailRead a read that reports an
// error (a flaky network disk).
enum class StoreFault {
    None, FailOpen, FailCreate, FailWrite, ShortWrite, FailReplace, FailFlush, FailRead, FailLock, NoLocking
};
// FailReplace makes StoreFiles::Replace fail (name: the file renamed), FailFlush a flush,
// FailLock a lock that cannot be taken at all (a file system or network error),
// NoLocking a file system that has no byte-range locks.
// What an operation asked of the disk, in order, so that a test can rebuild every state a
// power cut could leave: which writes reached the disk depends on the flushes between them.
struct StoreFileEvent {
    enum class Kind { Write, Truncate, Flush, Create, Delete, Replace, Rename } kind;
    std::string name, to;  // to: the new name of a Replace or Rename
    uint32_t offset = 0;   // Write: where the bytes went; Truncate: the new length
    std::vector<uint8_t> bytes;
};
#ifdef PAGOREX_TEST_SEAMS
void SetStoreFault(StoreFault fault, const char* name, int nth = 1, int times = 1 << 30);
void ClearStoreFault();

// Appends every later event to events; null stops the recording.
void RecordStoreFiles(std::vector<StoreFileEvent>* events);
#endif
