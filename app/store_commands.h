#pragma once
// The shell's side of the image store: what the store's operations get from the shell
// (the main window, the host record, the store directory of the command line, the
// current image), and the commands that run them.

#include "store/store_host.h"

#include <windows.h>

#include <string>

// The shell as the store's operations see it, for the window the command runs in (during
// WM_CREATE mainWindow is not yet set).
class ShellStore final : public StoreHost {
public:
    explicit ShellStore(HWND window) : window_(window) {}
    const char* StoreDirectory() override;
    int32_t RecordNumber() override;
    void SetProgressText(const char* text) override;
    void KeepAlive() override;
    int Message(const char* text, const char* caption, unsigned style) override;
    void ShowImage(ImageFileSource* image) override;
    // A further page of the loaded document, after the last one; a page that could not be
    // read is left out (the store has told the user).
    void AddPage(ImageFileSource* image) override;
    // Shows the wait in the title (and the window, should it not be shown yet); a close
    // of the window gives the wait up.
    bool WaitForStore() override;
    void StoreWaitEnded() override;

private:
    HWND window_;
    std::string directory_;
    bool waiting_ = false;
    std::string titleBeforeWait_;
};

// At window creation: the record's stored document becomes the window's, its first page
// shown.
void LoadCommand(HWND window);
// Commands 115 (Save Image) and 104 (Exit/Save): stores every page of the document for
// the record, in order, or marks the record as having none when there is no page. Answers whether the
// store now holds what the window shows. Run only while no other store operation is
// under way further down the stack (the command table holds it until then).
bool SaveCommand(HWND window);
// Command 119: compaction with the current forceCompaction, which is 1 once it has run.
void CompactCommand(HWND window);
// Command 120: recovery from the new data file.
void RecoverCommand(HWND window);
