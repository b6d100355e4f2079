// The store's commands and what the shell hands the store's operations.
#include "app/store_commands.h"

#include "app/shell.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "dib/dib.h"
#include "dib/dib_file.h"
#include "resources/resource.h"
#include "store/compaction.h"
#include "store/core/store_names.h"
#include "store/store.h"
#include "store/store_files.h"
#include "store/store_lock.h"

#include <float.h>

#include <vector>

namespace {
constexpr char kWriteErrorText[] = "Error writing DIB to file - is there room for the image?";
// How long a wait for the store sleeps when no message arrives.
constexpr DWORD kStoreWaitStepMs = 50;

void ReportDibWriteError()
{
    char text[kMessageTextSize];
    if (LoadStringA(appInstance, IDS_WRITE_ERROR, text, sizeof text) <= 0)
        lstrcpynA(text, kWriteErrorText, sizeof text);
    ShellMessage(text, MB_OK | MB_ICONINFORMATION);
}
}  // namespace

const char* ShellStore::StoreDirectory()
{
    if (storePathTooLong)
        return nullptr;
    directory_.assign(storePath, static_cast<size_t>(storeNamePart - storePath));
    return directory_.c_str();
}

int32_t ShellStore::RecordNumber()
{
    return hostRecordNumber;
}

void ShellStore::SetProgressText(const char* text)
{
    SetWindowTextA(window_, text);
}

void ShellStore::KeepAlive()
{
    PumpPendingMessages();
    UpdateWindow(window_);
}

int ShellStore::Message(const char* text, const char* caption, unsigned style)
{
    return MessageBoxA(window_, text, caption ? caption : appName, style);
}

bool ShellStore::WaitForStore()
{
    if (!waiting_) {
        waiting_ = true;
        char title[kMessageTextSize] = "";
        GetWindowTextA(window_, title, sizeof title);
        titleBeforeWait_ = title;
        SetWindowTextA(window_, kStoreInUseText);
        // The load at window creation runs before the window is shown: the person at the
        // screen must see what it waits for, and be able to close it.
        if (!IsWindowVisible(window_))
            ShowWindow(window_, mainWindowShowCommand);
    }
    KeepAlive();
    if (!StoreWaitGivenUp())
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kStoreWaitStepMs, QS_ALLINPUT);
    return !StoreWaitGivenUp();
}

void ShellStore::StoreWaitEnded()
{
    if (!waiting_)
        return;
    waiting_ = false;
    if (IsWindow(window_))
        SetWindowTextA(window_, titleBeforeWait_.c_str());
}

namespace {
HGLOBAL ReadPage(ImageFileSource* image)
{
    return image ? DibReadFromStream([image](void* buffer, size_t count) { return image->Read(buffer, count); })
                 : nullptr;
}
}  // namespace

void ShellStore::ShowImage(ImageFileSource* image)
{
    ReleaseCurrentImage();
    InvalidateRect(window_, nullptr, TRUE);
    currentDib = ReadPage(image);
    if (currentDib) {
        documentPages.push_back(currentDib);
        currentPalette = CreateDibPalette(currentDib);
        SizeWindowToImage(window_, currentDib);
        InvalidateRect(window_, nullptr, TRUE);
    }
    UpdateViewScrollBars(window_);
    // The first page is on the screen before the rest are read.
    UpdateWindow(window_);
}

void ShellStore::AddPage(ImageFileSource* image)
{
    if (HGLOBAL page = currentDib ? ReadPage(image) : nullptr) {
        documentPages.push_back(page);
        UpdatePageTitle(window_);
    }
}

void LoadCommand(HWND window)
{
    ShellStore shell(window);
    LoadRecordImage(shell);
}

bool SaveCommand(HWND window)
{
    if (storePathTooLong)
        return false;
    ShellStore shell(window);
    // The pages as the window holds them now: a command that runs while the save pumps
    // messages waits for it (the command table holds it).
    const std::vector<HGLOBAL> pages = documentPages;
    PageFileWriter writer = [&pages](uint32_t page, const char* path) {
        int written = DibWriteFile(pages[page], path);
        _fpreset();
        // With a name given there is no dialog to cancel: anything but 0 is a failure.
        return written;
    };
    SaveOutcome outcome = pages.empty() ? SaveRecord(shell, nullptr)
                                        : SaveDocument(shell, static_cast<uint32_t>(pages.size()), writer);
    // Told once the store is free again.
    if (outcome.writeError != 0)
        ReportDibWriteError();
    _fpreset();
    return outcome.stored;
}

void CompactCommand(HWND window)
{
    ShellStore shell(window);
    if (CompactStore(shell, forceCompaction))
        forceCompaction = 1;
}

void RecoverCommand(HWND window)
{
    ShellStore shell(window);
    RecoverFromNewData(shell);
}
