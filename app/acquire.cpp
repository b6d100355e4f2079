// The acquisition commands: one acquisition by the chosen transfer mechanism, the
// options applied to a freshly opened source, multi-page scanning, and the file of a
// file transfer.
#include "app/acquire.h"

#include "app/page.h"
#include "app/shell.h"
#include "app/view.h"
#include "dib/dialog_record.h"
#include "dib/dib_file.h"
#include "twain/capability.h"
#include "twain/twain.h"

#include <commdlg.h>

#include <cstddef>
#include <cstring>

int acquireBusy = 0;
unsigned pixelTypeMask = 0;
int hideSourceUI = 0;
int transferMode = kNativeTransfer;
int feederMode = 0;
int autoFeed = 0;
int duplexEnabled = 0;
int suppressErrorDialogs = 0;
int fileTransferType = TWFF_BMP;
char fileTransferName[kTransferNameSize] = "";

namespace {
constexpr FileType kFileTypes[] = {
    {".tif", "TIFF (*.tif)", "*.tif"},
    {".pic", "Macintosh Pict (*.pic)", "*.pic"},
    {".bmp", "Windows Bitmap (*.bmp)", "*.bmp"},
    {".xbm", "X-Windows Bitmap (*.xbm)", "*.xbm"},
    {".jpg", "JPEG/JFIF (*.jpg)", "*.jpg"},
    {".fpx", "Kodak FlashPix (*.fpx)", "*.fpx"},
    {".mpt", "MultiPage TIFF (*.mpt)", "*.mpt"},
    {".png", "PNG (*.png)", "*.png"},
    {".spi", "SPIFF (*.spi)", "*.spi"},
    {".exi", "EXIF (*.exi)", "*.exi"},
};
static_assert(std::size(kFileTypes) == TWFF_EXIF + 1);

// The dialog can fill this much of a name buffer; the rest keeps room for an extension.
constexpr DWORD kDialogNameChars = 255;
static_assert(kDialogNameChars + 4 < kTransferNameSize);


// "description\0pattern\0" for every type, ended by a second zero.
const char* FilterList()
{
    static char list[512] = "";
    if (list[0] == '\0') {
        char* at = list;
        for (const FileType& type : kFileTypes) {
            for (const char* part : {type.description, type.pattern}) {
                std::size_t length = std::strlen(part) + 1;
                std::memcpy(at, part, length);
                at += length;
            }
        }
        *at = '\0';
    }
    return list;
}

void InformUser(HWND window, const char* text)
{
    MessageBoxA(window, text, appName, MB_OK | MB_ICONINFORMATION);
}

// A file transfer: the user names the file, the source writes it, and a bitmap file is
// read back. A cancelled dialog acquires nothing.
HGLOBAL AcquireByFileTransfer(HWND window)
{
    if (!ChooseTransferFile(fileTransferName, fileTransferType)) {
        // No acquisition ran, so nothing closed the source the Acquire opened; close it as
        // an acquisition would, so the next one opens it again with the options then set.
        TWAIN_FinishAcquire();
        return nullptr;
    }
    if (!TWAIN_AcquireFileTransfer(window, fileTransferType, fileTransferName))
        return nullptr;
    return DibReadFile(fileTransferName);
}

class CurrentDirectoryKeeper {
public:
    CurrentDirectoryKeeper()
    {
        DWORD length = GetCurrentDirectoryA(sizeof directory_, directory_);
        if (length == 0 || length >= sizeof directory_)
            directory_[0] = '\0';
    }
    // Some drivers change the process's current directory; the user's file names are
    // relative to the one the program had.
    ~CurrentDirectoryKeeper()
    {
        if (directory_[0])
            SetCurrentDirectoryA(directory_);
    }
    CurrentDirectoryKeeper(const CurrentDirectoryKeeper&) = delete;
    CurrentDirectoryKeeper& operator=(const CurrentDirectoryKeeper&) = delete;

private:
    char directory_[MAX_PATH] = "";
};
}  // namespace

std::span<const FileType> FileTypes()
{
    return kFileTypes;
}

const char* FileTypeExtension(int index)
{
    if (index < 0 || index >= static_cast<int>(std::size(kFileTypes)))
        return ".huh";
    return kFileTypes[index].extension;
}

int ChooseTransferFile(char* nameBuffer, int& fileType)
{
    nameBuffer[0] = '\0';
    OPENFILENAMEA record;
    std::memset(&record, 0, sizeof record);
    record.lStructSize = kDialogRecordSize;
    record.lpstrFilter = FilterList();
    record.nFilterIndex = static_cast<DWORD>(fileType + 1);
    record.lpstrFile = nameBuffer;
    record.nMaxFile = kDialogNameChars + 1;
    // The dialog wants the extension without its dot.
    record.lpstrDefExt = FileTypeExtension(fileType) + 1;
    record.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
    if (!GetSaveFileNameA(&record))
        return 0;
    fileType = static_cast<int>(record.nFilterIndex) - 1;
    bool noExtension = record.nFileExtension == 0 || nameBuffer[record.nFileExtension] == '\0';
    if (noExtension) {
        const char* extension = FileTypeExtension(fileType);
        if (std::strlen(nameBuffer) + std::strlen(extension) < kTransferNameSize)
            std::strcat(nameBuffer, extension);
    }
    return 1;
}

int PrepareSource(HWND window)
{
    if (TWAIN_GetDuplexSupport() != 0)
        TWAIN_SetDuplexEnabled(duplexEnabled);
    else if (duplexEnabled == 1)
        InformUser(window, "Duplex: Device reports no duplex support.");
    if (feederMode != 0) {
        if (!TWAIN_HasFeeder()) {
            InformUser(window, "This source indicates it has no document feeder.");
            feederMode = 0;
        } else if (feederMode < 0) {
            TWAIN_SetFeederEnabled(0);
        } else {
            TWAIN_SetFeederEnabled(1);
            TWAIN_SetAutoFeed(autoFeed);
        }
    }
    // A failure is recorded by the library and reported by the acquisition that follows.
    TWAIN_NegotiatePixelTypes(pixelTypeMask);
    return 1;
}

HGLOBAL AcquireByTransferMode(HWND window)
{
    ++acquireBusy;
    HGLOBAL image = nullptr;
    switch (transferMode) {
    case kNativeTransfer:
        // The pixel types were negotiated when the source was opened.
        image = TWAIN_AcquireNative(window, 0);
        break;
    case kFileTransfer:
        image = AcquireByFileTransfer(window);
        break;
    case kMemoryTransfer:
        image = TWAIN_AcquireMemory(window);
        break;
    default:
        break;
    }
    --acquireBusy;
    return image;
}

bool AcquireImage(HWND window)
{
    CurrentDirectoryKeeper directory;
    // The image shown stays until a new one has arrived: a cancelled or failed scan must
    // not leave Save Image or Exit/Save with nothing, which would mark the record deleted.
    TWAIN_SetHideUI(hideSourceUI != 0);
    if (TWAIN_GetState() < TWAIN_SOURCE_OPEN) {
        if (!TWAIN_OpenDefaultSource(window))
            return false;
        PrepareSource(window);
    }
    HGLOBAL image = AcquireByTransferMode(window);
    if (image)
        ShowScannedPage(window, image);
    else if (TWAIN_UserClosedSource())
        TWAIN_ErrorBox("User closed DS");
    else
        TWAIN_ReportLastError(nullptr);
    return image != nullptr;
}

int AcquireMultiPage(HWND window)
{
    const bool multiTransfer = TWAIN_GetMultiTransfer();
    TWAIN_SetHideUI(false);
    if (!TWAIN_OpenDefaultSource(window))
        return 0;
    TWAIN_SetMultiTransfer(true);
    PrepareSource(window);
    unsigned skipped = 0;
    for (;;) {
        const int before = TWAIN_GetState();
        HGLOBAL image = AcquireByTransferMode(window);
        // Every page is kept, after the document's last one.
        if (image && !ShowScannedPage(window, image, ScannedPlace::kAfterLast))
            ++skipped;
        const int after = TWAIN_GetState();
        if (after < TWAIN_SOURCE_ENABLED)
            break;
        // A round that brought nothing and left the session where it was would repeat
        // for ever: a source that keeps an image pending but fails every transfer of it,
        // a cancelled file dialog, a quit message taken by the library's loop.
        if (!image && after == before)
            break;
    }
    TWAIN_CloseSource();
    TWAIN_SetMultiTransfer(multiTransfer);
    if (skipped > 0) {
        char text[kMessageTextSize];
        wsprintfA(text, skipped == 1 ? "One blank page of the batch was left out (Options > Skip Blank Pages)."
                                     : "%u blank pages of the batch were left out (Options > Skip Blank Pages).",
                  skipped);
        InformUser(window, text);
    }
    return 1;
}
