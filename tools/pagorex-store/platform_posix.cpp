// The tool's platform layer on Linux and other POSIX systems.
#include "platform.h"

#include "store/core/store_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {
class PosixFile final : public ReadOnlyFile {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { close(fd_); }
    int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override
    {
        size_t done = 0;
        while (done < count) {
            ssize_t got = pread(fd_, static_cast<char*>(buffer) + done, count - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            done += static_cast<size_t>(got);
        }
        return static_cast<int64_t>(done);
    }
    uint64_t Size() override
    {
        struct stat st;
        return fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }

private:
    int fd_;
};
}  // namespace

OpenResult OpenReadOnly(const std::string& path, std::unique_ptr<ReadOnlyFile>& file, std::string& error)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return OpenResult::Missing;
        error = std::strerror(errno);
        return OpenResult::Failed;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        close(fd);
        return OpenResult::Failed;
    }
    file = std::make_unique<PosixFile>(fd);
    return OpenResult::Opened;
}

namespace {
// A POSIX record lock on the same byte: it keeps apart the programs on this system that
// take it the same way.
class PosixLock final : public StoreLockHold {
public:
    explicit PosixLock(int fd) : fd_(fd) {}
    ~PosixLock() override { close(fd_); }  // closing releases the lock

private:
    int fd_;
};
}  // namespace

LockResult TryLockStore(const std::string& indexPath, std::unique_ptr<StoreLockHold>& hold, std::string& error)
{
    int fd = open(indexPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return LockResult::Held;
        error = std::strerror(errno);
        return LockResult::Failed;
    }
    struct flock range = {};
    range.l_type = F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = kStoreLockOffset;
    range.l_len = kLockLength;
    if (fcntl(fd, F_SETLK, &range) == 0) {
        hold = std::make_unique<PosixLock>(fd);
        return LockResult::Held;
    }
    int code = errno;
    close(fd);
    if (code == EACCES || code == EAGAIN)
        return LockResult::Busy;
    error = std::strerror(code);
    return LockResult::Failed;
}

void Sleep(unsigned milliseconds)
{
    usleep(milliseconds * 1000u);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat first, second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

FILE* CreateNew(const std::string& path, bool& taken)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    taken = fd < 0 && errno == EEXIST;
    FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && !file)
        close(fd);
    return file;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& path)
{
    return mkdir(path.c_str(), 0777) == 0 || IsDirectory(path);
}

std::string Join(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MoveOver(const std::string& from, const std::string& to, bool replace, std::string& error)
{
    // A hard link fails when the name is taken, where a rename would replace it; a file
    // system without links gets the check and the rename.
    if (!replace && link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (!replace && (errno == EEXIST || Exists(to))) {
        error = "it exists";
        return false;
    }
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return true;
    error = LastError();
    return false;
}

void RemoveFile(const std::string& path)
{
    std::remove(path.c_str());
}

std::string LastError()
{
    return std::strerror(errno);
}

}  // namespace platform
