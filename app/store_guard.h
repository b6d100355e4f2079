#pragma once
// Store operations and acquisitions pump messages while they hold store files open or
// wait for the source, whose code (and the Source Manager's) may be on the stack. No
// store operation or acquisition may start inside another one, and the window may not
// be destroyed inside either: store and acquisition commands, Exit/Abort and window
// closes that arrive meanwhile wait, and run once the work has ended. Destroying the
// window under a save would leave its messages without an owner, and under an
// acquisition would unload the Source Manager while its code is on the stack.

#include <windows.h>

// Store work or acquisition work is under way further down the stack.
bool CommandsHeld();

// Runs operation unless commands are held; otherwise remembers the command (at most once
// per command) and posts it again when the work under way has ended.
void RunHeldCommand(HWND window, int command, void (*operation)(HWND window));
// A WM_CLOSE that arrives while commands are held waits for the work; answers true when
// the close was deferred.
bool DeferCloseWhileHeld(HWND window);
// A close is waiting for the work under way: a store operation that waits for another
// program gives up.
bool StoreWaitGivenUp();
// Posts the held commands and close again once no work holds them (the load at window
// creation runs outside the command table).
void ReleaseHeldCommands(HWND window);

// Marks acquisition work (anything that calls into the Source Manager and may pump
// messages) for as long as it lives; the last one to end posts the held commands again.
class AcquisitionWork {
public:
    explicit AcquisitionWork(HWND window);
    ~AcquisitionWork();
    AcquisitionWork(const AcquisitionWork&) = delete;
    AcquisitionWork& operator=(const AcquisitionWork&) = delete;

private:
    HWND window_;
};
