#include "app/store_guard.h"

#include "store/store.h"

#include <algorithm>
#include <vector>

namespace {
std::vector<int> deferredCommands;
bool closeDeferred = false;

void ReleaseDeferred(HWND window)
{
    std::vector<int> commands;
    commands.swap(deferredCommands);
    for (int command : commands)
        PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(command), 0);
    if (closeDeferred) {
        closeDeferred = false;
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
}
}  // namespace

void RunStoreCommand(HWND window, int command, void (*operation)(HWND window))
{
    if (StoreBusy()) {
        if (std::find(deferredCommands.begin(), deferredCommands.end(), command) == deferredCommands.end())
            deferredCommands.push_back(command);
        return;
    }
    operation(window);
    if (!StoreBusy() && IsWindow(window))
        ReleaseDeferred(window);
}

bool DeferCloseDuringStoreOperation(HWND)
{
    if (!StoreBusy())
        return false;
    closeDeferred = true;
    return true;
}
