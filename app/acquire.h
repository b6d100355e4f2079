#pragma once
// Acquisition commands and options: the menu's way into the acquisition library.

#include <windows.h>

#include <span>

// The options, kept for the Windows user (LoadRememberedOptions, page.h); their initial
// values are those in acquire.cpp.
extern int acquireBusy;           // raised around every acquisition: greys Acquire, enables Close Source
extern unsigned pixelTypeMask;    // bit 1 << TWPT_ value for each acceptable type; 0 = any
extern int hideSourceUI;          // 1: acquire without the source's own window
extern int transferMode;          // kNativeTransfer, kFileTransfer or kMemoryTransfer
extern int feederMode;            // -1 feeder off, 0 leave the source's setting, 1 feeder on
extern int autoFeed;              // CAP_AUTOFEED asked for with the feeder on
extern int duplexEnabled;         // CAP_DUPLEXENABLED asked for
extern int suppressErrorDialogs;  // mirrors the library's switch, for the check mark
extern int fileTransferType;      // TWFF_ format of the next file transfer
constexpr int kTransferNameSize = 260;
extern char fileTransferName[kTransferNameSize];

constexpr int kNativeTransfer = 0;
constexpr int kFileTransfer = 1;
constexpr int kMemoryTransfer = 2;

// Acquire (100): true when an image arrived and is shown. Whatever happens, the image
// shown before stays until a new one replaces it.
bool AcquireImage(HWND window);
// Acquire Multi-Page (133): 0 when no source could be opened (or one is enabled already).
int AcquireMultiPage(HWND window);
// One acquisition by transferMode; the DIB belongs to the caller, null when none came.
HGLOBAL AcquireByTransferMode(HWND window);
// Applies the duplex, feeder and pixel-type options to the freshly opened source.
int PrepareSource(HWND window);
// Asks for the file of a file transfer. 1 with nameBuffer (kTransferNameSize) and
// fileType set to the user's choice; 0 when cancelled, nameBuffer emptied.
int ChooseTransferFile(char* nameBuffer, int& fileType);
// ".tif" to ".exi" for the TWFF_ values 0 to 9, ".huh" for anything else.
const char* FileTypeExtension(int index);

// The file types of a file transfer, indexed by TWFF_ value, in the dialog's order.
struct FileType {
    const char* extension;
    const char* description;
    const char* pattern;
};
std::span<const FileType> FileTypes();

// The main message loop's way for every message: first to the library's hook, which
// feeds an enabled source; a message it took may have brought an image, which the
// Acquire command then fetches.
void DispatchAppMessage(MSG& message);

// The acquisition rows of the window's command table and menu-state rules.
struct CommandRow {
    int id;
    void (*run)(HWND window);
};
struct MenuRule {
    int id;
    bool check;  // a check rule (MF_CHECKED) or a grey rule (MF_GRAYED)
    bool (*holds)();
};
std::span<const CommandRow> AcquisitionCommands();
std::span<const MenuRule> AcquisitionMenuRules();
