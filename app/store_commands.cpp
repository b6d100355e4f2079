// The store's commands and what the shell hands the store's operations.
#include "app/store_commands.h"

#include "app/shell.h"
#include "app/view.h"
#include "dib/dib.h"
#include "dib/dib_file.h"
#include "resources/resource.h"
#include "store/compaction.h"
#include "store/core/store_names.h"
#include "store/store.h"
#include "store/store_files.h"

#include <float.h>

namespace {
constexpr char kStoreBusy[] =
    "The image was not stored: the image store is busy with another operation.\n\nPlease save again when it "
    "has finished.";
constexpr char kWriteErrorText[] = "Error writing DIB to file - is there room for the image?";

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

void ShellStore::ShowImageFile(const char* path)
{
    ReleaseCurrentImage();
    InvalidateRect(window_, nullptr, TRUE);
    if (!path)
        return;
    currentDib = DibReadFile(path);
    if (currentDib) {
        currentPalette = CreateDibPalette(currentDib);
        SizeWindowToImage(window_, currentDib);
        InvalidateRect(window_, nullptr, TRUE);
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
    if (StoreBusy()) {
        // Chosen while a compaction or another save pumps messages: their files are open
        // and the record buffer is theirs.
        ShellMessage(kStoreBusy, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    StoreBusyScope busy;
    StoreFiles files(shell.StoreDirectory());
    files.Delete(kSecondWorkFileName);
    bool stored = false;
    if (!currentDib) {
        stored = MarkRecordDeleted(shell);
    } else {
        int written = DibWriteFile(currentDib, files.Path(kSecondWorkFileName).c_str());
        _fpreset();
        // With a name given there is no dialog to cancel: anything but 0 is a failure.
        if (written != 0)
            ReportDibWriteError();
        else
            stored = SaveRecordImage(shell);
    }
    files.Delete(kSecondWorkFileName);
    _fpreset();
    return stored;
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
