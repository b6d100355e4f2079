#include "app/store_guard.h"

#include "store/store.h"

#include <algorithm>
#include <vector>

namespace {
std::vector<int> deferredCommands;
bool closeDeferred = false;
int acquisitionDepth = 0;

void ReleaseDeferred(HWND window)
{
    if ((deferredCommands.empty() && !closeDeferred) || CommandsHeld() || !IsWindow(window))
        return;
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

bool CommandsHeld()
{
    return acquisitionDepth > 0 || StoreBusy();
}

void RunHeldCommand(HWND window, int command, void (*operation)(HWND window))
{
    if (CommandsHeld()) {
        if (std::find(deferredCommands.begin(), deferredCommands.end(), command) == deferredCommands.end())
            deferredCommands.push_back(command);
        return;
    }
    operation(window);
    ReleaseDeferred(window);
}

bool DeferCloseWhileHeld(HWND)
{
    if (!CommandsHeld())
        return false;
    closeDeferred = true;
    return true;
}

bool StoreWaitGivenUp()
{
    return closeDeferred;
}

void ReleaseHeldCommands(HWND window)
{
    ReleaseDeferred(window);
}

AcquisitionWork::AcquisitionWork(HWND window) : window_(window)
{
    ++acquisitionDepth;
}

AcquisitionWork::~AcquisitionWork()
{
    --acquisitionDepth;
    ReleaseDeferred(window_);
}
