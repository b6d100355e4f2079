// The store's lock on the index file, held by this program for one operation at a time.
#include "store/store_lock.h"

#include "store/core/store_lock.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {
constexpr DWORD kWaitStepMs = 50;

// This program's hold on the store: one handle and its locked bytes.
struct Hold {
    HANDLE file = INVALID_HANDLE_VALUE;
    StoreAccess access = StoreAccess::Read;
    bool bytesLocked = false;
    bool held = false;
};
Hold hold;

// What operations told the user while the store was held, shown once it is let go of.
struct Told {
    StoreHost* host;
    std::string text;
    std::optional<std::string> caption;
    unsigned style;
};
std::vector<Told> told;

// A misuse of the lock that only a fault in this program can cause: the test build stops
// at once, so that a test run finds it; the shipped program refuses the operation.
void ProgrammingError(const char* what)
{
#ifdef PAGOREX_TEST_SEAMS
    std::fprintf(stderr, "programming error: %s\n", what);
    std::fflush(stderr);
    std::abort();
#else
    (void)what;
#endif
}

void ShowTold()
{
    std::vector<Told> now;
    now.swap(told);
    for (const Told& message : now)
        message.host->Message(message.text.c_str(), message.caption ? message.caption->c_str() : nullptr,
                              message.style);
}

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
    if (hold.held) {
        ProgrammingError("the store lock was asked for while this program held it");
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
        hold = Hold{file, access, error == ERROR_SUCCESS, true};
        outcome_ = StoreLockOutcome::Held;
        holds_ = true;
        return;
    }
    CloseHandle(file);
    outcome_ = error == ERROR_LOCK_VIOLATION ? StoreLockOutcome::Abandoned : StoreLockOutcome::LockFailed;
}

StoreLock::~StoreLock()
{
    if (!holds_)
        return;
    // Everything the operation wrote went through handles it has closed by now, so the
    // next holder reads it.
    if (hold.bytesLocked)
        UnlockBytes(hold.file, hold.access);
    CloseHandle(hold.file);
    hold = Hold{};
    ShowTold();
}

bool StoreLockHeld()
{
    return hold.held;
}

void TellUser(StoreHost& host, const char* text, const char* caption, unsigned style)
{
    if (hold.held) {
        try {
            told.push_back({&host, text, caption ? std::optional<std::string>(caption) : std::nullopt, style});
            return;
        } catch (const std::bad_alloc&) {
            // Kept for later it cannot be: better that other programs wait on the box than
            // that the user is never told.
        }
    }
    host.Message(text, caption, style);
}

int AskUser(StoreHost& host, const char* text, const char* caption, unsigned style)
{
    if (hold.held)
        ProgrammingError("a question was asked while this program held the store");
    return host.Message(text, caption, style);
}
