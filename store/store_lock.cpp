// The store's lock on the index file, held by this program for one operation at a time.
#include "store/store_lock.h"

#include "store/core/store_lock.h"

namespace {
constexpr DWORD kWaitStepMs = 50;

// This program's hold on the store: one handle and its locked bytes, shared by an
// operation and the operations it runs.
struct Hold {
    HANDLE file = INVALID_HANDLE_VALUE;
    StoreAccess access = StoreAccess::Read;
    bool bytesLocked = false;
    int depth = 0;
};
Hold hold;

// Takes the bytes of access without waiting; on anything but success nothing is left
// locked, so that a waiting program never holds a part of the store.
DWORD LockBytes(HANDLE file, StoreAccess access)
{
    bool write = access == StoreAccess::Write;
    DWORD error = TryLockByte(file, kIndexFileName, kStoreLockOffset, write);
    if (error != ERROR_SUCCESS || write)
        return error;
    error = TryLockByte(file, kIndexFileName, kWorkFilesLockOffset, true);
    if (error != ERROR_SUCCESS)
        UnlockByte(file, kStoreLockOffset);
    return error;
}

void UnlockBytes(HANDLE file, StoreAccess access)
{
    if (access == StoreAccess::Read)
        UnlockByte(file, kWorkFilesLockOffset);
    UnlockByte(file, kStoreLockOffset);
}

// A file system that has no byte-range locks at all cannot coordinate anything; the
// program then works on it as it always has instead of refusing every operation.
bool LockingUnsupported(DWORD error)
{
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}
}  // namespace

bool StoreHost::WaitForStore()
{
    SetProgressText(kStoreInUseText);
    KeepAlive();
    Sleep(kWaitStepMs);
    return true;
}

StoreLock::StoreLock(StoreHost& host, const StoreFiles& files, StoreAccess access, bool createIndex)
{
    if (hold.depth > 0) {
        // The save command holds the store around the save it runs; a lock cannot be
        // raised from shared to exclusive without letting go of it.
        bool covered = hold.access == StoreAccess::Write || access == StoreAccess::Read;
        outcome_ = covered ? StoreLockOutcome::Held : StoreLockOutcome::LockFailed;
        if (covered) {
            ++hold.depth;
            counted_ = true;
        }
        return;
    }
    bool missing = false;
    HANDLE file = files.OpenForLocking(kIndexFileName, createIndex, missing);
    if (file == INVALID_HANDLE_VALUE) {
        outcome_ = missing && !createIndex ? StoreLockOutcome::NoIndex : StoreLockOutcome::Unopenable;
        return;
    }
    bool waited = false;
    DWORD error = ERROR_SUCCESS;
    while ((error = LockBytes(file, access)) == ERROR_LOCK_VIOLATION) {
        waited = true;
        if (!host.WaitForStore())
            break;
    }
    if (waited)
        host.StoreWaitEnded();
    if (error == ERROR_SUCCESS || LockingUnsupported(error)) {
        hold = Hold{file, access, error == ERROR_SUCCESS, 1};
        outcome_ = StoreLockOutcome::Held;
        counted_ = true;
        return;
    }
    CloseHandle(file);
    outcome_ = error == ERROR_LOCK_VIOLATION ? StoreLockOutcome::Abandoned : StoreLockOutcome::LockFailed;
}

StoreLock::~StoreLock()
{
    if (!counted_ || --hold.depth > 0)
        return;
    // Everything the operation wrote went through handles it has closed by now, so the
    // next holder reads it.
    if (hold.bytesLocked)
        UnlockBytes(hold.file, hold.access);
    CloseHandle(hold.file);
    hold = Hold{};
}
