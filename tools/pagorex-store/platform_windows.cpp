// The tool's platform layer on Windows.
#include "platform.h"

#include "store/core/store_lock.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

namespace platform {
namespace {
std::string SystemMessage(DWORD code)
{
    char text[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        text[--length] = '\0';
    return length > 0 ? text : "error " + std::to_string(code);
}

class WindowsFile final : public ReadOnlyFile {
public:
    explicit WindowsFile(HANDLE handle) : handle_(handle) {}
    ~WindowsFile() override { CloseHandle(handle_); }
    int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override
    {
        size_t done = 0;
        while (done < count) {
            // A positioned read: the scan and the blob reads keep no shared file position.
            OVERLAPPED at = {};
            uint64_t position = offset + done;
            at.Offset = static_cast<DWORD>(position);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
            DWORD asked = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30)), got = 0;
            if (!ReadFile(handle_, static_cast<char*>(buffer) + done, asked, &got, &at)) {
                if (GetLastError() == ERROR_HANDLE_EOF)
                    break;
                return -1;
            }
            if (got == 0)
                break;
            done += got;
        }
        return static_cast<int64_t>(done);
    }
    uint64_t Size() override
    {
        LARGE_INTEGER size;
        return GetFileSizeEx(handle_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }

private:
    HANDLE handle_;
};
}  // namespace

OpenResult OpenReadOnly(const std::string& path, std::unique_ptr<ReadOnlyFile>& file, std::string& error)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return OpenResult::Missing;
        error = SystemMessage(code);
        return OpenResult::Failed;
    }
    file = std::make_unique<WindowsFile>(handle);
    return OpenResult::Opened;
}

namespace {
class WindowsLock final : public StoreLockHold {
public:
    explicit WindowsLock(HANDLE handle) : handle_(handle) {}
    ~WindowsLock() override
    {
        OVERLAPPED at = {};
        at.Offset = kStoreLockOffset;
        UnlockFileEx(handle_, 0, kLockLength, 0, &at);
        CloseHandle(handle_);
    }

private:
    HANDLE handle_;
};
}  // namespace

LockResult TryLockStore(const std::string& indexPath, std::unique_ptr<StoreLockHold>& hold, std::string& error)
{
    HANDLE handle = CreateFileA(indexPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return LockResult::Held;
        error = SystemMessage(code);
        return LockResult::Failed;
    }
    OVERLAPPED at = {};
    at.Offset = kStoreLockOffset;
    if (LockFileEx(handle, LOCKFILE_FAIL_IMMEDIATELY, 0, kLockLength, 0, &at)) {
        hold = std::make_unique<WindowsLock>(handle);
        return LockResult::Held;
    }
    DWORD code = GetLastError();
    CloseHandle(handle);
    if (code == ERROR_LOCK_VIOLATION)
        return LockResult::Busy;
    error = SystemMessage(code);
    return LockResult::Failed;
}

void Sleep(unsigned milliseconds)
{
    ::Sleep(milliseconds);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    return known;
}
}  // namespace

bool SameFile(const std::string& a, const std::string& b)
{
    BY_HANDLE_FILE_INFORMATION first, second;
    return FileIdentity(a, first) && FileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

FILE* CreateNew(const std::string& path, bool& taken)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    taken = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (!file && fd >= 0)
        _close(fd);
    else if (!file)
        CloseHandle(handle);
    return file;
}

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeDirectory(const std::string& path)
{
    return CreateDirectoryA(path.c_str(), nullptr) || IsDirectory(path);
}

std::string Join(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    char last = dir.back();
    return last == '\\' || last == '/' || last == ':' ? dir + name : dir + "\\" + name;
}

std::string BaseName(const std::string& path)
{
    size_t separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool MoveOver(const std::string& from, const std::string& to, bool replace, std::string& error)
{
    if (MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
        return true;
    error = LastError();
    return false;
}

void RemoveFile(const std::string& path)
{
    DeleteFileA(path.c_str());
}

std::string LastError()
{
    return SystemMessage(GetLastError());
}

}  // namespace platform
