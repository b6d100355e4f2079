// Platform file operations of the image store; the test build can make them fail.
#include "store/store_files.h"

#include <cstring>

#ifdef PAGOREX_TEST_SEAMS
namespace {
struct FaultHook {
    StoreFault fault = StoreFault::None;
    char name[16] = "";
    int nth = 0;
    int times = 0;
    int seen = 0;
};
FaultHook faultHook;
std::vector<StoreFileEvent>* recorded = nullptr;

void Record(StoreFileEvent::Kind kind, const char* name, const char* to = "", uint32_t offset = 0,
            const void* bytes = nullptr, uint32_t count = 0)
{
    if (!recorded || !name)
        return;
    const uint8_t* first = static_cast<const uint8_t*>(bytes);
    recorded->push_back({kind, name, to, offset, std::vector<uint8_t>(first, first + (first ? count : 0))});
}

// Counts the operation and answers whether it is to fail.
bool Injected(StoreFault operation, const char* name)
{
    if (faultHook.fault == StoreFault::None || !name || std::strcmp(name, faultHook.name) != 0)
        return false;
    bool matches = faultHook.fault == operation ||
                   (operation == StoreFault::FailWrite && faultHook.fault == StoreFault::ShortWrite);
    if (!matches)
        return false;
    ++faultHook.seen;
    return faultHook.seen >= faultHook.nth && faultHook.seen - faultHook.nth < faultHook.times;
}
}  // namespace

void SetStoreFault(StoreFault fault, const char* name, int nth, int times)
{
    faultHook = FaultHook{};
    faultHook.fault = fault;
    std::strncpy(faultHook.name, name, sizeof faultHook.name - 1);
    faultHook.nth = nth;
    faultHook.times = times;
}

void ClearStoreFault()
{
    faultHook = FaultHook{};
}

void RecordStoreFiles(std::vector<StoreFileEvent>* events)
{
    recorded = events;
}
#else
namespace {
constexpr bool Injected(StoreFault, const char*)
{
    return false;
}
// The shipped program records nothing.
void Record(StoreFileEvent::Kind, const char*, const char* = "", uint32_t = 0, const void* = nullptr, uint32_t = 0)
{
}
}  // namespace
#endif

StoreFiles::StoreFiles(const char* directory) : usable_(directory != nullptr), directory_(directory ? directory : "")
{
}

std::string StoreFiles::Path(const char* name) const
{
    return directory_ + name;
}

StoreHandle StoreFiles::Open(const char* name) const
{
    if (!usable_ || Injected(StoreFault::FailOpen, name))
        return {};
    return {_lopen(Path(name).c_str(), OF_READWRITE | OF_SHARE_DENY_NONE), name};
}

StoreHandle StoreFiles::Create(const char* name) const
{
    if (!usable_ || Injected(StoreFault::FailCreate, name))
        return {};
    StoreHandle created{_lcreat(Path(name).c_str(), 0), name};
    if (created)
        Record(StoreFileEvent::Kind::Create, name);
    return created;
}

StoreHandle StoreFiles::OpenOrCreate(const char* name) const
{
    StoreHandle handle = Open(name);
    if (handle || Exists(name))
        return handle;
    return Create(name);
}

int32_t ReadStoreFile(StoreHandle handle, void* buffer, uint32_t count)
{
    if (Injected(StoreFault::FailRead, handle.name))
        return -1;
    UINT read = _lread(handle.file, buffer, count);
    return read == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<int32_t>(read);
}

bool WriteStoreFile(StoreHandle handle, const void* buffer, uint32_t count)
{
    if (count == 0)
        return true;  // a zero-length _lwrite would truncate the file
    if (Injected(StoreFault::FailWrite, handle.name)) {
#ifdef PAGOREX_TEST_SEAMS
        if (faultHook.fault == StoreFault::ShortWrite)
            _lwrite(handle.file, static_cast<LPCCH>(buffer), count / 2 ? count / 2 : 1);
#endif
        return false;
    }
    LONG at = _llseek(handle.file, 0, FILE_CURRENT);
    bool written = _lwrite(handle.file, static_cast<LPCCH>(buffer), count) == count;
    if (written)
        Record(StoreFileEvent::Kind::Write, handle.name, "", static_cast<uint32_t>(at), buffer, count);
    return written;
}

int32_t SeekStoreFile(StoreHandle handle, int32_t offset, int origin)
{
    LONG position = _llseek(handle.file, offset, origin);
    return position == HFILE_ERROR ? -1 : position;
}

bool TruncateStoreFile(StoreHandle handle, int32_t length)
{
    // _lwrite of zero bytes sets the end of the file at the current position.
    if (SeekStoreFile(handle, length, FILE_BEGIN) != length || _lwrite(handle.file, "", 0) != 0)
        return false;
    Record(StoreFileEvent::Kind::Truncate, handle.name, "", static_cast<uint32_t>(length));
    return true;
}

void CloseStoreFile(StoreHandle& handle)
{
    if (handle)
        _lclose(handle.file);
    handle = {};
}

bool FlushStoreFile(StoreHandle handle)
{
    if (Injected(StoreFault::FailFlush, handle.name))
        return false;
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(handle.file))))
        return false;
    Record(StoreFileEvent::Kind::Flush, handle.name);
    return true;
}

bool StoreFiles::Delete(const char* name) const
{
    if (!usable_)
        return false;
    std::string path = Path(name);
    if (DeleteFileA(path.c_str())) {
        Record(StoreFileEvent::Kind::Delete, name);
        return true;
    }
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool StoreFiles::Rename(const char* from, const char* to) const
{
    if (!usable_ || !MoveFileA(Path(from).c_str(), Path(to).c_str()))
        return false;
    Record(StoreFileEvent::Kind::Rename, from, to);
    return true;
}

bool StoreFiles::Replace(const char* from, const char* to) const
{
    if (!usable_ || Injected(StoreFault::FailReplace, from))
        return false;
    if (!MoveFileExA(Path(from).c_str(), Path(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    Record(StoreFileEvent::Kind::Replace, from, to);
    return true;
}

bool StoreFiles::Exists(const char* name) const
{
    return usable_ && GetFileAttributesA(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint32_t StoreFiles::Size(const char* name) const
{
    if (!usable_)
        return 0;
    HANDLE file = CreateFileA(Path(name).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

HANDLE StoreFiles::OpenForLocking(const char* name, bool create, bool& missing) const
{
    // Without a directory there is no store, and none can be made.
    missing = !usable_;
    if (!usable_)
        return INVALID_HANDLE_VALUE;
    // Read-write, although nothing is written through it: where a byte-range lock is
    // carried over to a POSIX record lock (Wine, and file servers that share a folder
    // with Unix programs), an exclusive lock needs a handle open for writing, and without
    // one is quietly taken shared, which no program on the other side sees as a writer.
    // A file or folder that refuses writing still gets the shared locks of a reader.
    const std::string path = Path(name);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD disposition = create ? OPEN_ALWAYS : OPEN_EXISTING;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return file;
}

DWORD TryLockByte(HANDLE file, const char* name, uint32_t offset, bool exclusive)
{
    if (Injected(StoreFault::FailLock, name))
        return ERROR_NETWORK_ACCESS_DENIED;
    if (Injected(StoreFault::NoLocking, name))
        return ERROR_NOT_SUPPORTED;
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(file, flags, 0, 1, 0, &at))
        return ERROR_SUCCESS;
    return GetLastError();
}

void UnlockByte(HANDLE file, uint32_t offset)
{
    OVERLAPPED at = {};
    at.Offset = offset;
    UnlockFileEx(file, 0, 1, 0, &at);
}

