// The command table and the menu-state rules of the main window.
#include "app/acquire.h"
#include "app/document.h"
#include "app/page.h"
#include "app/shell.h"
#include "app/store_commands.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "dib/dib.h"
#include "dib/dib_file.h"
#include "resources/resource.h"
#include "twain/twain.h"

#include <cstdio>

void ShowStringMessage(int stringId, UINT style)
{
    LoadStringA(appInstance, stringId, messageText, sizeof messageText);
    ShellMessage(messageText, style);
}

namespace {
void SaveImage(HWND window)
{
    SaveCommand(window);
}

void ExitSave(HWND window)
{
    // Commands that arrive while the image is stored are dropped with the window.
    mainWindowEnding = true;
    SaveCommand(window);
    // The run ends whether or not the image could be stored; the user has been told.
    EndMainWindow(window);
}

void About(HWND window)
{
    DialogBoxParamA(appInstance, "TW_APP_ABOUTBOX", window, AboutDialogProc, 0);
}

void SaveAsFile(HWND)
{
    if (DibWriteFile(currentDib, nullptr) < -1)
        ShowStringMessage(IDS_WRITE_ERROR, MB_OK | MB_ICONINFORMATION);
}

// Replaces the page shown. A dialog cancelled, or a file that cannot be read, leaves the
// page as it is: the window used to drop it, and Exit/Save then stored the record without.
void OpenFile(HWND window)
{
    char name[kDibNameSize] = "";
    if (!DibOpenDialog(name))
        return;
    if (HGLOBAL dib = DibReadFile(name))
        ShowImage(window, dib);
    else
        ShellMessage("The file could not be read as a bitmap. The page shown is left as it was.",
                     MB_OK | MB_ICONINFORMATION);
}

// Held while store work or an acquisition is under way, and run once it has ended.
template <void (*Operation)(HWND), int Id>
void StoreCommand(HWND window)
{
    RunHeldCommand(window, Id, Operation);
}

void ExitAbort(HWND window)
{
    if (MessageBoxA(window, "Are you positive you wish to abort any changes?", "", MB_YESNO | MB_ICONQUESTION) ==
        IDYES)
        EndMainWindow(window);
}

void ToggleStretch(HWND window)
{
    stretchToWindow = stretchToWindow == 0 ? 1 : 0;
    CheckMenuItem(GetMenu(window), CMD_STRETCH, MF_BYCOMMAND | (stretchToWindow ? MF_CHECKED : MF_UNCHECKED));
    UpdateViewScrollBars(window);
    InvalidateRect(window, nullptr, TRUE);
}

constexpr CommandRow kCommands[] = {
    {CMD_EXIT_SAVE, StoreCommand<ExitSave, CMD_EXIT_SAVE>},
    // Their dialogs would keep a store operation that pumps messages, and its hold on the
    // store, open for as long as the user stays in them.
    {CMD_ABOUT, StoreCommand<About, CMD_ABOUT>},
    {CMD_SAVE_AS_FILE, StoreCommand<SaveAsFile, CMD_SAVE_AS_FILE>},
    {CMD_OPEN_FILE, StoreCommand<OpenFile, CMD_OPEN_FILE>},
    {CMD_SAVE_IMAGE, StoreCommand<SaveImage, CMD_SAVE_IMAGE>},
    {CMD_CLEAR_IMAGE, StoreCommand<ClearDocument, CMD_CLEAR_IMAGE>},
    // Held like the store commands: destroying the window under a running save or
    // compaction would leave its error boxes without an owner, and under an acquisition
    // would unload the Source Manager while its code is on the stack.
    {CMD_EXIT_ABORT, StoreCommand<ExitAbort, CMD_EXIT_ABORT>},
    {CMD_STRETCH, ToggleStretch},
    {CMD_COMPACT, StoreCommand<CompactCommand, CMD_COMPACT>},
    {CMD_RECOVER, StoreCommand<RecoverCommand, CMD_RECOVER>},
};

constexpr MenuRule kMenuRules[] = {
    {CMD_SAVE_AS_FILE, false, [] { return currentDib == nullptr; }},
    {CMD_STRETCH, true, [] { return stretchToWindow != 0; }},
};
}  // namespace

bool RunCommand(HWND window, int command)
{
    for (std::span<const CommandRow> table :
         {std::span<const CommandRow>(kCommands), AcquisitionCommands(), PageCommands(), ScannedPageCommands(),
          DocumentCommands(), ViewCommands()}) {
        for (const CommandRow& entry : table) {
            if (entry.id == command) {
                entry.run(window);
                // The options a command changed (an acquisition may change the feeder's).
                RememberOptions();
                return true;
            }
        }
    }
    return false;
}

void EndMainWindow(HWND window)
{
    mainWindowEnding = true;
    DestroyWindow(window);
}

void ApplyMenuRules(HMENU menu)
{
    for (std::span<const MenuRule> table :
         {std::span<const MenuRule>(kMenuRules), AcquisitionMenuRules(), PageMenuRules(), ScannedPageMenuRules(),
          DocumentMenuRules(), ViewMenuRules()}) {
        for (const MenuRule& rule : table) {
            bool holds = rule.holds();
            if (rule.check)
                CheckMenuItem(menu, rule.id, MF_BYCOMMAND | (holds ? MF_CHECKED : MF_UNCHECKED));
            else
                EnableMenuItem(menu, rule.id, MF_BYCOMMAND | (holds ? MF_GRAYED : MF_ENABLED));
        }
    }
}

int ShellMessage(const char* text, UINT style)
{
    return MessageBoxA(mainWindow, text, appName, style);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char format[kMessageTextSize] = "";
        LoadStringA(appInstance, IDS_VERSION_FORMAT, format, sizeof format);
        std::snprintf(messageText, sizeof messageText, format, 2, 70);
        SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, messageText);
        LoadStringA(appInstance, TWAIN_IsAvailable() ? IDS_TWAIN_AVAILABLE : IDS_TWAIN_NOT_AVAILABLE, messageText,
                    sizeof messageText);
        SetDlgItemTextA(dialog, IDC_ABOUT_TWAIN, messageText);
        return 1;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 1);
            return 1;
        }
        break;
    }
    return 0;
}
