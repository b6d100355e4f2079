// The command table and the menu-state rules of the main window.
#include "app/shell.h"
#include "resources/resource.h"
#include "store/compaction.h"

namespace {
void ExitAbort(HWND window)
{
    if (MessageBoxA(window, "Are you positive you wish to abort any changes?", "", MB_YESNO | MB_ICONQUESTION) ==
        IDYES)
        DestroyWindow(window);
}

void ToggleStretch(HWND window)
{
    stretchToWindow = stretchToWindow == 0 ? 1 : 0;
    CheckMenuItem(GetMenu(window), CMD_STRETCH, MF_BYCOMMAND | (stretchToWindow ? MF_CHECKED : MF_UNCHECKED));
    InvalidateRect(window, nullptr, TRUE);
}

struct Command {
    int id;
    void (*run)(HWND window);
};

constexpr Command kCommands[] = {
    {CMD_CLEAR_IMAGE, [](HWND) {}},
    {CMD_EXIT_ABORT, ExitAbort},
    {CMD_STRETCH, ToggleStretch},
    {CMD_COMPACT, [](HWND window) { CompactStore(window, forceCompaction); }},
    {CMD_RECOVER, RecoverFromNewData},
};

struct MenuRule {
    int id;
    bool check;         // a check rule (MF_CHECKED) or a grey rule (MF_GRAYED)
    bool (*holds)();
};

constexpr MenuRule kMenuRules[] = {
    {CMD_STRETCH, true, [] { return stretchToWindow != 0; }},
};
}  // namespace

bool RunCommand(HWND window, int command)
{
    for (const Command& entry : kCommands) {
        if (entry.id == command) {
            entry.run(window);
            return true;
        }
    }
    return false;
}

void ApplyMenuRules(HMENU menu)
{
    for (const MenuRule& rule : kMenuRules) {
        bool holds = rule.holds();
        if (rule.check)
            CheckMenuItem(menu, rule.id, MF_BYCOMMAND | (holds ? MF_CHECKED : MF_UNCHECKED));
        else
            EnableMenuItem(menu, rule.id, MF_BYCOMMAND | (holds ? MF_GRAYED : MF_ENABLED));
    }
}

int ShellMessage(const char* text, UINT style)
{
    return MessageBoxA(mainWindow, text, appName, style);
}
