#include "support/store_hold.h"

StoreHold::StoreHold(const std::string& indexPath)
    // Read-write, as the program opens it: Wine takes an exclusive lock through a
    // read-only handle as a shared one towards programs outside it.
    : file_(CreateFileA(indexPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr))
{
}

StoreHold::~StoreHold()
{
    Release();
    CloseHandle(file_);
}

bool StoreHold::Take(uint32_t offset, bool exclusive, bool now)
{
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (now ? LOCKFILE_FAIL_IMMEDIATELY : 0);
    if (!LockFileEx(file_, flags, 0, 1, 0, &at))
        return false;
    held_.push_back(offset);
    return true;
}

void StoreHold::Release()
{
    for (uint32_t offset : held_) {
        OVERLAPPED at = {};
        at.Offset = offset;
        UnlockFileEx(file_, 0, 1, 0, &at);
    }
    held_.clear();
}
