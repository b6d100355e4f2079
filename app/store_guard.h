#pragma once
// Store operations pump messages while they hold store files open and use the shared
// record buffer, so no store operation may start inside another one. Store commands,
// Exit/Abort and window closes that arrive meanwhile wait, and run once the operation has
// ended: destroying the window under it would leave its messages without an owner.

#include <windows.h>

// Runs operation unless one is already running; otherwise remembers the command (at most
// once per command) and posts it again when the running operation ends.
void RunStoreCommand(HWND window, int command, void (*operation)(HWND window));
// A WM_CLOSE that arrives during a store operation waits for it; answers true when the
// close was deferred.
bool DeferCloseDuringStoreOperation(HWND window);
