#pragma once
// What the tool needs of the operating system, one file per platform: store files opened
// read-only and shared with a running program, directories, and output files that only
// take their name once they are whole.

#include "store/core/file_reader.h"

#include <cstdio>
#include <memory>
#include <string>

namespace platform {

// A store file open for reading. On Windows every other opener may go on reading,
// writing, renaming and deleting it meanwhile: the program is never kept from saving or
// compacting by a look at its store.
class ReadOnlyFile : public FileReader {
public:
    virtual ~ReadOnlyFile() = default;
};

enum class OpenResult { Opened, Missing, Failed };
// error receives the system's reason when the file exists but cannot be opened.
OpenResult OpenReadOnly(const std::string& path, std::unique_ptr<ReadOnlyFile>& file, std::string& error);

bool IsDirectory(const std::string& path);
// Creates the directory unless it is there; false when there is none afterwards.
bool MakeDirectory(const std::string& path);
// dir joined with name by the platform's separator.
std::string Join(const std::string& dir, const std::string& name);
// The last component of a path.
std::string BaseName(const std::string& path);
// Renames from to to; a file of that name is replaced when replace is set, else kept (and
// the rename fails). error receives the reason.
bool MoveOver(const std::string& from, const std::string& to, bool replace, std::string& error);
// Whether anything of that name is there.
bool Exists(const std::string& path);
// Whether both names lead to one file (device and inode; on Windows volume serial and file
// index), whatever their spelling: a short name, a trailing dot, a link. False when either
// is missing.
bool SameFile(const std::string& a, const std::string& b);
// Creates a file of that name for writing, only where nothing of the name is there; null
// when it cannot, with taken set when the name was the reason.
FILE* CreateNew(const std::string& path, bool& taken);
void RemoveFile(const std::string& path);
// The system's reason for the failure just seen.
std::string LastError();

// The store's own lock (store/core/store_lock.h): byte 0x7FFFFFF0 of pagorex.idx, held
// shared for as long as the tool reads. A program that saves or compacts takes it
// exclusively, so the tool never reads a save half done, and a compaction waits to replace
// pagorex.dat until the tool has let go of it.
class StoreLockHold {
public:
    virtual ~StoreLockHold() = default;
};
enum class LockResult {
    Held,     // hold keeps it (empty: there is no index file, nothing to keep consistent)
    Busy,     // a program is writing the store
    Failed,   // cannot be locked at all; error says why
};
// One try, without waiting.
LockResult TryLockStore(const std::string& indexPath, std::unique_ptr<StoreLockHold>& hold, std::string& error);
void Sleep(unsigned milliseconds);

// A file written under a temporary name beside its target, which it takes only when
// Commit is called: a failed export never leaves half an image under the name asked for.
// An existing target is replaced only when replace is set. The temporary name is one that
// nothing had, created for this file alone: removing it never takes another's file.
class OutputFile {
public:
    OutputFile(std::string target, bool replace);
    ~OutputFile();  // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    bool Open(std::string& error);
    bool Write(const void* bytes, size_t count);
    bool Commit(std::string& error);

private:
    std::string target_, temporary_;  // temporary_ empty until created
    bool replace_;
    FILE* file_ = nullptr;
    bool committed_ = false;
};

}  // namespace platform
